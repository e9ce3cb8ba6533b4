// The picture loading pipeline and its reference-counted loaded sources.
// Depends on the image loader class (plug-ins), the built-in picture
// readers of the formats subsystem, the scaler and alpha planes.
#include "formats/loaded_source.h"

#include <cstdio>
#include <cstring>

#include "formats/picture_loader.h"
#include "formats/pixel_buffer.h"
#include "graphics/bitmap.h"
#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "runtime/class_lists.h"
#include "runtime/errors.h"
#include "runtime/file_adapter.h"
#include "abi/plugin_abi.h"
#include "runtime/plugin_formats.h"
#include "runtime/plugins.h"
#include "vm/error_codes.h"

namespace {

// Transparent-colour request bit of the image record's flags.
constexpr uint32_t kWantTransparent = 2;
constexpr uint32_t kNaturalSize = 1;
constexpr uint32_t kIsImageAlpha = 2;

vlLoadedSource* NewSource() {
  auto* s = static_cast<vlLoadedSource*>(AllocMemory(sizeof(vlLoadedSource), 1));
  if (s) s->references = 1;
  return s;
}

// Calls an entry point unless the plug-in's calls go through the frame-call
// hook, which answers nothing on this platform.
template <class Fn>
Fn Entry(const vlPluginInfo* info, Fn entry) {
  if (!info || info->callKind == 2 || !entry) return nullptr;
  return entry;
}

bool PluginAsked(const vlPluginInfo* info, const char* loaders, bool requestOnlyTest) {
  if (!info || info->disabled) return false;
  if (!IsLoaderSelected(loaders, info->moduleName, 1)) return false;
  if (requestOnlyTest && info->joinedOnRequest && !IsLoaderNamed(loaders, info->moduleName)) return false;
  return true;
}

// The old SVG loader cannot open names inside the running applet; it is
// given them in the form it knows while the service table opens the real
// name for it.
bool LegacyChunkName(const vlPluginInfo* info, const char* file, char* buffer, size_t size) {
  if (!info->moduleName || strcmp(info->moduleName, "svgimage") != 0 || info->version != 1 ||
      info->revision > 1 || !IsChunkName(file))
    return false;
  uint64_t offset = 0, length = 0;
  char stored[1024] = "", container[4096] = "";
  vlChunkNameParts parts{&offset, &length, stored, sizeof stored, container, sizeof container,
                         nullptr, 0, nullptr};
  if (!ParseChunkName(file, parts)) return false;
  snprintf(buffer, size, ":::chunk%lu:%lu*%s/%s", static_cast<unsigned long>(offset),
           static_cast<unsigned long>(length), GetReadableFileName(file), container);
  return true;
}

}  // namespace

int LoadImageWithLoaders(const char* file, const char* loaders, const char* adapters, uint32_t* paletteOverride,
                         int32_t keyColor, uint32_t** paletteOut, int32_t formatFlags, int32_t alphaMode,
                         int wantTransparent, int32_t width, int32_t height, int smooth, vlLoadedSource** sourceOut,
                         vlBitmap** alphaOut, vlLoadedImageInfo* info) {
  *sourceOut = nullptr;
  if (alphaOut) *alphaOut = nullptr;
  vlLoadedSource* src = NewSource();
  if (!src) return ERR_MEM;
  int32_t transparent = -1, ownWidth = 0, ownHeight = 0, third = 0, hasAlpha = 0, vector = 0;
  bool taken = false;

  BuildLoaderList(loaders, VL_CLASS_IMAGE);
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_IMAGE); node && !taken; node = node->next) {
    vlPluginInfo* plugin = node->plugin;
    if (!PluginAsked(plugin, loaders, true)) continue;
    auto load = Entry<vlLoadImageFn>(plugin, plugin->LoadImage);
    auto get = Entry<vlGetImageFn>(plugin, plugin->GetImage);
    if (!load || !get) continue;
    vlPluginImageRecord record{};
    record.requestWidth = width;
    record.requestHeight = height;
    record.smooth = smooth;
    record.context = adapters ? adapters : "";  // a text for the plug-in, "" when none is named
    if (wantTransparent) record.flags |= kWantTransparent;
    char legacy[8192];
    const bool substitute = LegacyChunkName(plugin, file, legacy, sizeof legacy);
    if (substitute) SetServiceSubstituteFileName(file);
    void* handle = load(substitute ? legacy : file, &record);
    if (substitute) SetServiceSubstituteFileName(nullptr);
    if (!handle) continue;
    taken = true;
    ownWidth = record.width;
    ownHeight = record.height;
    third = record.third;
    hasAlpha = record.hasAlpha != 0;
    vector = record.vector == 1;
    if (vector) {
      const bool natural = (record.flags & kNaturalSize) != 0;
      src->naturalWidth = natural ? record.naturalWidth : width;
      src->naturalHeight = natural ? record.naturalHeight : height;
    }
    if (record.forceAlpha) alphaMode = 1;
    src->loader = plugin;
    src->data = handle;
    src->pixels = get(handle, &record);
  }

  if (!taken) {
    vlLoadedImage* image = nullptr;
    const int rc = LoadImageFile(file, loaders, adapters, paletteOverride, keyColor,
                                 wantTransparent ? 2 : formatFlags, &image, paletteOut, &transparent, &ownWidth,
                                 &ownHeight, &hasAlpha, nullptr);
    if (rc != 0) {
      FreeMemory(src);
      return rc;
    }
    if (transparent == -2) {
      transparent = -1;
      hasAlpha = 1;
      wantTransparent = 0;
      alphaMode = 1;
    }
    src->data = image;
    src->pixels = GetLoadedImagePixels(image);
  }

  // Requested size: negative values are percentages, 0 keeps the own size;
  // one that comes out past the int range is refused.
  auto requested = [](int32_t size, int32_t own) {
    const int64_t w = size < 0 ? own * -int64_t{size} / 100 : size ? size : own;
    return w < 1 ? 1 : w;
  };
  const int64_t wantWidth = requested(width, ownWidth), wantHeight = requested(height, ownHeight);
  if (wantWidth > INT32_MAX || wantHeight > INT32_MAX) {
    ReleaseLoadedSource(src);
    return ERR_WRONGUSAGE;
  }
  const auto w = static_cast<int32_t>(wantWidth), h = static_cast<int32_t>(wantHeight);
  if (w != ownWidth || h != ownHeight) {
    int rc;
    if (vector) {
      const double matrix[4] = {static_cast<double>(w) / ownWidth, 0, 0, static_cast<double>(h) / ownHeight};
      uint32_t* pixels = nullptr;
      rc = TransformLoadedImage(src, matrix, 0, 0, w, h, &pixels, &third);
      if (rc == 0) src->pixels = pixels;
    } else {
      if (!src->pixels) {
        rc = ERR_LOADPICTURE2;
      } else {
        src->scaledPixels = ScaleARGBPixels(src->pixels, ownWidth, ownHeight, w, h, smooth);
        rc = src->scaledPixels ? 0 : ERR_MEM;
      }
    }
    if (rc != 0) {
      ReleaseLoadedSource(src);
      return rc;
    }
  }
  uint32_t* pixels = GetLoadedSourcePixels(src);
  if (!pixels) {
    ReleaseLoadedSource(src);
    SetErrorArgument(file);
    return ERR_LOADPICTURE2;
  }

  vlBitmap* alpha = nullptr;
  if (alphaMode == 1 || alphaMode == 2) {
    if (hasAlpha) {
      alpha = WrapARGBAsAlpha(pixels, w, h, w);
      if (!alpha) {
        ReleaseLoadedSource(src);
        return ERR_MEM;
      }
    } else if (alphaMode == 1) {
      ReleaseLoadedSource(src);
      SetErrorArgument(file);
      return ERR_NOALPHA;
    }
  }
  if (wantTransparent && !alpha && transparent == -1) {
    ReleaseLoadedSource(src);
    SetErrorArgument(file);
    return ERR_NOTRANSPARENCY;
  }

  *sourceOut = src;
  if (alphaOut) *alphaOut = alpha;
  else if (alpha) DeleteAlphaPlane(alpha);
  if (info) {
    info->transparent = transparent;
    info->width = w;
    info->height = h;
    info->third = third;
    info->alpha = hasAlpha;
    info->vector = vector;
    info->loader = src->loader;
  }
  return 0;
}

int IdentifyImageFile(const char* file, const char* loaders, const char* adapters, int32_t* vectorOut,
                      int32_t* widthOut, int32_t* heightOut, int32_t* fourthOut, int32_t* alphaOut) {
  BuildLoaderList(loaders, VL_CLASS_IMAGE);
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_IMAGE); node; node = node->next) {
    vlPluginInfo* plugin = node->plugin;
    if (!PluginAsked(plugin, loaders, false)) continue;
    auto is = Entry<vlIsImageFn>(plugin, plugin->IsImage);
    if (!is) continue;
    vlPluginImageRecord record{};
    record.context = adapters ? adapters : "";  // a text for the plug-in, "" when none is named
    if (!is(file, &record)) continue;
    if (widthOut) *widthOut = record.width;
    if (heightOut) *heightOut = record.height;
    if (fourthOut) *fourthOut = record.hasAlpha;
    if (vectorOut) *vectorOut = record.vector == 1;
    if (alphaOut) *alphaOut = (record.flags & kIsImageAlpha) != 0;
    return 1;
  }
  int32_t width = 0, height = 0, alpha = 0, transparent = -1;
  if (LoadImageFile(file, loaders, adapters, nullptr, -1, 0, nullptr, nullptr, &transparent, &width, &height, &alpha,
                    nullptr) != 0)
    return 0;
  if (widthOut) *widthOut = width;
  if (heightOut) *heightOut = height;
  // What the readers' probe knows besides the size: whether the picture
  // has a transparent colour (IsPicture's "transparency").
  if (fourthOut) *fourthOut = transparent != -1 ? 1 : 0;
  if (vectorOut) *vectorOut = 0;
  if (alphaOut) *alphaOut = alpha;
  return 1;
}

vlLoadedSource* NewOwnedLoadedSource(int32_t width, int32_t height) {
  vlLoadedSource* src = NewSource();
  if (!src) return nullptr;
  src->pixels = AllocPixelBuffer(width, height, 0);
  if (!src->pixels) {
    FreeMemory(src);
    return nullptr;
  }
  src->ownsPixels = 1;
  return src;
}

vlLoadedSource* NewCustomLoadedSource(void* data, vlGetImageFn getImage, vlFreeImageFn freeImage,
                                      vlTransformImageFn transform, uint32_t callKind) {
  vlLoadedSource* src = NewSource();
  if (!src) return nullptr;
  src->data = data;
  src->custom = 1;
  src->customCallKind = callKind;
  src->customGetImage = getImage;
  src->customFree = freeImage;
  src->customTransform = transform;
  return src;
}

void RetainLoadedSource(vlLoadedSource* source) {
  if (source) ++source->references;
}

void ReleaseLoadedSource(vlLoadedSource* src) {
  if (!src || --src->references > 0) return;
  if (src->data) {
    if (src->loader) {
      if (auto release = Entry<vlFreeImageFn>(src->loader, src->loader->FreeImage)) release(src->data);
    } else if (src->custom) {
      if (src->customFree && src->customCallKind != 2) src->customFree(src->data);
    } else {
      FreeLoadedImage(static_cast<vlLoadedImage*>(src->data));
    }
  }
  if (src->ownsPixels) FreeMemory(src->pixels);
  FreeMemory(src->scaledPixels);
  FreeMemory(src);
}

uint32_t* GetLoadedSourcePixels(const vlLoadedSource* source) {
  if (!source) return nullptr;
  return source->scaledPixels ? source->scaledPixels : source->pixels;
}

void GetLoadedSourceSize(const vlLoadedSource* source, int32_t* width, int32_t* height) {
  *width = source ? source->naturalWidth : 0;
  *height = source ? source->naturalHeight : 0;
}

int LoadedSourceOwnsPixels(const vlLoadedSource* source) { return source ? source->ownsPixels : 0; }

int TransformLoadedImage(vlLoadedSource* src, const double* matrix, double x, double y, int32_t width,
                         int32_t height, uint32_t** pixelsOut, int32_t* thirdOut) {
  vlGetImageFn get = nullptr;
  vlTransformImageFn transform = nullptr;
  if (src->loader) {
    get = Entry<vlGetImageFn>(src->loader, src->loader->GetImage);
    transform = Entry<vlTransformImageFn>(src->loader, src->loader->TransformImage);
  } else if (src->custom && src->customCallKind != 2) {
    get = src->customGetImage;
    transform = src->customTransform;
  }
  if (!get || !transform) return ERR_TFIMAGE;
  const double record[6] = {matrix[0], matrix[1], matrix[2], matrix[3], x, y};
  if (!transform(src->data, record, width, height)) return ERR_TFIMAGE;
  vlPluginImageRecord image{};
  uint32_t* pixels = get(src->data, &image);
  if (!pixels) return ERR_TFIMAGE;
  *pixelsOut = pixels;
  if (thirdOut) *thirdOut = image.third;
  return 0;
}

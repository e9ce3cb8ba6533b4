// Anim source dispatch: plug-ins of the anim class first (in class order,
// as the loader list selects them), then the built-in readers by the first
// twelve bytes, then the platform decoder slot.
#include "formats/anim_source.h"

#include <cstdio>
#include <cstring>

#include "formats/avi.h"
#include "formats/gif.h"
#include "formats/iff_anim.h"
#include "platform/native_image.h"
#include "runtime/os.h"
#include "runtime/class_lists.h"
#include "runtime/errors.h"
#include "runtime/file_adapter.h"
#include "abi/plugin_abi.h"
#include "runtime/plugin_formats.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

// Read, file adapters allowed.
constexpr uint32_t kAnimOpenMode = VL_MODE_READ | VL_MODE_ADAPTERS;
// "Animation file "%s" is in an unknown/unsupported format!"
constexpr int kErrUnknownAnim = 1356;

template <class Fn>
Fn Entry(const vlPluginInfo* info, Fn entry) {
  if (!info || info->callKind == 2 || !entry) return nullptr;
  return entry;
}

bool TryPlugins(const char* file, const char* loaders, const char* adapter, int32_t loadTransparency,
                vlAnimSource* src, int32_t* width, int32_t* height, int32_t* frames, int32_t* hasAlpha) {
  BuildLoaderList(loaders, VL_CLASS_ANIM);
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_ANIM); node; node = node->next) {
    vlPluginInfo* plugin = node->plugin;
    if (!plugin || plugin->disabled || !IsLoaderSelected(loaders, plugin->moduleName, 1)) continue;
    if (plugin->joinedOnRequest && !IsLoaderNamed(loaders, plugin->moduleName)) continue;
    auto open = Entry<vlOpenAnimFn>(plugin, plugin->OpenAnim);
    if (!open) continue;
    vlPluginAnimOpenRecord record{};
    record.adapter = adapter ? adapter : "";  // a text for the plug-in, "" when none is named
    record.flags = loadTransparency ? 1 : 0;
    void* handle = open(file, &record);
    if (!handle) continue;
    src->handle = handle;
    src->kind = VL_ANIMSOURCE_PLUGIN;
    src->plugin = plugin;
    *width = record.width;
    *height = record.height;
    *frames = record.frameCount;
    *hasAlpha = record.hasAlpha;
    return true;
  }
  return false;
}

}  // namespace

int OpenAnimSource(const char* file, const char* loaders, const char* adapter, int32_t deinterlace,
                   int32_t loadTransparency, vlAnimSource** sourceOut, int32_t* width, int32_t* height,
                   int32_t* frameCount, int32_t* hasAlpha, uintptr_t* loaderRef) {
  *sourceOut = nullptr;
  *hasAlpha = 0;
  vlAnimSource probe{};
  if (TryPlugins(file, loaders, adapter, loadTransparency, &probe, width, height, frameCount, hasAlpha)) {
    auto* src = static_cast<vlAnimSource*>(AllocMemory(sizeof(vlAnimSource), 1));
    if (!src) {
      if (auto close = Entry<vlCloseAnimFn>(probe.plugin, probe.plugin->CloseAnim)) close(probe.handle);
      return ERR_MEM;
    }
    *src = probe;
    if (loaderRef) *loaderRef = reinterpret_cast<uintptr_t>(probe.plugin);
    *sourceOut = src;
    return 0;
  }

  uint32_t kind = 0;
  vlStream* stream = nullptr;
  if (IsLoaderSelected(loaders, "inbuilt", 0)) {
    stream = OpenFileStream(file, kAnimOpenMode, adapter);
    if (!stream) {
      SetErrorArgument(file);
      return ERR_READFILE;
    }
    if (IsFileStreamUnseekable(stream)) {
      CloseFileStream(stream);
      return ERR_SEEKFILE;
    }
    uint8_t head[12];
    if (ReadFileStream(stream, head, 12) != 12) {
      CloseFileStream(stream);
      return ERR_READ;
    }
    if (memcmp(head, "FORM", 4) == 0 && memcmp(head + 8, "ANIM", 4) == 0) kind = VL_ANIMSOURCE_IFF;
    else if (memcmp(head, "GIF87", 5) == 0 || memcmp(head, "GIF89", 5) == 0) kind = VL_ANIMSOURCE_GIF;
    else if (memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "AVI ", 4) == 0) kind = VL_ANIMSOURCE_AVI;
    if (kind) {
      SeekFileStream(stream, 0, VL_SEEK_BEGIN);
    } else {
      CloseFileStream(stream);
      stream = nullptr;
    }
  }
  auto* src = static_cast<vlAnimSource*>(AllocMemory(sizeof(vlAnimSource), 1));
  if (!src) {
    if (stream) CloseFileStream(stream);
    return ERR_MEM;
  }
  src->kind = kind;
  switch (kind) {
    case VL_ANIMSOURCE_IFF:
      src->handle = OpenANIMReader(stream, deinterlace, width, height, frameCount, loadTransparency);
      break;
    case VL_ANIMSOURCE_GIF:
      src->handle = OpenGIFReader(stream, width, height, frameCount, 0, 0, loadTransparency);
      break;
    case VL_ANIMSOURCE_AVI:
      src->handle = OpenAVIReader(stream, width, height, frameCount);
      break;
  }
  if (!src->handle && IsLoaderSelected(loaders, "native", 0)) {
    src->handle = OpenNativeAnim(file, adapter, width, height, frameCount);
    if (src->handle) src->kind = VL_ANIMSOURCE_NATIVE;
  }
  if (!src->handle) {
    FreeMemory(src);
    SetErrorArgument(file);
    return kErrUnknownAnim;
  }
  if (loaderRef) *loaderRef = src->kind == VL_ANIMSOURCE_NATIVE ? 1 : 0;
  *sourceOut = src;
  return 0;
}

void AnimLoaderName(uintptr_t loaderRef, char* out, size_t size) {
  if (!size) return;
  const char* name = loaderRef == 0 ? "inbuilt" : loaderRef == 1 ? "native" : nullptr;
  if (!name) {
    const auto* plugin = reinterpret_cast<const vlPluginInfo*>(loaderRef);
    name = plugin->moduleName ? plugin->moduleName : "";
  }
  snprintf(out, size, "%s", name);
}

uint32_t* LoadAnimSourceFrame(vlAnimSource* src, int32_t index, int32_t loadAlpha, int32_t* hasTransparency) {
  int32_t flag = 0;
  uint32_t* pixels = nullptr;
  switch (src->kind) {
    case VL_ANIMSOURCE_IFF:
      pixels = DecodeANIMFrame(static_cast<vlANIMReader*>(src->handle), index, &flag);
      break;
    case VL_ANIMSOURCE_GIF:
      pixels = ReadGIFFrame(static_cast<vlGIFReader*>(src->handle), index, &flag);
      break;
    case VL_ANIMSOURCE_AVI:
      pixels = ReadAVIFrame(static_cast<vlAVIReader*>(src->handle), index);
      break;
    case VL_ANIMSOURCE_NATIVE:
      pixels = LoadNativeAnimFrame(src->handle, index);
      break;
    case VL_ANIMSOURCE_PLUGIN:
      if (auto load = Entry<vlLoadFrameFn>(src->plugin, src->plugin->LoadFrame)) {
        vlPluginAnimFrameRecord record{};
        record.loadAlpha = loadAlpha;
        record.flags = src->flag & 1;
        pixels = load(src->handle, index, &record, 0);
        flag = record.hasTransparency;
      }
      break;
  }
  if (hasTransparency) *hasTransparency = flag != 0;
  return pixels;
}

void FreeAnimSourceFrame(vlAnimSource* src, uint32_t* pixels) {
  if (!pixels) return;
  if (src->kind == VL_ANIMSOURCE_PLUGIN) {
    if (auto release = Entry<vlFreeFrameFn>(src->plugin, src->plugin->FreeFrame)) release(pixels);
    return;
  }
  FreeMemory(pixels);
}

int32_t GetAnimSourceFrameDelay(vlAnimSource* src, int32_t index) {
  switch (src->kind) {
    case VL_ANIMSOURCE_IFF: return GetANIMFrameDelay(static_cast<vlANIMReader*>(src->handle), index);
    case VL_ANIMSOURCE_GIF: return GetGIFFrameDelay(static_cast<vlGIFReader*>(src->handle), index);
    case VL_ANIMSOURCE_PLUGIN:
      if (auto delay = Entry<vlGetFrameDelayFn>(src->plugin, src->plugin->GetFrameDelay))
        return delay(src->handle, index);
      return 0;
    default: return 0;
  }
}

void CloseAnimSource(vlAnimSource* src) {
  if (!src) return;
  switch (src->kind) {
    case VL_ANIMSOURCE_IFF: CloseANIMReader(static_cast<vlANIMReader*>(src->handle)); break;
    case VL_ANIMSOURCE_GIF: CloseGIFReader(static_cast<vlGIFReader*>(src->handle)); break;
    case VL_ANIMSOURCE_AVI: CloseAVIReader(static_cast<vlAVIReader*>(src->handle)); break;
    case VL_ANIMSOURCE_NATIVE: CloseNativeAnim(src->handle); break;
    case VL_ANIMSOURCE_PLUGIN:
      if (auto close = Entry<vlCloseAnimFn>(src->plugin, src->plugin->CloseAnim)) close(src->handle);
      break;
  }
  FreeMemory(src);
}

int IsIFFAnimSource(const vlAnimSource* src) { return src && src->kind == VL_ANIMSOURCE_IFF; }

int IsAnimFile(const char* file, const char* loaders, const char* adapter) {
  vlAnimSource* src = nullptr;
  int32_t w = 0, h = 0, frames = 0, alpha = 0;
  if (OpenAnimSource(file, loaders, adapter, DEINTERLACE_DEFAULT, 0, &src, &w, &h, &frames, &alpha, nullptr) != 0)
    return 0;
  const bool singleGif = src->kind == VL_ANIMSOURCE_GIF && frames == 1;
  CloseAnimSource(src);
  return singleGif ? 0 : 1;
}

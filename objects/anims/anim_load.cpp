// Making anims and sprites: the loader behind LoadAnim, PlayAnimDisk and
// LoadSprite, and the creation routine that cuts frames from a brush or a
// single picture, copies them from anims and sprites or decodes them from
// an anim source.
#include <cstdlib>
#include <memory>
#include <cstring>

#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "formats/image_cache.h"
#include "graphics/picture_engines.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "runtime/os.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "formats/loaded_source.h"
#include "runtime/messages.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlTextObjectPictureFn vlTextObjectPictureLookup = nullptr;

namespace {

constexpr int kMsgLoadingAnim = 102;
constexpr int kMsgLoadingSprite = 103;

struct Frames {
  int32_t count = 0;
  vlBitmap** bitmaps = nullptr;
  vlBitmap** masks = nullptr;
  vlBitmap** alphas = nullptr;
  uint32_t** pixels = nullptr;

  bool Allocate(int32_t n) {
    count = n;
    bitmaps = static_cast<vlBitmap**>(std::calloc(n, sizeof(vlBitmap*)));
    masks = static_cast<vlBitmap**>(std::calloc(n, sizeof(vlBitmap*)));
    alphas = static_cast<vlBitmap**>(std::calloc(n, sizeof(vlBitmap*)));
    pixels = static_cast<uint32_t**>(std::calloc(n, sizeof(uint32_t*)));
    return bitmaps && masks && alphas && pixels;
  }
  void Release() {
    for (int32_t i = 0; bitmaps && i < count; ++i) FreeFrameTriple(bitmaps[i], masks[i], alphas[i]);
    for (int32_t i = 0; pixels && i < count; ++i) FreeMemory(pixels[i]);
    Forget();
  }
  void Forget() {
    std::free(bitmaps), std::free(masks), std::free(alphas), std::free(pixels);
    *this = Frames{};
  }
};

// Sprites named in the script from argument `first` on, made into a
// null-terminated component list.
int CollectSprites(vlVMState* L, int first, vlSprite*** out, int32_t* width, int32_t* height, int32_t* total) {
  const int top = vl::GetStackTop(L);
  if (top < first) return ERR_WRONGUSAGE;
  const int n = top - first + 1;
  // Held until it is handed out: reading an argument that is no id stops
  // the script from inside the loop.
  std::unique_ptr<vlSprite*, decltype(&std::free)> list(
      static_cast<vlSprite**>(std::calloc(n + 1, sizeof(vlSprite*))), &std::free);
  if (!list) return ERR_MEM;
  *total = 0;
  for (int i = 0; i < n; ++i) {
    vlObjectId id;
    GetObjectIDArg(&id, L, first + i);
    vlSprite* s = nullptr;
    int status = GetSpriteByID(L, id, &s, 0);
    if (!status && s->components) status = kErrSpriteLink;
    if (!status && i > 0 && (s->width != *width || s->height != *height)) status = kErrSpriteSizes;
    if (status) return status;
    *width = s->width, *height = s->height;
    *total += s->frameCount;
    list.get()[i] = s;
  }
  *out = list.release();
  return 0;
}

// Cuts the request's grid (or the whole picture) out of the bitmap triple.
int CutFrames(const vlAnimRequest& r, Frames* f, int32_t* fw, int32_t* fh) {
  int32_t count = 1, perRow = 1, w = r.sourceWidth, h = r.sourceHeight, sx = 0, sy = 0;
  if (r.argCount >= 4) {
    if (r.argCount < 7 || r.frameWidth < 1 || r.frameHeight < 1 || r.frameCount < 1) return ERR_WRONGUSAGE;
    w = r.frameWidth, h = r.frameHeight, count = r.frameCount, sx = r.startX, sy = r.startY;
    perRow = r.framesPerRow < 1 ? count : r.framesPerRow;
    if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
    const int64_t rows = count / perRow + (count % perRow ? 1 : 0);
    if (int64_t{w} * perRow + sx > r.sourceWidth || rows * h + sy > r.sourceHeight) return kErrSizeMismatch;
  }
  if (!f->Allocate(count)) {
    f->Forget();
    return ERR_MEM;
  }
  // A picture loaded while preloading has not become a bitmap: its ARGB
  // pixels are cut instead.
  const uint32_t* argb = r.bitmap || !r.loaded ? nullptr : GetLoadedSourcePixels(r.loaded);
  for (int32_t n = 0; n < count; ++n) {
    const int32_t x = sx + (n % perRow) * w, y = sy + (n / perRow) * h;
    int status = CopyBitmapRegion(r.bitmap, r.mask, r.alpha, x, y, w, h, 0, 0, 0, &f->bitmaps[n],
                                  r.mask ? &f->masks[n] : nullptr, r.alpha ? &f->alphas[n] : nullptr);
    if (!status && argb) {
      f->pixels[n] = static_cast<uint32_t*>(AllocMemory(sizeof(uint32_t) * w * h, 0));
      if (!f->pixels[n]) status = ERR_MEM;
      for (int32_t row = 0; !status && row < h; ++row)
        std::memcpy(f->pixels[n] + static_cast<size_t>(row) * w,
                    argb + static_cast<size_t>(y + row) * r.sourceRowLength + x, sizeof(uint32_t) * w);
    }
    if (status) {
      f->Release();
      return status;
    }
  }
  *fw = w, *fh = h;
  return 0;
}

// One frame of the request's anim source as pixels of our own (the
// source can then be closed) and its alpha plane.
int DecodeFramePixels(const vlAnimRequest& r, int32_t index, uint32_t** pixels, vlBitmap** alpha) {
  uint32_t* decoded = nullptr;
  if (int status = LoadSourceFramePixels(r.source, index, r.loadAlpha, r.loadTransparency, r.fileName,
                                         r.sourceWidth, r.sourceHeight, &decoded, alpha))
    return status;
  const size_t bytes = sizeof(uint32_t) * r.sourceWidth * r.sourceHeight;
  *pixels = static_cast<uint32_t*>(AllocMemory(bytes, 0));
  if (*pixels) std::memcpy(*pixels, decoded, bytes);
  FreeAnimSourceFrame(r.source, decoded);
  if (*pixels) return 0;
  if (*alpha) DeleteAlphaPlane(*alpha);
  *alpha = nullptr;
  return ERR_MEM;
}

}  // namespace

int CreateAnimObject(vlVMState* L, vlAnimRequest* r) {
  Frames f;
  int32_t width = 0, height = 0;
  vlSprite** components = nullptr;
  int32_t* delays = nullptr;
  if (r->sourceKind == VL_KIND_SPRITE) {
    if (int status = CollectSprites(L, r->firstSpriteArg, &components, &width, &height, &f.count)) return status;
  } else if (r->sourceKind == VL_KIND_ANIM && r->sourceId) {
    if (r->argCount > 3) return ERR_TOOMANYARGS;
    vlAnim* src = nullptr;
    if (int status = GetAnimByID(L, *r->sourceId, &src, 0)) return status;
    if (src->disk) return ERR_ANIMDISK;
    if (!f.Allocate(src->frameCount)) {
      f.Forget();
      return ERR_MEM;
    }
    for (int32_t i = 0; i < src->frameCount; ++i)
      if (int status = GetAnimFrameBitmaps(src, i, 1, 0, &f.bitmaps[i], &f.masks[i], &f.alphas[i])) {
        f.Release();
        return status;
      }
    width = src->width, height = src->height;
  } else if (r->sourceKind == VL_KIND_TEXTOBJECT && r->sourceId) {
    if (r->argCount > 3) return ERR_TOOMANYARGS;
    vlTextObjectPicture t{};
    if (!vlTextObjectPictureLookup) return ERR_WRONGUSAGE;
    if (int status = vlTextObjectPictureLookup(L, *r->sourceId, &t)) return status;
    if (!t.bitmap) return ERR_WRONGUSAGE;
    if (!f.Allocate(1)) {
      f.Forget();
      return ERR_MEM;
    }
    // The object keeps its picture: the frame is a copy of it.
    if (int status = CopyBitmapRegion(t.bitmap, t.mask, t.alpha, 0, 0, t.width, t.height, 0, 0, 0, &f.bitmaps[0],
                                      t.mask ? &f.masks[0] : nullptr, t.alpha ? &f.alphas[0] : nullptr)) {
      f.Release();
      return status;
    }
    width = t.width, height = t.height;
  } else if (r->sourceKind == VL_KIND_BRUSH) {
    if (r->sourceId) {
      vlBrush* b = nullptr;
      if (int status = GetBrushByID(L, *r->sourceId, &b, 0)) return status;
      if (!b->bitmap) return ERR_BRUSHTYPE;
      r->bitmap = b->bitmap, r->mask = b->mask, r->alpha = b->alpha;
      r->sourceWidth = b->width, r->sourceHeight = b->height;
      if (r->transparentColor == -1 && b->mask) r->transparentColor = b->transparentColor;
    }
    if (int status = CutFrames(*r, &f, &width, &height)) return status;
  } else if (r->sourceKind == VL_KIND_ANIM && r->source) {
    width = r->sourceWidth, height = r->sourceHeight;
    if (!r->disk) {
      if (!f.Allocate(r->frameCount)) {
        f.Forget();
        return ERR_MEM;
      }
      for (int32_t i = 0; i < r->frameCount; ++i) {
        int status = r->preloading ? DecodeFramePixels(*r, i, &f.pixels[i], &f.alphas[i])
                                   : DecodeSourceFrame(r->source, i, r->transparentColor, r->loadAlpha,
                                                       r->loadTransparency, r->fileName, width, height,
                                                       &f.bitmaps[i], &f.masks[i], &f.alphas[i]);
        if (status) {
          f.Release();
          return status;
        }
      }
    } else {
      f.count = r->frameCount;
    }
  } else {
    return ERR_WRONGUSAGE;
  }

  if (r->targetKind == VL_KIND_SPRITE) {
    vlSprite* s = nullptr;
    int status = AddSprite(r->newId, width, height, nullptr, components ? nullptr : f.pixels,
                           components ? nullptr : f.bitmaps, components ? nullptr : f.masks,
                           components ? nullptr : f.alphas, f.count, r->transparentColor, components, &s);
    if (status) {
      std::free(components);
      f.Release();
      return status;
    }
    r->result = s;
    return 0;
  }
  delays = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * f.count));
  char* name = r->disk ? strdup(r->fileName ? r->fileName : "") : nullptr;
  if (!delays || (r->disk && !name)) {
    std::free(delays), std::free(name);
    f.Release();
    return ERR_MEM;
  }
  for (int32_t i = 0; i < f.count; ++i) delays[i] = -1;
  if (r->source && !r->disk)
    for (int32_t i = 0; i < f.count; ++i) delays[i] = GetAnimSourceFrameDelay(r->source, i);
  vlAnim* a = nullptr;
  const bool disk = r->disk;
  int status = AddAnim(r->newId, width, height, disk ? nullptr : f.pixels, disk ? nullptr : f.bitmaps,
                       disk ? nullptr : f.masks, disk ? nullptr : f.alphas, f.count, r->transparentColor,
                       r->loadAlpha, disk, static_cast<uint32_t>(r->deinterlace), &a);
  if (status) {
    std::free(delays), std::free(name);
    if (!disk) f.Release();
    return status;
  }
  if (disk) {
    f.Forget();
    a->source = r->source;
    r->source = nullptr;  // the anim owns it now
    a->fileName = name;
    std::memcpy(a->adapter, r->adapter, sizeof a->adapter);
    a->loadTransparency = r->loadTransparency;
  }
  // Whatever read the frames (a plug-in, or the player's own readers).
  a->loader = r->loaderRef;
  a->delays = delays;
  r->result = a;
  return 0;
}

int LoadAnimObjectInto(vlVMState* L, uint32_t kind, void** out) {
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  int automatic = 1;
  const char* file;
  int32_t transparent = -1, x = 0, y = 0, w = 0, h = 0, fpr = 0, frames = 0, deinterlace = 0;
  int loadAlpha = 0, loadTransparency = 0, fromDisk = 0, skipLoop = 0, framesGiven = 0;
  char loaders[256] = "", adapter[256] = "";
  // Pictures shared by several declarations: the first stores its picture
  // under "cache" while preloading, the later ones take it by "cachedload".
  char cacheName[1024] = "", cachedName[1024] = "";
  int cacheAlpha = 0;
  if (kind == VL_KIND_ANIMDISK) {
    file = GetFileNameArg(L, 1, 0, nullptr);
    transparent = vl::OptIntArg(L, 6, -1);
    fromDisk = 1;
  } else {
    automatic = GetObjectIDArgOpt(&id, L, 1);
    file = GetFileNameArg(L, 2, 0, nullptr);
    if (vl::GetTypeAt(L, 3) == VL_TTABLE) {
      GetTableInt(L, 3, "transparency", &transparent, nullptr);
      GetTableBool(L, 3, "loadalpha", &loadAlpha, nullptr);
      GetTableBool(L, 3, "loadtransparency", &loadTransparency, nullptr);
      GetTableInt(L, 3, "x", &x, nullptr);
      GetTableInt(L, 3, "y", &y, nullptr);
      GetTableInt(L, 3, "width", &w, nullptr);
      GetTableInt(L, 3, "height", &h, nullptr);
      GetTableInt(L, 3, "fpr", &fpr, nullptr);
      GetTableInt(L, 3, "frames", &frames, &framesGiven);
      // A count of 0 asks for no grid: declarations without one pass it.
      if (frames == 0) framesGiven = 0;
      if (kind == VL_KIND_ANIM) {
        GetTableBool(L, 3, "fromdisk", &fromDisk, nullptr);
        GetTableBool(L, 3, "skiploopframes", &skipLoop, nullptr);
        GetTableInt(L, 3, "deinterlace", &deinterlace, nullptr);
      }
      GetTableString(L, 3, "loader", loaders, sizeof loaders, nullptr);
      GetTableString(L, 3, "cache", cacheName, sizeof cacheName, nullptr);
      GetTableString(L, 3, "cachedload", cachedName, sizeof cachedName, nullptr);
      GetTableBool(L, 3, "cachealpha", &cacheAlpha, nullptr);
      GetTableString(L, 3, "adapter", adapter, sizeof adapter, nullptr);
    } else if (vl::GetTypeAt(L, 3) != VL_TNIL && vl::GetTypeAt(L, 3) != -1) {
      transparent = vl::CheckIntArg(L, 3);
    }
  }
  if (loadAlpha) cacheAlpha = 0;
  if (loadTransparency && transparent != -1) return ERR_WRONGUSAGE;
  if (loadAlpha && loadTransparency) return ERR_WRONGUSAGE;
  if (loadAlpha && transparent != -1) return ERR_MASKNALPHA;
  if (framesGiven && fromDisk) return ERR_WRONGUSAGE;
  // A count of frames is cut from a grid of frames: below 1, or more than
  // one with no frame size to cut them by, is refused rather than read as
  // the whole picture.
  if (framesGiven && (frames < 0 || (frames > 1 && !(w > 0 && h > 0)))) return ERR_WRONGUSAGE;
  if (!automatic) {
    int status = kind == VL_KIND_SPRITE ? FreeSpriteByID(L, id) : FreeAnimByID(L, id, 0);
    if (status && !(kind == VL_KIND_SPRITE && (status == ERR_FINDSPRITE))) return status;
  }
  uint32_t quiet = 1, preloading = 0;
  if (kind != VL_KIND_ANIMDISK) {
    GetRuntimeOption(L, VL_OPT_QUIET, &quiet, VL_OPT_RENDER_STATE, &preloading, 0u);
    if (!quiet) PrintProgressMessage(GetMessage(kind == VL_KIND_SPRITE ? kMsgLoadingSprite : kMsgLoadingAnim), file, 1);
  }

  vlAnimRequest r{};
  r.newId = &id;
  r.targetKind = kind == VL_KIND_ANIMDISK ? VL_KIND_ANIM : kind;
  r.transparentColor = transparent;
  r.loadAlpha = loadAlpha;
  r.loadTransparency = loadTransparency;
  r.deinterlace = deinterlace;
  r.fileName = file;
  r.preloading = preloading;
  std::memcpy(r.loaders, loaders, sizeof loaders);
  std::memcpy(r.adapter, adapter, sizeof adapter);
  vlLoadedSource* loaded = nullptr;
  vlLoadedImageInfo info{};
  vlBitmap* loadedAlpha = nullptr;
  bool fromCache = false;
  if (preloading && cachedName[0]) {
    uint32_t word1 = 0, word2 = 0;
    fromCache = FindImageCacheEntry(cachedName, loadAlpha, &info.width, &info.height, &word1, &loaded,
                                    loadAlpha ? &loadedAlpha : nullptr, &word2) == 0;
    info.transparent = static_cast<int32_t>(word1);
  }
  int status = kErrAnimFormat;
  if (!framesGiven && !fromCache) {
    int32_t count = 0, hasAlpha = 0;
    status = OpenAnimSource(file, loaders, adapter, deinterlace, loadTransparency, &r.source, &r.sourceWidth,
                            &r.sourceHeight, &count, &hasAlpha, &r.loaderRef);
    if (status && status != kErrAnimFormat) return status;
    if (!status) {
      if (skipLoop && IsIFFAnimSource(r.source)) {
        if (count < 3) {
          CloseAnimSource(r.source);
          return ERR_WRONGUSAGE;
        }
        count -= 2;
      }
      if (loadAlpha && !hasAlpha) {
        CloseAnimSource(r.source);
        SetErrorArgument(file);
        return ERR_NOALPHA;
      }
      r.frameCount = count;
      r.sourceKind = VL_KIND_ANIM;
      r.disk = fromDisk;
      r.sourceRowLength = r.sourceWidth;
    }
  }
  if (status) {
    // One picture, as a whole or cut into a grid.
    const bool storeAlpha = preloading && cacheName[0] && cacheAlpha;
    status = 0;
    if (!fromCache) {
      // A file's transparency that comes as alpha ("loadtransparency" of a
      // GIF) is the plane the pipeline hands out.
      status = LoadImageWithLoaders(file, loaders, adapter, nullptr, transparent, nullptr, 0,
                                    loadAlpha ? 1 : storeAlpha ? 2 : 0, loadTransparency, 0, 0, 0, &loaded,
                                    loadAlpha || loadTransparency || storeAlpha ? &loadedAlpha : nullptr, &info);
      if (status == ERR_LOADPICTURE2) {
        SetErrorArgument(file);
        return kErrAnimFormat;
      }
      if (status) return status;
      r.loaderRef = reinterpret_cast<uintptr_t>(info.loader);
    }
    if (info.transparent != -1) transparent = r.transparentColor = info.transparent;
    if (preloading) {
      // No screen format yet: the frames are cut from the ARGB pixels.
      if (cacheName[0] && !fromCache)
        status = AddImageCacheEntry(cacheName, info.width, info.height, static_cast<uint32_t>(info.transparent),
                                    loaded, loadedAlpha, 0);
      if (storeAlpha && !loadTransparency && loadedAlpha) {  // asked for by a later declaration only
        DeleteAlphaPlane(loadedAlpha);
        loadedAlpha = nullptr;
      }
      r.loaded = loaded;
      r.alpha = loadedAlpha;
      if (status) {
        FreeFrameTriple(nullptr, nullptr, r.alpha);
        ReleaseLoadedSource(loaded);
        return status;
      }
    } else {
      uint32_t* pixels = GetLoadedSourcePixels(loaded);
      status = BitmapFromARGB(pixels, transparent, info.width, info.height, info.width, 0, 0, 0, &r.bitmap,
                              transparent != -1 ? &r.mask : nullptr, nullptr);
      if (!status && loadedAlpha) {
        r.alpha = CopyAlphaPlane(loadedAlpha, info.width, info.height);
        if (!r.alpha) status = ERR_ALLOCALPHA;
      }
      if (loadedAlpha) DeleteAlphaPlane(loadedAlpha);
      ReleaseLoadedSource(loaded);
      if (status) {
        FreeFrameTriple(r.bitmap, r.mask, r.alpha);
        return status;
      }
      if (r.alpha && r.mask) {
        DeleteMaskPlane(r.mask);
        r.mask = nullptr;
      }
    }
    r.sourceKind = VL_KIND_BRUSH;
    r.sourceWidth = r.sourceRowLength = info.width;
    r.sourceHeight = info.height;
    r.disk = 0;
    if (w > 0 && h > 0) {
      r.argCount = 7;
      r.frameWidth = w, r.frameHeight = h, r.startX = x, r.startY = y;
      r.framesPerRow = fpr;
      r.frameCount = framesGiven ? frames : 1;
    } else {
      r.argCount = 3;
    }
  } else {
    r.argCount = 3;
  }
  status = CreateAnimObject(L, &r);
  FreeFrameTriple(r.bitmap, r.mask, r.alpha);
  if (r.loaded) ReleaseLoadedSource(r.loaded);
  if (r.source) CloseAnimSource(r.source);  // kept only by disk anims
  if (status) return status;
  if (!quiet) PrintDone();
  if (out) *out = r.result;
  if (kind == VL_KIND_ANIMDISK || !automatic) return 0;
  vl::PushPointer(L, r.result);
  return 1;
}

int LoadAnimObject(vlVMState* L, uint32_t kind) { return LoadAnimObjectInto(L, kind, nullptr); }

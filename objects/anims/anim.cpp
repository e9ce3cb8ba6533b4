// The anim list: adding, finding, copying and freeing anims, orphans kept
// for layers, frame access and frame-count changes.
#include "objects/anims/anim.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/layers.h"
#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "objects/anims/anim_layer.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/error_codes.h"

vlAnim* vlAnimList = nullptr;

namespace {

// Making and finding an anim must not walk every anim there is.
vlObjectIndex gAnimIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&vlAnimList); }
vlObjectNode* AsNode(vlAnim* a) { return reinterpret_cast<vlObjectNode*>(a); }

void Unlink(vlAnim* a) { gAnimIndex.Unlink(ListHead(), AsNode(a)); }

// The anims named id, in list order.
const std::vector<vlObjectNode*>& Named(vlObjectId id) {
  static const std::vector<vlObjectNode*> kNone;
  const std::vector<vlObjectNode*>* named = gAnimIndex.Find(id);
  return named ? *named : kNone;
}

bool SameId(const vlAnim* a, vlObjectId id) {
  return id.handle ? a->idHandle == id.handle : (!a->idHandle && a->idNumber == id.number);
}

template <class Fn>
void ForEachAnimLayer(const vlAnim* anim, Fn fn) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (vlNode* node = pic->layers.head; node && node->succ;) {
      vlNode* next = node->succ;
      auto* layer = reinterpret_cast<vlLayer*>(node);
      if (layer->type == VL_LAYER_ANIM && SameId(anim, layer->source)) fn(pic, layer);
      node = next;
    }
}

// Frame arrays of count entries, zeroed; false when out of memory.
bool NewFrameArrays(int32_t count, vlBitmap*** b, vlBitmap*** m, vlBitmap*** a, uint32_t*** p) {
  *b = static_cast<vlBitmap**>(std::calloc(count, sizeof(vlBitmap*)));
  *m = static_cast<vlBitmap**>(std::calloc(count, sizeof(vlBitmap*)));
  *a = static_cast<vlBitmap**>(std::calloc(count, sizeof(vlBitmap*)));
  *p = static_cast<uint32_t**>(std::calloc(count, sizeof(uint32_t*)));
  if (*b && *m && *a && *p) return true;
  std::free(*b), std::free(*m), std::free(*a), std::free(*p);
  return false;
}

}  // namespace

void FreeFrameTriple(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha) {
  if (bitmap) DeleteBitmap(bitmap);
  if (mask) DeleteMaskPlane(mask);
  if (alpha) DeleteAlphaPlane(alpha);
}

bool IsActiveAnim(const vlAnim* anim) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !vlCurrentOutput) return false;
  if (d->outputType != VL_OUTPUT_ANIM && d->outputType != VL_OUTPUT_BRUSH && d->outputType != VL_OUTPUT_MASK &&
      d->outputType != VL_OUTPUT_ALPHA)
    return false;
  return vlCurrentOutput->kind == VL_OBJ_ANIM && vlCurrentOutput->selectObject == anim;
}

int AnimShownByLayer(const vlAnim* anim) {
  int shown = 0;
  ForEachAnimLayer(anim, [&](vlBGPic*, vlLayer*) { shown = 1; });
  return shown;
}

int AddAnim(vlObjectId* id, int32_t width, int32_t height, uint32_t** pixels, vlBitmap** bitmaps, vlBitmap** masks,
            vlBitmap** alphas, int32_t frameCount, int32_t transparentColor, uint32_t loadAlpha, uint32_t disk,
            uint32_t deinterlace, vlAnim** out) {
  auto* a = new (std::nothrow) vlAnim{};
  if (!a) return ERR_MEM;
  a->type = VL_OBJ_ANIM;
  if (id->handle) id->handle = a;
  a->idNumber = id->handle ? 0 : id->number;
  a->idHandle = id->handle;
  a->width = a->storedWidth = width;
  a->height = a->storedHeight = height;
  a->frameCount = frameCount;
  a->pixels = pixels;
  a->bitmaps = bitmaps;
  a->masks = masks;
  a->alphas = alphas;
  a->transparentColor = transparentColor;
  a->loadAlpha = loadAlpha;
  a->disk = disk;
  a->deinterlace = deinterlace;
  if (gAnimIndex.Append(ListHead(), AsNode(a))) {
    delete a;
    return ERR_MEM;
  }
  if (out) *out = a;
  return 0;
}

void FreeAnimRecord(vlVMState* L, vlAnim* a) {
  ForgetAnimLayerFrame(a);
  for (int32_t i = 0; i < a->frameCount; ++i) {
    if (a->bitmaps) FreeFrameTriple(a->bitmaps[i], a->masks ? a->masks[i] : nullptr, a->alphas ? a->alphas[i] : nullptr);
    if (a->pixels && a->pixels[i]) {
      if (a->source)
        FreeAnimSourceFrame(a->source, a->pixels[i]);
      else
        FreeMemory(a->pixels[i]);
    }
  }
  std::free(a->bitmaps);
  std::free(a->masks);
  std::free(a->alphas);
  std::free(a->pixels);
  std::free(a->delays);
  std::free(a->fileName);
  if (a->source) CloseAnimSource(a->source);
  if (a->data) FreeObjectDataList(L, &a->data);
  delete a;
}

void ForgetAnimIndex() { gAnimIndex.Clear(); }

int GetAnimByID(vlVMState* L, vlObjectId id, vlAnim** out, uint32_t flags) {
  for (vlObjectNode* node : Named(id)) {
    auto* a = reinterpret_cast<vlAnim*>(node);
    if (a->orphaned && !(flags & VL_ANIM_FINDORPHANS)) continue;
    if ((flags & VL_ANIM_FINDUNLOCKED) && a->locked) return ERR_LOCKEDOBJ;
    if ((flags & 5) == VL_ANIM_FINDUNLOCKED) {
      // The script changes the anim: layers showing it keep the old frames.
      int status = 0;
      ForEachAnimLayer(a, [&](vlBGPic*, vlLayer* layer) {
        if (status) return;
        vlObjectId copyId{0, reinterpret_cast<void*>(1)};
        vlAnim* copy = nullptr;
        if ((status = CopyAnimForLayer(L, a, &copyId, &copy)) != 0) return;
        copy->orphaned = 1;
        copy->layerPrivate = a->layerPrivate;
        layer->source = copy->id();
      });
      if (status) return status;
    }
    *out = a;
    return 0;
  }
  *out = nullptr;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindAnim;
}

int FreeAnimByID(vlVMState* L, vlObjectId id, int strict) {
  for (vlObjectNode* node : Named(id))
    if (!reinterpret_cast<vlAnim*>(node)->orphaned && IsActiveAnim(reinterpret_cast<vlAnim*>(node)))
      return kErrActiveAnim;
  vlAnim* a = nullptr;
  int status = GetAnimByID(L, id, &a, VL_ANIM_FINDUNLOCKED | VL_ANIM_NOLAYERCOPY);
  if (status) return (!strict && status != ERR_LOCKEDOBJ) ? 0 : status;
  if (AnimShownByLayer(a)) {
    // Layers keep showing it until the last of them goes; they follow it
    // to its new private identifier.
    const vlObjectId old = a->id();
    if (int status = gAnimIndex.Rekey(AsNode(a), {0, a})) return status;
    for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
      for (vlNode* node = pic->layers.head; node && node->succ; node = node->succ) {
        auto* layer = reinterpret_cast<vlLayer*>(node);
        if (layer->type == VL_LAYER_ANIM && layer->source.number == old.number && layer->source.handle == old.handle)
          layer->source = {0, a};
      }
    a->orphaned = 1;
    return 0;
  }
  Unlink(a);
  FreeAnimRecord(L, a);
  return 0;
}

void PurgeOrphanAnims(vlVMState* L) {
  for (vlAnim* a = vlAnimList; a;) {
    vlAnim* next = a->next;
    if (a->orphaned && !AnimShownByLayer(a)) {
      Unlink(a);
      FreeAnimRecord(L, a);
    }
    a = next;
  }
}

int LoadSourceFramePixels(vlAnimSource* source, int32_t index, uint32_t loadAlpha, uint32_t loadTransparency,
                          const char* fileName, int32_t width, int32_t height, uint32_t** pixels, vlBitmap** alpha) {
  *pixels = nullptr;
  *alpha = nullptr;
  int32_t hasTransparency = 0;
  uint32_t* p = LoadAnimSourceFrame(source, index, loadAlpha, &hasTransparency);
  if (!p) return kErrFrameLoad;
  if (loadTransparency && !hasTransparency) {
    FreeAnimSourceFrame(source, p);
    SetErrorArgument(fileName ? fileName : "");
    return ERR_NOTRANSPARENCY;
  }
  if (loadAlpha || hasTransparency) {
    vlBitmap* wrapped = WrapARGBAsAlpha(p, width, height, width);
    *alpha = wrapped ? CopyAlphaPlane(wrapped, width, height) : nullptr;
    if (wrapped) DeleteAlphaPlane(wrapped);
    if (!*alpha) {
      FreeAnimSourceFrame(source, p);
      return ERR_ALLOCALPHA;
    }
  }
  *pixels = p;
  return 0;
}

int FrameBitmapFromPixels(const uint32_t* pixels, int32_t transparent, int32_t width, int32_t height,
                          const vlBitmap* alpha, vlBitmap** bitmap, vlBitmap** mask) {
  // Mask and alpha are exclusive: the alpha plane carries the key too.
  return BitmapFromARGB(pixels, transparent, width, height, width, 0, 0, 0, bitmap,
                        transparent != -1 && !alpha ? mask : nullptr, nullptr);
}

int DecodeSourceFrame(vlAnimSource* source, int32_t index, int32_t transparent, uint32_t loadAlpha,
                      uint32_t loadTransparency, const char* fileName, int32_t width, int32_t height,
                      vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  *bitmap = *mask = *alpha = nullptr;
  uint32_t* pixels = nullptr;
  vlBitmap* plane = nullptr;
  if (int status = LoadSourceFramePixels(source, index, loadAlpha, loadTransparency, fileName, width, height,
                                         &pixels, &plane))
    return status;
  int status = FrameBitmapFromPixels(pixels, transparent, width, height, plane, bitmap, mask);
  FreeAnimSourceFrame(source, pixels);
  if (status) {
    if (plane) DeleteAlphaPlane(plane);
    return status;
  }
  *alpha = plane;
  return 0;
}

int ConvertFramePixels(int32_t count, uint32_t** pixels, vlBitmap** bitmaps, vlBitmap** masks, vlBitmap** alphas,
                       int32_t transparent, int32_t width, int32_t height, vlAnimSource** source) {
  int first = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (!pixels[i]) continue;
    if (!bitmaps[i]) {
      int status = FrameBitmapFromPixels(pixels[i], transparent, width, height, alphas ? alphas[i] : nullptr,
                                         &bitmaps[i], &masks[i]);
      if (status && !first) first = status;
    }
    if (*source)
      FreeAnimSourceFrame(*source, pixels[i]);
    else
      FreeMemory(pixels[i]);
    pixels[i] = nullptr;
  }
  if (*source) {
    CloseAnimSource(*source);
    *source = nullptr;
  }
  return first;
}

int ConvertAnimFrameBitmaps() {
  int first = 0;
  for (vlAnim* a = vlAnimList; a; a = a->next) {
    if (!a->pixels || !a->bitmaps || !a->masks || a->disk) continue;
    int status = ConvertFramePixels(a->frameCount, a->pixels, a->bitmaps, a->masks, a->alphas, a->transparentColor,
                                    a->storedWidth, a->storedHeight, &a->source);
    if (status && !first) first = status;
  }
  return first;
}

int GetAnimFrameBitmaps(vlAnim* a, int32_t index, int copy, int noScale, vlBitmap** bitmap, vlBitmap** mask,
                        vlBitmap** alpha) {
  *bitmap = *mask = *alpha = nullptr;
  if (index < 0 || index >= a->frameCount) return ERR_ANIMFRAME;
  if (a->disk) {
    vlBitmap *b = nullptr, *m = nullptr, *al = nullptr;
    if (int status = DecodeSourceFrame(a->source, index, a->transparentColor, a->loadAlpha, a->loadTransparency,
                                       a->fileName, a->storedWidth, a->storedHeight, &b, &m, &al))
      return status;
    if (!noScale && (a->storedWidth != a->width || a->storedHeight != a->height)) {
      vlBitmap *sb = nullptr, *sm = nullptr, *sa = nullptr;
      int status = ScaleBitmap(b, m, al, 0, 0, nullptr, a->storedWidth, a->storedHeight, a->width, a->height,
                               static_cast<int32_t>(a->scaleMode), 0, &sb, m ? &sm : nullptr, al ? &sa : nullptr);
      FreeFrameTriple(b, m, al);
      if (status) return status;
      b = sb, m = sm, al = sa;
    }
    *bitmap = b, *mask = m, *alpha = al;
    return 0;
  }
  if (!a->bitmaps || !a->bitmaps[index]) return kErrFrameLoad;
  if (copy) {
    vlBitmap* m = a->masks ? a->masks[index] : nullptr;
    vlBitmap* al = a->alphas ? a->alphas[index] : nullptr;
    return CopyBitmapRegion(a->bitmaps[index], m, al, 0, 0, a->width, a->height, 0, 0, 0, bitmap, m ? mask : nullptr,
                            al ? alpha : nullptr);
  }
  *bitmap = a->bitmaps[index];
  *mask = a->masks ? a->masks[index] : nullptr;
  *alpha = a->alphas ? a->alphas[index] : nullptr;
  return 0;
}

int32_t GetAnimFrameDelay(vlAnim* a, int32_t index) {
  if (index < 0 || index >= a->frameCount) return 0;
  if (a->delays && a->delays[index] != -1) return a->delays[index];
  if (a->disk && a->source) return GetAnimSourceFrameDelay(a->source, index);
  return 0;
}

int CopyAnimForLayer(vlVMState* L, vlAnim* src, vlObjectId* newId, vlAnim** out) {
  const int32_t n = src->frameCount;
  int32_t* delays = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * n));
  if (!delays) return ERR_MEM;
  if (src->delays)
    std::memcpy(delays, src->delays, sizeof(int32_t) * n);
  else
    for (int32_t i = 0; i < n; ++i) delays[i] = -1;
  vlObjectData* data = nullptr;
  if (src->data)
    if (int status = CopyObjectDataList(L, src->data, &data)) {
      std::free(delays);
      return status;
    }
  auto fail = [&](int status) {
    std::free(delays);
    if (data) FreeObjectDataList(L, &data);
    return status;
  };
  vlAnim* a = nullptr;
  if (src->disk) {
    vlAnimSource* source = nullptr;
    int32_t w = 0, h = 0, count = 0, hasAlpha = 0;
    uintptr_t ref = 0;
    char* name = strdup(src->fileName ? src->fileName : "");
    if (!name) return fail(ERR_MEM);
    char loaders[256];
    AnimLoaderName(src->loader, loaders, sizeof loaders);
    if (int status = OpenAnimSource(src->fileName, loaders, src->adapter, src->deinterlace, src->loadTransparency,
                                    &source, &w, &h, &count, &hasAlpha, &ref)) {
      std::free(name);
      return fail(status);
    }
    if (int status = AddAnim(newId, src->storedWidth, src->storedHeight, nullptr, nullptr, nullptr, nullptr, n,
                             src->transparentColor, src->loadAlpha, 1, src->deinterlace, &a)) {
      CloseAnimSource(source);
      std::free(name);
      return fail(status);
    }
    a->source = source;
    a->fileName = name;
    a->loader = ref;
  } else {
    vlBitmap **b, **m, **al;
    uint32_t** p;
    if (!NewFrameArrays(n, &b, &m, &al, &p)) return fail(ERR_MEM);
    int status = 0;
    for (int32_t i = 0; i < n && !status; ++i)
      status = GetAnimFrameBitmaps(src, i, 1, 0, &b[i], &m[i], &al[i]);
    if (!status)
      status = AddAnim(newId, src->width, src->height, p, b, m, al, n, src->transparentColor, src->loadAlpha, 0,
                       src->deinterlace, &a);
    if (status) {
      for (int32_t i = 0; i < n; ++i) FreeFrameTriple(b[i], m[i], al[i]);
      std::free(b), std::free(m), std::free(al), std::free(p);
      return fail(status);
    }
    a->loader = src->loader;
  }
  a->width = src->width;
  a->height = src->height;
  a->scaleMode = src->scaleMode;
  a->delays = delays;
  a->data = data;
  std::memcpy(a->adapter, src->adapter, sizeof a->adapter);
  a->loadTransparency = src->loadTransparency;
  if (out) *out = a;
  return 0;
}

bool IsActiveAnimID(vlObjectId id) {
  for (vlObjectNode* node : Named(id))
    if (IsActiveAnim(reinterpret_cast<vlAnim*>(node))) return true;
  return false;
}

int ChangeAnimFrameCount(vlVMState* L, vlObjectId id, int32_t count, int32_t position, int fromLayer) {
  vlAnim* a = nullptr;
  if (IsActiveAnimID(id)) return kErrActiveAnim;
  if (int status = GetAnimByID(L, id, &a, fromLayer ? VL_ANIM_FINDORPHANS : VL_ANIM_FINDUNLOCKED)) return status;
  if (a->disk) return ERR_ANIMDISK;
  const int32_t n = a->frameCount;
  if (count == 0 || count <= -n || position < 0 || position > n + 1 || (count < 0 && position - count > n + 1))
    return ERR_WRONGUSAGE;
  const int32_t total = n + count;
  vlBitmap **b, **m, **al;
  uint32_t** p;
  if (!NewFrameArrays(total, &b, &m, &al, &p)) return ERR_MEM;
  int32_t* delays = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * total));
  if (!delays) {
    std::free(b), std::free(m), std::free(al), std::free(p);
    return ERR_MEM;
  }
  // The gap: new frames go to, removed frames start at, index `at`.
  const int32_t at = position > 0 ? position - 1 : (count > 0 ? n : n + count);
  if (count > 0) {
    const bool withMask = a->masks && a->masks[0];
    const bool withAlpha = a->alphas && a->alphas[0];
    int status = 0;
    for (int32_t i = 0; i < count && !status; ++i) {
      vlBitmap*& nb = b[at + i];
      nb = NewBitmap(a->width, a->height, 0, nullptr);
      if (!nb) {
        status = ERR_BITMAP;
        break;
      }
      FillBitmapRect(nb, 0, 0, a->width, a->height, 0);
      if (withMask) {
        // Filled visible, as a new frame with an alpha channel is opaque.
        if (!(m[at + i] = NewMaskPlane(nb, a->width, a->height, 1, nullptr, 0)))
          status = ERR_ALLOCMASK;
        else
          FillMaskRect(m[at + i], 0, 0, a->width, a->height, 0);
      } else if (withAlpha) {
        if (!(al[at + i] = NewAlphaPlane(a->width, a->height, 1, nullptr, 0)))
          status = ERR_ALLOCALPHA;
        else
          FillAlphaRect(al[at + i], 0, 0, a->width, a->height, 255);
      }
    }
    if (status) {
      for (int32_t i = 0; i < count; ++i) FreeFrameTriple(b[at + i], m[at + i], al[at + i]);
      std::free(b), std::free(m), std::free(al), std::free(p), std::free(delays);
      return status;
    }
    for (int32_t i = 0; i < count; ++i) delays[at + i] = -1;
  }
  for (int32_t i = 0, j = 0; i < n; ++i) {
    const bool removed = count < 0 && i >= at && i < at - count;
    if (removed) {
      FreeFrameTriple(a->bitmaps[i], a->masks[i], a->alphas[i]);
      if (a->pixels && a->pixels[i]) FreeMemory(a->pixels[i]);
      continue;
    }
    if (count > 0 && j == at) j += count;
    b[j] = a->bitmaps[i];
    m[j] = a->masks[i];
    al[j] = a->alphas[i];
    p[j] = a->pixels ? a->pixels[i] : nullptr;
    delays[j] = a->delays ? a->delays[i] : -1;
    ++j;
  }
  std::free(a->bitmaps), std::free(a->masks), std::free(a->alphas), std::free(a->pixels), std::free(a->delays);
  a->bitmaps = b, a->masks = m, a->alphas = al, a->pixels = p, a->delays = delays;
  a->frameCount = total;
  return 0;
}

int ScaleFrames(vlBitmap** bitmaps, vlBitmap** masks, vlBitmap** alphas, int32_t count, int32_t width,
                int32_t height, int32_t newWidth, int32_t newHeight, int32_t mode) {
  // All frames first, so a failure leaves the frames as they were.
  auto* made = static_cast<vlBitmap**>(std::calloc(size_t(count) * 3, sizeof(vlBitmap*)));
  if (!made) return ERR_MEM;
  for (int32_t i = 0; i < count; ++i) {
    int status = ScaleBitmap(bitmaps[i], masks[i], alphas[i], 0, 0, nullptr, width, height, newWidth, newHeight, mode,
                             0, &made[i * 3], masks[i] ? &made[i * 3 + 1] : nullptr,
                             alphas[i] ? &made[i * 3 + 2] : nullptr);
    if (status) {
      for (int32_t j = 0; j < i; ++j) FreeFrameTriple(made[j * 3], made[j * 3 + 1], made[j * 3 + 2]);
      std::free(made);
      return status;
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    FreeFrameTriple(bitmaps[i], masks[i], alphas[i]);
    bitmaps[i] = made[i * 3], masks[i] = made[i * 3 + 1], alphas[i] = made[i * 3 + 2];
  }
  std::free(made);
  return 0;
}

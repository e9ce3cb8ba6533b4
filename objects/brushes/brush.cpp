// The brush list: adding, finding and freeing brushes.
#include "objects/brushes/brush.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/picture_transform.h"
#include "display/layers/layer_users.h"
#include "display/layers/layers.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "platform/x11/x11_draw.h"
#include "runtime/errors.h"
#include "formats/loaded_source.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/tag_list.h"
#include "vm/error_codes.h"

vlBrush* vlBrushList = nullptr;

namespace {

// Creating and finding a brush must not walk every brush there is.
vlObjectIndex gBrushIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&vlBrushList); }
vlObjectNode* AsNode(vlBrush* b) { return reinterpret_cast<vlObjectNode*>(b); }


void FreeBrushData(vlVMState* L, vlBrush* b) {
  if (b->source) ReleaseLoadedSource(b->source);
  if (b->bitmap) DeleteBitmap(b->bitmap);
  if (b->mask) DeleteMaskPlane(b->mask);
  if (b->alpha) DeleteAlphaPlane(b->alpha);
  delete[] b->savedPixels;
  if (b->data) FreeObjectDataList(L, &b->data);
}

void Unlink(vlBrush* b) { gBrushIndex.Unlink(ListHead(), AsNode(b)); }

}  // namespace

bool IsActiveBrush(const vlBrush* brush) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !vlCurrentOutput) return false;
  if (d->outputType != VL_OUTPUT_BRUSH && d->outputType != VL_OUTPUT_MASK && d->outputType != VL_OUTPUT_ALPHA)
    return false;
  return vlCurrentOutput->kind == VL_OBJ_BRUSH && vlCurrentOutput->selectObject == brush;
}

int AddBrush(vlObjectId* id, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
             int32_t rowLength, vlLoadedSource* source, int32_t transparentColor, uint32_t kind, vlBrush** out) {
  vlBrush* b = new (std::nothrow) vlBrush{};
  if (!b) return ERR_MEM;
  b->type = VL_OBJ_BRUSH;
  if (id->handle) id->handle = b;
  b->idNumber = id->handle ? 0 : id->number;
  b->idHandle = id->handle;
  b->source = source;
  b->bitmap = bitmap;
  b->mask = mask;
  b->alpha = alpha;
  b->width = width;
  b->height = height;
  b->sourceRowLength = rowLength;
  b->transparentColor = transparentColor;
  b->kind = kind;
  b->srcWidth = width;
  b->srcHeight = height;
  if (gBrushIndex.Append(ListHead(), AsNode(b))) {
    delete b;
    return ERR_MEM;
  }
  if (out) *out = b;
  return 0;
}

void BindHardwareBrush(vlBrush* b, vlDisplay* display, uint32_t flags) {
  if (b->bitmap && b->bitmap->driverOwned) {
    b->hardware = 1;
    b->hardwareFlags = flags;
    // A key or a mask folded into the picture's alpha bytes leaves them
    // mask bits.
    b->bitmap->maskBytes = (flags & 3) == 1;
    b->display = display;
    b->displayNumber = display ? display->idNumber : 0;
    b->displayHandle = display ? display->idHandle : nullptr;
    return;
  }
  b->hardware = b->hardwareFlags = 0;
  b->display = nullptr;
  b->displayNumber = 0;
  b->displayHandle = nullptr;
}

int NewBrushOn(vlObjectId* id, int32_t width, int32_t height, uint32_t color, int mask, int alpha, int clear,
               int hardware, vlDisplay* display, vlBrush** out) {
  if (hardware && QueryAdapterCaps(VL_ADAPTERCAP_HWBRUSHES)) {
    std::unique_ptr<uint32_t[]> argb(new (std::nothrow) uint32_t[static_cast<size_t>(width) * height]);
    if (!argb) return ERR_MEM;
    const uint32_t pixel = (color & 0xFFFFFF) | (clear ? 0u : 0xFF000000u);
    std::fill(argb.get(), argb.get() + static_cast<size_t>(width) * height, pixel);
    vlTagItem tags[3] = {};
    int n = 0;
    if (display && display->adapterHandle)
      tags[n++] = {VL_VBM_DISPLAY, reinterpret_cast<uintptr_t>(display->adapterHandle)};
    tags[n++] = {VL_VBM_SOURCE, reinterpret_cast<uintptr_t>(argb.get())};
    const uint32_t flags = VL_VBM_VIDEO | (mask || alpha ? uint32_t{VL_VBM_ALPHA} : 0u);
    if (vlBitmap* video = NewVideoBitmap(width, height, flags, tags)) {
      vlBrush* b = nullptr;
      if (int status = AddBrush(id, video, nullptr, nullptr, width, height, width, nullptr, -1, 0, &b)) {
        DeleteBitmap(video);
        return status;
      }
      BindHardwareBrush(b, display, (mask ? 1u : 0u) | (alpha ? 2u : 0u));
      if (out) *out = b;
      return 0;
    }
    if (!GetAdapterBitmapCaps(VL_ADAPTERCAP_FALLBACK)) return ERR_BITMAP;
  }
  return NewBrush(id, width, height, color, mask, alpha, clear, out);
}

int DisplayHardwareBrushes(vlVMState* L, vlDisplay* display, int op) {
  for (vlBrush* next = vlBrushList; next;) {
    vlBrush* b = next;
    next = b->next;
    if (op == VL_DISPBRUSHES_FREE && b->hardware && b->display == display) {
      Unlink(b);
      FreeBrushData(L, b);
      delete b;
      continue;
    }
    if (op == VL_DISPBRUSHES_SAVE && b->hardware && b->display == display && b->bitmap) {
      // Read through the adapter before its bitmap goes with the window.
      b->savedPixels = ReadBitmapARGB(b->bitmap, 0, 0, b->width, b->height, 0);
      if (!b->savedPixels) return ERR_MEM;
      DeleteBitmap(b->bitmap);
      b->bitmap = nullptr;
      b->display = nullptr;  // the display's identifier stays to find it again
    } else if (op == VL_DISPBRUSHES_RESTORE && b->savedPixels && b->displayNumber == display->idNumber &&
               b->displayHandle == display->idHandle) {
      vlTagItem tags[3] = {};
      int n = 0;
      if (display->adapterHandle) tags[n++] = {VL_VBM_DISPLAY, reinterpret_cast<uintptr_t>(display->adapterHandle)};
      tags[n++] = {VL_VBM_SOURCE, reinterpret_cast<uintptr_t>(b->savedPixels)};
      const uint32_t flags = VL_VBM_VIDEO | (b->hardwareFlags ? uint32_t{VL_VBM_ALPHA} : 0u);
      b->bitmap = NewVideoBitmap(b->width, b->height, flags, tags);
      if (!b->bitmap) {
        // No video bitmap any more: an ordinary brush with its planes.
        const int32_t mode = (b->hardwareFlags & 1) ? 3 : (b->hardwareFlags & 2) ? 2 : 1;
        if (int status = BitmapFromARGB(b->savedPixels, (b->hardwareFlags & 1) ? b->transparentColor : -1, b->width,
                                        b->height, b->width, 1, mode, 0, &b->bitmap, &b->mask,
                                        (b->hardwareFlags & 2) ? &b->alpha : nullptr))
          return status;
      }
      BindHardwareBrush(b, display, b->hardwareFlags);
      delete[] b->savedPixels;
      b->savedPixels = nullptr;
    }
  }
  return 0;
}

int NewBrush(vlObjectId* id, int32_t width, int32_t height, uint32_t color, int mask, int alpha, int clear,
             vlBrush** out) {
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  FillBitmapRect(bitmap, 0, 0, width, height, color);
  vlBitmap *m = nullptr, *a = nullptr;
  if (mask) {
    m = NewMaskPlane(bitmap, width, height, 1, nullptr, 0);
    if (!m) {
      DeleteBitmap(bitmap);
      return ERR_ALLOCMASK;
    }
    if (!clear) FillMaskRect(m, 0, 0, width, height, 0);  // mode 0 sets the bits
  } else if (alpha) {
    a = NewAlphaPlane(width, height, 1, nullptr, 0);
    if (!a) {
      DeleteBitmap(bitmap);
      return ERR_ALLOCALPHA;
    }
    if (!clear) FillAlphaRect(a, 0, 0, width, height, 255);
  }
  int status = AddBrush(id, bitmap, m, a, width, height, width, nullptr, mask ? 0xAFC0DE : -1, 0, out);
  if (status) {
    DeleteBitmap(bitmap);
    if (m) DeleteMaskPlane(m);
    if (a) DeleteAlphaPlane(a);
  }
  return status;
}

int CopyBrushForLayer(vlVMState* L, const vlBrush* r, vlObjectId* id, vlBrush** out, vlDisplay* hardwareOn) {
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  // A hardware copy is the adapter's to make, for the display asked for.
  const int hardware = hardwareOn && QueryAdapterCaps(VL_ADAPTERCAP_HWBRUSHES) && !vlRecordingScreen;
  const auto* from = static_cast<const vlDisplay*>(r->display);
  const uintptr_t word1 = r->hardware && from ? reinterpret_cast<uintptr_t>(from->adapterHandle) : 0;
  const uintptr_t word2 = hardware ? reinterpret_cast<uintptr_t>(hardwareOn->adapterHandle) : 0;
  if (r->bitmap)
    if (int status = CopyBitmapRegion(r->bitmap, r->mask, r->alpha, 0, 0, r->width, r->height, hardware, word1,
                                      word2, &b, r->mask ? &m : nullptr, r->alpha || r->hardware ? &a : nullptr))
      return status;
  vlObjectData* data = nullptr;
  int status = r->data ? CopyObjectDataList(L, r->data, &data) : 0;
  vlBrush* copy = nullptr;
  if (!status)
    status = AddBrush(id, b, m, a, r->width, r->height, r->sourceRowLength, r->source, r->transparentColor, r->kind,
                      &copy);
  if (status) {
    if (data) FreeObjectDataList(L, &data);
    if (b) DeleteBitmap(b);
    if (m) DeleteMaskPlane(m);
    if (a) DeleteAlphaPlane(a);
    return status;
  }
  copy->data = data;
  copy->scaledVector = r->scaledVector;
  copy->srcX = r->srcX, copy->srcY = r->srcY, copy->srcWidth = r->srcWidth, copy->srcHeight = r->srcHeight;
  copy->loaderWord = r->loaderWord;
  std::memcpy(copy->vectorMatrix, r->vectorMatrix, sizeof r->vectorMatrix);
  if (b && b->driverOwned) {
    // The adapter's picture carries the source's mask or alpha in its own
    // alpha bytes.
    if (!r->hardware && r->kind == 1) copy->kind = 0, copy->scaledVector = 0;
    BindHardwareBrush(copy, hardwareOn,
                      r->hardware ? r->hardwareFlags : (r->mask ? 1u : 0u) | (r->alpha ? 2u : 0u));
  }
  if (copy->source) RetainLoadedSource(copy->source);
  *out = copy;
  return 0;
}

int RenderVectorBrush(vlVMState* L, const vlBrush* b, const double* m, int smooth, vlBitmap** bitmap,
                      vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height, double* composed) {
  int32_t bw = 0, bh = 0;
  GetLoadedSourceSize(b->source, &bw, &bh);
  if (bw < 1 || bh < 1) bw = b->width, bh = b->height;
  double v[4] = {b->vectorMatrix[0], b->vectorMatrix[1], b->vectorMatrix[2], b->vectorMatrix[3]};
  if (!v[0] && !v[1] && !v[2] && !v[3])
    v[0] = static_cast<double>(b->width) / bw, v[3] = static_cast<double>(b->height) / bh;
  // The new matrix works on the picture the brush shows now.
  const double c[4] = {m[0] * v[0] + m[1] * v[2], m[0] * v[1] + m[1] * v[3], m[2] * v[0] + m[3] * v[2],
                       m[2] * v[1] + m[3] * v[3]};
  if (composed) std::memcpy(composed, c, sizeof c);
  // The bitmap is a copy of the source's own rendering only at the identity.
  const bool own = v[0] == 1 && v[1] == 0 && v[2] == 0 && v[3] == 1;
  return TransformPicture(L, VL_PICTURE_VECTOR, b->source, own ? b->bitmap : nullptr, b->mask, b->alpha, 0, 0, 0, 0,
                          bw, bh, 0, 0, c, smooth, bitmap, mask, alpha, nullptr, nullptr, width, height);
}

namespace {

int CopyForLayers(vlVMState* L, void* record, vlObjectId* id, void** copy) {
  vlBrush* made = nullptr;
  int status = CopyBrushForLayer(L, static_cast<vlBrush*>(record), id, &made);
  if (!status) made->orphaned = 1;
  *copy = made;
  return status;
}

}  // namespace

int GetBrushByID(vlVMState* L, vlObjectId id, vlBrush** out, uint32_t flags) {
  vlBrush* found = nullptr;
  static const std::vector<vlObjectNode*> kNone;
  const std::vector<vlObjectNode*>* named = gBrushIndex.Find(id);
  for (vlObjectNode* node : named ? *named : kNone) {
    auto* b = reinterpret_cast<vlBrush*>(node);
    if ((flags & VL_BRUSH_NOVECTOR) && b->kind == 1) return ERR_BRUSHTYPE;
    if (!(flags & VL_BRUSH_HARDWAREOK) && b->hardware) return ERR_HWBRUSH;
    if ((flags & VL_BRUSH_FINDORPHANS) || !b->orphaned) {
      found = b;
      break;
    }
  }
  *out = found;
  if (!found) {
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDBRUSH;
  }
  if ((flags & VL_BRUSH_FINDUNLOCKED) && found->locked) return ERR_LOCKEDOBJ;
  if ((flags & (VL_BRUSH_FINDUNLOCKED | VL_BRUSH_NOLAYERCOPY)) == VL_BRUSH_FINDUNLOCKED)
    if (int status = ForObjectLayerUser(L, VL_LAYER_BRUSH, id, CopyForLayers, found, nullptr)) return status;
  return 0;
}

int FreeBrushByID(vlVMState* L, vlObjectId id, int reportMissing) {
  vlBrush* b = nullptr;
  if (const std::vector<vlObjectNode*>* named = gBrushIndex.Find(id))
    for (vlObjectNode* node : *named)
      if (!reinterpret_cast<vlBrush*>(node)->orphaned) b = reinterpret_cast<vlBrush*>(node);
  if (b && IsActiveBrush(b)) return ERR_MODIFYABR;
  int status = GetBrushByID(L, id, &b, VL_BRUSH_FINDUNLOCKED | VL_BRUSH_NOLAYERCOPY | VL_BRUSH_HARDWAREOK);
  if (status) return (!reportMissing && status != ERR_LOCKEDOBJ) ? 0 : status;
  // Layers keep showing it: the record stays, known only to them by its
  // own address.
  if (int status = gBrushIndex.Rekey(AsNode(b), {0, b})) return status;
  if (RebindLayersToRecord(VL_LAYER_BRUSH, id, b)) {
    b->orphaned = 1;
    return 0;
  }
  Unlink(b);
  FreeBrushData(L, b);
  delete b;
  return 0;
}

void PurgeOrphanBrushes(vlVMState* L) {
  for (vlBrush* b = vlBrushList; b;) {
    vlBrush* next = b->next;
    if (b->orphaned && !FindLayerShowingObject(VL_LAYER_BRUSH, b->id(), nullptr, nullptr, nullptr)) {
      Unlink(b);
      FreeBrushData(L, b);
      delete b;
    }
    b = next;
  }
}

int RebuildBrushBitmaps() {
  for (vlBrush* b = vlBrushList; b; b = b->next) {
    if (b->bitmap || !b->source) continue;
    const uint32_t* pixels =
        GetLoadedSourcePixels(b->source) + static_cast<intptr_t>(b->srcY) * b->sourceRowLength + b->srcX;
    vlBitmap *bitmap = nullptr, *mask = nullptr;
    if (int status = BitmapFromARGB(pixels, b->transparentColor, b->width, b->height, b->sourceRowLength, 0, 0, 0,
                                    &bitmap, b->transparentColor != -1 ? &mask : nullptr, nullptr))
      return status;
    b->bitmap = bitmap;
    b->mask = mask;
    if (!mask) b->transparentColor = -1;
    // Raster brushes have no more use for their source.
    if (b->kind == 0) {
      ReleaseLoadedSource(b->source);
      b->source = nullptr;
      b->sourceRowLength = b->width;
    }
  }
  return 0;
}

void FreeAllBrushes(vlVMState* L) {
  while (vlBrush* b = vlBrushList) {
    vlBrushList = b->next;
    FreeBrushData(L, b);
    delete b;
  }
  gBrushIndex.Clear();
}

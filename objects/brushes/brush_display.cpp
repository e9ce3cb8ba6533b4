// Showing brushes, anim frames and BGPic parts on the current drawing
// target: as a new layer of the current BGPic when layers are on, else
// drawn at once with the display tags' transform, filters and transparency
// applied.
#include <cstring>

#include "display/bgpic.h"
#include "display/layers/engine_hooks.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/layer_hooks.h"
#include "display/layers/layer_users.h"
#include "display/layers/layers.h"
#include "display/picture_transform.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr int kErrHardwareUnsupported = 1498;

// A picture triple, deleted on scope exit when owned.
struct Triple {
  vlBitmap* image = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  bool owned = false;
  void Release() {
    if (owned) {
      if (image) DeleteBitmap(image);
      if (mask) DeleteMaskPlane(mask);
      if (alpha) DeleteAlphaPlane(alpha);
    }
    image = mask = alpha = nullptr;
    owned = false;
  }
  ~Triple() { Release(); }
};

}  // namespace

int DisplayObjectOnTarget(vlVMState* L, uint32_t type, vlObjectId id, int32_t frame, int32_t srcX, int32_t srcY,
                          int32_t x, int32_t y, int32_t width, int32_t height, int render, int tagIndex,
                          uint32_t flags) {
  vlDisplay* d = CurrentDisplay();
  // The object's kind hands out what is shown of it: its own code, reached
  // for that kind alone.
  const vlLayerSource* source = FindLayerSource(type);
  if (!source || !source->objectPictures) return ERR_WRONGUSAGE;
  vlShownObject shown;
  if (int status = source->objectPictures(L, type, id, frame, (flags & (8 | 0x400)) != 0, &shown)) return status;
  Triple pic;
  pic.image = shown.image, pic.mask = shown.mask, pic.alpha = shown.alpha;
  pic.owned = shown.owned != 0;
  const int32_t objWidth = shown.objWidth, objHeight = shown.objHeight;
  if (shown.width > 0) width = shown.width, height = shown.height;
  const bool hardware = shown.hardware != 0;
  const vlObjectId sourceId = shown.sourceId;
  vlBGPic* bgpic = shown.bgpic;
  if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;

  vlDrawTags tags;
  vlLayerTransform& t = tags.transform;
  if (int status = ParseDrawTags(L, tagIndex, width, height, width, height, 0, &t, &tags,
                                 type == VL_LAYER_BGPICPART ? VL_TAGS_INIT : VL_TAGS_INIT | VL_TAGS_TABLEONLY))
    return status;

  vlBGPic* target = vlCurrentOutput;
  if (type == VL_LAYER_BGPICPART) {
    if (x == -1) x = srcX;
    if (y == -1) y = srcY;
  }
  // Against the output, or its active clip region.
  x = ResolvePosX(x, width, 0, t.anchorX);
  y = ResolvePosY(y, height, 0, t.anchorY);
  srcX = ResolvePosX(srcX, width, objWidth, 0);
  srcY = ResolvePosY(srcY, height, objHeight, 0);
  if (srcX < 0 || srcY < 0) return ERR_NEGCOORDS;
  if (srcX >= objWidth || srcY >= objHeight) return ERR_COORDSRANGE;
  if (srcX + width > objWidth) width = objWidth - srcX;
  if (srcY + height > objHeight) height = objHeight - srcY;
  if (!d || !target) return 0;
  if (int status = GetSelectTargetBitmaps(L)) return status;

  // A BGPic part drawn with its layers is a picture of its own.
  if (type == VL_LAYER_BGPICPART && render) {
    vlBitmap* rendered = NewBitmap(width, height, 0, nullptr);
    if (!rendered) return ERR_BITMAP;
    vlBitmap* whole = NewBitmap(objWidth, objHeight, 0, nullptr);
    if (!whole) {
      DeleteBitmap(rendered);
      return ERR_BITMAP;
    }
    RedrawBGPicLayers(L, d, bgpic, whole, 0, 0, objWidth, objHeight, 16);
    BltBitmap(whole, srcX, srcY, rendered, 0, 0, width, height);
    DeleteBitmap(whole);
    pic.image = rendered, pic.mask = pic.alpha = nullptr;
    pic.owned = true;
    srcX = srcY = 0;
  }

  const bool identity = IsIdentityTransform(&t);
  bool drawNow = true, anchored = false;
  if (d->layersOn) {
    vlLayerGeometry* g = NewLayerGeometry();
    if (!g) return ERR_MEM;
    g->x = x, g->y = y, g->width = width, g->height = height;
    // An anim layer's part x is the frame it shows; its source hands the
    // layer the frame, so a decoded frame is not kept.
    g->partX = type == VL_LAYER_ANIM ? frame : srcX, g->partY = srcY;
    vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
    uint32_t layerType = type;
    if (pic.owned && type != VL_LAYER_ANIM) {
      // The layer keeps the rendered picture itself.
      image = pic.image, mask = pic.mask, alpha = pic.alpha;
      pic.owned = false;
      g->partX = g->partY = 0;
    }
    vlLayer* layer = nullptr;
    if (int status = AddLayer(L, layerType, &sourceId, x, y, width, height, &t, &tags.form, image, mask, alpha, g,
                              -1, (flags & 2) | VL_ADDLAYER_DISPLAYSCALED, &layer))
      return status;
    // AddLayer has shown the layer on the display, or queued it while the
    // BGPic is the drawing target.
    if (d->outputType == VL_OUTPUT_DISPLAY || d->outputType == VL_OUTPUT_BGPIC) return 0;
    drawNow = identity && !(flags & 4) && !tags.needsLayerProcessing;
  } else {
    if (!identity) {
      Triple made;
      int32_t nw = 0, nh = 0;
      const double matrix[4] = {t.a, t.b, t.c, t.d};
      if (int status = shown.renderTransformed
                           ? shown.renderTransformed(L, shown.object, matrix, t.smooth, &made.image, &made.mask,
                                                     &made.alpha, &nw, &nh)
                           : TransformPicture(L, VL_PICTURE_RASTER, nullptr, pic.image, pic.mask, pic.alpha, srcX, srcY,
                                              0, 0, width, height, 0, 0, matrix, t.smooth, &made.image, &made.mask,
                                              &made.alpha, nullptr, nullptr, &nw, &nh))
        return status;
      // The renderer takes the matrix by columns.
      const double m[4] = {t.a, t.c, t.b, t.d};
      // The anchor point of the picture stays where it was: x, y become
      // the top-left of the transformed picture.
      int32_t fx = 0, fy = 0;
      FitRotatedRect(x, y, width, height, t.anchorX, t.anchorY, m, &fx, &fy, nullptr, nullptr);
      x = fx - static_cast<int32_t>(width * t.anchorX);
      y = fy - static_cast<int32_t>(height * t.anchorY);
      anchored = true;
      pic.Release();
      pic = made;
      pic.owned = true;
      made.owned = false;
      made.image = made.mask = made.alpha = nullptr;
      srcX = srcY = 0;
      width = nw, height = nh;
    }
    const bool filters = LayerHasFilters(tags.form.filters);
    if ((filters || tags.form.transparency) && hardware) return kErrHardwareUnsupported;
    if ((filters || tags.form.transparency) && !pic.owned) {
      Triple made;
      if (int status = CopyBitmapRegion(pic.image, pic.mask, pic.alpha, srcX, srcY, width, height, 0, 0, 0,
                                        &made.image, pic.mask ? &made.mask : nullptr,
                                        pic.alpha ? &made.alpha : nullptr))
        return status;
      pic = made;
      pic.owned = true;
      made.owned = false;
      made.image = made.mask = made.alpha = nullptr;
      srcX = srcY = 0;
    }
    if (int status = ApplyDrawTagsEffects(&tags.form, pic.image, &pic.mask, &pic.alpha, width, height))
      return status;
    if (tags.form.hidden) drawNow = false;
  }
  if (!drawNow || (flags & (1 | 8))) return 0;

  if (!anchored) {
    x -= static_cast<int32_t>(width * t.anchorX);
    y -= static_cast<int32_t>(height * t.anchorY);
  }
  BlitToDrawTarget(L, pic.image, srcX, srcY, x, y, width, height, srcX + width, srcY + height, pic.mask, pic.alpha);
  return 0;
}

int DisplayBrushObject(vlVMState* L, vlObjectId id, int part, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
                       int32_t width, int32_t height, int tagIndex) {
  return DisplayObjectOnTarget(L, part ? VL_LAYER_BRUSHPART : VL_LAYER_BRUSH, id, 0, srcX, srcY, x, y, width,
                               height, 0, tagIndex, 0);
}

namespace {

int BrushLayerBitmaps(vlVMState* L, vlLayer* layer, int32_t, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha,
                      int32_t* width, int32_t* height, uint32_t*) {
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, layer->source, &b, VL_BRUSH_FINDORPHANS | VL_BRUSH_HARDWAREOK)) return status;
  *image = b->bitmap, *mask = b->mask, *alpha = b->alpha;
  *width = b->width, *height = b->height;
  return 0;
}

vlLoadedSource* BrushVectorSource(vlVMState* L, vlLayer* layer) {
  vlBrush* b = nullptr;
  if (GetBrushByID(L, layer->source, &b, VL_BRUSH_FINDORPHANS | VL_BRUSH_HARDWAREOK)) return nullptr;
  return b->kind == 1 ? b->source : nullptr;
}

int AddBrushLayer(vlVMState* L, vlBrush* b, int32_t x, int32_t y, int32_t position, uint32_t flags, vlLayer** out) {
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) return ERR_MEM;
  x = ResolvePosX(x, b->width, 0, 0);
  y = ResolvePosY(y, b->height, 0, 0);
  g->x = x, g->y = y, g->width = b->width, g->height = b->height;
  const vlObjectId id = b->id();
  return AddLayer(L, VL_LAYER_BRUSH, &id, x, y, b->width, b->height, nullptr, nullptr, nullptr, nullptr, nullptr, g,
                  position, flags, out);
}

int InsertBrushLayer(vlVMState* L, vlObjectId id, int32_t x, int32_t y, int32_t position, uint32_t flags,
                     vlLayer** out) {
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  if (b->kind == 1 && b->scaledVector) return ERR_TFVBRUSH;
  return AddBrushLayer(L, b, x, y, position, flags, out);
}

// A blank brush known only to its new layer: it goes with the layer.
int CreateBlankBrushLayer(vlVMState* L, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                          int mask, int alpha, int clear, int32_t frames, vlLayer** out) {
  if (frames) return ERR_WRONGUSAGE;
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  vlBrush* b = nullptr;
  if (int status = NewBrush(&id, width, height, color, mask, alpha, clear, &b)) return status;
  b->orphaned = 1;
  int status = AddBrushLayer(L, b, x, y, -1, 0, out);
  if (status) PurgeOrphanBrushes(L);
  return status;
}

// A brush made of a layer's own pictures (a drawn layer made drawable),
// known only to the layer: it goes with the layer.
int AdoptBrushPictures(vlVMState*, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
                       vlObjectId* out) {
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  vlBrush* b = nullptr;
  if (int status = AddBrush(&id, image, mask, alpha, width, height, width, nullptr, -1, 0, &b)) return status;
  b->orphaned = 1;
  *out = b->id();
  return 0;
}

// The layer's own copy of its brush (drawing into the layer must not
// change the brush or other layers); it goes with the layer.
int MakePrivateBrush(vlVMState* L, vlLayer* layer) {
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, layer->source, &b, VL_BRUSH_FINDORPHANS | VL_BRUSH_NOLAYERCOPY | VL_BRUSH_HARDWAREOK))
    return status;
  if (b->orphaned && !FindLayerShowingObject(VL_LAYER_BRUSH, b->id(), layer, nullptr, nullptr)) return 0;
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  vlBrush* copy = nullptr;
  if (int status = CopyBrushForLayer(L, b, &id, &copy)) return status;
  copy->orphaned = 1;
  layer->source = copy->id();
  return 0;
}

int RenderShownBrush(vlVMState* L, const void* brush, const double* matrix, int smooth, vlBitmap** image,
                     vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height) {
  return RenderVectorBrush(L, static_cast<const vlBrush*>(brush), matrix, smooth, image, mask, alpha, width, height,
                           nullptr);
}

// A brush shown whole, or a part of it, on the drawing target.
int BrushPictures(vlVMState* L, uint32_t type, vlObjectId id, int32_t, int orphans, vlShownObject* shown) {
  vlDisplay* d = CurrentDisplay();
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK | (orphans ? uint32_t{VL_BRUSH_FINDORPHANS} : 0u)))
    return status;
  if (d && IsActiveBrush(b)) LeaveSelectMode(L, d, 0);
  if (b->hardware && b->display && d && b->display != d) return ERR_INCOMPATBRUSH;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  if (type == VL_LAYER_BRUSHPART && b->kind == 1) return ERR_BRUSHTYPE;
  if (type == VL_LAYER_BRUSH && b->kind == 1 && b->scaledVector && d && d->layersOn) return ERR_TFVBRUSH;
  shown->image = b->bitmap, shown->mask = b->mask, shown->alpha = b->alpha;
  shown->hardware = b->hardware;
  shown->objWidth = b->width, shown->objHeight = b->height;
  shown->sourceId = b->id();
  if (b->kind == 1 && b->source) shown->renderTransformed = RenderShownBrush, shown->object = b;
  if (type == VL_LAYER_BRUSH) shown->width = b->width, shown->height = b->height;
  return 0;
}

// A part of a BGPic (number -1: the current display's) on the drawing target.
int BGPicPartPictures(vlVMState* L, uint32_t, vlObjectId id, int32_t, int orphans, vlShownObject* shown) {
  vlBGPic* bgpic = nullptr;
  if (id.number == -1 && !id.handle) {
    vlDisplay* d = CurrentDisplay();
    if (!d) return ERR_CLOSEDDISPLAY;
    bgpic = d->bgpic;
  } else if (int status = GetBGPicByID(L, id, &bgpic, orphans ? 2 : 0)) {
    return status;
  }
  shown->image = bgpic->curBitmap, shown->mask = bgpic->curMask, shown->alpha = bgpic->curAlpha;
  shown->objWidth = bgpic->width, shown->objHeight = bgpic->height;
  shown->sourceId = bgpic->id();
  shown->bgpic = bgpic;
  return 0;
}

vlLayerSource MakeBGPicPartSource() {
  vlLayerSource s{};
  s.objectPictures = BGPicPartPictures;
  return s;
}
const vlLayerSource kBGPicPartSource = MakeBGPicPartSource();

vlLayerSource MakeBrushLayerSource(bool whole) {
  vlLayerSource s{};
  s.getBitmaps = BrushLayerBitmaps;
  s.purgeOrphans = PurgeOrphanBrushes;
  s.objectPictures = BrushPictures;
  if (!whole) return s;
  s.insert = InsertBrushLayer;
  s.makePrivate = MakePrivateBrush;
  s.createBlank = CreateBlankBrushLayer;
  s.adoptPictures = AdoptBrushPictures;
  s.vectorSource = BrushVectorSource;
  return s;
}
const vlLayerSource kBrushLayerSource = MakeBrushLayerSource(true);
const vlLayerSource kBrushPartLayerSource = MakeBrushLayerSource(false);

// DisplayBGPicPart(id, x, y, width, height, [target x, target y], [tags or render flag]).
int DisplayBGPicPartHook(vlVMState* L, vlBGPic* pic) {
  int render = 0, tagIndex = 0;
  const int top = vl::GetStackTop(L);
  if (top >= 8) {
    if (vl::GetTypeAt(L, 8) == VL_TTABLE) {
      GetTableBool(L, 8, "layers", &render, nullptr);
      tagIndex = 8;
    } else if (vl::GetTypeAt(L, 8) != VL_TNIL) {
      render = vl::CheckIntArg(L, 8) != 0;
    }
  }
  const int32_t tx = vl::GetTypeAt(L, 6) == VL_TNUMBER ? vl::CheckIntArg(L, 6) : -1;
  const int32_t ty = vl::GetTypeAt(L, 7) == VL_TNUMBER ? vl::CheckIntArg(L, 7) : -1;
  return DisplayObjectOnTarget(L, VL_LAYER_BGPICPART, pic->id(), 0, vl::CheckIntArg(L, 2), vl::CheckIntArg(L, 3), tx,
                               ty, vl::CheckIntArg(L, 4), vl::CheckIntArg(L, 5), render, tagIndex, 0x400);
}

}  // namespace

void InstallBrushDisplayHooks() {
  RegisterLayerSource(VL_LAYER_BRUSH, &kBrushLayerSource);
  RegisterLayerSource(VL_LAYER_BRUSHPART, &kBrushPartLayerSource);
  RegisterLayerSource(VL_LAYER_BGPICPART, &kBGPicPartSource);
  RegisterOrphanPurger(1, PurgeOrphanBrushes);
  gLayerHooks.displayBGPicPart = DisplayBGPicPartHook;
}

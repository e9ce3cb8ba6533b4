// Text objects: the list, look-ups, orphans kept for layers, rendering from
// the kept layout with the object's scale and rotation, and the commands.
#include "text/text_objects.h"
#include "text/text_layout.h"

#include <cmath>
#include <cstring>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/draw_tags.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "objects/anims/anim.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "text/picture_output.h"
#include "text/text_layers.h"
#include "text/text_library.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlObjectNode* gTextObjects = nullptr;
// Making and finding a text object must not walk every one there is.
vlObjectIndex gTextObjectIndex;

vlTextObject* AsObject(vlObjectNode* n) { return reinterpret_cast<vlTextObject*>(n); }
vlObjectId IdOf(const vlTextObject* o) { return {o->node.idNumber, o->node.idHandle}; }

int Append(vlTextObject* o) { return gTextObjectIndex.Append(&gTextObjects, &o->node); }

void Unlink(vlTextObject* o) { gTextObjectIndex.Unlink(&gTextObjects, &o->node); }

void FreePlanes(vlTextObject* o) {
  if (o->bitmap) DeleteBitmap(o->bitmap);
  if (o->mask) DeleteMaskPlane(o->mask);
  if (o->alpha) DeleteAlphaPlane(o->alpha);
  o->bitmap = o->mask = o->alpha = nullptr;
}

void DeleteObject(vlVMState* L, vlTextObject* o) {
  Unlink(o);
  FreePlanes(o);
  delete o->layout;
  FreeObjectDataList(L, &o->node.data);
  FreeMemory(o);
}

// Every layer of every BGPic that shows the object id.
template <class Fn>
void ForEachShowingLayer(vlObjectId id, Fn fn) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next) {
    for (vlNode* node = pic->layers.head; node && node->succ; node = node->succ) {
      auto* layer = reinterpret_cast<vlLayer*>(node);
      if (layer->type == VL_LAYER_TEXTOBJECT && layer->source.number == id.number &&
          layer->source.handle == id.handle)
        fn(layer);
    }
  }
}

bool ShownByLayer(vlObjectId id) {
  bool shown = false;
  ForEachShowingLayer(id, [&](vlLayer*) { shown = true; });
  return shown;
}

// Before the object changes, each layer that shows it gets its own orphaned
// copy, so it keeps showing what it showed.
int GiveLayersCopies(vlVMState* L, vlTextObject* o) {
  int status = 0;
  ForEachShowingLayer(IdOf(o), [&](vlLayer* layer) {
    if (status) return;
    vlTextObject* copy = nullptr;
    status = CopyTextObjectForLayer(L, o, {0, reinterpret_cast<void*>(uintptr_t{1})}, &copy);
    if (status) return;
    copy->node.idHandle = copy;
    copy->orphaned = 1;
    copy->createWidth = o->createWidth;
    copy->createHeight = o->createHeight;
    copy->offsetX = o->offsetX;
    copy->offsetY = o->offsetY;
    copy->transform = o->transform;
    layer->source = IdOf(copy);
  });
  return status;
}

void IdentityTransform(vlTextObjectTransform* t) {
  *t = {};
  t->matrix[0] = t->matrix[3] = 1;
}

bool IsIdentity(const double* m) { return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1; }

// Renders the object's layout with its scale and rotation.
int RenderObject(vlVMState* L, const vlTextObjectLayout* kept, const vlTextObjectTransform& t, bool replay,
                 vlTextPicture* out, int smooth = 1) {
  vlTextLayout layout = kept->layout;
  layout.text = kept->text.c_str();
  return RenderTextTransformed(L, layout, VL_TEXTMODE_OBJECT, false, t.matrix, replay, smooth, out);
}

// The object's picture through a further column-order matrix: rendered
// again from its layout (sharp at any scale), or, for a copy that has no
// transformation of its own, its picture transformed.
int RenderObjectThrough(vlVMState* L, const vlTextObject* o, const double* m, int smooth, vlTextPicture* out) {
  const double* own = o->transform.matrix;
  const bool known = own[0] != 0 || own[1] != 0 || own[2] != 0 || own[3] != 0;
  if (o->layout && known) {
    vlTextObjectTransform t = o->transform;
    t.matrix[0] = m[0] * own[0] + m[2] * own[1];
    t.matrix[1] = m[1] * own[0] + m[3] * own[1];
    t.matrix[2] = m[0] * own[2] + m[2] * own[3];
    t.matrix[3] = m[1] * own[2] + m[3] * own[3];
    return RenderObject(L, o->layout, t, true, out, smooth);
  }
  *out = {};
  if (!o->bitmap) return ERR_WRONGUSAGE;
  return TransformBitmap(o->bitmap, o->mask, o->alpha, 0, 0, o->width, o->height, m, smooth, 0, &out->bitmap,
                         o->mask ? &out->mask : nullptr, o->alpha ? &out->alpha : nullptr, &out->width,
                         &out->height);
}

// Builds the matrix from the scale size, the creation size and the angle;
// positive angles turn counter-clockwise on screen.
void BuildTransformMatrix(vlTextObject* o) {
  vlTextObjectTransform& t = o->transform;
  const double sx = o->createWidth && t.scaleWidth ? static_cast<double>(t.scaleWidth) / o->createWidth : 1.0;
  const double sy = o->createHeight && t.scaleHeight ? static_cast<double>(t.scaleHeight) / o->createHeight : 1.0;
  const double r = t.angle * M_PI / 180.0;
  double c = std::cos(r), s = std::sin(r);
  if (std::fabs(c) < 1e-12) c = 0;
  if (std::fabs(s) < 1e-12) s = 0;
  t.matrix[0] = c * sx;
  t.matrix[1] = -s * sx;
  t.matrix[2] = s * sy;
  t.matrix[3] = c * sy;
  t.angle = std::atan2(-t.matrix[1], t.matrix[0]) * 180.0 / M_PI;
  if (t.angle == -0.0) t.angle = 0;
}

int FinishNew(vlVMState* L, bool automatic, vlTextObject* o) {
  if (!automatic) return 0;
  vl::PushPointer(L, o);
  return 1;
}

int ScaleOrRotate(vlVMState* L, bool rotate) {
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, id, &o, VL_TEXTOBJ_UNLOCKED)) return status;
  vlTextObjectTransform saved = o->transform;
  if (rotate) {
    o->transform.angle = std::fmod(vl::CheckNumberArg(L, 2), 360.0);
  } else {
    int32_t w = vl::DoubleToInt32(GetNumberOrPercentArg(L, 2, o->createWidth, 1, nullptr));
    int32_t h = vl::DoubleToInt32(GetNumberOrPercentArg(L, 3, o->createHeight, 1, nullptr));
    if (w == VL_KEEPASPRAT && h == VL_KEEPASPRAT) return ERR_WRONGUSAGE;
    if (int status = ResolveAspectSize(o->createWidth, o->createHeight, &w, &h)) return status;
    if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
    o->transform.scaleWidth = w;
    o->transform.scaleHeight = h;
  }
  const double stored = o->transform.angle;
  BuildTransformMatrix(o);
  if (rotate) o->transform.angle = stored;  // the angle as given, modulo 360
  vlTextPicture picture;
  if (int status = RenderObject(L, o->layout, o->transform, true, &picture)) {
    o->transform = saved;
    return status;
  }
  FreePlanes(o);
  o->bitmap = picture.bitmap;
  o->mask = picture.mask;
  o->alpha = picture.alpha;
  o->width = picture.width;
  o->height = picture.height;
  const bool turned = std::fmod(o->transform.angle, 360.0) != 0;
  o->offsetX = turned ? 0 : picture.offsetX;
  o->offsetY = turned ? 0 : picture.offsetY;
  return 0;
}

// A text object's planes and size; the object keeps them.
int PlanesOf(vlVMState* L, vlObjectId id, uint32_t flags, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha,
             int32_t* width, int32_t* height) {
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, id, &o, flags)) return status;
  *image = o->bitmap;
  *mask = o->mask;
  *alpha = o->alpha;
  *width = o->width;
  *height = o->height;
  return 0;
}

// The pictures a TEXTOBJECT layer shows.
int LayerBitmaps(vlVMState* L, vlLayer* layer, int32_t, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha,
                 int32_t* width, int32_t* height, uint32_t* extra) {
  *extra = 0;
  return PlanesOf(L, layer->source, VL_TEXTOBJ_ORPHANS, image, mask, alpha, width, height);
}

// A layer of the object at (x, y) (position constants place its picture)
// at list position, with the AddLayer flags.
int InsertTextObjectLayer(vlVMState* L, vlObjectId id, int32_t x, int32_t y, int32_t position, uint32_t flags,
                          vlLayer** out) {
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, id, &o, 0)) return status;
  x = ResolvePosX(x, o->width, 0, 0) + o->offsetX;
  y = ResolvePosY(y, o->height, 0, 0) + o->offsetY;
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) return ERR_MEM;
  g->x = x, g->y = y, g->width = o->width, g->height = o->height;
  const vlObjectId own = IdOf(o);
  return AddLayer(L, VL_LAYER_TEXTOBJECT, &own, x, y, o->width, o->height, nullptr, nullptr, nullptr, nullptr,
                  nullptr, g, position, flags, out);
}

// The object rendered again through the layer's transform block, its
// anchor point kept where the transform puts it.
int RebuildTextObjectLayer(vlVMState* L, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                           const vlLayerTransform* t, uint32_t flags, vlLayerRect* rect) {
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, layer->source, &o, VL_TEXTOBJ_ORPHANS)) return status;
  double m[4];
  LayerMatrixColumns(t, m);
  vlTextPicture picture;
  const vlLayerGeometry* g0 = layer->geometry[0];
  if (g0->image) {
    // A layer drawn into (selected as target) shows its own picture.
    if (int status = TransformBitmap(g0->image, g0->mask, g0->alpha, 0, 0, g0->width, g0->height, m,
                                     static_cast<int32_t>(t->smooth), 0, &picture.bitmap,
                                     g0->mask ? &picture.mask : nullptr, g0->alpha ? &picture.alpha : nullptr,
                                     &picture.width, &picture.height))
      return status;
  } else if (IsIdentity(m)) {
    if (int status = CopyBitmapRegion(o->bitmap, o->mask, o->alpha, 0, 0, o->width, o->height, 0, 0, 0,
                                      &picture.bitmap, o->mask ? &picture.mask : nullptr,
                                      o->alpha ? &picture.alpha : nullptr))
      return status;
    picture.width = o->width, picture.height = o->height;
  } else if (int status = RenderObjectThrough(L, o, m, static_cast<int>(t->smooth), &picture)) {
    return status;
  }
  int32_t x, y;
  PlaceRenderedBox(target, layer->geometry[0]->width, layer->geometry[0]->height, t, m, picture.width,
                   picture.height, &x, &y);
  SetLayerGeometry(L, layer, on, target, rect, x, y, picture.width, picture.height, picture.bitmap, picture.mask,
                   picture.alpha, flags);
  return 0;
}

// A layer that scripts draw into gets its own copy of the object's
// picture, so the object and other layers stay as they are.
int MakePrivateTextPicture(vlVMState* L, vlLayer* layer) {
  vlLayerGeometry* g0 = layer->geometry[0];
  if (g0->image) return 0;
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, layer->source, &o, VL_TEXTOBJ_ORPHANS)) return status;
  if (!o->bitmap) return ERR_WRONGUSAGE;
  return CopyBitmapRegion(o->bitmap, o->mask, o->alpha, 0, 0, o->width, o->height, 0, 0, 0, &g0->image,
                          o->mask ? &g0->mask : nullptr, o->alpha ? &g0->alpha : nullptr);
}

vlLayerSource MakeTextObjectSource() {
  vlLayerSource s{};
  s.getBitmaps = LayerBitmaps;
  s.purgeOrphans = PurgeOrphanTextObjects;
  s.insert = InsertTextObjectLayer;
  s.rebuild = RebuildTextObjectLayer;
  s.makePrivate = MakePrivateTextPicture;
  s.makeBorder = CreateLayerBorderBitmap;
  return s;
}

const vlLayerSource kTextObjectSource = MakeTextObjectSource();

// What other libraries convert a text object from.
int ObjectPlanes(vlVMState* L, vlObjectId id, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha, int32_t* width,
                 int32_t* height) {
  return PlanesOf(L, id, 0, image, mask, alpha, width, height);
}

// What anims, sprites and moves need of an object they use.
int PictureLookup(vlVMState* L, vlObjectId id, vlTextObjectPicture* out) {
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, id, &o, 0)) return status;
  *out = {o->bitmap, o->mask, o->alpha, o->width, o->height, o->offsetX, o->offsetY, &o->locked};
  return 0;
}

}  // namespace

int GetTextObjectByID(vlVMState* L, vlObjectId id, vlTextObject** out, uint32_t flags) {
  static const std::vector<vlObjectNode*> kNone;
  const std::vector<vlObjectNode*>* named = gTextObjectIndex.Find(id);
  for (vlObjectNode* n : named ? *named : kNone) {
    vlTextObject* o = AsObject(n);
    if (o->orphaned && !(flags & VL_TEXTOBJ_ORPHANS)) continue;
    if (flags & VL_TEXTOBJ_UNLOCKED) {
      if (o->locked) return ERR_LOCKEDOBJ;
      if (!(flags & VL_TEXTOBJ_NOCOPY))
        if (int status = GiveLayersCopies(L, o)) return status;
    }
    *out = o;
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindTextObject;
}

int FreeTextObjectByID(vlVMState* L, vlObjectId id, int reportMissing) {
  vlTextObject* o = nullptr;
  int status = GetTextObjectByID(L, id, &o, VL_TEXTOBJ_UNLOCKED | VL_TEXTOBJ_NOCOPY);
  if (status == ERR_LOCKEDOBJ) return status;
  if (status) return reportMissing ? status : 0;
  if (ShownByLayer(IdOf(o))) {
    // The layers keep it; they now find it by its own address.
    const vlObjectId old = IdOf(o);
    if (int status = gTextObjectIndex.Rekey(&o->node, {0, o})) return status;
    ForEachShowingLayer(old, [&](vlLayer* layer) { layer->source = {0, o}; });
    o->orphaned = 1;
    return 0;
  }
  DeleteObject(L, o);
  return 0;
}

int CopyTextObjectForLayer(vlVMState* L, vlTextObject* src, vlObjectId id, vlTextObject** out) {
  auto* o = static_cast<vlTextObject*>(AllocMemory(sizeof(vlTextObject), 1));
  if (!o) return ERR_MEM;
  o->node.type = VL_OBJ_TEXTOBJECT;
  const bool automatic = id.handle == reinterpret_cast<void*>(uintptr_t{1});
  o->node.idNumber = automatic ? 0 : id.number;
  o->node.idHandle = automatic ? o : id.handle;
  if (src->bitmap || src->mask || src->alpha) {
    if (int status = CopyBitmapRegion(src->bitmap, src->mask, src->alpha, 0, 0, src->width, src->height, 0, 0, 0,
                                      &o->bitmap, src->mask ? &o->mask : nullptr, src->alpha ? &o->alpha : nullptr)) {
      FreeMemory(o);
      return status;
    }
  }
  o->layout = src->layout ? new (std::nothrow) vlTextObjectLayout(*src->layout) : nullptr;
  if ((src->layout && !o->layout) || CopyObjectDataList(L, src->node.data, &o->node.data)) {
    FreePlanes(o);
    delete o->layout;
    FreeMemory(o);
    return ERR_MEM;
  }
  o->width = src->width;
  o->height = src->height;
  o->offsetX = src->offsetX;
  o->offsetY = src->offsetY;
  if (Append(o)) {
    DeleteObject(L, o);
    return ERR_MEM;
  }
  *out = o;
  return 0;
}

void PurgeOrphanTextObjects(vlVMState* L) {
  for (vlObjectNode* n = gTextObjects; n;) {
    vlTextObject* o = AsObject(n);
    n = n->next;
    if (o->orphaned && !ShownByLayer(IdOf(o))) DeleteObject(L, o);
  }
}

void FreeAllTextObjects(vlVMState* L) {
  while (gTextObjects) DeleteObject(L, AsObject(gTextObjects));
  gTextObjectIndex.Clear();
}

int InitTextObjects() {
  RegisterLayerSource(VL_LAYER_TEXTOBJECT, &kTextObjectSource);
  InstallTextLayerSources();
  vlTextObjectPictureLookup = PictureLookup;
  gLayerHooks.textObjectPlanes = ObjectPlanes;
  RegisterOrphanPurger(4, PurgeOrphanTextObjects);
  return RegisterObjectList(&gTextObjects, [](const vlObjectNode* n) {
    return reinterpret_cast<const vlTextObject*>(n)->orphaned != 0;
  });
}

int CmdCreateTextObject(vlVMState* L) {
  CheckArgs(L, 2, 5, 0, 0);
  const int n = vl::GetStackTop(L);
  vlObjectId id;
  const bool automatic = GetObjectIDArgOpt(&id, L, 1) != 0;
  const char* text = vl::CheckStringArg(L, 2, nullptr);
  vlTextLayout layout;
  layout.settings = *GetTextSettings();
  layout.encoding = GetDefaultEncoding();
  int32_t wordwrap = 0;
  if (n == 3 && vl::GetTypeAt(L, 3) == VL_TTABLE) {
    layout.align = 0;
    GetTableInt(L, 3, "align", &layout.align, nullptr);
    GetTableInt(L, 3, "wordwrap", &wordwrap, nullptr);
    GetTableInt(L, 3, "encoding", &layout.encoding, nullptr);
    int32_t color;
    if (GetTableInt(L, 3, "color", &color, nullptr)) layout.settings.color = static_cast<uint32_t>(color);
  } else {
    layout.align = vl::OptIntArg(L, 3, VL_ALIGN_LEFT);
    wordwrap = vl::OptIntArg(L, 4, 0);
    layout.encoding = vl::OptIntArg(L, 5, layout.encoding);
  }
  if (layout.encoding < 0 || layout.encoding > 1 || wordwrap < 0) return ERR_WRONGUSAGE;
  layout.wrapWidth = wordwrap;
  if (!automatic)
    if (int status = FreeTextObjectByID(L, id, 0)) return status;
  layout.text = text;
  vlTextPicture picture;
  if (int status = DrawFormattedText(L, &layout, VL_TEXTMODE_OBJECT, false, &picture)) return status;
  auto* o = static_cast<vlTextObject*>(AllocMemory(sizeof(vlTextObject), 1));
  auto* kept = o ? new (std::nothrow) vlTextObjectLayout{layout, text} : nullptr;
  if (!kept) {
    FreeMemory(o);
    FreeTextPicture(&picture);
    return ERR_MEM;
  }
  kept->layout.text = nullptr;
  o->node.type = VL_OBJ_TEXTOBJECT;
  o->node.idNumber = automatic ? 0 : id.number;
  o->node.idHandle = automatic ? o : id.handle;
  o->bitmap = picture.bitmap;
  o->mask = picture.mask;
  o->alpha = picture.alpha;
  o->width = o->createWidth = picture.width;
  o->height = o->createHeight = picture.height;
  o->offsetX = picture.offsetX;
  o->offsetY = picture.offsetY;
  o->layout = kept;
  IdentityTransform(&o->transform);
  if (Append(o)) {
    DeleteObject(L, o);
    return ERR_MEM;
  }
  return FinishNew(L, automatic, o);
}

int CmdDisplayTextObject(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  int32_t x = vl::CheckIntArg(L, 2), y = vl::CheckIntArg(L, 3);
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, id, &o, 0)) return status;
  vlDrawTags tags;
  vlLayerTransform& t = tags.transform;
  const int antialias = o->layout && (o->layout->layout.settings.style & VL_STYLE_ANTIALIAS) ? 1 : 0;
  const int tagIndex = vl::GetStackTop(L) >= 4 ? 4 : 0;
  if (int status = ParseDrawTags(L, tagIndex, o->width, o->height, o->width, o->height, antialias, &t, &tags,
                                 VL_TAGS_INIT))
    return status;
  x = ResolvePosX(x, o->width, 0, t.anchorX) + o->offsetX;
  y = ResolvePosY(y, o->height, 0, t.anchorY) + o->offsetY;
  if (TargetTakesLayers()) {
    vlLayerGeometry* g = NewLayerGeometry();
    if (!g) return ERR_MEM;
    g->x = x, g->y = y, g->width = o->width, g->height = o->height;
    vlLayer* layer = nullptr;
    const vlObjectId own = IdOf(o);
    if (int status = AddLayer(L, VL_LAYER_TEXTOBJECT, &own, x, y, o->width, o->height, &t, &tags.form, nullptr,
                              nullptr, nullptr, g, -1, VL_ADDLAYER_DISPLAYSCALED, &layer))
      return status;
    return 0;
  }
  if (tags.form.hidden) return 0;
  // Layers off: the transformation, filters and transparency apply to a
  // copy of the picture for this showing only.
  double m[4];
  LayerMatrixColumns(&t, m);
  vlTextPicture shown;
  int32_t px = x - static_cast<int32_t>(t.anchorX * o->width), py = y - static_cast<int32_t>(t.anchorY * o->height);
  if (!IsIdentity(m)) {
    if (int status = RenderObjectThrough(L, o, m, static_cast<int>(t.smooth), &shown)) return status;
    FitRotatedRect(px, py, o->width, o->height, t.anchorX, t.anchorY, m, &px, &py, nullptr, nullptr);
  } else if (LayerHasFilters(tags.form.filters) || tags.form.transparency) {
    if (int status = CopyBitmapRegion(o->bitmap, o->mask, o->alpha, 0, 0, o->width, o->height, 0, 0, 0,
                                      &shown.bitmap, o->mask ? &shown.mask : nullptr,
                                      o->alpha ? &shown.alpha : nullptr))
      return status;
    shown.width = o->width, shown.height = o->height;
  }
  if (!shown.bitmap) {
    BlitPictureToTarget(L, o->bitmap, o->mask, o->alpha, px, py, o->width, o->height);
    return 0;
  }
  int status = ApplyDrawTagsEffects(&tags.form, shown.bitmap, &shown.mask, &shown.alpha, shown.width, shown.height);
  if (!status) BlitPictureToTarget(L, shown.bitmap, shown.mask, shown.alpha, px, py, shown.width, shown.height);
  FreeTextPicture(&shown);
  return status;
}

int CmdFreeTextObject(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeTextObjectByID(L, id, 1);
}

int CmdCopyTextObject(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId src;
  GetObjectIDArg(&src, L, 1);
  vlObjectId id;
  const bool automatic = GetObjectIDArgOpt(&id, L, 2) != 0;
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, src, &o, 0)) return status;
  if (!automatic) {
    if (id.number == src.number && id.handle == src.handle) return ERR_WRONGUSAGE;
    if (int status = FreeTextObjectByID(L, id, 0)) return status;
  }
  vlTextObject* copy = nullptr;
  if (int status = CopyTextObjectForLayer(L, o, id, &copy)) return status;
  // The copy scales and turns from the same creation size and
  // transformation as its source (without them it could not scale at all).
  copy->createWidth = o->createWidth;
  copy->createHeight = o->createHeight;
  copy->transform = o->transform;
  return FinishNew(L, automatic, copy);
}

int CmdScaleTextObject(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  return ScaleOrRotate(L, false);
}

int CmdRotateTextObject(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return ScaleOrRotate(L, true);
}

// Front copy and back buffer of a display, and the scaling of displays
// and their BGPics.
#include "display/display_scaling.h"

#include <initializer_list>

#include <algorithm>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/display_change.h"
#include "display/layer_hooks.h"
#include "display/monitors.h"
#include "formats/loaded_source.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "abi/plugin_abi.h"
#include "vm/error_codes.h"

int SetDisplayBGPicCopies(vlDisplay* d, vlBGPic* pic) {
  if (d->front) DeleteBitmap(d->front);
  if (d->back) DeleteBitmap(d->back);
  d->front = d->back = nullptr;
  if (!pic->dispBitmap) return 0;  // held as ARGB until the screen format is known
  d->front = NewBitmap(pic->dispWidth, pic->dispHeight, 0, nullptr);
  d->back = NewBitmap(pic->dispWidth, pic->dispHeight, VL_NEWBITMAP_WINDOW, nullptr);
  if (!d->front || !d->back) {
    if (d->front) DeleteBitmap(d->front);
    if (d->back) DeleteBitmap(d->back);
    d->front = d->back = nullptr;
    return ERR_BITMAP;
  }
  BltBitmap(pic->dispBitmap, 0, 0, d->front, 0, 0, pic->dispWidth, pic->dispHeight);
  BltBitmap(pic->dispBitmap, 0, 0, d->back, 0, 0, pic->dispWidth, pic->dispHeight);
  DisplayDevice(d)->bufferSize(d, pic->dispWidth, pic->dispHeight);
  return 0;
}

void ComputeLetterbox(vlDisplay* d, vlBGPic* pic, int32_t width, int32_t height) {
  d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
  if ((d->styleFlags & VL_DISPSTYLE_LETTERBOX) && pic && !pic->dispMask && !pic->dispAlpha && pic->width > 0 &&
      pic->height > 0) {
    int32_t sw = width;
    int32_t sh = static_cast<int32_t>(static_cast<double>(pic->height) / pic->width * width);
    if (sh > height) {
      sh = height;
      sw = static_cast<int32_t>(static_cast<double>(pic->width) / pic->height * height);
      d->borderLeft = (width - sw) / 2;
    }
    d->borderTop = (height - sh) / 2;
    d->borderRight = width - sw - d->borderLeft;
    d->borderBottom = height - sh - d->borderTop;
    d->scaleWidth = sw;
    d->scaleHeight = sh;
    return;
  }
  d->scaleWidth = width;
  d->scaleHeight = height;
}

int MakeBGPicAtSize(vlVMState* L, vlBGPic* pic, int32_t width, int32_t height, int smooth, vlBitmap** bitmap,
                    vlBitmap** mask, vlBitmap** alpha) {
  *bitmap = *mask = *alpha = nullptr;
  if (IsVectorBGPic(pic)) {
    // The source draws itself at the new size, over the fill as when loaded.
    int32_t w = 0, h = 0;
    GetLoadedSourceSize(pic->source, &w, &h);
    if (w < 1 || h < 1) w = pic->loadWidth, h = pic->loadHeight;
    const double scale[4] = {static_cast<double>(width) / w, 0, 0, static_cast<double>(height) / h};
    uint32_t* pixels = nullptr;
    if (int status = TransformLoadedImage(pic->source, scale, 0, 0, width, height, &pixels, nullptr)) return status;
    vlBitmap* a = pic->loadAlpha ? reinterpret_cast<vlBitmap*>(1) : nullptr;  // asks for an alpha plane
    if (int status = BuildBGPicBitmaps(L, pixels, pic->backfill.present ? &pic->backfill : nullptr, -1, width, height,
                                       width, bitmap, nullptr, &a))
      return status;
    *alpha = a;
    return 0;
  }
  if (pic->scalable && pic->backfill.present && !pic->source) {
    vlBitmap* b = NewBitmap(width, height, 0, nullptr);
    if (!b) return ERR_BITMAP;
    if (int status = FillBackfill(L, &pic->backfill, b, width, height, nullptr, 1)) {
      DeleteBitmap(b);
      return status;
    }
    *bitmap = b;
    return 0;
  }
  return ScaleBitmap(pic->loadBitmap, pic->loadMask, pic->loadAlpha, 0, 0, nullptr, pic->loadWidth, pic->loadHeight,
                     width, height, smooth, 0, bitmap, mask, alpha);
}

namespace {

void DropPlane(vlBitmap* plane, vlBitmap* keep1, vlBitmap* keep2, void (*del)(vlBitmap*)) {
  if (plane && plane != keep1 && plane != keep2) del(plane);
}

}  // namespace

void FreeBGPicDisplayPlanes(vlBGPic* p) {
  DropPlane(p->dispBitmap, p->curBitmap, p->loadBitmap, DeleteBitmap);
  DropPlane(p->dispMask, p->curMask, p->loadMask, DeleteMaskPlane);
  DropPlane(p->dispAlpha, p->curAlpha, p->loadAlpha, DeleteAlphaPlane);
}

void FreeBGPicScaledPlanes(vlBGPic* p) {
  FreeBGPicDisplayPlanes(p);
  DropPlane(p->curBitmap, p->loadBitmap, nullptr, DeleteBitmap);
  DropPlane(p->curMask, p->loadMask, nullptr, DeleteMaskPlane);
  DropPlane(p->curAlpha, p->loadAlpha, nullptr, DeleteAlphaPlane);
}

namespace {

// The loaded triple scaled to width x height: its mask and alpha channel,
// and with withPicture its picture too.
int ScaleLoadedTriple(vlBGPic* p, int32_t width, int32_t height, int withPicture, vlBitmap** picture,
                      vlBitmap** mask, vlBitmap** alpha) {
  *picture = *mask = *alpha = nullptr;
  if (!withPicture && !p->loadMask && !p->loadAlpha) return 0;
  int status = ScaleBitmap(p->loadBitmap, p->loadMask, p->loadAlpha, 0, 0, nullptr, p->loadWidth, p->loadHeight,
                           width, height, 0, 0, picture, mask, alpha);
  if (status || !withPicture) {
    if (*picture) DeleteBitmap(*picture);
    *picture = nullptr;
  }
  if (status) {
    if (*mask) DeleteMaskPlane(*mask);
    if (*alpha) DeleteAlphaPlane(*alpha);
    *mask = *alpha = nullptr;
  }
  return status;
}

// Puts a new triple into place (a null picture keeps the old one),
// deleting the old planes that no other triple holds.
void ReplaceTriple(vlBitmap** picture, vlBitmap** mask, vlBitmap** alpha, vlBitmap* newPicture, vlBitmap* newMask,
                   vlBitmap* newAlpha, std::initializer_list<const vlBitmap*> kept) {
  auto drop = [&](vlBitmap* old, const vlBitmap* now, void (*del)(vlBitmap*)) {
    if (!old || old == now) return;
    for (const vlBitmap* k : kept)
      if (k == old) return;
    del(old);
  };
  vlBitmap *oldPicture = *picture, *oldMask = *mask, *oldAlpha = *alpha;
  if (newPicture) *picture = newPicture;
  *mask = newMask, *alpha = newAlpha;
  if (newPicture) drop(oldPicture, newPicture, DeleteBitmap);
  drop(oldMask, newMask, DeleteMaskPlane);
  drop(oldAlpha, newAlpha, DeleteAlphaPlane);
}

}  // namespace

int RemakeBGPicScaledPlanes(vlBGPic* p, int withPicture) {
  if (p->curBitmap != p->loadBitmap) {
    vlBitmap *b, *m, *a;
    if (int status = ScaleLoadedTriple(p, p->width, p->height, withPicture, &b, &m, &a)) return status;
    // A display triple that shared the current one shares the new one.
    const bool dispShares = p->dispBitmap == p->curBitmap;
    vlBitmap *oldPicture = p->curBitmap, *oldMask = p->curMask, *oldAlpha = p->curAlpha;
    ReplaceTriple(&p->curBitmap, &p->curMask, &p->curAlpha, b, m, a,
                  {p->loadBitmap, p->loadMask, p->loadAlpha, p->dispBitmap, p->dispMask, p->dispAlpha});
    if (dispShares) {
      vlBitmap *dispPicture = oldPicture, *dispMask = oldMask, *dispAlpha = oldAlpha;
      ReplaceTriple(&dispPicture, &dispMask, &dispAlpha, b, m, a, {p->loadBitmap, p->loadMask, p->loadAlpha});
      p->dispBitmap = p->curBitmap, p->dispMask = m, p->dispAlpha = a;
    }
  }
  if (p->dispBitmap != p->curBitmap && p->dispBitmap != p->loadBitmap) {
    vlBitmap *b, *m, *a;
    if (int status = ScaleLoadedTriple(p, p->dispWidth, p->dispHeight, withPicture, &b, &m, &a)) return status;
    ReplaceTriple(&p->dispBitmap, &p->dispMask, &p->dispAlpha, b, m, a,
                  {p->loadBitmap, p->loadMask, p->loadAlpha, p->curBitmap, p->curMask, p->curAlpha});
  }
  return 0;
}

int ResizeBGPicPlanes(vlVMState* L, vlBGPic* p, int32_t width, int32_t height, int smooth) {
  if (int status = ResolveAspectSize(p->width, p->height, &width, &height)) return status;
  if (width == p->width && height == p->height) return 0;
  vlBitmap *b, *m, *a;
  if (width == p->loadWidth && height == p->loadHeight) {
    b = p->loadBitmap;
    m = p->loadMask;
    a = p->loadAlpha;
  } else if (int status = MakeBGPicAtSize(L, p, width, height, smooth, &b, &m, &a)) {
    return status;
  }
  FreeBGPicScaledPlanes(p);
  p->curBitmap = p->dispBitmap = b;
  p->curMask = p->dispMask = m;
  p->curAlpha = p->dispAlpha = a;
  p->width = p->dispWidth = width;
  p->height = p->dispHeight = height;
  return 0;
}

int RescaleDisplayBGPic(vlVMState* L, vlDisplay* d, vlBGPic* p, int rebuildCopies) {
  vlBitmap *b, *m, *a;
  if (int status = MakeBGPicAtSize(L, p, d->scaleWidth, d->scaleHeight, d->smoothScale, &b, &m, &a)) return status;
  FreeBGPicDisplayPlanes(p);
  p->dispBitmap = b;
  p->dispMask = m;
  p->dispAlpha = a;
  p->dispWidth = d->scaleWidth;
  p->dispHeight = d->scaleHeight;
  d->scaleX = static_cast<double>(d->scaleWidth) / p->width;
  d->scaleY = static_cast<double>(d->scaleHeight) / p->height;
  if (rebuildCopies)
    if (int status = SetDisplayBGPicCopies(d, p)) return status;
  gLayerHooks.rerenderLayers(L, d, p);
  return 0;
}

int UpdateDisplayScaleForBGPic(vlVMState* L, vlDisplay* d, vlBGPic* p, vlBitmap** mask, vlBitmap** alpha) {
  *mask = *alpha = nullptr;
  const vlDisplayScaling scaling = GetDisplayMapping(d).scaling;
  if (scaling == VL_SCALING_LAYERS) {
    if (p->dispWidth == d->scaleWidth && p->dispHeight == d->scaleHeight) {
      d->scaleX = static_cast<double>(d->scaleWidth) / p->width;
      d->scaleY = static_cast<double>(d->scaleHeight) / p->height;
      return 0;
    }
    return RescaleDisplayBGPic(L, d, p, 0);
  }
  if (scaling == VL_SCALING_OUTPUT) {
    d->scaleX = static_cast<double>(d->scaleWidth) / p->width;
    d->scaleY = static_cast<double>(d->scaleHeight) / p->height;
    if (p->dispMask || p->dispAlpha)
      return ScaleBitmap(nullptr, p->dispMask, p->dispAlpha, 0, 0, nullptr, p->dispWidth, p->dispHeight,
                         d->scaleWidth, d->scaleHeight, d->smoothScale, 0, nullptr, mask, alpha);
    return 0;
  }
  d->scaleX = d->scaleY = 1.0;
  return 0;
}

int InitialDisplayScaling(vlVMState* L, vlDisplay* d) {
  if (!d->bgpic) return 0;
  if (int status = SetDisplayBGPicCopies(d, d->bgpic)) return status;
  if (!d->autoScale && !d->layerScale) return 0;
  int32_t fitW = 0, fitH = 0;
  if (d->styleFlags & VL_DISPSTYLE_FITSCALE) {
    int32_t mx, my, mw, mh;
    if (GetDisplayMonitorRect(d, &mx, &my, &mw, &mh) == 0) {
      if (!d->bordersKnown) DetermineDisplayBorders(d);
      fitW = mw - d->frameWidth;
      fitH = mh - d->frameHeight;
      d->x = mx;
      d->y = my;
      d->monitorRelativeX = d->monitorRelativeY = 0;
      ComputeLetterbox(d, d->bgpic, fitW, fitH);
    }
  }
  if (d->scaleWidth > 0 && d->scaleHeight > 0) {
    const bool letterbox = (d->styleFlags & VL_DISPSTYLE_LETTERBOX) && fitW > 0;
    return ResizeOpenDisplay(L, d, 100000, 100000, letterbox ? fitW : d->scaleWidth,
                             letterbox ? fitH : d->scaleHeight, 0, d->smoothScale, 1, 1);
  }
  return 0;
}

vlDisplayMapping GetDisplayMapping(const vlDisplay* d) {
  vlDisplayMapping m{};
  m.pictureX = m.pictureY = m.windowX = m.windowY = 1.0;
  if (!d) return m;
  const vlBGPic* pic = d->bgpic;
  m.width = pic ? pic->dispWidth : d->width;
  m.height = pic ? pic->dispHeight : d->height;
  const bool sized = d->scaleWidth > 0 && d->scaleHeight > 0;
  const bool factors = d->scaleX > 0 && d->scaleY > 0;
  if (d->layerScale && sized) {
    m.scaling = VL_SCALING_LAYERS;
    if (factors) m.pictureX = d->scaleX, m.pictureY = d->scaleY;
    // The layers have display records of their own at the scale size.
    m.bgpicRedrawMode = 16;
  } else if (d->autoScale && sized) {
    m.scaling = VL_SCALING_OUTPUT;
    if (factors) m.windowX = d->scaleX, m.windowY = d->scaleY;
  }
  m.windowWidth = m.scaling ? d->scaleWidth : m.width;
  m.windowHeight = m.scaling ? d->scaleHeight : m.height;
  return m;
}

void MapRectToPicture(const vlDisplayMapping& m, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  if (m.pictureX == 1.0 && m.pictureY == 1.0) return;
  *x = static_cast<int32_t>(*x * m.pictureX);
  *y = static_cast<int32_t>(*y * m.pictureY);
  // A size a rounding error below a whole number keeps that number.
  *width = std::max(1, static_cast<int32_t>(*width * m.pictureX + 1e-9));
  *height = std::max(1, static_cast<int32_t>(*height * m.pictureY + 1e-9));
}

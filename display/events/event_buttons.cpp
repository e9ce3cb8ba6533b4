// BGPic buttons: making, finding, enabling, deleting and listing them, and
// the hit test the dispatcher uses. Depends on the display list and BGPic
// records, the position resolution and the VM's references.
#include "display/events/event_buttons.h"

#include <algorithm>
#include <cstdint>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "runtime/os.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

const char* const kButtonHandlerNames[VL_BH_COUNT] = {"onmouseover",      "onmouseout",     "onmousedown",
                                                      "onmouseup",        "onrightmousedown", "onrightmouseup",
                                                      "onmidmousedown",   "onmidmouseup"};

namespace {

vlBGPic* CurrentBGPic() { return CurrentDisplay() ? CurrentDisplay()->bgpic : nullptr; }

// The VM the layer hit tests render filtered layer pictures with; set when
// a layer button is made.
vlVMState* gButtonVM = nullptr;

// Through the plane's lock: a display adapter may hold it.
bool PlaneBit(vlBitmap* plane, int32_t x, int32_t y) {
  vlLockedPixels p(plane, VL_LOCK_READ);
  if (!p.ok() || !p.Inside(x, y)) return false;
  if (plane->kind == VL_BITMAP_MASK) return GetMaskBit(p.Row(y), x) != 0;
  return p.Row(y)[x] != 0;
}

// Inside the layer's drawn rectangle and clip region, on its mask and,
// for a pixel-exact button, on a pixel that is not fully transparent.
bool LayerButtonHit(const vlBGPicButton* b, int32_t x, int32_t y) {
  vlLayerGeometry* g = b->layer ? b->layer->geometry[0] : nullptr;
  if (!g) return false;
  if (x < g->drawnX || y < g->drawnY || x >= g->drawnX + g->drawnWidth || y >= g->drawnY + g->drawnHeight)
    return false;
  if (auto* clip = static_cast<const vlClipRegion*>(g->clipRegion)) {
    if (x < clip->x || y < clip->y || x >= clip->x + clip->width || y >= clip->y + clip->height) return false;
    if (clip->mask && !PlaneBit(clip->mask, x - clip->x, y - clip->y)) return false;
  }
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t width = 0, height = 0;
  uint32_t extra = 0;
  if (GetLayerBitmaps(gButtonVM, b->layer, g, 1, 1, -1, &image, &mask, &alpha, &width, &height, &extra)) return true;
  const int32_t px = x - g->drawnX, py = y - g->drawnY;
  if (mask && !PlaneBit(mask, px, py)) return false;
  if (b->pixelExact && alpha && !PlaneBit(alpha, px, py)) return false;
  return true;
}

bool SameId(const vlObjectId& a, const vlObjectId& b) { return a.handle == b.handle && a.number == b.number; }

void ReleaseButton(vlVMState* L, vlBGPicButton* b) {
  for (int32_t ref : b->handlers)
    if (ref >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, ref);
  if (b->userdataRef >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, b->userdataRef);
  FreeMemory(b);
}

// Unlinks the button with that id; null when none.
vlBGPicButton* Unlink(vlBGPic* pic, const vlObjectId& id) {
  for (vlBGPicButton** link = &pic->buttons; *link; link = &(*link)->next) {
    if (SameId((*link)->id, id)) {
      vlBGPicButton* b = *link;
      *link = b->next;
      return b;
    }
  }
  return nullptr;
}

// The button of the current BGPic named by argument 1.
int FindArgButton(vlVMState* L, vlBGPicButton** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBGPic* pic = CurrentBGPic();
  if (!pic) return ERR_BGPICBUTTON;
  for (vlBGPicButton* b = pic->buttons; b; b = b->next)
    if (SameId(b->id, id)) {
      *out = b;
      return 0;
    }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDBUTTON;
}

int SetEnabled(vlVMState* L, uint32_t on) {
  CheckArgs(L, 1, 1, 0, 0);
  vlBGPicButton* b;
  if (int status = FindArgButton(L, &b)) return status;
  b->enabled = on;
  b->pressed[0] = b->pressed[1] = b->pressed[2] = 0;
  return 0;
}

}  // namespace

bool ButtonEligible(const vlBGPicButton* b) {
  if (!b->enabled) return false;
  if (b->type == VL_BUTTON_SIMPLE) return true;
  return b->layer && (!b->layer->hidden || b->hiddenLayersCount);
}

bool ButtonHit(const vlBGPicButton* b, int32_t x, int32_t y) {
  if (b->type == VL_BUTTON_SIMPLE) return x >= b->x1 && x <= b->x2 && y >= b->y1 && y <= b->y2;
  return LayerButtonHit(b, x, y);
}

void GetButtonRect(const vlBGPicButton* b, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  if (b->type == VL_BUTTON_SIMPLE) {
    *x = b->x1;
    *y = b->y1;
    *width = b->x2 + 1 - b->x1;
    *height = b->y2 + 1 - b->y1;
    return;
  }
  const vlLayerGeometry* g = b->layer ? b->layer->geometry[0] : nullptr;
  *x = g ? g->drawnX : 0;
  *y = g ? g->drawnY : 0;
  *width = g ? g->drawnWidth : 0;
  *height = g ? g->drawnHeight : 0;
}

void MoveLayerButtons(vlLayer* from, vlLayer* to) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (vlBGPicButton* b = pic->buttons; b; b = b->next)
      if (b->layer == from) b->layer = to;
}

void DeleteButtonsOfLayer(vlVMState* L, vlLayer* layer) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next) DeleteLayerButton(L, pic, layer);
}

void ContentPosition(vlDisplay* d, int32_t x, int32_t y, int32_t* cx, int32_t* cy) {
  double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
  *cx = static_cast<int32_t>((x - d->contentOffsetX) / sx);
  *cy = static_cast<int32_t>((y - d->contentOffsetY) / sy);
}

void DeleteLayerButton(vlVMState* L, vlBGPic* pic, vlLayer* layer) {
  for (vlBGPicButton** link = &pic->buttons; *link; link = &(*link)->next) {
    if ((*link)->layer == layer) {
      vlBGPicButton* b = *link;
      *link = b->next;
      ReleaseButton(L, b);
      return;
    }
  }
}

void FreeBGPicButtons(vlVMState* L, vlBGPic* pic) {
  while (vlBGPicButton* b = pic->buttons) {
    pic->buttons = b->next;
    ReleaseButton(L, b);
  }
}

int CmdMakeButton(vlVMState* L) {
  CheckArgs(L, 3, 8, 0, 0);
  vlBGPic* pic = CurrentBGPic();
  if (!pic) return ERR_BGPICBUTTON;
  vlObjectId id;
  int automatic = GetObjectIDArgOpt(&id, L, 1);
  if (!automatic) {
    if (vlBGPicButton* old = Unlink(pic, id)) ReleaseButton(L, old);
  }
  int32_t type = vl::CheckIntArg(L, 2);
  int table;
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  vlLayer* layer = nullptr;
  uint32_t pixelExact = 0, hiddenCount = 0;
  if (type == VL_BUTTON_LAYER) {
    if (!CurrentDisplay() || !CurrentDisplay()->layersOn) return ERR_NOLAYERS;
    if (int status = GetLayerArg(L, 3, &layer)) return status;
    for (vlBGPicButton* b = pic->buttons; b; b = b->next)
      if (b->layer == layer) return ERR_WRONGUSAGE;
    pixelExact = vl::CheckIntArg(L, 4) != 0;
    hiddenCount = vl::CheckIntArg(L, 5) != 0;
    table = 6;
  } else if (type == VL_BUTTON_SIMPLE) {
    int32_t x = vl::CheckIntArg(L, 3), y = vl::CheckIntArg(L, 4);
    int32_t width = vl::CheckIntArg(L, 5), height = vl::CheckIntArg(L, 6);
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    x1 = ResolvePosX(x, width, pic->width, 0);
    y1 = ResolvePosY(y, height, pic->height, 0);
    // The far corner of a button reaching past 32 bits is the last place a
    // pointer can be.
    x2 = static_cast<int32_t>(std::min<int64_t>(int64_t{x1} + width - 1, INT32_MAX));
    y2 = static_cast<int32_t>(std::min<int64_t>(int64_t{y1} + height - 1, INT32_MAX));
    table = 7;
  } else {
    return ERR_WRONGUSAGE;
  }
  vl::CheckTableArg(L, table);
  int32_t refs[VL_BH_COUNT];
  bool any = false;
  for (int i = 0; i < VL_BH_COUNT; ++i) {
    vl::PushString(L, kButtonHandlerNames[i]);
    vl::RawGetTableValue(L, table);
    if (vl::GetTypeAt(L, -1) == VL_TFUNCTION) {
      refs[i] = vl::CreateRef(L, vl::kRegistryIndex);
      any = true;
    } else {
      vl::SetStackTop(L, -2);
      refs[i] = -1;
    }
  }
  auto release = [&] {
    for (int32_t ref : refs)
      if (ref >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, ref);
  };
  if (!any) {
    release();
    return ERR_WRONGUSAGE;
  }
  auto* b = static_cast<vlBGPicButton*>(AllocMemory(sizeof(vlBGPicButton), 1));
  if (!b) {
    release();
    return ERR_MEM;
  }
  b->id = automatic ? vlObjectId{0, b} : id;
  b->type = static_cast<uint32_t>(type);
  b->x1 = x1;
  b->y1 = y1;
  b->x2 = x2;
  b->y2 = y2;
  b->layer = layer;
  b->pixelExact = pixelExact;
  b->hiddenLayersCount = hiddenCount;
  if (layer) gButtonVM = L;
  b->enabled = 1;
  for (int i = 0; i < VL_BH_COUNT; ++i) b->handlers[i] = refs[i];
  b->userdataRef = -1;
  if (vl::GetTypeAt(L, table + 1) != -1) {
    vl::PushSlotCopy(L, table + 1);
    b->userdataRef = vl::CreateRef(L, vl::kRegistryIndex);
  }
  b->next = pic->buttons;
  pic->buttons = b;
  if (!automatic) return 0;
  vl::PushPointer(L, b);
  return 1;
}

int CmdDeleteButton(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlBGPicButton* b;
  if (int status = FindArgButton(L, &b)) return status;
  Unlink(CurrentBGPic(), b->id);
  ReleaseButton(L, b);
  return 0;
}

int CmdEnableButton(vlVMState* L) { return SetEnabled(L, 1); }
int CmdDisableButton(vlVMState* L) { return SetEnabled(L, 0); }

int CmdDumpButtons(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlBGPic* pic = CurrentBGPic();
  if (!pic) return ERR_BGPICBUTTON;
  int count = 0;
  for (vlBGPicButton* b = pic->buttons; b; b = b->next) ++count;
  PrintConsole("BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(vlBGPicButton): %d\nButtons: %d\n", pic->idNumber,
               static_cast<void*>(pic), 100, count);
  int position = 1;
  for (vlBGPicButton* b = pic->buttons; b; b = b->next, ++position)
    PrintConsole("(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", position, b->type, b->x1, b->y1, b->x2,
                 b->y2);
  return 0;
}

// BGPic buttons: making, finding, enabling, deleting and listing them, and
// the hit test the dispatcher uses. Depends on the display list and BGPic
// records, the position resolution and the VM's references.
#include "platform/event_buttons.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/position.h"
#include "platform/os.h"
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

vlBGPic* CurrentBGPic() { return vlCurrentDisplay ? vlCurrentDisplay->bgpic : nullptr; }

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

bool ButtonEligible(const vlBGPicButton* b) { return b->enabled && b->type == VL_BUTTON_SIMPLE; }

bool ButtonHit(const vlBGPicButton* b, int32_t x, int32_t y) {
  return x >= b->x1 && x <= b->x2 && y >= b->y1 && y <= b->y2;
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
  if (type == VL_BUTTON_LAYER) {
    // Layers are not part of this build: no layer can be named.
    return ERR_LAYERRANGE;
  } else if (type == VL_BUTTON_SIMPLE) {
    int32_t x = vl::CheckIntArg(L, 3), y = vl::CheckIntArg(L, 4);
    int32_t width = vl::CheckIntArg(L, 5), height = vl::CheckIntArg(L, 6);
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    x1 = ResolvePosX(x, width, pic->width, 1.0);
    y1 = ResolvePosY(y, height, pic->height, 1.0);
    x2 = x1 + width - 1;
    y2 = y1 + height - 1;
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

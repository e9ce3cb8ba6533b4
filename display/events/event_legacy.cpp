// Label-based handlers: the records, their commands, the label tests the
// dispatcher runs over the queue and the pointer, and the hovered record
// WhileMouseOn waits on.
// Depends on the pending-event queue, the key names, the display list and
// the VM's label table.
#include "display/events/event_legacy.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "display/events/event_dispatch.h"
#include "display/events/event_keys.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "vm/call.h"
#include "runtime/error_vm.h"
#include "runtime/event_queue.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/state.h"

uint32_t gLastLegacyKeyCode = 0;

namespace {

vlLegacyHandler* gLegacy = nullptr;
// ALL modes: click, right click, over, key down.
uint32_t gAllClick = 0, gAllRightClick = 0, gAllOver = 0, gAllKey = 0;
int32_t gLastLegacyId = 0;
vlLegacyHandler* gHovered = nullptr;

vlLegacyHandler* Find(uint32_t kind, int32_t id) {
  for (vlLegacyHandler* h = gLegacy; h; h = h->next)
    if (h->kind == kind && h->id == id) return h;
  return nullptr;
}

int Add(uint32_t kind, int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const char* key) {
  auto* h = static_cast<vlLegacyHandler*>(AllocMemory(sizeof(vlLegacyHandler), 1));
  if (!h) return ERR_MEM;
  if (key) {
    size_t n = std::strlen(key) + 1;
    h->key = static_cast<char*>(AllocMemory(n, 0));
    if (!h->key) {
      FreeMemory(h);
      return ERR_MEM;
    }
    std::memcpy(h->key, key, n);
  }
  h->kind = kind;
  h->id = id;
  h->x1 = x1;
  h->y1 = y1;
  h->x2 = x2;
  h->y2 = y2;
  h->enabled = 1;
  vlLegacyHandler** tail = &gLegacy;
  while (*tail) tail = &(*tail)->next;
  *tail = h;
  return 0;
}

int Modify(uint32_t kind, int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const char* key) {
  vlLegacyHandler* h = Find(kind, id);
  if (!h) return 0;
  h->x1 = x1;
  h->y1 = y1;
  h->x2 = x2;
  h->y2 = y2;
  if (key) {
    size_t n = std::strlen(key) + 1;
    auto* copy = static_cast<char*>(AllocMemory(n, 0));
    if (!copy) return ERR_MEM;
    std::memcpy(copy, key, n);
    FreeMemory(h->key);
    h->key = copy;
  }
  return 0;
}

void Remove(uint32_t kind, int32_t id) {
  for (vlLegacyHandler** link = &gLegacy; *link; link = &(*link)->next) {
    if ((*link)->kind == kind && (*link)->id == id) {
      vlLegacyHandler* h = *link;
      *link = h->next;
      if (gHovered == h) gHovered = nullptr;
      FreeMemory(h->key);
      FreeMemory(h);
      return;
    }
  }
}

bool Inside(const vlLegacyHandler* h, int32_t x, int32_t y) {
  return x >= h->x1 && x <= h->x2 && y >= h->y1 && y <= h->y2;
}

// The event's window position in content coordinates, to the nearest integer.
void RoundedContent(vlDisplay* d, uint32_t wx, uint32_t wy, int32_t* x, int32_t* y) {
  double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
  *x = static_cast<int32_t>(std::lround((static_cast<int32_t>(wx) - d->contentOffsetX) / sx));
  *y = static_cast<int32_t>(std::lround((static_cast<int32_t>(wy) - d->contentOffsetY) / sy));
}

// Sets the VM's jump to the label; false when the script has none.
bool JumpTo(vlVMState* L, const char* label) {
  int target = vl::FindLabel(L, label);
  if (target < 0) return false;
  L->g->labelJumpOffset = target - vl::CallPcWord(L);
  return true;
}

const char* LabelOf(const vlLegacyHandler* h, char* buffer, size_t size) {
  const char* base = nullptr;
  uint32_t all = 0;
  switch (h->kind) {
    case VL_LEGACY_CLICK: base = "ONBUTTONCLICK", all = gAllClick; break;
    case VL_LEGACY_RIGHTCLICK: base = "ONBUTTONRIGHTCLICK", all = gAllRightClick; break;
    case VL_LEGACY_OVER: base = "ONBUTTONOVER", all = gAllOver; break;
    default: base = "ONKEYDOWN", all = gAllKey; break;
  }
  if (all) std::snprintf(buffer, size, "%sALL", base);
  else std::snprintf(buffer, size, "%s%d", base, h->id);
  return buffer;
}

int32_t Int(vlVMState* L, int index) { return vl::CheckIntArg(L, index); }

int EnableCommand(vlVMState* L, uint32_t on) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t code = Int(L, 1), id = Int(L, 2);
  switch (code) {
    case 10:
      if (vlDisplay* d = CurrentDisplay()) {
        d->closeHandled = static_cast<int32_t>(on);
        // A display adapter closes its window itself unless told otherwise.
        SetAdapterCloseHandled(d, d->closeHandled);
      }
      break;
    case 11: gAllClick = on; break;
    case 12: gAllRightClick = on; break;
    case 13: gAllOver = on; break;
    case 14: gAllKey = on; break;
    default: break;
  }
  uint32_t kind = code == 11 ? VL_LEGACY_CLICK : code == 12 ? VL_LEGACY_RIGHTCLICK : code == 13 ? VL_LEGACY_OVER
                  : code == 14 ? VL_LEGACY_KEY : static_cast<uint32_t>(code);
  if (vlLegacyHandler* h = Find(kind, id)) h->enabled = on;
  return 0;
}

}  // namespace

bool HaveLegacyHandlers() { return gLegacy != nullptr; }

int TestLegacyLabels(vlVMState* L) {
  if (!gLegacy) return 0;
  vlEventMsg e;
  for (int index = 0; GetPendingEvent(index, &e, 0); ++index) {
    if (!e.display) continue;
    bool leftDown = e.type == VL_EVENT_LEFT_BUTTON && e.c;
    bool rightDown = e.type == VL_EVENT_RIGHT_BUTTON && e.c;
    bool keyDown = e.type == VL_EVENT_KEY && e.a;
    if (!leftDown && !rightDown && !keyDown) continue;
    int32_t x = 0, y = 0;
    if (!keyDown) RoundedContent(e.display, e.a, e.b, &x, &y);
    char name[2] = {static_cast<char>(e.c), 0};
    const char* keyName = keyDown ? LegacyKeyNameOfCode(e.c) : nullptr;
    if (keyDown && !keyName) keyName = name;
    for (vlLegacyHandler* h = gLegacy; h; h = h->next) {
      if (!h->enabled) continue;
      bool match = (leftDown && h->kind == VL_LEGACY_CLICK && Inside(h, x, y)) ||
                   (rightDown && h->kind == VL_LEGACY_RIGHTCLICK && Inside(h, x, y)) ||
                   (keyDown && h->kind == VL_LEGACY_KEY && h->key && CompareNoCase(h->key, keyName) == 0);
      if (!match) continue;
      char label[48];
      if (!JumpTo(L, LabelOf(h, label, sizeof label))) continue;
      gLastLegacyId = h->id;
      if (keyDown) gLastLegacyKeyCode = e.c;
      DropPendingEvents(L, index, 0);
      return 1;
    }
  }
  return 0;
}

int TestLegacyHover(vlVMState* L) {
  vlDisplay* d = CurrentDisplay();
  if (!gLegacy || !d || d->displayState != VL_DISPSTATE_OPEN) return 0;
  int32_t x, y;
  DisplayMouseContent(d, &x, &y);
  for (vlLegacyHandler* h = gLegacy; h; h = h->next) {
    if (!h->enabled || h->kind != VL_LEGACY_OVER || !Inside(h, x, y)) continue;
    char label[48];
    gHovered = h;
    gLastLegacyId = h->id;
    return JumpTo(L, LabelOf(h, label, sizeof label)) ? 1 : 0;
  }
  return 0;
}

void FreeLegacyHandlers() {
  while (vlLegacyHandler* h = gLegacy) {
    gLegacy = h->next;
    FreeMemory(h->key);
    FreeMemory(h);
  }
  gHovered = nullptr;
}

void ResetLegacyState() {
  FreeLegacyHandlers();
  gAllClick = gAllRightClick = gAllOver = gAllKey = 0;
  gLastLegacyId = 0;
}

int CmdCreateButton(vlVMState* L) {
  CheckArgs(L, 5, 5, 0, 0);
  int32_t id = Int(L, 1), x1 = Int(L, 2), y1 = Int(L, 3), x2 = Int(L, 4), y2 = Int(L, 5);
  for (uint32_t kind : {VL_LEGACY_OVER, VL_LEGACY_CLICK, VL_LEGACY_RIGHTCLICK})
    if (int status = Add(kind, id, x1, y1, x2, y2, nullptr)) return status;
  return 0;
}

int CmdModifyButton(vlVMState* L) {
  CheckArgs(L, 5, 5, 0, 0);
  int32_t id = Int(L, 1), x1 = Int(L, 2), y1 = Int(L, 3), x2 = Int(L, 4), y2 = Int(L, 5);
  for (uint32_t kind : {VL_LEGACY_OVER, VL_LEGACY_CLICK, VL_LEGACY_RIGHTCLICK}) Modify(kind, id, x1, y1, x2, y2, nullptr);
  return 0;
}

int CmdRemoveButton(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t id = Int(L, 1);
  for (uint32_t kind : {VL_LEGACY_OVER, VL_LEGACY_CLICK, VL_LEGACY_RIGHTCLICK}) Remove(kind, id);
  return 0;
}

int CmdCreateKeyDown(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t id = Int(L, 1);
  return Add(VL_LEGACY_KEY, id, 0, 0, 0, 0, vl::CheckStringArg(L, 2, nullptr));
}

int CmdModifyKeyDown(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t id = Int(L, 1);
  return Modify(VL_LEGACY_KEY, id, 0, 0, 0, 0, vl::CheckStringArg(L, 2, nullptr));
}

int CmdRemoveKeyDown(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  Remove(VL_LEGACY_KEY, Int(L, 1));
  return 0;
}

int CmdEnableEvent(vlVMState* L) { return EnableCommand(L, 1); }
int CmdDisableEvent(vlVMState* L) { return EnableCommand(L, 0); }

// Only the records go: the ALL modes and the last code are settings of
// their own, which records made afterwards still follow.
int CmdClearEvents(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  FreeLegacyHandlers();
  return 0;
}

int CmdGetEventCode(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, gLastLegacyId);
  return 1;
}

bool PointerOnHoveredLegacy(vlDisplay* d) {
  if (!gHovered || !d) return false;
  int32_t x, y;
  DisplayMouseContent(d, &x, &y);
  return Inside(gHovered, x, y);
}

void ForgetLegacyHover() { gHovered = nullptr; }

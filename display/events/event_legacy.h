// The older label-based event handlers: button rectangles and key records
// whose events make the main chunk jump to labels named after them.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlEventMsg;
struct vlDisplay;

enum : uint32_t {
  VL_LEGACY_OVER = 1,
  VL_LEGACY_CLICK = 2,
  VL_LEGACY_KEY = 3,
  VL_LEGACY_RIGHTCLICK = 5,
};

struct vlLegacyHandler {
  vlLegacyHandler* next;
  uint32_t kind;
  int32_t id;
  int32_t x1, y1, x2, y2;  // content coordinates, inclusive
  char* key;               // key records
  uint32_t enabled;
};

bool HaveLegacyHandlers();
// The queued events in order against the enabled records: when a label of
// a match exists, the VM's jump is set to it, the events up to the match
// are dropped and 1 is returned. Caller holds the queue mutex.
int TestLegacyLabels(vlVMState* state);
// The over records against the current display's pointer; 1 when a jump
// was set (the hovered record is remembered for WhileMouseOn).
int TestLegacyHover(vlVMState* state);
// Frees every record (ClearEvents); ResetLegacyState also forgets the ALL
// modes and the last code (the library's end).
void FreeLegacyHandlers();
void ResetLegacyState();
// The pointer is on the display's hovered over record (WhileMouseOn), and
// forgetting that record (BreakWhileMouseOn).
bool PointerOnHoveredLegacy(vlDisplay* display);
void ForgetLegacyHover();
// The key code of the last legacy key event (WhileKeyDown).
extern uint32_t gLastLegacyKeyCode;

int CmdCreateButton(vlVMState* state);
int CmdModifyButton(vlVMState* state);
int CmdRemoveButton(vlVMState* state);
int CmdCreateKeyDown(vlVMState* state);
int CmdModifyKeyDown(vlVMState* state);
int CmdRemoveKeyDown(vlVMState* state);
int CmdEnableEvent(vlVMState* state);
int CmdDisableEvent(vlVMState* state);
int CmdClearEvents(vlVMState* state);
int CmdGetEventCode(vlVMState* state);

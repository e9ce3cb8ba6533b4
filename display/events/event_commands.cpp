// The event commands that install handlers and read the input state of
// the current display: InstallEventHandler, the mouse, key and joystick
// queries, the quit switches, the waits for a button or key, and the
// queue and port commands. Depends on the display list, the dispatcher's
// handler slots, the input translation, the joysticks and the pump.
#include "display/events/event_commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "display/display.h"
#include "display/display_window.h"
#include "platform/display_adapter.h"
#include "display/events/event_dispatch.h"
#include "display/events/event_keys.h"
#include "display/events/event_legacy.h"
#include "platform/event_pump.h"
#include "display/events/event_types.h"
#include "platform/joysticks.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "platform/x11/x11_input.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/runtime_options.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

// Run-time options the sound side reads to post only wanted events.
enum : uint32_t {
  kOptSampleLoop = 12,
  kOptSampleEnd = 13,
  kOptMusicEnd = 18,
  kOptVideoEnd = 23,
};

vlDisplay* Current() { return CurrentDisplay(); }

// A field of the handler table: absent leaves the slot, a number removes
// the handler, a function replaces it; anything else is an argument error.
void ReadHandlerField(vlVMState* L, int table, const char* name, vlHandlerSlot* slot, bool haveUserdata) {
  char lower[64];
  std::snprintf(lower, sizeof lower, "%s", name);
  for (char* c = lower; *c; ++c) *c = static_cast<char>(FoldLower(static_cast<unsigned char>(*c)));
  vl::PushString(L, lower);
  vl::RawGetTableValue(L, table);
  int type = vl::GetTypeAt(L, -1);
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return;
  }
  bool remove = type == VL_TNUMBER;
  if (!remove && type != VL_TFUNCTION) {
    vl::SetStackTop(L, -2);
    vl::CheckFunctionArg(L, table);  // raises the argument error
    return;
  }
  if (slot->functionRef >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, slot->functionRef);
  if (remove) {
    vl::SetStackTop(L, -2);
    slot->functionRef = -1;
  } else {
    slot->functionRef = vl::CreateRef(L, vl::kRegistryIndex);
  }
  if (haveUserdata || remove) {
    if (slot->userdataRef >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, slot->userdataRef);
    slot->userdataRef = -1;
    if (haveUserdata) {
      vl::PushSlotCopy(L, 2);
      slot->userdataRef = vl::CreateRef(L, vl::kRegistryIndex);
    }
  }
}

bool AnyNetworkHandler() {
  for (int i = 4; i <= 7; ++i)
    if (gGlobalHandlers[i].functionRef != -1) return true;
  return false;
}

// The button word of the current display (0 left, 1 right, 2 middle).
int32_t ButtonWord(int which) {
  vlDisplay* d = Current();
  if (!d) return 0;
  return which == 0 ? d->leftButton : which == 1 ? d->rightButton : d->middleButton;
}

bool AnyKeyDown(vlDisplay* d) {
  for (uint8_t k : d->keyState)
    if (k) return true;
  return false;
}

// One wait and pump of the input waits; 1 to stop (status in *status).
int WaitAndPump(vlVMState* L, int* status, int* stopped) {
  if (int r = WaitForEvents(L, VL_PUMP_WAIT_INPUT, 0, nullptr)) {
    *status = r;
    return 1;
  }
  int error = 0;
  if (PumpEvents(L, VL_PUMP_WAIT_INPUT, 0, &error)) {
    *stopped = 1;
    *status = error;
    return 1;
  }
  return 0;
}

// Waits until pressed() (or wentDown(), a press already released), then
// until !pressed(); empties the queue.
template <typename Pressed, typename WentDown>
int WaitDownUp(vlVMState* L, Pressed pressed, WentDown wentDown) {
  int status = 0, stopped = 0;
  while (!pressed() && !wentDown()) {
    if (!WaitAndPump(L, &status, &stopped)) continue;
    // A quit while the button is still up leaves no input behind.
    if (stopped && !status && !pressed()) DropPendingEvents(L, -1, 1);
    return status;
  }
  while (pressed())
    if (WaitAndPump(L, &status, &stopped)) return status;
  DropPendingEvents(L, -1, 1);
  return 0;
}

// Waits for the press bits first .. first + count - 1 (a key, every key,
// a button) to go down and up again. The pump may take a quick click's
// or tap's press and release in one pass, leaving the state words as they
// were between passes: a press remembered since the wait began counts as
// having gone down.
template <typename Pressed>
int WaitPress(vlVMState* L, uint32_t first, uint32_t count, Pressed pressed) {
  if (vlDisplay* d = Current()) ForgetPresses(d, first, count);
  return WaitDownUp(L, pressed, [first, count] {
    vlDisplay* d = Current();
    return d && PressedSince(d, first, count);
  });
}

// A button's wait (0 left, 1 right, 2 middle).
int WaitButtonClick(vlVMState* L, int which) {
  return WaitPress(L, VL_PRESSED_LEFT + static_cast<uint32_t>(which), 1, [which] { return ButtonWord(which) != 0; });
}

template <typename Pressed>
int WhileDown(vlVMState* L, Pressed pressed) {
  int status = 0, stopped = 0;
  while (pressed())
    if (WaitAndPump(L, &status, &stopped)) return status;
  return 0;
}

int QuitSwitch(vlVMState* L, int option) {
  CheckArgs(L, 1, 1, 0, 0);
  SetPlatformOption(0, option, vl::CheckIntArg(L, 1) ? 1 : 0);
  return 0;
}

}  // namespace

int CmdInstallEventHandler(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  bool haveUserdata = vl::GetTypeAt(L, 2) != -1;
  vlDisplay* d = Current();
  bool networkBefore = AnyNetworkHandler();
  if (d)
    for (int i = 0; i < kDisplayHandlerCount; ++i)
      ReadHandlerField(L, 1, kDisplayHandlerNames[i], DisplayHandler(d, i), haveUserdata);
  for (int i = 0; i < kGlobalHandlerCount; ++i)
    ReadHandlerField(L, 1, kGlobalHandlerNames[i], &gGlobalHandlers[i], haveUserdata);
  for (vlEventType* t = FirstEventType(); t; t = t->next) ReadHandlerField(L, 1, t->name, &t->handler, haveUserdata);
  // The window is always a drop target and always watches the clipboard
  // owner; the handlers alone decide what the script sees.
  if (d) {
    d->hasMouseMoveHandler = DisplayHandler(d, VL_DH_MOUSEMOVE)->functionRef != -1;
    d->closeHandled = DisplayHandler(d, VL_DH_CLOSEWINDOW)->functionRef != -1;
    SetAdapterCloseHandled(d, d->closeHandled);
  }
  bool networkNow = AnyNetworkHandler();
  if (networkBefore && !networkNow) StopNetworkPolling(L, 1);
  if (!networkBefore && networkNow)
    if (int status = StartNetworkPolling(L, 1)) return status;
  SetRuntimeOption(L, kOptSampleLoop, static_cast<uint32_t>(gGlobalHandlers[0].functionRef != -1), kOptSampleEnd,
                   static_cast<uint32_t>(gGlobalHandlers[1].functionRef != -1), kOptMusicEnd,
                   static_cast<uint32_t>(gGlobalHandlers[2].functionRef != -1), kOptVideoEnd,
                   static_cast<uint32_t>(gGlobalHandlers[8].functionRef != -1), 0u);
  return 0;
}

int CmdMouseX(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  int32_t x = 0, y = 0;
  if (vlDisplay* d = Current()) DisplayMouseContent(d, &x, &y);
  vl::PushNumber(L, x);
  return 1;
}

int CmdMouseY(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  int32_t x = 0, y = 0;
  if (vlDisplay* d = Current()) DisplayMouseContent(d, &x, &y);
  vl::PushNumber(L, y);
  return 1;
}

int CmdIsLeftMouse(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, ButtonWord(0) ? 1 : 0);
  return 1;
}

int CmdIsRightMouse(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, ButtonWord(1) ? 1 : 0);
  return 1;
}

int CmdIsMidMouse(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, ButtonWord(2) ? 1 : 0);
  return 1;
}

int CmdIsKeyDown(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  vlDisplay* d = Current();
  int down = 0;
  if (CompareNoCase(name, "any") == 0) {
    down = d && AnyKeyDown(d);
  } else {
    uint32_t code = KeyCodeFromName(name, 1);
    if (!code) return ERR_WRONGUSAGE;
    if (code & 0x80000000u) down = d && (GetDisplayQualifiers(d) & code) == code;
    else down = d && code < kDisplayKeyCount && d->keyState[code];
  }
  vl::PushNumber(L, down ? 1 : 0);
  return 1;
}

int CmdResetKeyStates(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  if (vlDisplay* d = Current()) ResetDisplayCaches(d);
  return 0;
}

int CmdSetEventTimeout(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlEventAgeLimit = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  return 0;
}

int CmdFreeEventCache(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  DropPendingEvents(L, -1, 1);
  return 0;
}

int CmdBreakEventHandler(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  BreakDispatcherPass(L);
  return 0;
}

int CmdCtrlCQuit(vlVMState* L) { return QuitSwitch(L, VL_PLATOPT_CTRLC_QUIT); }
int CmdEscapeQuit(vlVMState* L) { return QuitSwitch(L, VL_PLATOPT_ESCAPE_QUIT); }
int CmdLeftMouseQuit(vlVMState* L) { return QuitSwitch(L, VL_PLATOPT_LMB_QUIT); }

int CmdJoyDir(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int direction = VL_JOY_CENTRE;
  if (int status = ReadJoystick(vl::CheckIntArg(L, 1), &direction, nullptr)) return status;
  vl::PushNumber(L, direction);
  return 1;
}

int CmdJoyFire(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  int32_t port = vl::CheckIntArg(L, 1);
  int32_t button = vl::OptIntArg(L, 2, 1);
  if (button < 0 || button > 32) return ERR_WRONGUSAGE;
  uint32_t buttons = 0;
  if (int status = ReadJoystick(port, nullptr, &buttons)) return status;
  vl::PushNumber(L, button == 0 ? buttons : ((buttons >> (button - 1)) & 1));
  return 1;
}

int CmdCountJoysticks(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  int count = 0;
  if (int status = OpenJoysticks(&count)) return status;
  vl::PushNumber(L, count);
  return 1;
}

int CmdCreatePort(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  size_t length = 0;
  vl::CheckStringArg(L, 1, &length);
  if (length > 127) return ERR_WRONGUSAGE;
  // No message ports on this platform.
  return ERR_CREATEPORT;
}

int CmdSendMessage(vlVMState* L) {
  CheckArgs(L, 2, 0, 0, 0);
  const char* port = vl::CheckStringArg(L, 1, nullptr);
  const char* message = vl::CheckStringArg(L, 2, nullptr);
  if (!*message || std::strchr(message, ' ')) return ERR_WRONGUSAGE;
  std::string text = message;
  for (int i = 3, n = vl::GetStackTop(L); i <= n; ++i) {
    text += " \"";
    text += vl::CheckStringArg(L, i, nullptr);
    text += '"';
  }
  // No port can be found on this platform.
  SetErrorArgument(port);
  return ERR_FINDPORT;
}

int CmdWaitLeftMouse(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return WaitButtonClick(L, 0);
}

int CmdWaitRightMouse(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return WaitButtonClick(L, 1);
}

int CmdWaitMidMouse(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return WaitButtonClick(L, 2);
}

int CmdWaitKeyDown(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  if (CompareNoCase(name, "any") == 0)
    return WaitPress(L, 0, kDisplayKeyCount, [] { return Current() && AnyKeyDown(Current()); });
  uint32_t code = KeyCodeFromName(name, 0);
  if (!code || code >= kDisplayKeyCount) return ERR_WRONGUSAGE;
  return WaitPress(L, code, 1, [code] { return Current() && Current()->keyState[code] != 0; });
}

int CmdWhileMouseDown(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return WhileDown(L, [] { return ButtonWord(0) != 0; });
}

int CmdWhileRightMouseDown(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return WhileDown(L, [] { return ButtonWord(1) != 0; });
}

int CmdWhileKeyDown(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return WhileDown(L, [] {
    return Current() && gLastLegacyKeyCode < kDisplayKeyCount && Current()->keyState[gLastLegacyKeyCode] != 0;
  });
}

int CmdBreakWhileMouseOn(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  ForgetLegacyHover();
  return 0;
}

int CmdWhileMouseOn(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  int result = 0;
  while (PointerOnHoveredLegacy(CurrentDisplay())) {
    vlCallbackMsg msg{};
    int top = vl::GetStackTop(L);
    int r = NextEventCallback(L, 1, &msg);
    if (r > 0) return r;
    if (r == -1) return -2;  // the VM jumps to the label selected
    if (msg.kind == VL_MSG_NONE) {
      if (int status = WaitForEvents(L, VL_PUMP_WAIT_INPUT, 0, nullptr)) return status;
      if (PumpEvents(L, VL_PUMP_WAIT_INPUT, 0, &result)) break;
      continue;
    }
    // A callback ran: its message table and results are not ours.
    vl::SetStackTop(L, top);
    PumpEvents(L, VL_PUMP_WAIT_INPUT, 0, &result);
    break;
  }
  return result;
}

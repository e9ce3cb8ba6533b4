// The script's handler slots: the names of the global and display slots,
// the global slots themselves and a display's, and the pointer position in
// content coordinates that mouse handlers report.
#include <cstdint>

#include "display/display.h"
#include "display/events/event_buttons.h"
#include "display/events/event_dispatch.h"
#include "platform/display_adapter.h"

const char* const kGlobalHandlerNames[kGlobalHandlerCount] = {
    "onsampleloop", "onsampleend",   "onmusicend",     "onarexx",
    "onconnect",    "ondisconnect",  "onreceivedata",  "onreceiveudpdata",
    "onvideoend",   "onusermessage", "fillmusicbuffer", "runfinished"};

const char* const kDisplayHandlerNames[kDisplayHandlerCount] = {
    "onkeydown",       "onkeyup",         "onmousemove",       "closewindow",
    "movewindow",      "sizewindow",      "activewindow",      "inactivewindow",
    "hidewindow",      "showwindow",      "onmousedown",       "onmouseup",
    "onrightmousedown", "onrightmouseup", "onwheeldown",       "onwheelup",
    "modeswitch",      "ondropfile",      "clipboardchange",   "onmidmousedown",
    "onmidmouseup",    "orientationchange", "showkeyboard",    "hidekeyboard",
    "hotkey",          "trayicon",        "ontouch",           "onapplicationmessage",
    "onmenuselect",    "ondockyclick"};

vlHandlerSlot gGlobalHandlers[kGlobalHandlerCount] = {
    {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1},
    {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};

vlHandlerSlot* DisplayHandler(vlDisplay* display, int slot) {
  static_assert(sizeof(vlHandlerSlot) == 2 * sizeof(int32_t));
  static_assert(kDisplayHandlerSlots == 2 * kDisplayHandlerCount);
  return reinterpret_cast<vlHandlerSlot*>(&display->handlers[slot * 2]);
}

void DisplayMouseContent(vlDisplay* display, int32_t* x, int32_t* y) {
  int32_t px = 0, py = 0;
  GetDisplayMousePos(display, &px, &py);
  ContentPosition(display, px, py, x, y);
}

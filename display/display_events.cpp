// Draining the X connections: expose redraws and pending frames.
#include "display/display_events.h"

#include <X11/Xlib.h>

#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "platform/event_pump.h"
#include "platform/os.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_window.h"

namespace {

vlDisplay* DisplayOfXWindow(Window w) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    if (d->window && d->window->window == w) return d;
  return nullptr;
}

}  // namespace

int DrainDisplayEvents(vlVMState* L, int* error) {
  *error = FlushPendingDisplayFrames(L);
  if (*error) return 1;
  vlTimeVal start, now;
  GetSysTime(&start);
  // The pump runs after every script line: the server is asked for new
  // events (a system call) at most every 5 ms; events Xlib already holds
  // are handled at once.
  static vlTimeVal lastPoll{};
  vlTimeVal since = start;
  SubTimeVal(&since, &lastPoll);
  const bool poll = since.seconds > 0 || since.micros >= 5000;
  if (poll) lastPoll = start;
  for (vlX11Connection* c = FirstX11Connection(); c; c = c->next) {
    while (XEventsQueued(c->display, poll ? QueuedAfterFlush : QueuedAlready) > 0) {
      XEvent event;
      XNextEvent(c->display, &event);
      if (event.type == Expose) {
        vlDisplay* d = DisplayOfXWindow(event.xexpose.window);
        if (d && d->back && d->displayState == VL_DISPSTATE_OPEN && (d->scaleX != 1.0 || d->scaleY != 1.0))
          RefreshDisplayObject(L, d, 0);
        else if (d && d->back && d->displayState == VL_DISPSTATE_OPEN)
          UpdateDisplayRect(d->back, event.xexpose.x - d->contentOffsetX, event.xexpose.y - d->contentOffsetY, d,
                            event.xexpose.x - d->contentOffsetX, event.xexpose.y - d->contentOffsetY,
                            event.xexpose.width, event.xexpose.height, 0);
      }
      GetSysTime(&now);
      SubTimeVal(&now, &start);
      if (now.seconds > 0 || now.micros > 50000) {
        SetSkipNextWait();
        return QuitRequested();
      }
    }
  }
  return QuitRequested();
}

void InstallDisplayEventDrain() { gInputBackend.handleInput = DrainDisplayEvents; }

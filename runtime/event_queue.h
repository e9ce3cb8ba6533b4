// The pending-event queue: platform events posted from any thread as
// vlEventMsg records, read by index and dropped from the head by the main
// thread's dispatcher, expired when they waited too long.
#pragma once
#include <cstdint>

#include "runtime/os.h"
#include "runtime/threads.h"

struct vlDisplay;
struct vlVMState;

// Event types the queue treats specially (the dispatcher knows the rest).
enum : uint32_t {
  VL_EVENT_IGNORED = 0,  // a superseded size-window event
  VL_EVENT_LEFT_BUTTON = 1,
  VL_EVENT_RIGHT_BUTTON = 2,
  VL_EVENT_KEY = 3,
  VL_EVENT_SIZE_WINDOW = 5,
  VL_EVENT_DROPPED_FILE = 14,
  VL_EVENT_MIDDLE_BUTTON = 16,
  VL_EVENT_TOUCH = 22,
  VL_EVENT_MENU = 26,
  VL_EVENT_FIRST_REGISTERED = 28,  // event types that plug-ins register
};

struct vlEventMsg {
  vlEventMsg* next;
  uint32_t type;
  uint32_t a;  // x, key code, ...
  uint32_t b;  // y, qualifiers, ...
  uint32_t c;  // button-down flag, menu selection, ...
  vlTimeVal stamp;     // when it was posted
  vlDisplay* display;  // the display it concerns, or null
  void* extra;         // a block the event owns, or a fourth value
};

struct vlEventQueue {
  vlEventMsg* head;  // oldest first
  uint32_t enabled;  // read and written under the mutex only
  vlMutex* mutex;    // recursive
};

// Events older than this many milliseconds are expired.
extern uint32_t vlEventAgeLimit;

// The queue; the dispatcher holds its mutex around reads and drops.
vlEventQueue* GetEventQueue();

// Creates the queue and its mutex and takes the start date stamp. 0, or
// 1298 when the mutex cannot be made.
int InitEventQueue();
// Removes every event with its data and disables posting; the mutex stays
// until FreeEventQueueMutex.
void FreeEventQueue(vlVMState* state);
void FreeEventQueueMutex();

// Appends an event. 1 when queued, 0 when the queue is missing or disabled
// or the event was dropped, -1 when out of memory. Any thread.
int PostEvent(vlDisplay* display, uint32_t type, uint32_t a, uint32_t b, uint32_t c, void* extra);

// Copies the event at index (0 = head) into out: display, type and extra
// always, the arguments that its type carries. With take the queued
// event's extra field is cleared, so the caller owns the block. index + 1,
// or 0 past the end. Takes no lock.
int GetPendingEvent(int index, vlEventMsg* out, int take);

// Removes the events at positions 0 to n (all with n = -1), releasing their
// data. With lock set it takes the queue mutex itself. 0.
int DropPendingEvents(vlVMState* state, int n, int lock);
// Drops the events at the head that are older than the age limit. 0.
int ExpirePendingEvents(vlVMState* state);
// Clears the display of every queued event that names it, and the watched
// holder below when it holds that display.
void ForgetEventTarget(vlDisplay* display);
// A display pointer kept outside the queue across script callbacks (the
// dispatcher's event under way): a display freed meanwhile leaves it null.
// Null stops the watch.
void WatchEventTarget(vlDisplay** holder);

// Releases a queued event's extra data by its type: engine types through
// the memory release routine, registered types through their own free
// callback (installed by the event-type registry).
using vlRegisteredEventFree = void (*)(vlVMState* state, uint32_t type, void* data);
void SetRegisteredEventFree(vlRegisteredEventFree fn);
void FreeEventData(vlVMState* state, uint32_t type, void* data);

// The display flags the queue reads (bits 6 and 8: the display scales its
// output). Installed by the display code; until then no display scales.
using vlDisplayFlagsReader = uint32_t (*)(const vlDisplay* display);
void SetEventDisplayFlagsReader(vlDisplayFlagsReader fn);

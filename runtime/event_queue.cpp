// The pending-event queue: one list under one recursive mutex, posted to
// from the X event handler and worker threads, read and dropped by the
// main thread. Depends on the platform's memory, time and mutexes, and on
// the error system's source-file buffer and the start date stamp.
#include "runtime/event_queue.h"

#include "runtime/errors.h"
#include "runtime/file_stat.h"
#include "vm/error_codes.h"

uint32_t vlEventAgeLimit = 60000;

namespace {

vlEventQueue gQueue;
vlRegisteredEventFree gRegisteredFree = nullptr;
vlDisplayFlagsReader gDisplayFlags = nullptr;
// The dispatcher's display of the event under way (WatchEventTarget).
vlDisplay** gWatchedTarget = nullptr;

// Bits 6 and 8 of a display's flags: its output is scaled, so the window
// size it reports is not the script's to follow.
constexpr uint32_t kScalingFlags = (1u << 6) | (1u << 8);

// Copies out the fields that an event of this type carries.
void CopyEvent(const vlEventMsg* e, vlEventMsg* out) {
  *out = vlEventMsg{};
  out->display = e->display;
  out->type = e->type;
  out->extra = e->extra;
  out->stamp = e->stamp;
  switch (e->type) {
    case VL_EVENT_LEFT_BUTTON:
    case VL_EVENT_RIGHT_BUTTON:
    case VL_EVENT_MIDDLE_BUTTON:
    case VL_EVENT_KEY:
      out->a = e->a;
      out->b = e->b;
      out->c = e->c;
      break;
    case VL_EVENT_DROPPED_FILE:
    case VL_EVENT_TOUCH:
      out->a = e->a;
      out->b = e->b;
      break;
    case VL_EVENT_MENU:
      out->c = e->c;
      break;
    default:
      break;
  }
}

// Milliseconds from stamp to now; a stamp in the future (the clock was set
// back) counts as age 0 rather than as a huge unsigned age.
uint64_t AgeMillis(const vlTimeVal& now, const vlTimeVal& stamp) {
  if (CompareTimeVal(&now, &stamp) < 0) return 0;
  vlTimeVal age = now;
  SubTimeVal(&age, &stamp);
  return uint64_t{age.seconds} * 1000 + age.micros / 1000;
}

struct QueueLock {
  explicit QueueLock(bool take) : held(take && gQueue.mutex) {
    if (held) LockMutex(gQueue.mutex);
  }
  ~QueueLock() {
    if (held) UnlockMutex(gQueue.mutex);
  }
  bool held;
};

}  // namespace

vlEventQueue* GetEventQueue() { return &gQueue; }

int InitEventQueue() {
  if (!gQueue.mutex) {
    gQueue.mutex = CreateMutex();
    if (!gQueue.mutex) return ERR_SEMAPHORE;
  }
  QueueLock lock(true);
  SetErrorSourceFile("?");
  CaptureStartDateStamp();
  gQueue.enabled = 1;
  return 0;
}

void FreeEventQueue(vlVMState* state) {
  if (!gQueue.mutex) return;
  QueueLock lock(true);
  DropPendingEvents(state, -1, 0);
  gQueue.head = nullptr;
  gQueue.enabled = 0;
}

void FreeEventQueueMutex() {
  FreeMutex(gQueue.mutex);
  gQueue.mutex = nullptr;
}

int PostEvent(vlDisplay* display, uint32_t type, uint32_t a, uint32_t b, uint32_t c, void* extra) {
  if (!gQueue.mutex) return 0;
  QueueLock lock(true);
  if (!gQueue.enabled) return 0;
  if (type == VL_EVENT_SIZE_WINDOW) {
    if (display && gDisplayFlags && (gDisplayFlags(display) & kScalingFlags)) return 0;
    // Only the newest size of each display counts; another display's
    // size is news of its own.
    for (vlEventMsg* e = gQueue.head; e; e = e->next)
      if (e->type == VL_EVENT_SIZE_WINDOW && e->display == display) e->type = VL_EVENT_IGNORED;
  }
  auto* msg = static_cast<vlEventMsg*>(AllocMemory(sizeof(vlEventMsg), 1));
  if (!msg) return -1;
  msg->display = display;
  msg->type = type;
  msg->a = a;
  msg->b = b;
  msg->c = c;
  msg->extra = extra;
  GetSysTime(&msg->stamp);
  vlEventMsg** tail = &gQueue.head;
  while (*tail) tail = &(*tail)->next;
  *tail = msg;
  return 1;
}

int GetPendingEvent(int index, vlEventMsg* out, int take) {
  if (index < 0) return 0;
  vlEventMsg* e = gQueue.head;
  for (int i = 0; e && i < index; ++i) e = e->next;
  if (!e) return 0;
  CopyEvent(e, out);
  if (take) e->extra = nullptr;
  return index + 1;
}

int DropPendingEvents(vlVMState* state, int n, int lock) {
  QueueLock held(lock != 0);
  for (int i = 0; gQueue.head && (n < 0 || i <= n); ++i) {
    vlEventMsg* e = gQueue.head;
    gQueue.head = e->next;
    FreeEventData(state, e->type, e->extra);
    FreeMemory(e);
  }
  return 0;
}

int ExpirePendingEvents(vlVMState* state) {
  if (!gQueue.mutex) return 0;
  QueueLock lock(true);
  vlTimeVal now;
  GetSysTime(&now);
  int old = 0;
  for (vlEventMsg* e = gQueue.head; e && AgeMillis(now, e->stamp) > vlEventAgeLimit; e = e->next) ++old;
  if (old > 0) DropPendingEvents(state, old - 1, 0);
  return 0;
}

void WatchEventTarget(vlDisplay** holder) { gWatchedTarget = holder; }

void ForgetEventTarget(vlDisplay* display) {
  if (display && gWatchedTarget && *gWatchedTarget == display) *gWatchedTarget = nullptr;
  if (!gQueue.mutex || !display) return;
  QueueLock lock(true);
  for (vlEventMsg* e = gQueue.head; e; e = e->next)
    if (e->display == display) e->display = nullptr;
}

void SetRegisteredEventFree(vlRegisteredEventFree fn) { gRegisteredFree = fn; }

void FreeEventData(vlVMState* state, uint32_t type, void* data) {
  if (!data) return;
  if (type < VL_EVENT_FIRST_REGISTERED) FreeMemory(data);
  else if (gRegisteredFree) gRegisteredFree(state, type, data);
}

void SetEventDisplayFlagsReader(vlDisplayFlagsReader fn) { gDisplayFlags = fn; }

// The sender run before the drawing thread blocks; see blocking.h.
#include "runtime/blocking.h"

#include <atomic>

namespace {

std::atomic<void (*)()> gSend{nullptr};
// Other threads sleep for their own reasons and may not touch the screen.
thread_local bool tDraws = false;
thread_local bool tSending = false;

}  // namespace

void SetBeforeBlocking(void (*send)()) {
  gSend.store(send);
  tDraws = send != nullptr;
}

void BeforeBlocking() {
  if (!tDraws || tSending) return;
  void (*send)() = gSend.load();
  if (!send) return;
  // Sending may itself wait (for the server): no second round.
  tSending = true;
  send();
  tSending = false;
}

// The wake pipe: other threads and signal handlers wake the main thread's
// blocking wait by writing one whole message into it.
#pragma once
#include <atomic>
#include <cstdint>

enum : uint32_t {
  VL_WAKE_WAKE = 0,           // only ends the wait
  VL_WAKE_TIMER = 1,          // a script timer fired; value = its token
  VL_WAKE_POINTER_MOVED = 2,  // value = the X connection
  VL_WAKE_STOP_RELAY = 3,     // ends the signal relay
};

// Written and read whole: one write() of sizeof(vlWakeMsg) bytes.
struct vlWakeMsg {
  uint32_t type;
  uintptr_t value;
};

// Makes the pipe (once; later calls keep it), both ends non-blocking.
// 1 on success; the ends go to the optional outs.
int CreateWakePipe(int* readEnd, int* writeEnd);
int OpenWakePipe();  // 0 or ERR_PIPE
void CloseWakePipe();
int GetWakePipeReadEnd();
// One write() of a message; safe in signal handlers. Bytes written (0 when
// the pipe is full or missing).
int PostWakeMessage(uint32_t type, uintptr_t value);
// Wakes the event loop: through the display adapter when one is installed,
// else with a wake message. 0.
int WakeEventLoop();

// Keeps at most one message of a kind in flight per source (pointer moves
// come every 20 ms; a full pipe would drop timer messages).
struct vlWakeCoalescer {
  std::atomic<uint32_t> pending{0};
};
// Posts the message unless one from this source is still unread; 1 when a
// message is (now or still) pending.
int PostCoalescedWake(vlWakeCoalescer* source, uint32_t type, uintptr_t value);
// The reader's side, once it took the message.
void ClearCoalescedWake(vlWakeCoalescer* source);

// What one drain of the pipe read, by message type.
struct vlWakeCounts {
  int wakes;
  int timers;
  int pointers;
  int stops;
};
// Reads every whole message now in the pipe and acts on it: timer
// messages flag their timer, pointer moves go to the pointer hook.
// Afterwards expired one-shot timers are flagged even when their message
// was lost, and queued audio-timer signals are delivered.
vlWakeCounts DrainWakePipe();
// Blocks until the pipe or one of the extra descriptors is readable, then
// drains the pipe. 0.
int WaitForWake(const int* extraFds, int count);

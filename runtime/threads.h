// Threads, recursive mutexes, signalled conditions and worker threads with a
// start-up handshake. Every thread of the system starts through SpawnThread.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>

// Threads -----------------------------------------------------------------
using vlThreadId = pthread_t;  // 0 = no thread
using vlThreadBody = void* (*)(void* argument);
// Priority 0: default scheduling; any other: round-robin real-time with
// that priority. Returns the thread id, 0 when no thread started.
vlThreadId SpawnThread(vlThreadBody body, void* argument, int priority);
int JoinThread(vlThreadId thread);  // 0 when joined

// Locks and conditions ----------------------------------------------------
// Every lock of the engine is recursive.
struct vlMutex {
  pthread_mutex_t mutex;
};
vlMutex* CreateMutex();  // null when out of memory
void FreeMutex(vlMutex* mutex);
void LockMutex(vlMutex* mutex);
void UnlockMutex(vlMutex* mutex);
int TryLockMutex(vlMutex* mutex);  // 1 when taken without waiting

// A signalled flag: a signal before the wait is not lost.
struct vlCondition {
  uint32_t signalled;
  pthread_cond_t condition;
};
vlCondition* CreateCondition();
int WaitCondition(vlCondition* condition, vlMutex* held);  // 0
void SignalCondition(vlCondition* condition);
void FreeCondition(vlCondition* condition);

// Workers -------------------------------------------------------------------
using vlWorkerBody = void (*)(void* start);  // start is the body's vlWorker

struct vlWorker {
  vlThreadId thread;
  pthread_cond_t startCondition;
  pthread_mutex_t startMutex;  // recursive
  void* userData;
  uint32_t startResult;  // 0 = started well
  uint32_t started;      // under startMutex
  std::atomic<uint32_t> stopRequest;
  std::atomic<uint32_t> quit;
  vlWorkerBody body;
};

// Starts body on a new thread and returns once the body reported its start;
// null when no thread started, when the body reported a failure, or when it
// ended without reporting (the thread is joined first). name and stack size
// are not used on this platform.
vlWorker* CreateWorker(const char* name, vlWorkerBody body, void* userData, uintptr_t spare,
                       size_t stackSize, int priority);
vlWorker* GetWorkerSelf(void* start);
void* GetWorkerUserData(vlWorker* worker);
void ReportWorkerStarted(vlWorker* worker);
// Stores result; a non-zero result also ends the creator's wait.
void ReportWorkerResult(vlWorker* worker, uint32_t result);
uint32_t GetWorkerStopFlag(vlWorker* worker);
void SetWorkerStopFlag(vlWorker* worker);
// Body side: returns once the owner called FreeWorker.
void WaitWorkerQuit(vlWorker* worker);
uint32_t GetWorkerQuitFlag(vlWorker* worker);
// Sets the quit flag, joins the thread and frees the record.
void FreeWorker(vlWorker* worker);
// holder's second word is the worker: asks it to stop, then frees it.
void StopWorker(void* holder);

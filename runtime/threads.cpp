// Thread start, recursive mutexes, signalled conditions and the worker
// handshake. Depends on pthreads and os.h (memory).
#include "runtime/threads.h"

#include <new>
#include <sched.h>
#include <unistd.h>

#include "runtime/os.h"

vlThreadId SpawnThread(vlThreadBody body, void* argument, int priority) {
  pthread_t thread{};
  int failed;
  if (priority == 0) {
    failed = pthread_create(&thread, nullptr, body, argument);
  } else {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return 0;
    // The scheduler is still inherited unless the attributes say otherwise,
    // so an unprivileged process gets its thread all the same.
    pthread_attr_setschedpolicy(&attributes, SCHED_RR);
    sched_param parameter{};
    parameter.sched_priority = priority;
    pthread_attr_setschedparam(&attributes, &parameter);
    failed = pthread_create(&thread, &attributes, body, argument);
    pthread_attr_destroy(&attributes);
  }
  return failed ? 0 : thread;
}

int JoinThread(vlThreadId thread) { return pthread_join(thread, nullptr); }

namespace {

bool InitRecursive(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  bool ok = pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

}  // namespace

vlMutex* CreateMutex() {
  auto* mutex = static_cast<vlMutex*>(AllocMemory(sizeof(vlMutex), 1));
  if (!mutex) return nullptr;
  if (!InitRecursive(&mutex->mutex)) {
    FreeMemory(mutex);
    return nullptr;
  }
  return mutex;
}

void FreeMutex(vlMutex* mutex) {
  if (!mutex) return;
  pthread_mutex_destroy(&mutex->mutex);
  FreeMemory(mutex);
}

void LockMutex(vlMutex* mutex) { pthread_mutex_lock(&mutex->mutex); }
void UnlockMutex(vlMutex* mutex) { pthread_mutex_unlock(&mutex->mutex); }
int TryLockMutex(vlMutex* mutex) { return pthread_mutex_trylock(&mutex->mutex) == 0 ? 1 : 0; }

vlCondition* CreateCondition() {
  auto* condition = static_cast<vlCondition*>(AllocMemory(sizeof(vlCondition), 1));
  if (!condition) return nullptr;
  if (pthread_cond_init(&condition->condition, nullptr) != 0) {
    FreeMemory(condition);
    return nullptr;
  }
  return condition;
}

int WaitCondition(vlCondition* condition, vlMutex* held) {
  while (condition->signalled == 0) pthread_cond_wait(&condition->condition, &held->mutex);
  condition->signalled = 0;
  return 0;
}

void SignalCondition(vlCondition* condition) {
  condition->signalled = 1;
  pthread_cond_signal(&condition->condition);
}

void FreeCondition(vlCondition* condition) {
  if (!condition) return;
  pthread_cond_destroy(&condition->condition);
  FreeMemory(condition);
}

namespace {

// Status of a body that ended without saying whether it started.
constexpr uint32_t kEndedUnreported = 1;

void MarkStarted(vlWorker* worker, uint32_t result, bool onlyIfUnreported) {
  pthread_mutex_lock(&worker->startMutex);
  if (!onlyIfUnreported || !worker->started) {
    if (onlyIfUnreported || result != 0) worker->startResult = result;
    worker->started = 1;
    pthread_cond_signal(&worker->startCondition);
  }
  pthread_mutex_unlock(&worker->startMutex);
}

void* WorkerTrampoline(void* argument) {
  auto* worker = static_cast<vlWorker*>(argument);
  worker->body(worker);
  // A body that returns without reporting must not leave its creator
  // waiting for ever.
  MarkStarted(worker, kEndedUnreported, true);
  return nullptr;
}

void DestroyWorker(vlWorker* worker) {
  pthread_mutex_destroy(&worker->startMutex);
  pthread_cond_destroy(&worker->startCondition);
  worker->~vlWorker();
  FreeMemory(worker);
}

}  // namespace

vlWorker* CreateWorker(const char*, vlWorkerBody body, void* userData, uintptr_t, size_t,
                       int priority) {
  void* memory = AllocMemory(sizeof(vlWorker), 1);
  if (!memory) return nullptr;
  auto* worker = new (memory) vlWorker{};
  worker->userData = userData;
  worker->body = body;
  if (!InitRecursive(&worker->startMutex)) {
    worker->~vlWorker();
    FreeMemory(memory);
    return nullptr;
  }
  if (pthread_cond_init(&worker->startCondition, nullptr) != 0) {
    pthread_mutex_destroy(&worker->startMutex);
    worker->~vlWorker();
    FreeMemory(memory);
    return nullptr;
  }
  // The id is written before the thread can look at the record.
  pthread_mutex_lock(&worker->startMutex);
  worker->thread = SpawnThread(WorkerTrampoline, worker, priority);
  if (!worker->thread) {
    pthread_mutex_unlock(&worker->startMutex);
    DestroyWorker(worker);
    return nullptr;
  }
  while (!worker->started) pthread_cond_wait(&worker->startCondition, &worker->startMutex);
  uint32_t result = worker->startResult;
  pthread_mutex_unlock(&worker->startMutex);
  if (result != 0) {
    JoinThread(worker->thread);
    DestroyWorker(worker);
    return nullptr;
  }
  return worker;
}

vlWorker* GetWorkerSelf(void* start) { return static_cast<vlWorker*>(start); }
void* GetWorkerUserData(vlWorker* worker) { return worker->userData; }
void ReportWorkerStarted(vlWorker* worker) { MarkStarted(worker, 0, false); }

void ReportWorkerResult(vlWorker* worker, uint32_t result) {
  pthread_mutex_lock(&worker->startMutex);
  worker->startResult = result;
  if (result != 0) {
    worker->started = 1;
    pthread_cond_signal(&worker->startCondition);
  }
  pthread_mutex_unlock(&worker->startMutex);
}

uint32_t GetWorkerStopFlag(vlWorker* worker) { return worker->stopRequest.load(); }
void SetWorkerStopFlag(vlWorker* worker) { worker->stopRequest.store(1); }
uint32_t GetWorkerQuitFlag(vlWorker* worker) { return worker->quit.load(); }

void WaitWorkerQuit(vlWorker* worker) {
  while (!worker->quit.load()) usleep(1000);
}

void FreeWorker(vlWorker* worker) {
  if (!worker) return;
  worker->quit.store(1);
  JoinThread(worker->thread);
  DestroyWorker(worker);
}

void StopWorker(void* holder) {
  if (!holder) return;
  vlWorker* worker = static_cast<vlWorker**>(holder)[1];
  if (!worker) return;
  SetWorkerStopFlag(worker);
  FreeWorker(worker);
}

// The band workers: helper threads started on the first large job and kept
// waiting for the next. Bands are claimed one by one from a shared counter
// by the caller and the helpers alike, so a helper that the system does not
// schedule in time costs nothing but its share of the speed-up: the caller
// then runs the bands itself and waits only for bands a helper has begun.
#include "graphics/band_workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sched.h>
#include <unistd.h>
#include <new>
#include <thread>

#include "runtime/threads.h"

namespace {

constexpr int32_t kMostHelpers = 3;
// Bands of at least this many pixels, so the counter is not fought over.
constexpr int64_t kBandPixels = int64_t{1} << 15;

struct Pool {
  std::mutex lock;  // guards the job's description and the helpers' wake-up
  std::condition_variable wake, finished;
  uint32_t generation = 0;
  vlBandFn fn = nullptr;
  void* context = nullptr;
  int32_t rows = 0, bandRows = 0, bands = 0;
  // The job's generation in the high half and its next band in the low
  // one: a helper that wakes after its job has ended claims nothing.
  std::atomic<uint64_t> next{0};
  std::atomic<int32_t> done{0};
  int32_t helpers = 0;  // started
};

struct Job {
  uint32_t generation;
  vlBandFn fn;
  void* context;
  int32_t rows, bandRows, bands;
};

Pool* gPool = nullptr;  // made once and kept: helpers wait on it until the process ends
std::mutex gStart;      // guards gPool and starting helpers
std::atomic<bool> gBusy{false};
std::atomic<int32_t> gLimit{-1};
std::atomic<int64_t> gFromBytes{-1};

bool FastPathsSay(const char* word) {
  const char* env = std::getenv("VL_FASTPATHS");
  return env && std::strstr(env, word);
}

// VL_FASTPATHS=off (every fast path) or nobands keeps every job whole, so
// results and speed can be compared.
int32_t DefaultHelpers() {
  if (FastPathsSay("off") || FastPathsSay("nobands")) return 0;
  // The cores this process may run on, not all the machine has.
  cpu_set_t allowed;
  const int cores = sched_getaffinity(0, sizeof allowed, &allowed) == 0
                        ? CPU_COUNT(&allowed)
                        : static_cast<int>(std::thread::hardware_concurrency());
  return cores <= 1 ? 0 : std::min<int32_t>(kMostHelpers, cores - 1);
}

// Helpers pay once the job's pixels no longer fit the caller's own cache;
// measured, the split starts to win between two and two and a half times
// its size.
int64_t DefaultFromBytes() {
  if (FastPathsSay("bands") && !FastPathsSay("nobands")) return 0;
  const long level2 = sysconf(_SC_LEVEL2_CACHE_SIZE);
  const int64_t cache = level2 > 0 ? level2 : int64_t{1} << 20;
  return cache * 5 / 2;
}

bool Claim(Pool& p, uint32_t generation, int32_t bands, int32_t* band) {
  uint64_t n = p.next.load(std::memory_order_acquire);
  for (;;) {
    if (static_cast<uint32_t>(n >> 32) != generation || static_cast<int32_t>(static_cast<uint32_t>(n)) >= bands)
      return false;
    if (p.next.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) {
      *band = static_cast<int32_t>(static_cast<uint32_t>(n));
      return true;
    }
  }
}

void RunBands(Pool& p, const Job& j) {
  int32_t band;
  while (Claim(p, j.generation, j.bands, &band)) {
    const int32_t first = band * j.bandRows;
    j.fn(j.context, first, std::min(j.rows, first + j.bandRows));
    if (p.done.fetch_add(1, std::memory_order_acq_rel) + 1 == j.bands) {
      std::lock_guard<std::mutex> g(p.lock);
      p.finished.notify_all();
    }
  }
}

void* HelperMain(void* argument) {
  // Process signals go to the threads that wait for them, never here.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  Pool& p = *static_cast<Pool*>(argument);
  uint32_t seen = 0;
  std::unique_lock<std::mutex> l(p.lock);
  for (;;) {
    p.wake.wait(l, [&] { return p.generation != seen; });
    seen = p.generation;
    const Job j{p.generation, p.fn, p.context, p.rows, p.bandRows, p.bands};
    l.unlock();
    RunBands(p, j);
    l.lock();
  }
  return nullptr;
}

// The pool with up to want helpers started (fewer when threads cannot
// start); null when none could.
Pool* PoolWith(int32_t want) {
  std::lock_guard<std::mutex> g(gStart);
  if (!gPool) gPool = new (std::nothrow) Pool;
  if (!gPool) return nullptr;
  while (gPool->helpers < want) {
    if (!SpawnThread(HelperMain, gPool, 0)) break;
    std::lock_guard<std::mutex> l(gPool->lock);
    ++gPool->helpers;
  }
  return gPool->helpers ? gPool : nullptr;
}

}  // namespace

int32_t SetBandHelpers(int32_t count) { return gLimit.exchange(count < 0 ? -1 : std::min(count, kMostHelpers)); }
int64_t SetBandFromBytes(int64_t bytes) { return gFromBytes.exchange(bytes < 0 ? -1 : bytes); }

int64_t BandFromBytes() {
  static const int64_t kDefault = DefaultFromBytes();
  const int64_t set = gFromBytes.load(std::memory_order_relaxed);
  return set < 0 ? kDefault : set;
}

void RunInBands(int32_t rows, int64_t pixels, int64_t bytes, vlBandFn fn, void* context) {
  if (rows <= 0) return;
  static const int32_t kDefault = DefaultHelpers();
  int32_t want = gLimit.load(std::memory_order_relaxed);
  if (want < 0) want = kDefault;
  if (want == 0 || rows < 2 || pixels < kBandFromPixels || bytes < BandFromBytes() ||
      gBusy.exchange(true, std::memory_order_acquire)) {
    fn(context, 0, rows);
    return;
  }
  Pool* p = PoolWith(want);
  if (!p) {
    gBusy.store(false, std::memory_order_release);
    fn(context, 0, rows);
    return;
  }
  // Bands of kBandPixels or more, and about eight a thread: enough to
  // even out a helper that starts late.
  const int64_t rowPixels = std::max<int64_t>(1, pixels / rows);
  const int32_t least = static_cast<int32_t>(std::min<int64_t>(rows, (kBandPixels + rowPixels - 1) / rowPixels));
  const int32_t height = std::max<int32_t>(least, (rows + 8 * (want + 1) - 1) / (8 * (want + 1)));
  Job j{0, fn, context, rows, height, (rows + height - 1) / height};
  {
    std::lock_guard<std::mutex> g(p->lock);
    j.generation = ++p->generation;
    p->fn = fn;
    p->context = context;
    p->rows = rows;
    p->bandRows = j.bandRows;
    p->bands = j.bands;
    p->done.store(0, std::memory_order_relaxed);
    p->next.store(uint64_t{j.generation} << 32, std::memory_order_release);
  }
  p->wake.notify_all();
  RunBands(*p, j);
  {
    std::unique_lock<std::mutex> l(p->lock);
    p->finished.wait(l, [&] { return p->done.load(std::memory_order_acquire) == j.bands; });
  }
  gBusy.store(false, std::memory_order_release);
}

// The VM allocator with byte accounting, userdata creation, freeing objects
// by tag and the scratch buffer. Depends on the state records and the raise
// routines.
#include "vm/memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/vmstring.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif

namespace vl {

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define VL_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VL_POOL_ASAN 1
#endif
#endif

#ifdef VL_POOL_ASAN
// Free pool blocks stay poisoned, so a use after free is still reported.
void Poison(const void* p, size_t n) { __asan_poison_memory_region(p, n); }
void Unpoison(const void* p, size_t n) { __asan_unpoison_memory_region(p, n); }
#else
inline void Poison(const void*, size_t) {}
inline void Unpoison(const void*, size_t) {}
#endif

constexpr size_t kPoolGrain = 16;
constexpr size_t kPoolMax = kPoolGrain * kPoolClasses;
constexpr size_t kSlabSize = 32 * 1024;
#ifndef NDEBUG
// Debug builds keep each block's class in front of it, so that a block
// returned with another size than it was made with is caught at once.
constexpr size_t kPoolHeader = kPoolGrain;
#else
constexpr size_t kPoolHeader = 0;
#endif

inline int PoolClass(size_t size) { return static_cast<int>((size + kPoolHeader - 1) / kPoolGrain); }
inline size_t ClassBytes(int c) { return (static_cast<size_t>(c) + 1) * kPoolGrain; }

constexpr size_t kLine = 64;

// The bytes to skip at p so that a block of the given size touches no more
// cache lines than its size needs.
inline size_t LineGap(const char* p, size_t bytes) {
  size_t offset = reinterpret_cast<uintptr_t>(p) % kLine;
  bool extraLine = (offset + bytes + kLine - 1) / kLine > (bytes + kLine - 1) / kLine;
  return extraLine ? kLine - offset : 0;
}

// A block of class c, or null when no slab can be had.
void* PoolAlloc(vlSmallBlockPool* pool, int c) {
  void* b = pool->freeList[c];
  size_t bytes = ClassBytes(c);
  if (b) {
    Unpoison(b, bytes);
    pool->freeList[c] = *static_cast<void**>(b);
  } else {
    // A block touches no more cache lines than its size needs (one of up to
    // a line crosses none, one of whole lines starts on one): a record then
    // never costs a line more than its size. The gap left goes to the free
    // list of its own size.
    size_t gap = LineGap(pool->bump, bytes);
    if (static_cast<size_t>(pool->bumpEnd - pool->bump) < gap + bytes) {
      auto* slab = static_cast<char*>(std::aligned_alloc(kLine, kSlabSize));
      if (!slab) return nullptr;
      *reinterpret_cast<void**>(slab) = pool->slabs;
      pool->slabs = slab;
      pool->bump = slab + kPoolGrain;
      pool->bumpEnd = slab + kSlabSize;
      Poison(pool->bump, static_cast<size_t>(pool->bumpEnd - pool->bump));
      gap = LineGap(pool->bump, bytes);
    }
    if (gap) {
      void* spare = pool->bump;
      int sc = static_cast<int>(gap / kPoolGrain) - 1;
      Unpoison(spare, sizeof(void*));  // as any free block: its link readable
      *static_cast<void**>(spare) = pool->freeList[sc];
      pool->freeList[sc] = spare;
      pool->bump += gap;
    }
    b = pool->bump;
    pool->bump += bytes;
    Unpoison(b, bytes);
  }
#ifndef NDEBUG
  *static_cast<int*>(b) = c;
  b = static_cast<char*>(b) + kPoolHeader;
#endif
  return b;
}

void PoolFree(vlSmallBlockPool* pool, void* b, int c) {
#ifndef NDEBUG
  b = static_cast<char*>(b) - kPoolHeader;
  if (*static_cast<int*>(b) != c) std::abort();  // freed with the wrong size
#endif
  *static_cast<void**>(b) = pool->freeList[c];
  pool->freeList[c] = b;
  Poison(static_cast<char*>(b) + sizeof(void*), ClassBytes(c) - sizeof(void*));
}

}  // namespace

void* VmRealloc(vlVMState* L, void* block, size_t oldSize, size_t newSize) {
  vlVMGlobal* g = L ? L->g : nullptr;
  if (newSize == 0) {
    if (block) {
      if (g && oldSize <= kPoolMax - kPoolHeader && oldSize > 0) PoolFree(&g->pool, block, PoolClass(oldSize));
      else std::free(block);
      if (g) g->nblocks -= oldSize;
    }
    return nullptr;
  }
  if (newSize >= 4294967294u) {
    if (L) RaiseVmError(L, ERR_MEM);
    return nullptr;
  }
  void* nb = nullptr;
  if (g && newSize > oldSize && g->allocFailCountdown > 0 && --g->allocFailCountdown == 0) {
    nb = nullptr;  // injected failure
  } else if (!g) {
    nb = std::realloc(block, newSize);
  } else {
    bool oldPooled = block && oldSize > 0 && oldSize <= kPoolMax - kPoolHeader;
    bool newPooled = newSize <= kPoolMax - kPoolHeader;
    if (!oldPooled && !newPooled) {
      nb = std::realloc(block, newSize);
    } else if (oldPooled && newPooled && PoolClass(oldSize) == PoolClass(newSize)) {
      nb = block;
    } else {
      nb = newPooled ? PoolAlloc(&g->pool, PoolClass(newSize)) : std::malloc(newSize);
      if (nb && block) {
        std::memcpy(nb, block, oldSize < newSize ? oldSize : newSize);
        if (oldPooled) PoolFree(&g->pool, block, PoolClass(oldSize));
        else std::free(block);
      }
    }
  }
  if (!nb) {
    if (L) ThrowVmError(L, ERR_MEM);
    return nullptr;
  }
  if (g) g->nblocks += newSize - oldSize;  // modular: shrinking subtracts
  return nb;
}

void KeepLargeBlocks() {
#if defined(__GLIBC__)
  // Table parts and stacks grow by doubling and die at a collection. With
  // the C library's defaults each such block above 128 KiB is mapped, grown
  // and unmapped (or trimmed off the heap) page by page, and every page is
  // faulted in again on the next use: that costs more than filling it.
  // Blocks up to 16 MiB therefore come from the heap, which keeps up to
  // 32 MiB of free space at its top.
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
  });
#endif
}

void ReleaseSmallBlocks(vlVMGlobal* g) {
  vlSmallBlockPool* pool = &g->pool;
  while (void* slab = pool->slabs) {
    Unpoison(slab, kSlabSize);
    pool->slabs = *static_cast<void**>(slab);
    std::free(slab);
  }
  *pool = vlSmallBlockPool{};
}

vlUserdata* NewUserdata(vlVMState* L, size_t len) {
  if (len > UINT32_MAX) RaiseVmError(L, ERR_MEM);
  auto* u = static_cast<vlUserdata*>(VmRealloc(L, nullptr, 0, UserdataRecordSize(len)));
  vlVMGlobal* g = L->g;
  u->gch.tag = VL_TUSERDATA;
  u->gch.gcFlags = VL_GC_FINALIZE;
  u->metatable = DefaultMetatable(L);
  u->len = static_cast<uint32_t>(len);
  u->gch.next = g->rootudata;
  g->rootudata = ToGC(u);
  return u;
}

void FreeObject(vlVMState* L, vlGCObject* o) {
  switch (o->tag) {
    case VL_TSTRING: FreeString(L, reinterpret_cast<vlString*>(o)); break;
    case VL_TTABLE: FreeTable(L, reinterpret_cast<vlTable*>(o)); break;
    case VL_TFUNCTION: FreeClosure(L, reinterpret_cast<vlClosure*>(o)); break;
    case VL_TUSERDATA: {
      auto* u = reinterpret_cast<vlUserdata*>(o);
      VmRealloc(L, u, UserdataRecordSize(u->len), 0);
      break;
    }
    case VL_TPROTO: FreeProto(L, reinterpret_cast<vlFuncProto*>(o)); break;
    case VL_TUPVALUE: FreeUpvalue(L, reinterpret_cast<vlUpvalue*>(o)); break;
    default: break;  // the main thread is freed by CloseVmState
  }
}

// Above this the allocator refuses the block outright.
constexpr size_t kMaxScratch = 4294967294u;

char* ScratchBuffer(vlVMState* L, size_t n) {
  vlVMGlobal* g = L->g;
  if (n > g->buffsize) {
    // Grown by at least half again: a loop that lengthens a text a little
    // at each step would otherwise copy the whole buffer at every step.
    const size_t grown = g->buffsize + g->buffsize / 2;
    if (n < grown && grown < kMaxScratch) n = grown;
    if (n < 32) n = 32;
    g->buffer = ResizeVector(L, g->buffer, g->buffsize, n);
    g->buffsize = n;
  }
  return g->buffer;
}

}  // namespace vl

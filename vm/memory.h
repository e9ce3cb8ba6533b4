// The VM's one allocator with byte accounting, and object creation helpers
// shared by all object kinds.
#pragma once
#include "vm/state.h"

namespace vl {

// Resizes block from oldSize to newSize bytes (newSize 0 frees). With a
// state the bytes in use follow; a size of 4294967294 or more raises 1000
// with the line, a failed allocation throws 1000. Without a state a failure
// returns null.
void* VmRealloc(vlVMState* L, void* block, size_t oldSize, size_t newSize);

// Sets the C library's allocator up for the VM's large, short-lived blocks
// (once per process; OpenVmState calls it).
void KeepLargeBlocks();

// Gives the small-block slabs back; every block must have been freed.
void ReleaseSmallBlocks(vlVMGlobal* g);

// Checked builds (debug, AddressSanitizer) tag and poison pool blocks in
// VmRealloc; the others may take the short path below.
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
#define VL_POOL_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VL_POOL_CHECKED 1
#endif
#endif

// The free list a block of size bytes goes to in the short paths below; from
// kPoolClasses on, none (the block is not pooled).
inline size_t FreeListIndex(size_t size) { return (size - 1) / 16; }

// A pooled block of size bytes straight from its free list, or null when
// none is at hand (or the build checks pool blocks): then NewBlock. Never
// calls anything, so a caller's fast path needs no saved registers.
inline void* TakePooledBlock(vlVMState* L, size_t size) {
#ifndef VL_POOL_CHECKED
  vlVMGlobal* g = L->g;
  size_t c = FreeListIndex(size);
  if (c < kPoolClasses && g->allocFailCountdown == 0) {
    if (void* b = g->pool.freeList[c]) {
      g->pool.freeList[c] = *static_cast<void**>(b);
      g->nblocks += size;
      return b;
    }
  }
#else
  (void)L;
  (void)size;
#endif
  return nullptr;
}

// VmRealloc(L, nullptr, 0, size) and VmRealloc(L, block, size, 0) for the
// hot object records, taking a pooled block straight from its free list.
inline void* NewBlock(vlVMState* L, size_t size) {
  if (void* b = TakePooledBlock(L, size)) return b;
  return VmRealloc(L, nullptr, 0, size);
}
inline void FreeBlock(vlVMState* L, void* block, size_t size) {
#ifndef VL_POOL_CHECKED
  vlVMGlobal* g = L->g;
  size_t c = FreeListIndex(size);
  if (c < kPoolClasses) {
    *static_cast<void**>(block) = g->pool.freeList[c];
    g->pool.freeList[c] = block;
    g->nblocks -= size;
    return;
  }
#endif
  VmRealloc(L, block, size, 0);
}

template <class T>
T* NewVector(vlVMState* L, size_t n) {
  if (n > SIZE_MAX / sizeof(T)) VmRealloc(L, nullptr, 0, SIZE_MAX);
  return static_cast<T*>(NewBlock(L, n * sizeof(T)));
}
template <class T>
T* ResizeVector(vlVMState* L, T* block, size_t oldN, size_t newN) {
  if (newN > SIZE_MAX / sizeof(T)) VmRealloc(L, nullptr, 0, SIZE_MAX);
  return static_cast<T*>(VmRealloc(L, block, oldN * sizeof(T), newN * sizeof(T)));
}
template <class T>
void FreeVector(vlVMState* L, T* block, size_t n) {
  if (block) FreeBlock(L, block, n * sizeof(T));
}

// Sets the header and links the object into the general GC list.
inline void LinkObject(vlVMState* L, vlGCObject* o, uint8_t tag) {
  vlVMGlobal* g = L->g;
  o->tag = tag;
  o->gcFlags = 0;
  o->next = g->rootgc;
  g->rootgc = o;
}

// A new full userdata of len bytes with the default metatable, linked into
// the userdata list with its finaliser flag set.
vlUserdata* NewUserdata(vlVMState* L, size_t len);

// Frees one object by its tag (string, table, closure, userdata, prototype,
// upvalue). The main thread is freed only by CloseVmState.
void FreeObject(vlVMState* L, vlGCObject* o);

// Makes the scratch buffer at least n bytes (never below 32).
char* ScratchBuffer(vlVMState* L, size_t n);

}  // namespace vl

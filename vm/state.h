// The VM state records: the shared global state (vlVMGlobal), the running
// thread (vlVMState), one vlCallInfo per active call, and the host table
// through which the VM reaches the error system, console and plug-in hooks.
#pragma once
#include <new>
#include <stdexcept>

#include "vm/error_codes.h"
#include "vm/object.h"

struct vlDebugInfo;  // the debug record of the debug interface

// Metamethod events, in the order of the interned name strings.
enum vlTMS : int {
  VL_TM_INDEX, VL_TM_NEWINDEX, VL_TM_GC, VL_TM_MODE, VL_TM_EQ,
  VL_TM_ADD, VL_TM_SUB, VL_TM_MUL, VL_TM_DIV, VL_TM_DIVINT, VL_TM_MOD,
  VL_TM_LSH, VL_TM_RSH, VL_TM_OR, VL_TM_AND, VL_TM_XOR, VL_TM_POW,
  VL_TM_UNM, VL_TM_NOT, VL_TM_LT, VL_TM_LE, VL_TM_CONCAT, VL_TM_CALL,
  VL_TM_N
};

// vlCallInfo state flags.
enum : int32_t {
  VL_CI_NATIVE = 1,
  VL_CI_RUNNING = 2,   // script frame being run by an interpreter loop
  VL_CI_CALLING = 4,   // script frame that called another script function
  VL_CI_SAVEDPC = 8,   // savedpc is valid
  VL_CI_YIELD = 16,
};

struct vlCallInfo {
  vlValue* base;
  vlValue* top;
  int32_t state;
  const vlInstruction* savedpc;  // while the frame runs: past the current instruction
  int32_t wanted;                // while it calls a script function: the results it wants (-1: all)
  int32_t tailcalls;
  const vlInstruction* lastTraced;  // pc of the frame's last line event
  // While a script frame runs: its constants (as the interpreter addresses
  // them: moved down by the first constant operand) and their look-up
  // cache, set when the frame is entered, so that a return resumes the
  // caller without reloading them.
  const vlValue* k;
  vlConstantCache* constCache;
};

// A protected call's frame. The non-local jump is a C++ exception caught by
// RunProtected; the frame keeps the link and the thrown code.
struct vlProtectedFrame {
  vlProtectedFrame* previous;
  int status;
};

struct vlStringTable {
  vlGCObject** hash;  // buckets; chains through gch.next
  int32_t nuse;
  int32_t size;       // a power of two; decides when the block grows or shrinks
  // Bucket slots allocated (a power of two, at least size); the chains
  // spread over all of them. A table halved by a collection keeps its
  // block once: programs that make many short-lived strings halve and
  // double it at every collection.
  int32_t capacity;
  // One byte per bucket slot (capacity of them, outside the byte count):
  // bit StringTagBit(h) is set for every string of hash h in the chain, so
  // that most look-ups of a new string end without reading the chain.
  uint8_t* tags;
};

// One gosub / label-jump return entry: the pc index to resume at and the
// call level (index of the call record) that pushed it, so a return can
// never resume inside another function's code.
struct vlReturnEntry {
  int32_t pc;
  int32_t level;
};

constexpr int kReturnStackSize = 4096;

// Small blocks (records of strings, tables, closures, upvalues and short
// vectors) come from slabs kept by the VM, one free list per 16-byte size
// class: a collection frees thousands of them at once, and the C library's
// allocator handles that churn poorly. Slabs go back when the VM closes.
constexpr int kPoolClasses = 16;  // blocks of 16 .. 256 bytes
struct vlSmallBlockPool {
  void* freeList[kPoolClasses];
  char* bump;      // uncarved rest of the newest slab
  char* bumpEnd;
  void* slabs;     // every slab, linked through its first word
};

typedef int (*vlPanicFn)(vlVMState* L);
typedef void (*vlHookFn)(vlVMState* L, vlDebugInfo* ar, int* err, vlCallInfo* ci);

// The VM's links to the rest of the player. OpenVmState fills harmless
// defaults; the runtime plugs its real routines in.
struct vlVMHost {
  // Store a handler's error code as the last error and raise it when error
  // raising is on. Default: raise it.
  void (*storeAndRaiseError)(vlVMState* L, int code);
  // The script's own error function (RaiseOnError): whether one is set, and
  // calling it with a code; the result is treated like a handler's result.
  int (*hasUserErrorHandler)(vlVMState* L);
  int (*callUserErrorHandler)(vlVMState* L, int code);
  // Nesting counter of system callbacks into the script (error handling).
  int (*errorNesting)(vlVMState* L);
  // Record the current line and function for the error message.
  void (*noteErrorPosition)(vlVMState* L, int line);
  // The error-argument text of the message ("%s").
  void (*setErrorArgument)(vlVMState* L, const char* text);
  // The error number of the message ("argument %ld"): a bad argument's index.
  void (*setErrorArgIndex)(vlVMState* L, int32_t index);
  // Clear the last error before a command runs (not for GetLastError).
  void (*clearLastError)(vlVMState* L, vlNativeFn handler);
  // Whether debug output was switched off at start-up.
  int (*debugOutputDisabled)(vlVMState* L);
  // Plug-in command hook: non-zero when it claimed the call (*result set).
  int (*callCommandHook)(vlVMState* L, vlNativeFn fn, int* result);
  // Offer a thrown error to a running plug-in hook; non-zero when taken.
  int (*forwardErrorToPlugin)(vlVMState* L, int code);
  // The process-wide quit flag; tested before every instruction.
  volatile int* quitFlag;
  // Case folding of the case-insensitive string compare (256 entries).
  const unsigned char* caseFold;
  // The console output of the call trace (one whole line at a time).
  void (*consoleOutput)(vlVMState* L, const char* text);
};

struct vlVMGlobal {
  vlStringTable strt;
  vlGCObject* rootgc;    // every collectable object except userdata and strings
  vlGCObject* rootudata;
  vlGCObject* tmudata;   // userdata awaiting finalisation
  char* buffer;          // scratch buffer (concatenation)
  size_t buffsize;
  uint64_t GCthreshold;  // byte counters are 64-bit; UINT64_MAX means never
  uint64_t nblocks;      // bytes in use
  vlPanicFn panic;
  vlValue registry;
  vlValue defaultMeta;
  vlVMState* mainthread;
  vlTableNode dummynode;
  vlString* tmname[VL_TM_N];

  // Process-wide words of the VM, kept here so that tests can make many VMs.
  int errorThrown;
  int32_t labelJumpOffset;
  int traceFlag;
  int errorHandlerGuard;
  int32_t returnCount;
  vlReturnEntry returnStack[kReturnStackSize];
  // Advanced whenever a table's node block is replaced, a node moved or
  // given another key, or a table freed: global look-ups remembered before
  // then are not trusted (starts at 1, so that an empty entry never
  // matches).
  uint64_t tableEpoch;
  // Set once a function is given globals of its own: look-ups are then no
  // longer remembered (an entry does not say which globals it was made for).
  uint8_t globalCacheOff;
  // Where the default host routines keep what the error system would.
  int lastErrorDefault;
  int errorLineDefault;
  char errorArgDefault[1024];  // as long as the error system's argument text
  int32_t errorArgIndexDefault;
  volatile int quitDefault;

  vlVMHost host;
  // Commands run so far: a picture kept between commands is known
  // unchanged while no other command has run.
  uint64_t commandCount;
  // Installed by the collector; null does nothing. collectGarbage runs a full
  // collection; at close, separateAllUserdata moves every userdata with a
  // __gc to the finaliser list and runPendingFinalizers calls them.
  void (*collectGarbage)(vlVMState* L);
  void (*separateAllUserdata)(vlVMState* L);
  void (*runPendingFinalizers)(vlVMState* L);
  uint8_t gcStress;  // collect at every check point (tests)
  uint8_t gcBusy;    // a collection or its finalisers are running
  // Tests: when non-zero, the allocation that brings it to 0 fails.
  int64_t allocFailCountdown;
  vlSmallBlockPool pool;
};

struct vlVMState {
  vlGCObject gch;
  vlValue* top;        // first free slot
  vlValue* base;       // first slot of the current frame
  vlVMGlobal* g;
  vlCallInfo* ci;      // current call record
  vlValue* stackLast;  // last usable slot (spare slots above it)
  vlValue* stack;
  int32_t stacksize;
  vlCallInfo* endCi;
  vlCallInfo* baseCi;
  uint16_t sizeCi;
  uint16_t nCcalls;    // native-to-VM nesting
  uint8_t hookMask;
  uint8_t allowHook;
  uint8_t hookInit;
  int32_t baseHookCount;
  int32_t hookCount;
  vlHookFn hook;
  vlValue globals;
  vlGCObject* openupval;  // open upvalues, highest slot first
  vlGCObject* gclist;
  vlProtectedFrame* errorJmp;
  ptrdiff_t errfunc;
};

namespace vl {

constexpr int kExtraStack = 5;      // spare slots above the stack limit
constexpr int kBasicStackSize = 40;
constexpr int kBasicCiSize = 8;
constexpr int kMinStackForNative = 20;
constexpr int kMaxCalls = 4096;

// Creates the VM; null when that fails.
vlVMState* OpenVmState();
// Runs pending finalisers and frees everything.
void CloseVmState(vlVMState* L);
// Bytes still counted in use by the last CloseVmState once every object was
// freed (0 when the accounting balanced); for tests.
int64_t LastCloseResidualBytes();

// Makes room for n more slots above the top.
void GrowStack(vlVMState* L, int n);
inline void CheckStack(vlVMState* L, int n) {
  if (L->stackLast - L->top <= n) GrowStack(L, n);
}
// Doubles the call-record array (limits of the call path apply) and
// returns the next free record.
vlCallInfo* GrowCallInfo(vlVMState* L);
// Resizes the call-record array / stack (used by the collector to shrink).
void ReallocCallInfo(vlVMState* L, int newsize);
void ReallocStack(vlVMState* L, int newsize);

// The collection check point: a full collection when bytes in use reach the
// threshold. Does nothing until the collector is installed.
inline void CheckGC(vlVMState* L) {
  vlVMGlobal* g = L->g;
  if (g->nblocks >= g->GCthreshold && g->collectGarbage) g->collectGarbage(L);
}

// The host table's own routines for clearing the last error and for the
// plug-in command hook (none installed).
void DefaultClearLastError(vlVMState* L, vlNativeFn handler);
int DefaultCallCommandHook(vlVMState* L, vlNativeFn fn, int* result);

// Runs body (which returns 0 or an error code) so that no C++ exception of
// its own leaves it: out of memory becomes 1000, anything else 1066. The
// VM's own unwinding is no std::exception and passes.
template <class Body>
int GuardCxxErrors(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  } catch (const std::length_error&) {
    return ERR_MEM;  // a size beyond what can be allocated
  } catch (const std::exception&) {
    return ERR_INTERNAL;
  }
}

// Runs a command: clears the last error, offers the call to the plug-in
// hook, else calls the handler. The built-in routines are done inline as
// they are what a plain VM has installed.
inline int RunNativeHandler(vlVMState* L, vlNativeFn fn) {
  vlVMHost& h = L->g->host;
  L->g->commandCount++;
  if (h.clearLastError == DefaultClearLastError) {
    L->g->lastErrorDefault = 0;
  } else {
    h.clearLastError(L, fn);
  }
  return GuardCxxErrors([&] {
    if (h.callCommandHook != DefaultCallCommandHook) {
      int r = 0;
      if (h.callCommandHook(L, fn, &r)) return r;
    }
    return fn(L);
  });
}

inline vlTable* Registry(vlVMState* L) { return ToTable(&L->g->registry); }
inline vlTable* DefaultMetatable(vlVMState* L) { return ToTable(&L->g->defaultMeta); }

}  // namespace vl

// The VM allocator with byte accounting, userdata creation, freeing objects
// by tag and the scratch buffer. Depends on the state records and the raise
// routines.
#include "vm/memory.h"

#include <cstdlib>

#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vl {

void* VmRealloc(vlVMState* L, void* block, size_t oldSize, size_t newSize) {
  vlVMGlobal* g = L ? L->g : nullptr;
  if (newSize == 0) {
    if (block) {
      std::free(block);
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
  } else {
    nb = std::realloc(block, newSize);
  }
  if (!nb) {
    if (L) ThrowVmError(L, ERR_MEM);
    return nullptr;
  }
  if (g) g->nblocks += newSize - oldSize;  // modular: shrinking subtracts
  return nb;
}

void LinkObject(vlVMState* L, vlGCObject* o, uint8_t tag) {
  vlVMGlobal* g = L->g;
  o->tag = tag;
  o->gcFlags = 0;
  o->next = g->rootgc;
  g->rootgc = o;
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

char* ScratchBuffer(vlVMState* L, size_t n) {
  vlVMGlobal* g = L->g;
  if (n > g->buffsize) {
    if (n < 32) n = 32;
    g->buffer = ResizeVector(L, g->buffer, g->buffsize, n);
    g->buffsize = n;
  }
  return g->buffer;
}

}  // namespace vl

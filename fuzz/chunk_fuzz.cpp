// Fuzz target over the chunk loader: any bytes must load or fail with an
// error code, never crash. A chunk that loads must survive the round trip:
// writing it and loading the result gives the same bytes again, whatever
// block sizes the reader hands out. Depends on the VM core.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vm/chunk.h"

namespace {

struct Blocks {
  const uint8_t* data;
  size_t size;
  size_t block;
  size_t pos;
};

const char* ReadBlocks(vlVMState*, void* ud, size_t* size) {
  auto* b = static_cast<Blocks*>(ud);
  if (b->pos >= b->size) return nullptr;
  *size = b->size - b->pos < b->block ? b->size - b->pos : b->block;
  const char* p = reinterpret_cast<const char*>(b->data + b->pos);
  b->pos += *size;
  return p;
}

int Collect(vlVMState*, const void* p, size_t n, void* ud) {
  auto* out = static_cast<std::vector<uint8_t>*>(ud);
  out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  return 0;
}

int Load(vlVMState* L, const uint8_t* data, size_t size, size_t block) {
  Blocks b{data, size, block, 0};
  return vl::LoadChunk(L, ReadBlocks, &b, "fuzz");
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlVMState* L = vl::OpenVmState();
  if (!L) return 0;
  vlValue* const top = L->top;
  const int whole = Load(L, data, size, size ? size : 1);
  if (whole != 0) {
    Check(L->top == top);
  } else {
    Check(L->top == top + 1);
    std::vector<uint8_t> first, second;
    Check(vl::DumpFunction(L, -1, Collect, &first) == 0);
    // The symbolic walk must stay inside the code it was given.
    const vlFuncProto* p = vl::ToClosure(L->top - 1)->s.proto;
    if (p->sizecode <= 64)
      for (int pc = 0; pc <= p->sizecode; ++pc)
        for (int reg = 0; reg < p->maxstacksize; ++reg) Check(vl::LastSetterPc(p, pc, reg) < pc);
    Check(Load(L, first.data(), first.size(), 7) == 0);
    Check(vl::DumpFunction(L, -1, Collect, &second) == 0);
    Check(first == second);
  }
  // Block boundaries never change the outcome.
  Check(Load(L, data, size, 3) == whole);
  vl::CloseVmState(L);
  return 0;
}

// Feeds hostile preference files (the table items behind "PRFS") to the
// table item reader in a real VM: nothing may read outside the input, the
// stack must come back as it was, and whatever reads well must write and
// read again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/table_items.h"
#include "vm/stack_api.h"
#include "vm/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vlVMState* L = vl::OpenVmState();
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  size_t consumed = 0;
  int r = ParseTableItems(L, data, size, &consumed);
  if (vl::GetStackTop(L) != 1) abort();
  if (r == 0) {
    if (consumed > size) abort();
    std::vector<uint8_t> again;
    int w = SerializeTableItems(L, 1, &again);
    if (vl::GetStackTop(L) != 1) abort();
    if (w == 0) {
      vl::PushNewTable(L);
      if (ParseTableItems(L, again.data(), again.size(), &consumed) != 0) abort();
      if (consumed != again.size()) abort();
    }
  }
  vl::SetStackTop(L, 0);
  return 0;
}

// Feeds hostile table items (a preferences file behind "PRFS", a stored
// table record) to the table item reader in a real VM, from a memory
// cursor and from a stream: nothing may read outside the input, both must
// agree, the stack must come back as it was, and whatever reads well must
// count, write and read again to the byte.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/stream.h"
#include "runtime/table_items.h"
#include "vm/stack_api.h"
#include "vm/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vlVMState* L = vl::OpenVmState();
  vl::SetStackTop(L, 0);
  vlReadCursor cursor{data, data + size};
  int r = ReadTableItems(L, nullptr, &cursor, 0);
  if (vl::GetStackTop(L) != (r == 0 ? 1 : 0)) abort();
  if (cursor.next < data || cursor.next > data + size) abort();

  vlStream* stream = OpenMemoryStream(data, size);
  if (!stream) abort();
  vl::PushNewTable(L);
  int top = vl::GetStackTop(L);
  int s = ReadTableItems(L, stream, nullptr, 1);
  if (s != r || vl::GetStackTop(L) != top) abort();
  if (r == 0 && SeekFileStream(stream, 0, VL_SEEK_CURRENT) != cursor.next - data) abort();
  CloseFileStream(stream);

  if (r == 0) {
    int64_t count = 0;
    if (WriteTableItems(L, 1, nullptr, nullptr, &count) != 0) abort();
    std::vector<uint8_t> again(static_cast<size_t>(count));
    vlWriteCursor out{again.data(), again.data() + again.size()};
    if (WriteTableItems(L, 1, nullptr, &out, nullptr) != 0 || out.next != out.end) abort();
    vlReadCursor in{again.data(), again.data() + again.size()};
    if (ReadTableItems(L, nullptr, &in, 0) != 0 || in.next != in.end) abort();
    int64_t recount = 0;
    if (WriteTableItems(L, -1, nullptr, nullptr, &recount) != 0 || recount != count) abort();
  }
  vl::SetStackTop(L, 0);
  return 0;
}

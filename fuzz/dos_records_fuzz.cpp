// Feeds hostile bytes to the dos library's readers in a real VM: table
// records ("VLT0", "VLT1"), function records ("VLF0", "VLF1"), compressed
// files ("VLPK"), patches, and the item reader over a memory cursor. The
// first byte picks the reader. Nothing may read outside the input, and a
// failed read must leave the stack as it was.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "libraries/dos/dos_library.h"
#include "runtime/decompress_pack.h"
#include "runtime/serial_value.h"
#include "runtime/stream.h"
#include "vm/stack_api.h"
#include "vm/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vlVMState* L = vl::OpenVmState();
  if (size < 1) return 0;
  uint8_t mode = data[0] % 5;
  ++data;
  --size;
  vl::SetStackTop(L, 0);
  vlStream* s = OpenMemoryStream(data, size);
  if (!s) abort();
  switch (mode) {
    case 0:
    case 1: {
      int r = mode == 0 ? ReadTableRecord(L, s) : ReadFunctionRecord(L, s);
      if (vl::GetStackTop(L) != (r == 0 ? 1 : 0)) abort();
      int64_t at = SeekFileStream(s, 0, VL_SEEK_CURRENT);
      if (at < 0 || static_cast<uint64_t>(at) > size) abort();
      break;
    }
    case 2: {
      std::vector<uint8_t> out(65536);
      uint64_t produced = 0, consumed = 0;
      DecompressPack("VLPK", s, nullptr, out.data(), out.size(), &produced, &consumed);
      if (produced > out.size() || consumed > size + 8) abort();
      break;
    }
    case 3: {
      vlStream* patch = OpenMemoryStream(data + size / 2, size - size / 2);
      vlStream* dest = OpenMemoryStream(data, 0);
      vlPatchFiles files{s, patch, dest};
      PatchStreams(&files, nullptr, nullptr, nullptr);
      CloseFileStream(patch);
      CloseFileStream(dest);
      break;
    }
    default: {
      vlReadCursor cursor{data, data + size};
      uint8_t value[8];
      size_t sizes[4] = {1, 2, 4, 8};
      for (int i = 0; cursor.next < cursor.end && i < 64; ++i) {
        size_t n = sizes[*cursor.next % 4];
        if (ReadSerialValue(nullptr, value, 0, n, *cursor.next & 4, &cursor) && cursor.next < cursor.end)
          ++cursor.next;
        if (cursor.next > cursor.end) abort();
      }
      break;
    }
  }
  CloseFileStream(s);
  vl::SetStackTop(L, 0);
  return 0;
}

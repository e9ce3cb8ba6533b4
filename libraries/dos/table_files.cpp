// Table and function records in open files: "VLT0" (binary items),
// "VLT1" (the binary record as Base64 text), "VLF0" and "VLF1" (a compiled
// function, binary or as Base64 text). Depends on the table-item reader
// and writer and the item reader and writer.
#include <cstring>
#include <vector>

#include "libraries/dos/dos_library.h"
#include "runtime/error_vm.h"
#include "runtime/serial_value.h"
#include "runtime/table_items.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr char kTableBinary[4] = {'V', 'L', 'T', '0'};
constexpr char kTableText[4] = {'V', 'L', 'T', '1'};
constexpr char kFunctionBinary[4] = {'V', 'L', 'F', '0'};
constexpr char kFunctionText[4] = {'V', 'L', 'F', '1'};

int FindFileWithAccess(vlVMState* L, bool write, vlFile** f) {
  if (int status = FindFileObject(L, 1, f)) return status;
  if (write && (*f)->access == VL_ACCESS_READ) return ERR_READONLY;
  if (!write && (*f)->access == VL_ACCESS_WRITE) return ERR_WRITEONLY;
  return 0;
}

int ReadMagic(vlStream* s, vlReadCursor* cursor, char magic[4]) {
  return ReadSerialValue(s, magic, 1, 4, 0, cursor);
}

}  // namespace

int CmdWriteTable(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vlFile* f;
  if (int status = FindFileWithAccess(L, true, &f)) return status;
  vl::CheckTableArg(L, 2);
  int text = vl::OptIntArg(L, 3, 0);
  int oneLine = vl::OptIntArg(L, 4, 0);
  if (!text) {
    if (int status = WriteSerialValue(f->stream, kTableBinary, 1, 4, 0, nullptr)) return status;
    return WriteTableItems(L, 2, f->stream, nullptr, nullptr);
  }
  // The text form is the whole binary record, encoded.
  int64_t size = 4;
  if (int status = WriteTableItems(L, 2, nullptr, nullptr, &size)) return status;
  std::vector<uint8_t> record;
  try {
    record.resize(static_cast<size_t>(size));
  } catch (...) {
    return ERR_MEM;
  }
  vlWriteCursor cursor{record.data(), record.data() + record.size()};
  if (int status = WriteSerialValue(nullptr, kTableBinary, 1, 4, 0, &cursor)) return status;
  if (int status = WriteTableItems(L, 2, nullptr, &cursor, nullptr)) return status;
  if (int status = WriteSerialValue(f->stream, kTableText, 1, 4, 0, nullptr)) return status;
  return WriteBase64Block(f->stream, record.data(), record.size(), oneLine);
}

int ReadTableRecord(vlVMState* L, vlStream* stream) {
  char magic[4];
  if (int status = ReadMagic(stream, nullptr, magic)) return status;
  if (!std::memcmp(magic, kTableBinary, 4)) return ReadTableItems(L, stream, nullptr, 0);
  if (std::memcmp(magic, kTableText, 4)) return ERR_READTABLE;
  std::vector<uint8_t> record;
  if (int status = ReadBase64Block(stream, nullptr, &record)) return status;
  vlReadCursor cursor{record.data(), record.data() + record.size()};
  if (ReadMagic(nullptr, &cursor, magic) || std::memcmp(magic, kTableBinary, 4)) return ERR_READTABLE;
  return ReadTableItems(L, nullptr, &cursor, 0);
}

int ReadFunctionRecord(vlVMState* L, vlStream* stream) {
  char magic[4];
  if (int status = ReadMagic(stream, nullptr, magic)) return status;
  int text;
  if (!std::memcmp(magic, kFunctionBinary, 4)) text = 0;
  else if (!std::memcmp(magic, kFunctionText, 4)) text = 1;
  else return ERR_READFUNC;
  return ReadFunctionItem(L, stream, text, nullptr);
}

int CmdReadTable(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileWithAccess(L, false, &f)) return status;
  if (int status = ReadTableRecord(L, f->stream)) return status;
  return 1;
}

int CmdWriteFunction(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vl::CheckFunctionArg(L, 2);
  vlFile* f;
  if (int status = FindFileWithAccess(L, true, &f)) return status;
  int text = vl::OptIntArg(L, 3, 0);
  int oneLine = vl::OptIntArg(L, 4, 0);
  // Refused before anything is written, so no lone magic is left behind.
  if (vl::IsNativeFunctionAt(L, 2)) return ERR_NOVLFUNC;
  if (int status = WriteSerialValue(f->stream, text ? kFunctionText : kFunctionBinary, 1, 4, 0, nullptr))
    return status;
  return WriteFunctionItem(L, f->stream, 2, text, oneLine, nullptr, nullptr);
}

int CmdReadFunction(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileWithAccess(L, false, &f)) return status;
  if (int status = ReadFunctionRecord(L, f->stream)) return status;
  return 1;
}

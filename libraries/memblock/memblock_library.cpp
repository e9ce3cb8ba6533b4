// The memblock library: the block list, its identifiers and every command.
// Peek, Poke and FillMem store big-endian unless asked for the machine's
// order; TableToMem and MemToTable use the machine's order unless asked to
// switch. Depends on the object registry, the dos library's open files and
// the virtual files behind chunk names.
#include "libraries/memblock/memblock_library.h"

#include <bit>
#include <cstring>

#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "libraries/dos/dos_library.h"
#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "runtime/serial_value.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr int kErrOffsetRange = 1146;
constexpr int kErrFindMemBlock = 1180;

constexpr int kTypeInteger = 1;
constexpr int kTypeString = 3;
constexpr int kTypeShort = 6;
constexpr int kTypeByte = 7;
constexpr int kTypeFloat = 11;
constexpr int kTypeDouble = 12;

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

vlObjectNode* gMemBlocks = nullptr;
// Making and finding a block must not walk every block there is.
vlObjectIndex gMemBlockIndex;

vlMemBlock* AsBlock(vlObjectNode* n) { return reinterpret_cast<vlMemBlock*>(n); }

// Sizes, offsets, counts and types truncate toward zero to signed 32-bit.
int32_t IntArg(vlVMState* L, int index) { return vl::DoubleToInt32(vl::CheckNumberArg(L, index)); }
int32_t OptArg(vlVMState* L, int index, int32_t def) {
  return vl::GetTypeAt(L, index) == VL_TNONE ? def : IntArg(L, index);
}

// Width in bytes of a numeric element type; 0 for any other type.
int ElementWidth(int32_t type) {
  switch (type) {
    case kTypeInteger: case kTypeFloat: return 4;
    case kTypeShort: return 2;
    case kTypeByte: return 1;
    case kTypeDouble: return 8;
    default: return 0;
  }
}

// A block without a size takes any offset; a block over a virtual file
// always has one, even when the file is empty now.
bool Unsized(const vlMemBlock* b) { return b->size == 0 && !b->file; }

// Whether width bytes at offset (known non-negative) lie inside the block.
bool Fits(const vlMemBlock* b, int64_t offset, int64_t width) {
  return Unsized(b) || offset + width <= b->size;
}

// A block over a virtual file made without copying shows the script's own
// string: writing there would change an unrelated string value.
int CheckWritable(const vlMemBlock* b) { return b->file && !b->file->writable ? ERR_WRONGUSAGE : 0; }

void StoreBytes(uint8_t* p, uint64_t v, int width, bool bigEndian) {
  for (int i = 0; i < width; ++i) {
    int shift = 8 * (bigEndian ? width - 1 - i : i);
    p[i] = static_cast<uint8_t>(v >> shift);
  }
}

uint64_t LoadBytes(const uint8_t* p, int width, bool bigEndian) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) {
    int shift = 8 * (bigEndian ? width - 1 - i : i);
    v |= static_cast<uint64_t>(p[i]) << shift;
  }
  return v;
}

// Stores one number as an element of a numeric type.
void StoreElement(uint8_t* p, int32_t type, double value, bool bigEndian) {
  switch (type) {
    case kTypeFloat: StoreBytes(p, std::bit_cast<uint32_t>(static_cast<float>(value)), 4, bigEndian); break;
    case kTypeDouble: StoreBytes(p, std::bit_cast<uint64_t>(value), 8, bigEndian); break;
    default:
      StoreBytes(p, static_cast<uint32_t>(vl::NumberToArgInt(value)), ElementWidth(type), bigEndian);
      break;
  }
}

// Reads one element; INTEGER always unsigned, SHORT and BYTE as asked.
double LoadElement(const uint8_t* p, int32_t type, bool bigEndian, bool isSigned) {
  uint64_t v = LoadBytes(p, ElementWidth(type), bigEndian);
  switch (type) {
    case kTypeFloat: return std::bit_cast<float>(static_cast<uint32_t>(v));
    case kTypeDouble: return std::bit_cast<double>(v);
    case kTypeShort: return isSigned ? static_cast<int16_t>(v) : static_cast<double>(v);
    case kTypeByte: return isSigned ? static_cast<int8_t>(v) : static_cast<double>(v);
    default: return static_cast<double>(v);
  }
}

int FindById(vlObjectId id, vlMemBlock** out) {
  if (vlObjectNode* n = gMemBlockIndex.First(id)) {
    vlMemBlock* b = AsBlock(n);
    if (vlMemoryRecord* f = b->file) {
      b->data = f->data;
      b->size = f->size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(f->size);
    }
    *out = b;
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindMemBlock;
}

void FreeBlock(vlVMState* L, vlMemBlock* b) {
  if (!b->borrowed) FreeMemory(b->data);
  ReleaseVirtualFile(b->file);
  FreeObjectDataList(L, &b->node.data);
  FreeMemory(b);
}

// Makes a block over data for the id argument at index 1: an automatic id
// is pushed (1 result), a chosen one replaces any block that had it (no
// result). Owned data is freed when the record cannot be made.
int AddBlock(vlVMState* L, uint8_t* data, int32_t size, bool borrowed, vlMemoryRecord* file = nullptr) {
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, L, 1) != 0;
  auto* b = static_cast<vlMemBlock*>(AllocMemory(sizeof(vlMemBlock), 1));
  if (!b) {
    if (!borrowed) FreeMemory(data);
    return ERR_MEM;
  }
  if (!automatic) FreeMemBlockByID(L, id);
  b->node.type = VL_OBJ_MEMORY;
  b->node.idNumber = automatic ? 0 : id.number;
  b->node.idHandle = automatic ? b : id.handle;
  b->size = size;
  b->data = data;
  b->borrowed = borrowed ? 1 : 0;
  b->file = file;
  HoldVirtualFile(file);
  if (gMemBlockIndex.Append(&gMemBlocks, &b->node)) {
    FreeBlock(L, b);
    return ERR_MEM;
  }
  if (!automatic) return 0;
  vl::PushPointer(L, b);
  return 1;
}

int CmdAllocMem(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t size = IntArg(L, 2);
  if (size <= 0) return ERR_MEM;
  auto* data = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(size), 0));
  if (!data) return ERR_MEM;
  return AddBlock(L, data, size, false);
}

int CmdFreeMem(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeMemBlockByID(L, id);
}

// The fit rule of Peek and Poke for a numeric type: 0 or 1146.
int CheckElementFit(const vlMemBlock* b, int32_t offset, int32_t type) {
  if (offset < 0) return kErrOffsetRange;
  return Fits(b, offset, ElementWidth(type)) ? 0 : kErrOffsetRange;
}

int CmdPoke(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 1, &b)) return status;
  int32_t offset = IntArg(L, 2);
  int32_t type = OptArg(L, 4, kTypeInteger);
  bool native = OptArg(L, 5, 0) != 0;
  if (int status = CheckWritable(b)) return status;
  if (offset < 0) return kErrOffsetRange;
  if (type == kTypeString) {
    size_t n;
    const char* s = vl::CheckStringArg(L, 3, &n);
    // Room for the bytes and a terminating zero byte.
    if (!Unsized(b) && static_cast<int64_t>(offset) + static_cast<int64_t>(n) >= b->size) return kErrOffsetRange;
    std::memcpy(b->data + offset, s, n);
    b->data[offset + static_cast<int64_t>(n)] = 0;
    return 0;
  }
  if (!ElementWidth(type)) return ERR_WRONGUSAGE;
  double value = vl::CheckNumberArg(L, 3);
  if (int status = CheckElementFit(b, offset, type)) return status;
  StoreElement(b->data + offset, type, value, native ? kHostBigEndian : true);
  return 0;
}

bool IsTextByte(uint8_t c) { return IsGraphChar(c) || c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int CmdPeek(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 1, &b)) return status;
  int32_t offset = IntArg(L, 2);
  int32_t type = OptArg(L, 3, kTypeInteger);
  int32_t extra = OptArg(L, 4, 0);
  if (offset < 0) return kErrOffsetRange;
  if (type == kTypeString) {
    if (extra < 0) return ERR_WRONGUSAGE;
    const uint8_t* p = b->data + offset;
    if (extra > 0) {
      if (!Fits(b, offset, extra)) return kErrOffsetRange;
      vl::PushBytes(L, reinterpret_cast<const char*>(p), static_cast<size_t>(extra));
      return 1;
    }
    if (!Unsized(b) && offset >= b->size) return kErrOffsetRange;
    size_t n = 0;
    while ((Unsized(b) || offset + static_cast<int64_t>(n) < b->size) && IsTextByte(p[n])) ++n;
    vl::PushBytes(L, reinterpret_cast<const char*>(p), n);
    return 1;
  }
  if (!ElementWidth(type)) return ERR_WRONGUSAGE;
  if (int status = CheckElementFit(b, offset, type)) return status;
  vl::PushNumber(L, LoadElement(b->data + offset, type, extra ? kHostBigEndian : true, false));
  return 1;
}

int CmdFillMem(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 1, &b)) return status;
  uint32_t value = static_cast<uint32_t>(vl::CheckIntArg(L, 2));
  int32_t count = IntArg(L, 3);
  int32_t offset = OptArg(L, 4, 0);
  int32_t type = OptArg(L, 5, kTypeByte);
  if (count < 1) return 0;
  if (int status = CheckWritable(b)) return status;
  if (offset < 0 || !Fits(b, offset, count)) return kErrOffsetRange;
  uint8_t* p = b->data + offset;
  switch (type) {
    case kTypeByte: std::memset(p, static_cast<int>(value & 0xFF), static_cast<size_t>(count)); return 0;
    case kTypeShort:
      if ((count | offset) & 1) return ERR_WRONGUSAGE;
      for (int32_t i = 0; i < count; i += 2) StoreBytes(p + i, value & 0xFFFF, 2, true);
      return 0;
    case kTypeInteger: {
      if ((count | offset) & 3) return ERR_WRONGUSAGE;
      uint8_t word[4];
      StoreBytes(word, value, 4, true);
      for (int32_t i = 0; i < count; i += 4) std::memcpy(p + i, word, 4);
      return 0;
    }
    default: return ERR_WRONGUSAGE;
  }
}

int CmdCopyMem(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  int32_t count = IntArg(L, 3);
  int32_t sourceOffset = OptArg(L, 4, 0);
  int32_t destOffset = OptArg(L, 5, 0);
  if (count < 1) return 0;
  if (sourceOffset < 0 || destOffset < 0) return kErrOffsetRange;
  vlObjectId sourceId, destId;
  GetObjectIDArg(&sourceId, L, 1);
  GetObjectIDArg(&destId, L, 2);
  if (sourceId.number == destId.number && sourceId.handle == destId.handle) return ERR_WRONGUSAGE;
  vlMemBlock *source, *dest;
  if (int status = FindById(sourceId, &source)) return status;
  if (int status = FindById(destId, &dest)) return status;
  if (int status = CheckWritable(dest)) return status;
  if (!Fits(source, sourceOffset, count) || !Fits(dest, destOffset, count)) return kErrOffsetRange;
  const uint8_t* from = source->data + sourceOffset;
  uint8_t* to = dest->data + destOffset;
  // Byte by byte from the lowest address up, as borrowed blocks may overlap.
  for (int32_t i = 0; i < count; ++i) to[i] = from[i];
  return 0;
}

// ReadMem and WriteMem: (file, id, count, offset = 0).
int Transfer(vlVMState* L, bool read) {
  CheckArgs(L, 3, 4, 0, 0);
  int32_t count = IntArg(L, 3);
  int32_t offset = OptArg(L, 4, 0);
  if (count < 1) return 0;
  if (offset < 0) return ERR_WRONGUSAGE;
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 2, &b)) return status;
  if (read && f->access == VL_ACCESS_WRITE) return ERR_WRITEONLY;
  if (!read && f->access == VL_ACCESS_READ) return ERR_READONLY;
  if (read)
    if (int status = CheckWritable(b)) return status;
  if (!Fits(b, offset, count)) return kErrOffsetRange;
  if (read) {
    // Through a scratch buffer: a short read must leave the block as it was.
    auto* scratch = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(count), 0));
    if (!scratch) return ERR_MEM;
    bool complete = ReadFileStream(f->stream, scratch, count) == count;
    if (complete) std::memcpy(b->data + offset, scratch, static_cast<size_t>(count));
    FreeMemory(scratch);
    return complete ? 0 : ERR_READ;
  }
  if (WriteFileStream(f->stream, b->data + offset, count) != count) return ERR_WRITE;
  // Unbuffered mode writes through at once, like the dos library's items.
  if (vlSerialIOMode == VL_IO_UNBUFFERED && !FlushFileStream(f->stream)) return ERR_WRITE;
  return 0;
}

int CmdReadMem(vlVMState* L) { return Transfer(L, true); }
int CmdWriteMem(vlVMState* L) { return Transfer(L, false); }

int CmdDumpMem(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 1, &b)) return status;
  int32_t length = OptArg(L, 2, 0);
  int32_t offset = OptArg(L, 3, 0);
  if (offset < 0) return ERR_WRONGUSAGE;
  if (length <= 0) {
    if (b->size <= 0) return ERR_WRONGUSAGE;
    length = b->size;
  }
  if (!Fits(b, offset, length)) return kErrOffsetRange;
  const uint8_t* p = b->data + offset;
  for (int32_t line = 0; line < length; line += 16) {
    int32_t n = length - line < 16 ? length - line : 16;
    char text[16 * 4 + 32];
    char* t = text + std::snprintf(text, sizeof text, "%.8x: ", static_cast<unsigned>(offset + line));
    for (int32_t i = 0; i < 16; ++i) {
      if (i < n) t += std::snprintf(t, 4, "%.2x ", p[line + i]);
      else t = std::strcpy(t, "   ") + 3;
    }
    for (int32_t i = 0; i < n; ++i) {
      uint8_t c = p[line + i];
      *t++ = IsGraphChar(c) || c == ' ' ? static_cast<char>(c) : '.';
    }
    *t = '\0';
    PrintConsole("%s\n", text);
  }
  return 0;
}

// The integer option of a MemToTable or TableToMem options table.
int32_t OptionInt(vlVMState* L, int options, const char* key) {
  int32_t value = 0;
  if (vl::GetTypeAt(L, options) == VL_TTABLE) GetTableInt(L, options, key, &value, nullptr);
  return value;
}

int CmdMemToTable(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 1, &b)) return status;
  int32_t type = IntArg(L, 2);
  if (vl::GetTypeAt(L, 3) > VL_TNIL) vl::CheckTableArg(L, 3);
  int32_t items = OptionInt(L, 3, "items");
  int32_t offset = OptionInt(L, 3, "offset");
  bool bigEndian = (OptionInt(L, 3, "endianswitch") != 0) != kHostBigEndian;
  bool isSigned = OptionInt(L, 3, "signed") != 0;
  if (offset < 0) return ERR_WRONGUSAGE;
  int width = ElementWidth(type);
  if (!width) return ERR_WRONGUSAGE;
  if (items == 0) {
    items = b->size / width;
    if (items == 0) return ERR_WRONGUSAGE;
  }
  if (items > 0 && !Fits(b, offset, static_cast<int64_t>(width) * items)) return kErrOffsetRange;
  vl::PushNewSizedTable(L, items > 0 ? items : 0, 0);
  int table = vl::GetStackTop(L);
  for (int32_t i = 0; i < items; ++i) {
    vl::PushNumber(L, LoadElement(b->data + offset + static_cast<int64_t>(i) * width, type, bigEndian, isSigned));
    vl::RawSetTableIndex(L, table, i);
  }
  return 1;
}

int CmdTableToMem(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vl::CheckTableArg(L, 1);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 2, &b)) return status;
  int32_t type = IntArg(L, 3);
  if (vl::GetTypeAt(L, 4) > VL_TNIL) vl::CheckTableArg(L, 4);
  int32_t offset = OptionInt(L, 4, "offset");
  bool bigEndian = (OptionInt(L, 4, "endianswitch") != 0) != kHostBigEndian;
  if (offset < 0) return ERR_WRONGUSAGE;
  int width = ElementWidth(type);
  if (!width) return ERR_WRONGUSAGE;
  if (int status = CheckWritable(b)) return status;
  if (!Unsized(b) && offset > b->size) return kErrOffsetRange;
  int64_t at = offset;
  for (int i = 0; i < INT32_MAX; ++i, at += width) {
    vl::RawGetTableIndex(L, 1, i);
    if (vl::GetTypeAt(L, -1) == VL_TNIL) break;
    double value = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    if (!Fits(b, at, width)) return kErrOffsetRange;
    StoreElement(b->data + at, type, value, bigEndian);
  }
  return 0;
}

int CmdGetMemPointer(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlMemBlock* b;
  if (int status = FindMemBlock(L, 1, &b)) return status;
  int32_t offset = OptArg(L, 2, 0);
  if (offset < 0 || (!Unsized(b) && offset >= b->size)) return ERR_WRONGUSAGE;
  vl::PushPointer(L, b->data + offset);
  return 1;
}

int CmdAllocMemFromPointer(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  auto* data = static_cast<uint8_t*>(vl::CheckPointerArg(L, 2));
  int32_t size = IntArg(L, 3);
  return AddBlock(L, data, size, true);
}

int CmdAllocMemFromVirtualFile(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const char* name = vl::CheckStringArg(L, 2, nullptr);
  vlMemoryRecord* record = nullptr;
  vlChunkNameParts parts{};
  parts.record = &record;
  if (!ParseChunkName(name, parts) || !record || record->size > INT32_MAX) return ERR_WRONGUSAGE;
  // An empty file gives a block of size 0 that stays range-checked (it is
  // over a file) and grows with the file when a stream writes to it.
  return AddBlock(L, record->data, static_cast<int32_t>(record->size), true, record);
}

const vlCommand kMemBlockCommands[] = {
    {"AllocMem", CmdAllocMem},
    {"FreeMem", CmdFreeMem},
    {"Poke", CmdPoke},
    {"Peek", CmdPeek},
    {"FillMem", CmdFillMem},
    {"CopyMem", CmdCopyMem},
    {"ReadMem", CmdReadMem},
    {"WriteMem", CmdWriteMem},
    {"DumpMem", CmdDumpMem},
    {"MemToTable", CmdMemToTable},
    {"TableToMem", CmdTableToMem},
    {"GetMemPointer", CmdGetMemPointer},
    {"AllocMemFromPointer", CmdAllocMemFromPointer},
    {"AllocMemFromVirtualFile", CmdAllocMemFromVirtualFile},
    {nullptr, nullptr}};

}  // namespace

int FindMemBlock(vlVMState* L, int index, vlMemBlock** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  return FindById(id, out);
}

int FreeMemBlockByID(vlVMState* L, vlObjectId id) {
  vlMemBlock* b;
  if (int status = FindById(id, &b)) return status;
  gMemBlockIndex.Unlink(&gMemBlocks, &b->node);
  FreeBlock(L, b);
  return 0;
}

namespace {

int MemBlockAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlMemBlock* b;
  if (int status = FindById(id, &b)) return status;
  if (attr != VL_ATTRSIZE) return ERR_UNKNOWNATTR;
  vl::PushNumber(L, b->size);
  return 1;
}

}  // namespace

int OpenMemBlockLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kMemBlockCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kMemBlockCommands, "memblock")) return status;
  SetAttributeHandler(VL_OBJ_MEMORY, MemBlockAttribute);
  return RegisterObjectList(&gMemBlocks);
}

void FreeMemBlocks(vlVMState* L) {
  while (vlObjectNode* n = gMemBlocks) {
    gMemBlocks = n->next;
    FreeBlock(L, AsBlock(n));
  }
  gMemBlockIndex.Clear();
}

// Writing and reading script tables as tagged items. The reader checks
// every length against the bytes that remain before it uses it, and builds
// a fresh table that it merges into the target only when all of it read.
// Depends on the VM's stack interface and chunk loader, and the streams.
#include "runtime/table_items.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/stream.h"
#include "vm/chunk.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutDouble(Bytes& out, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

int PutString(Bytes& out, vlVMState* L, int index) {
  size_t n = vl::GetStringLengthAt(L, index);
  if (n > UINT32_MAX) return ERR_WRONGDTYPE;
  const char* s = vl::ToStringAt(L, index);
  PutBE32(out, static_cast<uint32_t>(n));
  out.insert(out.end(), s, s + n);
  return 0;
}

int ChunkSink(vlVMState*, const void* bytes, size_t size, void* data) {
  auto* out = static_cast<Bytes*>(data);
  const auto* b = static_cast<const uint8_t*>(bytes);
  out->insert(out->end(), b, b + size);
  return 0;
}

int PutKey(Bytes& out, vlVMState* L, int index) {
  switch (vl::GetTypeAt(L, index)) {
    case VL_TNUMBER:
      out.push_back(VL_ITEM_NUMBER);
      PutDouble(out, vl::ToNumberAt(L, index));
      return 0;
    case VL_TSTRING:
      // A key the reader would refuse must not be written.
      if (vl::GetStringLengthAt(L, index) > kMaxItemKeyLength) return ERR_WRONGUSAGE;
      out.push_back(VL_ITEM_STRING);
      return PutString(out, L, index);
    case VL_TBOOLEAN:
      out.push_back(VL_ITEM_BOOLEAN);
      out.push_back(vl::ToBooleanAt(L, index) ? 1 : 0);
      return 0;
    default:
      return ERR_WRONGDTYPE;
  }
}

int PutTable(Bytes& out, vlVMState* L, int index, int depth);

int PutValue(Bytes& out, vlVMState* L, int index, int depth) {
  switch (vl::GetTypeAt(L, index)) {
    case VL_TTABLE:
      out.push_back(VL_ITEM_TABLE);
      return PutTable(out, L, index, depth + 1);
    case VL_TFUNCTION: {
      if (vl::IsNativeFunctionAt(L, index)) return ERR_WRONGDTYPE;
      Bytes chunk;
      if (int error = vl::DumpFunction(L, index, ChunkSink, &chunk)) return error;
      if (chunk.size() > UINT32_MAX) return ERR_WRONGDTYPE;
      out.push_back(VL_ITEM_FUNCTION);
      PutBE32(out, static_cast<uint32_t>(chunk.size()));
      out.insert(out.end(), chunk.begin(), chunk.end());
      return 0;
    }
    default:
      return PutKey(out, L, index);
  }
}

int PutTable(Bytes& out, vlVMState* L, int index, int depth) {
  if (depth > kMaxItemDepth) return ERR_TABLEOVERFLOW;
  if (!vl::EnsureStackSpace(L, 4)) return ERR_STACK;
  vl::PushNil(L);
  while (vl::NextTableEntry(L, index)) {
    int top = vl::GetStackTop(L);
    int error = PutKey(out, L, top - 1);
    if (!error) error = PutValue(out, L, top, depth);
    vl::SetStackTop(L, -2);  // the value; the key stays for the next step
    if (error) {
      vl::SetStackTop(L, -2);
      return error;
    }
  }
  out.push_back(VL_ITEM_END);
  return 0;
}

// A bounds-checked cursor over the item bytes.
struct Cursor {
  const uint8_t* data;
  size_t size;
  size_t pos;
  size_t Left() const { return size - pos; }
  bool Byte(uint8_t* out) {
    if (Left() < 1) return false;
    *out = data[pos++];
    return true;
  }
  bool BE32(uint32_t* out) {
    if (Left() < 4) return false;
    const uint8_t* p = data + pos;
    *out = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    pos += 4;
    return true;
  }
  bool Double(double* out) {
    if (Left() < 8) return false;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | data[pos + i];
    pos += 8;
    std::memcpy(out, &bits, sizeof bits);
    return true;
  }
  // A length-prefixed block that must lie wholly inside the data.
  bool Block(const uint8_t** out, uint32_t* length) {
    if (!BE32(length) || Left() < *length) return false;
    *out = data + pos;
    pos += *length;
    return true;
  }
};

struct ChunkInput {
  const uint8_t* bytes;
  size_t size;
  bool done;
};

const char* ChunkSource(vlVMState*, void* data, size_t* size) {
  auto* in = static_cast<ChunkInput*>(data);
  if (in->done) {
    *size = 0;
    return nullptr;
  }
  in->done = true;
  *size = in->size;
  return reinterpret_cast<const char*>(in->bytes);
}

// Pushes the scalar (or, for values, function) of the tag.
int PushItem(vlVMState* L, Cursor& c, uint8_t tag, bool key) {
  switch (tag) {
    case VL_ITEM_NUMBER: {
      double d;
      if (!c.Double(&d)) return ERR_READ;
      if (key && std::isnan(d)) return ERR_FILEFORMAT;
      vl::PushNumber(L, d);
      return 0;
    }
    case VL_ITEM_STRING: {
      const uint8_t* bytes;
      uint32_t n;
      if (!c.Block(&bytes, &n)) return ERR_READ;
      if (key && n > kMaxItemKeyLength) return ERR_WRONGUSAGE;
      vl::PushBytes(L, reinterpret_cast<const char*>(bytes), n);
      return 0;
    }
    case VL_ITEM_BOOLEAN: {
      uint8_t b;
      if (!c.Byte(&b)) return ERR_READ;
      if (b > 1) return ERR_FILEFORMAT;
      vl::PushBoolean(L, b);
      return 0;
    }
    case VL_ITEM_FUNCTION: {
      if (key) return ERR_FILEFORMAT;
      const uint8_t* bytes;
      uint32_t n;
      if (!c.Block(&bytes, &n)) return ERR_READ;
      ChunkInput in{bytes, n, false};
      return vl::LoadChunk(L, ChunkSource, &in, "=prefs");
    }
    default:
      return ERR_FILEFORMAT;
  }
}

// Pushes a new table holding the items at the cursor.
int ParseTable(vlVMState* L, Cursor& c, int depth) {
  if (depth > kMaxItemDepth) return ERR_TABLEOVERFLOW;
  if (!vl::EnsureStackSpace(L, 4)) return ERR_STACK;
  vl::PushNewTable(L);
  int table = vl::GetStackTop(L);
  for (;;) {
    uint8_t tag;
    if (!c.Byte(&tag)) return ERR_READ;
    if (tag == VL_ITEM_END) return 0;
    if (int error = PushItem(L, c, tag, true)) return error;
    if (!c.Byte(&tag)) return ERR_READ;
    int error = tag == VL_ITEM_TABLE ? ParseTable(L, c, depth + 1) : PushItem(L, c, tag, false);
    if (error) return error;
    vl::RawSetTableValue(L, table);
  }
}

}  // namespace

int SerializeTableItems(vlVMState* state, int tableIndex, std::vector<uint8_t>* out) {
  if (tableIndex < 0 && tableIndex > -10000) tableIndex = vl::GetStackTop(state) + tableIndex + 1;
  if (vl::GetTypeAt(state, tableIndex) != VL_TTABLE) return ERR_WRONGDTYPE;
  int base = vl::GetStackTop(state);
  int error = 0;
  try {
    error = PutTable(*out, state, tableIndex, 0);
  } catch (const std::bad_alloc&) {
    error = ERR_MEM;
  }
  vl::SetStackTop(state, base);
  return error;
}

int WriteTableItems(vlVMState* state, int tableIndex, vlStream* stream, int sizeOnly, int64_t* sizeOut) {
  std::vector<uint8_t> bytes;
  int error = SerializeTableItems(state, tableIndex, &bytes);
  if (sizeOut) *sizeOut = static_cast<int64_t>(bytes.size());
  if (error || sizeOnly) return error;
  int64_t n = static_cast<int64_t>(bytes.size());
  return WriteFileStream(stream, bytes.data(), n) == n ? 0 : ERR_WRITE;
}

int ParseTableItems(vlVMState* state, const uint8_t* data, size_t size, size_t* consumed) {
  if (consumed) *consumed = 0;
  int base = vl::GetStackTop(state);
  if (base < 1 || vl::GetTypeAt(state, base) != VL_TTABLE) return ERR_WRONGDTYPE;
  Cursor c{data, data ? size : 0, 0};
  int error = ParseTable(state, c, 0);
  if (!error) {
    // Everything read: now the target takes the new keys.
    int fresh = base + 1;
    vl::PushNil(state);
    while (vl::NextTableEntry(state, fresh)) {
      vl::PushSlotCopy(state, -2);
      vl::InsertTopAt(state, -2);  // key, key, value
      vl::RawSetTableValue(state, base);
    }
    if (consumed) *consumed = c.pos;
  }
  vl::SetStackTop(state, base);
  return error;
}

int ReadTableItems(vlVMState* state, vlStream* stream) {
  std::vector<uint8_t> bytes;
  uint8_t block[4096];
  try {
    for (;;) {
      int64_t n = ReadFileStream(stream, block, sizeof block);
      if (n <= 0) break;
      bytes.insert(bytes.end(), block, block + n);
    }
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return ParseTableItems(state, bytes.data(), bytes.size(), nullptr);
}

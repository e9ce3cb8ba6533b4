// Writing and reading script tables as tagged items, to and from a stream
// or a bounded memory cursor. The reader checks every length against what
// is there before it uses it and fills a fresh table that reaches the
// target only when all of it read. Depends on the VM's stack interface and
// chunk loader and writer, and the streams.
#include "runtime/table_items.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/stream.h"
#include "vm/chunk.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Where written bytes go: a counter, a stream or a cursor.
struct Sink {
  vlStream* stream;
  vlWriteCursor* cursor;
  int64_t* counter;

  int Put(const void* bytes, size_t n) {
    if (counter) {
      *counter += static_cast<int64_t>(n);
      return 0;
    }
    if (stream) {
      auto want = static_cast<int64_t>(n);
      return WriteFileStream(stream, bytes, want) == want ? 0 : ERR_WRITE;
    }
    if (static_cast<size_t>(cursor->end - cursor->next) < n) return ERR_WRITE;
    if (n) std::memcpy(cursor->next, bytes, n);
    cursor->next += n;
    return 0;
  }
  int PutByte(uint8_t b) { return Put(&b, 1); }
  int PutBE32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v)};
    return Put(b, 4);
  }
  int PutDouble(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    return Put(b, 8);
  }
  // A tag and a u32 length, then the bytes.
  int PutBlock(uint8_t tag, const void* bytes, size_t n) {
    if (n > UINT32_MAX) return ERR_WRONGUSAGE;
    if (int error = PutByte(tag)) return error;
    if (int error = PutBE32(static_cast<uint32_t>(n))) return error;
    return Put(bytes, n);
  }
};

struct ChunkBuffer {
  Bytes bytes;
  bool failed = false;
};

// The dump writer's result is ignored, so running out of memory is noted
// here instead of being thrown through the VM's frames.
int ChunkSink(vlVMState*, const void* bytes, size_t size, void* data) {
  auto* out = static_cast<ChunkBuffer*>(data);
  if (out->failed) return 1;
  try {
    const auto* b = static_cast<const uint8_t*>(bytes);
    out->bytes.insert(out->bytes.end(), b, b + size);
  } catch (const std::bad_alloc&) {
    out->failed = true;
  }
  return 0;
}

int PutString(Sink& sink, vlVMState* L, int index) {
  return sink.PutBlock(VL_ITEM_STRING, vl::ToStringAt(L, index), vl::GetStringLengthAt(L, index));
}

int PutKey(Sink& sink, vlVMState* L, int index) {
  switch (vl::GetTypeAt(L, index)) {
    case VL_TNUMBER:
      if (int error = sink.PutByte(VL_ITEM_NUMBER)) return error;
      return sink.PutDouble(vl::ToNumberAt(L, index));
    case VL_TSTRING:
      // A key the reader would refuse is not written: the whole table
      // would be lost on reading.
      if (vl::GetStringLengthAt(L, index) > kMaxItemKeyLength) return ERR_WRONGUSAGE;
      return PutString(sink, L, index);
    default:
      return ERR_WRONGUSAGE;
  }
}

// Whether the value has an item; checked before its key is written, so
// that every key item is followed by a value item.
int CheckValue(vlVMState* L, int index) {
  switch (vl::GetTypeAt(L, index)) {
    case VL_TNUMBER:
    case VL_TSTRING:
    case VL_TTABLE:
    case VL_TLIGHTUSERDATA:
    case VL_TUSERDATA:
      return 0;
    case VL_TFUNCTION:
      return vl::IsNativeFunctionAt(L, index) ? ERR_NOVLFUNC : 0;
    default:
      return ERR_WRONGUSAGE;
  }
}

int PutTable(Sink& sink, vlVMState* L, int index, int depth);

int PutValue(Sink& sink, vlVMState* L, int index, int depth) {
  switch (vl::GetTypeAt(L, index)) {
    case VL_TNUMBER:
      if (int error = sink.PutByte(VL_ITEM_NUMBER)) return error;
      return sink.PutDouble(vl::ToNumberAt(L, index));
    case VL_TSTRING:
      return PutString(sink, L, index);
    case VL_TTABLE:
      if (int error = sink.PutByte(VL_ITEM_TABLE)) return error;
      return PutTable(sink, L, index, depth + 1);
    case VL_TFUNCTION: {
      ChunkBuffer chunk;
      if (int error = vl::DumpFunction(L, index, ChunkSink, &chunk)) return error;
      if (chunk.failed) return ERR_MEM;
      return sink.PutBlock(VL_ITEM_FUNCTION, chunk.bytes.data(), chunk.bytes.size());
    }
    default:  // userdata: its pointer means nothing in another run
      if (int error = sink.PutByte(VL_ITEM_NUMBER)) return error;
      return sink.PutDouble(0);
  }
}

int PutTable(Sink& sink, vlVMState* L, int index, int depth) {
  if (depth > kMaxItemDepth) return ERR_TABLEOVERFLOW;
  if (!vl::EnsureStackSpace(L, 3)) return ERR_STACK;
  vl::PushNil(L);
  while (vl::NextTableEntry(L, index)) {
    int top = vl::GetStackTop(L);
    int error = CheckValue(L, top);
    if (!error) error = PutKey(sink, L, top - 1);
    if (!error) error = PutValue(sink, L, top, depth);
    vl::SetStackTop(L, -2);  // the value; the key stays for the next step
    if (error) {
      vl::SetStackTop(L, -2);
      return error;
    }
  }
  return sink.PutByte(VL_ITEM_END);
}

// Where items are read from: a stream or a cursor.
struct Source {
  vlStream* stream;
  vlReadCursor* cursor;

  int Get(void* out, size_t n) {
    if (stream) {
      auto want = static_cast<int64_t>(n);
      return ReadFileStream(stream, out, want) == want ? 0 : ERR_READ;
    }
    if (static_cast<size_t>(cursor->end - cursor->next) < n) return ERR_READ;
    std::memcpy(out, cursor->next, n);
    cursor->next += n;
    return 0;
  }
  int GetByte(uint8_t* b) { return Get(b, 1); }
  int GetBE32(uint32_t* v) {
    uint8_t b[4];
    if (int error = Get(b, 4)) return error;
    *v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return 0;
  }
  int GetDouble(double* d) {
    uint8_t b[8];
    if (int error = Get(b, 8)) return error;
    uint64_t bits = 0;
    for (uint8_t byte : b) bits = (bits << 8) | byte;
    std::memcpy(d, &bits, sizeof bits);
    return 0;
  }
  // n bytes at *bytes. A cursor's are checked against what remains before
  // anything is used; a stream's are read in steps into scratch, so a false
  // length costs no more memory than the data really there.
  int GetBlock(uint32_t n, Bytes& scratch, const uint8_t** bytes) {
    if (!stream) {
      if (static_cast<size_t>(cursor->end - cursor->next) < n) return ERR_READ;
      *bytes = cursor->next;
      cursor->next += n;
      return 0;
    }
    static const uint8_t kNone = 0;
    *bytes = &kNone;  // an empty block is still a valid pointer
    if (n == 0) return 0;
    constexpr size_t kStep = 64 * 1024;
    scratch.clear();
    while (scratch.size() < n) {
      size_t old = scratch.size();
      size_t step = n - old < kStep ? n - old : kStep;
      scratch.resize(old + step);
      if (int error = Get(scratch.data() + old, step)) return error;
    }
    *bytes = scratch.data();
    return 0;
  }
};

struct ChunkInput {
  const uint8_t* bytes;
  size_t size;
  bool done;
};

// Hands the whole function item to the loader at once, then the end.
const char* ReadChunkOnce(vlVMState*, void* data, size_t* size) {
  auto* in = static_cast<ChunkInput*>(data);
  if (in->done) {
    *size = 0;
    return nullptr;
  }
  in->done = true;
  *size = in->size;
  return reinterpret_cast<const char*>(in->bytes);
}

int PushKey(vlVMState* L, Source& src, uint8_t tag) {
  Bytes scratch;
  switch (tag) {
    case VL_ITEM_NUMBER: {
      double d;
      if (int error = src.GetDouble(&d)) return error;
      if (std::isnan(d)) return ERR_FILEFORMAT;  // no table can hold it
      vl::PushNumber(L, d);
      return 0;
    }
    case VL_ITEM_STRING: {
      uint32_t n;
      if (int error = src.GetBE32(&n)) return error;
      if (n > kMaxItemKeyLength) return ERR_WRONGUSAGE;
      const uint8_t* bytes;
      if (int error = src.GetBlock(n, scratch, &bytes)) return error;
      vl::PushBytes(L, reinterpret_cast<const char*>(bytes), n);
      return 0;
    }
    default:
      return ERR_FILEFORMAT;
  }
}

int ReadItems(vlVMState* L, Source& src, int table, int depth);

int PushValue(vlVMState* L, Source& src, uint8_t tag, int depth) {
  Bytes scratch;
  switch (tag) {
    case VL_ITEM_NUMBER: {
      double d;
      if (int error = src.GetDouble(&d)) return error;
      vl::PushNumber(L, d);
      return 0;
    }
    case VL_ITEM_STRING: {
      uint32_t n;
      if (int error = src.GetBE32(&n)) return error;
      const uint8_t* bytes;
      if (int error = src.GetBlock(n, scratch, &bytes)) return error;
      vl::PushBytes(L, reinterpret_cast<const char*>(bytes), n);
      return 0;
    }
    case VL_ITEM_TABLE:
      if (depth + 1 > kMaxItemDepth) return ERR_TABLEOVERFLOW;
      vl::PushNewTable(L);
      return ReadItems(L, src, vl::GetStackTop(L), depth + 1);
    case VL_ITEM_FUNCTION: {
      uint32_t n;
      if (int error = src.GetBE32(&n)) return error;
      if (n == 0) return ERR_MEM;
      const uint8_t* bytes;
      if (int error = src.GetBlock(n, scratch, &bytes)) return error;
      ChunkInput in{bytes, n, false};
      return vl::LoadChunk(L, ReadChunkOnce, &in, "=stored function");
    }
    default:
      return ERR_FILEFORMAT;
  }
}

// Reads pairs into the fresh table at index table until its 0 tag.
int ReadItems(vlVMState* L, Source& src, int table, int depth) {
  if (!vl::EnsureStackSpace(L, 3)) return ERR_STACK;
  for (;;) {
    uint8_t tag;
    if (int error = src.GetByte(&tag)) return error;
    if (tag == VL_ITEM_END) return 0;
    if (int error = PushKey(L, src, tag)) return error;
    if (int error = src.GetByte(&tag)) return error;
    if (int error = PushValue(L, src, tag, depth)) return error;
    vl::RawSetTableValue(L, table);
  }
}

}  // namespace

int WriteTableItems(vlVMState* state, int tableIndex, vlStream* stream, vlWriteCursor* cursor,
                    int64_t* sizeCounter) {
  if (!sizeCounter && !stream && !cursor) return ERR_WRONGUSAGE;
  if (tableIndex < 0 && tableIndex > vl::kRegistryIndex) tableIndex = vl::GetStackTop(state) + tableIndex + 1;
  if (vl::GetTypeAt(state, tableIndex) != VL_TTABLE) return ERR_WRONGDTYPE;
  int64_t count = 0;
  Sink sink{stream, cursor, sizeCounter ? &count : nullptr};
  int base = vl::GetStackTop(state);
  int error = 0;
  try {
    error = PutTable(sink, state, tableIndex, 0);
  } catch (const std::bad_alloc&) {
    error = ERR_MEM;
  }
  vl::SetStackTop(state, base);
  if (!error && sizeCounter) *sizeCounter += count;
  return error;
}

int ReadTableItems(vlVMState* state, vlStream* stream, vlReadCursor* cursor, int intoExisting) {
  if (!stream && !cursor) return ERR_WRONGUSAGE;
  int base = vl::GetStackTop(state);
  if (intoExisting && (base < 1 || vl::GetTypeAt(state, base) != VL_TTABLE)) return ERR_WRONGDTYPE;
  if (!vl::EnsureStackSpace(state, 4)) return ERR_STACK;
  vl::PushNewTable(state);
  int fresh = base + 1;
  Source src{stream, cursor};
  int error = 0;
  try {
    error = ReadItems(state, src, fresh, 0);
  } catch (const std::bad_alloc&) {
    error = ERR_MEM;
  }
  if (error) {
    vl::SetStackTop(state, base);
    return error;
  }
  if (!intoExisting) return 0;
  // Everything read: now the target takes the stored keys.
  vl::PushNil(state);
  while (vl::NextTableEntry(state, fresh)) {
    vl::PushSlotCopy(state, -2);
    vl::InsertTopAt(state, -2);  // key, key, value
    vl::SetTableValue(state, base);
  }
  vl::SetStackTop(state, base);
  return 0;
}

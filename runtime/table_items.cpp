// Writing and reading script tables as tagged items, to and from a stream
// or a bounded memory cursor. The reader checks every length against what
// is there before it uses it and fills a fresh table that reaches the
// target only when all of it read. Depends on the VM's stack interface and
// chunk loader and writer, and the streams.
#include "runtime/table_items.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "runtime/base64.h"
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
    return WriteSerialValue(stream, bytes, 1, n, 0, cursor);
  }
  int PutValue(const void* value, size_t n) {
    if (counter) {
      *counter += static_cast<int64_t>(n);
      return 0;
    }
    return WriteSerialValue(stream, value, 0, n, 0, cursor);
  }
  int PutByte(uint8_t b) { return Put(&b, 1); }
  int PutBE32(uint32_t v) { return PutValue(&v, 4); }
  int PutDouble(double d) { return PutValue(&d, 8); }
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

// Base64 characters of n bytes, with a line feed before every 73rd
// character of a line unless oneLine.
uint64_t Base64TextSize(uint64_t n, int oneLine) {
  uint64_t chars = (n + 2) / 3 * 4;
  return oneLine || chars == 0 ? chars : chars + (chars - 1) / 72;
}

// The count field of the text forms: 8 lower-case hexadecimal digits.
int PutHexCount(Sink& sink, uint64_t n) {
  if (n > 0xFFFFFFFFu) return ERR_WRONGUSAGE;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%.8lx", static_cast<unsigned long>(n));
  return sink.Put(digits, 8);
}

// Text: the count, then the Base64 text. Counted or written to a stream;
// a cursor takes the text as well.
int PutBase64(Sink& sink, const uint8_t* bytes, size_t n, int oneLine) {
  uint64_t size = Base64TextSize(n, oneLine);
  if (int error = PutHexCount(sink, size)) return error;
  if (sink.counter) {
    *sink.counter += static_cast<int64_t>(size);
    return 0;
  }
  if (sink.stream) return Base64Encode(sink.stream, nullptr, nullptr, bytes, n, nullptr, oneLine);
  // A cursor: encode in one line, then wrap in place while copying out.
  std::string text((n + 2) / 3 * 4 + 1, '\0');
  text.resize(EncodeBase64(bytes, n, text.data()));
  for (size_t i = 0; i < text.size(); ++i) {
    if (i && i % 72 == 0 && !oneLine)
      if (int error = sink.PutByte('\n')) return error;
    if (int error = sink.PutByte(static_cast<uint8_t>(text[i]))) return error;
  }
  return 0;
}

// One function item: binary, a u32 length and the chunk; text, a count and
// the chunk's Base64 text.
int PutFunction(Sink& sink, vlVMState* L, int index, int textMode, int oneLine) {
  if (vl::IsNativeFunctionAt(L, index)) return ERR_NOVLFUNC;
  ChunkBuffer chunk;
  if (int error = vl::DumpFunction(L, index, ChunkSink, &chunk)) return error;
  if (chunk.failed) return ERR_MEM;
  if (textMode) return PutBase64(sink, chunk.bytes.data(), chunk.bytes.size(), oneLine);
  if (chunk.bytes.size() > UINT32_MAX) return ERR_WRONGUSAGE;
  if (int error = sink.PutBE32(static_cast<uint32_t>(chunk.bytes.size()))) return error;
  return sink.Put(chunk.bytes.data(), chunk.bytes.size());
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
    case VL_TFUNCTION:
      if (int error = sink.PutByte(VL_ITEM_FUNCTION)) return error;
      return PutFunction(sink, L, index, 0, 0);
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

  int Get(void* out, size_t n) { return ReadSerialValue(stream, out, 1, n, 0, cursor); }
  int GetByte(uint8_t* b) { return Get(b, 1); }
  int GetBE32(uint32_t* v) { return ReadSerialValue(stream, v, 0, 4, 0, cursor); }
  int GetDouble(double* d) { return ReadSerialValue(stream, d, 0, 8, 0, cursor); }
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

// The count field of the text forms: 8 characters, read as hexadecimal
// digits up to the first that is not one.
int GetHexCount(Source& src, uint32_t* n) {
  char digits[8];
  if (int error = src.Get(digits, 8)) return error;
  uint32_t v = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) break;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *n = v;
  return 0;
}

// n characters of Base64 text decoded into out.
int GetBase64(Source& src, uint32_t n, Bytes& out) {
  if (n == 0) return ERR_MEM;
  Bytes text;
  const uint8_t* bytes;
  if (int error = src.GetBlock(n, text, &bytes)) return error;
  out.resize(n / 4 * 3 + 3);
  size_t decoded = 0;
  if (int error = Base64Decode(reinterpret_cast<const char*>(bytes), out.data(), nullptr, n, &decoded))
    return error;
  out.resize(decoded);
  return 0;
}

int PushFunction(vlVMState* L, Source& src, int textMode) {
  uint32_t n;
  Bytes scratch;
  const uint8_t* bytes;
  if (textMode) {
    if (int error = GetHexCount(src, &n)) return error;
    if (int error = GetBase64(src, n, scratch)) return error;
    bytes = scratch.data();
    n = static_cast<uint32_t>(scratch.size());
  } else {
    if (int error = src.GetBE32(&n)) return error;
    if (n == 0) return ERR_MEM;
    if (int error = src.GetBlock(n, scratch, &bytes)) return error;
  }
  ChunkInput in{bytes, n, false};
  return vl::LoadChunk(L, ReadChunkOnce, &in, "=stored function");
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
    case VL_ITEM_FUNCTION:
      return PushFunction(L, src, 0);
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

int WriteFunctionItem(vlVMState* state, vlStream* stream, int functionIndex, int textMode, int oneLine,
                      vlWriteCursor* cursor, int64_t* sizeCounter) {
  if (!sizeCounter && !stream && !cursor) return ERR_WRONGUSAGE;
  if (functionIndex < 0 && functionIndex > vl::kRegistryIndex)
    functionIndex = vl::GetStackTop(state) + functionIndex + 1;
  if (vl::GetTypeAt(state, functionIndex) != VL_TFUNCTION) return ERR_WRONGDTYPE;
  int64_t count = 0;
  Sink sink{stream, cursor, sizeCounter ? &count : nullptr};
  int error = 0;
  try {
    error = PutFunction(sink, state, functionIndex, textMode, oneLine);
  } catch (const std::bad_alloc&) {
    error = ERR_MEM;
  }
  if (!error && sizeCounter) *sizeCounter += count;
  return error;
}

int ReadFunctionItem(vlVMState* state, vlStream* stream, int textMode, vlReadCursor* cursor) {
  if (!stream && !cursor) return ERR_WRONGUSAGE;
  if (!vl::EnsureStackSpace(state, 2)) return ERR_STACK;
  Source src{stream, cursor};
  try {
    return PushFunction(state, src, textMode);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

int ReadBase64Block(vlStream* stream, vlReadCursor* cursor, std::vector<uint8_t>* out) {
  Source src{stream, cursor};
  uint32_t n;
  if (int error = GetHexCount(src, &n)) return error;
  try {
    return GetBase64(src, n, *out);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

int WriteBase64Block(vlStream* stream, const void* bytes, size_t length, int oneLine) {
  Sink sink{stream, nullptr, nullptr};
  return PutBase64(sink, static_cast<const uint8_t*>(bytes), length, oneLine);
}

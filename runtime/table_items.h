// The engine's serialisation of a script table as tagged items: each item
// is a key and a value, each a tag byte followed by its data; a table ends
// with the end tag. All numbers are big-endian:
//   0 end of table
//   1 number: 8-byte IEEE double
//   2 string: u32 length, then the bytes
//   3 table: its items, then the end tag (values only)
//   4 boolean: one byte, 0 or 1
//   5 function: u32 length, then the function as a compiled chunk (values only)
// Keys are numbers, strings (at most 256 bytes) or booleans.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct vlStream;
struct vlVMState;

enum : uint8_t {
  VL_ITEM_END = 0,
  VL_ITEM_NUMBER = 1,
  VL_ITEM_STRING = 2,
  VL_ITEM_TABLE = 3,
  VL_ITEM_BOOLEAN = 4,
  VL_ITEM_FUNCTION = 5,
};

// Nesting deeper than this (also a table that contains itself) is refused.
inline constexpr int kMaxItemDepth = 64;
inline constexpr size_t kMaxItemKeyLength = 256;

// Appends the items of the table at tableIndex to out. 0, or 1019 (a value
// that cannot be stored: userdata, threads, native functions), 1055 (a key
// over 256 bytes), 1207 (nesting too deep), 1135 or 1000.
int SerializeTableItems(vlVMState* state, int tableIndex, std::vector<uint8_t>* out);

// Writes the items to the stream (nothing with sizeOnly); sizeOut (may be
// null) gets their size. The errors of SerializeTableItems, or 1005.
int WriteTableItems(vlVMState* state, int tableIndex, vlStream* stream, int sizeOnly, int64_t* sizeOut);

// Adds the items in data to the table on top of the stack: stored keys
// replace present ones, other keys stay. Nothing changes unless the whole
// table reads well. consumed (may be null) gets the bytes used. 0, or 1009
// (the data ends early), 1577 (a bad tag or key), 1055 (a key over 256
// bytes), 1207, 1135, or an error of the chunk loader.
int ParseTableItems(vlVMState* state, const uint8_t* data, size_t size, size_t* consumed);

// As ParseTableItems over the rest of the stream.
int ReadTableItems(vlVMState* state, vlStream* stream);

// The engine's stored form of a script table: pairs of a key item and a
// value item, each a tag byte and its data, ended by a 0 tag in key
// position. All numbers are big-endian:
//   0 end of the table (key position only)
//   2 number: 8-byte IEEE double
//   3 string: u32 length, then the bytes (zero bytes allowed)
//   4 nested table: its items, then its own 0 tag (values only)
//   5 script function: u32 length, then its compiled chunk (values only)
// Keys are numbers and strings of at most 256 bytes. Userdata values are
// stored as the number 0. Booleans, threads and native functions have no
// item and make the writer refuse the table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/serial_value.h"

struct vlStream;
struct vlVMState;

enum : uint8_t {
  VL_ITEM_END = 0,
  VL_ITEM_NUMBER = 2,
  VL_ITEM_STRING = 3,
  VL_ITEM_TABLE = 4,
  VL_ITEM_FUNCTION = 5,
};

// Nesting deeper than this (also a table that contains itself) is refused.
inline constexpr int kMaxItemDepth = 64;
inline constexpr size_t kMaxItemKeyLength = 256;


// Writes the items of the table at tableIndex, its 0 tag included, to the
// stream, or with a null stream at the cursor. With a size counter nothing
// is written and the counter grows by the bytes the items take. 0, or 1019
// (not a table), 1055 (a key that is not a number or a string of at most
// 256 bytes, or a value with no item), 1324 (a native function), 1207
// (nesting too deep, also a table that contains itself), 1135, 1000, or
// 1005 (a short write or a full cursor). A failed write leaves what it
// wrote; a failed count leaves the counter as it was.
int WriteTableItems(vlVMState* state, int tableIndex, vlStream* stream, vlWriteCursor* cursor,
                    int64_t* sizeCounter);

// Reads items from the stream, or with a null stream from the cursor, up
// to and including the 0 tag, and pushes them as a new table; with
// intoExisting they go into the table on the stack top instead (stored
// keys replace present ones through plain assignment, other keys stay)
// and nothing is pushed. Nothing changes unless the whole table reads
// well; the stream or cursor is then left after its last item. 0, or 1009
// (the data ends early), 1577 (a bad tag, or a key that cannot be stored),
// 1055 (a key over 256 bytes), 1000 (an empty function item), 1207, 1135,
// 1019 (intoExisting without a table on top), or an error of the chunk
// loader.
int ReadTableItems(vlVMState* state, vlStream* stream, vlReadCursor* cursor, int intoExisting);

// One function item: binary (textMode 0), a u32 length and the compiled
// chunk; text, 8 hexadecimal digits counting the characters of the
// chunk's Base64 text that follows, a line feed before every 73rd
// character of a line unless oneLine. To the stream, the cursor, or only
// counted. 0, 1324 (a native function), 1019, 1000, 1005 or 1055.
int WriteFunctionItem(vlVMState* state, vlStream* stream, int functionIndex, int textMode, int oneLine,
                      vlWriteCursor* cursor, int64_t* sizeCounter);
// Reads one function item and pushes the loaded function. 0, 1000 (an
// empty item), 1009, 1323 (bad Base64 text), or the loader's error.
int ReadFunctionItem(vlVMState* state, vlStream* stream, int textMode, vlReadCursor* cursor);

// The text forms' framing of a byte block: 8 hexadecimal digits counting
// the characters of the Base64 text that follows (line feeds included).
// The writer wraps at 72 characters unless oneLine; 0, 1005 or 1055.
int WriteBase64Block(vlStream* stream, const void* bytes, size_t length, int oneLine);
// Reads such a block and decodes it into out. 0, 1000 (a count of 0),
// 1009, or 1323.
int ReadBase64Block(vlStream* stream, vlReadCursor* cursor, std::vector<uint8_t>* out);

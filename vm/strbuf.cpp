// The string builder: small appends collect in a 1 KB block; full blocks
// become pieces on the VM stack, merged so that few pieces wait at once and
// a long result is not copied over and over.
#include <cstring>

#include "vm/auxlib.h"
#include "vm/stack_api.h"

namespace vl {

namespace {

// Merging stops once fewer pieces than this would remain, unless the piece
// below is shorter than the merged top part (keeps sizes decreasing upward).
constexpr int kMaxPendingPieces = 10;

size_t BlockUsed(const vlStrBuf* b) { return static_cast<size_t>(b->p - b->buffer); }

bool Flush(vlStrBuf* b) {
  size_t used = BlockUsed(b);
  if (used == 0) return false;
  PushBytes(b->state, b->buffer, used);
  b->p = b->buffer;
  ++b->pieces;
  return true;
}

void Merge(vlStrBuf* b) {
  if (b->pieces <= 1) return;
  vlVMState* L = b->state;
  int take = 1;
  size_t topLength = GetStringLengthAt(L, -1);
  do {
    size_t below = GetStringLengthAt(L, -(take + 1));
    if (b->pieces - take + 1 >= kMaxPendingPieces || topLength > below) {
      topLength += below;
      ++take;
    } else {
      break;
    }
  } while (take < b->pieces);
  ConcatValues(L, take);
  b->pieces = b->pieces - take + 1;
}

}  // namespace

char* PrepStrBuf(vlStrBuf* b) {
  if (Flush(b)) Merge(b);
  return b->buffer;
}

void AddBytesToFullStrBuf(vlStrBuf* b, const char* bytes, size_t length) {
  while (length > 0) {
    size_t room = kStrBufSize - BlockUsed(b);
    if (room == 0) {
      PrepStrBuf(b);
      continue;
    }
    size_t n = length < room ? length : room;
    std::memcpy(b->p, bytes, n);
    b->p += n;
    bytes += n;
    length -= n;
  }
}

void AddStringToStrBuf(vlStrBuf* b, const char* text) {
  if (text) AddBytesToStrBuf(b, text, std::strlen(text));
}

void AddTopToStrBuf(vlStrBuf* b) {
  vlVMState* L = b->state;
  size_t length = GetStringLengthAt(L, -1);
  if (length <= kStrBufSize - BlockUsed(b)) {
    const char* s = ToStringAt(L, -1);
    if (s && length) std::memcpy(b->p, s, length);
    b->p += length;
    SetStackTop(L, -2);
    return;
  }
  // The block's contents come before the value: push them as a piece and
  // move that piece below it.
  if (Flush(b)) InsertTopAt(L, -2);
  ++b->pieces;
  Merge(b);
}

void PushStrBufPieces(vlStrBuf* b) {
  Flush(b);
  ConcatValues(b->state, b->pieces);
  b->pieces = 1;
}

}  // namespace vl

// Writes a chunk model as bytes: the 21-byte header, then the main function
// record with its nested records, every multi-byte item in the chunk's byte
// order. Depends only on chunkasm.h.
#include <bit>
#include <cstring>

#include "tools/chunkasm/chunkasm.h"

namespace vlasm {
namespace {

class Out {
 public:
  explicit Out(bool big) : big_(big) {}
  void Byte(uint8_t b) { bytes_.push_back(b); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(big_ ? v >> (24 - 8 * i) : v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Double(double d) {
    const uint64_t v = std::bit_cast<uint64_t>(d);
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(big_ ? v >> (56 - 8 * i) : v >> (8 * i)));
  }
  // Size counts the terminating NUL; an absent string is size 0.
  void String(const MaybeString& s) {
    if (!s) {
      U32(0);
      return;
    }
    U32(static_cast<uint32_t>(s->size() + 1));
    bytes_.insert(bytes_.end(), s->begin(), s->end());
    Byte(0);
  }
  void Function(const vlasm::Function& f) {
    String(f.source);
    I32(f.lineDefined);
    Byte(f.numUpvalues);
    Byte(f.numParams);
    Byte(f.isVararg);
    Byte(f.maxStack);
    U32(static_cast<uint32_t>(f.lines.size()));
    for (int32_t line : f.lines) I32(line);
    U32(static_cast<uint32_t>(f.locals.size()));
    for (const LocalVar& l : f.locals) {
      String(l.name);
      I32(l.startPc);
      I32(l.endPc);
    }
    U32(static_cast<uint32_t>(f.upvalueNames.size()));
    for (const MaybeString& n : f.upvalueNames) String(n);
    U32(static_cast<uint32_t>(f.constants.size()));
    for (const Constant& k : f.constants) {
      Byte(k.type);
      if (k.type == 3) Double(k.number);
      if (k.type == 4) String(k.text);
    }
    U32(static_cast<uint32_t>(f.nested.size()));
    for (const vlasm::Function& n : f.nested) Function(n);
    U32(static_cast<uint32_t>(f.code.size()));
    for (uint32_t w : f.code) U32(w);
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  bool big_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::vector<uint8_t> ChunkHeader(bool bigEndian) {
  Out out(bigEndian);
  for (uint8_t b : {0x1B, 0x56, 0x4C, 0x42}) out.Byte(b);  // ESC "VLB"
  out.Byte(bigEndian ? 0 : 1);
  for (uint8_t b : {4, 4, 4, 6, 8, 9, 9, 8}) out.Byte(b);
  out.Double(31415926.535897933);
  return std::move(out.Bytes());
}

std::vector<uint8_t> WriteChunk(const Chunk& chunk) {
  Out out(chunk.bigEndian);
  out.Bytes() = ChunkHeader(chunk.bigEndian);
  out.Function(chunk.main);
  return std::move(out.Bytes());
}

}  // namespace vlasm

// Builds container bytes field by field for the reader's tests.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vltest {

struct ContainerBytes {
  std::vector<uint8_t> b{'V', 'L', 'A', 0};

  ContainerBytes& U8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  ContainerBytes& U16(uint32_t v) { return U8(v >> 8).U8(v); }
  ContainerBytes& U32(uint32_t v) { return U16(v >> 16).U16(v); }
  ContainerBytes& Text(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return U8(0);
  }
  ContainerBytes& Short(const std::string& s) {
    U16(static_cast<uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  ContainerBytes& Raw(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  ContainerBytes& F64(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return U32(static_cast<uint32_t>(bits >> 32)).U32(static_cast<uint32_t>(bits));
  }
  ContainerBytes& Code(const std::string& code) {
    U8(1).U32(static_cast<uint32_t>(code.size()));
    return Raw(code);
  }
  // The fixed head of a declaration (revision 6: empty loader and adapter).
  ContainerBytes& Decl(uint32_t subtype, uint32_t id, uint32_t nameOffset, uint32_t nameLength, uint32_t line,
                       uint32_t wordA = 0, uint32_t wordB = 0) {
    U8(subtype).U32(id).U32(nameOffset).U32(nameLength).U32(0).U32(0).U32(wordA).U32(wordB).U32(line);
    return Short("").Short("");
  }
  size_t Size() const { return b.size(); }
};

}  // namespace vltest

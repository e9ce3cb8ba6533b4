// Helpers of the chunk tests: loading bytes through a reader that hands
// them out in blocks of a chosen size, and dumping the function on top.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/chunkasm/chunkasm.h"
#include "vm/chunk.h"

namespace vltest {

struct BlockReader {
  const std::vector<uint8_t>* bytes;
  size_t block;
  size_t pos = 0;
};

inline const char* ReadBlocks(vlVMState*, void* data, size_t* size) {
  auto* r = static_cast<BlockReader*>(data);
  if (r->pos >= r->bytes->size()) {
    *size = 0;
    return nullptr;
  }
  *size = std::min(r->block, r->bytes->size() - r->pos);
  const char* p = reinterpret_cast<const char*>(r->bytes->data() + r->pos);
  r->pos += *size;
  return p;
}

// Loads bytes handed out `block` bytes at a time; 0 or the error code.
inline int LoadBytes(vlVMState* L, const std::vector<uint8_t>& bytes, size_t block = SIZE_MAX) {
  BlockReader r{&bytes, block};
  return vl::LoadChunk(L, ReadBlocks, &r, "test");
}

inline int CollectBytes(vlVMState*, const void* p, size_t n, void* data) {
  auto* out = static_cast<std::vector<uint8_t>*>(data);
  out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  return 0;
}

inline std::vector<uint8_t> DumpTop(vlVMState* L) {
  std::vector<uint8_t> out;
  EXPECT_EQ(vl::DumpFunction(L, -1, CollectBytes, &out), 0);
  return out;
}

inline std::string SourceDir() {
  // Built in, since a test may run without the environment set.
  const char* d = std::getenv("VL_SOURCE_DIR");
  return d ? d : VL_SOURCE_ROOT;
}

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

inline std::vector<uint8_t> ReadBinary(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// Every assembler program of the chunk corpus (tests/vm/chunks and the
// cross-check programs), by file name.
inline std::vector<std::pair<std::string, std::string>> CorpusPrograms() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const char* dir : {"tests/vm/chunks", "tests/tools/crosscheck"}) {
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(SourceDir()) / dir))
      if (e.path().extension() == ".vlasm") out.emplace_back(e.path().filename().string(), ReadText(e.path()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace vltest

// The table of live memory names. Streams may be opened from the audio and
// video threads, so the table is guarded by its own lock.
#include "runtime/memory_name.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct Block {
  const void* address;
  uint64_t size;
};

std::mutex g_lock;
std::unordered_map<uint64_t, Block> g_blocks;
uint64_t g_counter = 0;

// The counter of a well-formed name: the prefix and 1 to 20 digits.
bool ParseCounter(const char* name, uint64_t* counter) {
  if (!IsMemoryName(name)) return false;
  const char* p = name + kMemoryNamePrefixLength;
  if (*p < '0' || *p > '9') return false;
  if (p[0] == '0' && p[1] != 0) return false;  // one spelling per name
  uint64_t v = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    unsigned d = static_cast<unsigned>(*p - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *counter = v;
  return true;
}

}  // namespace

int IsMemoryName(const char* name) {
  return name && std::strncmp(name, kMemoryNamePrefix, kMemoryNamePrefixLength) == 0;
}

int MakeMemoryName(char* buffer, size_t bufferSize, const void* address, uint64_t size) {
  if (!buffer) return 0;
  std::lock_guard<std::mutex> hold(g_lock);
  uint64_t id = g_counter + 1;
  int n = std::snprintf(buffer, bufferSize, "%s%llu", kMemoryNamePrefix, static_cast<unsigned long long>(id));
  if (n < 0 || static_cast<size_t>(n) >= bufferSize) {
    if (bufferSize) buffer[0] = 0;
    return 0;
  }
  try {
    g_blocks.emplace(id, Block{address, size});
  } catch (...) {
    buffer[0] = 0;
    return 0;
  }
  g_counter = id;
  return 1;
}

void ReleaseMemoryName(const char* name) {
  uint64_t id;
  if (!ParseCounter(name, &id)) return;
  std::lock_guard<std::mutex> hold(g_lock);
  g_blocks.erase(id);
}

bool FindMemoryName(const char* name, const void** address, uint64_t* size) {
  uint64_t id;
  if (!ParseCounter(name, &id)) return false;
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_blocks.find(id);
  if (it == g_blocks.end()) return false;
  *address = it->second.address;
  *size = it->second.size;
  return true;
}

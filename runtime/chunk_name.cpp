// Building and parsing chunk names, and the path helpers used for messages
// and joins. Names come from scripts, so parsing is strict and every copy
// is bounded by its destination.
#include "runtime/chunk_name.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/stream.h"

namespace {

std::atomic<vlVirtualFileFind> g_findVirtual{nullptr};
std::atomic<vlVirtualFileCheck> g_isVirtual{nullptr};
std::atomic<vlVirtualFileFree> g_freeVirtual{nullptr};

// Reads 1 to 20 decimal digits without overflow; the end pointer goes out.
bool ReadNumber(const char* p, uint64_t* value, const char** end) {
  if (*p < '0' || *p > '9') return false;
  uint64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    unsigned d = static_cast<unsigned>(*p - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  *end = p;
  return true;
}

// Copies n bytes and a terminator when they fit; a null destination only
// checks nothing.
bool CopyPart(char* dst, size_t dstSize, const char* src, size_t n) {
  if (!dst) return true;
  if (n >= dstSize) return false;
  std::memcpy(dst, src, n);
  dst[n] = 0;
  return true;
}

// The extension of a file name: its last '.' after the last separator.
const char* FindExtension(const char* name, size_t len) {
  const char* dot = nullptr;
  for (size_t i = 0; i < len; ++i) {
    if (name[i] == '/' || name[i] == '\\') dot = nullptr;
    else if (name[i] == '.') dot = name + i;
  }
  return dot;
}

}  // namespace

int IsChunkName(const char* name) {
  return name && std::strncmp(name, kChunkNamePrefix, kChunkNamePrefixLength) == 0;
}

void SetVirtualFileHooks(vlVirtualFileFind find, vlVirtualFileCheck isNode) {
  g_findVirtual.store(find);
  g_isVirtual.store(isNode);
  // New owners free their records their own way (SetVirtualFileFree).
  g_freeVirtual.store(nullptr);
}

void SetVirtualFileFree(vlVirtualFileFree release) { g_freeVirtual.store(release); }

void HoldVirtualFile(vlMemoryRecord* record) {
  if (record) __atomic_add_fetch(&record->users, 1, __ATOMIC_ACQ_REL);
}

void ReleaseVirtualFile(vlMemoryRecord* record) {
  if (!record || __atomic_sub_fetch(&record->users, 1, __ATOMIC_ACQ_REL) != 0) return;
  if (vlVirtualFileFree release = g_freeVirtual.load()) release(record);
}

int IsVirtualFileNode(const vlMemoryRecord* record) {
  vlVirtualFileCheck check = g_isVirtual.load();
  return record && check && check(record) ? 1 : 0;
}

vlMemoryRecord* FindVirtualFile(int64_t reference) {
  vlVirtualFileFind find = g_findVirtual.load();
  vlMemoryRecord* record = find ? find(reference) : nullptr;
  return IsVirtualFileNode(record) ? record : nullptr;
}

int MakeChunkName(const char* storedName, char* buffer, size_t bufferSize, int64_t offset, uint64_t length,
                  int64_t base, const char* containerPath) {
  if (!buffer || bufferSize == 0) return 0;
  int n;
  if (offset != -1) {
    n = std::snprintf(buffer, bufferSize, "%s%" PRIu64 ":%" PRIu64 "*%s?%s", kChunkNamePrefix,
                      static_cast<uint64_t>(base) + static_cast<uint64_t>(offset), length, storedName ? storedName : "",
                      containerPath ? containerPath : "");
  } else {
    n = std::snprintf(buffer, bufferSize, "%sS%" PRId64 ":%" PRIu64 "*%s?", kChunkNamePrefix, base, length,
                      storedName ? storedName : "");
  }
  if (n < 0 || static_cast<size_t>(n) >= bufferSize) {
    buffer[0] = 0;
    return 0;
  }
  return 1;
}

int ParseChunkName(const char* name, const vlChunkNameParts& out) {
  if (!IsChunkName(name)) return 0;
  const char* p = name + kChunkNamePrefixLength;
  bool memoryForm = *p == 'S';
  if (memoryForm) ++p;
  uint64_t first, length;
  if (!ReadNumber(p, &first, &p) || *p != ':') return 0;
  if (!ReadNumber(p + 1, &length, &p) || *p != '*') return 0;
  const char* stored = p + 1;
  const char* question = std::strchr(stored, '?');
  if (!question) return 0;
  size_t storedLen = static_cast<size_t>(question - stored);
  const char* path = question + 1;

  vlMemoryRecord* record = nullptr;
  uint64_t offset = first;
  if (memoryForm) {
    // The memory form ends in "?" and, as the dos library writes it, "unused".
    if (first > INT64_MAX || (*path != 0 && std::strcmp(path, "unused") != 0)) return 0;
    path = "";
    record = FindVirtualFile(static_cast<int64_t>(first));
    if (!record) return 0;
    offset = 0;
    length = record->size;
  }
  if (!CopyPart(out.storedName, out.storedNameSize, stored, storedLen)) return 0;
  if (!CopyPart(out.containerPath, out.containerPathSize, path, std::strlen(path))) return 0;
  if (out.extension) {
    const char* dot = FindExtension(stored, storedLen);
    size_t n = dot ? static_cast<size_t>(question - dot) : 0;
    if (!CopyPart(out.extension, out.extensionSize, dot ? dot : "", n)) return 0;
  }
  if (out.offset) *out.offset = offset;
  if (out.length) *out.length = length;
  if (out.record) *out.record = record;
  return 1;
}

const char* GetReadableFileName(const char* name) {
  static thread_local char buffer[1024];
  return name ? ReadableFilePart(name, buffer, sizeof buffer) : name;
}

int GetFileExtension(char* buffer, size_t bufferSize, const char* name) {
  if (!buffer || !name) return 0;
  const char* ext = nullptr;
  size_t n = 0;
  if (IsChunkName(name)) {
    const char* star = std::strchr(name, '*');
    const char* question = star ? std::strchr(star + 1, '?') : nullptr;
    if (question) {
      ext = FindExtension(star + 1, static_cast<size_t>(question - (star + 1)));
      if (ext) n = static_cast<size_t>(question - ext);
    }
  } else {
    ext = FindExtension(name, std::strlen(name));
    if (ext) n = std::strlen(ext);
  }
  size_t have = strnlen(buffer, bufferSize);
  if (have == bufferSize) return 0;
  if (!ext) return 1;
  return CopyPart(buffer + have, bufferSize - have, ext, n) ? 1 : 0;
}

int AddPart(char* directory, size_t directorySize, const char* file) {
  if (!directory || !file) return 0;
  size_t have = strnlen(directory, directorySize);
  if (have == directorySize) return 0;
  bool slash = have > 0 && directory[have - 1] != '/' && directory[have - 1] != '\\';
  size_t n = std::strlen(file);
  if (have + slash + n >= directorySize) return 0;
  if (slash) directory[have++] = '/';
  std::memcpy(directory + have, file, n + 1);
  return 1;
}

const char* GetFilePart(const char* path) {
  if (!path) return path;
  while (*path == '/') ++path;
  const char* part = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\' || *p == ':') part = p + 1;
  return part;
}

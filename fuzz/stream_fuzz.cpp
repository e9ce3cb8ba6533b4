// Fuzzes the stream readers over memory blocks of any size (truncated and
// oversized reads, seeks in every mode), whole-file reads through memory
// names and through windows of a real file, copies into a growing virtual
// file, and the chunk-name parser.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/chunk_name.h"
#include "runtime/memory_name.h"
#include "runtime/stream.h"

namespace {

vlMemoryRecord g_target;
vlMemoryRecord* FindTarget(int64_t ref) { return ref == 1 ? &g_target : nullptr; }
int IsTarget(const vlMemoryRecord* r) { return r == &g_target; }

void Check(bool ok) {
  if (!ok) std::abort();
}

void RunReaders(const uint8_t* program, size_t programSize, const uint8_t* data, size_t size) {
  vlStream* s = OpenMemoryStream(data, size);
  Check(s != nullptr);
  uint8_t buffer[4096];
  for (size_t i = 0; i + 1 < programSize; i += 2) {
    uint8_t op = program[i], arg = program[i + 1];
    int64_t before = SeekFileStream(s, 0, VL_SEEK_CURRENT);
    Check(before >= 0 && before <= static_cast<int64_t>(size));
    switch (op % 9) {
      case 0: {
        int b = ReadFileStreamByte(s);
        Check(b == (before < static_cast<int64_t>(size) ? data[before] : -1));
        break;
      }
      case 1: ReadFileStreamWordLE(s); break;
      case 2: ReadFileStreamWordBE(s); break;
      case 3: ReadFileStreamLongLE(s); break;
      case 4: {
        uint32_t v = ReadFileStreamLongBE(s);
        if (before + 4 <= static_cast<int64_t>(size)) {
          const uint8_t* p = data + before;
          Check(v == (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]));
        }
        break;
      }
      case 5: {
        int64_t want = static_cast<int64_t>(arg) * 17;
        int64_t got = ReadFileStream(s, buffer, want);
        int64_t left = static_cast<int64_t>(size) - before;
        Check(got == (want < left ? want : left));
        Check(got == 0 || std::memcmp(buffer, data + before, static_cast<size_t>(got)) == 0);
        break;
      }
      case 6: {
        int64_t offset = static_cast<int8_t>(arg) * int64_t{1} << (arg % 40);
        Check(SeekFileStream(s, offset, arg % 4) == before);
        break;
      }
      case 7:
        Check(GetFileStreamSize(s) == static_cast<int64_t>(size));
        Check(SeekFileStream(s, 0, VL_SEEK_CURRENT) == before);
        break;
      default:
        Check(IsFileStreamAtEnd(s) == (before >= static_cast<int64_t>(size)));
        break;
    }
  }
  CloseFileStream(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t n) {
  size_t programSize = n < 64 ? n : 64;
  const uint8_t* data = input + programSize;
  size_t size = n - programSize;
  RunReaders(input, programSize, data, size);

  // Whole-file read through a memory name, with extra bytes.
  char name[64];
  Check(MakeMemoryName(name, sizeof name, data, size) == 1);
  uint8_t* whole = nullptr;
  int64_t wholeSize = 0;
  Check(ReadWholeFile(name, nullptr, nullptr, &whole, &wholeSize, 0, 3) == 0);
  Check(wholeSize == static_cast<int64_t>(size) && (size == 0 || std::memcmp(whole, data, size) == 0));
  std::free(whole);

  // Copy into a writable virtual file that grows as it is written.
  std::memset(&g_target, 0, sizeof g_target);
  g_target.writable = 1;
  SetVirtualFileHooks(FindTarget, IsTarget);
  char target[64];
  Check(MakeChunkName("t.bin", target, sizeof target, -1, 0, 1, nullptr) == 1);
  Check(CopyFileData(name, nullptr, target, nullptr) == 0);
  Check(g_target.size == size && (size == 0 || std::memcmp(g_target.data, data, size) == 0));
  std::free(g_target.data);
  ReleaseMemoryName(name);

  // A window of a real file, possibly reaching past the file's end.
  struct TempFile {
    std::string path;
    TempFile() {
      char tmpl[] = "/tmp/vlfuzzXXXXXX";
      int fd = mkstemp(tmpl);
      if (fd >= 0) close(fd);
      path = tmpl;
    }
    ~TempFile() { unlink(path.c_str()); }
  };
  static TempFile temp;
  const std::string& file = temp.path;
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    uint64_t offset = programSize > 0 ? input[0] % (size + 1) : 0;
    uint64_t length = programSize > 1 ? input[1] * uint64_t{13} : 0;
    char chunk[256];
    Check(MakeChunkName("w.bin", chunk, sizeof chunk, static_cast<int64_t>(offset), length, 0, file.c_str()) == 1);
    uint8_t* window = nullptr;
    int64_t got = 0;
    int rc = ReadWholeFile(chunk, nullptr, nullptr, &window, &got, 0, 0);
    if (offset + length <= size) {
      Check(rc == 0 && got == static_cast<int64_t>(length));
      Check(length == 0 || std::memcmp(window, data + offset, length) == 0);
    } else {
      Check(rc != 0);
    }
    std::free(window);
    vlStream* ws = OpenFileStream(chunk, VL_MODE_READ, nullptr);
    Check(ws != nullptr);
    for (size_t i = 2; i < programSize; ++i) {
      if (input[i] & 1) SeekFileStream(ws, static_cast<int8_t>(input[i]) * 3, input[i] % 3);
      else ReadFileStreamLongBE(ws);
      int64_t at = SeekFileStream(ws, 0, VL_SEEK_CURRENT);
      Check(at >= 0 && at <= static_cast<int64_t>(length));
    }
    CloseFileStream(ws);
  }

  // The input as a file name (virtual ones only: a real path could name a
  // FIFO and block).
  std::string text(reinterpret_cast<const char*>(input), n);
  char stored[64], path[64], ext[16];
  uint64_t offset, length;
  vlMemoryRecord* record;
  ParseChunkName(text.c_str(), {&offset, &length, stored, sizeof stored, path, sizeof path, ext, sizeof ext, &record});
  GetReadableFileName(text.c_str());
  if (text.rfind(":::chunkS", 0) == 0 || IsMemoryName(text.c_str())) {
    vlStream* s = OpenFileStream(text.c_str(), VL_MODE_READ, "default");
    if (s) CloseFileStream(s);
  }
  SetVirtualFileHooks(nullptr, nullptr);
  return 0;
}

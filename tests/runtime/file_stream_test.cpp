// Streams over real files through the built-in back end, checked against
// what the system's own tools (od, cmp, mkfifo) see.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/file_lock.h"
#include "runtime/linked_files.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

class FileStream : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vlstreamXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  std::string Path(const char* name) { return dir + "/" + name; }

  void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
  }
  // What od prints for the file, as one string of hex pairs.
  std::string OdDump(const std::string& path) {
    std::string out;
    FILE* p = popen(("od -An -v -tx1 '" + path + "'").c_str(), "r");
    for (int c; (c = fgetc(p)) != EOF;)
      if (c != ' ' && c != '\n') out += static_cast<char>(c);
    pclose(p);
    return out;
  }
  bool SameByCmp(const std::string& a, const std::string& b) {
    return std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) == 0;
  }
  std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 16);
    }
    return v;
  }

  std::string dir;
};

TEST_F(FileStream, WritersProduceTheExpectedDump) {
  std::string p = Path("out.bin");
  vlStream* s = OpenFileStream(p.c_str(), VL_MODE_WRITE, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(WriteFileStreamByte(s, 0x7F), 1);
  EXPECT_EQ(WriteFileStreamWordLE(s, 0xA1B2), 1);
  EXPECT_EQ(WriteFileStreamWordBE(s, 0xA1B2), 1);
  EXPECT_EQ(WriteFileStreamLongLE(s, 0x01020304), 1);
  EXPECT_EQ(WriteFileStreamLongBE(s, 0x01020304), 1);
  EXPECT_EQ(WriteStreamString(s, "FORM"), 4);
  EXPECT_EQ(WriteFileStream(s, "\0\xff", 2), 2);
  CloseFileStream(s);
  EXPECT_EQ(OdDump(p), "7fb2a1a1b20403020101020304464f524d00ff");
}

TEST_F(FileStream, ReadersTakeTheNamedOrderFromAFile) {
  std::string p = Path("in.bin");
  WriteBytes(p, {0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF});
  vlStream* s = OpenFileStream(p.c_str(), VL_MODE_READ, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ReadFileStreamLongBE(s), 0x01020304u);
  EXPECT_EQ(ReadFileStreamLongLE(s), 0x04030201u);
  EXPECT_EQ(ReadFileStreamWordLE(s), 0xFFFEu);
  EXPECT_EQ(ReadFileStreamByte(s), -1);
  EXPECT_TRUE(IsFileStreamAtEnd(s));
  SeekFileStream(s, 8, VL_SEEK_BEGIN);
  EXPECT_EQ(ReadFileStreamWordBE(s), 0xFEFFu);
  CloseFileStream(s);
}

TEST_F(FileStream, SizeKeepsThePositionAndUpdateModeReadsBack) {
  std::string p = Path("upd.bin");
  WriteBytes(p, Pattern(1000, 1));
  vlStream* s = OpenFileStream(p.c_str(), VL_MODE_UPDATE, nullptr);
  ASSERT_NE(s, nullptr);
  SeekFileStream(s, 123, VL_SEEK_BEGIN);
  EXPECT_EQ(GetFileStreamSize(s), 1000);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_CURRENT), 123);
  EXPECT_EQ(WriteFileStreamLongBE(s, 0xCAFEBABE), 1);
  SeekFileStream(s, -4, VL_SEEK_CURRENT);
  EXPECT_EQ(ReadFileStreamLongBE(s), 0xCAFEBABEu);
  vlFileStat st;
  ASSERT_TRUE(StatFileStream(s, &st));
  EXPECT_EQ(st.size, 1000u);
  EXPECT_EQ(st.isDirectory, 0u);
  CloseFileStream(s);
  EXPECT_EQ(ReadBytes(p)[124], 0xFE);
}

TEST_F(FileStream, ReadWholeFileAddsExtraBytes) {
  std::string p = Path("ten.bin");
  auto data = Pattern(10, 2);
  WriteBytes(p, data);
  uint8_t* buf = nullptr;
  int64_t size = 0;
  ASSERT_EQ(ReadWholeFile(p.c_str(), nullptr, nullptr, &buf, &size, 0, 1), 0);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(std::memcmp(buf, data.data(), 10), 0);
  buf[10] = 0;
  std::free(buf);

  std::string missing = Path("missing.bin");
  EXPECT_EQ(ReadWholeFile(missing.c_str(), nullptr, nullptr, &buf, &size, 1, 0), ERR_READFILE);
  EXPECT_EQ(GetErrorArgument(), missing);
  // A list without "inbuilt" keeps the back end out.
  EXPECT_EQ(ReadWholeFile(p.c_str(), "someplugin", nullptr, &buf, &size, 1, 0), ERR_READFILE);
}

TEST_F(FileStream, UnknownSizeThroughAFifo) {
  std::string fifo = Path("pipe");
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  auto data = Pattern(50000, 3);  // more than three 16 KiB blocks
  std::thread writer([&] {
    FILE* f = std::fopen(fifo.c_str(), "wb");
    for (size_t i = 0; i < data.size(); i += 777) {
      std::fwrite(data.data() + i, 1, std::min<size_t>(777, data.size() - i), f);
      std::fflush(f);
    }
    std::fclose(f);
  });
  uint8_t* buf = nullptr;
  int64_t size = 0;
  int rc = ReadWholeFile(fifo.c_str(), nullptr, nullptr, &buf, &size, 0, 2);
  writer.join();
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(size, 50000);
  EXPECT_EQ(std::memcmp(buf, data.data(), data.size()), 0);
  std::free(buf);

  // The same through a copy.
  std::string out = Path("fromfifo.bin");
  std::thread writer2([&] {
    FILE* f = std::fopen(fifo.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  });
  rc = CopyFileData(fifo.c_str(), nullptr, out.c_str(), nullptr);
  writer2.join();
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(ReadBytes(out), data);
}

TEST_F(FileStream, CopiesAreByteIdentical) {
  for (size_t n : {size_t{0}, size_t{16384}, size_t{1} << 20, size_t{16385}}) {
    std::string src = Path(("src" + std::to_string(n)).c_str());
    std::string dst = Path(("dst" + std::to_string(n)).c_str());
    WriteBytes(src, Pattern(n, static_cast<unsigned>(n)));
    ASSERT_EQ(CopyFileData(src.c_str(), nullptr, dst.c_str(), nullptr), 0) << n;
    EXPECT_TRUE(SameByCmp(src, dst)) << n;
  }
  std::string src = Path("src16384");
  EXPECT_EQ(CopyFileData(src.c_str(), nullptr, Path("nodir/x").c_str(), nullptr), ERR_WRITEFILE);
  EXPECT_EQ(GetErrorArgument(), Path("nodir/x"));
}

TEST_F(FileStream, CopyOntoItselfKeepsTheFile) {
  std::string p = Path("self.bin");
  auto data = Pattern(40000, 4);
  WriteBytes(p, data);
  ASSERT_EQ(CopyFileData(p.c_str(), nullptr, p.c_str(), nullptr), 0);
  EXPECT_EQ(ReadBytes(p), data);
  // Another spelling of the same file, and a hard link to it.
  std::string other = dir + "/./sub/../self.bin";
  mkdir(Path("sub").c_str(), 0755);
  ASSERT_EQ(CopyFileData(p.c_str(), nullptr, other.c_str(), nullptr), 0);
  EXPECT_EQ(ReadBytes(p), data);
  ASSERT_EQ(link(p.c_str(), Path("hard.bin").c_str()), 0);
  ASSERT_EQ(CopyFileData(Path("hard.bin").c_str(), nullptr, p.c_str(), nullptr), 0);
  EXPECT_EQ(ReadBytes(p), data);
  // An open source stream onto its own file.
  vlStream* s = OpenFileStream(p.c_str(), VL_MODE_READ, nullptr);
  ASSERT_EQ(CopyFileData(nullptr, nullptr, p.c_str(), s), 0);
  CloseFileStream(s);
  EXPECT_EQ(ReadBytes(p), data);
}

TEST_F(FileStream, ChunksReadOnlyTheirWindow) {
  std::string container = Path("app.vla");
  auto data = Pattern(5000, 5);
  WriteBytes(container, data);
  char name[512];
  ASSERT_EQ(MakeChunkName("gfx/pic.png", name, sizeof name, 1000, 300, 200, container.c_str()), 1);
  vlStream* s = OpenFileStream(name, VL_MODE_READ, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(GetFileStreamSize(s), 300);
  std::vector<uint8_t> got(400);
  EXPECT_EQ(ReadFileStream(s, got.data(), 400), 300);
  EXPECT_EQ(std::memcmp(got.data(), data.data() + 1200, 300), 0);
  EXPECT_EQ(ReadFileStreamByte(s), -1);
  EXPECT_EQ(SeekFileStream(s, -10, VL_SEEK_END), 300);
  EXPECT_EQ(ReadFileStreamByte(s), data[1200 + 290]);
  CloseFileStream(s);

  // A copy of the chunk out of its container, and one onto the container.
  std::string out = Path("pic.png");
  ASSERT_EQ(CopyFileData(name, nullptr, out.c_str(), nullptr), 0);
  EXPECT_EQ(ReadBytes(out), std::vector<uint8_t>(data.begin() + 1200, data.begin() + 1500));
  EXPECT_EQ(CopyFileData(name, nullptr, container.c_str(), nullptr), ERR_WRITEFILE);
  EXPECT_EQ(ReadBytes(container), data);
}

TEST_F(FileStream, LinkedFilesOpenByTheScriptsName) {
  std::string container = Path("demo.vla");
  auto data = Pattern(3000, 6);
  WriteBytes(container, data);
  SetContainerBase(100);
  SetRunningScriptPath(container.c_str());
  ASSERT_EQ(AddLinkedFile("GFX/Pic.PNG", "", 50, 64), 0);
  const char* name = ResolveLinkedFile(nullptr, "gfx\\pic.png", 0, nullptr);
  ASSERT_TRUE(IsChunkName(name));
  uint8_t* buf = nullptr;
  int64_t size = 0;
  ASSERT_EQ(ReadWholeFile(name, nullptr, nullptr, &buf, &size, 1, 0), 0);
  ASSERT_EQ(size, 64);
  EXPECT_EQ(std::memcmp(buf, data.data() + 150, 64), 0);
  std::free(buf);
  FreeLinkedFiles();
  SetContainerBase(0);
  SetRunningScriptPath(nullptr);
}

TEST_F(FileStream, ChunkLocksReportLengthAndTheFixedDate) {
  std::string container = Path("app.vla");
  WriteBytes(container, Pattern(100, 7));
  char name[512];
  ASSERT_EQ(MakeChunkName("snd/boom.wav", name, sizeof name, 10, 42, 0, container.c_str()), 1);
  vlFileLock* lock = ObtainFileLock(name, 1, nullptr);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(GetFileLockAdapterName(lock), nullptr);
  vlFileStat st;
  EXPECT_EQ(StatFileLock(lock, &st), 0);
  EXPECT_EQ(st.size, 42u);
  EXPECT_EQ(st.protection, 15u);
  EXPECT_EQ(st.isDirectory, 0u);
  for (uint32_t t : {st.accessTime, st.modifyTime, st.changeTime}) {
    time_t when = t;
    struct tm tm;
    localtime_r(&when, &tm);
    EXPECT_EQ(tm.tm_year, 102);
    EXPECT_EQ(tm.tm_mon, 10);
    EXPECT_EQ(tm.tm_mday, 4);
    EXPECT_EQ(tm.tm_hour, 10);
    EXPECT_EQ(tm.tm_min, 30);
    EXPECT_EQ(tm.tm_sec, 0);
  }
  char full[1024];
  GetFileLockName(lock, full, sizeof full);
  char cwd[1024];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(full), std::string(cwd) + "/boom.wav");
  uint32_t isDir = 7;
  EXPECT_EQ(RequireDirectoryLock(lock, &isDir), ERR_NOTADIR);
  EXPECT_EQ(ReadFileLockEntry(lock, 0, nullptr, nullptr, nullptr), 0);
  FreeFileLock(lock);

  vlFileInfo info;
  ASSERT_EQ(ExamineFileLock(name, &info, 1), 1);
  EXPECT_EQ(info.size, 42u);
  EXPECT_EQ(info.protection, 15u);
}

TEST_F(FileStream, DirectoryLocksWalkTheirEntries) {
  WriteBytes(Path("a.txt"), Pattern(5, 8));
  WriteBytes(Path("b.txt"), Pattern(7, 9));
  mkdir(Path("sub").c_str(), 0755);
  vlFileLock* lock = ObtainFileLock(dir.c_str(), 1 | VL_LOCK_ADAPTERS, nullptr);
  ASSERT_NE(lock, nullptr);
  uint32_t isDir = 0;
  EXPECT_EQ(RequireDirectoryLock(lock, &isDir), 0);
  EXPECT_EQ(isDir, 1u);
  std::map<std::string, std::pair<uint32_t, uint64_t>> seen;
  const char* entry;
  uint32_t entryIsDir;
  vlFileStat st;
  while (ReadFileLockEntry(lock, 0, &entry, &entryIsDir, &st)) seen[entry] = {entryIsDir, st.size};
  FreeFileLock(lock);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen["a.txt"], std::make_pair(0u, uint64_t{5}));
  EXPECT_EQ(seen["b.txt"], std::make_pair(0u, uint64_t{7}));
  EXPECT_EQ(seen["sub"].first, 1u);

  lock = ObtainFileLock(Path("a.txt").c_str(), 1, nullptr);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(RequireDirectoryLock(lock, &isDir), ERR_NOTADIR);
  FreeFileLock(lock);
  EXPECT_EQ(ObtainFileLock(Path("nothing").c_str(), 1, nullptr), nullptr);
  EXPECT_EQ(ObtainFileLock(std::string(3000, 'a').c_str(), 1, nullptr), nullptr);

  vlFileInfo info;
  ASSERT_EQ(ExamineFileLock(Path("b.txt").c_str(), &info, 0), 1);
  EXPECT_EQ(info.size, 7u);
  EXPECT_EQ(info.isDirectory, 0u);
  EXPECT_EQ(std::string(info.name).substr(std::string(info.name).size() - 5), "b.txt");
  EXPECT_EQ(ExamineFileLock(Path("none").c_str(), &info, 0), 0);
}

}  // namespace

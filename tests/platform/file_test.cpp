#include "runtime/stdio_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

// Runs check in a child process, as user "nobody" when this is root;
// returns its exit status (check's result), or 255 when it could not run.
template <typename Check>
int RunUnprivileged(Check check) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(255);
    _exit(check());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

class FileBackEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vl_file_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { system(("chmod -R u+rwx '" + dir_ + "'; rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    FILE* f = fopen(Path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }

  std::vector<uint8_t> ReadBytes(const std::string& name) const {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(Path(name).c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    fclose(f);
    return bytes;
  }

  // A 6000-byte container whose byte i is i mod 251, and a chunk name for
  // the window [base, base + size).
  std::string MakeWindow(uint64_t base, uint64_t size) {
    std::vector<uint8_t> bytes(6000);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<uint8_t>(i % 251);
    WriteBytes("container.bin", bytes);
    char name[PATH_MAX];
    EXPECT_EQ(MakeChunkName("inner.dat", name, sizeof(name), static_cast<int64_t>(base), size, 0,
                            Path("container.bin").c_str()),
              1);
    return name;
  }

  std::string dir_;
};

TEST_F(FileBackEnd, WindowSeeksReadsAndGetc) {
  vlStdioFile* file = OpenStdioFile(MakeWindow(5000, 100).c_str(), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->window, 1u);
  EXPECT_EQ(file->base, 5000u);
  EXPECT_EQ(file->size, 100u);
  EXPECT_EQ(GetStdioChar(file), 5000 % 251);
  EXPECT_EQ(SeekStdioFile(file, 150, 1), 1);  // returns the old position
  EXPECT_EQ(file->position, 100u);
  EXPECT_EQ(SeekStdioFile(file, 80, 1), 100);
  uint8_t buffer[40];
  memset(buffer, 0xEE, sizeof(buffer));
  ASSERT_EQ(ReadStdioData(file, buffer, 40), 20u);
  for (int i = 0; i < 20; i++) EXPECT_EQ(buffer[i], (5080 + i) % 251) << i;
  EXPECT_EQ(buffer[20], 0xEE);
  EXPECT_EQ(file->position, 100u);
  EXPECT_EQ(GetStdioChar(file), -1);
  EXPECT_EQ(file->position, 100u);
  EXPECT_EQ(IsFileAtEnd(file), 1);
  // From the end, and from the current position.
  EXPECT_EQ(SeekStdioFile(file, -10, 2), 100);
  EXPECT_EQ(GetStdioChar(file), 5090 % 251);
  EXPECT_EQ(SeekStdioFile(file, -1, 0), 91);
  EXPECT_EQ(GetStdioChar(file), 5090 % 251);
  EXPECT_EQ(CloseStdioFile(file), 1);
}

TEST_F(FileBackEnd, NegativeSeekStaysInsideTheWindow) {
  vlStdioFile* file = OpenStdioFile(MakeWindow(5000, 100).c_str(), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(SeekStdioFile(file, -200, 0), 0);
  EXPECT_EQ(file->position, 0u);
  EXPECT_EQ(GetStdioChar(file), 5000 % 251);
  EXPECT_EQ(SeekStdioFile(file, -5000, 1), 1);
  EXPECT_EQ(file->position, 0u);
  uint8_t buffer[200];
  ASSERT_EQ(ReadStdioData(file, buffer, sizeof(buffer)), 100u);
  for (int i = 0; i < 100; i++) ASSERT_EQ(buffer[i], (5000 + i) % 251) << i;
  // Huge offsets neither wrap nor leave the window.
  EXPECT_EQ(SeekStdioFile(file, INT64_MAX, 0), -1);
  EXPECT_EQ(file->position, 100u);
  EXPECT_EQ(SeekStdioFile(file, INT64_MIN, 0), 100);
  EXPECT_EQ(file->position, 0u);
  EXPECT_EQ(GetStdioChar(file), 5000 % 251);
  CloseStdioFile(file);
}

TEST_F(FileBackEnd, WindowsAreNeverWritten) {
  std::string name = MakeWindow(10, 20);
  vlStdioFile* file = OpenStdioFile(name.c_str(), VL_FOPEN_WRITE);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(WriteStdioData(file, "abc", 3), 0u);
  EXPECT_EQ(PutStdioChar(file, 'x'), 0);
  CloseStdioFile(file);
  std::vector<uint8_t> after = ReadBytes("container.bin");
  ASSERT_EQ(after.size(), 6000u);
  for (size_t i = 0; i < after.size(); i++) ASSERT_EQ(after[i], i % 251) << i;
}

TEST_F(FileBackEnd, WindowStatReportsTheWindow) {
  vlStdioFile* file = OpenStdioFile(MakeWindow(5000, 100).c_str(), 0);
  ASSERT_NE(file, nullptr);
  vlFileStat st{};
  ASSERT_EQ(StatOpenFile(file, &st), 1);
  EXPECT_EQ(st.size, 100u);
  EXPECT_EQ(st.isDirectory, 0u);
  CloseStdioFile(file);
}

TEST_F(FileBackEnd, MalformedChunkNamesDoNotOpen) {
  for (const char* name : {":::chunk", ":::chunkabc:1*x?y", ":::chunk5:", ":::chunk1:2*x?/no/such/file"}) {
    EXPECT_EQ(OpenStdioFile(name, 0), nullptr) << name;
  }
}

TEST_F(FileBackEnd, PlainFileReadWriteSwitching) {
  vlStdioFile* file = OpenStdioFile(Path("plain.bin").c_str(), VL_FOPEN_WRITE);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(WriteStdioData(file, "0123456789", 10), 10u);
  EXPECT_EQ(PutStdioChar(file, 'A'), 1);
  EXPECT_EQ(file->position, 11u);
  EXPECT_EQ(CloseStdioFile(file), 1);

  file = OpenStdioFile(Path("plain.bin").c_str(), VL_FOPEN_READWRITE | VL_FOPEN_SIZE);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size, 11u);
  char got[4] = {};
  EXPECT_EQ(ReadStdioData(file, got, 3), 3u);
  EXPECT_STREQ(got, "012");
  // A write straight after a read lands at the current position.
  EXPECT_EQ(WriteStdioData(file, "xy", 2), 2u);
  EXPECT_EQ(GetStdioChar(file), '5');
  EXPECT_EQ(file->position, 6u);
  EXPECT_EQ(SeekStdioFile(file, 0, 1), 6);
  char all[12] = {};
  EXPECT_EQ(ReadStdioData(file, all, 11), 11u);
  EXPECT_STREQ(all, "012xy56789A");
  EXPECT_EQ(IsFileAtEnd(file), 1);
  EXPECT_EQ(GetStdioChar(file), -1);
  EXPECT_EQ(file->position, 11u);  // a failed getc does not move
  EXPECT_EQ(SeekStdioFile(file, -1, 0), 11);
  EXPECT_EQ(GetStdioChar(file), 'A');
  EXPECT_EQ(SeekStdioFile(file, -20, 1), -1);  // before the start
  EXPECT_EQ(file->position, 11u);
  CloseStdioFile(file);
}

TEST_F(FileBackEnd, SizeUnknownWithoutTheFlag) {
  WriteBytes("five", {1, 2, 3, 4, 5});
  vlStdioFile* file = OpenStdioFile(Path("five").c_str(), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size, kSizeUnknown);
  EXPECT_EQ(IsFileAtEnd(file), 0);  // the size on disk tells
  // From the end without a size: the stream's own end.
  EXPECT_EQ(SeekStdioFile(file, -2, 2), 0);
  EXPECT_EQ(file->position, 3u);
  EXPECT_EQ(GetStdioChar(file), 4);
  EXPECT_EQ(IsFileAtEnd(file), 0);
  EXPECT_EQ(GetStdioChar(file), 5);
  EXPECT_EQ(IsFileAtEnd(file), 1);
  CloseStdioFile(file);
}

TEST_F(FileBackEnd, UpdateModeCreatesOnlyMissingFiles) {
  vlStdioFile* file = OpenStdioFile(Path("fresh").c_str(), VL_FOPEN_READWRITE);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(WriteStdioData(file, "new", 3), 3u);
  CloseStdioFile(file);
  EXPECT_EQ(ReadBytes("fresh"), (std::vector<uint8_t>{'n', 'e', 'w'}));

  // Permission cases run in a child without root's rights.
  chmod(dir_.c_str(), 0777);
  WriteBytes("readonly", {9, 8, 7});
  chmod(Path("readonly").c_str(), 0444);
  WriteBytes("writeonly", {6, 5});
  chmod(Path("writeonly").c_str(), 0222);
  mkdir(Path("locked").c_str(), 0555);
  std::string base = dir_;
  int failures = RunUnprivileged([&base] {
    int bad = 0;
    if (OpenStdioFile((base + "/readonly").c_str(), VL_FOPEN_READWRITE)) bad |= 1;
    // Update mode fails here, and "wb" would have truncated the file.
    if (OpenStdioFile((base + "/writeonly").c_str(), VL_FOPEN_READWRITE)) bad |= 2;
    if (OpenStdioFile((base + "/locked/x").c_str(), VL_FOPEN_READWRITE)) bad |= 4;
    return bad;
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(ReadBytes("readonly"), (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(ReadBytes("writeonly"), (std::vector<uint8_t>{6, 5}));
  struct stat st;
  EXPECT_NE(stat(Path("locked/x").c_str(), &st), 0);
  EXPECT_EQ(OpenStdioFile(Path("missing/dir/x").c_str(), 0), nullptr);
}

int ReadProgDirFile(int, char**) {
  vlStdioFile* file = OpenStdioFile("PROGDIR:pd.txt", 0);
  if (!file) return -1;
  int byte = GetStdioChar(file);
  CloseStdioFile(file);
  return byte;
}

TEST_F(FileBackEnd, ProgDirNamesTheProgramsDirectory) {
  WriteBytes("prog", {});
  WriteBytes("pd.txt", {'p'});
  std::string program = Path("prog");
  char* argv[] = {program.data(), nullptr};
  EXPECT_EQ(ProcessMain(1, argv, ReadProgDirFile), 'p');
}

TEST_F(FileBackEnd, BackslashesBecomeSlashes) {
  WriteBytes("pd.txt", {'p'});
  std::string windows = dir_ + "\\pd.txt";
  vlStdioFile* file = OpenStdioFile(windows.c_str(), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(GetStdioChar(file), 'p');
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(Path("pd.txt").c_str(), resolved), nullptr);
  EXPECT_STREQ(file->path, resolved);
  CloseStdioFile(file);
}

TEST_F(FileBackEnd, NativePathConversion) {
  char buffer[kNativePathBuffer];
  EXPECT_STREQ(ToNativePath("a\\b\\c", buffer), "a/b/c");
  EXPECT_STREQ(ToNativePath(":::chunk1:2*a\\b?c", buffer), ":::chunk1:2*a\\b?c");
  std::string longPath(1024, 'x');
  longPath[5] = '\\';
  EXPECT_EQ(ToNativePath(longPath.c_str(), buffer), longPath.c_str());
  std::string fits(1023, 'y');
  fits[0] = '\\';
  const char* converted = ToNativePath(fits.c_str(), buffer);
  EXPECT_EQ(converted, buffer);
  EXPECT_EQ(converted[0], '/');
  EXPECT_EQ(strlen(converted), 1023u);
}

TEST_F(FileBackEnd, ProtectionBits) {
  WriteBytes("p", {1});
  struct stat st;
  ASSERT_EQ(SetPathProtection(Path("p").c_str(), 0x2), 1);
  ASSERT_EQ(stat(Path("p").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0200u);
  ASSERT_EQ(SetPathProtection(Path("p").c_str(), 0x10003), 1);
  ASSERT_EQ(stat(Path("p").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(SetPathProtection(Path("p").c_str(), 0x1 | 0x2 | 0x8 | 0x200 | 0x800 | 0x1000 | 0x4000), 1);
  ASSERT_EQ(stat(Path("p").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  vlFileStat info{};
  FillFileStat(st, &info);
  EXPECT_EQ(info.protection, 0x1u | 0x2 | 0x8 | 0x200 | 0x800 | 0x1000 | 0x4000);
  EXPECT_EQ(ModeFromProtection(ProtectionFromMode(0640)), 0640u);
  EXPECT_EQ(SetPathProtection(Path("none").c_str(), 0x1), 0);
}

TEST_F(FileBackEnd, DatesRenamesAndRemoval) {
  WriteBytes("d", {1, 2});
  uint32_t times[2] = {1000000000u, 1200000000u};
  ASSERT_EQ(SetPathDate(Path("d").c_str(), times), 1);
  vlFileStat info{};
  vlDirLock* lock = LockPath(Path("d").c_str(), VL_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(StatPathOrFd(lock, &info), 0);
  EXPECT_EQ(info.accessTime, 1000000000u);
  EXPECT_EQ(info.modifyTime, 1200000000u);
  EXPECT_EQ(info.size, 2u);
  EXPECT_EQ(info.isDirectory, 0u);
  uint32_t isDir = 7;
  SetErrorArgument("");
  EXPECT_EQ(CheckDirHandle(lock, &isDir), ERR_NOTADIR);
  EXPECT_EQ(isDir, 7u);
  EXPECT_STREQ(GetErrorArgument(), lock->path);
  CloseDirHandle(lock);

  EXPECT_EQ(RenamePath(Path("d").c_str(), Path("e").c_str()), 1);
  EXPECT_EQ(RenamePath(Path("d").c_str(), Path("f").c_str()), 0);
  EXPECT_EQ(RemovePath(Path("e").c_str()), 1);
  EXPECT_EQ(RemovePath(Path("e").c_str()), 0);
  EXPECT_EQ(MakeDirPath(Path("sub").c_str()), 0);
  EXPECT_EQ(MakeDirPath(Path("sub").c_str()), ERR_CREATEDIR);
  EXPECT_EQ(RemovePath(Path("sub").c_str()), 1);
}

TEST_F(FileBackEnd, DirectoryListingWithLongNames) {
  std::string longName(255, 'n');
  WriteBytes(longName, {1, 2, 3});
  WriteBytes("a", {});
  mkdir(Path("child").c_str(), 0755);
  mkfifo(Path("fifo").c_str(), 0644);
  vlDirLock* lock = LockPath(dir_.c_str(), VL_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  uint32_t isDir = 0;
  EXPECT_EQ(CheckDirHandle(lock, &isDir), 0);
  EXPECT_EQ(isDir, 1u);
  int files = 0, dirs = 0;
  bool sawLong = false;
  const char* name;
  vlFileStat info{};
  while (ReadDirEntry(lock, 0, &name, &isDir, &info)) {
    EXPECT_STRNE(name, ".");
    EXPECT_STRNE(name, "..");
    if (isDir) {
      dirs++;
      EXPECT_STREQ(name, "child");
    } else {
      files++;
    }
    if (name == longName) {
      sawLong = true;
      EXPECT_EQ(info.size, 3u);
    }
  }
  EXPECT_TRUE(sawLong);
  EXPECT_EQ(dirs, 1);
  EXPECT_EQ(files, 3);  // the long name, "a" and the FIFO
  char held[PATH_MAX];
  EXPECT_EQ(GetHandleName(lock, held, sizeof(held)), 1);
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(dir_.c_str(), resolved), nullptr);
  EXPECT_STREQ(held, resolved);
  CloseDirHandle(lock);
}

TEST_F(FileBackEnd, LocksOnlyFilesAndDirectoriesForReading) {
  mkfifo(Path("fifo").c_str(), 0644);
  EXPECT_EQ(LockPath(Path("fifo").c_str(), VL_LOCK_READ), nullptr);
  EXPECT_EQ(LockPath("/dev/null", VL_LOCK_READ), nullptr);
  EXPECT_EQ(LockPath(Path("nothing").c_str(), VL_LOCK_READ), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(LockPath(dir_.c_str(), 2), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "VLOS_LOCK_WRITE unsupported.\n");
  char here[PATH_MAX];
  ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
  vlDirLock* lock = LockPath("", VL_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  EXPECT_STREQ(lock->path, here);
  CloseDirHandle(lock);
}

TEST_F(FileBackEnd, FullPathsAndCurrentDirectory) {
  char buffer[PATH_MAX];
  char* previous = ChangeCurrentDir(dir_.c_str());
  ASSERT_NE(previous, nullptr);
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(dir_.c_str(), resolved), nullptr);
  ASSERT_EQ(GetFullPath("not-there", buffer, sizeof(buffer)), 1);
  EXPECT_EQ(std::string(buffer), std::string(resolved) + "/not-there");
  ASSERT_EQ(GetFullPath("/abs/not/there", buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "/abs/not/there");
  ASSERT_EQ(GetFullPath(".", buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, resolved);
  char* inner = ChangeCurrentDir(previous);
  ASSERT_NE(inner, nullptr);
  EXPECT_STREQ(inner, resolved);
  FreeMemory(inner);
  FreeMemory(previous);
  uint64_t freeBytes = 1, total = 1;
  EXPECT_EQ(QueryVolumeSpace("/", &freeBytes, &total), 0);
  EXPECT_EQ(freeBytes, 0u);
  EXPECT_EQ(GetVolumeLabel("/", buffer, sizeof(buffer)), 0);
  EXPECT_STREQ(buffer, "unimplemented");
}

TEST_F(FileBackEnd, StreamsReadPlainFilesThroughTheBackEnd) {
  WriteBytes("s.bin", {0x12, 0x34, 0x56, 0x78, 0x9A});
  vlStream* stream = OpenFileStream(Path("s.bin").c_str(), VL_MODE_READ, nullptr);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(GetFileStreamSize(stream), 5);
  vlFileStat info{};
  EXPECT_NE(StatFileStream(stream, &info), 0);
  EXPECT_EQ(info.size, 5u);
  CloseFileStream(stream);
  EXPECT_EQ(OpenFileStream(Path("absent").c_str(), VL_MODE_READ, nullptr), nullptr);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/memory_name.h"
#include "runtime/stream.h"
#include "virtual_files.h"
#include "vm/error_codes.h"

namespace {

const uint8_t kBytes[] = {0x01, 0x02, 0x03, 0x04, 0xF0, 0xE1, 0xD2, 0xC3, 0x7F, 0x80};

std::string VirtualName(int ref, const char* stored = "v.bin") {
  char name[256];
  EXPECT_EQ(MakeChunkName(stored, name, sizeof name, -1, 0, ref, nullptr), 1);
  return name;
}

TEST(MemoryStream, ValueReadersTakeTheNamedByteOrder) {
  vlStream* s = OpenMemoryStream(kBytes, sizeof kBytes);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ReadFileStreamLongBE(s), 0x01020304u);
  EXPECT_EQ(ReadFileStreamLongLE(s), 0xC3D2E1F0u);
  EXPECT_EQ(ReadFileStreamWordBE(s), 0x7F80u);
  SeekFileStream(s, 0, VL_SEEK_BEGIN);
  EXPECT_EQ(ReadFileStreamLongLE(s), 0x04030201u);
  EXPECT_EQ(ReadFileStreamWordLE(s), 0xE1F0u);
  EXPECT_EQ(ReadFileStreamShortBE(s), 0xD2C3u);
  EXPECT_EQ(ReadFileStreamByte(s), 0x7F);
  EXPECT_EQ(ReadFileStreamByte(s), 0x80);
  EXPECT_EQ(ReadFileStreamByte(s), -1);
  EXPECT_TRUE(IsFileStreamAtEnd(s));
  CloseFileStream(s);
}

TEST(MemoryStream, ExactSizeReadThenEnd) {
  vlStream* s = OpenMemoryStream(kBytes, sizeof kBytes);
  uint8_t buf[64];
  EXPECT_EQ(ReadFileStream(s, buf, 64), static_cast<int64_t>(sizeof kBytes));
  EXPECT_EQ(std::memcmp(buf, kBytes, sizeof kBytes), 0);
  EXPECT_EQ(ReadFileStream(s, buf, 64), 0);
  EXPECT_EQ(ReadFileStreamByte(s), -1);
  CloseFileStream(s);
}

TEST(MemoryStream, SeeksClampToTheBlockAndReturnTheOldPosition) {
  vlStream* s = OpenMemoryStream(kBytes, sizeof kBytes);
  EXPECT_EQ(SeekFileStream(s, 4, VL_SEEK_BEGIN), 0);
  EXPECT_EQ(SeekFileStream(s, 100, VL_SEEK_CURRENT), 4);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_CURRENT), 10);  // clamped at the size
  EXPECT_EQ(ReadFileStreamByte(s), -1);
  EXPECT_EQ(SeekFileStream(s, -3, VL_SEEK_END), 10);
  EXPECT_EQ(ReadFileStreamByte(s), 0xC3);
  EXPECT_EQ(SeekFileStream(s, -50, VL_SEEK_CURRENT), 8);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_CURRENT), 0);  // clamped at 0
  EXPECT_EQ(SeekFileStream(s, INT64_MIN, VL_SEEK_END), 0);
  EXPECT_EQ(SeekFileStream(s, INT64_MAX, VL_SEEK_END), 0);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_CURRENT), 10);
  CloseFileStream(s);
}

TEST(MemoryStream, SizeAndStatLeaveThePositionAlone) {
  vlStream* s = OpenMemoryStream(kBytes, sizeof kBytes);
  SeekFileStream(s, 3, VL_SEEK_BEGIN);
  EXPECT_EQ(GetFileStreamSize(s), 10);
  vlFileStat st;
  ASSERT_TRUE(StatFileStream(s, &st));
  EXPECT_EQ(st.size, 10u);
  EXPECT_EQ(st.protection, 15u);
  EXPECT_EQ(st.isDirectory, 0u);
  uint32_t start = DateRecordToTime(GetStartDateStamp());
  EXPECT_EQ(st.accessTime, start);
  EXPECT_EQ(st.modifyTime, start);
  EXPECT_EQ(st.changeTime, start);
  EXPECT_GT(start, 1600000000u);
  EXPECT_EQ(ReadFileStreamByte(s), 0x04);
  EXPECT_EQ(FlushFileStream(s), 1);
  EXPECT_EQ(GetFileStreamAdapterName(s), nullptr);
  CloseFileStream(s);
}

TEST(MemoryStream, MemoryStreamsAreReadOnly) {
  vlStream* s = OpenMemoryStream(kBytes, sizeof kBytes);
  EXPECT_EQ(WriteFileStreamByte(s, 1), 0);
  EXPECT_EQ(WriteFileStream(s, "ab", 2), 0);
  EXPECT_EQ(ReadFileStreamByte(s), 0x01);
  CloseFileStream(s);
}

TEST(MemoryName, OnlyRegisteredNamesOpen) {
  char name[64];
  ASSERT_EQ(MakeMemoryName(name, sizeof name, kBytes, sizeof kBytes), 1);
  EXPECT_EQ(std::strncmp(name, ":::memory", 9), 0);
  EXPECT_EQ(OpenFileStream(name, VL_MODE_WRITE, nullptr), nullptr);
  EXPECT_EQ(OpenFileStream(name, VL_MODE_UPDATE, nullptr), nullptr);

  vlStream* s = OpenFileStream(name, VL_MODE_READ, nullptr);
  ASSERT_NE(s, nullptr);
  uint8_t buf[16];
  EXPECT_EQ(ReadFileStream(s, buf, 16), 10);
  EXPECT_EQ(ReadFileStreamByte(s), -1);
  vlFileStat st;
  StatFileStream(s, &st);
  EXPECT_STREQ(st.name, "Unnamed");
  CloseFileStream(s);

  // Another spelling of the counter, raw address bytes, or a name that has
  // been released do not open.
  std::string padded = std::string(":::memory0") + (name + 9);
  EXPECT_EQ(OpenFileStream(padded.c_str(), VL_MODE_READ, nullptr), nullptr);
  char forged[32] = ":::memory";
  const void* addr = kBytes;
  uint32_t size = 10;
  std::memcpy(forged + 9, &addr, 4);
  std::memcpy(forged + 13, &size, 4);
  forged[17] = 0;
  EXPECT_EQ(OpenFileStream(forged, VL_MODE_READ, nullptr), nullptr);
  EXPECT_EQ(OpenFileStream(":::memory", VL_MODE_READ, nullptr), nullptr);
  EXPECT_EQ(OpenFileStream(":::memory99999999999999999999999", VL_MODE_READ, nullptr), nullptr);
  ReleaseMemoryName(name);
  EXPECT_EQ(OpenFileStream(name, VL_MODE_READ, nullptr), nullptr);

  char tiny[10];
  EXPECT_EQ(MakeMemoryName(tiny, sizeof tiny, kBytes, 1), 0);
  EXPECT_EQ(tiny[0], 0);
}

TEST(MemoryName, NamesAreNeverReused) {
  char a[64], b[64];
  ASSERT_EQ(MakeMemoryName(a, sizeof a, kBytes, 1), 1);
  ReleaseMemoryName(a);
  ASSERT_EQ(MakeMemoryName(b, sizeof b, kBytes + 1, 1), 1);
  EXPECT_STRNE(a, b);
  EXPECT_EQ(OpenFileStream(a, VL_MODE_READ, nullptr), nullptr);
  vlStream* s = OpenFileStream(b, VL_MODE_READ, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ReadFileStreamByte(s), 0x02);
  CloseFileStream(s);
  ReleaseMemoryName(b);
}

TEST(VirtualFile, WritersPutBytesInTheNamedOrder) {
  TestVirtualFiles vf;
  int ref = vf.Add(nullptr, 0, true);
  std::string name = VirtualName(ref);
  vlStream* s = OpenFileStream(name.c_str(), VL_MODE_WRITE, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(WriteFileStreamByte(s, 0x1AB), 1);
  EXPECT_EQ(WriteFileStreamWordLE(s, 0x1234), 1);
  EXPECT_EQ(WriteFileStreamWordBE(s, 0x1234), 1);
  EXPECT_EQ(WriteFileStreamLongLE(s, 0xDEADBEEF), 1);
  EXPECT_EQ(WriteFileStreamLongBE(s, 0xDEADBEEF), 1);
  EXPECT_EQ(WriteStreamString(s, "VLA"), 3);
  CloseFileStream(s);
  const uint8_t expected[] = {0xAB, 0x34, 0x12, 0x12, 0x34, 0xEF, 0xBE, 0xAD,
                              0xDE, 0xDE, 0xAD, 0xBE, 0xEF, 'V',  'L',  'A'};
  vlMemoryRecord* r = vf.Get(ref);
  ASSERT_EQ(r->size, sizeof expected);
  EXPECT_EQ(std::memcmp(r->data, expected, sizeof expected), 0);
  EXPECT_EQ(r->capacity, 65536u);
}

TEST(VirtualFile, WritesGrowInWholeStepsAndOverwriteInPlace) {
  TestVirtualFiles vf;
  int ref = vf.Add("abcdef", 6, true);
  std::string name = VirtualName(ref);
  vlStream* s = OpenFileStream(name.c_str(), VL_MODE_UPDATE, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(GetFileStreamSize(s), 6);
  SeekFileStream(s, 2, VL_SEEK_BEGIN);
  EXPECT_EQ(WriteFileStream(s, "XY", 2), 2);
  EXPECT_EQ(vf.Get(ref)->size, 6u);
  EXPECT_EQ(std::memcmp(vf.Get(ref)->data, "abXYef", 6), 0);
  std::vector<uint8_t> big(70000, 0x5A);
  SeekFileStream(s, 0, VL_SEEK_END);
  EXPECT_EQ(WriteFileStream(s, big.data(), 70000), 70000);
  EXPECT_EQ(vf.Get(ref)->size, 70006u);
  EXPECT_EQ(vf.Get(ref)->capacity, 6u + 2 * 65536u);  // grown in 64 KiB steps
  SeekFileStream(s, 0, VL_SEEK_BEGIN);
  EXPECT_EQ(ReadFileStreamLongBE(s), 0x61625859u);
  CloseFileStream(s);
}

TEST(VirtualFile, GrowingNeverCutsBytesTheSizeStillCounts) {
  TestVirtualFiles vf;
  std::vector<uint8_t> data(100000, 0x33);
  int ref = vf.Add(data.data(), data.size(), true);
  vf.Get(ref)->capacity = 16;  // a record that understates its block
  vlStream* s = OpenFileStream(VirtualName(ref).c_str(), VL_MODE_UPDATE, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(WriteFileStream(s, "abcdefghijklmnopqrstuvwxyz", 26), 26);
  EXPECT_GE(vf.Get(ref)->capacity, 100000u);
  SeekFileStream(s, -1, VL_SEEK_END);
  EXPECT_EQ(ReadFileStreamByte(s), 0x33);
  CloseFileStream(s);
}

TEST(VirtualFile, ReadOnlyRecordsRefuseWritingModes) {
  TestVirtualFiles vf;
  int ref = vf.Add("data", 4, false);
  std::string name = VirtualName(ref);
  EXPECT_EQ(OpenFileStream(name.c_str(), VL_MODE_WRITE, nullptr), nullptr);
  EXPECT_EQ(OpenFileStream(name.c_str(), VL_MODE_UPDATE, nullptr), nullptr);
  vlStream* s = OpenFileStream(name.c_str(), VL_MODE_READ, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(WriteFileStreamByte(s, 'x'), 0);
  EXPECT_EQ(ReadFileStreamLongBE(s), 0x64617461u);
  CloseFileStream(s);
  EXPECT_EQ(vf.Get(ref)->size, 4u);  // closing does not free the owner's record
}

TEST(VirtualFile, AFreedRecordNoLongerOpens) {
  TestVirtualFiles vf;
  int ref = vf.Add("data", 4, true);
  std::string name = VirtualName(ref);
  vf.Free(ref);
  EXPECT_EQ(OpenFileStream(name.c_str(), VL_MODE_READ, nullptr), nullptr);
  // Without a dos library nothing is a virtual file.
  SetVirtualFileHooks(nullptr, nullptr);
  int other = vf.Add("x", 1, true);
  (void)other;
  EXPECT_EQ(OpenFileStream(VirtualName(other).c_str(), VL_MODE_READ, nullptr), nullptr);
}

TEST(VirtualFile, OpeningForWritingStartsAfresh) {
  TestVirtualFiles vf;
  int ref = vf.Add("old contents", 12, true);
  vlStream* s = OpenFileStream(VirtualName(ref).c_str(), VL_MODE_WRITE, nullptr);
  ASSERT_NE(s, nullptr);
  WriteStreamString(s, "new");
  CloseFileStream(s);
  ASSERT_EQ(vf.Get(ref)->size, 3u);
  EXPECT_EQ(std::memcmp(vf.Get(ref)->data, "new", 3), 0);
}

TEST(WholeFile, ReadsWithExtraBytesAndKeepsAHandedInStreamOpen) {
  char name[64];
  ASSERT_EQ(MakeMemoryName(name, sizeof name, kBytes, sizeof kBytes), 1);
  uint8_t* buf = nullptr;
  int64_t size = -5;
  ASSERT_EQ(ReadWholeFile(name, nullptr, nullptr, &buf, &size, 0, 1), 0);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(std::memcmp(buf, kBytes, 10), 0);
  buf[10] = 0;  // the extra byte is the caller's (ASan checks it exists)
  std::free(buf);

  vlStream* s = OpenMemoryStream(kBytes, sizeof kBytes);
  SeekFileStream(s, 7, VL_SEEK_BEGIN);
  ASSERT_EQ(ReadWholeFile("ignored", nullptr, s, &buf, &size, 0, 0), 0);
  EXPECT_EQ(size, 10);  // rewound first
  EXPECT_EQ(buf[0], 0x01);
  std::free(buf);
  EXPECT_EQ(ReadFileStreamByte(s), -1);  // still open, at its end
  CloseFileStream(s);
  ReleaseMemoryName(name);

  EXPECT_EQ(ReadWholeFile(":::memory424242", nullptr, nullptr, &buf, &size, 0, 0), ERR_READFILE);
  EXPECT_EQ(buf, nullptr);
  EXPECT_STREQ(GetErrorArgument(), ":::memory424242");
}

TEST(CopyFile, CopiesIntoAVirtualFileAndOntoItselfSafely) {
  TestVirtualFiles vf;
  std::vector<uint8_t> data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  int src = vf.Add(data.data(), data.size(), false);
  int dst = vf.Add(nullptr, 0, true);
  std::string srcName = VirtualName(src), dstName = VirtualName(dst);
  ASSERT_EQ(CopyFileData(srcName.c_str(), nullptr, dstName.c_str(), nullptr), 0);
  ASSERT_EQ(vf.Get(dst)->size, data.size());
  EXPECT_EQ(std::memcmp(vf.Get(dst)->data, data.data(), data.size()), 0);

  ASSERT_EQ(CopyFileData(dstName.c_str(), nullptr, dstName.c_str(), nullptr), 0);
  ASSERT_EQ(vf.Get(dst)->size, data.size());
  EXPECT_EQ(std::memcmp(vf.Get(dst)->data, data.data(), data.size()), 0);

  SetErrorArgument("");
  EXPECT_EQ(CopyFileData(dstName.c_str(), nullptr, srcName.c_str(), nullptr), ERR_WRITEFILE);
  EXPECT_EQ(GetErrorArgument(), srcName);
  EXPECT_EQ(CopyFileData(":::memory777777", nullptr, dstName.c_str(), nullptr), ERR_READFILE);
  EXPECT_STREQ(GetErrorArgument(), ":::memory777777");
}

}  // namespace

// GetAttribute on open files, directories and memory blocks: the adapter
// that serves a file or directory (the file system itself, or an adapter
// plug-in met through the class lists), a file's open mode, a block's
// size against the real file it was read from, and the errors of unknown
// attributes and missing objects.
#include <cstring>
#include <fstream>
#include <string>

#include "display/graphics_library/graphics_library.h"
#include "libraries/memblock/memblock_library.h"
#include "runtime/errors.h"
#include "runtime/file_adapter.h"
#include "tests/libraries/dos/dos_test_util.h"
#include "vm/error_codes.h"

namespace {

constexpr int kAttrWidth = 0, kAttrMode = 42, kAttrSize = 57, kAttrCount = 60, kAttrAdapter = 87;

// An adapter serving one read-only file "mem.bin" and one directory
// "memdir" from memory.
struct MemFile {
  size_t pos;
};
const char kData[] = "adapter bytes";
void* MOpen(const char* name, uint32_t, const vlTagItem*) {
  return std::strcmp(name, "mem.bin") == 0 ? new MemFile{0} : nullptr;
}
int MClose(void* h) {
  delete static_cast<MemFile*>(h);
  return 1;
}
int64_t MRead(void* hv, void* buf, int64_t n) {
  auto* h = static_cast<MemFile*>(hv);
  const int64_t left = static_cast<int64_t>(sizeof kData - 1 - h->pos);
  if (n > left) n = left;
  std::memcpy(buf, kData + h->pos, static_cast<size_t>(n));
  h->pos += static_cast<size_t>(n);
  return n;
}
int MGetC(void* hv) {
  auto* h = static_cast<MemFile*>(hv);
  return h->pos < sizeof kData - 1 ? kData[h->pos++] : -1;
}
int64_t MSeek(void* hv, int64_t off, int mode) {
  auto* h = static_cast<MemFile*>(hv);
  const int64_t before = static_cast<int64_t>(h->pos);
  const int64_t base = mode == 0 ? before : mode == 1 ? 0 : static_cast<int64_t>(sizeof kData - 1);
  h->pos = static_cast<size_t>(base + off);
  return before;
}
int MEof(void* hv) { return static_cast<MemFile*>(hv)->pos >= sizeof kData - 1; }
int MFStat(void*, uint32_t, vlAdapterStat* st, const vlTagItem*) {
  st->size = sizeof kData - 1;
  return 1;
}
int MStat(const char*, uint32_t, vlAdapterStat*, const vlTagItem*) { return 0; }
int gDirWalk;
void* MOpenDir(const char* name, uint32_t, const vlTagItem*) {
  return std::strcmp(name, "memdir") == 0 ? &gDirWalk : nullptr;
}
void MCloseDir(void*) {}
int MNextDirEntry(void*, uint32_t, const char**, uint32_t*, vlAdapterStat*) { return 0; }
const vlFileAdapterSlots kSlots = {MOpen, MClose, MRead,  MGetC,  nullptr,  nullptr,   MSeek,
                                   nullptr, MEof, MFStat, MStat, MOpenDir, MCloseDir, MNextDirEntry};
vlFileAdapter* View(vlPluginInfo* plugin) { return reinterpret_cast<vlFileAdapter*>(plugin); }

class DosAttributes : public vltest::DosTest {
 protected:
  void SetUp() override {
    DosTest::SetUp();
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenMemBlockLib(L), 0);
    vl::SetStackTop(L, 0);
    SetFileAdapterView(View);
    ASSERT_EQ(AddPluginToClassList(reinterpret_cast<vlPluginInfo*>(&adapter), VL_CLASS_FILEADAPTER), 0);
    ASSERT_EQ(AddPluginToClassList(reinterpret_cast<vlPluginInfo*>(&adapter), VL_CLASS_DIRADAPTER), 0);
  }
  void TearDown() override {
    FreeMemBlocks(L);
    FreeDosObjects(L);
    FreeGraphicsObjects(L);
    RemovePluginFromClassList(reinterpret_cast<vlPluginInfo*>(&adapter), VL_CLASS_FILEADAPTER);
    RemovePluginFromClassList(reinterpret_cast<vlPluginInfo*>(&adapter), VL_CLASS_DIRADAPTER);
    SetFileAdapterView(nullptr);
    DosTest::TearDown();
  }
  std::string Attr(const std::string& type, const std::string& id, int attr) {
    return ".call getattribute " + type + " " + id + " " + std::to_string(attr);
  }
  vlFileAdapter adapter{"memfs", &kSlots, 0, 0, 0, 0};
};

TEST_F(DosAttributes, FilesReportTheirModeAndAdapter) {
  const std::string plain = Path("plain.txt");
  { std::ofstream(plain) << "hello"; }
  ASSERT_EQ(Run(".call openfile 1 \"" + plain + "\"\n.call openfile 2 \"" + Path("new.txt") +
                "\" 1006\n.call openfile nil \"" + plain + "\" 1004 -> h\n" + Attr("44", "1", kAttrMode) +
                " -> m1\n" + Attr("44", "2", kAttrMode) + " -> m2\n" + Attr("44", "$h", kAttrMode) + " -> m3\n" +
                Attr("44", "1", kAttrAdapter) + " -> a1\n" + Attr("44", "0", kAttrCount) + " -> n"),
            0);
  EXPECT_EQ(Num("m1"), 1005);  // MODE_READ, the default
  EXPECT_EQ(Num("m2"), 1006);
  EXPECT_EQ(Num("m3"), 1004);
  EXPECT_EQ(Str("a1"), "inbuilt");
  EXPECT_EQ(Num("n"), 3);
  // A name only the adapter knows opens through it.
  ASSERT_EQ(Run(".table 0 { adapter = \"memfs\" }\n.call base=1 openfile 3 \"mem.bin\" 1005 r0\n" +
                Attr("44", "3", kAttrAdapter) + " -> a3\n.call readstring 3 13 -> s"),
            0);
  EXPECT_EQ(Str("a3"), "memfs");
  EXPECT_EQ(Str("s"), kData);

  EXPECT_EQ(Run(Attr("44", "1", kAttrWidth)), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(Attr("44", "9", kAttrMode)), ERR_FINDFILE);
  EXPECT_EQ(GetErrorArgIndex(), 9);
  ASSERT_EQ(Run(".call closefile $h"), 0);
  EXPECT_EQ(Run(Attr("44", "$h", kAttrMode)), ERR_FINDARRAY);
}

TEST_F(DosAttributes, DirectoriesReportTheirAdapter) {
  ASSERT_EQ(Run(".call opendirectory 1 \"" + dir + "\"\n.call opendirectory nil \"" + dir + "\" -> h\n" +
                ".table 0 { adapter = \"memfs\" }\n.call base=1 opendirectory 2 \"memdir\" r0\n" +
                Attr("45", "1", kAttrAdapter) + " -> a1\n" + Attr("45", "$h", kAttrAdapter) + " -> ah\n" +
                Attr("45", "2", kAttrAdapter) + " -> a2\n" + Attr("45", "0", kAttrCount) + " -> n"),
            0);
  EXPECT_EQ(Str("a1"), "inbuilt");
  EXPECT_EQ(Str("ah"), "inbuilt");
  EXPECT_EQ(Str("a2"), "memfs");
  EXPECT_EQ(Num("n"), 3);
  EXPECT_EQ(Run(Attr("45", "1", kAttrMode)), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(Attr("45", "7", kAttrAdapter)), ERR_FINDDIR);
  EXPECT_EQ(GetErrorArgIndex(), 7);
}

TEST_F(DosAttributes, MemoryBlocksReportTheirSize) {
  // A block as large as a real file, filled from it.
  const std::string file = Path("data.bin");
  {
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 1234; ++i) out.put(static_cast<char>(i));
  }
  const auto size = std::filesystem::file_size(file);
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\"\n.call filelength 1 -> len\n.call allocmem 1 $len\n"
                ".call readmem 1 1 $len\n.call allocmem nil 3 -> h\n" +
                Attr("39", "1", kAttrSize) + " -> s1\n" + Attr("39", "$h", kAttrSize) + " -> sh\n" +
                Attr("39", "0", kAttrCount) + " -> n\n.call peek 1 1233 7 -> last"),
            0);
  EXPECT_EQ(Num("s1"), static_cast<double>(size));
  EXPECT_EQ(Num("sh"), 3);
  EXPECT_EQ(Num("n"), 2);
  EXPECT_EQ(Num("last"), 1233 % 256);
  EXPECT_EQ(Run(Attr("39", "1", kAttrWidth)), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(Attr("39", "5", kAttrSize)), 1180);
  EXPECT_EQ(GetErrorArgIndex(), 5);
  ASSERT_EQ(Run(".call freemem $h"), 0);
  EXPECT_EQ(Run(Attr("39", "$h", kAttrSize)), ERR_FINDARRAY);
}

}  // namespace

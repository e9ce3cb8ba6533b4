// The adapter branch of file streams, driven through an in-process adapter
// that keeps its files in a map.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "runtime/chunk_name.h"
#include "runtime/file_adapter.h"
#include "runtime/file_lock.h"
#include "runtime/memory_name.h"
#include "runtime/stream.h"
#include "virtual_files.h"

namespace {

struct Handle {
  std::vector<uint8_t>* data;
  int64_t pos;
};

struct TestFs {
  std::map<std::string, std::vector<uint8_t>> files;
  std::string lastName;
  uint32_t lastMode = 0;
  std::vector<vlTagItem> lastTags;
  uint32_t setFlags = 0;  // written through tag 1 at open
  int opens = 0, live = 0, seeks = 0;
  bool statFails = false;
};
TestFs* g_fs = nullptr;

void* TOpen(const char* name, uint32_t mode, const vlTagItem* tags) {
  g_fs->opens++;
  g_fs->lastName = name;
  g_fs->lastMode = mode;
  g_fs->lastTags.clear();
  for (const vlTagItem* t = tags; t->tag; ++t) g_fs->lastTags.push_back(*t);
  auto it = g_fs->files.find(name);
  if (mode == VL_ADAPTER_WRITE) it = g_fs->files.insert_or_assign(name, std::vector<uint8_t>()).first;
  if (it == g_fs->files.end()) return nullptr;
  *reinterpret_cast<uint32_t*>(GetTagValue(tags, VL_FOPEN_FLAGS, 0)) = g_fs->setFlags;
  g_fs->live++;
  return new Handle{&it->second, 0};
}
int TClose(void* h) {
  g_fs->live--;
  delete static_cast<Handle*>(h);
  return 1;
}
int64_t TRead(void* hv, void* buf, int64_t n) {
  auto* h = static_cast<Handle*>(hv);
  int64_t left = static_cast<int64_t>(h->data->size()) - h->pos;
  if (n > left) n = left;
  if (n <= 0) return 0;
  std::memcpy(buf, h->data->data() + h->pos, n);
  h->pos += n;
  return n;
}
int TGetC(void* hv) {
  auto* h = static_cast<Handle*>(hv);
  return h->pos < static_cast<int64_t>(h->data->size()) ? (*h->data)[h->pos++] : -1;
}
int64_t TWrite(void* hv, const void* buf, int64_t n) {
  auto* h = static_cast<Handle*>(hv);
  if (h->data->size() < static_cast<size_t>(h->pos + n)) h->data->resize(h->pos + n);
  std::memcpy(h->data->data() + h->pos, buf, n);
  h->pos += n;
  return n;
}
int TPutC(void* hv, int c) {
  uint8_t b = static_cast<uint8_t>(c);
  return TWrite(hv, &b, 1) == 1;
}
int64_t TSeek(void* hv, int64_t off, int mode) {
  g_fs->seeks++;
  auto* h = static_cast<Handle*>(hv);
  int64_t before = h->pos;
  int64_t base = mode == 0 ? h->pos : mode == 1 ? 0 : static_cast<int64_t>(h->data->size());
  h->pos = base + off;
  return before;
}
int TFlush(void*) { return 1; }
int TEof(void* hv) {
  auto* h = static_cast<Handle*>(hv);
  return h->pos >= static_cast<int64_t>(h->data->size());
}
int TFStat(void* hv, uint32_t, vlAdapterStat* st, const vlTagItem*) {
  if (g_fs->statFails) return 0;
  st->size = static_cast<Handle*>(hv)->data->size();
  st->protection = 0x1003;
  std::strcpy(st->comment, "from the adapter");
  st->modifyDate = {4, 11, 2002, 10, 30, 0};
  st->words[0] = 7;
  st->words[1] = 9;
  return 1;
}

int TStat(const char* name, uint32_t, vlAdapterStat* st, const vlTagItem*) {
  auto it = g_fs->files.find(name);
  if (it == g_fs->files.end()) return 0;
  st->size = it->second.size();
  st->protection = 0x3;
  std::strcpy(st->comment, "stat by name");
  return 1;
}

// A directory adapter that serves one directory, "vdir", of two entries.
int g_dirOpen = 0;
struct DirWalk {
  int next;
};
void* TOpenDir(const char* name, uint32_t, const vlTagItem*) {
  if (std::strcmp(name, "vdir") != 0) return nullptr;
  g_dirOpen++;
  return new DirWalk{0};
}
void TCloseDir(void* h) {
  g_dirOpen--;
  delete static_cast<DirWalk*>(h);
}
int TNextDirEntry(void* h, uint32_t, const char** name, uint32_t* isDir, vlAdapterStat* st) {
  auto* w = static_cast<DirWalk*>(h);
  static const char* const names[] = {"one.txt", "two"};
  if (w->next >= 2) return 0;
  *name = names[w->next];
  *isDir = w->next == 1;
  st->size = w->next == 0 ? 11 : 0;
  w->next++;
  return 1;
}

const vlFileAdapterSlots kSlots = {TOpen, TClose, TRead,  TGetC,    TWrite,    TPutC,        TSeek,
                                   TFlush, TEof, TFStat, TStat, TOpenDir, TCloseDir, TNextDirEntry};

// The plug-in layer's view of a class member, here the adapter itself.
vlFileAdapter* TestView(vlPluginInfo* plugin) { return reinterpret_cast<vlFileAdapter*>(plugin); }
vlPluginInfo* AsPlugin(vlFileAdapter* adapter) { return reinterpret_cast<vlPluginInfo*>(adapter); }

class AdapterStream : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fs = &fs;
    SetFileAdapterView(TestView);
    ASSERT_EQ(AddPluginToClassList(AsPlugin(&adapter), VL_CLASS_FILEADAPTER), 0);
    fs.files["data.bin"] = {1, 2, 3, 4, 5, 6, 7, 8};
  }
  void TearDown() override {
    RemovePluginFromClassList(AsPlugin(&adapter), VL_CLASS_FILEADAPTER);
    RemovePluginFromClassList(AsPlugin(&second), VL_CLASS_FILEADAPTER);
    EXPECT_EQ(fs.live, 0);
    SetFileAdapterView(nullptr);
    g_fs = nullptr;
  }
  TestFs fs;
  vlFileAdapter adapter{"testfs", &kSlots, 0, 0, 0, 0};
  vlFileAdapter second{"otherfs", &kSlots, 0, 0, 0, 0};

  vlStream* Open(const char* name, uint32_t mode, const char* list) { return OpenFileStream(name, mode, list); }
};

TEST_F(AdapterStream, OpensOnlyWhenAskedAndSelected) {
  // Without the adapter bit the adapter is not asked (and no plain file of
  // that name exists).
  EXPECT_EQ(Open("data.bin", VL_MODE_READ, "testfs"), nullptr);
  EXPECT_EQ(fs.opens, 0);
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, "otherfs|inbuilt"), nullptr);
  EXPECT_EQ(fs.opens, 0);

  for (const char* list : {(const char*)nullptr, "", "default", "testfs", "TEST", "inbuilt|plugin", "plug"}) {
    vlStream* s = Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, list);
    ASSERT_NE(s, nullptr) << (list ? list : "null");
    EXPECT_STREQ(GetFileStreamAdapterName(s), "testfs");
    EXPECT_EQ(s->mode, VL_ADAPTER_READ);
    EXPECT_EQ(ReadFileStreamLongBE(s), 0x01020304u);
    CloseFileStream(s);
  }
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, "testfsx"), nullptr);

  adapter.disabled = 1;
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr), nullptr);
  adapter.disabled = 0;
  adapter.callKind = 2;  // the frame-call hook does nothing here
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr), nullptr);
  adapter.callKind = 0;
  adapter.namedOnly = 1;
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr), nullptr);
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, "plugin"), nullptr);
  vlStream* s = Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, "inbuilt|testfs");
  ASSERT_NE(s, nullptr);
  CloseFileStream(s);
}

TEST_F(AdapterStream, ModeCodesAndFirstAdapterWins) {
  ASSERT_EQ(AddPluginToClassList(AsPlugin(&second), VL_CLASS_FILEADAPTER), 0);
  vlStream* s = Open("new.bin", VL_MODE_WRITE | VL_MODE_UPDATE | VL_MODE_ADAPTERS, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(fs.lastMode, VL_ADAPTER_WRITE);
  EXPECT_STREQ(GetFileStreamAdapterName(s), "testfs");
  EXPECT_EQ(WriteFileStreamLongLE(s, 0x11223344), 1);
  EXPECT_EQ(WriteStreamString(s, "ok"), 2);
  CloseFileStream(s);
  EXPECT_EQ(fs.files["new.bin"], (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11, 'o', 'k'}));

  s = Open("new.bin", VL_MODE_UPDATE | VL_MODE_ADAPTERS, "otherfs");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(fs.lastMode, VL_ADAPTER_UPDATE);
  EXPECT_STREQ(GetFileStreamAdapterName(s), "otherfs");
  CloseFileStream(s);
}

TEST_F(AdapterStream, UnseekableStreamsPassOnlyQueriesAndRewinds) {
  fs.setFlags = VL_STREAM_UNSEEKABLE;
  vlStream* s = Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(IsFileStreamUnseekable(s), 1);
  EXPECT_EQ(GetFileStreamFlags(s), VL_STREAM_UNSEEKABLE);
  EXPECT_EQ(ReadFileStreamWordBE(s), 0x0102u);
  EXPECT_EQ(SeekFileStream(s, 2, VL_SEEK_CURRENT), -1);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_END), -1);
  EXPECT_EQ(SeekFileStream(s, 4, VL_SEEK_BEGIN), -1);
  EXPECT_EQ(fs.seeks, 0);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_CURRENT), 2);
  EXPECT_EQ(SeekFileStream(s, 0, VL_SEEK_BEGIN), 2);
  EXPECT_EQ(ReadFileStreamByte(s), 1);
  EXPECT_EQ(fs.seeks, 2);
  CloseFileStream(s);
}

TEST_F(AdapterStream, SizeAndStatComeFromTheAdapter) {
  vlStream* s = Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(GetFileStreamSize(s), 8);
  vlFileStat st;
  std::memset(&st, 0xAA, sizeof st);
  ASSERT_EQ(StatFileStream(s, &st), 1);
  EXPECT_EQ(st.size, 8u);
  EXPECT_EQ(st.protection, 0x1003u);
  EXPECT_STREQ(st.comment, "from the adapter");
  EXPECT_EQ(st.adapterWords[0], 7u);
  EXPECT_EQ(st.adapterWords[1], 9u);
  EXPECT_EQ(st.modifyTime, DateRecordToTime({4, 11, 2002, 10, 30, 0}));
  // Dates the adapter leaves alone are the engine's start date.
  EXPECT_EQ(st.accessTime, DateRecordToTime(GetStartDateStamp()));
  EXPECT_EQ(st.changeTime, st.accessTime);
  fs.statFails = true;
  EXPECT_EQ(GetFileStreamSize(s), 0);
  EXPECT_EQ(StatFileStream(s, &st), 0);
  CloseFileStream(s);
}

TEST_F(AdapterStream, VirtualNamesGoOnlyToAdaptersThatAcceptThem) {
  fs.files["gfx/pic.png"] = {9, 9};
  char chunk[256];
  ASSERT_EQ(MakeChunkName("gfx/pic.png", chunk, sizeof chunk, 100, 2, 20, "/apps/demo.vla"), 1);
  EXPECT_EQ(Open(chunk, VL_MODE_READ | VL_MODE_ADAPTERS, "testfs"), nullptr);  // no plain back end either
  EXPECT_EQ(fs.opens, 0);

  EXPECT_EQ(SetFileAdapterFlags(&adapter, 1, VL_ADAPTER_ACCEPTS_VIRTUAL), 0);
  EXPECT_EQ(adapter.flags, 0u);
  SetFileAdapterFlags(&adapter, VL_CLASS_FILEADAPTER, VL_ADAPTER_ACCEPTS_VIRTUAL);
  vlStream* s = Open(chunk, VL_MODE_READ | VL_MODE_ADAPTERS, "testfs");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(fs.lastName, "gfx/pic.png");
  ASSERT_EQ(fs.lastTags.size(), 4u);
  EXPECT_EQ(fs.lastTags[0].tag, VL_FOPEN_FLAGS);
  EXPECT_STREQ(reinterpret_cast<const char*>(GetTagValue(fs.lastTags.data(), VL_FOPEN_CONTAINER, 0)),
               "/apps/demo.vla");
  EXPECT_EQ(GetTagValue(fs.lastTags.data(), VL_FOPEN_OFFSET, 0), 120u);
  EXPECT_EQ(GetTagValue(fs.lastTags.data(), VL_FOPEN_LENGTH, 0), 2u);
  CloseFileStream(s);

  static const uint8_t block[] = {1, 2, 3};
  char mem[64];
  ASSERT_EQ(MakeMemoryName(mem, sizeof mem, block, sizeof block), 1);
  fs.files["Unnamed"] = {7};
  s = Open(mem, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(fs.lastName, "Unnamed");
  EXPECT_EQ(GetTagValue(fs.lastTags.data(), VL_FOPEN_DATA, 0), reinterpret_cast<uintptr_t>(block));
  EXPECT_EQ(GetTagValue(fs.lastTags.data(), VL_FOPEN_LENGTH, 0), 3u);
  EXPECT_EQ(s->memory, nullptr);  // the adapter owns the stream now
  CloseFileStream(s);

  // When no adapter takes a memory name it opens as a memory stream.
  fs.files.erase("Unnamed");
  s = Open(mem, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->adapter, nullptr);
  EXPECT_EQ(ReadFileStreamByte(s), 1);
  CloseFileStream(s);
  ReleaseMemoryName(mem);
}

TEST_F(AdapterStream, LocksAskDirectoryAdaptersThenFileAdapterStatus) {
  vlFileAdapter dirfs{"dirfs", &kSlots, 0, 0, 0, 0};
  ASSERT_EQ(AddPluginToClassList(AsPlugin(&dirfs), VL_CLASS_DIRADAPTER), 0);

  vlFileLock* lock = ObtainFileLock("vdir", 1 | VL_LOCK_ADAPTERS, nullptr);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(g_dirOpen, 1);
  EXPECT_STREQ(GetFileLockAdapterName(lock), "dirfs");
  vlFileStat st;
  StatFileLock(lock, &st);
  EXPECT_EQ(st.isDirectory, 1u);
  EXPECT_EQ(st.size, 0u);
  uint32_t isDir = 0;
  EXPECT_EQ(RequireDirectoryLock(lock, &isDir), 0);
  EXPECT_EQ(isDir, 1u);
  const char* entry;
  ASSERT_EQ(ReadFileLockEntry(lock, 0, &entry, &isDir, &st), 1);
  EXPECT_STREQ(entry, "one.txt");
  EXPECT_EQ(isDir, 0u);
  EXPECT_EQ(st.size, 11u);
  EXPECT_EQ(st.modifyTime, DateRecordToTime(GetStartDateStamp()));
  ASSERT_EQ(ReadFileLockEntry(lock, 0, &entry, &isDir, nullptr), 1);
  EXPECT_STREQ(entry, "two");
  EXPECT_EQ(isDir, 1u);
  EXPECT_EQ(ReadFileLockEntry(lock, 0, &entry, &isDir, nullptr), 0);
  char name[64];
  GetFileLockName(lock, name, sizeof name);
  EXPECT_STREQ(name, "vdir");
  FreeFileLock(lock);
  EXPECT_EQ(g_dirOpen, 0);

  // Not a directory the adapter knows: the file adapters' status answers.
  lock = ObtainFileLock("data.bin", 1 | VL_LOCK_ADAPTERS, "testfs|dirfs");
  ASSERT_NE(lock, nullptr);
  EXPECT_STREQ(GetFileLockAdapterName(lock), "testfs");
  StatFileLock(lock, &st);
  EXPECT_EQ(st.size, 8u);
  EXPECT_EQ(st.protection, 3u);
  EXPECT_STREQ(st.comment, "stat by name");
  EXPECT_EQ(RequireDirectoryLock(lock, &isDir), 1250);
  FreeFileLock(lock);

  // Without the adapter bit, or with a list that selects neither, nothing
  // but the back end is asked (and it has no such file).
  EXPECT_EQ(ObtainFileLock("vdir", 1, nullptr), nullptr);
  EXPECT_EQ(ObtainFileLock("vdir", 1 | VL_LOCK_ADAPTERS, "inbuilt"), nullptr);
  EXPECT_EQ(g_dirOpen, 0);

  vlFileInfo info;
  ASSERT_EQ(ExamineFileLock("data.bin", &info, 1), 1);
  EXPECT_EQ(info.size, 8u);
  EXPECT_STREQ(info.name, "data.bin");
  EXPECT_STREQ(info.comment, "stat by name");
  EXPECT_EQ(ExamineFileLock("data.bin", &info, 0), 0);
  RemovePluginFromClassList(AsPlugin(&dirfs), VL_CLASS_DIRADAPTER);
}

TEST_F(AdapterStream, MembersWithoutAnAdapterViewArePassedOver) {
  SetFileAdapterView([](vlPluginInfo*) -> vlFileAdapter* { return nullptr; });
  EXPECT_EQ(Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr), nullptr);
  EXPECT_EQ(fs.opens, 0);
  SetFileAdapterView(TestView);
  vlStream* s = Open("data.bin", VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  ASSERT_NE(s, nullptr);
  CloseFileStream(s);
}

TEST(LoaderList, DefaultListsSelectEverything) {
  for (const char* list : {(const char*)nullptr, "", "default", "DEFAULT"}) {
    EXPECT_EQ(IsLoaderSelected(list, "inbuilt", 0), 1);
    EXPECT_EQ(IsLoaderSelected(list, "svgimage", 0), 1);
    EXPECT_EQ(IsLoaderNamed(list, "svgimage"), 0);
  }
}

TEST(LoaderList, ReservedWordsCountOnlyAsWholeItems) {
  EXPECT_EQ(IsLoaderSelected("inbuilt|plugin", "inbuilt", 0), 1);
  EXPECT_EQ(IsLoaderSelected("inbuilt|plugin", "native", 0), 0);
  EXPECT_EQ(IsLoaderSelected("NATIVE", "native", 0), 1);
  EXPECT_EQ(IsLoaderSelected("inbuiltx", "inbuilt", 0), 0);
  EXPECT_EQ(IsLoaderSelected("inbuil", "inbuilt", 0), 0);
  EXPECT_EQ(IsLoaderSelected("xinbuilt|foo", "inbuilt", 0), 0);
  EXPECT_EQ(IsLoaderSelected("inbuiltx|inbuilt", "inbuilt", 0), 1);
}

TEST(LoaderList, ItemsSelectModuleNamesThatBeginWithThem) {
  EXPECT_EQ(IsLoaderSelected("svg", "svgimage", 0), 1);
  EXPECT_EQ(IsLoaderSelected("SVGIMAGE", "svgimage", 0), 1);
  EXPECT_EQ(IsLoaderSelected("svgimagex", "svgimage", 0), 0);
  EXPECT_EQ(IsLoaderSelected("inbuilt|plugin", "svgimage", 0), 0);
  EXPECT_EQ(IsLoaderSelected("inbuilt|plugin", "svgimage", 1), 1);
  EXPECT_EQ(IsLoaderSelected("a||b", "svgimage", 0), 0);  // an empty item selects nothing
  EXPECT_EQ(IsLoaderNamed("inbuilt|svg", "svgimage"), 1);
  EXPECT_EQ(IsLoaderNamed("plugin", "svgimage"), 0);
}

}  // namespace

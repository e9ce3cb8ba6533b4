// Start-up pieces on their own: the require-tags text, plug-ins linked
// into a copy of a real executable, the marker block, the passes over the
// declarations and the preload and display calls as the commands see them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "player/linked_data.h"
#include "player/preloads.h"
#include "runtime/preproc.h"
#include "runtime/require_tags.h"
#include "player/startup_options.h"
#include "tests/runtime/container_builder.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(RequireTags, QuotedTextsBooleansAndNumbers) {
  vlPluginTag* tags = nullptr;
  ASSERT_EQ(BuildRequireTags("a[x=1] b [title='A B', on=true, off=false, n=$10, s=12px]", "b", &tags), 0);
  ASSERT_NE(tags, nullptr);
  EXPECT_STREQ(tags->key, "title");
  EXPECT_STREQ(tags->string, "A B");
  vlPluginTag* t = tags->next;
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->string, nullptr);
  EXPECT_EQ(t->number, 1);
  t = t->next;
  EXPECT_EQ(t->string, nullptr);
  EXPECT_EQ(t->number, 0);
  t = t->next;
  EXPECT_EQ(t->string, nullptr);
  EXPECT_EQ(t->number, 16);
  t = t->next;
  EXPECT_STREQ(t->string, "12px");
  EXPECT_EQ(t->number, 12);
  EXPECT_EQ(t->next, nullptr);
  FreePluginTags(tags);
  // A shorter entry name matches a longer plug-in name; the first match ends the walk.
  ASSERT_EQ(BuildRequireTags("my[k=v] myplugin[k=w]", "MyPlugin", &tags), 0);
  ASSERT_NE(tags, nullptr);
  EXPECT_STREQ(tags->string, "v");
  EXPECT_EQ(tags->next, nullptr);
  FreePluginTags(tags);
  ASSERT_EQ(BuildRequireTags("other[k=1]", "mine", &tags), 0);
  EXPECT_EQ(tags, nullptr);
}

TEST(RequireTags, SyntaxErrors) {
  vlPluginTag* tags = nullptr;
  for (const char* bad : {"b[1x=2]", "[k=1]", "a b[k=1]", "b[k 1]", "b[k='open]", "b[k=1", "b[k=1 x=2]"}) {
    EXPECT_EQ(BuildRequireTags(bad, "b", &tags), ERR_REQUIRETAGFMT) << bad;
    EXPECT_EQ(tags, nullptr);
  }
  // An entry for another plug-in is checked on the way, too.
  EXPECT_EQ(BuildRequireTags("a[9=1] b[k=1]", "b", &tags), ERR_REQUIRETAGFMT);
}

TEST(MarkerBlock, UnpatchedAndPatched) {
  uint8_t marker[kMarkerBlockSize];
  std::memcpy(marker, vlMarkerBlock, sizeof marker);
  EXPECT_EQ(std::memcmp(marker, "Zephlin Brokwend Entertainment\0\0\xDE\xAD\xC0\xDE\xC0\xDE\xCA\xFE\xC0\xCA\xC0\x1A", 44),
            0);
  ReadMarkerBlock(marker);
  EXPECT_EQ(vlLinked, 0u);
  EXPECT_EQ(vlLinkedOffset, 0u);
  marker[32] = 0;
  marker[33] = 0x01;
  marker[34] = 0x02;
  marker[35] = 0x03;
  ReadMarkerBlock(marker);
  EXPECT_EQ(vlLinked, 1u);
  EXPECT_EQ(vlLinkedOffset, 0x010203u);
  ReadMarkerBlock(vlMarkerBlock);
  EXPECT_EQ(std::string(vlPatchArea.banner).size(), 103u);
  EXPECT_EQ(vlPatchArea.magic[0], 0xDE);
  EXPECT_EQ(vlPatchArea.magic[11], 0x0D);
}

class LinkedPlugins : public testing::Test {
 protected:
  void SetUp() override {
    dir = std::string(testing::TempDir()) + "vllink_" + std::to_string(getpid()) + "_" +
          testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir.c_str(), 0755);
    std::ifstream in("/bin/true", std::ios::binary);
    program.assign(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(program.empty());
  }
  void TearDown() override {
    RemoveLinkedPluginDir();
    std::system(("rm -rf " + dir).c_str());
    vlLinkedOffset = 0;
  }
  // A copy of a real executable with the bytes appended; their offset.
  std::string Link(const std::vector<uint8_t>& appended) {
    std::vector<uint8_t> bytes = program;
    bytes.insert(bytes.end(), appended.begin(), appended.end());
    std::string path = dir + "/program";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }
  std::string dir;
  std::vector<uint8_t> program;
};

TEST_F(LinkedPlugins, TwoPlainEntriesGoIntoOneNewDirectory) {
  vltest::ContainerBytes c;
  c.b = {'V', 'L', 'P', '!', 0, 0, 0, 0};
  c.Text("first").U32(5).Raw("AAAAA").Text("second").U32(3).Raw("BBB").Text("");
  size_t end = c.Size();
  c.Raw("VLA").U8(0);
  std::string path = Link(c.b);
  uint32_t offset = static_cast<uint32_t>(program.size());
  ASSERT_EQ(ExtractLinkedPlugins(path.c_str(), nullptr, nullptr, offset), 0);
  EXPECT_EQ(vlLinkedOffset, offset + end);
  ASSERT_NE(vlLinkedPluginDir[0], 0);
  std::string pluginDir = vlLinkedPluginDir;
  EXPECT_EQ(ReadAll(pluginDir + "/first.vlp"), "AAAAA");
  EXPECT_EQ(ReadAll(pluginDir + "/second.vlp"), "BBB");
  // A target that exists already is left as it is.
  std::ofstream(pluginDir + "/first.vlp", std::ios::binary) << "kept";
  ASSERT_EQ(ExtractLinkedPlugins(path.c_str(), nullptr, nullptr, offset), 0);
  EXPECT_EQ(ReadAll(pluginDir + "/first.vlp"), "kept");
  EXPECT_EQ(std::string(vlLinkedPluginDir), pluginDir);
  RemoveLinkedPluginDir();
  EXPECT_NE(access(pluginDir.c_str(), F_OK), 0);
}

TEST_F(LinkedPlugins, ContainerAtTheOffsetExtractsNothing) {
  vltest::ContainerBytes c;
  std::string path = Link(c.b);
  vlLinkedOffset = 77;
  ASSERT_EQ(ExtractLinkedPlugins(path.c_str(), nullptr, nullptr, static_cast<uint32_t>(program.size())), 0);
  EXPECT_EQ(vlLinkedOffset, 77u);
  EXPECT_EQ(vlLinkedPluginDir[0], 0);
}

TEST_F(LinkedPlugins, CompressedEntriesAndBadOnes) {
  std::string body = "compressed plug-in body";
  uLongf size = compressBound(body.size());
  std::vector<uint8_t> packed(size);
  ASSERT_EQ(compress(packed.data(), &size, reinterpret_cast<const Bytef*>(body.data()), body.size()), Z_OK);
  std::string pack = std::string("PLPK\0\0\0\0", 8) + std::string(packed.begin(), packed.begin() + size);
  vltest::ContainerBytes c;
  c.b = {'V', 'L', 'P', '!', 0, 0, 0, 1};
  c.Text("packed").U32(static_cast<uint32_t>(pack.size())).Raw(pack).Text("");
  uint32_t offset = static_cast<uint32_t>(program.size());
  ASSERT_EQ(ExtractLinkedPlugins(Link(c.b).c_str(), nullptr, nullptr, offset), 0);
  EXPECT_EQ(ReadAll(std::string(vlLinkedPluginDir) + "/packed.vlp"), body);
  EXPECT_EQ(vlLinkedOffset, offset + c.Size());
  RemoveLinkedPluginDir();

  vltest::ContainerBytes wrong;
  wrong.b = {'V', 'L', 'P', '!', 0, 0, 0, 1};
  wrong.Text("bad").U32(12).Raw(std::string("XXXX\0\0\0\0abcd", 12)).Text("");
  EXPECT_EQ(ExtractLinkedPlugins(Link(wrong.b).c_str(), nullptr, nullptr, offset), ERR_PAKFORMAT);
  RemoveLinkedPluginDir();

  vltest::ContainerBytes escape;
  escape.b = {'V', 'L', 'P', '!', 0, 0, 0, 0};
  escape.Text("../evil").U32(1).Raw("x").Text("");
  EXPECT_EQ(ExtractLinkedPlugins(Link(escape.b).c_str(), nullptr, nullptr, offset), ERR_WRITEFILE);

  vltest::ContainerBytes cut;
  cut.b = {'V', 'L', 'P', '!', 0, 0, 0, 0};
  cut.Text("cut").U32(1000).Raw("short");
  EXPECT_EQ(ExtractLinkedPlugins(Link(cut.b).c_str(), nullptr, nullptr, offset), ERR_READ);
  EXPECT_EQ(ExtractLinkedPlugins((dir + "/none").c_str(), nullptr, nullptr, 0), ERR_READFILE);
}

// Declarations built in memory.
vlPreprocRecord* NewRecord(vlPreprocRecord** list, uint32_t subtype, uint32_t id, const char* name, size_t dataSize) {
  auto* r = static_cast<vlPreprocRecord*>(std::calloc(1, sizeof(vlPreprocRecord)));
  r->subtype = subtype;
  r->id = id;
  r->name = name ? strdup(name) : nullptr;
  if (dataSize) r->data = std::calloc(1, dataSize);
  AppendPreprocRecord(list, r);
  return r;
}

TEST(Declarations, SharedPictureFiles) {
  vlPreprocRecord* list = nullptr;
  vlPreprocRecord* a = NewRecord(&list, VL_PP_BRUSH, 1, "pic.png", sizeof(vlPictureDecl));
  vlPreprocRecord* b = NewRecord(&list, VL_PP_BRUSH, 2, "PIC.PNG", sizeof(vlPictureDecl));
  b->wordB = 1;  // alpha
  vlPreprocRecord* scaled = NewRecord(&list, VL_PP_BRUSH, 3, "pic.png", sizeof(vlPictureDecl));
  static_cast<vlPictureDecl*>(scaled->data)->scaleWidth = 100;
  vlPreprocRecord* noFrames = NewRecord(&list, VL_PP_ANIM, 4, "anim.gif", sizeof(vlPictureDecl));
  NewRecord(&list, VL_PP_ANIM, 5, "anim.gif", sizeof(vlPictureDecl));
  // A second group of pic.png at another scaling: the cache knows entries
  // by name only, so it loads its own picture.
  vlPreprocRecord* scaled2 = NewRecord(&list, VL_PP_BRUSH, 6, "pic.png", sizeof(vlPictureDecl));
  static_cast<vlPictureDecl*>(scaled2->data)->scaleWidth = 100;
  // A grid anim keeps its picture for a brush; an anim and a sprite
  // without a grid read the file as an anim and take nothing from it.
  vlPreprocRecord* grid = NewRecord(&list, VL_PP_ANIM, 7, "tiles.gif", sizeof(vlPictureDecl));
  static_cast<vlPictureDecl*>(grid->data)->frames = 2;
  vlPreprocRecord* whole = NewRecord(&list, VL_PP_ANIM, 8, "tiles.gif", sizeof(vlPictureDecl));
  vlPreprocRecord* sprite = NewRecord(&list, VL_PP_SPRITE, 9, "tiles.gif", sizeof(vlPictureDecl));
  vlPreprocRecord* tileBrush = NewRecord(&list, VL_PP_BRUSH, 10, "tiles.gif", sizeof(vlPictureDecl));
  MarkSharedPictureFiles(list);
  auto* pa = static_cast<vlPictureDecl*>(a->data);
  auto* pb = static_cast<vlPictureDecl*>(b->data);
  EXPECT_EQ(pa->cache, 1u);
  EXPECT_EQ(pa->cacheAlpha, 1u);
  EXPECT_EQ(pb->cachedLoad, 1u);
  EXPECT_EQ(pb->cache, 0u);
  EXPECT_EQ(static_cast<vlPictureDecl*>(scaled->data)->cachedLoad, 0u);
  // An anim without a frame count is not shared.
  EXPECT_EQ(static_cast<vlPictureDecl*>(noFrames->data)->cache, 0u);
  auto* ps = static_cast<vlPictureDecl*>(scaled->data);
  auto* ps2 = static_cast<vlPictureDecl*>(scaled2->data);
  EXPECT_EQ(ps->cache + ps2->cachedLoad, 0u);
  EXPECT_EQ(static_cast<vlPictureDecl*>(grid->data)->cache, 1u);
  EXPECT_EQ(static_cast<vlPictureDecl*>(whole->data)->cachedLoad, 0u);
  EXPECT_EQ(static_cast<vlPictureDecl*>(sprite->data)->cachedLoad, 0u);
  EXPECT_EQ(static_cast<vlPictureDecl*>(tileBrush->data)->cachedLoad, 1u);
  FreePreprocRecords(&list);
}

TEST(Declarations, CommandLineDisplaySettings) {
  vlAppletInfo applet{};
  vlStartupRecord startup{};
  InitStartupDefaults(&applet, &startup);
  ASSERT_EQ(AddDefaultDisplay(&applet.preproc, "one"), 0);
  ASSERT_EQ(AddDefaultDisplay(&applet.preproc, "two"), 0);
  applet.preproc->next->id = 2;
  applet.overrides.mode = 2;
  applet.overrides.screenWidth = 800;
  applet.overrides.scaleWidth = 1024;
  applet.overrides.flagBits = VL_DF_BORDERLESS;
  applet.overrides.backfill.hideTitleBar = 1;
  std::strcpy(applet.overrides.xServer, ":5");
  ApplyCommandLineDisplays(&applet, &startup);
  vlDisplayDecl* one = FindDisplayDecl(applet.preproc, 1);
  vlDisplayDecl* two = FindDisplayDecl(applet.preproc, 2);
  EXPECT_STREQ(one->title, "one");
  EXPECT_EQ(one->mode, 2);
  EXPECT_EQ(one->screenWidth, 800);
  EXPECT_EQ(one->screenHeight, 0);
  EXPECT_EQ(one->scaleWidth, 1024);
  EXPECT_EQ(one->flags, VL_DF_ACTIVE | VL_DF_BORDERLESS);
  EXPECT_EQ(one->backfill.hideTitleBar, 1);
  EXPECT_STREQ(one->xServer, ":5");
  EXPECT_EQ(two->mode, 1);
  startup.applyToAllDisplays = 1;
  ApplyCommandLineDisplays(&applet, &startup);
  EXPECT_EQ(two->mode, 2);
  FreePreprocRecords(&applet.preproc);
}

// Commands that record what the preloads hand them.
std::vector<std::string> gCalls;

std::string Field(vlVMState* L, int table, const char* key) {
  if (vl::GetTypeAt(L, table) != VL_TTABLE) return "<none>";
  vl::PushString(L, key);
  vl::GetTableValue(L, table);
  std::string v = vl::GetTypeAt(L, -1) == VL_TNIL ? "nil" : vl::ToStringAt(L, -1);
  vl::SetStackTop(L, -2);
  return v;
}

int RecordLoad(vlVMState* L) {
  std::string call = std::string(vl::ToStringAt(L, 1)) + " " + vl::ToStringAt(L, 2);
  for (const char* key : {"cache", "cachedload", "width", "transparency", "loader"})
    call += std::string(" ") + key + "=" + Field(L, 3, key);
  gCalls.push_back(call);
  return 0;
}
int RecordDisplay(vlVMState* L) {
  std::string call = std::string("display ") + vl::ToStringAt(L, 1);
  for (const char* key : {"title", "bgpic", "width", "mode", "active", "borderless"})
    call += std::string(" ") + key + "=" + Field(L, 2, key);
  gCalls.push_back(call);
  return 0;
}
int Refuse(vlVMState*) { return ERR_READFILE; }

class Preloads : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    gCalls.clear();
    applet = {};
    startup = {};
    InitStartupDefaults(&applet, &startup);
    std::strcpy(startup.scriptPath, "/games/demo.vla");
  }
  void TearDown() override {
    FreePreprocRecords(&applet.preproc);
    HandlerTest::TearDown();
  }
  int RunBoth() {
    int status = 0;
    int raised = vl::RunProtectedFn(L, [&] {
      status = RunPreloads(L, &startup, &applet);
      if (!status) status = RunDeclaredDisplays(L, &startup, &applet);
    });
    return raised ? raised : status;
  }
  vlAppletInfo applet;
  vlStartupRecord startup;
};

TEST_F(Preloads, SharedBrushAndDefaultDisplayShowingBGPicOne) {
  vltest::SetGlobalNative(L, "loadbrush", RecordLoad);
  vltest::SetGlobalNative(L, "loadbgpic", RecordLoad);
  vltest::SetGlobalNative(L, "createdisplay", RecordDisplay);
  vlPreprocRecord* bg = NewRecord(&applet.preproc, VL_PP_BGPIC, 1, "back.png", sizeof(vlBGPicDecl));
  bg->wordA = 0xFFFFFFFF;
  vlPreprocRecord* a = NewRecord(&applet.preproc, VL_PP_BRUSH, 1, "pic.png", sizeof(vlPictureDecl));
  a->wordA = 0xFF00FF;
  static_cast<vlPictureDecl*>(a->data)->width = 64;
  vlPreprocRecord* b = NewRecord(&applet.preproc, VL_PP_BRUSH, 2, "pic.png", sizeof(vlPictureDecl));
  b->wordA = 0xFFFFFFFF;
  std::strcpy(b->loader, "png");
  AddDefaultDisplay(&applet.preproc, nullptr);
  MarkSharedPictureFiles(applet.preproc);
  ASSERT_EQ(RunBoth(), 0);
  ASSERT_EQ(gCalls.size(), 4u);
  EXPECT_EQ(gCalls[0], "1 back.png cache=nil cachedload=nil width=nil transparency=nil loader=nil");
  EXPECT_EQ(gCalls[1], "1 pic.png cache=pic.png cachedload=nil width=64 transparency=16711935 loader=nil");
  EXPECT_EQ(gCalls[2], "2 pic.png cache=nil cachedload=pic.png width=0 transparency=nil loader=png");
  EXPECT_EQ(gCalls[3], "display 1 title=Vellamora bgpic=1 width=nil mode=windowed active=1 borderless=nil");
}

TEST_F(Preloads, LinkedSampleOpensThroughAChunkName) {
  vltest::SetGlobalNative(L, "loadsample", RecordLoad);
  vlPreprocRecord* s = NewRecord(&applet.preproc, VL_PP_SAMPLE, 3, "boom.wav", 0);
  s->linkedOffset = 100;
  s->linkedLength = 20;
  ASSERT_EQ(RunBoth(), 0);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].rfind("3 :::chunk", 0), 0u) << gCalls[0];
  EXPECT_NE(gCalls[0].find("boom.wav"), std::string::npos);
  EXPECT_NE(gCalls[0].find("/games/demo.vla"), std::string::npos);
}

TEST_F(Preloads, FirstFailureStopsWithTheDeclarationsLine) {
  vltest::SetGlobalNative(L, "openmusic", Refuse);
  vltest::SetGlobalNative(L, "loadsample", RecordLoad);
  vlPreprocRecord* m = NewRecord(&applet.preproc, VL_PP_MUSIC, 1, "song.mod", 0);
  m->line = 33;
  NewRecord(&applet.preproc, VL_PP_SAMPLE, 1, "never.wav", 0);
  EXPECT_EQ(RunBoth(), ERR_READFILE);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(GetCurrentErrorLine(), 33);
  EXPECT_STREQ(GetCurrentFunctionName(), "OpenMusic");
  // Without a display library the declared displays wait; with a command
  // missing the preload fails by name.
  FreePreprocRecords(&applet.preproc);
  NewRecord(&applet.preproc, VL_PP_FONT, 2, "Sans", 0);
  EXPECT_EQ(RunBoth(), ERR_FUNCDECLA);
  EXPECT_STREQ(GetErrorArgument(), "openfont()");
}

}  // namespace

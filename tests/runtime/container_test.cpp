// The container reader against containers built byte by byte: records,
// revisions, declarations, bounds of every length, files on disk in plain
// and compressed form, and containers from an independent Python writer.
#include <gtest/gtest.h>

#include <dirent.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "runtime/os.h"
#include "player/container.h"
#include "runtime/errors.h"
#include "player/linked_data.h"
#include "runtime/linked_files.h"
#include "runtime/runtime_options.h"
#include "runtime/script_version.h"
#include "runtime/source_position.h"
#include "player/startup.h"
#include "player/startup_options.h"
#include "runtime/stream.h"
#include "tests/runtime/container_builder.h"
#include "tests/runtime/handler_test_util.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

using vltest::ContainerBytes;

class Container : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    vlOptions.quiet = 1;
    vlStartup.noChdir = 1;
    ResetDisplayOverrides();
    startup = {};
    applet = {};
    InitStartupDefaults(&applet, &startup);
    startup.quiet = 1;
  }
  void TearDown() override {
    FreeContainerData(&applet);
    FreeIconSlots();
    ClearScriptVersion();
    RemoveTempNames();
    vlLinkedOffset = 0;
    vlLinked = 0;
    vlStartup.noChdir = 0;
    HandlerTest::TearDown();
  }

  int Read(const ContainerBytes& c, const char* path = "/games/demo.vla") {
    vlStream* s = OpenMemoryStream(c.b.data(), c.b.size());
    SeekFileStream(s, 4, VL_SEEK_BEGIN);
    vlContainerContext ctx{};
    ctx.state = L;
    ctx.startup = &startup;
    ctx.applet = &applet;
    ctx.scriptPath = path;
    ctx.iconPath = path;
    ctx.iconPosition = -1;
    ctx.major = 6;
    ctx.minor = 1;
    int status = 0;
    int raised = vl::RunProtectedFn(L, [&] { status = ReadContainerRecords(s, &ctx); });
    CloseFileStream(s);
    return raised ? raised : status;
  }

  std::string WriteFile(const std::vector<uint8_t>& bytes, const char* name = "c.vla") {
    std::string path = std::string(testing::TempDir()) + "vlctr_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }

  int Load(const std::string& path) {
    std::snprintf(startup.scriptPath, sizeof startup.scriptPath, "%s", path.c_str());
    int status = 0;
    int raised = vl::RunProtectedFn(L, [&] { status = LoadCompiledScript(L, &startup, &applet); });
    return raised ? raised : status;
  }

  vlStartupRecord startup;
  vlAppletInfo applet;
};

TEST_F(Container, HeaderStringsRevisionAndCode) {
  ContainerBytes c;
  c.U8(10).U8(5).U8(9);
  c.U8(11).Text("Title").U8(12).Raw("\xFF").Text("Ver 1").U8(13).Text("Author");
  c.U8(14).Text("(c) 2026").U8(15).Text("about").U8(34).Text("com.example.demo");
  c.Code(std::string("\x1BVLc\0\x01", 6));
  ASSERT_EQ(Read(c), 0);
  EXPECT_STREQ(applet.header[0], "Title");
  EXPECT_STREQ(applet.header[1], "$Ver 1");
  EXPECT_STREQ(applet.header[2], "Author");
  EXPECT_STREQ(applet.header[4], "about");
  EXPECT_STREQ(applet.identifier, "com.example.demo");
  EXPECT_EQ(applet.versionMajor, 5u);
  EXPECT_EQ(applet.versionMinor, 9u);
  ASSERT_EQ(applet.codeSize, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(applet.code), 6), std::string("\x1BVLc\0\x01", 6));
  // 5.9 is older than 6.0.
  EXPECT_EQ(CheckScriptVersion(6, 0), 0);
  EXPECT_EQ(CheckScriptVersion(5, 9), 1);
}

TEST_F(Container, NewerRevisionsAreRefusedWithTheirNumber) {
  for (auto [major, minor, text] : {std::tuple{6, 2, "6.2"}, std::tuple{7, 0, "7.0"}}) {
    ContainerBytes c;
    c.U8(10).U8(major).U8(minor).Code("x");
    EXPECT_EQ(Read(c), ERR_APPLETVERSION);
    EXPECT_STREQ(GetErrorArgument(), text);
    FreeContainerData(&applet);
  }
  ContainerBytes ok;
  ok.U8(10).U8(6).U8(1).Code("x");
  EXPECT_EQ(Read(ok), 0);
}

TEST_F(Container, EndOfDataAndUnknownTypes) {
  ContainerBytes empty;
  EXPECT_EQ(Read(empty), ERR_UNEXPECTEDEOF);
  ContainerBytes cut;
  cut.U8(11).Raw("no terminator");
  EXPECT_EQ(Read(cut), ERR_UNEXPECTEDEOF);
  ContainerBytes cutWord;
  cutWord.U8(5).U8(1).U8(2);
  EXPECT_EQ(Read(cutWord), ERR_UNEXPECTEDEOF);
  ContainerBytes unknown;
  unknown.U8(35).Code("x");
  EXPECT_EQ(Read(unknown), ERR_UNKNOWNSEC);
}

TEST_F(Container, LengthsBeyondTheDataAreRefused) {
  ContainerBytes code;
  code.U8(1).U32(0xFFFFFFF0).Raw("abc");
  EXPECT_EQ(Read(code), ERR_READ);
  EXPECT_EQ(applet.code, nullptr);
  ContainerBytes skipped;
  skipped.U8(0).U32(100).Raw("short");
  EXPECT_EQ(Read(skipped), ERR_READ);
  ContainerBytes linked;
  linked.U8(26).U32(1).U32(0).Text("a.txt").U32(0x7FFFFFFF).Raw("xy");
  EXPECT_EQ(Read(linked), ERR_READ);
  ContainerBytes name;
  name.U8(2).U32(1).Decl(14, 0, 0xFFFFFF00, 0x200, 3).Code("x");
  EXPECT_EQ(Read(name), ERR_READ);
  // A huge declaration count stops at the end of the data.
  ContainerBytes count;
  count.U8(2).U32(0xFFFFFFFF).Decl(6, 1, 0, 0, 1);
  EXPECT_EQ(Read(count), ERR_UNEXPECTEDEOF);
}

TEST_F(Container, LinkedFileTable) {
  ContainerBytes c;
  c.U8(26).U32(3).U32(12345);
  c.Text("dropped.png").U32(0xFFFFFFFE);
  c.Text("elsewhere.wav").U32(0xFFFFFFFF).U32(77).U32(1000);
  c.Text("inline.txt").U32(5);
  size_t inlineAt = c.Size();
  c.Raw("hello").Code("x");
  ASSERT_EQ(Read(c), 0);
  vlLinkedFile* f = GetLinkedFiles();
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "elsewhere.wav");
  EXPECT_EQ(f->offset, 1000u);
  EXPECT_EQ(f->length, 77u);
  ASSERT_NE(f->next, nullptr);
  EXPECT_STREQ(f->next->name, "inline.txt");
  EXPECT_EQ(f->next->offset, inlineAt);
  EXPECT_EQ(f->next->length, 5u);
  EXPECT_STREQ(f->next->containerPath, "/games/demo.vla");
  EXPECT_EQ(f->next->next, nullptr);
}

TEST_F(Container, LabelsAndUserConstantsReachTheVm) {
  ContainerBytes c;
  c.U8(9).U32(2).U32(17).Text("MainLoop").U32(40).Text("done");
  c.U8(31).Text("MYNUMBER").U8(0).F64(2.5).Text("MYTEXT").U8(1).Text("hello").Text("");
  c.Code("x");
  ASSERT_EQ(Read(c), 0);
  EXPECT_EQ(vl::FindLabel(L, "mainloop"), 17);
  EXPECT_EQ(vl::FindLabel(L, "DONE"), 40);
  EXPECT_EQ(vl::FindLabel(L, "other"), -1);
  const char* text = nullptr;
  double number = 0;
  ASSERT_EQ(vl::FindConstantIn(L, "MYNUMBER", &text, &number, "userconstants"), 1);
  EXPECT_EQ(number, 2.5);
  ASSERT_EQ(vl::FindConstantIn(L, "MYTEXT", &text, &number, "userconstants"), 1);
  EXPECT_STREQ(text, "hello");
}

TEST_F(Container, IncludeMaps) {
  ContainerBytes c;
  c.U8(8).U32(1).U32(1).U32(10).U32(0).Text("lib.vls");
  c.U8(27).U32(1).U32(20).U32(30).U32(5).Text("more.vls").Text("part2.vl");
  c.U8(33).U32(1).U32(1).U32(2).U32(3).Text("\x91\x92").Text("\x93");
  c.Code("x");
  ASSERT_EQ(Read(c), 0);
  vlIncludeEntry* e = GetIncludeEntries();
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->includeName, "lib.vls");
  EXPECT_STREQ(e->partName, "/games/demo.vla");
  ASSERT_NE(e->next, nullptr);
  EXPECT_EQ(e->next->firstLine, 20u);
  EXPECT_EQ(e->next->lineOffset, 5u);
  EXPECT_STREQ(e->next->partName, "part2.vl");
  EXPECT_EQ(e->next->next, nullptr);
}

TEST_F(Container, LegacyRecordsChangeOneDefaultDisplay) {
  ContainerBytes c;
  c.U8(3).U16(800).U16(600).U8(18).U8(1).U8(24).U8(1).U8(5).U32(0xFF0000);
  c.U8(28).U8(0).U32(1024).U32(768).U8(1).U8(30).U8(0);
  c.Code("x");
  ASSERT_EQ(Read(c), 0);
  ASSERT_NE(applet.preproc, nullptr);
  EXPECT_EQ(applet.preproc->next, nullptr);
  EXPECT_EQ(applet.preproc->id, 1u);
  auto* d = static_cast<vlDisplayDecl*>(applet.preproc->data);
  EXPECT_EQ(d->width, 800);
  EXPECT_EQ(d->height, 600);
  EXPECT_EQ(d->color, 0xFF0000u);
  EXPECT_EQ(d->flags, VL_DF_ACTIVE | VL_DF_BORDERLESS | VL_DF_HIDEPOINTER | VL_DF_AUTOSCALE | VL_DF_SMOOTHSCALE);
  EXPECT_EQ(d->scaleWidth, 1024);
  EXPECT_STREQ(d->title, "Vellamora");
}

TEST_F(Container, FirstDisplayOverrides) {
  ContainerBytes c;
  EXPECT_EQ(HasDisplayOverrides(), 0);
  c.U8(16).U8(2).U8(21).U8(1).U8(22).U16(1280).U16(720).U8(23).U8(24).U8(7);
  c.U8(17).U8(2).U32(0x112233).U32(0x445566).U8(29);
  c.Code("x");
  ASSERT_EQ(Read(c), 0);
  EXPECT_EQ(HasDisplayOverrides(), 1);
  EXPECT_EQ(vlContainerDisplay.mode, 2);
  EXPECT_EQ(vlContainerDisplay.hideTitleBar, 1);
  EXPECT_EQ(vlContainerDisplay.screenWidth, 1280);
  EXPECT_EQ(vlContainerDisplay.screenHeight, 720);
  EXPECT_EQ(vlContainerDisplay.screenDepth, 24);
  EXPECT_EQ(vlContainerDisplay.desktop, 1);
  EXPECT_EQ(vlContainerDisplay.backfill.type, 2);
  EXPECT_EQ(vlContainerDisplay.backfill.endColor, 0x445566);
  EXPECT_EQ(startup.skipDisplayOverrides, 1u);
}

TEST_F(Container, DeclarationsWithTheirData) {
  ContainerBytes c;
  c.U8(2).U32(5);
  // Brush 3 "pic.png" (name placed after the code).
  c.Decl(1, 3, 0, 7, 12, 0xFFFFFFFF, 1).U16(10).U16(20).U16(0xFFFF).U16(4).U16(128).U8(1);
  c.U32(200).U32(100).U32(1).U32(2);
  // Plug-in with two tags.
  c.Decl(12, 0, 0, 0, 13, 1, 5).U32(2);
  c.U32(8).Text("speed").U8(0).F64(1.5);
  c.U32(16).Text("mode").U8(1).Text("fast");
  // Menu: "File" with a sub-menu of one item, then "Help".
  c.Decl(13, 1, 0, 0, 14).Short("File").Short("").Short("").U32(0).U8(2);
  c.Short("Quit").Short("quit").Short("Q").U32(4).U8(0);
  c.U8(1).Short("Help").Short("help").Short("").U32(0).U8(0);
  // Button 7.
  c.Decl(5, 7, 0, 0, 15).U16(1).U16(2).U16(30).U16(40);
  // Warning whose text lies behind the code.
  size_t recordAt = c.Size();
  c.Decl(14, 0, 0, 0, 16);
  c.Code("CODE");
  size_t textAt = c.Size();
  c.Raw("pic.pngBeware");
  // Patch the name fields now that the places are known.
  auto patch = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) c.b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  patch(9 + 1 + 4, static_cast<uint32_t>(textAt));           // brush name offset
  patch(recordAt + 1 + 4, static_cast<uint32_t>(textAt + 7));  // warning name offset
  patch(recordAt + 1 + 8, 6);
  ASSERT_EQ(Read(c), 0);
  vlPreprocRecord* r = applet.preproc;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->subtype, VL_PP_BRUSH);
  EXPECT_STREQ(r->name, "pic.png");
  EXPECT_EQ(r->line, 12u);
  EXPECT_EQ(r->wordA, 0xFFFFFFFFu);
  EXPECT_STREQ(r->sourceFile, "/games/demo.vla");
  auto* brush = static_cast<vlPictureDecl*>(r->data);
  EXPECT_EQ(brush->width, 10);
  EXPECT_EQ(brush->x, -1);
  EXPECT_EQ(brush->globalAlpha, 128);
  EXPECT_EQ(brush->hardware, 1u);
  EXPECT_EQ(brush->scaleWidth, 200);
  EXPECT_EQ(brush->display, 2);
  r = r->next;
  ASSERT_NE(r, nullptr);
  auto* tag = static_cast<vlPluginTag*>(r->data);
  ASSERT_NE(tag, nullptr);
  EXPECT_STREQ(tag->key, "speed");
  EXPECT_EQ(tag->string, nullptr);
  EXPECT_EQ(tag->number, 1.5);
  ASSERT_NE(tag->next, nullptr);
  EXPECT_STREQ(tag->next->string, "fast");
  r = r->next;
  ASSERT_NE(r, nullptr);
  auto* menu = static_cast<vlMenuItem*>(r->data);
  ASSERT_NE(menu, nullptr);
  EXPECT_STREQ(menu->name, "File");
  EXPECT_EQ(menu->id, nullptr);
  ASSERT_NE(menu->children, nullptr);
  EXPECT_STREQ(menu->children->hotkey, "Q");
  EXPECT_EQ(menu->children->flags, 4u);
  ASSERT_NE(menu->next, nullptr);
  EXPECT_STREQ(menu->next->id, "help");
  r = r->next;
  ASSERT_NE(r, nullptr);
  auto* button = static_cast<vlButtonDecl*>(r->data);
  EXPECT_EQ(button->width, 30);
  r = r->next;
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->name, "Beware");
  EXPECT_EQ(r->next, nullptr);
}

TEST_F(Container, DisplayDeclarationAtRevisionSix) {
  ContainerBytes c;
  c.U8(2).U32(1).Decl(10, 2, 0, 0, 9);
  c.U32(0).U32(10).U32(20).U32(320).U32(200).U32(0xABCDEF).U32(0x402).U32(0).U32(0).U32(0);
  c.U32(1).U32(1).U32(0).U32(0).U32(50).U32(10);  // one drag region
  c.U32(0);
  c.Short("My window").U8(2).U32(0x123456).U16(45).U32(0).U32(0).U32(0);
  c.U8(3).U32(250000).U32(750000).U32(500000).U32(0).U8(1).U32(0xFF).U32(1000000);
  c.Short("").U8(1).U8(1).U8(1).U32(4).U8(2).U8(0).U16(1024).U16(768).U8(32).U8(1);
  c.U8(4).U32(9).U32(5).U32(6).U32(1).U32(2).U8(1).U8(1);
  c.Short(":0").Short("").Short("");
  c.Code("x");
  ASSERT_EQ(Read(c), 0);
  vlDisplayDecl* d = FindDisplayDecl(applet.preproc, 2);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->title, "My window");
  EXPECT_EQ(d->width, 320);
  EXPECT_EQ(d->flags, 0x402u);
  EXPECT_EQ(d->dragRegionCount, 1u);
  EXPECT_EQ(d->dragRegions[0].width, 50);
  EXPECT_EQ(d->fillStyle, 2u);
  EXPECT_EQ(d->gradient.startColor, 0xABCDEFu);
  EXPECT_EQ(d->gradient.endColor, 0x123456u);
  EXPECT_EQ(d->gradient.angle, 45);
  EXPECT_EQ(d->gradient.style, 3u);
  EXPECT_DOUBLE_EQ(d->gradient.centerX, 0.25);
  ASSERT_EQ(d->gradient.stopCount, 1u);
  EXPECT_DOUBLE_EQ(d->gradient.stops[0].position, 1.0);
  EXPECT_EQ(d->orientation, 1u);
  EXPECT_EQ(d->monitor, 1u);
  EXPECT_EQ(d->menu, 4);
  EXPECT_EQ(d->mode, 2);
  EXPECT_EQ(d->screenWidth, 1024);
  EXPECT_EQ(d->screenDepth, 32);
  EXPECT_EQ(d->backfill.type, 4);
  EXPECT_EQ(d->backfill.brush, 9);
  EXPECT_EQ(d->backfill.smoothScale, 1);
  EXPECT_EQ(d->backfill.hideTitleBar, 1);
  EXPECT_STREQ(d->xServer, ":0");
}

TEST_F(Container, IconDirectoryFillsMatchingSlots) {
  ContainerBytes c;
  c.Code("x").U8(0).U8(0).Raw("I").U8(0).U8(0);
  c.U16(32).U16(32).U8(3).U32(4).Raw("PNG1");
  c.U16(20).U16(20).U8(0).U32(2).Raw("zz");  // no slot of that size
  c.U16(16).U16(16).U8(0).U32(3).Raw("abc");
  c.U16(0);
  ASSERT_EQ(Read(c), 0);
  ASSERT_NE(vlIconSlotNames[9 + 2], nullptr);
  EXPECT_NE(std::string(vlIconSlotNames[11]).find(":::chunk"), std::string::npos);
  EXPECT_EQ(vlIconSlotFlags[11], 1u);
  ASSERT_NE(vlIconSlotNames[0], nullptr);
  EXPECT_EQ(vlIconSlotNames[2], nullptr);
}

TEST_F(Container, FilesOnDisk) {
  EXPECT_EQ(Load("/nonexistent/dir/x.vla"), ERR_FILEEXIST);
  EXPECT_STREQ(GetErrorArgument(), "/nonexistent/dir/x.vla");
  ContainerBytes wrong;
  wrong.b[2] = 'B';
  wrong.Code("x");
  EXPECT_EQ(Load(WriteFile(wrong.b, "vlb.vla")), ERR_NOAPPLET);
  EXPECT_NE(std::string(GetErrorArgument()).find("vlb.vla"), std::string::npos);
  EXPECT_EQ(vl::GetRegistryString(L, "script"), std::string(":none:"));
  ContainerBytes nonzero;
  nonzero.b[3] = 1;
  nonzero.Code("x");
  EXPECT_EQ(Load(WriteFile(nonzero.b, "vla1.vla")), ERR_NOAPPLET);
  ContainerBytes good;
  good.U8(11).Text("On disk").Code("CHUNK");
  ASSERT_EQ(Load(WriteFile(good.b)), 0);
  EXPECT_EQ(startup.containerFound, 1u);
  EXPECT_EQ(applet.containerRead, 1u);
  EXPECT_STREQ(applet.header[0], "On disk");
  EXPECT_EQ(applet.codeSize, 5u);
}

TEST_F(Container, CompressedContainerLeavesNoTemporaryFile) {
  ContainerBytes plain;
  plain.U8(11).Text("Packed").Code("PACKEDCHUNK");
  uLongf size = compressBound(plain.b.size());
  std::vector<uint8_t> packed(size);
  ASSERT_EQ(compress(packed.data(), &size, plain.b.data(), plain.b.size()), Z_OK);
  packed.resize(size);
  std::vector<uint8_t> vlz = {'V', 'L', 'Z', 0, 0, 0, 0, static_cast<uint8_t>(plain.b.size())};
  vlz.insert(vlz.end(), packed.begin(), packed.end());
  // The icons of a compressed container follow the packed data.
  for (int b : {0, int('I'), 0, 0, 0, 48, 0, 48, 0, 0, 0, 0, 1, int('Q'), 0, 0}) vlz.push_back(static_cast<uint8_t>(b));
  std::string path = WriteFile(vlz, "packed.vla");
  // The unpacked copy goes to a temporary directory of this test's own.
  std::string tempDir = std::string(testing::TempDir()) + "vlctr_tmp_XXXXXX";
  ASSERT_NE(mkdtemp(tempDir.data()), nullptr);
  std::string oldTempDir = GetTempDir();
  SetTempDir(tempDir.c_str());
  auto entries = [&] {
    int n = 0;
    if (DIR* d = opendir(tempDir.c_str())) {
      while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
      closedir(d);
    }
    return n;
  };
  ASSERT_EQ(Load(path), 0);
  SetTempDir(oldTempDir.c_str());
  EXPECT_STREQ(applet.header[0], "Packed");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(applet.code), applet.codeSize), "PACKEDCHUNK");
  // The applet keeps its own path (it finds its directory by it); only the
  // reads went to the unpacked copy.
  EXPECT_EQ(std::string(startup.scriptPath), path);
  EXPECT_EQ(entries(), 1);
  ASSERT_NE(vlIconSlotNames[3], nullptr);
  EXPECT_NE(std::string(vlIconSlotNames[3]).find(path), std::string::npos);
  RemoveTempNames();
  EXPECT_EQ(entries(), 0);
  rmdir(tempDir.c_str());
  // A corrupt stream is refused.
  vlz[12] ^= 0xFF;
  vlz[13] ^= 0xFF;
  std::snprintf(startup.scriptPath, sizeof startup.scriptPath, "%s", path.c_str());
  FreeContainerData(&applet);
  EXPECT_NE(Load(WriteFile(vlz, "corrupt.vla")), 0);
}

TEST_F(Container, HeaderPreReadStopsAtTheFirstOtherRecord) {
  ContainerBytes c;
  c.U8(10).U8(6).U8(1).U8(11).Text("Title").U8(29).U8(12).Raw("\xFF").Text("2.0").U8(34).Text("org.x");
  c.U8(13).Text("Author").U8(31).U8(14).Text("not reached").Code("x");
  c.Raw(std::string(5000, 'z'));  // more than the 2,048 bytes read
  ASSERT_EQ(PreReadContainerHeader(WriteFile(c.b, "head.vla").c_str(), &applet), 0);
  EXPECT_STREQ(applet.header[0], "Title");
  EXPECT_STREQ(applet.header[1], "$2.0");
  EXPECT_STREQ(applet.header[2], "Author");
  EXPECT_STREQ(applet.header[3], "");
  EXPECT_STREQ(applet.identifier, "org.x");
  // A text cut by the end of the bytes is not taken.
  vlAppletInfo cut{};
  const uint8_t bytes[] = {11, 'a', 'b', 0, 13, 'c', 'd'};
  WalkContainerHeader(bytes, sizeof bytes, &cut);
  EXPECT_STREQ(cut.header[0], "ab");
  EXPECT_STREQ(cut.header[2], "");
  // A compressed container is inflated only as far as the head needs.
  std::vector<uint8_t> big = c.b;
  uLongf size = compressBound(big.size());
  std::vector<uint8_t> packed(size);
  ASSERT_EQ(compress(packed.data(), &size, big.data(), big.size()), Z_OK);
  packed.resize(size);
  std::vector<uint8_t> vlz(8 + packed.size(), 0);
  std::memcpy(vlz.data(), "VLZ", 3);
  std::memcpy(vlz.data() + 8, packed.data(), packed.size());
  vlAppletInfo fromPacked{};
  ASSERT_EQ(PreReadContainerHeader(WriteFile(vlz, "headz.vla").c_str(), &fromPacked), 0);
  EXPECT_STREQ(fromPacked.header[2], "Author");
  EXPECT_STREQ(fromPacked.identifier, "org.x");
  // Corrupt packed data is an error.
  vlz[8] ^= 0xFF;
  vlz[9] ^= 0xFF;
  EXPECT_NE(PreReadContainerHeader(WriteFile(vlz, "headbad.vla").c_str(), &fromPacked), 0);
}

TEST_F(Container, ReadsWhatThePythonWriterWrites) {
  std::string out = WriteFile({}, "py.vla");
  std::string cmd = std::string("python3 ") + getenv("VL_SOURCE_DIR") + "/tests/tools/vla_writer.py " + out;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  ASSERT_EQ(Load(out), 0);
  EXPECT_STREQ(applet.header[0], "Python applet");
  EXPECT_EQ(applet.versionMajor, 6u);
  EXPECT_EQ(applet.versionMinor, 0u);
  EXPECT_EQ(vl::FindLabel(L, "start"), 3);
  vlLinkedFile* f = GetLinkedFiles();
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "data.txt");
  // The linked data is where the table says: read it back.
  std::ifstream in(out, std::ios::binary);
  in.seekg(f->offset);
  std::string data(f->length, 0);
  in.read(data.data(), f->length);
  EXPECT_EQ(data, "linked bytes");
  ASSERT_NE(applet.preproc, nullptr);
  EXPECT_EQ(applet.preproc->subtype, VL_PP_WARNING);
  EXPECT_STREQ(applet.preproc->name, "from python");
  EXPECT_EQ(applet.preproc->line, 42u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(applet.code), applet.codeSize), "main chunk bytes");
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "runtime/chunk_name.h"
#include "runtime/linked_files.h"

namespace {

class LinkedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    SetContainerBase(1000);
    SetRunningScriptPath("/apps/demo.vla");
    ASSERT_EQ(AddLinkedFile("intro.txt", "", 10, 5), 0);
    ASSERT_EQ(AddLinkedFile("GFX/Pic.PNG", "", 20, 300), 0);
    ASSERT_EQ(AddLinkedFile("gfx/pic.png", "", 999, 1), 0);  // a later duplicate loses
    ASSERT_EQ(AddLinkedFile("::font:sans", "/fonts/pack.vla", 400, 64), 0);
    ASSERT_EQ(AddLinkedFile("Sans.ttf", "", 500, 32), 0);
    ASSERT_EQ(AddLinkedFile("held.bin", "", 0xFFFFFFFFu, 7), 0);
  }
  void TearDown() override {
    FreeLinkedFiles();
    SetContainerBase(0);
    SetRunningScriptPath(nullptr);
  }
};

TEST_F(LinkedFiles, BackslashesAndCaseDoNotMatter) {
  int isFont = -1;
  std::string r = ResolveLinkedFile(nullptr, "gfx\\pic.png", 0, &isFont);
  EXPECT_EQ(r, ":::chunk1020:300*GFX/Pic.PNG?/apps/demo.vla");
  EXPECT_EQ(isFont, 0);
  EXPECT_EQ(std::string(ResolveLinkedFile(nullptr, "INTRO.TXT", 0, nullptr)), ":::chunk1010:5*intro.txt?/apps/demo.vla");
}

TEST_F(LinkedFiles, UnmatchedNamesComeBackUnchanged) {
  const char* name = "gfx/other.png";
  int isFont = -1;
  EXPECT_EQ(ResolveLinkedFile(nullptr, name, 0, &isFont), name);
  EXPECT_EQ(isFont, 0);
  // Font entries are not files, and files are not fonts.
  EXPECT_EQ(ResolveLinkedFile(nullptr, "::font:sans", 0, nullptr), std::string("::font:sans"));
  const char* intro = "intro.txt";
  EXPECT_EQ(ResolveLinkedFile(nullptr, intro, 1, nullptr), intro);
}

TEST_F(LinkedFiles, FontNames) {
  int isFont = 0;
  std::string r = ResolveLinkedFile(nullptr, "Sans.font", 1, &isFont);
  EXPECT_EQ(r, ":::chunk1400:64*sans?/fonts/pack.vla");
  EXPECT_EQ(isFont, 1);
  EXPECT_EQ(std::string(ResolveLinkedFile(nullptr, "SANS", 1, &isFont)), r);
  EXPECT_EQ(isFont, 1);
  r = ResolveLinkedFile(nullptr, "Sans.ttf", 1, &isFont);
  EXPECT_EQ(r, ":::chunk1500:32*Sans.ttf?/apps/demo.vla");
  EXPECT_EQ(isFont, 0);
}

TEST_F(LinkedFiles, MemoryHeldContainersUseTheMemoryForm) {
  SetContainerBase(12);  // the reference of the container's virtual file
  std::string r = ResolveLinkedFile(nullptr, "held.bin", 0, nullptr);
  EXPECT_EQ(r, ":::chunkS12:7*held.bin?");
}

TEST_F(LinkedFiles, ResolvedNamesParseBack) {
  std::string r = ResolveLinkedFile(nullptr, "gfx\\pic.png", 0, nullptr);
  uint64_t offset = 0, length = 0;
  char stored[64], path[64];
  ASSERT_EQ(ParseChunkName(r.c_str(), {&offset, &length, stored, sizeof stored, path, sizeof path, nullptr, 0, nullptr}),
            1);
  EXPECT_EQ(offset, 1020u);
  EXPECT_EQ(length, 300u);
  EXPECT_STREQ(stored, "GFX/Pic.PNG");
  EXPECT_STREQ(path, "/apps/demo.vla");
  EXPECT_STREQ(GetReadableFileName(r.c_str()), "Pic.PNG");
}

}  // namespace

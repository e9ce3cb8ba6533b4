// The current style blocks: defaults, and objects keeping the style they
// were made with.
#include <gtest/gtest.h>

#include <cstring>

#include "display/style_blocks.h"

namespace {

class StyleBlocks : public testing::Test {
 protected:
  void SetUp() override {
    savedDraw = vlCurrentDrawStyle;
    savedForm = vlCurrentFormStyle;
  }
  void TearDown() override {
    vlCurrentDrawStyle = savedDraw;
    vlCurrentFormStyle = savedForm;
  }
  vlDrawStyleBlock savedDraw;
  vlFormStyleBlock savedForm;
};

TEST_F(StyleBlocks, DrawBlockStartsWithFourOnes) {
  static_assert(sizeof(vlDrawStyleBlock) == 35 * 4 && sizeof(vlFormStyleBlock) == 268 * 4);
  for (int i = 0; i < 4; ++i) {
    double d;
    std::memcpy(&d, &vlCurrentDrawStyle.words[i * 2], sizeof d);
    EXPECT_EQ(d, 1.0) << i;
  }
  for (size_t i = 8; i < kDrawStyleWords; ++i) EXPECT_EQ(vlCurrentDrawStyle.words[i], 0u) << i;
}

TEST_F(StyleBlocks, ObjectsKeepTheStyleTheyWereMadeWith) {
  vlCurrentDrawStyle.words[34] = 0x11223344;
  vlCurrentFormStyle.words[267] = 0x80000000;
  vlObjectStyle before{};
  vlFormStyleBlock beforeForm{};
  InitObjectStyle(&before, &beforeForm, 10, 20, 7, 0);
  EXPECT_EQ(before.draw.words[34], 0x11223344u);
  EXPECT_EQ(beforeForm.words[267], 0x80000000u);
  EXPECT_EQ(before.sizeA, 10);
  EXPECT_EQ(before.sizeB, 20);
  EXPECT_EQ(before.value, 7u);
  // A later style change alters new objects only.
  vlCurrentDrawStyle.words[34] = 5;
  vlCurrentFormStyle.words[267] = 6;
  vlObjectStyle after{};
  after.value = 99;
  InitObjectStyle(&after, nullptr, -1, -2, 3, kKeepStyleValue);
  EXPECT_EQ(after.draw.words[34], 5u);
  EXPECT_EQ(after.value, 99u);
  EXPECT_EQ(after.sizeA, -1);
  EXPECT_EQ(before.draw.words[34], 0x11223344u);
  EXPECT_EQ(beforeForm.words[267], 0x80000000u);
  vlFormStyleBlock form{};
  CopyFormStyleBlock(&form);
  EXPECT_EQ(std::memcmp(&form, &vlCurrentFormStyle, sizeof form), 0);
}

}  // namespace

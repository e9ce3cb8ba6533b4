// Case folding, character classes and the small text helpers.
#include "vm/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(Folding, LatinOneWordsCompareEqual) {
  // "Äpfel" and "äPFEL" in ISO 8859-1.
  EXPECT_EQ(CompareNoCase("\xC4pfel", "\xE4PFEL"), 0);
  EXPECT_EQ(CompareNoCase("MODE_READ", "mode_read"), 0);
  EXPECT_EQ(CompareNoCase("\xDE", "\xFE"), 0xDE - 0xFE);  // thorn does not fold
  EXPECT_NE(CompareNoCase("\xFF", "\xDF"), 0);
  EXPECT_NE(CompareNoCase("\xD7", "\xF7"), 0);  // multiplication vs division sign
  const char* same = "x";
  EXPECT_EQ(CompareNoCase(same, same), 0);
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("abcd", "ABC"), 0);
  EXPECT_EQ(CompareNoCase("abc", "abcd"), -'D');
  EXPECT_EQ(CompareNoCaseN("abcX", "ABCy", 3), 0);
  EXPECT_NE(CompareNoCaseN("abcX", "ABCy", 4), 0);
  EXPECT_EQ(CompareNoCaseN("ab", "AB", 10), 0);
  EXPECT_NE(CompareNoCaseN("ab", "ABC", 10), 0);
}

TEST(Folding, TablesFoldOnlyTheirPartners) {
  for (int c = 0; c < 256; ++c) {
    int lo = vlLowerCaseTable[c], up = vlUpperCaseTable[c];
    bool upperLetter = (c >= 'A' && c <= 'Z') || (c >= 192 && c <= 221 && c != 215);
    bool lowerLetter = (c >= 'a' && c <= 'z') || (c >= 224 && c <= 253 && c != 247);
    EXPECT_EQ(lo, upperLetter ? c + 32 : c) << c;
    EXPECT_EQ(up, lowerLetter ? c - 32 : c) << c;
    if (upperLetter) {
      EXPECT_EQ(vlUpperCaseTable[lo], c) << c;  // round trip
    }
  }
  EXPECT_EQ(FoldUpper(0x1E9E), 0x1E9E);
  EXPECT_EQ(FoldLower(-1), -1);
  EXPECT_EQ(FoldLower(300), 300);
}

TEST(Folding, LowerCaseStringInPlace) {
  char text[] = "DisplayBrush \xC0\xDE\xD7!";
  EXPECT_EQ(LowerCaseString(text), text);
  EXPECT_STREQ(text, "displaybrush \xE0\xDE\xD7!");
  EXPECT_EQ(LowerCaseString(nullptr), nullptr);
}

TEST(CharClasses, LatinOneLettersAndVisibleCharacters) {
  EXPECT_EQ(IsLetterChar(215), 1);
  EXPECT_EQ(IsLetterChar(247), 0);
  EXPECT_EQ(IsLetterChar(255), 1);
  EXPECT_EQ(IsLetterChar('_'), 0);
  EXPECT_EQ(IsLetterChar(256), 0);
  EXPECT_EQ(IsLetterChar(-1), 0);
  EXPECT_EQ(IsAlnumChar('7'), 1);
  EXPECT_EQ(IsAlnumChar(0xE9), 1);
  EXPECT_EQ(IsAlnumChar(' '), 0);
  EXPECT_EQ(IsAlnumChar(1000), 0);
  int visible = 0;
  for (int c = 0; c < 256; ++c) visible += IsGraphChar(c);
  EXPECT_EQ(visible, (126 - 33 + 1) + (255 - 161 + 1));
  EXPECT_EQ(IsGraphChar(' '), 0);
  EXPECT_EQ(IsGraphChar(160), 0);  // no-break space
  EXPECT_EQ(IsGraphChar(127), 0);
  EXPECT_EQ(IsGraphChar(0x10000), 0);
}

TEST(TextHelpers, EscapePercentDoublesEverySign) {
  char* e = EscapePercent("100% of %s");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e, "100%% of %%s");
  std::free(e);
  e = EscapePercent("%");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e, "%%");
  std::free(e);
  EXPECT_EQ(EscapePercent("plain"), nullptr);
  EXPECT_EQ(EscapePercent(""), nullptr);
  EXPECT_EQ(EscapePercent(nullptr), nullptr);
}

TEST(TextHelpers, FindLowestBit) {
  int index = -1;
  EXPECT_FALSE(FindLowestBit(0, &index));
  EXPECT_EQ(index, 32);
  for (int b = 0; b < 32; ++b) {
    EXPECT_TRUE(FindLowestBit((1u << b) | 0x80000000u, &index));
    EXPECT_EQ(index, b);
  }
}

TEST(TextHelpers, FindObjectDataItemBySameOrFoldedKey) {
  std::string shared = "Name";
  vlKeyedNode c{nullptr, "other"};
  vlKeyedNode b{&c, shared.c_str()};
  vlKeyedNode a{&b, "color"};
  EXPECT_EQ(FindObjectDataItem(&a, shared.c_str()), &b);
  EXPECT_EQ(FindObjectDataItem(&a, "NAME"), &b);
  EXPECT_EQ(FindObjectDataItem(&a, "OTHER"), &c);
  EXPECT_EQ(FindObjectDataItem(&a, "missing"), nullptr);
  EXPECT_EQ(FindObjectDataItem(nullptr, "x"), nullptr);
}

}  // namespace

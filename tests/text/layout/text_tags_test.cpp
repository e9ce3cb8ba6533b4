// The inline tag language: escapes, style tags, colour stack, effect tags
// and their limits, and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/text_tags.h"

namespace {

vlTextSettings Base() {
  vlTextSettings s{};
  s.style = VL_STYLE_NORMAL;
  s.color = 0xFFFFFF;
  s.edgeColor = 0x0093DD;
  s.shadowSize = 4;
  s.shadowDirection = 3;
  s.edgeSize = 2;
  return s;
}

int Split(const std::string& text, std::vector<vlStyledSpan>* spans, bool literal = false,
          vlTextSettings base = Base()) {
  spans->clear();
  return SplitTaggedText(nullptr, text.data(), text.size(), literal, base, spans);
}

std::string Joined(const std::vector<vlStyledSpan>& spans) {
  std::string all;
  for (const auto& s : spans) all += s.text;
  return all;
}

TEST(TextTags, EscapesAndStyleRuns) {
  std::vector<vlStyledSpan> spans;
  ASSERT_EQ(Split("a[[b]]c", &spans), 0);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].text, "a[b]c");

  ASSERT_EQ(Split("x [B]bold[/b] y", &spans), 0);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[0].text, "x ");
  EXPECT_EQ(spans[1].text, "bold");
  EXPECT_EQ(spans[1].style.style, VL_STYLE_NORMAL | VL_STYLE_BOLD);
  EXPECT_EQ(spans[2].style.style, VL_STYLE_NORMAL);

  ASSERT_EQ(Split("[ / i ]a[ i ]b[u]c", &spans), 0);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[1].style.style, VL_STYLE_NORMAL | VL_STYLE_ITALIC);
  EXPECT_EQ(spans[2].style.style, VL_STYLE_NORMAL | VL_STYLE_ITALIC | VL_STYLE_UNDERLINED);

  // Literal: every bracket is text, doubled ones too.
  ASSERT_EQ(Split("[b]x[[y]]", &spans, true), 0);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].text, "[b]x[[y]]");
}

TEST(TextTags, ColourStack) {
  std::vector<vlStyledSpan> spans;
  ASSERT_EQ(Split("a[color=$FF0000]b[color=255]c[/color]d[/color]e", &spans), 0);
  ASSERT_EQ(Joined(spans), "abcde");
  ASSERT_EQ(spans.size(), 5u);
  EXPECT_EQ(spans[1].style.color, 0xFF0000u);
  EXPECT_EQ(spans[2].style.color, 255u);
  EXPECT_EQ(spans[3].style.color, 0xFF0000u);
  EXPECT_EQ(spans[4].style.color, 0xFFFFFFu);
  EXPECT_EQ(Split("[color=1]a[/color][/color]", &spans), 1252);
  EXPECT_EQ(Split("[color]a", &spans), 1253);
  EXPECT_EQ(Split("[color=\"red\"]a", &spans), 1024);
}

TEST(TextTags, EffectTags) {
  std::vector<vlStyledSpan> spans;
  ASSERT_EQ(Split("[shadow=$00FF00,3,6]x", &spans), 0);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_TRUE(spans[0].style.style & VL_STYLE_SHADOW);
  EXPECT_EQ(spans[0].style.shadowColor, 0x00FF00u);
  EXPECT_EQ(spans[0].style.shadowSize, 3);
  EXPECT_EQ(spans[0].style.shadowDirection, 6);
  // Without '=' the current shadow settings stay.
  ASSERT_EQ(Split("[shadow]x[/shadow]y", &spans), 0);
  EXPECT_EQ(spans[0].style.shadowSize, 4);
  EXPECT_FALSE(spans[1].style.style & VL_STYLE_SHADOW);
  EXPECT_EQ(Split("[shadow=0,65]x", &spans), 1055);
  EXPECT_EQ(Split("[shadow=0,0]x", &spans), 1055);
  ASSERT_EQ(Split("[edge=$123456,8]x", &spans), 0);
  EXPECT_EQ(spans[0].style.edgeSize, 8);
  EXPECT_EQ(spans[0].style.edgeColor, 0x123456u);
  EXPECT_EQ(Split("[edge=0,9]x", &spans), 1055);
  // Only a colour: the current edge size must fit the tag's limit.
  vlTextSettings wide = Base();
  wide.edgeSize = 20;
  EXPECT_EQ(Split("[edge=5]x", &spans, false, wide), 1055);
  EXPECT_EQ(Split("[edge=5]x", &spans), 0);
}

TEST(TextTags, Errors) {
  std::vector<vlStyledSpan> spans;
  EXPECT_EQ(Split("a]b", &spans), 1252);
  EXPECT_EQ(Split("[bx]a", &spans), 1251);
  EXPECT_EQ(Split("[big]a", &spans), 1251);
  EXPECT_EQ(Split("[b", &spans), 1108);
  EXPECT_EQ(Split("[", &spans), 1108);
  EXPECT_EQ(Split("[color=5", &spans), 1108);
  EXPECT_EQ(Split("[shadow=1,2,", &spans), 1108);
  EXPECT_EQ(Split("[   ", &spans), 1108);
  // Constants need a script.
  EXPECT_EQ(Split("[color=#RED]a", &spans), 1055);
}

TEST(TextTags, HugeNumbersAreClampedNotUndefined) {
  std::vector<vlStyledSpan> spans;
  EXPECT_EQ(Split("[shadow=1,1e300]x", &spans), 1055);
  EXPECT_EQ(Split("[shadow=1,-1e300]x", &spans), 1055);
  EXPECT_EQ(Split("[edge=1,nan]x", &spans), 1055);
  ASSERT_EQ(Split("[color=1e300]x[color=99999999999999999999]y", &spans), 0);
  ASSERT_EQ(Split("[color=" + std::string(5000, '9') + "]x", &spans), 0);
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "[color=1]";
  for (int i = 0; i < 10000; ++i) deep += "[/color]";
  EXPECT_EQ(Split(deep + "x", &spans), 0);
  EXPECT_EQ(spans.back().style.color, 0xFFFFFFu);
}

}  // namespace

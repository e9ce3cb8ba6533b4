// The searching, splitting, case-mapping and formatting commands on texts
// of every length around the sizes their scans work in (8, 16, 64 bytes and
// the split's batches of 64 pieces), with separators and needles at the
// edges, zero bytes and high bytes: each result against one computed here
// byte by byte, or against the formatter's general way of the same
// directive.
#include <random>

#include "vm/text.h"
#include "tests/libraries/string/string_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::StringLibrary;

std::string RandomText(std::mt19937& rng, size_t length, const std::string& alphabet) {
  std::string s;
  for (size_t i = 0; i < length; ++i) s += alphabet[rng() % alphabet.size()];
  return s;
}

std::vector<std::string> Pieces(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep) out.emplace_back();
    else out.back() += c;
  }
  return out;
}

size_t Count(const std::string& s, const std::string& sub, size_t from) {
  size_t n = 0;
  for (size_t at = s.find(sub, from); from < s.size() && at != std::string::npos; at = s.find(sub, at + sub.size())) ++n;
  return n;
}

std::string Folded(std::string s) {
  for (char& c : s) c = static_cast<char>(vlLowerCaseTable[static_cast<unsigned char>(c)]);
  return s;
}

// Occurrences are looked for in the folded texts when case does not count.
std::string Replace(const std::string& s, const std::string& find, const std::string& repl, size_t from,
                    bool caseSensitive = true) {
  if (from >= s.size()) return s;
  std::string text = caseSensitive ? s : Folded(s), needle = caseSensitive ? find : Folded(find);
  std::string out = s.substr(0, from);
  for (size_t at; (at = text.find(needle, from)) != std::string::npos; from = at + find.size()) out += s.substr(from, at - from) + repl;
  return out + s.substr(from);
}

TEST_F(StringLibrary, SplitFindCountReplaceOnTextsOfEveryShortLength) {
  std::mt19937 rng(23);
  const std::string alphabet = std::string("aB;;\xE9\xC9", 6) + std::string(1, '\0');
  for (size_t length = 0; length <= 90; ++length) {
    std::string text = RandomText(rng, length, alphabet);
    // Separators and needles at the very first and last bytes too.
    if (length > 2 && length % 3 == 0) text.front() = text.back() = ';';
    std::string needle = length ? text.substr(rng() % length, 1 + rng() % 3) : "a;";
    size_t start = length ? rng() % length : 0;
    std::string repl = rng() % 2 ? "" : "<>";
    std::string body = ".call splitstr " + Q(text) + " \";\" -> t n\n";
    for (size_t from = 0; from <= length; ++from)
      body += ".call findstr " + Q(text) + " " + Q(needle) + " 1 " + std::to_string(from) + " -> f" + std::to_string(from) + "\n";
    body += ".call countstr " + Q(text) + " " + Q(needle) + " 1 " + std::to_string(start) + " -> c\n";
    body += ".call replacestr " + Q(text) + " " + Q(needle) + " " + Q(repl) + " 1 " + std::to_string(start) + " -> r\n";
    std::string other = Folded(needle) == needle ? needle : Folded(needle);  // another case of the needle
    for (char& c : other) c = c == 'a' ? 'A' : c;
    body += ".call findstr " + Q(text) + " " + Q(other) + " 0 " + std::to_string(start) + " -> fi\n";
    body += ".call countstr " + Q(text) + " " + Q(other) + " 0 " + std::to_string(start) + " -> ci\n";
    body += ".call replacestr " + Q(text) + " " + Q(other) + " " + Q(repl) + " 0 " + std::to_string(start) + " -> ri\n";
    ASSERT_EQ(Run(body), 0) << length;

    std::vector<std::string> pieces = Pieces(text, ';');
    ASSERT_EQ(Num("n"), static_cast<double>(pieces.size())) << length;
    for (size_t i = 0; i < pieces.size(); ++i) EXPECT_EQ(EntryStr("t", static_cast<int64_t>(i)), pieces[i]) << length;
    EXPECT_EQ(Entry("t", static_cast<int64_t>(pieces.size()))->tag, VL_TNIL);
    for (size_t from = 0; from <= length; ++from) {
      size_t at = from < length ? text.find(needle, from) : std::string::npos;
      double expected = at == std::string::npos ? -1 : static_cast<double>(at);
      std::string name = "f";
      name += std::to_string(from);
      EXPECT_EQ(Num(name.c_str()), expected) << length << " from " << from;
    }
    EXPECT_EQ(Num("c"), static_cast<double>(Count(text, needle, start))) << length;
    EXPECT_EQ(Str("r"), Replace(text, needle, repl, start)) << length;
    size_t at = Folded(text).find(Folded(other), start);
    EXPECT_EQ(Num("fi"), at == std::string::npos ? -1 : static_cast<double>(at)) << length;
    EXPECT_EQ(Num("ci"), static_cast<double>(Count(Folded(text), Folded(other), start))) << length;
    EXPECT_EQ(Str("ri"), Replace(text, other, repl, start, false)) << length;
  }
}

// Numbers stand for their texts; without a match the text comes back as
// a string.
TEST_F(StringLibrary, SearchesTakeNumbersAsTexts) {
  ASSERT_EQ(Run(".call replacestr 12345 9 \"x\" -> a\n.call replacestr 12345 34 5 -> b\n"
                ".call findstr 1.5 5 -> c\n.call countstr 1e+20 0 1 2 -> d\n.call splitstr 10.25 \".\" -> t n"), 0);
  EXPECT_EQ(Tag("a"), VL_TSTRING);
  EXPECT_EQ(Str("a"), "12345");
  EXPECT_EQ(Str("b"), "1255");
  EXPECT_EQ(Num("c"), 2);
  EXPECT_EQ(Num("d"), 1);  // in "1e+20" from byte 2
  EXPECT_EQ(Num("n"), 2);
  EXPECT_EQ(EntryStr("t", 1), "25");
}

// Piece counts around the split's batches: 63 to 65 and 127 to 129 pieces.
TEST_F(StringLibrary, SplitStrAroundItsBatchSizes) {
  for (size_t count : {63u, 64u, 65u, 66u, 127u, 128u, 129u}) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
      if (i) text += ',';
      text.append(i % 3, static_cast<char>('a' + i % 26));
    }
    ASSERT_EQ(Call("splitstr", Q(text) + " \",\"", 2), 0);
    ASSERT_EQ(Num("r2"), static_cast<double>(count));
    for (size_t i = 0; i < count; ++i)
      EXPECT_EQ(EntryStr("r", static_cast<int64_t>(i)), std::string(i % 3, static_cast<char>('a' + i % 26))) << count;
    EXPECT_EQ(Entry("r", static_cast<int64_t>(count))->tag, VL_TNIL);
  }
}

TEST_F(StringLibrary, CaseMappingOfShortMixedTexts) {
  std::mt19937 rng(7);
  const std::string alphabet = "aZmQ09 ,\xC4\xE4\xDE\xFF\xD7";
  for (size_t length = 0; length <= 70; ++length) {
    for (int round = 0; round < 3; ++round) {
      std::string text = RandomText(rng, length, round == 0 ? "aZmQ09 ," : alphabet);
      ASSERT_EQ(Run(".call lowerstr " + Q(text) + " -> lo\n.call upperstr " + Q(text) + " -> up"), 0);
      std::string lower = text, upper = text;
      for (char& c : lower) c = static_cast<char>(vlLowerCaseTable[static_cast<unsigned char>(c)]);
      for (char& c : upper) c = static_cast<char>(vlUpperCaseTable[static_cast<unsigned char>(c)]);
      EXPECT_EQ(Str("lo"), lower) << length;
      EXPECT_EQ(Str("up"), upper) << length;
    }
  }
}

// "%s", "%d" and "%i" take a direct way; with a "-" flag (which changes
// nothing without a width) the same directives go through sprintf.
TEST_F(StringLibrary, PlainDirectivesAgreeWithTheGeneralWay) {
  const char* numbers[] = {"0", "-0", "1", "-1", "3.99", "-3.99", "2147483647", "2147483648", "-2147483648",
                           "-2147483649", "4294967295", "4294967296", "1e20", "-1e20", "0.5", "\"12\"", "\" 7\"",
                           "9", "10", "-99", "100", "99999", "100000", "-999999", "999999999", "1000000000",
                           "-1000000000"};
  for (const char* n : numbers) {
    ASSERT_EQ(Run(".call formatstr \"%d|%i|%s\" " + std::string(n) + " " + n + " " + n + " -> a\n"
                  ".call formatstr \"%-d|%-i|%-s\" " + n + " " + n + " " + n + " -> b"), 0) << n;
    EXPECT_EQ(Str("a"), Str("b")) << n;
  }
  std::mt19937 rng(11);
  // Integers of every digit count and sign, in one call each way.
  std::string plain, flagged, args;
  for (int i = 0; i < 60; ++i) {
    int32_t v = static_cast<int32_t>(rng()) >> (i % 31);
    plain += "%d,";
    flagged += "%-d,";
    args.append(" ").append(std::to_string(v));
  }
  ASSERT_EQ(Run(".call formatstr " + Q(plain) + args + " -> a\n.call formatstr " + Q(flagged) + args + " -> b"), 0);
  EXPECT_EQ(Str("a"), Str("b"));
  for (size_t length = 0; length <= 120; ++length) {
    std::string s = RandomText(rng, length, "xyz%");
    if (length && length % 4 == 0) s[rng() % length] = '\0';
    ASSERT_EQ(Run(".call formatstr \"<%s>\" " + Q(s) + " -> a\n.call formatstr \"<%-s>\" " + Q(s) + " -> b"), 0);
    // Short strings end at their first zero byte, long ones stay whole.
    std::string expected = length < 100 ? s.substr(0, s.find('\0')) : s;
    EXPECT_EQ(Str("a"), "<" + expected + ">") << length;
    EXPECT_EQ(Str("b"), Str("a")) << length;
  }
  // Literal runs of every length before, between and after directives.
  for (size_t length = 0; length <= 80; ++length) {
    std::string lit = RandomText(rng, length, std::string("ab\0\xE9", 4));
    EXPECT_EQ(CallStr("formatstr", Q(lit + "%d" + lit + "%%" + lit) + " 5"), lit + "5" + lit + "%" + lit) << length;
  }
  EXPECT_EQ(Call("formatstr", "\"%\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("formatstr", "\"ab%s\""), ERR_STREXPECTED);
  EXPECT_EQ(Call("formatstr", "\"ab%d\" \"x\""), ERR_NUMEXPECTED);
  EXPECT_EQ(Call("formatstr", Q(std::string("%\0", 2))), ERR_WRONGUSAGE);
}

}  // namespace

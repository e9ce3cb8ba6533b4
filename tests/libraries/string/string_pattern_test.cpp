// The pattern commands from assembled scripts: classes (the ASCII ones
// against python3's), sets, quantifiers, anchors, captures, balanced runs,
// frontiers, the iterator, replacement, and every pattern error including
// the nesting limit.
#include <sstream>

#include "tests/libraries/string/string_test_util.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

using vltest::StringLibrary;

class Patterns : public StringLibrary {
 protected:
  // PatternFindStrShort's first result for subject and pattern.
  std::string Short(const std::string& s, const std::string& p) {
    int status = Call("patternfindstrshort", Q(s) + " " + Q(p));
    if (status) return "error " + std::to_string(status);
    return Tag("r") == VL_TNUMBER ? std::to_string(static_cast<int>(Num("r"))) : Str("r");
  }
  // PatternReplaceStr's string and count as "text/count".
  std::string Replace(const std::string& s, const std::string& p, const std::string& replacement,
                      const std::string& max = "") {
    int status = Call("patternreplacestr", Q(s) + " " + Q(p) + " " + replacement + " " + max, 2);
    if (status) return "error " + std::to_string(status);
    return Str("r") + "/" + std::to_string(static_cast<int>(Num("r2")));
  }
};

TEST_F(Patterns, FirstMatchWithPositionsAndCaptures) {
  ASSERT_EQ(Call("patternfindstrdirect", "\"hello world\" \"%w+\" 6", 3), 0);
  EXPECT_EQ(Num("r"), 6);
  EXPECT_EQ(Num("r2"), 10);
  EXPECT_EQ(Tag("r3"), VL_TNIL);
  ASSERT_EQ(Call("patternfindstrdirect", "\"hello world\" \"(o)(r)\"", 4), 0);
  EXPECT_EQ(Num("r"), 7);
  EXPECT_EQ(Num("r2"), 8);
  EXPECT_EQ(Str("r3"), "o");
  EXPECT_EQ(Str("r4"), "r");
  // An empty match ends one before its start.
  ASSERT_EQ(Call("patternfindstrdirect", "\"abc\" \"x*\" 2", 2), 0);
  EXPECT_EQ(Num("r"), 2);
  EXPECT_EQ(Num("r2"), 1);
  ASSERT_EQ(Call("patternfindstrshort", "\"key=val\" \"(%w+)=(%w+)\"", 2), 0);
  EXPECT_EQ(Str("r"), "key");
  EXPECT_EQ(Str("r2"), "val");
  EXPECT_EQ(Short("key=val", "%d"), "-1");
  ASSERT_EQ(Call("patternfindstrdirect", "\"abc\" \"%d\"", 2), 0);
  EXPECT_EQ(Num("r"), -1);
  EXPECT_EQ(Tag("r2"), VL_TNIL);
  EXPECT_EQ(Short("abc", "()"), "1");
  EXPECT_EQ(Short("abc", "b()"), "3");
  EXPECT_EQ(Short("f(a(b)c)d", "%b()"), "(a(b)c)");
  EXPECT_EQ(Short("f(a(b)c", "%b()"), "(b)");
  EXPECT_EQ(Short("f(a(bc", "%b()"), "-1");
  EXPECT_EQ(Short("xaax", "%baa"), "aa");
  EXPECT_EQ(Call("patternfindstrshort", "\"abc\" \"b\" 4"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("patternfindstrshort", "\"abc\" \"b\" -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("patternfindstrshort", "\"abc\" \"$\" 3"), 0);
  EXPECT_EQ(Str("r"), "");
}

TEST_F(Patterns, QuantifiersAnchorsSetsAndFrontiers) {
  EXPECT_EQ(Short("<a><b>", "<(.-)>"), "a");
  EXPECT_EQ(Short("<a><b>", "<(.*)>"), "a><b");
  EXPECT_EQ(Short("color colour", "colou?r"), "color");
  EXPECT_EQ(Short("xcolour", "colou?r"), "colour");
  EXPECT_EQ(Short("aaa", "a+"), "aaa");
  EXPECT_EQ(Short("baaa", "^a+"), "-1");
  EXPECT_EQ(Short("abc", "c$"), "c");
  EXPECT_EQ(Short("abca", "a$"), "a");
  EXPECT_EQ(Short("a$b", "$b"), "$b");
  EXPECT_EQ(Short("x-1_", "[%d_-]+"), "-1_");
  EXPECT_EQ(Short("abcdef", "[^a-c]+"), "def");
  EXPECT_EQ(Short("a]b", "[]]"), "]");
  EXPECT_EQ(Short("]]ab", "[^]]+"), "ab");
  EXPECT_EQ(Short("b-a", "[a-]+"), "-a");
  EXPECT_EQ(Short("50%", "%d+%%"), "50%");
  EXPECT_EQ(Short("a.b", "%."), ".");
  EXPECT_EQ(Short("say \"hi\" 'x'", "([\"'])(.-)%1"), "\"");
  EXPECT_EQ(Short("THE (quick) fox", "%f[%a]%a+"), "THE");
  EXPECT_EQ(Replace("THE (quick) fox", "%f[%a]%a+", "\"W\""), "W (W) W/3");
  EXPECT_EQ(Replace("THE (quick) fox", "%f[%A]", "\"|\""), "THE| (quick|) fox|/3");
  EXPECT_EQ(Short(std::string("a\0b", 3), "%z"), std::string("\0", 1));
  EXPECT_EQ(Short("caf\xE9!", "%a+"), "caf\xE9");
  EXPECT_EQ(Short("\xF7x", "%a"), "x");
}

TEST_F(Patterns, AsciiClassesMatchPython) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string py =
      "import string\n"
      "cls={'c':lambda c:c<32 or c==127,'d':lambda c:chr(c) in string.digits,"
      "'l':lambda c:chr(c) in string.ascii_lowercase,'p':lambda c:chr(c) in string.punctuation,"
      "'s':lambda c:chr(c) in string.whitespace,'u':lambda c:chr(c) in string.ascii_uppercase,"
      "'x':lambda c:chr(c) in string.hexdigits}\n"
      "for k in 'cdlpsux':\n"
      "  print(k, sum(1 for c in range(1,256) if cls[k](c)), ''.join('%02x'%c for c in range(1,256) if cls[k](c)))\n";
  std::istringstream expected(vltest::RunPython(py));
  std::string letter, hex;
  int count;
  while (expected >> letter >> count >> hex) {
    std::string members;
    for (size_t i = 0; i < hex.size(); i += 2) members += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    ASSERT_EQ(Call("patternreplacestr", Q(all) + " " + Q("[^%" + letter + "]") + " \"\"", 2), 0);
    EXPECT_EQ(Str("r"), members) << letter;
    ASSERT_EQ(Call("patternreplacestr", Q(all) + " " + Q("%" + letter) + " \"\"", 2), 0);
    EXPECT_EQ(Num("r2"), count) << letter;
    std::string upper = {'%', static_cast<char>(letter[0] - 32)};
    ASSERT_EQ(Call("patternreplacestr", Q(all) + " " + Q(upper) + " \"\"", 2), 0);
    EXPECT_EQ(Str("r"), members) << upper;
  }
  // Letters take in the ISO 8859-1 letters, all but the division sign.
  ASSERT_EQ(Call("patternreplacestr", Q(all) + " \"%a\" \"\"", 2), 0);
  EXPECT_EQ(Num("r2"), 52 + 63);
  ASSERT_EQ(Call("patternreplacestr", Q(all) + " \"%w\" \"\"", 2), 0);
  EXPECT_EQ(Num("r2"), 62 + 63);
}

TEST_F(Patterns, IteratorWalksEveryMatch) {
  ASSERT_EQ(Run(".call patternfindstr \"one two three\" \"%a+\" -> it\n"
                ".call it -> a\n.call it -> b\n.call it -> c\n.call it -> d"),
            0);
  EXPECT_EQ(Str("a"), "one");
  EXPECT_EQ(Str("b"), "two");
  EXPECT_EQ(Str("c"), "three");
  EXPECT_EQ(Tag("d"), VL_TNIL);
  ASSERT_EQ(Run(".call patternfindstr \"ab\" \"x*\" -> it\n"
                ".call it -> a\n.call it -> b\n.call it -> c\n.call it -> d"),
            0);
  EXPECT_EQ(Str("a"), "");
  EXPECT_EQ(Str("b"), "");
  EXPECT_EQ(Str("c"), "");
  EXPECT_EQ(Tag("d"), VL_TNIL);
  // Captures come back one per result; "^" is an ordinary byte here.
  ASSERT_EQ(Run(".call patternfindstr \"k1=v1, k2=v2\" \"(%w+)=(%w+)\" -> it\n"
                ".call it -> k1 v1\n.call it -> k2 v2\n"
                ".call patternfindstr \"a^b\" \"^b\" -> it2\n.call it2 -> caret"),
            0);
  EXPECT_EQ(Str("k2"), "k2");
  EXPECT_EQ(Str("v2"), "v2");
  EXPECT_EQ(Str("caret"), "^b");
}

TEST_F(Patterns, ReplacementByStringNumberAndFunction) {
  EXPECT_EQ(Replace("hello world", "o", "\"0\""), "hell0 w0rld/2");
  EXPECT_EQ(Replace("hello world", "o", "\"0\"", "1"), "hell0 world/1");
  EXPECT_EQ(Replace("hello world", "o", "\"0\"", "0"), "hello world/0");
  EXPECT_EQ(Replace("hello", "l", "7"), "he77o/2");
  EXPECT_EQ(Replace("abc", "(b)", "\"[%1]\""), "a[b]c/1");
  EXPECT_EQ(Replace("abc", "b", "\"%%%x\""), "a%xc/1");
  EXPECT_EQ(Replace("abc", "b()", "\"<%1>\""), "a<3>c/1");
  EXPECT_EQ(Replace("ab", "x*", "\"-\""), "-a-b-/3");
  EXPECT_EQ(Replace("aaa", "^a", "\"X\""), "Xaa/1");
  EXPECT_EQ(Replace("baa", "^a", "\"X\""), "baa/0");
  EXPECT_EQ(Replace("abc", "b", "\"%0\""), "error 1461");
  EXPECT_EQ(Replace("abc", "b", "\"%1\""), "error 1461");
  EXPECT_EQ(Replace("abc", "(b)", "\"%2\""), "error 1461");
  EXPECT_EQ(Replace("abc", "b", "{ }"), "error " + std::to_string(ERR_WRONGUSAGE));
  // A function gets the captures (or the match); strings and numbers are
  // appended, anything else deletes the match.
  ASSERT_EQ(Run(".function up\n .params 1\n .call base=1 upperstr r0 -> last\n getglobal 1 \"last\"\n return 1 2\n.end\n"
                ".function drop\n .params 1\n ret\n.end\n"
                ".function pair\n .params 2\n .call base=2 addstr r1 r0 -> sw\n getglobal 2 \"sw\"\n return 2 2\n.end\n"
                ".defun Up up\n.defun Drop drop\n.defun Pair pair\n"
                ".call patternreplacestr \"one two\" \"%a+\" $Up -> a na\n"
                ".call patternreplacestr \"hello world\" \"o\" $Drop -> b nb\n"
                ".call patternreplacestr \"ab cd\" \"(%a)(%a)\" $Pair -> c nc"),
            0);
  EXPECT_EQ(Str("a"), "ONE TWO");
  EXPECT_EQ(Num("na"), 2);
  EXPECT_EQ(Str("b"), "hell wrld");
  EXPECT_EQ(Num("nb"), 2);
  EXPECT_EQ(Str("c"), "ba dc");
  // An error inside the function stops the replacement with its code.
  ASSERT_EQ(Run(".function bad\n .params 1\n .call base=1 leftstr r0\n ret\n.end\n.defun Bad bad\n"
                ".call patternreplacestr \"abc\" \"b\" $Bad -> x"),
            ERR_MISSINGPARAMTR);
}

TEST_F(Patterns, PatternErrorsAreRaised) {
  EXPECT_EQ(Short("abc", "%"), "error 1463");
  EXPECT_EQ(Short("abc", "[a"), "error 1464");
  EXPECT_EQ(Short("abc", "[%"), "error 1464");
  EXPECT_EQ(Short("abc", "%b("), "error 1465");
  EXPECT_EQ(Short("abc", "%fa"), "error 1467");
  // The whole pattern is checked before matching: errors past the point
  // where a match fails are raised too, by every pattern command.
  EXPECT_EQ(Short("abc", "x%"), "error 1463");
  EXPECT_EQ(Short("abc", "x[a"), "error 1464");
  EXPECT_EQ(Short("abc", "x%b("), "error 1465");
  EXPECT_EQ(Short("abc", "x%fa"), "error 1467");
  EXPECT_EQ(Short("abc", "x)"), "error " + std::to_string(ERR_INVPATCAP));
  EXPECT_EQ(Run(".call patternreplacestr \"abc\" \"x%\" \"y\""), 1463);
  EXPECT_EQ(Run(".call patternfindstr \"abc\" \"x[\""), 1464);
  char text[256];
  GetErrorText(1463, text, sizeof text);
  EXPECT_STREQ(text, "Malformed pattern! (ends with \"%\")");
  GetErrorText(1467, text, sizeof text);
  EXPECT_STREQ(text, "Missing \"[\" after \"%f\" in pattern!");
  EXPECT_EQ(Short("abc", "(a"), "error 1468");
  EXPECT_EQ(Short("abc", "a)"), "error " + std::to_string(ERR_INVPATCAP));
  EXPECT_EQ(Short("abc", "%1"), "error 1461");
  EXPECT_EQ(Short("aa", "(a)%2"), "error 1461");
  EXPECT_EQ(Short("aa", "(a%1)"), "error 1461");
  std::string captures;
  for (int i = 0; i < 33; ++i) captures += "()";
  EXPECT_EQ(Short("abc", captures), "error 1466");
  // 32 captures are allowed and all come back.
  ASSERT_EQ(Call("patternfindstrshort", "\"abc\" " + Q(captures.substr(2)), 32), 0);
  EXPECT_EQ(Num("r32"), 1);
  // Deep nesting fails cleanly instead of exhausting the native stack.
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "a*";
  EXPECT_EQ(Short("aaaa", deep), "error " + std::to_string(ERR_STACK));
  std::string shallow;
  for (int i = 0; i < 100; ++i) shallow += "a*";
  EXPECT_EQ(Short("aaaa", shallow + "$"), "aaaa");
  // Long subjects with simple items loop without nesting.
  std::string longSubject(200000, 'x');
  EXPECT_EQ(Call("patternfindstrdirect", Q(longSubject + "y") + " \"x+y\"", 2), 0);
  EXPECT_EQ(Num("r2"), 200000);
}

}  // namespace

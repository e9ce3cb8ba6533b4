// The string library's cutting, searching and conversion commands driven
// from assembled scripts; number texts, integer parsing and checksums are
// checked against python3.
#include <random>
#include <sstream>

#include "tests/libraries/string/string_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::StringLibrary;

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

TEST_F(StringLibrary, CaseTablesFoldIso8859Letters) {
  std::string all = AllBytes();
  ASSERT_EQ(Call("lowerstr", Q(all)), 0);
  std::string lower = Str("r");
  ASSERT_EQ(Call("upperstr", Q(all)), 0);
  std::string upper = Str("r");
  ASSERT_EQ(lower.size(), 256u);
  ASSERT_EQ(upper.size(), 256u);
  for (int c = 0; c < 256; ++c) {
    bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xDD);
    bool small = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xF6) || (c >= 0xF8 && c <= 0xFD);
    EXPECT_EQ(static_cast<unsigned char>(lower[c]), capital ? c + 32 : c) << c;
    EXPECT_EQ(static_cast<unsigned char>(upper[c]), small ? c - 32 : c) << c;
  }
  // Case-insensitive searches fold the same way.
  EXPECT_EQ(CallNum("findstr", Q("x\xC4\xD6Z") + " " + Q("\xE4\xF6z") + " 0"), 1);
  EXPECT_EQ(CallNum("findstr", Q("\xDE") + " " + Q("\xFE") + " 0"), -1);
}

TEST_F(StringLibrary, CuttingClipsToTheString) {
  EXPECT_EQ(CallStr("unrightstr", "\"abcdef\" 2"), "cdef");
  EXPECT_EQ(CallStr("unrightstr", "\"abc\" 9"), "");
  EXPECT_EQ(CallStr("unleftstr", "\"abcdef\" 2"), "abcd");
  EXPECT_EQ(CallStr("unleftstr", "\"abc\" 3"), "");
  EXPECT_EQ(Call("unrightstr", "\"abc\" -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("unleftstr", "\"abc\" -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallStr("midstr", "\"abcdef\" 4 10"), "ef");
  EXPECT_EQ(CallStr("midstr", "\"abcdef\" 1"), "bcdef");
  EXPECT_EQ(CallStr("midstr", "\"abcdef\" 1 -1"), "bcdef");
  EXPECT_EQ(CallStr("midstr", "\"abcdef\" 1 0"), "");
  EXPECT_EQ(CallStr("midstr", "\"abcdef\" 1 -2"), "");
  EXPECT_EQ(CallStr("midstr", "\"abcdef\" 6 2"), "");
  EXPECT_EQ(Call("midstr", "\"abcdef\" -1 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallStr("rightstr", "\"abcdef\" 2"), "ef");
  EXPECT_EQ(CallStr("rightstr", "\"abc\" 10"), "abc");
  EXPECT_EQ(CallStr("rightstr", "\"abc\" 0"), "");
  EXPECT_EQ(CallStr("leftstr", "\"abcdef\" 2.9"), "ab");
  EXPECT_EQ(CallStr("leftstr", "\"abc\" -4"), "");
  EXPECT_EQ(CallStr("chr", "65"), "A");
  EXPECT_EQ(CallStr("chr", "0"), "");
  EXPECT_EQ(CallStr("chr", "-1"), "\xFF");
  EXPECT_EQ(Call("chr", "256"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallNum("asc", Q("\xE9z")), 0xE9);
  EXPECT_EQ(CallNum("asc", "\"\""), 0);
  EXPECT_EQ(CallNum("strlen", Q(std::string("a\0b", 3))), 3);
  EXPECT_EQ(CallStr("addstr", "\"ab\" 12"), "ab12");
  EXPECT_EQ(CallStr("trimstr", "\"xxabxx\" \"x\" 0"), "abxx");
  EXPECT_EQ(CallStr("trimstr", "\"xxabxx\" \"x\" 1"), "xxab");
  EXPECT_EQ(CallStr("trimstr", "\"xxx\" \"x\" 1"), "");
  EXPECT_EQ(Call("trimstr", "\"xxx\" \"xy\" 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallStr("unmidstr", "\"abcdef\" 1 2"), "adef");
  EXPECT_EQ(CallStr("unmidstr", "\"abcdef\" 4 50"), "abcd");
  EXPECT_EQ(CallStr("unmidstr", "\"abcdef\" 9 2"), "abcdef");
  EXPECT_EQ(CallStr("unmidstr", "\"abcdef\" 2 0"), "abcdef");
  EXPECT_EQ(Call("unmidstr", "\"abcdef\" -1 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("unmidstr", "\"abcdef\" 1 -2"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallStr("insertstr", "\"abcdef\" \"XY\" 2"), "abXYcdef");
  EXPECT_EQ(CallStr("insertstr", "\"abcdef\" \"XY\" 2 1"), "abXYef");
  EXPECT_EQ(CallStr("insertstr", "\"abcdef\" \"XYZ\" 5 1"), "abcdeXYZ");
  EXPECT_EQ(CallStr("insertstr", "\"abc\" \"XY\" 99"), "abcXY");
  EXPECT_EQ(CallStr("insertstr", "\"\" \"XY\" 3"), "XY");
  EXPECT_EQ(Call("insertstr", "\"abc\" \"XY\" -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallStr("repeatstr", "\"ab\" 3"), "ababab");
  EXPECT_EQ(CallStr("repeatstr", "\"ab\" 0"), "");
  EXPECT_EQ(Call("repeatstr", "\"ab\" -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("repeatstr", "\"abcdefgh\" 2000000000"), ERR_MEM);
  EXPECT_EQ(Call("leftstr", "\"abc\""), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Call("leftstr", "\"abc\" 1 2"), ERR_TOOMANYARGS);
  EXPECT_EQ(Call("leftstr", "{ } 1"), ERR_STREXPECTED);
}

TEST_F(StringLibrary, SearchingCountingAndReplacing) {
  EXPECT_EQ(CallNum("findstr", "\"abcabc\" \"bc\" 1 2"), 4);
  EXPECT_EQ(CallNum("findstr", "\"abcabc\" \"bc\" 1 6"), -1);
  EXPECT_EQ(CallNum("findstr", "\"abcabc\" \"bc\""), 1);
  EXPECT_EQ(CallNum("findstr", "\"ABC\" \"b\" 0"), 1);
  EXPECT_EQ(CallNum("findstr", "\"ABC\" \"b\""), -1);
  EXPECT_EQ(CallNum("findstr", "\"abc\" \"\""), -1);
  EXPECT_EQ(CallNum("findstr", "\"\" \"a\""), -1);
  EXPECT_EQ(CallNum("findstr", "\"abc\" \"abcd\""), -1);
  EXPECT_EQ(Call("findstr", "\"abc\" \"a\" 1 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallNum("countstr", "\"aaaa\" \"aa\""), 2);
  EXPECT_EQ(CallNum("countstr", "\"aAaA\" \"aa\" 0"), 2);
  EXPECT_EQ(CallNum("countstr", "\"abab\" \"ab\" 1 1"), 1);
  EXPECT_EQ(CallNum("countstr", "\"abab\" \"\""), 0);
  EXPECT_EQ(Call("countstr", "\"abab\" \"a\" 1 -3"), ERR_WRONGUSAGE);
  EXPECT_EQ(CallStr("replacestr", "\"aXbXc\" \"X\" \"\""), "abc");
  EXPECT_EQ(CallStr("replacestr", "\"aXbXc\" \"X\" \"\" 1 2"), "aXbc");
  EXPECT_EQ(CallStr("replacestr", "\"aXbxc\" \"x\" \"--\" 0"), "a--b--c");
  EXPECT_EQ(CallStr("replacestr", "\"aaa\" \"a\" \"aa\""), "aaaaaa");
  EXPECT_EQ(CallStr("replacestr", "\"abc\" \"\" \"Z\""), "abc");
  EXPECT_EQ(CallStr("replacestr", "\"abc\" \"b\" \"Z\" 1 3"), "abc");
  EXPECT_EQ(Call("replacestr", "\"abc\" \"b\" \"Z\" 1 -1"), ERR_WRONGUSAGE);
}

// Zero bytes are ordinary bytes in every result.
TEST_F(StringLibrary, ZeroBytesSurvive) {
  std::string bin("a\0b\0c", 5);
  EXPECT_EQ(CallStr("unrightstr", Q(bin) + " 1"), std::string("\0b\0c", 4));
  EXPECT_EQ(CallStr("replacestr", Q(bin) + " " + Q(std::string("\0", 1)) + " \"-\""), "a-b-c");
  EXPECT_EQ(CallStr("upperstr", Q(bin)), std::string("A\0B\0C", 5));
  ASSERT_EQ(Call("splitstr", Q(std::string("x,y\0z", 5)) + " \",\"", 2), 0);
  EXPECT_EQ(Num("r2"), 2);
  EXPECT_EQ(EntryStr("r", 1), std::string("y\0z", 3));
}

TEST_F(StringLibrary, NumbersAsTextMatchPython) {
  const double values[] = {3.14159, 2, -2.71828, 0.1, 1e20, 123456789.987654321, -0.5, 1.5e-7, 1e-300, 1e300,
                           7.0 / 3.0};
  const int decimals[] = {2, 0, 5, -1, 13};
  std::ostringstream py;
  py << "vals=[";
  for (double v : values) py << "float.fromhex('" << std::hexfloat << v << std::defaultfloat << "'),";
  py << "]\n"
        "for v in vals:\n"
        "  for d in (2,0,5,-1,13):\n"
        "    t='%.14g'%v\n"
        "    m,e=(t.split('e')+[''])[:2]\n"
        "    e=('e'+e) if e else ''\n"
        "    if '.' in m:\n"
        "      i=m.index('.')\n"
        "      m=m[:i] if d==0 else (m[:i+1] if d<0 else m[:i+1+d])\n"
        "    print(m+e)\n";
  std::istringstream expected(vltest::RunPython(py.str()));
  for (double v : values) {
    for (int d : decimals) {
      std::string want;
      std::getline(expected, want);
      EXPECT_EQ(CallStr("strstr", N(v) + " " + std::to_string(d)), want) << v << " " << d;
    }
  }
  EXPECT_EQ(CallStr("strstr", "3.14159"), "3.14");
  EXPECT_EQ(CallStr("strstr", "3.14159 0"), "3");
  EXPECT_EQ(CallStr("strstr", "2"), "2");
  EXPECT_EQ(CallStr("strstr", "1e20"), "1e+20");

  EXPECT_EQ(CallStr("hexstr", "255"), "$FF");
  EXPECT_EQ(CallStr("hexstr", "-1"), "$FFFFFFFF");
  EXPECT_EQ(CallStr("hexstr", "4294967295"), "$FFFFFFFF");
  EXPECT_EQ(CallStr("hexstr", "4294967297"), "$1");
  EXPECT_EQ(CallStr("hexstr", "-2147483648"), "$80000000");
  EXPECT_EQ(CallStr("binstr", "5 7"), "00000101");
  EXPECT_EQ(CallStr("binstr", "-1 6"), "1111111111111111");
  EXPECT_EQ(CallStr("binstr", "4294967294"), "11111111111111111111111111111110");
  EXPECT_EQ(CallStr("binstr", "5 3"), "");
  EXPECT_EQ(CallStr("padnum", "5 3"), "005");
  EXPECT_EQ(CallStr("padnum", "12345 3"), "12345");
  EXPECT_EQ(Call("padnum", "-5 3"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("padnum", "5 0"), ERR_WRONGUSAGE);

  ASSERT_EQ(Call("val", "\"$ff rest\"", 2), 0);
  EXPECT_EQ(Num("r"), 255);
  EXPECT_EQ(Num("r2"), 3);
  ASSERT_EQ(Call("val", "\"-12.5kg\"", 2), 0);
  EXPECT_EQ(Num("r"), -12.5);
  EXPECT_EQ(Num("r2"), 5);
  ASSERT_EQ(Call("val", "\"%101\"", 2), 0);
  EXPECT_EQ(Num("r"), 5);
  ASSERT_EQ(Call("val", "\"abc\"", 2), 0);
  EXPECT_EQ(Num("r"), 0);
  EXPECT_EQ(Num("r2"), 0);
}

TEST_F(StringLibrary, ToNumberReadsBasesAsPython) {
  struct Case {
    const char* text;
    int base;
  } cases[] = {{"ff", 16}, {"FF", 16}, {"0xff", 16}, {"101", 2}, {"  777  ", 8}, {"zz", 36},
               {"+12", 7}, {"12x", 16}, {"", 16}, {"  ", 16}, {"2", 2}, {"-1", 16}, {"ffffffff", 16},
               {"1ffffffff", 16}, {"-ff", 16}};
  std::ostringstream py;
  py << "import sys\n"
        "def conv(t,b):\n"
        "  s=t.strip()\n"
        "  neg=s.startswith('-')\n"
        "  try: v=int(s,b)\n"
        "  except ValueError: return 0\n"
        "  m=abs(v)\n"
        "  if m>0xffffffff: return 0xffffffff\n"
        "  return (-m)&0xffffffff if neg else m\n";
  for (const Case& c : cases) py << "print(conv(" << Q(c.text) << "," << c.base << "))\n";
  std::istringstream expected(vltest::RunPython(py.str()));
  for (const Case& c : cases) {
    double want;
    expected >> want;
    EXPECT_EQ(CallNum("tonumber", Q(c.text) + " " + std::to_string(c.base)), want) << c.text << " " << c.base;
  }
  EXPECT_EQ(CallNum("tonumber", "\"12.5\""), 12.5);
  EXPECT_EQ(CallNum("tonumber", "\"$10\""), 16);
  EXPECT_EQ(CallNum("tonumber", "\"x\""), 0);
  EXPECT_EQ(CallNum("tonumber", "{ }"), 0);
  EXPECT_EQ(Call("tonumber", "\"101\" 37"), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("tonumber", "\"101\" 1"), ERR_WRONGUSAGE);
  // A light userdata's address survives the trip through a number.
  ASSERT_EQ(Run(".call touserdata 4294967296.0 -> u\n.call tonumber $u -> back\n.call tostring $u -> text"), 0);
  EXPECT_EQ(Tag("u"), VL_TLIGHTUSERDATA);
  EXPECT_EQ(Num("back"), 4294967296.0);
  EXPECT_EQ(Str("text"), "UserData: 0x100000000");
}

TEST_F(StringLibrary, TablesAndValueTexts) {
  ASSERT_EQ(Call("splitstr", "\"a,,b\" \",\"", 2), 0);
  EXPECT_EQ(Num("r2"), 3);
  EXPECT_EQ(EntryStr("r", 0), "a");
  EXPECT_EQ(EntryStr("r", 1), "");
  EXPECT_EQ(EntryStr("r", 2), "b");
  ASSERT_EQ(Call("splitstr", "\"\" \",\"", 2), 0);
  EXPECT_EQ(Num("r2"), 1);
  EXPECT_EQ(EntryStr("r", 0), "");
  ASSERT_EQ(Call("splitstr", "\"a,\" \",\"", 2), 0);
  EXPECT_EQ(Num("r2"), 2);
  EXPECT_EQ(Call("splitstr", "\"a\" \"\""), ERR_WRONGUSAGE);

  ASSERT_EQ(Call("strtoarray", Q("A\xFF")), 0);
  EXPECT_EQ(EntryNum("r", 0), 65);
  EXPECT_EQ(EntryNum("r", 1), 255);
  EXPECT_EQ(EntryNum("r", 2), 0);
  EXPECT_TRUE(std::isnan(EntryNum("r", 3)));
  EXPECT_EQ(CallStr("arraytostr", "{ 72, 105, 289, 0, 65 }"), "Hi!");
  EXPECT_EQ(CallStr("arraytostr", "{ 72, \"x\", 65 }"), "H");
  EXPECT_EQ(CallStr("arraytostr", "{ }"), "");
  EXPECT_EQ(Call("arraytostr", "5"), ERR_TABEXPECTED);

  EXPECT_EQ(CallStr("tostring", "nil"), "Nil");
  EXPECT_EQ(CallStr("tostring", "12.5"), "12.5");
  EXPECT_EQ(CallStr("tostring", "\"s\""), "s");
  vltest::SetGlobalNative(L, "mkbool", [](vlVMState* state) {
    vl::PushBoolean(state, 1);
    return 1;
  });
  ASSERT_EQ(Run(".call mkbool -> b\n.call tostring $b -> r"), 0);
  EXPECT_EQ(Str("r"), "true");
  std::string table = CallStr("tostring", "{ 1 }");
  EXPECT_EQ(table.rfind("Table: 0x", 0), 0u) << table;
  ASSERT_EQ(Run(".function f\n ret\n.end\n.defun F f\n.call tostring $F -> r"), 0);
  EXPECT_EQ(Str("r").rfind("Function: 0x", 0), 0u) << Str("r");
}

TEST_F(StringLibrary, ChecksumsMatchPython) {
  std::mt19937 rng(7);
  std::vector<std::string> inputs = {"a", "abc", "message digest", std::string("\0\xFF\x01", 3)};
  std::string big;
  for (int i = 0; i < 3000; ++i) big += static_cast<char>(rng());
  inputs.push_back(big);
  std::ostringstream py;
  py << "import hashlib, zlib\n";
  for (const std::string& s : inputs) {
    std::string hex;
    for (unsigned char c : s) {
      char h[3];
      std::snprintf(h, sizeof h, "%02x", c);
      hex += h;
    }
    py << "b=bytes.fromhex('" << hex << "')\nprint(hashlib.md5(b).hexdigest(), zlib.crc32(b))\n";
  }
  std::istringstream expected(vltest::RunPython(py.str()));
  for (const std::string& s : inputs) {
    std::string md5;
    double crc;
    expected >> md5 >> crc;
    EXPECT_EQ(CallStr("md5str", Q(s)), md5);
    EXPECT_EQ(CallNum("crc32str", Q(s)), crc);
  }
  EXPECT_EQ(Call("md5str", "\"\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("crc32str", "\"\""), ERR_WRONGUSAGE);
}

TEST_F(StringLibrary, Base64MatchesPython) {
  std::mt19937 rng(11);
  std::vector<std::string> inputs = {"", "f", "fo", "foo", "foobar", std::string("\0\xFF\x10", 3)};
  std::string big;
  for (int i = 0; i < 100; ++i) big += static_cast<char>(rng());
  inputs.push_back(big);
  std::ostringstream py;
  py << "import base64\n";
  for (const std::string& s : inputs) {
    py << "print(base64.b64encode(bytes([";
    for (unsigned char c : s) py << static_cast<int>(c) << ",";
    py << "])).decode() or '-')\n";
  }
  std::istringstream expected(vltest::RunPython(py.str()));
  for (const std::string& s : inputs) {
    std::string want;
    expected >> want;
    if (want == "-") want.clear();
    // One line, however long; and back again.
    EXPECT_EQ(CallStr("base64str", Q(s) + " 0"), want);
    EXPECT_EQ(CallStr("base64str", Q(want) + " 1"), s);
  }
  EXPECT_EQ(CallStr("base64str", "\"Zm9v\\nYmFy\" 1"), "foobar");
  // Decoding stops at padding or a bad byte and keeps what came before.
  EXPECT_EQ(CallStr("base64str", "\"Zm8=Zm9v\" 1"), "fo");
  EXPECT_EQ(CallStr("base64str", "\"Zm9v*Zm9v\" 1"), "foo");
  EXPECT_EQ(CallStr("base64str", "\"Zm9\" 1"), "");
}

// A text with more separators than SplitStr remembers on its first pass:
// every piece, empty ones and the last included, in order.
TEST_F(StringLibrary, SplitStrCutsTextsWithManySeparators) {
  std::string text;
  std::vector<std::string> pieces;
  for (int i = 0; i < 150; ++i) {
    pieces.push_back(i % 7 == 3 ? "" : std::string(static_cast<size_t>(i % 5), static_cast<char>('a' + i % 26)));
    text += pieces.back();
    if (i < 149) text += ';';
  }
  ASSERT_EQ(Call("splitstr", Q(text) + " \";\"", 2), 0);
  ASSERT_EQ(Num("r2"), 150);
  for (int i = 0; i < 150; ++i) EXPECT_EQ(EntryStr("r", i), pieces[static_cast<size_t>(i)]) << i;
  EXPECT_EQ(Entry("r", 150)->tag, VL_TNIL);
}

// Long texts fold in runs of 16 ASCII bytes and byte by byte elsewhere,
// across the builder's 1024-byte blocks: every byte as the case rules say.
TEST_F(StringLibrary, CaseFoldingOfLongMixedTexts) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char>(i % 37 == 5 ? 0xC0 + i % 64 : 'A' + (i * 5) % 58);
  ASSERT_EQ(Call("lowerstr", Q(text)), 0);
  std::string lower = Str("r");
  ASSERT_EQ(Call("upperstr", Q(text)), 0);
  std::string upper = Str("r");
  ASSERT_EQ(lower.size(), text.size());
  ASSERT_EQ(upper.size(), text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    int c = static_cast<unsigned char>(text[i]);
    bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xDD);
    bool small = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xF6) || (c >= 0xF8 && c <= 0xFD);
    ASSERT_EQ(static_cast<unsigned char>(lower[i]), capital ? c + 32 : c) << i;
    ASSERT_EQ(static_cast<unsigned char>(upper[i]), small ? c - 32 : c) << i;
  }
}

}  // namespace

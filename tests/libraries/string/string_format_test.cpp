// FormatStr from assembled scripts: the directive checks, "%q", long
// strings, argument errors, and random conversions checked against
// printf(1) (integers and strings) and python3 (floating point).
#include <cstring>
#include <random>
#include <sstream>

#include "tests/libraries/string/string_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::StringLibrary;

class Format : public StringLibrary {
 protected:
  std::string F(const std::string& format, const std::string& args = "") {
    return CallStr("formatstr", Q(format) + " " + args);
  }
  int Fails(const std::string& format, const std::string& args = "") {
    return Call("formatstr", Q(format) + " " + args);
  }
};

TEST_F(Format, ConversionsAndSpecificationChecks) {
  EXPECT_EQ(F("%5.2f", "3.14159"), " 3.14");
  EXPECT_EQ(F("%-4d|", "7"), "7   |");
  EXPECT_EQ(F("%x", "255"), "ff");
  EXPECT_EQ(F("%X", "4294967295"), "FFFFFFFF");
  EXPECT_EQ(F("%u", "-1"), "4294967295");
  EXPECT_EQ(F("%05d", "-42"), "-0042");
  EXPECT_EQ(F("%d", "3.99"), "3");
  EXPECT_EQ(F("%d", "-3.99"), "-3");
  EXPECT_EQ(F("%i", "3000000000"), "-2147483648");
  EXPECT_EQ(F("a%%b"), "a%b");
  EXPECT_EQ(F("%s and %s", "\"x\" 12"), "x and 12");
  EXPECT_EQ(F("%c%c", "72 105"), "Hi");
  EXPECT_EQ(F("[%c]", "0"), "[]");
  EXPECT_EQ(F("%.3s", "\"abcdef\""), "abc");
  EXPECT_EQ(F("%99.2e", "1"), std::string(91, ' ') + "1.00e+00");
  EXPECT_EQ(F("%.99f", "1e300").size(), 301u + 1u + 99u);
  EXPECT_EQ(F("no conversions"), "no conversions");
  EXPECT_EQ(F("%d", "1 2 3"), "1");
  EXPECT_EQ(Fails("%100d", "1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("%.123f", "1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("%k", "1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("%ld", "1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("%n", "1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("%*d", "1 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("abc%"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("abc%-+"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("abc%5."), ERR_WRONGUSAGE);
  // Eighteen characters after the "%" pass, nineteen do not.
  EXPECT_EQ(F("%-------------12.3d", "7"), "007         ");
  EXPECT_EQ(Fails("%--------------12.3d", "7"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("%d"), ERR_NUMEXPECTED);
  EXPECT_EQ(Fails("%d %d", "1"), ERR_NUMEXPECTED);
  EXPECT_EQ(Fails("%d", "\"x\""), ERR_NUMEXPECTED);
  EXPECT_EQ(Fails("%s", "{ }"), ERR_STREXPECTED);
  EXPECT_EQ(Call("formatstr", ""), ERR_MISSINGPARAMTR);
}

TEST_F(Format, QuotingAndLongStrings) {
  EXPECT_EQ(F("%q", Q("say \"hi\"\nback\\slash")), "\"say \\\"hi\\\"\\\nback\\\\slash\"");
  EXPECT_EQ(F("%-20.1q", Q(std::string("a\0b", 3))), "\"a\\000b\"");
  EXPECT_EQ(F("%q", "\"\""), "\"\"");
  std::string long150(150, 'L');
  long150[70] = '\0';
  EXPECT_EQ(F("<%99s>", Q(long150)), "<" + long150 + ">");
  EXPECT_EQ(F("<%99s>", Q(std::string(50, 's'))), "<" + std::string(49, ' ') + std::string(50, 's') + ">");
  EXPECT_EQ(F("<%-99s>", Q(std::string(99, 's'))), "<" + std::string(99, 's') + ">");
  EXPECT_EQ(F("<%.5s>", Q(long150)), "<LLLLL>");
  EXPECT_EQ(F("<%s>", Q(std::string("ab\0cd", 5))), "<ab>");
  EXPECT_EQ(Fails("%200s", Q(long150)), ERR_WRONGUSAGE);
}

struct Spec {
  std::string text;
  char conversion;
  std::string arg;  // as printf(1) or python take it
};

Spec RandomSpec(std::mt19937& rng, const char* conversions) {
  static const char flags[] = "-+ #0";
  Spec s;
  s.text = "%";
  int nflags = static_cast<int>(rng() % 3);
  for (int i = 0; i < nflags; ++i) s.text += flags[rng() % 5];
  if (rng() % 2) s.text += std::to_string(rng() % 100);
  if (rng() % 2) s.text.append(".").append(std::to_string(rng() % 30));
  s.conversion = conversions[rng() % std::strlen(conversions)];
  s.text += s.conversion;
  return s;
}

TEST_F(Format, IntegersAndStringsMatchPrintf) {
  std::mt19937 rng(99);
  const char* words[] = {"a", "word", "Two words", "", "0123456789"};
  for (int batch = 0; batch < 6; ++batch) {
    std::ostringstream py;
    py << "import subprocess\nargs=[";
    std::string format, scriptArgs;
    for (int i = 0; i < 40; ++i) {
      Spec s = RandomSpec(rng, "diouxXs");
      if (s.conversion == 's') {
        s.arg = words[rng() % 5];
        scriptArgs.append(" ").append(Q(s.arg));
      } else {
        int64_t v = static_cast<int64_t>(rng()) - 2147483648LL;
        if (rng() % 4 == 0) v = static_cast<int64_t>(rng() % 200) - 100;
        if (rng() % 8 == 0) v = 0;
        scriptArgs.append(" ").append(std::to_string(v));
        bool isUnsigned = s.conversion != 'd' && s.conversion != 'i';
        s.arg = std::to_string(isUnsigned ? static_cast<int64_t>(static_cast<uint32_t>(v)) : v);
      }
      py << "'" << s.arg << "',";
      format += s.text + "|";
    }
    // The shell's printf hands every directive to the C library as it stands.
    py << "]\nr=subprocess.run(['bash','-c','printf \"$@\"','printf','" << format << "']+args,capture_output=True,check=True)\n"
          "import sys\nsys.stdout.buffer.write(r.stdout)\n";
    std::string expected = vltest::RunPython(py.str());
    ASSERT_EQ(Run(".call formatstr " + Q(format) + scriptArgs + " -> r"), 0);
    EXPECT_EQ(Str("r"), expected) << format;
  }
}

TEST_F(Format, FloatingPointMatchesPython) {
  std::mt19937 rng(5);
  const double values[] = {0, -0.0, 1, -1, 3.14159265358979, 2.5, 0.125, 1e-5, 123456.789, -98765.4321,
                           1e100, -2.2250738585072014e-308, 6.02214076e23, 0.1, 1.0 / 3.0, 1e15, 999999.5};
  for (int batch = 0; batch < 6; ++batch) {
    std::ostringstream py;
    std::string format, scriptArgs;
    py << "vals=[";
    for (int i = 0; i < 40; ++i) {
      Spec s = RandomSpec(rng, "eEfgG");
      double v = values[rng() % (sizeof values / sizeof *values)];
      scriptArgs.append(" ").append(N(v));
      py << "float.fromhex('" << std::hexfloat << v << std::defaultfloat << "'),";
      format += s.text + "|";
    }
    py << "]\nimport sys\nsys.stdout.buffer.write(b'" << format << "' % tuple(vals))\n";
    std::string expected = vltest::RunPython(py.str());
    ASSERT_EQ(Run(".call formatstr " + Q(format) + scriptArgs + " -> r"), 0);
    EXPECT_EQ(Str("r"), expected) << format;
  }
}

// A result longer than the formatter's first block: every piece in order.
TEST_F(Format, ResultsOutgrowingTheFirstBlockStayWhole) {
  std::string a(300, 'a'), b(250, 'b'), c(120, 'c');
  EXPECT_EQ(F("[%s|%s|%d|%s]", Q(a) + " " + Q(b) + " -7 " + Q(c)), "[" + a + "|" + b + "|-7|" + c + "]");
  // 100 conversions of 6 bytes each, through sprintf.
  std::string format, args, expected;
  for (int i = 0; i < 100; ++i) {
    format += "%05d,";
    args += std::to_string(i % 40 * 37) + " ";
    char piece[16];
    std::snprintf(piece, sizeof piece, "%05d,", i % 40 * 37);
    expected += piece;
  }
  EXPECT_EQ(F(format, args), expected);
  // Plain "%d" digits written in place across the block's end and through
  // every later growth (about 3 KB).
  format.clear(), args.clear(), expected.clear();
  for (int i = 0; i < 100; ++i) {
    int64_t wide = int64_t{i % 7 - 3} * (i * 7919 % 100003) * (i % 5 == 0 ? 9973 : 1);
    int v = static_cast<int>(wide % 2147483647);
    std::string filler(i % 23 + 1, static_cast<char>('a' + i % 26));
    format += "%d" + filler;
    args += std::to_string(v) + " ";
    expected += std::to_string(v) + filler;
  }
  EXPECT_EQ(F(format, args), expected);
}

}  // namespace

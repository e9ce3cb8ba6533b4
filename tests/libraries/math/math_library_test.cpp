// The math library from assembled scripts: argument counts, rounding and
// integer conversions, bit operations, rotations and casts, errors, the
// random generator, and the libm wrappers checked bit for bit against
// python3's math module over random arguments.
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>

#include "libraries/math/math_library.h"
#include "runtime/objects.h"
#include "tests/libraries/library_script.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

class MathLibrary : public vltest::LibraryScript {
 protected:
  void SetUp() override {
    LibraryScript::SetUp();
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    ASSERT_EQ(OpenMathLib(L), 0);
    vl::SetStackTop(L, 0);
  }
  void TearDown() override {
    FreeObjectRegistries();
    LibraryScript::TearDown();
  }
  // The result of one command, or -100000 - the error code.
  double M(const std::string& command, const std::string& args) {
    int status = Run("loadnil 0 0\nsetglobal 0 \"r\"\n.call " + command + " " + args + " -> r");
    return status ? -100000 - status : Num("r");
  }
  double Fails(const std::string& command, const std::string& args) { return -100000 - M(command, args); }
};

TEST_F(MathLibrary, ConstantAndArgumentCounts) {
  const char* text;
  double pi = 0;
  ASSERT_TRUE(vl::FindConstant(L, "PI", &text, &pi));
  EXPECT_EQ(pi, 3.141592653589793);
  EXPECT_EQ(Fails("min", "3"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Fails("rndf", "1"), ERR_TOOMANYARGS);
  EXPECT_EQ(Fails("abs", "1 2"), ERR_TOOMANYARGS);
  EXPECT_EQ(Fails("abs", "\"x\""), ERR_NUMEXPECTED);
  EXPECT_EQ(M("abs", "\"-2.5\""), 2.5);
  EXPECT_EQ(M("max", "1 7 3 9 2 9"), 9);
  EXPECT_EQ(M("min", "4 2 8 -1 0"), -1);
  EXPECT_EQ(Fails("max", "1 2 \"x\""), ERR_NUMEXPECTED);
  // Ties keep the first argument (-0 versus 0 shows which), NaN never replaces.
  ASSERT_EQ(Run(".call max -0.0 0 -> a\n.call min 0 -0.0 -> b\n.call max 1 nan -> c\n.call min nan 1 -> d"), 0);
  EXPECT_TRUE(std::signbit(Num("a")));
  EXPECT_FALSE(std::signbit(Num("b")));
  EXPECT_EQ(Num("c"), 1);
  EXPECT_TRUE(std::isnan(Num("d")));
}

TEST_F(MathLibrary, RoundingAndDivision) {
  EXPECT_EQ(M("round", "0.5"), 0);
  EXPECT_EQ(M("round", "1.5"), 2);
  EXPECT_EQ(M("round", "2.5"), 2);
  EXPECT_EQ(M("round", "3.5"), 4);
  EXPECT_EQ(M("round", "-0.5"), 0);
  EXPECT_EQ(M("round", "-2.5"), -2);
  EXPECT_EQ(M("round", "3e9"), -2147483648.0);
  EXPECT_EQ(M("int", "-2.7"), -2);
  EXPECT_EQ(M("int", "-0.5"), 0);
  EXPECT_EQ(M("int", "5e10"), -2147483648.0);
  EXPECT_EQ(M("frac", "-2.25"), -0.25);
  EXPECT_EQ(M("ceil", "50000000000.5"), 50000000001.0);
  EXPECT_EQ(M("floor", "-1.5"), -2);
  EXPECT_EQ(M("mod", "-7 3"), -1);
  EXPECT_EQ(M("mod", "7.5 2"), 1.5);
  EXPECT_EQ(Fails("mod", "7 0"), ERR_ZERODIVISION);
  EXPECT_EQ(Fails("div", "1 0"), ERR_ZERODIVISION);
  EXPECT_EQ(M("div", "1 4"), 0.25);
  EXPECT_EQ(M("add", "1 2"), 3);
  EXPECT_EQ(M("sub", "1 2"), -1);
  EXPECT_EQ(M("mul", "3 2"), 6);
  EXPECT_EQ(M("rt", "8 3"), std::pow(8.0, 1.0 / 3.0));
  EXPECT_NEAR(M("rt", "8 3"), 2, 1e-15);
  EXPECT_EQ(Fails("rt", "8 0"), ERR_ZERODIVISION);
  EXPECT_EQ(Fails("rt", "8 -3"), ERR_WRONGUSAGE);
  EXPECT_NEAR(M("ld", "8"), 3, 1e-15);
  EXPECT_EQ(M("log", "100 10"), 2);
  EXPECT_EQ(M("sgn", "-3"), -1);
  EXPECT_EQ(M("sgn", "0.1"), 1);
  EXPECT_EQ(M("sgn", "nan"), 0);
  EXPECT_EQ(M("wrap", "12 0 10"), 2);
  EXPECT_EQ(M("wrap", "25 0 10"), 15);
  EXPECT_EQ(M("wrap", "-3 0 10"), 7);
  EXPECT_EQ(M("wrap", "10 0 10"), 0);
  // Extended precision: x - low is exact before high is added (a double
  // intermediate would round -2^53 - 1 to -2^53 and give ...990).
  EXPECT_EQ(M("wrap", "-9007199254740992 1 2"), -9007199254740991.0);
  // 1 + 2^-53 + 2^-65 rounds to 1 + 2^-53 in x87 extended precision, a tie
  // that then goes to the even double 1 (a direct double sum gives 1 + 2^-52).
  if (std::numeric_limits<long double>::digits == 64) {
    EXPECT_EQ(M("add", "1 " + N(0x1.001p-53)), 1);
  }
  EXPECT_EQ(M("limit", "-5 0 10"), 0);
  EXPECT_EQ(M("limit", "15 0 10"), 10);
  EXPECT_EQ(M("limit", "5 10 0"), 10);
  EXPECT_EQ(M("ldexp", "0.75 4.9"), 12);
  ASSERT_EQ(Run(".call frexp 12 -> m e\n.call frexp 0 -> m0 e0"), 0);
  EXPECT_EQ(Num("m"), 0.75);
  EXPECT_EQ(Num("e"), 4);
  EXPECT_EQ(Num("m0"), 0);
  EXPECT_EQ(Num("e0"), 0);
  // Domain errors are no errors.
  EXPECT_TRUE(std::isnan(M("sqrt", "-1")));
  EXPECT_TRUE(std::isnan(M("asin", "2")));
  EXPECT_EQ(M("ln", "0"), -INFINITY);
}

TEST_F(MathLibrary, BitOperations) {
  EXPECT_EQ(M("shl", "1 32"), 1);
  EXPECT_EQ(M("shl", "1 31"), 2147483648.0);
  EXPECT_EQ(M("shr", "-1 28"), 15);
  EXPECT_EQ(M("shr", "4294967295 31"), 1);
  EXPECT_EQ(M("sar", "-16 2"), -4);
  EXPECT_EQ(M("sar", "4294967295 4"), -1);
  EXPECT_EQ(M("bitcomplement", "0"), 4294967295.0);
  EXPECT_EQ(M("bitxor", "4294967295 1"), 4294967294.0);
  EXPECT_EQ(M("bitset", "0 31"), 2147483648.0);
  EXPECT_EQ(M("bitclear", "4294967295 0"), 4294967294.0);
  EXPECT_EQ(M("bittest", "8 3"), 1);
  EXPECT_EQ(M("bittest", "8 2"), 0);
  EXPECT_EQ(Fails("bitset", "0 32"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("bittest", "0 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("bitclear", "0 99"), ERR_WRONGUSAGE);
  EXPECT_EQ(M("cast", "255 1 7"), -1);
  EXPECT_EQ(M("cast", "255 0 7"), 255);
  EXPECT_EQ(M("cast", "65535 0 6"), 65535);
  EXPECT_EQ(M("cast", "32768 1 6"), -32768);
  EXPECT_EQ(M("cast", "4294967295 1 1"), -1);
  EXPECT_EQ(M("cast", "-1 0 1"), 4294967295.0);
  EXPECT_EQ(Fails("cast", "1 1 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(M("endianswap", "4660 16"), 13330);
  EXPECT_EQ(M("endianswap", "1 32"), 16777216);
  EXPECT_EQ(M("endianswap", "4294967295 16"), 65535);
  EXPECT_EQ(Fails("endianswap", "1 8"), ERR_WRONGUSAGE);
  EXPECT_EQ(M("rol", "129 1 7"), 3);
  EXPECT_EQ(M("ror", "1 1 6"), 32768);
  EXPECT_EQ(M("rol", "2147483648 1"), 1);
  EXPECT_EQ(M("ror", "1 1"), 2147483648.0);
  EXPECT_EQ(M("rol", "305419896 36"), M("rol", "305419896 4"));
  EXPECT_EQ(M("ror", "305419896 -4"), M("rol", "305419896 4"));
  EXPECT_EQ(M("rol", "4660 0 6"), 4660);
  EXPECT_EQ(M("rol", "4660 16 6"), 4660);
  EXPECT_EQ(M("rol", "4660 4 6"), 0x2341);
  EXPECT_EQ(M("ror", "4660 4 6"), 0x4123);
  EXPECT_EQ(Fails("rol", "1 1 3"), ERR_WRONGUSAGE);
}

TEST_F(MathLibrary, RandomNumbersStayInRange) {
  EXPECT_EQ(M("rnd", "0"), 0);
  EXPECT_EQ(M("rnd", "1"), 0);
  EXPECT_EQ(Fails("rnd", "-1"), ERR_WRONGUSAGE);
  // Each of 0..5 comes up, nothing else does; RndF stays in [0, 1).
  std::string body = "loadk 1 #0\nloadk 2 #599\nloadk 3 #1\nloop:\n"
                     ".call base=5 rnd 6 -> v\n.call base=5 hist $v\n"
                     ".call base=5 rndf -> f\n.call base=5 histf $f\nforloop 1 loop";
  static int counts[7];
  static int badFloats;
  std::fill(std::begin(counts), std::end(counts), 0);
  badFloats = 0;
  vltest::SetGlobalNative(L, "hist", [](vlVMState* s) {
    double v = vl::ToNumberAt(s, 1);
    counts[v >= 0 && v <= 5 && v == std::floor(v) ? static_cast<int>(v) : 6]++;
    return 0;
  });
  vltest::SetGlobalNative(L, "histf", [](vlVMState* s) {
    double v = vl::ToNumberAt(s, 1);
    if (!(v >= 0 && v < 1)) badFloats++;
    return 0;
  });
  ASSERT_EQ(Run(body), 0);
  for (int i = 0; i < 6; ++i) EXPECT_GT(counts[i], 40) << i;
  EXPECT_EQ(counts[6], 0);
  EXPECT_EQ(badFloats, 0);
  // The generator is drand48's: the same seed draws the same numbers.
  srand48(42);
  double first = M("rndf", "");
  srand48(42);
  EXPECT_EQ(drand48(), first);
}

// Every libm wrapper gives python3's math module's bits.
TEST_F(MathLibrary, LibmWrappersMatchPython) {
  struct Fn {
    const char* command;
    const char* python;
    int args;
    double low, high;
  } fns[] = {{"sin", "math.sin", 1, -10, 10},     {"cos", "math.cos", 1, -10, 10},
             {"tan", "math.tan", 1, -1.5, 1.5},   {"asin", "math.asin", 1, -1, 1},
             {"acos", "math.acos", 1, -1, 1},     {"atan", "math.atan", 1, -50, 50},
             {"atan2", "math.atan2", 2, -5, 5},   {"sqrt", "math.sqrt", 1, 0, 1e6},
             {"ln", "math.log", 1, 0.001, 1e6},   {"exp", "math.exp", 1, -50, 50},
             {"pow", "math.pow", 2, 0.1, 9},      {"hypot", "math.hypot", 2, -1e3, 1e3},
             {"mod", "math.fmod", 2, -1e3, 1e3},  {"deg", "(lambda x: x87(F(x)/F(0.017453292519943295)))", 1, -7, 7},
             {"rad", "(lambda x: x87(F(x)*F(0.017453292519943295)))", 1, -400, 400},
             {"log", "(lambda x,b: x87(F(math.log10(x))/F(math.log10(b))))", 2, 1.5, 1e4},
             {"ld", "(lambda x: x87(F(math.log10(x))/F(0.3010299956639812)))", 1, 0.01, 1e9},
             {"div", "(lambda a,b: x87(F(a)/F(b)))", 2, -1e3, 1e3},
             {"mul", "(lambda a,b: x87(F(a)*F(b)))", 2, -1e3, 1e3}};
  std::mt19937 rng(2024);
  std::ostringstream py;
  // The arithmetic is rounded to extended precision (the processor's long
  // double mantissa) first and only then to a double.
  py << "import math\nfrom fractions import Fraction as F\nD = " << std::numeric_limits<long double>::digits
     << "\ndef x87(q):\n"
        "  if q == 0: return 0.0\n"
        "  s = F(2) ** (D - 1 - (abs(q).numerator.bit_length() - abs(q).denominator.bit_length()))\n"
        "  while abs(q) * s >= 2 ** D: s /= 2\n"
        "  while abs(q) * s < 2 ** (D - 1): s *= 2\n"
        "  return float(F(round(q * s)) / s)\n";
  std::vector<std::string> calls;
  for (const Fn& f : fns) {
    std::uniform_real_distribution<double> d(f.low, f.high);
    for (int i = 0; i < 20; ++i) {
      double a = d(rng), b = d(rng);
      std::string args = N(a);
      if (f.args == 2) args.append(" ").append(N(b));
      calls.push_back(std::string(f.command) + " " + args);
      py << "print(" << f.python << "(float.fromhex('" << std::hexfloat << a << "')"
         << (f.args == 2 ? ", float.fromhex('" : "");
      if (f.args == 2) py << b << "')";
      py << std::defaultfloat << ").hex())\n";
    }
  }
  std::istringstream expected(vltest::RunPython(py.str()));
  for (const std::string& call : calls) {
    std::string want;
    expected >> want;
    size_t space = call.find(' ');
    EXPECT_EQ(M(call.substr(0, space), call.substr(space + 1)), std::strtod(want.c_str(), nullptr)) << call;
  }
}

}  // namespace

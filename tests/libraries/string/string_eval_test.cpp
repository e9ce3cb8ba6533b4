// Eval from assembled scripts: precedence, integer and bitwise operators,
// logic, variables, every error, and random arithmetic checked against
// python3's evaluation of the same expressions.
#include <functional>
#include <random>
#include <sstream>

#include "libraries/string/string_eval.h"
#include "tests/libraries/string/string_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::StringLibrary;

class Eval : public StringLibrary {
 protected:
  double E(const std::string& expression, const std::string& options = "") {
    return CallNum("eval", Q(expression) + (options.empty() ? "" : " " + options));
  }
  // The error code of an expression that must fail.
  int Fails(const std::string& expression, const std::string& options = "") {
    return Call("eval", Q(expression) + (options.empty() ? "" : " " + options));
  }
};

TEST_F(Eval, PrecedenceAndOperators) {
  EXPECT_EQ(E("1+2*3"), 7);
  EXPECT_EQ(E("(1+2)*3"), 9);
  EXPECT_EQ(E("2^3^2"), 512);
  EXPECT_EQ(E("-2^2"), -4);
  EXPECT_EQ(E("2*-3"), -6);
  EXPECT_EQ(E("10-4-3"), 3);
  EXPECT_EQ(E("7\\2"), 3);
  EXPECT_EQ(E("-7\\2"), -3);
  EXPECT_EQ(E("-7%2"), -1);
  EXPECT_EQ(E("7.9%2.9"), 1);
  EXPECT_EQ(E("7/2"), 3.5);
  EXPECT_EQ(E("$FF & 15"), 15);
  EXPECT_EQ(E("0x10 | 1"), 17);
  EXPECT_EQ(E("1 << 31"), 2147483648.0);
  EXPECT_EQ(E("1 << 33"), 2);
  EXPECT_EQ(E("-1 >> 28"), 15);
  EXPECT_EQ(E("~0"), 4294967295.0);
  EXPECT_EQ(E("~-1"), 0);
  EXPECT_EQ(E("6 ~ 3"), 5);
  EXPECT_EQ(E("1 | 2 & 3"), 3);
  EXPECT_EQ(E("1 + 2 << 1"), 6);
  EXPECT_EQ(E("3 > 2 and 5"), 5);
  EXPECT_EQ(E("0 and 5"), 0);
  EXPECT_EQ(E("0 or 5"), 5);
  EXPECT_EQ(E("4 or 5"), 4);
  EXPECT_EQ(E("not 3"), 0);
  EXPECT_EQ(E("not 0"), 1);
  EXPECT_EQ(E("1 AND 2 Or 0"), 2);
  EXPECT_EQ(E("1 = 1"), 1);
  EXPECT_EQ(E("1 <> 1"), 0);
  EXPECT_EQ(E("2 <= 2"), 1);
  EXPECT_EQ(E("2 >= 3"), 0);
  EXPECT_EQ(E("1 < 2 = 1"), 1);
  EXPECT_EQ(E("\t 4 \t"), 4);
  // The lowest integer divided by -1 stays defined.
  EXPECT_EQ(E("-2147483648 \\ -1"), 2147483648.0);
  EXPECT_EQ(E("-2147483648 % -1"), 0);
}

TEST_F(Eval, VariablesCompareByWholeWords) {
  const std::string vars = "{ variables = { { name = \"x\", value = 2 }, { name = \"xy\", value = 3 }, "
                           "{ name = \"a_b$!\", value = 10 }, { name = \"novalue\" } } }";
  EXPECT_EQ(E("xy*x", vars), 6);
  EXPECT_EQ(E("X+1", vars), 3);
  EXPECT_EQ(E("A_B$! - novalue", vars), 10);
  EXPECT_EQ(Fails("z", vars), ERR_VALUEEXPECTED);
  EXPECT_EQ(E("1", "{ }"), 1);
  EXPECT_EQ(Fails("1", "{ variables = { { name = \"" + std::string(65, 'v') + "\" } } }"), ERR_WRONGUSAGE);
  EXPECT_EQ(E("v", "{ variables = { { name = \"" + std::string(63, 'v') + "\", value = 1 }, "
                   "{ name = \"v\", value = 4 } } }"),
            4);
  EXPECT_EQ(Fails("1", "{ variables = { { name = \"1x\" } } }"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("1", "{ variables = { { value = 1 } } }"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("1", "{ variables = { 5 } }"), ERR_WRONGUSAGE);
  EXPECT_EQ(Fails("1", "{ variables = { { name = { } } } }"), ERR_STRTABLEARG);
  EXPECT_EQ(Fails("1", "5"), ERR_TABEXPECTED);
}

TEST_F(Eval, ErrorsStopTheEvaluation) {
  EXPECT_EQ(Fails(""), ERR_VALUEEXPECTED);
  EXPECT_EQ(Fails("1 2"), ERR_SYNTAXERROR);
  EXPECT_EQ(Fails("(1"), ERR_UNMPARENTHESES);
  EXPECT_EQ(Fails("1)"), ERR_SYNTAXERROR);
  EXPECT_EQ(Fails("1 .. 2"), ERR_WRONGOPCST);
  EXPECT_EQ(Fails("1<<2"), ERR_VALUEEXPECTED);
  EXPECT_EQ(Fails("7/0"), ERR_ZERODIVISION);
  EXPECT_EQ(Fails("7\\0.5"), ERR_ZERODIVISION);
  EXPECT_EQ(Fails("7%0"), ERR_ZERODIVISION);
  EXPECT_EQ(Fails("0 and 1/0"), ERR_ZERODIVISION);
  EXPECT_EQ(Fails("$"), ERR_SYNTAXERROR);
  EXPECT_EQ(Fails("1 +"), ERR_VALUEEXPECTED);
  EXPECT_EQ(Fails("not3"), ERR_VALUEEXPECTED);
  EXPECT_EQ(Fails(std::string("1\0", 2)), ERR_SYNTAXERROR);
  EXPECT_EQ(Fails("1\n"), ERR_SYNTAXERROR);
  // Deep nesting fails cleanly instead of exhausting the native stack.
  EXPECT_EQ(Fails(std::string(100000, '(') + "1"), ERR_STACK);
  EXPECT_EQ(Fails(std::string(100000, '-') + "1"), ERR_STACK);
  EXPECT_EQ(E(std::string(150, '(') + "1" + std::string(150, ')')), 1);
}

// Random sums, products, quotients and powers evaluate as python3 does.
TEST_F(Eval, ArithmeticMatchesPython) {
  std::mt19937 rng(1234);
  auto number = [&] {
    std::uniform_int_distribution<int> d(0, 4);
    switch (d(rng)) {
      case 0: return std::to_string(rng() % 10);
      case 1: return std::to_string(rng() % 1000) + "." + std::to_string(rng() % 100);
      case 2: return std::to_string(rng() % 100000);
      default: return std::to_string(rng() % 20);
    }
  };
  std::function<std::string(int)> expr = [&](int depth) -> std::string {
    int kind = depth > 3 ? 0 : static_cast<int>(rng() % 6);
    switch (kind) {
      case 0: return number();
      case 1: return std::string("(").append(expr(depth + 1)).append(")");
      case 2: return std::string("-").append(expr(depth + 1));
      case 3: return expr(depth + 1) + "^" + std::to_string(rng() % 4);
      default: {
        const char* ops[] = {"+", "-", "*", "/"};
        return expr(depth + 1) + " " + ops[rng() % 4] + " " + expr(depth + 1);
      }
    }
  };
  std::vector<std::string> cases;
  std::ostringstream py;
  // Every number becomes a python float, so products stay doubles.
  py << "import math, re\n"
        "def ev(e):\n"
        "  e=re.sub(r'[0-9]+(\\.[0-9]+)?', lambda m: 'float(\"'+m.group(0)+'\")', e.replace('^','**'))\n"
        "  try:\n"
        "    v=eval(e)\n"
        "    print('nan' if math.isnan(v) else v.hex())\n"
        "  except ZeroDivisionError: print('zd')\n"
        "  except OverflowError: print('of')\n";
  for (int i = 0; i < 300; ++i) {
    cases.push_back(expr(0));
    py << "ev('" << cases.back() << "')\n";
  }
  std::istringstream expected(vltest::RunPython(py.str()));
  for (const std::string& c : cases) {
    std::string want;
    expected >> want;
    if (want == "of") continue;
    int status = Call("eval", Q(c));
    if (want == "zd") {
      EXPECT_EQ(status, ERR_ZERODIVISION) << c;
    } else if (want == "nan") {
      EXPECT_TRUE(std::isnan(Num("r"))) << c;
    } else {
      ASSERT_EQ(status, 0) << c;
      EXPECT_EQ(Num("r"), std::strtod(want.c_str(), nullptr)) << c;
    }
  }
}

TEST(EvalNames, VariableNameRules) {
  EXPECT_TRUE(IsEvalVariableName("_", 1));
  EXPECT_TRUE(IsEvalVariableName("Ab9_$!", 6));
  EXPECT_FALSE(IsEvalVariableName("9a", 2));
  EXPECT_FALSE(IsEvalVariableName("$a", 2));
  EXPECT_FALSE(IsEvalVariableName("a b", 3));
  EXPECT_FALSE(IsEvalVariableName("", 0));
  EXPECT_TRUE(IsEvalVariableName(std::string(64, 'a').c_str(), 64));
  EXPECT_FALSE(IsEvalVariableName(std::string(65, 'a').c_str(), 65));
}

}  // namespace

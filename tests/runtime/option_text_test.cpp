// Number texts of options and plug-in tags, and '|' lists.
#include "runtime/option_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct NumberCase {
  const char* text;
  double value;
  size_t consumed;
  int error;
};

TEST(ParseNumberString, AllForms) {
  const NumberCase cases[] = {
      {"$FF", 255, 3, 0},
      {"$ff", 255, 3, 0},
      {"%101", 5, 4, 0},
      {"0x1F", 31, 4, 0},
      {"0X1f", 31, 4, 0},
      {"-2.5", -2.5, 4, 0},
      {"$", 0, 0, 1018},
      {"$g", 0, 0, 1018},
      {"0x", 0, 0, 1018},
      {"%", 0, 0, 1018},
      {"%2", 0, 0, 1018},
      {"abc", 0, 0, 1024},
      {"", 0, 0, 1024},
      {"-", 0, 0, 1024},
      {"-.", 0, 0, 1024},
      {"800", 800, 3, 0},
      {"800x600", 800, 3, 0},
      {"50%", 50, 2, 0},
      {".5", 0.5, 2, 0},
      {"1e3", 1000, 3, 0},
      {"1.5e-2px", 0.015, 6, 0},
      {"1e", 1, 1, 0},
      {"-$10", -16, 4, 0},
      {"$-10", -16, 4, 0},
      {"-$-10", 16, 5, 0},
      {"$FFFFFFFF", 4294967295.0, 9, 0},
      {"-%11", -3, 4, 0},
      {"0", 0, 1, 0},
      {"007", 7, 3, 0},
  };
  for (const NumberCase& c : cases) {
    size_t consumed = 99;
    int error = 99;
    double v = ParseNumberString(c.text, &consumed, &error);
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
  int error = 0;
  ParseNumberString(nullptr, nullptr, &error);
  EXPECT_EQ(error, 1024);
  EXPECT_EQ(ParseNumberString("12", nullptr, nullptr), 12);
}

std::vector<std::string> Items(const char* multi) {
  std::vector<std::string> v;
  for (const char* p = multi; *p; p += std::strlen(p) + 1) v.push_back(p);
  return v;
}

TEST(SplitBars, MakesAWalkableMultiString) {
  char* m = SplitBars("fmt|inbuilt|native");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(Items(m), (std::vector<std::string>{"fmt", "inbuilt", "native"}));
  EXPECT_EQ(std::memcmp(m, "fmt\0inbuilt\0native\0", 20), 0);
  std::free(m);
  m = SplitBars("single");
  EXPECT_EQ(Items(m), (std::vector<std::string>{"single"}));
  std::free(m);
  m = SplitBars("");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(Items(m).empty());
  std::free(m);
  EXPECT_EQ(SplitBars(nullptr), nullptr);
}

}  // namespace

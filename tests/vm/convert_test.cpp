#include "vm/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(DoubleToInt, TruncatesTowardZeroInRange) {
  EXPECT_EQ(vl::DoubleToInt32(2.9), 2);
  EXPECT_EQ(vl::DoubleToInt32(-2.9), -2);
  EXPECT_EQ(vl::DoubleToInt32(2147483647.9), 2147483647);
  EXPECT_EQ(vl::DoubleToInt32(-2147483648.9), INT32_MIN);
  EXPECT_EQ(vl::DoubleToInt64(-0.0), 0);
  EXPECT_EQ(vl::DoubleToInt64(9007199254740993.0), 9007199254740992LL);
}

TEST(DoubleToInt, NaNAndOutOfRangeGiveIntegerIndefinite) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double d : {nan, inf, -inf, 2147483648.0, -2147483649.0, 1e300}) {
    EXPECT_EQ(vl::DoubleToInt32(d), INT32_MIN) << d;
  }
  for (double d : {nan, inf, -inf, 9223372036854775808.0, -1e19}) {
    EXPECT_EQ(vl::DoubleToInt64(d), INT64_MIN) << d;
  }
  EXPECT_EQ(vl::DoubleToInt64(-9223372036854775808.0), INT64_MIN);
}

TEST(DoubleToInt, BitPatternsKeepTheLowWord) {
  EXPECT_EQ(vl::DoubleToUInt32Bits(4294967295.0), 0xFFFFFFFFu);
  EXPECT_EQ(vl::DoubleToUInt32Bits(4294967296.0), 0u);
  EXPECT_EQ(vl::DoubleToUInt32Bits(-1.0), 0xFFFFFFFFu);
  EXPECT_EQ(vl::DoubleToUInt32Bits(std::nan("")), 0u);
}

}  // namespace

// The one place where a double becomes an integer. A plain cast is undefined
// for NaN and out-of-range values; these give the x86 "integer indefinite"
// instead, which is what the original processor produced, so scripts see the
// same numbers on every machine and UBSan stays quiet.
#pragma once
#include <cstdint>

namespace vl {

// Truncates toward zero; NaN and values outside int32 give INT32_MIN.
constexpr int32_t DoubleToInt32(double d) {
  if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(d);
}

// Truncates toward zero, holding values outside int32 at its nearest end
// (NaN gives 0): for sizes and places, where a far value must stay far.
constexpr int32_t DoubleToInt32Saturated(double d) {
  if (d != d) return 0;
  if (d <= -2147483648.0) return INT32_MIN;
  if (d >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(d);
}

// Truncates toward zero; NaN and values outside int64 give INT64_MIN.
constexpr int64_t DoubleToInt64(double d) {
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
  return static_cast<int64_t>(d);
}

// Truncates toward zero into 32 bits, wrapping like a 64-bit convert followed
// by taking the low word; used where scripts treat numbers as bit patterns
// ($FFFFFFFF must stay 0xFFFFFFFF). Out of int64 range gives 0.
constexpr uint32_t DoubleToUInt32Bits(double d) {
  return static_cast<uint32_t>(static_cast<uint64_t>(DoubleToInt64(d)));
}

}  // namespace vl

// The math library's commands: each checks its argument count, reads
// numbers and pushes one result (FrExp two) or returns an error code.
// Depends on libm, drand48 and the VM's argument readers.
#include "libraries/math/math_library.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "runtime/error_vm.h"
#include "runtime/objects.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kLog10Of2 = 0.3010299956639812;

// Arithmetic runs in the processor's extended precision and only the result
// is stored back as a double, so a chain like Wrap's keeps the bits that a
// double intermediate would round away.
using Extended = long double;

constexpr int kTypeInteger = 1;
constexpr int kTypeShort = 6;
constexpr int kTypeByte = 7;

double Arg(vlVMState* L, int index) { return vl::CheckNumberArg(L, index); }
// Conversion toward zero to signed 32-bit; out of range gives the lowest value.
int32_t Trunc(double d) { return vl::DoubleToInt32(d); }
// The bit pattern of an int argument.
uint32_t Bits(vlVMState* L, int index) { return static_cast<uint32_t>(vl::CheckIntArg(L, index)); }

int Push(vlVMState* L, double d) {
  vl::PushNumber(L, d);
  return 1;
}

// One-argument commands that only apply a function.
template <double (*F)(double)>
int Unary(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return Push(L, F(Arg(L, 1)));
}

double Degrees(double x) { return static_cast<double>(Extended{x} / kRadiansPerDegree); }
double Radians(double x) { return static_cast<double>(Extended{x} * kRadiansPerDegree); }
double Ld(double x) { return static_cast<double>(Extended{std::log10(x)} / kLog10Of2); }
double Truncated(double x) { return Trunc(x); }
double Fraction(double x) {
  double whole;
  return std::modf(x, &whole);
}
// Halves go to the even neighbour (the default rounding mode).
double Rounded(double x) { return Trunc(std::nearbyint(x)); }
double Sign(double x) { return x < 0 ? -1 : x > 0 ? 1 : 0; }
double AbsValue(double x) { return std::fabs(x); }
double Sine(double x) { return std::sin(x); }
double Cosine(double x) { return std::cos(x); }
double Tangent(double x) { return std::tan(x); }
double ArcSine(double x) { return std::asin(x); }
double ArcCosine(double x) { return std::acos(x); }
double ArcTangent(double x) { return std::atan(x); }
double Ceiling(double x) { return std::ceil(x); }
double Floored(double x) { return std::floor(x); }
double SquareRoot(double x) { return std::sqrt(x); }
double NaturalLog(double x) { return std::log(x); }
double Exponential(double x) { return std::exp(x); }

int CmdATan2(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, std::atan2(Arg(L, 1), Arg(L, 2)));
}

int CmdMod(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  double x = Arg(L, 1), y = Arg(L, 2);
  if (y == 0) return ERR_ZERODIVISION;
  return Push(L, std::fmod(x, y));
}

int CmdFrExp(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int exponent = 0;
  double mantissa = std::frexp(Arg(L, 1), &exponent);
  vl::PushNumber(L, mantissa);
  vl::PushNumber(L, exponent);
  return 2;
}

int CmdLdExp(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, std::ldexp(Arg(L, 1), Trunc(Arg(L, 2))));
}

// Min and Max: a later argument replaces the running value only when
// strictly smaller (larger), so ties keep the first and NaN never wins.
template <bool Smaller>
int Extreme(vlVMState* L) {
  CheckArgs(L, 2, 0, 0, 0);
  double best = Arg(L, 1);
  int n = vl::GetStackTop(L);
  for (int i = 2; i <= n; ++i) {
    double v = Arg(L, i);
    if (Smaller ? v < best : v > best) best = v;
  }
  return Push(L, best);
}

int CmdLog(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, static_cast<double>(Extended{std::log10(Arg(L, 1))} / std::log10(Arg(L, 2))));
}

int CmdPow(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, std::pow(Arg(L, 1), Arg(L, 2)));
}

int CmdRnd(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t n = Trunc(Arg(L, 1));
  if (n < 0) return ERR_WRONGUSAGE;
  return Push(L, Trunc(drand48() * n));
}

int CmdRndF(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return Push(L, drand48());
}

int CmdAdd(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, static_cast<double>(Extended{Arg(L, 1)} + Arg(L, 2)));
}

int CmdSub(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, static_cast<double>(Extended{Arg(L, 1)} - Arg(L, 2)));
}

int CmdMul(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, static_cast<double>(Extended{Arg(L, 1)} * Arg(L, 2)));
}

int CmdDiv(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  double a = Arg(L, 1), b = Arg(L, 2);
  if (b == 0) return ERR_ZERODIVISION;
  return Push(L, static_cast<double>(Extended{a} / b));
}

int CmdShr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t x = Bits(L, 1);
  return Push(L, x >> (Trunc(Arg(L, 2)) & 31));
}

int CmdShl(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t x = Bits(L, 1);
  return Push(L, static_cast<uint32_t>(x << (Trunc(Arg(L, 2)) & 31)));
}

int CmdSar(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t x = static_cast<int32_t>(Bits(L, 1));
  return Push(L, x >> (Trunc(Arg(L, 2)) & 31));
}

int CmdRt(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  double x = Arg(L, 1), n = Arg(L, 2);
  if (n == 0) return ERR_ZERODIVISION;
  if (n < 0) return ERR_WRONGUSAGE;
  return Push(L, std::pow(x, static_cast<double>(1 / Extended{n})));
}

int CmdWrap(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  double x = Arg(L, 1), low = Arg(L, 2), high = Arg(L, 3);
  if (x < low) return Push(L, static_cast<double>(Extended{x} - low + high));
  if (x >= high) return Push(L, static_cast<double>(Extended{x} - high + low));
  return Push(L, x);
}

int CmdLimit(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  double x = Arg(L, 1), low = Arg(L, 2), high = Arg(L, 3);
  return Push(L, x < low ? low : x > high ? high : x);
}

// The bit number of BitSet, BitTest and BitClear; -1 when outside 0..31.
int BitNumber(vlVMState* L) {
  int32_t b = Trunc(Arg(L, 2));
  return b >= 0 && b <= 31 ? b : -1;
}

int CmdBitSet(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t x = Bits(L, 1);
  int b = BitNumber(L);
  if (b < 0) return ERR_WRONGUSAGE;
  return Push(L, x | (1u << b));
}

int CmdBitTest(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t x = Bits(L, 1);
  int b = BitNumber(L);
  if (b < 0) return ERR_WRONGUSAGE;
  return Push(L, (x >> b) & 1);
}

int CmdBitClear(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t x = Bits(L, 1);
  int b = BitNumber(L);
  if (b < 0) return ERR_WRONGUSAGE;
  return Push(L, x & ~(1u << b));
}

int CmdBitXor(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, Bits(L, 1) ^ Bits(L, 2));
}

int CmdBitComplement(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return Push(L, static_cast<uint32_t>(~Bits(L, 1)));
}

// Rol and Ror: 32-bit rotation, or for SHORT and BYTE the narrow formulas
// (a rotation for counts up to the width).
template <bool Left>
int Rotate(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  uint32_t x = Bits(L, 1);
  int32_t n = Trunc(Arg(L, 2));
  int32_t type = vl::GetTypeAt(L, 3) == VL_TNONE ? kTypeInteger : Trunc(Arg(L, 3));
  uint32_t width, mask;
  switch (type) {
    case kTypeInteger: {
      uint32_t k = static_cast<uint32_t>(n) & 31;
      if (k == 0) return Push(L, x);
      return Push(L, Left ? (x << k) | (x >> (32 - k)) : (x >> k) | (x << (32 - k)));
    }
    case kTypeShort: width = 16, mask = 0xFFFF; break;
    case kTypeByte: width = 8, mask = 0xFF; break;
    default: return ERR_WRONGUSAGE;
  }
  uint32_t v = x & mask;
  uint32_t near = static_cast<uint32_t>(n) & 31;
  uint32_t far = (width - static_cast<uint32_t>(n)) & 31;
  uint32_t r = Left ? (v << near) | (v >> far) : (v >> near) | (v << far);
  return Push(L, r & mask);
}

int CmdCast(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  uint32_t x = Bits(L, 1);
  bool isSigned = Trunc(Arg(L, 2)) != 0;
  switch (Trunc(Arg(L, 3))) {
    case kTypeInteger: return Push(L, isSigned ? static_cast<double>(static_cast<int32_t>(x)) : x);
    case kTypeShort:
      return Push(L, isSigned ? static_cast<double>(static_cast<int16_t>(x & 0xFFFF)) : (x & 0xFFFF));
    case kTypeByte: return Push(L, isSigned ? static_cast<double>(static_cast<int8_t>(x & 0xFF)) : (x & 0xFF));
    default: return ERR_WRONGUSAGE;
  }
}

int CmdHypot(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return Push(L, std::hypot(Arg(L, 1), Arg(L, 2)));
}

int CmdEndianSwap(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t x = Bits(L, 1);
  switch (Trunc(Arg(L, 2))) {
    case 16: return Push(L, ((x & 0xFF) << 8) | ((x >> 8) & 0xFF));
    case 32: return Push(L, __builtin_bswap32(x));
    default: return ERR_WRONGUSAGE;
  }
}

const vlCommand kMathCommands[] = {
    {"Abs", Unary<AbsValue>},
    {"Sin", Unary<Sine>},
    {"Cos", Unary<Cosine>},
    {"Tan", Unary<Tangent>},
    {"ASin", Unary<ArcSine>},
    {"ACos", Unary<ArcCosine>},
    {"ATan", Unary<ArcTangent>},
    {"ATan2", CmdATan2},
    {"Ceil", Unary<Ceiling>},
    {"Floor", Unary<Floored>},
    {"Mod", CmdMod},
    {"FrExp", CmdFrExp},
    {"LdExp", CmdLdExp},
    {"Sqrt", Unary<SquareRoot>},
    {"Min", Extreme<true>},
    {"Max", Extreme<false>},
    {"Log", CmdLog},
    {"Ld", Unary<Ld>},
    {"Ln", Unary<NaturalLog>},
    {"Exp", Unary<Exponential>},
    {"Deg", Unary<Degrees>},
    {"Pow", CmdPow},
    {"Rad", Unary<Radians>},
    {"Rnd", CmdRnd},
    {"RndF", CmdRndF},
    {"Add", CmdAdd},
    {"Sub", CmdSub},
    {"Mul", CmdMul},
    {"Div", CmdDiv},
    {"Round", Unary<Rounded>},
    {"Int", Unary<Truncated>},
    {"Frac", Unary<Fraction>},
    {"Shr", CmdShr},
    {"Shl", CmdShl},
    {"Rt", CmdRt},
    {"Wrap", CmdWrap},
    {"Limit", CmdLimit},
    {"BitSet", CmdBitSet},
    {"BitTest", CmdBitTest},
    {"BitClear", CmdBitClear},
    {"BitXor", CmdBitXor},
    {"BitComplement", CmdBitComplement},
    {"Sgn", Unary<Sign>},
    {"Sar", CmdSar},
    {"Ror", Rotate<false>},
    {"Rol", Rotate<true>},
    {"Cast", CmdCast},
    {"Hypot", CmdHypot},
    {"EndianSwap", CmdEndianSwap},
    {nullptr, nullptr}};

const vlConstant kMathConstants[] = {{"PI", nullptr, 3.141592653589793}, {nullptr, nullptr, 0}};

}  // namespace

int OpenMathLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kMathCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kMathCommands, "math")) return status;
  vl::RegisterConstants(L, kMathConstants, 0);
  time_t now = time(nullptr);
  srand(static_cast<unsigned>(now));
  srand48(static_cast<long>(now));
  return 0;
}

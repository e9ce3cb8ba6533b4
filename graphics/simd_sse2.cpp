// The vectorised kernels for SSE2, the baseline of every x86-64 processor.
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "graphics/simd_kernels.h"

namespace {

struct V {
  using R = __m128i;
  static constexpr int kBytes = 16;
  static constexpr int kLanes16 = 8;
  static constexpr uint64_t kAllAlpha = 0xFFFFFFFFu;
  static constexpr uint32_t kAllBits = 0xF;
  static R Load(const void* p) { return _mm_loadu_si128(static_cast<const R*>(p)); }
  static void Store(void* p, R v) { _mm_storeu_si128(static_cast<R*>(p), v); }
  static R Zero() { return _mm_setzero_si128(); }
  static R Ones() { return _mm_set1_epi32(-1); }
  static R Set32(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static R Set16(uint16_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static R Lo8(R a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
  static R Hi8(R a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
  static R Pack16(R lo, R hi) { return _mm_packus_epi16(lo, hi); }
  static R PackInOrder16(R lo, R hi) { return _mm_packus_epi16(lo, hi); }
  static R Add16(R a, R b) { return _mm_add_epi16(a, b); }
  static R Unpack8Lo(R a, R b) { return _mm_unpacklo_epi8(a, b); }
  static R Unpack8Hi(R a, R b) { return _mm_unpackhi_epi8(a, b); }
  static R Sub16(R a, R b) { return _mm_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm_mullo_epi16(a, b); }
  static R MulHi16(R a, R b) { return _mm_mulhi_epi16(a, b); }
  static R Srl16(R a, int n) { return _mm_srli_epi16(a, n); }
  static R Sra16(R a, int n) { return _mm_srai_epi16(a, n); }
  static R Set8(uint8_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
  static R SubSat8(R a, R b) { return _mm_subs_epu8(a, b); }
  static R AndNot(R a, R b) { return _mm_andnot_si128(a, b); }
  static R Xor(R a, R b) { return _mm_xor_si128(a, b); }
  static R Sll16(R a, int n) { return _mm_slli_epi16(a, n); }
  static R AddSat8(R a, R b) { return _mm_adds_epu8(a, b); }
  static R And(R a, R b) { return _mm_and_si128(a, b); }
  static R Or(R a, R b) { return _mm_or_si128(a, b); }
  static R CmpEq16(R a, R b) { return _mm_cmpeq_epi16(a, b); }
  // Colour conversions: 16- and 32-bit lanes.
  static R Max16(R a, R b) { return _mm_max_epi16(a, b); }
  static R Min16(R a, R b) { return _mm_min_epi16(a, b); }
  static R MAdd16(R a, R b) { return _mm_madd_epi16(a, b); }
  static R Unpack16Lo(R a, R b) { return _mm_unpacklo_epi16(a, b); }
  static R Unpack16Hi(R a, R b) { return _mm_unpackhi_epi16(a, b); }
  // Signed saturation; after Unpack16Lo/Hi of the same registers the
  // values come back in their first order.
  static R PackS32(R lo, R hi) { return _mm_packs_epi32(lo, hi); }
  // Two registers of consecutive 32-bit values from 0 to 65535 into
  // consecutive 16-bit lanes (sign-extended first: SSE2 packs signed only).
  static R PackInOrderU32(R lo, R hi) {
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 16), 16), _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16));
  }
  // Stores Unpack16Lo and Unpack16Hi of the same registers as consecutive
  // 32-bit lanes.
  static void StoreUnpacked32(void* p, R lo, R hi) {
    Store(p, lo);
    Store(static_cast<uint8_t*>(p) + 16, hi);
  }
  // Four bytes of each 32-bit lane in reverse order.
  static R Swap32(R a) {
    const R m = _mm_set1_epi32(0x00FF00FF);
    a = _mm_or_si128(_mm_slli_epi32(a, 16), _mm_srli_epi32(a, 16));
    return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(a, 8), m), _mm_slli_epi16(_mm_and_si128(a, m), 8));
  }
  // Eight coverage bytes as 16-bit lanes.
  static R Widen8(const uint8_t* a) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const R*>(a)), _mm_setzero_si128());
  }
  static R CmpEq8(R a, R b) { return _mm_cmpeq_epi8(a, b); }
  // mask ? a : b
  static R Select(R m, R a, R b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }
  // The coverage bytes of one register's pixels as one word.
  static uint64_t AlphaWord(const uint8_t* a) {
    uint32_t v;
    std::memcpy(&v, a, 4);
    return v;
  }
  // Each coverage byte repeated over its pixel's four bytes.
  static R ExpandBytes(const uint8_t* a) {
    uint32_t v;
    std::memcpy(&v, a, 4);
    R r = _mm_cvtsi32_si128(static_cast<int>(v));
    r = _mm_unpacklo_epi8(r, r);
    return _mm_unpacklo_epi16(r, r);
  }
  // 32-bit lanes: the low half of products, compares, shifts.
  static R Add32(R a, R b) { return _mm_add_epi32(a, b); }
  static R Mul32(R a, R b) {
    const R even = _mm_mul_epu32(a, b), odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
  }
  static R MulEven32(R a, R b) { return _mm_mul_epu32(a, b); }  // unsigned, 64-bit products of lanes 0 and 2
  static R Srl64(R a, int n) { return _mm_srli_epi64(a, n); }
  static R Sll32(R a, int n) { return _mm_slli_epi32(a, n); }
  static R Srl32(R a, int n) { return _mm_srli_epi32(a, n); }
  static R Sra32(R a, int n) { return _mm_srai_epi32(a, n); }
  // The lanes of the first (last) half, each twice.
  static R TwiceLo32(R a) { return _mm_unpacklo_epi32(a, a); }
  static R TwiceHi32(R a) { return _mm_unpackhi_epi32(a, a); }
  static R CmpGt32(R a, R b) { return _mm_cmpgt_epi32(a, b); }
  // One register's pixel bytes, each as a 32-bit lane; half of them, each twice.
  // Single-precision lanes: exact for the integers below 2^24 the cover
  // rule works in, and a quotient truncated is the integer quotient.
  using F = __m128;
  static F ToF(R a) { return _mm_cvtepi32_ps(a); }
  static R ToI(F a) { return _mm_cvttps_epi32(a); }
  static F SetF(float v) { return _mm_set1_ps(v); }
  static F AddF(F a, F b) { return _mm_add_ps(a, b); }
  static F SubF(F a, F b) { return _mm_sub_ps(a, b); }
  static F MulF(F a, F b) { return _mm_mul_ps(a, b); }
  static F DivF(F a, F b) { return _mm_div_ps(a, b); }
  static F MinF(F a, F b) { return _mm_min_ps(a, b); }
  static R IsZeroF(F a) { return _mm_castps_si128(_mm_cmpeq_ps(a, _mm_setzero_ps())); }
  static R Bytes32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    const R r = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
    return _mm_unpacklo_epi16(r, _mm_setzero_si128());
  }
  static R HalfBytes32(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    R r = _mm_cvtsi32_si128(v);
    r = _mm_unpacklo_epi8(r, r);
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(r, _mm_setzero_si128()), _mm_setzero_si128());
  }
  // 32-bit lanes below 65536 as 16 bits, stored (half a register).
  static void StoreLow16(uint8_t* p, R a) {
    const R bias = _mm_set1_epi32(0x8000);
    const R packed = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(a, bias), bias), _mm_set1_epi16(-0x8000));
    _mm_storel_epi64(reinterpret_cast<R*>(p), packed);
  }
  // The mask bits of one register's pixels, first pixel in the top bit.
  static uint32_t MaskBits(const uint8_t* row, int32_t i);
  static R BitsToMask(uint32_t bits) {
    const R sel = _mm_set_epi32(1, 2, 4, 8);
    return _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(static_cast<int>(bits)), sel), sel);
  }
};

}  // namespace

#define VL_NS vl_sse2
#include "graphics/simd_kernels.inc"

uint32_t V::MaskBits(const uint8_t* row, int32_t i) {
  // Only the four bits needed are read, so a row's last byte is not overrun.
  uint32_t b = 0;
  for (int k = 0; k < 4; ++k) b = b << 1 | static_cast<uint32_t>(GetBit(row, i + k));
  return b;
}

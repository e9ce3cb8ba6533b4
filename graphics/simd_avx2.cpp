// The vectorised kernels for AVX2; this file alone is compiled for AVX2
// and runs only after the processor has been asked whether it has it.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "graphics/simd_kernels.h"

namespace {

struct V {
  using R = __m256i;
  static constexpr int kBytes = 32;
  static constexpr int kLanes16 = 16;
  static constexpr uint64_t kAllAlpha = ~uint64_t{0};
  static constexpr uint32_t kAllBits = 0xFF;
  static R Load(const void* p) { return _mm256_loadu_si256(static_cast<const R*>(p)); }
  static void Store(void* p, R v) { _mm256_storeu_si256(static_cast<R*>(p), v); }
  static R Zero() { return _mm256_setzero_si256(); }
  static R Ones() { return _mm256_set1_epi32(-1); }
  static R Set32(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static R Set16(uint16_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  // In-lane unpacking; Pack16 undoes it lane by lane, so pixel order holds.
  static R Lo8(R a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
  static R Hi8(R a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }
  static R Pack16(R lo, R hi) { return _mm256_packus_epi16(lo, hi); }
  // Packs two registers of consecutive 16-bit values into consecutive bytes.
  static R PackInOrder16(R lo, R hi) { return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8); }
  static R Add16(R a, R b) { return _mm256_add_epi16(a, b); }
  static R Unpack8Lo(R a, R b) { return _mm256_unpacklo_epi8(a, b); }
  static R Unpack8Hi(R a, R b) { return _mm256_unpackhi_epi8(a, b); }
  static R Sub8(R a, R b) { return _mm256_sub_epi8(a, b); }
  static R MAddUbs(R u, R s) { return _mm256_maddubs_epi16(u, s); }
  static R Sub16(R a, R b) { return _mm256_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm256_mullo_epi16(a, b); }
  static R MulHi16(R a, R b) { return _mm256_mulhi_epi16(a, b); }
  static R Srl16(R a, int n) { return _mm256_srli_epi16(a, n); }
  static R Sra16(R a, int n) { return _mm256_srai_epi16(a, n); }
  static R Set8(uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
  static R SubSat8(R a, R b) { return _mm256_subs_epu8(a, b); }
  static R AndNot(R a, R b) { return _mm256_andnot_si256(a, b); }
  static R Xor(R a, R b) { return _mm256_xor_si256(a, b); }
  static R Sll16(R a, int n) { return _mm256_slli_epi16(a, n); }
  static R AddSat8(R a, R b) { return _mm256_adds_epu8(a, b); }
  static R And(R a, R b) { return _mm256_and_si256(a, b); }
  static R Or(R a, R b) { return _mm256_or_si256(a, b); }
  static R CmpEq16(R a, R b) { return _mm256_cmpeq_epi16(a, b); }
  // Colour conversions: 16- and 32-bit lanes.
  static R Max16(R a, R b) { return _mm256_max_epi16(a, b); }
  static R Min16(R a, R b) { return _mm256_min_epi16(a, b); }
  static R MAdd16(R a, R b) { return _mm256_madd_epi16(a, b); }
  // In-lane, like Lo8/Hi8: PackS32 and StoreUnpacked32 restore the order.
  static R Unpack16Lo(R a, R b) { return _mm256_unpacklo_epi16(a, b); }
  static R Unpack16Hi(R a, R b) { return _mm256_unpackhi_epi16(a, b); }
  static R PackS32(R lo, R hi) { return _mm256_packs_epi32(lo, hi); }
  // Two registers of consecutive 32-bit values from 0 to 65535 into
  // consecutive 16-bit lanes.
  static R PackInOrderU32(R lo, R hi) { return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8); }
  static void StoreUnpacked32(void* p, R lo, R hi) {
    Store(p, _mm256_permute2x128_si256(lo, hi, 0x20));
    Store(static_cast<uint8_t*>(p) + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  static R Swap32(R a) {
    const R order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6, 5, 4,
                                     11, 10, 9, 8, 15, 14, 13, 12);
    return _mm256_shuffle_epi8(a, order);
  }
  // Sixteen coverage bytes as 16-bit lanes.
  static R Widen8(const uint8_t* a) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
  }
  static R CmpEq8(R a, R b) { return _mm256_cmpeq_epi8(a, b); }
  static R Select(R m, R a, R b) { return _mm256_blendv_epi8(b, a, m); }
  static uint64_t AlphaWord(const uint8_t* a) {
    uint64_t v;
    std::memcpy(&v, a, 8);
    return v;
  }
  static R ExpandBytes(const uint8_t* a) {
    const R w = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)));
    const R spread = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0, 0, 0, 4, 4, 4, 4, 8,
                                      8, 8, 8, 12, 12, 12, 12);
    return _mm256_shuffle_epi8(w, spread);
  }
  static R Add32(R a, R b) { return _mm256_add_epi32(a, b); }
  static R Mul32(R a, R b) { return _mm256_mullo_epi32(a, b); }
  static R MulEven32(R a, R b) { return _mm256_mul_epu32(a, b); }
  static R Srl64(R a, int n) { return _mm256_srli_epi64(a, n); }
  static R Sll32(R a, int n) { return _mm256_slli_epi32(a, n); }
  static R Srl32(R a, int n) { return _mm256_srli_epi32(a, n); }
  static R Sra32(R a, int n) { return _mm256_srai_epi32(a, n); }
  // The lanes of the first (last) half, each twice.
  static R TwiceLo32(R a) { return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3)); }
  static R TwiceHi32(R a) { return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7)); }
  static R CmpGt32(R a, R b) { return _mm256_cmpgt_epi32(a, b); }
  // Single-precision lanes: exact for the integers below 2^24 the cover
  // rule works in, and a quotient truncated is the integer quotient.
  using F = __m256;
  static F ToF(R a) { return _mm256_cvtepi32_ps(a); }
  static R ToI(F a) { return _mm256_cvttps_epi32(a); }
  static F SetF(float v) { return _mm256_set1_ps(v); }
  static F AddF(F a, F b) { return _mm256_add_ps(a, b); }
  static F SubF(F a, F b) { return _mm256_sub_ps(a, b); }
  static F MulF(F a, F b) { return _mm256_mul_ps(a, b); }
  static F DivF(F a, F b) { return _mm256_div_ps(a, b); }
  static F MinF(F a, F b) { return _mm256_min_ps(a, b); }
  static R IsZeroF(F a) { return _mm256_castps_si256(_mm256_cmp_ps(a, _mm256_setzero_ps(), _CMP_EQ_OQ)); }
  static R Bytes32(const uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
  static R HalfBytes32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    const __m128i r = _mm_cvtsi32_si128(static_cast<int>(v));
    return _mm256_cvtepu8_epi32(_mm_unpacklo_epi8(r, r));
  }
  static void StoreLow16(uint8_t* p, R a) {
    const __m128i packed = _mm_packus_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
  }
  static uint32_t MaskBits(const uint8_t* row, int32_t i);
  static R BitsToMask(uint32_t bits) {
    const R sel = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), sel), sel);
  }
};

}  // namespace

#define VL_NS vl_avx2
#include "graphics/simd_kernels.inc"

uint32_t V::MaskBits(const uint8_t* row, int32_t i) {
  // Reads the second byte only when the bits straddle it.
  return MaskByte(row, i);
}

// The vectorised pixel kernels, one set per instruction set (SSE2 is the
// x86-64 baseline, AVX2 is compiled apart and used only when the processor
// has it). They give the same bytes as the general kernels; fast_paths.cpp
// lists which of them serve which formats.
#pragma once
#include <cstddef>
#include <cstdint>

// 32-bit pixels: the colour bytes of a format are those of colourMask
// (0x00FFFFFF for formats 10 and 13, 0xFFFFFF00 for 11 and 12); computed
// pixels get 0 in the other byte.
#define VL_SIMD_KERNELS(NS)                                                                                        \
  namespace NS {                                                                                                   \
  /* Source over target by an 8-bit coverage plane: 0 keeps, 255 copies, else blends. */                          \
  void AlphaBlend32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,      \
                    const uint8_t* alpha, int32_t alphaRowBytes, uint32_t colourMask);                             \
  /* A colour (stored byte order) over the target by a coverage plane, like AlphaBlend32; quadruple reads */   \
  /* each coverage byte as min(4a, 255). */                                                                      \
  void CoverageColour32(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, const uint8_t* cov,                 \
                        int32_t covRowBytes, uint32_t colour, int quadruple, uint32_t colourMask);               \
  /* AlphaBlend32 for RGB565 pixels (format 4). */                                                               \
  void AlphaBlend565(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,    \
                     const uint8_t* alpha, int32_t alphaRowBytes);                                               \
  /* Source pixel where the mask bit (from maskBit on, most significant first) is set. */                        \
  void MaskCopy32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,       \
                  const uint8_t* mask, int32_t maskRowBytes, int32_t maskBit);                                   \
  /* Source pixel where the coverage byte is non-zero. */                                                          \
  void CoverageCopy32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,    \
                      const uint8_t* cov, int32_t covRowBytes);                                                    \
  /* A colour (in the stored byte order) blended by a over every pixel. */                                         \
  void BlendColor32(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t color, int32_t a,              \
                    uint32_t colourMask);                                                                          \
  void Fill32(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t pixel);                                \
  /* Each of count 32-bit words ANDed with keep. */                                                              \
  void AndWords32(uint8_t* words, size_t count, uint32_t keep);                                                   \
  /* dst[i] = src[i] * intensity / 255 (intensity 0 to 255). */                                                  \
  void ScaleBytes(const uint8_t* src, uint8_t* dst, int32_t count, int32_t intensity);                           \
  /* The cover rule (graphics/cover_over.h) over count pixels; the outputs may be the first inputs. */            \
  void CoverOverRow(const uint32_t* rgb, const uint8_t* a, const uint32_t* underRgb, const uint8_t* under,       \
                    uint32_t* outRgb, uint8_t* outCover, int32_t count);                                         \
  /* One row of the dissolve's 8-bit planes; src may be null (opaque). */                                        \
  void DissolveBytes(const uint8_t* map, const uint8_t* src, uint8_t* dst, int32_t count, int32_t level,         \
                     int disappear);                                                                               \
  /* target = s + (((d - s) * (255 - ratio)) >> 8) where the mask bit is set (every pixel without a mask), */     \
  /* d from toward (rows of towardRow pixels) or, when it is null, the target itself. */                         \
  void Mix32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,             \
             int32_t ratio, const uint8_t* mask, int32_t maskRowBytes, int32_t maskBit, const uint8_t* toward,   \
             int32_t towardRow, uint32_t colourMask);                                                              \
  /* Bilinear rows: out[4i + c] = p + (((p' - p) * frac) >> 16) for the pixel pair at column index[i], with */  \
  /* frac4 holding each output's fraction four times; a pair whose right neighbour lies at or past srcWidth */    \
  /* repeats the pixel. src1 (or null) is a second row done alongside into out1. */                             \
  void ScaleRowH32(const uint8_t* src0, const uint8_t* src1, const int32_t* index, const uint16_t* frac4,        \
                   int32_t count, int32_t srcWidth, uint16_t* out0, uint16_t* out1);                             \
  /* dst[i] = top + (((bottom - top) * fy) >> 16) over count 32-bit pixels of channel rows. */                     \
  void ScaleRowV32(const uint16_t* top, const uint16_t* bottom, uint32_t fy, uint8_t* dst, int32_t count,       \
                   uint32_t colourMask);                                                                           \
  /* Nearest rows: dst[i] = src[index[i]] for count pixels of 4 or 2 bytes; the columns never decrease and */     \
  /* stay below srcWidth, and nothing at or past srcWidth is read. */                                             \
  void NearestRow32(const uint8_t* src, const int32_t* index, int32_t count, int32_t srcWidth, uint8_t* dst);     \
  void NearestRow16(const uint8_t* src, const int32_t* index, int32_t count, int32_t srcWidth, uint8_t* dst);     \
  /* Video rows by the integer BT.601 rule into pixels of format 10 to 13 or 4 (RGB565): y, u and v one byte */   \
  /* per pixel, or with halfChroma u and v one byte per two pixels (a 4:2:0 row). */                             \
  void YUVRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t width, int32_t format,  \
              int halfChroma);                                                                                     \
  /* One row of a JPEG's YCbCr samples to 0x00RRGGBB words by libjpeg's integer rule. */                        \
  void YCCRowToXRGB(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int32_t count);        \
  /* Grey samples to 0x00YYYYYY words (cb and cr unread). */                                                      \
  void GreyRowToXRGB(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int32_t count);       \
  /* Rows of 8-bit R, G, B (and A) samples to 0x00RRGGBB (0xAARRGGBB) words. */                                 \
  void RGBRowToXRGB(const uint8_t* in, uint8_t* out, int32_t count);                                             \
  void RGBARowToARGB(const uint8_t* in, uint8_t* out, int32_t count);                                            \
  /* Format conversions of 32-bit words: each word's bytes reversed and ANDed with keep; shifted 8 bits left */  \
  /* (or right); bytes 0 and 2 exchanged and byte 3 cleared. Rows in pixels. */                                   \
  void SwapBytes32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,      \
                   uint32_t keep);                                                                                 \
  void ShiftPixels32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,    \
                     int left);                                                                                    \
  void SwapRedBlue32(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);   \
  /* 0xAARRGGBB to RGB565 by truncation, and RGB565 to 0x00RRGGBB by shifting (low bits 0). */                  \
  void ARGBTo565(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);       \
  void RGB565ToARGB(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);    \
  }

#if defined(__x86_64__) || defined(__i386__)
#define VL_HAVE_X86_KERNELS 1
VL_SIMD_KERNELS(vl_sse2)
VL_SIMD_KERNELS(vl_avx2)
#endif

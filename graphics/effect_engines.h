// The in-place picture effects behind the brush, layer and sprite
// commands: each locks the picture (unless its caller passes a filled
// access), prepares its kernel's record and tables, runs the 2- or 4-byte
// kernel and returns 0 or an error code (ERR_LOCKBMAP, ERR_MEM, ...).
// 3-byte pictures are left as they are.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlPixelAccess;

int32_t OilPaintBitmap(vlBitmap* bitmap, int32_t width, int32_t height, double radius);
// centre x and y are fractions of the picture (clamped to 0..1).
int32_t WaterRippleBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
                          double waveLength, double amplitude, double phase, double centerX, double centerY);
int32_t SwirlBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
                    int32_t degrees);
int32_t StretchContrastBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t blackCount,
                              int32_t whiteCount, const vlPixelAccess* access);
int32_t NormalizeBitmap(vlBitmap* bitmap, int32_t width, int32_t height, const vlPixelAccess* access);
// Fractions, 1.0 unchanged.
int32_t ModulateBitmap(vlBitmap* bitmap, int32_t width, int32_t height, double brightness, double saturation,
                       double hue);
int32_t ContrastBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t sharpen, int32_t count,
                       const vlPixelAccess* access);
int32_t SepiaToneBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t threshold);
int32_t GammaBitmap(vlBitmap* bitmap, int32_t width, int32_t height, double red, double green, double blue);
int32_t SolarizeBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t threshold);
// op 'b' blur, 's' sharpen, 'g' edge, 'e' emboss; without a bitmap only
// the alpha plane is convolved.
int32_t ConvolveBitmap(uint32_t op, vlBitmap* bitmap, vlBitmap* alpha, int32_t width, int32_t height, double radius,
                       double sigma, const vlPixelAccess* access);
// A new blurred alpha plane grown by the radius (at most 64) on every
// side, or null.
vlBitmap* MakeShadowAlpha(vlBitmap* alpha, vlBitmap* mask, int32_t x, int32_t y, int32_t width, int32_t height,
                          double radius, double sigma, int32_t fill, int32_t binarise, int32_t secondPass);
int32_t PixelateBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
                       int32_t block);
int32_t InvertBitmapColors(vlBitmap* bitmap, int32_t width, int32_t height, const vlPixelAccess* access);
// mirror 0 turns the picture upside down, non-zero mirrors its columns.
int32_t FlipBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height, int32_t mirror);
int32_t GrayBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t twoLevel, const vlPixelAccess* access);
int32_t MonochromeBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t dither);
int32_t CharcoalBitmap(vlBitmap* bitmap, vlBitmap* alpha, int32_t width, int32_t height, double radius,
                       double sigma);
int32_t MixBitmaps(vlBitmap* target, vlBitmap* source, vlBitmap* sourceMask, int32_t targetX, int32_t targetY,
                   int32_t sourceX, int32_t sourceY, int32_t width, int32_t height, int32_t ratio, vlBitmap* alpha,
                   int32_t alphaWidth, int32_t alphaHeight);
int32_t TintBitmap(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                   int32_t ratio);

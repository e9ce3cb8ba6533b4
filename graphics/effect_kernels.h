// The kernels behind the brush effects and layer filters: Gaussian blur,
// sharpen, edge and emboss convolutions, oil paint, the HSB contrast
// curve, the histogram contrast stretch and HSL modulation. Each works in
// place on one locked rectangle, 2-byte pixels through RGB565 and 4-byte
// pixels through 0x00RRGGBB; computed channels are clamped to 0..255 and
// truncated. 3-byte pixels are left alone. A scratch buffer that cannot
// be had leaves the pixels unchanged.
#pragma once
#include <cstdint>

// Limits on kernel widths, which cost more than any picture gains beyond
// them: blur kernels are cut to 4095 taps (the taps past the picture's
// larger side folded onto its edge), oil paint to 63 x 63; sharpen and
// edge kernels wider than 31 run as sums across and down, and sharpen,
// edge and emboss kernels wider than 255 leave the picture as it is, like
// kernels wider than it (a large picture would take minutes).
inline constexpr int32_t kVlMaxKernelWidth1D = 4095;
inline constexpr int32_t kVlMaxKernelWidth2D = 31;
inline constexpr int32_t kVlMaxWideKernelWidth = 255;
inline constexpr int32_t kVlMaxOilPaintWidth = 63;

int32_t OptimalKernelWidth1D(double radius, double sigma);
int32_t OptimalKernelWidth2D(double radius, double sigma);

enum : uint32_t { VL_CONVOLVE_BLUR = 'b', VL_CONVOLVE_SHARPEN = 's', VL_CONVOLVE_EDGE = 'g', VL_CONVOLVE_EMBOSS = 'e' };

struct vlConvolveJob {
  uint8_t* pixels = nullptr;  // null: only the alpha plane
  int32_t width = 0, height = 0;
  int32_t rowLength = 0;  // pixels
  int32_t format = 0;
  int32_t bytesPerPixel = 0;
  uint8_t* alpha = nullptr;  // or null
  int32_t alphaRowBytes = 0;
  double radius = 0, sigma = 0;
  uint32_t op = VL_CONVOLVE_BLUR;
};
void ConvolvePix(const vlConvolveJob& job);

struct vlOilPaintJob {
  uint8_t* pixels;
  int32_t width, height, rowLength, format;
  double radius;
};
void OilPaintPix16(const vlOilPaintJob& job);
void OilPaintPix32(const vlOilPaintJob& job);

// sign +1 sharpens the contrast, -1 dulls it.
void ContrastPix16(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, int32_t sign);
void ContrastPix32(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, int32_t sign);
// One pixel's channels through the contrast curve.
void ContrastRGB(int32_t sign, int32_t* r, int32_t* g, int32_t* b);

struct vlStretchJob {
  uint8_t* pixels;
  int32_t width, height, rowLength;
  int32_t blackCount, whiteCount;
  int32_t format, bytesPerPixel;
};
void ContrastStretchPix(const vlStretchJob& job);

struct vlModulateJob {
  uint8_t* pixels;
  int32_t width, height, rowLength, format;
  int32_t lightness, saturation, hue;  // percent, 100 unchanged
};
void ModulatePix16(const vlModulateJob& job);
void ModulatePix32(const vlModulateJob& job);
void ModulateRGB(int32_t lightness, int32_t saturation, int32_t hue, int32_t* r, int32_t* g, int32_t* b);

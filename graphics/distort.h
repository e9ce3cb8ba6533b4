// Non-linear picture distortion (perspective, arc, polar, barrel): a
// set-up pass turns the script's numbers into coefficients and an output
// geometry, a render pass maps every target pixel back into the source and
// samples it there (nearest pixel, or an elliptical weighted average that
// follows the local scale of the mapping).
#pragma once
#include <cstdint>
#include <vector>

enum : int32_t {
  VL_DISTORT_PERSPECTIVE = 4,
  VL_DISTORT_ARC = 9,
  VL_DISTORT_POLAR = 10,
  VL_DISTORT_BARREL = 12,
};

struct vlDistortSetup {
  int32_t method = 0;
  int32_t count = 0;
  const double* args = nullptr;
  int32_t width = 0, height = 0;    // source
  double pageX = 0, pageY = 0;      // source offset (0 for brushes)
  // Results.
  std::vector<double> coeffs;
  int32_t outWidth = 0, outHeight = 0;
  double x0 = 0, y0 = 0;  // destination coordinates of the target's top-left pixel
  int32_t error = 0;
};

// 0, ERR_WRONGUSAGE (bad numbers, singular fit, unknown method, a result
// too large to allocate) or ERR_MEM; the same code is left in error.
int32_t DistortSetup(vlDistortSetup& setup);

struct vlDistortRender {
  int32_t method = 0;
  const std::vector<double>* coeffs = nullptr;
  int32_t width = 0, height = 0;
  double pageX = 0, pageY = 0;
  int32_t outWidth = 0, outHeight = 0;
  double x0 = 0, y0 = 0;
  int32_t resample = 0;  // 0 nearest, 1 elliptical weighted average
  const uint8_t* source = nullptr;
  int32_t sourceRow = 0;  // pixels
  int32_t bytesPerPixel = 4, format = 10;  // both sides
  uint8_t* target = nullptr;
  int32_t targetRow = 0;
  const uint8_t* sourceMask = nullptr;
  int32_t sourceMaskRowBytes = 0;
  uint8_t* targetMask = nullptr;
  int32_t targetMaskRowBytes = 0;
  const uint8_t* sourceAlpha = nullptr;
  int32_t sourceAlphaRowBytes = 0;
  uint8_t* targetAlpha = nullptr;  // expected cleared
  int32_t targetAlphaRowBytes = 0;
};

// 0 or ERR_MEM. Target pixels with no source stay 0 with a clear mask bit
// and alpha byte.
int32_t DistortRender(const vlDistortRender& job);

// The least-squares helpers of the perspective fit.
std::vector<std::vector<double>> NewMatrix(int32_t rows, int32_t columns);
void AccumulateLeastSquares(std::vector<std::vector<double>>& matrix, const double* terms, int32_t rank,
                            const double* results, int32_t count, std::vector<std::vector<double>>& vectors);
// Gauss-Jordan with full pivoting; vectors hold the solutions afterwards.
// false when singular.
bool SolveLinearSystem(std::vector<std::vector<double>>& matrix, std::vector<std::vector<double>>& vectors,
                       int32_t rank, int32_t count);
void InvertPerspectiveCoefficients(const double* c, double* inverse);

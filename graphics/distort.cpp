// The distortion engine's two passes. Angles arrive in degrees. The
// render pass works backwards from each target pixel centre; the
// elliptical filter reads weights from a Gaussian table indexed by the
// scaled quadratic form, updated incrementally along each source row.
// Depends on pixUnpackRGB/pixPackRGB and vm/convert.h.
#include "graphics/distort.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "graphics/pixel_kernels.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr double kEps = 1e-6;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// Results beyond this many pixels are refused rather than allocated.
constexpr double kMaxSide = 32767, kMaxArea = double{1 << 26};

double Rad(double deg) { return deg * kPi / 180; }
// x minus its nearest integer (halves away from zero).
double Frac(double x) { return x - std::round(x); }

struct Bounds {
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  void Add(double x, double y) {
    minX = x < minX ? x : minX;
    minY = y < minY ? y : minY;
    maxX = x > maxX ? x : maxX;
    maxY = y > maxY ? y : maxY;
  }
};

int32_t Fail(vlDistortSetup& s, int32_t code) {
  s.coeffs.clear();
  s.error = code;
  return code;
}

int32_t SetupPerspective(vlDistortSetup& s, Bounds& b) {
  if (s.count != 16) return ERR_WRONGUSAGE;
  std::vector<std::vector<double>> m, v;
  try {
    m = NewMatrix(8, 8);
    v = NewMatrix(1, 8);
    s.coeffs.assign(9, 0.0);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  const double* a = s.args;
  for (int i = 0; i < 4; ++i) {
    const double u = a[4 * i], vv = a[4 * i + 1], x = a[4 * i + 2], y = a[4 * i + 3];
    const double t1[8] = {x, y, 1, 0, 0, 0, -x * u, -y * u};
    const double t2[8] = {0, 0, 0, x, y, 1, -x * vv, -y * vv};
    AccumulateLeastSquares(m, t1, 8, &u, 1, v);
    AccumulateLeastSquares(m, t2, 8, &vv, 1, v);
  }
  if (!SolveLinearSystem(m, v, 8, 1)) return ERR_WRONGUSAGE;
  double* c = s.coeffs.data();
  for (int i = 0; i < 8; ++i) c[i] = v[0][static_cast<size_t>(i)];
  c[8] = (c[6] * a[2] + c[7] * a[3] + 1) >= 0 ? 1 : -1;
  double inv[8];
  InvertPerspectiveCoefficients(c, inv);
  const double cx[4] = {s.pageX, s.pageX + s.width, s.pageX + s.width, s.pageX};
  const double cy[4] = {s.pageY, s.pageY, s.pageY + s.height, s.pageY + s.height};
  for (int i = 0; i < 4; ++i) {
    double d = inv[6] * cx[i] + inv[7] * cy[i] + 1;
    if (std::fabs(d) < kEps) d = 1;
    b.Add((inv[0] * cx[i] + inv[1] * cy[i] + inv[2]) / d, (inv[3] * cx[i] + inv[4] * cy[i] + inv[5]) / d);
  }
  return 0;
}

int32_t SetupArc(vlDistortSetup& s, Bounds& b) {
  const int32_t n = s.count;
  const double* a = s.args;
  if (n > 4) return ERR_WRONGUSAGE;
  if (n >= 1 && !(Rad(a[0]) >= kEps)) return ERR_WRONGUSAGE;
  if (n >= 3 && !(a[2] > kEps)) return ERR_WRONGUSAGE;
  s.coeffs.assign(5, 0.0);
  double* c = s.coeffs.data();
  c[0] = -kPi / 2;
  c[1] = n >= 1 ? Rad(a[0]) : kPi / 2;
  if (n >= 2) c[0] += Rad(a[1]);
  c[0] = Frac(c[0] / kTwoPi) * kTwoPi;
  c[3] = s.height - 1.0;
  c[2] = s.width / c[1] + c[3] / 2;
  if (n == 3) {
    c[3] = c[3] * a[2] / c[2];
    c[2] = a[2];
  } else if (n == 4) {
    c[3] = a[2] - a[3];
    c[2] = a[2];
  }
  c[4] = (s.width - 1.0) / 2;
  for (double ang : {c[0] - c[1] / 2, c[0] + c[1] / 2}) {
    b.Add(c[2] * std::cos(ang), c[2] * std::sin(ang));
    b.Add((c[2] - c[3]) * std::cos(ang), (c[2] - c[3]) * std::sin(ang));
  }
  // The extreme points of the outer circle inside the arc; past a whole
  // turn they repeat.
  double ang = std::ceil((c[0] - c[1] / 2) / (kPi / 2)) * (kPi / 2);
  for (int i = 0; i < 8 && ang < c[0] + c[1] / 2; ++i, ang += kPi / 2)
    b.Add(c[2] * std::cos(ang), c[2] * std::sin(ang));
  c[1] = kTwoPi * s.width / c[1];
  c[3] = s.height / c[3];
  return 0;
}

int32_t SetupPolar(vlDistortSetup& s, Bounds& b) {
  const int32_t n = s.count;
  const double* a = s.args;
  if (n == 3 || n > 6) return ERR_WRONGUSAGE;
  s.coeffs.assign(8, 0.0);
  double* c = s.coeffs.data();
  c[0] = n >= 1 ? a[0] : 0;
  c[1] = n >= 2 ? a[1] : 0;
  if (n >= 4) {
    c[2] = a[2];
    c[3] = a[3];
  } else {
    c[2] = s.width / 2.0 + s.pageX;
    c[3] = s.height / 2.0 + s.pageY;
  }
  c[4] = n >= 5 ? Rad(a[4]) : -kPi;
  c[5] = n >= 6 ? Rad(a[5]) : c[4];
  if (std::fabs(c[4] - c[5]) < kEps) c[5] += kTwoPi;
  const double left = c[2] - s.pageX, top = c[3] - s.pageY;
  const double right = c[2] - s.pageX - s.width, bottom = c[3] - s.pageY - s.height;
  if (std::fabs(c[0]) < kEps) {
    c[0] = std::fmin(std::fmin(std::fabs(left), std::fabs(top)), std::fmin(std::fabs(right), std::fabs(bottom)));
  } else if (std::fabs(c[0] + 1) < kEps) {
    double r = left * left + top * top;
    r = std::fmax(r, left * left + bottom * bottom);
    r = std::fmax(r, right * right + bottom * bottom);
    r = std::fmax(r, right * right + top * top);
    c[0] = std::sqrt(r);
  }
  if (!(c[0] >= kEps) || c[1] < -kEps || !(c[0] - c[1] >= kEps)) return ERR_WRONGUSAGE;
  c[6] = s.width / (c[5] - c[4]);
  c[7] = s.height / (c[0] - c[1]);
  if (n < 2) c[2] = c[3] = 0;
  b.Add(c[2] - c[0], c[3] - c[0]);
  b.Add(c[2] + c[0], c[3] + c[0]);
  return 0;
}

int32_t SetupBarrel(vlDistortSetup& s) {
  const int32_t n = s.count;
  const double* a = s.args;
  if (n != 4 && n != 6 && n != 8 && n != 10) return ERR_WRONGUSAGE;
  s.coeffs.assign(10, 0.0);
  double* c = s.coeffs.data();
  const double sc = 2.0 / (s.width < s.height ? s.width : s.height);
  auto scaled = [sc](const double* p, double* out) {
    out[0] = p[0] * sc * sc * sc;
    out[1] = p[1] * sc * sc;
    out[2] = p[2] * sc;
    out[3] = p[3];
  };
  scaled(a, c);
  scaled(n >= 8 ? a + 4 : a, c + 4);
  if (n == 6 || n == 10) {
    c[8] = a[n - 2];
    c[9] = a[n - 1];
  } else {
    c[8] = (s.width - 1) / 2.0 + s.pageX;
    c[9] = (s.height - 1) / 2.0 + s.pageY;
  }
  s.outWidth = s.width;
  s.outHeight = s.height;
  s.x0 = s.y0 = 0;
  return 0;
}

// The elliptical filter of one target pixel.
struct Ellipse {
  double A = 0, B = 0, C = 0;
  double vExt = 0, uExt = 0, halfWidth = 0, slope = 0;
  bool interpolate = false, limit = false;
};

Ellipse SetEllipseFilter(double ux, double uy, double vx, double vy, double area) {
  Ellipse e;
  e.A = vx * vx + vy * vy + 1;
  e.B = -2 * (ux * vx + uy * vy);
  e.C = ux * ux + uy * uy + 1;
  const double F = e.A * e.C - e.B * e.B / 4;
  // No reduction in either direction (with room for the rounding of a
  // fitted identity): plain interpolation.
  if (!(F > 4 + 1e-6)) {
    e.interpolate = true;
    return e;
  }
  if (F > 1e6) {
    e.limit = true;
    return e;
  }
  e.vExt = std::sqrt(e.A) + 1;
  e.uExt = std::sqrt(e.C) + 1;
  e.halfWidth = std::sqrt(F / e.A) + 1;
  e.slope = -e.B / (2 * e.A);
  if (4 * e.vExt * e.halfWidth > 20 * area) {
    e.limit = true;
    return e;
  }
  const double k = 1024 / F;
  e.A *= k;
  e.B *= k;
  e.C *= k;
  return e;
}

struct Sampler {
  const vlDistortRender& j;
  const double* W;

  // R, G, B and alpha of a source pixel; a clear mask bit is black and
  // transparent.
  // keepColor: a clear mask bit only makes the pixel transparent.
  void Read(int32_t x, int32_t y, double* px, bool keepColor = false) const {
    int32_t alpha = 255;
    if (j.sourceAlpha) alpha = j.sourceAlpha[static_cast<intptr_t>(y) * j.sourceAlphaRowBytes + x];
    else if (j.sourceMask && !GetMaskBit(j.sourceMask + static_cast<intptr_t>(y) * j.sourceMaskRowBytes, x))
      alpha = keepColor ? 0 : -1;
    if (alpha < 0) {
      px[0] = px[1] = px[2] = px[3] = 0;
      return;
    }
    uint8_t rgb[3];
    const uint8_t* p = j.source + (static_cast<intptr_t>(y) * j.sourceRow + x) * j.bytesPerPixel;
    if (j.bytesPerPixel == 3) {
      const bool bgr = j.format == 9;
      rgb[0] = bgr ? p[2] : p[0];
      rgb[1] = p[1];
      rgb[2] = bgr ? p[0] : p[2];
    } else {
      pixUnpackRGB(j.format, p, rgb);
    }
    px[0] = rgb[0];
    px[1] = rgb[1];
    px[2] = rgb[2];
    px[3] = alpha;
  }
  static double SnapWhole(double v) {
    const double whole = std::nearbyint(v);
    return std::fabs(v - whole) < 1e-9 ? whole : v;
  }
  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < j.width && y < j.height; }

  // Bilinear over the 2 x 2 neighbourhood, neighbours outside left out; a
  // position on a whole pixel, to the last bits, gives no weight to the
  // next pixel, so a point just outside an edge takes nothing from it.
  bool Interpolate(double x, double y, double* out) const {
    x = SnapWhole(x);
    y = SnapWhole(y);
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    if (!(std::fabs(fx0) < 1e9 && std::fabs(fy0) < 1e9)) return false;
    const int32_t x0 = static_cast<int32_t>(fx0), y0 = static_cast<int32_t>(fy0);
    const double fx = x - fx0, fy = y - fy0;
    const double wts[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    double sum[4] = {0, 0, 0, 0}, wsum = 0;
    for (int k = 0; k < 4; ++k) {
      const int32_t px = x0 + (k & 1), py = y0 + (k >> 1);
      if (!Inside(px, py)) continue;
      double v[4];
      Read(px, py, v);
      for (int c = 0; c < 4; ++c) sum[c] += wts[k] * v[c];
      wsum += wts[k];
    }
    if (!(wsum > 0)) return false;
    for (int c = 0; c < 4; ++c) out[c] = sum[c] / wsum;
    return true;
  }

  // Truncation toward zero, after forgiving the last bits of a fitted
  // mapping that should land on a whole pixel: such a position is taken as
  // that whole number, so -1 a hair either way stays outside the picture.
  bool Nearest(double x, double y, double* out) const {
    const int32_t px = vl::DoubleToInt32(SnapWhole(x)), py = vl::DoubleToInt32(SnapWhole(y));
    if (!Inside(px, py)) return false;
    Read(px, py, out, true);
    return true;
  }

  bool Average(double x, double y, const Ellipse& e, double* out) const {
    if (e.interpolate || e.limit) return Interpolate(x, y, out);
    if (x + e.uExt < 0 || x - e.uExt > j.width - 1 || y + e.vExt < 0 || y - e.vExt > j.height - 1)
      return Nearest(x, y, out);
    const int32_t v0 = vl::DoubleToInt32(y - e.vExt), v1 = vl::DoubleToInt32(y + e.vExt + 1);
    const int32_t cols = vl::DoubleToInt32(2 * e.halfWidth) + 1;
    double u1 = x + (v0 - y) * e.slope - e.halfWidth;
    double sum[4] = {0, 0, 0, 0}, wsum = 0;
    int32_t hits = 0;
    for (int32_t v = v0; v <= v1; ++v, u1 += e.slope) {
      const int32_t u0 = vl::DoubleToInt32(u1);
      const double U = u0 - x, V = v - y;
      double Q = (e.A * U + e.B * V) * U + e.C * V * V;
      double DQ = e.A * (2 * U + 1) + e.B * V;
      for (int32_t i = 0; i < cols; ++i, Q += DQ, DQ += 2 * e.A) {
        const int32_t u = u0 + i;
        if (!(Q < 1024) || !Inside(u, v)) continue;
        const double wt = W[static_cast<int32_t>(Q < 0 ? 0 : Q)];
        double px[4];
        Read(u, v, px);
        for (int c = 0; c < 4; ++c) sum[c] += wt * px[c];
        wsum += wt;
        ++hits;
      }
    }
    if (hits > 3 && wsum >= 1) {
      for (int c = 0; c < 4; ++c) out[c] = sum[c] / wsum;
      return true;
    }
    return Interpolate(x, y, out);
  }
};

uint8_t Channel(double v) {
  v += 0.5;
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : static_cast<uint8_t>(v);
}

}  // namespace

std::vector<std::vector<double>> NewMatrix(int32_t rows, int32_t columns) {
  return std::vector<std::vector<double>>(static_cast<size_t>(rows), std::vector<double>(static_cast<size_t>(columns)));
}

void AccumulateLeastSquares(std::vector<std::vector<double>>& m, const double* t, int32_t rank, const double* r,
                            int32_t count, std::vector<std::vector<double>>& vectors) {
  for (int32_t i = 0; i < rank; ++i)
    for (int32_t j = 0; j < rank; ++j) m[i][j] += t[i] * t[j];
  for (int32_t k = 0; k < count; ++k)
    for (int32_t j = 0; j < rank; ++j) vectors[k][j] += r[k] * t[j];
}

bool SolveLinearSystem(std::vector<std::vector<double>>& m, std::vector<std::vector<double>>& vec, int32_t rank,
                       int32_t count) {
  std::vector<int32_t> cols(rank), rows(rank), pivots(rank, 0);
  for (int32_t i = 0; i < rank; ++i) {
    double best = 0;
    int32_t row = -1, col = -1;
    for (int32_t j = 0; j < rank; ++j) {
      if (pivots[j] == 1) continue;
      for (int32_t k = 0; k < rank; ++k) {
        if (pivots[k] != 0) continue;
        if (std::fabs(m[j][k]) >= best) {
          best = std::fabs(m[j][k]);
          row = j;
          col = k;
        }
      }
    }
    if (row < 0) return false;
    ++pivots[col];
    if (row != col) {
      std::swap(m[row], m[col]);
      for (int32_t k = 0; k < count; ++k) std::swap(vec[k][row], vec[k][col]);
    }
    rows[i] = row;
    cols[i] = col;
    if (m[col][col] == 0 || !std::isfinite(m[col][col])) return false;
    const double scale = 1 / m[col][col];
    m[col][col] = 1;
    for (int32_t j = 0; j < rank; ++j) m[col][j] *= scale;
    for (int32_t k = 0; k < count; ++k) vec[k][col] *= scale;
    for (int32_t j = 0; j < rank; ++j) {
      if (j == col) continue;
      const double f = m[j][col];
      m[j][col] = 0;
      for (int32_t k = 0; k < rank; ++k) m[j][k] -= f * m[col][k];
      for (int32_t k = 0; k < count; ++k) vec[k][j] -= f * vec[k][col];
    }
  }
  for (int32_t j = rank - 1; j >= 0; --j)
    if (cols[j] != rows[j])
      for (int32_t i = 0; i < rank; ++i) std::swap(m[i][rows[j]], m[i][cols[j]]);
  return true;
}

void InvertPerspectiveCoefficients(const double* c, double* inv) {
  const double d = 1.0 / (c[0] * c[4] - c[3] * c[1]);
  inv[0] = d * (c[4] - c[7] * c[5]);
  inv[1] = d * (c[7] * c[2] - c[1]);
  inv[2] = d * (c[1] * c[5] - c[2] * c[4]);
  inv[3] = d * (c[6] * c[5] - c[3]);
  inv[4] = d * (c[0] - c[6] * c[2]);
  inv[5] = d * (c[3] * c[2] - c[0] * c[5]);
  inv[6] = d * (c[3] * c[7] - c[6] * c[4]);
  inv[7] = d * (c[6] * c[1] - c[0] * c[7]);
}

int32_t DistortSetup(vlDistortSetup& s) {
  s.error = 0;
  s.coeffs.clear();
  if (s.width <= 0 || s.height <= 0 || (s.count > 0 && !s.args) || s.count < 0) return Fail(s, ERR_WRONGUSAGE);
  for (int32_t i = 0; i < s.count; ++i)
    if (!std::isfinite(s.args[i])) return Fail(s, ERR_WRONGUSAGE);
  Bounds b;
  int32_t rc;
  try {
    switch (s.method) {
      case VL_DISTORT_PERSPECTIVE: rc = SetupPerspective(s, b); break;
      case VL_DISTORT_ARC: rc = SetupArc(s, b); break;
      case VL_DISTORT_POLAR: rc = SetupPolar(s, b); break;
      case VL_DISTORT_BARREL: return (rc = SetupBarrel(s)) ? Fail(s, rc) : 0;
      default: rc = ERR_WRONGUSAGE; break;
    }
  } catch (const std::bad_alloc&) {
    rc = ERR_MEM;
  }
  if (rc) return Fail(s, rc);
  const double x0 = std::floor(b.minX - 0.5), y0 = std::floor(b.minY - 0.5);
  const double w = std::ceil(b.maxX - x0 + 0.5), h = std::ceil(b.maxY - y0 + 0.5);
  if (!(w >= 1 && h >= 1 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxArea)) return Fail(s, ERR_WRONGUSAGE);
  s.x0 = x0;
  s.y0 = y0;
  s.outWidth = static_cast<int32_t>(w);
  s.outHeight = static_cast<int32_t>(h);
  return 0;
}

int32_t DistortRender(const vlDistortRender& j) {
  if (!j.coeffs || !j.source || !j.target || j.width <= 0 || j.height <= 0) return 0;
  const int32_t B = j.bytesPerPixel;
  if (B < 2 || B > 4) return 0;
  const std::vector<double>& cv = *j.coeffs;
  const size_t need = j.method == VL_DISTORT_PERSPECTIVE ? 9 : j.method == VL_DISTORT_ARC ? 5
                      : j.method == VL_DISTORT_POLAR ? 8 : j.method == VL_DISTORT_BARREL ? 10 : 0;
  if (!need || cv.size() < need) return ERR_WRONGUSAGE;
  const double* c = cv.data();
  std::unique_ptr<double[]> table;
  if (j.resample) {
    table.reset(new (std::nothrow) double[1024]);
    if (!table) return ERR_MEM;
    for (int q = 0; q < 1024; ++q) table[q] = std::exp(q * -0.0027076061740622863);
  }
  const Sampler sampler{j, table.get()};
  const double area = static_cast<double>(j.width) * j.height;
  const double w2 = j.width / 2.0;
  for (int32_t ty = 0; ty < j.outHeight; ++ty) {
    uint8_t* drow = j.target + static_cast<intptr_t>(ty) * j.targetRow * B;
    for (int32_t tx = 0; tx < j.outWidth; ++tx) {
      const double dx = tx + 0.5 + j.x0, dy = ty + 0.5 + j.y0;
      double sx = 0, sy = 0, ux = 0, uy = 0, vx = 0, vy = 0;
      bool valid = true;
      switch (j.method) {
        case VL_DISTORT_PERSPECTIVE: {
          const double p = c[0] * dx + c[1] * dy + c[2], q = c[3] * dx + c[4] * dy + c[5];
          const double r = c[6] * dx + c[7] * dy + 1;
          double validity = c[8] * r >= 0 ? 1 : 0;
          const double a = 2 * std::fabs(r);
          if (std::fabs(c[6]) > std::fabs(c[7])) {
            if (a < std::fabs(c[6])) validity = 0.5 - c[8] * r / c[6];
          } else if (a < std::fabs(c[7])) {
            validity = 0.5 - c[8] * r / c[7];
          }
          if (!(validity > 0)) {
            valid = false;
            break;
          }
          sx = p / r;
          sy = q / r;
          const double r2 = r * r;
          ux = (r * c[0] - p * c[6]) / r2;
          uy = (r * c[1] - p * c[7]) / r2;
          vx = (r * c[3] - q * c[6]) / r2;
          vy = (r * c[4] - q * c[7]) / r2;
          break;
        }
        case VL_DISTORT_ARC: {
          const double t = Frac((std::atan2(dy, dx) - c[0]) / kTwoPi);
          const double rho = std::hypot(dx, dy);
          sx = t * c[1] + c[4] + j.pageX + 0.5;
          sy = (c[2] - rho) * c[3] + j.pageY;
          ux = rho > kEps ? c[1] / (kTwoPi * rho) : 2.0 * j.outWidth;
          vy = c[3];
          break;
        }
        case VL_DISTORT_POLAR: {
          const double ex = dx - c[2], ey = dy - c[3];
          const double t = Frac((std::atan2(ex, ey) - (c[4] + c[5]) / 2) / kTwoPi) * kTwoPi;
          const double rho = std::hypot(ex, ey);
          sx = t * c[6] + w2 + j.pageX;
          sy = (rho - c[1]) * c[7] + j.pageY;
          ux = rho > kEps ? c[6] / (kTwoPi * rho) : 2.0 * j.outWidth;
          vy = c[7];
          break;
        }
        default: {  // barrel
          const double ex = dx - c[8], ey = dy - c[9];
          const double rho = std::sqrt(ex * ex + ey * ey);
          if (rho > kEps) {
            const double fx = ((c[0] * rho + c[1]) * rho + c[2]) * rho + c[3];
            const double fy = ((c[4] * rho + c[5]) * rho + c[6]) * rho + c[7];
            const double gx = ((3 * c[0] * rho + 2 * c[1]) * rho + c[2]) / rho;
            const double gy = ((3 * c[4] * rho + 2 * c[5]) * rho + c[6]) / rho;
            sx = ex * fx + c[8];
            sy = ey * fy + c[9];
            ux = gx * ex * ex + fx;
            uy = gx * ex * ey;
            vx = gy * ex * ey;
            vy = gy * ey * ey + fy;
          } else {
            sx = dx;
            sy = dy;
            ux = c[3];
            vy = c[7];
          }
          break;
        }
      }
      double px[4] = {0, 0, 0, 0};
      bool have = false;
      if (valid) {
        sx -= 0.5;
        sy -= 0.5;
        if (j.resample) have = sampler.Average(sx, sy, SetEllipseFilter(ux, uy, vx, vy, area), px);
        else have = sampler.Nearest(sx, sy, px);
      }
      uint8_t* d = drow + tx * B;
      if (!have) {  // nothing maps here: black and transparent
        std::memset(d, 0, static_cast<size_t>(B));
        if (j.targetAlpha) j.targetAlpha[static_cast<intptr_t>(ty) * j.targetAlphaRowBytes + tx] = 0;
        if (j.targetMask) SetMaskBit(j.targetMask + static_cast<intptr_t>(ty) * j.targetMaskRowBytes, tx, 0);
        continue;
      }
      const uint8_t rgb[3] = {Channel(px[0]), Channel(px[1]), Channel(px[2])};
      if (B == 3) {
        const bool bgr = j.format == 9;
        d[0] = bgr ? rgb[2] : rgb[0];
        d[1] = rgb[1];
        d[2] = bgr ? rgb[0] : rgb[2];
      } else {
        pixPackRGB(j.format, rgb, d);
      }
      const uint8_t alpha = Channel(px[3]);
      if (j.targetAlpha) j.targetAlpha[static_cast<intptr_t>(ty) * j.targetAlphaRowBytes + tx] = alpha;
      if (j.targetMask) SetMaskBit(j.targetMask + static_cast<intptr_t>(ty) * j.targetMaskRowBytes, tx, alpha != 0);
    }
  }
  return 0;
}

// Convolutions, oil paint and the colour curves of the brush effects.
// Every pass reads a copy of the rectangle padded by half the kernel
// width with its border pixels repeated, and writes the rectangle.
// Depends on the channel access helpers and RGBToHSL.
#include "graphics/effect_kernels.h"

#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "graphics/channel_access.h"
#include "graphics/image_kernels.h"

using namespace vlpix;

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kSqrtTwoPi = 2.5066282746310002;
constexpr double kPi = 3.141592653589793;

// A convolution sum that is a whole number but for the rounding of its
// taps (a uniform area under a kernel that sums to 1) counts as that
// number: truncated as it comes, white would lose a step in every pass,
// eight in each pass of a 5-bit channel.
int32_t SumToChannel(double sum) {
  const double whole = std::nearbyint(sum);
  return ClampChannel(std::fabs(sum - whole) < 1e-6 ? whole : sum);
}

// A (w + k) x (h + k) copy whose element (i, j) is the source element
// (clamp(i - k/2), clamp(j - k/2)); rows padded to 4 elements.
template <typename T>
struct Padded {
  std::unique_ptr<T[]> data;
  intptr_t stride = 0;
  int32_t w = 0, h = 0, k = 0;

  bool Alloc(int32_t width, int32_t height, int32_t kw) {
    w = width;
    h = height;
    k = kw;
    const uint64_t pw = (static_cast<uint64_t>(width) + kw + 3) & ~uint64_t{3};
    const uint64_t ph = static_cast<uint64_t>(height) + kw;
    if (pw * ph > (uint64_t{1} << 34) / sizeof(T)) return false;
    stride = static_cast<intptr_t>(pw);
    data.reset(new (std::nothrow) T[pw * ph]);
    return data != nullptr;
  }
  template <typename Get>
  void Fill(Get get) {
    const int32_t half = k / 2;
    for (int32_t j = 0; j < h + k; ++j) {
      int32_t sy = j - half;
      sy = sy < 0 ? 0 : sy >= h ? h - 1 : sy;
      T* row = data.get() + j * stride;
      for (int32_t i = 0; i < w + k; ++i) {
        int32_t sx = i - half;
        sx = sx < 0 ? 0 : sx >= w ? w - 1 : sx;
        row[i] = get(sx, sy);
      }
    }
  }
  const T& At(int32_t i, int32_t j) const { return data[j * stride + i]; }
};

inline int32_t Chan(uint32_t v, int c) { return static_cast<int32_t>((v >> (8 * c)) & 0xFF); }

// One image as the convolutions see it: nc channels of 8 bits packed in a
// word (a picture's B, G, R or an alpha plane's single byte).
struct ChannelImage {
  int nc;
  uint32_t (*get)(const ChannelImage&, int32_t, int32_t);
  void (*put)(const ChannelImage&, int32_t, int32_t, uint32_t);
  uint8_t* base;
  int32_t row;  // pixels, or bytes for a plane
  int32_t format;
};

template <int B>
uint32_t GetPixel(const ChannelImage& im, int32_t x, int32_t y) {
  const RGB c = ReadRGB<B>(im.format, PixelAt(im.base, im.row, B, x, y));
  return static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | static_cast<uint32_t>(c.b);
}
template <int B>
void PutPixel(const ChannelImage& im, int32_t x, int32_t y, uint32_t v) {
  WriteRGB<B>(im.format, PixelAt(im.base, im.row, B, x, y), {Chan(v, 2), Chan(v, 1), Chan(v, 0)});
}
uint32_t GetByte(const ChannelImage& im, int32_t x, int32_t y) { return im.base[static_cast<intptr_t>(y) * im.row + x]; }
void PutByte(const ChannelImage& im, int32_t x, int32_t y, uint32_t v) {
  im.base[static_cast<intptr_t>(y) * im.row + x] = static_cast<uint8_t>(v);
}

// Horizontal, then vertical, through one padded buffer.
void Blur(const ChannelImage& im, int32_t w, int32_t h, const std::vector<double>& K) {
  const int32_t kw = static_cast<int32_t>(K.size()), half = kw / 2;
  Padded<uint32_t> pad;
  if (!pad.Alloc(w, h, kw)) return;
  auto get = [&im](int32_t x, int32_t y) { return im.get(im, x, y); };
  for (int pass = 0; pass < 2; ++pass) {
    pad.Fill(get);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint32_t out = 0;
        for (int c = 0; c < im.nc; ++c) {
          double sum = 0;
          for (int32_t k = 0; k < kw; ++k)
            sum += K[k] * Chan(pass == 0 ? pad.At(x + k, y + half) : pad.At(x + half, y + k), c);
          out |= static_cast<uint32_t>(SumToChannel(sum)) << (8 * c);
        }
        im.put(im, x, y, out);
      }
  }
}

// One non-zero tap of a 2D kernel at column u, row v of the kernel.
struct Tap {
  int32_t u, v;
  double t;
};

// taps: the non-zero ones, row by row (v), column by column (u).
void Convolve2D(const ChannelImage& im, int32_t w, int32_t h, const std::vector<Tap>& taps, int32_t kw) {
  Padded<uint32_t> pad;
  if (!pad.Alloc(w, h, kw)) return;
  pad.Fill([&im](int32_t x, int32_t y) { return im.get(im, x, y); });
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t out = 0;
      for (int c = 0; c < im.nc; ++c) {
        double sum = 0;
        for (const Tap& t : taps) sum += t.t * Chan(pad.At(x + t.u, y + t.v), c);
        out |= static_cast<uint32_t>(SumToChannel(sum)) << (8 * c);
      }
      im.put(im, x, y, out);
    }
}

// Sharpen and edge kernels wider than the dense loop handles, as sums of
// one row of weights across and the same row down: sharpen's taps are a
// Gaussian but for the centre, edge's are all -1 but for the centre. Per
// pixel and channel, S is the weighted sum of the neighbourhood and G the
// sum of the weights of one row; the result is the dense kernel's.
void ConvolveWide(const ChannelImage& im, int32_t w, int32_t h, uint32_t op, int32_t kw, double sigma) {
  const double s = std::fabs(sigma) <= 1e-10 ? 1.0 : sigma;
  const int32_t j = kw / 2;
  // Bands of at least the kernel's height bound the row sums kept at once
  // to about twice the kernel's rows, each row's sums made at most twice.
  const int32_t band = std::min(h, std::max(kw, 64));
  std::vector<double> row(static_cast<size_t>(kw)), across;
  try {
    across.assign(static_cast<size_t>(band + kw) * w * im.nc, 0.0);
  } catch (const std::bad_alloc&) {
    return;
  }
  double G = 0;
  for (int32_t u = -j; u <= j; ++u)
    G += row[u + j] = op == VL_CONVOLVE_SHARPEN ? std::exp(-static_cast<double>(u) * u / (2.0 * s * s)) : 1.0;
  Padded<uint32_t> pad;
  if (!pad.Alloc(w, h, kw)) return;
  pad.Fill([&im](int32_t x, int32_t y) { return im.get(im, x, y); });
  for (int32_t y0 = 0; y0 < h; y0 += band) {
    const int32_t rows = std::min(band, h - y0);
    for (int32_t r = 0; r < rows + kw - 1; ++r)
      for (int32_t x = 0; x < w; ++x)
        for (int c = 0; c < im.nc; ++c) {
          double sum = 0;
          for (int32_t u = 0; u < kw; ++u) sum += row[u] * Chan(pad.At(x + u, y0 + r), c);
          across[(static_cast<size_t>(r) * w + x) * im.nc + c] = sum;
        }
    for (int32_t y = 0; y < rows; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint32_t out = 0;
        for (int c = 0; c < im.nc; ++c) {
          double S = 0;
          for (int32_t v = 0; v < kw; ++v) S += row[v] * across[(static_cast<size_t>(y + v) * w + x) * im.nc + c];
          const double centre = Chan(pad.At(x + j, y0 + y + j), c);
          // Sharpen: centre tap 2 G^2 after the off-centre taps -g, over
          // their sum G^2 + 1; edge: w^2 - 1 at the centre, -1 elsewhere.
          const double v = op == VL_CONVOLVE_SHARPEN ? ((2 * G * G + 1) * centre - S) / (G * G + 1)
                                                     : static_cast<double>(kw) * kw * centre - S;
          out |= static_cast<uint32_t>(SumToChannel(v)) << (8 * c);
        }
        im.put(im, x, y0 + y, out);
      }
  }
}

bool BlurKernel(double radius, double sigma, int32_t longestSide, std::vector<double>& K) {
  const int32_t w = OptimalKernelWidth1D(radius, sigma);
  const double s = std::fabs(sigma) <= 1e-10 ? 1.0 : sigma;
  try {
    K.assign(static_cast<size_t>(w), 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const int32_t bias = (3 * w) / 2;
  for (int32_t i = -bias; i <= bias; ++i)
    K[(i + bias) / 3] += std::exp(-static_cast<double>(i) * i / (18.0 * s * s)) / (kSqrtTwoPi * s);
  double sum = 0;
  for (double k : K) sum += k;
  for (double& k : K) k /= sum;
  // Taps farther out than the picture is long all read its edge pixel:
  // each end's outer taps fold into the tap at the picture's length, which
  // gives the same sums with fewer taps.
  const int32_t half = w / 2;
  if (half > longestSide) {
    std::vector<double> folded(static_cast<size_t>(2 * longestSide + 1), 0.0);
    for (int32_t k = 0; k < w; ++k) {
      int32_t d = k - half;
      d = d < -longestSide ? -longestSide : d > longestSide ? longestSide : d;
      folded[static_cast<size_t>(d + longestSide)] += K[static_cast<size_t>(k)];
    }
    K.swap(folded);
  }
  // Taps that came out exactly 0 add nothing to any sum: drop them in
  // pairs, keeping the kernel centred.
  size_t n = K.size();
  while (n >= 3 && K[0] == 0 && K[n - 1] == 0) {
    K.pop_back();
    K.erase(K.begin());
    n -= 2;
  }
  return true;
}

// Emboss keeps its anti-diagonal only, so any width stays w taps.
void Kernel2D(uint32_t op, int32_t w, double sigma, std::vector<Tap>& taps) {
  const double s = std::fabs(sigma) <= 1e-10 ? 1.0 : sigma;
  const int32_t j = w / 2;
  taps.clear();
  if (op == VL_CONVOLVE_SHARPEN) {
    double sum = 0;
    for (int32_t v = -j; v <= j; ++v)
      for (int32_t u = -j; u <= j; ++u) {
        const double t = -std::exp(-static_cast<double>(u * u + v * v) / (2.0 * s * s)) / (kTwoPi * s * s);
        taps.push_back({u + j, v + j, t});
        sum += t;
      }
    taps[static_cast<size_t>(j) * w + j].t = -2.0 * sum;
  } else if (op == VL_CONVOLVE_EDGE) {
    for (int32_t v = 0; v < w; ++v)
      for (int32_t u = 0; u < w; ++u) taps.push_back({u, v, u == j && v == j ? static_cast<double>(w) * w - 1.0 : -1.0});
  } else {  // emboss: the anti-diagonal, negative off the centre
    int32_t k = j;
    for (int32_t v = -j; v <= j; ++v, --k) {
      const int32_t u = k;
      const double m = 8.0 * std::exp(-static_cast<double>(u * u + v * v) / (2.0 * s * s)) / (kTwoPi * s * s);
      if (m != 0) taps.push_back({u + j, v + j, (u < 0 || v < 0) ? -m : m});
    }
  }
  double n = 0;
  for (const Tap& t : taps) n += t.t;
  const double f = std::fabs(n) <= 1e-10 ? 1.0 : 1.0 / n;
  for (Tap& t : taps) t.t *= f;
}

ChannelImage PictureImage(const vlConvolveJob& j) {
  ChannelImage im{3, nullptr, nullptr, j.pixels, j.rowLength, j.format};
  if (j.bytesPerPixel == 4) {
    im.get = GetPixel<4>;
    im.put = PutPixel<4>;
  } else {
    im.get = GetPixel<2>;
    im.put = PutPixel<2>;
  }
  return im;
}

template <int B>
void OilPaint(const vlOilPaintJob& j) {
  int32_t kw = OptimalKernelWidth2D(j.radius, 0.5);
  if (kw > kVlMaxOilPaintWidth) kw = kVlMaxOilPaintWidth;
  if (j.width <= 0 || j.height <= 0) return;
  Padded<uint32_t> raw;
  Padded<uint8_t> luma;
  if (!raw.Alloc(j.width, j.height, kw) || !luma.Alloc(j.width, j.height, kw)) return;
  raw.Fill([&](int32_t x, int32_t y) { return Load<B>(PixelAt(j.pixels, j.rowLength, B, x, y)); });
  luma.Fill([&](int32_t x, int32_t y) {
    const RGB c = ReadRGB<B>(j.format, PixelAt(j.pixels, j.rowLength, B, x, y));
    return static_cast<uint8_t>(Luma(c.r, c.g, c.b));
  });
  int32_t hist[256];
  for (int32_t y = 0; y < j.height; ++y)
    for (int32_t x = 0; x < j.width; ++x) {
      std::fill(hist, hist + 256, 0);
      int32_t best = 0;
      uint32_t chosen = 0;
      for (int32_t v = 0; v < kw; ++v)
        for (int32_t u = 0; u < kw; ++u) {
          const int32_t n = ++hist[luma.At(x + u, y + v)];
          if (n > best) {
            best = n;
            chosen = raw.At(x + u, y + v);
          }
        }
      Store<B>(PixelAt(j.pixels, j.rowLength, B, x, y), chosen);
    }
}

template <int B>
void Contrast(uint8_t* px, int32_t w, int32_t h, int32_t row, int32_t f, int32_t sign) {
  MapRGB<B>(px, w, h, row, f, [sign](RGB c) {
    ContrastRGB(sign, &c.r, &c.g, &c.b);
    return c;
  });
}

template <int B>
void Stretch(const vlStretchJob& j) {
  int64_t hist[256] = {};
  for (int32_t y = 0; y < j.height; ++y)
    for (int32_t x = 0; x < j.width; ++x) {
      const RGB c = ReadRGB<B>(j.format, PixelAt(j.pixels, j.rowLength, B, x, y));
      ++hist[Luma(c.r, c.g, c.b)];
    }
  int32_t black = 255;
  int64_t sum = 0;
  for (int32_t i = 0; i < 256; ++i) {
    sum += hist[i];
    if (sum > j.blackCount) {
      black = i;
      break;
    }
  }
  const int64_t whiteLimit = static_cast<int64_t>(j.width) * j.height - j.whiteCount;
  int32_t white = 0;
  sum = 0;
  for (int32_t i = 255; i >= 1; --i) {
    sum += hist[i];
    if (sum > whiteLimit) {
      white = i;
      break;
    }
  }
  if (black == white) return;
  uint8_t map[256];
  for (int32_t i = 0; i < 256; ++i) {
    if (i < black) map[i] = 0;
    else if (i > white) map[i] = 255;
    else map[i] = static_cast<uint8_t>(ClampChannel(255.0 * (i - black) / (white - black)));
  }
  MapRGB<B>(j.pixels, j.width, j.height, j.rowLength, j.format,
            [&map](RGB c) { return RGB{map[c.r], map[c.g], map[c.b]}; });
}

template <int B>
void Modulate(const vlModulateJob& j) {
  MapRGB<B>(j.pixels, j.width, j.height, j.rowLength, j.format, [&j](RGB c) {
    ModulateRGB(j.lightness, j.saturation, j.hue, &c.r, &c.g, &c.b);
    return c;
  });
}

double HueToChannel(double m1, double m2, double h) {
  if (h < 0) h += 1;
  if (h > 1) h -= 1;
  if (6 * h < 1) return m1 + 6 * (m2 - m1) * h;
  if (2 * h < 1) return m2;
  if (3 * h < 2) return m1 + 6 * (m2 - m1) * (2.0 / 3.0 - h);
  return m1;
}

}  // namespace

int32_t OptimalKernelWidth1D(double radius, double sigma) {
  if (radius > 0) {
    const double w = 2 * std::ceil(radius) + 1;
    return w > kVlMaxKernelWidth1D ? kVlMaxKernelWidth1D : static_cast<int32_t>(w);
  }
  if (std::fabs(sigma) <= 1e-10 || std::isnan(sigma)) return 1;
  int32_t w = 5;
  for (; w <= kVlMaxKernelWidth1D; w += 2) {
    const int32_t j = w / 2;
    double norm = 0;
    for (int32_t u = -j; u <= j; ++u)
      norm += std::exp(-static_cast<double>(u) * u / (2 * sigma * sigma)) / (sigma * kSqrtTwoPi);
    const double v = std::exp(-static_cast<double>(j) * j / (2 * sigma * sigma)) / (sigma * kSqrtTwoPi) / norm;
    if (vl::DoubleToInt32(255 * v) < 1) break;
  }
  return w - 2;
}

int32_t OptimalKernelWidth2D(double radius, double sigma) {
  if (radius > 0) {
    const double w = 2 * std::ceil(radius) + 1;
    return w > kVlMaxKernelWidth1D ? kVlMaxKernelWidth1D : static_cast<int32_t>(w);
  }
  if (std::fabs(sigma) <= 1e-10 || std::isnan(sigma)) return 1;
  int32_t w = 5;
  for (; w <= kVlMaxKernelWidth2D; w += 2) {
    const int32_t j = w / 2;
    double norm = 0;
    for (int32_t u = -j; u <= j; ++u)
      for (int32_t v = -j; v <= j; ++v)
        norm += std::exp(-static_cast<double>(u * u + v * v) / (2 * sigma * sigma)) / (kTwoPi * sigma * sigma);
    const double v = std::exp(-static_cast<double>(j) * j / (2 * sigma * sigma)) / (sigma * kSqrtTwoPi) / norm;
    if (v < 1.0 / 255.0) break;
  }
  return w - 2;
}

void ConvolvePix(const vlConvolveJob& j) {
  if (j.width <= 0 || j.height <= 0 || std::isnan(j.sigma) || std::isnan(j.radius)) return;
  const bool pixels = j.pixels && (j.bytesPerPixel == 2 || j.bytesPerPixel == 4);
  const ChannelImage alpha{1, GetByte, PutByte, j.alpha, j.alphaRowBytes, 14};
  if (j.op == VL_CONVOLVE_BLUR) {
    if (std::fabs(j.sigma) <= 1e-10 || std::isnan(j.sigma)) return;
    std::vector<double> K;
    if (!BlurKernel(j.radius, j.sigma, std::max(j.width, j.height), K)) return;
    if (pixels) Blur(PictureImage(j), j.width, j.height, K);
    if (j.alpha) Blur(alpha, j.width, j.height, K);
    return;
  }
  if (j.op != VL_CONVOLVE_SHARPEN && j.op != VL_CONVOLVE_EDGE && j.op != VL_CONVOLVE_EMBOSS) return;
  const int32_t w = j.op == VL_CONVOLVE_EDGE ? OptimalKernelWidth1D(j.radius, 0.5)
                                             : OptimalKernelWidth2D(j.radius, j.sigma);
  if (w % 2 == 0 || w > j.width || w > j.height || w > kVlMaxWideKernelWidth) return;
  if (w > kVlMaxKernelWidth2D && j.op != VL_CONVOLVE_EMBOSS) {
    if (pixels) ConvolveWide(PictureImage(j), j.width, j.height, j.op, w, j.sigma);
    if (j.alpha) ConvolveWide(alpha, j.width, j.height, j.op, w, j.sigma);
    return;
  }
  std::vector<Tap> taps;
  try {
    Kernel2D(j.op, w, j.sigma, taps);
  } catch (const std::bad_alloc&) {
    return;
  }
  if (pixels) Convolve2D(PictureImage(j), j.width, j.height, taps, w);
  if (j.alpha) Convolve2D(alpha, j.width, j.height, taps, w);
}

void OilPaintPix16(const vlOilPaintJob& j) { OilPaint<2>(j); }
void OilPaintPix32(const vlOilPaintJob& j) { OilPaint<4>(j); }

void ContrastRGB(int32_t sign, int32_t* pr, int32_t* pg, int32_t* pb) {
  const int32_t r = *pr, g = *pg, b = *pb;
  const int32_t mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  if (mx == 0) return;
  const double s = static_cast<double>(mx - mn) / mx;
  double bri = mx / 255.0, hue = 0;
  if (mx != mn) {
    const double d = mx - mn;
    if (r == mx) hue = (g - b) / d;
    else if (g == mx) hue = 2 + (b - r) / d;
    else hue = 4 + (r - g) / d;
    hue /= 6;
    if (hue < 0) hue += 1;
  }
  bri += 0.5 * sign * (0.5 * (std::sin(kPi * (bri - 0.5)) + 1) - bri);
  if (bri > 1) bri = 1;
  if (bri < 0) bri = 0;
  if (s == 0) {
    *pr = *pg = *pb = ClampChannel(255 * bri);
    return;
  }
  const double h = 6 * (hue - std::floor(hue)), f = h - std::floor(h);
  const double p = bri * (1 - s), q = bri * (1 - s * f), t = bri * (1 - s * (1 - f));
  double R, G, B;
  switch (static_cast<int>(h)) {
    case 0: R = bri; G = t; B = p; break;
    case 1: R = q; G = bri; B = p; break;
    case 2: R = p; G = bri; B = t; break;
    case 3: R = p; G = q; B = bri; break;
    case 4: R = t; G = p; B = bri; break;
    default: R = bri; G = p; B = q; break;
  }
  *pr = ClampChannel(255 * R);
  *pg = ClampChannel(255 * G);
  *pb = ClampChannel(255 * B);
}

void ContrastPix16(uint8_t* p, int32_t w, int32_t h, int32_t row, int32_t f, int32_t sign) { Contrast<2>(p, w, h, row, f, sign); }
void ContrastPix32(uint8_t* p, int32_t w, int32_t h, int32_t row, int32_t f, int32_t sign) { Contrast<4>(p, w, h, row, f, sign); }

void ContrastStretchPix(const vlStretchJob& j) {
  if (j.width <= 0 || j.height <= 0) return;
  if (j.bytesPerPixel == 4) Stretch<4>(j);
  else if (j.bytesPerPixel == 2) Stretch<2>(j);
}

void ModulateRGB(int32_t pl, int32_t ps, int32_t ph, int32_t* r, int32_t* g, int32_t* b) {
  double h, s, l;
  RGBToHSL(*r, *g, *b, &h, &s, &l);
  l *= 0.01 * pl;
  s *= 0.01 * ps;
  h += 0.5 * (0.01 * ph - 1);
  if (h < -4 || h > 4) h -= std::floor(h);  // whole turns at once for wild hues
  while (h < 0) h += 1;
  while (h > 1) h -= 1;
  if (s == 0) {
    *r = *g = *b = ClampChannel(255 * l);
    return;
  }
  const double m2 = l <= 0.5 ? l * (s + 1) : l + s - l * s;
  const double m1 = 2 * l - m2;
  *r = ClampChannel(255 * HueToChannel(m1, m2, h + 1.0 / 3.0));
  *g = ClampChannel(255 * HueToChannel(m1, m2, h));
  *b = ClampChannel(255 * HueToChannel(m1, m2, h - 1.0 / 3.0));
}

void ModulatePix16(const vlModulateJob& j) { Modulate<2>(j); }
void ModulatePix32(const vlModulateJob& j) { Modulate<4>(j); }

// Our pixel paths beside the peer libraries doing the same job on the same
// 1080p data: OVER blit of the picture and of a 256 x 256 sprite (pixman),
// bilinear and nearest-neighbour scaling down to 720p and up to 2160p (pixman, OpenCV on one thread), 4:2:0
// video frames at 1:1 and shown at 720p, plain and smooth (OpenCV's
// conversion, then its resize), crossfade (memcpy of one picture), format
// conversion between ARGB, RGB565 and a byte-reversed 32-bit format
// (pixman, and our general loops), GIF decoding of a picture, a 100-frame
// animation and a dithered photo-like picture made by ImageMagick (giflib
// DGifSlurp plus palette expansion), PNG decoding of an RGB and an RGBA
// picture (libpng into the same 32-bit words) and JPEG decoding (libjpeg
// into RGB). Names are "<job>/<who>"; bench/pixel_peers.py
// pairs them. Peers are linked here only.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <pixman.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <malloc.h>
#include <png.h>
#include <unistd.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench/photo_gif.h"
#include "bench/png_read.h"
#include "formats/gif.h"
#include "formats/jpeg_codec.h"
#include "formats/png_codec.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/blit_loops.h"
#include "graphics/fast_paths.h"
#include "graphics/image_kernels.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/scaler.h"
#include "graphics/yuv_convert.h"
#include "platform/offscreen_bitmap.h"
#include "runtime/os.h"
#include "runtime/stream.h"

namespace {

constexpr int kW = 1920, kH = 1080;

// A picture with smooth areas and some noise, and a coverage plane that is
// one third clear, one third opaque and one third ramps.
struct Picture {
  std::vector<uint32_t> rgb;
  std::vector<uint8_t> alpha;
  Picture(int w, int h, uint32_t seed) : rgb(size_t(w) * h), alpha(size_t(w) * h) {
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t n = rng() & 7;
        const uint32_t r = (x * 255 / w + n) & 255, g = (y * 255 / h + n) & 255, b = ((x + y) / 9) & 255;
        rgb[size_t(y) * w + x] = r << 16 | g << 8 | b;
        const int band = (x / 64 + y / 64) % 3;
        alpha[size_t(y) * w + x] = band == 0 ? 0 : band == 1 ? 255 : static_cast<uint8_t>((x * 4 + y) & 255);
      }
  }
};

const Picture& Source() {
  static const Picture p(kW, kH, 1);
  return p;
}
const Picture& Target() {
  static const Picture p(kW, kH, 2);
  return p;
}

void Pixels(benchmark::State& state, int64_t perIteration) {
  state.SetItemsProcessed(state.iterations() * perIteration);
}

// ---- OVER blit -----------------------------------------------------------

void Over_ours(benchmark::State& state) {
  SetGlobalPixelFormat(10);
  vlBitmap* src = NewBitmap(kW, kH, 0, nullptr);
  vlBitmap* dst = NewBitmap(kW, kH, 0, nullptr);
  SetGlobalPixelFormat(-1);
  vlBitmap* alpha = NewAlphaPlane(kW, kH, 0, nullptr, 0);
  vlPixelAccess a;
  LockPixels(src, 0, &a);
  for (int y = 0; y < kH; ++y) memcpy(a.pixels + size_t(y) * a.rowLength * 4, &Source().rgb[size_t(y) * kW], kW * 4);
  UnlockPixels(src, &a);
  LockPixels(alpha, 0, &a);
  for (int y = 0; y < kH; ++y) memcpy(a.pixels + size_t(y) * a.rowLength, &Source().alpha[size_t(y) * kW], kW);
  UnlockPixels(alpha, &a);
  // range: the rectangle's size (the whole picture, or a sprite-sized one
  // that stays in the caches).
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  for (auto _ : state) BltBitmapAlpha(src, 0, 0, dst, 0, 0, w, h, alpha);
  Pixels(state, int64_t{w} * h);
  DeleteAlphaPlane(alpha);
  DeleteBitmap(src);
  DeleteBitmap(dst);
}

void Over_pixman(benchmark::State& state) {
  // The same colours premultiplied by the same coverage.
  std::vector<uint32_t> src(size_t(kW) * kH), dst = Target().rgb;
  for (size_t i = 0; i < src.size(); ++i) {
    const uint32_t a = Source().alpha[i], c = Source().rgb[i];
    src[i] = a << 24 | (((c >> 16) & 255) * a / 255) << 16 | (((c >> 8) & 255) * a / 255) << 8 | (c & 255) * a / 255;
  }
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, src.data(), kW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, dst.data(), kW * 4);
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
  Pixels(state, int64_t{w} * h);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

// ---- bilinear scaling ----------------------------------------------------

// range(2): 1 bilinear, 0 nearest neighbour.
void Scale_ours(benchmark::State& state) {
  const int tw = static_cast<int>(state.range(0)), th = static_cast<int>(state.range(1));
  std::vector<uint32_t> out(size_t(tw) * th);
  std::vector<uint16_t> xf(tw + 1), yf(th + 1);
  std::vector<int32_t> xs(tw + 1), ys(th + 1);
  vlScaleJob j{};
  j.srcPixels = reinterpret_cast<const uint8_t*>(Source().rgb.data());
  j.dstPixels = reinterpret_cast<uint8_t*>(out.data());
  j.srcWidth = kW;
  j.srcHeight = kH;
  j.dstWidth = tw;
  j.dstHeight = th;
  j.srcRowLength = kW;
  j.dstRowLength = tw;
  j.smooth = static_cast<int32_t>(state.range(2));
  j.format = 10;
  j.bytesPerPixel = 4;
  j.xFraction = xf.data();
  j.yFraction = yf.data();
  j.xStep = xs.data();
  j.yStep = ys.data();
  for (auto _ : state) ScalePixels(j);
  Pixels(state, int64_t{tw} * th);
}

void Scale_pixman(benchmark::State& state) {
  const int tw = static_cast<int>(state.range(0)), th = static_cast<int>(state.range(1));
  std::vector<uint32_t> src = Source().rgb, out(size_t(tw) * th);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, src.data(), kW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, tw, th, out.data(), tw * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kW) / tw), pixman_double_to_fixed(double(kH) / th));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, state.range(2) ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, tw, th);
  Pixels(state, int64_t{tw} * th);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

void Scale_opencv(benchmark::State& state) {
  const int tw = static_cast<int>(state.range(0)), th = static_cast<int>(state.range(1));
  cv::setNumThreads(1);
  std::vector<uint32_t> src = Source().rgb;
  cv::Mat s(kH, kW, CV_8UC4, src.data()), d(th, tw, CV_8UC4);
  for (auto _ : state) cv::resize(s, d, cv::Size(tw, th), 0, 0, state.range(2) ? cv::INTER_LINEAR : cv::INTER_NEAREST);
  Pixels(state, int64_t{tw} * th);
}

// ---- 4:2:0 video frames ---------------------------------------------------

// A 1080p frame in one I420 buffer (Y, then U, then V), as OpenCV takes it.
const std::vector<uint8_t>& VideoFrame() {
  static const std::vector<uint8_t> frame = [] {
    std::vector<uint8_t> f(size_t(kW) * kH * 3 / 2);
    const Picture& p = Source();
    for (size_t i = 0; i < size_t(kW) * kH; ++i) f[i] = static_cast<uint8_t>(16 + (p.rgb[i] >> 8 & 255) * 219 / 255);
    for (size_t i = size_t(kW) * kH; i < f.size(); ++i) f[i] = static_cast<uint8_t>(p.rgb[i - size_t(kW) * kH]);
    return f;
  }();
  return frame;
}

// range(0) x range(1): the shown size (the frame's own size: 1:1);
// range(2): shown smoothly.
void Yuv_ours(benchmark::State& state) {
  const int tw = static_cast<int>(state.range(0)), th = static_cast<int>(state.range(1));
  std::vector<uint32_t> out(size_t(tw) * th);
  const uint8_t* f = VideoFrame().data();
  vlYUVConvert j;
  j.planes[0] = f;
  j.planes[1] = f + size_t(kW) * kH;
  j.planes[2] = j.planes[1] + size_t(kW) * kH / 4;
  j.planeRowBytes[0] = kW;
  j.planeRowBytes[1] = j.planeRowBytes[2] = kW / 2;
  j.target = reinterpret_cast<uint8_t*>(out.data());
  j.sourceWidth = kW;
  j.sourceHeight = kH;
  j.targetWidth = tw;
  j.targetHeight = th;
  j.targetRowLength = tw;
  j.targetFormat = 10;
  j.targetBytesPerPixel = 4;
  const bool scaled = tw != kW || th != kH;
  for (auto _ : state) {
    if (state.range(2)) YUV420ToRGBSmooth(j);
    else scaled ? YUV420ToRGBScaled(j) : YUV420ToRGB(j);
  }
  Pixels(state, int64_t{tw} * th);
}

// OpenCV converts the whole frame, then (shown at another size) scales it.
void Yuv_opencv(benchmark::State& state) {
  const int tw = static_cast<int>(state.range(0)), th = static_cast<int>(state.range(1));
  cv::setNumThreads(1);
  std::vector<uint8_t> frame = VideoFrame();
  cv::Mat yuv(kH * 3 / 2, kW, CV_8UC1, frame.data()), rgb(kH, kW, CV_8UC4), shown(th, tw, CV_8UC4);
  for (auto _ : state) {
    cv::cvtColor(yuv, rgb, cv::COLOR_YUV2BGRA_I420);
    if (tw != kW || th != kH)
      cv::resize(rgb, shown, cv::Size(tw, th), 0, 0, state.range(2) ? cv::INTER_LINEAR : cv::INTER_NEAREST);
  }
  Pixels(state, int64_t{tw} * th);
}

// ---- crossfade -----------------------------------------------------------

void Crossfade_ours(benchmark::State& state) {
  std::vector<uint32_t> dst = Target().rgb;
  int32_t ratio = 0;
  for (auto _ : state) {
    vlMixJob j{reinterpret_cast<const uint8_t*>(Source().rgb.data()), reinterpret_cast<uint8_t*>(dst.data()), nullptr,
               0};
    MixPix32(j, kW, kH, ratio, 10, kW, kW, 0);
    ratio = (ratio + 1) & 255;
  }
  Pixels(state, int64_t{kW} * kH);
}

void Crossfade_memcpy(benchmark::State& state) {
  std::vector<uint32_t> dst(size_t(kW) * kH);
  for (auto _ : state) {
    memcpy(dst.data(), Source().rgb.data(), dst.size() * 4);
    benchmark::ClobberMemory();
  }
  Pixels(state, int64_t{kW} * kH);
}

// ---- GIF -----------------------------------------------------------------

int WriteToVector(GifFileType* g, const GifByteType* data, int n) {
  auto* v = static_cast<std::vector<uint8_t>*>(g->UserData);
  v->insert(v->end(), data, data + n);
  return n;
}

// A GIF of frames w x h in a 256-colour palette made with giflib's writer:
// a picture quantised by bits (3-3-2) with ordered noise, moving per frame.
std::vector<uint8_t> MakeGif(int w, int h, int frames) {
  std::vector<uint8_t> bytes;
  int error = 0;
  GifFileType* g = EGifOpen(&bytes, WriteToVector, &error);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i)
    colours[i] = {static_cast<GifByteType>((i >> 5) * 255 / 7), static_cast<GifByteType>(((i >> 2) & 7) * 255 / 7),
                  static_cast<GifByteType>((i & 3) * 85)};
  ColorMapObject* map = GifMakeMapObject(256, colours);
  EGifPutScreenDesc(g, w, h, 8, 0, map);
  std::vector<GifByteType> line(w);
  std::mt19937 rng(3);
  for (int f = 0; f < frames; ++f) {
    EGifPutImageDesc(g, 0, 0, w, h, false, nullptr);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int r = ((x + 3 * f) * 8 / w) & 7, gg = ((y + f) * 8 / h) & 7, b = ((x + y) / 40 + (rng() % 9 == 0)) & 3;
        line[x] = static_cast<GifByteType>(r << 5 | gg << 2 | b);
      }
      EGifPutLine(g, line.data(), w);
    }
  }
  EGifCloseFile(g, &error);
  GifFreeMapObject(map);
  return bytes;
}

const std::vector<uint8_t>& GifFile(int which) {
  if (which == 2) {
    static const std::vector<uint8_t> photo = MakePhotoGif(kW, kH);
    return photo;
  }
  static const std::vector<uint8_t> picture = MakeGif(kW, kH, 1), anim = MakeGif(480, 270, 100);
  return which ? anim : picture;
}

bool HaveGif(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  if (!bytes.empty()) return true;
  state.SkipWithError("ImageMagick's convert is needed to make the photo-like GIF");
  return false;
}

void Gif_ours(benchmark::State& state) {
  const auto& bytes = GifFile(static_cast<int>(state.range(0)));
  if (!HaveGif(state, bytes)) return;
  int64_t pixels = 0;
  for (auto _ : state) {
    int32_t w = 0, h = 0, count = 0;
    vlGIFReader* r = OpenGIFReader(OpenMemoryStream(bytes.data(), bytes.size()), &w, &h, &count, 0, 1, 0);
    if (!r) {
      state.SkipWithError("decode failed");
      break;
    }
    for (int32_t n = 0; n < count; ++n) {
      uint32_t* frame = ReadGIFFrame(r, n, nullptr);
      benchmark::DoNotOptimize(frame);
      FreeMemory(frame);
    }
    CloseGIFReader(r);
    pixels = int64_t{w} * h * count;
  }
  Pixels(state, pixels);
}

struct GifMemory {
  const std::vector<uint8_t>* bytes;
  size_t at;
};
int ReadFromVector(GifFileType* g, GifByteType* out, int n) {
  auto* m = static_cast<GifMemory*>(g->UserData);
  const size_t left = m->bytes->size() - m->at;
  const size_t k = size_t(n) < left ? size_t(n) : left;
  memcpy(out, m->bytes->data() + m->at, k);
  m->at += k;
  return static_cast<int>(k);
}

void Gif_giflib(benchmark::State& state) {
  const auto& bytes = GifFile(static_cast<int>(state.range(0)));
  if (!HaveGif(state, bytes)) return;
  int64_t pixels = 0;
  for (auto _ : state) {
    GifMemory m{&bytes, 0};
    int error = 0;
    GifFileType* g = DGifOpen(&m, ReadFromVector, &error);
    if (!g || DGifSlurp(g) != GIF_OK) {
      state.SkipWithError("giflib failed");
      break;
    }
    std::vector<uint32_t> canvas(size_t(g->SWidth) * g->SHeight);
    for (int i = 0; i < g->ImageCount; ++i) {
      const SavedImage& im = g->SavedImages[i];
      const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : g->SColorMap;
      uint32_t pal[256] = {};
      for (int c = 0; c < map->ColorCount; ++c)
        pal[c] = 0xFF000000u | map->Colors[c].Red << 16 | map->Colors[c].Green << 8 | map->Colors[c].Blue;
      const int w = im.ImageDesc.Width, h = im.ImageDesc.Height;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          canvas[size_t(im.ImageDesc.Top + y) * g->SWidth + im.ImageDesc.Left + x] = pal[im.RasterBits[size_t(y) * w + x]];
      benchmark::DoNotOptimize(canvas.data());
    }
    pixels = int64_t{g->SWidth} * g->SHeight * g->ImageCount;
    DGifCloseFile(g, &error);
  }
  Pixels(state, pixels);
}

// ---- format conversion -----------------------------------------------------

// 1080p between ARGB words (10), RGB565 (4) and the byte-reversed 32-bit
// display format (11): our fast paths, the general loops (fast paths off)
// and pixman's SRC composite between the same formats.
pixman_format_code_t PixmanFormat(int32_t f) {
  return f == 4 ? PIXMAN_r5g6b5 : f == 11 ? PIXMAN_b8g8r8a8 : PIXMAN_a8r8g8b8;
}

std::vector<uint32_t> SourceIn(int32_t f) {
  std::vector<uint32_t> px(size_t(kW) * kH);  // RGB565 rows take the first half
  WriteARGBPixels(*PixelKernelsFor(f), f, Source().rgb.data(), kW, reinterpret_cast<uint8_t*>(px.data()), kW, kW,
                  kH);
  return px;
}

void Convert(benchmark::State& state, bool fast) {
  const int32_t from = static_cast<int32_t>(state.range(0)), to = static_cast<int32_t>(state.range(1));
  const std::vector<uint32_t> src = SourceIn(from);
  std::vector<uint32_t> dst(size_t(kW) * kH);
  if (!fast) SetFastPathFeatures(0);
  for (auto _ : state) {
    if (from == 10) {
      WriteARGBPixels(*PixelKernelsFor(to), to, src.data(), kW, reinterpret_cast<uint8_t*>(dst.data()), kW, kW, kH);
    } else {
      const int32_t rect[4] = {0, 0, kW, kH};
      ReadPixelsARGB(reinterpret_cast<const uint8_t*>(src.data()), dst.data(), rect, kW,
                     BytesPerPixelOfFormat(from), from);
    }
    benchmark::ClobberMemory();
  }
  SetFastPathFeatures(~0u);
  Pixels(state, int64_t{kW} * kH);
}
void Convert_ours(benchmark::State& state) { Convert(state, true); }
void Convert_general(benchmark::State& state) { Convert(state, false); }

void Convert_pixman(benchmark::State& state) {
  const int32_t from = static_cast<int32_t>(state.range(0)), to = static_cast<int32_t>(state.range(1));
  std::vector<uint32_t> src = SourceIn(from), dst(size_t(kW) * kH);
  pixman_image_t* s = pixman_image_create_bits(PixmanFormat(from), kW, kH, src.data(), kW * BytesPerPixelOfFormat(from));
  pixman_image_t* d = pixman_image_create_bits(PixmanFormat(to), kW, kH, dst.data(), kW * BytesPerPixelOfFormat(to));
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
  Pixels(state, int64_t{kW} * kH);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

// ---- PNG -----------------------------------------------------------------

// The 1080p picture written by our PNG writer (libpng's default filters and
// compression), as RGB or with its coverage as alpha.
std::vector<uint8_t> MakePng(bool alpha) {
  std::vector<uint32_t> px = Source().rgb;
  for (size_t i = 0; i < px.size(); ++i) px[i] |= uint32_t{Source().alpha[i]} << 24;
  char name[] = "/tmp/vl_pixel_peers_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return {};
  close(fd);
  vlPNGWriteParams p{name, px.data(), kW * 4, kW, kH, alpha, -1};
  WritePNG(&p);
  std::ifstream in(name, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::remove(name);
  return bytes;
}

const std::vector<uint8_t>& PngFile(bool alpha) {
  static const std::vector<uint8_t> rgb = MakePng(false), rgba = MakePng(true);
  return alpha ? rgba : rgb;
}

// Files the jobs read, removed when the program ends.
std::deque<std::string>& FilesMade() {
  static std::deque<std::string> files;
  return files;
}

// The bytes also as a file, for the jobs that read one (as a picture is
// loaded); null when it cannot be written.
const char* OnDisk(const std::vector<uint8_t>& bytes, const char* name) {
  const std::string path = std::string("/tmp/vl_pixel_peers_") + std::to_string(getpid()) + "_" + name;
  for (const std::string& f : FilesMade())
    if (f == path) return f.c_str();
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return nullptr;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (fclose(f) != 0 || !ok) return nullptr;
  FilesMade().push_back(path);
  return FilesMade().back().c_str();
}

void Png_ours(benchmark::State& state) {
  const auto& bytes = PngFile(state.range(0) != 0);
  const char* file = state.range(1) ? OnDisk(bytes, state.range(0) ? "a.png" : "b.png") : nullptr;
  for (auto _ : state)
    if (!ReadPNGOnce(file ? OpenFileStream(file, VL_MODE_READ, nullptr) : OpenMemoryStream(bytes.data(), bytes.size())))
      state.SkipWithError("decode failed");
  Pixels(state, int64_t{kW} * kH);
}

struct PngMemory {
  const uint8_t* data;
  size_t size, at;
};
void ReadPngMemory(png_structp png, png_bytep out, size_t n) {
  auto* m = static_cast<PngMemory*>(png_get_io_ptr(png));
  if (n > m->size - m->at) png_error(png, "short");
  memcpy(out, m->data + m->at, n);
  m->at += n;
}

// libpng delivering the same words: blue, green, red, then alpha (or 0).
void Png_libpng(benchmark::State& state) {
  const auto& bytes = PngFile(state.range(0) != 0);
  const char* file = state.range(1) ? OnDisk(bytes, state.range(0) ? "a.png" : "b.png") : nullptr;
  for (auto _ : state) {
    PngMemory m{bytes.data(), bytes.size(), 0};
    FILE* f = file ? fopen(file, "rb") : nullptr;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    uint32_t* pixels = nullptr;
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      png_destroy_read_struct(&png, &info, nullptr);
      free(pixels);
      if (f) fclose(f);
      break;
    }
    if (f) png_init_io(png, f);
    else png_set_read_fn(png, &m, ReadPngMemory);
    png_read_info(png, info);
    png_set_bgr(png);
    if (png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB) png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    pixels = static_cast<uint32_t*>(malloc(size_t(w) * h * 4));
    for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, reinterpret_cast<png_bytep>(pixels + size_t(y) * w), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    if (f) fclose(f);
    benchmark::DoNotOptimize(pixels);
    free(pixels);
  }
  Pixels(state, int64_t{kW} * kH);
}

// ---- JPEG ----------------------------------------------------------------

const vlJPEGEncodeParams& JpegFile() {
  static vlJPEGEncodeParams p = [] {
    vlJPEGEncodeParams q{};
    q.pixels = Source().rgb.data();
    q.rowStride = kW * 4;
    q.width = kW;
    q.height = kH;
    q.quality = 90;
    EncodeJPEG(&q);
    return q;
  }();
  return p;
}

// range(0): 1 reads a file, as a picture is loaded; 0 decodes from memory.
void Jpeg_ours(benchmark::State& state) {
  const auto& p = JpegFile();
  const char* file = state.range(0) ? OnDisk({p.data, p.data + p.length}, "p.jpg") : nullptr;
  for (auto _ : state) {
    int32_t w = 0, h = 0;
    uint32_t* pixels = nullptr;
    vlStream* s = file ? OpenFileStream(file, VL_MODE_READ, nullptr) : nullptr;
    if (DecodeJPEG(s ? static_cast<void*>(s) : p.data, s ? 0 : p.length, 0, &w, &h, &pixels) != 0)
      state.SkipWithError("decode failed");
    if (s) CloseFileStream(s);
    benchmark::DoNotOptimize(pixels);
    FreeMemory(pixels);
  }
  Pixels(state, int64_t{kW} * kH);
}

void Jpeg_libjpeg(benchmark::State& state) {
  const auto& p = JpegFile();
  const char* file = state.range(0) ? OnDisk({p.data, p.data + p.length}, "p.jpg") : nullptr;
  for (auto _ : state) {
    jpeg_decompress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    FILE* f = file ? fopen(file, "rb") : nullptr;
    if (f) jpeg_stdio_src(&c, f);
    else jpeg_mem_src(&c, p.data, p.length);
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    auto* rgb = static_cast<uint8_t*>(malloc(size_t(c.output_width) * c.output_height * 3));
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = rgb + size_t(c.output_scanline) * c.output_width * 3;
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    if (f) fclose(f);
    benchmark::DoNotOptimize(rgb);
    free(rgb);
  }
  Pixels(state, int64_t{kW} * kH);
}

}  // namespace

// The blit splits a large picture into bands run on helper threads as
// well: its time is what the caller waits, on the wall clock, for both
// sides (pixel_peers.py reads the wall time of jobs named ".../real_time").
BENCHMARK(Over_ours)->Name("Over/ours")->Args({kW, kH})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Over_pixman)->Name("Over/pixman")->Args({kW, kH})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Over_ours)->Name("OverSprite/ours")->Args({256, 256})->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Over_pixman)->Name("OverSprite/pixman")->Args({256, 256})->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Scale_ours)->Name("ScaleDown/ours")->Args({1280, 720, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_pixman)->Name("ScaleDown/pixman")->Args({1280, 720, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_opencv)->Name("ScaleDown/opencv")->Args({1280, 720, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_ours)->Name("ScaleUp/ours")->Args({3840, 2160, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_pixman)->Name("ScaleUp/pixman")->Args({3840, 2160, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_opencv)->Name("ScaleUp/opencv")->Args({3840, 2160, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_ours)->Name("NearestDown/ours")->Args({1280, 720, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_pixman)->Name("NearestDown/pixman")->Args({1280, 720, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_opencv)->Name("NearestDown/opencv")->Args({1280, 720, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_ours)->Name("NearestUp/ours")->Args({3840, 2160, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_pixman)->Name("NearestUp/pixman")->Args({3840, 2160, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Scale_opencv)->Name("NearestUp/opencv")->Args({3840, 2160, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv_ours)->Name("YuvFrame/ours")->Args({kW, kH, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv_opencv)->Name("YuvFrame/opencv")->Args({kW, kH, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv_ours)->Name("YuvScaled/ours")->Args({1280, 720, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv_opencv)->Name("YuvScaled/opencv")->Args({1280, 720, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv_ours)->Name("YuvSmooth/ours")->Args({1280, 720, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv_opencv)->Name("YuvSmooth/opencv")->Args({1280, 720, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Crossfade_ours)->Name("Crossfade/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(Crossfade_memcpy)->Name("Crossfade/memcpy")->Unit(benchmark::kMillisecond);
BENCHMARK(Gif_ours)->Name("GifPicture/ours")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Gif_giflib)->Name("GifPicture/giflib")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Gif_ours)->Name("GifAnim/ours")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Gif_giflib)->Name("GifAnim/giflib")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Gif_ours)->Name("GifPhoto/ours")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Gif_giflib)->Name("GifPhoto/giflib")->Arg(2)->Unit(benchmark::kMillisecond);
#define VL_CONVERT_JOB(name, from, to)                                                         \
  BENCHMARK(Convert_ours)->Name(name "/ours")->Args({from, to})->Unit(benchmark::kMillisecond);       \
  BENCHMARK(Convert_general)->Name(name "/general")->Args({from, to})->Unit(benchmark::kMillisecond); \
  BENCHMARK(Convert_pixman)->Name(name "/pixman")->Args({from, to})->Unit(benchmark::kMillisecond)
VL_CONVERT_JOB("To565", 10, 4);
VL_CONVERT_JOB("From565", 4, 10);
VL_CONVERT_JOB("ToBGRA", 10, 11);
VL_CONVERT_JOB("FromBGRA", 11, 10);
BENCHMARK(Png_ours)->Name("Png/ours")->Args({0, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Png_libpng)->Name("Png/libpng")->Args({0, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Png_ours)->Name("PngAlpha/ours")->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Png_libpng)->Name("PngAlpha/libpng")->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Png_ours)->Name("PngFile/ours")->Args({0, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Png_libpng)->Name("PngFile/libpng")->Args({0, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg_ours)->Name("Jpeg/ours")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg_libjpeg)->Name("Jpeg/libjpeg")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg_ours)->Name("JpegFile/ours")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg_libjpeg)->Name("JpegFile/libjpeg")->Arg(1)->Unit(benchmark::kMillisecond);

// Picture-sized buffers come from the heap for every job alike: with glibc's
// adaptive threshold a buffer is mapped afresh (and its pages faulted in)
// or reused depending on which larger buffers earlier jobs happened to free,
// which would measure the allocator's history rather than the decoders.
int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& f : FilesMade()) std::remove(f.c_str());
  return 0;
}

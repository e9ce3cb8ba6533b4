// Decoding a large PNG (RGB and RGBA) and a large JPEG, from memory, through
// the picture readers' glue. The files are made at start-up by our writers
// from a 2048 x 1536 picture with gradients and noise. And a 1080p GIF of a
// dithered photo-like picture made by ImageMagick (see photo_gif.h).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/photo_gif.h"
#include "bench/png_read.h"
#include "formats/gif.h"
#include "formats/jpeg_codec.h"
#include "formats/png_codec.h"
#include "runtime/os.h"
#include "runtime/stream.h"

namespace {

constexpr uint32_t kWidth = 2048, kHeight = 1536;

std::vector<uint32_t> MakePicture() {
  std::vector<uint32_t> px(size_t{kWidth} * kHeight);
  std::mt19937 rng(7);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const uint32_t noise = rng() & 15;
      const uint32_t r = (x * 255 / kWidth + noise) & 255, g = (y * 255 / kHeight + noise) & 255;
      const uint32_t b = ((x ^ y) >> 3) & 255, a = (x + y) & 255;
      px[size_t{y} * kWidth + x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  return px;
}

std::vector<uint8_t> PngBytes(const std::vector<uint32_t>& px, bool alpha) {
  char name[] = "/tmp/vl_bench_XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  vlPNGWriteParams p{name, px.data(), kWidth * 4, kWidth, kHeight, alpha, -1};
  WritePNG(&p);
  std::ifstream in(name, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  std::remove(name);
  return bytes;
}

void BM_DecodePNG(benchmark::State& state) {
  static const auto picture = MakePicture();
  const auto bytes = PngBytes(picture, state.range(0) != 0);
  for (auto _ : state)
    if (!ReadPNGOnce(OpenMemoryStream(bytes.data(), bytes.size()))) state.SkipWithError("decode failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(BM_DecodePNG)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DecodeJPEG(benchmark::State& state) {
  static const auto picture = MakePicture();
  vlJPEGEncodeParams p{};
  p.pixels = picture.data();
  p.rowStride = kWidth * 4;
  p.width = kWidth;
  p.height = kHeight;
  p.quality = 90;
  EncodeJPEG(&p);
  if (p.error != 0) {
    state.SkipWithError("encode failed");
    return;
  }
  for (auto _ : state) {
    int32_t w = 0, h = 0;
    uint32_t* pixels = nullptr;
    if (DecodeJPEG(p.data, p.length, 0, &w, &h, &pixels) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pixels);
    FreeMemory(pixels);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
  FreeEncodedJPEG(p.result);
}
BENCHMARK(BM_DecodeJPEG)->Unit(benchmark::kMillisecond);

void BM_DecodeDitheredGIF(benchmark::State& state) {
  static const auto bytes = MakePhotoGif(1920, 1080);
  if (bytes.empty()) {
    state.SkipWithError("ImageMagick's convert is needed to make the GIF");
    return;
  }
  for (auto _ : state) {
    int32_t w = 0, h = 0, count = 0;
    vlGIFReader* r = OpenGIFReader(OpenMemoryStream(bytes.data(), bytes.size()), &w, &h, &count, 0, 1, 0);
    uint32_t* pixels = r ? ReadGIFFrame(r, 0, nullptr) : nullptr;
    if (!pixels) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pixels);
    FreeMemory(pixels);
    CloseGIFReader(r);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 1920 * 1080 * 4);
}
BENCHMARK(BM_DecodeDitheredGIF)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

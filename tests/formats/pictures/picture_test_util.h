// Shared helpers of the picture tests: paths, running real tools, and
// loading through the built-in readers.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/picture_loader.h"

namespace pictest {

inline std::string TestData(const std::string& sub) {
  const char* root = getenv("VL_TESTDATA");
  return std::string(root ? root : "") + "/" + sub;
}

// Runs a shell command and returns its standard output; *status gets the
// exit status.
inline std::vector<uint8_t> RunTool(const std::string& command, int* status = nullptr) {
  std::vector<uint8_t> out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return out;
  }
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A fresh directory under /tmp, removed with its files.
struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/vl_pictures_XXXXXX";
    path = mkdtemp(name) ? name : "/tmp";
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string File(const std::string& name) const { return path + "/" + name; }
};

inline void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A picture as RGBA bytes.
struct Rgba {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bytes;
  const uint8_t* At(int32_t x, int32_t y) const { return bytes.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// ImageMagick's decoding of a file (frame spec like "[0]" appended).
inline bool MagickRgba(const std::string& file, Rgba* out, const std::string& frame = "") {
  int status = 0;
  std::vector<uint8_t> size =
      RunTool("identify -format '%w %h' " + Quote(file + frame) + " 2>/dev/null", &status);
  if (status != 0) return false;
  std::string text(size.begin(), size.end());
  if (sscanf(text.c_str(), "%d %d", &out->width, &out->height) != 2) return false;
  out->bytes = RunTool("convert " + Quote(file + frame) + " -set colorspace sRGB -depth 8 rgba:- 2>/dev/null", &status);
  return status == 0 && out->bytes.size() == static_cast<size_t>(out->width) * out->height * 4;
}

// Our decoding through the dispatch; 0 or the error code.
inline int LoadRgba(const std::string& file, Rgba* out, int32_t* transparent = nullptr, int32_t mode = 0,
                    const char* loaders = "inbuilt", bool topByteIsAlpha = false) {
  vlLoadedImage* image = nullptr;
  int32_t alpha = 0, trans = -1;
  int rc = LoadImageFile(file.c_str(), loaders, nullptr, nullptr, -1, mode, &image, nullptr, &trans,
                         &out->width, &out->height, &alpha, nullptr);
  if (rc != 0) return rc;
  const uint32_t* px = GetLoadedImagePixels(image);
  out->bytes.resize(static_cast<size_t>(out->width) * out->height * 4);
  for (size_t i = 0; i < static_cast<size_t>(out->width) * out->height; ++i) {
    out->bytes[4 * i] = static_cast<uint8_t>(px[i] >> 16);
    out->bytes[4 * i + 1] = static_cast<uint8_t>(px[i] >> 8);
    out->bytes[4 * i + 2] = static_cast<uint8_t>(px[i]);
    out->bytes[4 * i + 3] = alpha || trans == -2 || topByteIsAlpha ? static_cast<uint8_t>(px[i] >> 24) : 255;
  }
  if (transparent) *transparent = trans;
  FreeLoadedImage(image);
  return 0;
}

// Largest channel difference; -1 when the sizes differ.
inline int MaxDifference(const Rgba& a, const Rgba& b, bool withAlpha = true) {
  if (a.width != b.width || a.height != b.height || a.bytes.size() != b.bytes.size()) return -1;
  int worst = 0;
  for (size_t i = 0; i < a.bytes.size(); ++i) {
    if (!withAlpha && i % 4 == 3) continue;
    worst = std::max(worst, std::abs(int(a.bytes[i]) - int(b.bytes[i])));
  }
  return worst;
}

}  // namespace pictest

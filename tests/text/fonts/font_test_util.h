// Helpers for the font tests: a private temporary folder, the bitmap font
// generator, 32-bit pictures and planes, and reading the pictures back.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "text/fonts/engine_font.h"

namespace vltest {

inline std::string MakeTempDir(const char* stem) {
  std::string templ = testing::TempDir() + stem + "_XXXXXX";
  if (!mkdtemp(templ.data())) return {};
  return templ;
}

inline std::string Shell(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  if (!p) return out;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  pclose(p);
  return out;
}

inline std::string SourceFile(const std::string& rel) { return std::string(VL_TEST_SOURCE_DIR) + "/" + rel; }

// Writes the generated bitmap fonts into dir; true on success.
inline bool MakeBitmapFonts(const std::string& dir) {
  std::string cmd = "python3 " + SourceFile("tests/text/fonts/make_bitmap_font.py") + " " + dir + " && echo ok";
  return Shell(cmd).find("ok") != std::string::npos;
}

inline vlBitmap* NewArgbPicture(int32_t w, int32_t h, uint32_t fill) {
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  vlBitmap* b = NewBitmap(w, h, 0, nullptr);
  SetGlobalPixelFormat(-1);
  if (b) FillBitmapRect(b, 0, 0, w, h, fill);
  return b;
}

// The picture's pixels as 0xRRGGBB values, row by row.
inline std::vector<uint32_t> Pixels(vlBitmap* b) {
  int32_t w = b->width, h = b->height;
  uint32_t* p = ReadBitmapARGB(b, 0, 0, w, h, 0);
  std::vector<uint32_t> out;
  for (int32_t i = 0; p && i < w * h; ++i) out.push_back(p[i] & 0xFFFFFF);
  delete[] p;
  return out;
}

// Whitespace-separated numbers after the header lines of a P1 or P3 file.
inline std::vector<int> ReadNetpbm(const std::string& path, int headerNumbers) {
  std::ifstream in(path);
  std::string magic;
  in >> magic;
  std::vector<int> values;
  int v;
  for (int i = 0; i < headerNumbers && in >> v; ++i) {
  }
  while (in >> v) values.push_back(v);
  return values;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace vltest

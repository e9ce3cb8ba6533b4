// Feeds the built-in vector engine paths built from hostile bytes: lines,
// curves, arcs and boxes of zero length, at huge or non-finite places,
// moved by translations that overflow, measured, drawn into a small buffer
// filled and stroked with every join and cap, and the draw library's
// anti-aliased shapes with the same numbers.
//
// Input: a flags byte (bit 0 fill, bit 1 anti-alias, bits 2-3 join, bits
// 4-5 cap, bit 6 even-odd, bit 7 a transform from the next four numbers),
// a line-width byte, then commands: a code byte (low 3 bits: 0 move, 1
// line, 2 curve, 3 sub-path, 4 close, 5 arc, 6 box, 7 translate; bit 7
// relative; bit 6 instead repeats the commands so far, the next byte
// giving how often) and its numbers. A number is one selector byte: below 16 a
// special value, 16 the next 8 bytes as a double, else (s - 136) / 2.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "graphics/outline_raster.h"
#include "text/vector/vector_engine.h"

namespace {

struct Reader {
  const uint8_t* p;
  size_t left;
  bool Byte(uint8_t* out) {
    if (!left) return false;
    *out = *p++;
    --left;
    return true;
  }
  double Number() {
    static const double kSpecial[16] = {0,     1,     -1,   0.5,   1e308, -1e308, 1e6,    -1e6,
                                        1e-300, 3e4,  1e17, -1e17, 360,   -720,   std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::quiet_NaN()};
    uint8_t s = 0;
    if (!Byte(&s)) return 0;
    if (s < 16) return kSpecial[s];
    if (s == 16) {
      double v = 0;
      if (left >= 8) {
        std::memcpy(&v, p, 8);
        p += 8;
        left -= 8;
      }
      return v;
    }
    return (s - 136) / 2.0;
  }
};

struct Path {
  std::vector<uint8_t> bytes;
  void U32(uint32_t v) { Put(&v, 4); }
  void F64(double v) { Put(&v, 8); }
  void Put(const void* v, size_t n) {
    const auto* b = static_cast<const uint8_t*>(v);
    bytes.insert(bytes.end(), b, b + n);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ForgetKeptOutlines();  // each input alone, whatever came before
  Reader in{data, size};
  uint8_t flags = 0, width = 0;
  if (!in.Byte(&flags) || !in.Byte(&width)) return 0;
  vlPathTransform transform = {1, 0, 0, 1};
  if (flags & 0x80) transform = {in.Number(), in.Number(), in.Number(), in.Number()};
  Path path;
  std::vector<double> translations;
  uint8_t code;
  for (int commands = 0; commands < 64 && in.Byte(&code); ++commands) {
    const uint32_t relative = code >> 7;
    if (code & 0x40) {
      // The commands so far again, (the next byte + 1) x 64 times in all
      // (up to 512 KB): paths beyond one FreeType outline, rows crossing
      // thousands of sides.
      uint8_t times = 0;
      in.Byte(&times);
      const std::vector<uint8_t> block = path.bytes;
      for (size_t k = 1; k < (times + 1u) * 64 && !block.empty() && path.bytes.size() + block.size() <= (512u << 10); ++k)
        path.bytes.insert(path.bytes.end(), block.begin(), block.end());
      continue;
    }
    switch (code & 7) {
      case 0:
      case 1:
        path.U32((code & 7) == 0 ? VL_PATH_MOVE : VL_PATH_LINE);
        path.U32(relative);
        for (int i = 0; i < 2; ++i) path.F64(in.Number());
        break;
      case 2:
        path.U32(VL_PATH_CURVE);
        path.U32(relative);
        for (int i = 0; i < 6; ++i) path.F64(in.Number());
        break;
      case 3: path.U32(VL_PATH_SUBPATH); break;
      case 4: path.U32(VL_PATH_CLOSE); break;
      case 5:
        path.U32(VL_PATH_ARC);
        for (int i = 0; i < 6; ++i) path.F64(in.Number());
        path.U32(relative);
        break;
      case 6: {
        path.U32(VL_PATH_BOX);
        for (int i = 0; i < 4; ++i) path.F64(in.Number());
        uint8_t level = 0;
        for (int i = 0; i < 4; ++i) {
          in.Byte(&level);
          path.U32(level);
        }
        break;
      }
      default:
        translations.push_back(in.Number());
        translations.push_back(in.Number());
        break;
    }
  }
  path.U32(VL_PATH_END);
  for (size_t i = 0; i + 1 < translations.size(); i += 2) {
    vlPathTranslateRequest t{path.bytes.data(), translations[i], translations[i + 1]};
    TranslatePath(&t);
  }

  vlLineStateCopy ls{};
  ls.join = (flags >> 2) & 3;
  ls.cap = (flags >> 4) & 3;
  ls.fillRule = (flags >> 6) & 1;
  ls.antiAlias = (flags >> 1) & 1;
  const vlPathTransform* t = (flags & 0x80) ? &transform : nullptr;

  vlPathExtentsRequest extents{};
  extents.commands = path.bytes.data();
  extents.lineState = &ls;
  extents.fill = flags & 1;
  extents.lineWidth = width;
  extents.transform = t;
  GetPathExtents(&extents);

  // Drawn where the path's box says, as the drawing code places it, and at
  // the origin three times running: the later draws take the outline, then
  // the coverage, the engine kept, and must give the bytes of the first.
  constexpr int32_t kSide = 48;
  std::vector<uint8_t> coverage(kSide * kSide), first;
  for (double x : {extents.x1, 0.0, 0.0, 0.0}) {
    std::fill(coverage.begin(), coverage.end(), 0);
    vlPathDrawRequest draw{};
    draw.commands = path.bytes.data();
    draw.lineState = &ls;
    draw.fill = flags & 1;
    draw.lineWidth = width;
    draw.coverage = coverage.data();
    draw.rowBytes = kSide;
    draw.width = kSide;
    draw.height = kSide;
    draw.x = x;
    draw.y = x == 0.0 ? 0.0 : extents.y1;
    draw.transform = t;
    const int drawn = DrawPath(&draw);
    if (x != 0.0) continue;
    if (first.empty()) {
      first = coverage;
      first.push_back(static_cast<uint8_t>(drawn));
    } else if (first.back() != drawn || (drawn && std::memcmp(first.data(), coverage.data(), coverage.size()))) {
      __builtin_trap();
    }
  }
  double cx, cy;
  GetCurrentPoint(path.bytes.data(), &ls, &cx, &cy);

  // The draw library's shapes with the first numbers of the input.
  Reader again{data + 2, size - 2};
  vlShapeOutline shape{};
  shape.kind = (flags & 1) ? 14 : ((flags & 2) ? 31 : 15);
  shape.rx = again.Number();
  shape.ry = again.Number();
  shape.start = again.Number();
  shape.end = again.Number();
  shape.width = again.Number();
  shape.height = again.Number();
  shape.clockwise = (flags >> 3) & 1;
  shape.sizeExtra = width & 3;
  shape.transform = t;
  for (int32_t& c : shape.corners) c = width;
  shape.fill = flags & 1;
  shape.lineWidth = width & 15;
  if (RasterizeArcOutline(&shape) && shape.outWidth > 0 && shape.outHeight > 0 && shape.outWidth <= kSide &&
      shape.outHeight <= kSide) {
    shape.coverage = coverage.data();
    shape.rowBytes = kSide;
    RasterizeArcOutline(&shape);
  }
  return 0;
}

// Rendering laid-out text runs into one picture: glyph shapes from the font
// engine, the styles the engines do not draw (bold, italic, underline), and
// shadow, edge and text painted in their colours.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/cover_over.h"
#include "graphics/pixel_kernels.h"
#include "runtime/console.h"
#include "text/text_layout.h"
#include "vm/error_codes.h"

namespace {

// A coverage plane of 0..255 per pixel, with the glyphs' own colours for
// colour-glyph fonts.
struct Plane {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> v;
  std::vector<uint32_t> rgb;
  uint8_t At(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < width && y < height ? v[static_cast<size_t>(y) * width + x] : 0;
  }
};

// A row of coverage stored in one colour where it is not 0; false (and
// nothing stored) when a partly covered pixel falls on a covered one and
// must be laid over it instead.
bool StoreRow(const uint8_t* __restrict src, uint8_t* __restrict cover, uint32_t* __restrict rgb, int32_t n,
              uint32_t color) {
  uint32_t mixes = 0;
  for (int32_t i = 0; i < n; ++i)
    mixes |= static_cast<uint32_t>(static_cast<uint8_t>(src[i] - 1) < 254) & static_cast<uint32_t>(cover[i] != 0);
  if (mixes) return false;
  // Where v is not 0 the pixel takes the colour and v, which is then at
  // least its old coverage (0 or, with v = 255, any): the larger of the two.
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t v = src[i];
    const uint32_t take = 0u - static_cast<uint32_t>(v != 0);
    rgb[i] = (rgb[i] & ~take) | (color & take);
    cover[i] = static_cast<uint8_t>(std::max<uint32_t>(v, cover[i]));
  }
  return true;
}

// The picture being built: straight colour plus coverage.
struct Canvas {
  int32_t width, height;
  std::vector<uint32_t> rgb;
  std::vector<uint8_t> cover;

  // Paints colour where the plane covers, the plane's top-left at (x, y).
  // With ownColours the plane's own colours are painted instead.
  // Over nothing, or at full coverage, the "over" rule leaves the colour
  // and the coverage as they come: those pixels are stored.
  void Paint(const Plane& p, int32_t x, int32_t y, uint32_t color, int32_t opacity, bool ownColours = false) {
    const int32_t i0 = std::max(0, -x), i1 = std::min(p.width, width - x);
    for (int32_t j = 0; j < p.height; ++j) {
      const int32_t ty = y + j;
      if (ty < 0 || ty >= height) continue;
      const uint8_t* src = p.v.data() + static_cast<size_t>(j) * p.width;
      const size_t row = static_cast<size_t>(ty) * width + x;
      if (opacity == 255 && !ownColours && i1 > i0) {
        // One colour at full opacity: unless a partly covered pixel falls
        // on one already covered, the row is stores alone, as selects the
        // compiler vectorises.
        if (StoreRow(src + i0, cover.data() + row + i0, rgb.data() + row + i0, i1 - i0, color & 0xFFFFFF)) continue;
      }
      for (int32_t i = i0; i < i1; ++i) {
        // Most of a glyph plane is empty: eight empty bytes at a time.
        uint64_t eight;
        if (!(i & 7) && i + 8 <= i1 && (std::memcpy(&eight, src + i, 8), eight == 0)) {
          i += 7;
          continue;
        }
        const uint32_t v = src[i];
        if (!v) continue;
        const uint32_t a = opacity == 255 ? v : v * static_cast<uint32_t>(opacity) / 255;
        if (!a) continue;
        const size_t k = row + i;
        const uint32_t c = ownColours ? p.rgb[static_cast<size_t>(j) * p.width + i] : color;
        if (a == 255 || !cover[k]) {
          rgb[k] = c & 0xFFFFFF;
          cover[k] = static_cast<uint8_t>(a);
          continue;
        }
        const vlCover over = CoverOver(c, a, {rgb[k], cover[k]});
        rgb[k] = over.rgb;
        cover[k] = static_cast<uint8_t>(over.cover);
      }
    }
  }
};

// The edge around a shape: a (2e + 1)^2 spread; binary shapes stay binary,
// soft shapes sum and divide by 2e + 1 so that the edge is opaque near the
// glyph and fades outward.
Plane Spread(const Plane& g, int32_t e, bool soft) {
  Plane out;
  out.width = g.width + 2 * e;
  out.height = g.height + 2 * e;
  out.v.assign(static_cast<size_t>(out.width) * out.height, 0);
  std::vector<int32_t> sum(soft ? out.v.size() : 0, 0);
  for (int32_t j = 0; j < g.height; ++j)
    for (int32_t i = 0; i < g.width; ++i) {
      const uint8_t a = g.v[static_cast<size_t>(j) * g.width + i];
      if (!a) continue;
      for (int32_t oy = 0; oy <= 2 * e; ++oy)
        for (int32_t ox = 0; ox <= 2 * e; ++ox) {
          const size_t k = static_cast<size_t>(j + oy) * out.width + i + ox;
          if (soft)
            sum[k] += a;
          else
            out.v[k] = 255;
        }
    }
  if (soft)
    for (size_t k = 0; k < sum.size(); ++k) out.v[k] = static_cast<uint8_t>(std::min(sum[k] / (2 * e + 1), 255));
  return out;
}

// Renders a run's text as a coverage plane with the synthetic styles.
int GlyphPlane(const vlTextRun& run, int32_t encoding, int32_t pad, Plane* out) {
  const vlTextSettings& s = run.style;
  const vlStyledExtent& e = run.extent;
  const int32_t height = s.font ? s.font->height : 8;
  const int32_t baseline = s.font ? s.font->baseline : 6;
  const int32_t originX = -std::min(e.inkLeft, 0);
  const int32_t w = std::max({e.advance, e.inkRight + 1, 1}) + originX + 2;
  const int32_t h = height + 1;
  const bool aa = (s.style & VL_STYLE_ANTIALIAS) != 0;
  // Colour strikes draw pictures: the glyphs' colours into a picture, their
  // shape into a second mask.
  const bool colour = s.font && s.font->kind == VL_FONTKIND_COLOR;
  Plane g;
  g.width = w + 2 * pad;
  g.height = h + 2 * pad;
  g.v.assign(static_cast<size_t>(g.width) * g.height, 0);
  // Anti-aliased glyphs without a border land in the plane's own bytes.
  const bool direct = aa && !colour && pad == 0;
  vlBitmap* plane = direct ? NewAlphaPlane(w, h, 0, g.v.data(), w)
                    : aa   ? NewAlphaPlane(w, h, 1, nullptr, 0)
                           : NewMaskPlane(nullptr, w, h, 1, nullptr, 0);
  vlBitmap* second = colour ? NewMaskPlane(nullptr, w, h, 1, nullptr, 0) : nullptr;
  vlBitmap* glyphs = colour ? NewBitmap(w, h, 0, nullptr) : nullptr;
  if (!plane || (colour && (!second || !glyphs))) {
    if (plane) aa ? DeleteAlphaPlane(plane) : DeleteMaskPlane(plane);
    if (second) DeleteMaskPlane(second);
    if (glyphs) DeleteBitmap(glyphs);
    if (!plane && aa) return 1564;
    return !plane || !second ? 1565 : 1522;
  }
  const int32_t clip[4] = {0, 0, w, h};
  int status = RenderText(s.font, colour ? glyphs : plane, second, originX, 0, run.text.data(),
                                static_cast<int32_t>(run.text.size()), s.style, encoding, clip, -1);
  vlBitmap* source = second ? second : plane;
  const bool sourceIsMask = second || !aa;
  vlPixelAccess acc;
  if (!status && LockPixels(source, VL_LOCK_READ, &acc)) {
    const bool inPlace = direct && acc.pixels == g.v.data() && acc.rowLength == w;
    for (int32_t j = 0; j < h && !inPlace; ++j) {
      const uint8_t* row = acc.pixels + static_cast<intptr_t>(j) * acc.rowLength;
      uint8_t* to = g.v.data() + static_cast<size_t>(j + pad) * g.width + pad;
      if (!sourceIsMask) {
        std::memcpy(to, row, static_cast<size_t>(w));
        continue;
      }
      for (int32_t i = 0; i < w; ++i) to[i] = GetMaskBit(row, i) ? 255 : 0;
    }
    UnlockPixels(source, &acc);
  }
  if (glyphs && !status) {
    uint32_t* argb = ReadBitmapARGB(glyphs, 0, 0, w, h, 0);
    if (!argb) status = ERR_MEM;
    g.rgb.assign(g.v.size(), 0);
    for (int32_t j = 0; argb && j < h; ++j)
      for (int32_t i = 0; i < w; ++i)
        g.rgb[static_cast<size_t>(j + pad) * g.width + i + pad] = argb[static_cast<size_t>(j) * w + i] & 0xFFFFFF;
    delete[] argb;
  }
  if (aa) DeleteAlphaPlane(plane); else DeleteMaskPlane(plane);
  if (second) DeleteMaskPlane(second);
  if (glyphs) DeleteBitmap(glyphs);
  if (status) return status;
  auto at = [&](int32_t x, int32_t y) -> uint8_t& { return g.v[static_cast<size_t>(y + pad) * g.width + x + pad]; };
  const bool synth = !aa && !second;
  if (synth && (s.style & VL_STYLE_BOLD) && !EngineHasStyle(s.font, VL_STYLE_BOLD))
    for (int32_t j = 0; j < h; ++j)
      for (int32_t i = w - 1; i > 0; --i) at(i, j) = std::max(at(i, j), at(i - 1, j));
  if (synth && (s.style & VL_STYLE_ITALIC) && !EngineHasStyle(s.font, VL_STYLE_ITALIC)) {
    std::vector<uint8_t> row(static_cast<size_t>(w));
    for (int32_t j = 0; j < h; ++j) {
      const int32_t shift = baseline / 2 - j / 2;
      for (int32_t i = 0; i < w; ++i) row[i] = at(i, j);
      for (int32_t i = -pad; i < w + pad; ++i) {
        const int32_t from = i - shift;
        at(i, j) = from >= 0 && from < w ? row[from] : 0;
      }
    }
  }
  if ((s.style & VL_STYLE_UNDERLINED) && !EngineHasStyle(s.font, VL_STYLE_UNDERLINED)) {
    const int32_t d = height - baseline;
    int32_t top = baseline, thick = 1;
    if (d == 1) {
      top = baseline + 1;
    } else if (d > 1) {
      thick = std::max(d / 3, 1);
      top = baseline + thick;
    }
    for (int32_t j = top; j < top + thick && j < h; ++j)
      for (int32_t i = originX; i < originX + e.width && i < w; ++i) {
        at(i, j) = 255;
        // The underline of colour glyphs takes the run's colour.
        if (!g.rgb.empty()) g.rgb[static_cast<size_t>(j + pad) * g.width + i + pad] = s.color & 0xFFFFFF;
      }
  }
  *out = std::move(g);
  return 0;
}

}  // namespace

int EdgeDraw(std::vector<vlTextRun>& runs, int32_t align, int32_t encoding, vlTextPicture* out) {
  *out = {};
  if (runs.empty()) return 0;
  int32_t left = INT_MAX, top = INT_MAX, bottom = INT_MIN, right = INT_MIN, lineBottom = 0, blockEnd = INT_MIN;
  int32_t maxEdge = 0;
  bool needAlpha = false;
  for (const auto& r : runs) {
    const auto& e = r.extent;
    left = std::min(left, r.x + std::min(e.inkLeft, 0) + e.extraLeft);
    top = std::min(top, e.extraTop);
    bottom = std::max(bottom, e.extraBottom);
    right = std::max(right, r.x + e.extraRight + e.advance);
    lineBottom = std::max(lineBottom, r.y);
    blockEnd = std::max(blockEnd, r.x + e.inkRight + 1);
    if (r.style.style & VL_STYLE_EDGE) maxEdge = std::max(maxEdge, r.style.edgeSize);
    if ((r.style.style & VL_STYLE_ANTIALIAS) || (r.style.color >> 24) ||
        ((r.style.style & VL_STYLE_SHADOW) && (r.style.shadowColor >> 24)) ||
        ((r.style.style & VL_STYLE_EDGE) && (r.style.edgeColor >> 24)))
      needAlpha = true;
  }
  if (align == VL_ALIGN_CENTER || align == VL_ALIGN_RIGHT) {
    for (size_t i = 0; i < runs.size();) {
      size_t j = i;
      while (j < runs.size() && runs[j].y == runs[i].y) ++j;
      const int32_t lineEnd = runs[j - 1].x + runs[j - 1].extent.inkRight;
      const int32_t shift = align == VL_ALIGN_CENTER ? (blockEnd - lineEnd - 1) / 2 : blockEnd - lineEnd - 1;
      for (size_t k = i; k < j; ++k) runs[k].x += shift;
      i = j;
    }
  }
  const int32_t fontHeight = runs[0].style.font ? runs[0].style.font->height : 8;
  const int32_t width = std::max(right - left, 1);
  const int32_t height = fontHeight + 1 - top + bottom + lineBottom;
  if (static_cast<int64_t>(width) * height > (int64_t{1} << 28)) return 1522;
  Canvas canvas{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, 0),
                std::vector<uint8_t>(static_cast<size_t>(width) * height, 0)};
  for (const auto& r : runs) {
    const vlTextSettings& s = r.style;
    const int32_t edge = (s.style & VL_STYLE_EDGE) ? s.edgeSize : 0;
    Plane g;
    if (int status = GlyphPlane(r, encoding, 0, &g)) return status;
    const bool soft = (s.style & VL_STYLE_ANTIALIAS) != 0;
    // The glyph plane's top-left in the picture.
    const int32_t gx = r.x + std::min(r.extent.inkLeft, 0) - left;
    const int32_t gy = r.y - top;
    Plane edged;
    if (edge) edged = Spread(g, edge, soft);
    if (s.style & VL_STYLE_SHADOW) {
      static constexpr int8_t kDir[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
      const int32_t d = s.shadowDirection >= 0 && s.shadowDirection < 8 ? s.shadowDirection : 3;
      const int32_t dx = kDir[d][0] * s.shadowSize, dy = kDir[d][1] * s.shadowSize;
      // The top byte is a transparency for hard-edged text too: it is what
      // made the picture take an alpha plane.
      const int32_t opacity = 255 - static_cast<int32_t>(s.shadowColor >> 24);
      if (edge)
        canvas.Paint(edged, gx + dx - edge, gy + dy - edge, s.shadowColor, opacity);
      else
        canvas.Paint(g, gx + dx, gy + dy, s.shadowColor, opacity);
    }
    if (edge) {
      if (gx - edge < 0 || gy - edge < 0) PrintConsole("%s", "ERROR! EDGEDRAW CALLED WITH NEGATIVE X/Y!\n");
      canvas.Paint(edged, gx - edge, gy - edge, s.edgeColor, 255 - static_cast<int32_t>(s.edgeColor >> 24));
    }
    canvas.Paint(g, gx, gy, s.color, 255 - static_cast<int32_t>(s.color >> 24), !g.rgb.empty());
  }
  (void)maxEdge;
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return 1522;
  std::vector<uint32_t> argb(canvas.rgb.size());
  for (size_t k = 0; k < argb.size(); ++k) argb[k] = (uint32_t{canvas.cover[k]} << 24) | canvas.rgb[k];
  WriteBitmapARGB(argb.data(), width * 4, bitmap, 0, 0, width, height);
  out->bitmap = bitmap;
  out->width = width;
  out->height = height;
  out->offsetX = left;
  out->offsetY = top;
  vlPixelAccess acc;
  if (needAlpha) {
    out->alpha = NewAlphaPlane(width, height, 1, nullptr, 0);
    if (!out->alpha || !LockPixels(out->alpha, 0, &acc)) {
      FreeTextPicture(out);
      return 1564;
    }
    for (int32_t j = 0; j < height; ++j)
      std::memcpy(acc.pixels + static_cast<intptr_t>(j) * acc.rowLength, &canvas.cover[static_cast<size_t>(j) * width],
                  static_cast<size_t>(width));
    UnlockPixels(out->alpha, &acc);
  } else {
    out->mask = NewMaskPlane(bitmap, width, height, 1, nullptr, 0);
    if (!out->mask || !LockPixels(out->mask, 0, &acc)) {
      FreeTextPicture(out);
      return 1565;
    }
    for (int32_t j = 0; j < height; ++j)
      for (int32_t i = 0; i < width; ++i)
        SetMaskBit(acc.pixels + static_cast<intptr_t>(j) * acc.rowLength, i,
                   canvas.cover[static_cast<size_t>(j) * width + i] != 0);
    UnlockPixels(out->mask, &acc);
  }
  return 0;
}

int CreateLayerBorderBitmap(vlVMState* state, vlLayer* layer, const vlDrawingFor&, vlLayerGeometry* g,
                            uint32_t color, int32_t size, int32_t* offsetX, int32_t* offsetY, vlBitmap** image,
                            vlBitmap** mask, vlBitmap** alpha) {
  // Wide borders follow the layer's pictures like those of other layers.
  if (size >= 8) return VL_BORDER_FROM_PICTURES;
  vlBitmap *shown, *shownMask, *shownAlpha;
  int32_t w, h;
  uint32_t extra;
  if (int status = GetLayerBitmaps(state, layer, g, 1, 1, -1, &shown, &shownMask, &shownAlpha, &w, &h, &extra))
    return status;
  const bool filtered = g->fImage && shown == g->fImage;
  const int32_t px = filtered ? 0 : g->partX, py = filtered ? 0 : g->partY;
  if (w < 1 || h < 1 || px < 0 || py < 0) return VL_BORDER_FROM_PICTURES;
  const int32_t b = std::max(size, 1);
  const int32_t bw = w + 2 * b + 1, bh = h + 2 * b + 1;
  // The border has the text's own shape: the same spread as a text edge.
  Plane shape;
  shape.width = w;
  shape.height = h;
  shape.v.assign(static_cast<size_t>(w) * h, 0);
  vlBitmap* source = shownAlpha ? shownAlpha : shownMask;
  vlPixelAccess acc;
  if (source && LockPixels(source, VL_LOCK_READ, &acc)) {
    // Only what the plane holds: a part may reach past its edge.
    const int32_t rows = std::min(h, source->height - py), columns = std::min(w, source->width - px);
    for (int32_t j = 0; j < rows; ++j) {
      const uint8_t* row = acc.pixels + static_cast<intptr_t>(j + py) * acc.rowLength;
      for (int32_t i = 0; i < columns; ++i)
        shape.v[static_cast<size_t>(j) * w + i] = shownAlpha ? row[i + px] : (GetMaskBit(row, i + px) ? 255 : 0);
    }
    UnlockPixels(source, &acc);
  }
  const Plane spread = Spread(shape, b, shownAlpha != nullptr);
  vlBitmap* picture = NewBitmap(bw, bh, 0, nullptr);
  if (!picture) return 1522;
  FillBitmapRect(picture, 0, 0, bw, bh, 0xFF000000u | color);
  vlBitmap* plane = nullptr;
  if (shownAlpha)
    plane = NewAlphaPlane(bw, bh, 1, nullptr, 0);
  else if (shownMask)
    plane = NewMaskPlane(picture, bw, bh, 1, nullptr, 0);
  if (source && (!plane || !LockPixels(plane, 0, &acc))) {
    if (plane) shownAlpha ? DeleteAlphaPlane(plane) : DeleteMaskPlane(plane);
    DeleteBitmap(picture);
    return shownAlpha ? 1564 : 1565;
  }
  if (plane) {
    for (int32_t j = 0; j < spread.height; ++j) {
      uint8_t* row = acc.pixels + static_cast<intptr_t>(j) * acc.rowLength;
      for (int32_t i = 0; i < spread.width; ++i) {
        const uint8_t a = spread.v[static_cast<size_t>(j) * spread.width + i];
        if (shownAlpha)
          row[i] = a;
        else
          SetMaskBit(row, i, a != 0);
      }
    }
    UnlockPixels(plane, &acc);
  }
  *image = picture;
  *mask = shownAlpha ? nullptr : plane;
  *alpha = shownAlpha ? plane : nullptr;
  *offsetX = *offsetY = b;
  return 0;
}

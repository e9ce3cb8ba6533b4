// TrueType and OpenType faces through FreeType: the library handle, the
// stream glue, opening a face at a pixel size, glyph loading with bold and
// italic synthesis and the glyph cache, and measuring, kerning and drawing
// text.
#include "text/fonts/truetype_font.h"

#include FT_SYNTHESIS_H
#include FT_OUTLINE_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "vm/convert.h"

namespace {


unsigned long ReadTTStream(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count) {
  auto* desc = static_cast<vlTTStreamDesc*>(stream->descriptor.pointer);
  if (SeekFileStream(desc->stream, int64_t{desc->base} + static_cast<int64_t>(offset), VL_SEEK_BEGIN) < 0)
    return count ? 0 : 1;  // a failed seek is an error for FreeType
  if (count == 0) return 0;
  int64_t got = ReadFileStream(desc->stream, buffer, static_cast<int64_t>(count));
  return got > 0 ? static_cast<unsigned long>(got) : 0;
}

void FreeTTFontRecord(vlTTFont* tt) {
  if (!tt) return;
  for (auto& bank : tt->cache.banks)
    for (auto& slot : bank)
      if (slot.glyph) FT_Done_Glyph(slot.glyph);
  if (tt->face) FT_Done_Face(tt->face);
  if (tt->stream) CloseFileStream(tt->stream);
  if (tt->isTemp) RemovePath(tt->tempPath);
  FreeMemory(tt);
}

// Largest bitmap top and largest rows - top over the codes that render.
bool MeasureSampleGlyphs(FT_Face face, const uint32_t* codes, size_t count, int32_t* ascent, int32_t* descent) {
  bool any = false;
  *ascent = *descent = 0;
  for (size_t i = 0; i < count; ++i) {
    FT_UInt index = FT_Get_Char_Index(face, codes[i]);
    if (!index) continue;
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
    const FT_GlyphSlot g = face->glyph;
    *ascent = std::max<int32_t>(*ascent, g->bitmap_top);
    *descent = std::max<int32_t>(*descent, static_cast<int32_t>(g->bitmap.rows) - g->bitmap_top);
    any = true;
  }
  return any;
}

// The family name, plus a blank and the style unless it is a regular one.
void FillFaceName(FT_Face face, char* name, size_t size) {
  const char* family = face->family_name ? face->family_name : "";
  const char* style = face->style_name ? face->style_name : "";
  if (*style && !IsRegularStyle(style))
    std::snprintf(name, size, "%s %s", family, style);
  else
    std::snprintf(name, size, "%s", family);
}

int FinishOpen(vlTTFont* tt, int32_t size, int32_t cacheFlag, vlEngineFont* font) {
  FT_Face face = tt->face;
  tt->cacheFlag = static_cast<uint32_t>(cacheFlag);
  if (FT_Set_Char_Size(face, 0, 100 * 64, 72, 72)) return 0;
  uint32_t codes[223];
  for (uint32_t c = 33; c <= 255; ++c) codes[c - 33] = c;
  int32_t ascent, descent;
  MeasureSampleGlyphs(face, codes, 223, &ascent, &descent);
  if (ascent + descent <= 0 || size <= 0) return 0;
  tt->nominalSize = static_cast<int32_t>(int64_t{size} * 100 / (ascent + descent));
  tt->resX = tt->resY = 72;
  // FreeType refuses a size of 0; the smallest face is one pixel.
  if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(std::max(tt->nominalSize - 1, 1)), 0)) return 0;
  font->kind = VL_FONTKIND_TRUETYPE;
  font->size = size;
  font->scalable = 1;
  font->antiAlias = 1;
  font->height = font->designHeight = size;
  font->baseline = font->designBaseline = ComputeTTBaseline(tt, size);
  font->engineData = tt;
  FillFaceName(face, font->name, sizeof font->name);
  return 1;
}

vlTTFont* NewTTFont() { return static_cast<vlTTFont*>(AllocMemory(sizeof(vlTTFont), 1)); }

int32_t ScaleAdvance(const vlTTFont* tt, double scaleX, int32_t advance, FT_Pos kx) {
  FT_Face face = tt->face;
  int64_t p = face->size ? face->size->metrics.x_ppem : 0;
  int64_t u = face->units_per_EM;
  if (p <= 0 || u <= 0) return 0;
  int64_t n = int64_t{tt->nominalSize} * tt->resX / 72;
  int64_t a = (int64_t{advance} * 1024) / p - (-int64_t{kx} * 65536) / u;
  int64_t pixels = (a * n) / 65536;
  if (scaleX == 1.0 && pixels >= INT32_MIN && pixels <= INT32_MAX) return static_cast<int32_t>(pixels);
  return vl::DoubleToInt32(std::round(static_cast<double>(pixels) * scaleX));
}

FT_Pos UnscaledKerning(FT_Face face, FT_UInt left, FT_UInt right) {
  if (!FT_HAS_KERNING(face) || !left || !right) return 0;
  FT_Vector v;
  if (FT_Get_Kerning(face, left, right, FT_KERNING_UNSCALED, &v)) return 0;
  return v.x;
}

// The same through the font's table of recent pairs: text repeats its
// pairs, and the face's kerning table is searched for each.
FT_Pos UnscaledKerning(vlTTFont* tt, FT_UInt left, FT_UInt right) {
  if (!FT_HAS_KERNING(tt->face) || !left || !right) return 0;
  if (left > 0xFFFF || right > 0xFFFF) return UnscaledKerning(tt->face, left, right);
  const uint32_t pair = left << 16 | right;
  auto& slot = tt->kerning[(pair * 2654435761u) >> 22];
  if (slot.pair != pair) {
    const FT_Pos kx = UnscaledKerning(tt->face, left, right);
    if (kx < INT32_MIN || kx > INT32_MAX) return kx;
    slot = {pair, static_cast<int32_t>(kx)};
  }
  return slot.kx;
}

// The face's glyph index of a character; the first 256 codes are looked
// up once per font.
FT_UInt CharIndex(vlTTFont* tt, uint32_t code) {
  if (code >= 256) return FT_Get_Char_Index(tt->face, code);
  uint32_t& known = tt->charIndex[code];
  if (!known) known = FT_Get_Char_Index(tt->face, code) + 1;
  return known - 1;
}

struct GlyphOut {
  int32_t left, top, advance;
  const FT_Bitmap* bitmap;
  int32_t pixels;  // the advance in pixels when the next character does not kern
};

// 0, or -1 when the glyph cannot be loaded or rendered.
int LoadTTGlyph(vlTTFont* tt, double scaleX, uint32_t code, FT_UInt index, uint32_t style, GlyphOut* out) {
  const bool bold = style & VL_STYLE_BOLD, italic = style & VL_STYLE_ITALIC;
  const bool aa = style & VL_STYLE_ANTIALIAS;
  // Styled glyphs are cached too, each style in its own bank: emboldening
  // and slanting cost more than the rendering itself.
  const bool cached = tt->cacheFlag && code < 256;
  const int bank = (aa ? 0 : 1) + (bold ? 2 : 0) + (italic ? 4 : 0);
  vlGlyphCacheSlot* slot = cached ? &tt->cache.banks[bank][code] : nullptr;
  if (slot && slot->glyph) {
    auto* bg = reinterpret_cast<FT_BitmapGlyph>(slot->glyph);
    if (slot->scaleX != scaleX) {
      slot->pixels = ScaleAdvance(tt, scaleX, slot->advance, 0);
      slot->scaleX = scaleX;
    }
    *out = {bg->left, bg->top, slot->advance, &bg->bitmap, slot->pixels};
    return 0;
  }
  FT_Face face = tt->face;
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT)) return -1;
  FT_GlyphSlot g = face->glyph;
  if (bold) FT_GlyphSlot_Embolden(g);
  if (italic && g->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_Matrix shear = {0x10000, 0x6000, 0, 0x10000};
    FT_Outline_Transform(&g->outline, &shear);
  }
  if (FT_Render_Glyph(g, aa ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO)) return -1;
  // The untransformed advance: the scale is applied once, by the caller.
  const int32_t advance = static_cast<int32_t>(g->metrics.horiAdvance);
  const int32_t pixels = ScaleAdvance(tt, scaleX, advance, 0);
  if (slot) {
    FT_Glyph copy;
    if (!FT_Get_Glyph(g, &copy)) {
      if (copy->format == FT_GLYPH_FORMAT_BITMAP) {
        *slot = {copy, advance, pixels, scaleX};
        auto* bg = reinterpret_cast<FT_BitmapGlyph>(copy);
        *out = {bg->left, bg->top, advance, &bg->bitmap, pixels};
        return 0;
      }
      FT_Done_Glyph(copy);
    }
  }
  *out = {g->bitmap_left, g->bitmap_top, advance, &g->bitmap, pixels};
  return 0;
}

// The target of 1-bit glyphs painted in a colour, locked at the first such
// glyph and kept locked for the rest of the text.
struct PaintTarget {
  vlBitmap* bitmap = nullptr;
  vlPixelAccess access{};
  const vlPixelKernels* kernels = nullptr;
  uint32_t pixel = 0;
  bool Lock(vlBitmap* target, uint32_t color) {
    if (bitmap) return kernels != nullptr;
    bitmap = target;
    if (!LockPixels(target, 0, &access)) return false;
    kernels = PixelKernelsFor(access.format);
    pixel = ColorToPixel(color, access.format, 0);
    return kernels != nullptr;
  }
  uint8_t* At(int32_t x, int32_t y) const {
    return access.pixels + (static_cast<intptr_t>(y) * access.rowLength + x) * access.bytesPerPixel;
  }
  void Unlock() {
    if (access.locked) UnlockPixels(bitmap, &access);
    bitmap = nullptr;
    access = {};
    kernels = nullptr;
  }
  ~PaintTarget() { Unlock(); }
};

// Text as code points: decoded UTF-8, or the bytes as ISO 8859-1.
struct CodePoints {
  uint32_t local[256];
  uint32_t* codes = nullptr;
  int32_t count = 0;
  int allocated = 0;
  bool decoded = false;  // as UTF-8, not as bytes
  CodePoints(const char* text, int32_t length, int32_t encoding) {
    decoded = DecodeUTF8Text(text, length, encoding, local, sizeof local, &codes, &count, &allocated) == 0;
    if (decoded) return;
    allocated = 0;
    codes = local;
    count = 0;
    if (length > 256) {
      codes = static_cast<uint32_t*>(AllocMemory(size_t(length) * 4, 0));
      if (!codes) {
        codes = local;
        return;
      }
      allocated = 1;
    }
    for (int32_t i = 0; i < length; ++i) codes[count++] = static_cast<uint8_t>(text[i]);
  }
  ~CodePoints() {
    if (allocated) FreeDecodedText(codes);
  }
};

}  // namespace

int32_t ComputeTTBaseline(vlTTFont* tt, int32_t height) {
  static const uint32_t kCodes[] = {'A', 0xC0, 0xC4, 'q'};
  int32_t top, down;
  if (!MeasureSampleGlyphs(tt->face, kCodes, 4, &top, &down)) return height * 3 / 4;
  return (top + height + 1 - down) / 2;
}

int OpenTTFontFromStream(vlStream* stream, uint32_t base, uint32_t size, int32_t fontSize, int32_t cacheFlag,
                         vlEngineFont* font) {
  vlTTFont* tt = GetFreeTypeLibrary() ? NewTTFont() : nullptr;
  if (!tt) {
    CloseFileStream(stream);
    return 0;
  }
  tt->stream = stream;
  tt->desc = {stream, base, size};
  tt->ftStream.size = size;
  tt->ftStream.descriptor.pointer = &tt->desc;
  tt->ftStream.read = ReadTTStream;
  FT_Open_Args args{};
  args.flags = FT_OPEN_STREAM;
  args.stream = &tt->ftStream;
  if (FT_Open_Face(GetFreeTypeLibrary(), &args, 0, &tt->face) || !FinishOpen(tt, fontSize, cacheFlag, font)) {
    FreeTTFontRecord(tt);
    return 0;
  }
  return 1;
}

int OpenTTFont(const char* name, int32_t size, int32_t cacheFlag, vlEngineFont* font) {
  if (!GetFreeTypeLibrary() || !name) return 0;
  if (!IsChunkName(name)) {
    if (const vlEmbeddedFace* e = FindEmbeddedFace(name)) {
      vlTTFont* tt = NewTTFont();
      if (!tt) return 0;
      if (FT_New_Memory_Face(GetFreeTypeLibrary(), e->data, static_cast<FT_Long>(e->size), 0, &tt->face) ||
          !FinishOpen(tt, size, cacheFlag, font)) {
        FreeTTFontRecord(tt);
        return 0;
      }
      return 1;
    }
  }
  char found[1024];
  const char* path = name;
  uint32_t resOffset = 0, resLength = 0, isTemp = 0;
  if (!IsChunkName(name) && !EndsWithNoCase(name, ".ttf") && !EndsWithNoCase(name, ".otf")) {
    path = FindInstalledFont(name, &resOffset, &resLength, &isTemp, found, sizeof found);
    if (!path) return 0;
  }
  vlStream* stream = OpenFileStream(path, VL_MODE_READ, nullptr);
  int64_t fileSize = stream ? GetFileStreamSize(stream) : -1;
  if (!stream || fileSize < 0 || fileSize > 0xFFFFFFFF) {
    if (stream) CloseFileStream(stream);
    if (isTemp) RemovePath(path);
    return 0;
  }
  uint32_t base = 0, length = static_cast<uint32_t>(fileSize);
  if (resOffset) {
    base = resOffset;
    length = resLength;
  }
  if (!OpenTTFontFromStream(stream, base, length, size, cacheFlag, font)) {
    if (isTemp) RemovePath(path);
    return 0;
  }
  if (isTemp) {
    auto* tt = static_cast<vlTTFont*>(font->engineData);
    std::snprintf(tt->tempPath, sizeof tt->tempPath, "%s", path);
    tt->isTemp = 1;
  }
  return 1;
}

void CloseTTFont(vlEngineFont* font) {
  FreeTTFontRecord(static_cast<vlTTFont*>(font->engineData));
  font->engineData = nullptr;
}

FT_Face GetTTFace(vlEngineFont* font) {
  auto* tt = font && font->kind == VL_FONTKIND_TRUETYPE ? static_cast<vlTTFont*>(font->engineData) : nullptr;
  return tt ? tt->face : nullptr;
}

void FlushTTGlyphCache(vlEngineFont* font) {
  auto* tt = static_cast<vlTTFont*>(font->engineData);
  if (!tt) return;
  for (auto& bank : tt->cache.banks)
    for (auto& slot : bank) {
      if (slot.glyph) FT_Done_Glyph(slot.glyph);
      slot = {};
    }
}

namespace {

// The extent from the ink box gathered over the glyphs: without ink the
// box is 0; right and bottom never lie left of or above the start.
void FinishExtent(vlTextMeasure* m) {
  vlTextExtent& e = m->extent;
  e.left = m->inked ? m->inkLeft : 0;
  e.top = m->inked ? m->inkTop : 0;
  e.right = m->inked ? std::max(m->inkRight, 0) : 0;
  e.bottom = m->inked ? std::max(m->inkBottom, 0) : 0;
}

}  // namespace

int MeasureTTTextJoinable(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                          vlTextMeasure* out) {
  auto* tt = static_cast<vlTTFont*>(font->engineData);
  *out = {};
  vlTextExtent& e = out->extent;
  e.height = font->height;
  CodePoints cp(text, length, encoding);
  // Text taken as bytes because it is not well-formed UTF-8 may read
  // otherwise once joined to the next.
  out->joinable = encoding == 0 || cp.decoded;
  out->count = cp.count;
  FT_UInt index = cp.count ? CharIndex(tt, cp.codes[0]) : 0;
  out->firstGlyph = index;
  for (int32_t i = 0; i < cp.count; ++i) {
    const FT_UInt next = i + 1 < cp.count ? CharIndex(tt, cp.codes[i + 1]) : 0;
    GlyphOut g;
    const bool loaded = LoadTTGlyph(tt, font->scaleX, cp.codes[i], index, style, &g) == 0;
    if (i + 1 == cp.count) {
      out->lastGlyph = index;
      out->lastLoaded = loaded;
      out->lastAdvance = loaded ? g.advance : 0;
    }
    if (loaded) {
      if (cp.codes[i] != 32) {
        const int32_t x = e.width + g.left, right = x + static_cast<int32_t>(g.bitmap->width);
        const int32_t top = -g.top, bottom = top + static_cast<int32_t>(g.bitmap->rows);
        if (!out->inked) {
          out->inked = 1;
          out->inkLeft = x, out->inkTop = top, out->inkRight = right, out->inkBottom = bottom;
        }
        out->inkLeft = std::min(out->inkLeft, x);
        out->inkTop = std::min(out->inkTop, top);
        out->inkRight = std::max(out->inkRight, right);
        out->inkBottom = std::max(out->inkBottom, bottom);
      }
      const FT_Pos kx = next ? UnscaledKerning(tt, index, next) : 0;
      e.width += kx ? ScaleAdvance(tt, font->scaleX, g.advance, kx) : g.pixels;
    }
    index = next;
  }
  FinishExtent(out);
  return 0;
}

int MeasureTTText(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                  vlTextExtent* out) {
  vlTextMeasure m;
  MeasureTTTextJoinable(font, text, length, style, encoding, &m);
  *out = m.extent;
  return 0;
}

bool JoinTTMeasures(vlEngineFont* font, const vlTextMeasure& a, const vlTextMeasure& b, vlTextMeasure* out) {
  if (!a.joinable || !b.joinable) return false;
  auto* tt = static_cast<vlTTFont*>(font->engineData);
  // Only the seam changes: the last character of a now kerns with the
  // first of b, and b's glyphs move by a's (new) width.
  int32_t delta = 0;
  if (a.count && b.count && a.lastLoaded)
    if (FT_Pos kx = UnscaledKerning(tt, a.lastGlyph, b.firstGlyph))
      delta = ScaleAdvance(tt, font->scaleX, a.lastAdvance, kx) - ScaleAdvance(tt, font->scaleX, a.lastAdvance, 0);
  const int32_t shift = a.extent.width + delta;
  *out = a;
  out->extent.width = shift + b.extent.width;
  if (b.inked) {
    if (!a.inked) {
      out->inked = 1;
      out->inkLeft = shift + b.inkLeft, out->inkTop = b.inkTop;
      out->inkRight = shift + b.inkRight, out->inkBottom = b.inkBottom;
    }
    out->inkLeft = std::min(out->inkLeft, shift + b.inkLeft);
    out->inkTop = std::min(out->inkTop, b.inkTop);
    out->inkRight = std::max(out->inkRight, shift + b.inkRight);
    out->inkBottom = std::max(out->inkBottom, b.inkBottom);
  }
  FinishExtent(out);
  out->count = a.count + b.count;
  if (!a.count) out->firstGlyph = b.firstGlyph;
  if (b.count) {
    out->lastGlyph = b.lastGlyph;
    out->lastLoaded = b.lastLoaded;
    out->lastAdvance = b.lastAdvance;
  }
  return true;
}

int RenderTTText(vlEngineFont* font, vlBitmap* target, vlBitmap*, int32_t x, int32_t y, const char* text,
                 int32_t length, uint32_t style, int32_t encoding, const int32_t clip[4], int64_t color) {
  auto* tt = static_cast<vlTTFont*>(font->engineData);
  if (!target) return 0;
  CodePoints cp(text, length, encoding);
  const int32_t tw = static_cast<int32_t>(QueryBitmap(target, 0)), th = static_cast<int32_t>(QueryBitmap(target, 14));
  PaintTarget painted;
  FT_UInt next = cp.count ? CharIndex(tt, cp.codes[0]) : 0;
  for (int32_t i = 0; i < cp.count; ++i) {
    const FT_UInt index = next;
    next = i + 1 < cp.count ? CharIndex(tt, cp.codes[i + 1]) : 0;
    GlyphOut g;
    if (LoadTTGlyph(tt, font->scaleX, cp.codes[i], index, style, &g)) continue;
    const FT_Pos kx = next ? UnscaledKerning(tt, index, next) : 0;
    const FT_Bitmap& b = *g.bitmap;
    int32_t gx = x + g.left, gy = y + font->baseline - g.top;
    int32_t x1 = std::max(gx, 0), y1 = std::max(gy, 0);
    int32_t x2 = std::min<int32_t>(gx + static_cast<int32_t>(b.width), tw);
    int32_t y2 = std::min<int32_t>(gy + static_cast<int32_t>(b.rows), th);
    if (clip) {
      x1 = std::max(x1, clip[0]);
      y1 = std::max(y1, clip[1]);
      x2 = std::min(x2, clip[0] + clip[2]);
      y2 = std::min(y2, clip[1] + clip[3]);
    }
    if (x2 > x1 && y2 > y1 && b.pitch > 0 && b.buffer) {
      const int32_t cx = x1 - gx, cy = y1 - gy, w = x2 - x1, h = y2 - y1;
      const uint8_t* rows = b.buffer + static_cast<intptr_t>(cy) * b.pitch;
      if (b.pixel_mode == FT_PIXEL_MODE_GRAY) {
        painted.Unlock();
        if (color != -1) {
          BltAlphaChannel(nullptr, 0, 0, target, x1, y1, w, h, static_cast<uint32_t>(color), 1, nullptr, 255,
                          nullptr, rows + cx, b.pitch);
        } else if (vlLockedPixels plane(target->kind == VL_BITMAP_ALPHA ? target : nullptr, 0); plane.ok()) {
          for (int32_t r = 0; r < h; ++r) {
            const uint8_t* from = rows + static_cast<intptr_t>(r) * b.pitch + cx;
            uint8_t* to = plane.Row(y1 + r) + x1;
            for (int32_t c = 0; c < w; ++c) {
              const uint8_t v = from[c];
              to[c] = v ? v : to[c];  // branch-free: a select the compiler vectorises
            }
          }
        }
      } else if (b.pixel_mode == FT_PIXEL_MODE_MONO) {
        if (color != -1) {
          if (painted.Lock(target, static_cast<uint32_t>(color)))
            painted.kernels->paintMask(painted.At(x1, y1), painted.access.rowLength, w, h, rows, b.pitch, cx,
                                       painted.pixel);
        } else {
          CopyMaskRegion(nullptr, cx, cy, target, x1, y1, w, h, 0, b.buffer, b.pitch);
        }
      }
    }
    x += kx ? ScaleAdvance(tt, font->scaleX, g.advance, kx) : g.pixels;
  }
  return 0;
}

int32_t GetTTKerning(vlEngineFont* font, const char* text, uint32_t, int32_t encoding) {
  auto* tt = static_cast<vlTTFont*>(font->engineData);
  FT_Face face = tt->face;
  if (!FT_HAS_KERNING(face) || !text) return 0;
  CodePoints cp(text, static_cast<int32_t>(std::strlen(text)), encoding);
  if (cp.count != 2) return 0;
  FT_UInt l = FT_Get_Char_Index(face, cp.codes[0]), r = FT_Get_Char_Index(face, cp.codes[1]);
  if (!l || !r) return 0;
  int64_t kx = UnscaledKerning(face, l, r);
  int64_t u = face->units_per_EM;
  if (u <= 0) return 0;
  int64_t n = int64_t{tt->nominalSize} * tt->resX / 72;
  return static_cast<int32_t>(-(((-kx * 65536) / u) * n / 65536));
}

void SetTTFontScale(vlEngineFont* font, double scaleX, double scaleY) {
  auto* tt = static_cast<vlTTFont*>(font->engineData);
  FlushTTGlyphCache(font);
  FT_Matrix m = {vl::DoubleToInt32(scaleX * 65536), 0, 0, vl::DoubleToInt32(scaleY * 65536)};
  FT_Set_Transform(tt->face, &m, nullptr);
  font->baseline = ComputeTTBaseline(tt, font->height);
}

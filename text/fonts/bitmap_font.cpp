// Bitmap fonts: the contents and glyph file readers (every offset checked
// against the file's bytes), the colour strike, the built-in font, and
// measuring and drawing byte text through the strike.
#include "text/fonts/bitmap_font.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "runtime/linked_files.h"
#include "runtime/runtime_options.h"
#include "runtime/stream.h"

namespace {

constexpr uint32_t kHunkBase = 32;  // hunk offset h is file offset h + 32
constexpr size_t kContentsEntrySize = 260;

uint32_t U16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t U32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// The file span of count bytes at hunk offset h, or null when it does not fit.
const uint8_t* HunkSpan(const uint8_t* bytes, size_t size, uint32_t h, uint64_t count) {
  uint64_t at = uint64_t{h} + kHunkBase;
  if (at > size || count > size - at) return nullptr;
  return bytes + at;
}

template <class T>
T* AllocArray(uint64_t count) {
  if (count == 0) count = 1;
  return static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
}

int32_t Entry(const vlBitmapFontData* d, uint32_t c) {
  return (c >= d->lowChar && c <= d->highChar) ? static_cast<int32_t>(c - d->lowChar) : d->count - 1;
}

}  // namespace

void FreeBitmapFontTables(vlBitmapFontData* d) {
  if (!d->constData) {
    std::free(d->strikeData);
    std::free(d->charLoc);
  }
  std::free(d->spacing);
  std::free(d->kerning);
  d->strikeData = nullptr;
  d->charLoc = nullptr;
  d->spacing = nullptr;
  d->kerning = nullptr;
}

int FindBitmapFontEntry(const uint8_t* bytes, size_t size, int32_t wantSize, char* name, size_t nameSize) {
  if (size < 4) return 0;
  uint32_t id = U16(bytes);
  if (id != 0x0F00 && id != 0x0F02) return 0;
  uint32_t entries = U16(bytes + 2);
  for (uint32_t i = 0; i < entries; ++i) {
    size_t at = 4 + i * kContentsEntrySize;
    if (at + kContentsEntrySize > size) return 0;
    const uint8_t* e = bytes + at;
    if (static_cast<int32_t>(U16(e + 256)) != wantSize) continue;
    size_t len = strnlen(reinterpret_cast<const char*>(e), 256);
    std::string entryName(reinterpret_cast<const char*>(e), len);
    if (entryName == "::incomplete") continue;
    if (len + 1 > nameSize) return 0;
    std::memcpy(name, entryName.c_str(), len + 1);
    return 1;
  }
  return 0;
}

int ParseBitmapGlyphFile(const uint8_t* bytes, size_t size, vlParsedBitmapFont* out) {
  std::memset(out, 0, sizeof *out);
  if (size < 142 || U16(bytes + 50) != 0x0F80) return 0;
  vlBitmapFontData& d = out->data;
  d.height = static_cast<int32_t>(U16(bytes + 110));
  d.style = bytes[112];
  d.flags = bytes[113];
  d.xSize = static_cast<int32_t>(U16(bytes + 114));
  d.baseline = static_cast<int32_t>(U16(bytes + 116));
  d.boldSmear = static_cast<int32_t>(U16(bytes + 118));
  d.accessors = static_cast<int32_t>(U16(bytes + 120));
  d.lowChar = bytes[122];
  d.highChar = bytes[123];
  uint32_t strikeOffset = U32(bytes + 124);
  d.modulo = static_cast<int32_t>(U16(bytes + 128));
  uint32_t locOffset = U32(bytes + 130);
  uint32_t spacingOffset = U32(bytes + 134);
  uint32_t kerningOffset = U32(bytes + 138);
  // A font without rows or with its range upside down has no glyphs to draw.
  if (d.height <= 0 || d.modulo <= 0 || d.highChar < d.lowChar) return 0;
  d.count = static_cast<int32_t>(d.highChar - d.lowChar + 2);
  const uint64_t planeBytes = uint64_t(d.modulo) * uint64_t(d.height);
  // Every real strike (or colour plane) is stored in the file, which bounds
  // the pictures made from it.
  if (planeBytes > size) return 0;
  const bool colour = (d.style & kBitmapFontColorStyle) != 0;

  auto fail = [&] {
    FreeBitmapFontTables(&d);
    std::free(out->argb);
    out->argb = nullptr;
    return 0;
  };

  if (!colour) {
    const uint8_t* strike = HunkSpan(bytes, size, strikeOffset, planeBytes);
    if (!strike || !(d.strikeData = AllocArray<uint8_t>(planeBytes))) return fail();
    std::memcpy(d.strikeData, strike, planeBytes);
  } else {
    if (size < 186) return fail();
    uint32_t depth = std::min<uint32_t>(bytes[144], 8);
    uint32_t pick = bytes[148] & ((1u << depth) - 1);
    uint32_t colourRecord = U32(bytes + 150);
    const uint8_t* planes[8] = {};
    int used = 0;
    for (uint32_t bit = 0; bit < depth; ++bit) {
      if (!(pick & (1u << bit))) continue;
      uint32_t off = U32(bytes + 154 + 4 * used);
      if (off) {
        planes[used] = HunkSpan(bytes, size, off, planeBytes);
        if (!planes[used]) return fail();
      }
      ++used;
    }
    const uint8_t* rec = HunkSpan(bytes, size, colourRecord, 8);
    if (!rec) return fail();
    uint32_t colours = std::min<uint32_t>(U16(rec + 2), 256);
    const uint8_t* table = HunkSpan(bytes, size, U32(rec + 4), uint64_t{colours} * 2);
    if (!table) return fail();
    // Entries past the table's count stay black.
    uint32_t palette[256] = {};
    for (uint32_t i = 0; i < colours; ++i) {
      uint32_t rgb = U16(table + 2 * i);
      uint32_t r = (rgb >> 8) & 15, g = (rgb >> 4) & 15, b = rgb & 15;
      palette[i] = (r * 17) << 16 | (g * 17) << 8 | (b * 17);
    }
    palette[0] = kStrikeKeyColor;
    out->argbWidth = d.modulo * 8;
    out->argbHeight = d.height;
    out->argb = AllocArray<uint32_t>(uint64_t(out->argbWidth) * uint64_t(out->argbHeight));
    if (!out->argb) return fail();
    for (int32_t y = 0; y < d.height; ++y) {
      for (int32_t x = 0; x < out->argbWidth; ++x) {
        uint32_t index = 0;
        size_t at = size_t(y) * d.modulo + x / 8;
        for (int i = 0; i < used; ++i)
          if (planes[i] && (planes[i][at] & (0x80 >> (x & 7)))) index |= 1u << i;
        out->argb[size_t(y) * out->argbWidth + x] = palette[index];
      }
    }
  }

  const uint8_t* loc = HunkSpan(bytes, size, locOffset, uint64_t(d.count) * 4);
  if (!loc || !(d.charLoc = AllocArray<uint32_t>(d.count))) return fail();
  const uint32_t strikeWidth = uint32_t(d.modulo) * 8;
  for (int32_t i = 0; i < d.count; ++i) {
    uint32_t v = U32(loc + 4 * i);
    uint32_t off = v >> 16, width = v & 0xFFFF;
    // A glyph reaching past the strike is cut at its edge.
    if (off > strikeWidth) off = strikeWidth;
    if (width > strikeWidth - off) width = strikeWidth - off;
    d.charLoc[i] = off << 16 | width;
  }
  for (auto [offset, table] : {std::pair{spacingOffset, &d.spacing}, std::pair{kerningOffset, &d.kerning}}) {
    if (!offset) continue;
    const uint8_t* src = HunkSpan(bytes, size, offset, uint64_t(d.count) * 2);
    if (!src || !(*table = AllocArray<int16_t>(d.count))) return fail();
    for (int32_t i = 0; i < d.count; ++i) (*table)[i] = static_cast<int16_t>(U16(src + 2 * i));
  }
  return 1;
}

namespace {

// The glyph file named by a contents entry: a path beside the contents
// file, or a slice of the compiled script that holds it.
bool ResolveGlyphFileName(const char* contentsPath, const char* entry, std::string* out) {
  const char* rest = nullptr;
  bool cutAtSlash = false;
  if (std::strncmp(entry, ":::chunk", 8) == 0) {
    rest = entry + 8;
    cutAtSlash = true;
  } else if (std::strncmp(entry, "::linkedfont", 12) == 0) {
    rest = entry + 12;
  }
  if (!rest) {
    char buffer[2048];
    std::string dir = contentsPath;
    size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash);
    if (dir.size() >= sizeof buffer) return false;
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    if (!AddPart(buffer, sizeof buffer, entry)) return false;
    *out = buffer;
    return true;
  }
  char* end;
  unsigned long long offset = std::strtoull(rest, &end, 10);
  if (end == rest || !*end) return false;
  const char* lengthText = end + 1;
  unsigned long long length = std::strtoull(lengthText, &end, 10);
  if (end == lengthText || *end != '*') return false;
  std::string stored = end + 1;
  if (cutAtSlash) stored = stored.substr(0, stored.find('/'));
  // The slice lies in the same compiled script as the contents file.
  char container[1024] = "";
  if (IsChunkName(contentsPath)) {
    vlChunkNameParts parts{};
    parts.containerPath = container;
    parts.containerPathSize = sizeof container;
    if (!ParseChunkName(contentsPath, parts)) return false;
  }
  char name[2048];
  if (!MakeChunkName(stored.c_str(), name, sizeof name, static_cast<int64_t>(offset), length, GetContainerBase(),
                     container))
    return false;
  *out = name;
  return true;
}

bool ReadFile(const char* name, uint8_t** bytes, int64_t* size) {
  return ReadWholeFile(name, nullptr, nullptr, bytes, size, 0, 0) == 0;
}

}  // namespace

int LoadBitmapFont(const char* path, int32_t size, vlEngineFont* font, const char* displayName) {
  std::string contents = path;
  if (!IsChunkName(path) && !EndsWithNoCase(path, ".font")) contents += ".font";
  uint8_t* bytes = nullptr;
  int64_t length = 0;
  if (!ReadFile(contents.c_str(), &bytes, &length)) return 0;
  char entry[257];
  int found = FindBitmapFontEntry(bytes, static_cast<size_t>(length), size, entry, sizeof entry);
  std::free(bytes);
  std::string glyphName;
  if (!found || !ResolveGlyphFileName(contents.c_str(), entry, &glyphName)) return 0;
  if (!ReadFile(glyphName.c_str(), &bytes, &length)) return 0;
  vlParsedBitmapFont parsed;
  int ok = ParseBitmapGlyphFile(bytes, static_cast<size_t>(length), &parsed);
  std::free(bytes);
  if (!ok) return 0;

  auto* data = static_cast<vlBitmapFontData*>(AllocMemory(sizeof(vlBitmapFontData), 1));
  if (!data) {
    FreeBitmapFontTables(&parsed.data);
    std::free(parsed.argb);
    return 0;
  }
  *data = parsed.data;
  font->engineData = data;
  font->kind = VL_FONTKIND_BITMAP;
  if (parsed.argb) {
    font->kind = VL_FONTKIND_COLOR;
    if (vlOptions.renderState) {
      // No display yet: the strike waits as pixels.
      font->pendingStrike = parsed.argb;
      font->pendingWidth = parsed.argbWidth;
      font->pendingHeight = parsed.argbHeight;
    } else {
      int status = BitmapFromARGB(parsed.argb, kStrikeKeyColor, parsed.argbWidth, parsed.argbHeight,
                                  parsed.argbWidth, 0, 0, 0, &font->strikeBitmap, &font->strikeMask, nullptr);
      std::free(parsed.argb);
      if (status) {
        FreeBitmapFont(font);
        return 0;
      }
    }
  } else {
    data->strikeMask = NewMaskPlane(nullptr, data->modulo * 8, data->height, 0, data->strikeData, data->modulo);
    if (!data->strikeMask) {
      FreeBitmapFont(font);
      return 0;
    }
  }
  font->height = font->designHeight = data->height;
  font->baseline = font->designBaseline = data->baseline;
  font->size = size;
  font->antiAlias = 0;
  font->scalable = 0;
  const char* name = displayName ? displayName : path;
  std::snprintf(font->name, sizeof font->name, "%s", name);
  return 1;
}

int CreateInbuiltFont(vlEngineFont** out) {
  auto* font = static_cast<vlEngineFont*>(AllocMemory(sizeof(vlEngineFont), 1));
  auto* data = static_cast<vlBitmapFontData*>(AllocMemory(sizeof(vlBitmapFontData), 1));
  if (!font || !data) {
    FreeMemory(font);
    FreeMemory(data);
    return 1000;
  }
  std::strcpy(font->name, "topaz");
  font->size = 8;
  font->height = font->designHeight = 8;
  font->baseline = font->designBaseline = 6;
  font->kind = VL_FONTKIND_BITMAP;
  font->scaleX = font->scaleY = 1.0;
  data->height = 8;
  data->style = 0;
  data->flags = 0x40;
  data->xSize = 8;
  data->baseline = 6;
  data->boldSmear = 1;
  data->lowChar = 32;
  data->highChar = 255;
  data->modulo = kTopazModulo;
  data->count = 225;
  data->constData = 1;
  data->strikeData = const_cast<uint8_t*>(kTopazStrike);
  data->charLoc = const_cast<uint32_t*>(kTopazCharLoc);
  data->strikeMask = NewMaskPlane(nullptr, kTopazModulo * 8, 8, 0, data->strikeData, kTopazModulo);
  font->engineData = data;
  if (!data->strikeMask) {
    FreeMemory(data);
    FreeMemory(font);
    return 1000;
  }
  *out = font;
  return 0;
}

void FreeBitmapFont(vlEngineFont* font) {
  auto* data = static_cast<vlBitmapFontData*>(font->engineData);
  if (font->strikeBitmap) DeleteBitmap(font->strikeBitmap);
  if (font->strikeMask) DeleteMaskPlane(font->strikeMask);
  std::free(font->pendingStrike);
  font->strikeBitmap = font->strikeMask = nullptr;
  font->pendingStrike = nullptr;
  if (data) {
    if (data->strikeMask) DeleteMaskPlane(data->strikeMask);
    FreeBitmapFontTables(data);
    FreeMemory(data);
  }
  font->engineData = nullptr;
}

void FreeInbuiltFont(vlEngineFont* font) {
  if (!font) return;
  FreeBitmapFont(font);
  FreeMemory(font);
}

int MeasureBitmapText(vlEngineFont* font, const char* text, int32_t length, uint32_t, int32_t, vlTextExtent* out) {
  const auto* d = static_cast<const vlBitmapFontData*>(font->engineData);
  out->height = d->height;
  out->top = -d->baseline;
  out->bottom = d->height - 1 - d->baseline;
  if (!(d->flags & kBitmapFontProportional) && !d->spacing && !d->kerning) {
    out->width = length * d->xSize;
    out->left = 0;
    out->right = out->width - 1;
    return 0;
  }
  int32_t pen = 0, lo = 0, hi = 0;
  for (int32_t i = 0; i < length; ++i) {
    int32_t e = Entry(d, static_cast<uint8_t>(text[i]));
    int32_t x = pen + (d->kerning ? d->kerning[e] : 0);
    int32_t right = x + static_cast<int32_t>(d->charLoc[e] & 0xFFFF);
    pen = x + (d->spacing ? d->spacing[e] : d->xSize);
    lo = std::min({lo, x, right, pen});
    hi = std::max({hi, x, right, pen});
  }
  out->width = pen;
  out->left = lo;
  out->right = hi - 1;
  return 0;
}

namespace {

// Intersects the box with the clip rectangle and the target; false when
// nothing is left. The cut from the left and top is returned.
bool ClipBox(int32_t& x, int32_t& y, int32_t& w, int32_t& h, const int32_t* clip, const vlBitmap* target,
             int32_t& cutX, int32_t& cutY) {
  int32_t x1 = x, y1 = y, x2 = x + w, y2 = y + h;
  if (clip) {
    x1 = std::max(x1, clip[0]);
    y1 = std::max(y1, clip[1]);
    x2 = std::min(x2, clip[0] + clip[2]);
    y2 = std::min(y2, clip[1] + clip[3]);
  }
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min<int32_t>(x2, static_cast<int32_t>(QueryBitmap(target, 0)));
  y2 = std::min<int32_t>(y2, static_cast<int32_t>(QueryBitmap(target, 14)));
  if (x2 <= x1 || y2 <= y1) return false;
  cutX = x1 - x;
  cutY = y1 - y;
  x = x1;
  y = y1;
  w = x2 - x1;
  h = y2 - y1;
  return true;
}

}  // namespace

int RenderBitmapText(vlEngineFont* font, vlBitmap* target, vlBitmap* second, int32_t x, int32_t y,
                     const char* text, int32_t length, uint32_t, int32_t, const int32_t clip[4], int64_t color) {
  const auto* d = static_cast<const vlBitmapFontData*>(font->engineData);
  if (!target) return 0;
  for (int32_t i = 0; i < length; ++i) {
    int32_t e = Entry(d, static_cast<uint8_t>(text[i]));
    if (d->kerning) x += d->kerning[e];
    int32_t bit = static_cast<int32_t>(d->charLoc[e] >> 16);
    int32_t gx = x, gy = y, gw = static_cast<int32_t>(d->charLoc[e] & 0xFFFF), gh = d->height, cx, cy;
    // Plane output is not clipped by the clip rectangle, only by the plane.
    const int32_t* box = color == -1 ? nullptr : clip;
    if (gw > 0 && ClipBox(gx, gy, gw, gh, box, target, cx, cy)) {
      if (font->kind == VL_FONTKIND_BITMAP) {
        if (color != -1)
          PaintMaskBits(d->strikeMask, bit + cx, cy, target, gx, gy, gw, gh, static_cast<uint32_t>(color));
        else
          CopyMaskRegion(d->strikeMask, bit + cx, cy, target, gx, gy, gw, gh, 0, nullptr, 0);
      } else if (font->strikeBitmap) {
        BltBitmapMasked(font->strikeBitmap, bit + cx, cy, target, gx, gy, gw, gh, font->strikeMask);
        if (color == -1 && second) {
          int32_t mx = x, my = y, mw = static_cast<int32_t>(d->charLoc[e] & 0xFFFF), mh = d->height, kx, ky;
          if (ClipBox(mx, my, mw, mh, nullptr, second, kx, ky))
            CopyMaskRegion(font->strikeMask, bit + kx, ky, second, mx, my, mw, mh, 0, nullptr, 0);
        }
      }
    }
    x += d->spacing ? d->spacing[e] : d->xSize;
  }
  return 0;
}

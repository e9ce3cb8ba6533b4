// The font engine interface: dispatch by engine kind, opening a font by
// name (linked fonts, bitmap font files, TrueType faces), the built-in
// default font and the engines' start and stop, the bitmap font file search
// and the UTF-8 decoding the engines share. Platform fonts (kind 3) are
// never made on this platform, so they have no hooks here.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "runtime/error_format.h"
#include "runtime/errors.h"
#include "runtime/messages.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "text/fonts/bitmap_font.h"
#include "text/fonts/truetype_font.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

vlFontPathNode* vlFontPaths = nullptr;

namespace {

vlEngineFont* gInbuilt = nullptr;
bool gStarted = false;

constexpr int32_t kOpenFontMessage = 116;

int OpenFontFailed(const char* name, int32_t size) {
  char text[kErrorArgumentSize];
  FormatMessageText(text, sizeof text, GetMessage(kOpenFontMessage), name, size);
  SetErrorArgument(text);
  return ERR_OPENFONT;
}

bool CanOpen(const std::string& name) {
  vlStream* s = OpenFileStream(name.c_str(), VL_MODE_READ, nullptr);
  if (s) CloseFileStream(s);
  return s != nullptr;
}

}  // namespace

bool EndsWithNoCase(const char* name, const char* suffix) {
  size_t n = std::strlen(name), k = std::strlen(suffix);
  return n >= k && CompareNoCase(name + n - k, suffix) == 0;
}

int IsInbuiltFont(const vlEngineFont* font) { return font && font == gInbuilt; }

int GetInbuiltFont(vlEngineFont** out) {
  if (gStarted) {
    *out = gInbuilt;
    return 0;
  }
  vlEngineFont* font = nullptr;
  if (int status = CreateInbuiltFont(&font)) return status;
  if (int status = InitFreeType()) {
    FreeInbuiltFont(font);
    return status;
  }
  gInbuilt = font;
  gStarted = true;
  *out = gInbuilt;
  return 0;
}

void ShutdownFontEngines() {
  FreeInbuiltFont(gInbuilt);
  gInbuilt = nullptr;
  DoneFreeType();
  FreeFontDirectory();
  gStarted = false;
}

int FindFontFile(const char* name, char* path, size_t pathSize) {
  std::string file = name;
  if (!EndsWithNoCase(name, ".font")) file += ".font";
  auto take = [&](const std::string& candidate) {
    if (candidate.size() >= pathSize || !CanOpen(candidate)) return false;
    std::memcpy(path, candidate.c_str(), candidate.size() + 1);
    return true;
  };
  for (vlFontPathNode* p = vlFontPaths; p; p = p->next) {
    char joined[2048];
    std::snprintf(joined, sizeof joined, "%s", p->name);
    if (AddPart(joined, sizeof joined, file.c_str()) && take(joined)) return 1;
  }
  if (take(file)) return 1;
  for (const char* dir : {"Fonts/", "FONTS/", "fonts/"})
    if (take(dir + file)) return 1;
  return 0;
}

int OpenEngineFont(const char* name, int32_t size, int32_t engine, int32_t cacheFlag, int32_t linkedFlag,
                   vlEngineFont** out) {
  vlEngineFont* inbuilt;
  if (int status = GetInbuiltFont(&inbuilt)) return status;
  bool tryBitmap = true, tryTrueType = true;
  std::string openName = name;
  vlStream* linkedStream = nullptr;  // a linked face that cannot be named as a slice
  uint32_t linkedBase = 0, linkedSize = 0;

  if (linkedFlag && IsChunkName(name)) {
    vlStream* s = OpenFileStream(name, VL_MODE_READ, nullptr);
    if (!s) {
      SetErrorArgument(name);
      return ERR_READFILE;
    }
    uint8_t word[4];
    uint64_t skip = 4;
    if (ReadFileStream(s, word, 4) != 4) {
      CloseFileStream(s);
      return ERR_READ;
    }
    uint32_t flags = uint32_t{word[0]} << 24 | uint32_t{word[1]} << 16 | uint32_t{word[2]} << 8 | word[3];
    if (flags & 2) {
      tryBitmap = false;
      if (flags & 4) {
        // A block of bytes precedes the face data.
        if (ReadFileStream(s, word, 4) != 4) {
          CloseFileStream(s);
          return ERR_READ;
        }
        uint32_t count = uint32_t{word[0]} << 24 | uint32_t{word[1]} << 16 | uint32_t{word[2]} << 8 | word[3];
        skip = 8 + uint64_t{count};
      }
    } else {
      tryTrueType = false;
    }
    const int64_t total = GetFileStreamSize(s);
    if (total < 0 || static_cast<uint64_t>(total) < skip) {
      CloseFileStream(s);
      return ERR_READ;
    }
    uint64_t offset = 0, length = 0;
    char stored[1024] = "", container[1024] = "";
    vlChunkNameParts parts{};
    parts.offset = &offset;
    parts.length = &length;
    parts.storedName = stored;
    parts.storedNameSize = sizeof stored;
    parts.containerPath = container;
    parts.containerPathSize = sizeof container;
    char slice[2048];
    if (name[kChunkNamePrefixLength] != 'S' && ParseChunkName(name, parts) &&
        MakeChunkName(stored, slice, sizeof slice, static_cast<int64_t>(offset + skip), length - skip, 0,
                      container)) {
      openName = slice;
      CloseFileStream(s);
    } else if (tryTrueType && total - skip <= 0xFFFFFFFF) {
      linkedStream = s;
      linkedBase = static_cast<uint32_t>(skip);
      linkedSize = static_cast<uint32_t>(total - skip);
    } else {
      CloseFileStream(s);
      return OpenFontFailed(name, size);
    }
  }

  auto* font = static_cast<vlEngineFont*>(AllocMemory(sizeof(vlEngineFont), 1));
  if (!font) {
    if (linkedStream) CloseFileStream(linkedStream);
    return ERR_MEM;
  }
  font->scaleX = font->scaleY = 1.0;
  auto openTrueType = [&] {
    if (linkedStream) {
      vlStream* s = linkedStream;
      linkedStream = nullptr;
      return OpenTTFontFromStream(s, linkedBase, linkedSize, size, cacheFlag, font) != 0;
    }
    return OpenTTFont(openName.c_str(), size, cacheFlag, font) != 0;
  };
  bool ok = false;
  if (engine == VL_FONTENGINE_INBUILT) {
    ok = tryTrueType && openTrueType();
  } else if (engine == VL_FONTENGINE_NATIVE) {
    if (CompareNoCase(name, "topaz") == 0 && size == 8) {
      FreeMemory(font);
      if (linkedStream) CloseFileStream(linkedStream);
      *out = inbuilt;
      return 0;
    }
    if (tryBitmap) {
      char path[2048];
      if (IsChunkName(openName.c_str()))
        ok = LoadBitmapFont(openName.c_str(), size, font, name) != 0;
      else if (FindFontFile(openName.c_str(), path, sizeof path))
        ok = LoadBitmapFont(path, size, font, name) != 0;
    }
    if (!ok && tryTrueType) ok = openTrueType();
  }
  if (linkedStream) CloseFileStream(linkedStream);
  if (!ok) {
    FreeMemory(font);
    return OpenFontFailed(name, size);
  }
  *out = font;
  return 0;
}

void CloseEngineFont(vlEngineFont* font) {
  if (!font || font == gInbuilt) return;
  if (font->kind == VL_FONTKIND_TRUETYPE) CloseTTFont(font);
  else if (font->kind == VL_FONTKIND_BITMAP || font->kind == VL_FONTKIND_COLOR) FreeBitmapFont(font);
  FreeMemory(font);
}

int MeasureText(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                vlTextExtent* out) {
  if (!font) font = gInbuilt;
  if (!font || !text || length < 0) return 0;
  if (font->kind == VL_FONTKIND_TRUETYPE) return MeasureTTText(font, text, length, style, encoding, out);
  if (font->kind == VL_FONTKIND_BITMAP || font->kind == VL_FONTKIND_COLOR)
    return MeasureBitmapText(font, text, length, style, encoding, out);
  return 0;
}

int MeasureTextJoinable(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                        vlTextMeasure* out) {
  *out = {};
  if (!font) font = gInbuilt;
  if (font && font->kind == VL_FONTKIND_TRUETYPE && text && length >= 0)
    return MeasureTTTextJoinable(font, text, length, style, encoding, out);
  const int status = MeasureText(font, text, length, style, encoding, &out->extent);
  out->count = length;
  // Bitmap strikes add up: the pen and the box of the second text move by
  // the first's width.
  out->joinable = font && (font->kind == VL_FONTKIND_BITMAP || font->kind == VL_FONTKIND_COLOR);
  return status;
}

int JoinTextMeasures(vlEngineFont* font, uint32_t style, int32_t encoding, const vlTextMeasure& a,
                     const vlTextMeasure& b, const char* joined, int32_t joinedLength, vlTextMeasure* out) {
  if (!font) font = gInbuilt;
  if (font && font->kind == VL_FONTKIND_TRUETYPE) {
    if (JoinTTMeasures(font, a, b, out)) return 0;
  } else if (a.joinable && b.joinable) {
    if (!a.count || !b.count) {
      *out = a.count ? a : b;
      return 0;
    }
    *out = a;
    vlTextExtent& e = out->extent;
    e.left = std::min(a.extent.left, a.extent.width + b.extent.left);
    e.right = std::max(a.extent.right, a.extent.width + b.extent.right);
    e.width = a.extent.width + b.extent.width;
    out->count = a.count + b.count;
    return 0;
  }
  return MeasureTextJoinable(font, joined, joinedLength, style, encoding, out);
}

int RenderText(vlEngineFont* font, vlBitmap* target, vlBitmap* second, int32_t x, int32_t y, const char* text,
               int32_t length, uint32_t style, int32_t encoding, const int32_t clip[4], int64_t color) {
  if (!font) font = gInbuilt;
  if (!font || !text || length < 0) return 0;
  if (font->kind == VL_FONTKIND_TRUETYPE)
    return RenderTTText(font, target, second, x, y, text, length, style, encoding, clip, color);
  if (font->kind == VL_FONTKIND_BITMAP || font->kind == VL_FONTKIND_COLOR)
    return RenderBitmapText(font, target, second, x, y, text, length, style, encoding, clip, color);
  return 0;
}

int32_t GetKerning(vlEngineFont* font, const char* text, uint32_t style, int32_t encoding) {
  if (font && font->kind == VL_FONTKIND_TRUETYPE) return GetTTKerning(font, text, style, encoding);
  return 0;
}

void SetFontScale(vlEngineFont* font, double scaleX, double scaleY) {
  if (!font || !font->scalable) return;
  if (scaleX == font->scaleX && scaleY == font->scaleY) return;
  font->scaleX = scaleX;
  font->scaleY = scaleY;
  font->height = vl::DoubleToInt32(std::ceil(scaleY * font->designHeight));
  font->baseline = vl::DoubleToInt32(std::ceil(scaleY * font->designBaseline));
  if (font->kind == VL_FONTKIND_TRUETYPE) SetTTFontScale(font, scaleX, scaleY);
}

void FlushGlyphCache(vlEngineFont* font) {
  if (font && font->kind == VL_FONTKIND_TRUETYPE) FlushTTGlyphCache(font);
}

// The TrueType engine emboldens its glyphs and slants their outlines
// itself, in both modes, so the text side must not add its own bold or
// italic on top; the bitmap engines draw neither, and no engine underlines.
int EngineHasStyle(vlEngineFont* font, uint32_t styleBit) {
  if (!font || font->kind != VL_FONTKIND_TRUETYPE) return 0;
  if (styleBit == VL_STYLE_BOLD) return 1;
  if (styleBit == VL_STYLE_ITALIC) {
    FT_Face face = GetTTFace(font);
    return face && FT_IS_SCALABLE(face) ? 1 : 0;
  }
  return 0;
}

int EngineInksBlanks(vlEngineFont* font) {
  if (!font) font = gInbuilt;
  return font && font->kind == VL_FONTKIND_TRUETYPE ? 0 : 1;
}

int DecodeUTF8Text(const char* text, int32_t byteCount, int32_t encoding, uint32_t* buffer, size_t bufferBytes,
                   uint32_t** codes, int32_t* count, int* allocated) {
  *codes = nullptr;
  *count = 0;
  *allocated = 0;
  if (encoding == 0 || byteCount < 0) return 1003;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  // Well-formed first, so that nothing is allocated for text taken as bytes.
  int32_t chars = 0;
  for (int32_t i = 0; i < byteCount; ++chars) {
    uint8_t lead = p[i];
    int n = 0;
    while (n < 8 && (lead & (0x80 >> n))) ++n;
    if (n == 0) {
      ++i;
      continue;
    }
    if (n == 1 || n > 5 || i + n > byteCount) return 1003;
    for (int k = 1; k < n; ++k)
      if (!(p[i + k] & 0x80)) return 1003;
    i += n;
  }
  uint32_t* out = buffer;
  if (size_t(byteCount) * 4 > bufferBytes || !buffer) {
    out = static_cast<uint32_t*>(AllocMemory(size_t(byteCount) * 4 + 4, 0));
    if (!out) return 1003;
    *allocated = 1;
  }
  static const uint8_t kLeadMask[6] = {0, 0, 0x1F, 0x0F, 0x07, 0x03};
  int32_t c = 0;
  for (int32_t i = 0; i < byteCount;) {
    uint8_t lead = p[i];
    int n = 0;
    while (lead & (0x80 >> n)) ++n;
    if (n == 0) {
      out[c++] = lead;
      ++i;
      continue;
    }
    uint32_t v = uint32_t{static_cast<uint8_t>(lead & kLeadMask[n])} << (6 * (n - 1));
    for (int k = 1; k < n; ++k) v |= uint32_t{static_cast<uint8_t>(p[i + k] & 0x3F)} << (6 * (n - 1 - k));
    out[c++] = v;
    i += n;
  }
  *codes = out;
  *count = c;
  return 0;
}

void FreeDecodedText(uint32_t* codes) { FreeMemory(codes); }

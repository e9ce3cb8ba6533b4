// The bitmap font engine: one size of a ".font" bitmap font (a contents
// file listing the sizes and one big-endian glyph file per size, colour
// fonts included), the built-in 8-pixel font "topaz", and measuring and
// drawing text with them. Reached only through the font engine interface.
#pragma once
#include <cstddef>
#include <cstdint>

#include "text/fonts/engine_font.h"

struct vlBitmap;

struct vlBitmapFontData {
  int32_t height;
  uint32_t style;  // 0x40: colour font
  uint32_t flags;  // 0x20: proportional
  int32_t xSize;
  int32_t baseline;
  int32_t boldSmear;
  int32_t accessors;
  uint32_t lowChar, highChar;
  uint8_t* strikeData;  // modulo x height bytes (plain fonts)
  int32_t modulo;       // bytes per strike row
  uint32_t* charLoc;    // count entries: (bit offset << 16) | width
  int16_t* spacing;     // count advances, or null
  int16_t* kerning;     // count offsets, or null
  int32_t count;        // high - low + 2; the last entry serves every other code
  vlBitmap* strikeMask;
  uint32_t constData;   // the strike and tables are the program's own (built-in font)
};

inline constexpr uint32_t kBitmapFontColorStyle = 0x40;
inline constexpr uint32_t kBitmapFontProportional = 0x20;
inline constexpr uint32_t kStrikeKeyColor = 0xEEE6D2;

// What a glyph file holds, parsed from memory: the font data with its own
// allocations, and for colour fonts the ARGB strike (modulo x 8 by height).
struct vlParsedBitmapFont {
  vlBitmapFontData data;
  uint32_t* argb;  // colour fonts only (malloc)
  int32_t argbWidth, argbHeight;
};

// 1 on success; every table bounds-checked against the bytes. On failure
// nothing stays allocated.
int ParseBitmapGlyphFile(const uint8_t* bytes, size_t size, vlParsedBitmapFont* out);
// The glyph file name of the entry of that size in a contents file, not
// "::incomplete": 1 with name filled, else 0.
int FindBitmapFontEntry(const uint8_t* bytes, size_t size, int32_t wantSize, char* name, size_t nameSize);
// Frees the tables of parsed data (not the strike mask).
void FreeBitmapFontTables(vlBitmapFontData* data);

// 1 on success, 0 on any failure.
int LoadBitmapFont(const char* path, int32_t size, vlEngineFont* font, const char* displayName);
int CreateInbuiltFont(vlEngineFont** out);
int MeasureBitmapText(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                      vlTextExtent* out);
int RenderBitmapText(vlEngineFont* font, vlBitmap* target, vlBitmap* second, int32_t x, int32_t y,
                     const char* text, int32_t length, uint32_t style, int32_t encoding, const int32_t clip[4],
                     int64_t color);
void FreeBitmapFont(vlEngineFont* font);
void FreeInbuiltFont(vlEngineFont* font);

// The built-in font's constant strike (kTopazModulo bytes x 8 rows, one
// 8x8 cell a byte column) and char locations (225 entries, host order).
// 190 cells: one for each of the 189 visible Latin-1 characters, which all
// look different, one blank and one box.
constexpr int32_t kTopazModulo = 190;
extern const uint8_t kTopazStrike[kTopazModulo * 8];
extern const uint32_t kTopazCharLoc[225];

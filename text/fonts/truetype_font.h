// The TrueType engine on FreeType: faces from files, linked fonts, the
// three faces carried inside the program, collections and Mac resource
// fonts; the list of installed faces; opening a face at a pixel size;
// glyph loading with bold and italic synthesis, a glyph cache for the first
// 256 codes in each style, kerning, measuring and drawing.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include <cstddef>
#include <cstdint>

#include "graphics/outline_raster.h"
#include "text/fonts/engine_font.h"

struct vlStream;
struct vlBitmap;

// Where FreeType reads a face: a slice of a stream.
struct vlTTStreamDesc {
  vlStream* stream;
  uint32_t base;
  uint32_t size;
};

struct vlGlyphCacheSlot {
  FT_Glyph glyph;   // a rendered bitmap glyph, or null
  int32_t advance;  // 26.6
  int32_t pixels;   // the advance in pixels without kerning, at
  double scaleX;    // this horizontal scale
};

// A bank per rendering: anti-aliased or 1-bit, each plain, bold, italic
// and bold italic (bank = 1-bit + 2 x bold + 4 x italic).
struct vlGlyphCache {
  vlGlyphCacheSlot banks[8][256];
};

struct vlTTFont {
  FT_StreamRec ftStream;
  vlTTStreamDesc desc;
  FT_Face face;
  vlStream* stream;  // closed with the font
  int32_t resX, resY;
  int32_t nominalSize;
  char tempPath[1024];
  uint32_t isTemp;  // the face lives in a temporary file, removed at close
  uint32_t cacheFlag;
  vlGlyphCache cache;
  uint32_t charIndex[256];  // glyph index + 1 of the first 256 codes, 0 until looked up
  struct {
    uint32_t pair;  // left glyph << 16 | right glyph, 0 for an empty slot
    int32_t kx;     // their unscaled kerning
  } kerning[1024];  // the pairs last looked up, by a hash of the pair
};

// An installed face (or bitmap font) found by scanning the font folders.
struct vlFontListEntry {
  vlFontListEntry* next;
  char* fullName;
  char* path;
  char* family;
  int32_t weight;
  int32_t slant;
  uint32_t resourceOffset, resourceLength;
  uint32_t collectionOffset;
  uint32_t bitmap;
  uint8_t* sizes;
  int32_t sizeCount;
};

// InitFreeType, DoneFreeType and GetFreeTypeLibrary: the library handle
// shared with the vector drawing (graphics/outline_raster.h).

// 1 on success, 0 on failure.
int OpenTTFont(const char* name, int32_t size, int32_t cacheFlag, vlEngineFont* font);
// Opens a face from an open stream (taken over, also on failure) over
// size bytes from base; 1 or 0.
int OpenTTFontFromStream(vlStream* stream, uint32_t base, uint32_t size, int32_t fontSize, int32_t cacheFlag,
                         vlEngineFont* font);
void CloseTTFont(vlEngineFont* font);
int MeasureTTText(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                  vlTextExtent* out);
// The measure that JoinTTMeasures takes; false from it: measure the joined
// text afresh.
int MeasureTTTextJoinable(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                          vlTextMeasure* out);
bool JoinTTMeasures(vlEngineFont* font, const vlTextMeasure& a, const vlTextMeasure& b, vlTextMeasure* out);
int RenderTTText(vlEngineFont* font, vlBitmap* target, vlBitmap* second, int32_t x, int32_t y, const char* text,
                 int32_t length, uint32_t style, int32_t encoding, const int32_t clip[4], int64_t color);
int32_t GetTTKerning(vlEngineFont* font, const char* text, uint32_t style, int32_t encoding);
void SetTTFontScale(vlEngineFont* font, double scaleX, double scaleY);
void FlushTTGlyphCache(vlEngineFont* font);
FT_Face GetTTFace(vlEngineFont* font);
int32_t ComputeTTBaseline(vlTTFont* tt, int32_t height);

// The installed-font list.
void ScanFontDirectories(int singleEntries);
void FreeFontDirectory();
const vlFontListEntry* GetFontDirectory();
// The path of an installed face by full name (case-insensitive), or null;
// a collection face is written to a temporary file (*isTemp set).
const char* FindInstalledFont(const char* fullName, uint32_t* resourceOffset, uint32_t* resourceLength,
                              uint32_t* isTemp, char* buffer, size_t bufferSize);
// The family and style name ids of an sfnt at base in the stream; 1 or 0.
int ReadSfntNames(vlStream* stream, char* family, size_t familySize, char* style, size_t styleSize, uint32_t base);
int IsRegularStyle(const char* style);
// Weight and slant of the blank-separated style words.
void ParseStyleWords(const char* style, int32_t* weight, int32_t* slant);

// The faces carried inside the program.
struct vlEmbeddedFace {
  const char* name;
  const unsigned char* data;
  size_t size;
};
// Null when the name is none of them (case-insensitive).
const vlEmbeddedFace* FindEmbeddedFace(const char* name);

// The font engine interface: one record per opened font and size, and the
// operations through which the text side opens, measures, draws and closes
// fonts whatever engine serves them (bitmap fonts, TrueType faces). It also
// owns the built-in default font, the start and stop of the engines, the
// search for bitmap font files and the UTF-8 decoding the engines share.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlBitmap;

enum : int32_t {
  VL_FONTKIND_BITMAP = 1,    // 1-bit strike
  VL_FONTKIND_COLOR = 2,     // colour strike as a picture plus mask
  VL_FONTKIND_PLATFORM = 3,  // never made on this platform
  VL_FONTKIND_TRUETYPE = 4,
};

enum : int32_t { VL_FONTENGINE_NATIVE = 0, VL_FONTENGINE_INBUILT = 4 };

// Style bits of text output.
enum : uint32_t {
  VL_STYLE_NORMAL = 1,
  VL_STYLE_BOLD = 2,
  VL_STYLE_ITALIC = 4,
  VL_STYLE_UNDERLINED = 8,
  VL_STYLE_ANTIALIAS = 16,
  VL_STYLE_SHADOW = 32,
  VL_STYLE_EDGE = 64,
};

// A vector engine's font made from this font (kept by the vectorgraphics
// library; the font cache only walks the list).
struct vlVectorFontNode {
  vlVectorFontNode* next;
  void* engine;
  void* handle;
};

inline constexpr size_t kEngineFontNameSize = 2048;

struct vlEngineFont {
  char name[kEngineFontNameSize];  // display name
  int32_t size;                    // asked for, in pixels
  int32_t height;                  // line height at the current scale
  int32_t baseline;                // from the top of the line
  int32_t designHeight;            // at scale 1.0
  int32_t designBaseline;
  int32_t kind;
  uint32_t scalable;
  uint32_t antiAlias;     // anti-alias capable
  uint32_t platformFlag;  // set only by a platform engine
  double scaleX, scaleY;
  void* engineData;       // vlBitmapFontData (kinds 1, 2) or vlTTFont (kind 4)
  vlBitmap* strikeBitmap;  // colour bitmap fonts
  vlBitmap* strikeMask;
  uint32_t* pendingStrike;  // ARGB pixels waiting for a display (colour fonts)
  int32_t pendingWidth, pendingHeight;
  vlVectorFontNode* vectorFonts;
};

// Every measurement: advance width, line height, and the inked box (x from
// the start point, y from the baseline; top is negative above it).
struct vlTextExtent {
  int32_t width;
  int32_t height;
  int32_t left, top, right, bottom;
};

// A measurement that the next text's measurement can be joined to, giving
// the joined text's without measuring either again.
struct vlTextMeasure {
  vlTextExtent extent;
  int32_t count;       // characters
  int32_t joinable;    // 0: a join measures the joined text afresh
  int32_t inked;       // some glyph left ink, in this box (engine's own):
  int32_t inkLeft, inkTop, inkRight, inkBottom;
  uint32_t firstGlyph, lastGlyph;  // the engine's glyph numbers at both ends
  int32_t lastLoaded;  // the last character has a glyph of this advance
  int32_t lastAdvance;
};

// The folders scripts add with AddFontPath, searched first for font files.
struct vlFontPathNode {
  vlFontPathNode* next;
  char* name;  // the characters follow the node
};
extern vlFontPathNode* vlFontPaths;

// All return 0 or an error code unless said otherwise.
int GetInbuiltFont(vlEngineFont** out);
int OpenEngineFont(const char* name, int32_t size, int32_t engine, int32_t cacheFlag, int32_t linkedFlag,
                   vlEngineFont** out);
void CloseEngineFont(vlEngineFont* font);
int MeasureText(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                vlTextExtent* out);
// MeasureText with what a join needs; then the measure of a's text
// followed by b's (joined: the two texts one after the other, measured
// afresh only when the seam cannot be joined, as for text that is not
// well-formed UTF-8).
int MeasureTextJoinable(vlEngineFont* font, const char* text, int32_t length, uint32_t style, int32_t encoding,
                        vlTextMeasure* out);
int JoinTextMeasures(vlEngineFont* font, uint32_t style, int32_t encoding, const vlTextMeasure& a,
                     const vlTextMeasure& b, const char* joined, int32_t joinedLength, vlTextMeasure* out);
// x, y: the top-left of the line; clip: {x, y, width, height}; colour an
// ARGB value, or -1 to write coverage into planes (target, and for colour
// bitmap fonts the mask in second).
int RenderText(vlEngineFont* font, vlBitmap* target, vlBitmap* second, int32_t x, int32_t y, const char* text,
               int32_t length, uint32_t style, int32_t encoding, const int32_t clip[4], int64_t color);
int32_t GetKerning(vlEngineFont* font, const char* text, uint32_t style, int32_t encoding);
void SetFontScale(vlEngineFont* font, double scaleX, double scaleY);
void FlushGlyphCache(vlEngineFont* font);
int EngineHasStyle(vlEngineFont* font, uint32_t styleBit);
// 1 when the engine's measured ink box takes in blanks (a strike's cells),
// 0 when blanks never add to it.
int EngineInksBlanks(vlEngineFont* font);
void ShutdownFontEngines();
int IsInbuiltFont(const vlEngineFont* font);

// The bitmap font file search: 1 with path filled, else 0.
int FindFontFile(const char* name, char* path, size_t pathSize);

// 1003 (and no array) for encoding 0 or text that is not well-formed UTF-8:
// the caller then takes the bytes as ISO 8859-1. 0 with one code point per
// character, in buffer when byteCount * 4 fits, else in a new block
// (*allocated set; free it with FreeDecodedText).
int DecodeUTF8Text(const char* text, int32_t byteCount, int32_t encoding, uint32_t* buffer, size_t bufferBytes,
                   uint32_t** codes, int32_t* count, int* allocated);
void FreeDecodedText(uint32_t* codes);

// True when the name ends in the suffix, ignoring case.
bool EndsWithNoCase(const char* name, const char* suffix);

// Laying out tagged text: runs of one style placed on lines (word wrap,
// tabs, alignment), rendered with their shadow and edge into one picture,
// and drawn at a position or at the display's text cursor.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "text/text_library.h"

struct vlVMState;
struct vlBitmap;
struct vlDrawTags;
struct vlLayer;
struct vlLayerGeometry;
struct vlDrawingFor;

enum : int32_t { VL_ALIGN_CENTER = -100000, VL_ALIGN_LEFT = -90000, VL_ALIGN_RIGHT = -80000 };
enum : int32_t { VL_TEXTMODE_OBJECT = 8, VL_TEXTMODE_TEXTOUT = 9, VL_TEXTMODE_PRINT = 11 };

// The eleven measures of a styled piece of text.
struct vlStyledExtent {
  int32_t width, height;
  int32_t inkLeft, inkTop, inkRight, inkBottom;
  int32_t advance;
  int32_t extraTop, extraBottom, extraLeft, extraRight;
};

int MeasureStyledText(const char* text, int32_t length, int32_t encoding, vlStyledExtent* out,
                      const vlTextSettings* settings);
void ClampTextEffectParams(vlTextSettings* settings);

// The styled measures of an engine measurement.
void StyleTextExtent(const vlTextExtent& engine, const vlTextSettings* settings, vlStyledExtent* out);

struct vlTextRun {
  std::string text;
  int32_t x = 0, y = 0;
  vlStyledExtent extent{};
  vlTextSettings style{};
  vlTextMeasure measure{};  // the engine's, which the next run's joins
};

struct vlTextLayout {
  int32_t x = 0, y = 0;
  int32_t width = 0, height = 0;
  vlTextSettings settings{};
  const char* text = nullptr;
  int32_t align = VL_ALIGN_LEFT;
  int32_t cursorX = 0, cursorY = 0, marginLeft = 0;
  int32_t wrapWidth = 0;
  int32_t tabStops[32] = {};
  int32_t tabCount = 0;
  std::vector<int32_t> wordWrap;  // word numbers that start a line
  bool useWordWrap = false;       // replay wordWrap and tabTable instead of wrapping by width
  std::vector<int32_t> tabTable;  // per tab: the stop index taken, or -1 for a line break
  int32_t encoding = 0;
  bool positionedX = false;  // TextOut's x was a position constant (resolved into x)
};

struct vlTextPicture {
  vlBitmap* bitmap = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  int32_t width = 0, height = 0;
  int32_t offsetX = 0, offsetY = 0;
};
void FreeTextPicture(vlTextPicture* picture);

// Splits and places the runs. startX: the first line's x (print mode);
// lines: line breaks made; endX: x where the text ended.
int LayoutTextRuns(vlVMState* state, vlTextLayout* layout, bool literal, int32_t startX, std::vector<vlTextRun>* runs,
                   int32_t* lines, int32_t* endX);
// Renders laid-out runs with their styles, shadow and edge.
int EdgeDraw(std::vector<vlTextRun>& runs, int32_t align, int32_t encoding, vlTextPicture* out);

// The border of a text layer below 8 pixels: the layer's shown shape
// spread by size in every direction, as a text edge is, in the colour.
// Wider borders answer VL_BORDER_FROM_PICTURES.
int CreateLayerBorderBitmap(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g,
                            uint32_t color, int32_t size, int32_t* offsetX, int32_t* offsetY, vlBitmap** image,
                            vlBitmap** mask, vlBitmap** alpha);

// The one road of text to pixels; mode 8 fills picture and draws nothing.
int DrawFormattedText(vlVMState* state, vlTextLayout* layout, int32_t mode, bool literal, vlTextPicture* picture);
// With the draw tags of the command (transform, anchor and the layer's
// effects), or null.
int DrawFormattedTextTagged(vlVMState* state, vlTextLayout* layout, int32_t mode, bool literal,
                            vlTextPicture* picture, const vlDrawTags* tags);
// Plain text (no tags or tabs, unstyled, opaque, left aligned, unwrapped,
// untransformed, no layers) straight onto the target by the font engine;
// *drawn false (and nothing done) when the text needs the general path.
int DrawPlainText(vlTextLayout* layout, int32_t mode, const vlDrawTags* tags, bool* drawn);
// Lays the layout out and renders it into one picture (print mode starts
// at the cursor); lines: line breaks made; endX: x where the text ended.
int RenderLayoutPicture(vlVMState* state, vlTextLayout* layout, int32_t mode, bool literal, vlTextPicture* out,
                        int32_t* lines, int32_t* endX);
// Draws a string at the current display's text cursor and moves it on.
int PrintText(vlVMState* state, const char* text, bool literal);

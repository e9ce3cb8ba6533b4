// Shapes beyond FreeType's outline limits (32,767 points or contours): the
// path as the outline builder handed it to the stroker, rebuilt as several
// outlines within the limits that are filled together as one shape.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H

#include <cstdint>
#include <vector>

// One call the builder made to the stroker: begin a sub-path at p[0] (open
// or closed), a line to p[0], a conic through p[0] to p[1], a cubic through
// p[0] and p[1] to p[2], or the end of the sub-path.
struct vlOutlineStep {
  enum Kind : uint8_t { kBegin, kLine, kConic, kCubic, kEnd };
  Kind kind;
  bool open;
  FT_Vector p[3];
};
using vlOutlineJournal = std::vector<vlOutlineStep>;

// Outlines that make one shape: their sides are filled together (a fill's
// contours may be cut into fans, whose added sides cancel), or their
// areas joined (a stroke's pieces, by the non-zero rule).
struct vlOutlineSet {
  vlOutlineSet() = default;
  vlOutlineSet(const vlOutlineSet&) = delete;
  vlOutlineSet& operator=(const vlOutlineSet&) = delete;
  ~vlOutlineSet();
  std::vector<FT_Outline> pieces;
  bool evenOdd = false;
  // FreeType's control box of them all.
  FT_BBox ControlBox() const;
};

struct vlStrokeStyle {
  FT_Fixed radius;
  FT_Stroker_LineCap cap;
  FT_Stroker_LineJoin join;
  FT_Fixed miterLimit;
};

// True when the stroker's outline (one border or both) fits one FreeType
// outline.
bool StrokerFitsOneOutline(FT_Stroker stroker, bool both);
// Makes the recorded calls to a stroker, in order.
void ReplayJournal(FT_Stroker stroker, const vlOutlineJournal& journal);
// The fill of the recorded sub-paths (every one closed), or their stroke:
// long sub-paths are cut in the middle of a side long enough to hold the
// cap, so that every join lies wholly inside one piece and the cut ends
// lie inside the stroke. False when memory runs out.
bool FillPieces(const vlOutlineJournal& journal, vlOutlineSet* out);
bool StrokePieces(const vlOutlineJournal& journal, const vlStrokeStyle& style, vlOutlineSet* out);
// Coverage of the whole set, moved by -origin (26.6), into width x height
// bytes with rows top-down.
bool RenderPieces(const vlOutlineSet& set, FT_Pos originX, FT_Pos originY, bool antiAlias, uint8_t* buffer,
                  int32_t rowBytes, int32_t width, int32_t height);

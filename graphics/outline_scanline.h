// The player's own scanline fill of outlines, for what FreeType's
// rasterisers do not draw: the even-odd rule without anti-aliasing, shapes
// whose rows cross more sides than FreeType's cell pool holds, strokes its
// 1-bit rasteriser gives up on, and shapes made of several outlines that
// must be filled as one (beyond FreeType's point limit).
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>
#include <vector>

// Sides are kept once and the rows are swept with a list of the sides
// that reach each row, so memory grows with the sides and the width, not
// with sides x rows. Coordinates are buffer pixels, rows top-down as y
// grows.
class vlScanlineFill {
 public:
  vlScanlineFill(int32_t width, int32_t height, bool antiAlias, bool evenOdd);
  // Adds an outline's contours moved by -origin (26.6); false when memory
  // runs out.
  bool AddOutline(const FT_Outline* outline, FT_Pos originX, FT_Pos originY);
  // Writes width x height bytes of coverage. Without anti-aliasing a pixel
  // is 255 when its centre lies inside by the rule or on the outline;
  // with it, the area covered, the rule applied to each pixel's summed
  // windings. False (buffer partly written) when memory runs out or an
  // end signal came while it ran.
  bool Render(uint8_t* buffer, int32_t rowBytes);

  // The outline walk (pixels).
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void CubicTo(double x1, double y1, double x2, double y2, double x3, double y3, int depth = 0);
  void Close();
  double penX = 0, penY = 0;

 private:
  struct Edge {
    double xTop, yTop, yBottom, slope;
    int32_t first, last;  // rows it reaches
    int32_t dir;          // +1 downward, -1 upward
  };
  // A piece of the outline lying on a row's centre line (1-bit only).
  struct Along {
    int32_t row;
    double x0, x1;
  };
  void Side(double x0, double y0, double x1, double y1);
  void WalkStraightAndCubic(const FT_Outline& outline, double dx, double dy);
  // Inline: asked for every side, rarely true.
  inline void OnCentreLine(double yc, double x0, double x1);
  void AddAlong(int32_t row, double x0, double x1);
  bool RenderPlain(uint8_t* buffer, int32_t rowBytes);
  bool RenderSmooth(uint8_t* buffer, int32_t rowBytes);
  bool RenderEvenOdd(uint8_t* buffer, int32_t rowBytes);
  void LightAlong(uint8_t* buffer, int32_t rowBytes) const;

  int32_t width_, height_;
  bool antiAlias_, evenOdd_;
  double startX_ = 0, startY_ = 0;
  bool contour_ = false;
  bool failed_ = false;
  std::vector<Edge> edges_;
  std::vector<Along> onLines_;
};

// The even-odd fill of one outline without anti-aliasing (pixel centres).
bool FillOutlineEvenOdd(const FT_Outline* outline, uint8_t* buffer, int32_t rowBytes, int32_t width,
                        int32_t height);
// One outline by either rule in either mode through the fill above.
bool FillOutlineScanline(const FT_Outline* outline, bool antiAlias, bool evenOdd, uint8_t* buffer,
                         int32_t rowBytes, int32_t width, int32_t height);
// About how many pixel cells an outline's sides pass through. FreeType's
// rasterisers split their bands until each band's cells fit their pool and
// walk every side again for every band, so their time grows with the
// square of this.
double OutlineCells(const FT_Outline* outline);

// Plain text straight onto the drawing target: text without tags or tabs,
// in one opaque colour, unstyled (or 1-bit bold and italic the font engine
// draws itself), left aligned and without wrapping goes
// line by line from the font engine into the target's bitmap, with no runs
// of styles, no picture in between and only the lines' rectangle shown.
// Lines, words and their places are the general layout's, so both draw the
// same pixels.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/draw_tags.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/presentation.h"
#include "objects/sprites/sprite.h"
#include "text/text_layout.h"

namespace {

// One run of a line as the general layout would merge it: the text in the
// work buffer from start, length bytes, at x of line `line`.
struct PlainRun {
  size_t start, length;
  int32_t x, line;
  vlStyledExtent extent;
  vlTextMeasure measure;
};

struct Rect {
  int32_t x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
  void Clip(int32_t l, int32_t t, int32_t r, int32_t b) {
    x0 = std::max(x0, l), y0 = std::max(y0, t), x1 = std::min(x1, r), y1 = std::min(y1, b);
  }
  void Join(const Rect& o) {
    if (o.Empty()) return;
    x0 = std::min(x0, o.x0), y0 = std::min(y0, o.y0), x1 = std::max(x1, o.x1), y1 = std::max(y1, o.y1);
  }
  bool Empty() const { return x1 <= x0 || y1 <= y0; }
};

// Without anti-aliasing, bold and italic that the engine draws itself come
// out of it as plain text does: 1-bit glyphs painted one over the other
// set the same pixels as the picture's mask ORed from them. Anti-aliased
// glyphs that overlap would blend twice here and once in the picture.
bool PlainStyle(const vlTextSettings& s) {
  uint32_t rest = s.style & ~uint32_t{VL_STYLE_NORMAL | VL_STYLE_ANTIALIAS};
  if (!(s.style & VL_STYLE_ANTIALIAS))
    for (uint32_t bit : {uint32_t{VL_STYLE_BOLD}, uint32_t{VL_STYLE_ITALIC}})
      if ((rest & bit) && EngineHasStyle(s.font, bit)) rest &= ~bit;
  return s.style && !rest && (s.color >> 24) == 0;
}

// Draw tags that leave the picture as it is: identity transformation, no
// filters, no transparency, shown. The anchor still places the text.
bool PlainTags(const vlDrawTags* tags) {
  return !tags || (IsIdentityTransform(&tags->transform) && !LayerHasFilters(tags->form.filters) &&
                   !tags->form.transparency && !tags->form.hidden);
}

}  // namespace

int DrawPlainText(vlTextLayout* layout, int32_t mode, const vlDrawTags* tags, bool* drawn) {
  *drawn = false;
  const vlTextSettings& s = layout->settings;
  const bool print = mode == VL_TEXTMODE_PRINT;
  if ((mode != VL_TEXTMODE_TEXTOUT && !print) || layout->align != VL_ALIGN_LEFT || layout->useWordWrap ||
      layout->positionedX || !PlainStyle(s) || !PlainTags(tags))
    return 0;
  vlDisplay* d = CurrentDisplay();
  vlBGPic* target = vlCurrentOutput;
  if (!d || !target || d->layersOn || d->outputHardware) return 0;
  // The target's bitmap. A display's drawing shows at once; a brush or
  // BGPic (a software double buffer's back picture among them) only takes
  // it, as long as no mask or alpha plane of it is to be kept in step.
  vlBitmap* into;
  int32_t targetW, targetH;
  if (d->outputType == VL_OUTPUT_DISPLAY) {
    if (!d->back || d->hardwareDoubleBuffer) return 0;
    into = d->back;
    targetW = d->width;
    targetH = d->height;
  } else if (d->outputType == VL_OUTPUT_BRUSH || d->outputType == VL_OUTPUT_BGPIC) {
    if (!target->curBitmap || d->outputMask || d->outputAlpha) return 0;
    into = target->curBitmap;
    targetW = target->width;
    targetH = target->height;
  } else {
    return 0;
  }
  const auto* region = static_cast<const vlClipRegion*>(target->clipRegion);
  if (region && region->mask) return 0;

  // The text as the layout walks it: carriage returns dropped, an empty
  // text one blank. Tags, tabs and closing brackets need the general path.
  const char* text = layout->text && *layout->text ? layout->text : " ";
  const size_t length = std::strlen(text);
  if (std::strpbrk(text, "[]\t")) return 0;
  std::string work;
  work.reserve(length);
  for (size_t i = 0; i < length; ++i)
    if (text[i] != '\r') work += text[i];

  // Words and their places as the general layout makes them: a piece is a
  // word with the blanks after it (a line's leading blanks join its first
  // word), measured alone; neighbouring pieces make one run while the run
  // measured whole ends where the next piece starts. A run's measure is
  // its pieces' measures joined, so no character is measured twice.
  const int32_t fontHeight = s.font ? s.font->height : 8;
  const int32_t startX = print ? layout->cursorX - layout->marginLeft : 0;
  auto measure = [&](size_t from, size_t to, vlTextMeasure* m, vlStyledExtent* e) {
    if (int status = MeasureTextJoinable(s.font, work.data() + from, static_cast<int32_t>(to - from), s.style,
                                         layout->encoding, m))
      return status;
    StyleTextExtent(m->extent, &s, e);
    return 0;
  };
  std::vector<PlainRun> runs;
  runs.reserve(std::count(work.begin(), work.end(), '\n') + 1);
  int32_t x = startX, line = 0;
  for (size_t at = 0; at <= work.size();) {
    size_t end = work.find('\n', at);
    if (end == std::string::npos) end = work.size();
    bool open = false;   // runs.back() belongs to this line and may grow
    bool exact = false;  // and measured whole it ends where its pieces do
    for (size_t p = at; p < end;) {
      size_t q = p;
      while (q < end && work[q] == ' ') ++q;
      while (q < end && work[q] != ' ') ++q;
      while (q < end && work[q] == ' ') ++q;
      vlTextMeasure m;
      vlStyledExtent e;
      if (int status = measure(p, q, &m, &e)) return status;
      // A word that is not the first of its line and reaches past the
      // wrap width would move to the next line: the general path does that.
      if (layout->wrapWidth > 0 && p != at && x != 0) {
        size_t ink = q;
        while (ink > p && work[ink - 1] == ' ') --ink;
        vlStyledExtent inked = e;
        vlTextMeasure unused;
        if (ink != q && ink > p && EngineInksBlanks(s.font))
          if (int status = measure(p, ink, &unused, &inked)) return status;
        if (x + inked.inkRight + inked.extraRight > layout->wrapWidth) return 0;
      }
      if (open && exact) {
        PlainRun& r = runs.back();
        r.length = q - r.start;
        const vlTextMeasure before = r.measure;
        if (int status = JoinTextMeasures(s.font, s.style, layout->encoding, before, m, work.data() + r.start,
                                          static_cast<int32_t>(r.length), &r.measure))
          return status;
        exact = r.x + r.measure.extent.width == x + e.width;
      } else {
        runs.push_back({p, q - p, x, line, e, m});
        open = exact = true;
      }
      x += e.width;
      p = q;
    }
    if (end == work.size()) break;
    at = end + 1;
    x = 0;
    ++line;
  }
  for (auto& r : runs) StyleTextExtent(r.measure.extent, &s, &r.extent);
  const int32_t endX = x, lines = line;

  // The picture the general path would make: its left edge, width and
  // height, placed at the output position (print mode: x from the left
  // margin) less the anchor's share.
  int32_t left = 0, width = 1, height = fontHeight + 1;
  if (!runs.empty()) {
    int32_t right = INT_MIN, bottom = 0;
    left = INT_MAX;
    for (const auto& r : runs) {
      left = std::min(left, r.x + std::min(r.extent.inkLeft, 0));
      right = std::max(right, r.x + r.extent.advance);
      bottom = std::max(bottom, r.line * fontHeight);
    }
    width = std::max(right - left, 1);
    height = fontHeight + 1 + bottom;
  }
  int32_t originX = print ? layout->marginLeft : layout->x;
  int32_t originY = print ? layout->cursorY : layout->y;
  if (tags) {
    originX -= static_cast<int32_t>(tags->transform.anchorX * width);
    originY -= static_cast<int32_t>(tags->transform.anchorY * height);
  }
  Rect picture{originX + left, originY, originX + left + width, originY + height};
  picture.Clip(0, 0, targetW, targetH);
  if (region) picture.Clip(region->x, region->y, region->x + region->width, region->y + region->height);
  // Under a sprite the blit's own redraw of the sprites is needed.
  if (!picture.Empty() && d->back &&
      OverlapsSprite(target, picture.x0, picture.y0, picture.x1 - picture.x0, picture.y1 - picture.y0))
    return 0;

  *drawn = true;
  if (!picture.Empty()) {
    const bool display = d->outputType == VL_OUTPUT_DISPLAY;
    vlBitmap* front = display && d->front && d->front != d->back ? d->front : nullptr;
    // The front copy keeps what stays drawn: owed the lines' rectangle, or
    // given it at once when another debt holds the slot.
    const bool owed = front && !(d->bgpic && d->bgpic->sprites) && !target->sprites && BeginOwedDrawing(into, front);
    Rect shown;
    for (const auto& r : runs) {
      // Each line keeps to its own band, as in the general path's picture.
      Rect band{originX + r.x + std::min(r.extent.inkLeft, 0), originY + r.line * fontHeight,
                originX + r.x + r.extent.advance, originY + r.line * fontHeight + fontHeight + 1};
      band.Clip(picture.x0, picture.y0, picture.x1, picture.y1);
      if (band.Empty()) continue;
      const int32_t clip[4] = {band.x0, band.y0, band.x1 - band.x0, band.y1 - band.y0};
      RenderText(s.font, into, nullptr, originX + r.x, originY + r.line * fontHeight, work.data() + r.start,
                 static_cast<int32_t>(r.length), s.style, layout->encoding, clip, s.color);
      shown.Join(band);
    }
    if (!shown.Empty()) {
      const int32_t sx = shown.x0, sy = shown.y0, sw = shown.x1 - shown.x0, sh = shown.y1 - shown.y0;
      if (owed)
        EndOwedDrawing(into, front, sx, sy, sw, sh);
      else if (front)
        BltBitmap(into, sx, sy, front, sx, sy, std::min(sw, front->width - sx), std::min(sh, front->height - sy));
      if (display)
        UpdateDisplayRect(into, sx, sy, d, sx, sy, sw, sh, 1);
      else if (d->doubleBuffer && !d->hardwareDoubleBuffer)
        InvalidateArea(sx, sy, sw, sh);
    } else if (owed) {
      EndOwedDrawing(into, front, picture.x0, picture.y0, 0, 0);
    }
  }
  if (print) {
    layout->cursorX = layout->marginLeft + endX;
    layout->cursorY += lines * fontHeight;
  }
  return 0;
}

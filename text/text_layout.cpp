// Tagged text to runs on lines, and the output of the rendered picture.
#include "text/text_layout.h"

#include <algorithm>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "objects/brushes/brush.h"
#include "text/picture_output.h"
#include "text/text_layers.h"
#include "text/text_tags.h"
#include "vm/error_codes.h"

void ClampTextEffectParams(vlTextSettings* s) {
  s->shadowSize = std::clamp(s->shadowSize, 1, 64);
  s->edgeSize = std::clamp(s->edgeSize, 1, 64);
  if (s->shadowDirection > 7 || s->shadowDirection < 0) s->shadowDirection = 3;
}

int MeasureStyledText(const char* text, int32_t length, int32_t encoding, vlStyledExtent* out,
                      const vlTextSettings* s) {
  *out = {};
  vlTextExtent e{};
  if (int status = MeasureText(s->font, text, length, s->style, encoding, &e)) return status;
  StyleTextExtent(e, s, out);
  return 0;
}

void StyleTextExtent(const vlTextExtent& e, const vlTextSettings* s, vlStyledExtent* out) {
  *out = {};
  out->width = e.width;
  out->inkLeft = e.left;
  out->inkTop = e.top;
  out->inkRight = e.right;
  out->inkBottom = e.bottom;
  const int32_t height = s->font ? s->font->height : e.height;
  const int32_t baseline = s->font ? s->font->baseline : 0;
  out->height = height;
  if ((s->style & VL_STYLE_BOLD) && !EngineHasStyle(s->font, VL_STYLE_BOLD) && !(s->style & VL_STYLE_ANTIALIAS))
    out->inkRight += 1;
  if ((s->style & VL_STYLE_ITALIC) && !EngineHasStyle(s->font, VL_STYLE_ITALIC)) {
    out->inkRight += baseline / 2;
    out->inkLeft -= (height - baseline) / 2;
  }
  out->advance = out->width <= out->inkRight ? out->inkRight + 1 : out->width;
  if (s->style & VL_STYLE_EDGE) {
    out->extraLeft = out->extraTop = -s->edgeSize;
    out->extraRight = out->extraBottom = s->edgeSize;
  }
  if (s->style & VL_STYLE_SHADOW) {
    const int32_t n = s->shadowSize;
    switch (s->shadowDirection) {
      case 0: out->extraTop -= n; break;
      case 1: out->extraRight += n; out->extraTop -= n; break;
      case 2: out->extraRight += n; break;
      case 4: out->extraBottom += n; break;
      case 5: out->extraLeft -= n; out->extraBottom += n; break;
      case 6: out->extraLeft -= n; break;
      case 7: out->extraLeft -= n; out->extraTop -= n; break;
      default: out->extraRight += n; out->extraBottom += n; break;
    }
  }
}

namespace {

bool SameStyle(const vlTextSettings& a, const vlTextSettings& b) {
  return a.style == b.style && a.color == b.color && a.shadowColor == b.shadowColor &&
         a.edgeColor == b.edgeColor && a.shadowSize == b.shadowSize && a.shadowDirection == b.shadowDirection &&
         a.edgeSize == b.edgeSize && a.font == b.font;
}

// One piece of a word (a word may change style inside), or a line break.
struct Piece {
  std::string text;  // the word's characters of one style, blanks after the word included
  const vlTextSettings* style;
  int32_t word;      // number of the word, -1 for a line break or tab
  bool tab;
};

int32_t Measure(vlTextRun& run, int32_t encoding) {
  const vlTextSettings& s = run.style;
  if (int status = MeasureTextJoinable(s.font, run.text.data(), static_cast<int32_t>(run.text.size()), s.style,
                                       encoding, &run.measure))
    return status;
  StyleTextExtent(run.measure.extent, &s, &run.extent);
  return 0;
}

// The run followed by the next (of the same style): its text and measures
// grow without the joined text being measured again.
int32_t Append(vlTextRun& run, const vlTextRun& next, int32_t encoding) {
  run.text += next.text;
  const vlTextMeasure before = run.measure;
  const vlTextSettings& s = run.style;
  if (int status = JoinTextMeasures(s.font, s.style, encoding, before, next.measure, run.text.data(),
                                    static_cast<int32_t>(run.text.size()), &run.measure))
    return status;
  StyleTextExtent(run.measure.extent, &s, &run.extent);
  return 0;
}

}  // namespace

int LayoutTextRuns(vlVMState* L, vlTextLayout* layout, bool literal, int32_t startX, std::vector<vlTextRun>* runs,
                   int32_t* lines, int32_t* endX) {
  runs->clear();
  *lines = 0;
  std::vector<vlStyledSpan> spans;
  const char* text = layout->text && *layout->text ? layout->text : " ";
  // A first scan sizes what this call fills, so that nothing grows on the
  // way: pieces (a word, tab or line break each, cut again where the style
  // changes), runs, and the word-wrap and tab tables of a fresh layout.
  size_t length = 0, tabs = 0, breaks = 0, words = 1;
  for (const char* c = text; *c; ++c, ++length) {
    tabs += *c == '\t';
    breaks += *c == '\n';
    words += (*c == ' ' || *c == '\t' || *c == '\n') && c[1] && c[1] != ' ' && c[1] != '\t' && c[1] != '\n';
  }
  if (int status = SplitTaggedText(L, text, length, literal, layout->settings, &spans)) return status;
  const size_t parts = words + tabs + breaks + spans.size();
  runs->reserve(parts);
  if (!layout->useWordWrap) {
    layout->wordWrap.reserve(words);
    layout->tabTable.reserve(tabs);
  }

  // Cut the spans into word pieces.
  std::vector<Piece> pieces;
  pieces.reserve(parts);
  int32_t word = 0;
  bool inWord = false, afterBlank = false;
  for (const auto& span : spans) {
    for (char c : span.text) {
      if (c == '\r') continue;
      if (c == '\n' || c == '\t') {
        if (inWord) ++word;
        inWord = afterBlank = false;
        pieces.push_back({std::string(), &span.style, -1, c == '\t'});
        continue;
      }
      const bool blank = c == ' ';
      if (!blank && afterBlank) {  // a new word starts
        ++word;
        afterBlank = false;
        inWord = false;
      }
      if (!blank) inWord = true;
      if (blank && inWord) afterBlank = true;
      if (pieces.empty() || pieces.back().word != word || pieces.back().style != &span.style) {
        pieces.push_back({std::string(), &span.style, word, false});
      }
      pieces.back().text += c;
    }
  }

  const int32_t height = layout->settings.font ? layout->settings.font->height : 8;
  int32_t x = startX, y = 0;
  size_t wrapIndex = 0, tabIndex = 0;
  // A fresh layout records where its lines break and which stops its tabs
  // take; a redraw replays both.
  if (!layout->useWordWrap) {
    layout->wordWrap.clear();
    layout->tabTable.clear();
  }
  auto newLine = [&] {
    x = 0;
    y += height;
    ++*lines;
  };
  for (size_t i = 0; i < pieces.size();) {
    const Piece& p = pieces[i];
    if (p.word < 0) {
      if (!p.tab) {
        newLine();
      } else {
        int32_t index = -1;
        if (layout->useWordWrap && tabIndex < layout->tabTable.size()) {
          index = layout->tabTable[tabIndex++];
          if (index >= std::min<int32_t>(layout->tabCount, 32)) index = -1;
        } else {
          const int32_t at = layout->marginLeft + x;
          for (int32_t t = 0; t < layout->tabCount && t < 32; ++t)
            if (layout->tabStops[t] > at) {
              index = t;
              break;
            }
          if (index >= 0 && layout->wrapWidth > 0 && layout->tabStops[index] - layout->marginLeft >= layout->wrapWidth)
            index = -1;
          if (!layout->useWordWrap) layout->tabTable.push_back(index);
        }
        if (index < 0)
          newLine();
        else
          x = layout->tabStops[index] - layout->marginLeft;
      }
      ++i;
      continue;
    }
    // All pieces of this word.
    size_t j = i;
    while (j < pieces.size() && pieces[j].word == p.word) ++j;
    const size_t first = runs->size();
    const bool lineStart = x == 0 || (runs->empty() || runs->back().y != y);
    int32_t px = x;
    for (size_t k = i; k < j; ++k) {
      vlTextRun run;
      run.text = pieces[k].text;
      run.style = *pieces[k].style;
      if (int status = Measure(run, layout->encoding)) return status;
      run.x = px;
      run.y = y;
      px += run.extent.width;
      runs->push_back(std::move(run));
    }
    bool breakHere = false;
    if (layout->useWordWrap) {
      breakHere = wrapIndex < layout->wordWrap.size() && layout->wordWrap[wrapIndex] == p.word;
      if (breakHere) ++wrapIndex;
    } else if (layout->wrapWidth > 0 && !lineStart) {
      const vlTextRun& last = runs->back();
      // The word's own ink decides, not the blanks after it (an engine
      // that inks no blank has measured that already).
      std::string ink = last.text;
      while (!ink.empty() && ink.back() == ' ') ink.pop_back();
      vlStyledExtent e = last.extent;
      if (ink.size() != last.text.size() && !ink.empty() && EngineInksBlanks(last.style.font))
        MeasureStyledText(ink.data(), static_cast<int32_t>(ink.size()), layout->encoding, &e, &last.style);
      breakHere = last.x + e.inkRight + e.extraRight > layout->wrapWidth;
      if (breakHere) layout->wordWrap.push_back(p.word);
    }
    if (breakHere && x != 0) {
      ++*lines;
      y += height;
      px = 0;
      for (size_t k = first; k < runs->size(); ++k) {
        (*runs)[k].x = px;
        (*runs)[k].y = y;
        px += (*runs)[k].extent.width;
      }
    }
    x = px;
    i = j;
  }
  *endX = x;

  // Merge neighbours of one style on one line. Each merged run keeps its
  // measure before its last piece, and where that piece starts, so that
  // trimming its blanks below measures only that piece again.
  std::vector<vlTextRun> merged;
  std::vector<vlTextMeasure> beforeLast;
  std::vector<size_t> lastStart;
  merged.reserve(runs->size());
  beforeLast.reserve(runs->size());
  lastStart.reserve(runs->size());
  for (auto& run : *runs) {
    if (!merged.empty() && merged.back().y == run.y && SameStyle(merged.back().style, run.style) &&
        merged.back().x + merged.back().extent.width == run.x) {
      beforeLast.back() = merged.back().measure;
      lastStart.back() = merged.back().text.size();
      if (int status = Append(merged.back(), run, layout->encoding)) return status;
    } else {
      merged.push_back(std::move(run));
      beforeLast.push_back({});
      lastStart.push_back(0);
    }
  }
  // Trailing blanks of a line's last run go when they would show.
  for (size_t k = 0; k < merged.size(); ++k) {
    const bool lastOfLine = k + 1 == merged.size() || merged[k + 1].y != merged[k].y;
    vlTextRun& r = merged[k];
    if (!lastOfLine || !((r.style.style & VL_STYLE_UNDERLINED) || layout->align != VL_ALIGN_LEFT)) continue;
    size_t n = r.text.size();
    while (n && r.text[n - 1] == ' ') --n;
    if (n == r.text.size()) continue;
    if (!n) {
      r.text.clear();
      continue;
    }
    if (n > lastStart[k] && lastStart[k] > 0) {
      vlTextRun tail;
      tail.style = r.style;
      tail.text = r.text.substr(lastStart[k], n - lastStart[k]);
      r.text.resize(lastStart[k]);
      r.measure = beforeLast[k];
      if (Measure(tail, layout->encoding) || Append(r, tail, layout->encoding)) return ERR_MEM;
    } else {
      r.text.resize(n);
      if (Measure(r, layout->encoding)) return ERR_MEM;
    }
  }
  runs->clear();
  for (auto& r : merged)
    if (!r.text.empty()) runs->push_back(std::move(r));
  return 0;
}

void FreeTextPicture(vlTextPicture* p) {
  if (p->bitmap) DeleteBitmap(p->bitmap);
  if (p->mask) DeleteMaskPlane(p->mask);
  if (p->alpha) DeleteAlphaPlane(p->alpha);
  *p = {};
}

int RenderLayoutPicture(vlVMState* L, vlTextLayout* layout, int32_t mode, bool literal, vlTextPicture* out,
                        int32_t* lines, int32_t* endX) {
  const vlTextSettings& s = layout->settings;
  if ((s.style & VL_STYLE_ANTIALIAS) && s.font && !s.font->antiAlias) return 1255;
  const bool print = mode == VL_TEXTMODE_PRINT;
  const int32_t startX = print ? layout->cursorX - layout->marginLeft : 0;
  std::vector<vlTextRun> runs;
  *lines = 0;
  *endX = 0;
  if (int status = LayoutTextRuns(L, layout, literal, startX, &runs, lines, endX)) return status;
  if (print && *lines == 0)  // the picture starts where the text starts
    for (auto& r : runs) r.x -= startX;
  vlTextPicture picture;
  if (runs.empty()) {
    // Nothing to ink: a one pixel wide empty picture keeps the geometry.
    const int32_t h = (s.font ? s.font->height : 8) + 1;
    picture.bitmap = NewBitmap(1, h, 0, nullptr);
    if (!picture.bitmap) return 1522;
    picture.mask = NewMaskPlane(picture.bitmap, 1, h, 1, nullptr, 0);
    if (!picture.mask) {
      FreeTextPicture(&picture);
      return 1565;
    }
    picture.width = 1;
    picture.height = h;
  } else if (int status = EdgeDraw(runs, layout->align, layout->encoding, &picture)) {
    return status;
  }
  *out = picture;
  return 0;
}

int DrawFormattedText(vlVMState* L, vlTextLayout* layout, int32_t mode, bool literal, vlTextPicture* pictureOut) {
  return DrawFormattedTextTagged(L, layout, mode, literal, pictureOut, nullptr);
}

int DrawFormattedTextTagged(vlVMState* L, vlTextLayout* layout, int32_t mode, bool literal,
                            vlTextPicture* pictureOut, const vlDrawTags* tags) {
  vlTextSettings& s = layout->settings;
  if ((s.style & VL_STYLE_ANTIALIAS) && s.font && !s.font->antiAlias) return 1255;
  const bool print = mode == VL_TEXTMODE_PRINT;
  // A selected brush, mask or alpha channel gets its planes before the text
  // lands in them.
  if (mode != VL_TEXTMODE_OBJECT)
    if (int status = GetSelectTargetBitmaps(L)) return status;
  // With layers on, the text's shadow, edge and transparency become effects
  // of its layer instead of pixels of its picture.
  const bool toLayer = mode != VL_TEXTMODE_OBJECT && TargetTakesLayers();
  vlLayerOptions options{};
  if (tags) options = tags->form;
  if (toLayer) {
    if (s.style & VL_STYLE_EDGE) {
      options.border = {1, s.edgeColor, static_cast<uint32_t>(s.edgeSize)};
      s.style &= ~VL_STYLE_EDGE;
    }
    if (s.style & VL_STYLE_SHADOW) {
      options.shadow.on = 1;
      options.shadow.color = s.shadowColor;
      options.shadow.size = s.shadowSize;
      options.shadow.direction = static_cast<uint32_t>(s.shadowDirection);
      s.style &= ~VL_STYLE_SHADOW;
    }
    if (s.color >> 24) {
      options.transparency = s.color >> 24;
      s.color &= 0xFFFFFF;
    }
  }
  if (!toLayer) {
    bool drawn;
    if (int status = DrawPlainText(layout, mode, tags, &drawn)) return status;
    if (drawn) return 0;
  }
  vlTextPicture picture;
  int32_t lines = 0, endX = 0;
  if (int status = RenderLayoutPicture(L, layout, mode, literal, &picture, &lines, &endX)) return status;
  if (mode == VL_TEXTMODE_OBJECT) {
    *pictureOut = picture;
    return 0;
  }
  int32_t px, py;
  if (print) {
    px = layout->marginLeft + (lines == 0 ? layout->cursorX - layout->marginLeft : 0);
    py = layout->cursorY;
  } else {
    px = layout->x;
    py = layout->y;
  }
  px += picture.offsetX;
  py += picture.offsetY;
  const vlLayerTransform* transform = tags ? &tags->transform : nullptr;
  const bool turned = transform && !IsIdentityTransform(transform);
  vlDisplay* display = CurrentDisplay();
  if (toLayer) {
    vlTextLayerGeometry* g = NewTextLayerGeometry(*layout, mode, literal);
    if (!g) {
      FreeTextPicture(&picture);
      return ERR_MEM;
    }
    g->x = px, g->y = py, g->width = picture.width, g->height = picture.height;
    vlLayer* layer = nullptr;
    if (int status = AddLayer(L, static_cast<uint32_t>(mode), nullptr, px, py, picture.width, picture.height,
                              transform, &options, picture.bitmap, picture.mask, picture.alpha, g, -1,
                              VL_ADDLAYER_DISPLAYSCALED, &layer))
      return status;
    picture = {};
  } else if (display) {
    if (turned) {
      // The transformation of the draw tags, with the picture's anchor
      // point kept in place.
      double m[4];
      LayerMatrixColumns(transform, m);
      vlTextPicture made;
      if (int status = RenderTextTransformed(L, *layout, mode, literal, m, true,
                                              static_cast<int>(transform->smooth), &made)) {
        FreeTextPicture(&picture);
        return status;
      }
      const int32_t ax = px - static_cast<int32_t>(transform->anchorX * picture.width);
      const int32_t ay = py - static_cast<int32_t>(transform->anchorY * picture.height);
      FitRotatedRect(ax, ay, picture.width, picture.height, transform->anchorX, transform->anchorY, m, &px, &py,
                     nullptr, nullptr);
      FreeTextPicture(&picture);
      picture = made;
    } else if (transform) {
      px -= static_cast<int32_t>(transform->anchorX * picture.width);
      py -= static_cast<int32_t>(transform->anchorY * picture.height);
    }
    int status = tags ? ApplyDrawTagsEffects(&tags->form, picture.bitmap, &picture.mask, &picture.alpha,
                                             picture.width, picture.height)
                      : 0;
    if (!status && !(tags && tags->form.hidden)) {
      // A selected brush, mask or alpha channel is drawn into at its own
      // size, not the display's.
      const vlBGPic* target = vlCurrentOutput;
      if (display->outputType != VL_OUTPUT_DISPLAY && target) {
        BlitPictureToTarget(L, picture.bitmap, picture.mask, picture.alpha, px, py, picture.width, picture.height);
      } else {
        // Text keeps inside the active clip region as every drawing does.
        SafeBlt(L, picture.bitmap, 0, 0, nullptr, px, py, picture.width, picture.height, picture.width,
                picture.height, display->width, display->height, VL_SAFEBLT_BACKANDSHOW | VL_SAFEBLT_KEEP,
                picture.alpha ? nullptr : picture.mask, picture.alpha,
                target ? static_cast<const vlClipRegion*>(target->clipRegion) : nullptr);
      }
    }
    if (status) {
      FreeTextPicture(&picture);
      return status;
    }
  }
  FreeTextPicture(&picture);
  if (print) {
    const int32_t height = s.font ? s.font->height : 8;
    layout->cursorX = layout->marginLeft + endX;
    layout->cursorY += lines * height;
  }
  return 0;
}

int PrintText(vlVMState* L, const char* text, bool literal) {
  vlDisplay* display = CurrentDisplay();
  if (!display) return 0;
  vlTextLayout layout;
  layout.settings = *GetTextSettings();
  layout.text = text;
  layout.x = VL_ALIGN_CENTER;
  layout.align = VL_ALIGN_LEFT;
  layout.cursorX = display->cursorX;
  layout.cursorY = display->cursorY;
  layout.marginLeft = display->marginLeft;
  layout.wrapWidth = display->marginRight + 1 - display->marginLeft;
  layout.tabCount = std::min<int32_t>(display->tabCount, 32);
  std::memcpy(layout.tabStops, display->tabStops, sizeof layout.tabStops);
  if (int status = DrawFormattedText(L, &layout, VL_TEXTMODE_PRINT, literal, nullptr)) return status;
  display->cursorX = layout.cursorX;
  display->cursorY = layout.cursorY;
  return 0;
}

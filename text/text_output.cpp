// The text output commands: colour and style settings, measuring, the
// display's text cursor, margins and tab stops, Print, NPrint and TextOut.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "graphics/position.h"
#include "runtime/error_vm.h"
#include "runtime/script_call.h"
#include "text/text_commands.h"
#include "text/text_layout.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// The most break positions a word-wrap table may hold.
constexpr size_t kWordWrapLimit = 32766;

int32_t EncodingArg(vlVMState* L, int index, int* status) {
  const int32_t encoding = vl::OptIntArg(L, index, GetDefaultEncoding());
  *status = encoding < 0 || encoding > 1 ? ERR_WRONGUSAGE : 0;
  return encoding;
}

int MeasureArg(vlVMState* L, vlStyledExtent* e, bool* empty) {
  size_t length;
  const char* text = vl::CheckStringArg(L, 1, &length);
  int status;
  const int32_t encoding = EncodingArg(L, 2, &status);
  if (status) return status;
  *e = {};
  *empty = length == 0;
  if (*empty) return 0;
  return MeasureStyledText(text, static_cast<int32_t>(length), encoding, e, GetTextSettings());
}

// The optional integer field of the table at index.
bool IntField(vlVMState* L, int index, const char* name, int32_t* out) {
  vl::PushString(L, name);
  vl::GetTableValue(L, index);
  const bool present = vl::GetTypeAt(L, -1) != VL_TNIL && vl::IsNumberAt(L, -1);
  if (present) *out = vl::NumberToArgInt(vl::ToNumberAt(L, -1));
  vl::SetStackTop(L, -2);
  return present;
}

int PrintArgs(vlVMState* L, bool lineBreak) {
  CheckArgs(L, 1, 0, 0, 0);
  if (int status = JoinArgsAsText(L, vl::GetStackTop(L))) return status;
  if (lineBreak) {
    vl::PushString(L, "\n");
    vl::ConcatValues(L, 2);
  }
  return PrintText(L, vl::ToStringAt(L, -1), false);
}

}  // namespace

int CmdSetFontColor(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  GetTextSettings()->color = vl::DoubleToUInt32Bits(vl::CheckNumberArg(L, 1));
  return 0;
}

int CmdTextHeight(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckStringArg(L, 1, nullptr);
  const vlEngineFont* font = GetCurrentFont();
  vl::PushNumber(L, font ? font->height : 0);
  return 1;
}

int CmdTextWidth(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlStyledExtent e;
  bool empty;
  if (int status = MeasureArg(L, &e, &empty)) return status;
  vl::PushNumber(L, e.width);
  return 1;
}

int CmdTextExtent(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlStyledExtent e;
  bool empty;
  if (int status = MeasureArg(L, &e, &empty)) return status;
  vl::PushNewTable(L);
  const struct {
    const char* name;
    int32_t value;
  } fields[] = {{"minx", e.inkLeft + e.extraLeft},   {"maxx", e.inkRight + e.extraRight},
                {"miny", e.inkTop + e.extraTop},     {"maxy", e.inkBottom + e.extraBottom},
                {"width", e.width},                  {"height", e.height}};
  for (const auto& f : fields) {
    vl::PushString(L, f.name);
    vl::PushNumber(L, empty ? 0 : f.value);
    vl::SetTableValue(L, -3);
  }
  return 1;
}

int CmdResetTabs(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  if (CurrentDisplay()) CurrentDisplay()->tabCount = 0;
  return 0;
}

int CmdAddTab(vlVMState* L) {
  CheckArgs(L, 1, 0, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  const int n = vl::GetStackTop(L);
  for (int i = 1; i <= n; ++i) {
    const int32_t pos = vl::CheckIntArg(L, i);
    if (d->tabCount >= 32) return ERR_INTERNAL;
    if (pos < 0) return ERR_NEGCOORDS;
    int32_t at = 0;
    while (at < d->tabCount && d->tabStops[at] <= pos) ++at;
    std::memmove(&d->tabStops[at + 1], &d->tabStops[at], sizeof(int32_t) * static_cast<size_t>(d->tabCount - at));
    d->tabStops[at] = pos;
    ++d->tabCount;
  }
  return 0;
}

int CmdLocate(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  if (x == VL_ALIGN_CENTER || x == VL_ALIGN_LEFT || x == VL_ALIGN_RIGHT || y == VL_ALIGN_CENTER || y == VL_POS_TOP ||
      y == VL_POS_BOTTOM)
    return 1337;
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  d->cursorX = x >= d->marginLeft && x <= d->marginRight ? x : d->marginLeft;
  d->cursorY = y;
  return 0;
}

int CmdSetMargins(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t left = vl::CheckIntArg(L, 1), right = vl::CheckIntArg(L, 2);
  if (left >= right) return ERR_WRONGUSAGE;
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  left = std::max(left, 0);
  // A selected brush, picture or channel is the page the margins lie on.
  const vlBGPic* target = vlCurrentOutput;
  const int32_t width = d->outputType != VL_OUTPUT_DISPLAY && target ? target->width : d->width;
  if (right >= width) right = width - 1;
  d->marginLeft = left;
  d->marginRight = right;
  d->cursorX = left;
  d->cursorY = 0;
  return 0;
}

int CmdSetFontStyle(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  const int n = vl::GetStackTop(L);
  const auto style = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  vlTextSettings* s = GetTextSettings();
  if (style & VL_STYLE_NORMAL) {
    s->style = VL_STYLE_NORMAL;
    return 0;
  }
  if (style == VL_STYLE_SHADOW) {
    if (n >= 2) s->shadowColor = vl::DoubleToUInt32Bits(vl::CheckNumberArg(L, 2));
    if (n >= 3) s->shadowSize = vl::CheckIntArg(L, 3);
    if (n >= 4) s->shadowDirection = vl::CheckIntArg(L, 4);
  } else if (style == VL_STYLE_EDGE) {
    if (n == 2 || n == 3) s->edgeColor = vl::DoubleToUInt32Bits(vl::CheckNumberArg(L, 2));
    if (n == 3) s->edgeSize = vl::CheckIntArg(L, 3);
  } else if (n > 1) {
    return ERR_TOOMANYARGS;
  }
  s->style |= style;
  ClampTextEffectParams(s);
  return 0;
}

int CmdPrint(vlVMState* L) { return PrintArgs(L, false); }
int CmdNPrint(vlVMState* L) { return PrintArgs(L, true); }

int CmdTextOut(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  const int n = vl::GetStackTop(L);
  // The draw tags of an options table: transform, anchor and the layer's
  // effects.
  vlDrawTags tags;
  const bool tagged = n == 4 && vl::GetTypeAt(L, 4) == VL_TTABLE;
  const int antialias = (GetTextSettings()->style & VL_STYLE_ANTIALIAS) ? 1 : 0;
  if (int status = ParseDrawTags(L, tagged ? 4 : 0, 0, 0, 0, 0, antialias, &tags.transform, &tags,
                                 VL_TAGS_INIT | VL_TAGS_NOSIZE))
    return status;
  vlTextLayout layout;
  layout.settings = *GetTextSettings();
  layout.encoding = GetDefaultEncoding();
  int32_t wordwrap = 0;
  if (n == 4 && vl::GetTypeAt(L, 4) == VL_TTABLE) {
    layout.align = 0;
    IntField(L, 4, "align", &layout.align);
    IntField(L, 4, "wordwrap", &wordwrap);
    IntField(L, 4, "encoding", &layout.encoding);
    int32_t color;
    if (IntField(L, 4, "color", &color)) layout.settings.color = static_cast<uint32_t>(color);
    vl::PushString(L, "wordwraptable");
    vl::GetTableValue(L, 4);
    if (vl::GetTypeAt(L, -1) == VL_TTABLE) {
      // Room for the longest table up front: the reads below never grow it.
      try {
        layout.wordWrap.reserve(kWordWrapLimit + 1);
      } catch (const std::bad_alloc&) {
        return ERR_MEM;
      }
      const int table = vl::GetStackTop(L);
      for (int i = 0;; ++i) {
        vl::RawGetTableIndex(L, table, i);
        const bool nil = vl::GetTypeAt(L, -1) == VL_TNIL;
        if (!nil) layout.wordWrap.push_back(vl::NumberToArgInt(vl::ToNumberAt(L, -1)));
        vl::SetStackTop(L, -2);
        if (nil) break;
        if (layout.wordWrap.size() > kWordWrapLimit) return ERR_INTERNAL;
      }
      layout.useWordWrap = true;
    }
    vl::SetStackTop(L, -2);
  } else {
    layout.align = vl::OptIntArg(L, 4, VL_ALIGN_LEFT);
    wordwrap = vl::OptIntArg(L, 5, 0);
  }
  if (wordwrap < 0 || layout.encoding < 0 || layout.encoding > 1) return ERR_WRONGUSAGE;
  layout.wrapWidth = wordwrap;
  layout.x = vl::CheckIntArg(L, 1);
  layout.y = vl::CheckIntArg(L, 2);
  layout.text = vl::CheckStringArg(L, 3, nullptr);
  // Position constants place the whole text block; the anchor point is
  // resolved as the output takes it off again.
  layout.positionedX = IsPositionConstantX(layout.x);
  if (layout.positionedX || IsPositionConstantY(layout.y)) {
    vlTextLayout copy = layout;
    vlTextPicture probe;
    if (int status = DrawFormattedText(L, &copy, VL_TEXTMODE_OBJECT, false, &probe)) return status;
    layout.x = ResolvePosX(layout.x, probe.width, 0, tags.transform.anchorX);
    layout.y = ResolvePosY(layout.y, probe.height, 0, tags.transform.anchorY);
    FreeTextPicture(&probe);
  }
  return DrawFormattedTextTagged(L, &layout, VL_TEXTMODE_TEXTOUT, false, nullptr, &tags);
}

int CmdSetDefaultEncoding(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const int32_t encoding = vl::CheckIntArg(L, 1);
  if (encoding < 0 || encoding > 1) return ERR_WRONGUSAGE;
  SetDefaultEncoding(encoding);
  return 0;
}

int CmdGetKerningPair(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  size_t a, b;
  const char* first = vl::CheckStringArg(L, 1, &a);
  const char* second = vl::CheckStringArg(L, 2, &b);
  int status;
  const int32_t encoding = EncodingArg(L, 3, &status);
  if (status) return status;
  int32_t kerning = 0;
  if (a && b) {
    std::string both = std::string(first, a) + std::string(second, b);
    kerning = GetKerning(GetCurrentFont(), both.c_str(), GetTextSettings()->style, encoding);
  }
  vl::PushNumber(L, kerning);
  return 1;
}

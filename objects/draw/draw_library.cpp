// The "draw" command library: the three draw-state commands, the shape
// commands (their arguments and tables, handed to the shape and line
// renderers), and Plot, ReadPixel and Cls, which do their own work.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/bgpic.h"
#include "objects/sprites/sprite.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/layers/async_draw.h"
#include "display/gradient_args.h"
#include "display/layer_hooks.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/draw_target.h"
#include "objects/draw/shape_render.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int AllocDrawBuffers();

namespace {

bool Absent(vlVMState* L, int index) {
  const int type = vl::GetTypeAt(L, index);
  return type == -1 || type == VL_TNIL;
}

uint32_t Color(vlVMState* L, int index) { return static_cast<uint32_t>(vl::OptIntArg(L, index, 0)); }

// The draw tags of a shape command at index: a table, or a number when it
// is the last argument (a rotation). Flags: 4 no "width"/"height", 8 no
// "rotate".
int ReadShapeTags(vlVMState* L, int index, int32_t width, int32_t height, uint32_t flags, vlShapeTags* tags) {
  DefaultShapeTags(tags);
  vlDrawTags parsed;
  const uint32_t parseFlags = VL_TAGS_INIT | ((flags & 4) ? VL_TAGS_NOSIZE : 0u) | ((flags & 8) ? VL_TAGS_NOROTATE : 0u);
  if (int status = ParseDrawTags(L, index, width, height, width, height, 0, &tags->transform, &parsed, parseFlags))
    return status;
  tags->form = parsed.form;
  const int type = vl::GetTypeAt(L, index);
  if (type != -1 && type != VL_TNIL && type != VL_TTABLE && index == vl::GetStackTop(L)) {
    vlLayerTransform* m = &tags->transform;
    m->angle = std::fmod(vl::CheckNumberArg(L, index), 360.0);
    UpdateTransformMatrix(m, width, height);
  }
  return 0;
}

int CmdBox(vlVMState* L) {
  CheckArgs(L, 4, 7, 0, 0);
  const int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  const int32_t w = vl::CheckIntArg(L, 3), h = vl::CheckIntArg(L, 4);
  const uint32_t color = Color(L, 5);
  if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  int32_t corners[4] = {0, 0, 0, 0};
  vlShapeTags tags;
  if (vl::GetTypeAt(L, 6) == VL_TTABLE) {
    if (int status = ReadShapeTags(L, 6, w, h, 0, &tags)) return status;
    int32_t level = 0;
    if (GetTableInt(L, 6, "roundlevel", &level, nullptr))
      for (int32_t& c : corners) c = level;
    const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int i = 0; i < 4; ++i) GetTableInt(L, 6, keys[i], &corners[i], nullptr);
  } else {
    if (!Absent(L, 6)) {
      const int32_t level = vl::CheckIntArg(L, 6);
      for (int32_t& c : corners) c = level;
    }
    if (int status = ReadShapeTags(L, 7, w, h, 0, &tags)) return status;
  }
  for (int32_t& c : corners) c = c < 0 ? 0 : c > 100 ? 100 : c;
  if (gShapeAsPath) {
    const double levels[4] = {double(corners[0]), double(corners[1]), double(corners[2]), double(corners[3])};
    return gShapeAsPath(L, VL_SHAPE_BOX, x, y, color, vl::GetTypeAt(L, 6) == VL_TTABLE ? 6 : 7, w, h, 0, 0, 0,
                        levels);
  }
  return DrawBoxShape(L, 0, GetDrawState(), x, y, w, h, color, corners, &tags, nullptr);
}

int CmdEllipse(vlVMState* L) {
  CheckArgs(L, 4, 6, 0, 0);
  const int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  const int32_t rx = vl::CheckIntArg(L, 3), ry = vl::CheckIntArg(L, 4);
  if (rx < 1 || ry < 1) return ERR_WRONGUSAGE;
  if (rx > kMaxShapeRadius || ry > kMaxShapeRadius) return ERR_BITMAP;
  vlShapeTags tags;
  if (int status = ReadShapeTags(L, 6, 2 * rx + 1, 2 * ry + 1, 0, &tags)) return status;
  if (gShapeAsPath) return gShapeAsPath(L, VL_SHAPE_ELLIPSE, x, y, Color(L, 5), 6, rx, ry, 0, 0, 0, nullptr);
  return DrawEllipseShape(L, 0, GetDrawState(), VL_SHAPE_ELLIPSE, x, y, rx, ry, Color(L, 5), &tags, nullptr);
}

int CmdCircle(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  const int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2), r = vl::CheckIntArg(L, 3);
  if (r < 1) return ERR_WRONGUSAGE;
  if (r > kMaxShapeRadius) return ERR_BITMAP;
  vlShapeTags tags;
  // A table's "rotate" is not read; a number in that place still turns.
  if (int status = ReadShapeTags(L, 5, 2 * r + 1, 2 * r + 1, 8, &tags)) return status;
  if (gShapeAsPath) return gShapeAsPath(L, VL_SHAPE_CIRCLE, x, y, Color(L, 4), 5, r, 0, 0, 0, 0, nullptr);
  return DrawEllipseShape(L, 0, GetDrawState(), VL_SHAPE_CIRCLE, x, y, r, r, Color(L, 4), &tags, nullptr);
}

int CmdArc(vlVMState* L) {
  CheckArgs(L, 6, 9, 0, 0);
  const int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  const int32_t rx = vl::CheckIntArg(L, 3), ry = vl::CheckIntArg(L, 4);
  const int32_t start = vl::CheckIntArg(L, 5), end = vl::CheckIntArg(L, 6);
  if (rx < 1 || ry < 1 || start < 0 || end < 0) return ERR_WRONGUSAGE;
  if (rx > kMaxShapeRadius || ry > kMaxShapeRadius) return ERR_BITMAP;
  uint32_t clockwise = 1;
  vlShapeTags tags;
  if (vl::GetTypeAt(L, 8) == VL_TTABLE) {
    if (int status = ReadShapeTags(L, 8, 2 * rx + 1, 2 * ry + 1, 0, &tags)) return status;
    int32_t cw = 1;
    if (GetTableInt(L, 8, "clockwise", &cw, nullptr)) clockwise = cw ? 1 : 0;
  } else {
    if (!Absent(L, 8)) clockwise = vl::CheckIntArg(L, 8) ? 1 : 0;
    if (int status = ReadShapeTags(L, 9, 2 * rx + 1, 2 * ry + 1, 0, &tags)) return status;
  }
  if (start == end) return 0;
  if (gShapeAsPath)
    return gShapeAsPath(L, VL_SHAPE_ARC, x, y, Color(L, 7), vl::GetTypeAt(L, 8) == VL_TTABLE ? 8 : 9, rx, ry, start,
                        end, clockwise, nullptr);
  return DrawArcShape(L, 0, GetDrawState(), x, y, rx, ry, start, end, clockwise, Color(L, 7), &tags, nullptr);
}

int CmdLine(vlVMState* L) {
  CheckArgs(L, 4, 7, 0, 0);
  const int32_t x1 = vl::CheckIntArg(L, 1), y1 = vl::CheckIntArg(L, 2);
  const int32_t x2 = vl::CheckIntArg(L, 3), y2 = vl::CheckIntArg(L, 4);
  // The box of far-apart end points may not fit 32 bits.
  const auto w = static_cast<int32_t>(std::min<int64_t>(std::abs(int64_t{x2} - x1) + 1, INT32_MAX));
  const auto h = static_cast<int32_t>(std::min<int64_t>(std::abs(int64_t{y2} - y1) + 1, INT32_MAX));
  int32_t thickness = 1;
  vlShapeTags tags;
  if (vl::GetTypeAt(L, 6) == VL_TTABLE) {
    if (int status = ReadShapeTags(L, 6, w, h, 4, &tags)) return status;
    GetTableInt(L, 6, "thickness", &thickness, nullptr);
  } else {
    if (!Absent(L, 6)) thickness = vl::CheckIntArg(L, 6);
    if (int status = ReadShapeTags(L, 7, w, h, 4, &tags)) return status;
  }
  return DrawLineShape(L, 0, GetDrawState(), std::min(x1, x2), std::min(y1, y2), x1, y1, x2, y2, Color(L, 5),
                       thickness, &tags, nullptr);
}

int CmdPolygon(vlVMState* L) {
  CheckArgs(L, 4, 6, 0, 0);
  const int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  vl::CheckTableArg(L, 3);
  const int32_t count = vl::CheckIntArg(L, 4);
  if (count < 2 || count > 999) return ERR_WRONGUSAGE;
  std::vector<double> v;
  if (int status = ReadPolygonTable(L, 3, count, &v)) return status;
  size_t n = v.size() / 2;
  if (v[0] != v[2 * n - 2] || v[1] != v[2 * n - 1]) {
    v.push_back(v[0]);
    v.push_back(v[1]);
    ++n;
  }
  double minX = v[0], minY = v[1];
  double rMinX = std::rint(v[0]), rMinY = std::rint(v[1]), rMaxX = rMinX, rMaxY = rMinY;
  for (size_t i = 0; i < n; ++i) {
    minX = std::min(minX, v[2 * i]);
    minY = std::min(minY, v[2 * i + 1]);
    rMinX = std::min(rMinX, std::rint(v[2 * i]));
    rMaxX = std::max(rMaxX, std::rint(v[2 * i]));
    rMinY = std::min(rMinY, std::rint(v[2 * i + 1]));
    rMaxY = std::max(rMaxY, std::rint(v[2 * i + 1]));
  }
  for (size_t i = 0; i < n; ++i) v[2 * i] -= minX, v[2 * i + 1] -= minY;
  vlShapeTags tags;
  // A polygon wider than any picture cannot be drawn; its place is held
  // within 32 bits (far off the display when it is that far).
  if (!(rMaxX - rMinX < kMaxShapeSide && rMaxY - rMinY < kMaxShapeSide)) return ERR_BITMAP;
  const int32_t w = static_cast<int32_t>(rMaxX - rMinX) + 1, h = static_cast<int32_t>(rMaxY - rMinY) + 1;
  const int32_t px = vl::DoubleToInt32Saturated(x + std::trunc(minX));
  const int32_t py = vl::DoubleToInt32Saturated(y + std::trunc(minY));
  if (int status = ReadShapeTags(L, 6, w, h, 0, &tags)) return status;
  if (gShapeAsPath)
    return gShapeAsPath(L, VL_SHAPE_POLYGON, px, py, Color(L, 5), 6, static_cast<double>(n), 0, 0, 0, 0, v.data());
  return DrawPolygonShape(L, 0, GetDrawState(), px, py,
                          v.data(), static_cast<int32_t>(n), Color(L, 5), &tags, nullptr);
}

int CmdSetFillStyle(vlVMState* L) {
  CheckArgs(L, 1, 6, 0, 0);
  vlDrawState* s = GetDrawState();
  const uint32_t style = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  switch (style) {
    case VL_FILLNONE:
      s->fillStyle = style;
      s->lineWidth = vl::OptIntArg(L, 2, 1);
      break;
    case VL_FILLCOLOR:
      s->fillStyle = style;
      break;
    case VL_FILLGRADIENT: {
      vlGradientDesc g;
      if (int status = ReadGradientArgs(L, 2, 5, 6, &g)) return status;
      s->fillStyle = style;
      s->gradient = g;
      break;
    }
    case VL_FILLTEXTURE:
      s->fillStyle = style;
      GetObjectIDArg(&s->textureBrush, L, 2);
      s->textureX = vl::OptIntArg(L, 3, 0);
      s->textureY = vl::OptIntArg(L, 4, 0);
      break;
    default:
      // Kept until the next normalisation makes it FILLNONE.
      s->fillStyle = style;
      return ERR_WRONGUSAGE;
  }
  NormalizeDrawState(s);
  return 0;
}

int CmdSetFormStyle(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  vlDrawState* s = GetDrawState();
  const uint32_t style = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  const int argc = vl::GetStackTop(L);
  if (style & VL_FORM_NORMAL) {
    s->formStyle = VL_FORM_NORMAL;
  } else if (style == VL_FORM_SHADOW) {
    if (argc >= 2) s->shadowColor = static_cast<uint32_t>(vl::CheckIntArg(L, 2));
    if (argc >= 3) s->shadowSize = vl::CheckIntArg(L, 3);
    if (argc >= 4) s->shadowDirection = static_cast<uint32_t>(vl::CheckIntArg(L, 4));
    s->formStyle |= VL_FORM_SHADOW;
  } else if (style == VL_FORM_EDGE) {
    if (argc == 2 || argc == 3) s->edgeColor = static_cast<uint32_t>(vl::CheckIntArg(L, 2));
    if (argc == 3) s->edgeSize = vl::CheckIntArg(L, 3);
    s->formStyle |= VL_FORM_EDGE;
  } else {
    if (argc > 1) return ERR_TOOMANYARGS;
    s->formStyle |= style;
  }
  NormalizeDrawState(s);
  return 0;
}

int CmdSetLineWidth(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const int32_t width = vl::CheckIntArg(L, 1);
  if (width < 1) return ERR_WRONGUSAGE;
  GetDrawState()->lineWidth = width;
  NormalizeDrawState(GetDrawState());
  return 0;
}

// The point is in the drawable area: the clip region (and its mask) or
// the whole target.
bool Drawable(const vlDrawTarget& t, int32_t x, int32_t y) {
  if (const vlClipRegion* c = t.clip) {
    if (x < c->x || y < c->y || x >= c->x + c->width || y >= c->y + c->height) return false;
    return !c->mask || ReadBitmapPixel(c->mask, x - c->x, y - c->y, 1);
  }
  return x >= 0 && y >= 0 && x < t.width && y < t.height;
}

int CmdPlot(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  const uint32_t color = Color(L, 3);
  vlDrawTarget t;
  if (int status = GetDrawTarget(L, &t)) return status;
  if (t.layers) return ERR_LAYERSUPPORT2;
  x = ResolvePosX(x, 1, 0, 0);
  y = ResolvePosY(y, 1, 0, 0);
  if (!Drawable(t, x, y) || SpriteCoversPoint(t.pic, x, y)) return 0;
  const int32_t a = static_cast<int32_t>(color >> 24);
  const uint32_t rgb = color & 0xFFFFFF;
  auto blended = [&](vlBitmap* b) { return a ? MixColors(ReadBitmapPixel(b, x, y, 0), rgb, 255 - a) : rgb; };
  const bool selection = t.mode == VL_OUTPUT_BRUSH || t.mode == VL_OUTPUT_MASK || t.mode == VL_OUTPUT_ALPHA;
  if (selection) {
    if (t.picture) WriteBitmapPixel(t.picture, x, y, t.alpha ? rgb : blended(t.picture), 0);
    if (t.mask && x < t.mask->width && y < t.mask->height)
      WriteBitmapPixel(t.mask, x, y, static_cast<uint32_t>(t.picture ? 2 : t.maskMode), 1);
    if (t.alpha && !WriteAlphaByte(t.alpha, x, y, static_cast<uint8_t>(t.picture ? 255 - a : t.alphaIntensity)))
      return ERR_LOCKBMAP;
    FinishTargetRect(L, t, x, y, 1, 1);
    return 0;
  }
  if (t.picture) WriteBitmapPixel(t.picture, x, y, blended(t.picture), 0);
  // The window takes the point as the display's picture now holds it.
  if (FinishTargetDirect(L, t, x, y, 1, 1)) PlotDisplayPixel(t.display, x, y, ReadBitmapPixel(t.display->back, x, y, 0));
  return 0;
}

int CmdReadPixel(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  vlDrawTarget t;
  if (int status = GetDrawTarget(L, &t)) return status;
  x = ResolvePosX(x, 1, 0, 0);
  y = ResolvePosY(y, 1, 0, 0);
  if (!Drawable(t, x, y)) return ERR_PIXELRANGE;
  double value = 0;
  switch (t.mode) {
    case VL_OUTPUT_BGPIC:
      value = ReadBitmapPixel(t.pic->curBitmap, x, y, 0) & 0xFFFFFF;
      break;
    case VL_OUTPUT_BRUSH:
      // The adapter's pictures are drawn into, never read back here.
      if (!t.picture || t.display->outputHardware) return ERR_WRONGUSAGE;
      value = ReadBitmapPixel(t.picture, x, y, 0) & 0xFFFFFF;
      break;
    case VL_OUTPUT_DISPLAY:
      // What the window shows: sprites and layers included.
      value = t.display->back ? ReadBitmapPixel(t.display->back, x, y, 0) & 0xFFFFFF : 0;
      break;
    case VL_OUTPUT_MASK:
      if (t.plane) return ERR_WRONGUSAGE;
      value = t.mask ? ReadBitmapPixel(t.mask, x, y, 1) : 1;
      break;
    case VL_OUTPUT_ALPHA:
      if (t.plane) return ERR_WRONGUSAGE;
      value = t.alpha ? ReadAlphaByte(t.alpha, x, y) : 255;
      if (value < 0) return ERR_PIXELRANGE;
      break;
    default:
      break;
  }
  vl::PushNumber(L, value);
  return 1;
}

int CmdCls(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  const uint32_t color = Color(L, 1) & 0xFFFFFF;
  vlDrawTarget t;
  if (int status = GetDrawTarget(L, &t)) return status;
  vlDisplay* d = t.display;
  vlBGPic* pic = t.pic;
  // The adapter keeps the frame being drawn: it clears it, and the
  // pictures are left as they are until the buffering ends.
  if (d->hardwareDoubleBuffer) {
    DisplayDevice(d)->clearBuffer(d, color);
    return 0;
  }
  if (t.mode != VL_OUTPUT_DISPLAY && t.mode != VL_OUTPUT_BGPIC) {
    if (t.picture) FillBitmapRect(t.picture, 0, 0, t.width, t.height, color);
    if (t.alpha) FillAlphaRect(t.alpha, 0, 0, t.width, t.height, static_cast<uint8_t>(t.picture ? 255 : t.alphaIntensity));
    if (t.mask) FillMaskRect(t.mask, 0, 0, t.width, t.height, t.picture ? 2 : t.maskMode);
    if (d->doubleBuffer && !d->hardwareDoubleBuffer) InvalidateArea(0, 0, t.width, t.height);
    return 0;
  }
  if (t.layers) {
    for (vlNode* n = pic->layers.head; n->succ; n = n->succ)
      if (FindAsyncDrawOwner(n, 0)) return ERR_REMADLAYER;
    if (t.mode == VL_OUTPUT_BGPIC)
      for (vlNode* n = pic->layers.head; n->succ; n = n->succ) {
        auto* layer = reinterpret_cast<vlLayer*>(n);
        if (!layer->hidden && !layer->drawnDuringSelection)
          InvalidateLayer(L, &d->dirty, layer, layer->geometry[2]);
      }
    FreeBGPicLayers(L, pic, 1, 0);
  } else {
    FreeSpriteNodes(L, pic);
    // Cls on a display shows the background picture again: the front copy
    // goes back to it, and the refresh below composes the back buffer.
    for (vlBitmap* b : {d->front, d->back})
      if (b && pic->dispBitmap)
        BltBitmap(pic->dispBitmap, 0, 0, b, 0, 0, std::min(pic->dispWidth, b->width),
                  std::min(pic->dispHeight, b->height));
  }
  if (t.mode == VL_OUTPUT_DISPLAY) RefreshDisplayObject(L, d, 0);
  return 0;
}

const vlCommand kDrawCommands[] = {
    {"Box", CmdBox},
    {"Plot", CmdPlot},
    {"Ellipse", CmdEllipse},
    {"Line", CmdLine},
    {"Circle", CmdCircle},
    {"Polygon", CmdPolygon},
    {"SetFillStyle", CmdSetFillStyle},
    {"ReadPixel", CmdReadPixel},
    {"Cls", CmdCls},
    {"Arc", CmdArc},
    {"SetFormStyle", CmdSetFormStyle},
    {"SetLineWidth", CmdSetLineWidth},
    {nullptr, nullptr},
};

const vlConstant kDrawConstants[] = {
    {"BLACK", nullptr, 0x000000},   {"MAROON", nullptr, 0x800000}, {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000},   {"NAVY", nullptr, 0x000080},   {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080},    {"GRAY", nullptr, 0x808080},   {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000},     {"LIME", nullptr, 0x00FF00},   {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF},    {"FUCHSIA", nullptr, 0xFF00FF}, {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},   {"FILLNONE", nullptr, 0},      {"FILLCOLOR", nullptr, 1},
    {"FILLGRADIENT", nullptr, 2},   {"FILLTEXTURE", nullptr, 3},   {"BOX", nullptr, 14},
    {"LINE", nullptr, 17},          {"CIRCLE", nullptr, 15},       {"PLOT", nullptr, 18},
    {"ELLIPSE", nullptr, 16},       {"POLYGON", nullptr, 27},      {"ARC", nullptr, 31},
    {nullptr, nullptr, 0},
};

}  // namespace

int ReadPolygonTable(vlVMState* L, int index, int32_t count, std::vector<double>* out) {
  SetErrorArgument("polygon");
  out->clear();
  const int32_t limit = count ? count : 1000;
  for (int32_t i = 0; i < limit; ++i) {
    double xy[2];
    for (int k = 0; k < 2; ++k) {
      vl::RawGetTableIndex(L, index, 2 * i + k);
      const int type = vl::GetTypeAt(L, -1);
      if (type != VL_TNUMBER) {
        vl::SetStackTop(L, -2);
        if (!count && (type == VL_TNIL || type == -1) && k == 0) return 0;
        return ERR_NUMTABLEARG;
      }
      xy[k] = vl::ToNumberAt(L, -1);
      vl::SetStackTop(L, -2);
    }
    if (!count && i == 999) return ERR_INTERNAL;
    out->push_back(xy[0]);
    out->push_back(xy[1]);
  }
  return 0;
}


int OpenDrawLib(vlVMState* L) {
  ResetDrawState(GetDrawState());
  if (int status = AllocDrawBuffers()) return status;
  InstallShapeLayerSources();
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kDrawCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kDrawCommands, "draw")) return status;
  vl::RegisterConstants(L, kDrawConstants, 0);
  return 0;
}

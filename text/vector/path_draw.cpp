// Drawing paths: measure through the current engine, place, fill a picture,
// render the coverage as its alpha, add edge and shadow, then composite onto
// the drawing target, add a layer, or hand the pictures back.
#include "text/vector/path_draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/layers/layers.h"
#include "display/layer_hooks.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/coverage_runs.h"
#include "graphics/display_blit.h"
#include "graphics/geometry.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/draw_target.h"
#include "objects/sprites/sprite.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "text/picture_output.h"
#include "text/text_layers.h"
#include "text/vector/path_layers.h"
#include "text/vector/vector_engine.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

void GetPathDrawStyle(vlPathDrawStyle* out) {
  const vlDrawState* d = GetDrawState();
  *out = {};
  out->fillStyle = d->fillStyle;
  out->formStyle = d->formStyle;
  out->lineWidth = std::max(d->lineWidth, 1);
  out->edgeSize = d->edgeSize;
  out->edgeColor = d->edgeColor;
  out->shadowSize = d->shadowSize;
  out->shadowDirection = static_cast<int32_t>(d->shadowDirection);
  out->shadowColor = d->shadowColor;
  out->gradient = d->gradient;
  out->textureBrush = d->textureBrush;
  out->textureX = d->textureX;
  out->textureY = d->textureY;
}

void ClampCornerLevels(int32_t levels[4]) {
  for (int i = 0; i < 4; ++i) levels[i] = std::clamp(levels[i], 0, 100);
}

namespace {

constexpr int kDirections[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};

// More pixels than any picture can hold (a terabyte at four bytes a
// pixel): such a buffer is refused as out of memory without asking for it.
constexpr uint64_t kMaxPixels = uint64_t{1} << 38;

// An 8-bit plane the engine renders into, w x h, for the part of the
// path's box that starts at originX, originY whole pixels into it: its own
// bytes, or rows lent by an alpha plane.
struct Coverage {
  int32_t originX = 0, originY = 0;
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bytes;
  uint8_t* data = nullptr;
  int32_t rowBytes = 0;
  bool Make(int32_t x, int32_t y, int32_t w, int32_t h) {
    originX = x;
    originY = y;
    width = std::max(w, 0);
    height = std::max(h, 0);
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels) return false;
    try {
      bytes.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    } catch (...) {
      return false;
    }
    data = bytes.data();
    rowBytes = width;
    return true;
  }
  // Cleared rows of rowLength bytes.
  void Borrow(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* rows, int32_t rowLength) {
    originX = x;
    originY = y;
    width = w;
    height = h;
    data = rows;
    rowBytes = rowLength;
  }
  const uint8_t* Row(int32_t y) const { return data + static_cast<size_t>(y) * rowBytes; }
  uint8_t At(int32_t x, int32_t y) const {
    x -= originX;
    y -= originY;
    return x < 0 || y < 0 || x >= width || y >= height ? 0 : Row(y)[x];
  }
};

// The coverage of c along n pixels of row y from column x0 (in the
// coordinates At takes), times opacity: 0 outside it.
void CoverageRow(const Coverage& c, int32_t x0, int32_t y, int32_t n, int32_t opacity, uint8_t* out) {
  std::memset(out, 0, static_cast<size_t>(n));
  y -= c.originY;
  if (y < 0 || y >= c.height) return;
  const int64_t from = std::max<int64_t>(x0, c.originX);
  const int64_t to = std::min<int64_t>(int64_t{x0} + n, int64_t{c.originX} + c.width);
  if (from < to)
    ScaleAlphaBytes(c.Row(y) + (from - c.originX), out + (from - x0), static_cast<int32_t>(to - from), opacity);
}

// Renders the commands' coverage (filled or stroked at width) into c; the
// outline's box starts in the buffer's first pixel (at its place inside it).
bool RenderInto(vlPluginInfo* engine, const vlPathShape* s, uint32_t fill, uint32_t width,
                const vlPathTransform* t, Coverage* c) {
  vlLineStateCopy ls;
  CopyLineState(&ls, (s->style.formStyle & VL_FORM_ANTIALIAS) ? 1 : 0);
  ls.join = s->line.join;
  ls.cap = s->line.cap;
  ls.fillRule = s->line.fillRule;
  vlPathDrawRequest r{};
  r.commands = s->commands;
  r.lineState = &ls;
  r.fill = fill;
  r.lineWidth = width;
  r.coverage = c->data;
  r.rowBytes = c->rowBytes;
  r.width = c->width;
  r.height = c->height;
  r.transform = t;
  if (c->width == 0 || c->height == 0) return true;  // no part of it is wanted
  // Only the built-in engine draws a window of the box (see DrawPathObject).
  if (c->originX || c->originY) return DrawPathFrom(&r, c->originX, c->originY) != 0;
  return EngineDrawPath(engine, &r) != 0;
}

uint32_t Opacity(uint32_t color) { return 255 - (color >> 24); }

// Gradient or texture pixels (ARGB) of the part of the fill's box (fw x fh)
// that starts at x0, y0 and is w x h, the pattern laid over the whole box;
// empty without a pattern fill. 0 or an error code.
int RenderFillPattern(vlVMState* L, const vlPathDrawStyle& st, int32_t fw, int32_t fh, int32_t x0, int32_t y0,
                      int32_t w, int32_t h, std::vector<uint32_t>* out) {
  out->clear();
  if (st.fillStyle != VL_FILLGRADIENT && st.fillStyle != VL_FILLTEXTURE) return 0;
  if (w <= 0 || h <= 0) return 0;
  vlBitmap* pic = NewBitmap(w, h, 0, nullptr);
  if (!pic) return ERR_BITMAP;
  int status;
  if (st.fillStyle == VL_FILLGRADIENT) {
    status = DrawGradient(pic, -x0, -y0, fw, fh, &st.gradient);
  } else {
    vlDrawState d{};
    d.textureBrush = st.textureBrush;
    d.textureX = st.textureX;
    d.textureY = st.textureY;
    bool empty = false;
    status = FillWithTextureBrush(L, d, nullptr, 0, pic, 0, 0, w, h, &empty, x0, y0);  // unscaled: no smoothing
  }
  uint32_t* argb = status ? nullptr : ReadBitmapARGB(pic, 0, 0, w, h, 0);
  DeleteBitmap(pic);
  if (status) return status;
  if (!argb) return ERR_MEM;
  try {
    out->assign(argb, argb + static_cast<size_t>(w) * h);
  } catch (...) {
    status = ERR_MEM;
  }
  delete[] argb;
  return status;
}

int32_t RoundSize(double v) { return vl::DoubleToInt32(std::floor(v + 0.5)); }

// Whole pixels from the one holding lo to the one holding hi's last part.
int32_t PixelSpan(double lo, double hi) { return vl::DoubleToInt32(std::ceil(hi) - std::floor(lo)); }

bool IsIdentity(const double* m) { return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1; }

// A plain fill's picture whose first row alone is written: the other rows
// are that row, made only when something reads them (a blit that blends
// the first row in for every row does not).
struct OneColourPicture {
  vlBitmap* picture;
  const uint32_t* row;  // ARGB
  int32_t width, height;
  bool made;
  static void Make(void* context, int32_t, int32_t, int32_t, int32_t) {
    auto* p = static_cast<OneColourPicture*>(context);
    if (p->made) return;
    p->made = true;
    if (p->height > 1) WriteBitmapARGB(p->row, 0, p->picture, 0, 1, p->width, p->height - 1);
  }
  static bool Put(void*, vlBitmap*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) { return false; }
  static bool PutAlpha(void* context, vlBitmap* to, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                       int32_t h, vlBitmap* alpha) {
    auto* p = static_cast<OneColourPicture*>(context);
    return !p->made && BltFirstRowAlpha(p->picture, sx, sy, to, dx, dy, w, h, alpha);
  }
};

// A plain opaque fill without anti-aliasing on a display whose window
// shows its picture one to one: drawn into the picture, and sent to the
// window as the rectangles of its runs of pixels rather than as a picture
// of its box (which costs the server a copy of every pixel of the box).
// picture holds the colour in its first row; plane is the coverage. False,
// with nothing drawn, where the drawing must go the way of any picture.
bool DrawAsWindowFills(vlVMState* L, vlBitmap* picture, vlBitmap* plane, int32_t x, int32_t y, int32_t w, int32_t h,
                       uint32_t color) {
  vlDrawTarget t;
  if (GetDrawTarget(L, &t) || t.mode != VL_OUTPUT_DISPLAY || t.layers || !t.picture || !t.pic) return false;
  vlDisplay* d = t.display;
  if (!d || !d->back || t.picture != d->front || d->doubleBuffer || d->scaleWidth || d->scaleX != 1.0 ||
      d->scaleY != 1.0 || vlRefreshSuspended || t.pic->curAlpha || gLayerHooks.videoOnDisplay(d))
    return false;
  if (t.clip && t.clip->mask) return false;
  int32_t sx = 0, sy = 0, dx = x, dy = y, cw = w, ch = h;
  ClipBlitRects(t.clip, &sx, &sy, &dx, &dy, &cw, &ch, w, h, t.width, t.height, t.clip != nullptr);
  if (cw < 1 || ch < 1) return true;  // nothing of it lands
  // The window's fills would paint over a sprite.
  if (OverlapsSprite(t.pic, dx, dy, cw, ch)) return false;
  std::vector<int32_t> rects;
  {
    vlLockedPixels coverage(plane, VL_LOCK_READ);
    if (!coverage.ok()) return false;
    // Past one rectangle for every eight pixels the picture is cheaper.
    const size_t most = std::max<size_t>(64, static_cast<size_t>(cw) * ch / 8);
    try {
      if (!CoverageRunsAsRects(coverage.Row(sy) + sx, coverage.access.rowLength, cw, ch, dx, dy, most, &rects))
        return false;
    } catch (...) {
      return false;
    }
  }
  // The runs are the coverage: stored as rectangles, not blended.
  const int32_t count = static_cast<int32_t>(rects.size() / 4);
  const bool stored = FillRectsFromFirstRow(picture, sx, t.picture, rects.data(), count, plane);
  if (!stored && !BltFirstRowAlpha(picture, sx, sy, t.picture, dx, dy, cw, ch, plane)) return false;
  // Without layers, and no sprite over the box, the back buffer holds the
  // picture there: it takes the same rectangles, not a copy of the box.
  const bool backTook = stored && IsListEmpty(&t.pic->layers) &&
                        FillRectsFromFirstRow(picture, sx, d->back, rects.data(), count, plane);
  // False from the compose: the window took the back buffer's rectangle.
  if (!backTook && !FinishTargetDirect(L, t, dx, dy, cw, ch)) return true;
  const int32_t box[4] = {dx, dy, cw, ch};
  if (!FillDisplayRects(d, rects.data(), count, color, box)) UpdateDisplayRect(d->back, dx, dy, d, dx, dy, cw, ch, 0);
  return true;
}

// A layer or the current drawing target takes the pictures. oneColour:
// the picture holds its first row only so far.
int Deliver(vlVMState* L, const vlPathShape& shape, const double* matrix, const vlLayerOptions* form, int32_t x,
            int32_t y, vlBitmap* picture, vlBitmap* alpha, int32_t w, int32_t h, OneColourPicture* oneColour) {
  if (oneColour && (TargetTakesLayers() || (form && LayerHasFilters(form->filters))))
    OneColourPicture::Make(oneColour, 0, 0, w, h);
  if (TargetTakesLayers()) {
    // The layer keeps the path to draw it again at another scale.
    vlLayerGeometry* g = NewPathLayerGeometry(shape, matrix);
    if (!g) {
      DeleteBitmap(picture);
      DeleteAlphaPlane(alpha);
      return ERR_MEM;
    }
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    // The layer takes the tags' options; AddLayer clamps the insert
    // position in place.
    vlLayerOptions options;
    if (form) options = *form;
    if (int status = AddLayer(L, VL_LAYER_VECTORPATH, nullptr, x, y, w, h, nullptr, form ? &options : nullptr,
                              picture, nullptr, alpha, g, -1, VL_ADDLAYER_DISPLAYSCALED, &layer))
      return status;
    return 0;
  }
  vlBitmap* mask = nullptr;
  if (int status = ApplyDrawTagsEffects(form, picture, &mask, &alpha, w, h)) {
    DeleteBitmap(picture);
    DeleteAlphaPlane(alpha);
    return status;
  }
  const vlMadeSource made{OneColourPicture::Put, OneColourPicture::Make, oneColour, OneColourPicture::PutAlpha};
  BlitPictureToTarget(L, picture, nullptr, alpha, x, y, w, h, oneColour ? &made : nullptr);
  DeleteBitmap(picture);
  DeleteAlphaPlane(alpha);
  return 0;
}

}  // namespace

int DrawPathObject(vlVMState* L, int32_t x, int32_t y, vlPathShape* s, const vlDrawTagPlacement* tags, uint32_t,
                   vlPathPictures* out, const vlLayerOptions* form) {
  if (!s->commands || *reinterpret_cast<const uint32_t*>(s->commands) == 0) return kErrEmptyPath;
  vlPluginInfo* engine = s->engine ? s->engine : GetVectorEngine();
  if (!engine) return MissingVectorEngine();
  if (int status = ResolvePathFonts(s->commands, engine)) return status;

  const vlPathDrawStyle& st = s->style;
  const bool fill = st.fillStyle != 0;
  const bool edge = fill && (st.formStyle & VL_FORM_EDGE) && st.edgeSize > 0;
  const bool shadow = fill && (st.formStyle & VL_FORM_SHADOW) && st.shadowSize > 0;
  const uint32_t width = static_cast<uint32_t>(std::max(st.lineWidth, 1));
  const uint32_t edgeWidth = edge ? static_cast<uint32_t>(st.edgeSize) * 2 : 0;
  // An engine of the older layout takes no transform: its path is
  // measured and drawn as it is, so the buffer fits what it draws.
  double matrix[4] = {1, 0, 0, 1};
  if (tags && EngineTakesTransform(engine)) std::memcpy(matrix, tags->matrix, sizeof matrix);
  const vlPathTransform t = {matrix[0], matrix[1], matrix[2], matrix[3]};

  // The shape's box, and with an edge the stroke's box around it.
  double box[4], outer[4];
  // The built-in engine tells a path it could not build from one with
  // nothing to draw.
  auto unmade = [&](int otherwise) {
    if (QuitSignal()) return static_cast<int>(ERR_USERABORT);
    const int why = IsBuiltinVectorEngine(engine) ? BuiltinPathBuildError() : 0;
    return why ? why : otherwise;
  };
  if (!MeasureCommands(engine, s->commands, fill, width, 0, 0, matrix, box)) return unmade(kErrEmptyPath);
  std::memcpy(outer, box, sizeof box);
  if (edge && MeasureCommands(engine, s->commands, 0, edgeWidth, 0, 0, matrix, outer)) {
    outer[0] = std::min(outer[0], box[0]);
    outer[1] = std::min(outer[1], box[1]);
    outer[2] = std::max(outer[2], box[2]);
    outer[3] = std::max(outer[3], box[3]);
  }
  if (RoundSize(box[2] - box[0]) <= 0 || RoundSize(box[3] - box[1]) <= 0) return kErrEmptyPath;
  // Pictures cover the whole pixels the boxes touch, so a path off the
  // pixel grid keeps its place (the engine renders from the whole pixel).
  const int32_t w = PixelSpan(outer[0], outer[2]), h = PixelSpan(outer[1], outer[3]);
  const int32_t fw = PixelSpan(box[0], box[2]), fh = PixelSpan(box[1], box[3]);
  if (w <= 0 || h <= 0 || fw <= 0 || fh <= 0) return kErrEmptyPath;

  // Shadow margins and offset.
  int32_t dx = 0, dy = 0;
  if (shadow) {
    const int32_t dir = st.shadowDirection >= 0 && st.shadowDirection < 8 ? st.shadowDirection : 3;
    dx = kDirections[dir][0] * st.shadowSize;
    dy = kDirections[dir][1] * st.shadowSize;
  }
  const int32_t ox = std::max(0, -dx), oy = std::max(0, -dy);  // shape origin in the picture
  const int32_t pw = w + std::abs(dx), ph = h + std::abs(dy);

  // Placement: plain coordinates offset the path's own; position constants
  // and anchors place its box.
  const double ax = tags ? tags->anchorX : 0, ay = tags ? tags->anchorY : 0;
  const int32_t rx = ResolvePosX(x, pw, 0, ax), ry = ResolvePosY(y, ph, 0, ay);
  int32_t left = rx == x ? x + vl::DoubleToInt32(std::floor(outer[0])) - static_cast<int32_t>(ax * pw) : rx;
  int32_t top = ry == y ? y + vl::DoubleToInt32(std::floor(outer[1])) - static_cast<int32_t>(ay * ph) : ry;
  left -= ox;
  top -= oy;
  s->x = left;
  s->y = top;
  s->width = pw;
  s->height = ph;

  // The part of the picture that is made: all of it for a layer, which may
  // be moved and scaled later; for the drawing target only what lands on
  // it, so that a path reaching far beyond a small target costs what the
  // target shows, not the path's whole box. A gradient or texture is made
  // for that part too, laid out as over the whole box.
  int32_t wx0 = 0, wy0 = 0, wx1 = pw, wy1 = ph;
  if (!out && !TargetTakesLayers() && IsBuiltinVectorEngine(engine)) {
    const int64_t tw = vlCurrentOutput ? vlCurrentOutput->width : 0, th = vlCurrentOutput ? vlCurrentOutput->height : 0;
    wx0 = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{left}, 0, pw));
    wx1 = static_cast<int32_t>(std::clamp<int64_t>(tw - left, 0, pw));
    wy0 = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{top}, 0, ph));
    wy1 = static_cast<int32_t>(std::clamp<int64_t>(th - top, 0, ph));
    if (wx1 <= wx0 || wy1 <= wy0) return 0;  // nothing of it lands on the target
  }
  const int32_t vw = wx1 - wx0, vh = wy1 - wy0;
  // Too large a picture is out of memory before any plane is asked for.
  if (static_cast<uint64_t>(vw) * static_cast<uint64_t>(vh) > kMaxPixels) return ERR_MEM;
  // The coverage the window reads, in the outer box: the shape under each
  // pixel and, with a shadow, the shape the shadow offset away.
  const int32_t cx0 = std::max(0, wx0 - ox - std::max(0, dx)), cx1 = std::min(w, wx1 - ox - std::min(0, dx));
  const int32_t cy0 = std::max(0, wy0 - oy - std::max(0, dy)), cy1 = std::min(h, wy1 - oy - std::min(0, dy));
  // The fill's place inside the outer box.
  const int32_t sx = vl::DoubleToInt32(std::floor(box[0]) - std::floor(outer[0]));
  const int32_t sy = vl::DoubleToInt32(std::floor(box[1]) - std::floor(outer[1]));

  Coverage shape, ring;
  const int32_t fx0 = std::clamp(cx0 - sx, 0, fw), fx1 = std::clamp(cx1 - sx, 0, fw);
  const int32_t fy0 = std::clamp(cy0 - sy, 0, fh), fy1 = std::clamp(cy1 - sy, 0, fh);
  const bool plain = !edge && !shadow;
  // With nothing to lay under or over it and no opacity to apply, the
  // shape's coverage is the picture's alpha: the built-in engine renders it
  // there when the two windows are the same (a plug-in gets a buffer whose
  // rows are as wide as the shape, as it always did).
  const bool direct = plain && Opacity(s->color) == 255 && IsBuiltinVectorEngine(engine) && sx + fx0 == wx0 &&
                      sy + fy0 == wy0 && fx1 - fx0 == vw && fy1 - fy0 == vh;
  vlBitmap* plane = nullptr;
  std::optional<vlLockedPixels> planePixels;  // through the lock: a display adapter may hold the plane
  auto lockPlane = [&] {
    plane = NewAlphaPlane(vw, vh, 1, nullptr, 0);
    if (plane) planePixels.emplace(plane, 0);
    return plane && planePixels->ok();
  };
  auto fail = [&](int status) {
    planePixels.reset();
    DeleteAlphaPlane(plane);
    return status;
  };
  if (direct) {
    if (!lockPlane()) return fail(ERR_ALLOCALPHA);
    shape.Borrow(fx0, fy0, vw, vh, planePixels->Row(0), planePixels->access.rowLength);
  } else if (!shape.Make(fx0, fy0, fx1 - fx0, fy1 - fy0)) {
    return ERR_MEM;
  }
  if (!RenderInto(engine, s, fill, width, IsIdentity(matrix) ? nullptr : &t, &shape))
    return fail(unmade(kErrDrawPath));
  if (edge) {
    if (!ring.Make(cx0, cy0, cx1 - cx0, cy1 - cy0)) return ERR_MEM;
    if (!RenderInto(engine, s, 0, edgeWidth, IsIdentity(matrix) ? nullptr : &t, &ring)) return unmade(kErrDrawPath);
  }
  // The pattern is read only where the shape covers, so it spans the
  // shape's window.
  std::vector<uint32_t> pattern;
  const int32_t pw0 = shape.width;
  if (fill)
    if (int status = RenderFillPattern(L, st, fw, fh, fx0, fy0, pw0, shape.height, &pattern)) return fail(status);

  // Per pixel: the shape's coverage (edge under fill), then the shadow,
  // written straight into the alpha plane. Without edge or shadow the
  // picture is the fill colour over nothing: the colour itself wherever
  // the pattern does not show (one row written to every row).
  const uint32_t fillPixel = 0xFF000000u | (s->color & 0xFFFFFF);
  const bool oneRow = plain && pattern.empty();  // the same row of colour for every row
  std::vector<uint32_t> argb;
  struct {
    std::vector<uint8_t> bytes;   // fill, edge and shadow coverage of a row
    std::vector<uint32_t> words;  // fill, edge, shadow and spare colours of a row
  } rows;
  try {
    argb.assign(oneRow ? static_cast<size_t>(vw) : static_cast<size_t>(vw) * vh, plain ? fillPixel : 0);
    if (!plain) {
      rows.bytes.resize(static_cast<size_t>(vw) * 3);
      rows.words.resize(static_cast<size_t>(vw) * 4);
    }
  } catch (...) {
    return fail(ERR_MEM);
  }
  vlBitmap* picture = NewBitmap(vw, vh, 0, nullptr);
  if (!picture) return fail(ERR_BITMAP);
  if (!direct && !lockPlane()) {
    DeleteBitmap(picture);
    return fail(ERR_ALLOCALPHA);
  }
  const vlLockedPixels& px = *planePixels;
  if (plain) {
    // CoverOver with nothing under it: the fill's colour, and its coverage
    // times the opacity.
    const int32_t x0 = std::max(wx0, sx + fx0), x1 = std::min(wx1, sx + fx0 + shape.width);
    const int32_t y0 = std::max(wy0, sy + fy0), y1 = std::min(wy1, sy + fy0 + shape.height);
    const int32_t opacity = static_cast<int32_t>(Opacity(s->color));
    for (int32_t py = y0; x0 < x1 && py < y1; ++py) {
      const size_t from = static_cast<size_t>(py - sy - fy0) * shape.width + (x0 - sx - fx0);
      uint8_t* a = px.Row(py - wy0) + (x0 - wx0);
      if (!direct) ScaleAlphaBytes(shape.Row(py - sy - fy0) + (x0 - sx - fx0), a, x1 - x0, opacity);
      if (pattern.empty()) continue;
      const uint32_t* fillRow = &pattern[from];
      uint32_t* c = &argb[static_cast<size_t>(py - wy0) * vw + (x0 - wx0)];
      for (int32_t i = 0; i < x1 - x0; ++i)
        if (a[i]) c[i] = 0xFF000000u | (fillRow[i] & 0xFFFFFF);
    }
  }
  if (!plain) {
    // The fill over the edge ring, and that over the shadow (the same
    // shape moved), by the cover rule a row at a time.
    const int32_t opFill = static_cast<int32_t>(Opacity(s->color));
    uint8_t* f = rows.bytes.data();
    uint8_t* e = f + vw;
    uint8_t* under = e + vw;
    uint32_t* fillRGB = rows.words.data();
    uint32_t* edgeRGB = fillRGB + vw;
    uint32_t* shadowRGB = edgeRGB + vw;
    uint32_t* spare = shadowRGB + vw;
    std::fill(fillRGB, fillRGB + vw, s->color);
    std::fill(edgeRGB, edgeRGB + vw, st.edgeColor);
    std::fill(shadowRGB, shadowRGB + vw, st.shadowColor);
    std::fill(e, e + vw, 0);
    // Fill over edge at row y of the outer box from column x0, into c and a.
    auto layered = [&](int32_t x0, int32_t y, uint32_t* c, uint8_t* a) {
      CoverageRow(shape, x0 - sx, y - sy, vw, opFill, f);
      if (edge) CoverageRow(ring, x0, y, vw, static_cast<int32_t>(Opacity(st.edgeColor)), e);
      if (!pattern.empty()) {
        for (int32_t i = 0; i < vw; ++i)
          fillRGB[i] = f[i] ? pattern[static_cast<size_t>(y - sy - fy0) * pw0 + (x0 + i - sx - fx0)] : s->color;
      }
      CoverOverRow(fillRGB, f, edgeRGB, e, c, a, vw);
    };
    for (int32_t py = wy0; py < wy1; ++py) {
      uint32_t* c = &argb[static_cast<size_t>(py - wy0) * vw];
      uint8_t* a = px.Row(py - wy0);
      layered(wx0 - ox, py - oy, c, a);
      if (shadow) {
        layered(wx0 - ox - dx, py - oy - dy, spare, under);
        ScaleAlphaBytes(under, under, vw, static_cast<int32_t>(Opacity(st.shadowColor)));
        CoverOverRow(c, a, shadowRGB, under, c, a, vw);
      }
      for (int32_t i = 0; i < vw; ++i) c[i] |= 0xFF000000u;
    }
  }
  planePixels.reset();
  // A plain fill blitted onto the target off screen needs its other rows
  // only if the blit reads them.
  const bool firstRowOnly = oneRow && !out && vlCurrentOutput && CurrentDisplay() &&
                            CurrentDisplay()->outputType != VL_OUTPUT_DISPLAY;
  // On the window itself when it can take the runs: the colour's first row
  // is all the blend reads.
  const bool windowFills = oneRow && direct && !out && !(st.formStyle & VL_FORM_ANTIALIAS) && vlCurrentOutput &&
                           CurrentDisplay() && CurrentDisplay()->outputType == VL_OUTPUT_DISPLAY &&
                           !TargetTakesLayers() && (!form || (!LayerHasFilters(form->filters) && !form->transparency));
  WriteBitmapARGB(argb.data(), oneRow ? 0 : vw * 4, picture, 0, 0, vw, firstRowOnly || windowFills ? 1 : vh);
  if (out) {
    *out = {picture, plane, left, top, pw, ph};
    return 0;
  }
  OneColourPicture oneColour{picture, argb.data(), vw, vh, false};
  if (windowFills) {
    const bool drawn = DrawAsWindowFills(L, picture, plane, left + wx0, top + wy0, vw, vh, fillPixel);
    if (drawn) {
      DeleteBitmap(picture);
      DeleteAlphaPlane(plane);
      return 0;
    }
    OneColourPicture::Make(&oneColour, 0, 0, vw, vh);
  }
  return Deliver(L, *s, matrix, form, left + wx0, top + wy0, picture, plane, vw, vh,
                 firstRowOnly ? &oneColour : nullptr);
}

namespace {

// The draw tags of a path drawing at index (0: none) over the defaults
// SetDrawTagsDefault keeps: the placement, with the scale of the table or
// the defaults unless the table fixes a matrix, and the layer options.
// angle: a number there as the last argument is a rotation, as the shape
// commands take it.
int ReadPathTags(vlVMState* L, int index, bool angle, vlDrawTagPlacement* tags, vlDrawTags* form) {
  const int type = index ? vl::GetTypeAt(L, index) : VL_TNONE;
  const bool turned = angle && type == VL_TNUMBER && index == vl::GetStackTop(L);
  *tags = {{1, 0, 0, 1}, 0, 0};
  if (index && !turned)
    if (int status = ReadDrawTagPlacement(L, index, tags)) return status;
  vlLayerTransform t;
  if (int status = ParseDrawTags(L, index, 0, 0, 0, 0, 0, &t, form, VL_TAGS_INIT | VL_TAGS_NOSIZE | VL_TAGS_NOROTATE))
    return status;
  tags->anchorX = t.anchorX;
  tags->anchorY = t.anchorY;
  if (turned)
    BuildTransformMatrix(&t, 0, 0, 0, 0, t.scaleX, t.scaleY, std::fmod(vl::CheckNumberArg(L, index), 360.0));
  if (!t.fixedMatrix || turned) LayerMatrixColumns(&t, tags->matrix);
  return 0;
}

void MakeShape(vlPath* path, uint32_t color, vlPathShape* s) {
  *s = {};
  s->commands = path->buffer;
  s->capacity = path->capacity;
  s->line = *GetLineState();
  GetPathDrawStyle(&s->style);
  s->color = color;
  s->engine = GetVectorEngine();
  s->path = {path->node.idNumber, path->node.idHandle};
}

}  // namespace

int CmdDrawPath(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  const int32_t x = vl::CheckIntArg(L, 2), y = vl::CheckIntArg(L, 3);
  const uint32_t color = vl::DoubleToUInt32Bits(vl::OptNumberArg(L, 4, 0));
  vlDrawTagPlacement tags;
  vlDrawTags form;
  if (int status = ReadPathTags(L, 5, false, &tags, &form)) return status;
  vlPath* path;
  if (int status = GetPathByID(id, &path)) return status;
  vlPathShape shape;
  MakeShape(path, color, &shape);
  return DrawPathObject(L, x, y, &shape, &tags, 0, nullptr, &form.form);
}

int DrawShapeAsPath(vlVMState* L, int32_t kind, int32_t x, int32_t y, uint32_t color, int tagIndex, double a,
                    double b, double c, double d, uint32_t e, const double* array) {
  vlPath* path = AddPath(nullptr);
  if (!path) return ERR_MEM;
  const vlObjectId id = {0, path};
  auto U = [](uint32_t v) { return vlPathArg{VL_PATHARG_U32, v, 0, nullptr, nullptr}; };
  auto F = [](double v) { return vlPathArg{VL_PATHARG_F64, 0, v, nullptr, nullptr}; };
  int status = 0;
  switch (kind) {
    case 14: {
      const vlPathArg args[8] = {F(0), F(0), F(a), F(b), U(array ? static_cast<uint32_t>(array[0]) : 0),
                                 U(array ? static_cast<uint32_t>(array[1]) : 0),
                                 U(array ? static_cast<uint32_t>(array[2]) : 0),
                                 U(array ? static_cast<uint32_t>(array[3]) : 0)};
      status = AppendPathCommand(id, VL_PATH_BOX, 8, args);
      break;
    }
    case 15:
    case 16: {
      const double ry = kind == 15 ? a : b;
      const vlPathArg args[7] = {F(a), F(ry), F(a), F(ry), F(0), F(360), U(1)};
      status = AppendPathCommand(id, VL_PATH_ARC, 7, args);
      break;
    }
    case 27: {
      const int32_t n = vl::DoubleToInt32(a);
      for (int32_t i = 0; i < n && array && !status; ++i) {
        const vlPathArg args[3] = {U(0), F(array[2 * i]), F(array[2 * i + 1])};
        status = AppendPathCommand(id, i ? VL_PATH_LINE : VL_PATH_MOVE, 3, args);
      }
      break;
    }
    case 31: {
      const vlPathArg move[3] = {U(0), F(a), F(b)};
      status = AppendPathCommand(id, VL_PATH_MOVE, 3, move);
      const vlPathArg args[7] = {F(a), F(b), F(a), F(b), F(c), F(d), U(e)};
      if (!status) status = AppendPathCommand(id, VL_PATH_ARC, 7, args);
      break;
    }
    default:
      break;
  }
  if (!status) status = AppendPathCommand(id, VL_PATH_CLOSE, 0, nullptr);
  if (!status) {
    vlDrawTagPlacement tags;
    vlDrawTags form;
    status = ReadPathTags(L, tagIndex, true, &tags, &form);
    vlPathShape shape;
    MakeShape(path, color, &shape);
    if (!status) status = DrawPathObject(L, x, y, &shape, &tags, 0, nullptr, &form.form);
  }
  FreePathRecord(L, path);
  return status;
}

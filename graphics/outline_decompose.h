// One contour of an FT_Outline walked the way FT_Outline_Decompose walks
// it, for the rasterisers that copy FreeType's: a first conic control
// starts the contour at the last point (when that is on the curve) or
// midway to it, two conic controls in a row imply an on-point midway
// between them, a cubic takes two controls, and any tag but on-point and
// conic is taken for a cubic control. Midpoints are taken after Load, as
// FreeType takes them on the coordinates its callbacks see.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

enum class vlContourWalk {
  kDone,
  kInvalid,  // a control point out of place: FreeType's Invalid_Outline
  kStopped,  // a step of the walker returned false
};

// W: V Load(const FT_Vector&) for a point type V with x and y, and bool
// MoveTo(V), LineTo(V), ConicTo(V control, V to), CubicTo(V, V, V to).
template <typename W>
vlContourWalk WalkContour(const FT_Outline& o, int first, int last, W& w) {
  using V = decltype(w.Load(o.points[0]));
  const FT_Vector* points = o.points;
  const char* tags = o.tags;
  int limit = last;
  V vStart = w.Load(points[first]);
  const V vLast = w.Load(points[last]);
  int tag = FT_CURVE_TAG(tags[first]);
  if (tag == FT_CURVE_TAG_CUBIC) return vlContourWalk::kInvalid;
  int i = first;
  if (tag == FT_CURVE_TAG_CONIC) {
    if (FT_CURVE_TAG(tags[last]) == FT_CURVE_TAG_ON) {
      vStart = vLast;
      limit--;
    } else {
      vStart.x = (vStart.x + vLast.x) / 2;
      vStart.y = (vStart.y + vLast.y) / 2;
    }
    i--;
  }
  auto step = [](bool ok) { return ok ? vlContourWalk::kDone : vlContourWalk::kStopped; };
  if (!w.MoveTo(vStart)) return vlContourWalk::kStopped;
  while (i < limit) {
    i++;
    tag = FT_CURVE_TAG(tags[i]);
    if (tag == FT_CURVE_TAG_ON) {
      if (!w.LineTo(w.Load(points[i]))) return vlContourWalk::kStopped;
      continue;
    }
    if (tag == FT_CURVE_TAG_CONIC) {
      V control = w.Load(points[i]);
      for (;;) {
        if (i >= limit) return step(w.ConicTo(control, vStart));
        i++;
        tag = FT_CURVE_TAG(tags[i]);
        const V v = w.Load(points[i]);
        if (tag == FT_CURVE_TAG_ON) {
          if (!w.ConicTo(control, v)) return vlContourWalk::kStopped;
          break;
        }
        if (tag != FT_CURVE_TAG_CONIC) return vlContourWalk::kInvalid;
        V middle = v;
        middle.x = (control.x + v.x) / 2;
        middle.y = (control.y + v.y) / 2;
        if (!w.ConicTo(control, middle)) return vlContourWalk::kStopped;
        control = v;
      }
      continue;
    }
    if (i + 1 > limit || FT_CURVE_TAG(tags[i + 1]) != FT_CURVE_TAG_CUBIC) return vlContourWalk::kInvalid;
    i += 2;
    const V c1 = w.Load(points[i - 2]), c2 = w.Load(points[i - 1]);
    if (i <= limit) {
      if (!w.CubicTo(c1, c2, w.Load(points[i]))) return vlContourWalk::kStopped;
      continue;
    }
    return step(w.CubicTo(c1, c2, vStart));
  }
  return step(w.LineTo(vStart));
}

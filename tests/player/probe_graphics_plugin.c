/* A probe of the graphics and FreeType sub-tables of the service table,
 * written in C against the plug-in header. FreeType's headers give its
 * records only: the plug-in links no FreeType, so every FreeType call goes
 * through the player's slots. Built as probegfx.vlp; each command returns
 * "ok" or the checks that failed:
 *
 *   probegfx.slots()                       every slot filled, none shared
 *   probegfx.picture(png, rgba, alpha)     LoadImageARGB against the RGBA
 *                                          bytes ImageMagick wrote
 *   probegfx.brushes(brush)                brushes from ARGB words, locked,
 *                                          written, drawn into, freed; brush
 *                                          12 is left for the script to show
 *   probegfx.draw()                        drawing on the current display
 *   probegfx.conversions()                 colours, pixel sizes, raw blits
 *   probegfx.freetype(font)                -> status, "left top width rows"
 *                                          of 'g' at 48 pixels */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_GLYPH_H

#include "abi/plugin_abi.h"

#define PROBE_EXPORT __attribute__((visibility("default")))

static const vlServiceTable* svc;
static char failures[4096];

static void Fail(const char* what, long got) {
  size_t used = strlen(failures);
  if (used + 120 < sizeof failures) snprintf(failures + used, sizeof failures - used, "%s%s (%ld)", used ? "; " : "", what, got);
}
#define CHECK(cond, got) \
  do {                   \
    if (!(cond)) Fail(#cond, (long)(got)); \
  } while (0)

static int Report(vlVMState* state) {
  svc->vm->PushString(state, failures[0] ? failures : "ok");
  failures[0] = 0;
  return 1;
}

/* ---- slots ---------------------------------------------------------------- */

static int Slots(vlVMState* state) {
  vlServiceFn all[VL_SVC_GRAPHICS_COUNT + VL_SVC_FREETYPE_COUNT];
  int n = 0, i, j;
  for (i = 0; i < VL_SVC_GRAPHICS_COUNT; ++i) {
    CHECK(svc->graphics->slot[i] != NULL, i);
    all[n++] = svc->graphics->slot[i];
  }
  for (i = 0; i < VL_FT_SLOT_END; ++i) {
    CHECK(svc->freetype->slot[i] != NULL, 100 + i);
    all[n++] = svc->freetype->slot[i];
  }
  CHECK(svc->freetype->slot[38] == NULL && svc->freetype->slot[39] == NULL, 138);
  /* One routine standing in several slots is a "not available" stand-in. */
  for (i = 0; i < n; ++i)
    for (j = i + 1; j < n; ++j)
      if (all[i] && all[i] == all[j]) Fail("slots share a routine", i * 1000 + j);
  return Report(state);
}

/* ---- pictures ------------------------------------------------------------- */

static unsigned char* ReadWhole(const char* name, long* size) {
  FILE* f = fopen(name, "rb");
  unsigned char* data = NULL;
  *size = 0;
  if (!f) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (*size = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0) {
    data = (unsigned char*)malloc((size_t)*size);
    if (data && fread(data, 1, (size_t)*size, f) != (size_t)*size) {
      free(data);
      data = NULL;
    }
  }
  fclose(f);
  return data;
}

static int Picture(vlVMState* state) {
  const char* png = svc->vm->CheckStringArg(state, 1, NULL);
  const char* rawName = svc->vm->CheckStringArg(state, 2, NULL);
  const int32_t wantAlpha = svc->vm->CheckIntArg(state, 3);
  int32_t w = -1, h = -1, depth = -1, alpha = -1, i;
  long rawSize = 0;
  unsigned char* raw = ReadWhole(rawName, &rawSize);
  vlTagItem keep[] = {{1, 1}, {0, 0}};
  void* image;
  CHECK(raw != NULL, rawSize);
  CHECK(VL_GFX(svc, ProbeImageFile)(png, &w, &h, &depth) == 1, 0);
  CHECK(depth == (wantAlpha ? 32 : 24), depth);
  CHECK(VL_GFX(svc, ProbeImageFile)(rawName, &w, &h, &depth) == 0, w);
  CHECK(VL_GFX(svc, LoadImageARGB)("/nonexistent/picture.png", &w, &h, &alpha, NULL) == NULL, 0);
  image = VL_GFX(svc, LoadImageARGB)(png, &w, &h, &alpha, NULL);
  CHECK(image != NULL, 0);
  if (image && raw) {
    const uint32_t* pixels = VL_GFX(svc, GetLoadedImagePixels)(image);
    int32_t pw = 0, ph = 0, pd = 0, bad = 0;
    VL_GFX(svc, ProbeImageFile)(png, &pw, &ph, &pd);
    CHECK(pw == w && ph == h, pw);
    CHECK(alpha == wantAlpha, alpha);
    CHECK(rawSize == (long)w * h * 4, rawSize);
    for (i = 0; pixels && rawSize == (long)w * h * 4 && i < w * h; ++i) {
      const unsigned char* q = raw + i * 4;
      const uint32_t want = (uint32_t)q[3] << 24 | (uint32_t)q[0] << 16 | (uint32_t)q[1] << 8 | q[2];
      if (pixels[i] != want && bad++ == 0) Fail("pixel differs from ImageMagick's", (long)i);
    }
    CHECK(bad == 0, bad);
    VL_GFX(svc, FreeLoadedImage)(image);
  }
  /* Tag 1: the words as read, without the opaque alpha byte. */
  image = VL_GFX(svc, LoadImageARGB)(png, &w, &h, &alpha, keep);
  CHECK(image != NULL, 1);
  if (image && raw && rawSize == (long)w * h * 4) {
    const uint32_t* pixels = VL_GFX(svc, GetLoadedImagePixels)(image);
    const uint32_t want = (uint32_t)raw[0] << 16 | (uint32_t)raw[1] << 8 | raw[2];
    CHECK((pixels[0] & 0xFFFFFF) == want, pixels[0]);
    CHECK((pixels[0] >> 24) == (wantAlpha ? raw[3] : 0u), pixels[0] >> 24);
    VL_GFX(svc, FreeLoadedImage)(image);
  }
  free(raw);
  return Report(state);
}

/* ---- brushes -------------------------------------------------------------- */

/* A colour as it comes back from a picture of this pixel format. */
static uint32_t Through(uint32_t rgb, int32_t format) {
  return VL_GFX(svc, PixelToColor)(VL_GFX(svc, ColorToPixel)(rgb, format, 0), format, 0) & 0xFFFFFF;
}

static uint32_t At(const uint32_t* argb, int32_t width, int32_t x, int32_t y) { return argb[y * width + x]; }

static int Brushes(vlVMState* state) {
  vlObjectId script, keyed = {12, NULL}, automatic = {0, (void*)1}, target = {11, NULL};
  static uint32_t argb[32 * 16], black[40 * 20];
  uintptr_t words[10], other[10];
  int32_t w = 0, h = 0, plain = -1, format = 10, x, y;
  vlTagItem query[] = {{1, 0}, {2, 0}, {3, 0}, {0, 0}};
  vlTagItem keyTags[] = {{1, 0xFF00FF}, {0, 0}}, alphaTags[] = {{2, 1}, {0, 0}}, readOnly[] = {{1, 1}, {0, 0}};
  vlTagItem onBrush[] = {{2, 0}, {0, 0}}, thin[] = {{1, 1}, {2, 0}, {0, 0}};
  uint32_t* back;
  query[0].value = (uintptr_t)&w;
  query[1].value = (uintptr_t)&h;
  query[2].value = (uintptr_t)&plain;
  onBrush[0].value = thin[1].value = (uintptr_t)&target;
  svc->vm->GetObjectIDArgSvc(state, 1, &script);

  for (y = 0; y < 16; ++y)
    for (x = 0; x < 32; ++x) argb[y * 32 + x] = x < 16 ? 0xFF000000u | (uint32_t)(x * 15) << 16 | (uint32_t)y * 15 << 8 | 0x40 : 0xFF00FFu;
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(state, &keyed, NULL, 4, 4, NULL) == 1055, 0);
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(state, &keyed, argb, 0, 4, NULL) == 1055, 0);
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(state, &keyed, argb, 1 << 30, 1, NULL) == 1522, 0);

  /* The script's brush: locked, written in its own pixel format. */
  CHECK(VL_GFX(svc, LockBrushPixels)(state, &script, words, NULL) == 0, 0);
  if (words[0]) {
    const int32_t bpp = (int32_t)words[3];
    format = (int32_t)words[2];
    CHECK(words[4] == 64 && words[5] == 64, words[4]);
    CHECK(words[6] == 0 && words[8] == 0, words[6]);
    CHECK(VL_GFX(svc, LockBrushPixels)(state, &script, other, NULL) == 1314, 0);
    CHECK(VL_GFX(svc, FreeBrushByID)(state, &script, 1) == 1314, 0);
    CHECK(bpp == 2 || bpp == 4, bpp);
    for (y = 0; y < 64; ++y)
      for (x = 0; x < 64; ++x) {
        const uint32_t rgb = x < 32 ? 0xE01010 : y < 32 ? 0x10E010 : 0x1010E0;
        const uint32_t pixel = VL_GFX(svc, ColorToPixel)(rgb, format, 0);
        unsigned char* at = (unsigned char*)words[0] + y * words[1] + x * bpp;
        if (bpp == 4) memcpy(at, &pixel, 4);
        else if (bpp == 2) {
          const uint16_t half = (uint16_t)pixel;
          memcpy(at, &half, 2);
        }
      }
    CHECK(VL_GFX(svc, UnlockBrushPixels)(state, &script) == 0, 0);
  }
  CHECK(VL_GFX(svc, UnlockBrushPixels)(state, &script) == 1055, 0);
  back = VL_GFX(svc, GetBrushARGB)(state, &script, query);
  CHECK(back != NULL && w == 64 && h == 64 && plain == 1, plain);
  if (back && w == 64) {
    CHECK(At(back, 64, 5, 50) == (0xFF000000u | Through(0xE01010, format)), At(back, 64, 5, 50));
    CHECK(At(back, 64, 40, 5) == (0xFF000000u | Through(0x10E010, format)), At(back, 64, 40, 5));
    CHECK(At(back, 64, 63, 63) == (0xFF000000u | Through(0x1010E0, format)), At(back, 64, 63, 63));
  }
  VL_GFX(svc, FreeARGB)(back);
  CHECK(VL_GFX(svc, LockBrushPixels)(state, &script, words, readOnly) == 0, 0);
  CHECK(VL_GFX(svc, UnlockBrushPixels)(state, &script) == 0, 0);

  /* A colour key: its pixels get clear mask bits, alpha 0 in the words. */
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(state, &keyed, argb, 32, 16, keyTags) == 0, 0);
  back = VL_GFX(svc, GetBrushARGB)(state, &keyed, query);
  CHECK(back != NULL && w == 32 && h == 16 && plain == 0, plain);
  for (y = 0; back && y < 16; ++y)
    for (x = 0; x < 32; ++x) {
      const uint32_t want = x < 16 ? 0xFF000000u | Through(argb[y * 32 + x], format) : 0u;
      const uint32_t got = At(back, 32, x, y);
      if ((x < 16 ? got : got & 0xFF000000u) != want) {
        Fail("keyed brush pixel", (long)(y * 32 + x));
        y = 16;
        break;
      }
    }
  VL_GFX(svc, FreeARGB)(back);
  CHECK(VL_GFX(svc, LockBrushPixels)(state, &keyed, words, readOnly) == 0 && words[6] != 0 && words[7] >= 4, words[7]);
  if (words[6]) CHECK(((const unsigned char*)words[6])[0] == 0xFF && ((const unsigned char*)words[6])[2] == 0, 0);
  VL_GFX(svc, UnlockBrushPixels)(state, &keyed);

  /* Alpha bytes become the alpha channel; an automatic id comes back. */
  for (x = 0; x < 32 * 16; ++x) argb[x] = (uint32_t)(x % 32) * 8 << 24 | 0x336699;
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(state, &automatic, argb, 32, 16, alphaTags) == 0, 0);
  CHECK(automatic.handle != NULL && automatic.handle != (void*)1, 0);
  back = VL_GFX(svc, GetBrushARGB)(state, &automatic, query);
  CHECK(back != NULL && plain == 0, plain);
  if (back) CHECK(At(back, 32, 0, 3) >> 24 == 0 && At(back, 32, 31, 3) >> 24 == 248, At(back, 32, 31, 3));
  VL_GFX(svc, FreeARGB)(back);
  CHECK(VL_GFX(svc, FreeBrushByID)(state, &automatic, 1) == 0, 0);
  CHECK(VL_GFX(svc, FreeBrushByID)(state, &automatic, 1) != 0, 0);
  CHECK(VL_GFX(svc, GetBrushARGB)(state, &automatic, NULL) == NULL, 0);

  /* Drawing into a brush named by tag 2. */
  for (x = 0; x < 40 * 20; ++x) black[x] = 0xFF000000u;
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(state, &target, black, 40, 20, NULL) == 0, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(state, 2, 3, 5, 4, 0xFFFF0000u, 0, onBrush) == 0, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(state, -5, -5, 3, 3, 0xFFFFFFFFu, 0, onBrush) == 0, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(state, 20, 0, 10, 2, 0x80FFFFFFu, 1, onBrush) == 0, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(state, 20, 18, 10, 2, 0x00FFFFFFu, 0, onBrush) == 0, 0);
  CHECK(VL_GFX(svc, WritePixelARGB)(state, 15, 10, 0xFF00FF00u, 0, onBrush) == 0, 0);
  CHECK(VL_GFX(svc, WritePixelARGB)(state, 400, 10, 0xFF00FF00u, 0, onBrush) == 0, 0);
  CHECK(VL_GFX(svc, DrawLineARGB)(state, 0, 15, 25, 15, 0xFF0000FFu, 0, thin) == 0, 0);
  CHECK(VL_GFX(svc, DrawLineARGB)(state, 35, 0, 35, 19, 0xFFFFFF00u, 0, onBrush) == 0, 0);
  back = VL_GFX(svc, GetBrushARGB)(state, &target, query);
  CHECK(back != NULL && w == 40 && h == 20, w);
  if (back && w == 40) {
    const uint32_t grey = Through(0x7F7F7F, format);
    CHECK(At(back, 40, 2, 3) == (0xFF000000u | Through(0xFF0000, format)), At(back, 40, 2, 3));
    CHECK(At(back, 40, 6, 6) == (0xFF000000u | Through(0xFF0000, format)), At(back, 40, 6, 6));
    CHECK(At(back, 40, 7, 6) == 0xFF000000u && At(back, 40, 6, 7) == 0xFF000000u, At(back, 40, 7, 6));
    CHECK(At(back, 40, 0, 0) == 0xFF000000u, At(back, 40, 0, 0));
    CHECK((At(back, 40, 25, 1) & 0xFFFFFF) >= (grey & 0xF0F0F0) && (At(back, 40, 25, 1) & 0xFFFFFF) <= 0x838383,
          At(back, 40, 25, 1));
    CHECK(At(back, 40, 25, 19) == (0xFF000000u | Through(0xFFFFFF, format)), At(back, 40, 25, 19));
    CHECK(At(back, 40, 15, 10) == (0xFF000000u | Through(0x00FF00, format)), At(back, 40, 15, 10));
    CHECK(At(back, 40, 12, 15) == (0xFF000000u | Through(0x0000FF, format)), At(back, 40, 12, 15));
    CHECK(At(back, 40, 12, 14) == 0xFF000000u && At(back, 40, 12, 16) == 0xFF000000u, At(back, 40, 12, 14));
    /* The default line width is 10: x 30 to 39. */
    CHECK(At(back, 40, 31, 8) == (0xFF000000u | Through(0xFFFF00, format)), At(back, 40, 31, 8));
    CHECK(At(back, 40, 39, 8) == (0xFF000000u | Through(0xFFFF00, format)), At(back, 40, 39, 8));
    CHECK(At(back, 40, 28, 8) == 0xFF000000u, At(back, 40, 28, 8));
  }
  VL_GFX(svc, FreeARGB)(back);
  /* A brush the plug-in holds cannot be drawn into. */
  CHECK(VL_GFX(svc, LockBrushPixels)(state, &target, words, NULL) == 0, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(state, 0, 0, 1, 1, 0xFFFFFFFFu, 0, onBrush) == 1314, 0);
  CHECK(VL_GFX(svc, UnlockBrushPixels)(state, &target) == 0, 0);
  CHECK(VL_GFX(svc, FreeBrushByID)(state, &target, 1) == 0, 0);
  CHECK(VL_GFX(svc, FreeBrushByID)(state, &target, 1) == 1174, 0);
  CHECK(VL_GFX(svc, FreeBrushByID)(state, &target, 0) == 0, 0);
  CHECK(VL_GFX(svc, FreeBrushByID)(state, NULL, 0) == 1055, 0);
  /* Without a VM state nothing is looked up. */
  CHECK(VL_GFX(svc, LockBrushPixels)(NULL, &script, words, NULL) == 1055, 0);
  CHECK(VL_GFX(svc, GetBrushARGB)(NULL, &script, NULL) == NULL, 0);
  CHECK(VL_GFX(svc, CreateBrushFromARGB)(NULL, &target, black, 40, 20, NULL) == 1055, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(NULL, 0, 0, 1, 1, 0xFFFFFFFFu, 0, NULL) == 1055, 0);
  CHECK(VL_GFX(svc, LockBrushPixels)(state, &target, words, NULL) == 1174, 0);
  return Report(state);
}

/* ---- drawing on the display ---------------------------------------------- */

static int Draw(vlVMState* state) {
  vlTagItem thin[] = {{1, 1}, {0, 0}};
  CHECK(VL_GFX(svc, FillRectARGB)(state, 10, 10, 40, 30, 0xFFFF0000u, 0, NULL) == 0, 0);
  CHECK(VL_GFX(svc, WritePixelARGB)(state, 100, 100, 0xFF00FF00u, 0, NULL) == 0, 0);
  CHECK(VL_GFX(svc, DrawLineARGB)(state, 0, 150, 199, 150, 0xFF0000FFu, 0, thin) == 0, 0);
  CHECK(VL_GFX(svc, FillRectARGB)(state, 120, 10, 20, 20, 0x80FFFFFFu, 1, NULL) == 0, 0);
  CHECK(VL_GFX(svc, DrawLineARGB)(state, 250, 50, 250, 90, 0xFFFFFF00u, 0, NULL) == 0, 0);
  CHECK(VL_GFX(svc, DrawLineARGB)(state, 0, 0, 5, 5, 0xFFFFFFFFu, 0, (vlTagItem[]){{1, 0}, {0, 0}}) == 1055, 0);
  return Report(state);
}

/* ---- colours, sizes and raw blits ----------------------------------------- */

static int Conversions(vlVMState* state) {
  static const int32_t formats[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  int32_t row = -1;
  unsigned i;
  uint32_t src[4 * 3], dst[4 * 3];
  unsigned char mask[2 * 3] = {0xA0, 0, 0x40, 0, 0xF0, 0}, alpha[4 * 3];
  vlBlitPixels blit;
  CHECK(VL_GFX(svc, ColorToPixel)(0x123456, 4, 0) == 0x11AA, VL_GFX(svc, ColorToPixel)(0x123456, 4, 0));
  CHECK(VL_GFX(svc, ColorToPixel)(0x123456, 0, 0) == 0x08CA, VL_GFX(svc, ColorToPixel)(0x123456, 0, 0));
  CHECK(VL_GFX(svc, ColorToPixel)(0x123456, 2, 0) == 0xCA08, VL_GFX(svc, ColorToPixel)(0x123456, 2, 0));
  CHECK(VL_GFX(svc, PixelToColor)(0xFFFF, 4, 0) == 0xF8FCF8, VL_GFX(svc, PixelToColor)(0xFFFF, 4, 0));
  CHECK(VL_GFX(svc, PixelToColor)(0x7FFF, 0, 0) == 0xF8F8F8, VL_GFX(svc, PixelToColor)(0x7FFF, 0, 0));
  CHECK(VL_GFX(svc, PixelToColor)(0x80112233u, 10, 0) == 0x112233, 0);
  CHECK(VL_GFX(svc, PixelToColor)(0x80112233u, 10, 1) == 0x80112233u, 0);
  CHECK(VL_GFX(svc, ColorToPixel)(0x80112233u, 11, 1) == 0x33221180u, VL_GFX(svc, ColorToPixel)(0x80112233u, 11, 1));
  CHECK(VL_GFX(svc, ColorToPixel)(0x123456, 14, 0) == 0, 0);
  for (i = 0; i < sizeof formats / sizeof formats[0]; ++i) {
    const int32_t f = formats[i];
    const uint32_t c = 0xF8FCF8 & (f < 4 ? 0xF8F8F8 : 0xFFFFFF);
    if (f == 8 || f == 9) continue; /* no 24-bit pixel reads back */
    CHECK(VL_GFX(svc, PixelToColor)(VL_GFX(svc, ColorToPixel)(c, f, 0), f, 0) == c, f);
    if (f >= 10) CHECK(VL_GFX(svc, PixelToColor)(VL_GFX(svc, ColorToPixel)(0x9A123456u, f, 1), f, 1) == 0x9A123456u, f);
  }
  CHECK(VL_GFX(svc, GetRawBitmapSize)(5, 3, 14, &row) == 24 && row == 8, row);
  CHECK(VL_GFX(svc, GetRawBitmapSize)(17, 2, 15, &row) == 8 && row == 4, row);
  CHECK(VL_GFX(svc, GetRawBitmapSize)(10, 10, 4, &row) == 200 && row == 20, row);
  CHECK(VL_GFX(svc, GetRawBitmapSize)(7, 2, 8, &row) == 42 && row == 21, row);
  CHECK(VL_GFX(svc, GetRawBitmapSize)(0, 2, 10, &row) == 0 && row == 0, row);
  CHECK(VL_GFX(svc, GetRawBitmapSize)(2, 2, 16, &row) == 0, row);
  CHECK(VL_GFX(svc, GetRawBitmapSize)(70000, 70000, 10, &row) == 0, row);

  /* Raw blits of 4x3 ARGB words: plain, through mask bits, blended. */
  for (i = 0; i < 12; ++i) {
    src[i] = 0x00FFFFFFu;
    dst[i] = 0;
    alpha[i] = (unsigned char)(i * 20);
  }
  memset(&blit, 0, sizeof blit);
  blit.source = src;
  blit.sourceRowBytes = 16;
  blit.target = dst;
  blit.targetRowBytes = 16;
  blit.width = 2;
  blit.height = 2;
  blit.targetX = 1;
  blit.targetY = 1;
  blit.format = 10;
  CHECK(VL_GFX(svc, BlitPixelsSvc)(&blit) == 0, 0);
  CHECK(dst[5] == 0xFFFFFF && dst[10] == 0xFFFFFF && dst[4] == 0 && dst[7] == 0 && dst[11] == 0, dst[7]);
  memset(dst, 0, sizeof dst);
  blit.mask = mask;
  blit.maskRowBytes = 2;
  blit.width = 4;
  blit.height = 3;
  blit.targetX = blit.targetY = 0;
  CHECK(VL_GFX(svc, BlitPixelsSvc)(&blit) == 0, 0);
  CHECK(dst[0] == 0xFFFFFF && dst[1] == 0 && dst[2] == 0xFFFFFF && dst[3] == 0, dst[1]);
  CHECK(dst[4] == 0 && dst[5] == 0xFFFFFF && dst[6] == 0 && dst[8] == 0xFFFFFF && dst[11] == 0xFFFFFF, dst[6]);
  memset(dst, 0, sizeof dst);
  blit.mask = NULL;
  blit.alpha = alpha;
  blit.alphaRowBytes = 4;
  CHECK(VL_GFX(svc, BlitPixelsSvc)(&blit) == 0, 0);
  CHECK(dst[0] == 0 && (dst[11] & 0xFF) >= 0xD8 && (dst[11] & 0xFF) <= 0xDD && (dst[5] & 0xFF) >= 0x62 &&
            (dst[5] & 0xFF) <= 0x66,
        dst[5]);
  blit.format = 14;
  CHECK(VL_GFX(svc, BlitPixelsSvc)(&blit) == 1055, 0);
  blit.format = 10;
  blit.width = 5;
  CHECK(VL_GFX(svc, BlitPixelsSvc)(&blit) == 1055, 0);
  CHECK(VL_GFX(svc, BlitPixelsSvc)(NULL) == 1055, 0);
  return Report(state);
}

/* ---- FreeType ------------------------------------------------------------- */

static int moves, lines, curves;
static int MoveTo(const FT_Vector* to, void* user) { (void)to; (void)user; ++moves; return 0; }
static int LineTo(const FT_Vector* to, void* user) { (void)to; (void)user; ++lines; return 0; }
static int ConicTo(const FT_Vector* c, const FT_Vector* to, void* user) { (void)c; (void)to; (void)user; ++curves; return 0; }
static int CubicTo(const FT_Vector* a, const FT_Vector* b, const FT_Vector* to, void* user) {
  (void)a; (void)b; (void)to; (void)user; ++curves; return 0;
}

static int FreeType(vlVMState* state) {
  const char* font = svc->vm->CheckStringArg(state, 1, NULL);
  FT_Library library = NULL;
  FT_Face face = NULL, fileFace = NULL;
  FT_Size size = NULL;
  FT_Glyph glyph = NULL;
  FT_Stroker stroker = NULL;
  FT_BBox box, moved, stroked, bold;
  FT_Outline copy, border;
  FT_Bitmap target;
  FT_Open_Args args;
  FT_Matrix identity = {0x10000, 0, 0, 0x10000};
  FT_Vector kern = {1, 1}, p0 = {0, 0}, p1 = {640, 0}, p2 = {640, 640}, p3 = {0, 640};
  FT_Outline_Funcs funcs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
  FT_UInt points = 0, contours = 0, index;
  long fontSize = 0;
  unsigned char* data = ReadWhole(font, &fontSize);
  unsigned char* pixels;
  char measured[96] = "none";
  int ink = 0, r, c;

  CHECK(data != NULL, fontSize);
  CHECK(VL_FT(svc, FT_Init_FreeType)((void**)&library) == 0, 0);
  if (!library || !data) goto done;
  CHECK(VL_FT(svc, FT_New_Memory_Face)(library, data, fontSize, 0, (void**)&face) == 0, 0);
  if (!face) goto done;
  memset(&args, 0, sizeof args);
  args.flags = FT_OPEN_PATHNAME;
  args.pathname = (FT_String*)font;
  CHECK(VL_FT(svc, FT_Open_Face)(library, &args, 0, (void**)&fileFace) == 0, 0);
  if (fileFace) CHECK(fileFace->num_glyphs == face->num_glyphs, fileFace->num_glyphs);
  CHECK(VL_FT(svc, FT_Done_Face)(fileFace) == 0, 0);
  CHECK(VL_FT(svc, FT_New_Size)(face, (void**)&size) == 0, 0);
  CHECK(VL_FT(svc, FT_Activate_Size)(size) == 0, 0);
  CHECK(VL_FT(svc, FT_Set_Char_Size)(face, 0, 48 * 64, 72, 72) == 0, 0);
  CHECK(face->size->metrics.y_ppem == 48, face->size->metrics.y_ppem);
  CHECK(VL_FT(svc, FT_Set_Pixel_Sizes)(face, 0, 48) == 0, 0);
  VL_FT(svc, FT_Set_Transform)(face, &identity, NULL);
  index = VL_FT(svc, FT_Get_Char_Index)(face, 'g');
  CHECK(index != 0, index);
  CHECK(VL_FT(svc, FT_Get_Char_Index)(face, 0x10FFFD) == 0, 0);
  CHECK(VL_FT(svc, FT_Get_Kerning)(face, VL_FT(svc, FT_Get_Char_Index)(face, 'A'),
                                   VL_FT(svc, FT_Get_Char_Index)(face, 'V'), FT_KERNING_UNSCALED, &kern) == 0, 0);

  /* The outline: its box, moved, its segments, stroked. */
  CHECK(VL_FT(svc, FT_Load_Glyph)(face, index, FT_LOAD_NO_HINTING) == 0, 0);
  CHECK(face->glyph->format == FT_GLYPH_FORMAT_OUTLINE, face->glyph->format);
  VL_FT(svc, FreeTypeForward)(&face->glyph->outline, &box);
  CHECK(box.xMax > box.xMin && box.yMax > box.yMin && box.yMin < 0, box.yMin);
  VL_FT(svc, FT_Outline_Decompose)(&face->glyph->outline, &funcs, NULL);
  CHECK(moves == face->glyph->outline.n_contours && curves > 0, moves);
  CHECK(VL_FT(svc, FT_Outline_New)(library, (FT_UInt)face->glyph->outline.n_points, face->glyph->outline.n_contours,
                                   &copy) == 0, 0);
  memcpy(copy.points, face->glyph->outline.points, sizeof(FT_Vector) * (size_t)copy.n_points);
  memcpy(copy.tags, face->glyph->outline.tags, (size_t)copy.n_points);
  memcpy(copy.contours, face->glyph->outline.contours, sizeof(short) * (size_t)copy.n_contours);
  VL_FT(svc, FT_Outline_Translate)(&copy, 64, -128);
  VL_FT(svc, FT_Outline_Transform)(&copy, &identity);
  VL_FT(svc, FreeTypeForward)(&copy, &moved);
  CHECK(moved.xMin == box.xMin + 64 && moved.yMax == box.yMax - 128, moved.xMin - box.xMin);
  /* The copy drawn into a bitmap of our own. */
  memset(&target, 0, sizeof target);
  target.width = (unsigned)((box.xMax - box.xMin) / 64 + 4);
  target.rows = (unsigned)((box.yMax - box.yMin) / 64 + 4);
  target.pitch = (int)target.width;
  target.pixel_mode = FT_PIXEL_MODE_GRAY;
  target.num_grays = 256;
  pixels = (unsigned char*)calloc(target.rows, target.width);
  target.buffer = pixels;
  VL_FT(svc, FT_Outline_Translate)(&copy, -moved.xMin + 64, -moved.yMin + 64);
  CHECK(pixels && VL_FT(svc, FT_Outline_Get_Bitmap)(library, &copy, &target) == 0, 0);
  for (r = 0; pixels && r < (int)(target.rows * target.width); ++r) ink += pixels[r] != 0;
  CHECK(ink > 50, ink);
  free(pixels);
  ink = 0;

  CHECK(VL_FT(svc, FT_Stroker_New)(library, (void**)&stroker) == 0, 0);
  VL_FT(svc, FT_Stroker_Set)(stroker, 2 * 64, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0x10000);
  CHECK(VL_FT(svc, FT_Stroker_ParseOutline)(stroker, &face->glyph->outline, 0) == 0, 0);
  CHECK(VL_FT(svc, FT_Stroker_GetCounts)(stroker, &points, &contours) == 0 && points > 0, points);
  CHECK(VL_FT(svc, FT_Outline_Done)(library, &copy) == 0, 0);
  CHECK(VL_FT(svc, FT_Outline_New)(library, points, (FT_Int)contours, &copy) == 0, 0);
  copy.n_points = copy.n_contours = 0;
  VL_FT(svc, FT_Stroker_Export)(stroker, &copy);
  VL_FT(svc, FreeTypeForward)(&copy, &stroked);
  CHECK(stroked.xMin <= box.xMin - 100 && stroked.xMin >= box.xMin - 160, stroked.xMin - box.xMin);
  CHECK(stroked.yMax >= box.yMax + 100 && stroked.yMax <= box.yMax + 160, stroked.yMax - box.yMax);
  CHECK(VL_FT(svc, FT_Stroker_GetBorderCounts)(stroker, FT_STROKER_BORDER_LEFT, &points, &contours) == 0 && points > 0,
        points);
  CHECK(VL_FT(svc, FT_Outline_New)(library, points, (FT_Int)contours, &border) == 0, 0);
  border.n_points = border.n_contours = 0;
  VL_FT(svc, FT_Stroker_ExportBorder)(stroker, FT_STROKER_BORDER_LEFT, &border);
  CHECK(border.n_points > 0 && (FT_UInt)border.n_points <= points, border.n_points);
  VL_FT(svc, FT_Outline_Done)(library, &border);
  VL_FT(svc, FT_Outline_Done)(library, &copy);
  /* A closed path of our own, in a fresh stroker: the outer and inner
   * borders. */
  VL_FT(svc, FT_Stroker_Done)(stroker);
  stroker = NULL;
  CHECK(VL_FT(svc, FT_Stroker_New)(library, (void**)&stroker) == 0, 0);
  VL_FT(svc, FT_Stroker_Set)(stroker, 64, FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_MITER_FIXED, 0x40000);
  CHECK(VL_FT(svc, FT_Stroker_BeginSubPath)(stroker, &p0, 0) == 0, 0);
  CHECK(VL_FT(svc, FT_Stroker_LineTo)(stroker, &p1) == 0, 0);
  CHECK(VL_FT(svc, FT_Stroker_ConicTo)(stroker, &p2, &p3) == 0, 0);
  CHECK(VL_FT(svc, FT_Stroker_CubicTo)(stroker, &p2, &p1, &p0) == 0, 0);
  CHECK(VL_FT(svc, FT_Stroker_EndSubPath)(stroker) == 0, 0);
  CHECK(VL_FT(svc, FT_Stroker_GetCounts)(stroker, &points, &contours) == 0 && points > 8 && contours == 2, contours);
  VL_FT(svc, FT_Stroker_Done)(stroker);

  /* Emboldening grows the outline. */
  VL_FT(svc, FT_GlyphSlot_Embolden)(face->glyph);
  VL_FT(svc, FreeTypeForward)(&face->glyph->outline, &bold);
  CHECK(bold.xMax - bold.xMin > box.xMax - box.xMin, bold.xMax - bold.xMin);

  /* The glyph rendered: its bitmap box, ink inside. */
  CHECK(VL_FT(svc, FT_Load_Glyph)(face, index, FT_LOAD_NO_HINTING) == 0, 0);
  CHECK(VL_FT(svc, FT_Get_Glyph)(face->glyph, (void**)&glyph) == 0 && glyph != NULL, 0);
  VL_FT(svc, FT_Done_Glyph)(glyph);
  CHECK(VL_FT(svc, FT_Render_Glyph)(face->glyph, FT_RENDER_MODE_NORMAL) == 0, 0);
  for (r = 0; r < (int)face->glyph->bitmap.rows; ++r)
    for (c = 0; c < (int)face->glyph->bitmap.width; ++c)
      ink += face->glyph->bitmap.buffer[r * face->glyph->bitmap.pitch + c] != 0;
  CHECK(ink > 100, ink);
  snprintf(measured, sizeof measured, "%d %d %u %u", face->glyph->bitmap_left, face->glyph->bitmap_top,
           face->glyph->bitmap.width, face->glyph->bitmap.rows);
  CHECK(VL_FT(svc, FT_Done_Size)(size) == 0, 0);
  CHECK(VL_FT(svc, FT_Done_Face)(face) == 0, 0);
done:
  if (library) CHECK(VL_FT(svc, FT_Done_FreeType)(library) == 0, 0);
  free(data);
  Report(state);
  svc->vm->PushString(state, measured);
  return 2;
}

static const vlCommand commands[] = {
    {"Slots", Slots},   {"Picture", Picture},         {"Brushes", Brushes},   {"Draw", Draw},
    {"Conversions", Conversions}, {"FreeType", FreeType}, {NULL, NULL},
};

PROBE_EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* table, const char* path, void* handle) {
  (void)path;
  (void)handle;
  svc = table;
  info->capabilities = PLUGINCAPS_LIBRARY;
  info->version = 1;
  info->revision = 0;
  info->programVersion = 6;
  info->programRevision = 0;
  info->name = "Graphics probe";
  info->moduleName = "probegfx";
  info->author = "The Vellamora developers";
  info->description = "Calls every graphics and FreeType service";
  return 1;
}

PROBE_EXPORT void ClosePlugin(void) { svc = NULL; }
PROBE_EXPORT const char* GetBaseTable(void) { return "probegfx"; }
PROBE_EXPORT const vlCommand* GetCommands(void) { return commands; }
PROBE_EXPORT const vlConstant* GetConstants(void) { return NULL; }
PROBE_EXPORT int InitLibrary(vlVMState* state) {
  (void)state;
  return 0;
}
PROBE_EXPORT void FreeLibrary(vlVMState* state) { (void)state; }

/* Each entry as the type the player calls it through: a signature that
 * drifts from the plug-in header fails to build. */
__attribute__((unused)) static void CheckEntryTypes(vlPluginInfo* info) {
  info->InitPlugin = InitPlugin;
  info->ClosePlugin = ClosePlugin;
  info->GetBaseTable = GetBaseTable;
  info->GetCommands = GetCommands;
  info->GetConstants = GetConstants;
  info->InitLibrary = InitLibrary;
  info->FreeLibrary = FreeLibrary;
}

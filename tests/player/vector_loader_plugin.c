/* A vector-picture loader in C against the plug-in header alone, built as
 * vecring.vlp. It takes files whose names end in ".vring": a 20 x 10
 * picture, red on the left half and blue on the right, inside a green
 * ring one device pixel wide, drawn anew at any matrix. Scaling its pixels
 * would thicken the ring; a rendering at the new size keeps it one pixel
 * wide, so a test tells the two apart. Outside the picture the pixels are
 * fully transparent. */
#include <stdlib.h>
#include <string.h>

#include "abi/plugin_abi.h"

#define RING_EXPORT __attribute__((visibility("default")))

enum { kOwnWidth = 20, kOwnHeight = 10 };

typedef struct {
  int32_t width, height;
  double inverse[4], x, y;
  uint32_t* pixels;
} Ring;

static int Covered(const Ring* r, int32_t px, int32_t py) {
  double dx, dy, sx, sy;
  if (px < 0 || py < 0 || px >= r->width || py >= r->height) return 0;
  dx = px + 0.5 - r->x;
  dy = py + 0.5 - r->y;
  sx = r->inverse[0] * dx + r->inverse[1] * dy;
  sy = r->inverse[2] * dx + r->inverse[3] * dy;
  return sx >= 0 && sy >= 0 && sx < kOwnWidth && sy < kOwnHeight;
}

/* m: x' = m0 x + m1 y + x0, y' = m2 x + m3 y + y0. */
static int Render(Ring* r, const double* m, double x0, double y0, int32_t width, int32_t height) {
  const double det = m[0] * m[3] - m[1] * m[2];
  uint32_t* pixels;
  int32_t x, y;
  if (det == 0 || width < 1 || height < 1) return 0;
  pixels = (uint32_t*)calloc((size_t)width * (size_t)height, 4);
  if (!pixels) return 0;
  free(r->pixels);
  r->pixels = pixels;
  r->width = width;
  r->height = height;
  r->inverse[0] = m[3] / det;
  r->inverse[1] = -m[1] / det;
  r->inverse[2] = -m[2] / det;
  r->inverse[3] = m[0] / det;
  r->x = x0;
  r->y = y0;
  for (y = 0; y < height; ++y)
    for (x = 0; x < width; ++x) {
      double sx;
      if (!Covered(r, x, y)) continue;
      if (!Covered(r, x - 1, y) || !Covered(r, x + 1, y) || !Covered(r, x, y - 1) || !Covered(r, x, y + 1)) {
        pixels[(size_t)y * width + x] = 0xFF00FF00u;
        continue;
      }
      sx = r->inverse[0] * (x + 0.5 - x0) + r->inverse[1] * (y + 0.5 - y0);
      pixels[(size_t)y * width + x] = sx < kOwnWidth / 2 ? 0xFFFF0000u : 0xFF0000FFu;
    }
  return 1;
}

static int IsRingFile(const char* name) {
  const size_t n = strlen(name);
  return n >= 6 && strcmp(name + n - 6, ".vring") == 0;
}

RING_EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* services, const char* path, void* handle) {
  (void)services, (void)path, (void)handle;
  info->capabilities = PLUGINCAPS_IMAGE;
  info->version = 1;
  info->revision = 0;
  info->moduleName = "vecring";
  info->name = "Vector rings";
  return 1;
}

RING_EXPORT void ClosePlugin(void) {}

RING_EXPORT int IsImage(const char* file, vlPluginImageRecord* record) {
  if (!IsRingFile(file)) return 0;
  record->width = kOwnWidth;
  record->height = kOwnHeight;
  record->vector = 1;
  record->flags |= VL_IMGREC_ALPHA;
  return 1;
}

/* Drawn at the size asked for, else at its own. */
RING_EXPORT void* LoadImage(const char* file, vlPluginImageRecord* record) {
  int32_t w = record->requestWidth > 0 ? record->requestWidth : kOwnWidth;
  int32_t h = record->requestHeight > 0 ? record->requestHeight : kOwnHeight;
  double m[4];
  Ring* r;
  if (!IsRingFile(file)) return NULL;
  r = (Ring*)calloc(1, sizeof(Ring));
  if (!r) return NULL;
  m[0] = (double)w / kOwnWidth;
  m[1] = m[2] = 0;
  m[3] = (double)h / kOwnHeight;
  if (!Render(r, m, 0, 0, w, h)) {
    free(r);
    return NULL;
  }
  record->width = w;
  record->height = h;
  record->hasAlpha = 1;
  record->vector = 1;
  record->flags |= VL_IMGREC_NATURAL;
  record->naturalWidth = kOwnWidth;
  record->naturalHeight = kOwnHeight;
  return r;
}

RING_EXPORT uint32_t* GetImage(void* handle, vlPluginImageRecord* record) {
  Ring* r = (Ring*)handle;
  record->width = r->width;
  record->height = r->height;
  record->hasAlpha = 1;
  return r->pixels;
}

RING_EXPORT void FreeImage(void* handle) {
  Ring* r = (Ring*)handle;
  free(r->pixels);
  free(r);
}

/* transform: the 2 x 2 matrix, then the x and y offsets. */
RING_EXPORT int TransformImage(void* handle, const double* transform, int32_t width, int32_t height) {
  return Render((Ring*)handle, transform, transform[4], transform[5], width, height);
}

/* Each entry as the type the player calls it through: a signature that
 * drifts from the plug-in header fails to build. */
__attribute__((unused)) static void CheckEntryTypes(vlPluginInfo* info) {
  info->IsImage = IsImage;
  info->LoadImage = LoadImage;
  info->GetImage = GetImage;
  info->FreeImage = FreeImage;
  info->TransformImage = TransformImage;
}

// A vector-picture loader plug-in for the brush tests, built on its own: it
// takes files whose names end in ".vecbox", a box of natural size 8 x 4
// drawn as a red ring one device pixel wide around a blue inside, at any
// matrix. Pixels whose centre maps outside the box stay fully transparent.
// A picture scaled or turned as pixels has a thicker ring, so tests can
// tell a rendering from the source apart from a transformed bitmap.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "abi/plugin_abi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kWidth = 8, kHeight = 4;
constexpr uint32_t kRing = 0xFFFF0000u, kInside = 0xFF0000FFu;

struct Picture {
  int32_t width, height;
  double m[4], x, y;  // the matrix and offsets of the last rendering
  uint32_t* pixels;
};

double gLast[6];
int32_t gLastWidth, gLastHeight, gRenderings;

bool Covered(const Picture& p, double inverse[4], int32_t px, int32_t py) {
  if (px < 0 || py < 0 || px >= p.width || py >= p.height) return false;
  const double dx = px + 0.5 - p.x, dy = py + 0.5 - p.y;
  const double sx = inverse[0] * dx + inverse[1] * dy, sy = inverse[2] * dx + inverse[3] * dy;
  return sx >= 0 && sy >= 0 && sx < kWidth && sy < kHeight;
}

bool Render(Picture* p) {
  const double det = p->m[0] * p->m[3] - p->m[1] * p->m[2];
  if (det == 0) return false;
  double inverse[4] = {p->m[3] / det, -p->m[1] / det, -p->m[2] / det, p->m[0] / det};
  free(p->pixels);
  p->pixels = static_cast<uint32_t*>(calloc(size_t(p->width) * p->height, 4));
  for (int32_t y = 0; y < p->height; ++y)
    for (int32_t x = 0; x < p->width; ++x) {
      if (!Covered(*p, inverse, x, y)) continue;
      const bool ring = !Covered(*p, inverse, x - 1, y) || !Covered(*p, inverse, x + 1, y) ||
                        !Covered(*p, inverse, x, y - 1) || !Covered(*p, inverse, x, y + 1);
      p->pixels[size_t(y) * p->width + x] = ring ? kRing : kInside;
    }
  return true;
}

bool EndsWith(const char* name, const char* tail) {
  const size_t n = strlen(name), t = strlen(tail);
  return n >= t && strcmp(name + n - t, tail) == 0;
}

}  // namespace

EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable*, const char*, void*) {
  info->capabilities = PLUGINCAPS_IMAGE;
  info->version = 1;
  info->revision = 0;
  info->moduleName = "vecbox";
  info->name = "Vector boxes";
  return 1;
}

EXPORT void ClosePlugin() {}

// The last rendering's matrix and offsets (six doubles) and size; the
// number of renderings so far.
EXPORT int VecBoxLastRendering(double* record, int32_t* width, int32_t* height) {
  memcpy(record, gLast, sizeof gLast);
  *width = gLastWidth;
  *height = gLastHeight;
  return gRenderings;
}

EXPORT int IsImage(const char* file, vlPluginImageRecord* record) {
  if (!EndsWith(file, ".vecbox")) return 0;
  record->width = kWidth;
  record->height = kHeight;
  record->vector = 1;
  return 1;
}

EXPORT void* LoadImage(const char* file, vlPluginImageRecord* record) {
  if (!EndsWith(file, ".vecbox")) return nullptr;
  auto* p = static_cast<Picture*>(calloc(1, sizeof(Picture)));
  p->width = kWidth;
  p->height = kHeight;
  p->m[0] = p->m[3] = 1;
  Render(p);
  record->width = p->width;
  record->height = p->height;
  record->hasAlpha = 1;
  record->vector = 1;
  record->flags |= 1;
  record->naturalWidth = kWidth;
  record->naturalHeight = kHeight;
  return p;
}

EXPORT uint32_t* GetImage(void* handle, vlPluginImageRecord* record) {
  auto* p = static_cast<Picture*>(handle);
  record->width = p->width;
  record->height = p->height;
  record->hasAlpha = 1;
  return p->pixels;
}

EXPORT void FreeImage(void* handle) {
  auto* p = static_cast<Picture*>(handle);
  free(p->pixels);
  free(p);
}

// transform: m00, m01, m10, m11, x offset, y offset.
EXPORT int TransformImage(void* handle, const double* transform, int32_t width, int32_t height) {
  auto* p = static_cast<Picture*>(handle);
  Picture next = *p;
  memcpy(next.m, transform, sizeof next.m);
  next.x = transform[4];
  next.y = transform[5];
  next.width = width;
  next.height = height;
  next.pixels = nullptr;
  if (width < 1 || height < 1 || !Render(&next)) return 0;
  free(p->pixels);
  *p = next;
  memcpy(gLast, transform, sizeof gLast);
  gLastWidth = width;
  gLastHeight = height;
  ++gRenderings;
  return 1;
}

// Each entry as the type the player calls it through: a signature that
// drifts from the plug-in header fails to build.
[[maybe_unused]] static void CheckEntryTypes(vlPluginInfo* info) {
  info->IsImage = IsImage;
  info->LoadImage = LoadImage;
  info->GetImage = GetImage;
  info->FreeImage = FreeImage;
  info->TransformImage = TransformImage;
}

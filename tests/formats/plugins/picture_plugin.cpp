// A picture and anim loader plug-in for the loader tests, built on its own:
// it takes files whose names end in ".fake" (a 4 x 3 raster picture),
// ".fakevec" (a vector picture of natural size 10 x 5 that renders one
// colour at any size) and ".fakeanim" (three 2 x 2 frames). It counts the
// handles it frees so tests can see that the player released them.
#include <cstdlib>
#include <cstring>

#include "abi/plugin_abi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int gFreed = 0;

bool EndsWith(const char* name, const char* tail) {
  const size_t n = strlen(name), t = strlen(tail);
  return n >= t && strcmp(name + n - t, tail) == 0;
}

struct Picture {
  bool vector;
  int32_t width, height;
  uint32_t* pixels;
};

}  // namespace

EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable*, const char*, void*) {
  info->capabilities = PLUGINCAPS_IMAGE | PLUGINCAPS_ANIM;
  info->version = 1;
  info->revision = 0;
  info->moduleName = "fakepics";
  info->name = "Fake pictures";
  return 1;
}

EXPORT void ClosePlugin() {}
EXPORT int FakePicsFreed() { return gFreed; }

// The caller's adapter list is always a text ("" when none is named): a
// loader may read it without a check, so this one takes nothing without it.
EXPORT int IsImage(const char* file, vlPluginImageRecord* record) {
  if (!record->context || !EndsWith(file, ".fake")) return 0;
  record->width = 4;
  record->height = 3;
  record->flags |= 2;  // alpha
  return 1;
}

EXPORT void* LoadImage(const char* file, vlPluginImageRecord* record) {
  const bool vector = EndsWith(file, ".fakevec");
  if (!record->context || (!vector && !EndsWith(file, ".fake"))) return nullptr;
  auto* p = static_cast<Picture*>(calloc(1, sizeof(Picture)));
  p->vector = vector;
  p->width = vector ? (record->requestWidth > 0 ? record->requestWidth : 10) : 4;
  p->height = vector ? (record->requestHeight > 0 ? record->requestHeight : 5) : 3;
  p->pixels = static_cast<uint32_t*>(calloc(size_t(p->width) * p->height, 4));
  for (int32_t i = 0; i < p->width * p->height; ++i) p->pixels[i] = vector ? 0x80123456u : 0xFF000000u | i;
  record->width = p->width;
  record->height = p->height;
  record->third = 7;
  record->hasAlpha = 1;
  record->vector = vector;
  // The header's flags mix with a plain 0 (built with -Wextra -Werror).
  record->flags |= vector ? VL_IMGREC_NATURAL : 0;
  if (vector) {
    record->naturalWidth = 10;
    record->naturalHeight = 5;
  }
  return p;
}

EXPORT uint32_t* GetImage(void* handle, vlPluginImageRecord* record) {
  auto* p = static_cast<Picture*>(handle);
  record->width = p->width;
  record->height = p->height;
  record->third = 7;
  return p->pixels;
}

EXPORT void FreeImage(void* handle) {
  auto* p = static_cast<Picture*>(handle);
  free(p->pixels);
  free(p);
  ++gFreed;
}

EXPORT int TransformImage(void* handle, const double* transform, int32_t width, int32_t height) {
  auto* p = static_cast<Picture*>(handle);
  if (!p->vector || transform[0] <= 0) return 0;
  free(p->pixels);
  p->width = width;
  p->height = height;
  p->pixels = static_cast<uint32_t*>(calloc(size_t(width) * height, 4));
  for (int32_t i = 0; i < width * height; ++i) p->pixels[i] = 0x80654321u;
  return 1;
}

EXPORT void* OpenAnim(const char* file, vlPluginAnimOpenRecord* record) {
  if (!record->adapter || !EndsWith(file, ".fakeanim")) return nullptr;
  record->width = 2;
  record->height = 2;
  record->frameCount = 3;
  record->hasAlpha = (record->flags & 1) ? 1 : 0;
  return calloc(1, 16);
}

EXPORT uint32_t* LoadFrame(void*, int32_t index, vlPluginAnimFrameRecord* record, int32_t) {
  auto* px = static_cast<uint32_t*>(calloc(4, 4));
  for (int i = 0; i < 4; ++i) px[i] = uint32_t(index * 16 + i);
  record->hasTransparency = record->loadAlpha;
  return px;
}

EXPORT void FreeFrame(uint32_t* pixels) {
  free(pixels);
  ++gFreed;
}

EXPORT int32_t GetFrameDelay(void*, int32_t index) { return 10 * (index + 1); }

EXPORT void CloseAnim(void* handle) {
  free(handle);
  ++gFreed;
}

// Each entry as the type the player calls it through: a signature that
// drifts from the plug-in header fails to build.
[[maybe_unused]] static void CheckEntryTypes(vlPluginInfo* info) {
  info->IsImage = IsImage;
  info->LoadImage = LoadImage;
  info->GetImage = GetImage;
  info->FreeImage = FreeImage;
  info->TransformImage = TransformImage;
  info->OpenAnim = OpenAnim;
  info->LoadFrame = LoadFrame;
  info->FreeFrame = FreeFrame;
  info->GetFrameDelay = GetFrameDelay;
  info->CloseAnim = CloseAnim;
}

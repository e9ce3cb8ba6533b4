/* A vector engine in C99 against the plug-in header alone, built twice:
 * as vecnew.vlp with bit 0 of its vector extension word (the newer draw
 * request layout) and as vecold.vlp without it. It measures paths of
 * moves and lines as the box of their points, transformed when a transform
 * comes, and draws by covering its whole buffer. Each draw request is
 * written to the file named by VL_PROBEVEC_LOG: the buffer's size and the
 * transform's a, or "null". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "abi/plugin_abi.h"

#define PROBE_EXPORT __attribute__((visibility("default")))

PROBE_EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* services, const char* path, void* handle) {
  (void)services, (void)path, (void)handle;
  info->capabilities = PLUGINCAPS_VECTOR;
#ifdef PROBE_NEWER_LAYOUT
  info->capabilities |= PLUGINCAPS_EXTENSIONS;
  info->moduleName = "vecnew";
#else
  info->moduleName = "vecold";
#endif
  info->version = 1;
  info->revision = 0;
  info->name = "Vector engine probe";
  return 1;
}

PROBE_EXPORT void ClosePlugin(void) {}

#ifdef PROBE_NEWER_LAYOUT
PROBE_EXPORT uint32_t GetExtensions(uint32_t capability, uint32_t zero) {
  (void)zero;
  return capability == PLUGINCAPS_VECTOR ? 1u : 0u;
}
#endif

/* The box of the path's points: moves and lines, absolute or relative. */
static void PointBox(const uint8_t* p, const vlPathTransform* t, double box[4]) {
  double x = 0, y = 0;
  box[0] = box[1] = 1e300;
  box[2] = box[3] = -1e300;
  for (;;) {
    uint32_t code, relative;
    double px, py, tx, ty;
    memcpy(&code, p, 4);
    if (code == VL_PATH_SUBPATH || code == VL_PATH_CLOSE) {
      p += 4;
      continue;
    }
    if (code != VL_PATH_MOVE && code != VL_PATH_LINE) return;
    memcpy(&relative, p + 4, 4);
    memcpy(&px, p + 8, 8);
    memcpy(&py, p + 16, 8);
    p += 24;
    x = relative ? x + px : px;
    y = relative ? y + py : py;
    tx = t ? t->a * x + t->c * y : x;
    ty = t ? t->b * x + t->d * y : y;
    if (tx < box[0]) box[0] = tx;
    if (ty < box[1]) box[1] = ty;
    if (tx > box[2]) box[2] = tx;
    if (ty > box[3]) box[3] = ty;
  }
}

PROBE_EXPORT void GetPathExtents(vlPathExtentsRequest* request) {
  double box[4];
  PointBox(request->commands, request->transform, box);
  request->x1 = box[0] + request->x;
  request->y1 = box[1] + request->y;
  request->x2 = box[2] + request->x;
  request->y2 = box[3] + request->y;
}

PROBE_EXPORT int DrawPath(vlPathDrawRequest* request) {
  const char* path = getenv("VL_PROBEVEC_LOG");
  FILE* log = path ? fopen(path, "a") : NULL;
  int32_t row;
  if (log) {
    if (request->transform)
      fprintf(log, "draw %dx%d transform %g\n", (int)request->width, (int)request->height, request->transform->a);
    else
      fprintf(log, "draw %dx%d transform null\n", (int)request->width, (int)request->height);
    fclose(log);
  }
  for (row = 0; row < request->height; ++row) memset(request->coverage + row * request->rowBytes, 255, (size_t)request->width);
  return 1;
}

PROBE_EXPORT void TranslatePath(vlPathTranslateRequest* request) { (void)request; }

PROBE_EXPORT void GetCurrentPoint(const uint8_t* commands, const vlLineStateCopy* lineState, double* x, double* y) {
  (void)commands, (void)lineState;
  *x = *y = 0;
}

PROBE_EXPORT void* CreateVectorFont(void* face) { return face; }
PROBE_EXPORT void FreeVectorFont(void* handle) { (void)handle; }
PROBE_EXPORT void* OpenFont(const void* data, size_t size) {
  (void)data, (void)size;
  return NULL;
}
PROBE_EXPORT void CloseFont(void* face) { (void)face; }

/* Each entry as the type the player calls it through. */
__attribute__((unused)) static void CheckEntryTypes(vlPluginInfo* info) {
  info->GetPathExtents = GetPathExtents;
  info->DrawPath = DrawPath;
  info->TranslatePath = TranslatePath;
  info->GetCurrentPoint = GetCurrentPoint;
  info->CreateVectorFont = CreateVectorFont;
  info->FreeVectorFont = FreeVectorFont;
  info->OpenFont = OpenFont;
  info->CloseFont = CloseFont;
}

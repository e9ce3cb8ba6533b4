// Video rectangles cut out of the window drawing. Read on the main thread,
// which is also the only thread that starts, stops, moves or resizes a
// video, so the list is stable while it is walked.
#include "media/video/video_mask.h"

#include <algorithm>

#include "display/display.h"
#include "graphics/bitmap.h"
#include "media/video/video_library.h"
#include "platform/x11/x11_hooks.h"

namespace {

constexpr uintptr_t kNativeLoader = 1;
constexpr int kMaxVideos = 64;

int (*gSavedOverlays)(vlDisplay*, vlX11VideoRect*, int) = nullptr;
bool gInstalled = false;

}  // namespace

int CollectVideoRects(vlDisplay* d, vlX11VideoRect* out, int max) {
  int count = 0;
  if (!d) return 0;
  for (vlVideo* v = gVideo.videos; v && count < max; v = reinterpret_cast<vlVideo*>(v->node.next)) {
    const uint32_t s = v->state.load();
    if (s == VL_VIDEO_STOPPED || v->onLayer || v->display != d || v->loader == kNativeLoader) continue;
    const int32_t x0 = std::max(v->scaledX, 0), y0 = std::max(v->scaledY, 0);
    const int32_t x1 = std::min<int64_t>(int64_t(v->scaledX) + v->scaledWidth, d->width);
    const int32_t y1 = std::min<int64_t>(int64_t(v->scaledY) + v->scaledHeight, d->height);
    if (x1 <= x0 || y1 <= y0) continue;
    out[count++] = {x0, y0, x1 - x0, y1 - y0};
  }
  return count;
}

vlBitmap* BuildVideoMask(vlBitmap* reference, vlDisplay* d) {
  vlX11VideoRect rects[kMaxVideos];
  const int count = CollectVideoRects(d, rects, kMaxVideos);
  if (count == 0) return nullptr;
  vlBitmap* mask = NewMaskPlane(reference, d->width, d->height, 1, nullptr, 0);
  if (!mask) return nullptr;
  for (int i = 0; i < count; i++) FillMaskRect(mask, rects[i].x, rects[i].y, rects[i].width, rects[i].height, 0);
  return mask;
}

void InstallVideoMaskHook() {
  if (gInstalled) return;
  gSavedOverlays = gX11Hooks.videoOverlays;
  gX11Hooks.videoOverlays = CollectVideoRects;
  gInstalled = true;
}

void RemoveVideoMaskHook() {
  if (!gInstalled) return;
  if (gX11Hooks.videoOverlays == CollectVideoRects) gX11Hooks.videoOverlays = gSavedOverlays;
  gInstalled = false;
}

// Video rectangles cut out of the window drawing. Read and set on the
// main thread, which is also the only thread that starts, stops, moves or
// resizes a video, so the list is stable while it is walked.
#include "media/video/video_mask.h"

#include <algorithm>

#include "display/display.h"
#include "media/video/video_library.h"
#include "platform/display_adapter.h"
#include "platform/window_record.h"

namespace {

constexpr uintptr_t kNativeLoader = 1;

// The rectangles of the videos that play in their own overlay on the
// display, unclipped, leaving out those no display size shows; up to max.
int OverlaysOf(const vlDisplay* d, vlVideoOverlay* out, int max) {
  int count = 0;
  for (vlVideo* v = gVideo.videos; v && count < max; v = reinterpret_cast<vlVideo*>(v->node.next)) {
    const uint32_t s = v->state.load();
    if (s == VL_VIDEO_STOPPED || v->onLayer || v->display != d || v->loader == kNativeLoader) continue;
    const vlVideoOverlay o{v->scaledX, v->scaledY, v->scaledWidth, v->scaledHeight};
    vlVideoOverlay shown;
    if (!ClipVideoOverlay(o, INT32_MAX, INT32_MAX, &shown)) continue;
    out[count++] = o;
  }
  return count;
}

}  // namespace

void PublishVideoOverlays() {
  for (vlDisplay* d = vlDisplayList; d; d = d->next) {
    vlVideoOverlay overlays[kVideoOverlayMax];
    SetDisplayVideoOverlays(WindowOf(d), overlays, OverlaysOf(d, overlays, kVideoOverlayMax));
  }
}


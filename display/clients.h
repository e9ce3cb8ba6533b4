// Display clients (plug-ins that render into a display and feed input
// back), the pending-frame queue that video threads fill, and the
// services through which plug-ins find and refresh displays and install
// display and requester adapters.
#pragma once
#include <cstdint>

#include "platform/display_adapter.h"
#include "runtime/objects.h"
#include "runtime/tag_list.h"

struct vlVMState;
struct vlDisplay;
struct vlBitmap;
struct vlPluginInfo;

struct vlPendingFrame {
  vlPendingFrame* next;
  uint32_t word;
  void* video;
  vlBitmap* bitmap;
  int32_t x, y, width, height;
  void** layerRef;  // *layerRef is null when the video is not shown as a layer
  int32_t sought;   // the first frame from a place sought: sent as soon as drawn
};

vlDisplayClient* AddDisplayClient(vlObjectId displayId, vlObserverFn callback, void* userData, vlTagItem* tags,
                                  uint32_t callKind);
void RemoveDisplayClient(vlDisplayClient* client);
int RefreshForClient(vlVMState* state, vlDisplayClient* client);
int ResizeForClient(vlVMState* state, vlDisplayClient* client, int32_t width, int32_t height);
// kind 0 move, 1 left, 2 right, 3 middle button, 4 wheel, 5 key.
int ClientEvent(vlDisplayClient* client, uint32_t kind, const int32_t* data);
// Word 0: whether the client gets refresh calls; 1 and 2: its words 3 and
// 4. 0, or 1344 when no display holds the client.
int SetClientWord(vlDisplayClient* client, uint32_t which, uintptr_t value);
// Answers tags {tag, out pointer} of the display with that window; -1 when none.
int GetDisplayInfo(const void* window, const vlTagItem* tags);
int RefreshDisplayByWindow(vlVMState* state, const void* window);
int InstallDisplayAdapter(vlPluginInfo* info, uintptr_t userData, const vlTagItem* tags);
int InstallRequesterAdapter(vlPluginInfo* info, uint32_t flags);
// The display a plug-in or hardware bitmap works on, when the adapter
// grants it (capability request 32): the display of id (the current one
// for null), which must have an adapter handle (1526). Without the grant
// *out is null and 0 is returned.
int GetPluginDisplay(const vlObjectId* id, vlDisplay** out);
extern int32_t vlAdapterRefreshRate;

// Video threads: appends a frame under the display's mutex.
void QueuePendingFrame(vlDisplay* display, vlPendingFrame* frame);
// Main thread: draws every queued frame. With a frame sought among them,
// the display's `framesInHand` is set meanwhile, and they are sent at once
// and stamped `framesSentAt`. 0 or the first error of a layer.
int FlushPendingDisplayFrames(vlVMState* state);
void FreePendingFrames(vlDisplay* display);
void FreeDisplayClients(vlDisplay* display);

// Frames of videos shown as layers go to the layer code (default: the
// frame is drawn like any other).
using vlLayerFrameFn = int (*)(vlVMState* state, vlPendingFrame* frame);
extern vlLayerFrameFn gLayerFrameHandler;

// Frames of videos outside layers whose area is an on-screen sprite node
// (under a display adapter). TAKE: the frame's bitmap becomes the video's
// surface, which every redraw of the display draws in the node, and the
// frame's rectangle the node's; 1 when taken (the video owns the bitmap
// then), 0 when the video has no node. MARK and UNMARK: the node is (no
// longer) marked for a redraw of its own.
enum : int { VL_VIDEO_SURFACE_TAKE = 0, VL_VIDEO_SURFACE_MARK = 1, VL_VIDEO_SURFACE_UNMARK = 2 };
using vlVideoSurfaceFn = int (*)(vlPendingFrame* frame, int what);
extern vlVideoSurfaceFn gVideoSurfaceHandler;

// Display clients, pending video frames and the display services that
// plug-ins reach through the service table.
#include "display/clients.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/display_change.h"
#include "display/display_scaling.h"
#include "display/display_window.h"
#include "display/layer_hooks.h"
#include "runtime/errors.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/display_blit.h"
#include "graphics/presentation.h"
#include "platform/display_device.h"
#include "platform/requesters.h"
#include "platform/wake_pipe.h"
#include "platform/x11/x11_draw.h"
#include "runtime/threads.h"
#include "runtime/event_queue.h"
#include "abi/plugin_abi.h"
#include "runtime/script_version.h"
#include "runtime/run_state.h"
#include "vm/error_codes.h"

int32_t vlAdapterRefreshRate = 10;
vlLayerFrameFn gLayerFrameHandler = nullptr;
vlVideoSurfaceFn gVideoSurfaceHandler = nullptr;

namespace {

struct ListLock {
  ListLock() {
    if (vlDisplayListMutex) LockMutex(vlDisplayListMutex);
  }
  ~ListLock() {
    if (vlDisplayListMutex) UnlockMutex(vlDisplayListMutex);
  }
};

vlDisplay* DisplayOfClient(vlDisplayClient* client) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    for (vlDisplayClient* c = d->clients; c; c = c->next)
      if (c == client) return d;
  return nullptr;
}

void ClipRect(const vlDisplay* d, vlPendingFrame* f, int32_t* w, int32_t* h) {
  *w = f->width;
  *h = f->height;
  if (f->x + *w > d->width) *w = d->width - f->x;
  if (f->y + *h > d->height) *h = d->height - f->y;
}

// An adapter that scales the display itself takes frames in the BGPic's
// coordinates; they reach it through a redraw of the video's node.
bool AdapterScales(const vlDisplay* d) {
  return !DisplayDeviceDoes(d, VL_DEVICE_SCALES_VIDEO) && d->autoScale && d->scaleWidth > 0 && d->scaleHeight > 0;
}

// Draws the video's surface, marked alone, into the back buffer over the
// rectangle and sends that to the window over the video overlays.
void RedrawVideoNode(vlVMState* L, vlDisplay* d, vlPendingFrame* f) {
  const vlBGPic* pic = d->bgpic;
  if (!pic || !d->back) return;
  const int32_t x0 = std::max(f->x, 0), y0 = std::max(f->y, 0);
  const int32_t w = std::min(f->x + f->width, pic->dispWidth) - x0;
  const int32_t h = std::min(f->y + f->height, pic->dispHeight) - y0;
  if (w <= 0 || h <= 0) return;
  // The display is current for the moment, as a display, whatever the
  // script has selected for drawing.
  struct Redraw {
    vlVMState* L;
    vlDisplay* d;
    vlPendingFrame* f;
    int32_t x0, y0, w, h;
  } r{L, d, f, x0, y0, w, h};
  DrawWithDisplayCurrent(d, [](void* user) {
    const auto& r = *static_cast<Redraw*>(user);
    gVideoSurfaceHandler(r.f, VL_VIDEO_SURFACE_MARK);
    gLayerHooks.redrawLayers(r.L, r.d, r.d->bgpic, r.d->back, r.x0, r.y0, r.w, r.h, 32);
    gVideoSurfaceHandler(r.f, VL_VIDEO_SURFACE_UNMARK);
    UpdateDisplayRect(r.d->back, r.x0, r.y0, r.d, r.x0, r.y0, r.w, r.h, 0x20);
  }, &r);
}

}  // namespace

vlDisplayClient* AddDisplayClient(vlObjectId id, vlObserverFn callback, void* userData, vlTagItem* tags,
                                  uint32_t callKind) {
  if (vlRecordingScreen) return nullptr;
  // Plug-ins add and remove clients from their own threads.
  ListLock lock;
  vlDisplay* d = nullptr;
  if (GetDisplayByID(id, &d)) return nullptr;
  vlBGPic* pic = d->bgpic;
  if (!pic || pic->transparentColor != -1 || pic->dispMask || pic->dispAlpha) return nullptr;
  if (d->hardwareDoubleBuffer || d->savedHardwareDoubleBuffer || gLayerHooks.videoOnDisplay(d)) return nullptr;
  auto* c = static_cast<vlDisplayClient*>(std::calloc(1, sizeof(vlDisplayClient)));
  if (!c) return nullptr;
  c->callback = callback;
  c->userData = userData;
  c->callKind = callKind;
  c->display = d;
  const vlDisplayMapping map = GetDisplayMapping(d);
  for (vlTagItem* t = tags; t && t->tag; ++t) {
    switch (t->tag) {
      case 1: *reinterpret_cast<int32_t*>(t->value) = map.scaling ? map.windowWidth : pic->width; break;
      case 2: *reinterpret_cast<int32_t*>(t->value) = map.scaling ? map.windowHeight : pic->height; break;
      case 3: c->tag3 = t->value; break;
      case 4: c->tag4 = t->value; break;
      default: break;
    }
  }
  vlDisplayClient** link = &d->clients;
  while (*link) link = &(*link)->next;
  *link = c;
  return c;
}

void RemoveDisplayClient(vlDisplayClient* client) {
  ListLock lock;
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    for (vlDisplayClient** link = &d->clients; *link; link = &(*link)->next)
      if (*link == client) {
        *link = client->next;
        if (d->refreshingClient == client) d->refreshingClient = nullptr;
        if (d->observerFilter == client) d->observerFilter = nullptr;
        std::free(client);
        return;
      }
}

int RefreshForClient(vlVMState* L, vlDisplayClient* client) {
  vlDisplay* d = DisplayOfClient(client);
  if (!d) return ERR_FINDDISPLAY;
  d->refreshingClient = client;
  RefreshDisplayObject(L, d, 2);
  d->refreshingClient = nullptr;
  return 0;
}

int ResizeForClient(vlVMState* L, vlDisplayClient* client, int32_t width, int32_t height) {
  vlDisplay* d = DisplayOfClient(client);
  if (!d) return ERR_FINDDISPLAY;
  int status = ResizeOpenDisplay(L, d, 100000, 100000, width, height, 0, d->smoothScale, 0, 1);
  if (!status) PostEvent(d, 5, static_cast<uint32_t>(d->width), static_cast<uint32_t>(d->height), 0, nullptr);
  return status;
}

// A queue that cannot take the event is out of memory; a disabled one drops it.
static int Posted(int result) { return result < 0 ? ERR_MEM : 0; }

namespace {

int PostClientEvent(vlDisplay* d, uint32_t kind, const int32_t* data);

}  // namespace

// The input is queued like the window's own; a script waiting for events
// is woken to take it.
int ClientEvent(vlDisplayClient* client, uint32_t kind, const int32_t* data) {
  vlDisplay* d = client ? DisplayOfClient(client) : vlDisplayList;
  if (!d) return ERR_FINDDISPLAY;
  int status = PostClientEvent(d, kind, data);
  WakeEventLoop();
  return status;
}

namespace {

int PostClientEvent(vlDisplay* d, uint32_t kind, const int32_t* data) {
  const uint32_t x = static_cast<uint32_t>(data[0]), y = static_cast<uint32_t>(data[1]);
  switch (kind) {
    case 0:
      d->clientMouseX = data[0];
      d->clientMouseY = data[1];
      GetSysTime(&d->lastMoveTime);
      d->mouseMoved = 1;
      return 0;
    case 1:
    case 2:
    case 3: {
      d->clientMouseX = data[0];
      d->clientMouseY = data[1];
      int32_t* state = kind == 1 ? &d->leftButton : kind == 2 ? &d->rightButton : &d->middleButton;
      *state = data[2];
      if (data[2]) NotePress(d, VL_PRESSED_LEFT + kind - 1);
      return Posted(PostEvent(d, kind == 1 ? 1 : kind == 2 ? 2 : 16, x, y, static_cast<uint32_t>(data[2]), nullptr));
    }
    case 4:
      d->clientMouseX = data[0];
      d->clientMouseY = data[1];
      return Posted(PostEvent(d, data[2] ? 12 : 11, x, y, 0, nullptr));
    case 5:
      d->clientModifiers = static_cast<uint32_t>(data[2]);
      if (data[0] > 0 && data[0] < kDisplayKeyCount) {
        d->keyState[data[0]] = static_cast<uint8_t>(data[1] != 0);
        if (data[1]) NotePress(d, static_cast<uint32_t>(data[0]));
      }
      return Posted(PostEvent(d, 3, static_cast<uint32_t>(data[1]), static_cast<uint32_t>(data[2]), x, nullptr));
    default: return ERR_WRONGUSAGE;
  }
}

}  // namespace

int SetClientWord(vlDisplayClient* client, uint32_t which, uintptr_t value) {
  // Plug-ins call from their own threads too; a removed client is not found.
  ListLock lock;
  if (!client || !DisplayOfClient(client)) return ERR_FINDDISPLAY;
  switch (which) {
    case 0: client->refresh = value != 0; return 0;
    case 1: client->tag3 = value; return 0;
    case 2: client->tag4 = value; return 0;
    default: return ERR_WRONGUSAGE;
  }
}

int GetDisplayInfo(const void* window, const vlTagItem* tags) {
  vlDisplay* d = GetDisplayByWindow(window);
  if (!d) return -1;
  int answered = 0;
  for (const vlTagItem* t = tags; t && t->tag; ++t) {
    auto* out = reinterpret_cast<int32_t*>(t->value);
    int32_t v;
    switch (t->tag) {
      case 1: v = d->width; break;
      case 2: v = d->height; break;
      case 3: v = d->bgpic ? d->bgpic->dispWidth : 0; break;
      case 4: v = d->bgpic ? d->bgpic->dispHeight : 0; break;
      case 5: v = static_cast<int32_t>(PackDisplayFlags(d)); break;
      case 6: v = d->scaleWidth; break;
      case 7: v = d->scaleHeight; break;
      case 8: v = d->smoothScale; break;
      default: continue;
    }
    if (out) *out = v;
    ++answered;
  }
  return answered;
}

int RefreshDisplayByWindow(vlVMState* L, const void* window) {
  vlDisplay* d = GetDisplayByWindow(window);
  if (!d) {
    SetErrorArgIndex(0);
    return ERR_FINDDISPLAY;
  }
  RefreshDisplayObject(L, d, 2);
  return 0;
}

int InstallDisplayAdapter(vlPluginInfo* info, uintptr_t userData, const vlTagItem* tags) {
  if (!CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  if (!(info->capabilities & PLUGINCAPS_DISPLAYADAPTER)) return ERR_WRONGUSAGE;
  if (!vlPluginStartup || (vlDisplayAdapter && (vlDisplayAdapter->adapterWords[1] & 1))) return ERR_SETADAPTER;
  vlAdapterRefreshRate = static_cast<int32_t>(GetTagValue(tags, 1, 10));
  info->adapterWords[0] = static_cast<uint32_t>(vlAdapterRefreshRate);
  info->adapterWords[1] = static_cast<uint32_t>(GetTagValue(tags, 2, info->adapterWords[1]));
  info->adapterWords[2] = static_cast<uint32_t>(GetTagValue(tags, 3, info->adapterWords[2]));
  info->userData = userData;
  vlDisplayAdapter = info;
  BindAdapterBitmapEntries(info);
  return 0;
}

int InstallRequesterAdapter(vlPluginInfo* info, uint32_t flags) {
  if (!CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  if (!(info->capabilities & PLUGINCAPS_REQUESTERADAPTER)) return ERR_WRONGUSAGE;
  if (!vlPluginStartup || (vlRequesterAdapter && (vlRequesterAdapter->adapterWords[1] & 1))) return ERR_SETADAPTER;
  info->adapterWords[1] = flags;
  vlRequesterAdapter = info;
  return 0;
}


int GetPluginDisplay(const vlObjectId* id, vlDisplay** out) {
  *out = nullptr;
  if (!QueryAdapterCaps(VL_ADAPTERCAP_DISPLAYS)) return 0;
  vlDisplay* d = CurrentDisplay();
  if (id)
    if (int status = GetDisplayByID(*id, &d)) return status;
  if (!d) return ERR_CLOSEDDISPLAY;
  if (!d->adapterHandle) return ERR_HWBMCLOSEDISP;
  *out = d;
  return 0;
}

void QueuePendingFrame(vlDisplay* d, vlPendingFrame* frame) {
  frame->next = nullptr;
  LockMutex(d->mutex);
  vlPendingFrame** link = &d->pendingFrames;
  while (*link) link = &(*link)->next;
  *link = frame;
  UnlockMutex(d->mutex);
}

int FlushPendingDisplayFrames(vlVMState* L) {
  int result = 0;
  for (vlDisplay* d = vlDisplayList; d; d = d->next) {
    if (!d->mutex) continue;
    // A video holds the frame after one sought back until the one sought
    // has been sent to the window, not merely taken from the queue (a
    // loaded main thread could still be drawing it when the next one came,
    // and the frame sought never showed). Other frames are not waited for.
    LockMutex(d->mutex);
    vlPendingFrame* f = d->pendingFrames;
    d->pendingFrames = nullptr;
    bool sought = false;
    for (vlPendingFrame* g = f; g && !sought; g = g->next) sought = g->sought != 0;
    d->framesInHand = sought;
    UnlockMutex(d->mutex);
    struct OutOfHand {
      vlDisplay* d;
      bool sought;
      ~OutOfHand() {
        if (!sought) return;
        SendPresentation(true);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        LockMutex(d->mutex);
        d->framesInHand = 0;
        d->framesSentAt = double(now.tv_sec) + now.tv_nsec / 1e9;
        UnlockMutex(d->mutex);
      }
    } outOfHand{d, sought};
    int error = 0;
    while (f) {
      vlPendingFrame* next = f->next;
      if (!error) {
        if (f->layerRef && *f->layerRef && gLayerFrameHandler) {
          error = gLayerFrameHandler(L, f);
        } else if (d->displayState == VL_DISPSTATE_OPEN && f->bitmap) {
          // Under an adapter the frame stays as the video's surface, which
          // redraws of the display draw again.
          const bool kept = gVideoSurfaceHandler && gVideoSurfaceHandler(f, VL_VIDEO_SURFACE_TAKE);
          if (kept && AdapterScales(d)) {
            RedrawVideoNode(L, d, f);
          } else {
            int32_t w, h;
            ClipRect(d, f, &w, &h);
            if (w > 0 && h > 0) BlitToDisplay(f->bitmap, 0, 0, d, f->x, f->y, w, h, VideoFrameBlitFlags(d));
          }
          if (kept) f->bitmap = nullptr;
        }
      }
      if (f->bitmap) DeleteBitmap(f->bitmap);
      std::free(f);
      f = next;
    }
    if (error && !result) result = error;
  }
  return result;
}

void FreePendingFrames(vlDisplay* d) {
  if (d->mutex) LockMutex(d->mutex);
  vlPendingFrame* f = d->pendingFrames;
  d->pendingFrames = nullptr;
  if (d->mutex) UnlockMutex(d->mutex);
  while (f) {
    vlPendingFrame* next = f->next;
    if (f->bitmap) DeleteBitmap(f->bitmap);
    std::free(f);
    f = next;
  }
}

void FreeDisplayClients(vlDisplay* d) {
  while (vlDisplayClient* c = d->clients) {
    d->clients = c->next;
    std::free(c);
  }
}

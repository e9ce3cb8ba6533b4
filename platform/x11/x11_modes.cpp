// Monitors, screen modes and their switching (XRandR 1.3, else
// XF86VidMode), the screen saver and grabbing screen pixels. Depends on the
// connections, the optional extensions and the bitmap hooks.
#include <X11/Xlib.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/window_record.h"
#include "platform/pixel_layout.h"
#include "platform/x11/x11_draw.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_open.h"
#include "platform/x11/x11_window.h"
#include "vm/error_codes.h"

namespace {

vlX11Connection* ConnectionOf(vlPlatformWindow* display) {
  if (display && display->window && display->window->connection)
    return display->window->connection;
  vlX11Connection* c = nullptr;
  if (OpenX11Screen(display ? display->xDisplayName : nullptr, &c)) return nullptr;
  return c;
}

bool HaveVidMode(vlX11Connection* c) {
  if (!HaveXF86VidMode()) return false;
  if (c->vidModeState == 0) {
    int eventBase = 0, errorBase = 0;
    c->vidModeState = dl_XF86VidModeQueryExtension(c->display, &eventBase, &errorBase) ? 1 : 2;
  }
  return c->vidModeState == 1;
}

// The CRTC of the display's monitor and its current configuration.
struct CrtcConfig {
  XRRScreenResources* resources = nullptr;
  XRRCrtcInfo* crtc = nullptr;
  RRCrtc id = 0;
  ~CrtcConfig() {
    if (crtc) dl_XRRFreeCrtcInfo(crtc);
    if (resources) dl_XRRFreeScreenResources(resources);
  }
};

bool GetCrtc(vlX11Connection* c, vlPlatformWindow* display, CrtcConfig* out) {
  out->resources = dl_XRRGetScreenResourcesCurrent(c->display, c->root);
  if (!out->resources) return false;
  int index = display ? display->monitorIndex : 0;
  if (index < 0 || index >= out->resources->ncrtc) return false;
  out->id = out->resources->crtcs[index];
  out->crtc = dl_XRRGetCrtcInfo(c->display, out->resources, out->id);
  return out->crtc != nullptr;
}

int RandrModes(vlX11Connection* c, vlPlatformWindow* display, vlScreenMode* array) {
  CrtcConfig config;
  if (!GetCrtc(c, display, &config) || config.crtc->noutput < 1) return 0;
  XRROutputInfo* output =
      dl_XRRGetOutputInfo(c->display, config.resources, config.crtc->outputs[0]);
  if (!output) return 0;
  int count = 0;
  if (!array) {
    count = output->nmode;
  } else {
    for (int i = 0; i < output->nmode; i++) {
      for (int m = 0; m < config.resources->nmode; m++) {
        const XRRModeInfo& info = config.resources->modes[m];
        if (info.id != output->modes[i]) continue;
        vlScreenMode mode{};
        mode.width = static_cast<int>(info.width);
        mode.height = static_cast<int>(info.height);
        double totals = static_cast<double>(info.vTotal) * info.hTotal;
        mode.refresh = totals ? static_cast<int>(std::lround(info.dotClock / totals)) : 0;
        mode.current = info.id == config.crtc->mode;
        mode.id = info.id;
        count = AddScreenMode(array, count, mode);
        break;
      }
    }
  }
  dl_XRRFreeOutputInfo(output);
  return count;
}

int VidModeModes(vlX11Connection* c, vlScreenMode* array) {
  if (!HaveVidMode(c)) return 0;
  int lineCount = 0;
  XF86VidModeModeInfo** lines = nullptr;
  if (!dl_XF86VidModeGetAllModeLines(c->display, c->screen, &lineCount, &lines) || !lines)
    return 0;
  int count = 0;
  for (int i = 0; i < lineCount; i++) {
    bool seen = false;
    for (int j = 0; j < i && !seen; j++)
      seen = lines[j]->hdisplay == lines[i]->hdisplay && lines[j]->vdisplay == lines[i]->vdisplay;
    if (seen) continue;
    if (array) {
      array[count] = vlScreenMode{};
      array[count].width = lines[i]->hdisplay;
      array[count].height = lines[i]->vdisplay;
    }
    count++;
  }
  XFree(lines);
  return count;
}

int VidModeSwitch(vlPlatformWindow* display, vlX11Connection* c, int width, int height) {
  if (!HaveVidMode(c)) return ERR_XF86VIDMODEEXT;
  int lineCount = 0;
  XF86VidModeModeInfo** lines = nullptr;
  if (!dl_XF86VidModeGetAllModeLines(c->display, c->screen, &lineCount, &lines) || !lines ||
      lineCount < 1) {
    if (lines) XFree(lines);
    return ERR_NODISPMODES;
  }
  vlX11Window* x = display->window;
  // The mode to go back to is the one of the screen as the display found
  // it: taken again each time it goes full screen from a window.
  if (!display->fullScreen && x) {
    if (!x->savedModeLine) x->savedModeLine = static_cast<XF86VidModeModeInfo*>(malloc(sizeof(XF86VidModeModeInfo)));
    if (x->savedModeLine) *x->savedModeLine = *lines[0];
  }
  int best = -1, bestW = 100000, bestH = 100000;
  for (int i = 0; i < lineCount; i++) {
    int w = lines[i]->hdisplay, h = lines[i]->vdisplay;
    if (w < width || h < height) continue;
    if (w <= bestW && h <= bestH && !(w == bestW && h == bestH)) {
      best = i;
      bestW = w;
      bestH = h;
    }
  }
  int status = ERR_SCREEN;
  if (best >= 0) {
    dl_XF86VidModeSwitchToMode(c->display, c->screen, lines[best]);
    dl_XF86VidModeSetViewPort(c->display, c->screen, 0, 0);
    XFlush(c->display);
    status = 0;
  }
  XFree(lines);
  return status;
}

}  // namespace

int HaveXRandR13(vlX11Connection* c) {
  if (!c || !HaveXRandRSymbols()) return 0;
  if (c->randr13State == 0) {
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    bool ok = dl_XRRQueryExtension(c->display, &eventBase, &errorBase) &&
              dl_XRRQueryVersion(c->display, &major, &minor) &&
              (major > 1 || (major == 1 && minor >= 3));
    c->randr13State = ok ? 1 : 2;
  }
  return c->randr13State == 1;
}

vlMonitorNode* GetMonitorList(vlPlatformWindow* display) {
  vlX11Connection* c = ConnectionOf(display);
  if (!c) return nullptr;
  vlMonitorNode* head = nullptr;
  vlMonitorNode** tail = &head;
  if (HaveXRandR13(c)) {
    XRRScreenResources* resources = dl_XRRGetScreenResourcesCurrent(c->display, c->root);
    for (int i = 0; resources && i < resources->noutput; i++) {
      XRROutputInfo* output = dl_XRRGetOutputInfo(c->display, resources, resources->outputs[i]);
      if (!output) continue;
      if (output->connection == RR_Connected && output->crtc) {
        XRRCrtcInfo* crtc = dl_XRRGetCrtcInfo(c->display, resources, output->crtc);
        if (crtc) {
          auto* node = new (std::nothrow) vlMonitorNode{nullptr, crtc->x, crtc->y,
                                                         static_cast<int>(crtc->width),
                                                         static_cast<int>(crtc->height)};
          if (node) {
            *tail = node;
            tail = &node->next;
          }
          dl_XRRFreeCrtcInfo(crtc);
        }
      }
      dl_XRRFreeOutputInfo(output);
    }
    if (resources) dl_XRRFreeScreenResources(resources);
  }
  if (!head) {
    head = new (std::nothrow) vlMonitorNode{nullptr, 0, 0, DisplayWidth(c->display, c->screen),
                                            DisplayHeight(c->display, c->screen)};
  }
  return head;
}

void FreeMonitors(vlMonitorNode* list) {
  while (list) {
    vlMonitorNode* next = list->next;
    delete list;
    list = next;
  }
}

int AddScreenMode(vlScreenMode* array, int count, const vlScreenMode& mode) {
  for (int i = 0; i < count; i++) {
    if (array[i].width != mode.width || array[i].height != mode.height) continue;
    if (std::abs(mode.refresh - 60) < std::abs(array[i].refresh - 60)) array[i] = mode;
    return count;
  }
  array[count] = mode;
  return count + 1;
}

int GetScreenModes(vlPlatformWindow* display, vlScreenMode* array) {
  vlX11Connection* c = ConnectionOf(display);
  if (!c) return 0;
  int count = HaveXRandR13(c) ? RandrModes(c, display, array) : 0;
  if (count == 0) count = VidModeModes(c, array);
  return count;
}

int ChooseScreenMode(const vlScreenMode* modes, int count, int width, int height) {
  int best = -1, bestW = 100000, bestH = 100000;
  for (int i = 0; i < count; i++) {
    int w = modes[i].width, h = modes[i].height;
    if (w < width || h < height) continue;
    if (w <= bestW && h <= bestH && !(w == bestW && h == bestH)) {
      best = i;
      bestW = w;
      bestH = h;
    }
  }
  return best;
}

int SwitchScreenMode(vlPlatformWindow* display, int width, int height) {
  vlX11Connection* c = ConnectionOf(display);
  if (!c) return ERR_XDISPLAY;
  if (HaveXRandR13(c)) {
    // The CRTC's own modes: the XF86VidMode lines that a listing falls
    // back on cannot be set through XRandR.
    int count = RandrModes(c, display, nullptr);
    if (count <= 0) return ERR_NODISPMODES;
    auto* modes = new (std::nothrow) vlScreenMode[count];
    if (!modes) return ERR_MEM;
    count = RandrModes(c, display, modes);
    int chosen = ChooseScreenMode(modes, count, width, height);
    if (chosen < 0) {
      delete[] modes;
      return ERR_SCREEN;
    }
    CrtcConfig config;
    Status result = 1;
    if (GetCrtc(c, display, &config)) {
      // A full-screen display that changes its size keeps the mode of the
      // desktop to go back to, not the one it had full screen.
      if (display->window && (!display->fullScreen || !display->window->savedRandrMode))
        display->window->savedRandrMode = config.crtc->mode;
      result = dl_XRRSetCrtcConfig(c->display, config.resources, config.id, CurrentTime,
                                       config.crtc->x, config.crtc->y, modes[chosen].id,
                                       config.crtc->rotation, config.crtc->outputs,
                                       config.crtc->noutput);
    }
    delete[] modes;
    if (result == RRSetConfigSuccess) return 0;
  }
  return VidModeSwitch(display, c, width, height);
}

int RestoreScreenMode(vlPlatformWindow* display) {
  vlX11Connection* c = ConnectionOf(display);
  vlX11Window* x = display->window;
  if (!c || !x) return 0;
  if (HaveXRandR13(c) && x->savedRandrMode) {
    CrtcConfig config;
    if (GetCrtc(c, display, &config) &&
        dl_XRRSetCrtcConfig(c->display, config.resources, config.id, CurrentTime,
                                config.crtc->x, config.crtc->y, x->savedRandrMode,
                                config.crtc->rotation, config.crtc->outputs,
                                config.crtc->noutput) == RRSetConfigSuccess)
      return 0;
  }
  if (x->savedModeLine && HaveVidMode(c)) {
    dl_XF86VidModeSwitchToMode(c->display, c->screen, x->savedModeLine);
    dl_XF86VidModeSetViewPort(c->display, c->screen, 0, 0);
    XFlush(c->display);
  }
  return 0;
}

namespace {

// Another window on the same server that has switched the saver off with
// the server's settings saved: they are the user's, the server's now are
// the zeros set for it.
vlX11Window* OtherSaverHolder(const vlX11Window* x) {
  for (vlPlatformWindow* d = WindowOf(gX11Hooks.firstDisplay()); d; d = NextWindow(d)) {
    vlX11Window* o = d->window;
    if (o && o != x && o->display && o->connection == x->connection && o->saverState == 0 && o->saverSaved) return o;
  }
  return nullptr;
}

}  // namespace

void SetScreenSaver(vlX11Window* x, int on) {
  on = on ? 1 : 0;
  if (!x || !x->display || x->saverState == on) return;
  Display* d = x->display;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (HaveXss() && dl_XScreenSaverQueryExtension(d, &eventBase, &errorBase) &&
      dl_XScreenSaverQueryVersion(d, &major, &minor) && (major > 1 || (major == 1 && minor >= 1))) {
    dl_XScreenSaverSuspend(d, on ? False : True);
    XResetScreenSaver(d);
  } else if (!on) {
    if (const vlX11Window* holder = OtherSaverHolder(x)) {
      x->saverTimeout = holder->saverTimeout;
      x->saverInterval = holder->saverInterval;
      x->saverPreferBlanking = holder->saverPreferBlanking;
      x->saverAllowExposures = holder->saverAllowExposures;
    } else {
      XGetScreenSaver(d, &x->saverTimeout, &x->saverInterval, &x->saverPreferBlanking,
                      &x->saverAllowExposures);
    }
    x->saverSaved = 1;
    XSetScreenSaver(d, 0, 0, DontPreferBlanking, DefaultExposures);
  } else if (x->saverSaved && !OtherSaverHolder(x)) {
    // The saver stays off while another window still wants it so.
    XSetScreenSaver(d, x->saverTimeout, x->saverInterval, x->saverPreferBlanking,
                    x->saverAllowExposures);
  }
  XFlush(d);
  x->saverState = on;
}

bool GrabScreenPixels(vlPlatformWindow* display, int x, int y, const vlPixelRecord& into) {
  const int width = into.width, height = into.height;
  if (width <= 0 || height <= 0 || !into.pixels) return false;
  Display* d = nullptr;
  Display* own = nullptr;
  if (display && display->adapterHandle) {
    own = OpenXDisplay(nullptr);
    d = own;
  } else {
    vlX11Connection* c = ConnectionOf(display);
    if (c) d = c->display;
  }
  if (!d) return false;
  XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, width, height, AllPlanes, ZPixmap);
  if (image) {
    for (int row = 0; row < height; row++) {
      const uint8_t* in = reinterpret_cast<const uint8_t*>(image->data) +
                          static_cast<size_t>(row) * image->bytes_per_line;
      uint8_t* out = into.pixels + static_cast<size_t>(row) * into.rowBytes;
      if (image->bits_per_pixel == 16 && into.bytesPerPixel == 2) {
        memcpy(out, in, static_cast<size_t>(width) * 2);
      } else if (image->bits_per_pixel == 32 && into.format == 10) {
        memcpy(out, in, static_cast<size_t>(width) * 4);
      } else if (image->bits_per_pixel == 32) {
        for (int i = 0; i < width; i++) {
          uint32_t rgb;
          memcpy(&rgb, in + i * 4, 4);
          uint32_t pixel = ColorToPixel(rgb & 0xFFFFFF, into.format, 0);
          memcpy(out + i * into.bytesPerPixel, &pixel, into.bytesPerPixel);
        }
      }
    }
    XDestroyImage(image);
  }
  if (own) XCloseDisplay(own);
  return image != nullptr;
}

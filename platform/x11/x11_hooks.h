// Calls from the X11 code into subsystems that sit above the platform
// layer: the display list and the window icons. Pictures and the video overlays are not among them:
// pictures come down as plain records of their pixels, the overlays are set
// in the window record. Each default is the harmless answer (no displays),
// so the X11 code runs and is tested on its own until the owners install
// their routines at start-up.
#pragma once
#include <cstdint>

struct vlDisplay;
struct vlX11Window;

struct vlX11Hooks {
  // Head of the display list. Default: no displays.
  vlDisplay* (*firstDisplay)();
  // The window icons as _NET_WM_ICON data (width, height, pixels, ...) and
  // their item count; release drops data the call made. Default: the
  // built-in icons.
  const unsigned long* (*windowIconData)(long* items);
  void (*releaseIconData)(const unsigned long* data);
};

extern vlX11Hooks gX11Hooks;
void ResetX11Hooks();

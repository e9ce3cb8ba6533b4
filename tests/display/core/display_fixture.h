// A VM with the display and bgpic libraries open against a private Xvfb
// server, as after start-up: the screen's pixel format is known. Scripts
// are assembled and run; window pixels are read back with XGetImage.
#pragma once
#include "tests/platform/x11_server.h"  // first: gtest before Xlib

#include <cstdlib>
#include <string>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/commands/display_library.h"
#include "display/display_window.h"
#include "display/layer_hooks.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "platform/offscreen_bitmap.h"
#include "platform/wake_pipe.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "runtime/objects.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/state.h"

namespace vltest {

class DisplayTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    START_X_SERVER(server_);
    setenv("DISPLAY", server_.name(), 1);
    ASSERT_EQ(InitPlatform(), 0);
    ASSERT_EQ(OpenWakePipe(), 0);
    ASSERT_EQ(OpenDisplayLib(L), 0);
    ASSERT_EQ(OpenBgPicLib(L), 0);
    vlX11Connection* c = nullptr;
    ASSERT_EQ(OpenX11Screen(nullptr, &c), 0);
    SetGlobalPixelFormat(c->pixelFormat);
    vlDisplaySetupDone = 1;
    probe_ = XOpenDisplay(server_.name());
    ASSERT_NE(probe_, nullptr);
    started_ = true;
  }
  void TearDown() override {
    if (started_) {
      FreeDisplayLib(L);
      FreeObjectRegistries();
      XCloseDisplay(probe_);
      FreePlatform();
      CloseWakePipe();
      ResetX11Hooks();
      ResetPlatformHooks();
      ResetLayerHooks();
    }
    HandlerTest::TearDown();
  }

  int Run(const std::string& body) {
    L->g->quitDefault = 0;  // an earlier error stopped the script
    return RunScript(L, ".line 1\n" + body + "\nret\n");
  }
  double Num(const char* name) { return GlobalNumber(L, name); }

  // The window pixel as 0xRRGGBB (24-bit server).
  uint32_t WindowPixel(vlDisplay* d, int x, int y) {
    SendPresentation(true);  // what the batch still holds, as a wait would send it
    XSync(d->window->display, False);
    XImage* image = XGetImage(probe_, d->window->window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xDEADBEEF;
    uint32_t p = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return p;
  }
  XWindowAttributes WindowAttributes(vlDisplay* d) {
    XSync(d->window->display, False);
    XWindowAttributes a{};
    XGetWindowAttributes(probe_, d->window->window, &a);
    return a;
  }

  PrivateXServer server_;
  Display* probe_ = nullptr;
  bool started_ = false;
};

}  // namespace vltest

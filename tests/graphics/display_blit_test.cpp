// The engine's bitmaps on a real X window: a picture made with NewBitmap
// and filled through the graphics code is blitted into a window of a
// private Xvfb server and read back with XGetImage, and grabbed back from
// the screen into a new picture.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include <X11/Xutil.h>

#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/display_blit.h"
#include "platform/hooks.h"
#include "platform/x11/x11_draw.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "tests/platform/x11_server.h"

namespace {

TEST(DisplayBlit, EnginePictureReachesTheWindowAndComesBackPixelForPixel) {
  PrivateXServer server;
  START_X_SERVER(server);
  ASSERT_EQ(InitPlatform(), 0);
  vlDisplay display{};
  display.xDisplayName = const_cast<char*>(server.name());
  display.width = 40;
  display.height = 30;
  display.displayState = VL_DISPSTATE_OPEN;
  ASSERT_EQ(AllocDisplayPlatformData(&display), 0);
  ASSERT_EQ(AttachDisplayToX11Screen(&display), 0);  // decides the pixel format
  ASSERT_EQ(OpenX11Window(&display, 1, nullptr, nullptr), 0);
  FillRectInWindow(&display, 0, 0, 40, 30, 0x000000);

  vlBitmap* picture = NewBitmap(13, 9, 0, nullptr);
  ASSERT_NE(picture, nullptr);
  FillBitmapRect(picture, 0, 0, 13, 9, 0x204060);
  FillBitmapRect(picture, 2, 3, 4, 2, 0xFFEE11);
  BlitToDisplay(picture, 0, 0, &display, 6, 5, 13, 9, 0);
  XSync(display.window->display, False);

  Display* probe = XOpenDisplay(server.name());
  ASSERT_NE(probe, nullptr);
  XImage* image = XGetImage(probe, display.window->window, 0, 0, 40, 30, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  int wrong = 0;
  for (int y = 0; y < 30; y++) {
    for (int x = 0; x < 40; x++) {
      uint32_t want = 0;
      if (x >= 6 && x < 19 && y >= 5 && y < 14) {
        want = ReadBitmapPixel(picture, x - 6, y - 5, 0) & 0xFFFFFF;
      }
      if ((XGetPixel(image, x, y) & 0xFFFFFF) != want) wrong++;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(XGetPixel(image, 8, 8) & 0xFFFFFF, 0xFFEE11u);
  EXPECT_EQ(XGetPixel(image, 6, 5) & 0xFFFFFF, 0x204060u);
  XDestroyImage(image);

  // The grab reads the root window where the window lies, into a picture
  // whose rows are longer than its width.
  Window child;
  int rootX = 0, rootY = 0;
  XTranslateCoordinates(probe, display.window->window, DefaultRootWindow(probe), 0, 0, &rootX, &rootY, &child);
  vlBitmap* grabbed = nullptr;
  ASSERT_EQ(GrabDisplayPixels(&display, rootX + 6, rootY + 5, 13, 9, &grabbed), 0);
  ASSERT_NE(grabbed, nullptr);
  wrong = 0;
  for (int y = 0; y < 9; y++)
    for (int x = 0; x < 13; x++)
      if ((ReadBitmapPixel(grabbed, x, y, 0) & 0xFFFFFF) != (ReadBitmapPixel(picture, x, y, 0) & 0xFFFFFF)) wrong++;
  EXPECT_EQ(wrong, 0);
  DeleteBitmap(grabbed);
  XCloseDisplay(probe);

  DeleteBitmap(picture);
  CloseX11Window(&display);
  FreeDisplayPlatformData(&display);
  FreePlatform();
  ResetX11Hooks();
  ResetPlatformHooks();
}

}  // namespace

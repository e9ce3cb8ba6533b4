// The engine's bitmaps on a real X window: a picture made with NewBitmap
// and filled through the graphics code is blitted into a window of a
// private Xvfb server and read back with XGetImage, and grabbed back from
// the screen into a new picture. And what the presentation does with the
// puts: the batch waits in Xlib's buffer until it is sent, frames leave at
// once and at most two are in flight.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include <X11/Xutil.h>
#include <unistd.h>

#include <vector>

#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/coverage_runs.h"
#include "graphics/display_blit.h"
#include "graphics/presentation.h"
#include "platform/hooks.h"
#include "platform/x11/x11_shm.h"
#include "platform/x11/x11_draw.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "tests/platform/x11_server.h"
// The output buffer (what is not sent yet) is Xlib's own; its header
// defines min and max.
#include <X11/Xlibint.h>
#undef min
#undef max

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

// A display's window on a private server, for the presentation's puts.
class PresentedPuts : public ::testing::Test {
 protected:
  void SetUp() override {
    START_X_SERVER(server_);
    ASSERT_EQ(InitPlatform(), 0);
    display_.xDisplayName = const_cast<char*>(server_.name());
    display_.width = 64;
    display_.height = 48;
    display_.displayState = VL_DISPSTATE_OPEN;
    ASSERT_EQ(AllocDisplayPlatformData(&display_), 0);
    ASSERT_EQ(AttachDisplayToX11Screen(&display_), 0);
    ASSERT_EQ(OpenX11Window(&display_, 1, nullptr, nullptr), 0);
    FillRectInWindow(&display_, 0, 0, 64, 48, 0x000000);
    x_ = display_.window->display;
  }
  void TearDown() override {
    for (vlBitmap* b : pictures_) DeleteBitmap(b);
    if (display_.window) {
      CloseX11Window(&display_);
      FreeDisplayPlatformData(&display_);
    }
    FreePlatform();
    ResetX11Hooks();
    ResetPlatformHooks();
  }
  vlBitmap* Picture(int w, int h, uint32_t flags, uint32_t colour) {
    vlBitmap* b = NewBitmap(w, h, flags, nullptr);
    if (b) FillBitmapRect(b, 0, 0, w, h, colour);
    pictures_.push_back(b);
    return b;
  }
  // Bytes of requests still in Xlib's buffer, not sent to the server.
  size_t Unsent() const { return static_cast<size_t>(x_->bufptr - x_->buffer); }
  bool Shared() { return ShmUsable(display_.window->connection); }
  PrivateXServer server_;
  vlDisplay display_{};
  Display* x_ = nullptr;
  std::vector<vlBitmap*> pictures_;
};

// Small puts wait in the buffer for the batch: the pump's turn sends them
// once the oldest waited 2 ms, a send of its own at once; and the window
// then shows them.
TEST_F(PresentedPuts, SmallPutsWaitForTheBatch) {
  vlBitmap* red = Picture(8, 8, 0, 0xFF0000);
  ASSERT_NE(red, nullptr);
  SendPresentation(true);
  ASSERT_EQ(Unsent(), 0u);
  BlitToDisplay(red, 0, 0, &display_, 4, 4, 8, 8, 0);
  EXPECT_GT(Unsent(), 0u) << "the put left on its own";
  usleep(3000);
  SendPresentation(false);
  EXPECT_EQ(Unsent(), 0u) << "the pump's turn 2 ms later did not send it";
  BlitToDisplay(red, 0, 0, &display_, 20, 4, 8, 8, 0);
  EXPECT_GT(Unsent(), 0u);
  SendPresentation(true);
  EXPECT_EQ(Unsent(), 0u);
  // Nothing pending: the pump's turn finds nothing due, however late.
  usleep(3000);
  SendPresentation(false);
  EXPECT_EQ(Unsent(), 0u);
  XSync(x_, False);
  XImage* image = XGetImage(x_, display_.window->window, 0, 0, 64, 48, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(XGetPixel(image, 5, 5) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(XGetPixel(image, 27, 11) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(XGetPixel(image, 13, 5) & 0xFFFFFF, 0u);
  XDestroyImage(image);
}

// Two window pictures in shared memory shown in turn as fast as they can
// be, as a script's unpaced frames are: each frame leaves at once, none
// waits for its own last read, yet once a frame is put the server has done
// the one before it, so the window trails the script's drawing by one
// frame (two while a frame is sent); and it ends on the last one.
TEST_F(PresentedPuts, FramesLeaveAtOnceAndAtMostTwoAreInFlight) {
  if (!Shared()) GTEST_SKIP() << "the server offers no MIT-SHM";
  const uint32_t colours[2] = {0x2040A0u, 0xA04020u};
  vlBitmap* pictures[2] = {Picture(64, 48, VL_NEWBITMAP_WINDOW, colours[0]),
                           Picture(64, 48, VL_NEWBITMAP_WINDOW, colours[1])};
  ASSERT_TRUE(pictures[0] && pictures[1]);
  std::vector<unsigned long> serials;
  for (int frame = 0; frame < 40; frame++) {
    BlitToDisplay(pictures[frame & 1], 0, 0, &display_, 0, 0, 64, 48, 0);
    serials.push_back(NextRequest(x_) - 1);
    ASSERT_EQ(Unsent(), 0u) << "frame " << frame << " was not sent at once";
    if (frame < 1) continue;
    ASSERT_GE(static_cast<long>(LastKnownRequestProcessed(x_) - serials[frame - 1]), 0)
        << "frame " << frame << " left with the frame before it still queued";
  }
  EXPECT_EQ(display_.window->staging, nullptr) << "copied aside";
  XSync(x_, False);
  XImage* image = XGetImage(x_, display_.window->window, 0, 0, 64, 48, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  int wrong = 0;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) wrong += (XGetPixel(image, x, y) & 0xFFFFFF) != colours[1];
  EXPECT_EQ(wrong, 0);
  XDestroyImage(image);
}

}  // namespace

// The runs a window takes as rectangles instead of a 1-bit picture: they
// cover exactly the full pixels, none twice, at the origin given; a row
// repeated makes taller rectangles, not more; anti-aliased coverage and a
// shape of too many runs are refused.
TEST(CoverageRuns, RectanglesCoverExactlyTheFullPixels) {
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 300; round++) {
    const int32_t w = 1 + next() % 70, h = 1 + next() % 40, pitch = w + next() % 5;
    std::vector<uint8_t> plane(static_cast<size_t>(pitch) * h, 7);  // padding nobody reads
    const uint32_t density = next() % 5;
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++)
        plane[size_t(y) * pitch + x] =
            y > 0 && round % 3 == 0 ? plane[size_t(y - 1) * pitch + x] : (next() % 5 < density ? 255 : 0);
    std::vector<int32_t> rects;
    ASSERT_TRUE(CoverageRunsAsRects(plane.data(), pitch, w, h, 100, -5, 100000, &rects));
    ASSERT_EQ(rects.size() % 4, 0u);
    std::vector<int> hits(size_t(w) * h, 0);
    for (size_t k = 0; k < rects.size(); k += 4) {
      for (int32_t y = rects[k + 1] + 5; y < rects[k + 1] + 5 + rects[k + 3]; y++) {
        for (int32_t x = rects[k] - 100; x < rects[k] - 100 + rects[k + 2]; x++) {
          ASSERT_TRUE(x >= 0 && x < w && y >= 0 && y < h);
          hits[size_t(y) * w + x]++;
        }
      }
    }
    size_t runsOfFirstRow = 0;
    for (int32_t x = 0; x < w; x++) runsOfFirstRow += plane[x] == 255 && (x == 0 || plane[x - 1] != 255);
    for (int32_t y = 0; y < h; y++) {
      for (int32_t x = 0; x < w; x++) {
        ASSERT_EQ(hits[size_t(y) * w + x], plane[size_t(y) * pitch + x] == 255 ? 1 : 0) << round << " " << x << "," << y;
      }
    }
    if (round % 3 == 0) {
      EXPECT_EQ(rects.size() / 4, runsOfFirstRow);  // every row the same
    }
    if (rects.size() > 4) {
      EXPECT_FALSE(CoverageRunsAsRects(plane.data(), pitch, w, h, 0, 0, rects.size() / 4 - 1, &rects));
    }
  }
  std::vector<uint8_t> soft = {0, 255, 255, 128, 0, 255};
  std::vector<int32_t> rects;
  EXPECT_FALSE(CoverageRunsAsRects(soft.data(), 6, 6, 1, 0, 0, 100, &rects));
  soft[3] = 1;
  EXPECT_FALSE(CoverageRunsAsRects(soft.data(), 3, 3, 2, 0, 0, 100, &rects));  // the second row's first byte
}

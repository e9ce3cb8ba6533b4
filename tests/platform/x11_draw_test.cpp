// Drawing into X windows on a real Xvfb server, checked by reading the
// window's pixels back with XGetImage: pictures from bitmaps, video
// overlays left untouched, lines, points and rectangles, the premultiplied
// output of a display with alpha; and the window attributes.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include <X11/Xutil.h>

#include <cstring>
#include <random>
#include <vector>

#include "display/display.h"
#include "platform/hooks.h"
#include "platform/offscreen_bitmap.h"
#include "platform/pixel_layout.h"
#include "runtime/os.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_draw.h"
#include "abi/plugin_abi.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "platform/x11/x11_ext.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_shm.h"
#include "platform/x11/x11_window.h"
#include "tests/platform/x11_server.h"
// The output buffer (what is not sent yet) is Xlib's own; its header
// defines min and max.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {

// A picture of the test: 4-byte pixels of format 10, rows of the width
// rounded up to 4 pixels, as the offscreen bitmaps lay them out, handed to
// the window code as the record of its pixels.
struct TestBitmap {
  int width, height, rowPixels;
  std::vector<uint8_t> pixels;
  TestBitmap(int w, int h) : width(w), height(h), rowPixels((w + 3) & ~3),
                             pixels(static_cast<size_t>(rowPixels) * h * 4) {}
  uint32_t& at(int x, int y) {
    return *reinterpret_cast<uint32_t*>(&pixels[(static_cast<size_t>(y) * rowPixels + x) * 4]);
  }
  vlPixelRecord record() { return vlPixelRecord{pixels.data(), rowPixels * 4, 10, 4, width, height}; }
};

vlOffscreenBitmap* gShared = nullptr;

// The record of an offscreen bitmap, as the floor above hands a back
// buffer's pixels down.
vlPixelRecord RecordOf(vlOffscreenBitmap* b) {
  vlOffscreenAccess a;
  if (!LockOffscreenBitmap(b, &a, 0)) return vlPixelRecord{};
  return vlPixelRecord{a.pixels, a.rowLength * a.bytesPerPixel, a.pixelFormat, a.bytesPerPixel, a.width, a.height};
}

class X11Draw : public ::testing::Test {
 protected:
  void SetUp() override {
    START_X_SERVER(server_);
    ASSERT_EQ(InitPlatform(), 0);
    display_.xDisplayName = const_cast<char*>(server_.name());
    display_.width = 64;
    display_.height = 48;
    display_.displayState = VL_DISPSTATE_OPEN;
    ASSERT_EQ(AllocDisplayPlatformData(&display_), 0);
    probe_ = XOpenDisplay(server_.name());
    ASSERT_NE(probe_, nullptr);
  }
  void TearDown() override {
    if (display_.window) {
      CloseX11Window(&display_);
      FreeDisplayPlatformData(&display_);
    }
    if (probe_) XCloseDisplay(probe_);
    FreePlatform();
    ResetX11Hooks();
    ResetPlatformHooks();
  }
  void Open() {
    ASSERT_EQ(OpenX11Window(&display_, 1, nullptr, nullptr), 0);
    FillRectInWindow(&display_, 0, 0, 64, 48, 0x000000);
  }
  // The window's pixels as 0xRRGGBB, row by row.
  std::vector<uint32_t> ReadBack() {
    XSync(display_.window->display, False);
    XImage* image = XGetImage(probe_, display_.window->window, 0, 0, display_.width,
                              display_.height, AllPlanes, ZPixmap);
    std::vector<uint32_t> out;
    if (!image) return out;
    for (int y = 0; y < display_.height; y++)
      for (int x = 0; x < display_.width; x++)
        out.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF);
    XDestroyImage(image);
    return out;
  }
  // The video overlays as the video code sets them in the record.
  void SetVideos(const std::vector<vlVideoOverlay>& videos) {
    SetDisplayVideoOverlays(&display_, videos.data(), static_cast<int>(videos.size()));
  }
  uint32_t Pixel(const std::vector<uint32_t>& image, int x, int y) {
    return image[static_cast<size_t>(y) * display_.width + x];
  }
  PrivateXServer server_;
  vlDisplay display_{};
  Display* probe_ = nullptr;
};

TEST_F(X11Draw, PutImageShowsTheSourcePixelsExactlyWhereAsked) {
  Open();
  TestBitmap source(37, 23);
  std::mt19937 random(7);
  for (int y = 0; y < 23; y++)
    for (int x = 0; x < 37; x++) source.at(x, y) = random() & 0xFFFFFF;
  PutImageToWindow(source.record(), 0, 0, &display_, 5, 7, 37, 23);
  std::vector<uint32_t> image = ReadBack();
  ASSERT_EQ(image.size(), 64u * 48u);
  int wrong = 0;
  for (int y = 0; y < 48; y++) {
    for (int x = 0; x < 64; x++) {
      bool inside = x >= 5 && x < 42 && y >= 7 && y < 30;
      uint32_t want = inside ? source.at(x - 5, y - 7) : 0;
      if (Pixel(image, x, y) != want) wrong++;
    }
  }
  EXPECT_EQ(wrong, 0);
  // The bitmap keeps its pixels after the put.
  EXPECT_EQ(source.pixels.size(), 40u * 23u * 4u);
}

TEST_F(X11Draw, PartOfTheSourceLandsShiftedByTheInnerOffset) {
  Open();
  display_.contentOffsetX = 4;
  display_.contentOffsetY = 4;
  TestBitmap source(20, 10);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++) source.at(x, y) = (x << 16) | (y << 8) | 0x80;
  PutImageToWindow(source.record(), 10, 3, &display_, 1, 2, 8, 6);
  std::vector<uint32_t> image = ReadBack();
  EXPECT_EQ(Pixel(image, 5, 6), source.at(10, 3));
  EXPECT_EQ(Pixel(image, 12, 11), source.at(17, 8));
  EXPECT_EQ(Pixel(image, 13, 11), 0u);
  EXPECT_EQ(Pixel(image, 4, 6), 0u);
  EXPECT_EQ(Pixel(image, 5, 5), 0u);
}

TEST_F(X11Draw, HiddenOrMovingDisplayIsNotDrawnAndTheSourceNotRead) {
  Open();
  TestBitmap source(8, 8);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) source.at(x, y) = 0xFFFFFF;
  // A record of no pixels: reading one would crash the test.
  const vlPixelRecord unreadable{nullptr, 32, 10, 4, 8, 8};
  display_.displayState = VL_DISPSTATE_HIDDEN;
  EXPECT_FALSE(WindowTakesPictures(&display_));
  EXPECT_FALSE(PutImageToWindow(source.record(), 0, 0, &display_, 0, 0, 8, 8));
  FillRectInWindow(&display_, 0, 0, 8, 8, 0xFFFFFF);
  display_.displayState = VL_DISPSTATE_OPEN;
  EXPECT_TRUE(WindowTakesPictures(&display_));
  EXPECT_FALSE(PutImageToWindow(unreadable, 0, 0, &display_, 0, 0, 8, 8));
  display_.window->moving = 1;
  EXPECT_FALSE(WindowTakesPictures(&display_));
  EXPECT_FALSE(PutImageToWindow(source.record(), 0, 0, &display_, 0, 0, 8, 8));
  std::vector<uint32_t> image = ReadBack();
  EXPECT_EQ(Pixel(image, 3, 3), 0u);
}

TEST_F(X11Draw, PlayingVideoOverlaysAreLeftUntouched) {
  Open();
  TestBitmap source(64, 48);
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) source.at(x, y) = 0xFFFFFF;
  // Two overlapping videos: their overlap must stay clear as well.
  SetVideos({{10, 10, 20, 15}, {20, 20, 20, 10}});
  PutImageToWindow(source.record(), 0, 0, &display_, 0, 0, 64, 48);
  std::vector<uint32_t> image = ReadBack();
  int wrong = 0;
  for (int y = 0; y < 48; y++) {
    for (int x = 0; x < 64; x++) {
      bool video = (x >= 10 && x < 30 && y >= 10 && y < 25) || (x >= 20 && x < 40 && y >= 20 && y < 30);
      if (Pixel(image, x, y) != (video ? 0u : 0xFFFFFFu)) wrong++;
    }
  }
  EXPECT_EQ(wrong, 0);
  // The clip is gone after the put: a rectangle now covers the videos too.
  SetVideos({});
  FillRectInWindow(&display_, 0, 0, 64, 48, 0x102030);
  image = ReadBack();
  EXPECT_EQ(Pixel(image, 15, 15), 0x102030u);
}

TEST_F(X11Draw, ClipRegionOnlyWhenAVideoIsCutOut) {
  Open();
  Region region = reinterpret_cast<Region>(1);
  BuildVideoClipRegion(&display_, &region, 0);
  EXPECT_EQ(region, nullptr);
  SetVideos({{1, 1, 4, 4}});
  BuildVideoClipRegion(&display_, &region, kClipNoVideos);
  EXPECT_EQ(region, nullptr);
  BuildVideoClipRegion(&display_, &region, 0);
  ASSERT_NE(region, nullptr);
  EXPECT_FALSE(XPointInRegion(region, 2, 2));
  EXPECT_TRUE(XPointInRegion(region, 10, 10));
  XSetClipMask(display_.window->display, display_.window->gc, None);
  XDestroyRegion(region);
}

TEST_F(X11Draw, LinesPointsAndRectanglesLandInTheirColours) {
  Open();
  display_.contentOffsetX = 2;
  display_.contentOffsetY = 1;
  FillRectInWindow(&display_, 3, 4, 10, 5, 0x123456);
  WritePixelToWindow(&display_, 40, 30, 0xABCDEF);
  DrawLineToWindow(&display_, 0, 40, 20, 40, 0x00FF00);
  std::vector<uint32_t> image = ReadBack();
  EXPECT_EQ(Pixel(image, 5, 5), 0x123456u);
  EXPECT_EQ(Pixel(image, 14, 9), 0x123456u);
  EXPECT_EQ(Pixel(image, 15, 9), 0u);
  EXPECT_EQ(Pixel(image, 14, 10), 0u);
  EXPECT_EQ(Pixel(image, 42, 31), 0xABCDEFu);
  EXPECT_EQ(Pixel(image, 41, 31), 0u);
  for (int x = 2; x <= 22; x++) EXPECT_EQ(Pixel(image, x, 41), 0x00FF00u) << x;
  EXPECT_EQ(Pixel(image, 23, 41), 0u);
}

TEST_F(X11Draw, DisplayWithAlphaPremultipliesIntoItsOutputBitmap) {
  if (!HaveXFixes()) GTEST_SKIP() << "libXfixes not installed";
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  if (!c->argbVisual) GTEST_SKIP() << "this server offers no ARGB visual";
  std::vector<uint8_t> alpha(64 * 48, 128);
  ASSERT_EQ(OpenX11Window(&display_, 1, nullptr, alpha.data()), 0);
  vlOffscreenBitmap* output = display_.window->outputBitmap;
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(output->pixelFormat, 10);
  EXPECT_EQ(display_.window->depth, 32);
  TestBitmap source(8, 8);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) source.at(x, y) = 0xFF64C8;  // bytes 200, 100, 255
  EXPECT_TRUE(PutImageToWindow(source.record(), 0, 0, &display_, 3, 2, 8, 8));
  const uint8_t* out = output->pixels + 2 * output->bytesPerRow + 3 * 4;
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[1], 50);
  EXPECT_EQ(out[2], 128);  // 255 * 128 / 255
  EXPECT_EQ(out[3], 128);
  std::vector<uint32_t> image = ReadBack();
  EXPECT_EQ(Pixel(image, 3, 2), 0x803264u);
  EXPECT_EQ(Pixel(image, 10, 9), 0x803264u);
  EXPECT_EQ(Pixel(image, 11, 9), 0u);
  // A rectangle reaching past the display is cut, not written out of bounds.
  PutImageToWindow(source.record(), 0, 0, &display_, 60, 44, 8, 8);
  uint32_t corner;
  std::memcpy(&corner, output->pixels + 47 * output->bytesPerRow + 63 * 4, 4);
  EXPECT_EQ(corner, 0x80803264u);
}

TEST_F(X11Draw, WindowAttributes) {
  Open();
  EXPECT_EQ(GetWindowAttr(nullptr, 5), 32);
  EXPECT_EQ(GetWindowAttr(nullptr, 11), 16);
  EXPECT_EQ(GetWindowAttr(nullptr, 12), 16);
  EXPECT_EQ(GetWindowAttr(nullptr, 16), 1);
  EXPECT_EQ(GetWindowAttr(nullptr, 17), 0);
  EXPECT_EQ(GetWindowAttr(nullptr, 21), 0);
  SetPlatformOption(0, VL_PLATOPT_ESCAPE_QUIT, 1);
  EXPECT_EQ(GetWindowAttr(nullptr, 10), 1);
  SetPlatformOption(0, VL_PLATOPT_ESCAPE_QUIT, 0);
  EXPECT_EQ(GetWindowAttr(nullptr, 10), 0);
  MovePointer(&display_, 21, 13);
  XSync(display_.window->display, False);
  EXPECT_EQ(GetWindowAttr(&display_, 6), 21);
  EXPECT_EQ(GetWindowAttr(&display_, 7), 13);
  SetGlobalPixelFormat(10);
  vlOffscreenBitmap* header = AllocOffscreenBitmap(5, 3, 0);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(GetWindowAttr(header, 21), 10);
  EXPECT_EQ(GetWindowAttr(header, 13), 8);  // 5 pixels round up to 8
  EXPECT_EQ(GetWindowAttr(header, 23), reinterpret_cast<intptr_t>(header->pixels));
  EXPECT_EQ(GetWindowAttr(header, 24), 0);
  FreeOffscreenBitmap(header);
}


// A display's device is chosen once: a display asked before an adapter is
// installed keeps the X11 windows, one asked after gets the adapter's
// entries, named after it, and neither the screen modes nor the menus.
TEST(DisplayDevices, EachDisplayKeepsTheDeviceItWasGiven) {
  vlDisplay before{}, after{};
  const vlDisplayDevice* x11 = DisplayDevice(&before);
  EXPECT_STREQ(x11->name, "inbuilt");
  EXPECT_TRUE(DisplayDeviceDoes(&before, VL_DEVICE_SCREEN_MODES | VL_DEVICE_MENUS));
  vlPluginInfo adapter{};
  adapter.name = "probe adapter";
  vlDisplayAdapter = &adapter;
  EXPECT_EQ(DisplayDevice(&before), x11);
  const vlDisplayDevice* own = DisplayDevice(&after);
  EXPECT_NE(own, x11);
  EXPECT_STREQ(own->name, "probe adapter");
  EXPECT_FALSE(DisplayDeviceDoes(&after, VL_DEVICE_SCREEN_MODES));
  EXPECT_FALSE(DisplayDeviceDoes(&after, VL_DEVICE_MENUS));
  EXPECT_FALSE(DisplayDeviceDoes(nullptr, VL_DEVICE_OWN_INPUT)) << "new displays and input go to the adapter";
  // Its entries, none filled: nothing is called and nothing fails.
  EXPECT_EQ(own->showHide(&after, 1), 0);
  EXPECT_EQ(own->flip(&after, 0), 0);
  vlDisplayAdapter = nullptr;
  EXPECT_EQ(DisplayDevice(&after), own);
  EXPECT_EQ(DisplayDevice(nullptr), x11);
}

// Rectangles copied one after another into the staging ring, lap after
// lap: none is overwritten before the server has read it, so the window
// ends as the puts, in order, leave it.
TEST_F(X11Draw, ManySmallPutsThroughTheSharedRingLandInOrder) {
  Open();
  if (!ShmUsable(display_.window->connection)) GTEST_SKIP() << "the server offers no MIT-SHM";
  TestBitmap source(37, 23);
  std::mt19937 random(11);
  for (int y = 0; y < 23; y++)
    for (int x = 0; x < 37; x++) source.at(x, y) = random() & 0xFFFFFF;
  std::vector<uint32_t> expected(64 * 48, 0);
  for (int i = 0; i < 600; i++) {
    const int w = 1 + static_cast<int>(random() % 9), h = 1 + static_cast<int>(random() % 9);
    const int sx = static_cast<int>(random() % (37 - w)), sy = static_cast<int>(random() % (23 - h));
    const int dx = static_cast<int>(random() % (64 - w)), dy = static_cast<int>(random() % (48 - h));
    PutImageToWindow(source.record(), sx, sy, &display_, dx, dy, w, h);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) expected[static_cast<size_t>(dy + y) * 64 + dx + x] = source.at(sx + x, sy + y);
  }
  ASSERT_NE(display_.window->staging, nullptr) << "the ring was not used";
  EXPECT_EQ(ReadBack(), expected);
}

// A picture in shared memory goes out from its own pixels; drawing into it
// again waits until the server has read the last frame, which the window
// keeps until the next put.
TEST_F(X11Draw, ASharedPictureIsReadBeforeItIsDrawnAgain) {
  Open();
  if (!ShmUsable(display_.window->connection)) GTEST_SKIP() << "the server offers no MIT-SHM";
  gShared = AllocOffscreenBitmap(64, 48, VL_OFFSCREEN_SHARED);
  ASSERT_NE(gShared, nullptr);
  ASSERT_NE(gShared->shared, nullptr);
  auto fill = [&](uint32_t colour) {
    vlOffscreenAccess a;
    ASSERT_EQ(LockOffscreenBitmap(gShared, &a, 1), 1);
    for (int y = 0; y < a.height; y++)
      for (int x = 0; x < a.width; x++)
        std::memcpy(a.pixels + (static_cast<size_t>(y) * a.rowLength + x) * 4, &colour, 4);
    UnlockOffscreenBitmap(gShared);
  };
  for (uint32_t colour : {0x123456u, 0x654321u, 0x00FF7Fu}) {
    fill(colour);
    PutImageToWindow(RecordOf(gShared), 0, 0, &display_, 0, 0, 64, 48);
    EXPECT_EQ(display_.window->staging, nullptr) << "copied aside";
    // The put is still in Xlib's buffer: only the wait lets the server
    // read the frame before it changes.
    fill(0xFFFFFF);
    EXPECT_EQ(ReadBack(), std::vector<uint32_t>(64 * 48, colour));
  }
  FreeOffscreenBitmap(gShared);
  gShared = nullptr;
}

// A put leaves nothing behind on its own: a small one waits in Xlib's
// buffer, marked pending until the pending puts are sent; one from a
// picture's own shared pixels is a frame, reported with its connection and
// serial, which waits unsent until its connection is sent, and can then be
// waited for. A wait for a connection that is gone returns at once.
TEST_F(X11Draw, PutsWaitUntilTheyAreSentAndFramesUntilTheyAreWaitedFor) {
  Open();
  if (!ShmUsable(display_.window->connection)) GTEST_SKIP() << "the server offers no MIT-SHM";
  vlX11Connection* c = display_.window->connection;
  Display* d = display_.window->display;
  auto unsent = [&] { return static_cast<size_t>(d->bufptr - d->buffer); };
  XSync(d, False);
  TestBitmap source(8, 8);
  vlWindowPut put{};
  ASSERT_TRUE(PutImageToWindow(source.record(), 0, 0, &display_, 0, 0, 8, 8, 0, &put));
  EXPECT_EQ(put.kind, VL_PUT_WAITING);
  EXPECT_TRUE(c->putsPending);
  EXPECT_GT(unsent(), 0u);
  SendPendingPuts();
  EXPECT_FALSE(c->putsPending);
  EXPECT_EQ(unsent(), 0u);

  gShared = AllocOffscreenBitmap(64, 48, VL_OFFSCREEN_SHARED);
  ASSERT_NE(gShared, nullptr);
  ASSERT_TRUE(PutImageToWindow(RecordOf(gShared), 0, 0, &display_, 0, 0, 64, 48, 0, &put));
  EXPECT_EQ(put.kind, VL_PUT_FRAME);
  EXPECT_EQ(put.connection, c->id);
  EXPECT_EQ(put.serial, NextRequest(d) - 1);
  EXPECT_FALSE(c->putsPending) << "a frame is its caller's to send";
  EXPECT_GT(unsent(), 0u);
  SendConnectionPuts(put.connection);
  EXPECT_EQ(unsent(), 0u);
  WaitFrameProcessed(put.connection, put.serial);
  EXPECT_GE(static_cast<long>(LastKnownRequestProcessed(d) - put.serial), 0);
  const unsigned long before = NextRequest(d);
  WaitFrameProcessed(put.connection + 1000, put.serial + 1000);
  EXPECT_EQ(NextRequest(d), before) << "waited on a connection that is not there";
  FreeOffscreenBitmap(gShared);
  gShared = nullptr;
}

}  // namespace

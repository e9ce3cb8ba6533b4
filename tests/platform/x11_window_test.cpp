// X windows of displays against a real Xvfb server: size, title and the
// window-manager properties read back with Xlib, shapes through the real
// XFixes and Shape extensions, monitors through XRandR, the screen-saver
// settings and pointer warping; and the pure mode-choice and shape rules.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <X11/Xatom.h>
#include <X11/extensions/shape.h>

#include <vector>

#include "display/display.h"
#include "platform/hooks.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_ext.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "tests/platform/x11_server.h"
#include "vm/error_codes.h"

namespace {

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

class X11Window : public ::testing::Test {
 protected:
  void SetUp() override {
    START_X_SERVER(server_);
    ASSERT_EQ(InitPlatform(), 0);
    display_.xDisplayName = const_cast<char*>(server_.name());
    display_.title = const_cast<char*>("Vellamora test");
    display_.x = 30;
    display_.y = 40;
    display_.width = 320;
    display_.height = 200;
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
  std::vector<long> Property(const char* name, Atom type) {
    Atom actual = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> out;
    if (XGetWindowProperty(probe_, display_.window->window, XInternAtom(probe_, name, False), 0,
                           100000, False, type, &actual, &format, &items, &after,
                           &data) == Success &&
        data && format == 32) {
      const long* values = reinterpret_cast<const long*>(data);
      out.assign(values, values + items);
    }
    if (data) XFree(data);
    return out;
  }
  std::vector<long> MotifHints() {
    return Property("_MOTIF_WM_HINTS", XInternAtom(probe_, "_MOTIF_WM_HINTS", False));
  }
  PrivateXServer server_;
  vlDisplay display_{};
  Display* probe_ = nullptr;
};

TEST_F(X11Window, OpensMappedWithSizePositionTitleAndHints) {
  ASSERT_EQ(OpenX11Window(&display_, 1, nullptr, nullptr), 0);
  Window w = display_.window->window;
  ASSERT_NE(w, 0u);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(probe_, w, &attributes));
  EXPECT_EQ(attributes.width, 320);
  EXPECT_EQ(attributes.height, 200);
  EXPECT_EQ(attributes.x, 30);
  EXPECT_EQ(attributes.y, 40);
  EXPECT_EQ(attributes.map_state, IsViewable);
  char* title = nullptr;
  ASSERT_TRUE(XFetchName(probe_, w, &title));
  EXPECT_STREQ(title, "Vellamora test");
  XFree(title);

  Atom* protocols = nullptr;
  int count = 0;
  ASSERT_TRUE(XGetWMProtocols(probe_, w, &protocols, &count));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(protocols[0], XInternAtom(probe_, "WM_DELETE_WINDOW", False));
  XFree(protocols);

  std::vector<long> icon = Property("_NET_WM_ICON", XA_CARDINAL);
  ASSERT_EQ(icon.size(), static_cast<size_t>(kBuiltinIconItems));
  size_t at = 0;
  for (long size : {16, 24, 32, 48, 256}) {
    ASSERT_EQ(icon[at], size);
    ASSERT_EQ(icon[at + 1], size);
    // Opaque in the middle, clear in the corner.
    // Format-32 items come back as sign-extended longs.
    EXPECT_EQ((icon[at + 2 + (size / 2) * size + size / 2] >> 24) & 0xFF, 0xFF);
    EXPECT_EQ(icon[at + 2], 0);
    at += 2 + size * size;
  }
  EXPECT_EQ(Property("XdndAware", XA_ATOM), std::vector<long>{5});
  // Not sizeable: resize and maximise are taken away, and min = max size.
  EXPECT_EQ(MotifHints(), (std::vector<long>{1, 1 | 0x12, 0, 0, 0}));
  XSizeHints hints{};
  long supplied = 0;
  ASSERT_TRUE(XGetWMNormalHints(probe_, w, &hints, &supplied));
  EXPECT_TRUE(hints.flags & PPosition);
  EXPECT_TRUE(hints.flags & PMinSize);
  EXPECT_EQ(hints.min_width, 320);
  EXPECT_EQ(hints.max_height, 200);
  EXPECT_TRUE(Property("_NET_WM_STATE", XA_ATOM).empty());
  Window focus;
  int revert;
  XGetInputFocus(probe_, &focus, &revert);
  EXPECT_EQ(focus, w);
}

TEST_F(X11Window, MotifHintsFollowTheStyleFlags) {
  display_.styleFlags = VL_DISPSTYLE_BORDERLESS | VL_DISPSTYLE_SIZEABLE;
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  EXPECT_EQ(MotifHints(), (std::vector<long>{3, 1, 0, 0, 0}));
  XSizeHints hints{};
  long supplied = 0;
  ASSERT_TRUE(XGetWMNormalHints(probe_, display_.window->window, &hints, &supplied));
  EXPECT_FALSE(hints.flags & PMinSize);
  CloseX11Window(&display_);

  display_.styleFlags = VL_DISPSTYLE_NOMINIMIZE | VL_DISPSTYLE_NOCLOSE | VL_DISPSTYLE_FIXED |
                        VL_DISPSTYLE_SIZEABLE;
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  EXPECT_EQ(MotifHints(), (std::vector<long>{1, 9 | 0x20 | 0x4, 0, 0, 0}));
}

TEST_F(X11Window, BorderlessAtMonitorSizeAsksForFullScreenOnePixelLessDoesNot) {
  display_.styleFlags = VL_DISPSTYLE_BORDERLESS;
  display_.x = display_.y = 0;
  display_.width = 800;
  display_.height = 600;
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  EXPECT_EQ(Property("_NET_WM_STATE", XA_ATOM),
            std::vector<long>{static_cast<long>(XInternAtom(probe_, "_NET_WM_STATE_FULLSCREEN", False))});
  CloseX11Window(&display_);
  display_.width = 799;
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  EXPECT_TRUE(Property("_NET_WM_STATE", XA_ATOM).empty());
}

TEST_F(X11Window, FullScreenDisplayIsOverrideRedirectAndGrabsInput) {
  display_.displayMode = 1;
  display_.fullScreen = 1;
  ASSERT_EQ(OpenX11Window(&display_, 1, nullptr, nullptr), 0);
  XSync(display_.window->display, False);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(probe_, display_.window->window, &attributes));
  EXPECT_TRUE(attributes.override_redirect);
  EXPECT_EQ(display_.window->pointerGrabbed, 1);
  // Another client cannot take the pointer while we hold it.
  Window other = XCreateSimpleWindow(probe_, DefaultRootWindow(probe_), 0, 0, 5, 5, 0, 0, 0);
  XMapWindow(probe_, other);
  XSync(probe_, False);
  EXPECT_EQ(XGrabPointer(probe_, other, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                         CurrentTime),
            AlreadyGrabbed);
  CloseX11Window(&display_);
  XSync(display_.window->connection->display, False);
  EXPECT_EQ(XGrabPointer(probe_, other, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                         CurrentTime),
            GrabSuccess);
}

TEST_F(X11Window, MoveResizeTitleShowAndClose) {
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  Window w = display_.window->window;
  display_.x = 100;
  display_.y = 110;
  display_.width = 200;
  display_.height = 150;
  MoveResizeX11Window(&display_);
  display_.title = const_cast<char*>("Renamed");
  SetX11WindowTitle(&display_);
  XSync(display_.window->display, False);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(probe_, w, &attributes));
  EXPECT_EQ(attributes.x, 100);
  EXPECT_EQ(attributes.y, 110);
  EXPECT_EQ(attributes.width, 200);
  EXPECT_EQ(attributes.height, 150);
  char* title = nullptr;
  ASSERT_TRUE(XFetchName(probe_, w, &title));
  EXPECT_STREQ(title, "Renamed");
  XFree(title);
  // The fixed size hints follow the new size.
  XSizeHints hints{};
  long supplied = 0;
  ASSERT_TRUE(XGetWMNormalHints(probe_, w, &hints, &supplied));
  EXPECT_EQ(hints.max_width, 200);

  // Showing a window that is already shown must not hang.
  EXPECT_EQ(ShowHideX11Window(&display_, 0), 0);

  CloseX11Window(&display_);
  // The server takes the two connections' requests in its own order: the
  // window is gone for the probe once the destroy has been through.
  XSync(display_.window->connection->display, False);
  XSetErrorHandler(IgnoreXErrors);
  XSync(probe_, False);
  EXPECT_FALSE(XGetWindowAttributes(probe_, w, &attributes));
  EXPECT_EQ(display_.window->window, 0u);
}

TEST_F(X11Window, BorderSizesAreZeroForBorderlessElseTheConnectionExtents) {
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  display_.window->connection->frameLeft = 2;
  display_.window->connection->frameTop = 20;
  display_.window->connection->frameWidth = 4;
  display_.window->connection->frameHeight = 22;
  EXPECT_EQ(GetBorderSizes(&display_), 0);
  EXPECT_EQ(display_.frameLeft, 2);
  EXPECT_EQ(display_.frameHeight, 22);
  EXPECT_EQ(display_.bordersKnown, 1);
  display_.styleFlags = VL_DISPSTYLE_BORDERLESS;
  GetBorderSizes(&display_);
  EXPECT_EQ(display_.frameLeft + display_.frameTop + display_.frameWidth + display_.frameHeight, 0);
}

TEST_F(X11Window, MaskShapeNeedsXFixes) {
  UnloadSharedLibs();  // XFixes goes; only XRandR and XF86VidMode stay mapped
  ASSERT_FALSE(HaveXFixes());
  std::vector<uint8_t> mask(4 * 200, 0);
  EXPECT_EQ(OpenX11Window(&display_, 0, mask.data(), nullptr), ERR_XFIXES);
  EXPECT_EQ(display_.window->window, 0u);
}

TEST_F(X11Window, MaskBecomesTheWindowShape) {
  if (!HaveXFixes()) GTEST_SKIP() << "libXfixes not installed";
  display_.width = 20;
  display_.height = 10;
  // Rows of 20 pixels take 32 bits; the first four pixels of rows 0 and 1.
  std::vector<uint8_t> mask(4 * 10, 0);
  mask[0] = 0xF0;
  mask[4] = 0xF0;
  ASSERT_EQ(OpenX11Window(&display_, 0, mask.data(), nullptr), 0);
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(probe_, display_.window->window, ShapeBounding, &count,
                                          &ordering);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(rects[0].x, 0);
  EXPECT_EQ(rects[0].y, 0);
  EXPECT_EQ(rects[0].width, 4);
  EXPECT_EQ(rects[0].height, 2);
  XFree(rects);
}

TEST(X11Shape, RunsMergeVerticallyOnlyWithEqualEdges) {
  // 8 wide (rows of 2 bytes), 4 high.
  const uint8_t mask[] = {0xF0, 0, 0xF0, 0, 0xF8, 0, 0x0F, 0};
  std::vector<XRectangle> rects = ShapeRectsFromMask(mask, 8, 4);
  ASSERT_EQ(rects.size(), 3u);
  EXPECT_EQ(rects[0].x, 0);
  EXPECT_EQ(rects[0].height, 2);
  EXPECT_EQ(rects[0].width, 4);
  EXPECT_EQ(rects[1].y, 2);
  EXPECT_EQ(rects[1].width, 5);
  EXPECT_EQ(rects[2].x, 4);
  EXPECT_EQ(rects[2].y, 3);
  // Alpha rows of 5 pixels take 8 bytes.
  const uint8_t alpha[] = {0, 1, 1, 0, 9, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0};
  rects = ShapeRectsFromAlpha(alpha, 5, 2);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0].x, 1);
  EXPECT_EQ(rects[0].height, 2);
  EXPECT_EQ(rects[0].width, 2);
  EXPECT_EQ(rects[1].x, 4);
  EXPECT_EQ(rects[1].height, 1);
}

TEST_F(X11Window, MonitorListFromXRandROrTheScreen) {
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  vlMonitorNode* list = GetMonitorList(&display_);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->x, 0);
  EXPECT_EQ(list->width, 800);
  EXPECT_EQ(list->height, 600);
  FreeMonitors(list);
  if (HaveXRandR13(c)) {
    int count = GetScreenModes(&display_, nullptr);
    ASSERT_GT(count, 0);
    std::vector<vlScreenMode> modes(count);
    count = GetScreenModes(&display_, modes.data());
    bool current = false;
    for (int i = 0; i < count; i++)
      if (modes[i].current) current = modes[i].width == 800 && modes[i].height == 600;
    EXPECT_TRUE(current);
  }
}

TEST(X11Modes, SmallestFittingModeIsChosen) {
  vlScreenMode modes[3] = {{1024, 768, 60, 0, 1}, {640, 480, 60, 0, 2}, {800, 600, 60, 0, 3}};
  EXPECT_EQ(ChooseScreenMode(modes, 3, 700, 500), 2);
  EXPECT_EQ(ChooseScreenMode(modes, 3, 640, 480), 1);
  EXPECT_EQ(ChooseScreenMode(modes, 3, 2000, 2000), -1);
  EXPECT_EQ(ChooseScreenMode(modes, 3, 801, 10), 0);
}

TEST(X11Modes, SameSizeKeepsTheRefreshNearestSixty) {
  vlScreenMode list[4];
  int count = 0;
  count = AddScreenMode(list, count, {1024, 768, 75, 0, 1});
  count = AddScreenMode(list, count, {1024, 768, 60, 1, 2});
  count = AddScreenMode(list, count, {1024, 768, 59, 0, 3});  // 1 away: not strictly nearer
  count = AddScreenMode(list, count, {800, 600, 0, 0, 4});
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list[0].refresh, 60);
  EXPECT_EQ(static_cast<int>(list[0].id), 2);
  EXPECT_EQ(list[1].width, 800);
}

// Without libXss the server's own screen-saver settings are saved and set.
TEST_F(X11Window, ScreenSaverOffSavesOnceAndOnRestores) {
  UnloadSharedLibs();
  XSetScreenSaver(probe_, 600, 30, PreferBlanking, AllowExposures);
  XSync(probe_, False);
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  vlX11Window* x = display_.window;
  SetScreenSaver(x, 0);
  XSync(x->display, False);
  int timeout, interval, blanking, exposures;
  XGetScreenSaver(probe_, &timeout, &interval, &blanking, &exposures);
  EXPECT_EQ(timeout, 0);
  // Off again while off: nothing saved over the first settings.
  SetScreenSaver(x, 0);
  SetScreenSaver(x, 1);
  XSync(x->display, False);
  XGetScreenSaver(probe_, &timeout, &interval, &blanking, &exposures);
  EXPECT_EQ(timeout, 600);
  EXPECT_EQ(interval, 30);
  EXPECT_EQ(blanking, PreferBlanking);
}

TEST_F(X11Window, ScreenSaverStyleIsUndoneOnClose) {
  UnloadSharedLibs();
  XSetScreenSaver(probe_, 300, 10, DefaultBlanking, DefaultExposures);
  XSync(probe_, False);
  display_.styleFlags = VL_DISPSTYLE_NOSCREENSAVER;
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  XSync(display_.window->display, False);
  int timeout, interval, blanking, exposures;
  XGetScreenSaver(probe_, &timeout, &interval, &blanking, &exposures);
  EXPECT_EQ(timeout, 0);
  CloseX11Window(&display_);
  XSync(FirstX11Connection()->display, False);
  XGetScreenSaver(probe_, &timeout, &interval, &blanking, &exposures);
  EXPECT_EQ(timeout, 300);
}

vlDisplay* gListHead = nullptr;

// Two windows switch the saver off: the user's settings come back only
// when both have let go, whichever lets go first.
TEST_F(X11Window, ScreenSaverOffInTwoWindowsComesBackWhenBothLetGo) {
  UnloadSharedLibs();
  for (bool firstLetsGoFirst : {true, false}) {
    SCOPED_TRACE(firstLetsGoFirst);
    XSetScreenSaver(probe_, 600, 30, PreferBlanking, AllowExposures);
    XSync(probe_, False);
    vlDisplay second = display_;
    second.window = nullptr;
    ASSERT_EQ(AllocDisplayPlatformData(&second), 0);
    display_.next = &second;
    gListHead = &display_;
    gX11Hooks.firstDisplay = [] { return gListHead; };
    ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
    ASSERT_EQ(OpenX11Window(&second, 0, nullptr, nullptr), 0);
    SetScreenSaver(display_.window, 0);
    SetScreenSaver(second.window, 0);
    int timeout, interval, blanking, exposures;
    auto timeoutNow = [&] {
      XSync(FirstX11Connection()->display, False);
      XGetScreenSaver(probe_, &timeout, &interval, &blanking, &exposures);
      return timeout;
    };
    vlDisplay* first = firstLetsGoFirst ? &display_ : &second;
    vlDisplay* last = firstLetsGoFirst ? &second : &display_;
    CloseX11Window(first);
    EXPECT_EQ(timeoutNow(), 0);
    CloseX11Window(last);
    EXPECT_EQ(timeoutNow(), 600);
    EXPECT_EQ(interval, 30);
    display_.next = nullptr;
    FreeDisplayPlatformData(&second);
    FreeDisplayPlatformData(&display_);
    ASSERT_EQ(AllocDisplayPlatformData(&display_), 0);
  }
}

TEST_F(X11Window, PointerWarpsInsideTheWindowAndCursorsNeedXcursor) {
  ASSERT_EQ(OpenX11Window(&display_, 0, nullptr, nullptr), 0);
  MovePointer(&display_, 17, 19);
  XSync(display_.window->display, False);
  Window root, child;
  int rootX, rootY, winX, winY;
  unsigned mask;
  XQueryPointer(probe_, DefaultRootWindow(probe_), &root, &child, &rootX, &rootY, &winX, &winY,
                &mask);
  EXPECT_EQ(rootX, 30 + 17);
  EXPECT_EQ(rootY, 40 + 19);
  vlPointerRecord* record = nullptr;
  uint32_t pixels[4] = {};
  if (HaveXcursor()) {
    pixels[3] = 0xFF00FF00;
    ASSERT_EQ(CreateARGBCursor(pixels, 1, 1, &record, 2, 2), 0);
    EXPECT_EQ(record->image->pixels[3], 0xFF00FF00u);
    EXPECT_EQ(record->image->xhot, 1u);
    SetPointerShape(&display_, record, 2);
    ASSERT_NE(record->next, nullptr);  // realised once for this connection
    EXPECT_EQ(display_.window->currentCursor, record->next->cursor);
    SetPointerShape(&display_, record, 2);
    EXPECT_EQ(record->next->next, nullptr);
    SetPointerShape(&display_, nullptr, 0);
    FreePointerRecords(record);
    record = nullptr;
  }
  UnloadSharedLibs();
  EXPECT_EQ(CreateARGBCursor(pixels, 0, 0, &record, 2, 2), ERR_XCURSOR);
  EXPECT_EQ(record, nullptr);
  SetPointerShape(&display_, nullptr, 1);
  EXPECT_EQ(display_.window->currentCursor, display_.window->connection->busyCursor);
  HidePointer(&display_);
  ShowPointer(&display_);
  SetPointerShape(&display_, nullptr, 0);
  EXPECT_EQ(display_.window->currentCursor, static_cast<Cursor>(None));
}

}  // namespace

namespace {

TEST_F(X11Window, SwitchingToTheCurrentSizeWorksAndTooLargeIsRefused) {
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  if (!HaveXRandR13(c) && !HaveXF86VidMode()) GTEST_SKIP() << "no mode-switching extension";
  EXPECT_EQ(SwitchScreenMode(&display_, 2000, 2000), ERR_SCREEN);
  EXPECT_EQ(SwitchScreenMode(&display_, 640, 480), 0);
  XSync(c->display, False);
  EXPECT_EQ(DisplayWidth(probe_, DefaultScreen(probe_)) >= 640, true);
  EXPECT_EQ(RestoreScreenMode(&display_), 0);
}

TEST_F(X11Window, VidModeListsEachSizeOnceWithoutRefresh) {
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  // Force the fallback as on a server without XRandR 1.3.
  c->randr13State = 2;
  if (!HaveXF86VidMode()) GTEST_SKIP() << "libXxf86vm not installed";
  int count = GetScreenModes(&display_, nullptr);
  if (count == 0) GTEST_SKIP() << "the server has no XF86VidMode extension";
  std::vector<vlScreenMode> modes(count);
  ASSERT_EQ(GetScreenModes(&display_, modes.data()), count);
  for (int i = 0; i < count; i++) {
    EXPECT_EQ(modes[i].refresh, 0);
    for (int j = 0; j < i; j++)
      EXPECT_FALSE(modes[i].width == modes[j].width && modes[i].height == modes[j].height);
  }
}

}  // namespace

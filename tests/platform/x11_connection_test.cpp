// X server connections against real Xvfb servers: sharing by name, pixel
// formats of 24- and 16-bit screens, frame extents, cursors and the
// pointer-watch thread's wake messages.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <X11/Xatom.h>
#include <sys/select.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "display/display.h"
#include "platform/hooks.h"
#include "platform/wake_pipe.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "player/startup_options.h"
#include "tests/platform/x11_server.h"
#include "vm/error_codes.h"

namespace {

class X11Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    START_X_SERVER(server_);
    ASSERT_EQ(InitPlatform(), 0);
    ASSERT_EQ(OpenWakePipe(), 0);
    Drain();
  }
  void TearDown() override {
    FreePlatform();
    ResetX11Hooks();
    ResetPlatformHooks();
    vlStartup.noMouseHook = 0;
  }
  // Reads every message now in the pipe without acting on it.
  static int Drain(vlWakeMsg* last = nullptr) {
    int count = 0;
    vlWakeMsg message;
    while (read(GetWakePipeReadEnd(), &message, sizeof(message)) == sizeof(message)) {
      count++;
      if (last) *last = message;
    }
    return count;
  }
  static bool PipeReadable(int millis) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(GetWakePipeReadEnd(), &set);
    timeval timeout{millis / 1000, (millis % 1000) * 1000};
    return select(GetWakePipeReadEnd() + 1, &set, nullptr, nullptr, &timeout) > 0;
  }
  PrivateXServer server_;
};

TEST_F(X11Connection, SameNameSharesOneConnectionOtherSpellingsDoNot) {
  vlX11Connection* a = nullptr;
  vlX11Connection* b = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &a), 0);
  ASSERT_EQ(OpenX11Screen(server_.name(), &b), 0);
  EXPECT_EQ(a, b);
  EXPECT_STREQ(a->name, server_.name());
  EXPECT_EQ(a->pixelFormat, 10);
  EXPECT_EQ(a->rootDepth, 24);
  // ":N.0" names the same server but is another string: another connection.
  std::string screenZero = std::string(server_.name()) + ".0";
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(screenZero.c_str(), &c), 0);
  EXPECT_NE(a, c);
  EXPECT_EQ(a->next, c);
}

TEST_F(X11Connection, NullAndEmptyNameAreTheDefaultDisplay) {
  setenv("DISPLAY", server_.name(), 1);
  vlX11Connection* a = nullptr;
  vlX11Connection* b = nullptr;
  ASSERT_EQ(OpenX11Screen(nullptr, &a), 0);
  ASSERT_EQ(OpenX11Screen("", &b), 0);
  EXPECT_EQ(a, b);
  EXPECT_STREQ(a->name, "");
  vlX11Connection* named = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &named), 0);
  EXPECT_NE(named, a);
}

TEST_F(X11Connection, UnreachableOrOverlongNamesFail) {
  vlX11Connection* c = nullptr;
  EXPECT_EQ(OpenX11Screen(":4093", &c), ERR_XDISPLAY);
  std::string longName(300, 'x');
  EXPECT_EQ(OpenX11Screen(longName.c_str(), &c), ERR_XDISPLAY);
  EXPECT_EQ(FirstX11Connection(), nullptr);
}

TEST_F(X11Connection, SixteenBitScreenDecidesFormatThenTwentyFourBitFails) {
  PrivateXServer sixteen;
  if (!sixteen.Start(640, 480, 16) || !sixteen.isPrivate()) GTEST_SKIP() << "Xvfb not installed";
  vlDisplay display{};
  display.xDisplayName = const_cast<char*>(sixteen.name());
  ASSERT_EQ(AllocDisplayPlatformData(&display), 0);
  ASSERT_EQ(AttachDisplayToX11Screen(&display), 0);
  EXPECT_EQ(display.window->connection->pixelFormat, 4);
  EXPECT_EQ(GetGlobalPixelFormat(), 4);
  vlX11Connection* c = nullptr;
  EXPECT_EQ(OpenX11Screen(server_.name(), &c), ERR_PIXELFORMAT);
  // The refused connection is not kept: asking again fails again.
  EXPECT_EQ(OpenX11Screen(server_.name(), &c), ERR_PIXELFORMAT);
  EXPECT_EQ(FirstX11Connection()->next, nullptr);
  FreeDisplayPlatformData(&display);
  FreePlatform();  // while the 16-bit server still runs
}

TEST_F(X11Connection, PixelFormatsOfTheFourMaskLayouts) {
  EXPECT_EQ(PixelFormatFromMasks(0xFF0000, 0xFF00, 0xFF), 10);
  EXPECT_EQ(PixelFormatFromMasks(0xFF00, 0xFF0000, 0xFF000000), 11);
  EXPECT_EQ(PixelFormatFromMasks(0xFF000000, 0xFF0000, 0xFF00), 12);
  EXPECT_EQ(PixelFormatFromMasks(0xF800, 0x7E0, 0x1F), 4);
  EXPECT_EQ(PixelFormatFromMasks(0x7C00, 0x3E0, 0x1F), -1);
}

TEST_F(X11Connection, WithoutWindowManagerExtentsStayZeroAndNoProbeWindowRemains) {
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  EXPECT_EQ(c->frameLeft, 0);
  EXPECT_EQ(c->frameTop, 0);
  EXPECT_EQ(c->frameWidth, 0);
  EXPECT_EQ(c->frameHeight, 0);
  Display* d = XOpenDisplay(server_.name());
  ASSERT_NE(d, nullptr);
  Window root, parent, *children = nullptr;
  unsigned count = 99;
  ASSERT_TRUE(XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count));
  EXPECT_EQ(count, 0u);
  if (children) XFree(children);
  XCloseDisplay(d);
}

// Sets a one-window property (format 32) on a window.
void SetWindowProperty(Display* d, Window on, const char* name, Window value) {
  long data = static_cast<long>(value);
  XChangeProperty(d, on, XInternAtom(d, name, False), XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&data), 1);
}

// Frame extents are asked only of a running EWMH manager: without one (or
// with a check property left by a manager that is gone) no probe window is
// made, and a manager stand-in that answers gets its extents read.
TEST_F(X11Connection, FrameExtentsAskedOnlyOfARunningEwmhManager) {
  Display* wm = XOpenDisplay(server_.name());
  ASSERT_NE(wm, nullptr);
  Window root = DefaultRootWindow(wm);
  XSelectInput(wm, root, SubstructureNotifyMask);  // sees any probe window made
  auto probeMade = [&] {
    XSync(wm, False);
    bool made = false;
    while (XPending(wm)) {
      XEvent e;
      XNextEvent(wm, &e);
      made |= e.type == CreateNotify;
    }
    return made;
  };
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  EXPECT_FALSE(probeMade()) << "no manager";
  FreePlatform();

  Window gone = XCreateSimpleWindow(wm, root, 0, 0, 1, 1, 0, 0, 0);
  SetWindowProperty(wm, root, "_NET_SUPPORTING_WM_CHECK", gone);
  XDestroyWindow(wm, gone);
  probeMade();
  ASSERT_EQ(InitPlatform(), 0);
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  EXPECT_FALSE(probeMade()) << "stale check property";
  FreePlatform();

  Window check = XCreateSimpleWindow(wm, root, 0, 0, 1, 1, 0, 0, 0);
  SetWindowProperty(wm, root, "_NET_SUPPORTING_WM_CHECK", check);
  SetWindowProperty(wm, check, "_NET_SUPPORTING_WM_CHECK", check);
  XSync(wm, False);
  probeMade();
  // The manager answers on a connection and thread of its own.
  std::atomic<bool> stop{false};
  std::thread manager([&, name = std::string(server_.name())] {
    Display* m = XOpenDisplay(name.c_str());
    if (!m) return;
    XSelectInput(m, DefaultRootWindow(m), SubstructureRedirectMask);
    Atom request = XInternAtom(m, "_NET_REQUEST_FRAME_EXTENTS", False);
    Atom extents = XInternAtom(m, "_NET_FRAME_EXTENTS", False);
    XSync(m, False);
    while (!stop) {
      while (XPending(m)) {
        XEvent e;
        XNextEvent(m, &e);
        if (e.type != ClientMessage || e.xclient.message_type != request) continue;
        long frame[4] = {4, 6, 20, 5};  // left, right, top, bottom
        XChangeProperty(m, e.xclient.window, extents, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(frame), 4);
        XFlush(m);
      }
      usleep(1000);
    }
    XCloseDisplay(m);
  });
  usleep(100000);  // the stand-in selects redirection before the probe goes out
  ASSERT_EQ(InitPlatform(), 0);
  EXPECT_EQ(OpenX11Screen(server_.name(), &c), 0);
  stop = true;
  manager.join();
  EXPECT_TRUE(probeMade());
  EXPECT_EQ(c->frameLeft, 4);
  EXPECT_EQ(c->frameTop, 20);
  EXPECT_EQ(c->frameWidth, 10);
  EXPECT_EQ(c->frameHeight, 25);
  XCloseDisplay(wm);
}

TEST_F(X11Connection, CursorsAndArgbVisualAreMade) {
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  EXPECT_NE(c->busyCursor, 0u);
  EXPECT_NE(c->moveCursor, 0u);
  EXPECT_NE(c->invisibleCursor, 0u);
  for (Cursor cursor : c->borderCursors) EXPECT_NE(cursor, 0u);
  // Xvfb offers a depth-32 TrueColor visual through Composite.
  if (c->argbVisual) {
    EXPECT_NE(c->argbColormap, 0u);
  }
  EXPECT_GT(c->fd, 2);
}

TEST(X11FrameExtents, ReadsWellFormedPropertyAndRejectsMalformed) {
  PrivateXServer server;
  START_X_SERVER(server);
  Display* d = XOpenDisplay(server.name());
  ASSERT_NE(d, nullptr);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
  Atom extents = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
  long values[4] = {3, 5, 20, 4};  // left, right, top, bottom
  XChangeProperty(d, w, extents, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(values), 4);
  int left = -1, top = -1, horizontal = -1, vertical = -1;
  GetFrameExtents(d, w, &left, &top, &horizontal, &vertical);
  EXPECT_EQ(left, 3);
  EXPECT_EQ(top, 20);
  EXPECT_EQ(horizontal, 8);
  EXPECT_EQ(vertical, 24);
  XChangeProperty(d, w, extents, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(values), 3);
  GetFrameExtents(d, w, &left, &top, &horizontal, &vertical);
  EXPECT_EQ(left + top + horizontal + vertical, 0);
  XChangeProperty(d, w, extents, XA_INTEGER, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(values), 4);
  GetFrameExtents(d, w, &left, &top, &horizontal, &vertical);
  EXPECT_EQ(left + top + horizontal + vertical, 0);
  XCloseDisplay(d);
}

TEST_F(X11Connection, PointerWatchPostsOneCoalescedMessagePerMove) {
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  ASSERT_NE(c->pointerWatch, 0u);
  Display* d = XOpenDisplay(server_.name());
  ASSERT_NE(d, nullptr);
  Window root = DefaultRootWindow(d);
  // Let the watch take the first position, then forget what it sent.
  usleep(100000);
  Drain();
  ClearCoalescedWake(&c->pointerWake);

  // A pointer that stays put: nothing.
  EXPECT_FALSE(PipeReadable(200));

  XWarpPointer(d, None, root, 0, 0, 0, 0, 123, 45);
  XSync(d, False);
  ASSERT_TRUE(PipeReadable(5000));
  vlWakeMsg message{};
  usleep(100000);
  // Many moves while the first message is unread: still one message.
  for (int i = 0; i < 5; i++) {
    XWarpPointer(d, None, root, 0, 0, 0, 0, 200 + i * 10, 300);
    XSync(d, False);
    usleep(40000);
  }
  EXPECT_EQ(Drain(&message), 1);
  EXPECT_EQ(message.type, VL_WAKE_POINTER_MOVED);
  EXPECT_EQ(message.value, reinterpret_cast<uintptr_t>(c));
  XCloseDisplay(d);
}

vlDisplay* gHookDisplays = nullptr;

TEST_F(X11Connection, WaitReturnsOnPointerMoveAndFlagsTheDisplayWithAMoveHandler) {
  vlDisplay withoutHandler{}, withHandler{};
  ASSERT_EQ(AllocDisplayPlatformData(&withoutHandler), 0);
  ASSERT_EQ(AllocDisplayPlatformData(&withHandler), 0);
  withoutHandler.xDisplayName = withHandler.xDisplayName = const_cast<char*>(server_.name());
  ASSERT_EQ(AttachDisplayToX11Screen(&withoutHandler), 0);
  ASSERT_EQ(AttachDisplayToX11Screen(&withHandler), 0);
  EXPECT_EQ(withoutHandler.window->connection, withHandler.window->connection);
  withHandler.hasMouseMoveHandler = 1;
  withoutHandler.next = &withHandler;
  gHookDisplays = &withoutHandler;
  gX11Hooks.firstDisplay = [] { return gHookDisplays; };

  Display* d = XOpenDisplay(server_.name());
  ASSERT_NE(d, nullptr);
  XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 321, 123);
  XSync(d, False);
  // The first position or the warp: either way a pointer message comes.
  for (int i = 0; i < 50 && !withHandler.mouseMoved; i++) {
    ASSERT_TRUE(PipeReadable(5000));
    EXPECT_EQ(WaitX11Event(nullptr, 0), 0);
  }
  EXPECT_EQ(withHandler.mouseMoved, 1);
  EXPECT_EQ(withoutHandler.mouseMoved, 0);
  EXPECT_GT(withHandler.lastMoveTime.seconds, 0u);
  XCloseDisplay(d);
  FreeDisplayPlatformData(&withoutHandler);
  FreeDisplayPlatformData(&withHandler);
}

TEST_F(X11Connection, SkipFlagMakesTheNextWaitReturnAtOnce) {
  SetSkipNextWait();
  EXPECT_EQ(WaitX11Event(nullptr, 0), 0);  // would block forever otherwise
  ASSERT_EQ(PostWakeMessage(VL_WAKE_WAKE, 0), static_cast<int>(sizeof(vlWakeMsg)));
  ASSERT_TRUE(PipeReadable(5000));
  EXPECT_EQ(WaitX11Event(nullptr, 0), 0);
  EXPECT_EQ(Drain(), 0);
}

TEST_F(X11Connection, NoMouseHookOptionStartsNoWatch) {
  vlStartup.noMouseHook = 1;
  vlX11Connection* c = nullptr;
  ASSERT_EQ(OpenX11Screen(server_.name(), &c), 0);
  EXPECT_EQ(c->pointerWatch, 0u);
}

}  // namespace

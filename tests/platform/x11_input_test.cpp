// Input translation against a real Xvfb server: keys and buttons made by
// XTest, window-manager messages, moves and sizes, the user dragging a
// borderless window, XDND drops from a source client written here with
// Xlib, and the CLIPBOARD both ways with xclip and with an INCR owner.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_input.h"
#include "platform/x11/x11_window.h"
#include "runtime/event_queue.h"
#include "tests/platform/x11_server.h"
#include "vm/error_codes.h"

namespace {

vlDisplay* gTestDisplay = nullptr;
vlDisplay* TestDisplays() { return gTestDisplay; }

int gSwitches = 0, gSwitchFull = -1, gResizes = 0, gResizeW = 0, gResizeH = 0;
int CountSwitch(vlVMState*, vlDisplay*, int full) {
  ++gSwitches;
  gSwitchFull = full;
  return 0;
}
int CountResize(vlVMState*, vlDisplay* d, int w, int h) {
  ++gResizes;
  gResizeW = w;
  gResizeH = h;
  d->width = w;
  d->height = h;
  return 0;
}

struct Posted {
  uint32_t type, a, b, c;
  std::vector<std::string> files;
};

class X11Input : public ::testing::Test {
 protected:
  void SetUp() override {
    START_X_SERVER(server_);
    ASSERT_EQ(InitPlatform(), 0);
    ASSERT_EQ(InitEventQueue(), 0);
    display_ = new vlDisplay{};
    for (int32_t& h : display_->handlers) h = -1;
    display_->xDisplayName = const_cast<char*>(server_.name());
    display_->title = const_cast<char*>("input");
    display_->x = 20;
    display_->y = 30;
    display_->width = 200;
    display_->height = 150;
    display_->displayState = VL_DISPSTATE_OPEN;
    ASSERT_EQ(AllocDisplayPlatformData(display_), 0);
    gTestDisplay = display_;
    gX11Hooks.firstDisplay = TestDisplays;
    gX11InputHooks.switchMode = CountSwitch;
    gX11InputHooks.resizeDisplay = CountResize;
    gSwitches = gResizes = 0;
    gSwitchFull = -1;
    quit_ = 0;
    BindQuitFlag(&quit_);
    savedBackend_ = gInputBackend;
    gInputBackend.handleInput = HandleX11Events;
    probe_ = XOpenDisplay(server_.name());
    ASSERT_NE(probe_, nullptr);
    SetPlatformOption(0, VL_PLATOPT_CTRLC_QUIT, 1);
    SetPlatformOption(0, VL_PLATOPT_ESCAPE_QUIT, 0);
    SetPlatformOption(0, VL_PLATOPT_LMB_QUIT, 0);
  }
  void TearDown() override {
    gInputBackend = savedBackend_;
    BindQuitFlag(nullptr);
    if (display_) {
      if (display_->window && display_->window->window) {
        FreeClipboardOffer(display_->window);
        CloseX11Window(display_);
      }
      FreeDisplayPlatformData(display_);
      delete display_;
    }
    gTestDisplay = nullptr;
    if (probe_) XCloseDisplay(probe_);
    FreeEventQueue(nullptr);
    FreeEventQueueMutex();
    FreePlatform();
    ResetX11Hooks();
    ResetX11InputHooks();
    ResetPlatformHooks();
  }

  void Open(uint32_t style = 0) {
    display_->styleFlags = style;
    ASSERT_EQ(OpenX11Window(display_, 1, nullptr, nullptr), 0);
    win_ = display_->window->window;
    // Settle: the map, focus and configure events of the opening.
    Pump(100);
    Drain();
    events_.clear();
  }

  // Pumps until cond holds or the time-out passes; true when it held.
  bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      int error = 0;
      lastStop_ = HandleX11Events(nullptr, &error);
      lastError_ = error;
      if (cond()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
  }
  void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
  }
  // Moves every queued event into the list.
  void Drain() {
    vlEventMsg e;
    while (GetPendingEvent(0, &e, 1)) {
      Posted p{e.type, e.a, e.b, e.c, {}};
      if (e.type == VL_XEV_DROP && e.extra) {
        for (const char* f = static_cast<const char*>(e.extra); *f; f += strlen(f) + 1) p.files.push_back(f);
        FreeMemory(e.extra);
      }
      events_.push_back(p);
      DropPendingEvents(nullptr, 0, 1);
    }
  }
  std::vector<Posted> Of(uint32_t type) {
    std::vector<Posted> out;
    for (const Posted& p : events_)
      if (p.type == type) out.push_back(p);
    return out;
  }
  bool WaitFor(uint32_t type, size_t count = 1, int timeoutMs = 5000) {
    return PumpUntil(
        [&] {
          Drain();
          return Of(type).size() >= count;
        },
        timeoutMs);
  }
  void Key(KeySym sym, bool press) {
    KeyCode code = XKeysymToKeycode(probe_, sym);
    if (!code) code = MapSpareKey(sym);
    XTestFakeKeyEvent(probe_, code, press, CurrentTime);
    XFlush(probe_);
  }
  // Binds a keysym the server's map lacks to a spare key code.
  KeyCode MapSpareKey(KeySym sym) {
    int low, high;
    XDisplayKeycodes(probe_, &low, &high);
    KeyCode spare = static_cast<KeyCode>(high - 1);
    KeySym syms[1] = {sym};
    XChangeKeyboardMapping(probe_, spare, 1, syms, 1);
    XSync(probe_, False);
    // Let our connection read the map change before the key arrives.
    Pump(50);
    return spare;
  }
  // Gives the window the focus and waits until the server has it, and the
  // window's event mask, in place: on a loaded machine a key typed at once
  // could otherwise go to no one.
  void Focus() {
    XSync(display_->window->display, False);
    for (int tries = 0; tries < 200; ++tries) {
      XSetInputFocus(probe_, win_, RevertToParent, CurrentTime);
      XSync(probe_, False);
      Window focus = None;
      int revert = 0;
      XGetInputFocus(probe_, &focus, &revert);
      if (focus == win_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the window never took the focus";
  }
  void PointerTo(int x, int y) {
    XTestFakeMotionEvent(probe_, DefaultScreen(probe_), display_->x + x, display_->y + y, CurrentTime);
    XFlush(probe_);
  }
  void Button(unsigned button, bool press) {
    XTestFakeButtonEvent(probe_, button, press, CurrentTime);
    XFlush(probe_);
  }

  PrivateXServer server_;
  vlDisplay* display_ = nullptr;
  Display* probe_ = nullptr;
  Window win_ = 0;
  volatile int quit_ = 0;
  vlInputBackend savedBackend_{};
  std::vector<Posted> events_;
  int lastStop_ = 0, lastError_ = 0;
};

TEST_F(X11Input, KeyTableAndSpecialKeys) {
  EXPECT_EQ(KeysymToKeyCode('a'), 'a');
  EXPECT_EQ(KeysymToKeyCode(XK_space), 276);
  EXPECT_EQ(KeysymToKeyCode(XK_Home), 281);
  EXPECT_EQ(KeysymToKeyCode(XK_Begin), 281);
  EXPECT_EQ(KeysymToKeyCode(XK_F1), 261);
  EXPECT_EQ(KeysymToKeyCode(XK_F10), 270);
  EXPECT_EQ(KeysymToKeyCode(XK_F11), 278);
  EXPECT_EQ(KeysymToKeyCode(XK_F15), 289);
  EXPECT_EQ(KeysymToKeyCode(XK_KP_7), '7');
  EXPECT_EQ(KeysymToKeyCode(XK_KP_Enter), 273);
  EXPECT_EQ(KeysymToKeyCode(XK_Next), 284);
  EXPECT_EQ(KeysymToKeyCode(XK_udiaeresis), 0xFC);
  EXPECT_EQ(KeysymToKeyCode(XK_Shift_L), -1);
  EXPECT_EQ(KeysymToKeyCode(XK_Hyper_L), -1);  // no row: no event
}

TEST_F(X11Input, TypedKeysPostCodesAndKeepTheKeyStates) {
  Open();
  Focus();
  Key('a', true);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY));
  EXPECT_EQ(display_->keyState['a'], 1);
  Key('a', false);
  Key(XK_space, true);
  Key(XK_space, false);
  Key(XK_Home, true);
  Key(XK_Home, false);
  Key(XK_Begin, true);
  Key(XK_Begin, false);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY, 8));
  auto keys = Of(VL_XEV_KEY);
  ASSERT_EQ(keys.size(), 8u);
  const uint32_t want[8][2] = {{1, 'a'}, {0, 'a'}, {1, 276}, {0, 276}, {1, 281}, {0, 281}, {1, 281}, {0, 281}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(keys[i].a, want[i][0]) << i;
    EXPECT_EQ(keys[i].c, want[i][1]) << i;
    EXPECT_EQ(keys[i].b, 0u);
  }
  EXPECT_EQ(display_->keyState['a'], 0);
}

TEST_F(X11Input, ModifiersMakeTheQualifierWordAndPostNothing) {
  Open();
  Focus();
  EXPECT_EQ(GetQualifiers(display_), 0x80000000u);
  Key(XK_Shift_L, true);
  Key(XK_Control_R, true);
  ASSERT_TRUE(PumpUntil([&] { return GetQualifiers(display_) == (0x80000000u | 0x10000 | 0x800000); }));
  Key(XK_Shift_L, false);
  ASSERT_TRUE(PumpUntil([&] { return GetQualifiers(display_) == (0x80000000u | 0x800000); }));
  Key(XK_Control_R, false);
  ASSERT_TRUE(PumpUntil([&] { return GetQualifiers(display_) == 0x80000000u; }));
  Drain();
  EXPECT_TRUE(Of(VL_XEV_KEY).empty());
}

// A key is up again when its own key goes up, whatever the modifiers did
// in between: Shift, A down; Shift up; A up leaves neither "A" nor "a" down.
TEST_F(X11Input, AKeyReleasesWhatItsPressMeant) {
  Open();
  Focus();
  Key(XK_Shift_L, true);
  Key(XK_a, true);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY));
  EXPECT_EQ(display_->keyState['A'], 1);
  Key(XK_Shift_L, false);
  Key(XK_a, false);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY, 2));
  auto keys = Of(VL_XEV_KEY);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].a, 0u);
  EXPECT_EQ(keys[1].c, static_cast<uint32_t>('A'));
  EXPECT_EQ(display_->keyState['A'], 0);
  EXPECT_EQ(display_->keyState['a'], 0);
  EXPECT_EQ(GetQualifiers(display_), 0x80000000u);
}

// Modifiers let go while the window has no focus count as up, so a later
// Return cannot be taken for Alt+Return.
TEST_F(X11Input, FocusLossReleasesTheModifiers) {
  Open();
  Focus();
  Key(XK_Alt_L, true);
  Key(XK_Shift_R, true);
  ASSERT_TRUE(PumpUntil([&] { return GetQualifiers(display_) == (0x80000000u | 0x40000 | 0x20000); }));
  XSetInputFocus(probe_, PointerRoot, RevertToParent, CurrentTime);
  XSync(probe_, False);
  ASSERT_TRUE(WaitFor(VL_XEV_INACTIVE));
  Key(XK_Alt_L, false);
  Key(XK_Shift_R, false);
  EXPECT_EQ(GetQualifiers(display_), 0x80000000u);
  Focus();
  ASSERT_TRUE(WaitFor(VL_XEV_ACTIVE));
  Key(XK_Return, true);
  Key(XK_Return, false);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY, 2));
  Pump(50);
  Drain();
  EXPECT_TRUE(Of(VL_XEV_MODE_SWITCH).empty());
  EXPECT_EQ(GetQualifiers(display_), 0x80000000u);
}

TEST_F(X11Input, AltReturnSwitchesOnReleaseAndPostsModeSwitch) {
  Open();
  Focus();
  Key(XK_Alt_L, true);
  Key(XK_Return, true);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY));
  EXPECT_EQ(gSwitches, 0);  // not on the press
  Key(XK_Return, false);
  Key(XK_Alt_L, false);
  ASSERT_TRUE(WaitFor(VL_XEV_MODE_SWITCH));
  EXPECT_EQ(gSwitches, 1);
  EXPECT_EQ(gSwitchFull, 1);  // windowed -> full screen
  auto keys = Of(VL_XEV_KEY);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].c, 274u);
  EXPECT_EQ(keys[1].c, 274u);
  EXPECT_EQ(keys[1].a, 0u);
  // Key events come before the switch.
  size_t firstSwitch = 0;
  while (events_[firstSwitch].type != VL_XEV_MODE_SWITCH) ++firstSwitch;
  EXPECT_EQ(events_[firstSwitch - 1].type, VL_XEV_KEY);

  // A display that forbids the switch by keyboard keeps its mode.
  display_->styleFlags |= VL_DISPSTYLE_NOMODESWITCH;
  Key(XK_Alt_L, true);
  Key(XK_Return, true);
  Key(XK_Return, false);
  Key(XK_Alt_L, false);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY, 4));
  Pump(50);
  EXPECT_EQ(gSwitches, 1);
}

TEST_F(X11Input, CtrlCAndEscapeQuitOnlyWhenSwitchedOn) {
  Open();
  Focus();
  Key(XK_Escape, true);
  Key(XK_Escape, false);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY, 2));
  EXPECT_EQ(quit_, 0);
  SetPlatformOption(0, VL_PLATOPT_ESCAPE_QUIT, 1);
  Key(XK_Escape, true);
  ASSERT_TRUE(PumpUntil([&] { return quit_ != 0; }));
  EXPECT_EQ(lastStop_, 1);
  Key(XK_Escape, false);
  ASSERT_TRUE(WaitFor(VL_XEV_KEY, 4));
  // Escape tapped before another key, all in one pass, still quits; the
  // pass leaves both presses behind for the waits, and the keys up.
  quit_ = 0;
  events_.clear();
  ForgetPresses(display_, 0, VL_PRESSED_COUNT);
  Key(XK_Escape, true);
  Key(XK_Escape, false);
  Key('a', true);
  Key('a', false);
  XSync(probe_, False);
  // Read, not handled, until all four are there.
  for (int i = 0; i < 500 && XEventsQueued(display_->window->display, QueuedAfterReading) < 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int error = 0;
  EXPECT_EQ(HandleX11Events(nullptr, &error), 1);
  EXPECT_EQ(quit_, 1);
  Drain();
  EXPECT_EQ(Of(VL_XEV_KEY).size(), 4u) << "not one pass";
  EXPECT_TRUE(PressedSince(display_, VL_KEY_ESCAPE, 1));
  EXPECT_TRUE(PressedSince(display_, 'a', 1));
  EXPECT_FALSE(PressedSince(display_, 'b', 1));
  EXPECT_FALSE(PressedSince(display_, VL_PRESSED_LEFT, 3));
  EXPECT_EQ(display_->keyState['a'], 0);
  quit_ = 0;
  SetPlatformOption(0, VL_PLATOPT_ESCAPE_QUIT, 0);
  Key(XK_Control_L, true);
  Key('c', true);
  ASSERT_TRUE(PumpUntil([&] { return quit_ != 0; }));
  Key('c', false);
  Key(XK_Control_L, false);
}

TEST_F(X11Input, ButtonsAndWheelPostWindowPositions) {
  Open();
  PointerTo(50, 60);
  Button(1, true);
  ASSERT_TRUE(WaitFor(VL_XEV_LEFT));
  EXPECT_EQ(display_->leftButton, 1);
  Button(1, false);
  Button(3, true);
  Button(3, false);
  Button(2, true);
  Button(2, false);
  Button(4, true);
  Button(4, false);
  Button(5, true);
  Button(5, false);
  ASSERT_TRUE(WaitFor(VL_XEV_WHEEL_DOWN));
  auto left = Of(VL_XEV_LEFT);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].a, 50u);
  EXPECT_EQ(left[0].b, 60u);
  EXPECT_EQ(left[0].c, 1u);
  EXPECT_EQ(left[1].c, 0u);
  EXPECT_EQ(display_->leftButton, 0);
  auto right = Of(VL_XEV_RIGHT);
  ASSERT_EQ(right.size(), 2u);
  EXPECT_EQ(right[0].c, 1u);
  auto middle = Of(VL_XEV_MIDDLE);
  ASSERT_EQ(middle.size(), 2u);
  EXPECT_EQ(middle[1].c, 0u);
  EXPECT_EQ(Of(VL_XEV_WHEEL_UP).size(), 1u);  // presses only
  EXPECT_EQ(Of(VL_XEV_WHEEL_DOWN).size(), 1u);
}

TEST_F(X11Input, PointerMotionSetsTheMovedFlag) {
  Open();
  display_->mouseMoved = 0;
  PointerTo(10, 10);
  PointerTo(12, 14);
  ASSERT_TRUE(PumpUntil([&] { return display_->mouseMoved == 1; }));
}

TEST_F(X11Input, FocusChangesPostAndClearTheKeys) {
  Open();
  XSetInputFocus(probe_, PointerRoot, RevertToParent, CurrentTime);
  XSync(probe_, False);
  Pump(50);
  Drain();
  events_.clear();
  Focus();
  ASSERT_TRUE(WaitFor(VL_XEV_ACTIVE));
  EXPECT_EQ(display_->active, 1);
  display_->keyState['x'] = 1;
  XSetInputFocus(probe_, PointerRoot, RevertToParent, CurrentTime);
  XSync(probe_, False);
  ASSERT_TRUE(WaitFor(VL_XEV_INACTIVE));
  EXPECT_EQ(display_->active, 0);
  EXPECT_EQ(display_->keyState['x'], 0);
}

TEST_F(X11Input, CloseRequestQuitsWithoutAHandler) {
  Open();
  auto sendDelete = [&] {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = win_;
    ev.xclient.message_type = XInternAtom(probe_, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(probe_, "WM_DELETE_WINDOW", False));
    XSendEvent(probe_, win_, False, NoEventMask, &ev);
    XFlush(probe_);
  };
  display_->handlers[3 * 2] = 5;  // a closewindow handler
  sendDelete();
  ASSERT_TRUE(WaitFor(VL_XEV_CLOSE));
  EXPECT_EQ(quit_, 0);
  display_->handlers[3 * 2] = -1;
  sendDelete();
  ASSERT_TRUE(PumpUntil([&] { return quit_ != 0; }));
  Drain();
  EXPECT_EQ(Of(VL_XEV_CLOSE).size(), 2u);
}

TEST_F(X11Input, MovesPostAndSizesAreAppliedAfterTheLoop) {
  Open();
  XMoveWindow(probe_, win_, 70, 80);
  XFlush(probe_);
  ASSERT_TRUE(WaitFor(VL_XEV_MOVE));
  EXPECT_EQ(display_->x, 70);
  EXPECT_EQ(display_->y, 80);
  XResizeWindow(probe_, win_, 260, 170);
  XFlush(probe_);
  ASSERT_TRUE(WaitFor(VL_XEV_SIZE));
  EXPECT_EQ(gResizes, 1);
  EXPECT_EQ(gResizeW, 260);
  EXPECT_EQ(gResizeH, 170);
}

TEST_F(X11Input, MapAndUnmapFollowTheWindowState) {
  Open();
  XUnmapWindow(probe_, win_);
  XFlush(probe_);
  ASSERT_TRUE(WaitFor(VL_XEV_HIDE));
  EXPECT_EQ(display_->visibility, 2);
  XMapWindow(probe_, win_);
  XFlush(probe_);
  ASSERT_TRUE(WaitFor(VL_XEV_SHOW));
  EXPECT_EQ(display_->visibility, 1);
}

TEST_F(X11Input, DraggingABorderlessWindowMovesItAndPostsNothing) {
  display_->dragRegionsScaled[0] = {0, 0, 0, 200, 20};
  display_->dragRegionCount = 1;
  Open(VL_DISPSTYLE_BORDERLESS);
  XMoveWindow(probe_, win_, 20, 30);
  XSync(probe_, False);
  Pump(50);
  Drain();
  events_.clear();
  PointerTo(10, 10);
  Pump(30);
  Button(1, true);
  ASSERT_TRUE(PumpUntil([&] { return display_->window->moving == 1; }));
  XTestFakeMotionEvent(probe_, DefaultScreen(probe_), 20 + 10 + 40, 30 + 10 + 25, CurrentTime);
  XFlush(probe_);
  ASSERT_TRUE(PumpUntil([&] { return display_->x == 60 && display_->y == 55; }));
  Button(1, false);
  ASSERT_TRUE(PumpUntil([&] { return display_->window->moving == 0; }));
  Drain();
  EXPECT_TRUE(Of(VL_XEV_LEFT).empty());
  // Outside the region the button works as usual.
  XTestFakeMotionEvent(probe_, DefaultScreen(probe_), 60 + 50, 55 + 100, CurrentTime);
  Button(1, true);
  Button(1, false);
  ASSERT_TRUE(WaitFor(VL_XEV_LEFT, 2));
}

TEST_F(X11Input, BorderZones) {
  int ox = -1, oy = -1;
  const int32_t topLeft[5] = {0, 0, 0, 10, 10};
  EXPECT_EQ(HitTestWindowBorder(200, 100, 3, 4, topLeft, &ox, &oy), 0);
  EXPECT_EQ(ox, 3);
  EXPECT_EQ(oy, 4);
  const int32_t right[5] = {0, 190, 20, 10, 60};
  EXPECT_EQ(HitTestWindowBorder(200, 100, 195, 50, right, &ox, &oy), 5);
  EXPECT_EQ(ox, 199 - 195);
  const int32_t bottomRight[5] = {0, 190, 90, 10, 10};
  EXPECT_EQ(HitTestWindowBorder(200, 100, 195, 97, bottomRight, &ox, &oy), 3);
  EXPECT_EQ(ox, 4);
  EXPECT_EQ(oy, 2);
  const int32_t bottom[5] = {0, 20, 90, 100, 10};
  EXPECT_EQ(HitTestWindowBorder(200, 100, 50, 95, bottom, &ox, &oy), 7);
  EXPECT_EQ(oy, 4);
  const int32_t middle[5] = {0, 50, 40, 20, 20};
  EXPECT_EQ(HitTestWindowBorder(200, 100, 55, 45, middle, &ox, &oy), 8);
}

TEST_F(X11Input, UriListsDecodeIntoFileLists) {
  auto decode = [](const std::string& text) {
    std::vector<std::string> out;
    char* list = DecodeUriList(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    for (const char* f = list; *f; f += strlen(f) + 1) out.push_back(f);
    FreeMemory(list);
    return out;
  };
  EXPECT_EQ(decode("file:///tmp/a%20b.txt\r\nfile:///c\r\n"), (std::vector<std::string>{"/tmp/a b.txt", "/c"}));
  EXPECT_EQ(decode("file:///x"), (std::vector<std::string>{"/x"}));
  EXPECT_EQ(decode(""), std::vector<std::string>{});
  EXPECT_EQ(decode("\r\n\r\n# comment\nfile:///y%2"), (std::vector<std::string>{"/y%2"}));
  EXPECT_EQ(decode("file:///z%00q\n"), (std::vector<std::string>{"/z%00q"}));
  EXPECT_EQ(decode("/plain/%C3%BC\n"), (std::vector<std::string>{"/plain/\xC3\xBC"}));
}

// An XDND source on its own connection, driven step by step from the test.
class DndSource {
 public:
  explicit DndSource(Display* d) : d_(d) {
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    XSelectInput(d, window_, PropertyChangeMask);
    uriList_ = XInternAtom(d, "text/uri-list", False);
  }
  ~DndSource() { XDestroyWindow(d_, window_); }
  void Send(Window target, const char* type, long l1, long l2, long l3, long l4) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = XInternAtom(d_, type, False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(window_);
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(d_, target, False, NoEventMask, &ev);
    XFlush(d_);
  }
  void Enter(Window target) { Send(target, "XdndEnter", 5L << 24, static_cast<long>(uriList_), 0, 0); }
  void Position(Window target) { Send(target, "XdndPosition", 0, (30 << 16) | 40, CurrentTime, 0); }
  void Drop(Window target, const std::string& uris) {
    uris_ = uris;
    XSetSelectionOwner(d_, XInternAtom(d_, "XdndSelection", False), window_, CurrentTime);
    Send(target, "XdndDrop", 0, CurrentTime, 0, 0);
  }
  // Answers selection requests; returns client messages it received.
  std::vector<XClientMessageEvent> Service() {
    std::vector<XClientMessageEvent> got;
    while (XPending(d_)) {
      XEvent ev;
      XNextEvent(d_, &ev);
      if (ev.type == ClientMessage) got.push_back(ev.xclient);
      if (ev.type == SelectionRequest) {
        XSelectionRequestEvent& r = ev.xselectionrequest;
        // An empty list stands for a source that cannot convert its data.
        if (!uris_.empty())
          XChangeProperty(d_, r.requestor, r.property, r.target, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(uris_.data()), static_cast<int>(uris_.size()));
        XEvent n{};
        n.xselection.type = SelectionNotify;
        n.xselection.requestor = r.requestor;
        n.xselection.selection = r.selection;
        n.xselection.target = r.target;
        n.xselection.property = uris_.empty() ? None : r.property;
        n.xselection.time = r.time;
        XSendEvent(d_, r.requestor, False, NoEventMask, &n);
        XFlush(d_);
      }
    }
    return got;
  }
  Window window() const { return window_; }

 private:
  Display* d_;
  Window window_;
  Atom uriList_;
  std::string uris_;
};

TEST_F(X11Input, XdndDropPostsTheFileListAndFinishes) {
  Open();
  DndSource source(probe_);
  Atom status = XInternAtom(probe_, "XdndStatus", False);
  Atom finished = XInternAtom(probe_, "XdndFinished", False);
  Atom copy = XInternAtom(probe_, "XdndActionCopy", False);
  std::vector<XClientMessageEvent> replies;
  auto waitReply = [&](Atom type) {
    return PumpUntil([&] {
      for (auto& m : source.Service()) replies.push_back(m);
      for (auto& m : replies)
        if (m.message_type == type) return true;
      return false;
    });
  };

  // Without an ondropfile handler the position is refused.
  source.Enter(win_);
  source.Position(win_);
  ASSERT_TRUE(waitReply(status));
  EXPECT_EQ(replies.back().data.l[1], 0);
  EXPECT_EQ(replies.back().data.l[4], 0);
  EXPECT_EQ(static_cast<Window>(replies.back().data.l[0]), win_);

  replies.clear();
  display_->handlers[17 * 2] = 9;
  source.Enter(win_);
  source.Position(win_);
  ASSERT_TRUE(waitReply(status));
  EXPECT_EQ(replies.back().data.l[1], 1);
  EXPECT_EQ(static_cast<Atom>(replies.back().data.l[4]), copy);

  replies.clear();
  PointerTo(33, 44);
  source.Drop(win_, "file:///tmp/a%20b.txt\r\nfile:///c\r\n");
  ASSERT_TRUE(waitReply(finished));
  EXPECT_EQ(replies.back().data.l[1], 1);
  EXPECT_EQ(static_cast<Atom>(replies.back().data.l[2]), copy);
  ASSERT_TRUE(WaitFor(VL_XEV_DROP));
  auto drops = Of(VL_XEV_DROP);
  EXPECT_EQ(drops[0].files, (std::vector<std::string>{"/tmp/a b.txt", "/c"}));
  EXPECT_EQ(drops[0].a, 33u);
  EXPECT_EQ(drops[0].b, 44u);

  // A source that cannot give its data hears that nothing was taken.
  replies.clear();
  source.Enter(win_);
  source.Position(win_);
  ASSERT_TRUE(waitReply(status));
  replies.clear();
  source.Drop(win_, "");
  ASSERT_TRUE(waitReply(finished));
  EXPECT_EQ(replies.back().data.l[1], 0);
  EXPECT_EQ(replies.back().data.l[2], 0);
  Drain();
  EXPECT_EQ(Of(VL_XEV_DROP).size(), 1u);
}

// Runs a command while pumping our events, so that it can talk to us;
// its standard output.
std::string RunPumping(X11Input* test, const std::string& command, const std::function<void()>& pump,
                       const std::string& input = "") {
  std::string out;
  int toChild[2], fromChild[2];
  if (pipe(toChild) || pipe(fromChild)) return "<pipe>";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[1]);
    close(fromChild[0]);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  (void)test;
  close(toChild[0]);
  close(fromChild[1]);
  if (!input.empty()) (void)!write(toChild[1], input.data(), input.size());
  close(toChild[1]);
  fcntl(fromChild[0], F_SETFL, O_NONBLOCK);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    char buffer[4096];
    ssize_t n = read(fromChild[0], buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0 || std::chrono::steady_clock::now() > end) break;
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  close(fromChild[0]);
  int status;
  if (std::chrono::steady_clock::now() > end) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return out;
}

bool HaveXclip() { return system("command -v xclip >/dev/null 2>&1") == 0; }

TEST_F(X11Input, ClipboardTextGoesOutAsUtf8ToAnotherClient) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip missing";
  Open();
  const char latin1[] = "Gr\xFC\xDF" "e 100%";
  ASSERT_EQ(SetClipboardData(VL_CLIP_TEXT, latin1, strlen(latin1)), 0);
  std::string env = std::string("DISPLAY=") + server_.name() + " ";
  auto pump = [&] {
    int e;
    HandleX11Events(nullptr, &e);
  };
  EXPECT_EQ(RunPumping(this, env + "xclip -o -selection clipboard", pump), "Gr\xC3\xBC\xC3\x9F" "e 100%");
  std::string targets = RunPumping(this, env + "xclip -o -selection clipboard -t TARGETS", pump);
  EXPECT_NE(targets.find("UTF8_STRING"), std::string::npos);
  EXPECT_NE(targets.find("TARGETS"), std::string::npos);
  // Claiming offers nothing: a request is refused.
  ASSERT_EQ(ClaimClipboard(), 0);
  EXPECT_EQ(RunPumping(this, env + "xclip -o -selection clipboard 2>/dev/null", pump), "");
}

// An offer larger than the server takes in one request goes out in INCR
// pieces; nothing the reader does raises an X error.
TEST_F(X11Input, LargeClipboardOffersGoOutInPieces) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip missing";
  Open();
  std::string text(32u << 20, 'x');
  for (size_t i = 0; i < text.size(); i += 4093) text[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(SetClipboardData(VL_CLIP_TEXT, text.data(), text.size()), 0);
  uint64_t errors = GetX11Errors().count;
  std::string env = std::string("DISPLAY=") + server_.name() + " ";
  auto pump = [&] {
    int e;
    HandleX11Events(nullptr, &e);
  };
  std::string out = RunPumping(this, env + "xclip -o -selection clipboard", pump);
  EXPECT_EQ(out.size(), text.size());
  EXPECT_TRUE(out == text);
  EXPECT_EQ(GetX11Errors().count, errors);
}

// An error the server answers a request with is kept and counted; the
// process goes on (Xlib's own handler would end it).
TEST_F(X11Input, XErrorsAreRecordedNotFatal) {
  Open();
  Display* d = display_->window->display;
  uint64_t before = GetX11Errors().count;
  XDeleteProperty(d, static_cast<Window>(0x7FFFFF0), XInternAtom(d, "XCLIP_OUT", False));
  XSync(d, False);
  vlX11ErrorRecord after = GetX11Errors();
  EXPECT_EQ(after.count, before + 1);
  EXPECT_EQ(after.errorCode, BadWindow);
  EXPECT_EQ(after.requestCode, 19);  // X_DeleteProperty
}

// Starts xclip as the owner of the clipboard; it stays until replaced.
// Returns once the new owner holds the selection.
void OwnWithXclip(const char* server, const std::string& text, const char* target) {
  Display* d = XOpenDisplay(server);
  ASSERT_NE(d, nullptr);
  Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
  Window before = XGetSelectionOwner(d, clipboard);
  std::string command = std::string("DISPLAY=") + server + " xclip -i -selection clipboard -t " + target;
  FILE* p = popen(command.c_str(), "w");
  ASSERT_NE(p, nullptr);
  fwrite(text.data(), 1, text.size(), p);
  pclose(p);  // xclip serves from the background
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  Window now;
  while (((now = XGetSelectionOwner(d, clipboard)) == None || now == before) &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  XCloseDisplay(d);
}

TEST_F(X11Input, ClipboardTextComesInFromAnotherClient) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip missing";
  Open();
  OwnWithXclip(server_.name(), "Gr\xC3\xBC\xC3\x9F" "e", "UTF8_STRING");
  int kind = -1;
  ASSERT_EQ(QueryClipboardFormat(nullptr, &kind), 0);
  EXPECT_EQ(kind, VL_CLIP_TEXT);
  vlClipboardResult result{};
  ASSERT_EQ(ReadClipboard(nullptr, &result, &kind), 0);
  ASSERT_EQ(result.kind, VL_CLIP_TEXT);
  EXPECT_EQ(std::string(result.data, result.length), "Gr\xFC\xDF" "e");
  FreeMemory(result.data);

  // Characters without an ISO-8859-1 form become "?"; the rest stays.
  OwnWithXclip(server_.name(), "\xE2\x82\xAC 5 \xC3\xA9t\xC3\xA9", "UTF8_STRING");
  ASSERT_EQ(ReadClipboard(nullptr, &result, &kind), 0);
  EXPECT_EQ(std::string(result.data, result.length), "? 5 \xE9t\xE9");
  FreeMemory(result.data);

  // An owner of text/plain only: the bytes as they are.
  OwnWithXclip(server_.name(), "plain \xC3\xBC", "text/plain");
  ASSERT_EQ(ReadClipboard(nullptr, &result, &kind), 0);
  EXPECT_EQ(kind, VL_CLIP_TEXT);
  EXPECT_EQ(std::string(result.data, result.length), "plain \xC3\xBC");
  FreeMemory(result.data);
}

// An owner that sends its text in INCR chunks, on its own connection and
// thread while the reader pumps.
TEST_F(X11Input, ClipboardReadsIncrementalTransfers) {
  Open();
  std::string big(300000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  Display* d = XOpenDisplay(server_.name());
  ASSERT_NE(d, nullptr);
  Window owner = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  Atom clipboard = XInternAtom(d, "CLIPBOARD", False), targets = XInternAtom(d, "TARGETS", False),
       utf8 = XInternAtom(d, "UTF8_STRING", False), incr = XInternAtom(d, "INCR", False);
  XSetSelectionOwner(d, clipboard, owner, CurrentTime);
  XSync(d, False);
  std::atomic<bool> stop{false};
  std::atomic<int> chunks{0};
  std::thread server([&] {
    Window requestor = 0;
    Atom property = None;
    size_t sent = 0;
    bool sending = false;
    while (!stop) {
      while (XPending(d)) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == SelectionRequest) {
          XSelectionRequestEvent& r = ev.xselectionrequest;
          if (r.target == targets) {
            Atom list[2] = {targets, utf8};
            XChangeProperty(d, r.requestor, r.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(list), 2);
          } else {
            requestor = r.requestor;
            property = r.property;
            XSelectInput(d, requestor, PropertyChangeMask);
            long size = static_cast<long>(big.size());
            XChangeProperty(d, r.requestor, r.property, incr, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&size), 1);
            sending = true;
            sent = 0;
          }
          XEvent n{};
          n.xselection.type = SelectionNotify;
          n.xselection.requestor = r.requestor;
          n.xselection.selection = r.selection;
          n.xselection.target = r.target;
          n.xselection.property = r.property;
          n.xselection.time = r.time;
          XSendEvent(d, r.requestor, False, NoEventMask, &n);
          XFlush(d);
        } else if (ev.type == PropertyNotify && sending && ev.xproperty.window == requestor &&
                   ev.xproperty.atom == property && ev.xproperty.state == PropertyDelete) {
          size_t n = std::min<size_t>(65536, big.size() - sent);
          XChangeProperty(d, requestor, property, utf8, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(big.data() + sent), static_cast<int>(n));
          XFlush(d);
          sent += n;
          ++chunks;
          if (n == 0) sending = false;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  vlClipboardResult result{};
  int kind = 0;
  int status = ReadClipboard(nullptr, &result, &kind);
  stop = true;
  server.join();
  XDestroyWindow(d, owner);
  XCloseDisplay(d);
  ASSERT_EQ(status, 0);
  EXPECT_GT(chunks.load(), 4);
  ASSERT_EQ(result.length, big.size());
  EXPECT_EQ(std::string(result.data, result.length), big);
  FreeMemory(result.data);
}

TEST_F(X11Input, ClipboardNeedsAWindow) {
  int kind;
  EXPECT_EQ(ClaimClipboard(), ERR_CLIPOPEN);
  EXPECT_EQ(SetClipboardData(VL_CLIP_TEXT, "x", 1), ERR_CLIPOPEN);
  EXPECT_EQ(QueryClipboardFormat(nullptr, &kind), ERR_CLIPOPEN);
}

TEST_F(X11Input, AnEmptyClipboardReadsAsNothing) {
  Open();
  int kind = -1;
  ASSERT_EQ(QueryClipboardFormat(nullptr, &kind), 0);
  EXPECT_EQ(kind, VL_CLIP_NONE);
}

}  // namespace

// Scripts that handle real input of an open display on a private Xvfb:
// keys and buttons made by XTest reach handlers installed with
// InstallEventHandler through WaitEvent and CheckEvent, BGPic buttons get
// their clicks and hover, and the input queries read the display's state.
#include "tests/display/core/display_fixture.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "display/events/event_buttons.h"
#include "display/events/event_dispatch.h"
#include "display/events/event_keys.h"
#include "display/events/event_library.h"
#include "display/events/event_types.h"
#include "runtime/os.h"
#include "platform/x11/x11_input.h"
#include "runtime/event_queue.h"
#include "player/system_library.h"
#include "vm/error_codes.h"

namespace {

// The guide's table of key names is the key table as the event commands
// read it: the names iskeydown takes and what a key handler's "key" holds.
// On a difference the expected table is printed whole, to paste.
TEST(KeyNames, TheGuideListsTheKeyTable) {
  std::ostringstream expected;
  for (const vlKeyName& row : kKeyTable) {
    if (row.code < 256 && !(row.code & 0x80000000u)) continue;  // event names, not keys
    expected << "| `" << row.name << "` | ";
    if (row.code & 0x80000000u) {
      expected << "none: qualifier keys send no key event";
    } else {
      char text[32];
      KeyTextOfCode(row.code, text, sizeof text);
      std::string key = text;
      if (key == "\n") expected << "`\"\\n\"` (a line feed)";
      else if (key == std::string(8, ' ')) expected << "eight blanks";
      else if (key == " ") expected << "`\" \"` (one blank)";
      else expected << "`\"" << key << "\"`";
    }
    expected << " |\n";
  }
  std::ifstream guide(std::string(VL_SOURCE_ROOT) + "/tools/README.md");
  ASSERT_TRUE(guide.good());
  std::string line, listed;
  bool inside = false;
  while (std::getline(guide, line)) {
    if (line.rfind("<!-- keys:", 0) == 0) {
      inside = true;
      std::getline(guide, line);  // the heading
      std::getline(guide, line);  // its rule
      continue;
    }
    if (inside && line.empty()) break;
    if (inside) listed += line + "\n";
  }
  EXPECT_EQ(listed, expected.str()) << "the table tools/README.md should hold:\n" << expected.str();
}

using vltest::DisplayTest;

class DisplayEvents : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(InitEventQueue(), 0);
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    ASSERT_EQ(OpenEventLibrary(L), 0);
    vl::SetStackTop(L, 0);
    gInputBackend.handleInput = HandleX11Events;
    ASSERT_EQ(Run(".table 0 { width = 200, height = 120 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = GetDisplayByNumber(1);
    ASSERT_NE(d_, nullptr);
    ASSERT_EQ(d_->displayState, VL_DISPSTATE_OPEN);
    XSetInputFocus(probe_, d_->window->window, RevertToParent, CurrentTime);
    XSync(probe_, False);
    Settle();
  }
  void TearDown() override {
    if (started_) {
      FreeEventQueue(L);
      FreeEventLibrary(L);
      FreeEventQueueMutex();
    }
    DisplayTest::TearDown();
  }
  // Lets the opening's window events pass and drops what they queued.
  void Settle() {
    for (int i = 0; i < 20; ++i) {
      int error = 0;
      HandleX11Events(L, &error);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    DropPendingEvents(L, -1, 1);
    d_->mouseMoved = 0;
  }
  void Key(KeySym sym, bool press) {
    XTestFakeKeyEvent(probe_, XKeysymToKeycode(probe_, sym), press, CurrentTime);
    XFlush(probe_);
  }
  void PointerTo(int x, int y) {
    int rx, ry;
    Window child;
    XTranslateCoordinates(probe_, d_->window->window, DefaultRootWindow(probe_), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(probe_, DefaultScreen(probe_), rx, ry, CurrentTime);
    XFlush(probe_);
  }
  void Button(unsigned button, bool press) {
    XTestFakeButtonEvent(probe_, button, press, CurrentTime);
    XFlush(probe_);
  }
  // Runs CheckEvent until the global turns up or time runs out.
  bool CheckUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      // As the per-line pump of a script loop would.
      int error = 0;
      PumpEvents(L, VL_PUMP_LINE, 0, &error);
      if (Run(".call checkevent -> ev") != 0) return false;
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  }
  std::string Field(const char* global, const char* key) {
    vl::PushString(L, global);
    vl::GetTableValue(L, vl::kGlobalsIndex);
    vl::PushString(L, key);
    vl::GetTableValue(L, -2);
    const char* s = vl::ToStringAt(L, -1);
    std::string out = s ? s : "<nil>";
    vl::SetStackTop(L, 0);
    return out;
  }
  vlDisplay* d_ = nullptr;
};

const char* kRecorders = R"(
.function onkey
  .params 1
  getfield 1 0 "key"
  setglobal 1 "gotkey"
  getfield 1 0 "action"
  setglobal 1 "gotaction"
  getfield 1 0 "id"
  setglobal 1 "gotid"
  getfield 1 0 "userdata"
  setglobal 1 "gotuser"
  loadk 1 #42
  return 1 2
.end
.function onmouse
  .params 1
  getfield 1 0 "action"
  setglobal 1 "mouseaction"
  getglobal 1 "mousecount"
  add 1 1 #1
  setglobal 1 "mousecount"
  ret
.end
)";

TEST_F(DisplayEvents, WaitEventRunsTheKeyHandlerWithItsMessage) {
  ASSERT_EQ(Run(std::string(kRecorders) +
                ".defun OnKey onkey\n"
                ".table 0 { onkeydown = $OnKey, onkeyup = $OnKey }\n"
                ".call base=1 installeventhandler r0 \"ud\""),
            0);
  Key(XK_Escape, true);
  Key(XK_Escape, false);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotkey"), "ESC");
  EXPECT_EQ(vltest::GlobalString(L, "gotaction"), "OnKeyDown");
  EXPECT_EQ(vltest::GlobalNumber(L, "gotid"), 1);
  EXPECT_EQ(vltest::GlobalString(L, "gotuser"), "ud");
  EXPECT_EQ(Field("ev", "action"), "OnKeyDown");
  EXPECT_EQ(Field("ev", "triggered"), "1");
  EXPECT_EQ(Field("ev", "nresults"), "1");
  EXPECT_EQ(Field("ev", "id"), "1");
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotaction"), "OnKeyUp");

  // Printable keys show their character, Return a line break.
  Key('q', true);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotkey"), "q");
  ASSERT_EQ(Run(".call iskeydown \"q\" -> down\n.call iskeydown \"any\" -> anydown"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "down"), 1);
  EXPECT_EQ(vltest::GlobalNumber(L, "anydown"), 1);
  Key('q', false);
  ASSERT_EQ(Run(".call waitevent -> ev\n.call iskeydown \"q\" -> down"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "down"), 0);
  Key(XK_Return, true);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotkey"), "\n");
  Key(XK_Return, false);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotaction"), "OnKeyUp");

  // A number removes the handler: no callback, the queue just drains.
  ASSERT_EQ(Run(".table 0 { onkeydown = 0 }\n.call base=1 installeventhandler r0"), 0);
  vltest::SetGlobalNumber(L, "gotkey", 0);
  Key('w', true);
  ASSERT_TRUE(CheckUntil([&] {
    Run(".call iskeydown \"w\" -> down");
    return vltest::GlobalNumber(L, "down") == 1;
  }));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Run(".call checkevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "gotkey"), 0);
  Key('w', false);
  ASSERT_TRUE(CheckUntil([&] { return vltest::GlobalString(L, "gotkey") == "w"; }));
  EXPECT_EQ(vltest::GlobalString(L, "gotaction"), "OnKeyUp");
}

TEST_F(DisplayEvents, QualifierNamesFollowTheModifierKeys) {
  Key(XK_Shift_L, true);
  ASSERT_TRUE(CheckUntil([&] {
    Run(".call iskeydown \"lshift\" -> s");
    return vltest::GlobalNumber(L, "s") == 1;
  }));
  ASSERT_EQ(Run(".call iskeydown \"rshift\" -> r"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 0);
  Key(XK_Shift_L, false);
  ASSERT_TRUE(CheckUntil([&] {
    Run(".call iskeydown \"LSHIFT\" -> s");
    return vltest::GlobalNumber(L, "s") == 0;
  }));
  EXPECT_NE(Run(".call iskeydown \"nosuchkey\""), 0);
}

TEST_F(DisplayEvents, MouseButtonsGoToTheDisplayThenToItsButtons) {
  ASSERT_EQ(Run(std::string(kRecorders) +
                ".function onbutton\n  .params 1\n"
                "  getfield 1 0 \"action\"\n  setglobal 1 \"buttonaction\"\n"
                "  getfield 1 0 \"width\"\n  setglobal 1 \"buttonwidth\"\n"
                "  getfield 1 0 \"id\"\n  setglobal 1 \"buttonid\"\n  ret\n.end\n"
                ".defun OnMouse onmouse\n.defun OnButton onbutton\n"
                "loadk 0 #0\nsetglobal 0 \"mousecount\"\n"
                ".table 0 { onmousedown = $OnMouse, onmouseup = $OnMouse }\n"
                ".call base=1 installeventhandler r0\n"
                ".table 0 { onmousedown = $OnButton, onmouseup = $OnButton, onmouseover = $OnButton, "
                "onmouseout = $OnButton }\n"
                ".call base=1 makebutton 7 0 10 20 30 40 r0"),
            0);
  PointerTo(15, 25);
  ASSERT_TRUE(CheckUntil([&] { return vltest::GlobalString(L, "buttonaction") == "OnMouseOver"; }));
  Button(1, true);
  // The display's handler first, the button's on the next step.
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "mouseaction"), "OnMouseDown");
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "buttonaction"), "OnMouseDown");
  EXPECT_EQ(vltest::GlobalNumber(L, "buttonwidth"), 30);
  EXPECT_EQ(vltest::GlobalNumber(L, "buttonid"), 7);
  ASSERT_EQ(Run(".call ismidmouse -> mid\n.call isleftmouse -> left\n.call mousex -> mx\n.call mousey -> my"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "left"), 1);
  EXPECT_EQ(vltest::GlobalNumber(L, "mid"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "mx"), 15);
  EXPECT_EQ(vltest::GlobalNumber(L, "my"), 25);
  Button(1, false);
  ASSERT_TRUE(CheckUntil([&] { return vltest::GlobalString(L, "buttonaction") == "OnMouseUp"; }));
  EXPECT_EQ(vltest::GlobalNumber(L, "mousecount"), 2);

  // An up outside a button that never saw the down: the display only.
  vltest::SetGlobalNumber(L, "buttonaction", 0);
  PointerTo(150, 100);
  Button(1, true);
  Button(1, false);
  ASSERT_TRUE(CheckUntil([&] { return vltest::GlobalNumber(L, "mousecount") == 4; }));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Run(".call checkevent -> ev"), 0);
  // Leaving the button that was hovered by the clicks gives OnMouseOut.
  EXPECT_EQ(vltest::GlobalString(L, "buttonaction"), "OnMouseOut");
}

// The display's own handler frees the display: its buttons are not asked
// about the event afterwards, and the loop goes on.
TEST_F(DisplayEvents, AHandlerThatFreesItsDisplayEndsThatEvent) {
  ASSERT_EQ(Run(".function gone\n  .params 1\n  .call freedisplay 2\n"
                "  loadk 1 #1\n  setglobal 1 \"gone\"\n  ret\n.end\n"
                ".function pressed\n  .params 1\n  loadk 1 #1\n  setglobal 1 \"pressed\"\n  ret\n.end\n"
                ".defun Gone gone\n.defun Pressed pressed\n"
                ".table 0 { width = 100, height = 80 }\n.call base=1 createdisplay 2 r0\n"
                ".call selectdisplay 2\n"
                ".table 0 { onmousedown = $Gone }\n.call base=1 installeventhandler r0\n"
                ".table 0 { onmousedown = $Pressed }\n.call base=1 makebutton 1 0 0 0 50 50 r0\n"
                ".call selectdisplay 1"),
            0);
  ASSERT_EQ(PostEvent(GetDisplayByNumber(2), VL_EVENT_LEFT_BUTTON, 10, 10, 1, nullptr), 1);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "gone"), 1);
  EXPECT_EQ(GetDisplayByNumber(2), nullptr);
  // A new display 2 with a button in the same place does not get it.
  ASSERT_EQ(Run(".table 0 { width = 100, height = 80 }\n.call base=1 createdisplay 2 r0\n"
                ".call selectdisplay 2\n"
                ".table 0 { onmousedown = $Pressed }\n.call base=1 makebutton 1 0 0 0 50 50 r0\n"
                ".call selectdisplay 1\n.call checkevent -> ev"),
            0);
  EXPECT_EQ(Field("ev", "triggered"), "0");
  EXPECT_EQ(vltest::GetGlobal(L, "pressed")->tag, VL_TNIL);
}

TEST_F(DisplayEvents, HoverEntersAndLeavesButtons) {
  ASSERT_EQ(Run(".function hover\n  .params 1\n"
                "  getglobal 1 \"trail\"\n  getfield 2 0 \"action\"\n  getfield 3 0 \"id\"\n"
                "  concat 1 1 3\n  setglobal 1 \"trail\"\n  ret\n.end\n"
                ".defun Hover hover\n"
                "loadk 0 \"\"\nsetglobal 0 \"trail\"\n"
                ".table 0 { onmouseover = $Hover, onmouseout = $Hover }\n"
                ".call base=1 makebutton 1 0 0 0 50 50 r0\n"
                ".call base=1 makebutton 2 0 60 0 50 50 r0"),
            0);
  PointerTo(10, 10);
  ASSERT_TRUE(CheckUntil([&] { return vltest::GlobalString(L, "trail") == "OnMouseOver1"; }));
  PointerTo(70, 10);
  ASSERT_TRUE(CheckUntil(
      [&] { return vltest::GlobalString(L, "trail") == "OnMouseOver1OnMouseOut1OnMouseOver2"; }));
  PointerTo(150, 100);
  ASSERT_TRUE(CheckUntil([&] {
    return vltest::GlobalString(L, "trail") == "OnMouseOver1OnMouseOut1OnMouseOver2OnMouseOut2";
  }));
}

TEST_F(DisplayEvents, LayerButtonsFollowTheLayersMaskVisibilityAndLife) {
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  // A 20 x 20 box layer at (100, 50) whose mask leaves out its left half.
  vlBitmap* picture = NewBitmap(20, 20, 0, nullptr);
  FillBitmapRect(picture, 0, 0, 20, 20, 0xFFFF0000u);
  vlBitmap* mask = NewMaskPlane(picture, 20, 20, 1, nullptr, 0);
  FillMaskRect(mask, 10, 0, 10, 20, 0);
  vlLayerGeometry* g = NewLayerGeometry();
  g->x = 100, g->y = 50, g->width = 20, g->height = 20;
  vlLayer* layer = nullptr;
  ASSERT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, 100, 50, 20, 20, nullptr, nullptr, picture, mask, nullptr, g, -1, 0,
                     &layer),
            0);
  ASSERT_EQ(Run(".function onbutton\n  .params 1\n"
                "  getfield 1 0 \"action\"\n  setglobal 1 \"buttonaction\"\n"
                "  getfield 1 0 \"layer\"\n  setglobal 1 \"buttonlayer\"\n"
                "  getfield 1 0 \"x\"\n  setglobal 1 \"buttonx\"\n"
                "  getfield 1 0 \"width\"\n  setglobal 1 \"buttonwidth\"\n  ret\n.end\n"
                ".defun OnButton onbutton\n"
                ".table 0 { onmousedown = $OnButton, onmouseup = $OnButton }\n"
                ".call base=1 makebutton 5 1 1 0 0 r0"),
            0);
  EXPECT_EQ(Run(".table 0 { onmousedown = $OnButton }\n.call base=1 makebutton 6 1 1 0 0 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { onmousedown = $OnButton }\n.call base=1 makebutton 6 1 9 0 0 r0"), ERR_LAYERRANGE);

  vlBGPicButton* made = d_->bgpic->buttons;
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(ButtonEligible(made));
  EXPECT_TRUE(ButtonHit(made, 115, 60));
  EXPECT_FALSE(ButtonHit(made, 105, 60));
  EXPECT_FALSE(ButtonHit(made, 120, 60));
  auto click = [&](int x, int y) {
    vltest::SetGlobalNumber(L, "buttonaction", 0);
    PointerTo(x, y);
    Button(1, true);
    Button(1, false);
  };
  // On the masked-in half: the button's handler with the layer's rectangle.
  click(115, 60);
  ASSERT_TRUE(CheckUntil([&] { return vltest::GlobalString(L, "buttonaction") == "OnMouseUp"; }));
  EXPECT_EQ(vltest::GlobalNumber(L, "buttonlayer"), 1);
  EXPECT_EQ(vltest::GlobalNumber(L, "buttonx"), 100);
  EXPECT_EQ(vltest::GlobalNumber(L, "buttonwidth"), 20);
  // On the masked-out half, or while the layer is hidden: nothing.
  click(105, 60);
  EXPECT_FALSE(CheckUntil([&] { return vltest::GlobalNumber(L, "buttonaction") != 0; }, 400));
  ASSERT_EQ(Run(".call hidelayer 1"), 0);
  click(115, 60);
  EXPECT_FALSE(CheckUntil([&] { return vltest::GlobalNumber(L, "buttonaction") != 0; }, 400));
  // The button goes with its layer.
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  EXPECT_EQ(Run(".call deletebutton 5"), ERR_FINDBUTTON);
  ShutdownLayerSystem(L);
}

TEST_F(DisplayEvents, ButtonCommandsCheckTheirArguments) {
  ASSERT_EQ(Run(".function f\n  ret\n.end\n.defun F f\n"
                ".table 0 { onmousedown = $F }\n.call base=1 makebutton nil 0 0 0 10 10 r0 -> h"),
            0);
  EXPECT_EQ(vltest::GetGlobal(L, "h")->tag, VL_TLIGHTUSERDATA);
  EXPECT_EQ(Run(".table 0 { onmousedown = $F }\n.call base=1 makebutton 3 0 0 0 0 10 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { onmousedown = 5 }\n.call base=1 makebutton 3 0 0 0 10 10 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call deletebutton 99"), ERR_FINDBUTTON);
  ASSERT_EQ(Run(".call base=1 disablebutton $h\n.call base=1 deletebutton $h"), 0);
  EXPECT_EQ(Run(".call base=1 deletebutton $h"), ERR_FINDARRAY);
}

TEST_F(DisplayEvents, CloseWindowHandlerKeepsTheScriptRunning) {
  ASSERT_EQ(Run(".function onclose\n  .params 1\n  getfield 1 0 \"action\"\n  setglobal 1 \"closed\"\n"
                "  ret\n.end\n.defun OnClose onclose\n"
                ".table 0 { closewindow = $OnClose }\n.call base=1 installeventhandler r0"),
            0);
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = d_->window->window;
  ev.xclient.message_type = XInternAtom(probe_, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(probe_, "WM_DELETE_WINDOW", False));
  XSendEvent(probe_, d_->window->window, False, NoEventMask, &ev);
  XFlush(probe_);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "closed"), "CloseWindow");
  EXPECT_EQ(*L->g->host.quitFlag, 0);
}

TEST_F(DisplayEvents, WaitLeftMouseWaitsForTheReleaseAndEmptiesTheQueue) {
  PointerTo(20, 20);
  Button(1, true);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Display* other = XOpenDisplay(server_.name());
    XTestFakeButtonEvent(other, 1, False, CurrentTime);
    XCloseDisplay(other);
  });
  int status = Run(".call waitleftmouse");
  release.join();
  ASSERT_EQ(status, 0);
  EXPECT_EQ(d_->leftButton, 0);
  vlEventMsg e;
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 0);
  EXPECT_EQ(Run(".call waitkeydown \"nokey\""), ERR_WRONGUSAGE);
}

TEST_F(DisplayEvents, LegacyKeyRecordsJumpToTheirLabels) {
  vl::PushString(L, "labels");
  vl::PushNewTable(L);
  vl::PushString(L, "onkeydown5");
  vl::PushNumber(L, 1);
  vl::RawSetTableValue(L, -3);
  vl::RawSetTableValue(L, vl::kRegistryIndex);
  vl::SetStackTop(L, 0);
  ASSERT_EQ(Run(std::string(kRecorders) + ".defun OnKey onkey\n"
                ".table 0 { onkeydown = $OnKey }\n.call base=1 installeventhandler r0 \"ud\"\n"
                ".call createkeydown 6 \"y\""),
            0);
  // Record 6 has no label: its key goes to the handler as usual.
  Key('y', true);
  Key('y', false);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotkey"), "y");
  const std::string script =
      "jump start\n"
      "loadk 0 \"label\"\n"
      "setglobal 0 \"where\"\n"
      "ret\n"
      "start:\n"
      ".call createkeydown 5 \"X\"\n"
      ".call waitevent\n"
      "loadk 0 \"nolabel\"\n"
      "setglobal 0 \"where\"";
  Key('x', true);
  Key('x', false);
  ASSERT_EQ(Run(script), 0);
  EXPECT_EQ(vltest::GlobalString(L, "where"), "label");
  ASSERT_EQ(Run(".call geteventcode -> code"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "code"), 5);
  // A disabled record leaves the key to the handler.
  ASSERT_EQ(Run(".call disableevent 3 5"), 0);
  Key('x', true);
  Key('x', false);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gotkey"), "x");
  // ClearEvents frees the records only: the last code and the ALL mode
  // stay, and a record made afterwards jumps to the ALL label.
  ASSERT_EQ(Run(".call enableevent 14 0\n.call clearevents\n.call geteventcode -> code"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "code"), 5);
  vl::PushString(L, "labels");
  vl::RawGetTableValue(L, vl::kRegistryIndex);
  vl::PushString(L, "onkeydownall");
  vl::PushNumber(L, 1);
  vl::RawSetTableValue(L, -3);
  vl::SetStackTop(L, 0);
  Key('x', true);
  Key('x', false);
  ASSERT_EQ(Run(script), 0);
  EXPECT_EQ(vltest::GlobalString(L, "where"), "label");
  ASSERT_EQ(Run(".call clearevents"), 0);
}

TEST_F(DisplayEvents, DroppedFilesArriveAsATable) {
  ASSERT_EQ(Run(".function ondrop\n  .params 1\n"
                "  getfield 1 0 \"numdropfiles\"\n  setglobal 1 \"count\"\n"
                "  getfield 1 0 \"dropfiles\"\n  getfield 2 1 #1\n  setglobal 2 \"second\"\n"
                "  getfield 2 0 \"x\"\n  setglobal 2 \"dropx\"\n  ret\n.end\n"
                ".defun OnDrop ondrop\n"
                ".table 0 { ondropfile = $OnDrop }\n.call base=1 installeventhandler r0"),
            0);
  const char list[] = "/tmp/a b.txt\0/c\0";
  auto* files = static_cast<char*>(AllocMemory(sizeof list, 0));
  memcpy(files, list, sizeof list);
  ASSERT_EQ(PostEvent(d_, VL_XEV_DROP, 12, 34, 0, files), 1);
  ASSERT_EQ(Run(".call waitevent -> ev"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "count"), 2);
  EXPECT_EQ(vltest::GlobalString(L, "second"), "/c");
  EXPECT_EQ(vltest::GlobalNumber(L, "dropx"), 12);
}

// No port delivers messages on this platform: the message a port would
// hand over goes through the dispatcher's fill and the script's handler.
TEST_F(DisplayEvents, UserMessagesSplitTheirArgumentsAtUnquotedBlanks) {
  ASSERT_EQ(Run(".function onmsg\n  .params 1\n"
                "  getfield 1 0 \"command\"\n  setglobal 1 \"cmd\"\n"
                "  getfield 1 0 \"args\"\n  setglobal 1 \"args\"\n"
                "  getfield 1 0 \"rawargs\"\n  setglobal 1 \"raw\"\n"
                "  getfield 1 0 \"argc\"\n  setglobal 1 \"argc\"\n"
                "  getfield 1 0 \"userdata\"\n  setglobal 1 \"user\"\n  ret\n.end\n"
                ".defun OnMsg onmsg\n"
                ".table 0 { onusermessage = $OnMsg }\n.call base=1 installeventhandler r0 \"ud\""),
            0);
  auto deliver = [&](const std::string& block) {
    vlCallbackMsg msg{};
    ASSERT_EQ(FillUserMessage(&msg, block.c_str()), 0);
    EXPECT_EQ(RunEventCallback(L, &msg, 1), 0);
    FreeUserMessage(&msg);
  };
  deliver(std::string("sender\0play \"my song.mod\" 2 \"\"\0", 31));
  EXPECT_EQ(vltest::GlobalString(L, "cmd"), "play");
  EXPECT_EQ(vltest::GlobalString(L, "raw"), "\"my song.mod\" 2 \"\"");
  EXPECT_EQ(vltest::GlobalString(L, "args"), std::string("my song.mod\0" "2\0", 14));
  EXPECT_EQ(vltest::GlobalNumber(L, "argc"), 3);
  EXPECT_EQ(vltest::GlobalString(L, "user"), "ud");
  deliver(std::string("sender\0quit\0", 12));
  EXPECT_EQ(vltest::GlobalString(L, "cmd"), "quit");
  EXPECT_EQ(vltest::GlobalString(L, "args"), "");
  EXPECT_EQ(vltest::GlobalString(L, "raw"), "");
  EXPECT_EQ(vltest::GlobalNumber(L, "argc"), 0);
}

// A post from another thread while a plug-in's main-thread call runs; it
// outlives the call, so a post held up by the queue lock cannot hang it.
std::future<int> gLatePost;
int PostFromAnotherThread(vlVMState*, void* argument) {
  vlDisplay* d = GetDisplayByNumber(1);
  gLatePost = std::async(std::launch::async, [d] { return PostEvent(d, VL_XEV_CLOSE, 0, 0, 0, nullptr); });
  *static_cast<int*>(argument) = gLatePost.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  return 0;
}

TEST_F(DisplayEvents, APluginCallLeavesTheQueueOpenToOtherThreads) {
  int posted = 0;
  const uintptr_t record[3] = {1, reinterpret_cast<uintptr_t>(&PostFromAnotherThread),
                               reinterpret_cast<uintptr_t>(&posted)};
  ASSERT_EQ(PostAdapterEventVM(L, 1, record), 0);
  ASSERT_EQ(Run(".call checkevent -> ev"), 0);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(gLatePost.get(), 1);
}

TEST_F(DisplayEvents, ClipboardCommandsTalkToAnotherClient) {
  if (system("command -v xclip >/dev/null 2>&1") != 0) GTEST_SKIP() << "xclip missing";
  vltest::SetGlobalNative(L, "setclipboard", CmdSetClipboard);
  vltest::SetGlobalNative(L, "getclipboard", CmdGetClipboard);
  vltest::SetGlobalNative(L, "peekclipboard", CmdPeekClipboard);
  vltest::SetGlobalNative(L, "clearclipboard", CmdClearClipboard);
  // An owner of text, then what the script reads.
  FILE* p = popen((std::string("DISPLAY=") + server_.name() + " xclip -i -selection clipboard").c_str(), "w");
  ASSERT_NE(p, nullptr);
  fputs("caf\xC3\xA9 au lait", p);
  pclose(p);
  Atom clipboard = XInternAtom(probe_, "CLIPBOARD", False);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (XGetSelectionOwner(probe_, clipboard) == None && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(Run(".call peekclipboard -> kind\n.call getclipboard -> kind2 text"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "kind"), 1);
  EXPECT_EQ(vltest::GlobalNumber(L, "kind2"), 1);
  EXPECT_EQ(vltest::GlobalString(L, "text"), "caf\xE9 au lait");
  // The script's text goes out; other types are refused.
  ASSERT_EQ(Run(".call setclipboard 1 \"na\xEFve\""), 0);
  EXPECT_EQ(Run(".call setclipboard 3 \"x\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call setclipboard 2 12"), ERR_FINDBRUSH);
  ASSERT_EQ(Run(".call getclipboard -> kind2 text"), 0);  // read from ourselves
  EXPECT_EQ(vltest::GlobalString(L, "text"), "na\xEFve");
  ASSERT_EQ(Run(".call clearclipboard\n.call peekclipboard -> kind\n.call getclipboard -> kind2"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "kind"), 0);  // owned, offering nothing
  EXPECT_EQ(vltest::GlobalNumber(L, "kind2"), 0);
}

}  // namespace

namespace {

// A configure event from before ChangeDisplaySize must not undo the new
// size. A busy server is played by holding back the events that answer the
// resize: the player first sees only the old one.
TEST_F(DisplayEvents, ChangeDisplaySizeOutlivesAStaleConfigureEvent) {
  const Window w = d_->window->window;
  Display* player = d_->window->display;
  XResizeWindow(probe_, w, 150, 100);
  XSync(probe_, False);
  ASSERT_EQ(Run(".call changedisplaysize 300 200"), 0);
  XSync(player, False);
  std::vector<XEvent> stale, fresh;
  XEvent ev;
  while (XCheckTypedWindowEvent(player, w, ConfigureNotify, &ev))
    (ev.xconfigure.width == 150 ? stale : fresh).push_back(ev);
  ASSERT_FALSE(stale.empty());
  ASSERT_FALSE(fresh.empty());
  int error = 0;
  for (auto it = stale.rbegin(); it != stale.rend(); ++it) XPutBackEvent(player, &*it);
  HandleX11Events(L, &error);
  EXPECT_EQ(d_->width, 300);
  EXPECT_EQ(d_->height, 200);
  for (auto it = fresh.rbegin(); it != fresh.rend(); ++it) XPutBackEvent(player, &*it);
  for (int i = 0; i < 40; ++i) {
    HandleX11Events(L, &error);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(d_->width, 300);
  EXPECT_EQ(d_->height, 200);
  XWindowAttributes a{};
  XGetWindowAttributes(probe_, w, &a);
  EXPECT_EQ(a.width, 300);
  EXPECT_EQ(a.height, 200);
}

}  // namespace

// InKeyStr on a private Xvfb display, fed with key presses through XTest:
// the kind filters, the length limit, backspace, passwords, an empty input,
// brackets taken as text, what ends on the window and the refusals.
#include "tests/display/core/display_fixture.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <set>
#include <utility>
#include <vector>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "platform/x11/x11_input.h"
#include "runtime/event_queue.h"
#include "text/fonts/bitmap_font.h"
#include "text/text_library.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

bool GlyphBit(unsigned char c, int x, int y) {
  if (x < 0 || y < 0 || x >= 8 || y >= 8) return false;
  const uint32_t loc = kTopazCharLoc[c - 32];
  const int bit = static_cast<int>(loc >> 16) + x;
  return (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
}

class TextInput : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(InitEventQueue(), 0);
    quit_ = 0;
    BindQuitFlag(&quit_);
    saved_ = gInputBackend;
    gInputBackend.handleInput = HandleX11Events;
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    ASSERT_EQ(Run(".table 0 { width = 160, height = 80, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = GetDisplayByNumber(1);
    ASSERT_NE(d_, nullptr);
    XSetInputFocus(probe_, d_->window->window, RevertToParent, CurrentTime);
    XSync(probe_, False);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeTextLibrary(L);
      gInputBackend = saved_;
      BindQuitFlag(nullptr);
      FreeEventQueue(nullptr);
      FreeEventQueueMutex();
    }
    DisplayTest::TearDown();
  }
  // Presses and releases each key on the focused window.
  void Type(const std::vector<KeySym>& keys) {
    for (KeySym sym : keys) {
      KeyCode code = XKeysymToKeycode(probe_, sym);
      ASSERT_NE(code, 0) << sym;
      const bool shift = sym == XK_bracketleft ? false : (sym >= XK_A && sym <= XK_Z) || sym == XK_asterisk;
      KeyCode shiftCode = XKeysymToKeycode(probe_, XK_Shift_L);
      if (shift) XTestFakeKeyEvent(probe_, shiftCode, True, CurrentTime);
      XTestFakeKeyEvent(probe_, code, True, CurrentTime);
      XTestFakeKeyEvent(probe_, code, False, CurrentTime);
      if (shift) XTestFakeKeyEvent(probe_, shiftCode, False, CurrentTime);
    }
    XSync(probe_, False);
  }
  std::string Read(const std::string& args) {
    EXPECT_EQ(Run(".call inkeystr " + args + " -> s"), 0);
    return vltest::GlobalString(L, "s");
  }
  bool Inked(const std::string& s, int x0, int y0, int x, int y) {
    const int i = (x - x0) / 8;
    if (x < x0 || y < y0 || i >= static_cast<int>(s.size()) || y - y0 >= 8) return false;
    return GlyphBit(static_cast<unsigned char>(s[i]), (x - x0) % 8, y - y0);
  }
  void ExpectWindow(const std::string& s, int x0, int y0, int width) {
    for (int y = y0; y < y0 + 8; ++y)
      for (int x = x0; x < x0 + width; ++x)
        EXPECT_EQ(WindowPixel(d_, x, y) != 0, Inked(s, x0, y0, x, y)) << s << " " << x << "," << y;
  }

  vlDisplay* d_ = nullptr;
  volatile int quit_ = 0;
  vlInputBackend saved_{};
};

TEST_F(TextInput, FiltersAndEnter) {
  Type({XK_1, XK_a, XK_space, XK_2, XK_Return});
  EXPECT_EQ(Read("3"), "12");
  ExpectWindow("12", 0, 0, 40);
  // Printed once at the start, the cursor stands after the text.
  EXPECT_EQ(d_->cursorX, 16);
  EXPECT_EQ(d_->cursorY, 0);
  EXPECT_EQ(CountLayers(d_->bgpic), 0);
  EXPECT_EQ(d_->layersOn, 0u);

  ASSERT_EQ(Run(".call locate 0 20"), 0);
  Type({XK_f, XK_g, XK_A, XK_9, XK_Return});
  EXPECT_EQ(Read("4"), "fA9");
  Type({XK_x, XK_space, XK_5, XK_Return});
  EXPECT_EQ(Read("2"), "x ");
  Type({XK_x, XK_space, XK_5, XK_Return});
  EXPECT_EQ(Read("1"), "x 5");
  Type({XK_x, XK_Return});
  EXPECT_EQ(Read("9"), "");
}

TEST_F(TextInput, LengthLimitAndBackspace) {
  Type({XK_a, XK_b, XK_c, XK_d, XK_BackSpace, XK_e, XK_Return});
  EXPECT_EQ(Read("0 3"), "abe");
  Type({XK_BackSpace, XK_BackSpace, XK_x, XK_y, XK_BackSpace, XK_z, XK_Return});
  ASSERT_EQ(Run(".call locate 0 30"), 0);
  EXPECT_EQ(Read("0"), "xz");
  ExpectWindow("xz", 0, 30, 32);
}

TEST_F(TextInput, PasswordsAndBrackets) {
  ASSERT_EQ(Run(".call locate 8 10"), 0);
  Type({XK_s, XK_e, XK_c, XK_Return});
  EXPECT_EQ(Read("0 0 1"), "sec");
  ExpectWindow("***", 8, 10, 40);
  ASSERT_EQ(Run(".call locate 0 40"), 0);
  Type({XK_bracketleft, XK_b, XK_bracketright, XK_bracketleft, XK_bracketleft, XK_Return});
  EXPECT_EQ(Read("0"), "[b][[");
  ExpectWindow("[b][[", 0, 40, 48);
  // ENTER at once prints one blank.
  ASSERT_EQ(Run(".call locate 0 60"), 0);
  Type({XK_Return});
  EXPECT_EQ(Read("0"), "");
  EXPECT_EQ(d_->cursorX, 8);
}

TEST_F(TextInput, Refusals) {
  d_->outputType = VL_OUTPUT_MASK;
  EXPECT_EQ(Run(".call inkeystr 0"), ERR_SELECTMASK);
  d_->outputType = VL_OUTPUT_ALPHA;
  EXPECT_EQ(Run(".call inkeystr 0"), ERR_SELECTALPHACHANNEL);
  d_->outputType = VL_OUTPUT_BGPIC;
  EXPECT_EQ(Run(".call inkeystr 0"), ERR_SELECTBG);
  d_->doubleBuffer = 1;  // double buffering is named first, whatever the target
  EXPECT_EQ(Run(".call inkeystr 0"), ERR_ENDDOUBLEBUFFER);
  d_->outputType = VL_OUTPUT_DISPLAY;
  EXPECT_EQ(Run(".call inkeystr 0"), ERR_ENDDOUBLEBUFFER);
  d_->doubleBuffer = 0;
}

}  // namespace

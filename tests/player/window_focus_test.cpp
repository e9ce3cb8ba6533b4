// A display whose window takes the focus when it opens is the active one at
// once, as the script sees it: its active attribute is set and its
// activewindow handler runs once, with nobody moving the focus.
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Result;
using WindowFocus = vlplayer::PlayerTest;

// Prints the handler's name for each activation event of the current
// display that the checks below let through.
const char* kHandlers = R"(.function onactive
  .params 1
  .call base=1 debugprint "activewindow"
  ret
.end
.function oninactive
  .params 1
  .call base=1 debugprint "inactivewindow"
  ret
.end
.defun OnActive onactive
.defun OnInactive oninactive
)";

const char* kCheckEvents = R"(.table 0 { activewindow = $OnActive, inactivewindow = $OnInactive }
.call base=1 installeventhandler r0
loadk 1 #0
loadk 2 #19
loadk 3 #1
loop:
  .call base=5 checkevent
  .call base=5 wait 1
  forloop 1 loop
)";

// The display declared in the applet opens before the first line runs.
TEST_F(WindowFocus, DeclaredDisplayIsActiveFromTheFirstLine) {
  std::string applet = Applet("declared", std::string(kHandlers) + R"(.line 1
.call getattribute 21 1 41 -> a
.call debugprint $a
)" + kCheckEvents + ".call debugprint \"end\"",
                              "display 1 200 100 Focused");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\nactivewindow\nend\n");
}

// A display the script opens active takes the focus over: it is active
// when OpenDisplay returns, and the first display hears it lose the focus.
// Closed, a display is no longer active.
TEST_F(WindowFocus, OpenedDisplayTakesTheFocusOver) {
  std::string applet = Applet("opened", std::string(kHandlers) + R"(.line 1
.call getattribute 21 1 41 -> a
.table 0 { width = 120, height = 60, title = "Second", active = 1 }
.call base=1 createdisplay 2 r0
.call opendisplay 2 1
.call getattribute 21 2 41 -> b
.call debugprint $a $b
)" + kCheckEvents + R"(.call getattribute 21 1 41 -> c
.call closedisplay 2
.call getattribute 21 2 41 -> d
.call debugprint $c $d)",
                              "display 1 200 100 First");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1 1\nactivewindow\ninactivewindow\n0 0\n");
}

}  // namespace

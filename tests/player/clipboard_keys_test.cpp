// The player's X11 side against real X clients: a 32 MiB clipboard text
// read by xclip (the server refuses a property that large in one request),
// clipboard text from xclip with characters outside ISO-8859-1, the
// clipboardchange handler, files dropped by an XDND source, pictures as
// PNG both ways, owners
// that list their targets in other ways, keys
// typed with xdotool (one whose modifier is let go first, Home, Tab with
// Shift and the keypad's keys with Num Lock off), and
// keys and buttons held down while another program ran, old-style key
// records jumping to the labels of the applet's description, and the
// button and key waits and quit switches with quick and held presses.
#include <X11/Xatom.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;

class X11Clients : public vlplayer::PlayerTest {
 protected:
  // Options that, once the applet's window is there, give it the focus and
  // hand type "DISPLAY=... xdotool " and the window's id.
  pid_t player_ = -1;  // the running player, for callbacks that watch it

  RunOptions Typing(std::function<void(const std::string& xdotool, const std::string& window)> type) {
    RunOptions options;
    options.timeoutSeconds = 30;
    options.whileRunning = [this, type](pid_t, const std::string& display) {
      std::string window = vlplayer::WaitForWindow(display, "Vellamora");
      ASSERT_FALSE(window.empty());
      std::string xdotool = "DISPLAY=" + Quote(display) + " xdotool ";
      Tool(xdotool + "windowfocus --sync " + window);
      type(xdotool, window);
    };
    return options;
  }

  // Runs an applet that makes the clipboard offer `offer` and waits until
  // xclip has fetched it as `target` into the file `out`.
  Result OfferAndFetch(const std::string& offer, const char* target, const std::string& out) {
    std::string done = dir() + "/done";
    std::string applet = Applet("offer", ".line 1\n" + offer + ".call debugprint \"offered\"\n" +
                                             vlplayer::WaitUntilFileExists(done) + ".call debugprint \"read\"");
    RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      ASSERT_FALSE(vlplayer::WaitForWindow(display, "Vellamora").empty());
      // The offer is made once the window is there; xclip asks until it is.
      for (int i = 0; i < 50; ++i) {
        Tool("xclip -o -selection clipboard -t " + std::string(target) + " > " + Quote(out) + " 2>/dev/null");
        if (Tool("wc -c < " + Quote(out)) != "0\n") break;
        usleep(100000);
      }
      Tool("touch " + Quote(done));
    };
    return Run({applet}, options);
  }
};

// The applet offers 32 MiB of text and pumps events until the test has
// read it with xclip.
TEST_F(X11Clients, XclipReadsALargeClipboardOffer) {
  std::string out = dir() + "/out.txt";
  Result r = OfferAndFetch(".call repeatstr \"0123456789abcdef\" 2097152 -> s\n.call setclipboard 1 $s\n",
                           "UTF8_STRING", out);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "offered\nread\n");
  EXPECT_EQ(r.err.find("X error"), std::string::npos) << r.err;
  EXPECT_EQ(Tool("wc -c < " + Quote(out)), "33554432\n");
  EXPECT_EQ(Tool("head -c 32 " + Quote(out)), "0123456789abcdef0123456789abcdef");
}

TEST_F(X11Clients, ClipboardTextOutsideLatin1ArrivesWithStandIns) {
  std::string text = WriteFile("text.txt", "a\xE2\x82\xAC" "b \xC3\xA9");
  int status = 0;
  // xclip stays in the background as the owner until the server ends.
  Tool("xclip -i -selection clipboard " + Quote(text) + " >/dev/null 2>&1", &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet("paste", ".line 1\n.call getclipboard -> kind text\n.call debugprint $kind\n"
                                       ".call debugprint $text");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1\na?b \xE9\n");
}

// Gives a selection request the items asked for and tells the requestor.
void Answer(Display* d, const XSelectionRequestEvent& r, Atom type, int format, const void* items, int count) {
  XChangeProperty(d, r.requestor, r.property, type, format, PropModeReplace,
                  static_cast<const unsigned char*>(items), count);
  XEvent notify{};
  notify.xselection = {SelectionNotify, 0, True, d, r.requestor, r.selection, r.target, r.property, r.time};
  XSendEvent(d, r.requestor, False, NoEventMask, &notify);
  XFlush(d);
}

// A clipboard owner of its own: it lists `targets` as the TARGETS answer,
// typed `listType`, and gives `data` for any other target asked, typed as
// asked; it makes the file `ready` once it owns the clipboard and answers
// until the file `done` exists.
void OwnClipboardUntil(const std::string& display, const char* listType, const std::vector<const char*>& targets,
                       const std::string& data, const std::string& ready, const std::string& done) {
  Display* d = XOpenDisplay(display.c_str());
  ASSERT_NE(d, nullptr);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  Atom clipboard = XInternAtom(d, "CLIPBOARD", False), targetsAtom = XInternAtom(d, "TARGETS", False);
  std::vector<Atom> list;
  for (const char* t : targets) list.push_back(XInternAtom(d, t, False));
  XSetSelectionOwner(d, clipboard, w, CurrentTime);
  XSync(d, False);
  ASSERT_EQ(XGetSelectionOwner(d, clipboard), w);
  std::FILE* marker = std::fopen(ready.c_str(), "w");
  ASSERT_NE(marker, nullptr);
  ASSERT_EQ(std::fclose(marker), 0);
  for (int i = 0; i < 2000 && access(done.c_str(), F_OK) != 0; ++i) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type != SelectionRequest) continue;
      const XSelectionRequestEvent& r = e.xselectionrequest;
      if (r.target == targetsAtom)
        Answer(d, r, XInternAtom(d, listType, False), 32, list.data(), static_cast<int>(list.size()));
      else
        Answer(d, r, r.target, 8, data.data(), static_cast<int>(data.size()));
    }
    usleep(10000);
  }
  XCloseDisplay(d);
}

// Owners list their targets typed ATOM or, as some do, TARGETS; one that
// offers plain text only gives its bytes unchanged; one without a text or
// picture target gives an empty clipboard.
TEST_F(X11Clients, ClipboardOwnersOfOtherKinds) {
  const struct {
    const char* listType;
    std::vector<const char*> targets;
    std::string data;
    std::string out;
  } cases[] = {
      {"TARGETS", {"TARGETS", "UTF8_STRING"}, "caf\xC3\xA9", "1 caf\xE9\n"},
      {"ATOM", {"TARGETS", "text/plain"}, "plain \xE9t\xE9", "1 plain \xE9t\xE9\n"},
      {"ATOM", {"TARGETS", "application/x-other"}, "x", "0 Nil\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.targets.back());
    std::string ready = dir() + "/ready", done = dir() + "/done";
    unlink(ready.c_str());
    unlink(done.c_str());
    std::string applet = Applet("paste", ".line 1\n" + vlplayer::WaitUntilFileExists(ready) + ".call getclipboard -> kind text\n.call debugprint $kind $text\n"
                                         ".call stringtofile \"1\" \"" + done + "\"");
    RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      OwnClipboardUntil(display, c.listType, c.targets, c.data, ready, done);
    };
    Result r = Run({applet}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

// Assembler text that waits (handling the queued events) until IsKeyDown
// of the key reads state, then prints the word.
std::string WaitForKeyState(const std::string& key, int state, const std::string& word) {
  const std::string label = word + "wait";
  return label + ":\n  .call wait 1\n  .call checkevents\n  .call iskeydown \"" + key +
         "\" -> d\n  getglobal 0 \"d\"\n  eq 1 0 #" + std::to_string(state) + "\n  jump " + word + "\n  jump " +
         label + "\n" + word + ":\n  .call debugprint \"" + word + "\"\n";
}

// Shift and A go down, Shift comes up first, then A: the key is up again.
TEST_F(X11Clients, AKeyIsUpWhenItsKeyIsLetGo) {
  std::string applet = Applet("keys", ".line 1\n" + WaitForKeyState("A", 1, "down") + WaitForKeyState("A", 0, "up") +
                                          ".call iskeydown \"a\" -> lower\n.call debugprint $lower");
  // Shorter than the server's auto-repeat delay: no repeated press.
  Result r = Run({applet}, Typing([&](const std::string& xdotool, const std::string&) {
                   Tool(xdotool + "keydown shift keydown a sleep 0.2 keyup shift sleep 0.2 keyup a");
                 }));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "down\nup\n0\n");
}

// Old-style key records jump to the labels the applet's description
// names, every one of them: "a" runs the code at instruction 1 and comes
// back to wait, "b" the code at instruction 5, which ends the script.
TEST_F(X11Clients, KeyRecordsJumpToEveryLabelOfTheDescription) {
  const std::string ready = dir() + "/ready";
  std::string applet = Applet("labels", R"(jump start
getglobal 0 "debugprint"
loadk 1 "one"
call 0 2 1
retsub
getglobal 0 "debugprint"
loadk 1 "two"
call 0 2 1
ret
start:
.call createkeydown 1 "a"
.call createkeydown 2 "b"
.call stringtofile "1" ")" + ready + R"("
wait:
.call waitevent
jump wait)",
                              "revision 6 1\nlabel ONKEYDOWN1 1\nlabel onkeydown2 5\n");
  Result r = Run({applet}, Typing([&](const std::string& xdotool, const std::string&) {
                   for (int i = 0; i < 100 && access(ready.c_str(), F_OK) != 0; ++i) usleep(100000);
                   Tool(xdotool + "key a sleep 0.3 key b");
                 }));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "one\ntwo\n");
}

// A key, Shift and the left mouse button held down before Execute or Run
// count as up after it, unless its flag is 0: the player did not see what
// happened to them while the program ran.
TEST_F(X11Clients, KeysAndButtonsHeldBeforeAProgramRanCountAsUpAfterIt) {
  // No auto-repeat: a repeated press would bring the key back down.
  ASSERT_TRUE(RestartXServer({"-ardelay", "60000"}));
  const std::string checked = dir() + "/checked";
  // Waits until "a" and the left button are down, then runs the program
  // twice, with the flag 0 and without it.
  auto phase = [&](const std::string& label, const std::string& command) {
    std::string text = label + ":\n  .call wait 1\n  .call isleftmouse -> m\n  .call iskeydown \"a\" -> d\n"
                       "  getglobal 0 \"d\"\n  getglobal 1 \"m\"\n  add 0 0 1\n  eq 1 0 #2\n  jump " + label +
                       "_down\n  jump " + label + "\n" + label + "_down:\n";
    for (const char* flag : {" 0", ""})
      text += "  .call " + command + " \"true\"" + flag +
              "\n  .call iskeydown \"a\" -> d\n  .call iskeydown \"LSHIFT\" -> s\n  .call isleftmouse -> m\n"
              "  .call debugprint $d $s $m\n";
    return text + "  .call iskeydown \"any\" -> any\n  .call debugprint $any\n  .call stringtofile \"1\" \"" +
           checked + label + "\"\n";
  };
  std::string applet = Applet("held", ".line 1\n" + phase("execute", "execute") + phase("run", "run"));
  Result r = Run({applet}, Typing([&](const std::string& xdotool, const std::string& window) {
                   for (const char* label : {"execute", "run"}) {
                     Tool(xdotool + "mousemove --window " + window + " 20 20 keydown a keydown shift mousedown 1");
                     for (int i = 0; i < 200 && access((checked + label).c_str(), F_OK) != 0; ++i) usleep(100000);
                     Tool(xdotool + "mouseup 1 keyup shift keyup a");
                   }
                 }));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1 1 1\n0 0 0\n0\n1 1 1\n0 0 0\n0\n");
}

// Waits (up to 10 s) until the player's main thread has slept through
// 100 ms without waking: it is then inside the blocking wait the applet
// went into after its last mark, not between two commands.
void WaitUntilAsleep(pid_t pid) {
  const std::string status = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/status";
  std::string last;
  for (int i = 0; i < 100; ++i) {
    std::ifstream in(status);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const size_t at = all.find("voluntary_ctxt_switches");
    const std::string now =
        all.find("State:\tS") != std::string::npos && at != std::string::npos ? all.substr(at) : "";
    if (!now.empty() && now == last) return;
    last = now;
    usleep(100000);
  }
}

// Clicks for WaitLeftMouse, WaitRightMouse and WaitMidMouse, keys for
// WaitKeyDown "x" and "any", then a click for LeftMouseQuit or Escape
// followed by another key for EscapeQuit (the applet then waits for a key
// that ends the wait only when the quit is missed), each sent once the
// applet is waiting: pressed and released back to back (a click or tap,
// which the event pump takes whole in one pass), or held 100 ms. Every
// wait returns on its input and the last one ends the player.
TEST_F(X11Clients, ButtonAndKeyWaitsAndTheQuitSwitchesSeeQuickAndHeldPresses) {
  const std::string mark = dir() + "/at";
  const char* waits[] = {"waitleftmouse", "waitrightmouse", "waitmidmouse", "waitkeydown \"x\"",
                         "waitkeydown \"any\""};
  std::string text = ".line 1\n";
  for (int i = 0; i < 5; ++i)
    text += ".call stringtofile \"1\" \"" + mark + std::to_string(i) + "\"\n.call " + waits[i] +
            "\n.call debugprint \"" + std::to_string(i) + "\"\n";
  text += ".call leftmousequit 1\n.call escapequit 1\n.call stringtofile \"1\" \"" + mark +
          "5\"\n.call waitkeydown \"any\"\n.call debugprint \"not ended\"\n";
  const std::string applet = Applet("presses", text);
  struct Case {
    bool held, escape;
  };
  for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
    for (int i = 0; i < 6; ++i) unlink((mark + std::to_string(i)).c_str());
    RunOptions options = Typing([&](const std::string& xdotool, const std::string& window) {
      // X numbers: 2 is the middle button.
      const std::string inputs[] = {"1", "3", "2", "x", "b", c.escape ? "Escape" : "1"};
      for (int i = 0; i < 6; ++i) {
        const std::string at = mark + std::to_string(i);
        for (int k = 0; k < 200 && access(at.c_str(), F_OK) != 0; ++k) usleep(50000);
        WaitUntilAsleep(player_);
        const std::string& in = inputs[i];
        const bool key = i == 3 || i == 4 || (i == 5 && c.escape);
        const std::string down = key ? "keydown " : "mousedown ", up = key ? "keyup " : "mouseup ";
        std::string command = down + in + (c.held ? " sleep 0.1 " : " ") + up + in;
        // A key right behind Escape: the pass's last key is then not Escape.
        if (i == 5 && c.escape) command += " keydown a keyup a";
        // A tap is sent while the player is stopped: it then reads the
        // press and the release in one pass.
        if (!c.held) kill(player_, SIGSTOP);
        Tool(xdotool + "mousemove --window " + window + " 20 20 " + command);
        if (!c.held) {
          usleep(200000);
          kill(player_, SIGCONT);
        }
      }
    });
    options.timeoutSeconds = 40;
    auto whileRunning = options.whileRunning;
    options.whileRunning = [&](pid_t pid, const std::string& display) {
      player_ = pid;
      whileRunning(pid, display);
    };
    Result r = Run({applet}, options);
    EXPECT_EQ(r.status, 0) << c.held << c.escape << r.out << r.err;
    EXPECT_EQ(r.out, "0\n1\n2\n3\n4\n") << c.held << c.escape;
  }
}

// Another client taking the clipboard runs the clipboardchange handler.
TEST_F(X11Clients, AnotherOwnerTakingTheClipboardRunsTheChangeHandler) {
  std::string text = WriteFile("text.txt", "new");
  std::string ready = dir() + "/ready";
  std::string applet = Applet("change", R"(.function onchange
  .params 1
  getfield 1 0 "action"
  .call base=2 debugprint r1
  ret
.end
.line 1
.table 0 { clipboardchange = fn:onchange }
.call base=1 installeventhandler r0
.call stringtofile "1" ")" + ready + R"("
.call waitevent
.call getclipboard -> kind got
.call debugprint $kind $got)");
  RunOptions options;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t, const std::string& display) {
    ASSERT_FALSE(vlplayer::WaitForWindow(display, "Vellamora").empty());
    for (int i = 0; i < 100 && access(ready.c_str(), F_OK) != 0; ++i) usleep(100000);
    Tool("xclip -i -selection clipboard " + Quote(text) + " >/dev/null 2>&1");
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ClipboardChange\n1 new\n");
}

// Drags `uris` onto `target` as an XDND source of its own and drops them
// there; the accept word of the target's last status and of its finish.
std::pair<long, long> DropOn(const std::string& display, Window target, const std::string& uris) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return {-1, -1};
  Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  auto send = [&](const char* type, long l1, long l2, long l3) {
    XEvent ev{};
    ev.xclient = {ClientMessage, 0, True, d, target, XInternAtom(d, type, False), 32, {}};
    ev.xclient.data.l[0] = static_cast<long>(source);
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    XSendEvent(d, target, False, NoEventMask, &ev);
    XFlush(d);
  };
  Atom status = XInternAtom(d, "XdndStatus", False), finished = XInternAtom(d, "XdndFinished", False);
  XSetSelectionOwner(d, XInternAtom(d, "XdndSelection", False), source, CurrentTime);
  send("XdndEnter", 5L << 24, static_cast<long>(XInternAtom(d, "text/uri-list", False)), 0);
  send("XdndPosition", 0, (10 << 16) | 10, CurrentTime);
  std::pair<long, long> answers{-1, -1};
  for (int i = 0; i < 1000 && answers.second < 0; ++i) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == ClientMessage && e.xclient.message_type == status && answers.first < 0) {
        answers.first = e.xclient.data.l[1];
        send("XdndDrop", 0, CurrentTime, 0);
      } else if (e.type == ClientMessage && e.xclient.message_type == finished) {
        answers.second = e.xclient.data.l[1];
      } else if (e.type == SelectionRequest) {
        const XSelectionRequestEvent& r = e.xselectionrequest;
        Answer(d, r, r.target, 8, uris.data(), static_cast<int>(uris.size()));
      }
    }
    usleep(10000);
  }
  XCloseDisplay(d);
  return answers;
}

// Files dragged from another client onto the display reach its ondropfile
// handler as a decoded list, and the source hears that they were taken.
TEST_F(X11Clients, FilesDroppedFromAnotherClientReachTheDropHandler) {
  std::string ready = dir() + "/ready";
  std::string applet = Applet("drop", R"(.function ondrop
  .params 1
  getfield 1 0 "numdropfiles"
  getfield 2 0 "dropfiles"
  getfield 3 2 #0
  getfield 4 2 #1
  .call base=5 debugprint r1 r3 r4
  ret
.end
.line 1
.table 0 { ondropfile = fn:ondrop }
.call base=1 installeventhandler r0
.call stringtofile "1" ")" + ready + R"("
.call waitevent)");
  std::pair<long, long> answers;
  RunOptions options;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Vellamora");
    ASSERT_FALSE(window.empty());
    for (int i = 0; i < 100 && access(ready.c_str(), F_OK) != 0; ++i) usleep(100000);
    answers = DropOn(display, std::stoul(window), "file:///tmp/a%20b.txt\r\nfile:///c\r\n");
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "2 /tmp/a b.txt /c\n");
  EXPECT_EQ(answers, (std::pair<long, long>{1, 1}));
}

// A picture goes to the clipboard as PNG: ImageMagick reads what xclip
// fetched; a PNG that xclip offers comes back as a new brush with its alpha.
TEST_F(X11Clients, PicturesTravelOverTheClipboardAsPng) {
  std::string out = dir() + "/out.png";
  Result r = OfferAndFetch(".call createbrush 1 5 3 16711680\n.call setclipboard 2 1\n", "image/png", out);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "offered\nread\n");
  EXPECT_EQ(Tool("convert " + Quote(out) + " -format '%m %w %h %[pixel:p{4,2}]' info:"), "PNG 5 3 srgb(255,0,0)");

  std::string png = dir() + "/in.png";
  Tool("convert -size 4x2 'xc:rgba(0,0,255,0.5)' " + Quote(png));
  int status = 0;
  Tool("xclip -i -selection clipboard -t image/png " + Quote(png) + " >/dev/null 2>&1", &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet("paste", ".line 1\n.call peekclipboard -> peek\n.call getclipboard -> kind b\n"
                           ".call getattribute 3 $b 0 -> w\n.call readbrushpixel $b 3 1 -> c a\n"
                           ".call debugprint $peek $kind $w $c $a");
  r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "2 2 4 255 128\n");
}

// Assembler text that prints "key" and the key text of each key pressed.
const std::string kPrintKeyDowns = R"(.function onkey
  .params 1
  getfield 1 0 "key"
  .call base=2 debugprint "key" r1
  ret
.end
.table 0 { onkeydown = fn:onkey }
.call base=1 installeventhandler r0
)";

// The Home key as a keyboard sends it: the key handler names it "HOME"
// and IsKeyDown "HOME" reads it down while it is held, up once let go.
TEST_F(X11Clients, TheHomeKeyArrivesAsHome) {
  std::string applet = Applet("home", ".line 1\n" + kPrintKeyDowns + WaitForKeyState("HOME", 1, "down") +
                                          WaitForKeyState("HOME", 0, "up"));
  Result r = Run({applet}, Typing([&](const std::string& xdotool, const std::string&) {
                   Tool(xdotool + "keydown Home sleep 0.2 keyup Home");
                 }));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "key HOME\ndown\nup\n");
}

// Tab with Shift held and the keypad's keys with Num Lock off arrive as the
// keys they are: Tab (its key text is eight blanks), the arrows, Home, End,
// the page keys, Insert and Delete.
TEST_F(X11Clients, ShiftTabAndTheKeypadWithoutNumLockArrive) {
  std::string applet = Applet("keypad", kPrintKeyDowns + WaitForKeyState("DEL", 1, "down"));
  Result r = Run({applet}, Typing([&](const std::string& xdotool, const std::string&) {
                   Tool(xdotool + "key shift+Tab KP_Up KP_Down KP_Left KP_Right KP_Home KP_End KP_Prior KP_Next "
                                  "KP_Insert keydown KP_Delete sleep 0.2 keyup KP_Delete");
                 }));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "key         \nkey UP\nkey DOWN\nkey LEFT\nkey RIGHT\nkey HOME\nkey END\nkey PAGEUP\n"
                   "key PAGEDOWN\nkey INSERT\nkey DEL\ndown\n");
}

}  // namespace

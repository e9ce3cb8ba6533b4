// The toolkit's requester dialogs as a user meets them: each appears under
// its title, is answered from the keyboard (xdotool), and the script gets
// what was chosen; closing one gives the cancel result.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <X11/Xatom.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;

// Whether the process has ended (it may wait to be reaped).
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;
  size_t paren = text.rfind(')');
  return paren == std::string::npos || text.compare(paren + 1, 3, " Z ") == 0;
}

// One dialog to answer: its title and the xdotool commands, in turn.
struct Answer {
  std::string title;
  std::vector<std::string> commands;
};

class GtkRequesters : public vlplayer::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    int status = 0;
    Tool("xdotool version >/dev/null 2>&1", &status);
    if (status != 0) GTEST_SKIP() << "xdotool is not installed";
  }

  // Runs the applet and answers its dialogs in order; missing names the
  // dialogs that never appeared.
  Result RunAnswering(const std::string& applet, const std::vector<Answer>& answers, std::string* missing,
                      const std::vector<std::string>& args = {}) {
    RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      for (const Answer& a : answers) {
        std::string window = vlplayer::WaitForWindow(display, a.title, 30000);
        if (window.empty()) {
          *missing += "[" + a.title + "]";
          return;
        }
        Tool("xdotool windowfocus --sync " + window);
        for (const std::string& command : a.commands) Tool("xdotool " + command);
      }
    };
    std::vector<std::string> all = args;
    all.push_back(applet);
    return Run(all, options);
  }
};

// Buttons answer with their response: the standard Yes of Yes|No|Cancel 1,
// own labels their position and the last one 0; a closed box 0; labels
// that are all empty give the one OK button, which answers 0.
TEST_F(GtkRequesters, MessageBoxGivesTheChosenButton) {
  std::string applet = Applet("box", R"(.line 1
.call systemrequest "Save changes" "Save them?" "Yes|No|Cancel" 4 -> a
.call systemrequest "Which one" "Pick" "Red|Green|Blue" -> b
.call systemrequest "Last one" "Pick" "Red|Green|Blue" 2 -> c
.call systemrequest "Closed box" "Bye" "OK|Cancel" -> d
.call systemrequest "Bare box" "No labels" "|" -> e
.call debugprint $a $b $c $d $e)");
  std::string missing;
  Result r = RunAnswering(applet,
                          {{"Save changes", {"key Return"}},
                           {"Which one", {"key Right", "key Return"}},
                           {"Last one", {"key Right Right", "key Return"}},
                           {"Closed box", {"key Escape"}},
                           {"Bare box", {"key Return"}}},
                          &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1 2 0 0 0\n");
}

// Numbers-only input keeps digits, '-' and '.' of what is typed; the
// maximum length cuts typing; a hidden default keeps its accented letter;
// a cancelled requester gives no text and 0.
TEST_F(GtkRequesters, StringDialogFiltersAndCancels) {
  std::string applet = Applet("string", R"(.line 1
.call stringrequest "Number please" "How many?" "" 3 -> t ok
.call debugprint $t $ok
.call stringrequest "Short name" "Who?" "xy" 0 3 -> t ok
.call debugprint $t $ok
.call stringrequest "Secret word" "Password?" "s\xe9same" 0 0 1 -> t ok
.call debugprint $t $ok
.call stringrequest "Never mind" "Who?" "abc" -> t ok
.call debugprint "[" $t "]" $ok)");
  std::string missing;
  Result r = RunAnswering(applet,
                          {{"Number please", {"type --delay 20 12a.5", "key Return"}},
                           {"Short name", {"key ctrl+a", "type --delay 20 abcdef", "key Return"}},
                           {"Secret word", {"key Return"}},
                           {"Never mind", {"key Escape"}}},
                          &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  // The ISO 8859-1 default goes to the toolkit as UTF-8 and comes back.
  EXPECT_EQ(r.out, "12.5 1\nabc 1\ns\xe9same 1\n[  ] 0\n");
}

// Arrow keys move from the preselected row; choices are shown as text,
// not markup; a cancel gives -1.
TEST_F(GtkRequesters, ListDialogGivesTheChosenIndex) {
  std::string applet = Applet("list", R"(.line 1
.table 0 { "a<b", "b&c", "plain" }
setglobal 0 "l"
.call listrequest "Pick a row" "Rows" $l 0 -> a
.call listrequest "No row" "Rows" $l 1 -> b
.call debugprint $a $b)");
  std::string missing;
  Result r = RunAnswering(applet, {{"Pick a row", {"key Down Down", "key Tab Return"}}, {"No row", {"key Escape"}}},
                          &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2 -1\n");
  EXPECT_EQ(r.err.find("markup"), std::string::npos) << r.err;
}

// The font selection starts at the given name and size; its answer is
// read back through Pango's family, style and weight; a cancel leaves the
// record as it was.
TEST_F(GtkRequesters, FontDialogGivesFamilySizeAndWeight) {
  // Prints the named fields of the record in global f.
  auto print = [](const std::vector<std::string>& fields) {
    std::string text, args;
    for (const std::string& field : fields) {
      text += "getglobal 0 \"f\"\ngetfield 1 0 \"" + field + "\"\nsetglobal 1 \"" + field + "\"\n";
      args += " $" + field;
    }
    return text + ".call debugprint \"[\"" + args + " \"]\"\n";
  };
  std::string applet = Applet("font", ".line 1\n.call fontrequest \"Choose a font\" \"Sans Bold Italic\" 20 -> f\n" +
                                          print({"family", "size", "weight", "slant", "bold", "italic"}) +
                                          ".call fontrequest \"Font again\" \"Serif\" 12 -> f\n" +
                                          print({"family", "size", "weight"}));
  std::string missing;
  Result r = RunAnswering(applet, {{"Choose a font", {"key Return"}}, {"Font again", {"key Escape"}}}, &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[ Sans 20 200 100 1 1 ]\n[  0 80 ]\n");
}

// The preset colour comes back as it went in; a colour typed as a name is
// scaled from the toolkit's 16-bit channels; a cancel gives -1.
TEST_F(GtkRequesters, ColourDialogGivesRgb) {
  std::string applet = Applet("colour", R"(.line 1
.call colorrequest "Choose a colour" 1193046 -> a
.call colorrequest "Colour by name" 1193046 -> b
.call colorrequest "Colour again" 1193046 -> c
.call debugprint $a $b $c)");
  std::string missing;
  Result r = RunAnswering(applet,
                          {{"Choose a colour", {"key Return"}},
                           {"Colour by name", {"key alt+n ctrl+a", "type --delay 20 " + Quote("#ff8000"), "key Return", "key alt+o"}},
                           {"Colour again", {"key Escape"}}},
                          &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::to_string(0x123456) + " " + std::to_string(0xFF8000) + " -1\n");
}

// The folder chooser starts in the given folder; in save mode a new
// folder is made from it; a cancel gives an empty path.
TEST_F(GtkRequesters, FolderChooserPicksAndMakesFolders) {
  std::string start = dir() + "/start";
  ASSERT_EQ(mkdir(start.c_str(), 0755), 0);
  std::string quoted = "\"" + start + "/\"";
  std::string applet = Applet("folder", ".line 1\n.call pathrequest \"Choose a folder\" 0 " + quoted +
                                            " -> a\n.call pathrequest \"New folder\" 2 " + quoted +
                                            " -> b\n.call pathrequest \"No folder\" 0 -> c\n"
                                            ".call debugprint $a\n.call debugprint $b\n.call debugprint \"[\" $c \"]\"");
  std::string missing;
  Result r = RunAnswering(applet,
                          {{"Choose a folder", {"key Return"}},
                           {"New folder", {"type --delay 20 made", "key Return"}},
                           {"No folder", {"key Escape"}}},
                          &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, start + "\n" + start + "/made\n[  ]\n");
  struct stat info{};
  EXPECT_EQ(stat((start + "/made").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// The chooser gives the whole path of what was picked, folder and name
// joined by one '/': a file named in the location field, and a new name
// typed for saving, both in the start folder.
TEST_F(GtkRequesters, FileChooserGivesWholePaths) {
  std::string folder = dir() + "/picks";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteFile("picks/req_pick.txt", "x");
  std::string applet = Applet("files", ".line 1\n.call filerequest \"Pick a file\" \"\" 0 \"" + folder +
                                           "\" -> a\n.call debugprint $a\n.call filerequest \"Save a file\" \"\" 2 \"" +
                                           folder + "\" -> b\n.call debugprint $b");
  std::string missing;
  Result r = RunAnswering(
      applet,
      {{"Pick a file", {"key ctrl+l sleep 0.3 type --delay 10 req_pick.txt", "sleep 0.3 key Return"}},
       {"Save a file", {"sleep 0.3 type --delay 10 new.txt", "sleep 0.3 key Return"}}},
      &missing);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, folder + "/req_pick.txt\n" + folder + "/new.txt\n");
}

// A dialog stays in front of the applet's active window, and an error the
// script does not handle is shown in a message box.
TEST_F(GtkRequesters, DialogsBelongToTheActiveWindow) {
  std::string applet = Applet("owner", R"(.line 1
.call waitkeydown "space"
.line 2
.call systemrequest "Owned box" "Hello" "OK" 1 -> a
.line 3
.call nosuchcommand)",
                              "display 1 200 100 Requester owner");
  std::string owner, transientFor, missing, errorBox;
  RunOptions options;
  options.quietAndTemp = false;  // a quiet run shows no error box
  options.whileRunning = [&](pid_t, const std::string& display) {
    owner = vlplayer::WaitForWindow(display, "Requester owner", 30000);
    if (owner.empty()) return;
    // A key pressed before the script waits for it is not seen: press
    // until the box comes.
    std::string box;
    for (int i = 0; i < 30 && box.empty(); ++i) {
      Tool("xdotool key space");
      box = vlplayer::WaitForWindow(display, "Owned box", 1000);
    }
    if (box.empty()) return;
    transientFor = Tool("xprop -id " + box + " WM_TRANSIENT_FOR");
    Tool("xdotool windowfocus --sync " + box + " key Return");
    errorBox = vlplayer::WaitForWindow(display, "VellamoraPlayer", 30000);
    if (!errorBox.empty()) Tool("xdotool windowfocus --sync " + errorBox + " key Return");
  };
  Result r = Run({"-tempdir", temp(), applet}, options);
  ASSERT_FALSE(owner.empty());
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", std::stoul(owner));
  EXPECT_NE(transientFor.find(std::string("window id # ") + hex), std::string::npos) << transientFor << " " << hex;
  EXPECT_FALSE(errorBox.empty()) << "no error box";
  EXPECT_EQ(r.status, 1) << r.out << r.err;
}

// The toolkit puts its own X error handler in place, which ends the
// process on the first error it did not expect. After a dialog, a request
// for the clipboard from a window that is gone (the answer fails with
// BadWindow) is reported and the script goes on.
TEST_F(GtkRequesters, XErrorsAfterADialogAreReportedAndSurvived) {
  std::string done = dir() + "/done";
  std::string applet = Applet("xerrors", R"(.line 1
.call systemrequest "First box" "Before the errors" "OK" -> a
.call setclipboard 1 "offered"
)" + vlplayer::WaitUntilFileExists(done) + R"(.call debugprint "survived")");
  bool asked = false;
  RunOptions options;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string box = vlplayer::WaitForWindow(display, "First box", 30000);
    if (box.empty()) return;
    Tool("xdotool windowfocus --sync " + box + " key Return");
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return;
    Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
    Window owner = None;
    for (int i = 0; i < 300 && owner == None; ++i) {
      owner = XGetSelectionOwner(d, clipboard);
      if (owner == None) usleep(50000);
    }
    if (owner != None) {
      Window gone = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
      XDestroyWindow(d, gone);
      XEvent request{};
      request.xselectionrequest.type = SelectionRequest;
      request.xselectionrequest.owner = owner;
      request.xselectionrequest.requestor = gone;
      request.xselectionrequest.selection = clipboard;
      request.xselectionrequest.target = XInternAtom(d, "TARGETS", False);
      request.xselectionrequest.property = XInternAtom(d, "VL_TEST_TARGETS", False);
      request.xselectionrequest.time = CurrentTime;
      XSendEvent(d, owner, False, NoEventMask, &request);
      XSync(d, False);
      asked = true;
      // The player answers while it waits; a second later it may end.
      sleep(1);
    }
    XCloseDisplay(d);
    Tool("touch " + Quote(done));
  };
  Result r = Run({applet}, options);
  ASSERT_TRUE(asked) << "the player never owned the clipboard: " << r.out << r.err;
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "survived\n");
  EXPECT_NE(r.err.find("X error: BadWindow"), std::string::npos) << r.err;
}

// The server named on the command line serves the first display and the
// dialogs, even when no default display exists.
TEST_F(GtkRequesters, CommandLineServerServesDisplayAndDialogs) {
  std::string applet = Applet("named", ".line 1\n.call systemrequest \"Named server\" \"Here\" \"Yes|No\" -> a\n"
                                       ".call debugprint $a");
  RunOptions options;
  options.display = false;
  bool answered = false;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string box = vlplayer::WaitForWindow(display, "Named server", 30000);
    answered = !box.empty();
    if (answered) Tool("xdotool windowfocus --sync " + box + " key Return");
  };
  Result r = Run({"-XSERVER", display(), applet}, options);
  EXPECT_TRUE(answered) << "no box on " << display() << ": " << r.out << r.err;
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1\n");
  // A server that does not exist fails with the connection error.
  options.whileRunning = nullptr;
  r = Run({"-XSERVER", ":4093", applet}, options);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Error opening connection to X server!"), std::string::npos) << r.out << r.err;
}

// When the error box cannot be made (the server takes no more clients),
// its text goes to standard output: an error never ends the player
// without a word.
TEST_F(GtkRequesters, ErrorBoxThatCannotOpenIsPrinted) {
  std::string full = dir() + "/full";
  std::string applet = Applet("nobox", ".line 1\n" + vlplayer::WaitUntilFileExists(full) + ".line 9\n.call nosuchcommand");
  std::vector<Display*> held;
  bool ended = false;
  RunOptions options;
  options.quietAndTemp = false;  // a quiet run shows no error box
  options.whileRunning = [&](pid_t player, const std::string& display) {
    if (vlplayer::WaitForWindow(display, "Vellamora", 30000).empty()) return;
    // Every client slot the server has left.
    while (held.size() < 2000) {
      Display* d = XOpenDisplay(display.c_str());
      if (!d) break;
      held.push_back(d);
    }
    Tool("touch " + Quote(full));
    for (int i = 0; i < 600 && !(ended = Ended(player)); ++i) usleep(100000);
  };
  Result r = Run({"-tempdir", temp(), applet}, options);
  for (Display* d : held) XCloseDisplay(d);
  EXPECT_GT(held.size(), 0u);
  EXPECT_TRUE(ended) << "the player waited for a box nobody could see";
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Function nosuchcommand() not found!"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("nobox.vls"), std::string::npos) << r.out;
}

// An end signal closes the dialog that is open (a script's message box, a
// file chooser, the error box of the shut-down): the run ends through its
// shut-down with the signal's status, the script goes no further, and the
// unpacked copy of the compressed applet is gone.
TEST_F(GtkRequesters, EndSignalClosesTheOpenDialog) {
  struct Case {
    const char* name;
    const char* text;
    const char* title;
    int signal;
  };
  const Case cases[] = {
      {"sigbox", ".call systemrequest \"Signal box\" \"Waiting\" \"Yes|No\" -> a\n.call debugprint \"after\" $a",
       "Signal box", SIGTERM},
      {"sigfile", ".call filerequest \"Signal file\" -> f\n.call debugprint \"after\" $f", "Signal file", SIGINT},
      {"sigerror", ".call nosuchcommand", "VellamoraPlayer", SIGHUP},
  };
  for (const Case& c : cases) {
    std::string applet = Applet(c.name, std::string(".line 1\n") + c.text, "compress");
    RunOptions options;
    options.timeoutSeconds = 40;
    // A quiet run shows no error box.
    const bool errorBox = c.signal == SIGHUP;
    options.quietAndTemp = !errorBox;
    std::string window;
    bool copy = false;
    options.whileRunning = [&](pid_t player, const std::string& display) {
      window = vlplayer::WaitForWindow(display, c.title, 30000);
      copy = !TempEntries().empty();
      if (!window.empty()) kill(player, c.signal);
    };
    Result r = errorBox ? Run({"-tempdir", temp(), applet}, options) : Run({applet}, options);
    ASSERT_FALSE(window.empty()) << c.name << ": no dialog";
    EXPECT_TRUE(copy) << c.name << ": no unpacked copy while the dialog was open";
    EXPECT_EQ(r.status, -c.signal) << c.name << ": " << r.out << r.err;
    if (!errorBox) {
      EXPECT_EQ(r.out, "") << c.name;
    }
    EXPECT_TRUE(TempEntries().empty()) << c.name;
  }
}

}  // namespace

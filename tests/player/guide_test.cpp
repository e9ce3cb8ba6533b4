// The guide to writing applets (tools/README.md) as a newcomer follows it:
// its example script, description and commands are taken from the guide's
// text and run as they stand, and the applet must show its window, print
// and sound; every other snippet must print what the guide says it prints.
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Quote;

// The fenced blocks of a document, by the name of the marker before each
// ("<!-- guide: NAME -->" in the guide).
std::map<std::string, std::string> MarkedBlocks(const std::string& file, const std::string& marker) {
  std::ifstream in(std::string(VL_SOURCE_ROOT) + "/" + file);
  std::map<std::string, std::string> blocks;
  std::string line, name, text;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside && line.rfind(marker, 0) == 0) {
      name = line.substr(marker.size(), line.find(" -->") - marker.size());
    } else if (line == "```" && !name.empty()) {
      if (inside) {
        blocks[name] = text;
        name.clear();
        text.clear();
      }
      inside = !inside;
    } else if (inside) {
      text += line + "\n";
    }
  }
  return blocks;
}

std::map<std::string, std::string> GuideBlocks() { return MarkedBlocks("tools/README.md", "<!-- guide: "); }

class Guide : public PlayerTest {
 protected:
  // Runs the guide's applet NAME in a window titled title, lets act drive
  // it with xdotool (its arguments: the command's start for the display,
  // and the window), and checks that it prints the guide's NAME.out.
  void RunDrivenSnippet(const std::string& name, const std::string& title,
                        const std::function<void(const std::string&, const std::string&)>& act) {
    std::map<std::string, std::string> blocks = GuideBlocks();
    ASSERT_EQ(blocks.count(name + ".vlasm"), 1u);
    ASSERT_EQ(blocks.count(name + ".out"), 1u);
    std::string applet = Applet(name, blocks[name + ".vlasm"], "display 1 200 100 " + title);
    vlplayer::RunOptions options;
    options.timeoutSeconds = 30;
    options.whileRunning = [&](pid_t, const std::string& display) {
      std::string window = vlplayer::WaitForWindow(display, title);
      ASSERT_FALSE(window.empty());
      act("DISPLAY=" + Quote(display) + " xdotool ", window);
    };
    vlplayer::Result r = Run({"-DEBUGDEVICE", "console", applet}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, blocks[name + ".out"]);
  }
};

TEST_F(Guide, TheExampleRunsAsWritten) {
  std::map<std::string, std::string> blocks = GuideBlocks();
  ASSERT_EQ(blocks.count("tone.vlasm"), 1u);
  ASSERT_EQ(blocks.count("tone.desc"), 1u);
  ASSERT_EQ(blocks.count("run"), 1u);
  WriteFile("tone.vlasm", blocks["tone.vlasm"]);
  WriteFile("tone.desc", blocks["tone.desc"]);
  // The commands name the build tree from the source root; here it is
  // the tree this test was built in.
  std::string run = blocks["run"];
  const std::string tree = "B=build/release\n";
  ASSERT_EQ(run.rfind(tree, 0), 0u) << run;
  run = "B=" + Quote(VL_BINARY_DIR) + "\nset -e\n" + run.substr(tree.size());
  WriteFile("run.sh", run);

  std::string window;
  std::thread watch([&] { window = vlplayer::WaitForWindow(display(), "Tone", 20000); });
  int status = 0;
  std::string out = Tool("cd " + Quote(dir()) + " && DISPLAY=" + Quote(display()) + " ALSA_CONFIG_PATH=" +
                             Quote(dir() + "/asound.conf") + " sh run.sh 2>&1",
                         &status);
  watch.join();
  EXPECT_EQ(status, 0) << out;
  // Progress lines first, then the script's own output.
  EXPECT_EQ(out.substr(out.size() - std::min<size_t>(out.size(), 15)), "...done\nplayed\n") << out;
  EXPECT_FALSE(window.empty()) << "no window titled Tone";
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_NEAR(vlplayer::SoxStat(sink[0], "Length (seconds)"), 1.0, 0.05);
  EXPECT_GT(vlplayer::SoxStat(sink[0], "RMS     amplitude"), 0.1);
}

// The guide's linked program: the tone applet with its sound linked in,
// linked into a copy of the player, moved to a folder of its own and
// started from another one with no applet named, plays the tone and
// prints only what the script prints.
TEST_F(Guide, TheLinkedProgramRunsFromAnotherFolder) {
  std::map<std::string, std::string> blocks = GuideBlocks();
  ASSERT_EQ(blocks.count("link"), 1u);
  WriteFile("tone.vlasm", blocks["tone.vlasm"]);
  WriteFile("tone.desc", blocks["tone.desc"] + "linkedfile tone.wav tone.wav\n");
  std::string run = blocks["run"], link = blocks["link"];
  const std::string tree = "B=build/release\n";
  ASSERT_EQ(run.rfind(tree, 0), 0u) << run;
  ASSERT_EQ(link.rfind(tree, 0), 0u) << link;
  // The guide's build commands without their last line (the player run on
  // the .vla), then the link block.
  run = run.substr(tree.size());
  run = run.substr(0, run.rfind("$B/app/"));
  WriteFile("link.sh", "B=" + Quote(VL_BINARY_DIR) + "\nset -e\n" + run + link.substr(tree.size()));
  int status = 0;
  std::string out = Tool("cd " + Quote(dir()) + " && HOME=" + Quote(dir()) + " DISPLAY=" + Quote(display()) +
                             " ALSA_CONFIG_PATH=" + Quote(dir() + "/asound.conf") + " sh link.sh 2>&1",
                         &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "played\n");
  // The program sits alone in its folder: the sound came from inside it.
  EXPECT_EQ(Tool("ls " + Quote(dir() + "/apps")), "tone\n");
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_NEAR(vlplayer::SoxStat(sink[0], "Length (seconds)"), 1.0, 0.05);
  EXPECT_GT(vlplayer::SoxStat(sink[0], "RMS     amplitude"), 0.1);
}

// Every NAME.vlasm snippet of the guide with its NAME.out block: the
// snippet runs as an applet with errors on the terminal and prints exactly
// that; the ones that end with an error exit with status 1.
TEST_F(Guide, SnippetsPrintWhatTheGuideSays) {
  std::map<std::string, std::string> blocks = GuideBlocks();
  const std::map<std::string, int> kStatus = {{"decide", 0}, {"compare", 1}, {"loop", 0},     {"tables", 0},
                                              {"haveitem", 0}, {"strict", 1}, {"handler", 0}, {"prefs", 0},
                                              {"outline", 0},  {"gameloop", 0}, {"text", 0},
                                              {"join", 0},     {"print", 1}};
  int run = 0;
  for (const auto& [block, text] : blocks) {
    const std::string suffix = ".vlasm";
    if (block.size() <= suffix.size() || block.compare(block.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string name = block.substr(0, block.size() - suffix.size());
    if (name == "tone" || name == "keys" || name == "mouse" || name == "input") continue;  // run by their own tests
    ASSERT_EQ(blocks.count(name + ".out"), 1u) << name << " has no output block";
    ASSERT_EQ(kStatus.count(name), 1u) << name << ": a new snippet needs its exit status here";
    // A snippet with a description block of its own (after the revision
    // line, which every applet here gets).
    std::string description;
    if (blocks.count(name + ".desc")) {
      description = blocks[name + ".desc"];
      const std::string revision = "revision 6 1\n";
      ASSERT_EQ(description.rfind(revision, 0), 0u) << name;
      description = description.substr(revision.size());
    }
    std::string applet = Applet(name, text, description);
    // A snippet a newcomer copies assembles without a warning.
    EXPECT_EQ(Tool(Quote(VL_ASM_PATH) + " -o /dev/null " + Quote(dir() + "/" + name + ".vlasm") + " 2>&1"), "")
        << name;
    vlplayer::RunOptions options;
    options.timeoutSeconds = 30;
    vlplayer::Result r = Run({"-DEBUGDEVICE", "console", applet}, options);
    EXPECT_EQ(r.status, kStatus.at(name)) << name << "\n" << r.out << r.err;
    EXPECT_EQ(r.out, blocks[name + ".out"]) << name;
    ++run;
  }
  EXPECT_EQ(run, static_cast<int>(kStatus.size()));
  // The preferences went where the guide says: under HOME (the test's
  // folder here), named by the identifier, behind the store's magic.
  std::ifstream prefs(dir() + "/.vellamora-pix/preferences/org.example.prefs", std::ios::binary);
  std::string stored((std::istreambuf_iterator<char>(prefs)), {});
  EXPECT_EQ(stored.substr(0, 4), "PRFS");
  EXPECT_NE(stored.find("Player"), std::string::npos);
}

// Every constant the reference lists, written #NAME in assembler text,
// is the value the running player's getconstant gives for it: vlasm's
// table and the libraries' registrations agree.
TEST_F(Guide, AssemblerConstantsAreTheRunningPlayers) {
  std::ifstream in(std::string(VL_SOURCE_ROOT) + "/docs/commands.md");
  std::string line, text;
  const std::regex entry("`#([A-Z0-9_]+)` ");
  int count = 0;
  while (std::getline(in, line)) {
    if (line.rfind("Constants: ", 0) != 0) continue;
    for (std::sregex_iterator it(line.begin(), line.end(), entry), end; it != end; ++it) {
      const std::string name = (*it)[1];
      // r0 = getconstant("#NAME"), r1 = #NAME as vlasm wrote it; a
      // mismatch prints the name (a number against a string stops the
      // script with its own error).
      text += "getglobal 0 \"getconstant\"\nloadk 1 \"#" + name + "\"\ncall 0 2 2\nloadk 1 #" + name +
              "\neq 1 0 1\njump ok" + std::to_string(count) + "\n.call base=2 debugprint \"differs: " + name +
              "\"\nok" + std::to_string(count) + ":\n";
      ++count;
    }
  }
  ASSERT_GT(count, 900);
  std::string applet = Applet("constants", ".line 1\n" + text + ".call base=2 debugprint \"checked\" " +
                                               std::to_string(count));
  vlplayer::Result r = Run({"-DEBUGDEVICE", "console", applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "checked " + std::to_string(count) + "\n");
}

// The reference's rows of the commands newcomers met trouble with say what
// the running player does: each row holds its phrase, and the lines run for
// it print the line that phrase promises (with the player's 8-pixel font).
TEST_F(Guide, ReferenceRowsSayWhatTheCommandsDo) {
  const std::string cursor =
      ".call getattribute #DISPLAY 1 #ATTRCURSORX -> X\n.call getattribute #DISPLAY 1 #ATTRCURSORY -> Y\n";
  // The red byte of the top left, top right and bottom left pixels of a
  // red-to-blue gradient of 2 x 2 pixels, in registers 0 to 2.
  const std::string corners =
      ".call displaybgpic 1\n.call readpixel 0 0 -> A\n.call readpixel 1 0 -> B\n.call readpixel 0 1 -> C\n"
      "getglobal 0 \"A\"\ndivint 0 0 #65536\ngetglobal 1 \"B\"\ndivint 1 1 #65536\ngetglobal 2 \"C\"\n"
      "divint 2 2 #65536\n";
  // A tracker module of one silent pattern, a WAV music of half a second
  // and a video of five frames at 25 a second, for the attribute units.
  std::string module(2108, '\0');
  module[950] = 1;
  module.replace(1080, 4, "M.K.");
  WriteFile("tune.mod", module);
  ASSERT_NE(Tool("sox -n -r 8000 -c 1 -b 16 " + Quote(dir() + "/half.wav") + " synth 0.5 sine 440 && echo ok"), "");
  for (const char* kind : {"aiff", "voc"})
    ASSERT_NE(Tool("sox " + Quote(dir() + "/half.wav") + " " + Quote(dir() + "/half." + kind) + " && echo ok"), "");
  const std::string at = dir() + "/";
  // An anim of one red frame for the savers, and an applet of its own that
  // counts the loop events of a sample played three times.
  const std::string anim = ".call createbrush 9 4 4 0xFF0000\n.call createanim 9 9 4 4 1 1\n";
  const struct {
    std::string command, phrase, code, out;
  } kRows[] = {
      {"print", "leaves the cursor on the line", ".call locate 0 0\n.call print \"ab\"\n" + cursor + ".call debugprint $X $Y",
       "16 0"},
      {"nprint", "then ends the line", ".call locate 0 0\n.call nprint \"ab\"\n" + cursor + ".call debugprint $X $Y",
       "0 8"},
      {"textwidth", "as written, tags included", ".call textwidth \"[b]ab[/b]\" -> W\n.call debugprint $W", "72"},
      {"textextent", "as written, tags included",
       ".call textextent \"[b]ab[/b]\" -> T\ngetglobal 0 \"T\"\ngetfield 1 0 \"width\"\n.call base=2 debugprint r1", "72"},
      {"createtextobject", "size of the text as shown",
       ".call createtextobject 1 \"[b]ab[/b]\"\n.call getattribute #TEXTOBJECT 1 #ATTRWIDTH -> W\n.call debugprint $W",
       "17"},
      {"displaysprite", "error 1162",
       ".call createbrush 1 4 4 0xFF0000\n.call createsprite 1 #BRUSH 1\n.call enablelayers\n.call exitonerror 0\n"
       ".call displaysprite 1 0 0\n.call getlasterror -> E\n.call exitonerror 1\n.call disablelayers\n.call debugprint $E",
       "1162"},
      {"enablelayers", "error 1224",  // the sprite of the row before
       ".call displaysprite 1 0 0\n.call exitonerror 0\n.call enablelayers\n.call getlasterror -> E\n"
       ".call exitonerror 1\n.call removesprites\n.call debugprint $E",
       "1224"},
      {"drawpath", "anti-aliased only after setformstyle #ANTIALIAS",
       ".call setfillstyle #FILLCOLOR\n.call startpath 1\n.call addcircletopath 1 20 20 20\n"
       ".call drawpath 1 0 0 0xFFFFFF { antialias = 1 }\n.call readpixel 4 6 -> A\n.call setformstyle #ANTIALIAS\n"
       ".call drawpath 1 0 0 0xFFFFFF\n.call readpixel 4 6 -> B\n.call setformstyle #NORMAL\n.call debugprint $A $B",
       "0 3158064"},
      {"displaybgpic", "resizes the display and its window",
       ".call createbgpic 1 100 80\n.call displaybgpic 1\n.call getattribute #DISPLAY 1 #ATTRWIDTH -> W\n"
       ".call getattribute #DISPLAY 1 #ATTRHEIGHT -> H\n.call debugprint $W $H",
       "100 80"},
      {"creategradientbgpic", "at 0 the start colour is at the top and the end colour at the bottom",
       ".call creategradientbgpic 1 #LINEAR 0xFF0000 0x0000FF 2 2 0\n" + corners + ".call base=3 debugprint r0 r1 r2",
       "191 191 63"},
      {"creategradientbgpic", "at 90 the start colour is at the left",
       ".call creategradientbgpic 1 #LINEAR 0xFF0000 0x0000FF 2 2 90\n" + corners + ".call base=3 debugprint r0 r1 r2",
       "191 63 191"},
      {"getattribute", "a tracker module answers -1 for both",
       ".call openmusic 1 \"" + at + "tune.mod\"\n.call getattribute #MUSIC 1 #ATTRDURATION -> D\n"
       ".call getattribute #MUSIC 1 #ATTRPOSITION -> P\n.call openmusic 2 \"" + at + "half.wav\"\n"
       ".call getattribute #MUSIC 2 #ATTRDURATION -> W\n.call debugprint $D $P $W",
       "-1 -1 500"},
      {"getattribute", "a video's and a WAV music's position and duration are milliseconds",
       ".call createbrush 8 8 8 0x00FF00\n.call beginanimstream 8 \"" + at + "five.avi\" 8 8 #ANMFMT_MJPEG { fps = 25 }\n"
       ".call writeanimframe 8 8\n.call writeanimframe 8 8\n.call writeanimframe 8 8\n.call writeanimframe 8 8\n"
       ".call writeanimframe 8 8\n.call finishanimstream 8\n.call openvideo 1 \"" + at + "five.avi\"\n"
       ".call getattribute #VIDEO 1 #ATTRDURATION -> D\n.call getattribute #VIDEO 1 #ATTRPOSITION -> P\n"
       ".call debugprint $D $P",
       "200 0"},
      {"saveanim", "transparency with usealpha is error 1223",
       anim + ".call exitonerror 0\n.call saveanim 9 \"" + at + "x.gif\" #ANMFMT_GIF { usealpha = 1, transparency = 0 }\n"
       ".call getlasterror -> E\n.call exitonerror 1\n.call debugprint $E",
       "1223"},
      {"beginanimstream", "writeanimframe's transparency is then error 1223",
       ".call beginanimstream 7 \"" + at + "y.gif\" 4 4 #ANMFMT_GIF { usealpha = 1 }\n.call writeanimframe 7 9\n"
       ".call exitonerror 0\n.call writeanimframe 7 9 { transparency = 0 }\n.call getlasterror -> E\n"
       ".call exitonerror 1\n.call finishanimstream 7\n.call debugprint $E",
       "1223"},
      {"writeanimframe", "transparency on a stream with usealpha is error 1223",
       ".call beginanimstream 7 \"" + at + "z.gif\" 4 4 #ANMFMT_GIF { usealpha = 1 }\n.call exitonerror 0\n"
       ".call writeanimframe 7 9 { transparency = 0xFF0000 }\n.call getlasterror -> E\n.call exitonerror 1\n"
       ".call writeanimframe 7 9\n.call finishanimstream 7\n.call debugprint $E",
       "1223"},
      {"comparedates", "1 when date1 is later, 2 when it is earlier, 0 when they are the same",
       ".call comparedates \"02-Jan-2020 10:00:00\" \"01-Jan-2020 10:00:00\" -> A\n"
       ".call comparedates \"01-Jan-2020 10:00:00\" \"02-Jan-2020 10:00:00\" -> B\n"
       ".call comparedates \"01-Jan-2020 10:00:00\" \"01-Jan-2020 10:00:00\" -> C\n.call debugprint $A $B $C",
       "1 2 0"},
      {"loadsample", "WAV (8 or 16-bit PCM), IFF 8SVX or IFF 16SV; any other format (AIFF, VOC ...) needs a plug-in",
       ".call loadsample 3 \"" + at + "half.wav\"\n.call exitonerror 0\n.call loadsample 4 \"" + at +
           "half.aiff\"\n.call getlasterror -> A\n.call loadsample 4 \"" + at +
           "half.voc\"\n.call getlasterror -> V\n.call exitonerror 1\n.call debugprint $A $V",
       "1357 1357"},
      {"stringrequest", "a default that is not a number, such as \"abc\", is error 1055 before anything is asked",
       ".call exitonerror 0\n.call stringrequest \"t\" \"b\" \"abc\" 3\n.call getlasterror -> E\n"
       ".call exitonerror 1\n.call debugprint $E",
       "1055"},
      {"selectbgpic", "needs layers on, else error 1078",
       ".call createbgpic 12 8 8\n.call exitonerror 0\n.call selectbgpic 12\n.call getlasterror -> E\n"
       ".call exitonerror 1\n.call debugprint $E",
       "1078"},
      {"undo", "#VECTORPATH (a drawpath); a type no drawing makes (#LAYER, #DISPLAY ...) or no such layer removes nothing",
       ".call enablelayers\n.call startpath 7\n.call addboxtopath 7 0 0 4 4\n.call drawpath 7 0 0 0xFF0000\n"
       ".call undo #LAYER\n.call getattribute #DISPLAY 1 #ATTRLAYERS -> A\n.call undo #VECTORPATH\n"
       ".call getattribute #DISPLAY 1 #ATTRLAYERS -> B\n.call disablelayers\n.call debugprint $A $B",
       "1 0"},
      {">transitionfx", "`enddoublebuffer` after an effect is error 1244",
       ".call createbrush 13 4 4 0xFF0000\n.call begindoublebuffer\n.call displaybrushfx 13 0 0 #CROSSFADE 100\n"
       ".call exitonerror 0\n.call enddoublebuffer\n.call getlasterror -> E\n.call exitonerror 1\n.call debugprint $E",
       "1244"},
      {"playsample", "onsampleloop comes at the start of every pass, the first included",
       "loadk 0 #0\nsetglobal 0 \"Loops\"\n.table 0 { onsampleloop = $CountLoop }\n"
       ".call base=1 installeventhandler r0\n.table 0 { 0, 100, -100, 0 }\n.call base=1 createsample 5 r0 256\n"
       ".call playsample 5 3\n.call waitsampleend 5\n.call wait 3\n.call checkevents\n.call debugprint $Loops",
       "3"},
  };
  std::ifstream in(std::string(VL_SOURCE_ROOT) + "/docs/commands.md");
  // The rows by command; a library's text after its table by ">library".
  std::map<std::string, std::string> rows;
  std::string library;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) == 0) rows[line.substr(3, line.find('`', 3) - 3)] = line;
    else if (line.rfind("## ", 0) == 0) library = ">" + line.substr(3, line.find(' ', 3) - 3);
    else if (!library.empty()) rows[library] += line + "\n";
  }
  std::string text = ".function countloop\n  .params 1\n  getglobal 1 \"Loops\"\n  add 1 1 #1\n"
                     "  setglobal 1 \"Loops\"\n  ret\n.end\n.defun CountLoop countloop\n.line 1\n" + anim,
              expected;
  for (const auto& row : kRows) {
    ASSERT_EQ(rows.count(row.command), 1u) << row.command;
    EXPECT_NE(rows[row.command].find(row.phrase), std::string::npos) << rows[row.command];
    text += ".call debugprintnr \"" + row.command + " \"\n" + row.code + "\n";
    expected += row.command + " " + row.out + "\n";
  }
  vlplayer::Result r = Run({"-DEBUGDEVICE", "console", Applet("rows", text + "ret")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);

  // The guide says the same of the loop event, and quotes what vlasm
  // prints for an expression.
  std::ifstream guideFile(std::string(VL_SOURCE_ROOT) + "/tools/README.md");
  const std::string guide((std::istreambuf_iterator<char>(guideFile)), {});
  EXPECT_NE(guide.find("`onsampleloop` comes at the start of every pass, the first included"), std::string::npos);
  for (const char* value : {"#BOLD+#ITALIC", "2*8"}) {
    WriteFile("expr.vlasm", std::string(".line 1\n.call debugprint ") + value + "\nret\n");
    std::string said = Tool(Quote(VL_ASM_PATH) + " -o /dev/null " + Quote(dir() + "/expr.vlasm") + " 2>&1");
    const std::string prefix = dir() + "/expr.vlasm:2: ";
    ASSERT_EQ(said.rfind(prefix, 0), 0u) << said;
    said = said.substr(prefix.size(), said.size() - prefix.size() - 1);
    EXPECT_NE(guide.find("(\"" + said + "\")"), std::string::npos) << said;
  }
}

// Every row of the reference whose results are a list of whole numbers
// ("0 or 1", "0, 1 or 2") names exactly the values the command returns:
// each is run until it has returned every value its row names, and no
// other; rows whose values need a user, a device or a menu are listed.
// A row naming a sound, picture or video format the player has no reader
// for says that it needs a plug-in.
TEST_F(Guide, ReferenceResultsAndFormatsHoldForEveryRow) {
  const std::string at = dir() + "/";
  ASSERT_NE(Tool("sox -n -r 8000 -c 1 -b 16 " + Quote(at + "s.wav") + " synth 0.1 sine 440 && echo ok"), "");
  const std::string anim = ".call createbrush 13 8 4 0xFF0000\n.call createanim 13 13 4 4 2 2\n";
  const std::map<std::string, std::string> kExercised = {
      {"bittest", ".call bittest 5 0 -> A\n.call bittest 5 1 -> B\n.call debugprint $A $B"},
      {"sgn", ".call sgn -5 -> A\n.call sgn 0 -> B\n.call sgn 7 -> C\n.call debugprint $A $B $C"},
      {"dumpvideotime", ".call dumpvideotime -> A\n.call debugprint $A"},
      {"eof", ".call openfile 20 \"" + at + "s.wav\"\n.call eof 20 -> A\n.call seek 20 0 #SEEK_END\n.call eof 20 -> B\n"
              ".call closefile 20\n.call debugprint $A $B"},
      {"exists", ".call exists \"" + at + "s.wav\" -> A\n.call exists \"" + at + "none\" -> B\n.call debugprint $A $B"},
      {"isdirectory", ".call isdirectory \"" + at + "\" -> A\n.call isdirectory \"" + at + "s.wav\" -> B\n.call debugprint $A $B"},
      {"matchpattern", ".call matchpattern \"abc\" \"a*\" -> A\n.call matchpattern \"abc\" \"b*\" -> B\n.call debugprint $A $B"},
      {"comparedates", ".call comparedates \"02-Jan-2020 10:00:00\" \"01-Jan-2020 10:00:00\" -> A\n"
                       ".call comparedates \"01-Jan-2020 10:00:00\" \"02-Jan-2020 10:00:00\" -> B\n"
                       ".call comparedates \"01-Jan-2020 10:00:00\" \"01-Jan-2020 10:00:00\" -> C\n"
                       ".call debugprint $A $B $C"},
      {"haveitem", ".table 0 { a = 1 }\n.call base=1 haveitem r0 \"a\" -> A\n.table 0 { a = 1 }\n"
                   ".call base=1 haveitem r0 \"b\" -> B\n.call debugprint $A $B"},
      {"haveobject", anim + ".call haveobject #BRUSH 13 -> A\n.call haveobject #BRUSH 99 -> B\n.call debugprint $A $B"},
      {"haveobjectdata", ".call setobjectdata #BRUSH 13 \"k\" 1\n.call haveobjectdata #BRUSH 13 \"k\" -> A\n"
                         ".call haveobjectdata #BRUSH 13 \"z\" -> B\n.call debugprint $A $B"},
      {"isnil", ".call isnil nil -> A\n.call isnil 5 -> B\n.call debugprint $A $B"},
      {"istableempty", ".table 0 { }\n.call base=1 istableempty r0 -> A\n.table 0 { 1 }\n"
                       ".call base=1 istableempty r0 -> B\n.call debugprint $A $B"},
      {"rawequal", ".call rawequal 1 1 -> A\n.call rawequal 1 2 -> B\n.call debugprint $A $B"},
      {"isanim", ".call saveanim 13 \"" + at + "a.gif\"\n.call isanim \"" + at + "a.gif\" -> A\n.call isanim \"" + at +
                     "s.wav\" -> B\n.call debugprint $A $B"},
      {"isvideo", ".call saveanim 13 \"" + at + "v.avi\" #ANMFMT_MJPEG\n.call isvideo \"" + at + "v.avi\" -> A\n"
                  ".call isvideo \"" + at + "s.wav\" -> B\n.call debugprint $A $B"},
  };
  // Answers that need a user at the keys or the mouse, a joystick, a menu
  // or a video playing.
  const std::set<std::string> kNeedsMore = {"iskeydown",   "isleftmouse",        "ismidmouse",
                                            "isrightmouse", "joyfire",            "ismenuitemdisabled",
                                            "ismenuitemselected", "isvideoplaying"};
  std::ifstream in(std::string(VL_SOURCE_ROOT) + "/docs/commands.md");
  std::map<std::string, std::set<std::string>> stated;
  const std::regex whole("-?[0-9]+");
  const std::regex unread("\\b(AIFF|VOC|OGG|MP3|FLAC|MP4|MPEG|TIFF|WEBP|XM|S3M)\\b");
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    ++rows;
    const std::string name = line.substr(3, line.find('`', 3) - 3);
    if (std::regex_search(line, unread)) {
      EXPECT_NE(line.find("plug-in"), std::string::npos) << "names a format the player does not read: " << line;
    }
    // The results cell: the third of the row's cells.
    size_t cell = line.find(" | ");
    cell = line.find(" | ", cell + 3);
    const size_t end = line.find(" | ", cell + 3);
    std::string results = line.substr(cell + 3, end - cell - 3);
    if (!std::regex_match(results, std::regex("-?[0-9]+((, -?[0-9]+)* or -?[0-9]+)?"))) continue;
    for (std::sregex_iterator i(results.begin(), results.end(), whole), e; i != e; ++i) stated[name].insert(i->str());
  }
  EXPECT_GT(rows, 500);
  std::string text = ".line 1\n", expected;
  for (const auto& [name, values] : stated) {
    if (kNeedsMore.count(name)) {
      EXPECT_EQ(values, (std::set<std::string>{"0", "1"})) << name;
      continue;
    }
    ASSERT_EQ(kExercised.count(name), 1u) << name << ": a row stating its values with no run to check them";
    text += ".call debugprintnr \"" + name + " \"\n" + kExercised.at(name) + "\n";
  }
  vlplayer::Result r = Run({"-DEBUGDEVICE", "console", Applet("values", text + "ret")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::istringstream said(r.out);
  std::set<std::string> seen;
  for (std::string line; std::getline(said, line);) {
    std::istringstream words(line);
    std::string name, value;
    words >> name;
    std::set<std::string> got;
    while (words >> value) got.insert(value);
    EXPECT_EQ(got, stated[name]) << name << " returned other values than its row names";
    seen.insert(name);
  }
  for (const auto& [name, values] : stated) {
    EXPECT_TRUE(kNeedsMore.count(name) || seen.count(name)) << name;
  }
}

// The key applet of the guide gets the keys the guide says it is pressed
// with, from a real X client, and prints what the guide shows.
TEST_F(Guide, KeyHandlerGetsTheKeysTheGuideShows) {
  RunDrivenSnippet("keys", "Keys", [&](const std::string& xdotool, const std::string& window) {
    Tool(xdotool + "windowfocus --sync " + window);
    for (const char* key : {"a", "Return", "space", "Tab", "F1", "Left", "shift+b", "q"})
      Tool(xdotool + "key " + key + " sleep 0.1");
  });
}

// The mouse applet of the guide, pressed at a place of its display by a
// real X client, prints that place from mousex and mousey, and that the
// message itself has no position.
TEST_F(Guide, MouseHandlerReadsThePositionWithTheCommands) {
  RunDrivenSnippet("mouse", "Mouse", [&](const std::string& xdotool, const std::string& window) {
    Tool(xdotool + "mousemove --sync --window " + window + " 30 40 sleep 0.2 click 1");
  });
}

// The guide's prompt, typed into by a real X client with brackets the
// print commands would read as tags, shows and prints the line as typed.
TEST_F(Guide, TypedBracketsAreShownAsTyped) {
  RunDrivenSnippet("input", "Input", [&](const std::string& xdotool, const std::string& window) {
    Tool(xdotool + "windowfocus --sync " + window);
    Tool(xdotool + "type --delay 50 'go ]north['");
    Tool(xdotool + "key Return");
  });
}

// The README's ALSA configuration keeps the sound of each run in a WAV
// file of its own: the guide's tone applet run twice leaves two files of
// its one-second tone.
TEST_F(Guide, ReadmeSoundFileConfigurationKeepsEachRun) {
  std::map<std::string, std::string> readme = MarkedBlocks("README.md", "<!-- readme: ");
  std::map<std::string, std::string> blocks = GuideBlocks();
  ASSERT_EQ(readme.count("asound.conf"), 1u);
  std::string conf = readme["asound.conf"];
  const std::string file = "/tmp/vellamora-sound.wav";
  size_t at = conf.find(file);
  ASSERT_NE(at, std::string::npos) << conf;
  const std::string kept = dir() + "/kept.wav";
  conf.replace(at, file.size(), kept);
  std::string confPath = WriteFile("readme-asound.conf", conf);
  ASSERT_NE(Tool("sox -n -r 22050 -c 1 -b 16 " + Quote(dir() + "/tone.wav") + " synth 1 sine 440 && echo ok"), "");
  std::string applet = Applet("tone", blocks["tone.vlasm"], "");
  vlplayer::RunOptions options;
  options.env = {"ALSA_CONFIG_PATH=" + confPath};
  for (int run = 0; run < 2; ++run) {
    vlplayer::Result r = Run({"-DEBUGDEVICE", "console", applet}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }
  for (const std::string& wav : {kept, kept + ".0001"}) {
    EXPECT_NEAR(vlplayer::SoxStat(wav, "Length (seconds)"), 1.0, 0.05) << wav;
    EXPECT_GT(vlplayer::SoxStat(wav, "RMS     amplitude"), 0.1) << wav;
  }
  // As the README says, each sample played starts a file of its own: two
  // samples in one run, the second half a second long, leave two files.
  const std::string each = dir() + "/each.wav";
  conf.replace(conf.find(kept), kept.size(), each);
  confPath = WriteFile("each-asound.conf", conf);
  options.env = {"ALSA_CONFIG_PATH=" + confPath};
  ASSERT_NE(Tool("sox -n -r 22050 -c 1 -b 16 " + Quote(dir() + "/half.wav") + " synth 0.5 sine 880 && echo ok"), "");
  vlplayer::Result r = Run({"-DEBUGDEVICE", "console",
                            Applet("samples", ".line 1\n.call loadsample 1 \"" + dir() + "/tone.wav\"\n.call loadsample 2 \"" +
                                                  dir() + "/half.wav\"\n.call playsample 1\n.call waitsampleend 1\n"
                                                  ".call playsample 2\n.call waitsampleend 2\nret\n",
                                   "")},
                           options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NEAR(vlplayer::SoxStat(each, "Length (seconds)"), 1.0, 0.05);
  EXPECT_NEAR(vlplayer::SoxStat(each + ".0001", "Length (seconds)"), 0.5, 0.05);
  EXPECT_GT(vlplayer::SoxStat(each + ".0001", "RMS     amplitude"), 0.1);
  const std::string readmeText = Tool("cat " + Quote(std::string(VL_SOURCE_ROOT) + "/README.md"));
  EXPECT_NE(readmeText.find("for each sample it\nplays and for each music it starts or resumes"), std::string::npos);
}

}  // namespace

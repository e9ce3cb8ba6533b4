// Start-up as a user meets it: options on the command line, plug-ins
// beside the program.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Result;
using vlplayer::RunOptions;
using Startup = PlayerTest;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// -HELP lists the arguments under their group headings and ends with 0
// without running anything.
TEST_F(Startup, HelpListsTheArgumentsAndEnds) {
  std::string applet = Applet("help", ".line 1\n.call debugprint \"the applet ran\"");
  Result r = Run({"-help", applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("the applet ran"), std::string::npos);
  size_t window = r.out.find("Arguments controlling the window style:\n  -WINDOW ");
  size_t misc = r.out.find("Miscellaneous arguments:\n  -HELP ");
  ASSERT_NE(window, std::string::npos) << r.out;
  ASSERT_NE(misc, std::string::npos) << r.out;
  EXPECT_LT(window, misc);
  EXPECT_NE(r.out.find("show this help information"), std::string::npos);
  EXPECT_NE(r.out.find("-BACKFILL <mode>"), std::string::npos);
  // A colour is shown in the form a shell passes unquoted.
  EXPECT_NE(r.out.find("  -STARTCOLOR <color>      set backfill color or gradient start color: 0xRRGGBB, or in quotes "
                       "($RRGGBB)\n"),
            std::string::npos)
      << r.out;
  // Where a newcomer looks for errors that would wait in a dialog.
  EXPECT_NE(r.out.find("  -DEBUGDEVICE <name>      set device for debug output (console: errors on the terminal, "
                       "not in a dialog)\n"),
            std::string::npos)
      << r.out;

  // --help and -h print the same list, with or without an applet, instead
  // of asking for an applet.
  for (const char* spelling : {"--help", "-h"}) {
    Result same = Run({spelling, applet});
    EXPECT_EQ(same.status, 0) << spelling << same.err;
    EXPECT_EQ(same.out, r.out) << spelling;
    RunOptions noInput;
    noInput.display = false;
    same = Run({spelling}, noInput);
    EXPECT_EQ(same.status, 0) << spelling << same.err;
    EXPECT_EQ(same.out, r.out) << spelling;
  }
}

// Each font a script opens gets a progress line of its own, finished
// before the script prints again, with the name as the script wrote it
// (the player's own fonts keep their three colons). A brush or BGPic that
// fails to load ends its line as failed too, also when the script goes on.
TEST_F(Startup, FontProgressLinesEndAndNameTheFontAsWritten) {
  std::string applet = Applet("fonts",
                              ".line 1\n.call setfont \":::default_sans\" 20\n.call debugprint \"after setfont\"\n"
                              ".line 2\n.call openfont 1 \":::default_mono\" 12\n.call debugprint \"after openfont\"\n"
                              ".line 3\n.call exitonerror 0\n.call loadbrush 1 \"nosuch.png\"\n"
                              ".call debugprint \"after brush\"\n.call loadbgpic 2 \"nosuch.png\"\n"
                              ".call debugprint \"after bgpic\"\n.call exitonerror 1\n"
                              ".line 4\n.call setfont \"nosuchfont\" 10\n.call debugprint \"not reached\"");
  RunOptions options;
  options.quietAndTemp = false;
  Result r = Run({"-tempdir", temp(), "-debugdevice", "console", applet}, options);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const std::string lines =
      "And Action!\n"
      "Opening font :::default_sans...done\nafter setfont\n"
      "Opening font :::default_mono...done\nafter openfont\n"
      "Loading brush nosuch.png...failed\nafter brush\n"
      "Loading background picture nosuch.png...failed\nafter bgpic\n"
      "Opening font nosuchfont...failed\n"
      "@fonts.vls:4: Cannot open font nosuchfont with size 10!\n";
  EXPECT_NE(r.out.find(lines), std::string::npos) << r.out;
}

// Without a script the console requester asks for one on standard input
// (no display for a toolkit dialog): a missing file is asked again, the
// chosen file is what runs, and a cancel ends quietly, as a quit does.
TEST_F(Startup, ConsoleRequesterChoosesTheScript) {
  std::string notApplet = WriteFile("notes.txt", "just text\n");
  RunOptions options;
  options.display = false;
  options.hasInput = true;
  options.input = dir() + "/missing.vla\n" + notApplet + "\n";
  Result r = Run({}, options);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("Select Vellamora applet to run: " + dir() + "/missing.vla does not exist, try again.\n"
                       "Select Vellamora applet to run: "),
            std::string::npos)
      << r.out;
  EXPECT_NE((r.out + r.err).find(notApplet + " is no Vellamora applet!"), std::string::npos) << r.out << r.err;

  options.input.assign(1, '\n');  // (a one-character literal trips a GCC 12 false warning)
  r = Run({}, options);
  EXPECT_EQ(r.status, 0) << "a cancel is a quit";
  EXPECT_EQ(r.out, "Select Vellamora applet to run: ");
  options.hasInput = false;  // end of input cancels as well
  r = Run({}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// With a display the requester is the toolkit's file chooser: a user types
// the applet's path and it runs; closing the chooser ends as a quit.
TEST_F(Startup, GtkRequesterChoosesTheScript) {
  int status = 0;
  Tool("xdotool version >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "xdotool is not installed";
  std::string applet = Applet("chosen", ".line 1\n.call debugprint \"chosen one ran\"");
  RunOptions options;
  bool shown = false;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Select Vellamora applet to run");
    shown = !window.empty();
    if (!shown) return;
    Tool("xdotool windowfocus --sync " + window + " key ctrl+l sleep 0.3 type --delay 10 " +
         vlplayer::Quote(applet));
    Tool("xdotool sleep 0.3 key Return");
  };
  Result r = Run({}, options);
  EXPECT_TRUE(shown) << "no file chooser appeared";
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "chosen one ran\n");

  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Select Vellamora applet to run");
    shown = !window.empty();
    if (shown) Tool("xdotool windowfocus --sync " + window + " key Escape");
  };
  r = Run({}, options);
  EXPECT_TRUE(shown);
  EXPECT_EQ(r.status, 0) << "a closed chooser is a cancel";
  EXPECT_EQ(r.out, "");
}

// With -DEBUGDEVICE console anywhere on the line, a mistake on the command
// line is printed as a script's error is, and the player ends non-zero
// instead of waiting in a dialog: a second file name before or after the
// device, an option refused before the device is applied, and an options
// file that is a directory. Words after a dash that the player does not
// know go to the applet, with their value (after a blank or "=").
TEST_F(Startup, CommandLineMistakesGoToTheTerminalWithTheDebugDevice) {
  std::string applet = Applet("viewer", R"(.line 1
.call getcommandline -> args n
getglobal 0 "args"
getfield 0 0 #0
getfield 1 0 "arg"
getfield 2 0 "param"
.call base=3 debugprint r1 r2)");
  RunOptions options;
  options.timeoutSeconds = 20;  // a dialog would wait until then
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"-DEBUGDEVICE", "console", applet, "pics"}, "Wrong arguments specified!"},
      {{applet, "pics", "-debugdevice=console"}, "Wrong arguments specified!"},
      {{"-monitor", "0", "-DebugDevice", "console", applet}, "Specified monitor is out of range!"},
      {{"-window", "-DEBUGDEVICE", "console", "-fullscreen", applet}, "Invalid parameter for console argument!"},
      {{"-DEBUGDEVICE", "console", "-numchannels", "0", applet}, "Invalid parameter for console argument!"},
      {{"-DEBUGDEVICE", "console", "-autoscale", "-layerscale", applet}, "Invalid parameter for console argument!"},
      {{"-DEBUGDEVICE", "console", "-backfill", "picture", applet}, "Wrong backfill configuration!"},
      {{"-DEBUGDEVICE", "console", "-backfill", "gradient", "-startcolor", "0", applet},
       "Wrong backfill configuration!"},
      {{"-DEBUGDEVICE", "console", "-scrwidth", "wide", applet}, "Value expected!"},
      {{"-DEBUGDEVICE", "console", "-scrwidth", "$", applet}, "General syntax error!"},
      {{"-DEBUGDEVICE", "console", "-scrwidth", "-fullscreen", applet}, "Wrong arguments specified!"},
  };
  for (const auto& c : cases) {
    Result r = Run(c.args, options);
    EXPECT_EQ(r.status, 1) << c.args[0] << r.err;
    EXPECT_EQ(r.out, "Error: " + c.error + "\n") << c.args[0];
  }
  Result r = Run({"-DEBUGDEVICE", "console", applet, "-folder", "pics"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "folder pics\n");
  // A value after "=" keeps its blanks and its leading dash.
  r = Run({"-DEBUGDEVICE", "console", applet, "-folder=my pics"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "folder my pics\n");
  r = Run({"-DEBUGDEVICE", "console", applet, "-folder=-2"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "folder -2\n");
  const std::string folder = dir() + "/viewer.ini";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  r = Run({"-DEBUGDEVICE", "console", applet}, options);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "Error: Cannot read file viewer.ini !\n");
}

// Display switches reach display 1 only, or every declared display with
// -ALLDISPLAYS, unless the applet refuses them; the options file beside
// the applet overrides the command line switch by switch. Without
// -NOCHDIR the script starts in its own folder.
TEST_F(Startup, DisplaySwitchesAndTheOptionsFile) {
  const std::string script = R"(.line 1
.call getattribute 21 1 46 -> b1
.call getattribute 21 2 46 -> b2
.call getattribute 21 1 48 -> s1
.call getattribute 21 2 48 -> s2
.call getcurrentdirectory -> d
.call debugprint $b1 $b2 $s1 $s2 $d)";
  const std::string displays = "revision 6 1\ndisplay 1 64 48 One\ndisplay 2 80 60 Two";
  const std::string applet = Applet("two", script, displays);
  const std::string refusing = Applet("refusing", script, displays + "\nskipoverrides");
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_NE(dir(), std::string(here));
  const struct {
    std::vector<std::string> args;
    std::string ini, out;
  } cases[] = {
      {{applet}, "", "0 0 0 0 " + dir()},
      {{"-borderless", "-sizeable", applet}, "", "1 0 1 0 " + dir()},
      {{applet, "-borderless", "-scrwidth"}, "", "1 0 0 0 " + dir()},
      {{"-alldisplays", "-borderless", "-nochdir", applet}, "", "1 1 0 0 " + std::string(here)},
      {{"-sizeable", applet}, "# set by the user\n[display]\nALLDISPLAYS = yes\nBorderless=on\n",
       "1 1 1 1 " + dir()},
      {{"-borderless", "-nochdir", applet}, "borderless = 0\nNOCHDIR = off \n", "0 0 0 0 " + dir()},
      {{"-alldisplays", "-borderless", refusing}, "", "0 0 0 0 " + dir()},
  };
  for (const auto& c : cases) {
    const std::string ini = dir() + "/two.ini";
    std::remove(ini.c_str());
    if (!c.ini.empty()) WriteFile("two.ini", c.ini);
    Result r = Run(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0] << r.out << r.err;
    EXPECT_EQ(r.out, c.out + "\n") << c.args[0] << " " << c.ini;
  }
  WriteFile("two.ini", "ALLDISPLAYS = 1\n2D = yes\n");
  Result r = Run({"-debugdevice", "console", applet});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: Syntax error in configuration file!\n");
}

// A compressed applet keeps its own path as the script path (an applet
// finds its directory by it); the unpacked copy is gone after the run.
TEST_F(Startup, CompressedAppletKeepsItsOwnPath) {
  std::string applet = Applet("packed", ".line 1\n.call getprograminfo -> kind path\n.call debugprint $path", "compress");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, applet + "\n");
  EXPECT_TRUE(TempEntries().empty());
}

// A container made for a newer program, with a record the player does not
// know, or cut inside a record is refused with its message and a failing
// status; one made for an older revision runs.
TEST_F(Startup, ContainersTheProgramCannotReadAreRefused) {
  const std::string plain = ReadAll(Applet("current", ".line 1\n.call debugprint \"ran\""));
  // The revision record follows the magic: type 10, major, minor.
  ASSERT_EQ(plain.substr(4, 3), std::string("\x0a\x06\x01", 3));
  Result r = Run({"-quiet", WriteFile("older.vla", plain.substr(0, 5) + "\x05\x09" + plain.substr(7))});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ran\n");
  const struct {
    std::string bytes, message;
  } cases[] = {
      {plain.substr(0, 5) + "\x06\x02" + plain.substr(7), "This applet requires at least Vellamora 6.2!"},
      {plain.substr(0, 5) + "\x07" + plain.substr(6), "This applet requires at least Vellamora 7.1!"},
      {plain.substr(0, 7) + "\x23" + plain.substr(7), "Unknown section in applet!"},
      {plain.substr(0, 6), "Unexpected end of file!"},
  };
  for (const auto& c : cases) {
    Result bad = Run({"-quiet", WriteFile("bad.vla", c.bytes)});
    EXPECT_NE(bad.status, 0) << c.message;
    EXPECT_NE(bad.err.find("Error: " + c.message), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "") << c.message;
  }
}

// -NODEBUG silences DebugPrint, DebugPrintNR and the command trace, and
// Assert checks nothing and returns nothing; without it they all work.
TEST_F(Startup, NoDebugSilencesDebugCommandsAndAssert) {
  const std::string text = ".line 1\n.call debugoutput 1\n.call debugprint \"shown\" 2\n.call debugprintnr \"nr\"\n"
                           ".call assert 7 -> a\n.call isnil $a -> n\n.call stringtofile $n \"" + dir() +
                           "/nil.txt\"\n.call debugoutput 0\n.call assert 0\n.call stringtofile \"end\" \"" +
                           dir() + "/end.txt\"";
  const std::string applet = Applet("nodebug", text);
  Result on = Run({"-debugdevice", "console", applet});
  EXPECT_EQ(on.status, 1);
  EXPECT_NE(on.out.find("Assertion failed!"), std::string::npos) << on.out;
  EXPECT_NE(on.out.find("\nshown 2\n"), std::string::npos) << on.out;
  EXPECT_NE(on.out.find("\nnr"), std::string::npos) << on.out;
  EXPECT_NE(on.out.find("Now calling"), std::string::npos) << on.out;
  EXPECT_EQ(ReadAll(dir() + "/nil.txt"), "0");
  EXPECT_EQ(ReadAll(dir() + "/end.txt"), "");
  Result off = Run({"-debugdevice", "console", "-nodebug", applet});
  EXPECT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(off.out, "");
  EXPECT_EQ(ReadAll(dir() + "/nil.txt"), "1");
  EXPECT_EQ(ReadAll(dir() + "/end.txt"), "end");
}

// -DEBUGOUTPUT starts the run with the command trace on, as DebugOutput 1
// would at its first line. Standard output is a pipe here, and what the
// script printed before Execute comes out before the command's own output.
TEST_F(Startup, DebugOutputSwitchTracesFromTheStartAndKeepsOutputInOrder) {
  const std::string applet = Applet("trace", ".line 1\n.call debugprint \"before\" 2\n.line 2\n"
                                             ".call execute \"echo command\"\n.line 3\n.call debugprint \"after\"");
  Result plain = Run({applet});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, "before 2\ncommand\nafter\n");
  Result traced = Run({"-debugoutput", applet});
  EXPECT_EQ(traced.status, 0) << traced.err;
  EXPECT_EQ(traced.out,
            "Now calling debugprint() with arguments #1=(STRING)\"before\" #2=(NUMBER)2 \n"
            "Now calling tostring() with arguments #1=(STRING)\"before\" \n"
            "Now calling tostring() with arguments #1=(NUMBER)2 \n"
            "before 2\n"
            "Now calling execute() with arguments #1=(STRING)\"echo command\" \n"
            "command\n"
            "Now calling debugprint() with arguments #1=(STRING)\"after\" \n"
            "Now calling tostring() with arguments #1=(STRING)\"after\" \n"
            "after\n");
  // -NODEBUG still silences it.
  Result silent = Run({"-debugoutput", "-nodebug", applet});
  EXPECT_EQ(silent.out, "command\n");
}

// -MONITOR 1 moves a display the script declared on another monitor back
// to the first: the private server has one monitor, so the declaration
// alone is refused as out of range.
TEST_F(Startup, MonitorOneOverridesTheDeclaredMonitor) {
  std::string path = Applet("onsecond", ".line 1\n.call debugprint \"opened\"",
                            "revision 6 1\ndisplay 1 64 48 OnSecondMonitor");
  std::string bytes = ReadAll(path);
  // The monitor byte stands 40 bytes behind the title in the declaration.
  size_t title = bytes.find("OnSecondMonitor");
  ASSERT_NE(title, std::string::npos);
  ASSERT_EQ(bytes[title + 15 + 40], 0);
  bytes[title + 15 + 40] = 1;  // the second monitor, counted from 0
  WriteFile("onsecond.vla", bytes);
  Result declared = Run({"-debugdevice", "console", path});
  EXPECT_EQ(declared.status, 1);
  EXPECT_NE(declared.out.find("Specified monitor is out of range!"), std::string::npos) << declared.out;
  Result first = Run({"-debugdevice", "console", "-monitor", "1", path});
  EXPECT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_EQ(first.out, "opened\n");
}

// A backfill picture given by file on the command line fills the screen
// around a full-screen display, its colour key see-through: left half red,
// right half blue keyed out, placed at the top-left corner. The file is
// named relative to where the player starts, not to the script's folder.
TEST_F(Startup, BackfillPictureFileAndColourKeyFromTheCommandLine) {
  int status = 0;
  Tool("convert -size 40x30 xc:red -fill blue -draw 'rectangle 20,0 39,29' PNG24:" +
           vlplayer::Quote(dir() + "/half.png"),
       &status);
  if (status != 0) GTEST_SKIP() << "ImageMagick is not installed";
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet("backfill", ".line 1\n" + vlplayer::WaitUntilFileExists(grabbed) +
                                              ".call debugprint \"ended\"");
  std::string pixels;
  const std::string red("\xFF\0\0", 3);
  RunOptions options;
  options.whileRunning = [&](pid_t, const std::string&) {
    // The corner turns red once the backdrop is drawn.
    for (int i = 0; i < 100 && pixels.compare(0, 3, red) != 0; ++i) {
      usleep(100000);
      pixels = Tool("import -window root -crop 1x1+5+5 -depth 8 rgb:-") +
               Tool("import -window root -crop 1x1+30+5 -depth 8 rgb:-");
    }
    WriteFile("grabbed", "");
  };
  // The script lies in a folder of its own; the picture is named relative
  // to where the player starts.
  ASSERT_EQ(mkdir((dir() + "/apps").c_str(), 0755), 0);
  ASSERT_EQ(rename(applet.c_str(), (dir() + "/apps/backfill.vla").c_str()), 0);
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir().c_str()), 0);
  Result r = Run({"-debugdevice", "console", "-fullscreen", "-backfill", "picture", "-brushfile", "half.png",
                  "-pictrans", "$0000FF", "-picxpos", "0", "-picypos", "0", "apps/backfill.vla"},
                 options);
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ended\n");
  EXPECT_EQ(pixels, red + std::string(3, '\0')) << "red at the corner, the keyed blue not drawn";
}

#ifdef VL_OPTPLUG_PATH
// A compressed applet is unpacked into the temporary folder: one that is
// missing, or a file in its place, is reported by the name of the copy
// that could not be written there, not as a lack of memory, and nothing
// of the applet runs.
TEST_F(Startup, ACompressedAppletNamesATemporaryFolderItCannotWriteTo) {
  std::string applet = Applet("packed", ".line 1\n.call debugprint \"ran\"", "compress");
  const std::string file = WriteFile("plain-file", "x");
  // Folders whose path leaves no room for the copy's name: one that exists
  // (1,030 characters or more) and a missing one (1,100 or more); the
  // message shows the start and the end of the path.
  const std::string segment(99, 'e');
  std::string existing = dir() + "/long";
  while (existing.size() < 1030) existing.append("/").append(segment);
  ASSERT_EQ(std::system(("mkdir -p " + vlplayer::Quote(existing)).c_str()), 0);
  std::string missing = dir() + "/missing-long";
  while (missing.size() < 1100) missing.append("/").append(segment);
  for (const std::string& folder : {dir() + "/missing", dir() + "/missing/deeper", file, existing, missing}) {
    RunOptions options;
    options.quietAndTemp = false;
    Result r = Run({"-quiet", "-tempdir", folder, "-debugdevice", "console", applet}, options);
    EXPECT_EQ(r.status, 1) << folder;
    const std::string all = r.out + r.err;
    const std::string name = folder + "/vellamora.XXXXXX";
    if (name.size() < 800) {
      EXPECT_NE(all.find("Cannot write to file " + name + " !"), std::string::npos) << all;
    } else {
      const size_t at = all.find("Cannot write to file " + name.substr(0, 380));
      EXPECT_NE(at, std::string::npos) << all;
      EXPECT_NE(all.find(name.substr(name.size() - 380) + " !", at), std::string::npos) << all;
    }
    EXPECT_EQ(all.find("Out of memory"), std::string::npos) << all;
    EXPECT_EQ(all.find("ran"), std::string::npos) << all;
  }
  EXPECT_EQ(ReadAll(file), "x");
}

// The tags given with -REQUIRETAGS reach the plug-in's require call.
TEST_F(Startup, RequireTagsReachThePlugin) {
  // A copy of the player with the plug-in beside it, where start-up looks.
  std::string program = WriteFile("vellamora-player", ReadAll(VL_PLAYER_PATH));
  chmod(program.c_str(), 0755);
  WriteFile("optplug.vlp", ReadAll(VL_OPTPLUG_PATH));
  std::string applet = Applet("tags", ".line 1\n.call debugprint \"ran\"");
  RunOptions options;
  options.program = program;
  options.env = {"VL_TEST_PLUGIN_LOG=" + dir() + "/plugin.log"};
  Result r = Run({"-requireplugins", "optplug", "-requiretags", "optplug[mode='a b', fast=true, size=12]", applet},
                 options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_NE(ReadAll(dir() + "/plugin.log").find("require 0.0 mode=a b,fast=1,size=12 optplug"), std::string::npos)
      << ReadAll(dir() + "/plugin.log");
  // A tag text that does not parse stops start-up with its message.
  r = Run({"-debugdevice", "console", "-requireplugins", "optplug", "-requiretags", "optplug[1mode=a]", applet},
          options);
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Syntax error in tag format!"), std::string::npos) << r.out << r.err;
  // A skipped plug-in is not started, unless a require asks for it.
  const std::string log = dir() + "/plugin.log";
  std::remove(log.c_str());
  r = Run({"-skipplugins", "other|OPTPLUG.vlp", applet}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadAll(log), "");
  r = Run({"-skipplugins", "*", "-requireplugins", "optplug", applet}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(ReadAll(log).find("require 0.0 - optplug"), std::string::npos) << ReadAll(log);
}
#endif

// A server that takes no more clients: the player tries again for a
// moment, then says once why and that it could not connect.
TEST_F(Startup, AFullServerIsReportedOnce) {
  std::string applet = Applet("full", ".line 1\n.call debugprint \"ran\"");
  std::vector<Display*> held;
  while (held.size() < 2000) {
    Display* d = XOpenDisplay(display());
    if (!d) break;
    held.push_back(d);
  }
  Result r = Run({applet});
  for (Display* d : held) XCloseDisplay(d);
  ASSERT_GT(held.size(), 0u);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  // Quiet: the report goes to standard error.
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Error: Error opening connection to X server!\n"), std::string::npos) << r.err;
  size_t reasons = 0;
  for (size_t at = r.err.find("Maximum number of clients"); at != std::string::npos;
       at = r.err.find("Maximum number of clients", at + 1))
    reasons++;
  EXPECT_EQ(reasons, 1u) << r.err;
  // Once the clients are gone the same run works.
  r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ran\n");
}

}  // namespace

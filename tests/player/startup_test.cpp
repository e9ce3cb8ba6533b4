// Start-up as a user meets it: options on the command line, plug-ins
// beside the program.
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

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
}

// Without a script the console requester asks for one on standard input
// (no display for a toolkit dialog): a missing file is asked again, the
// chosen file is what runs, and a cancel ends with a non-zero status.
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

  options.input = "\n";
  r = Run({}, options);
  EXPECT_EQ(r.status, 1) << "a cancelled choice is no success";
  EXPECT_EQ(r.out, "Select Vellamora applet to run: ");
  options.hasInput = false;  // end of input cancels as well
  r = Run({}, options);
  EXPECT_EQ(r.status, 1);
}

#ifdef VL_OPTPLUG_PATH
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
  r = Run({"-requireplugins", "optplug", "-requiretags", "optplug[1mode=a]", applet}, options);
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Syntax error in tag format!"), std::string::npos) << r.out << r.err;
}
#endif

}  // namespace

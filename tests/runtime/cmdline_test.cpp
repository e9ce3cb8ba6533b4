// The command line, the options file and applying their values: real
// argument vectors joined and parsed, options files written to a temporary
// directory and read back, and the resulting overrides and settings.
#include "player/cmdline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "runtime/os.h"
#include "runtime/console.h"
#include "player/startup_options.h"

namespace {

// One run's records and values, released at the end of the test.
struct OptRun {
  vlOptionValues values{};
  vlExtraArg* extras = nullptr;
  vlAppletInfo applet{};
  vlStartupRecord startup{};
  OptRun() { InitStartupDefaults(&applet, &startup); }
  ~OptRun() {
    FreeOptionValues(&values);
    FreeExtraArgs(&extras);
    FreeStartupSettings();
    vlConsoleForceFlush = false;
  }
  int Line(const char* line) { return ParseCommandLine(&values, line, &extras); }
  int Args(std::vector<const char*> args) {
    args.insert(args.begin(), "vellamora");
    char* line = JoinArguments(static_cast<int>(args.size()), const_cast<char* const*>(args.data()));
    int r = Line(line);
    std::free(line);
    return r;
  }
  int Ini(const std::string& text) { return ParseOptionsText(&values, text.data(), text.size(), &extras); }
  int Apply() { return ApplyStartupOptions(&applet, values.word, &startup); }
  const char* Text(uint32_t id) { return GetOptionText(values.word, id); }
  std::vector<std::pair<std::string, std::string>> Extras() {
    std::vector<std::pair<std::string, std::string>> out;
    for (vlExtraArg* e = extras; e; e = e->next) out.emplace_back(e->name, e->value ? e->value : "<none>");
    return out;
  }
};

TEST(OptionTable, FiftyTwoRowsWithDistinctIdsAndNames) {
  std::set<uint32_t> ids;
  std::set<std::string> names;
  int rows = 0;
  for (const vlCmdLineOption* r = vlCmdLineOptions; r->name; ++r, ++rows) {
    EXPECT_GT(r->id, 0u);
    EXPECT_LT(r->id, static_cast<uint32_t>(kOptionValueCount));
    ids.insert(r->id);
    names.insert(r->name);
    for (const char* c = r->name; *c; ++c) EXPECT_TRUE(*c >= 'A' && *c <= 'Z') << r->name;
    EXPECT_EQ(r->placeholder != nullptr, r->takesArgument == 1) << r->name;
  }
  EXPECT_EQ(rows, 52);
  EXPECT_EQ(ids.size(), 52u);
  EXPECT_EQ(names.size(), 52u);
  ASSERT_NE(FindCmdLineOption("scrWidth"), nullptr);
  EXPECT_EQ(FindCmdLineOption("scrWidth")->id, 27u);
  EXPECT_STREQ(FindCmdLineOption("backfill")->choices, "color|gradient|texture|picture");
  EXPECT_EQ(FindCmdLineOption("SCRWIDTHX"), nullptr);
}

TEST(JoinArguments, DashArgumentsBareOthersQuoted) {
  const char* argv[] = {"prog", "-SCRWIDTH=800", "my script.vla", "-x"};
  char* line = JoinArguments(4, const_cast<char* const*>(argv));
  EXPECT_STREQ(line, "-SCRWIDTH=800 \"my script.vla\" -x");
  std::free(line);
  // A value given with "=" that holds blanks stays one value.
  const char* spaced[] = {"prog", "-TEMPDIR=/tmp/my dir", "a.vla"};
  line = JoinArguments(3, const_cast<char* const*>(spaced));
  EXPECT_STREQ(line, "-TEMPDIR=\"/tmp/my dir\" \"a.vla\"");
  std::free(line);
  // So does a negative number after "=".
  OptRun r;
  ASSERT_EQ(r.Args({"-BACKFILL=picture", "-BRUSH=1", "-PICXPOS=-10", "a.vla"}), 0);
  ASSERT_EQ(r.Apply(), 0);
  EXPECT_EQ(r.applet.overrides.backfill.x, -10);
  line = JoinArguments(1, const_cast<char* const*>(argv));
  EXPECT_STREQ(line, "");
  std::free(line);
}

TEST(CommandLine, FullscreenWithWidthInBothSpellings) {
  for (auto args : {std::vector<const char*>{"-FULLSCREEN", "-SCRWIDTH", "800", "game.vla"},
                    std::vector<const char*>{"-FULLSCREEN", "-SCRWIDTH=800", "game.vla"}}) {
    OptRun r;
    ASSERT_EQ(r.Args(args), 0);
    EXPECT_STREQ(r.Text(VL_CLOPT_SCRIPT), "game.vla");
    ASSERT_EQ(r.Apply(), 0);
    EXPECT_EQ(r.applet.overrides.mode, 2);
    EXPECT_EQ(r.applet.overrides.screenWidth, 800);
    EXPECT_EQ(r.applet.overrides.screenHeight, -1);
  }
}

TEST(CommandLine, ArgumentErrors) {
  OptRun a;
  EXPECT_EQ(a.Args({"one.vla", "two.vla"}), 1060);
  OptRun b;
  EXPECT_EQ(b.Args({"-SCRWIDTH", "-WINDOW", "x.vla"}), 1060);  // an option where a value must be
  OptRun c;
  EXPECT_EQ(c.Args({"x.vla", "-SCRWIDTH="}), 1060);  // the name ends with '=' and nothing follows
  OptRun d;
  EXPECT_EQ(d.Line("-SCRWIDTH \"800"), 1060);  // unclosed quote
}

TEST(CommandLine, OptionNameAtTheEndTakesNoValue) {
  OptRun r;
  ASSERT_EQ(r.Args({"x.vla", "-SCRWIDTH"}), 0);
  EXPECT_EQ(r.Text(VL_CLOPT_SCRWIDTH), nullptr);
  ASSERT_EQ(r.Apply(), 0);
  EXPECT_EQ(r.applet.overrides.screenWidth, -1);
}

TEST(CommandLine, QuotedValuesKeepBlanksAndMayBeEmpty) {
  OptRun r;
  ASSERT_EQ(r.Line("-BRUSHFILE \"a b.png\" -TEMPDIR \"\" \"my game.vla\""), 0);
  EXPECT_STREQ(r.Text(VL_CLOPT_BRUSHFILE), "a b.png");
  EXPECT_STREQ(r.Text(VL_CLOPT_TEMPDIR), "");
  EXPECT_STREQ(r.Text(VL_CLOPT_SCRIPT), "my game.vla");
}

TEST(CommandLine, UnknownNamesGoToTheScriptInOrder) {
  OptRun r;
  ASSERT_EQ(r.Args({"-level", "3", "-cheat", "-WINDOW", "-name=Bob", "game.vla"}), 0);
  // -name takes "Bob"; the free argument after it is then the script.
  EXPECT_STREQ(r.Text(VL_CLOPT_SCRIPT), "game.vla");
  auto extras = r.Extras();
  ASSERT_EQ(extras.size(), 3u);
  EXPECT_EQ(extras[0], (std::pair<std::string, std::string>{"level", "3"}));
  EXPECT_EQ(extras[1], (std::pair<std::string, std::string>{"cheat", "<none>"}));
  EXPECT_EQ(extras[2], (std::pair<std::string, std::string>{"name", "Bob"}));
  EXPECT_EQ(r.values.word[VL_CLOPT_WINDOW], 1u);
}

TEST(CommandLine, UnknownNameSwallowsTheNextWord) {
  OptRun r;
  ASSERT_EQ(r.Args({"-mode", "easy", "game.vla"}), 0);
  EXPECT_STREQ(r.Text(VL_CLOPT_SCRIPT), "game.vla");
  ASSERT_EQ(r.Extras().size(), 1u);
  EXPECT_EQ(r.Extras()[0].second, "easy");
}

TEST(OptionsFile, OverridesTheCommandLine) {
  OptRun r;
  ASSERT_EQ(r.Args({"-FULLSCREEN", "-SCRWIDTH", "800", "x.vla"}), 0);
  ASSERT_EQ(r.Ini("# settings\r\n[display]\r\nFullScreen = 0\r\nscrwidth=1024   \r\nWINDOW\t= yes\n"), 0);
  EXPECT_EQ(r.values.word[VL_CLOPT_FULLSCREEN], 0u);
  EXPECT_EQ(r.values.word[VL_CLOPT_WINDOW], 1u);
  EXPECT_STREQ(r.Text(VL_CLOPT_SCRWIDTH), "1024");
  ASSERT_EQ(r.Apply(), 0);
  EXPECT_EQ(r.applet.overrides.mode, 1);
  EXPECT_EQ(r.applet.overrides.screenWidth, 1024);
  EXPECT_STREQ(r.Text(VL_CLOPT_SCRIPT), "x.vla");  // the command line's texts stay valid
}

TEST(OptionsFile, SwitchWords) {
  const struct {
    const char* value;
    uintptr_t expected;
  } cases[] = {{"true", 1}, {"YES", 1}, {"On", 1}, {"1", 1}, {"-7", 1}, {"12abc", 1},
               {"0", 0},    {"no", 0},  {"off", 0}, {"", 0}, {"false", 0}};
  for (const auto& c : cases) {
    OptRun r;
    ASSERT_EQ(r.Ini(std::string("QUIET = ") + c.value + "\n"), 0) << c.value;
    EXPECT_EQ(r.values.word[VL_CLOPT_QUIET], c.expected) << c.value;
  }
}

TEST(OptionsFile, ValuesQuotedTrimmedAndHandedOn) {
  OptRun r;
  ASSERT_EQ(r.Ini("AUDIODEVICE = \"hw:0,0 \" # card\nXSERVER = :1  \t\nSpeed=fast lane  \nempty=\n"), 0);
  EXPECT_STREQ(r.Text(VL_CLOPT_AUDIODEVICE), "hw:0,0 ");
  EXPECT_STREQ(r.Text(VL_CLOPT_XSERVER), ":1");
  auto extras = r.Extras();
  ASSERT_EQ(extras.size(), 2u);
  EXPECT_EQ(extras[0], (std::pair<std::string, std::string>{"Speed", "fast lane"}));
  EXPECT_EQ(extras[1], (std::pair<std::string, std::string>{"empty", ""}));
}

TEST(OptionsFile, SyntaxErrors) {
  for (const char* text : {"1WINDOW = yes\n", "WINDOW yes\n", "WINDOW\n= yes\n", "XSERVER = \"abc\nx\"\n",
                           "XSERVER = \"abc", "= 1\n", "WIN-DOW = 1\n"}) {
    OptRun r;
    EXPECT_EQ(r.Ini(text), 1363) << text;
  }
}

TEST(OptionsFile, KeyLengthLimit) {
  OptRun ok;
  EXPECT_EQ(ok.Ini(std::string(127, 'K') + " = v\n"), 0);
  OptRun tooLong;
  EXPECT_EQ(tooLong.Ini(std::string(128, 'K') + " = v\n"), 1363);
}

TEST(OptionsFile, ZeroByteEndsTheText) {
  OptRun r;
  std::string text("QUIET = 1\n", 10);
  text += '\0';
  text += "1bad line\n";
  EXPECT_EQ(r.Ini(text), 0);
  EXPECT_EQ(r.values.word[VL_CLOPT_QUIET], 1u);
}

TEST(OptionsFileName, ExtensionOfTheFilePartOnly) {
  char buf[64];
  ASSERT_EQ(GetOptionsFileName("/games/space.vla", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/games/space.ini");
  ASSERT_EQ(GetOptionsFileName("/games/v1.2/space", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "/games/v1.2/space.ini");
  ASSERT_EQ(GetOptionsFileName("../space", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "../space.ini");
  ASSERT_EQ(GetOptionsFileName("a.b.c", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "a.b.ini");
  EXPECT_EQ(GetOptionsFileName("/games/space.vla", buf, 16), 0);  // needs 17
  EXPECT_STREQ(buf, "");
  ASSERT_EQ(GetOptionsFileName("/games/space.vla", buf, 17), 1);
}

TEST(ApplyOptions, ScalingPercentOnlyWithAScaler) {
  OptRun r;
  ASSERT_EQ(r.Args({"-AUTOSCALE", "-SCALEWIDTH", "50%", "-SCALEHEIGHT", "$100", "x"}), 0);
  ASSERT_EQ(r.Apply(), 0);
  EXPECT_EQ(r.applet.overrides.scaleWidth, -50);
  EXPECT_EQ(r.applet.overrides.scaleHeight, 256);
  EXPECT_EQ(r.applet.overrides.flagBits, 0x40u);

  OptRun plain;
  ASSERT_EQ(plain.Args({"-SCALEWIDTH", "50%", "x"}), 0);
  ASSERT_EQ(plain.Apply(), 0);
  EXPECT_EQ(plain.applet.overrides.scaleWidth, 0);

  OptRun both;
  ASSERT_EQ(both.Args({"-AUTOSCALE", "-LAYERSCALE", "x"}), 0);
  EXPECT_EQ(both.Apply(), 1569);
}

TEST(ApplyOptions, DisplayModesAndFlags) {
  OptRun two;
  ASSERT_EQ(two.Args({"-WINDOW", "-FULLSCREEN", "x"}), 0);
  EXPECT_EQ(two.Apply(), 1569);

  const struct {
    const char* option;
    int32_t mode;
  } modes[] = {{"-WINDOW", 1}, {"-FULLSCREEN", 2}, {"-FAKEFULLSCREEN", 6}, {"-MODEREQUESTER", 4}, {"-ASKDISPLAYMODE", 3}};
  for (const auto& m : modes) {
    OptRun r;
    ASSERT_EQ(r.Args({m.option, "x"}), 0);
    ASSERT_EQ(r.Apply(), 0);
    EXPECT_EQ(r.applet.overrides.mode, m.mode) << m.option;
  }

  OptRun f;
  ASSERT_EQ(f.Args({"-BORDERLESS", "-SIZEABLE", "-FIXED", "-NOMODESWITCH", "-HIDEPOINTER", "-NOHIDE", "-SMOOTHSCALE",
                    "-KEEPPROPORTIONS", "-FITSCALE", "-DISABLEBLANKER", "-HIDETITLEBAR", "-ALLDISPLAYS", "x"}),
            0);
  ASSERT_EQ(f.Apply(), 0);
  EXPECT_EQ(f.applet.overrides.flagBits, 0x1u | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x80 | 0x8000 | 0x10000 | 0x1000000);
  EXPECT_EQ(f.applet.overrides.backfill.hideTitleBar, 1);
  EXPECT_EQ(f.applet.overrides.backfill.type, 0);
  EXPECT_EQ(f.applet.overrides.mode, 0);
  EXPECT_EQ(f.startup.applyToAllDisplays, 1u);
}

TEST(ApplyOptions, MonitorAndNumbers) {
  OptRun zero;
  ASSERT_EQ(zero.Args({"-MONITOR", "0", "x"}), 0);
  EXPECT_EQ(zero.Apply(), 1557);
  OptRun two;
  ASSERT_EQ(two.Args({"-MONITOR", "2", "-SCRDEPTH", "%11000", "-SCRHEIGHT", "600.9", "x"}), 0);
  ASSERT_EQ(two.Apply(), 0);
  EXPECT_EQ(two.applet.overrides.monitor, 1);
  EXPECT_EQ(two.applet.overrides.screenDepth, 24);
  EXPECT_EQ(two.applet.overrides.screenHeight, 600);
  OptRun word;
  ASSERT_EQ(word.Args({"-SCRWIDTH", "wide", "x"}), 0);
  EXPECT_EQ(word.Apply(), 1024);
  OptRun bare;
  ASSERT_EQ(bare.Args({"-SCRWIDTH", "$", "x"}), 0);
  EXPECT_EQ(bare.Apply(), 1018);
}

TEST(ApplyOptions, BackfillConfigurations) {
  const struct {
    std::vector<const char*> args;
    int result;
  } cases[] = {
      {{"-BACKFILL", "picture", "x"}, 1243},
      {{"-BACKFILL", "stripes", "-STARTCOLOR", "$FF", "x"}, 1243},
      {{"-BACKFILL", "color", "x"}, 1243},
      {{"-BACKFILL", "gradient", "-STARTCOLOR", "0", "x"}, 1243},
      {{"-BACKFILL", "texture", "-BRUSH", "1", "-BRUSHFILE", "a.png", "x"}, 1243},
      {{"-BACKFILL", "texture", "-BRUSH", "3", "x"}, 0},
      {{"-BACKFILL", "RAINBOW", "-STARTCOLOR", "$FF0000", "-ENDCOLOR", "$0000FF", "x"}, 0},
  };
  for (const auto& c : cases) {
    OptRun r;
    ASSERT_EQ(r.Args(c.args), 0);
    EXPECT_EQ(r.Apply(), c.result) << c.args[1];
  }

  OptRun pic;
  ASSERT_EQ(pic.Args({"-BACKFILL", "Picture", "-BRUSHFILE", "sky.png", "-SCALEPICTURE", "-PICTRANS", "$FFFFFFFF", "x"}),
            0);
  // A value that begins with '-' reads as an option on the command line;
  // the options file takes it.
  ASSERT_EQ(pic.Ini("PICXPOS = -20\n"), 0);
  ASSERT_EQ(pic.Apply(), 0);
  const vlBackfillBlock& b = pic.applet.overrides.backfill;
  EXPECT_EQ(b.type, 4);
  EXPECT_STREQ(b.brushFile, "sky.png");
  EXPECT_EQ(b.scalePicture, 1);
  EXPECT_EQ(b.x, -20);
  EXPECT_EQ(b.y, -100000);
  EXPECT_EQ(static_cast<uint32_t>(b.transColor), 0xFFFFFFFFu);
  EXPECT_EQ(b.color, -1);

  OptRun longName;
  std::string name(1024, 'n');
  ASSERT_EQ(longName.Args({"-BACKFILL", "picture", "-BRUSHFILE", name.c_str(), "x"}), 0);
  EXPECT_EQ(longName.Apply(), 1243);
}

TEST(ApplyOptions, AudioPluginAndDebugSettings) {
  OptRun r;
  EXPECT_STREQ(GetAudioDeviceName(), "default");
  ASSERT_EQ(r.Args({"-QUIET", "-NOSOUND", "-NUMCHANNELS", "16", "-AUDIODEVICE", "hw:1", "-REQUIREPLUGINS",
                    "a|b", "-SKIPPLUGINS", "c", "-REQUIRETAGS", "a[x=1]", "-DEBUGDEVICE", "stdout", "-DEBUGOUTPUT",
                    "-NODEBUG", "-FORCEFLUSH", "-OVERRIDEPLACEMENT", "-NOCHDIR", "-NOMOUSEHOOK", "-SOFTTIMER",
                    "-TEMPDIR", "/var/tmp", "-XSERVER", ":2", "-HELP", "x"}),
            0);
  ASSERT_EQ(r.Apply(), 0);
  EXPECT_EQ(r.startup.quiet, 1u);
  EXPECT_EQ(r.startup.noSound, 1u);
  EXPECT_EQ(r.startup.numChannels, 16u);
  EXPECT_EQ(r.startup.soundSetting, 30u);
  EXPECT_STREQ(GetAudioDeviceName(), "hw:1");
  EXPECT_EQ(std::memcmp(vlStartup.requirePlugins, "a\0b\0\0", 5), 0);
  EXPECT_EQ(std::memcmp(vlStartup.skipPlugins, "c\0\0", 3), 0);
  EXPECT_STREQ(vlStartup.requireTags, "a[x=1]");
  EXPECT_STREQ(vlStartup.debugDevice, "stdout");
  EXPECT_STREQ(GetTempDir(), "/var/tmp");
  SetTempDir("/tmp");
  EXPECT_EQ(vlStartup.debugOutput + vlStartup.noDebug + vlStartup.overridePlacement + vlStartup.noChdir +
                vlStartup.noMouseHook,
            5u);
  EXPECT_EQ(vlStartup.runtimeFlags, 1u);
  EXPECT_TRUE(vlConsoleForceFlush);
  EXPECT_STREQ(r.applet.overrides.xServer, ":2");

  OptRun none;
  ASSERT_EQ(none.Args({"-NUMCHANNELS", "0", "x"}), 0);
  EXPECT_EQ(none.Apply(), 1569);
}

TEST(ApplyOptions, SettingsTextsOutliveTheParse) {
  vlAppletInfo applet{};
  vlStartupRecord startup{};
  InitStartupDefaults(&applet, &startup);
  vlOptionValues values{};
  vlExtraArg* extras = nullptr;
  ASSERT_EQ(ParseCommandLine(&values, "-AUDIODEVICE plughw -REQUIRETAGS t[k=v] x", &extras), 0);
  ASSERT_EQ(ApplyStartupOptions(&applet, values.word, &startup), 0);
  FreeOptionValues(&values);
  EXPECT_STREQ(GetAudioDeviceName(), "plughw");
  EXPECT_STREQ(vlStartup.requireTags, "t[k=v]");
  FreeStartupSettings();
  EXPECT_EQ(vlStartup.requireTags, nullptr);
}

class OptionsFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vl-ini-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(dir_ + "/" + name).parent_path());
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  std::string dir_;
};

TEST_F(OptionsFileOnDisk, ReadBesideTheScript) {
  Write("v1.0/game.ini", "SCRWIDTH = 320\nhighscore = 99\n");
  Write("v1.ini", "SCRWIDTH = 1\n");  // what a cut inside the directory name would find
  OptRun r;
  std::string script = dir_ + "/v1.0/game.vla";
  ASSERT_EQ(r.Args({"-SCRWIDTH", "640", script.c_str()}), 0);
  ASSERT_EQ(ReadOptionsFile(&r.values, r.Text(VL_CLOPT_SCRIPT), &r.extras), 0);
  ASSERT_EQ(r.Apply(), 0);
  EXPECT_EQ(r.applet.overrides.screenWidth, 320);
  ASSERT_EQ(r.Extras().size(), 1u);
  EXPECT_EQ(r.Extras()[0].first, "highscore");

  OptRun noDot;
  std::string bare = dir_ + "/v1.0/game";
  EXPECT_EQ(ReadOptionsFile(&noDot.values, bare.c_str(), &noDot.extras), 0);  // game.ini is found too
  EXPECT_STREQ(noDot.Text(VL_CLOPT_SCRWIDTH), "320");
}

TEST_F(OptionsFileOnDisk, MissingFileIsNoErrorBadFileIs) {
  OptRun r;
  std::string script = dir_ + "/none.vla";
  EXPECT_EQ(ReadOptionsFile(&r.values, script.c_str(), &r.extras), 0);
  EXPECT_EQ(r.values.file, nullptr);
  Write("bad.ini", "QUIET\n");
  std::string bad = dir_ + "/bad.vla";
  EXPECT_EQ(ReadOptionsFile(&r.values, bad.c_str(), &r.extras), 1363);
}

TEST_F(OptionsFileOnDisk, StartupStepsFindScriptAndOptionsFile) {
  Write("game.ini", "SCRWIDTH = 320\nseed = 7\n");
  std::string script = dir_ + "/game.vla";
  const char* argv[] = {"vellamora", "-FULLSCREEN", "-lives", "3", script.c_str()};
  vlStartupRecord startup{};
  vlOptionValues values{};
  bool need = true;
  ASSERT_EQ(ParseStartupOptions(&startup, &values, 5, const_cast<char* const*>(argv), false, &need), 0);
  EXPECT_FALSE(need);
  EXPECT_STREQ(startup.scriptPath, script.c_str());
  EXPECT_STREQ(startup.givenName, script.c_str());
  EXPECT_EQ(values.word[VL_CLOPT_FULLSCREEN], 1u);
  EXPECT_STREQ(GetOptionText(values.word, VL_CLOPT_SCRWIDTH), "320");
  ASSERT_NE(startup.extraArgs, nullptr);
  EXPECT_STREQ(startup.extraArgs->name, "lives");
  EXPECT_STREQ(startup.extraArgs->value, "3");
  ASSERT_NE(startup.extraArgs->next, nullptr);
  EXPECT_STREQ(startup.extraArgs->next->name, "seed");
  FreeOptionValues(&values);
  FreeExtraArgs(&startup.extraArgs);
  std::free(startup.givenName);
}

TEST_F(OptionsFileOnDisk, StartupStepsLinkedOrWithoutScript) {
  Write("player.ini", "QUIET = yes\n");
  vlStartupRecord startup{};
  std::snprintf(startup.programPath, sizeof startup.programPath, "%s/player", dir_.c_str());
  const char* argv[] = {"player", "-WINDOW"};
  vlOptionValues values{};
  bool need = false;
  ASSERT_EQ(ParseStartupOptions(&startup, &values, 2, const_cast<char* const*>(argv), false, &need), 0);
  EXPECT_TRUE(need);
  EXPECT_EQ(values.word[VL_CLOPT_QUIET], 0u);
  FreeOptionValues(&values);

  // A linked container runs the program file itself, whatever is named.
  const char* named[] = {"player", "other.vla"};
  ASSERT_EQ(ParseStartupOptions(&startup, &values, 2, const_cast<char* const*>(named), true, &need), 0);
  EXPECT_FALSE(need);
  EXPECT_STREQ(startup.scriptPath, startup.programPath);
  EXPECT_STREQ(startup.givenName, "other.vla");
  EXPECT_EQ(values.word[VL_CLOPT_QUIET], 1u);
  FreeOptionValues(&values);

  std::string huge(1024, 's');
  const char* tooLong[] = {"player", huge.c_str()};
  EXPECT_EQ(ParseStartupOptions(&startup, &values, 2, const_cast<char* const*>(tooLong), false, &need), 1060);
  FreeOptionValues(&values);
  FreeExtraArgs(&startup.extraArgs);
  std::free(startup.givenName);
}

}  // namespace

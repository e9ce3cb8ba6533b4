// The system library's plug-in and program commands driven by assembled
// scripts on a real VM with real ".vlp" modules: LoadPlugin with its
// options reaching the plug-in, double loads, version asks, switching a
// plug-in off and on, the GetPlugins table (and GetVersion's copy of it),
// and the applet and program information.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <variant>

#include "runtime/errors.h"
#include "player/linked_data.h"
#include "player/plugin_loader.h"
#include "runtime/objects.h"
#include "runtime/startup_records.h"
#include "player/system_library.h"
#include "tests/runtime/plugin_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

class SystemPlugins : public vltest::PluginDirTest {
 protected:
  void SetUp() override {
    PluginDirTest::SetUp();
    ASSERT_EQ(OpenSystemLibrary(L), 0);
  }
  void TearDown() override {
    FreeSystemLibrary(L);
    FreeObjectRegistries();
    PluginDirTest::TearDown();
  }
  void SetText(const char* name, const char* value) {
    vl::PushString(L, name);
    vl::PushString(L, value);
    vl::RawSetTableValue(L, vl::kGlobalsIndex);
  }
  int Run(const std::string& body) {
    L->g->quitDefault = 0;  // an error of the previous script set it
    return vltest::RunScript(L, ".line 1\n" + body + "\nret\n");
  }
  double Num(const char* name) { return vltest::GlobalNumber(L, name); }
  std::string Str(const char* name) { return vltest::GlobalString(L, name); }

  // Pushes global[name] and then each key of the path in turn.
  void PushPath(const char* name, std::initializer_list<std::variant<int, const char*>> path) {
    vl::PushString(L, name);
    vl::GetTableValue(L, vl::kGlobalsIndex);
    for (const auto& key : path) {
      if (std::holds_alternative<int>(key)) vl::PushNumber(L, std::get<int>(key));
      else vl::PushString(L, std::get<const char*>(key));
      vl::GetTableValue(L, -2);
      vl::RemoveSlot(L, -2);
    }
  }
  std::string Text(const char* name, std::initializer_list<std::variant<int, const char*>> path) {
    PushPath(name, path);
    std::string s = vl::GetTypeAt(L, -1) == VL_TSTRING ? vl::ToStringAt(L, -1) : "<not a string>";
    vl::SetStackTop(L, -2);
    return s;
  }
  double Number(const char* name, std::initializer_list<std::variant<int, const char*>> path) {
    PushPath(name, path);
    double n = vl::GetTypeAt(L, -1) == VL_TNUMBER ? vl::ToNumberAt(L, -1) : -12345;
    vl::SetStackTop(L, -2);
    return n;
  }
  int Type(const char* name, std::initializer_list<std::variant<int, const char*>> path) {
    PushPath(name, path);
    int t = vl::GetTypeAt(L, -1);
    vl::SetStackTop(L, -2);
    return t;
  }
  std::string Message(int code) {
    char text[kErrorTextSize];
    GetErrorText(code, text, sizeof text);
    return text;
  }
};

TEST_F(SystemPlugins, LoadPluginHandsItsOptionsToThePlugin) {
  std::string path = Copy("optplug");
  SetText("path", path.c_str());
  ASSERT_EQ(Run(".table 0 { version = 2, revision = 3, mode = \"fast\", level = 5 }\nsetglobal 0 \"o\"\n"
                ".call loadplugin $path $o"),
            0);
  std::string log = Log();
  EXPECT_NE(log.find("init optplug\n"), std::string::npos) << log;
  // The table walk decides the order of the two options.
  EXPECT_TRUE(log.find("require 2.3 mode=fast,level=5 optplug\n") != std::string::npos ||
              log.find("require 2.3 level=5,mode=fast optplug\n") != std::string::npos)
      << log;
  EXPECT_EQ(log.find("version="), std::string::npos) << "the command's own keys stay out";

  // A second load of the same file is refused, naming the file.
  EXPECT_EQ(Run(".call loadplugin $path"), ERR_PLUGINDOUBLET);
  EXPECT_EQ(Message(ERR_PLUGINDOUBLET), "Plugin optplug.vlp has already been loaded!");
}

TEST_F(SystemPlugins, LoadPluginVersionsSkipRequireAndBadOptions) {
  std::string path = Copy("optplug");
  SetText("path", path.c_str());
  // Asking for a newer plug-in than the file is fails with the require error.
  EXPECT_EQ(Run(".table 0 { version = 2, revision = 4 }\nsetglobal 0 \"o\"\n.call loadplugin $path $o"),
            ERR_REQUIREPLUGIN);
  EXPECT_EQ(Message(ERR_REQUIREPLUGIN), "This program requires optplug.vlp 2.4!");
  FreePluginList();
  std::filesystem::remove(logPath);

  ASSERT_EQ(Run(".table 0 { skiprequire = 1, mode = \"x\" }\nsetglobal 0 \"o\"\n.call loadplugin $path $o"), 0);
  EXPECT_EQ(Log(), "init optplug\n") << "skiprequire leaves RequirePlugin out";
  ASSERT_NE(FirstPlugin(), nullptr);
  EXPECT_EQ(FirstPlugin()->required, 0u);
  FreePluginList();

  // Option keys must be strings, values strings or numbers.
  EXPECT_EQ(Run(".table 0 { \"positional\" }\nsetglobal 0 \"o\"\n.call loadplugin $path $o"), ERR_STRINGEXPECTED);
  EXPECT_EQ(Run(".table 0 { sub = { 1 } }\nsetglobal 0 \"o\"\n.call loadplugin $path $o"), ERR_WRONGUSAGE);
  EXPECT_EQ(FirstPlugin(), nullptr) << "a refused option table loads nothing";

  // A file that is not there is the dynamic loader's error.
  EXPECT_EQ(Run(".call loadplugin \"" + dir + "/absent.vlp\""), ERR_DLOPEN);
}

TEST_F(SystemPlugins, LoadPluginFindsABareNameInTheCurrentDirectory) {
  Copy("testimage");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  int rc = Run(".call loadplugin \"testimage\"");
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(rc, 0);
  ASSERT_NE(FirstPlugin(), nullptr);
  EXPECT_STREQ(FirstPlugin()->name, "testimage.vlp");
}

TEST_F(SystemPlugins, HavePluginComparesVersionThenRevision) {
  SetText("path", Copy("optplug").c_str());
  ASSERT_EQ(Run(".table 0 { skiprequire = 1 }\nsetglobal 0 \"o\"\n.call loadplugin $path $o"), 0);
  // The plug-in is version 2.3.
  ASSERT_EQ(Run(".call haveplugin \"optplug\" -> a1 a2\n"
                ".call haveplugin \"OPTPLUG.VLP\" 2 3 -> b1 b2\n"
                ".call haveplugin \"optplug\" 2 4 -> c1 c2\n"
                ".call haveplugin \"optplug\" 1 99 -> d1 d2\n"
                ".call haveplugin \"optplug\" 3 -> e1 e2\n"
                ".call haveplugin \"missing\" -> f1 f2"),
            0);
  for (auto [name, want] : {std::pair{"a", 1}, {"b", 1}, {"c", 0}, {"d", 1}, {"e", 0}, {"f", 0}}) {
    EXPECT_EQ(Num((std::string(name) + "1").c_str()), want) << name;
    EXPECT_EQ(Num((std::string(name) + "2").c_str()), want) << name;
  }
}

TEST_F(SystemPlugins, DisableAndEnableByName) {
  Copy("testimage");
  Copy("optplug");
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  vlPlugin* opt = nullptr;
  for (vlPlugin* p = FirstPlugin(); p; p = p->next)
    if (std::string(p->name) == "optplug.vlp") opt = p;
  ASSERT_NE(opt, nullptr);
  ASSERT_EQ(Run(".call disableplugin \"OptPlug.vlp\"\n.call getplugins -> list"), 0);
  EXPECT_EQ(opt->handle->info->disabled, 1u);
  int index = FirstPlugin() == opt ? 0 : 1;
  EXPECT_EQ(Number("list", {index, "disabled"}), 1);
  EXPECT_EQ(Number("list", {1 - index, "disabled"}), 0);
  ASSERT_EQ(Run(".call enableplugin \"optplug\""), 0);
  EXPECT_EQ(opt->handle->info->disabled, 0u);
  EXPECT_EQ(Run(".call disableplugin \"nothere.vlp\""), ERR_FINDPLUGIN);
  EXPECT_EQ(Message(ERR_FINDPLUGIN), "Cannot find plugin nothere.vlp!");
}

TEST_F(SystemPlugins, GetPluginsListsLoadedPluginsWithTheirFileTypes) {
  Copy("optplug");
  Copy("testimage", "_testimage.vlp");  // only registered: not listed
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  ASSERT_EQ(Run(".call getplugins -> list\n.call getversion -> v"), 0);
  EXPECT_EQ(Type("list", {1}), VL_TNIL);
  EXPECT_EQ(Text("list", {0, "modulename"}), "optplug");
  EXPECT_EQ(Text("list", {0, "name"}), "Test plug-in");
  EXPECT_EQ(Text("list", {0, "author"}), "Tester");
  EXPECT_EQ(Text("list", {0, "url"}), "") << "absent texts are empty strings";
  EXPECT_EQ(Text("list", {0, "helpfile"}), "");
  EXPECT_EQ(Number("list", {0, "version"}), 2);
  EXPECT_EQ(Number("list", {0, "revision"}), 3);
  EXPECT_EQ(Number("list", {0, "capabilities"}), PLUGINCAPS_IMAGE | PLUGINCAPS_REQUIRE);
  EXPECT_EQ(Number("list", {0, "disabled"}), 0);
  EXPECT_EQ(Text("list", {0, "path"}), dir + "/optplug.vlp");
  EXPECT_EQ(Number("list", {0, "filetypes", 0, "type"}), 0);
  EXPECT_EQ(Text("list", {0, "filetypes", 0, "name"}), "Test picture");
  EXPECT_EQ(Text("list", {0, "filetypes", 0, "extensions"}), "tst|tsx");
  EXPECT_EQ(Text("list", {0, "filetypes", 0, "mimetype"}), "image/x-test");
  EXPECT_EQ(Number("list", {0, "filetypes", 0, "formatid"}), 77);
  EXPECT_EQ(Number("list", {0, "filetypes", 0, "flags"}), 1);
  EXPECT_EQ(Type("list", {0, "filetypes", 1}), VL_TNIL);
  // GetVersion carries the same list.
  EXPECT_EQ(Text("v", {"plugins", 0, "modulename"}), "optplug");
  EXPECT_EQ(Type("v", {"plugins", 1}), VL_TNIL);
  EXPECT_EQ(Text("v", {"version"}), "6.1");
}

TEST_F(SystemPlugins, ApplicationAndProgramInformation) {
  vlAppletInfo applet{};
  vlStartupRecord startup{};
  const char* headers[] = {"My Title", "$VER: 1.2", "(c) me", "Someone", "A demo"};
  for (int i = 0; i < kHeaderStringCount; ++i) std::strcpy(applet.header[i], headers[i]);
  std::strcpy(applet.identifier, "com.example.demo");
  std::strcpy(startup.scriptPath, "/tmp/demo.vla");
  std::strcpy(startup.programPath, "/usr/bin/player");
  startup.containerFound = 1;
  vl::SetRegistryPointer(L, "applet", &applet);
  vl::SetRegistryPointer(L, "clargs", &startup);
  ASSERT_EQ(Run(".call getapplicationinfo -> info\n.call getprograminfo -> kind p1 p2"), 0);
  EXPECT_EQ(Text("info", {"title"}), "My Title");
  EXPECT_EQ(Text("info", {"version"}), "$VER: 1.2");
  EXPECT_EQ(Text("info", {"copyright"}), "(c) me");
  EXPECT_EQ(Text("info", {"author"}), "Someone");
  EXPECT_EQ(Text("info", {"description"}), "A demo");
  EXPECT_EQ(Text("info", {"identifier"}), "com.example.demo");
  EXPECT_EQ(Num("kind"), 1);
  EXPECT_EQ(Str("p1"), "/tmp/demo.vla");
  EXPECT_EQ(Str("p2"), "/usr/bin/player");

  startup.containerFound = 0;
  ASSERT_EQ(Run(".call getprograminfo -> kind"), 0);
  EXPECT_EQ(Num("kind"), 0);

  // Linked into the program: the program alone.
  uint32_t saved = vlLinked;
  vlLinked = 1;
  int rc = Run(".call getprograminfo -> kind p1 p2");
  vlLinked = saved;
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(Num("kind"), 2);
  EXPECT_EQ(Str("p1"), "/usr/bin/player");
  EXPECT_EQ(vltest::GetGlobal(L, "p2")->tag, VL_TNIL);
  vl::SetRegistryPointer(L, "applet", nullptr);
  vl::SetRegistryPointer(L, "clargs", nullptr);
}

}  // namespace

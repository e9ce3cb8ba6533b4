// The plug-in loader against real ".vlp" modules: the checks of one file
// (entry points, name, version, capabilities) with the right error code and
// argument, closing refused plug-ins, directory scans with '_' names and
// skip lists, and activation by name.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "runtime/class_lists.h"
#include "runtime/errors.h"
#include "player/linked_data.h"
#include "player/plugin_loader.h"
#include "tests/runtime/plugin_test_util.h"
#include "vm/error_codes.h"

namespace {

class PluginLoader : public vltest::PluginDirTest {
 protected:
  // Loads a copy of a built plug-in; the status. A success is closed again.
  int Load(const std::string& built, const std::string& as = "") {
    uint32_t caps = 0;
    vlPluginHandle* handle = nullptr;
    int rc = LoadPluginModule(Copy(built, as).c_str(), &caps, &handle);
    if (rc == 0) {
      EXPECT_NE(handle, nullptr);
      EXPECT_EQ(caps, GetPluginInfo(handle)->capabilities);
      ClosePluginModule(handle);
    }
    return rc;
  }

  int CountNodes() {
    int n = 0;
    for (vlPlugin* p = FirstPlugin(); p; p = p->next) ++n;
    return n;
  }
};

TEST_F(PluginLoader, GoodPluginIsBoundAndJoinsItsClass) {
  uint32_t caps = 0;
  vlPluginHandle* handle = nullptr;
  ASSERT_EQ(LoadPluginModule(Copy("testimage").c_str(), &caps, &handle), 0);
  EXPECT_EQ(caps, PLUGINCAPS_IMAGE);
  vlPluginInfo* info = GetPluginInfo(handle);
  EXPECT_STREQ(info->moduleName, "testimage");
  EXPECT_EQ(info->version, 2);
  EXPECT_NE(info->TransformImage, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(info->TransformImage),
            GetPluginSymbol(handle->library, "TransformImage"));
  // entries of capabilities it does not claim stay null
  EXPECT_EQ(info->FOpen, nullptr);
  EXPECT_EQ(info->GetExtensions, nullptr);
  vlClassNode* images = GetLoaderClassList(VL_CLASS_IMAGE);
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(images->plugin, info);
  ClosePluginModule(handle);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE), nullptr);
  EXPECT_EQ(Log(), "init testimage\nclose testimage\n");
}

TEST_F(PluginLoader, RefusedPluginsGiveTheirErrorAndAreClosed) {
  EXPECT_EQ(Load("missingsym"), ERR_PLUGINSYMBOL);
  EXPECT_STREQ(GetErrorArgument(), "TransformImage");
  EXPECT_EQ(Log(), "init missingsym\nclose missingsym\n");
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE), nullptr) << "a refused loader leaves its class";

  EXPECT_EQ(Load("noclose"), ERR_LOADPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "noclose.vlp");

  // a failing InitPlugin is not followed by ClosePlugin
  std::filesystem::remove(logPath);
  EXPECT_EQ(Load("initfails"), ERR_LOADPLUGIN);
  EXPECT_EQ(Log(), "init initfails\n");
}

TEST_F(PluginLoader, ModuleNameMustMatchTheFileAndNotBeReserved) {
  EXPECT_EQ(Load("wrongname"), ERR_LOADPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "wrongname.vlp");
  EXPECT_EQ(Load("wrongname", "other.vlp"), 0);
  EXPECT_EQ(Load("testimage", "TESTIMAGE.vlp"), 0) << "names compare case-insensitively";
  EXPECT_EQ(Load("testimage", "_testimage.vlp"), 0) << "a leading '_' is not part of the name";
  EXPECT_EQ(Load("native"), ERR_LOADPLUGIN);
  EXPECT_EQ(Load("native", "Native.vlp"), ERR_LOADPLUGIN);
}

TEST_F(PluginLoader, ProgramVersionUpTo61) {
  EXPECT_EQ(Load("newer61"), 0);
  EXPECT_EQ(Load("newer62"), ERR_NEWVLPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "6.2");
  char text[kErrorTextSize];
  GetErrorText(ERR_NEWVLPLUGIN, text, sizeof text);
  EXPECT_STREQ(text, "This plugin requires at least Vellamora 6.2!");
  EXPECT_EQ(Load("newer70"), ERR_NEWVLPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "7.0");
}

TEST_F(PluginLoader, ExtensionsAloneAreNotAType) {
  EXPECT_EQ(Load("extonly"), ERR_PLUGINTYPE);
  EXPECT_STREQ(GetErrorArgument(), "20000");
  EXPECT_EQ(Log(), "init extonly\nclose extonly\n");
}

TEST_F(PluginLoader, ExtensionBitKeepsALoaderOutOfItsClass) {
  uint32_t caps = 0;
  vlPluginHandle* handle = nullptr;
  ASSERT_EQ(LoadPluginModule(Copy("reqimage").c_str(), &caps, &handle), 0);
  EXPECT_EQ(GetPluginInfo(handle)->extensions[2], 1u);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE), nullptr);
  ClosePluginModule(handle);
}

TEST_F(PluginLoader, NotALibraryGivesTheLoadersText) {
  std::string path = dir + "/junk.vlp";
  std::ofstream(path) << "not a shared object";
  uint32_t caps = 0;
  vlPluginHandle* handle = nullptr;
  EXPECT_EQ(LoadPluginModule(path.c_str(), &caps, &handle), ERR_DLOPEN);
  EXPECT_NE(std::strstr(GetErrorArgument(), "junk.vlp"), nullptr) << GetErrorArgument();
  EXPECT_EQ(handle, nullptr);
}

TEST_F(PluginLoader, ScanLoadsRegistersAndSkips) {
  Copy("testimage");
  Copy("testlib", "_testlib.vlp");
  Copy("newer61", "NEWER61.VLP");
  Copy("newer62");  // refused: reported, the scan goes on
  std::filesystem::create_directory(dir + "/sub.vlp");
  std::ofstream(dir + "/readme.txt") << "x";
  int count = 0;
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, &count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(FirstPlugin(), nullptr) << "counting loads nothing";

  const char skip[] = "newer61\0";  // without extension, other case
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), skip, nullptr), 0);
  EXPECT_EQ(CountNodes(), 3);
  vlPlugin* image = nullptr;
  vlPlugin* lib = nullptr;
  vlPlugin* skipped = nullptr;
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (std::strcmp(p->name, "testimage.vlp") == 0) image = p;
    if (std::strcmp(p->name, "testlib.vlp") == 0) lib = p;
    if (std::strcmp(p->name, "NEWER61.VLP") == 0) skipped = p;
  }
  ASSERT_TRUE(image && lib && skipped);
  EXPECT_NE(image->handle, nullptr);
  EXPECT_EQ(lib->handle, nullptr);
  EXPECT_EQ(skipped->handle, nullptr);
  EXPECT_EQ(std::string(lib->path), dir + "/_testlib.vlp");

  // a second scan finds everything known: one node each
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), skip, nullptr), 0);
  EXPECT_EQ(CountNodes(), 3);
  vlPlugin* node = nullptr;
  EXPECT_EQ(LoadPluginFile((dir + "/testimage.vlp").c_str(), 0, &node), ERR_USERABORT);
  EXPECT_EQ(node, image);
  // a known node is loaded when asked with the extension flag
  EXPECT_EQ(LoadPluginFile((dir + "/newer61").c_str(), 1, &node), 0);
  EXPECT_EQ(node, skipped);
  EXPECT_NE(skipped->handle, nullptr);
}

TEST_F(PluginLoader, ScanReportsOnTheConsole) {
  Copy("newer62");
  vlOptions.quiet = 0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Loading plugin newer62.vlp...failed\n"), std::string::npos) << out;
  EXPECT_NE(out.find("(Reason: This plugin requires at least Vellamora 6.2!)"), std::string::npos) << out;

  std::filesystem::remove(dir + "/newer62.vlp");
  Copy("testimage");
  testing::internal::CaptureStdout();
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Loading plugin testimage.vlp...done\n"), std::string::npos) << out;
  vlOptions.quiet = 1;
}

TEST_F(PluginLoader, StarSkipsEveryPlugin) {
  Copy("testimage");
  Copy("newer61");
  const char skip[] = "*\0";
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), skip, nullptr), 0);
  EXPECT_EQ(CountNodes(), 2);
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) EXPECT_EQ(p->handle, nullptr);
  EXPECT_EQ(Log(), "");
}

TEST_F(PluginLoader, ScanDirectoriesTakesTheStartPathsDirectory) {
  Copy("testimage");
  std::string start = dir + "/player";
  ASSERT_EQ(LoadPlugins(start.c_str(), nullptr), 0);
  ASSERT_NE(FirstPlugin(), nullptr);
  EXPECT_NE(FirstPlugin()->handle, nullptr);
  EXPECT_EQ(ScanPluginDirectories("player", nullptr, nullptr), 0) << "no directory part: nothing";
}

TEST_F(PluginLoader, LinkedPluginsAreScannedFirst) {
  std::string linked = dir + "/linked";
  std::filesystem::create_directory(linked);
  std::filesystem::copy_file(Copy("newer61"), linked + "/newer61.vlp");
  std::filesystem::remove(dir + "/newer61.vlp");
  Copy("testimage");
  std::snprintf(vlLinkedPluginDir, sizeof vlLinkedPluginDir, "%s", linked.c_str());
  int count = 0;
  EXPECT_EQ(ScanPluginDirectories((dir + "/player").c_str(), nullptr, &count), 0);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(ScanPluginDirectories((dir + "/player").c_str(), nullptr, nullptr), 0);
  vlLinkedPluginDir[0] = '\0';
  ASSERT_EQ(CountNodes(), 2);
  EXPECT_STREQ(FirstPlugin()->name, "newer61.vlp");
  EXPECT_STREQ(FirstPlugin()->next->name, "testimage.vlp");
}

TEST_F(PluginLoader, ScanStopsOnABreakRequest) {
  Copy("testimage");
  Copy("newer61");
  SetPluginScanTick([] { return 1; });
  EXPECT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), ERR_USERABORT);
  SetPluginScanTick(nullptr);
  EXPECT_EQ(CountNodes(), 1);
}

TEST_F(PluginLoader, ActivationLoadsAnUnderscoreNameAndChecksTheVersion) {
  Copy("testlib", "_testlib.vlp");
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  ASSERT_EQ(FirstPlugin()->handle, nullptr);

  EXPECT_EQ(ActivatePlugin(L, "testlib.vlp", 2, 4, 1, 0, nullptr, nullptr), ERR_REQUIREPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "testlib.vlp 2.4");
  EXPECT_NE(FirstPlugin()->handle, nullptr) << "loaded even though too old";
  EXPECT_EQ(ActivatePlugin(L, "missing", 0, 0, 1, 0, nullptr, nullptr), ERR_REQUIREPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "missing.vlp");

  // the constants pass does not require it; the real pass does, once
  uint32_t flags = 99;
  EXPECT_EQ(ActivatePlugin(L, "TESTLIB", 2, 3, 1, 0, "opt", &flags), 0);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(Log().find("require"), std::string::npos);
  EXPECT_EQ(ActivatePlugin(L, "testlib", 2, 3, 0, 0, "opt", &flags), 0);
  EXPECT_EQ(flags, 1u);
  EXPECT_EQ(FirstPlugin()->required, 1u);
  EXPECT_EQ(ActivatePlugin(L, "testlib", 2, 3, 0, 0, "again", &flags), 0);
  std::string log = Log();
  EXPECT_NE(log.find("require 2.3 opt testlib\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("again"), std::string::npos) << "RequirePlugin runs once";
}

TEST_F(PluginLoader, AdaptersOnlyPassSkipsOtherPlugins) {
  // testlib is a file adapter too, so the adapters-only pass requires it
  Copy("testlib");
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  uint32_t flags = 0;
  EXPECT_EQ(ActivatePlugin(L, "testlib", 0, 0, 0, 1, nullptr, &flags), 0);
  EXPECT_EQ(flags, 1u);
}

TEST_F(PluginLoader, FreeingTheListClosesEveryLoadedPlugin) {
  Copy("testimage");
  Copy("newer61");
  Copy("testlib", "_testlib.vlp");
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  FreePluginList();
  EXPECT_EQ(FirstPlugin(), nullptr);
  std::string log = Log();
  EXPECT_NE(log.find("close testimage"), std::string::npos);
  EXPECT_NE(log.find("close newer61"), std::string::npos);
  EXPECT_EQ(log.find("testlib"), std::string::npos);
}

}  // namespace

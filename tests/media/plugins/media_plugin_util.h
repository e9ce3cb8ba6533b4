// Shared set-up of the media plug-in tests: a VM, a private folder holding
// copies of the media test plug-ins and the files they read, the log their
// calls append to, and the plug-in list and classes emptied afterwards.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../../runtime/handler_test_util.h"
#include "runtime/class_lists.h"
#include "player/plugin_loader.h"
#include "runtime/runtime_options.h"

namespace mediatest {

class PluginTest : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    char pattern[] = "/tmp/vlmediaXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    logPath = dir + "/calls.log";
    setenv("VL_TEST_PLUGIN_LOG", logPath.c_str(), 1);
    savedQuiet = vlOptions.quiet;
    vlOptions.quiet = 1;
  }
  void TearDown() override {
    FreePluginList();
    FreeClassLists();
    unsetenv("VL_TEST_PLUGIN_LOG");
    vlOptions.quiet = savedQuiet;
    std::filesystem::remove_all(dir);
    HandlerTest::TearDown();
  }

  // Loads a copy of the built plug-in "<name>.vlp" into the plug-in list.
  vlPluginInfo* Load(const std::string& name) {
    const std::string to = dir + "/" + name + ".vlp";
    std::filesystem::copy_file(std::string(VL_MEDIA_PLUGIN_DIR) + "/" + name + ".vlp", to,
                               std::filesystem::copy_options::overwrite_existing);
    vlPlugin* node = nullptr;
    EXPECT_EQ(LoadPluginFile(to.c_str(), 1, &node), 0);
    return node && node->handle ? node->handle->info : nullptr;
  }
  template <class Fn>
  Fn Symbol(const vlPluginInfo* info, const char* name) {
    vlPlugin* node = FindPluginByInfo(info);
    return node ? reinterpret_cast<Fn>(GetPluginSymbol(node->handle->library, name)) : nullptr;
  }

  std::string File(const std::string& name, const std::string& text) const {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text << "\n";
    return path;
  }
  std::string Log() const {
    std::ifstream in(logPath);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void ClearLog() const { std::filesystem::remove(logPath); }

  std::string dir, logPath;
  uint32_t savedQuiet = 0;
};

}  // namespace mediatest

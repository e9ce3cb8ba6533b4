// A temporary plug-in directory for loader tests: copies of the test
// plug-ins under chosen file names, the log their InitPlugin/ClosePlugin
// calls append to, and a clean plug-in list and class lists afterwards.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/class_lists.h"
#include "runtime/error_vm.h"
#include "runtime/plugins.h"
#include "runtime/runtime_options.h"
#include "vm/state.h"

namespace vltest {

class PluginDirTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlplugXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    logPath = dir + "/calls.log";
    setenv("VL_TEST_PLUGIN_LOG", logPath.c_str(), 1);
    savedQuiet = vlOptions.quiet;
    vlOptions.quiet = 1;
    L = vl::OpenVmState();
    ASSERT_NE(L, nullptr);
    InstallErrorSystem(L);
    vlOptions.errorRaising = 1;
  }
  void TearDown() override {
    FreePluginList();
    FreeClassLists();
    FreeErrorSystem(L);
    vl::CloseVmState(L);
    unsetenv("VL_TEST_PLUGIN_LOG");
    vlOptions.quiet = savedQuiet;
    std::filesystem::remove_all(dir);
  }

  // Copies the built plug-in "<built>.vlp" to dir/<as>; the new path.
  std::string Copy(const std::string& built, std::string as = "") {
    if (as.empty()) as = built + ".vlp";
    std::string to = dir + "/" + as;
    std::filesystem::copy_file(std::string(VL_TEST_PLUGIN_DIR) + "/" + built + ".vlp", to,
                               std::filesystem::copy_options::overwrite_existing);
    return to;
  }

  std::string Log() const {
    std::ifstream in(logPath);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string dir;
  std::string logPath;
  uint32_t savedQuiet = 0;
  vlVMState* L = nullptr;
};

}  // namespace vltest

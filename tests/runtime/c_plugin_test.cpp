// The plug-in interface as a plug-in written in C meets it: the header read
// by a C compiler lays every record out as the player does, and the sample
// C plug-in loads and serves a script.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/errors.h"
#include "runtime/plugin_formats.h"
#include "player/plugin_loader.h"
#include "tests/runtime/plugin_layout.h"
#include "tests/runtime/plugin_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

TEST(PluginLayout, CAndCxxLayTheRecordsOutAlike) {
  static const vlLayoutRow kCxx[] = {VL_LAYOUT_ROWS};
  size_t count = 0;
  const vlLayoutRow* c = PluginLayoutFromC(&count);
  ASSERT_EQ(count, std::size(kCxx));
  for (size_t i = 0; i < count; ++i) {
    EXPECT_STREQ(c[i].field, kCxx[i].field);
    EXPECT_EQ(c[i].offset, kCxx[i].offset) << kCxx[i].field;
  }
  // The info block ends with its 131 entry words; the last is GetExtensions.
  EXPECT_EQ(sizeof(vlPluginInfo), 320u + 131u * 8u);
  EXPECT_EQ(offsetof(vlPluginInfo, RequirePlugin), 320u + 56u * 8u);
}

class CPlugin : public vltest::PluginDirTest {
 protected:
  void Load() {
    std::string to = dir + "/sample.vlp";
    std::filesystem::copy_file(VL_SAMPLE_PLUGIN, to);
    vlPlugin* node = nullptr;
    ASSERT_EQ(LoadPluginFile(to.c_str(), 0, &node), 0) << GetErrorArgument();
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(InitPlugins(L), 0);
    info = node->handle->info;
  }
  int Call(const std::string& command, const std::string& args, int argCount) {
    return vltest::RunScript(L, "getglobal 0 \"sample\"\ngetfield 0 0 \"" + command + "\"\n" + args +
                                    "call 0 " + std::to_string(argCount + 1) + " 2\nsetglobal 0 \"r\"\nret\n");
  }
  vlPluginInfo* info = nullptr;
};

TEST_F(CPlugin, LoadsAndItsCommandsRunFromAScript) {
  Load();
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->moduleName, "sample");
  EXPECT_EQ(info->capabilities, uint32_t{PLUGINCAPS_LIBRARY});
  EXPECT_EQ(info->librariesInitialised, 1u);
  const char* text = nullptr;
  double number = NAN;
  ASSERT_EQ(vl::FindConstant(L, "sample_maxcount", &text, &number), 1);
  EXPECT_EQ(number, 1000);

  ASSERT_EQ(Call("repeat", "loadk 1 \"ab\\0c\"\nloadk 2 #3\n", 2), 0);
  EXPECT_EQ(vltest::GlobalString(L, "r"), std::string("ab\0cab\0cab\0c", 12));
  ASSERT_EQ(Call("repeat", "loadk 1 \"x\"\nloadk 2 #0\n", 2), 0);
  EXPECT_EQ(vltest::GlobalString(L, "r"), "");
  // The count left out or nil (told apart with the header's value types).
  ASSERT_EQ(Call("repeat", "loadk 1 \"once\"\n", 1), 0);
  EXPECT_EQ(vltest::GlobalString(L, "r"), "once");
  ASSERT_EQ(Call("repeat", "loadk 1 \"nil\"\nloadnil 2 2\n", 2), 0);
  EXPECT_EQ(vltest::GlobalString(L, "r"), "nil");
  ASSERT_EQ(Call("calls", "", 0), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 5);
}

// An error ends the script, so each case has its own run.
TEST_F(CPlugin, ACountOutOfRangeIsThePluginsError) {
  Load();
  EXPECT_EQ(Call("repeat", "loadk 1 \"x\"\nloadk 2 #1001\n", 2), 1055);
}

TEST_F(CPlugin, ACountThatIsNoNumberIsRaisedByThePlayersReader) {
  Load();
  EXPECT_EQ(Call("repeat", "loadk 1 \"x\"\nloadk 2 \"many\"\n", 2), ERR_NUMEXPECTED);
}

}  // namespace

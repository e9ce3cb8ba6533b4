// Run-time option tags: built-in homes, the nesting counter, hook chains
// for other tags, and what counts as handled.
#include "runtime/runtime_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> g_seen;
uint32_t g_soundSetting = 0;

int SoundSet(vlVMState*, uint32_t tag, uint32_t value) {
  g_seen.push_back(tag);
  if (tag != 2 && tag != 3) return 0;
  if (tag == 3) g_soundSetting = value;
  return 1;
}

int CatchAllSet(vlVMState*, uint32_t tag, uint32_t) {
  g_seen.push_back(1000 + tag);
  return tag == 4;
}

int SoundGet(vlVMState*, uint32_t tag, void* out) {
  if (tag != 3) return 0;
  *static_cast<uint32_t*>(out) = g_soundSetting;
  return 1;
}

class RuntimeOptions : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = vlOptions; g_seen.clear(); }
  void TearDown() override {
    FreeRuntimeOptionHooks();
    vlOptions = saved_;
  }
  vlRuntimeOptions saved_;
};

TEST_F(RuntimeOptions, BuiltInTagsStoreAndRead) {
  EXPECT_EQ(vlOptions.errorRaising, 1u);  // on at start
  EXPECT_EQ(SetRuntimeOption(nullptr, VL_OPT_QUIET, 1u, VL_OPT_RENDER_STATE, 1u, VL_OPT_ERROR_RAISING, 0u,
                             VL_OPT_SOURCE_POSITIONS, 1u, 0u),
            4);
  uint32_t quiet = 9, render = 9, raising = 9, positions = 9;
  int32_t nesting = 9;
  EXPECT_EQ(GetRuntimeOption(nullptr, VL_OPT_QUIET, &quiet, VL_OPT_RENDER_STATE, &render, VL_OPT_ERROR_RAISING,
                             &raising, VL_OPT_CALLBACK_NESTING, &nesting, VL_OPT_SOURCE_POSITIONS, &positions, 0u),
            4);
  EXPECT_EQ(quiet, 1u);
  EXPECT_EQ(render, 1u);
  EXPECT_EQ(raising, 0u);
  EXPECT_EQ(nesting, 0);
  EXPECT_EQ(positions, 9u);  // write-only through this interface
  EXPECT_EQ(vlOptions.sourcePositionsKnown, 1u);
}

TEST_F(RuntimeOptions, NestingCounterCountsTrueAndFalseWrites) {
  SetRuntimeOption(nullptr, VL_OPT_CALLBACK_NESTING, 1u, 0u);
  SetRuntimeOption(nullptr, VL_OPT_CALLBACK_NESTING, 5u, 0u);  // any true value raises by one
  int32_t n = 0;
  GetRuntimeOption(nullptr, VL_OPT_CALLBACK_NESTING, &n, 0u);
  EXPECT_EQ(n, 2);
  SetRuntimeOption(nullptr, VL_OPT_CALLBACK_NESTING, 0u, VL_OPT_CALLBACK_NESTING, 0u, 0u);
  GetRuntimeOption(nullptr, VL_OPT_CALLBACK_NESTING, &n, 0u);
  EXPECT_EQ(n, 0);
  // An unbalanced lowering stays at zero rather than reading as "inside".
  SetRuntimeOption(nullptr, VL_OPT_CALLBACK_NESTING, 0u, 0u);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
}

TEST_F(RuntimeOptions, OtherTagsGoThroughTheHooksInOrder) {
  EXPECT_EQ(SetRuntimeOption(nullptr, 3u, 30u, 0u), 0);  // nobody takes it yet
  ASSERT_EQ(AddRuntimeOptionSetHook(&SoundSet), 0);
  ASSERT_EQ(AddRuntimeOptionSetHook(&CatchAllSet), 0);
  ASSERT_EQ(AddRuntimeOptionGetHook(&SoundGet), 0);
  g_seen.clear();
  EXPECT_EQ(SetRuntimeOption(nullptr, 3u, 30u, 4u, 1u, 99u, 1u, VL_OPT_QUIET, 0u, 0u), 3);
  // Tag 3 stops at the first hook; 4 and 99 reach the second; 99 is taken by nobody.
  EXPECT_EQ(g_seen, (std::vector<uint32_t>{3, 4, 1004, 99, 1099}));
  EXPECT_EQ(g_soundSetting, 30u);
  uint32_t v = 0, unknown = 77;
  EXPECT_EQ(GetRuntimeOption(nullptr, 3u, &v, 42u, &unknown, 0u), 1);
  EXPECT_EQ(v, 30u);
  EXPECT_EQ(unknown, 77u);
  EXPECT_EQ(SetRuntimeOption(nullptr, 0u), 0);
  FreeRuntimeOptionHooks();
  EXPECT_EQ(SetRuntimeOption(nullptr, 3u, 31u, 0u), 0);
  EXPECT_EQ(g_soundSetting, 30u);
}

}  // namespace

// The plug-in VM table: its layout is pinned, and a separately linked test
// plug-in, loaded with dlopen, works only through it: handlers that read
// arguments and push results, and one probe that calls every slot by index.
#include <dlfcn.h>

#include <cstring>

#include "tests/vm/vm_test_util.h"
#include "vm/call.h"
#include "vm/gc.h"
#include "vm/plugin_vm.h"
#include "vm/stack_api.h"

namespace {

using vltest::VmTest;

// Every slot is filled.
constexpr int kAuxSlotsPending = 0;

class PluginVmTest : public VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    handle = dlopen(VL_PLUGIN_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto bind = reinterpret_cast<void (*)(const vlPluginVMTable*)>(dlsym(handle, "ProbeBind"));
    ASSERT_NE(bind, nullptr);
    bind(GetPluginVMTable());
  }
  void TearDown() override {
    VmTest::TearDown();
    if (handle) dlclose(handle);
  }
  vlNativeFn Handler(const char* name) {
    return reinterpret_cast<vlNativeFn>(dlsym(handle, name));
  }
  void* handle = nullptr;
};

TEST(PluginVmTable, LayoutIsPinned) {
  const vlPluginVMTable* t = GetPluginVMTable();
  void* const* slots = reinterpret_cast<void* const*>(t);
  EXPECT_EQ(sizeof(vlPluginVMTable), 78 * sizeof(void*));
  // A few slots by index against the routines they must reach.
  EXPECT_EQ(slots[0], reinterpret_cast<void*>(&vl::GetStackTop));
  EXPECT_EQ(slots[21], reinterpret_cast<void*>(&vl::PushNumber));
  EXPECT_EQ(slots[35], reinterpret_cast<void*>(&vl::CallProtected));
  EXPECT_EQ(slots[67], reinterpret_cast<void*>(&vl::EnsureStackSpace));
  EXPECT_EQ(slots[74], reinterpret_cast<void*>(&vl::CallFunction));
  EXPECT_EQ(slots[77], reinterpret_cast<void*>(&vl::SetGCThresholdKB));
  int empty = 0;
  for (int i = 0; i < 78; i++) empty += slots[i] == nullptr;
  EXPECT_EQ(empty, kAuxSlotsPending);
}

TEST_F(PluginVmTest, HandlerReadsArgumentsAndPushesResults) {
  ASSERT_EQ(Protect([&] {
    vl::PushNativeClosure(L, Handler("ProbeSum"), 0);
    vl::PushNumber(L, 1.5);
    vl::PushString(L, "2.5");
    vl::PushNil(L);
    vl::PushNumber(L, 4);
    vl::CallFunction(L, 4, -1);
  }), 0);
  ASSERT_EQ(vl::GetStackTop(L), 2);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 8);
  EXPECT_STREQ(vl::ToStringAt(L, 2), "sum=8");
}

TEST_F(PluginVmTest, HandlerBuildsTables) {
  ASSERT_EQ(Protect([&] {
    vl::PushNativeClosure(L, Handler("ProbeRecord"), 0);
    vl::PushString(L, "squares");
    vl::PushNumber(L, 5);
    vl::CallFunction(L, 2, 1);
  }), 0);
  ASSERT_EQ(vl::GetTypeAt(L, 1), VL_TTABLE);
  ASSERT_EQ(Protect([&] {
    vl::PushString(L, "name");
    vl::RawGetTableValue(L, 1);
    EXPECT_STREQ(vl::ToStringAt(L, -1), "squares");
    vl::PushString(L, "count");
    vl::RawGetTableValue(L, 1);
    EXPECT_EQ(vl::ToNumberAt(L, -1), 5);
    vl::PushString(L, "list");
    vl::RawGetTableValue(L, 1);
    for (int i = 0; i < 5; i++) {
      vl::RawGetTableIndex(L, -1, i);
      EXPECT_EQ(vl::ToNumberAt(L, -1), i * i);
      vl::SetStackTop(L, -2);
    }
  }), 0);
}

TEST_F(PluginVmTest, EverySlotAnswersThroughItsIndex) {
  int code = Protect([&] {
    vl::PushNativeClosure(L, Handler("ProbeEverySlot"), 0);
    vl::CallFunction(L, 0, 2);
  });
  ASSERT_EQ(code, 0) << "slot " << code - 2000 << " answered wrongly";
  EXPECT_EQ(vl::ToNumberAt(L, 2), kAuxSlotsPending);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 78 - kAuxSlotsPending);
}

}  // namespace

// The stack interface: index rules and misuse (1135, also after an earlier
// caught error), pushes growing the frame up to its limit, conversions, raw
// table access, metatables, upvalues and the size checks on closures and
// sized tables.
#include <cstring>
#include <string>

#include "tests/vm/vm_test_util.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/table.h"

namespace {

using vltest::VmTest;

class StackApiTest : public VmTest {};

int Dummy(vlVMState*) { return 0; }

TEST_F(StackApiTest, ReadingPastTheTopGivesNoValue) {
  ASSERT_EQ(Protect([&] {
    vl::PushNumber(L, 1);
    EXPECT_EQ(vl::GetStackTop(L), 1);
    EXPECT_EQ(vl::GetTypeAt(L, 2), VL_TNONE);
    EXPECT_EQ(vl::GetTypeAt(L, 19), VL_TNONE);
    EXPECT_EQ(vl::ToStringAt(L, 5), nullptr);
    EXPECT_EQ(vl::ToNumberAt(L, 5), 0);
    EXPECT_EQ(vl::ToBooleanAt(L, 5), 0);
    EXPECT_EQ(vl::IsNumberAt(L, 5), 0);
    EXPECT_EQ(vl::ValuesRawEqual(L, 1, 5), 0);
    EXPECT_STREQ(vl::GetTypeName(L, vl::GetTypeAt(L, 5)), "no value");
    // Copying a missing value pushes nil.
    vl::PushSlotCopy(L, 7);
    EXPECT_EQ(vl::GetTypeAt(L, 2), VL_TNIL);
  }), 0);
}

TEST_F(StackApiTest, MisuseRaises1135AndTouchesNothing) {
  struct Case {
    const char* what;
    void (*op)(vlVMState*);
  };
  const Case cases[] = {
      {"read index 0", [](vlVMState* S) { vl::GetTypeAt(S, 0); }},
      {"read below the frame", [](vlVMState* S) { vl::GetTypeAt(S, -3); }},
      {"read past the stack limit", [](vlVMState* S) { vl::GetTypeAt(S, 1000000); }},
      {"replace at 0", [](vlVMState* S) { vl::ReplaceSlotWithTop(S, 0); }},
      {"replace past the top", [](vlVMState* S) { vl::ReplaceSlotWithTop(S, 3); }},
      {"replace the registry", [](vlVMState* S) { vl::ReplaceSlotWithTop(S, vl::kRegistryIndex); }},
      {"replace a missing upvalue", [](vlVMState* S) { vl::ReplaceSlotWithTop(S, vl::UpvalueIndex(1)); }},
      {"remove past the top", [](vlVMState* S) { vl::RemoveSlot(S, 3); }},
      {"insert at 0", [](vlVMState* S) { vl::InsertTopAt(S, 0); }},
      {"pop more than the frame", [](vlVMState* S) { vl::SetStackTop(S, -4); }},
      {"raw get on a number", [](vlVMState* S) { vl::RawGetTableValue(S, 1); }},
      {"raw set on a missing slot", [](vlVMState* S) { vl::RawSetTableIndex(S, 5, 1); }},
      {"next on a number", [](vlVMState* S) { vl::NextTableEntry(S, 2); }},
      {"closure over more values than the frame", [](vlVMState* S) { vl::PushNativeClosure(S, Dummy, 3); }},
      {"closure with 256 upvalues", [](vlVMState* S) { vl::PushNativeClosure(S, Dummy, 256); }},
      {"closure with negative upvalues", [](vlVMState* S) { vl::PushNativeClosure(S, Dummy, -1); }},
      {"metatable that is a number", [](vlVMState* S) { vl::SetMetatableAt(S, 1); }},
      {"globals that are not a table", [](vlVMState* S) { vl::SetFunctionGlobals(S, 1); }},
  };
  // The second round runs after errors were caught: the checks stay on.
  for (int round = 0; round < 2; round++) {
    for (const Case& c : cases) {
      vl::SetStackTop(L, 0);
      vl::PushNumber(L, 1);
      vl::PushNumber(L, 2);
      int code = Protect([&] { c.op(L); });
      EXPECT_EQ(code, ERR_STACK) << c.what << " round " << round;
      EXPECT_EQ(vl::GetStackTop(L), 2) << c.what;
      EXPECT_EQ(vl::ToNumberAt(L, 1), 1) << c.what;
      EXPECT_EQ(vl::ToNumberAt(L, 2), 2) << c.what;
    }
    EXPECT_EQ(L->g->errorThrown, 1);
  }
}

TEST_F(StackApiTest, SlotShufflesKeepOrder) {
  ASSERT_EQ(Protect([&] {
    for (int i = 1; i <= 5; i++) vl::PushNumber(L, i);
    vl::RemoveSlot(L, 2);  // 1 3 4 5
    vl::InsertTopAt(L, 1); // 5 1 3 4
    vl::PushNumber(L, 9);
    vl::ReplaceSlotWithTop(L, -2);  // 5 1 3 9
    vl::PushSlotCopy(L, -4);        // 5 1 3 9 5
    const double expected[] = {5, 1, 3, 9, 5};
    ASSERT_EQ(vl::GetStackTop(L), 5);
    for (int i = 0; i < 5; i++) EXPECT_EQ(vl::ToNumberAt(L, i + 1), expected[i]) << i;
    vl::SetStackTop(L, 7);
    EXPECT_EQ(vl::GetTypeAt(L, 6), VL_TNIL);
    EXPECT_EQ(vl::GetTypeAt(L, 7), VL_TNIL);
    vl::SetStackTop(L, -6);
    EXPECT_EQ(vl::GetStackTop(L), 2);
  }), 0);
}

TEST_F(StackApiTest, PushesGrowTheFrameUpToItsLimit) {
  ASSERT_EQ(Protect([&] {
    EXPECT_EQ(vl::EnsureStackSpace(L, 3000), 0);
    // Far past the 20 slots a frame starts with: the stack grows.
    for (int i = 0; i < 2048; i++) vl::PushNumber(L, i);
    EXPECT_EQ(vl::GetStackTop(L), 2048);
    EXPECT_LE(L->top, L->stackLast + 1);
    for (int i = 0; i < 2048; i += 97) ASSERT_EQ(vl::ToNumberAt(L, i + 1), i);
    EXPECT_EQ(vl::EnsureStackSpace(L, 1), 0);
  }), 0);
  // The 2049th value is refused and nothing is written.
  vlValue* top = L->top;
  EXPECT_EQ(Protect([&] { vl::PushNumber(L, 1); }), ERR_STACK);
  EXPECT_EQ(L->top, top);
  EXPECT_EQ(Protect([&] { vl::SetStackTop(L, 2049); }), ERR_STACK);
}

TEST_F(StackApiTest, ConversionsAndTypeTests) {
  ASSERT_EQ(Protect([&] {
    vl::PushNil(L);          // 1
    vl::PushString(L, "12"); // 2
    vl::PushNumber(L, 12);   // 3
    vl::PushNumber(L, 0);    // 4
    vl::PushBoolean(L, 0);   // 5
    vl::PushBoolean(L, 7);   // 6
    vl::PushString(L, "12a");// 7
    vl::PushBytes(L, "a\0b", 3); // 8
    EXPECT_TRUE(vl::IsNumberAt(L, 1));
    EXPECT_TRUE(vl::IsNumberAt(L, 2));
    EXPECT_FALSE(vl::IsNumberAt(L, 7));
    EXPECT_TRUE(vl::IsStringAt(L, 3));
    EXPECT_FALSE(vl::IsStringAt(L, 1));
    EXPECT_EQ(vl::ToNumberAt(L, 2), 12);
    EXPECT_EQ(vl::ToNumberAt(L, 7), 0);
    EXPECT_EQ(vl::ToBooleanAt(L, 4), 1);
    EXPECT_EQ(vl::ToBooleanAt(L, 5), 0);
    EXPECT_EQ(vl::ToBooleanAt(L, 1), 0);
    EXPECT_EQ(vl::ToBooleanAt(L, 6), 1);
    EXPECT_EQ(L->base[5].v.b, 1);  // any non-zero flag is the boolean 1
    EXPECT_EQ(vl::GetStringLengthAt(L, 8), 3u);
    EXPECT_EQ(std::memcmp(vl::ToStringAt(L, 8), "a\0b", 3), 0);
    // nil and numbers turn into strings in their slots.
    EXPECT_STREQ(vl::ToStringAt(L, 1), "");
    EXPECT_EQ(vl::GetTypeAt(L, 1), VL_TSTRING);
    EXPECT_STREQ(vl::ToStringAt(L, 3), "12");
    EXPECT_EQ(vl::GetTypeAt(L, 3), VL_TSTRING);
    EXPECT_TRUE(vl::ValuesRawEqual(L, 2, 3));  // interned: same object
    EXPECT_EQ(vl::ToStringAt(L, 5), nullptr);
    vl::PushString(L, nullptr);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
    int x;
    vl::PushPointer(L, &x);
    EXPECT_TRUE(vl::IsUserdataAt(L, -1));
    EXPECT_EQ(vl::ToUserdataAt(L, -1), &x);
    EXPECT_EQ(vl::ToPointerAt(L, -1), &x);
    void* block = vl::PushNewUserdata(L, 24);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TUSERDATA);
    EXPECT_EQ(vl::ToUserdataAt(L, -1), block);
    vl::PushNativeClosure(L, Dummy, 0);
    EXPECT_TRUE(vl::IsNativeFunctionAt(L, -1));
    EXPECT_EQ(vl::ToNativeFunctionAt(L, -1), &Dummy);
    EXPECT_EQ(vl::ToNativeFunctionAt(L, 1), nullptr);
    EXPECT_EQ(vl::ToThreadAt(L, 1), nullptr);
  }), 0);
}

TEST_F(StackApiTest, RawTableAccessAndIteration) {
  ASSERT_EQ(Protect([&] {
    vl::PushNewTable(L);
    for (int i = 1; i <= 5; i++) {
      vl::PushNumber(L, i * 10);
      vl::RawSetTableIndex(L, 1, i);
    }
    vl::PushString(L, "name");
    vl::PushString(L, "value");
    vl::RawSetTableValue(L, 1);
    vl::RawGetTableIndex(L, 1, 3);
    EXPECT_EQ(vl::ToNumberAt(L, -1), 30);
    vl::PushString(L, "name");
    vl::RawGetTableValue(L, 1);
    EXPECT_STREQ(vl::ToStringAt(L, -1), "value");
    vl::SetStackTop(L, 1);
    double sum = 0;
    int count = 0;
    vl::PushNil(L);
    while (vl::NextTableEntry(L, 1)) {
      if (vl::GetTypeAt(L, -1) == VL_TNUMBER) sum += vl::ToNumberAt(L, -1);
      count++;
      vl::SetStackTop(L, -2);
    }
    EXPECT_EQ(count, 6);
    EXPECT_EQ(sum, 150);
    EXPECT_EQ(vl::GetStackTop(L), 1);
    // The registry and the globals are tables at their pseudo-indices.
    vl::PushString(L, "k");
    vl::PushNumber(L, 5);
    vl::RawSetTableValue(L, vl::kGlobalsIndex);
    vl::PushString(L, "k");
    vl::RawGetTableValue(L, vl::kGlobalsIndex);
    EXPECT_EQ(vl::ToNumberAt(L, -1), 5);
    EXPECT_EQ(vl::GetTypeAt(L, vl::kRegistryIndex), VL_TTABLE);
  }), 0);
}

TEST_F(StackApiTest, SizedTablesRefuseBadSizes) {
  EXPECT_EQ(Protect([&] { vl::PushNewSizedTable(L, -1, 0); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::PushNewSizedTable(L, 0, -1); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::PushNewSizedTable(L, 0, 25); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::PushNewSizedTable(L, (1 << 24) + 1, 0); }), ERR_TABLEOVERFLOW);
  vl::SetStackTop(L, 0);
  ASSERT_EQ(Protect([&] { vl::PushNewSizedTable(L, 8, 3); }), 0);
  vlTable* t = vl::ToTable(L->top - 1);
  EXPECT_EQ(t->sizearray, 8);
  EXPECT_EQ(t->lsizenode, 3);
}

TEST_F(StackApiTest, MetatablesAndFunctionGlobals) {
  ASSERT_EQ(Protect([&] {
    vl::PushNewTable(L);  // 1
    EXPECT_EQ(vl::PushMetatableAt(L, 1), 0);
    vl::PushNewTable(L);
    EXPECT_EQ(vl::SetMetatableAt(L, 1), 1);
    EXPECT_EQ(vl::PushMetatableAt(L, 1), 1);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TTABLE);
    vl::SetStackTop(L, 1);
    vl::PushNil(L);  // nil removes it
    EXPECT_EQ(vl::SetMetatableAt(L, 1), 1);
    EXPECT_EQ(vl::PushMetatableAt(L, 1), 0);
    vl::PushNumber(L, 3);  // 2
    vl::PushNewTable(L);
    EXPECT_EQ(vl::SetMetatableAt(L, 2), 0);  // numbers have none
    EXPECT_EQ(vl::GetStackTop(L), 2);
    // Native functions have no globals of their own.
    vl::PushNativeClosure(L, Dummy, 0);  // 3
    vl::PushFunctionGlobals(L, 3);
    EXPECT_TRUE(vl::ValuesRawEqual(L, -1, vl::kGlobalsIndex));
    EXPECT_EQ(vl::SetFunctionGlobals(L, 3), 0);
    EXPECT_EQ(vl::GetStackTop(L), 3);
  }), 0);
}

TEST_F(StackApiTest, NativeClosureUpvalues) {
  ASSERT_EQ(Protect([&] {
    vl::PushNumber(L, 7);
    vl::PushString(L, "up");
    vl::PushNativeClosure(L, Dummy, 2);
    EXPECT_EQ(vl::GetStackTop(L), 1);
    EXPECT_STREQ(vl::GetUpvalueAt(L, 1, 1), "");
    EXPECT_EQ(vl::ToNumberAt(L, -1), 7);
    EXPECT_STREQ(vl::GetUpvalueAt(L, 1, 2), "");
    EXPECT_STREQ(vl::ToStringAt(L, -1), "up");
    EXPECT_EQ(vl::GetUpvalueAt(L, 1, 3), nullptr);
    EXPECT_EQ(vl::GetUpvalueAt(L, 1, 0), nullptr);
    EXPECT_EQ(vl::GetStackTop(L), 3);
    vl::PushNumber(L, 8);
    EXPECT_STREQ(vl::SetUpvalueAt(L, 1, 1), "");
    EXPECT_STREQ(vl::GetUpvalueAt(L, 1, 1), "");
    EXPECT_EQ(vl::ToNumberAt(L, -1), 8);
    // Outside a native closure the upvalue pseudo-indices read nothing.
    EXPECT_EQ(vl::GetTypeAt(L, vl::UpvalueIndex(1)), VL_TNONE);
    EXPECT_EQ(vl::PushNativeUpvalues(L), 0);
  }), 0);
}

// Inside a native closure with two upvalues: -10002 and -10003 are them,
// -10004 is nothing, and writing there is misuse.
int gUpvalueChecks = 0;
int ReadUpvalues(vlVMState* L) {
  gUpvalueChecks = 0;
  gUpvalueChecks += vl::ToNumberAt(L, vl::UpvalueIndex(1)) == 11;
  gUpvalueChecks += std::string(vl::ToStringAt(L, vl::UpvalueIndex(2))) == "second";
  gUpvalueChecks += vl::GetTypeAt(L, vl::UpvalueIndex(3)) == VL_TNONE;
  gUpvalueChecks += vl::GetTypeAt(L, -10100) == VL_TNONE;
  vl::PushNumber(L, 12);
  vl::ReplaceSlotWithTop(L, vl::UpvalueIndex(1));
  gUpvalueChecks += vl::ToNumberAt(L, vl::UpvalueIndex(1)) == 12;
  gUpvalueChecks += vl::PushNativeUpvalues(L) == 2;
  vl::PushNumber(L, 13);
  vl::ReplaceSlotWithTop(L, vl::UpvalueIndex(3));  // raises 1135
  gUpvalueChecks += 100;
  return 0;
}

TEST_F(StackApiTest, UpvaluePseudoIndicesReadTheRightUpvalueAndNothingBeyond) {
  int code = Protect([&] {
    vl::PushNumber(L, 11);
    vl::PushString(L, "second");
    vl::PushNativeClosure(L, ReadUpvalues, 2);
    vl::CallFunction(L, 0, 0);
  });
  EXPECT_EQ(code, ERR_STACK);
  EXPECT_EQ(gUpvalueChecks, 6);
}

}  // namespace

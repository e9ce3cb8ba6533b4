// The collector: weak tables lose exactly their unreachable entries,
// finalisers run once and their userdata go with the next collection, the
// threshold arithmetic, and shrinking after the stack or the string table
// grew large.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/vm/script_util.h"
#include "tests/vm/vm_test_util.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/memory.h"
#include "vm/stack_api.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

using vltest::VmTest;

class GcTest : public VmTest {
 protected:
  // Sets the table on top's metatable to {__mode = mode}.
  void MakeWeak(const char* mode) {
    vl::PushNewTable(L);
    vl::PushString(L, "__mode");
    vl::PushString(L, mode);
    vl::RawSetTableValue(L, -3);
    vl::SetMetatableAt(L, -2);
  }
  int CountEntries(int index) {
    int n = 0;
    vl::PushNil(L);
    while (vl::NextTableEntry(L, index < 0 ? index - 1 : index)) {
      n++;
      vl::SetStackTop(L, -2);
    }
    return n;
  }
  // Keeps the value on top alive in the registry under key.
  void Anchor(const char* key) {
    vl::PushString(L, key);
    vl::InsertTopAt(L, -2);
    vl::RawSetTableValue(L, vl::kRegistryIndex);
  }
  int CountUserdata() {
    int n = 0;
    for (vlGCObject* o = L->g->rootudata; o; o = o->next) n++;
    return n;
  }
};

int Dummy(vlVMState*) { return 0; }

// One weak table of each mode, each holding: a string key -> unreachable
// table, an unreachable table key -> string, an unreachable function and
// userdata as values, and an anchored table as key and value.
TEST_F(GcTest, WeakTablesLoseExactlyTheUnreachableEntries) {
  struct Case {
    const char* mode;
    int expected;  // entries left after a collection
  };
  // Entries: 1 "s"->T, 2 T->"x", 3 "f"->F, 4 "u"->U, 5 A->A, 6 "str"->"val"
  const Case cases[] = {{"k", 5}, {"v", 3}, {"kv", 2}, {"", 6}};
  vl::SetGCStress(L, false);  // the entries must exist until the collection
  for (const Case& c : cases) {
    ASSERT_EQ(Protect([&] {
      vl::SetStackTop(L, 0);
      vl::PushNewTable(L);
      Anchor("anchored");
      vl::PushNewTable(L);  // 1: the weak table
      MakeWeak(c.mode);
      vl::PushString(L, "s"); vl::PushNewTable(L); vl::RawSetTableValue(L, 1);
      vl::PushNewTable(L); vl::PushString(L, "x"); vl::RawSetTableValue(L, 1);
      vl::PushString(L, "f"); vl::PushNativeClosure(L, Dummy, 0); vl::RawSetTableValue(L, 1);
      vl::PushString(L, "u"); vl::PushNewUserdata(L, 8); vl::RawSetTableValue(L, 1);
      vl::PushString(L, "anchored"); vl::RawGetTableValue(L, vl::kRegistryIndex);
      vl::PushSlotCopy(L, -1);
      vl::RawSetTableValue(L, 1);
      vl::PushString(L, "str"); vl::PushString(L, "val"); vl::RawSetTableValue(L, 1);
      ASSERT_EQ(CountEntries(1), 6);
      vl::CollectGarbage(L);
      EXPECT_EQ(CountEntries(1), c.expected) << "mode " << c.mode;
      // String keys and values always survive.
      vl::PushString(L, "str");
      vl::RawGetTableValue(L, 1);
      EXPECT_STREQ(vl::ToStringAt(L, -1), "val") << "mode " << c.mode;
      vl::SetStackTop(L, 1);
      // Strong entries are all still readable after the collection.
      vl::PushString(L, "anchored");
      vl::RawGetTableValue(L, vl::kRegistryIndex);
      vl::RawGetTableValue(L, 1);
      EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TTABLE) << "mode " << c.mode;
    }), 0) << c.mode;
  }
}

TEST_F(GcTest, WeakArrayPartDropsUnreachableValuesOnly) {
  ASSERT_EQ(Protect([&] {
    vl::PushNewSizedTable(L, 4, 0);
    MakeWeak("v");
    vl::PushNewTable(L); vl::RawSetTableIndex(L, 1, 1);
    vl::PushString(L, "keep"); vl::RawSetTableIndex(L, 1, 2);
    vl::PushNumber(L, 7); vl::RawSetTableIndex(L, 1, 3);
    vl::PushNewUserdata(L, 4); vl::RawSetTableIndex(L, 1, 4);
    vl::CollectGarbage(L);
    vl::RawGetTableIndex(L, 1, 1);
    vl::RawGetTableIndex(L, 1, 2);
    vl::RawGetTableIndex(L, 1, 3);
    vl::RawGetTableIndex(L, 1, 4);
    EXPECT_EQ(vl::GetTypeAt(L, -4), VL_TNIL);
    EXPECT_STREQ(vl::ToStringAt(L, -3), "keep");
    EXPECT_EQ(vl::ToNumberAt(L, -2), 7);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
  }), 0);
}

int gFinalized = 0;
void* gLastFinalized = nullptr;
bool gResurrect = false;

int CountingFinalizer(vlVMState* L) {
  gFinalized++;
  gLastFinalized = vl::ToUserdataAt(L, 1);
  if (gResurrect) {
    vl::PushString(L, "saved");
    vl::PushSlotCopy(L, 1);
    vl::RawSetTableValue(L, vl::kRegistryIndex);
  }
  return 0;
}

int RaisingFinalizer(vlVMState* L) {
  gFinalized++;
  vl::RaiseVmError(L, 1234);
}

// Pushes a userdata of size bytes whose metatable has __gc = fn.
void* PushFinalizable(vlVMState* L, size_t size, vlNativeFn fn) {
  void* p = vl::PushNewUserdata(L, size);
  vl::PushNewTable(L);
  vl::PushString(L, "__gc");
  vl::PushNativeClosure(L, fn, 0);
  vl::RawSetTableValue(L, -3);
  vl::SetMetatableAt(L, -2);
  return p;
}

TEST_F(GcTest, FinaliserRunsOnceAndTheNextCollectionFrees) {
  gFinalized = 0;
  gResurrect = false;
  ASSERT_EQ(Protect([&] {
    void* p = PushFinalizable(L, 100, CountingFinalizer);
    vl::SetStackTop(L, 0);
    int before = CountUserdata();
    vl::CollectGarbage(L);
    EXPECT_EQ(gFinalized, 1);
    EXPECT_EQ(gLastFinalized, p);
    EXPECT_EQ(CountUserdata(), before);  // still there until the next pass
    vl::CollectGarbage(L);
    EXPECT_EQ(gFinalized, 1);
    EXPECT_EQ(CountUserdata(), before - 1);
  }), 0);
}

TEST_F(GcTest, FinaliserThatStoresItsUserdataKeepsItAndIsNotCalledAgain) {
  gFinalized = 0;
  gResurrect = true;
  ASSERT_EQ(Protect([&] {
    void* p = PushFinalizable(L, 64, CountingFinalizer);
    vl::SetStackTop(L, 0);
    int before = CountUserdata();
    vl::CollectGarbage(L);
    vl::CollectGarbage(L);
    EXPECT_EQ(gFinalized, 1);
    EXPECT_EQ(CountUserdata(), before);
    vl::PushString(L, "saved");
    vl::RawGetTableValue(L, vl::kRegistryIndex);
    EXPECT_EQ(vl::ToUserdataAt(L, -1), p);
    // Dropped again: freed without a second finaliser call.
    gResurrect = false;
    vl::SetStackTop(L, 0);
    vl::PushString(L, "saved");
    vl::PushNil(L);
    vl::RawSetTableValue(L, vl::kRegistryIndex);
    vl::CollectGarbage(L);
    EXPECT_EQ(gFinalized, 1);
    EXPECT_EQ(CountUserdata(), before - 1);
  }), 0);
  gResurrect = false;
}

TEST(GcClose, EveryPendingFinaliserRunsEvenWhenOneRaises) {
  vlVMState* L = vl::OpenVmState();
  ASSERT_NE(L, nullptr);
  gFinalized = 0;
  gResurrect = false;
  ASSERT_EQ(vl::RunProtectedFn(L, [&] {
    PushFinalizable(L, 10, CountingFinalizer);
    PushFinalizable(L, 10, RaisingFinalizer);
    PushFinalizable(L, 10, CountingFinalizer);
    PushFinalizable(L, 10, RaisingFinalizer);
    PushFinalizable(L, 10, CountingFinalizer);
  }), 0);
  vl::CloseVmState(L);
  EXPECT_EQ(gFinalized, 5);
  EXPECT_EQ(vl::LastCloseResidualBytes(), 0);
}

TEST_F(GcTest, ThresholdIsTwiceTheUseLessTheSeparatedUserdata) {
  if (vl::GetGCStress(L)) GTEST_SKIP() << "stress mode replaces the threshold";
  gFinalized = 0;
  gResurrect = false;
  ASSERT_EQ(Protect([&] {
    PushFinalizable(L, 1000, CountingFinalizer);
    vl::SetStackTop(L, 0);
    vl::CollectGarbage(L);
    ASSERT_EQ(gFinalized, 1);
    EXPECT_EQ(L->g->GCthreshold, 2 * L->g->nblocks - 1016);
    // Nothing separated: exactly twice the use.
    vl::CollectGarbage(L);
    EXPECT_EQ(L->g->GCthreshold, 2 * L->g->nblocks);
  }), 0);
}

// Bytes that the garbage made by MakeGarbage would give back.
void MakeGarbage(vlVMState* L, int tables) {
  for (int i = 0; i < tables; i++) {
    vl::PushNewSizedTable(L, 16, 2);
    vl::SetStackTop(L, -2);
  }
}

TEST_F(GcTest, HighThresholdNeverCollectsAndLowOneCollectsAtOnce) {
  if (vl::GetGCStress(L)) GTEST_SKIP() << "stress mode replaces the threshold";
  ASSERT_EQ(Protect([&] {
    vl::SetGCThresholdKB(L, 4194304);
    EXPECT_EQ(L->g->GCthreshold, UINT64_MAX);
    EXPECT_EQ(vl::GetGCThresholdKB(L), 4194303);  // 4294967295 >> 10
    uint64_t start = L->g->nblocks;
    MakeGarbage(L, 20000);  // several megabytes, far past any 2x threshold
    uint64_t grown = L->g->nblocks;
    EXPECT_GT(grown, start + 20000 * 200);
    // Just below "never" is an ordinary threshold in kilobytes.
    vl::SetGCThresholdKB(L, 4194303);
    EXPECT_EQ(L->g->GCthreshold, uint64_t{4194303} << 10);
    EXPECT_EQ(vl::GetGCThresholdKB(L), 4194303);
    EXPECT_EQ(L->g->nblocks, grown);
    // Below the use: collects at once and the threshold follows the use.
    vl::SetGCThresholdKB(L, 1);
    EXPECT_LT(L->g->nblocks, start + 4096);
    EXPECT_EQ(L->g->GCthreshold, 2 * L->g->nblocks);
    EXPECT_EQ(vl::GetGCCountKB(L), static_cast<int>(L->g->nblocks >> 10));
  }), 0);
}

TEST_F(GcTest, CheckPointsCollectOnceTheThresholdIsReached) {
  if (vl::GetGCStress(L)) GTEST_SKIP() << "stress mode replaces the threshold";
  ASSERT_EQ(Protect([&] {
    uint64_t start = L->g->nblocks;
    // Garbage worth many thresholds; the pushes' check points keep the use
    // bounded by about twice the live data.
    MakeGarbage(L, 50000);
    EXPECT_LT(L->g->nblocks, 4 * start + 4096);
  }), 0);
}

TEST_F(GcTest, StackCallRecordsAndStringTableShrinkBack) {
  ASSERT_EQ(Protect([&] {
    vl::CollectGarbage(L);
    uint64_t base = L->g->nblocks;
    // What a 4000-deep recursion leaves: a big stack, many call records,
    // many strings that are now garbage.
    vl::GrowStack(L, 12000);
    vl::ReallocCallInfo(L, 4096);
    EXPECT_GT(L->stacksize, 12000);
    vl::SetGCThresholdKB(L, 4194304);
    for (int i = 0; i < 20000; i++) {
      std::string s = "frame name " + std::to_string(i);
      vl::PushBytes(L, s.data(), s.size());
      vl::SetStackTop(L, -2);
    }
    int strings = L->g->strt.size;
    EXPECT_GT(strings, 4096);
    vl::CollectGarbage(L);
    EXPECT_LE(L->stacksize, 90);
    EXPECT_LE(L->sizeCi, 16);
    EXPECT_EQ(L->g->strt.size, strings / 2) << "the string table halves once per collection";
    while (L->g->strt.size < strings) {  // until it no longer shrinks
      strings = L->g->strt.size;
      vl::CollectGarbage(L);
    }
    EXPECT_LE(L->g->strt.size, 64);
    EXPECT_LT(L->g->nblocks, base + 1024);
    EXPECT_GE(L->g->nblocks, base - 1024);
  }), 0);
}

// The string sweep gathers the links it still has to visit in a bounded
// list and finishes a chain directly when the list is full: hundreds of
// strings in one chain, some kept, must all be handled either way.
TEST_F(GcTest, SweepHandlesOneVeryLongStringChain) {
  ASSERT_EQ(Protect([&] {
    vl::SetGCThresholdKB(L, 4194304);
    vlTable* keep = vl::CreateTable(L, 0, 0);
    vlValue kt;
    vl::SetTable(&kt, keep);
    *vl::TableSet(L, vl::Registry(L), &kt) = kt;
    // Texts whose hash is 0 in its low 10 bits share bucket 0 while the
    // table has at most 1024 buckets.
    std::vector<std::string> texts;
    for (uint32_t i = 0; texts.size() < 700; i++) {
      std::string t = "c";
      t += std::to_string(i);
      if ((vl::HashBytes(t.data(), t.size()) & 1023) == 0) texts.push_back(t);
    }
    int before = L->g->strt.nuse;
    std::vector<vlString*> kept;
    for (size_t i = 0; i < texts.size(); i++) {
      vlString* s = vl::InternString(L, texts[i].data(), texts[i].size());
      if (i % 5 == 0) {
        kept.push_back(s);
        *vl::TableSetInt(L, keep, static_cast<int64_t>(kept.size())) = vlValue{VL_TSTRING, 0, {vl::ToGC(s)}};
      }
    }
    ASSERT_LE(L->g->strt.capacity, 1024);
    vl::CollectGarbage(L);
    EXPECT_EQ(L->g->strt.nuse, before + static_cast<int>(kept.size()));
    int chained = 0;
    for (vlGCObject* o = L->g->strt.hash[0]; o; o = o->next) {
      EXPECT_EQ(o->gcFlags & VL_GC_REACHED, 0);
      chained++;
    }
    EXPECT_GE(chained, static_cast<int>(kept.size()));
    for (size_t i = 0; i < texts.size(); i += 5) {
      EXPECT_EQ(vl::InternString(L, texts[i].data(), texts[i].size()), kept[i / 5]);
    }
  }), 0);
}

// Look-ups of new strings trust each bucket's tag, which the sweep sets
// again from the strings it keeps and a resize from the chains: keys made by
// concatenation, kept by a table through collections that halve the string
// table, must be found again when the same texts are made anew, and every
// string's bit must be set in its bucket's tag.
TEST_F(GcTest, KeptStringsAreFoundAgainAfterTheSweepAndResizesResetTheTags) {
  // A loop over i = 1..3000 around body, with the table in r0, the sum in
  // r4, and "k"..i in r5 at the body's start.
  auto loop = [](const char* before, const char* body, const char* after) {
    return std::string(before) + "\n loadk 4 #0\n loadk 1 #0\n loadk 2 #3000\n loadk 3 #1\n jump test\n" +
           "body: loadk 5 \"k\"\n copy 6 1\n concat 5 5 6\n" + body + "\ntest: forloop 1 body\n" + after + "\n ret\n";
  };
  ASSERT_EQ(vltest::RunScript(L, loop("newtable 0 0 0\n setglobal 0 \"t\"",
                                      "setfield 0 5 1\n loadk 5 \"garbage/\"\n concat 5 5 6", "")),
            0);
  ASSERT_EQ(Protect([&] {
    vl::CollectGarbage(L);
    vl::CollectGarbage(L);
  }), 0);
  ASSERT_EQ(vltest::RunScript(L, loop("getglobal 0 \"t\"", "getfield 7 0 5\n add 4 4 7\n loadk 5 \"fresh/\"\n concat 5 5 6",
                                      "setglobal 4 \"sum\"")),
            0);
  EXPECT_EQ(vltest::GlobalNumber(L, "sum"), 3000.0 * 3001 / 2);
  const vlStringTable& tb = L->g->strt;
  for (int i = 0; i < tb.capacity; i++) {
    for (vlGCObject* o = tb.hash[i]; o; o = o->next) {
      ASSERT_TRUE(tb.tags[i] & vl::StringTagBit(reinterpret_cast<vlString*>(o)->hash)) << "bucket " << i;
    }
  }
}

// A collection whose string table cannot have its smaller block raises
// 1000 and leaves the table as it was: every string in the bucket its hash
// picks with its bit in the bucket's tag, the kept ones found again. The
// next collection shrinks it.
TEST_F(GcTest, FailedStringTableShrinkLeavesTheTableIntact) {
  std::vector<vlString*> kept;
  ASSERT_EQ(Protect([&] {
    vl::SetGCThresholdKB(L, 4194304);
    vlTable* keep = vl::CreateTable(L, 0, 0);
    vlValue kt;
    vl::SetTable(&kt, keep);
    *vl::TableSet(L, vl::Registry(L), &kt) = kt;
    for (int i = 0; i < 5000; i++) {
      std::string t = "shrink/" + std::to_string(i);
      vlString* s = vl::InternString(L, t.data(), t.size());
      if (i % 50 == 0) {
        kept.push_back(s);
        *vl::TableSetInt(L, keep, static_cast<int64_t>(kept.size())) = vlValue{VL_TSTRING, 0, {vl::ToGC(s)}};
      }
    }
    vl::CollectGarbage(L);  // halves the size, keeps the block
  }), 0);
  const vlStringTable& tb = L->g->strt;
  int capacity = tb.capacity;
  ASSERT_GE(capacity, 2 * tb.size) << "the next halving must want a smaller block";
  L->g->allocFailCountdown = 1;
  EXPECT_EQ(Protect([&] { vl::CollectGarbage(L); }), ERR_MEM);
  L->g->allocFailCountdown = 0;
  EXPECT_EQ(tb.capacity, capacity);
  EXPECT_LE(tb.size, tb.capacity);
  int strings = 0;
  for (int i = 0; i < tb.capacity; i++) {
    for (vlGCObject* o = tb.hash[i]; o; o = o->next, strings++) {
      uint32_t h = reinterpret_cast<vlString*>(o)->hash;
      ASSERT_EQ(h & static_cast<uint32_t>(tb.capacity - 1), static_cast<uint32_t>(i));
      ASSERT_TRUE(tb.tags[i] & vl::StringTagBit(h));
    }
  }
  EXPECT_EQ(strings, tb.nuse);
  ASSERT_EQ(Protect([&] {
    for (vlString* s : kept) ASSERT_EQ(vl::InternString(L, vl::StringData(s), s->len), s);
    vl::CollectGarbage(L);
  }), 0);
  EXPECT_LT(tb.capacity, capacity);
}

TEST_F(GcTest, ReachableObjectsSurviveAndUnreachableOnesAreFreed) {
  ASSERT_EQ(Protect([&] {
    vl::CollectGarbage(L);
    uint64_t base = L->g->nblocks;
    // A chain of tables hanging off the registry, with closures and
    // userdata in it; every value must still be readable afterwards.
    vl::PushNewTable(L);
    Anchor("chain");
    vl::PushString(L, "chain");
    vl::RawGetTableValue(L, vl::kRegistryIndex);
    for (int i = 0; i < 200; i++) {
      vl::PushNewTable(L);
      vl::PushNumber(L, i);
      vl::RawSetTableIndex(L, -2, 1);
      vl::PushNumber(L, i);
      vl::PushNativeClosure(L, Dummy, 1);
      vl::RawSetTableIndex(L, -2, 2);
      std::string s = "entry " + std::to_string(i);
      vl::PushBytes(L, s.data(), s.size());
      vl::RawSetTableIndex(L, -2, 3);
      vl::PushSlotCopy(L, -1);
      vl::RawSetTableIndex(L, -3, 0);  // parent[0] = child
      vl::RemoveSlot(L, -2);           // walk down
    }
    vl::SetStackTop(L, 0);
    MakeGarbage(L, 1000);
    vl::CollectGarbage(L);
    vl::CollectGarbage(L);
    vl::PushString(L, "chain");
    vl::RawGetTableValue(L, vl::kRegistryIndex);
    for (int i = 0; i < 200; i++) {
      vl::RawGetTableIndex(L, -1, 0);
      vl::RemoveSlot(L, -2);
      vl::RawGetTableIndex(L, -1, 1);
      ASSERT_EQ(vl::ToNumberAt(L, -1), i);
      vl::RawGetTableIndex(L, -2, 2);
      ASSERT_EQ(vl::GetUpvalueAt(L, -1, 1), std::string());
      ASSERT_EQ(vl::ToNumberAt(L, -1), i);
      vl::RawGetTableIndex(L, -4, 3);
      ASSERT_EQ(vl::ToStringAt(L, -1), "entry " + std::to_string(i));
      vl::SetStackTop(L, -5);
    }
    vl::SetStackTop(L, 0);
    vl::PushString(L, "chain");
    vl::PushNil(L);
    vl::RawSetTableValue(L, vl::kRegistryIndex);
    for (int i = 0; i < 8; i++) vl::CollectGarbage(L);  // the string table halves once each time
    EXPECT_LT(L->g->nblocks, base + 512);
  }), 0);
}

// A script recursion 4000 deep that leaves a new string at every level;
// once it returned, one collection gives the memory back.
TEST_F(GcTest, DeepRecursionShrinksBackAfterACollection) {
  ASSERT_EQ(vltest::RunScript(L, R"(
    .function rec
      .params 1
      eq 0 0 #0
      jump deeper
      return 0 2
    deeper:
      loadk 1 "level "
      copy 2 0
      concat 1 1 2
      getglobal 2 "rec"
      sub 3 0 #1
      call 2 2 2
      add 2 2 #1
      return 2 2
    .end
    .defun rec rec
    ret
  )"), 0);
  vl::CollectGarbage(L);
  uint64_t base = L->g->nblocks;
  int baseStack = L->stacksize, baseCi = L->sizeCi, baseStrings = L->g->strt.size;
  vl::SetGCThresholdKB(L, 4194304);  // nothing shrinks before we look
  ASSERT_EQ(vltest::RunScript(L, ".call rec 4000 -> depth\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "depth"), 4000);
  EXPECT_GT(L->sizeCi, 2048);
  EXPECT_GT(L->stacksize, 8000);
  EXPECT_GT(L->g->strt.size, 2048);
  vl::SetStackTop(L, 0);
  vl::CollectGarbage(L);
  for (int i = 0; i < 16; i++) vl::CollectGarbage(L);  // the string table halves once each time
  EXPECT_LE(L->stacksize, std::max(baseStack, 90));
  EXPECT_LE(L->sizeCi, std::max(baseCi, 16));
  EXPECT_LE(L->g->strt.size, std::max(baseStrings, 64));
  // Near the base: the new global "depth" and smaller bookkeeping only.
  EXPECT_LT(L->g->nblocks, base + 2048);
}

int gScriptFinalized = 0;
int NoteFinalized(vlVMState*) {
  gScriptFinalized++;
  return 0;
}

TEST_F(GcTest, ScriptFinaliserRunsThroughTheCallPath) {
  gScriptFinalized = 0;
  vltest::SetGlobalNative(L, "Note", NoteFinalized);
  ASSERT_EQ(vltest::RunScript(L, R"(
    .function fin
      .params 1
      .call base=1 Note r0
      ret
    .end
    .defun fin fin
    ret
  )"), 0);
  ASSERT_EQ(Protect([&] {
    vl::PushNewUserdata(L, 32);
    vl::PushNewTable(L);
    vl::PushString(L, "__gc");
    vl::PushString(L, "fin");
    vl::GetTableValue(L, vl::kGlobalsIndex);
    vl::RawSetTableValue(L, -3);
    vl::SetMetatableAt(L, -2);
    vl::SetStackTop(L, 0);
    vl::CollectGarbage(L);
  }), 0);
  EXPECT_EQ(gScriptFinalized, 1);
}

TEST_F(GcTest, StressModeIsSwitchableAtRunTime) {
  bool was = vl::GetGCStress(L);
  vl::SetGCStress(L, true);
  EXPECT_EQ(L->g->GCthreshold, 0u);
  ASSERT_EQ(Protect([&] {
    // Every push that allocates collects; the live data stays intact.
    vl::PushNewTable(L);
    for (int i = 0; i < 100; i++) {
      vl::PushNewTable(L);
      vl::RawSetTableIndex(L, 1, i + 1);
    }
    EXPECT_EQ(CountEntries(1), 100);
  }), 0);
  vl::SetGCStress(L, false);
  EXPECT_EQ(L->g->GCthreshold, 2 * L->g->nblocks);
  vl::SetGCStress(L, was);
}

}  // namespace

namespace {

int RecurseFromNative(vlVMState* L) {
  vl::PushString(L, "rec");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushNumber(L, 3000);
  vl::CallFunction(L, 1, 0);
  return 0;
}

// The call records grow while an outer script frame waits in a native
// call, and a collection shrinks them again; an error in that outer frame
// afterwards still finds its line.
TEST_F(GcTest, ErrorLineAfterTheCallRecordsMoved) {
  vltest::SetGlobalNative(L, "Deep", RecurseFromNative);
  vltest::SetGlobalNative(L, "CollectNow", [](vlVMState* S) {
    vl::CollectGarbage(S);
    return 0;
  });
  ASSERT_EQ(vltest::RunScript(L, R"(
    .function rec
      .params 1
      eq 0 0 #0
      jump deeper
      return 0 2
    deeper:
      getglobal 1 "rec"
      sub 2 0 #1
      call 1 2 1
      return 0 1
    .end
    .defun rec rec
    ret
  )"), 0);
  L->g->errorLineDefault = 0;
  EXPECT_EQ(vltest::RunScript(L, R"(
    .line 5
    .call Deep
    .line 6
    .call CollectNow
    .line 7
    newtable 0 0 0
    getfield 1 0 "missing"
    ret
  )"), ERR_FIELDINIT);
  EXPECT_EQ(L->g->errorLineDefault, 7);
}

}  // namespace

// Global look-ups are remembered per function constant; whatever happens to
// the globals table in between (overwrites, removals, re-insertions, nodes
// moved on collisions, resizes, collections, a function given globals of
// its own), a script must read what the table holds.
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/vm/script_util.h"
#include "vm/call.h"
#include "vm/gc.h"
#include "vm/stack_api.h"

namespace {

using vltest::RunScript;
using vltest::VmTest;

constexpr int kKeys = 12;

std::string Numbered(const char* prefix, int i) {
  std::string name = prefix;
  return name += std::to_string(i);
}
std::string KeyName(int i) { return Numbered("k", i); }

// getN returns the global kN, read by GETGLOBAL.
std::string Readers() {
  std::string s;
  for (int i = 0; i < kKeys; i++) {
    std::string n = std::to_string(i);
    s += ".function get" + n + "\n  getglobal 0 \"k" + n + "\"\n  return 0 2\n.end\n.defun get" + n + " get" +
         n + "\n";
  }
  return s + "ret\n";
}

// Calls getN; the number it returned, or nothing for nil.
std::optional<double> CallReader(vlVMState* L, int i) {
  std::string name = "get" + std::to_string(i);
  vl::PushCString(L, name.c_str());
  vl::GetTableValue(L, vl::kGlobalsIndex);
  EXPECT_EQ(vl::CallProtected(L, 0, 1, 0), 0);
  std::optional<double> r;
  if (vl::GetTypeAt(L, -1) == VL_TNUMBER) r = vl::ToNumberAt(L, -1);
  else EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
  vl::SetStackTop(L, -2);
  return r;
}

void SetGlobal(vlVMState* L, const std::string& name, std::optional<double> v) {
  vl::PushCString(L, name.c_str());
  if (v) vl::PushNumber(L, *v);
  else vl::PushNil(L);
  vl::RawSetTableValue(L, vl::kGlobalsIndex);
}

TEST_F(VmTest, RememberedGlobalLookUpsFollowEveryChangeOfTheTable) {
  ASSERT_EQ(RunScript(L, Readers()), 0);
  std::vector<std::optional<double>> model(kKeys);
  std::vector<int> fillers;
  int nextFiller = 0;
  std::mt19937 rng(20261207);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int step = 0; step < 4000; step++) {
    int op = pick(100);
    if (op < 35) {
      int j = pick(kKeys);
      model[j] = static_cast<double>(step);
      SetGlobal(L, KeyName(j), model[j]);
    } else if (op < 55) {
      int j = pick(kKeys);
      model[j].reset();
      SetGlobal(L, KeyName(j), std::nullopt);
    } else if (op < 85) {
      // New keys collide with remembered ones, move them or grow the table.
      fillers.push_back(nextFiller);
      SetGlobal(L, Numbered("f", nextFiller), nextFiller);
      nextFiller++;
    } else if (op < 98) {
      if (!fillers.empty()) {
        int at = pick(static_cast<int>(fillers.size()));
        SetGlobal(L, Numbered("f", fillers[at]), std::nullopt);
        fillers.erase(fillers.begin() + at);
      }
    } else {
      vl::CollectGarbage(L);
    }
    for (int r = 0; r < 4; r++) {
      int j = pick(kKeys);
      ASSERT_EQ(CallReader(L, j), model[j]) << "step " << step << " key " << KeyName(j);
    }
  }
}

TEST_F(VmTest, AFunctionGivenItsOwnGlobalsReadsThem) {
  ASSERT_EQ(RunScript(L, Readers()), 0);
  SetGlobal(L, "k0", 5);
  ASSERT_EQ(CallReader(L, 0), 5.0);  // remembered from the shared globals
  vl::PushCString(L, "get0");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushNewTable(L);
  vl::PushCString(L, "k0");
  vl::PushNumber(L, 99);
  vl::RawSetTableValue(L, -3);
  ASSERT_EQ(vl::SetFunctionGlobals(L, -2), 1);
  vl::SetStackTop(L, -2);
  EXPECT_EQ(CallReader(L, 0), 99.0);
  SetGlobal(L, "k1", 7);
  EXPECT_EQ(CallReader(L, 1), 7.0);  // other functions still read the shared table
}

TEST_F(VmTest, TwoClosuresOfOneFunctionWithDifferentGlobalsReadTheirOwn) {
  // make stores a new closure of read under the name given.
  ASSERT_EQ(RunScript(L, R"(
    .function make
      .params 1
      .function read
        getglobal 0 "k0"
        return 0 2
      .end
      closure 1 read
      setglobal 1 "fresh"
      return 0 1
    .end
    .defun make make
    .call make 0
    .call fresh -> _
    ret
  )"), 0);
  // Two closures of read: "mine" gets globals of its own.
  vl::PushCString(L, "fresh");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushCString(L, "mine");
  vl::PushSlotCopy(L, -2);
  vl::RawSetTableValue(L, vl::kGlobalsIndex);
  vl::SetStackTop(L, -2);
  vl::PushCString(L, "make");  // a second closure of the same function
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushNumber(L, 0);
  ASSERT_EQ(vl::CallProtected(L, 1, 0, 0), 0);
  SetGlobal(L, "k0", 1);
  vl::PushCString(L, "mine");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushNewTable(L);
  vl::PushCString(L, "k0");
  vl::PushNumber(L, 2);
  vl::RawSetTableValue(L, -3);
  ASSERT_EQ(vl::SetFunctionGlobals(L, -2), 1);
  vl::SetStackTop(L, -2);
  auto call = [&](const char* name) {
    vl::PushCString(L, name);
    vl::GetTableValue(L, vl::kGlobalsIndex);
    EXPECT_EQ(vl::CallProtected(L, 0, 1, 0), 0);
    double v = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    return v;
  };
  for (int round = 0; round < 3; round++) {
    EXPECT_EQ(call("fresh"), 1.0);
    EXPECT_EQ(call("mine"), 2.0);
  }
}

TEST_F(VmTest, RecursionReadsARedefinedGlobalFunction) {
  // fib calls itself through the global "fib"; halfway the global is
  // replaced by a function returning 1000, which the next look-up sees.
  ASSERT_EQ(RunScript(L, R"(
    .function one
      .params 1
      loadk 0 #1000
      return 0 2
    .end
    .function fib
      .params 1
      lt 0 0 #2
      jump recurse
      return 0 2
    recurse:
      lt 0 0 #5
      jump body
      getglobal 1 "one"
      setglobal 1 "fib"
    body:
      getglobal 1 "fib"
      sub 2 0 #1
      call 1 2 2
      getglobal 2 "fib"
      sub 3 0 #2
      call 2 2 2
      add 1 1 2
      return 1 2
    .end
    .defun fib fib
    .defun one one
    .call fib 6 -> r
    ret
  )"), 0);
  // fib(4) replaces the global: fib(4) = one(3) + one(2) = 2000, then
  // fib(5) = 2000 + one(3) and fib(6) = 3000 + one(4).
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 4000.0);
}

}  // namespace

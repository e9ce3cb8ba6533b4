// The event-pump hook list: the three kinds, disabled entries, removal
// (present, absent, self-removal during a run) and frame-call entries.
#include "runtime/hooks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Recorder {
  std::string log;
  int result = 0;
  int pollsBeforeResult = 0;
  vlHook* removeDuringRun = nullptr;
};

int Poll(void* ud) {
  auto* r = static_cast<Recorder*>(ud);
  r->log += "p";
  if (r->pollsBeforeResult > 0) {
    --r->pollsBeforeResult;
    return 0;
  }
  return r->result;
}

int Pump(vlVMState* state, void* ud) {
  auto* r = static_cast<Recorder*>(ud);
  r->log += state ? "S" : "s";
  if (r->removeDuringRun) RemoveHook(r->removeDuringRun);
  return r->result;
}

int WithArg(void* arg, void* ud) {
  auto* r = static_cast<Recorder*>(ud);
  r->log += *static_cast<const char*>(arg);
  return 1234;  // ignored
}

class Hooks : public ::testing::Test {
 protected:
  void TearDown() override { FreeHookList(); }
};

TEST_F(Hooks, KindOneStopsAtTheFirstError) {
  Recorder a, b, c;
  b.result = 1055;
  auto* state = reinterpret_cast<vlVMState*>(&a);
  AddHook(1, reinterpret_cast<void*>(&Pump), &a, 0);
  AddHook(1, reinterpret_cast<void*>(&Pump), &b, 0);
  AddHook(1, reinterpret_cast<void*>(&Pump), &c, 0);
  EXPECT_EQ(RunHookList(state, 1, nullptr), 1055);
  EXPECT_EQ(a.log + b.log + c.log, "SS");
  b.result = 0;
  EXPECT_EQ(RunHookList(state, 1, nullptr), 0);
  EXPECT_EQ(c.log, "S");
}

TEST_F(Hooks, KindTwoPassesTheArgumentAndIgnoresResults) {
  Recorder a, b, other;
  AddHook(2, reinterpret_cast<void*>(&WithArg), &a, 0);
  AddHook(1, reinterpret_cast<void*>(&Pump), &other, 0);
  AddHook(2, reinterpret_cast<void*>(&WithArg), &b, 0);
  char arg = 'x';
  EXPECT_EQ(RunHookList(nullptr, 2, &arg), 0);
  EXPECT_EQ(a.log, "x");
  EXPECT_EQ(b.log, "x");
  EXPECT_EQ(other.log, "");
}

TEST_F(Hooks, KindZeroPollsUntilAResult) {
  Recorder a, b;
  // Only the three kinds are taken.
  EXPECT_EQ(AddHook(3, reinterpret_cast<void*>(&Poll), &a, 0), nullptr);
  a.pollsBeforeResult = 3;
  a.result = -1;  // ends the whole run with 0
  AddHook(0, reinterpret_cast<void*>(&Poll), &a, 0);
  AddHook(0, reinterpret_cast<void*>(&Poll), &b, 0);
  EXPECT_EQ(RunHookList(nullptr, 0, nullptr), 0);
  EXPECT_EQ(a.log, "pppp");
  EXPECT_EQ(b.log, "");
  a.log.clear();
  a.result = 1009;
  EXPECT_EQ(RunHookList(nullptr, 0, nullptr), 1009);
  EXPECT_EQ(a.log, "p");
}

TEST_F(Hooks, DisabledAndFrameCallEntriesAreSkipped) {
  Recorder a, b, c;
  vlHook* ha = AddHook(1, reinterpret_cast<void*>(&Pump), &a, 0);
  AddHook(0, reinterpret_cast<void*>(&Poll), &b, 1);  // would never return
  AddHook(1, reinterpret_cast<void*>(&Pump), &c, 7);
  SetHookDisabled(ha, 1);
  EXPECT_EQ(RunHookList(nullptr, 1, nullptr), 0);
  EXPECT_EQ(RunHookList(nullptr, 0, nullptr), 0);
  EXPECT_EQ(a.log + b.log + c.log, "");
  SetHookDisabled(ha, 0);
  RunHookList(nullptr, 1, nullptr);
  EXPECT_EQ(a.log, "s");
}

TEST_F(Hooks, AddRefusesBadKindsAndRemoveHandlesAbsentEntries) {
  Recorder a;
  EXPECT_EQ(AddHook(3, reinterpret_cast<void*>(&Pump), &a, 0), nullptr);
  EXPECT_EQ(AddHook(1, nullptr, &a, 0), nullptr);
  EXPECT_EQ(FirstHook(), nullptr);

  vlHook* only = AddHook(1, reinterpret_cast<void*>(&Pump), &a, 0);
  ASSERT_NE(only, nullptr);
  vlHook stranger{};
  RemoveHook(&stranger);  // not in the list: nothing happens
  RemoveHook(nullptr);
  EXPECT_EQ(FirstHook(), only);
  RemoveHook(only);
  EXPECT_EQ(FirstHook(), nullptr);
  EXPECT_EQ(RunHookList(nullptr, 1, nullptr), 0);
  EXPECT_EQ(a.log, "");
}

TEST_F(Hooks, RemoveFromMiddleAndTailKeepsOrder) {
  Recorder r[4];
  vlHook* h[4];
  for (int i = 0; i < 4; ++i) h[i] = AddHook(2, reinterpret_cast<void*>(&WithArg), &r[i], 0);
  RemoveHook(h[1]);
  RemoveHook(h[3]);
  char arg = '*';
  RunHookList(nullptr, 2, &arg);
  EXPECT_EQ(r[0].log + "|" + r[1].log + "|" + r[2].log + "|" + r[3].log, "*||*|");
  EXPECT_EQ(FirstHook(), h[0]);
  EXPECT_EQ(h[0]->next, h[2]);
  EXPECT_EQ(h[2]->next, nullptr);
}

TEST_F(Hooks, AHookMayRemoveItselfWhileRunning) {
  Recorder a, b;
  vlHook* ha = AddHook(1, reinterpret_cast<void*>(&Pump), &a, 0);
  AddHook(1, reinterpret_cast<void*>(&Pump), &b, 0);
  a.removeDuringRun = ha;
  EXPECT_EQ(RunHookList(nullptr, 1, nullptr), 0);
  EXPECT_EQ(a.log + b.log, "ss");
  a.removeDuringRun = nullptr;
  RunHookList(nullptr, 1, nullptr);
  EXPECT_EQ(a.log + b.log, "sss");
}

}  // namespace

// References: numbering from 3, reuse, nil, releases that must not touch
// the table, and a long random run checked against a model.
#include <map>
#include <random>
#include <set>

#include "tests/vm/vm_test_util.h"
#include "vm/auxlib.h"
#include "vm/gc.h"
#include "vm/stack_api.h"

namespace {

class References : public vltest::VmTest {
 protected:
  // Table at index 1.
  void SetUp() override {
    VmTest::SetUp();
    vl::PushNewTable(L);
  }
  int Ref(double value) {
    vl::PushNumber(L, value);
    return vl::CreateRef(L, 1);
  }
  double Get(int ref) {
    vl::RawGetTableIndex(L, 1, ref);
    double d = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    return d;
  }
  double FreeHead() { return Get(1); }
};

TEST_F(References, NumberingReuseAndNil) {
  ASSERT_EQ(Protect([&] {
    EXPECT_EQ(Ref(10), 3);
    EXPECT_EQ(vl::GetArraySize(L, 1), 3);
    vl::PushString(L, "n");
    vl::RawGetTableValue(L, 1);
    EXPECT_EQ(vl::ToNumberAt(L, -1), 3);  // the highest reference lives in "n"
    vl::SetStackTop(L, -2);
    EXPECT_EQ(Ref(11), 4);
    vl::ReleaseRef(L, 1, 3);
    EXPECT_EQ(Ref(12), 3);
    EXPECT_EQ(Get(3), 12);
    EXPECT_EQ(Get(4), 11);
    vl::PushNil(L);
    EXPECT_EQ(vl::CreateRef(L, 1), -1);
    EXPECT_EQ(vl::GetStackTop(L), 1);  // the nil was popped
    EXPECT_EQ(Ref(13), 5);
    // A relative table index works too.
    vl::PushNumber(L, 14);
    EXPECT_EQ(vl::CreateRef(L, -2), 6);
  }), 0);
}

TEST_F(References, BadReleasesLeaveTheTableIntact) {
  ASSERT_EQ(Protect([&] {
    Ref(100);  // 3
    Ref(101);  // 4
    vl::ReleaseRef(L, 1, 4);
    for (int bad : {-1, 0, 1, 2, 5, 99, 1 << 30}) vl::ReleaseRef(L, 1, bad);
    vl::ReleaseRef(L, 1, 4);  // twice
    EXPECT_EQ(FreeHead(), 4);
    EXPECT_EQ(Get(3), 100);
    // Nothing was written outside the handed-out range, and 4 ends the list.
    for (int slot : {2, 4, 5, 99}) {
      vl::RawGetTableIndex(L, 1, slot);
      EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL) << slot;
      vl::SetStackTop(L, -2);
    }
    EXPECT_EQ(vl::GetArraySize(L, 1), 4);
    // Only 4 is free: the next two references are 4 and then a new one.
    EXPECT_EQ(Ref(102), 4);
    EXPECT_EQ(Ref(103), 5);
    EXPECT_EQ(Get(3), 100);
  }), 0);
}

TEST_F(References, RandomRunNeverHandsOutALiveReference) {
  std::mt19937 rng(77);
  std::map<int, double> live;
  ASSERT_EQ(Protect([&] {
    for (int step = 0; step < 10000; ++step) {
      unsigned pick = rng() % 10;
      if (pick < 5 || live.empty()) {
        double value = step;
        int r = Ref(value);
        ASSERT_GE(r, 3);
        ASSERT_EQ(live.count(r), 0u) << "reference " << r << " handed out twice at step " << step;
        live[r] = value;
      } else if (pick < 9) {
        auto it = live.begin();
        std::advance(it, rng() % live.size());
        vl::ReleaseRef(L, 1, it->first);
        if (rng() % 4 == 0) vl::ReleaseRef(L, 1, it->first);  // a stray second release
        live.erase(it);
      } else {
        vl::ReleaseRef(L, 1, static_cast<int>(rng() % 3));  // bookkeeping slots
      }
      if (step % 1000 == 0) vl::CollectGarbage(L);
    }
    for (auto& [r, value] : live) ASSERT_EQ(Get(r), value) << r;
  }), 0);
}

TEST_F(References, SizeKeptAsideWhenNHoldsSomethingElse) {
  ASSERT_EQ(Protect([&] {
    vl::PushString(L, "n");
    vl::PushString(L, "not a number");
    vl::RawSetTableValue(L, 1);
    EXPECT_EQ(Ref(1), 3);
    EXPECT_EQ(Ref(2), 4);
    vl::PushString(L, "n");
    vl::RawGetTableValue(L, 1);
    EXPECT_STREQ(vl::ToStringAt(L, -1), "not a number");
    vl::SetStackTop(L, -2);
    EXPECT_EQ(vl::GetArraySize(L, 1), 4);
    // Without "n" or a kept size, the run of values from 1 counts.
    vl::PushNewTable(L);
    for (int i = 1; i <= 5; ++i) {
      vl::PushNumber(L, i);
      vl::RawSetTableIndex(L, -2, i);
    }
    vl::PushString(L, "n");
    vl::PushBoolean(L, 1);
    vl::RawSetTableValue(L, -3);
    EXPECT_EQ(vl::GetArraySize(L, -1), 5);
  }), 0);
}

}  // namespace

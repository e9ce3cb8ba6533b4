// Tables checked against a std::unordered_map model over random operations,
// plus the layout rules of the array and hash parts and their error codes.
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <unordered_map>
#include <vector>

#include "tests/vm/vm_test_util.h"
#include "vm/error_codes.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

using vltest::VmTest;

vlValue Num(double d) {
  vlValue v;
  vl::SetNumber(&v, d);
  return v;
}

// A key as the model sees it: tag plus identity bits (numbers by value,
// with -0 folded into 0).
struct ModelKey {
  int tag;
  uint64_t bits;
  bool operator==(const ModelKey& o) const { return tag == o.tag && bits == o.bits; }
  bool operator<(const ModelKey& o) const { return tag != o.tag ? tag < o.tag : bits < o.bits; }
};
struct ModelKeyHash {
  size_t operator()(const ModelKey& k) const { return std::hash<uint64_t>()(k.bits * 31 + static_cast<uint64_t>(k.tag)); }
};

ModelKey ToModel(const vlValue& v) {
  switch (v.tag) {
    case VL_TNIL: return {VL_TNUMBER, 0};
    case VL_TNUMBER: {
      double d = v.v.n == 0 ? 0.0 : v.v.n;
      uint64_t b;
      std::memcpy(&b, &d, sizeof b);
      return {VL_TNUMBER, b};
    }
    case VL_TBOOLEAN: return {VL_TBOOLEAN, static_cast<uint64_t>(v.v.b)};
    default: return {v.tag, reinterpret_cast<uintptr_t>(v.v.p)};
  }
}

TEST_F(VmTest, TableAgreesWithModelOverRandomOperations) {
  std::mt19937_64 rng(12345);
  int status = Protect([&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    // Key pool covering every kind of key the table hashes differently.
    std::vector<vlValue> pool;
    for (int i = -20; i <= 300; i++) pool.push_back(Num(i));
    for (double d : {0.5, -0.25, 1e-9, 3.75, 16777215.0, 16777216.0, 16777217.0, 1e10, -1e300, -0.0})
      pool.push_back(Num(d));
    vlValue b;
    vl::SetBoolean(&b, 1);
    pool.push_back(b);
    vl::SetBoolean(&b, 0);
    pool.push_back(b);
    static char cells[16];
    for (auto& c : cells) {
      vlValue p;
      vl::SetLightUserdata(&p, &c);
      pool.push_back(p);
    }
    for (int i = 0; i < 200; i++) {
      std::string s = "key" + std::to_string(i);
      vlValue sv;
      vl::SetString(&sv, vl::InternString(L, s.data(), s.size()));
      pool.push_back(sv);
    }
    for (int i = 0; i < 20; i++) {
      vlValue tv;
      vl::SetTable(&tv, vl::CreateTable(L, 0, 0));
      pool.push_back(tv);
    }
    vlValue nilKey;
    vl::SetNil(&nilKey);
    pool.push_back(nilKey);

    std::unordered_map<ModelKey, double, ModelKeyHash> model;
    for (int op = 0; op < 200000; op++) {
      const vlValue& key = pool[rng() % pool.size()];
      ModelKey mk = ToModel(key);
      unsigned r = rng() % 100;
      if (r < 45) {
        double val = static_cast<double>(rng() % 1000000);
        vl::SetNumber(vl::TableSet(L, t, &key), val);
        model[mk] = val;
      } else if (r < 65) {
        if (model.count(mk)) {
          vl::SetNil(vl::TableSet(L, t, &key));
          model.erase(mk);
        }
      } else if (r < 99) {
        const vlValue* got = vl::TableGet(t, &key);
        auto it = model.find(mk);
        if (it == model.end()) {
          ASSERT_EQ(got->tag, VL_TNIL) << "op " << op;
        } else {
          ASSERT_EQ(got->tag, VL_TNUMBER) << "op " << op;
          ASSERT_EQ(got->v.n, it->second) << "op " << op;
        }
      } else {
        // Full walk, deleting about a third of the keys as we pass them.
        std::set<ModelKey> seen;
        vlValue slot[2];
        vl::SetNil(&slot[0]);
        while (vl::TableNext(L, t, slot)) {
          ModelKey k = ToModel(slot[0]);
          ASSERT_TRUE(seen.insert(k).second) << "key visited twice at op " << op;
          ASSERT_EQ(slot[1].tag, VL_TNUMBER);
          auto it = model.find(k);
          ASSERT_NE(it, model.end()) << "walk found a key the model lacks, op " << op;
          ASSERT_EQ(slot[1].v.n, it->second);
          if (rng() % 3 == 0) {
            vl::SetNil(vl::TableSet(L, t, &slot[0]));
            model.erase(it);
            seen.erase(k);  // no longer expected in the model
          }
        }
        std::set<ModelKey> expected;
        for (auto& kv : model) expected.insert(kv.first);
        ASSERT_EQ(seen, expected) << "op " << op;
      }
    }
  });
  EXPECT_EQ(status, 0);
}

TEST_F(VmTest, NilKeyIsZero) {
  ASSERT_EQ(Protect([&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    vlValue nil;
    vl::SetNil(&nil);
    vl::SetNumber(vl::TableSet(L, t, &nil), 42);
    EXPECT_EQ(vl::TableGetInt(t, 0)->v.n, 42);
    vlValue zero = Num(0);
    EXPECT_EQ(vl::TableGet(t, &zero)->v.n, 42);
    vlValue negzero = Num(-0.0);
    EXPECT_EQ(vl::TableGet(t, &negzero)->v.n, 42);
  }), 0);
}

TEST_F(VmTest, NaNKeyRaises1208AndAbsentNextKey1206) {
  vlTable* t = nullptr;
  ASSERT_EQ(Protect([&] { t = vl::CreateTable(L, 0, 0); }), 0);
  vlValue nan = Num(std::nan(""));
  EXPECT_EQ(Protect([&] { vl::TableSet(L, t, &nan); }), ERR_TABLEINDEX);
  // Reading a NaN key is allowed and finds nothing.
  EXPECT_EQ(vl::TableGet(t, &nan)->tag, VL_TNIL);
  vlValue slot[2] = {Num(5), Num(0)};
  EXPECT_EQ(Protect([&] { vl::TableNext(L, t, slot); }), ERR_INVNEXTKEY);
  ASSERT_EQ(Protect([&] { vl::SetNumber(vl::TableSetInt(L, t, 1000), 1); }), 0);
  vlValue absent[2] = {Num(999), Num(0)};
  EXPECT_EQ(Protect([&] { vl::TableNext(L, t, absent); }), ERR_INVNEXTKEY);
  vlValue present[2] = {Num(1000), Num(0)};
  int more = -1;
  EXPECT_EQ(Protect([&] { more = vl::TableNext(L, t, present); }), 0);
  EXPECT_EQ(more, 0);
}

TEST_F(VmTest, KeysOneToEightFillAnArrayOfEight) {
  ASSERT_EQ(Protect([&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    for (int i = 1; i <= 8; i++) {
      vlValue k = Num(i);
      vl::SetNumber(vl::TableSet(L, t, &k), i * 10);
    }
    EXPECT_EQ(t->sizearray, 8);
    EXPECT_TRUE(vl::TableUsesSharedNode(L, t));
    for (int i = 1; i <= 8; i++) EXPECT_EQ(vl::TableGetInt(t, i)->v.n, i * 10);
  }), 0);
}

TEST_F(VmTest, SparseKeyStaysInHashPart) {
  ASSERT_EQ(Protect([&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    for (int i : {1, 2, 1000}) vl::SetNumber(vl::TableSetInt(L, t, i), i);
    EXPECT_EQ(t->sizearray, 2);
    bool inHash = false;
    for (int i = 0; i < vl::TableNodeCount(t); i++) {
      if (t->node[i].key.tag == VL_TNUMBER && t->node[i].key.v.n == 1000) inHash = true;
    }
    EXPECT_TRUE(inHash);
    EXPECT_EQ(vl::TableGetInt(t, 1000)->v.n, 1000);
  }), 0);
}

TEST_F(VmTest, IterationVisitsArrayInOrderThenHash) {
  ASSERT_EQ(Protect([&] {
    vlTable* t = vl::CreateTable(L, 4, 2);
    for (int i = 1; i <= 4; i++) vl::SetNumber(vl::TableSetInt(L, t, i), i);
    vlValue k;
    vl::SetString(&k, vl::InternCString(L, "x"));
    vl::SetNumber(vl::TableSet(L, t, &k), 99);
    std::vector<double> order;
    vlValue slot[2];
    vl::SetNil(&slot[0]);
    while (vl::TableNext(L, t, slot)) {
      if (slot[0].tag == VL_TNUMBER) order.push_back(slot[0].v.n);
      else order.push_back(-1);
    }
    EXPECT_EQ(order, (std::vector<double>{1, 2, 3, 4, -1}));
  }), 0);
}

TEST_F(VmTest, OversizedTablesRaise1207) {
  EXPECT_EQ(Protect([&] { vl::CreateTable(L, (int64_t(1) << 24) + 1, 0); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::CreateTable(L, 0, 25); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::CreateTable(L, -1, 0); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::CreateTable(L, 0, int64_t(1) << 40); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protect([&] { vl::CreateTable(L, 16, 3); }), 0);
}

TEST_F(VmTest, AbsentMetamethodFlagsCacheAndReset) {
  ASSERT_EQ(Protect([&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    vlTable* mt = vl::CreateTable(L, 0, 0);
    t->metatable = mt;
    vlValue tv;
    vl::SetTable(&tv, t);
    EXPECT_EQ(mt->absentFlags, 0xFF);
    EXPECT_EQ(vl::GetMetamethod(L, &tv, VL_TM_INDEX)->tag, VL_TNIL);
    EXPECT_TRUE(mt->absentFlags & 1);
    // An integer-key set leaves the cache; a general set clears it.
    vl::SetNumber(vl::TableSetInt(L, mt, 1), 1);
    EXPECT_EQ(mt->absentFlags, 0xFF);
    vlValue name;
    vl::SetString(&name, vl::InternCString(L, "__index"));
    vl::SetTable(vl::TableSet(L, mt, &name), vl::CreateTable(L, 0, 0));
    EXPECT_EQ(mt->absentFlags, 0);
    EXPECT_EQ(vl::GetMetamethod(L, &tv, VL_TM_INDEX)->tag, VL_TTABLE);
    // Values without a metatable of their own have none.
    vlValue plain;
    vl::SetTable(&plain, vl::CreateTable(L, 0, 0));
    EXPECT_EQ(vl::GetMetatable(L, &plain), nullptr);
    vlValue num = Num(1);
    EXPECT_EQ(vl::GetMetamethod(L, &num, VL_TM_ADD)->tag, VL_TNIL);
  }), 0);
}

TEST_F(VmTest, EmptyTablesNeverWriteTheSharedNode) {
  ASSERT_EQ(Protect([&] {
    vlTable* a = vl::CreateTable(L, 0, 0);
    vlTable* b = vl::CreateTable(L, 0, 0);
    vlValue k;
    vl::SetString(&k, vl::InternCString(L, "only"));
    vl::SetNumber(vl::TableSet(L, a, &k), 1);
    EXPECT_FALSE(vl::TableUsesSharedNode(L, a));
    EXPECT_TRUE(vl::TableUsesSharedNode(L, b));
    EXPECT_EQ(vl::TableGet(b, &k)->tag, VL_TNIL);
    EXPECT_EQ(L->g->dummynode.key.tag, VL_TNIL);
  }), 0);
}

TEST_F(VmTest, AllocationFailureDuringGrowthLeavesTableUsable) {
  vlTable* t = nullptr;
  ASSERT_EQ(Protect([&] {
    t = vl::CreateTable(L, 0, 0);
    for (int i = 0; i < 3; i++) vl::SetNumber(vl::TableSetInt(L, t, i + 100), i);
  }), 0);
  L->g->allocFailCountdown = 1;
  EXPECT_EQ(Protect([&] {
    for (int i = 3; i < 100; i++) vl::SetNumber(vl::TableSetInt(L, t, i + 100), i);
  }), ERR_MEM);
  L->g->allocFailCountdown = 0;
  // Everything stored before the failure is intact; no key reads as false.
  int count = 0;
  ASSERT_EQ(Protect([&] {
    vlValue slot[2];
    vl::SetNil(&slot[0]);
    while (vl::TableNext(L, t, slot)) {
      EXPECT_EQ(slot[1].tag, VL_TNUMBER);
      count++;
    }
  }), 0);
  EXPECT_GE(count, 3);
  for (int i = 0; i < 3; i++) EXPECT_EQ(vl::TableGetInt(t, i + 100)->v.n, i);
}

}  // namespace

namespace {

// The node-count modulo used for number keys agrees with a real division
// for every node count and across the whole 32-bit range.
TEST(TableHash, NodeModuloMatchesDivision) {
  std::mt19937 rng(7);
  for (int lsize = 0; lsize <= vl::kMaxTableBits; lsize++) {
    uint32_t d = ((1u << lsize) - 1) | 1;
    for (uint32_t n : {0u, 1u, d - 1, d, d + 1, 2 * d, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu})
      ASSERT_EQ(vl::NodeModulo(n, lsize), n % d) << n << " mod " << d;
    for (int i = 0; i < 20000; i++) {
      uint32_t n = static_cast<uint32_t>(rng());
      ASSERT_EQ(vl::NodeModulo(n, lsize), n % d) << n << " mod " << d;
    }
  }
}

}  // namespace

// A number key sits at its main position: the two halves of key + 1 added,
// modulo (node count - 1) OR 1; colliding keys chain from there.
TEST_F(VmTest, NumberKeysLandAtTheirMainPosition) {
  ASSERT_EQ(Protect([&] {
    vlTable* t = vl::CreateTable(L, 0, 5);  // 32 nodes: modulo 31
    for (double key : {0.5, -3.0, 1e9, 12345.25}) {
      vlValue k = Num(key);
      vl::SetNumber(vl::TableSet(L, t, &k), 1);
      double x = key + 1.0;
      uint32_t w[2];
      std::memcpy(w, &x, sizeof x);
      const vlTableNode* mp = &t->node[(w[0] + w[1]) % 31u];
      EXPECT_TRUE(mp->key.tag == VL_TNUMBER && mp->key.v.n == key) << key;
    }
  }), 0);
}

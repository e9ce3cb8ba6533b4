// Interning, the string table's growth, number parsing and formatting against
// the checked-in table made by gen_number_cases.py, coercions and truth.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/vm/vm_test_util.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/memory.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

using vltest::VmTest;

TEST_F(VmTest, EqualBytesInternToOneObject) {
  ASSERT_EQ(Protect([&] {
    const char a[] = {'a', '\0', 'b'};
    std::string b(a, 3);
    vlString* s1 = vl::InternString(L, a, 3);
    vlString* s2 = vl::InternString(L, b.data(), b.size());
    EXPECT_EQ(s1, s2);
    EXPECT_EQ(s1->len, 3u);
    EXPECT_EQ(vl::StringData(s1)[3], '\0');
    EXPECT_NE(vl::InternString(L, "a", 1), s1);  // a prefix up to the NUL differs
    EXPECT_NE(vl::InternCString(L, "Hello"), vl::InternCString(L, "hello"));
    // Long strings hash a sample of their bytes; a difference outside the
    // sample must still give distinct objects.
    std::string long1(5000, 'x'), long2(5000, 'x');
    long2[1] = 'y';
    vlString* l1 = vl::InternString(L, long1.data(), long1.size());
    vlString* l2 = vl::InternString(L, long2.data(), long2.size());
    EXPECT_NE(l1, l2);
    EXPECT_EQ(l1, vl::InternString(L, std::string(5000, 'x').data(), 5000));
    EXPECT_EQ(vl::InternString(L, "", 0), vl::InternString(L, "", 0));
  }), 0);
}

TEST_F(VmTest, StringTableGrowsWith100000Strings) {
  std::vector<vlString*> made;
  ASSERT_EQ(Protect([&] {
    int before = L->g->strt.nuse;
    for (int i = 0; i < 100000; i++) {
      std::string s = std::to_string(i * 7919) + "s";
      made.push_back(vl::InternString(L, s.data(), s.size()));
    }
    EXPECT_EQ(L->g->strt.nuse, before + 100000);
    EXPECT_GE(L->g->strt.size, L->g->strt.nuse);
    EXPECT_EQ(L->g->strt.size & (L->g->strt.size - 1), 0);
    for (int i = 0; i < 100000; i++) {
      std::string s = std::to_string(i * 7919) + "s";
      ASSERT_EQ(vl::InternString(L, s.data(), s.size()), made[i]);
    }
  }), 0);
}

// The table doubles and halves around collections (its block kept or not,
// its chains split and joined in place): every string that stays reachable
// must still intern to the same object, and the dead ones must be gone.
TEST_F(VmTest, StringsStayUniqueWhileTheTableDoublesAndHalves) {
  ASSERT_EQ(Protect([&] {
    vlTable* keep = vl::CreateTable(L, 0, 0);
    vlValue kt;
    vl::SetTable(&kt, keep);
    *vl::TableSet(L, vl::Registry(L), &kt) = kt;  // reachable through the registry
    std::vector<vlString*> kept;
    for (int round = 0; round < 12; round++) {
      // A burst of garbage, a few survivors, then collections that halve
      // the table step by step.
      int burst = round % 3 == 0 ? 6000 : 1500;
      for (int i = 0; i < burst; i++) {
        std::string s = "r";
        s += std::to_string(round) + "/" + std::to_string(i);
        vlString* str = vl::InternString(L, s.data(), s.size());
        if (i % 97 == 0) {
          kept.push_back(str);
          *vl::TableSetInt(L, keep, static_cast<int64_t>(kept.size())) = vlValue{VL_TSTRING, 0, {vl::ToGC(str)}};
        }
      }
      vl::CollectGarbage(L);
      if (round % 2) vl::CollectGarbage(L);
      ASSERT_EQ(L->g->strt.size & (L->g->strt.size - 1), 0);
      ASSERT_LE(L->g->strt.size, L->g->strt.capacity);
    }
    int live = 0;
    for (int i = 0; i < L->g->strt.capacity; i++) {
      for (vlGCObject* o = L->g->strt.hash[i]; o; o = o->next) {
        auto* s = reinterpret_cast<vlString*>(o);
        ASSERT_EQ(s->hash & static_cast<uint32_t>(L->g->strt.capacity - 1), static_cast<uint32_t>(i))
            << "a string outside its bucket";
        live++;
      }
    }
    EXPECT_EQ(live, L->g->strt.nuse);
    for (vlString* s : kept) {
      ASSERT_EQ(vl::InternString(L, vl::StringData(s), s->len), s);
    }
  }), 0);
}

// Every byte of a string counts, at every length around the boundaries of
// the short and long ways of hashing, comparing and copying, NULs included;
// the strings kept reachable stay the ones their bytes intern to across
// collections that halve the table and the growth that follows.
TEST_F(VmTest, EveryByteCountsAtEveryLengthAcrossCollections) {
  ASSERT_EQ(Protect([&] {
    vlTable* keep = vl::CreateTable(L, 0, 0);
    vlValue kt;
    vl::SetTable(&kt, keep);
    *vl::TableSet(L, vl::Registry(L), &kt) = kt;
    std::vector<std::pair<std::string, vlString*>> made;
    auto make = [&](const std::string& bytes) {
      vlString* s = vl::InternString(L, bytes.data(), bytes.size());
      std::string copy(bytes);  // other storage, same bytes
      EXPECT_EQ(vl::InternString(L, copy.data(), copy.size()), s);
      EXPECT_EQ(std::string(vl::StringData(s), s->len), bytes);
      EXPECT_EQ(vl::StringData(s)[s->len], '\0');
      made.emplace_back(bytes, s);
      *vl::TableSetInt(L, keep, static_cast<int64_t>(made.size())) = vlValue{VL_TSTRING, 0, {vl::ToGC(s)}};
    };
    for (size_t len = 0; len <= 70; len++) {
      std::string base(len, 'q');
      for (size_t i = 0; i < len; i++) base[i] = static_cast<char>('a' + (i * 7) % 26);
      make(base);
      for (size_t i = 0; i < len; i++) {
        std::string v = base;
        v[i] = '\0';
        make(v);
      }
    }
    for (size_t i = 0; i < made.size(); i++) {
      for (size_t j = i + 1; j < made.size() && j < i + 80; j++) {
        ASSERT_EQ(made[i].first == made[j].first, made[i].second == made[j].second) << i << " " << j;
      }
    }
    // Garbage between collections makes the table grow and halve again.
    for (int round = 0; round < 4; round++) {
      for (int i = 0; i < 5000; i++) {
        std::string g = "garbage/" + std::to_string(round) + "/" + std::to_string(i) + std::string(i % 40, '-');
        vl::InternString(L, g.data(), g.size());
      }
      vl::CollectGarbage(L);
      vl::CollectGarbage(L);
      for (auto& [bytes, s] : made) ASSERT_EQ(vl::InternString(L, bytes.data(), bytes.size()), s) << bytes.size();
    }
  }), 0);
}

// Strings of one length whose table hashes collide must still be told
// apart by their bytes, wherever they differ: pairs are found by trying
// many strings that differ in eight bytes at a chosen place.
TEST_F(VmTest, CollidingHashesStillGiveDistinctStrings) {
  struct Case {
    size_t len, at;
  };
  for (Case c : {Case{8, 0}, Case{12, 4}, Case{16, 8}, Case{24, 8}, Case{31, 0}, Case{31, 16}, Case{28, 9}, Case{32, 8}, Case{32, 24},
                 Case{40, 20}, Case{64, 56}}) {
    auto text = [&](uint32_t i) {
      std::string t(c.len, '.');
      for (int d = 0; d < 8; d++) t[c.at + d] = "0123456789abcdef"[(i >> (4 * d)) & 15];
      return t;
    };
    std::vector<std::pair<uint32_t, uint32_t>> hashes;  // (hash, i)
    for (uint32_t i = 0; i < 300000; i++) {
      std::string t = text(i);
      hashes.emplace_back(vl::HashBytes(t.data(), t.size()), i);
    }
    std::sort(hashes.begin(), hashes.end());
    size_t k = 1;
    while (k < hashes.size() && hashes[k].first != hashes[k - 1].first) k++;
    ASSERT_LT(k, hashes.size()) << "no colliding pair for length " << c.len;
    std::string a = text(hashes[k - 1].second), b = text(hashes[k].second);
    ASSERT_EQ(Protect([&] {
      vlString* sa = vl::InternString(L, a.data(), a.size());
      vlString* sb = vl::InternString(L, b.data(), b.size());
      EXPECT_NE(sa, sb) << a << " / " << b;
      EXPECT_EQ(std::string(vl::StringData(sb), sb->len), b);
      EXPECT_EQ(vl::InternString(L, a.data(), a.size()), sa);
      EXPECT_EQ(vl::InternString(L, b.data(), b.size()), sb);
    }), 0);
  }
}

// A new string whose block cannot be had raises 1000 and leaves the table
// as it was: the string is not half made, and the next try makes it.
TEST_F(VmTest, FailedStringAllocationLeavesTheTableIntact) {
  for (std::string text : {std::string("short"), std::string(24, 'm'), std::string(300, 'l')}) {
    vlString* before = nullptr;
    ASSERT_EQ(Protect([&] { before = vl::InternCString(L, "already here"); }), 0);
    int nuse = L->g->strt.nuse;
    uint64_t bytes = L->g->nblocks;
    L->g->allocFailCountdown = 1;
    EXPECT_EQ(Protect([&] { vl::InternString(L, text.data(), text.size()); }), ERR_MEM) << text.size();
    L->g->allocFailCountdown = 0;
    EXPECT_EQ(L->g->strt.nuse, nuse);
    EXPECT_EQ(L->g->nblocks, bytes);
    vlString* s = nullptr;
    ASSERT_EQ(Protect([&] {
      EXPECT_EQ(vl::InternCString(L, "already here"), before);
      s = vl::InternString(L, text.data(), text.size());
    }), 0);
    EXPECT_EQ(L->g->strt.nuse, nuse + 1);
    EXPECT_EQ(std::string(vl::StringData(s), s->len), text);
  }
}

TEST_F(VmTest, HugeStringLengthRefusedWith1000) {
  static const char byte = 'x';
  // The bytes are never read: the length is refused first.
  EXPECT_EQ(Protect([&] { vl::InternString(L, &byte, size_t(4294967295u)); }), ERR_MEM);
  EXPECT_EQ(Protect([&] { vl::InternString(L, &byte, size_t(4294967294u) - 10); }), ERR_MEM);
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '\\' && i + 3 < s.size() + 0 && s[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

double FromBits(const std::string& hex) {
  uint64_t b = std::strtoull(hex.c_str(), nullptr, 16);
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

TEST(NumberText, MatchesIndependentTable) {
  const char* root = std::getenv("VL_SOURCE_DIR");
  std::string path = std::string(root ? root : "../..") + "/tests/vm/number_cases.txt";
  std::ifstream in(path);
  ASSERT_TRUE(in.good()) << path;
  std::string line;
  int parses = 0, formats = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) f.push_back(field);
    if (line.rfind("parse\t", 0) == 0) {
      ASSERT_GE(f.size(), 3u) << line;
      std::string text = Unescape(f[1]);
      double got = 12345;
      bool ok = vl::StringToNumber(text.data(), text.size(), &got);
      if (f[2] == "fail") {
        EXPECT_FALSE(ok) << "input: " << f[1];
      } else {
        ASSERT_TRUE(ok) << "input: " << f[1];
        double want = FromBits(f[2].substr(3));
        if (std::isnan(want)) {
          EXPECT_TRUE(std::isnan(got)) << f[1];
        } else {
          EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "input: " << f[1] << " got " << got;
        }
      }
      parses++;
    } else if (line.rfind("format\t", 0) == 0) {
      ASSERT_EQ(f.size(), 3u) << line;
      char buf[vl::kNumberBufferSize];
      vl::FormatNumber(FromBits(f[1]), buf);
      EXPECT_STREQ(buf, f[2].c_str()) << f[1];
      formats++;
    }
  }
  EXPECT_GE(parses, 40);
  EXPECT_GE(formats, 20);
}

// Integers format as the C library's "%.14g" does, at and around every
// digit-count boundary and across a spread of values, and write nothing
// past their NUL (callers size buffers to the text).
TEST(NumberFormat, IntegersMatchTheCLibrary) {
  std::vector<double> values = {0, 1, -1, 7, -9, 42};
  for (double p = 10; p <= 1e15; p *= 10) {
    for (double d : {-1.0, 0.0, 1.0}) {
      values.push_back(p + d);
      values.push_back(-(p + d));
    }
  }
  for (uint64_t v = 1; v < 100000000000000ull; v = v * 3 + 7) values.push_back(static_cast<double>(v));
  for (uint32_t v = 0; v < 200000; v += 13) values.push_back(v);
  for (double n : values) {
    char want[64], got[vl::kNumberBufferSize + 8];
    std::snprintf(want, sizeof want, "%.14g", n);
    std::memset(got, '#', sizeof got);
    int len = vl::FormatNumber(n, got);
    ASSERT_STREQ(got, want) << n;
    ASSERT_EQ(len, static_cast<int>(std::strlen(want))) << n;
    for (size_t i = static_cast<size_t>(len) + 1; i < sizeof got; i++) ASSERT_EQ(got[i], '#') << n << " wrote byte " << i;
  }
}

TEST_F(VmTest, CoercionsFollowTheScriptRules) {
  ASSERT_EQ(Protect([&] {
    vlValue v;
    double d = -1;
    vl::SetNil(&v);
    EXPECT_TRUE(vl::ToNumber(&v, &d));
    EXPECT_EQ(d, 0);
    EXPECT_TRUE(vl::ToStringInPlace(L, &v));
    ASSERT_EQ(v.tag, VL_TSTRING);
    EXPECT_EQ(vl::ToString(&v)->len, 0u);
    vl::SetNumber(&v, 0.1);
    EXPECT_TRUE(vl::ToStringInPlace(L, &v));
    EXPECT_EQ(vl::ToString(&v), vl::InternCString(L, "0.1"));
    vl::SetString(&v, vl::InternCString(L, " 12 "));
    EXPECT_TRUE(vl::ToNumber(&v, &d));
    EXPECT_EQ(d, 12);
    vl::SetString(&v, vl::InternCString(L, "12a"));
    EXPECT_FALSE(vl::ToNumber(&v, &d));
    vl::SetBoolean(&v, 1);
    EXPECT_FALSE(vl::ToNumber(&v, &d));
    EXPECT_FALSE(vl::ToStringInPlace(L, &v));
    EXPECT_EQ(v.tag, VL_TBOOLEAN);
  }), 0);
}

TEST_F(VmTest, TruthEqualityAndTypeNames) {
  ASSERT_EQ(Protect([&] {
    vlValue v;
    vl::SetNil(&v);
    EXPECT_TRUE(vl::IsFalse(&v));
    vl::SetBoolean(&v, 0);
    EXPECT_TRUE(vl::IsFalse(&v));
    vl::SetNumber(&v, 0);
    EXPECT_TRUE(vl::IsFalse(&v));
    vl::SetNumber(&v, -0.0);
    EXPECT_TRUE(vl::IsFalse(&v));
    vl::SetString(&v, vl::InternCString(L, ""));
    EXPECT_TRUE(vl::IsFalse(&v));
    vl::SetString(&v, vl::InternCString(L, "0"));
    EXPECT_FALSE(vl::IsFalse(&v));
    vl::SetNumber(&v, std::nan(""));
    EXPECT_FALSE(vl::IsFalse(&v));
    vl::SetTable(&v, vl::CreateTable(L, 0, 0));
    EXPECT_FALSE(vl::IsFalse(&v));

    vlValue a, b;
    vl::SetNumber(&a, std::nan(""));
    EXPECT_FALSE(vl::RawEqual(&a, &a));
    vl::SetNumber(&a, 0);
    vl::SetNumber(&b, -0.0);
    EXPECT_TRUE(vl::RawEqual(&a, &b));
    vl::SetNil(&b);
    EXPECT_FALSE(vl::RawEqual(&a, &b));  // tags differ: no coercion here
    vl::SetString(&a, vl::InternCString(L, "abc"));
    vl::SetString(&b, vl::InternString(L, "abcd", 3));
    EXPECT_TRUE(vl::RawEqual(&a, &b));
  }), 0);
  EXPECT_STREQ(vl::GetTypeName(-1), "no value");
  EXPECT_STREQ(vl::GetTypeName(0), "nil");
  EXPECT_STREQ(vl::GetTypeName(2), "userdata");
  EXPECT_STREQ(vl::GetTypeName(7), "userdata");
  EXPECT_STREQ(vl::GetTypeName(3), "number");
  EXPECT_STREQ(vl::GetTypeName(8), "thread");
}

}  // namespace

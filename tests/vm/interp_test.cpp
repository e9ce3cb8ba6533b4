// The interpreter running assembled programs: loops, recursion, closures,
// tables, metamethods, gosub jumps, the quit flag, hooks, and the value
// operations checked against the table made by gen_value_ops.py.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/vm/script_util.h"
#include "vm/call.h"
#include "vm/debug.h"
#include "vm/debug_api.h"
#include "vm/error_codes.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

using vltest::GlobalNumber;
using vltest::GlobalString;
using vltest::RunScript;
using vltest::VmTest;

TEST_F(VmTest, NumericLoopSumsToAMillion) {
  ASSERT_EQ(RunScript(L, R"(
    loadk 0 #0
    loadk 1 #0
    loadk 2 #1000000
    loadk 3 #1
    jump test
  body:
    add 0 0 1
  test:
    forloop 1 body
    setglobal 0 "sum"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "sum"), 500000500000.0);
}

constexpr const char* kFib = R"(
  .function fib
    .params 1
    lt 0 0 #2
    jump recurse
    return 0 2
  recurse:
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
)";

TEST_F(VmTest, RecursiveFibonacci) {
  ASSERT_EQ(RunScript(L, std::string(kFib) + R"(
    .call fib 20 -> result
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "result"), 6765);
  EXPECT_EQ(L->ci, L->baseCi);
  EXPECT_EQ(L->nCcalls, 0);
}

TEST_F(VmTest, ClosuresShareAnUpvalueAfterTheFrameClosed) {
  ASSERT_EQ(RunScript(L, R"(
    .function make
      .function inc
        .upvalue "c" from r0
        getupval 0 0
        add 0 0 #1
        setupval 0 0
        return 0 2
      .end
      .function get
        .upvalue "c" from r0
        getupval 0 0
        return 0 2
      .end
      loadk 0 #10
      closure 1 inc
      closure 2 get
      setglobal 1 "inc"
      setglobal 2 "get"
      return 0 1
    .end
    .defun make make
    .call make
    .call inc -> first
    .call inc -> _
    .call get -> v
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "first"), 11);
  EXPECT_EQ(GlobalNumber(L, "v"), 12);
  EXPECT_EQ(L->openupval, nullptr);
}

TEST_F(VmTest, GenericLoopWalksATable) {
  vltest::SetGlobalNative(L, "next", vltest::NativeNext);
  ASSERT_EQ(RunScript(L, R"(
    .table 1 { 10, 20, 30, x = 5 }
    loadnil 3 3
    loadk 0 #0
    loadk 5 #0
    iterprep 1 test
  body:
    add 0 0 4
    add 5 5 #1
  test:
    iterloop 1 0 2
    jump body
    setglobal 0 "sum"
    setglobal 5 "count"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "sum"), 65);
  EXPECT_EQ(GlobalNumber(L, "count"), 4);
}

// Number keys set by the instruction take their own path into the hash
// part; the table must come out exactly as raw sets in the same order make
// it (the placement decides the iteration order).
TEST_F(VmTest, SetFieldPlacesNumberKeysAsRawSetsDo) {
  ASSERT_EQ(RunScript(L, R"(
    newtable 0 0 0
    loadk 1 #-40
    loadk 2 #300
    loadk 3 #1
    jump t
  b:
    setfield 0 1 1
    mul 4 1 #7
    setfield 0 4 1
    add 5 1 #0.5
    setfield 0 5 1
  t:
    forloop 1 b
    setglobal 0 "t"
    ret
  )"), 0);
  const vlValue* t = vltest::GetGlobal(L, "t");
  ASSERT_EQ(t->tag, VL_TTABLE);
  ASSERT_EQ(Protect([&] {
    vlTable* made = vl::ToTable(t);
    vlTable* raw = vl::CreateTable(L, 0, 0);
    vlValue rv;
    vl::SetTable(&rv, raw);
    *vl::TableSet(L, vl::Registry(L), &rv) = rv;  // kept from the collector
    std::set<double> keys;
    for (int i = -39; i <= 300; i++) {
      vlValue k, v;
      vl::SetNumber(&v, i);
      for (double key : {double(i), 7.0 * i, i + 0.5}) {
        keys.insert(key);
        vl::SetNumber(&k, key);
        *vl::TableSet(L, raw, &k) = v;
      }
    }
    ASSERT_EQ(made->sizearray, raw->sizearray);
    ASSERT_EQ(made->lsizenode, raw->lsizenode);
    vlValue a[2], b[2];
    vl::SetNil(&a[0]);
    vl::SetNil(&b[0]);
    int n = 0;
    for (;;) {
      int moreA = vl::TableNext(L, made, a);
      int moreB = vl::TableNext(L, raw, b);
      ASSERT_EQ(moreA, moreB);
      if (!moreA) break;
      ASSERT_EQ(a[0].tag, VL_TNUMBER);
      ASSERT_EQ(a[0].v.n, b[0].v.n) << "entry " << n;
      ASSERT_EQ(a[1].v.n, b[1].v.n) << "entry " << n;
      n++;
    }
    EXPECT_EQ(n, static_cast<int>(keys.size()));
  }), 0);
}

TEST_F(VmTest, ConstructorStoresFromKeyZero) {
  ASSERT_EQ(RunScript(L, R"(
    .table 0 { "a", "b", "c" }
    setglobal 0 "t"
    ret
  )"), 0);
  const vlValue* t = vltest::GetGlobal(L, "t");
  ASSERT_EQ(t->tag, VL_TTABLE);
  vlTable* h = vl::ToTable(t);
  for (int i = 0; i < 3; i++) {
    const vlValue* v = vl::TableGetInt(h, i);
    ASSERT_EQ(v->tag, VL_TSTRING);
    EXPECT_EQ(std::string(vl::StringData(vl::ToString(v))), std::string(1, static_cast<char>('a' + i)));
  }
  EXPECT_EQ(h->sizearray, 2);  // 1 and 2 in the array, 0 in the hash part
}

TEST_F(VmTest, StepZeroAndStringLimitLoops) {
  ASSERT_EQ(RunScript(L, R"(
    loadk 0 #0
    loadk 1 #5
    loadk 2 #3
    loadk 3 #0
    jump test
  body:
    add 0 0 #1
    eq 1 0 #10
    jump out
  test:
    forloop 1 body
  out:
    setglobal 0 "zeroStepRuns"
    loadk 0 #0
    loadk 1 #0
    loadk 2 "10"
    loadk 3 #1
    jump test2
  body2:
    add 0 0 1
  test2:
    forloop 1 body2
    setglobal 0 "sum"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "zeroStepRuns"), 10);
  EXPECT_EQ(GlobalNumber(L, "sum"), 55);
}

TEST_F(VmTest, ForLoopWithoutNumbersRaises1024) {
  EXPECT_EQ(RunScript(L, R"(
    loadk 1 #0
    loadk 2 "ten"
    loadk 3 #1
    forloop 1 0
    ret
  )"), ERR_VALUEEXPECTED);
}

TEST_F(VmTest, NotAndTruth) {
  ASSERT_EQ(RunScript(L, R"(
    loadk 0 #0
    not 1 0
    setglobal 1 "a"
    loadk 0 ""
    not 1 0
    setglobal 1 "b"
    loadnil 0 0
    not 1 0
    setglobal 1 "c"
    newtable 0 0 0
    not 1 0
    setglobal 1 "d"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "a"), 1);
  EXPECT_EQ(GlobalNumber(L, "b"), 1);
  EXPECT_EQ(GlobalNumber(L, "c"), 1);
  EXPECT_EQ(GlobalNumber(L, "d"), 0);
}

// Operands come from globals set here with exact bits.
void SetOperand(vlVMState* L, const char* name, const std::string& enc) {
  vlValue k, v;
  vl::RunProtectedFn(L, [&] {
    vl::SetString(&k, vl::InternCString(L, name));
    if (enc == "nil") {
      vl::SetNil(&v);
    } else if (enc.rfind("n:", 0) == 0) {
      uint64_t b = std::strtoull(enc.c_str() + 2, nullptr, 16);
      double d;
      std::memcpy(&d, &b, sizeof d);
      vl::SetNumber(&v, d);
    } else {
      vl::SetString(&v, vl::InternString(L, enc.data() + 2, enc.size() - 2));
    }
    *vl::TableSet(L, vl::ToTable(&L->globals), &k) = v;
  });
}

TEST_F(VmTest, ValueOperationsMatchIndependentTable) {
  const char* root = std::getenv("VL_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : "../..") + "/tests/vm/value_ops_cases.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) f.push_back(field);
    ASSERT_EQ(f.size(), 4u) << line;
    const std::string& op = f[0];
    SetOperand(L, "a", f[1]);
    SetOperand(L, "b", f[2]);
    std::string body;
    if (op == "eq" || op == "lt" || op == "le") {
      body = op + " 1 0 1\n jump yes\n loadnum 2 0\n jump done\n yes: loadnum 2 1\n done:\n";
    } else if (op == "neg" || op == "bnot") {
      body = op + " 2 0\n";
    } else {
      body = op + " 2 0 1\n";
    }
    std::string script = "getglobal 0 \"a\"\n getglobal 1 \"b\"\n" + body + " setglobal 2 \"r\"\n ret\n";
    SetOperand(L, "r", "s:unset");
    int status = RunScript(L, script);
    if (f[3].rfind("err:", 0) == 0) {
      EXPECT_EQ(status, std::atoi(f[3].c_str() + 4)) << line;
    } else {
      ASSERT_EQ(status, 0) << line;
      double want;
      uint64_t b = std::strtoull(f[3].c_str() + 2, nullptr, 16);
      std::memcpy(&want, &b, sizeof want);
      double got = GlobalNumber(L, "r");
      if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << line;
      } else {
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << line << " got " << got;
      }
    }
    cases++;
  }
  EXPECT_GE(cases, 200);
}

// Test natives.
int SetMeta(vlVMState* L) {
  vl::ToTable(L->base)->metatable = vl::ToTable(L->base + 1);
  return 0;
}
int AddMeta(vlVMState* L) {
  vl::SetNumber(L->top++, 100);
  return 1;
}
int EqAlways(vlVMState* L) {
  vl::SetNumber(L->top++, 1);
  return 1;
}
int LtFirstIsSmaller(vlVMState* L) {
  // Orders tables by their field 1.
  double a = vl::TableGetInt(vl::ToTable(L->base), 1)->v.n;
  double b = vl::TableGetInt(vl::ToTable(L->base + 1), 1)->v.n;
  vl::SetNumber(L->top++, a < b ? 1 : 0);
  return 1;
}

class MetaTest : public VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    vltest::SetGlobalNative(L, "setmeta", SetMeta);
    vltest::SetGlobalNative(L, "addmeta", AddMeta);
    vltest::SetGlobalNative(L, "eqalways", EqAlways);
    vltest::SetGlobalNative(L, "ltmeta", LtFirstIsSmaller);
  }
};

TEST_F(MetaTest, AddEqAndLeFallBack) {
  ASSERT_EQ(RunScript(L, R"(
    .table 0 { __add = $addmeta, __eq = $eqalways, __lt = $ltmeta }
    .table 1 { 0, 5 }
    .table 2 { 0, 7 }
    .table 3 { 0, 7 }
    .table 4 { __eq = $ltmeta }
    setglobal 0 "mt"
    setglobal 1 "x"
    setglobal 2 "y"
    setglobal 3 "z"
    setglobal 4 "other"
    .call setmeta $x $mt
    .call setmeta $y $mt
    .call setmeta $z $other
    getglobal 1 "x"
    add 5 1 #1
    setglobal 5 "sum"
    getglobal 2 "y"
    loadnum 5 0
    eq 1 1 2
    jump eqyes
    jump eqdone
  eqyes:
    loadnum 5 1
  eqdone:
    setglobal 5 "sameMeta"
    getglobal 3 "z"
    loadnum 5 0
    eq 1 1 3
    jump eq2yes
    jump eq2done
  eq2yes:
    loadnum 5 1
  eq2done:
    setglobal 5 "otherMeta"
    loadnum 5 0
    le 1 2 1
    jump leyes
    jump ledone
  leyes:
    loadnum 5 1
  ledone:
    setglobal 5 "yLeX"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "sum"), 100);
  EXPECT_EQ(GlobalNumber(L, "sameMeta"), 1);
  EXPECT_EQ(GlobalNumber(L, "otherMeta"), 0);  // different metatables, different __eq
  EXPECT_EQ(GlobalNumber(L, "yLeX"), 0);       // not (x < y) is false
  EXPECT_EQ(RunScript(L, "newtable 0 0 0\n add 1 0 #1\n ret\n"), ERR_WRONGOP);
  EXPECT_EQ(RunScript(L, "newtable 0 0 0\n .call setmeta r0 r0\n ret\n"), 0);
}

// Methods and fields an object inherits: one __index table up, two up
// (the class's own __index), and a key found nowhere.
TEST_F(MetaTest, MethodsAndFieldsComeThroughIndexTables) {
  ASSERT_EQ(RunScript(L, R"(
    .function five
      loadk 1 #5
      return 1 2
    .end
    .table 0 { deep = 9 }
    newtable 1 0 0
    setfield 1 "__index" 0
    newtable 2 0 0
    closure 3 five
    setfield 2 "m" 3
    .call base=10 setmeta r2 r1
    newtable 3 0 0
    setfield 3 "__index" 2
    .table 4 { own = 3 }
    .call base=10 setmeta r4 r3
    method 5 4 "m"
    call 5 2 2
    setglobal 5 "viaMethod"
    getfield 5 4 "deep"
    setglobal 5 "deep"
    method 5 4 "deep"
    setglobal 5 "deepMethod"
    getfield 5 4 "own"
    setglobal 5 "own"
    method 5 4 "none"
    setglobal 5 "none"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "viaMethod"), 5);
  EXPECT_EQ(GlobalNumber(L, "deep"), 9);
  EXPECT_EQ(GlobalNumber(L, "deepMethod"), 9);
  EXPECT_EQ(GlobalNumber(L, "own"), 3);
  EXPECT_EQ(vltest::GetGlobal(L, "none")->tag, VL_TNIL) << "a missing method is nil";
  EXPECT_EQ(RunScript(L, "newtable 0 0 0\n newtable 1 0 0\n newtable 2 0 0\n setfield 1 \"__index\" 2\n"
                         ".call base=5 setmeta r0 r1\n getfield 3 0 \"x\"\n ret\n"),
            ERR_FIELDINIT) << "a field found nowhere up the chain";
}

// Field reads and writes take a short way for a constant name and for a
// register index; the other kinds in each operand still read and write the
// same slots, and a register name still reaches __index.
TEST_F(MetaTest, KeysOfEitherKindInEitherOperand) {
  ASSERT_EQ(RunScript(L, R"(
    .table 0 { x = 1 }
    setfield 0 #2 #20
    loadk 1 "x"
    getfield 2 0 1
    setglobal 2 "rx"
    getfield 2 0 #2
    setglobal 2 "r2"
    loadk 1 #2
    setfield 0 1 #22
    getfield 2 0 #2
    setglobal 2 "r22"
    loadk 1 "y"
    setfield 0 1 #5
    getfield 2 0 "y"
    setglobal 2 "ry"
    newtable 3 0 0
    .table 4 { deep = 7 }
    setfield 3 "__index" 4
    .call base=10 setmeta r0 r3
    loadk 1 "deep"
    getfield 2 0 1
    setglobal 2 "rdeep"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "rx"), 1);
  EXPECT_EQ(GlobalNumber(L, "r2"), 20);
  EXPECT_EQ(GlobalNumber(L, "r22"), 22);
  EXPECT_EQ(GlobalNumber(L, "ry"), 5);
  EXPECT_EQ(GlobalNumber(L, "rdeep"), 7);
}

// A metatable remembers which metamethods it lacks. Replacing one of its
// present fields keeps that record; adding __newindex clears it, and the
// next new key goes to the metamethod.
TEST_F(MetaTest, NewIndexAppearsAfterStoresToPresentKeys) {
  ASSERT_EQ(RunScript(L, R"(
    .function store
      .params 3
      setglobal 2 "stored"
      ret
    .end
    newtable 0 0 0
    newtable 1 0 0
    setfield 1 "tag" #1
    .call base=10 setmeta r0 r1
    setfield 0 "a" #1
    setfield 1 "tag" #2
    setfield 0 "b" #2
    closure 2 store
    setfield 1 "__newindex" 2
    setfield 0 "c" #3
    getfield 3 0 "b"
    setglobal 3 "b"
    method 3 0 "c"
    setglobal 3 "c"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "b"), 2);
  EXPECT_EQ(GlobalNumber(L, "stored"), 3);
  EXPECT_EQ(vltest::GetGlobal(L, "c")->tag, VL_TNIL) << "the metamethod took the store";
}

// A metamethod runs the script nested inside the frame that needed it; the
// returns of both runs reach their own callers, with the counts they want,
// however deep the nesting.
TEST_F(MetaTest, ReturnsOfNestedRunsReachTheirOwnCallers) {
  ASSERT_EQ(RunScript(L, R"(
    .function twice
      .params 1
      add 1 0 0
      return 1 2
    .end
    .function index
      .params 2
      getglobal 2 "twice"
      loadk 3 #21
      call 2 2 2
      return 2 2
    .end
    .function f
      .params 1
      getfield 1 0 "missing"
      getglobal 2 "twice"
      copy 3 1
      call 2 2 2
      loadk 3 #7
      return 2 3
    .end
    .defun twice twice
    .defun f f
    newtable 0 0 0
    newtable 1 0 0
    closure 2 index
    setfield 1 "__index" 2
    .call base=10 setmeta r0 r1
    getglobal 3 "f"
    copy 4 0
    call 3 2 3
    setglobal 3 "r"
    setglobal 4 "s"
    getglobal 3 "f"
    copy 4 0
    call 3 2 2
    getfield 5 0 "other"
    add 3 3 5
    setglobal 3 "t"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "r"), 84) << "f doubles what __index doubled";
  EXPECT_EQ(GlobalNumber(L, "s"), 7);
  EXPECT_EQ(GlobalNumber(L, "t"), 84 + 42);
}

// A script function's results, cut or padded with nil to what the caller
// wants, as a command's are.
TEST_F(VmTest, ScriptResultsArePaddedAndCut) {
  ASSERT_EQ(RunScript(L, R"(
    .function two
      loadk 0 #7
      loadk 1 #8
      return 0 3
    .end
    .function none
      ret
    .end
    .defun two two
    .defun none none
    getglobal 0 "two"
    call 0 1 4
    setglobal 0 "a"
    setglobal 1 "b"
    setglobal 2 "c"
    getglobal 0 "two"
    call 0 1 2
    setglobal 0 "d"
    getglobal 0 "none"
    call 0 1 3
    setglobal 0 "f"
    setglobal 1 "g"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "a"), 7);
  EXPECT_EQ(GlobalNumber(L, "b"), 8);
  EXPECT_EQ(vltest::GetGlobal(L, "c")->tag, VL_TNIL) << "padded with nil to three";
  EXPECT_EQ(GlobalNumber(L, "d"), 7) << "one wanted: the first";
  EXPECT_EQ(vltest::GetGlobal(L, "f")->tag, VL_TNIL);
  EXPECT_EQ(vltest::GetGlobal(L, "g")->tag, VL_TNIL);
}

// Builds a chain of n tables, each the __index (and __newindex) of the
// previous one; the last holds "v" = 42.
void MakeChain(vlVMState* L, int n) {
  ASSERT_EQ(vl::RunProtectedFn(L, [&] {
    vlTable* first = vl::CreateTable(L, 0, 0);
    vlTable* cur = first;
    vlValue idx, nidx;
    vl::SetString(&idx, vl::InternCString(L, "__index"));
    vl::SetString(&nidx, vl::InternCString(L, "__newindex"));
    for (int i = 0; i < n; i++) {
      vlTable* mt = vl::CreateTable(L, 0, 0);
      vlTable* next = vl::CreateTable(L, 0, 0);
      vl::SetTable(vl::TableSet(L, mt, &idx), next);
      vl::SetTable(vl::TableSet(L, mt, &nidx), next);
      cur->metatable = mt;
      cur = next;
    }
    vlValue k;
    vl::SetString(&k, vl::InternCString(L, "v"));
    vl::SetNumber(vl::TableSet(L, cur, &k), 42);
    vl::SetString(&k, vl::InternCString(L, "chain"));
    vl::SetTable(vl::TableSet(L, vl::ToTable(&L->globals), &k), first);
  }), 0);
}

TEST_F(VmTest, IndexChainsOf100WorkAnd101Raise) {
  MakeChain(L, 100);
  ASSERT_EQ(RunScript(L, "getglobal 0 \"chain\"\n getfield 1 0 \"v\"\n setglobal 1 \"got\"\n"
                         "setfield 0 \"w\" #7\n ret\n"), 0);
  EXPECT_EQ(GlobalNumber(L, "got"), 42);
  MakeChain(L, 101);
  EXPECT_EQ(RunScript(L, "getglobal 0 \"chain\"\n getfield 1 0 \"v\"\n ret\n"), ERR_INTERNAL1);
  EXPECT_STREQ(L->g->errorArgDefault, "#1");
  EXPECT_EQ(RunScript(L, "getglobal 0 \"chain\"\n setfield 0 \"w\" #7\n ret\n"), ERR_INTERNAL1);
  EXPECT_STREQ(L->g->errorArgDefault, "#2");
}

TEST_F(VmTest, MissingFieldRaises1159ButMissingGlobalIsNil) {
  EXPECT_EQ(RunScript(L, "newtable 0 0 0\n getfield 1 0 \"x\"\n ret\n"), ERR_FIELDINIT);
  EXPECT_STREQ(L->g->errorArgDefault, "\"x\"");
  EXPECT_EQ(RunScript(L, "newtable 0 0 0\n getfield 1 0 #3\n ret\n"), ERR_FIELDINIT);
  EXPECT_STREQ(L->g->errorArgDefault, "3");
  // A long name is shown whole, in its quotes.
  const std::string longName(400, 'n');
  EXPECT_EQ(RunScript(L, "newtable 0 0 0\n getfield 1 0 \"" + longName + "\"\n ret\n"), ERR_FIELDINIT);
  EXPECT_EQ(std::string(L->g->errorArgDefault), "\"" + longName + "\"");
  ASSERT_EQ(RunScript(L, "loadk 1 #1\n getglobal 1 \"undefined\"\n setglobal 1 \"r\"\n ret\n"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "r")->tag, VL_TNIL);
  // Indexing a number names the variable.
  EXPECT_EQ(RunScript(L, ".local \"num\" 0 3\n loadk 0 #1\n getfield 1 0 \"x\"\n ret\n"), ERR_TABLEDECLA);
  EXPECT_STREQ(L->g->errorArgDefault, "num{}");
}

TEST_F(VmTest, ConcatenationConvertsNumbersAndNil) {
  ASSERT_EQ(RunScript(L, R"(
    loadk 0 "a"
    loadk 1 #1.5
    loadnil 2 2
    loadk 3 #10
    concat 4 0 3
    setglobal 4 "s"
    ret
  )"), 0);
  EXPECT_EQ(GlobalString(L, "s"), "a1.510");
  EXPECT_EQ(RunScript(L, "loadk 0 \"a\"\n newtable 1 0 0\n concat 2 0 1\n ret\n"), ERR_CONCAT);
  // Runs through the general way: numbers formatted into the joined text
  // (a long one at the very end of a grown scratch buffer), nil as nothing,
  // and a nil or empty right end leaving the left value as text.
  std::string wide(302, 'w');  // 300 w's quoted (built so, as GCC misreads the sum as overlapping)
  wide.front() = wide.back() = '"';
  const struct {
    std::vector<std::string> operands;
    std::string joined;
  } cases[] = {
      {{wide, "#-1.2345678901234e-300"}, std::string(300, 'w') + "-1.2345678901234e-300"},
      {{"#-0", "nil", "#1e300", "\"z\""}, "-01e+300z"},
      {{"#12", "nil"}, "12"},
      {{"nil", "nil"}, ""},
      {{"#7", "\"\""}, "7"},
      {{"\"a\"", "#2", "#3", "nil", "#4"}, "a234"},
  };
  for (const auto& c : cases) {
    std::string text;
    const std::string n = std::to_string(c.operands.size());
    for (size_t i = 0; i < c.operands.size(); ++i) {
      const std::string r = std::to_string(i);
      text += c.operands[i] == "nil" ? "loadnil " + r + " " + r + "\n" : "loadk " + r + " " + c.operands[i] + "\n";
    }
    text += "concat " + n + " 0 " + std::to_string(c.operands.size() - 1) + "\n setglobal " + n + " \"s\"\n ret\n";
    ASSERT_EQ(RunScript(L, text), 0) << text;
    EXPECT_EQ(GlobalString(L, "s"), c.joined) << text;
  }
}

// Two operands with a number among them take a short way that formats the
// number straight into the joined text: the result must be the very object
// interning the same bytes gives, the left slot holds it, and only the
// joined text is made (a right-hand number stays a number in its slot).
TEST_F(VmTest, ConcatenationOfTwoWithANumberInternsBothTexts) {
  struct Case {
    const char* a;
    const char* b;
    const char* joined;
  };
  const Case cases[] = {
      {"\"key\"", "#12345", "key12345"},
      {"#12", "#34", "1234"},
      {"#-0.5", "\"x\"", "-0.5x"},
      {"#1e300", "\"a\"", "1e+300a"},
      {"\"x\"", "\"\"", "x"},
      {"\"\"", "#7", "7"},
      {"\"0123456789012345678901234567890\"", "#7", "01234567890123456789012345678907"},
      {"\"0123456789012345678901234567890123456789\"", "#-3", "0123456789012345678901234567890123456789-3"},
  };
  for (const Case& c : cases) {
    std::string text = std::string("loadk 0 ") + c.a + "\n loadk 1 " + c.b +
                       "\n concat 2 0 1\n setglobal 2 \"r\"\n setglobal 0 \"a\"\n setglobal 1 \"b\"\n ret\n";
    ASSERT_EQ(RunScript(L, text.c_str()), 0) << c.joined;
    ASSERT_EQ(Protect([&] {
      const vlValue* r = vltest::GetGlobal(L, "r");
      ASSERT_EQ(r->tag, VL_TSTRING) << c.joined;
      EXPECT_EQ(vl::ToString(r), vl::InternCString(L, c.joined)) << c.joined;
      EXPECT_EQ(vl::ToString(vltest::GetGlobal(L, "a")), vl::ToString(r)) << c.joined;
      const vlValue* b = vltest::GetGlobal(L, "b");
      EXPECT_EQ(b->tag, c.b[0] == '#' ? VL_TNUMBER : VL_TSTRING) << c.joined;
    }), 0);
  }
  EXPECT_EQ(GlobalNumber(L, "b"), -3);
}

// Only the joined text is made: the number's own text never enters the
// string table.
TEST_F(VmTest, ConcatenationWithANumberMakesOneString) {
  ASSERT_EQ(RunScript(L, "loadk 0 \"key\"\n loadk 1 #987654321\n concat 2 0 1\n setglobal 2 \"r\"\n ret\n"), 0);
  const int before = L->g->strt.nuse;
  ASSERT_EQ(Protect([&] {
    vl::InternCString(L, "key987654321");
    EXPECT_EQ(L->g->strt.nuse, before);
    vl::InternCString(L, "987654321");
    EXPECT_EQ(L->g->strt.nuse, before + 1);
  }), 0);
}

TEST_F(VmTest, SetListAndMethodOnWrongOperandsRaise1203) {
  EXPECT_EQ(RunScript(L, "loadk 0 #1\n loadk 1 #2\n setlist 0 0\n ret\n"), ERR_BADBYTECODE);
  EXPECT_EQ(RunScript(L, "newtable 1 0 0\n method 2 1 #5\n ret\n"), ERR_BADBYTECODE);
}

TEST_F(VmTest, GosubNestingLimitAndStrayReturns) {
  EXPECT_EQ(RunScript(L, "top: gosub top\n ret\n"), ERR_INTERNAL);
  EXPECT_EQ(L->g->returnCount, 0);  // the unwound frame's entries are gone
  EXPECT_EQ(RunScript(L, "retsub\n ret\n"), ERR_RETWOGOSUB);
  // A return inside a function called from a gosub block is refused.
  EXPECT_EQ(RunScript(L, R"(
    .function f
      retsub
      ret
    .end
    .defun f f
    gosub block
    ret
  block:
    .call f
    retsub
  )"), ERR_RETWOGOSUB);
  EXPECT_EQ(L->g->returnCount, 0);
  // A proper gosub returns after the jump.
  ASSERT_EQ(RunScript(L, R"(
    loadk 0 #1
    gosub sub
    add 0 0 #10
    setglobal 0 "r"
    ret
  sub:
    add 0 0 #100
    retsub
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "r"), 111);
  EXPECT_EQ(L->g->returnCount, 0);
}

int SetQuit(vlVMState* L) {
  *L->g->host.quitFlag = 1;
  return 0;
}

TEST_F(VmTest, QuitFlagEndsTheRunBeforeTheNextInstruction) {
  vltest::SetGlobalNative(L, "quit", SetQuit);
  ASSERT_EQ(RunScript(L, R"(
    loadk 0 #1
    setglobal 0 "before"
    .call quit
    loadk 0 #2
    setglobal 0 "after"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "before"), 1);
  EXPECT_EQ(vltest::GetGlobal(L, "after")->tag, VL_TNIL);
  EXPECT_EQ(L->ci, L->baseCi);
}

// The flag set by another thread (a plug-in's quit request, a signal) while
// a loop runs that calls nothing, or a recursion that never jumps back: each
// kind of jump back, and the call, notices it.
TEST_F(VmTest, QuitFlagFromAnotherThreadEndsLoopsThatCallNothing) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the flag is a plain volatile word, written without synchronisation by design";
#else
  const char* loops[] = {
      "b: jump b\n ret\n",
      "loadk 0 #0\n loadk 1 #1e300\n loadk 2 #1\n t: forloop 0 t\n ret\n",
      "loadk 0 #0\n b: add 0 0 #1\n lt 1 0 #1e300\n jump b\n ret\n",
      // 2^40 calls, every jump forward.
      ".function f\n .params 1\n lt 1 0 #1\n jump done\n getglobal 1 \"f\"\n sub 2 0 #1\n call 1 2 1\n"
      " getglobal 1 \"f\"\n sub 2 0 #1\n call 1 2 1\n done:\n ret\n .end\n .defun f f\n .call f 40\n ret\n",
  };
  for (const char* loop : loops) {
    *L->g->host.quitFlag = 0;
    std::thread setter([flag = L->g->host.quitFlag] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      *flag = 1;
    });
    EXPECT_EQ(RunScript(L, loop), 0) << loop;
    setter.join();
    EXPECT_EQ(L->ci, L->baseCi) << loop;
  }
  *L->g->host.quitFlag = 0;
#endif
}

std::vector<int> gLines;
int gCounts = 0;
void RecordHook(vlVMState*, vlDebugInfo* ar, int* err, vlCallInfo*) {
  if (ar->event == VL_HOOK_LINE) gLines.push_back(ar->currentline);
  if (ar->event == VL_HOOK_COUNT) gCounts++;
  *err = 0;
}
void FailingHook(vlVMState*, vlDebugInfo* ar, int* err, vlCallInfo*) {
  if (ar->event == VL_HOOK_COUNT) *err = ERR_USERABORT;
}

TEST_F(VmTest, LineAndCountHooksFireAtTheirPoints) {
  gLines.clear();
  gCounts = 0;
  L->hook = RecordHook;
  L->hookMask = VL_MASK_LINE;
  L->hookInit = 1;
  ASSERT_EQ(RunScript(L, R"(
    .line 1
    loadk 0 #0
    loadk 1 #0
    loadk 2 #2
    loadk 3 #1
    jump test
    .line 2
  body:
    add 0 0 1
    .line 3
  test:
    forloop 1 body
    .line 4
    ret
  )"), 0);
  // Line 1, then the loop: 3 (test), 2, 3 twice over, then 4.
  EXPECT_EQ(gLines, (std::vector<int>{1, 3, 2, 3, 2, 3, 4}));
  L->hookMask = VL_MASK_COUNT;
  L->baseHookCount = L->hookCount = 10;
  ASSERT_EQ(RunScript(L, "loadk 0 #0\n loadk 1 #0\n loadk 2 #20\n loadk 3 #1\n jump t\n b: add 0 0 1\n t: forloop 1 b\n ret\n"), 0);
  // 5 set-up instructions, 20 loop bodies and 21 loop tests, 1 return.
  EXPECT_EQ(gCounts, (5 + 20 + 21 + 1) / 10);
  L->hook = FailingHook;
  L->baseHookCount = L->hookCount = 3;
  EXPECT_EQ(RunScript(L, "loadk 0 #1\n setglobal 0 \"x\"\n loadk 0 #2\n setglobal 0 \"x\"\n ret\n"),
            ERR_USERABORT);
  EXPECT_EQ(GlobalNumber(L, "x"), 1) << "the hook's error stopped the third instruction";
  L->hookMask = 0;
}

// Hooks that a command switches on or off take effect at once: the count
// hook from the next instruction on, the return hook for the command's own
// return, and none after they are cleared.
std::vector<int> gEvents;
void EventHook(vlVMState*, vlDebugInfo* ar, int* err, vlCallInfo*) {
  gEvents.push_back(ar->event);
  *err = 0;
}
int HookOn(vlVMState* L) {
  vl::SetVmHook(L, EventHook, VL_MASK_COUNT, 1);
  return 0;
}
int HookOnWithReturns(vlVMState* L) {
  vl::SetVmHook(L, EventHook, VL_MASK_COUNT | VL_MASK_RET, 1);
  return 0;
}
int HookOff(vlVMState* L) {
  vl::SetVmHook(L, nullptr, 0, 0);
  return 0;
}

TEST_F(VmTest, HooksSetByACommandApplyFromTheNextInstruction) {
  vltest::SetGlobalNative(L, "hookoff", HookOff);
  const char* script = R"(
    loadk 0 #0
    loadk 0 #0
    getglobal 1 "hookon"
    call 1 1 1
    loadk 0 #1
    loadk 0 #2
    getglobal 1 "hookoff"
    call 1 1 1
    loadk 0 #3
    loadk 0 #4
    setglobal 0 "x"
    ret
  )";
  // One count event for each of loadk, loadk, getglobal and call; hookoff
  // clears the hook before it returns.
  gEvents.clear();
  vltest::SetGlobalNative(L, "hookon", HookOn);
  ASSERT_EQ(RunScript(L, script), 0);
  EXPECT_EQ(GlobalNumber(L, "x"), 4);
  EXPECT_EQ(gEvents, (std::vector<int>(4, VL_HOOK_COUNT)));
  // With the return hook too, the command's own return comes first.
  gEvents.clear();
  vltest::SetGlobalNative(L, "hookon", HookOnWithReturns);
  ASSERT_EQ(RunScript(L, script), 0);
  EXPECT_EQ(gEvents, (std::vector<int>{VL_HOOK_RET, VL_HOOK_COUNT, VL_HOOK_COUNT, VL_HOOK_COUNT, VL_HOOK_COUNT}));
}

// A command that leaves fewer values than it reports gets nil added after
// them, and the results are cut or padded to what the call wants.
int TwoOfOne(vlVMState* L) {
  vl::SetNumber(L->top++, 7);
  return 2;
}

TEST_F(VmTest, CommandResultsArePaddedAndCut) {
  vltest::SetGlobalNative(L, "two", TwoOfOne);
  ASSERT_EQ(RunScript(L, R"(
    loadk 3 #5
    getglobal 0 "two"
    call 0 1 4
    setglobal 0 "a"
    setglobal 1 "b"
    setglobal 2 "c"
    getglobal 0 "two"
    call 0 1 2
    setglobal 0 "d"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "a"), 7);
  EXPECT_EQ(vltest::GetGlobal(L, "b")->tag, VL_TNIL) << "the missing value is nil";
  EXPECT_EQ(vltest::GetGlobal(L, "c")->tag, VL_TNIL) << "padded with nil to three results";
  EXPECT_EQ(GlobalNumber(L, "d"), 7) << "one result wanted: the first";
}

// String constants are looked up as keys without asking whether their key
// hash is made: the loader makes it for every one, in nested functions too.
TEST_F(VmTest, LoadedStringConstantsHaveTheirKeyHash) {
  ASSERT_EQ(vltest::PushScript(L, R"(
    .function f
      getglobal 0 "neverUsedAsKeyInner"
      ret
    .end
    loadk 0 "neverUsedAsKeyOuter"
    ret
  )"), 0);
  const vlFuncProto* main = vl::ToClosure(L->top - 1)->s.proto;
  ASSERT_EQ(main->sizep, 1);
  int strings = 0;
  for (const vlFuncProto* p : {main, static_cast<const vlFuncProto*>(main->p[0])}) {
    for (int j = 0; j < p->sizek; j++) {
      if (p->k[j].tag != VL_TSTRING) continue;
      const vlString* s = vl::ToString(&p->k[j]);
      EXPECT_EQ(s->keyHashed, 1) << vl::StringData(s);
      EXPECT_EQ(s->keyHash, vl::StringKeyHash(vl::StringData(s), s->len)) << vl::StringData(s);
      strings++;
    }
  }
  EXPECT_GE(strings, 2);
  L->top--;
}

// An instruction's position is stored only where other code may look at it:
// every instruction that raises, in a frame entered by the short call path,
// still reports its own line.
TEST_F(VmTest, ErrorsReportTheLineOfTheFailingInstruction) {
  struct Case {
    const char* body;
    int code;
  };
  const Case cases[] = {
      {"newtable 1 0 0\n pow 2 #-1 #0.5\n .line 7\n setfield 1 2 #1\n", ERR_TABLEINDEX},
      {".line 7\n mod 1 0 #0\n", ERR_ZERODIVISION},
      {"newtable 1 0 0\n .line 7\n getfield 2 1 \"absent\"\n", ERR_FIELDINIT},
      {"loadk 1 \"x\"\n loadk 2 #1\n loadk 3 #1\n .line 7\n forloop 1 t\n t:\n", ERR_VALUEEXPECTED},
      {"newtable 1 0 0\n .line 7\n method 2 1 #5\n", ERR_BADBYTECODE},
      {".line 7\n retsub\n", ERR_RETWOGOSUB},
      {"newtable 1 0 0\n loadk 2 \"x\"\n .line 7\n concat 3 1 2\n", ERR_CONCAT},
  };
  for (const Case& c : cases) {
    std::string script = ".function f\n .params 1\n .line 3\n loadk 1 #0\n loadk 1 #0\n";
    script.append(c.body);
    script.append(" .line 9\n ret\n .end\n .defun f f\n .line 20\n .call f 1\n ret\n");
    L->g->errorLineDefault = -5;
    EXPECT_EQ(RunScript(L, script), c.code) << c.body;
    EXPECT_EQ(L->g->errorLineDefault, 7) << c.body;
  }
}

// A command sees the line and name of the call in the frame that called it,
// and a return hook the line of the return, though neither frame stored its
// position at every instruction.
std::vector<int> gHookLines;
void ReturnLineHook(vlVMState* L, vlDebugInfo* ar, int* err, vlCallInfo*) {
  vlDebugInfo info{};
  if (ar->event == VL_HOOK_RET && vl::GetStackLevel(L, 0, &info) && vl::GetDebugInfo(L, "l", &info)) {
    gHookLines.push_back(info.currentline);
  }
  *err = 0;
}
int WhereCalled(vlVMState* L) {
  vlDebugInfo ar{};
  EXPECT_EQ(vl::GetStackLevel(L, 1, &ar), 1);
  EXPECT_EQ(vl::GetDebugInfo(L, "nl", &ar), 1);
  vltest::SetGlobalNumber(L, "line", ar.currentline);
  vl::GetStackLevel(L, 0, &ar);
  vl::GetDebugInfo(L, "n", &ar);
  vltest::SetGlobalNumber(L, "named", ar.name && std::strcmp(ar.name, "where") == 0);
  return 0;
}

TEST_F(VmTest, CommandsAndReturnHooksSeeTheCallersPosition) {
  vltest::SetGlobalNative(L, "where", WhereCalled);
  const char* script = R"(
    .function f
      .line 3
      loadk 0 #1
      loadk 0 #2
      .line 5
      getglobal 0 "where"
      call 0 1 1
      .line 6
      loadk 0 #3
      .line 8
      ret
    .end
    .defun f f
    .line 20
    .call f
    .line 21
    ret
  )";
  ASSERT_EQ(RunScript(L, script), 0);
  EXPECT_EQ(GlobalNumber(L, "line"), 5);
  EXPECT_EQ(GlobalNumber(L, "named"), 1);
  gHookLines.clear();
  vl::SetVmHook(L, ReturnLineHook, VL_MASK_RET, 0);
  ASSERT_EQ(RunScript(L, script), 0);
  vl::SetVmHook(L, nullptr, 0, 0);
  // The command's return (-1: a native frame), f's at line 8, the main chunk's at 21.
  EXPECT_EQ(gHookLines, (std::vector<int>{-1, 8, 21}));
}

// A call passing more arguments than the callee's frame holds keeps only
// what fits; the callee's registers above its arguments start as nil even
// where an earlier call left values.
TEST_F(VmTest, ArgumentsBeyondTheFrameAndRegistersAboveThem) {
  ASSERT_EQ(RunScript(L, R"(
    .function first
      .params 1
      return 0 2
    .end
    .function probe
      .params 1
      return 2 2
    .end
    .defun first first
    .defun probe probe
    getglobal 0 "first"
    loadk 1 #7
    loadk 2 #8
    loadk 3 #9
    loadk 4 #10
    loadk 5 #11
    loadk 6 #12
    call 0 7 2
    setglobal 0 "r"
    getglobal 0 "probe"
    loadk 1 #1
    loadk 2 #2
    loadk 3 #3
    call 0 4 1
    getglobal 0 "probe"
    loadk 1 #1
    call 0 2 2
    setglobal 0 "p"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "r"), 7);
  EXPECT_EQ(vltest::GetGlobal(L, "p")->tag, VL_TNIL) << "register 2 of probe was not an argument";
}

TEST_F(VmTest, TailCallsKeepOneFrame) {
  ASSERT_EQ(RunScript(L, R"(
    .function count
      .params 2
      eq 1 0 #0
      jump done
      sub 0 0 #1
      add 1 1 #1
      getglobal 2 "count"
      copy 3 0
      copy 4 1
      tailcall 2 3 0
      return 2 0
    done:
      return 1 2
    .end
    .defun count count
    .call count 10000 0 -> r
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "r"), 10000);
  EXPECT_LT(L->sizeCi, 64);
}

}  // namespace

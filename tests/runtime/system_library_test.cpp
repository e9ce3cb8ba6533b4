// The system library opened on a real VM and driven by assembled scripts:
// table commands (list editing, sorting with and without an order
// function, callbacks, copies, metatables), the generic loop over "next",
// values, timers, dates, catalogs and the error codes of bad arguments.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/hooks.h"
#include "platform/timers.h"
#include "platform/wake_pipe.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/runtime_options.h"
#include "runtime/startup_records.h"
#include "player/system_library.h"
#include "runtime/script_version.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/stack_api.h"

namespace {

int Nesting(vlVMState* L) {
  vl::PushNumber(L, vlOptions.callbackNesting);
  return 1;
}

// Order functions and callbacks shared by the scripts below.
const char* const kFunctions = R"(
.function desc
  .params 2
  lt 0 1 0
  jump no
  loadk 2 #1
  return 2 2
no:
  loadk 2 #0
  return 2 2
.end
.function always
  .params 2
  loadk 2 #1
  return 2 2
.end
.function sumvals
  .params 3
  getglobal 3 "acc"
  add 3 3 0
  add 3 3 1
  setglobal 3 "acc"
  setglobal 2 "user"
  .call base=3 nesting -> depth
  ret
.end
.function stopatb
  .params 2
  eq 0 1 "b"
  jump go
  loadk 2 "found"
  return 2 2
go:
  ret
.end
.function ascdepth
  .params 2
  .call base=2 nesting -> depth
  lt 0 0 1
  jump no2
  loadk 2 #1
  return 2 2
no2:
  loadk 2 #0
  return 2 2
.end
.function failing
  .params 2
  .call base=2 getconstant "nohash"
  ret
.end
)";

class SystemLibrary : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    // Waits sleep on the platform's timers and wake pipe.
    ResetPlatformHooks();
    ASSERT_EQ(InitTimers(), 0);
    ASSERT_EQ(OpenWakePipe(), 0);
    ASSERT_EQ(OpenSystemLibrary(L), 0);
    vltest::SetGlobalNative(L, "nesting", Nesting);
  }
  void TearDown() override {
    FreeSystemLibrary(L);
    FreeObjectRegistries();
    ShutdownTimers();
    CloseWakePipe();
    HandlerTest::TearDown();
  }

  int Run(const std::string& body) {
    L->g->quitDefault = 0;
    return vltest::RunScript(L, std::string(kFunctions) + ".line 1\n" + body + "\nret\n");
  }
  double Num(const char* name) { return vltest::GlobalNumber(L, name); }
  std::string Str(const char* name) { return vltest::GlobalString(L, name); }
  // The list in global t as text, "a,b,c".
  std::string List(const char* name = "t") {
    EXPECT_EQ(Run(std::string(".call concat $") + name + " \",\" -> joined"), 0);
    return Str("joined");
  }
  std::string Message(int code) {
    char text[kErrorTextSize];
    GetErrorText(code, text, sizeof text);
    return text;
  }
};

TEST_F(SystemLibrary, OpensCommandsConstantsAndLibrary) {
  for (const char* name : {"listitems", "sort", "foreach", "starttimer", "geterrorname", "getobjectdata",
                           "debugstr", "debugval", "assert", "next", "nextitem", "saveprefs", "loadprefs", "deleteprefs"})
    EXPECT_EQ(vltest::GetGlobal(L, name)->tag, VL_TFUNCTION) << name;
  const char* text = nullptr;
  double n = -1;
  ASSERT_TRUE(vl::FindConstant(L, "ERR_MEM", &text, &n));
  EXPECT_EQ(n, 1000);
  ASSERT_TRUE(vl::FindConstant(L, "err_findtimer", &text, &n));
  EXPECT_EQ(n, ERR_FINDTIMER);
  ASSERT_TRUE(vl::FindConstant(L, "COUNTRY_UKRAINE", &text, &n));
  EXPECT_EQ(n, 37);
  ASSERT_TRUE(vl::FindConstant(L, "PLUGINCAPS_AUDIOADAPTER", &text, &n));
  EXPECT_EQ(n, 65536);
  ASSERT_TRUE(vl::FindConstant(L, "VELLAMORA", &text, &n));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), std::string(45, 'x'));
  ASSERT_TRUE(vl::FindConstant(L, "AMIGAICON_SETPOSITION", &text, &n));
  EXPECT_STREQ(text, "::setpos");
  bool found = false;
  for (const vlLibraryNode* lib = FirstLibrary(); lib; lib = lib->next) found = found || !strcmp(lib->name, "system");
  EXPECT_TRUE(found);
  EXPECT_EQ(vlLegacySingleMusic, 1u);
  EXPECT_EQ(Run(".call getconstant \"#TICKS\" -> n\n.call getconstant \"#AMIGAICON_HIDE\" -> s"), 0);
  EXPECT_EQ(Num("n"), 2);
  EXPECT_EQ(Str("s"), "::hide");
}

TEST_F(SystemLibrary, GenericLoopStepsThroughNext) {
  ASSERT_EQ(Run(R"(
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
  )"), 0);
  EXPECT_EQ(Num("sum"), 65);
  EXPECT_EQ(Num("count"), 4);
  // Pairs hands out the same walk; IPairs steps 0, 1, 2 and stops at the gap.
  ASSERT_EQ(Run(R"(
    .table 0 { 1, 2, 4 }
    setglobal 0 "t"
    .call ipairs $t -> f _ start
    .call base=1 ipairs $t -1 -> i0 v0
    .call base=1 ipairs $t 2 -> i3 v3
    .call base=1 pairs $t -> pf
  )"), 0);
  EXPECT_EQ(Num("start"), -1);
  EXPECT_EQ(Num("i0"), 0);
  EXPECT_EQ(Num("v0"), 1);
  EXPECT_EQ(vltest::GetGlobal(L, "i3")->tag, VL_TNIL);
  EXPECT_EQ(vltest::GetGlobal(L, "pf")->tag, VL_TFUNCTION);
}

TEST_F(SystemLibrary, InsertRemoveAndCount) {
  ASSERT_EQ(Run(".table 0 { \"a\", \"b\", \"c\" }\nsetglobal 0 \"t\"\n.call insertitem $t \"x\" 99"), 0);
  EXPECT_EQ(List(), "a,b,c,x");
  ASSERT_EQ(Run(".call insertitem $t \"y\" 1\n.call insertitem $t \"z\""), 0);
  EXPECT_EQ(List(), "a,y,b,c,x,z");
  ASSERT_EQ(Run(".call removeitem $t 0 -> r1\n.call removeitem $t -> r2\n.call removeitem $t 42 -> r3\n"
                ".call listitems $t -> n"),
            0);
  EXPECT_EQ(Str("r1"), "a");
  EXPECT_EQ(Str("r2"), "z");
  EXPECT_EQ(Str("r3"), "x");
  EXPECT_EQ(Num("n"), 3);
  EXPECT_EQ(List(), "y,b,c");
  // Nothing to remove: no result, nothing changed.
  ASSERT_EQ(Run(".table 0 { }\nsetglobal 0 \"e\"\nloadk 0 #7\nsetglobal 0 \"r\"\n"
                ".call removeitem $e -> r\n.call listitems $e -> n\n.call tableitems $e -> items\n"
                ".call istableempty $e -> empty"),
            0);
  EXPECT_EQ(vltest::GetGlobal(L, "r")->tag, VL_TNIL);
  EXPECT_EQ(Num("n"), 0);
  EXPECT_EQ(Num("items"), 0);
  EXPECT_EQ(Num("empty"), 1);
  // Counting stops at the first nil; TableItems counts every key.
  ASSERT_EQ(Run(".table 0 { 1, 2, nil, 4, k = 1 }\nsetglobal 0 \"g\"\n.call listitems $g -> n\n"
                ".call tableitems $g -> items\n.call unpack $g -> u0 u1 u2"),
            0);
  EXPECT_EQ(Num("n"), 2);
  EXPECT_EQ(Num("items"), 4);
  EXPECT_EQ(Num("u1"), 2);
  EXPECT_EQ(vltest::GetGlobal(L, "u2")->tag, VL_TNIL);
}

TEST_F(SystemLibrary, ConcatTakesStringsAndNumbers) {
  ASSERT_EQ(Run(".table 0 { \"a\", 2, \"c\", \"d\" }\nsetglobal 0 \"t\"\n.call concat $t -> all\n"
                ".call concat $t \"-\" 1 2 -> part"),
            0);
  EXPECT_EQ(Str("all"), "a2cd");
  EXPECT_EQ(Str("part"), "2-c");
  EXPECT_EQ(Run(".table 0 { \"a\", { } }\nsetglobal 0 \"t\"\n.call concat $t"), ERR_STRINGEXPECTED);
}

TEST_F(SystemLibrary, SortsInPlace) {
  ASSERT_EQ(Run(".table 0 { 5, 3, 9, 1, 7, 2, 8, 6, 4, 0, 3 }\nsetglobal 0 \"t\"\n.call sort $t"), 0);
  EXPECT_EQ(List(), "0,1,2,3,3,4,5,6,7,8,9");
  ASSERT_EQ(Run(".call sort $t fn:desc"), 0);
  EXPECT_EQ(List(), "9,8,7,6,5,4,3,3,2,1,0");
  // Without an order function the count also stops at an empty string.
  ASSERT_EQ(Run(".table 0 { \"pear\", \"apple\", \"fig\", \"\", \"aa\" }\nsetglobal 0 \"t\"\n.call sort $t"), 0);
  ASSERT_EQ(Run(".call removeitem $t 3"), 0);
  EXPECT_EQ(List(), "apple,fig,pear,aa");
  // Strings order case-insensitively by their upper-case Latin-1 bytes: "_"
  // comes after the letters, and accented capitals fold with their small ones.
  ASSERT_EQ(Run(".table 0 { \"\xe4" "a\", \"banana\", \"\xc4" "B\", \"_x\", \"Apple\", \"\xc4" "c\" }\n"
                "setglobal 0 \"t\"\n.call sort $t"),
            0);
  EXPECT_EQ(List(), "Apple,banana,_x,\xe4" "a,\xc4" "B,\xc4" "c");
  // Short lists.
  ASSERT_EQ(Run(".table 0 { 2, 1 }\nsetglobal 0 \"t\"\n.call sort $t"), 0);
  EXPECT_EQ(List(), "1,2");
  ASSERT_EQ(Run(".table 0 { 3, 1, 2 }\nsetglobal 0 \"t\"\n.call sort $t fn:desc"), 0);
  EXPECT_EQ(List(), "3,2,1");
}

TEST_F(SystemLibrary, SortSortsLongListsAndCountsCallbacks) {
  std::string table = ".table 0 {";
  uint32_t x = 12345;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245u + 12345u;
    table += ' ';
    table += std::to_string((x >> 8) % 1000);
    table += ',';
  }
  table.back() = ' ';
  table += "}\nsetglobal 0 \"t\"\n.call sort $t fn:desc";
  ASSERT_EQ(Run(table), 0);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  ASSERT_EQ(Run(".call unpack $t"), 0);
  vl::SetStackTop(L, 0);
  ASSERT_EQ(Run(".call listitems $t -> n"), 0);
  EXPECT_EQ(Num("n"), 300);
  std::string list = List();
  double previous = 1e9;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    double v = std::stod(list.substr(start, comma - start));
    EXPECT_LE(v, previous);
    previous = v;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

TEST_F(SystemLibrary, InconsistentOrderFunctionFails) {
  EXPECT_EQ(Run(".table 0 { 4, 8, 1, 9, 3, 7, 2, 6, 5 }\nsetglobal 0 \"t\"\n.call sort $t fn:always"),
            ERR_SORTFUNC);
  EXPECT_EQ(Message(ERR_SORTFUNC), "Invalid order function for sorting!");
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  // The elements are all still there.
  EXPECT_EQ(Run(".call listitems $t -> n"), 0);
  EXPECT_EQ(Num("n"), 9);
}

TEST_F(SystemLibrary, ForEachCallsBackWithNestingRaised) {
  ASSERT_EQ(Run(".table 0 { 1, 2, 3 }\nsetglobal 0 \"t\"\nloadk 0 #0\nsetglobal 0 \"acc\"\n"
                ".call foreach $t fn:sumvals 100 -> r"),
            0);
  // keys 0+1+2, values 1+2+3, user value not added
  EXPECT_EQ(Num("acc"), 9);
  EXPECT_EQ(Num("user"), 100);
  EXPECT_EQ(Num("depth"), 1);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  EXPECT_EQ(vltest::GetGlobal(L, "r")->tag, VL_TNIL);
  ASSERT_EQ(Run("loadk 0 #0\nsetglobal 0 \"acc\"\n.call foreachi $t fn:sumvals"), 0);
  EXPECT_EQ(Num("acc"), 9);
  // A non-nil result stops the walk and becomes the result.
  ASSERT_EQ(Run(".table 0 { \"a\", \"b\", \"c\" }\nsetglobal 0 \"t\"\n.call foreachi $t fn:stopatb -> r"), 0);
  EXPECT_EQ(Str("r"), "found");
  ASSERT_EQ(Run(".call foreach $t fn:stopatb -> r"), 0);
  EXPECT_EQ(Str("r"), "found");
  // An error inside the callback ends the command with that error.
  EXPECT_EQ(Run(".call foreach $t fn:failing"), ERR_WRONGUSAGE);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  EXPECT_EQ(Run(".call foreach $t 5"), ERR_FUNCEXPECTED);
}

TEST_F(SystemLibrary, CopyTableDeepShallowAndCyclic) {
  ASSERT_EQ(Run(R"(
    .table 0 { 1, sub = { 7 } }
    setglobal 0 "t"
    .call copytable $t -> deep
    .call copytable $t 1 -> flat
    getglobal 0 "deep"
    getfield 1 0 "sub"
    getglobal 2 "t"
    getfield 3 2 "sub"
    eq 0 1 3
    jump differ
    loadk 4 #1
    setglobal 4 "deepshared"
  differ:
    getglobal 0 "flat"
    getfield 1 0 "sub"
    eq 0 1 3
    jump done
    loadk 4 #1
    setglobal 4 "flatshared"
  done:
    getfield 5 1 #0
    setglobal 5 "inner"
  )"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "deepshared")->tag, VL_TNIL);
  EXPECT_EQ(Num("flatshared"), 1);
  EXPECT_EQ(Num("inner"), 7);
  // A table that holds itself is copied once, keeping the cycle.
  ASSERT_EQ(Run(R"(
    newtable 0 0 0
    setfield 0 "me" 0
    setglobal 0 "c"
    .call copytable $c -> cc
    getglobal 1 "cc"
    getfield 2 1 "me"
    eq 0 1 2
    jump no
    loadk 3 #1
    setglobal 3 "cycle"
  no:
  )"), 0);
  EXPECT_EQ(Num("cycle"), 1);
}

TEST_F(SystemLibrary, MetatablesAndRawAccess) {
  ASSERT_EQ(Run(R"(
    newtable 0 0 0
    setglobal 0 "t"
    newtable 1 0 0
    setfield 1 "__metatable" "locked"
    .call base=2 setmetatable $t r1
    .call getmetatable $t -> m
    .call rawset $t "k" 5
    .call rawget $t "k" -> k
    .call rawequal $t $t -> same
    .call rawequal $t 1 -> differ
  )"), 0);
  EXPECT_EQ(Str("m"), "locked");
  EXPECT_EQ(Num("k"), 5);
  EXPECT_EQ(Num("same"), 1);
  EXPECT_EQ(Num("differ"), 0);
  EXPECT_EQ(Run(".call setmetatable $t nil"), ERR_PROTMETATABLE);
  EXPECT_EQ(Run("newtable 0 0 0\nsetglobal 0 \"u\"\n.call setmetatable $u 3"), ERR_TABLEORNIL);
  EXPECT_EQ(Run(".call rawset $u nil 1"), ERR_WRONGDTYPE);
  EXPECT_EQ(Run(".call getmetatable $u -> m"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "m")->tag, VL_TNIL);
  // HaveItem folds string keys to lower case.
  ASSERT_EQ(Run(".table 0 { abc = 1 }\nsetglobal 0 \"h\"\n.call haveitem $h \"ABC\" -> yes\n"
                ".call haveitem $h \"abd\" -> no\n.call nextitem $h -> key val\n.call nextitem $h \"abc\" -> last"),
            0);
  EXPECT_EQ(Num("yes"), 1);
  EXPECT_EQ(Num("no"), 0);
  EXPECT_EQ(Str("key"), "abc");
  EXPECT_EQ(Num("val"), 1);
  EXPECT_EQ(vltest::GetGlobal(L, "last")->tag, VL_TNIL);
}

// One method site and one field site, each reading "m" of $o again and
// again, see every change made between the reads: the method moved in its
// table, the metatable's __index replaced (by a table, a function, nil),
// the metatable itself replaced, an own field shadowing, rehashes and
// collections that free tables and reuse their memory.
TEST_F(SystemLibrary, MethodAndFieldReadsFollowMetatableChanges) {
  ASSERT_EQ(Run(R"(
    .function getm
      .params 1
      method 1 0 "m"
      return 1 2
    .end
    .defun getm getm
    .function getf
      .params 1
      getfield 1 0 "m"
      return 1 2
    .end
    .defun getf getf
    .function index
      .params 2
      loadk 2 #40
      return 2 2
    .end
    .defun index index
    .table 0 { m = 1 }
    setglobal 0 "c1"
    .table 0 { m = 3 }
    setglobal 0 "c2"
    .table 0 { __index = $c1 }
    setglobal 0 "mt"
    .table 0 { }
    setglobal 0 "o"
    .call setmetatable $o $mt
  )"), 0);
  auto read = [&](const char* fn) {
    EXPECT_EQ(Run(std::string(".call ") + fn + " $o -> v"), 0);
    const vlValue* v = vltest::GetGlobal(L, "v");
    return v->tag == VL_TNUMBER ? v->v.n : -1.0;
  };
  // The change, read at once in the same run (nothing else allocated in
  // between), then read again by later runs.
  auto both = [&](const std::string& change, double want) {
    ASSERT_EQ(Run(change + "\n.call getm $o -> v\n.call getf $o -> w"), 0) << change;
    EXPECT_EQ(vltest::GetGlobal(L, "v")->v.n, want) << change;
    EXPECT_EQ(vltest::GetGlobal(L, "w")->v.n, want) << change;
    for (int round = 0; round < 2; round++) {
      EXPECT_EQ(read("getm"), want) << change;
      EXPECT_EQ(read("getf"), want) << change;
    }
  };
  both("", 1);
  both(".call rawset $c1 \"m\" 2", 2);
  both(".call rawset $mt \"__index\" $c2", 3);
  both("getglobal 0 \"c2\"\nloadk 1 #4\nsetfield 0 \"m\" 1", 4);
  both(".call rawset $o \"m\" 5", 5);
  both(".call rawset $o \"m\" nil", 4);
  both(".call rawset $mt \"__index\" $index", 40);
  both(".call rawset $mt \"__index\" $c1", 2);
  // Keys added to the class and the metatable move and rehash their nodes.
  std::string grow = "getglobal 0 \"c1\"\ngetglobal 1 \"mt\"\n";
  for (int i = 0; i < 40; i++) {
    grow += "loadk 2 #" + std::to_string(i) + "\nsetfield 0 \"k" + std::to_string(i) + "\" 2\n";
    grow += "setfield 1 \"__k" + std::to_string(i) + "\" 2\n";
  }
  both(grow + ".call rawset $c1 \"m\" 6", 6);
  // A metatable made before, then set: no table changed in between.
  both(".table 0 { __index = $c2 }\nsetglobal 0 \"mt2\"", 6);
  both(".call setmetatable $o $mt2", 4);
  // The old metatable and class die; new tables may take their memory.
  for (int i = 0; i < 4; i++) {
    std::string value = std::to_string(10 + i);
    ASSERT_EQ(Run(".table 0 { m = " + value + " }\n.table 1 { __index = r0 }\nsetglobal 1 \"mt2\"\n"
                  ".table 2 { }\nsetglobal 2 \"o\"\n.call base=3 setmetatable r2 r1\n"
                  "loadnil 0 2\nsetglobal 0 \"c1\"\nsetglobal 0 \"c2\"\nsetglobal 0 \"mt\""),
              0);
    vl::CollectGarbage(L);
    EXPECT_EQ(read("getm"), 10 + i);
    EXPECT_EQ(read("getf"), 10 + i);
  }
  ASSERT_EQ(Run(".call rawset $mt2 \"__index\" nil"), 0);
  EXPECT_EQ(read("getm"), -1) << "a missing method is nil";
  EXPECT_EQ(Run(".call getf $o"), ERR_FIELDINIT);
}

TEST_F(SystemLibrary, ValuesAndFlow) {
  ASSERT_EQ(Run(R"(
    .call gettype nil -> tnil
    .call gettype 1 -> tnum
    .call gettype "s" -> tstr
    .call gettype { } -> ttab
    .call gettype $gettype -> tfun
    .call isnil nil -> isnil
    .call iif 0 "a" "b" -> i0
    .call iif "" "a" "b" -> i1
    .call iif "0" "a" "b" -> i2
    .call iif -1 "a" "b" -> i3
  )"), 0);
  EXPECT_EQ(Num("tnil"), 0);
  EXPECT_EQ(Num("tnum"), 2);
  EXPECT_EQ(Num("tstr"), 3);
  EXPECT_EQ(Num("ttab"), 4);
  EXPECT_EQ(Num("tfun"), 5);
  EXPECT_EQ(Num("isnil"), 1);
  EXPECT_EQ(Str("i0"), "b");
  EXPECT_EQ(Str("i1"), "b");
  EXPECT_EQ(Str("i2"), "a");
  EXPECT_EQ(Str("i3"), "a");
  EXPECT_EQ(Run(".call iif { } 1 2"), ERR_WRONGDTYPE);
  EXPECT_EQ(Run(".call getconstant \"#NO_SUCH_THING\""), ERR_FINDCST);
  EXPECT_EQ(Run(".call legacycontrol \"LineBasedShapes\" 1"), 0);
  EXPECT_EQ(vlLegacyLineBasedShapes, 1u);
  EXPECT_EQ(Run(".call legacycontrol \"wobble\" 1"), ERR_UNKNOWNTAG);
  EXPECT_EQ(Message(ERR_UNKNOWNTAG), "Unknown tag \"wobble\"!");
  // End stops the script through the quit flag without an error report.
  EXPECT_EQ(Run(".call end\nloadk 0 #1\nsetglobal 0 \"after\""), ERR_USERABORT);
  EXPECT_EQ(L->g->quitDefault, 1);
  EXPECT_EQ(vltest::GetGlobal(L, "after")->tag, VL_TNIL);
  // Argument errors.
  EXPECT_EQ(Run(".call listitems 5"), ERR_TABEXPECTED);
  EXPECT_EQ(Run(".call listitems"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call gcinfo 1"), ERR_TOOMANYARGS);
  EXPECT_EQ(Run(".call getmemoryinfo 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call gcinfo -> used limit"), 0);
  EXPECT_GT(Num("used"), 0);
  EXPECT_GE(Num("limit"), Num("used"));
}

TEST_F(SystemLibrary, WaitCountsTicks) {
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(".call wait 5"), 0);
  auto ticks = std::chrono::steady_clock::now() - start;
  EXPECT_GE(ticks, std::chrono::milliseconds(100));
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(".call wait 30 1\n.call wait 0 0"), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(SystemLibrary, Timers) {
  ASSERT_EQ(Run(".call starttimer 1\n.call wait 20 1\n.call pausetimer 1\n.call gettimer 1 -> a\n"
                ".call wait 30 1\n.call gettimer 1 -> b"),
            0);
  EXPECT_GE(Num("a"), 20);
  EXPECT_EQ(Num("a"), Num("b"));
  EXPECT_EQ(Run(".call waittimer 1 10"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call resumetimer 1\n.call resettimer 1 5000\n.call gettimer 1 -> c"), 0);
  EXPECT_GE(Num("c"), 5000);
  EXPECT_LT(Num("c"), 6000);
  // The timer already ran longer: WaitTimer returns at once and restarts it.
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(".call waittimer 1 100\n.call gettimer 1 -> d"), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_LT(Num("d"), 50);
  ASSERT_EQ(Run(".call waittimer 1 40 0\n.call gettimer 1 -> e"), 0);
  EXPECT_GE(Num("e"), 40);
  // Starting an existing id clears it; user data stays with the record.
  ASSERT_EQ(Run(".call setobjectdata 53 1 \"k\" 3\n.call starttimer 1\n.call gettimer 1 -> f\n"
                ".call getobjectdata 53 1 \"k\" -> g\n.call getobjects 53 -> list"),
            0);
  EXPECT_LT(Num("f"), 20);
  EXPECT_EQ(Num("g"), 3);
  // Unknown ids: the number names the timer.
  EXPECT_EQ(Run(".call gettimer 7"), ERR_FINDTIMER);
  EXPECT_EQ(Message(ERR_FINDTIMER), "Could not find timer 7!");
  ASSERT_EQ(Run(".call stoptimer 1"), 0);
  EXPECT_EQ(Run(".call stoptimer 1"), ERR_FINDTIMER);
  // Automatic ids.
  ASSERT_EQ(Run(".call starttimer nil -> h\n.call gettimer $h -> v\n.call haveobject 53 $h -> have\n"
                ".call stoptimer $h"),
            0);
  EXPECT_EQ(vltest::GetGlobal(L, "h")->tag, VL_TLIGHTUSERDATA);
  EXPECT_EQ(Num("have"), 1);
  EXPECT_EQ(Run(".call gettimer $h"), ERR_FINDARRAY);
}

TEST_F(SystemLibrary, DatesAndTimes) {
  ASSERT_EQ(Run(".call getdate 1 -> long\n.call gettime 1 -> hms\n.call gettime -> hm\n"
                ".call getdatenum 0 -> year\n.call getdatenum 1 -> month\n"
                ".call getdatenum 9 -> other\n.call getweekday -> day\n.call getdate -> short"),
            0);
  std::string longDate = Str("long");
  ASSERT_EQ(longDate.size(), 20u);
  time_t now = time(nullptr);
  tm local;
  localtime_r(&now, &local);
  EXPECT_EQ(Num("year"), local.tm_year + 1900);
  EXPECT_EQ(Num("month"), local.tm_mon + 1);
  EXPECT_EQ(Num("other"), 0);
  EXPECT_EQ(longDate.substr(7, 4), std::to_string(local.tm_year + 1900));
  EXPECT_EQ(Str("hms").size(), 8u);
  EXPECT_EQ(Str("hm").size(), 5u);
  EXPECT_FALSE(Str("day").empty());
  EXPECT_FALSE(Str("short").empty());
  ASSERT_EQ(Run(R"(
    .call comparedates "05-Mar-2016 10:00:00" "05-Mar-2016 10:00:00" -> same
    .call comparedates "05-Mar-2016 10:00:01" "05-Mar-2016 10:00:00" -> later
    .call comparedates "05-Feb-2017 10:00:00" "05-Mar-2016 10:00:00" -> lateryear
    .call comparedates "04-Dec-2016 23:59:59" "05-Mar-2017 00:00:00" -> earlier
    .call comparedates "05-Mar-2016 23:00:00" "05-Mar-2016 01:00:00" 1 -> dayonly
    .call comparedates "06-Mar-2016" "05-Mar-2016" 1 -> short
  )"), 0);
  EXPECT_EQ(Num("same"), 0);
  EXPECT_EQ(Num("later"), 1);
  EXPECT_EQ(Num("lateryear"), 1);
  EXPECT_EQ(Num("earlier"), 2);
  EXPECT_EQ(Num("dayonly"), 0);
  EXPECT_EQ(Num("short"), 1);
  EXPECT_EQ(Run(".call comparedates \"05-Mai-2016 10:00:00\" \"05-Mar-2016 10:00:00\""), ERR_INVALIDDATE);
  EXPECT_EQ(Run(".call comparedates \"05-Mar-2016\" \"05-Mar-2016\""), ERR_INVALIDDATE);
  EXPECT_EQ(Run(".call comparedates \"05-Mar-2016 1x:00:00\" \"05-Mar-2016 10:00:00\""), ERR_INVALIDDATE);
}

TEST_F(SystemLibrary, CommandLineAndSystemInfo) {
  vlStartupRecord startup{};
  char name[] = "game.vla", arg[] = "level", value[] = "3", flag[] = "fast";
  vlExtraArg second{nullptr, flag, nullptr};
  vlExtraArg first{&second, arg, value};
  startup.givenName = name;
  startup.extraArgs = &first;
  vl::SetRegistryPointer(L, "clargs", &startup);
  ASSERT_EQ(Run(R"(
    .call getfileargument -> file
    .call getcommandline -> args count one
    getglobal 0 "args"
    getfield 1 0 #1
    getfield 2 1 "arg"
    setglobal 2 "a1"
    getfield 2 1 "param"
    setglobal 2 "p1"
    .call getsysteminfo -> info
    .call getversion -> ver
    getglobal 0 "ver"
    getfield 1 0 "version"
    setglobal 1 "version"
  )"), 0);
  vl::SetRegistryPointer(L, "clargs", nullptr);
  EXPECT_EQ(Str("file"), "game.vla");
  EXPECT_EQ(Num("count"), 2);
  EXPECT_EQ(Num("one"), 1);
  EXPECT_EQ(Str("a1"), "fast");
  EXPECT_EQ(Str("p1"), "");
  EXPECT_EQ(Str("version"), "6.1");
}

TEST_F(SystemLibrary, ScriptCatalog) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("vl_syscat_" + std::to_string(getpid()));
  fs::create_directories(dir / "Catalogs" / "deutsch");
  std::ofstream(dir / "Catalogs" / "deutsch" / "game.catalog") << "Null\nEins\\tzwei\n";
  fs::path old = fs::current_path();
  const char* oldLang = getenv("LANG");
  std::string savedLang = oldLang ? oldLang : "";
  fs::current_path(dir);
  setenv("LANG", "de_DE.UTF-8", 1);
  int status = Run(".call opencatalog \"game.catalog\"\n.call getcatalogstring 1 \"one\" -> s1\n"
                   ".call getcatalogstring 5 \"five\" -> s5\n.call closecatalog\n"
                   ".call getcatalogstring 1 \"one\" -> after");
  if (oldLang) setenv("LANG", savedLang.c_str(), 1);
  else unsetenv("LANG");
  fs::current_path(old);
  fs::remove_all(dir);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Str("s1"), "Eins\tzwei");
  EXPECT_EQ(Str("s5"), "five");
  EXPECT_EQ(Str("after"), "one");
}

TEST_F(SystemLibrary, DebugPrintJoinsArguments) {
  testing::internal::CaptureStdout();
  int status = Run(".call debugprint 1.5 \"50%\" \"x\"\n.call debugprintnr \"no\" \"break\"");
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out, "1.5 50% x\nno break");
}

TEST_F(SystemLibrary, LimitsPointersAndSwitches) {
  // More elements than one frame can hold.
  vl::PushNewTable(L);
  for (int i = 0; i < 3000; ++i) {
    vl::PushNumber(L, i);
    vl::RawSetTableIndex(L, -2, i);
  }
  vl::PushString(L, "big");
  vl::InsertTopAt(L, -2);
  vl::RawSetTableValue(L, vl::kGlobalsIndex);
  vl::SetStackTop(L, 0);
  EXPECT_EQ(Run(".call unpack $big"), ERR_STACK);
  EXPECT_EQ(Run(".call listitems $big -> n\n.call sort $big fn:desc\n.call removeitem $big -> last"), 0);
  EXPECT_EQ(Num("n"), 3000);
  EXPECT_EQ(Num("last"), 0);
  // Pointers move by bytes.
  static char block[16];
  vltest::SetGlobalNative(L, "block", [](vlVMState* S) {
    vl::PushPointer(S, block);
    return 1;
  });
  ASSERT_EQ(Run(".call block -> p\n.call increasepointer $p 10 -> q\n.call decreasepointer $q 4 -> r"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "q")->v.p, block + 10);
  EXPECT_EQ(vltest::GetGlobal(L, "r")->v.p, block + 6);
  EXPECT_EQ(Run(".call increasepointer 5 1"), ERR_UDEXPECTED);
  // The trace switch and the collector threshold.
  ASSERT_EQ(Run(".call debugoutput 1"), 0);
  EXPECT_EQ(L->g->traceFlag, 1);
  L->g->traceFlag = 0;
  ASSERT_EQ(Run(".call collectgarbage 100000\n.call gcinfo -> used limit"), 0);
  EXPECT_EQ(Num("limit"), 100000);
  ASSERT_EQ(Run(".call getmemoryinfo 1 -> free\n.call getsystemlanguage -> lang\n.call getsystemcountry -> country"), 0);
  EXPECT_GT(Num("free"), 0);
  EXPECT_GE(Num("lang"), 0);
  EXPECT_LE(Num("lang"), 18);
  EXPECT_LE(Num("country"), 38);
}

TEST_F(SystemLibrary, FreeAllDropsTimersAndUserData) {
  ASSERT_EQ(Run(".call starttimer 1\n.call starttimer nil -> h\n.call setobjectdata 53 $h \"k\" { 1, 2 }"), 0);
  ASSERT_NE(*ScriptTimerList(), nullptr);
  FreeSystemLibrary(L);
  EXPECT_EQ(*ScriptTimerList(), nullptr);
  EXPECT_EQ(Run(".call gettimer 1"), ERR_FINDTIMER);
}

TEST_F(SystemLibrary, OrderFunctionRunsAsCallback) {
  ASSERT_EQ(Run(".table 0 { 3, 1, 2, 5, 4 }\nsetglobal 0 \"t\"\n.call sort $t fn:ascdepth"), 0);
  EXPECT_EQ(Num("depth"), 1);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  EXPECT_EQ(List(), "1,2,3,4,5");
  EXPECT_EQ(Run(".call sort $t fn:failing"), ERR_WRONGUSAGE);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
}

TEST_F(SystemLibrary, DebugPrintUsesTheGlobalToString) {
  vltest::SetGlobalNative(L, "tostring", [](vlVMState* S) {
    std::string text = "<";
    text += vl::GetTypeAt(S, 1) == VL_TNIL ? "nil" : vl::ToStringAt(S, 1);
    text += '>';
    vl::PushString(S, text.c_str());
    return 1;
  });
  testing::internal::CaptureStdout();
  int status = Run(".call debugprint 7 nil \"a\"");
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out, "<7> <nil> <a>\n");
}

TEST_F(SystemLibrary, DebugPromptReadsOneLine) {
  char name[] = "/tmp/vl_prompt_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  std::string input = "first line\r\n";
  input.append(20000, 'z');
  input += '\n';
  ASSERT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fd);
  ASSERT_NE(freopen(name, "r", stdin), nullptr);
  testing::internal::CaptureStdout();
  int status = Run(".call debugprompt \"Name? \" -> a\n.call debugprompt \"\" -> b");
  std::string out = testing::internal::GetCapturedStdout();
  unlink(name);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out, "Name? ");
  EXPECT_EQ(Str("a"), "first line");
  EXPECT_EQ(Str("b"), std::string(16384, 'z'));
}

}  // namespace

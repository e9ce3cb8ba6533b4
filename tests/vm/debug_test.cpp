// The debug interface on real assembled scripts: frame descriptions of
// native, script and lost tail-call levels, function names by how they were
// called, source names in their three forms, and hooks set through
// SetVmHook.
#include <new>
#include <string>
#include <vector>

#include "tests/vm/script_util.h"
#include "vm/call.h"
#include "vm/debug_api.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using vltest::GlobalNumber;
using vltest::RunScript;
using vltest::SetGlobalNative;
using vltest::VmTest;

std::string Id(const std::string& source) {
  char buf[60];
  vl::ChunkId(buf, source.c_str(), sizeof buf);
  return buf;
}

TEST(ChunkId, ThreeSourceFormsFitInSixtyBytes) {
  EXPECT_EQ(Id("=stdin"), "stdin");
  EXPECT_EQ(Id("=" + std::string(100, 'x')), std::string(59, 'x'));
  EXPECT_EQ(Id("@scripts/demo.vl"), "scripts/demo.vl");
  std::string path = "/" + std::string(80, 'd') + "/tail-of-the-name.vl";
  std::string shown = Id("@" + path);
  EXPECT_EQ(shown.size(), 59u);
  EXPECT_EQ(shown, "..." + path.substr(path.size() - 56));
  EXPECT_EQ(Id("@" + std::string(59, 'f')), std::string(59, 'f'));
  EXPECT_EQ(Id("x = 1"), "[string \"x = 1\"]");
  EXPECT_EQ(Id("first line\nsecond line"), "[string \"first line...\"]");
  // 48 characters fit whole; one more is cut to 45 with "...".
  std::string fits(48, 'a');
  EXPECT_EQ(Id(fits), "[string \"" + fits + "\"]");
  EXPECT_EQ(Id(fits).size(), 59u);
  std::string shownLong = Id(std::string(49, 'b'));
  EXPECT_EQ(shownLong, "[string \"" + std::string(45, 'b') + "...\"]");
  EXPECT_EQ(shownLong.size(), 59u);
}

// What the native probe saw, level by level.
struct Level {
  std::string what, source, shortSrc, name, nameWhat;
  int line = 0, lineDefined = 0, callRecord = 0;
  bool hasName = false;
};
std::vector<Level> gLevels;

int DescribeLevels(vlVMState* L) {
  gLevels.clear();
  vlDebugInfo ar{};
  for (int level = 0; vl::GetStackLevel(L, level, &ar); level++) {
    EXPECT_EQ(vl::GetDebugInfo(L, "nSl", &ar), 1);
    Level l;
    l.what = ar.what;
    l.source = ar.source;
    l.shortSrc = ar.short_src;
    l.hasName = ar.name != nullptr;
    l.name = ar.name ? ar.name : "";
    l.nameWhat = ar.namewhat;
    l.line = ar.currentline;
    l.lineDefined = ar.linedefined;
    l.callRecord = ar.i_ci;
    gLevels.push_back(l);
  }
  return 0;
}

TEST_F(VmTest, NativeFrameIsDescribedAsC) {
  SetGlobalNative(L, "Probe", DescribeLevels);
  ASSERT_EQ(RunScript(L, ".source \"@main.vl\"\n.line 7\n.call Probe\nret\n"), 0);
  ASSERT_GE(gLevels.size(), 2u);
  EXPECT_EQ(gLevels[0].source, "=[C]");
  EXPECT_EQ(gLevels[0].shortSrc, "[C]");
  EXPECT_EQ(gLevels[0].what, "C");
  EXPECT_EQ(gLevels[0].line, -1);
  EXPECT_EQ(gLevels[0].lineDefined, -1);
  EXPECT_EQ(gLevels[0].name, "Probe");
  EXPECT_EQ(gLevels[0].nameWhat, "global");
  EXPECT_EQ(gLevels[1].what, "main");
  EXPECT_EQ(gLevels[1].shortSrc, "main.vl");
  EXPECT_EQ(gLevels[1].line, 7);
}

TEST_F(VmTest, NamesComeFromHowTheFunctionWasCalled) {
  SetGlobalNative(L, "Probe", DescribeLevels);
  struct Case {
    const char* script;
    const char* name;
    const char* kind;
  };
  const Case cases[] = {
      {"getglobal 0 \"Probe\"\n call 0 1 1\n ret\n", "Probe", "global"},
      {".local \"handler\" 0 3\n getglobal 0 \"Probe\"\n call 0 1 1\n ret\n", "handler", "local"},
      {".table 1 { run = $Probe }\n method 2 1 \"run\"\n call 2 2 1\n ret\n", "run", "method"},
      {".table 1 { click = $Probe }\n getfield 2 1 \"click\"\n call 2 1 1\n ret\n", "click", "field"},
  };
  for (const Case& c : cases) {
    gLevels.clear();
    ASSERT_EQ(RunScript(L, c.script), 0) << c.script;
    ASSERT_FALSE(gLevels.empty());
    EXPECT_EQ(gLevels[0].name, c.name) << c.script;
    EXPECT_EQ(gLevels[0].nameWhat, c.kind) << c.script;
  }
}

TEST_F(VmTest, UnnamedFunctionAndAbsentSourceShowNoNameAndQuestionMark) {
  ASSERT_EQ(vltest::PushScript(L, R"(
    .function call_it
      .params 1
      call 0 1 1
      ret
    .end
    closure 0 call_it
    setglobal 0 "call_it"
    ret
  )"), 0);
  ASSERT_EQ(Protect([&] { vl::CallFunction(L, 0, 0); }), 0);
  ASSERT_EQ(Protect([&] {
    vl::PushString(L, "call_it");
    vl::GetTableValue(L, vl::kGlobalsIndex);
    vl::PushNativeClosure(L, DescribeLevels, 0);  // in no global
    vl::CallFunction(L, 1, 0);
  }), 0);
  ASSERT_GE(gLevels.size(), 2u);
  EXPECT_FALSE(gLevels[0].hasName);
  EXPECT_EQ(gLevels[0].nameWhat, "");
  // The script function has no source in its chunk.
  EXPECT_EQ(gLevels[1].shortSrc, "?");
  EXPECT_EQ(gLevels[1].what, "Vellamora");
  EXPECT_EQ(gLevels[1].name, "call_it");  // found among the globals
}

TEST_F(VmTest, LostTailCallsAreLevelsOfTheirOwn) {
  SetGlobalNative(L, "Probe", DescribeLevels);
  ASSERT_EQ(RunScript(L, R"(
    .source "@tail.vl"
    .function inner
      .linedefined 20
      .line 21
      .call Probe
      ret
    .end
    .function outer
      .linedefined 10
      .line 11
      getglobal 0 "inner"
      tailcall 0 1 0
      return 0 0
    .end
    .defun inner inner
    .defun outer outer
    .line 30
    .call outer
    ret
  )"), 0);
  ASSERT_EQ(gLevels.size(), 4u);
  EXPECT_EQ(gLevels[0].what, "C");
  EXPECT_EQ(gLevels[1].what, "Vellamora");
  EXPECT_EQ(gLevels[1].lineDefined, 20);
  EXPECT_EQ(gLevels[1].line, 21);
  EXPECT_EQ(gLevels[2].callRecord, 0);
  EXPECT_EQ(gLevels[2].source, "=(tail call)");
  EXPECT_EQ(gLevels[2].shortSrc, "(tail call)");
  EXPECT_EQ(gLevels[2].what, "tail");
  EXPECT_EQ(gLevels[2].line, -1);
  EXPECT_EQ(gLevels[2].lineDefined, -1);
  EXPECT_TRUE(gLevels[2].hasName);  // an empty name, never a null one
  EXPECT_EQ(gLevels[2].name, "");
  EXPECT_EQ(gLevels[3].what, "main");
  EXPECT_EQ(gLevels[3].line, 30);
}

TEST_F(VmTest, DescribingTheTopFunctionAndUnknownLetters) {
  ASSERT_EQ(Protect([&] {
    vl::PushNumber(L, 1);
    vl::PushNumber(L, 2);
    vl::PushNativeClosure(L, DescribeLevels, 2);
    vlDebugInfo ar{};
    EXPECT_EQ(vl::GetDebugInfo(L, ">Suf", &ar), 1);
    EXPECT_STREQ(ar.what, "C");
    EXPECT_EQ(ar.nups, 2);
    EXPECT_TRUE(vl::IsNativeFunctionAt(L, -1));  // 'f' pushed it back
    EXPECT_EQ(vl::GetStackTop(L), 1);
    EXPECT_EQ(vl::GetDebugInfo(L, ">Sx", &ar), 0);  // popped; 'S' still done
    EXPECT_STREQ(ar.source, "=[C]");
  }), 0);
  EXPECT_EQ(Protect([&] {
    vl::PushNumber(L, 3);
    vlDebugInfo ar{};
    vl::GetDebugInfo(L, ">S", &ar);
  }), ERR_FUNCEXPECTED);
  vlDebugInfo ar{};
  EXPECT_EQ(vl::GetStackLevel(L, 0, &ar), 0);  // no call is running
}

int gCountEvents = 0;
std::vector<int> gCountLines;
int gFailAt = 0;

void CountHook(vlVMState* L, vlDebugInfo* ar, int* err, vlCallInfo*) {
  *err = 0;
  if (ar->event != VL_HOOK_COUNT) return;
  gCountEvents++;
  vlDebugInfo where{};
  if (vl::GetStackLevel(L, 0, &where) && vl::GetDebugInfo(L, "l", &where))
    gCountLines.push_back(where.currentline);
  if (gCountEvents == gFailAt) *err = ERR_USERABORT;
}

// 40 instructions, each on its own line 1..40, storing the line in "x".
std::string FortyLines() {
  std::string s;
  for (int i = 1; i <= 39; i++) {
    s += ".line " + std::to_string(i) + "\n";
    s += i % 2 ? "loadk 0 #" + std::to_string(i) + "\n" : "setglobal 0 \"x\"\n";
  }
  return s + ".line 40\nret\n";
}

// A line hook that lets a library's exception go (the event pump's redraw
// running out of memory): the script ends with the error, the process goes on.
void ThrowingHook(vlVMState*, vlDebugInfo* ar, int* err, vlCallInfo*) {
  *err = 0;
  if (ar->event == VL_HOOK_LINE && ar->currentline == 20) throw std::bad_alloc();
}

TEST_F(VmTest, AnExceptionOfTheLineHookIsOutOfMemory) {
  vl::SetVmHook(L, ThrowingHook, VL_MASK_LINE, 0);
  EXPECT_EQ(RunScript(L, FortyLines()), ERR_MEM);
  EXPECT_EQ(GlobalNumber(L, "x"), 17);  // line 20 never ran
  vl::SetVmHook(L, ThrowingHook, 0, 0);
  ASSERT_EQ(RunScript(L, FortyLines()), 0);
}

TEST_F(VmTest, CountHookFiresEveryTenInstructionsAndItsErrorStopsThere) {
  gCountEvents = 0;
  gCountLines.clear();
  gFailAt = 0;
  EXPECT_EQ(vl::SetVmHook(L, CountHook, VL_MASK_COUNT, 10), 1);
  ASSERT_EQ(RunScript(L, FortyLines()), 0);
  EXPECT_EQ(gCountEvents, 4);
  EXPECT_EQ(gCountLines, (std::vector<int>{10, 20, 30, 40}));
  // The second event reports an error: instruction 20 never runs.
  gCountEvents = 0;
  gCountLines.clear();
  gFailAt = 2;
  vl::SetVmHook(L, CountHook, VL_MASK_COUNT, 10);
  EXPECT_EQ(RunScript(L, FortyLines()), ERR_USERABORT);
  EXPECT_EQ(GlobalNumber(L, "x"), 17);
  EXPECT_EQ(L->g->errorLineDefault, 20);
  // A null hook or an empty mask switches hooks off.
  vl::SetVmHook(L, CountHook, 0, 10);
  EXPECT_EQ(L->hook, nullptr);
  EXPECT_EQ(L->hookMask, 0);
  gCountEvents = 0;
  ASSERT_EQ(RunScript(L, FortyLines()), 0);
  EXPECT_EQ(gCountEvents, 0);
}

}  // namespace

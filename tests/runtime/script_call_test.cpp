// Script commands called by name, file-name arguments and source positions,
// on a real VM state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/linked_files.h"
#include "runtime/objects.h"
#include "runtime/script_call.h"
#include "runtime/source_position.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

std::vector<std::string> g_seen;

// Records how each argument arrived and returns two results.
int Recorder(vlVMState* L) {
  g_seen.clear();
  for (int i = 1; i <= vl::GetStackTop(L); ++i) {
    int tag = vl::GetTypeAt(L, i);
    if (tag == VL_TNUMBER) g_seen.push_back("n:" + std::to_string(vl::ToNumberAt(L, i)));
    else if (tag == VL_TSTRING) g_seen.push_back(std::string("s:") + vl::ToStringAt(L, i));
    else if (tag == VL_TNIL) g_seen.push_back("nil");
    else if (tag == VL_TLIGHTUSERDATA) g_seen.push_back("p");
    else g_seen.push_back("?");
  }
  vl::PushNumber(L, 42);
  vl::PushString(L, "done");
  return 2;
}

int Failing(vlVMState*) { return ERR_READFILE; }

class ScriptCall : public testing::Test {
 protected:
  void SetUp() override {
    L = vl::OpenVmState();
    ASSERT_NE(L, nullptr);
    for (auto [name, fn] : {std::pair<const char*, vlNativeFn>{"recorder", Recorder}, {"failing", Failing}}) {
      vl::PushString(L, name);
      vl::PushNativeClosure(L, fn, 0);
      vl::SetTableValue(L, vl::kGlobalsIndex);
    }
  }
  void TearDown() override {
    vl::CloseVmState(L);
    FreeLinkedFiles();
    FreeIncludeEntries();
    ResetCurrentFunction();
  }
  vlVMState* L = nullptr;
};

TEST_F(ScriptCall, PushesEachKindAndKeepsTheResults) {
  int marker = 0;
  vlObjectId numbered{7, nullptr}, automatic{0, &marker};
  int rc = -1;
  int code = vl::RunProtectedFn(L, [&] {
    rc = CallScriptCommand(L, "ReCoRdEr", 2, 7, VL_CALLARG_INT, -5, VL_CALLARG_UNSIGNED, 4000000000u, VL_CALLARG_TEXT,
                           "pic.png", VL_CALLARG_NIL, nullptr, VL_CALLARG_POINTER, &marker, VL_CALLARG_OBJECTID,
                           &numbered, VL_CALLARG_OBJECTID, &automatic);
  });
  ASSERT_EQ(code, 0);
  EXPECT_EQ(rc, 0);
  std::vector<std::string> expected = {"n:" + std::to_string(-5.0), "n:" + std::to_string(4000000000.0),
                                       "s:pic.png", "nil", "p", "n:" + std::to_string(7.0), "p"};
  EXPECT_EQ(g_seen, expected);
  ASSERT_EQ(vl::GetStackTop(L), 2);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 42);
  EXPECT_STREQ(vl::ToStringAt(L, 2), "done");
}

TEST_F(ScriptCall, ErrorsUnwindToTheCallersProtection) {
  int code = vl::RunProtectedFn(L, [&] { CallScriptCommand(L, "Failing", 0, 0); });
  EXPECT_EQ(code, ERR_READFILE);
}

TEST_F(ScriptCall, FileNameArgumentsResolveLinkedFiles) {
  SetContainerBase(0);
  SetRunningScriptPath("/apps/demo.vla");
  ASSERT_EQ(AddLinkedFile("GFX/Pic.PNG", "", 10, 20), 0);
  vl::PushString(L, "gfx\\pic.png");
  vl::PushString(L, "other.png");
  std::string a, b;
  int code = vl::RunProtectedFn(L, [&] {
    a = GetFileNameArg(L, 1, 0, nullptr);
    b = GetFileNameArg(L, 2, 0, nullptr);
  });
  ASSERT_EQ(code, 0);
  EXPECT_EQ(a, ":::chunk10:20*GFX/Pic.PNG?/apps/demo.vla");
  EXPECT_EQ(b, "other.png");
  vl::PushNewTable(L);
  code = vl::RunProtectedFn(L, [&] { GetFileNameArg(L, 3, 0, nullptr); });
  EXPECT_NE(code, 0);  // a table is not a file name
  SetRunningScriptPath(nullptr);
}

TEST_F(ScriptCall, RecordsComeFromTheRegistry) {
  EXPECT_EQ(GetAppletRecord(L), nullptr);
  EXPECT_EQ(GetAppletRecord(nullptr), nullptr);
  int applet = 0, clargs = 0;
  vl::SetRegistryPointer(L, "applet", &applet);
  vl::SetRegistryPointer(L, "clargs", &clargs);
  EXPECT_EQ(static_cast<void*>(GetAppletRecord(L)), &applet);
  EXPECT_EQ(static_cast<void*>(GetCmdArgsRecord(L)), &clargs);
}

TEST_F(ScriptCall, SourcePositionsOfAPlainChunk) {
  vl::SetRegistryString(L, "script", "main.vls");
  vl::SetRegistryNumber(L, "beginline", 3);
  SetCurrentErrorLine(10);
  EXPECT_STREQ(GetCurrentSourceFile(L), "main.vls");
  EXPECT_EQ(GetCurrentSourceLine(L), 8);
  // Includes merged into this chunk add their lines.
  ASSERT_EQ(AddIncludeEntry(20, 29, 0, "MAIN.VLS", "x"), 0);
  ASSERT_EQ(AddIncludeEntry(40, 44, 0, "main.vls", "y"), 0);
  ASSERT_EQ(AddIncludeEntry(50, 99, 0, "other.vls", "y"), 0);
  EXPECT_EQ(GetCurrentSourceLine(L), 8 + 9 + 4);
}

TEST_F(ScriptCall, SourcePositionsThroughTheIncludeMap) {
  vl::SetRegistryString(L, "script", ":none:");
  ASSERT_EQ(AddIncludeEntry(1, 100, 0, "main.vls", "applet"), 0);
  ASSERT_EQ(AddIncludeEntry(101, 150, 10, "lib/util.vls", "applet"), 0);
  ASSERT_EQ(AddIncludeEntry(101, 150, 0, "elsewhere.vls", "other"), 0);
  SetErrorSourceFile("applet");
  SetCurrentErrorLine(120);
  EXPECT_STREQ(GetCurrentSourceFile(L), "lib/util.vls");
  EXPECT_EQ(GetCurrentSourceLine(L), 120 + 10 + 1 - 101);
  SetCurrentErrorLine(500);
  EXPECT_STREQ(GetCurrentSourceFile(L), "");
  EXPECT_EQ(GetCurrentSourceLine(L), -1);
  // A source buffer starting with '?' counts as empty.
  SetErrorSourceFile("?");
  SetCurrentErrorLine(5);
  EXPECT_EQ(GetCurrentSourceLine(L), -1);
  ASSERT_EQ(AddIncludeEntry(1, 9, 0, "anon.vls", ""), 0);
  EXPECT_STREQ(GetCurrentSourceFile(L), "anon.vls");
  EXPECT_EQ(GetCurrentSourceLine(L), 5);
}

}  // namespace

// The error system plugged into a real VM, driven by assembled scripts:
// argument counts, error codes returned by commands with raising on and
// off, the script's error function, and the requester text naming the
// failing function.
#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

#include "runtime/error_commands.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/runtime_options.h"
#include "runtime/script_version.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int TwoOrThree(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vl::PushNumber(L, vl::GetStackTop(L));
  return 1;
}
int NoArgs(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return 0;
}
int AtLeastTwo(vlVMState* L) {
  CheckArgs(L, 2, 0, 0, 0);
  vl::PushNumber(L, vl::GetStackTop(L));
  return 1;
}
int NewFeature(vlVMState* L) {
  CheckArgs(L, 0, 0, 6, 0);
  return 0;
}
int Failing(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  SetErrorArgIndex(7);
  return ERR_FINDTIMER;
}

int Throws(vlVMState* L) {
  // A handler that lets a library's exception go.
  if (vl::GetStackTop(L) > 0) throw std::out_of_range("index");
  throw std::bad_alloc();
}

const vlCommand kCommands[] = {
    {"Throws", Throws},         {"TwoOrThree", TwoOrThree}, {"NoArgs", NoArgs},        {"AtLeastTwo", AtLeastTwo},
    {"NewFeature", NewFeature}, {"Failing", Failing},      {"GetLastError", CmdGetLastError},
    {"Error", CmdError},        {"RaiseOnError", CmdRaiseOnError}, {"ExitOnError", CmdExitOnError},
    {nullptr, nullptr}};

class ErrorScripts : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    vlOptions.sourcePositionsKnown = 1;
    for (const vlCommand* c = kCommands; c->name; ++c) {
      std::string lower = c->name;
      for (char& ch : lower) ch = static_cast<char>(tolower(ch));
      vltest::SetGlobalNative(L, lower.c_str(), c->handler);
    }
    ASSERT_EQ(RegisterLibrary(kCommands, "test"), 0);
    ResetCurrentFunction();
  }
  void TearDown() override {
    FreeObjectRegistries();
    HandlerTest::TearDown();
  }

  int Run(const std::string& body) {
    L->g->quitDefault = 0;
    ResetCurrentFunction();
    return vltest::RunScript(L, ".source \"@games/demo.vls\"\n.line 1\n" + body + "\nret\n");
  }

  std::string Requester(int code) {
    char message[kErrorTextSize];
    GetErrorText(code, message, sizeof message);
    testing::internal::CaptureStdout();
    ShowErrorRequester(L, message, 0, 0);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(ErrorScripts, ArgumentCounts) {
  EXPECT_EQ(Run(".call twoorthree 1 -> r"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call twoorthree 1 2 -> r"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 2);
  EXPECT_EQ(Run(".call twoorthree 1 2 3 -> r"), 0);
  EXPECT_EQ(Run(".call twoorthree 1 2 3 4 -> r"), ERR_TOOMANYARGS);
  EXPECT_EQ(Run(".call noargs"), 0);
  EXPECT_EQ(Run(".call noargs nil"), ERR_TOOMANYARGS);
  EXPECT_EQ(Run(".call atleasttwo 1"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call atleasttwo 1 2 3 4 5 6 7 8 9 -> r"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 9);
}

TEST_F(ErrorScripts, VersionCheck) {
  EXPECT_EQ(Run(".call newfeature"), 0);
  SetScriptVersion(5, 0);
  EXPECT_EQ(Run(".call newfeature"), ERR_OLDAPPLET);
  char text[kErrorTextSize];
  GetErrorText(ERR_OLDAPPLET, text, sizeof text);
  EXPECT_STREQ(text, "This functionality is only available to applets compiled by Vellamora 6.0 or higher!");
  ClearScriptVersion();
}

TEST_F(ErrorScripts, RaisedInsideACommandNamesTheCommand) {
  EXPECT_EQ(Run(".line 3\n.call twoorthree 1"), ERR_MISSINGPARAMTR);
  EXPECT_STREQ(GetCurrentFunctionName(), "TwoOrThree");
  EXPECT_EQ(GetCurrentErrorLine(), 3);
  EXPECT_EQ(Requester(ERR_MISSINGPARAMTR),
            "Not enough arguments!\nFile: demo.vls (current line: 3 - In function: TwoOrThree)\n");
}

TEST_F(ErrorScripts, ReturnedCodeWithRaisingOn) {
  EXPECT_EQ(Run(".line 4\n.call failing"), ERR_FINDTIMER);
  EXPECT_EQ(L->g->quitDefault, 1);
  EXPECT_EQ(GetLastErrorCode(), ERR_FINDTIMER);
  // the command has returned: the main chunk is the failing function
  EXPECT_STREQ(GetCurrentFunctionName(), "<<unnamed>>");
  EXPECT_EQ(Requester(ERR_FINDTIMER),
            "Could not find timer 7!\nFile: demo.vls (current line: 4 - In function: <<unnamed>>)\n");
}

TEST_F(ErrorScripts, ExceptionsOfAHandlerBecomeErrorCodes) {
  EXPECT_EQ(Run(".call throws"), ERR_MEM);
  EXPECT_EQ(Run(".call throws 1"), ERR_INTERNAL);
  // With raising off the script goes on after the command.
  EXPECT_EQ(Run(".call exitonerror 0\n.call throws\n.call getlasterror -> e\n.call twoorthree 1 2 -> after"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "e"), ERR_MEM);
  EXPECT_EQ(vltest::GlobalNumber(L, "after"), 2);
}

TEST_F(ErrorScripts, ScriptFunctionsAreNamed) {
  EXPECT_EQ(Run(".function helper\n.line 8\n.call failing\nret\n.end\n.defun Helper helper\n.line 2\n.call Helper"),
            ERR_FINDTIMER);
  EXPECT_STREQ(GetCurrentFunctionName(), "Helper");
  EXPECT_EQ(GetCurrentErrorLine(), 8);
}

TEST_F(ErrorScripts, ReturnedCodeWithRaisingOff) {
  EXPECT_EQ(Run(".call exitonerror 0\n.call failing -> r\n.call getlasterror -> e\n.call getlasterror -> e2\n"
                ".call twoorthree 1 2 -> after"),
            0);
  EXPECT_EQ(L->g->quitDefault, 0);
  EXPECT_TRUE(std::isnan(vltest::GlobalNumber(L, "r")));
  EXPECT_EQ(vltest::GlobalNumber(L, "e"), ERR_FINDTIMER);
  EXPECT_EQ(vltest::GlobalNumber(L, "e2"), ERR_FINDTIMER);
  EXPECT_EQ(vltest::GlobalNumber(L, "after"), 2);
  EXPECT_FALSE(CurrentFunctionKnown());
  // the requester's short form when no function is known
  SetErrorSourceFile("@games/demo.vls");
  SetCurrentErrorLine(5);
  EXPECT_EQ(Requester(ERR_MEM), "Out of memory!\nFile: demo.vls (current line: 5)\n");
  // the next command clears the last error
  EXPECT_EQ(Run(".call twoorthree 1 2\n.call getlasterror -> e"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "e"), 0);
}

TEST_F(ErrorScripts, ErrorFunctionTakesTheError) {
  std::string script = ".function handler\n.params 4\n"
           "setglobal 0 \"code\"\nsetglobal 1 \"text\"\nsetglobal 2 \"fname\"\nsetglobal 3 \"line\"\nret\n.end\n"
           ".call raiseonerror fn:handler\n.line 6\n.call failing -> r\n.call twoorthree 1 2 -> after";
  EXPECT_EQ(Run(script), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "code"), ERR_FINDTIMER);
  EXPECT_EQ(vltest::GlobalString(L, "text"), "Could not find timer 7!");
  // the command's record is still on the stack when its error function runs
  EXPECT_EQ(vltest::GlobalString(L, "fname"), "Failing");
  EXPECT_EQ(vltest::GlobalNumber(L, "line"), 6);
  EXPECT_EQ(vltest::GlobalNumber(L, "after"), 2);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
}

TEST_F(ErrorScripts, ErrorCommandStopsWithItsText) {
  EXPECT_EQ(Run(".call error \"Disk 50% full %s\""), ERR_ERRORCALLED);
  char text[kErrorTextSize];
  GetErrorText(ERR_ERRORCALLED, text, sizeof text);
  EXPECT_STREQ(text, "Disk 50% full %s");
}

}  // namespace

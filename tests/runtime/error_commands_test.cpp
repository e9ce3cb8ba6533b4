// The error commands, CheckArgs and the raise path, called as handlers on a
// real VM stack with the error system plugged into the VM.
#include <gtest/gtest.h>

#include <string>

#include "runtime/error_commands.h"
#include "runtime/run_state.h"
#include "tests/runtime/handler_test_util.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/runtime_options.h"
#include "runtime/script_version.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

class ErrorCommands : public vltest::HandlerTest {
 protected:
  int Check(int args, int min, int max, int major = 0, int minor = 0) {
    vl::SetStackTop(L, 0);
    for (int i = 0; i < args; ++i) vl::PushNumber(L, i);
    return vl::RunProtectedFn(L, [&] { EXPECT_EQ(CheckArgs(L, min, max, major, minor), L); });
  }

};

TEST_F(ErrorCommands, CheckArgsCounts) {
  EXPECT_EQ(Check(1, 2, 3), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Check(2, 2, 3), 0);
  EXPECT_EQ(Check(3, 2, 3), 0);
  EXPECT_EQ(Check(4, 2, 3), ERR_TOOMANYARGS);
  EXPECT_EQ(Check(0, 0, 0), 0);
  EXPECT_EQ(Check(1, 0, 0), ERR_TOOMANYARGS);
  EXPECT_EQ(Check(1, 2, 0), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Check(2, 2, 0), 0);
  EXPECT_EQ(Check(40, 2, 0), 0);
  EXPECT_EQ(Check(5, 0, 1), ERR_TOOMANYARGS);
}

TEST_F(ErrorCommands, CheckArgsVersion) {
  EXPECT_EQ(Check(0, 0, 0, 6, 0), 0);  // no container read: everything allowed
  SetScriptVersion(5, 9);
  EXPECT_EQ(Check(0, 0, 0, 6, 0), ERR_OLDAPPLET);
  EXPECT_STREQ(GetErrorArgument(), "6.0");
  EXPECT_EQ(Check(0, 0, 0, 5, 9), 0);
  SetScriptVersion(6, 1);
  EXPECT_EQ(Check(0, 0, 0, 6, 1), 0);
  EXPECT_EQ(Check(0, 0, 0, 6, 2), ERR_OLDAPPLET);
  char text[kErrorTextSize];
  GetErrorText(ERR_OLDAPPLET, text, sizeof text);
  EXPECT_STREQ(text, "This functionality is only available to applets compiled by Vellamora 6.2 or higher!");
  ClearScriptVersion();
}

TEST_F(ErrorCommands, StoreAndRaiseFourWays) {
  volatile int quit = 0;
  L->g->host.quitFlag = &quit;
  auto store = [&](int code) { return vl::RunProtectedFn(L, [&] { StoreAndRaiseError(L, code); }); };

  // raising off, outside callbacks: stored, record forgotten, script goes on
  vlOptions.errorRaising = 0;
  SetCurrentFunctionName("Stale");
  EXPECT_EQ(store(ERR_MEM), 0);
  EXPECT_EQ(GetLastErrorCode(), ERR_MEM);
  EXPECT_FALSE(CurrentFunctionKnown());
  EXPECT_EQ(quit, 0);

  // raising off inside a callback: stored only
  vlOptions.callbackNesting = 1;
  SetCurrentFunctionName("Kept");
  EXPECT_EQ(store(ERR_READ), 0);
  EXPECT_EQ(GetLastErrorCode(), ERR_READ);
  EXPECT_STREQ(GetCurrentFunctionName(), "Kept");
  EXPECT_EQ(quit, 0);

  // raising on inside a callback: raised, the script is not ended
  vlOptions.errorRaising = 1;
  EXPECT_EQ(store(ERR_WRITE), ERR_WRITE);
  EXPECT_EQ(GetLastErrorCode(), ERR_WRITE);
  EXPECT_EQ(quit, 0);

  // raising on outside callbacks: raised and the quit flag set
  vlOptions.callbackNesting = 0;
  EXPECT_EQ(store(ERR_ARGS), ERR_ARGS);
  EXPECT_EQ(quit, 1);
  EXPECT_EQ(GetLastErrorCode(), ERR_ARGS);
}

TEST_F(ErrorCommands, LastErrorSurvivesReading) {
  SetLastErrorCode(ERR_READFILE);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Call(CmdGetLastError), 1);
    EXPECT_EQ(vl::ToNumberAt(L, -1), ERR_READFILE);
  }
  // the VM clears it before any other command, never before GetLastError
  L->g->host.clearLastError(L, CmdGetLastError);
  EXPECT_EQ(GetLastErrorCode(), ERR_READFILE);
  L->g->host.clearLastError(L, CmdAssert);
  EXPECT_EQ(GetLastErrorCode(), 0);
  EXPECT_EQ(Call(CmdGetLastError, [&] { vl::PushNumber(L, 1); }), ERR_TOOMANYARGS);
}

TEST_F(ErrorCommands, ErrorTextIsShownVerbatim) {
  EXPECT_EQ(Call(CmdError, [&] { vl::PushString(L, "50% done %s %d"); }), ERR_ERRORCALLED);
  ASSERT_EQ(Call(CmdGetErrorName, [&] { vl::PushNumber(L, ERR_ERRORCALLED); }), 1);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "50% done %s %d");
}

TEST_F(ErrorCommands, ErrorNames) {
  SetErrorArgument("data/sub/pic.png");
  ASSERT_EQ(Call(CmdGetErrorName, [&] { vl::PushNumber(L, ERR_READFILE); }), 1);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "Cannot read file pic.png !");
  ASSERT_EQ(Call(CmdGetErrorName, [&] { vl::PushNumber(L, 1581); }), 1);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "Unknown error code!");
  ASSERT_EQ(RegisterUserError("My own error"), 1581);
  ASSERT_EQ(Call(CmdGetErrorName, [&] { vl::PushNumber(L, 1581); }), 1);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "My own error");
}

TEST_F(ErrorCommands, AssertPassesValuesThrough) {
  EXPECT_EQ(Call(CmdAssert, [&] { vl::PushNil(L); }), ERR_ASSERTFAILED);
  EXPECT_EQ(Call(CmdAssert, [&] { vl::PushNumber(L, 0); }), ERR_ASSERTFAILED);
  ASSERT_EQ(Call(CmdAssert, [&] { vl::PushString(L, "0"); }), 1);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "0");
  ASSERT_EQ(Call(CmdAssert, [&] { vl::PushNumber(L, -2); }), 1);
  EXPECT_EQ(vl::ToNumberAt(L, -1), -2);
  // -NODEBUG: Assert checks nothing and returns nothing.
  vlStartup.noDebug = 1;
  EXPECT_EQ(Call(CmdAssert, [&] { vl::PushNil(L); }), 0);
  vlStartup.noDebug = 0;
}

int gHandlerCalls;
double gHandlerCode;
std::string gHandlerText, gHandlerName;
double gHandlerLine;
int gHandlerNesting;

int RecordingHandler(vlVMState* L) {
  ++gHandlerCalls;
  gHandlerCode = vl::ToNumberAt(L, 1);
  gHandlerText = vl::ToStringAt(L, 2);
  gHandlerName = vl::ToStringAt(L, 3);
  gHandlerLine = vl::ToNumberAt(L, 4);
  gHandlerNesting = vlOptions.callbackNesting;
  return vl::GetStackTop(L) == 4 ? 0 : ERR_ARGS;
}

TEST_F(ErrorCommands, RaiseOnErrorAndTheHandlerCall) {
  auto install = [&](bool fn) {
    return Call(CmdRaiseOnError, [&] {
      if (fn)
        vl::PushNativeClosure(L, RecordingHandler, 0);
      else
        vl::PushNil(L);
    });
  };
  EXPECT_EQ(GetUserErrorHandler(), -1);
  EXPECT_EQ(install(true), 0);
  EXPECT_GE(GetUserErrorHandler(), 0);
  EXPECT_EQ(L->g->host.hasUserErrorHandler(L), 1);
  EXPECT_EQ(Call(CmdRaiseOnError, [&] { vl::PushNumber(L, 3); }), ERR_FUNCEXPECTED);

  // errors cannot be switched off while a handler is installed
  EXPECT_EQ(Call(CmdExitOnError, [&] { vl::PushNumber(L, 0); }), ERR_WRONGUSAGE);
  EXPECT_EQ(vlOptions.errorRaising, 1u);

  vl::SetStackTop(L, 0);
  SetCurrentFunctionName("DisplayBrush");
  SetCurrentErrorLine(17);
  SetErrorArgIndex(2);
  int status = L->g->host.callUserErrorHandler(L, ERR_NUMEXPECTED);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(gHandlerCalls, 1);
  EXPECT_EQ(gHandlerCode, ERR_NUMEXPECTED);
  EXPECT_EQ(gHandlerText, "Number expected in argument 2!");
  EXPECT_EQ(gHandlerName, "DisplayBrush");
  EXPECT_EQ(gHandlerLine, 17);
  EXPECT_EQ(gHandlerNesting, 1);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  EXPECT_FALSE(CurrentFunctionKnown());
  EXPECT_EQ(vl::GetStackTop(L), 0);

  EXPECT_EQ(install(false), 0);
  EXPECT_EQ(GetUserErrorHandler(), -1);
  EXPECT_EQ(Call(CmdExitOnError, [&] { vl::PushNumber(L, 0); }), 0);
  EXPECT_EQ(vlOptions.errorRaising, 0u);
  // with raising off the handler cannot be installed
  EXPECT_EQ(install(true), ERR_WRONGUSAGE);
  EXPECT_EQ(Call(CmdExitOnError, [&] { vl::PushNumber(L, 1); }), 0);
  EXPECT_EQ(vlOptions.errorRaising, 1u);
}

TEST_F(ErrorCommands, RequesterWithSourcePositions) {
  testing::internal::CaptureStdout();
  SetErrorSourceFile("games/demo.vls");
  ResetCurrentFunction();
  SetCurrentErrorLine(9);
  vlOptions.sourcePositionsKnown = 1;
  ShowErrorRequester(L, "Out of memory!", 0, 0);
  SetCurrentFunctionName("<<unnamed>>");
  ShowErrorRequester(L, "Out of memory!", 0, 0);
  ShowErrorRequester(L, "Out of memory!", 1, 0);
  vlOptions.sourcePositionsKnown = 0;
  ShowErrorRequester(L, "Out of memory!", 0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Out of memory!\nFile: demo.vls (current line: 9)\n"
            "Out of memory!\nFile: demo.vls (current line: 9 - In function: <<unnamed>>)\n"
            "Out of memory!\nOut of memory!\n");
  char text[kErrorTextSize];
  const char* file = "x";
  int line = 5;
  GetErrorInfo(L, ERR_MEM, text, sizeof text, &file, &line);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(line, 0);
  vlOptions.sourcePositionsKnown = 1;
  GetErrorInfo(L, ERR_MEM, text, sizeof text, &file, &line);
  EXPECT_STREQ(file, "games/demo.vls");
  EXPECT_EQ(line, 9);
}

}  // namespace

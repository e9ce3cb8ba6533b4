// Native commands and their result protocol, errors and their unwinding,
// the call limits, the call trace, __call and vararg tables.
#include <pthread.h>

#include <string>

#include "tests/vm/script_util.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/memory.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

using vltest::GlobalNumber;
using vltest::RunScript;
using vltest::SetGlobalNative;
using vltest::VmTest;

int PushThreeReturnTwo(vlVMState* L) {
  for (int i = 1; i <= 3; i++) vl::SetNumber(L->top++, i);
  return 2;
}
int PushOneReturnFive(vlVMState* L) {
  vl::SetNumber(L->top++, 9);
  return 5;
}
int ReturnMinusThree(vlVMState*) { return -3; }
int FailWith1089(vlVMState*) { return ERR_ZERODIVISION; }

TEST_F(VmTest, HandlerResultCountsAreClampedToWhatWasPushed) {
  SetGlobalNative(L, "three", PushThreeReturnTwo);
  SetGlobalNative(L, "five", PushOneReturnFive);
  SetGlobalNative(L, "bad", ReturnMinusThree);
  ASSERT_EQ(RunScript(L, R"(
    .call three -> a b
    .call five -> c d e f g
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "a"), 2);
  EXPECT_EQ(GlobalNumber(L, "b"), 3);
  EXPECT_EQ(GlobalNumber(L, "c"), 9);
  for (const char* n : {"d", "e", "f", "g"}) EXPECT_EQ(vltest::GetGlobal(L, n)->tag, VL_TNIL) << n;
  EXPECT_EQ(RunScript(L, ".call bad\n ret\n"), ERR_INTERNAL);
}

// Grows the stack (it moves) before leaving its last three values.
int GrowThenReturnThree(vlVMState* L) {
  vl::CheckStack(L, 4000);
  for (int i = 1; i <= 300; i++) vl::SetNumber(L->top++, i);
  return 3;
}
int Nop(vlVMState*) { return 0; }
int CountArgs(vlVMState* L) {
  vl::SetNumber(L->top, static_cast<double>(L->top - L->base));
  vlValue first = L->base[0];
  L->top++;
  *L->top++ = first;
  return 2;
}

TEST_F(VmTest, HandlerResultsReachTheCallerAfterTheStackMoved) {
  SetGlobalNative(L, "grow", GrowThenReturnThree);
  SetGlobalNative(L, "count", CountArgs);
  SetGlobalNative(L, "none", Nop);
  ASSERT_EQ(RunScript(L, R"(
    .call grow -> a b c d e
    .call grow -> w
    loadk 0 #5
    setglobal 0 "z"
    .call none -> z
    getglobal 1 "count"
    getglobal 2 "grow"
    call 2 1 0
    call 1 0 3
    setglobal 1 "n"
    setglobal 2 "first"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "a"), 298);
  EXPECT_EQ(GlobalNumber(L, "c"), 300);
  EXPECT_EQ(vltest::GetGlobal(L, "d")->tag, VL_TNIL);
  EXPECT_EQ(vltest::GetGlobal(L, "e")->tag, VL_TNIL);
  EXPECT_EQ(GlobalNumber(L, "n"), 3);
  EXPECT_EQ(GlobalNumber(L, "first"), 298);
  EXPECT_EQ(GlobalNumber(L, "w"), 298);
  EXPECT_EQ(vltest::GetGlobal(L, "z")->tag, VL_TNIL);
}

void StoreOnly(vlVMState* L, int code) { L->g->lastErrorDefault = code; }

TEST_F(VmTest, ErrorWithRaisingOffYieldsNilsAndContinues) {
  SetGlobalNative(L, "fail", FailWith1089);
  L->g->host.storeAndRaiseError = StoreOnly;
  vltest::SetGlobalNumber(L, "r", 5);
  ASSERT_EQ(RunScript(L, ".call fail -> r\n loadk 0 #1\n setglobal 0 \"after\"\n ret\n"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "r")->tag, VL_TNIL);
  EXPECT_EQ(GlobalNumber(L, "after"), 1);
  EXPECT_EQ(L->g->lastErrorDefault, ERR_ZERODIVISION);
}

uint8_t gHookFlagSeen;
int FailDeep(vlVMState* L) {
  gHookFlagSeen = L->allowHook;
  return ERR_ZERODIVISION;
}

TEST_F(VmTest, RaisedErrorUnwindsAndRestoresTheState) {
  SetGlobalNative(L, "fail", FailDeep);
  vlCallInfo* ci = L->ci;
  vlValue* base = L->base;
  EXPECT_EQ(RunScript(L, R"(
    .function inner
      .call fail
      ret
    .end
    .defun inner inner
    .function outer
      .call inner
      ret
    .end
    .defun outer outer
    .call outer
    ret
  )"), ERR_ZERODIVISION);
  EXPECT_EQ(L->ci, ci);
  EXPECT_EQ(L->base, base);
  EXPECT_EQ(L->nCcalls, 0);
  EXPECT_EQ(L->allowHook, 1);
  EXPECT_EQ(L->errorJmp, nullptr);
  ASSERT_EQ(RunScript(L, ".call outer\n ret\n"), ERR_ZERODIVISION);
  ASSERT_EQ(RunScript(L, "loadk 0 #7\n setglobal 0 \"ok\"\n ret\n"), 0);
  EXPECT_EQ(GlobalNumber(L, "ok"), 7);
}

int gHandlerCode;
int HasHandler(vlVMState*) { return 1; }
int Handler(vlVMState* L, int code) {
  gHandlerCode = code;
  vl::SetNumber(L->top++, 41);
  vl::SetNumber(L->top++, 42);
  return 2;
}

TEST_F(VmTest, UserErrorHandlerResultCountIsHonoured) {
  SetGlobalNative(L, "fail", FailWith1089);
  L->g->host.hasUserErrorHandler = HasHandler;
  L->g->host.callUserErrorHandler = Handler;
  ASSERT_EQ(RunScript(L, ".call fail -> x y\n ret\n"), 0);
  EXPECT_EQ(gHandlerCode, ERR_ZERODIVISION);
  EXPECT_EQ(GlobalNumber(L, "x"), 41);
  EXPECT_EQ(GlobalNumber(L, "y"), 42);
  EXPECT_EQ(L->g->errorHandlerGuard, 0);
}

int gJumps;
int Jumper(vlVMState* L) {
  L->g->labelJumpOffset = 1;
  return ++gJumps == 1 ? static_cast<int>(GlobalNumber(L, "kind")) : 0;
}

constexpr const char* kLabelJump = R"(
    getglobal 0 "jumper"
    call 0 1 1
    jump over
    loadk 0 #1
    setglobal 0 "landed"
    retsub
  over:
    ret
)";

TEST_F(VmTest, LabelJumpsMoveTheMainChunkOnly) {
  SetGlobalNative(L, "jumper", Jumper);
  for (int kind : {-1, -2}) {
    gJumps = 0;
    vltest::SetGlobalNumber(L, "kind", kind);
    vltest::SetGlobalNumber(L, "landed", 0);
    ASSERT_EQ(RunScript(L, kLabelJump), 0) << kind;
    EXPECT_EQ(GlobalNumber(L, "landed"), 1) << kind;
    EXPECT_EQ(gJumps, kind == -1 ? 1 : 2) << "-2 resumes before the call";
    EXPECT_EQ(L->g->returnCount, 0);
  }
  gJumps = 0;
  vltest::SetGlobalNumber(L, "kind", -1);
  vltest::SetGlobalNumber(L, "landed", 0);
  ASSERT_EQ(RunScript(L, std::string(".function f\n.linedefined 3\n") + kLabelJump + ".end\n.defun f f\n.call f\nret\n"), 0);
  EXPECT_EQ(GlobalNumber(L, "landed"), 0) << "a label jump outside the main chunk is ignored";
}

// The event dispatcher aims at a label's instruction by subtracting the
// call's own position: that position must be the instruction after the call.
int LabelJumper(vlVMState* L) {
  L->g->labelJumpOffset = 3 - vl::CallPcWord(L);  // the "loadk 0 #1" above
  return ++gJumps == 1 ? -1 : 0;
}

TEST_F(VmTest, LabelJumpsLandOnTheInstructionAimedAt) {
  SetGlobalNative(L, "jumper", LabelJumper);
  gJumps = 0;
  vltest::SetGlobalNumber(L, "landed", 0);
  ASSERT_EQ(RunScript(L, kLabelJump), 0);
  EXPECT_EQ(GlobalNumber(L, "landed"), 1);
  EXPECT_EQ(L->g->returnCount, 0);
}

TEST_F(VmTest, CallRecordLimitRaises1135AndTheVmStaysUsable) {
  EXPECT_EQ(RunScript(L, R"(
    .function down
      getglobal 0 "down"
      call 0 1 1
      ret
    .end
    .defun down down
    .call down
    ret
  )"), ERR_STACK);
  EXPECT_LE(L->sizeCi, vl::kMaxCalls);
  EXPECT_EQ(L->ci, L->baseCi);
  ASSERT_EQ(RunScript(L, std::string(".call fib 10 -> r\n ret\n").insert(0, R"(
    .function fib
      .params 1
      lt 0 0 #2
      jump rec
      return 0 2
    rec:
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
  )")), 0);
  EXPECT_EQ(GlobalNumber(L, "r"), 55);
}

int Reenter(vlVMState* L) {
  vlValue* f = L->top;
  vl::CheckStack(L, 1);
  *L->top++ = *vltest::GetGlobal(L, "again");
  (void)f;
  vl::CallFunction(L, 0, 0);
  return 0;
}

void* RecurseThread(void* arg) {
  auto* L = static_cast<vlVMState*>(arg);
  SetGlobalNative(L, "reenter", Reenter);
  int status = RunScript(L, R"(
    .function again
      .call reenter
      ret
    .end
    .defun again again
    .call again
    ret
  )");
  return reinterpret_cast<void*>(static_cast<intptr_t>(status));
}

TEST_F(VmTest, NativeRecursion200DeepRaises1135) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512u << 20);
  pthread_t th;
  ASSERT_EQ(pthread_create(&th, &attr, RecurseThread, L), 0);
  void* result = nullptr;
  pthread_join(th, &result);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(result), ERR_STACK);
  EXPECT_EQ(L->nCcalls, 0);
}

// The trace goes to standard output, line by line.
std::string Traced() {
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST_F(VmTest, TraceLinesAreExact) {
  SetGlobalNative(L, "x", Nop);
  L->g->traceFlag = 1;
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunScript(L, ".call x 1 \"a\"\n ret\n"), 0);
  EXPECT_EQ(Traced(), "Now calling x() with arguments #1=(NUMBER)1 #2=(STRING)\"a\" \n");
  // A long text comes out whole, closing quote included.
  const std::string longText(1500, 'q');
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunScript(L, ".call x \"" + longText + "\"\n ret\n"), 0);
  EXPECT_EQ(Traced(), "Now calling x() with arguments #1=(STRING)\"" + longText + "\" \n");
  // A native __index with no name of its own: the metamethod form.
  testing::internal::CaptureStdout();
  ASSERT_EQ(vl::RunProtectedFn(L, [&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    vlTable* mt = vl::CreateTable(L, 0, 0);
    vlValue k;
    vl::SetString(&k, vl::InternCString(L, "__index"));
    vl::SetClosure(vl::TableSet(L, mt, &k), vl::NewNativeClosure(L, Nop, 0));
    t->metatable = mt;
    vl::SetString(&k, vl::InternCString(L, "obj"));
    vl::SetTable(vl::TableSet(L, vl::ToTable(&L->globals), &k), t);
  }), 0);
  ASSERT_EQ(RunScript(L, "getglobal 0 \"obj\"\n getfield 1 0 \"field\"\n ret\n"), 0);
  const std::string metamethod = Traced();
  EXPECT_EQ(metamethod.rfind("Now trying to find metamethod field() with arguments #1=(TABLE)", 0), 0u) << metamethod;
  // Called from native code with no name to find.
  testing::internal::CaptureStdout();
  ASSERT_EQ(vl::RunProtectedFn(L, [&] {
    vl::SetClosure(L->top++, vl::NewNativeClosure(L, Nop, 0));
    vl::SetNil(L->top++);
    vl::CallFunction(L, 1, 0);
  }), 0);
  EXPECT_EQ(Traced(), "Now calling <unknown>() with arguments #1=(NIL) \n");
  L->g->traceFlag = 0;
}


TEST_F(VmTest, CallMetamethodVarargsAndUncallableValues) {
  ASSERT_EQ(vl::RunProtectedFn(L, [&] {
    vlTable* t = vl::CreateTable(L, 0, 0);
    vlTable* mt = vl::CreateTable(L, 0, 0);
    vlValue k;
    vl::SetString(&k, vl::InternCString(L, "__call"));
    vl::SetClosure(vl::TableSet(L, mt, &k), vl::NewNativeClosure(L, CountArgs, 0));
    t->metatable = mt;
    vl::SetString(&k, vl::InternCString(L, "callable"));
    vl::SetTable(vl::TableSet(L, vl::ToTable(&L->globals), &k), t);
  }), 0);
  ASSERT_EQ(RunScript(L, R"(
    .call callable 5 -> n self
    .function va
      .params 1
      .vararg
      getfield 2 1 #0
      setglobal 2 "e0"
      getfield 2 1 #1
      setglobal 2 "e1"
      getfield 2 1 "n"
      setglobal 2 "count"
      ret
    .end
    .defun va va
    .call va 1 "x" "y"
    ret
  )"), 0);
  EXPECT_EQ(GlobalNumber(L, "n"), 2);  // the table itself, then 5
  EXPECT_EQ(vltest::GetGlobal(L, "self")->tag, VL_TTABLE);
  EXPECT_EQ(vltest::GlobalString(L, "e0"), "x");
  EXPECT_EQ(vltest::GlobalString(L, "e1"), "y");
  EXPECT_EQ(GlobalNumber(L, "count"), 2);
  EXPECT_EQ(RunScript(L, ".call f\n ret\n"), ERR_FUNCDECLA);
  EXPECT_STREQ(L->g->errorArgDefault, "f()");
}

// A plug-in command hook whose error function takes service raises.
int gTaken;
int TakeErrors(vlVMState*, int code) {
  gTaken = code;
  return 1;
}
int gServiceResult;
int HookThatReadsABadArgument(vlVMState* L, vlNativeFn, int* result) {
  gServiceResult = vl::RaiseVmErrorFromService(L, ERR_NUMEXPECTED);
  *result = 0;
  return 1;
}
int HookThatRunsOutOfMemory(vlVMState* L, vlNativeFn, int* result) {
  L->g->allocFailCountdown = 1;
  vl::NewVector<char>(L, 100);
  *result = 0;
  return 1;
}

TEST_F(VmTest, CommandHookErrorsReturnOnlyFromServices) {
  SetGlobalNative(L, "cmd", Nop);
  L->g->host.forwardErrorToPlugin = TakeErrors;
  L->g->host.callCommandHook = HookThatReadsABadArgument;
  gServiceResult = 0;
  EXPECT_EQ(RunScript(L, ".call cmd\n loadk 0 #1\n setglobal 0 \"after\"\n ret\n"), 0);
  EXPECT_EQ(gServiceResult, 1);
  EXPECT_EQ(GlobalNumber(L, "after"), 1);
  L->g->host.callCommandHook = HookThatRunsOutOfMemory;
  gTaken = 0;
  EXPECT_EQ(RunScript(L, ".call cmd\n ret\n"), ERR_MEM);
  EXPECT_EQ(gTaken, ERR_MEM) << "the hook's error function is still told";
  L->g->host.callCommandHook = [](vlVMState*, vlNativeFn, int*) { return 0; };
}

TEST(VmPanic, UnprotectedErrorEndsTheProcessWithNonZeroStatus) {
  EXPECT_EXIT(
      {
        vlVMState* L = vl::OpenVmState();
        vl::RaiseVmError(L, ERR_STACK);
      },
      ::testing::ExitedWithCode(1), "");
}

}  // namespace

// A VM with the error system plugged in, for tests that call command
// handlers directly on its stack.
#pragma once
#include <gtest/gtest.h>

#include "runtime/error_vm.h"
#include "player/object_commands.h"
#include "runtime/runtime_options.h"
#include "vm/auxlib.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace vltest {

class HandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    L = vl::OpenVmState();
    ASSERT_NE(L, nullptr);
    InstallErrorSystem(L);
    vlOptions.errorRaising = 1;
    vlOptions.callbackNesting = 0;
  }
  void TearDown() override {
    FreeErrorSystem(L);
    vl::CloseVmState(L);
  }

  // Calls a handler with the values pushed by args as its arguments: the
  // handler's result (count or code), or the code it raised. The results
  // stay on the stack.
  template <class Args>
  int Call(int (*handler)(vlVMState*), Args&& args) {
    vl::SetStackTop(L, 0);
    args();
    int result = 0;
    int raised = vl::RunProtectedFn(L, [&] { result = handler(L); });
    return raised ? raised : result;
  }
  int Call(int (*handler)(vlVMState*)) {
    return Call(handler, [] {});
  }

  // Makes the object commands callable from scripts run on this VM, as the
  // system library does.
  void OpenObjectCommands() {
    static const vlCommand kCommands[] = {
        {"HaveObject", CmdHaveObject}, {"GetObjectType", CmdGetObjectType}, {"GetObjects", CmdGetObjects},
        {"SetObjectData", CmdSetObjectData}, {"GetObjectData", CmdGetObjectData}, {nullptr, nullptr}};
    const int top = vl::GetStackTop(L);
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    vl::RegisterCommands(L, nullptr, kCommands, 0);
    vl::SetStackTop(L, top);
  }

  vlVMState* L = nullptr;
};

}  // namespace vltest

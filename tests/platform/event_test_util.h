// A VM with the error system, the pending-event queue, the wake pipe and
// the event commands, for scripts that wait on and dispatch real events.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "display/events/event_dispatch.h"
#include "display/events/event_library.h"
#include "platform/event_pump.h"
#include "display/events/event_types.h"
#include "platform/timers.h"
#include "platform/wake_pipe.h"
#include "runtime/event_queue.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/auxlib.h"
#include "vm/stack_api.h"

namespace vltest {

class EventTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ASSERT_EQ(InitEventQueue(), 0);
    ASSERT_EQ(OpenWakePipe(), 0);
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    ASSERT_EQ(OpenEventLibrary(L), 0);
    SetGlobalNative(L, "enablelinehook", CmdEnableLineHook);
    SetGlobalNative(L, "disablelinehook", CmdDisableLineHook);
    vl::SetStackTop(L, 0);
    InstallScriptLineHook(L);
  }
  void TearDown() override {
    SetEventShutdown(0);
    gLineHookSuspended = 0;
    gDispatchSuspended = 0;
    FreeEventQueue(L);
    FreeEventLibrary(L);
    FreeEventQueueMutex();
    ShutdownTimers();
    CloseWakePipe();
    HandlerTest::TearDown();
  }

  // An error that ends a script also sets the quit flag; the next script
  // of a test starts afresh.
  void ClearQuit() { *L->g->host.quitFlag = 0; }

  // Makes the script global name the handler of a registered type.
  void SetTypeHandler(uint32_t code, const char* function, const char* userdata = nullptr) {
    vlEventType* type = EventTypeByCode(code);
    ASSERT_NE(type, nullptr);
    vl::PushString(L, function);
    vl::GetTableValue(L, vl::kGlobalsIndex);
    type->handler.functionRef = vl::CreateRef(L, vl::kRegistryIndex);
    if (userdata) {
      vl::PushString(L, userdata);
      type->handler.userdataRef = vl::CreateRef(L, vl::kRegistryIndex);
    }
  }

  // Field key of the table in global name: pushed on the stack.
  void PushField(const char* global, const char* key) {
    vl::PushString(L, global);
    vl::GetTableValue(L, vl::kGlobalsIndex);
    vl::PushString(L, key);
    vl::GetTableValue(L, -2);
    vl::RemoveSlot(L, -2);
  }
  double NumberField(const char* global, const char* key) {
    PushField(global, key);
    double n = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    return n;
  }
  std::string StringField(const char* global, const char* key) {
    PushField(global, key);
    const char* s = vl::ToStringAt(L, -1);
    std::string out = s ? s : "<nil>";
    vl::SetStackTop(L, -2);
    return out;
  }
};

}  // namespace vltest

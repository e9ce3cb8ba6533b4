// Event services for plug-ins: the registry of plug-in event types, posting
// adapter input and quit requests into the pending-event queue, and running
// a registered type's handler at once.
#pragma once
#include <cstdint>

#include "display/events/event_dispatch.h"

struct vlVMState;

using vlEventFieldFn = void (*)(vlVMState* state, uint32_t code, void* data);
// Kind 1: the number of arguments pushed, -1 for nothing to call, or -error.
using vlEventCallFn = int (*)(vlVMState* state, uint32_t code, void* data);
using vlEventAfterFn = void (*)(vlVMState* state, uint32_t code, void* data);
using vlEventFreeFn = void (*)(vlVMState* state, uint32_t code, void* data);

// One registered type; the name is copied right after the record.
struct vlEventType {
  vlEventType* next;
  const char* name;
  uint32_t code;  // 28 and up
  uint32_t kind;  // 0: field routine; 1: call, after-call and free entries
  vlHandlerSlot handler;
  vlEventFieldFn fields;
  vlEventCallFn call;
  vlEventAfterFn afterCall;
  vlEventFreeFn freeData;
  uint32_t callKind;  // 2: through the plug-in frame call
};

// The callbacks argument points at one word (kind 0) or three (kind 1).
// The new code, or 0 when the name is taken (without case) or memory runs
// out.
uint32_t RegisterEventType(const char* name, uint32_t kind, void* const* callbacks, uint32_t callKind);
vlEventType* FirstEventType();
vlEventType* EventTypeByCode(uint32_t code);
vlEventType* EventTypeByName(const char* name);
// The handler's function reference (-1 when none); a {tag, pointer} list
// ended by tag 0 whose tag 1 receives the userdata reference.
int32_t FindEventType(const char* name, uintptr_t* tags);
// Drops every type and the handlers' references (shut-down).
void FreeEventTypes(vlVMState* state);

// Sets the quit flag and posts a quit request: PostEvent's result.
int PostQuitRequest();
// Input from a display-adapter plug-in: kind and five pointer-sized words,
// the first a
// display number. 0, 1528 when the queue refuses the event, 1344 when no
// display has that number, or 1000. Any thread.
int PostAdapterEventVM(vlVMState* state, uint32_t kind, const uintptr_t* record);
int PostAdapterEvent(uint32_t kind, const uintptr_t* record);
// Marks the start of shut-down: adapter input is ignored from then on.
void SetEventShutdown(int flag);

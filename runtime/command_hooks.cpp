// Plug-in command hooks kept in one list in creation order; the VM asks
// them before each built-in handler. Depends on the VM's host table only.
#include "runtime/command_hooks.h"

#include <cstdlib>

#include "vm/state.h"

namespace {

vlCommandHook* g_hooks = nullptr;
vlCommandHook* g_running = nullptr;

bool Lists(const vlCommandHook* hook, vlNativeFn handler) {
  for (const vlCommandHookHandler* h = hook->handlers; h; h = h->next)
    if (h->handler == handler) return true;
  return false;
}

}  // namespace

vlCommandHook* AddCommandHook(vlCommandHookFn hook, vlCommandHookErrorFn error, void* userData) {
  auto* h = static_cast<vlCommandHook*>(std::calloc(1, sizeof(vlCommandHook)));
  if (!h) return nullptr;
  h->hook = hook;
  h->error = error;
  h->userData = userData;
  vlCommandHook** link = &g_hooks;
  while (*link) link = &(*link)->next;
  *link = h;
  return h;
}

void RemoveCommandHook(vlCommandHook* hook) {
  for (vlCommandHook** link = &g_hooks; *link; link = &(*link)->next) {
    if (*link != hook) continue;
    *link = hook->next;
    while (vlCommandHookHandler* h = hook->handlers) {
      hook->handlers = h->next;
      std::free(h);
    }
    if (g_running == hook) g_running = nullptr;
    std::free(hook);
    return;
  }
}

int HookCommand(vlCommandHook* hook, vlNativeFn handler) {
  if (Lists(hook, handler)) return 1;
  auto* h = static_cast<vlCommandHookHandler*>(std::calloc(1, sizeof(vlCommandHookHandler)));
  if (!h) return 0;
  h->handler = handler;
  vlCommandHookHandler** link = &hook->handlers;
  while (*link) link = &(*link)->next;
  *link = h;
  return 1;
}

void SetCommandHookErrorHandler(vlCommandHook* hook, vlCommandHookErrorFn error) { hook->error = error; }
vlCommandHookErrorFn GetCommandHookErrorHandler(vlCommandHook* hook) { return hook->error; }
void SetCommandHookDisabled(vlCommandHook* hook, uint32_t disabled) { hook->disabled = disabled; }

int CallCommandHook(vlVMState* state, vlNativeFn handler, int* result) {
  for (vlCommandHook* h = g_hooks; h; h = h->next) {
    if (h->disabled || !Lists(h, handler)) continue;
    // Nested calls keep the outer hook once the inner one is done.
    vlCommandHook* outer = g_running;
    g_running = h;
    struct Restore {
      vlCommandHook* outer;
      ~Restore() { g_running = outer; }
    } restore{outer};
    *result = h->hook(h, state, handler, h->userData);
    return 1;
  }
  return 0;
}

int ForwardErrorToPlugin(vlVMState* state, int code) {
  if (!g_running || !g_running->error) return 0;
  g_running->error(g_running, state, code, g_running->userData);
  return 1;
}

void InstallCommandHooks(vlVMState* state) {
  state->g->host.callCommandHook = CallCommandHook;
  state->g->host.forwardErrorToPlugin = ForwardErrorToPlugin;
}

void FreeCommandHooks() {
  while (g_hooks) RemoveCommandHook(g_hooks);
}

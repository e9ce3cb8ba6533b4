// The event-pump hook list: one singly linked list, appended at the tail,
// used on the main thread only.
#include "runtime/hooks.h"

#include <cstdlib>

namespace {

vlHook* g_hooks = nullptr;

}  // namespace

vlHook* FirstHook() { return g_hooks; }

vlHook* AddHook(uint32_t kind, void* function, void* userData, uint32_t callMode) {
  if (kind > 2 || !function) return nullptr;
  auto* h = static_cast<vlHook*>(std::calloc(1, sizeof(vlHook)));
  if (!h) return nullptr;
  h->kind = kind;
  h->callMode = callMode;
  h->userData = userData;
  switch (kind) {
    case 0: h->poll = reinterpret_cast<vlHookPollFn>(function); break;
    case 1: h->pump = reinterpret_cast<vlHookPumpFn>(function); break;
    default: h->arg = reinterpret_cast<vlHookArgFn>(function); break;
  }
  vlHook** link = &g_hooks;
  while (*link) link = &(*link)->next;
  *link = h;
  return h;
}

void RemoveHook(vlHook* entry) {
  if (!entry) return;
  for (vlHook** link = &g_hooks; *link; link = &(*link)->next) {
    if (*link == entry) {
      *link = entry->next;
      std::free(entry);
      return;
    }
  }
}

void SetHookDisabled(vlHook* entry, uint32_t flag) {
  if (entry) entry->disabled = flag;
}

int RunHookList(vlVMState* state, uint32_t kind, void* argument) {
  vlHook* next = nullptr;
  for (vlHook* h = g_hooks; h; h = next) {
    next = h->next;  // a hook may remove itself
    if (h->disabled || h->kind != kind) continue;
    // The plug-in frame call does nothing on this platform; calling through
    // it would only yield 0, which a polling hook would repeat forever.
    if (h->callMode != 0) continue;
    switch (kind) {
      case 0: {
        int r;
        while ((r = h->poll(h->userData)) == 0) {
        }
        return r == -1 ? 0 : r;
      }
      case 1: {
        int r = h->pump(state, h->userData);
        if (r != 0) return r;
        break;
      }
      default:
        h->arg(argument, h->userData);
        break;
    }
  }
  return 0;
}

void FreeHookList() {
  while (g_hooks) {
    vlHook* next = g_hooks->next;
    std::free(g_hooks);
    g_hooks = next;
  }
}

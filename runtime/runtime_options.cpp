// Run-time option tags: built-in homes plus two hook lists (writers and
// readers) for the tags of other libraries. Main thread only.
#include "runtime/runtime_options.h"

#include <cstdarg>
#include <cstdlib>

#include "vm/error_codes.h"

vlRuntimeOptions vlOptions = {0, 0, 0, 1, 0};

namespace {

template <typename Fn>
struct HookNode {
  HookNode* next;
  Fn fn;
};

HookNode<vlOptionSetHook>* g_setHooks = nullptr;
HookNode<vlOptionGetHook>* g_getHooks = nullptr;

template <typename Fn>
int Append(HookNode<Fn>** list, Fn fn) {
  auto* n = static_cast<HookNode<Fn>*>(std::calloc(1, sizeof(HookNode<Fn>)));
  if (!n) return ERR_MEM;
  n->fn = fn;
  while (*list) list = &(*list)->next;
  *list = n;
  return 0;
}

template <typename Fn>
void FreeAll(HookNode<Fn>** list) {
  while (*list) {
    HookNode<Fn>* next = (*list)->next;
    std::free(*list);
    *list = next;
  }
}

bool SetBuiltin(uint32_t tag, uint32_t value) {
  switch (tag) {
    case VL_OPT_QUIET: vlOptions.quiet = value; return true;
    case VL_OPT_RENDER_STATE: vlOptions.renderState = value; return true;
    case VL_OPT_CALLBACK_NESTING:
      // An unbalanced lowering must not leave the counter negative: every
      // reader treats non-zero as "inside a callback".
      if (value) ++vlOptions.callbackNesting;
      else if (vlOptions.callbackNesting > 0) --vlOptions.callbackNesting;
      return true;
    case VL_OPT_ERROR_RAISING: vlOptions.errorRaising = value; return true;
    case VL_OPT_SOURCE_POSITIONS: vlOptions.sourcePositionsKnown = value; return true;
    default: return false;
  }
}

// Returns -1 for tags that are not built in.
int GetBuiltin(uint32_t tag, void* out) {
  switch (tag) {
    case VL_OPT_QUIET: *static_cast<uint32_t*>(out) = vlOptions.quiet; return 1;
    case VL_OPT_RENDER_STATE: *static_cast<uint32_t*>(out) = vlOptions.renderState; return 1;
    case VL_OPT_CALLBACK_NESTING: *static_cast<int32_t*>(out) = vlOptions.callbackNesting; return 1;
    case VL_OPT_ERROR_RAISING: *static_cast<uint32_t*>(out) = vlOptions.errorRaising; return 1;
    case VL_OPT_SOURCE_POSITIONS: return 0;  // write-only here
    default: return -1;
  }
}

}  // namespace

int SetRuntimeOption(vlVMState* state, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  int handled = 0;
  for (; tag != 0; tag = va_arg(ap, uint32_t)) {
    uint32_t value = va_arg(ap, uint32_t);
    if (SetBuiltin(tag, value)) {
      ++handled;
      continue;
    }
    for (auto* h = g_setHooks; h; h = h->next) {
      if (h->fn(state, tag, value)) {
        ++handled;
        break;
      }
    }
  }
  va_end(ap);
  return handled;
}

int GetRuntimeOption(vlVMState* state, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  int handled = 0;
  for (; tag != 0; tag = va_arg(ap, uint32_t)) {
    void* out = va_arg(ap, void*);
    if (!out) continue;
    int r = GetBuiltin(tag, out);
    if (r >= 0) {
      handled += r;
      continue;
    }
    for (auto* h = g_getHooks; h; h = h->next) {
      if (h->fn(state, tag, out)) {
        ++handled;
        break;
      }
    }
  }
  va_end(ap);
  return handled;
}

int AddRuntimeOptionSetHook(vlOptionSetHook hook) { return hook ? Append(&g_setHooks, hook) : ERR_WRONGUSAGE; }
int AddRuntimeOptionGetHook(vlOptionGetHook hook) { return hook ? Append(&g_getHooks, hook) : ERR_WRONGUSAGE; }

void FreeRuntimeOptionHooks() {
  FreeAll(&g_setHooks);
  FreeAll(&g_getHooks);
}

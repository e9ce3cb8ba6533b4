// Test helpers that run assembled scripts; see script_util.h.
#include "tests/vm/script_util.h"

#include <cmath>

#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/func.h"
#include "vm/memory.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vltest {

namespace {

vlValue GlobalKey(vlVMState* L, const char* name) {
  vlValue k;
  vl::SetString(&k, vl::InternCString(L, name));
  return k;
}

}  // namespace

namespace {

struct Bytes {
  const std::vector<uint8_t>* data;
  bool done;
};

const char* ReadAll(vlVMState*, void* ud, size_t* size) {
  auto* b = static_cast<Bytes*>(ud);
  if (b->done) {
    *size = 0;
    return nullptr;
  }
  b->done = true;
  *size = b->data->size();
  return reinterpret_cast<const char*>(b->data->data());
}

}  // namespace

int PushScript(vlVMState* L, std::string_view text) {
  std::vector<uint8_t> bytes = vlasm::Assemble(text);
  Bytes b{&bytes, false};
  return vl::LoadChunk(L, ReadAll, &b, "test");
}

int RunScript(vlVMState* L, std::string_view text) {
  int status = PushScript(L, text);
  if (status) return status;
  ptrdiff_t base = (L->top - 1) - L->stack;  // the call may move the stack
  status = vl::CallProtected(L, 0, 0, 0);
  L->top = L->stack + base;  // callers reset the top after an error
  return status;
}

void SetGlobalNative(vlVMState* L, const char* name, vlNativeFn fn) {
  vl::RunProtectedFn(L, [&] {
    vlValue k = GlobalKey(L, name);
    vl::SetClosure(vl::TableSet(L, vl::ToTable(&L->globals), &k), vl::NewNativeClosure(L, fn, 0));
  });
}

void SetGlobalNumber(vlVMState* L, const char* name, double n) {
  vl::RunProtectedFn(L, [&] {
    vlValue k = GlobalKey(L, name);
    vl::SetNumber(vl::TableSet(L, vl::ToTable(&L->globals), &k), n);
  });
}

const vlValue* GetGlobal(vlVMState* L, const char* name) {
  return vl::TableGetString(vl::ToTable(&L->globals), vl::InternCString(L, name));
}

double GlobalNumber(vlVMState* L, const char* name) {
  const vlValue* v = GetGlobal(L, name);
  return v->tag == VL_TNUMBER ? v->v.n : std::nan("");
}

std::string GlobalString(vlVMState* L, const char* name) {
  const vlValue* v = GetGlobal(L, name);
  if (v->tag != VL_TSTRING) return "<not a string>";
  const vlString* s = vl::ToString(v);
  return std::string(vl::StringData(s), s->len);
}

int NativeNext(vlVMState* L) {
  vlValue* t = L->base;
  vl::CheckStack(L, 2);
  vlValue slot[2];
  slot[0] = L->top > L->base + 1 ? L->base[1] : vl::kNilValue;
  if (t->tag != VL_TTABLE || !vl::TableNext(L, vl::ToTable(t), slot)) {
    vl::SetNil(L->top++);
    return 1;
  }
  *L->top++ = slot[0];
  *L->top++ = slot[1];
  return 2;
}

}  // namespace vltest

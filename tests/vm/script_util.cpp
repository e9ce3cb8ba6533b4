// Test helpers that run assembled scripts; see script_util.h.
#include "tests/vm/script_util.h"

#include <cmath>

#include "vm/call.h"
#include "vm/func.h"
#include "vm/memory.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vltest {

namespace {

vlString* MaybeIntern(vlVMState* L, const vlasm::MaybeString& s) {
  return s ? vl::InternString(L, s->data(), s->size()) : nullptr;
}

vlValue GlobalKey(vlVMState* L, const char* name) {
  vlValue k;
  vl::SetString(&k, vl::InternCString(L, name));
  return k;
}

}  // namespace

vlFuncProto* BuildProto(vlVMState* L, const vlasm::Function& f, vlString* parentSource) {
  vlFuncProto* p = vl::NewProto(L);
  p->source = f.source ? MaybeIntern(L, f.source) : parentSource;
  p->lineDefined = f.lineDefined;
  p->nups = f.numUpvalues;
  p->numparams = f.numParams;
  p->isVararg = f.isVararg;
  p->maxstacksize = f.maxStack;
  p->lineinfo = vl::NewVector<int32_t>(L, f.lines.size());
  p->sizelineinfo = static_cast<int32_t>(f.lines.size());
  for (size_t i = 0; i < f.lines.size(); i++) p->lineinfo[i] = f.lines[i];
  p->locvars = vl::NewVector<vlLocVar>(L, f.locals.size());
  p->sizelocvars = static_cast<int32_t>(f.locals.size());
  for (size_t i = 0; i < f.locals.size(); i++) {
    p->locvars[i] = vlLocVar{MaybeIntern(L, f.locals[i].name), f.locals[i].startPc, f.locals[i].endPc};
  }
  p->upvalues = vl::NewVector<vlString*>(L, f.upvalueNames.size());
  p->sizeupvalues = static_cast<int32_t>(f.upvalueNames.size());
  for (size_t i = 0; i < f.upvalueNames.size(); i++) p->upvalues[i] = MaybeIntern(L, f.upvalueNames[i]);
  p->k = vl::NewVector<vlValue>(L, f.constants.size());
  p->sizek = static_cast<int32_t>(f.constants.size());
  for (size_t i = 0; i < f.constants.size(); i++) {
    const vlasm::Constant& c = f.constants[i];
    if (c.type == 3) vl::SetNumber(&p->k[i], c.number);
    else if (c.type == 4) vl::SetString(&p->k[i], c.text ? MaybeIntern(L, c.text) : vl::InternString(L, "", 0));
    else vl::SetNil(&p->k[i]);
  }
  p->p = vl::NewVector<vlFuncProto*>(L, f.nested.size());
  p->sizep = static_cast<int32_t>(f.nested.size());
  for (size_t i = 0; i < f.nested.size(); i++) p->p[i] = nullptr;
  for (size_t i = 0; i < f.nested.size(); i++) p->p[i] = BuildProto(L, f.nested[i], p->source);
  p->code = vl::NewVector<vlInstruction>(L, f.code.size());
  p->sizecode = static_cast<int32_t>(f.code.size());
  for (size_t i = 0; i < f.code.size(); i++) p->code[i] = f.code[i];
  return p;
}

void PushScript(vlVMState* L, std::string_view text) {
  vlasm::Chunk chunk = vlasm::Parse(text);
  vlFuncProto* p = BuildProto(L, chunk.main, nullptr);
  vl::CheckStack(L, 1);
  vl::SetClosure(L->top++, vl::NewScriptClosure(L, p, 0, &L->globals));
}

int RunScript(vlVMState* L, std::string_view text) {
  int status = vl::RunProtectedFn(L, [&] { PushScript(L, text); });
  if (status) return status;
  vlValue* base = L->top - 1;
  status = vl::CallProtected(L, 0, 0, 0);
  L->top = base;  // callers reset the top after an error
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

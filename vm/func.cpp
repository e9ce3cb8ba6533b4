// Prototypes, closures and upvalues: creation, freeing, and the open-upvalue
// list that lets closures share a frame's slots. Depends on the memory routine.
#include "vm/func.h"

#include <cstdlib>

#include "vm/memory.h"

namespace vl {

vlFuncProto* NewProto(vlVMState* L) {
  auto* f = static_cast<vlFuncProto*>(VmRealloc(L, nullptr, 0, sizeof(vlFuncProto)));
  *f = vlFuncProto{};
  LinkObject(L, ToGC(f), VL_TPROTO);
  return f;
}

void FreeProto(vlVMState* L, vlFuncProto* f) {
  FreeVector(L, f->k, static_cast<size_t>(f->sizek));
  FreeVector(L, f->code, static_cast<size_t>(f->sizecode));
  FreeVector(L, f->p, static_cast<size_t>(f->sizep));
  FreeVector(L, f->lineinfo, static_cast<size_t>(f->sizelineinfo));
  FreeVector(L, f->locvars, static_cast<size_t>(f->sizelocvars));
  FreeVector(L, f->upvalues, static_cast<size_t>(f->sizeupvalues));
  std::free(f->constCache);
  VmRealloc(L, f, sizeof(vlFuncProto), 0);
}

vlClosure* NewScriptClosure(vlVMState* L, vlFuncProto* proto, int nups, const vlValue* globals) {
  auto* c = static_cast<vlClosure*>(NewBlock(L, ScriptClosureSize(nups)));
  LinkObject(L, ToGC(c), VL_TFUNCTION);
  c->s.h.isNative = 0;
  c->s.h.nupvalues = static_cast<uint8_t>(nups);
  c->s.h.gclist = nullptr;
  c->s.proto = proto;
  c->s.globals = *globals;
  for (int i = 0; i < nups; i++) c->s.upvals[i] = nullptr;
  return c;
}

vlClosure* NewNativeClosure(vlVMState* L, vlNativeFn fn, int nups) {
  auto* c = static_cast<vlClosure*>(NewBlock(L, NativeClosureSize(nups)));
  LinkObject(L, ToGC(c), VL_TFUNCTION);
  c->n.h.isNative = 1;
  c->n.h.nupvalues = static_cast<uint8_t>(nups);
  c->n.h.gclist = nullptr;
  c->n.fn = fn;
  for (int i = 0; i < nups; i++) SetNil(&c->n.upvalue[i]);
  return c;
}

void FreeClosure(vlVMState* L, vlClosure* c) {
  size_t size = c->h.isNative ? NativeClosureSize(c->h.nupvalues) : ScriptClosureSize(c->h.nupvalues);
  FreeBlock(L, c, size);
}

vlUpvalue* FindUpvalue(vlVMState* L, vlValue* slot) {
  vlGCObject** pp = &L->openupval;
  vlUpvalue* p;
  // The list is sorted by slot, highest first.
  while ((p = reinterpret_cast<vlUpvalue*>(*pp)) != nullptr && p->v >= slot) {
    if (p->v == slot) return p;
    pp = &p->gch.next;
  }
  auto* uv = static_cast<vlUpvalue*>(NewBlock(L, sizeof(vlUpvalue)));
  uv->gch.tag = VL_TUPVALUE;
  uv->gch.gcFlags = 0;
  uv->v = slot;
  SetNil(&uv->value);
  uv->gch.next = *pp;
  *pp = ToGC(uv);
  return uv;
}

vlUpvalue* NewClosedUpvalue(vlVMState* L) {
  auto* uv = static_cast<vlUpvalue*>(NewBlock(L, sizeof(vlUpvalue)));
  SetNil(&uv->value);
  uv->v = &uv->value;
  LinkObject(L, ToGC(uv), VL_TUPVALUE);
  return uv;
}

void CloseUpvalues(vlVMState* L, vlValue* level) {
  vlUpvalue* p;
  while ((p = reinterpret_cast<vlUpvalue*>(L->openupval)) != nullptr && p->v >= level) {
    p->value = *p->v;
    p->v = &p->value;
    L->openupval = p->gch.next;
    LinkObject(L, ToGC(p), VL_TUPVALUE);
  }
}

void FreeUpvalue(vlVMState* L, vlUpvalue* uv) {
  FreeBlock(L, uv, sizeof(vlUpvalue));
}

}  // namespace vl

// The chunk writer: turns a loaded script function back into chunk bytes
// (little-endian), the exact inverse of the loader for every chunk the
// loader accepts. Depends on the prototype record and the stack interface.
#include <cstring>
#include <vector>

#include "vm/chunk.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace vl {
namespace {

class Dumper {
 public:
  void Byte(uint8_t b) { out_.push_back(b); }
  void Word(uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Int(int32_t v) { Word(static_cast<uint32_t>(v)); }
  void Number(double d) {
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void String(const vlString* s) {
    if (!s) {
      Word(0);
      return;
    }
    Word(s->len + 1);
    const char* bytes = StringData(s);
    out_.insert(out_.end(), bytes, bytes + s->len);
    Byte(0);
  }

  void Header() {
    for (uint8_t b : {0x1B, 0x56, 0x4C, 0x42}) Byte(b);  // ESC "VLB"
    Byte(1);                                             // little-endian
    for (uint8_t b : {4, 4, 4, 6, 8, 9, 9, 8}) Byte(b);
    Number(31415926.535897933);
  }

  void Function(const vlFuncProto* f, const vlString* parentSource) {
    // A nested function that shares its parent's source inherits it.
    String(f->source == parentSource ? nullptr : f->source);
    Int(f->lineDefined);
    Byte(f->nups);
    Byte(f->numparams);
    Byte(f->isVararg);
    Byte(f->maxstacksize);
    Int(f->sizelineinfo);
    for (int i = 0; i < f->sizelineinfo; ++i) Int(f->lineinfo[i]);
    Int(f->sizelocvars);
    for (int i = 0; i < f->sizelocvars; ++i) {
      String(f->locvars[i].name);
      Int(f->locvars[i].startpc);
      Int(f->locvars[i].endpc);
    }
    Int(f->sizeupvalues);
    for (int i = 0; i < f->sizeupvalues; ++i) String(f->upvalues[i]);
    Int(f->sizek);
    for (int i = 0; i < f->sizek; ++i) {
      const vlValue& k = f->k[i];
      Byte(static_cast<uint8_t>(k.tag));
      if (k.tag == VL_TNUMBER) Number(k.v.n);
      if (k.tag == VL_TSTRING) String(ToString(&k));
    }
    Int(f->sizep);
    for (int i = 0; i < f->sizep; ++i) Function(f->p[i], f->source);
    Int(f->sizecode);
    for (int i = 0; i < f->sizecode; ++i) Word(f->code[i]);
  }

  const std::vector<uint8_t>& Bytes() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace

int DumpFunction(vlVMState* L, int idx, vlChunkWriter writer, void* data) {
  const vlValue* o = GetSlotAddress(L, idx);
  if (!o || !IsScriptFunction(o)) return ERR_NOVLFUNC;
  Dumper d;
  d.Header();
  d.Function(ToClosure(o)->s.proto, nullptr);
  writer(L, d.Bytes().data(), d.Bytes().size(), data);
  return 0;
}

}  // namespace vl

// The chunk loader: reads a compiled chunk through a reader callback (in
// either byte order), builds the prototypes, verifies each one and pushes
// the main function. Depends on the VM state, strings, prototypes, the
// protected-call routine and the verifier.
#include <cstring>
#include <vector>

#include "vm/chunk.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/memory.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vl {
namespace {

// The reader's blocks seen as one byte stream. Items that straddle blocks
// are gathered in a spill buffer; nothing is allocated ahead of the bytes
// that actually arrived, so a crafted count cannot make the load allocate
// more than the input holds.
class ChunkInput {
 public:
  ChunkInput(vlVMState* L, vlChunkReader reader, void* data) : L_(L), reader_(reader), data_(data) {}

  // n contiguous bytes; valid until the next call.
  const uint8_t* Take(size_t n) {
    if (len_ - off_ >= n) {
      const uint8_t* p = cur_ + off_;
      off_ += n;
      return p;
    }
    spill_.clear();
    if (cur_) spill_.assign(cur_ + off_, cur_ + len_);
    off_ = len_;
    while (spill_.size() < n) {
      if (!Fetch()) ThrowVmError(L_, ERR_UNEXPECTEDEOF);
      const size_t take = std::min(n - spill_.size(), len_);
      spill_.insert(spill_.end(), cur_, cur_ + take);
      off_ = take;
    }
    return spill_.data();
  }

 private:
  bool Fetch() {
    size_t size = 0;
    const char* block = reader_(nullptr, data_, &size);
    if (!block || size == 0) return false;
    cur_ = reinterpret_cast<const uint8_t*>(block);
    len_ = size;
    off_ = 0;
    return true;
  }

  vlVMState* L_;
  vlChunkReader reader_;
  void* data_;
  const uint8_t* cur_ = nullptr;
  size_t len_ = 0;
  size_t off_ = 0;
  std::vector<uint8_t> spill_;
};

class Loader {
 public:
  Loader(vlVMState* L, vlChunkReader reader, void* data, vlCodeFault* fault)
      : L_(L), in_(L, reader, data), fault_(fault) {}

  vlFuncProto* Chunk() {
    Header();
    return Function(nullptr, 0);
  }

 private:
  [[noreturn]] void Fail(int code) { ThrowVmError(L_, code); }

  uint8_t Byte() { return *in_.Take(1); }
  uint32_t Word() {
    const uint8_t* b = in_.Take(4);
    if (big_) return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
  }
  int32_t Raw() { return static_cast<int32_t>(Word()); }
  // Counts, the line defined and local pcs may not be negative.
  int32_t NonNegative() {
    const int32_t v = Raw();
    if (v < 0) Fail(ERR_BADINTEGER);
    return v;
  }
  double Number() {
    const uint8_t* b = in_.Take(8);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t{b[big_ ? 7 - i : i]} << (8 * i);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
  }
  // Size 0 is "no string" (null); otherwise the size counts a final NUL.
  vlString* String() {
    const uint32_t size = Word();
    if (size == 0) return nullptr;
    const uint8_t* bytes = in_.Take(size);
    return InternString(L_, reinterpret_cast<const char*>(bytes), size - 1);
  }

  void Header() {
    static const uint8_t kSignature[4] = {0x1B, 'V', 'L', 'B'};
    for (uint8_t want : kSignature)
      if (Byte() != want) Fail(ERR_BADSIGNATURE);
    big_ = Byte() != 1;
    static const uint8_t kSizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};
    for (uint8_t want : kSizes)
      if (Byte() != want) Fail(ERR_VMMISMATCH);
    if (DoubleToInt64(Number()) != 31415926) Fail(ERR_UNKNUMFMT);
  }

  // n items read one by one into a VM array. The staging vector grows only
  // as items really arrive, so a crafted count runs out of input first.
  template <class T, class ReadItem>
  T* ReadArray(int32_t n, ReadItem readItem) {
    std::vector<T> items;
    items.reserve(static_cast<size_t>(std::min(n, 1024)));
    for (int32_t i = 0; i < n; ++i) items.push_back(readItem());
    T* out = NewVector<T>(L_, items.size());
    if (!items.empty()) std::memcpy(out, items.data(), items.size() * sizeof(T));
    return out;
  }

  vlValue Constant() {
    vlValue k;
    switch (Byte()) {
      case VL_TNIL: SetNil(&k); break;
      case VL_TNUMBER: SetNumber(&k, Number()); break;
      case VL_TSTRING: {
        // A string constant written as "no string" is the empty string.
        vlString* s = String();
        if (!s) s = InternString(L_, "", 0);
        // The interpreter looks constants up as keys without asking first
        // whether their key hash is set.
        KeyHash(s);
        SetString(&k, s);
        break;
      }
      default: Fail(ERR_BADCONSTANT);
    }
    return k;
  }

  vlFuncProto* Function(vlString* parentSource, int depth) {
    // Deep nesting would recurse without bound on the C stack.
    if (depth > kMaxChunkNesting) Fail(ERR_BADBYTECODE);
    vlFuncProto* f = NewProto(L_);
    f->source = String();
    if (!f->source) f->source = parentSource;
    f->lineDefined = NonNegative();
    f->nups = Byte();
    f->numparams = Byte();
    f->isVararg = Byte();
    f->maxstacksize = Byte();

    int32_t n = NonNegative();
    f->lineinfo = ReadArray<int32_t>(n, [&] { return Raw(); });
    f->sizelineinfo = n;

    n = NonNegative();
    f->locvars = ReadArray<vlLocVar>(n, [&] {
      vlLocVar v;
      v.name = String();
      v.startpc = NonNegative();
      v.endpc = NonNegative();
      return v;
    });
    f->sizelocvars = n;

    n = NonNegative();
    if (n != 0 && n != f->nups) Fail(ERR_BADUPVALUES);
    f->upvalues = ReadArray<vlString*>(n, [&] { return String(); });
    f->sizeupvalues = n;

    n = NonNegative();
    f->k = ReadArray<vlValue>(n, [&] { return Constant(); });
    f->sizek = n;

    n = NonNegative();
    f->p = ReadArray<vlFuncProto*>(n, [&] { return Function(f->source, depth + 1); });
    f->sizep = n;

    n = NonNegative();
    f->code = ReadArray<vlInstruction>(n, [&] { return Word(); });
    f->sizecode = n;

    if (!VerifyCode(f, fault_)) {
      if (fault_) fault_->function = finished_;
      Fail(ERR_BADBYTECODE);
    }
    ++finished_;
    return f;
  }

  vlVMState* L_;
  ChunkInput in_;
  bool big_ = false;
  vlCodeFault* fault_ = nullptr;
  int finished_ = 0;  // function records read and verified so far
};

}  // namespace

int LoadChunk(vlVMState* L, vlChunkReader reader, void* data, const char* chunkName, vlCodeFault* fault) {
  (void)chunkName;  // names the load for messages only; the source comes from the chunk
  const ptrdiff_t top = L->top - L->stack;
  const int status = RunProtectedFn(L, [&] {
    CheckGC(L);
    Loader loader(L, reader, data, fault);
    vlFuncProto* main = loader.Chunk();
    // A stored function that captured variables of the function around it
    // gets them back as variables of its own, each holding nil: the values
    // were never stored, and its code must not read past its closure.
    vlClosure* cl = NewScriptClosure(L, main, main->nups, &L->globals);
    for (int i = 0; i < main->nups; ++i) cl->s.upvals[i] = NewClosedUpvalue(L);
    CheckStack(L, 1);
    SetClosure(L->top, cl);
    L->top++;
  });
  // The partial prototypes stay in the object list for the collector.
  if (status != 0) L->top = L->stack + top;
  return status;
}

}  // namespace vl

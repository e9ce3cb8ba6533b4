// The VM's tagged value and the header every collectable object starts with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

struct vlVMState;
struct vlString;
struct vlTable;
union vlClosure;
struct vlUserdata;
struct vlFuncProto;
struct vlUpvalue;

// Type tags. 4 and above are collectable; 9 and 10 appear only on objects,
// never in a vlValue. VL_TNONE is "no value" (an index past the frame top).
enum vlValueType : int32_t {
  VL_TNONE = -1,
  VL_TNIL = 0,
  VL_TBOOLEAN = 1,
  VL_TLIGHTUSERDATA = 2,
  VL_TNUMBER = 3,
  VL_TSTRING = 4,
  VL_TTABLE = 5,
  VL_TFUNCTION = 6,
  VL_TUSERDATA = 7,
  VL_TTHREAD = 8,
  VL_TPROTO = 9,
  VL_TUPVALUE = 10,
};

// A key whose object the collector cleared from a weak table keeps its node
// (so chains stay intact) under this tag.
constexpr int32_t VL_TDEADKEY = -1;

// GC flag bits of the collectable header.
enum : uint8_t {
  VL_GC_REACHED = 1 << 0,
  VL_GC_FINALIZE = 1 << 1,  // userdata: finaliser still to be considered
  VL_GC_WEAKKEYS = 1 << 1,  // tables
  VL_GC_WEAKVALUES = 1 << 2,
  VL_GC_FIXED = 1 << 4,
};

// The collectable header. Every object record embeds it as its first member,
// so a vlGCObject* and the object's own pointer convert into each other.
struct vlGCObject {
  vlGCObject* next;  // link in the owning list (GC list, string chain, open upvalues)
  uint8_t tag;
  uint8_t gcFlags;
};

// Tag, a spare word, and an 8-byte payload.
struct vlValue {
  int32_t tag;
  // Not part of the value (copies carry it along, nothing reads it), except
  // in a table node's key, where it links the node's chain.
  int32_t aux;
  union {
    vlGCObject* gc;
    void* p;      // light userdata
    double n;     // number
    int32_t b;    // boolean 0/1
  } v;
};

namespace vl {

inline bool IsCollectable(const vlValue* o) { return o->tag >= VL_TSTRING; }

// A value is written and copied as two 8-byte words: the tag word (its
// padding cleared) and the payload. A copy right after a write then takes
// each word straight from the store that wrote it; a 16-byte load spanning
// two stores, or a partial load of one 16-byte store, would wait for the
// stores to reach the cache instead. Values are mostly copied soon after
// they are set (arguments, results, registers).
inline void StoreTagWord(vlValue* o, int32_t tag) {
  uint64_t w = static_cast<uint32_t>(tag);
  std::memcpy(static_cast<void*>(o), &w, sizeof w);
}
inline void SetNil(vlValue* o) { StoreTagWord(o, VL_TNIL); o->v.p = nullptr; }
inline void SetNumber(vlValue* o, double n) { StoreTagWord(o, VL_TNUMBER); o->v.n = n; }
inline void SetObject(vlValue* o, int32_t tag, vlGCObject* g) { StoreTagWord(o, tag); o->v.gc = g; }
inline void CopyValue(vlValue* dst, const vlValue* src) {
  uint64_t w;
  std::memcpy(&w, src, sizeof w);
  void* payload = src->v.p;
  std::memcpy(static_cast<void*>(dst), &w, sizeof w);
  dst->v.p = payload;
}
inline void SetBoolean(vlValue* o, int b) { o->tag = VL_TBOOLEAN; o->v.p = nullptr; o->v.b = b ? 1 : 0; }
inline void SetLightUserdata(vlValue* o, void* p) { o->tag = VL_TLIGHTUSERDATA; o->v.p = p; }

template <class T>
inline vlGCObject* ToGC(T* obj) { return reinterpret_cast<vlGCObject*>(obj); }
inline vlString* ToString(const vlValue* o) { return reinterpret_cast<vlString*>(o->v.gc); }
inline vlTable* ToTable(const vlValue* o) { return reinterpret_cast<vlTable*>(o->v.gc); }
inline vlClosure* ToClosure(const vlValue* o) { return reinterpret_cast<vlClosure*>(o->v.gc); }
inline vlUserdata* ToUserdata(const vlValue* o) { return reinterpret_cast<vlUserdata*>(o->v.gc); }
inline vlVMState* ToThread(const vlValue* o) { return reinterpret_cast<vlVMState*>(o->v.gc); }

inline void SetString(vlValue* o, vlString* s) { SetObject(o, VL_TSTRING, ToGC(s)); }
inline void SetTable(vlValue* o, vlTable* t) { SetObject(o, VL_TTABLE, ToGC(t)); }
inline void SetClosure(vlValue* o, vlClosure* c) { SetObject(o, VL_TFUNCTION, ToGC(c)); }
inline void SetUserdata(vlValue* o, vlUserdata* u) { SetObject(o, VL_TUSERDATA, ToGC(u)); }

// The shared nil that absent look-ups point at; never written. Defined
// here so that a look-up inlined into its caller folds the test of a miss.
inline constexpr vlValue kNilValue = {VL_TNIL, 0, {nullptr}};

// Truth rule of the instruction set (IsFalse, with the string record in
// object.h): nil, false, 0 and "" are false.
// Raw equality: same tag; numbers as doubles; everything else by identity.
bool RawEqual(const vlValue* a, const vlValue* b);
// "nil", "boolean", "userdata", "number", ... ; -1 gives "no value".
const char* GetTypeName(int tag);

}  // namespace vl

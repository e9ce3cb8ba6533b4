// The VM's tagged value and the header every collectable object starts with.
#pragma once
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Tag followed by an 8-byte payload.
struct vlValue {
  int32_t tag;
  union {
    vlGCObject* gc;
    void* p;      // light userdata
    double n;     // number
    int32_t b;    // boolean 0/1
  } v;
};

namespace vl {

inline bool IsCollectable(const vlValue* o) { return o->tag >= VL_TSTRING; }

// A value is written with one 16-byte store where the target allows it:
// values are mostly copied whole soon after they are set, and a whole-value
// load that spans two smaller stores cannot take its data from them (the
// processor waits until they reach the cache).
#if defined(__SSE2__)
inline void StoreValueWords(vlValue* o, uint64_t tagWord, __m128i payload) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                   _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(tagWord)), payload));
}
inline void SetNil(vlValue* o) { _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_setzero_si128()); }
inline void SetNumber(vlValue* o, double n) {
  StoreValueWords(o, VL_TNUMBER, _mm_castpd_si128(_mm_set_sd(n)));
}
inline void SetObject(vlValue* o, int32_t tag, vlGCObject* g) {
  StoreValueWords(o, static_cast<uint32_t>(tag), _mm_cvtsi64_si128(reinterpret_cast<long long>(g)));
}
#else
inline void SetNil(vlValue* o) { o->tag = VL_TNIL; o->v.p = nullptr; }
inline void SetNumber(vlValue* o, double n) { o->tag = VL_TNUMBER; o->v.n = n; }
inline void SetObject(vlValue* o, int32_t tag, vlGCObject* g) { o->tag = tag; o->v.gc = g; }
#endif
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

// The shared nil that absent look-ups point at; never written.
extern const vlValue kNilValue;

// Truth rule of the instruction set: nil, false, 0 and "" are false.
bool IsFalse(const vlValue* o);
// Raw equality: same tag; numbers as doubles; everything else by identity.
bool RawEqual(const vlValue* a, const vlValue* b);
// "nil", "boolean", "userdata", "number", ... ; -1 gives "no value".
const char* GetTypeName(int tag);

}  // namespace vl

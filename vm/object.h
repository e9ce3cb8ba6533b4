// The VM's collectable object records. Field order follows the original
// layout; pointer-holding words are pointer-sized in this 64-bit build.
#pragma once
#include "vm/value.h"

// A native command handler: returns 0..999 results, an error code >= 1000,
// or -1 / -2 for a label jump.
typedef int (*vlNativeFn)(vlVMState* L);

// Interned string; the bytes and a terminating NUL follow the record.
// Two hashes: the string table's own, made whenever a string is made, and
// the one that places the string as a table key, which decides the order
// in which scripts see a table's keys. That one is made the first time the
// string is used as a key (most strings never are).
struct vlString {
  vlGCObject gch;
  uint8_t keyHashed;  // 1 once keyHash is set
  uint32_t hash;      // string table hash (HashBytes)
  uint32_t len;       // authoritative: the bytes may hold NULs
  uint32_t keyHash;   // table key hash (StringKeyHash), valid when keyHashed
};

// Full userdata; the data block follows the record.
struct vlUserdata {
  vlGCObject gch;
  vlTable* metatable;  // the default metatable when it has none
  uint32_t len;
};

// key.aux is 1 + the index of the next node of the chain, 0 at its end: a
// node fits 32 bytes, so that big hash parts stream through the cache.
struct vlTableNode {
  vlValue key;   // nil key: the node is free
  vlValue val;   // nil value: the entry is absent
};

struct vlTable {
  vlGCObject gch;
  uint8_t absentFlags;  // bit e: no metamethod for event e (events 0..4 cached)
  uint8_t lsizenode;    // log2 of the node count
  uint32_t nodeMask;    // the node count - 1, for the look-ups by string key
  vlTable* metatable;
  vlValue* array;
  vlTableNode* node;
  vlTableNode* lastfree;
  vlGCObject* gclist;
  int32_t sizearray;
};

struct vlLocVar {
  vlString* name;  // null: the chunk gave no name
  int32_t startpc;
  int32_t endpc;
};

typedef uint32_t vlInstruction;

// A global look-up remembered for one constant of a function: the node that
// held the key in the globals table. It is trusted only while the epoch
// matches: no table has had its node block replaced, a node moved or given
// another key, or been freed since, so the node is still the key's.
struct vlGlobalCacheEntry {
  const vlTableNode* node;
  uint64_t epoch;
};

// A field or method name (one constant of a function) last found one step
// up an object's metatable: the metatable, the node holding its "__index",
// the table that named and the node holding the name there. Trusted, as
// above, only while the epoch matches; the values in the nodes are read
// afresh every time, since stores change them without moving nodes.
struct vlIndexCacheEntry {
  const vlTable* meta;
  const vlTable* table;
  const vlTableNode* indexNode;
  const vlTableNode* fieldNode;
  uint64_t epoch;
};

struct vlConstantCache {
  vlGlobalCacheEntry global;
  vlIndexCacheEntry index;
  uint64_t unused;  // to 64 bytes: an entry is found by a shift
};
static_assert(sizeof(vlConstantCache) == 64);

struct vlFuncProto {
  vlGCObject gch;
  vlValue* k;
  vlInstruction* code;
  vlFuncProto** p;
  int32_t* lineinfo;
  vlLocVar* locvars;
  vlString** upvalues;  // upvalue names
  vlString* source;
  int32_t sizeupvalues;
  int32_t sizek;
  int32_t sizecode;
  int32_t sizelineinfo;
  int32_t sizep;
  int32_t sizelocvars;
  int32_t lineDefined;
  vlGCObject* gclist;
  uint8_t nups;
  uint8_t numparams;
  uint8_t isVararg;
  uint8_t maxstacksize;
  // One entry per constant, made at the first look-up remembered
  // (uncounted memory: a cache, freed with the prototype).
  vlConstantCache* constCache;
};

struct vlUpvalue {
  vlGCObject gch;  // gch.next links the open list while open, the GC list once closed
  vlValue* v;      // the stack slot while open, &value once closed
  vlValue value;
};

// The fields both closure forms begin with.
struct vlClosureHeader {
  vlGCObject gch;
  uint8_t isNative;
  uint8_t nupvalues;
  vlGCObject* gclist;
};

struct vlScriptClosure {
  vlClosureHeader h;
  vlFuncProto* proto;
  vlValue globals;
  vlUpvalue* upvals[1];  // nupvalues entries
};

struct vlNativeClosure {
  vlClosureHeader h;
  vlNativeFn fn;
  vlValue upvalue[1];  // nupvalues entries
};

union vlClosure {
  vlClosureHeader h;
  vlScriptClosure s;
  vlNativeClosure n;
};

namespace vl {

inline char* StringData(vlString* s) { return reinterpret_cast<char*>(s + 1); }
inline const char* StringData(const vlString* s) { return reinterpret_cast<const char*>(s + 1); }
inline void* UserdataData(vlUserdata* u) { return u + 1; }

inline size_t StringRecordSize(size_t len) { return sizeof(vlString) + len + 1; }
inline size_t UserdataRecordSize(size_t len) { return sizeof(vlUserdata) + len; }
inline size_t ScriptClosureSize(int n) {
  return offsetof(vlScriptClosure, upvals) + sizeof(vlUpvalue*) * static_cast<size_t>(n > 0 ? n : 1);
}
inline size_t NativeClosureSize(int n) {
  return offsetof(vlNativeClosure, upvalue) + sizeof(vlValue) * static_cast<size_t>(n > 0 ? n : 1);
}

// Truth rule of the instruction set: nil, false, 0 and "" are false.
inline bool IsFalse(const vlValue* o) {
  switch (o->tag) {
    case VL_TNIL: return true;
    case VL_TBOOLEAN: return o->v.b == 0;
    case VL_TNUMBER: return o->v.n == 0;
    case VL_TSTRING: return ToString(o)->len == 0;
    default: return false;
  }
}

inline bool IsNativeFunction(const vlValue* o) {
  return o->tag == VL_TFUNCTION && ToClosure(o)->h.isNative;
}
inline bool IsScriptFunction(const vlValue* o) {
  return o->tag == VL_TFUNCTION && !ToClosure(o)->h.isNative;
}

}  // namespace vl

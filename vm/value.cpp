// The truth rule, raw equality and type names of VM values.
#include "vm/object.h"

namespace vl {

bool RawEqual(const vlValue* a, const vlValue* b) {
  if (a->tag != b->tag) return false;
  switch (a->tag) {
    case VL_TNIL: return true;
    case VL_TNUMBER: return a->v.n == b->v.n;
    case VL_TBOOLEAN: return a->v.b == b->v.b;
    default: return a->v.p == b->v.p;
  }
}

const char* GetTypeName(int tag) {
  static const char* const kNames[] = {"nil",   "boolean",  "userdata", "number", "string",
                                       "table", "function", "userdata", "thread"};
  if (tag == VL_TNONE) return "no value";
  if (tag < 0 || tag > VL_TTHREAD) return "?";
  return kNames[tag];
}

}  // namespace vl

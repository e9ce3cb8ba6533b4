// The debug interface: setting hooks, walking stack levels (lost tail calls
// included), filling debug records, naming functions and shortening source
// names. Depends on the state records, the variable-name search and the
// current-line routine.
#include "vm/debug_api.h"

#include <cstring>

#include <algorithm>

#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace vl {

int SetVmHook(vlVMState* L, vlHookFn hook, int mask, int count) {
  if (!hook || mask == 0) {
    hook = nullptr;
    mask = 0;
  }
  L->hook = hook;
  L->baseHookCount = count;
  L->hookCount = count;
  L->hookMask = static_cast<uint8_t>(mask);
  L->hookInit = 0;
  return 1;
}

int GetStackLevel(vlVMState* L, int level, vlDebugInfo* ar) {
  vlCallInfo* ci = L->ci;
  for (; level > 0 && ci > L->baseCi; ci--) {
    level--;
    if (!(ci->state & VL_CI_NATIVE)) level -= ci->tailcalls;
  }
  if (level < 0) {  // inside the tail calls the frame absorbed
    ar->i_ci = 0;
    return 1;
  }
  if (level > 0 || ci == L->baseCi) return 0;
  ar->i_ci = static_cast<int32_t>(ci - L->baseCi);
  return 1;
}

void ChunkId(char* out, const char* source, size_t size) {
  if (size == 0) return;
  size_t room = size - 1;  // bytes before the NUL
  size_t len = std::strlen(source);
  if (source[0] == '=') {
    len = std::min(len - 1, room);
    std::memcpy(out, source + 1, len);
    out[len] = '\0';
    return;
  }
  if (source[0] == '@') {
    const char* name = source + 1;
    len--;
    if (len <= room) {
      std::memcpy(out, name, len + 1);
    } else if (room >= 3) {
      size_t tail = room - 3;
      std::memcpy(out, "...", 3);
      std::memcpy(out + 3, name + len - tail, tail + 1);
    } else {
      std::memcpy(out, name + len - room, room);
      out[room] = '\0';
    }
    return;
  }
  static constexpr char kOpen[] = "[string \"";
  static constexpr char kClose[] = "\"]";
  static constexpr char kMore[] = "...";
  const size_t openLen = sizeof kOpen - 1, closeLen = sizeof kClose - 1, moreLen = sizeof kMore - 1;
  if (room < openLen + closeLen + moreLen) {
    out[0] = '\0';
    return;
  }
  size_t line = std::strcspn(source, "\r\n");
  bool cut = line < len;  // more lines follow
  size_t fits = room - openLen - closeLen;
  if (line > fits) cut = true;
  if (cut) line = std::min(line, fits - moreLen);
  char* p = out;
  std::memcpy(p, kOpen, openLen);
  p += openLen;
  std::memcpy(p, source, line);
  p += line;
  if (cut) {
    std::memcpy(p, kMore, moreLen);
    p += moreLen;
  }
  std::memcpy(p, kClose, closeLen + 1);
}

const char* GetLocalName(const vlFuncProto* f, int n, int pc) {
  for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; i++) {
    if (pc < f->locvars[i].endpc && --n == 0) {
      const vlString* name = f->locvars[i].name;
      return name ? StringData(name) : "?";
    }
  }
  return nullptr;
}

namespace {

void DescribeFunction(vlDebugInfo* ar, const vlValue* f) {
  if (!f || f->tag != VL_TFUNCTION) {
    ar->source = "=(tail call)";
    ar->linedefined = -1;
    ar->what = "tail";
  } else if (ToClosure(f)->h.isNative) {
    ar->source = "=[C]";
    ar->linedefined = -1;
    ar->what = "C";
  } else {
    const vlFuncProto* p = ToClosure(f)->s.proto;
    ar->source = p->source ? StringData(p->source) : "=?";
    ar->linedefined = p->lineDefined;
    ar->what = p->lineDefined == 0 ? "main" : "Vellamora";
  }
  ChunkId(ar->short_src, ar->source, sizeof ar->short_src);
}

}  // namespace

int GetDebugInfo(vlVMState* L, const char* what, vlDebugInfo* ar) {
  vlCallInfo* ci = nullptr;
  vlValue fn;
  SetNil(&fn);
  bool haveFn = false;
  bool lostTail = false;
  if (*what == '>') {
    if (L->top - L->base < 1 || L->top[-1].tag != VL_TFUNCTION) RaiseVmError(L, ERR_FUNCEXPECTED);
    fn = L->top[-1];
    L->top--;
    haveFn = true;
    what++;
  } else if (ar->i_ci > 0 && ar->i_ci <= L->ci - L->baseCi) {
    ci = L->baseCi + ar->i_ci;
    fn = ci->base[-1];
    haveFn = fn.tag == VL_TFUNCTION;
  } else {
    lostTail = ar->i_ci == 0;
  }
  int status = 1;
  for (; *what; what++) {
    switch (*what) {
      case 'S': DescribeFunction(ar, haveFn ? &fn : nullptr); break;
      case 'l': ar->currentline = ci ? CurrentLine(L, ci) : -1; break;
      case 'u': ar->nups = haveFn ? ToClosure(&fn)->h.nupvalues : 0; break;
      case 'n':
        ar->name = nullptr;
        ar->namewhat = ci ? GetCallName(L, ci, &ar->name) : nullptr;
        if (!ar->name || !ar->namewhat) {
          // A lost tail call has an empty name; any other frame none.
          ar->name = lostTail ? "" : nullptr;
          ar->namewhat = "";
        }
        break;
      case 'f':
        if (haveFn) {
          PushNil(L);
          L->top[-1] = fn;
        } else {
          PushNil(L);
        }
        break;
      default: status = 0; break;
    }
  }
  return status;
}

}  // namespace vl

// The pattern commands: first match with its position or captures, an
// iterator over all matches, and replacement by a string or a function.
// Pattern errors are raised as script errors. Depends on the matcher and
// the VM's stack interface and string builder.
#include "libraries/string/string_library.h"
#include "libraries/string/string_pattern.h"
#include "runtime/error_vm.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/vmstring.h"

namespace {

void RaiseIfFailed(vlVMState* L, const vlMatchState& ms) {
  if (ms.error) vl::RaiseVmError(L, ms.error);
}

void PushCapture(vlVMState* L, const vlMatchState& ms, int index, const char* s, const char* e) {
  vlCaptureValue v;
  if (int code = GetPatternCapture(&ms, index, s, e, &v)) vl::RaiseVmError(L, code);
  if (v.isPosition) vl::PushNumber(L, static_cast<double>(v.position));
  else vl::PushBytes(L, v.text, v.length);
}

// Pushes every capture, or the whole match when there are none (unless
// wholeIfNone is false); the count pushed.
int PushCaptures(vlVMState* L, const vlMatchState& ms, const char* s, const char* e, bool wholeIfNone) {
  int n = (ms.level == 0 && wholeIfNone) ? 1 : ms.level;
  if (!vl::EnsureStackSpace(L, n)) vl::RaiseVmError(L, ERR_STACK);
  for (int i = 0; i < n; ++i) PushCapture(L, ms, i, s, e);
  return n;
}

struct Subject {
  const char* s;
  size_t n;
  const char* p;
  size_t pn;
};

// The subject and the pattern; a malformed pattern is raised at once.
Subject SubjectArgs(vlVMState* L) {
  Subject a;
  a.s = vl::CheckStringArg(L, 1, &a.n);
  a.p = vl::CheckStringArg(L, 2, &a.pn);
  if (int code = CheckPattern(a.p, a.pn)) vl::RaiseVmError(L, code);
  return a;
}

// The first match from the start argument on; false with -1 pushed when
// there is none.
int FindFirst(vlVMState* L, bool direct) {
  CheckArgs(L, 2, 3, 0, 0);
  Subject a = SubjectArgs(L);
  int32_t start = OptStringIntArg(L, 3, 0);
  if (start < 0 || static_cast<size_t>(start) > a.n) return ERR_WRONGUSAGE;
  const char* p = a.p;
  bool anchored = a.pn > 0 && *p == '^';
  if (anchored) p++;
  vlMatchState ms;
  InitMatchState(&ms, a.s, a.n, a.p, a.pn);
  size_t end = 0;
  ptrdiff_t at = FindPattern(&ms, static_cast<size_t>(start), p, anchored, &end);
  RaiseIfFailed(L, ms);
  if (at < 0) {
    vl::PushNumber(L, -1);
    return 1;
  }
  const char* s = a.s + at;
  const char* e = a.s + end;
  if (!direct) return PushCaptures(L, ms, s, e, true);
  vl::PushNumber(L, static_cast<double>(at));
  vl::PushNumber(L, static_cast<double>(end) - 1);
  return 2 + PushCaptures(L, ms, s, e, false);
}

// The iterator PatternFindStr hands out: upvalues subject, pattern and the
// position to search from.
int PatternIterator(vlVMState* L) {
  size_t n, pn;
  const char* s = vl::ToStringAt(L, vl::UpvalueIndex(1));
  n = vl::GetStringLengthAt(L, vl::UpvalueIndex(1));
  const char* p = vl::ToStringAt(L, vl::UpvalueIndex(2));
  pn = vl::GetStringLengthAt(L, vl::UpvalueIndex(2));
  double position = vl::ToNumberAt(L, vl::UpvalueIndex(3));
  if (!s || !p || !(position >= 0) || position > static_cast<double>(n)) return 0;
  vlMatchState ms;
  InitMatchState(&ms, s, n, p, pn);
  size_t end = 0;
  ptrdiff_t at = FindPattern(&ms, static_cast<size_t>(position), p, false, &end);
  RaiseIfFailed(L, ms);
  if (at < 0) return 0;
  size_t next = end == static_cast<size_t>(at) ? end + 1 : end;
  vl::PushNumber(L, static_cast<double>(next));
  vl::ReplaceSlotWithTop(L, vl::UpvalueIndex(3));
  return PushCaptures(L, ms, s + at, s + end, true);
}

// Appends the replacement string with its "%d" captures and "%x" escapes.
void AddReplacement(vlStrBuf* b, const vlMatchState& ms, const char* s, const char* e, const char* r,
                    size_t rn) {
  vlVMState* L = b->state;
  for (size_t i = 0; i < rn; ++i) {
    if (r[i] != '%' || i + 1 == rn) {
      vl::AddBytesToStrBuf(b, r + i, 1);
      continue;
    }
    char c = r[++i];
    if (c < '0' || c > '9') {
      vl::AddBytesToStrBuf(b, &c, 1);
      continue;
    }
    if (c == '0') vl::RaiseVmError(L, 1461);
    vlCaptureValue v;
    // Without captures there is no capture 1 either.
    if (ms.level == 0) vl::RaiseVmError(L, 1461);
    if (int code = GetPatternCapture(&ms, c - '1', s, e, &v)) vl::RaiseVmError(L, code);
    if (v.isPosition) {
      char text[vl::kNumberBufferSize];
      int len = vl::FormatNumber(static_cast<double>(v.position), text);
      vl::AddBytesToStrBuf(b, text, static_cast<size_t>(len));
    } else {
      vl::AddBytesToStrBuf(b, v.text, v.length);
    }
  }
}

}  // namespace

int CmdPatternFindStrShort(vlVMState* L) { return FindFirst(L, false); }
int CmdPatternFindStrDirect(vlVMState* L) { return FindFirst(L, true); }

int CmdPatternFindStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  SubjectArgs(L);
  vl::SetStackTop(L, 2);
  vl::PushNumber(L, 0);
  vl::PushNativeClosure(L, PatternIterator, 3);
  return 1;
}

int CmdPatternReplaceStr(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  Subject a = SubjectArgs(L);
  int kind = vl::GetTypeAt(L, 3);
  if (kind != VL_TSTRING && kind != VL_TNUMBER && kind != VL_TFUNCTION) return ERR_WRONGUSAGE;
  size_t rn = 0;
  const char* r = kind == VL_TFUNCTION ? nullptr : vl::ToStringAt(L, 3);
  if (r) rn = vl::GetStringLengthAt(L, 3);
  double maxDefault = static_cast<double>(a.n) + 1;
  double max = vl::GetTypeAt(L, 4) == VL_TNONE ? maxDefault : vl::CheckNumberArg(L, 4);
  vl::SetStackTop(L, 4);
  const char* p = a.p;
  bool anchored = a.pn > 0 && *p == '^';
  if (anchored) p++;
  vlMatchState ms;
  InitMatchState(&ms, a.s, a.n, a.p, a.pn);
  const char* src = a.s;
  const char* end = a.s + a.n;
  double count = 0;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  while (count < max) {
    ms.level = 0;
    ms.depth = 0;
    const char* e = MatchPattern(&ms, src, p);
    RaiseIfFailed(L, ms);
    if (e) {
      count++;
      if (kind == VL_TFUNCTION) {
        vl::PushSlotCopy(L, 3);
        int n = PushCaptures(L, ms, src, e, true);
        vl::CallFunction(L, n, 1);
        if (vl::IsStringAt(L, -1)) vl::AddTopToStrBuf(&b);
        else vl::SetStackTop(L, -2);
      } else {
        AddReplacement(&b, ms, src, e, r, rn);
      }
    }
    if (e && e > src) {
      src = e;
    } else if (src < end) {
      vl::AddBytesToStrBuf(&b, src++, 1);
    } else {
      break;
    }
    if (anchored) break;
  }
  vl::AddBytesToStrBuf(&b, src, static_cast<size_t>(end - src));
  vl::PushStrBufResult(&b);
  vl::PushNumber(L, count);
  return 2;
}

// The recursive backtracking matcher behind the pattern commands. Runs of
// plain items loop in place; captures and quantifiers recurse, bounded by
// kMaxPatternDepth. No dependencies beyond the error numbering.
#include "libraries/string/string_pattern.h"

#include <cstring>

#include "vm/error_codes.h"

namespace {

constexpr int kErrCaptureIndex = 1461;
constexpr int kErrEndsWithPercent = 1463;
constexpr int kErrMissingBracket = 1464;
constexpr int kErrUnbalanced = 1465;
constexpr int kErrTooManyCaptures = 1466;
constexpr int kErrFrontierBracket = 1467;
constexpr int kErrUnfinishedCapture = 1468;

constexpr char kEscape = '%';

inline unsigned char Byte(const char* p) { return static_cast<unsigned char>(*p); }

// Fails the match with code unless an earlier error is already kept.
const char* Fail(vlMatchState* ms, int code) {
  if (!ms->error) ms->error = code;
  return nullptr;
}

bool StepOver(vlMatchState* ms) {
  ++ms->steps;
  if (ms->maxSteps && ms->steps > ms->maxSteps) {
    Fail(ms, ERR_STACK);
    return true;
  }
  return false;
}

bool IsAsciiUpper(int c) { return c >= 'A' && c <= 'Z'; }
bool IsAsciiLower(int c) { return c >= 'a' && c <= 'z'; }
bool IsAsciiDigit(int c) { return c >= '0' && c <= '9'; }
// Letters: ASCII and the ISO 8859-1 letters except the division sign.
bool IsPatternLetter(int c) {
  return IsAsciiUpper(c) || IsAsciiLower(c) || (c >= 0xC0 && c <= 0xFF && c != 0xF7);
}

// Class letter cl (after '%') against byte c; an upper-case letter stands
// for the complement, any other byte for itself.
bool MatchClass(int c, int cl) {
  bool res;
  switch (IsAsciiUpper(cl) ? cl + 32 : cl) {
    case 'a': res = IsPatternLetter(c); break;
    case 'c': res = c < 32 || c == 127; break;
    case 'd': res = IsAsciiDigit(c); break;
    case 'l': res = IsAsciiLower(c); break;
    case 'p': res = (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) ||
                    (c >= 123 && c <= 126);
              break;
    case 's': res = c == ' ' || (c >= '\t' && c <= '\r'); break;
    case 'u': res = IsAsciiUpper(c); break;
    case 'w': res = IsPatternLetter(c) || IsAsciiDigit(c); break;
    case 'x': res = IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); break;
    case 'z': res = c == 0; break;
    default: return cl == c;
  }
  return IsAsciiUpper(cl) ? !res : res;
}

// The end of the single element at p (past a set's "]"), or null with the
// error set.
const char* ElementEnd(vlMatchState* ms, const char* p) {
  const char* end = ms->patternEnd;
  char c = *p++;
  if (c == kEscape) {
    if (p >= end) return Fail(ms, kErrEndsWithPercent);
    return p + 1;
  }
  if (c == '[') {
    if (p < end && *p == '^') p++;
    // The first member is taken before the test for "]", so "[]" and
    // "[^]" open sets that hold "]".
    do {
      if (p >= end) return Fail(ms, kErrMissingBracket);
      if (*p++ == kEscape && p < end) p++;
    } while (p >= end || *p != ']');
    return p + 1;
  }
  return p;
}

// Byte c against the set from p ("[") to ec (its "]").
bool MatchSet(int c, const char* p, const char* ec) {
  bool hit = true;
  if (p[1] == '^') {
    hit = false;
    p++;
  }
  while (++p < ec) {
    if (*p == kEscape) {
      p++;
      if (MatchClass(c, Byte(p))) return hit;
    } else if (p[1] == '-' && p + 2 < ec) {
      p += 2;
      if (Byte(p - 2) <= c && c <= Byte(p)) return hit;
    } else if (Byte(p) == c) {
      return hit;
    }
  }
  return !hit;
}

// Whether the subject byte at s matches the element from p to ep.
bool SingleMatch(const vlMatchState* ms, const char* s, const char* p, const char* ep) {
  if (s >= ms->subjectEnd) return false;
  int c = Byte(s);
  switch (*p) {
    case '.': return true;
    case kEscape: return MatchClass(c, Byte(p + 1));
    case '[': return MatchSet(c, p, ep - 1);
    default: return Byte(p) == c;
  }
}

const char* Match(vlMatchState* ms, const char* s, const char* p);

// Counts the longest run first, then gives back one byte at a time.
const char* MaxExpand(vlMatchState* ms, const char* s, const char* p, const char* ep) {
  ptrdiff_t i = 0;
  while (SingleMatch(ms, s + i, p, ep)) i++;
  while (i >= 0) {
    if (StepOver(ms)) return nullptr;
    if (const char* res = Match(ms, s + i, ep + 1)) return res;
    if (ms->error) return nullptr;
    i--;
  }
  return nullptr;
}

const char* MinExpand(vlMatchState* ms, const char* s, const char* p, const char* ep) {
  for (;;) {
    if (StepOver(ms)) return nullptr;
    if (const char* res = Match(ms, s, ep + 1)) return res;
    if (ms->error) return nullptr;
    if (!SingleMatch(ms, s, p, ep)) return nullptr;
    s++;
  }
}

const char* StartCapture(vlMatchState* ms, const char* s, const char* p, ptrdiff_t what) {
  if (ms->level >= kMaxPatternCaptures) return Fail(ms, kErrTooManyCaptures);
  ms->capture[ms->level].start = s;
  ms->capture[ms->level].length = what;
  ms->level++;
  const char* res = Match(ms, s, p);
  if (!res) ms->level--;
  return res;
}

const char* EndCapture(vlMatchState* ms, const char* s, const char* p) {
  int l = ms->level - 1;
  while (l >= 0 && ms->capture[l].length != kCaptureOpen) l--;
  if (l < 0) return Fail(ms, ERR_INVPATCAP);
  ms->capture[l].length = s - ms->capture[l].start;
  const char* res = Match(ms, s, p);
  if (!res) ms->capture[l].length = kCaptureOpen;
  return res;
}

// "%1".."%9": the text of a closed capture again.
const char* MatchBackReference(vlMatchState* ms, const char* s, int digit) {
  int l = digit - '1';
  if (l < 0 || l >= ms->level || ms->capture[l].length == kCaptureOpen)
    return Fail(ms, kErrCaptureIndex);
  ptrdiff_t len = ms->capture[l].length;
  if (len < 0) return nullptr;  // a position has no text to repeat
  if (ms->subjectEnd - s >= len && std::memcmp(ms->capture[l].start, s, static_cast<size_t>(len)) == 0)
    return s + len;
  return nullptr;
}

// "%bxy" with p at x: a run from x to its matching y.
const char* MatchBalance(vlMatchState* ms, const char* s, const char* p) {
  if (p + 1 >= ms->patternEnd) return Fail(ms, kErrUnbalanced);
  if (s >= ms->subjectEnd || *s != *p) return nullptr;
  char open = p[0], close = p[1];
  int count = 1;
  while (++s < ms->subjectEnd) {
    if (*s == close) {
      if (--count == 0) return s + 1;
    } else if (*s == open) {
      count++;
    }
  }
  return nullptr;
}

const char* Match(vlMatchState* ms, const char* s, const char* p) {
  if (++ms->depth > kMaxPatternDepth) {
    ms->depth--;
    return Fail(ms, ERR_STACK);
  }
  struct DepthGuard {
    vlMatchState* ms;
    ~DepthGuard() { ms->depth--; }
  } guard{ms};
  const char* end = ms->patternEnd;
  for (;;) {
    if (StepOver(ms)) return nullptr;
    if (p >= end) return s;
    switch (*p) {
      case '(':
        if (p + 1 < end && p[1] == ')') return StartCapture(ms, s, p + 2, kCapturePosition);
        return StartCapture(ms, s, p + 1, kCaptureOpen);
      case ')':
        return EndCapture(ms, s, p + 1);
      case '$':
        if (p + 1 == end) return s == ms->subjectEnd ? s : nullptr;
        break;
      case kEscape:
        if (p + 1 < end) {
          char next = p[1];
          if (next == 'b') {
            s = MatchBalance(ms, s, p + 2);
            if (!s) return nullptr;
            p += 4;
            continue;
          }
          if (next == 'f') {
            p += 2;
            if (p >= end || *p != '[') return Fail(ms, kErrFrontierBracket);
            const char* ep = ElementEnd(ms, p);
            if (!ep) return nullptr;
            int previous = s == ms->subjectStart ? 0 : Byte(s - 1);
            int current = s < ms->subjectEnd ? Byte(s) : 0;
            if (MatchSet(previous, p, ep - 1) || !MatchSet(current, p, ep - 1)) return nullptr;
            p = ep;
            continue;
          }
          if (IsAsciiDigit(Byte(p + 1))) {
            s = MatchBackReference(ms, s, Byte(p + 1));
            if (!s) return nullptr;
            p += 2;
            continue;
          }
        }
        break;
      default:
        break;
    }
    // A single element, perhaps with a quantifier.
    const char* ep = ElementEnd(ms, p);
    if (!ep) return nullptr;
    bool m = SingleMatch(ms, s, p, ep);
    char q = ep < end ? *ep : '\0';
    switch (q) {
      case '?': {
        if (m) {
          if (const char* res = Match(ms, s + 1, ep + 1)) return res;
          if (ms->error) return nullptr;
        }
        p = ep + 1;
        continue;
      }
      case '*':
        return MaxExpand(ms, s, p, ep);
      case '+':
        return m ? MaxExpand(ms, s + 1, p, ep) : nullptr;
      case '-':
        return MinExpand(ms, s, p, ep);
      default:
        if (!m) return nullptr;
        s++;
        p = ep;
        continue;
    }
  }
}

}  // namespace

int CheckPattern(const char* p, size_t length) {
  const char* end = p + length;
  int open = 0;
  vlMatchState ms;
  InitMatchState(&ms, p, 0, p, length);
  while (p < end) {
    switch (*p) {
      case '(':
        if (p + 1 < end && p[1] == ')') ++p;
        else ++open;
        ++p;
        continue;
      case ')':
        if (open-- == 0) return ERR_INVPATCAP;
        ++p;
        continue;
      case kEscape:
        if (p + 1 < end && p[1] == 'b') {
          if (end - p < 4) return kErrUnbalanced;
          p += 4;
          continue;
        }
        if (p + 1 < end && p[1] == 'f') {
          p += 2;
          if (p >= end || *p != '[') return kErrFrontierBracket;
        }
        break;
      default:
        break;
    }
    p = ElementEnd(&ms, p);
    if (!p) return ms.error;
  }
  return 0;
}

void InitMatchState(vlMatchState* ms, const char* subject, size_t length, const char* pattern,
                    size_t patternLength) {
  ms->subjectStart = subject;
  ms->subjectEnd = subject + length;
  ms->patternEnd = pattern + patternLength;
  ms->level = 0;
  ms->error = 0;
  ms->depth = 0;
  ms->steps = 0;
  ms->maxSteps = 0;
}

const char* MatchPattern(vlMatchState* ms, const char* s, const char* p) { return Match(ms, s, p); }

ptrdiff_t FindPattern(vlMatchState* ms, size_t start, const char* p, bool anchored, size_t* end) {
  const char* s = ms->subjectStart + start;
  do {
    ms->level = 0;
    ms->depth = 0;
    if (const char* e = Match(ms, s, p)) {
      *end = static_cast<size_t>(e - ms->subjectStart);
      return s - ms->subjectStart;
    }
    if (ms->error) return -1;
  } while (s++ < ms->subjectEnd && !anchored);
  return -1;
}

int GetPatternCapture(const vlMatchState* ms, int index, const char* s, const char* e,
                      vlCaptureValue* out) {
  out->isPosition = false;
  out->position = 0;
  if (index >= ms->level) {
    if (index != 0) return kErrCaptureIndex;
    out->text = s;
    out->length = static_cast<size_t>(e - s);
    return 0;
  }
  const vlPatternCapture& c = ms->capture[index];
  if (c.length == kCaptureOpen) return kErrUnfinishedCapture;
  if (c.length == kCapturePosition) {
    out->isPosition = true;
    out->position = static_cast<size_t>(c.start - ms->subjectStart) + 1;
    out->text = nullptr;
    out->length = 0;
    return 0;
  }
  out->text = c.start;
  out->length = static_cast<size_t>(c.length);
  return 0;
}

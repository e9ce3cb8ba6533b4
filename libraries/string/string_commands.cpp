// The string commands that cut, search, replace and join byte strings.
// Positions are 0-based byte offsets; zero bytes are ordinary bytes.
// Depends on the VM's argument readers and string builder and the ISO
// 8859-1 case tables.
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "libraries/string/byte_search.h"
#include "libraries/string/string_library.h"
#include "runtime/error_vm.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/vmstring.h"

namespace {

struct Bytes {
  const char* p;
  size_t n;
};

Bytes StringArg(vlVMState* L, int index) {
  Bytes b;
  b.p = vl::CheckStringArg(L, index, &b.n);
  return b;
}

// A case table as ranges: bytes lo .. hi and latinLo .. latinHi except one
// move by delta (mod 256), the others stay (checked against the table
// below), so that sixteen bytes fold at once.
struct CaseFold {
  unsigned char lo, hi, latinLo, latinHi, except, delta;
};
constexpr CaseFold kToLower{'A', 'Z', 0xC0, 0xDD, 0xD7, 32};
constexpr CaseFold kToUpper{'a', 'z', 0xE0, 0xFD, 0xF7, 256 - 32};
constexpr bool FoldsAsTable(CaseFold f, const vl::detail::ByteTable& table) {
  for (int c = 0; c < 256; ++c) {
    bool moves = (c >= f.lo && c <= f.hi) || (c >= f.latinLo && c <= f.latinHi && c != f.except);
    if (table[static_cast<size_t>(c)] != (moves ? (c + f.delta) & 0xFF : c)) return false;
  }
  return true;
}
static_assert(FoldsAsTable(kToLower, vlLowerCaseTable) && FoldsAsTable(kToUpper, vlUpperCaseTable));

#if defined(__SSE2__)
struct FoldVectors {
  __m128i lo, span, latinLo, latinSpan, except, delta;
  explicit FoldVectors(CaseFold f)
      : lo(_mm_set1_epi8(static_cast<char>(f.lo))),
        span(_mm_set1_epi8(static_cast<char>(f.hi - f.lo))),
        latinLo(_mm_set1_epi8(static_cast<char>(f.latinLo))),
        latinSpan(_mm_set1_epi8(static_cast<char>(f.latinHi - f.latinLo))),
        except(_mm_set1_epi8(static_cast<char>(f.except))),
        delta(_mm_set1_epi8(static_cast<char>(f.delta))) {}
  // A byte is in a range when its distance from the start, unsigned, is
  // at most the range's span.
  __m128i Fold(__m128i v) const {
    __m128i a = _mm_sub_epi8(v, lo);
    __m128i ascii = _mm_cmpeq_epi8(_mm_min_epu8(a, span), a);
    __m128i b = _mm_sub_epi8(v, latinLo);
    __m128i latin = _mm_andnot_si128(_mm_cmpeq_epi8(v, except), _mm_cmpeq_epi8(_mm_min_epu8(b, latinSpan), b));
    return _mm_add_epi8(v, _mm_and_si128(_mm_or_si128(ascii, latin), delta));
  }
};
#endif

// Maps n bytes from src to dst (apart) through the table: 16 bytes at a
// time (8 for shorter texts), the last run ending at n and overlapping the
// one before, whose bytes map the same again.
[[gnu::always_inline]] inline void MapBytes(char* dst, const char* src, size_t n, const vl::detail::ByteTable& table,
                                            CaseFold fold) {
#if defined(__SSE2__)
  if (n >= 8) {
    FoldVectors f(fold);
    auto load8 = [](const char* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); };
    auto load16 = [](const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    if (n < 16) {
      __m128i head = f.Fold(load8(src)), tail = f.Fold(load8(src + n - 8));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), head);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n - 8), tail);
      return;
    }
    for (size_t i = 0; i + 16 < n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), f.Fold(load16(src + i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), f.Fold(load16(src + n - 16)));
    return;
  }
#else
  (void)fold;
#endif
  for (size_t j = 0; j < n; ++j) dst[j] = static_cast<char>(table[static_cast<unsigned char>(src[j])]);
}

[[gnu::always_inline]] inline int PushMapped(vlVMState* L, const vl::detail::ByteTable& table, CaseFold fold) {
  CheckArgs(L, 1, 1, 0, 0);
  Bytes s = StringArg(L, 1);
  if (s.n <= kStrBufSize) {
    char mapped[kStrBufSize];
    MapBytes(mapped, s.p, s.n, table, fold);
    vl::PushBytes(L, mapped, s.n);
    return 1;
  }
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  // Mapped block by block straight into the builder.
  for (size_t i = 0; i < s.n;) {
    size_t room = kStrBufSize - static_cast<size_t>(b.p - b.buffer);
    if (room == 0) {
      vl::PrepStrBuf(&b);
      continue;
    }
    size_t n = s.n - i < room ? s.n - i : room;
    MapBytes(b.p, s.p + i, n, table, fold);
    b.p += n;
    i += n;
  }
  vl::PushStrBufResult(&b);
  return 1;
}

// Calls found(offset) for the occurrences of sub in s at or after from,
// each one after the end of the one before, until found returns false.
// Exact comparisons look only where the needle's first byte is.
template <class Found>
void ForEachMatch(Bytes s, Bytes sub, size_t from, bool caseSensitive, Found&& found) {
  if (!sub.n || from >= s.n || sub.n > s.n - from) return;
  if (!caseSensitive) {
    while (const char* hit = FindMemNoCase(s.p + from, sub.p, s.n - from, sub.n)) {
      if (!found(static_cast<size_t>(hit - s.p))) return;
      from = static_cast<size_t>(hit - s.p) + sub.n;
      if (from >= s.n) return;
    }
    return;
  }
  size_t next = from;  // where the next occurrence may start
  vl::ForEachByte(s.p, from, s.n - sub.n + 1, sub.p[0], [&](size_t at) {
    if (at < next || !vl::SameBytes(s.p + at, sub.p, sub.n)) return true;
    next = at + sub.n;
    return found(at);
  });
}

// Reads the (s, sub, case-sensitive = 1, start = 0) arguments of the
// searching commands. 0, or 1055 for a negative start.
[[gnu::always_inline]] inline int SearchArgs(vlVMState* L, int first, Bytes* s, Bytes* sub, bool* caseSensitive, int32_t* start) {
  *s = StringArg(L, 1);
  *sub = StringArg(L, 2);
  *caseSensitive = OptStringIntArg(L, first, 1) != 0;
  *start = OptStringIntArg(L, first + 1, 0);
  return *start < 0 ? ERR_WRONGUSAGE : 0;
}

}  // namespace

const char* FindMemNoCase(const char* buffer, const char* needle, size_t bufferLength,
                          size_t needleLength) {
  if (needleLength == 0 || needleLength > bufferLength) return nullptr;
  auto fold = [](char c) { return vlLowerCaseTable[static_cast<unsigned char>(c)]; };
  unsigned char first = fold(needle[0]);
  for (size_t i = 0; i + needleLength <= bufferLength; ++i) {
    if (fold(buffer[i]) != first) continue;
    size_t k = 1;
    while (k < needleLength && fold(buffer[i + k]) == fold(needle[k])) ++k;
    if (k == needleLength) return buffer + i;
  }
  return nullptr;
}

int32_t ReadOptStringIntArg(vlVMState* L, int index, int32_t def) {
  return vl::GetTypeAt(L, index) == VL_TNONE ? def : StringIntArg(L, index);
}

int CmdLowerStr(vlVMState* L) { return PushMapped(L, vlLowerCaseTable, kToLower); }
int CmdUpperStr(vlVMState* L) { return PushMapped(L, vlUpperCaseTable, kToUpper); }

int CmdUnrightStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t n = StringIntArg(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  size_t cut = static_cast<size_t>(n);
  if (cut >= s.n) vl::PushBytes(L, "", 0);
  else vl::PushBytes(L, s.p + cut, s.n - cut);
  return 1;
}

int CmdUnleftStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t n = StringIntArg(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  size_t cut = static_cast<size_t>(n);
  vl::PushBytes(L, s.p, cut >= s.n ? 0 : s.n - cut);
  return 1;
}

int CmdChr(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  double d = vl::CheckNumberArg(L, 1);
  if (d >= 256) return ERR_WRONGUSAGE;
  int32_t n = vl::DoubleToInt32(d);
  char c = static_cast<char>(n & 0xFF);
  vl::PushBytes(L, &c, n == 0 ? 0 : 1);
  return 1;
}

int CmdMidStr(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t pos = StringIntArg(L, 2);
  int32_t len = OptStringIntArg(L, 3, -1);
  // A position before the start would read in front of the string.
  if (pos < 0) return ERR_WRONGUSAGE;
  size_t from = static_cast<size_t>(pos);
  if (from >= s.n || (len <= 0 && len != -1)) {
    vl::PushBytes(L, "", 0);
    return 1;
  }
  size_t rest = s.n - from;
  size_t take = (len == -1 || static_cast<size_t>(len) > rest) ? rest : static_cast<size_t>(len);
  vl::PushBytes(L, s.p + from, take);
  return 1;
}

int CmdRightStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t n = StringIntArg(L, 2);
  size_t take = n < 1 ? 0 : (static_cast<size_t>(n) > s.n ? s.n : static_cast<size_t>(n));
  vl::PushBytes(L, s.p + s.n - take, take);
  return 1;
}

int CmdLeftStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t n = StringIntArg(L, 2);
  size_t take = n < 1 ? 0 : (static_cast<size_t>(n) > s.n ? s.n : static_cast<size_t>(n));
  vl::PushBytes(L, s.p, take);
  return 1;
}

int CmdFindStr(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  Bytes s, sub;
  bool caseSensitive;
  int32_t start;
  if (int status = SearchArgs(L, 3, &s, &sub, &caseSensitive, &start)) return status;
  double position = -1;
  ForEachMatch(s, sub, static_cast<size_t>(start), caseSensitive, [&](size_t at) {
    position = static_cast<double>(at);
    return false;
  });
  vl::PushNumber(L, position);
  return 1;
}

int CmdCountStr(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  Bytes s, sub;
  bool caseSensitive;
  int32_t start;
  if (int status = SearchArgs(L, 3, &s, &sub, &caseSensitive, &start)) return status;
  double count = 0;
  ForEachMatch(s, sub, static_cast<size_t>(start), caseSensitive, [&](size_t) {
    ++count;
    return true;
  });
  vl::PushNumber(L, count);
  return 1;
}

int CmdReplaceStr(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  Bytes s = StringArg(L, 1);
  Bytes find = StringArg(L, 2);
  Bytes repl = StringArg(L, 3);
  bool caseSensitive = OptStringIntArg(L, 4, 1) != 0;
  int32_t start = OptStringIntArg(L, 5, 0);
  if (start < 0) return ERR_WRONGUSAGE;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  size_t done = 0;  // bytes of s copied or replaced so far
  ForEachMatch(s, find, static_cast<size_t>(start), caseSensitive, [&](size_t at) {
    vl::AddBytesToStrBuf(&b, s.p + done, at - done);
    vl::AddBytesToStrBuf(&b, repl.p, repl.n);
    done = at + find.n;
    return true;
  });
  // Without an occurrence the result is s itself.
  if (done == 0) {
    vl::PushSlotCopy(L, 1);
    return 1;
  }
  vl::AddBytesToStrBuf(&b, s.p + done, s.n - done);
  vl::PushStrBufResult(&b);
  return 1;
}

int CmdAddStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vl::PushSlotCopy(L, 1);
  vl::PushSlotCopy(L, 2);
  vl::ConcatValues(L, 2);
  return 1;
}

int CmdAsc(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  Bytes s = StringArg(L, 1);
  vl::PushNumber(L, s.n ? static_cast<unsigned char>(s.p[0]) : 0);
  return 1;
}

int CmdStrLen(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  Bytes s = StringArg(L, 1);
  vl::PushNumber(L, static_cast<double>(s.n));
  return 1;
}

int CmdTrimStr(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  Bytes s = StringArg(L, 1);
  Bytes c = StringArg(L, 2);
  bool fromRight = StringIntArg(L, 3) != 0;
  if (c.n != 1) return ERR_WRONGUSAGE;
  size_t first = 0, last = s.n;
  if (fromRight) {
    while (last > 0 && s.p[last - 1] == c.p[0]) --last;
  } else {
    while (first < last && s.p[first] == c.p[0]) ++first;
  }
  vl::PushBytes(L, s.p + first, last - first);
  return 1;
}

int CmdUnmidStr(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t pos = StringIntArg(L, 2);
  int32_t len = StringIntArg(L, 3);
  if (pos < 0 || len < 0) return ERR_WRONGUSAGE;
  // A position at or past the end removes nothing.
  size_t from = static_cast<size_t>(pos);
  if (len == 0 || from >= s.n) {
    vl::PushSlotCopy(L, 1);
    return 1;
  }
  size_t to = static_cast<size_t>(len) >= s.n - from ? s.n : from + static_cast<size_t>(len);
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  vl::AddBytesToStrBuf(&b, s.p, from);
  vl::AddBytesToStrBuf(&b, s.p + to, s.n - to);
  vl::PushStrBufResult(&b);
  return 1;
}

int CmdInsertStr(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  Bytes s = StringArg(L, 1);
  Bytes ins = StringArg(L, 2);
  int32_t pos = StringIntArg(L, 3);
  bool overwrite = OptStringIntArg(L, 4, 0) != 0;
  if (pos < 0) return ERR_WRONGUSAGE;
  if (!s.n || !ins.n) {
    vl::PushSlotCopy(L, s.n ? 1 : 2);
    return 1;
  }
  size_t at = static_cast<size_t>(pos) > s.n ? s.n : static_cast<size_t>(pos);
  size_t rest = at;
  if (overwrite) rest = ins.n >= s.n - at ? s.n : at + ins.n;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  vl::AddBytesToStrBuf(&b, s.p, at);
  vl::AddBytesToStrBuf(&b, ins.p, ins.n);
  vl::AddBytesToStrBuf(&b, s.p + rest, s.n - rest);
  vl::PushStrBufResult(&b);
  return 1;
}

int CmdRepeatStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  Bytes s = StringArg(L, 1);
  int32_t n = StringIntArg(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  if (s.n && static_cast<uint64_t>(n) * s.n > UINT32_MAX) return ERR_MEM;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  for (int32_t i = 0; i < n && s.n; ++i) vl::AddBytesToStrBuf(&b, s.p, s.n);
  vl::PushStrBufResult(&b);
  return 1;
}

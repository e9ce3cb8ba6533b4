// Placeholder substitution and comparison for message texts (error
// messages and catalog translations). No dependencies beyond the C++
// library.
#include "runtime/error_format.h"

#include <charconv>
#include <cstring>

namespace {

// The next placeholder at or after *p: 's', 'd', 'x' (anything else) or 0
// at the end; *p is moved past it. "%%" is skipped.
char NextPlaceholder(const char*& p) {
  while (*p) {
    if (*p++ != '%') continue;
    char c = *p;
    if (c == '%') { ++p; continue; }
    if (c == 's' || c == 'd') { ++p; return c; }
    if (c == 'l' && p[1] == 'd') { p += 2; return 'd'; }
    return 'x';
  }
  return 0;
}

struct Writer {
  char* dst;
  size_t size;
  size_t len = 0;
  void Put(const char* s, size_t n) {
    if (size == 0) return;
    size_t room = size - 1 - len;
    if (n > room) n = room;
    memcpy(dst + len, s, n);
    len += n;
  }
};

}  // namespace

size_t CopyText(char* dst, size_t size, const char* src) {
  if (size == 0) return 0;
  size_t n = src ? strnlen(src, size - 1) : 0;
  memcpy(dst, src ? src : "", n);
  dst[n] = 0;
  return n;
}

size_t FormatMessageText(char* dst, size_t size, const char* text, const char* arg, long number) {
  Writer w{dst, size};
  if (!text) text = "";
  if (!arg) arg = "";
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
  (void)ec;
  size_t ndigits = static_cast<size_t>(end - digits);
  for (const char* p = text; *p;) {
    const char* pct = strchr(p, '%');
    if (!pct) { w.Put(p, strlen(p)); break; }
    w.Put(p, static_cast<size_t>(pct - p));
    p = pct + 1;
    if (*p == '%') { w.Put("%", 1); ++p; }
    else if (*p == 's') { w.Put(arg, strlen(arg)); ++p; }
    else if (*p == 'd') { w.Put(digits, ndigits); ++p; }
    else if (p[0] == 'l' && p[1] == 'd') { w.Put(digits, ndigits); p += 2; }
    else w.Put("%", 1);  // unknown sequence: the '%' and what follows stay as they are
  }
  if (size) dst[w.len] = 0;
  return w.len;
}

bool HasStringPlaceholder(const char* text) {
  for (char c; (c = NextPlaceholder(text));)
    if (c == 's') return true;
  return false;
}

bool HasNumberPlaceholder(const char* text) {
  for (char c; (c = NextPlaceholder(text));)
    if (c == 'd') return true;
  return false;
}

bool HasPlaceholders(const char* text) { return NextPlaceholder(text) != 0; }

bool SamePlaceholders(const char* a, const char* b) {
  for (;;) {
    char ca = NextPlaceholder(a), cb = NextPlaceholder(b);
    if (ca == 'x' || cb == 'x' || ca != cb) return false;
    if (!ca) return true;
  }
}

// Number texts and '|' lists of options. Decimal numbers are read in the C
// locale, so a toolkit that changes LC_NUMERIC cannot change them.
#include "runtime/option_text.h"

#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "vm/error_codes.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits of one base from p; returns the count read and the value.
size_t ReadDigits(const char* p, int base, double* value) {
  size_t n = 0;
  double v = 0;
  for (;; ++n) {
    int d = HexDigit(p[n]);
    if (d < 0 || d >= base) break;
    v = v * base + d;
  }
  *value = v;
  return n;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

locale_t CLocale() {
  static locale_t loc = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

}  // namespace

double ParseNumberString(const char* text, size_t* consumed, int* error) {
  size_t used = 0;
  int err = 0;
  double value = 0;
  const char* p = text ? text : "";
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  int base = 0;
  if (*p == '$') {
    ++p;
    if (*p == '-') {
      negative = !negative;
      ++p;
    }
    base = 16;
  } else if (*p == '%') {
    ++p;
    base = 2;
  } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    base = 16;
  }
  if (base != 0) {
    size_t n = ReadDigits(p, base, &value);
    if (n == 0) {
      err = ERR_SYNTAXERROR;
    } else {
      used = static_cast<size_t>(p + n - text);
    }
  } else if (IsDigit(p[0]) || (p[0] == '.' && IsDigit(p[1]))) {
    char* end = nullptr;
    locale_t loc = CLocale();
    value = loc ? strtod_l(p, &end, loc) : std::strtod(p, &end);
    used = static_cast<size_t>(end - text);
  } else {
    err = ERR_VALUEEXPECTED;
  }
  if (err) value = 0;
  else if (negative) value = -value;
  if (consumed) *consumed = used;
  if (error) *error = err;
  return value;
}

char* SplitBars(const char* text) {
  if (!text) return nullptr;
  size_t len = std::strlen(text);
  char* out = static_cast<char*>(std::malloc(len + 2));
  if (!out) return nullptr;
  for (size_t i = 0; i < len; ++i) out[i] = text[i] == '|' ? '\0' : text[i];
  out[len] = out[len + 1] = '\0';
  return out;
}

// Parses FormatStr conversion specifications and formats each with
// snprintf into a bounded buffer; "%q" quotes a string itself. No
// dependencies beyond the shared double-to-integer helper.
#include "libraries/string/string_format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr size_t kMaxSpecLength = 18;   // from the byte after "%" to the conversion
constexpr size_t kResultSize = 512;     // widths and precisions of two digits fit
constexpr size_t kLongStringLength = 100;

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void AppendQuoted(const vlFormatIO& io, const char* s, size_t n) {
  io.append(io.user, "\"", 1);
  size_t run = 0;  // bytes copied as they are, pending
  for (size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c != '"' && c != '\\' && c != '\n' && c != '\0') {
      ++run;
      continue;
    }
    io.append(io.user, s + i - run, run);
    run = 0;
    if (c == '\0') io.append(io.user, "\\000", 4);
    else {
      char escaped[2] = {'\\', c};
      io.append(io.user, escaped, 2);
    }
  }
  io.append(io.user, s + n - run, run);
  io.append(io.user, "\"", 1);
}

}  // namespace

int FormatString(const char* format, size_t length, const vlFormatIO& io) {
  const char* p = format;
  const char* end = format + length;
  int argument = 1;
  while (p < end) {
    if (*p != '%') {
      const char* q = static_cast<const char*>(std::memchr(p, '%', static_cast<size_t>(end - p)));
      if (!q) q = end;
      io.append(io.user, p, static_cast<size_t>(q - p));
      p = q;
      continue;
    }
    if (p + 1 < end && p[1] == '%') {
      io.append(io.user, "%", 1);
      p += 2;
      continue;
    }
    // "%", flags, up to two width digits, "." and up to two precision digits.
    const char* spec = p + 1;
    const char* q = spec;
    while (q < end && IsFlag(*q)) ++q;
    for (int i = 0; q < end && IsDigit(*q); ++i, ++q)
      if (i == 2) return ERR_WRONGUSAGE;
    bool precision = false;
    if (q < end && *q == '.') {
      precision = true;
      ++q;
      for (int i = 0; q < end && IsDigit(*q); ++i, ++q)
        if (i == 2) return ERR_WRONGUSAGE;
    }
    // A format that ends inside a conversion directive has no conversion.
    if (q >= end) return ERR_WRONGUSAGE;
    size_t specLength = static_cast<size_t>(q - spec) + 1;
    if (specLength > kMaxSpecLength) return ERR_WRONGUSAGE;
    char conversion = *q;
    p = q + 1;
    // The plain "%s" and "%d" need no sprintf: the same bytes, appended
    // directly (a short string still ends at its first zero byte).
    if (specLength == 1 && conversion == 's') {
      size_t n = 0;
      const char* s = io.string(io.user, ++argument, &n);
      io.append(io.user, s, n >= kLongStringLength ? n : strnlen(s, n));
      continue;
    }
    if (specLength == 1 && (conversion == 'd' || conversion == 'i')) {
      char digits[16];
      auto done = std::to_chars(digits, digits + sizeof digits, vl::DoubleToInt32(io.number(io.user, ++argument)));
      io.append(io.user, digits, static_cast<size_t>(done.ptr - digits));
      continue;
    }
    char form[kMaxSpecLength + 2];
    form[0] = '%';
    std::memcpy(form + 1, spec, specLength);
    form[specLength + 1] = '\0';
    char result[kResultSize];
    result[0] = '\0';
    ++argument;
    switch (conversion) {
      case 'd':
      case 'i':
      case 'c':
        std::snprintf(result, sizeof result, form, vl::DoubleToInt32(io.number(io.user, argument)));
        break;
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        std::snprintf(result, sizeof result, form, static_cast<unsigned>(io.integer(io.user, argument)));
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
        std::snprintf(result, sizeof result, form, io.number(io.user, argument));
        break;
      case 's': {
        size_t n = 0;
        const char* s = io.string(io.user, argument, &n);
        if (!precision && n >= kLongStringLength) {
          io.append(io.user, s, n);
          continue;
        }
        std::snprintf(result, sizeof result, form, s);
        break;
      }
      case 'q': {
        size_t n = 0;
        const char* s = io.string(io.user, argument, &n);
        AppendQuoted(io, s, n);
        continue;
      }
      default:
        return ERR_WRONGUSAGE;
    }
    io.append(io.user, result, std::strlen(result));
  }
  return 0;
}

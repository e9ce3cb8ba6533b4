// Parses FormatStr conversion specifications and formats each with
// snprintf into a bounded buffer; "%q" quotes a string itself. No
// dependencies beyond the shared double-to-integer helper.
#include "libraries/string/string_format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "libraries/string/byte_search.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr size_t kMaxSpecLength = 18;   // from the byte after "%" to the conversion
constexpr size_t kResultSize = 512;     // widths and precisions of two digits fit
constexpr size_t kLongStringLength = 100;

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[gnu::always_inline]] inline void Emit(const vlFormatIO& io, const char* bytes, size_t length) {
  if (io.buffer) io.buffer->Append(bytes, length);
  else io.append(io.user, bytes, length);
}

void AppendQuoted(const vlFormatIO& io, const char* s, size_t n) {
  Emit(io, "\"", 1);
  size_t run = 0;  // bytes copied as they are, pending
  for (size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c != '"' && c != '\\' && c != '\n' && c != '\0') {
      ++run;
      continue;
    }
    Emit(io, s + i - run, run);
    run = 0;
    if (c == '\0') Emit(io, "\\000", 4);
    else {
      char escaped[2] = {'\\', c};
      Emit(io, escaped, 2);
    }
  }
  Emit(io, s + n - run, run);
  Emit(io, "\"", 1);
}

}  // namespace

void vlFormatBuffer::Spill(const char* bytes, size_t length) {
  if (!spilled) spill.assign(local, used);
  spilled = true;
  spill.append(bytes, length);
}

int FormatString(const char* format, size_t length, const vlFormatIO& io) {
  const char* p = format;
  const char* end = format + length;
  int argument = 1;
  while (p < end) {
    if (*p != '%') {
      const char* q = format + vl::FindByte(format, static_cast<size_t>(p - format), length, '%');
      Emit(io, p, static_cast<size_t>(q - p));
      p = q;
      continue;
    }
    // "%%", and the plain "%s" and "%d" (most directives), need neither
    // the parse below nor sprintf: the same bytes, appended directly (a
    // short string still ends at its first zero byte).
    char next = p + 1 < end ? p[1] : '\0';
    if (next == '%') {
      Emit(io, "%", 1);
      p += 2;
      continue;
    }
    if (next == 's') {
      size_t n = 0;
      const char* s = io.string(io.user, ++argument, &n);
      Emit(io, s, n >= kLongStringLength ? n : vl::FindByte(s, 0, n, '\0'));
      p += 2;
      continue;
    }
    if (next == 'd' || next == 'i') {
      char digits[24];
      auto done = std::to_chars(digits, digits + sizeof digits, vl::DoubleToInt32(io.number(io.user, ++argument)));
      Emit(io, digits, static_cast<size_t>(done.ptr - digits));
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
          Emit(io, s, n);
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
    Emit(io, result, std::strlen(result));
  }
  return 0;
}

// The formatter behind FormatStr: printf-style conversions checked and
// handed one at a time to snprintf, plus the quoting conversion "%q".
// Arguments come from a reader and output goes to a sink given by the
// caller, so it knows nothing of the VM; the plain "%s", "%d", "%i" and "%%"
// (most directives) are done here inline, the rest out of line.
#pragma once
#include <cstddef>
#include <cstdint>

#include "libraries/string/byte_search.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/vmstring.h"

// Output collected by the formatter itself: in a block on the C stack, on
// the heap once it outgrows that.
struct vlFormatBuffer {
  char local[512];
  char* base = local;  // the block in use
  char* p = local;     // where the next byte goes
  char* end = local + sizeof local;

  vlFormatBuffer() = default;
  vlFormatBuffer(const vlFormatBuffer&) = delete;
  vlFormatBuffer& operator=(const vlFormatBuffer&) = delete;
  ~vlFormatBuffer() {
    if (base != local) delete[] base;
  }

  const char* Data() const { return base; }
  size_t Size() const { return static_cast<size_t>(p - base); }
  void Append(const char* bytes, size_t length) {
    if (length <= static_cast<size_t>(end - p)) {
      vl::CopyStringBytes(p, bytes, length);
      p += length;
      return;
    }
    Grow(bytes, length);
  }
  // Room for length bytes written in place (then Advance), or null.
  char* Room(size_t length) { return length <= static_cast<size_t>(end - p) ? p : nullptr; }
  void Advance(size_t length) { p += length; }
  // Appends through a larger block.
  void Grow(const char* bytes, size_t length);
};

// Arguments and output through callbacks.
struct vlFormatIO {
  void* user;
  // Readers of argument index (2 for the first conversion, then upwards);
  // they may raise, never return a failure.
  double (*number)(void* user, int index);
  int32_t (*integer)(void* user, int index);  // the 32-bit integer argument reading
  const char* (*string)(void* user, int index, size_t* length);
  // Where the output goes: into buffer when there is one (no call per
  // piece), else through append.
  void (*append)(void* user, const char* bytes, size_t length);
  vlFormatBuffer* buffer = nullptr;
};

// Formats format[0..length) through io. 0, or 1055 for a malformed
// directive or an unknown conversion (output may have been appended).
int FormatString(const char* format, size_t length, const vlFormatIO& io);

namespace vl::format {

constexpr size_t kMaxDirectiveLength = 18;  // from the byte after "%" to the conversion
constexpr size_t kResultSize = 512;         // widths and precisions of two digits fit
constexpr size_t kLongStringLength = 100;
constexpr size_t kMaxInt32Length = 11;  // "-2147483648"

// A directive other than the plain ones, parsed.
struct Directive {
  char form[kMaxDirectiveLength + 2];  // "%", the directive's body, a terminator
  char conversion;
  bool precision;
};

// Parses the directive whose body (flags to conversion) starts at body, the
// byte after "%": returns the byte after it, or null when it is malformed.
const char* ParseDirective(const char* body, const char* end, Directive* d);
// One value through d.form into result (kResultSize bytes); its length up
// to the first zero byte, as a C string.
size_t FormatValue(const Directive& d, int32_t value, char* result);
size_t FormatValue(const Directive& d, uint32_t value, char* result);
size_t FormatValue(const Directive& d, double value, char* result);
size_t FormatValue(const Directive& d, const char* text, char* result);

// Decimal digits of value at out (kMaxInt32Length bytes); the length.
inline size_t FormatInt32(int32_t value, char* out) {
  uint32_t v = static_cast<uint32_t>(value);
  return WriteInteger(value < 0, value < 0 ? 0u - v : v, 10, out);
}

template <class Sink>
void AppendQuoted(Sink& out, const char* s, size_t n) {
  out.Append("\"", 1);
  size_t run = 0;  // bytes copied as they are, pending
  for (size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c != '"' && c != '\\' && c != '\n' && c != '\0') {
      ++run;
      continue;
    }
    out.Append(s + i - run, run);
    run = 0;
    if (c == '\0') {
      out.Append("\\000", 4);
    } else {
      char escaped[2] = {'\\', c};
      out.Append(escaped, 2);
    }
  }
  out.Append(s + n - run, run);
  out.Append("\"", 1);
}

}  // namespace vl::format

// FormatString with the argument reader and the sink known at compile time:
// args.Number(i), args.Integer(i), args.String(i, &length); out.Append(bytes,
// length) and out.Room(n) / out.Advance(n) for bytes written in place.
template <class Args, class Sink>
int FormatWith(const char* format, size_t length, Args& args, Sink& out) {
  using namespace vl::format;
  const char* p = format;
  const char* end = format + length;
  int argument = 1;
  while (p < end) {
    if (*p != '%') {
      const char* q = format + vl::FindByte(format, static_cast<size_t>(p - format), length, '%');
      out.Append(p, static_cast<size_t>(q - p));
      p = q;
      continue;
    }
    // "%%", and the plain "%s" and "%d", need neither the parse nor
    // sprintf: the same bytes, appended directly (a short string still ends
    // at its first zero byte).
    const char* body = p + 1;
    char next = body < end ? *body : '\0';
    if (next == 's') {
      p += 2;
      size_t n = 0;
      const char* s = args.String(++argument, &n);
      out.Append(s, n >= kLongStringLength ? n : vl::FindByte(s, 0, n, '\0'));
      continue;
    }
    if (next == 'd' || next == 'i') {
      p += 2;
      int32_t value = vl::DoubleToInt32(args.Number(++argument));
      if (char* room = out.Room(kMaxInt32Length)) {
        out.Advance(FormatInt32(value, room));
      } else {
        char digits[kMaxInt32Length];
        out.Append(digits, FormatInt32(value, digits));
      }
      continue;
    }
    if (next == '%') {
      p += 2;
      out.Append("%", 1);
      continue;
    }
    Directive d;
    p = ParseDirective(body, end, &d);
    if (!p) return ERR_WRONGUSAGE;
    char result[kResultSize];
    size_t n;
    ++argument;
    switch (d.conversion) {
      case 'd':
      case 'i':
      case 'c': n = FormatValue(d, vl::DoubleToInt32(args.Number(argument)), result); break;
      case 'o':
      case 'u':
      case 'x':
      case 'X': n = FormatValue(d, static_cast<uint32_t>(args.Integer(argument)), result); break;
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G': n = FormatValue(d, args.Number(argument), result); break;
      case 's': {
        size_t length = 0;
        const char* s = args.String(argument, &length);
        if (!d.precision && length >= kLongStringLength) {
          out.Append(s, length);
          continue;
        }
        n = FormatValue(d, s, result);
        break;
      }
      case 'q': {
        size_t length = 0;
        const char* s = args.String(argument, &length);
        AppendQuoted(out, s, length);
        continue;
      }
      default: return ERR_WRONGUSAGE;
    }
    out.Append(result, n);
  }
  return 0;
}

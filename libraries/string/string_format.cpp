// Parses FormatStr conversion directives and formats each with
// snprintf into a bounded buffer; the callback form of the formatter. No
// dependencies beyond the shared double-to-integer helper.
#include "libraries/string/string_format.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace vl::format {

namespace {

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The form is one the parse let through, with a conversion that matches
// the value's type.
template <class T>
size_t FormatThrough(const Directive& d, T value, char* result) {
  result[0] = '\0';
  std::snprintf(result, kResultSize, d.form, value);
  return std::strlen(result);
}

}  // namespace

const char* ParseDirective(const char* body, const char* end, Directive* d) {
  // Flags, up to two width digits, "." and up to two precision digits.
  const char* q = body;
  while (q < end && IsFlag(*q)) ++q;
  for (int i = 0; q < end && IsDigit(*q); ++i, ++q)
    if (i == 2) return nullptr;
  d->precision = false;
  if (q < end && *q == '.') {
    d->precision = true;
    ++q;
    for (int i = 0; q < end && IsDigit(*q); ++i, ++q)
      if (i == 2) return nullptr;
  }
  // A format that ends inside a conversion directive has no conversion.
  if (q >= end) return nullptr;
  size_t directiveLength = static_cast<size_t>(q - body) + 1;
  if (directiveLength > kMaxDirectiveLength) return nullptr;
  d->conversion = *q;
  d->form[0] = '%';
  std::memcpy(d->form + 1, body, directiveLength);
  d->form[directiveLength + 1] = '\0';
  return q + 1;
}

size_t FormatValue(const Directive& d, int32_t value, char* result) { return FormatThrough(d, value, result); }
size_t FormatValue(const Directive& d, uint32_t value, char* result) {
  return FormatThrough(d, static_cast<unsigned>(value), result);
}
size_t FormatValue(const Directive& d, double value, char* result) { return FormatThrough(d, value, result); }
size_t FormatValue(const Directive& d, const char* text, char* result) { return FormatThrough(d, text, result); }

}  // namespace vl::format

void vlFormatBuffer::Grow(const char* bytes, size_t length) {
  // Doubling keeps long outputs from being copied over and over.
  size_t used = Size(), capacity = static_cast<size_t>(end - base);
  size_t need = used + length;
  if (need < length) throw std::bad_alloc();
  size_t size = capacity * 2 > need ? capacity * 2 : need;
  char* block = new char[size];
  std::memcpy(block, base, used);
  std::memcpy(block + used, bytes, length);
  if (base != local) delete[] base;
  base = block;
  p = block + need;
  end = block + size;
}

namespace {

struct CallbackArgs {
  const vlFormatIO& io;
  double Number(int index) { return io.number(io.user, index); }
  int32_t Integer(int index) { return io.integer(io.user, index); }
  const char* String(int index, size_t* length) { return io.string(io.user, index, length); }
};

struct CallbackSink {
  const vlFormatIO& io;
  void Append(const char* bytes, size_t length) {
    if (io.buffer) io.buffer->Append(bytes, length);
    else io.append(io.user, bytes, length);
  }
  char* Room(size_t length) { return io.buffer ? io.buffer->Room(length) : nullptr; }
  void Advance(size_t length) { io.buffer->Advance(length); }
};

}  // namespace

int FormatString(const char* format, size_t length, const vlFormatIO& io) {
  CallbackArgs args{io};
  CallbackSink out{io};
  return FormatWith(format, length, args, out);
}

// Feeds hostile formats to the FormatStr formatter. Arguments come from a
// fixed pool (extreme numbers, short, long and zero-holding strings); the
// output of one conversion (not literal text) may not exceed the longest
// legal one, and the formatter's own buffer must collect the same bytes as
// the callback.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "libraries/string/string_format.h"

namespace {

struct Sink {
  std::string out;
  const char* formatBegin = nullptr;  // literal text is appended straight from the format
  const char* formatEnd = nullptr;
  std::string longText = std::string(300, 'L') + std::string(1, '\0') + "tail";
};

double Number(void*, int index) {
  static const double kNumbers[] = {0, -1, 1e308, -1e-308, NAN, INFINITY, 3.5, 4294967295.0};
  return kNumbers[index % 8];
}
int32_t Integer(void*, int index) { return index % 2 ? -1 : 0x7FFFFFFF; }
const char* Text(void* user, int index, size_t* length) {
  auto* sink = static_cast<Sink*>(user);
  if (index % 3 == 0) {
    *length = sink->longText.size();
    return sink->longText.c_str();
  }
  static const char kShort[] = "a\"b\\c\nd";
  *length = sizeof kShort - 1;
  return kShort;
}
void Append(void* user, const char* bytes, size_t length) {
  auto* sink = static_cast<Sink*>(user);
  bool literal = bytes >= sink->formatBegin && bytes + length <= sink->formatEnd;
  if (!literal && length > 512 && length != 305) abort();
  sink->out.append(bytes, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string format(reinterpret_cast<const char*>(data), size);
  Sink sink;
  sink.formatBegin = format.data();
  sink.formatEnd = format.data() + format.size();
  vlFormatIO io{&sink, Number, Integer, Text, Append};
  int status = FormatString(format.data(), format.size(), io);
  if (status != 0 && status != 1055) abort();
  // Collected in the formatter's own buffer instead: the same bytes.
  vlFormatBuffer buffer;
  vlFormatIO direct{&sink, Number, Integer, Text, nullptr, &buffer};
  if (FormatString(format.data(), format.size(), direct) != status) abort();
  if (std::string(buffer.Data(), buffer.Size()) != sink.out) abort();
  return 0;
}

// Feeds hostile text to the Base64 decoder: it must never write beyond
// length / 4 * 3 bytes, and whatever it accepts must encode back to as many
// characters as it read (unused low bits of a padded group may differ) and
// decode again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<uint8_t> out(size / 4 * 3);
  size_t n = 0;
  if (!DecodeBase64(text, size, out.data(), &n)) return 0;
  if (n > out.size()) abort();
  std::string again(Base64EncodedSize(n) + 1, '\0');
  again.resize(EncodeBase64(out.data(), n, again.data()));
  std::string packed;
  for (size_t i = 0; i < size; ++i)
    if (!std::strchr(" \t\r\n", text[i]) || text[i] == '\0') packed += text[i];
  if (packed.size() != again.size()) abort();
  std::vector<uint8_t> twice(again.size() / 4 * 3);
  size_t m = 0;
  if (!DecodeBase64(again.data(), again.size(), twice.data(), &m) || m != n ||
      (n && std::memcmp(twice.data(), out.data(), n) != 0))
    abort();
  return 0;
}

// Feeds arbitrary bytes to the text decoders that see untrusted input:
// UTF-8 from the desktop, and number texts and '|' lists from option files.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/option_text.h"
#include "runtime/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly sized copies, so a read past the terminator is caught.
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = 0;
  size_t len = std::strlen(text.get());

  // The counted form (clipboard data) reads exactly size bytes, zero bytes
  // included, and agrees with the terminated form up to the first zero.
  {
    std::unique_ptr<char[]> bytes(new char[size ? size : 1]);
    std::memcpy(bytes.get(), data, size);
    std::unique_ptr<char[]> out(new char[size + 1]);
    size_t n = ConvertUTF8BytesToLatin1(bytes.get(), size, out.get());
    if (n > size || out[n] != 0) std::abort();
    std::unique_ptr<char[]> plain(new char[len + 1]);
    size_t m = ConvertUTF8ToLatin1(text.get(), plain.get(), len + 1);
    if (m > n || std::memcmp(out.get(), plain.get(), m) != 0) std::abort();
  }

  std::unique_ptr<char[]> latin(new char[len + 1]);
  size_t n = ConvertUTF8ToLatin1(text.get(), latin.get(), len + 1);
  if (n > len || latin[n] != 0) std::abort();

  // Latin-1 -> UTF-8 -> Latin-1 is the identity.
  char* utf8 = ConvertLatin1ToUTF8(latin.get());
  if (!utf8) return 0;
  std::unique_ptr<char[]> back(new char[2 * n + 1]);
  ConvertUTF8ToLatin1(utf8, back.get(), 2 * n + 1);
  if (std::strcmp(back.get(), latin.get()) != 0) std::abort();
  std::free(utf8);

  size_t consumed = 0;
  int error = 0;
  ParseNumberString(text.get(), &consumed, &error);
  if (consumed > len || (error != 0 && consumed != 0)) std::abort();

  char* multi = SplitBars(text.get());
  std::free(multi);
  return 0;
}

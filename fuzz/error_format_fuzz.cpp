// Feeds hostile catalog-style texts and error arguments to the message
// substituter and to the catalog look-up; nothing may read or write out of
// bounds, and every result is terminated within its destination; the same
// for the error texts built through such a catalog.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/error_format.h"
#include "runtime/errors.h"
#include "runtime/messages.h"

static std::string gCatalogText;
static const char* FuzzCatalog(int32_t) { return gCatalogText.c_str(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t cut = in.find('\0');
  std::string text = in.substr(0, cut);
  std::string arg = cut == std::string::npos ? std::string() : in.substr(cut + 1);
  arg = arg.c_str();  // up to its own terminator
  long number = size ? static_cast<int8_t>(data[0]) * 1234567L : 0;
  for (size_t dsize : {0u, 1u, 7u, 64u, 1024u}) {
    char* dst = static_cast<char*>(malloc(dsize ? dsize : 1));
    size_t n = FormatMessageText(dst, dsize, text.c_str(), arg.c_str(), number);
    if (dsize && (n >= dsize || strlen(dst) != n)) abort();
    free(dst);
  }
  SamePlaceholders(text.c_str(), arg.c_str());
  gCatalogText = text;
  SetMessageCatalog(FuzzCatalog);
  for (int32_t id : {3, 13, 165, 215, 616}) {
    char out[256];
    FormatMessageText(out, sizeof out, GetMessage(id), arg.c_str(), number);
  }
  SetErrorArgument(arg.c_str());
  SetErrorArgIndex(static_cast<int32_t>(number));
  for (int code : {0, 1000, 1045, 1052, 1134, 1181, 1239, 1463, 1581}) {
    char out[kErrorTextSize];
    GetErrorText(code, out, sizeof out);
    if (strlen(out) >= sizeof out) abort();
  }
  SetMessageCatalog(nullptr);
  return 0;
}

// Fuzzes URL escaping (plain and already escaped) and the split of
// transfer URLs, with and without a proxy. The first byte picks the mode;
// the rest is the URL, and after a 0 byte the proxy.
#include <cstdint>
#include <cstring>
#include <string>

#include "libraries/network/url_parse.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string url = rest.c_str();
  std::string proxy = url.size() < rest.size() ? std::string(rest.c_str() + url.size() + 1) : "";
  int encoded = data[0] & 1;
  char* normalised = nullptr;
  if (NormaliseURL(url.c_str(), encoded, &normalised) == 0) {
    if (std::strlen(normalised) > 3 * url.size()) __builtin_trap();
    vlURLParts parts{};
    parts.transferMode = 'i';
    ParseTransferURL(encoded ? normalised : url.c_str(), (data[0] & 2) ? proxy.c_str() : "", &parts);
    if (parts.transferMode != 'i' && parts.transferMode != 'a') __builtin_trap();
    FreeURLParts(&parts);
  }
  FreeMemory(normalised);
  return 0;
}

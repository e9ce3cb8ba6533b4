// Fuzz target: arbitrary text as an X display name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/x11/x11_open.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size);
  // An empty name would read $DISPLAY instead.
  if (name.empty() || name.find('\0') != std::string::npos) return 0;
  vlXDisplayAddress address;
  if (ParseXDisplayName(name.c_str(), &address)) {
    if (address.number < 0 || address.number > 59535 || address.screen < 0) __builtin_trap();
    if (address.host.size() + address.protocol.size() >= name.size()) __builtin_trap();
  }
  return 0;
}

// Fuzz target: arbitrary bytes as a dropped text/uri-list.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/os.h"
#include "platform/x11/x11_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* list = DecodeUriList(data, size);
  if (!list) return 0;
  // The list must end within its block: entries never outgrow the input.
  size_t walked = 0;
  for (const char* f = list; *f; f += std::strlen(f) + 1) walked += std::strlen(f) + 1;
  if (walked > size + 1) __builtin_trap();
  FreeMemory(list);
  return 0;
}

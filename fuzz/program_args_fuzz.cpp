// Fuzz target: arbitrary text as an external program's argument string.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/programs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string args(reinterpret_cast<const char*>(data), size);
  vlProgramArgs split;
  if (SplitProgramArgs("prog", args.c_str(), &split) == 0) {
    if (split.count < 1 || split.count > kMaxProgramArgs || split.vector[split.count]) __builtin_trap();
    if (std::strlen(split.output) > kMaxOutputName) __builtin_trap();
    FreeProgramArgs(&split);
  }
  (void)IsDocumentName(args.c_str());
  return 0;
}

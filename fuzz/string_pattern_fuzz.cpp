// Feeds hostile patterns and subjects to the string pattern matcher: the
// first byte splits the input into pattern and subject. A step budget keeps
// backtracking patterns short; every match must lie inside the subject and
// every capture read back must too; a pattern that passes the whole-pattern
// check must never fail on its syntax.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "libraries/string/string_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t split = 1 + data[0] % (size);
  if (split > size) split = size;
  // Separate allocations, so reads past either end are caught.
  std::string pattern(reinterpret_cast<const char*>(data + 1), split - 1);
  std::string subject(reinterpret_cast<const char*>(data + split), size - split);
  // A pattern the whole-pattern check passes never fails on its syntax
  // while matching.
  const bool wellFormed = CheckPattern(pattern.data(), pattern.size()) == 0;
  for (int anchored = 0; anchored < 2; ++anchored) {
    vlMatchState ms;
    InitMatchState(&ms, subject.data(), subject.size(), pattern.data(), pattern.size());
    ms.maxSteps = 20000;
    size_t end = 0;
    ptrdiff_t at = FindPattern(&ms, 0, pattern.data(), anchored != 0, &end);
    if (wellFormed && (ms.error == 1462 || ms.error == 1463 || ms.error == 1464 || ms.error == 1465 ||
                       ms.error == 1467))
      abort();
    if (at < 0) continue;
    if (static_cast<size_t>(at) > end || end > subject.size()) abort();
    for (int i = 0; i <= ms.level; ++i) {
      vlCaptureValue v;
      if (GetPatternCapture(&ms, i, subject.data() + at, subject.data() + end, &v)) continue;
      if (v.isPosition ? v.position > subject.size() + 1
                       : (v.text < subject.data() || v.text + v.length > subject.data() + subject.size()))
        abort();
    }
  }
  return 0;
}

// Formatted console output, flushed at once when the forced-flush switch is
// on (output piped into another program would otherwise arrive late).
#include "runtime/console.h"

#include <cstdarg>
#include <cstdio>

bool vlConsoleForceFlush = false;

void PrintConsole(const char* format, ...) {
  if (!format) return;
  va_list ap;
  va_start(ap, format);
  std::vprintf(format, ap);
  va_end(ap);
  if (vlConsoleForceFlush) std::fflush(stdout);
}

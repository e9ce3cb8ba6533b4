// Formatted console output, flushed at once when the forced-flush switch is
// on (output piped into another program would otherwise arrive late).
// Depends on the message table and the quiet run-time option.
#include "runtime/console.h"

#include <cstdarg>
#include <cstdio>

#include "runtime/messages.h"
#include "runtime/runtime_options.h"

bool vlConsoleForceFlush = false;
int vlProgressLineOpen = 0;

void PrintConsole(const char* format, ...) {
  if (!format) return;
  va_list ap;
  va_start(ap, format);
  std::vprintf(format, ap);
  va_end(ap);
  if (vlConsoleForceFlush) std::fflush(stdout);
}

void FlushConsole() {
  for (FILE* out : {stdout, stderr})
    if (std::fflush(out) != 0) std::clearerr(out);
}

namespace {

void PrintNotice(int32_t id) {
  if (vlOptions.quiet) return;
  PrintConsole("%s\n", GetMessage(id));
  vlProgressLineOpen = 0;
}

}  // namespace

void PrintDone() { PrintNotice(95); }
void PrintFailed() { PrintNotice(108); }
void PrintSkipped() { PrintNotice(195); }

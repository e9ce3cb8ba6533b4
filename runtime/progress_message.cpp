// Progress messages on the console. Formats may come from a catalog, so
// they are filled by the message substituter, never by printf.
// Depends on the console, the quiet option and file-name helpers.
#include "runtime/progress_message.h"

#include "runtime/chunk_name.h"
#include "runtime/console.h"
#include "runtime/error_format.h"
#include "runtime/runtime_options.h"

void PrintProgressName(const char* format, const char* name, int addDots) {
  if (vlOptions.quiet || !format) return;
  char text[2048];
  if (name) FormatMessageText(text, sizeof text, format, name, 0);
  else CopyText(text, sizeof text, format);
  PrintConsole(addDots ? "%s..." : "%s", text);
  vlProgressLineOpen = 1;
}

void PrintProgressMessage(const char* format, const char* fileName, int addDots) {
  PrintProgressName(format, fileName ? GetReadableFileName(fileName) : nullptr, addDots);
}

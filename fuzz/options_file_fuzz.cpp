// Feeds hostile options files and command lines to the two option parsers
// and applies whatever they accept: no read or write may leave its buffer,
// every stored text must lie inside the parser's own copy, and the results
// must be codes the callers know.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "player/cmdline.h"
#include "player/startup_options.h"

namespace {

// Every argument value must point into the buffer that was parsed.
void CheckWords(const vlOptionValues& v, const char* buffer, size_t length) {
  for (const vlCmdLineOption* row = vlCmdLineOptions; row->name; ++row) {
    uintptr_t w = v.word[row->id];
    if (!row->takesArgument) {
      if (w > 1) abort();
      continue;
    }
    if (!w) continue;
    const char* text = reinterpret_cast<const char*>(w);
    if (text < buffer || text > buffer + length) abort();
    if (text + std::strlen(text) > buffer + length) abort();
  }
}

void ApplyAndRelease(vlOptionValues* values, vlExtraArg** extras) {
  vlAppletInfo applet{};
  vlStartupRecord startup{};
  InitStartupDefaults(&applet, &startup);
  ApplyStartupOptions(&applet, values->word, &startup);
  if (applet.overrides.xServer[sizeof applet.overrides.xServer - 1] != '\0') abort();
  if (applet.overrides.backfill.brushFile[sizeof applet.overrides.backfill.brushFile - 1] != '\0') abort();
  FreeStartupSettings();
  FreeOptionValues(values);
  FreeExtraArgs(extras);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  vlOptionValues values{};
  vlExtraArg* extras = nullptr;
  int r = ParseOptionsText(&values, text, size, &extras);
  if (r != 0 && r != 1363 && r != 1000) abort();
  if (values.file) CheckWords(values, values.file, strnlen(text, size));
  for (vlExtraArg* e = extras; e; e = e->next)
    if (!e->name || std::strlen(e->name) > 127) abort();
  ApplyAndRelease(&values, &extras);

  std::string line(text, strnlen(text, size));
  r = ParseCommandLine(&values, line.c_str(), &extras);
  if (r != 0 && r != 1060 && r != 1000) abort();
  if (values.line) CheckWords(values, values.line, line.size());
  ApplyAndRelease(&values, &extras);
  return 0;
}

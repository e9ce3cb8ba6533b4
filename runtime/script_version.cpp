// The script's format revision and the version test of commands. Depends on
// the error-argument buffer only.
#include "runtime/script_version.h"

#include <cstdio>

#include "runtime/errors.h"

uint32_t vlLegacyLineBasedShapes = 0;
uint32_t vlLegacySingleMusic = 0;

namespace {
bool gKnown;
int gMajor = 6;
int gMinor = 1;
}  // namespace

void SetScriptVersion(int major, int minor) {
  gKnown = true;
  gMajor = major;
  gMinor = minor;
}

void ClearScriptVersion() {
  gKnown = false;
  gMajor = 6;
  gMinor = 1;
}

int CheckScriptVersion(int major, int minor) {
  if (!gKnown || gMajor > major || (gMajor == major && gMinor >= minor)) return 1;
  char text[32];
  snprintf(text, sizeof text, "%d.%d", major, minor);
  SetErrorArgument(text);
  return 0;
}

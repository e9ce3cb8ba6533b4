// The process entry: keeps argc/argv, resolves the program's own path and
// hands over to the start-up body. Depends on the C library only.
#include "runtime/os.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
int* gArgc = nullptr;
char*** gArgv = nullptr;
char gProgramPath[PATH_MAX] = "";
}  // namespace

int ResolveProgramPath(const char* argv0, char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = 0;
  char resolved[PATH_MAX];
  // A name without a slash was found through PATH (or names a file in the
  // current directory only by accident); only the kernel knows which file
  // is running then.
  if (argv0 && strchr(argv0, '/') && realpath(argv0, resolved)) {
    if (strlen(resolved) >= size) return 0;
    strcpy(buffer, resolved);
    return 1;
  }
  ssize_t n = readlink("/proc/self/exe", resolved, sizeof(resolved) - 1);
  if (n <= 0 || static_cast<size_t>(n) >= size) return 0;
  resolved[n] = 0;
  strcpy(buffer, resolved);
  return 1;
}

int ProcessMain(int argc, char** argv, vlStartUpFn startUp) {
  static int keptArgc;
  static char** keptArgv;
  keptArgc = argc;
  keptArgv = argv;
  gArgc = &keptArgc;
  gArgv = &keptArgv;
  ResolveProgramPath(argc > 0 ? argv[0] : nullptr, gProgramPath, sizeof(gProgramPath));
  return startUp ? startUp(argc, argv) : EXIT_FAILURE;
}

void GetProcessArgs(int** argc, char**** argv) {
  if (argc) *argc = gArgc;
  if (argv) *argv = gArgv;
}

char* GetProgramPath(char* buffer, size_t size) {
  if (size == 0) return buffer;
  // A cut path would name another file; an empty one names none.
  size_t n = strnlen(gProgramPath, sizeof(gProgramPath));
  if (n >= size) n = 0;
  memcpy(buffer, gProgramPath, n);
  buffer[n] = 0;
  return buffer;
}

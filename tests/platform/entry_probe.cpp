// A stand-in program for the process-entry tests: runs ProcessMain with a
// test body that prints what the entry recorded and exits with 7.
#include <cstdio>

#include "runtime/os.h"

namespace {

int TestBody(int argc, char** argv) {
  char path[4096];
  GetProgramPath(path, sizeof(path));
  int* keptArgc = nullptr;
  char*** keptArgv = nullptr;
  GetProcessArgs(&keptArgc, &keptArgv);
  bool same = keptArgc && keptArgv && *keptArgc == argc && *keptArgv == argv;
  printf("path=%s\nargc=%d\nkept=%d\n", path, argc, same ? 1 : 0);
  return 7;
}

}  // namespace

int main(int argc, char** argv) { return ProcessMain(argc, argv, TestBody); }

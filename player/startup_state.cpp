// Small pieces of start-up state shared by the container reader, start-up
// and shut-down: progress steps, the progress-line flag and the list of
// temporary files to remove at the end. Depends on the platform layer.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "player/linked_data.h"
#include "player/startup.h"
#include "vm/error_codes.h"

double vlProgressStep = 0;
double vlProgressSum = 0;

namespace {
struct TempName {
  TempName* next;
  char* name;
};
TempName* gTempNames = nullptr;
}  // namespace

int TimerTick() {
  if (vlLinked) return 0;
  vlProgressSum += vlProgressStep;
  // This platform has no break signal to poll.
  return 0;
}

int NewTempName(char* buffer, size_t size) {
  if (!MakeTempFileName(buffer, size)) return 0;
  auto* node = static_cast<TempName*>(std::malloc(sizeof(TempName)));
  char* copy = strdup(buffer);
  if (!node || !copy) {
    std::free(node);
    std::free(copy);
    RemovePath(buffer);
    buffer[0] = 0;
    errno = ENOMEM;
    return 0;
  }
  node->next = nullptr;
  node->name = copy;
  TempName** tail = &gTempNames;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  return 1;
}

void RemoveTempNames() {
  while (TempName* node = gTempNames) {
    gTempNames = node->next;
    RemovePath(node->name);
    std::free(node->name);
    std::free(node);
  }
}

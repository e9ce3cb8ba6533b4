// The list of temporary paths to remove when the process ends without its
// shut-down. Depends on libc only: it is used from whichever thread saw the
// X server go, while the other threads still run.
#include "runtime/exit_removals.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "vm/error_codes.h"

namespace {

struct ExitPath {
  ExitPath* next;
  char path[1];  // the rest of the block
};

// Statically made and recursive: there is no start-up order to depend on.
pthread_mutex_t gLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
ExitPath* gPaths = nullptr;

class Locked {
 public:
  Locked() { pthread_mutex_lock(&gLock); }
  ~Locked() { pthread_mutex_unlock(&gLock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

// A directory goes with the files the process put into it.
void RemoveOne(const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path);
    return;
  }
  if (DIR* dir = opendir(path)) {
    const int fd = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
      if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
      unlinkat(fd, entry->d_name, 0);
    }
    closedir(dir);
  }
  rmdir(path);
}

}  // namespace

int KeepForExitRemoval(const char* path) {
  const size_t length = std::strlen(path);
  auto* node = static_cast<ExitPath*>(std::malloc(sizeof(ExitPath) + length));
  if (!node) return ERR_MEM;
  std::memcpy(node->path, path, length + 1);
  Locked lock;
  node->next = gPaths;
  gPaths = node;
  return 0;
}

void ForgetExitRemoval(const char* path) {
  Locked lock;
  for (ExitPath** p = &gPaths; *p; p = &(*p)->next) {
    if (std::strcmp((*p)->path, path) != 0) continue;
    ExitPath* node = *p;
    *p = node->next;
    std::free(node);
    return;
  }
}

void RemoveExitPaths() {
  Locked lock;
  while (ExitPath* node = gPaths) {
    gPaths = node->next;
    RemoveOne(node->path);
    std::free(node);
  }
}

// Memory, environment, free memory, console output, directories, temporary
// files, platform options and requester button classification.
// Depends on paths.h (joining, directories).
#include "runtime/os.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>

#include "runtime/errors.h"
#include "runtime/exit_removals.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "vm/error_codes.h"

namespace {
char gTempDir[PATH_MAX] = "/tmp";
int gCtrlCQuit = 1;
int gLeftMouseQuit = 0;
int gEscapeQuit = 0;
}  // namespace

void* AllocMemory(size_t size, int clear) {
  if (size == 0) return nullptr;
  return clear ? calloc(size, 1) : malloc(size);
}

void FreeMemory(void* block) { free(block); }

char* GetEnvCopy(const char* name) {
  const char* value = getenv(name);
  if (!value) return nullptr;
  size_t length = strlen(value) + 1;
  char* copy = static_cast<char*>(AllocMemory(length, 0));
  if (copy) memcpy(copy, value, length);
  return copy;
}

int SetEnvVar(const char* name, const char* value) {
  return setenv(name, value, 1) == 0 ? 0 : ERR_SETENV;
}

int UnsetEnvVar(const char* name) { return unsetenv(name) == 0 ? 0 : ERR_UNSETENV; }

uint32_t GetFreeMemoryFrom(const char* meminfoPath) {
  FILE* file = fopen(meminfoPath, "r");
  if (!file) return 0;
  char line[256];
  uint32_t kilobytes = 0;
  while (fgets(line, sizeof(line), file)) {
    if (strncmp(line, "MemFree:", 8) != 0) continue;
    const char* number = line + 8;
    while (*number == ' ' || *number == '\t') number++;
    long value = strtol(number, nullptr, 10);
    kilobytes = value > 0 ? static_cast<uint32_t>(value) : 0;
    break;
  }
  fclose(file);
  return kilobytes;
}

uint32_t GetFreeMemory() { return GetFreeMemoryFrom("/proc/meminfo"); }

void PrintToStdout(const char* format, va_list args) { vfprintf(stdout, format, args); }

const char* GetTempDir() { return gTempDir; }

void SetTempDir(const char* dir) { snprintf(gTempDir, sizeof(gTempDir), "%s", dir); }

void GetPrefsDir(char* buffer, size_t size) {
  const char* home = getenv("HOME");
  // Without a home directory the preferences go to the temporary one.
  snprintf(buffer, size, "%s", home && *home ? home : gTempDir);
  if (AddPart(buffer, size, ".vellamora-pix")) MakeDirPath(buffer);
  if (AddPart(buffer, size, "preferences")) MakeDirPath(buffer);
}

namespace {

constexpr char kTempTemplate[] = "vellamora.XXXXXX";

int NoTempFile(char* buffer, int error) {
  if (buffer) buffer[0] = 0;
  errno = error;
  return 0;
}

}  // namespace

int MakeTempFileName(char* buffer, size_t size) {
  if (size == 0) return NoTempFile(nullptr, ENAMETOOLONG);
  snprintf(buffer, size, "%s", gTempDir);
  if (!AddPart(buffer, size, kTempTemplate)) return NoTempFile(buffer, ENAMETOOLONG);
  int fd = mkstemp(buffer);
  // The template names no file; leaving it would let two callers share it.
  if (fd < 0) return NoTempFile(buffer, errno);
  close(fd);
  // Left behind by an exit without shut-down unless it is remembered.
  if (KeepForExitRemoval(buffer)) {
    remove(buffer);
    return NoTempFile(buffer, ENOMEM);
  }
  return 1;
}

int TempFileNameError(int error) {
  if (error == ENOMEM) return ERR_MEM;
  std::string name = gTempDir;
  if (name.empty() || name.back() != '/') name += '/';
  name += kTempTemplate;
  // Too long for the message around it: its middle gives way, so both the
  // start of the folder and its last parts still show.
  constexpr size_t kRoom = kErrorTextSize - 128, kHead = kRoom / 2 - 8;
  if (name.size() > kRoom) name = name.substr(0, kHead) + "..." + name.substr(name.size() - (kRoom - kHead - 3));
  SetErrorArgument(name.c_str());
  return ERR_WRITEFILE;
}

void SetPlatformOption(uint32_t, int id, int value) {
  switch (id) {
    case VL_PLATOPT_CTRLC_QUIT: gCtrlCQuit = value; break;
    case VL_PLATOPT_LMB_QUIT: gLeftMouseQuit = value; break;
    case VL_PLATOPT_ESCAPE_QUIT: gEscapeQuit = value; break;
    default: break;
  }
}

int GetPlatformOption(int id) {
  switch (id) {
    case VL_PLATOPT_CTRLC_QUIT: return gCtrlCQuit;
    case VL_PLATOPT_LMB_QUIT: return gLeftMouseQuit;
    case VL_PLATOPT_ESCAPE_QUIT: return gEscapeQuit;
    default: return 0;
  }
}

void ClassifyRequestButtons(const char** text, int* kind) {
  if (!text || !*text) return;
  static constexpr struct {
    const char* buttons;
    int kind;
  } kStandard[] = {{"OK", 3}, {"OK|Cancel", 0}, {"Yes|No", 1}, {"Yes|No|Cancel", 2}};
  for (const auto& row : kStandard) {
    if (strcasecmp(*text, row.buttons) == 0) {
      *kind = row.kind;
      *text = nullptr;
      return;
    }
  }
}

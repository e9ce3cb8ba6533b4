// Path joining and conversion and the file-system routines that the dos
// library, the preferences store and start-up call directly.
// Depends on os.h (memory) and the runtime's path joining.
#include "runtime/paths.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <utime.h>

#include "runtime/exit_removals.h"
#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "vm/error_codes.h"

void CutFilePart(char* path) {
  char* slash = strrchr(path, '/');
  if (slash) {
    slash[slash == path ? 1 : 0] = 0;
  } else {
    path[0] = 0;
  }
}

const char* ToNativePath(const char* path, char* buffer) {
  size_t length = strlen(path);
  if (IsChunkName(path)) {
    if (length >= kNativePathBuffer) return path;
    memcpy(buffer, path, length + 1);
    return buffer;
  }
  if (length > kNativePathBuffer - 1) return path;
  for (size_t i = 0; i <= length; i++) buffer[i] = path[i] == '\\' ? '/' : path[i];
  return buffer;
}

namespace {

struct vlProtectionBit {
  uint32_t engine;
  mode_t posix;
};

constexpr vlProtectionBit kProtection[] = {
    {VL_PROT_OWNER_READ, 0400},  {VL_PROT_OWNER_WRITE, 0200}, {VL_PROT_OWNER_EXEC, 0100},
    {VL_PROT_GROUP_READ, 040},   {VL_PROT_GROUP_WRITE, 020},  {VL_PROT_GROUP_EXEC, 010},
    {VL_PROT_OTHER_READ, 04},    {VL_PROT_OTHER_WRITE, 02},   {VL_PROT_OTHER_EXEC, 01},
};

}  // namespace

uint32_t ProtectionFromMode(mode_t mode) {
  uint32_t bits = 0;
  for (const vlProtectionBit& row : kProtection) {
    if (mode & row.posix) bits |= row.engine;
  }
  return bits;
}

mode_t ModeFromProtection(uint32_t protection) {
  if (protection & VL_PROT_DEFAULT) return 0644;
  mode_t mode = 0;
  for (const vlProtectionBit& row : kProtection) {
    if (protection & row.engine) mode |= row.posix;
  }
  return mode;
}

void FillFileStat(const struct stat& st, vlFileStat* out) {
  out->isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
  out->size = static_cast<uint64_t>(st.st_size);
  out->protection = ProtectionFromMode(st.st_mode);
  out->comment[0] = 0;
  out->accessTime = static_cast<uint32_t>(st.st_atime);
  out->modifyTime = static_cast<uint32_t>(st.st_mtime);
  out->changeTime = static_cast<uint32_t>(st.st_ctime);
}

int RenamePath(const char* oldPath, const char* newPath) {
  char oldBuffer[kNativePathBuffer], newBuffer[kNativePathBuffer];
  return rename(ToNativePath(oldPath, oldBuffer), ToNativePath(newPath, newBuffer)) == 0 ? 1 : 0;
}

int SetPathProtection(const char* path, uint32_t protection) {
  char buffer[kNativePathBuffer];
  return chmod(ToNativePath(path, buffer), ModeFromProtection(protection)) == 0 ? 1 : 0;
}

int SetPathDate(const char* path, const uint32_t times[2]) {
  char buffer[kNativePathBuffer];
  utimbuf stamp;
  stamp.actime = static_cast<time_t>(times[0]);
  stamp.modtime = static_cast<time_t>(times[1]);
  return utime(ToNativePath(path, buffer), &stamp) == 0 ? 1 : 0;
}

int MakeDirPath(const char* path) {
  char buffer[kNativePathBuffer];
  return mkdir(ToNativePath(path, buffer), 0755) == 0 ? 0 : ERR_CREATEDIR;
}

int GetFullPath(const char* path, char* buffer, size_t size) {
  char native[kNativePathBuffer];
  const char* from = ToNativePath(path, native);
  char resolved[PATH_MAX];
  if (realpath(from, resolved)) {
    if (strlen(resolved) >= size) return 0;
    strcpy(buffer, resolved);
    return 1;
  }
  if (from[0] == '/') {
    if (strlen(from) >= size) return 0;
    strcpy(buffer, from);
    return 1;
  }
  if (!getcwd(resolved, sizeof(resolved)) || strlen(resolved) >= size) return 0;
  strcpy(buffer, resolved);
  return AddPart(buffer, size, from);
}

int RemovePath(const char* path) {
  char buffer[kNativePathBuffer];
  const char* native = ToNativePath(path, buffer);
  if (remove(native) != 0) return 0;
  ForgetExitRemoval(native);
  return 1;
}

char* ChangeCurrentDir(const char* path) {
  long maximum = pathconf(".", _PC_PATH_MAX);
  if (maximum <= 0) maximum = PATH_MAX;
  char* previous = static_cast<char*>(AllocMemory(static_cast<size_t>(maximum) + 1, 0));
  if (!previous) return nullptr;
  if (!getcwd(previous, static_cast<size_t>(maximum) + 1)) previous[0] = 0;
  char buffer[kNativePathBuffer];
  if (chdir(ToNativePath(path, buffer)) != 0) {
    // The caller restores the previous directory either way.
  }
  return previous;
}

int QueryVolumeSpace(const char*, uint64_t* freeBytes, uint64_t* totalBytes) {
  if (freeBytes) *freeBytes = 0;
  if (totalBytes) *totalBytes = 0;
  return 0;
}

int GetVolumeLabel(const char*, char* buffer, size_t size) {
  snprintf(buffer, size, "%s", "unimplemented");
  return 0;
}

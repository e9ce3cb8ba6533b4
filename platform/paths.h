// Path and file-system routines of the platform layer: path joining, the
// engine-to-native path conversion, renames, protection bits, dates,
// directories and the current directory. Every routine that reaches the
// system converts its path with ToNativePath first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/stat.h>

// Engine protection bits; FillFileStat and SetPathProtection map them one to
// one onto the POSIX permission bits.
enum : uint32_t {
  VL_PROT_OWNER_READ = 0x1,
  VL_PROT_OWNER_WRITE = 0x2,
  VL_PROT_OWNER_EXEC = 0x8,
  VL_PROT_GROUP_READ = 0x200,
  VL_PROT_GROUP_WRITE = 0x400,
  VL_PROT_GROUP_EXEC = 0x800,
  VL_PROT_OTHER_READ = 0x1000,
  VL_PROT_OTHER_WRITE = 0x2000,
  VL_PROT_OTHER_EXEC = 0x4000,
  VL_PROT_DEFAULT = 0x10000,  // SetPathProtection: plain 0644
};

// A file's status as the file layer hands it to scripts and plug-ins;
// cleared before it is filled.
struct vlFileStat {
  uint32_t isDirectory;
  uint64_t size;
  uint32_t protection;
  char comment[256];
  uint32_t accessTime;
  uint32_t modifyTime;
  uint32_t changeTime;
  uint32_t reserved[4];
  uint32_t adapterWords[2];  // passed through from a file adapter
  const char* name;
};

// The longest engine path that ToNativePath converts (longer ones pass
// unchanged), and the buffer it needs.
constexpr size_t kNativePathBuffer = 1024;

// Joins file to directory with a '/' unless directory is empty or already
// ends in '/' or '\\'; 0 (directory unchanged) when the result would not fit
// in size bytes.
int AddPart(char* directory, const char* file, size_t size);
// Cuts the file part (after the last '/') off a path in place.
void CutFilePart(char* path);
// 1 when name begins with ":::chunk".
int IsChunkName(const char* name);

// Chunk names are copied unchanged; a path longer than 1023 characters is
// returned as it is; otherwise it is copied into buffer (kNativePathBuffer
// bytes) with every backslash made a slash. Never null.
const char* ToNativePath(const char* path, char* buffer);

void FillFileStat(const struct stat& st, vlFileStat* out);
uint32_t ProtectionFromMode(mode_t mode);
mode_t ModeFromProtection(uint32_t protection);

int RenamePath(const char* oldPath, const char* newPath);  // 1 or 0
int SetPathProtection(const char* path, uint32_t protection);  // 1 or 0
// times = {access, modification}, seconds since the epoch; 1 or 0.
int SetPathDate(const char* path, const uint32_t times[2]);
int MakeDirPath(const char* path);  // 0 or ERR_CREATEDIR
// The absolute form of path (size bytes); 1, or 0 when it does not fit.
int GetFullPath(const char* path, char* buffer, size_t size);
int RemovePath(const char* path);  // 1 or 0
// Changes the current directory; returns the previous one (AllocMemory
// block, FreeMemory it) or null.
char* ChangeCurrentDir(const char* path);
int QueryVolumeSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes);  // 0, sizes 0
int GetVolumeLabel(const char* path, char* buffer, size_t size);  // "unimplemented", 0

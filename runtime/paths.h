// Path and file-system routines of the platform layer: path joining, the
// engine-to-native path conversion, renames, protection bits, dates,
// directories and the current directory. Every routine that reaches the
// system converts its path with ToNativePath first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/stat.h>

#include "runtime/file_stat.h"

// SetPathProtection: this bit asks for a plain 0644 whatever the others say.
constexpr uint32_t VL_PROT_DEFAULT = 0x10000;

// The longest engine path that ToNativePath converts (longer ones pass
// unchanged), and the buffer it needs.
constexpr size_t kNativePathBuffer = 1024;

// Cuts the file part (after the last '/') off a path in place.
void CutFilePart(char* path);

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

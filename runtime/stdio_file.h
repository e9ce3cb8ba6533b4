// The built-in file back end: files over stdio with 64-bit offsets, where a
// handle covers a whole file or a window inside one (linked files and
// chunks of the running script), and locks on files and directories.
// These are the built-ins of the file-adapter slots.
#pragma once
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>

#include "runtime/paths.h"

enum : uint32_t {
  VL_FOPEN_SIZE = 0x1,       // determine the size at open
  VL_FOPEN_WRITE = 0x2,      // "wb": create or truncate
  VL_FOPEN_READWRITE = 0x4,  // "r+b": update, created when missing
};

constexpr uint64_t kSizeUnknown = ~uint64_t{0};

struct vlStdioFile {
  FILE* stream;      // null for a window whose data lies in no file
  uint32_t window;   // 1: only [base, base + size) of the file is seen
  uint64_t base;
  uint64_t size;     // kSizeUnknown when not determined
  uint64_t position; // relative to base
  uint32_t lastWasWrite;
  char path[PATH_MAX];
};

// Null on failure, and for a directory. A FIFO opens without waiting in
// open(): a writer waits for a reader through WaitReady (null when the
// waits were ended), a reader waits for input when it reads.
vlStdioFile* OpenStdioFile(const char* name, uint32_t flags);
int CloseStdioFile(vlStdioFile* file);  // 0 when a write or the close failed
size_t ReadStdioData(vlStdioFile* file, void* buffer, size_t count);
int GetStdioChar(vlStdioFile* file);  // byte or -1
size_t WriteStdioData(vlStdioFile* file, const void* buffer, size_t count);
int PutStdioChar(vlStdioFile* file, int byte);  // 1 when written
// mode 0 from the current position, 1 from the start, 2 from the end.
// Returns the position before the call, -1 when the target lies before
// the start of the file or window, or the stream cannot go there.
int64_t SeekStdioFile(vlStdioFile* file, int64_t offset, int mode);
int FlushStdioFile(vlStdioFile* file);  // 0 when the buffered bytes could not be written
int IsFileAtEnd(vlStdioFile* file);
int StatOpenFile(vlStdioFile* file, vlFileStat* out);  // 1

// Locks --------------------------------------------------------------------
enum : int { VL_LOCK_READ = 1 };

struct vlDirLock {
  char* path;       // resolved
  DIR* directory;   // open for a directory
  int fd;           // open for a file, else -1
  char* nameBuffer; // path plus room for one entry name
  uint32_t pathLength;
};

// Only shared (read) locks are served; files and directories only.
vlDirLock* LockPath(const char* path, int mode);
void CloseDirHandle(vlDirLock* lock);
// Next entry of a locked directory other than "." and "..": 1 with the
// entry's name (valid until the next call) and its kind, 0 at the end.
int ReadDirEntry(vlDirLock* lock, uint32_t ignored, const char** name, uint32_t* isDirectory,
                 vlFileStat* stat);
int StatPathOrFd(vlDirLock* lock, vlFileStat* out);  // 0
int GetHandleName(vlDirLock* lock, char* buffer, size_t size);  // 1
// 0 with *isDirectory 1, or ERR_NOTADIR (path to the error argument).
int CheckDirHandle(vlDirLock* lock, uint32_t* isDirectory);

// Locks on files and directories: taken by a directory adapter, answered
// by a file adapter's status, held on a linked chunk, or taken by the
// built-in back end; with the status, directory walk and name of each.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/file_stat.h"

struct vlFileAdapter;
struct vlMemoryRecord;

// Mode bit: also ask adapter plug-ins.
inline constexpr uint32_t VL_LOCK_ADAPTERS = VL_OPENDIR_ADAPTERS;

inline constexpr size_t kLockNameSize = 2048;

struct vlFileLock {
  vlFileAdapter* dirAdapter;   // the directory adapter that locked it
  vlFileAdapter* fileAdapter;  // the file adapter that answered its status
  void* handle;                // the directory adapter's handle or the back end's lock
  char name[kLockNameSize];    // the name that was locked
  char entryName[1024];        // the current directory entry of an adapter walk
  vlAdapterStat status;        // the file adapter's answer
  vlMemoryRecord* record;      // the virtual file of a ":::chunkS" name
};

// Null when nothing can lock the name (or it does not fit kLockNameSize).
vlFileLock* ObtainFileLock(const char* name, uint32_t mode, const char* adapterList);
void FreeFileLock(vlFileLock* lock);
// Fills the status of what is locked; 0.
int StatFileLock(vlFileLock* lock, vlFileStat* status);
// Non-zero while entries remain: the entry's name (valid until the next
// call), whether it is a directory, and its status when asked for.
int ReadFileLockEntry(vlFileLock* lock, uint32_t mode, const char** nameOut, uint32_t* isDirectoryOut,
                      vlFileStat* status);
// The full name of what is locked, cut to size bytes.
void GetFileLockName(vlFileLock* lock, char* buffer, size_t size);
// 0 with *isDirectory 1, or 1250 with the name in the error argument.
int RequireDirectoryLock(vlFileLock* lock, uint32_t* isDirectory);
const char* GetFileLockAdapterName(const vlFileLock* lock);

// What ExamineFileLock reports about a name.
struct vlFileInfo {
  uint32_t isDirectory;
  uint64_t size;
  uint32_t protection;
  uint32_t accessTime;
  uint32_t modifyTime;
  uint32_t changeTime;
  char name[1024];  // full name
  char comment[256];
};

// 1 with the information filled, or 0.
int ExamineFileLock(const char* name, vlFileInfo* info, int tryAdapters);
// The same for what a lock holds.
void ExamineLockedFile(vlFileLock* lock, vlFileInfo* info);
// Kind, size, protection, dates and comment of a status record (the name
// is left as it is).
void FileInfoFromStat(const vlFileStat& st, vlFileInfo* info);

// The date every linked chunk reports.
inline constexpr vlDateRecord kChunkDate = {4, 11, 2002, 10, 30, 0};

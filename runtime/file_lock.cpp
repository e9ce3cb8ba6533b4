// File and directory locks: directory adapters, file-adapter status, linked
// chunks and the built-in back end's locks, and the queries over them.
// Depends on the adapter classes, chunk names and the platform's back end.
#include "runtime/file_lock.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "runtime/stdio_file.h"
#include "runtime/chunk_name.h"
#include "runtime/error_format.h"
#include "runtime/errors.h"
#include "runtime/file_adapter.h"
#include "runtime/plugin_formats.h"
#include "vm/error_codes.h"

namespace {

void PresetDates(vlAdapterStat* st) {
  std::memset(st, 0, sizeof *st);
  st->accessDate = st->modifyDate = st->changeDate = GetStartDateStamp();
}

// Asks the adapters of a class, in order, for the status of a name.
vlFileAdapter* StatThroughAdapters(const char* name, const char* list, bool selectByList, vlAdapterStat* st) {
  bool chunk = IsChunkName(name);
  if (selectByList) BuildLoaderList(list, VL_CLASS_FILEADAPTER);
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_FILEADAPTER); node; node = node->next) {
    vlFileAdapter* a = GetFileAdapter(node);
    if (!a || a->disabled || !a->slots) continue;
    if (chunk && !(a->flags & VL_ADAPTER_ACCEPTS_VIRTUAL)) continue;
    if (selectByList && !IsAdapterSelected(a, list)) continue;
    PresetDates(st);
    if (CallFileAdapter<int>(a, a->slots->Stat, name, 0u, st, static_cast<const vlTagItem*>(nullptr))) return a;
  }
  return nullptr;
}

}  // namespace

vlFileLock* ObtainFileLock(const char* name, uint32_t mode, const char* adapterList) {
  if (!name || std::strlen(name) >= kLockNameSize) return nullptr;
  auto* lock = static_cast<vlFileLock*>(std::calloc(1, sizeof(vlFileLock)));
  if (!lock) return nullptr;
  bool chunk = IsChunkName(name);
  if (mode & VL_LOCK_ADAPTERS) {
    if (!chunk) {
      BuildLoaderList(adapterList, VL_CLASS_DIRADAPTER);
      for (vlClassNode* node = GetLoaderClassList(VL_CLASS_DIRADAPTER); node; node = node->next) {
        vlFileAdapter* a = GetFileAdapter(node);
        if (!a || !a->slots || !IsAdapterSelected(a, adapterList)) continue;
        void* h = CallFileAdapter<void*>(a, a->slots->OpenDir, name, mode, static_cast<const vlTagItem*>(nullptr));
        if (h) {
          lock->dirAdapter = a;
          lock->handle = h;
          break;
        }
      }
    }
    if (!lock->dirAdapter) lock->fileAdapter = StatThroughAdapters(name, adapterList, true, &lock->status);
  }
  if (!lock->dirAdapter && !lock->fileAdapter) {
    bool ok = false;
    if (chunk) {
      vlChunkNameParts parts{};
      parts.record = &lock->record;
      ok = ParseChunkName(name, parts) != 0;
    } else if (IsLoaderSelected(adapterList, "inbuilt", 0)) {
      lock->handle = LockPath(name, static_cast<int>(mode & ~VL_LOCK_ADAPTERS));
      ok = lock->handle != nullptr;
    }
    if (!ok) {
      std::free(lock);
      return nullptr;
    }
  }
  std::memcpy(lock->name, name, std::strlen(name) + 1);
  return lock;
}

void FreeFileLock(vlFileLock* lock) {
  if (!lock) return;
  if (lock->dirAdapter) CallFileAdapter<void>(lock->dirAdapter, lock->dirAdapter->slots->CloseDir, lock->handle);
  else if (!lock->fileAdapter && lock->handle) CloseDirHandle(static_cast<vlDirLock*>(lock->handle));
  std::free(lock);
}

int StatFileLock(vlFileLock* lock, vlFileStat* status) {
  std::memset(status, 0, sizeof *status);
  if (lock->fileAdapter) {
    ConvertAdapterStat(lock->status, status);
    status->name = lock->name;
  } else if (lock->dirAdapter) {
    status->isDirectory = 1;
    status->name = lock->name;
  } else if (lock->handle) {
    StatPathOrFd(static_cast<vlDirLock*>(lock->handle), status);
  } else {
    // The name is parsed again so a virtual file freed meanwhile is not read.
    uint64_t length = 0;
    vlChunkNameParts parts{};
    parts.length = &length;
    if (!ParseChunkName(lock->name, parts)) length = 0;
    status->size = length;
    status->protection = VL_PROT_VIRTUAL;
    status->accessTime = status->modifyTime = status->changeTime = DateRecordToTime(kChunkDate);
    status->name = lock->name;
  }
  return 0;
}

int ReadFileLockEntry(vlFileLock* lock, uint32_t mode, const char** nameOut, uint32_t* isDirectoryOut,
                      vlFileStat* status) {
  if (lock->dirAdapter) {
    const char* entry = nullptr;
    uint32_t isDir = 0;
    vlAdapterStat st;
    PresetDates(&st);
    if (!CallFileAdapter<int>(lock->dirAdapter, lock->dirAdapter->slots->NextDirEntry, lock->handle, mode, &entry,
                              &isDir, &st) ||
        !entry)
      return 0;
    CopyText(lock->entryName, sizeof lock->entryName, entry);
    if (nameOut) *nameOut = lock->entryName;
    if (isDirectoryOut) *isDirectoryOut = isDir ? 1 : 0;
    if (status) {
      std::memset(status, 0, sizeof *status);
      ConvertAdapterStat(st, status);
      status->name = lock->entryName;
    }
    return 1;
  }
  if (lock->fileAdapter || !lock->handle) return 0;
  return ReadDirEntry(static_cast<vlDirLock*>(lock->handle), mode, nameOut, isDirectoryOut, status);
}

void GetFileLockName(vlFileLock* lock, char* buffer, size_t size) {
  if (!buffer || size == 0) return;
  if (lock->dirAdapter || lock->fileAdapter) {
    CopyText(buffer, size, lock->name);
  } else if (lock->handle) {
    GetHandleName(static_cast<vlDirLock*>(lock->handle), buffer, size);
  } else {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
    if (!AddPart(cwd, sizeof cwd, GetReadableFileName(lock->name))) cwd[0] = 0;
    CopyText(buffer, size, cwd);
  }
}

int RequireDirectoryLock(vlFileLock* lock, uint32_t* isDirectory) {
  if (lock->handle && !lock->dirAdapter && !lock->fileAdapter)
    return CheckDirHandle(static_cast<vlDirLock*>(lock->handle), isDirectory);
  if (lock->dirAdapter || (lock->fileAdapter && lock->status.isDirectory)) {
    *isDirectory = 1;
    return 0;
  }
  SetErrorArgument(lock->name);
  return ERR_NOTADIR;
}

const char* GetFileLockAdapterName(const vlFileLock* lock) {
  if (lock->dirAdapter) return lock->dirAdapter->name;
  if (lock->fileAdapter) return lock->fileAdapter->name;
  return nullptr;
}

int ExamineFileLock(const char* name, vlFileInfo* info, int tryAdapters) {
  std::memset(info, 0, sizeof *info);
  if (!name) return 0;
  vlFileStat st;
  if (tryAdapters) {
    vlAdapterStat ast;
    if (StatThroughAdapters(name, nullptr, false, &ast)) {
      std::memset(&st, 0, sizeof st);
      ConvertAdapterStat(ast, &st);
      FileInfoFromStat(st, info);
      CopyText(info->name, sizeof info->name, name);
      return 1;
    }
  }
  vlFileLock* lock = ObtainFileLock(name, 1, nullptr);
  if (!lock) return 0;
  ExamineLockedFile(lock, info);
  FreeFileLock(lock);
  return 1;
}

void ExamineLockedFile(vlFileLock* lock, vlFileInfo* info) {
  std::memset(info, 0, sizeof *info);
  vlFileStat st;
  StatFileLock(lock, &st);
  FileInfoFromStat(st, info);
  GetFileLockName(lock, info->name, sizeof info->name);
}

void FileInfoFromStat(const vlFileStat& st, vlFileInfo* info) {
  info->isDirectory = st.isDirectory;
  info->size = st.size;
  info->protection = st.protection;
  info->accessTime = st.accessTime;
  info->modifyTime = st.modifyTime;
  info->changeTime = st.changeTime;
  CopyText(info->comment, sizeof info->comment, st.comment);
}

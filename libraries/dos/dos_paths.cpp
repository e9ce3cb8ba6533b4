// The dos library's path and file-system commands: existence, sizes, path
// parts, renaming, directories, the current directory, volumes, temporary
// files, wildcard tests, and reading and setting attributes and dates.
// Depends on the file locks and status records, chunk names and the
// platform's path routines.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "libraries/dos/dos_library.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/stdio_file.h"
#include "runtime/file_lock.h"
#include "runtime/option_readers.h"
#include "runtime/script_call.h"
#include "runtime/stream.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The directory part of a path: up to and including the last separator
// behind any leading slashes (else the last ':'), or the leading slashes.
std::string DirectoryPart(const std::string& path) {
  size_t skip = 0;
  while (skip < path.size() && path[skip] == '/') ++skip;
  size_t at = path.find_last_of("/\\");
  if (at == std::string::npos || at < skip) at = path.find_last_of(':');
  if (at == std::string::npos || at < skip) return path.substr(0, skip);
  return path.substr(0, at + 1);
}

// Decimal digits at p (no sign); -1 when there is none.
long DecimalAt(const char* p) {
  if (*p < '0' || *p > '9') return -1;
  long v = 0;
  for (; *p >= '0' && *p <= '9' && v < 100000000; ++p) v = v * 10 + (*p - '0');
  return v;
}

}  // namespace

void FormatFileDate(uint32_t when, char* buffer, size_t size) {
  time_t t = static_cast<time_t>(when);
  tm local{};
  localtime_r(&t, &local);
  std::snprintf(buffer, size, "%.2d-%s-%d %.2d:%.2d:%.2d", local.tm_mday, kMonthNames[local.tm_mon],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

int ParseDateString(const char* text, int32_t date[6]) {
  if (std::strlen(text) < 20) return 0;
  if (text[2] != '-' || text[6] != '-' || text[14] != ':' || text[17] != ':') return 0;
  long day = DecimalAt(text), year = DecimalAt(text + 7), hour = DecimalAt(text + 12);
  long minute = DecimalAt(text + 15), second = DecimalAt(text + 18);
  if (day < 1 || day > 31 || year < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59)
    return 0;
  int month = -1;
  for (int i = 0; i < 12 && month < 0; ++i)
    if (strncasecmp(text + 3, kMonthNames[i], 3) == 0) month = i;
  if (month < 0) return 0;
  date[0] = static_cast<int32_t>(second);
  date[1] = static_cast<int32_t>(minute);
  date[2] = static_cast<int32_t>(hour);
  date[3] = static_cast<int32_t>(day);
  date[4] = month;
  date[5] = static_cast<int32_t>(year);
  return 1;
}

void PushAttributeTable(vlVMState* L, const vlFileStat& st) {
  vl::PushNewTable(L);
  SetTableInt(L, "type", st.isDirectory ? 1 : 0);
  if (!st.isDirectory) SetTableNumber(L, "size", static_cast<double>(st.size));
  SetTableNumber(L, "flags", st.protection);
  char date[64];
  FormatFileDate(st.modifyTime, date, sizeof date);
  SetTableString(L, "time", date);
  FormatFileDate(st.accessTime, date, sizeof date);
  SetTableString(L, "lastaccesstime", date);
}

int MakeDirectoryPath(const char* path) {
  std::string p(path);
  for (size_t i = 0; i <= p.size(); ++i) {
    if (i < p.size() && !IsSeparator(p[i])) continue;
    std::string prefix = p.substr(0, i);
    if (prefix.empty() || (i < p.size() && IsSeparator(p[i]) && i > 0 && IsSeparator(p[i - 1]))) continue;
    vlFileInfo info;
    if (ExamineFileLock(prefix.c_str(), &info, 0)) {
      if (info.isDirectory) continue;
    } else if (MakeDirPath(prefix.c_str()) == 0) {
      continue;
    }
    SetErrorArgument(path);
    return ERR_CREATEDIR;
  }
  return 0;
}

int CmdExists(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = GetFileNameArg(L, 1, 0, nullptr);
  vlFileInfo info;
  vl::PushNumber(L, !name.empty() && ExamineFileLock(name.c_str(), &info, 1) ? 1 : 0);
  return 1;
}

int CmdIsDirectory(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = GetFileNameArg(L, 1, 0, nullptr);
  vlFileInfo info;
  if (name.empty() || !ExamineFileLock(name.c_str(), &info, 1)) {
    SetErrorArgument(name.c_str());
    return ERR_STAT;
  }
  vl::PushNumber(L, info.isDirectory ? 1 : 0);
  return 1;
}

int CmdFileSize(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = GetFileNameArg(L, 1, 0, nullptr);
  vlFileInfo info;
  double size = -1;
  if (!name.empty() && ExamineFileLock(name.c_str(), &info, 1) && !info.isDirectory)
    size = static_cast<double>(info.size);
  vl::PushNumber(L, size);
  return 1;
}

int CmdFilePart(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* path = vl::CheckStringArg(L, 1, nullptr);
  char part[1024];
  vl::PushString(L, ReadableFilePart(path, part, sizeof part));
  return 1;
}

int CmdPathPart(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* path = vl::CheckStringArg(L, 1, nullptr);
  if (IsChunkName(path)) return ERR_WRONGUSAGE;
  vl::PushString(L, DirectoryPart(path).c_str());
  return 1;
}

int CmdFullPath(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  std::string dir = vl::CheckStringArg(L, 1, nullptr);
  const char* file = vl::CheckStringArg(L, 2, nullptr);
  if (!dir.empty() && !IsSeparator(dir.back())) dir += '/';
  dir += file;
  vl::PushString(L, dir.c_str());
  return 1;
}

int CmdRename(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  std::string from = vl::CheckStringArg(L, 1, nullptr);
  std::string to = vl::CheckStringArg(L, 2, nullptr);
  if (from.empty() || to.empty() || IsChunkName(from.c_str()) || IsChunkName(to.c_str())) return ERR_WRONGUSAGE;
  // The file keeps its directory and takes the new name's file part.
  std::string target = DirectoryPart(from) + GetFilePart(to.c_str());
  return RenamePath(from.c_str(), target.c_str()) ? 0 : ERR_RENAME;
}

int CmdMakeDirectory(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* path = vl::CheckStringArg(L, 1, nullptr);
  if (!*path) return ERR_WRONGUSAGE;
  return MakeDirectoryPath(path);
}

int CmdChangeDirectory(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  FreeMemory(ChangeCurrentDir(vl::CheckStringArg(L, 1, nullptr)));
  return 0;
}

int CmdGetCurrentDirectory(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  char path[1025];
  if (!getcwd(path, sizeof path)) path[0] = 0;
  vl::PushString(L, path);
  return 1;
}

int CmdGetVolumeName(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* path = vl::CheckStringArg(L, 1, nullptr);
  if (!*path) return ERR_WRONGUSAGE;
  char label[64];
  GetVolumeLabel(path, label, sizeof label);
  vl::PushString(L, label);
  return 1;
}

int CmdGetVolumeInfo(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const char* volume = vl::CheckStringArg(L, 1, nullptr);
  int32_t what = vl::CheckIntArg(L, 2);
  if (!*volume) return ERR_WRONGUSAGE;
  uint64_t freeBytes = 0, totalBytes = 0;
  QueryVolumeSpace(volume, &freeBytes, &totalBytes);
  vl::PushNumber(L, static_cast<double>(what == 1 ? freeBytes : totalBytes - freeBytes));
  return 1;
}

int CmdGetTempFileName(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  char name[1024];
  if (!MakeTempFileName(name, sizeof name)) return TempFileNameError(errno);
  auto* t = static_cast<vlTempFile*>(std::calloc(1, sizeof(vlTempFile)));
  char* copy = strdup(name);
  if (!t || !copy) {
    std::free(t);
    std::free(copy);
    RemovePath(name);
    return ERR_MEM;
  }
  t->name = copy;
  vlTempFile** tail = &gDos.tempFiles;
  while (*tail) tail = &(*tail)->next;
  *tail = t;
  vl::PushString(L, name);
  return 1;
}

int CmdMatchPattern(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const char* string = vl::CheckStringArg(L, 1, nullptr);
  const char* list = vl::CheckStringArg(L, 2, nullptr);
  vl::PushNumber(L, MatchPatternList(list, string));
  return 1;
}

int CmdGetFileAttributes(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  std::string name = GetFileNameArg(L, 1, 0, nullptr);
  const char* adapter = vl::OptStringArg(L, 2, nullptr, nullptr);
  if (adapter && !*adapter) adapter = nullptr;
  bool chunk = IsChunkName(name.c_str()) != 0;
  vlFileStat st;
  std::memset(&st, 0, sizeof st);
  char path[kLockNameSize];
  if (vlFileLock* lock = ObtainFileLock(name.c_str(), VL_LOCK_READ | VL_LOCK_ADAPTERS, adapter)) {
    StatFileLock(lock, &st);
    GetFileLockName(lock, path, sizeof path);
    FreeFileLock(lock);
  } else {
    vlStream* s = OpenFileStream(name.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, adapter);
    if (!s) {
      SetErrorArgument(name.c_str());
      return ERR_READFILE;
    }
    int ok = StatFileStream(s, &st);
    snprintf(path, sizeof path, "%s", st.name ? st.name : name.c_str());
    CloseFileStream(s);
    if (!ok) {
      SetErrorArgument(name.c_str());
      return ERR_EXAMINE;
    }
  }
  PushAttributeTable(L, st);
  SetTableString(L, "path", chunk ? name.c_str() : path);
  SetTableInt(L, "virtual", chunk ? 1 : 0);
  return 1;
}

int CmdSetFileAttributes(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  std::string name = vl::CheckStringArg(L, 1, nullptr);
  vl::CheckTableArg(L, 2);
  if (IsChunkName(name.c_str())) return ERR_WRONGUSAGE;
  vlFileLock* lock = ObtainFileLock(name.c_str(), VL_LOCK_READ, nullptr);
  if (!lock) {
    SetErrorArgument(name.c_str());
    return ERR_LOCK2;
  }
  vlFileStat st;
  StatFileLock(lock, &st);
  FreeFileLock(lock);
  int32_t flags = 0;
  int found = 0;
  GetTableInt(L, 2, "flags", &flags, &found);
  if (found && !SetPathProtection(name.c_str(), static_cast<uint32_t>(flags))) return ERR_SETFILEATTR;
  // {access, modification}; a date not given keeps its current value.
  int64_t times[2] = {st.accessTime, st.modifyTime};
  bool anyDate = false;
  const char* keys[2] = {"lastaccesstime", "time"};
  for (int i = 0; i < 2; ++i) {
    char text[64];
    int have = 0;
    GetTableString(L, 2, keys[i], text, sizeof text, &have);
    if (!have) continue;
    int32_t date[6];
    if (!ParseDateString(text, date) || !MakeTimeFromDate(date, times, i)) return ERR_INVALIDDATE;
    anyDate = true;
  }
  if (anyDate) {
    if (times[0] < 0 || times[1] < 0 || times[0] > UINT32_MAX || times[1] > UINT32_MAX) return ERR_INVALIDDATE;
    uint32_t stamp[2] = {static_cast<uint32_t>(times[0]), static_cast<uint32_t>(times[1])};
    if (!SetPathDate(name.c_str(), stamp)) return ERR_SETFILEDATE;
  }
  return 0;
}

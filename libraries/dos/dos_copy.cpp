// The dos library's copying and deleting of files and directory trees,
// with wildcard filters and a script callback that sees the progress and
// answers overwrite and unprotect questions. Depends on the file locks,
// the streams and the platform's path routines.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "libraries/dos/dos_library.h"
#include "platform/event_pump.h"
#include "runtime/paths.h"
#include "runtime/error_vm.h"
#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/stdio_file.h"
#include "runtime/file_lock.h"
#include "runtime/option_readers.h"
#include "runtime/replace_file.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "runtime/stream.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr int64_t kBlockSize = 16384;

// What a walk carries: the script's callback and userdata (stack slots, 0
// when absent), the pattern list and the recurse filter.
struct Walk {
  vlVMState* L;
  int callback;
  int userdata;
  const char* pattern;
  int recurse;
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty() || IsSeparator(dir.back())) return dir + name;
  return dir + "/" + name;
}

std::string FilePartOf(const std::string& path) {
  char part[1024];
  return ReadableFilePart(path.c_str(), part, sizeof part);
}

// Calls the callback with a table that fill completes; *answer gets the
// number it returns. 0 or the callback's error.
template <class Fill>
int Ask(Walk& w, int action, Fill fill, double* answer) {
  vlVMState* L = w.L;
  vl::PushSlotCopy(L, w.callback);
  vl::PushNewTable(L);
  SetTableInt(L, "action", action);
  fill();
  if (w.userdata) {
    vl::PushString(L, "userdata");
    vl::PushSlotCopy(L, w.userdata);
    vl::RawSetTableValue(L, -3);
  }
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 1u, 0u);
  int status = vl::CallProtected(L, 1, 1, 0);
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 0u, 0u);
  if (status) return status;
  int code = 0;
  *answer = vl::GetCallbackNumber(L, -1, &code);
  vl::SetStackTop(L, -2);
  return code;
}

// Copies the dates and protection of one path to another.
void CopyStamp(const vlFileStat& st, const std::string& target) {
  uint32_t times[2] = {st.accessTime, st.modifyTime};
  SetPathDate(target.c_str(), times);
  SetPathProtection(target.c_str(), st.protection);
}

int CopyOneFile(Walk& w, const std::string& source, const std::string& destDir, const char* newName) {
  std::string part = FilePartOf(source);
  if (w.pattern && !MatchPatternList(w.pattern, part.c_str())) return 0;
  std::string target = Join(destDir, newName ? newName : part);
  vlStream* in = OpenFileStream(source.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!in) {
    SetErrorArgument(source.c_str());
    return ERR_READFILE;
  }
  // A file copied onto itself (also through a link, or from a virtual file
  // inside it) would be cut before it is read: it already is its own copy.
  switch (StreamOverlapsName(in, target.c_str())) {
    case VL_OVERLAP_SAME:
      CloseFileStream(in);
      return 0;
    case VL_OVERLAP_INSIDE:
      CloseFileStream(in);
      SetErrorArgument(target.c_str());
      return ERR_WRITEFILE;
    default:
      break;
  }
  vlFileInfo info;
  if (ExamineFileLock(target.c_str(), &info, 0)) {
    double answer = 1;
    int status = 0;
    if (w.callback) {
      status = Ask(w, 1, [&] {
        SetTableString(w.L, "source", source.c_str());
        SetTableString(w.L, "destination", target.c_str());
      }, &answer);
    }
    if (!status && answer != -1 && answer != 0 && !(info.protection & VL_PROT_OWNER_WRITE)) {
      if (!w.callback) answer = 0;
      else status = Ask(w, 2, [&] { SetTableString(w.L, "destination", target.c_str()); }, &answer);
      if (!status && answer != -1 && answer != 0) SetPathProtection(target.c_str(), VL_PROT_DEFAULT);
    }
    if (status || answer == -1 || answer == 0) {
      CloseFileStream(in);
      return status ? status : answer == -1 ? ERR_USERABORT : 0;
    }
  }
  // The copy goes beside the target and takes its place only when whole:
  // a failed copy leaves an existing target as it was.
  vlReplacement out;
  if (int status = OpenReplacement(&out, target.c_str(), VL_MODE_WRITE, nullptr)) {
    CloseFileStream(in);
    return status;
  }
  int64_t size = GetFileStreamSize(in);
  int64_t copied = 0;
  int status = 0;
  std::vector<char> block(kBlockSize);
  while (!status) {
    int64_t n = ReadFileStream(in, block.data(), kBlockSize);
    if (n <= 0) break;
    if (WriteFileStream(out.stream, block.data(), n) != n) {
      status = ERR_WRITE;
      break;
    }
    copied += n;
    if (w.callback) {
      double answer = 0;
      status = Ask(w, 0, [&] {
        SetTableString(w.L, "source", source.c_str());
        SetTableString(w.L, "destination", target.c_str());
        SetTableNumber(w.L, "copied", static_cast<double>(copied));
        SetTableNumber(w.L, "filesize", static_cast<double>(size));
      }, &answer);
      if (!status && answer == 1) status = ERR_USERABORT;
    }
    if (!status && QuitRequested()) status = ERR_USERABORT;
  }
  if (!status && (size >= 0 ? copied != size : !IsFileStreamAtEnd(in))) status = ERR_READ;
  vlFileStat st;
  std::memset(&st, 0, sizeof st);
  bool stamped = !status && StatFileStream(in, &st);
  CloseFileStream(in);
  int finished = FinishReplacement(&out, status == 0);
  if (status) return status;
  if (finished) return finished;
  if (stamped) CopyStamp(st, target);
  return 0;
}

int CopyDirectory(Walk& w, const std::string& source, std::string dest, bool top) {
  if (!top) dest = Join(dest, FilePartOf(source));
  if (int status = MakeDirectoryPath(dest.c_str())) return status;
  vlFileLock* lock = ObtainFileLock(source.c_str(), VL_LOCK_READ, nullptr);
  if (!lock) {
    SetErrorArgument(source.c_str());
    return ERR_LOCK2;
  }
  vlFileStat st;
  StatFileLock(lock, &st);
  std::vector<std::pair<std::string, bool>> entries;
  const char* name;
  uint32_t isDirectory;
  while (ReadFileLockEntry(lock, 0, &name, &isDirectory, nullptr)) entries.emplace_back(name, isDirectory != 0);
  FreeFileLock(lock);
  for (auto& [entry, directory] : entries) {
    std::string path = Join(source, entry);
    int status;
    if (directory) {
      if (w.pattern && w.recurse && !MatchPatternList(w.pattern, entry.c_str())) continue;
      status = CopyDirectory(w, path, dest, false);
    } else {
      status = CopyOneFile(w, path, dest, nullptr);
    }
    if (status) return status;
  }
  CopyStamp(st, dest);
  return 0;
}

int DeleteOneFile(Walk& w, const std::string& path, bool filter) {
  if (filter && w.pattern && !MatchPatternList(w.pattern, FilePartOf(path).c_str())) return 0;
  struct stat st;
  char native[kNativePathBuffer];
  if (lstat(ToNativePath(path.c_str(), native), &st) != 0) return ERR_DELETEFILE;
  bool writable = S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR);
  double answer = 1;
  if (!writable) {
    if (!w.callback) return 0;
    int status = Ask(w, 1, [&] { SetTableString(w.L, "file", path.c_str()); }, &answer);
    if (status) return status;
    if (answer == -1) return ERR_USERABORT;
    if (answer == 0) return 0;
    SetPathProtection(path.c_str(), VL_PROT_DEFAULT);
  }
  if (w.callback) {
    int status = Ask(w, 0, [&] { SetTableString(w.L, "file", path.c_str()); }, &answer);
    if (status) return status;
    if (answer == 1) return ERR_USERABORT;
  }
  if (QuitRequested()) return ERR_USERABORT;
  return RemovePath(path.c_str()) ? 0 : ERR_DELETEFILE;
}

int DeleteDirectory(Walk& w, const std::string& path, bool keep) {
  vlFileLock* lock = ObtainFileLock(path.c_str(), VL_LOCK_READ, nullptr);
  if (!lock) {
    SetErrorArgument(path.c_str());
    return ERR_LOCK2;
  }
  std::vector<std::pair<std::string, bool>> entries;
  const char* name;
  uint32_t isDirectory;
  while (ReadFileLockEntry(lock, 0, &name, &isDirectory, nullptr)) entries.emplace_back(name, isDirectory != 0);
  FreeFileLock(lock);
  for (auto& [entry, directory] : entries) {
    std::string child = Join(path, entry);
    // A link to a directory is removed as a link; what it points at stays.
    struct stat st;
    char native[kNativePathBuffer];
    if (directory && lstat(ToNativePath(child.c_str(), native), &st) == 0 && S_ISLNK(st.st_mode)) directory = false;
    int status;
    if (directory) {
      if (w.pattern && w.recurse && !MatchPatternList(w.pattern, entry.c_str())) continue;
      status = DeleteDirectory(w, child, w.pattern != nullptr);
    } else {
      status = DeleteOneFile(w, child, true);
    }
    if (status) return status;
  }
  return keep ? 0 : DeleteOneFile(w, path, false);
}

// The callback (a function or nil) and the userdata slots of a walk.
void ReadCallbackArgs(vlVMState* L, int callbackIndex, Walk* w) {
  if (vl::GetTypeAt(L, callbackIndex) > VL_TNIL) {
    vl::CheckFunctionArg(L, callbackIndex);
    w->callback = callbackIndex;
  }
  if (vl::GetStackTop(L) >= callbackIndex + 1) w->userdata = callbackIndex + 1;
}

void CutTrailingSeparator(std::string* path) {
  if (path->size() > 1 && IsSeparator(path->back())) path->pop_back();
}

}  // namespace

int CmdCopyFile(vlVMState* L) {
  CheckArgs(L, 2, 7, 0, 0);
  std::string source = GetFileNameArg(L, 1, 0, nullptr);
  std::string dest = vl::CheckStringArg(L, 2, nullptr);
  const char* newName = vl::OptStringArg(L, 3, nullptr, nullptr);
  if (source.empty() || dest.empty()) return ERR_WRONGUSAGE;
  if (newName && !*newName) newName = nullptr;
  Walk w{L, 0, 0, nullptr, 1};
  ReadCallbackArgs(L, 4, &w);
  const char* pattern = vl::OptStringArg(L, 6, nullptr, nullptr);
  w.pattern = pattern && *pattern ? pattern : nullptr;
  w.recurse = vl::OptIntArg(L, 7, 1);
  if (w.pattern) CutTrailingSeparator(&source);
  vlFileInfo info;
  if (!ExamineFileLock(dest.c_str(), &info, 0))
    if (int status = MakeDirectoryPath(dest.c_str())) return status;
  bool directory = false;
  if (ExamineFileLock(source.c_str(), &info, 0)) {
    directory = info.isDirectory != 0;
  } else {
    vlStream* s = OpenFileStream(source.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
    if (!s) {
      SetErrorArgument(source.c_str());
      return ERR_READFILE;
    }
    CloseFileStream(s);
  }
  if (w.pattern && !directory) return ERR_NODIRPATTERN;
  if (newName && directory) return ERR_WRONGUSAGE;
  char full[kLockNameSize];
  vlFileLock* lock = ObtainFileLock(dest.c_str(), VL_LOCK_READ, nullptr);
  if (!lock) {
    SetErrorArgument(dest.c_str());
    return ERR_LOCK2;
  }
  GetFileLockName(lock, full, sizeof full);
  FreeFileLock(lock);
  int status;
  if (directory) {
    // A tree copied into itself would grow without end.
    char from[kLockNameSize];
    if (GetFullPath(source.c_str(), from, sizeof from)) {
      size_t n = std::strlen(from);
      if (!std::strncmp(full, from, n) && (full[n] == 0 || full[n] == '/')) return ERR_WRONGUSAGE;
    }
    status = CopyDirectory(w, source, full, true);
  } else {
    status = CopyOneFile(w, source, full, newName);
  }
  return status == ERR_USERABORT ? 0 : status;
}

int CmdDeleteFile(vlVMState* L) {
  CheckArgs(L, 1, 5, 0, 0);
  std::string path = vl::CheckStringArg(L, 1, nullptr);
  if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
  Walk w{L, 0, 0, nullptr, 1};
  ReadCallbackArgs(L, 2, &w);
  const char* pattern = vl::OptStringArg(L, 4, nullptr, nullptr);
  w.pattern = pattern && *pattern ? pattern : nullptr;
  w.recurse = vl::OptIntArg(L, 5, 1);
  bool keep = IsSeparator(path.back()) || w.pattern;
  CutTrailingSeparator(&path);
  struct stat st;
  char native[kNativePathBuffer];
  if (lstat(ToNativePath(path.c_str(), native), &st) != 0) return 0;
  bool directory = S_ISDIR(st.st_mode);
  if (!directory && w.pattern) return ERR_NODIRPATTERN;
  int status = directory ? DeleteDirectory(w, path, keep) : DeleteOneFile(w, path, false);
  return status == ERR_USERABORT ? 0 : status;
}

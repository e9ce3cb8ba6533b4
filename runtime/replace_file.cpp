// Temporary-file-and-rename saving for plain files. Depends on the stream
// layer, the platform's path conversion and the error-argument buffer.
#include "runtime/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/exit_removals.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/memory_name.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

std::atomic<unsigned> gSerial{0};

// The process that made a temporary file for file, named
// ".vl<process>-<serial>-<file>"; 0 when the name is no such file's.
long TempOwner(const char* name, const std::string& file) {
  if (std::strncmp(name, ".vl", 3) != 0) return 0;
  char* end = nullptr;
  const long owner = std::strtol(name + 3, &end, 10);
  if (end == name + 3 || *end != '-' || owner <= 0) return 0;
  const char* serial = end + 1;
  std::strtoul(serial, &end, 10);
  if (end == serial || *end != '-' || file != end + 1) return 0;
  return owner;
}

// Takes away what earlier saves of this file left when their process was
// killed in the middle: its temporary files whose maker no longer runs.
void RemoveStaleTemps(const std::string& dir, const std::string& file) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const long owner = TempOwner(e->d_name, file);
    if (owner && owner != getpid() && kill(pid_t(owner), 0) != 0 && errno == ESRCH)
      unlink((dir + e->d_name).c_str());
  }
  closedir(d);
}

// Makes an empty file beside target, named so that its extension stays
// the target's (file adapters may go by it). Empty string on failure.
std::string MakeTempBeside(const std::string& target) {
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? target : target.substr(slash + 1);
  RemoveStaleTemps(dir, file);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char tag[40];
    std::snprintf(tag, sizeof tag, ".vl%ld-%u-", static_cast<long>(getpid()), gSerial.fetch_add(1) + 1);
    std::string temp = dir + tag + file;
    // 0666 less the umask, as a new file made by the save itself would be.
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return temp;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

}  // namespace

int OpenReplacement(vlReplacement* r, const char* name, uint32_t mode, const char* adapterList) {
  r->stream = nullptr;
  r->temp.clear();
  r->target = name ? name : "";
  auto fail = [&] {
    SetErrorArgument(name ? name : "");
    return ERR_WRITEFILE;
  };
  if (!name || !*name) return fail();
  bool plain = !IsChunkName(name) && !IsMemoryName(name);
  if (plain && (mode & VL_MODE_ADAPTERS)) r->stream = OpenAdapterStream(name, mode, adapterList);
  if (plain && !r->stream) {
    char native[kNativePathBuffer];
    std::string path = ToNativePath(name, native);
    struct stat st;
    bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
      // The file a link names is replaced; the link stays.
      char resolved[PATH_MAX];
      if (realpath(path.c_str(), resolved)) path = resolved;
    }
    if (!exists || S_ISREG(st.st_mode)) {
      std::string temp = MakeTempBeside(path);
      if (!temp.empty()) {
        if (exists) chmod(temp.c_str(), st.st_mode & 07777);
        r->stream = OpenFileStream(temp.c_str(), VL_MODE_WRITE, nullptr);
        // An exit without shut-down takes the unfinished file away too.
        if (r->stream && KeepForExitRemoval(temp.c_str())) {
          CloseFileStream(r->stream);
          r->stream = nullptr;
        }
        if (!r->stream) {
          unlink(temp.c_str());
          return fail();
        }
        r->temp = temp;
        r->target = path;
        return 0;
      }
      // A directory that takes no new file: the old file is written in
      // place as before.
    }
  }
  if (!r->stream) r->stream = OpenFileStream(name, mode, adapterList);
  return r->stream ? 0 : fail();
}

int FinishReplacement(vlReplacement* r, bool ok) {
  int status = 0;
  if (r->stream && !CloseFileStream(r->stream)) status = ERR_WRITE;
  r->stream = nullptr;
  if (r->temp.empty()) return ok ? status : 0;
  if (ok && !status && std::rename(r->temp.c_str(), r->target.c_str()) != 0) {
    SetErrorArgument(r->target.c_str());
    status = ERR_WRITEFILE;
  }
  if (!ok || status) unlink(r->temp.c_str());
  ForgetExitRemoval(r->temp.c_str());
  r->temp.clear();
  return ok ? status : 0;
}

int EndReplacement(vlReplacement* r, int status) {
  const int finished = FinishReplacement(r, status == 0);
  return status ? status : finished;
}

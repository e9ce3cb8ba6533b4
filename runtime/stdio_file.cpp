// The built-in file back end over stdio: whole files and windows inside a
// file, the switch between reading and writing, 64-bit seeks, and locks on
// files and directories. Depends on paths.h, os.h and the runtime's chunk
// names and error argument.
#include "runtime/stdio_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/blocking.h"
#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

void CopyPath(char* to, const char* from) { snprintf(to, PATH_MAX, "%s", from); }

// "PROGDIR:rest" names rest inside the program's directory.
const char* ExpandProgDir(const char* name, char* buffer) {
  if (strncmp(name, "PROGDIR:", 8) != 0) return name;
  GetProgramPath(buffer, PATH_MAX);
  CutFilePart(buffer);
  if (!AddPart(buffer, PATH_MAX, name + 8)) return nullptr;
  return buffer;
}

bool OpenWindow(vlStdioFile* file, const char* name) {
  CopyPath(file->path, name);
  char container[PATH_MAX] = "";
  uint64_t offset = 0, length = 0;
  vlChunkNameParts parts{};
  parts.offset = &offset;
  parts.length = &length;
  parts.containerPath = container;
  parts.containerPathSize = sizeof(container);
  if (!ParseChunkName(name, parts)) return false;
  if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX) - offset) {
    return false;
  }
  file->window = 1;
  file->base = offset;
  file->size = length;
  if (!container[0]) return true;
  // Windows are parts of the program or its container: never written.
  file->stream = fopen(container, "rb");
  if (!file->stream) return false;
  if (fseeko(file->stream, static_cast<off_t>(offset), SEEK_SET) != 0) {
    fclose(file->stream);
    file->stream = nullptr;
    return false;
  }
  return true;
}

// How often a writer looks for a reader of its FIFO.
constexpr int64_t kFifoReaderPollMicros = 50000;

// A FIFO opened with fopen waits for its other end inside open(), where
// nothing is drawn and the wait cannot be ended. It opens here without
// waiting: a reader waits for input as it reads, a writer looks for a
// reader between waits of the player's own. Null when no reader came
// before the waits were ended.
FILE* OpenFifo(const char* native, bool writing) {
  const int flags = (writing ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
  int fd;
  while ((fd = open(native, flags)) < 0) {
    if (!writing || errno != ENXIO || BlockingWaitsEnded()) return nullptr;
    WaitReady(nullptr, 0, kFifoReaderPollMicros);
  }
  // Reads and writes wait as with any pipe from here on.
  const int status = fcntl(fd, F_GETFL);
  FILE* stream = status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0 ? nullptr
                                                                            : fdopen(fd, writing ? "wb" : "rb");
  if (!stream) close(fd);
  return stream;
}

bool IsFifo(const char* native) {
  struct stat st;
  return stat(native, &st) == 0 && S_ISFIFO(st.st_mode);
}

// A directory is no stream of bytes (read, it would look empty and
// endless): it is refused as a file that cannot be opened.
bool IsDirectoryStream(FILE* stream) {
  struct stat st;
  return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OpenPlain(vlStdioFile* file, const char* name, uint32_t flags) {
  const char* mode = (flags & VL_FOPEN_WRITE) ? "wb" : (flags & VL_FOPEN_READWRITE) ? "r+b" : "rb";
  char buffer[kNativePathBuffer];
  const char* native = ToNativePath(name, buffer);
  // Update mode never waits for a FIFO's other end.
  if (mode[1] != '+' && IsFifo(native)) file->stream = OpenFifo(native, mode[0] == 'w');
  else file->stream = fopen(native, mode);
  if (!file->stream && mode[0] == 'r' && mode[1] == '+' && errno == ENOENT) {
    // Update mode makes a missing file, and only a missing one: O_EXCL
    // never truncates a file that appeared meanwhile.
    int fd = open(native, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) close(fd);
    file->stream = fopen(native, mode);
  }
  if (file->stream && IsDirectoryStream(file->stream)) {
    fclose(file->stream);  // nothing was written to it: no result to report
    file->stream = nullptr;
    errno = EISDIR;
  }
  if (!file->stream) return false;
  if (!realpath(native, file->path)) CopyPath(file->path, native);
  file->size = kSizeUnknown;
  if (flags & VL_FOPEN_SIZE) {
    if (fseeko(file->stream, 0, SEEK_END) == 0) {
      off_t end = ftello(file->stream);
      if (end >= 0) file->size = static_cast<uint64_t>(end);
    }
    fseeko(file->stream, 0, SEEK_SET);
  }
  return true;
}

// stdio needs a positioning call between reads and writes.
void SwitchTo(vlStdioFile* file, bool writing) {
  if ((file->lastWasWrite != 0) != writing) {
    fseeko(file->stream, 0, SEEK_CUR);
    file->lastWasWrite = writing ? 1 : 0;
  }
}

}  // namespace

vlStdioFile* OpenStdioFile(const char* name, uint32_t flags) {
  char expanded[PATH_MAX];
  name = ExpandProgDir(name, expanded);
  if (!name) return nullptr;
  auto* file = static_cast<vlStdioFile*>(AllocMemory(sizeof(vlStdioFile), 1));
  if (!file) return nullptr;
  bool opened = IsChunkName(name) ? OpenWindow(file, name) : OpenPlain(file, name, flags);
  if (!opened) {
    FreeMemory(file);
    return nullptr;
  }
  return file;
}

int CloseStdioFile(vlStdioFile* file) {
  int result = 1;
  // A write lost earlier (flushed by a seek, say) leaves nothing for fclose
  // to fail on: the stream's error flag still tells.
  if (file->stream && ferror(file->stream)) result = 0;
  if (file->stream && fclose(file->stream) != 0) result = 0;
  FreeMemory(file);
  return result;
}

size_t ReadStdioData(vlStdioFile* file, void* buffer, size_t count) {
  if (!file->stream) return 0;
  SwitchTo(file, false);
  if (file->window) {
    if (file->position >= file->size) return 0;
    if (count > file->size - file->position) count = static_cast<size_t>(file->size - file->position);
  }
  // A pipe, FIFO or terminal may have nothing yet: the wait is the
  // player's own, and an end signal ends it as a short read.
  if (count && WaitForInput(file->stream, -1) < 0) return 0;
  size_t got = fread(buffer, 1, count, file->stream);
  file->position += got;
  return got;
}

int GetStdioChar(vlStdioFile* file) {
  if (!file->stream) return -1;
  SwitchTo(file, false);
  if (file->window && file->position >= file->size) return -1;
  if (WaitForInput(file->stream, -1) < 0) return -1;
  int byte = fgetc(file->stream);
  // Only a byte read moves the position, so it keeps matching the stream.
  if (byte != EOF) file->position++;
  return byte == EOF ? -1 : byte;
}

size_t WriteStdioData(vlStdioFile* file, const void* buffer, size_t count) {
  if (!file->stream || file->window) return 0;
  SwitchTo(file, true);
  size_t written = fwrite(buffer, 1, count, file->stream);
  file->position += written;
  return written;
}

int PutStdioChar(vlStdioFile* file, int byte) {
  if (!file->stream || file->window) return 0;
  SwitchTo(file, true);
  if (fputc(byte, file->stream) == EOF) return 0;
  file->position++;
  return 1;
}

int64_t SeekStdioFile(vlStdioFile* file, int64_t offset, int mode) {
  const int64_t previous = static_cast<int64_t>(file->position);
  const int64_t base = static_cast<int64_t>(file->base);
  int64_t target = 0;
  bool overflow = false;
  switch (mode) {
    case 0:
      overflow = __builtin_add_overflow(offset, previous, &target) ||
                 __builtin_add_overflow(target, base, &target);
      break;
    case 1:
      overflow = __builtin_add_overflow(offset, base, &target);
      break;
    case 2:
      if (file->size == kSizeUnknown) {
        // The size was never taken: ask the stream where its end is.
        if (!file->stream || fseeko(file->stream, static_cast<off_t>(offset), SEEK_END) != 0) return -1;
        off_t at = ftello(file->stream);
        if (at < 0) return -1;
        file->position = static_cast<uint64_t>(at) - file->base;
        file->lastWasWrite = 0;
        return previous;
      }
      overflow = __builtin_add_overflow(offset, base, &target) ||
                 __builtin_add_overflow(target, static_cast<int64_t>(file->size), &target);
      break;
    default:
      target = offset;
      break;
  }
  if (overflow) return -1;
  if (file->window) {
    // No byte outside the window is ever reached.
    int64_t end = base + static_cast<int64_t>(file->size);
    if (target > end) target = end;
    if (target < base) target = base;
  } else if (target < 0) {
    return -1;
  }
  if (file->stream && fseeko(file->stream, static_cast<off_t>(target), SEEK_SET) != 0) return -1;
  file->position = static_cast<uint64_t>(target - base);
  file->lastWasWrite = 0;
  return previous;
}

int FlushStdioFile(vlStdioFile* file) {
  return file->stream && fflush(file->stream) != 0 ? 0 : 1;
}

int IsFileAtEnd(vlStdioFile* file) {
  if (file->size != kSizeUnknown) return file->position >= file->size ? 1 : 0;
  // No size was taken at opening (files opened to write or update, pipes
  // and FIFOs): the end is looked for now.
  if (!file->stream) return 1;
  int fd = fileno(file->stream);
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // Bytes still buffered lie before the position (a seek sends them
    // out), so the file's size on disk tells.
    return file->position >= static_cast<uint64_t>(st.st_size) ? 1 : 0;
  }
  int access = fcntl(fd, F_GETFL);
  if (access < 0 || (access & O_ACCMODE) == O_WRONLY) return 1;
  // A pipe is at its end when its writer closed it with no byte left:
  // one byte is peeked, waiting for it as a read would.
  SwitchTo(file, false);
  if (WaitForInput(file->stream, -1) < 0) return 1;
  int byte = fgetc(file->stream);
  if (byte == EOF) return 1;
  ungetc(byte, file->stream);
  return 0;
}

int StatOpenFile(vlStdioFile* file, vlFileStat* out) {
  if (file->stream) {
    struct stat st;
    if (fstat(fileno(file->stream), &st) != 0) return 0;
    FillFileStat(st, out);
  }
  // A window is a file of its own size.
  if (file->window) {
    out->isDirectory = 0;
    out->size = file->size;
  }
  out->name = file->path;
  return 1;
}

vlDirLock* LockPath(const char* path, int mode) {
  if (mode != VL_LOCK_READ) {
    printf("VLOS_LOCK_WRITE unsupported.\n");
    return nullptr;
  }
  char buffer[kNativePathBuffer];
  const char* native = ToNativePath(path && *path ? path : ".", buffer);
  char resolved[PATH_MAX];
  if (!realpath(native, resolved)) return nullptr;
  auto* lock = static_cast<vlDirLock*>(AllocMemory(sizeof(vlDirLock), 1));
  if (!lock) return nullptr;
  lock->fd = -1;
  size_t length = strlen(resolved);
  lock->path = static_cast<char*>(AllocMemory(length + 1, 0));
  // Room for '/', a full 255-byte entry name and the terminator.
  lock->nameBuffer = static_cast<char*>(AllocMemory(length + NAME_MAX + 2, 0));
  lock->pathLength = static_cast<uint32_t>(length);
  struct stat st;
  bool ok = lock->path && lock->nameBuffer && stat(resolved, &st) == 0;
  if (ok) {
    memcpy(lock->path, resolved, length + 1);
    memcpy(lock->nameBuffer, resolved, length + 1);
    if (S_ISDIR(st.st_mode)) {
      lock->directory = opendir(resolved);
      ok = lock->directory != nullptr;
    } else if (S_ISREG(st.st_mode)) {
      lock->fd = open(resolved, O_RDONLY | O_CLOEXEC);
      ok = lock->fd >= 0;
    } else {
      ok = false;
    }
  }
  if (!ok) {
    FreeMemory(lock->path);
    FreeMemory(lock->nameBuffer);
    FreeMemory(lock);
    return nullptr;
  }
  return lock;
}

void CloseDirHandle(vlDirLock* lock) {
  if (!lock) return;
  if (lock->directory) {
    closedir(lock->directory);
  } else if (lock->fd != -1) {
    close(lock->fd);
  }
  FreeMemory(lock->nameBuffer);
  FreeMemory(lock->path);
  FreeMemory(lock);
}

int ReadDirEntry(vlDirLock* lock, uint32_t, const char** name, uint32_t* isDirectory, vlFileStat* stat) {
  if (!lock->directory) return 0;
  size_t room = lock->pathLength + NAME_MAX + 2;
  for (;;) {
    dirent* entry = readdir(lock->directory);
    if (!entry) return 0;
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    lock->nameBuffer[lock->pathLength] = 0;
    if (!AddPart(lock->nameBuffer, room, entry->d_name)) continue;
    struct stat st;
    if (::stat(lock->nameBuffer, &st) != 0) continue;
    if (name) *name = entry->d_name;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    if (stat) {
      FillFileStat(st, stat);
      stat->name = entry->d_name;
    }
    return 1;
  }
}

int StatPathOrFd(vlDirLock* lock, vlFileStat* out) {
  struct stat st;
  int status = lock->directory ? stat(lock->path, &st) : fstat(lock->fd, &st);
  if (status == 0) FillFileStat(st, out);
  out->name = lock->path;
  return 0;
}

int GetHandleName(vlDirLock* lock, char* buffer, size_t size) {
  snprintf(buffer, size, "%s", lock->path);
  return 1;
}

int CheckDirHandle(vlDirLock* lock, uint32_t* isDirectory) {
  if (!lock->directory) {
    SetErrorArgument(lock->path);
    return ERR_NOTADIR;
  }
  *isDirectory = 1;
  return 0;
}

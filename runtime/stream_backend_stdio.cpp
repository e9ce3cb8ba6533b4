// Plain-file streams of the runtime's stream layer, served by the built-in
// file back end. Depends on stdio_file.h and paths.h.
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/paths.h"
#include "runtime/stdio_file.h"
#include "runtime/chunk_name.h"
#include "runtime/stream_backend.h"

namespace vl::stream_backend {

namespace {
vlStdioFile* File(void* handle) { return static_cast<vlStdioFile*>(handle); }
}  // namespace

void* Open(const char* name, uint32_t mode) { return OpenStdioFile(name, mode); }
int Close(void* handle) { return CloseStdioFile(File(handle)); }

int64_t Read(void* handle, void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(ReadStdioData(File(handle), buffer, static_cast<size_t>(count)));
}

int GetC(void* handle) { return GetStdioChar(File(handle)); }

int64_t Write(void* handle, const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(WriteStdioData(File(handle), buffer, static_cast<size_t>(count)));
}

int PutC(void* handle, int byte) { return PutStdioChar(File(handle), byte); }
int64_t Seek(void* handle, int64_t offset, int mode) { return SeekStdioFile(File(handle), offset, mode); }
int Flush(void* handle) { return FlushStdioFile(File(handle)); }
int AtEnd(void* handle) { return IsFileAtEnd(File(handle)); }
int Stat(void* handle, vlFileStat* status) { return StatOpenFile(File(handle), status); }

bool Seekable(void* handle) {
  vlStdioFile* file = File(handle);
  return !file->stream || lseek(fileno(file->stream), 0, SEEK_CUR) >= 0;
}

bool Identity(void* handle, uint64_t* device, uint64_t* inode, bool* isWindow) {
  vlStdioFile* file = File(handle);
  struct stat st;
  if (!file->stream || fstat(fileno(file->stream), &st) != 0) return false;
  *device = static_cast<uint64_t>(st.st_dev);
  *inode = static_cast<uint64_t>(st.st_ino);
  *isWindow = file->window != 0;
  return true;
}

bool PathIdentity(const char* name, uint64_t* device, uint64_t* inode) {
  char buffer[kNativePathBuffer];
  struct stat st;
  if (IsChunkName(name) || stat(ToNativePath(name, buffer), &st) != 0) return false;
  *device = static_cast<uint64_t>(st.st_dev);
  *inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

}  // namespace vl::stream_backend

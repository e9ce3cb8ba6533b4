// The stream layer's side of the built-in file back end: the operations a
// plain-file stream needs, over the back end's handle. Internal to the
// runtime's stream code.
#pragma once
#include <cstdint>

#include "runtime/file_stat.h"

namespace vl::stream_backend {

void* Open(const char* name, uint32_t mode);
int Close(void* handle);
int64_t Read(void* handle, void* buffer, int64_t count);
int GetC(void* handle);
int64_t Write(void* handle, const void* buffer, int64_t count);
int PutC(void* handle, int byte);
int64_t Seek(void* handle, int64_t offset, int mode);
int Flush(void* handle);
int AtEnd(void* handle);
int Stat(void* handle, vlFileStat* status);
// False when the handle's file cannot seek (a pipe, a FIFO, a terminal).
bool Seekable(void* handle);
// The file a whole-file handle reads (device and inode), for telling a copy
// onto itself; false for windows into a larger file and stream-less handles.
// *isWindow tells whether the handle is a window onto the file.
bool Identity(void* handle, uint64_t* device, uint64_t* inode, bool* isWindow);
// The device and inode of an existing file named by an engine path.
bool PathIdentity(const char* name, uint64_t* device, uint64_t* inode);

}  // namespace vl::stream_backend

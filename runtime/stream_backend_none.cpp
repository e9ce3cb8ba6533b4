// Plain-file streams until the built-in file back end is linked in: no
// plain file opens, so only memory, chunk-of-memory and adapter streams
// exist.
#include "runtime/stream_backend.h"

namespace vl::stream_backend {

void* Open(const char*, uint32_t) { return nullptr; }
int Close(void*) { return 0; }
int64_t Read(void*, void*, int64_t) { return 0; }
int GetC(void*) { return -1; }
int64_t Write(void*, const void*, int64_t) { return 0; }
int PutC(void*, int) { return 0; }
int64_t Seek(void*, int64_t, int) { return -1; }
int Flush(void*) { return 1; }
int AtEnd(void*) { return 1; }
int Stat(void*, vlFileStat*) { return 0; }
bool Identity(void*, uint64_t*, uint64_t*, bool*) { return false; }
bool PathIdentity(const char*, uint64_t*, uint64_t*) { return false; }

}  // namespace vl::stream_backend

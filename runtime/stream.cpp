// File streams: opening with adapter selection, and the byte, block, seek,
// size and status operations over the three kinds of stream (memory block,
// file adapter, built-in file back end). Depends on chunk and memory names
// and on the file-adapter classes.
#include "runtime/stream.h"

#include <cstdlib>
#include <cstring>

#include "runtime/chunk_name.h"
#include "runtime/file_adapter.h"
#include "runtime/memory_name.h"
#include "runtime/plugin_formats.h"
#include "runtime/stream_backend.h"

namespace backend = vl::stream_backend;

namespace {

constexpr uint64_t kGrowStep = 65536;
// Memory streams never grow past this (sizes stay positive int64 values).
constexpr uint64_t kMaxMemorySize = uint64_t(1) << 62;

uint32_t AdapterModeCode(uint32_t mode) {
  if (mode & VL_MODE_WRITE) return VL_ADAPTER_WRITE;
  if (mode & VL_MODE_UPDATE) return VL_ADAPTER_UPDATE;
  return VL_ADAPTER_READ;
}

void DropMemoryRecord(vlStream* s) {
  if (s->ownsRecord) std::free(s->memory);
  s->memory = nullptr;
  s->ownsRecord = 0;
}

// What a chunk name told the opener, for the adapters' tags.
struct ChunkInfo {
  bool isChunk = false;
  uint64_t offset = 0;
  uint64_t length = 0;
  char storedName[1024];
  char containerPath[4096];
};

// Asks the selected file adapters in class order; true when one took it.
bool OpenThroughAdapter(vlStream* s, const char* name, uint32_t mode, const char* list, const ChunkInfo& chunk) {
  bool virtualName = chunk.isChunk || IsMemoryName(name);
  uint32_t code = AdapterModeCode(mode);
  BuildLoaderList(list, VL_CLASS_FILEADAPTER);  // adapters the list names join now
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_FILEADAPTER); node; node = node->next) {
    vlFileAdapter* a = GetFileAdapter(node);
    if (!a || a->disabled || !a->slots) continue;
    if (virtualName && !(a->flags & VL_ADAPTER_ACCEPTS_VIRTUAL)) continue;
    if (!IsAdapterSelected(a, list)) continue;
    vlTagItem tags[5];
    int n = 0;
    tags[n++] = {VL_FOPEN_FLAGS, reinterpret_cast<uintptr_t>(&s->flags)};
    const char* openName = name;
    if (s->memory) {
      tags[n++] = {VL_FOPEN_DATA, reinterpret_cast<uintptr_t>(s->memory->data)};
      tags[n++] = {VL_FOPEN_LENGTH, static_cast<uintptr_t>(s->memory->size)};
      openName = chunk.isChunk ? chunk.storedName : s->memory->name;
    } else if (chunk.isChunk) {
      tags[n++] = {VL_FOPEN_CONTAINER, reinterpret_cast<uintptr_t>(chunk.containerPath)};
      tags[n++] = {VL_FOPEN_OFFSET, static_cast<uintptr_t>(chunk.offset)};
      tags[n++] = {VL_FOPEN_LENGTH, static_cast<uintptr_t>(chunk.length)};
      openName = chunk.storedName;
    }
    tags[n] = {VL_TAG_END, 0};
    s->flags = 0;
    void* h = CallFileAdapter<void*>(a, a->slots->FOpen, openName, code, tags);
    if (h) {
      s->adapter = a;
      s->handle = h;
      s->mode = code;
      DropMemoryRecord(s);
      return true;
    }
  }
  s->flags = 0;
  return false;
}

int64_t MemoryRead(vlStream* s, void* buffer, int64_t count) {
  vlMemoryRecord* m = s->memory;
  if (count <= 0 || static_cast<uint64_t>(s->position) >= m->size) return 0;
  uint64_t left = m->size - static_cast<uint64_t>(s->position);
  uint64_t n = static_cast<uint64_t>(count) < left ? static_cast<uint64_t>(count) : left;
  std::memcpy(buffer, m->data + s->position, n);
  s->position += static_cast<int64_t>(n);
  return static_cast<int64_t>(n);
}

int64_t MemoryWrite(vlStream* s, const void* buffer, int64_t count) {
  vlMemoryRecord* m = s->memory;
  if (count <= 0) return 0;
  if (!m->writable || !(s->mode & (VL_MODE_WRITE | VL_MODE_UPDATE))) return 0;
  uint64_t pos = static_cast<uint64_t>(s->position);
  if (static_cast<uint64_t>(count) > kMaxMemorySize - pos) return 0;
  uint64_t end = pos + static_cast<uint64_t>(count);
  if (end > m->capacity) {
    // Never below the size: shrinking would cut off bytes still counted.
    uint64_t need = end > m->size ? end : m->size;
    uint64_t cap = m->capacity;
    cap += (need - cap + kGrowStep - 1) / kGrowStep * kGrowStep;
    auto* grown = static_cast<uint8_t*>(std::realloc(m->data, static_cast<size_t>(cap)));
    if (!grown) return 0;
    m->data = grown;
    m->capacity = cap;
  }
  std::memcpy(m->data + pos, buffer, static_cast<size_t>(count));
  s->position = static_cast<int64_t>(end);
  if (end > m->size) m->size = end;
  return count;
}

int64_t MemorySeek(vlStream* s, int64_t offset, int mode) {
  int64_t before = s->position;
  int64_t size = static_cast<int64_t>(s->memory->size);
  int64_t from = mode == VL_SEEK_CURRENT ? before : mode == VL_SEEK_BEGIN ? 0 : mode == VL_SEEK_END ? size : 0;
  int64_t target;
  if (__builtin_add_overflow(from, offset, &target)) target = offset < 0 ? 0 : size;
  if (target > size) target = size;
  if (target < 0) target = 0;
  s->position = target;
  return before;
}

}  // namespace

vlStream* OpenFileStream(const char* name, uint32_t mode, const char* adapterList) {
  if (!name) return nullptr;
  auto* s = static_cast<vlStream*>(std::calloc(1, sizeof(vlStream)));
  if (!s) return nullptr;
  ChunkInfo chunkInfo;
  ChunkInfo* chunk = &chunkInfo;
  chunk->isChunk = IsChunkName(name);
  if (chunk->isChunk) {
    vlMemoryRecord* record = nullptr;
    vlChunkNameParts parts{&chunk->offset, &chunk->length, chunk->storedName, sizeof chunk->storedName,
                           chunk->containerPath, sizeof chunk->containerPath, nullptr, 0, &record};
    if (!ParseChunkName(name, parts)) {
      std::free(s);
      return nullptr;
    }
    if (record) {
      if (!record->writable && (mode & (VL_MODE_WRITE | VL_MODE_UPDATE))) {
        std::free(s);
        return nullptr;
      }
      s->memory = record;
      // Held also when an adapter reads it: the adapter gets its bytes.
      s->held = record;
      HoldVirtualFile(record);
    }
  } else if (IsMemoryName(name)) {
    const void* data;
    uint64_t size;
    if ((mode & (VL_MODE_WRITE | VL_MODE_UPDATE)) || !FindMemoryName(name, &data, &size)) {
      std::free(s);
      return nullptr;
    }
    auto* m = static_cast<vlMemoryRecord*>(std::calloc(1, sizeof(vlMemoryRecord)));
    if (!m) {
      std::free(s);
      return nullptr;
    }
    m->data = static_cast<uint8_t*>(const_cast<void*>(data));
    m->size = size;
    m->name = "Unnamed";
    s->memory = m;
    s->ownsRecord = 1;
  }

  if ((mode & VL_MODE_ADAPTERS) && OpenThroughAdapter(s, name, mode, adapterList, *chunk)) return s;

  s->mode = mode;
  if (s->memory) {
    // Opening a virtual file for writing starts it afresh.
    if (mode & VL_MODE_WRITE) s->memory->size = 0;
    return s;
  }
  if (IsLoaderSelected(adapterList, "inbuilt", 0)) {
    s->handle = backend::Open(name, mode);
    if (s->handle) {
      if (!backend::Seekable(s->handle)) s->flags |= VL_STREAM_UNSEEKABLE;
      return s;
    }
  }
  std::free(s);
  return nullptr;
}

vlStream* OpenAdapterStream(const char* name, uint32_t mode, const char* adapterList) {
  if (!name || IsChunkName(name) || IsMemoryName(name)) return nullptr;
  auto* s = static_cast<vlStream*>(std::calloc(1, sizeof(vlStream)));
  if (!s) return nullptr;
  ChunkInfo chunk;
  if (OpenThroughAdapter(s, name, mode, adapterList, chunk)) return s;
  std::free(s);
  return nullptr;
}

vlStream* OpenMemoryStream(const void* data, uint64_t size) {
  if (!data && size) return nullptr;
  auto* s = static_cast<vlStream*>(std::calloc(1, sizeof(vlStream)));
  auto* m = static_cast<vlMemoryRecord*>(std::calloc(1, sizeof(vlMemoryRecord)));
  if (!s || !m) {
    std::free(s);
    std::free(m);
    return nullptr;
  }
  m->data = static_cast<uint8_t*>(const_cast<void*>(data));
  m->size = size;
  m->name = "Unnamed";
  s->memory = m;
  s->ownsRecord = 1;
  s->mode = VL_MODE_READ;
  return s;
}

int CloseFileStream(vlStream* s) {
  if (!s) return 1;
  int result = 1;
  if (s->adapter) CallFileAdapter<int>(s->adapter, s->adapter->slots->FClose, s->handle);
  else if (s->memory) DropMemoryRecord(s);
  else if (s->handle) result = backend::Close(s->handle);
  ReleaseVirtualFile(s->held);
  std::free(s);
  return result;
}

int ReadFileStreamByte(vlStream* s) {
  if (s->adapter) return CallFileAdapter<int>(s->adapter, s->adapter->slots->FGetC, s->handle);
  if (s->memory) {
    if (static_cast<uint64_t>(s->position) >= s->memory->size) return -1;
    return s->memory->data[s->position++];
  }
  return backend::GetC(s->handle);
}

uint32_t ReadFileStreamWordLE(vlStream* s) {
  uint32_t lo = ReadFileStreamByte(s) & 0xFF;
  uint32_t hi = ReadFileStreamByte(s) & 0xFF;
  return lo | hi << 8;
}

uint32_t ReadFileStreamWordBE(vlStream* s) {
  uint32_t hi = ReadFileStreamByte(s) & 0xFF;
  uint32_t lo = ReadFileStreamByte(s) & 0xFF;
  return lo | hi << 8;
}

uint32_t ReadFileStreamShortBE(vlStream* s) { return ReadFileStreamWordBE(s); }

uint32_t ReadFileStreamLongLE(vlStream* s) {
  uint32_t lo = ReadFileStreamWordLE(s);
  return lo | ReadFileStreamWordLE(s) << 16;
}

uint32_t ReadFileStreamLongBE(vlStream* s) {
  uint32_t hi = ReadFileStreamWordBE(s);
  return ReadFileStreamWordBE(s) | hi << 16;
}

int64_t ReadFileStream(vlStream* s, void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (s->adapter) return CallFileAdapter<int64_t>(s->adapter, s->adapter->slots->FRead, s->handle, buffer, count);
  if (s->memory) return MemoryRead(s, buffer, count);
  return backend::Read(s->handle, buffer, count);
}

int WriteFileStreamByte(vlStream* s, int byte) {
  if (s->adapter) return CallFileAdapter<int>(s->adapter, s->adapter->slots->FPutC, s->handle, byte & 0xFF) ? 1 : 0;
  if (s->memory) {
    uint8_t b = static_cast<uint8_t>(byte);
    return MemoryWrite(s, &b, 1) == 1 ? 1 : 0;
  }
  return backend::PutC(s->handle, byte & 0xFF) ? 1 : 0;
}

int WriteFileStreamWordLE(vlStream* s, uint32_t v) {
  return WriteFileStreamByte(s, v & 0xFF) & WriteFileStreamByte(s, (v >> 8) & 0xFF);
}

int WriteFileStreamWordBE(vlStream* s, uint32_t v) {
  return WriteFileStreamByte(s, (v >> 8) & 0xFF) & WriteFileStreamByte(s, v & 0xFF);
}

int WriteFileStreamLongLE(vlStream* s, uint32_t v) {
  return WriteFileStreamWordLE(s, v & 0xFFFF) & WriteFileStreamWordLE(s, v >> 16);
}

int WriteFileStreamLongBE(vlStream* s, uint32_t v) {
  return WriteFileStreamWordBE(s, v >> 16) & WriteFileStreamWordBE(s, v & 0xFFFF);
}

int64_t WriteFileStream(vlStream* s, const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (s->adapter) return CallFileAdapter<int64_t>(s->adapter, s->adapter->slots->FWrite, s->handle, buffer, count);
  if (s->memory) return MemoryWrite(s, buffer, count);
  return backend::Write(s->handle, buffer, count);
}

int64_t WriteStreamString(vlStream* s, const char* text) {
  return text ? WriteFileStream(s, text, static_cast<int64_t>(std::strlen(text))) : 0;
}

int64_t SeekFileStream(vlStream* s, int64_t offset, int mode) {
  if (s->adapter) {
    bool query = offset == 0 && (mode == VL_SEEK_CURRENT || mode == VL_SEEK_BEGIN);
    if ((s->flags & VL_STREAM_UNSEEKABLE) && !query) return -1;
    return CallFileAdapter<int64_t>(s->adapter, s->adapter->slots->FSeek, s->handle, offset, mode);
  }
  if (s->memory) return MemorySeek(s, offset, mode);
  return backend::Seek(s->handle, offset, mode);
}

int IsFileStreamAtEnd(vlStream* s) {
  if (s->adapter) return CallFileAdapter<int>(s->adapter, s->adapter->slots->FEof, s->handle) ? 1 : 0;
  if (s->memory) return static_cast<uint64_t>(s->position) >= s->memory->size ? 1 : 0;
  return backend::AtEnd(s->handle) ? 1 : 0;
}

int FlushFileStream(vlStream* s) {
  if (s->adapter) return CallFileAdapter<int>(s->adapter, s->adapter->slots->FFlush, s->handle);
  if (s->memory) return 1;
  return backend::Flush(s->handle);
}

int64_t GetFileStreamSize(vlStream* s) {
  if (s->adapter) {
    vlAdapterStat st;
    std::memset(&st, 0, sizeof st);
    if (!CallFileAdapter<int>(s->adapter, s->adapter->slots->FStat, s->handle, 0u, &st,
                          static_cast<const vlTagItem*>(nullptr)))
      return 0;
    return static_cast<int64_t>(st.size);
  }
  if (s->memory) return static_cast<int64_t>(s->memory->size);
  int64_t was = backend::Seek(s->handle, 0, VL_SEEK_END);
  if (was < 0) return -1;
  return backend::Seek(s->handle, was, VL_SEEK_BEGIN);
}

int StatFileStream(vlStream* s, vlFileStat* status) {
  std::memset(status, 0, sizeof *status);
  if (s->adapter) {
    vlAdapterStat st;
    std::memset(&st, 0, sizeof st);
    st.accessDate = st.modifyDate = st.changeDate = GetStartDateStamp();
    if (!CallFileAdapter<int>(s->adapter, s->adapter->slots->FStat, s->handle, 0u, &st,
                          static_cast<const vlTagItem*>(nullptr)))
      return 0;
    ConvertAdapterStat(st, status);
    return 1;
  }
  if (s->memory) {
    status->size = s->memory->size;
    status->protection = VL_PROT_VIRTUAL;
    status->accessTime = status->modifyTime = status->changeTime = DateRecordToTime(GetStartDateStamp());
    status->name = s->memory->name;
    return 1;
  }
  return backend::Stat(s->handle, status);
}

const char* GetFileStreamAdapterName(const vlStream* s) { return s->adapter ? s->adapter->name : nullptr; }

int IsFileStreamUnseekable(const vlStream* s) { return (s->flags & VL_STREAM_UNSEEKABLE) ? 1 : 0; }

uint32_t GetFileStreamFlags(const vlStream* s) { return s->flags; }

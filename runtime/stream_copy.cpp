// Whole-file reads and file copies over file streams, including streams of
// unknown size (pipes, FIFOs, unseekable adapter streams). Depends on the
// stream layer and the error-argument buffer.
#include <cstdlib>
#include <cstring>

#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "runtime/stream_backend.h"
#include "vm/error_codes.h"

namespace {

constexpr int64_t kBlock = 16384;

}  // namespace

int StreamOverlapsName(vlStream* source, const char* destination) {
  if (source->adapter) return VL_OVERLAP_NONE;
  if (source->memory) {
    vlMemoryRecord* record = nullptr;
    vlChunkNameParts parts{};
    parts.record = &record;
    if (!source->ownsRecord && IsChunkName(destination) && ParseChunkName(destination, parts) &&
        record == source->memory)
      return VL_OVERLAP_SAME;
    return VL_OVERLAP_NONE;
  }
  uint64_t dev, ino, dstDev, dstIno;
  bool window;
  if (!vl::stream_backend::Identity(source->handle, &dev, &ino, &window)) return VL_OVERLAP_NONE;
  if (!vl::stream_backend::PathIdentity(destination, &dstDev, &dstIno)) return VL_OVERLAP_NONE;
  if (dev != dstDev || ino != dstIno) return VL_OVERLAP_NONE;
  return window ? VL_OVERLAP_INSIDE : VL_OVERLAP_SAME;
}

int ReadWholeFile(const char* name, const char* adapterList, vlStream* openStream, uint8_t** bufferOut,
                  int64_t* sizeOut, int tryAdapters, int64_t extraBytes) {
  *bufferOut = nullptr;
  *sizeOut = 0;
  if (extraBytes < 0) extraBytes = 0;
  vlStream* s = openStream;
  if (s) {
    SeekFileStream(s, 0, VL_SEEK_BEGIN);
  } else {
    s = OpenFileStream(name, tryAdapters ? VL_MODE_READ | VL_MODE_ADAPTERS : VL_MODE_READ, adapterList);
    if (!s) {
      SetErrorArgument(name ? name : "");
      return ERR_READFILE;
    }
  }
  int result = 0;
  uint8_t* buffer = nullptr;
  int64_t total = 0;
  int64_t size = GetFileStreamSize(s);
  if (size >= 0) {
    if (size > INT64_MAX - extraBytes - 1) {
      result = ERR_MEM;
    } else if (!(buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size + extraBytes + 1))))) {
      result = ERR_MEM;
    } else if ((total = ReadFileStream(s, buffer, size)) != size) {
      result = ERR_READ;
    }
  } else {
    // Unknown size: read blocks until one comes back short.
    int64_t capacity = 0;
    for (;;) {
      if (total + kBlock > capacity) {
        auto* grown = static_cast<uint8_t*>(std::realloc(buffer, static_cast<size_t>(capacity + kBlock)));
        if (!grown) {
          result = ERR_MEM;
          break;
        }
        buffer = grown;
        capacity += kBlock;
      }
      int64_t n = ReadFileStream(s, buffer + total, kBlock);
      if (n > 0) total += n;
      if (n < kBlock) break;
    }
    if (result == 0 && !IsFileStreamAtEnd(s)) result = ERR_READ;
    if (result == 0) {
      auto* fitted = static_cast<uint8_t*>(std::realloc(buffer, static_cast<size_t>(total + extraBytes + 1)));
      if (!fitted) result = ERR_MEM;
      else buffer = fitted;
    }
  }
  if (s != openStream) CloseFileStream(s);
  if (result != 0) {
    std::free(buffer);
    return result;
  }
  *bufferOut = buffer;
  *sizeOut = total;
  return 0;
}

int CopyFileData(const char* sourceName, const char* adapterList, const char* destinationName,
                 vlStream* openSource) {
  vlStream* src = openSource;
  if (src) {
    SeekFileStream(src, 0, VL_SEEK_BEGIN);
  } else {
    src = OpenFileStream(sourceName, VL_MODE_READ | VL_MODE_ADAPTERS, adapterList);
    if (!src) {
      SetErrorArgument(sourceName ? sourceName : "");
      return ERR_READFILE;
    }
  }
  // A failed copy keeps no part of the new file.
  vlReplacement out;
  auto finish = [&](int result, vlStream* dst) {
    if (dst) result = EndReplacement(&out, result);
    if (src != openSource) CloseFileStream(src);
    return result;
  };

  // Opening the destination truncates it, so a copy onto the source itself
  // must be caught first: a whole file is already its own copy; a chunk
  // inside the destination would be destroyed.
  switch (StreamOverlapsName(src, destinationName)) {
    case VL_OVERLAP_SAME:
      return finish(0, nullptr);
    case VL_OVERLAP_INSIDE:
      SetErrorArgument(destinationName);
      return finish(ERR_WRITEFILE, nullptr);
    default:
      break;
  }
  if (int status = OpenReplacement(&out, destinationName, VL_MODE_WRITE, nullptr)) return finish(status, nullptr);
  vlStream* dst = out.stream;
  auto* block = static_cast<uint8_t*>(std::malloc(kBlock));
  if (!block) return finish(ERR_MEM, dst);
  int result = 0;
  int64_t size = GetFileStreamSize(src);
  for (int64_t done = 0;;) {
    int64_t want = kBlock;
    if (size >= 0) {
      if (done >= size) break;
      if (size - done < want) want = size - done;
    }
    int64_t n = ReadFileStream(src, block, want);
    if (n < 0) n = 0;
    if (n < want && (size >= 0 || !IsFileStreamAtEnd(src))) {
      result = ERR_READ;
      break;
    }
    if (n > 0 && WriteFileStream(dst, block, n) != n) {
      result = ERR_WRITE;
      break;
    }
    done += n;
    if (n < want) break;
  }
  std::free(block);
  return finish(result, dst);
}

// Inflating packs (magic, 4 bytes, zlib stream) from a stream into a file
// or a memory buffer. Depends on zlib and the file streams.
#include "runtime/decompress_pack.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

int ZlibErrorCode(int result) {
  switch (result) {
    case Z_ERRNO: return 1306;
    case Z_STREAM_ERROR: return 1307;
    case Z_DATA_ERROR: return 1309;
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_VERSION_ERROR: return 1308;
    default: return 1091;
  }
}

int DecompressPack(const char magic[4], vlStream* source, const char* destPath, uint8_t* buffer,
                   size_t capacity, uint64_t* sizeOut, uint64_t* consumedOut) {
  if (sizeOut) *sizeOut = 0;
  if (consumedOut) *consumedOut = 0;
  // The magic first: a short file that is no pack is told apart from a
  // pack cut inside its header.
  uint8_t head[4];
  if (ReadFileStream(source, head, 4) != 4) return ERR_READ;
  if (std::memcmp(head, magic, 4) != 0) return ERR_PAKFORMAT;
  if (ReadFileStream(source, head, 4) != 4) return ERR_READ;  // reserved
  vlReplacement file;
  vlStream* out = nullptr;
  if (destPath) {
    if (int status = OpenReplacement(&file, destPath, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) return status;
    out = file.stream;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (int rc = inflateInit(&z); rc != Z_OK) return EndReplacement(&file, ZlibErrorCode(rc));
  std::vector<uint8_t> in(16384), chunk(16384);
  uint64_t total = 0;
  int status = 0;
  bool done = false;
  while (!done && !status) {
    if (z.avail_in == 0) {
      int64_t n = ReadFileStream(source, in.data(), static_cast<int64_t>(in.size()));
      if (n <= 0) break;  // the input ended before the stream did
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
    }
    if (out) {
      z.next_out = chunk.data();
      z.avail_out = static_cast<uInt>(chunk.size());
    } else {
      if (total >= capacity) {
        done = true;  // a full buffer ends the unpacking like the stream's end
        break;
      }
      z.next_out = buffer + total;
      z.avail_out = static_cast<uInt>(capacity - total < chunk.size() ? capacity - total : chunk.size());
    }
    uInt before = z.avail_out;
    int rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      done = true;
    } else if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR) {
      status = 1309;
    } else if (rc == Z_MEM_ERROR) {
      status = ERR_MEM;
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      status = ZlibErrorCode(rc);
    }
    size_t produced = before - z.avail_out;
    if (out && produced &&
        WriteFileStream(out, chunk.data(), static_cast<int64_t>(produced)) != static_cast<int64_t>(produced))
      status = ERR_WRITE;
    total += produced;
  }
  if (!status && !done) status = 1309;
  // Leave the stream right behind the compressed data.
  if (z.avail_in) SeekFileStream(source, -static_cast<int64_t>(z.avail_in), VL_SEEK_CURRENT);
  if (consumedOut) *consumedOut = z.total_in + 8;
  inflateEnd(&z);
  if (out) status = EndReplacement(&file, status);
  if (sizeOut) *sizeOut = total;
  return status;
}

// AVI reader for anims and videos: the header lists give the size, frame
// count, the video stream (uncompressed 24-bit or MJPEG) and a PCM sound
// stream; frames are found through "idx1" (absolute or "movi"-relative
// offsets) or by walking the "movi" list and any "AVIX" segments after it,
// and the chunks of every stream in file order by that walk. MJPEG frames without Huffman
// tables get the standard tables. Every size read from the file is checked
// against the buffer it fills. Fuzz target: fuzz_avi.
#include <cstring>

#include "formats/avi.h"
#include "formats/jpeg_codec.h"
#include "formats/pixel_buffer.h"
#include "runtime/os.h"
#include "runtime/stream.h"

namespace {

constexpr int kMaxStreams = 16;
constexpr uint32_t kWaveExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as it lies in the file.
constexpr uint8_t kPCMSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint32_t kHuffmanSegment = 420;

// The standard Huffman tables (JPEG Annex K.3) as one DHT segment.
const uint8_t kStandardHuffman[kHuffmanSegment] = {
    0xFF, 0xC4, 0x01, 0xA2,
    // DC luminance
    0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    // DC chrominance
    0x01, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    // AC luminance
    0x10, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
    // AC chrominance
    0x11, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa};

struct IndexEntry {
  uint32_t offset;
  uint32_t size;
};

bool SameId(const uint8_t* a, const char* b) { return memcmp(a, b, 4) == 0; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool HandlerIs(const uint8_t* handler, const char* name) {
  for (int i = 0; i < 4; ++i)
    if (Lower(static_cast<char>(handler[i])) != name[i]) return false;
  return true;
}

bool IsDataChunkId(const uint8_t* id) {
  return id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9' &&
         ((id[2] == 'd' && (id[3] == 'b' || id[3] == 'c')) || (id[2] == 'w' && id[3] == 'b'));
}

}  // namespace

struct vlAVIReader {
  vlStream* stream;
  int32_t codec;  // 0 uncompressed, 1 MJPEG
  int32_t width, height;
  int32_t streams;
  int32_t audioChannels, sampleRate, blockAlign, audioBits;
  int32_t audioPCM;  // the sound stream's format is PCM (tag 1 or its extensible form)
  int32_t planes, bitCount;
  int32_t topDown;
  int64_t moviData;
  int32_t totalFrames;
  uint8_t types[kMaxStreams][4];
  uint8_t handlers[kMaxStreams][4];
  uint8_t compression[4];
  int32_t videoStream;
  int32_t audioStream;  // the last "auds" stream, -1 none
  uint8_t* frame;
  uint32_t frameCapacity;
  IndexEntry* index[kMaxStreams];
  int32_t indexCount[kMaxStreams];
  int32_t indexCapacity;
  int32_t nextFrame;
  uint32_t microsPerFrame;
};

namespace {

void FreeReader(vlAVIReader* r) {
  if (r->stream) CloseFileStream(r->stream);
  for (IndexEntry* t : r->index) FreeMemory(t);
  FreeMemory(r->frame);
  FreeMemory(r);
}

bool Skip(vlStream* s, uint32_t size) {
  return SeekFileStream(s, static_cast<int64_t>(size) + (size & 1), VL_SEEK_CURRENT) >= 0;
}

bool EnsureFrameBuffer(vlAVIReader* r, uint64_t size) {
  if (size <= r->frameCapacity) return true;
  if (size > (uint64_t{1} << 30)) return false;
  auto* grown = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(size), 0));
  if (!grown) return false;
  FreeMemory(r->frame);
  r->frame = grown;
  r->frameCapacity = static_cast<uint32_t>(size);
  return true;
}

// Walks the header chunks up to the "movi" list; false on a violation.
bool ReadHeaders(vlAVIReader* r, bool* foundMovi) {
  vlStream* s = r->stream;
  int current = -1;  // the stream of the last "strh"
  *foundMovi = false;
  for (;;) {
    uint8_t head[8];
    if (ReadFileStream(s, head, 8) != 8) return true;
    const uint32_t size = head[4] | (head[5] << 8) | (head[6] << 16) | (uint32_t{head[7]} << 24);
    if (SameId(head, "LIST")) {
      uint8_t type[4];
      if (ReadFileStream(s, type, 4) != 4) return true;
      if (SameId(type, "movi")) {
        r->moviData = SeekFileStream(s, 0, VL_SEEK_CURRENT);
        if (!Skip(s, size >= 4 ? size - 4 : 0)) return false;
        *foundMovi = true;
        return true;
      }
      continue;
    }
    if (SameId(head, "avih")) {
      if (size != 56) return false;
      uint32_t v[14];
      for (uint32_t& x : v) x = ReadFileStreamLongLE(s);
      r->microsPerFrame = v[0];
      r->totalFrames = static_cast<int32_t>(v[4]);
      r->streams = static_cast<int32_t>(v[6]);
      r->width = static_cast<int32_t>(v[8]);
      r->height = static_cast<int32_t>(v[9]);
      if (v[4] == 0 || v[4] > INT32_MAX || r->streams > kMaxStreams) return false;
    } else if (SameId(head, "strh")) {
      if (size != 56 || current + 1 >= kMaxStreams) return false;
      ++current;
      if (ReadFileStream(s, r->types[current], 4) != 4 || ReadFileStream(s, r->handlers[current], 4) != 4)
        return false;
      if (!Skip(s, 48)) return false;
    } else if (SameId(head, "strf")) {
      if (current < 0) return false;
      if (SameId(r->types[current], "auds")) {
        if (size < 16) return false;
        const uint32_t tag = ReadFileStreamWordLE(s);
        r->audioChannels = static_cast<int32_t>(ReadFileStreamWordLE(s));
        r->sampleRate = static_cast<int32_t>(ReadFileStreamLongLE(s));
        ReadFileStreamLongLE(s);
        r->blockAlign = static_cast<int32_t>(ReadFileStreamWordLE(s));
        r->audioBits = static_cast<int32_t>(ReadFileStreamWordLE(s));
        uint32_t read = 16;
        r->audioPCM = tag == 1;
        if (tag == kWaveExtensible && size >= 40) {
          // The extensible form (above 48 kHz, say) of plain PCM: the same
          // samples as tag 1 when the sub-format is PCM and every bit holds.
          uint8_t extension[24];
          if (ReadFileStream(s, extension, 24) != 24) return false;
          read = 40;
          const uint32_t extra = extension[0] | uint32_t(extension[1]) << 8;
          const int32_t valid = extension[2] | int32_t(extension[3]) << 8;
          r->audioPCM = extra >= 22 && valid == r->audioBits && std::memcmp(extension + 8, kPCMSubFormat, 16) == 0;
        }
        r->audioStream = current;
        if (!Skip(s, size - read)) return false;
      } else if (SameId(r->types[current], "vids")) {
        if (size < 40) return false;
        ReadFileStreamLongLE(s);
        const int32_t w = static_cast<int32_t>(ReadFileStreamLongLE(s));
        const int32_t h = static_cast<int32_t>(ReadFileStreamLongLE(s));
        // A negative height is a top-down picture.
        if (w != r->width || (h != r->height && -int64_t{h} != r->height)) return false;
        r->topDown = h < 0;
        r->planes = static_cast<int32_t>(ReadFileStreamWordLE(s));
        r->bitCount = static_cast<int32_t>(ReadFileStreamWordLE(s));
        if (ReadFileStream(s, r->compression, 4) != 4 || !Skip(s, 20) || !Skip(s, size - 40)) return false;
        r->videoStream = current;
      } else if (!Skip(s, size)) {
        return false;
      }
    } else if (!Skip(s, size)) {
      return false;
    }
  }
}

bool ReadIdx1(vlAVIReader* r, uint32_t size) {
  // No stream has more entries than the frame count or than idx1 holds.
  const int64_t left = GetFileStreamSize(r->stream) - SeekFileStream(r->stream, 0, VL_SEEK_CURRENT);
  int64_t entries = size / 16;
  if (left >= 0 && entries > left / 16) entries = left / 16;
  if (entries > r->totalFrames) entries = r->totalFrames;
  for (int i = 0; i < r->streams; ++i) {
    r->index[i] = static_cast<IndexEntry*>(AllocMemory(sizeof(IndexEntry) * (entries ? entries : 1), 0));
    if (!r->index[i]) return false;
  }
  r->indexCapacity = static_cast<int32_t>(entries);
  for (uint32_t n = size / 16; n > 0; --n) {
    uint8_t e[16];
    if (ReadFileStream(r->stream, e, 16) != 16) break;
    if (SameId(e, "rec ")) continue;
    if (e[0] < '0' || e[0] > '9' || e[1] < '0' || e[1] > '9') break;
    const int number = (e[0] - '0') * 10 + (e[1] - '0');
    if (number >= r->streams) break;
    if (!(e[2] == 'd' && (e[3] == 'b' || e[3] == 'c')) && !(e[2] == 'w' && e[3] == 'b')) break;
    if (r->indexCount[number] >= r->indexCapacity) continue;
    IndexEntry& entry = r->index[number][r->indexCount[number]++];
    entry.offset = e[8] | (e[9] << 8) | (e[10] << 16) | (uint32_t{e[11]} << 24);
    entry.size = e[12] | (e[13] << 8) | (e[14] << 16) | (uint32_t{e[15]} << 24);
  }
  return true;
}

uint32_t* ConvertRaw(vlAVIReader* r, uint32_t size) {
  const uint32_t row = static_cast<uint32_t>(r->width) * 3;
  const uint32_t paddedRow = (row + 3) & ~3u;
  uint32_t stride;
  if (size == row * static_cast<uint32_t>(r->height)) stride = row;
  else if (size == paddedRow * static_cast<uint32_t>(r->height)) stride = paddedRow;
  else return nullptr;
  uint32_t* out = AllocPixelBuffer(r->width, r->height, 0);
  if (!out) return nullptr;
  for (int32_t y = 0; y < r->height; ++y) {
    const uint8_t* in = r->frame + static_cast<size_t>(r->topDown ? y : r->height - 1 - y) * stride;
    uint32_t* o = out + static_cast<size_t>(y) * r->width;
    for (int32_t x = 0; x < r->width; ++x, in += 3) o[x] = (uint32_t{in[2]} << 16) | (uint32_t{in[1]} << 8) | in[0];
  }
  return out;
}

// Copies the chunk (read into the upper part of the buffer) down, adding the
// standard Huffman tables before the scan when the frame has none.
uint32_t* DecodeMJPEG(vlAVIReader* r, const uint8_t* chunk, uint32_t size) {
  if (size < 4 || chunk[0] != 0xFF || chunk[1] != 0xD8) return nullptr;
  uint8_t* out = r->frame;
  uint32_t in = 2, o = 2;
  out[0] = 0xFF;
  out[1] = 0xD8;
  bool huffman = false;
  while (in + 4 <= size) {
    if (chunk[in] != 0xFF) return nullptr;
    const uint8_t marker = chunk[in + 1];
    if (marker == 0xDA) {
      if (!huffman) {
        memcpy(out + o, kStandardHuffman, kHuffmanSegment);
        o += kHuffmanSegment;
      }
      break;
    }
    if (marker == 0xC4) huffman = true;
    const uint32_t length = (uint32_t{chunk[in + 2]} << 8) | chunk[in + 3];
    if (length < 2 || in + 2 + length > size) return nullptr;
    memmove(out + o, chunk + in, 2 + length);
    in += 2 + length;
    o += 2 + length;
  }
  if (in >= size) return nullptr;
  memmove(out + o, chunk + in, size - in);
  o += size - in;
  if (o >= 10 && memcmp(out + 6, "AVI1", 4) == 0) memcpy(out + 6, "JFIF", 4);
  int32_t w = 0, h = 0;
  uint32_t* pixels = nullptr;
  if (DecodeJPEG(out, o, 0, &w, &h, &pixels) != 0) return nullptr;
  if (w != r->width || h != r->height) {
    // A frame of another size than the stream's: keep the picture size.
    uint32_t* fitted = AllocPixelBuffer(r->width, r->height, 1);
    if (fitted)
      for (int32_t y = 0; y < r->height && y < h; ++y)
        memcpy(fitted + static_cast<size_t>(y) * r->width, pixels + static_cast<size_t>(y) * w,
               static_cast<size_t>(w < r->width ? w : r->width) * 4);
    FreeMemory(pixels);
    return fitted;
  }
  return pixels;
}

}  // namespace

vlAVIReader* OpenAVIReader(vlStream* stream, int32_t* width, int32_t* height, int32_t* frameCount) {
  auto* r = static_cast<vlAVIReader*>(AllocMemory(sizeof(vlAVIReader), 1));
  if (!r) {
    CloseFileStream(stream);
    return nullptr;
  }
  r->stream = stream;
  r->videoStream = -1;
  r->audioStream = -1;
  uint8_t head[12];
  bool movi = false;
  if (ReadFileStream(stream, head, 12) != 12 || !SameId(head, "RIFF") || !SameId(head + 8, "AVI ") ||
      !ReadHeaders(r, &movi) || !movi || r->videoStream < 0 || r->streams < 1 || r->totalFrames < 1 ||
      !PictureSizeOk(r->width, r->height)) {
    FreeReader(r);
    return nullptr;
  }
  const uint8_t* handler = r->handlers[r->videoStream];
  static const uint8_t kNone[4] = {};
  if (HandlerIs(handler, "dib ") || HandlerIs(handler, "raw ") || memcmp(handler, kNone, 4) == 0) {
    r->codec = 0;
    if (r->bitCount != 24) {
      FreeReader(r);
      return nullptr;
    }
  } else if (HandlerIs(handler, "mjpg")) {
    r->codec = 1;
  } else {
    FreeReader(r);
    return nullptr;
  }
  uint8_t next[8];
  if (ReadFileStream(stream, next, 8) == 8 && SameId(next, "idx1")) {
    const uint32_t size = next[4] | (next[5] << 8) | (next[6] << 16) | (uint32_t{next[7]} << 24);
    if (!ReadIdx1(r, size)) {
      FreeReader(r);
      return nullptr;
    }
  }
  // The frame buffer grows to each chunk read, up to what the file holds.
  if (SeekFileStream(stream, r->moviData, VL_SEEK_BEGIN) < 0) {
    FreeReader(r);
    return nullptr;
  }
  *width = r->width;
  *height = r->height;
  *frameCount = r->totalFrames;
  return r;
}

uint32_t* ReadAVIFrame(vlAVIReader* r, int32_t n) {
  if (n < 0 || n >= r->totalFrames) return nullptr;
  vlStream* s = r->stream;
  int32_t frame = n;  // the frame number of the next video chunk
  if (n != r->nextFrame) {
    const int32_t v = r->videoStream;
    if (n < r->indexCount[v]) {
      const uint32_t offset = r->index[v][n].offset;
      uint8_t id[4];
      if (SeekFileStream(s, offset, VL_SEEK_BEGIN) >= 0 && ReadFileStream(s, id, 4) == 4 && IsDataChunkId(id)) {
        SeekFileStream(s, offset, VL_SEEK_BEGIN);
      } else if (SeekFileStream(s, int64_t{offset} - 4 + r->moviData, VL_SEEK_BEGIN) < 0) {
        return nullptr;
      }
    } else {
      SeekFileStream(s, r->moviData, VL_SEEK_BEGIN);
      frame = 0;
    }
  } else {
    frame = r->nextFrame;
  }
  char db[5], dc[5];
  db[0] = dc[0] = static_cast<char>('0' + r->videoStream / 10);
  db[1] = dc[1] = static_cast<char>('0' + r->videoStream % 10);
  memcpy(db + 2, "db", 3);
  memcpy(dc + 2, "dc", 3);
  for (;;) {
    uint8_t head[8];
    if (ReadFileStream(s, head, 8) != 8) {
      r->nextFrame = -1;
      return nullptr;
    }
    const uint32_t size = head[4] | (head[5] << 8) | (head[6] << 16) | (uint32_t{head[7]} << 24);
    if (SameId(head, "LIST") || SameId(head, "RIFF")) {
      SeekFileStream(s, 4, VL_SEEK_CURRENT);
      continue;
    }
    const bool video = SameId(head, db) || SameId(head, dc);
    if (!video || frame < n) {
      if (video) ++frame;
      if (!Skip(s, size)) return nullptr;
      continue;
    }
    // The chunk goes to the top of the buffer, leaving room for the tables.
    const int64_t left = GetFileStreamSize(s) - SeekFileStream(s, 0, VL_SEEK_CURRENT);
    if ((left >= 0 && size > left) || !EnsureFrameBuffer(r, uint64_t{size} + kHuffmanSegment + 2)) return nullptr;
    uint8_t* chunk = r->frame + kHuffmanSegment + 2;
    if (ReadFileStream(s, chunk, size) != static_cast<int64_t>(size)) return nullptr;
    if (size & 1) SeekFileStream(s, 1, VL_SEEK_CURRENT);
    uint32_t* pixels;
    if (r->codec == 0) {
      memmove(r->frame, chunk, size);
      pixels = ConvertRaw(r, size);
    } else {
      pixels = DecodeMJPEG(r, chunk, size);
    }
    r->nextFrame = n + 1;
    if (r->nextFrame >= r->totalFrames) {
      SeekFileStream(s, r->moviData, VL_SEEK_BEGIN);
      r->nextFrame = 0;
    }
    return pixels;
  }
}

uint32_t GetAVIMicrosPerFrame(const vlAVIReader* r) { return r->microsPerFrame; }

int32_t GetAVIVideoStream(const vlAVIReader* r) { return r->videoStream; }

int32_t GetAVIAudioFormat(const vlAVIReader* r, int32_t* channels, int32_t* rate, int32_t* bits) {
  if (r->audioStream < 0) return -1;
  if (!r->audioPCM || r->audioChannels < 1 || r->audioChannels > 2 || r->sampleRate < 1 ||
      (r->audioBits != 8 && r->audioBits != 16) || r->blockAlign != r->audioChannels * r->audioBits / 8)
    return -2;
  *channels = r->audioChannels;
  *rate = r->sampleRate;
  *bits = r->audioBits;
  return r->audioStream;
}

int ReadAVIChunk(vlAVIReader* r, int64_t* position, int32_t wanted, int32_t* stream, uint8_t** data,
                 uint32_t* size) {
  constexpr uint32_t kMaxChunk = 1u << 24;
  vlStream* s = r->stream;
  *data = nullptr;
  // The walk moves the stream: the frame reader seeks by the index next,
  // whether or not a chunk is found.
  r->nextFrame = -1;
  const int64_t fileSize = GetFileStreamSize(s);
  for (int64_t at = *position > 0 ? *position : r->moviData;;) {
    uint8_t head[8];
    if (SeekFileStream(s, at, VL_SEEK_BEGIN) < 0 || ReadFileStream(s, head, 8) != 8) return 0;
    const uint32_t length = head[4] | (head[5] << 8) | (head[6] << 16) | (uint32_t{head[7]} << 24);
    // Lists ("movi", "rec ") and further segments are walked into.
    if (SameId(head, "LIST") || SameId(head, "RIFF")) {
      at += 12;
      continue;
    }
    const int64_t next = at + 8 + length + (length & 1);
    if (!IsDataChunkId(head)) {
      at = next;
      continue;
    }
    const int32_t number = (head[0] - '0') * 10 + (head[1] - '0');
    if (number == wanted) {
      if (length > kMaxChunk || (fileSize >= 0 && at + 8 + int64_t{length} > fileSize)) return 0;
      *data = static_cast<uint8_t*>(AllocMemory(length ? length : 1, 0));
      if (!*data) return 0;
      if (ReadFileStream(s, *data, length) != int64_t{length}) {
        FreeMemory(*data);
        *data = nullptr;
        return 0;
      }
    }
    *stream = number;
    *size = length;
    *position = next;
    return 1;
  }
}

void CloseAVIReader(vlAVIReader* r) {
  if (r) FreeReader(r);
}

// GIF89a writer: a 768-byte global table carrying a short signature text,
// a NETSCAPE2.0 loop block, and per frame a graphic control block, a local
// colour table and LZW data (open-addressing string table of 5003 slots,
// codes packed into 254-byte sub-blocks). Delta frames store only the
// bounding box of the pixels whose colour changed.
#include <cstring>
#include <new>

#include "formats/gif.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr int kHashSize = 5003;
constexpr int kMaxCode = 4096;

// LZW encoder state for one image.
struct Encoder {
  vlStream* s;
  bool ok = true;
  int minSize = 0;
  int clear = 0;
  int width = 0;
  int maxCode = 0;
  int next = 0;
  bool clearFlag = false;
  uint32_t bits = 0;
  int bitCount = 0;
  uint8_t block[256];
  int blockLength = 0;
  int32_t hashKey[kHashSize];
  uint16_t hashCode[kHashSize];

  void FlushBlock() {
    if (!blockLength) return;
    ok = ok && WriteFileStreamByte(s, blockLength) && WriteFileStream(s, block, blockLength) == blockLength;
    blockLength = 0;
  }
  void PutByte(uint8_t b) {
    block[blockLength++] = b;
    if (blockLength == 254) FlushBlock();
  }
  void Output(int code) {
    bits |= static_cast<uint32_t>(code) << bitCount;
    bitCount += width;
    while (bitCount >= 8) {
      PutByte(static_cast<uint8_t>(bits));
      bits >>= 8;
      bitCount -= 8;
    }
    if (clearFlag) {
      width = minSize + 1;
      maxCode = (1 << width) - 1;
      clearFlag = false;
    } else if (next > maxCode) {
      ++width;
      maxCode = width == 12 ? kMaxCode : (1 << width) - 1;
    }
  }
  void ClearTable() {
    for (int32_t& k : hashKey) k = -1;
  }
  void Encode(const uint8_t* pixels, int32_t rectWidth, int32_t rectHeight, int32_t stride) {
    clear = 1 << minSize;
    width = minSize + 1;
    maxCode = (1 << width) - 1;
    next = clear + 2;
    ClearTable();
    Output(clear);
    const int limit = clear - 1;
    auto pixel = [&](int64_t i) {
      const int v = pixels[(i / rectWidth) * stride + i % rectWidth];
      return v > limit ? limit : v;
    };
    const int64_t total = int64_t{rectWidth} * rectHeight;
    int prefix = pixel(0);
    for (int64_t i = 1; i < total; ++i) {
      const int c = pixel(i);
      const int32_t key = (c << 12) | prefix;
      int slot = (c << 4) + prefix;
      if (slot > kHashSize - 1) slot -= kHashSize;
      const int step = slot == 0 ? 1 : kHashSize - slot;
      bool found = false;
      while (hashKey[slot] >= 0) {
        if (hashKey[slot] == key) {
          prefix = hashCode[slot];
          found = true;
          break;
        }
        slot -= step;
        if (slot < 0) slot += kHashSize;
      }
      if (found) continue;
      Output(prefix);
      if (next < kMaxCode) {
        hashKey[slot] = key;
        hashCode[slot] = static_cast<uint16_t>(next++);
      } else {
        ClearTable();
        next = clear + 2;
        clearFlag = true;
        Output(clear);
      }
      prefix = c;
    }
    Output(prefix);
    Output(clear + 1);
    if (bitCount > 0) PutByte(static_cast<uint8_t>(bits));
    bits = 0;
    bitCount = 0;
    FlushBlock();
  }
};

}  // namespace

struct vlGIFWriter {
  vlReplacement* out;  // the file, put in place when the writer closes
  vlStream* stream;    // its stream
  int32_t frames;
  uint8_t* previous;   // the last frame's indices (delta frames)
  uint8_t* scratch;
  uint32_t previousPalette[256];
  int32_t width, height;
  bool ok;
};

int OpenGIFWriter(const char* fileName, int32_t width, int32_t height, vlGIFWriter** writerOut) {
  *writerOut = nullptr;
  auto* w = static_cast<vlGIFWriter*>(AllocMemory(sizeof(vlGIFWriter), 1));
  if (!w) return ERR_MEM;
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    FreeMemory(w);
    return ERR_WRONGUSAGE;
  }
  w->out = new (std::nothrow) vlReplacement;
  if (!w->out) {
    FreeMemory(w);
    return ERR_MEM;
  }
  if (int status = OpenReplacement(w->out, fileName, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) {
    delete w->out;
    FreeMemory(w);
    return status;
  }
  w->stream = w->out->stream;
  w->scratch = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(width) * height, 0));
  if (!w->scratch) {
    EndReplacement(w->out, ERR_MEM);
    delete w->out;
    FreeMemory(w);
    return ERR_MEM;
  }
  w->width = width;
  w->height = height;
  uint8_t table[768] = {};
  memcpy(table, "Amiga rules!", 13);
  vlStream* s = w->stream;
  w->ok = WriteFileStream(s, "GIF89a", 6) == 6 && WriteFileStreamWordLE(s, width) &&
          WriteFileStreamWordLE(s, height) && WriteFileStreamByte(s, 0xF7) && WriteFileStreamByte(s, 0) &&
          WriteFileStreamByte(s, 0) && WriteFileStream(s, table, 768) == 768;
  *writerOut = w;
  return 0;
}

int WriteGIFFrame(vlGIFWriter* w, const uint8_t* pixels, int32_t width, int32_t height, int32_t delayMs,
                  uint32_t* palette, int32_t colorCount, int32_t transparentIndex, int delta, int anim) {
  if (colorCount < 1) colorCount = 1;
  if (colorCount > 256) colorCount = 256;
  if (width != w->width || height != w->height) return ERR_WRONGUSAGE;
  for (int i = colorCount; i < 256; ++i) palette[i] = 0xFFFFFFFFu;
  int b = 1;
  while (b < 8 && (1 << b) < colorCount) ++b;
  vlStream* s = w->stream;
  bool& ok = w->ok;
  const bool hasTransparent = transparentIndex >= 0;
  const int flags = (hasTransparent ? 8 : 4) | ((hasTransparent || anim) ? 1 : 0);
  const int delay = delayMs > 0 ? delayMs / 10 : 0;
  const uint8_t gce[8] = {0x21, 0xF9, 0x04, static_cast<uint8_t>(flags), static_cast<uint8_t>(delay & 0xFF),
                          static_cast<uint8_t>((delay >> 8) & 0xFF),
                          static_cast<uint8_t>(hasTransparent ? transparentIndex : colorCount - 1), 0};
  ok = ok && WriteFileStream(s, gce, 8) == 8;
  if (w->frames == 0) {
    static const uint8_t kLoop[19] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                      'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
    ok = ok && WriteFileStream(s, kLoop, 19) == 19;
  }

  int32_t left = 0, top = 0, rectWidth = width, rectHeight = height;
  const uint8_t* source = pixels;
  int32_t stride = width;
  if (delta && w->previous && !hasTransparent) {
    int mapped[256];
    for (int& m : mapped) m = -2;  // not looked up yet
    int32_t x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const size_t i = static_cast<size_t>(y) * width + x;
        const int prev = w->previous[i];
        if (mapped[prev] == -2) {
          mapped[prev] = -1;
          for (int j = 0; j < 256; ++j)
            if (palette[j] == w->previousPalette[prev]) {
              mapped[prev] = j;
              break;
            }
        }
        if (mapped[prev] == pixels[i]) continue;
        if (x < x0) x0 = x;
        if (x > x1) x1 = x;
        if (y < y0) y0 = y;
        if (y > y1) y1 = y;
      }
    }
    if (x1 < 0) {
      x0 = y0 = 0;
      x1 = width < 2 ? 0 : 1;
      y1 = 0;
    }
    left = x0;
    top = y0;
    rectWidth = x1 - x0 + 1;
    rectHeight = y1 - y0 + 1;
    for (int32_t y = 0; y < rectHeight; ++y) {
      for (int32_t x = 0; x < rectWidth; ++x) {
        const size_t i = static_cast<size_t>(top + y) * width + left + x;
        const int prev = w->previous[i];
        w->scratch[static_cast<size_t>(y) * rectWidth + x] =
            mapped[prev] == pixels[i] ? static_cast<uint8_t>(colorCount - 1) : pixels[i];
      }
    }
    source = w->scratch;
    stride = rectWidth;
  }

  uint8_t descriptor[10] = {0x2C,
                            static_cast<uint8_t>(left), static_cast<uint8_t>(left >> 8),
                            static_cast<uint8_t>(top), static_cast<uint8_t>(top >> 8),
                            static_cast<uint8_t>(rectWidth), static_cast<uint8_t>(rectWidth >> 8),
                            static_cast<uint8_t>(rectHeight), static_cast<uint8_t>(rectHeight >> 8),
                            static_cast<uint8_t>(0x80 | (b - 1))};
  ok = ok && WriteFileStream(s, descriptor, 10) == 10;
  uint8_t table[768];
  for (int i = 0; i < (1 << b); ++i) {
    table[3 * i] = static_cast<uint8_t>(palette[i] >> 16);
    table[3 * i + 1] = static_cast<uint8_t>(palette[i] >> 8);
    table[3 * i + 2] = static_cast<uint8_t>(palette[i]);
  }
  ok = ok && WriteFileStream(s, table, 3 * (1 << b)) == 3 * (1 << b);
  const int minSize = b < 2 ? 2 : b;
  ok = ok && WriteFileStreamByte(s, minSize);
  auto* encoder = static_cast<Encoder*>(AllocMemory(sizeof(Encoder), 0));
  if (!encoder) {
    ok = false;  // the frame is begun in the file: the file cannot be kept
    return ERR_MEM;
  }
  new (encoder) Encoder{};
  encoder->s = s;
  encoder->minSize = minSize;
  encoder->Encode(source, rectWidth, rectHeight, stride);
  ok = ok && encoder->ok && WriteFileStreamByte(s, 0);
  FreeMemory(encoder);
  ++w->frames;
  if (delta) {
    // The whole new frame is kept: pixels outside the rectangle show the
    // same colours through the new palette.
    if (!w->previous) {
      w->previous = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(width) * height, 0));
      if (!w->previous) return ERR_MEM;
    }
    memcpy(w->previous, pixels, static_cast<size_t>(width) * height);
    memcpy(w->previousPalette, palette, sizeof w->previousPalette);
  }
  return ok ? 0 : ERR_WRITE;
}

int CloseGIFWriter(vlGIFWriter* w, int status) {
  if (!w) return status;
  if (!status && !(w->ok && WriteFileStreamByte(w->stream, 0x3B))) status = ERR_WRITE;
  status = EndReplacement(w->out, status);
  delete w->out;
  FreeMemory(w->previous);
  FreeMemory(w->scratch);
  FreeMemory(w);
  return status;
}

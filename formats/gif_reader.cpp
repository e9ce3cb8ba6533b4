// GIF reader: one scan at open builds the frame table (delay, key-frame
// flag, position); frames are then composed on a 32-bit canvas, starting
// from the nearest full-screen opaque frame. LZW codes up to 12 bits, a
// full table without a clear code, interlaced images and frames reaching
// past the screen are handled; any damage fails the call. Fuzz target:
// fuzz_gif.
#include <cstring>

#include "formats/gif.h"
#include "formats/pixel_buffer.h"
#include "platform/os.h"
#include "runtime/stream.h"

namespace {

constexpr int kMaxCodes = 4096;
constexpr int32_t kTableStep = 4096;

struct FrameEntry {
  uint32_t delay;  // hundredths
  uint32_t keyFrame;
  int64_t position;
};

}  // namespace

struct vlGIFReader {
  vlStream* stream;
  int32_t width, height;
  uint32_t globalPalette[256];
  uint32_t localPalette[256];
  const uint32_t* palette;  // the current one
  uint32_t* canvas;
  uint32_t* rescue;
  int32_t background;
  int32_t nextFrame;
  int32_t frameCount;
  int64_t firstFrame;
  FrameEntry* frames;
  int32_t frameCapacity;
  int32_t disposal;
  int32_t left, top, frameWidth, frameHeight;
  int32_t transparent;
  int32_t transparencyAlpha;
  int32_t alphaFlag;
  int32_t singlePicture;
  // LZW tables
  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint8_t stack[kMaxCodes + 1];
};

namespace {

// Reads the data sub-blocks of an image bit by bit.
struct CodeReader {
  vlStream* s;
  int blockLeft = 0;
  uint32_t bits = 0;
  int bitCount = 0;
  bool ended = false;  // a 0 length byte was read

  // -1 when the data ends before the code is complete.
  int Read(int width) {
    while (bitCount < width) {
      if (blockLeft == 0) {
        int n = ReadFileStreamByte(s);
        if (n <= 0) {
          ended = n == 0;
          return -1;
        }
        blockLeft = n;
      }
      int c = ReadFileStreamByte(s);
      if (c < 0) return -1;
      --blockLeft;
      bits |= static_cast<uint32_t>(c) << bitCount;
      bitCount += 8;
    }
    int code = static_cast<int>(bits & ((1u << width) - 1));
    bits >>= width;
    bitCount -= width;
    return code;
  }

  // Skips what is left of the image data, terminator included.
  bool SkipRest() {
    if (ended) return true;
    for (;;) {
      if (blockLeft && SeekFileStream(s, blockLeft, VL_SEEK_CURRENT) < 0) return false;
      int n = ReadFileStreamByte(s);
      if (n < 0) return false;
      if (n == 0) return true;
      blockLeft = n;
    }
  }
};

bool SkipSubBlocks(vlStream* s) {
  for (;;) {
    int n = ReadFileStreamByte(s);
    if (n < 0) return false;
    if (n == 0) return true;
    if (SeekFileStream(s, n, VL_SEEK_CURRENT) < 0) return false;
  }
}

bool ReadPalette(vlStream* s, uint32_t* palette, int entries) {
  for (int i = 0; i < entries; ++i) {
    uint8_t rgb[3];
    if (ReadFileStream(s, rgb, 3) != 3) return false;
    palette[i] = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
  }
  return true;
}

void FillCanvas(vlGIFReader* r, uint32_t value) {
  const size_t n = static_cast<size_t>(r->width) * r->height;
  for (size_t i = 0; i < n; ++i) r->canvas[i] = value;
}

void ResetCanvas(vlGIFReader* r) {
  FillCanvas(r, r->singlePicture && r->alphaFlag ? 0 : r->globalPalette[r->background & 0xFF]);
}

// Fills the frame rectangle (clipped to the screen) with a value, or copies
// it between canvas and rescue copy.
void ForRect(vlGIFReader* r, int mode, uint32_t value) {
  const int32_t x0 = r->left < 0 ? 0 : r->left, y0 = r->top < 0 ? 0 : r->top;
  const int32_t x1 = r->left + r->frameWidth > r->width ? r->width : r->left + r->frameWidth;
  const int32_t y1 = r->top + r->frameHeight > r->height ? r->height : r->top + r->frameHeight;
  for (int32_t y = y0; y < y1; ++y) {
    uint32_t* c = r->canvas + static_cast<size_t>(y) * r->width;
    uint32_t* k = r->rescue + static_cast<size_t>(y) * r->width;
    for (int32_t x = x0; x < x1; ++x) {
      if (mode == 0) c[x] = value;
      else if (mode == 1) k[x] = c[x];
      else c[x] = k[x];
    }
  }
}

void ApplyDisposal(vlGIFReader* r) {
  if (r->disposal == 2) {
    const int32_t index = r->transparent >= 0 ? r->transparent : r->background;
    ForRect(r, 0, r->palette[index & 0xFF]);
  } else if (r->disposal == 3) {
    ForRect(r, 2, 0);
  }
}

// Decodes one image's LZW data into the frame rectangle of the canvas.
bool DecodeImage(vlGIFReader* r, bool interlaced) {
  vlStream* s = r->stream;
  const int minSize = ReadFileStreamByte(s);
  if (minSize < 1 || minSize > 8) return false;
  const int clear = 1 << minSize, end = clear + 1;
  int width = minSize + 1, next = clear + 2, previous = -1;
  uint8_t first = 0;
  const int64_t total = int64_t{r->frameWidth} * r->frameHeight;
  int64_t done = 0;
  int32_t x = 0, row = 0, pass = 0, rowStep = interlaced ? 8 : 1;
  CodeReader in{s};

  auto emit = [&](uint8_t index) {
    if (done >= total) return;
    const int32_t cx = r->left + x, cy = r->top + row;
    if (index != r->transparent && cx >= 0 && cy >= 0 && cx < r->width && cy < r->height)
      r->canvas[static_cast<size_t>(cy) * r->width + cx] = r->palette[index] | 0xFF000000u;
    ++done;
    if (++x < r->frameWidth) return;
    x = 0;
    row += rowStep;
    while (interlaced && row >= r->frameHeight && pass < 3) {
      static constexpr int32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
      ++pass;
      row = kStart[pass];
      rowStep = kStep[pass];
    }
  };

  while (done < total) {
    const int code = in.Read(width);
    if (code < 0 || code == end || code > next) return false;
    if (code == clear) {
      width = minSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (previous < 0) {
      if (code >= clear) return false;
      first = static_cast<uint8_t>(code);
      emit(first);
      previous = code;
      continue;
    }
    // Walk the string of the code (or, for the next free code, the previous
    // string followed by its own first byte) onto the stack.
    int length = 0;
    int c = code;
    if (code == next) {
      if (next >= kMaxCodes) return false;
      r->stack[length++] = first;
      c = previous;
    }
    while (c >= clear) {
      if (length >= kMaxCodes) return false;
      r->stack[length++] = r->suffix[c];
      c = r->prefix[c];
    }
    r->stack[length++] = static_cast<uint8_t>(c);
    first = static_cast<uint8_t>(c);
    for (int i = length - 1; i >= 0; --i) emit(r->stack[i]);
    if (next < kMaxCodes) {
      r->prefix[next] = static_cast<uint16_t>(previous);
      r->suffix[next] = first;
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    previous = code;
  }
  return in.SkipRest();
}

// Decodes frames from the current position. target -1 scans them all into
// the frame table; otherwise stops after frame target. index is the number
// of the first frame read. 1 target reached (or the file scanned), 0 on
// damage or when the target does not exist.
int DecodeFrames(vlGIFReader* r, int32_t index, int32_t target) {
  vlStream* s = r->stream;
  const bool building = target < 0;
  for (;;) {
    r->transparent = -1;
    r->disposal = 0;
    uint32_t delay = 0;
    const int64_t position = SeekFileStream(s, 0, VL_SEEK_CURRENT);
    int b;
    for (;;) {
      b = ReadFileStreamByte(s);
      if (b < 0 || b == 0x3B) {
        if (building) r->frameCount = index;
        return building ? 1 : 0;
      }
      if (b == 0x2C) break;
      if (b != 0x21) continue;
      const int label = ReadFileStreamByte(s);
      if (label == 0xF9) {
        int size = ReadFileStreamByte(s);
        if (size < 0) return 0;
        const bool terminated = size == 0;
        if (size >= 4) {
          uint8_t gce[4];
          if (ReadFileStream(s, gce, 4) != 4) return 0;
          r->disposal = gce[0] >> 2;
          delay = gce[1] | (uint32_t{gce[2]} << 8);
          if (gce[0] & 1) r->transparent = gce[3];
          size -= 4;
        }
        if (size > 0 && SeekFileStream(s, size, VL_SEEK_CURRENT) < 0) return 0;
        if (!terminated && !SkipSubBlocks(s)) return 0;
      } else if (label < 0 || !SkipSubBlocks(s)) {
        return 0;
      }
    }
    uint8_t d[9];
    if (ReadFileStream(s, d, 9) != 9) return 0;
    r->left = d[0] | (d[1] << 8);
    r->top = d[2] | (d[3] << 8);
    r->frameWidth = d[4] | (d[5] << 8);
    r->frameHeight = d[6] | (d[7] << 8);
    const int flags = d[8];
    if (building) {
      if (index >= r->frameCapacity) {
        const int32_t capacity = r->frameCapacity + kTableStep;
        auto* grown = static_cast<FrameEntry*>(AllocMemory(sizeof(FrameEntry) * capacity, 1));
        if (!grown) return 0;
        memcpy(grown, r->frames, sizeof(FrameEntry) * r->frameCapacity);
        FreeMemory(r->frames);
        r->frames = grown;
        r->frameCapacity = capacity;
      }
      r->frames[index] = {delay,
                          r->frameWidth == r->width && r->frameHeight == r->height && r->transparent < 0 &&
                              r->disposal != 3,
                          position};
    }
    r->palette = r->globalPalette;
    if (flags & 0x80) {
      if (!ReadPalette(s, r->localPalette, 2 << (flags & 7))) return 0;
      r->palette = r->localPalette;
    }
    if (index == 0 && r->transparent >= 0 && r->disposal == 2) FillCanvas(r, r->palette[r->transparent]);
    if (r->disposal == 3) ForRect(r, 1, 0);
    if (!DecodeImage(r, (flags & 0x40) != 0)) return 0;
    if (index == target) {
      r->transparencyAlpha = r->transparent >= 0 && r->alphaFlag;
      return 1;
    }
    ++index;
    ApplyDisposal(r);
  }
}

void FreeReader(vlGIFReader* r) {
  if (r->stream) CloseFileStream(r->stream);
  FreeMemory(r->frames);
  FreeMemory(r->canvas);
  FreeMemory(r->rescue);
  FreeMemory(r);
}

}  // namespace

vlGIFReader* OpenGIFReader(vlStream* stream, int32_t* width, int32_t* height, int32_t* frameCount, int probe,
                           int singlePicture, int alphaFlag) {
  auto* r = static_cast<vlGIFReader*>(AllocMemory(sizeof(vlGIFReader), 1));
  if (!r) {
    CloseFileStream(stream);
    return nullptr;
  }
  r->stream = stream;
  uint8_t header[13];
  if (ReadFileStream(stream, header, 13) != 13 ||
      (memcmp(header, "GIF87", 5) != 0 && memcmp(header, "GIF89", 5) != 0)) {
    FreeReader(r);
    return nullptr;
  }
  r->width = header[6] | (header[7] << 8);
  r->height = header[8] | (header[9] << 8);
  const int flags = header[10];
  r->background = header[11];
  if (probe) {
    if (width) *width = r->width;
    if (height) *height = r->height;
    FreeReader(r);
    return nullptr;
  }
  r->singlePicture = singlePicture;
  r->alphaFlag = alphaFlag;
  r->frameCapacity = kTableStep;
  r->frames = static_cast<FrameEntry*>(AllocMemory(sizeof(FrameEntry) * kTableStep, 1));
  r->canvas = AllocPixelBuffer(r->width, r->height, 0);
  r->rescue = AllocPixelBuffer(r->width, r->height, 1);
  if (!r->frames || !r->canvas || !r->rescue ||
      ((flags & 0x80) && !ReadPalette(stream, r->globalPalette, 2 << (flags & 7)))) {
    FreeReader(r);
    return nullptr;
  }
  r->palette = r->globalPalette;
  ResetCanvas(r);
  r->firstFrame = SeekFileStream(stream, 0, VL_SEEK_CURRENT);
  if (!DecodeFrames(r, 0, -1) || r->frameCount == 0) {
    FreeReader(r);
    return nullptr;
  }
  r->nextFrame = -1;
  if (width) *width = r->width;
  if (height) *height = r->height;
  if (frameCount) *frameCount = r->frameCount;
  return r;
}

uint32_t* ReadGIFFrame(vlGIFReader* r, int32_t n, int32_t* transparencyAlpha) {
  if (transparencyAlpha) *transparencyAlpha = 0;
  if (n < 0) {
    n = 0;
    r->nextFrame = -1;
  }
  if (n >= r->frameCount) return nullptr;
  if (n != r->nextFrame) {
    int32_t k = n;
    while (k >= 0 && !r->frames[k].keyFrame) --k;
    if (k < 0) {
      ResetCanvas(r);
      k = 0;
    }
    if (SeekFileStream(r->stream, r->frames[k].position, VL_SEEK_BEGIN) < 0) return nullptr;
    if (!DecodeFrames(r, k, n)) {
      r->nextFrame = -1;
      return nullptr;
    }
  } else if (!DecodeFrames(r, n, n)) {
    r->nextFrame = -1;
    return nullptr;
  }
  uint32_t* picture = AllocPixelBuffer(r->width, r->height, 0);
  if (picture) memcpy(picture, r->canvas, static_cast<size_t>(r->width) * r->height * 4);
  ApplyDisposal(r);
  r->nextFrame = n + 1;
  if (transparencyAlpha) *transparencyAlpha = r->transparencyAlpha;
  return picture;
}

int32_t GetGIFFrameDelay(vlGIFReader* r, int32_t n) {
  if (n < 0 || n >= r->frameCount) return 0;
  return static_cast<int32_t>(r->frames[n].delay * 10);
}

void CloseGIFReader(vlGIFReader* r) {
  if (r) FreeReader(r);
}

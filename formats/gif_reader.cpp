// GIF reader: one scan at open builds the frame table (delay, key-frame
// flag, position); frames are then composed on a 32-bit canvas, starting
// from the nearest full-screen opaque frame. LZW codes up to 12 bits, a
// full table without a clear code, interlaced images and frames reaching
// past the screen are handled; any damage fails the call. Fuzz target:
// fuzz_gif.
#include <cstring>

#include "formats/gif.h"
#include "formats/pixel_buffer.h"
#include "runtime/os.h"
#include "runtime/stream.h"

namespace {

constexpr int kMaxCodes = 4096;
constexpr int32_t kTableStep = 4096;

struct FrameEntry {
  uint32_t delay;  // hundredths
  uint32_t keyFrame;
  int64_t position;
};

// What drawing a frame leaves for its disposal and for the caller.
struct FrameState {
  int32_t left, top, frameWidth, frameHeight;
  int32_t disposal, transparent;
  uint32_t palette[256];
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
  // The scan at open draws frame 0 on the way (its data is decoded then
  // anyway): while firstDrawn is set the canvas holds it, undisposed.
  int32_t firstDrawn;
  FrameState first;
  // LZW: each code's string length and the place it was first written.
  uint16_t length[kMaxCodes];
  uint64_t where[kMaxCodes];
  uint8_t* indices;  // one frame's decoded bytes
  uint64_t indexCapacity;
};

namespace {

// Reads the codes of an image from its data sub-blocks, one whole
// sub-block at a time into a buffer.
struct CodeReader {
  explicit CodeReader(vlStream* stream) : s(stream) {}
  vlStream* s;
  uint8_t block[256];
  int blockSize = 0, blockPos = 0;
  uint64_t bits = 0;
  int bitCount = 0;
  bool ended = false;  // a 0 length byte was read

  // -1 when the data ends before the code is complete.
  int Read(int width) {
    while (bitCount < width) {
      if (blockPos == blockSize && !NextBlock()) return -1;
      if (blockSize - blockPos >= 8) {
        // Eight bytes at once; only the whole bytes that fit are taken.
        uint64_t v;
        memcpy(&v, block + blockPos, 8);
        const int take = (64 - bitCount) >> 3;
        bits |= (take == 8 ? v : v & ((uint64_t{1} << (take * 8)) - 1)) << bitCount;
        bitCount += take * 8;
        blockPos += take;
        continue;
      }
      while (bitCount <= 56 && blockPos < blockSize) {
        bits |= uint64_t{block[blockPos++]} << bitCount;
        bitCount += 8;
      }
    }
    const int code = static_cast<int>(bits & ((1u << width) - 1));
    bits >>= width;
    bitCount -= width;
    return code;
  }

  bool NextBlock() {
    const int n = ReadFileStreamByte(s);
    if (n <= 0) {
      ended = n == 0;
      return false;
    }
    if (ReadFileStream(s, block, n) != n) return false;
    blockSize = n;
    blockPos = 0;
    return true;
  }

  // Skips what is left of the image data, terminator included.
  bool SkipRest() {
    if (ended) return true;
    for (;;) {
      const int n = ReadFileStreamByte(s);
      if (n < 0) return false;
      if (n == 0) return true;
      if (SeekFileStream(s, n, VL_SEEK_CURRENT) < 0) return false;
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
    uint32_t* k = r->rescue ? r->rescue + static_cast<size_t>(y) * r->width : nullptr;  // modes 1 and 2 only
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
  } else if (r->disposal == 3 && r->rescue) {
    ForRect(r, 2, 0);
  }
}

// Grows the index buffer to hold at least need bytes (doubling, so damaged
// data that claims a huge frame fails before memory for it is taken).
bool GrowIndices(vlGIFReader* r, uint64_t need) {
  if (need <= r->indexCapacity) return true;
  uint64_t size = r->indexCapacity ? r->indexCapacity * 2 : uint64_t{1} << 20;
  if (size < need) size = need;
  auto* grown = static_cast<uint8_t*>(AllocMemory(size, 0));
  if (!grown) return false;
  if (r->indexCapacity) memcpy(grown, r->indices, r->indexCapacity);
  FreeMemory(r->indices);
  r->indices = grown;
  r->indexCapacity = size;
  return true;
}

// LZW-decodes one image into r->indices (frameWidth x frameHeight bytes,
// rows in the order the file gives them). Every string of the table lies
// in the output already: a new code is the previous string followed by the
// first byte of the current one, which is exactly where the previous code
// was just written, one byte longer. So a code is copied from that place
// and only its length and place are kept. Without draw only the lengths
// are followed: the scan at open checks the data but keeps no pixels.
bool DecodeIndices(vlGIFReader* r, bool draw) {
  vlStream* s = r->stream;
  const int minSize = ReadFileStreamByte(s);
  if (minSize < 1 || minSize > 8) return false;
  const int clear = 1 << minSize, end = clear + 1;
  int width = minSize + 1, next = clear + 2, previous = -1;
  const uint64_t total = uint64_t(r->frameWidth) * r->frameHeight;
  uint64_t done = 0, previousAt = 0;
  // A frame within the screen's size gets its buffer at once; a larger
  // claim grows it as the data comes.
  const uint64_t screen = uint64_t(r->width) * r->height;
  if (draw && !GrowIndices(r, (total < screen ? total : screen) + kMaxCodes + 16)) return false;
  CodeReader in(s);
  for (int c = 0; c < clear; ++c) r->length[c] = 1;
  while (done < total) {
    const int code = in.Read(width);
    if (code < 0 || code == end || code > next) return false;
    if (code == clear) {
      width = minSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (previous >= 0 && code == next && next >= kMaxCodes) return false;
    if (previous < 0 && code >= clear) return false;
    // The string: a root byte, a table entry, or (the next free code) the
    // previous string followed by its own first byte.
    const uint32_t length = code == next ? r->length[previous] + 1u : r->length[code];
    if (draw) {
      // Room for one whole string (and an 8-byte step) past the frame.
      if (done + kMaxCodes + 16 > r->indexCapacity && !GrowIndices(r, done + kMaxCodes + 16)) return false;
      uint8_t* to = r->indices + done;
      if (code < clear) {
        to[0] = static_cast<uint8_t>(code);
      } else {
        const uint8_t* from = r->indices + (code == next ? previousAt : r->where[code]);
        if (to - from >= 8) {
          // Eight bytes a step, short strings too (the buffer has room past
          // the string; what is written beyond it is overwritten by the
          // strings after it, and what is read lies eight bytes or more
          // before the place written).
          for (uint32_t i = 0; i < length; i += 8) memcpy(to + i, from + i, 8);
        } else {
          for (uint32_t i = 0; i < length; ++i) to[i] = from[i];  // overlaps forward
        }
      }
    }
    if (previous >= 0 && next < kMaxCodes) {
      r->length[next] = static_cast<uint16_t>(r->length[previous] + 1);
      r->where[next] = previousAt;
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    previousAt = done;
    done += length;
    previous = code;
  }
  return in.SkipRest();
}

// Draws the decoded indices into the frame rectangle of the canvas: the
// transparent index leaves the pixel, pixels outside the screen drop.
void DrawIndices(vlGIFReader* r, bool interlaced) {
  uint32_t colours[256];
  for (int i = 0; i < 256; ++i) colours[i] = r->palette[i] | 0xFF000000u;
  const int32_t x0 = r->left < 0 ? -r->left : 0;
  const int32_t x1 = r->left + r->frameWidth > r->width ? r->width - r->left : r->frameWidth;
  static constexpr int32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  int32_t row = 0, pass = 0, step = interlaced ? 8 : 1;
  for (int32_t i = 0; i < r->frameHeight; ++i) {
    const int32_t cy = r->top + row;
    if (cy >= 0 && cy < r->height && x0 < x1) {
      const uint8_t* in = r->indices + static_cast<size_t>(i) * r->frameWidth;
      uint32_t* c = r->canvas + static_cast<size_t>(cy) * r->width;
      if (r->transparent < 0) {
        for (int32_t x = x0; x < x1; ++x) c[r->left + x] = colours[in[x]];
      } else {
        const int32_t t = r->transparent;
        for (int32_t x = x0; x < x1; ++x)
          if (in[x] != t) c[r->left + x] = colours[in[x]];
      }
    }
    row += step;
    while (interlaced && row >= r->frameHeight && pass < 3) {
      ++pass;
      row = kStart[pass];
      step = kStep[pass];
    }
  }
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
    // The scan only checks the image data of the later frames; frame 0 it
    // draws, for the first read to take.
    if (building && index > 0) {
      if (!DecodeIndices(r, false)) return 0;
      ++index;
      continue;
    }
    if (index == 0 && r->transparent >= 0 && r->disposal == 2) FillCanvas(r, r->palette[r->transparent]);
    if (r->disposal == 3) {
      if (!r->rescue && !(r->rescue = AllocPixelBuffer(r->width, r->height, 1))) return 0;
      ForRect(r, 1, 0);
    }
    if (!DecodeIndices(r, true)) return 0;
    DrawIndices(r, (flags & 0x40) != 0);
    if (building) {
      FrameState& f = r->first;
      f.left = r->left, f.top = r->top, f.frameWidth = r->frameWidth, f.frameHeight = r->frameHeight;
      f.disposal = r->disposal, f.transparent = r->transparent;
      memcpy(f.palette, r->palette, sizeof f.palette);
      r->firstDrawn = 1;
      ++index;
      continue;
    }
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
  FreeMemory(r->indices);
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
  // The rescue copy is made when a frame first needs it (disposal 3).
  if (!r->frames || !r->canvas ||
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
  const bool drawn = n == 0 && r->firstDrawn && r->canvas;
  // Another frame first: the canvas is as the open left it before.
  if (r->firstDrawn && !drawn && r->canvas) ResetCanvas(r);
  r->firstDrawn = 0;
  if (drawn) {
    // Frame 0 as the scan left it; the next frame is read from its start.
    const FrameState& f = r->first;
    r->left = f.left, r->top = f.top, r->frameWidth = f.frameWidth, r->frameHeight = f.frameHeight;
    r->disposal = f.disposal, r->transparent = f.transparent;
    r->palette = f.palette;
    r->transparencyAlpha = r->transparent >= 0 && r->alphaFlag;
    if (r->frameCount > 1 && SeekFileStream(r->stream, r->frames[1].position, VL_SEEK_BEGIN) < 0) {
      r->nextFrame = -1;
      return nullptr;
    }
  } else {
    if (!r->canvas) {
      // The last frame took the canvas with it: start a new one.
      r->canvas = AllocPixelBuffer(r->width, r->height, 0);
      if (!r->canvas) return nullptr;
      ResetCanvas(r);
      r->nextFrame = -1;
    }
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
  }
  uint32_t* picture;
  if (n == r->frameCount - 1) {
    // No frame follows the last one: the canvas itself is the picture, and
    // any later read starts again from a key frame.
    picture = r->canvas;
    r->canvas = nullptr;
    r->nextFrame = -1;
  } else {
    picture = AllocPixelBuffer(r->width, r->height, 0);
    if (picture) memcpy(picture, r->canvas, static_cast<size_t>(r->width) * r->height * 4);
    ApplyDisposal(r);
    r->nextFrame = n + 1;
  }
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

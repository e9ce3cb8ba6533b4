// Windows BMP reader. Scope: the 14-byte file header and an information
// header of 40 bytes or more (the palette follows it), bottom-up rows of 1,
// 4, 8 (plain or RLE8), 16 (5-5-5, or the masks of a bit-field file), 24
// and 32 bits per pixel (B, G, R and an unused byte, or bit-field masks).
// Top-down files, OS/2 headers, RLE4, embedded JPEG/PNG and other bit
// counts are refused with 1358, as are rows cut short by the end of the
// file. Fuzz target: fuzz_bmp.
#include "formats/bmp_reader.h"

#include <cstring>

#include "formats/pixel_buffer.h"
#include "runtime/os.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kCompressionRGB = 0;
constexpr uint32_t kCompressionRLE8 = 1;
constexpr uint32_t kCompressionBitFields = 3;

struct BmpHeader {
  uint32_t fileSize;
  uint32_t dataOffset;
  uint32_t headerSize;
  int32_t width;
  int32_t height;
  uint32_t bitCount;
  uint32_t compression;
  uint32_t colorsUsed;
};

// One channel of a bit-field pixel: its mask's shift and width.
struct Channel {
  uint32_t mask;
  int shift;
  int bits;
};

Channel MakeChannel(uint32_t mask) {
  Channel c{mask, 0, 0};
  if (!mask) return c;
  while (!((mask >> c.shift) & 1)) ++c.shift;
  while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1)) ++c.bits;
  return c;
}

// The channel's value moved to 8 bits (a 5-bit 31 becomes 248).
uint32_t Expand(uint32_t pixel, const Channel& c) {
  if (!c.bits) return 0;
  const uint32_t v = (pixel & c.mask) >> c.shift;
  return c.bits >= 8 ? v >> (c.bits - 8) : v << (8 - c.bits);
}

// Decodes RLE8 codes into the index buffer (rows top to bottom); bytes is
// the most the data may take. Whatever the codes do not reach stays 0.
void DecodeRLE8(vlStream* s, uint8_t* indices, int32_t width, int32_t height, int64_t bytes) {
  int32_t x = 0, y = 0;  // y counts rows from the bottom of the picture
  int64_t used = 0;
  auto next = [&]() -> int {
    if (used >= bytes) return -1;
    ++used;
    return ReadFileStreamByte(s);
  };
  auto put = [&](int value) {
    if (x < width && y < height) indices[static_cast<size_t>(height - 1 - y) * width + x] = static_cast<uint8_t>(value);
    ++x;
  };
  while (y < height) {
    const int count = next();
    const int value = next();
    if (count < 0 || value < 0) return;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(value);
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      const int dx = next(), dy = next();
      if (dx < 0 || dy < 0) return;
      x += dx;
      y += dy;
    } else {
      for (int i = 0; i < value; ++i) {
        const int v = next();
        if (v < 0) return;
        put(v);
      }
      if (value & 1) next();
    }
  }
}

int DecodeRows(vlStream* s, const BmpHeader& h, uint32_t* pixels, uint8_t* indices, const Channel* masks) {
  const int32_t w = h.width, hgt = h.height;
  const size_t rowBytes = ((static_cast<size_t>(w) * h.bitCount + 31) / 32) * 4;
  auto* row = static_cast<uint8_t*>(AllocMemory(rowBytes, 0));
  if (!row) return ERR_MEM;
  int rc = 0;
  for (int32_t y = hgt - 1; y >= 0 && rc == 0; --y) {
    if (ReadFileStream(s, row, static_cast<int64_t>(rowBytes)) != static_cast<int64_t>(rowBytes)) {
      rc = ERR_LOADPICTURE2;
      break;
    }
    uint8_t* idx = indices ? indices + static_cast<size_t>(y) * w : nullptr;
    uint32_t* out = pixels + static_cast<size_t>(y) * w;
    switch (h.bitCount) {
      case 1:
        for (int32_t x = 0; x < w; ++x) idx[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        break;
      case 4:
        for (int32_t x = 0; x < w; ++x) idx[x] = (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
        break;
      case 8:
        memcpy(idx, row, static_cast<size_t>(w));
        break;
      case 16:
        for (int32_t x = 0; x < w; ++x) {
          const uint32_t v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
          out[x] = (Expand(v, masks[0]) << 16) | (Expand(v, masks[1]) << 8) | Expand(v, masks[2]);
        }
        break;
      case 24:
        for (int32_t x = 0; x < w; ++x)
          out[x] = (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
        break;
      case 32:
        for (int32_t x = 0; x < w; ++x) {
          const uint8_t* p = row + 4 * x;
          const uint32_t v = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
          out[x] = (Expand(v, masks[0]) << 16) | (Expand(v, masks[1]) << 8) | Expand(v, masks[2]);
        }
        break;
    }
  }
  FreeMemory(row);
  return rc;
}

}  // namespace

int ReadBMP(vlStream* s, int probe, int32_t* widthOut, int32_t* heightOut, uint32_t** pixelsOut) {
  uint8_t sig[2];
  if (ReadFileStream(s, sig, 2) != 2) return ERR_READ;
  BmpHeader h{};
  h.fileSize = ReadFileStreamLongLE(s);
  ReadFileStreamLongLE(s);  // reserved
  h.dataOffset = ReadFileStreamLongLE(s);
  h.headerSize = ReadFileStreamLongLE(s);
  h.width = static_cast<int32_t>(ReadFileStreamLongLE(s));
  h.height = static_cast<int32_t>(ReadFileStreamLongLE(s));
  ReadFileStreamWordLE(s);  // planes
  h.bitCount = ReadFileStreamWordLE(s);
  h.compression = ReadFileStreamLongLE(s);
  ReadFileStreamLongLE(s);  // image size
  ReadFileStreamLongLE(s);  // resolutions
  ReadFileStreamLongLE(s);
  h.colorsUsed = ReadFileStreamLongLE(s);
  ReadFileStreamLongLE(s);  // important colours
  if (sig[0] != 'B' || sig[1] != 'M') return ERR_LOADPICTURE2;
  if (probe) {
    *widthOut = h.width;
    *heightOut = h.height;
    return 0;
  }
  // Top-down files and the old 12-byte OS/2 header are not read.
  if (h.height < 1 || h.width < 1 || h.headerSize < 40) return ERR_LOADPICTURE2;
  const bool paletted = h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8;
  const bool rle = h.compression == kCompressionRLE8;
  if (!paletted && h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) return ERR_LOADPICTURE2;
  if (rle ? h.bitCount != 8
          : !(h.compression == kCompressionRGB ||
              (h.compression == kCompressionBitFields && (h.bitCount == 16 || h.bitCount == 32))))
    return ERR_LOADPICTURE2;
  if (!PictureSizeOk(h.width, h.height)) return ERR_MEM;

  uint32_t* pixels = AllocPixelBuffer(h.width, h.height, 1);
  if (!pixels) return ERR_MEM;
  uint8_t* indices = nullptr;
  uint32_t palette[256] = {};
  Channel masks[3] = {};
  if (paletted) {
    indices = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(h.width) * h.height, 1));
    if (!indices) {
      FreeMemory(pixels);
      return ERR_MEM;
    }
    uint32_t count = h.colorsUsed ? h.colorsUsed : (1u << h.bitCount);
    if (count > 256) count = 256;
    // The palette follows the information header, whatever its version.
    SeekFileStream(s, 14 + int64_t{h.headerSize} + (h.headerSize == 40 && h.compression == kCompressionBitFields ? 12 : 0),
                   VL_SEEK_BEGIN);
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t e[4] = {};
      if (ReadFileStream(s, e, 4) != 4) break;
      palette[i] = (uint32_t{e[2]} << 16) | (uint32_t{e[1]} << 8) | e[0];
    }
  } else if (h.compression == kCompressionBitFields) {
    SeekFileStream(s, 54, VL_SEEK_BEGIN);
    for (Channel& c : masks) c = MakeChannel(ReadFileStreamLongLE(s));
  } else if (h.bitCount == 16) {
    masks[0] = MakeChannel(0x7C00);
    masks[1] = MakeChannel(0x03E0);
    masks[2] = MakeChannel(0x001F);
  } else if (h.bitCount == 32) {
    masks[0] = MakeChannel(0xFF0000);
    masks[1] = MakeChannel(0x00FF00);
    masks[2] = MakeChannel(0x0000FF);
  }

  int rc = 0;
  if (SeekFileStream(s, h.dataOffset, VL_SEEK_BEGIN) < 0) {
    rc = ERR_LOADPICTURE2;
  } else if (rle) {
    const int64_t bytes = static_cast<int64_t>(h.fileSize) - h.dataOffset;
    DecodeRLE8(s, indices, h.width, h.height, bytes);
  } else {
    rc = DecodeRows(s, h, pixels, indices, masks);
  }
  if (rc == 0 && indices) {
    const size_t n = static_cast<size_t>(h.width) * h.height;
    for (size_t i = 0; i < n; ++i) pixels[i] = palette[indices[i]];
  }
  FreeMemory(indices);
  if (rc != 0) {
    FreeMemory(pixels);
    return rc;
  }
  *widthOut = h.width;
  *heightOut = h.height;
  *pixelsOut = pixels;
  return 0;
}

// IFF ILBM reader and writer, and the bit-plane helpers shared with the
// ANIM and CDXL readers. Scope: BMHD, CMAP, CAMG (EHB, HAM) and BODY; 1 to 8
// or 24 planes (other counts are refused with 1358); masking 1 rows are
// skipped. Chunks are found by a byte-wise search, so damaged chunk sizes
// do not hide them. Fuzz target: fuzz_ilbm.
#include "formats/ilbm.h"

#include <cstring>

#include "formats/pixel_buffer.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kCamgHalfBrite = 0x80;
constexpr uint32_t kCamgHam = 0x800;

// One pass of the chunk search: 1 found, 0 stopped at "BODY", -1 at the end.
int SearchPass(vlStream* s, const char* id) {
  uint8_t window[4];
  for (int i = 0; i < 4; ++i) {
    int c = ReadFileStreamByte(s);
    if (c < 0) return -1;
    window[i] = static_cast<uint8_t>(c);
  }
  const bool lookingForBody = memcmp(id, "BODY", 4) == 0;
  for (;;) {
    if (memcmp(window, id, 4) == 0) return 1;
    if (!lookingForBody && memcmp(window, "BODY", 4) == 0) return 0;
    int c = ReadFileStreamByte(s);
    if (c < 0) return -1;
    memmove(window, window + 1, 3);
    window[3] = static_cast<uint8_t>(c);
  }
}

// Skips a mask-plane row of a packed body.
int SkipPackedRow(vlStream* s, int32_t rowBytes) {
  int32_t done = 0;
  while (done < rowBytes) {
    int n = ReadFileStreamByte(s);
    if (n < 0) return 0;
    const int8_t control = static_cast<int8_t>(n);
    if (control >= 0) {
      if (SeekFileStream(s, control + 1, VL_SEEK_CURRENT) < 0) return 0;
      done += control + 1;
    } else if (control != -128) {
      if (ReadFileStreamByte(s) < 0) return 0;
      done += 1 - control;
    }
  }
  return 1;
}

uint32_t Halve(uint32_t rgb) { return (rgb >> 1) & 0x7F7F7F; }

void DecodeHam(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height,
               int valueBits) {
  const int shift = valueBits;  // control bits sit above the value bits
  const uint32_t valueMask = (1u << valueBits) - 1;
  const int scale = 8 - valueBits;
  for (int32_t y = 0; y < height; ++y) {
    uint32_t r = 0, g = 0, b = 0;
    const uint8_t* in = chunky + static_cast<size_t>(y) * width;
    uint32_t* o = out + static_cast<size_t>(y) * width;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t v = in[x];
      const uint32_t value = v & valueMask;
      switch ((v >> shift) & 3) {
        case 0: {
          const uint32_t c = palette[value];
          r = (c >> 16) & 0xFF;
          g = (c >> 8) & 0xFF;
          b = c & 0xFF;
          break;
        }
        case 1: b = value << scale; break;
        case 2: r = value << scale; break;
        default: g = value << scale; break;
      }
      o[x] = (r << 16) | (g << 8) | b;
    }
  }
}

struct IlbmHeader {
  int32_t width, height;
  int32_t planes, masking, compression;
  uint32_t transparentIndex;
};

}  // namespace

int FindIFFChunk(vlStream* s, const char* id) {
  for (int pass = 0; pass < 2; ++pass) {
    if (IsFileStreamAtEnd(s)) SeekFileStream(s, 12, VL_SEEK_BEGIN);
    int rc = SearchPass(s, id);
    if (rc == 1) return 1;
    if (rc < 0) SeekFileStream(s, 12, VL_SEEK_BEGIN);
  }
  return 0;
}

int UnpackByteRun1Row(vlStream* s, uint8_t* row, int32_t rowBytes) {
  int32_t x = 0;
  while (x < rowBytes) {
    int n = ReadFileStreamByte(s);
    if (n < 0) return 0;
    const int8_t control = static_cast<int8_t>(n);
    if (control >= 0) {
      for (int i = 0; i <= control; ++i) {
        int c = ReadFileStreamByte(s);
        if (c < 0) return 0;
        if (x < rowBytes) row[x] = static_cast<uint8_t>(c);
        ++x;
      }
    } else if (control != -128) {
      int c = ReadFileStreamByte(s);
      if (c < 0) return 0;
      for (int i = 0; i < 1 - control; ++i, ++x)
        if (x < rowBytes) row[x] = static_cast<uint8_t>(c);
    }
  }
  return 1;
}

size_t PackByteRun1Row(const uint8_t* row, size_t n, uint8_t* out) {
  size_t o = 0, i = 0, literalStart = 0, literal = 0;
  auto flushLiteral = [&]() {
    if (!literal) return;
    out[o++] = static_cast<uint8_t>(literal - 1);
    memcpy(out + o, row + literalStart, literal);
    o += literal;
    literal = 0;
  };
  while (i < n) {
    size_t j = i + 1;
    while (j < n && row[j] == row[i] && j - i < 128) ++j;
    const size_t run = j - i;
    if (run >= 3 || (run == 2 && literal == 0)) {
      flushLiteral();
      out[o++] = static_cast<uint8_t>(1 - static_cast<int>(run));
      out[o++] = row[i];
      i = j;
    } else {
      if (!literal) literalStart = i;
      ++literal;
      ++i;
      if (literal == 128) flushLiteral();
    }
  }
  flushLiteral();
  return o;
}

namespace {

// Walks the rows of a BODY: each plane row goes to its place in the planar
// buffer (plane-major up to 8 planes, file order above), then the mask row
// of masking 1 is passed over. readRow/skipMask return 0 on a short read.
template <class ReadRow, class SkipMask>
int ReadBody(uint8_t* planar, int32_t width, int32_t height, int32_t planes, int32_t masking, ReadRow readRow,
             SkipMask skipMask) {
  const int32_t rowBytes = ILBMRowBytes(width);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t p = 0; p < planes; ++p) {
      uint8_t* row = planes <= 8 ? planar + (static_cast<size_t>(p) * height + y) * rowBytes
                                 : planar + (static_cast<size_t>(y) * planes + p) * rowBytes;
      if (!readRow(row, rowBytes)) return 0;
    }
    if (masking == 1 && !skipMask(rowBytes)) return 0;
  }
  return 1;
}

}  // namespace

int ReadILBMBodyPacked(vlStream* s, uint8_t* planar, uint32_t, int32_t width, int32_t height, int32_t planes,
                       int32_t masking) {
  return ReadBody(
      planar, width, height, planes, masking, [s](uint8_t* row, int32_t n) { return UnpackByteRun1Row(s, row, n); },
      [s](int32_t n) { return SkipPackedRow(s, n); });
}

int ReadILBMBodyPlain(vlStream* s, uint8_t* planar, uint32_t, int32_t width, int32_t height, int32_t planes,
                      int32_t masking) {
  return ReadBody(
      planar, width, height, planes, masking,
      [s](uint8_t* row, int32_t n) { return ReadFileStream(s, row, n) == n ? 1 : 0; },
      [s](int32_t n) { return SeekFileStream(s, n, VL_SEEK_CURRENT) >= 0 ? 1 : 0; });
}

void PlanarToChunky(const uint8_t* planar, int32_t width, int32_t height, int32_t planes, int32_t rowBytes,
                    uint8_t* out, int32_t outStride) {
  if (planes >= 1 && planes <= 8) {
    for (int32_t p = 0; p < planes; ++p) {
      for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = planar + (static_cast<size_t>(p) * height + y) * rowBytes;
        uint8_t* o = out + static_cast<size_t>(y) * outStride;
        const uint8_t bit = static_cast<uint8_t>(1u << p);
        for (int32_t x = 0; x < width; ++x)
          if (row[x >> 3] & (0x80 >> (x & 7))) o[x] |= bit;
      }
    }
  } else if (planes == 24) {
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* o = out + static_cast<size_t>(y) * outStride;
      const uint8_t* rows = planar + static_cast<size_t>(y) * 24 * rowBytes;
      for (int32_t x = 0; x < width; ++x) {
        uint8_t rgb[3] = {0, 0, 0};
        for (int p = 0; p < 24; ++p)
          if (rows[static_cast<size_t>(p) * rowBytes + (x >> 3)] & (0x80 >> (x & 7)))
            rgb[p >> 3] |= static_cast<uint8_t>(1u << (p & 7));
        o[4 * x] = 0;
        o[4 * x + 1] = rgb[0];
        o[4 * x + 2] = rgb[1];
        o[4 * x + 3] = rgb[2];
      }
    }
  }
}

void DecodeHAM6(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height) {
  DecodeHam(chunky, out, palette, width, height, 4);
}

void DecodeHAM8(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height) {
  DecodeHam(chunky, out, palette, width, height, 6);
}

void ChunkyToRGB(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height) {
  const size_t n = static_cast<size_t>(width) * height;
  for (size_t i = 0; i < n; ++i) out[i] = palette[chunky[i]];
}

void ApplyHalfBrite(uint32_t* palette) {
  for (int i = 0; i < 32; ++i) palette[32 + i] = Halve(palette[i]);
}

int ReadILBM(vlStream* s, int probe, uint32_t* paletteOverride, int32_t keyColor, int mode1, int mode2,
             int32_t* transparentOut, int32_t* widthOut, int32_t* heightOut, uint32_t** pixelsOut,
             uint32_t** paletteOut) {
  if (!FindIFFChunk(s, "BMHD")) return ERR_LOADPICTURE2;
  ReadFileStreamLongBE(s);
  IlbmHeader h{};
  h.width = static_cast<int16_t>(ReadFileStreamWordBE(s));
  h.height = static_cast<int16_t>(ReadFileStreamWordBE(s));
  if (probe) {
    *widthOut = h.width;
    *heightOut = h.height;
    return 0;
  }
  ReadFileStreamLongBE(s);  // x, y
  h.planes = ReadFileStreamByte(s);
  h.masking = ReadFileStreamByte(s);
  h.compression = ReadFileStreamByte(s);
  ReadFileStreamByte(s);  // pad
  h.transparentIndex = ReadFileStreamWordBE(s);
  if (h.width < 1 || h.height < 1 || !((h.planes >= 1 && h.planes <= 8) || h.planes == 24))
    return ERR_LOADPICTURE2;

  bool halfBrite = false, ham6 = false, ham8 = false;
  if (h.planes < 24 && FindIFFChunk(s, "CAMG")) {
    ReadFileStreamLongBE(s);
    const uint32_t mode = ReadFileStreamLongBE(s);
    halfBrite = (mode & kCamgHalfBrite) != 0;
    if (mode & kCamgHam) (h.planes < 7 ? ham6 : ham8) = true;
  }

  uint32_t* pixels = AllocPixelBuffer(h.width, h.height, 1);
  if (!pixels) return ERR_MEM;
  if (!FindIFFChunk(s, "BODY")) {
    FreeMemory(pixels);
    return ERR_LOADPICTURE2;
  }
  const uint32_t bodyLength = ReadFileStreamLongBE(s);
  const int32_t rowBytes = ILBMRowBytes(h.width);
  auto* planar = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(rowBytes) * h.height * h.planes, 1));
  auto* chunky = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(h.width) * h.height, 1));
  auto fail = [&](int code) {
    FreeMemory(pixels);
    FreeMemory(planar);
    FreeMemory(chunky);
    return code;
  };
  if (!planar || !chunky) return fail(ERR_MEM);

  int ok;
  if (h.compression == 0) {
    ok = ReadILBMBodyPlain(s, planar, bodyLength, h.width, h.height, h.planes, h.masking);
  } else {
    ok = ReadILBMBodyPacked(s, planar, bodyLength, h.width, h.height, h.planes, h.masking);
  }
  if (!ok) return fail(ERR_LOADPICTURE2);

  int32_t transparent = -1;
  uint32_t* paletteCopy = nullptr;
  if (h.planes == 24) {
    PlanarToChunky(planar, h.width, h.height, 24, rowBytes, reinterpret_cast<uint8_t*>(pixels), h.width * 4);
    const size_t n = static_cast<size_t>(h.width) * h.height;
    for (size_t i = 0; i < n; ++i) {
      const auto* b = reinterpret_cast<const uint8_t*>(pixels + i);
      pixels[i] = (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    }
  } else {
    PlanarToChunky(planar, h.width, h.height, h.planes, rowBytes, chunky, h.width);
    if (!FindIFFChunk(s, "CMAP")) return fail(ERR_LOADPICTURE2);
    const uint32_t count = ReadFileStreamLongBE(s) / 3;
    uint32_t palette[256] = {};
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t rgb[3];
      if (ReadFileStream(s, rgb, 3) != 3) break;
      if (i < 256) palette[i] = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
    }
    if (halfBrite && count > 0) ApplyHalfBrite(palette);
    if (ham6 || ham8) {
      (ham6 ? DecodeHAM6 : DecodeHAM8)(chunky, pixels, palette, h.width, h.height);
    } else {
      if (paletteOverride) {
        int replaced = 0;
        while (replaced < 256 && paletteOverride[replaced] != 0xFFFFFFFFu) ++replaced;
        for (int i = 0; i < replaced; ++i) palette[i] = paletteOverride[i] & 0xFFFFFF;
        for (int i = replaced; i < 256; ++i) paletteOverride[i] = palette[i];
      } else if (keyColor == -1 && !mode1 && !mode2) {
        // unchanged
      } else if (h.planes == 1 && !mode2) {
        if (keyColor != -1) palette[1] = static_cast<uint32_t>(keyColor) & 0xFFFFFF;
        transparent = static_cast<int32_t>(palette[0]);
      } else if ((h.masking == 2 || h.planes == 1) && (mode1 || mode2)) {
        uint32_t key = 0xA8A8A8;
        for (;;) {
          bool used = false;
          for (uint32_t entry : palette) used |= entry == key;
          if (!used) break;
          key += 15;
        }
        if (h.transparentIndex < 256) palette[h.transparentIndex] = key;
        transparent = static_cast<int32_t>(key);
      }
      ChunkyToRGB(chunky, pixels, palette, h.width, h.height);
      if (paletteOut) {
        paletteCopy = static_cast<uint32_t*>(AllocMemory(sizeof palette, 0));
        if (paletteCopy) memcpy(paletteCopy, palette, sizeof palette);
      }
    }
  }
  FreeMemory(planar);
  FreeMemory(chunky);
  *pixelsOut = pixels;
  *widthOut = h.width;
  *heightOut = h.height;
  if (transparentOut) *transparentOut = transparent;
  if (paletteOut) *paletteOut = paletteCopy;
  return 0;
}

int WriteILBM(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height) {
  vlReplacement out;
  if (int status = OpenReplacement(&out, fileName, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) return status;
  vlStream* s = out.stream;
  bool ok = WriteFileStream(s, "FORM", 4) == 4 && WriteFileStreamLongBE(s, 0) && WriteFileStream(s, "ILBMBMHD", 8) == 8 &&
            WriteFileStreamLongBE(s, 20) && WriteFileStreamWordBE(s, width) && WriteFileStreamWordBE(s, height) &&
            WriteFileStreamLongBE(s, 0) && WriteFileStreamByte(s, 24) && WriteFileStreamByte(s, 0) &&
            WriteFileStreamByte(s, 1) && WriteFileStreamByte(s, 0) && WriteFileStreamWordBE(s, 0) &&
            WriteFileStreamByte(s, 1) && WriteFileStreamByte(s, 1) && WriteFileStreamWordBE(s, width) &&
            WriteFileStreamWordBE(s, height) && WriteFileStream(s, "BODY", 4) == 4 && WriteFileStreamLongBE(s, 0);
  if (!ok) return EndReplacement(&out, ERR_WRITE);
  const int32_t rowBytes = ILBMRowBytes(width);
  auto* planar = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(rowBytes) * height * 24, 1));
  auto* packed = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(rowBytes) + rowBytes / 128 + 2, 0));
  if (!planar || !packed) {
    FreeMemory(planar);
    FreeMemory(packed);
    return EndReplacement(&out, ERR_MEM);
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* in = pixels + static_cast<size_t>(y) * width;
    uint8_t* rows = planar + static_cast<size_t>(y) * 24 * rowBytes;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t px = in[x];
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      for (int k = 0; k < 8; ++k) {
        if ((px >> (16 + k)) & 1) rows[static_cast<size_t>(k) * rowBytes + (x >> 3)] |= bit;
        if ((px >> (8 + k)) & 1) rows[static_cast<size_t>(8 + k) * rowBytes + (x >> 3)] |= bit;
        if ((px >> k) & 1) rows[static_cast<size_t>(16 + k) * rowBytes + (x >> 3)] |= bit;
      }
    }
  }
  uint64_t body = 0;
  for (int32_t y = 0; y < height && ok; ++y) {
    for (int p = 0; p < 24 && ok; ++p) {
      const size_t n = PackByteRun1Row(planar + (static_cast<size_t>(y) * 24 + p) * rowBytes, rowBytes, packed);
      ok = WriteFileStream(s, packed, static_cast<int64_t>(n)) == static_cast<int64_t>(n);
      body += n;
    }
  }
  FreeMemory(planar);
  FreeMemory(packed);
  const uint32_t pad = body & 1;
  if (ok && pad) ok = WriteFileStreamByte(s, 0);
  if (ok) ok = SeekFileStream(s, 44, VL_SEEK_BEGIN) >= 0 && WriteFileStreamLongBE(s, static_cast<uint32_t>(body));
  if (ok) ok = SeekFileStream(s, 4, VL_SEEK_BEGIN) >= 0 && WriteFileStreamLongBE(s, static_cast<uint32_t>(40 + body + pad));
  return EndReplacement(&out, ok ? 0 : ERR_WRITE);
}

// Quick measurement of picture files from their first kilobyte (and, for
// JPEG, PNG palettes and TIFF, a short walk of their segments) without
// decoding any pixels. Every index into the header buffer is checked.
#include <cstdint>
#include <cstring>

#include "formats/picture_loader.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr int kHeaderSize = 1024;

uint32_t BE16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t BE32(const uint8_t* p) { return (BE16(p) << 16) | BE16(p + 2); }
uint32_t LE16(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }
uint32_t LE32(const uint8_t* p) { return LE16(p) | (LE16(p + 2) << 16); }

int Find(const uint8_t* buffer, const char* tag) {
  for (int i = 0; i <= kHeaderSize - 9; ++i)
    if (memcmp(buffer + i, tag, 4) == 0) return i;
  return -1;
}

int IdentifyJPEG(vlStream* s, int32_t* width, int32_t* height, int32_t* alpha) {
  SeekFileStream(s, 4, VL_SEEK_BEGIN);
  int length = static_cast<int>(ReadFileStreamWordBE(s));
  if (length < 2 || SeekFileStream(s, length - 2, VL_SEEK_CURRENT) < 0) return ERR_LOADPICTURE2;
  for (;;) {
    int c;
    do {
      c = ReadFileStreamByte(s);
      if (c < 0) return ERR_LOADPICTURE2;
    } while (c != 0xFF);
    do {
      c = ReadFileStreamByte(s);
      if (c < 0) return ERR_LOADPICTURE2;
    } while (c == 0xFF);
    if (c == 0) continue;
    if ((c >= 0xC0 && c <= 0xCE && c != 0xC4 && c != 0xCC) || c == 0xDE) {
      uint8_t f[7];
      if (ReadFileStream(s, f, 7) != 7) return ERR_LOADPICTURE2;
      *height = static_cast<int16_t>(BE16(f + 3));
      *width = static_cast<int16_t>(BE16(f + 5));
      *alpha = 0;
      return 0;
    }
    length = static_cast<int>(ReadFileStreamWordBE(s));
    if (IsFileStreamAtEnd(s) || length < 2) return ERR_LOADPICTURE2;
    if (SeekFileStream(s, length - 2, VL_SEEK_CURRENT) < 0) return ERR_LOADPICTURE2;
  }
}

// Whether a palette PNG has a tRNS chunk before IEND; the walk ends at the
// end of the data.
int PaletteHasTransparency(vlStream* s) {
  SeekFileStream(s, 8, VL_SEEK_BEGIN);
  for (;;) {
    uint8_t head[8];
    if (ReadFileStream(s, head, 8) != 8) return 0;
    if (memcmp(head + 4, "tRNS", 4) == 0) return 1;
    if (memcmp(head + 4, "IEND", 4) == 0) return 0;
    if (SeekFileStream(s, int64_t{BE32(head)} + 4, VL_SEEK_CURRENT) < 0) return 0;
  }
}

int IdentifyTIFF(vlStream* s, bool bigEndian, int32_t* width, int32_t* height, int32_t* alpha) {
  auto u16 = [&]() { return bigEndian ? ReadFileStreamWordBE(s) : ReadFileStreamWordLE(s); };
  auto u32 = [&]() { return bigEndian ? ReadFileStreamLongBE(s) : ReadFileStreamLongLE(s); };
  SeekFileStream(s, 4, VL_SEEK_BEGIN);
  if (SeekFileStream(s, u32(), VL_SEEK_BEGIN) < 0) return ERR_LOADPICTURE2;
  const uint32_t entries = u16();
  if (entries == 0 || IsFileStreamAtEnd(s)) return ERR_LOADPICTURE2;
  bool found = false, rgb = false;
  uint32_t samples = 0;
  for (uint32_t i = 0; i < entries && !IsFileStreamAtEnd(s); ++i) {
    const uint32_t tag = u16();
    SeekFileStream(s, 6, VL_SEEK_CURRENT);
    switch (tag) {
      case 256: *width = static_cast<int16_t>(u16()); found = true; u16(); break;
      case 257: *height = static_cast<int16_t>(u16()); found = true; u16(); break;
      case 262: rgb = u16() == 2; u16(); break;
      case 277: samples = u16(); u16(); break;
      default: u32(); break;
    }
  }
  if (!found) return ERR_LOADPICTURE2;
  *alpha = rgb && samples == 4;
  return 0;
}

int IdentifyGIF(const uint8_t* b, int32_t* width, int32_t* height, int32_t* alpha, int32_t* transparency) {
  *width = static_cast<int32_t>(LE16(b + 6));
  *height = static_cast<int32_t>(LE16(b + 8));
  *alpha = 0;
  int pos = 13;
  if (b[10] & 0x80) {
    pos += 3 * (2 << (b[10] & 7));
    if (pos > 799) return 0;
  }
  while (pos + 1 < kHeaderSize && b[pos] == 0x21) {
    if (b[pos + 1] == 0xF9 && pos + 3 < kHeaderSize && b[pos + 2] > 3) {
      *transparency = b[pos + 3] & 1;
      return 0;
    }
    pos += 2;
    while (pos < kHeaderSize && b[pos] != 0) pos += b[pos] + 1;
    ++pos;
    if (pos > 999) return 0;
  }
  return 0;
}

}  // namespace

int IdentifyImageFormat(vlStream* s, int32_t* width, int32_t* height, int32_t* alpha, int32_t* transparency) {
  uint8_t b[kHeaderSize] = {};
  int64_t got = ReadFileStream(s, b, kHeaderSize);
  if (got < 0) return ERR_LOADPICTURE2;
  if (memcmp(b, "FORM", 4) == 0 && memcmp(b + 8, "ILBM", 4) == 0) {
    int i = -1;
    for (int p = 0; p <= kHeaderSize - 9 && i < 0; ++p)
      if (memcmp(b + p, "BMHD", 4) == 0) i = p;
    if (i < 0 || i + 17 >= kHeaderSize) return ERR_LOADPICTURE2;
    *width = static_cast<int32_t>(BE16(b + i + 8));
    *height = static_cast<int32_t>(BE16(b + i + 10));
    *alpha = 0;
    *transparency = b[i + 17] == 2;
    return 0;
  }
  if (b[0] == 0xFF && b[1] == 0xD8) return IdentifyJPEG(s, width, height, alpha);
  if (b[0] == 0x89 && memcmp(b + 1, "PNG", 3) == 0) {
    const int i = Find(b, "IHDR");
    if (i < 0 || i + 13 >= kHeaderSize) return ERR_LOADPICTURE2;
    *width = static_cast<int32_t>(BE32(b + i + 4));
    *height = static_cast<int32_t>(BE32(b + i + 8));
    const int type = b[i + 13];
    *alpha = type == 4 || type == 6 ? 1 : type == 3 ? PaletteHasTransparency(s) : 0;
    return 0;
  }
  if (b[0] == 'B' && b[1] == 'M') {
    const int64_t w = static_cast<int32_t>(LE32(b + 18)), h = static_cast<int32_t>(LE32(b + 22));
    *width = static_cast<int32_t>(w < 0 ? (-w > INT32_MAX ? INT32_MAX : -w) : w);
    *height = static_cast<int32_t>(h < 0 ? (-h > INT32_MAX ? INT32_MAX : -h) : h);
    *alpha = 0;
    return 0;
  }
  if (memcmp(b, "MM\0*", 4) == 0) return IdentifyTIFF(s, true, width, height, alpha);
  if (memcmp(b, "II*\0", 4) == 0) return IdentifyTIFF(s, false, width, height, alpha);
  if (memcmp(b, "GIF87a", 6) == 0 || memcmp(b, "GIF89a", 6) == 0)
    return IdentifyGIF(b, width, height, alpha, transparency);
  return ERR_LOADPICTURE2;
}

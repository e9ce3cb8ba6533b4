// IFF ANIM reader. Scope: a first ILBM FORM of up to 8 planes (EHB, HAM6,
// HAM8), then delta FORMs with ANHD and DLTA; operations 5 (byte vertical),
// 7 (short/long vertical, separate op and data lists), 8 (short/long
// vertical, inline data), 100 and 101 (element runs at byte offsets, with
// interlaced fields). Deltas alternate between two plane buffers unless the
// interleave says otherwise. Every read of delta data and every write into
// a plane is bounds-checked; damage fails the frame. Fuzz target: fuzz_anim.
#include "formats/iff_anim.h"

#include <cstring>

#include "formats/ilbm.h"
#include "formats/pixel_buffer.h"
#include "runtime/os.h"
#include "runtime/stream.h"

namespace {

constexpr int kDelays = 4096;
constexpr uint32_t kMaxDelta = 64u << 20;

bool Supported(int op) { return op == 5 || op == 7 || op == 8 || op == 100 || op == 101; }

// Bounds-checked reading of a delta's data.
struct Data {
  const uint8_t* p;
  uint32_t size;
  uint32_t pos = 0;
  bool ok = true;
  // Whether n more bytes are there (pos may be any offset from the file).
  bool Has(uint32_t n) const { return pos <= size && size - pos >= n; }
  uint32_t U8() {
    if (!Has(1)) return ok = false, 0;
    return p[pos++];
  }
  uint32_t U16() {
    if (!Has(2)) return ok = false, 0;
    pos += 2;
    return (uint32_t{p[pos - 2]} << 8) | p[pos - 1];
  }
  uint32_t U32() {
    const uint32_t hi = U16();
    return (hi << 16) | U16();
  }
  // Copies n bytes (an element) to dst, or XORs them.
  void Element(uint8_t* dst, int n, bool xorInto) {
    if (!Has(static_cast<uint32_t>(n))) {
      ok = false;
      return;
    }
    for (int i = 0; i < n; ++i) {
      if (!dst) continue;
      if (xorInto) dst[i] ^= p[pos + i];
      else dst[i] = p[pos + i];
    }
    pos += n;
  }
};

}  // namespace

struct vlANIMReader {
  vlStream* stream;
  uint8_t* firstPlanes;
  uint8_t* chunky;
  uint8_t* previousPlanes;
  uint8_t* previousChunky;
  uint8_t* buffers[2];
  uint8_t* lastPlanes;  // the planes of the frame decoded last
  int32_t inUse;
  uint32_t palette[256];
  uint32_t firstPalette[256];
  int32_t frameCount;
  int32_t current;
  int32_t width, height, rowBytes;
  int32_t planes;
  int32_t masking, compression;
  uint32_t transparent;
  int32_t halfBrite, ham6, ham8;
  int64_t firstDelta;
  uint32_t delay[kDelays];
  int32_t fieldOrder, fieldParity, interlaced;
  int32_t deinterlace;
  int32_t loadTransparency;
};

namespace {

size_t PlaneBytes(const vlANIMReader* r) { return static_cast<size_t>(r->rowBytes) * r->height; }
size_t AllPlaneBytes(const vlANIMReader* r) { return PlaneBytes(r) * r->planes; }

void FreeReader(vlANIMReader* r) {
  if (r->stream) CloseFileStream(r->stream);
  FreeMemory(r->firstPlanes);
  FreeMemory(r->chunky);
  FreeMemory(r->previousPlanes);
  FreeMemory(r->previousChunky);
  FreeMemory(r->buffers[0]);
  FreeMemory(r->buffers[1]);
  FreeMemory(r);
}

bool ReadId(vlStream* s, uint8_t* id, uint32_t* size) {
  uint8_t head[8];
  if (ReadFileStream(s, head, 8) != 8) return false;
  memcpy(id, head, 4);
  *size = (uint32_t{head[4]} << 24) | (uint32_t{head[5]} << 16) | (uint32_t{head[6]} << 8) | head[7];
  return true;
}

bool SkipChunk(vlStream* s, uint32_t size) {
  return SeekFileStream(s, int64_t{size} + (size & 1), VL_SEEK_CURRENT) >= 0;
}

// Reads the entries of a CMAP; the caller skips what is left of the chunk.
bool ReadCMAP(vlANIMReader* r, uint32_t size) {
  const uint32_t n = size / 3;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t rgb[3];
    if (ReadFileStream(r->stream, rgb, 3) != 3) return false;
    if (i < 256) r->palette[i] = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
  }
  if (r->halfBrite) ApplyHalfBrite(r->palette);
  return true;
}

void Rewind(vlANIMReader* r) {
  for (uint8_t* b : r->buffers) memcpy(b, r->firstPlanes, AllPlaneBytes(r));
  if (r->previousPlanes) memcpy(r->previousPlanes, r->firstPlanes, AllPlaneBytes(r));
  memcpy(r->palette, r->firstPalette, sizeof r->palette);
  SeekFileStream(r->stream, r->firstDelta, VL_SEEK_BEGIN);
  r->current = 0;
  r->inUse = 0;
  r->lastPlanes = r->firstPlanes;
}

// Writes one element into a plane at a byte offset, dropping writes that
// fall outside it.
void Put(Data& d, uint8_t* plane, size_t planeBytes, size_t offset, int n, bool xorInto) {
  d.Element(offset + n <= planeBytes ? plane + offset : nullptr, n, xorInto);
}

void VerticalOps(Data& ops, Data* data, uint8_t* plane, size_t planeBytes, size_t column, int element,
                 size_t rowStep, int32_t height, bool xorInto, bool longCounts) {
  Data& src = data ? *data : ops;
  const uint32_t count = longCounts ? (element == 4 ? ops.U32() : ops.U16()) : ops.U8();
  int64_t row = 0;
  for (uint32_t i = 0; i < count && ops.ok && src.ok; ++i) {
    uint32_t op = longCounts ? (element == 4 ? ops.U32() : ops.U16()) : ops.U8();
    const uint32_t copyBit = longCounts ? (element == 4 ? 0x80000000u : 0x8000u) : 0x80u;
    if (op & copyBit) {
      op &= copyBit - 1;
      for (uint32_t k = 0; k < op && src.ok; ++k, ++row)
        Put(src, plane, planeBytes, row < height ? row * rowStep + column : planeBytes, element, xorInto);
    } else if (op == 0) {
      const uint32_t n = longCounts ? (element == 4 ? ops.U32() : ops.U16()) : ops.U8();
      // One element repeated; rows past the plane are not visited, and the
      // ops after it go on below the rows it covers.
      const uint32_t start = src.pos;
      for (int64_t k = 0; k < n && row + k < height && src.ok; ++k) {
        src.pos = start;
        Put(src, plane, planeBytes, (row + k) * rowStep + column, element, xorInto);
      }
      row += n;
      src.pos = start;
      src.Element(nullptr, element, false);
    } else {
      row += op;
    }
  }
}

bool ApplyDelta(vlANIMReader* r, const uint8_t* bytes, uint32_t size, int op, uint32_t bits, int interleave,
                uint8_t* target) {
  const size_t planeBytes = PlaneBytes(r);
  const bool interlacedOp = (op == 100 || op == 101) && (bits & 0x40);
  const size_t rowStep = static_cast<size_t>(r->rowBytes) * (interlacedOp ? 2 : 1);
  const bool xorInto = interleave == 1 && op == 5;
  Data header{bytes, size};
  uint32_t offsets[16];
  for (uint32_t& o : offsets) o = header.U32();
  if (!header.ok) return false;
  const int planes = r->planes < 8 ? r->planes : 8;
  for (int p = 0; p < planes; ++p) {
    uint8_t* plane = target + planeBytes * p;
    if (op == 5) {
      if (!offsets[p]) continue;
      Data d{bytes, size, offsets[p]};
      for (int32_t c = 0; c < r->rowBytes && d.ok; ++c)
        VerticalOps(d, nullptr, plane, planeBytes, c, 1, rowStep, r->height, xorInto, false);
      if (!d.ok) return false;
    } else if (op == 7) {
      if (p >= 8 || !offsets[p]) continue;
      const int element = (bits & 1) ? 4 : 2;
      const int32_t columns = r->width / (element * 8);
      Data ops{bytes, size, offsets[p]}, data{bytes, size, offsets[8 + p]};
      for (int32_t c = 0; c < columns && ops.ok && data.ok; ++c)
        VerticalOps(ops, &data, plane, planeBytes, static_cast<size_t>(c) * element, element, rowStep, r->height,
                    false, false);
      if (!ops.ok || !data.ok) return false;
    } else if (op == 8) {
      if (!offsets[p]) continue;
      Data d{bytes, size, offsets[p]};
      const int element = (bits & 1) ? 4 : 2;
      const int32_t columns = r->width / (element * 8);
      for (int32_t c = 0; c < columns && d.ok; ++c)
        VerticalOps(d, nullptr, plane, planeBytes, static_cast<size_t>(c) * element, element, rowStep, r->height,
                    false, true);
      if (element == 4 && (r->width % 32) && d.ok)
        VerticalOps(d, nullptr, plane, planeBytes, static_cast<size_t>(columns) * 4, 2, rowStep, r->height, false,
                    true);
      if (!d.ok) return false;
    } else {
      if (!offsets[p]) continue;
      const int element = op == 100 ? 4 : 2;
      Data d{bytes, size, offsets[p]};
      const uint32_t runs = element == 4 ? d.U32() : d.U16();
      for (uint32_t i = 0; i < runs && d.ok; ++i) {
        const int32_t count = element == 4 ? static_cast<int32_t>(d.U32()) : static_cast<int16_t>(d.U16());
        size_t offset = d.U32() & 0xFFFFFF;
        if (count < 0) {
          for (int64_t k = 0; k < -int64_t{count} && d.ok; ++k, offset += rowStep)
            Put(d, plane, planeBytes, offset, element, false);
        } else {
          const uint32_t start = d.pos;
          for (int32_t k = 0; k < count && offset < planeBytes && d.ok; ++k, offset += rowStep) {
            d.pos = start;
            Put(d, plane, planeBytes, offset, element, false);
          }
          d.pos = start;
          d.Element(nullptr, element, false);
        }
      }
      if (!d.ok) return false;
    }
  }
  return true;
}

// Reads and applies the next delta FORM; the frame it produces gets the
// delay. False on damage.
bool DecodeDelta(vlANIMReader* r, int32_t frame) {
  vlStream* s = r->stream;
  uint8_t id[4], type[4];
  uint32_t formSize;
  if (!ReadId(s, id, &formSize) || memcmp(id, "FORM", 4) != 0 || ReadFileStream(s, type, 4) != 4) return false;
  int op = -1, interleave = 0;
  uint32_t bits = 0;
  uint32_t size;
  for (;;) {
    if (!ReadId(s, id, &size)) return false;
    if (memcmp(id, "DLTA", 4) == 0) break;
    if (memcmp(id, "ANHD", 4) == 0 && size >= 24) {
      uint8_t a[24];
      if (ReadFileStream(s, a, 24) != 24) return false;
      op = a[0];
      const uint32_t rel = (uint32_t{a[14]} << 24) | (uint32_t{a[15]} << 16) | (uint32_t{a[16]} << 8) | a[17];
      if (frame >= 0 && frame < kDelays) r->delay[frame] = rel;
      interleave = a[18];
      bits = (uint32_t{a[20]} << 24) | (uint32_t{a[21]} << 16) | (uint32_t{a[22]} << 8) | a[23];
      if (!SkipChunk(s, size - 24)) return false;
    } else if (memcmp(id, "CMAP", 4) == 0) {
      if (!ReadCMAP(r, size)) return false;
      if (SeekFileStream(s, (size - size / 3 * 3) + (size & 1), VL_SEEK_CURRENT) < 0) return false;
    } else if (!SkipChunk(s, size)) {
      return false;
    }
  }
  if (op < 0 || !Supported(op) || size > kMaxDelta) return false;
  const int64_t left = GetFileStreamSize(s) - SeekFileStream(s, 0, VL_SEEK_CURRENT);
  if (left >= 0 && size > left) return false;
  auto* bytes = static_cast<uint8_t*>(AllocMemory(size ? size : 1, 0));
  if (!bytes) return false;
  if (ReadFileStream(s, bytes, size) != static_cast<int64_t>(size)) {
    FreeMemory(bytes);
    return false;
  }
  if (size & 1) SeekFileStream(s, 1, VL_SEEK_CURRENT);
  uint8_t* target = r->buffers[r->inUse];
  if (interleave == 0) r->inUse ^= 1;
  const bool interlacedOp = (op == 100 || op == 101) && (bits & 0x40);
  uint8_t* before = nullptr;
  if (interlacedOp && r->fieldOrder == 0) {
    before = static_cast<uint8_t*>(AllocMemory(AllPlaneBytes(r), 0));
    if (before) memcpy(before, target, AllPlaneBytes(r));
  } else if (interlacedOp && r->previousPlanes) {
    memcpy(r->previousPlanes, target, AllPlaneBytes(r));
  }
  const bool ok = ApplyDelta(r, bytes, size, op, bits, interleave, target);
  FreeMemory(bytes);
  if (before) {
    for (int p = 0; p < r->planes && r->fieldOrder == 0; ++p)
      for (int32_t y = 0; y < r->height; ++y) {
        const size_t at = PlaneBytes(r) * p + static_cast<size_t>(y) * r->rowBytes;
        if (memcmp(before + at, target + at, r->rowBytes) != 0) {
          r->fieldOrder = (y % 2 == 0) ? 2 : 1;
          break;
        }
      }
    FreeMemory(before);
  }
  r->lastPlanes = target;
  return ok;
}

// The chunks of the first FORM up to its BODY.
bool ReadFirstForm(vlANIMReader* r, int32_t* dpanFrames, int64_t* bodyEnd) {
  vlStream* s = r->stream;
  if (SeekFileStream(s, 24, VL_SEEK_BEGIN) < 0) return false;
  for (;;) {
    uint8_t id[4];
    uint32_t size;
    if (!ReadId(s, id, &size)) return false;
    if (memcmp(id, "BODY", 4) == 0) {
      const int64_t start = SeekFileStream(s, 0, VL_SEEK_CURRENT);
      if (r->width == 0) return false;
      r->rowBytes = ILBMRowBytes(r->width);
      r->firstPlanes = static_cast<uint8_t*>(AllocMemory(AllPlaneBytes(r), 1));
      r->buffers[0] = static_cast<uint8_t*>(AllocMemory(AllPlaneBytes(r), 1));
      r->buffers[1] = static_cast<uint8_t*>(AllocMemory(AllPlaneBytes(r), 1));
      r->chunky = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(r->width) * r->height, 1));
      if (!r->firstPlanes || !r->buffers[0] || !r->buffers[1] || !r->chunky) return false;
      const int ok = r->compression == 0
                         ? ReadILBMBodyPlain(s, r->firstPlanes, size, r->width, r->height, r->planes, r->masking)
                         : ReadILBMBodyPacked(s, r->firstPlanes, size, r->width, r->height, r->planes, r->masking);
      *bodyEnd = start + size + (size & 1);
      return ok != 0;
    }
    uint8_t b[40] = {};
    if (memcmp(id, "BMHD", 4) == 0) {
      if (size < 20 || ReadFileStream(s, b, 20) != 20 || !SkipChunk(s, size - 20)) return false;
      r->width = (b[0] << 8) | b[1];
      r->height = (b[2] << 8) | b[3];
      r->planes = b[8];
      r->masking = b[9];
      r->compression = b[10];
      r->transparent = (uint32_t{b[12]} << 8) | b[13];
      if (r->planes < 1 || r->planes > 8 || !PictureSizeOk(r->width, r->height)) return false;
    } else if (memcmp(id, "ANHD", 4) == 0) {
      if (size < 18 || ReadFileStream(s, b, 18) != 18 || !SkipChunk(s, size - 18)) return false;
      r->delay[0] = (uint32_t{b[14]} << 24) | (uint32_t{b[15]} << 16) | (uint32_t{b[16]} << 8) | b[17];
    } else if (memcmp(id, "CMAP", 4) == 0) {
      if (!ReadCMAP(r, size)) return false;
      if (SeekFileStream(s, (size - size / 3 * 3) + (size & 1), VL_SEEK_CURRENT) < 0) return false;
    } else if (memcmp(id, "DPAN", 4) == 0) {
      if (size < 4 || ReadFileStream(s, b, 4) != 4 || !SkipChunk(s, size - 4)) return false;
      *dpanFrames = (b[2] << 8) | b[3];
    } else if (memcmp(id, "CAMG", 4) == 0) {
      if (size < 4 || ReadFileStream(s, b, 4) != 4 || !SkipChunk(s, size - 4)) return false;
      const uint32_t mode = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
      r->halfBrite = (mode & 0x80) != 0;
      if (mode & 0x800) (r->planes < 7 ? r->ham6 : r->ham8) = 1;
      if (r->halfBrite) ApplyHalfBrite(r->palette);
    } else if (!SkipChunk(s, size)) {
      return false;
    }
  }
}

bool IsFormAt(vlStream* s, int64_t position) {
  uint8_t id[4];
  return SeekFileStream(s, position, VL_SEEK_BEGIN) >= 0 && ReadFileStream(s, id, 4) == 4 &&
         memcmp(id, "FORM", 4) == 0;
}

}  // namespace

vlANIMReader* OpenANIMReader(vlStream* stream, int32_t deinterlace, int32_t* width, int32_t* height,
                             int32_t* frameCount, int32_t loadTransparency) {
  auto* r = static_cast<vlANIMReader*>(AllocMemory(sizeof(vlANIMReader), 1));
  if (!r) {
    CloseFileStream(stream);
    return nullptr;
  }
  r->stream = stream;
  r->deinterlace = deinterlace;
  r->loadTransparency = loadTransparency;
  const int64_t streamSize = GetFileStreamSize(stream);
  int32_t dpanFrames = -1;
  int64_t bodyEnd = 0;
  uint8_t head[12];
  if (ReadFileStream(stream, head, 12) != 12 || memcmp(head, "FORM", 4) != 0 || memcmp(head + 8, "ANIM", 4) != 0 ||
      !ReadFirstForm(r, &dpanFrames, &bodyEnd)) {
    FreeReader(r);
    return nullptr;
  }
  memcpy(r->firstPalette, r->palette, sizeof r->palette);

  // The first delta follows the first FORM; a wrong FORM size is tolerated
  // when a FORM stands right after the BODY.
  uint8_t sizeBytes[4] = {};
  SeekFileStream(stream, 16, VL_SEEK_BEGIN);
  ReadFileStream(stream, sizeBytes, 4);
  const uint32_t firstSize = (uint32_t{sizeBytes[0]} << 24) | (uint32_t{sizeBytes[1]} << 16) |
                             (uint32_t{sizeBytes[2]} << 8) | sizeBytes[3];
  r->firstDelta = 20 + int64_t{firstSize} + (firstSize & 1);
  if (streamSize < 0 || streamSize == r->firstDelta || !IsFormAt(stream, r->firstDelta)) {
    r->firstDelta = bodyEnd;
    if (!IsFormAt(stream, r->firstDelta)) {
      FreeReader(r);
      return nullptr;
    }
  }

  if (dpanFrames > 0) {
    r->frameCount = dpanFrames;
  } else {
    int64_t at = r->firstDelta;
    int32_t forms = 0;
    uint8_t id[4];
    uint32_t size;
    int64_t third = -1;
    while (SeekFileStream(stream, at, VL_SEEK_BEGIN) >= 0 && ReadId(stream, id, &size) && memcmp(id, "FORM", 4) == 0) {
      if (++forms == 2) third = at;
      at += 8 + int64_t{size} + (size & 1);
    }
    r->frameCount = forms + 1;
    if (third >= 0) {
      uint8_t first[13];
      if (SeekFileStream(stream, third + 12, VL_SEEK_BEGIN) >= 0 && ReadFileStream(stream, first, 9) == 9 &&
          memcmp(first, "ANHD", 4) == 0 && (first[8] == 100 || first[8] == 101))
        r->frameCount -= 2;
    }
    if (r->frameCount < 1) r->frameCount = 1;
  }

  // The first delta must be one we can apply; an interlaced one decides the
  // field order from the frames it changes.
  SeekFileStream(stream, r->firstDelta + 12, VL_SEEK_BEGIN);
  bool ok = false;
  for (;;) {
    uint8_t id[4];
    uint32_t size;
    if (!ReadId(stream, id, &size) || memcmp(id, "DLTA", 4) == 0) break;
    if (memcmp(id, "ANHD", 4) == 0) {
      uint8_t a[24];
      if (size < 24 || ReadFileStream(stream, a, 24) != 24) break;
      ok = Supported(a[0]);
      const uint32_t bits = (uint32_t{a[20]} << 24) | (uint32_t{a[21]} << 16) | (uint32_t{a[22]} << 8) | a[23];
      r->interlaced = ok && (a[0] == 100 || a[0] == 101) && (bits & 0x40);
      break;
    }
    if (!SkipChunk(stream, size)) break;
  }
  if (ok && r->interlaced) {
    Rewind(r);
    int32_t decoded = 0;
    while (r->fieldOrder == 0 && decoded + 1 < r->frameCount && DecodeDelta(r, decoded + 1)) ++decoded;
    r->fieldParity = decoded % 2;
    if (r->fieldOrder == 1) r->fieldParity ^= 1;
    if (deinterlace == DEINTERLACE_DEFAULT) {
      r->previousChunky = static_cast<uint8_t*>(AllocMemory(static_cast<size_t>(r->width) * r->height, 1));
      r->previousPlanes = static_cast<uint8_t*>(AllocMemory(AllPlaneBytes(r), 1));
      ok = r->previousChunky && r->previousPlanes;
    }
  }
  if (!ok) {
    FreeReader(r);
    return nullptr;
  }
  Rewind(r);
  *width = r->width;
  *height = r->height;
  *frameCount = r->frameCount;
  return r;
}

uint32_t* DecodeANIMFrame(vlANIMReader* r, int32_t index, int32_t* hasTransparency) {
  if (hasTransparency) *hasTransparency = 0;
  if (index < 0 || index >= r->frameCount) return nullptr;
  if (index < r->current) Rewind(r);
  if (index == 0) {
    r->lastPlanes = r->firstPlanes;
    memcpy(r->palette, r->firstPalette, sizeof r->palette);
  }
  for (int32_t f = r->current > 0 ? r->current : 1; f <= index; ++f) {
    if (!DecodeDelta(r, f)) {
      Rewind(r);
      return nullptr;
    }
  }
  r->current = index + 1;
  const size_t n = static_cast<size_t>(r->width) * r->height;
  uint32_t* out = AllocPixelBuffer(r->width, r->height, 0);
  if (!out) return nullptr;
  memset(r->chunky, 0, n);
  PlanarToChunky(r->lastPlanes, r->width, r->height, r->planes, r->rowBytes, r->chunky, r->width);
  if (r->interlaced && r->fieldOrder) {
    if (r->deinterlace == DEINTERLACE_DEFAULT && r->previousChunky) {
      memset(r->previousChunky, 0, n);
      PlanarToChunky(r->previousPlanes, r->width, r->height, r->planes, r->rowBytes, r->previousChunky, r->width);
    }
    const int32_t replaceOdd = (index % 2) == r->fieldParity;
    for (int32_t y = replaceOdd ? 1 : 0; y < r->height; y += 2) {
      uint8_t* row = r->chunky + static_cast<size_t>(y) * r->width;
      if (r->deinterlace == DEINTERLACE_DEFAULT && r->previousChunky) {
        memcpy(row, r->previousChunky + static_cast<size_t>(y) * r->width, r->width);
      } else if (y % 2 == 0) {
        if (y + 1 < r->height) memcpy(row, row + r->width, r->width);
      } else {
        memcpy(row, row - r->width, r->width);
      }
    }
  }
  if (r->ham6) DecodeHAM6(r->chunky, out, r->palette, r->width, r->height);
  else if (r->ham8) DecodeHAM8(r->chunky, out, r->palette, r->width, r->height);
  else ChunkyToRGB(r->chunky, out, r->palette, r->width, r->height);
  if (r->loadTransparency && r->masking == 2) {
    const bool ham = r->ham6 || r->ham8;
    const uint32_t key = r->transparent * 4096 + r->transparent;
    for (size_t i = 0; i < n; ++i) {
      const bool clear = ham ? (out[i] & 0xFFFFFF) == key : r->chunky[i] == r->transparent;
      out[i] = (out[i] & 0xFFFFFF) | (clear ? 0 : 0xFF000000u);
    }
    if (hasTransparency) *hasTransparency = 1;
  }
  if (index == r->frameCount - 1) Rewind(r);
  return out;
}

int32_t GetANIMFrameDelay(vlANIMReader* r, int32_t index) {
  if (index < 0 || index >= kDelays) return 0;
  return static_cast<int32_t>(uint64_t{r->delay[index]} * 1000 / 60);
}

void CloseANIMReader(vlANIMReader* r) {
  if (r) FreeReader(r);
}

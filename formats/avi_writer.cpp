// AVI writer: MJPEG frames with a silent 16-bit stereo track, OpenDML
// indexes (a super index per stream pointing at "ix00"/"ix01" standard
// indexes of up to 2044 entries placed in the "movi" list), "AVIX"
// segments once the first RIFF passes 1,000,000,000 bytes, and an "idx1"
// index of the first segment collected in a temporary file.
#include <cerrno>
#include <cstring>
#include <new>

#include "formats/avi.h"
#include "formats/jpeg_codec.h"
#include "formats/pixel_buffer.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr uint64_t kFirstSegmentLimit = 1000000000;
constexpr uint64_t kSegmentLimit = 2000000000;
constexpr uint32_t kIndexChunkData = 16376;
constexpr uint32_t kKeyFrame = 16;
constexpr char kSoftware[] = "Vellamora by Zephlin Brokwend";

// The 144-character comment (with its zero byte 145).
constexpr char kComment[] =
    "Made with the Vellamora player: motion JPEG video with a silent sound track, OpenDML indexes for lar"
    "ge files.                                   ";
static_assert(sizeof kComment == 145);

struct Out {
  vlStream* s;
  bool ok = true;
  void Id(const char* id) { ok = ok && WriteFileStream(s, id, 4) == 4; }
  void U32(uint32_t v) { ok = ok && WriteFileStreamLongLE(s, v); }
  void U16(uint32_t v) { ok = ok && WriteFileStreamWordLE(s, v); }
  void U8(uint32_t v) { ok = ok && WriteFileStreamByte(s, static_cast<int>(v & 0xFF)); }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Bytes(const void* data, int64_t n) { ok = ok && (n == 0 || WriteFileStream(s, data, n) == n); }
  void Zeros(int64_t n) {
    static const uint8_t zero[4096] = {};
    while (n > 0) {
      const int64_t k = n < 4096 ? n : 4096;
      Bytes(zero, k);
      n -= k;
    }
  }
  void Seek(uint64_t position) { ok = ok && SeekFileStream(s, static_cast<int64_t>(position), VL_SEEK_BEGIN) >= 0; }
  uint64_t Tell() { return static_cast<uint64_t>(SeekFileStream(s, 0, VL_SEEK_CURRENT)); }
  void End() { ok = ok && SeekFileStream(s, 0, VL_SEEK_END) >= 0; }
};

uint32_t TitleLength(const vlAVIWriter* w) { return static_cast<uint32_t>(strlen(w->title)) + 1; }
uint32_t PaddedTitle(const vlAVIWriter* w) { return (TitleLength(w) + 1) & ~1u; }

void WriteSuperIndex(Out& o, const char* id, const vlAVISuperEntry* entries, uint32_t used) {
  o.Id("indx");
  o.U32(kIndexChunkData);
  o.U16(4);
  o.U8(0);
  o.U8(0);
  o.U32(used);
  o.Id(id);
  o.U32(0);
  o.U32(0);
  o.U32(0);
  for (int i = 0; i < kAVISuperEntries; ++i) {
    o.U64(entries[i].offset);
    o.U32(entries[i].size);
    o.U32(entries[i].duration);
  }
}

void WriteStdIndex(Out& o, const char* chunk, const char* id, uint64_t base, const vlAVIStdIndexEntry* entries,
                   uint32_t used) {
  o.Id(chunk);
  o.U32(kIndexChunkData);
  o.U16(2);
  o.U8(0);
  o.U8(1);
  o.U32(used);
  o.Id(id);
  o.U64(base);
  o.U32(0);
  for (int i = 0; i < kAVIIndexEntries; ++i) {
    o.U32(i < static_cast<int>(used) ? entries[i].offset : 0);
    o.U32(i < static_cast<int>(used) ? entries[i].size : 0);
  }
}

void WriteHeaderList(vlAVIWriter* w, Out& o) {
  const uint32_t n = PaddedTitle(w) + 30;
  o.Id("LIST");
  o.U32(33266 + n);
  o.Id("hdrl");
  o.Id("avih");
  o.U32(56);
  o.U32(w->usPerFrame);
  const uint64_t rate = w->totalFrames ? (w->videoBytes / w->totalFrames) * 1000000 / w->usPerFrame : 0;
  o.U32(static_cast<uint32_t>(rate));
  o.U32(0);
  o.U32(kKeyFrame);
  o.U32(w->totalFrames);
  o.U32(0);
  o.U32(2);
  o.U32(0);
  o.U32(w->width);
  o.U32(w->height);
  o.Zeros(16);

  o.Id("LIST");
  o.U32(16476);
  o.Id("strl");
  o.Id("strh");
  o.U32(56);
  o.Id("auds");
  o.U32(0);
  o.U32(0);
  o.U16(0);
  o.U16(0);
  o.U32(0);
  o.U32(4);
  o.U32(4 * w->sampleRate);
  o.U32(0);
  o.U32(static_cast<uint32_t>(w->audioSamples));
  o.U32(4 * w->samplesPerFrame);
  o.U32(0xFFFFFFFFu);
  o.U32(4);
  o.Zeros(8);
  o.Id("strf");
  o.U32(16);
  o.U16(1);
  o.U16(2);
  o.U32(w->sampleRate);
  o.U32(4 * w->sampleRate);
  o.U16(4);
  o.U16(16);
  WriteSuperIndex(o, "00wb", w->audioSuper, w->superEntries);

  o.Id("LIST");
  o.U32(16500);
  o.Id("strl");
  o.Id("strh");
  o.U32(56);
  o.Id("vids");
  o.Id("MJPG");
  o.U32(0);
  o.U16(0);
  o.U16(0);
  o.U32(0);
  o.U32(w->usPerFrame);
  o.U32(1000000);
  o.U32(0);
  o.U32(w->totalFrames);
  o.U32(w->largestJPEG);
  o.U32(0);
  o.U32(0);
  o.U16(0);
  o.U16(0);
  o.U16(w->width);
  o.U16(w->height);
  o.Id("strf");
  o.U32(40);
  o.U32(40);
  o.U32(w->width);
  o.U32(w->height);
  o.U16(1);
  o.U16(24);
  o.Id("MJPG");
  o.U32(static_cast<uint32_t>(w->width) * w->height * 3);
  o.Zeros(16);
  WriteSuperIndex(o, "01dc", w->videoSuper, w->superEntries);

  o.Id("LIST");
  o.U32(16);
  o.Id("odml");
  o.Id("dmlh");
  o.U32(4);
  o.U32(w->totalFrames);

  o.Id("LIST");
  o.U32(174 + n);
  o.Id("INFO");
  o.Id("INAM");
  o.U32(TitleLength(w));
  o.Bytes(w->title, TitleLength(w));
  if (TitleLength(w) & 1) o.U8(0);
  o.Id("ISFT");
  o.U32(30);
  o.Bytes(kSoftware, 30);
  o.Id("ICMT");
  o.U32(145);
  o.Bytes(kComment, 144);
  o.U8(0);
  o.U8(0);
}

// Rewrites the current standard indexes with their entries and closes
// their super-index entries.
void FinishIndexes(vlAVIWriter* w, Out& o) {
  if (!w->indexesOpen) return;
  const uint32_t k = w->superEntries - 1;
  const uint64_t end = o.Tell();
  o.Seek(w->audioSuper[k].offset);
  WriteStdIndex(o, "ix00", "00wb", w->segmentStart, w->audioIndex, w->indexEntries);
  WriteStdIndex(o, "ix01", "01dc", w->segmentStart, w->videoIndex, w->indexEntries);
  o.Seek(end);
  w->videoSuper[k].duration = w->indexEntries;
  w->audioSuper[k].duration = w->indexEntries * w->samplesPerFrame;
  w->indexesOpen = 0;
}

void StartIndexes(vlAVIWriter* w, Out& o) {
  FinishIndexes(w, o);
  if (w->superEntries >= kAVISuperEntries) return;  // frames past this stay unindexed
  const uint64_t at = o.Tell();
  const uint32_t k = w->superEntries++;
  w->audioSuper[k] = {at, 16384, w->totalFrames * w->samplesPerFrame};
  w->videoSuper[k] = {at + 16384, 16384, w->totalFrames};
  w->indexEntries = 0;
  WriteStdIndex(o, "ix00", "00wb", w->segmentStart, w->audioIndex, 0);
  WriteStdIndex(o, "ix01", "01dc", w->segmentStart, w->videoIndex, 0);
  w->indexesOpen = 1;
  ++w->segmentIndexPairs;
}

void WriteIdx1(vlAVIWriter* w, Out& o) {
  Out idx{w->indexStream};
  idx.Seek(4);
  idx.U32(w->totalFrames * 32);
  o.ok = o.ok && idx.ok && FlushFileStream(w->indexStream);
  CloseFileStream(w->indexStream);
  w->indexStream = OpenFileStream(w->tempName, VL_MODE_READ, nullptr);
  if (!w->indexStream) {
    o.ok = false;
    return;
  }
  uint8_t block[16384];
  int64_t n;
  while ((n = ReadFileStream(w->indexStream, block, sizeof block)) > 0) o.Bytes(block, n);
}

void FinishSegment(vlAVIWriter* w, Out& o) {
  const uint64_t end = o.Tell();
  o.Seek(w->segmentStart + 4);
  o.U32(static_cast<uint32_t>(end - w->segmentStart - 8));
  o.Seek(w->moviPosition + 4);
  o.U32(static_cast<uint32_t>(w->segmentVideoBytes + 16ull * w->segmentFrames + 4 +
                              32768ull * w->segmentIndexPairs + 4 * w->segmentAudioSamples));
  o.Seek(end);
  w->segmentFrames = 0;
  w->segmentVideoBytes = 0;
  w->segmentAudioSamples = 0;
  w->segmentIndexPairs = 0;
}

void FreeWriter(vlAVIWriter* w) {
  if (w->output) EndReplacement(w->output, ERR_WRITE);  // not finished: dropped
  delete w->output;
  if (w->indexStream) CloseFileStream(w->indexStream);
  if (w->tempName[0]) RemovePath(w->tempName);
  FreeEncodedJPEG(w->lastJPEG);
  FreeMemory(w->audio);
  FreeMemory(w->title);
  FreeMemory(w->fileName);
  FreeMemory(w);
}

char* CopyText(const char* text) {
  const size_t n = strlen(text ? text : "") + 1;
  auto* copy = static_cast<char*>(AllocMemory(n, 0));
  if (copy) memcpy(copy, text ? text : "", n);
  return copy;
}

// Encodes the picture at the writer's size; the caller releases the result.
int EncodePicture(vlAVIWriter* w, vlBitmap* picture, int32_t width, int32_t height, vlJPEGEncodeParams* p) {
  uint32_t* argb = nullptr;
  uint32_t* scaled = nullptr;
  vlPixelAccess acc;
  bool locked = false;
  memset(p, 0, sizeof *p);
  p->width = static_cast<uint32_t>(w->width);
  p->height = static_cast<uint32_t>(w->height);
  p->quality = w->quality;
  if (width != w->width || height != w->height) {
    argb = ReadBitmapARGB(picture, 0, 0, width, height, 0);
    scaled = argb ? ScaleARGBPixels(argb, width, height, w->width, w->height, w->smooth) : nullptr;
    if (!scaled) {
      delete[] argb;
      return ERR_MEM;
    }
    p->pixels = scaled;
    p->rowStride = static_cast<uint32_t>(w->width) * 4;
  } else {
    if (!LockPixels(picture, VL_LOCK_READ, &acc)) return ERR_LOCKBMAP;
    locked = true;
    if (acc.format == VL_PIXFMT_ARGB32 || acc.format == VL_PIXFMT_BGRA32) {
      p->pixels = acc.pixels;
      p->rowStride = static_cast<uint32_t>(acc.rowLength) * 4;
      p->byteOrder = acc.format == VL_PIXFMT_BGRA32;
    } else {
      UnlockPixels(picture, &acc);
      locked = false;
      argb = ReadBitmapARGB(picture, 0, 0, width, height, 0);
      if (!argb) return ERR_MEM;
      p->pixels = argb;
      p->rowStride = static_cast<uint32_t>(width) * 4;
    }
  }
  EncodeJPEG(p);
  if (locked) UnlockPixels(picture, &acc);
  delete[] argb;
  FreeMemory(scaled);
  return p->error;
}

}  // namespace

int OpenAVIWriter(const char* fileName, int32_t fps, uint32_t flags, int32_t width, int32_t height, int32_t quality,
                  int32_t smooth, int32_t, const char* title, const char*, vlAVIWriter** writerOut) {
  *writerOut = nullptr;
  if (fps < 1 || width < 1 || height < 1 || width > 65535 || height > 65535) return ERR_WRONGUSAGE;
  auto* w = static_cast<vlAVIWriter*>(AllocMemory(sizeof(vlAVIWriter), 1));
  if (!w) return ERR_MEM;
  w->fps = fps;
  w->flags = flags;
  w->width = width;
  w->height = height;
  w->quality = quality;
  w->smooth = smooth;
  w->usPerFrame = 1000000 / static_cast<uint32_t>(fps);
  if (w->usPerFrame == 0) w->usPerFrame = 1;
  uint32_t rate = 1000000 / w->usPerFrame;
  if (rate > 44100) rate = 44100;
  w->sampleRate = 44100 % rate == 0 ? 44100 : (44100 / rate) * rate;
  w->samplesPerFrame = w->sampleRate / rate;
  w->audio = static_cast<uint8_t*>(AllocMemory(4 * w->samplesPerFrame, 1));
  w->title = CopyText(title);
  w->fileName = CopyText(fileName);
  if (!w->audio || !w->title || !w->fileName) {
    FreeWriter(w);
    return ERR_MEM;
  }
  if (!MakeTempFileName(w->tempName, sizeof w->tempName)) {
    const int error = errno;
    FreeWriter(w);
    return TempFileNameError(error);
  }
  w->output = new (std::nothrow) vlReplacement;
  if (!w->output) {
    FreeWriter(w);
    return ERR_MEM;
  }
  if (int status = OpenReplacement(w->output, fileName, VL_MODE_WRITE, nullptr)) {
    FreeWriter(w);
    return status;
  }
  w->stream = w->output->stream;
  w->indexStream = OpenFileStream(w->tempName, VL_MODE_WRITE, nullptr);
  if (!w->indexStream) {
    SetErrorArgument(w->tempName);
    FreeWriter(w);
    return ERR_WRITEFILE;
  }
  w->firstSegment = 1;
  w->segmentLimit = kFirstSegmentLimit;
  Out o{w->stream};
  o.Id("RIFF");
  o.U32(0);
  o.Id("AVI ");
  WriteHeaderList(w, o);
  w->moviPosition = o.Tell();
  o.Id("LIST");
  o.U32(0);
  o.Id("movi");
  Out idx{w->indexStream};
  idx.Id("idx1");
  idx.U32(0);
  if (!o.ok || !idx.ok) {
    FreeWriter(w);
    return ERR_WRITE;  // opened, but the disk takes no header
  }
  *writerOut = w;
  return 0;
}

int WriteAVIFrame(vlAVIWriter* w, vlBitmap* picture, int32_t width, int32_t height, int32_t, int32_t) {
  Out o{w->stream};
  if (o.Tell() - w->segmentStart > w->segmentLimit) {
    if (w->firstSegment) {
      WriteIdx1(w, o);
      w->firstSegment = 0;
    }
    FinishIndexes(w, o);
    FinishSegment(w, o);
    w->segmentStart = o.Tell();
    w->segmentLimit = kSegmentLimit;
    o.Id("RIFF");
    o.U32(0);
    o.Id("AVIX");
    w->moviPosition = o.Tell();
    o.Id("LIST");
    o.U32(0);
    o.Id("movi");
  }
  if (w->indexEntries >= kAVIIndexEntries || w->segmentFrames == 0 || !w->indexesOpen) StartIndexes(w, o);

  vlJPEGEncodeParams p;
  const int rc = EncodePicture(w, picture, width, height, &p);
  if (rc != 0) {
    FreeEncodedJPEG(p.result);
    return rc;
  }
  if (p.length >= 10) memcpy(p.data + 6, "AVI1", 4);
  FreeEncodedJPEG(w->lastJPEG);
  w->lastJPEG = p.result;

  const uint32_t audioBytes = 4 * w->samplesPerFrame;
  const uint64_t audioAt = o.Tell();
  o.Id("00wb");
  o.U32(audioBytes);
  o.Bytes(w->audio, audioBytes);
  const uint64_t videoAt = o.Tell();
  o.Id("01dc");
  o.U32(p.length);
  o.Bytes(p.data, p.length);
  const uint32_t pad = p.length & 1;
  if (pad) o.U8(0);
  if (w->indexesOpen && w->indexEntries < kAVIIndexEntries) {
    w->audioIndex[w->indexEntries] = {static_cast<uint32_t>(audioAt + 8 - w->segmentStart), audioBytes};
    w->videoIndex[w->indexEntries] = {static_cast<uint32_t>(videoAt + 8 - w->segmentStart), p.length};
    ++w->indexEntries;
  }
  if (p.length + pad > w->largestJPEG) w->largestJPEG = p.length + pad;
  w->videoBytes += p.length + pad;
  w->segmentVideoBytes += p.length + pad;
  if (w->firstSegment) {
    Out idx{w->indexStream};
    idx.Id("00wb");
    idx.U32(kKeyFrame);
    idx.U32(static_cast<uint32_t>(audioAt));
    idx.U32(audioBytes);
    idx.Id("01dc");
    idx.U32(kKeyFrame);
    idx.U32(static_cast<uint32_t>(videoAt));
    idx.U32(p.length);
    o.ok = o.ok && idx.ok;
  }
  ++w->totalFrames;
  ++w->segmentFrames;
  w->audioSamples += w->samplesPerFrame;
  w->segmentAudioSamples += w->samplesPerFrame;
  return o.ok ? 0 : ERR_WRITE;
}

int CloseAVIWriter(vlAVIWriter* w, int status) {
  if (!w) return status;
  if (!status) {
    Out o{w->stream};
    FinishIndexes(w, o);
    o.End();
    if (w->firstSegment) WriteIdx1(w, o);
    FinishSegment(w, o);
    o.Seek(12);
    WriteHeaderList(w, o);
    status = o.ok ? 0 : ERR_WRITE;
  }
  status = EndReplacement(w->output, status);
  delete w->output;
  w->output = nullptr;
  FreeWriter(w);
  return status;
}

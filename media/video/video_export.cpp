// DumpVideo's engine and the picture files it writes. The WAV header is
// written first with zero sizes and completed only at a normal end, so an
// export a script aborts leaves an incomplete header behind; a WAV file
// that cannot be written (a full disk) is removed and the export fails.
#include "media/video/video_export.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "formats/gif.h"
#include "formats/ilbm.h"
#include "formats/jpeg_codec.h"
#include "formats/png_codec.h"
#include "graphics/bitmap.h"
#include "graphics/quantize.h"
#include "media/video/video_player.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/paths.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kAudioCapacity = 262144;

int WriteBMP(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t dataSize = rowBytes * static_cast<uint32_t>(height);
  vlStream* s = OpenFileStream(fileName, VL_MODE_WRITE, nullptr);
  if (!s) {
    SetErrorArgument(fileName);
    return ERR_WRITEFILE;
  }
  uint8_t head[54] = {'B', 'M'};
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) head[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(2, 54 + dataSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  head[26] = 1;
  head[28] = 24;
  put32(34, dataSize);
  bool ok = WriteFileStream(s, head, 54) == 54;
  std::vector<uint8_t> row(rowBytes, 0);
  for (int32_t y = height - 1; ok && y >= 0; --y) {
    const uint32_t* src = pixels + size_t(y) * rowLength;
    for (int32_t x = 0; x < width; ++x) {
      row[size_t(x) * 3] = static_cast<uint8_t>(src[x]);
      row[size_t(x) * 3 + 1] = static_cast<uint8_t>(src[x] >> 8);
      row[size_t(x) * 3 + 2] = static_cast<uint8_t>(src[x] >> 16);
    }
    ok = WriteFileStream(s, row.data(), rowBytes) == rowBytes;
  }
  CloseFileStream(s);
  return ok ? 0 : ERR_WRITEFILE;
}

int WriteJPEG(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength,
              int32_t quality) {
  vlJPEGEncodeParams params{};
  params.pixels = pixels;
  params.rowStride = static_cast<uint32_t>(rowLength) * 4;
  params.width = static_cast<uint32_t>(width);
  params.height = static_cast<uint32_t>(height);
  params.quality = quality;
  EncodeJPEG(&params);
  if (params.error) return params.error;
  vlStream* s = OpenFileStream(fileName, VL_MODE_WRITE, nullptr);
  int error = 0;
  if (!s || WriteFileStream(s, params.data, params.length) != params.length) {
    SetErrorArgument(fileName);
    error = ERR_WRITEFILE;
  }
  if (s) CloseFileStream(s);
  FreeEncodedJPEG(params.result);
  return error;
}

int WriteGIF(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength) {
  std::vector<uint8_t> index(size_t(width) * height);
  uint32_t palette[256];
  int32_t colors = 256, transparentIndex = -1;
  if (!ReduceColors(reinterpret_cast<const uint8_t*>(pixels), 10, 4, width, height, rowLength, index.data(), palette,
                    &colors, -1, 0, 0, &transparentIndex))
    return ERR_MEM;
  vlGIFWriter* writer = nullptr;
  if (int error = OpenGIFWriter(fileName, width, height, &writer)) return error;
  int error = WriteGIFFrame(writer, index.data(), width, height, 0, palette, colors, -1, 0, 0);
  const int closed = CloseGIFWriter(writer);
  return error ? error : closed;
}

// Contiguous rows for the writers that take no row length.
std::vector<uint32_t> Packed(const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength) {
  std::vector<uint32_t> out(size_t(width) * height);
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(out.data() + size_t(y) * width, pixels + size_t(y) * rowLength, size_t(width) * 4);
  return out;
}

}  // namespace

int SaveVideoPicture(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height,
                     int32_t rowLength, int32_t format, int32_t quality) {
  switch (format) {
    case 0: return WriteBMP(fileName, pixels, width, height, rowLength);
    case 1: {
      vlPNGWriteParams params{fileName, pixels, static_cast<uint32_t>(rowLength) * 4, static_cast<uint32_t>(width),
                              static_cast<uint32_t>(height), 0, 0};
      WritePNG(&params);
      return params.error;
    }
    case 2: return WriteJPEG(fileName, pixels, width, height, rowLength, quality);
    case 3: return WriteGIF(fileName, pixels, width, height, rowLength);
    case 4: return WriteILBM(fileName, Packed(pixels, width, height, rowLength).data(), width, height);
    default: return ERR_WRONGUSAGE;
  }
}

int ExportVideoFrames(vlVMState* state, vlVideoHandle* handle, vlDisplay* display, int32_t x, int32_t y,
                      const char* prefix, int32_t format, const char* extension) {
  vlVideoPlayer* p = handle->player;
  RewindIfPending(p);
  const int32_t width = p->frameWidth, height = p->frameHeight;
  // The part of the frame on the display.
  int32_t srcX = 0, srcY = 0, clipWidth = width, clipHeight = height;
  if (x < 0) {
    srcX = -x;
    clipWidth += x;
    x = 0;
  }
  if (y < 0) {
    srcY = -y;
    clipHeight += y;
    y = 0;
  }
  if (display) {
    clipWidth = std::min(clipWidth, display->width - x);
    clipHeight = std::min(clipHeight, display->height - y);
  }
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  const int32_t stride = width + 64;
  auto* frameWords = static_cast<uint32_t*>(AllocMemory(size_t(stride) * height * 4, 1));
  auto* audio = static_cast<int16_t*>(AllocMemory(kAudioCapacity, 0));
  if (!frameWords || !audio) {
    FreeMemory(frameWords);
    FreeMemory(audio);
    DeleteBitmap(bitmap);
    return ERR_MEM;
  }
  vlStream* wav = nullptr;
  char wavName[1100] = "";
  bool wavOk = true;
  if (prefix) {
    std::snprintf(wavName, sizeof wavName, "%s.wav", prefix);
    wav = OpenFileStream(wavName, VL_MODE_WRITE, nullptr);
    if (!wav) {
      SetErrorArgument(wavName);
      FreeMemory(frameWords);
      FreeMemory(audio);
      DeleteBitmap(bitmap);
      return ERR_WRITEFILE;
    }
    const uint32_t channels = p->format.audioChannels;
    const uint32_t frameBytes = channels == 2 ? 4 : 2;
    wavOk = WriteFileStream(wav, "RIFF", 4) == 4 && WriteFileStreamLongLE(wav, 0) &&
            WriteFileStream(wav, "WAVEfmt ", 8) == 8 && WriteFileStreamLongLE(wav, 16) &&
            WriteFileStreamWordLE(wav, 1) && WriteFileStreamWordLE(wav, channels) &&
            WriteFileStreamLongLE(wav, p->format.audioRate) &&
            WriteFileStreamLongLE(wav, p->format.audioRate * frameBytes) && WriteFileStreamWordLE(wav, frameBytes) &&
            WriteFileStreamWordLE(wav, 16) && WriteFileStream(wav, "data", 4) == 4 && WriteFileStreamLongLE(wav, 0);
  }
  uint32_t dataSize = 0;
  int32_t frameNumber = 0;
  int result = 0;
  bool aborted = false;
  while (wavOk) {
    vlVideoPacketRecord record{};
    const int got = NextVideoPacket(p->source, &record);
    if (got == -1) break;
    if (got < 0) continue;
    if (record.kind == 0) {
      vlDecodedFrame frame{};
      frame.pixels = p->decoderOut;
      frame.decodeStamp = frame.presentationStamp = -1.0;
      if (DecodeVideoPacket(p->source, record.data, record.size, &frame)) {
        const int32_t saveWidth = p->targetWidth, saveHeight = p->targetHeight;
        // Converted at the frame's own size.
        p->targetWidth = width;
        p->targetHeight = height;
        vlFrameSlot slot{frameWords, stride, 0, 0, 0};
        ConvertVideoFrame(p, frame, &slot);
        p->targetWidth = saveWidth;
        p->targetHeight = saveHeight;
        WriteBitmapARGB(frameWords, stride * 4, bitmap, 0, 0, width, height);
        if (display && clipWidth >= 1 && clipHeight >= 1)
          BlitToDisplay(bitmap, srcX, srcY, display, x, y, clipWidth, clipHeight, 0x20);
        if (prefix) {
          char name[1100];
          std::snprintf(name, sizeof name, "%s%d.%s", prefix, frameNumber, extension);
          SaveVideoPicture(name, frameWords, width, height, stride, format, 90);
          ++frameNumber;
        }
      }
    } else if (prefix && record.data) {
      for (int used = 0; !used;) {
        uint32_t bytes = 0;
        used = DecodeAudioPacket(p->source, record.data, record.size, audio, kAudioCapacity, &bytes);
        if (bytes && WriteFileStream(wav, audio, bytes) != bytes) {
          wavOk = false;
          break;
        }
        dataSize += bytes;
      }
    }
    FreeVideoPacket(p->source, record.data);
    int error = 0;
    if (PumpEvents(state, 2, 0, &error)) {
      if (error) {
        result = error;
        aborted = true;
      }
      break;
    }
  }
  FreeMemory(frameWords);
  FreeMemory(audio);
  DeleteBitmap(bitmap);
  // The decoder stands at the end: the next start or grab begins again.
  p->rewindNeeded = 1;
  p->startedSinceGrab = 1;
  if (wav) {
    if (!aborted && wavOk) {
      const uint32_t padded = (dataSize + 3) & ~3u;
      static const uint8_t kZeros[4] = {};
      wavOk = WriteFileStream(wav, kZeros, padded - dataSize) == int64_t(padded - dataSize) &&
              SeekFileStream(wav, 4, VL_SEEK_BEGIN) >= 0 && WriteFileStreamLongLE(wav, padded + 36) &&
              SeekFileStream(wav, 40, VL_SEEK_BEGIN) >= 0 && WriteFileStreamLongLE(wav, dataSize) &&
              FlushFileStream(wav);
    }
    if (!CloseFileStream(wav)) wavOk = false;
    if (!wavOk) {
      RemovePath(wavName);
      return ERR_WRITE;
    }
  }
  return result;
}

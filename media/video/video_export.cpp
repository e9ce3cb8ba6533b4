// DumpVideo's engine and the picture files it writes. The WAV header is
// written first with zero sizes and completed only at a normal end, so an
// export a script aborts leaves an incomplete header behind. A file that
// cannot be written (a full disk) fails the export: the pictures it wrote
// go again, and the WAV file of that name stays as it was.
#include "media/video/video_export.h"

#include <limits.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "formats/image_save.h"
#include "graphics/bitmap.h"
#include "media/video/video_player.h"
#include "graphics/display_blit.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "runtime/errors.h"
#include "runtime/paths.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kAudioCapacity = 262144;

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
  if (format < VL_IMGFMT_BMP || format > VL_IMGFMT_ILBM) return ERR_WRONGUSAGE;
  const std::vector<uint32_t> packed = Packed(pixels, width, height, rowLength);
  // Dithered: a frame of more than 256 colours keeps its shades in GIF
  // and IFF pictures.
  return SaveImageToFile(format, packed.data(), width, height, fileName, -1, 0, quality, 256, 1);
}

int ExportVideoFrames(vlVMState* state, vlVideoHandle* handle, vlDisplay* display, int32_t x, int32_t y,
                      const char* prefix, int32_t format, const char* extension) {
  vlVideoPlayer* p = handle->player;
  // The names in full: a prefix the platform cannot take fails the export
  // when its file is made, never cut short into another name.
  const std::string wavName = prefix ? std::string(prefix) + ".wav" : std::string();
  if (prefix && wavName.size() >= PATH_MAX) {
    SetErrorArgument(wavName.c_str());
    return ERR_WRITEFILE;
  }
  const int32_t width = p->frameWidth, height = p->frameHeight;
  // The part of the frame on the display, counted wide: x or y may be as
  // far off as an int reaches.
  int64_t srcX = 0, srcY = 0, clipWidth = width, clipHeight = height, left = x, top = y;
  if (left < 0) {
    srcX = -left;
    clipWidth += left;
    left = 0;
  }
  if (top < 0) {
    srcY = -top;
    clipHeight += top;
    top = 0;
  }
  if (display) {
    clipWidth = std::min<int64_t>(clipWidth, display->width - left);
    clipHeight = std::min<int64_t>(clipHeight, display->height - top);
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
  // The WAV goes beside its name and takes its place only when whole.
  vlReplacement wavFile;
  vlStream* wav = nullptr;
  bool wavOk = true;
  if (prefix) {
    if (int error = OpenReplacement(&wavFile, wavName.c_str(), VL_MODE_WRITE, nullptr)) {
      FreeMemory(frameWords);
      FreeMemory(audio);
      DeleteBitmap(bitmap);
      return error;
    }
    wav = wavFile.stream;
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
  std::vector<std::string> pictures;  // written so far
  int result = 0;
  bool aborted = false;
  // The decoder goes where the export begins only now, so that an export
  // that could not start leaves a place sought for the next one. From here
  // it moves, whether the export ends well or not: the next start or grab
  // begins again.
  if (wavOk) {
    result = PlaceDecoderForExport(p);
    p->rewindNeeded = 1;
  }
  while (wavOk && !result) {
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
        // Within the frame and the display here, so every value fits.
        if (display && clipWidth >= 1 && clipHeight >= 1)
          BlitToDisplay(bitmap, int32_t(srcX), int32_t(srcY), display, int32_t(left), int32_t(top),
                        int32_t(clipWidth), int32_t(clipHeight), 0x20);
        if (prefix) {
          const std::string name = std::string(prefix) + std::to_string(frameNumber) + "." + extension;
          result = SaveVideoPicture(name.c_str(), frameWords, width, height, stride, format, 90);
          if (!result) pictures.emplace_back(name);
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
    if (result) break;  // a picture could not be saved
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
  int status = result ? result : wavOk ? 0 : ERR_WRITE;
  if (wav) {
    if (!status) {
      const uint32_t padded = (dataSize + 3) & ~3u;
      static const uint8_t kZeros[4] = {};
      wavOk = WriteFileStream(wav, kZeros, padded - dataSize) == int64_t(padded - dataSize) &&
              SeekFileStream(wav, 4, VL_SEEK_BEGIN) >= 0 && WriteFileStreamLongLE(wav, padded + 36) &&
              SeekFileStream(wav, 40, VL_SEEK_BEGIN) >= 0 && WriteFileStreamLongLE(wav, dataSize) &&
              FlushFileStream(wav);
      if (!wavOk) status = ERR_WRITE;
    }
    // Kept when whole, or as the script's abort left it.
    const int ended = EndReplacement(&wavFile, aborted ? 0 : status);
    if (!aborted || ended) status = ended;
  }
  if (status && !aborted)
    for (const std::string& name : pictures) RemovePath(name.c_str());
  return status;
}

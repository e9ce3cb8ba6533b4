// The decoder behind a video: the records a decoder fills (format at open,
// packets, decoded frames), the entry points of video-decoder plug-ins and
// the binding that routes each decoder operation to a plug-in or to the
// inbuilt CDXL or AVI reader. The records are shared with plug-ins built
// elsewhere: their layouts only ever grow at their ends.
#pragma once
#include <cstdint>

// Filled by the decoder's open call; the player zeroes it and presets
// endPosition to -2 and adapter.
struct vlVideoFormat {
  uint32_t width;
  uint32_t height;
  uint32_t lengthMs;
  uint32_t audioRate;
  uint32_t audioChannels;   // 0: no sound
  uint32_t unitMode;        // non-zero: positions in the decoder's own units
  uint32_t unitsPerSecond;
  uint32_t argb;            // 1: frames of bytes A, R, G, B; 0: planar YUV 4:2:0
  uint32_t flags;           // bit 0 seekable
  uint32_t reserved;
  double frameDuration;     // seconds
  int64_t endPosition;      // -1 none
  const char* adapter;
};

// What the next-packet call hands out.
struct vlVideoPacketRecord {
  void* data;
  uint32_t kind;  // 0 video, else audio
  uint32_t size;
  uint32_t unused;
  double time;    // seconds, -1.0 none
};

// A decoded video frame. ARGB decoders write into pixels (the caller's
// buffer of width x height words, each the bytes A, R, G, B in memory
// order); YUV decoders point planes (Y, U, V) at their own buffers, which
// stay valid until their next call.
struct vlDecodedFrame {
  uint32_t* pixels;
  const uint8_t* planes[3];
  int32_t planeRowBytes[3];
  double decodeStamp;        // seconds, -1.0 none
  double presentationStamp;  // seconds, -1.0 none
  int64_t position;
  int32_t repeat;
};

// Video-decoder plug-in entries. Open returns null when the decoder does
// not take the file; NextPacket 0 or more a packet, -1 the end, other
// negative values no packet yet; DecodeVideoFrame 0 when the frame record
// holds a frame (any other value drops the packet); DecodeAudioFrame writes
// 16-bit PCM of the format's rate and channels and returns 1 once the
// packet is used up (0: call again with the same packet); SeekVideo takes
// milliseconds, or the decoder's units when the format set unit mode (the
// unit mode comes back as the third argument), and returns 0 or non-zero
// when it cannot go there.
using vlOpenVideoFn = void* (*)(const char* file, struct vlVideoFormat* format);
using vlCloseVideoFn = void (*)(void* decoder);
using vlNextPacketFn = int (*)(void* decoder, struct vlVideoPacketRecord* packet);
using vlFreePacketFn = void (*)(void* decoder, void* data);
using vlDecodeVideoFrameFn = int (*)(void* decoder, void* data, uint32_t size, struct vlDecodedFrame* frame);
using vlDecodeAudioFrameFn = int (*)(void* decoder, void* data, uint32_t size, int16_t* buffer, uint32_t capacity,
                                     uint32_t* bytes);
using vlSeekVideoFn = int (*)(void* decoder, int64_t position, uint32_t unitMode);
using vlFlushDecoderFn = void (*)(void* decoder);
using vlGetVideoFramesFn = uint32_t (*)(void* decoder);
using vlGetVideoFormatFn = const char* (*)(void* decoder);

enum : uint32_t { VL_VSOURCE_PLUGIN = 1, VL_VSOURCE_CDXL = 2, VL_VSOURCE_AVI = 3 };

struct vlVideoSource {
  const void* plugin;  // the plug-in's info block (kind 1)
  void* instance;
  uint32_t kind;
};

// Opens the file with the decoder plug-ins, then the inbuilt decoders, that
// the selection allows; null when none takes it. fmt is filled.
vlVideoSource* OpenVideoSource(const char* file, const char* loaders, const char* adapter, vlVideoFormat* fmt);
void CloseVideoSource(vlVideoSource* source);
// 0 a packet, -1 end of stream, other negative values: none yet.
int NextVideoPacket(vlVideoSource* source, vlVideoPacketRecord* packet);
void FreeVideoPacket(vlVideoSource* source, void* data);
// 1 a frame, 0 no frame (the packet is dropped).
int DecodeVideoPacket(vlVideoSource* source, void* data, uint32_t size, vlDecodedFrame* frame);
// Decodes sound of the packet into buffer (capacity bytes): the bytes
// made go to *bytes; 1 when the packet is used up.
int DecodeAudioPacket(vlVideoSource* source, void* data, uint32_t size, int16_t* buffer, uint32_t capacity,
                      uint32_t* bytes);
// 0, or 1233 when the decoder cannot go there.
int SeekVideoSource(vlVideoSource* source, int64_t position, uint32_t unitMode);
void FlushVideoSourceAudio(vlVideoSource* source);
void FlushVideoSourceVideo(vlVideoSource* source);
uint32_t GetVideoSourceFrameCount(vlVideoSource* source);
const char* GetVideoSourceFormatName(vlVideoSource* source);

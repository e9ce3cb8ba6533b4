// The built-in CDXL video decoder: equally sized frames of a header, a
// 12-bit palette, bit-planes and signed 8-bit mono sound, offered through
// the same operations as a video-decoder plug-in.
#pragma once
#include <cstdint>

struct vlCDXLDecoder;

// The video format record a decoder fills at open (60 bytes).
struct vlVideoFormatInfo {
  uint32_t width;
  uint32_t height;
  uint32_t durationMs;
  uint32_t audioRate;
  uint32_t hasAudio;
  uint32_t zero1, zero2;
  uint32_t one;
  uint32_t seekable;
  uint32_t zero3, zero4;
  uint32_t reserved[4];
};
static_assert(sizeof(vlVideoFormatInfo) == 60);

// What ReadCDXLPacket hands out.
struct vlVideoPacketInfo {
  void* packet;
  uint32_t kind;  // 0 video, 1 audio
  uint32_t size;  // bytes allocated
  double time;    // presentation time in seconds
};

// Filled by DecodeCDXLVideo: the player gives the pixel buffer.
struct vlVideoFrameInfo {
  uint32_t* pixels;
  int32_t stride;  // bytes per row, out
  int32_t word0, word1;
  double time;
  double duration;  // -1.0: unknown
};

// Filled by DecodeCDXLAudio: the player gives the buffer.
struct vlVideoSampleInfo {
  int16_t* buffer;
  uint32_t size;  // bytes, out
  uint32_t channels;
};

vlCDXLDecoder* OpenCDXL(const char* fileName, vlVideoFormatInfo* info);
// 0, -1 at the end or on a short read, -2 out of memory.
int ReadCDXLPacket(vlCDXLDecoder* decoder, vlVideoPacketInfo* packet);
// Pixels stored as the bytes 0, red, green, blue; width x height x 4 bytes.
int DecodeCDXLVideo(vlCDXLDecoder* decoder, void* packet, vlVideoFrameInfo* frame);
// 16-bit mono samples; the buffer holds twice the sound size.
int DecodeCDXLAudio(vlCDXLDecoder* decoder, void* packet, vlVideoSampleInfo* samples);
int SeekCDXL(vlCDXLDecoder* decoder, uint32_t milliseconds);
uint32_t GetCDXLFrameCount(vlCDXLDecoder* decoder);
const char* GetCDXLFormatName(vlCDXLDecoder* decoder);
void FlushCDXLAudio(vlCDXLDecoder* decoder);
void FlushCDXLVideo(vlCDXLDecoder* decoder);
void FreeCDXLPacket(void* packet);
void CloseCDXL(vlCDXLDecoder* decoder);

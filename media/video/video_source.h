// The decoder behind a video: the records a decoder fills (format at open,
// packets, decoded frames), the entry points of video-decoder plug-ins and
// the binding that routes each decoder operation to a plug-in or to the
// inbuilt CDXL or AVI reader. The records are shared with plug-ins built
// elsewhere: their layouts only ever grow at their ends.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

// The decoder records (vlVideoFormat, vlVideoPacketRecord, vlDecodedFrame)
// and the decoder plug-in entries are the plug-in interface's.

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

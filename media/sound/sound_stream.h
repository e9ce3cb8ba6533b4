// Open sound sources: the loader that picks a reader by the file's magic,
// reading and seeking by stream kind, the callback-fed PCM queue, loading a
// whole file as a sample, and the attributes a music reports.
#pragma once
#include <cstdint>

#include "media/sound/sound_types.h"

struct vlModuleState;

// 0, 1000, 1045 or 1357 (the file name in the error argument).
int OpenSoundStream(const char* file, const char* loaders, const char* adapter, uint32_t subsong,
                    int music, vlSoundStream** out, const vlPluginInfo** loaderOut);
void CloseSoundStream(vlSoundStream* stream);
// Frames delivered; *end is set when the stream has ended.
uint32_t ReadSoundStream(vlSoundStream* stream, uint8_t* buffer, uint32_t frames, int* end);
void SeekSoundStream(vlSoundStream* stream, int64_t frame);
// Moves only the read position: the music time the output keeps runs on.
void MoveStreamReader(vlSoundStream* stream, int64_t frame);
const char* GetStreamFormatName(const vlSoundStream* stream);

// A music source: a stream (kind 1) or a parsed module (kind 2) that owns
// its file image. 0 or an error code.
int OpenMusicSource(const char* file, const char* loaders, const char* adapter, uint32_t subsong,
                    uint32_t* kindOut, void** sourceOut, uint32_t* seekableOut, uint32_t* subsongsOut,
                    const vlPluginInfo** loaderOut);
void CloseMusicSource(uint32_t kind, void* source);
// Parses a module file image (owned by the state afterwards, freed with
// it) for 48000 Hz output; null when it is no module or memory runs out.
vlModuleState* MakeModuleState(uint8_t* image, size_t size);
void FreeModuleState(vlModuleState* state);
// Re-parses a module from its own image: it starts again from the top.
void RewindModuleState(vlModuleState* state);

// Reads a whole sound file: 0, 1279, 1299 or the loader's error.
int LoadSoundData(const char* file, const char* loaders, const char* adapter, vlSoundData** dataOut,
                  uint32_t* bytesOut, uint32_t* rateOut, uint32_t* formatOut,
                  const vlPluginInfo** loaderOut);

// Music attribute codes.
enum : int {
  VL_MATTR_DURATION = 0,
  VL_MATTR_POSITION = 1,
  VL_MATTR_FORMAT_NAME = 2,
  VL_MATTR_SAMPLE_FORMAT = 3,
  VL_MATTR_RATE = 4,
  VL_MATTR_BITRATE = 5,
};
// The attribute as a number (-1 when the source has none); the format
// name through *text.
int64_t GetMusicAttribute(int code, uint32_t kind, const void* source, const char** text);
// Position in ms of a stream as its music plays.
int64_t GetStreamMillis(const vlSoundStream* stream);

// A callback-fed stream of the internal format: 0, 1000 or 1298.
int NewCallbackStream(vlVMState* state, uint32_t rate, uint32_t format, vlSoundStream** out);
// Appends a node of frames of PCM (copied; null data queues the end of the
// stream), after dropping the done nodes at the head. 0 or 1000.
int QueueCallbackPCM(vlSoundStream* stream, const uint8_t* pcm, uint32_t frames, int end);
// Drops every node.
void EmptyCallbackQueue(vlSoundStream* stream);
// Whether the script is to be asked for more: fewer than a second of
// frames queued, and the output has read since the last ask (a script
// that gave nothing is not asked again on every step). Marks the ask; the
// frames queued and unplayed in *pending.
bool AskCallbackForData(vlSoundStream* stream, uint64_t* pending);

// IFF ANIM reader: the first frame is a full ILBM kept as bit-planes, each
// later frame applies one delta FORM (operations 5, 7, 8, 100 and 101) to
// one of two plane buffers; frames come out as 32-bit pixels.
#pragma once
#include <cstdint>

struct vlStream;
struct vlANIMReader;

enum : int32_t { DEINTERLACE_DEFAULT = 0, DEINTERLACE_DOUBLE = 1 };

// Takes over the stream (closed on failure). Null on any damage.
vlANIMReader* OpenANIMReader(vlStream* stream, int32_t deinterlace, int32_t* width, int32_t* height,
                             int32_t* frameCount, int32_t loadTransparency);
// Frame index as width x height words (AllocMemory): 0x00RRGGBB, or with
// the transparent pen turned into alpha (top byte 0 or 255) when
// *hasTransparency comes back 1. Null when a delta is damaged.
uint32_t* DecodeANIMFrame(vlANIMReader* reader, int32_t index, int32_t* hasTransparency);
// The frame's delay in milliseconds (ticks of 1/60 s).
int32_t GetANIMFrameDelay(vlANIMReader* reader, int32_t index);
void CloseANIMReader(vlANIMReader* reader);

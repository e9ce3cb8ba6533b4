// The platform's own picture and anim decoders. This platform has none:
// pictures are refused with 1358 and no anim opens, so the built-in readers
// and plug-ins do all the work.
#pragma once
#include <cstdint>

struct vlStream;

int LoadNativeImage(vlStream* stream, const char* fileName, const char* adapters, int probe,
                    uint32_t* paletteOverride, int32_t keyColor, int mode1, void** nativeHandle,
                    uint32_t** paletteOut, int32_t* transparentOut, int32_t* width, int32_t* height,
                    int32_t* alpha);
uint32_t* GetNativeImagePixels(void* nativeHandle);
void FreeNativeImage(void* nativeHandle);

void* OpenNativeAnim(const char* fileName, const char* adapters, int32_t* width, int32_t* height,
                     int32_t* frameCount);
uint32_t* LoadNativeAnimFrame(void* anim, int32_t index);
int32_t GetNativeAnimFrameDelay(void* anim, int32_t index);
void CloseNativeAnim(void* anim);

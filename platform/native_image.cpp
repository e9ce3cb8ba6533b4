// Platform picture and anim decoders: none on this platform.
#include "platform/native_image.h"

#include "vm/error_codes.h"

int LoadNativeImage(vlStream*, const char*, const char*, int, uint32_t*, int32_t, int, void**, uint32_t**,
                    int32_t*, int32_t*, int32_t*, int32_t*) {
  return ERR_LOADPICTURE2;
}
uint32_t* GetNativeImagePixels(void* nativeHandle) { return static_cast<uint32_t*>(nativeHandle); }
void FreeNativeImage(void*) {}

void* OpenNativeAnim(const char*, const char*, int32_t*, int32_t*, int32_t*) { return nullptr; }
uint32_t* LoadNativeAnimFrame(void*, int32_t) { return nullptr; }
int32_t GetNativeAnimFrameDelay(void*, int32_t) { return 0; }
void CloseNativeAnim(void*) {}

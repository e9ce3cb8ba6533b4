// Picture load dispatch: the signature table that picks a reader, the
// probe path (quick measurement first), and the platform loader fallback.
// Reader failures are reported as 1358 with the file name, except running
// out of memory, which is 1000.
#include "formats/picture_loader.h"

#include <cstring>

#include "formats/bmp_reader.h"
#include "formats/gif.h"
#include "formats/ilbm.h"
#include "formats/jpeg_codec.h"
#include "formats/png_codec.h"
#include "platform/native_image.h"
#include "runtime/blocking.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/file_adapter.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

// Read, file adapters allowed, forward seeks done by reading.
constexpr uint32_t kPictureOpenMode = VL_MODE_READ | VL_MODE_ADAPTERS | 16;

// Signatures in the order they are tested.
uint32_t DetectKind(const uint8_t* b) {
  if (memcmp(b, "FORM", 4) == 0 && memcmp(b + 8, "ILBM", 4) == 0) return VL_PICTURE_ILBM;
  if (b[0] == 0xFF && b[1] == 0xD8) return VL_PICTURE_JPEG;
  if (b[0] == 0x89 && memcmp(b + 1, "PNG", 3) == 0) return VL_PICTURE_PNG;
  if (b[0] == 'B' && b[1] == 'M') return VL_PICTURE_BMP;
  if (memcmp(b, "GIF87a", 6) == 0 || memcmp(b, "GIF89a", 6) == 0) return VL_PICTURE_GIF;
  return 0;
}

struct LoadState {
  vlStream* stream = nullptr;
  int32_t width = 0, height = 0, alpha = 0;
  uint32_t* palette = nullptr;
  int32_t transparent = -1;
  uint32_t* pixels = nullptr;
};

int FailOpen(const char* fileName, vlLoadedImage* image) {
  FreeMemory(image);
  SetErrorArgument(fileName);
  return ERR_READFILE;
}

// Runs the reader of a detected kind on the open stream; 0 or non-zero.
int RunReader(uint32_t kind, LoadState& st, int probe, uint32_t* paletteOverride, int32_t keyColor,
              int32_t mode, bool wantPalette) {
  switch (kind) {
    case VL_PICTURE_ILBM:
      return ReadILBM(st.stream, probe, paletteOverride, keyColor, mode == 1, mode == 2, &st.transparent,
                      &st.width, &st.height, &st.pixels, wantPalette ? &st.palette : nullptr);
    case VL_PICTURE_JPEG:
      return DecodeJPEG(st.stream, 0, probe, &st.width, &st.height, &st.pixels);
    case VL_PICTURE_PNG: {
      int result = 0;
      ReadPNG(st.stream, probe, &st.width, &st.height, &st.pixels, &st.alpha, &result);
      return result;
    }
    case VL_PICTURE_BMP:
      return ReadBMP(st.stream, probe, &st.width, &st.height, &st.pixels);
    case VL_PICTURE_GIF: {
      int32_t frames = 0;
      vlGIFReader* reader = OpenGIFReader(st.stream, &st.width, &st.height, &frames, probe, 1, mode == 2);
      st.stream = nullptr;  // the reader owns it now
      if (!reader) return probe && st.width > 0 && st.height > 0 ? 0 : ERR_LOADPICTURE2;
      int32_t becameAlpha = 0;
      st.pixels = ReadGIFFrame(reader, 0, &becameAlpha);
      CloseGIFReader(reader);
      if (!st.pixels) return ERR_LOADPICTURE2;
      if (becameAlpha) st.transparent = -2;
      return 0;
    }
  }
  return ERR_LOADPICTURE2;
}

}  // namespace

int LoadImageFile(const char* fileName, const char* loaders, const char* adapters, uint32_t* paletteOverride,
                  int32_t keyColor, int32_t transparencyMode, vlLoadedImage** result, uint32_t** paletteOut,
                  int32_t* transparentOut, int32_t* widthOut, int32_t* heightOut, int32_t* alphaOut,
                  int32_t* nativeOut) {
  // A large picture takes a while to decode: what was drawn shows meanwhile.
  BeforeLongWork();
  auto* image = static_cast<vlLoadedImage*>(AllocMemory(sizeof(vlLoadedImage), 1));
  if (!image) return ERR_MEM;
  const int probe = result == nullptr;
  const bool inbuilt = IsLoaderSelected(loaders, "inbuilt", 0) != 0;
  LoadState st;

  if (probe && inbuilt) {
    st.stream = OpenFileStream(fileName, kPictureOpenMode, adapters);
    if (!st.stream) return FailOpen(fileName, image);
    int32_t flag = 0;
    if (IdentifyImageFormat(st.stream, &st.width, &st.height, &st.alpha, &flag) == 0) {
      CloseFileStream(st.stream);
      FreeMemory(image);
      if (flag && transparentOut) *transparentOut = 1;
      *widthOut = st.width;
      *heightOut = st.height;
      if (alphaOut) *alphaOut = st.alpha;
      return 0;
    }
    st.width = st.height = st.alpha = 0;
  }

  int outcome = ERR_LOADPICTURE2;
  if (inbuilt) {
    uint8_t head[64] = {};
    if (!st.stream) {
      st.stream = OpenFileStream(fileName, kPictureOpenMode, adapters);
      if (!st.stream) return FailOpen(fileName, image);
    } else {
      SeekFileStream(st.stream, 0, VL_SEEK_BEGIN);
    }
    ReadFileStream(st.stream, head, sizeof head);
    const uint32_t kind = DetectKind(head);
    SeekFileStream(st.stream, 0, VL_SEEK_BEGIN);
    if (kind) {
      image->kind = kind;
      outcome = RunReader(kind, st, probe, paletteOverride, keyColor, transparencyMode, paletteOut != nullptr);
      if (outcome != 0) {
        FreeMemory(st.pixels);
        FreeMemory(st.palette);
        st.pixels = nullptr;
        st.palette = nullptr;
        st.transparent = -1;
      }
    }
  }

  if (outcome == ERR_MEM) {
    // Memory ran out (or the picture is larger than a picture may be): the
    // file itself was fine, so that is what the caller hears.
    if (st.stream) CloseFileStream(st.stream);
    FreeMemory(image);
    return ERR_MEM;
  }
  if (outcome != 0) {
    if (!IsLoaderSelected(loaders, "native", 0)) {
      if (st.stream) CloseFileStream(st.stream);
      FreeMemory(image);
      SetErrorArgument(fileName);
      return ERR_LOADPICTURE2;
    }
    if (!st.stream) {
      st.stream = OpenFileStream(fileName, kPictureOpenMode, adapters);
      if (!st.stream) return FailOpen(fileName, image);
    } else {
      SeekFileStream(st.stream, 0, VL_SEEK_BEGIN);
    }
    const int rc = LoadNativeImage(st.stream, fileName, adapters, probe, paletteOverride, keyColor,
                                   transparencyMode == 1, &image->nativeHandle, &st.palette, &st.transparent,
                                   &st.width, &st.height, &st.alpha);
    if (rc != 0) {
      CloseFileStream(st.stream);
      FreeMemory(image);
      if (rc == ERR_LOADPICTURE2) SetErrorArgument(fileName);
      return rc;
    }
    image->kind = VL_PICTURE_NATIVE;
  }

  if (st.stream) CloseFileStream(st.stream);
  image->pixels = st.pixels;
  const bool native = image->kind == VL_PICTURE_NATIVE;
  if (probe) {
    FreeLoadedImage(image);
  } else {
    *result = image;
  }
  *widthOut = st.width;
  *heightOut = st.height;
  if (alphaOut) *alphaOut = st.alpha;
  if (paletteOut) *paletteOut = st.palette;
  else FreeMemory(st.palette);
  if (transparentOut) *transparentOut = st.transparent;
  // Written only now: a failed load leaves every output as it was.
  if (nativeOut) *nativeOut = native ? 1 : 0;
  return 0;
}

uint32_t* GetLoadedImagePixels(vlLoadedImage* image) {
  if (!image) return nullptr;
  return image->kind == VL_PICTURE_NATIVE ? GetNativeImagePixels(image->nativeHandle) : image->pixels;
}

void FreeLoadedImage(vlLoadedImage* image) {
  if (!image) return;
  if (image->kind == VL_PICTURE_NATIVE) FreeNativeImage(image->nativeHandle);
  else FreeMemory(image->pixels);
  FreeMemory(image);
}

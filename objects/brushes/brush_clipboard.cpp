// Brushes on the clipboard: a picture travels as a PNG file, written from
// the brush's pixels (mask and alpha channel as PNG alpha) and read back
// into a new brush.
#include <cerrno>

#include "formats/png_codec.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int BrushToClipboardPNG(vlVMState* L, vlObjectId id, uint8_t** png, size_t* length) {
  vlBrush* b = nullptr;
  if (int s = GetBrushByID(L, id, &b, 0)) return s;
  uint32_t* argb = ReadBitmapARGBMasked(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, -1, 1, 0);
  if (!argb) return ERR_MEM;
  char file[1024];
  if (!MakeTempFileName(file, sizeof file)) {
    const int error = errno;
    delete[] argb;
    return TempFileNameError(error);
  }
  vlPNGWriteParams params{file, argb, static_cast<uint32_t>(b->width) * 4, static_cast<uint32_t>(b->width),
                          static_cast<uint32_t>(b->height), b->mask || b->alpha, 0};
  WritePNG(&params);
  delete[] argb;
  uint8_t* bytes = nullptr;
  int64_t size = 0;
  int status = params.error ? params.error : ReadWholeFile(file, nullptr, nullptr, &bytes, &size, 0, 0);
  RemovePath(file);
  if (status) return status;
  *png = bytes;  // ReadWholeFile's malloc block is what FreeMemory takes
  *length = static_cast<size_t>(size);
  return 0;
}

int BrushFromClipboardPNG(vlVMState* L, const uint8_t* png, size_t length) {
  vlStream* stream = OpenMemoryStream(png, length);
  if (!stream) return ERR_MEM;
  int32_t width = 0, height = 0, alpha = 0;
  uint32_t* pixels = nullptr;
  int status = 0;
  ReadPNG(stream, 0, &width, &height, &pixels, &alpha, &status);
  CloseFileStream(stream);
  if (status) return status;
  vlBitmap *bitmap = nullptr, *alphaPlane = nullptr;
  status = BitmapFromARGB(pixels, -1, width, height, width, 0, 0, 0, &bitmap, nullptr, nullptr);
  if (!status && alpha && !(alphaPlane = WrapARGBAsAlpha(pixels, width, height, width))) status = ERR_ALLOCALPHA;
  FreeMemory(pixels);
  if (status) {
    if (bitmap) DeleteBitmap(bitmap);
    return status;
  }
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  vlBrush* brush = nullptr;
  if ((status = AddBrush(&id, bitmap, nullptr, alphaPlane, width, height, width, nullptr, -1, 0, &brush))) {
    DeleteBitmap(bitmap);
    if (alphaPlane) DeleteAlphaPlane(alphaPlane);
    return status;
  }
  vl::PushPointer(L, brush);
  return 0;
}

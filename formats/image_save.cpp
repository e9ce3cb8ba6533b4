// Picture files written from ARGB pixels.
#include "formats/image_save.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/gif.h"
#include "formats/ilbm.h"
#include "formats/jpeg_codec.h"
#include "formats/png_codec.h"
#include "graphics/bitmap.h"
#include "graphics/quantize.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "abi/plugin_abi.h"
#include "runtime/plugins.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

void PutLE(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int SaveBMP(const uint32_t* argb, int32_t width, int32_t height, const char* fileName) {
  const uint32_t rowBytes = (3u * static_cast<uint32_t>(width) + 3u) & ~3u;
  uint8_t header[54] = {'B', 'M'};
  PutLE(header + 2, rowBytes * static_cast<uint32_t>(height) + 54, 4);
  PutLE(header + 10, 54, 4);
  PutLE(header + 14, 40, 4);
  PutLE(header + 18, static_cast<uint32_t>(width), 4);
  PutLE(header + 22, static_cast<uint32_t>(height), 4);
  PutLE(header + 26, 1, 2);
  PutLE(header + 28, 24, 2);
  std::vector<uint8_t> row(rowBytes, 0);
  vlReplacement out;
  if (int status = OpenReplacement(&out, fileName, VL_MODE_WRITE, nullptr)) return status;
  vlStream* stream = out.stream;
  if (WriteFileStream(stream, header, sizeof header) != sizeof header) return EndReplacement(&out, ERR_WRITE);
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint32_t* src = argb + static_cast<size_t>(y) * width;
    for (int32_t x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(src[x]);
      row[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(src[x] >> 16);
    }
    if (WriteFileStream(stream, row.data(), rowBytes) != static_cast<int64_t>(rowBytes))
      return EndReplacement(&out, ERR_WRITE);
  }
  return EndReplacement(&out, 0);
}

int SaveJPEG(const uint32_t* argb, int32_t width, int32_t height, const char* fileName, int32_t quality) {
  vlReplacement out;
  if (int status = OpenReplacement(&out, fileName, VL_MODE_WRITE, nullptr)) return status;
  vlJPEGEncodeParams params{};
  params.pixels = argb;
  params.rowStride = static_cast<uint32_t>(width) * 4;
  params.width = static_cast<uint32_t>(width);
  params.height = static_cast<uint32_t>(height);
  params.quality = quality < 0 ? 0 : quality > 100 ? 100 : quality;
  EncodeJPEG(&params);
  if (params.error) {
    if (params.result) FreeEncodedJPEG(params.result);
    return EndReplacement(&out, params.error);
  }
  const bool whole = WriteFileStream(out.stream, params.data, params.length) == static_cast<int64_t>(params.length);
  FreeEncodedJPEG(params.result);
  return EndReplacement(&out, whole ? 0 : ERR_WRITE);
}

int SaveGIF(const uint32_t* argb, int32_t width, int32_t height, const char* fileName, int64_t transparentColor,
            int32_t colors, int32_t dither) {
  std::unique_ptr<uint8_t[]> index(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height]);
  if (!index) return ERR_MEM;
  uint32_t palette[256] = {};
  int32_t count = colors < 1 ? 1 : colors > 256 ? 256 : colors;
  int32_t transparentIndex = -1;
  if (!ReduceColors(reinterpret_cast<const uint8_t*>(argb), 10, 4, width, height, width, index.get(), palette,
                    &count, transparentColor, 0, static_cast<uint32_t>(dither), &transparentIndex))
    return ERR_MEM;
  vlGIFWriter* writer = nullptr;
  if (int status = OpenGIFWriter(fileName, width, height, &writer)) return status;
  return CloseGIFWriter(writer, WriteGIFFrame(writer, index.get(), width, height, 0, palette, count, transparentIndex, 0, 0));
}

// The first enabled image-saver plug-in listing the format, with its row.
vlPluginInfo* FindImageSaver(int32_t format, uint32_t* rowFlags) {
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (!(p->capabilities & PLUGINCAPS_SAVEIMAGE) || !p->handle) continue;
    vlPluginInfo* info = GetPluginInfo(p->handle);
    if (!info || info->disabled || !info->imageSaverFormats || !info->SaveImage) continue;
    for (const vlSaverFormat* row = info->imageSaverFormats; row->formatId; ++row)
      if (row->formatId == static_cast<uint32_t>(format)) {
        *rowFlags = row->flags;
        return info;
      }
  }
  return nullptr;
}

int SaveWithPlugin(int32_t format, const uint32_t* argb, int32_t width, int32_t height, const char* fileName,
                   int64_t transparentColor, int wantAlpha, int32_t colors, int32_t dither) {
  uint32_t rowFlags = 0;
  vlPluginInfo* saver = FindImageSaver(format, &rowFlags);
  if (!saver) return ERR_UNKNOWNIMGOUT;
  vlSaverImage image{};
  image.width = width;
  image.height = height;
  image.transparentIndex = -1;
  uint32_t palette[256] = {};
  std::unique_ptr<uint8_t[]> index;
  if (rowFlags & VL_SAVERFMT_ARGB) {
    image.pixels = const_cast<uint32_t*>(argb);
    image.rowBytes = width * 4;
    image.flags = VL_SAVERIMG_ARGB;
    if (wantAlpha && (rowFlags & VL_SAVERFMT_ALPHA)) image.flags |= VL_SAVERIMG_ALPHA;
  } else {
    index.reset(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height]);
    if (!index) return ERR_MEM;
    int32_t count = colors < 1 ? 1 : colors > 256 ? 256 : colors;
    int32_t transparentIndex = -1;
    if (!ReduceColors(reinterpret_cast<const uint8_t*>(argb), 10, 4, width, height, width, index.get(), palette,
                      &count, transparentColor, 0, static_cast<uint32_t>(dither), &transparentIndex))
      return ERR_MEM;
    image.pixels = index.get();
    image.palette = palette;
    image.rowBytes = width;
    image.colorCount = count;
    if (transparentColor != -1 && transparentIndex >= 0) {
      image.transparentIndex = transparentIndex;
      image.flags |= VL_SAVERIMG_TRANSPARENT;
    }
  }
  vlReplacement out;
  if (int status = OpenReplacement(&out, fileName, VL_MODE_WRITE, nullptr)) return status;
  const int saved = saver->SaveImage(out.stream, &image, static_cast<uint32_t>(format));
  return EndReplacement(&out, saved ? 0 : ERR_SAVEIMAGE);
}

}  // namespace

int SaveImageToFile(int32_t format, const uint32_t* argb, int32_t width, int32_t height, const char* fileName,
                    int64_t transparentColor, int wantAlpha, int32_t quality, int32_t colors, int32_t dither) {
  if (width < 1 || height < 1 || !argb) return ERR_WRONGUSAGE;
  switch (format) {
    case VL_IMGFMT_BMP:
      return SaveBMP(argb, width, height, fileName);
    case VL_IMGFMT_PNG: {
      vlPNGWriteParams params{};
      params.fileName = fileName;
      params.pixels = argb;
      params.rowStride = static_cast<uint32_t>(width) * 4;
      params.width = static_cast<uint32_t>(width);
      params.height = static_cast<uint32_t>(height);
      params.alpha = wantAlpha ? 1 : 0;
      WritePNG(&params);
      if (params.error == ERR_WRITEFILE) SetErrorArgument(fileName);
      return params.error;
    }
    case VL_IMGFMT_JPEG:
      return SaveJPEG(argb, width, height, fileName, quality);
    case VL_IMGFMT_GIF:
      return SaveGIF(argb, width, height, fileName, transparentColor, colors, dither);
    case VL_IMGFMT_ILBM:
      return WriteILBM(fileName, argb, width, height);
    default:
      return SaveWithPlugin(format, argb, width, height, fileName, transparentColor, wantAlpha, colors, dither);
  }
}

int SaveBitmapImage(int32_t format, vlBitmap* bitmap, int32_t width, int32_t height, const char* fileName,
                    vlBitmap* mask, int64_t transparentColor, vlBitmap* alpha, int32_t quality, int32_t colors,
                    int32_t dither) {
  uint32_t* argb = ReadBitmapARGBMasked(bitmap, 0, 0, width, height, mask, alpha, transparentColor, 0, 0);
  if (!argb) return ERR_MEM;
  const int status =
      SaveImageToFile(format, argb, width, height, fileName, transparentColor, alpha != nullptr, quality, colors,
                      dither);
  delete[] argb;
  return status;
}

void ReadSaveOptions(vlVMState* L, int index, int32_t* quality, int32_t* colors, int32_t* dither) {
  *quality = 90, *colors = 256, *dither = 0;
  if (vl::GetTypeAt(L, index) == VL_TTABLE) {
    GetTableInt(L, index, "quality", quality, nullptr);
    GetTableInt(L, index, "colors", colors, nullptr);
    int d = 0;
    if (GetTableBool(L, index, "dither", &d, nullptr)) *dither = d;
  } else {
    *quality = vl::OptIntArg(L, index, 90);
  }
}

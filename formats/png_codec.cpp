// PNG glue around libpng: stream read/write callbacks, a long-jump error
// function, and the conversion between the library's 8-bit RGB/RGBA rows
// and native 32-bit words. Palettes, grey, 16-bit samples and tRNS are
// expanded by the library's own transforms. As with the JPEG glue, every
// function that arms the long jump keeps its state in plain records reached
// by pointer. Fuzz target: fuzz_png.
#include "formats/png_codec.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <png.h>

#include "formats/pixel_buffer.h"
#include "graphics/fast_paths.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

void ErrorFn(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, size_t length) {
  auto* stream = static_cast<vlStream*>(png_get_io_ptr(png));
  if (ReadFileStream(stream, data, static_cast<int64_t>(length)) != static_cast<int64_t>(length))
    png_error(png, "Read error!");
}

struct WriteJob;
void WriteFn(png_structp png, png_bytep data, size_t length);
void FlushFn(png_structp png);

struct ReadJob {
  vlStream* stream;
  int probe;
  png_structp png;
  png_infop info;
  png_infop endInfo;
  uint32_t* pixels;
  uint8_t* row;
  uint8_t* image;
  int32_t width, height, alpha;
  int result;
};

void ConvertRow(const uint8_t* in, uint32_t* out, uint32_t width, int channels) {
  if (const vlSampleRowFn fast = FastSampleRow(channels)) {
    fast(in, reinterpret_cast<uint8_t*>(out), static_cast<int32_t>(width));
    return;
  }
  if (channels == 4) {
    for (uint32_t x = 0; x < width; ++x, in += 4)
      out[x] = (uint32_t{in[3]} << 24) | (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
  } else {
    for (uint32_t x = 0; x < width; ++x, in += 3)
      out[x] = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
  }
}

void FreeReadBuffers(ReadJob* job) {
  FreeMemory(job->row);
  FreeMemory(job->image);
  job->row = nullptr;
  job->image = nullptr;
}

// Destroys the structures and frees every buffer; the job's result is code.
void FailRead(ReadJob* job, int code) {
  png_destroy_read_struct(&job->png, &job->info, &job->endInfo);
  FreeReadBuffers(job);
  FreeMemory(job->pixels);
  job->pixels = nullptr;
  job->result = code;
}

void RunRead(ReadJob* job) {
  if (setjmp(png_jmpbuf(job->png))) {
    FailRead(job, ERR_LOADPICTURE2);
    return;
  }
  png_structp png = job->png;
  png_infop info = job->info;
  png_set_read_fn(png, job->stream, ReadFn);
  // Every chunk's CRC-32 is checked, the picture data's included, so the
  // deflate stream's own Adler-32 over the same bytes is not summed again
  // (a tenth of the decoding time).
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int resultType = png_get_color_type(png, info);
  const int channels = png_get_channels(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  job->width = static_cast<int32_t>(width);
  job->height = static_cast<int32_t>(height);
  job->alpha = resultType == PNG_COLOR_TYPE_RGB_ALPHA;
  if (job->probe) {
    png_destroy_read_struct(&job->png, &job->info, &job->endInfo);
    job->result = 0;
    return;
  }
  if ((channels != 3 && channels != 4) || png_get_bit_depth(png, info) != 8 ||
      rowBytes != size_t{width} * channels) {
    png_error(png, "unexpected row layout");
  }
  job->pixels = AllocPixelBuffer(width, height, 0);
  job->row = static_cast<uint8_t*>(AllocMemory(rowBytes, 0));
  if (!job->pixels || !job->row) {
    FailRead(job, ERR_MEM);
    return;
  }
  if (passes > 1) {
    job->image = static_cast<uint8_t*>(AllocMemory(rowBytes * height, 1));
    if (!job->image) {
      FailRead(job, ERR_MEM);
      return;
    }
    for (int pass = 0; pass < passes; ++pass)
      for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, job->image + rowBytes * y, nullptr);
    for (png_uint_32 y = 0; y < height; ++y)
      ConvertRow(job->image + rowBytes * y, job->pixels + size_t{y} * width, width, channels);
  } else {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, job->row, nullptr);
      ConvertRow(job->row, job->pixels + size_t{y} * width, width, channels);
    }
  }
  png_read_end(png, job->endInfo);
  png_destroy_read_struct(&job->png, &job->info, &job->endInfo);
  FreeReadBuffers(job);
  job->result = 0;
}

struct WriteJob {
  vlPNGWriteParams* params;
  png_structp png;
  png_infop info;
  vlReplacement out;
  uint8_t* row;
  int writeFailed;  // the library's error came from the file, not memory
};

void WriteFn(png_structp png, png_bytep data, size_t length) {
  auto* job = static_cast<WriteJob*>(png_get_io_ptr(png));
  if (WriteFileStream(job->out.stream, data, static_cast<int64_t>(length)) != static_cast<int64_t>(length)) {
    job->writeFailed = 1;
    png_error(png, "Write error!");
  }
}

void FlushFn(png_structp png) {
  auto* job = static_cast<WriteJob*>(png_get_io_ptr(png));
  if (!FlushFileStream(job->out.stream)) {
    job->writeFailed = 1;
    png_error(png, "Write error!");
  }
}

void RunWrite(WriteJob* job) {
  vlPNGWriteParams* p = job->params;
  if (setjmp(png_jmpbuf(job->png))) {
    png_destroy_write_struct(&job->png, &job->info);
    p->error = EndReplacement(&job->out, job->writeFailed ? ERR_WRITE : ERR_MEM);
    FreeMemory(job->row);
    job->row = nullptr;
    return;
  }
  if (OpenReplacement(&job->out, p->fileName, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) {
    png_destroy_write_struct(&job->png, &job->info);
    p->error = ERR_WRITEFILE;
    return;
  }
  png_structp png = job->png;
  png_set_write_fn(png, job, WriteFn, FlushFn);
  png_set_IHDR(png, job->info, p->width, p->height, 8, p->alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, job->info);
  const int channels = p->alpha ? 4 : 3;
  job->row = static_cast<uint8_t*>(AllocMemory(size_t{p->width} * channels, 0));
  if (!job->row) {
    png_destroy_write_struct(&job->png, &job->info);
    p->error = EndReplacement(&job->out, ERR_MEM);
    return;
  }
  const auto* src = static_cast<const uint8_t*>(p->pixels);
  for (uint32_t y = 0; y < p->height; ++y, src += p->rowStride) {
    uint8_t* out = job->row;
    for (uint32_t x = 0; x < p->width; ++x) {
      uint32_t word;
      memcpy(&word, src + size_t{x} * 4, 4);
      *out++ = static_cast<uint8_t>(word >> 16);
      *out++ = static_cast<uint8_t>(word >> 8);
      *out++ = static_cast<uint8_t>(word);
      if (p->alpha) *out++ = static_cast<uint8_t>(word >> 24);
    }
    png_write_row(png, job->row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&job->png, &job->info);
  p->error = EndReplacement(&job->out, 0);
  FreeMemory(job->row);
  job->row = nullptr;
}

}  // namespace

void ReadPNG(vlStream* stream, int probe, int32_t* width, int32_t* height, uint32_t** pixels, int32_t* alpha,
             int* result) {
  ReadJob job{};
  job.stream = stream;
  job.probe = probe;
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (job.png) job.info = png_create_info_struct(job.png);
  if (job.png) job.endInfo = png_create_info_struct(job.png);
  if (!job.png || !job.info || !job.endInfo) {
    png_destroy_read_struct(job.png ? &job.png : nullptr, job.info ? &job.info : nullptr,
                            job.endInfo ? &job.endInfo : nullptr);
    *result = ERR_MEM;
    return;
  }
  RunRead(&job);
  *result = job.result;
  if (job.result != 0) return;
  *width = job.width;
  *height = job.height;
  if (alpha) *alpha = job.alpha;
  if (pixels) *pixels = job.pixels;
  else FreeMemory(job.pixels);
}

void WritePNG(vlPNGWriteParams* params) {
  WriteJob job{};
  job.params = params;
  params->error = ERR_MEM;
  if (params->width == 0 || params->height == 0) return;
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (job.png) job.info = png_create_info_struct(job.png);
  if (!job.png || !job.info) {
    png_destroy_write_struct(job.png ? &job.png : nullptr, job.info ? &job.info : nullptr);
    return;
  }
  RunWrite(&job);
}

// JPEG glue around libjpeg: a source manager over a vlStream (64 KB
// buffer) or a memory block (handed over whole), with a fake end marker
// after truncated data, a growing memory destination, a colour converter
// that writes YCbCr pictures straight into 0x00RRGGBB words (libjpeg's own
// rule, vectorised through the fast-path table) and grey ones likewise, and a long-jump error
// exit. The functions that arm the long jump keep all their state in plain
// records reached by pointer and hold nothing with a destructor, so the
// jump only unwinds C frames.
// Fuzz target: fuzz_jpeg.
#include "formats/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <jpegint.h>  // the colour deconverter's entry, replaced for YCbCr pictures

#include "formats/pixel_buffer.h"
#include "graphics/fast_paths.h"
#include "runtime/os.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

// libjpeg-turbo decodes Huffman data on its fast path only while a few KB
// are buffered, so the buffer is large and memory is not copied at all.
constexpr size_t kBufferSize = 65536;

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void OutputMessage(j_common_ptr) {}
void EmitMessage(j_common_ptr, int) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }
void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

void InitErrorManager(ErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = ErrorExit;
  err->pub.output_message = OutputMessage;
  err->pub.emit_message = EmitMessage;
  err->pub.format_message = FormatMessage;
  err->pub.reset_error_mgr = ResetErrorManager;
}

// ---- source -------------------------------------------------------------

struct Source {
  jpeg_source_mgr pub;
  vlStream* stream;         // null for memory input
  const uint8_t* memory;
  uint32_t position;
  uint32_t size;
  JOCTET* buffer;
  int startOfFile;
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<Source*>(cinfo->src)->startOfFile = 1; }

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  size_t count = 0;
  if (src->stream) {
    int64_t n = ReadFileStream(src->stream, src->buffer, kBufferSize);
    count = n > 0 ? static_cast<size_t>(n) : 0;
  } else if (src->position < src->size) {
    src->pub.next_input_byte = src->memory + src->position;
    src->pub.bytes_in_buffer = src->size - src->position;
    src->position = src->size;
    src->startOfFile = 0;
    return TRUE;
  }
  if (count == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    count = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = count;
  src->startOfFile = 0;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* src = cinfo->src;
  if (count <= 0) return;
  while (count > static_cast<long>(src->bytes_in_buffer)) {
    count -= static_cast<long>(src->bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void InstallSource(j_decompress_ptr cinfo, void* source, uint32_t memorySize) {
  auto* src = static_cast<Source*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(Source)));
  memset(src, 0, sizeof *src);
  src->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kBufferSize));
  src->pub.init_source = InitSource;
  src->pub.fill_input_buffer = FillInputBuffer;
  src->pub.skip_input_data = SkipInputData;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = TermSource;
  if (memorySize == 0) {
    src->stream = static_cast<vlStream*>(source);
  } else {
    src->memory = static_cast<const uint8_t*>(source);
    src->size = memorySize;
  }
  cinfo->src = &src->pub;
}

// ---- decoding -------------------------------------------------------------

struct DecodeJob {
  void* source;
  uint32_t memorySize;
  int probe;
  int32_t width, height;
  uint32_t* pixels;
  int result;
  vlYUVRowFn rowConvert;  // the row converter of ConvertRows
};

// libjpeg's YCbCr to RGB rule, integer throughout: FIX(k) is k in 16.16
// rounded, each chroma term gets a half before the shift, and the sums are
// clamped to 0-255.
constexpr int32_t Fix(double k) { return static_cast<int32_t>(k * 65536 + 0.5); }
inline uint32_t Clamp8(int32_t v) { return v < 0 ? 0u : v > 255 ? 255u : static_cast<uint32_t>(v); }

void YCCRowPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int32_t count) {
  auto* words = reinterpret_cast<uint32_t*>(out);
  for (int32_t x = 0; x < count; ++x) {
    const int32_t Y = y[x], u = cb[x] - 128, v = cr[x] - 128;
    const uint32_t r = Clamp8(Y + ((Fix(1.40200) * v + 32768) >> 16));
    const uint32_t g = Clamp8(Y + ((-Fix(0.34414) * u + 32768 - Fix(0.71414) * v) >> 16));
    const uint32_t b = Clamp8(Y + ((Fix(1.77200) * u + 32768) >> 16));
    words[x] = r << 16 | g << 8 | b;
  }
}

// Grey samples copied into the three colour bytes, as libjpeg does.
void GreyRowPlain(const uint8_t* y, const uint8_t*, const uint8_t*, uint8_t* out, int32_t count) {
  auto* words = reinterpret_cast<uint32_t*>(out);
  for (int32_t x = 0; x < count; ++x) words[x] = y[x] * 0x010101u;
}

// Stands in for the library's colour conversion of YCbCr and grey
// pictures: the upsampled rows become 0x00RRGGBB words in the picture's
// own rows in one pass, the spare byte written 0 on the way.
void ConvertRows(j_decompress_ptr cinfo, JSAMPIMAGE in, JDIMENSION inRow, JSAMPARRAY out, int rows) {
  const vlYUVRowFn row = static_cast<const DecodeJob*>(cinfo->client_data)->rowConvert;
  const auto width = static_cast<int32_t>(cinfo->output_width);
  const int chroma = cinfo->num_components == 3 ? 1 : 0;  // grey: one plane
  for (int i = 0; i < rows; ++i, ++inRow)
    row(in[0][inRow], in[chroma][inRow], in[2 * chroma][inRow], out[i], width);
}

bool HasAdobeMarker(j_decompress_ptr cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 14 && m->data_length > 11 && memcmp(m->data, "Adobe", 5) == 0) return true;
  return false;
}

void ConvertCMYKScanline(const JSAMPLE* in, uint32_t* out, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4) {
    uint32_t c = in[0], m = in[1], y = in[2], k = in[3];
    if (inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    const uint32_t keep = 255 - k;
    const uint32_t r = (255 - c) * keep / 255, g = (255 - m) * keep / 255, b = (255 - y) * keep / 255;
    out[x] = (r << 16) | (g << 8) | b;
  }
}

// Runs with the long jump armed; job and cinfo live in the caller's frame.
void RunDecode(DecodeJob* job, jpeg_decompress_struct* cinfo, ErrorManager* err) {
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(cinfo);
    FreeMemory(job->pixels);
    job->pixels = nullptr;
    job->result = ERR_LOADPICTURE2;
    return;
  }
  jpeg_create_decompress(cinfo);
  InstallSource(cinfo, job->source, job->memorySize);
  jpeg_save_markers(cinfo, JPEG_APP0 + 14, 256);
  jpeg_read_header(cinfo, TRUE);
  job->width = static_cast<int32_t>(cinfo->image_width);
  job->height = static_cast<int32_t>(cinfo->image_height);
  if (job->probe) {
    jpeg_destroy_decompress(cinfo);
    job->result = 0;
    return;
  }
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  // Colour pictures decode straight into the picture's rows as 0x00RRGGBB
  // words (B, G, R, X bytes here).
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#else
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#endif
  jpeg_start_decompress(cinfo);
  // YCbCr and grey pictures (nearly all) convert through ConvertRows;
  // others (RGB, or without a separate colour converter) get the library's
  // conversion and their spare byte cleared afterwards.
  bool spareZeroed = false;
  const bool ycc = cinfo->jpeg_color_space == JCS_YCbCr && cinfo->num_components == 3;
  const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE && cinfo->num_components == 1;
  if (!cmyk && (ycc || grey) && cinfo->cconvert && cinfo->output_components == 4 && !cinfo->quantize_colors) {
    const vlYUVRowFn fast = ycc ? FastJPEGYCCRow() : FastJPEGGreyRow();
    job->rowConvert = fast ? fast : ycc ? YCCRowPlain : GreyRowPlain;
    cinfo->client_data = job;
    cinfo->cconvert->color_convert = ConvertRows;
    spareZeroed = true;
  }
  const bool inverted = cmyk && HasAdobeMarker(cinfo);
  job->pixels = AllocPixelBuffer(cinfo->output_width, cinfo->output_height, 0);
  if (!job->pixels) {
    jpeg_destroy_decompress(cinfo);
    job->result = ERR_MEM;
    return;
  }
  const JDIMENSION width = cinfo->output_width;
  const vlAndWordsFn clearSpare = FastAndWords();
  JSAMPARRAY row = nullptr;
  if (cmyk)
    row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                      cinfo->output_width * cinfo->output_components, 1);
  while (cinfo->output_scanline < cinfo->output_height) {
    uint32_t* out = job->pixels + static_cast<size_t>(cinfo->output_scanline) * cinfo->output_width;
    if (cmyk) {
      if (jpeg_read_scanlines(cinfo, row, 1) != 1) break;
      ConvertCMYKScanline(row[0], out, cinfo->output_width, inverted);
      continue;
    }
    // Several rows a call, so the upsampler writes them all in place
    // instead of through its spare row.
    JSAMPROW rows[16];
    const JDIMENSION want = cinfo->output_height - cinfo->output_scanline < 16
                                ? cinfo->output_height - cinfo->output_scanline
                                : 16;
    for (JDIMENSION i = 0; i < want; ++i) rows[i] = reinterpret_cast<JSAMPROW>(out + size_t{i} * width);
    const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, want);
    if (got == 0) break;
    if (spareZeroed) continue;
    if (clearSpare) {
      clearSpare(reinterpret_cast<uint8_t*>(out), size_t{got} * width, 0x00FFFFFFu);
    } else {
      // (the width in a local: the words could alias cinfo's fields)
      for (size_t i = 0, n = size_t{got} * width; i < n; ++i) out[i] &= 0x00FFFFFFu;
    }
  }
  job->width = static_cast<int32_t>(cinfo->output_width);
  job->height = static_cast<int32_t>(cinfo->output_height);
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  job->result = 0;
}

// ---- encoding -------------------------------------------------------------

struct OutputBuffer {
  uint8_t* data;
  uint32_t capacity;
  uint32_t length;
};

struct Destination {
  jpeg_destination_mgr pub;
  OutputBuffer* out;
  JOCTET* block;
};

void Append(j_compress_ptr cinfo, const JOCTET* bytes, size_t count) {
  OutputBuffer* out = reinterpret_cast<Destination*>(cinfo->dest)->out;
  if (count > UINT32_MAX - out->length) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  const uint32_t needed = out->length + static_cast<uint32_t>(count);
  if (needed > out->capacity) {
    uint64_t grown = out->capacity ? uint64_t{out->capacity} * 2 : kBufferSize;
    while (grown < needed) grown *= 2;
    if (grown > UINT32_MAX) grown = UINT32_MAX;
    auto* data = static_cast<uint8_t*>(realloc(out->data, grown));
    if (!data) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    out->data = data;
    out->capacity = static_cast<uint32_t>(grown);
  }
  memcpy(out->data + out->length, bytes, count);
  out->length = needed;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->block = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kBufferSize));
  dest->pub.next_output_byte = dest->block;
  dest->pub.free_in_buffer = kBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  Append(cinfo, dest->block, kBufferSize);
  dest->pub.next_output_byte = dest->block;
  dest->pub.free_in_buffer = kBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  Append(cinfo, dest->block, kBufferSize - dest->pub.free_in_buffer);
}

struct EncodeJob {
  vlJPEGEncodeParams* params;
  OutputBuffer* out;
  JSAMPLE* row;
};

void ConvertSourceRow(const uint8_t* src, JSAMPLE* row, uint32_t width, int byteOrder) {
  if (byteOrder) {
    for (uint32_t x = 0; x < width; ++x, src += 4, row += 3) {
      row[0] = src[1];
      row[1] = src[2];
      row[2] = src[3];
    }
    return;
  }
  for (uint32_t x = 0; x < width; ++x, row += 3) {
    uint32_t word;
    memcpy(&word, src + x * 4, 4);
    row[0] = static_cast<JSAMPLE>(word >> 16);
    row[1] = static_cast<JSAMPLE>(word >> 8);
    row[2] = static_cast<JSAMPLE>(word);
  }
}

void RunEncode(EncodeJob* job, jpeg_compress_struct* cinfo, ErrorManager* err, Destination* dest) {
  vlJPEGEncodeParams* p = job->params;
  if (setjmp(err->jump)) {
    free(job->out->data);
    job->out->data = nullptr;
    free(job->row);
    job->row = nullptr;
    jpeg_destroy_compress(cinfo);
    p->error = ERR_MEM;
    return;
  }
  jpeg_create_compress(cinfo);
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutputBuffer;
  dest->pub.term_destination = TermDestination;
  dest->out = job->out;
  cinfo->dest = &dest->pub;
  cinfo->image_width = p->width;
  cinfo->image_height = p->height;
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, p->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  job->row = static_cast<JSAMPLE*>(malloc(size_t{p->width} * 3));
  if (!job->row) {
    free(job->out->data);
    job->out->data = nullptr;
    jpeg_destroy_compress(cinfo);
    p->error = ERR_MEM;
    return;
  }
  const auto* src = static_cast<const uint8_t*>(p->pixels);
  JSAMPROW rows[1] = {job->row};
  for (uint32_t y = 0; y < p->height; ++y, src += p->rowStride) {
    ConvertSourceRow(src, job->row, p->width, p->byteOrder);
    jpeg_write_scanlines(cinfo, rows, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  free(job->row);
  job->row = nullptr;
  p->error = 0;
}

}  // namespace

int DecodeJPEG(void* source, uint32_t memorySize, int probe, int32_t* width, int32_t* height,
               uint32_t** pixels) {
  DecodeJob job{source, memorySize, probe, 0, 0, nullptr, ERR_LOADPICTURE2, nullptr};
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  memset(&cinfo, 0, sizeof cinfo);
  InitErrorManager(&err);
  cinfo.err = &err.pub;
  RunDecode(&job, &cinfo, &err);
  if (job.result != 0) return job.result;
  if (width) *width = job.width;
  if (height) *height = job.height;
  if (pixels) *pixels = job.pixels;
  else FreeMemory(job.pixels);
  return 0;
}

void EncodeJPEG(vlJPEGEncodeParams* params) {
  params->result = nullptr;
  params->data = nullptr;
  params->length = 0;
  params->error = ERR_MEM;
  if (params->width == 0 || params->height == 0 || params->width > JPEG_MAX_DIMENSION ||
      params->height > JPEG_MAX_DIMENSION)
    return;
  auto* handle = static_cast<vlEncodedJPEG*>(calloc(1, sizeof(vlEncodedJPEG)));
  auto* out = static_cast<OutputBuffer*>(calloc(1, sizeof(OutputBuffer)));
  const uint64_t start = uint64_t{params->width} * params->height * 3;
  if (handle && out && start <= UINT32_MAX) {
    out->data = static_cast<uint8_t*>(malloc(start));
    out->capacity = static_cast<uint32_t>(start);
  }
  if (!handle || !out || !out->data) {
    if (out) free(out->data);
    free(out);
    free(handle);
    return;
  }
  EncodeJob job{params, out, nullptr};
  jpeg_compress_struct cinfo;
  ErrorManager err;
  Destination dest;
  memset(&cinfo, 0, sizeof cinfo);
  memset(&dest, 0, sizeof dest);
  InitErrorManager(&err);
  cinfo.err = &err.pub;
  RunEncode(&job, &cinfo, &err, &dest);
  if (params->error != 0) {
    free(out->data);
    free(out);
    free(handle);
    return;
  }
  handle->data = out->data;
  handle->length = out->length;
  free(out);
  params->result = handle;
  params->data = handle->data;
  params->length = handle->length;
}

void FreeEncodedJPEG(vlEncodedJPEG* handle) {
  if (!handle) return;
  free(handle->data);
  free(handle);
}

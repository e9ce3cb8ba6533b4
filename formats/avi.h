// AVI files: the writer of anims and display recordings (MJPEG video in
// "01dc" chunks with a silent PCM track in "00wb", OpenDML super and
// standard indexes, "AVIX" segments past the first gigabyte, and an "idx1"
// index of the first segment), and a reader of uncompressed 24-bit and
// MJPEG video that finds frames through "idx1" or by walking "movi".
#pragma once
#include <cstdint>

#include "runtime/os.h"

struct vlBitmap;
struct vlStream;
struct vlEncodedJPEG;
struct vlAVIReader;

inline constexpr int kAVIIndexEntries = 2044;   // per standard index
inline constexpr int kAVISuperEntries = 1022;   // per super index

struct vlAVIStdIndexEntry {
  uint32_t offset;  // of the chunk's data from the segment's "RIFF"
  uint32_t size;
};

struct vlAVISuperEntry {
  uint64_t offset;
  uint32_t size;
  uint32_t duration;
};

// One open writer, owned by the anim-saving caller (or a display recorder).
struct vlAVIWriter {
  struct vlReplacement* output;  // the file, put in place when the writer closes
  vlStream* stream;          // its stream
  vlStream* indexStream;     // temporary "idx1" body
  uint32_t totalFrames;
  uint32_t segmentFrames;
  int32_t width, height;
  int32_t fps;
  int32_t quality;
  int32_t smooth;
  uint32_t flags;            // bit 2: a display recorder grabs its own frames
  uint32_t dirty;            // set while a recorded display changed
  vlTimeVal clock;           // a recorder's frame clock
  // A recorder that draws the mouse pointer keeps it here.
  void* currentPointer;
  void* systemPointer;
  void* busyPointer;
  uint32_t pointerHidden;
  char tempName[1024];
  uint64_t videoBytes;
  uint64_t segmentVideoBytes;
  uint32_t largestJPEG;
  uint32_t usPerFrame;
  vlEncodedJPEG* lastJPEG;
  uint32_t sampleRate;
  uint32_t samplesPerFrame;
  uint64_t audioSamples;
  uint64_t segmentAudioSamples;
  uint8_t* audio;            // one frame of silence
  char* title;
  char* fileName;
  uint32_t superEntries;
  uint32_t segmentIndexPairs;
  uint32_t indexEntries;     // in the current standard indexes
  uint32_t framesBeforeIndex;  // frames written before the current indexes
  vlAVISuperEntry audioSuper[kAVISuperEntries];
  vlAVISuperEntry videoSuper[kAVISuperEntries];
  vlAVIStdIndexEntry audioIndex[kAVIIndexEntries];
  vlAVIStdIndexEntry videoIndex[kAVIIndexEntries];
  int32_t indexesOpen;       // standard indexes exist and are not yet final
  uint64_t segmentLimit;
  uint64_t segmentStart;     // its "RIFF" position
  uint64_t moviPosition;     // its "movi" list position
  int32_t firstSegment;
};

// 0, 1000, 1052 (the name in the error argument), 1005 or 1055.
int OpenAVIWriter(const char* fileName, int32_t fps, uint32_t flags, int32_t width, int32_t height, int32_t quality,
                  int32_t smooth, int32_t zero, const char* title, const char* unused, vlAVIWriter** writer);
// 0, 1000, 1005, 1152 or the encoder's error.
int WriteAVIFrame(vlAVIWriter* writer, vlBitmap* picture, int32_t width, int32_t height, int32_t one, int32_t zero);
// Completes and closes the file; frees the writer: 0, 1005, 1530 or 1052.
// A non-zero status (the save failed on the way) drops the file instead
// and comes back; so does a failure here. No partial file stays.
int CloseAVIWriter(vlAVIWriter* writer, int status = 0);

// Takes over the stream (closed on failure). Null when the file is not an
// AVI with uncompressed 24-bit or MJPEG video.
vlAVIReader* OpenAVIReader(vlStream* stream, int32_t* width, int32_t* height, int32_t* frameCount);
// Frame n as a new width x height picture of 0x00RRGGBB words
// (AllocMemory), or null.
uint32_t* ReadAVIFrame(vlAVIReader* reader, int32_t n);
void CloseAVIReader(vlAVIReader* reader);
// The frame period from the main header, in microseconds (0 when unset).
uint32_t GetAVIMicrosPerFrame(const vlAVIReader* reader);
int32_t GetAVIVideoStream(const vlAVIReader* reader);
// The number of the PCM sound stream the reader delivers (8 or 16 bits, 1
// or 2 channels; tag 1 or its extensible form) with its format; -1 when
// there is none, -2 when its sound is of another kind.
int32_t GetAVIAudioFormat(const vlAVIReader* reader, int32_t* channels, int32_t* rate, int32_t* bits);
// The data chunk at *position (a file offset; 0 for the first of "movi"),
// walking into lists and later segments; *position moves past it. The
// bytes of a chunk of stream wanted are read into a new buffer
// (AllocMemory), other chunks only report their stream and size. 1, or 0
// at the end of the file or on a damaged chunk.
int ReadAVIChunk(vlAVIReader* reader, int64_t* position, int32_t wanted, int32_t* stream, uint8_t** data,
                 uint32_t* size);

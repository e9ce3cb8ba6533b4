/* The plug-in interface, continued: the types of the loader, saver and
 * adapter entries and the records they take. Part of abi/plugin_abi.h,
 * which includes it where these types are needed; include that header,
 * not this one. */
#ifndef VL_RUNTIME_PLUGIN_ABI_H
#error "include abi/plugin_abi.h, not abi/plugin_entries.h"
#endif
#ifndef VL_RUNTIME_PLUGIN_ENTRIES_H
#define VL_RUNTIME_PLUGIN_ENTRIES_H

/* ------------------------------------------------------------------------
 * Loaders, savers and the other adapters: a type for every entry, named
 * after it (vlIsImageFn for IsImage and so on), and the records they take.
 * A record the player hands in is its own: zeroed before the call unless
 * said otherwise, read after the call, never kept by the plug-in. Memory a
 * plug-in hands out stays the plug-in's until the entry named for its
 * release gives it back.
 *
 * Picture loaders (PLUGINCAPS_IMAGE): IsImage, LoadImage and GetImage
 * share one record of twelve 32-bit words and the caller's context, a
 * pointer-sized word on this platform. */
typedef struct vlPluginImageRecord {
  int32_t width;          /* 0, out */
  int32_t height;         /* 1, out */
  int32_t third;          /* 2, out: handed to the caller as is */
  int32_t hasAlpha;       /* 3, out: the pixels' alpha bytes count */
  int32_t forceAlpha;     /* 4, out: the caller makes an alpha channel as if it had asked for one */
  int32_t vector;         /* 5, out: 1 a vector picture, drawn anew at other sizes through TransformImage */
  uint32_t flags;         /* 6, VL_IMGREC_*: in VL_IMGREC_WANTKEY; out VL_IMGREC_NATURAL, VL_IMGREC_ALPHA */
  int32_t requestWidth;   /* 7, in: the size asked for: 0 the picture's own, negative a percentage of it */
  int32_t requestHeight;  /* 8, in */
  int32_t naturalWidth;   /* 9, out with VL_IMGREC_NATURAL: a vector picture's own size (else the player */
  int32_t naturalHeight;  /* 10, out     takes the requested size as its own) */
  int32_t smooth;         /* 11, in: the caller scales smoothly */
  const char* context;    /* 12, in: the caller's adapter list ("adapter" option), "" when none */
} vlPluginImageRecord;
VL_ABI_ASSERT(offsetof(vlPluginImageRecord, naturalWidth) == 36 && offsetof(vlPluginImageRecord, context) == 48 &&
                  sizeof(vlPluginImageRecord) == 56,
              "vlPluginImageRecord changed");
#define VL_IMGREC_NATURAL 1u  /* out of LoadImage: words 9 and 10 hold the natural size */
#define VL_IMGREC_WANTKEY 2u  /* in: the caller wants a transparent colour */
#define VL_IMGREC_ALPHA   2u  /* out of IsImage: the picture carries alpha */
/* IsImage (file, record): non-zero when the file is the plug-in's, with
 * width, height, hasAlpha, vector and flags filled; nothing is loaded. */
typedef int (*vlIsImageFn)(const char* file, vlPluginImageRecord* record);
/* LoadImage (file, record): the plug-in's handle of the loaded picture, or
 * null when the file is not its own (the next loader is asked). Fills the
 * out words. */
typedef void* (*vlLoadImageFn)(const char* file, vlPluginImageRecord* record);
/* GetImage (handle, record): width x height words 0xAARRGGBB, rows one
 * after another, owned by the plug-in and read until FreeImage or the next
 * TransformImage of the handle. Fills width, height, third and hasAlpha. */
typedef uint32_t* (*vlGetImageFn)(void* handle, vlPluginImageRecord* record);
/* FreeImage (handle): releases the handle and its pixels. */
typedef void (*vlFreeImageFn)(void* handle);
/* TransformImage (handle, transform, width, height): draws the picture
 * anew into width x height pixels under the matrix transform[0..3]
 * (x' = t0 x + t1 y + t4, y' = t2 x + t3 y + t5), the offsets in
 * transform[4] and [5]; GetImage then gives the new pixels. 0 fails
 * (error 1469). */
typedef int (*vlTransformImageFn)(void* handle, const double* transform, int32_t width, int32_t height);

/* Anim loaders (PLUGINCAPS_ANIM). OpenAnim's record: eight 32-bit words
 * with the adapter list pointer-sized. */
typedef struct vlPluginAnimOpenRecord {
  int32_t width;        /* out */
  int32_t height;       /* out */
  int32_t ignored1;
  int32_t frameCount;   /* out */
  int32_t hasAlpha;     /* out */
  int32_t ignored2;
  const char* adapter;  /* in: the caller's adapter list ("adapter" option), "" when none */
  uint32_t flags;       /* in: bit 0 load the transparent colour */
} vlPluginAnimOpenRecord;
/* LoadFrame's record. */
typedef struct vlPluginAnimFrameRecord {
  int32_t reserved[4];
  int32_t loadAlpha;        /* in: the frame's alpha bytes are wanted */
  int32_t hasTransparency;  /* out: the frame has a transparent colour or alpha */
  int32_t reserved6;
  uint32_t flags;           /* in: bit 0 as the anim was opened with */
} vlPluginAnimFrameRecord;
VL_ABI_ASSERT(offsetof(vlPluginAnimOpenRecord, flags) == 32 && sizeof(vlPluginAnimFrameRecord) == 32,
              "the anim records changed");
/* OpenAnim (file, record): the anim's handle, or null when the file is not
 * the plug-in's. */
typedef void* (*vlOpenAnimFn)(const char* file, vlPluginAnimOpenRecord* record);
/* LoadFrame (handle, index from 0, record, 0): width x height words
 * 0xAARRGGBB, or null on failure; handed back to FreeFrame. */
typedef uint32_t* (*vlLoadFrameFn)(void* handle, int32_t index, vlPluginAnimFrameRecord* record, int32_t zero);
typedef void (*vlFreeFrameFn)(uint32_t* pixels);
/* GetFrameDelay (handle, index): the frame's delay in milliseconds. */
typedef int32_t (*vlGetFrameDelayFn)(void* handle, int32_t index);
typedef void (*vlCloseAnimFn)(void* handle);

/* Sound readers (PLUGINCAPS_SOUND). OpenStream's format record, zeroed by
 * the player, which sets the sub-song it wants. */
typedef struct vlSoundStreamFormat {
  uint32_t rate;      /* out: frames per second */
  uint32_t frames;    /* out: the length, VL_SOUND_LENGTH_OPEN when open-ended */
  uint32_t channels;  /* out: 1 or 2 */
  uint32_t bits;      /* out: 8 or 16 (others cannot be played) */
  uint32_t flags;     /* out: VL_SOUNDFMT_* */
  uint32_t subsongs;  /* out: 0 counts as 1 */
  uint32_t subsong;   /* in: 0 the first opening, else the sub-song wanted from 1 */
  uint32_t bitRate;   /* out: bits per second, 0 when unknown */
} vlSoundStreamFormat;
VL_ABI_ASSERT(sizeof(vlSoundStreamFormat) == 32, "vlSoundStreamFormat changed");
#define VL_SOUNDFMT_BIG_ENDIAN 1u
#define VL_SOUNDFMT_SIGNED     2u
#define VL_SOUNDFMT_SEEKABLE   4u
#define VL_SOUND_LENGTH_OPEN 0xFFFFFFFFu
#define VL_SOUND_STREAM_VERSION 1 /* the version OpenStream receives */
/* One read: the reader writes up to frames interleaved frames to buffer
 * (the player's), sets framesOut to the frames written and end non-zero
 * once the stream has ended. */
typedef struct vlSoundReadRequest {
  void* buffer;
  uint32_t frames;
  uint32_t framesOut;
  uint32_t end;
} vlSoundReadRequest;
/* OpenStream (file, format, VL_SOUND_STREAM_VERSION, the caller's adapter
 * list, "" for none): the stream's handle, or null when the file is not
 * the plug-in's. */
typedef void* (*vlOpenStreamFn)(const char* file, vlSoundStreamFormat* format, uint32_t version,
                                const char* adapter);
typedef void (*vlCloseStreamFn)(void* handle);
/* SeekStream (handle, frame): asked of a stream that says
 * VL_SOUNDFMT_SEEKABLE, and of any for frame 0 (a rewind); the player
 * counts from that frame on, and does not read the result. */
typedef int (*vlSeekStreamFn)(void* handle, uint32_t frame);
/* StreamSamples (handle, request): framesOut and end carry the answer (a
 * read error ends the stream); the result is not read. */
typedef int (*vlStreamSamplesFn)(void* handle, vlSoundReadRequest* request);
/* GetFormatName (handle): a text of the plug-in's, kept while the stream is open. */
typedef const char* (*vlGetFormatNameFn)(void* handle);

/* Vector engines (PLUGINCAPS_VECTOR): the vectorgraphics library's paths
 * and the vector fonts. A path is a buffer of commands {uint32_t code,
 * arguments}, 4-byte aligned, ended by VL_PATH_END. Arguments: uint32_t
 * flags and levels, doubles (read them with memcpy: they need not be
 * 8-byte aligned), a pointer-sized font handle, and strings stored
 * NUL-terminated in (n & ~3) + 4 bytes for n characters. */
#define VL_PATH_END     0u
#define VL_PATH_MOVE    1u  /* uint32_t relative, double x, y */
#define VL_PATH_LINE    2u  /* uint32_t relative, double x, y */
#define VL_PATH_CURVE   3u  /* uint32_t relative, double x1, y1, x2, y2, x3, y3 */
#define VL_PATH_SUBPATH 5u  /* none */
#define VL_PATH_CLOSE   6u  /* none */
#define VL_PATH_ARC     7u  /* double cx, cy, rx, ry, start, end (degrees), uint32_t clockwise */
#define VL_PATH_BOX     8u  /* double x, y, width, height, uint32_t corner levels a, b, c, d */
#define VL_PATH_TEXT    9u  /* font handle (CreateVectorFont's), uint32_t size in pixels, UTF-8 string */
#define VL_JOINMITER 0u
#define VL_JOINROUND 1u
#define VL_JOINBEVEL 2u
#define VL_CAPBUTT   0u
#define VL_CAPROUND  1u
#define VL_CAPSQUARE 2u
#define VL_FILLRULEWINDING 0u
#define VL_FILLRULEEVENODD 1u
/* A 2x2 matrix: x' = a x + c y, y' = b x + d y. */
typedef struct vlPathTransform {
  double a, b, c, d;
} vlPathTransform;
/* The line state a request points to. */
typedef struct vlLineStateCopy {
  uint32_t join;       /* VL_JOIN* */
  uint32_t cap;        /* VL_CAP* */
  uint32_t fillRule;   /* VL_FILLRULE* */
  uint32_t antiAlias;
  double dashOffset;
  const double* dashes;
  uint32_t dashCount;
} vlLineStateCopy;
/* GetPathExtents: into x1..y2 the box of the path (filled, or stroked at
 * lineWidth), every point moved by (x, y) and then transformed. The player
 * always asks with x = y = 0: the box of the path at its own coordinates,
 * in pixels, unrounded. */
typedef struct vlPathExtentsRequest {
  const uint8_t* commands;
  const vlLineStateCopy* lineState;
  uint32_t fill;       /* 1 fill, 0 stroke */
  uint32_t lineWidth;  /* pixels */
  double x, y;
  double x1, y1, x2, y2;  /* out */
  const vlPathTransform* transform;  /* null: none */
} vlPathExtentsRequest;
/* DrawPath: the path's coverage, one byte a pixel (0 uncovered, 255
 * covered), written into the player's buffer of width x height bytes,
 * rowBytes a row. The buffer's first byte is the whole pixel holding the
 * top-left corner of the path's box, as GetPathExtents gives it for the
 * same commands, fill, lineWidth and transform: floor(x1), floor(y1), and
 * the buffer spans ceil(x2) - floor(x1) by ceil(y2) - floor(y1) pixels.
 * So the engine draws the path at its own coordinates less that corner,
 * not at the position, which arrives as 0. The buffer comes all 0 and is
 * drawn into once, so writing, adding and taking the larger byte give the
 * same. An engine whose vector extension word has bit 0 gets the position
 * in x, y and the transform; without it the position comes in zero1 and
 * zero2 (and again in x, y), the transform stays null, and the player
 * draws the path untransformed: it measures it with the identity and
 * sizes the buffer for that box, leaving a draw tag's transform out. */
typedef struct vlPathDrawRequest {
  const uint8_t* commands;
  const vlLineStateCopy* lineState;
  uint32_t fill;
  uint32_t lineWidth;
  uint32_t reserved;
  uint8_t* coverage;
  int32_t rowBytes;
  int32_t width;
  int32_t height;
  uint32_t reserved2;
  double zero1, zero2;
  double x, y;
  const vlPathTransform* transform;
} vlPathDrawRequest;
/* TranslatePath: moves every point of the commands (in place) by dx, dy. */
typedef struct vlPathTranslateRequest {
  uint8_t* commands;
  double dx, dy;
} vlPathTranslateRequest;
VL_ABI_ASSERT(sizeof(vlLineStateCopy) == 40 && offsetof(vlPathExtentsRequest, transform) == 72 &&
                  offsetof(vlPathDrawRequest, transform) == 88 && sizeof(vlPathTranslateRequest) == 24,
              "the vector records changed");
typedef void (*vlGetPathExtentsFn)(vlPathExtentsRequest* request);
typedef int (*vlDrawPathFn)(vlPathDrawRequest* request); /* 1 drawn, 0 failed */
typedef void (*vlTranslatePathFn)(vlPathTranslateRequest* request);
/* GetCurrentPoint (commands, line state, x, y): where the path ends. */
typedef void (*vlGetCurrentPointFn)(const uint8_t* commands, const vlLineStateCopy* lineState, double* x,
                                    double* y);
/* CreateVectorFont (a FreeType face the player opened): the handle
 * VL_PATH_TEXT carries; FreeVectorFont releases it (not the face). */
typedef void* (*vlCreateVectorFontFn)(void* face);
typedef void (*vlFreeVectorFontFn)(void* handle);
/* OpenFont (font file bytes, byte count): a face of the engine, null on
 * failure; CloseFont releases it. The player reads the bytes only during
 * the call. */
typedef void* (*vlOpenFontFn)(const void* data, size_t size);
typedef void (*vlCloseFontFn)(void* face);

/* Video decoders (PLUGINCAPS_VIDEO). OpenVideo's format record, zeroed,
 * with endPosition preset to -2 and adapter to the caller's adapter list
 * ("adapter" option), "" when none is named. */
typedef struct vlVideoFormat {
  uint32_t width;
  uint32_t height;
  uint32_t lengthMs;
  uint32_t audioRate;
  uint32_t audioChannels;   /* 0: no sound */
  uint32_t unitMode;        /* non-zero: positions in the decoder's own units */
  uint32_t unitsPerSecond;
  uint32_t argb;            /* 1: frames of bytes A, R, G, B; 0: planar YUV 4:2:0 */
  uint32_t flags;           /* bit 0 seekable */
  uint32_t reserved;
  double frameDuration;     /* seconds */
  int64_t endPosition;      /* -1 none */
  const char* adapter;      /* in: never null */
} vlVideoFormat;
/* What NextPacket hands out; the data goes back to FreePacket. */
typedef struct vlVideoPacketRecord {
  void* data;
  uint32_t kind;  /* 0 video, else audio */
  uint32_t size;
  uint32_t unused;
  double time;    /* seconds, -1.0 none */
} vlVideoPacketRecord;
/* A decoded frame. An ARGB decoder writes into pixels (the player's buffer
 * of width x height words, the bytes A, R, G, B in memory order); a YUV
 * decoder points planes (Y, U, V) at its own buffers, valid until its next
 * call. */
typedef struct vlDecodedFrame {
  uint32_t* pixels;
  const uint8_t* planes[3];
  int32_t planeRowBytes[3];
  double decodeStamp;        /* seconds, -1.0 none */
  double presentationStamp;  /* seconds, -1.0 none */
  int64_t position;          /* the frame's place in the decoder's own units (unitMode,
                                unitsPerSecond), read only with unitMode set; -1 none */
  int32_t repeat;
} vlDecodedFrame;
VL_ABI_ASSERT(offsetof(vlVideoFormat, adapter) == 56 && sizeof(vlVideoPacketRecord) == 32 &&
                  offsetof(vlDecodedFrame, repeat) == 72,
              "the video records changed");
/* OpenVideo (file, format): the decoder's handle, null when the file is
 * not the plug-in's. */
typedef void* (*vlOpenVideoFn)(const char* file, vlVideoFormat* format);
typedef void (*vlCloseVideoFn)(void* decoder);
/* NextPacket: 0 or more a packet, -1 the end, other negative values no
 * packet yet. */
typedef int (*vlNextPacketFn)(void* decoder, vlVideoPacketRecord* packet);
typedef void (*vlFreePacketFn)(void* decoder, void* data);
/* DecodeVideoFrame: 0 when the frame record holds a frame (any other
 * value drops the packet). */
typedef int (*vlDecodeVideoFrameFn)(void* decoder, void* data, uint32_t size, vlDecodedFrame* frame);
/* DecodeAudioFrame: 16-bit PCM in this machine's byte order, of the
 * format's rate and channels, into buffer (capacity bytes), the bytes
 * made in *bytes; 1 once the packet is used up, 0 to be called again with
 * the same packet. */
typedef int (*vlDecodeAudioFrameFn)(void* decoder, void* data, uint32_t size, int16_t* buffer, uint32_t capacity,
                                    uint32_t* bytes);
/* SeekVideo (decoder, position, unit mode): milliseconds, or the
 * decoder's units when the format set unitMode; 0, or non-zero when it
 * cannot go there. */
typedef int (*vlSeekVideoFn)(void* decoder, int64_t position, uint32_t unitMode);
typedef void (*vlFlushAudioFn)(void* decoder);
typedef void (*vlFlushVideoFn)(void* decoder);
typedef uint32_t (*vlGetVideoFramesFn)(void* decoder);
typedef const char* (*vlGetVideoFormatFn)(void* decoder); /* a text of the decoder's */

/* Script conversion (PLUGINCAPS_CONVERT): GetScript and FreeScript are
 * looked up but never called on this platform. */
typedef vlPluginEntry vlGetScriptFn;
typedef vlPluginEntry vlFreeScriptFn;

/* Sample savers (PLUGINCAPS_SAVESAMPLE): SaveSample (file, record), 0 on
 * failure. The PCM is the player's, read during the call. Each format row
 * of RegisterSampleSaver becomes a script constant named SMPFMT_ and the
 * row's name (a row "FLAC" is #SMPFMT_FLAC, any case), worth its formatId,
 * which savesample passes on as the record's formatId. */
typedef struct vlSaveSampleRecord {
  const uint8_t* pcm;  /* interleaved frames */
  uint32_t bytes, frames, channels, bits, rate;
  uint32_t flags;      /* VL_SAMPLE_SIGNED, VL_SAMPLE_BIGENDIAN */
  uint32_t formatId;   /* the format row's id */
} vlSaveSampleRecord;
VL_ABI_ASSERT(sizeof(vlSaveSampleRecord) == 40, "vlSaveSampleRecord changed");
typedef int (*vlSaveSampleFn)(const char* file, const vlSaveSampleRecord* record);

/* Timer adapters (PLUGINCAPS_TIMERADAPTER, installed by system slot 39).
 * RegisterTimer (state, milliseconds, one shot): a non-zero handle, 0 when
 * the timer cannot be made. When the timer is due, call system slot 38,
 * RunHandlerById (state, (void*)handle), on the script's thread: from the
 * display adapter's HandleEvents, or, without a display adapter, from the
 * function of a VL_AEV_CALL event that the timer's own thread posts
 * through system slot 15 (PostAdapterEvent), which the player calls on
 * the script's thread the next time it runs event handlers (waitevent,
 * checkevent, checkevents). A handler run through RunHandlerById is not
 * the event a waitevent waits for: waitevent runs it and waits on. A
 * repeating timer stays until
 * FreeTimer (handle); a one-shot timer the adapter drops itself once it
 * has reported it (the player frees only one ended before it was due). */
typedef uintptr_t (*vlRegisterTimerFn)(vlVMState* state, uint32_t millis, int oneShot);
typedef void (*vlFreeTimerFn)(uintptr_t handle);

/* Requester adapters (PLUGINCAPS_REQUESTERADAPTER, installed by requester
 * slot 3). requesterFlags (word 25) says which requesters it shows: 2
 * SystemRequest, 4 FileRequest, 8 PathRequest, 16 StringRequest, 32
 * ListRequest, 64 FontRequest, 128 ColorRequest; the others stay the
 * player's. display is the adapter's handle of the current display, or
 * null. Each answers 0 or an error code; a text it hands out through
 * *result is its own memory, given back to FreeRequest (kind, text) once
 * the player has copied it; a null text means cancelled.
 * SystemRequest (display, title, body, kind, *result, tags {1 the flag,
 *   2 the button texts '|'-separated, with kind 16}): kind 1 OK, 2 OK |
 *   Cancel, 4 Yes | No, 8 Yes | No | Cancel, 16 own buttons; added 32, 64,
 *   128, 256 or 512 for the icons 0 to 4. *result the button chosen from
 *   1, the last one 0. */
typedef int (*vlSystemRequestFn)(void* display, const char* title, const char* body, uint32_t kind,
                                 int32_t* result, const vlTagItem* tags);
/* FileRequest (display, title, kind 0 open, 1 several files, 2 save,
 * *result, tags {1 flag, 2 pattern, 3 directory, 4 file}): the path, or
 * for kind 1 NUL-separated paths ended by an empty one. FreeRequest kind 0. */
typedef int (*vlFileRequestFn)(void* display, const char* title, uint32_t kind, char** result,
                               const vlTagItem* tags);
/* PathRequest (display, title, kind 1 save / new, *result, tags {1 flag,
 * 2 directory}): a folder. FreeRequest kind 1. */
typedef int (*vlPathRequestFn)(void* display, const char* title, uint32_t kind, char** result,
                               const vlTagItem* tags);
/* StringRequest (display, title, body, kind, *result, tags {1 flag, 2
 * default text, 3 maximum length}): kind 0 for text (the script gave no
 * type, or type 0), 4 for a number (type 3); 1, 2 and 8 stand for the
 * types 1, 2 and 4, which the script's command refuses; added 16 for a
 * password. FreeRequest kind 2. */
typedef int (*vlStringRequestFn)(void* display, const char* title, const char* body, uint32_t kind, char** result,
                                 const vlTagItem* tags);
/* ListRequest (display, title, body, choices, 0, *result, tags {1 flag,
 * 2 the default choice}, the player's own record of the display, opaque):
 * choices are texts each ended by a zero byte, the list by an empty one;
 * *result the choice counted from 0, -1 when cancelled. */
typedef int (*vlListRequestFn)(void* display, const char* title, const char* body, const char* choices,
                               uint32_t zero, int32_t* result, const vlTagItem* tags, void* playerDisplay);
/* FontRequest (display, title, *result "name|size|colour", *style, tags
 * {1 flag, 2 name, 3 size}): style bits 0-10 the weight (the lowest set
 * bit: 0, 40, 50, 75, 80, 100, 180, 200, 205, 210, 215), 11-13 the slant
 * (0, 100, 110), 14-17 underline, strikeout, bold, italic. FreeRequest
 * kind 3. */
typedef int (*vlFontRequestFn)(void* display, const char* title, char** result, uint32_t* style,
                               const vlTagItem* tags);
/* ColorRequest (display, title, 0, *result 0xRRGGBB or -1, tags {1 flag,
 * 2 the default colour}). */
typedef int (*vlColorRequestFn)(void* display, const char* title, uint32_t zero, int32_t* result,
                                const vlTagItem* tags);
typedef void (*vlFreeRequestFn)(uint32_t kind, void* text);

/* Audio adapters (PLUGINCAPS_AUDIOADAPTER, installed by sound slot 2). The
 * player pulls nothing: the adapter calls the fill callback of each
 * channel from its own threads whenever it wants frames (of the channel's
 * sample format) and plays what it gets; fewer frames than asked for mean
 * the channel has ended. */
typedef uint32_t (*vlAdapterFillFn)(void* audio, void* channel, void* buffer, uint32_t frames, void* entry);
typedef void* (*vlOpenAudioFn)(void* reserved1, void* reserved2); /* the device, null: no sound */
typedef void (*vlCloseAudioFn)(void* audio);
/* AllocAudioChannel (audio, format, rate, volume 0..64, fill, 0, entry,
 * flags): the channel; fill gets entry back with every call. format is the
 * frames' layout, not the script's #MONO8..#STEREO16: 0 unsigned 8-bit
 * mono, 1 unsigned 8-bit stereo, 2 signed 8-bit mono, 3 signed 8-bit
 * stereo, 4 signed 16-bit mono, 5 signed 16-bit stereo (odd: stereo; 4
 * and 5: 16-bit; above 1: signed). 16-bit values come in this machine's
 * byte order on every channel (samples, music, modules, a video's sound),
 * whatever the order of the file, reader or sample they came from: a
 * big-endian IFF 16SV file, a reader's VL_SOUNDFMT_BIG_ENDIAN and a
 * sample's VL_SAMPLE_BIGENDIAN are undone on the way. The frames the fill
 * callback hands over are the sound's own, unscaled: volume and panning
 * are the adapter's to apply, from the volume given here and the
 * VL_AUDIOTAG_VOLUME and VL_AUDIOTAG_PANNING tags of SetChannelAttributes
 * (a channel starts centred). */
typedef void* (*vlAllocAudioChannelFn)(void* audio, uint32_t format, uint32_t rate, uint32_t volume,
                                       vlAdapterFillFn fill, void* reserved, void* entry, uint32_t flags);
typedef void (*vlFreeAudioChannelFn)(void* audio, void* channel);
typedef void (*vlSetChannelAttributesFn)(void* audio, void* channel, const vlTagItem* tags); /* VL_AUDIOTAG_* */
#define VL_AUDIOTAG_RATE    1u  /* Hz */
#define VL_AUDIOTAG_VOLUME  2u  /* 0..64 */
#define VL_AUDIOTAG_PANNING 3u  /* 0..255, 128 the centre */
/* Sound slot 2, SetAudioAdapter (plug-in, flags, tags): tags are uint32_t
 * {tag, value} pairs ended by tag 0; the adapter's word 22 (buffer size,
 * 2048 by default) and word 23 (channels, the player's channel count by
 * default) take them. 0; 1566 for an applet made for a program below 6.0, 1055
 * without PLUGINCAPS_AUDIOADAPTER, 1518 outside plug-in initialisation,
 * once sound output has started, for no channels, or when a locked
 * adapter is installed. */
#define VL_AUDIOADAPTER_BUFFERSIZE 1u
#define VL_AUDIOADAPTER_CHANNELS   2u
#define VL_AUDIOADAPTER_LOCKED 1u  /* no later adapter may replace this one */
#define VL_AUDIOADAPTER_UPDATE 2u  /* already installed: take only the buffer size, at any time */

#endif /* VL_RUNTIME_PLUGIN_ENTRIES_H */

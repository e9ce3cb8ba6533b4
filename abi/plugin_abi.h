/* The plug-in interface: what a separately built plug-in (a shared object
 * named NAME.vlp) exports, the block it describes itself in and the service
 * table of player routines it is handed. The header stands alone and reads
 * as C99 or as C++17 and later; the C++ conveniences are at the end. The
 * records are shared with code built elsewhere, so their layouts are pinned
 * by the checks below: slots and words are only ever appended.
 *
 * Entry points a plug-in exports (by these names, with C linkage: a C++
 * plug-in declares them extern "C"):
 *
 *   int InitPlugin(vlPluginInfo* info, const vlServiceTable* services,
 *                  const char* path, void* handle)
 *       Always. Fills info: capabilities (PLUGINCAPS_* bits), version and
 *       revision, moduleName (must equal the file's base name without
 *       ".vlp" and a leading '_'; "default", "standard", "inbuilt",
 *       "vellamora", "system" and "native" are refused) and the other
 *       texts, and lowers programVersion/programRevision (preset to 6.1)
 *       to the oldest player it runs on. Keep services for later calls.
 *       Returns non-zero on success; 0 refuses the load (not followed by
 *       ClosePlugin).
 *   void ClosePlugin(void)
 *       Always. Called once before the file is unloaded, also when a later
 *       check refused the plug-in after InitPlugin succeeded.
 *   uint32_t GetExtensions(uint32_t capability, uint32_t zero)
 *       With PLUGINCAPS_EXTENSIONS: the extension word of each other
 *       capability bit the plug-in claims (0 when none).
 *
 * Then the entries of every capability claimed (all of them are looked up;
 * a missing one refuses the plug-in with "Error loading plugin symbol: %s"):
 *
 *   PLUGINCAPS_LIBRARY: const char* GetBaseTable(void) (the library's name,
 *     or null), const vlCommand* GetCommands(void) (rows ended by a null
 *     name; command names are matched case-insensitively and registered in
 *     lower case), const vlConstant* GetConstants(void) (ended by a null
 *     name; may be null), int InitLibrary(vlVMState*) (0 or an error code),
 *     void FreeLibrary(vlVMState*); with bit 0 of the library extension
 *     word also int GetLibraryCount(void) and void SetCurrentLibrary(int).
 *     A command handler is a vlNativeFn: it reads its arguments and pushes
 *     its results through services->vm and returns the number of results
 *     (0 to 999) or an error code (1000 and up).
 *   PLUGINCAPS_REQUIRE: int RequirePlugin(vlVMState*, int32_t version,
 *     int32_t revision, uint32_t zero, const vlTagItem* tags): 0 or an
 *     error code.
 *   PLUGINCAPS_SAVEIMAGE / SAVEANIM / SAVESAMPLE: RegisterImageSaver,
 *     RegisterAnimSaver, RegisterSampleSaver fill one vlSaverFormat per call
 *     (flags bit 3, 4 and 0 respectively: more formats follow); SaveImage
 *     (vlSaveImageFn), BeginAnimStream, WriteAnimFrame, FinishAnimStream
 *     (non-zero: success) and SaveSample.
 *   PLUGINCAPS_FILEADAPTER and PLUGINCAPS_DIRADAPTER: the F... and ...Dir
 *     entries typed in VL_PLUGIN_ENTRIES below.
 *   PLUGINCAPS_IMAGE, ANIM, SOUND, VECTOR, VIDEO, CONVERT, DISPLAYADAPTER,
 *     TIMERADAPTER, REQUESTERADAPTER, AUDIOADAPTER: the entries listed
 *     under each in VL_PLUGIN_ENTRIES. Every entry has a type named after
 *     it (vlIsImageFn for IsImage, vlSystemRequestFn for SystemRequest),
 *     given with the records it takes and what it answers; assigning the
 *     plug-in's function to a variable of that type lets the compiler check
 *     it. The loaders treat a null handle or pixel pointer and a zero "is
 *     it mine" answer as "not this plug-in's file".
 */
#ifndef VL_RUNTIME_PLUGIN_ABI_H
#define VL_RUNTIME_PLUGIN_ABI_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/time.h>
#include <time.h>

#ifdef __cplusplus
#define VL_ABI_ASSERT(condition, what) static_assert(condition, what)
#define VL_ENUM_U32 enum : uint32_t
#else
#define VL_ABI_CAT2(a, b) a##b
#define VL_ABI_CAT(a, b) VL_ABI_CAT2(a, b)
#define VL_ABI_ASSERT(condition, what) \
  typedef char VL_ABI_CAT(vlAbiCheck, __COUNTER__)[(condition) ? 1 : -1]
#define VL_ENUM_U32 enum
#endif

typedef struct vlVMState vlVMState;
typedef struct vlServiceTable vlServiceTable;
typedef struct vlPluginInfo vlPluginInfo;
typedef struct vlPluginFileType vlPluginFileType;
typedef struct vlCommandHook vlCommandHook;
typedef struct vlCommandHookHandler vlCommandHookHandler;

VL_ABI_ASSERT(sizeof(void*) == 8, "the plug-in records are laid out for 64-bit pointers");

/* A script command's handler: results pushed, their count returned (or an
 * error code of 1000 and up). */
typedef int (*vlNativeFn)(vlVMState* state);

/* A command-table row; a table ends with a row whose name is null. */
typedef struct vlCommand {
  const char* name;
  vlNativeFn handler;
} vlCommand;

/* A constants-table row; a list ends with a row whose name is null. A row
 * with a string value is a string constant, otherwise a number constant. */
typedef struct vlConstant {
  const char* name;
  const char* stringValue;
  double number;
} vlConstant;

/* Tag lists: arrays of {tag, value} pairs ended by tag 0 (VL_TAG_END). A
 * value may carry a pointer, so it is pointer-sized. */
typedef struct vlTagItem {
  uint32_t tag;
  uintptr_t value;
} vlTagItem;
VL_ENUM_U32 { VL_TAG_END = 0 };

/* How a script names an object: a number it chose (handle null), or for an
 * automatic identifier the record's own address (number 0). */
typedef struct vlObjectId {
  int32_t number;
  void* handle;
} vlObjectId;

/* Time as gettimeofday gives it; micros stays within 0 .. 999,999. */
typedef struct vlTimeVal {
  uint32_t seconds;
  uint32_t micros;
} vlTimeVal;

/* String builder of the VM sub-table, usually on the caller's stack.
 * Finished pieces wait on the VM stack; the block collects small appends.
 * A plug-in that fills the block returned by PrepStrBuf advances p itself. */
#define VL_STRBUF_SIZE 1024
typedef struct vlStrBuf {
  char* p;         /* write pointer into buffer */
  int32_t pieces;  /* pieces already pushed on the VM stack */
  vlVMState* state;
  char buffer[VL_STRBUF_SIZE];
} vlStrBuf;

/* A calendar date and time of day in local time: day 1..31, month 1..12,
 * full year. */
typedef struct vlDateRecord {
  int32_t day;
  int32_t month;
  int32_t year;
  int32_t hours;
  int32_t minutes;
  int32_t seconds;
} vlDateRecord;

/* The status block a file adapter fills; dates are local calendar dates. */
typedef struct vlAdapterStat {
  uint32_t isDirectory;
  uint64_t size;
  uint32_t protection;
  char comment[256];
  vlDateRecord accessDate;
  vlDateRecord modifyDate;
  vlDateRecord changeDate;
  uint32_t words[2];
} vlAdapterStat;

/* Command hooks: a plug-in may take over chosen built-in command handlers;
 * while its hook function runs, errors raised through the VM's services are
 * offered to the hook's error function first. */
typedef int (*vlCommandHookFn)(vlCommandHook* hook, vlVMState* state, vlNativeFn handler, void* userData);
typedef int (*vlCommandHookErrorFn)(vlCommandHook* hook, vlVMState* state, int code, void* userData);
struct vlCommandHookHandler {
  vlCommandHookHandler* next;
  vlNativeFn handler;
};
struct vlCommandHook {
  vlCommandHook* next;
  vlCommandHookFn hook;
  vlCommandHookErrorFn error;
  vlCommandHookHandler* handlers;
  uint32_t disabled;
  void* userData;
};

/* Capability bits (word 0 of the info block). */
VL_ENUM_U32 {
  PLUGINCAPS_CONVERT = 0x1,
  PLUGINCAPS_LIBRARY = 0x2,
  PLUGINCAPS_IMAGE = 0x4,
  PLUGINCAPS_ANIM = 0x8,
  PLUGINCAPS_SOUND = 0x10,
  PLUGINCAPS_VECTOR = 0x20,
  PLUGINCAPS_VIDEO = 0x40,
  PLUGINCAPS_SAVEIMAGE = 0x80,
  PLUGINCAPS_SAVEANIM = 0x100,
  PLUGINCAPS_SAVESAMPLE = 0x200,
  PLUGINCAPS_REQUIRE = 0x400,
  PLUGINCAPS_DISPLAYADAPTER = 0x800,
  PLUGINCAPS_TIMERADAPTER = 0x1000,
  PLUGINCAPS_REQUESTERADAPTER = 0x2000,
  PLUGINCAPS_FILEADAPTER = 0x4000,
  PLUGINCAPS_DIRADAPTER = 0x8000,
  PLUGINCAPS_AUDIOADAPTER = 0x10000,
  PLUGINCAPS_EXTENSIONS = 0x20000
};

/* The program version a plug-in may ask for at most. */
#define VL_PLUGIN_PROGRAM_VERSION 6
#define VL_PLUGIN_PROGRAM_REVISION 1

/* The generic entry type: the script-conversion entries, which this
 * player never calls, are of it. */
typedef void (*vlPluginEntry)(void);

/* A file type a plug-in reads; strings are stored right behind the node. */
struct vlPluginFileType {
  vlPluginFileType* next;
  uint32_t type;
  const char* name;
  const char* mimeType;  /* may be null */
  const char* extensions;
  uint32_t formatId;     /* kept only when flags bit 0 is set */
  uint32_t flags;
};

/* One saver format as a plug-in's saver registration entry reports it. */
typedef struct vlSaverFormat {
  uint32_t flags;
  uint32_t formatId;
  const char* name;
} vlSaverFormat;

/* The picture a saver plug-in's SaveImage gets, with the open stream to
 * write to and the format id: int SaveImage(stream, image, format), 0 on
 * failure. Palette savers (format row without flag bit 0) get one index
 * byte per pixel and the palette; the others 0xAARRGGBB words. */
typedef struct vlSaverImage {
  void* pixels;
  const uint32_t* palette;   /* null for ARGB pixels */
  int32_t width, height;
  int32_t rowBytes;
  int32_t colorCount;        /* palette entries */
  int32_t transparentIndex;  /* valid with VL_SAVERIMG_TRANSPARENT */
  uint32_t flags;            /* VL_SAVERIMG_* */
} vlSaverImage;
VL_ENUM_U32 { VL_SAVERIMG_ARGB = 1, VL_SAVERIMG_ALPHA = 2, VL_SAVERIMG_TRANSPARENT = 4 };
/* Format-row flags of image and anim savers. */
VL_ENUM_U32 { VL_SAVERFMT_ARGB = 1, VL_SAVERFMT_ALPHA = 4 };
typedef int (*vlSaveImageFn)(void* stream, const vlSaverImage* image, uint32_t format);

/* One frame for an anim saver's WriteAnimFrame (handle, frame). */
typedef struct vlSaverAnimFrame {
  void* pixels;  /* palette indices, or ARGB words */
  uint32_t* palette;
  int32_t rowLength;  /* bytes */
  int32_t colorCount;
  int32_t transparentIndex;
  int32_t delay;     /* milliseconds */
  uint32_t flags;    /* 1 the ARGB pixels carry alpha, 2 the transparent index is valid */
  uint32_t formatId;
} vlSaverAnimFrame;
typedef void* (*vlBeginAnimStreamFn)(const char* file, int32_t width, int32_t height, uint32_t mode,
                                     int32_t quality, int32_t fps);
typedef int (*vlWriteAnimFrameFn)(void* handle, vlSaverAnimFrame* frame);
typedef int (*vlFinishAnimStreamFn)(void* handle);

/* The entry points, in block order: F(name, result, parameters) for the
 * entries typed here, D(name, type) for those typed below (vlNAMEFn, with
 * their records) and for data words. */
#define VL_PLUGIN_ENTRIES(F, D)                                                                         \
  F(InitPlugin, int, (vlPluginInfo*, const vlServiceTable*, const char*, void*))                        \
  F(ClosePlugin, void, (void))                                                                          \
  D(IsImage, vlIsImageFn) D(LoadImage, vlLoadImageFn) D(GetImage, vlGetImageFn)                         \
  D(FreeImage, vlFreeImageFn) D(TransformImage, vlTransformImageFn)                                     \
  D(OpenAnim, vlOpenAnimFn) D(LoadFrame, vlLoadFrameFn) D(FreeFrame, vlFreeFrameFn)                     \
  D(GetFrameDelay, vlGetFrameDelayFn) D(CloseAnim, vlCloseAnimFn)                                       \
  D(OpenStream, vlOpenStreamFn) D(CloseStream, vlCloseStreamFn) D(SeekStream, vlSeekStreamFn)           \
  D(StreamSamples, vlStreamSamplesFn) D(GetFormatName, vlGetFormatNameFn)                               \
  D(GetPathExtents, vlGetPathExtentsFn) D(DrawPath, vlDrawPathFn) D(TranslatePath, vlTranslatePathFn)   \
  D(GetCurrentPoint, vlGetCurrentPointFn) D(CreateVectorFont, vlCreateVectorFontFn)                     \
  D(FreeVectorFont, vlFreeVectorFontFn) D(OpenFont, vlOpenFontFn) D(CloseFont, vlCloseFontFn)           \
  D(OpenVideo, vlOpenVideoFn) D(CloseVideo, vlCloseVideoFn) D(NextPacket, vlNextPacketFn)               \
  D(FreePacket, vlFreePacketFn) D(DecodeVideoFrame, vlDecodeVideoFrameFn)                               \
  D(DecodeAudioFrame, vlDecodeAudioFrameFn) D(SeekVideo, vlSeekVideoFn) D(FlushAudio, vlFlushAudioFn)   \
  D(FlushVideo, vlFlushVideoFn) D(GetVideoFrames, vlGetVideoFramesFn) D(GetVideoFormat, vlGetVideoFormatFn) \
  F(GetBaseTable, const char*, (void))                                                                  \
  F(GetCommands, const vlCommand*, (void))                                                              \
  F(GetConstants, const vlConstant*, (void))                                                            \
  F(InitLibrary, int, (vlVMState*))                                                                     \
  F(FreeLibrary, void, (vlVMState*))                                                                    \
  F(GetLibraryCount, int, (void))                                                                       \
  F(SetCurrentLibrary, void, (int))                                                                     \
  D(GetScript, vlGetScriptFn) D(FreeScript, vlFreeScriptFn)                                             \
  F(RegisterImageSaver, void, (vlSaverFormat*))                                                         \
  D(SaveImage, vlSaveImageFn)                                                                           \
  D(imageSaverFormats, vlSaverFormat*)                                                                  \
  F(RegisterAnimSaver, void, (vlSaverFormat*))                                                          \
  D(BeginAnimStream, vlBeginAnimStreamFn) D(WriteAnimFrame, vlWriteAnimFrameFn)                         \
  D(FinishAnimStream, vlFinishAnimStreamFn)                                                             \
  D(animSaverFormats, vlSaverFormat*)                                                                   \
  F(RegisterSampleSaver, void, (vlSaverFormat*))                                                        \
  D(SaveSample, vlSaveSampleFn)                                                                         \
  D(sampleSaverFormats, vlSaverFormat*)                                                                 \
  F(RequirePlugin, int, (vlVMState*, int32_t, int32_t, uint32_t, const vlTagItem*))                     \
  D(HandleEvents, vlHandleEventsFn) D(WaitEvents, vlWaitEventsFn)                                       \
  D(ForceEventLoopIteration, vlForceEventLoopIterationFn) D(Sleep, vlSleepFn) D(VWait, vlVWaitFn)       \
  D(DetermineBorderSizes, vlDetermineBorderSizesFn) D(OpenDisplay, vlOpenDisplayFn)                     \
  D(CloseDisplay, vlCloseDisplayFn) D(ChangeBufferSize, vlChangeBufferSizeFn)                           \
  D(ShowHideDisplay, vlShowHideDisplayFn) D(SizeMoveDisplay, vlSizeMoveDisplayFn)                       \
  D(SetDisplayTitle, vlSetDisplayTitleFn) D(ActivateDisplay, vlActivateDisplayFn)                       \
  D(SetDisplayAttributes, vlSetDisplayAttributesFn) D(CreatePointer, vlCreatePointerFn)                 \
  D(FreePointer, vlFreePointerFn) D(SetPointer, vlSetPointerFn) D(ShowHidePointer, vlShowHidePointerFn) \
  D(MovePointer, vlMovePointerFn) D(GetMousePos, vlGetMousePosFn) D(GetQualifiers, vlGetQualifiersFn)   \
  D(BltBitMap, vlBltBitMapFn) D(RectFill, vlRectFillFn) D(WritePixel, vlWritePixelFn)                   \
  D(Line, vlLineFn) D(GetMonitorInfo, vlGetMonitorInfoFn) D(FreeMonitorInfo, vlFreeMonitorInfoFn)       \
  D(GrabScreenPixels, vlGrabScreenPixelsFn) D(FreeGrabScreenPixels, vlFreeGrabScreenPixelsFn)           \
  D(AdapterMainLoop, vlAdapterMainLoopFn) D(BeginDoubleBuffer, vlBeginDoubleBufferFn)                   \
  D(EndDoubleBuffer, vlEndDoubleBufferFn) D(Flip, vlFlipFn) D(Cls, vlClsFn)                             \
  D(AllocVideoBitMap, vlAllocVideoBitMapFn) D(FreeVideoBitMap, vlFreeVideoBitMapFn)                     \
  D(ReadVideoPixels, vlReadVideoPixelsFn) D(FreeVideoPixels, vlFreeVideoPixelsFn)                       \
  D(DoVideoBitMapMethod, vlDoVideoBitMapMethodFn) D(AllocBitMap, vlAllocBitMapFn)                       \
  D(FreeBitMap, vlFreeBitMapFn) D(LockBitMap, vlLockBitMapFn) D(UnLockBitMap, vlUnLockBitMapFn)         \
  D(GetBitMapAttr, vlGetBitMapAttrFn)                                                                   \
  D(RegisterTimer, vlRegisterTimerFn) D(FreeTimer, vlFreeTimerFn)                                       \
  D(SystemRequest, vlSystemRequestFn) D(FileRequest, vlFileRequestFn) D(PathRequest, vlPathRequestFn)   \
  D(StringRequest, vlStringRequestFn) D(ListRequest, vlListRequestFn) D(FontRequest, vlFontRequestFn)   \
  D(ColorRequest, vlColorRequestFn) D(FreeRequest, vlFreeRequestFn)                                     \
  F(FOpen, void*, (const char*, uint32_t, const vlTagItem*))                                            \
  F(FClose, int, (void*))                                                                               \
  F(FRead, int64_t, (void*, void*, int64_t))                                                            \
  F(FGetC, int, (void*))                                                                                \
  F(FWrite, int64_t, (void*, const void*, int64_t))                                                     \
  F(FPutC, int, (void*, int))                                                                           \
  F(FSeek, int64_t, (void*, int64_t, int))                                                              \
  F(FFlush, int, (void*))                                                                               \
  F(FEof, int, (void*))                                                                                 \
  F(FStat, int, (void*, uint32_t, vlAdapterStat*, const vlTagItem*))                                    \
  F(Stat, int, (const char*, uint32_t, vlAdapterStat*, const vlTagItem*))                               \
  F(OpenDir, void*, (const char*, uint32_t, const vlTagItem*))                                          \
  F(CloseDir, void, (void*))                                                                            \
  F(NextDirEntry, int, (void*, uint32_t, const char**, uint32_t*, vlAdapterStat*))                      \
  D(OpenAudio, vlOpenAudioFn) D(CloseAudio, vlCloseAudioFn) D(AllocAudioChannel, vlAllocAudioChannelFn) \
  D(FreeAudioChannel, vlFreeAudioChannelFn) D(SetChannelAttributes, vlSetChannelAttributesFn)           \
  F(GetExtensions, uint32_t, (uint32_t, uint32_t))

#define VL_PLUGIN_ENTRY_COUNT 131


/* ------------------------------------------------------------------------
 * Display adapters (PLUGINCAPS_DISPLAYADAPTER).
 *
 * A display adapter replaces the player's X11 windows: every display, its
 * pointer, its input, waits and drawing go to the entries below. It is
 * installed by graphics slot 13, SetDisplayAdapter (info, user data, tags
 * {1 refresh rate, 2 and 3 the adapter words}), only while the plug-ins
 * named at start-up (-requireplugins, or the script's plug-in
 * declarations) are opened: from the plug-in's RequirePlugin entry, or
 * from its InitPlugin when it is first loaded then (a file name starting
 * with "_" keeps it out of the start-up scan). At any other time, the
 * InitPlugin of the start-up scan included, the answer is 1518. The
 * entries are looked up by name; all 43 are mandatory (AdapterMainLoop
 * only with bit 0 of the display extension word). The display handle is
 * what OpenDisplay gave. */

/* Word 16, displayCaps. The low four bits also answer the player's
 * picture queries: 1 the adapter scales its pictures (and a video bitmap
 * it refuses may be made by the player), 2 it transforms them, 4 it
 * double-buffers displays (BeginDoubleBuffer, Flip, EndDoubleBuffer) and
 * draws into its hardware brushes (the script selects one with
 * SelectBrush), 8 it draws into their masks and alpha channels (SelectMask,
 * SelectAlphaChannel; see "Planes" below).
 * The gate: hardware brushes (word 24 bit 16), keeping pictures for any
 * display (word 24 bit 2), drawing into hardware brushes and their planes
 * (bits 4 and 8 here) and mixing (word 24 bit 32) are used only when this
 * word also has VL_DISPCAPS_DRAWCLOSED (16); without it a script's
 * hardware brushes are the player's own pictures. Scaling, transforming
 * and double-buffering (bits 1, 2 and 4) are asked for without the gate.
 * VL_DISPCAPS_SLEEP (1) thus says three things at once: the adapter has
 * Sleep, it scales pictures, and when AllocVideoBitMap refuses a hardware
 * brush or a picture of the player's, the player makes that picture
 * itself; without the bit the refusal is error 1522, unless word 24 has
 * VL_DISPCAPS2_NOBITMAP (4), which counts a refused picture of the
 * player's as one the adapter keeps. An adapter that sleeps but cannot
 * scale is still asked to scale its pictures (AllocVideoBitMap with
 * VL_VBM_ADAPTERSOURCE and words 2 and 3): it refuses, and the player
 * scales them in software. */
VL_ENUM_U32 {
  VL_DISPCAPS_SLEEP = 1,        /* has Sleep */
  VL_DISPCAPS_VWAIT = 2,        /* has VWait */
  VL_DISPCAPS_MONITORS = 4,     /* GetMonitorInfo answers (and the picture query 4 above) */
  VL_DISPCAPS_GRAB = 8,         /* GrabScreenPixels answers (and the picture query 8 above) */
  VL_DISPCAPS_DRAWCLOSED = 16,  /* draws on displays that are not open but have a handle */
};
/* Word 17, displayFlags. */
VL_ENUM_U32 {
  VL_DISPFLAG_SCALES = 8,                  /* scales display blits itself */
  VL_DISPFLAG_VIDEO_BITMAPS = 16,          /* makes video bitmaps (AllocVideoBitMap) */
  VL_DISPFLAG_OWNS_BITMAPS = 32,           /* owns every picture and plane (AllocBitMap) */
};
/* Counts alpha inversely: 255 transparent (past the range of a C enum). */
#define VL_DISPFLAG_INVERSE_ALPHA 0x80000000u
/* Word 20, displayAccel: the drawing into the pictures it owns that an
 * adapter owning every bitmap (flag 32) does itself. The bits count only
 * with flag 32, so that every handle it is given is its own; each bit
 * sends that drawing to the picture form of BltBitMap (plain, masked,
 * alpha), RectFill, WritePixel or Line with mode 2 (blits) or 1 (the
 * others); without the bit the player draws into the picture through
 * LockBitMap. Video bitmaps (flag 16) are drawn into through the picture
 * forms whatever this word holds, with the modes below. Either way the
 * adapter must draw the pixels the player's software would: a mask bit set
 * copies the pixel; an alpha byte a of 0 keeps the target, 255 copies,
 * else each channel becomes d + (((s - d) * a) >> 8), shifted
 * arithmetically; a line takes, at each step along its longer axis, the
 * pixel nearest the exact line, halves rounded away from the end with the
 * smaller coordinate. */
VL_ENUM_U32 {
  VL_ACCEL_BLIT = 1,
  VL_ACCEL_MASKED_BLIT = 2,
  VL_ACCEL_ALPHA_BLIT = 4,
  VL_ACCEL_FILL = 8,
  VL_ACCEL_PIXEL = 16,
  VL_ACCEL_LINE = 32,
};
/* Word 24, displayCaps2. */
VL_ENUM_U32 {
  VL_DISPCAPS2_DISPLAYS = 2,    /* plug-ins reach its displays; it keeps pictures for any display */
  VL_DISPCAPS2_NOBITMAP = 4,    /* a refused video bitmap is no error: the picture stays the player's */
  VL_DISPCAPS2_HARDWARE = 16,   /* hardware brushes and back buffers */
  VL_DISPCAPS2_MIXES = 32,      /* mixes display blits by a level (tags 8 and 9 of BltBitMap's display form) */
};

/* The picture form of BltBitMap: the rectangle, then, for the masked form
 * the mask plane's handle and for the alpha form the alpha plane's; the
 * planes are read at the source's coordinates. */
typedef struct vlAdapterBlitBlock {
  int32_t srcX, srcY, dstX, dstY, width, height;
  uint32_t reserved[3];
  void* maskHandle;
  void* alphaHandle;
} vlAdapterBlitBlock;
/* The modes the picture forms receive, per form.
 * RectFill, WritePixel, Line (handle, ..., colour, mode, 0):
 *   1 a picture of an owning adapter, for word 20 bit 8, 16 or 32;
 *   2 one of its video bitmaps (a hardware brush the script draws into),
 *     word 20 whatever it holds; the colour is 0xAARRGGBB and only the
 *     colour bytes of the picture change, its alpha bytes stay;
 *   2 | 4 the video bitmap's mask or alpha channel is the drawing target:
 *     the word is not a colour but plane << 8 | value (see "Planes");
 *   2 | 8 combo mode (see "Combo"): the drawn pixels' alpha bytes become
 *     255 as well.
 * BltBitMap's picture form (source, target, vlAdapterBlitBlock*, mode):
 *   2 pictures of an owning adapter, for word 20 bit 1, 2 or 4;
 *   4 the target is one of its video bitmaps and so is the source (or
 *     every picture is its own); a picture of the player reaches a video
 *     bitmap through LockBitMap instead;
 *   added: 1 the source is a video bitmap; 8 that source was never
 *   prepared (DoVideoBitMapMethod); 64 (every form) combo mode, reserved[0]
 *   the alpha mode, reserved[1] the plane kept (see "Combo"); 16 the
 *   target's mask or alpha channel is the drawing target:
 *   reserved[1] holds the plane, reserved[2] the value (see "Planes");
 *   32 no source: the colour in reserved[0] is laid through the alpha
 *   plane (VL_ACCEL_ALPHA_BLIT; layer shadows).
 * A source video bitmap whose alpha bytes count (made with VL_VBM_ALPHA,
 * made from such a picture, or prepared for its planes) is blended into
 * the target by its own alpha bytes, as the alpha form blends by a plane;
 * the player does the same when it reads such a picture through
 * LockBitMap or ReadVideoPixels.
 * Combo: a video bitmap selected with SelectBrush (id, SELMODE_COMBO, alpha
 * mode), or with SelectLayer (layer, SELMODE_COMBO, 0, alpha mode) on a
 * layer holding a hardware brush's picture, also while the display
 * double-buffers (never a double buffer's own back buffer), has its colours
 * and its alpha bytes (its mask or alpha channel) drawn together; selected
 * normally, only its colours change and its alpha bytes stay. In combo mode
 * the pixel forms make the drawn pixels opaque (255), and a blit's
 * reserved[1] says which plane the target keeps. VL_PLANE_ALPHA: a plain
 * blit copies the colours and writes 255; a masked blit does both only under
 * set mask bits; an alpha blit (the plane's byte s, or a source's own alpha
 * bytes) goes by the alpha mode: 0 copies the colours and writes s over the
 * whole rectangle; 1 does so only where s is not 0; 2 keeps pixels where s
 * is 0, copies where s is 255 and else, with t the target's alpha byte,
 * writes o = ((255 - s) * t + 255 * s + 127) / 255 and mixes each channel as
 * (src * s + dst * k + 127) / o (at most 255), k = ((255 - s) * t + 127) /
 * 255. VL_PLANE_MASK (alpha bytes 0 or 255): the colours go as without
 * combo; a plain blit writes 255, a masked blit the mask bit (255 or 0) and
 * an alpha blit 255 where s is 255, else 0, over the whole rectangle. The
 * player keeps the same rules on video bitmaps it draws into through
 * LockBitMap. */
/* The earlier names of some of these bits, kept for plug-ins that use them. */
VL_ENUM_U32 { VL_PICMODE_PIXELS = 1, VL_PICMODE_BLIT = 2, VL_PICMODE_VIDEO = 4, VL_PICMODE_COLOR = 32 };
VL_ENUM_U32 { VL_PIXMODE_ACCEL = 1, VL_PIXMODE_VIDEO = 2, VL_PIXMODE_PLANE = 4, VL_PIXMODE_COMBO = 8 };
VL_ENUM_U32 {
  VL_BLITMODE_SOURCEVIDEO = 1,
  VL_BLITMODE_ACCEL = 2,
  VL_BLITMODE_VIDEO = 4,
  VL_BLITMODE_UNPREPARED = 8,
  VL_BLITMODE_PLANE = 16,
  VL_BLITMODE_COLOR = 32,
  VL_BLITMODE_COMBO = 64,
};
/* Planes. A hardware brush's mask and its alpha channel are both the alpha
 * bytes of its video bitmap; a mask bit is set where the byte is not 0,
 * and mask drawing writes 255 or 0. Before the first drawing into them the
 * player calls DoVideoBitMapMethod (bitmap, VL_VBM_PREPARE, {1 the plane})
 * once: from then on the picture's alpha bytes count, and a picture whose
 * alpha bytes did not count starts with every one 255 (all shown, all
 * opaque). The colour bytes never change while a plane is drawn into.
 *   VL_PLANE_MASK, value a mask mode: the pixel forms show (0, 2, 5), hide
 *   (1), toggle (3) or keep (4) every pixel they draw; a blit takes the
 *   source's coverage s at each pixel (a set mask bit, an alpha byte not 0,
 *   every pixel of a plain source) and shows where s (0), hides where s
 *   (1), sets d = s (2), d = d xor s (3), d = d and s (4), d = d or s (5).
 *   VL_PLANE_ALPHA, value the alpha byte: the pixel forms write it (255
 *   for the value 255 the player sends for "unset"); a blit writes it
 *   where the source covers; the value 0xFFFFFFFF copies the source's own
 *   coverage instead: an alpha source's bytes over the whole rectangle,
 *   255 under a set mask bit, 255 for a plain source.
 * Plane values count alpha as 255 opaque whatever VL_DISPFLAG_INVERSE_ALPHA
 * says; the adapter stores them as it keeps alpha. */
VL_ENUM_U32 { VL_PLANE_MASK = 28, VL_PLANE_ALPHA = 30 };
VL_ENUM_U32 { VL_VBM_PREPARE = 1 };

/* LockBitMap's record: pixels, non-zero locked, pixel format (10: ARGB
 * words; 14 alpha plane, 15 mask plane), bytes per pixel, row length
 * (pixels for a picture, bytes for a plane), width, height, and non-zero
 * when no UnLockBitMap is needed. The player zeroes the record; the
 * adapter fills pixels, row length, width and height, and the player then
 * sets locked, format and bytes per pixel itself (10 and 4 for a picture,
 * a video bitmap included: its pixels must be ARGB words; 14 or 15 and 1
 * for a plane), whatever the adapter wrote there. */
typedef struct vlAdapterLock {
  uint8_t* pixels;
  int32_t locked;
  int32_t format;
  int32_t bytesPerPixel;
  int32_t rowLength;
  int32_t width;
  int32_t height;
  int32_t direct;
} vlAdapterLock;

/* ReadVideoPixels' record: the pixels (also its result), row bytes, pixel
 * format (10-13 for 32-bit, 4 for RGB 5-6-5) and non-zero when the alpha
 * bytes count. */
typedef struct vlVideoPixels {
  void* pixels;
  int32_t rowBytes;
  int32_t format;
  int32_t hasAlpha;
} vlVideoPixels;

/* AllocVideoBitMap tags: 1 an ARGB buffer (rows of width words), or with
 * flag 2 a picture the adapter holds; 2, 3, 4 words of the picture's
 * source (with flag 2 and words 2 and 3, a size to scale that picture
 * to); 5 four doubles, a 2x2 matrix to transform it by; 6 the display. */
VL_ENUM_U32 {
  VL_VBM_SOURCE = 1,
  VL_VBM_WORD1 = 2,
  VL_VBM_WORD2 = 3,
  VL_VBM_WORD3 = 4,
  VL_VBM_MATRIX = 5,
  VL_VBM_DISPLAY = 6,
};
/* AllocVideoBitMap flags: 1 the ARGB alpha bytes count, 2 the source is
 * an adapter picture, 8 a video bitmap. */
VL_ENUM_U32 { VL_VBM_ALPHA = 1, VL_VBM_ADAPTERSOURCE = 2, VL_VBM_VIDEO = 8 };
/* AllocBitMap flags of a plane (else a picture of ARGB words), with the
 * tags {1 the picture a mask is for, 2 a buffer the plane borrows, 3 its
 * row bytes}; VL_ABM_CLEAR: the bytes start at 0. */
VL_ENUM_U32 { VL_ABM_ALPHAPLANE = 0x10000, VL_ABM_MASKPLANE = 0x20000, VL_ABM_CLEAR = 0x40000 };

/* The entries, in slot order, with what each does. Colours are
 * 0xAARRGGBB (alpha inverted with VL_DISPFLAG_INVERSE_ALPHA). */
/* After every script line: post input (system slot 27), run due timers;
 * an error code ends the script (1003 quits). It takes the place of the
 * player's own event step, so it must also call system slot 20,
 * ServiceEvents (state, 2), every time: that step draws the video frames
 * the video threads have queued (and polls the joysticks). An adapter
 * whose event entries never call it shows no video at all. With flag 1
 * added the step also runs the callbacks that are due; WaitEvents, when
 * it wakes, does the same as HandleEvents. */
typedef int (*vlHandleEventsFn)(vlVMState*, uint32_t context, uintptr_t zero);
/* Input an adapter posts: PostAdapterEvent (kind, words) or, from the
 * script's thread with its state, PostAdapterEventVM (state, kind, words,
 * 0) (system slots 15 and 27), any thread. words points at five
 * pointer-sized words, laid out as vlAdapterEvent (pass (const uintptr_t*)
 * &event); the player copies what it needs before the call returns,
 * except for a registered kind. The kinds, and the words each reads:
 *   VL_AEV_QUIT (0): none; the script is asked to quit.
 *   VL_AEV_CALL (1): word[0] an int (*)(vlVMState*, void*) and word[1] its
 *     argument: called on the script's thread at its next event step.
 *   VL_AEV_MOUSE (3): word[0] x, word[1] y (display pixels), word[2] the
 *     button (0 a move, 1 left, 2 right, 3 middle), word[3] non-zero down.
 *   VL_AEV_KEY (4): word[0] the key code as the script's key events
 *     report it, word[1] non-zero down, word[2] the qualifier bits (as
 *     GetQualifiers answers them).
 *   VL_AEV_CLOSE (5): the close button; VL_AEV_SIZE (6): word[0], word[1]
 *     the new inner width and height; VL_AEV_MOVE (7): word[0], word[1] the
 *     new position; VL_AEV_SHOW (8): word[0] 0 hidden, else shown;
 *     VL_AEV_ACTIVE (9): word[0] non-zero the display has the focus.
 *   A code from RegisterEventType (28 and up): the words pointer itself is
 *     the event's data word, handed to the type's fields routine; it must
 *     stay valid until then.
 * Kinds 3 to 9 name the display by its number in display (the script's
 * display number); the answer is 0, 1344 when no display has that number,
 * 1528 when the queue refuses the event, or 1000. */
typedef struct vlAdapterEvent {
  uintptr_t display;
  uintptr_t word[4];
} vlAdapterEvent;
VL_ABI_ASSERT(sizeof(vlAdapterEvent) == 5 * sizeof(uintptr_t), "vlAdapterEvent changed");
VL_ENUM_U32 {
  VL_AEV_QUIT = 0,
  VL_AEV_CALL = 1,
  VL_AEV_MOUSE = 3,
  VL_AEV_KEY = 4,
  VL_AEV_CLOSE = 5,
  VL_AEV_SIZE = 6,
  VL_AEV_MOVE = 7,
  VL_AEV_SHOW = 8,
  VL_AEV_ACTIVE = 9
};
/* Blocks until input comes or ForceEventLoopIteration runs. */
typedef int (*vlWaitEventsFn)(vlVMState*, uint32_t context, uintptr_t* scratch, uintptr_t zero);
typedef int (*vlForceEventLoopIterationFn)(uint32_t zero); /* wake WaitEvents; any thread */
typedef int (*vlSleepFn)(vlVMState*, int32_t millis); /* sleep, taking input (VL_DISPCAPS_SLEEP) */
typedef int (*vlVWaitFn)(void* display, const vlTagItem* tags); /* wait for the next frame; tag 1 the script's value */
typedef int (*vlDetermineBorderSizesFn)(void* display, int32_t* left, int32_t* right, int32_t* top, int32_t* bottom);
/* OpenDisplay: flags 0x1 borderless, 0x2 sizeable, 0x4 fixed, 0x8 no
 * minimise, 0x10 no close button, 0x20 auto scale, 0x40 layer scale,
 * 0x80 layers on, 0x100 double buffered, 0x200 the adapter double
 * buffers, 0x400 full screen, 0x800 no screen saver. Tags: 1 and 2 the
 * picture's width and height, 3 and 4 the addresses of two words the
 * adapter may set to 1 to mark the display (3: a double buffer's frame
 * comes whole at each Flip; 4: transition frames come whole), 5 the
 * vlVMState, 6 the monitor (0 the first); a full-screen display adds 7, 8,
 * 9 the screen's width, height and depth (depth 0: keep the screen's
 * current depth, as the player's own windows always do); a scaled one 10
 * and 11 the scaled width and height; 12 1 for smooth scaling. The result
 * is the display's handle, null refusing the display (error 1010).
 * Mark 3 concerns the player's own double buffer (flag 0x100 without
 * 0x200): at each Flip it then sends the whole back buffer in one
 * display-form BltBitMap (and the rest of a larger display from the front
 * picture) instead of the rectangles that changed. It does nothing for a
 * double buffer the adapter keeps itself (see BeginDoubleBuffer). */
typedef void* (*vlOpenDisplayFn)(const char* title, int32_t x, int32_t y, int32_t width, int32_t height,
                                 uint32_t flags, const vlTagItem* tags);
typedef int (*vlCloseDisplayFn)(void* display);
typedef int (*vlChangeBufferSizeFn)(void* display, int32_t width, int32_t height); /* new size; the player redraws */
typedef int (*vlShowHideDisplayFn)(void* display, int show);
typedef int (*vlSizeMoveDisplayFn)(void* display, int32_t x, int32_t y, int32_t width, int32_t height);
typedef int (*vlSetDisplayTitleFn)(void* display, const char* title);
typedef int (*vlActivateDisplayFn)(void* display, int activate);
typedef int (*vlSetDisplayAttributesFn)(void* display, const vlTagItem* tags); /* tag 1: the script handles the close button */
typedef void* (*vlCreatePointerFn)(const uint32_t* argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                                   uint32_t zero); /* a pointer from ARGB words; null is error 1321 */
typedef void (*vlFreePointerFn)(void* pointer);
typedef int (*vlSetPointerFn)(void* display, int kind, void* pointer); /* kind 0 default, 1 busy, 2 the pointer */
typedef int (*vlShowHidePointerFn)(void* display, int show); /* HidePointer, ShowPointer */
typedef int (*vlMovePointerFn)(void* display, int32_t x, int32_t y); /* MovePointer, in window pixels */
typedef int (*vlGetMousePosFn)(void* display, int32_t* x, int32_t* y); /* MouseX, MouseY */
typedef uint32_t (*vlGetQualifiersFn)(void* display); /* 0x80000000 | the held qualifier keys */
/* BltBitMap, mode 0: the display form, (display, the player's picture, a
 * tag list {1 source x, 2 source y, 3 x, 4 y, 5 width, 6 height, 7 flags},
 * 0); read the picture's pixels through graphics slot 25. With
 * VL_DISPCAPS2_MIXES a crossfade adds {8 level 0..255, 9 a second player
 * picture}: show (second x (255 - level) + picture x level) / 255 of the
 * same source rectangle of both. Mode non-zero: the picture form, (source
 * handle, destination handle, vlAdapterBlitBlock*, mode).
 * The flags of tag 7 say where the rectangle comes from; the player's own
 * windows read only 0x20 and 0x100, and an adapter may ignore the others:
 *   0x1   a frame of a transition effect, text output or a layer blit that
 *         shows at once;
 *   0x2   a redraw a plug-in asked for (graphics slot 19);
 *   0x8   the whole display is drawn anew (with 0x1: after Cls, a lost
 *         window, opening);
 *   0x20  a video frame, or a rectangle a display client drew: it goes
 *         over videos the adapter shows as overlays;
 *   0x80  the first drawing of a display just opened (sent even while the
 *         script holds refreshes back);
 *   0x100 a scaled copy: the rectangle is at the window's scale already. */
typedef int (*vlBltBitMapFn)(void* a, void* b, const void* params, uint32_t mode);
/* RectFill, WritePixel, Line: mode 0 draws on the display (the handle is
 * the display's); mode non-zero into a picture (the handle is the
 * picture's), see VL_PICMODE_*. */
typedef int (*vlRectFillFn)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                            uint32_t mode, uint32_t zero);
typedef int (*vlWritePixelFn)(void* handle, int32_t x, int32_t y, uint32_t color, uint32_t mode, uint32_t zero);
typedef int (*vlLineFn)(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, uint32_t mode,
                        uint32_t zero);
/* GetMonitorInfo (kind, monitor, out, 0): *out = kind 0 monitors {x, y,
 * width, height}..., kind 1 modes {width, height, depth}..., ended by a
 * zero width or height; the adapter's memory, handed back to
 * FreeMonitorInfo (kind, data). */
typedef int (*vlGetMonitorInfoFn)(int kind, int monitor, void* out, int zero);
typedef void (*vlFreeMonitorInfoFn)(int kind, void* data);
/* width x height ARGB words of the screen at x, y (VL_DISPCAPS_GRAB), the
 * adapter's memory until FreeGrabScreenPixels; null: error 1561. */
typedef uint32_t* (*vlGrabScreenPixelsFn)(void* display, int32_t x, int32_t y, int32_t width, int32_t height,
                                          uint32_t zero, uint32_t zero2);
typedef void (*vlFreeGrabScreenPixelsFn)(void* pixels);
/* Runs the script: calls run (state) once, its result the script's. */
typedef int (*vlAdapterMainLoopFn)(vlVMState*, int (*run)(vlVMState*));
/* BeginDoubleBuffer: 0 or an error code; the adapter double-buffers the
 * display (asked only with word 16 bit 4, and then whenever a script asks
 * for hardware double buffering). A refusal, here as from EndDoubleBuffer
 * and Flip, is one of the player's error codes (1000 or above): the
 * script sees it; a smaller non-zero number is read as the command's
 * count of results, and the script goes on as if double buffering had
 * begun (or ended). Until EndDoubleBuffer the
 * player keeps drawing as before: display-form BltBitMap, RectFill,
 * WritePixel, Line and Cls calls on this display's handle, which the
 * adapter now draws into its back buffer, holding them back from the
 * window until Flip shows the back buffer. The back buffer starts black
 * (colour 0), as the player's own back buffer does; the player sends
 * nothing to fill it, nor a whole frame at Flip. */
typedef int (*vlBeginDoubleBufferFn)(void* display, uint32_t zero);
/* EndDoubleBuffer: the window shows the back buffer as it stands (a plain
 * display ends on its last drawn frame, black when nothing was drawn) and
 * drawing reaches the window at once again. Not called for a display
 * already closed: its buffer went with CloseDisplay. */
typedef int (*vlEndDoubleBufferFn)(void* display, uint32_t zero);
/* Flip's block: {1, sync (1: wait for the vertical blank first), 0}. */
typedef int (*vlFlipFn)(void* display, const int32_t* block); /* shows the back buffer */
typedef int (*vlClsFn)(void* display, uint32_t color, uint32_t zero);
/* A video bitmap (tags VL_VBM_*, flags VL_VBM_ALPHA...); null: none. */
typedef void* (*vlAllocVideoBitMapFn)(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags);
typedef void (*vlFreeVideoBitMapFn)(void* bitmap);
/* A video bitmap's pixels into the record; the result (the pixels, the
 * adapter's memory) goes back to FreeVideoPixels. Null: error 1524. */
typedef void* (*vlReadVideoPixelsFn)(void* bitmap, vlVideoPixels* record);
typedef void (*vlFreeVideoPixelsFn)(void* pixels);
/* Method VL_VBM_PREPARE (tags {1 VL_PLANE_MASK or VL_PLANE_ALPHA}): the
 * player is about to draw into the picture's mask or alpha channel (see
 * "Planes"); asked once per picture. The result is not read. */
typedef int (*vlDoVideoBitMapMethodFn)(void* bitmap, uint32_t method, const vlTagItem* tags);
/* Pictures and planes of an adapter that owns them (VL_ABM_*). */
typedef void* (*vlAllocBitMapFn)(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags);
typedef void (*vlFreeBitMapFn)(void* bitmap);
typedef int (*vlLockBitMapFn)(void* bitmap, uint32_t flags, vlAdapterLock* lock); /* flags 1: read only; 0 fails */
typedef void (*vlUnLockBitMapFn)(void* bitmap);
/* Code 13 a picture's row bytes; 1 and 2 an alpha or mask plane's. */
typedef int32_t (*vlGetBitMapAttrFn)(void* bitmap, int32_t code);

/* A {tag, value} list for RequirePlugin: tag 1 the address of the flags
 * word, tag 2 the option value. */
VL_ENUM_U32 { VL_REQUIRE_FLAGS = 1, VL_REQUIRE_OPTION = 2 };

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
  const char* context;    /* 12, in: the caller's adapter list ("adapter" option), or null */
} vlPluginImageRecord;
VL_ABI_ASSERT(offsetof(vlPluginImageRecord, naturalWidth) == 36 && offsetof(vlPluginImageRecord, context) == 48 &&
                  sizeof(vlPluginImageRecord) == 56,
              "vlPluginImageRecord changed");
VL_ENUM_U32 {
  VL_IMGREC_NATURAL = 1,  /* out of LoadImage: words 9 and 10 hold the natural size */
  VL_IMGREC_WANTKEY = 2,  /* in: the caller wants a transparent colour */
  VL_IMGREC_ALPHA = 2     /* out of IsImage: the picture carries alpha */
};
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
  const char* adapter;  /* in: the caller's adapter list, or null */
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
VL_ENUM_U32 { VL_SOUNDFMT_BIG_ENDIAN = 1, VL_SOUNDFMT_SIGNED = 2, VL_SOUNDFMT_SEEKABLE = 4 };
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
VL_ENUM_U32 {
  VL_PATH_END = 0,
  VL_PATH_MOVE = 1,     /* uint32_t relative, double x, y */
  VL_PATH_LINE = 2,     /* uint32_t relative, double x, y */
  VL_PATH_CURVE = 3,    /* uint32_t relative, double x1, y1, x2, y2, x3, y3 */
  VL_PATH_SUBPATH = 5,  /* none */
  VL_PATH_CLOSE = 6,    /* none */
  VL_PATH_ARC = 7,      /* double cx, cy, rx, ry, start, end (degrees), uint32_t clockwise */
  VL_PATH_BOX = 8,      /* double x, y, width, height, uint32_t corner levels a, b, c, d */
  VL_PATH_TEXT = 9      /* font handle (CreateVectorFont's), uint32_t size in pixels, UTF-8 string */
};
VL_ENUM_U32 { VL_JOINMITER = 0, VL_JOINROUND = 1, VL_JOINBEVEL = 2 };
VL_ENUM_U32 { VL_CAPBUTT = 0, VL_CAPROUND = 1, VL_CAPSQUARE = 2 };
VL_ENUM_U32 { VL_FILLRULEWINDING = 0, VL_FILLRULEEVENODD = 1 };
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
/* GetPathExtents: the box of the path offset by (-x, -y) into x1..y2. */
typedef struct vlPathExtentsRequest {
  const uint8_t* commands;
  const vlLineStateCopy* lineState;
  uint32_t fill;       /* 1 fill, 0 stroke */
  uint32_t lineWidth;  /* pixels */
  double x, y;
  double x1, y1, x2, y2;  /* out */
  const vlPathTransform* transform;  /* null: none */
} vlPathExtentsRequest;
/* DrawPath: the path's coverage, one byte a pixel, added into the
 * player's buffer. An engine whose vector extension word has bit 0 gets
 * the position in x, y and the transform; without it the position comes
 * in zero1 and zero2 and the transform stays null. */
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
 * with endPosition preset to -2 and adapter to the caller's list. */
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
  const char* adapter;
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
  int64_t position;
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
/* DecodeAudioFrame: 16-bit PCM of the format's rate and channels into
 * buffer (capacity bytes), the bytes made in *bytes; 1 once the packet is
 * used up, 0 to be called again with the same packet. */
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
 * failure. The PCM is the player's, read during the call. */
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
 * RunHandlerById (state, (void*)handle), on the script's thread (from the
 * display adapter's HandleEvents, say). A repeating timer stays until
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
/* StringRequest (display, title, body, kind 1, 2, 4, 8 the script's types
 * 1 to 4, added 16 for a password, *result, tags {1 flag, 2 default text,
 * 3 maximum length}). FreeRequest kind 2. */
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
 * flags): the channel; fill gets entry back with every call. */
typedef void* (*vlAllocAudioChannelFn)(void* audio, uint32_t format, uint32_t rate, uint32_t volume,
                                       vlAdapterFillFn fill, void* reserved, void* entry, uint32_t flags);
typedef void (*vlFreeAudioChannelFn)(void* audio, void* channel);
typedef void (*vlSetChannelAttributesFn)(void* audio, void* channel, const vlTagItem* tags); /* VL_AUDIOTAG_* */
VL_ENUM_U32 {
  VL_AUDIOTAG_RATE = 1,     /* Hz */
  VL_AUDIOTAG_VOLUME = 2,   /* 0..64 */
  VL_AUDIOTAG_PANNING = 3   /* 0..255, 128 the centre */
};
/* Sound slot 2, SetAudioAdapter (plug-in, flags, tags): tags are uint32_t
 * {tag, value} pairs ended by tag 0; the adapter's word 22 (buffer size,
 * 2048 by default) and word 23 (channels, the player's channel count by
 * default) take them. 0; 1566 for an applet made for a program below 6.0, 1055
 * without PLUGINCAPS_AUDIOADAPTER, 1518 outside plug-in initialisation,
 * once sound output has started, for no channels, or when a locked
 * adapter is installed. */
VL_ENUM_U32 { VL_AUDIOADAPTER_BUFFERSIZE = 1, VL_AUDIOADAPTER_CHANNELS = 2 };
VL_ENUM_U32 {
  VL_AUDIOADAPTER_LOCKED = 1,  /* no later adapter may replace this one */
  VL_AUDIOADAPTER_UPDATE = 2   /* already installed: take only the buffer size, at any time */
};

/* The block a plug-in describes itself in. Zero-filled by the player, which
 * presets the program version; the plug-in fills the rest in InitPlugin. */
struct vlPluginInfo {
  uint32_t capabilities;
  int32_t version;
  int32_t revision;
  int32_t programVersion;   /* lowest program version the plug-in needs */
  int32_t programRevision;
  const char* name;
  const char* moduleName;   /* must equal the file's base name */
  const char* author;
  const char* description;
  const char* copyright;
  const char* url;
  const char* date;
  const char* settings;
  const char* helpFile;
  uint32_t callKind;        /* 2: calls go through the frame-call hook (does nothing, yields 0) */
  vlPluginFileType* fileTypes;
  uint32_t displayCaps;     /* word 16, VL_DISPCAPS_*: what a display adapter offers */
  uint32_t displayFlags;    /* word 17, VL_DISPFLAG_*: how it holds pictures */
  uint32_t disabled;        /* skipped by every loader chain */
  uintptr_t userData;
  uint32_t displayAccel;    /* word 20, VL_ACCEL_*: picture drawing it does itself */
  void* audioDevice;
  uint32_t audioBufferSize;
  uint32_t audioChannels;
  uint32_t displayCaps2;    /* word 24, VL_DISPCAPS2_*: pictures it keeps */
  uint32_t requesterFlags;
  uint32_t adapterWords[3];  /* adapterWords[1] bit 0: adapter locked; [2]: file-adapter word */
  uint32_t extensions[32];   /* what GetExtensions(1 << i, 0) answered */
  uint32_t joinedOnRequest;  /* joined a loader list because a list named it */
  uint32_t librariesInitialised;
#define VL_PLUGIN_ENTRY_FN(name, result, params) result(*name) params;
#define VL_PLUGIN_ENTRY_WORD(name, type) type name;
  VL_PLUGIN_ENTRIES(VL_PLUGIN_ENTRY_FN, VL_PLUGIN_ENTRY_WORD)
#undef VL_PLUGIN_ENTRY_FN
#undef VL_PLUGIN_ENTRY_WORD
};

VL_ABI_ASSERT(offsetof(vlPluginInfo, name) == 24, "vlPluginInfo.name moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, callKind) == 96, "vlPluginInfo.callKind moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, fileTypes) == 104, "vlPluginInfo.fileTypes moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, disabled) == 120, "vlPluginInfo.disabled moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, userData) == 128, "vlPluginInfo.userData moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, audioDevice) == 144, "vlPluginInfo.audioDevice moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, extensions) == 180, "vlPluginInfo.extensions moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, joinedOnRequest) == 308, "vlPluginInfo.joinedOnRequest moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, InitPlugin) == 320, "the entry points moved");
VL_ABI_ASSERT(offsetof(vlPluginInfo, GetExtensions) == 320 + (VL_PLUGIN_ENTRY_COUNT - 1) * 8,
              "GetExtensions is no longer the last word");
VL_ABI_ASSERT(sizeof(vlPluginInfo) == 320 + VL_PLUGIN_ENTRY_COUNT * 8, "vlPluginInfo changed size");

/* ------------------------------------------------------------------------
 * The service table. */

/* A slot kept untyped: its routine's own type is given where it is named;
 * call it through a cast (vlSlotAs in C++). */
typedef int (*vlServiceFn)(void);

/* The broken-down time record of the time slots. The size word holds the
 * record's size (56 with a pointer-sized zone name). */
typedef struct vlPluginTime {
  uint32_t size;
  int32_t second, minute, hour, day, month, year, weekday, yearDay, isDst;
  int32_t utcOffset;
  const char* zone;
} vlPluginTime;
VL_ABI_ASSERT(sizeof(vlPluginTime) == 56 && offsetof(vlPluginTime, zone) == 48, "vlPluginTime changed");

typedef struct vlPluginStat {
  uint32_t caller;  /* left as the caller set it */
  uint32_t flags;
  uint32_t sizeLow, sizeHigh;
  uint32_t accessTime, modifyTime, changeTime;
} vlPluginStat;

VL_ENUM_U32 {
  VL_PSTAT_DIRECTORY = 0x20000,
  VL_PSTAT_OWNER_READ = 1, VL_PSTAT_OWNER_WRITE = 2, VL_PSTAT_OWNER_EXEC = 8,
  VL_PSTAT_GROUP_READ = 0x200, VL_PSTAT_GROUP_WRITE = 0x400, VL_PSTAT_GROUP_EXEC = 0x800,
  VL_PSTAT_OTHER_READ = 0x1000, VL_PSTAT_OTHER_WRITE = 0x2000, VL_PSTAT_OTHER_EXEC = 0x4000
};

/* An entry of GetPluginChain. */
typedef struct vlPluginChainEntry {
  struct vlPluginChainEntry* next;
  vlPluginInfo* info;
} vlPluginChainEntry;

/* The VM sub-table: the stack interface, 78 entry points in a fixed order. */
// X(slot, name, result, parameters)
#define VL_PLUGIN_VM_SLOTS(X)                                                   \
  X(0, GetStackTop, int, (vlVMState*))                                          \
  X(1, SetStackTop, void, (vlVMState*, int))                                    \
  X(2, PushSlotCopy, void, (vlVMState*, int))                                   \
  X(3, RemoveSlot, void, (vlVMState*, int))                                     \
  X(4, InsertTopAt, void, (vlVMState*, int))                                    \
  X(5, ReplaceSlotWithTop, void, (vlVMState*, int))                             \
  X(6, IsNativeFunctionAt, int, (vlVMState*, int))                              \
  X(7, IsNumberAt, int, (vlVMState*, int))                                      \
  X(8, IsStringAt, int, (vlVMState*, int))                                      \
  X(9, IsUserdataAt, int, (vlVMState*, int))                                    \
  X(10, GetTypeAt, int, (vlVMState*, int))                                      \
  X(11, ValuesEqual, int, (vlVMState*, int, int))                               \
  X(12, ValuesRawEqual, int, (vlVMState*, int, int))                            \
  X(13, ValueLessThan, int, (vlVMState*, int, int, int))                        \
  X(14, ToNumberAt, double, (vlVMState*, int))                                  \
  X(15, ToStringAt, const char*, (vlVMState*, int))                             \
  X(16, GetStringLengthAt, size_t, (vlVMState*, int))                           \
  X(17, ToNativeFunctionAt, vlNativeFn, (vlVMState*, int))                      \
  X(18, ToUserdataAt, void*, (vlVMState*, int))                                 \
  X(19, ToPointerAt, const void*, (vlVMState*, int))                            \
  X(20, PushNil, void, (vlVMState*))                                            \
  X(21, PushNumber, void, (vlVMState*, double))                                 \
  X(22, PushBytes, void, (vlVMState*, const char*, size_t))                     \
  X(23, PushString, void, (vlVMState*, const char*))                            \
  X(24, PushPointer, void, (vlVMState*, void*))                                 \
  X(25, PushNativeClosure, void, (vlVMState*, vlNativeFn, int))                 \
  X(26, GetTableValue, void, (vlVMState*, int))                                 \
  X(27, RawGetTableValue, void, (vlVMState*, int))                              \
  X(28, RawGetTableIndex, void, (vlVMState*, int, int))                         \
  X(29, PushNewTable, void, (vlVMState*))                                       \
  X(30, PushFunctionGlobals, void, (vlVMState*, int))                           \
  X(31, SetTableValue, void, (vlVMState*, int))                                 \
  X(32, RawSetTableValue, void, (vlVMState*, int))                              \
  X(33, RawSetTableIndex, void, (vlVMState*, int, int))                         \
  X(34, SetFunctionGlobals, int, (vlVMState*, int))                             \
  X(35, CallProtected, int, (vlVMState*, int, int, int))                        \
  X(36, NextTableEntry, int, (vlVMState*, int))                                 \
  X(37, ConcatValues, void, (vlVMState*, int))                                  \
  X(38, PushNativeUpvalues, int, (vlVMState*))                                  \
  X(39, GetUpvalueAt, const char*, (vlVMState*, int, int))                      \
  X(40, SetUpvalueAt, const char*, (vlVMState*, int, int))                      \
  X(41, PushNewUserdata, void*, (vlVMState*, size_t))                           \
  X(42, SetMetatableAt, int, (vlVMState*, int))                                 \
  X(43, PushMetatableAt, int, (vlVMState*, int))                                \
  X(44, RaiseErrorSvc, int, (vlVMState*, int))                                  \
  X(45, CheckStringArg, const char*, (vlVMState*, int, size_t*))                \
  X(46, OptStringArg, const char*, (vlVMState*, int, const char*, size_t*))     \
  X(47, CheckNumberArg, double, (vlVMState*, int))                              \
  X(48, OptNumberArg, double, (vlVMState*, int, double))                        \
  X(49, CheckIntArg, int32_t, (vlVMState*, int))                                \
  X(50, OptIntArg, int32_t, (vlVMState*, int, int32_t))                         \
  X(51, CheckTableArg, void, (vlVMState*, int))                                 \
  X(52, CheckFunctionArg, void, (vlVMState*, int))                              \
  X(53, CheckArgType, void, (vlVMState*, int, int))                             \
  X(54, CreateRef, int, (vlVMState*, int))                                      \
  X(55, ReleaseRef, void, (vlVMState*, int, int))                               \
  X(56, GetObjectIDArgSvc, int, (vlVMState*, int, vlObjectId*))                 \
  X(57, NewNamedMetatable, int, (vlVMState*, const char*))                      \
  X(58, PushNamedMetatable, void, (vlVMState*, const char*))                    \
  X(59, ToNamedUserdataAt, void*, (vlVMState*, int, const char*))               \
  X(60, InitStrBuf, void, (vlVMState*, vlStrBuf*))                              \
  X(61, PrepStrBuf, char*, (vlStrBuf*))                                         \
  X(62, AddBytesToStrBuf, void, (vlStrBuf*, const char*, size_t))               \
  X(63, AddStringToStrBuf, void, (vlStrBuf*, const char*))                      \
  X(64, AddTopToStrBuf, void, (vlStrBuf*))                                      \
  X(65, PushStrBufResult, void, (vlStrBuf*))                                    \
  X(66, FindNameInList, int, (const char*, const char* const*))                 \
  X(67, EnsureStackSpace, int, (vlVMState*, int))                               \
  X(68, GetFileNameArgSvc, const char*, (vlVMState*, int))                      \
  X(69, GetObjectIDArgOptSvc, int, (vlVMState*, int, vlObjectId*))              \
  X(70, PushBoolean, void, (vlVMState*, int))                                   \
  X(71, ToBooleanAt, int, (vlVMState*, int))                                    \
  X(72, PushNewSizedTable, void, (vlVMState*, int, int))                        \
  X(73, GetTypeName, const char*, (vlVMState*, int))                            \
  X(74, CallFunction, void, (vlVMState*, int, int))                             \
  X(75, GetGCThresholdKB, int, (vlVMState*))                                    \
  X(76, GetGCCountKB, int, (vlVMState*))                                        \
  X(77, SetGCThresholdKB, void, (vlVMState*, int))

typedef struct vlPluginVMTable {
#define VL_PLUGIN_VM_FIELD(slot, name, result, params) result(*name) params;
  VL_PLUGIN_VM_SLOTS(VL_PLUGIN_VM_FIELD)
#undef VL_PLUGIN_VM_FIELD
} vlPluginVMTable;
#define VL_PLUGIN_VM_SLOT_COUNT 78
VL_ABI_ASSERT(sizeof(vlPluginVMTable) == VL_PLUGIN_VM_SLOT_COUNT * sizeof(void*),
              "the plug-in VM table has exactly 78 slots");
#define VL_PLUGIN_VM_OFFSET(slot, name, result, params) \
  VL_ABI_ASSERT(offsetof(vlPluginVMTable, name) == (slot) * sizeof(void*), "plug-in VM slot " #name " moved");
VL_PLUGIN_VM_SLOTS(VL_PLUGIN_VM_OFFSET)
#undef VL_PLUGIN_VM_OFFSET

/* The value types GetTypeAt answers for a stack index (and CheckArgType
 * expects): VL_TYPE_NONE for an index past the arguments given, so an
 * optional argument reads as GetTypeAt(state, n) <= VL_TYPE_NIL when left
 * out or nil. */
enum {
  VL_TYPE_NONE = -1,
  VL_TYPE_NIL = 0,
  VL_TYPE_BOOLEAN = 1,
  VL_TYPE_LIGHTUSERDATA = 2,
  VL_TYPE_NUMBER = 3,
  VL_TYPE_STRING = 4,
  VL_TYPE_TABLE = 5,
  VL_TYPE_FUNCTION = 6,
  VL_TYPE_USERDATA = 7,
  VL_TYPE_THREAD = 8
};

/* The other sub-tables: arrays of pointer-sized slots; F(slot, name, result,
 * parameters) names a routine, D(slot, name, type) a data word or a slot
 * typed elsewhere. */
#define VL_SVC_STDLIB(F, D)                                                                  \
  F(0, malloc_, void*, (size_t)) F(1, calloc_, void*, (size_t, size_t))               \
  F(2, realloc_, void*, (void*, size_t)) F(3, free_, void, (void*))                   \
  F(4, strdup_, char*, (const char*)) F(5, fopen_, FILE*, (const char*, const char*)) \
  F(6, fclose_, int, (FILE*)) F(7, fseek_, int, (FILE*, long, int))                   \
  F(8, ftell_, long, (FILE*)) F(9, fread_, size_t, (void*, size_t, size_t, FILE*))    \
  F(10, fwrite_, size_t, (const void*, size_t, size_t, FILE*))                          \
  F(11, fgetc_, int, (FILE*)) F(12, fputc_, int, (int, FILE*))                        \
  F(13, ferror_, int, (FILE*)) F(14, feof_, int, (FILE*))                             \
  F(15, vfprintf_, int, (FILE*, const char*, va_list))                                  \
  F(16, vsnprintf_, int, (char*, size_t, const char*, va_list))                         \
  F(17, vprintf_, int, (const char*, va_list))                                          \
  F(18, qsort_, void, (void*, size_t, size_t, int (*)(const void*, const void*)))       \
  F(19, vsscanf_, int, (const char*, const char*, va_list))                             \
  F(20, strtod_, double, (const char*, char**))                                         \
  F(21, strtol_, long, (const char*, char**, int))                                      \
  F(22, strtoul_, unsigned long, (const char*, char**, int))                            \
  F(23, StrCaseCmp, int, (const char*, const char*))                                    \
  F(24, StrNCaseCmp, int, (const char*, const char*, size_t))                           \
  F(25, ToLowerChar, int, (int)) F(26, ToUpperChar, int, (int))                       \
  F(27, StrToLower, char*, (char*)) F(28, StrToUpper, char*, (char*))                 \
  F(29, gettimeofday_, int, (struct timeval*, void*))                                   \
  F(30, time_, time_t, (time_t*)) F(31, lrint_, long, (double))                       \
  F(32, LocalTimeRecord, vlPluginTime*, (const time_t*))                                \
  F(33, GmTimeRecord, vlPluginTime*, (const time_t*))                                   \
  F(34, AscTimeRecord, char*, (const vlPluginTime*))                                    \
  F(35, ctime_, char*, (const time_t*))                                                 \
  F(36, MakeTimeRecord, time_t, (vlPluginTime*))                                        \
  F(37, FormatTimeRecord, size_t, (char*, size_t, const char*, const vlPluginTime*))    \
  F(38, clock_, clock_t, (void))                                                            \
  F(39, DiffTimeOut, double*, (time_t, time_t, double*))                                \
  F(40, clearerr_, void, (FILE*)) F(41, fileno_, int, (FILE*))                        \
  F(42, fflush_, int, (FILE*))                                                          \
  F(43, FStatRecord, int, (int, vlPluginStat*))                                         \
  F(44, StatRecord, int, (const char*, vlPluginStat*))                                  \
  F(45, vfscanf_, int, (FILE*, const char*, va_list)) F(46, ungetc_, int, (int, FILE*)) \
  F(47, rename_, int, (const char*, const char*)) F(48, remove_, int, (const char*))  \
  F(49, GetErrno, int, (void)) F(50, SetErrno, int*, (int))                               \
  D(51, unused51, void*) D(52, unused52, void*) D(53, unused53, void*)                    \
  D(54, unused54, void*) D(55, unused55, void*)

/* System slot 14: the routine that adds a registered event type's fields
 * to the message table on the top of the VM stack (data: the word posted
 * with the event). */
typedef void (*vlEventFieldsFn)(vlVMState* state, uint32_t code, void* data);

/* System slot 16, DisplayClientControl (client, tags): acts on the display
 * of a client from graphics slot 8 (null: the first display) once per tag,
 * in order; 0, or the first error (1344 when the client's display is gone,
 * 1000 when the event queue is out of memory). Values are pointers to
 * int32_t arrays unless said otherwise; x and y are display coordinates. */
VL_ENUM_U32 {
  VL_CLIENT_MOVE = 1,        /* {x, y}: the pointer moved there (time stamped) */
  VL_CLIENT_LEFT = 2,        /* {x, y, down}: left button, event 1 */
  VL_CLIENT_RIGHT = 3,       /* {x, y, down}: right button, event 2 */
  VL_CLIENT_MIDDLE = 4,      /* {x, y, down}: middle button, event 16 */
  VL_CLIENT_WHEEL = 5,       /* {x, y, down}: wheel, event 12 (down) or 11 (up) */
  VL_CLIENT_KEY = 6,         /* {key code, down, qualifiers}: event 3 */
  VL_CLIENT_REFRESH = 7,     /* value: non-zero to get refresh calls (code 5) */
  VL_CLIENT_WORD3 = 8,       /* value: the client's word 3 (tag 3 of slot 8) */
  VL_CLIENT_WORD4 = 9        /* value: the client's word 4 (tag 4 of slot 8) */
};

/* Files slot 12: what is locked. Times are seconds since the epoch. */
typedef struct vlLockStatus {
  uintptr_t isDirectory;
  uintptr_t size;
  uintptr_t accessTime, modifyTime, changeTime;
} vlLockStatus;

/* Files slots 24 and 27: everything known of a lock or an open stream.
 * protection holds VL_PSTAT_* bits. With flags bit 1 (VL_EXAMINE_COPIES)
 * name and comment are new blocks for FreePluginMemory; otherwise they
 * point into buffers the next call overwrites. */
typedef struct vlPluginFileInfo {
  uint32_t isDirectory;
  uint32_t protection;
  uint64_t size;
  uint32_t accessTime, modifyTime, changeTime;
  const char* name;  /* the full name ("" for an adapter's stream) */
  const char* comment;
} vlPluginFileInfo;
VL_ENUM_U32 { VL_EXAMINE_COPIES = 2 };

/* System slot 0, SystemTags (state, tags): the number of tags handled.
 * Tags that give something write it through the pointer in their value:
 * 26 to 30 (const char*) the applet's title, version, copyright, author
 * and description texts, 37 its identifier; 32 (uint32_t) 1 while the
 * requester dialogs' thread runs (from the first dialog on); 35 (int32_t)
 * the frame-rate limit SetFPSLimit set. Tag 25 clears its own value; 31
 * adds its value to the callback nesting count (which stays at 0 or
 * more); 33 sets the line-hook
 * suspend word; 38 sets the quit flag; 39 sets the word the wait for
 * events reads; 40 resets the current command and line and clears the
 * quit flag.
 * Slot 17, RegisterObjectTypeSvc (name, attribute handler, call mode): a
 * new object type code (58 and up) for the plug-in's objects, 0 when out
 * of memory; the list the player makes for it is freed at shut-down.
 * Slot 18, FreeObjectDataList (state, address of a list head): drops every
 * user-data item of an object's list and clears the head; a null address
 * does nothing.
 * Slot 14, RegisterEventTypeSimple (name, fields): a new event type whose
 * handler scripts install by name; its events carry one data word, which
 * fields adds to the message table. The new code (28 and up), or 0 when
 * the name is taken.
 * Slot 39, SetTimerAdapter (plug-in, flags): makes the plug-in (its
 * RegisterTimer and FreeTimer entries) the timer adapter of intervals and
 * timeouts, whose expiry it reports through RunHandlerById (slot 38); flags
 * bit 0 locks it. 0; 1566 for an applet made for a program below 6.0, 1055
 * without PLUGINCAPS_TIMERADAPTER, 1518 outside plug-in initialisation or
 * when a locked timer adapter is installed.
 * Slots 15 and 27 (PostAdapterEvent, PostAdapterEventVM) and 38
 * (RunHandlerById) do nothing and answer 0 once the quit flag is set.
 * Slot 40, GetDateStamp (date): the date string of slot 10 parsed into
 * date; 1, or 0 without a record. */
#define VL_SVC_SYSTEM(F, D)                                                                    \
  F(0, SystemTags, int, (vlVMState*, vlTagItem*))                                         \
  F(1, RegisterUserError, int, (const char*))                                             \
  F(2, SetErrorArgument, const char*, (const char*))                                      \
  F(3, SetErrorArgIndex, void, (int32_t))                                                 \
  F(4, GetErrorText, void, (int, char*, size_t))                                          \
  F(5, GetSysTime, uint32_t, (vlTimeVal*))                                                \
  F(6, SubTimeVal, void, (vlTimeVal*, const vlTimeVal*))                                  \
  F(7, AddTimeVal, void, (vlTimeVal*, const vlTimeVal*))                                  \
  F(8, CompareTimeVal, int, (const vlTimeVal*, const vlTimeVal*))                         \
  F(9, SleepMillis, void, (uint32_t))                                                     \
  F(10, GetDateString, void, (char*, size_t))                                             \
  F(11, AllocPluginMemory, void*, (size_t, uint32_t))                                     \
  F(12, FreePluginMemory, void, (void*))                                                  \
  F(13, AddHookEntry, void*, (uint32_t, void*, void*, uintptr_t))                             \
  F(14, RegisterEventTypeSimple, uint32_t, (const char*, vlEventFieldsFn))               \
  F(15, PostAdapterEvent, int, (uint32_t, const uintptr_t*))                              \
  F(16, DisplayClientControl, int, (void*, const vlTagItem*))                             \
  F(17, RegisterObjectTypeSvc, uint32_t, (const char*, void*, uint32_t))                  \
  F(18, FreeObjectDataList, void, (vlVMState*, void** list))                              \
  F(19, AddPluginFileType, int, (vlPluginInfo*, uint32_t, const char*, const char*,  \
                                   const char*, uint32_t, uint32_t))                        \
  F(20, ServiceEvents, int, (vlVMState*, uint32_t))                                       \
  F(21, AddCommandHook, vlCommandHook*, (vlCommandHookFn, vlCommandHookErrorFn, void*))   \
  F(22, RemoveCommandHook, void, (vlCommandHook*))                                        \
  F(23, HookCommand, int, (vlCommandHook*, vlNativeFn))                                   \
  F(24, SetCommandHookErrorHandler, void, (vlCommandHook*, vlCommandHookErrorFn))         \
  F(25, GetCommandHookErrorHandler, vlCommandHookErrorFn, (vlCommandHook*))               \
  F(26, SetCommandHookDisabled, void, (vlCommandHook*, uint32_t))                         \
  F(27, PostAdapterEventVM, int, (vlVMState*, uint32_t, const uintptr_t*, uint32_t))                                                    \
  F(28, PumpEventsSvc, int, (vlVMState*, uint32_t))                                     \
  F(29, WaitEventsSvc, int, (vlVMState*))                       \
  F(30, CreateMutex, void*, (void)) F(31, FreeMutex, void, (void*))                         \
  F(32, LockMutex, void, (void*)) F(33, UnlockMutex, void, (void*))                     \
  F(34, SetHookEntryWord, void, (void*, void*))                                           \
  F(35, RemoveHookEntry, void, (void*))                                                   \
  F(36, RegisterEventType, uint32_t, (const char*, uint32_t, void* const*, uint32_t))                                                     \
  F(37, PrintToStdout, void, (const char*, ...))                                          \
  F(38, RunHandlerById, int, (vlVMState*, void*)) \
  F(39, SetTimerAdapter, int, (vlPluginInfo*, uint32_t))                    \
  F(40, GetDateStamp, int, (vlDateRecord*))                                               \
  F(41, ConvertEncoding, char*, (const char*, int, int))                                  \
  F(42, FreeConvertedString, void, (char*))                                               \
  F(43, AddLoaderToClass, int, (vlPluginInfo*, uint32_t))                                 \
  F(44, RemoveLoaderFromClass, void, (vlPluginInfo*, uint32_t))                           \
  F(45, SetFileAdapterWord, int, (vlPluginInfo*, uint32_t, uint32_t))                     \
  F(46, DispatchCallbackRecord, int, (vlVMState*, uint32_t, void*))                                                \
  F(47, GetSourcePosition, int, (vlVMState*, void**))                                     \
  F(48, FindEventType, int32_t, (const char*, uintptr_t*))                                                         \
  D(49, unused49, void*) D(50, unused50, void*) D(51, unused51, void*)                      \
  D(52, unused52, void*) D(53, unused53, void*) D(54, unused54, void*) D(55, unused55, void*)

/* The seek modes of files slots 2 and 25 and of a file adapter's FSeek:
 * the player's own, not SEEK_SET and its kin. */
enum vlSeekMode { VL_SEEK_CURRENT = 0, VL_SEEK_BEGIN = 1, VL_SEEK_END = 2 };

/* Files slots 2 and 25, SeekFileStreamSvc and SeekFileStream (stream,
 * offset, VL_SEEK_*): the position before the seek, -1 on failure.
 * Files slot 12, StatLockSvc (lock, status): 1 with status filled, 0
 * without a lock or record. Slot 14, ReleasePathHook (path): nothing to
 * release on this platform. Slot 31, MakeTempFileNameSvc (): the name of
 * a new empty file in the player's temporary folder, in a block for
 * FreePluginMemory; null when none could be made. Slots 24 and 27 answer
 * 1 with the record filled, 0 without a lock, stream or record, when an
 * adapter cannot tell the status or the copies cannot be made. */
#define VL_SVC_FILES(F, D)                                                                        \
  F(0, OpenFileDefault, void*, (const char*, uint32_t))                                      \
  F(1, CloseFileStream, void, (void*))                                                       \
  F(2, SeekFileStreamSvc, int64_t, (void*, int64_t, int))                                    \
  F(3, ReadFileStream, int64_t, (void*, void*, int64_t))                                     \
  F(4, WriteFileStream, int64_t, (void*, const void*, int64_t))                              \
  F(5, ReadFileStreamByte, int, (void*)) F(6, WriteFileStreamByte, int, (void*, int))      \
  F(7, IsFileStreamAtEnd, int, (void*))                                                      \
  F(8, RemovePath, int, (const char*))                                                      \
  F(9, LockPath, void*, (const char*, uint32_t))                                             \
  F(10, FreeFileLock, void, (void*)) F(11, GetFileLockName, void, (void*, char*, size_t))  \
  F(12, StatLockSvc, int, (void*, vlLockStatus*))                                          \
  F(13, RequireDirectoryLock, int, (void*, uint32_t*))                                       \
  F(14, ReleasePathHook, void, (const char*))                                                \
  F(15, NextDirEntrySvc, int, (void*, const char**, uint32_t*, uint64_t*, uint32_t*))        \
  F(16, MakeDirPath, int, (const char*))                                                     \
  F(17, RenamePath, int, (const char*, const char*))                                         \
  F(18, GetCurrentDirName, int, (char*, size_t))                                             \
  F(19, MakeTempFileName, int, (char*, size_t))                                              \
  F(20, AddPart, int, (char*, size_t, const char*))                                          \
  F(21, GetFilePart, const char*, (const char*))                                             \
  F(22, GetReadableFileName, const char*, (const char*))                                     \
  F(23, ResolveChunkName, int, (const char*, char*, size_t, int64_t*, int64_t*))            \
  F(24, ExamineLockSvc, int, (void*, vlPluginFileInfo*, uint32_t))                          \
  F(25, SeekFileStream, int64_t, (void*, int64_t, int))                                      \
  F(26, GetFileStreamFlags, uint32_t, (const void*))                                         \
  F(27, ExamineStreamSvc, int, (void*, vlPluginFileInfo*, uint32_t))                        \
  F(28, SaveBufferToFile, int, (const char*, const void*, int64_t, uint32_t))                                   \
  F(29, GetChunkInfoSvc, int, (const char*, int64_t*))                                      \
  F(30, FlushFileStream, int, (void*))                                                       \
  F(31, MakeTempFileNameSvc, char*, (void))                                                  \
  F(32, OpenFileTags, void*, (const char*, uint32_t, const vlTagItem*))                      \
  D(33, unused33, void*) D(34, unused34, void*) D(35, unused35, void*) D(36, unused36, void*)  \
  D(37, unused37, void*) D(38, unused38, void*) D(39, unused39, void*)

/* Sound slot 0, LockSampleData (sample id, flags, out lock): 0, or 1041 /
 * 1178 (no such sample), 1475 (it plays) or 1000. The lock's pcm is a
 * private copy unless flags has bit 0 (VL_SAMPLE_DIRECT), when it is the
 * sample's own data. Frames are interleaved; values are signed with flags
 * bit 1 (16-bit samples), else unsigned; 16-bit values are in the byte
 * order flags bit 0 gives (set: big-endian).
 * Slot 1, UnlockSampleData (lock): frees the lock. A copy replaces the
 * sample's data first: the pcm then in the lock (the copy, or a block from
 * AllocPluginMemory put in its place, which the player takes over) with
 * the lock's frames and rate, in the sample's own layout. 0, or 1041 /
 * 1178 when the sample is gone and 1475 when it plays now (the sample is
 * then left as it was). */
typedef struct vlSampleLock {
  void* pcm;
  uintptr_t bytes;
  uintptr_t frames;
  uintptr_t channels;  /* 1 or 2 */
  uintptr_t bits;      /* 8 or 16 */
  uintptr_t rate;      /* frames per second */
  uintptr_t flags;     /* VL_SAMPLE_SIGNED, VL_SAMPLE_BIGENDIAN */
} vlSampleLock;
VL_ENUM_U32 { VL_SAMPLE_DIRECT = 1 };
VL_ENUM_U32 { VL_SAMPLE_BIGENDIAN = 1, VL_SAMPLE_SIGNED = 2 };

#define VL_SVC_SOUND(F, D)                                                       \
  F(0, LockSampleData, int, (const vlObjectId*, uint32_t, vlSampleLock**))      \
  F(1, UnlockSampleData, int, (vlSampleLock*))                                  \
  F(2, SetAudioAdapter, int, (vlPluginInfo*, uint32_t, const uint32_t*))

/* Requester slots, shown like the script's own requesters (a dialog, or
 * the console without one) over the current display, whose handle a
 * requester adapter gets:
 * 0, SystemRequestSvc (title, body, buttons): buttons '|'-separated; the
 *    chosen button counted from 1, the last one 0 (also when no requester
 *    could be shown).
 * 1, FileRequestSvc (title, directory, file, mode, buffer, size): every
 *    file is offered; mode 0 opens, 2 saves. 1 with the chosen path
 *    (folder and file joined) in buffer; 0 when cancelled or when the path
 *    does not fit.
 * 2, PathRequestSvc (title, directory, buffer, size): a folder, likewise.
 * 3, SetRequesterAdapter (plug-in, flags): 0 or an error code. */
#define VL_SVC_REQUESTERS(F, D)                                                                   \
  F(0, SystemRequestSvc, int32_t, (const char*, const char*, const char*))                      \
  F(1, FileRequestSvc, int, (const char*, const char*, const char*, uint32_t, char*, size_t))  \
  F(2, PathRequestSvc, int, (const char*, const char*, char*, size_t))                          \
  F(3, SetRequesterAdapter, int, (vlPluginInfo*, uint32_t))

/* Fonts slot 0, FindFontFile (name, slant, weight, out): an installed face
 * by family, full name ("DejaVu Sans Bold") or file name ("DejaVuSans.ttf"),
 * choosing among a family's faces the slant (0 roman, 100 italic, 110
 * oblique) and the weight nearest those asked (-1: regular). 1 when found,
 * 0 when not. Slots 1 and 2 are null. */
typedef struct vlFontFile {
  char path[1024];       /* the file; for a face inside a collection a
                            temporary file holding that face alone; "" for
                            a face the player carries */
  const void* data;      /* the bytes of a face the player carries, else null */
  uint32_t size;         /* the face's byte count */
  uint32_t offset;       /* where the face starts in the file (Mac resource fonts) */
  uint32_t isTemporary;  /* path is a temporary file: remove it when done */
} vlFontFile;

#define VL_SVC_FONTS(F, D)                                          \
  F(0, FindFontFile, int, (const char*, int32_t, int32_t, vlFontFile*)) \
  D(1, unused1, void*) D(2, unused2, void*)

#define VL_SVC_ZLIB(F, D)                                                                      \
  D(0, inflateInit_, void*) D(1, inflate, void*) D(2, inflateEnd, void*)                    \
  D(3, deflateInit_, void*) D(4, deflate, void*) D(5, deflateEnd, void*)                    \
  D(6, deflateReset, void*) D(7, deflateParams, void*) D(8, inflateReset, void*)            \
  D(9, inflateSync, void*) D(10, inflateInit2_, void*) D(11, deflateInit2_, void*)          \
  D(12, crc32, void*) D(13, unused13, void*) D(14, unused14, void*) D(15, unused15, void*)

#define VL_SVC_PLUGINS(F, D)                                                   \
  F(0, GetPluginChain, vlPluginChainEntry*, (void))                           \
  F(1, FreePluginChain, void, (vlPluginChainEntry*))                      \
  F(2, SetPluginDisabled, void, (vlPluginInfo*, uint32_t))                \
  F(3, SetPluginUserData, void, (vlPluginInfo*, uintptr_t))               \
  F(4, GetPluginUserData, uintptr_t, (vlPluginInfo*))

#define VL_SVC_CHECKSUMS(F, D)                                                 \
  F(0, Base64EncodeSvc, void, (const void*, size_t, char*, size_t*))     \
  F(1, Base64DecodeSvc, int, (const char*, size_t, void*, size_t*))      \
  F(2, Crc32Svc, int32_t, (const void*, int32_t))                         \
  F(3, MD5Hex, void, (const void*, size_t, char*))                       \
  D(4, word4, intptr_t) D(5, word5, intptr_t) D(6, word6, intptr_t)         \
  D(7, word7, intptr_t) D(8, word8, intptr_t) D(9, word9, intptr_t)

#define VL_SERVICE_FN(slot, name, result, params) result(*name) params;
#define VL_SERVICE_WORD(slot, name, type) type name;
#define VL_DECLARE_SUBTABLE(Type, LIST)                  \
  typedef struct Type {                                  \
    LIST(VL_SERVICE_FN, VL_SERVICE_WORD)                 \
  } Type;
VL_DECLARE_SUBTABLE(vlSvcStdlib, VL_SVC_STDLIB)
VL_DECLARE_SUBTABLE(vlSvcSystem, VL_SVC_SYSTEM)
VL_DECLARE_SUBTABLE(vlSvcFiles, VL_SVC_FILES)
VL_DECLARE_SUBTABLE(vlSvcSound, VL_SVC_SOUND)
VL_DECLARE_SUBTABLE(vlSvcRequesters, VL_SVC_REQUESTERS)
VL_DECLARE_SUBTABLE(vlSvcFonts, VL_SVC_FONTS)
VL_DECLARE_SUBTABLE(vlSvcZlib, VL_SVC_ZLIB)
VL_DECLARE_SUBTABLE(vlSvcPlugins, VL_SVC_PLUGINS)
VL_DECLARE_SUBTABLE(vlSvcChecksums, VL_SVC_CHECKSUMS)
#undef VL_DECLARE_SUBTABLE

/* Every slot sits at its number. */
#define VL_SERVICE_FN_AT(Type, slot, name) \
  VL_ABI_ASSERT(offsetof(Type, name) == (slot) * sizeof(void*), #Type " slot " #name " moved");
#define VL_AT_STDLIB_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcStdlib, slot, name)
#define VL_AT_STDLIB_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcStdlib, slot, name)
#define VL_AT_SYSTEM_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcSystem, slot, name)
#define VL_AT_SYSTEM_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcSystem, slot, name)
#define VL_AT_FILES_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcFiles, slot, name)
#define VL_AT_FILES_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcFiles, slot, name)
#define VL_AT_SOUND_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcSound, slot, name)
#define VL_AT_SOUND_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcSound, slot, name)
#define VL_AT_REQUESTERS_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcRequesters, slot, name)
#define VL_AT_REQUESTERS_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcRequesters, slot, name)
#define VL_AT_FONTS_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcFonts, slot, name)
#define VL_AT_FONTS_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcFonts, slot, name)
#define VL_AT_ZLIB_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcZlib, slot, name)
#define VL_AT_ZLIB_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcZlib, slot, name)
#define VL_AT_PLUGINS_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcPlugins, slot, name)
#define VL_AT_PLUGINS_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcPlugins, slot, name)
#define VL_AT_CHECKSUMS_F(slot, name, result, params) VL_SERVICE_FN_AT(vlSvcChecksums, slot, name)
#define VL_AT_CHECKSUMS_D(slot, name, type) VL_SERVICE_FN_AT(vlSvcChecksums, slot, name)
VL_SVC_STDLIB(VL_AT_STDLIB_F, VL_AT_STDLIB_D)
VL_SVC_SYSTEM(VL_AT_SYSTEM_F, VL_AT_SYSTEM_D)
VL_SVC_FILES(VL_AT_FILES_F, VL_AT_FILES_D)
VL_SVC_SOUND(VL_AT_SOUND_F, VL_AT_SOUND_D)
VL_SVC_REQUESTERS(VL_AT_REQUESTERS_F, VL_AT_REQUESTERS_D)
VL_SVC_FONTS(VL_AT_FONTS_F, VL_AT_FONTS_D)
VL_SVC_ZLIB(VL_AT_ZLIB_F, VL_AT_ZLIB_D)
VL_SVC_PLUGINS(VL_AT_PLUGINS_F, VL_AT_PLUGINS_D)
VL_SVC_CHECKSUMS(VL_AT_CHECKSUMS_F, VL_AT_CHECKSUMS_D)
VL_ABI_ASSERT(sizeof(vlSvcStdlib) == 56 * sizeof(void*), "vlSvcStdlib changed size");
VL_ABI_ASSERT(sizeof(vlSvcSystem) == 56 * sizeof(void*), "vlSvcSystem changed size");
VL_ABI_ASSERT(sizeof(vlSvcFiles) == 40 * sizeof(void*), "vlSvcFiles changed size");
VL_ABI_ASSERT(sizeof(vlSvcSound) == 3 * sizeof(void*), "vlSvcSound changed size");
VL_ABI_ASSERT(sizeof(vlSvcRequesters) == 4 * sizeof(void*), "vlSvcRequesters changed size");
VL_ABI_ASSERT(sizeof(vlSvcFonts) == 3 * sizeof(void*), "vlSvcFonts changed size");
VL_ABI_ASSERT(sizeof(vlSvcZlib) == 16 * sizeof(void*), "vlSvcZlib changed size");
VL_ABI_ASSERT(sizeof(vlSvcPlugins) == 5 * sizeof(void*), "vlSvcPlugins changed size");
VL_ABI_ASSERT(sizeof(vlSvcChecksums) == 10 * sizeof(void*), "vlSvcChecksums changed size");

/* Sub-tables whose slots are typed by their own subsystems; only their size
 * is fixed here. */
#define VL_SVC_GRAPHICS_COUNT 30
#define VL_SVC_FREETYPE_COUNT 40
#define VL_SVC_JPEG_COUNT 25
typedef struct vlSvcGraphics { vlServiceFn slot[VL_SVC_GRAPHICS_COUNT]; } vlSvcGraphics;
typedef struct vlSvcFreeType { vlServiceFn slot[VL_SVC_FREETYPE_COUNT]; } vlSvcFreeType;
typedef struct vlSvcJpeg { vlServiceFn slot[VL_SVC_JPEG_COUNT]; } vlSvcJpeg;

/* Typed access to the slots of the graphics and FreeType sub-tables, which
 * stay arrays: for each slot a function type vlGfx_NAME (vlFt_NAME) and a
 * slot number VL_GFX_NAME (VL_FT_NAME); VL_GFX (VL_FT) fetches a slot as
 * its own type, e.g. VL_GFX(services, LoadImageARGB)(file, &w, &h, &a, 0).
 * A slot this build lacks is null. */
#define VL_GFX_SLOT_TYPE(slot, name, result, params) typedef result(*vlGfx_##name) params;
#define VL_GFX_SLOT_NUMBER(slot, name, result, params) VL_GFX_##name = slot,
#define VL_FT_SLOT_TYPE(slot, name, result, params) typedef result(*vlFt_##name) params;
#define VL_FT_SLOT_NUMBER(slot, name, result, params) VL_FT_##name = slot,
#define VL_GFX(services, name) ((vlGfx_##name)(void (*)(void))(services)->graphics->slot[VL_GFX_##name])
#define VL_FT(services, name) ((vlFt_##name)(void (*)(void))(services)->freetype->slot[VL_FT_##name])

/* A display client's callback (slot 3.8): code and argument words of the
 * display event, and the client's user data. */
typedef void (*vlDisplayObserverFn)(void* client, uint32_t code, const int32_t* args, void* userData);

/* Sub-table 3, graphics. Pictures (slots 0-3): "file" is a file name as the
 * file slots take it. ProbeImageFile: 1 when some loader (image plug-ins,
 * then the built-in readers) recognises the file, with its width, height
 * and depth (32 when it carries alpha, else 24); 0 when not recognised.
 * LoadImageARGB: a loaded picture (null on failure, the error then in the
 * error argument) whose pixels GetLoadedImagePixels gives as width x height
 * words 0xAARRGGBB, rows one after another, alpha 0xFF where the picture
 * has none; tag 1 non-zero keeps the words as the reader made them (alpha
 * 0 in pictures without it). width, height and alpha (1 when the picture
 * carries alpha) go out. FreeLoadedImage releases it.
 *
 * Brushes (slots 4-6, 12, 29) are named by a vlObjectId as the VM's
 * GetObjectIDArgSvc reads it and answer 0 or the player's error code:
 * LockBrushPixels fills ten words: pixels, row bytes, pixel format, bytes
 * per pixel, width, height, mask pixels, mask row bytes, alpha pixels,
 * alpha row bytes (0 for a plane the brush lacks; mask bits run from bit 7,
 * a set bit is visible). Tag 1 non-zero locks for reading only. A brush
 * stays locked (script commands that change or free it fail with "object is
 * locked") until UnlockBrushPixels. GetBrushARGB: the brush as new
 * 0xAARRGGBB words (mask bits become alpha 255 and 0; without mask and
 * alpha plane every alpha is 255), released by FreeARGB; tags 1 and 2 take
 * an int32_t* for the width and height, tag 3 an int32_t* set to 1 when the
 * brush has neither mask nor alpha plane; null on failure.
 * CreateBrushFromARGB: a brush from width x height ARGB words (id->handle
 * non-null asks for an automatic id: the brush's handle goes back in it;
 * a numbered id replaces a brush of that number). Tag 1 a colour key
 * 0xRRGGBB: pixels of other colours get set mask bits; tag 2 non-zero: the
 * alpha bytes become the brush's alpha channel (tag 1 then goes unused);
 * tag 3 the row length of
 * the words in pixels (default width). 1522 when the picture, 1565 when the
 * mask, 1564 when the alpha channel cannot be made, 1000 out of memory.
 * FreeBrushByID frees a brush; with reportMissing 0 a missing one is no
 * error.
 *
 * Drawing (slots 22-24): colours 0xAARRGGBB; flags bit 0 blends by the
 * colour's alpha byte, otherwise the colour is drawn opaque. The target is
 * the current output (the display's picture, shown at once, or the picture
 * selected for drawing; on a display with layers the drawing lasts until
 * the layers are drawn again) unless tag 2 gives a const vlObjectId* of a
 * brush to draw into. DrawLineARGB: tag 1 the line width in pixels, 10 when not
 * given. 0 or an error code (1055 while a mask or alpha channel is the
 * output).
 *
 * BlitPixelsSvc copies a rectangle between two pixel buffers of one pixel
 * format (vlBlitPixels), through the source's mask bits or blended by its
 * alpha bytes when given (the alpha bytes when both are); 0, or 1055 for a
 * record it cannot take.
 * GetRawBitmapSize: the bytes a width x height picture of a pixel format
 * takes (formats 0-13 packed rows; 14 an alpha plane, 15 a mask plane, with
 * their row rules), the row bytes through rowBytes; 0 for anything else.
 * ColorToPixel and PixelToColor convert between 0xAARRGGBB colours and the
 * pixel values of a format (withAlpha non-zero keeps the alpha byte).
 *
 * Slots 7-11, 13-20 and 25 belong to display clients, display and requester
 * adapters, window icons and pictures handed to adapters (the bitmap words
 * are the vlBitmap handles an adapter receives). */
typedef struct vlBlitPixels {
  const void* source;
  int32_t sourceRowBytes, sourceX, sourceY;
  void* target;
  int32_t targetRowBytes, targetX, targetY;
  int32_t width, height;
  int32_t format;              /* of both buffers: 0-13 */
  const uint8_t* mask;         /* 1 bit per source pixel, or null */
  int32_t maskRowBytes;
  const uint8_t* alpha;        /* 1 byte per source pixel, or null */
  int32_t alphaRowBytes;
} vlBlitPixels;

#define VL_SVC_GRAPHICS(F, D)                                                                           \
  F(0, ProbeImageFile, int, (const char* file, int32_t* width, int32_t* height, int32_t* depth))      \
  F(1, LoadImageARGB, void*,                                                                           \
    (const char* file, int32_t* width, int32_t* height, int32_t* alpha, const vlTagItem* tags))        \
  F(2, GetLoadedImagePixels, uint32_t*, (void* image))                                                 \
  F(3, FreeLoadedImage, void, (void* image))                                                           \
  F(4, LockBrushPixels, int, (vlVMState*, const vlObjectId* brush, uintptr_t* words, const vlTagItem*)) \
  F(5, UnlockBrushPixels, int, (vlVMState*, const vlObjectId* brush))                                  \
  F(6, GetBrushARGB, uint32_t*, (vlVMState*, const vlObjectId* brush, const vlTagItem* tags))         \
  F(7, FreeARGB, void, (uint32_t* argb))                                                               \
  F(8, AddDisplayClient, void*,                                                                        \
    (int32_t display, void* handle, vlDisplayObserverFn, void* userData, vlTagItem* tags, uint32_t))  \
  F(9, RemoveDisplayClient, void, (void* client))                                                      \
  F(10, RefreshDisplayClient, int, (void* client))                                                     \
  F(11, SizeDisplayClient, int, (void* client, int32_t width, int32_t height))                         \
  F(12, CreateBrushFromARGB, int,                                                                      \
    (vlVMState*, vlObjectId* id, const uint32_t* argb, int32_t width, int32_t height, const vlTagItem*)) \
  F(13, SetDisplayAdapter, int, (vlPluginInfo*, uintptr_t userData, const vlTagItem* tags))            \
  F(14, GetWindowIconList, void*, (void))                                                              \
  F(15, FreeIconList, void, (void* list))                                                              \
  F(16, LockBitmapPixels, int, (void* bitmap, uintptr_t* words, const vlTagItem* tags))                \
  F(17, UnlockBitmapPixels, void, (void* bitmap))                                                      \
  F(18, GetDisplayAttrs, int, (const void* window, const vlTagItem* tags))                             \
  F(19, RedrawDisplayByHandle, int, (const void* window))                                              \
  F(20, GetDisplayHandle, uintptr_t, (int32_t display, const void* window))                            \
  F(21, BlitPixelsSvc, int, (const vlBlitPixels* blit))                                                \
  F(22, FillRectARGB, int,                                                                             \
    (vlVMState*, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t argb, uint32_t flags,  \
     const vlTagItem* tags))                                                                           \
  F(23, WritePixelARGB, int, (vlVMState*, int32_t x, int32_t y, uint32_t argb, uint32_t flags, const vlTagItem*)) \
  F(24, DrawLineARGB, int,                                                                             \
    (vlVMState*, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t argb, uint32_t flags,       \
     const vlTagItem* tags))                                                                           \
  F(25, ReadBitmapARGB, uint32_t*, (void* bitmap, int32_t x, int32_t y, const vlTagItem* tags))        \
  F(26, GetRawBitmapSize, uint32_t, (int32_t width, int32_t height, int32_t format, int32_t* rowBytes)) \
  F(27, ColorToPixel, uint32_t, (uint32_t color, int32_t format, int32_t withAlpha))                   \
  F(28, PixelToColor, uint32_t, (uint32_t pixel, int32_t format, int32_t withAlpha))                   \
  F(29, FreeBrushByID, int, (vlVMState*, const vlObjectId* brush, int32_t reportMissing))
VL_SVC_GRAPHICS(VL_GFX_SLOT_TYPE, VL_GFX_SLOT_TYPE)
VL_ENUM_U32 { VL_SVC_GRAPHICS(VL_GFX_SLOT_NUMBER, VL_GFX_SLOT_NUMBER) VL_GFX_SLOT_END };
VL_ABI_ASSERT(VL_GFX_SLOT_END == VL_SVC_GRAPHICS_COUNT, "the graphics list lost a slot");

/* Sub-table 7: the FreeType library the player runs on (FreeType 2), in this
 * fixed order, each slot the FreeType function of that name; slots 38 and
 * 39 are null. Include FreeType's own headers for its records and cast:
 * the handles (FT_Library, FT_Face, FT_GlyphSlot, FT_Size, FT_Glyph,
 * FT_Stroker) and record pointers (FT_Open_Args, FT_Matrix, FT_Vector,
 * FT_Outline, FT_BBox, FT_Bitmap, FT_Outline_Funcs) are opaque here;
 * int is FT_Error (0 success), long FT_Long/FT_Pos/FT_Fixed/FT_F26Dot6,
 * unsigned long FT_ULong, uint32_t FT_UInt, int32_t FT_Int32, int FT_Int and
 * the enums, unsigned char FT_Bool. Slot 21, FreeTypeForward, hands its two
 * arguments (outline, box) on to FT_Outline_Get_CBox. */
#define VL_SVC_FREETYPE(F, D)                                                                          \
  F(0, FT_Init_FreeType, int, (void** library))                                                        \
  F(1, FT_Done_FreeType, int, (void* library))                                                         \
  F(2, FT_New_Memory_Face, int, (void* library, const unsigned char* data, long size, long index, void** face)) \
  F(3, FT_Open_Face, int, (void* library, const void* openArgs, long index, void** face))               \
  F(4, FT_Done_Face, int, (void* face))                                                                \
  F(5, FT_Set_Char_Size, int, (void* face, long width, long height, uint32_t hres, uint32_t vres))     \
  F(6, FT_Set_Pixel_Sizes, int, (void* face, uint32_t width, uint32_t height))                         \
  F(7, FT_Set_Transform, void, (void* face, void* matrix, void* delta))                                \
  F(8, FT_New_Size, int, (void* face, void** size))                                                    \
  F(9, FT_Activate_Size, int, (void* size))                                                            \
  F(10, FT_Done_Size, int, (void* size))                                                               \
  F(11, FT_Get_Char_Index, uint32_t, (void* face, unsigned long code))                                 \
  F(12, FT_Get_Kerning, int, (void* face, uint32_t left, uint32_t right, uint32_t mode, void* vector)) \
  F(13, FT_Load_Glyph, int, (void* face, uint32_t glyphIndex, int32_t flags))                          \
  F(14, FT_Render_Glyph, int, (void* slot, int mode))                                                  \
  F(15, FT_GlyphSlot_Embolden, void, (void* slot))                                                     \
  F(16, FT_Get_Glyph, int, (void* slot, void** glyph))                                                 \
  F(17, FT_Done_Glyph, void, (void* glyph))                                                            \
  F(18, FT_Outline_New, int, (void* library, uint32_t points, int contours, void* outline))            \
  F(19, FT_Outline_Done, int, (void* library, void* outline))                                          \
  F(20, FT_Outline_Transform, void, (const void* outline, const void* matrix))                         \
  F(21, FreeTypeForward, void, (const void* outline, void* box))                                       \
  F(22, FT_Outline_Translate, void, (const void* outline, long dx, long dy))                           \
  F(23, FT_Outline_Get_Bitmap, int, (void* library, void* outline, const void* bitmap))                \
  F(24, FT_Outline_Decompose, int, (void* outline, const void* funcs, void* user))                     \
  F(25, FT_Stroker_New, int, (void* library, void** stroker))                                          \
  F(26, FT_Stroker_Set, void, (void* stroker, long radius, int cap, int join, long miterLimit))        \
  F(27, FT_Stroker_Done, void, (void* stroker))                                                        \
  F(28, FT_Stroker_BeginSubPath, int, (void* stroker, void* to, unsigned char open))                   \
  F(29, FT_Stroker_LineTo, int, (void* stroker, void* to))                                             \
  F(30, FT_Stroker_ConicTo, int, (void* stroker, void* control, void* to))                             \
  F(31, FT_Stroker_CubicTo, int, (void* stroker, void* control1, void* control2, void* to))            \
  F(32, FT_Stroker_EndSubPath, int, (void* stroker))                                                   \
  F(33, FT_Stroker_ParseOutline, int, (void* stroker, void* outline, unsigned char opened))            \
  F(34, FT_Stroker_GetCounts, int, (void* stroker, uint32_t* points, uint32_t* contours))              \
  F(35, FT_Stroker_Export, void, (void* stroker, void* outline))                                       \
  F(36, FT_Stroker_GetBorderCounts, int, (void* stroker, int border, uint32_t* points, uint32_t* contours)) \
  F(37, FT_Stroker_ExportBorder, void, (void* stroker, int border, void* outline))
VL_SVC_FREETYPE(VL_FT_SLOT_TYPE, VL_FT_SLOT_TYPE)
VL_ENUM_U32 { VL_SVC_FREETYPE(VL_FT_SLOT_NUMBER, VL_FT_SLOT_NUMBER) VL_FT_SLOT_END };
VL_ABI_ASSERT(VL_FT_SLOT_END == VL_SVC_FREETYPE_COUNT - 2, "the FreeType list lost a slot");

/* The three TrueType faces the player carries ("Bitstream Vera Sans",
 * "Bitstream Vera Serif", "Bitstream Vera Sans Mono"): their bytes, each
 * face's byte count in the same order, then four null words. The bytes
 * are read-only and live as long as the player. */
typedef struct vlSvcBuiltinData {
  const void* fonts[3];
  uintptr_t fontSizes[3];
  uintptr_t unused[4];
} vlSvcBuiltinData;

struct vlServiceTable {
  uint32_t version;   /* 6 */
  uint32_t revision;  /* 1 */
  const vlSvcStdlib* stdlib;
  const vlSvcSystem* system;
  const vlSvcFiles* files;
  const vlSvcGraphics* graphics;
  const vlSvcSound* sound;
  const vlSvcRequesters* requesters;
  const vlSvcFonts* fonts;
  const vlSvcFreeType* freetype;
  const vlPluginVMTable* vm;
  const vlSvcBuiltinData* builtinData;
  const vlSvcZlib* zlib;
  const vlSvcJpeg* jpeg;
  const vlSvcPlugins* plugins;
  const vlSvcChecksums* checksums;
};
VL_ABI_ASSERT(offsetof(vlServiceTable, stdlib) == 8, "vlServiceTable.stdlib moved");
VL_ABI_ASSERT(offsetof(vlServiceTable, vm) == 8 + 8 * 8, "vlServiceTable.vm moved");
VL_ABI_ASSERT(sizeof(vlServiceTable) == 8 + 14 * 8, "vlServiceTable changed size");

#ifdef __cplusplus
inline constexpr int32_t kPluginProgramVersion = VL_PLUGIN_PROGRAM_VERSION;
inline constexpr int32_t kPluginProgramRevision = VL_PLUGIN_PROGRAM_REVISION;
inline constexpr int kPluginEntryCount = VL_PLUGIN_ENTRY_COUNT;
inline constexpr int kPluginVMSlotCount = VL_PLUGIN_VM_SLOT_COUNT;

// A slot as its routine's own type, and a routine as a slot (through the
// generic function type, so that the compiler sees a deliberate cast).
template <class Fn>
inline Fn vlSlotAs(vlServiceFn slot) noexcept {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(slot));
}
template <class Fn>
inline vlServiceFn vlAsSlot(Fn fn) noexcept {
  return reinterpret_cast<vlServiceFn>(reinterpret_cast<void (*)()>(fn));
}
#endif

#endif /* VL_RUNTIME_PLUGIN_ABI_H */

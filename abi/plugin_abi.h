/* The plug-in interface: what a separately built plug-in (a shared object
 * named NAME.vlp) exports, the block it describes itself in and the service
 * table of player routines it is handed. The header stands alone and reads
 * as C99 or as C++17 and later; the C++ conveniences are at the end. The
 * records are shared with code built elsewhere, so their layouts are pinned
 * by the checks below: slots and words are only ever appended. Its
 * constants are macros, the flag and code words unsigned (2u) and the value
 * types plain ints, so that they mix with plain integers in C and in C++
 * (flags |= alpha ? VL_IMGREC_ALPHA : 0); only the slot numbers VL_GFX_*
 * and VL_FT_*, array indices, are enumerators.
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
 *     (non-zero: success) and SaveSample. The rows are asked for twice,
 *     each time from the first: a counting pass until a row without the
 *     "more" bit, then a filling pass of as many calls. Start again at the
 *     first row after the row without the bit (a counter that only grows
 *     would fill the table with the rows after the last one).
 *   PLUGINCAPS_FILEADAPTER and PLUGINCAPS_DIRADAPTER: the F... and ...Dir
 *     entries typed in VL_PLUGIN_ENTRIES below, described after it.
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
#define VL_TAG_END 0u

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
#define PLUGINCAPS_CONVERT          0x1u
#define PLUGINCAPS_LIBRARY          0x2u
#define PLUGINCAPS_IMAGE            0x4u
#define PLUGINCAPS_ANIM             0x8u
#define PLUGINCAPS_SOUND            0x10u
#define PLUGINCAPS_VECTOR           0x20u
#define PLUGINCAPS_VIDEO            0x40u
#define PLUGINCAPS_SAVEIMAGE        0x80u
#define PLUGINCAPS_SAVEANIM         0x100u
#define PLUGINCAPS_SAVESAMPLE       0x200u
#define PLUGINCAPS_REQUIRE          0x400u
#define PLUGINCAPS_DISPLAYADAPTER   0x800u
#define PLUGINCAPS_TIMERADAPTER     0x1000u
#define PLUGINCAPS_REQUESTERADAPTER 0x2000u
#define PLUGINCAPS_FILEADAPTER      0x4000u
#define PLUGINCAPS_DIRADAPTER       0x8000u
#define PLUGINCAPS_AUDIOADAPTER     0x10000u
#define PLUGINCAPS_EXTENSIONS       0x20000u

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
#define VL_SAVERIMG_ARGB        1u
#define VL_SAVERIMG_ALPHA       2u
#define VL_SAVERIMG_TRANSPARENT 4u
/* Format-row flags of image and anim savers. */
#define VL_SAVERFMT_ARGB  1u
#define VL_SAVERFMT_ALPHA 4u
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

/* File adapters (PLUGINCAPS_FILEADAPTER) serve the streams the player and
 * the plug-ins open, tried in turn until one answers:
 *   FOpen (name, mode, tags): the handle, or null (not this adapter's
 *     file). mode is one of the codes below, not the script's #MODE_
 *     constants: #MODE_READ arrives as VL_ADAPTER_READ, #MODE_WRITE (a new
 *     or emptied file) as VL_ADAPTER_WRITE, #MODE_READWRITE as
 *     VL_ADAPTER_UPDATE. tags: VL_FOPEN_FLAGS always (a pointer to the
 *     stream's flags word, 0 on entry: set VL_FOPEN_UNSEEKABLE when the
 *     stream cannot seek; every seek but a query of the position is then
 *     refused without a call); for a file linked into the applet
 *     VL_FOPEN_CONTAINER (the path of the file holding it), VL_FOPEN_OFFSET
 *     and VL_FOPEN_LENGTH (where it lies there), the name being the linked
 *     name; for a file held in memory VL_FOPEN_DATA and VL_FOPEN_LENGTH.
 *   FRead, FWrite: bytes moved (0 at the end or on failure). FGetC: the
 *     byte or -1. FPutC: non-zero when the byte was written. FFlush:
 *     non-zero on success (0 is a write error to the script). FEof:
 *     non-zero at the end. FClose: its answer is not read, so write out
 *     what is pending before it can fail.
 *   FSeek (handle, offset, VL_SEEK_*): the position before the seek, -1 on
 *     failure; (0, VL_SEEK_CURRENT) asks for the position.
 *   FStat (handle, 0, status, null) and Stat (name, 0, status, null):
 *     non-zero with the status filled (size, isDirectory non-zero for a
 *     folder, protection in the FILEATTR_ bits the dos library reports,
 *     comment, dates; the dates come preset to the player's start, words
 *     are handed on as they are); 0 when the handle or name is not the
 *     adapter's (FStat's 0 makes the file's size 0).
 * Directory adapters (PLUGINCAPS_DIRADAPTER) serve the folders the dos
 * library opens with an "adapter" option:
 *   OpenDir (name, flags, null): the handle or null; flags is
 *     VL_OPENDIR_READ | VL_OPENDIR_ADAPTERS (5) for OpenDirectory and the
 *     path commands. CloseDir (handle).
 *   NextDirEntry (handle, 0, name, type, status): 1 with the next entry,
 *     0 after the last. *name: the entry's name, read before the next call;
 *     *type: non-zero for a folder, 0 for a file; status as for Stat (dates
 *     preset). */
#define VL_ADAPTER_WRITE  1u
#define VL_ADAPTER_UPDATE 2u
#define VL_ADAPTER_READ   4u
#define VL_FOPEN_FLAGS     1u
#define VL_FOPEN_CONTAINER 2u
#define VL_FOPEN_OFFSET    3u
#define VL_FOPEN_LENGTH    4u
#define VL_FOPEN_DATA      5u
#define VL_FOPEN_UNSEEKABLE 2u
#define VL_OPENDIR_READ     1u
#define VL_OPENDIR_ADAPTERS 4u


/* Display adapters: their entries and records, read as part of this header. */
#include "plugin_display.h"

/* A {tag, value} list for RequirePlugin: tag 1 the address of the flags
 * word, tag 2 the option value. */
#define VL_REQUIRE_FLAGS  1u
#define VL_REQUIRE_OPTION 2u

/* The loader, saver and other adapter entries live in a header of their
 * own, read as part of this one. */
#include "plugin_entries.h"

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

#define VL_PSTAT_DIRECTORY   0x20000u
#define VL_PSTAT_OWNER_READ  1u
#define VL_PSTAT_OWNER_WRITE 2u
#define VL_PSTAT_OWNER_EXEC  8u
#define VL_PSTAT_GROUP_READ  0x200u
#define VL_PSTAT_GROUP_WRITE 0x400u
#define VL_PSTAT_GROUP_EXEC  0x800u
#define VL_PSTAT_OTHER_READ  0x1000u
#define VL_PSTAT_OTHER_WRITE 0x2000u
#define VL_PSTAT_OTHER_EXEC  0x4000u

/* An entry of GetPluginChain. */
typedef struct vlPluginChainEntry {
  struct vlPluginChainEntry* next;
  vlPluginInfo* info;
} vlPluginChainEntry;

/* The VM sub-table: the stack interface, 78 entry points in a fixed order.
 * Slot 35, CallProtected (state, argument count, result count, handler):
 * calls the function below that many arguments on the stack, as slot 74
 * (CallFunction) does, but an error raised inside it comes back as its
 * numeric code (0 when none; GetErrorText, system slot 4, makes the text)
 * instead of ending the command, and the script goes on. The fourth
 * argument names a stack slot as an error handler: it is kept for the
 * call and never called (errors are codes); pass 0. After an error the
 * stack top is not reset: it stays where the error left it, with the
 * function and its arguments taken off when the function was a command
 * that returned the error, and with a result count of 1 a nil left where
 * the result would be (the top one above where the function stood), but
 * with more left on the stack when the error came from inside a script
 * function. Set it back yourself (SetStackTop) before pushing results, or
 * the stack grows with every caught error. */
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
#define VL_TYPE_NONE          (-1)
#define VL_TYPE_NIL           0
#define VL_TYPE_BOOLEAN       1
#define VL_TYPE_LIGHTUSERDATA 2
#define VL_TYPE_NUMBER        3
#define VL_TYPE_STRING        4
#define VL_TYPE_TABLE         5
#define VL_TYPE_FUNCTION      6
#define VL_TYPE_USERDATA      7
#define VL_TYPE_THREAD        8

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
#define VL_CLIENT_MOVE    1u  /* {x, y}: the pointer moved there (time stamped) */
#define VL_CLIENT_LEFT    2u  /* {x, y, down}: left button, event 1 */
#define VL_CLIENT_RIGHT   3u  /* {x, y, down}: right button, event 2 */
#define VL_CLIENT_MIDDLE  4u  /* {x, y, down}: middle button, event 16 */
#define VL_CLIENT_WHEEL   5u  /* {x, y, down}: wheel, event 12 (down) or 11 (up) */
#define VL_CLIENT_KEY     6u  /* {key code, down, qualifiers}: event 3 */
#define VL_CLIENT_REFRESH 7u  /* value: non-zero to get refresh calls (code 5) */
#define VL_CLIENT_WORD3   8u  /* value: the client's word 3 (tag 3 of slot 8) */
#define VL_CLIENT_WORD4   9u  /* value: the client's word 4 (tag 4 of slot 8) */

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
#define VL_EXAMINE_COPIES 2u

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
#define VL_SEEK_CURRENT 0
#define VL_SEEK_BEGIN   1
#define VL_SEEK_END     2

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
#define VL_SAMPLE_DIRECT 1u
#define VL_SAMPLE_BIGENDIAN 1u
#define VL_SAMPLE_SIGNED    2u

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

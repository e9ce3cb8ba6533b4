// The plug-in interface as separately built plug-ins see it: the capability
// bits, the info block a plug-in fills in InitPlugin, and the service table
// it is handed. Both records are shared with code built elsewhere, so their
// layouts are pinned below: slots and words are only ever appended.
#pragma once
#include <sys/time.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <type_traits>

#include "runtime/command_hooks.h"
#include "runtime/file_stat.h"
#include "runtime/tag_list.h"
#include "vm/plugin_vm.h"

struct vlVMState;
struct vlCommand;
struct vlConstant;
struct vlServiceTable;
struct vlPluginInfo;
struct vlTimeVal;

// Capability bits (word 0 of the info block).
enum : uint32_t {
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
  PLUGINCAPS_EXTENSIONS = 0x20000,
};

// The program version a plug-in may ask for at most.
inline constexpr int32_t kPluginProgramVersion = 6;
inline constexpr int32_t kPluginProgramRevision = 1;

// An entry point whose arguments belong to the subsystem that calls it.
typedef void (*vlPluginEntry)();

// A file type a plug-in reads; strings are stored right behind the node.
struct vlPluginFileType {
  vlPluginFileType* next;
  uint32_t type;
  const char* name;
  const char* mimeType;  // may be null
  const char* extensions;
  uint32_t formatId;     // kept only when flags bit 0 is set
  uint32_t flags;
};

// One saver format as a plug-in's saver registration entry reports it.
struct vlSaverFormat {
  uint32_t flags;
  uint32_t formatId;
  const char* name;
};

// The picture a saver plug-in's SaveImage gets, with the open stream to
// write to and the format id: int SaveImage(stream, image, format), 0 on
// failure. Palette savers (format row without flag bit 0) get one index
// byte per pixel and the palette; the others 0xAARRGGBB words.
struct vlSaverImage {
  void* pixels;
  const uint32_t* palette;  // null for ARGB pixels
  int32_t width, height;
  int32_t rowBytes;
  int32_t colorCount;        // palette entries
  int32_t transparentIndex;  // valid with VL_SAVERIMG_TRANSPARENT
  uint32_t flags;            // VL_SAVERIMG_*
};
enum : uint32_t { VL_SAVERIMG_ARGB = 1, VL_SAVERIMG_ALPHA = 2, VL_SAVERIMG_TRANSPARENT = 4 };
// Format-row flags of image and anim savers.
enum : uint32_t { VL_SAVERFMT_ARGB = 1, VL_SAVERFMT_ALPHA = 4 };
typedef int (*vlSaveImageFn)(void* stream, const vlSaverImage* image, uint32_t format);

// One frame for an anim saver's WriteAnimFrame (handle, frame).
struct vlSaverAnimFrame {
  void* pixels;  // palette indices, or ARGB words
  uint32_t* palette;
  int32_t rowLength;  // bytes
  int32_t colorCount;
  int32_t transparentIndex;
  int32_t delay;     // milliseconds
  uint32_t flags;    // 1 the ARGB pixels carry alpha, 2 the transparent index is valid
  uint32_t formatId;
};
typedef void* (*vlBeginAnimStreamFn)(const char* file, int32_t width, int32_t height, uint32_t mode,
                                     int32_t quality, int32_t fps);
typedef int (*vlWriteAnimFrameFn)(void* handle, vlSaverAnimFrame* frame);
typedef int (*vlFinishAnimStreamFn)(void* handle);

// X(name, type): the entry points, in block order.
#define VL_PLUGIN_ENTRIES(X)                                                                   \
  X(InitPlugin, int (*)(vlPluginInfo*, const vlServiceTable*, const char*, void*))            \
  X(ClosePlugin, void (*)())                                                                  \
  X(IsImage, vlPluginEntry) X(LoadImage, vlPluginEntry) X(GetImage, vlPluginEntry)            \
  X(FreeImage, vlPluginEntry) X(TransformImage, vlPluginEntry)                                \
  X(OpenAnim, vlPluginEntry) X(LoadFrame, vlPluginEntry) X(FreeFrame, vlPluginEntry)          \
  X(GetFrameDelay, vlPluginEntry) X(CloseAnim, vlPluginEntry)                                 \
  X(OpenStream, vlPluginEntry) X(CloseStream, vlPluginEntry) X(SeekStream, vlPluginEntry)     \
  X(StreamSamples, vlPluginEntry) X(GetFormatName, vlPluginEntry)                             \
  X(GetPathExtents, vlPluginEntry) X(DrawPath, vlPluginEntry) X(TranslatePath, vlPluginEntry) \
  X(GetCurrentPoint, vlPluginEntry) X(CreateVectorFont, vlPluginEntry)                        \
  X(FreeVectorFont, vlPluginEntry) X(OpenFont, vlPluginEntry) X(CloseFont, vlPluginEntry)     \
  X(OpenVideo, vlPluginEntry) X(CloseVideo, vlPluginEntry) X(NextPacket, vlPluginEntry)       \
  X(FreePacket, vlPluginEntry) X(DecodeVideoFrame, vlPluginEntry)                             \
  X(DecodeAudioFrame, vlPluginEntry) X(SeekVideo, vlPluginEntry) X(FlushAudio, vlPluginEntry) \
  X(FlushVideo, vlPluginEntry) X(GetVideoFrames, vlPluginEntry) X(GetVideoFormat, vlPluginEntry) \
  X(GetBaseTable, const char* (*)())                                                          \
  X(GetCommands, const vlCommand* (*)())                                                      \
  X(GetConstants, const vlConstant* (*)())                                                    \
  X(InitLibrary, int (*)(vlVMState*))                                                         \
  X(FreeLibrary, void (*)(vlVMState*))                                                        \
  X(GetLibraryCount, int (*)())                                                               \
  X(SetCurrentLibrary, void (*)(int))                                                         \
  X(GetScript, vlPluginEntry) X(FreeScript, vlPluginEntry)                                    \
  X(RegisterImageSaver, void (*)(vlSaverFormat*))                                             \
  X(SaveImage, vlPluginEntry)                                                                 \
  X(imageSaverFormats, vlSaverFormat*)                                                        \
  X(RegisterAnimSaver, void (*)(vlSaverFormat*))                                              \
  X(BeginAnimStream, vlPluginEntry) X(WriteAnimFrame, vlPluginEntry)                          \
  X(FinishAnimStream, vlPluginEntry)                                                          \
  X(animSaverFormats, vlSaverFormat*)                                                         \
  X(RegisterSampleSaver, void (*)(vlSaverFormat*))                                            \
  X(SaveSample, vlPluginEntry)                                                                \
  X(sampleSaverFormats, vlSaverFormat*)                                                       \
  X(RequirePlugin, int (*)(vlVMState*, int32_t, int32_t, uint32_t, const vlTagItem*))         \
  X(HandleEvents, vlPluginEntry) X(WaitEvents, vlPluginEntry)                                 \
  X(ForceEventLoopIteration, vlPluginEntry) X(Sleep, vlPluginEntry) X(VWait, vlPluginEntry)   \
  X(DetermineBorderSizes, vlPluginEntry) X(OpenDisplay, vlPluginEntry)                        \
  X(CloseDisplay, vlPluginEntry) X(ChangeBufferSize, vlPluginEntry)                           \
  X(ShowHideDisplay, vlPluginEntry) X(SizeMoveDisplay, vlPluginEntry)                         \
  X(SetDisplayTitle, vlPluginEntry) X(ActivateDisplay, vlPluginEntry)                         \
  X(SetDisplayAttributes, vlPluginEntry) X(CreatePointer, vlPluginEntry)                      \
  X(FreePointer, vlPluginEntry) X(SetPointer, vlPluginEntry) X(ShowHidePointer, vlPluginEntry) \
  X(MovePointer, vlPluginEntry) X(GetMousePos, vlPluginEntry) X(GetQualifiers, vlPluginEntry) \
  X(BltBitMap, vlPluginEntry) X(RectFill, vlPluginEntry) X(WritePixel, vlPluginEntry)         \
  X(Line, vlPluginEntry) X(GetMonitorInfo, vlPluginEntry) X(FreeMonitorInfo, vlPluginEntry)   \
  X(GrabScreenPixels, vlPluginEntry) X(FreeGrabScreenPixels, vlPluginEntry)                   \
  X(AdapterMainLoop, vlPluginEntry) X(BeginDoubleBuffer, vlPluginEntry)                       \
  X(EndDoubleBuffer, vlPluginEntry) X(Flip, vlPluginEntry) X(Cls, vlPluginEntry)              \
  X(AllocVideoBitMap, vlPluginEntry) X(FreeVideoBitMap, vlPluginEntry)                        \
  X(ReadVideoPixels, vlPluginEntry) X(FreeVideoPixels, vlPluginEntry)                         \
  X(DoVideoBitMapMethod, vlPluginEntry) X(AllocBitMap, vlPluginEntry)                         \
  X(FreeBitMap, vlPluginEntry) X(LockBitMap, vlPluginEntry) X(UnLockBitMap, vlPluginEntry)    \
  X(GetBitMapAttr, vlPluginEntry)                                                             \
  X(RegisterTimer, vlPluginEntry) X(FreeTimer, vlPluginEntry)                                 \
  X(SystemRequest, vlPluginEntry) X(FileRequest, vlPluginEntry) X(PathRequest, vlPluginEntry) \
  X(StringRequest, vlPluginEntry) X(ListRequest, vlPluginEntry) X(FontRequest, vlPluginEntry) \
  X(ColorRequest, vlPluginEntry) X(FreeRequest, vlPluginEntry)                                \
  X(FOpen, void* (*)(const char*, uint32_t, const vlTagItem*))                                \
  X(FClose, int (*)(void*))                                                                   \
  X(FRead, int64_t (*)(void*, void*, int64_t))                                                \
  X(FGetC, int (*)(void*))                                                                    \
  X(FWrite, int64_t (*)(void*, const void*, int64_t))                                         \
  X(FPutC, int (*)(void*, int))                                                               \
  X(FSeek, int64_t (*)(void*, int64_t, int))                                                  \
  X(FFlush, int (*)(void*))                                                                   \
  X(FEof, int (*)(void*))                                                                     \
  X(FStat, int (*)(void*, uint32_t, vlAdapterStat*, const vlTagItem*))                        \
  X(Stat, int (*)(const char*, uint32_t, vlAdapterStat*, const vlTagItem*))                   \
  X(OpenDir, void* (*)(const char*, uint32_t, const vlTagItem*))                              \
  X(CloseDir, void (*)(void*))                                                                \
  X(NextDirEntry, int (*)(void*, uint32_t, const char**, uint32_t*, vlAdapterStat*))          \
  X(OpenAudio, vlPluginEntry) X(CloseAudio, vlPluginEntry) X(AllocAudioChannel, vlPluginEntry) \
  X(FreeAudioChannel, vlPluginEntry) X(SetChannelAttributes, vlPluginEntry)                   \
  X(GetExtensions, uint32_t (*)(uint32_t, uint32_t))

inline constexpr int kPluginEntryCount = 131;

// The block a plug-in describes itself in. Zero-filled by the player, which
// presets the program version; the plug-in fills the rest in InitPlugin.
struct vlPluginInfo {
  uint32_t capabilities;
  int32_t version;
  int32_t revision;
  int32_t programVersion;   // lowest program version the plug-in needs
  int32_t programRevision;
  const char* name;
  const char* moduleName;   // must equal the file's base name
  const char* author;
  const char* description;
  const char* copyright;
  const char* url;
  const char* date;
  const char* settings;
  const char* helpFile;
  uint32_t callKind;        // 2: calls go through the frame-call hook
  vlPluginFileType* fileTypes;
  uint32_t displayWords[2];
  uint32_t disabled;        // skipped by every loader chain
  uintptr_t userData;
  uint32_t displayWord2;
  void* audioDevice;
  uint32_t audioBufferSize;
  uint32_t audioChannels;
  uint32_t displayWord3;
  uint32_t requesterFlags;
  uint32_t adapterWords[3];  // adapterWords[1] bit 0: adapter locked; [2]: file-adapter word
  uint32_t extensions[32];   // what GetExtensions(1 << i, 0) answered
  uint32_t joinedOnRequest;  // joined a loader list because a list named it
  uint32_t librariesInitialised;
#define VL_PLUGIN_ENTRY_FIELD(name, type) std::type_identity_t<type> name;
  VL_PLUGIN_ENTRIES(VL_PLUGIN_ENTRY_FIELD)
#undef VL_PLUGIN_ENTRY_FIELD
};

static_assert(sizeof(void*) == 8, "the plug-in records are laid out for 64-bit pointers");
static_assert(offsetof(vlPluginInfo, name) == 24);
static_assert(offsetof(vlPluginInfo, callKind) == 96);
static_assert(offsetof(vlPluginInfo, fileTypes) == 104);
static_assert(offsetof(vlPluginInfo, disabled) == 120);
static_assert(offsetof(vlPluginInfo, userData) == 128);
static_assert(offsetof(vlPluginInfo, audioDevice) == 144);
static_assert(offsetof(vlPluginInfo, extensions) == 180);
static_assert(offsetof(vlPluginInfo, joinedOnRequest) == 308);
static_assert(offsetof(vlPluginInfo, InitPlugin) == 320);
static_assert(offsetof(vlPluginInfo, GetExtensions) == 320 + (kPluginEntryCount - 1) * 8);
static_assert(sizeof(vlPluginInfo) == 320 + kPluginEntryCount * 8);

// A {tag, value} list for RequirePlugin: tag 1 the address of the flags
// word, tag 2 the option value.
enum : uint32_t { VL_REQUIRE_FLAGS = 1, VL_REQUIRE_OPTION = 2 };

// ---------------------------------------------------------------------------
// The service table.

// A slot whose routine belongs to a subsystem that reports "not available"
// (1066) for now; its arguments are those of the subsystem's routine.
typedef int (*vlServiceFn)();

// The broken-down time record of the time slots. The size word holds the
// record's size (56 with a pointer-sized zone name).
struct vlPluginTime {
  uint32_t size;
  int32_t second, minute, hour, day, month, year, weekday, yearDay, isDst;
  int32_t utcOffset;
  const char* zone;
};
static_assert(sizeof(vlPluginTime) == 56 && offsetof(vlPluginTime, zone) == 48);

struct vlPluginStat {
  uint32_t caller;  // left as the caller set it
  uint32_t flags;
  uint32_t sizeLow, sizeHigh;
  uint32_t accessTime, modifyTime, changeTime;
};

enum : uint32_t {
  VL_PSTAT_DIRECTORY = 0x20000,
  VL_PSTAT_OWNER_READ = 1, VL_PSTAT_OWNER_WRITE = 2, VL_PSTAT_OWNER_EXEC = 8,
  VL_PSTAT_GROUP_READ = 0x200, VL_PSTAT_GROUP_WRITE = 0x400, VL_PSTAT_GROUP_EXEC = 0x800,
  VL_PSTAT_OTHER_READ = 0x1000, VL_PSTAT_OTHER_WRITE = 0x2000, VL_PSTAT_OTHER_EXEC = 0x4000,
};

// An entry of GetPluginChain.
struct vlPluginChainEntry {
  vlPluginChainEntry* next;
  vlPluginInfo* info;
};

// A sub-table is an array of pointer-sized slots; the names say what each is.
#define VL_DECLARE_SUBTABLE(Type, LIST, count)                                    \
  struct Type {                                                                   \
    LIST(VL_SERVICE_FIELD)                                                        \
  };                                                                              \
  static_assert(sizeof(Type) == (count) * sizeof(void*), #Type " changed size");  \
  LIST(VL_SERVICE_OFFSET_##Type)

#define VL_SERVICE_FIELD(slot, name, type) std::type_identity_t<type> name;

// X(slot, name, type)
#define VL_SVC_STDLIB(X)                                                                  \
  X(0, malloc_, void* (*)(size_t)) X(1, calloc_, void* (*)(size_t, size_t))               \
  X(2, realloc_, void* (*)(void*, size_t)) X(3, free_, void (*)(void*))                   \
  X(4, strdup_, char* (*)(const char*)) X(5, fopen_, FILE* (*)(const char*, const char*)) \
  X(6, fclose_, int (*)(FILE*)) X(7, fseek_, int (*)(FILE*, long, int))                   \
  X(8, ftell_, long (*)(FILE*)) X(9, fread_, size_t (*)(void*, size_t, size_t, FILE*))    \
  X(10, fwrite_, size_t (*)(const void*, size_t, size_t, FILE*))                          \
  X(11, fgetc_, int (*)(FILE*)) X(12, fputc_, int (*)(int, FILE*))                        \
  X(13, ferror_, int (*)(FILE*)) X(14, feof_, int (*)(FILE*))                             \
  X(15, vfprintf_, int (*)(FILE*, const char*, va_list))                                  \
  X(16, vsnprintf_, int (*)(char*, size_t, const char*, va_list))                         \
  X(17, vprintf_, int (*)(const char*, va_list))                                          \
  X(18, qsort_, void (*)(void*, size_t, size_t, int (*)(const void*, const void*)))       \
  X(19, vsscanf_, int (*)(const char*, const char*, va_list))                             \
  X(20, strtod_, double (*)(const char*, char**))                                         \
  X(21, strtol_, long (*)(const char*, char**, int))                                      \
  X(22, strtoul_, unsigned long (*)(const char*, char**, int))                            \
  X(23, StrCaseCmp, int (*)(const char*, const char*))                                    \
  X(24, StrNCaseCmp, int (*)(const char*, const char*, size_t))                           \
  X(25, ToLowerChar, int (*)(int)) X(26, ToUpperChar, int (*)(int))                       \
  X(27, StrToLower, char* (*)(char*)) X(28, StrToUpper, char* (*)(char*))                 \
  X(29, gettimeofday_, int (*)(struct timeval*, void*))                                   \
  X(30, time_, time_t (*)(time_t*)) X(31, lrint_, long (*)(double))                       \
  X(32, LocalTimeRecord, vlPluginTime* (*)(const time_t*))                                \
  X(33, GmTimeRecord, vlPluginTime* (*)(const time_t*))                                   \
  X(34, AscTimeRecord, char* (*)(const vlPluginTime*))                                    \
  X(35, ctime_, char* (*)(const time_t*))                                                 \
  X(36, MakeTimeRecord, time_t (*)(vlPluginTime*))                                        \
  X(37, FormatTimeRecord, size_t (*)(char*, size_t, const char*, const vlPluginTime*))    \
  X(38, clock_, clock_t (*)())                                                            \
  X(39, DiffTimeOut, double* (*)(time_t, time_t, double*))                                \
  X(40, clearerr_, void (*)(FILE*)) X(41, fileno_, int (*)(FILE*))                        \
  X(42, fflush_, int (*)(FILE*))                                                          \
  X(43, FStatRecord, int (*)(int, vlPluginStat*))                                         \
  X(44, StatRecord, int (*)(const char*, vlPluginStat*))                                  \
  X(45, vfscanf_, int (*)(FILE*, const char*, va_list)) X(46, ungetc_, int (*)(int, FILE*)) \
  X(47, rename_, int (*)(const char*, const char*)) X(48, remove_, int (*)(const char*))  \
  X(49, GetErrno, int (*)()) X(50, SetErrno, int* (*)(int))                               \
  X(51, unused51, void*) X(52, unused52, void*) X(53, unused53, void*)                    \
  X(54, unused54, void*) X(55, unused55, void*)

#define VL_SVC_SYSTEM(X)                                                                    \
  X(0, SystemTags, int (*)(vlVMState*, vlTagItem*))                                         \
  X(1, RegisterUserError, int (*)(const char*))                                             \
  X(2, SetErrorArgument, const char* (*)(const char*))                                      \
  X(3, SetErrorArgIndex, void (*)(int32_t))                                                 \
  X(4, GetErrorText, void (*)(int, char*, size_t))                                          \
  X(5, GetSysTime, uint32_t (*)(vlTimeVal*))                                                \
  X(6, SubTimeVal, void (*)(vlTimeVal*, const vlTimeVal*))                                  \
  X(7, AddTimeVal, void (*)(vlTimeVal*, const vlTimeVal*))                                  \
  X(8, CompareTimeVal, int (*)(const vlTimeVal*, const vlTimeVal*))                         \
  X(9, SleepMillis, void (*)(uint32_t))                                                     \
  X(10, GetDateString, void (*)(char*, size_t))                                             \
  X(11, AllocPluginMemory, void* (*)(size_t, uint32_t))                                     \
  X(12, FreePluginMemory, void (*)(void*))                                                  \
  X(13, AddHookEntry, void* (*)(uint32_t, void*, void*, uintptr_t))                             \
  X(14, RegisterEventTypeSimple, vlServiceFn) X(15, PostAdapterEvent, int (*)(uint32_t, const uintptr_t*))          \
  X(16, DisplayClientControl, vlServiceFn)                                                  \
  X(17, RegisterObjectTypeSvc, uint32_t (*)(const char*, void*, uint32_t))                  \
  X(18, FreeObjectDataList, void (*)(vlVMState*, void*))                                    \
  X(19, AddPluginFileType, int (*)(vlPluginInfo*, uint32_t, const char*, const char*,       \
                                   const char*, uint32_t, uint32_t))                        \
  X(20, ServiceEvents, vlServiceFn)                                                         \
  X(21, AddCommandHook, vlCommandHook* (*)(vlCommandHookFn, vlCommandHookErrorFn, void*))   \
  X(22, RemoveCommandHook, void (*)(vlCommandHook*))                                        \
  X(23, HookCommand, int (*)(vlCommandHook*, vlNativeFn))                                   \
  X(24, SetCommandHookErrorHandler, void (*)(vlCommandHook*, vlCommandHookErrorFn))         \
  X(25, GetCommandHookErrorHandler, vlCommandHookErrorFn (*)(vlCommandHook*))               \
  X(26, SetCommandHookDisabled, void (*)(vlCommandHook*, uint32_t))                         \
  X(27, PostAdapterEventVM, int (*)(vlVMState*, uint32_t, const uintptr_t*, uint32_t))                                                    \
  X(28, PumpEventsSvc, int (*)(vlVMState*, uint32_t))                                     \
  X(29, WaitEventsSvc, int (*)(vlVMState*))                       \
  X(30, CreateMutex, void* (*)()) X(31, FreeMutex, void (*)(void*))                         \
  X(32, LockMutex, void (*)(void*)) X(33, UnlockMutex, void (*)(void*))                     \
  X(34, SetHookEntryWord, void (*)(void*, void*))                                           \
  X(35, RemoveHookEntry, void (*)(void*))                                                   \
  X(36, RegisterEventType, uint32_t (*)(const char*, uint32_t, void* const*, uint32_t))                                                     \
  X(37, PrintToStdout, void (*)(const char*, ...))                                          \
  X(38, RunHandlerById, int (*)(vlVMState*, void*)) X(39, SetTimerAdapter, vlServiceFn)                    \
  X(40, GetDateStamp, vlServiceFn)                                                          \
  X(41, ConvertEncoding, char* (*)(const char*, int, int))                                  \
  X(42, FreeConvertedString, void (*)(char*))                                               \
  X(43, AddLoaderToClass, int (*)(vlPluginInfo*, uint32_t))                                 \
  X(44, RemoveLoaderFromClass, void (*)(vlPluginInfo*, uint32_t))                           \
  X(45, SetFileAdapterWord, int (*)(vlPluginInfo*, uint32_t, uint32_t))                     \
  X(46, DispatchCallbackRecord, int (*)(vlVMState*, uint32_t, void*))                                                \
  X(47, GetSourcePosition, int (*)(vlVMState*, void**))                                     \
  X(48, FindEventType, int32_t (*)(const char*, uintptr_t*))                                                         \
  X(49, unused49, void*) X(50, unused50, void*) X(51, unused51, void*)                      \
  X(52, unused52, void*) X(53, unused53, void*) X(54, unused54, void*) X(55, unused55, void*)

#define VL_SVC_FILES(X)                                                                        \
  X(0, OpenFileDefault, void* (*)(const char*, uint32_t))                                      \
  X(1, CloseFileStream, void (*)(void*))                                                       \
  X(2, SeekFileStreamSvc, int64_t (*)(void*, int64_t, int))                                    \
  X(3, ReadFileStream, int64_t (*)(void*, void*, int64_t))                                     \
  X(4, WriteFileStream, int64_t (*)(void*, const void*, int64_t))                              \
  X(5, ReadFileStreamByte, int (*)(void*)) X(6, WriteFileStreamByte, int (*)(void*, int))      \
  X(7, IsFileStreamAtEnd, int (*)(void*))                                                      \
  X(8, RemovePath, int (*)(const char*))                                                      \
  X(9, LockPath, void* (*)(const char*, uint32_t))                                             \
  X(10, FreeFileLock, void (*)(void*)) X(11, GetFileLockName, void (*)(void*, char*, size_t))  \
  X(12, StatLockSvc, vlServiceFn) X(13, RequireDirectoryLock, int (*)(void*, uint32_t*))       \
  X(14, ReleasePathHook, vlServiceFn)                                                          \
  X(15, NextDirEntrySvc, int (*)(void*, const char**, uint32_t*, uint64_t*, uint32_t*))        \
  X(16, MakeDirPath, int (*)(const char*))                                                     \
  X(17, RenamePath, int (*)(const char*, const char*))                                         \
  X(18, GetCurrentDirName, int (*)(char*, size_t))                                             \
  X(19, MakeTempFileName, int (*)(char*, size_t))                                              \
  X(20, AddPart, int (*)(char*, size_t, const char*))                                          \
  X(21, GetFilePart, const char* (*)(const char*))                                             \
  X(22, GetReadableFileName, const char* (*)(const char*))                                     \
  X(23, ResolveChunkName, int (*)(const char*, char*, size_t, int64_t*, int64_t*))            \
  X(24, ExamineLockSvc, vlServiceFn)                                                           \
  X(25, SeekFileStream, int64_t (*)(void*, int64_t, int))                                      \
  X(26, GetFileStreamFlags, uint32_t (*)(const void*))                                         \
  X(27, ExamineStreamSvc, vlServiceFn)                                                         \
  X(28, SaveBufferToFile, int (*)(const char*, const void*, int64_t, uint32_t))                                   \
  X(29, GetChunkInfoSvc, int (*)(const char*, int64_t*))                                      \
  X(30, FlushFileStream, int (*)(void*))                                                       \
  X(31, MakeTempFileNameSvc, vlServiceFn)                                                      \
  X(32, OpenFileTags, void* (*)(const char*, uint32_t, const vlTagItem*))                      \
  X(33, unused33, void*) X(34, unused34, void*) X(35, unused35, void*) X(36, unused36, void*)  \
  X(37, unused37, void*) X(38, unused38, void*) X(39, unused39, void*)

// Sub-tables whose routines belong to subsystems that report "not
// available" for now; only their size is fixed here.
#define VL_SVC_GRAPHICS_COUNT 30
#define VL_SVC_SOUND_COUNT 3
#define VL_SVC_REQUESTERS_COUNT 4
#define VL_SVC_FONTS_COUNT 3
#define VL_SVC_FREETYPE_COUNT 40
#define VL_SVC_JPEG_COUNT 25

#define VL_SVC_ZLIB(X)                                                                      \
  X(0, inflateInit_, void*) X(1, inflate, void*) X(2, inflateEnd, void*)                    \
  X(3, deflateInit_, void*) X(4, deflate, void*) X(5, deflateEnd, void*)                    \
  X(6, deflateReset, void*) X(7, deflateParams, void*) X(8, inflateReset, void*)            \
  X(9, inflateSync, void*) X(10, inflateInit2_, void*) X(11, deflateInit2_, void*)          \
  X(12, crc32, void*) X(13, unused13, void*) X(14, unused14, void*) X(15, unused15, void*)

#define VL_SVC_PLUGINS(X)                                                   \
  X(0, GetPluginChain, vlPluginChainEntry* (*)())                           \
  X(1, FreePluginChain, void (*)(vlPluginChainEntry*))                      \
  X(2, SetPluginDisabled, void (*)(vlPluginInfo*, uint32_t))                \
  X(3, SetPluginUserData, void (*)(vlPluginInfo*, uintptr_t))               \
  X(4, GetPluginUserData, uintptr_t (*)(vlPluginInfo*))

#define VL_SVC_CHECKSUMS(X)                                                 \
  X(0, Base64EncodeSvc, void (*)(const void*, size_t, char*, size_t*))     \
  X(1, Base64DecodeSvc, int (*)(const char*, size_t, void*, size_t*))      \
  X(2, Crc32Svc, int32_t (*)(const void*, int32_t))                         \
  X(3, MD5Hex, void (*)(const void*, size_t, char*))                       \
  X(4, word4, intptr_t) X(5, word5, intptr_t) X(6, word6, intptr_t)         \
  X(7, word7, intptr_t) X(8, word8, intptr_t) X(9, word9, intptr_t)

#define VL_SERVICE_OFFSET(Type, slot, name)                                 \
  static_assert(offsetof(Type, name) == (slot) * sizeof(void*), #Type " slot " #name " moved");
#define VL_SERVICE_OFFSET_vlSvcStdlib(slot, name, type) VL_SERVICE_OFFSET(vlSvcStdlib, slot, name)
#define VL_SERVICE_OFFSET_vlSvcSystem(slot, name, type) VL_SERVICE_OFFSET(vlSvcSystem, slot, name)
#define VL_SERVICE_OFFSET_vlSvcFiles(slot, name, type) VL_SERVICE_OFFSET(vlSvcFiles, slot, name)
#define VL_SERVICE_OFFSET_vlSvcZlib(slot, name, type) VL_SERVICE_OFFSET(vlSvcZlib, slot, name)
#define VL_SERVICE_OFFSET_vlSvcPlugins(slot, name, type) VL_SERVICE_OFFSET(vlSvcPlugins, slot, name)
#define VL_SERVICE_OFFSET_vlSvcChecksums(slot, name, type) VL_SERVICE_OFFSET(vlSvcChecksums, slot, name)

VL_DECLARE_SUBTABLE(vlSvcStdlib, VL_SVC_STDLIB, 56)
VL_DECLARE_SUBTABLE(vlSvcSystem, VL_SVC_SYSTEM, 56)
VL_DECLARE_SUBTABLE(vlSvcFiles, VL_SVC_FILES, 40)
VL_DECLARE_SUBTABLE(vlSvcZlib, VL_SVC_ZLIB, 16)
VL_DECLARE_SUBTABLE(vlSvcPlugins, VL_SVC_PLUGINS, 5)
VL_DECLARE_SUBTABLE(vlSvcChecksums, VL_SVC_CHECKSUMS, 10)

struct vlSvcGraphics { vlServiceFn slot[VL_SVC_GRAPHICS_COUNT]; };
struct vlSvcSound { vlServiceFn slot[VL_SVC_SOUND_COUNT]; };
struct vlSvcRequesters { vlServiceFn slot[VL_SVC_REQUESTERS_COUNT]; };
struct vlSvcFonts { vlServiceFn slot[VL_SVC_FONTS_COUNT]; };
struct vlSvcFreeType { vlServiceFn slot[VL_SVC_FREETYPE_COUNT]; };
struct vlSvcJpeg { vlServiceFn slot[VL_SVC_JPEG_COUNT]; };

// The three built-in TrueType fonts (sans, serif, mono), their sizes, then
// four null words.
struct vlSvcBuiltinData {
  const void* fonts[3];
  uintptr_t fontSizes[3];
  uintptr_t unused[4];
};

struct vlServiceTable {
  uint32_t version;   // 6
  uint32_t revision;  // 1
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
static_assert(offsetof(vlServiceTable, stdlib) == 8);
static_assert(offsetof(vlServiceTable, vm) == 8 + 8 * 8);
static_assert(sizeof(vlServiceTable) == 8 + 14 * 8);

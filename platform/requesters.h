// The built-in requesters (message box, file, path, string, list, font and
// colour) and the wrappers that hand each one to a requester-adapter
// plug-in when it offers that kind. Texts are ISO 8859-1. Main thread only.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlVMState;
struct vlPluginInfo;

// What the font requester fills in.
struct vlFontSpec {
  char name[256];
  int32_t size;
  int32_t weight;  // 0 ... 215
  int32_t slant;   // 0 upright, 100 italic, 110 oblique
  uint32_t underline;
  uint32_t strikeout;
  uint32_t bold;
  uint32_t italic;
  uint32_t color;
};

// A file requester's answer. files holds each chosen file part ended by a
// zero byte; both texts are malloc'ed (FreeFileResult releases them).
struct vlFileResult {
  char* directory;
  char* files;
  uint32_t count;
  uint32_t success;
};
void FreeFileResult(vlFileResult* result);
// The whole path of one chosen file: the directory (with or without its
// closing '/') joined with the file part. 0 when it does not fit in size.
int JoinFileResultPath(const vlFileResult* result, const char* file, char* path, size_t size);

// The console forms: prompts on standard output, answers from standard
// input. End of input counts as cancelling.
int ConsoleSystemRequest(const char* body, const char* buttons, int32_t* result);
int ConsoleFileRequest(const char* title, int wantDirectory, int save, vlFileResult* result);
int ConsoleStringRequest(const char* body, int type, int maximum, char* destination, int destinationSize);
int ConsoleListRequest(const char* body, const char* choices, int32_t* result);
int ConsoleFontRequest(vlFontSpec* font);
int ConsoleColorRequest(int32_t* result);

// The built-in requesters: the GTK dialogs, or the console forms when the
// toolkit or a display is missing.
int BuiltinSystemRequest(vlVMState* state, void* display, const char* title, const char* body,
                         const char* buttons, int icon, uint32_t flag, int32_t* result);
int BuiltinFileRequest(vlVMState* state, void* display, const char* title, const char* pattern, int mode,
                       const char* directory, const char* file, uint32_t flag, vlFileResult* result);
// result: a new malloc'ed text, or null when cancelled.
int BuiltinPathRequest(vlVMState* state, void* display, const char* title, int mode, const char* directory,
                       uint32_t flag, char** result);
// 0, or 1003 when cancelled; destination holds destinationSize bytes.
int BuiltinStringRequest(vlVMState* state, void* display, const char* title, const char* body,
                         const char* defaultText, int type, int maximum, int password, uint32_t flag,
                         char* destination, int destinationSize);
// choices: texts each ended by a zero byte, the list by an empty one.
int BuiltinListRequest(vlVMState* state, void* display, const char* title, const char* body,
                       const char* choices, int32_t defaultIndex, uint32_t flag, int32_t* result);
int BuiltinFontRequest(vlVMState* state, void* display, const char* title, const char* name, int32_t size,
                       uint32_t flag, vlFontSpec* font);
int BuiltinColorRequest(vlVMState* state, void* display, const char* title, int32_t defaultColor,
                        uint32_t flag, int32_t* result);

// The installed requester adapter (null: none) and the wrappers that use
// it for the kinds its capability byte names, else the built-in code. The
// display (a vlPlatformWindow, or null) is the one the requester belongs
// to.
extern vlPluginInfo* vlRequesterAdapter;
int ShowSystemRequester(vlVMState* state, void* display, const char* title, const char* body,
                        const char* buttons, int icon, uint32_t flag, int32_t* result);
int ShowFileRequester(vlVMState* state, void* display, const char* title, const char* pattern, int mode,
                      const char* directory, const char* file, uint32_t flag, vlFileResult* result);
int ShowPathRequester(vlVMState* state, void* display, const char* title, int mode, const char* directory,
                      uint32_t flag, char** result);
int ShowStringRequester(vlVMState* state, void* display, const char* title, const char* body,
                        const char* defaultText, int type, int maximum, int password, uint32_t flag,
                        char* destination, int destinationSize);
int ShowListRequester(vlVMState* state, void* display, const char* title, const char* body,
                      const char* choices, int32_t defaultIndex, uint32_t flag, int32_t* result);
int ShowFontRequester(vlVMState* state, void* display, const char* title, const char* name, int32_t size,
                      uint32_t flag, vlFontSpec* font);
int ShowColorRequester(vlVMState* state, void* display, const char* title, int32_t defaultColor,
                       uint32_t flag, int32_t* result);

// Routes the error system's requester through ShowSystemRequester.
void InstallErrorRequester();

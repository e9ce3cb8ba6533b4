// The error system: the error-argument buffer and error number that fill a
// message's placeholders, the last error, user error codes, the text of a
// code, the current-function record reported with errors, and the error
// requester's text.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlVMState;

inline constexpr size_t kErrorArgumentSize = 1024;  // 1023 characters + terminator
inline constexpr size_t kErrorTextSize = 1024;      // callers of GetErrorText give this much
inline constexpr size_t kFunctionNameSize = 256;
inline constexpr size_t kSourceFileSize = 1024;

// Copies at most 1023 characters of text into the error-argument buffer,
// terminates it and returns it.
const char* SetErrorArgument(const char* text);
const char* GetErrorArgument();
// The error number that fills "%d"/"%ld" (an object number or argument index).
void SetErrorArgIndex(int32_t value);
int32_t GetErrorArgIndex();

// The code of the most recent error stored by StoreAndRaiseError; reading
// never resets it.
void SetLastErrorCode(int code);
int GetLastErrorCode();

// Registers a user error text; its code (1581 for the first), or 1000.
int RegisterUserError(const char* text);
void FreeUserErrors();

// The message of a code, formatted with the error argument or number, cut
// to size bytes (always terminated when size > 0).
void GetErrorText(int code, char* dst, size_t size);

// The current-function record: the name ("----" when unknown), the line of
// the failing call (-1 when unknown) and the current source file ("?").
void ResetCurrentFunction();
void SetCurrentFunctionName(const char* name);
const char* GetCurrentFunctionName();
bool CurrentFunctionKnown();
void SetCurrentErrorLine(int32_t line);
int32_t GetCurrentErrorLine();
// An error that ended an event handler keeps the position it was noted at
// (the handler's line) when the command that ran the handler raises it
// again: the next position note is skipped once.
void KeepErrorPosition();
// True once after KeepErrorPosition; clears it.
bool TakeKeptErrorPosition();
void SetErrorSourceFile(const char* file);
const char* GetErrorSourceFile();

// The part of a file name a message shows: for a script-chunk name its
// stored file name, then the text after the last '/' or '\\', else after
// the first ':'; names shorter than two characters stay as they are.
const char* ReadableFilePart(const char* name, char* buffer, size_t size);

// The error requester's text: the message alone when plain or when source
// positions are unknown; otherwise with the file, line and (when known) the
// function, in the catalog's words for "File", "current line" and "In
// function". Cut to size bytes.
void FormatErrorRequesterText(char* dst, size_t size, const char* message, bool plain,
                              bool positionsKnown);

// The system requester used for errors (title, body, icon); by default the
// console form, which prints the body. The requester layer installs its own.
using vlErrorRequesterFn = void (*)(vlVMState* state, const char* title, const char* body, int icon);
void SetErrorRequester(vlErrorRequesterFn fn);
void ShowErrorRequesterText(vlVMState* state, const char* body, int icon);

// Error store, user errors, message texts of codes, the current-function
// record and the error requester text. Depends on the message table and the
// placeholder substituter; nothing here touches the VM.
#include "runtime/errors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/chunk_name.h"
#include "runtime/error_format.h"
#include "runtime/messages.h"
#include "vm/error_codes.h"

namespace {

char gErrorArgument[kErrorArgumentSize];
int32_t gErrorNumber;
int gLastError;

struct vlUserError {
  vlUserError* next;
  const char* text;  // points just behind the node
};
vlUserError* gUserErrors;
vlUserError** gUserErrorsTail = &gUserErrors;
int gUserErrorCount;

char gFunctionName[kFunctionNameSize] = "----";
int32_t gErrorLine = -1;
char gSourceFile[kSourceFileSize] = "?";

void ConsoleRequester(vlVMState*, const char*, const char* body, int) {
  fputs(body, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}
vlErrorRequesterFn gRequester = ConsoleRequester;

// Codes whose "%s" shows only the file part of the error argument.
bool ShowsFilePart(int code) {
  switch (code) {
    case 1044: case 1045: case 1065: case 1170: case 1356:
    case 1357: case 1358: case 1403: case 1450: case 1574:
      return true;
    default:
      return false;
  }
}

}  // namespace

const char* SetErrorArgument(const char* text) {
  CopyText(gErrorArgument, sizeof gErrorArgument, text);
  return gErrorArgument;
}
const char* GetErrorArgument() { return gErrorArgument; }
void SetErrorArgIndex(int32_t value) { gErrorNumber = value; }
int32_t GetErrorArgIndex() { return gErrorNumber; }
void SetLastErrorCode(int code) { gLastError = code; }
int GetLastErrorCode() { return gLastError; }

int RegisterUserError(const char* text) {
  if (!text) text = "";
  size_t len = strlen(text);
  auto* node = static_cast<vlUserError*>(malloc(sizeof(vlUserError) + len + 1));
  if (!node) return ERR_MEM;
  char* copy = reinterpret_cast<char*>(node + 1);
  memcpy(copy, text, len + 1);
  node->next = nullptr;
  node->text = copy;
  *gUserErrorsTail = node;
  gUserErrorsTail = &node->next;
  return ERR_FIRST_USER + gUserErrorCount++;
}

void FreeUserErrors() {
  for (vlUserError* n = gUserErrors; n;) {
    vlUserError* next = n->next;
    free(n);
    n = next;
  }
  gUserErrors = nullptr;
  gUserErrorsTail = &gUserErrors;
  gUserErrorCount = 0;
}

const char* ReadableFilePart(const char* name, char* buffer, size_t size) {
  if (!name) name = "";
  const char* start = name;
  size_t len = strlen(name);
  if (IsChunkName(name)) {
    if (const char* star = strchr(name, '*')) {
      start = star + 1;
      const char* q = strchr(start, '?');
      len = q ? static_cast<size_t>(q - start) : strlen(start);
    }
  }
  if (len >= 2) {
    const char* cut = nullptr;
    for (const char* p = start; p < start + len; ++p)
      if (*p == '/' || *p == '\\') cut = p;
    if (!cut) cut = static_cast<const char*>(memchr(start, ':', len));
    if (cut) {
      len -= static_cast<size_t>(cut + 1 - start);
      start = cut + 1;
    }
  }
  if (size) {
    if (len > size - 1) len = size - 1;
    memmove(buffer, start, len);
    buffer[len] = 0;
  }
  return buffer;
}

void GetErrorText(int code, char* dst, size_t size) {
  const char* text;
  if (code >= ERR_FIRST_USER) {
    const vlUserError* n = gUserErrors;
    for (int i = code - ERR_FIRST_USER; n && i > 0; --i) n = n->next;
    text = n ? n->text : GetMessage(VL_MSG_UNKNOWN_ERROR);
  } else if (code == 0) {
    text = GetMessage(VL_MSG_NO_ERROR);
  } else if (code >= ERR_FIRST && code <= ERR_LAST_BUILTIN) {
    int32_t id = vlErrorMessageMap[code - ERR_FIRST];
    if (id < 0) {  // the text is the argument itself, never formatted
      CopyText(dst, size, gErrorArgument);
      return;
    }
    text = GetMessage(id);
  } else {
    text = GetMessage(VL_MSG_UNKNOWN_ERROR);
  }

  if (HasStringPlaceholder(text)) {
    char part[kErrorArgumentSize];
    const char* arg = gErrorArgument;
    if (IsChunkName(gErrorArgument)) {
      // a linked file is named by its stored name from here on
      ReadableFilePart(gErrorArgument, part, sizeof part);
      SetErrorArgument(part);
    } else if (ShowsFilePart(code)) {
      arg = ReadableFilePart(gErrorArgument, part, sizeof part);
    }
    FormatMessageText(dst, size, text, arg, gErrorNumber);
  } else {
    // Also for texts without placeholders: "%%" stands for one "%".
    FormatMessageText(dst, size, text, "", gErrorNumber);
  }
}

void ResetCurrentFunction() {
  CopyText(gFunctionName, sizeof gFunctionName, "----");
  gErrorLine = -1;
}
void SetCurrentFunctionName(const char* name) { CopyText(gFunctionName, sizeof gFunctionName, name); }
const char* GetCurrentFunctionName() { return gFunctionName; }
bool CurrentFunctionKnown() { return strcmp(gFunctionName, "----") != 0; }
void SetCurrentErrorLine(int32_t line) { gErrorLine = line; }

namespace {
bool gPositionKept = false;
}  // namespace

void KeepErrorPosition() { gPositionKept = true; }
bool TakeKeptErrorPosition() {
  bool kept = gPositionKept;
  gPositionKept = false;
  return kept;
}
int32_t GetCurrentErrorLine() { return gErrorLine; }
void SetErrorSourceFile(const char* file) { CopyText(gSourceFile, sizeof gSourceFile, file); }
const char* GetErrorSourceFile() { return gSourceFile; }

void FormatErrorRequesterText(char* dst, size_t size, const char* message, bool plain,
                              bool positionsKnown) {
  if (plain || !positionsKnown) {
    CopyText(dst, size, message);
    return;
  }
  char file[kSourceFileSize];
  ReadableFilePart(gSourceFile, file, sizeof file);
  // Our own fixed formats: the texts are only ever arguments.
  if (!CurrentFunctionKnown())
    snprintf(dst, size, "%s\n%s: %s (%s: %d)", message, GetMessage(VL_MSG_FILE), file,
             GetMessage(VL_MSG_CURRENT_LINE), gErrorLine);
  else
    snprintf(dst, size, "%s\n%s: %s (%s: %d - %s: %s)", message, GetMessage(VL_MSG_FILE), file,
             GetMessage(VL_MSG_CURRENT_LINE), gErrorLine, GetMessage(VL_MSG_IN_FUNCTION), gFunctionName);
}

void SetErrorRequester(vlErrorRequesterFn fn) { gRequester = fn ? fn : ConsoleRequester; }

void ShowErrorRequesterText(vlVMState* state, const char* body, int icon) {
  gRequester(state, "VellamoraPlayer", body, icon);
}

// The requester sub-table: the message box, file and folder requesters a
// script gets, with plain results in the caller's buffer, and the requester
// adapter's installation. Like the script's own, they belong to the current
// display, and keep the running script's windows alive while they are up.
// Depends on the requester wrappers and the display clients' adapter
// services.
#include <cstdlib>
#include <cstring>

#include "display/clients.h"
#include "display/display.h"
#include "platform/requesters.h"
#include "player/service_adapters.h"
#include "runtime/os.h"

namespace {

const char* Text(const char* text) { return text ? text : ""; }

// 1 when text fits into buffer with its terminator; else buffer is emptied.
int CopyResult(const char* text, char* buffer, size_t size) {
  size_t n = std::strlen(text);
  if (n >= size) {
    buffer[0] = 0;
    return 0;
  }
  std::memcpy(buffer, text, n + 1);
  return 1;
}

int32_t SystemRequest(const char* title, const char* body, const char* buttons) {
  int32_t result = 0;
  if (ShowSystemRequester(GetRunningScriptState(), CurrentDisplay(), Text(title), Text(body), buttons, 0, 0,
                          &result))
    return 0;
  return result;
}

int FileRequest(const char* title, const char* directory, const char* file, uint32_t mode, char* buffer,
                size_t size) {
  if (!buffer || size == 0) return 0;
  buffer[0] = 0;
  vlFileResult result{};
  const int status = ShowFileRequester(GetRunningScriptState(), CurrentDisplay(), Text(title), "#?",
                                       mode == 2 ? 2 : 0, Text(directory), Text(file), 0, &result);
  int chosen = !status && result.success && result.count > 0 && result.files &&
               JoinFileResultPath(&result, result.files, buffer, size);
  if (!chosen) buffer[0] = 0;
  FreeFileResult(&result);
  return chosen;
}

int PathRequest(const char* title, const char* directory, char* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  buffer[0] = 0;
  char* result = nullptr;
  const int status =
      ShowPathRequester(GetRunningScriptState(), CurrentDisplay(), Text(title), 0, Text(directory), 0, &result);
  const int chosen = !status && result && CopyResult(result, buffer, size);
  std::free(result);
  return chosen;
}

int SetRequesterAdapter(vlPluginInfo* info, uint32_t flags) { return InstallRequesterAdapter(info, flags); }

}  // namespace

const vlSvcRequesters kRequesterServices = {SystemRequest, FileRequest, PathRequest, SetRequesterAdapter};

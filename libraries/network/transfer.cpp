// The front end of DownloadFile and UploadFile: options, the escaped URL,
// the URL parse repeated for each redirect, the multipart form of an HTTP
// upload, the results and the clean-up. Depends on the URL parser, the
// HTTP and FTP clients, the library's connections and file streams.
#include "libraries/network/transfer.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "libraries/network/network_commands.h"
#include "libraries/network/network_library.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

constexpr int kOptionsIndex = 2;
constexpr char kAnonymousUser[] = "anonymous";
constexpr char kAnonymousPassword[] = "vellamora@example.com";
constexpr int kVersionMajor = 6, kVersionMinor = 1;
constexpr size_t kFieldNameSize = 1036;

// Pushes options[key]; false (nothing pushed) when it is nil.
bool FetchOption(vlVMState* state, int table, const char* key) {
  vl::PushString(state, key);
  vl::RawGetTableValue(state, table);
  if (vl::GetTypeAt(state, -1) != VL_TNIL) return true;
  vl::SetStackTop(state, -2);
  return false;
}

// A text option into a fixed field; 1055 when it does not fit.
int OptionText(vlVMState* state, const char* key, char* field, size_t size) {
  char buffer[kFileNameSize + 1];
  if (size + 1 > sizeof buffer) size = sizeof buffer - 1;
  int found = 0;
  GetTableString(state, kOptionsIndex, key, buffer, size + 1, &found);
  if (!found) return 0;
  if (std::strlen(buffer) >= size) return ERR_WRONGUSAGE;
  std::memcpy(field, buffer, std::strlen(buffer) + 1);
  return 0;
}

// A byte-string value on top of the stack, copied; the value is popped.
int TakeBytes(vlVMState* state, char** out, size_t* length) {
  size_t n = vl::GetStringLengthAt(state, -1);
  const char* bytes = vl::ToStringAt(state, -1);
  char* copy = static_cast<char*>(AllocMemory(n + 1, 0));
  if (!copy) {
    vl::SetStackTop(state, -2);
    return ERR_MEM;
  }
  std::memcpy(copy, bytes, n);
  copy[n] = 0;
  vl::SetStackTop(state, -2);
  FreeMemory(*out);
  *out = copy;
  *length = n;
  return 0;
}

// A byte-string option (zero bytes allowed); *found tells whether it was given.
int OptionBytes(vlVMState* state, const char* key, char** out, size_t* length, int* found) {
  if (!FetchOption(state, kOptionsIndex, key)) return 0;
  if (!vl::IsStringAt(state, -1)) {
    vl::SetStackTop(state, -2);
    SetErrorArgument(key);
    vl::RaiseVmError(state, ERR_STRTABLEARG);
  }
  if (found) *found = 1;
  return TakeBytes(state, out, length);
}

int OptionFlag(vlVMState* state, const char* key, int* out) {
  int32_t value = *out;
  GetTableInt(state, kOptionsIndex, key, &value, nullptr);
  *out = value != 0;
  return 0;
}

int ReadOptions(vlTransfer* t, int32_t* mode) {
  vlVMState* state = t->state;
  GetTableInt(state, kOptionsIndex, "transfermode", mode, nullptr);
  if (int r = OptionText(state, "file", t->file, sizeof t->file)) return r;
  OptionFlag(state, "encoded", &t->encoded);
  if (int r = OptionText(state, "proxy", t->proxy, sizeof t->proxy)) return r;
  OptionFlag(state, "silentfail", &t->silentFail);
  if (int r = OptionBytes(state, "customheaders", &t->customHeaders, &t->customLength, nullptr)) return r;
  if (!t->upload) {
    OptionFlag(state, "fail404", &t->fail404);
    OptionFlag(state, "redirect", &t->redirect);
    int found = 0;
    if (int r = OptionBytes(state, "post", &t->post, &t->postLength, &found)) return r;
    if (found && t->postLength == 0) return ERR_WRONGUSAGE;
    if (int r = OptionText(state, "posttype", t->postType, sizeof t->postType)) return r;
    if (int r = OptionText(state, "useragent", t->userAgent, sizeof t->userAgent)) return r;
  } else {
    if (int r = OptionBytes(state, "data", &t->data, &t->dataLength, &t->hasData)) return r;
    if (t->hasData && t->dataLength == 0) return ERR_WRONGUSAGE;
    if (t->hasData && t->file[0]) return ERR_WRONGUSAGE;
  }
  return 0;
}

// The file an FTP upload sends. An HTTP upload sends its form from
// "formdata" and refuses a "file" when its URL is parsed.
int OpenUploadFile(vlTransfer* t, const char* url) {
  if (!t->upload || !t->file[0] || CompareNoCaseN(url, "ftp://", 6)) return 0;
  t->stream = OpenFileStream(t->file, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!t->stream) {
    SetErrorArgument(t->file);
    return ERR_READFILE;
  }
  t->streamSize = GetFileStreamSize(t->stream);
  return 0;
}

// Fresh URL parts with the default credentials and the transfer type.
void ResetParts(vlTransfer* t, int mode) {
  FreeURLParts(&t->parts);
  t->parts = vlURLParts{};
  std::snprintf(t->parts.user, sizeof t->parts.user, "%s", kAnonymousUser);
  std::snprintf(t->parts.password, sizeof t->parts.password, "%s", kAnonymousPassword);
  t->parts.transferMode = mode;
}

// Opens the control connection of the parsed URL; its events are off.
int Connect(vlTransfer* t) {
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  if (int r = OpenTCPConnection(t->state, &id, t->parts.host, t->parts.port, &t->control)) return r;
  HoldForTransfer(t->control);
  return 0;
}

int RunTransfer(vlTransfer* t, int32_t mode) {
  if (mode != 'a' && mode != 'i') return ERR_WRONGUSAGE;
  if (int r = NormaliseURL(t->url, t->encoded, &t->normalised)) return r;
  t->source = t->encoded ? t->normalised : t->url;
  t->location = static_cast<char*>(AllocMemory(kTransferLineSize, 1));
  t->line = static_cast<char*>(AllocMemory(kTransferLineSize, 1));
  if (!t->location || !t->line) return ERR_MEM;
  for (;;) {
    ResetParts(t, mode);
    if (int r = ParseTransferURL(t->source, t->proxy, &t->parts)) return r;
    if (t->parts.protocol == VL_PROTO_HTTP && t->upload) {
      // A "file" beside the form could only be the place the reply is
      // written to, and a file given to an upload is one to read.
      if (t->hasData || t->file[0]) return ERR_WRONGUSAGE;
      if (int r = ReadFormData(t)) return r;
    }
    if (int r = Connect(t)) return r;
    if (t->parts.protocol == VL_PROTO_FTP) return RunFTPTransfer(t);
    int r = RunHTTPTransfer(t);
    if (r != kTransferRedirected) return r;
  }
}

// Pushes the results of a finished transfer: 0 or 2 results.
int PushResults(vlTransfer* t) {
  if (t->upload && t->parts.protocol == VL_PROTO_FTP) return 0;
  if (t->toFile || !t->result)
    vl::PushString(t->state, "");
  else
    vl::PushBytes(t->state, t->result, static_cast<size_t>(t->count));
  vl::PushNumber(t->state, static_cast<double>(t->stoppedCount >= 0 ? t->stoppedCount : t->count));
  return 2;
}

// The form item texts after the record; null for an absent text.
char* PlaceText(char** cursor, const char* text) {
  if (!text) return nullptr;
  char* place = *cursor;
  size_t n = std::strlen(text) + 1;
  std::memcpy(place, text, n);
  *cursor += n;
  return place;
}

// One "formdata" item (the table on top of the stack) appended to the form.
int ReadFormItem(vlTransfer* t, vlFormItem*** tail) {
  vlVMState* state = t->state;
  int item = vl::GetStackTop(state);
  char name[kFieldNameSize + 1], mime[kOptionTextSize + 1] = {}, alias[kOptionTextSize + 1] = {};
  char fileName[kFileNameSize];
  if (!FetchOption(state, item, "name") || !vl::IsStringAt(state, -1)) {
    SetErrorArgument("Name");
    return kErrFieldRequired;
  }
  size_t nameLength = vl::GetStringLengthAt(state, -1);
  if (nameLength == 0 || nameLength >= kFieldNameSize) return ERR_WRONGUSAGE;
  std::memcpy(name, vl::ToStringAt(state, -1), nameLength + 1);
  vl::SetStackTop(state, item);

  vlStream* file = nullptr;
  char* data = nullptr;
  size_t dataLength = 0;
  int64_t size = 0;
  bool hasFileName = false;
  auto fail = [&](int code) {
    CloseFileStream(file);
    FreeMemory(data);
    return code;
  };
  if (FetchOption(state, item, "file")) {
    if (!vl::IsStringAt(state, -1)) return fail(ERR_STRINGEXPECTED);
    // A cut name could open some other file.
    if (vl::GetStringLengthAt(state, -1) >= kFileNameSize) return fail(ERR_WRONGUSAGE);
    char path[kFileNameSize];
    std::snprintf(path, sizeof path, "%s", vl::ToStringAt(state, -1));
    vl::SetStackTop(state, item);
    file = OpenFileStream(path, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
    if (!file) {
      SetErrorArgument(path);
      return ERR_READFILE;
    }
    char part[kFileNameSize];
    std::snprintf(fileName, sizeof fileName, "%s", ReadableFilePart(path, part, sizeof part));
    hasFileName = true;
    size = GetFileStreamSize(file);
    if (size == -1) return fail(kErrFileSize);
    if (size == 0) return fail(ERR_WRONGUSAGE);
    if (FetchOption(state, item, "data")) {
      vl::SetStackTop(state, item);
      return fail(ERR_WRONGUSAGE);
    }
  } else if (FetchOption(state, item, "data")) {
    if (!vl::IsStringAt(state, -1)) return fail(ERR_STRINGEXPECTED);
    if (vl::GetStringLengthAt(state, -1) == 0) return fail(ERR_WRONGUSAGE);
    if (int r = TakeBytes(state, &data, &dataLength)) return fail(r);
    size = static_cast<int64_t>(dataLength);
  } else {
    SetErrorArgument("Data");
    return kErrFieldRequired;
  }
  if (FetchOption(state, item, "mimetype")) {
    if (!vl::IsStringAt(state, -1)) return fail(ERR_STRINGEXPECTED);
    size_t n = vl::GetStringLengthAt(state, -1);
    if (n == 0 || n >= kOptionTextSize) return fail(ERR_WRONGUSAGE);
    std::memcpy(mime, vl::ToStringAt(state, -1), n + 1);
    vl::SetStackTop(state, item);
  } else if (file) {
    std::snprintf(mime, sizeof mime, "%s", "application/octet-stream");
  }
  bool hasAlias = false;
  if (FetchOption(state, item, "filealias")) {
    if (!vl::IsStringAt(state, -1)) return fail(ERR_STRINGEXPECTED);
    if (vl::GetStringLengthAt(state, -1) >= kOptionTextSize) return fail(ERR_WRONGUSAGE);
    std::snprintf(alias, sizeof alias, "%s", vl::ToStringAt(state, -1));
    vl::SetStackTop(state, item);
    hasAlias = true;
  }
  if (hasAlias && !mime[0]) {
    SetErrorArgument("MIMEType");
    return fail(kErrFieldRequired);
  }
  if (mime[0] && !hasAlias && !hasFileName) {
    SetErrorArgument("FileAlias");
    return fail(kErrFieldRequired);
  }
  const char* shownName = hasAlias ? alias : hasFileName ? fileName : nullptr;
  const char* mimeType = mime[0] ? mime : nullptr;
  size_t texts = std::strlen(name) + 1 + (shownName ? std::strlen(shownName) + 1 : 0) +
                 (mimeType ? std::strlen(mimeType) + 1 : 0);
  auto* record = static_cast<vlFormItem*>(AllocMemory(sizeof(vlFormItem) + texts, 1));
  if (!record) return fail(ERR_MEM);
  char* cursor = reinterpret_cast<char*>(record + 1);
  record->name = PlaceText(&cursor, name);
  record->fileName = PlaceText(&cursor, shownName);
  record->mimeType = PlaceText(&cursor, mimeType);
  record->data = data;
  record->file = file;
  record->size = size;
  **tail = record;
  *tail = &record->next;

  int64_t length = static_cast<int64_t>(std::strlen(t->boundary) + std::strlen(name)) + 47 + size;
  if (mimeType) length += static_cast<int64_t>(std::strlen(shownName) + std::strlen(mimeType)) + 29;
  t->formLength += length;
  return 0;
}

}  // namespace

vlTransfer::~vlTransfer() {
  RemoveConnections();
  FreeForm();
  // A download that never finished leaves no partial file.
  if (toFile) FinishReplacement(&target, false);
  else if (stream) CloseFileStream(stream);
  FreeURLParts(&parts);
  FreeMemory(url);
  FreeMemory(normalised);
  FreeMemory(customHeaders);
  FreeMemory(post);
  FreeMemory(data);
  FreeMemory(result);
  FreeMemory(location);
  FreeMemory(line);
}

void vlTransfer::FreeForm() {
  while (vlFormItem* item = form) {
    form = item->next;
    CloseFileStream(item->file);
    FreeMemory(item->data);
    FreeMemory(item);
  }
  formLength = 0;
}

void vlTransfer::RemoveConnections() {
  if (dataConnection) RemoveConnectionRecord(state, dataConnection);
  if (control) RemoveConnectionRecord(state, control);
  dataConnection = control = nullptr;
}

void StartProgress(vlTransfer* t, vlConnection* c, int64_t total, uint32_t action) {
  c->progress.callback = t->progress;
  c->progress.userdata = t->userdata;
  c->progress.count = 0;
  c->progress.total = total;
  c->progress.action = action;
}

void StopProgress(vlConnection* c) { c->progress.callback = 0; }

int OpenTargetFile(vlTransfer* t) {
  // The body goes to a file beside the target, renamed over it only when
  // the whole body arrived. A body of an earlier round is dropped.
  if (t->toFile) FinishReplacement(&t->target, false);
  t->toFile = 0;
  t->stream = nullptr;
  if (int r = OpenReplacement(&t->target, t->file, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) return r;
  t->stream = t->target.stream;
  t->toFile = 1;
  return 0;
}

int ReserveResult(vlTransfer* t, uint64_t n, uint64_t step) {
  // Bodies that no buffer of this process could hold fail before trying.
  constexpr uint64_t kLargest = uint64_t{1} << 40;
  uint64_t need = static_cast<uint64_t>(t->count) + n;
  if (need <= t->capacity) return 0;
  if (n > kLargest || need > kLargest) return ERR_MEM;
  uint64_t grown = t->capacity + (n > step ? n : step);
  // Large bodies grow by half again at least: no copying over and over.
  if (t->capacity >= kTransferPiece && grown < t->capacity + t->capacity / 2) grown = t->capacity + t->capacity / 2;
  if (grown < need) grown = need;
  char* bigger = static_cast<char*>(AllocMemory(static_cast<size_t>(grown), 0));
  if (!bigger) return ERR_MEM;
  if (t->result && t->count) std::memcpy(bigger, t->result, static_cast<size_t>(t->count));
  FreeMemory(t->result);
  t->result = bigger;
  t->capacity = static_cast<size_t>(grown);
  return 0;
}

int ReadFormData(vlTransfer* t) {
  vlVMState* state = t->state;
  t->FreeForm();
  int top = vl::GetStackTop(state);
  if (top < kOptionsIndex || vl::GetTypeAt(state, kOptionsIndex) != VL_TTABLE) return ERR_WRONGUSAGE;
  if (!FetchOption(state, kOptionsIndex, "formdata")) return ERR_WRONGUSAGE;
  int list = vl::GetStackTop(state);
  if (vl::GetTypeAt(state, list) != VL_TTABLE) {
    vl::SetStackTop(state, top);
    return ERR_WRONGUSAGE;
  }
  vlFormItem** tail = &t->form;
  int r = 0;
  for (int i = 1;; ++i) {
    vl::RawGetTableIndex(state, list, i);
    int type = vl::GetTypeAt(state, -1);
    if (type == VL_TNIL) break;
    if (type != VL_TTABLE) {
      SetErrorArgument("formdata");
      r = ERR_TABEXPECTED2;
      break;
    }
    r = ReadFormItem(t, &tail);
    vl::SetStackTop(state, list);
    if (r) break;
  }
  vl::SetStackTop(state, top);
  if (r) return r;
  if (!t->form) return ERR_WRONGUSAGE;
  t->formLength += static_cast<int64_t>(std::strlen(t->boundary)) + 4;
  std::snprintf(t->postType, sizeof t->postType, "multipart/form-data; boundary=%s", t->boundary + 2);
  return 0;
}

int TransferURL(vlVMState* state, int upload) {
  CheckArgs(state, upload ? 2 : 1, 4, 0, 0);
  const char* url = vl::CheckStringArg(state, 1, nullptr);
  vlTransfer t;
  t.state = state;
  t.upload = upload;
  int top = vl::GetStackTop(state);
  if (top >= 2 && (upload || vl::GetTypeAt(state, 2) != VL_TNIL)) vl::CheckTableArg(state, kOptionsIndex);
  if (top >= 3) {
    vl::CheckFunctionArg(state, 3);
    t.progress = 1;
    t.userdata = top > 3;
  }
  if (int r = StartSocketLayer()) return r;
  std::snprintf(t.userAgent, sizeof t.userAgent, "Vellamora %d.%d", kVersionMajor, kVersionMinor);
  vlTimeVal now;
  GetSysTime(&now);
  std::snprintf(t.boundary, sizeof t.boundary, "-----------Vellamora%.8lx%.8lx",
                static_cast<unsigned long>(now.seconds), static_cast<unsigned long>(now.micros));
  size_t urlLength = std::strlen(url);
  t.url = static_cast<char*>(AllocMemory(urlLength + 1, 0));
  if (!t.url) return ERR_MEM;
  std::memcpy(t.url, url, urlLength + 1);

  int32_t mode = 'i';
  int r = 0;
  if (top >= 2 && vl::GetTypeAt(state, kOptionsIndex) == VL_TTABLE) r = ReadOptions(&t, &mode);
  if (!r) r = OpenUploadFile(&t, t.url);
  if (!r) r = RunTransfer(&t, mode);

  // A progress callback that asked to stop ends the transfer with what
  // arrived so far; an HTTP transfer counts what its connection moved, so
  // an upload stopped while sending tells how much of the form went out.
  if (r == ERR_USERABORT && !QuitRequested()) {
    r = 0;
    if (t.parts.protocol == VL_PROTO_HTTP && t.control) t.stoppedCount = t.control->progress.count;
  }
  if (t.toFile) {
    int finished = FinishReplacement(&t.target, r == 0);
    t.stream = nullptr;
    t.toFile = 0;
    if (finished && r == 0) r = finished == ERR_WRITE ? ERR_CLOSEFILE : finished;
  } else if (t.stream) {
    CloseFileStream(t.stream);
    t.stream = nullptr;
  }
  t.RemoveConnections();
  if (r == 0) return PushResults(&t);
  if (t.silentFail && r != ERR_USERABORT) {
    char message[kErrorTextSize];
    GetErrorText(r, message, sizeof message);
    vl::PushString(state, message);
    vl::PushNumber(state, -1);
    return 2;
  }
  return r;
}

int CmdDownloadFile(vlVMState* state) { return TransferURL(state, 0); }
int CmdUploadFile(vlVMState* state) { return TransferURL(state, 1); }

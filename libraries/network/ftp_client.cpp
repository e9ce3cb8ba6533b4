// The FTP client of the transfers: log-in, one passive-mode data
// connection, and RETR or STOR of one file. Depends on the engines, the
// reply parsers and the library's connections.
#include <cstdio>
#include <string>

#include "libraries/network/connection_io.h"
#include "libraries/network/ftp_parse.h"
#include "libraries/network/network_library.h"
#include "libraries/network/transfer.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

// FTP error numbers: an unexpected reply, a continuation line of another
// code, a passive reply without exactly six numbers.
constexpr int kUnexpectedReply = 0;
constexpr int kBadContinuation = 1;
constexpr int kBadPassiveReply = 2;

constexpr int64_t kDataPiece = 4096;
constexpr uint64_t kDataStep = 8192;

int FTPError(int number) {
  SetErrorArgIndex(number);
  return kErrFTP;
}

bool Is2xx(int code) { return code >= 200 && code <= 299; }

int ReceiveReplyLine(vlTransfer* t, char* line) {
  size_t capacity = kReplyLineSize;
  int r = ReceiveFromConnection(t->state, t->control, VL_RECEIVE_LINE, 0, 1, line, nullptr, &capacity, nullptr,
                                nullptr, nullptr);
  // A reply line beyond its buffer is an unexpected reply.
  return r == ERR_MEM ? FTPError(kUnexpectedReply) : r;
}

// One reply, multi-line replies included; the last line into lastLine.
int ReadFTPReply(vlTransfer* t, int* code, char* lastLine) {
  char line[kReplyLineSize];
  if (int r = ReceiveReplyLine(t, line)) return r;
  *code = ParseFTPReplyCode(line);
  while (IsFTPContinuation(line)) {
    if (int r = ReceiveReplyLine(t, line)) return r;
    if (ParseFTPReplyCode(line) != *code) return FTPError(kBadContinuation);
  }
  if (lastLine) std::snprintf(lastLine, kReplyLineSize, "%s", line);
  return 0;
}

int Command(vlTransfer* t, const std::string& text) {
  return SendAll(t->state, t->control, text.data(), text.size());
}

int LogIn(vlTransfer* t) {
  int code = 0;
  if (int r = ReadFTPReply(t, &code, nullptr)) return r;
  if (code >= 100 && code <= 199)
    if (int r = ReadFTPReply(t, &code, nullptr)) return r;
  if (!Is2xx(code)) return FTPError(kUnexpectedReply);
  if (int r = Command(t, std::string("user ") + t->parts.user + "\r\n")) return r;
  if (int r = ReadFTPReply(t, &code, nullptr)) return r;
  if (code == 331) {
    if (int r = Command(t, std::string("pass ") + t->parts.password + "\r\n")) return r;
    if (int r = ReadFTPReply(t, &code, nullptr)) return r;
    if (code == 530) return kErrAccessDenied;
  }
  return Is2xx(code) ? 0 : FTPError(kUnexpectedReply);
}

int OpenDataConnection(vlTransfer* t) {
  char line[kReplyLineSize];
  int code = 0;
  if (int r = Command(t, "pasv\r\n")) return r;
  if (int r = ReadFTPReply(t, &code, line)) return r;
  if (!Is2xx(code)) return FTPError(kUnexpectedReply);
  uint8_t n[6];
  if (!ParsePassiveReply(line, n)) return FTPError(kBadPassiveReply);
  char host[16];
  std::snprintf(host, sizeof host, "%d.%d.%d.%d", n[0], n[1], n[2], n[3]);
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  if (int r = OpenTCPConnection(t->state, &id, host, n[4] * 256 + n[5], &t->dataConnection)) return r;
  HoldForTransfer(t->dataConnection);
  return 0;
}

int ReceiveFile(vlTransfer* t, int64_t size) {
  StartProgress(t, t->dataConnection, size, 0);
  if (t->file[0])
    if (int r = OpenTargetFile(t)) return r;
  for (;;) {
    int64_t got = 0;
    int r;
    if (t->toFile) {
      r = ReceiveFromConnection(t->state, t->dataConnection, VL_RECEIVE_BYTES, kDataPiece, 1, nullptr, nullptr,
                                nullptr, t->stream, &got, nullptr);
    } else {
      if (int e = ReserveResult(t, kDataPiece, kDataStep)) return e;
      size_t capacity = kDataPiece;
      r = ReceiveFromConnection(t->state, t->dataConnection, VL_RECEIVE_BYTES, kDataPiece, 1, t->result + t->count,
                                nullptr, &capacity, nullptr, &got, nullptr);
    }
    t->count += got;
    // The server closing the data connection ends the file.
    if (r == kErrRemoteClosed) return 0;
    if (r) return r;
  }
}

int SendFile(vlTransfer* t) {
  int64_t size = t->stream ? t->streamSize : 0;
  StartProgress(t, t->dataConnection, size, 0);
  return SendFileData(t->state, t->dataConnection, t->data, t->dataLength, t->stream, size);
}

}  // namespace

int RunFTPTransfer(vlTransfer* t) {
  if (int r = LogIn(t)) return r;
  if (int r = OpenDataConnection(t)) return r;
  int code = 0;
  if (int r = Command(t, std::string("type ") + static_cast<char>(t->parts.transferMode) + "\r\n")) return r;
  if (int r = ReadFTPReply(t, &code, nullptr)) return r;
  if (code != 200) return FTPError(kUnexpectedReply);

  char line[kReplyLineSize];
  if (int r = Command(t, std::string(t->upload ? "stor " : "retr ") + t->parts.path + "\r\n")) return r;
  if (int r = ReadFTPReply(t, &code, line)) return r;
  if (code < 100 || code > 299) {
    if (code != 550) return FTPError(kUnexpectedReply);
    SetErrorArgument(t->parts.path);
    return t->upload ? kErrNoUploadPermission : kErrNotFoundOnServer;
  }
  bool preliminary = code <= 199;
  int r = t->upload ? SendFile(t) : ReceiveFile(t, code == 150 ? ParseFTPSizeReply(line) : 0);
  StopProgress(t->dataConnection);
  if (r) return r;
  // Closing the data connection ends the data for the server.
  RemoveConnectionRecord(t->state, t->dataConnection);
  t->dataConnection = nullptr;
  if (preliminary) {
    if (int e = ReadFTPReply(t, &code, nullptr)) return e;
    if (!Is2xx(code)) return FTPError(kUnexpectedReply);
  }
  Command(t, "quit\r\n");
  return 0;
}

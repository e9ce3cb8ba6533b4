// The HTTP/1.1 client of the transfers: one request (GET, POST or a
// multipart form upload), the status and headers of the response,
// redirects, and the body in one of three framings (chunked, announced
// size, until the server closes). Depends on the engines, the line parsers
// and the Base64 coder.
#include <cstring>
#include <string>

#include "libraries/network/connection_io.h"
#include "libraries/network/http_parse.h"
#include "libraries/network/network_library.h"
#include "libraries/network/transfer.h"
#include "runtime/os.h"
#include "runtime/base64.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

// HTTP error numbers of malformed responses.
constexpr int kLineTooLong = 1004;   // a status or header line beyond its buffer
constexpr int kBadChunkSize = 3000;  // a chunk-size line without a size

constexpr uint64_t kChunkStep = 8192;
constexpr uint64_t kUntilCloseStart = 16384;

int HTTPError(int number) {
  SetErrorArgIndex(number);
  return kErrHTTP;
}

// One line of the response into buffer, with progress reports off.
int ReceiveLine(vlTransfer* t, char* buffer, size_t size) {
  vlConnection* c = t->control;
  uint32_t progress = c->progress.callback;
  c->progress.callback = 0;
  size_t capacity = size;
  int r = ReceiveFromConnection(t->state, c, VL_RECEIVE_LINE, 0, 1, buffer, nullptr, &capacity, nullptr, nullptr,
                                nullptr);
  c->progress.callback = progress;
  // A full line buffer is a malformed response, not a lack of memory.
  return r == ERR_MEM ? HTTPError(kLineTooLong) : r;
}

int ReadHTTPStatus(vlTransfer* t) {
  char line[kReplyLineSize];
  if (int r = ReceiveLine(t, line, sizeof line)) return r;
  if (int number = ParseHTTPStatusLine(line, &t->status)) return HTTPError(number);
  return 0;
}

int ReadHTTPHeaders(vlTransfer* t) {
  vlHTTPHeaders headers{-1, 0, t->location, kTransferLineSize};
  ResetHTTPHeaders(&headers);
  for (;;) {
    if (int r = ReceiveLine(t, t->line, kTransferLineSize)) return r;
    if (!t->line[0]) break;
    if (int r = ParseHTTPHeaderLine(t->line, &headers)) return r;
  }
  t->announced = headers.size;
  t->chunked = headers.chunked;
  return 0;
}

int Send(vlTransfer* t, const std::string& text) { return SendAll(t->state, t->control, text.data(), text.size()); }

// The request URI: the whole URL through a proxy, else its path part; a
// URL without a path asks for the root either way.
std::string RequestURI(const vlTransfer* t) {
  const char* slash = std::strlen(t->normalised) > 7 ? std::strchr(t->normalised + 7, '/') : nullptr;
  if (t->proxy[0]) return std::string(t->normalised) + (slash ? "" : "/");
  return slash ? slash : "/";
}

int SendForm(vlTransfer* t) {
  StartProgress(t, t->control, t->formLength, 0);
  for (vlFormItem* item = t->form; item; item = item->next) {
    std::string head = std::string(t->boundary) + "\r\nContent-Disposition: form-data; name=\"" + item->name + "\"";
    if (item->mimeType)
      head += std::string("; filename=\"") + item->fileName + "\"\r\nContent-Type: " + item->mimeType + "\r\n";
    else
      head += "\r\n";
    head += "\r\n";
    if (int r = Send(t, head)) return r;
    if (int r = SendFileData(t->state, t->control, item->data, item->data ? static_cast<size_t>(item->size) : 0,
                             item->file, item->size))
      return r;
    if (int r = Send(t, "\r\n")) return r;
  }
  int r = Send(t, std::string(t->boundary) + "--\r\n");
  StopProgress(t->control);
  return r;
}

int SendRequest(vlTransfer* t) {
  bool post = t->post || t->upload;
  if (int r = Send(t, std::string(post ? "POST" : "GET") + " " + RequestURI(t) + " HTTP/1.1\r\n")) return r;
  if (t->customLength)
    if (int r = SendAll(t->state, t->control, t->customHeaders, t->customLength)) return r;
  std::string block = "TE: trailers\r\nConnection: close, TE\r\nHost: ";
  block += t->proxy[0] ? t->parts.targetHost : t->parts.host;
  block += std::string("\r\nUser-Agent: ") + t->userAgent + "\r\n";
  if (t->parts.credentials) {
    std::string pair = std::string(t->parts.user) + ":" + t->parts.password;
    std::string encoded(Base64EncodedSize(pair.size()) + 1, '\0');
    encoded.resize(EncodeBase64(pair.data(), pair.size(), encoded.data()));
    block += "Authorization: Basic " + encoded + "\r\n";
  }
  if (post) {
    int64_t length = t->upload ? t->formLength : static_cast<int64_t>(t->postLength);
    block += std::string("Content-Type: ") + t->postType + "\r\nContent-Length: " + std::to_string(length) + "\r\n";
  }
  block += "\r\n";
  if (int r = Send(t, block)) return r;
  if (t->upload) return SendForm(t);
  if (t->post) {
    if (int r = SendAll(t->state, t->control, t->post, t->postLength)) return r;
    return Send(t, "\r\n");
  }
  return 0;
}

// Receives count bytes (bytes mode) into the file or after the result,
// whose room grows by at least step bytes at a time.
int ReceiveExactly(vlTransfer* t, int64_t count, uint64_t step) {
  // An empty body is complete before any byte arrives; waiting for one
  // would end in a time-out or the server's close.
  if (count <= 0) return 0;
  if (t->toFile) {
    int64_t got = 0;
    int r = ReceiveFromConnection(t->state, t->control, VL_RECEIVE_BYTES, count, 1, nullptr, nullptr, nullptr,
                                  t->stream, &got, nullptr);
    t->count += got;
    return r;
  }
  while (count > 0) {
    int64_t piece = count < static_cast<int64_t>(kTransferPiece) ? count : static_cast<int64_t>(kTransferPiece);
    if (int r = ReserveResult(t, static_cast<uint64_t>(piece), step)) return r;
    int64_t got = 0;
    size_t capacity = static_cast<size_t>(piece);
    int r = ReceiveFromConnection(t->state, t->control, VL_RECEIVE_BYTES, piece, 1, t->result + t->count, nullptr,
                                  &capacity, nullptr, &got, nullptr);
    t->count += got;
    count -= got;
    if (r) return r;
  }
  return 0;
}

int ReceiveChunked(vlTransfer* t) {
  char line[kReplyLineSize];
  for (;;) {
    if (int r = ReceiveLine(t, line, sizeof line)) return r;
    int64_t size = ParseChunkSize(line);
    if (size < 0) return HTTPError(kBadChunkSize);
    if (size == 0) return 0;  // trailers are not read
    if (int r = ReceiveExactly(t, size, kChunkStep)) return r;
    if (int r = ReceiveLine(t, line, sizeof line)) return r;
  }
}

int ReceiveAnnounced(vlTransfer* t) {
  return ReceiveExactly(t, t->announced, 0);
}

int ReceiveUntilClose(vlTransfer* t) {
  int64_t got = 0;
  int r;
  if (t->toFile) {
    r = ReceiveFromConnection(t->state, t->control, VL_RECEIVE_ALL, 0, 1, nullptr, nullptr, nullptr, t->stream, &got,
                              nullptr);
  } else {
    if (int e = ReserveResult(t, kUntilCloseStart, 0)) return e;
    r = ReceiveFromConnection(t->state, t->control, VL_RECEIVE_ALL, 0, 1, nullptr, &t->result, &t->capacity,
                              nullptr, &got, nullptr);
  }
  t->count += got;
  // A server that closes at once has sent an empty body, not failed.
  return r == kErrRemoteClosed && got == 0 ? 0 : r;
}

int ReceiveBody(vlTransfer* t) {
  StartProgress(t, t->control, t->announced > 0 ? t->announced : 0, t->upload ? 1 : 0);
  int r = 0;
  if (t->file[0]) r = OpenTargetFile(t);
  if (!r) {
    if (t->chunked)
      r = ReceiveChunked(t);
    else if (t->announced >= 0)
      r = ReceiveAnnounced(t);
    else
      r = ReceiveUntilClose(t);
  }
  StopProgress(t->control);
  return r;
}

// Makes the location the URL of the next round.
int FollowRedirect(vlTransfer* t) {
  RemoveConnectionRecord(t->state, t->control);
  t->control = nullptr;
  size_t n = std::strlen(t->location);
  char* url = static_cast<char*>(AllocMemory(n + 1, 0));
  char* normalised = static_cast<char*>(AllocMemory(n + 1, 0));
  if (!url || !normalised) {
    FreeMemory(url);
    FreeMemory(normalised);
    return ERR_MEM;
  }
  std::memcpy(url, t->location, n + 1);
  std::memcpy(normalised, t->location, n + 1);
  FreeMemory(t->url);
  FreeMemory(t->normalised);
  t->url = url;
  t->normalised = normalised;
  t->source = url;
  t->redirects++;
  return kTransferRedirected;
}

}  // namespace

int RunHTTPTransfer(vlTransfer* t) {
  if (int r = SendRequest(t)) return r;
  if (int r = ReadHTTPStatus(t)) return r;
  while (t->status == 100) {
    if (int r = ReadHTTPHeaders(t)) return r;
    if (int r = ReadHTTPStatus(t)) return r;
  }
  if (t->status == 401 && !t->parts.credentials) return kErrNeedAuthentication;
  if (t->status == 404 && t->fail404) {
    SetErrorArgument(t->proxy[0] ? RequestURI(t).c_str() : t->parts.path);
    return kErrNotFoundOnServer;
  }
  if (int r = ReadHTTPHeaders(t)) return r;
  if ((t->status == 301 || t->status == 302) && t->location[0] && t->redirects < 5 && t->redirect)
    return FollowRedirect(t);
  if (t->status == 204 || t->status == 304 || (t->status >= 100 && t->status < 200)) return HTTPError(t->status);
  return ReceiveBody(t);
}

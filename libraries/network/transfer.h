// Whole-resource transfers between a URL and a string or file: the state of
// one DownloadFile or UploadFile call, shared by its front end and the HTTP
// and FTP clients.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/replace_file.h"

#include "libraries/network/url_parse.h"

struct vlVMState;
struct vlStream;
struct vlConnection;

inline constexpr size_t kTransferLineSize = 32768;  // header-line and location buffers
inline constexpr size_t kReplyLineSize = 1024;      // status, chunk-size and FTP reply lines
inline constexpr size_t kFileNameSize = 1024;
inline constexpr size_t kOptionTextSize = 256;
// Bodies in memory are received in pieces of at most this many bytes, so a
// size the server announces is only trusted as far as bytes arrive.
inline constexpr uint64_t kTransferPiece = uint64_t{16} << 20;

// One part of a multipart form upload; its texts live in the same block.
struct vlFormItem {
  vlFormItem* next;
  const char* mimeType;  // null without one
  const char* name;
  const char* fileName;  // null for a data item without "filealias"
  char* data;            // owned, or null
  vlStream* file;        // owned, or null
  int64_t size;
};

// The state of one transfer; the destructor releases whatever is left
// (buffers, form items, streams and the transfer's own connections), so
// every way out of the command, raised errors included, cleans up.
struct vlTransfer {
  vlVMState* state = nullptr;
  int upload = 0;

  // The URL and its escaped copy; source is what the parser reads.
  char* url = nullptr;
  char* normalised = nullptr;
  const char* source = nullptr;
  vlURLParts parts{};

  // Options.
  char file[kFileNameSize] = {};
  int encoded = 0;
  char proxy[kOptionTextSize] = {};
  int silentFail = 0;
  char* customHeaders = nullptr;
  size_t customLength = 0;
  int fail404 = 0;
  int redirect = 1;
  char* post = nullptr;
  size_t postLength = 0;
  char postType[kOptionTextSize] = "application/x-www-form-urlencoded";
  char userAgent[kOptionTextSize] = {};
  char* data = nullptr;
  size_t dataLength = 0;
  int hasData = 0;
  int progress = 0;   // a callback was given
  int userdata = 0;   // and a userdata argument

  char boundary[128] = {};
  int status = 0;
  int64_t announced = -1;
  int chunked = 0;
  int redirects = 0;

  // The body: a result buffer (or the file stream) and its byte count.
  char* result = nullptr;
  size_t capacity = 0;
  int64_t count = 0;
  int64_t stoppedCount = -1;  // a stopped HTTP transfer: its connection's progress count
  vlStream* stream = nullptr;     // the download target, or the file sent by an FTP upload
  int toFile = 0;                 // stream is the target: the body went to the file
  vlReplacement target;           // the download target, put in place only when complete
  int64_t streamSize = 0;
  char* location = nullptr;
  char* line = nullptr;
  vlFormItem* form = nullptr;
  int64_t formLength = 0;

  vlConnection* control = nullptr;
  vlConnection* dataConnection = nullptr;

  vlTransfer() = default;
  vlTransfer(const vlTransfer&) = delete;
  vlTransfer& operator=(const vlTransfer&) = delete;
  ~vlTransfer();
  void FreeForm();
  void RemoveConnections();
};

// The progress words of a transfer connection.
void StartProgress(vlTransfer* t, vlConnection* connection, int64_t total, uint32_t action);
void StopProgress(vlConnection* connection);

// Opens the download target file for writing; 0 or 1052.
int OpenTargetFile(vlTransfer* t);
// Makes room for n more bytes after count in the result buffer, growing it
// by at least step bytes; 0 or 1000.
int ReserveResult(vlTransfer* t, uint64_t n, uint64_t step);

// What RunHTTPTransfer returns after it followed a redirect: the URL is
// parsed again and the transfer starts over.
inline constexpr int kTransferRedirected = -100;

// The protocol clients: 0 or an error code; the body lands in the result
// buffer or file with its size in count.
int RunHTTPTransfer(vlTransfer* t);
int RunFTPTransfer(vlTransfer* t);
// Reads the "formdata" option of an HTTP upload into t->form; 0 or a code.
int ReadFormData(vlTransfer* t);

// The commands' shared body.
int TransferURL(vlVMState* state, int upload);

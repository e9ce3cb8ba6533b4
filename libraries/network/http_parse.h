// The line parsers of the HTTP client: the status line, the headers it
// reads, and chunk-size lines. Pure text work over terminated lines
// (covered by the fuzz target fuzz_http_response).
#pragma once
#include <cstddef>
#include <cstdint>

// What the headers of one response announce.
struct vlHTTPHeaders {
  int64_t size;  // Content-Length, -1 when not announced
  int chunked;
  char* location;  // the caller's buffer
  size_t locationSize;
};

// The status of a status line: 0 with *status set, else the HTTP error
// number: 1001 (no "HTTP/"), 1002 (no version number), 1003 (no space).
int ParseHTTPStatusLine(const char* line, int* status);
// Clears what a header block announces (the location buffer emptied).
void ResetHTTPHeaders(vlHTTPHeaders* headers);
// One header line: 0, or 1419 for a transfer encoding other than chunked
// or identity.
int ParseHTTPHeaderLine(const char* line, vlHTTPHeaders* headers);
// The size of a chunk-size line (hexadecimal, extensions ignored); -1 when
// it holds no digit or a size that is negative or too large.
int64_t ParseChunkSize(const char* line);

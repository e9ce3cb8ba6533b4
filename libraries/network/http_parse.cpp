// Status, header and chunk-size lines of HTTP responses. Depends on the
// text helpers only.
#include "libraries/network/http_parse.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "libraries/network/network_library.h"
#include "vm/text.h"

namespace {

const char* SkipSpaces(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

// A header name with its colon and one space, compared without case.
const char* HeaderValue(const char* line, const char* name) {
  size_t n = std::strlen(name);
  return CompareNoCaseN(line, name, n) ? nullptr : SkipSpaces(line + n);
}

}  // namespace

int ParseHTTPStatusLine(const char* line, int* status) {
  if (std::strncmp(line, "HTTP/", 5) != 0) return 1001;
  const char* version = line + 5;
  char* end = nullptr;
  std::strtod(version, &end);
  if (end == version) return 1002;
  if (*end != ' ') return 1003;
  long value = std::strtol(end + 1, nullptr, 10);
  if (value < 0 || value > 999) value = 0;
  *status = static_cast<int>(value);
  return 0;
}

void ResetHTTPHeaders(vlHTTPHeaders* headers) {
  headers->size = -1;
  headers->chunked = 0;
  if (headers->location && headers->locationSize) headers->location[0] = 0;
}

int ParseHTTPHeaderLine(const char* line, vlHTTPHeaders* headers) {
  if (const char* v = HeaderValue(line, "content-length: ")) {
    errno = 0;
    char* end = nullptr;
    long long size = std::strtoll(v, &end, 10);
    // A size that is not a number, negative or out of range announces
    // nothing; the body is then read to the end.
    headers->size = (end == v || size < 0 || errno == ERANGE) ? -1 : size;
  } else if (const char* v = HeaderValue(line, "transfer-encoding: ")) {
    if (!CompareNoCaseN(v, "chunked", 7))
      headers->chunked = 1;
    else if (CompareNoCaseN(v, "identity", 8))
      return kErrTransferMode;
  } else if (const char* v = HeaderValue(line, "location: ")) {
    if (headers->location && headers->locationSize) {
      size_t n = std::strlen(v);
      if (n >= headers->locationSize) n = headers->locationSize - 1;
      std::memcpy(headers->location, v, n);
      headers->location[n] = 0;
    }
  }
  return 0;
}

int64_t ParseChunkSize(const char* line) {
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  errno = 0;
  char* end = nullptr;
  long long size = std::strtoll(p, &end, 16);
  if (end == p || size < 0 || errno == ERANGE) return -1;
  return size;
}

// Percent-escaping and splitting transfer URLs. Depends on the text
// helpers only.
#include "libraries/network/url_parse.h"

#include <cstdlib>
#include <cstring>

#include "libraries/network/network_library.h"
#include "runtime/os.h"
#include "vm/text.h"
#include "vm/error_codes.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char* CopyRange(const char* begin, const char* end) {
  size_t n = static_cast<size_t>(end - begin);
  char* copy = static_cast<char*>(AllocMemory(n + 1, 0));
  if (!copy) return nullptr;
  std::memcpy(copy, begin, n);
  copy[n] = 0;
  return copy;
}

// Copies [begin, end) into a fixed field; false when it does not fit.
bool CopyField(char* field, size_t size, const char* begin, const char* end) {
  size_t n = static_cast<size_t>(end - begin);
  if (n >= size) return false;
  std::memcpy(field, begin, n);
  field[n] = 0;
  return true;
}

// Control bytes would end a request or command line early and let the
// rest of the URL pass as protocol text.
bool HasControlBytes(const char* text) {
  for (const char* p = text; p && *p; ++p)
    if (static_cast<unsigned char>(*p) < 32 || *p == 127) return true;
  return false;
}

}  // namespace

bool IsUnsafeURLChar(unsigned char c) {
  if (c < 33 || c > 122) return true;
  return std::strchr("\"<>%\\^[]`+$,", c) != nullptr;
}

int NormaliseURL(const char* url, int encoded, char** out) {
  *out = nullptr;
  size_t length = std::strlen(url);
  char* buffer = static_cast<char*>(AllocMemory(3 * length + 1, 0));
  if (!buffer) return ERR_MEM;
  static const char kHex[] = "0123456789abcdef";
  char* w = buffer;
  for (const char* p = url; *p; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (!encoded) {
      if (IsUnsafeURLChar(c)) {
        *w++ = '%';
        *w++ = kHex[c >> 4];
        *w++ = kHex[c & 15];
      } else {
        *w++ = static_cast<char>(c);
      }
      continue;
    }
    if (c != '%') {
      *w++ = static_cast<char>(c);
      continue;
    }
    int digits = 0, value = 0;
    while (digits < 2 && HexValue(p[1 + digits]) >= 0) value = value * 16 + HexValue(p[1 + digits++]);
    if (digits == 0) {
      FreeMemory(buffer);
      return ERR_WRONGUSAGE;
    }
    if (!IsUnsafeURLChar(static_cast<unsigned char>(value))) {
      *w++ = static_cast<char>(value);
    } else {
      *w++ = '%';
      for (int i = 1; i <= digits; ++i) *w++ = p[i];
    }
    p += digits;
  }
  *w = 0;
  *out = buffer;
  return 0;
}

int ParseTransferURL(const char* source, const char* proxy, vlURLParts* parts) {
  const char* rest;
  if (!CompareNoCaseN(source, "http://", 7)) {
    parts->protocol = VL_PROTO_HTTP;
    parts->port = 80;
    rest = source + 7;
  } else if (!CompareNoCaseN(source, "ftp://", 6)) {
    parts->protocol = VL_PROTO_FTP;
    parts->port = 21;
    rest = source + 6;
  } else {
    return kErrUnknownProtocol;
  }
  if (HasControlBytes(source) || HasControlBytes(proxy)) return kErrBadURL;
  const char* connect = rest;
  if (proxy && *proxy) {
    if (parts->protocol != VL_PROTO_HTTP || CompareNoCaseN(proxy, "http://", 7)) return ERR_WRONGUSAGE;
    connect = proxy + 7;
    // The Host header names the target as written, without user information.
    const char* end = std::strchr(rest, '/');
    if (!end) end = rest + std::strlen(rest);
    const char* start = rest;
    for (const char* p = rest; p < end; ++p)
      if (*p == '@') start = p + 1;
    parts->targetHost = CopyRange(start, end);
    if (!parts->targetHost) return ERR_MEM;
  }
  const char* slash = std::strchr(connect, '/');
  const char* hostEnd = slash ? slash : connect + std::strlen(connect);
  parts->host = CopyRange(connect, hostEnd);
  static const char kRoot[] = "/";
  parts->path = slash ? CopyRange(slash, slash + std::strlen(slash)) : CopyRange(kRoot, kRoot + 1);
  if (!parts->host || !parts->path) return ERR_MEM;

  if (parts->protocol == VL_PROTO_FTP) {
    size_t n = std::strlen(parts->path);
    if (n >= 8 && !CompareNoCaseN(parts->path + n - 7, ";type=", 6)) {
      int type = FoldLower(static_cast<unsigned char>(parts->path[n - 1]));
      if (type != 'a' && type != 'i') return kErrBadURL;
      parts->transferMode = type;
      parts->path[n - 7] = 0;
    }
  }

  char* host = parts->host;
  if (char* at = std::strrchr(host, '@')) {
    char* colon = std::strchr(host, ':');
    if (!colon || colon == host || colon > at || colon + 1 == at) return kErrBadURL;
    if (!CopyField(parts->user, sizeof parts->user, host, colon) ||
        !CopyField(parts->password, sizeof parts->password, colon + 1, at))
      return ERR_WRONGUSAGE;
    std::memmove(host, at + 1, std::strlen(at + 1) + 1);
    parts->credentials = 1;
  }
  if (char* colon = std::strchr(host, ':')) {
    if (colon[1] < '0' || colon[1] > '9') return kErrBadURL;
    long port = std::strtol(colon + 1, nullptr, 10);
    // A port the connect could not use is as wrong as a missing one.
    if (port < 1 || port > 65535) return kErrBadURL;
    parts->port = static_cast<int>(port);
    *colon = 0;
  }
  if (!*host) return kErrBadURL;
  return 0;
}

void FreeURLParts(vlURLParts* parts) {
  FreeMemory(parts->host);
  FreeMemory(parts->path);
  FreeMemory(parts->targetHost);
  parts->host = parts->path = parts->targetHost = nullptr;
}

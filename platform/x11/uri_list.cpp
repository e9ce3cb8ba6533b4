// Dropped-file lists from text/uri-list data. Depends on nothing but the
// memory routines, so the fuzz target can take it alone.
#include <cstring>

#include "runtime/os.h"
#include "platform/x11/x11_input.h"

char* DecodeUriList(const uint8_t* data, size_t length) {
  // The decoded text is never longer than the input; two NULs end it.
  auto* out = static_cast<char*>(AllocMemory(length + 2, 1));
  if (!out) return nullptr;
  size_t o = 0, entryStart = 0;
  size_t i = 0;
  while (i < length) {
    // Start of a line.
    size_t lineEnd = i;
    while (lineEnd < length && data[lineEnd] != '\n') ++lineEnd;
    if (data[i] == '#') {
      i = lineEnd + 1;
      continue;
    }
    if (lineEnd - i >= 7 && memcmp(data + i, "file://", 7) == 0) i += 7;
    for (; i < lineEnd; ++i) {
      uint8_t c = data[i];
      if (c == '\r') continue;
      auto hex = [](uint8_t h) {
        return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
      };
      if (c == '%' && i + 2 < lineEnd && hex(data[i + 1]) >= 0 && hex(data[i + 2]) >= 0) {
        int value = hex(data[i + 1]) * 16 + hex(data[i + 2]);
        // An escaped NUL would cut the list short: it stays as written.
        if (value != 0) {
          out[o++] = static_cast<char>(value);
          i += 2;
          continue;
        }
      }
      if (c == 0) continue;
      out[o++] = static_cast<char>(c);
    }
    if (o > entryStart) out[o++] = '\0';
    entryStart = o;
    i = lineEnd + 1;
  }
  out[o] = '\0';  // the list's closing NUL (the block came cleared)
  return out;
}

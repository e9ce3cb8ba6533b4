// FTP reply lines. Depends on the text helpers only.
#include "libraries/network/ftp_parse.h"

#include <cstdlib>
#include <cstring>

#include "vm/text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int ParseFTPReplyCode(const char* line) {
  long code = std::strtol(line, nullptr, 10);
  return code < 0 || code > 999 ? 0 : static_cast<int>(code);
}

bool IsFTPContinuation(const char* line) { return std::strlen(line) >= 4 && line[3] == '-'; }

bool ParsePassiveReply(const char* line, uint8_t numbers[6]) {
  if (std::strlen(line) < 4) return false;
  int count = 0;
  const char* p = line + 4;
  while (*p) {
    if (!IsDigit(*p)) {
      ++p;
      continue;
    }
    if (count == 6) return false;
    char* end = nullptr;
    unsigned long value = std::strtoul(p, &end, 10);
    numbers[count++] = static_cast<uint8_t>(value % 256);
    p = std::strchr(end, ',');
    if (!p) break;
  }
  return count == 6;
}

int64_t ParseFTPSizeReply(const char* line) {
  size_t n = std::strlen(line);
  // The last digit beyond the reply code, then back to the first digit of
  // its number.
  size_t last = n;
  while (last > 3 && !IsDigit(line[last - 1])) --last;
  if (last <= 3) return 0;
  size_t first = last - 1;
  while (first > 3 && IsDigit(line[first - 1])) --first;
  if (CompareNoCaseN(line + last, " bytes", 6)) return 0;
  double size = std::strtod(line + first, nullptr);
  if (!(size >= 0 && size < 9.0e15)) return 0;
  return static_cast<int64_t>(size);
}

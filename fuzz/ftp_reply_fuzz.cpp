// Fuzzes the FTP client's reply parsers (reply codes, continuation lines,
// passive addresses, the size of a 150 reply) on every line of the input.
#include <cstdint>
#include <string>

#include "libraries/network/ftp_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    line = line.c_str();  // the parsers see terminated lines
    uint8_t numbers[6];
    int code = ParseFTPReplyCode(line.c_str());
    if (code < 0 || code > 999) __builtin_trap();
    IsFTPContinuation(line.c_str());
    ParsePassiveReply(line.c_str(), numbers);
    if (ParseFTPSizeReply(line.c_str()) < 0) __builtin_trap();
    start = end + 1;
  }
  return 0;
}

// The reply parsers of the FTP client: reply codes, continuation lines,
// the passive-mode address and the size a 150 reply announces. Pure text
// work over terminated lines (covered by the fuzz target fuzz_ftp_reply).
#pragma once
#include <cstdint>

// The leading number of a reply line (0 when there is none).
int ParseFTPReplyCode(const char* line);
// True when the line is the first or a middle line of a multi-line reply.
bool IsFTPContinuation(const char* line);
// The six numbers of a passive reply, scanned from the fifth character;
// false unless there are exactly six.
bool ParsePassiveReply(const char* line, uint8_t numbers[6]);
// The byte count a 150 reply ends with ("(1234 bytes)"), 0 when none.
int64_t ParseFTPSizeReply(const char* line);

// URLs of the transfer commands: percent-escaping and the split of an
// "http://" or "ftp://" URL into host, port, path and credentials. Pure
// text work, no I/O (covered by the fuzz target fuzz_url_parse).
#pragma once
#include <cstddef>

enum : int { VL_PROTO_HTTP = 1, VL_PROTO_FTP = 2 };

inline constexpr size_t kCredentialSize = 256;  // user name and password, terminator included

// The parts of one URL; texts are owned and freed by FreeURLParts.
struct vlURLParts {
  int protocol;
  char* host;        // what to connect to (the proxy's host with a proxy)
  int port;
  char* path;        // from the first '/' on, "/" when there is none
  char* targetHost;  // with a proxy: the target's host and port as written
  char user[kCredentialSize];
  char password[kCredentialSize];
  int credentials;   // the URL carried user information
  int transferMode;  // FTP type ('a' or 'i'); a ";type=" suffix changes it
};

// True for bytes a URL must carry percent-escaped.
bool IsUnsafeURLChar(unsigned char c);

// Escapes every unsafe byte of url (encoded 0), or with encoded 1 reads the
// escapes already there, writing safe escaped bytes as themselves. A new
// buffer (3 x length + 1 bytes) in *out; 0, 1055 (a '%' without a
// hexadecimal digit) or 1000.
int NormaliseURL(const char* url, int encoded, char** out);

// Splits source. proxy is empty or an "http://" URL whose host and port
// are connected to instead. parts->transferMode holds the default type on
// entry; parts->user and parts->password hold the defaults. 0 or 1416,
// 1417, 1055, 1000; the parts are filled as far as they got.
int ParseTransferURL(const char* source, const char* proxy, vlURLParts* parts);
void FreeURLParts(vlURLParts* parts);

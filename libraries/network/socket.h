// The socket layer under every network command: IPv4 socket records with
// their receive buffer and time-out record, non-blocking I/O calls that
// wait under a time-out record, a connect that keeps the event pump
// running, name look-ups and the texts of the result codes.
#pragma once
#include <cstddef>
#include <cstdint>

#include <netinet/in.h>

struct vlVMState;
struct hostent;
struct vlTimeVal;

// Results of every call of this layer; a positive value is an errno, or
// for a name look-up the resolver's code.
enum : int {
  VL_IO_DONE = 0,
  VL_IO_TIMEOUT = -1,  // nothing could be done in the allowed wait
  VL_IO_CLOSED = -2,   // the peer closed, or there is no descriptor
  VL_IO_LOOKUP = -3,   // a look-up failed without any error code
};

inline constexpr uint32_t kSocketBufferSize = 8192;

// Seconds: block is one wait (-1 no limit, 0 never wait), total the whole
// operation (-1 no limit), start the operation's start.
struct vlSocketTimeout {
  double block;
  double total;
  double start;
};

using vlIOSendFn = int (*)(void* context, const void* data, size_t length, size_t* sent,
                           vlSocketTimeout* timeout);
using vlIOReceiveFn = int (*)(void* context, void* buffer, size_t length, size_t* received,
                              vlSocketTimeout* timeout);
using vlIOErrorTextFn = const char* (*)(void* context, int code);

// The engines send and receive only through this record.
struct vlIORecord {
  void* context;
  vlIOSendFn send;
  vlIOReceiveFn receive;
  vlIOErrorTextFn errorText;
};

// first == last means empty; consumers reset both to 0 when they meet.
struct vlSocketBuffer {
  double created;
  uint32_t bytesSent;
  uint32_t bytesReceived;
  vlIORecord* io;
  vlSocketTimeout* timeout;
  uint32_t first;
  uint32_t last;
  uint8_t data[kSocketBufferSize];
};

// One TCP socket; the descriptor is the first word (the descriptor
// routines take the address of that word).
struct vlSocket {
  int32_t descriptor;
  vlIORecord io;
  vlSocketBuffer buffer;
  vlSocketTimeout timeout;
};

// Start and stop --------------------------------------------------------------
int IgnoreSIGPIPE();     // ignores SIGPIPE process-wide; 1
int CloseSocketLayer();  // 1

// Texts -----------------------------------------------------------------------
const char* GetIOErrorText(int code);      // "closed", "timeout", null, "unknown error"
const char* GetSocketErrorText(int code);  // strerror for positive codes
const char* GetHostErrorText(int code);    // hstrerror for positive codes
const char* GetIOErrorTextOf(void* context, int code);

// Time-outs -------------------------------------------------------------------
void SetTimeoutStart(vlSocketTimeout* timeout);
// Seconds left for one wait, -1 for no limit.
double GetTimeoutRetry(const vlSocketTimeout* timeout);
// An elapsed time against a limit in milliseconds; 0 never expires.
int IsTimeOver(const vlTimeVal* elapsed, int32_t millis);

// Descriptor routines ---------------------------------------------------------
int CreateSocket(int32_t* descriptor, int domain, int type, int protocol);
void SetNonBlocking(int32_t* descriptor);
void SetBlocking(int32_t* descriptor);
int BindAddress(int32_t* descriptor, const sockaddr* address, socklen_t length);
int ListenSocket(int32_t* descriptor, int backlog);
void CloseSocket(int32_t* descriptor);
// what: 1 readable, 2 writable, 3 either (then a readable socket gives -2).
int WaitSocket(int32_t* descriptor, int what, vlSocketTimeout* timeout);

// I/O routines: -2 without a descriptor; would-block waits under the
// time-out record; the count is 0 unless the call succeeded.
int SendBytes(void* socketRecord, const void* data, size_t length, size_t* sent, vlSocketTimeout* timeout);
int ReceiveBytes(void* socketRecord, void* buffer, size_t length, size_t* received,
                 vlSocketTimeout* timeout);
int SendDatagram(int32_t* descriptor, const void* data, size_t length, size_t* sent,
                 const sockaddr* address, socklen_t addressLength, vlSocketTimeout* timeout);
int ReceiveDatagram(int32_t* descriptor, void* buffer, size_t length, size_t* received, sockaddr* address,
                    socklen_t* addressLength, vlSocketTimeout* timeout);
// 0 when a byte waits, -2 when the peer closed (streams), else as above.
int PeekSocket(int32_t* descriptor, vlSocketTimeout* timeout, int datagram);
int AcceptSocket(int32_t* descriptor, int32_t* accepted, sockaddr* address, socklen_t* addressLength,
                 vlSocketTimeout* timeout);

// Name look-ups: 0 with the entry (static storage of the resolver), else
// h_errno, errno or -3.
int ResolveHostName(const char* name, hostent** entry);
int ResolveHostAddress(const in_addr* address, hostent** entry);

// Socket set-up ---------------------------------------------------------------
// A non-blocking TCP socket with block = total = -1; 0, 1000 or 1410.
int NewTCPSocket(vlSocket** out);
// Fills the I/O record and buffer of a socket record around a descriptor.
void InitSocketRecord(vlSocket* socket);
void FreeSocket(vlSocket* socket);
// Binds to address:port ("*" any address; names resolved). 0, or a code
// with *lookupFailed set when the name look-up failed.
int BindSocket(int32_t* descriptor, const char* address, int port, int* lookupFailed);
// connect() that pumps events between 10 ms waits; 0, -1, -2 or errno.
// A stop of the pump gives -1 with its error code in *pumpCode.
int ConnectWithEvents(vlVMState* state, vlSocket* socket, const sockaddr* address, socklen_t length,
                      int32_t millis, int* pumpCode);

// The socket layer: descriptor set-up, waits under time-out records, the
// non-blocking I/O calls, name look-ups and the connect that pumps events.
// Depends on BSD sockets, the resolver, the platform clock and the event
// pump. Waits use poll(), which has no descriptor-number limit.
#include "libraries/network/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/event_pump.h"
#include "runtime/blocking.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

int32_t* DescriptorOf(void* record) { return static_cast<int32_t*>(record); }

// Waits for what (1 read, 2 write, 3 either) for at most millis (-1 no
// limit); the poll() result with EINTR repeated; revents out.
int PollDescriptor(int fd, int what, int millis, short* revents) {
  pollfd p{};
  p.fd = fd;
  if (what & 1) p.events |= POLLIN;
  if (what & 2) p.events |= POLLOUT;
  int r;
  do {
    r = WaitReady(&p, 1, millis < 0 ? -1 : static_cast<int64_t>(millis) * 1000);
  } while (r < 0 && errno == EINTR);
  *revents = p.revents;
  return r;
}

// Seconds of a retry as poll() milliseconds, rounded up so that a short
// remainder still waits.
int RetryMillis(double seconds) {
  if (seconds < 0) return -1;
  double ms = seconds * 1000.0;
  if (ms > 2147483647.0) return 2147483647;
  int whole = static_cast<int>(ms);
  return whole < ms ? whole + 1 : whole;
}

}  // namespace

int IgnoreSIGPIPE() {
  std::signal(SIGPIPE, SIG_IGN);
  return 1;
}

int CloseSocketLayer() { return 1; }

const char* GetIOErrorText(int code) {
  if (code == VL_IO_CLOSED) return "closed";
  if (code == VL_IO_TIMEOUT) return "timeout";
  if (code == VL_IO_DONE) return nullptr;
  return "unknown error";
}

const char* GetSocketErrorText(int code) { return code <= 0 ? GetIOErrorText(code) : std::strerror(code); }

const char* GetHostErrorText(int code) { return code <= 0 ? GetIOErrorText(code) : hstrerror(code); }

const char* GetIOErrorTextOf(void*, int code) { return GetSocketErrorText(code); }

void SetTimeoutStart(vlSocketTimeout* timeout) { timeout->start = GetTimeSeconds(); }

double GetTimeoutRetry(const vlSocketTimeout* t) {
  if (t->block < 0 && t->total < 0) return -1;
  double elapsed = GetTimeSeconds() - t->start;
  double left = t->total - elapsed;
  if (left < 0) left = 0;
  if (t->block < 0) return left;
  if (t->total < 0) {
    double b = t->block - elapsed;
    return b < 0 ? 0 : b;
  }
  return t->block < left ? t->block : left;
}

int IsTimeOver(const vlTimeVal* elapsed, int32_t millis) {
  if (millis == 0) return 0;
  uint32_t seconds = static_cast<uint32_t>(millis / 1000);
  uint32_t rest = static_cast<uint32_t>(millis - 1000 * (millis / 1000));
  if (elapsed->seconds > seconds) return 1;
  return elapsed->seconds == seconds && elapsed->micros / 1000 > rest;
}

int CreateSocket(int32_t* descriptor, int domain, int type, int protocol) {
  *descriptor = socket(domain, type | SOCK_CLOEXEC, protocol);
  return *descriptor < 0 ? errno : 0;
}

void SetNonBlocking(int32_t* descriptor) {
  int flags = fcntl(*descriptor, F_GETFL, 0);
  if (flags >= 0) fcntl(*descriptor, F_SETFL, flags | O_NONBLOCK);
}

void SetBlocking(int32_t* descriptor) {
  int flags = fcntl(*descriptor, F_GETFL, 0);
  if (flags >= 0) fcntl(*descriptor, F_SETFL, flags & ~O_NONBLOCK);
}

int BindAddress(int32_t* descriptor, const sockaddr* address, socklen_t length) {
  SetBlocking(descriptor);
  int r = bind(*descriptor, address, length) < 0 ? errno : 0;
  SetNonBlocking(descriptor);
  return r;
}

int ListenSocket(int32_t* descriptor, int backlog) {
  SetBlocking(descriptor);
  int r = listen(*descriptor, backlog) < 0 ? errno : 0;
  SetNonBlocking(descriptor);
  return r;
}

void CloseSocket(int32_t* descriptor) {
  if (*descriptor == -1) return;
  SetBlocking(descriptor);
  close(*descriptor);
  *descriptor = -1;
}

int WaitSocket(int32_t* descriptor, int what, vlSocketTimeout* timeout) {
  if (timeout->block == 0) return VL_IO_TIMEOUT;
  short revents = 0;
  int r = PollDescriptor(*descriptor, what, RetryMillis(GetTimeoutRetry(timeout)), &revents);
  if (r < 0) return errno;
  if (r == 0) return VL_IO_TIMEOUT;
  if (what == 3 && (revents & (POLLIN | POLLHUP))) return VL_IO_CLOSED;
  return 0;
}

int SendBytes(void* record, const void* data, size_t length, size_t* sent, vlSocketTimeout* timeout) {
  int32_t* fd = DescriptorOf(record);
  *sent = 0;
  if (*fd == -1) return VL_IO_CLOSED;
  for (;;) {
    ssize_t n = send(*fd, data, length, 0);
    if (n > 0) {
      *sent = static_cast<size_t>(n);
      return 0;
    }
    if (n == 0 || errno == EPIPE) return VL_IO_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = WaitSocket(fd, 2, timeout)) return w;
  }
}

int ReceiveBytes(void* record, void* buffer, size_t length, size_t* received, vlSocketTimeout* timeout) {
  int32_t* fd = DescriptorOf(record);
  *received = 0;
  if (*fd == -1) return VL_IO_CLOSED;
  for (;;) {
    ssize_t n = recv(*fd, buffer, length, 0);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return 0;
    }
    if (n == 0) return VL_IO_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = WaitSocket(fd, 1, timeout)) return w;
  }
}

int SendDatagram(int32_t* fd, const void* data, size_t length, size_t* sent, const sockaddr* address,
                 socklen_t addressLength, vlSocketTimeout* timeout) {
  *sent = 0;
  if (*fd == -1) return VL_IO_CLOSED;
  for (;;) {
    ssize_t n = sendto(*fd, data, length, 0, address, addressLength);
    if (n > 0) {
      *sent = static_cast<size_t>(n);
      return 0;
    }
    if (n == 0 || errno == EPIPE) return VL_IO_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = WaitSocket(fd, 2, timeout)) return w;
  }
}

int ReceiveDatagram(int32_t* fd, void* buffer, size_t length, size_t* received, sockaddr* address,
                    socklen_t* addressLength, vlSocketTimeout* timeout) {
  *received = 0;
  if (*fd == -1) return VL_IO_CLOSED;
  for (;;) {
    ssize_t n = recvfrom(*fd, buffer, length, 0, address, addressLength);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return 0;
    }
    if (n == 0) return VL_IO_CLOSED;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = WaitSocket(fd, 1, timeout)) return w;
  }
}

int PeekSocket(int32_t* fd, vlSocketTimeout* timeout, int datagram) {
  if (*fd == -1) return VL_IO_CLOSED;
  for (;;) {
    char byte;
    ssize_t n;
    if (datagram) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      n = recvfrom(*fd, &byte, 1, MSG_PEEK, reinterpret_cast<sockaddr*>(&from), &fromLength);
      // A waiting datagram of 0 bytes still counts as something to read.
      if (n >= 0) return 0;
    } else {
      n = recv(*fd, &byte, 1, MSG_PEEK);
      if (n > 0) return 0;
      if (n == 0) return VL_IO_CLOSED;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (int w = WaitSocket(fd, 1, timeout)) return w;
  }
}

int AcceptSocket(int32_t* fd, int32_t* accepted, sockaddr* address, socklen_t* addressLength,
                 vlSocketTimeout* timeout) {
  *accepted = -1;
  if (*fd == -1) return VL_IO_CLOSED;
  for (;;) {
    int n = accept4(*fd, address, addressLength, SOCK_CLOEXEC);
    if (n >= 0) {
      *accepted = n;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) return errno;
    if (int w = WaitSocket(fd, 1, timeout)) return w;
  }
}

int ResolveHostName(const char* name, hostent** entry) {
  h_errno = 0;
  errno = 0;
  *entry = gethostbyname(name);
  if (*entry && (*entry)->h_addrtype == AF_INET && (*entry)->h_addr_list && (*entry)->h_addr_list[0]) return 0;
  *entry = nullptr;
  if (h_errno) return h_errno;
  return errno ? errno : VL_IO_LOOKUP;
}

int ResolveHostAddress(const in_addr* address, hostent** entry) {
  h_errno = 0;
  errno = 0;
  *entry = gethostbyaddr(address, sizeof(in_addr), AF_INET);
  if (*entry) return 0;
  if (h_errno) return h_errno;
  return errno ? errno : VL_IO_LOOKUP;
}

void InitSocketRecord(vlSocket* s) {
  s->io.context = s;
  s->io.send = SendBytes;
  s->io.receive = ReceiveBytes;
  s->io.errorText = GetIOErrorTextOf;
  s->buffer.bytesSent = 0;
  s->buffer.bytesReceived = 0;
  s->buffer.io = &s->io;
  s->buffer.timeout = &s->timeout;
  s->buffer.first = s->buffer.last = 0;
  s->buffer.created = GetTimeSeconds();
}

int NewTCPSocket(vlSocket** out) {
  *out = nullptr;
  auto* s = static_cast<vlSocket*>(AllocMemory(sizeof(vlSocket), 1));
  if (!s) return ERR_MEM;
  if (int r = CreateSocket(&s->descriptor, AF_INET, SOCK_STREAM, 0)) {
    FreeMemory(s);
    SetErrorArgument(GetSocketErrorText(r));
    return 1410;
  }
  SetNonBlocking(&s->descriptor);
  InitSocketRecord(s);
  s->timeout.block = s->timeout.total = -1;
  *out = s;
  return 0;
}

void FreeSocket(vlSocket* s) {
  if (!s) return;
  CloseSocket(&s->descriptor);
  FreeMemory(s);
}

int BindSocket(int32_t* descriptor, const char* address, int port, int* lookupFailed) {
  *lookupFailed = 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (std::strcmp(address, "*") == 0) {
    a.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (!inet_aton(address, &a.sin_addr)) {
    hostent* entry;
    if (int r = ResolveHostName(address, &entry)) {
      *lookupFailed = 1;
      return r;
    }
    std::memcpy(&a.sin_addr, entry->h_addr_list[0], sizeof a.sin_addr);
  }
  int r = BindAddress(descriptor, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (r) CloseSocket(descriptor);
  return r;
}

int ConnectWithEvents(vlVMState* state, vlSocket* s, const sockaddr* address, socklen_t length, int32_t millis,
                      int* pumpCode) {
  *pumpCode = 0;
  if (s->descriptor == -1) return VL_IO_CLOSED;
  int r;
  do {
    r = connect(s->descriptor, address, length);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return 0;
  if (errno != EINPROGRESS && errno != EAGAIN) return errno;
  vlTimeVal start;
  GetSysTime(&start);
  for (;;) {
    if (PumpEvents(state, VL_PUMP_WAIT_INPUT, 0, pumpCode)) return VL_IO_TIMEOUT;
    short revents = 0;
    int n = PollDescriptor(s->descriptor, 3, 10, &revents);
    if (n < 0) return errno;
    if (n == 0) {
      vlTimeVal elapsed;
      GetSysTime(&elapsed);
      SubTimeVal(&elapsed, &start);
      // A zero limit still gives up after the first quiet wait.
      if (millis == 0 || IsTimeOver(&elapsed, millis)) return VL_IO_TIMEOUT;
      continue;
    }
    // Ready: the pending error decides between connected and refused.
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(s->descriptor, SOL_SOCKET, SO_ERROR, &error, &size) < 0) return errno;
    return error;
  }
}

// Opening an X connection patiently: the display name parsed the way Xlib
// reads it, a plain socket connection to see whether a server listens
// there, and the bounded retry. Depends on Xlib and POSIX sockets.
#include "platform/x11/x11_open.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <string>

bool ParseXDisplayName(const char* name, vlXDisplayAddress* out) {
  *out = vlXDisplayAddress{};
  if (!name || !*name) name = std::getenv("DISPLAY");
  if (!name || !*name) return false;
  std::string text = name;
  size_t slash = text.find('/');
  if (slash != std::string::npos && text[0] != '/' && slash < text.rfind(':')) {
    out->protocol = text.substr(0, slash);
    text.erase(0, slash + 1);
  }
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || (colon > 0 && text[colon - 1] == ':')) return false;
  out->host = text.substr(0, colon);
  if (out->host.size() > 2 && out->host.front() == '[' && out->host.back() == ']')
    out->host = out->host.substr(1, out->host.size() - 2);
  // Plain digits only: no sign, blank or overflow gets past.
  auto number = [](const char* p, long limit, long* value, const char** end) {
    *value = 0;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; p++) {
      *value = *value * 10 + (*p - '0');
      if (*value > limit) return false;
    }
    *end = p;
    return true;
  };
  const char* end = nullptr;
  // The display number becomes TCP port 6000 + number.
  if (!number(text.c_str() + colon + 1, 59535, &out->number, &end)) return false;
  if (*end == '.' && !number(end + 1, 1 << 20, &out->screen, &end)) return false;
  return *end == '\0';
}

namespace {

bool ConnectUnix(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  close(fd);
  return ok;
}

// A host that does not answer at all is given a second.
bool ConnectTcp(const std::string& host, long port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.empty() ? "localhost" : host.c_str(), service.c_str(), &hints, &list) != 0) return false;
  bool ok = false;
  for (addrinfo* a = list; a && !ok; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      ok = true;
    } else if (errno == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      ok = poll(&wait, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    close(fd);
  }
  freeaddrinfo(list);
  return ok;
}

bool ServerListening(const vlXDisplayAddress& a) {
  const bool local = a.host.empty() || a.host == "unix" || a.protocol == "unix" || a.protocol == "local";
  if (!a.host.empty() && a.host[0] == '/') return ConnectUnix(a.host, false);
  if (local) {
    std::string path = "/tmp/.X11-unix/X" + std::to_string(a.number);
    if (ConnectUnix(path, true) || ConnectUnix(path, false)) return true;
    // Xlib falls back on TCP for a bare ":N" as well.
    if (!a.protocol.empty() || !a.host.empty()) return false;
  }
  return ConnectTcp(a.host == "unix" ? std::string() : a.host, 6000 + a.number);
}

// A screen number beyond the last one fails like a dropped connection.
bool ScreenExists(const char* name, const vlXDisplayAddress& a) {
  if (a.screen == 0) return true;
  if (!name || !*name) name = std::getenv("DISPLAY");
  std::string server = name;
  server.erase(server.rfind('.'));
  Display* d;
  {
    vlNoBrokenPipeSignal noPipe;
    d = XOpenDisplay(server.c_str());
  }
  if (!d) return true;  // cannot tell yet: the retry will
  bool exists = a.screen < ScreenCount(d);
  XCloseDisplay(d);
  return exists;
}

}  // namespace

bool XServerMayAnswer(const char* name) {
  vlXDisplayAddress address;
  return ParseXDisplayName(name, &address) && ServerListening(address) && ScreenExists(name, address);
}

namespace {
std::mutex gQuietLock;
}  // namespace

vlQuietStandardError::vlQuietStandardError(bool quiet) {
  if (!quiet) return;
  gQuietLock.lock();
  std::fflush(stderr);
  saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ < 0 || null < 0 || dup2(null, STDERR_FILENO) < 0) {
    if (saved_ >= 0) close(saved_);
    saved_ = -1;
  }
  if (null >= 0) close(null);
  if (saved_ < 0) gQuietLock.unlock();
}

vlQuietStandardError::~vlQuietStandardError() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
  gQuietLock.unlock();
}

vlNoBrokenPipeSignal::vlNoBrokenPipeSignal() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t pending;
  wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe, &saved_);
}

vlNoBrokenPipeSignal::~vlNoBrokenPipeSignal() {
  // A SIGPIPE raised meanwhile is taken off before the mask is restored,
  // unless one was already waiting before.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t pending;
  if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
    timespec none{0, 0};
    while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

bool PauseBeforeXRetry(int attempt) {
  // A reset takes milliseconds even on a busy machine; a full server has
  // its clients come and go.
  constexpr int kPausesMs[] = {5, 10, 20, 40, 80, 150, 250, 400, 500, 500, 500};
  if (attempt < 0 || attempt >= static_cast<int>(std::size(kPausesMs))) return false;
  usleep(static_cast<useconds_t>(kPausesMs[attempt]) * 1000);
  return true;
}

Display* OpenXDisplay(const char* name) {
  const char* wanted = name && *name ? name : nullptr;
  for (int attempt = 0;; attempt++) {
    Display* d;
    {
      vlQuietStandardError quiet(attempt > 0);
      vlNoBrokenPipeSignal noPipe;
      d = XOpenDisplay(wanted);
    }
    if (d) return d;
    if (!XServerMayAnswer(wanted) || !PauseBeforeXRetry(attempt)) return nullptr;
  }
}

// Real peers for the network library's tests: a VM with the event and
// network libraries open, TCP peers on 127.0.0.1 served by threads that
// follow a per-connection script, and python3 servers started from
// tests/libraries/network.
#pragma once
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libraries/network/network_commands.h"
#include "libraries/network/network_library.h"
#include "display/events/event_dispatch.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "tests/platform/event_test_util.h"

namespace nettest {

// Blocking helpers for the peer side; every wait gives up after 10 s so a
// broken test fails instead of hanging.
inline bool WaitReadable(int fd, int millis = 10000) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, millis) > 0;
}

inline void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Reads until the text ends with delimiter, the peer closes or 10 s pass.
inline std::string ReadUntil(int fd, const std::string& delimiter) {
  std::string got;
  char c;
  while (WaitReadable(fd) && read(fd, &c, 1) == 1) {
    got += c;
    if (got.size() >= delimiter.size() && got.compare(got.size() - delimiter.size(), delimiter.size(), delimiter) == 0)
      break;
  }
  return got;
}

inline std::string ReadExactly(int fd, size_t count) {
  std::string got;
  char buffer[4096];
  while (got.size() < count && WaitReadable(fd)) {
    size_t want = std::min(sizeof buffer, count - got.size());
    ssize_t n = recv(fd, buffer, want, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

inline std::string ReadToClose(int fd) {
  std::string got;
  char buffer[4096];
  while (WaitReadable(fd)) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

inline int ListenLoopback(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 16);
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  *port = ntohs(a.sin_port);
  return fd;
}

// A port nothing listens on: bound, then closed again.
inline int UnusedPort() {
  int port = 0;
  int fd = ListenLoopback(&port);
  close(fd);
  return port;
}

inline int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A TCP peer on 127.0.0.1: accepts connections one after another and runs
// the session on each (the descriptor is closed after it returns).
// The serving thread must start after, and end before, everything its
// session reads: a derived peer whose session reads its own members uses
// the protected constructor, then calls Start in its constructor and Stop
// in its destructor.
class Peer {
 public:
  using Session = std::function<void(int fd, int index)>;
  explicit Peer(Session session, int connections = 1) { Start(std::move(session), connections); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() { Stop(); }
  // Waits until every session has ended on its own.
  void Join() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }
  int port() const { return port_; }

  // What the sessions recorded, guarded for the test thread.
  void Record(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(text);
  }
  std::vector<std::string> Records() {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }

 protected:
  Peer() = default;
  void Start(Session session, int connections) {
    session_ = std::move(session);
    listener_ = ListenLoopback(&port_);
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections && !stopping_; ++i) {
        if (!WaitReadable(listener_, 15000) || stopping_) return;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        active_ = fd;
        if (stopping_) {  // Stop may have missed this descriptor
          close(fd);
          return;
        }
        session_(fd, i);
        active_ = -1;
        close(fd);
      }
    });
  }
  // Ends a session still waiting for the other side, then joins; a second
  // call does nothing.
  void Stop() {
    stopping_ = true;
    int fd = active_;
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
    Join();
  }

 private:
  Session session_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> active_{-1};
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> records_;
};

// A python3 server from this folder, started with its arguments; it prints
// "PORT <n>" first. Stopped (by its own pid) when destroyed.
class PythonServer {
 public:
  explicit PythonServer(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      static char python[] = "python3";
      argv.push_back(python);
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp("python3", argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    std::string line = ReadUntil(out_, "\n");
    if (line.rfind("PORT ", 0) == 0) port_ = std::stoi(line.substr(5));
  }
  PythonServer(const PythonServer&) = delete;
  PythonServer& operator=(const PythonServer&) = delete;
  ~PythonServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  int port() const { return port_; }
  // The rest of the server's output (after it ended or closed stdout).
  std::string Output() { return ReadToClose(out_); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
};

inline std::string ScriptPath(const char* name) {
  return std::string(VL_TEST_SOURCE_DIR) + "/tests/libraries/network/" + name;
}

// The event and network libraries on one VM.
class NetworkTest : public vltest::EventTest {
 protected:
  void SetUp() override {
    vltest::EventTest::SetUp();
    ASSERT_EQ(OpenNetworkLib(L), 0);
    vl::SetStackTop(L, 0);
  }
  void TearDown() override {
    FreeNetworkObjects(L);
    SetNetworkPolls(nullptr);
    gNetworkTimeout = 10000;
    vltest::EventTest::TearDown();
  }

  // Calls a command with its arguments pushed by args.
  template <class Args>
  int Cmd(int (*handler)(vlVMState*), Args&& args) {
    return Call(handler, std::forward<Args>(args));
  }

  int Cmd(int (*handler)(vlVMState*)) { return Call(handler); }

  std::string StringAt(int index) {
    size_t n = vl::GetStringLengthAt(L, index);
    const char* s = vl::ToStringAt(L, index);
    return s ? std::string(s, n) : std::string("<nil>");
  }
  double NumberAt(int index) { return vl::ToNumberAt(L, index); }

  // Opens connection id (a number) to 127.0.0.1:port.
  int Open(int id, int port) {
    return Cmd(CmdOpenConnection, [&] {
      vl::PushNumber(L, id);
      vl::PushString(L, "127.0.0.1");
      vl::PushNumber(L, port);
    });
  }

  // Makes the script global name the handler of a global slot.
  void SetGlobalHandler(int slot, const char* function, const char* userdata = nullptr) {
    vl::PushString(L, function);
    vl::GetTableValue(L, vl::kGlobalsIndex);
    gGlobalHandlers[slot].functionRef = vl::CreateRef(L, vl::kRegistryIndex);
    if (userdata) {
      vl::PushString(L, userdata);
      gGlobalHandlers[slot].userdataRef = vl::CreateRef(L, vl::kRegistryIndex);
    }
  }
};

}  // namespace nettest

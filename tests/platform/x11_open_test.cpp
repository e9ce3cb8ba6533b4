// Opening X connections patiently, against a real Xvfb: display names as
// Xlib reads them, names with no server or screen behind them failing at
// once, and a server that drops its first connections (as one does while
// it resets) reached on a later attempt through a relay that drops them.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/x11_open.h"
#include "tests/platform/x11_server.h"

namespace {

// The address of an abstract local socket; its length.
socklen_t AbstractAddress(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  size_t size = std::min(path.size(), sizeof address->sun_path - 1);
  std::memcpy(address->sun_path + 1, path.data(), size);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
}

int ListenAbstract(const std::string& path) {
  sockaddr_un address;
  socklen_t length = AbstractAddress(path, &address);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 16) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

int ConnectAbstract(const std::string& path) {
  sockaddr_un address;
  socklen_t length = AbstractAddress(path, &address);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Display ":number" of a relay to a real server's local socket: the first
// `drops` connections are closed at once, like those a resetting server
// drops; the later ones are passed through.
class DroppingRelay {
 public:
  DroppingRelay(const std::string& server, int drops) : drops_(drops) {
    size_t colon = server.find(':');
    target_ = "/tmp/.X11-unix/X" + (colon == std::string::npos ? server : server.substr(colon + 1));
    for (int n = 4000; n < 4090 && listener_ < 0; n++) {
      std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(path.c_str(), F_OK) == 0) continue;
      listener_ = ListenAbstract(path);
      if (listener_ >= 0) std::snprintf(name_, sizeof name_, ":%d", n);
    }
    if (listener_ >= 0) thread_ = std::thread([this] { Serve(); });
  }
  ~DroppingRelay() {
    stop_.store(true);
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    for (std::thread& t : pumps_) t.join();
    if (listener_ >= 0) close(listener_);
  }
  std::string name() const { return name_; }
  int accepted() const { return accepted_.load(); }

 private:
  void Serve() {
    while (!stop_.load()) {
      int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      if (accepted_.fetch_add(1) < drops_) {
        close(client);
        continue;
      }
      int server = ConnectAbstract(target_);
      if (server < 0) {
        close(client);
        continue;
      }
      pumps_.emplace_back([this, client, server] { Pump(client, server); });
    }
  }
  void Pump(int a, int b) {
    char buffer[65536];
    while (!stop_.load()) {
      pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (poll(fds, 2, 100) < 0) break;
      bool closed = false;
      for (int i = 0; i < 2 && !closed; i++) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        // A peer that went away must end the pump, not the test by SIGPIPE.
        closed = n <= 0 || send(fds[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n;
      }
      if (closed) break;
    }
    close(a);
    close(b);
  }

  int drops_;
  int listener_ = -1;
  char name_[16] = "";
  std::string target_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
  std::vector<std::thread> pumps_;
};

TEST(XDisplayName, ReadAsXlibReadsIt) {
  vlXDisplayAddress a;
  ASSERT_TRUE(ParseXDisplayName(":7", &a));
  EXPECT_EQ(a.host, "");
  EXPECT_EQ(a.number, 7);
  EXPECT_EQ(a.screen, 0);
  ASSERT_TRUE(ParseXDisplayName("unix/box.example:12.3", &a));
  EXPECT_EQ(a.protocol, "unix");
  EXPECT_EQ(a.host, "box.example");
  EXPECT_EQ(a.number, 12);
  EXPECT_EQ(a.screen, 3);
  ASSERT_TRUE(ParseXDisplayName("[::1]:2", &a));
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.number, 2);
  ASSERT_TRUE(ParseXDisplayName("/run/x/sock:0", &a));
  EXPECT_EQ(a.protocol, "");
  EXPECT_EQ(a.host, "/run/x/sock");
  for (const char* bad : {"nonsense", ":", ":x", ": 1", ":+1", ":1.", ":1.x", ":1x", "host::0", ":99999",
                          ":1.99999999999999999999"})
    EXPECT_FALSE(ParseXDisplayName(bad, &a)) << bad;
}

TEST(XDisplayName, EmptyNameIsTheEnvironmentsDisplay) {
  const char* saved = std::getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  setenv("DISPLAY", ":5.1", 1);
  vlXDisplayAddress a;
  EXPECT_TRUE(ParseXDisplayName(nullptr, &a));
  EXPECT_EQ(a.number, 5);
  EXPECT_EQ(a.screen, 1);
  unsetenv("DISPLAY");
  EXPECT_FALSE(ParseXDisplayName("", &a));
  EXPECT_FALSE(XServerMayAnswer(nullptr));
  EXPECT_EQ(OpenXDisplay(nullptr), nullptr);
  if (saved) setenv("DISPLAY", keep.c_str(), 1);
}

TEST(XOpenPatiently, NoServerOrScreenBehindTheNameIsNoRetry) {
  PrivateXServer server;
  START_X_SERVER(server);
  std::string name = server.name();
  EXPECT_TRUE(XServerMayAnswer(name.c_str()));
  EXPECT_TRUE(XServerMayAnswer((name + ".0").c_str()));
  EXPECT_FALSE(XServerMayAnswer((name + ".3").c_str()));  // one screen only
  EXPECT_FALSE(XServerMayAnswer(":4093"));
  EXPECT_FALSE(XServerMayAnswer("unix:4093"));
  EXPECT_FALSE(XServerMayAnswer("nonsense"));
  EXPECT_EQ(OpenXDisplay(":4093"), nullptr);
  EXPECT_EQ(OpenXDisplay((name + ".3").c_str()), nullptr);
  Display* d = OpenXDisplay(name.c_str());
  ASSERT_NE(d, nullptr);
  XCloseDisplay(d);
}

TEST(XOpenPatiently, DroppedConnectionsAreMadeAgain) {
  PrivateXServer server;
  START_X_SERVER(server);
  if (!server.isPrivate()) GTEST_SKIP() << "needs a local Xvfb";
  DroppingRelay relay(server.name(), 3);
  ASSERT_FALSE(relay.name().empty());
  // Xlib alone gives up on the first dropped connection (and writes to
  // it: the signal is held off as the player holds it).
  {
    vlNoBrokenPipeSignal noPipe;
    EXPECT_EQ(XOpenDisplay(relay.name().c_str()), nullptr);
  }
  Display* d = OpenXDisplay(relay.name().c_str());
  ASSERT_NE(d, nullptr);
  EXPECT_GE(relay.accepted(), 4);
  EXPECT_EQ(ScreenCount(d), 1);
  XSync(d, False);
  XCloseDisplay(d);
}

// A server that keeps dropping every connection is given up on: the
// attempts are bounded.
TEST(XOpenPatiently, RetriesEnd) {
  PrivateXServer server;
  START_X_SERVER(server);
  if (!server.isPrivate()) GTEST_SKIP() << "needs a local Xvfb";
  DroppingRelay relay(server.name(), 1 << 30);
  ASSERT_FALSE(relay.name().empty());
  EXPECT_EQ(OpenXDisplay(relay.name().c_str()), nullptr);
  EXPECT_GT(relay.accepted(), 4);
  EXPECT_LT(relay.accepted(), 40);
  EXPECT_FALSE(PauseBeforeXRetry(1000));
}

}  // namespace

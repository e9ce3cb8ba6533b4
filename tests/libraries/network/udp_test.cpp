// UDP objects against plain datagram sockets on 127.0.0.1: binding,
// sending, one datagram per read with its sender, truncation, the empty
// datagram and the argument checks.
#include <cerrno>
#include <cstring>

#include "libraries/network/network_commands.h"
#include "tests/libraries/network/network_test_util.h"
#include "vm/error_codes.h"

namespace {

using nettest::NetworkTest;

// A plain datagram socket on 127.0.0.1 with its port.
int OpenDatagram(int* port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  *port = ntohs(a.sin_port);
  return fd;
}

void SendTo(int fd, int port, const std::string& data) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

class UdpTest : public NetworkTest {
 protected:
  int Create(int id) {
    int r = Cmd(CmdCreateUDPObject, [&] {
      vl::PushNumber(L, id);
      vl::PushNumber(L, 0);
      vl::PushString(L, "127.0.0.1");
    });
    if (r) return -r;
    Cmd(CmdGetLocalPort, [&] {
      vl::PushNumber(L, id);
      vl::PushNumber(L, 117);
    });
    return static_cast<int>(NumberAt(-1));
  }
  int Receive(int id, double maximum = 0) {
    return Cmd(CmdReceiveUDPData, [&] {
      vl::PushNumber(L, id);
      if (maximum) vl::PushNumber(L, maximum);
    });
  }
  // Waits until a datagram is waiting on the object (loopback is quick,
  // but not instant on a loaded machine).
  void WaitForDatagram(int id) {
    vlUDPObject* u = nullptr;
    vlObjectId oid{id, nullptr};
    ASSERT_EQ(FindUDPObject(oid, &u), 0);
    nettest::WaitReadable(u->socket->descriptor, 5000);
  }
};

TEST_F(UdpTest, DatagramsGoBothWaysWithTheirSender) {
  int port = Create(1);
  ASSERT_GT(port, 0);
  int peerPort = 0;
  int peer = OpenDatagram(&peerPort);
  std::string data("dat\0gram", 8);
  ASSERT_EQ(Cmd(CmdSendUDPData, [&] {
              vl::PushNumber(L, 1);
              vl::PushBytes(L, data.data(), data.size());
              vl::PushString(L, "127.0.0.1");
              vl::PushNumber(L, peerPort);
            }),
            1);
  EXPECT_EQ(NumberAt(-1), 8);
  char buffer[64];
  ASSERT_TRUE(nettest::WaitReadable(peer));
  EXPECT_EQ(recv(peer, buffer, sizeof buffer, 0), 8);
  EXPECT_EQ(std::string(buffer, 8), data);
  SendTo(peer, port, "first");
  SendTo(peer, port, "second");
  WaitForDatagram(1);
  ASSERT_EQ(Receive(1), 3);
  EXPECT_EQ(StringAt(-3), "first");
  EXPECT_EQ(StringAt(-2), "127.0.0.1");
  EXPECT_EQ(NumberAt(-1), peerPort);
  WaitForDatagram(1);
  ASSERT_EQ(Receive(1), 3);
  EXPECT_EQ(StringAt(-3), "second");
  ASSERT_EQ(Receive(1), 3);  // nothing waiting
  EXPECT_EQ(StringAt(-3), "");
  EXPECT_EQ(StringAt(-2), "");
  EXPECT_EQ(NumberAt(-1), 0);
  close(peer);
}

TEST_F(UdpTest, ReadsAreCappedAndCutToTheMaximum) {
  int port = Create(1);
  int peerPort = 0;
  int peer = OpenDatagram(&peerPort);
  SendTo(peer, port, std::string(10000, 'x'));
  SendTo(peer, port, "abcdefgh");
  WaitForDatagram(1);
  ASSERT_EQ(Receive(1, 100000), 3);
  EXPECT_EQ(StringAt(-3).size(), 8192u);
  WaitForDatagram(1);
  ASSERT_EQ(Receive(1, 3), 3);
  EXPECT_EQ(StringAt(-3), "abc");  // the rest of that datagram is gone
  EXPECT_EQ(Receive(1, -1), ERR_WRONGUSAGE);
  close(peer);
}

TEST_F(UdpTest, AnEmptyDatagramFailsAsRefusedAndTheNextOneIsStillAnnounced) {
  int port = Create(1);
  int peerPort = 0;
  int peer = OpenDatagram(&peerPort);
  SendTo(peer, port, "");
  WaitForDatagram(1);
  auto* u = reinterpret_cast<vlUDPObject*>(gUDPList);
  u->dataReported = 1;  // as if the poll had announced it
  EXPECT_EQ(Receive(1), 1410);
  EXPECT_STREQ(GetErrorArgument(), "connection refused");
  EXPECT_EQ(u->dataReported, 0u);
  close(peer);
}

TEST_F(UdpTest, SendChecksItsArguments) {
  Create(1);
  auto send = [&](const char* ip, double port, const std::string& data) {
    return Cmd(CmdSendUDPData, [&] {
      vl::PushNumber(L, 1);
      vl::PushBytes(L, data.data(), data.size());
      vl::PushString(L, ip);
      vl::PushNumber(L, port);
    });
  };
  EXPECT_EQ(send("localhost", 9, "x"), 1430);
  EXPECT_EQ(send("127.0.0.1", 0, "x"), ERR_WRONGUSAGE);
  EXPECT_EQ(send("127.0.0.1", 65536, "x"), ERR_WRONGUSAGE);
  EXPECT_EQ(send("127.0.0.1", 9, ""), ERR_WRONGUSAGE);
  EXPECT_EQ(Cmd(CmdSendUDPData, [&] {
              vl::PushNumber(L, 77);
              vl::PushString(L, "x");
              vl::PushString(L, "127.0.0.1");
              vl::PushNumber(L, 9);
            }),
            1429);
  EXPECT_EQ(GetErrorArgIndex(), 77);
}

TEST_F(UdpTest, ABusyPortLeavesNoObject) {
  int busyPort = 0;
  int busy = OpenDatagram(&busyPort);
  EXPECT_EQ(Cmd(CmdCreateUDPObject, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, busyPort);
              vl::PushString(L, "127.0.0.1");
            }),
            1410);
  EXPECT_STREQ(GetErrorArgument(), std::strerror(EADDRINUSE));
  EXPECT_EQ(gUDPList, nullptr);
  EXPECT_EQ(Cmd(CmdCreateUDPObject, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, -1);
            }),
            ERR_WRONGUSAGE);
  close(busy);
}

TEST_F(UdpTest, AutomaticIdsAndReplacedNumbers) {
  ASSERT_EQ(Cmd(CmdCreateUDPObject, [&] { vl::PushNil(L); }), 1);
  void* handle = vl::ToUserdataAt(L, -1);
  EXPECT_EQ(handle, static_cast<void*>(gUDPList));
  Create(5);
  Create(5);  // replaces the first object 5
  int count = 0;
  for (vlObjectNode* n = gUDPList; n; n = n->next) ++count;
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Cmd(CmdCloseUDPObject, [&] { vl::PushPointer(L, handle); }), 0);
  EXPECT_EQ(Cmd(CmdCloseUDPObject, [&] { vl::PushPointer(L, handle); }), ERR_FINDARRAY);
  EXPECT_EQ(Cmd(CmdCloseUDPObject, [&] { vl::PushNumber(L, 5); }), 0);
  EXPECT_EQ(gUDPList, nullptr);
}

}  // namespace

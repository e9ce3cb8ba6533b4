// Network events through the event dispatcher: "OnConnect",
// "OnReceiveData", "OnDisconnect" and "OnReceiveUDPData" reach script
// handlers with their message tables, each fires once until the script
// reads, and transfers raise none.
#include <cstring>

#include "display/events/event_loop.h"
#include "libraries/network/network_commands.h"
#include "tests/libraries/network/network_test_util.h"
#include "vm/error_codes.h"

namespace {

using nettest::NetworkTest;
using nettest::Peer;

// What the handlers saw, in order.
std::vector<std::string> gActions;
std::vector<double> gIds;
std::vector<void*> gHandles;
std::string gUserdata;
int gCloseInHandler = 0;

int Handler(vlVMState* L) {
  vl::PushString(L, "action");
  vl::RawGetTableValue(L, 1);
  gActions.push_back(vl::ToStringAt(L, -1));
  for (const char* key : {"id", "serverid", "clientid"}) {
    vl::PushString(L, key);
    vl::RawGetTableValue(L, 1);
    if (vl::GetTypeAt(L, -1) == VL_TNUMBER) gIds.push_back(vl::ToNumberAt(L, -1));
    if (vl::GetTypeAt(L, -1) == VL_TLIGHTUSERDATA) gHandles.push_back(vl::ToUserdataAt(L, -1));
    vl::SetStackTop(L, -2);
  }
  vl::PushString(L, "userdata");
  vl::RawGetTableValue(L, 1);
  if (vl::GetTypeAt(L, -1) == VL_TSTRING) gUserdata = vl::ToStringAt(L, -1);
  if (gCloseInHandler) {
    // Closes the connection the dispatcher would visit next.
    vl::SetStackTop(L, 0);
    vl::PushNumber(L, gCloseInHandler);
    CmdCloseConnection(L);
    gCloseInHandler = 0;
  }
  return 0;
}

class EventsTest : public NetworkTest {
 protected:
  void SetUp() override {
    NetworkTest::SetUp();
    gActions.clear();
    gIds.clear();
    gHandles.clear();
    gUserdata.clear();
    vltest::SetGlobalNative(L, "handler", Handler);
  }
  // One CheckEvent step; true when a callback ran.
  bool Step() {
    ClearQuit();
    EXPECT_EQ(vltest::RunScript(L, ".call checkevent -> ev\nret\n"), 0);
    return NumberField("ev", "triggered") == 1;
  }
  // Steps until a callback runs (a peer may need a moment).
  bool StepUntilEvent() {
    double start = GetTimeSeconds();
    while (GetTimeSeconds() - start < 5) {
      if (Step()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  int ReceiveAll(int id) {
    return Cmd(CmdReceiveData, [&] {
      vl::PushNumber(L, id);
      vl::PushNumber(L, 0);
      vl::PushNumber(L, 0);
    });
  }
};

constexpr int kConnect = 4, kDisconnect = 5, kReceive = 6, kUdp = 7;

TEST_F(EventsTest, ClientsAreAcceptedOnlyWithAnOnConnectHandler) {
  // Server 9 on a free port, and a client knocking on it.
  auto knock = [&] {
    EXPECT_EQ(Cmd(CmdCreateServer, [&] {
                vl::PushNumber(L, 9);
                vl::PushNumber(L, 0);
                vl::PushString(L, "127.0.0.1");
              }),
              0);
    EXPECT_EQ(Cmd(CmdGetLocalPort, [&] {
                vl::PushNumber(L, 9);
                vl::PushNumber(L, 115);
              }),
              1);
    return nettest::ConnectLoopback(static_cast<int>(NumberAt(-1)));
  };
  int client = knock();
  ASSERT_GE(client, 0);
  EXPECT_FALSE(Step());
  EXPECT_EQ(gConnectionList, nullptr);  // still waiting in the listen queue
  SetGlobalHandler(kConnect, "handler", "ud");
  ASSERT_TRUE(StepUntilEvent());
  ASSERT_EQ(gActions, std::vector<std::string>{"OnConnect"});
  EXPECT_EQ(gIds, std::vector<double>{9});
  ASSERT_EQ(gHandles.size(), 1u);
  EXPECT_EQ(gHandles[0], static_cast<void*>(gConnectionList));
  EXPECT_EQ(gUserdata, "ud");
  // The new connection talks to the client.
  ASSERT_EQ(Cmd(CmdSendData, [&] {
              vl::PushPointer(L, gHandles[0]);
              vl::PushString(L, "hi");
            }),
            1);
  EXPECT_EQ(nettest::ReadExactly(client, 2), "hi");
  close(client);

  // A state opened after this one starts without its handlers: its server
  // accepts nobody.
  TearDown();
  SetUp();
  client = knock();
  ASSERT_GE(client, 0);
  EXPECT_FALSE(Step());
  EXPECT_EQ(gConnectionList, nullptr);
  close(client);
}

TEST_F(EventsTest, DataFiresOnceUntilReadThenDisconnectFollows) {
  Peer peer([](int fd, int) { nettest::WriteAll(fd, "one\ntwo\n"); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  SetGlobalHandler(kReceive, "handler");
  SetGlobalHandler(kDisconnect, "handler");
  peer.Join();  // data sent, peer closed
  ASSERT_TRUE(StepUntilEvent());
  EXPECT_EQ(gActions.back(), "OnReceiveData");
  EXPECT_EQ(gIds.back(), 1);
  // Neither a second data event nor the disconnect before the script reads.
  EXPECT_FALSE(Step());
  EXPECT_FALSE(Step());
  ASSERT_EQ(Cmd(CmdReceiveData, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 2);
            }),
            3);
  EXPECT_EQ(StringAt(-3), "one");
  // "two\n" waits in the connection's own buffer: that is data too.
  ASSERT_TRUE(StepUntilEvent());
  EXPECT_EQ(gActions.back(), "OnReceiveData");
  ASSERT_EQ(ReceiveAll(1), 3);
  EXPECT_EQ(StringAt(-3), "two\n");
  ASSERT_TRUE(StepUntilEvent());
  EXPECT_EQ(gActions.back(), "OnDisconnect");
  EXPECT_FALSE(Step());  // once only
  EXPECT_EQ(gActions.size(), 3u);
  // The connection stays listed until the script closes it.
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushNumber(L, 1); }), 0);
}

// A Python peer that accepts one client, reads a byte and resets the
// connection (an abortive close: RST, no FIN).
TEST_F(EventsTest, APeerThatResetsTheConnectionIsADisconnect) {
  FILE* peer = popen(
      "python3 -c 'import socket, struct, sys\n"
      "s = socket.socket(); s.bind((\"127.0.0.1\", 0)); s.listen(1)\n"
      "print(s.getsockname()[1], flush=True)\n"
      "c, _ = s.accept()\n"
      "c.recv(1)\n"
      "c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack(\"ii\", 1, 0))\n"
      "c.close()\n"
      "print(\"reset\", flush=True)'",
      "r");
  ASSERT_NE(peer, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(peer, "%d", &port), 1);
  ASSERT_EQ(Open(1, port), 0);
  // The reset comes once the connection is made: after the first byte.
  ASSERT_EQ(Cmd(CmdSendData, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, "x");
            }),
            1);
  char word[16] = "";
  ASSERT_EQ(fscanf(peer, "%15s", word), 1);
  EXPECT_STREQ(word, "reset");
  pclose(peer);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  SetGlobalHandler(kDisconnect, "handler");
  // The first step that looks at the connection reports it, once.
  ASSERT_TRUE(Step());
  EXPECT_EQ(gActions, std::vector<std::string>{"OnDisconnect"});
  EXPECT_EQ(gIds.back(), 1);
  EXPECT_FALSE(Step());
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushNumber(L, 1); }), 0);
}

TEST_F(EventsTest, AHandlerMayCloseTheConnectionTheDispatcherVisitsNext) {
  Peer a([](int fd, int) { nettest::WriteAll(fd, "a"); });
  Peer b([](int fd, int) { nettest::WriteAll(fd, "b"); });
  ASSERT_EQ(Open(1, a.port()), 0);
  ASSERT_EQ(Open(2, b.port()), 0);
  a.Join();
  b.Join();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SetGlobalHandler(kReceive, "handler");
  gCloseInHandler = 2;
  ASSERT_TRUE(StepUntilEvent());
  EXPECT_EQ(gIds.back(), 1);
  EXPECT_EQ(reinterpret_cast<vlConnection*>(gConnectionList)->node.next, nullptr);
  EXPECT_FALSE(Step());
  EXPECT_EQ(gActions.size(), 1u);
}

TEST_F(EventsTest, DatagramsAreAnnouncedUntilRead) {
  ASSERT_EQ(Cmd(CmdCreateUDPObject, [&] {
              vl::PushNumber(L, 4);
              vl::PushNumber(L, 0);
              vl::PushString(L, "127.0.0.1");
            }),
            0);
  ASSERT_EQ(Cmd(CmdGetLocalPort, [&] {
              vl::PushNumber(L, 4);
              vl::PushNumber(L, 117);
            }),
            1);
  int port = static_cast<int>(NumberAt(-1));
  SetGlobalHandler(kUdp, "handler");
  EXPECT_FALSE(Step());
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, "ping", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  sendto(fd, "pong", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ASSERT_TRUE(StepUntilEvent());
  EXPECT_EQ(gActions.back(), "OnReceiveUDPData");
  EXPECT_EQ(gIds.back(), 4);
  EXPECT_FALSE(Step());
  ASSERT_EQ(Cmd(CmdReceiveUDPData, [&] { vl::PushNumber(L, 4); }), 3);
  EXPECT_EQ(StringAt(-3), "ping");
  ASSERT_TRUE(StepUntilEvent());
  EXPECT_EQ(gActions.size(), 2u);
  close(fd);
}

int gStepsInProgress = 0;
int ProgressThatDispatches(vlVMState* L) {
  int more = 0;
  EventLoopStep(L, 0, 1, &more);
  ++gStepsInProgress;
  vl::PushNumber(L, 0);
  return 1;
}

TEST_F(EventsTest, TransfersRaiseNoNetworkEvents) {
  Peer peer([](int fd, int) {
    nettest::ReadUntil(fd, "\r\n\r\n");
    nettest::WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabc");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    nettest::WriteAll(fd, "def");
  });
  SetGlobalHandler(kReceive, "handler");
  SetGlobalHandler(kDisconnect, "handler");
  gStepsInProgress = 0;
  ASSERT_EQ(Cmd(CmdDownloadFile, [&] {
              vl::PushString(L, ("http://127.0.0.1:" + std::to_string(peer.port()) + "/").c_str());
              vl::PushNil(L);
              vl::PushNativeClosure(L, ProgressThatDispatches, 0);
            }),
            2);
  EXPECT_EQ(StringAt(-2), "abcdef");
  EXPECT_GT(gStepsInProgress, 0);
  EXPECT_TRUE(gActions.empty());
}

}  // namespace

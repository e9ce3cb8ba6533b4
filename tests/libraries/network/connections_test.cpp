// TCP connections and servers against real peers on 127.0.0.1: ids,
// connect failures, the bytes SendData puts on the wire, every ReceiveData
// mode with its results, receive callbacks, time-outs and addresses.
#include <cerrno>
#include <cstring>

#include "libraries/network/network_commands.h"
#include "platform/event_pump.h"
#include "tests/libraries/network/network_test_util.h"
#include "vm/error_codes.h"

namespace {

using nettest::NetworkTest;
using nettest::Peer;

int ReceiveArgs(vlVMState* L, int id, int mode, std::initializer_list<double> more) {
  vl::PushNumber(L, id);
  vl::PushNumber(L, mode);
  for (double d : more) vl::PushNumber(L, d);
  return 0;
}

TEST_F(NetworkTest, OpenConnectionRefusesPortsOutsideTheRangeBeforeConnecting) {
  EXPECT_EQ(Open(1, 0), ERR_WRONGUSAGE);
  EXPECT_EQ(Open(1, 65536), ERR_WRONGUSAGE);
  EXPECT_EQ(gConnectionList, nullptr);
}

TEST_F(NetworkTest, ConnectToAClosedPortGivesTheSystemText) {
  EXPECT_EQ(Open(1, nettest::UnusedPort()), 1410);
  EXPECT_STREQ(GetErrorArgument(), std::strerror(ECONNREFUSED));
  EXPECT_EQ(gConnectionList, nullptr);
}

TEST_F(NetworkTest, ReusedNumericIdClosesTheOldConnectionEvenWhenTheNewConnectFails) {
  Peer peer([&](int fd, int) { peer.Record(nettest::ReadToClose(fd)); });
  ASSERT_EQ(Open(7, peer.port()), 0);
  EXPECT_EQ(Open(7, nettest::UnusedPort()), 1410);
  peer.Join();  // the old connection was closed: the peer saw its end
  EXPECT_EQ(peer.Records().size(), 1u);
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushNumber(L, 7); }), 1409);
  EXPECT_EQ(GetErrorArgIndex(), 7);
}

TEST_F(NetworkTest, UnknownIdsNameTheNumberAndStaleHandlesAreNotFound) {
  EXPECT_EQ(Cmd(CmdSendData, [&] {
              vl::PushNumber(L, 42);
              vl::PushString(L, "x");
            }),
            1409);
  EXPECT_EQ(GetErrorArgIndex(), 42);
  Peer peer([](int fd, int) { nettest::ReadToClose(fd); });
  ASSERT_EQ(Cmd(CmdOpenConnection, [&] {
              vl::PushNil(L);
              vl::PushString(L, "127.0.0.1");
              vl::PushNumber(L, peer.port());
            }),
            1);
  void* handle = vl::ToUserdataAt(L, -1);
  ASSERT_EQ(handle, static_cast<void*>(gConnectionList));
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushPointer(L, handle); }), 0);
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushPointer(L, handle); }), ERR_FINDARRAY);
}

TEST_F(NetworkTest, SendDataPutsEveryByteOnTheWire) {
  Peer peer([&](int fd, int) { peer.Record(nettest::ReadToClose(fd)); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  std::string data("hello\0world\r\n", 13);
  std::string big(200000, 'z');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(Cmd(CmdSendData, [&] {
              vl::PushNumber(L, 1);
              vl::PushBytes(L, data.data(), data.size());
            }),
            1);
  EXPECT_EQ(NumberAt(-1), 13);
  ASSERT_EQ(Cmd(CmdSendData, [&] {
              vl::PushNumber(L, 1);
              vl::PushBytes(L, big.data(), big.size());
            }),
            1);
  EXPECT_EQ(NumberAt(-1), big.size());
  // A callback that fails while the send waits for the pump is raised,
  // not hidden behind a count of 0.
  vlInputBackend saved = gInputBackend;
  gInputBackend.handleInput = [](vlVMState*, int* error) {
    *error = ERR_NUMCALLBACK;
    return 1;
  };
  EXPECT_EQ(Cmd(CmdSendData, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, "never sent");
            }),
            ERR_NUMCALLBACK);
  gInputBackend = saved;
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushNumber(L, 1); }), 0);
  peer.Join();
  ASSERT_EQ(peer.Records().size(), 1u);
  EXPECT_EQ(peer.Records()[0], data + big);
}

TEST_F(NetworkTest, SendDataToAPeerThatLeftReturnsAShortCount) {
  // The reset must come after the connection is open: a reset during the
  // open is a different case (an open that fails).
  std::atomic<bool> opened{false};
  Peer peer([&](int fd, int) {
    for (int i = 0; i < 5000 && !opened; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    linger off{1, 0};  // reset instead of a clean close
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  });
  const int open = Open(1, peer.port());
  opened = true;
  ASSERT_EQ(open, 0);
  peer.Join();
  std::string big(8 << 20, 'q');
  ASSERT_EQ(Cmd(CmdSendData, [&] {
              vl::PushNumber(L, 1);
              vl::PushBytes(L, big.data(), big.size());
            }),
            1);
  EXPECT_LT(NumberAt(-1), big.size());
}

TEST_F(NetworkTest, ReceiveAllWithoutWaitingReturnsAtOnceWhenNothingIsThere) {
  Peer peer([](int fd, int) { nettest::ReadToClose(fd); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  double start = GetTimeSeconds();
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 0, {0}); }), 3);
  EXPECT_LT(GetTimeSeconds() - start, 1.0);
  EXPECT_EQ(StringAt(-3), "");
  EXPECT_EQ(NumberAt(-2), 0);
  EXPECT_EQ(NumberAt(-1), 0);
}

TEST_F(NetworkTest, ReceiveAllUntilThePeerClosesReportsCompletion) {
  Peer peer([](int fd, int) { nettest::WriteAll(fd, "0123456789"); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 0, {}); }), 3);
  EXPECT_EQ(StringAt(-3), "0123456789");
  EXPECT_EQ(NumberAt(-2), 10);
  EXPECT_EQ(NumberAt(-1), 1);
}

TEST_F(NetworkTest, ReceiveAllFromAPeerThatStaysOpenEndsAtTheTimeOut) {
  std::atomic<bool> done{false};
  Peer peer([&](int fd, int) {
    nettest::WriteAll(fd, "0123456789");
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  ASSERT_EQ(Open(1, peer.port()), 0);
  // The short time-out counts from the data, so let it arrive first.
  nettest::WaitReadable(reinterpret_cast<vlConnection*>(gConnectionList)->socket->descriptor);
  gNetworkTimeout = 150;
  double start = GetTimeSeconds();
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 0, {1}); }), 3);
  done = true;
  EXPECT_GE(GetTimeSeconds() - start, 0.15);
  EXPECT_EQ(StringAt(-3), "0123456789");
  EXPECT_EQ(NumberAt(-2), 10);
  EXPECT_EQ(NumberAt(-1), 0);
}

TEST_F(NetworkTest, ReceiveLineDropsCarriageReturnsAndKeepsTheRestBuffered) {
  std::atomic<bool> done{false};
  Peer peer([&](int fd, int) {
    nettest::WriteAll(fd, "abc\r\ndef\nx\ry\nlast");
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  ASSERT_EQ(Open(1, peer.port()), 0);
  const char* expected[] = {"abc", "def", "xy"};
  for (const char* line : expected) {
    ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 2, {}); }), 3);
    EXPECT_EQ(StringAt(-3), line);
    EXPECT_EQ(NumberAt(-2), std::strlen(line));
    EXPECT_EQ(NumberAt(-1), 1);
  }
  // A line that never ends comes back at the time-out, not complete.
  gNetworkTimeout = 150;
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 2, {}); }), 3);
  done = true;
  EXPECT_EQ(StringAt(-3), "last");
  EXPECT_EQ(NumberAt(-1), 0);
}

TEST_F(NetworkTest, ReceiveBytesTakesTheCountAndLeavesTheRestForTheNextCall) {
  std::atomic<bool> done{false};
  Peer peer([&](int fd, int) {
    nettest::WriteAll(fd, "ABCDEFGH");
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  ASSERT_EQ(Open(1, peer.port()), 0);
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 1, {5}); }), 3);
  EXPECT_EQ(StringAt(-3), "ABCDE");
  EXPECT_EQ(NumberAt(-1), 1);
  auto* c = reinterpret_cast<vlConnection*>(gConnectionList);
  EXPECT_EQ(c->socket->buffer.last - c->socket->buffer.first, 3u);
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 1, {3}); }), 3);
  done = true;
  EXPECT_EQ(StringAt(-3), "FGH");
  EXPECT_EQ(c->socket->buffer.first, 0u);
  EXPECT_EQ(c->socket->buffer.last, 0u);
}

TEST_F(NetworkTest, ReceiveDataRefusesBadModesAndCounts) {
  Peer peer([](int fd, int) { nettest::ReadToClose(fd); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  EXPECT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 3, {}); }), ERR_WRONGUSAGE);
  EXPECT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 1, {0}); }), ERR_WRONGUSAGE);
  EXPECT_EQ(Cmd(CmdReceiveData, [&] {
              ReceiveArgs(L, 1, 2, {});
              vl::PushNumber(L, 5);  // not a function
            }),
            ERR_FUNCEXPECTED);
}

// Receive callbacks record what they were given.
std::vector<std::string> gPieces;
std::vector<double> gTotals;
std::string gUserdata;
double gCallbackResult = 0;

int RecordingCallback(vlVMState* L) {
  vl::PushString(L, "data");
  vl::RawGetTableValue(L, 1);
  gPieces.emplace_back(vl::ToStringAt(L, -1), vl::GetStringLengthAt(L, -1));
  vl::PushString(L, "total");
  vl::RawGetTableValue(L, 1);
  gTotals.push_back(vl::ToNumberAt(L, -1));
  vl::PushString(L, "userdata");
  vl::RawGetTableValue(L, 1);
  if (vl::GetTypeAt(L, -1) == VL_TSTRING) gUserdata = vl::ToStringAt(L, -1);
  vl::PushNumber(L, gCallbackResult);
  return 1;
}

int SilentCallback(vlVMState*) { return 0; }

// Records the piece, then closes the connection being read (id 1).
int ClosingCallback(vlVMState* L) {
  RecordingCallback(L);
  vl::SetStackTop(L, 0);
  vl::PushNumber(L, 1);
  CmdCloseConnection(L);
  vl::SetStackTop(L, 0);
  vl::PushNumber(L, 0);
  return 1;
}

// A callback that closes its own connection ends the receive; the closed
// record is never read again (the sanitizer build tells).
TEST_F(NetworkTest, ACallbackMayCloseItsOwnConnection) {
  for (int mode : {0, 1, 2}) {
    Peer peer([](int fd, int) { nettest::WriteAll(fd, "abc\ndef\n"); });
    ASSERT_EQ(Open(1, peer.port()), 0);
    peer.Join();
    gPieces.clear();
    ASSERT_EQ(Cmd(CmdReceiveData, [&] {
                if (mode == 2) ReceiveArgs(L, 1, mode, {});
                else ReceiveArgs(L, 1, mode, {mode == 1 ? 8.0 : 1.0});
                vl::PushNativeClosure(L, ClosingCallback, 0);
              }),
              3)
        << mode;
    EXPECT_EQ(gPieces.size(), 1u) << mode;
    EXPECT_EQ(gConnectionList, nullptr) << mode;
  }
}

TEST_F(NetworkTest, ReceiveCallbacksGetEachPieceWithRunningTotals) {
  Peer peer([](int fd, int) { nettest::WriteAll(fd, "hello"); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  gPieces.clear();
  ASSERT_EQ(Cmd(CmdReceiveData, [&] {
              ReceiveArgs(L, 1, 1, {5});
              vl::PushNativeClosure(L, RecordingCallback, 0);
              vl::PushString(L, "mine");
            }),
            3);
  EXPECT_EQ(StringAt(-3), "");
  EXPECT_EQ(NumberAt(-2), 5);
  std::string joined;
  for (auto& p : gPieces) joined += p;
  EXPECT_EQ(joined, "hello");
  EXPECT_EQ(gTotals.back(), 5);
  EXPECT_EQ(gUserdata, "mine");
}

TEST_F(NetworkTest, LineCallbacksGetOneCharacterAtATime) {
  Peer peer([](int fd, int) { nettest::WriteAll(fd, "ok\r\n"); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  gPieces.clear();
  gTotals.clear();
  ASSERT_EQ(Cmd(CmdReceiveData, [&] {
              ReceiveArgs(L, 1, 2, {});
              vl::PushNativeClosure(L, RecordingCallback, 0);
            }),
            3);
  EXPECT_EQ(gPieces, (std::vector<std::string>{"o", "k"}));
  EXPECT_EQ(gTotals, (std::vector<double>{1, 2}));
}

TEST_F(NetworkTest, CallbacksThatReturnNothingOrOneEndTheReceive) {
  Peer peer([](int fd, int) { nettest::WriteAll(fd, "abcdefgh"); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  EXPECT_EQ(Cmd(CmdReceiveData, [&] {
              ReceiveArgs(L, 1, 1, {2});
              vl::PushNativeClosure(L, SilentCallback, 0);
            }),
            ERR_NUMCALLBACK);
  gCallbackResult = 1;
  EXPECT_EQ(Cmd(CmdReceiveData, [&] {
              ReceiveArgs(L, 1, 1, {2});
              vl::PushNativeClosure(L, RecordingCallback, 0);
            }),
            ERR_USERABORT);
  gCallbackResult = 0;
}

TEST_F(NetworkTest, WithATimeOutOfZeroAReceiveWaitsForLateData) {
  Peer peer([](int fd, int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    nettest::WriteAll(fd, "late\n");
    nettest::ReadToClose(fd);
  });
  ASSERT_EQ(Open(1, peer.port()), 0);
  EXPECT_EQ(Cmd(CmdSetNetworkTimeout, [&] { vl::PushNumber(L, 0); }), 0);
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 2, {}); }), 3);
  EXPECT_EQ(StringAt(-3), "late");
  EXPECT_EQ(Cmd(CmdSetNetworkTimeout, [&] { vl::PushNumber(L, -1); }), ERR_WRONGUSAGE);
  EXPECT_EQ(Cmd(CmdCloseConnection, [&] { vl::PushNumber(L, 1); }), 0);
}

// An input back end that asks to quit on its third call.
int gPumpCalls = 0;
int QuitSoon(vlVMState*, int* error) {
  *error = 0;
  if (++gPumpCalls >= 3) RequestQuit();
  return QuitRequested();
}

TEST_F(NetworkTest, AQuitRequestEndsAWaitingReceive) {
  volatile int quit = 0;
  BindQuitFlag(&quit);
  vlInputBackend saved = gInputBackend;
  gInputBackend.handleInput = QuitSoon;
  Peer peer([](int fd, int) { nettest::ReadToClose(fd); });
  ASSERT_EQ(Open(1, peer.port()), 0);
  gPumpCalls = 0;
  double start = GetTimeSeconds();
  ASSERT_EQ(Cmd(CmdReceiveData, [&] { ReceiveArgs(L, 1, 2, {}); }), 3);
  EXPECT_LT(GetTimeSeconds() - start, 5.0);
  EXPECT_EQ(NumberAt(-1), 0);
  gInputBackend = saved;
  BindQuitFlag(nullptr);
}

TEST_F(NetworkTest, ServersOnPortZeroReportTheChosenPortAndAcceptClients) {
  ASSERT_EQ(Cmd(CmdCreateServer, [&] {
              vl::PushNumber(L, 3);
              vl::PushNumber(L, 0);
              vl::PushString(L, "127.0.0.1");
            }),
            0);
  ASSERT_EQ(Cmd(CmdGetLocalPort, [&] {
              vl::PushNumber(L, 3);
              vl::PushNumber(L, 115);
            }),
            1);
  int port = static_cast<int>(NumberAt(-1));
  ASSERT_GT(port, 0);
  ASSERT_EQ(Cmd(CmdGetLocalIP, [&] {
              vl::PushNumber(L, 3);
              vl::PushNumber(L, 115);
            }),
            1);
  EXPECT_EQ(StringAt(-1), "127.0.0.1");
  int client = nettest::ConnectLoopback(port);
  EXPECT_GE(client, 0);
  close(client);
  EXPECT_EQ(Cmd(CmdCloseServer, [&] { vl::PushNumber(L, 3); }), 0);
  EXPECT_EQ(Cmd(CmdCloseServer, [&] { vl::PushNumber(L, 3); }), 1412);
}

TEST_F(NetworkTest, AServerOnABusyPortFailsWithTheSystemText) {
  int port = 0;
  int busy = nettest::ListenLoopback(&port);
  EXPECT_EQ(Cmd(CmdCreateServer, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, port);
              vl::PushString(L, "127.0.0.1");
            }),
            1410);
  EXPECT_STREQ(GetErrorArgument(), std::strerror(EADDRINUSE));
  EXPECT_EQ(gServerList, nullptr);
  EXPECT_EQ(Cmd(CmdCreateServer, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 70000);
            }),
            ERR_WRONGUSAGE);
  close(busy);
}

TEST_F(NetworkTest, PeerAndLocalAddressesOfAConnection) {
  int peerPort = 0;
  Peer peer([](int fd, int) { nettest::ReadToClose(fd); });
  peerPort = peer.port();
  ASSERT_EQ(Open(1, peerPort), 0);
  ASSERT_EQ(Cmd(CmdGetConnectionIP, [&] { vl::PushNumber(L, 1); }), 1);
  EXPECT_EQ(StringAt(-1), "127.0.0.1");
  ASSERT_EQ(Cmd(CmdGetConnectionPort, [&] { vl::PushNumber(L, 1); }), 1);
  EXPECT_EQ(NumberAt(-1), peerPort);
  ASSERT_EQ(Cmd(CmdGetLocalPort, [&] { vl::PushNumber(L, 1); }), 1);
  int local = static_cast<int>(NumberAt(-1));
  auto* c = reinterpret_cast<vlConnection*>(gConnectionList);
  sockaddr_in a{};
  socklen_t n = sizeof a;
  getsockname(c->socket->descriptor, reinterpret_cast<sockaddr*>(&a), &n);
  EXPECT_EQ(local, ntohs(a.sin_port));
  EXPECT_EQ(Cmd(CmdGetLocalPort, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 117);
            }),
            1429);
}

TEST_F(NetworkTest, NameLookUpsGiveTheAddressTheNameAndTheHostTable) {
  ASSERT_EQ(Cmd(CmdToIP, [&] { vl::PushString(L, "localhost"); }), 2);
  EXPECT_EQ(StringAt(-2), "127.0.0.1");
  vl::PushString(L, "ip");
  vl::RawGetTableValue(L, -2);
  vl::RawGetTableIndex(L, -1, 1);
  EXPECT_EQ(StringAt(-1), "127.0.0.1");
  vl::SetStackTop(L, 3);  // the argument and the two results
  vl::PushString(L, "name");
  vl::RawGetTableValue(L, -2);
  EXPECT_FALSE(StringAt(-1).empty());
  ASSERT_EQ(Cmd(CmdToHostName, [&] { vl::PushString(L, "127.0.0.1"); }), 2);
  EXPECT_FALSE(StringAt(-2).empty());
  EXPECT_EQ(Cmd(CmdToIP, [&] { vl::PushString(L, "no-such-host.invalid"); }), 1410);
  EXPECT_GT(std::strlen(GetErrorArgument()), 0u);
  ASSERT_EQ(Cmd(CmdGetHostName), 1);
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  EXPECT_EQ(StringAt(-1), name);
}

TEST_F(NetworkTest, IsOnlineAnswersABooleanWithoutRaising) {
  gNetworkTimeout = 300;
  ASSERT_EQ(Cmd(CmdIsOnline), 1);
  EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TBOOLEAN);
  EXPECT_EQ(gConnectionList, nullptr);
}

}  // namespace

namespace {

// A listener whose queue is full leaves further connects pending.
int FullListener(int* port, std::vector<int>* fillers) {
  int fd = nettest::ListenLoopback(port);
  listen(fd, 0);
  for (int i = 0; i < 3; ++i) {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(*port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers->push_back(c);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fd;
}

TEST_F(NetworkTest, AConnectThatDoesNotCompleteGivesUpAfterTheTimeOut) {
  int port = 0;
  std::vector<int> fillers;
  int listener = FullListener(&port, &fillers);
  gNetworkTimeout = 200;
  double start = GetTimeSeconds();
  EXPECT_EQ(Open(1, port), 1410);
  double elapsed = GetTimeSeconds() - start;
  EXPECT_STREQ(GetErrorArgument(), "timeout");
  EXPECT_GE(elapsed, 0.2);
  EXPECT_LT(elapsed, 5.0);
  // A time-out of 0 gives up after the first quiet wait.
  gNetworkTimeout = 0;
  start = GetTimeSeconds();
  EXPECT_EQ(Open(2, port), 1410);
  EXPECT_LT(GetTimeSeconds() - start, 1.0);
  EXPECT_EQ(gConnectionList, nullptr);
  for (int fd : fillers) close(fd);
  close(listener);
}

}  // namespace

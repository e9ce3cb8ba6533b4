// The socket layer on its own: result texts, time-out records, waits that
// do not wait, calls on closed records and refused connects.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "libraries/network/socket.h"
#include "runtime/os.h"
#include "tests/libraries/network/network_test_util.h"

namespace {

TEST(SocketLayer, ResultTexts) {
  EXPECT_STREQ(GetIOErrorText(-1), "timeout");
  EXPECT_STREQ(GetIOErrorText(-2), "closed");
  EXPECT_STREQ(GetIOErrorText(-3), "unknown error");
  EXPECT_STREQ(GetIOErrorText(5), "unknown error");
  EXPECT_EQ(GetIOErrorText(0), nullptr);
  EXPECT_STREQ(GetSocketErrorText(ECONNREFUSED), std::strerror(ECONNREFUSED));
  EXPECT_STREQ(GetSocketErrorText(-2), "closed");
  EXPECT_STREQ(GetHostErrorText(-1), "timeout");
}

TEST(SocketLayer, TimeOutRecordsAndElapsedTimes) {
  vlSocketTimeout t{-1, -1, GetTimeSeconds()};
  EXPECT_EQ(GetTimeoutRetry(&t), -1);
  t = {-1, 5, GetTimeSeconds() - 2};
  EXPECT_NEAR(GetTimeoutRetry(&t), 3, 0.5);
  t = {-1, 1, GetTimeSeconds() - 2};
  EXPECT_EQ(GetTimeoutRetry(&t), 0);
  t = {4, -1, GetTimeSeconds() - 1};
  EXPECT_NEAR(GetTimeoutRetry(&t), 3, 0.5);
  t = {0.5, 10, GetTimeSeconds()};
  EXPECT_NEAR(GetTimeoutRetry(&t), 0.5, 0.01);
  vlTimeVal e{1, 500000};
  EXPECT_EQ(IsTimeOver(&e, 0), 0);
  EXPECT_EQ(IsTimeOver(&e, 1500), 0);
  EXPECT_EQ(IsTimeOver(&e, 1499), 1);
  EXPECT_EQ(IsTimeOver(&e, 999), 1);
  EXPECT_EQ(IsTimeOver(&e, 2000), 0);
}

TEST(SocketLayer, ZeroTimeOutsNeverWaitAndClosedRecordsAreClosed) {
  vlSocket* s = nullptr;
  ASSERT_EQ(NewTCPSocket(&s), 0);
  int port = 0;
  int listener = nettest::ListenLoopback(&port);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int pump = 0;
  ASSERT_EQ(ConnectWithEvents(nullptr, s, reinterpret_cast<sockaddr*>(&a), sizeof a, 5000, &pump), 0);
  s->timeout.block = s->timeout.total = 0;
  char buffer[16];
  size_t got = 99;
  double start = GetTimeSeconds();
  EXPECT_EQ(ReceiveBytes(s, buffer, sizeof buffer, &got, &s->timeout), -1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(PeekSocket(&s->descriptor, &s->timeout, 0), -1);
  EXPECT_LT(GetTimeSeconds() - start, 0.5);
  // A wait with a limit gives up after it.
  s->timeout = {0.1, -1, GetTimeSeconds()};
  EXPECT_EQ(ReceiveBytes(s, buffer, sizeof buffer, &got, &s->timeout), -1);
  EXPECT_GE(GetTimeSeconds() - start, 0.09);
  CloseSocket(&s->descriptor);
  EXPECT_EQ(s->descriptor, -1);
  size_t sent = 99;
  EXPECT_EQ(SendBytes(s, "x", 1, &sent, &s->timeout), -2);
  EXPECT_EQ(sent, 0u);
  EXPECT_EQ(ReceiveBytes(s, buffer, 1, &got, &s->timeout), -2);
  FreeSocket(s);
  close(listener);
}

TEST(SocketLayer, ARefusedConnectGivesItsErrno) {
  vlSocket* s = nullptr;
  ASSERT_EQ(NewTCPSocket(&s), 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(nettest::UnusedPort()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int pump = 0;
  EXPECT_EQ(ConnectWithEvents(nullptr, s, reinterpret_cast<sockaddr*>(&a), sizeof a, 5000, &pump), ECONNREFUSED);
  FreeSocket(s);
}

TEST(SocketLayer, LookUpsOfMissingNamesGiveTheResolverCode) {
  hostent* entry = nullptr;
  int r = ResolveHostName("no-such-host.invalid", &entry);
  EXPECT_NE(r, 0);
  EXPECT_EQ(entry, nullptr);
  EXPECT_NE(GetHostErrorText(r), nullptr);
  EXPECT_EQ(ResolveHostName("localhost", &entry), 0);
}

}  // namespace

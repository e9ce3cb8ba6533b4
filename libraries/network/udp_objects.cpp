// UDP objects: bound non-blocking datagram sockets that send to dotted
// IPv4 addresses and read one waiting datagram per call. Depends on the
// socket layer and the library's object lists.
#include <arpa/inet.h>
#include <sys/socket.h>

#include "libraries/network/network_commands.h"
#include "libraries/network/network_library.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr double kMaxDatagram = sizeof(vlUDPSocket::datagram);

// The 1410 of a datagram call's result.
int DatagramError(int result) {
  SetErrorArgument(result == VL_IO_CLOSED ? "connection refused" : GetSocketErrorText(result));
  return kErrNetwork;
}

}  // namespace

void FreeUDPSocket(vlUDPSocket* socket) {
  if (!socket) return;
  CloseSocket(&socket->descriptor);
  FreeMemory(socket);
}

int CmdCreateUDPObject(vlVMState* state) {
  CheckArgs(state, 1, 3, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, state, 1) != 0;
  int64_t port = vl::DoubleToInt64(vl::OptNumberArg(state, 2, 0));
  const char* address = vl::OptStringArg(state, 3, "*", nullptr);
  if (int r = StartSocketLayer()) return r;
  if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
  if (!automatic) RemoveUDPObject(state, id);
  auto* u = static_cast<vlUDPSocket*>(AllocMemory(sizeof(vlUDPSocket), 1));
  if (!u) return ERR_MEM;
  if (int r = CreateSocket(&u->descriptor, AF_INET, SOCK_DGRAM, 0)) {
    FreeMemory(u);
    SetErrorArgument(GetSocketErrorText(r));
    return kErrNetwork;
  }
  SetNonBlocking(&u->descriptor);
  u->timeout.block = u->timeout.total = -1;
  int lookupFailed = 0;
  if (int r = BindSocket(&u->descriptor, address, static_cast<int>(port), &lookupFailed)) {
    FreeUDPSocket(u);
    SetErrorArgument(lookupFailed ? GetHostErrorText(r) : GetSocketErrorText(r));
    return kErrNetwork;
  }
  if (int r = AddUDPObject(&id, u)) {
    FreeUDPSocket(u);
    return r;
  }
  if (!automatic) return 0;
  PushObjectID(state, id);
  return 1;
}

int CmdCloseUDPObject(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  return RemoveUDPObject(state, id);
}

int CmdSendUDPData(vlVMState* state) {
  CheckArgs(state, 4, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  size_t length = 0;
  const char* data = vl::CheckStringArg(state, 2, &length);
  const char* ip = vl::CheckStringArg(state, 3, nullptr);
  int64_t port = vl::DoubleToInt64(vl::CheckNumberArg(state, 4));
  if (port < 1 || port > 65535 || length == 0) return ERR_WRONGUSAGE;
  vlUDPObject* u;
  if (int r = FindUDPObject(id, &u)) return r;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (!inet_aton(ip, &to.sin_addr)) return kErrBadIP;
  SetTimeoutStart(&u->socket->timeout);
  size_t sent = 0;
  int r = SendDatagram(&u->socket->descriptor, data, length, &sent, reinterpret_cast<sockaddr*>(&to), sizeof to,
                       &u->socket->timeout);
  if (r) return DatagramError(r);
  vl::PushNumber(state, static_cast<double>(sent));
  return 1;
}

int CmdReceiveUDPData(vlVMState* state) {
  CheckArgs(state, 1, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  double maximum = vl::OptNumberArg(state, 2, kMaxDatagram);
  vlUDPObject* u;
  if (int r = FindUDPObject(id, &u)) return r;
  // A read length must be positive; larger wishes get one buffer's worth.
  int64_t wanted = vl::DoubleToInt64(maximum);
  if (wanted < 1) return ERR_WRONGUSAGE;
  if (wanted > static_cast<int64_t>(kMaxDatagram)) wanted = static_cast<int64_t>(kMaxDatagram);
  vlUDPSocket* s = u->socket;
  SetTimeoutStart(&s->timeout);
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  size_t received = 0;
  int r = ReceiveDatagram(&s->descriptor, s->datagram, static_cast<size_t>(wanted), &received,
                          reinterpret_cast<sockaddr*>(&from), &fromLength, &s->timeout);
  // The reported datagram (or pending error) is taken either way, so the
  // next one may be reported again.
  u->dataReported = 0;
  if (r == VL_IO_TIMEOUT) {
    vl::PushString(state, "");
    vl::PushString(state, "");
    vl::PushNumber(state, 0);
    return 3;
  }
  if (r) return DatagramError(r);
  vl::PushBytes(state, reinterpret_cast<const char*>(s->datagram), received);
  char text[INET_ADDRSTRLEN];
  vl::PushString(state, inet_ntop(AF_INET, &from.sin_addr, text, sizeof text) ? text : "");
  vl::PushNumber(state, ntohs(from.sin_port));
  return 3;
}

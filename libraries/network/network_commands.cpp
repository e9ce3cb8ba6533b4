// The network commands on connections and servers, name and address
// look-ups, the time-out setting and the reachability probe. Depends on the
// library's objects, the socket layer, the engines and the resolver.
#include "libraries/network/network_commands.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "libraries/network/connection_io.h"
#include "libraries/network/network_library.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// The probe of IsOnline: a web server that is always there.
constexpr char kProbeHost[] = "www.example.com";
constexpr int kProbePort = 80;

constexpr int kTypeArgUDP = 117;
constexpr int kTypeArgConnection = 99;

// A port argument truncated toward zero; -1 when absent and optional.
int64_t PortArg(vlVMState* state, int index, double def) {
  return vl::DoubleToInt64(vl::OptNumberArg(state, index, def));
}

void PushDotted(vlVMState* state, in_addr address) {
  char text[INET_ADDRSTRLEN];
  vl::PushString(state, inet_ntop(AF_INET, &address, text, sizeof text) ? text : "");
}

// The descriptor of the object that GetLocalIP/GetLocalPort name; 0 or an
// error code.
int LocalDescriptor(vlObjectId id, int type, int32_t* descriptor) {
  if (type == kTypeArgUDP) {
    vlUDPObject* u;
    if (int r = FindUDPObject(id, &u)) return r;
    *descriptor = u->socket->descriptor;
  } else if (type == kTypeArgConnection) {
    vlConnection* c;
    if (int r = FindConnection(id, &c)) return r;
    *descriptor = c->socket->descriptor;
  } else {
    vlServer* s;
    if (int r = FindServer(id, &s)) return r;
    *descriptor = s->socket->descriptor;
  }
  return 0;
}

int GetLocalAddress(vlVMState* state, bool port) {
  CheckArgs(state, 1, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  int type = vl::OptIntArg(state, 2, kTypeArgConnection);
  int32_t descriptor;
  if (int r = LocalDescriptor(id, type, &descriptor)) return r;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) < 0) return kErrSocketName;
  if (port)
    vl::PushNumber(state, ntohs(address.sin_port));
  else
    PushDotted(state, address.sin_addr);
  return 1;
}

int GetPeerAddress(vlVMState* state, bool port) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  vlConnection* c;
  if (int r = FindConnection(id, &c)) return r;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getpeername(c->socket->descriptor, reinterpret_cast<sockaddr*>(&address), &length) < 0) return kErrPeerName;
  if (port)
    vl::PushNumber(state, ntohs(address.sin_port));
  else
    PushDotted(state, address.sin_addr);
  return 1;
}

// A dotted address is looked up in reverse, anything else by name.
int LookUpHost(const char* host, hostent** entry) {
  in_addr address;
  int r = inet_aton(host, &address) ? ResolveHostAddress(&address, entry) : ResolveHostName(host, entry);
  if (r) {
    SetErrorArgument(GetHostErrorText(r));
    return kErrNetwork;
  }
  return 0;
}

// {"name", "alias" = {names...}, "ip" = {dotted...}}, lists from key 1.
void PushHostEntryTable(vlVMState* state, const hostent* entry) {
  vl::PushNewTable(state);
  SetTableString(state, "name", entry->h_name ? entry->h_name : "");
  vl::PushString(state, "alias");
  vl::PushNewTable(state);
  for (int i = 0; entry->h_aliases && entry->h_aliases[i]; ++i) {
    vl::PushString(state, entry->h_aliases[i]);
    vl::RawSetTableIndex(state, -2, i + 1);
  }
  vl::RawSetTableValue(state, -3);
  vl::PushString(state, "ip");
  vl::PushNewTable(state);
  for (int i = 0; entry->h_addr_list && entry->h_addr_list[i]; ++i) {
    in_addr address;
    std::memcpy(&address, entry->h_addr_list[i], sizeof address);
    PushDotted(state, address);
    vl::RawSetTableIndex(state, -2, i + 1);
  }
  vl::RawSetTableValue(state, -3);
}

int HostCommand(vlVMState* state, bool wantName) {
  CheckArgs(state, 1, 1, 0, 0);
  const char* host = vl::CheckStringArg(state, 1, nullptr);
  if (int r = StartSocketLayer()) return r;
  hostent* entry;
  if (int r = LookUpHost(host, &entry)) return r;
  if (wantName) {
    vl::PushString(state, entry->h_name ? entry->h_name : "");
  } else {
    in_addr address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    PushDotted(state, address);
  }
  PushHostEntryTable(state, entry);
  return 2;
}

}  // namespace

int CmdOpenConnection(vlVMState* state) {
  CheckArgs(state, 3, 3, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, state, 1) != 0;
  const char* host = vl::CheckStringArg(state, 2, nullptr);
  int64_t port = vl::DoubleToInt64(vl::CheckNumberArg(state, 3));
  if (int r = StartSocketLayer()) return r;
  if (port < 1 || port > 65535) return ERR_WRONGUSAGE;
  if (!automatic) RemoveConnection(state, id);
  if (int r = OpenTCPConnection(state, &id, host, static_cast<int>(port), nullptr)) return r;
  if (!automatic) return 0;
  PushObjectID(state, id);
  return 1;
}

int CmdCloseConnection(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  return RemoveConnection(state, id);
}

int CmdCreateServer(vlVMState* state) {
  CheckArgs(state, 1, 4, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, state, 1) != 0;
  int64_t port = PortArg(state, 2, 0);
  const char* address = vl::OptStringArg(state, 3, "*", nullptr);
  int backlog = vl::OptIntArg(state, 4, 32);
  if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
  if (int r = StartSocketLayer()) return r;
  if (!automatic) RemoveServer(state, id);
  vlSocket* s;
  if (int r = NewTCPSocket(&s)) return r;
  int one = 1;
  if (setsockopt(s->descriptor, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) {
    FreeSocket(s);
    return kErrSocketOptions;
  }
  int lookupFailed = 0;
  if (int r = BindSocket(&s->descriptor, address, static_cast<int>(port), &lookupFailed)) {
    FreeSocket(s);
    SetErrorArgument(lookupFailed ? GetHostErrorText(r) : GetSocketErrorText(r));
    return kErrNetwork;
  }
  if (int r = ListenSocket(&s->descriptor, backlog)) {
    FreeSocket(s);
    SetErrorArgument(GetSocketErrorText(r));
    return kErrNetwork;
  }
  if (int r = AddServer(&id, s)) {
    FreeSocket(s);
    return r;
  }
  if (!automatic) return 0;
  PushObjectID(state, id);
  return 1;
}

int CmdCloseServer(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  return RemoveServer(state, id);
}

int CmdSendData(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  size_t length = 0;
  const char* data = vl::CheckStringArg(state, 2, &length);
  vlConnection* c;
  if (int r = FindConnection(id, &c)) return r;
  size_t sent = 0;
  int callbackResult = 0;
  // Send failures show as a short count; an error of the event pump (a
  // callback that failed while the send waited) is not the send's to hide.
  int r = SendWithEvents(state, c, data, length, &sent, &callbackResult);
  if (r >= ERR_FIRST) return r;
  vl::PushNumber(state, static_cast<double>(sent));
  return 1;
}

int CmdReceiveData(vlVMState* state) {
  CheckArgs(state, 2, 5, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  int mode = vl::CheckIntArg(state, 2);
  int64_t count = 0;
  int wait = 1;
  int callbackIndex;
  switch (mode) {
    case VL_RECEIVE_ALL:
      wait = vl::OptIntArg(state, 3, 1);
      callbackIndex = 4;
      break;
    case VL_RECEIVE_BYTES:
      count = vl::DoubleToInt64(vl::CheckNumberArg(state, 3));
      if (count < 1) return ERR_WRONGUSAGE;
      callbackIndex = 4;
      break;
    case VL_RECEIVE_LINE:
      callbackIndex = 3;
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  vlReceiveCallback callback{0, 0};
  int top = vl::GetStackTop(state);
  if (top >= callbackIndex && vl::GetTypeAt(state, callbackIndex) != VL_TNIL) {
    vl::CheckFunctionArg(state, callbackIndex);
    callback.function = callbackIndex;
    if (top > callbackIndex) callback.userdata = callbackIndex + 1;
  }
  vlConnection* c;
  if (int r = FindConnection(id, &c)) return r;
  return ReceiveFromConnection(state, c, mode, count, wait, nullptr, nullptr, nullptr, nullptr, nullptr,
                               callback.function ? &callback : nullptr);
}

int CmdGetConnectionIP(vlVMState* state) { return GetPeerAddress(state, false); }
int CmdGetConnectionPort(vlVMState* state) { return GetPeerAddress(state, true); }

int CmdGetHostName(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  if (int r = StartSocketLayer()) return r;
  char name[256];
  if (gethostname(name, sizeof name) < 0) return kErrHostName;
  name[sizeof name - 1] = 0;
  vl::PushString(state, name);
  return 1;
}

int CmdToIP(vlVMState* state) { return HostCommand(state, false); }
int CmdToHostName(vlVMState* state) { return HostCommand(state, true); }

int CmdSetNetworkTimeout(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  int64_t millis = vl::DoubleToInt64(vl::CheckNumberArg(state, 1));
  if (millis < 0 || millis > INT32_MAX) return ERR_WRONGUSAGE;
  gNetworkTimeout = static_cast<int32_t>(millis);
  return 0;
}

int CmdGetLocalIP(vlVMState* state) { return GetLocalAddress(state, false); }
int CmdGetLocalPort(vlVMState* state) { return GetLocalAddress(state, true); }

int CmdIsOnline(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  if (StartSocketLayer()) {
    vl::PushBoolean(state, 0);
    return 1;
  }
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  vlConnection* c = nullptr;
  int r = OpenTCPConnection(state, &id, kProbeHost, kProbePort, &c);
  if (r == 0) RemoveConnectionRecord(state, c);
  vl::PushBoolean(state, r == 0);
  return 1;
}

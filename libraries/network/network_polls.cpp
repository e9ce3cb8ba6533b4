// The network event polls: a waiting datagram, a waiting client, waiting
// data and a closed peer. They never wait (zero time-outs) and set the
// reported flags that make each event fire once. Depends on the socket
// layer and the library's lists.
#include "libraries/network/network_polls.h"

#include <sys/socket.h>

#include "libraries/network/network_library.h"
#include "runtime/os.h"

namespace {

vlConnection* AsConnection(vlObjectNode* node) { return reinterpret_cast<vlConnection*>(node); }

}  // namespace

int PollUDPData(vlObjectNode* node) {
  auto* u = reinterpret_cast<vlUDPObject*>(node);
  if (u->dataReported) return 0;
  vlSocketTimeout now{0, 0, GetTimeSeconds()};
  if (PeekSocket(&u->socket->descriptor, &now, 1) != 0) return 0;
  u->dataReported = 1;
  return 1;
}

int PollReceivedData(vlObjectNode* node) {
  vlConnection* c = AsConnection(node);
  if (c->dataReported || c->closedReported) return 0;
  vlSocket* s = c->socket;
  if (s->buffer.first < s->buffer.last) {
    c->dataReported = 1;
    return 1;
  }
  SetTimeoutStart(&s->timeout);
  if (PeekSocket(&s->descriptor, &s->timeout, 0) != 0) return 0;
  c->dataReported = 1;
  return 1;
}

int PollDisconnect(vlObjectNode* node) {
  vlConnection* c = AsConnection(node);
  if (c->closedReported) return 0;
  vlSocket* s = c->socket;
  // Bytes still in the receive buffer are data, not yet a disconnect.
  if (s->buffer.first < s->buffer.last) return 0;
  SetTimeoutStart(&s->timeout);
  // A peer that reset the connection is gone as surely as one that closed
  // it: any error but "nothing yet" ends the connection.
  int r = PeekSocket(&s->descriptor, &s->timeout, 0);
  if (r != VL_IO_CLOSED && r <= 0) return 0;
  c->closedReported = 1;
  return 1;
}

int AcceptClient(vlObjectNode* node, vlObjectId* clientId) {
  auto* server = reinterpret_cast<vlServer*>(node);
  SetTimeoutStart(&server->socket->timeout);
  int32_t accepted = -1;
  if (AcceptSocket(&server->socket->descriptor, &accepted, nullptr, nullptr, &server->socket->timeout) != 0)
    return 0;
  auto* s = static_cast<vlSocket*>(AllocMemory(sizeof(vlSocket), 1));
  if (!s) {
    CloseSocket(&accepted);
    return 0;
  }
  s->descriptor = accepted;
  SetNonBlocking(&s->descriptor);
  InitSocketRecord(s);
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  if (AddConnection(&id, s, nullptr)) {
    FreeSocket(s);
    return 0;
  }
  *clientId = id;
  return 1;
}

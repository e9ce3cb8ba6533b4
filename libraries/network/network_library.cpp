// The network library's state and objects: the three object lists, finding,
// adding and removing connections, servers and UDP objects, the TCP connect
// every command and transfer goes through, the open routine with its
// command and constants tables, and the free-all routine of shut-down.
// Depends on the socket layer, the object registry and the dispatcher.
#include "libraries/network/network_library.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

#include "libraries/network/network_commands.h"
#include "libraries/network/network_polls.h"
#include "display/events/event_dispatch.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlObjectNode* gServerList = nullptr;
vlObjectNode* gConnectionList = nullptr;
vlObjectNode* gUDPList = nullptr;
int32_t gNetworkTimeout = 10000;

namespace {

uint32_t gStarted = 0;

const vlCommand kNetworkCommands[] = {
    {"OpenConnection", CmdOpenConnection},
    {"CloseConnection", CmdCloseConnection},
    {"CreateServer", CmdCreateServer},
    {"CloseServer", CmdCloseServer},
    {"SendData", CmdSendData},
    {"ReceiveData", CmdReceiveData},
    {"GetConnectionIP", CmdGetConnectionIP},
    {"GetConnectionPort", CmdGetConnectionPort},
    {"GetHostName", CmdGetHostName},
    {"ToIP", CmdToIP},
    {"ToHostName", CmdToHostName},
    {"DownloadFile", CmdDownloadFile},
    {"UploadFile", CmdUploadFile},
    {"SetNetworkTimeout", CmdSetNetworkTimeout},
    {"GetLocalIP", CmdGetLocalIP},
    {"GetLocalPort", CmdGetLocalPort},
    {"CreateUDPObject", CmdCreateUDPObject},
    {"CloseUDPObject", CmdCloseUDPObject},
    {"SendUDPData", CmdSendUDPData},
    {"ReceiveUDPData", CmdReceiveUDPData},
    {"IsOnline", CmdIsOnline},
    {nullptr, nullptr},
};

const vlConstant kNetworkConstants[] = {
    {"RECEIVEALL", nullptr, 0},
    {"RECEIVEBYTES", nullptr, 1},
    {"RECEIVELINE", nullptr, 2},
    {"FTPASCII", nullptr, 97},
    {"FTPBINARY", nullptr, 105},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_RESPONSE", nullptr, 1},
    {"NETWORKCONNECTION", nullptr, 99},
    {"NETWORKSERVER", nullptr, 115},
    {"NETWORKUDP", nullptr, 117},
    {"RECEIVEDATA_PACKET", nullptr, 0},
    {nullptr, nullptr, 0},
};

const vlNetworkPolls kPolls = {
    &gServerList,    &gConnectionList, &gUDPList,      PollUDPData,
    AcceptClient,    PollReceivedData, PollDisconnect,
};

// Making and finding a network object must not walk every one there is.
vlObjectIndex gServerIndex;
vlObjectIndex gConnectionIndex;
vlObjectIndex gUDPIndex;

vlObjectIndex& IndexOf(vlObjectNode* const* list) {
  return list == &gServerList ? gServerIndex : list == &gConnectionList ? gConnectionIndex : gUDPIndex;
}

vlObjectNode* FindNode(vlObjectNode* const* list, vlObjectId id) { return IndexOf(list).First(id); }

// 1041 for an automatic handle, else code with the number remembered.
int NotFound(vlObjectId id, int code) {
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return code;
}

// Unlinks node from its list, moving the dispatcher's cursor past it.
void Unlink(vlObjectNode** list, vlObjectNode* node, vlObjectNode** cursor) {
  if (*cursor == node) *cursor = node->next;
  IndexOf(list).Unlink(list, node);
}

int Append(vlObjectNode** list, vlObjectNode* node) { return IndexOf(list).Append(list, node); }

void FreeServerRecord(vlVMState* state, vlServer* server) {
  FreeSocket(server->socket);
  if (state) FreeObjectDataList(state, &server->node.data);
  FreeMemory(server);
}

void FreeUDPRecord(vlVMState* state, vlUDPObject* object) {
  FreeUDPSocket(object->socket);
  if (state) FreeObjectDataList(state, &object->node.data);
  FreeMemory(object);
}

}  // namespace

int StartSocketLayer() {
  if (gStarted) return 0;
  if (!IgnoreSIGPIPE()) return kErrSocketLayer;
  gStarted = 1;
  return 0;
}

int FindConnection(vlObjectId id, vlConnection** out) {
  vlObjectNode* n = FindNode(&gConnectionList, id);
  if (!n) return NotFound(id, kErrNoConnection);
  *out = reinterpret_cast<vlConnection*>(n);
  return 0;
}

void RemoveConnectionRecord(vlVMState* state, vlConnection* connection) {
  Unlink(&gConnectionList, &connection->node, &gEventPumpCursors.connection);
  FreeSocket(connection->socket);
  if (state) FreeObjectDataList(state, &connection->node.data);
  FreeMemory(connection);
}

int RemoveConnection(vlVMState* state, vlObjectId id) {
  vlConnection* c;
  if (int r = FindConnection(id, &c)) return r;
  if (c->transferOwned) {
    // A callback closed the connection a transfer is using: the transfer
    // sees it closed and frees the record when it ends.
    if (c->socket->descriptor != -1) shutdown(c->socket->descriptor, SHUT_RDWR);
    return 0;
  }
  RemoveConnectionRecord(state, c);
  return 0;
}

void HoldForTransfer(vlConnection* c) {
  c->dataReported = c->closedReported = 1;
  c->transferOwned = 1;
}

int RemoveServer(vlVMState* state, vlObjectId id) {
  vlObjectNode* n = FindNode(&gServerList, id);
  if (!n) return NotFound(id, kErrNoServer);
  Unlink(&gServerList, n, &gEventPumpCursors.server);
  FreeServerRecord(state, reinterpret_cast<vlServer*>(n));
  return 0;
}

int RemoveUDPObject(vlVMState* state, vlObjectId id) {
  vlObjectNode* n = FindNode(&gUDPList, id);
  if (!n) return NotFound(id, kErrNoUDPObject);
  Unlink(&gUDPList, n, &gEventPumpCursors.udpObject);
  FreeUDPRecord(state, reinterpret_cast<vlUDPObject*>(n));
  return 0;
}

int FindServer(vlObjectId id, vlServer** out) {
  vlObjectNode* n = FindNode(&gServerList, id);
  if (!n) return NotFound(id, kErrNoServer);
  *out = reinterpret_cast<vlServer*>(n);
  return 0;
}

int FindUDPObject(vlObjectId id, vlUDPObject** out) {
  vlObjectNode* n = FindNode(&gUDPList, id);
  if (!n) return NotFound(id, kErrNoUDPObject);
  *out = reinterpret_cast<vlUDPObject*>(n);
  return 0;
}

void SetObjectIdentity(vlObjectNode* node, uint32_t type, vlObjectId* id) {
  node->type = type;
  if (id->handle) {
    // An automatic id: the record's own address is the handle.
    id->number = 0;
    id->handle = node;
  }
  node->idNumber = id->number;
  node->idHandle = id->handle;
}

int AddConnection(vlObjectId* id, vlSocket* socket, vlConnection** out) {
  auto* c = static_cast<vlConnection*>(AllocMemory(sizeof(vlConnection), 1));
  if (!c) return ERR_MEM;
  SetObjectIdentity(&c->node, kTypeConnection, id);
  c->socket = socket;
  socket->timeout.block = socket->timeout.total = 0;
  if (Append(&gConnectionList, &c->node)) {
    FreeMemory(c);
    return ERR_MEM;
  }
  if (out) *out = c;
  return 0;
}

int AddServer(vlObjectId* id, vlSocket* socket) {
  auto* s = static_cast<vlServer*>(AllocMemory(sizeof(vlServer), 1));
  if (!s) return ERR_MEM;
  SetObjectIdentity(&s->node, kTypeServer, id);
  s->socket = socket;
  socket->timeout.block = socket->timeout.total = 0;
  if (Append(&gServerList, &s->node)) {
    FreeMemory(s);
    return ERR_MEM;
  }
  return 0;
}

int AddUDPObject(vlObjectId* id, vlUDPSocket* socket) {
  auto* u = static_cast<vlUDPObject*>(AllocMemory(sizeof(vlUDPObject), 1));
  if (!u) return ERR_MEM;
  SetObjectIdentity(&u->node, kTypeUDPObject, id);
  u->socket = socket;
  socket->timeout.block = socket->timeout.total = 0;
  if (Append(&gUDPList, &u->node)) {
    FreeMemory(u);
    return ERR_MEM;
  }
  return 0;
}

int OpenTCPConnection(vlVMState* state, vlObjectId* id, const char* host, int port, vlConnection** out) {
  vlSocket* s;
  if (int r = NewTCPSocket(&s)) return r;
  SetTimeoutStart(&s->timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  int result = 0, lookupFailed = 0, pumpCode = 0;
  if (std::strcmp(host, "*") != 0 && !inet_aton(host, &address.sin_addr)) {
    hostent* entry;
    result = ResolveHostName(host, &entry);
    if (result)
      lookupFailed = 1;
    else
      std::memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
  }
  if (!lookupFailed)
    result = ConnectWithEvents(state, s, reinterpret_cast<sockaddr*>(&address), sizeof address, gNetworkTimeout,
                               &pumpCode);
  if (result == 0) {
    // A callback run while connecting may have taken the id meanwhile.
    if (!id->handle) RemoveConnection(state, *id);
    int r = AddConnection(id, s, out);
    if (r) FreeSocket(s);
    return r;
  }
  FreeSocket(s);
  if (!pumpCode) SetErrorArgument(lookupFailed ? GetHostErrorText(result) : GetSocketErrorText(result));
  if (QuitRequested()) return ERR_USERABORT;
  return pumpCode ? pumpCode : kErrNetwork;
}

int OpenNetworkLib(vlVMState* state) {
  vl::PushSlotCopy(state, vl::kGlobalsIndex);
  vl::RegisterCommands(state, nullptr, kNetworkCommands, 0);
  if (int r = RegisterLibrary(kNetworkCommands, "network")) return r;
  vl::RegisterConstants(state, kNetworkConstants, 0);
  if (int r = RegisterObjectList(&gServerList)) return r;
  if (int r = RegisterObjectList(&gConnectionList)) return r;
  if (int r = RegisterObjectList(&gUDPList)) return r;
  SetNetworkPolls(&kPolls);
  return 0;
}

void FreeNetworkObjects(vlVMState* state) {
  while (gConnectionList) RemoveConnectionRecord(state, reinterpret_cast<vlConnection*>(gConnectionList));
  while (vlObjectNode* n = gServerList) {
    gServerList = n->next;
    FreeServerRecord(state, reinterpret_cast<vlServer*>(n));
  }
  while (vlObjectNode* n = gUDPList) {
    gUDPList = n->next;
    FreeUDPRecord(state, reinterpret_cast<vlUDPObject*>(n));
  }
  gConnectionIndex.Clear();
  gServerIndex.Clear();
  gUDPIndex.Clear();
  gEventPumpCursors = {};
  if (gStarted) CloseSocketLayer();
  gStarted = 0;
}

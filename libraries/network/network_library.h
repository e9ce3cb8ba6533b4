// The network command library: TCP connections and servers, UDP objects,
// name look-ups and HTTP/FTP transfers. Its object lists, their records
// and the routines the other network files share.
#pragma once
#include <cstdint>

#include "libraries/network/socket.h"
#include "runtime/objects.h"

struct vlVMState;

// Network error codes (they have no script constant).
enum : int {
  kErrNoConnection = 1409,  // "Could not find connection %ld!"
  kErrNetwork = 1410,       // "The following network error occurred:\n%s"
  kErrSocketLayer = 1411,
  kErrNoServer = 1412,
  kErrSocketOptions = 1413,
  kErrPeerName = 1414,
  kErrHostName = 1415,
  kErrUnknownProtocol = 1416,
  kErrBadURL = 1417,
  kErrHTTP = 1418,  // "HTTP error %ld occurred!"
  kErrTransferMode = 1419,
  kErrSend = 1420,
  kErrFTP = 1421,  // "FTP error %ld occurred!"
  kErrReceiveTimeout = 1422,
  kErrRemoteClosed = 1423,
  kErrNotFoundOnServer = 1425,
  kErrAccessDenied = 1426,
  kErrNoUploadPermission = 1427,
  kErrSocketName = 1428,
  kErrNoUDPObject = 1429,
  kErrBadIP = 1430,
  kErrFileSize = 1570,
  kErrNeedAuthentication = 1572,
  kErrFieldRequired = 1573,
};

inline constexpr uint32_t kTypeConnection = 54;  // "CLIENT"
inline constexpr uint32_t kTypeServer = 55;      // "SERVER"
inline constexpr uint32_t kTypeUDPObject = 56;   // "UDPOBJECT"

// What a transfer reports to its script progress callback.
struct vlTransferProgress {
  uint32_t callback;  // 1 while the callback is called
  int64_t count;      // bytes so far
  int64_t total;      // expected bytes, 0 when unknown
  uint32_t userdata;  // 1 when the callback's table gets "userdata"
  uint32_t action;    // the "action" value
};

struct vlConnection {
  vlObjectNode node;
  vlSocket* socket;         // owned
  uint32_t dataReported;    // the receive poll reported it; ReceiveData clears it
  uint32_t closedReported;  // the disconnect poll reported it; never cleared
  vlTransferProgress progress;
  // 1 while a transfer holds the record: closing it by id only shuts its
  // socket, and the transfer, which keeps the record, ends and frees it.
  uint32_t transferOwned;
};

struct vlServer {
  vlObjectNode node;
  vlSocket* socket;  // listening, owned
};

// A datagram socket; the descriptor is the first word.
struct vlUDPSocket {
  int32_t descriptor;
  vlSocketTimeout timeout;
  uint8_t datagram[8192];  // the last datagram read
};

struct vlUDPObject {
  vlObjectNode node;
  vlUDPSocket* socket;    // owned
  uint32_t dataReported;  // the poll reported a datagram; ReceiveUDPData clears it
};

// Library state ---------------------------------------------------------------
extern vlObjectNode* gServerList;
extern vlObjectNode* gConnectionList;
extern vlObjectNode* gUDPList;
extern int32_t gNetworkTimeout;  // milliseconds; 0 never expires

// Starts the socket layer once; 0 or 1411.
int StartSocketLayer();

// Objects ---------------------------------------------------------------------
// The connection of an id: 0, or 1041 / 1409 (the number remembered).
int FindConnection(vlObjectId id, vlConnection** out);
int FindServer(vlObjectId id, vlServer** out);       // 0, 1041 or 1412
int FindUDPObject(vlObjectId id, vlUDPObject** out);  // 0, 1041 or 1429
int RemoveConnection(vlVMState* state, vlObjectId id);
int RemoveServer(vlVMState* state, vlObjectId id);
int RemoveUDPObject(vlVMState* state, vlObjectId id);
// Unlinks and frees a listed connection (socket closed, cursor moved).
void RemoveConnectionRecord(vlVMState* state, vlConnection* connection);
// Takes a connection for a transfer: no events, and a close by id does not
// free the record under the transfer.
void HoldForTransfer(vlConnection* connection);
// Appends a connection around socket; an automatic id's handle becomes the
// record. 0 or 1000 (the caller then frees the socket).
int AddConnection(vlObjectId* id, vlSocket* socket, vlConnection** out);
// Connects to host:port while pumping events; 0 or an error code.
// Appends a server or UDP object around its socket, as AddConnection.
int AddServer(vlObjectId* id, vlSocket* socket);
int AddUDPObject(vlObjectId* id, vlUDPSocket* socket);
// Type and id words of a new record; an automatic id becomes the record.
void SetObjectIdentity(vlObjectNode* node, uint32_t type, vlObjectId* id);
// Closes and frees a datagram socket record (null allowed).
void FreeUDPSocket(vlUDPSocket* socket);
int OpenTCPConnection(vlVMState* state, vlObjectId* id, const char* host, int port, vlConnection** out);

// Open and shut-down --------------------------------------------------------
int OpenNetworkLib(vlVMState* state);
void FreeNetworkObjects(vlVMState* state);

// The polls the event dispatcher runs on the network objects; each returns
// 1 when its event is due and marks the object so that it fires once.
#pragma once

#include "runtime/objects.h"

int PollUDPData(vlObjectNode* udpObject);
// Accepts one waiting client as a new connection with an automatic id.
int AcceptClient(vlObjectNode* server, vlObjectId* clientId);
int PollReceivedData(vlObjectNode* connection);
int PollDisconnect(vlObjectNode* connection);

// The script commands of the network library, in the order of its command
// table.
#pragma once

struct vlVMState;

// Connections and servers
int CmdOpenConnection(vlVMState* state);
int CmdCloseConnection(vlVMState* state);
int CmdCreateServer(vlVMState* state);
int CmdCloseServer(vlVMState* state);
int CmdSendData(vlVMState* state);
int CmdReceiveData(vlVMState* state);
int CmdGetConnectionIP(vlVMState* state);
int CmdGetConnectionPort(vlVMState* state);
// Names and addresses
int CmdGetHostName(vlVMState* state);
int CmdToIP(vlVMState* state);
int CmdToHostName(vlVMState* state);
// Transfers
int CmdDownloadFile(vlVMState* state);
int CmdUploadFile(vlVMState* state);
// Settings and local addresses
int CmdSetNetworkTimeout(vlVMState* state);
int CmdGetLocalIP(vlVMState* state);
int CmdGetLocalPort(vlVMState* state);
// UDP objects
int CmdCreateUDPObject(vlVMState* state);
int CmdCloseUDPObject(vlVMState* state);
int CmdSendUDPData(vlVMState* state);
int CmdReceiveUDPData(vlVMState* state);
// Reachability
int CmdIsOnline(vlVMState* state);

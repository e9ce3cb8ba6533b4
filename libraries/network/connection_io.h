// The receive and send loops every byte of a TCP connection passes
// through: one non-blocking attempt at a time, the event pump run between
// attempts, a 1 ms sleep when nothing moves, and the network time-out when
// nothing has moved for that long.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlVMState;
struct vlConnection;
struct vlStream;

enum : int { VL_RECEIVE_ALL = 0, VL_RECEIVE_BYTES = 1, VL_RECEIVE_LINE = 2 };

// Stack indices of a receive callback and its userdata (0: none).
struct vlReceiveCallback {
  int function;
  int userdata;
};

// Receives in mode (all, count bytes, a line) into exactly one target: a
// script string (no buffer, file or callback), the callback, a fixed buffer
// (buffer, *capacity), a growing buffer (*growable, *capacity; mode all),
// or a file. wait 0 stops as soon as nothing is waiting. Returns 3 with the
// script results pushed, else 0 or an error code; *countOut gets the bytes
// taken.
int ReceiveFromConnection(vlVMState* state, vlConnection* connection, int mode, int64_t count, int wait,
                          char* buffer, char** growable, size_t* capacity, vlStream* file, int64_t* countOut,
                          const vlReceiveCallback* callback);

// Sends length bytes; 0 or a socket-layer result (-1, -2, errno). *sent
// gets the bytes sent, *callbackResult a progress callback's stop code.
int SendWithEvents(vlVMState* state, vlConnection* connection, const void* data, size_t length, size_t* sent,
                   int* callbackResult);
// Sends everything: 0, 1003, a callback's code, 1410 or 1420.
int SendAll(vlVMState* state, vlConnection* connection, const void* data, size_t length);
// Sends the data, or with a file its contents in 8192-byte pieces, checking
// the bytes read against size (-1: the file must be at its end).
int SendFileData(vlVMState* state, vlConnection* connection, const void* data, size_t length, vlStream* file,
                 int64_t size);

// Script callbacks: 0 or a code (1190 for a result that is not a number,
// 1003 for a result of 1 or a quit request).
int CallReceiveCallback(vlVMState* state, const vlReceiveCallback* callback, const void* data, size_t length,
                        int64_t total);
// The transfer progress callback: argument 3 of the command, with argument
// 4 as its userdata when the connection's progress words ask for it.
int CallProgressCallback(vlVMState* state, vlConnection* connection);

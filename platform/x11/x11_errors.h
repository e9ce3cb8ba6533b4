// Errors the X server answers a request with (BadLength, BadWindow,
// BadAtom...): recorded and reported on standard error, never fatal. Xlib's
// default handler would end the process, so any other client (a requestor
// that vanishes, a property too large) could stop the player. The loss of
// the server itself is not handled here.
#pragma once
#include <cstdint>

struct vlX11ErrorRecord {
  uint64_t count;        // errors seen since start
  int errorCode;         // of the last one
  int requestCode;
  int minorCode;
  unsigned long serial;
};

// Installs the handler once per process.
void InstallX11ErrorHandler();
// What the handler has recorded so far.
vlX11ErrorRecord GetX11Errors();

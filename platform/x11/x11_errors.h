// Errors the X server answers a request with (BadLength, BadWindow,
// BadAtom...): recorded and reported on standard error, never fatal. Xlib's
// default handler would end the process, so any other client (a requestor
// that vanishes, a property too large) could stop the player. A lost
// server ends the player at once with one line of its own.
#pragma once
#include <cstdint>

struct vlX11ErrorRecord {
  uint64_t count;        // errors seen since start
  int errorCode;         // of the last one
  int requestCode;
  int minorCode;
  unsigned long serial;
};

// Installs the handlers; the one for errors once per process.
void InstallX11ErrorHandler();
// Installs both again over what a library put in their place: Xlib keeps
// one handler per process, and the toolkit installs its own, which ends
// the process on the first error it did not expect.
void ReclaimX11ErrorHandlers();
// What the handler has recorded so far.
vlX11ErrorRecord GetX11Errors();

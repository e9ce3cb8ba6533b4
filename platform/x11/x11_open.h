// Opening an X connection that a server dropped or refused for a moment.
// An X server resets whenever its last client leaves and drops the
// connections that arrive meanwhile; a full server refuses new ones. Both
// pass, so the attempt is made again for a bounded time. A name that
// does not parse, with no server or no such screen behind it, fails at
// once. Depends on Xlib and the sockets of the system.
#pragma once

#include <signal.h>
#include <X11/Xlib.h>

#include <string>

// Where a display name points: "[protocol/][host]:number[.screen]".
struct vlXDisplayAddress {
  std::string protocol;  // "unix", "tcp", "inet"..., or empty
  std::string host;      // empty for this machine; a path for a socket file
  long number = -1;
  long screen = 0;
};

// Reads a display name (null or "" = $DISPLAY) as Xlib does; false for
// what Xlib would not connect to: no colon, no number, the old "::" form.
bool ParseXDisplayName(const char* name, vlXDisplayAddress* out);

// XOpenDisplay (null or "" = $DISPLAY) made again while the server is
// there; null when it cannot be had.
Display* OpenXDisplay(const char* name);

// Whether a server answers at the name's address and has the screen it
// asks for: a failed connection to it may succeed when made again.
bool XServerMayAnswer(const char* name);

// While one lives, what is written to standard error goes nowhere: Xlib
// writes a server's reason for a refusal there on every attempt, and the
// user is to read it once, not once per retry. Holds a lock meanwhile, so
// two threads that retry do not mix up the saved descriptor.
class vlQuietStandardError {
 public:
  explicit vlQuietStandardError(bool quiet);
  ~vlQuietStandardError();
  vlQuietStandardError(const vlQuietStandardError&) = delete;
  vlQuietStandardError& operator=(const vlQuietStandardError&) = delete;

 private:
  int saved_ = -1;
};

// While one lives, a write to a connection the server dropped fails with
// EPIPE in this thread instead of ending the process by SIGPIPE: a server
// that resets drops connections while Xlib still sends their set-up.
class vlNoBrokenPipeSignal {
 public:
  vlNoBrokenPipeSignal();
  ~vlNoBrokenPipeSignal();
  vlNoBrokenPipeSignal(const vlNoBrokenPipeSignal&) = delete;
  vlNoBrokenPipeSignal& operator=(const vlNoBrokenPipeSignal&) = delete;

 private:
  sigset_t saved_;
  bool wasPending_ = false;
};

// Sleeps before the retry that follows attempt number `attempt` (from 0);
// false, without sleeping, when no retry is left (about 2.5 s in all).
bool PauseBeforeXRetry(int attempt);

// The format revision of the running compiled script, which some commands
// require a minimum of.
#pragma once

// Records the revision read from the container (major.minor).
void SetScriptVersion(int major, int minor);
// Forgets it: as if no container had been read.
void ClearScriptVersion();
// 1 when no container was read or its revision is at least major.minor;
// otherwise "major.minor" becomes the error argument and the result is 0.
int CheckScriptVersion(int major, int minor);

// The format revision of the running compiled script, which some commands
// require a minimum of, and the legacy switches of older scripts.
#pragma once
#include <cstdint>

// Records the revision read from the container (major.minor).
void SetScriptVersion(int major, int minor);
// Forgets it: as if no container had been read.
void ClearScriptVersion();
// 1 when no container was read or its revision is at least major.minor;
// otherwise "major.minor" becomes the error argument and the result is 0.
int CheckScriptVersion(int major, int minor);

// Legacy switches set by LegacyControl, read by the drawing and music code.
extern uint32_t vlLegacyLineBasedShapes;
extern uint32_t vlLegacySingleMusic;

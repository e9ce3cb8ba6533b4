// The signals that end a run (SIGTERM, SIGINT, SIGHUP).
#pragma once

// SIGTERM, SIGINT and SIGHUP end the run through the player's shut-down
// instead of their default action.
void CatchEndSignals();
// The signal that ended the run, or 0.
int EndSignalCaught();

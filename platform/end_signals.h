// The signals that end a run (SIGTERM, SIGINT, SIGHUP).
#pragma once

// SIGTERM, SIGINT and SIGHUP end the run through the player's shut-down
// instead of their default action (QuitSignal of the event pump tells
// which came); SIGXFSZ is ignored, so a write over the file-size limit
// fails with an error.
void CatchEndSignals();

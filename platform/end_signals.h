// The signals that end a run (SIGTERM, SIGINT, SIGHUP).
#pragma once

// SIGTERM, SIGINT and SIGHUP end the run through the player's shut-down
// before their default action (QuitSignal of the event pump tells which
// came, EndBySignal ends the process by it); SIGXFSZ is ignored, so a write over the file-size limit
// fails with an error.
void CatchEndSignals();

// Ends the process by the signal that ended the run, with its default
// action, once the shut-down is done: a parent shell then sees the signal
// (and a loop of runs stops), not an exit status. Returns only when the
// signal could not end the process.
void EndBySignal(int signal);

// In a forked child before it executes a program: the signal dispositions
// and mask the player was started with, so that a program is not left
// ignoring SIGPIPE or SIGXFSZ as the player does, nor blocking what a
// thread of the player blocked. Only async-signal-safe calls.
void RestoreInheritedSignals();

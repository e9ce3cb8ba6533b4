// Console output of the player (progress notices, banners, warnings).
#pragma once

// Set at start-up from the forced-flush switch: flush after every write.
extern bool vlConsoleForceFlush;

// printf-style output to standard output.
void PrintConsole(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "done", "failed" and "skipped" (catalog texts) on a line of their own,
// ending a progress notice; nothing while the console is quiet.
void PrintDone();
void PrintFailed();
void PrintSkipped();

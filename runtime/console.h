// Console output of the player (progress notices, banners, warnings).
#pragma once

// Set at start-up from the forced-flush switch: flush after every write.
extern bool vlConsoleForceFlush;

// printf-style output to standard output.
void PrintConsole(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends what the console holds in its buffers on: done before another
// program writes to the same output, so the two keep their order. An
// output that no longer takes text (its reader went away) loses it, and
// its error state is cleared so that later text is tried again.
void FlushConsole();

// "done", "failed" and "skipped" (catalog texts) on a line of their own,
// ending a progress notice; nothing while the console is quiet.
void PrintDone();
void PrintFailed();
void PrintSkipped();

// Set while a progress notice ("Loading brush a.png...") waits for the
// notice that ends its line; only what was really printed counts, so a
// line stays open across commands that run with the console quiet.
extern int vlProgressLineOpen;

// The one way the drawing thread blocks: sleeps, waits on descriptors (the
// X connections and the wake pipe, sockets), reads of the console and of
// streams that may have no input yet, and the wait for a program all pass
// WaitReady. Before it blocks, what was drawn but is still held in a batch
// goes to the screen, so the window never shows an old picture for as long
// as the wait lasts; a wait that finds its input ready sends nothing.
#pragma once
#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Installs the sender (null: none); the calling thread is the one that
// draws, and only its waits send.
void SetBeforeBlocking(void (*send)());

// Waits as poll() does, for at most timeoutMicros (negative: no limit);
// with no descriptors it only sleeps. Returns poll()'s result (-1 with
// errno EINTR when a signal came).
int WaitReady(pollfd* fds, size_t count, int64_t timeoutMicros);

// Whether the stream's own buffer holds input that no wait on its
// descriptor would see.
bool InputBuffered(FILE* stream);
// Waits until the stream has input to read (at once from a regular file or
// with input buffered), for at most timeoutMicros (negative: no limit).
// Signals that only wake (timers) do not end it; after EndBlockingWaits it
// ends at once. 1 when there is input (or the descriptor has an error or
// end to report), 0 when the time ran out, -1 when the waits were ended.
int WaitForInput(FILE* stream, int64_t timeoutMicros);
// Ends every wait for input now and from now on: the run is ending.
// Safe in a signal handler.
void EndBlockingWaits();
// Whether EndBlockingWaits was called: a wait made of several waits stops.
bool BlockingWaitsEnded();

// Work that waits in code the player does not own (a plug-in's own
// requester) or takes long without waiting (a large picture's decode):
// what is held goes out first, as before a wait.
void BeforeLongWork();

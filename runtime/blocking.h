// Work owed before the drawing thread waits on something outside the
// player (a program, the user, the network, a sleep, a long decode): what
// was drawn but is still held in a batch goes to the screen first, so the
// window never shows an old picture for as long as the wait lasts.
#pragma once

// Installs the sender (null: none); the calling thread is the one that
// draws, and only its waits send.
void SetBeforeBlocking(void (*send)());
// Called by every path that may block the drawing thread.
void BeforeBlocking();

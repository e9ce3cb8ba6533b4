// The temporary files and directories the process has made and not yet
// removed, for the one exit that cannot go through shut-down: the X server
// went away and the process must end at once. Any thread may add, forget or
// remove; removing calls nothing of X.
#pragma once

// Remembers a path (copied); 0, or 1000 when there is no memory for it.
int KeepForExitRemoval(const char* path);
// Forgets a remembered path (nothing happens for another one).
void ForgetExitRemoval(const char* path);
// Removes every remembered path, a directory together with the files in it,
// and forgets them.
void RemoveExitPaths();

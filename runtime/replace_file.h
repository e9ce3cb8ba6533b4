// Saving a file whole or not at all: the bytes go to a temporary file
// beside the target, which is renamed over the target only once every
// write and the close succeeded. A failed save leaves no partial file and
// never cuts the old one; a save whose process was killed leaves its
// temporary file until the next save of the same file takes it away.
// Names that are not plain files (virtual files, applet chunks, names a
// file adapter takes, devices, pipes) are written in place.
#pragma once
#include <cstdint>
#include <string>

struct vlStream;

struct vlReplacement {
  vlStream* stream = nullptr;
  std::string target;  // the file renamed over (links resolved)
  std::string temp;    // empty when written in place
};

// Opens the target for writing (mode: VL_MODE_WRITE, optionally with
// VL_MODE_ADAPTERS). 0, or ERR_WRITEFILE with the name as error argument.
int OpenReplacement(vlReplacement* r, const char* name, uint32_t mode, const char* adapterList);
// Closes the stream; with ok and a clean close the new file takes the
// target's place, otherwise the temporary file is removed. 0, ERR_WRITE
// (the close lost bytes) or ERR_WRITEFILE (the rename failed).
int FinishReplacement(vlReplacement* r, bool ok);
// FinishReplacement for a writer's outcome: the file is kept only when
// status is 0. The result is status, else the finish's own error.
int EndReplacement(vlReplacement* r, int status);

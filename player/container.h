// The compiled-script container: a plain or compressed file (or the same
// bytes appended to the program) of typed records that carry the main
// chunk, the declarations, labels, user constants, include maps, linked
// files, the first display's settings and the window icons.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/preproc.h"
#include "runtime/startup_records.h"

struct vlVMState;
struct vlStream;

// First-display settings the container gives; applied to display 1 once
// the main chunk is loaded. -1 (mode 0) when not given.
struct vlDisplayOverrides {
  int32_t mode;
  int32_t screenWidth;
  int32_t screenHeight;
  int32_t screenDepth;
  int32_t desktop;
  vlBackfillBlock backfill;  // type -1: not given
  int32_t hideTitleBar;
};
extern vlDisplayOverrides vlContainerDisplay;
void ResetDisplayOverrides();
// 1 when any first-display setting was given.
int HasDisplayOverrides();

// The container's run-time flag record (bit 0: low-resolution timer).
extern uint32_t vlContainerRuntimeFlags;

// What one walk over the records needs.
struct vlContainerContext {
  vlVMState* state;        // labels and user constants go here (may be null)
  vlStartupRecord* startup;
  vlAppletInfo* applet;
  const char* scriptPath;  // names linked chunks and include maps
  int64_t base;            // offset of the container in its file
  const char* iconPath;    // the file that holds the icon directory
  int64_t iconPosition;    // -1: the icons follow the code in this stream
  int major, minor;        // the format revision read so far
};

// Walks the records from the current position (just behind the magic)
// until the code record. 0 or an error code.
int ReadContainerRecords(vlStream* stream, vlContainerContext* context);

// Reads the container at the start-up record's script path (at the linked
// offset when one is linked) into both records and the VM. 0 or an error
// code; the registry's "script" is ":none:" afterwards.
int LoadCompiledScript(vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet);

// Frees what a read left in the applet information.
void FreeContainerData(vlAppletInfo* applet);

// Record readers (stream in, result out); 0 or an error code.
int ReadCString(vlStream* stream, std::string* out);
int ReadShortString(vlStream* stream, std::string* out);
int ReadRegionList(vlStream* stream, vlRegion* regions, uint32_t* count);
int ReadGradientRecord(vlStream* stream, vlGradientBlock* gradient);
int ReadBackfillRecord(vlStream* stream, vlBackfillBlock* backfill, int major, int minor);
int ReadMenuItems(vlStream* stream, vlMenuItem** first, int depth);

// Fills the header strings and the identifier from the records at the
// start of a container (the first 2,048 bytes, inflated when compressed),
// for the progress output before the container is read. 0 or a code.
int PreReadContainerHeader(const char* path, vlAppletInfo* applet);
// The same walk over bytes already in memory (from behind the magic).
void WalkContainerHeader(const uint8_t* bytes, size_t size, vlAppletInfo* applet);

// The reader of display attribute tables (CreateDisplay, SetDisplayAttributes,
// DisplayBGPic and the script's display declarations) with its readers for
// regions, the screen-mode keys and the backfill sub-table. It only writes
// into a display record; it never opens or redraws anything.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDisplay;
struct vlScreenModeRecord;
struct vlBackfillBlock;

// Reads the table at index into display. creation: the display is being
// made. 0 or the first error; fields set before the error keep their values.
int ParseDisplayTags(vlVMState* state, int table, vlDisplay* display, int creation, int* scaleSizeGiven,
                     int* orientationGiven);

// "mode", "scrwidth", "scrheight", "scrdepth", "desktop", then "backfill".
int ReadScreenModeKeys(vlVMState* state, int table, vlScreenModeRecord* record);
// The "backfill" sub-table of the table at index (preset first).
int ReadBackfillTable(vlVMState* state, int table, vlBackfillBlock* block);

// Name tables; -1 for an unknown name.
int32_t DisplayModeFromName(const char* name);
int32_t BackfillTypeFromName(const char* name);
const char* GetDisplayModeName(int32_t mode);
const char* GetBackfillTypeName(int32_t type);

// Clamps a display's region tables to its size (both copies).
void ClampDisplayRegions(vlDisplay* display);

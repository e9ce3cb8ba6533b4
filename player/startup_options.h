// Applying the option values of the command line and the options file to
// the run's records and to the start-up settings that later steps read.
#pragma once
#include <cstdint>

#include "runtime/run_state.h"
#include "runtime/startup_records.h"

// The display mode each mode option selects, walked in this order.
struct vlDisplayModeOption {
  uint32_t optionId;
  int32_t mode;
};
extern const vlDisplayModeOption vlDisplayModeOptions[5];

// Applies the value array (words by option id) to the applet information's
// display overrides, the start-up record and the start-up settings. 0 or
// an error code (1000, 1018, 1024, 1243, 1557, 1569).
int ApplyStartupOptions(vlAppletInfo* applet, const uintptr_t* values, vlStartupRecord* startup);

// A start that failed before its options were applied still sends its
// errors where -DEBUGDEVICE says, when the arguments name a device
// ("-DEBUGDEVICE name" or "-DEBUGDEVICE=name", any case, anywhere), and
// keeps them out of a dialog when they hold -QUIET.
void KeepErrorOutputOfArgs(int argc, char* const* argv);

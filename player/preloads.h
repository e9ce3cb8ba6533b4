// Turning the script's declarations into calls of its own commands before
// the main chunk runs: resources first, then one CreateDisplay per
// declared display; plus the passes that prepare the declarations.
#pragma once

#include "runtime/preproc.h"
#include "runtime/startup_records.h"

struct vlVMState;

// Copies the command line's display settings onto display 1 (onto every
// display with ALLDISPLAYS).
void ApplyCommandLineDisplays(vlAppletInfo* applet, const vlStartupRecord* startup);
// Pictures declared twice for the same file with the same scaling: the
// first keeps its file for the later ones, which load from it.
void MarkSharedPictureFiles(vlPreprocRecord* list);

// The resource declarations, in order, each as a call of its command with
// quiet console output; the first failure is returned with the command's
// name as the current function and the declaration's line as the current
// line.
int RunPreloads(vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet);
// One CreateDisplay per declared display, in order, and the warning
// declarations. The displays wait for the display library: while no
// "CreateDisplay" command is registered, the display calls are skipped.
int RunDeclaredDisplays(vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet);

// A remembered window placement: the size to restore and the platform's
// placement bytes (not owned).
struct vlRememberedPlacement {
  int32_t restoreWidth, restoreHeight;
  const char* osData;
  size_t osDataLength;
};

// Pushes the option table a display declaration gives CreateDisplay.
void PushDisplayOptions(vlVMState* state, const vlDisplayDecl* display, uint32_t id, bool bgpic1Declared,
                        const vlRememberedPlacement* placement = nullptr);

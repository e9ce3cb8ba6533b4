// The command libraries opened at start-up, in their opening order.
#pragma once

struct vlVMState;

struct vlLibraryRow {
  const char* name;
  int (*open)(vlVMState* state);
};

// Rows in opening order, ended by a row whose name is null.
extern const vlLibraryRow vlLibraryTable[];

// Opens every library in table order with the globals table pushed; the
// stack is emptied after each. 0, or the first open routine's error.
int OpenLibraries(vlVMState* state);

// The script file and line reported with errors: the running chunk's name
// and, for applets merged from include files, the include map that says
// which lines came from which file.
#pragma once
#include <cstdint>

struct vlVMState;

// One include file merged into a compiled part: its lines first..last of
// the part came from includeName, whose own numbering starts at lineOffset.
struct vlIncludeEntry {
  vlIncludeEntry* next;
  uint32_t firstLine;
  uint32_t lastLine;
  uint32_t lineOffset;
  char* includeName;
  char* partName;  // the compiled part it was merged into
};

// The container appends the entries in its order: 0, or 1000.
int AddIncludeEntry(uint32_t firstLine, uint32_t lastLine, uint32_t lineOffset, const char* includeName,
                    const char* partName);
vlIncludeEntry* GetIncludeEntries();
void FreeIncludeEntries();

// The current source file ("" when none is known); valid until the VM's
// registry or the include map changes.
const char* GetCurrentSourceFile(vlVMState* state);
// The current source line, -1 when it is not known.
int32_t GetCurrentSourceLine(vlVMState* state);

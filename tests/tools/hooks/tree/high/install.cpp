#include "low/table.h"
static int Ask(int value) { return value * 2; }
void InstallAsk() { gTable.ask = Ask; }
// Filled, but nothing calls it.
static void Unused() {}
void InstallUnused() { gTable.unused = Unused; }

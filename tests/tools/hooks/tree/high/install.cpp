#include "low/table.h"
static int Ask(int value) { return value * 2; }
void InstallAsk() { gTable.ask = Ask; }

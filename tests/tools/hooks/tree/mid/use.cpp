#include "low/table.h"
// Below the installer: the call through the table is the only way.
int AskMid() { return gTable.ask(2) + (gTable.flat ? 1 : 0); }

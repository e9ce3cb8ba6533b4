#include "low/table.h"
static void Ordered() {}
void InstallOrdered() { gTable.ordered = Ordered; }

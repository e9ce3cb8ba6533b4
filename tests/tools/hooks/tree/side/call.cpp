#include "low/table.h"
// Above mid on their common floor: it may call mid's routine directly.
void CallOrdered() { gTable.ordered(); }

#include "low/table.h"
static void Flat() {}
// A neighbour on the table's own floor fills a slot it could be called at.
void InstallFlat() { gTable.flat = Flat; }

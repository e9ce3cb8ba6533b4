#include "low/puts.h"
// SendPuts() in a comment is no call.
void Hold() { HoldPuts(1); }

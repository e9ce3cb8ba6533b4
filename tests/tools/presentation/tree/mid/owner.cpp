#include "low/puts.h"
void Send() { SendPuts(); }

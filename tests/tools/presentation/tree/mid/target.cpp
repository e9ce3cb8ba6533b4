#include "low/puts.h"
int* gOutput = 0;
void SetTarget(int* to) { gOutput = to; }

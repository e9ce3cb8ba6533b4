// The math command library: libm functions, rounding, random numbers and
// 32-bit bit operations over the script's numbers, and the constant PI.
#pragma once

struct vlVMState;

// Registers the commands under "math" and the constant PI, and seeds rand
// and drand48 from the time in seconds. 0 or 1000.
int OpenMathLib(vlVMState* state);

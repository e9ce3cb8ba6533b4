// The garbage collector: a stop-the-world mark and sweep over every VM
// object, with weak tables, userdata finalisers and the threshold that
// decides when the check points collect.
#pragma once
#include "vm/state.h"

namespace vl {

// Hooks the collector into a new VM (OpenVmState calls it). The stress mode
// starts on when the environment variable VL_GC_STRESS is set to 1.
void InstallCollector(vlVMState* L);

// One full collection, finalisers included.
void CollectGarbage(vlVMState* L);

// Stress mode: every check point collects. For tests; switchable any time.
void SetGCStress(vlVMState* L, bool on);
bool GetGCStress(vlVMState* L);

// Threshold and use in kilobytes. A threshold of 4194304 KB or more means
// "never"; setting one not above the bytes in use collects at once.
int GetGCThresholdKB(vlVMState* L);
int GetGCCountKB(vlVMState* L);
void SetGCThresholdKB(vlVMState* L, int kilobytes);

}  // namespace vl

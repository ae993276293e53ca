// Allocation-failure injection for test programs linked with
// alloc_fault_shims.cpp.
#pragma once

// Counts allocation attempts from now on; attempt failAt fails (0: none).
void AllocFaultArm(long failAt);
// Stops counting; returns the attempts counted since arming.
long AllocFaultDisarm();
// Blocks allocated and not yet freed in this process.
long AllocFaultLiveBlocks();

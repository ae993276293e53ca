// The physical-core count behind the "Max" thread choice. One implementation
// per platform.
#pragma once

// Physical processor cores of this machine, 0 when unknown.
int QueryProcessorCoreCount();

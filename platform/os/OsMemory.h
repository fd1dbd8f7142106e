// OsMemory: memory figures of the machine.
//
// Contract
//  1. AvailablePhysicalMemory is the memory the system could give now
//     without swapping, in bytes; 0 when the platform cannot tell.
//  2. TotalPhysicalMemory is the installed memory in bytes; 0 when unknown.
//
// Thread use: callable from any thread.
#pragma once

#include <cstdint>

namespace tiv::os {

uint64_t AvailablePhysicalMemory();
uint64_t TotalPhysicalMemory();

}  // namespace tiv::os

// DiskBytes: little-endian reads and writes at explicit offsets of a byte
// buffer, for the storage format. The unsigned and floating forms are the
// core's (ZUDBytes.h). Callers check the
// bounds (the buffers here have fixed sizes); nothing casts a struct over
// bytes.
#pragma once

#include <cstdint>

#include "core/ZUDBytes.h"

namespace tiv::disk {

using zud::GetF64;
using zud::GetI16;
using zud::GetI32;
using zud::GetU16;
using zud::GetU32;
using zud::GetU64;
using zud::PutF64;
using zud::PutI16;
using zud::PutI32;
using zud::PutU16;
using zud::PutU32;
using zud::PutU64;

}  // namespace tiv::disk

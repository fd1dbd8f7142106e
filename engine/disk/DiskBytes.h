// DiskBytes: little-endian reads and writes at explicit offsets of a byte
// buffer, for the storage format. The unsigned and floating forms are the
// core's (ZUDBytes.h); the signed writes are added here. Callers check the
// bounds (the buffers here have fixed sizes); nothing casts a struct over
// bytes.
#pragma once

#include <cstdint>

#include "ZUDBytes.h"

namespace tiv::disk {

using zud::GetF64;
using zud::GetI16;
using zud::GetI32;
using zud::GetU16;
using zud::GetU32;
using zud::GetU64;
using zud::PutF64;
using zud::PutU16;
using zud::PutU32;
using zud::PutU64;

inline void PutI16(void* p, int16_t v) { PutU16(p, static_cast<uint16_t>(v)); }
inline void PutI32(void* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }

}  // namespace tiv::disk

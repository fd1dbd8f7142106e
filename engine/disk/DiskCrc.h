// DiskCrc: the CRC-32 of the storage format.
//
// Contract
//  1. Reflected CRC-32, polynomial 0xEDB88320, started from 0, no final
//     inversion: for each byte b, crc = (crc >> 8) ^ table[(crc ^ b) & 0xFF].
//     It is zlib's crc32 with the pre- and post-inversions undone:
//     crc32(0xFFFFFFFF, buf, len) ^ 0xFFFFFFFF. "abc" gives 0xCA6598D0.
//  2. Crc32(a+b) == Crc32Update(Crc32(a), b): data may come in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiv::disk {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t len);
inline uint32_t Crc32(const void* data, size_t len) { return Crc32Update(0, data, len); }

}  // namespace tiv::disk

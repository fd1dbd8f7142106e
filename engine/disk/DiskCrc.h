// DiskCrc: the CRC-32 of the storage format.
//
// Contract
//  1. Reflected CRC-32, polynomial 0xEDB88320, started from 0, no final
//     inversion: for each byte b, crc = (crc >> 8) ^ table[(crc ^ b) & 0xFF].
//     It is zlib's crc32 with the pre- and post-inversions undone:
//     crc32(0xFFFFFFFF, buf, len) ^ 0xFFFFFFFF. "abc" gives 0xCA6598D0.
//  2. Crc32(a+b) == Crc32Update(Crc32(a), b): data may come in pieces.
//  3. The DataCRC of a plain page (page header offset 14) is the CRC-32 of
//     its data area, except that a CRC-32 of 0 is stored as 0xFFFFFFFF:
//     a stored 0 means "no CRC" (files of writers that fill DataCRC on
//     enciphered pages only), and an all-zero data area, common in BLOB
//     and chain pages, has a CRC-32 of 0. So a stored 0 is never checked
//     and a stored 0xFFFFFFFF accepts a CRC-32 of 0 or of 0xFFFFFFFF.
//     Enciphered pages keep the CRC-32 exactly, 0 included, and always
//     check it (ZUDSecurity.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiv::disk {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t len);
inline uint32_t Crc32(const void* data, size_t len) { return Crc32Update(0, data, len); }

// Contract 3: the DataCRC a plain page with this data area stores, and
// whether a stored DataCRC holds for the data area (true when it is 0).
inline constexpr uint32_t kNoPageCrc = 0;
inline constexpr uint32_t kZeroPageCrc = 0xFFFFFFFFu;
uint32_t PlainPageCrc(const void* data, size_t len);
bool PlainPageCrcHolds(uint32_t stored, const void* data, size_t len);

}  // namespace tiv::disk

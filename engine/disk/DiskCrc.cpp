#include "disk/DiskCrc.h"

#include <zlib.h>

#include <algorithm>

namespace tiv::disk {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t len) {
  // zlib inverts on entry and on exit; the format does neither.
  uLong z = static_cast<uLong>(crc ^ 0xFFFFFFFFu);
  const auto* p = static_cast<const Bytef*>(data);
  while (len > 0) {
    uInt chunk = static_cast<uInt>(std::min<size_t>(len, 1u << 30));
    z = crc32(z, p, chunk);
    p += chunk;
    len -= chunk;
  }
  return static_cast<uint32_t>(z) ^ 0xFFFFFFFFu;
}

uint32_t PlainPageCrc(const void* data, size_t len) {
  const uint32_t crc = Crc32(data, len);
  return crc == kNoPageCrc ? kZeroPageCrc : crc;
}

bool PlainPageCrcHolds(uint32_t stored, const void* data, size_t len) {
  return stored == kNoPageCrc || stored == PlainPageCrc(data, len);
}

}  // namespace tiv::disk

#include "disk/DiskCrc.h"

#include <isa-l/crc.h>

namespace tiv::disk {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t len) {
  // The gzip CRC-32 inverts on entry and on exit; the format does neither.
  if (len == 0) return crc;
  const uint32_t z = crc32_gzip_refl(crc ^ 0xFFFFFFFFu, static_cast<const unsigned char*>(data), len);
  return z ^ 0xFFFFFFFFu;
}

uint32_t PlainPageCrc(const void* data, size_t len) {
  const uint32_t crc = Crc32(data, len);
  return crc == kNoPageCrc ? kZeroPageCrc : crc;
}

bool PlainPageCrcHolds(uint32_t stored, const void* data, size_t len) {
  return stored == kNoPageCrc || stored == PlainPageCrc(data, len);
}

}  // namespace tiv::disk

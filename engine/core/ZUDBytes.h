// ZUDBytes: little-endian reads and writes of the fixed-size values that
// record buffers, keys and typed values hold, at explicit addresses.
//
// Contract
//  1. Every multi-byte integer is little-endian; floats are their IEEE-754
//     bit patterns, little-endian.
//  2. The extended type is the x87 80-bit format in 10 bytes: a 64-bit
//     significand with an explicit integer bit, then 15 exponent bits and
//     the sign. It is converted explicitly, never by copying a long double.
//  3. Callers bounds-check before reading: these helpers trust their
//     address.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace zud {

inline uint16_t GetU16(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}
inline uint32_t GetU32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}
inline uint64_t GetU64(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint64_t>(GetU32(b)) | static_cast<uint64_t>(GetU32(b + 4)) << 32;
}
inline void PutU16(void* p, uint16_t v) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
inline void PutU32(void* p, uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void PutU64(void* p, uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void PutI16(void* p, int16_t v) { PutU16(p, static_cast<uint16_t>(v)); }
inline void PutI32(void* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }
inline int8_t GetI8(const void* p) { return static_cast<int8_t>(*static_cast<const unsigned char*>(p)); }
inline int16_t GetI16(const void* p) { return static_cast<int16_t>(GetU16(p)); }
inline int32_t GetI32(const void* p) { return static_cast<int32_t>(GetU32(p)); }
inline int64_t GetI64(const void* p) { return static_cast<int64_t>(GetU64(p)); }
inline float GetF32(const void* p) { return std::bit_cast<float>(GetU32(p)); }
inline double GetF64(const void* p) { return std::bit_cast<double>(GetU64(p)); }
inline void PutF32(void* p, float v) { PutU32(p, std::bit_cast<uint32_t>(v)); }
inline void PutF64(void* p, double v) { PutU64(p, std::bit_cast<uint64_t>(v)); }

// x87 80-bit extended (contract 2).
inline long double GetF80(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  const uint64_t mantissa = GetU64(b);
  const uint16_t se = GetU16(b + 8);
  const bool negative = (se & 0x8000) != 0;
  const int exponent = se & 0x7FFF;
  long double v;
  if (exponent == 0x7FFF) {
    v = (mantissa << 1) == 0 ? INFINITY : NAN;
  } else if (exponent == 0 && mantissa == 0) {
    v = 0.0L;
  } else {
    // value = mantissa * 2^(exponent - 16383 - 63); denormals use exponent 1.
    v = std::ldexp(static_cast<long double>(mantissa), (exponent == 0 ? 1 : exponent) - 16383 - 63);
  }
  return negative ? -v : v;
}

inline void PutF80(void* p, long double v) {
  auto* b = static_cast<unsigned char*>(p);
  uint16_t se = std::signbit(v) ? 0x8000 : 0;
  uint64_t mantissa = 0;
  if (std::isnan(v)) {
    se |= 0x7FFF;
    mantissa = 0xC000000000000000ULL;
  } else if (std::isinf(v)) {
    se |= 0x7FFF;
    mantissa = 0x8000000000000000ULL;
  } else if (v != 0) {
    int exp2 = 0;
    const long double frac = std::frexp(std::fabs(v), &exp2);  // frac in [0.5, 1)
    int biased = exp2 - 1 + 16383;
    if (biased <= 0) {  // denormal: fixed exponent field 0, scale 2^(1 - 16383 - 63)
      mantissa = static_cast<uint64_t>(std::ldexp(std::fabs(v), 16383 + 63 - 1));
      biased = 0;
    } else {
      mantissa = static_cast<uint64_t>(std::ldexp(frac, 64));
    }
    se |= static_cast<uint16_t>(biased);
  }
  PutU64(b, mantissa);
  PutU16(b + 8, se);
}

}  // namespace zud

#include "os/OsRandom.h"

#include <cstdio>
#include <mutex>
#include <random>

namespace tiv::os {

namespace {

std::mutex& GeneratorMutex() {
  static std::mutex mu;
  return mu;
}

std::mt19937_64& Generator() {
  static std::mt19937_64 gen = [] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }();
  return gen;
}

}  // namespace

uint32_t RandomUInt32() {
  std::lock_guard<std::mutex> guard(GeneratorMutex());
  return static_cast<uint32_t>(Generator()() >> 32);
}

int64_t RandomBelow(int64_t n) {
  if (n <= 0) return 0;
  std::lock_guard<std::mutex> guard(GeneratorMutex());
  std::uniform_int_distribution<int64_t> dist(0, n - 1);
  return dist(Generator());
}

std::string NewGuidText() {
  uint8_t b[16];
  {
    std::lock_guard<std::mutex> guard(GeneratorMutex());
    for (int i = 0; i < 16; i += 8) {
      uint64_t v = Generator()();
      for (int k = 0; k < 8; ++k) b[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

}  // namespace tiv::os

// OsRandom: random numbers and GUIDs.
//
// Contract
//  1. RandomUInt32 and RandomBelow come from one process-wide generator
//     seeded from the platform's entropy source; they are for check data,
//     initial page versions and the like, not for secrets.
//  2. RandomBelow(n) is uniform in [0, n); n <= 0 gives 0.
//  3. NewGuidText is a random version-4 GUID in the usual text form,
//     "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}" with upper-case hex digits.
//
// Thread use: callable from any thread (the generator has a mutex).
#pragma once

#include <cstdint>
#include <string>

namespace tiv::os {

uint32_t RandomUInt32();
int64_t RandomBelow(int64_t n);
std::string NewGuidText();

}  // namespace tiv::os

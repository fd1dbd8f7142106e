// OsClock: the tick counter, the wall clock and sleeping.
//
// Contract
//  1. TickCountMs is a steady clock in milliseconds: it never goes back and
//     is meant for timeouts and elapsed times only.
//  2. NowUnixMs is the wall clock (milliseconds since 1970-01-01 UTC).
//  3. SleepMs(n) sleeps at least n milliseconds; n <= 0 returns at once.
//
// Thread use: callable from any thread.
#pragma once

#include <cstdint>

namespace tiv::os {

int64_t TickCountMs();
int64_t NowUnixMs();
void SleepMs(int64_t ms);

}  // namespace tiv::os

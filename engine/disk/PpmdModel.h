// PpmdModel: PPMd variant G, the codec behind compression algorithm 3.
//
// Stored form of one compressed buffer:
//   offset 0  uint32 LE  header word = (order - 1) | ((memory - 1) << 4) | 0x6000
//                        (bits 12..15 hold the variant letter less 'A', 6 = 'G';
//                        memory in MiB, 1..256 by the field width)
//   offset 4  range-coded symbols: the bytes of the input, then the end mark
//             (an escape out of the order-0 context).
//
// Level -> model order / model memory (MiB):
//   1: 2/2  2: 3/3  3: 4/7  4: 5/16  5: 7/22  6: 8/25  7: 10/40  8: 13/100  9: 16/100
//
// Contract
//  1. PpmdCompress answers false only for a level outside 1..9 or an input
//     size below 0; an empty input gives a header and an end mark. The
//     output buffer starts at inSize + inSize div 20 + 50 bytes and grows
//     when incompressible data passes it.
//  2. PpmdDecompress refuses (false) a header whose letter is not G, whose
//     order is below 2 or whose memory is above 100 MiB; data that decodes
//     to an invalid symbol, runs past its end, leaves bytes unread or would
//     produce more than `maxOut` bytes. It never reads outside `in`, never
//     writes outside `out`, and allocates only the model memory the header
//     names (plus a fixed 12 bytes and its output buffer).
//  3. `outSize` on entry is the expected length (the first output buffer);
//     on true it is the decoded length.
//  4. Every buffer, the model memory included, comes from the engine memory
//     manager: its limit error (30004) passes through.
//
// Thread use: any thread; each call builds its own model.
#pragma once

#include <cstdint>

#include "core/ZUDMemory.h"

struct TABSPpmdLevel {
  int order;
  int memoryMiB;
};

// The order and memory of a level 1..9; std::invalid_argument otherwise.
TABSPpmdLevel PpmdLevelParameters(uint8_t level);

bool PpmdCompress(uint8_t level, const uint8_t* in, int64_t inSize, TABSMemBlock& out, int64_t& outSize);
bool PpmdDecompress(const uint8_t* in, int64_t inSize, int64_t& outSize, TABSMemBlock& out, int64_t maxOut);

// ZUDCompression: buffer compression for BLOB blocks and internal files.
//
// Algorithms (the ids are stored in field definitions and stream
// descriptors, so they are frozen):
//   0 NONE  no compression
//   1 ZLIB  zlib stream format (deflate, zlib header, Adler-32 trailer);
//           level = deflate level 1..9
//   2 BZIP  bzip2 stream format; level = block size in 100000-byte units,
//           work factor 0, no verbosity
//   3 PPM   PPMd variant G (disk/PpmdModel.h); level 1..9 = model order
//           and memory, a 4-byte header word in front of the coded data
//
// Contract
//  1. CompressBuffer answers false for algorithm 0, for an empty input and
//     for any failure of the codec; on true, `out` holds exactly `outSize`
//     meaningful bytes. For zlib and bzip2 the output buffer starts at
//     (inSize + inSize div 10 + 267) rounded down to a multiple of 256 and
//     grows by 256 bytes until the codec has finished.
//  2. DecompressBuffer starts from the expected size given in `outSize`
//     and grows as needed; on true `outSize` is the decompressed length. It
//     answers false for algorithm 0, damaged input, or output that would
//     pass `maxOutSize` (the caller's bound: a damaged block cannot make
//     it allocate without limit).
//  3. An unknown algorithm answers false. PPMd's output buffer starts at
//     inSize + inSize div 20 + 50 bytes and grows for incompressible data;
//     its decompression refuses a header that is not variant G, asks for
//     more than 100 MiB or an order below 2 (disk/PpmdModel.h).
//  4. Every buffer comes from the engine memory manager, so its limit
//     applies (30004 when passed): such errors pass through, they are not
//     turned into false.
//
// Thread use: any thread; no shared state.
#pragma once

#include <cstdint>
#include <limits>

#include "core/ZUDMemory.h"

enum TABSCompressionAlgorithm : uint8_t {
  acaNone = 0,
  acaZlib = 1,
  acaBZip = 2,
  acaPPM = 3,
};

// "NONE", "ZLIB", "BZIP", "PPM"; an empty text for an unknown id.
const char* CompressionAlgorithmName(uint8_t algorithm);
// The id for a name (case-insensitive), -1 when unknown.
int CompressionAlgorithmByName(const char* name);

// Uncompressed bytes per block when a descriptor gives 0, by level:
// 0 -> 102400, 1..3 -> 524288, 4..6 -> 1048576, 7..9 -> 1572864.
int32_t DefaultCompressionBlockSize(uint8_t level);

bool CompressBuffer(uint8_t algorithm, uint8_t level, const void* in, int64_t inSize, TABSMemBlock& out,
                    int64_t& outSize);
bool DecompressBuffer(uint8_t algorithm, const void* in, int64_t inSize, int64_t& outSize, TABSMemBlock& out,
                      int64_t maxOutSize = std::numeric_limits<int32_t>::max());

// BlobCompressedStream: TABSCompressedBLOBStream, the block-compressed form
// in which a BLOB value is held, over an underlying stream.
//
// Descriptor (32 bytes, little-endian), with which the stream is opened:
//   0  int32  BlockSize: uncompressed bytes per block, 0 = the level's default
//   4  int64  BlockCount
//   12 int64  UncompressedSize
//   20 int64  StartPosition: offset of the first block in the underlying stream
//   28 uint8  CompressionAlgorithm (ZUDCompression.h)
//   29 uint8  CompressionMode (the level)
//   30 2      spare, zero
//
// Underlying stream: with algorithm 0 the UncompressedSize bytes as they
// are, from StartPosition. Otherwise BlockCount blocks from StartPosition,
// back to back, each a 20-byte header and CompSize compressed bytes:
//   0  int32  CompSize
//   4  int32  UncompSize: bytes of this block before compression
//   8  uint32 Crc32 of the uncompressed bytes (DiskCrc.h)
//   12 int64  offset of the next block header from this one = CompSize + 20
// Every block but the last holds BlockSize uncompressed bytes.
//
// Contract
//  1. Opening existing data walks every block header once and keeps an
//     index (header position, sizes, uncompressed offset). Stored bytes are
//     not trusted: a header past the end of the underlying stream, a
//     next-block offset that leaves the stream or overlaps the block, sizes
//     below 1, or block sizes that do not add up to UncompressedSize are
//     engine errors (10079, 10081, 10092), never a read out of bounds. With
//     Partial set, a stream that ends before BlockCount headers keeps the
//     blocks read so far.
//  2. Reading a block checks decompression (10087), its length (10088) and
//     its CRC-32 (10089); a damaged block fails alone, the others still
//     read. Block buffers come from the engine memory manager.
//  3. Writing at the end fills the last block up to BlockSize (recompressed
//     and rewritten in place) and appends new blocks. Writing before the end
//     overwrites those bytes and keeps every byte after them: the blocks
//     from the first one touched are rebuilt. Size grows to cover the write.
//  4. SetSize cuts the value (the block holding the new end is rebuilt) or
//     extends it with zero bytes written as blocks.
//  5. Descriptor() gives BlockCount and UncompressedSize as they stand after
//     the writes; the underlying stream holds exactly the blocks (it is cut
//     after the last one whenever blocks are rebuilt).
//
// Thread use: one thread at a time (ZUDStream.h).
#pragma once

#include <cstdint>
#include <vector>

#include "core/ZUDMemory.h"
#include "core/ZUDStream.h"

struct TABSCompressedStreamDescriptor {
  static constexpr int kSize = 32;

  int32_t BlockSize = 0;
  int64_t BlockCount = 0;
  int64_t UncompressedSize = 0;
  int64_t StartPosition = 0;
  uint8_t CompressionAlgorithm = 0;
  uint8_t CompressionMode = 0;

  void Write(void* bytes) const;  // kSize bytes
  static TABSCompressedStreamDescriptor Read(const void* bytes);
};

class TABSCompressedBLOBStream : public TABSStream {
 public:
  static constexpr int kBlockHeaderSize = 20;

  // isNew: the value starts empty whatever the descriptor's counts.
  TABSCompressedBLOBStream(TABSStream& base, bool partial, bool isNew, const TABSCompressedStreamDescriptor& d);

  int64_t Read(void* dest, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Position() const override { return position_; }
  int64_t Size() const override { return size_; }
  void SetSize(int64_t newSize) override;

  TABSCompressedStreamDescriptor Descriptor() const;
  int32_t CompressedBlockSize() const { return blockSize_; }
  // Bytes the value takes in the underlying stream (headers included).
  int64_t StoredSize() const;
  // (1 - stored size / uncompressed size) * 100; 0 for an empty value.
  double CompressionRate() const;

 private:
  struct Block {
    int64_t headerPos;
    int64_t offset;  // of its first byte in the uncompressed value
    int32_t compSize;
    int32_t uncompSize;
    uint32_t crc;
  };

  void OpenBlocks(int64_t blockCount, bool partial);
  int FindBlock(int64_t position) const;
  // The uncompressed bytes of block i, checked (contract 2); cached.
  const char* LoadBlock(int i);
  void AppendBytes(const char* src, int64_t count);
  void WriteBlock(int64_t headerPos, const char* data, int32_t size, Block& block);
  // Drops blocks i.. and cuts the underlying stream at block i.
  void CutAtBlock(int i);
  // Cuts the underlying stream at `at` (10103 when it cannot be cut).
  void CutBase(int64_t at);
  // Contract 3 for a write that starts before the end.
  void OverwriteInside(const char* src, int64_t count);
  void ExtendWithZeros(int64_t newSize);

  TABSStream& base_;
  uint8_t algorithm_;
  uint8_t mode_;
  int32_t blockSize_;
  int64_t start_;
  int64_t size_ = 0;
  int64_t position_ = 0;
  std::vector<Block> blocks_;
  int cachedBlock_ = -1;
  TABSMemBlock cache_;
};

#include "disk/BlobCompressedStream.h"

#include <algorithm>
#include <cstring>

#include "core/ZUDExcept.h"
#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/StreamFile.h"
#include "disk/ZUDCompression.h"

using tiv::disk::GetI32;
using tiv::disk::GetU32;
using tiv::disk::GetU64;
using tiv::disk::PutI32;
using tiv::disk::PutU32;
using tiv::disk::PutU64;

void TABSCompressedStreamDescriptor::Write(void* bytes) const {
  auto* b = static_cast<uint8_t*>(bytes);
  PutI32(b + 0, BlockSize);
  PutU64(b + 4, static_cast<uint64_t>(BlockCount));
  PutU64(b + 12, static_cast<uint64_t>(UncompressedSize));
  PutU64(b + 20, static_cast<uint64_t>(StartPosition));
  b[28] = CompressionAlgorithm;
  b[29] = CompressionMode;
  b[30] = 0;
  b[31] = 0;
}

TABSCompressedStreamDescriptor TABSCompressedStreamDescriptor::Read(const void* bytes) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  TABSCompressedStreamDescriptor d;
  d.BlockSize = GetI32(b + 0);
  d.BlockCount = static_cast<int64_t>(GetU64(b + 4));
  d.UncompressedSize = static_cast<int64_t>(GetU64(b + 12));
  d.StartPosition = static_cast<int64_t>(GetU64(b + 20));
  d.CompressionAlgorithm = b[28];
  d.CompressionMode = b[29];
  return d;
}

TABSCompressedBLOBStream::TABSCompressedBLOBStream(TABSStream& base, bool partial, bool isNew,
                                                   const TABSCompressedStreamDescriptor& d)
    : base_(base),
      algorithm_(d.CompressionAlgorithm),
      mode_(d.CompressionMode),
      blockSize_(d.BlockSize > 0 ? d.BlockSize : DefaultCompressionBlockSize(d.CompressionMode)),
      start_(std::max<int64_t>(d.StartPosition, 0)) {
  if (isNew) {
    if (base_.Size() > start_) CutBase(start_);
    return;
  }
  if (d.UncompressedSize < 0 || d.BlockCount < 0)
    throw EABSException(10092, "Invalid stream size = %d. Should be = %d", {d.UncompressedSize, int64_t{0}});
  if (algorithm_ == acaNone) {
    if (base_.Size() - start_ < d.UncompressedSize)
      throw EABSException(10082, "Stream size = %d too small. Should be at least = %d",
                          {base_.Size(), start_ + d.UncompressedSize});
    size_ = d.UncompressedSize;
    return;
  }
  OpenBlocks(d.BlockCount, partial);
  if (!(partial && static_cast<int64_t>(blocks_.size()) < d.BlockCount) && size_ != d.UncompressedSize)
    throw EABSException(10092, "Invalid stream size = %d. Should be = %d", {size_, d.UncompressedSize});
}

void TABSCompressedBLOBStream::OpenBlocks(int64_t blockCount, bool partial) {
  const int64_t baseSize = base_.Size();
  int64_t pos = start_;
  for (int64_t k = 0; k < blockCount; ++k) {
    if (baseSize - pos < kBlockHeaderSize) {
      if (partial) break;
      throw EABSException(10081, "Stream size = %d too small. Should be at least = %d",
                          {baseSize, pos + kBlockHeaderSize});
    }
    const int64_t reached = base_.Seek(pos);
    uint8_t h[kBlockHeaderSize];
    if (reached != pos || base_.Read(h, kBlockHeaderSize) != kBlockHeaderSize)
      throw EABSException(10079, "Cannot set stream position to %d. Position = %d, Size = %d",
                          {pos, reached, baseSize});
    Block b{pos, size_, GetI32(h + 0), GetI32(h + 4), GetU32(h + 8)};
    const int64_t next = static_cast<int64_t>(GetU64(h + 12));
    // Damaged sizes: nothing to decompress, or a block past its own limits.
    if (b.compSize < 1 || b.uncompSize < 1 || baseSize - pos - kBlockHeaderSize < b.compSize ||
        next < int64_t{b.compSize} + kBlockHeaderSize || (k + 1 < blockCount && next > baseSize - pos)) {
      const int64_t target = next >= 0 && next <= baseSize ? pos + next : next;
      throw EABSException(10083, "Cannot set stream position to %d. Position = %d, Size = %d", {target, pos, baseSize});
    }
    blocks_.push_back(b);
    size_ += b.uncompSize;
    pos += next;
  }
}

int TABSCompressedBLOBStream::FindBlock(int64_t position) const {
  // The last block whose offset is at most `position`.
  auto it = std::upper_bound(blocks_.begin(), blocks_.end(), position,
                             [](int64_t p, const Block& b) { return p < b.offset; });
  return static_cast<int>(it - blocks_.begin()) - 1;
}

const char* TABSCompressedBLOBStream::LoadBlock(int i) {
  if (cachedBlock_ == i) return cache_.get();
  cachedBlock_ = -1;
  cache_.reset();
  const Block& b = blocks_[static_cast<size_t>(i)];
  TABSMemBlock comp = AllocBlock(static_cast<uint64_t>(b.compSize));
  const int64_t at = b.headerPos + kBlockHeaderSize;
  const int64_t reached = base_.Seek(at);
  if (reached != at)
    throw EABSException(10080, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {at, reached, base_.Size()});
  const int64_t read = base_.Read(comp.get(), b.compSize);
  if (read != b.compSize)
    throw EABSException(10086,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {at, base_.Size(), b.compSize, read});
  int64_t outSize = b.uncompSize;
  TABSMemBlock out;
  if (!DecompressBuffer(algorithm_, comp.get(), b.compSize, outSize, out, b.uncompSize))
    throw EABSException(10087, "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {algorithm_, b.compSize, b.uncompSize});
  if (outSize != b.uncompSize)
    throw EABSException(10088, "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {outSize, b.uncompSize});
  const uint32_t crc = tiv::disk::Crc32(out.get(), static_cast<size_t>(outSize));
  if (crc != b.crc)
    throw EABSException(10089, "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d", {crc, b.crc});
  cache_ = std::move(out);
  cachedBlock_ = i;
  return cache_.get();
}

int64_t TABSCompressedBLOBStream::Read(void* dest, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  count = std::min(count, size_ - position_);
  if (algorithm_ == acaNone) {
    const int64_t at = start_ + position_;
    const int64_t reached = base_.Seek(at);
    if (reached != at)
      throw EABSException(10091, "Cannot set stream position to %d. Position = %d, Size = %d",
                          {at, reached, base_.Size()});
    const int64_t read = base_.Read(dest, count);
    position_ += read;
    return read;
  }
  auto* out = static_cast<char*>(dest);
  int64_t done = 0;
  while (done < count) {
    const int i = FindBlock(position_);
    const Block& b = blocks_[static_cast<size_t>(i)];
    const char* data = LoadBlock(i);
    const int64_t within = position_ - b.offset;
    const int64_t n = std::min(count - done, b.uncompSize - within);
    std::memcpy(out + done, data + within, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

void TABSCompressedBLOBStream::WriteBlock(int64_t headerPos, const char* data, int32_t size, Block& block) {
  TABSMemBlock comp;
  int64_t compSize = 0;
  if (!CompressBuffer(algorithm_, mode_, data, size, comp, compSize) || compSize > INT32_MAX - kBlockHeaderSize)
    throw EABSException(10085, "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
                        {algorithm_, mode_, size, compSize});
  uint8_t h[kBlockHeaderSize];
  const uint32_t crc = tiv::disk::Crc32(data, static_cast<size_t>(size));
  PutI32(h + 0, static_cast<int32_t>(compSize));
  PutI32(h + 4, size);
  PutU32(h + 8, crc);
  PutU64(h + 12, static_cast<uint64_t>(compSize + kBlockHeaderSize));
  const int64_t reached = base_.Seek(headerPos);
  if (reached != headerPos)
    throw EABSException(10099, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {headerPos, reached, base_.Size()});
  int64_t written = base_.Write(h, kBlockHeaderSize);
  if (written != kBlockHeaderSize)
    throw EABSException(10097,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                        {headerPos, base_.Size(), kBlockHeaderSize, written});
  written = base_.Write(comp.get(), compSize);
  if (written != compSize)
    throw EABSException(10100,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                        {headerPos + kBlockHeaderSize, base_.Size(), compSize, written});
  block.headerPos = headerPos;
  block.compSize = static_cast<int32_t>(compSize);
  block.uncompSize = size;
  block.crc = crc;
}

void TABSCompressedBLOBStream::AppendBytes(const char* src, int64_t count) {
  while (count > 0) {
    int64_t n;
    if (!blocks_.empty() && blocks_.back().uncompSize < blockSize_) {
      // Fill the last block: it is rebuilt at its own header position, and
      // the stream is cut after it (the recompressed block may be shorter).
      const int last = static_cast<int>(blocks_.size()) - 1;
      Block& b = blocks_.back();
      n = std::min<int64_t>(count, blockSize_ - b.uncompSize);
      const int32_t newSize = static_cast<int32_t>(b.uncompSize + n);
      TABSMemBlock joined = AllocBlock(static_cast<uint64_t>(newSize));
      std::memcpy(joined.get(), LoadBlock(last), static_cast<size_t>(b.uncompSize));
      std::memcpy(joined.get() + b.uncompSize, src, static_cast<size_t>(n));
      cachedBlock_ = -1;
      cache_.reset();
      WriteBlock(b.headerPos, joined.get(), newSize, b);
      CutBase(b.headerPos + kBlockHeaderSize + b.compSize);
    } else {
      n = std::min<int64_t>(count, blockSize_);
      Block b{start_, size_, 0, 0, 0};
      const int64_t headerPos =
          blocks_.empty() ? start_ : blocks_.back().headerPos + kBlockHeaderSize + blocks_.back().compSize;
      WriteBlock(headerPos, src, static_cast<int32_t>(n), b);
      blocks_.push_back(b);
    }
    size_ += n;
    src += n;
    count -= n;
  }
}

void TABSCompressedBLOBStream::CutAtBlock(int i) {
  if (i >= static_cast<int>(blocks_.size())) return;
  const int64_t headerPos = blocks_[static_cast<size_t>(i)].headerPos;
  size_ = blocks_[static_cast<size_t>(i)].offset;
  blocks_.resize(static_cast<size_t>(i));
  if (cachedBlock_ >= i) {
    cachedBlock_ = -1;
    cache_.reset();
  }
  CutBase(headerPos);
}

void TABSCompressedBLOBStream::CutBase(int64_t at) {
  base_.SetSize(at);
  if (base_.Size() != at)
    throw EABSException(10103, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {at, base_.Position(), base_.Size()});
}

void TABSCompressedBLOBStream::OverwriteInside(const char* src, int64_t count) {
  // Every byte from the first block touched to the end is gathered, patched
  // and written again: compressed blocks cannot change size in place.
  const int first = FindBlock(position_);
  const int64_t tailStart = blocks_[static_cast<size_t>(first)].offset;
  TABSTemporaryStream tail;
  for (int j = first; j < static_cast<int>(blocks_.size()); ++j)
    WriteStreamExact(tail, LoadBlock(j), blocks_[static_cast<size_t>(j)].uncompSize, 10100);
  tail.Seek(position_ - tailStart);
  WriteStreamExact(tail, src, count, 10100);
  CutAtBlock(first);
  tail.Seek(0);
  const int64_t total = tail.Size();
  TABSMemBlock chunk = AllocBlock(static_cast<uint64_t>(std::min<int64_t>(blockSize_, total)));
  for (int64_t done = 0; done < total;) {
    const int64_t n = std::min<int64_t>(blockSize_, total - done);
    ReadStreamExact(tail, chunk.get(), n, 10086);
    AppendBytes(chunk.get(), n);
    done += n;
  }
}

int64_t TABSCompressedBLOBStream::Write(const void* src, int64_t count) {
  if (count <= 0) return 0;
  if (algorithm_ == acaNone) {
    const int64_t at = start_ + position_;
    const int64_t reached = base_.Seek(at);
    if (reached != at)
      throw EABSException(10102, "Cannot set stream position to %d. Position = %d, Size = %d",
                          {at, reached, base_.Size()});
    const int64_t written = base_.Write(src, count);
    position_ += written;
    size_ = std::max(size_, position_);
    return written;
  }
  if (position_ < size_)
    OverwriteInside(static_cast<const char*>(src), count);
  else
    AppendBytes(static_cast<const char*>(src), count);
  position_ += count;
  return count;
}

int64_t TABSCompressedBLOBStream::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, size_);
  return position_;
}

void TABSCompressedBLOBStream::ExtendWithZeros(int64_t newSize) {
  if (newSize <= size_)
    throw EABSException(10098, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
                        {newSize, size_, newSize - size_});
  const int64_t step = std::min<int64_t>(blockSize_, newSize - size_);
  TABSMemBlock zeros = AllocBlock(static_cast<uint64_t>(step), true);
  const int64_t keep = position_;
  position_ = size_;
  while (size_ < newSize) {
    const int64_t n = std::min(step, newSize - size_);
    WriteStreamExact(*this, zeros.get(), n, 10101);
  }
  position_ = keep;
}

void TABSCompressedBLOBStream::SetSize(int64_t newSize) {
  newSize = std::max<int64_t>(newSize, 0);
  if (newSize > size_) {
    ExtendWithZeros(newSize);
    return;
  }
  if (newSize < size_) {
    if (algorithm_ == acaNone) {
      CutBase(start_ + newSize);
      size_ = newSize;
    } else {
      const int i = FindBlock(newSize);
      const Block b = blocks_[static_cast<size_t>(i)];
      const int64_t keep = newSize - b.offset;
      TABSMemBlock prefix;
      if (keep > 0) {
        prefix = AllocBlock(static_cast<uint64_t>(keep));
        std::memcpy(prefix.get(), LoadBlock(i), static_cast<size_t>(keep));
      }
      CutAtBlock(i);
      if (keep > 0) AppendBytes(prefix.get(), keep);
    }
  }
  position_ = std::min(position_, size_);
}

TABSCompressedStreamDescriptor TABSCompressedBLOBStream::Descriptor() const {
  TABSCompressedStreamDescriptor d;
  d.BlockSize = blockSize_;
  d.BlockCount = algorithm_ == acaNone ? 0 : static_cast<int64_t>(blocks_.size());
  d.UncompressedSize = size_;
  d.StartPosition = start_;
  d.CompressionAlgorithm = algorithm_;
  d.CompressionMode = mode_;
  return d;
}

int64_t TABSCompressedBLOBStream::StoredSize() const {
  if (algorithm_ == acaNone) return size_;
  if (blocks_.empty()) return 0;
  return blocks_.back().headerPos + kBlockHeaderSize + blocks_.back().compSize - start_;
}

double TABSCompressedBLOBStream::CompressionRate() const {
  if (size_ <= 0) return 0.0;
  return (1.0 - static_cast<double>(StoredSize()) / static_cast<double>(size_)) * 100.0;
}

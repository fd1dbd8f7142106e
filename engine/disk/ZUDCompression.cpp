#include "disk/ZUDCompression.h"

#include <bzlib.h>
#include <zlib.h>

#include <strings.h>
#include <algorithm>
#include <cstring>

#include "core/ZUDExcept.h"
#include "disk/PpmdModel.h"

namespace {

constexpr int64_t kGrowStep = 256;
// zlib and libbz2 count in unsigned int: one call moves at most this much.
constexpr int64_t kCodecLimit = std::numeric_limits<int32_t>::max();

int64_t InitialOutputSize(int64_t inSize) { return ((inSize + inSize / 10 + 267) / 256) * 256; }

// Grows `buf` from `size` to `newSize` bytes, keeping the contents.
void GrowBlock(TABSMemBlock& buf, int64_t newSize) {
  void* p = buf.release();
  try {
    MemoryManager().ReallocMem(p, static_cast<uint64_t>(newSize), false);
  } catch (...) {
    buf.reset(static_cast<char*>(p));
    throw;
  }
  buf.reset(static_cast<char*>(p));
}

bool ZlibCompress(int level, const void* in, int64_t inSize, TABSMemBlock& out, int64_t& outSize) {
  z_stream z{};
  if (deflateInit(&z, level) != Z_OK) return false;
  int64_t capacity = InitialOutputSize(inSize);
  bool ok = false;
  try {
    out = AllocBlock(static_cast<uint64_t>(capacity));
    z.next_in = static_cast<Bytef*>(const_cast<void*>(in));
    z.avail_in = static_cast<uInt>(inSize);
    z.next_out = reinterpret_cast<Bytef*>(out.get());
    z.avail_out = static_cast<uInt>(capacity);
    for (;;) {
      const int rc = deflate(&z, Z_FINISH);
      if (rc == Z_STREAM_END) {
        ok = true;
        break;
      }
      if (rc != Z_OK && rc != Z_BUF_ERROR) break;
      if (z.avail_out != 0) break;  // no progress without room: a codec fault
      if (capacity + kGrowStep > kCodecLimit) break;
      GrowBlock(out, capacity + kGrowStep);
      z.next_out = reinterpret_cast<Bytef*>(out.get()) + capacity;
      z.avail_out = static_cast<uInt>(kGrowStep);
      capacity += kGrowStep;
    }
  } catch (...) {
    deflateEnd(&z);
    throw;
  }
  outSize = static_cast<int64_t>(z.total_out);
  deflateEnd(&z);
  if (!ok) out.reset();
  return ok;
}

bool ZlibDecompress(const void* in, int64_t inSize, int64_t& outSize, TABSMemBlock& out, int64_t maxOut) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  int64_t capacity = std::clamp<int64_t>(outSize, 1, maxOut > 0 ? maxOut : 1);
  bool ok = false;
  try {
    out = AllocBlock(static_cast<uint64_t>(capacity));
    z.next_in = static_cast<Bytef*>(const_cast<void*>(in));
    z.avail_in = static_cast<uInt>(inSize);
    z.next_out = reinterpret_cast<Bytef*>(out.get());
    z.avail_out = static_cast<uInt>(capacity);
    for (;;) {
      const int rc = inflate(&z, Z_FINISH);
      if (rc == Z_STREAM_END) {
        ok = z.avail_in == 0;  // trailing bytes after the stream: damaged
        break;
      }
      // Out of room with input left: grow; anything else is damage.
      if ((rc != Z_OK && rc != Z_BUF_ERROR) || z.avail_out != 0 || z.avail_in == 0) break;
      const int64_t grown = std::min<int64_t>(capacity + std::max<int64_t>(capacity / 2, kGrowStep), maxOut);
      if (grown <= capacity) break;
      GrowBlock(out, grown);
      z.next_out = reinterpret_cast<Bytef*>(out.get()) + capacity;
      z.avail_out = static_cast<uInt>(grown - capacity);
      capacity = grown;
    }
  } catch (...) {
    inflateEnd(&z);
    throw;
  }
  outSize = static_cast<int64_t>(z.total_out);
  inflateEnd(&z);
  if (!ok) out.reset();
  return ok;
}

bool BZipCompress(int level, const void* in, int64_t inSize, TABSMemBlock& out, int64_t& outSize) {
  if (level < 1 || level > 9) return false;
  int64_t capacity = InitialOutputSize(inSize);
  out = AllocBlock(static_cast<uint64_t>(capacity));
  for (;;) {
    unsigned int destLen = static_cast<unsigned int>(capacity);
    const int rc = BZ2_bzBuffToBuffCompress(out.get(), &destLen, static_cast<char*>(const_cast<void*>(in)),
                                            static_cast<unsigned int>(inSize), level, 0, 0);
    if (rc == BZ_OK) {
      outSize = destLen;
      return true;
    }
    if (rc != BZ_OUTBUFF_FULL || capacity + kGrowStep > kCodecLimit) break;
    capacity += kGrowStep;
    out = AllocBlock(static_cast<uint64_t>(capacity));
  }
  out.reset();
  return false;
}

bool BZipDecompress(const void* in, int64_t inSize, int64_t& outSize, TABSMemBlock& out, int64_t maxOut) {
  int64_t capacity = std::clamp<int64_t>(outSize, 1, maxOut > 0 ? maxOut : 1);
  for (;;) {
    out = AllocBlock(static_cast<uint64_t>(capacity));
    unsigned int destLen = static_cast<unsigned int>(capacity);
    const int rc = BZ2_bzBuffToBuffDecompress(out.get(), &destLen, static_cast<char*>(const_cast<void*>(in)),
                                              static_cast<unsigned int>(inSize), 0, 0);
    if (rc == BZ_OK) {
      outSize = destLen;
      return true;
    }
    const int64_t grown = std::min<int64_t>(capacity + std::max<int64_t>(capacity / 2, kGrowStep), maxOut);
    if (rc != BZ_OUTBUFF_FULL || grown <= capacity) break;
    capacity = grown;
  }
  out.reset();
  return false;
}

}  // namespace

const char* CompressionAlgorithmName(uint8_t algorithm) {
  switch (algorithm) {
    case acaNone: return "NONE";
    case acaZlib: return "ZLIB";
    case acaBZip: return "BZIP";
    case acaPPM: return "PPM";
    default: return "";
  }
}

int CompressionAlgorithmByName(const char* name) {
  if (name == nullptr) return -1;
  for (int id = acaNone; id <= acaPPM; ++id)
    if (strcasecmp(name, CompressionAlgorithmName(static_cast<uint8_t>(id))) == 0) return id;
  return -1;
}

int32_t DefaultCompressionBlockSize(uint8_t level) {
  if (level == 0) return 102400;
  if (level <= 3) return 524288;
  if (level <= 6) return 1048576;
  return 1572864;
}

bool CompressBuffer(uint8_t algorithm, uint8_t level, const void* in, int64_t inSize, TABSMemBlock& out,
                    int64_t& outSize) {
  outSize = 0;
  out.reset();
  if (in == nullptr || inSize <= 0 || inSize > kCodecLimit / 2) return false;
  switch (algorithm) {
    case acaZlib:
      if (level < 1 || level > 9) return false;
      return ZlibCompress(level, in, inSize, out, outSize);
    case acaBZip: return BZipCompress(level, in, inSize, out, outSize);
    case acaPPM:
      if (level < 1 || level > 9) return false;
      return PpmdCompress(level, static_cast<const uint8_t*>(in), inSize, out, outSize);
    default: return false;
  }
}

bool DecompressBuffer(uint8_t algorithm, const void* in, int64_t inSize, int64_t& outSize, TABSMemBlock& out,
                      int64_t maxOutSize) {
  out.reset();
  maxOutSize = std::min(maxOutSize, kCodecLimit);
  if (in == nullptr || inSize <= 0 || inSize > kCodecLimit || maxOutSize <= 0) {
    outSize = 0;
    return false;
  }
  switch (algorithm) {
    case acaZlib: return ZlibDecompress(in, inSize, outSize, out, maxOutSize);
    case acaBZip: return BZipDecompress(in, inSize, outSize, out, maxOutSize);
    case acaPPM: return PpmdDecompress(static_cast<const uint8_t*>(in), inSize, outSize, out, maxOutSize);
    default: outSize = 0; return false;
  }
}

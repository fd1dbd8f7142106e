// Buffer compression, the compressed BLOB stream and the engine's file and
// temporary streams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "DiskTestUtil.h"
#include "core/ZUDMemory.h"
#include "disk/BlobCompressedStream.h"
#include "disk/StreamFile.h"
#include "disk/ZUDCompression.h"

namespace {

// Text-like bytes that compress, with some noise so blocks differ.
std::string SampleBytes(int64_t n, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  static const char kWords[][8] = {"alta ", "baja ", "dias ", "coef ", "2010 ", "parcial"};
  std::string s;
  s.reserve(static_cast<size_t>(n));
  while (static_cast<int64_t>(s.size()) < n) {
    if (rng() % 7 == 0)
      s.push_back(static_cast<char>(rng()));
    else
      s += kWords[rng() % 6];
  }
  s.resize(static_cast<size_t>(n));
  return s;
}

std::string Decompressed(uint8_t alg, const TABSMemBlock& in, int64_t inSize, int64_t expected) {
  TABSMemBlock out;
  int64_t outSize = expected;
  EXPECT_TRUE(DecompressBuffer(alg, in.get(), inSize, outSize, out));
  return out ? std::string(out.get(), static_cast<size_t>(outSize)) : std::string();
}

struct Codec {
  uint8_t alg, level;
};
const Codec kCodecs[] = {{acaZlib, 1}, {acaZlib, 6}, {acaZlib, 9}, {acaBZip, 1}, {acaBZip, 5},
                         {acaBZip, 9}, {acaPPM, 1},  {acaPPM, 5},  {acaPPM, 9}};

TEST(CompressBuffer, RoundTripsEveryLevel) {
  const std::string random = [] {
    std::mt19937 rng(7);
    std::string s(70000, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  }();
  for (const Codec& c : kCodecs) {
    for (const std::string& input : {std::string("x"), SampleBytes(300000), random, std::string(200000, '\0')}) {
      TABSMemBlock comp;
      int64_t compSize = 0;
      ASSERT_TRUE(CompressBuffer(c.alg, c.level, input.data(), static_cast<int64_t>(input.size()), comp, compSize));
      // An expected size that is too small still decompresses: the buffer grows.
      for (int64_t expected : {static_cast<int64_t>(input.size()), int64_t{1}})
        EXPECT_EQ(Decompressed(c.alg, comp, compSize, expected), input)
            << int(c.alg) << "/" << int(c.level) << " size " << input.size();
    }
  }
}

TEST(CompressBuffer, RefusesWhatItCannotDo) {
  const std::string input = SampleBytes(1000);
  TABSMemBlock out;
  int64_t outSize = 0;
  EXPECT_FALSE(CompressBuffer(acaNone, 1, input.data(), 1000, out, outSize));
  EXPECT_FALSE(CompressBuffer(acaZlib, 1, input.data(), 0, out, outSize));
  EXPECT_FALSE(CompressBuffer(acaZlib, 0, input.data(), 1000, out, outSize));
  EXPECT_FALSE(CompressBuffer(acaBZip, 10, input.data(), 1000, out, outSize));
  EXPECT_FALSE(CompressBuffer(7, 1, input.data(), 1000, out, outSize));
  EXPECT_FALSE(CompressBuffer(acaPPM, 0, input.data(), 1000, out, outSize));
  EXPECT_FALSE(CompressBuffer(acaPPM, 10, input.data(), 1000, out, outSize));
  EXPECT_FALSE(CompressBuffer(acaPPM, 1, input.data(), 0, out, outSize));
  // Text is no PPMd stream: its first bytes are no variant-G header word.
  outSize = 1000;
  EXPECT_FALSE(DecompressBuffer(acaPPM, input.data(), 1000, outSize, out));
}

TEST(DecompressBuffer, DamagedOrOversizedInputFails) {
  const std::string input = SampleBytes(50000);
  for (const Codec& c : {kCodecs[0], kCodecs[3], kCodecs[7]}) {
    TABSMemBlock comp;
    int64_t compSize = 0;
    ASSERT_TRUE(CompressBuffer(c.alg, c.level, input.data(), 50000, comp, compSize));
    TABSMemBlock out;
    int64_t outSize = 50000;
    // A bound below the real length: refused, not grown without limit.
    EXPECT_FALSE(DecompressBuffer(c.alg, comp.get(), compSize, outSize, out, 49999));
    // Truncated input.
    outSize = 50000;
    EXPECT_FALSE(DecompressBuffer(c.alg, comp.get(), compSize / 2, outSize, out));
    // A flipped byte in the middle: the codec's own checks catch it.
    comp.get()[compSize / 2] ^= 0x5A;
    outSize = 50000;
    const bool ok = DecompressBuffer(c.alg, comp.get(), compSize, outSize, out);
    EXPECT_TRUE(!ok || std::string(out.get(), static_cast<size_t>(outSize)) != input);
  }
}

TEST(CompressionNames, IdsAndDefaultBlockSizes) {
  EXPECT_STREQ(CompressionAlgorithmName(acaBZip), "BZIP");
  EXPECT_EQ(CompressionAlgorithmByName("zlib"), acaZlib);
  EXPECT_EQ(CompressionAlgorithmByName("LZMA"), -1);
  const std::pair<uint8_t, int32_t> sizes[] = {{0, 102400},  {1, 524288},  {3, 524288}, {4, 1048576},
                                               {6, 1048576}, {7, 1572864}, {9, 1572864}};
  for (auto [level, size] : sizes) EXPECT_EQ(DefaultCompressionBlockSize(level), size) << int(level);
}

// --- the compressed BLOB stream ----------------------------------------

TABSCompressedStreamDescriptor Desc(uint8_t alg, uint8_t level, int32_t blockSize,
                                    const TABSCompressedStreamDescriptor* after = nullptr) {
  TABSCompressedStreamDescriptor d;
  d.BlockSize = blockSize;
  d.CompressionAlgorithm = alg;
  d.CompressionMode = level;
  if (after) {
    d.BlockCount = after->BlockCount;
    d.UncompressedSize = after->UncompressedSize;
  }
  return d;
}

std::string ReadWhole(TABSStream& s) {
  std::string out(static_cast<size_t>(s.Size()), '\0');
  s.Seek(0);
  EXPECT_EQ(s.Read(out.data(), s.Size()), s.Size());
  return out;
}

// Writes `value` into a new compressed stream over `base`, in pieces of
// `piece` bytes, and gives the descriptor back.
TABSCompressedStreamDescriptor WriteValue(TABSStream& base, const TABSCompressedStreamDescriptor& d,
                                          const std::string& value, int64_t piece) {
  TABSCompressedBLOBStream s(base, false, true, d);
  for (int64_t at = 0; at < static_cast<int64_t>(value.size()); at += piece) {
    const int64_t n = std::min<int64_t>(piece, static_cast<int64_t>(value.size()) - at);
    EXPECT_EQ(s.Write(value.data() + at, n), n);
  }
  EXPECT_EQ(s.Size(), static_cast<int64_t>(value.size()));
  return s.Descriptor();
}

TEST(CompressedBlobStream, RoundTripsValuesOfEverySizeWithEveryAlgorithm) {
  struct Case {
    uint8_t alg, level;
    int32_t blockSize;
  };
  const Case cases[] = {{acaNone, 0, 0},      {acaZlib, 1, 4096}, {acaZlib, 6, 0},    {acaZlib, 9, 65536},
                        {acaBZip, 1, 100000}, {acaBZip, 9, 0},    {acaBZip, 5, 4096}, {acaPPM, 1, 0}};
  const int64_t sizes[] = {0, 1, 4056, 3 * 4096 + 17, 3 * 1048576 + 5};
  for (const Case& c : cases) {
    for (int64_t size : sizes) {
      const std::string value = SampleBytes(size, static_cast<uint32_t>(size));
      TABSMemoryStream base;
      const auto d = WriteValue(base, Desc(c.alg, c.level, c.blockSize), value, 70001);
      EXPECT_EQ(d.UncompressedSize, size);
      TABSCompressedBLOBStream again(base, false, false, Desc(c.alg, c.level, c.blockSize, &d));
      EXPECT_EQ(ReadWhole(again), value) << int(c.alg) << "/" << int(c.level) << " size " << size;
      if (c.alg != acaNone && size > 0) {
        const int32_t bs = c.blockSize ? c.blockSize : DefaultCompressionBlockSize(c.level);
        EXPECT_EQ(d.BlockCount, (size + bs - 1) / bs);
        EXPECT_EQ(again.StoredSize(), base.Size());
      }
    }
  }
}

TEST(CompressedBlobStream, BlockSizesFollowTheDescriptor) {
  const std::string value = SampleBytes(1000000);
  struct Case {
    int32_t blockSize;
    int64_t blocks, lastBlock;
  };
  for (const Case& c : {Case{65536, 16, 16960}, Case{0, 2, 475712}}) {
    TABSMemoryStream base;
    const auto d = WriteValue(base, Desc(acaZlib, 1, c.blockSize), value, 1000000);
    EXPECT_EQ(d.BlockCount, c.blocks);
    // Walk to the last header and read its UncompSize.
    int64_t pos = 0;
    for (int64_t i = 0; i + 1 < d.BlockCount; ++i) pos += zud::GetI64(base.Bytes().data() + pos + 12);
    EXPECT_EQ(zud::GetI32(base.Bytes().data() + pos + 4), c.lastBlock);
    TABSCompressedBLOBStream again(base, false, false, Desc(acaZlib, 1, c.blockSize, &d));
    EXPECT_GT(again.CompressionRate(), 50.0);
  }
}

TEST(CompressedBlobStream, AppendingFillsTheLastBlockBeforeAddingOne) {
  TABSMemoryStream base;
  auto d = WriteValue(base, Desc(acaZlib, 6, 1000), SampleBytes(2500), 2500);
  ASSERT_EQ(d.BlockCount, 3);
  TABSCompressedBLOBStream s(base, false, false, Desc(acaZlib, 6, 1000, &d));
  s.Seek(s.Size());
  s.Write("0123456789", 10);
  EXPECT_EQ(s.Descriptor().BlockCount, 3);
  s.Write(std::string(490, 'z').data(), 490);  // 510 + 490: exactly full
  EXPECT_EQ(s.Descriptor().BlockCount, 3);
  s.Write("!", 1);
  EXPECT_EQ(s.Descriptor().BlockCount, 4);
  EXPECT_EQ(ReadWhole(s), SampleBytes(2500) + "0123456789" + std::string(490, 'z') + "!");
}

// Writes and size changes at random places against a plain string.
TEST(CompressedBlobStream, WritesAnywhereMatchAPlainModel) {
  for (uint8_t alg : {acaNone, acaZlib, acaBZip}) {
    std::mt19937 rng(alg + 11);
    TABSMemoryStream base;
    auto d = Desc(alg, 1, 512);
    std::string model;
    {
      TABSCompressedBLOBStream s(base, false, true, d);
      for (int step = 0; step < 120; ++step) {
        const int op = static_cast<int>(rng() % 10);
        if (op < 7) {
          const int64_t at = model.empty() ? 0 : static_cast<int64_t>(rng() % (model.size() + 1));
          const std::string piece = SampleBytes(1 + rng() % 1500, rng());
          s.Seek(at);
          ASSERT_EQ(s.Write(piece.data(), static_cast<int64_t>(piece.size())), static_cast<int64_t>(piece.size()));
          if (model.size() < at + piece.size()) model.resize(at + piece.size());
          model.replace(static_cast<size_t>(at), piece.size(), piece);
        } else {
          const int64_t size = static_cast<int64_t>(rng() % (model.size() + 2000));
          s.SetSize(size);
          model.resize(static_cast<size_t>(size), '\0');
        }
        ASSERT_EQ(s.Size(), static_cast<int64_t>(model.size()));
      }
      ASSERT_EQ(ReadWhole(s), model);
      d = s.Descriptor();
    }
    // The stored form alone (a new stream over the same bytes) gives it back.
    TABSCompressedBLOBStream again(base, false, false, d);
    EXPECT_EQ(ReadWhole(again), model) << int(alg);
  }
}

TEST(CompressedBlobStream, ADamagedBlockFailsAloneAndOthersStillRead) {
  const std::string value = SampleBytes(4 * 4096);
  struct Damage {
    int offsetInBlock;  // from the block header; 20.. is compressed data
    int32_t code;
  };
  // A byte inside the compressed data: the codec or the CRC notices; the
  // CRC field itself: only the CRC check can.
  for (const Codec& c : {Codec{acaZlib, 6}, Codec{acaPPM, 3}})
    for (const Damage& dmg : {Damage{40, 0}, Damage{8, 10089}}) {
      TABSMemoryStream base;
      const auto d = WriteValue(base, Desc(c.alg, c.level, 4096), value, 16384);
      std::string bytes = base.Bytes();
      int64_t block2 = 0;
      for (int i = 0; i < 2; ++i) block2 += zud::GetI64(bytes.data() + block2 + 12);
      bytes[static_cast<size_t>(block2 + dmg.offsetInBlock)] ^= 0x21;
      TABSMemoryStream damaged(bytes);
      TABSCompressedBLOBStream s(damaged, false, false, Desc(c.alg, c.level, 4096, &d));
      std::string buf(4096, '\0');
      s.Seek(0);
      EXPECT_EQ(s.Read(buf.data(), 4096), 4096);
      EXPECT_EQ(buf, value.substr(0, 4096));
      s.Seek(3 * 4096);
      EXPECT_EQ(s.Read(buf.data(), 4096), 4096);
      EXPECT_EQ(buf, value.substr(3 * 4096));
      s.Seek(2 * 4096 + 5);
      std::string message;
      const int32_t code = NativeCodeOf([&] { s.Read(buf.data(), 10); }, &message);
      if (dmg.code) {
        EXPECT_EQ(code, dmg.code);
      }
      EXPECT_THAT(code, ::testing::AnyOf(10087, 10088, 10089)) << "damaged block read: " << message;
    }
}

// Each byte of a PPMd block, header included, flipped in turn: reading the
// value either fails with an engine error or gives the value back, never a
// wrong value or a fault.
TEST(CompressedBlobStream, EveryFlippedByteOfAPpmdBlockFailsOrReadsBack) {
  const std::string value = SampleBytes(1000, 3);
  for (uint8_t level : {2, 9}) {
    TABSMemoryStream base;
    const auto d = WriteValue(base, Desc(acaPPM, level, 4096), value, 1000);
    const std::string good = base.Bytes();
    int failed = 0;
    for (size_t i = 0; i < good.size(); ++i) {
      std::string bad = good;
      bad[i] = static_cast<char>(~bad[i]);
      TABSMemoryStream damaged(bad);
      std::string back(value.size(), '\0');
      const int32_t code = NativeCodeOf([&] {
        TABSCompressedBLOBStream s(damaged, false, false, Desc(acaPPM, level, 4096, &d));
        EXPECT_EQ(s.Read(back.data(), static_cast<int64_t>(back.size())), static_cast<int64_t>(back.size()));
      });
      if (code != 0)
        ++failed;
      else
        EXPECT_EQ(back, value) << "level " << int(level) << " byte " << i;
    }
    // Every byte of the coded data and of the CRC is checked.
    EXPECT_GE(failed, static_cast<int>(good.size()) - 20 + 4) << "level " << int(level);
  }
}

TEST(CompressedBlobStream, DamagedHeadersAreEngineErrors) {
  TABSMemoryStream base;
  const auto d = WriteValue(base, Desc(acaBZip, 1, 1000), SampleBytes(3500), 3500);
  const std::string good = base.Bytes();
  auto open = [&](const std::string& bytes, TABSCompressedStreamDescriptor desc, bool partial = false) {
    TABSMemoryStream s(bytes);
    TABSCompressedBLOBStream c(s, partial, false, desc);
    return c.Size();
  };
  // The stream ends inside the last block header.
  int64_t third = 0;
  for (int i = 0; i < 3; ++i) third += zud::GetI64(good.data() + third + 12);
  ExpectEngineError(
      [&] { open(good.substr(0, static_cast<size_t>(third + 10)), d); }, 10081,
      "Stream size = " + std::to_string(third + 10) + " too small. Should be at least = " + std::to_string(third + 20));
  // The stream ends inside a block's compressed bytes.
  ExpectEngineError([&] { open(good.substr(0, static_cast<size_t>(third - 5)), d); }, 10083);
  // Partial keeps the blocks that are there.
  TABSMemoryStream partialBase(good.substr(0, 10));
  EXPECT_EQ(TABSCompressedBLOBStream(partialBase, true, false, d).Descriptor().BlockCount, 0);
  // Sizes that do not add up to the descriptor's.
  auto wrongSize = d;
  wrongSize.UncompressedSize += 1;
  ExpectEngineError([&] { open(good, wrongSize); }, 10092, "Invalid stream size = 3500. Should be = 3501");
  // A next-block offset that points backwards, a CompSize past the end.
  for (int field : {12, 0}) {
    std::string bad = good;
    zud::PutU32(bad.data() + field, field == 12 ? 3u : 0x7FFFFF00u);
    ExpectEngineError([&] { open(bad, d); }, 10083);
  }
  // Algorithm 0 needs the whole value after StartPosition.
  auto plain = Desc(acaNone, 0, 0);
  plain.UncompressedSize = static_cast<int64_t>(good.size()) + 1;
  ExpectEngineError([&] { open(good, plain); }, 10082);
}

TEST(CompressedBlobStream, ABlockPastTheMemoryLimitFailsCleanly) {
  TABSMemoryStream base;
  const auto d = WriteValue(base, Desc(acaZlib, 1, 1048576), std::string(3 * 1048576, 'a'), 3 * 1048576);
  TABSCompressedBLOBStream s(base, false, false, Desc(acaZlib, 1, 1048576, &d));
  MemoryManager().SetLimit(MemoryManager().AllocatedBytes() + 500000);
  std::string buf(100, '\0');
  ExpectEngineError([&] { s.Read(buf.data(), 100); }, 30004);
  MemoryManager().SetLimit(0);
  EXPECT_EQ(s.Read(buf.data(), 100), 100);
  EXPECT_EQ(buf, std::string(100, 'a'));
}

TEST(CompressedBlobStream, DescriptorBytes) {
  TABSCompressedStreamDescriptor d{65536, 16, 1000000, 77, acaBZip, 9};
  uint8_t b[32];
  d.Write(b);
  EXPECT_EQ(zud::GetI32(b), 65536);
  EXPECT_EQ(zud::GetI64(b + 12), 1000000);
  EXPECT_EQ(b[28], acaBZip);
  const auto back = TABSCompressedStreamDescriptor::Read(b);
  EXPECT_EQ(back.BlockCount, 16);
  EXPECT_EQ(back.StartPosition, 77);
  EXPECT_EQ(back.CompressionMode, 9);
}

// --- file and temporary streams -------------------------------------------

TEST(FileStream, CreateIsExclusiveAndOpenNamesTheMode) {
  ScratchDir dir;
  const std::string path = dir.File("a.bin");
  {
    TABSFileStream s(path, kFileModeCreate);
    EXPECT_EQ(s.Write("hello", 5), 5);
  }
  ExpectEngineError([&] { TABSFileStream(path, kFileModeCreate); }, 10104, "Cannot create file. FileName = " + path);
  ExpectEngineError([&] { TABSFileStream(dir.File("none"), kFileModeOpenRead); }, 10105,
                    "Mode = " + std::to_string(kFileModeOpenRead));
  TABSFileStream s(path, kFileModeOpenReadWrite | kFileShareDenyNone);
  EXPECT_EQ(ReadWhole(s), "hello");
  s.SetSize(2);
  EXPECT_EQ(ReadWhole(s), "he");
  {
    TABSFileStream gone(dir.File("b.bin"), kFileModeCreate, true);
    EXPECT_FALSE(std::filesystem::exists(dir.File("b.bin")));
    EXPECT_EQ(gone.Write("x", 1), 1);
  }
}

TEST(TemporaryStream, MovesToAnUnnamedFileBeyondOneMebibyte) {
  ScratchDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir.File("").c_str(), 1);
  const std::string value = SampleBytes(3 * 1048576);
  for (bool disabled : {false, true}) {
    TABSTemporaryStream s(disabled);
    EXPECT_EQ(s.Write(value.data(), 1048576), 1048576);
    EXPECT_FALSE(s.InFile());
    s.Seek(1000);
    EXPECT_EQ(s.Write(value.data() + 1000, 10), 10);  // overwrite: no growth
    EXPECT_FALSE(s.InFile());
    s.Seek(1048576);
    EXPECT_EQ(s.Write(value.data() + 1048576, 2 * 1048576), 2 * 1048576);
    EXPECT_EQ(s.InFile(), !disabled);
    EXPECT_EQ(s.Position(), 3 * 1048576);
    EXPECT_EQ(ReadWhole(s), value);
    // The file has no name in the temporary folder while it is in use.
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("")));
  }
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

TEST(StreamCopy, CopiesInBlocksAndReportsProgress) {
  const std::string value = SampleBytes(250000);
  TABSMemoryStream from(value);
  from.BlockSize = 100000;
  TABSTemporaryStream to;
  std::vector<int> progress;
  to.OnProgress = [&](int p) { progress.push_back(p); };
  to.CopyFrom(from, 250000);
  EXPECT_EQ(progress, (std::vector<int>{40, 80, 100}));
  EXPECT_EQ(ReadWhole(to), value);
  from.Seek(200000);
  ExpectEngineError([&] { to.CopyFrom(from, 100000); }, 10086, "Bytes Read = 50000");
  from.BlockSize = 0;
  ExpectEngineError([&] { to.CopyFrom(from, 10); }, 20149, "Stream block size = 0 is not allowed");
}

}  // namespace

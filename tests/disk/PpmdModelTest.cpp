// The PPMd codec on its own: round trips at every level, the header word,
// hostile headers and damaged coded bytes, the model memory as the bound of
// what a header can make it allocate, inputs that pass the model memory,
// and the compression of text against zlib's best.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

#include "core/ZUDMemory.h"
#include "disk/PpmdModel.h"
#include "support/EngineError.h"

namespace {

// Our own documents: real prose and tables, about 50 KB.
const std::string& Text() {
  static const std::string text = [] {
    std::string all;
    for (const char* name : {"docs/file-format.md", "CONTRIBUTING.md", "README.md"}) {
      std::ifstream f(std::string(TIVORAN_SOURCE_ROOT) + "/" + name, std::ios::binary);
      std::stringstream ss;
      ss << f.rdbuf();
      all += ss.str();
    }
    return all;
  }();
  return text;
}

std::string Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

struct Packed {
  TABSMemBlock bytes;
  int64_t size = 0;
  std::string Str() const { return std::string(bytes.get(), static_cast<size_t>(size)); }
};

Packed Compress(uint8_t level, const std::string& in) {
  Packed p;
  EXPECT_TRUE(PpmdCompress(level, reinterpret_cast<const uint8_t*>(in.data()), static_cast<int64_t>(in.size()), p.bytes,
                           p.size));
  return p;
}

// The decoded bytes; `ok` tells whether the decoder accepted them.
std::string Decompress(const std::string& packed, bool& ok, int64_t expected = 1, int64_t maxOut = 1 << 20) {
  TABSMemBlock out;
  int64_t outSize = expected;
  ok = PpmdDecompress(reinterpret_cast<const uint8_t*>(packed.data()), static_cast<int64_t>(packed.size()), outSize,
                      out, maxOut);
  if (!ok) {
    EXPECT_EQ(outSize, 0);
    EXPECT_FALSE(out);
    return {};
  }
  return std::string(out.get(), static_cast<size_t>(outSize));
}

uint32_t HeaderWord(const std::string& packed) {
  return static_cast<uint8_t>(packed[0]) | static_cast<uint8_t>(packed[1]) << 8 |
         static_cast<uint8_t>(packed[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(packed[3])) << 24;
}

std::string WithHeader(std::string packed, uint32_t word) {
  for (int i = 0; i < 4; ++i) packed[static_cast<size_t>(i)] = static_cast<char>(word >> (8 * i));
  return packed;
}

TEST(Ppmd, RoundTripsEveryLevelAndNamesOrderAndMemoryInItsHeader) {
  const struct {
    uint8_t level;
    int order, memoryMiB;
  } levels[] = {{1, 2, 2},  {2, 3, 3},   {3, 4, 7},    {4, 5, 16},  {5, 7, 22},
                {6, 8, 25}, {7, 10, 40}, {8, 13, 100}, {9, 16, 100}};
  const std::string inputs[] = {"", "a", std::string("\0\xff", 2), Text(), Random(20000, 5), std::string(100000, '\0')};
  for (const auto& l : levels) {
    EXPECT_EQ(PpmdLevelParameters(l.level).order, l.order);
    EXPECT_EQ(PpmdLevelParameters(l.level).memoryMiB, l.memoryMiB);
    for (const std::string& in : inputs) {
      SCOPED_TRACE("level " + std::to_string(l.level) + " size " + std::to_string(in.size()));
      const std::string packed = Compress(l.level, in).Str();
      ASSERT_GE(packed.size(), 9u);
      EXPECT_EQ(HeaderWord(packed), static_cast<uint32_t>((l.order - 1) | ((l.memoryMiB - 1) << 4) | 0x6000));
      // Noise grows by less than the first output buffer's slack.
      EXPECT_LE(packed.size(), in.size() + in.size() / 20 + 50);
      // The expected size is only where the output starts: exact or too small.
      for (int64_t expected : {static_cast<int64_t>(in.size()), int64_t{1}}) {
        bool ok = false;
        EXPECT_EQ(Decompress(packed, ok, expected), in);
        EXPECT_TRUE(ok);
      }
    }
  }
  EXPECT_THROW(PpmdLevelParameters(0), std::invalid_argument);
  TABSMemBlock out;
  int64_t outSize = 0;
  EXPECT_FALSE(PpmdCompress(10, reinterpret_cast<const uint8_t*>("x"), 1, out, outSize));
}

TEST(Ppmd, BeatsZlibNineOnTextFromLevelFive) {
  const std::string& text = Text();
  ASSERT_GT(text.size(), 20000u);
  uLongf zlibSize = compressBound(static_cast<uLong>(text.size()));
  std::string zbuf(zlibSize, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(zbuf.data()), &zlibSize, reinterpret_cast<const Bytef*>(text.data()),
                      static_cast<uLong>(text.size()), 9),
            Z_OK);
  std::cout << "text " << text.size() << " bytes, zlib 9: " << zlibSize << "\n";
  for (uint8_t level = 1; level <= 9; ++level) {
    const int64_t size = Compress(level, text).size;
    std::cout << "ppmd level " << int(level) << ": " << size << " (" << 100.0 * double(size) / double(zlibSize)
              << "% of zlib 9)\n";
    if (level >= 5) {
      EXPECT_LT(size, static_cast<int64_t>(zlibSize)) << "level " << int(level);
    }
  }
}

TEST(Ppmd, HostileHeadersAndTruncatedDataAreRefused) {
  const std::string good = Compress(3, Text().substr(0, 5000)).Str();
  const uint32_t word = HeaderWord(good);
  const uint32_t orderAndMemory = word & 0xFFF;
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"variant F", WithHeader(good, orderAndMemory | 0x5000)},
      {"variant H", WithHeader(good, orderAndMemory | 0x7000)},
      {"bits above the letter", WithHeader(good, word | 0x10000)},
      {"order 1", WithHeader(good, (word & ~0xFu))},
      {"101 MiB", WithHeader(good, (word & 0xF) | (100u << 4) | 0x6000)},
      {"256 MiB", WithHeader(good, (word & 0xF) | (255u << 4) | 0x6000)},
      {"empty", ""},
      {"header only", good.substr(0, 4)},
      {"header and four coded bytes", good.substr(0, 8)},
      {"first coded byte not 0",
       [&] {
         std::string b = good;
         b[4] = 1;
         return b;
       }()},
      {"one byte short", good.substr(0, good.size() - 1)},
      {"half", good.substr(0, good.size() / 2)},
      {"a byte too many", good + '\0'},
  };
  for (const auto& c : cases) {
    bool ok = true;
    Decompress(c.bytes, ok, 5000);
    EXPECT_FALSE(ok) << c.what;
  }
  // The caller's bound: one byte under the length fails, the length passes,
  // and the failure leaves nothing behind for the next call.
  bool ok = true;
  Decompress(good, ok, 5000, 4999);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Decompress(good, ok, 5000, 5000), Text().substr(0, 5000));
  EXPECT_TRUE(ok);
}

TEST(Ppmd, AHeaderAllocatesNoMoreThanTheModelMemoryItNames) {
  const std::string text = Text().substr(0, 8000);
  const std::string level1 = Compress(1, text).Str();  // 2 MiB model
  const std::string level2 = Compress(2, text).Str();  // 3 MiB model
  std::string damaged = level1;
  damaged[damaged.size() / 2] ^= 0x40;
  // Room for a 2 MiB model, its output and a little bookkeeping; not for 3.
  MemoryManager().SetLimit(MemoryManager().AllocatedBytes() + (2u << 20) + 64 * 1024);
  bool ok = false;
  EXPECT_EQ(Decompress(level1, ok, 1), text);
  EXPECT_TRUE(ok);
  Decompress(damaged, ok, 1);
  EXPECT_FALSE(ok);
  ExpectEngineError([&] { Decompress(level2, ok, 1); }, 30004);
  MemoryManager().SetLimit(0);
  EXPECT_EQ(Decompress(level2, ok, 1), text);
  EXPECT_TRUE(ok);
}

TEST(Ppmd, EveryFlippedByteFailsOrRoundTrips) {
  const std::string text = Text().substr(1000, 2000);
  for (uint8_t level : {1, 3}) {
    const std::string good = Compress(level, text).Str();
    int refused = 0;
    for (size_t i = 0; i < good.size(); ++i) {
      for (uint8_t mask : {0xFF, 0x01}) {
        if (mask == 0x01 && level != 1) continue;
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ mask);
        bool ok = false;
        const std::string back = Decompress(bad, ok, static_cast<int64_t>(text.size()));
        if (ok)
          EXPECT_EQ(back, text) << "level " << int(level) << " byte " << i << " mask " << int(mask);
        else
          ++refused;
      }
    }
    EXPECT_GT(refused, 0);
  }
}

TEST(Ppmd, InputsThatPassTheModelMemoryRestartItAndStillRoundTrip) {
  // At level 1 (2 MiB) random bytes fill the order-2 contexts and restart
  // the model about every 85 KB; text with runs of noise fills the 256 KiB
  // text area. Both sides must restart at the same symbol.
  std::string mixed;
  std::mt19937 rng(9);
  while (mixed.size() < 1200000) {
    const size_t at = rng() % (Text().size() - 3000);
    mixed += Text().substr(at, 2000 + rng() % 1000);
    mixed += Random(200 + rng() % 300, rng());
  }
  for (const std::string& in : {Random(400000, 11), mixed}) {
    const std::string packed = Compress(1, in).Str();
    bool ok = false;
    EXPECT_EQ(Decompress(packed, ok, static_cast<int64_t>(in.size()), static_cast<int64_t>(in.size())), in);
    EXPECT_TRUE(ok);
  }
}

}  // namespace

// The ciphers of encrypted databases: keys from the password hash, the
// chaining mode with its partial final block, the triple-DES lane scheme,
// and the buffer interface over all eight algorithm ids.
#include <gtest/gtest.h>

#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk/ZUDCipher.h"

using namespace tiv::disk;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes Pattern(size_t size, uint8_t seed = 1) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 5));
  return b;
}

Bytes Enciphered(uint8_t alg, Bytes b, const std::string& password) {
  EXPECT_TRUE(EncipherBuffer(alg, b.data(), b.size(), password));
  return b;
}

// First and last index at which a and b differ; {-1, -1} when equal.
std::pair<long, long> DiffRange(const Bytes& a, const Bytes& b) {
  long first = -1, last = -1;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) {
      if (first < 0) first = static_cast<long>(i);
      last = static_cast<long>(i);
    }
  return {first, last};
}

// Published RIPEMD digests of "abc".
const char* kRipemd128Abc = "c14a12199c66e4ba84636b0f69144c77";
const char* kRipemd256Abc = "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65";

}  // namespace

TEST(CipherKey, IsTheHashPrefixOfEachAlgorithm) {
  struct Case {
    uint8_t alg;
    const char* digest;
    size_t keyBytes;
    size_t blockBytes;
  };
  const Case cases[] = {
      {0, kRipemd128Abc, 16, 16}, {1, kRipemd256Abc, 32, 16}, {2, kRipemd128Abc, 8, 8},   {3, kRipemd128Abc, 16, 24},
      {4, kRipemd256Abc, 32, 8},  {5, kRipemd128Abc, 16, 16}, {6, kRipemd256Abc, 32, 16}, {7, kRipemd128Abc, 16, 16},
  };
  for (const Case& c : cases) {
    Bytes want = FromHex(c.digest);
    want.resize(c.keyBytes);
    EXPECT_EQ(CipherKey(c.alg, "abc"), want) << "algorithm " << int(c.alg);
    EXPECT_EQ(CipherBlockSize(c.alg), c.blockBytes) << "algorithm " << int(c.alg);
  }
  // The empty password is hashed too (published RIPEMD-128 of "").
  EXPECT_EQ(CipherKey(0, ""), FromHex("cdf26213a150dc3ecb610f18f6b38b46"));
}

TEST(CipherKey, UnknownAlgorithmsHaveNoKeyNoBlockAndEncipherNothing) {
  for (uint8_t alg : {uint8_t{8}, uint8_t{9}, uint8_t{255}}) {
    EXPECT_TRUE(CipherKey(alg, "abc").empty());
    EXPECT_EQ(CipherBlockSize(alg), 0u);
    EXPECT_EQ(NewBlockCipher(alg, FromHex(kRipemd128Abc)), nullptr);
    Bytes b = Pattern(64), before = b;
    // Nothing could be enciphered: the call says so instead of leaving the
    // buffer plain and answering success.
    EXPECT_FALSE(EncipherBuffer(alg, b.data(), b.size(), "abc"));
    EXPECT_FALSE(DecipherBuffer(alg, b.data(), b.size(), "abc"));
    EXPECT_EQ(b, before);
  }
}

// The chaining mode recomputed from its definition with plain AES (ECB):
// C := E(P xor F); F := C xor F; a partial tail is in xor E(F).
TEST(CipherChaining, MatchesTheDefinitionWithAes) {
  const Bytes key = FromHex(kRipemd128Abc);
  CryptoPP::Rijndael::Encryption aes(key.data(), key.size());
  const Bytes plain = Pattern(16 * 3 + 5);
  Bytes want(plain.size());
  uint8_t f[16];
  std::memset(f, 0xFF, 16);
  size_t at = 0;
  for (; at + 16 <= plain.size(); at += 16) {
    uint8_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = plain[at + i] ^ f[i];
    aes.ProcessBlock(x, &want[at]);
    for (int i = 0; i < 16; ++i) f[i] ^= want[at + i];
  }
  uint8_t b[16];
  aes.ProcessBlock(f, b);
  for (size_t i = 0; at + i < plain.size(); ++i) want[at + i] = plain[at + i] ^ b[i];

  const Bytes got = Enciphered(0, plain, "abc");
  EXPECT_EQ(got, want);
  Bytes back = got;
  ASSERT_TRUE(DecipherBuffer(0, back.data(), back.size(), "abc"));
  EXPECT_EQ(back, plain);
}

// Algorithm 3 recomputed from its definition with single DES over lanes:
// K1, K2 from the 16-byte key, K3 all zero; only words w1 and w2 move.
TEST(CipherChaining, TripleDesLanesMatchTheDefinition) {
  const Bytes key = FromHex(kRipemd128Abc);
  const uint8_t zero[8] = {};
  CryptoPP::DES::Encryption e1(key.data(), 8), e3(zero, 8);
  CryptoPP::DES::Decryption d2(key.data() + 8, 8);
  auto block = [&](uint8_t* p) {
    for (int l = 0; l < 3; ++l) e1.ProcessBlock(p + 8 * l);
    for (int i = 4; i < 8; ++i) std::swap(p[i], p[i + 4]);
    for (int l = 0; l < 3; ++l) d2.ProcessBlock(p + 8 * l);
    for (int i = 4; i < 8; ++i) std::swap(p[i], p[i + 4]);
    for (int l = 0; l < 3; ++l) e3.ProcessBlock(p + 8 * l);
  };
  const Bytes plain = Pattern(24 * 2 + 5, 9);
  Bytes want = plain;
  uint8_t f[24];
  std::memset(f, 0xFF, 24);
  for (size_t at = 0; at < 48; at += 24) {
    for (int i = 0; i < 24; ++i) want[at + i] ^= f[i];
    block(&want[at]);
    for (int i = 0; i < 24; ++i) f[i] ^= want[at + i];
  }
  block(f);
  for (int i = 0; i < 5; ++i) want[48 + i] ^= f[i];

  EXPECT_EQ(Enciphered(3, plain, "abc"), want);
}

TEST(CipherBuffer, EveryAlgorithmRoundTripsEverySize) {
  const size_t sizes[] = {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 25, 47, 256, 4056};
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    for (size_t size : sizes) {
      const Bytes plain = Pattern(size, static_cast<uint8_t>(alg));
      const Bytes cipher = Enciphered(alg, plain, "Tivoran 2024");
      ASSERT_EQ(cipher.size(), size);
      if (size >= 8) {
        EXPECT_NE(cipher, plain) << "algorithm " << int(alg) << " size " << size;
      }
      Bytes back = cipher;
      ASSERT_TRUE(DecipherBuffer(alg, back.data(), back.size(), "Tivoran 2024"));
      EXPECT_EQ(back, plain) << "algorithm " << int(alg) << " size " << size;
    }
  }
}

// A 4056-byte data area: 253 full 16-byte blocks and an 8-byte tail; 507
// full 8-byte blocks; 169 full 24-byte blocks. A change in the last byte
// reaches from the start of the block that holds it (or only itself in a
// partial tail) to the end; with algorithm 3 only its lane (w4 w5, the last
// 8 bytes of the block), as no stage exchanges the third lane's words. A
// change in the first byte reaches every block.
TEST(CipherBuffer, DataAreaBlockStructure) {
  const size_t kData = 4056;
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    const size_t bs = CipherBlockSize(alg);
    const long lastChangeStart = bs == 16 ? 4055 : 4048;
    const Bytes plain = Pattern(kData);
    const Bytes base = Enciphered(alg, plain, "pw");

    Bytes last = plain;
    last[kData - 1] ^= 0x01;
    EXPECT_EQ(DiffRange(base, Enciphered(alg, last, "pw")), std::make_pair(lastChangeStart, long(kData - 1)))
        << "algorithm " << int(alg);

    Bytes first = plain;
    first[0] ^= 0x01;
    const Bytes changed = Enciphered(alg, first, "pw");
    EXPECT_EQ(DiffRange(base, changed).first, 0);
    // Every block, the tail included, differs.
    for (size_t at = 0; at < kData; at += bs) {
      const size_t n = std::min(bs, kData - at);
      EXPECT_NE(std::memcmp(&base[at], &changed[at], n), 0) << "algorithm " << int(alg) << " block at " << at;
    }
  }
}

TEST(CipherBuffer, DeterministicPerPasswordAndAlgorithm) {
  // Two equal blocks encipher differently (chaining), the same buffer always
  // the same way, and any other password or algorithm otherwise.
  Bytes plain(4056, 'A');
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    const size_t bs = CipherBlockSize(alg);
    const Bytes a = Enciphered(alg, plain, "Secreto");
    EXPECT_EQ(Enciphered(alg, plain, "Secreto"), a);
    EXPECT_NE(std::memcmp(&a[0], &a[bs], bs), 0) << "algorithm " << int(alg);
    EXPECT_NE(Enciphered(alg, plain, "secreto"), a) << "algorithm " << int(alg);
    for (uint8_t other = 0; other < kCryptoAlgorithmCount; ++other) {
      if (other != alg) {
        EXPECT_NE(Enciphered(other, plain, "Secreto"), a) << int(alg) << " vs " << int(other);
      }
    }
  }
}

TEST(CipherBuffer, TheWrongPasswordDoesNotDecipher) {
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    const Bytes plain = Pattern(300);
    Bytes b = Enciphered(alg, plain, "Clave");
    ASSERT_TRUE(DecipherBuffer(alg, b.data(), b.size(), "clave"));
    EXPECT_NE(b, plain) << "algorithm " << int(alg);
  }
}

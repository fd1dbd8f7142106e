#include "disk/ZUDCipher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

namespace tiv::disk {

namespace {

enum class KeyHash { kRipemd128, kRipemd256 };

struct AlgorithmInfo {
  KeyHash hash;
  size_t blockSize;
  size_t maxKeySize;
};

// Indexed by algorithm id (contract 1).
constexpr std::array<AlgorithmInfo, kCryptoAlgorithmCount> kAlgorithms = {{
    {KeyHash::kRipemd128, 16, 32},  // 0 Rijndael
    {KeyHash::kRipemd256, 16, 32},  // 1 Rijndael
    {KeyHash::kRipemd128, 8, 8},    // 2 DES
    {KeyHash::kRipemd128, 24, 24},  // 3 triple DES lanes
    {KeyHash::kRipemd256, 8, 56},   // 4 Blowfish
    {KeyHash::kRipemd128, 16, 32},  // 5 Twofish
    {KeyHash::kRipemd256, 16, 32},  // 6 Twofish
    {KeyHash::kRipemd128, 16, 16},  // 7 Square
}};

constexpr size_t kMaxBlockSize = 24;

template <class Algo>
class CryptoppBlockCipher final : public TABSBlockCipher {
 public:
  explicit CryptoppBlockCipher(std::span<const uint8_t> key)
      : enc_(key.data(), key.size()), dec_(key.data(), key.size()) {}
  size_t BlockSize() const override { return Algo::BLOCKSIZE; }
  void EncryptBlock(const uint8_t* in, uint8_t* out) const override { enc_.ProcessBlock(in, out); }
  void DecryptBlock(const uint8_t* in, uint8_t* out) const override { dec_.ProcessBlock(in, out); }

 private:
  typename Algo::Encryption enc_;
  typename Algo::Decryption dec_;
};

// Algorithm 3 (contract 3): three DES schedules over three 8-byte lanes.
class TripleDesLanes final : public TABSBlockCipher {
 public:
  explicit TripleDesLanes(std::span<const uint8_t> key) {
    std::array<uint8_t, 24> buf{};
    std::memcpy(buf.data(), key.data(), std::min(key.size(), buf.size()));
    for (int k = 0; k < 3; ++k) {
      enc_[k].SetKey(buf.data() + 8 * k, 8);
      dec_[k].SetKey(buf.data() + 8 * k, 8);
    }
  }
  size_t BlockSize() const override { return 24; }
  void EncryptBlock(const uint8_t* in, uint8_t* out) const override {
    if (out != in) std::memmove(out, in, 24);
    Lanes(enc_[0], out);
    ExchangeW1W2(out);
    Lanes(dec_[1], out);
    ExchangeW1W2(out);
    Lanes(enc_[2], out);
  }
  void DecryptBlock(const uint8_t* in, uint8_t* out) const override {
    if (out != in) std::memmove(out, in, 24);
    Lanes(dec_[2], out);
    ExchangeW1W2(out);
    Lanes(enc_[1], out);
    ExchangeW1W2(out);
    Lanes(dec_[0], out);
  }

 private:
  static void Lanes(const CryptoPP::BlockTransformation& des, uint8_t* block) {
    for (int lane = 0; lane < 3; ++lane) des.ProcessBlock(block + 8 * lane);
  }
  // Only w1 (bytes 4..7) and w2 (bytes 8..11) trade places.
  static void ExchangeW1W2(uint8_t* block) {
    for (int i = 4; i < 8; ++i) std::swap(block[i], block[i + 4]);
  }
  std::array<CryptoPP::DES::Encryption, 3> enc_;
  std::array<CryptoPP::DES::Decryption, 3> dec_;
};

// Final partial block, the same both ways: B := E(F); out := in xor B.
void PartialBlock(const TABSBlockCipher& cipher, uint8_t* feedback, uint8_t* data, size_t n) {
  const size_t bs = cipher.BlockSize();
  uint8_t b[kMaxBlockSize];
  cipher.EncryptBlock(feedback, b);
  for (size_t i = 0; i < n; ++i) data[i] ^= b[i];
  for (size_t i = 0; i < bs; ++i) feedback[i] ^= b[i];
}

}  // namespace

size_t CipherBlockSize(uint8_t id) { return IsKnownCryptoAlgorithm(id) ? kAlgorithms[id].blockSize : 0; }

std::vector<uint8_t> CipherKey(uint8_t id, std::string_view passwordBytes) {
  if (!IsKnownCryptoAlgorithm(id)) return {};
  const AlgorithmInfo& info = kAlgorithms[id];
  const auto* text = reinterpret_cast<const CryptoPP::byte*>(passwordBytes.data());
  std::vector<uint8_t> digest;
  if (info.hash == KeyHash::kRipemd128) {
    CryptoPP::RIPEMD128 h;
    digest.resize(h.DigestSize());
    h.CalculateDigest(digest.data(), text, passwordBytes.size());
  } else {
    CryptoPP::RIPEMD256 h;
    digest.resize(h.DigestSize());
    h.CalculateDigest(digest.data(), text, passwordBytes.size());
  }
  digest.resize(std::min(digest.size(), info.maxKeySize));
  return digest;
}

std::unique_ptr<TABSBlockCipher> NewBlockCipher(uint8_t id, std::span<const uint8_t> key) {
  switch (id) {
    case 0:
    case 1: return std::make_unique<CryptoppBlockCipher<CryptoPP::Rijndael>>(key);
    case 2: return std::make_unique<CryptoppBlockCipher<CryptoPP::DES>>(key);
    case 3: return std::make_unique<TripleDesLanes>(key);
    case 4: return std::make_unique<CryptoppBlockCipher<CryptoPP::Blowfish>>(key);
    case 5:
    case 6: return std::make_unique<CryptoppBlockCipher<CryptoPP::Twofish>>(key);
    case 7: return std::make_unique<CryptoppBlockCipher<CryptoPP::Square>>(key);
    default: return nullptr;
  }
}

void EncipherChained(const TABSBlockCipher& cipher, uint8_t* buffer, size_t size) {
  const size_t bs = cipher.BlockSize();
  uint8_t f[kMaxBlockSize];
  std::memset(f, kCipherInitialVectorByte, bs);
  size_t at = 0;
  for (; at + bs <= size; at += bs) {
    uint8_t* p = buffer + at;
    for (size_t i = 0; i < bs; ++i) p[i] ^= f[i];
    cipher.EncryptBlock(p, p);
    for (size_t i = 0; i < bs; ++i) f[i] ^= p[i];
  }
  if (at < size) PartialBlock(cipher, f, buffer + at, size - at);
}

void DecipherChained(const TABSBlockCipher& cipher, uint8_t* buffer, size_t size) {
  const size_t bs = cipher.BlockSize();
  uint8_t f[kMaxBlockSize];
  uint8_t x[kMaxBlockSize];
  std::memset(f, kCipherInitialVectorByte, bs);
  size_t at = 0;
  for (; at + bs <= size; at += bs) {
    uint8_t* p = buffer + at;
    std::memcpy(x, p, bs);
    cipher.DecryptBlock(p, p);
    for (size_t i = 0; i < bs; ++i) {
      p[i] ^= f[i];
      f[i] ^= x[i];
    }
  }
  if (at < size) PartialBlock(cipher, f, buffer + at, size - at);
}

TABSCipher::TABSCipher(uint8_t id, std::string_view passwordBytes) : id_(id) {
  if (!IsKnownCryptoAlgorithm(id)) throw std::invalid_argument("unknown encryption algorithm " + std::to_string(id));
  block_ = NewBlockCipher(id, CipherKey(id, passwordBytes));
}

}  // namespace tiv::disk

namespace {

// Works on a copy so that a cipher failing half-way leaves the buffer as
// it was (contract of EncipherBuffer/DecipherBuffer).
bool RunBuffer(bool encipher, uint8_t algorithm, uint8_t* buffer, size_t size, std::string_view passwordBytes) {
  if (!tiv::disk::IsKnownCryptoAlgorithm(algorithm)) return false;
  if (size == 0) return true;
  if (!buffer) return false;
  try {
    const tiv::disk::TABSCipher cipher(algorithm, passwordBytes);
    std::vector<uint8_t> work(buffer, buffer + size);
    if (encipher)
      cipher.Encipher(work.data(), size);
    else
      cipher.Decipher(work.data(), size);
    std::memcpy(buffer, work.data(), size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool EncipherBuffer(uint8_t algorithm, uint8_t* buffer, size_t size, std::string_view passwordBytes) {
  return RunBuffer(true, algorithm, buffer, size, passwordBytes);
}

bool DecipherBuffer(uint8_t algorithm, uint8_t* buffer, size_t size, std::string_view passwordBytes) {
  return RunBuffer(false, algorithm, buffer, size, passwordBytes);
}

// ZUDCipher: the block ciphers of encrypted databases, their keys and the
// chaining mode that turns a block cipher into a buffer cipher.
//
// Contract
//  1. Algorithm ids (the CryptoAlgorithm byte of the crypto check block, of
//     every enciphered page header and of TABSPassword), frozen once written:
//       id  cipher                         key hash    block  key bytes
//       0   Rijndael (AES)                 RIPEMD-128  16     16
//       1   Rijndael (AES)                 RIPEMD-256  16     32
//       2   DES                            RIPEMD-128   8      8
//       3   triple DES over 24-byte blocks RIPEMD-128  24     16
//       4   Blowfish                       RIPEMD-256   8     32
//       5   Twofish                        RIPEMD-128  16     16
//       6   Twofish                        RIPEMD-256  16     32
//       7   Square                         RIPEMD-128  16     16
//     Any other id is unknown: nothing can be enciphered with it, and every
//     call here says so (false, or a null cipher) rather than leaving the
//     buffer plain and answering success.
//  2. Key: the hash of the password bytes as stored (Windows-1252, no
//     terminator); the first min(digest size, the cipher's maximum key size)
//     bytes, the maxima being 32 (Rijndael, Twofish), 56 (Blowfish), 8 (DES),
//     24 (triple DES) and 16 (Square). Each cipher uses its standard key
//     schedule for a key of that length. The ciphers and hashes are
//     Crypto++'s; none is our own.
//  3. Algorithm 3: a 24-byte key buffer holds the key followed by zeros,
//     K1 = bytes 0..7, K2 = 8..15, K3 = 16..23 (all zero with a 16-byte key).
//     A 24-byte block is three 8-byte lanes, i.e. 32-bit words w0..w5 with
//     lane 1 = w0 w1, lane 2 = w2 w3, lane 3 = w4 w5. Encipher: DES-E all
//     lanes with K1; exchange w1 and w2 (bytes 4..7 and 8..11); DES-D all
//     lanes with K2; exchange w1 and w2; DES-E all lanes with K3. Decipher
//     runs the inverse steps in reverse order. No other words move.
//  4. Chaining mode, F the feedback block, starting as the initial vector
//     (a block of 0xFF bytes) at the start of every buffer:
//       each full block P:          C := E(P xor F);  F := C xor F
//       a final partial block of n: B := E(F); out := in xor B[0..n); F := B xor F
//     Deciphering a full block X:   P := D(X) xor F;  F := X xor F
//     and the final partial block exactly as when enciphering. So the same
//     bytes with the same password always encipher to the same bytes, and a
//     buffer's size never changes.
//  5. A TABSCipher holds one key schedule and no feedback between calls:
//     every Encipher/Decipher call starts from the initial vector.
//
// Thread use: a TABSCipher is immutable after construction and may be used
// from several threads; the free functions keep no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace tiv::disk {

inline constexpr uint8_t kCryptoAlgorithmCount = 8;
inline constexpr uint8_t kCipherInitialVectorByte = 0xFF;

inline bool IsKnownCryptoAlgorithm(uint8_t id) { return id < kCryptoAlgorithmCount; }
// The block size of an algorithm (16, 8 or 24); 0 for an unknown id.
size_t CipherBlockSize(uint8_t id);
// The key of contract 2; empty for an unknown id.
std::vector<uint8_t> CipherKey(uint8_t id, std::string_view passwordBytes);

// One block cipher with its key schedule set up.
class TABSBlockCipher {
 public:
  virtual ~TABSBlockCipher() = default;
  virtual size_t BlockSize() const = 0;
  // `in` and `out` are BlockSize() bytes and may be the same buffer.
  virtual void EncryptBlock(const uint8_t* in, uint8_t* out) const = 0;
  virtual void DecryptBlock(const uint8_t* in, uint8_t* out) const = 0;
};

// The block cipher of algorithm `id` keyed with `key` as CipherKey makes it;
// null for an unknown id. Crypto++ errors (a key it refuses) propagate.
std::unique_ptr<TABSBlockCipher> NewBlockCipher(uint8_t id, std::span<const uint8_t> key);

// The chaining mode of contract 4, in place, over any size (0 included).
void EncipherChained(const TABSBlockCipher& cipher, uint8_t* buffer, size_t size);
void DecipherChained(const TABSBlockCipher& cipher, uint8_t* buffer, size_t size);

// An algorithm and the key from one password, ready for many buffers.
class TABSCipher {
 public:
  // Throws std::invalid_argument for an unknown id; Crypto++ errors propagate.
  TABSCipher(uint8_t id, std::string_view passwordBytes);
  uint8_t Algorithm() const { return id_; }
  size_t BlockSize() const { return block_->BlockSize(); }
  void Encipher(uint8_t* buffer, size_t size) const { EncipherChained(*block_, buffer, size); }
  void Decipher(uint8_t* buffer, size_t size) const { DecipherChained(*block_, buffer, size); }

 private:
  uint8_t id_;
  std::unique_ptr<TABSBlockCipher> block_;
};

}  // namespace tiv::disk

// The buffer interface of the engine: a fresh cipher per call, in place.
// Both answer false, with the buffer as it was, when the algorithm is
// unknown or the cipher raised an error; true when the buffer was done.
bool EncipherBuffer(uint8_t algorithm, uint8_t* buffer, size_t size, std::string_view passwordBytes);
bool DecipherBuffer(uint8_t algorithm, uint8_t* buffer, size_t size, std::string_view passwordBytes);

// DiskCrypto: what the database file needs from encryption.
//
// Contract
//  1. TABSPassword is the password in use: its text and the algorithm id
//     (0..7) that a new encrypted database records. An empty text means a
//     database without encryption.
//  2. TABSCheckBlockCipher enciphers and deciphers the 256 CheckData bytes
//     of the crypto check block in place. The ciphers themselves are a unit
//     of their own; until one is installed in a page manager, creating an
//     encrypted database or opening one fails with a clear "not available"
//     error and never pretends the check passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TABSPassword {
  std::string Password;
  uint8_t CryptoAlgorithm = 0;
};

class TABSCheckBlockCipher {
 public:
  virtual ~TABSCheckBlockCipher() = default;
  virtual void Encipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) = 0;
  virtual void Decipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) = 0;
};

// DiskCrypto: what the database file needs from encryption.
//
// Contract
//  1. TABSPassword is the password in use: its text as Windows-1252 bytes
//     (ZUDSecurity.h turns typed text into them) and the algorithm id (0..7)
//     that a new encrypted database records. An empty text means a database
//     without encryption. Unmappable marks typed text with a character that
//     has no Windows-1252 form: its bytes hold '?' there, which other text
//     shares, so such a password is refused, "Database password is
//     invalid." (20298) when a database is made with it and "Cannot open
//     database - incorrect password" (30445) when an encrypted one is
//     opened with it.
//  2. TABSCheckBlockCipher enciphers and deciphers a buffer in place with a
//     password and an algorithm id: the 256 CheckData bytes of the crypto
//     check block and the data areas of pages. The engine's implementation
//     is TABSSecurityCipher (ZUDSecurity.h), which a page manager uses
//     unless SetCipher installs another (tests do). A cipher that cannot do
//     its work throws; it never leaves the buffer plain and returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TABSPassword {
  std::string Password;
  uint8_t CryptoAlgorithm = 0;
  bool Unmappable = false;  // contract 1
};

class TABSCheckBlockCipher {
 public:
  virtual ~TABSCheckBlockCipher() = default;
  virtual void Encipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) = 0;
  virtual void Decipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) = 0;
};

// ZUDSecurity: encryption of a database: the password's bytes, the cipher
// of the crypto check block, and the encipher and decipher steps of the
// disk page write and read.
//
// What is enciphered: the data area (the bytes after the 40-byte header) of
// every page written through the page cache, except PFS and EAM pages and
// the pages of direct internal files (sessions and table locks files, whose
// pages have EncryptOnWrite false). The page manager decides which pages
// are enciphered; this unit does the work for one page. Page headers, the
// database header, the lock area and the NextObjectID slot stay plain; in
// the crypto check block only the 256 CheckData bytes are enciphered.
// The limits (a fixed initial vector, so equal pages encipher equally; the
// plain data's CRC stored in clear; no integrity) are written down in
// docs/file-format.md, "What the encryption does and does not protect".
//
// Enciphered page header fields (offsets in DiskFormat.h):
//   14 uint32 DataCRC          CRC-32 (DiskCrc.h) of the plain data area,
//                              stored exactly, 0 included; plain pages
//                              follow DiskCrc.h contract 3 instead
//   20 uint8  CryptoAlgorithm  id the data area was enciphered with
//
// Contract
//  1. A password is an engine 8-bit string: its bytes are its Windows-1252
//     form. Text that arrives as UTF-8 (command line) or UTF-16 (widgets)
//     becomes a password through PasswordFromUtf8/FromUtf16 only, so the
//     same typed text always gives the same key, and text with a character
//     that has no Windows-1252 form (or bytes that are not UTF-8) is marked
//     Unmappable, which the page manager refuses (DiskCrypto.h): "密码保护"
//     never becomes the key of "????".
//  2. An empty password means a plain database, whatever the algorithm id.
//  3. TABSSecurityCipher is the crypto check block cipher a page manager
//     installs (DiskCrypto.h). Enciphering refuses an unknown algorithm id
//     (30449): an "encrypted" database whose check data and pages would
//     stay plain is never created. Deciphering check data that names an
//     unknown id fails with 20237 (no database of ours has one); any
//     other mismatch is left to the CRC, so a wrong password gives 30445.
//  4. Pages are enciphered into a copy: the caller's page (the cached one)
//     is never changed, so a failed write leaves no ciphertext in the cache
//     to be enciphered a second time. Nothing is written when enciphering
//     fails, so a page is never stored plain by accident; the write fails.
//  5. Deciphering a page uses the algorithm its header names. The CRC-32 of
//     the result must equal DataCRC, else 30446 with the page number;
//     skipCrcCheck (the page manager's SkipTypeCheck) skips the comparison.
//     A header naming an unknown id cannot be deciphered: 30446 as well,
//     unless the check is skipped, when the page is left as read.
//  6. The same page with the same password enciphers to the same bytes: no
//     random element per page.
//  7. TABSSecurityCipher is what a page manager uses unless a test installs
//     another cipher; the page steps below work with any installed one.
//  8. A password that passes the check block (a wrong one does with
//     probability 2^-32) is held against one enciphered page too before an
//     open succeeds: PageDeciphersWith answers false only when the page is
//     an enciphered page of the file whose data does not decipher to its
//     DataCRC.
//
// Thread use: TABSSecurityCipher keeps no state; the page steps are called
// with the caller's database lock held, like every page manager operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "disk/DiskCrypto.h"
#include "disk/ZUDCipher.h"

class TABSDiskPageManager;

// The Windows-1252 bytes of typed text. A character without a
// Windows-1252 form becomes '?', as everywhere in the engine; bytes that
// are not UTF-8 count as U+FFFD and so become '?' too. Not a password on
// their own: a password is made with PasswordFromUtf8/FromUtf16.
std::string PasswordBytesFromUtf8(std::string_view utf8);
std::string PasswordBytesFromUtf16(std::u16string_view text);

// The password of typed text (contract 1): its Windows-1252 bytes, the
// algorithm id, and Unmappable set when a character had no Windows-1252
// form.
TABSPassword PasswordFromUtf8(std::string_view utf8, uint8_t algorithm = 0);
TABSPassword PasswordFromUtf16(std::u16string_view text, uint8_t algorithm = 0);

class TABSSecurityCipher final : public TABSCheckBlockCipher {
 public:
  void Encipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) override;
  void Decipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) override;
};

// The page steps, over whichever TABSCheckBlockCipher the page manager has
// installed (TABSSecurityCipher unless a test installs another); a fresh
// cipher per call, so every page is enciphered on its own.
//
// EncipherPageImage writes into `image` (pageSize bytes, not overlapping
// `page`) the page as it is stored: header CryptoAlgorithm := algorithm,
// DataCRC := CRC-32 of the plain data area, data area enciphered. False
// when the cipher fails or pageSize cannot hold a header; `image` is then
// all zero, never a plain copy.
[[nodiscard]] bool EncipherPageImage(TABSCheckBlockCipher& cipher, const TABSPassword& password, uint8_t algorithm,
                                     const uint8_t* page, uint8_t* image, size_t pageSize);
// Deciphers a page read from the file in place (contract 5).
void DecipherPage(TABSCheckBlockCipher& cipher, const TABSPassword& password, uint8_t* page, size_t pageSize,
                  int32_t pageNo, bool skipCrcCheck);
// Contract 8: reads page pageNo straight from the file and deciphers a copy.
// True when the page is not there, not a page, released, or stored plain
// (map pages, direct-file pages): nothing to hold the password against.
bool PageDeciphersWith(TABSDiskPageManager& manager, TABSCheckBlockCipher& cipher, const TABSPassword& password,
                       int32_t pageNo);
// The encryption step of the disk page write: an enciphered copy of `page`
// (PageSize bytes) is written at pageNo; when it cannot be enciphered
// nothing is written and the write fails (10469), naming the page.
void WriteEncipheredPage(TABSDiskPageManager& manager, TABSCheckBlockCipher& cipher, const TABSPassword& password,
                         uint8_t algorithm, int32_t pageNo, const uint8_t* page);

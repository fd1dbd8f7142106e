#include "disk/ZUDSecurity.h"

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <unicode/ustring.h>

#include "core/ZUDExcept.h"
#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/DiskFormat.h"
#include "disk/DiskPageManagerFile.h"
#include "locale/CodePage.h"

using namespace tiv::disk;

// ---------------------------------------------------------------------------
// Password bytes

std::string PasswordBytesFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto srcLength = static_cast<int32_t>(utf8.size());
  u_strFromUTF8WithSub(nullptr, 0, &length, utf8.data(), srcLength, 0xFFFD, nullptr, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::string(utf8.size(), '?');
  std::u16string text(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(text.data()), length, &length, utf8.data(), srcLength, 0xFFFD, nullptr,
                       &status);
  if (U_FAILURE(status)) return std::string(utf8.size(), '?');
  return PasswordBytesFromUtf16(text);
}

std::string PasswordBytesFromUtf16(std::u16string_view text) { return tiv::locale::Utf16ToWin1252(text); }

TABSPassword PasswordFromUtf16(std::u16string_view text, uint8_t algorithm) {
  TABSPassword p;
  p.Password = PasswordBytesFromUtf16(text);
  p.CryptoAlgorithm = algorithm;
  // Every Windows-1252 byte maps back to the one character it came from, so
  // a round trip that differs lost a character to '?'.
  p.Unmappable = tiv::locale::Win1252ToUtf16(p.Password) != text;
  return p;
}

TABSPassword PasswordFromUtf8(std::string_view utf8, uint8_t algorithm) {
  TABSPassword p;
  p.CryptoAlgorithm = algorithm;
  if (utf8.empty()) return p;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto srcLength = static_cast<int32_t>(utf8.size());
  u_strFromUTF8WithSub(nullptr, 0, &length, utf8.data(), srcLength, 0xFFFD, nullptr, &status);
  std::u16string text;
  if (status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) {
    text.assign(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(text.data()), length, &length, utf8.data(), srcLength, 0xFFFD,
                         nullptr, &status);
  }
  if (U_FAILURE(status)) {
    p.Password = std::string(utf8.size(), '?');
    p.Unmappable = true;
    return p;
  }
  return PasswordFromUtf16(text, algorithm);
}

// ---------------------------------------------------------------------------
// Crypto check block

void TABSSecurityCipher::Encipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) {
  if (!IsKnownCryptoAlgorithm(algorithm))
    throw EABSException(30449, "Create database error: '%s'",
                        {"unknown encryption algorithm " + std::to_string(algorithm)});
  if (!EncipherBuffer(algorithm, data, size, password.Password))
    throw EABSException(30449, "Create database error: '%s'", {"the check data cannot be enciphered"});
}

void TABSSecurityCipher::Decipher(uint8_t* data, size_t size, const TABSPassword& password, uint8_t algorithm) {
  if (!IsKnownCryptoAlgorithm(algorithm)) throw EABSException(20237, "Invalid database format");
  // A cipher error leaves the data as stored; its CRC then refuses it.
  (void)DecipherBuffer(algorithm, data, size, password.Password);
}

// ---------------------------------------------------------------------------
// Pages

bool EncipherPageImage(TABSCheckBlockCipher& cipher, const TABSPassword& password, uint8_t algorithm,
                       const uint8_t* page, uint8_t* image, size_t pageSize) {
  if (!image) return false;
  if (!page || pageSize < static_cast<size_t>(kPageHeaderSize)) {
    std::memset(image, 0, pageSize);
    return false;
  }
  std::memcpy(image, page, pageSize);
  uint8_t* data = image + kPageHeaderSize;
  const size_t dataSize = pageSize - kPageHeaderSize;
  image[kPgCryptoAlgorithm] = algorithm;
  PutU32(image + kPgDataCRC, Crc32(data, dataSize));
  try {
    cipher.Encipher(data, dataSize, password, algorithm);
  } catch (const std::exception&) {
    std::memset(image, 0, pageSize);
    return false;
  }
  return true;
}

void DecipherPage(TABSCheckBlockCipher& cipher, const TABSPassword& password, uint8_t* page, size_t pageSize,
                  int32_t pageNo, bool skipCrcCheck) {
  if (!page || pageSize < static_cast<size_t>(kPageHeaderSize)) {
    if (skipCrcCheck) return;
    throw EABSException(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {pageNo});
  }
  uint8_t* data = page + kPageHeaderSize;
  const size_t dataSize = pageSize - kPageHeaderSize;
  bool done = true;
  try {
    cipher.Decipher(data, dataSize, password, page[kPgCryptoAlgorithm]);
  } catch (const std::exception&) {
    done = false;  // a header naming no algorithm of ours: not decipherable
  }
  if (skipCrcCheck) return;
  if (!done || Crc32(data, dataSize) != GetU32(page + kPgDataCRC))
    throw EABSException(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {pageNo});
}

bool PageDeciphersWith(TABSDiskPageManager& manager, TABSCheckBlockCipher& cipher, const TABSPassword& password,
                       int32_t pageNo) {
  const size_t pageSize = manager.PageSize();
  std::vector<uint8_t> page(pageSize);
  if (!manager.ReadPage(pageNo, page.data())) return true;
  if (std::memcmp(page.data() + kPgSignature, kPageSignature, 4) != 0 ||
      GetI32(page.data() + kPgVersion) == kPageVersionReleased)
    return true;
  const uint16_t type = GetU16(page.data() + kPgType);
  if (type == ptPFS || type == ptEAM || type == ptActiveSessionList || type == ptTableLocks) return true;
  try {
    DecipherPage(cipher, password, page.data(), pageSize, pageNo, false);
  } catch (const EABSException&) {
    return false;
  }
  return true;
}

void WriteEncipheredPage(TABSDiskPageManager& manager, TABSCheckBlockCipher& cipher, const TABSPassword& password,
                         uint8_t algorithm, int32_t pageNo, const uint8_t* page) {
  const size_t pageSize = manager.PageSize();
  std::vector<uint8_t> image(pageSize);
  if (!EncipherPageImage(cipher, password, algorithm, page, image.data(), pageSize)) {
    const int64_t position = pageNo >= 0 ? manager.PageOffset(pageNo) : 0;
    int64_t fileSize = 0;
    try {
      fileSize = manager.File().GetSize();
    } catch (const EABSException&) {
      fileSize = 0;  // the size only completes the message
    }
    throw EABSException(
        10469,
        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. "
        "ErrorMessage: %s",
        {manager.File().FileName(), position, pageSize, position, fileSize, 0,
         "page " + std::to_string(pageNo) + " cannot be enciphered with algorithm " + std::to_string(algorithm)});
  }
  manager.WritePage(pageNo, image.data());
}

// Encrypted database files: the password's bytes, the crypto check block at
// create and open, and pages enciphered on write and deciphered on read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "DiskBytes.h"
#include "DiskCrc.h"
#include "DiskTestUtil.h"
#include "ZUDSecurity.h"

using namespace tiv::disk;

namespace {

const std::string kSecretText = "PERIODO-SECRETO-Tivoran-1999-64,5%";

// A page as the page cache holds it: header, then a data area holding the
// distinctive text among other bytes.
Bytes PlainPage(uint16_t pageSize, int32_t pageNo) {
  Bytes p(pageSize, 0);
  std::memcpy(p.data() + kPgSignature, kPageSignature, 4);
  PutI32(p.data() + kPgVersion, 5);
  PutU16(p.data() + kPgType, ptTableRecord);
  PutI32(p.data() + kPgNextPageNo, -1);
  PutI32(p.data() + kPgOwnerTableID, 7);
  PutI32(p.data() + kPgReserved26, -1);
  for (size_t i = kPageHeaderSize; i < pageSize; ++i) p[i] = static_cast<uint8_t>(i * 31 + pageNo);
  for (size_t at = kPageHeaderSize + 3; at + kSecretText.size() < pageSize; at += 700)
    std::memcpy(p.data() + at, kSecretText.data(), kSecretText.size());
  return p;
}

bool Contains(const Bytes& hay, const std::string& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

class EncryptedFile : public ::testing::Test {
 protected:
  void Create(const std::string& password, uint8_t alg) {
    TABSDiskPageManager pm;
    pm.SetCipher(&cipher_);
    pm.CreateDatabaseFile(path_, TABSPassword{password, alg});
    pm.CloseDatabaseFile();
  }
  void Open(TABSDiskPageManager& pm, const std::string& password) {
    pm.SetCipher(&cipher_);
    bool multiUser = false, needRepair = false, readOnly = false;
    pm.OpenDatabaseFile(path_, TABSPassword{password, 0}, multiUser, true, needRepair, readOnly);
  }
  // Byte `offset` of the file set to `value`.
  void Poke(int64_t offset, uint8_t value) {
    Bytes all = ReadAll(path_);
    all.at(static_cast<size_t>(offset)) = value;
    WriteAll(path_, all);
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("Tivoran.ZUD");
  TABSSecurityCipher cipher_;
};

}  // namespace

TEST(PasswordBytes, AreTheWindows1252FormOfTheTypedText) {
  // "Año €": ñ is 0xF1 and € is 0x80 in Windows-1252.
  const std::string want = "A\xF1o \x80";
  EXPECT_EQ(PasswordBytesFromUtf8("A\xC3\xB1o \xE2\x82\xAC"), want);
  EXPECT_EQ(PasswordBytesFromUtf16(u"A\u00F1o \u20AC"), want);
  // No Windows-1252 form, or no UTF-8 at all: '?', as every engine string.
  EXPECT_EQ(PasswordBytesFromUtf8("\xE4\xB8\xAD"), "?");
  EXPECT_EQ(PasswordBytesFromUtf8("a\xFF"), "a?");
  EXPECT_EQ(PasswordBytesFromUtf8(""), "");
}

TEST_F(EncryptedFile, EachAlgorithmOpensWithItsPasswordOnly) {
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    SCOPED_TRACE("algorithm " + std::to_string(alg));
    Create("Contrase\xF1" "a", alg);
    {
      TABSDiskPageManager pm;
      Open(pm, "Contrase\xF1" "a");
      EXPECT_EQ(pm.Header().Encrypted, kEncryptedYes);
      EXPECT_EQ(pm.CheckBlock().CryptoAlgorithm, alg);
      // The check data is stored enciphered: it no longer matches its CRC.
      EXPECT_NE(Crc32(pm.CheckBlock().CheckData.data(), kCheckDataSize), pm.CheckBlock().CheckCRC);
    }
    // Letter case, another password, none at all, or the UTF-8 bytes of the
    // same text (not its Windows-1252 form): all refused before any page.
    for (const std::string wrong : {"contrase\xF1" "a", "CONTRASE\xD1" "A", "Contrasena", "", "Contrase\xC3\xB1" "a"}) {
      TABSDiskPageManager pm;
      ExpectEngineError([&] { Open(pm, wrong); }, 30445, "Cannot open database - incorrect password");
      EXPECT_FALSE(pm.IsOpened());
    }
    // The typed text, converted as every engine string is, opens it.
    TABSDiskPageManager pm;
    Open(pm, PasswordBytesFromUtf8("Contrase\xC3\xB1" "a"));
    EXPECT_TRUE(pm.IsOpened());
  }
}

TEST_F(EncryptedFile, AnEmptyPasswordGivesAPlainDatabaseWhateverTheAlgorithm) {
  TABSDiskPageManager pm;  // no cipher installed: none is needed
  pm.CreateDatabaseFile(path_, TABSPassword{"", 6});
  pm.CloseDatabaseFile();
  TABSDiskPageManager again;
  bool multiUser = false, needRepair = false, readOnly = false;
  again.OpenDatabaseFile(path_, TABSPassword{"whatever", 3}, multiUser, true, needRepair, readOnly);
  EXPECT_EQ(again.Header().Encrypted, kEncryptedNo);
  EXPECT_EQ(again.CheckBlock().CryptoAlgorithm, 0);
  EXPECT_EQ(again.CheckBlock().CheckCRC, 0u);
}

TEST_F(EncryptedFile, AnUnknownAlgorithmIsRefusedAtCreateAndAtOpen) {
  // Create: the check data would stay plain and any password would open it.
  ExpectEngineError([&] { Create("secret", 8); }, 30449, "unknown encryption algorithm 8");
  EXPECT_FALSE(std::filesystem::exists(path_));

  // Open: a check block naming an unknown id is no database of ours; one
  // naming another known id than it was made with refuses the password.
  Create("secret", 0);
  TABSDiskPageManager probe;
  Open(probe, "secret");
  const int64_t algByte = probe.CheckBlockOffset() + kChkCryptoAlgorithm;
  probe.CloseDatabaseFile();
  Poke(algByte, 200);
  {
    TABSDiskPageManager pm;
    ExpectEngineError([&] { Open(pm, "secret"); }, 20237, "Invalid database format");
  }
  Poke(algByte, 5);
  TABSDiskPageManager pm;
  ExpectEngineError([&] { Open(pm, "secret"); }, 30445);
}

TEST_F(EncryptedFile, PagesAreEncipheredOnWriteAndDecipheredOnRead) {
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    SCOPED_TRACE("algorithm " + std::to_string(alg));
    Create("Clave", alg);
    TABSDiskPageManager pm;
    Open(pm, "Clave");
    pm.ExtendFile(6);
    const TABSPageCipher cipher(TABSPassword{"Clave", alg});
    ASSERT_TRUE(cipher.Active());
    const uint16_t ps = pm.PageSize();

    const Bytes page = PlainPage(ps, 3);
    WriteEncipheredPage(pm, cipher, 3, page.data());
    WriteEncipheredPage(pm, cipher, 4, page.data());
    EXPECT_EQ(PlainPage(ps, 3), page) << "the cached page was changed";

    Bytes stored(ps), again(ps);
    pm.ReadPageBytes(stored.data(), 3, ps, 0);
    pm.ReadPageBytes(again.data(), 4, ps, 0);
    EXPECT_EQ(stored, again) << "the same page enciphered twice differs";
    EXPECT_FALSE(Contains(ReadAll(path_), kSecretText));
    // The header is stored plain, with the algorithm and the plain data's CRC.
    for (int i = 0; i < kPageHeaderSize; ++i) {
      const bool setOnWrite = (i >= kPgDataCRC && i < kPgDataCRC + 4) || i == kPgCryptoAlgorithm;
      if (!setOnWrite) {
        EXPECT_EQ(stored[i], page[i]) << "header byte " << i;
      }
    }
    EXPECT_EQ(stored[kPgCryptoAlgorithm], alg);
    EXPECT_EQ(GetU32(stored.data() + kPgDataCRC), Crc32(page.data() + kPageHeaderSize, ps - kPageHeaderSize));
    EXPECT_NE(std::memcmp(stored.data() + kPageHeaderSize, page.data() + kPageHeaderSize, ps - kPageHeaderSize), 0);

    Bytes read(ps);
    ASSERT_TRUE(ReadDecipheredPage(pm, cipher, 3, read.data(), false));
    EXPECT_EQ(Bytes(read.begin() + kPageHeaderSize, read.end()), Bytes(page.begin() + kPageHeaderSize, page.end()));
    pm.CloseDatabaseFile();
  }
}

TEST_F(EncryptedFile, ADamagedPageOrAnotherKeyFailsTheCrcCheck) {
  Create("Clave", 1);
  TABSDiskPageManager pm;
  Open(pm, "Clave");
  pm.ExtendFile(4);
  const TABSPageCipher cipher(TABSPassword{"Clave", 1});
  const uint16_t ps = pm.PageSize();
  WriteEncipheredPage(pm, cipher, 2, PlainPage(ps, 2).data());
  Bytes read(ps);

  const TABSPageCipher other(TABSPassword{"clave", 1});
  ExpectEngineError([&] { ReadDecipheredPage(pm, other, 2, read.data(), false); }, 30446,
                    "Decrypt page error. Check CRC failed. PageNo: 2");

  Bytes stored(ps);
  pm.ReadPageBytes(stored.data(), 2, ps, 0);
  stored[ps - 100] ^= 0x5A;
  pm.WritePageBytes(stored.data(), 2, ps, 0);
  ExpectEngineError([&] { ReadDecipheredPage(pm, cipher, 2, read.data(), false); }, 30446, "PageNo: 2");
  // SkipTypeCheck reads it anyway.
  EXPECT_TRUE(ReadDecipheredPage(pm, cipher, 2, read.data(), true));

  // A header naming an unknown algorithm cannot be deciphered.
  stored[kPgCryptoAlgorithm] = 9;
  pm.WritePageBytes(stored.data(), 2, ps, 0);
  ExpectEngineError([&] { ReadDecipheredPage(pm, cipher, 2, read.data(), false); }, 30446, "PageNo: 2");
}

TEST_F(EncryptedFile, APageThatCannotBeEncipheredIsNeverWritten) {
  Create("Clave", 0);
  TABSDiskPageManager pm;
  Open(pm, "Clave");
  pm.ExtendFile(4);
  const uint16_t ps = pm.PageSize();
  const Bytes before = ReadAll(path_);
  const Bytes page = PlainPage(ps, 1);
  const TABSPageCipher broken(TABSPassword{"Clave", 8});
  ExpectEngineError([&] { WriteEncipheredPage(pm, broken, 1, page.data()); }, 10469,
                    "page 1 cannot be enciphered with algorithm 8");
  EXPECT_EQ(ReadAll(path_), before);
  EXPECT_EQ(PlainPage(ps, 1), page);

  // The copy handed back on failure holds nothing of the page.
  Bytes image(ps, 0xAB);
  EXPECT_FALSE(broken.EncipherPage(page.data(), image.data(), ps));
  EXPECT_EQ(image, Bytes(ps, 0));
  // A buffer too short for a page header is refused, never read past.
  const TABSPageCipher good(TABSPassword{"Clave", 0});
  Bytes small(20, 1), out(20);
  EXPECT_FALSE(good.EncipherPage(small.data(), out.data(), small.size()));
  ExpectEngineError([&] { good.DecipherPage(small.data(), small.size(), 5, false); }, 30446, "PageNo: 5");
}

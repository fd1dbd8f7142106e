// Encrypted database files: the password's bytes, the crypto check block at
// create and open, and pages enciphered on write and deciphered on read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "DiskTestUtil.h"
#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/ZUDSecurity.h"

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
    Create(
        "Contrase\xF1"
        "a",
        alg);
    {
      TABSDiskPageManager pm;
      Open(pm,
           "Contrase\xF1"
           "a");
      EXPECT_EQ(pm.Header().Encrypted, kEncryptedYes);
      EXPECT_EQ(pm.CheckBlock().CryptoAlgorithm, alg);
      // The check data is stored enciphered: it no longer matches its CRC.
      EXPECT_NE(Crc32(pm.CheckBlock().CheckData.data(), kCheckDataSize), pm.CheckBlock().CheckCRC);
    }
    // Letter case, another password, none at all, or the UTF-8 bytes of the
    // same text (not its Windows-1252 form): all refused before any page.
    for (const std::string wrong : {"contrase\xF1"
                                    "a",
                                    "CONTRASE\xD1"
                                    "A",
                                    "Contrasena", "",
                                    "Contrase\xC3\xB1"
                                    "a"}) {
      TABSDiskPageManager pm;
      ExpectEngineError([&] { Open(pm, wrong); }, 30445, "Cannot open database - incorrect password");
      EXPECT_FALSE(pm.IsOpened());
    }
    // The typed text, converted as every engine string is, opens it.
    TABSDiskPageManager pm;
    Open(pm, PasswordBytesFromUtf8("Contrase\xC3\xB1"
                                   "a"));
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

// Through the page cache and commit of the page manager, with the engine's
// own ciphers (nothing installed).
TEST_F(EncryptedFile, CommittedPagesAreEncipheredAndReadBackPlain) {
  for (uint8_t alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    SCOPED_TRACE("algorithm " + std::to_string(alg));
    const TABSPassword pw{"Clave", alg};
    int32_t a = -1, b = -1, direct = -1;
    const uint16_t ps = kDefaultPageSize;
    const Bytes plain = PlainPage(ps, 0);
    {
      TABSDiskPageManager pm;
      pm.CreateDatabaseFile(path_, pw);
      for (int32_t* no : {&a, &b, &direct}) {
        TABSPage* p = pm.AddPage(0, ptTableRecord);
        *no = p->PageNo;
        std::memcpy(p->DataBuffer(), plain.data() + kPageHeaderSize, p->DataSize());
        // A page of a direct internal file (sessions, table locks) is never enciphered.
        if (no == &direct) p->EncryptOnWrite = false;
        pm.PutPage(p);
      }
      pm.CommitSession(0);
      // The cached pages stay plain.
      EXPECT_EQ(
          std::memcmp(pm.SharedCache().Find(a)->DataBuffer(), plain.data() + kPageHeaderSize, ps - kPageHeaderSize), 0);
    }
    const Bytes file = ReadAll(path_);
    TABSDiskPageManager probe;
    Open(probe, "Clave");
    auto onDisk = [&](int32_t no) {
      const auto at = static_cast<long>(probe.PageOffset(no));
      return Bytes(file.begin() + at, file.begin() + at + ps);
    };
    const Bytes pa = onDisk(a), pb = onDisk(b), pd = onDisk(direct), pfs = onDisk(kFirstPfsPageNo);
    // Only the direct page holds the text; the two equal data areas
    // encipher to the same bytes; the headers are readable.
    EXPECT_TRUE(Contains(pd, kSecretText));
    Bytes others = file;
    std::fill(others.begin() + static_cast<long>(probe.PageOffset(direct)),
              others.begin() + static_cast<long>(probe.PageOffset(direct)) + ps, 0);
    EXPECT_FALSE(Contains(others, kSecretText));
    EXPECT_TRUE(std::equal(pa.begin() + kPageHeaderSize, pa.end(), pb.begin() + kPageHeaderSize));
    EXPECT_EQ(std::string(pa.begin(), pa.begin() + 4), "ABSP");
    EXPECT_EQ(GetU16(pa.data() + kPgType), ptTableRecord);
    EXPECT_EQ(pa[kPgCryptoAlgorithm], alg);
    EXPECT_EQ(GetU32(pa.data() + kPgDataCRC), Crc32(plain.data() + kPageHeaderSize, ps - kPageHeaderSize));
    EXPECT_EQ(pfs[kPageHeaderSize] & 0x07, 0x07);  // PFS page plain: pages 0, 1, 2 in use

    // Direct internal files read their pages from the file as they are.
    EXPECT_TRUE(std::equal(pd.begin() + kPageHeaderSize, pd.end(), plain.begin() + kPageHeaderSize));
    TABSPage* p = probe.GetPage(0, a, true, ptTableRecord);
    EXPECT_EQ(std::memcmp(p->DataBuffer(), plain.data() + kPageHeaderSize, ps - kPageHeaderSize), 0);
    probe.PutPage(p);
    probe.CloseDatabaseFile();
  }
}

TEST(EncryptedPage, ADamagedPageAnotherKeyOrAnUnknownAlgorithmFailsTheCrcCheck) {
  TABSSecurityCipher cipher;
  const TABSPassword pw{"Clave", 1};
  const Bytes page = PlainPage(4096, 2);
  Bytes image(page.size());
  ASSERT_TRUE(EncipherPageImage(cipher, pw, 1, page.data(), image.data(), image.size()));

  Bytes read = image;
  DecipherPage(cipher, pw, read.data(), read.size(), 2, false);
  EXPECT_TRUE(std::equal(read.begin() + kPageHeaderSize, read.end(), page.begin() + kPageHeaderSize));

  struct Case {
    const char* what;
    TABSPassword password;
    size_t flipAt;      // 0: nothing flipped
    int algorithmByte;  // -1: as written
  };
  const Case cases[] = {
      {"letter case of the password", {"clave", 1}, 0, -1},
      {"a damaged data byte", pw, 4000, -1},
      {"a damaged tail byte", pw, 4095, -1},
      {"another algorithm in the header", pw, 0, 6},
      {"an unknown algorithm in the header", pw, 0, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bad = image;
    if (c.flipAt) bad[c.flipAt] ^= 0x20;
    if (c.algorithmByte >= 0) bad[kPgCryptoAlgorithm] = static_cast<uint8_t>(c.algorithmByte);
    Bytes work = bad;
    ExpectEngineError([&] { DecipherPage(cipher, c.password, work.data(), work.size(), 2, false); }, 30446,
                      "Decrypt page error. Check CRC failed. PageNo: 2");
    work = bad;
    DecipherPage(cipher, c.password, work.data(), work.size(), 2, true);  // SkipTypeCheck reads it anyway
  }
  // Too short for a header: refused, never read past.
  Bytes small(20, 1), out(20, 1);
  EXPECT_FALSE(EncipherPageImage(cipher, pw, 1, small.data(), out.data(), out.size()));
  EXPECT_EQ(out, Bytes(20, 0));
  ExpectEngineError([&] { DecipherPage(cipher, pw, small.data(), small.size(), 5, false); }, 30446, "PageNo: 5");
}

namespace {

// The engine's cipher for the check block, a failing one for pages.
class FailingPageCipher : public TABSCheckBlockCipher {
 public:
  void Encipher(uint8_t* d, size_t n, const TABSPassword& p, uint8_t alg) override {
    if (n != kCheckDataSize) throw std::runtime_error("cipher failure");
    real_.Encipher(d, n, p, alg);
  }
  void Decipher(uint8_t* d, size_t n, const TABSPassword& p, uint8_t alg) override { real_.Decipher(d, n, p, alg); }

 private:
  TABSSecurityCipher real_;
};

}  // namespace

TEST_F(EncryptedFile, APageThatCannotBeEncipheredFailsTheCommitAndIsNeverWritten) {
  FailingPageCipher failing;
  TABSDiskPageManager pm;
  pm.SetCipher(&failing);
  pm.CreateDatabaseFile(path_, TABSPassword{"Clave", 0});
  TABSPage* p = pm.AddPage(0, ptTableRecord);
  const int32_t no = p->PageNo;
  std::memcpy(p->DataBuffer(), kSecretText.data(), kSecretText.size());
  pm.PutPage(p);
  ExpectEngineError([&] { pm.CommitSession(0); }, 10469,
                    "page " + std::to_string(no) + " cannot be enciphered with algorithm 0");
  EXPECT_FALSE(Contains(ReadAll(path_), kSecretText));
  // The failed commit rolled the session back: nothing is pending, and the
  // page it had taken is free again.
  EXPECT_EQ(pm.DirtyPageCount(0), 0);
  EXPECT_FALSE(pm.FreeSpaceManager().IsPageUsed(no));
  EXPECT_FALSE(Contains(ReadAll(path_), kSecretText));
}

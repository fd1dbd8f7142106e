// Passwords at the edges: typed text without a Windows-1252 form, which
// must never collapse into '?' characters another text shares, and a wrong
// password that happens to pass the check block.
#include <filesystem>

#include "DiskTestUtil.h"
#include "ZudadminRun.h"
#include "disk/DiskCrc.h"
#include "disk/ZUDSecurity.h"

using namespace tiv::disk;

namespace {

class PasswordCharactersTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("clave.zud");

  void Open(TABSDiskDatabase& db, const TABSPassword& password) {
    bool multiUser = false, needRepair = false, readOnly = false;
    db.OpenDatabase(path, password, multiUser, true, needRepair, readOnly);
  }
};

// Typed text (UTF-8 as a terminal sends it, and UTF-16 as a widget does)
// whose characters all have a Windows-1252 form is a password; any other is
// refused when a database is made with it and when one is opened with it.
TEST_F(PasswordCharactersTest, TextWithoutAWindows1252FormIsRefusedAtCreateAndAtOpen) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
    bool mappable;
  } cases[] = {
      {"Latin with n tilde and euro", "A\xC3\xB1o \xE2\x82\xAC", u"A\u00F1o \u20AC", true},
      {"question marks typed as such", "????", u"????", true},
      {"Chinese", "\xE5\xAF\x86\xE7\xA0\x81\xE4\xBF\x9D\xE6\x8A\xA4", u"\u5BC6\u7801\u4FDD\u62A4", false},
      {"Chinese, as many characters as the question marks", "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87",
       u"\u4E2D\u6587\u4E2D\u6587", false},
      {"Latin then Cyrillic", "clave\xD0\x96", u"clave\u0416", false},
      {"a character outside the basic plane", "x\xF0\x9F\x98\x80", u"x\U0001F600", false},
  };
  // A database made with the literal "????": before this refusal, each of
  // four characters without a Windows-1252 form became '?' and opened it.
  TABSDiskDatabase().CreateDatabase(path, PasswordFromUtf8("????", 3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TABSPassword fromUtf8 = PasswordFromUtf8(c.utf8, 3);
    const TABSPassword fromUtf16 = PasswordFromUtf16(c.utf16, 3);
    EXPECT_EQ(fromUtf8.Password, fromUtf16.Password);
    EXPECT_EQ(fromUtf8.Unmappable, !c.mappable);
    EXPECT_EQ(fromUtf16.Unmappable, !c.mappable);
    EXPECT_EQ(fromUtf8.CryptoAlgorithm, 3);
    const std::string other = dir.File("otra.zud");
    if (c.mappable) {
      TABSDiskDatabase().CreateDatabase(other, fromUtf16);
      TABSDiskDatabase db;
      bool multiUser = false, needRepair = false, readOnly = false;
      db.OpenDatabase(other, fromUtf8, multiUser, true, needRepair, readOnly);
      EXPECT_TRUE(db.IsOpen());
      db.CloseDatabase();
      std::filesystem::remove(other);
      continue;
    }
    for (const TABSPassword& p : {fromUtf8, fromUtf16}) {
      ExpectEngineError([&] { TABSDiskDatabase().CreateDatabase(other, p); }, 20298, "Database password is invalid.");
      EXPECT_FALSE(std::filesystem::exists(other));
      TABSDiskDatabase db;
      ExpectEngineError([&] { Open(db, p); }, 30445, "Cannot open database - incorrect password");
      EXPECT_FALSE(db.IsOpen());
    }
  }
  // The literal question marks still open what they made.
  TABSDiskDatabase db;
  Open(db, PasswordFromUtf8("????", 3));
  EXPECT_TRUE(db.IsOpen());
}

// The tool takes its password as the user typed it, and so refuses what
// the engine refuses.
TEST_F(PasswordCharactersTest, TheToolRefusesAPasswordWithoutAWindows1252Form) {
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87";
  const ToolRun create = Zudadmin({"create", path, "--password", chinese});
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_TRUE(create.HasPart("Database password is invalid."));
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_EQ(Zudadmin({"create", path, "--password", "????"}).exitCode, 0);
  const ToolRun open = Zudadmin({"info", path, "--password", chinese});
  EXPECT_EQ(open.exitCode, 1);
  EXPECT_TRUE(open.HasPart("Cannot open database - incorrect password"));
  EXPECT_EQ(Zudadmin({"info", path, "--password", "????"}).exitCode, 0);
}

// The check block lets a wrong password through with probability 2^-32.
// Here one is forced through: the check block is rewritten with data
// enciphered under the wrong password. The system directory (page 2),
// enciphered under the right one, still refuses it before the open ends.
TEST_F(PasswordCharactersTest, AWrongPasswordThatPassesTheCheckBlockIsRefusedByPageTwo) {
  const TABSPassword right{"correcto", 0};
  for (uint8_t algorithm : {uint8_t{0}, uint8_t{5}}) {
    SCOPED_TRACE(static_cast<int>(algorithm));
    const TABSPassword wrong{"equivocado", algorithm};
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{right.Password, algorithm});
    Bytes file = ReadAll(path);
    uint8_t plain[kCheckDataSize];
    for (int i = 0; i < kCheckDataSize; ++i) plain[i] = static_cast<uint8_t>(i * 7 + 1);
    const uint32_t crc = Crc32(plain, kCheckDataSize);
    TABSSecurityCipher().Encipher(plain, kCheckDataSize, wrong, algorithm);
    std::copy(plain, plain + kCheckDataSize, file.begin() + kNewCheckBlockOffset + kChkCheckData);
    for (int i = 0; i < 4; ++i)
      file[static_cast<size_t>(kNewCheckBlockOffset + kChkCheckCRC + i)] = static_cast<uint8_t>(crc >> (8 * i));
    WriteAll(path, file);

    for (bool readOnly : {false, true}) {
      TABSDiskPageManager pm;
      bool multiUser = true, needRepair = false, ro = readOnly;
      ExpectEngineError([&] { pm.OpenDatabaseFile(path, wrong, multiUser, false, needRepair, ro); }, 30445,
                        "Cannot open database - incorrect password");
      EXPECT_FALSE(pm.IsOpened());
    }
    TABSDiskDatabase db;
    ExpectEngineError([&] { Open(db, wrong); }, 30445, "Cannot open database - incorrect password");
    EXPECT_EQ(ReadAll(path), file);
  }
}

}  // namespace

// The admin tool with encrypted databases: --password and --algorithm at
// create, --password at info, pages and the table commands, the typed text
// taken as its Windows-1252 bytes; check with the right and a wrong
// password printing what the engine's check answers.
#include <algorithm>
#include <fstream>

#include "DiskTestUtil.h"
#include "ZudadminRun.h"

namespace {

const std::string kTyped =
    "Contrase\xC3\xB1"
    "a";  // as a UTF-8 terminal sends it
const std::string kWin1252 =
    "Contrase\xF1"
    "a";

}  // namespace

TEST(ZudadminPassword, CreatesAnEncryptedDatabaseThatOpensOnlyWithItsPassword) {
  ScratchDir dir;
  const std::string db = dir.File("e.zud");
  ASSERT_EQ(Zudadmin({"create", db, "--password", kTyped, "--algorithm", "5"}).exitCode, 0);

  const ToolRun ok = Zudadmin({"info", db, "--password", kTyped});
  ASSERT_EQ(ok.exitCode, 0);
  EXPECT_TRUE(ok.Has("Encrypted: 255"));
  EXPECT_TRUE(ok.Has("CryptoAlgorithm: 5"));
  EXPECT_EQ(Zudadmin({"pages", db, "--password", kTyped}).exitCode, 0);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"info", db},
                                               {"info", db, "--password",
                                                "contrase\xC3\xB1"
                                                "a"},
                                               {"pages", db}}) {
    const ToolRun bad = Zudadmin(args);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.Has("zudadmin: Cannot open database - incorrect password - Native error: 30445"));
  }

  // The engine sees the Windows-1252 bytes of what was typed.
  TABSDiskPageManager pm;
  bool multiUser = false, needRepair = false, readOnly = true;
  pm.OpenDatabaseFile(db, TABSPassword{kWin1252, 0}, multiUser, false, needRepair, readOnly);
  EXPECT_EQ(pm.CheckBlock().CryptoAlgorithm, 5);
}

TEST(ZudadminPassword, AnEmptyPasswordIsPlainAndAnUnknownAlgorithmIsAUsageError) {
  ScratchDir dir;
  const std::string db = dir.File("p.zud");
  ASSERT_EQ(Zudadmin({"create", db, "--password", "", "--algorithm", "3"}).exitCode, 0);
  const ToolRun info = Zudadmin({"info", db});
  ASSERT_EQ(info.exitCode, 0);
  EXPECT_TRUE(info.Has("Encrypted: 0"));
  EXPECT_EQ(Zudadmin({"create", dir.File("x.zud"), "--password", "k", "--algorithm", "8"}).exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.zud")));
}

TEST(ZudadminPassword, TableCommandsOpenAnEncryptedDatabaseOnlyWithItsPassword) {
  ScratchDir dir;
  const std::string db = dir.File("t.zud");
  const std::string csv = dir.File("rows.csv");
  {
    std::ofstream out(csv, std::ios::binary);
    out << "id,nombre\n1,Ana\n2,Eva\n";
  }
  ASSERT_EQ(Zudadmin({"create", db, "--password", kTyped, "--algorithm", "1"}).exitCode, 0);
  ASSERT_EQ(Zudadmin({"create-table", db, "personas", "id INTEGER NOT NULL, nombre VARCHAR(20)", "--password", kTyped,
                      "--index", "pk:id:unique"})
                .exitCode,
            0);
  // The option may stand anywhere after FILE.
  ASSERT_EQ(Zudadmin({"import", db, "--password", kTyped, "personas", csv}).exitCode, 0);

  const ToolRun tables = Zudadmin({"tables", db, "--password", kTyped});
  EXPECT_EQ(tables.exitCode, 0);
  ASSERT_EQ(tables.lines.size(), 2u);
  EXPECT_EQ(tables.lines[0], "Name\tTableID\tRecords");
  EXPECT_EQ(tables.lines[1].substr(0, 9), "personas\t");
  EXPECT_EQ(tables.lines[1].substr(tables.lines[1].rfind('\t') + 1), "2");
  const ToolRun dump = Zudadmin({"dump", db, "personas", "--csv", "--password", kTyped});
  EXPECT_EQ(dump.exitCode, 0);
  EXPECT_TRUE(dump.Has("1,Ana"));
  EXPECT_TRUE(dump.Has("2,Eva"));
  const ToolRun check = ExpectToolCheckAsEngine(db, kTyped);
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.lines, std::vector<std::string>{"ok"});

  const std::string refused = "Cannot open database - incorrect password - Native error: 30445";
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                {"--password",
                                                 "contrase\xC3\xB1"
                                                 "a"}}) {
    const std::vector<std::vector<std::string>> commands = {
        {"tables", db},
        {"dump", db, "personas"},
        {"import", db, "personas", csv},
        {"check", db},
        {"create-table", db, "otra", "x INTEGER"},
    };
    for (std::vector<std::string> args : commands) {
      args.insert(args.end(), wrong.begin(), wrong.end());
      const ToolRun bad = Zudadmin(args);
      EXPECT_EQ(bad.exitCode, 1) << args[0];
      EXPECT_TRUE(bad.HasPart(refused)) << args[0];
    }
  }
  // The refused check is the engine's report of a file it cannot open.
  for (const std::string& wrong : {std::string(), std::string("contrase\xC3\xB1"
                                                              "a")}) {
    const ToolRun bad = ExpectToolCheckAsEngine(db, wrong);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.lines, std::vector<std::string>{"problem: database: " + refused});
  }
  // Nothing was added by the refused commands.
  const ToolRun after = Zudadmin({"dump", db, "personas", "--password", kTyped});
  EXPECT_EQ(std::count_if(after.lines.begin(), after.lines.end(),
                          [](const std::string& l) { return l[0] == '1' || l[0] == '2'; }),
            2);
  EXPECT_EQ(Zudadmin({"tables", db, "--password"}).exitCode, 2);
}

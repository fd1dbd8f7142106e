// zudadmin repair as a user runs it: a file left at State 1 is named by
// check (exit 1), repaired with its report printed (exit 0), after which
// check says "ok", dump prints every row and FILE.bak holds the damaged
// bytes; a second repair that would overwrite that backup, and a repair of
// a file that is no database, exit 1 and leave the file as it was.
#include <fstream>

#include "DiskTestUtil.h"
#include "ZudadminRun.h"

namespace {

namespace td = tiv::disk;

std::string MakeStateOneDatabase(const ScratchDir& dir) {
  const std::string db = dir.File("d.zud");
  EXPECT_EQ(Zudadmin({"create", db}).exitCode, 0);
  EXPECT_EQ(Zudadmin({"create-table", db, "t", "id AUTOINC, nombre VARCHAR(20) NOT NULL, nota MEMO", "--index",
                      "pk:id:unique"})
                .exitCode,
            0);
  std::ofstream(dir.File("rows.csv"), std::ios::binary) << "nombre,nota\nana,hola\nbea,\"mundo, grande\"\ncris,\n";
  EXPECT_EQ(Zudadmin({"import", db, "t", dir.File("rows.csv")}).exitCode, 0);
  Bytes bytes = ReadAll(db);
  bytes[td::kHdrState] = td::kStateCommitting;
  WriteAll(db, bytes);
  return db;
}

TEST(ZudadminRepair, AStateOneFileIsNamedByCheckThenRepairedWithItsReportAndABackup) {
  ScratchDir dir;
  const std::string db = MakeStateOneDatabase(dir);
  const Bytes damaged = ReadAll(db);
  const ToolRun check = ExpectToolCheckAsEngine(db);
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_TRUE(check.Has("problem: header: State 1: a commit was interrupted; run zudadmin repair"));

  const ToolRun repair = Zudadmin({"repair", db});
  EXPECT_EQ(repair.exitCode, 0);
  EXPECT_EQ(repair.lines, (std::vector<std::string>{"table 't': 3 rows copied", "backup: " + db + ".bak", "repaired"}));
  EXPECT_EQ(ReadAll(db + ".bak"), damaged);
  EXPECT_EQ(ExpectToolCheckAsEngine(db).lines, std::vector<std::string>{"ok"});
  const ToolRun dump = Zudadmin({"dump", db, "t", "--csv"});
  EXPECT_EQ(dump.exitCode, 0);
  EXPECT_EQ(dump.lines,
            (std::vector<std::string>{"id,nombre,nota", "1,ana,hola", "2,bea,\"mundo, grande\"", "3,cris,"}));

  // The backup is never overwritten: the next repair stops before anything.
  const Bytes repaired = ReadAll(db);
  const ToolRun again = Zudadmin({"repair", db});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_TRUE(again.HasPart("Cannot create file: '" + db + ".bak'"));
  EXPECT_EQ(ReadAll(db), repaired);
  EXPECT_EQ(ReadAll(db + ".bak"), damaged);
}

TEST(ZudadminRepair, AFileThatIsNoDatabaseIsNotRepairedAndStaysAsItWas) {
  ScratchDir dir;
  const std::string file = dir.File("x.zud");
  const Bytes junk(5000, 0x5A);
  WriteAll(file, junk);
  const ToolRun r = Zudadmin({"repair", file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.HasPart("Invalid file format"));
  EXPECT_EQ(ReadAll(file), junk);
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
  EXPECT_FALSE(std::filesystem::exists(file + ".bak"));
  EXPECT_EQ(Zudadmin({"repair"}).exitCode, 2);
}

}  // namespace

// The table commands of the admin tool as a user runs them: create-table,
// import with a bad row, tables, dump, and check finding flipped bytes.
#include <fstream>

#include "DiskTestUtil.h"
#include "ZudadminRun.h"
#include "disk/DiskDatabaseData.h"

namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A database with table "personas" (unique index on id, index on nombre)
// holding `rows` rows from a CSV import.
std::string MakeDatabase(const ScratchDir& dir, int rows) {
  const std::string db = dir.File("t.zud");
  EXPECT_EQ(Zudadmin({"create", db}).exitCode, 0);
  EXPECT_EQ(Zudadmin({"create-table", db, "personas",
                      "id INTEGER NOT NULL, nombre VARCHAR(30), alta DATE, nota MEMO, saldo DOUBLE", "--index",
                      "pk:id:unique", "--index", "by_nombre:nombre,id"})
                .exitCode,
            0);
  std::string csv = "id,nombre,alta,nota,saldo\n";
  for (int i = 1; i <= rows; ++i)
    csv += std::to_string(i) + ",Nombre " + std::to_string(i * 37 % 101) + ",2024-01-" + std::to_string(10 + i % 18) +
           ",\"nota " + std::to_string(i) + "\",\"" + std::to_string(i) + ",5\"\n";
  WriteText(dir.File("rows.csv"), csv);
  EXPECT_EQ(Zudadmin({"import", db, "personas", dir.File("rows.csv")}).exitCode, 0);
  return db;
}

TEST(ZudadminTables, CreateImportTablesAndDump) {
  ScratchDir dir;
  const std::string db = MakeDatabase(dir, 0);
  // Line 4 fails (duplicate key); lines 2 and 3 stay, line 5 is not read.
  WriteText(dir.File("p.csv"),
            "id,nombre,alta,nota,saldo\n"
            "1,Ana,2024-01-31,\"hola, \"\"mundo\"\"\",\"12,5\"\n"
            "2,,15/02/2023,,\n"
            "1,Otra,,,\n"
            "5,Eva,,,\n");
  const ToolRun import = Zudadmin({"import", db, "personas", dir.File("p.csv")});
  EXPECT_EQ(import.exitCode, 1);

  const ToolRun tables = Zudadmin({"tables", db});
  ASSERT_EQ(tables.lines.size(), 2u);
  EXPECT_EQ(tables.lines[1].substr(0, 9), "personas\t");
  EXPECT_EQ(tables.lines[1].substr(tables.lines[1].rfind('\t') + 1), "2");

  const ToolRun dump = Zudadmin({"dump", db, "personas"});
  EXPECT_EQ(dump.exitCode, 0);
  const std::vector<std::string> expected = {
      "field: id INTEGER NOT NULL",
      "field: nombre STRING(30)",
      "field: alta DATE",
      "field: nota MEMO",
      "field: saldo FLOAT",
      "index: pk (id) unique",
      "index: by_nombre (nombre, id)",
      "id\tnombre\talta\tnota\tsaldo",
      "1\tAna\t31/01/2024\thola, \"mundo\"\t12,5",
      "2\tNULL\t15/02/2023\tNULL\tNULL",
  };
  EXPECT_EQ(dump.lines, expected);
  const ToolRun csv = Zudadmin({"dump", db, "personas", "--csv"});
  ASSERT_EQ(csv.lines.size(), expected.size());
  EXPECT_EQ(csv.lines[8], "1,Ana,31/01/2024,\"hola, \"\"mundo\"\"\",\"12,5\"");

  const ToolRun check = Zudadmin({"check", db});
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.lines, std::vector<std::string>{"ok"});
}

TEST(ZudadminTables, CheckFindsAFlippedByteInARecordPageAnIndexPageAndTheTableList) {
  struct Case {
    const char* what;
    int offset;  // within the page
  };
  const Case cases[] = {
      {"record page owner", tiv::disk::kPgOwnerTableID},
      {"index page type", tiv::disk::kPgType},
      {"table list size", tiv::disk::kPageHeaderSize + 1},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].what);
    ScratchDir dir;
    const std::string db = MakeDatabase(dir, 300);
    int32_t page = -1;
    int64_t pageOffset = -1;
    {
      TABSDiskDatabaseData data("T");
      data.Open(db, TABSPassword{}, false, false);
      TABSSessionInfo s;
      data.Connect(s);
      TABSDiskTableData& t = data.OpenTable(s, "personas");
      page = k == 0   ? t.DiskRecords().IndexedPages(s.sessionID).at(1).first
             : k == 1 ? t.IndexManager().IndexDefs()[1]->rootPageNo
                      : data.Disk().TableList().StartPageNo();
      pageOffset = data.Pages().PageOffset(page);
      data.Disconnect(s);
    }
    ASSERT_EQ(Zudadmin({"check", db}).exitCode, 0);
    Bytes bytes = ReadAll(db);
    bytes.at(static_cast<size_t>(pageOffset) + static_cast<size_t>(cases[k].offset)) ^= 0x01;
    WriteAll(db, bytes);
    const ToolRun check = Zudadmin({"check", db});
    EXPECT_EQ(check.exitCode, 1);
    ASSERT_FALSE(check.lines.empty());
    for (const std::string& line : check.lines) EXPECT_EQ(line.rfind("problem: ", 0), 0u) << line;
    EXPECT_EQ(ReadAll(db), bytes);  // checking never writes
  }
}

}  // namespace

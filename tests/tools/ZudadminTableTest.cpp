// The table commands of the admin tool as a user runs them: create-table,
// import with a bad row, tables, schema, dump, dump --csv read back by
// import, and check printing the engine's report of a clean file and of
// flipped bytes with the engine's exit code.
#include <filesystem>
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
  // Line 4 fails (duplicate key); line 5 is not read. The file is one
  // transaction: nothing stays. A commit per record (--batch 1): lines 2
  // and 3 stay.
  WriteText(dir.File("p.csv"),
            "id,nombre,alta,nota,saldo\n"
            "1,Ana,2024-01-31,\"hola, \"\"mundo\"\"\",\"12,5\"\n"
            "2,,15/02/2023,,\n"
            "1,Otra,,,\n"
            "5,Eva,,,\n");
  const ToolRun whole = Zudadmin({"import", db, "personas", dir.File("p.csv")});
  EXPECT_EQ(whole.exitCode, 1);
  EXPECT_TRUE(whole.Has("0 records imported"));
  const ToolRun none = Zudadmin({"tables", db});
  ASSERT_EQ(none.lines.size(), 2u);
  EXPECT_EQ(none.lines[1].substr(none.lines[1].rfind('\t') + 1), "0");
  for (const char* bad : {"0", "x", "2x"})
    EXPECT_EQ(Zudadmin({"import", db, "personas", dir.File("p.csv"), "--batch", bad}).exitCode, 2) << bad;
  const ToolRun import = Zudadmin({"import", db, "personas", dir.File("p.csv"), "--batch", "1"});
  EXPECT_EQ(import.exitCode, 1);
  EXPECT_TRUE(import.Has("2 records imported"));

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
  // schema prints the definitions dump starts with; dump --csv only the
  // header row and the records, a NULL as an empty field.
  const ToolRun schema = Zudadmin({"schema", db, "personas"});
  EXPECT_EQ(schema.exitCode, 0);
  EXPECT_EQ(schema.lines, std::vector<std::string>(expected.begin(), expected.begin() + 7));
  const ToolRun csv = Zudadmin({"dump", db, "personas", "--csv"});
  EXPECT_EQ(csv.exitCode, 0);
  EXPECT_EQ(csv.lines,
            (std::vector<std::string>{"id,nombre,alta,nota,saldo", "1,Ana,31/01/2024,\"hola, \"\"mundo\"\"\",\"12,5\"",
                                      "2,,15/02/2023,,"}));

  const ToolRun check = ExpectToolCheckAsEngine(db);
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.lines, std::vector<std::string>{"ok"});
}

TEST(ZudadminTables, CheckPrintsTheEnginesReportOfAFlippedByteInARecordPageAnIndexPageAndTheTableList) {
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
    ExpectCheckOk(db);
    Bytes bytes = ReadAll(db);
    bytes.at(static_cast<size_t>(pageOffset) + static_cast<size_t>(cases[k].offset)) ^= 0x01;
    WriteAll(db, bytes);
    const ToolRun check = ExpectToolCheckAsEngine(db);
    EXPECT_EQ(check.exitCode, 1);
    ASSERT_FALSE(check.lines.empty());
    for (const std::string& line : check.lines) EXPECT_EQ(line.rfind("problem: ", 0), 0u) << line;
    EXPECT_EQ(ReadAll(db), bytes);  // checking never writes
  }
}

// dump --csv read back by import into an empty table of the same
// definitions dumps the same text: every value (NULLs, an empty memo and
// the text "NULL", separators, quotes and line breaks, blanks at the ends,
// dates and times, decimals with the locale's comma, BLOB bytes) comes
// back as it was.
TEST(ZudadminTables, DurableCommitsAreAnOptionOfTheCommandsThatCommit) {
  ScratchDir dir;
  const std::string db = MakeDatabase(dir, 0);
  WriteText(dir.File("d.csv"), "id,nombre,alta,nota,saldo\n1,Ana,,,\n2,Eva,,,\n");
  EXPECT_TRUE(Zudadmin({"import", db, "personas", dir.File("d.csv"), "--durable"}).Has("2 records imported"));
  EXPECT_FALSE(std::filesystem::exists(db + "-journal"));
  EXPECT_EQ(Zudadmin({"check", db}).exitCode, 0);
  // Only the commands that commit take it.
  EXPECT_EQ(Zudadmin({"dump", db, "personas", "--durable"}).exitCode, 2);
}

TEST(ZudadminTables, DumpCsvRoundTripsThroughImport) {
  ScratchDir dir;
  const std::string db = dir.File("r.zud");
  ASSERT_EQ(Zudadmin({"create", db}).exitCode, 0);
  const std::string columns =
      "id INTEGER NOT NULL, nombre VARCHAR(40), letra CHAR(3), alta DATE, hora TIME, momento DATETIME, "
      "saldo DOUBLE, importe CURRENCY, hecho LOGICAL, grande LARGEINT, nota MEMO, datos BLOB";
  for (const char* table : {"origen", "copia"})
    ASSERT_EQ(Zudadmin({"create-table", db, table, columns, "--index", "pk:id:unique", "--index", "by_nombre:nombre"})
                  .exitCode,
              0);
  const ToolRun schema = Zudadmin({"schema", db, "origen"});
  EXPECT_EQ(schema.exitCode, 0);
  EXPECT_EQ(schema.lines.size(), 14u);
  EXPECT_EQ(Zudadmin({"schema", db, "copia"}).lines, schema.lines);

  // A BLOB of bytes that are no text: a zero, a carriage return, 0xFF, a
  // separator and a quote; written quoted, the quote doubled.
  const std::string blobCsv = std::string("\"a") + '\0' + "b\rc\xFF" + ",\"\"d\"";
  const std::string header = "id,nombre,letra,alta,hora,momento,saldo,importe,hecho,grande,nota,datos";
  WriteText(dir.File("in.csv"),
            header +
                "\n"
                "1,\"P\xC3\xA9rez, \"\"Ana\"\"\",xy,2024-02-29,08:05:09,2023-12-31 23:59:58,\"0,1\","
                "\"-12,34\",true,-9007199254740993,\"dos\nl\xC3\xADneas\"," +
                blobCsv +
                "\n"
                "2,NULL,,,,,,,,,\"\",\n"
                "3,,z,01/01/1900,00:00:00,15/06/2000 12:00:00,1E300,0,false,0, blanks ,plain\n");
  const ToolRun imported = Zudadmin({"import", db, "origen", dir.File("in.csv")});
  ASSERT_EQ(imported.exitCode, 0);
  EXPECT_TRUE(imported.Has("3 records imported"));

  const ToolRun first = Zudadmin({"dump", db, "origen", "--csv"});
  ASSERT_EQ(first.exitCode, 0);
  // Record 1 spans two lines (its memo's line break); the NULLs of record 2
  // are empty fields, its empty memo "" and its text "NULL" plain.
  const std::vector<std::string> expected = {
      header,
      "1,\"P\xC3\xA9rez, \"\"Ana\"\"\",xy,29/02/2024,08:05:09,31/12/2023 23:59:58,\"0,1\",\"-12,34\",True,"
      "-9007199254740993,\"dos",
      "l\xC3\xADneas\"," + blobCsv,
      "2,NULL,,,,,,,,,\"\",",
      "3,,z,01/01/1900,00:00:00,15/06/2000 12:00:00,1E300,0,False,0, blanks ,plain",
  };
  EXPECT_EQ(first.lines, expected);
  std::string text;
  for (const std::string& line : first.lines) text += line + "\n";
  WriteText(dir.File("dump.csv"), text);

  const ToolRun again = Zudadmin({"import", db, "copia", dir.File("dump.csv")});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(again.Has("3 records imported"));
  EXPECT_EQ(Zudadmin({"dump", db, "copia", "--csv"}).lines, first.lines);

  // With one field a NULL is a blank line, as dump --csv writes it, and
  // import reads it as a record.
  ASSERT_EQ(Zudadmin({"create-table", db, "una", "v VARCHAR(10)"}).exitCode, 0);
  WriteText(dir.File("una.csv"), "v\nabc\n\n\"\"\nxyz\n");
  EXPECT_TRUE(Zudadmin({"import", db, "una", dir.File("una.csv")}).Has("4 records imported"));
  EXPECT_EQ(Zudadmin({"dump", db, "una"}).lines,
            (std::vector<std::string>{"field: v STRING(10)", "v", "abc", "NULL", "NULL", "xyz"}));
}

// Byte strings have no text form: dump --csv writes their stored bytes as
// they are and import takes them back, so a table of them round-trips too.
TEST(ZudadminTables, DumpCsvRoundTripsByteStrings) {
  ScratchDir dir;
  const std::string db = dir.File("b.zud");
  ASSERT_EQ(Zudadmin({"create", db}).exitCode, 0);
  for (const char* table : {"origen", "copia"})
    ASSERT_EQ(Zudadmin({"create-table", db, table, "k INTEGER, raw BYTES(4), var VARBYTES(6)"}).exitCode, 0);
  WriteText(dir.File("in.csv"), std::string("k,raw,var\n1,ab\x01\xFF,\"x,y\"\n2,,\n"));
  ASSERT_TRUE(Zudadmin({"import", db, "origen", dir.File("in.csv")}).Has("2 records imported"));

  const ToolRun first = Zudadmin({"dump", db, "origen", "--csv"});
  ASSERT_EQ(first.exitCode, 0);
  ASSERT_EQ(first.lines.size(), 3u);
  EXPECT_EQ(first.lines[1].rfind(std::string("1,ab\x01\xFF"), 0), 0u) << first.lines[1];
  EXPECT_NE(first.lines[1].find("x,y"), std::string::npos);
  EXPECT_EQ(first.lines[2], "2,,");
  std::string text;
  for (const std::string& line : first.lines) text += line + "\n";
  WriteText(dir.File("dump.csv"), text);
  EXPECT_TRUE(Zudadmin({"import", db, "copia", dir.File("dump.csv")}).Has("2 records imported"));
  EXPECT_EQ(Zudadmin({"dump", db, "copia", "--csv"}).lines, first.lines);
}

}  // namespace

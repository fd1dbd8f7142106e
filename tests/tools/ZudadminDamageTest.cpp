// The admin tool on damaged files: dump never prints a value the file no
// longer holds (a flipped byte in a record or a memo), fails when it read
// fewer records than the table counts (a zeroed record page), and after a
// commit cut off between a row's record page and its memo page prints the
// committed rows and names the row it cannot read, exiting 1 each time.
#include <algorithm>
#include <fstream>
#include <functional>

#include "DiskTestUtil.h"
#include "ZudadminRun.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabaseData.h"

namespace {

namespace td = tiv::disk;

constexpr int kRows = 20;
constexpr int kPageSize = 4096;

std::string Name(int i) { return "persona-" + std::to_string(100 + i); }
std::string Memo(int i) { return "memo de la persona " + std::to_string(100 + i); }
std::string DumpLine(int i) { return std::to_string(i) + "\t" + Name(i) + "\t" + Memo(i); }

// Table "personas" (id with a unique index, nombre, nota MEMO) with rows
// 1..kRows, made by the tool itself; all rows fit one record page.
std::string MakeDatabase(const ScratchDir& dir) {
  const std::string db = dir.File("d.zud");
  EXPECT_EQ(Zudadmin({"create", db}).exitCode, 0);
  EXPECT_EQ(Zudadmin({"create-table", db, "personas", "id INTEGER NOT NULL, nombre VARCHAR(30), nota MEMO", "--index",
                      "pk:id:unique"})
                .exitCode,
            0);
  std::string csv = "id,nombre,nota\n";
  for (int i = 1; i <= kRows; ++i) csv += std::to_string(i) + "," + Name(i) + "," + Memo(i) + "\n";
  std::ofstream(dir.File("rows.csv"), std::ios::binary) << csv;
  EXPECT_EQ(Zudadmin({"import", db, "personas", dir.File("rows.csv")}).exitCode, 0);
  return db;
}

struct Connection {
  TABSDiskDatabaseData data{"T"};
  TABSSessionInfo s;
  explicit Connection(const std::string& path) {
    data.Open(path, TABSPassword{}, false, false);
    data.Connect(s);
  }
  ~Connection() { data.Disconnect(s); }
  TABSDiskTableData& Table() { return data.OpenTable(s, "personas"); }
  int64_t PageOffset(int32_t pageNo) { return data.Pages().PageOffset(pageNo); }
  int32_t RecordPage() {
    const auto pages = Table().DiskRecords().IndexedPages(s.sessionID);
    EXPECT_EQ(pages.size(), 1u);
    return pages.at(0).first;
  }
  // The page of every memo (one small BLOB page here).
  int32_t MemoPage() {
    TABSDiskTableData& t = Table();
    int32_t page = -1;
    t.IndexManager().ForEachRecord(s.sessionID, [&](const char* record, const TABSRecordID&) {
      bool small = false;
      const auto pages = t.DiskBlobs()->ValuePages(
          s.sessionID, TABSBlobReference::Read(record + t.FieldDefs()[2]->MemoryOffset()), small);
      EXPECT_TRUE(small);
      page = pages.at(0);
    });
    return page;
  }
};

size_t OffsetOf(const Bytes& file, int64_t pageOffset, const std::string& text) {
  const auto begin = file.begin() + pageOffset;
  const auto at = std::search(begin, begin + kPageSize, text.begin(), text.end());
  EXPECT_NE(at, begin + kPageSize) << text;
  return static_cast<size_t>(at - file.begin());
}

TEST(ZudadminDamage, DumpNeverPrintsAValueTheFileNoLongerHoldsAndFailsOnMissingRecords) {
  struct Case {
    const char* what;
    // Damages the file, given what a clean open found; answers the part of
    // the message dump must print.
    std::function<std::string(Bytes&, Connection&)> damage;
    std::string changed;  // a value that must not be printed
  };
  const Case cases[] = {
      {"a flipped byte in a record",
       [](Bytes& file, Connection& c) {
         const int32_t page = c.RecordPage();
         file.at(OffsetOf(file, c.PageOffset(page), Name(7))) ^= 0x20;  // 'p' -> 'P'
         return "Error getting " + std::to_string(page) + "-th table file page";
       },
       "P" + Name(7).substr(1)},
      {"a flipped byte in a memo",
       [](Bytes& file, Connection& c) {
         const int32_t page = c.MemoPage();
         file.at(OffsetOf(file, c.PageOffset(page), Memo(7))) ^= 0x20;  // 'm' -> 'M'
         return "Error getting " + std::to_string(page) + "-th table file page";
       },
       "M" + Memo(7).substr(1)},
      {"a zeroed record page",
       [](Bytes& file, Connection& c) {
         const int64_t at = c.PageOffset(c.RecordPage());
         std::fill(file.begin() + at, file.begin() + at + kPageSize, 0);
         return std::string("table 'personas': 0 records read, the table counts ") + std::to_string(kRows);
       },
       Name(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string db = MakeDatabase(dir);
    Bytes bytes = ReadAll(db);
    std::string message;
    {
      Connection open(db);
      message = c.damage(bytes, open);
    }
    WriteAll(db, bytes);
    const ToolRun dump = Zudadmin({"dump", db, "personas"});
    EXPECT_EQ(dump.exitCode, 1);
    EXPECT_TRUE(dump.HasPart(message)) << ::testing::PrintToString(dump.lines);
    EXPECT_FALSE(dump.HasPart(c.changed)) << ::testing::PrintToString(dump.lines);
    const ToolRun csv = Zudadmin({"dump", db, "personas", "--csv"});
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_FALSE(csv.HasPart(c.changed));
    // The table's own count is what tables says; the check finds the damage.
    const ToolRun tables = Zudadmin({"tables", db});
    ASSERT_EQ(tables.lines.size(), 2u);
    EXPECT_EQ(tables.lines[1].substr(tables.lines[1].rfind('\t') + 1), std::to_string(kRows));
    EXPECT_EQ(ExpectToolCheckAsEngine(db).exitCode, 1);
  }
}

TEST(ZudadminDamage, ACommitCutBetweenARecordPageAndItsMemoPageLeavesTheCommittedRowsDumpable) {
  // Row 21 is inserted; then its memo page is put back as it was before
  // the commit and the header left at State 1: the file a process killed
  // after writing the record page and before the memo page leaves.
  ScratchDir dir;
  const std::string db = MakeDatabase(dir);
  const Bytes before = ReadAll(db);
  int32_t memoPage = -1, recordPage = -1;
  int64_t at = -1;
  {
    Connection c(db);
    TABSDiskTableData& t = c.Table();
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    t.InitRecordForInsert(r.data());
    TABSVariant id;
    id.SetAsInteger(kRows + 1);
    WriteFieldValue(t.FieldDefs(), r.data(), 0, id);
    const std::string memo = Memo(kRows + 1);
    t.WriteBlobBuffer(c.s, r.data(), 2, memo.data(), static_cast<int64_t>(memo.size()));
    t.InsertRecord(c.s, r.data());
    memoPage = c.MemoPage();
    recordPage = c.RecordPage();
    at = c.PageOffset(memoPage);
  }
  Bytes file = ReadAll(db);
  ASSERT_LT(static_cast<size_t>(at + kPageSize), before.size());
  std::copy(before.begin() + at, before.begin() + at + kPageSize, file.begin() + at);
  file[td::kHdrState] = td::kStateCommitting;
  WriteAll(db, file);

  const ToolRun dump = Zudadmin({"dump", db, "personas"});
  EXPECT_EQ(dump.exitCode, 1);
  for (int i = 1; i <= kRows; ++i) EXPECT_TRUE(dump.Has(DumpLine(i))) << i;
  EXPECT_TRUE(dump.HasPart("record " + std::to_string(recordPage) + ":")) << ::testing::PrintToString(dump.lines);
  EXPECT_TRUE(dump.HasPart("field nota: Cannot find blob field"));
  EXPECT_FALSE(dump.HasPart(std::to_string(kRows + 1) + "\t"));
  EXPECT_EQ(ExpectToolCheckAsEngine(db).exitCode, 1);
}

}  // namespace

// The engine's repair (RepairDatabase): a file left at State 1 is rebuilt
// whole, with its page size, extent, connections and autoincrement counters;
// a record page that fails its CRC loses only its rows, a BLOB value that
// cannot be read only that value; a failure anywhere before the swap leaves
// the file byte for byte as it was and no copy behind, and the next repair
// works; an earlier backup is never overwritten; an encrypted file keeps
// its password and cipher.
#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabaseData.h"
#include "os/FaultFile.h"

namespace {

namespace td = tiv::disk;

constexpr uint16_t kPageSize = 8192;
constexpr uint16_t kExtent = 4;
constexpr int32_t kConnections = 12;
constexpr int kRows = 240;  // over several record pages
constexpr size_t kLargeBlob = 20000;

// Bytes that no compression shrinks, so a large value spans its pages.
std::string Noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

struct Open {
  TABSDiskDatabaseData data{"REPAIR_TEST"};
  TABSSessionInfo s;
  explicit Open(const std::string& path, const TABSPassword& password = {}) {
    data.Open(path, password, false, false);
    data.Connect(s);
  }
  ~Open() { data.Disconnect(s); }
};

void AddField(TABSFieldDefs& fields, const char* name, TABSDataType type, int32_t size = 0) {
  TABSFieldDef* f = fields.AddNew();
  f->SetName(name);
  f->SetDataType(type, size);
}

void SetText(const TABSFieldDefs& fields, char* record, int n, const std::string& text) {
  TABSVariant v;
  v.SetAsString(text);
  WriteFieldValue(fields, record, n, v);
}

// "personas": id autoincrement (unique pk), nombre NOT NULL (index), saldo,
// nota memo (NULL every 7th row), datos BLOB (a large value every 25th row,
// a small one every 10th); the row with the highest id deleted again, so
// the counter stands above every id. "gastos" without index, "vacia" empty.
void Build(const std::string& path, const TABSPassword& password = {}) {
  TABSDiskDatabase().CreateDatabase(path, password, kConnections, kExtent, kPageSize);
  Open db(path, password);
  TABSFieldDefs fields;
  AddField(fields, "id", aftAutoInc);
  AddField(fields, "nombre", aftString, 120);
  AddField(fields, "saldo", aftDouble);
  AddField(fields, "nota", aftMemo);
  AddField(fields, "datos", aftBlob);
  TABSIndexDefs indexes;
  TABSIndexDef* pk = indexes.AddNew();
  pk->SetName("pk");
  pk->unique = true;
  pk->FillColumns({"id"}, {"ASC"}, {"CASE"});
  TABSIndexDef* byName = indexes.AddNew();
  byName->SetName("by_nombre");
  byName->FillColumns({"nombre"}, {"ASC"}, {"CASE"});
  TABSConstraintDefs constraints;
  constraints.AddNewNotNull()->SubjectSlot().name = "nombre";
  TABSDiskTableData& p = db.data.CreateTable(db.s, "personas", fields, indexes, &constraints);
  std::vector<char> r(static_cast<size_t>(p.FieldDefs().MemoryRecordSize()));
  TABSRecordID last;
  for (int i = 1; i <= kRows; ++i) {
    p.InitRecordForInsert(r.data());
    SetText(p.FieldDefs(), r.data(), 1, "persona " + std::to_string(i));
    SetText(p.FieldDefs(), r.data(), 2, std::to_string(i) + ".25");
    if (i % 7 != 0) {
      const std::string nota = "nota de " + std::to_string(i);
      p.WriteBlobBuffer(db.s, r.data(), 3, nota.data(), static_cast<int64_t>(nota.size()));
    }
    if (i % 25 == 0 || i % 10 == 0) {
      const std::string datos = Noise(i % 25 == 0 ? kLargeBlob : 300, static_cast<uint32_t>(i));
      p.WriteBlobBuffer(db.s, r.data(), 4, datos.data(), static_cast<int64_t>(datos.size()));
    }
    last = p.InsertRecord(db.s, r.data());
  }
  p.DeleteRecord(db.s, last);

  TABSFieldDefs gastosFields;
  AddField(gastosFields, "concepto", aftString, 20);
  AddField(gastosFields, "importe", aftDouble);
  TABSDiskTableData& g = db.data.CreateTable(db.s, "gastos", gastosFields, TABSIndexDefs{});
  std::vector<char> gr(static_cast<size_t>(g.FieldDefs().MemoryRecordSize()));
  for (int i = 1; i <= 5; ++i) {
    g.InitRecordForInsert(gr.data());
    SetText(g.FieldDefs(), gr.data(), 0, "gasto " + std::to_string(i));
    SetText(g.FieldDefs(), gr.data(), 1, std::to_string(i * 3));
    g.InsertRecord(db.s, gr.data());
  }
  TABSFieldDefs vaciaFields;
  AddField(vaciaFields, "k", aftInteger);
  TABSIndexDefs vaciaIndexes;
  vaciaIndexes.AddNew()->SetName("k_idx");
  vaciaIndexes[0]->FillColumns({"k"}, {"ASC"}, {"CASE"});
  db.data.CreateTable(db.s, "vacia", vaciaFields, vaciaIndexes);
}

// A row as text: its first `fields` values (all by default), NULL as
// "NULL", BLOBs as their bytes.
std::string RowText(TABSDiskTableData& t, TABSSessionInfo& s, const char* record, int fields = -1) {
  std::string text;
  for (int n = 0; n < (fields < 0 ? t.FieldDefs().Count() : fields); ++n) {
    text += n ? "|" : "";
    if (IsFieldNull(record, n)) {
      text += "NULL";
    } else if (t.FieldDefs()[n]->IsBlob()) {
      text += t.ReadBlobBuffer(s, record, n);
    } else {
      TABSVariant v;
      ReadFieldValue(t.FieldDefs(), record, n, v);
      text += v.AsString();
    }
  }
  return text;
}

// Every table's rows, sorted, and for each row the record page it is on.
struct Contents {
  std::map<std::string, std::vector<std::string>> rows;
  std::map<int32_t, std::vector<std::string>> personasByPage;
};

Contents Read(const std::string& path, const TABSPassword& password = {}) {
  Contents c;
  Open db(path, password);
  for (const TABSTableListEntry& e : db.data.Tables(db.s)) {
    TABSDiskTableData& t = db.data.OpenTable(db.s, e.TableName);
    std::vector<std::string>& rows = c.rows[e.TableName];
    TABSTableData::ReadScope read(t, db.s);
    t.IndexManager().ForEachRecord(db.s.sessionID, [&](const char* record, const TABSRecordID& id) {
      rows.push_back(RowText(t, db.s, record));
      if (e.TableName == "personas") c.personasByPage[id.pageNo].push_back(rows.back());
    });
    EXPECT_EQ(static_cast<int64_t>(rows.size()), t.GetRecordCount(db.s)) << e.TableName;
    std::sort(rows.begin(), rows.end());
  }
  return c;
}

int64_t PageOffset(int32_t pageNo) { return td::kNewPageAreaOffset + int64_t{pageNo} * kPageSize; }

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

class Repair : public ::testing::Test {
 protected:
  ScratchDir dir{"tivoran-repair"};
  std::string path = dir.File("db.zud");
  std::string tmp = path + ".tmp";
  std::string bak = path + ".bak";
};

TEST_F(Repair, AStateOneFileIsReportedAndRebuiltWithEveryRowItsSettingsItsCountersAndABackup) {
  Build(path);
  const Contents before = Read(path);
  ASSERT_EQ(before.rows.at("personas").size(), static_cast<size_t>(kRows - 1));
  ASSERT_GE(before.personasByPage.size(), 3u);
  Bytes damaged = ReadAll(path);
  damaged[td::kHdrState] = td::kStateCommitting;
  WriteAll(path, damaged);

  const TABSCheckReport check = CheckDatabase(path, TABSPassword{});
  EXPECT_FALSE(check.Ok());
  EXPECT_EQ(check.problems.front(), "header: State 1: a commit was interrupted; run zudadmin repair");

  std::vector<int> percents;
  const TABSRepairReport report = RepairDatabase(path, TABSPassword{}, [&](int p) { percents.push_back(p); });
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(report.Lines(),
            (std::vector<std::string>{"table 'personas': 239 rows copied", "table 'gastos': 5 rows copied",
                                      "table 'vacia': 0 rows copied", "backup: " + bak, "repaired"}));
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));

  EXPECT_EQ(ReadAll(bak), damaged);
  EXPECT_FALSE(Exists(tmp));
  const Bytes repaired = ReadAll(path);
  EXPECT_EQ(repaired[td::kHdrState], td::kStateConsistent);
  EXPECT_EQ(td::GetU16(repaired.data() + td::kHdrPageSize), kPageSize);
  EXPECT_EQ(td::GetU16(repaired.data() + td::kHdrPageCountInExtent), kExtent);
  ExpectCheckOk(path);
  EXPECT_EQ(Read(path).rows, before.rows);

  Open db(path);
  EXPECT_EQ(db.data.MaxConnections(), kConnections);
  // The deleted row's id is not handed out again: the counter came along.
  TABSDiskTableData& p = db.data.OpenTable(db.s, "personas");
  std::vector<char> r(static_cast<size_t>(p.FieldDefs().MemoryRecordSize()));
  p.InitRecordForInsert(r.data());
  SetText(p.FieldDefs(), r.data(), 1, "nueva");
  p.InsertRecord(db.s, r.data());
  EXPECT_EQ(p.GetLastAutoincValue(db.s, "id"), kRows + 1);
}

TEST_F(Repair, ARecordPageThatFailsItsCrcLosesOnlyItsRowsAndTheRepairedFileChecksClean) {
  Build(path);
  Contents before = Read(path);
  // The middle record page of personas: rows on both sides of it survive.
  auto page = before.personasByPage.begin();
  std::advance(page, before.personasByPage.size() / 2);
  const int32_t pageNo = page->first;
  const std::vector<std::string> lostRows = page->second;
  Bytes bytes = ReadAll(path);
  bytes[static_cast<size_t>(PageOffset(pageNo) + td::kPageHeaderSize + 20)] ^= 0x40;
  WriteAll(path, bytes);
  ASSERT_FALSE(CheckDatabase(path, TABSPassword{}).Ok());

  const TABSRepairReport report = RepairDatabase(path, TABSPassword{});
  EXPECT_FALSE(report.Complete());
  const auto& personas = *std::find_if(report.tables.begin(), report.tables.end(),
                                       [](const TABSRepairTableReport& t) { return t.name == "personas"; });
  const int64_t lost = static_cast<int64_t>(lostRows.size());
  EXPECT_EQ(personas.rowsLost, lost);
  EXPECT_EQ(personas.rowsCopied, kRows - 1 - lost);
  const std::string p = std::to_string(pageNo);
  EXPECT_EQ(personas.problems,
            std::vector<std::string>{"record page " + p + ": Error getting " + p +
                                     "-th table file page. Probably database is corrupted and needs repair. - "
                                     "Native error: 20300; its " +
                                     std::to_string(lost) + " rows lost"});
  EXPECT_EQ(report.Lines().back(), "repaired with losses");
  EXPECT_EQ(ReadAll(bak), bytes);

  ExpectCheckOk(path);
  std::vector<std::string> expected;
  for (const std::string& row : before.rows.at("personas"))
    if (std::find(lostRows.begin(), lostRows.end(), row) == lostRows.end()) expected.push_back(row);
  const Contents after = Read(path);
  EXPECT_EQ(after.rows.at("personas"), expected);
  EXPECT_EQ(after.rows.at("gastos"), before.rows.at("gastos"));
}

TEST_F(Repair, ABlobValueThatCannotBeReadIsCopiedAsNullAndNamedTheRestOfItsRowKept) {
  Build(path);
  const Contents before = Read(path);
  // The large value of row 50: its first page, damaged.
  std::string damagedRow, nulled;
  TABSRecordID damagedId;
  int32_t blobPage = -1;
  {
    Open db(path);
    TABSDiskTableData& t = db.data.OpenTable(db.s, "personas");
    TABSTableData::ReadScope read(t, db.s);
    t.IndexManager().ForEachRecord(db.s.sessionID, [&](const char* record, const TABSRecordID& id) {
      TABSVariant v;
      ReadFieldValue(t.FieldDefs(), record, 0, v);
      if (v.AsString() != "50") return;
      damagedRow = RowText(t, db.s, record);
      nulled = RowText(t, db.s, record, 4) + "|NULL";
      damagedId = id;
      bool small = true;
      const auto ref = TABSBlobReference::Read(record + t.FieldDefs()[4]->MemoryOffset());
      blobPage = t.DiskBlobs()->ValuePages(db.s.sessionID, ref, small).front();
      EXPECT_FALSE(small);
    });
  }
  ASSERT_GE(blobPage, 0);
  Bytes bytes = ReadAll(path);
  bytes[static_cast<size_t>(PageOffset(blobPage) + td::kPageHeaderSize + 100)] ^= 0x01;
  WriteAll(path, bytes);

  const TABSRepairReport report = RepairDatabase(path, TABSPassword{});
  const TABSRepairTableReport& personas = report.tables.front();
  EXPECT_EQ(personas.rowsCopied, kRows - 1);
  EXPECT_EQ(personas.rowsLost, 0);
  EXPECT_EQ(personas.valuesNulled, 1);
  ASSERT_EQ(personas.problems.size(), 1u);
  EXPECT_EQ(
      personas.problems[0].rfind(
          "record " + std::to_string(damagedId.pageNo) + ":" + std::to_string(damagedId.rowNo) + " field datos: ", 0),
      0u)
      << personas.problems[0];
  EXPECT_NE(personas.problems[0].find("; copied as NULL"), std::string::npos);
  ExpectCheckOk(path);
  // Row 50 is there with every value but datos; every other row as it was.
  std::vector<std::string> expected = before.rows.at("personas");
  std::replace(expected.begin(), expected.end(), damagedRow, nulled);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Read(path).rows.at("personas"), expected);
}

// Each failure the repair can meet after it began to write: a write of the
// copy (its first, one half-way, its last) or of the backup, the flush of
// either, the rename. The file is the damaged one, byte for byte; no copy
// and no backup remain; the next repair runs to the end.
TEST_F(Repair, AFailureAnywhereBeforeTheSwapLeavesTheFileAsItWasAndTheNextRepairWorks) {
  Build(path);
  const Contents before = Read(path);
  Bytes damaged = ReadAll(path);
  damaged[td::kHdrState] = td::kStateCommitting;
  WriteAll(path, damaged);
  // How many writes and flushes a whole repair makes, on a copy of the file.
  int writes = 0, syncs = 0;
  {
    ScratchDir other{"tivoran-repair-count"};
    const std::string copy = other.File("db.zud");
    WriteAll(copy, damaged);
    tiv::os::FaultFileSystem counting;
    RepairDatabase(copy, TABSPassword{}, {}, counting);
    writes = counting.WriteCount();
    syncs = counting.SyncCount();
  }
  ASSERT_GT(writes, 10);
  ASSERT_GE(syncs, 2);
  struct Fault {
    std::string name;
    std::function<void(tiv::os::FaultFileSystem&)> arm;
  };
  const std::vector<Fault> faults = {
      // Three in a row: the database file tries a failed write once more.
      {"first write", [](auto& f) { f.FailWrite(1, 3); }},
      {"a write half-way", [&](auto& f) { f.FailWrite(writes / 2, 3); }},
      {"the last write (the backup)", [&](auto& f) { f.FailWrite(writes, 3); }},
      {"the first flush", [](auto& f) { f.FailSync(1); }},
      {"the last flush (the backup)", [&](auto& f) { f.FailSync(syncs); }},
      {"the rename", [](auto& f) { f.FailRename(1); }},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    tiv::os::FaultFileSystem fs;
    fault.arm(fs);
    const int32_t code = NativeCodeOf([&] { RepairDatabase(path, TABSPassword{}, {}, fs); });
    EXPECT_NE(code, 0);
    // Not until the original is back and the leftovers gone may the next
    // case run: a repair that went through would spoil every later one.
    if (code == 0) return;
    EXPECT_EQ(ReadAll(path), damaged);
    EXPECT_FALSE(Exists(tmp));
    EXPECT_FALSE(Exists(bak));
  }
  const TABSRepairReport report = RepairDatabase(path, TABSPassword{});
  EXPECT_TRUE(report.Complete());
  ExpectCheckOk(path);
  EXPECT_EQ(Read(path).rows, before.rows);
}

TEST_F(Repair, AnEarlierBackupIsNeverOverwrittenAndAStaleCopyIsReplaced) {
  Build(path);
  Bytes damaged = ReadAll(path);
  damaged[td::kHdrState] = td::kStateCommitting;
  WriteAll(path, damaged);
  const Bytes earlier = {'o', 'l', 'd'};
  WriteAll(bak, earlier);
  ExpectEngineError([&] { RepairDatabase(path, TABSPassword{}); }, 30361,
                    "Cannot create file: '" + bak + "' Error code: 17");
  EXPECT_EQ(ReadAll(bak), earlier);
  EXPECT_EQ(ReadAll(path), damaged);
  EXPECT_FALSE(Exists(tmp));
  // A copy left by a repair that was killed half-way is simply made again.
  std::filesystem::remove(bak);
  WriteAll(tmp, Bytes(5000, 0xAB));
  EXPECT_TRUE(RepairDatabase(path, TABSPassword{}).Complete());
  EXPECT_FALSE(Exists(tmp));
  ExpectCheckOk(path);
}

TEST_F(Repair, AnEncryptedFileIsRepairedWithItsPasswordAndCipherAndRefusedWithAWrongOne) {
  const TABSPassword password{"clave secreta", 3};
  Build(path, password);
  const Contents before = Read(path, password);
  Bytes damaged = ReadAll(path);
  damaged[td::kHdrState] = td::kStateCommitting;
  WriteAll(path, damaged);
  ExpectEngineError([&] { RepairDatabase(path, TABSPassword{"otra", 3}); }, 30445);
  EXPECT_EQ(ReadAll(path), damaged);
  EXPECT_FALSE(Exists(tmp));
  EXPECT_FALSE(Exists(bak));

  EXPECT_TRUE(RepairDatabase(path, TABSPassword{"clave secreta", 0}).Complete());
  ExpectCheckOk(path, password);
  EXPECT_EQ(Read(path, password).rows, before.rows);
  const Bytes repaired = ReadAll(path);
  EXPECT_EQ(repaired[td::kHdrEncrypted], td::kEncryptedYes);
  EXPECT_EQ(repaired[td::kNewCheckBlockOffset + td::kChkCryptoAlgorithm], 3);
}

}  // namespace

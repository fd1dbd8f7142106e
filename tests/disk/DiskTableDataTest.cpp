// Disk tables as a whole: a table of every field type with indexes and BLOB
// values driven against a std::map through inserts, updates and deletes,
// closed and read back; drop, rename and empty giving their pages back;
// long names; damaged metadata.
#include <functional>
#include <map>
#include <random>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"
#include "disk/FreeSpaceMap.h"
#include "support/ChildProcess.h"
#include "support/FieldList.h"

namespace {

// Every field type a disk table stores (the autoincrement kinds by one
// representative: they share their storage with the plain integers).
const std::vector<FieldShape> kColumns = {
    {"k", aftInteger, 0},      {"c", aftChar, 10},     {"s", aftString, 30},    {"wc", aftWideChar, 6},
    {"ws", aftWideString, 12}, {"i8", aftShortint, 0}, {"i16", aftSmallint, 0}, {"i64", aftLargeint, 0},
    {"u8", aftByte, 0},        {"u16", aftWord, 0},    {"u32", aftCardinal, 0}, {"ai", aftAutoIncInteger, 0},
    {"f32", aftSingle, 0},     {"f64", aftDouble, 0},  {"f80", aftExtended, 0}, {"b", aftLogical, 0},
    {"cur", aftCurrency, 0},   {"d", aftDate, 0},      {"t", aftTime, 0},       {"dt", aftDateTime, 0},
    {"ts", aftTimeStamp, 0},   {"by", aftBytes, 8},    {"vb", aftVarBytes, 8},  {"g", aftGuid, 0},
    {"blob", aftBlob, 0},      {"memo", aftMemo, 0},
};
constexpr int kKey = 0, kString = 2, kBlob = 24, kMemo = 25;

void AllTypes(TABSFieldDefs& fields) { AddFields(fields, kColumns); }

void Indexes(TABSIndexDefs& defs) {
  TABSIndexDef* byKey = defs.AddNew();
  byKey->SetName("by_k");
  byKey->unique = true;
  byKey->FillColumns({"k"}, {"ASC"}, {"CASE"});
  TABSIndexDef* byS = defs.AddNew();
  byS->SetName("by_s");
  byS->FillColumns({"s", "k"}, {"DESC", "ASC"}, {"NO_CASE", "CASE"});
}

// The definitions of the test table, with or without its two indexes.
struct Defs {
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  explicit Defs(bool withIndexes = true) {
    AllTypes(fields);
    if (withIndexes) Indexes(indexes);
  }
};

// The text of every non-BLOB field of a record, as the model keeps it.
using Row = std::vector<std::string>;

struct Db {
  ScratchDir dir;
  std::string path = dir.File("tables.zud");
  std::unique_ptr<TABSDiskDatabaseData> data;
  TABSSessionInfo session;

  Db() {
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
    Open();
  }
  ~Db() { Close(); }
  void Open() {
    data = std::make_unique<TABSDiskDatabaseData>("TEST");
    data->Open(path, TABSPassword{}, false, false);
    data->Connect(session);
  }
  void Close() {
    if (!data) return;
    data->Disconnect(session);
    data.reset();
  }
  void Reopen() {
    Close();
    Open();
  }
  int64_t PagesInUse() {
    TABSDiskPageManager& pm = data->Pages();
    int64_t used = 0;
    for (int32_t p = 0; p < pm.GetPageCount(); ++p) used += pm.FreeSpaceManager().IsPageUsed(p) ? 1 : 0;
    return used;
  }
};

void SetField(const TABSFieldDefs& fields, char* record, int n, const std::function<void(TABSVariant&)>& set) {
  TABSVariant v;
  set(v);
  WriteFieldValue(fields, record, n, v);
}

// Fills a record from a seed; the key column gets `key`.
void Fill(TABSDiskTableData& t, TABSSessionInfo& s, char* r, int32_t key, uint32_t seed) {
  const TABSFieldDefs& f = t.FieldDefs();
  const int32_t x = static_cast<int32_t>(seed % 100000);
  SetField(f, r, 0, [&](TABSVariant& v) { v.SetAsInteger(key); });
  SetField(f, r, 1, [&](TABSVariant& v) { v.SetAsString("c" + std::to_string(x % 977)); });
  SetField(f, r, 2, [&](TABSVariant& v) { v.SetAsString("Texto " + std::to_string(seed % 5000)); });
  SetField(f, r, 3, [&](TABSVariant& v) { v.SetAsWideString(u"ñ" + std::u16string(1, u'a' + x % 26)); });
  SetField(f, r, 4, [&](TABSVariant& v) { v.SetAsWideString(u"año " + std::u16string(1, u'A' + x % 26)); });
  SetField(f, r, 5, [&](TABSVariant& v) { v.SetAsShortint(static_cast<int8_t>(x % 127)); });
  SetField(f, r, 6, [&](TABSVariant& v) { v.SetAsSmallint(static_cast<int16_t>(-x % 30000)); });
  SetField(f, r, 7, [&](TABSVariant& v) { v.SetAsLargeint(int64_t{x} * 1000003LL); });
  SetField(f, r, 8, [&](TABSVariant& v) { v.SetAsByte(static_cast<uint8_t>(x)); });
  SetField(f, r, 9, [&](TABSVariant& v) { v.SetAsWord(static_cast<uint16_t>(x)); });
  SetField(f, r, 10, [&](TABSVariant& v) { v.SetAsCardinal(seed); });
  SetField(f, r, 12, [&](TABSVariant& v) { v.SetAsSingle(static_cast<float>(x) / 4); });
  SetField(f, r, 13, [&](TABSVariant& v) { v.SetAsDouble(x / 7.0); });
  SetField(f, r, 14, [&](TABSVariant& v) { v.SetAsExtended(static_cast<long double>(x) / 3); });
  SetField(f, r, 15, [&](TABSVariant& v) { v.SetAsLogical(x % 2 == 0); });
  SetField(f, r, 16, [&](TABSVariant& v) { v.SetAsCurrency(x / 100.0); });
  SetField(f, r, 17, [&](TABSVariant& v) { v.SetAsDate(730000 + x % 3000); });
  SetField(f, r, 18, [&](TABSVariant& v) { v.SetAsTime((x * 1000) % 86400000); });
  SetField(f, r, 19, [&](TABSVariant& v) { v.SetAsTDateTime(40000.25 + x % 1000); });
  SetField(f, r, 20, [&](TABSVariant& v) { v.SetAsTDateTime(41000.5 + x % 1000); });
  const std::string raw = "b" + std::to_string(x % 9999999);
  SetField(f, r, 21, [&](TABSVariant& v) { v.SetData(raw.data(), bftBytes, static_cast<int32_t>(raw.size())); });
  SetField(f, r, 22, [&](TABSVariant& v) { v.SetData(raw.data(), bftVarBytes, 3); });
  SetField(f, r, 23, [&](TABSVariant& v) { v.SetAsString("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"); });
  // BLOBs: every third record has none, some are large (several pages).
  if (seed % 3 != 0) {
    const std::string blob(seed % 11 == 0 ? 9000 + seed % 500 : 10 + seed % 300, static_cast<char>('a' + seed % 26));
    t.WriteBlobBuffer(s, r, kBlob, blob.data(), static_cast<int64_t>(blob.size()));
  }
  const std::string memo = "memo " + std::to_string(seed);
  t.WriteBlobBuffer(s, r, kMemo, memo.data(), static_cast<int64_t>(memo.size()));
}

Row Text(TABSDiskTableData& t, TABSSessionInfo& s, const char* r) {
  Row row;
  for (int n = 0; n < t.FieldDefs().Count(); ++n) {
    if (n == kBlob || n == kMemo) {
      row.push_back(IsFieldNull(r, n) ? "<null>" : t.ReadBlobBuffer(s, r, n));
      continue;
    }
    TABSVariant v;
    ReadFieldValue(t.FieldDefs(), r, n, v);
    if (v.IsNull()) {
      row.push_back("<null>");
      continue;
    }
    try {
      row.push_back(v.AsString());
    } catch (const EABSException&) {
      // Byte columns have no text form: their memory slot stands for them.
      const TABSFieldDef& f = *t.FieldDefs()[n];
      row.emplace_back(r + f.MemoryOffset(), static_cast<size_t>(f.MemoryValueSize()));
    }
  }
  return row;
}

// Every record in physical order, by key; checks the count on the way.
std::map<int32_t, Row> ReadAllRows(TABSDiskTableData& t, TABSSessionInfo& s) {
  std::map<int32_t, Row> rows;
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  TABSGetRecordRequest q;
  q.mode = grmNext;
  q.beforeFirst = true;
  q.destination = r.data();
  for (;;) {
    t.RecordManager().GetRecord(s.sessionID, q);
    if (q.result != grrFound) break;
    q.beforeFirst = false;
    Row row = Text(t, s, r.data());
    rows[std::stoi(row[kKey])] = row;
  }
  EXPECT_EQ(static_cast<int64_t>(rows.size()), t.GetRecordCount(s));
  return rows;
}

// Keys through an index, in its order.
std::vector<std::string> ThroughIndex(TABSDiskTableData& t, TABSSessionInfo& s, const std::string& name, int column) {
  const int32_t id = t.IndexManager().IndexDefs().IndexByName(name)->ObjectID();
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  std::vector<std::string> seen;
  TABSGetRecordRequest q;
  q.mode = grmNext;
  q.indexID = id;
  q.beforeFirst = true;
  q.destination = r.data();
  for (;;) {
    t.IndexManager().GetRecord(s.sessionID, q, nullptr);
    if (q.result != grrFound) break;
    q.beforeFirst = false;
    TABSVariant v;
    ReadFieldValue(t.FieldDefs(), r.data(), column, v);
    seen.push_back(v.AsString());
  }
  return seen;
}

TEST(DiskTableDataTest, EveryFieldTypeWithIndexesAndBlobsMatchesAModelAcrossReopen) {
  Db db;
  TABSDiskTableData& created = db.data->CreateTable(db.session, "todos", Defs().fields, Defs().indexes);
  const int32_t tableID = created.TableID();
  EXPECT_GT(tableID, 0);
  std::map<int32_t, Row> model;
  std::map<int32_t, TABSRecordID> ids;
  std::mt19937 rng(7);
  constexpr int kRecords = 10000;
  {
    TABSDiskTableData& t = db.data->OpenTable(db.session, "todos");
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    for (int32_t k = 0; k < kRecords; ++k) {
      t.InitRecordForInsert(r.data());
      Fill(t, db.session, r.data(), k, rng());
      const Row expected = Text(t, db.session, r.data());
      ids[k] = t.InsertRecord(db.session, r.data());
      Row stored = expected;
      TABSVariant ai;  // drawn by the insert
      ReadFieldValue(t.FieldDefs(), r.data(), 11, ai);
      stored[11] = ai.AsString();
      model[k] = stored;
    }
    // Updates change keys of both indexes and BLOBs; deletes free BLOBs.
    for (int i = 0; i < 3000; ++i) {
      const int32_t k = static_cast<int32_t>(rng() % kRecords);
      if (!model.count(k)) continue;
      if (i % 3 == 0) {
        ASSERT_TRUE(t.DeleteRecord(db.session, ids[k]));
        model.erase(k);
        continue;
      }
      TABSGetRecordRequest q;
      q.recordID = ids[k];
      q.destination = r.data();
      t.RecordManager().GetRecord(db.session.sessionID, q);
      ASSERT_EQ(q.result, grrFound);
      const int32_t ai = std::stoi(model[k][11]);
      Fill(t, db.session, r.data(), k, rng());
      SetField(t.FieldDefs(), r.data(), 11, [&](TABSVariant& v) { v.SetAsInteger(ai); });
      model[k] = Text(t, db.session, r.data());
      t.UpdateRecord(db.session, ids[k], r.data());
    }
    EXPECT_EQ(ReadAllRows(t, db.session), model);
  }
  db.Reopen();
  TABSDiskTableData& t = db.data->OpenTable(db.session, "TODOS");
  EXPECT_EQ(t.TableID(), tableID);
  EXPECT_EQ(ReadAllRows(t, db.session), model);
  std::vector<std::string> keys;
  for (const auto& [k, row] : model) keys.push_back(row[kKey]);
  EXPECT_EQ(ThroughIndex(t, db.session, "by_k", kKey), keys);
  EXPECT_EQ(ThroughIndex(t, db.session, "by_s", kString).size(), model.size());
  db.Close();
  ExpectCheckOk(db.path);
}

TEST(DiskTableDataTest, DropRenameAndEmptyGiveTheirPagesBack) {
  Db db;
  const int64_t before = db.PagesInUse();
  auto fill = [&](const std::string& name, int count) {
    TABSDiskTableData& t = db.data->CreateTable(db.session, name, Defs().fields, Defs().indexes);
    std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
    for (int32_t k = 0; k < count; ++k) {
      t.InitRecordForInsert(r.data());
      Fill(t, db.session, r.data(), k, static_cast<uint32_t>(k * 7919 + 11));
      t.InsertRecord(db.session, r.data());
    }
  };
  fill("uno", 600);
  const int64_t withOne = db.PagesInUse();
  EXPECT_GT(withOne, before + 20);

  // Emptying keeps the table, its files and its index roots only.
  TABSDiskTableData& empty = db.data->OpenTable(db.session, "uno");
  const int32_t counter = empty.DiskRecords().ModificationCounter();
  db.data->EmptyTable(db.session, "uno");
  EXPECT_EQ(empty.GetRecordCount(db.session), 0);
  EXPECT_GT(empty.DiskRecords().ModificationCounter(), counter);
  const int64_t emptied = db.PagesInUse();
  EXPECT_LT(emptied, before + 12);
  db.Reopen();
  EXPECT_EQ(db.data->OpenTable(db.session, "uno").GetRecordCount(db.session), 0);
  EXPECT_EQ(db.PagesInUse(), emptied);

  // Renaming moves no page; the old name is gone.
  db.data->RenameTable(db.session, "uno", "dos");
  db.Reopen();
  ExpectEngineError([&] { db.data->OpenTable(db.session, "uno"); }, 30396, "Table 'uno' not exists.");
  EXPECT_EQ(db.data->OpenTable(db.session, "dos").GetRecordCount(db.session), 0);
  EXPECT_EQ(db.PagesInUse(), emptied);

  // Dropping gives back everything the table had, full or not.
  fill("tres", 300);
  db.data->DropTable(db.session, "tres");
  db.data->DropTable(db.session, "dos");
  db.Reopen();
  EXPECT_TRUE(db.data->Tables(db.session).empty());
  EXPECT_EQ(db.PagesInUse(), before);
  db.Close();
  ExpectCheckOk(db.path);
}

TEST(DiskTableDataTest, CreationRefusalsLeaveNothingBehind) {
  Db db;
  const int64_t before = db.PagesInUse();
  ExpectEngineError([&] { db.data->CreateTable(db.session, "vacia", TABSFieldDefs(), TABSIndexDefs()); }, 20128);
  TABSFieldDefs huge;
  AddFields(huge, {{"grande", aftString, 5000}});
  ExpectEngineError([&] { db.data->CreateTable(db.session, "grande", huge, TABSIndexDefs()); }, 20174);
  db.data->CreateTable(db.session, "t", Defs(false).fields, Defs(false).indexes);
  ExpectEngineError([&] { db.data->CreateTable(db.session, "T", Defs(false).fields, Defs(false).indexes); }, 30395);
  db.data->DropTable(db.session, "t");
  EXPECT_TRUE(db.data->Tables(db.session).empty());
  EXPECT_EQ(db.PagesInUse(), before);
}

// 255 bytes are the most a table name holds; a longer one is refused, never
// cut into the name of another table.
TEST(DiskTableDataTest, ALongNameIsRefusedAndThe255ByteNameIsKeptWhole) {
  Db db;
  const std::string name(300, 'x');
  ExpectEngineError([&] { db.data->CreateTable(db.session, name, Defs(false).fields, Defs(false).indexes); }, 30450,
                    "a table name has at most 255 bytes");
  db.data->CreateTable(db.session, std::string(255, 'x'), Defs(false).fields, Defs(false).indexes);
  db.Reopen();
  const auto tables = db.data->Tables(db.session);
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].TableName, std::string(255, 'x'));
  EXPECT_EQ(db.data->OpenTable(db.session, std::string(255, 'x')).GetRecordCount(db.session), 0);
  ExpectEngineError([&] { db.data->OpenTable(db.session, name); }, 30396, "not exists");
  ExpectEngineError([&] { db.data->OpenTable(db.session, std::string(255, 'x') + "yy"); }, 30396, "not exists");
  db.Close();
  ExpectCheckOk(db.path);
}

// Table files whose contents are cut short, run on, or are not what they
// should be are named as damaged table data; the failed open writes nothing.
TEST(DiskTableDataTest, DamagedTableFilesRaiseInvalidTableHeaderData) {
  struct Case {
    const char* what;
    bool metadata;
    int keep;          // bytes of the good contents kept, -1 all
    std::string tail;  // appended after them
  };
  const Case cases[] = {
      {"most-updated cut to 2 bytes", false, 2, ""},
      {"most-updated with a negative record count", false, -5, std::string("\xff\xff\xff\xff", 4)},
      {"most-updated running on", false, -1, std::string(4000, 'x')},
      {"metadata cut in its field definitions", true, 7, ""},
      {"metadata without the BLOB index root", true, -5, ""},
      {"metadata running on", true, -1, "xyz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Db db;
    TABSDiskTableData& t = db.data->CreateTable(db.session, "t", Defs(false).fields, Defs(false).indexes);
    TABSInternalDBTransactedAccessFile& file = c.metadata ? t.MetadataFile() : t.MostUpdatedFile();
    const int32_t size = file.GetDataSize(db.session.sessionID);
    std::string bytes(static_cast<size_t>(size), '\0');
    file.ReadFile(db.session.sessionID, bytes.data(), true, size);
    if (c.keep >= 0) bytes.resize(static_cast<size_t>(c.keep));
    if (c.keep < -1) bytes.resize(static_cast<size_t>(size + 1 + c.keep));
    bytes += c.tail;
    file.WriteFile(db.session.sessionID, bytes.data(), c.metadata ? 1 : 0, c.metadata ? 1 : 0,
                   static_cast<int32_t>(bytes.size()));
    db.data->Pages().CommitSession(db.session.sessionID, true);
    db.Close();
    const Bytes damaged = ReadAll(db.path);
    db.Open();
    ExpectEngineError([&] { db.data->OpenTable(db.session, "t"); }, 20164, "Invalid table header data");
    db.Close();
    EXPECT_EQ(ReadAll(db.path), damaged);
  }
}

}  // namespace

namespace {

// Two opens of one file in multi-user mode stand for two processes.
TEST(DiskTableDataTest, CursorsHoldTheTableAgainstExclusiveUseHereAndElsewhere) {
  ScratchDir dir;
  const std::string path = dir.File("mu.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
  TABSDiskDatabaseData a("A"), b("B");
  a.Open(path, TABSPassword{}, true, false);
  b.Open(path, TABSPassword{}, true, false);
  TABSSessionInfo sa, sb;
  sa.multiUser = sb.multiUser = true;
  a.Connect(sa);
  b.Connect(sb);
  EXPECT_NE(sa.sessionID, sb.sessionID);
  Defs defs(false);
  a.CreateTable(sa, "compartida", defs.fields, defs.indexes);

  int first = 0, second = 0, third = 0;
  TABSDiskTableData& ta = a.OpenTable(sa, "compartida");
  ta.OpenCursor(sa, &first, false);
  ExpectEngineError([&] { ta.OpenCursor(sa, &second, true); }, 20242,
                    "Cannot access table 'compartida' in exclusive mode. Table is open by another cursors");
  ta.OpenCursor(sa, &second, false);

  // Another connection can open it too, but neither use it alone nor drop it.
  TABSDiskTableData& tb = b.OpenTable(sb, "compartida");
  tb.OpenCursor(sb, &third, false);
  tb.CloseCursor(sb, &third);
  ExpectEngineError([&] { b.OpenTable(sb, "compartida").OpenCursor(sb, &third, true); }, 20208,
                    "Cannot access table 'compartida' in exclusive mode. Table is open by another user");
  ExpectEngineError([&] { b.DropTable(sb, "compartida"); }, 20208);
  EXPECT_EQ(b.Tables(sb).size(), 1u);

  ta.CloseCursor(sa, &first);
  ta.CloseCursor(sa, &second);
  EXPECT_FALSE(ta.Loaded());  // the last cursor freed the managers
  b.DropTable(sb, "compartida");
  EXPECT_TRUE(a.Tables(sa).empty());
  a.Disconnect(sa);
  b.Disconnect(sb);
}

}  // namespace

namespace {

// Changes made through one open are seen, counted and continued by another.
TEST(DiskTableDataTest, AnotherConnectionSeesAndContinuesTheChanges) {
  ScratchDir dir;
  const std::string path = dir.File("mu2.zud");
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 4);
  TABSDiskDatabaseData a("A"), b("B");
  a.Open(path, TABSPassword{}, true, false);
  b.Open(path, TABSPassword{}, true, false);
  TABSSessionInfo sa, sb;
  sa.multiUser = sb.multiUser = true;
  a.Connect(sa);
  b.Connect(sb);
  Defs defs;
  a.CreateTable(sa, "t", defs.fields, defs.indexes);
  TABSDiskTableData& ta = a.OpenTable(sa, "t");
  TABSDiskTableData& tb = b.OpenTable(sb, "t");
  std::vector<char> r(static_cast<size_t>(ta.FieldDefs().MemoryRecordSize()));
  auto insert = [&](TABSDiskTableData& t, TABSSessionInfo& s, int32_t key) {
    t.InitRecordForInsert(r.data());
    Fill(t, s, r.data(), key, static_cast<uint32_t>(key * 31 + 1));
    t.InsertRecord(s, r.data());
  };
  for (int32_t k = 0; k < 150; ++k) insert(ta, sa, k);
  EXPECT_EQ(tb.GetRecordCount(sb), 150);
  for (int32_t k = 150; k < 200; ++k) insert(tb, sb, k);
  for (int32_t k = 200; k < 230; ++k) insert(ta, sa, k);
  EXPECT_EQ(ta.GetRecordCount(sa), 230);
  EXPECT_EQ(tb.GetRecordCount(sb), 230);
  const auto rowsA = ReadAllRows(ta, sa);
  EXPECT_EQ(rowsA.size(), 230u);
  EXPECT_EQ(ReadAllRows(tb, sb), rowsA);
  // A key the other connection stored is refused as a duplicate here.
  ExpectEngineError([&] { insert(tb, sb, 5); }, 30320);
  a.Disconnect(sa);
  b.Disconnect(sb);
  a.Close();
  b.Close();
  ExpectCheckOk(path);
}

}  // namespace

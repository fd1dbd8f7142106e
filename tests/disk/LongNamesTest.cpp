// Names at the limits of their stored forms: a table name has one length
// byte in the table list, and the name slots of not-null and check
// constraints have a one-byte count of length + 1. A name that does not
// fit is refused when the table is made, never cut or wrapped into a table
// that another name reaches or that nobody can open again.
#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"

namespace {

struct Db {
  ScratchDir dir;
  std::string path = dir.File("nombres.zud");
  std::unique_ptr<TABSDiskDatabaseData> data;
  TABSSessionInfo session;

  Db() {
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, 8);
    Open();
  }
  ~Db() { Close(); }
  void Open() {
    data = std::make_unique<TABSDiskDatabaseData>("NOMBRES");
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

// A table definition: one string field `field`, NOT NULL when asked, and a
// check constraint on it when asked.
struct Definition {
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  TABSConstraintDefs constraints;
  Definition(const std::string& field, bool notNull, bool check = false) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(field);
    f->SetDataType(aftString, 20);
    if (notNull) constraints.AddNewNotNull()->SubjectSlot().name = field;
    if (check) {
      TABSConstraintDefCheck* c = constraints.AddNewCheck();
      c->SubjectSlot().name = field;
      c->minValue.SetAsString("a");
    }
  }
};

TEST(LongNames, NamesThatDoNotFitTheirStoredFormAreRefusedAtCreate) {
  Db db;
  const int64_t before = db.PagesInUse();
  struct Case {
    const char* name;
    std::string table, field;
    bool notNull, check;
    int32_t code;
    std::string part;
  } cases[] = {
      {"table name of 256 bytes", std::string(256, 't'), "f", false, false, 30450,
       "Create table 'NOMBRES." + std::string(256, 't') + "' error"},
      {"table name of 300 bytes", std::string(300, 't'), "f", false, false, 30450, "error: 'a table name has"},
      {"NOT NULL field of 255 bytes", "t", std::string(255, 'f'), true, false, 30453,
       "Cannot create table 't' with field: " + std::string(255, 'f') + " STRING(20)"},
      {"check on a field of 255 bytes", "t", std::string(255, 'f'), false, true, 30453, "Cannot create table 't'"},
      {"NOT NULL field in a table of 255 bytes", std::string(255, 't'), "f", true, false, 30453,
       "with field: f STRING(20)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Definition d(c.field, c.notNull, c.check);
    ExpectEngineError([&] { db.data->CreateTable(db.session, c.table, d.fields, d.indexes, &d.constraints); }, c.code,
                      c.part);
    // Nothing of the table stays, and the next call works.
    EXPECT_TRUE(db.data->Tables(db.session).empty());
    EXPECT_EQ(db.PagesInUse(), before);
  }
  Definition ok("f", true);
  db.data->CreateTable(db.session, "t", ok.fields, ok.indexes, &ok.constraints);
  db.Reopen();
  EXPECT_EQ(db.data->Tables(db.session).size(), 1u);
  EXPECT_EQ(db.data->OpenTable(db.session, "t").GetRecordCount(db.session), 0);
}

// Two names that agree in their first 255 bytes are two names: neither
// reaches the table of the other, nor a table of the cut name.
TEST(LongNames, LongTableNamesDoNotAliasEachOther) {
  Db db;
  const std::string name255(255, 'x');
  Definition d("f", false);
  db.data->CreateTable(db.session, name255, d.fields, d.indexes);
  db.data->CreateTable(db.session, "otra", d.fields, d.indexes);
  db.Reopen();
  const std::string longer = name255 + "yy";
  ExpectEngineError([&] { db.data->OpenTable(db.session, longer); }, 30396, "not exists");
  ExpectEngineError([&] { db.data->DropTable(db.session, longer); }, 30396, "not exists");
  ExpectEngineError([&] { db.data->EmptyTable(db.session, longer); }, 30396, "not exists");
  ExpectEngineError([&] { db.data->RenameTable(db.session, "otra", longer); }, 30347, "a table name has");
  ExpectEngineError([&] { db.data->CreateTable(db.session, longer, d.fields, d.indexes); }, 30450, "a table name has");
  const auto tables = db.data->Tables(db.session);
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].TableName, name255);
  EXPECT_EQ(tables[1].TableName, "otra");
  // The list refuses such names on its own as well.
  TABSDiskTableData& t = db.data->OpenTable(db.session, name255);
  EXPECT_EQ(t.GetRecordCount(db.session), 0);
  {
    TABSDatabaseTablesLock lock(db.data->Pages());
    TABSTableListFile& list = db.data->Disk().TableList();
    ExpectEngineError(
        [&] {
          list.AddTable(TABSPageManager::kSystemSession, {longer, 1, 1, 1, 1});
        },
        30450, "a table name has");
    ExpectEngineError([&] { list.RenameTable(TABSPageManager::kSystemSession, "otra", longer); }, 30347,
                      "a table name has");
    EXPECT_FALSE(list.TableExists(TABSPageManager::kSystemSession, longer));
    db.data->Pages().RollbackSession(TABSPageManager::kSystemSession);
  }
}

// The longest names each stored form holds make a table that opens again:
// 255 bytes for a table, a field and an index; 254 for the table and field
// that a NOT NULL constraint's slots name.
TEST(LongNames, TheLongestAllowedNamesRoundTripAcrossReopen) {
  Db db;
  const std::string table255(255, 'T'), field255(255, 'F'), index255(255, 'I');
  const std::string table254(254, 't'), field254(254, 'f');
  {
    Definition plain(field255, false);
    TABSIndexDef* ix = plain.indexes.AddNew();
    ix->SetName(index255);
    ix->FillColumns({field255}, {"ASC"}, {"CASE"});
    db.data->CreateTable(db.session, table255, plain.fields, plain.indexes);
    Definition required(field254, true);
    db.data->CreateTable(db.session, table254, required.fields, required.indexes, &required.constraints);
  }
  db.Reopen();
  TABSDiskTableData& a = db.data->OpenTable(db.session, table255);
  EXPECT_EQ(a.TableName(), table255);
  EXPECT_EQ(a.FieldDefs()[0]->Name(), field255);
  ASSERT_EQ(a.IndexManager().IndexDefs().Count(), 1);
  EXPECT_EQ(a.IndexManager().IndexDefs()[0]->Name(), index255);
  EXPECT_EQ(a.IndexManager().IndexDefs()[0]->Column(0).fieldName, field255);

  TABSDiskTableData& b = db.data->OpenTable(db.session, table254);
  ASSERT_EQ(b.ConstraintManager().ConstraintDefs().Count(), 1);
  const TABSConstraintDef& nn = *b.ConstraintManager().ConstraintDefs()[0];
  EXPECT_EQ(nn.Kind(), actNotNull);
  EXPECT_EQ(nn.slots[1].name, table254);
  EXPECT_EQ(nn.SubjectSlot().name, field254);
  // The constraint still holds after the reopen, and a value goes in.
  std::vector<char> record(static_cast<size_t>(b.FieldDefs().MemoryRecordSize()));
  b.InitRecordForInsert(record.data());
  ExpectEngineError([&] { b.InsertRecord(db.session, record.data()); }, 30026, field254);
  TABSVariant v;
  v.SetAsString("valor");
  WriteFieldValue(b.FieldDefs(), record.data(), 0, v);
  b.InsertRecord(db.session, record.data());
  db.Reopen();
  EXPECT_EQ(db.data->OpenTable(db.session, table254).GetRecordCount(db.session), 1);
}

}  // namespace

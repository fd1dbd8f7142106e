// Records and table data: layouts, autoincrement, defaults, constraint
// checks, and insert/update/delete keeping the indexes in step.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TableTestSupport.h"
#include "support/EngineError.h"
#include "support/FieldList.h"

using namespace testsupport;

namespace {

class Table {
 public:
  explicit Table(const std::vector<FieldShape>& shapes, const char* name = "t") {
    db.AttachSession(session);
    session.sessionID = 1;
    data = static_cast<MapTableData*>(&db.FindOrCreateTableData(name));
    TABSFieldDefs fields;
    data->SetFieldDefs(AddFields(fields, shapes));
  }
  TABSFieldDef& Field(const char* name) { return *data->FieldManager().FieldDefs().FieldByName(name); }
  // Structure changes through the field manager's own definitions.
  void Reset() { data->FieldManager().ResetAutoincCounters(); }

  std::vector<char> NewRecord() {
    std::vector<char> r(static_cast<size_t>(data->FieldDefs().MemoryRecordSize()));
    data->InitRecordForInsert(r.data());
    return r;
  }
  void Set(std::vector<char>& r, const char* field, int64_t v) {
    TABSVariant value(bftLargeint);
    value.SetAsLargeint(v);
    WriteFieldValue(data->FieldDefs(), r.data(), data->FieldDefs().IndexOfName(field), value);
  }
  void SetText(std::vector<char>& r, const char* field, const std::string& v) {
    TABSVariant value(bftString);
    value.SetAsString(v);
    WriteFieldValue(data->FieldDefs(), r.data(), data->FieldDefs().IndexOfName(field), value);
  }
  TABSVariant Get(const std::vector<char>& r, const char* field) {
    TABSVariant v;
    ReadFieldValue(data->FieldDefs(), r.data(), data->FieldDefs().IndexOfName(field), v);
    return v;
  }
  TABSRecordID Insert(std::vector<char>& r) { return data->InsertRecord(session, r.data()); }
  int64_t InsertAutoinc(const char* field = "id") {
    auto r = NewRecord();
    Insert(r);
    return Get(r, field).AsLargeint();
  }
  void AddIndex(const char* name, std::vector<std::string> columns, bool unique = false, bool primary = false) {
    TABSIndexDef def;
    def.SetName(name);
    def.unique = unique;
    def.primary = primary;
    def.FillColumns(columns, std::vector<std::string>(columns.size(), "ASC"),
                    std::vector<std::string>(columns.size(), "CASE"));
    data->CreateIndex(session, def);
  }
  // Every row of the record manager and every index key, for comparing a
  // table before and after a failed operation.
  std::string Snapshot() {
    std::string s;
    for (const auto& [slot, bytes] : data->Records().rows) s += std::to_string(slot) + ":" + bytes + "|";
    const TABSIndexDefs& defs = data->IndexManager().IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      s += "#" + defs[i]->Name();
      for (const auto& e : data->Index(defs[i]->Name()).entries)
        s += e.record + "@" + std::to_string(e.id.pageNo) + ";";
    }
    return s;
  }

  MapDatabaseData db;
  TABSSessionInfo session;
  MapTableData* data;
};

}  // namespace

TEST(RecordLayout, MixedTable) {
  Table t({{"id", aftAutoInc}, {"name", aftString, 10}, {"memo", aftMemo}, {"desde", aftDate}, {"coef", aftDouble}});
  const TABSFieldDefs& f = t.data->FieldDefs();
  EXPECT_EQ(f.NullBitmapSize(), 1);
  // memory: 1 | id 4 | name 11 | memo 10 | desde 4 | coef 8
  EXPECT_EQ(f[2]->MemoryOffset(), 16);
  EXPECT_EQ(f[3]->MemoryOffset(), 26);
  EXPECT_EQ(f[3]->StoredOffset(), 22);
  EXPECT_EQ(f.MemoryRecordSize(), 38);
  EXPECT_EQ(f.StoredRecordSize(), 34);
  const TABSCursorRecordLayout l = t.data->GetRecordLayout();
  EXPECT_EQ(l.firstFieldOffset, 1);
  EXPECT_EQ(l.recordIDOffset, 38);
  EXPECT_EQ(l.bookmarkFlagOffset, 44);
  EXPECT_EQ(l.bufferSize, 45);

  auto r = t.NewRecord();
  EXPECT_EQ(static_cast<unsigned char>(r[0]), 0x1f);  // five fields, all NULL
  t.Set(r, "desde", 738000);
  t.SetText(r, "name", "Ana");
  EXPECT_EQ(static_cast<unsigned char>(r[0]), 0x1f & ~0x02 & ~0x08);
  // The BLOB slot: a 6-byte reference, then a 32-bit handle (never a pointer).
  SetBlobHandle(*f[2], r.data(), 0xA1B2C3D4u);
  std::memcpy(r.data() + 16, "\x07\x00\x00\x00\x02\x00", 6);
  std::vector<char> stored(static_cast<size_t>(f.StoredRecordSize()));
  MemoryToStoredRecord(f, r.data(), stored.data());
  EXPECT_EQ(std::string(stored.data() + 16, 6), std::string("\x07\x00\x00\x00\x02\x00", 6));
  std::vector<char> back(r.size(), 'x');
  StoredToMemoryRecord(f, stored.data(), back.data());
  EXPECT_EQ(GetBlobHandle(*f[2], back.data()), 0u);  // handles are never stored
  SetBlobHandle(*f[2], back.data(), 0xA1B2C3D4u);
  EXPECT_EQ(back, r);
  EXPECT_EQ(t.Get(back, "name").AsString(), "Ana");
  EXPECT_EQ(t.Get(back, "desde").AsDate(), 738000);
  EXPECT_TRUE(t.Get(back, "coef").IsNull());
  // A string longer than its slot is refused and leaves the record alone.
  EXPECT_EQ(NativeCodeOf([&] { t.SetText(back, "name", "far too long a name"); }), 20056);
  EXPECT_EQ(t.Get(back, "name").AsString(), "Ana");

  const TABSRecordID a{5, 1}, b{5, 2}, c{6, 0};
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(c.Compare(b), 1);
  unsigned char six[6];
  c.Write(six);
  EXPECT_EQ(TABSRecordID::Read(six), c);
}

TEST(Autoinc, SequenceExplicitValuesAndSessions) {
  Table t({{"id", aftAutoInc}, {"v", aftInteger}});
  EXPECT_EQ(t.InsertAutoinc(), 1);
  EXPECT_EQ(t.InsertAutoinc(), 2);
  auto r = t.NewRecord();
  t.Set(r, "id", 10);
  t.Insert(r);
  EXPECT_EQ(t.Get(r, "id").AsLargeint(), 10);
  EXPECT_EQ(t.InsertAutoinc(), 11);
  EXPECT_EQ(t.data->GetLastAutoincValue(t.session, "ID"), 11);

  // Another session has drawn nothing: single-user gets the table's value,
  // multi-user must draw first.
  TABSSessionInfo other;
  other.sessionID = 2;
  EXPECT_EQ(t.data->GetLastAutoincValue(other, "id"), 11);
  EXPECT_EQ(t.data->GetLastAutoincValue(other, "v"), 0);
  other.multiUser = true;
  EXPECT_EQ(NativeCodeOf([&] { t.data->GetLastAutoincValue(other, "id"); }), 30012);

  t.data->EmptyTable(t.session);
  EXPECT_EQ(t.data->Records().rows.size(), 0u);
  EXPECT_EQ(t.InsertAutoinc(), 1);
}

TEST(Autoinc, LimitsAndCycles) {
  struct Case {
    TABSDataType type;
    int64_t increment, initial, minimum, maximum;
    bool cycled;
    std::vector<int64_t> expected;  // values drawn; one more draw then raises unless cycled
  };
  const Case cases[] = {
      {aftAutoInc, 1, 0, 0, 3, false, {1, 2, 3}},
      {aftAutoInc, 1, 0, 0, 3, true, {1, 2, 3, 0, 1}},
      {aftAutoIncShortint, 0, 125, 0, 0, false, {126, 127}},      // increment 0 counts by 1; maximum 0 = the type's
      {aftAutoIncByte, 1, 253, 0, INT64_MAX, false, {254, 255}},  // no 256th value
      {aftAutoIncShortint, 100, 0, 0, INT64_MAX, false, {100}},
      {aftAutoIncWord, 1, 65534, 5, INT64_MAX, true, {65535, 5}},
  };
  for (const Case& c : cases) {
    Table t({{"id", c.type}});
    t.Field("id").SetAutoincSettings(c.increment, c.initial, c.minimum, c.maximum, c.cycled);
    t.Reset();
    for (int64_t v : c.expected) EXPECT_EQ(t.InsertAutoinc(), v) << DataTypeName(c.type);
    if (c.cycled) continue;
    const std::string before = t.Snapshot();
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { t.InsertAutoinc(); }, &message), 20160) << DataTypeName(c.type);
    EXPECT_EQ(message, "Autoinc max value exceeded for field 'id'");
    EXPECT_EQ(t.Snapshot(), before);
  }
}

TEST(Defaults, LiteralDefaultsFillNewRecords) {
  Table t({{"n", aftInteger}, {"s", aftString, 5}, {"b", aftBlob}, {"none", aftInteger}});
  TABSVariant seven(bftString);
  seven.SetAsString("7");  // converted to the column's type
  t.Field("n").SetDefaultValue(seven);
  TABSVariant text(bftString);
  text.SetAsString("abc");
  t.Field("s").SetDefaultValue(text);
  t.Field("b").SetDefaultValue(text);
  auto r = t.NewRecord();
  EXPECT_EQ(t.Get(r, "n").AsInteger(), 7);
  EXPECT_EQ(t.Get(r, "s").AsString(), "abc");
  EXPECT_TRUE(IsFieldNull(r.data(), 2));  // BLOBs get no default
  EXPECT_TRUE(IsFieldNull(r.data(), 3));
}

TEST(Constraints, ViolationsWithMessagesAndCodes) {
  Table t({{"id", aftInteger}, {"a", aftInteger}, {"b", aftInteger}, {"s", aftString, 10}, {"c", aftInteger}});
  t.AddIndex("pk", {"a", "b"}, true, true);
  t.AddIndex("by_s", {"s"}, true);
  TABSConstraintDefs constraints;
  constraints.Assign(t.data->ConstraintManager().ConstraintDefs());
  auto* nn = constraints.AddNewNotNull();
  nn->SubjectSlot().name = "id";
  auto* ck = constraints.AddNewCheck();
  ck->SubjectSlot().name = "c";
  ck->minValue.SetAsInteger(1);
  ck->maxValue.SetAsInteger(9);
  t.data->SetConstraintDefs(constraints);

  auto good = [&](int64_t id, int64_t a, int64_t b, const char* s) {
    auto r = t.NewRecord();
    t.Set(r, "id", id);
    t.Set(r, "a", a);
    if (b >= 0) t.Set(r, "b", b);
    if (s) t.SetText(r, "s", s);
    t.Set(r, "c", 5);
    return r;
  };
  auto first = good(1, 1, 1, "x");
  const TABSRecordID firstID = t.Insert(first);
  auto nullB = good(2, 2, -1, "y");  // a primary key with one column NULL is fine
  t.Insert(nullB);

  struct Case {
    const char* what;
    std::function<void(std::vector<char>&)> change;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"not null", [&](auto& r) { SetFieldNull(r.data(), 0, true); }, 30026,
       "Constraint '$C_NotNull$t$id' violated. Value in field 'id' cannot be null"},
      {"primary key all NULL", [&](auto& r) { SetFieldNull(r.data(), 1, true), SetFieldNull(r.data(), 2, true); },
       30330, "Constraint 'C_PK$a$b' violated. Value in field 'a,b' cannot be null"},
      {"primary key duplicate", [&](auto& r) { t.Set(r, "a", 1), t.Set(r, "b", 1); }, 30319,
       "Primary Key constraint 'C_PK$a$b' violated. Duplicate found."},
      {"unique duplicate", [&](auto& r) { t.SetText(r, "s", "x"); }, 30320,
       "Constraint unique 'C_Unique$s' violated. Duplicate found."},
      {"below minimum", [&](auto& r) { t.Set(r, "c", 0); }, 30029,
       "Constraint '$C_Check$t$c' violated. Value in field 'c' cannot be lower than '1'"},
      {"above maximum", [&](auto& r) { t.Set(r, "c", 10); }, 30030,
       "Constraint '$C_Check$t$c' violated. Value in field 'c' cannot be greater than '9'"},
  };
  for (const Case& c : cases) {
    auto r = good(3, 3, 3, "z");
    c.change(r);
    const std::string before = t.Snapshot();
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { t.Insert(r); }, &message), c.code) << c.what;
    EXPECT_EQ(message, c.message) << c.what;
    EXPECT_EQ(t.Snapshot(), before) << c.what;
    EXPECT_FALSE(t.data->ConstraintManager().CheckRecord(1, r.data(), nullptr, nullptr, false)) << c.what;
  }

  // Update: keeping its own key is fine, taking another record's key is not.
  auto same = first;
  t.Set(same, "c", 6);
  EXPECT_NO_THROW(t.data->UpdateRecord(t.session, firstID, same.data()));
  auto clash = first;
  t.SetText(clash, "s", "y");
  EXPECT_EQ(NativeCodeOf([&] { t.data->UpdateRecord(t.session, firstID, clash.data()); }), 30320);

  // Dropping the index drops its derived constraint.
  t.data->DropIndex(t.session, t.data->IndexManager().IndexDefs().IndexByName("by_s")->ObjectID());
  EXPECT_NO_THROW(t.data->UpdateRecord(t.session, firstID, clash.data()));

  // Now two records hold "y": a unique index over them is refused, and
  // neither it nor its constraint stays; a plain one is made.
  const std::string before = t.Snapshot();
  const int constraintsBefore = t.data->ConstraintManager().ConstraintDefs().Count();
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { t.AddIndex("by_s", {"s"}, true); }, &message), 30320);
  EXPECT_EQ(message, "Constraint unique 'C_Unique$s' violated. Duplicate found.");
  EXPECT_EQ(t.Snapshot(), before);
  EXPECT_EQ(t.data->ConstraintManager().ConstraintDefs().Count(), constraintsBefore);
  EXPECT_EQ(t.data->IndexManager().IndexDefs().IndexByName("by_s"), nullptr);
  EXPECT_NO_THROW(t.AddIndex("by_s", {"s"}));
}

TEST(IndexUpkeep, FailedStepsLeaveTableAsBefore) {
  Table t({{"id", aftAutoInc}, {"a", aftInteger}, {"b", aftInteger}});
  t.AddIndex("ia", {"a"});
  t.AddIndex("ib", {"b"});
  t.AddIndex("iab", {"a", "b"});
  auto r1 = t.NewRecord();
  t.Set(r1, "a", 1);
  t.Set(r1, "b", 2);
  const TABSRecordID id1 = t.Insert(r1);
  ASSERT_EQ(t.data->Index("iab").entries.size(), 1u);

  // Insert: the second index refuses; the first index's key and the record
  // go again, and the autoincrement counter is back.
  for (int failAt : {0, 1, 2}) {
    const std::string before = t.Snapshot();
    auto r = t.NewRecord();
    t.Set(r, "a", 5);
    t.data->faults.insertsUntilFailure = failAt;
    EXPECT_EQ(NativeCodeOf([&] { t.Insert(r); }), 20018) << failAt;
    EXPECT_EQ(t.Snapshot(), before) << failAt;
    EXPECT_TRUE(IsFieldNull(r.data(), 0));
  }
  EXPECT_EQ(t.InsertAutoinc(), 2);

  // Update: old keys come back and the record keeps its old bytes.
  for (int failAt : {0, 1, 2}) {
    const std::string before = t.Snapshot();
    auto changed = r1;  // every index's key changes
    t.Set(changed, "a", 7);
    t.Set(changed, "b", 9);
    t.data->faults.insertsUntilFailure = failAt;
    EXPECT_EQ(NativeCodeOf([&] { t.data->UpdateRecord(t.session, id1, changed.data()); }), 20018) << failAt;
    EXPECT_EQ(t.Snapshot(), before) << failAt;
  }

  // Delete: the record manager refuses after the keys went; they come back.
  const std::string before = t.Snapshot();
  t.data->Records().failNextDelete = true;
  EXPECT_NE(NativeCodeOf([&] { t.data->DeleteRecord(t.session, id1); }), 0);
  EXPECT_EQ(t.Snapshot(), before);
  EXPECT_TRUE(t.data->DeleteRecord(t.session, id1));
  EXPECT_FALSE(t.data->DeleteRecord(t.session, id1));
  EXPECT_EQ(t.data->Index("ia").entries.size(), 1u);
  EXPECT_GT(t.data->IndexManager().IndexDefs().IndexByName("ia")->changeStamp, 0);

  // A build that fails removes the new definition again.
  t.data->faults.insertsUntilFailure = 0;
  EXPECT_EQ(NativeCodeOf([&] { t.AddIndex("late", {"a"}, true); }), 20018);
  EXPECT_EQ(t.data->IndexManager().IndexDefs().IndexByName("late"), nullptr);
  EXPECT_EQ(t.data->ConstraintManager().ConstraintDefs().Count(), 0);
}

TEST(TableData, StructureOperations) {
  Table t({{"id", aftInteger}, {"desde", aftDate}});
  EXPECT_EQ(NativeCodeOf([&] { t.data->SetFieldDefs(TABSFieldDefs()); }), 10025);
  // Identifiers come from the database generator and are never reused.
  const int32_t first = t.data->FieldDefs()[0]->ObjectID();
  t.AddIndex("ix", {"desde"});
  EXPECT_GT(t.data->IndexManager().IndexDefs()[0]->ObjectID(), first);

  t.data->RenameField("DESDE", "from");
  EXPECT_EQ(t.data->IndexManager().IndexDefs()[0]->Column(0).fieldName, "from");
  EXPECT_EQ(NativeCodeOf([&] { t.data->RenameField("nope", "x"); }), 30343);
  EXPECT_EQ(NativeCodeOf([&] { t.data->RenameField("id", "FROM"); }), 30344);

  int cursor = 0;
  t.data->AttachCursor(&cursor);
  EXPECT_EQ(NativeCodeOf([&] { t.data->DeleteTable(t.session, false); }), 20017);
  EXPECT_EQ(NativeCodeOf([&] { t.data->RenameTable(t.session, "u"); }), 10150);
  EXPECT_NO_THROW(t.data->DeleteTable(t.session, true));
  t.data->DetachCursor(&cursor);
  t.data->RenameTable(t.session, "u");
  EXPECT_EQ(t.db.FindTableData("U"), t.data);
  EXPECT_EQ(&t.db.FindOrCreateTableData("u"), t.data);
  EXPECT_EQ(NativeCodeOf([&] { t.data->IndexManager().IndexByID(999); }), 20018);
  EXPECT_EQ(NativeCodeOf([&] { t.data->DropIndex(t.session, 999); }), 10324);
  t.db.DetachSession(t.session);
  EXPECT_TRUE(t.db.UnusedNow());
}

TEST(EmptyTable, DropsRecordsKeysAndBlobValues) {
  Table t({{"id", aftAutoInc}, {"memo", aftMemo}, {"v", aftInteger}, {"pic", aftBlob}});
  t.AddIndex("iv", {"v"});
  // Three records: two BLOB values, one, none.
  for (int blobs : {2, 1, 0}) {
    auto r = t.NewRecord();
    t.Set(r, "v", blobs);
    if (blobs > 0) t.data->WriteBlobBuffer(t.session, r.data(), 1, "memo text", 9);
    if (blobs > 1) t.data->WriteBlobBuffer(t.session, r.data(), 3, "\x01\x02", 2);
    t.Insert(r);
  }
  ASSERT_EQ(t.data->blobs->values.size(), 3u);

  // A clear the record manager refuses changes nothing: records, keys,
  // BLOB values and the counter stay.
  const std::string before = t.Snapshot();
  t.data->Records().failNextClear = true;
  EXPECT_EQ(NativeCodeOf([&] { t.data->EmptyTable(t.session); }), 10019);
  EXPECT_EQ(t.Snapshot(), before);
  EXPECT_EQ(t.data->blobs->values.size(), 3u);

  t.data->EmptyTable(t.session);
  EXPECT_TRUE(t.data->Records().rows.empty());
  EXPECT_TRUE(t.data->Index("iv").entries.empty());
  EXPECT_TRUE(t.data->blobs->values.empty());
  EXPECT_EQ(t.InsertAutoinc(), 1);
}

// Single-user mode: several sessions of the process that holds every slot
// of the file.
#include <set>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"

namespace {

constexpr const char* kOtherTable = "otra";

void CreateOtherTable(const std::string& path) {
  TABSDiskDatabaseData data("MAKE");
  TABSSessionInfo s;
  data.Open(path, TABSPassword{}, false, false);
  data.Connect(s);
  TABSFieldDefs fields;
  fields.AddNew()->SetName("id");
  fields[0]->SetDataType(aftInteger, 0);
  data.CreateTable(s, kOtherTable, fields, TABSIndexDefs());
  data.Disconnect(s);
}

void InsertInto(TABSDiskTableData& t, TABSSessionInfo& s, int32_t id) {
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  t.InitRecordForInsert(record.data());
  TABSVariant v;
  v.SetAsInteger(id);
  WriteFieldValue(t.FieldDefs(), record.data(), 0, v);
  t.InsertRecord(s, record.data());
}

std::set<int32_t> IdsOf(TABSDiskTableData& t, TABSSessionInfo& s) {
  std::set<int32_t> ids;
  TABSTableCursor cursor;
  t.PrepareCursor(cursor);
  while (t.FetchRecord(s, cursor, grmNext) == grrFound) {
    TABSVariant id;
    ReadFieldValue(t.FieldDefs(), cursor.Record(), 0, id);
    ids.insert(id.AsInteger());
  }
  return ids;
}

// Session a runs transactions on "filas" while session b of the same
// process works beside it. b's change of another table commits only b's
// row, so a's rollback still takes a's; a change of "filas" is refused
// while a's transaction holds it, as a second process would be; b reads
// what is committed, a what its transaction holds; a's commit keeps b's
// rows.
TEST(SingleUserSessionsTest, EachSessionCommitsAndRollsBackOnlyItsOwnChanges) {
  enum class End { kRollback, kCommit };
  for (End end : {End::kRollback, End::kCommit}) {
    SCOPED_TRACE(end == End::kRollback ? "a rolls back" : "a commits");
    const auto finish = [&](SharedTableConnection& a) {
      if (end == End::kRollback)
        a.data.Rollback(a.session);
      else
        a.data.Commit(a.session, false);
    };
    ScratchDir dir;
    const std::string path = dir.File("sessions.zud");
    CreateSharedTableDb(path, 4);
    CreateOtherTable(path);
    std::set<int32_t> expected;
    {
      SharedTableConnection a(path, false);
      ASSERT_FALSE(a.data.ReadOnly());
      TABSSessionInfo b;
      a.data.Connect(b);
      EXPECT_NE(b.sessionID, a.session.sessionID);
      EXPECT_GE(b.sessionID, 0);
      EXPECT_LT(b.sessionID, a.data.MaxConnections());
      TABSDiskTableData& filas = a.data.OpenTable(b, kSharedTable);
      TABSDiskTableData& otra = a.data.OpenTable(b, kOtherTable);

      // b's autocommit elsewhere: a's transaction stays a's.
      a.data.StartTransaction(a.session);
      a.Insert(1, 1);
      InsertInto(otra, b, 7);
      finish(a);
      if (end == End::kCommit) expected.insert(1);
      EXPECT_EQ(IdsOf(filas, b), expected);

      // b's change of the table a's transaction holds: refused.
      a.data.StartTransaction(a.session);
      a.Insert(3, 1);
      ExpectEngineError([&] { InsertInto(filas, b, 2); }, 20223, "Table is locked");
      ExpectEngineError([&] { a.data.EmptyTable(b, kSharedTable); }, 20208,
                        "Cannot access table 'filas' in exclusive mode");
      EXPECT_EQ(filas.GetRecordCount(b), static_cast<int64_t>(expected.size()));
      EXPECT_EQ(IdsOf(filas, b), expected);
      EXPECT_EQ(a.Count(), static_cast<int64_t>(expected.size()) + 1);
      finish(a);
      if (end == End::kCommit) expected.insert(3);
      InsertInto(filas, b, 2);
      expected.insert(2);
      EXPECT_EQ(IdsOf(filas, b), expected);
      EXPECT_EQ(filas.GetRecordCount(a.session), static_cast<int64_t>(expected.size()));
      a.data.Disconnect(b);
    }
    SharedTableConnection reopened(path, false);
    EXPECT_EQ(IdsOf(*reopened.table, reopened.session), expected);
    EXPECT_EQ(reopened.Count(), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(IdsOf(reopened.data.OpenTable(reopened.session, kOtherTable), reopened.session), std::set<int32_t>{7});
  }
}

}  // namespace

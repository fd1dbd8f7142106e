// A record change outside a transaction is its own commit. Whatever step of
// it fails, the commit included, the session is rolled back through the
// table's page manager before the error goes on, so nothing the change left
// can be committed by the session's next statement; the autoincrement
// counters come back with it. Inside a transaction the transaction decides.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "TableTestSupport.h"

using namespace testsupport;

namespace {

// Table t(n AUTOINC, k INTEGER) with an index on k.
struct Fixture {
  MapDatabaseData db;
  TABSSessionInfo session;
  MapTableData* data = nullptr;

  Fixture() {
    session.sessionID = 1;
    db.AttachSession(session);
    data = static_cast<MapTableData*>(&db.FindOrCreateTableData("t"));
    TABSFieldDefs fields;
    fields.AddNew()->SetName("n"), fields[0]->SetDataType(aftAutoIncInteger, 0);
    fields.AddNew()->SetName("k"), fields[1]->SetDataType(aftInteger, 0);
    data->SetFieldDefs(fields);
    TABSIndexDef def;
    def.SetName("by_k");
    def.FillColumns({"k"}, {"ASC"}, {"CASE"});
    data->CreateIndex(session, def);
  }
  std::vector<char> Row(int32_t k) {
    std::vector<char> r(static_cast<size_t>(data->FieldDefs().MemoryRecordSize()));
    data->InitRecordForInsert(r.data());
    TABSVariant v;
    v.SetAsInteger(k);
    WriteFieldValue(data->FieldDefs(), r.data(), 1, v);
    return r;
  }
  TABSRecordID Insert(int32_t k) {
    auto r = Row(k);
    return data->InsertRecord(session, r.data());
  }
  int64_t LastN() { return data->GetLastAutoincValue(session, "n"); }
};

TEST(TableDataAutocommitTest, AFailedChangeRollsTheSessionBackOutsideATransactionOnly) {
  struct Case {
    const char* name;
    bool commitFails;  // else a step before the commit fails
    std::function<void(Fixture&)> arm;
    std::function<void(Fixture&, const TABSRecordID&)> change;
  };
  const auto commitFails = [](Fixture& f) { f.data->pages.failCommits = 1; };
  const auto insert = [](Fixture& f, const TABSRecordID&) { f.Insert(7); };
  const auto update = [](Fixture& f, const TABSRecordID& id) {
    auto r = f.Row(8);
    f.data->UpdateRecord(f.session, id, r.data());
  };
  const auto erase = [](Fixture& f, const TABSRecordID& id) { f.data->DeleteRecord(f.session, id); };
  const Case cases[] = {
      {"insert whose commit fails", true, commitFails, insert},
      {"insert whose key fails", false, [](Fixture& f) { f.data->faults.insertsUntilFailure = 0; }, insert},
      {"update whose commit fails", true, commitFails, update},
      {"update whose record write fails", false, [](Fixture& f) { f.data->Records().failNextUpdate = true; }, update},
      {"delete whose commit fails", true, commitFails, erase},
      {"delete whose record delete fails", false, [](Fixture& f) { f.data->Records().failNextDelete = true; }, erase},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    const TABSRecordID id = f.Insert(1);
    const int64_t lastN = f.LastN();
    const int rollbacks = f.data->pages.rollbacks;
    c.arm(f);
    EXPECT_THROW(c.change(f, id), EABSException);
    EXPECT_EQ(f.data->pages.rollbacks, rollbacks + 1);
    EXPECT_EQ(f.LastN(), lastN);
    // The next statement goes on from the committed counters.
    f.Insert(9);
    EXPECT_EQ(f.LastN(), lastN + 1);
    if (c.commitFails) continue;  // nothing commits inside a transaction

    f.session.inTransaction = true;
    c.arm(f);
    EXPECT_THROW(c.change(f, id), EABSException);
    EXPECT_EQ(f.data->pages.rollbacks, rollbacks + 1);
  }
}

}  // namespace

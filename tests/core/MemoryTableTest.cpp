// In-memory tables the way the calculator uses `periodos`: created twice
// (the second replaces the first), filled with 1,000 rows, walked through
// both indexes by two cursors at once, edited, partly deleted, emptied and
// refilled, against a model; BLOB blocks through two record copies.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "core/ZUDMemEngine.h"
#include "support/EngineError.h"
#include "support/FieldList.h"

namespace {

enum Periodo { kId, kDesde, kHasta, kPorcentaje, kDias, kDiasCoef, kDiasCotizados };

struct Periodos {
  TABSMemoryDatabaseData db;
  TABSSessionInfo session;
  TABSMemoryTableData* table = nullptr;
  int32_t byId = -1, byDesde = -1;

  Periodos() {
    db.AttachSession(session);
    Create();
  }
  ~Periodos() { db.DetachSession(session); }

  void Create() {
    TABSFieldDefs fields;
    AddFields(fields, {{"id", aftAutoIncInteger},
                       {"desde", aftDate},
                       {"hasta", aftDate},
                       {"porcentaje", aftDouble},
                       {"dias", aftInteger},
                       {"diascoef", aftDouble},
                       {"diascotizados", aftDouble}});
    TABSIndexDefs indexes;
    AddIndexes(indexes, {{"id", {"id"}, true}, {"desde", {"desde"}}});
    table = &db.CreateTable(session, "periodos", fields, indexes);
    byId = table->IndexManager().IndexDefs().IndexByName("id")->ObjectID();
    byDesde = table->IndexManager().IndexDefs().IndexByName("desde")->ObjectID();
  }
  std::vector<char> Row(int32_t desde, int32_t dias) {
    std::vector<char> r(static_cast<size_t>(table->FieldDefs().MemoryRecordSize()));
    table->InitRecordForInsert(r.data());
    Set(r, kDesde, [&](TABSVariant& v) { v.SetAsDate(desde); });
    Set(r, kHasta, [&](TABSVariant& v) { v.SetAsDate(desde + dias - 1); });
    Set(r, kPorcentaje, [&](TABSVariant& v) { v.SetAsDouble(50.0); });
    Set(r, kDias, [&](TABSVariant& v) { v.SetAsInteger(dias); });
    return r;
  }
  void Set(std::vector<char>& r, int field, const std::function<void(TABSVariant&)>& fill) {
    TABSVariant v;
    fill(v);
    WriteFieldValue(table->FieldDefs(), r.data(), field, v);
  }
  int64_t Field(const char* record, int field) {
    TABSVariant v;
    ReadFieldValue(table->FieldDefs(), record, field, v);
    return v.IsNull() ? -1 : v.AsLargeint();
  }
  std::vector<int64_t> Walk(TABSTableCursor& c, int32_t index, int field) {
    c.indexID = index;
    c.SetBeforeFirst();
    std::vector<int64_t> seen;
    while (table->FetchRecord(session, c, grmNext) == grrFound) seen.push_back(Field(c.Record(), field));
    return seen;
  }
};

TEST(MemoryTableTest, PeriodosCreatedTwiceFilledWalkedEditedEmptiedAndRefilled) {
  Periodos p;
  p.Create();  // the start-up creates it again: the new table replaces the old
  std::map<int64_t, std::pair<int32_t, int32_t>> model;  // id -> (desde, dias)
  const auto fill = [&](int n, int32_t base) {
    for (int i = 0; i < n; ++i) {
      const int32_t desde = base + (i * 7919) % 5000;
      auto r = p.Row(desde, 1 + i % 30);
      const TABSRecordID id = p.table->InsertRecord(p.session, r.data());
      std::vector<char> back;
      ASSERT_TRUE(p.table->RereadRecord(p.session, id, back));
      model[p.Field(back.data(), kId)] = {desde, 1 + i % 30};
    }
  };
  const auto expectModel = [&](TABSTableCursor& a, TABSTableCursor& b) {
    std::vector<int64_t> ids, desdes;
    std::multimap<int32_t, int64_t> byDesde;
    for (const auto& [id, row] : model) {
      ids.push_back(id);
      byDesde.insert({row.first, id});
    }
    for (const auto& [desde, id] : byDesde) desdes.push_back(desde);
    EXPECT_EQ(p.Walk(a, p.byId, kId), ids);
    EXPECT_EQ(p.Walk(b, p.byDesde, kDesde), desdes);
    EXPECT_EQ(p.table->GetRecordCount(p.session), static_cast<int64_t>(model.size()));
  };
  TABSTableCursor a, b;
  p.table->PrepareCursor(a);
  p.table->PrepareCursor(b);
  fill(1000, 730000);
  ASSERT_EQ(model.size(), 1000u);
  EXPECT_EQ(model.begin()->first, 1) << "autoincrement starts again in the new table";
  expectModel(a, b);

  // Both cursors at once: a on id, b on desde, stepping in turn.
  a.indexID = p.byId;
  b.indexID = p.byDesde;
  a.SetBeforeFirst();
  b.SetBeforeFirst();
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(p.table->FetchRecord(p.session, a, grmNext), grrFound);
    ASSERT_EQ(p.table->FetchRecord(p.session, b, grmNext), grrFound);
  }
  // Edit through a, delete every third record through b's order.
  for (auto& [id, row] : model) {
    if (id % 5 != 0) continue;
    std::vector<char> r(static_cast<size_t>(p.table->FieldDefs().MemoryRecordSize()));
    TABSTableCursor e;
    p.table->PrepareCursor(e);
    e.indexID = p.byId;
    std::vector<char> key = p.Row(0, 1);
    p.Set(key, kId, [&](TABSVariant& v) { v.SetAsInteger(static_cast<int32_t>(id)); });
    ASSERT_TRUE(p.table->SearchRange(p.session, e, {key.data(), 1, scEqual}, true));
    std::vector<char> edited(e.Record(), e.Record() + p.table->FieldDefs().MemoryRecordSize());
    row.first += 10000;
    p.Set(edited, kDesde, [&](TABSVariant& v) { v.SetAsDate(row.first); });
    p.table->UpdateRecord(p.session, e.recordID, edited.data());
  }
  int n = 0;
  for (auto it = model.begin(); it != model.end();) {
    if (n++ % 3 != 0) {
      ++it;
      continue;
    }
    TABSTableCursor d;
    p.table->PrepareCursor(d);
    d.indexID = p.byId;
    std::vector<char> key = p.Row(0, 1);
    p.Set(key, kId, [&](TABSVariant& v) { v.SetAsInteger(static_cast<int32_t>(it->first)); });
    ASSERT_TRUE(p.table->SearchRange(p.session, d, {key.data(), 1, scEqual}, true));
    ASSERT_TRUE(p.table->DeleteRecord(p.session, d));
    it = model.erase(it);
  }
  // a, left at its 500th record while others changed the table, steps on
  // in id order.
  const int64_t before = p.Field(a.Record(), kId);
  ASSERT_EQ(p.table->FetchRecord(p.session, a, grmNext), grrFound);
  EXPECT_EQ(p.Field(a.Record(), kId), model.upper_bound(before)->first);
  expectModel(a, b);

  // Emptied and refilled, again and again: the trees stay sound.
  for (int round = 0; round < 3; ++round) {
    p.table->EmptyTable(p.session);
    model.clear();
    expectModel(a, b);
    fill(300, 740000 + round);
    expectModel(a, b);
  }
  EXPECT_EQ(model.begin()->first, 1) << "emptying restarts the autoincrement";

  // Physical record numbers skip deleted slots.
  TABSRecordID id;
  ASSERT_TRUE(p.table->SetPhysicalRecNo(p.session, 2, id));
  EXPECT_EQ(p.table->GetPhysicalRecNo(p.session, id), 2);
  EXPECT_FALSE(p.table->SetPhysicalRecNo(p.session, 0, id));
  EXPECT_FALSE(p.table->SetPhysicalRecNo(p.session, 301, id));
}

TEST(MemoryTableTest, TablesByNameAndTheirErrors) {
  Periodos p;
  EXPECT_EQ(&p.db.OpenTable("PERIODOS"), p.table);
  EXPECT_EQ(NativeCodeOf([&] { p.db.OpenTable("otra"); }), 10028);
  TABSTableCursor c;
  p.table->AttachCursor(&c);
  EXPECT_EQ(NativeCodeOf([&] { p.Create(); }), 20017) << "replacing a table a cursor has open";
  EXPECT_EQ(NativeCodeOf([&] { p.db.DropTable("periodos"); }), 20017);
  p.table->DetachCursor(&c);
  p.db.DropTable("periodos");
  EXPECT_TRUE(p.db.TableNames().empty());
  EXPECT_EQ(NativeCodeOf([&] { p.db.CreateTable(p.session, "vacia", TABSFieldDefs{}, TABSIndexDefs{}); }), 10025);
  EXPECT_TRUE(p.db.TableNames().empty()) << "a failed creation leaves no table";
}

// BLOB blocks: an empty value is NULL; a record copy whose block was
// replaced reads an error, never freed memory; a delete frees the block.
TEST(MemoryTableTest, BlobBlocksAreHandlesInARegistry) {
  TABSMemoryDatabaseData db;
  TABSSessionInfo session;
  db.AttachSession(session);
  TABSFieldDefs fields;
  AddFields(fields, {{"k", aftInteger}, {"memo", aftMemo}});
  TABSMemoryTableData& t = db.CreateTable(session, "notas", fields, TABSIndexDefs{});
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  t.InitRecordForInsert(r.data());
  t.WriteBlobBuffer(session, r.data(), 1, "hola", 4);
  const TABSRecordID id = t.InsertRecord(session, r.data());
  std::vector<char> stale = r;  // another cursor's copy
  EXPECT_EQ(t.ReadBlobBuffer(session, stale.data(), 1), "hola");
  t.WriteBlobBuffer(session, r.data(), 1, "adios", 5);
  t.UpdateRecord(session, id, r.data());
  EXPECT_EQ(NativeCodeOf([&] { t.ReadBlobBuffer(session, stale.data(), 1); }), 20171);
  std::vector<char> now;
  ASSERT_TRUE(t.RereadRecord(session, id, now));
  EXPECT_EQ(t.ReadBlobBuffer(session, now.data(), 1), "adios");
  t.WriteBlobBuffer(session, r.data(), 1, "", 0);
  EXPECT_TRUE(IsFieldNull(r.data(), 1)) << "an empty value is NULL";
  t.WriteBlobBuffer(session, r.data(), 1, "otra", 4);
  t.UpdateRecord(session, id, r.data());
  ASSERT_TRUE(t.DeleteRecord(session, id));
  EXPECT_EQ(NativeCodeOf([&] { t.ReadBlobBuffer(session, r.data(), 1); }), 20171) << "the delete freed the block";
  db.DetachSession(session);
}

}  // namespace

// A second single-user open of a file, read-only because the first holds
// every slot, beside the writer: it takes no table locks, so it has to see
// the writer's commits through the header's commit counter.
#include <set>

#include "DiskTestUtil.h"
#include "SessionTestDb.h"

namespace {

// A second single-user open of the file is read-only, since the first
// holds every slot. It follows what the writer commits: counts and rows are
// current at its next operation, also in the middle of a cursor walk while
// the writer deletes rows (so record pages go back to the map and come back
// as other pages), and every row it lists is whole.
TEST(SingleUserReaderTest, AReadOnlyOpenSeesTheWritersCommitsWhole) {
  ScratchDir dir;
  const std::string path = dir.File("reader.zud");
  CreateSharedTableDb(path, 4);
  SharedTableConnection writer(path, false);
  SharedTableConnection reader(path, false);
  ASSERT_FALSE(writer.data.ReadOnly());
  ASSERT_TRUE(reader.data.ReadOnly());
  EXPECT_EQ(reader.Count(), 0);

  std::vector<TABSRecordID> ids;
  const auto insertRange = [&](int32_t from, int32_t to, int32_t batch) {
    for (int32_t id = from; id < to;) {
      writer.data.StartTransaction(writer.session);
      for (int32_t k = 0; k < batch && id < to; ++k, ++id) ids.push_back(writer.Insert(id, 1));
      writer.data.Commit(writer.session, false);
    }
  };
  insertRange(0, 2000, 250);
  EXPECT_EQ(reader.Count(), 2000);
  std::vector<SharedRow> all = reader.RowsInOrder();
  EXPECT_EQ(all.size(), 2000u);
  for (const SharedRow& row : all) EXPECT_TRUE(row.Whole()) << row.id << " '" << row.nombre << "'";

  // A walk that the writer's commits cut in two.
  TABSTableCursor cursor;
  reader.table->PrepareCursor(cursor);
  std::vector<SharedRow> seen;
  const auto step = [&] {
    if (reader.table->FetchRecord(reader.session, cursor, grmNext) != grrFound) return false;
    TABSVariant id, owner, nombre;
    ReadFieldValue(reader.table->FieldDefs(), cursor.Record(), reader.Field("id"), id);
    ReadFieldValue(reader.table->FieldDefs(), cursor.Record(), reader.Field("owner"), owner);
    ReadFieldValue(reader.table->FieldDefs(), cursor.Record(), reader.Field("nombre"), nombre);
    seen.push_back({id.AsInteger(), owner.AsInteger(), nombre.IsNull() ? std::string() : nombre.AsString()});
    return true;
  };
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(step());
  for (int32_t id = 0; id < 400; ++id) ASSERT_TRUE(writer.Delete(ids[static_cast<size_t>(id)]));
  insertRange(2000, 2400, 100);
  for (int32_t id = 1000; id < 1100; ++id) writer.Update(ids[static_cast<size_t>(id)], id + 10000, 2);
  while (step()) {
  }
  std::set<int32_t> distinct;
  for (const SharedRow& row : seen) {
    EXPECT_TRUE(row.Whole()) << row.id << " '" << row.nombre << "'";
    EXPECT_TRUE(distinct.insert(row.id).second) << "row " << row.id << " listed twice";
  }

  EXPECT_EQ(reader.Count(), 2000);
  std::set<int32_t> expected;
  for (int32_t id = 400; id < 2400; ++id) expected.insert(id >= 1000 && id < 1100 ? id + 10000 : id);
  std::set<int32_t> now;
  for (const SharedRow& row : reader.RowsInOrder()) {
    EXPECT_TRUE(row.Whole()) << row.id << " '" << row.nombre << "'";
    now.insert(row.id);
  }
  EXPECT_EQ(now, expected);
}

}  // namespace

// The B+-tree code over the disk page manager: a record index committed to
// a database file in batches reads back the same from a fresh open.
#include <gtest/gtest.h>

#include <random>

#include "disk/DiskPageManagerFile.h"
#include "support/BTreeTestSupport.h"
#include "support/ScratchDir.h"

using namespace btreetest;

// The same tree code over the disk page manager, committed to a file in
// batches, then read back from a fresh open of the file.
TEST(RecordIndexOnDisk, SameCodeServesTheDiskPageManagerAndPersists) {
  const ScratchDir dir("tivoran-btree");
  const std::string path = dir.File("t.zud");
  int32_t root = -1;
  std::vector<int32_t> order;
  RecordTable table({{"v", aftInteger}});
  {
    TABSDiskPageManager pm;
    pm.CreateDatabaseFile(path, TABSPassword{}, 8, 4096);
    TABSBTreeRecordIndex index(&pm, table.fields, &table);
    index.Create(kSession, MakeIndexDef({"v"}));
    std::mt19937 rng(7);
    for (int i = 0; i < 6000; ++i) {
      std::string r = table.NewRecord();
      table.SetInt(r, 0, std::uniform_int_distribution<int>(-5000, 5000)(rng));
      index.InsertKey(kSession, r.data(), table.Add(r));
      if (i % 1500 == 1499) pm.CommitSession(kSession);
    }
    for (int slot = 0; slot < 6000; slot += 3) {
      index.DeleteKey(kSession, table.rows[slot].data(), {slot, 0});
      table.rows.erase(slot);
    }
    pm.CommitSession(kSession);
    root = index.Definition().rootPageNo;
    order = IndexOrder(index);
    EXPECT_EQ(order.size(), 4000u);
    pm.CloseDatabaseFile();
  }
  {
    TABSDiskPageManager pm;
    bool multiUser = false, needRepair = false, readOnly = false;
    pm.OpenDatabaseFile(path, TABSPassword{}, multiUser, false, needRepair, readOnly);
    TABSBTreeRecordIndex index(&pm, table.fields, &table);
    TABSIndexDef def = MakeIndexDef({"v"});
    def.rootPageNo = root;
    index.Open(def);
    EXPECT_NO_THROW(index.CheckIntegrity(kSession));
    EXPECT_EQ(IndexOrder(index), order);
    pm.CloseDatabaseFile();
  }
}

// Edit, post, cancel and delete between connections and processes: every
// result code reached only when it should be (-4 and -5 only when another
// connection really changed the record), no lock left behind by any path,
// and waits that block nobody else.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "CursorTestDb.h"
#include "support/ChildProcess.h"
#include "support/EngineError.h"
#include "support/ScratchDir.h"

namespace {

struct EditFixture : ::testing::Test {
  ScratchDir dir;
  std::string path = dir.File("items.zud");
  void SetUp() override { CreateItemsDb(path, 20); }
};

// The stale bytes of a NULL field, the BLOB handle of this load and the
// bookmark flag are not the record: a record nobody changed stays editable
// and deletable whatever they hold.
TEST_F(EditFixture, AnUnchangedRecordIsEditableAndDeletableWhateverItsMeaninglessBytes) {
  ItemsConnection a(path, "A");
  for (const bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "delete" : "edit");
    ASSERT_TRUE(a.Goto(4));  // n is NULL in even rows
    const TABSFieldDef& n = a->VisibleField(kItemN);
    std::memset(a->Record() + n.MemoryOffset(), 0x5A, static_cast<size_t>(n.MemoryValueSize()));
    const TABSFieldDef& memo = a->VisibleField(kItemMemo);
    std::memset(a->Record() + memo.MemoryOffset() + kRecordIDSize, 0x33, 4);  // the handle
    a->Record()[a->RecordSize() + kRecordIDSize] = 3;                         // the bookmark flag
    if (remove) {
      EXPECT_EQ(a->Delete(), crOK) << a->LastErrorText();
    } else {
      ASSERT_EQ(a->Edit(), crOK);
      a.SetS("changed");
      EXPECT_EQ(a->Post(false), crOK) << a->LastErrorText();
    }
  }
  EXPECT_FALSE(a.Goto(4));
}

// Each code of a change refused because of another connection, and what
// the cursor holds afterwards. The other connection changes the record
// through its table data, as an SQL statement would, without record locks.
TEST_F(EditFixture, ChangesOfAnotherConnectionGiveTheirCodes) {
  ItemsConnection a(path, "A"), b(path, "B");
  TABSTableData& other = b->Table();
  const auto changeInB = [&](int32_t k, bool remove) {
    ASSERT_TRUE(b.Goto(k));
    if (remove) {
      ASSERT_TRUE(other.DeleteRecord(b.session, b->recordID));
    } else {
      b.SetS("by b");
      other.UpdateRecord(b.session, b->recordID, b->Record());
    }
  };

  // Post after the record changed: -4, the edited values stay.
  ASSERT_TRUE(a.Goto(1));
  ASSERT_EQ(a->Edit(), crOK);
  a.SetS("by a");
  changeInB(1, false);
  EXPECT_EQ(a->Post(false), crChangedBeforeUpdate);
  EXPECT_EQ(a.S(), "by a");
  a->Cancel();

  // Post after the record was deleted: -6.
  ASSERT_TRUE(a.Goto(3));
  ASSERT_EQ(a->Edit(), crOK);
  a.SetS("by a");
  changeInB(3, true);
  EXPECT_EQ(a->Post(false), crDeletedBeforeUpdate);
  EXPECT_EQ(a.S(), "by a");
  a->Cancel();

  // Edit of a record changed or deleted since it was read: -4 and -6, the
  // buffer as it was.
  ASSERT_TRUE(a.Goto(5));
  changeInB(5, false);
  EXPECT_EQ(a->Edit(), crChangedBeforeUpdate);
  EXPECT_EQ(a.S(), "item5");
  ASSERT_TRUE(a.Goto(7));
  changeInB(7, true);
  EXPECT_EQ(a->Edit(), crDeletedBeforeUpdate);

  // Delete of a record changed or deleted since it was read: -5 and -7.
  ASSERT_TRUE(a.Goto(9));
  changeInB(9, false);
  EXPECT_EQ(a->Delete(), crChangedBeforeDelete);
  ASSERT_TRUE(a.Goto(11));
  changeInB(11, true);
  EXPECT_EQ(a->Delete(), crDeletedBeforeDelete);

  // Re-read, the same changes go through.
  ASSERT_TRUE(a.Goto(9));
  EXPECT_EQ(a.S(), "by b");
  ASSERT_EQ(a->Edit(), crOK);
  a.SetS("again");
  EXPECT_EQ(a->Post(false), crOK);
  EXPECT_EQ(a->Delete(), crOK);
}

// Record and table locks of the other connection: -12 and -13, then, once
// they are gone, the same operations succeed: nothing of the refused ones
// stayed behind. (A write lock keeps readers out too, so the connection
// that is refused holds its edit first.)
TEST_F(EditFixture, LocksOfAnotherConnectionAndNothingLeftBehind) {
  ItemsConnection a(path, "A"), b(path, "B");
  ASSERT_TRUE(a.Goto(2));
  ASSERT_TRUE(b.Goto(2));
  ASSERT_EQ(b->Edit(), crOK);  // b holds the record
  EXPECT_TRUE(a->IsRecordLocked());
  EXPECT_EQ(a->Edit(), crRecordLocked);
  EXPECT_EQ(a->Delete(), crRecordLocked);
  b->Cancel();
  EXPECT_FALSE(a->IsRecordLocked());

  // b's transaction holds the table for writing: a reads, but neither
  // edits, deletes nor inserts.
  b.session.StartTransaction();
  ASSERT_TRUE(b->LockTable(ltTransactionWrite, 10, 10));
  ASSERT_TRUE(a.Goto(2));
  EXPECT_EQ(a->Edit(), crTableLocked);
  EXPECT_EQ(a->Delete(), crTableLocked);
  a->InitRecordBuffer();
  TABSVariant k;
  k.SetAsInteger(100);
  a->SetFieldValue(kItemK, k);
  EXPECT_EQ(a->Post(true), crTableLocked);
  b.session.Rollback();

  // a edits; b writes beside the edit; a's post is refused while b holds
  // the write lock, and the refusal released a's record lock.
  ASSERT_TRUE(a.Goto(2));
  ASSERT_EQ(a->Edit(), crOK);
  ASSERT_TRUE(b->LockTable(ltWrite, 10, 10));
  a.SetS("late");
  EXPECT_EQ(a->Post(false), crTableLocked);
  b->UnlockTable(ltWrite);
  ASSERT_TRUE(b.Goto(2));
  ASSERT_EQ(b->Edit(), crOK);
  b->Cancel();
  ASSERT_TRUE(a.Goto(2));
  ASSERT_EQ(a->Edit(), crOK);
  a.SetS("in time");
  EXPECT_EQ(a->Post(false), crOK);
  ASSERT_TRUE(b.Goto(2));
  EXPECT_EQ(b.S(), "in time");

  // A post that raises (a duplicate key) released its table lock too: b
  // takes the write lock at once afterwards.
  a->InitRecordBuffer();
  TABSVariant duplicate;
  duplicate.SetAsInteger(2);
  a->SetFieldValue(kItemK, duplicate);
  EXPECT_EQ(a->Post(true), crPostError);
  ASSERT_TRUE(b->LockTable(ltWrite, 0, 1));
  b->UnlockTable(ltWrite);
}

TEST_F(EditFixture, FailedPostsAndTemporaryTables) {
  ItemsConnection a(path, "A");
  // A duplicate key raises inside the post: -8 with its message.
  a->InitRecordBuffer();
  TABSVariant k;
  k.SetAsInteger(4);
  a->SetFieldValue(kItemK, k);
  EXPECT_EQ(a->Post(true), crPostError);
  EXPECT_FALSE(a->LastErrorText().empty());
  // The next post goes through.
  k.SetAsInteger(400);
  a->SetFieldValue(kItemK, k);
  EXPECT_EQ(a->Post(true), crOK) << a->LastErrorText();
  EXPECT_EQ(a->GetRecordCount(), 21);

  a->temporary = true;
  EXPECT_EQ(a->Edit(), crEditTemporary);
  EXPECT_EQ(a->Delete(), crDeleteTemporary);
}

// A cursor waiting for a table lock holds nothing of its database data:
// another session of the same database data (another thread of the
// process) works meanwhile.
TEST_F(EditFixture, AWaitingCursorBlocksNoOtherThread) {
  ItemsConnection a(path, "A"), same(path, "A"), b(path, "B");
  ASSERT_EQ(&a.session.DatabaseData(), &same.session.DatabaseData());
  TABSLocalCursor other(same.session);
  other.tableName = "other";
  TABSFieldDefs fields;
  AddFields(fields, {{"v", aftInteger, 0}});
  other.CreateTable(fields, TABSIndexDefs{});
  other.OpenTable();

  ASSERT_TRUE(a.Goto(3));
  ASSERT_EQ(a->Edit(), crOK);
  ASSERT_TRUE(b->LockTable(ltWrite, 10, 10));
  a->lockWaits.postAttempts = 100;  // about a second
  a->lockWaits.postDelayMs = 10;
  std::atomic<bool> waiting{true};
  std::thread writer([&] {
    a.SetS("waited");
    EXPECT_EQ(a->Post(false), crTableLocked);
    waiting = false;
  });
  for (int n = 0; n < 5; ++n) {
    other.InitRecordBuffer();
    TABSVariant v;
    v.SetAsInteger(n);
    other.SetFieldValue(0, v);
    ASSERT_EQ(other.Post(true), crOK) << other.LastErrorText();
    EXPECT_FALSE(same.session.TableNames().empty());
  }
  const bool stillWaiting = waiting;
  writer.join();
  EXPECT_TRUE(stillWaiting) << "the other session's work waited for the waiting cursor";
  EXPECT_EQ(other.GetRecordCount(), 5);
  b->UnlockTable(ltWrite);
}

// The database lock a cursor holds keeps every other thread's table work
// waiting until it is released.
TEST_F(EditFixture, TheDatabaseLockHoldsOtherThreadsBack) {
  ItemsConnection a(path, "A"), same(path, "A");
  a->LockDatabase();
  std::atomic<bool> done{false};
  std::thread reader([&] {
    EXPECT_EQ(same->GetRecordCount(), 20);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(done) << "the other thread read while the database was locked";
  a->UnlockDatabase();
  reader.join();
  EXPECT_TRUE(done);
}

// Another process holds the record, then changes it: -12 while it edits,
// -4 for the stale copy, success after a re-read.
TEST_F(EditFixture, AnotherProcessEditingTheRecord) {
  ChildProcess helper({"edit", path, "6"}, CURSOR_HELPER_PATH);
  ASSERT_EQ(helper.ReadLine(), "edit 0");
  ItemsConnection a(path, "A");
  ASSERT_TRUE(a.Goto(6));
  EXPECT_EQ(a->Edit(), crRecordLocked);
  helper.WriteLine("from the helper");
  ASSERT_EQ(helper.ReadLine(), "post 0");
  EXPECT_EQ(a->Edit(), crChangedBeforeUpdate);
  ASSERT_EQ(a->GetRecord(grmCurrent), grrFound);
  EXPECT_EQ(a.S(), "from the helper");
  ASSERT_EQ(a->Edit(), crOK);
  a.SetS("from a");
  EXPECT_EQ(a->Post(false), crOK);
  helper.WriteLine("");
  EXPECT_EQ(helper.Wait(), 0);

  // A process whose transaction holds the table: -13 for the edit; a
  // process writing beside an edit: -13 for the post; then the post goes.
  ChildProcess holder({"lock", path, "3"}, CURSOR_HELPER_PATH);
  ASSERT_EQ(holder.ReadLine(), "locked");
  EXPECT_EQ(a->Edit(), crTableLocked);
  holder.WriteLine("");
  ASSERT_EQ(holder.ReadLine(), "released");
  EXPECT_EQ(holder.Wait(), 0);
  ASSERT_EQ(a->Edit(), crOK);
  ChildProcess locker({"lock", path, "4"}, CURSOR_HELPER_PATH);
  ASSERT_EQ(locker.ReadLine(), "locked");
  a.SetS("after the lock");
  EXPECT_EQ(a->Post(false), crTableLocked);
  locker.WriteLine("");
  ASSERT_EQ(locker.ReadLine(), "released");
  EXPECT_EQ(locker.Wait(), 0);
  // The refused post left the edited values in the buffer: a new edit
  // starts from the stored record.
  EXPECT_EQ(a.S(), "after the lock");
  a->Cancel();
  ASSERT_EQ(a->GetRecord(grmCurrent), grrFound);
  ASSERT_EQ(a->Edit(), crOK);
  a.SetS("after the lock");
  EXPECT_EQ(a->Post(false), crOK);
  ChildProcess reader({"update", path, "6", "seen"}, CURSOR_HELPER_PATH);
  EXPECT_EQ(reader.ReadLine(), "post 0");
  EXPECT_EQ(reader.Wait(), 0);
}

}  // namespace

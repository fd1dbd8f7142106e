// DiskRecordManager: TABSDiskRecordManager, the record manager of a disk
// table: it places, finds, changes and removes records in the table's
// record pages (RecordPage.h) and keeps the record page index, a B-tree
// keyed by record page number whose value is the page's record count.
//
// Record identifier: PageNo int32 and SlotNo uint16. The physical record
// number of an identifier is PageNo x S + SlotNo (S slots per page).
//
// Contract
//  1. A record page is valid for this table when its PageVersion is not
//     above 0x7FFFFFFD, its type is 10 and its OwnerTableID is the table's
//     id. A read, update, delete or step that meets any other page treats
//     it as not found; an insert that the index sends to such a page raises
//     "Error reading database file page. Page No: %d, type %d" (20299): the
//     index and the pages disagree.
//  2. The record page index holds exactly the table's record pages that
//     hold records, each with its count. A delete that empties a page takes
//     the page out of the index and gives it back (DeletePage), so a freed
//     page is never offered to a later insert. Clear gives back the pages
//     the index names only when each one is a record page of this table
//     (contract 1; pages 0..2 and map pages never are); otherwise it raises
//     20299 for the first other page and gives back none.
//  3. The modification counter only grows: +1 for every insert, update and
//     delete, +1 when the table is emptied, and +1 for a BLOB value stored
//     or freed outside a record change (NoteChange). (A counter that went back
//     to 0 on emptying would let another process trust pages it cached
//     when the counter last had the value it climbs back to.)
//  4. Every page is fetched and released on every path; all page work is
//     inside the caller's session, so a rollback forgets it.
//  5. Record size R and slots S are fixed at construction; a record that
//     fits no page is refused with 20174.
//  6. An insert goes to a page the index lists with fewer than S records,
//     found among the pages this manager remembers with a free slot
//     (PageRoomCache.h: each looked up in the index first, so a page
//     another process filled is never used; the lowest page number
//     first), else to a new page. Its cost does not grow with the table: no walk
//     of the index but the ones PageRoomCache.h contract 2 spreads out. A
//     most-updated state with another modification counter (SetState)
//     tells the manager that pages may have free slots it did not make.
//
// Thread use: under the table data's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ABSBTreePageIndex.h"
#include "core/ZUDFieldDefs.h"
#include "core/ZUDRecordManager.h"
#include "disk/PageRoomCache.h"

class TABSDiskPageManager;
class TABSPage;

class TABSDiskRecordManager : public TABSBaseRecordManager {
 public:
  // `fields` must outlive the manager (the table data's field manager).
  TABSDiskRecordManager(TABSDiskPageManager& pm, const TABSFieldDefs& fields, int32_t tableID);
  ~TABSDiskRecordManager() override;

  int32_t TableID() const { return tableID_; }
  int32_t SlotsPerPage() const { return slots_; }
  TABSBTreeRecordPageIndex& PageIndex() { return index_; }
  int32_t ModificationCounter() const { return changeCounter_; }
  // The state kept in the most-updated file, as read back from it.
  void SetState(int32_t modificationCounter, int64_t recordCount);
  // A change of the table's pages that is no record change (a BLOB value
  // stored or freed on its own): the counter moves (contract 3).
  void NoteChange() { changeCounter_ += 1; }

  void Clear(int32_t sessionID) override;
  bool Insert(int32_t sessionID, const char* record, TABSRecordID& newID) override;
  bool Update(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  bool Delete(int32_t sessionID, const TABSRecordID& id) override;
  void GetRecord(int32_t sessionID, TABSGetRecordRequest& request) override;
  int64_t ApproxRecNo(int32_t sessionID, const TABSRecordID& id) override;

  // Ordinals count from 1 in the order of the record page index.
  bool RecordByOrdinal(int32_t sessionID, int64_t ordinal, TABSRecordID& id);
  int64_t OrdinalOf(int32_t sessionID, const TABSRecordID& id);  // -1 when absent
  int64_t PhysicalRecNo(const TABSRecordID& id) const;
  TABSRecordID FromPhysicalRecNo(int64_t recNo) const;
  // (last record page + 1) x S, 1 without record pages.
  int64_t PhysicalRecNoBound(int32_t sessionID);

  // Repair: the index rebuilt from every valid, in-use page of the table;
  // RecordCount follows it.
  void RebuildPageIndex(int32_t sessionID);
  // Every record page of the index in index order, for checks and tools.
  std::vector<std::pair<int32_t, uint16_t>> IndexedPages(int32_t sessionID);

 private:
  // The page if it is a valid record page of this table (contract 1), else
  // null (nothing stays pinned then).
  TABSPage* FetchRecordPage(int32_t sessionID, int32_t pageNo);
  int32_t FindPageWithRoom(int32_t sessionID);
  bool FirstOnPageFrom(int32_t sessionID, int32_t pageNo, bool after, TABSGetRecordRequest& request);
  bool LastOnPageFrom(int32_t sessionID, int32_t pageNo, bool before, TABSGetRecordRequest& request);
  void Deliver(int32_t sessionID, TABSPage* page, TABSGetRecordRequest& request);

  TABSDiskPageManager& pm_;
  const TABSFieldDefs& fields_;
  int32_t tableID_;
  int32_t slots_ = 0;
  TABSBTreeRecordPageIndex index_;
  std::vector<char> stored_;
  // Pages that had a free slot (PageRoomCache.h: checked before use).
  TABSPageRoomCache room_{TABSPageRoomCache::kLowestPage, 0};
};

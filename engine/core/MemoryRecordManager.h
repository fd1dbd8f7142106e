// MemoryRecordManager: TABSMemoryRecordManager, the records of an in-memory
// table: fixed-size slots in one array, addressed by multiplication, and a
// bitmap with one bit per slot telling which slots hold a live record.
//
// A record's identifier is (slot number, row 0).
//
// Contract
//  1. Slots are handed out in increasing order and never reused until the
//     table is cleared: a deleted record's identifier, or a bookmark to it,
//     never names another record. (Deleting every record does not restart
//     the numbering; Clear does.) Slot numbers stop at INT32_MAX: the insert
//     that would pass it is refused with "Invalid record count = %d. Limit
//     is %d" (10126) before anything changes.
//  2. The slots grow by the growth step (1000 slots by default) whenever
//     the next slot reaches the capacity; capacity never shrinks before
//     Clear, which gives the memory back. Each step is a block of its own
//     (slot s lies in block s div step at (s mod step) x record size), so
//     growing never moves the records already stored.
//  3. The live range is [LowestLive, HighestLive], both 0 when the table
//     is empty. Update and Delete of a slot outside it, or not live, report
//     false and change nothing; GetRecord in mode current reports not found
//     for such a slot.
//  4. Steps next and prior visit the live slots in slot order: from before
//     first, next gives the lowest live slot and prior before first; from
//     after last, prior gives the highest and next after last; at the ends,
//     after last and before first. An empty table always gives after last.
//  5. Physical record numbers: the number of a live slot is the count of
//     live slots up to it (1-based); RecNoOfSlot answers -1 for a slot that
//     is not live and SlotOfRecNo false for a number outside 1..count.
//     ApproxRecNo is the exact number.
//  6. A record size of 0 or less is refused with "Invalid record size = 0"
//     (10011); a growth step below 1 counts as 1.
//
// Thread use: under the database data's lock, taken by the table data.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/ZUDBitsArray.h"
#include "core/ZUDRecordManager.h"

class TABSMemoryRecordManager : public TABSBaseRecordManager {
 public:
  static constexpr int32_t kDefaultGrowthStep = 1000;

  explicit TABSMemoryRecordManager(int32_t recordSize, int32_t growthStep = kDefaultGrowthStep);

  void Clear(int32_t sessionID) override;
  bool Insert(int32_t sessionID, const char* record, TABSRecordID& newID) override;
  bool Update(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  bool Delete(int32_t sessionID, const TABSRecordID& id) override;
  void GetRecord(int32_t sessionID, TABSGetRecordRequest& request) override;
  int64_t ApproxRecNo(int32_t sessionID, const TABSRecordID& id) override;

  // Contract 5.
  int64_t RecNoOfSlot(int64_t slot) const;
  bool SlotOfRecNo(int64_t recNo, int32_t& slot) const;
  bool IsLive(int64_t slot) const;
  // The bytes of a live slot, or null.
  const char* SlotBytes(int64_t slot) const;

  int32_t Capacity() const { return capacity_; }
  int32_t LowestLive() const { return recordCount_ == 0 ? 0 : lowest_; }
  int32_t HighestLive() const { return recordCount_ == 0 ? 0 : highest_; }

 private:
  char* Slot(int32_t slot) const {
    return blocks_[static_cast<size_t>(slot / growthStep_)].get() +
           static_cast<size_t>(slot % growthStep_) * static_cast<size_t>(recordSize_);
  }
  void Grow();

  int32_t growthStep_;
  std::vector<std::unique_ptr<char[]>> blocks_;  // growthStep_ x recordSize_ bytes each
  TABSBitsArray live_;                           // bit s set = slot s holds a live record; nextSlot_ bits
  int32_t capacity_ = 0;
  int32_t nextSlot_ = 0;  // contract 1: every slot below it was handed out since the last Clear
  int32_t lowest_ = 0, highest_ = 0;
};

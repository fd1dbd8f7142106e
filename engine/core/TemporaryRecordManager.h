// TemporaryRecordManager: TABSTemporaryRecordManager, the records of a
// temporary table (results and sorted copies of the SQL layer): append
// only, in memory up to the table's share, then in a temporary file.
//
// A record's identifier is (sequence number, row 0): 0 for the first record
// appended, counting up; identifiers compare numerically.
//
// Storage: records 0 .. InMemoryCount()-1 lie in one array grown by the
// growth step, never past the memory limit (a table made in-memory grows
// without limit). Once the array is at its limit, record k lies in the
// temporary file (TemporaryFile.h) at
//     ((k - InMemoryCount()) div perBlock) x perBlock x recordSize
//   + ((k - InMemoryCount()) mod perBlock) x recordSize,
// written a block of perBlock records at a time: the block being filled
// stays in a buffer until it is full.
//
// Contract
//  1. Insert appends; Update and Delete report false and change nothing.
//  2. GetRecord: next from before first gives record 0, prior from after
//     last the last one; next and prior move by one and stop at the ends
//     (after last, before first); current answers not found outside
//     0..count-1. Every record reads back as appended, from the array, the
//     file or the unflushed block.
//  3. The memory limit in records is (memory share / record size), at least
//     one; the share is a tenth of the usable memory unless the table data
//     passes another (tests pass a small one).
//  4. A record size of 0 or less raises "Invalid record size = 0" (10011);
//     appending past INT32_MAX records raises 10126 before anything
//     changes; the file's errors are TemporaryFile.h's.
//  5. Clear drops every record, the array's memory and the file.
//
// Thread use: under the database data's lock, taken by the table data.
#pragma once

#include <cstdint>
#include <vector>

#include "core/TemporaryFile.h"
#include "core/ZUDRecordManager.h"

class TABSTemporaryRecordManager : public TABSBaseRecordManager {
 public:
  static constexpr int32_t kDefaultGrowthStep = 1000;
  static constexpr int32_t kDefaultRecordsPerBlock = 10;

  // memoryShare: bytes of records kept in memory (contract 3); inMemory:
  // never spill.
  TABSTemporaryRecordManager(int32_t recordSize, int64_t memoryShare, bool inMemory = false,
                             int32_t growthStep = kDefaultGrowthStep,
                             int32_t recordsPerBlock = kDefaultRecordsPerBlock);

  void Clear(int32_t sessionID) override;
  bool Insert(int32_t sessionID, const char* record, TABSRecordID& newID) override;
  bool Update(int32_t sessionID, const char* record, const TABSRecordID& id) override;
  bool Delete(int32_t sessionID, const TABSRecordID& id) override;
  void GetRecord(int32_t sessionID, TABSGetRecordRequest& request) override;
  int64_t ApproxRecNo(int32_t sessionID, const TABSRecordID& id) override;

  int64_t InMemoryCount() const { return inMemoryCount_; }
  bool Spilled() const { return file_.Exists() || blockCount_ > 0; }

 private:
  void ReadRecord(int64_t seq, char* destination);
  void AppendToFile(const char* record);

  int32_t growthStep_;
  int32_t perBlock_;
  int64_t memoryLimit_;  // records the array may hold
  std::vector<char> memory_;
  int64_t capacity_ = 0;       // records the array holds room for
  int64_t inMemoryCount_ = 0;  // records in the array
  TABSTemporaryFile file_;
  std::vector<char> block_;  // perBlock_ x recordSize_: the block being filled
  int32_t blockCount_ = 0;   // records in block_
  int64_t blocksWritten_ = 0;
};

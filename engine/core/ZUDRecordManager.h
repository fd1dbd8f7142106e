// ZUDRecordManager: where the record bytes of a table live. The disk, in-
// memory and temporary storage kinds implement this contract; the table
// data and the index objects reach records only through it.
//
// Contract
//  1. RecordCount, ChangeCounter and RecordSize are kept current by every
//     implementation; the change counter moves on by 1 on every insert,
//     update and delete (and on Clear), so a cursor can tell that anything
//     it derived from the records (filter bitmap, index path) is stale.
//     Counters are compared for equality only and may come from a file at
//     any value: they step on with NextChangeCount, INT32_MAX to
//     INT32_MIN, never by a signed overflow.
//  2. Insert returns the new record identifier; Update and Delete report
//     false when the record does not exist.
//  3. GetRecord answers a request: mode current re-reads the record of
//     `recordID`; next and prior step in physical order from `recordID`, or
//     from the start (beforeFirst) or the end (afterLast). The result is
//     found (record copied to `destination`, `recordID` updated), before
//     first, after last, or not found.
//  4. ApproxRecNo is 1-based and -1 for an identifier outside the table.
//
// Thread use: under the database data's lock, taken by the table data.
#pragma once

#include <cstdint>

#include "core/ZUDRecordLayout.h"

enum TABSGetRecordMode : uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };
enum TABSGetRecordResult : uint8_t { grrFound = 0, grrBOF = 1, grrEOF = 2, grrNotFound = 3 };

struct TABSGetRecordRequest {
  TABSGetRecordMode mode = grmCurrent;
  int32_t indexID = -1;   // -1 = physical order
  TABSRecordID recordID;  // in and out
  char* destination = nullptr;
  bool beforeFirst = false;
  bool afterLast = false;
  TABSGetRecordResult result = grrNotFound;
};

// Contract 1: a change counter or change stamp one step on.
inline int32_t NextChangeCount(int32_t counter) { return static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u); }

class TABSBaseRecordManager {
 public:
  virtual ~TABSBaseRecordManager() = default;
  int64_t RecordCount() const { return recordCount_; }
  int32_t ChangeCounter() const { return changeCounter_; }
  int32_t RecordSize() const { return recordSize_; }

  virtual void Clear(int32_t sessionID) = 0;  // -2 = all sessions
  virtual bool Insert(int32_t sessionID, const char* record, TABSRecordID& newID) = 0;
  virtual bool Update(int32_t sessionID, const char* record, const TABSRecordID& id) = 0;
  virtual bool Delete(int32_t sessionID, const TABSRecordID& id) = 0;
  virtual void GetRecord(int32_t sessionID, TABSGetRecordRequest& request) = 0;
  virtual int CompareRecordIds(const TABSRecordID& a, const TABSRecordID& b) const { return a.Compare(b); }
  virtual int64_t ApproxRecNo(int32_t sessionID, const TABSRecordID& id) = 0;

 protected:
  void CountChange() { changeCounter_ = NextChangeCount(changeCounter_); }

  int64_t recordCount_ = 0;
  int32_t changeCounter_ = 0;
  int32_t recordSize_ = 0;
};

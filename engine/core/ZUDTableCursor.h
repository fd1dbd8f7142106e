// ZUDTableCursor: the part of a cursor's state that the table data reads
// and changes on the cursor's behalf: its record buffer and position, its
// current index, range, distinct and record filter, its filter bitmap and
// index position cache. The cursor classes derive from it.
//
// Cursor record buffer: the memory record (ZUDRecordLayout.h), then the
// 6-byte record identifier, then the bookmark flag (3 = just inserted).
//
// Contract
//  1. Exactly one of: before the first record, after the last record, or
//     on the record `recordID` (whose bytes are in the buffer).
//  2. A record passes when it lies in the range (start: key >= start, or >
//     start when exclusive; end: key <= end, or < end when exclusive; keys
//     compared over the given number of key columns of the current index),
//     then the record filter (the cursor's filter expressions and callback)
//     accepts it.
//  3. The cursor is filtered while a range, a record filter or distinct is
//     active; then its counts and record numbers come from its filter
//     bitmap, one bit per record position. Whoever changes the range, the
//     record filter, distinct or the scan resets the bitmap
//     (bitmap.Reset()); the table data rebuilds it only when records
//     changed.
//  4. The scan, when active, is a promise of the record filter's owner:
//     every record the filter accepts lies in the scan's key range of its
//     index (keys compared over the given number of columns). The table
//     data then builds the bitmap from that range alone. An empty scan
//     promises that no record passes: nothing is read for it.
//
// Thread use: one thread at a time, under the database data's lock while
// the table data works on it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/ZUDBitsArray.h"
#include "core/ZUDIndex.h"
#include "core/ZUDRecordLayout.h"

struct TABSCursorRange {
  bool active = false;
  std::vector<char> startKey, endKey;  // memory records; empty = open end
  int32_t startFieldCount = 0, endFieldCount = 0;
  bool startExclusive = false, endExclusive = false;
};

// Contract 4: the key range of one index that holds every passing record.
struct TABSCursorScan {
  bool active = false;
  bool empty = false;  // no record can pass
  int32_t indexID = -1;
  std::vector<char> lowerKey, upperKey;  // memory records; empty = open end
  int32_t lowerFieldCount = 0, upperFieldCount = 0;
  bool lowerExclusive = false, upperExclusive = false;
};

class TABSTableCursor {
 public:
  virtual ~TABSTableCursor() = default;

  // Sizes the buffer for `layout` (contract 1 state: before the first).
  void PrepareBuffer(const TABSCursorRecordLayout& layout);
  char* Record() { return buffer.data(); }
  const char* Record() const { return buffer.data(); }
  // The trailer after the memory record.
  void WriteTrailer(const TABSRecordID& id, uint8_t bookmarkFlag);
  bool IsFiltered() const { return range.active || static_cast<bool>(recordFilter) || distinctColumns > 0; }
  void SetBeforeFirst() {
    beforeFirst = true;
    afterLast = false;
  }
  void SetAfterLast() {
    beforeFirst = false;
    afterLast = true;
  }

  std::vector<char> buffer;
  TABSCursorRecordLayout layout;
  int32_t indexID = -1;  // -1 = physical order
  TABSRecordID recordID;
  bool beforeFirst = true;
  bool afterLast = false;
  TABSCursorRange range;
  int32_t distinctColumns = 0;                           // leading index columns that must differ; 0 = off
  std::function<bool(const char* record)> recordFilter;  // empty = none
  // When set, stepping with a filter reads the bits of the filter bitmap
  // (built once per change counter) instead of testing every record.
  bool useBitmap = false;
  TABSCursorScan scan;
  TABSRecordBitmap bitmap;
  TABSIndexPositionCache positionCache;
};

// ABSBTreeRecordKey: the keys of a record index, built from memory records
// (ZUDRecordLayout.h) by an index definition.
//
// Key layout: for each index column, in index order, one part:
//   marker  1 byte    1 = NULL, 0 = value present
//   value   the column's memory value bytes (zero when NULL); when a text
//           or byte column's maximum indexed size is smaller than its
//           memory value size, only that many bytes followed by 2 zero
//           bytes (a truncated part: maximum indexed size + 3 bytes in
//           all). Fixed-size values are never cut.
// The key size K is the sum of the parts. A full-length layout, every part
// memory value size + 1, serves exact comparisons of two records.
//
// Contract
//  1. Columns compare NULL-aware (NULL below every value, two NULLs equal)
//     in their storage type, with the current locale and the column's
//     case-insensitive flag; a descending column negates; the first column
//     that differs decides.
//  2. Two truncated parts that tie are equal for a plain comparison. An
//     exact comparison settles the tie from the full values when both parts
//     are filled to their truncated length (shorter values were stored
//     whole): the entry's record is read by its identifier (20170 when it
//     cannot be) and both full keys are compared from the first column.
//     An entry of the searched record itself ties without being read. A
//     search over fewer columns than the key compares plainly, so that it
//     follows the order of whole keys.
//  3. Leaf values are 6-byte record identifiers, ordered by page number,
//     then row.
//  4. A BLOB column raises 20295, a column the table lacks 20043, and a
//     key whose entries would not fit three to a page 20078.
//
// Thread use: under the caller's database lock.
#pragma once

#include <functional>
#include <vector>

#include "core/ABSBTreePage.h"
#include "core/ZUDFieldDefs.h"
#include "core/ZUDIndexDefs.h"
#include "core/ZUDRecordLayout.h"

// Reads the memory record of an identifier into `destination` (a buffer
// of the table's memory record size); false when there is no such record.
using TABSRecordReader = std::function<bool(int32_t sessionID, const TABSRecordID& id, char* destination)>;

class TABSRecordKeyRef : public TABSBTreeKeyRef {
 public:
  struct Part {
    int fieldNo = 0;
    TABSStorageType type = bftUnknown;
    int32_t memoryOffset = 0;
    int32_t memorySize = 0;
    int32_t offset = 0;      // of the marker within the key
    int32_t valueSize = 0;   // value bytes kept in the key
    int32_t fullOffset = 0;  // of the marker within the full-length key
    bool truncated = false;
    bool descending = false;
    bool caseInsensitive = false;
  };

  TABSRecordKeyRef(const TABSFieldDefs& fields, const TABSIndexDef& def, int32_t pageDataSize, TABSRecordReader reader);

  int32_t ColumnCount() const { return static_cast<int32_t>(parts_.size()); }
  int32_t FullKeySize() const { return fullKeySize_; }
  const Part& PartAt(int i) const { return parts_[static_cast<size_t>(i)]; }

  void BuildKey(const char* record, uint8_t* key) const;
  void BuildFullKey(const char* record, uint8_t* key) const;
  // -1, 0, +1 of two full-length keys over the first `columnCount` columns.
  int CompareFullKeys(const uint8_t* a, const uint8_t* b, int32_t columnCount = -1) const;

  int CompareKeys(const TABSBTreeSearchKey& search, const uint8_t* stored) const override;
  int CompareExact(int32_t sessionID, const TABSBTreeSearchKey& search, const uint8_t* storedKey,
                   const uint8_t* leafValue) const override;
  bool HasTruncatedParts() const override { return anyTruncated_; }
  int CompareLeafValues(const uint8_t* a, const uint8_t* b) const override;

 private:
  static int32_t KeySizeOf(const TABSFieldDefs& fields, const TABSIndexDef& def);
  int ComparePart(const Part& p, const uint8_t* a, const uint8_t* b, bool full) const;
  // Whether a truncated part holds a value as long as the part allows.
  bool Filled(const Part& p, const uint8_t* part) const;

  std::vector<Part> parts_;
  int32_t fullKeySize_ = 0;
  int32_t recordSize_ = 0;
  bool anyTruncated_ = false;
  TABSRecordReader reader_;
};

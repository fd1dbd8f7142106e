// RecordPage: TABSSmallRecordPage, the layout of one record page (PageType
// 10) of a disk table.
//
// With R the stored record size and D the page data size, a page has
// S = trunc((D - 1) / (R + 0.125)) slots, fixed when the table's record
// manager is set up. The data area holds:
//   0              occupancy bitmap, B = ceil(S / 8) bytes; bit i (least
//                  significant first within each byte) set = slot i used
//   B + i * R      slot i: the R bytes of a stored record
// PageSize 4096 (D = 4056) and R = 100 give S = 40. The page header's
// OwnerTableID is the table's id.
//
// Contract
//  1. A layout whose bitmap plus S x R passes D is refused with "Invalid
//     number of records on page" (20140) before any slot is touched.
//  2. A slot number at or past S is an empty slot: reads, updates and
//     deletes of it answer false, never touch bytes outside the page.
//  3. Every change marks the page dirty; reads never do.
//  4. The occupied slots, in slot order, are the page's records; IndexOf
//     and RecordByIndex convert between a slot and its rank among them.
//
// Thread use: under the table data's lock; the page stays pinned by the
// caller while this object is used.
#pragma once

#include <cstdint>

#include "core/ZUDRecordLayout.h"

class TABSPage;

// Slots per page for records of `recordSize` bytes in `dataSize` data
// bytes; 0 when not even one fits.
int32_t RecordSlotsPerPage(int32_t dataSize, int32_t recordSize);

class TABSSmallRecordPage {
 public:
  TABSSmallRecordPage(TABSPage& page, int32_t slots, int32_t recordSize);

  int32_t FindFreeSlot() const;  // -1 when full
  int32_t RecordCount() const;
  bool SlotUsed(int32_t slot) const;

  void AddRecord(const char* stored, TABSRecordID& id);
  bool UpdateRecord(const char* stored, const TABSRecordID& id);
  bool DeleteRecord(const TABSRecordID& id);
  bool ReadRecord(const TABSRecordID& id, char* stored) const;
  void FirstRecord(TABSRecordID& id) const;
  void LastRecord(TABSRecordID& id) const;
  bool NextRecord(TABSRecordID& id) const;
  bool PriorRecord(TABSRecordID& id) const;
  void RecordByIndex(int32_t n, TABSRecordID& id) const;
  int32_t IndexOf(const TABSRecordID& id) const;

 private:
  void SetSlot(int32_t slot, bool used);
  uint8_t* SlotData(int32_t slot) const;

  TABSPage& page_;
  int32_t slots_;
  int32_t recordSize_;
  int32_t bitmapSize_;
};

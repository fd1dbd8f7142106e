#include "disk/RecordPage.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/PageManager.h"
#include "core/ZUDExcept.h"

int32_t RecordSlotsPerPage(int32_t dataSize, int32_t recordSize) {
  if (recordSize <= 0 || dataSize <= 1) return 0;
  // trunc((D - 1) / (R + 1/8)) in integers: (8 (D - 1)) div (8 R + 1).
  return static_cast<int32_t>((int64_t{8} * (dataSize - 1)) / (int64_t{8} * recordSize + 1));
}

TABSSmallRecordPage::TABSSmallRecordPage(TABSPage& page, int32_t slots, int32_t recordSize)
    : page_(page), slots_(slots), recordSize_(recordSize), bitmapSize_((slots + 7) / 8) {
  if (slots <= 0 || recordSize <= 0 || int64_t{bitmapSize_} + int64_t{slots} * recordSize > page_.DataSize())
    throw EABSException(20140, "Invalid number of records on page");
}

bool TABSSmallRecordPage::SlotUsed(int32_t slot) const {
  if (slot < 0 || slot >= slots_) return false;
  const uint8_t* bitmap = page_.Buffer() + page_.HeaderSize();
  return (bitmap[slot / 8] >> (slot % 8)) & 1;
}

void TABSSmallRecordPage::SetSlot(int32_t slot, bool used) {
  uint8_t* bitmap = page_.DataBuffer();
  const uint8_t bit = static_cast<uint8_t>(1u << (slot % 8));
  bitmap[slot / 8] = used ? (bitmap[slot / 8] | bit) : (bitmap[slot / 8] & ~bit);
  page_.IsDirty = true;
}

uint8_t* TABSSmallRecordPage::SlotData(int32_t slot) const {
  return const_cast<TABSPage&>(page_).DataBuffer() + bitmapSize_ + static_cast<int64_t>(slot) * recordSize_;
}

int32_t TABSSmallRecordPage::FindFreeSlot() const {
  for (int32_t i = 0; i < slots_; ++i)
    if (!SlotUsed(i)) return i;
  return -1;
}

int32_t TABSSmallRecordPage::RecordCount() const {
  const uint8_t* bitmap = page_.Buffer() + page_.HeaderSize();
  int32_t n = 0;
  for (int32_t b = 0; b < bitmapSize_; ++b) {
    uint8_t byte = bitmap[b];
    // Bits past the last slot of the last byte are not slots.
    if (b == bitmapSize_ - 1 && slots_ % 8) byte &= static_cast<uint8_t>((1u << (slots_ % 8)) - 1);
    n += std::popcount(byte);
  }
  return n;
}

void TABSSmallRecordPage::AddRecord(const char* stored, TABSRecordID& id) {
  const int32_t slot = FindFreeSlot();
  if (slot < 0) throw EABSException(20141, "Cannot add record to page. Page is full");
  std::memcpy(SlotData(slot), stored, static_cast<size_t>(recordSize_));
  SetSlot(slot, true);
  id.pageNo = page_.PageNo;
  id.rowNo = static_cast<uint16_t>(slot);
}

bool TABSSmallRecordPage::UpdateRecord(const char* stored, const TABSRecordID& id) {
  if (!SlotUsed(id.rowNo)) return false;
  std::memcpy(SlotData(id.rowNo), stored, static_cast<size_t>(recordSize_));
  page_.IsDirty = true;
  return true;
}

bool TABSSmallRecordPage::DeleteRecord(const TABSRecordID& id) {
  if (!SlotUsed(id.rowNo)) return false;
  SetSlot(id.rowNo, false);
  return true;
}

bool TABSSmallRecordPage::ReadRecord(const TABSRecordID& id, char* stored) const {
  if (!SlotUsed(id.rowNo)) return false;
  std::memcpy(stored, SlotData(id.rowNo), static_cast<size_t>(recordSize_));
  return true;
}

void TABSSmallRecordPage::FirstRecord(TABSRecordID& id) const {
  for (int32_t i = 0; i < slots_; ++i)
    if (SlotUsed(i)) {
      id = {page_.PageNo, static_cast<uint16_t>(i)};
      return;
    }
  throw EABSException(20143, "Record not found. PageNo=%d, PageRecordCount=%d", {page_.PageNo, 0});
}

void TABSSmallRecordPage::LastRecord(TABSRecordID& id) const {
  for (int32_t i = slots_ - 1; i >= 0; --i)
    if (SlotUsed(i)) {
      id = {page_.PageNo, static_cast<uint16_t>(i)};
      return;
    }
  throw EABSException(20144, "Record not found");
}

bool TABSSmallRecordPage::NextRecord(TABSRecordID& id) const {
  for (int32_t i = id.rowNo + 1; i < slots_; ++i)
    if (SlotUsed(i)) {
      id = {page_.PageNo, static_cast<uint16_t>(i)};
      return true;
    }
  return false;
}

bool TABSSmallRecordPage::PriorRecord(TABSRecordID& id) const {
  for (int32_t i = std::min<int32_t>(id.rowNo, slots_) - 1; i >= 0; --i)
    if (SlotUsed(i)) {
      id = {page_.PageNo, static_cast<uint16_t>(i)};
      return true;
    }
  return false;
}

void TABSSmallRecordPage::RecordByIndex(int32_t n, TABSRecordID& id) const {
  int32_t seen = 0;
  for (int32_t i = 0; i < slots_ && n >= 0; ++i)
    if (SlotUsed(i) && seen++ == n) {
      id = {page_.PageNo, static_cast<uint16_t>(i)};
      return;
    }
  throw EABSException(20145, "Record not found");
}

int32_t TABSSmallRecordPage::IndexOf(const TABSRecordID& id) const {
  int32_t n = 0;
  for (int32_t i = 0; i < slots_ && i < id.rowNo; ++i)
    if (SlotUsed(i)) ++n;
  return n;
}

#include "disk/LockTablesFile.h"

#include <vector>

TABSTableLocksFile::TABSTableLocksFile(TABSLockByteArea& area)
    : area_(area), slots_(area.Size() > 0 ? area.Size() / kBytesPerSlot : 0) {}

bool TABSTableLocksFile::SetLockByte(int32_t slot, TABSLockKind kind) {
  if (!OwnsSlot(slot) || kind >= kLockByteKindCount) return false;
  return area_.LockByte(BytePosition(slot, kind));
}

bool TABSTableLocksFile::ClearLockByte(int32_t slot, TABSLockKind kind) {
  if (!OwnsSlot(slot) || kind >= kLockByteKindCount) return false;
  return area_.UnlockByte(BytePosition(slot, kind));
}

bool TABSTableLocksFile::IsHeldByOthers(int32_t slot, TABSLockKind kind) {
  if (kind >= kLockByteKindCount) return false;
  // Two probes, the slots before this one and those after it, instead of
  // one per slot.
  const int32_t first = BytePosition(0, kind);
  if (!OwnsSlot(slot)) return area_.IsRegionLocked(first, slots_);
  return area_.IsRegionLocked(first, slot) || area_.IsRegionLocked(first + slot + 1, slots_ - slot - 1);
}

bool TABSTableLocksFile::IsCompatible(int32_t slot, TABSLockKind kind, bool flag) {
  for (int held = 0; held < kLockByteKindCount; ++held) {
    if (kLockCompatible[held][kind]) continue;
    if (flag && kind == ltTransactionWrite && held == ltEdit) continue;
    if (IsHeldByOthers(slot, static_cast<TABSLockKind>(held))) return false;
  }
  return true;
}

bool TABSTableLocksFile::SetRecordLock(int32_t slot, const TABSRecordID& record) {
  if (!OwnsSlot(slot)) return false;
  if (!area_.LockByte(BytePosition(slot, ltRecord))) return false;
  uint8_t bytes[kRecordIDSize];
  record.Write(bytes);
  try {
    area_.DirectWriteBuffer(bytes, kRecordIDSize, RecordPosition(slot));
  } catch (...) {
    // Without its identifier the byte would lock an unknown record.
    area_.UnlockByte(BytePosition(slot, ltRecord));
    throw;
  }
  return true;
}

bool TABSTableLocksFile::ClearRecordLock(int32_t slot) {
  if (!OwnsSlot(slot)) return false;
  return area_.UnlockByte(BytePosition(slot, ltRecord));
}

bool TABSTableLocksFile::IsRecordLockedByOthers(int32_t slot, const TABSRecordID& record) {
  if (slots_ <= 0) return false;
  // Read every identifier at once; probe only the bytes of slots that name
  // this record.
  std::vector<uint8_t> ids(static_cast<size_t>(slots_) * kRecordIDSize);
  area_.DirectReadBuffer(ids.data(), static_cast<int32_t>(ids.size()), RecordPosition(0));
  for (int32_t s = 0; s < slots_; ++s) {
    if (s == slot || !(TABSRecordID::Read(ids.data() + static_cast<size_t>(s) * kRecordIDSize) == record)) continue;
    if (area_.IsByteLocked(BytePosition(s, ltRecord))) return true;
  }
  return false;
}

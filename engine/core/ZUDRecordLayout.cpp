#include "core/ZUDRecordLayout.h"

#include <cstring>
#include <vector>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"

int TABSRecordID::Compare(const TABSRecordID& other) const {
  if (pageNo != other.pageNo) return pageNo < other.pageNo ? -1 : 1;
  if (rowNo != other.rowNo) return rowNo < other.rowNo ? -1 : 1;
  return 0;
}

void TABSRecordID::Write(void* sixBytes) const {
  auto* b = static_cast<unsigned char*>(sixBytes);
  zud::PutU32(b, static_cast<uint32_t>(pageNo));
  zud::PutU16(b + 4, rowNo);
}

TABSRecordID TABSRecordID::Read(const void* sixBytes) {
  const auto* b = static_cast<const unsigned char*>(sixBytes);
  return {zud::GetI32(b), zud::GetU16(b + 4)};
}

TABSCursorRecordLayout CursorRecordLayout(const TABSFieldDefs& fields) {
  TABSCursorRecordLayout l;
  l.firstFieldOffset = fields.NullBitmapSize();
  l.memoryRecordSize = fields.MemoryRecordSize();
  l.recordIDOffset = l.memoryRecordSize;
  l.bookmarkFlagOffset = l.recordIDOffset + kRecordIDSize;
  l.bufferSize = l.bookmarkFlagOffset + 1;
  return l;
}

bool IsFieldNull(const char* record, int fieldNo) {
  return (static_cast<unsigned char>(record[fieldNo / 8]) >> (fieldNo % 8)) & 1;
}

void SetFieldNull(char* record, int fieldNo, bool isNull) {
  auto& byte = reinterpret_cast<unsigned char&>(record[fieldNo / 8]);
  const unsigned char bit = static_cast<unsigned char>(1u << (fieldNo % 8));
  byte = static_cast<unsigned char>(isNull ? byte | bit : byte & ~bit);
}

void InitNewRecord(const TABSFieldDefs& fields, char* record) {
  std::memset(record, 0, static_cast<size_t>(fields.MemoryRecordSize()));
  for (int i = 0; i < fields.Count(); ++i) SetFieldNull(record, i, true);
}

void MemoryToStoredRecord(const TABSFieldDefs& fields, const char* memory, char* stored) {
  std::memcpy(stored, memory, static_cast<size_t>(fields.NullBitmapSize()));
  for (int i = 0; i < fields.Count(); ++i) {
    const TABSFieldDef& f = *fields[i];
    std::memcpy(stored + f.StoredOffset(), memory + f.MemoryOffset(), static_cast<size_t>(f.StoredValueSize()));
  }
}

void StoredToMemoryRecord(const TABSFieldDefs& fields, const char* stored, char* memory) {
  std::memcpy(memory, stored, static_cast<size_t>(fields.NullBitmapSize()));
  for (int i = 0; i < fields.Count(); ++i) {
    const TABSFieldDef& f = *fields[i];
    std::memcpy(memory + f.MemoryOffset(), stored + f.StoredOffset(), static_cast<size_t>(f.StoredValueSize()));
    if (f.MemoryValueSize() > f.StoredValueSize())
      std::memset(memory + f.MemoryOffset() + f.StoredValueSize(), 0,
                  static_cast<size_t>(f.MemoryValueSize() - f.StoredValueSize()));
  }
}

uint32_t GetBlobHandle(const TABSFieldDef& field, const char* record) {
  return zud::GetU32(record + field.MemoryOffset() + kBlobStoredSize);
}

void SetBlobHandle(const TABSFieldDef& field, char* record, uint32_t handle) {
  zud::PutU32(record + field.MemoryOffset() + kBlobStoredSize, handle);
}

void ReadFieldValue(const TABSFieldDefs& fields, const char* record, int fieldNo, TABSVariant& value) {
  const TABSFieldDef& f = *fields[fieldNo];
  value.Clear(f.StorageType());
  if (IsFieldNull(record, fieldNo)) return;
  const char* slot = record + f.MemoryOffset();
  int32_t size = f.MemoryValueSize();
  if (IsStringStorage(f.StorageType())) {
    // Contract 2: up to the terminator, never past the slot.
    const bool wide = IsWideStringStorage(f.StorageType());
    const int32_t unit = wide ? 2 : 1;
    int32_t units = 0;
    while (units < size / unit && (wide ? zud::GetU16(slot + units * 2) != 0 : slot[units] != 0)) ++units;
    if (units == 0) return;  // the empty string is NULL
    std::vector<char> copy(static_cast<size_t>((units + 1) * unit), '\0');
    std::memcpy(copy.data(), slot, static_cast<size_t>(units * unit));
    value.SetBuffer(copy.data(), (units + 1) * unit, true, f.StorageType());
    return;
  }
  value.SetBuffer(slot, size, true, f.StorageType());
}

void WriteFieldValue(const TABSFieldDefs& fields, char* record, int fieldNo, const TABSVariant& value) {
  const TABSFieldDef& f = *fields[fieldNo];
  if (value.IsNull()) {
    std::memset(record + f.MemoryOffset(), 0, static_cast<size_t>(f.MemoryValueSize()));
    SetFieldNull(record, fieldNo, true);
    return;
  }
  // Convert into a scratch slot first so a failure leaves the record alone.
  std::vector<char> slot(static_cast<size_t>(f.MemoryValueSize()), '\0');
  value.GetData(slot.data(), f.StorageType(), f.MemoryValueSize());
  std::memcpy(record + f.MemoryOffset(), slot.data(), slot.size());
  SetFieldNull(record, fieldNo, false);
}

// Record keys: building them from memory records and comparing them.
#include "core/ABSBTreeRecordKey.h"

#include <cstring>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "core/ZUDVariant.h"

namespace {
constexpr int32_t kTruncationPad = 2;

const TABSFieldDef& IndexField(const TABSFieldDefs& fields, const TABSIndexColumn& column, int& fieldNo) {
  fieldNo = fields.IndexOfName(column.fieldName);
  if (fieldNo < 0) throw EABSException(20043, "Cannot find index field '%s'", {column.fieldName});
  const TABSFieldDef& field = *fields[fieldNo];
  if (field.IsBlob())
    throw EABSException(20295,
                        "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please "
                        "use CAST(blob_field, string) function to convert BLOB field to a string expression "
                        "before indexing.",
                        {column.fieldName});
  return field;
}

// Only variable text and byte values are cut to the maximum indexed size;
// a number, date or flag cut short could neither be read nor ordered.
bool Truncates(const TABSFieldDef& field, const TABSIndexColumn& column) {
  const TABSStorageType t = field.StorageType();
  const bool variable = IsStringStorage(t) || t == bftBytes || t == bftVarBytes;
  return variable && column.maxIndexedSize >= 0 && column.maxIndexedSize < field.MemoryValueSize();
}
}  // namespace

int32_t TABSRecordKeyRef::KeySizeOf(const TABSFieldDefs& fields, const TABSIndexDef& def) {
  int64_t size = 0;
  for (int i = 0; i < def.ColumnCount(); ++i) {
    int fieldNo = 0;
    const TABSFieldDef& field = IndexField(fields, def.Column(i), fieldNo);
    size += Truncates(field, def.Column(i)) ? def.Column(i).maxIndexedSize + kTruncationPad + 1
                                            : field.MemoryValueSize() + 1;
  }
  if (size <= 0 || size > 0xFFFF) throw EABSException(20078, "Index error: invalid params");
  return static_cast<int32_t>(size);
}

TABSRecordKeyRef::TABSRecordKeyRef(const TABSFieldDefs& fields, const TABSIndexDef& def, int32_t pageDataSize,
                                   TABSRecordReader reader)
    : TABSBTreeKeyRef(KeySizeOf(fields, def), kRecordIDSize), reader_(std::move(reader)) {
  int32_t offset = 0, fullOffset = 0;
  for (int i = 0; i < def.ColumnCount(); ++i) {
    const TABSIndexColumn& column = def.Column(i);
    Part p;
    const TABSFieldDef& field = IndexField(fields, column, p.fieldNo);
    p.type = field.StorageType();
    p.memoryOffset = field.MemoryOffset();
    p.memorySize = field.MemoryValueSize();
    p.truncated = Truncates(field, column);
    p.valueSize = p.truncated ? column.maxIndexedSize + kTruncationPad : p.memorySize;
    p.offset = offset;
    p.fullOffset = fullOffset;
    p.descending = column.descending;
    p.caseInsensitive = column.caseInsensitive;
    offset += p.valueSize + 1;
    fullOffset += p.memorySize + 1;
    anyTruncated_ = anyTruncated_ || p.truncated;
    parts_.push_back(p);
  }
  fullKeySize_ = fullOffset;
  recordSize_ = fields.MemoryRecordSize();
  // Three entries of the larger kind must fit in a page, or splits could
  // not make room.
  const int64_t entry = static_cast<int64_t>(KeySize()) + std::max(kRecordIDSize, btree::kNodeValueSize);
  if (parts_.empty() || btree::kHeaderSize + 3 * entry > pageDataSize)
    throw EABSException(20078, "Index error: invalid params");
}

void TABSRecordKeyRef::BuildKey(const char* record, uint8_t* key) const {
  std::memset(key, 0, static_cast<size_t>(KeySize()));
  for (const Part& p : parts_) {
    if (IsFieldNull(record, p.fieldNo)) {
      key[p.offset] = 1;
      continue;
    }
    const int32_t copy = p.truncated ? p.valueSize - kTruncationPad : p.valueSize;
    std::memcpy(key + p.offset + 1, record + p.memoryOffset, static_cast<size_t>(copy));
  }
}

void TABSRecordKeyRef::BuildFullKey(const char* record, uint8_t* key) const {
  std::memset(key, 0, static_cast<size_t>(fullKeySize_));
  for (const Part& p : parts_) {
    if (IsFieldNull(record, p.fieldNo)) {
      key[p.fullOffset] = 1;
      continue;
    }
    std::memcpy(key + p.fullOffset + 1, record + p.memoryOffset, static_cast<size_t>(p.memorySize));
  }
}

namespace {
template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);  // NaN ties, as in the value comparison
}

// Fixed-size values compare here without the locale; the order is the
// value comparison's (ZUDVariant.h contract 7). -2: not a fixed-size type.
int CompareFixed(TABSStorageType type, const uint8_t* a, const uint8_t* b) {
  switch (type) {
    case bftShortint: return Sign(zud::GetI8(a), zud::GetI8(b));
    case bftSmallint: return Sign(zud::GetI16(a), zud::GetI16(b));
    case bftInteger:
    case bftDate:
    case bftTime: return Sign(zud::GetI32(a), zud::GetI32(b));
    case bftLargeint: return Sign(zud::GetI64(a), zud::GetI64(b));
    case bftByte: return Sign(a[0], b[0]);
    case bftWord: return Sign(zud::GetU16(a), zud::GetU16(b));
    case bftCardinal: return Sign(zud::GetU32(a), zud::GetU32(b));
    case bftSingle: return Sign(zud::GetF32(a), zud::GetF32(b));
    case bftDouble:
    case bftCurrency: return Sign(zud::GetF64(a), zud::GetF64(b));
    case bftDateTime: {
      const int byDate = Sign(zud::GetI32(a), zud::GetI32(b));
      return byDate != 0 ? byDate : Sign(zud::GetI32(a + 4), zud::GetI32(b + 4));
    }
    default: return -2;
  }
}
}  // namespace

int TABSRecordKeyRef::ComparePart(const Part& p, const uint8_t* a, const uint8_t* b, bool full) const {
  const bool nullA = a[0] != 0, nullB = b[0] != 0;
  if (nullA || nullB) {
    const int sign = nullA == nullB ? 0 : (nullA ? -1 : 1);  // NULL below every value
    return p.descending ? -sign : sign;
  }
  const int fixed = CompareFixed(p.type, a + 1, b + 1);
  if (fixed != -2) return p.descending ? -fixed : fixed;
  const int32_t size = full ? p.memorySize : p.valueSize;
  const int code =
      CompareValueBuffers(reinterpret_cast<const char*>(a + 1), p.type, size, a[0] != 0,
                          reinterpret_cast<const char*>(b + 1), p.type, size, b[0] != 0, p.caseInsensitive);
  const int sign = CompareCodeToSign(code);
  return p.descending ? -sign : sign;
}

int TABSRecordKeyRef::CompareKeys(const TABSBTreeSearchKey& search, const uint8_t* stored) const {
  const size_t n =
      search.columnCount < 0 ? parts_.size() : std::min(parts_.size(), static_cast<size_t>(search.columnCount));
  for (size_t i = 0; i < n; ++i) {
    const Part& p = parts_[i];
    const int c = ComparePart(p, search.key + p.offset, stored + p.offset, false);
    if (c != 0) return c;
  }
  return 0;
}

int TABSRecordKeyRef::CompareFullKeys(const uint8_t* a, const uint8_t* b, int32_t columnCount) const {
  const size_t n = columnCount < 0 ? parts_.size() : std::min(parts_.size(), static_cast<size_t>(columnCount));
  for (size_t i = 0; i < n; ++i) {
    const Part& p = parts_[i];
    const int c = ComparePart(p, a + p.fullOffset, b + p.fullOffset, true);
    if (c != 0) return c;
  }
  return 0;
}

bool TABSRecordKeyRef::Filled(const Part& p, const uint8_t* part) const {
  if (part[0] != 0) return false;  // NULL
  const int32_t kept = p.valueSize - kTruncationPad;
  const char* v = reinterpret_cast<const char*>(part + 1);
  if (IsWideStringStorage(p.type)) {
    for (int32_t i = 0; i + 1 < kept; i += 2)
      if (v[i] == 0 && v[i + 1] == 0) return false;
    return true;
  }
  if (IsStringStorage(p.type)) return strnlen(v, static_cast<size_t>(kept)) == static_cast<size_t>(kept);
  return true;  // raw bytes: any tie may hide a difference
}

int TABSRecordKeyRef::CompareExact(int32_t sessionID, const TABSBTreeSearchKey& search, const uint8_t* storedKey,
                                   const uint8_t* leafValue) const {
  // A search over leading columns only compares plainly: the full values
  // of a truncated column would not follow the tree's order of whole keys.
  if (!anyTruncated_ || !search.record) return 0;
  if (search.columnCount >= 0 && static_cast<size_t>(search.columnCount) < parts_.size()) return 0;
  const size_t n = parts_.size();
  bool hidden = false;
  for (size_t i = 0; i < n && !hidden; ++i) {
    const Part& p = parts_[i];
    hidden = p.truncated && Filled(p, search.key + p.offset) && Filled(p, storedKey + p.offset);
  }
  if (!hidden) return 0;
  const TABSRecordID entryId = TABSRecordID::Read(leafValue);
  if (search.value && TABSRecordID::Read(search.value) == entryId) return 0;  // the record itself
  if (!reader_) throw EABSException(20076, "Pointer is nil");
  std::vector<char> record(static_cast<size_t>(recordSize_));
  if (!reader_(sessionID, entryId, record.data())) throw EABSException(20170, "Cannot retrieve record for index");
  std::vector<uint8_t> left(static_cast<size_t>(fullKeySize_)), right(static_cast<size_t>(fullKeySize_));
  BuildFullKey(search.record, left.data());
  BuildFullKey(record.data(), right.data());
  return CompareFullKeys(left.data(), right.data());
}

int TABSRecordKeyRef::CompareLeafValues(const uint8_t* a, const uint8_t* b) const {
  return TABSRecordID::Read(a).Compare(TABSRecordID::Read(b));
}

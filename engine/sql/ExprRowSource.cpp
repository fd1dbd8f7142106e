#include "sql/ExprRowSource.h"

#include "core/ZUDExcept.h"

namespace {
std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}
}  // namespace

TABSRecordRowSource::TABSRecordRowSource(const TABSFieldDefs& fields, std::string tableName, BlobReader blobReader)
    : fields_(fields), tableName_(std::move(tableName)), blobReader_(std::move(blobReader)) {}

std::vector<int32_t> TABSRecordRowSource::FindFields(const std::string& name, const std::string& qualifier) const {
  std::vector<int32_t> found;
  if (!qualifier.empty() && UpperAscii(qualifier) != UpperAscii(tableName_)) return found;
  const std::string wanted = UpperAscii(name);
  for (int i = 0; i < fields_.Count(); ++i)
    if (UpperAscii(fields_[i]->Name()) == wanted) found.push_back(i);
  return found;
}

TABSExprColumn TABSRecordRowSource::Column(int32_t column) const {
  TABSExprColumn c;
  if (column < 0 || column >= fields_.Count()) return c;
  const TABSFieldDef& f = *fields_[column];
  c.Qualifier = tableName_;
  c.Name = f.Name();
  c.DisplayName = f.Name();
  c.DataType = f.DataType();
  c.StorageType = f.StorageType();
  c.Size = f.Size();
  return c;
}

void TABSRecordRowSource::ReadValue(int32_t column, TABSVariant& value) {
  if (!record_) throw EABSException(30196, "Dataset and AO not assigned");
  ReadFromRecord(column, record_, value);
}

// Record layout: null bitmap (bit i mod 8 of byte i div 8 set = field i
// NULL), then each value at its memory offset, MemoryValueSize bytes.
bool TABSRecordRowSource::ReadFromRecord(int32_t column, const char* record, TABSVariant& value) {
  if (!record || column < 0 || column >= fields_.Count()) throw EABSException(30196, "Dataset and AO not assigned");
  const TABSFieldDef& f = *fields_[column];
  const int64_t offset = f.MemoryOffset(), size = f.MemoryValueSize();
  if (offset < fields_.NullBitmapSize() || size <= 0 || offset + size > fields_.MemoryRecordSize())
    throw EABSException(30196, "Dataset and AO not assigned");
  const bool isNull = (static_cast<unsigned char>(record[column / 8]) >> (column % 8)) & 1;
  if (isNull) {
    value.Clear(f.StorageType());
    return true;
  }
  if (f.IsBlob()) {
    if (!blobReader_) throw EABSException(30350, "Not implemented yet");
    blobReader_(column, record, value);
    return true;
  }
  const char* p = record + offset;
  if (IsStringStorage(f.StorageType()) && (p[0] == 0 && (!IsWideStringStorage(f.StorageType()) || p[1] == 0))) {
    value.Clear(f.StorageType());  // an empty string is NULL
    return true;
  }
  value.SetBuffer(p, static_cast<int32_t>(size), false, f.StorageType());
  return true;
}

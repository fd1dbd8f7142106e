// The cursor's fields: typed values, the data-access exchange, key records,
// the projection, and the row source its expressions read (LocalCursor.h
// contract 6).
#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
#include "local/LocalCursor.h"

namespace {

// Writes a non-BLOB value into its slot, converted to the field's storage
// type; a string longer than the field is cut to the field's size and
// always ends with its terminator inside the slot.
void WriteSlot(const TABSFieldDef& f, char* record, const TABSVariant& value) {
  char* slot = record + f.MemoryOffset();
  const size_t slotSize = static_cast<size_t>(f.MemoryValueSize());
  TABSVariant v;
  v.Assign(value);
  v.CastTo(f.StorageType());
  std::memset(slot, 0, slotSize);
  if (v.IsNull()) return;
  const size_t size = static_cast<size_t>(std::max<int32_t>(v.ValueSize(), 0));
  if (IsStringStorage(f.StorageType())) {
    const size_t unit = IsWideStringStorage(f.StorageType()) ? 2 : 1;
    const size_t room = slotSize >= unit ? (slotSize - unit) / unit * unit : 0;
    std::memcpy(slot, v.Buffer(), std::min(size, room));
    return;
  }
  std::memcpy(slot, v.Buffer(), std::min(size, slotSize));
}

}  // namespace

// ---- field numbers ------------------------------------------------------------

int32_t TABSLocalCursor::TableFieldNo(int32_t fieldNo, int errorCode1, int errorCode2) const {
  if (fieldNo < 0)
    throw EABSException(errorCode1, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, FieldCount()});
  if (fieldNo >= FieldCount())
    throw EABSException(errorCode2, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, FieldCount()});
  return visible_[static_cast<size_t>(fieldNo)].tableFieldNo;
}

const TABSFieldDef& TABSLocalCursor::VisibleField(int32_t fieldNo) const {
  const int32_t t = TableFieldNo(fieldNo, 20191, 20192);
  return *table_->FieldDefs()[t];
}

const std::string& TABSLocalCursor::VisibleFieldName(int32_t fieldNo) const {
  TableFieldNo(fieldNo, 20191, 20192);
  return visible_[static_cast<size_t>(fieldNo)].name;
}

int32_t TABSLocalCursor::FindField(const std::string& name) const {
  const std::string wanted = UpperName(name);
  for (size_t i = 0; i < visible_.size(); ++i)
    if (UpperName(visible_[i].name) == wanted) return static_cast<int32_t>(i);
  return -1;
}

// ---- typed values ---------------------------------------------------------------

void TABSLocalCursor::ReadTableField(int32_t t, const char* record, TABSVariant& value) {
  const TABSFieldDef& f = *Table().FieldDefs()[t];
  if (IsFieldNull(record, t)) {
    value.Clear(f.StorageType());
    return;
  }
  if (f.IsBlob()) {
    // Contract 9: the value an edit set is the buffer's.
    if (auto pending = pendingBlobs_.find(t); record == Record() && pending != pendingBlobs_.end()) {
      if (!pending->second)
        value.Clear(f.StorageType());
      else
        value.SetBuffer(pending->second->data(), static_cast<int32_t>(pending->second->size()), true, f.StorageType());
      return;
    }
    const std::string content = Table().ReadBlobBuffer(session_, record, t);
    if (content.empty()) {
      value.Clear(f.StorageType());
      return;
    }
    value.SetBuffer(content.data(), static_cast<int32_t>(content.size()), true, f.StorageType());
    return;
  }
  const char* p = record + f.MemoryOffset();
  if (IsStringStorage(f.StorageType()) && p[0] == 0 && (!IsWideStringStorage(f.StorageType()) || p[1] == 0)) {
    value.Clear(f.StorageType());  // an empty string is NULL
    return;
  }
  value.SetBuffer(p, f.MemoryValueSize(), true, f.StorageType());
}

void TABSLocalCursor::GetFieldValue(int32_t fieldNo, TABSVariant& value) {
  ReadTableField(TableFieldNo(fieldNo, 20191, 20192), Record(), value);
}

void TABSLocalCursor::SetFieldValue(int32_t fieldNo, const TABSVariant& value) {
  const int32_t t = TableFieldNo(fieldNo, 20193, 10317);
  const TABSFieldDef& f = *Table().FieldDefs()[t];
  char* record = Record();
  if (f.IsBlob()) {
    if (value.IsNull()) {
      pendingBlobs_[t] = std::nullopt;
      return;
    }
    TABSVariant v;
    v.Assign(value);
    v.CastTo(f.StorageType());
    pendingBlobs_[t] = std::string(v.Buffer() ? v.Buffer() : "", static_cast<size_t>(std::max(v.ValueSize(), 0)));
    return;
  }
  WriteSlot(f, record, value);
  bool isNull = value.IsNull();
  if (!isNull && IsStringStorage(f.StorageType())) {
    const char* p = record + f.MemoryOffset();
    isNull = p[0] == 0 && (!IsWideStringStorage(f.StorageType()) || p[1] == 0);
  }
  SetFieldNull(record, t, isNull);
}

// ---- the data-access exchange ------------------------------------------------

int32_t TABSLocalCursor::FieldDataSize(const TABSFieldDef& f) {
  switch (f.StorageType()) {
    case bftShortint:
    case bftByte: return 2;
    case bftCardinal: return 8;
    case bftSingle:
    case bftExtended: return 8;
    default: return f.IsBlob() ? 0 : f.MemoryValueSize();
  }
}

bool TABSLocalCursor::GetFieldData(int32_t fieldNo, void* data) {
  const int32_t t = TableFieldNo(fieldNo, 10000, 10005);
  const TABSFieldDef& f = *Table().FieldDefs()[t];
  const char* record = Record();
  if (IsFieldNull(record, t) || f.IsBlob()) return false;
  const int32_t offset = f.MemoryOffset(), size = f.MemoryValueSize();
  if (offset < layout.firstFieldOffset || size <= 0 || offset + size > layout.memoryRecordSize)
    throw EABSException(10002, "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
                        {fieldNo, offset, size});
  if (!data) return true;
  const char* p = record + offset;
  auto* out = static_cast<char*>(data);
  switch (f.StorageType()) {
    case bftShortint: zud::PutI16(out, static_cast<int16_t>(static_cast<int8_t>(p[0]))); break;
    case bftByte: zud::PutI16(out, static_cast<int16_t>(static_cast<uint8_t>(p[0]))); break;
    case bftCardinal: zud::PutU64(out, static_cast<uint64_t>(zud::GetU32(p))); break;
    case bftSingle: {
      float v;
      std::memcpy(&v, p, sizeof v);
      const double d = v;
      std::memcpy(out, &d, sizeof d);
      break;
    }
    case bftExtended: {
      const double d = static_cast<double>(zud::GetF80(p));
      std::memcpy(out, &d, sizeof d);
      break;
    }
    default: std::memcpy(out, p, static_cast<size_t>(size));
  }
  return true;
}

void TABSLocalCursor::SetFieldData(int32_t fieldNo, const void* data) {
  const int32_t t = TableFieldNo(fieldNo, 10004, 10006);
  const TABSFieldDef& f = *Table().FieldDefs()[t];
  char* record = Record();
  const auto* in = static_cast<const char*>(data);
  if (f.IsBlob()) return;  // BLOB fields are written through BLOB streams
  if (!in ||
      (IsStringStorage(f.StorageType()) && in[0] == 0 && (!IsWideStringStorage(f.StorageType()) || in[1] == 0))) {
    std::memset(record + f.MemoryOffset(), 0, static_cast<size_t>(f.MemoryValueSize()));
    SetFieldNull(record, t, true);
    return;
  }
  TABSVariant v;
  switch (f.StorageType()) {
    case bftShortint: v.SetAsShortint(static_cast<int8_t>(zud::GetI16(in))); break;
    case bftByte: v.SetAsByte(static_cast<uint8_t>(zud::GetI16(in))); break;
    case bftCardinal: v.SetAsCardinal(static_cast<uint32_t>(zud::GetI64(in))); break;
    case bftSingle:
    case bftExtended: {
      double d;
      std::memcpy(&d, in, sizeof d);
      if (f.StorageType() == bftSingle)
        v.SetAsSingle(static_cast<float>(d));
      else
        v.SetAsExtended(d);
      break;
    }
    case bftChar:
    case bftString: {
      // At most the field's characters are read: the caller's buffer may be
      // longer, never is the slot.
      const size_t n = strnlen(in, static_cast<size_t>(f.Size()));
      v.SetAsString(std::string(in, n));
      break;
    }
    case bftWideChar:
    case bftWideString: {
      std::u16string s;
      for (int32_t i = 0; i < f.Size(); ++i) {
        const char16_t c = static_cast<char16_t>(zud::GetU16(in + 2 * i));
        if (c == 0) break;
        s.push_back(c);
      }
      v.SetAsWideString(s);
      break;
    }
    default: v.SetBuffer(in, f.MemoryValueSize(), true, f.StorageType());
  }
  WriteSlot(f, record, v);
  SetFieldNull(record, t, false);
}

// ---- key records ------------------------------------------------------------------

std::vector<char> TABSLocalCursor::NewKeyRecord() const {
  std::vector<char> key(static_cast<size_t>(layout.memoryRecordSize) + 1, '\0');
  // Every field NULL until set.
  for (int i = 0; i < table_->FieldDefs().Count(); ++i) SetFieldNull(key.data(), i, true);
  return key;
}

void TABSLocalCursor::SetKeyField(std::vector<char>& key, const std::string& fieldName,
                                  const TABSVariant& value) const {
  const int32_t n = FindField(fieldName);
  if (n < 0) throw EABSException(10323, "Cannot find field %s", {fieldName});
  if (key.size() < static_cast<size_t>(layout.memoryRecordSize)) key = NewKeyRecord();
  const int32_t t = visible_[static_cast<size_t>(n)].tableFieldNo;
  const TABSFieldDef& f = *table_->FieldDefs()[t];
  if (f.IsBlob()) throw EABSException(10323, "Cannot find field %s", {fieldName});
  WriteSlot(f, key.data(), value);
  SetFieldNull(key.data(), t, value.IsNull());
}

bool TABSLocalCursor::KeyFromValue(const TABSIndexDef& index, const TABSVariant& value, std::vector<char>& key) const {
  if (index.ColumnCount() == 0) return false;
  const TABSFieldDefs& fields = table_->FieldDefs();
  const TABSMetaObjectDef* def = fields.FindByName(index.Column(0).fieldName);
  if (!def) return false;
  int32_t t = 0;
  while (t < fields.Count() && fields[t] != def) ++t;
  const TABSFieldDef& f = *fields[t];
  key = NewKeyRecord();
  if (value.IsNull()) return true;  // every field NULL: the lowest key
  try {
    TABSVariant converted;
    converted.Assign(value);
    converted.CastTo(f.StorageType());
    // A bound that moved in the conversion (2.5 into an INTEGER field)
    // would narrow the range past records the condition accepts.
    if (!(IsStringStorage(f.StorageType()) && IsStringStorage(value.StorageType()))) {
      TABSVariant back;
      back.Assign(converted);
      back.CastTo(value.StorageType());
      if (back.IsNull() || back.ValueSize() != value.ValueSize() ||
          std::memcmp(back.Buffer(), value.Buffer(), static_cast<size_t>(value.ValueSize())) != 0)
        return false;
    }
    WriteSlot(f, key.data(), converted);
    SetFieldNull(key.data(), t, converted.IsNull());
  } catch (const EABSException&) {
    return false;
  }
  return true;
}

// ---- projection -------------------------------------------------------------------

void TABSLocalCursor::SetProjection(const std::vector<std::string>& names, const std::vector<std::string>& aliases) {
  if (names.size() != aliases.size())
    throw EABSException(10321, "Error - different list lengths. L1 = %d, L2 = %d", {names.size(), aliases.size()});
  if (names.empty()) throw EABSException(10322, "No fields were specified while setting projection");
  const TABSFieldDefs& fields = Table().FieldDefs();
  std::vector<TABSVisibleField> chosen;
  for (size_t i = 0; i < names.size(); ++i) {
    const TABSMetaObjectDef* def = fields.FindByName(names[i]);
    if (!def) throw EABSException(10323, "Cannot find field %s", {names[i]});
    int32_t t = 0;
    while (t < fields.Count() && fields[t] != def) ++t;
    std::string name = aliases[i].empty() ? def->Name() : aliases[i];
    const auto taken = [&](const std::string& candidate) {
      return std::any_of(chosen.begin(), chosen.end(),
                         [&](const TABSVisibleField& v) { return UpperName(v.name) == UpperName(candidate); });
    };
    if (taken(name)) {
      int suffix = 1;
      while (taken(name + "_" + std::to_string(suffix))) ++suffix;
      name += "_" + std::to_string(suffix);
    }
    chosen.push_back({name, t});
  }
  visible_ = std::move(chosen);
  if (filter_) filter_->BindCursor(this);
  PlanScan();
}

void TABSLocalCursor::CopyFieldTo(int32_t fieldNo, TABSLocalCursor& target, int32_t targetFieldNo) {
  const int32_t t = TableFieldNo(fieldNo, 10501, 10502);
  const int32_t u = target.TableFieldNo(targetFieldNo, 10501, 10502);
  const TABSFieldDef& from = *Table().FieldDefs()[t];
  const TABSFieldDef& to = *target.Table().FieldDefs()[u];
  if (!from.IsBlob() && from.StorageType() == to.StorageType() && from.MemoryValueSize() == to.MemoryValueSize()) {
    std::memcpy(target.Record() + to.MemoryOffset(), Record() + from.MemoryOffset(),
                static_cast<size_t>(from.MemoryValueSize()));
    SetFieldNull(target.Record(), u, IsFieldNull(Record(), t));
    return;
  }
  TABSVariant value;
  ReadTableField(t, Record(), value);
  target.SetFieldValue(targetFieldNo, value);
}

void TABSLocalCursor::InitRecordBuffer(char* buffer) {
  if (!buffer) throw EABSException(10120, "Nil pointer occured");
  if (buffer == Record()) pendingBlobs_.clear();
  if (internal) {
    InitNewRecord(Table().FieldDefs(), buffer);
  } else {
    Table().InitRecordForInsert(buffer);
  }
}

// ---- the row source of expressions ------------------------------------------

std::vector<int32_t> TABSLocalCursor::FindFields(const std::string& name, const std::string& qualifier) const {
  std::vector<int32_t> found;
  if (!qualifier.empty() && UpperName(qualifier) != UpperName(tableName)) return found;
  const std::string wanted = UpperName(name);
  for (size_t i = 0; i < visible_.size(); ++i)
    if (UpperName(visible_[i].name) == wanted) found.push_back(static_cast<int32_t>(i));
  return found;
}

TABSExprColumn TABSLocalCursor::Column(int32_t column) const {
  const TABSFieldDef& f = VisibleField(column);
  TABSExprColumn c;
  c.Qualifier = tableName;
  c.Name = visible_[static_cast<size_t>(column)].name;
  c.DisplayName = c.Name;
  c.DataType = f.DataType();
  c.StorageType = f.StorageType();
  c.Size = f.Size();
  return c;
}

void TABSLocalCursor::ReadValue(int32_t column, TABSVariant& value) {
  ReadFromRecord(column, evalRecord_ ? evalRecord_ : Record(), value);
}

bool TABSLocalCursor::ReadFromRecord(int32_t column, const char* record, TABSVariant& value) {
  if (!record || !table_ || column < 0 || column >= FieldCount())
    throw EABSException(30196, "Dataset and AO not assigned");
  ReadTableField(visible_[static_cast<size_t>(column)].tableFieldNo, record, value);
  return true;
}

#include "core/ZUDIndexDefs.h"

#include "core/ZUDExcept.h"

using namespace zud::defio;

namespace {
// Native error codes of the stream sites of an index definition.
constexpr int32_t kWriteKind = 10164, kWriteUnique = 10165, kWritePrimary = 10168, kWriteColumnCount = 10170,
                  kWriteRoot = 10171, kWriteColumnNameLength = 10172, kWriteColumnNameText = 10175,
                  kWriteDescending = 10176, kWriteCaseInsensitive = 10177, kWriteMaxSize = 10179;
constexpr int32_t kReadKind = 10183, kReadUnique = 10184, kReadPrimary = 10185, kReadColumnCount = 10186,
                  kReadRoot = 10187, kReadColumnNameLength = 10188, kReadColumnNameText = 10189,
                  kReadDescending = 10192, kReadCaseInsensitive = 10193, kReadMaxSize = 10194;
constexpr int64_t kMinStoredColumnSize = 1 + 1 + 1 + 4;

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool ListContains(const std::vector<std::string>& list, const std::string& name) {
  for (const auto& item : list)
    if (SameName(item, name)) return true;
  return false;
}
}  // namespace

std::vector<std::string> SplitFieldList(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  auto flush = [&] {
    std::string t = Trim(current);
    if (!t.empty()) out.push_back(t);
    current.clear();
  };
  for (char c : text) {
    if (c == ';' || c == ',')
      flush();
    else
      current.push_back(c);
  }
  flush();
  return out;
}

// ---- TABSIndexDef -----------------------------------------------------------

void TABSIndexDef::RaiseNameTooLong(const std::string& name) const {
  throw EABSException(20046, "Invalid index name '%s'", {name});
}

void TABSIndexDef::SetColumnCount(int count) { columns_.resize(static_cast<size_t>(count < 0 ? 0 : count)); }

TABSIndexColumn& TABSIndexDef::Column(int index) {
  if (index < 0 || index >= ColumnCount())
    throw EABSException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", {index, ColumnCount()});
  return columns_[static_cast<size_t>(index)];
}

const TABSIndexColumn& TABSIndexDef::Column(int index) const { return const_cast<TABSIndexDef*>(this)->Column(index); }

void TABSIndexDef::FillColumns(const std::vector<std::string>& names, const std::vector<std::string>& directions,
                               const std::vector<std::string>& cases) {
  if (names.size() != directions.size())
    throw EABSException(10278, "Error - different list lengths. L1 = %d, L2 = %d", {names.size(), directions.size()});
  if (names.size() != cases.size())
    throw EABSException(10279, "Error - different list lengths. L1 = %d, L2 = %d", {names.size(), cases.size()});
  columns_.clear();
  for (size_t i = 0; i < names.size(); ++i) {
    TABSIndexColumn c;
    c.fieldName = names[i];
    c.descending = UpperName(directions[i]) == "DESC";
    c.caseInsensitive = UpperName(cases[i]) == "NO_CASE";
    c.maxIndexedSize = kDefaultMaxIndexedSize;
    columns_.push_back(c);
  }
}

void TABSIndexDef::Assign(const TABSMetaObjectDef& source) {
  const auto& d = dynamic_cast<const TABSIndexDef&>(source);
  // ZUDMetaObjectDef.h contract 6: copies first, then what cannot fail.
  std::vector<TABSIndexColumn> copied = d.columns_;
  TABSMetaObjectDef::Assign(d);
  kind = d.kind;
  unique = d.unique;
  primary = d.primary;
  rootPageNo = d.rootPageNo;
  temporary = d.temporary;
  ownerSessionID = d.ownerSessionID;
  changeStamp = d.changeStamp;
  reserved = d.reserved;
  columns_.swap(copied);
}

void TABSIndexDef::SaveToStream(TABSStream& stream) const {
  TABSMetaObjectDef::SaveToStream(stream);
  WriteU8(stream, kind, kWriteKind);
  WriteU8(stream, unique ? 1 : 0, kWriteUnique);
  WriteU8(stream, primary ? 1 : 0, kWritePrimary);
  WriteI32(stream, ColumnCount(), kWriteColumnCount);
  WriteI32(stream, rootPageNo, kWriteRoot);
  for (const auto& c : columns_) {
    WriteShortString(stream, c.fieldName, kWriteColumnNameLength, kWriteColumnNameText);
    WriteU8(stream, c.descending ? 1 : 0, kWriteDescending);
    WriteU8(stream, c.caseInsensitive ? 1 : 0, kWriteCaseInsensitive);
    WriteI32(stream, c.maxIndexedSize, kWriteMaxSize);
  }
}

void TABSIndexDef::LoadFromStream(TABSStream& stream) {
  TABSMetaObjectDef::LoadFromStream(stream);
  kind = ReadU8(stream, kReadKind);
  unique = ReadU8(stream, kReadUnique) != 0;
  primary = ReadU8(stream, kReadPrimary) != 0;
  const int32_t count = ReadI32(stream, kReadColumnCount);
  rootPageNo = ReadI32(stream, kReadRoot);
  if (count < 0) RaiseShortRead(stream, 0, 0, kReadColumnCount);
  RequireBytes(stream, static_cast<int64_t>(count) * kMinStoredColumnSize, kReadColumnCount);
  std::vector<TABSIndexColumn> columns;
  columns.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    TABSIndexColumn c;
    c.fieldName = ReadShortString(stream, kReadColumnNameLength, kReadColumnNameText);
    c.descending = ReadU8(stream, kReadDescending) != 0;
    c.caseInsensitive = ReadU8(stream, kReadCaseInsensitive) != 0;
    c.maxIndexedSize = ReadI32(stream, kReadMaxSize);
    if (c.maxIndexedSize < 0 || c.maxIndexedSize > kMaxDeclaredSize)
      RaiseShortRead(stream, c.maxIndexedSize < 0 ? 0 : c.maxIndexedSize, 0, kReadMaxSize);
    columns.push_back(std::move(c));
  }
  columns_ = std::move(columns);
  temporary = 0;
}

// ---- TABSIndexDefs ----------------------------------------------------------

int32_t TABSIndexDefs::FindIndexForColumns(const std::vector<std::string>& names,
                                           const std::vector<std::string>& directions,
                                           const std::vector<std::string>& cases, const TABSFieldDefs& fields,
                                           int32_t sessionID) const {
  if (names.size() != directions.size())
    throw EABSException(10276, "Error - different list lengths. L1 = %d, L2 = %d", {names.size(), directions.size()});
  if (names.size() != cases.size())
    throw EABSException(10277, "Error - different list lengths. L1 = %d, L2 = %d", {names.size(), cases.size()});
  for (int i = 0; i < Count(); ++i) {
    const TABSIndexDef& index = *(*this)[i];
    if (index.ColumnCount() < static_cast<int>(names.size())) continue;
    if (index.IsTemporary() && index.ownerSessionID != sessionID) continue;
    bool serves = true;
    for (size_t k = 0; k < names.size() && serves; ++k) {
      const TABSIndexColumn& column = index.Column(static_cast<int>(k));
      if (UpperName(column.fieldName) != UpperName(names[k])) {
        serves = false;
        break;
      }
      const std::string direction = UpperName(directions[k]);
      if ((direction == "ASC" && column.descending) || (direction == "DESC" && !column.descending)) serves = false;
      const std::string sensitivity = UpperName(cases[k]);
      const TABSFieldDef* field = fields.FieldByName(names[k]);
      const bool stringField = field && IsStringStorage(field->StorageType());
      if (sensitivity == "CASE" && stringField && column.caseInsensitive) serves = false;
      if (sensitivity == "NO_CASE" && !column.caseInsensitive) serves = false;
    }
    if (serves) return index.ObjectID();
  }
  return -1;
}

// ---- generic definitions ----------------------------------------------------

void IndexDefFromGeneric(const TIndexDef& generic, const TABSFieldDefs& fields, TABSIndexDef& result) {
  if (Trim(generic.Name).empty()) throw EABSException(20048, "Invalid index name '%s'", {generic.Name});
  const std::vector<std::string> names = SplitFieldList(generic.Fields);
  if (names.empty()) throw EABSException(20049, "Cannot find index field '%s'", {generic.Fields});
  for (const auto& n : names)
    if (!fields.FieldByName(n)) throw EABSException(20050, "Cannot find index field '%s'", {n});
  const std::vector<std::string> desc = SplitFieldList(generic.DescFields);
  const std::vector<std::string> caseIns = SplitFieldList(generic.CaseInsFields);
  result.SetName(generic.Name);
  result.kind = 0;
  result.unique = (generic.Options & ixUnique) != 0;
  result.primary = (generic.Options & ixPrimary) != 0;
  result.temporary = 0;
  result.SetColumnCount(static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    TABSIndexColumn& c = result.Column(static_cast<int>(i));
    c.fieldName = names[i];
    c.descending = desc.empty() ? (generic.Options & ixDescending) != 0 : ListContains(desc, names[i]);
    c.caseInsensitive = caseIns.empty() ? (generic.Options & ixCaseInsensitive) != 0 : ListContains(caseIns, names[i]);
    c.maxIndexedSize = kDefaultMaxIndexedSize;
    if (i < generic.MaxIndexedSizes.size() && !Trim(generic.MaxIndexedSizes[i]).empty()) {
      const std::string text = Trim(generic.MaxIndexedSizes[i]);
      size_t used = 0;
      int value = -1;
      try {
        value = std::stoi(text, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != text.size() || value < 0 || value > kMaxDeclaredSize)
        throw EABSException(30051, "Cannot cast from '%s' to '%s'", {"STRING", "INTEGER"});
      c.maxIndexedSize = value;
    }
  }
}

TIndexDef IndexDefToGeneric(const TABSIndexDef& def) {
  TIndexDef g;
  g.Name = def.Name();
  std::vector<std::string> all, desc, caseIns;
  for (int i = 0; i < def.ColumnCount(); ++i) {
    const TABSIndexColumn& c = def.Column(i);
    all.push_back(c.fieldName);
    if (c.descending) desc.push_back(c.fieldName);
    if (c.caseInsensitive) caseIns.push_back(c.fieldName);
    g.MaxIndexedSizes.push_back(std::to_string(c.maxIndexedSize));
  }
  auto join = [](const std::vector<std::string>& v) {
    std::string s;
    for (size_t i = 0; i < v.size(); ++i) s += (i ? ";" : "") + v[i];
    return s;
  };
  g.Fields = join(all);
  g.DescFields = join(desc);
  g.CaseInsFields = join(caseIns);
  if (def.primary) g.Options |= ixPrimary;
  if (def.unique) g.Options |= ixUnique;
  const std::string whole = UpperName(Trim(g.Fields));
  if (!all.empty() && UpperName(Trim(g.DescFields)) == whole) g.Options |= ixDescending;
  if (!all.empty() && UpperName(Trim(g.CaseInsFields)) == whole) g.Options |= ixCaseInsensitive;
  return g;
}

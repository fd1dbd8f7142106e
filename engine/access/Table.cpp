#include "access/Table.h"

#include <algorithm>
#include <sstream>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"

using tiv::dataset::FieldValue;
using tiv::dataset::Format;
using tiv::dataset::RaiseFor;

namespace {

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> SplitFields(const std::string& list) {
  std::vector<std::string> names;
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, ';'))
    if (!Trimmed(name).empty()) names.push_back(Trimmed(name));
  return names;
}

}  // namespace

TABSTable::TABSTable(std::string name) : TABSDataSet(std::move(name)) {}

TABSTable::~TABSTable() {
  try {
    Close();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: closing '%s': %s\n", Name().c_str(), x.what());
  }
}

void TABSTable::SetTableName(const std::string& name) {
  CheckInactive();
  tableName_ = name;
}

void TABSTable::SetIndexFieldNames(const std::string& names) {
  indexFieldNames_ = names;
  indexName_.clear();
  if (cursor_) SetIndexName({});
}

void TABSTable::SetIndexName(const std::string& name) {
  if (!name.empty()) indexFieldNames_.clear();
  indexName_ = name;
  if (!cursor_) return;
  CheckBrowseMode();
  cursor_->SetIndexName(WantedIndex(*cursor_));
  Resync();
}

std::string TABSTable::WantedIndex(TABSLocalCursor& cursor) const {
  const TABSIndexDefs& defs = cursor.GetIndexDefs();
  if (!indexName_.empty()) {
    if (!defs.IndexByName(indexName_)) RaiseFor(Name(), Format("Cannot find index %s", {indexName_}));
    return defs.IndexByName(indexName_)->Name();
  }
  if (indexFieldNames_.empty()) return {};
  const std::vector<std::string> wanted = SplitFields(indexFieldNames_);
  for (int i = 0; i < defs.Count(); ++i) {
    const TABSIndexDef& d = *defs[i];
    if (d.IsTemporary() || d.ColumnCount() != static_cast<int>(wanted.size())) continue;
    bool same = true;
    for (int c = 0; c < d.ColumnCount() && same; ++c)
      same = SameName(d.Column(c).fieldName, wanted[static_cast<size_t>(c)]);
    if (same) return d.Name();
  }
  RaiseFor(Name(), Format("Cannot find index %s", {indexFieldNames_}));
}

std::unique_ptr<TABSLocalCursor> TABSTable::OpenCursor(TABSDatabase& database) {
  if (Trimmed(tableName_).empty()) RaiseFor(Name(), "Missing TableName property");
  auto cursor = std::make_unique<TABSLocalCursor>(database.EngineSession());
  cursor->tableName = Trimmed(tableName_);
  cursor->exclusive = Exclusive;
  cursor->OpenTable();
  cursor->SetIndexName(WantedIndex(*cursor));
  return cursor;
}

std::unique_ptr<TABSLocalCursor> TABSTable::OperationCursor(TABSDatabase& database) {
  if (Trimmed(tableName_).empty()) RaiseFor(Name(), "Missing TableName property");
  auto cursor = std::make_unique<TABSLocalCursor>(database.EngineSession());
  cursor->tableName = Trimmed(tableName_);
  return cursor;
}

void TABSTable::CheckNoTransaction(TABSDatabase& database, const char* operation, int32_t code) {
  if (database.InTransaction())
    throw EABSException(code, "Cannot perform '%s' operation on a database in transaction", {std::string(operation)});
}

void TABSTable::CreateTable() {
  CheckInactive();
  TABSDatabase& database = Reference(kReasonTableOperation);
  try {
    CheckNoTransaction(database, "CreateTable", 20182);
    TABSFieldDefs fields;
    for (const TABSTableFieldDef& d : FieldDefs) {
      TABSFieldDef* f = fields.AddNew();
      f->SetName(d.name);
      f->SetDataType(d.dataType, d.size);
    }
    TABSIndexDefs indexes;
    for (const TABSTableIndexDef& d : IndexDefs) {
      TABSIndexDef* index = indexes.AddNew();
      index->SetName(d.name);
      index->unique = d.unique || d.primary;
      index->primary = d.primary;
      const std::vector<std::string> names = SplitFields(d.fields);
      index->FillColumns(names, std::vector<std::string>(names.size(), d.descending ? "DESC" : "ASC"),
                         std::vector<std::string>(names.size(), d.caseInsensitive ? "NO_CASE" : "CASE"));
    }
    std::unique_ptr<TABSLocalCursor> cursor = OperationCursor(database);
    // A table of the same name goes first (the in-memory database replaces
    // it by itself).
    if (!database.IsMemory() && database.EngineSession().TableExists(cursor->tableName)) cursor->DeleteTable();
    cursor->CreateTable(fields, indexes);
  } catch (...) {
    Unreference(kReasonTableOperation);
    throw;
  }
  Unreference(kReasonTableOperation);
}

void TABSTable::ClearTable() {
  CheckInactive();
  TABSDatabase& database = Reference(kReasonTableOperation);
  try {
    std::unique_ptr<TABSLocalCursor> cursor = OperationCursor(database);
    if (!database.EngineSession().TableExists(cursor->tableName))
      throw EABSException(20133, "Table '%s' not found", {cursor->tableName});
    // Attached exclusively: a cursor of this process or of another one on
    // the table refuses the open, and nothing is removed.
    cursor->exclusive = true;
    cursor->OpenTable();
    cursor->EmptyTable();
    cursor->CloseTable();
  } catch (...) {
    Unreference(kReasonTableOperation);
    throw;
  }
  Unreference(kReasonTableOperation);
}

void TABSTable::DeleteTable() {
  CheckInactive();
  TABSDatabase& database = Reference(kReasonTableOperation);
  try {
    CheckNoTransaction(database, "DeleteTable", 20183);
    OperationCursor(database)->DeleteTable();
  } catch (...) {
    Unreference(kReasonTableOperation);
    throw;
  }
  Unreference(kReasonTableOperation);
}

void TABSTable::RenameTable(const std::string& newName) {
  CheckInactive();
  TABSDatabase& database = Reference(kReasonTableOperation);
  try {
    CheckNoTransaction(database, "RenameTable", 20181);
    OperationCursor(database)->RenameTable(newName);
    tableName_ = newName;
  } catch (...) {
    Unreference(kReasonTableOperation);
    throw;
  }
  Unreference(kReasonTableOperation);
}

bool TABSTable::Exists() {
  if (Active()) return true;
  TABSDatabase& database = Reference(kReasonTableOperation);
  try {
    const bool exists = database.EngineSession().TableExists(Trimmed(tableName_));
    Unreference(kReasonTableOperation);
    return exists;
  } catch (...) {
    Unreference(kReasonTableOperation);
    throw;
  }
}

std::vector<char> TABSTable::KeyOf(const std::vector<FieldValue>& values) {
  TABSLocalCursor& c = Cursor();
  if (c.IndexName().empty()) RaiseFor(Name(), "No index currently active");
  const TABSIndexDef* index = c.GetIndexDefs().IndexByName(c.IndexName());
  if (!index || static_cast<int>(values.size()) > index->ColumnCount()) RaiseFor(Name(), "Field index out of range");
  std::vector<char> key = c.NewKeyRecord();
  for (size_t i = 0; i < values.size(); ++i)
    c.SetKeyField(key, index->Column(static_cast<int>(i)).fieldName, VariantOf(values[i]));
  return key;
}

bool TABSTable::SeekKey(const std::vector<FieldValue>& values) {
  CheckBrowseMode();
  TABSLocalCursor& c = Cursor();
  const std::vector<char> key = KeyOf(values);
  const TABSLocalCursor::Position saved = c.SavePosition();
  if (!c.GotoKey(key, static_cast<int32_t>(values.size()), true)) {
    c.RestorePosition(saved);
    return false;
  }
  PositionChanged();
  return true;
}

void TABSTable::SetRange(const std::vector<FieldValue>& start, const std::vector<FieldValue>& end) {
  CheckBrowseMode();
  const std::vector<char> low = KeyOf(start);
  const std::vector<char> high = KeyOf(end);
  Cursor().SetRange(low, static_cast<int32_t>(start.size()), false, high, static_cast<int32_t>(end.size()), false);
  First();
}

void TABSTable::CancelRange() {
  CheckBrowseMode();
  Cursor().ClearRange();
  First();
}

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

// The detail's link to its master (contract 7).
class TABSTable::MasterLink : public tiv::dataset::DataLink {
 public:
  explicit MasterLink(TABSTable& detail) : detail_(detail) {}
  void ActiveChanged() override { Follow(); }
  void DataSetChanged() override { Follow(); }
  void DataSetScrolled() override { Follow(); }
  void RecordChanged(tiv::dataset::Field* field) override {
    if (field) Follow();
  }

 private:
  void Follow() {
    if (!detail_.Active() || following_) return;
    following_ = true;
    try {
      detail_.CheckBrowseMode();
      detail_.ApplyMasterRange();
      detail_.First();
    } catch (...) {
      following_ = false;
      throw;
    }
    following_ = false;
  }

  TABSTable& detail_;
  bool following_ = false;
};

TABSTable::TABSTable(std::string name) : TABSDataSet(std::move(name)) {}

TABSTable::~TABSTable() {
  if (masterLink_) masterLink_->SetDataSource(nullptr);
  try {
    Close();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: closing '%s': %s\n", Name().c_str(), x.what());
  }
}

// ---- master and detail (contract 7) ----------------------------------------------

void TABSTable::SetMasterSource(tiv::dataset::DataSource* master) {
  for (tiv::dataset::DataSource* s = master; s && s->Data();) {
    if (s->Data() == this) RaiseFor(Name(), tiv::dataset::text::kCircularDataLink);
    auto* table = dynamic_cast<TABSTable*>(s->Data());
    s = table ? table->MasterSource() : nullptr;
  }
  if (!masterLink_) masterLink_ = std::make_unique<MasterLink>(*this);
  masterLink_->SetDataSource(master);
}

tiv::dataset::DataSource* TABSTable::MasterSource() const { return masterLink_ ? masterLink_->Source() : nullptr; }

void TABSTable::SetMasterFields(const std::string& fields) {
  masterFields_ = fields;
  if (Active()) {
    CheckBrowseMode();
    ApplyMasterRange();
    First();
  }
}

void TABSTable::ApplyMasterRange() {
  if (!cursor_) return;
  tiv::dataset::DataSet* master = MasterSource() ? MasterSource()->Data() : nullptr;
  const std::vector<std::string> names = SplitFields(masterFields_);
  if (!master || !master->Active() || names.empty()) {
    cursor_->ClearRange();
    return;
  }
  std::vector<FieldValue> values;
  for (const std::string& name : names) values.push_back(master->FieldByName(name).Value());
  const std::vector<char> key = KeyOf(values);
  const auto n = static_cast<int32_t>(values.size());
  cursor_->SetRange(key, n, false, key, n, false);
}

void TABSTable::InternalOpen() {
  TABSDataSet::InternalOpen();
  try {
    ApplyMasterRange();
  } catch (...) {
    InternalClose();
    throw;
  }
}

// ---- indexes and fields (contract 8) -----------------------------------------------

void TABSTable::ChangeStructure(const std::function<void(TABSLocalCursor&)>& change) {
  if (cursor_) {
    if (!Exclusive)
      throw EABSException(20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                          {Trimmed(tableName_)});
    CheckBrowseMode();
    change(*cursor_);
    return;
  }
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  std::unique_ptr<TABSLocalCursor> cursor = OperationCursor(database);
  cursor->exclusive = true;
  cursor->OpenTable();
  change(*cursor);
  cursor->CloseTable();
}

void TABSTable::AddIndex(const TABSTableIndexDef& def) {
  if (Trimmed(def.name).empty()) RaiseFor(Name(), Format("Invalid index name '%s'", {def.name}));
  const std::vector<std::string> names = SplitFields(def.fields);
  ChangeStructure([&](TABSLocalCursor& c) {
    for (const std::string& field : names)
      if (c.FindField(field) < 0) RaiseFor(Name(), Format("Cannot find index field '%s'", {field}));
    TABSIndexDef index;
    index.SetName(Trimmed(def.name));
    index.unique = def.unique || def.primary;
    index.primary = def.primary;
    index.FillColumns(names, std::vector<std::string>(names.size(), def.descending ? "DESC" : "ASC"),
                      std::vector<std::string>(names.size(), def.caseInsensitive ? "NO_CASE" : "CASE"));
    c.AddIndex(index);
  });
}

void TABSTable::DeleteIndex(const std::string& name) {
  ChangeStructure([&](TABSLocalCursor& c) {
    if (!c.GetIndexDefs().IndexByName(name)) RaiseFor(Name(), Format("Invalid index name '%s'", {name}));
    c.DeleteIndex(name);
  });
  if (cursor_ && SameName(indexName_, name)) {
    indexName_.clear();
    Resync();
  }
}

void TABSTable::RenameField(const std::string& oldName, const std::string& newName) {
  CheckInactive();
  ChangeStructure([&](TABSLocalCursor& c) { c.RenameField(oldName, newName); });
}

// ---- locate (contract 9) ----------------------------------------------------------

bool TABSTable::Locate(const std::string& fields, const std::vector<FieldValue>& values, bool caseInsensitive,
                       bool partial) {
  if (!Active()) RaiseFor(Name(), "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  TABSLocalCursor& c = Cursor();
  std::vector<TABSVariant> variants;
  for (const FieldValue& v : values) variants.push_back(VariantOf(v));
  const TABSLocalCursor::Position saved = c.SavePosition();
  if (!c.Locate(fields, variants, caseInsensitive, partial)) {
    c.RestorePosition(saved);
    return false;
  }
  PositionChanged();
  return true;
}

std::vector<FieldValue> TABSTable::Lookup(const std::string& keyFields, const std::vector<FieldValue>& keyValues,
                                          const std::string& resultFields) {
  if (!Active()) RaiseFor(Name(), "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  TABSLocalCursor& c = Cursor();
  std::vector<TABSVariant> variants;
  for (const FieldValue& v : keyValues) variants.push_back(VariantOf(v));
  const TABSLocalCursor::Position saved = c.SavePosition();
  std::vector<FieldValue> result;
  if (c.Locate(keyFields, variants, false, false)) {
    for (const std::string& name : SplitFields(resultFields)) {
      const int32_t field = c.FindField(name);
      if (field < 0) {
        c.RestorePosition(saved);
        RaiseFor(Name(), Format(tiv::dataset::text::kFieldNotFound, {name}));
      }
      TABSVariant v;
      c.GetFieldValue(field, v);
      result.push_back(FieldValueOf(v));
    }
  }
  // The framework's current record is the cursor's again.
  c.RestorePosition(saved);
  if (!saved.beforeFirst && !saved.afterLast) c.GetRecord(grmCurrent);
  return result;
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

void TABSTable::EngineDefs(const std::vector<TABSTableFieldDef>& fieldDefs,
                           const std::vector<TABSTableIndexDef>& indexDefs, TABSFieldDefs& fields,
                           TABSIndexDefs& indexes) {
  for (const TABSTableFieldDef& d : fieldDefs) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(d.name);
    f->SetDataType(d.dataType, d.size);
  }
  for (const TABSTableIndexDef& d : indexDefs) {
    TABSIndexDef* index = indexes.AddNew();
    index->SetName(d.name);
    index->unique = d.unique || d.primary;
    index->primary = d.primary;
    const std::vector<std::string> names = SplitFields(d.fields);
    index->FillColumns(names, std::vector<std::string>(names.size(), d.descending ? "DESC" : "ASC"),
                       std::vector<std::string>(names.size(), d.caseInsensitive ? "NO_CASE" : "CASE"));
  }
}

void TABSTable::CreateTable() {
  CheckInactive();
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  CheckNoTransaction(database, "CreateTable", 20182);
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  EngineDefs(FieldDefs, IndexDefs, fields, indexes);
  std::unique_ptr<TABSLocalCursor> cursor = OperationCursor(database);
  // A table of the same name goes first (the in-memory database replaces
  // it by itself).
  if (!database.IsMemory() && database.EngineSession().TableExists(cursor->tableName)) cursor->DeleteTable();
  cursor->CreateTable(fields, indexes);
}

void TABSTable::ClearTable() {
  CheckInactive();
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  std::unique_ptr<TABSLocalCursor> cursor = OperationCursor(database);
  if (!database.EngineSession().TableExists(cursor->tableName))
    throw EABSException(20133, "Table '%s' not found", {cursor->tableName});
  // Attached exclusively: a cursor of this process or of another one on
  // the table refuses the open, and nothing is removed.
  cursor->exclusive = true;
  cursor->OpenTable();
  cursor->EmptyTable();
  cursor->CloseTable();
}

void TABSTable::DeleteTable() {
  CheckInactive();
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  CheckNoTransaction(database, "DeleteTable", 20183);
  OperationCursor(database)->DeleteTable();
}

void TABSTable::RenameTable(const std::string& newName) {
  CheckInactive();
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  CheckNoTransaction(database, "RenameTable", 20181);
  OperationCursor(database)->RenameTable(newName);
  tableName_ = newName;
}

bool TABSTable::Exists() {
  if (Active()) return true;
  const OperationReference reference(*this);
  return reference.database.EngineSession().TableExists(Trimmed(tableName_));
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

// TABSTable's operations that copy records: into another database
// (CopyTable), into new definitions (RestructureTable) and from another
// dataset (ImportTable, BatchMove); Table.h contracts 6, 10, 11 and 14.
#include <algorithm>

#include "access/Table.h"
#include "core/ZUDMetaObjectDef.h"

using tiv::dataset::Format;
using tiv::dataset::RaiseFor;

bool TABSTable::Report(const ProgressEvent& progress, TABSWait* wait, int percent) {
  bool stop = false;
  if (progress) progress(*this, percent, stop);
  if (wait) {
    wait->Progress(percent);
    stop = stop || wait->AbortRequested();
  }
  return stop;
}

bool TABSTable::CopyRecords(TABSLocalCursor& from, TABSLocalCursor& to, const std::vector<int32_t>& map,
                            const ProgressEvent& progress, const char* waitMessage,
                            std::vector<std::string>& problems) {
  std::unique_ptr<TABSWait> wait;
  if (!progress) wait = AccessDialogs().BeginWait(waitMessage);
  const int64_t total = std::max<int64_t>(from.GetRecordCount(), 1);
  int64_t recordNo = 0;
  from.SetToBegin();
  while (from.GetRecord(grmNext) == grrFound) {
    ++recordNo;
    to.InitRecordBuffer();
    for (size_t f = 0; f < map.size(); ++f) {
      if (map[f] < 0) continue;
      try {
        from.CopyFieldTo(map[f], to, static_cast<int32_t>(f));
      } catch (const std::exception& e) {
        to.SetFieldValue(static_cast<int32_t>(f), TABSVariant());
        problems.push_back(
            Format("Error copying table \"%s\". Record #%d, field '%s' was copied with Null value due to error: %s",
                   {TableName(), std::to_string(recordNo), to.VisibleFieldName(static_cast<int32_t>(f)), e.what()}));
      }
    }
    if (to.Post(true) != 0)
      problems.push_back(Format("Error copying table \"%s\". Record #%d was not imported due to error: %s",
                                {TableName(), std::to_string(recordNo), to.LastErrorText()}));
    if (Report(progress, wait.get(), static_cast<int>(std::min<int64_t>(recordNo * 100 / total, 100)))) return false;
  }
  return true;
}

namespace {

// Field i of `to` from the field of `from` with the same name.
std::vector<int32_t> MapByName(TABSLocalCursor& from, TABSLocalCursor& to) {
  std::vector<int32_t> map;
  for (int32_t f = 0; f < to.FieldCount(); ++f) map.push_back(from.FindField(to.VisibleFieldName(f)));
  return map;
}

}  // namespace

std::vector<std::string> TABSTable::CopyTable(const std::string& destinationDatabase, const std::string& newTableName) {
  const OperationReference reference(*this);
  TABSDatabase& source = reference.database;
  std::vector<std::string> problems;
  TABSDatabase* target = nullptr;
  try {
    TABSSession& session = TABSSession::Named(SessionName());
    if (SameName(destinationDatabase, DatabaseName()) && SameName(newTableName, TableName()))
      RaiseFor(Name(), Format("Cannot copy table '%s.%s' into it self", {destinationDatabase, newTableName}));
    target = &session.OpenDatabase(destinationDatabase);
    if (target->EngineSession().TableExists(newTableName))
      RaiseFor(Name(), Format("Table '%s.%s' already exists", {destinationDatabase, newTableName}));

    TABSLocalCursor from(source.EngineSession());
    from.tableName = TableName();
    from.OpenTable();
    TABSIndexDefs indexes;
    const TABSIndexDefs& all = from.Table().IndexManager().IndexDefs();
    for (int i = 0; i < all.Count(); ++i)
      if (!all[i]->IsTemporary()) indexes.AddNew()->Assign(*all[i]);
    TABSLocalCursor to(target->EngineSession());
    to.tableName = newTableName;
    try {
      to.CreateTable(from.Table().FieldDefs(), indexes);
      to.OpenTable();
    } catch (const std::exception& e) {
      RaiseFor(Name(), Format("Create table '%s.%s' error: '%s'", {destinationDatabase, newTableName, e.what()}));
    }
    if (BeforeCopy) BeforeCopy(*this);
    if (!CopyRecords(from, to, MapByName(from, to), OnCopyProgress, "Copy Table...", problems)) {
      // A copy stopped half-way is not left behind as if it were whole.
      to.CloseTable();
      to.DeleteTable();
      RaiseFor(Name(), "Terminated by User.");
    }
    if (AfterCopy) AfterCopy(*this);
  } catch (...) {
    if (target) target->Session().CloseDatabase(*target);
    throw;
  }
  target->Session().CloseDatabase(*target);
  return problems;
}

std::vector<std::string> TABSTable::RestructureTable(const std::vector<TABSTableFieldDef>& fieldDefs,
                                                     const std::vector<TABSTableIndexDef>& indexDefs) {
  CheckInactive();
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  std::vector<std::string> problems;
  const std::string name = TableName(), old = "OLD_" + TableName();
  TABSLocalCursor renamer(database.EngineSession());
  renamer.tableName = name;
  renamer.RenameTable(old);
  // From here the table's records live under the old name; every way
  // out gives them their name back or keeps them in the new table.
  TABSLocalCursor to(database.EngineSession());
  to.tableName = name;
  try {
    TABSFieldDefs fields;
    TABSIndexDefs indexes;
    EngineDefs(fieldDefs, indexDefs, fields, indexes);
    to.CreateTable(fields, indexes);
    to.OpenTable();
  } catch (const std::exception& e) {
    renamer.RenameTable(name);
    RaiseFor(Name(), Format("Error restructuring table. Cannot create table due to error: %s", {e.what()}));
  }
  TABSLocalCursor from(database.EngineSession());
  from.tableName = old;
  from.OpenTable();
  if (BeforeRestructure) BeforeRestructure(*this);
  bool done = false;
  try {
    done = CopyRecords(from, to, MapByName(from, to), OnRestructureProgress, "Restructure Table...", problems);
  } catch (...) {
    done = false;
  }
  from.CloseTable();
  to.CloseTable();
  if (!done) {
    to.DeleteTable();
    renamer.RenameTable(name);
    RaiseFor(Name(), "Terminated by User.");
  }
  try {
    from.DeleteTable();
  } catch (const std::exception& e) {
    RaiseFor(Name(), Format("Error restructuring table. Cannot delete table due to error: %s", {e.what()}));
  }
  FieldDefs = fieldDefs;
  IndexDefs = indexDefs;
  if (AfterRestructure) AfterRestructure(*this);
  return problems;
}

std::vector<std::string> TABSTable::ImportTable(tiv::dataset::DataSet& source) {
  CheckInactive();
  if (!source.Active()) source.Open();
  std::vector<TABSTableFieldDef> fields;
  for (int i = 0; i < source.FieldCount(); ++i) {
    const tiv::dataset::Field& f = source.FieldAt(i);
    fields.push_back({f.FieldName(), DataTypeOf(f.DataType()), f.Size(), f.Required()});
  }
  std::vector<TABSTableIndexDef> indexes;
  std::vector<std::string> problems;
  if (auto* table = dynamic_cast<TABSTable*>(&source)) {
    for (const TABSTableIndexDef& d : table->IndexDefs) indexes.push_back(d);
    if (indexes.empty() && table->cursor_) {
      const TABSIndexDefs& defs = table->cursor_->GetIndexDefs();
      for (int i = 0; i < defs.Count(); ++i) {
        const TABSIndexDef& d = *defs[i];
        if (d.IsTemporary()) {
          problems.push_back(
              Format("Cannot import index '%s'. Index type is not supported, index skipped", {d.Name()}));
          continue;
        }
        std::string names;
        for (int c = 0; c < d.ColumnCount(); ++c) names += (c ? ";" : "") + d.Column(c).fieldName;
        indexes.push_back({d.Name(), names, d.unique, d.primary, d.ColumnCount() > 0 && d.Column(0).descending,
                           d.ColumnCount() > 0 && d.Column(0).caseInsensitive});
      }
    }
  }
  FieldDefs = fields;
  IndexDefs = indexes;
  CreateTable();
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  TABSLocalCursor to(database.EngineSession());
  to.tableName = TableName();
  to.OpenTable();
  if (BeforeImport) BeforeImport(*this);
  const bool stopped = !AppendFrom(source, to, OnImportProgress, "Import Table...", problems);
  if (stopped) {
    to.CloseTable();
    to.DeleteTable();
    RaiseFor(Name(), "Terminated by User.");
  }
  if (AfterImport) AfterImport(*this);
  return problems;
}

bool TABSTable::AppendFrom(tiv::dataset::DataSet& source, TABSLocalCursor& to, const ProgressEvent& progress,
                           const char* waitMessage, std::vector<std::string>& problems) {
  std::unique_ptr<TABSWait> wait;
  if (!progress) wait = AccessDialogs().BeginWait(waitMessage);
  // Field i of the source into the table's field of the same name.
  std::vector<int32_t> map;
  for (int i = 0; i < source.FieldCount(); ++i) map.push_back(to.FindField(source.FieldAt(i).FieldName()));
  const int64_t total = std::max<int64_t>(source.RecordCount(), 1);
  int64_t recordNo = 0;
  source.DisableControls();
  const std::string bookmark = source.GetBookmark();
  bool stopped = false;
  try {
    for (source.First(); !source.Eof() && !stopped; source.Next()) {
      ++recordNo;
      to.InitRecordBuffer();
      for (int i = 0; i < source.FieldCount(); ++i) {
        if (map[static_cast<size_t>(i)] < 0) continue;
        try {
          to.SetFieldValue(map[static_cast<size_t>(i)], VariantOf(source.FieldAt(i).Value()));
        } catch (const std::exception& e) {
          to.SetFieldValue(map[static_cast<size_t>(i)], TABSVariant());
          problems.push_back(
              Format("Error copying table \"%s\". Record #%d, field '%s' was copied with Null value due to error: %s",
                     {TableName(), std::to_string(recordNo), source.FieldAt(i).FieldName(), e.what()}));
        }
      }
      if (to.Post(true) != 0)
        problems.push_back(Format("Error copying table \"%s\". Record #%d was not imported due to error: %s",
                                  {TableName(), std::to_string(recordNo), to.LastErrorText()}));
      stopped = Report(progress, wait.get(), static_cast<int>(std::min<int64_t>(recordNo * 100 / total, 100)));
    }
  } catch (...) {
    source.EnableControls();
    throw;
  }
  if (!bookmark.empty()) source.GotoBookmark(bookmark);
  source.EnableControls();
  return !stopped;
}

std::vector<std::string> TABSTable::BatchMove(tiv::dataset::DataSet& source) {
  CheckInactive();
  if (!source.Active()) source.Open();
  std::vector<std::string> problems;
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  TABSLocalCursor to(database.EngineSession());
  to.tableName = TableName();
  to.OpenTable();
  if (BeforeBatchMove) BeforeBatchMove(*this);
  // Records appended before a stop stay: the table existed before, and
  // what it received is reported as far as it went.
  if (!AppendFrom(source, to, OnBatchMoveProgress, "Batch Move...", problems)) RaiseFor(Name(), "Terminated by User.");
  if (AfterBatchMove) AfterBatchMove(*this);
  return problems;
}

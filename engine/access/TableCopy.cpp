// TABSTable's copy of a table into another database (Table.h contract 6).
#include <algorithm>

#include "access/AccessDialogs.h"
#include "access/Table.h"
#include "core/ZUDMetaObjectDef.h"

using tiv::dataset::Format;
using tiv::dataset::RaiseFor;

std::vector<std::string> TABSTable::CopyTable(const std::string& destinationDatabase, const std::string& newTableName) {
  TABSDatabase& source = Reference(kReasonTableOperation);
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

    std::unique_ptr<TABSWait> wait;
    if (BeforeCopy) BeforeCopy(*this);
    if (!OnCopyProgress) wait = AccessDialogs().BeginWait("Copy Table...");
    const int64_t total = std::max<int64_t>(from.GetRecordCount(), 1);
    int64_t recordNo = 0;
    bool stop = false;
    from.SetToBegin();
    while (!stop && from.GetRecord(grmNext) == grrFound) {
      ++recordNo;
      to.InitRecordBuffer();
      for (int32_t f = 0; f < from.FieldCount(); ++f) from.CopyFieldTo(f, to, f);
      if (to.Post(true) != 0)
        problems.push_back(Format("Error copying table \"%s\". Record #%d was not imported due to error: %s",
                                  {TableName(), std::to_string(recordNo), to.LastErrorText()}));
      const int percent = static_cast<int>(std::min<int64_t>(recordNo * 100 / total, 100));
      if (OnCopyProgress) OnCopyProgress(*this, percent, stop);
      if (wait) {
        wait->Progress(percent);
        stop = stop || wait->AbortRequested();
      }
    }
    wait.reset();
    if (stop) {
      // A copy stopped half-way is not left behind as if it were whole.
      to.CloseTable();
      to.DeleteTable();
      RaiseFor(Name(), "Terminated by User.");
    }
    if (AfterCopy) AfterCopy(*this);
  } catch (...) {
    if (target) target->Session().CloseDatabase(*target);
    Unreference(kReasonTableOperation);
    throw;
  }
  target->Session().CloseDatabase(*target);
  Unreference(kReasonTableOperation);
  return problems;
}

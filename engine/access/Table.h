// Table: TABSTable, the component through which the program reads and
// writes one table: it opens an engine cursor on the table, presents the
// cursor's records as a dataset, and offers the table-level operations
// (create, empty, delete, rename, exists, key search, ranges).
//
// Contract
//  1. Opening: DatabaseName and TableName must be set ("DatabaseName
//     property is blank", "Missing TableName property"); the cursor opens
//     the table with Exclusive; the current index is IndexName, or the
//     index whose fields are IndexFieldNames ("Cannot find index %s");
//     the fields come from the table. A failed open leaves the dataset
//     closed and the database released.
//  2. Table-level operations need the dataset closed (kDataSetOpen) and
//     reference the database only while they run. CreateTable builds the
//     table from FieldDefs and IndexDefs and replaces a table of the same
//     name; inside a transaction it, DeleteTable and RenameTable are
//     refused ("Cannot perform '%s' operation on a database in
//     transaction", 20182, 20183, 20181). ClearTable removes every record
//     ("Table '%s' not found", 20133); a disk table another cursor of this
//     process has open is refused with 20242, one another process has open
//     with 20208, and nothing is removed.
//  3. Exists asks the engine; an error it meets (a lock it cannot take)
//     is raised, never answered as "no".
//  4. SeekKey(values): the first record, in the current index's order,
//     whose leading key fields equal the values: true and current; false
//     and nothing moved when there is none. "No index currently active"
//     without an index; "Field index out of range" with more values than
//     index fields.
//  5. SetRange(start, end) limits the dataset to the records whose leading
//     key fields lie between the two (inclusive) and makes the first
//     current; CancelRange lifts it.
//  6. CopyTable(destination database name, new table name) copies the
//     table's definitions and records into a new table of another database
//     (or of this one under another name): "Cannot copy table '%s.%s' into
//     it self", "Table '%s.%s' already exists", "Create table '%s.%s'
//     error: '%s'". A record the new table refuses is skipped and reported
//     ("Error copying table \"%s\". Record #%d was not imported due to
//     error: %s"); the reports are returned. Progress goes to
//     OnCopyProgress, which may ask to stop, or else to the wait dialog
//     "Copy Table..." and its Abort; a stopped copy removes the new table
//     and raises "Terminated by User.".
//  7. Master and detail: with MasterSource and MasterFields (";"-separated
//     fields of the master), the open detail shows only the records whose
//     current-index leading fields equal the master's fields in its current
//     record, and follows the master as it moves or changes. A chain of
//     masters that comes back to the table is refused ("Circular datalinks
//     are not allowed").
//  8. Indexes: AddIndex and DeleteIndex work on a closed table (the table
//     attached exclusively for the change: "Cannot access table '%s' in
//     exclusive mode. Table is open by another user" while another process
//     has it) or on one opened Exclusive. "Invalid index name '%s'" for an
//     empty name; "Cannot find index field '%s'" for a field the table
//     lacks. RenameField likewise.
//  9. Locate finds the first record, in the current order, whose fields
//     (";"-separated) equal the values and makes it current (false and
//     nothing moved when none); Lookup answers the result fields of that
//     record without moving. "Cannot perform LOCATE on a closed dataset".
//  10. RestructureTable(fields, indexes) gives the closed table new
//     definitions: the table is renamed "OLD_<name>", the new one created
//     ("Error restructuring table. Cannot create table due to error: %s",
//     the old one then renamed back), every record copied field by field
//     of the same name (a value the new field cannot take is stored NULL
//     and reported: "Error copying table \"%s\". Record #%d, field '%s' was
//     copied with Null value due to error: %s"), and only then the old
//     table dropped ("Error restructuring table. Cannot delete table due to
//     error: %s"). Stopped by the user, the new table goes and the old one
//     takes its name back. Progress: OnRestructureProgress or the wait
//     dialog "Restructure Table...".
//  11. ImportTable(source) makes the closed table anew from any open
//     dataset: its fields, the indexes of a source table, every record
//     (reports as for a copy). Progress: OnImportProgress or the wait
//     dialog "Import Table...".
//  12. ExportToSql writes the table as statements of our SQL: per
//     ExportToSqlOptions a DROP TABLE, a CREATE TABLE with every field
//     (type names as the SQL knows them, sizes of strings and byte
//     strings), a CREATE INDEX per index, then an INSERT per record with
//     its values as literals (strings in single quotes, a quote doubled;
//     numbers with a point; DATE 'YYYY-MM-DD', TIME 'HH:MM:SS', TIMESTAMP
//     '...'; NULL); names that are not plain words in brackets. Progress:
//     OnExportProgress or the wait dialog "Export Table..."; stopped, it
//     raises "Terminated by User.".
//  13. FindFirst, FindNext, FindPrior and FindLast move to the first, next,
//     prior or last record that passes Filter (whether or not Filtered is
//     set): true and current, else false and nothing moved.
//  14. BatchMove(source) appends every record of any open dataset to the
//     existing closed table, fields by name (reports as for a copy).
//     Progress: OnBatchMoveProgress or the wait dialog "Batch Move..."; a
//     stop keeps what was appended and raises "Terminated by User.".
//
// Thread use: the GUI thread.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "access/AccessDialogs.h"
#include "access/DataSet.h"

struct TABSTableFieldDef {
  std::string name;
  TABSDataType dataType = aftUnknown;
  int32_t size = 0;
  bool required = false;
};

struct TABSTableIndexDef {
  std::string name;
  std::string fields;  // ";"-separated
  bool unique = false;
  bool primary = false;
  bool descending = false;
  bool caseInsensitive = false;
};

struct TABSExportToSqlOptions {
  bool addDropTable = false;
  bool addCreateTable = true;
  bool addData = true;
};

class TABSTable : public TABSDataSet {
 public:
  explicit TABSTable(std::string name = {});
  ~TABSTable() override;

  const std::string& TableName() const { return tableName_; }
  void SetTableName(const std::string& name);
  bool Exclusive = false;
  const std::string& IndexName() const { return indexName_; }
  // On an open table the order changes at once, keeping the current record.
  void SetIndexName(const std::string& name);
  const std::string& IndexFieldNames() const { return indexFieldNames_; }
  void SetIndexFieldNames(const std::string& names);
  std::vector<TABSTableFieldDef> FieldDefs;
  std::vector<TABSTableIndexDef> IndexDefs;

  // Contract 2.
  void CreateTable();
  void ClearTable();
  void EmptyTable() { ClearTable(); }
  void DeleteTable();
  void RenameTable(const std::string& newName);
  // Contract 3.
  bool Exists();
  // Contract 4.
  bool SeekKey(const std::vector<tiv::dataset::FieldValue>& values);
  // Contract 5.
  void SetRange(const std::vector<tiv::dataset::FieldValue>& start, const std::vector<tiv::dataset::FieldValue>& end);
  void CancelRange();
  // Contract 7.
  void SetMasterSource(tiv::dataset::DataSource* master);
  tiv::dataset::DataSource* MasterSource() const;
  void SetMasterFields(const std::string& fields);
  const std::string& MasterFields() const { return masterFields_; }
  // Contract 8.
  void AddIndex(const TABSTableIndexDef& def);
  void DeleteIndex(const std::string& name);
  void RenameField(const std::string& oldName, const std::string& newName);
  // Contract 9.
  bool Locate(const std::string& fields, const std::vector<tiv::dataset::FieldValue>& values,
              bool caseInsensitive = false, bool partial = false);
  std::vector<tiv::dataset::FieldValue> Lookup(const std::string& keyFields,
                                               const std::vector<tiv::dataset::FieldValue>& keyValues,
                                               const std::string& resultFields);
  // Lookup fields of other datasets read this table through the engine.
  std::vector<tiv::dataset::FieldValue> LookupValues(const std::string& keyFields,
                                                     const std::vector<tiv::dataset::FieldValue>& values,
                                                     const std::string& resultFields) override {
    return Lookup(keyFields, values, resultFields);
  }
  // Whether the definitions are kept with the window that owns the table;
  // a design-time setting that changes nothing at run time.
  bool StoreDefs = false;
  // Contract 6.
  std::vector<std::string> CopyTable(const std::string& destinationDatabase, const std::string& newTableName);
  using ProgressEvent = std::function<void(TABSTable&, int percent, bool& stop)>;
  std::function<void(TABSTable&)> BeforeCopy, AfterCopy;
  ProgressEvent OnCopyProgress;
  // Contract 10.
  std::vector<std::string> RestructureTable(const std::vector<TABSTableFieldDef>& fields,
                                            const std::vector<TABSTableIndexDef>& indexes);
  std::function<void(TABSTable&)> BeforeRestructure, AfterRestructure;
  ProgressEvent OnRestructureProgress;
  // Contract 11.
  std::vector<std::string> ImportTable(tiv::dataset::DataSet& source);
  std::function<void(TABSTable&)> BeforeImport, AfterImport;
  ProgressEvent OnImportProgress;
  // Contract 14.
  std::vector<std::string> BatchMove(tiv::dataset::DataSet& source);
  std::function<void(TABSTable&)> BeforeBatchMove, AfterBatchMove;
  ProgressEvent OnBatchMoveProgress;
  // Contract 12.
  TABSExportToSqlOptions ExportToSqlOptions;
  void ExportToSql(std::ostream& out);
  std::function<void(TABSTable&)> BeforeExport, AfterExport;
  ProgressEvent OnExportProgress;
  // Contract 13.
  bool FindFirst();
  bool FindNext();
  bool FindPrior();
  bool FindLast();

 protected:
  std::unique_ptr<TABSLocalCursor> OpenCursor(TABSDatabase& database) override;
  void InternalOpen() override;

 private:
  // A cursor on the table for an operation of contract 2, not opened.
  std::unique_ptr<TABSLocalCursor> OperationCursor(TABSDatabase& database);
  void CheckNoTransaction(TABSDatabase& database, const char* operation, int32_t code);
  // The index of IndexName or IndexFieldNames, "" for none.
  std::string WantedIndex(TABSLocalCursor& cursor) const;
  std::vector<char> KeyOf(const std::vector<tiv::dataset::FieldValue>& values);

  class MasterLink;
  // The copy loop of CopyTable and RestructureTable: every record of `from`
  // into `to`, field i of `to` from field map[i] of `from` (-1: none);
  // false when the user stopped it.
  bool CopyRecords(TABSLocalCursor& from, TABSLocalCursor& to, const std::vector<int32_t>& map,
                   const ProgressEvent& progress, const char* waitMessage, std::vector<std::string>& problems);
  // The engine's definitions of component definitions.
  static void EngineDefs(const std::vector<TABSTableFieldDef>& fieldDefs,
                         const std::vector<TABSTableIndexDef>& indexDefs, TABSFieldDefs& fields,
                         TABSIndexDefs& indexes);
  // The record loop of ImportTable and BatchMove: every record of `source`
  // appended to `to`, fields by name; false when the user stopped it.
  bool AppendFrom(tiv::dataset::DataSet& source, TABSLocalCursor& to, const ProgressEvent& progress,
                  const char* waitMessage, std::vector<std::string>& problems);
  // Contract 13: from the start or the end, or a step from the current
  // record, under the Filter text.
  bool Find(bool fromEnd, bool step, TABSGetRecordMode mode);
  // Progress to the event, else to the wait dialog; true to stop.
  bool Report(const ProgressEvent& progress, TABSWait* wait, int percent);
  // The master's values of MasterFields, as a key of the current index.
  void ApplyMasterRange();
  // Runs `change` on an exclusive cursor of the closed table, or on the
  // dataset's own one when it is open Exclusive.
  void ChangeStructure(const std::function<void(TABSLocalCursor&)>& change);

  std::string tableName_, indexName_, indexFieldNames_, masterFields_;
  std::unique_ptr<MasterLink> masterLink_;
};

// DataSet: the generic dataset, the record-at-a-time view of a table or a
// query that the program and its data-aware controls work with. This class
// holds everything that does not depend on where the records come from:
// states, the current record and the edit buffer, fields, navigation,
// editing, bookmarks, events and the data sources that controls follow. A
// concrete dataset (the data-access components' TABSDataSet) supplies the
// records through the protected Internal* operations.
//
// Contract
//  1. States: Inactive (closed); Browse (open, reading); Edit and Insert
//     (a record is being changed in the edit buffer); SetKey (a key is
//     being written for a search). Table-level operations of a concrete
//     dataset require Inactive (CheckInactive: kDataSetOpen).
//  2. Navigation: First and Last make the first (last) record current, or
//     leave the dataset empty (Bof and Eof both true). Next and Prior move
//     one record; stepping past an end sets Eof (Bof) and keeps the current
//     record. After First Bof is true; after Last Eof is true. A pending
//     insert or edit is posted before any move (CheckBrowseMode).
//  3. Editing: Insert and Append start a new record from InternalInitRecord
//     (then OnNewRecord); Edit copies the current record into the edit
//     buffer (kDataSetEmpty on an empty dataset, never acting on a stale
//     position); Post writes the edit buffer through InternalPost and
//     rereads the record; Cancel drops the buffer through InternalCancel;
//     Delete (kDataSetEmpty when empty) removes the current record and
//     makes the following one current (the previous one at the end). A
//     failed post or delete raises and leaves the state and buffer as they
//     were. Read-only datasets refuse Insert, Edit and Delete
//     (kDataSetReadOnly).
//  4. The active record: the current record while browsing (none while
//     empty: every field reads NULL), the edit buffer while editing or
//     inserting, the key buffer in SetKey.
//  5. Every Before* event may abort the operation by raising; After*
//     events run once the operation is done. Close while editing cancels.
//  6. Data sources hear of every change (DataSource.h); DisableControls
//     and EnableControls nest.
//  7. A failed Open leaves the dataset closed (InternalClose runs).
//  8. While a concrete dataset asks its OnFilterRecord handler about a
//     candidate record (FilterCandidate), the fields read that record.
//  9. OnEditError, OnPostError and OnDeleteError hear of a failed Edit,
//     Post or Delete with the error and choose: Fail (the default: the
//     error is raised), Abort (EAbort is raised instead) or Retry (the
//     operation runs again).
//  10. Calculated fields (AddCalculatedField, before opening) follow the
//     data fields; OnCalcFields computes them for every record read, the
//     fields reading that record and the calculated ones taking values
//     meanwhile. They are read-only otherwise and never stored.
//  11. Lookup fields (AddLookupField, before opening) are calculated fields
//     whose value is the result field of the record of another open dataset
//     whose key fields equal this record's key fields (NULL when none);
//     LookupValues answers it (by a walk here, by the engine's search in a
//     table) without moving that dataset.
//
// Thread use: the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/DataSource.h"
#include "dataset/DatabaseError.h"
#include "dataset/Field.h"
#include "dataset/FieldValue.h"

namespace tiv::dataset {

enum class DataSetState { Inactive, Browse, Edit, Insert, SetKey };
enum class FetchMode { Next, Prior, Current };
enum class FetchResult { Ok, Bof, Eof, Error };

// A record as the dataset holds it: one value per field, and the bookmark
// of the record it was read from (empty for a new record).
struct Record {
  std::vector<FieldValue> values;
  std::string bookmark;
};

class DataSet {
 public:
  using Event = std::function<void(DataSet&)>;

  explicit DataSet(std::string name = {});
  virtual ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // ---- lifecycle (contract 7) ----
  void Open();
  void Close();
  bool Active() const { return state_ != DataSetState::Inactive; }
  void SetActive(bool active) { active ? Open() : Close(); }
  DataSetState State() const { return state_; }
  bool ReadOnly = false;

  // ---- navigation (contract 2) ----
  void First();
  void Last();
  void Next();
  void Prior();
  // Moves up to |distance| records; the number moved.
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return !hasCurrent_ && state_ != DataSetState::Insert; }
  int64_t RecordCount();
  void Refresh();
  // Rereads the current record and tells the controls (after a change the
  // dataset did not make itself).
  void Resync();

  // ---- editing (contract 3) ----
  void Insert();
  void Append();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  bool Modified() const { return modified_; }

  // ---- fields ----
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  Field& FieldAt(int index) const;
  Field* FindField(const std::string& name) const;
  // kFieldNotFound for a name the dataset does not have.
  Field& FieldByName(const std::string& name) const;
  // Contract 4.
  FieldValue ActiveValue(int fieldIndex) const;
  void SetActiveValue(Field& field, const FieldValue& value);

  // ---- bookmarks ----
  std::string GetBookmark() const { return hasCurrent_ ? current_.bookmark : std::string(); }
  void GotoBookmark(const std::string& bookmark);

  // ---- controls (contract 6) ----
  void DisableControls() { ++disabled_; }
  void EnableControls();
  bool ControlsDisabled() const { return disabled_ > 0; }

  // ---- every record, for a grid ----
  // The records in the dataset's order; the current record and the
  // controls are left as they were. While a record is being changed the
  // engine's position belongs to the change: false, nothing read.
  bool ReadAll(std::vector<Record>& records);
  // The position of the current record in ReadAll's order, or -1.
  int64_t CurrentIndexIn(const std::vector<Record>& records) const;

  // ---- text of values (Field.h contract 4) ----
  virtual std::string FormatValue(const Field& field, const FieldValue& value, bool display) const = 0;
  virtual FieldValue ParseText(const Field& field, const std::string& text) const = 0;

  // ---- calculated fields (contract 10) ----
  void AddCalculatedField(const FieldDef& def);
  Event OnCalcFields;
  // Contract 11: fields lists ";"-separated.
  void AddLookupField(const FieldDef& def, DataSet& lookup, std::string keyFields, std::string lookupKeyFields,
                      std::string resultField);
  // The result fields of the first record whose key fields equal `values`;
  // empty when none. The current record stays.
  virtual std::vector<FieldValue> LookupValues(const std::string& keyFields, const std::vector<FieldValue>& values,
                                               const std::string& resultFields);

  // ---- error events (contract 9) ----
  enum class DataAction { Fail, Abort, Retry };
  using ErrorEvent = std::function<void(DataSet&, const std::exception& error, DataAction& action)>;
  ErrorEvent OnEditError, OnPostError, OnDeleteError;

  // ---- events (contract 5) ----
  Event BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit, AfterEdit, BeforePost,
      AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll, AfterScroll, BeforeRefresh,
      AfterRefresh, OnNewRecord;

 protected:
  // The concrete dataset's side. InternalOpen defines the fields
  // (SetFields) and positions before the first record.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() noexcept = 0;
  virtual void InternalFirst() = 0;  // before the first record
  virtual void InternalLast() = 0;   // after the last record
  // Next or prior from the position, or the record at the position again.
  virtual FetchResult InternalFetch(FetchMode mode, Record& into) = 0;
  virtual void InternalInitRecord(Record& record) = 0;
  virtual void InternalEdit() = 0;
  // Writes `record`; afterwards the position is on the record written.
  virtual void InternalPost(const Record& record, bool insert) = 0;
  virtual void InternalCancel() noexcept = 0;
  // Removes the record at the position and moves to the record that takes
  // its place: the following one, else the previous one, else none.
  virtual void InternalDelete() = 0;
  virtual bool InternalGotoBookmark(const std::string& bookmark) = 0;
  virtual int64_t InternalRecordCount() = 0;
  virtual void InternalRefresh() {}

  void SetFields(const std::vector<FieldDef>& defs);
  // Contract 8: `candidate` is the active record while `ask` runs.
  bool FilterCandidate(const Record& candidate, const std::function<bool()>& ask);
  // The engine moved on its own (a key search): its record becomes the
  // current one, or, when it has none, the dataset rereads from the start.
  void PositionChanged();
  void CheckActive() const;
  void CheckInactive() const;
  // Tells the controls that everything may have changed.
  void DataChanged() { Notify(DataSource::Event::DataSetChanged, nullptr); }

 private:
  friend class DataSource;
  void AddSource(DataSource& source) { sources_.push_back(&source); }
  void RemoveSource(DataSource& source);
  void Notify(DataSource::Event event, Field* field);
  void SetState(DataSetState state);
  void Fire(const Event& event) {
    if (event) event(*this);
  }
  // InternalFetch, then the calculated fields of what it read.
  FetchResult Fetch(FetchMode mode, Record& into);
  void CalculateFields(Record& record);
  // The first (last) record becomes current, or none; Bof (Eof) set.
  void FetchFromEnd(bool last);
  // Reads the record at the position into current_; false when there is none.
  bool FetchCurrent();
  // After a delete: the record the engine moved to, else none.
  void SettleAfterDelete();
  void BeginInsert(bool append);
  // Runs `operation`, asking `handler` what to do when it fails (contract 9).
  void WithErrorEvent(const ErrorEvent& handler, const std::function<void()>& operation);

  std::string name_;
  DataSetState state_ = DataSetState::Inactive;
  std::vector<std::unique_ptr<Field>> fields_;
  Record current_;
  bool hasCurrent_ = false;
  Record edit_;
  const Record* candidate_ = nullptr;
  Record* calculating_ = nullptr;
  std::vector<FieldDef> calculated_;
  struct Lookup {
    std::string fieldName;
    DataSet* dataSet;
    std::string keyFields, lookupKeyFields, resultField;
  };
  std::vector<Lookup> lookups_;
  bool modified_ = false;
  bool bof_ = true, eof_ = true;
  int disabled_ = 0;
  bool changedWhileDisabled_ = false;
  std::vector<DataSource*> sources_;
};

}  // namespace tiv::dataset

// LocalCursor: TABSLocalCursor, one client's view of one table of a local
// database: its own record buffer (ZUDTableCursor.h), current record and
// index, range, filters, projection of fields and open BLOB streams, over
// the table data every cursor of the table shares.
//
// Every dataset of the data-access layer owns one cursor; the SQL
// processor uses cursors for its base tables and results. The cursor is
// also the row source its filter and locate expressions read their column
// references from (ExprRowSource.h): the expressions see the visible
// fields, each standing for its table field.
//
// Record buffer: the memory record, the 6-byte record identifier at
// RecordSize(), the bookmark flag at RecordSize() + 6; BufferSize() is
// RecordSize() + 7.
//
// Contract
//  1. A cursor is created closed; OpenTable puts it before the first
//     record; it stays there until the first fetch. Closing frees its
//     filter, definitions and BLOB streams and detaches it from the table.
//  2. GetRecord answers 0 found, 1 before first, 2 after last (an empty
//     table always 2), 3 the current record is gone or no longer passes
//     (mode current only). A filtered step walks only passing records.
//  3. Edit, Post and Delete answer the codes of TABSCursorResult and never
//     leave a lock behind: every table and record lock an operation takes
//     is released on every path, exceptions included, except the locks
//     Edit keeps for the Post or Cancel that ends the edit.
//  4. "Changed by another" (-4, -5) compares what means something in a
//     record: the null bitmap, the value of every non-NULL field (a string
//     up to its terminator) and a BLOB field's stored reference; never the
//     bytes of NULL fields, a BLOB field's per-load handle or the trailer.
//     A record nobody changed is always editable and deletable.
//  5. In a multi-user session the waits for table and record locks are
//     bounded (attempts x delay of LockWaits); between attempts the cursor
//     holds neither the database data's lock nor any lock of the table, so
//     other threads and processes go on.
//  6. Field numbers are visible field numbers, 0-based; a number outside
//     them raises "Invalid field number - FieldNo = %d, FieldCount = %d".
//     A string longer than its field is cut to the field's size, never
//     copied past the slot.
//  7. Record numbers are 1-based in the cursor's order; a number below 1
//     counts as 1, past the count as the last record; with nothing to see
//     nothing moves.
//  8. An empty search (conditions that cannot all hold) finds nothing
//     without reading the table.
//  9. BLOB values set during an edit or an insert (SetFieldValue, writing
//     streams) wait in the cursor and are read back from it; Post stores
//     them in fresh slots and changes the record. Where a failed change is
//     rolled back (a disk table outside a transaction) the updated record's
//     old values are freed in the same pending change; elsewhere they are
//     freed only after the record no longer refers to them, and a failure
//     frees the new values instead. Cancel drops them: a cancelled edit
//     never touches the stored values.
// 10. The session outlives its cursors: close or destroy them first.
// 11. A query condition reads the table's fields by their table names,
//     whatever the projection, and every record the cursor reaches must
//     pass it as well as the filter; its index conditions choose the scan
//     before the filter's do. Closing the cursor frees it.
//
// Thread use: one thread at a time; table work runs under the database
// data's lock, taken by the table data.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ZUDBaseEngine.h"
#include "local/LocalBlobStream.h"
#include "local/LocalSession.h"
#include "sql/ZUDExpressions.h"

enum TABSCursorResult : int32_t {
  crOK = 0,
  crInsertFailed = -1,
  crUpdateFailed = -2,
  crDeleteFailed = -3,
  crChangedBeforeUpdate = -4,
  crChangedBeforeDelete = -5,
  crDeletedBeforeUpdate = -6,
  crDeletedBeforeDelete = -7,
  crPostError = -8,
  crEditTemporary = -9,
  crDeleteTemporary = -10,
  crRecordLocked = -12,
  crTableLocked = -13,
};

// The polling limits of the cursor's table and record locks in a
// multi-user session (contract 5).
struct TABSCursorLockWaits {
  int32_t editAttempts = 900, editDelayMs = 100;  // edit and delete: table lock
  int32_t postAttempts = 2250, postDelayMs = 40;  // post and BLOB writes: table lock
  int32_t recordAttempts = 15, recordDelayMs = 100;
  int32_t recordBudgetMs = 1500;
};

struct TABSVisibleField {
  std::string name;
  int32_t tableFieldNo = 0;
};

class TABSLocalCursor : public TABSTableCursor, public TABSExprRowSource {
 public:
  explicit TABSLocalCursor(TABSLocalSession& session);
  ~TABSLocalCursor() override;
  TABSLocalCursor(const TABSLocalCursor&) = delete;
  TABSLocalCursor& operator=(const TABSLocalCursor&) = delete;

  std::string tableName;
  bool exclusive = false;
  bool internal = false;   // defaults and derived constraints are skipped
  bool temporary = false;  // a table of TEMP (set by OpenTable): append only, no edit or delete
  TABSCursorLockWaits lockWaits;

  TABSLocalSession& Session() { return session_; }
  bool IsOpen() const { return table_ != nullptr; }
  TABSTableData& Table();

  // ---- tables ----
  void CreateTable(const TABSFieldDefs& fields, const TABSIndexDefs& indexes,
                   const TABSConstraintDefs* constraints = nullptr);
  void DeleteTable();
  void EmptyTable();
  void RenameTable(const std::string& newName);
  void OpenTable();
  void CloseTable() noexcept;
  void RenameField(const std::string& oldName, const std::string& newName);
  const TABSIndexDefs& GetIndexDefs();
  void AddIndex(const TABSIndexDef& def);
  void DeleteIndex(const std::string& name);
  void DeleteAllIndexes();
  int32_t FindOrCreateIndex(const std::vector<std::string>& names, const std::vector<std::string>& directions,
                            const std::vector<std::string>& cases);
  bool IndexServesFields(const std::string& indexName, const std::vector<std::string>& names);
  // The database data's lock (the lock every table operation takes), held
  // by this thread across several calls until UnlockDatabase; calls nest.
  void LockDatabase();
  void UnlockDatabase() noexcept;
  // The table lock for the session
  // (disk tables in multi-user mode; others always succeed).
  bool LockTable(TABSLockKind kind, int32_t delayMs, int32_t attempts);
  void UnlockTable(TABSLockKind kind) noexcept;

  // ---- the current index, navigation, counts ----
  // -1 when no index has the name; "" is physical order.
  void SetIndexName(const std::string& name);
  const std::string& IndexName() const { return indexName_; }
  TABSGetRecordResult GetRecord(TABSGetRecordMode mode);
  void SetToBegin();
  void SetToEnd();
  int64_t GetRecordCount();
  int64_t GetRecNo();
  void SetRecNo(int64_t recNo);
  // Bookmarks are record identifiers (6 bytes); -1, 0, +1.
  int CompareBookmarks(const char* first, const char* second);
  // Saved and restored: the flags and the record identifier.
  struct Position {
    bool beforeFirst = true, afterLast = false;
    TABSRecordID recordID;
  };
  Position SavePosition() const { return {beforeFirst, afterLast, recordID}; }
  void RestorePosition(const Position& position);

  // ---- ranges, key search, filters, locate ----
  // Key records are memory records of the table carrying the key fields
  // of the current index (build them with SetKeyField).
  void SetRange(const std::vector<char>& startKey, int32_t startFieldCount, bool startExclusive,
                const std::vector<char>& endKey, int32_t endFieldCount, bool endExclusive);
  void ClearRange();
  // Exact: the first entry equal to the key; nearest: the first greater or
  // equal (backward: the last lower or equal). 20258 without an index.
  bool GotoKey(const std::vector<char>& key, int32_t keyFieldCount, bool exact, bool forward = true);
  void SetFilter(const std::string& text, bool caseInsensitive, bool partial);
  void ClearFilter();
  void SetFilterCallback(std::function<bool(const char* record)> callback);
  // The condition of the query this cursor answers (contract 11): kept
  // apart from the filter, which a dataset sets and clears on its own.
  void SetQueryCondition(std::unique_ptr<TABSExpression> condition);
  void SetDistinct(const std::vector<std::string>& fieldNames);
  void ClearDistinct();
  // `fieldNames` ";"-separated, one value each (30112 otherwise).
  bool Locate(const std::string& fieldNames, const std::vector<TABSVariant>& values, bool caseInsensitive,
              bool partial);
  // The first record (in the current order) on which the value expression
  // `text` equals `value` (a NULL value matches a NULL result).
  bool LocateByExpression(const std::string& text, const TABSVariant& value, bool caseInsensitive, bool partial);
  void ResetBitmap() { bitmap.Reset(); }

  // ---- fields ----
  int32_t FieldCount() const { return static_cast<int32_t>(visible_.size()); }
  const TABSFieldDef& VisibleField(int32_t fieldNo) const;
  const std::string& VisibleFieldName(int32_t fieldNo) const;
  int32_t FindField(const std::string& name) const;  // -1 when none
  int32_t RecordSize() const { return layout.memoryRecordSize; }
  int32_t BufferSize() const { return layout.bufferSize; }
  // A NULL field gives a NULL value; otherwise a copy in the field's
  // storage type (BLOB fields: their content).
  void GetFieldValue(int32_t fieldNo, TABSVariant& value);
  void SetFieldValue(int32_t fieldNo, const TABSVariant& value);
  // The data-access exchange: false for NULL; SHORTINT and BYTE widen to
  // 16 bits, CARDINAL to 64, SINGLE and EXTENDED come as doubles; BLOB
  // fields give nothing here. `data` must hold FieldDataSize bytes.
  bool GetFieldData(int32_t fieldNo, void* data);
  // No data, or a string whose first character is 0, sets NULL.
  void SetFieldData(int32_t fieldNo, const void* data);
  static int32_t FieldDataSize(const TABSFieldDef& field);
  // Writes a field of a key record for SetRange and GotoKey.
  void SetKeyField(std::vector<char>& key, const std::string& fieldName, const TABSVariant& value) const;
  std::vector<char> NewKeyRecord() const;
  // Field names and aliases of equal length (10321); empty list (10322);
  // unknown field (10323). An alias already taken gets "_1", "_2", ...
  void SetProjection(const std::vector<std::string>& names, const std::vector<std::string>& aliases);
  void CopyFieldTo(int32_t fieldNo, TABSLocalCursor& target, int32_t targetFieldNo);

  // ---- changes (contracts 3 and 4) ----
  // Every null bit set, every value byte 0, then defaults unless internal.
  void InitRecordBuffer(char* buffer);
  void InitRecordBuffer() { InitRecordBuffer(Record()); }
  void PrepareInsert() {}
  int32_t Edit();
  void Cancel() noexcept;
  int32_t Post(bool insert);
  int32_t Delete();
  const std::string& LastErrorText() const { return lastError_; }
  int32_t LastResult() const { return lastResult_; }
  bool IsRecordLocked();
  // Constraint check of the buffer without raising: the message of the
  // first violation, or empty.
  std::string CheckConstraints();
  int64_t GetLastAutoincValue(const std::string& fieldName);
  void BeginBatch();
  void EndBatch();
  void CancelBatch();

  // ---- BLOB streams ----
  TABSLocalBLOBStream& OpenBlobStream(int32_t fieldNo, TABSBlobStreamMode mode);
  // Stores what the field's writing streams hold into the record and frees
  // the field's streams.
  void CloseBlobStreams(int32_t fieldNo);
  void FreeBlobStreams(bool readOnly = false) noexcept;

  // ---- row source of expressions ----
  std::vector<int32_t> FindFields(const std::string& name, const std::string& qualifier) const override;
  TABSExprColumn Column(int32_t column) const override;
  void ReadValue(int32_t column, TABSVariant& value) override;
  bool ReadFromRecord(int32_t column, const char* record, TABSVariant& value) override;

 private:
  TABSDiskTableData* DiskTable() const { return dynamic_cast<TABSDiskTableData*>(table_); }
  bool MultiUserDisk() const;
  void BuildFieldLayout();
  int32_t TableFieldNo(int32_t fieldNo, int errorCode1, int errorCode2) const;
  void ReadTableField(int32_t tableFieldNo, const char* record, TABSVariant& value);
  void RebuildRecordFilter();
  // Contract 8 and the driving index of a filter: the filter's index
  // conditions intersected per index into ranges; an empty one empties the
  // search, else the tightest range drives the scan (ZUDTableCursor.h
  // contract 4).
  void PlanScan();
  // A key record of the table holding `value` in the first column of
  // `index`; false when the value does not convert exactly.
  bool KeyFromValue(const TABSIndexDef& index, const TABSVariant& value, std::vector<char>& key) const;
  // Locks of edit, post and delete; each bounded (contract 5).
  bool TakeTableLock(TABSLockKind kind, int32_t attempts, int32_t delayMs);
  bool TakeRecordLock();
  void ReleaseEditLocks() noexcept;
  bool RereadRecord(std::vector<char>& record);
  bool SameStoredRecord(const char* a, const char* b) const;
  int32_t PostInsert();
  int32_t PostUpdate();
  // Contract 9. Stores the pending values in fresh slots of the buffer;
  // returns the buffer's record as it was, to put back when the record
  // change fails.
  std::vector<char> StorePendingBlobs();
  // Frees the values the pending fields of `record` refer to.
  void FreePendingBlobValues(char* record);
  // The record change of a post with the pending BLOB values around it.
  void ChangeWithPendingBlobs(bool update);

  TABSLocalSession& session_;
  TABSTableData* table_ = nullptr;
  std::string indexName_;
  TABSIndexDefs indexDefs_;
  std::vector<TABSVisibleField> visible_;
  // Filters: the parsed filter expression and a caller's callback, both
  // tested by recordFilter.
  std::unique_ptr<TABSExpression> filter_;
  std::function<bool(const char*)> filterCallback_;
  // Contract 11: the condition reads the record through its own source.
  std::unique_ptr<TABSRecordRowSource> querySource_;
  std::unique_ptr<TABSExpression> queryCondition_;
  // The record an expression reads while it is evaluated: a filter's
  // candidate, else the cursor's buffer.
  const char* evalRecord_ = nullptr;
  // Edit state: the record as read when the edit began, and the locks
  // the edit holds until Post or Cancel.
  std::vector<char> editCopy_;
  bool editing_ = false;
  TABSLockKind editTableLock_ = ltEdit;
  bool holdsEditTableLock_ = false;
  bool holdsRecordLock_ = false;
  TABSRecordID lockedRecord_;
  bool batch_ = false;
  int32_t lastResult_ = 0;
  std::string lastError_;
  std::vector<std::unique_ptr<TABSLocalBLOBStream>> blobStreams_;
  // Contract 9: by table field number; no value = NULL.
  std::map<int32_t, std::optional<std::string>> pendingBlobs_;
};

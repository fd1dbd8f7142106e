// The cursor's changes: edit, post, cancel and delete with their result
// codes and locks, batches, BLOB streams (LocalCursor.h contracts 3 to 5).
//
// Lock order of a change in a multi-user session: the table lock first
// (edit and delete: kind 2 edit or 4 write, 900 x 100 ms; post: kind 4
// write, 2250 x 40 ms; kind 3 transaction-write inside a transaction),
// then the record lock (15 x 100 ms, 1.5 s in all). Each attempt is one
// try of the lock manager; the cursor sleeps between attempts holding
// nothing, so a waiting cursor never blocks the other threads of the
// process. Inside a transaction the table lock stays until the database
// commits or rolls back; outside one it goes when the operation ends.
#include <cstdio>
#include <cstring>

#include "core/ZUDExcept.h"
#include "local/LocalCursor.h"
#include "os/Os.h"

// ---- locks ------------------------------------------------------------------------

bool TABSLocalCursor::TakeTableLock(TABSLockKind kind, int32_t attempts, int32_t delayMs) {
  TABSDiskTableData* disk = DiskTable();
  if (!disk || !session_.multiUser) return true;
  for (int32_t i = 0; i < attempts; ++i) {
    if (i > 0) tiv::os::SleepMs(delayMs);
    if (disk->LockTable(session_, kind, 0, 1)) return true;
  }
  return false;
}

bool TABSLocalCursor::TakeRecordLock() {
  TABSDiskTableData* disk = DiskTable();
  if (!disk || !session_.multiUser) return true;
  const int64_t start = tiv::os::TickCountMs();
  for (int32_t i = 0; i < lockWaits.recordAttempts; ++i) {
    if (i > 0) {
      tiv::os::SleepMs(lockWaits.recordDelayMs);
      if (tiv::os::TickCountMs() - start > lockWaits.recordBudgetMs) break;
    }
    if (disk->LockRecord(session_, recordID)) {
      holdsRecordLock_ = true;
      lockedRecord_ = recordID;
      return true;
    }
  }
  return false;
}

void TABSLocalCursor::ReleaseEditLocks() noexcept {
  TABSDiskTableData* disk = DiskTable();
  if (holdsRecordLock_ && disk) disk->UnlockRecord(session_, lockedRecord_);
  holdsRecordLock_ = false;
  // A transaction's table lock is the transaction's: it goes at its end.
  if (holdsEditTableLock_ && disk && editTableLock_ != ltTransactionWrite) disk->UnlockTable(session_, editTableLock_);
  holdsEditTableLock_ = false;
}

bool TABSLocalCursor::IsRecordLocked() {
  TABSDiskTableData* disk = DiskTable();
  if (!disk || !session_.multiUser || beforeFirst || afterLast) return false;
  return disk->IsRecordLocked(session_, recordID);
}

// ---- comparing records (contract 4) ----------------------------------------------

bool TABSLocalCursor::SameStoredRecord(const char* a, const char* b) const {
  const TABSFieldDefs& fields = table_->FieldDefs();
  if (std::memcmp(a, b, static_cast<size_t>(layout.firstFieldOffset)) != 0) return false;
  for (int i = 0; i < fields.Count(); ++i) {
    if (IsFieldNull(a, i)) continue;  // both NULL: the bitmaps are equal
    const TABSFieldDef& f = *fields[i];
    const char* x = a + f.MemoryOffset();
    const char* y = b + f.MemoryOffset();
    const size_t size = static_cast<size_t>(f.MemoryValueSize());
    if (f.IsBlob()) {
      // The stored reference; the handle after it is this load's own.
      if (std::memcmp(x, y, std::min<size_t>(kRecordIDSize, size)) != 0) return false;
    } else if (IsWideStringStorage(f.StorageType())) {
      for (size_t k = 0; k + 1 < size; k += 2) {
        if (x[k] != y[k] || x[k + 1] != y[k + 1]) return false;
        if (x[k] == 0 && x[k + 1] == 0) break;
      }
    } else if (IsStringStorage(f.StorageType())) {
      if (strncmp(x, y, size) != 0) return false;
    } else if (std::memcmp(x, y, size) != 0) {
      return false;
    }
  }
  return true;
}

bool TABSLocalCursor::RereadRecord(std::vector<char>& record) {
  if (beforeFirst || afterLast) return false;
  return Table().RereadRecord(session_, recordID, record);
}

// ---- edit, post, cancel, delete -----------------------------------------------------

int32_t TABSLocalCursor::Edit() {
  Table();
  lastError_.clear();
  if (temporary) return lastResult_ = crEditTemporary;
  if (editing_) ReleaseEditLocks();
  editing_ = false;
  pendingBlobs_.clear();
  const std::vector<char> before(buffer);
  if (MultiUserDisk()) {
    editTableLock_ = session_.inTransaction ? ltTransactionWrite : ltEdit;
    if (!TakeTableLock(editTableLock_, lockWaits.editAttempts, lockWaits.editDelayMs))
      return lastResult_ = crTableLocked;
    holdsEditTableLock_ = true;
    if (!TakeRecordLock()) {
      ReleaseEditLocks();
      return lastResult_ = crRecordLocked;
    }
  }
  std::vector<char> stored;
  bool exists = false;
  try {
    exists = RereadRecord(stored);
  } catch (...) {
    ReleaseEditLocks();
    throw;
  }
  if (!exists || !SameStoredRecord(stored.data(), before.data())) {
    ReleaseEditLocks();
    buffer = before;
    return lastResult_ = exists ? crChangedBeforeUpdate : crDeletedBeforeUpdate;
  }
  // The stored bytes (their BLOB handles of this load included) become the
  // buffer and the copy the post compares with.
  std::memcpy(Record(), stored.data(), static_cast<size_t>(layout.memoryRecordSize));
  editCopy_.assign(stored.begin(), stored.begin() + layout.memoryRecordSize);
  editing_ = true;
  return lastResult_ = crOK;
}

void TABSLocalCursor::Cancel() noexcept {
  std::erase_if(blobStreams_, [](const auto& s) { return s->Writes(); });
  pendingBlobs_.clear();
  ReleaseEditLocks();
  editing_ = false;
  editCopy_.clear();
}

std::vector<char> TABSLocalCursor::StorePendingBlobs() {
  std::vector<char> before(Record(), Record() + layout.memoryRecordSize);
  for (const auto& [t, content] : pendingBlobs_) {
    const TABSFieldDef& f = *Table().FieldDefs()[t];
    // A fresh slot: storing must not free what the record refers to.
    std::memset(Record() + f.MemoryOffset(), 0, static_cast<size_t>(f.MemoryValueSize()));
    if (content)
      Table().WriteBlobBuffer(session_, Record(), t, content->data(), static_cast<int64_t>(content->size()));
    else
      SetFieldNull(Record(), t, true);
  }
  return before;
}

void TABSLocalCursor::FreePendingBlobValues(char* record) {
  for (const auto& [t, content] : pendingBlobs_)
    if (!IsFieldNull(record, t)) Table().FreeFieldBlob(session_, record, t);
}

void TABSLocalCursor::ChangeWithPendingBlobs(bool update) {
  if (pendingBlobs_.empty()) {
    if (update)
      Table().UpdateRecord(session_, *this, !temporary);
    else
      Table().InsertRecord(session_, *this, !temporary);
    return;
  }
  // An insert frees nothing of before: its buffer may still refer to
  // another record's values. An update frees the values the stored record
  // referred to, once nothing refers to them.
  const std::vector<char> before = StorePendingBlobs();
  std::vector<char> old(editCopy_);
  const bool rollsBack = Table().RollsBackFailedChanges(session_);
  try {
    // Freed in the same pending change, which the failure takes back.
    if (update && rollsBack) FreePendingBlobValues(old.data());
    if (update)
      Table().UpdateRecord(session_, *this, !temporary);
    else
      Table().InsertRecord(session_, *this, !temporary);
  } catch (...) {
    // Without a rollback the values stored above are this post's own.
    if (!rollsBack) {
      try {
        FreePendingBlobValues(Record());
      } catch (const std::exception& x) {
        std::fprintf(stderr, "tivoran: table '%s': %s\n", tableName.c_str(), x.what());
      }
    }
    std::memcpy(Record(), before.data(), before.size());
    throw;
  }
  pendingBlobs_.clear();
  if (update && !rollsBack) FreePendingBlobValues(old.data());
}

int32_t TABSLocalCursor::PostInsert() {
  ChangeWithPendingBlobs(false);
  return crOK;
}

int32_t TABSLocalCursor::PostUpdate() {
  if (editCopy_.empty()) throw std::logic_error("TABSLocalCursor::Post: an update needs Edit first");
  std::vector<char> stored;
  if (!RereadRecord(stored)) return crDeletedBeforeUpdate;
  if (!SameStoredRecord(stored.data(), editCopy_.data())) return crChangedBeforeUpdate;
  ChangeWithPendingBlobs(true);
  return crOK;
}

int32_t TABSLocalCursor::Post(bool insert) {
  Table();
  lastError_.clear();
  const TABSLockKind kind = session_.inTransaction ? ltTransactionWrite : ltWrite;
  bool tookTable = false;
  int32_t result = crOK;
  if (MultiUserDisk()) {
    if (!TakeTableLock(kind, lockWaits.postAttempts, lockWaits.postDelayMs)) {
      ReleaseEditLocks();
      editing_ = false;
      return lastResult_ = crTableLocked;
    }
    tookTable = true;
  }
  try {
    // What the BLOB streams hold belongs to the record being posted.
    std::vector<int32_t> written;
    for (const auto& s : blobStreams_)
      if (s->Writes()) written.push_back(s->FieldNo());
    for (int32_t fieldNo : written) CloseBlobStreams(fieldNo);
    result = insert ? PostInsert() : PostUpdate();
  } catch (const std::exception& x) {
    lastError_ = x.what();
    result = crPostError;
  }
  if (tookTable && kind != ltTransactionWrite) UnlockTable(kind);
  ReleaseEditLocks();
  if (result == crOK) {
    editing_ = false;
    editCopy_.clear();
  }
  return lastResult_ = result;
}

int32_t TABSLocalCursor::Delete() {
  Table();
  lastError_.clear();
  if (temporary) return lastResult_ = crDeleteTemporary;
  const TABSLockKind kind = session_.inTransaction ? ltTransactionWrite : ltWrite;
  bool tookTable = false;
  if (MultiUserDisk()) {
    if (!TakeTableLock(kind, lockWaits.editAttempts, lockWaits.editDelayMs)) return lastResult_ = crTableLocked;
    tookTable = true;
    if (!TakeRecordLock()) {
      if (kind != ltTransactionWrite) UnlockTable(kind);
      return lastResult_ = crRecordLocked;
    }
  }
  int32_t result = crOK;
  try {
    std::vector<char> stored;
    if (!RereadRecord(stored))
      result = crDeletedBeforeDelete;
    else if (!SameStoredRecord(stored.data(), Record()))
      result = crChangedBeforeDelete;
    else if (!Table().DeleteRecord(session_, *this))
      result = crDeletedBeforeDelete;
  } catch (const std::exception& x) {
    lastError_ = x.what();
    result = crDeleteFailed;
  }
  TABSDiskTableData* disk = DiskTable();
  if (holdsRecordLock_ && disk) disk->UnlockRecord(session_, lockedRecord_);
  holdsRecordLock_ = false;
  if (tookTable && kind != ltTransactionWrite) UnlockTable(kind);
  return lastResult_ = result;
}

std::string TABSLocalCursor::CheckConstraints() {
  try {
    const bool updating = editing_ && !editCopy_.empty();
    Table().ConstraintManager().CheckRecord(session_.sessionID, Record(), updating ? &recordID : nullptr,
                                            updating ? editCopy_.data() : nullptr, true);
  } catch (const EABSException& x) {
    return x.what();
  }
  return {};
}

int64_t TABSLocalCursor::GetLastAutoincValue(const std::string& fieldName) {
  return Table().GetLastAutoincValue(session_, fieldName);
}

// A batch outside a transaction is a transaction of the session: every
// post of it is committed at its end or rolled back by its cancel.
void TABSLocalCursor::BeginBatch() {
  if (session_.inTransaction) return;
  session_.StartTransaction();
  batch_ = true;
}

void TABSLocalCursor::EndBatch() {
  if (!batch_) return;
  batch_ = false;
  session_.Commit(true);
}

void TABSLocalCursor::CancelBatch() {
  if (!batch_) return;
  batch_ = false;
  session_.Rollback();
}

// ---- BLOB streams -------------------------------------------------------------------

TABSLocalBLOBStream& TABSLocalCursor::OpenBlobStream(int32_t fieldNo, TABSBlobStreamMode mode) {
  const int32_t t = TableFieldNo(fieldNo, 10501, 10502);
  const TABSFieldDef& f = *Table().FieldDefs()[t];
  if (!f.IsBlob()) throw EABSException(20171, "Cannot find blob field");
  if (mode != bsmRead) {
    for (const auto& s : blobStreams_)
      if (s->FieldNo() == fieldNo && s->Writes())
        throw EABSException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                            {fieldNo, VisibleFieldName(fieldNo)});
    if (MultiUserDisk() && !beforeFirst && !afterLast && !editing_) {
      // Writing into a stored record: it must still be there.
      const TABSLockKind kind = session_.inTransaction ? ltTransactionWrite : ltWrite;
      if (!TakeTableLock(kind, lockWaits.postAttempts, lockWaits.postDelayMs))
        throw EABSException(20223, "Table is locked");
      std::vector<char> stored;
      bool exists = false;
      try {
        exists = RereadRecord(stored);
      } catch (...) {
        if (kind != ltTransactionWrite) UnlockTable(kind);
        throw;
      }
      if (kind != ltTransactionWrite) UnlockTable(kind);
      if (!exists) throw EABSException(10127, "Error retrieving record");
    }
  }
  auto content = std::make_unique<TABSMemoryStream>();
  if (mode != bsmWrite) {
    TABSVariant current;
    ReadTableField(t, Record(), current);
    const std::string value =
        current.IsNull() ? std::string() : std::string(current.Buffer(), static_cast<size_t>(current.ValueSize()));
    content->Write(value.data(), static_cast<int64_t>(value.size()));
    content->Seek(0);
  }
  blobStreams_.push_back(std::make_unique<TABSLocalBLOBStream>(fieldNo, mode, std::move(content)));
  return *blobStreams_.back();
}

void TABSLocalCursor::CloseBlobStreams(int32_t fieldNo) {
  const int32_t t = TableFieldNo(fieldNo, 10501, 10502);
  for (size_t i = 0; i < blobStreams_.size();) {
    TABSLocalBLOBStream& s = *blobStreams_[i];
    if (s.FieldNo() != fieldNo) {
      ++i;
      continue;
    }
    if (s.Writes()) {
      std::string bytes(static_cast<size_t>(s.Content().Size()), '\0');
      s.Content().Seek(0);
      if (!bytes.empty()) s.Content().Read(bytes.data(), static_cast<int64_t>(bytes.size()));
      pendingBlobs_[t] = std::move(bytes);
    }
    blobStreams_.erase(blobStreams_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TABSLocalCursor::FreeBlobStreams(bool readOnly) noexcept {
  if (!readOnly) {
    blobStreams_.clear();
    return;
  }
  std::erase_if(blobStreams_, [](const auto& s) { return !s->Writes(); });
}

// The repair of a database file (DatabaseRepair.h): a read-only single-user
// open of the damaged file, a new file beside it that every readable table
// and row is copied into, a backup of the damaged bytes, and one rename.
#include "disk/DatabaseRepair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

#include "core/ZUDRecordLayout.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskFormat.h"
#include "disk/FreeSpaceMap.h"
#include "disk/RecordPage.h"
#include "disk/RollbackJournal.h"

using namespace tiv::disk;

namespace {

std::string RowText(const TABSRecordID& id) { return std::to_string(id.pageNo) + ":" + std::to_string(id.rowNo); }

std::string RowsText(int64_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

// 30361: the raise site of every file the repair makes (the copy, the
// backup, the copy taking the file's name).
[[noreturn]] void CannotCreate(const std::string& name, const tiv::os::Status& status, const std::string& why) {
  throw EABSException(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                      {name, status.error, status.text + " - " + why});
}

// A single-user connection for the repair's life.
struct Connection {
  TABSDiskDatabaseData data;
  TABSSessionInfo session;
  Connection(const std::string& name, tiv::os::FileSystem& fs) : data(name, fs) { session.multiUser = false; }
  void Connect() { data.Connect(session); }
  ~Connection() {
    try {
      if (session.sessionID >= 0) data.Disconnect(session);
      data.Close();
    } catch (const EABSException&) {
      // closing anyway
    }
  }
};

// The pages of the damaged file whose headers say they are record pages in
// use, by owner table. Headers are outside the DataCRC and never
// enciphered, so a page whose data is damaged is still found, and its loss
// reported. The scan covers the pages the file holds, never more than its
// header counts.
std::map<int32_t, std::vector<int32_t>> RecordPagesByTable(TABSDiskPageManager& pm) {
  std::map<int32_t, std::vector<int32_t>> byTable;
  const int64_t bytes = pm.File().GetSize() - pm.PageAreaOffset();
  const int64_t held = bytes > 0 ? bytes / pm.PageSize() : 0;
  const int32_t total = static_cast<int32_t>(std::min<int64_t>(pm.GetPageCount(), held));
  TABSDatabaseFreeSpaceManager& map = pm.FreeSpaceManager();
  uint8_t header[kPageHeaderSize];
  for (int32_t n = kSystemDirectoryPageNo + 1; n < total; ++n) {
    if (map.IsMapPage(n)) continue;
    try {
      // A map page that cannot be read says nothing of the pages it
      // covers: they are judged by their headers alone.
      if (!map.IsPageUsed(n)) continue;
    } catch (const EABSException&) {
    }
    try {
      pm.ReadPageBytes(header, n, kPageHeaderSize, 0);
    } catch (const EABSException&) {
      continue;  // an unreadable header names no table
    }
    const int32_t version = GetI32(header + kPgVersion);
    if (std::memcmp(header + kPgSignature, kPageSignature, 4) != 0 || GetU16(header + kPgType) != ptTableRecord ||
        version < 0 || version > kPageVersionWrapAt)
      continue;
    byTable[GetI32(header + kPgOwnerTableID)].push_back(n);
  }
  return byTable;
}

// Counts the record pages as the copy goes, for the progress callback: the
// copy is most of the work, the swap is the rest.
class Progress {
 public:
  Progress(const TABSRepairProgress& callback, int64_t pages)
      : callback_(callback), pages_(std::max<int64_t>(pages, 1)) {}
  void Report(int percent) {
    if (callback_ && percent != last_) callback_(percent);
    last_ = percent;
  }
  void PageDone() { Report(static_cast<int>(std::min<int64_t>(95, 95 * ++done_ / pages_))); }

 private:
  const TABSRepairProgress& callback_;
  int64_t pages_;
  int64_t done_ = 0;
  int last_ = -1;
};

// The errors by which a table refuses a row for its values (its constraints:
// a key twice, a NULL where none may be, a value out of its range): such a
// row stays out of the copy and is reported.
bool RefusesRow(int32_t code) {
  switch (code) {
    case 30319:  // primary key twice
    case 30320:  // unique constraint twice
    case 30330:  // NULL in a key column
    case 30026:  // NULL in a NOT NULL field
    case 30029:  // below the field's minimum
    case 30030:  // above the field's maximum
      return true;
    default: return false;
  }
}

struct SourceRow {
  TABSRecordID id;
  std::vector<char> record;  // the memory record
};

// The rows of one record page of `table`, or the reason they cannot be read.
std::vector<SourceRow> ReadPageRows(TABSDiskPageManager& pm, TABSSessionInfo& s, TABSDiskTableData& table,
                                    int32_t pageNo) {
  const TABSFieldDefs& fields = table.FieldDefs();
  std::vector<char> stored(static_cast<size_t>(fields.StoredRecordSize()));
  std::vector<SourceRow> rows;
  TABSPage* page = pm.GetPage(s.sessionID, pageNo, true, ptTableRecord);
  try {
    TABSSmallRecordPage rp(*page, table.DiskRecords().SlotsPerPage(), fields.StoredRecordSize());
    for (int32_t slot = 0; slot < table.DiskRecords().SlotsPerPage(); ++slot) {
      if (!rp.SlotUsed(slot)) continue;
      SourceRow& row = rows.emplace_back();
      row.id = {pageNo, static_cast<uint16_t>(slot)};
      rp.ReadRecord(row.id, stored.data());
      row.record.assign(static_cast<size_t>(fields.MemoryRecordSize()), 0);
      StoredToMemoryRecord(fields, stored.data(), row.record.data());
    }
  } catch (...) {
    pm.PutPage(page);
    throw;
  }
  pm.PutPage(page);
  return rows;
}

// Copies one row into `target`; its BLOB values are read from `source` and
// stored anew. A row not copied is counted lost, with the reason.
void CopyRow(Connection& from, TABSDiskTableData& source, Connection& to, TABSDiskTableData& target,
             const SourceRow& row, const std::vector<char>& fresh, TABSRepairTableReport& report) {
  const TABSFieldDefs& fields = source.FieldDefs();
  // Both tables have the same definitions, so the same memory layout: the
  // row's bytes stand as they are but for the BLOB references, which name
  // values of the damaged file and start from a new record's bytes.
  std::vector<char> record = row.record;
  for (int n = 0; n < fields.Count(); ++n) {
    const TABSFieldDef& f = *fields[n];
    if (!f.IsBlob()) continue;
    std::copy_n(fresh.begin() + f.MemoryOffset(), f.MemoryValueSize(), record.begin() + f.MemoryOffset());
    SetFieldNull(record.data(), n, true);
  }
  try {
    for (int n = 0; n < fields.Count(); ++n) {
      if (!fields[n]->IsBlob() || IsFieldNull(row.record.data(), n)) continue;
      std::string value;
      try {
        value = source.ReadBlobBuffer(from.session, row.record.data(), n);
      } catch (const EABSException& x) {
        report.problems.push_back("record " + RowText(row.id) + " field " + fields[n]->Name() + ": " + x.what() +
                                  "; copied as NULL");
        ++report.valuesNulled;
        continue;
      }
      target.WriteBlobBuffer(to.session, record.data(), n, value.data(), static_cast<int64_t>(value.size()));
    }
    // Outside a transaction: a refused row takes the BLOB values stored for
    // it along when its change is rolled back (ZUDTableData.h contract 3).
    target.InsertRecord(to.session, record.data());
    ++report.rowsCopied;
  } catch (const EABSException& x) {
    // Only the row's own values refuse it; anything else (a write of the
    // new file that failed) fails the repair, never counts as a lost row.
    if (!RefusesRow(x.NativeError())) throw;
    // BLOB values stored before a failure outside the insert go with the
    // session's uncommitted pages.
    target.PageManager().RollbackSession(to.session.sessionID);
    report.problems.push_back("record " + RowText(row.id) + ": " + x.what() + "; not copied");
    ++report.rowsLost;
  }
}

// One table: created in the new file with the definitions of the damaged
// one, then its rows copied page by page. A table whose definitions cannot
// be read, or that the new file refuses, goes to `tablesNotRead`.
void CopyTable(Connection& from, Connection& to, const TABSTableListEntry& entry,
               const std::map<int32_t, std::vector<int32_t>>& recordPages, Progress& progress,
               TABSRepairReport& report) {
  TABSDiskTableData* source = nullptr;
  try {
    source = &from.data.OpenTable(from.session, entry.TableName);
  } catch (const EABSException& x) {
    report.tablesNotRead.push_back(entry.TableName + ": " + x.what());
    return;
  }
  TABSDiskTableData* target = nullptr;
  try {
    target = &to.data.CreateTable(to.session, entry.TableName, source->FieldDefs(), source->IndexManager().IndexDefs(),
                                  &source->ConstraintManager().ConstraintDefs());
  } catch (const EABSException& x) {
    report.tablesNotRead.push_back(entry.TableName + ": " + x.what());
    return;
  }
  if (target->FieldDefs().MemoryRecordSize() != source->FieldDefs().MemoryRecordSize())
    throw std::logic_error("RepairDatabase: a table made from the same definitions has another record layout");
  TABSRepairTableReport& tr = report.tables.emplace_back();
  tr.name = entry.TableName;
  tr.counted = source->DiskRecords().RecordCount();
  TABSDiskPageManager& pm = from.data.Pages();

  // What the record page index says each page holds, when it can say.
  std::map<int32_t, int64_t> indexed;
  try {
    for (const auto& [pageNo, count] : source->DiskRecords().IndexedPages(from.session.sessionID))
      indexed[pageNo] = count;
  } catch (const EABSException& x) {
    tr.problems.push_back(std::string("record page index: ") + x.what() +
                          "; record pages found by their headers alone");
  }
  const auto found = recordPages.find(source->TableID());
  const std::vector<int32_t> pages = found == recordPages.end() ? std::vector<int32_t>{} : found->second;
  const std::set<int32_t> scanned(pages.begin(), pages.end());
  const auto lostPage = [&](int32_t pageNo, const std::string& why) {
    const auto count = indexed.find(pageNo);
    if (count != indexed.end()) {
      tr.rowsLost += count->second;
      tr.problems.push_back("record page " + std::to_string(pageNo) + ": " + why + "; its " + RowsText(count->second) +
                            " lost");
    } else {
      tr.problems.push_back("record page " + std::to_string(pageNo) + ": " + why + "; the rows it held are lost");
    }
  };
  for (const auto& [pageNo, count] : indexed)
    if (!scanned.count(pageNo)) lostPage(pageNo, "named by the record page index, but no record page of the table");

  std::vector<char> fresh(static_cast<size_t>(target->FieldDefs().MemoryRecordSize()));
  target->InitRecordForInsert(fresh.data());
  for (const int32_t pageNo : pages) {
    std::vector<SourceRow> rows;
    try {
      rows = ReadPageRows(pm, from.session, *source, pageNo);
    } catch (const EABSException& x) {
      lostPage(pageNo, x.what());
      progress.PageDone();
      continue;
    }
    for (const SourceRow& row : rows) CopyRow(from, *source, to, *target, row, fresh, tr);
    progress.PageDone();
  }
  // The counters go on from where the damaged table's stood (or from the
  // copied rows' values, when those are higher), so no autoincrement value
  // is drawn twice; written with the most-updated file by a flushed commit.
  std::vector<int64_t> counters = target->FieldManager().SnapshotCounters();
  const std::vector<int64_t> drawn = source->FieldManager().SnapshotCounters();
  for (size_t i = 0; i < counters.size() && i < drawn.size(); ++i) counters[i] = std::max(counters[i], drawn[i]);
  target->FieldManager().RestoreCounters(counters);
  target->PageManager().CommitSession(to.session.sessionID, true);
}

// The damaged file's bytes, as they are, into a new file `backup`,
// flushed. Refused when `backup` exists; `made` is set once this call
// created the file, so that a failure after it can take it away again.
void CopyToBackup(tiv::os::FileSystem& fs, const std::string& fileName, const std::string& backup, bool& made) {
  std::unique_ptr<tiv::os::FileHandle> in, out;
  tiv::os::OpenOptions read;
  read.access = tiv::os::kAccessRead;
  read.share = tiv::os::kShareRead;
  if (const tiv::os::Status s = fs.Open(fileName, read, in); !s.ok())
    CannotCreate(backup, s, "the damaged file cannot be read back for its backup");
  tiv::os::OpenOptions write;
  write.access = tiv::os::kAccessRead | tiv::os::kAccessWrite;
  write.share = tiv::os::kShareNone;
  write.create = true;
  if (const tiv::os::Status s = fs.Open(backup, write, out); !s.ok())
    CannotCreate(backup, s, "the backup of the damaged file cannot be made");
  made = true;
  std::vector<char> buffer(size_t{1} << 20);
  int64_t pos = 0;
  tiv::os::Status s;
  for (;;) {
    size_t done = 0;
    if (!(s = in->ReadAt(pos, buffer.data(), buffer.size(), done)).ok() || done == 0) break;
    if (!(s = out->WriteAt(pos, buffer.data(), done)).ok()) break;
    pos += static_cast<int64_t>(done);
  }
  if (s.ok()) s = out->Sync();
  if (const tiv::os::Status closed = out->Close(); s.ok()) s = closed;
  in->Close();
  if (!s.ok()) CannotCreate(backup, s, "the backup of the damaged file cannot be written");
}

}  // namespace

bool TABSRepairReport::Complete() const {
  if (!tablesNotRead.empty()) return false;
  return std::all_of(tables.begin(), tables.end(), [](const TABSRepairTableReport& t) {
    return t.problems.empty() && t.rowsLost == 0 && t.rowsCopied == t.counted;
  });
}

std::vector<std::string> TABSRepairReport::Lines() const {
  std::vector<std::string> lines;
  for (const TABSRepairTableReport& t : tables) {
    const std::string table = "table '" + t.name + "'";
    std::string line = table + ": " + RowsText(t.rowsCopied) + " copied";
    if (t.rowsLost > 0) line += ", " + std::to_string(t.rowsLost) + " lost";
    if (t.valuesNulled > 0) line += ", " + std::to_string(t.valuesNulled) + " BLOB values copied as NULL";
    if (t.counted != t.rowsCopied) line += ", the table counted " + std::to_string(t.counted);
    lines.push_back(line);
    for (const std::string& p : t.problems) lines.push_back(table + ": " + p);
  }
  for (const std::string& t : tablesNotRead) {
    const size_t colon = t.find(": ");
    lines.push_back("table '" + t.substr(0, colon) + "' not copied: " + t.substr(colon + 2));
  }
  if (!backupFile.empty()) lines.push_back("backup: " + backupFile);
  lines.emplace_back(Complete() ? "repaired" : "repaired with losses");
  return lines;
}

TABSRepairReport RepairDatabase(const std::string& fileName, const TABSPassword& password,
                                const TABSRepairProgress& progress, tiv::os::FileSystem& fs) {
  return RebuildDatabase(fileName, password, TABSRebuildSettings{}, progress, fs);
}

TABSRepairReport RebuildDatabase(const std::string& fileName, const TABSPassword& password,
                                 const TABSRebuildSettings& settings, const TABSRepairProgress& progress,
                                 tiv::os::FileSystem& fs) {
  const std::string copy = fileName + ".tmp";
  const std::string backup = fileName + ".bak";
  tiv::os::FileInfo info;
  if (fs.Stat(backup, info).ok() && info.exists)
    CannotCreate(backup, tiv::os::Status::FromErrno(EEXIST),
                 "a backup from an earlier repair is in the way; move it away, then repair again");
  TABSRepairReport report;
  bool backupMade = false;
  try {
    {
      // A commit that died with its rollback journal beside the file is
      // undone by an open for writing, before the copy reads anything.
      if (fs.Stat(TABSRollbackJournal::PathFor(fileName), info).ok() && info.exists) {
        Connection recover("REPAIR_RECOVERY", fs);
        recover.data.Open(fileName, password, false, false);
      }
      Connection from("REPAIR_SOURCE", fs);
      from.data.Open(fileName, password, false, false, true);
      from.Connect();
      // Another open holds the connection slots: it may be writing.
      if (from.data.ReadOnly()) throw EABSException(10461, "Error - database file %s is in use.", {fileName});
      TABSDiskPageManager& pm = from.data.Pages();
      const std::vector<TABSTableListEntry> tables = from.data.Tables(from.session);
      const std::map<int32_t, std::vector<int32_t>> recordPages = RecordPagesByTable(pm);
      int64_t pages = 0;
      for (const auto& [table, list] : recordPages) pages += static_cast<int64_t>(list.size());
      Progress done(progress, pages);
      done.Report(0);

      TABSPassword newPassword = password;
      if (pm.Header().Encrypted == kEncryptedYes) newPassword.CryptoAlgorithm = pm.CheckBlock().CryptoAlgorithm;
      if (settings.password) newPassword = *settings.password;
      TABSDiskDatabase made(fs);
      made.CreateDatabase(copy, newPassword, settings.maxConnections.value_or(from.data.MaxConnections()),
                          settings.pageCountInExtent.value_or(pm.Header().PageCountInExtent),
                          settings.pageSize.value_or(pm.Header().PageSize));
      Connection to("REPAIR_TARGET", fs);
      to.data.Open(copy, newPassword, false, true);
      to.Connect();
      for (const TABSTableListEntry& e : tables) CopyTable(from, to, e, recordPages, done, report);
      to.data.Pages().FlushFileBuffers();
    }
    CopyToBackup(fs, fileName, backup, backupMade);
    if (const tiv::os::Status s = fs.Rename(copy, fileName); !s.ok())
      CannotCreate(fileName, s, "the repaired copy cannot take the file's name; the file is unchanged");
  } catch (...) {
    fs.Remove(copy);
    if (backupMade) fs.Remove(backup);
    throw;
  }
  report.backupFile = backup;
  if (progress) progress(100);
  return report;
}

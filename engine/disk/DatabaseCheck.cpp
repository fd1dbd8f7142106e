// The check of a database file (DatabaseCheck.h): a first pass over the
// pages the map marks used, then the walks of the system files and of every
// table, which claim the pages they reach in a TABSPageUse, then the map
// held against the claims.
#include "disk/DatabaseCheck.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>

#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDRecordLayout.h"
#include "disk/DatabaseFile.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskFormat.h"
#include "disk/FreeSpaceMap.h"
#include "disk/PageUse.h"
#include "disk/RollbackJournal.h"

using namespace tiv::disk;

namespace {

// A table of the check, opened and held still for its whole run by its
// read lock, or the reason it could not be.
struct HeldTable {
  std::string name;
  TABSDiskTableData* table = nullptr;
  std::optional<TABSTableData::ReadScope> read;
  std::string problem;
};

// The other way of an index: every entry names a record the walk read
// (`all`), under that record's key, and no record has two entries. An
// entry left behind by a lost index-page write (a deleted or rekeyed
// record) passes every count and order check, yet keeps its key taken.
void CheckIndexEntries(TABSBTreeRecordIndex& tree, int32_t sessionID,
                       const std::vector<std::pair<std::vector<char>, TABSRecordID>>& all, const std::string& iw,
                       std::vector<std::string>& problems) {
  const auto idKey = [](const TABSRecordID& id) { return (int64_t{id.pageNo} << 16) | id.rowNo; };
  std::unordered_map<int64_t, size_t> byId;
  for (size_t i = 0; i < all.size(); ++i) byId.emplace(idKey(all[i].second), i);
  std::unordered_map<int64_t, int32_t> entriesOf;
  int64_t noRecord = 0, otherKey = 0;
  // The tree passed its integrity check, so the walk ends; the bound only
  // keeps a damaged one from running on.
  const size_t bound = 2 * all.size() + 1000;
  TABSBTreePath path;
  size_t walked = 0;
  for (bool more = tree.First(sessionID, path); more && walked < bound; more = tree.Next(sessionID, path), ++walked) {
    const TABSRecordID id = tree.RecordIdAtPath(sessionID, path);
    const auto record = byId.find(idKey(id));
    if (record == byId.end()) {
      ++noRecord;
      continue;
    }
    ++entriesOf[record->first];
    TABSBTreePath own;
    if (!tree.FindKeyPath(sessionID, all[record->second].first.data(), id, own) || tree.CompareKeyPaths(path, own) != 0)
      ++otherKey;
  }
  const int64_t twice = std::count_if(entriesOf.begin(), entriesOf.end(), [](const auto& e) { return e.second > 1; });
  if (noRecord) problems.push_back(iw + std::to_string(noRecord) + " entries point at no record");
  if (otherKey) problems.push_back(iw + std::to_string(otherKey) + " entries hold another key than their record's");
  if (twice) problems.push_back(iw + std::to_string(twice) + " records with more than one entry");
}

// The checks of one table; every fault becomes a line of `problems`. The
// walks claim the pages they reach in `use`.
void CheckTable(TABSDiskDatabaseData& data, HeldTable& held, TABSSessionInfo& s, std::vector<std::string>& problems,
                TABSPageUse& use) {
  const std::string table = "table '" + held.name + "'";
  const std::string where = table + ": ";
  if (!held.read) {
    problems.push_back(where + held.problem);
    use.WalkFailed(table);
    return;
  }
  TABSDiskTableData& t = *held.table;
  CollectTablePages(t, s, table, use);
  TABSDiskRecordManager& records = t.DiskRecords();
  // Record pages: every indexed page is a valid record page of the table
  // whose count matches the index.
  int64_t counted = 0;
  try {
    for (const auto& [pageNo, count] : records.IndexedPages(s.sessionID)) {
      counted += count;
      use.Claim(pageNo, RecordPagesOwner(table), ptTableRecord);
      // The records of a page that is not the table's are not read, nor
      // are the BLOB values they refer to.
      TABSPage* page = nullptr;
      try {
        page = data.Pages().GetPage(s.sessionID, pageNo, true, ptTableRecord);
      } catch (const EABSException& x) {
        problems.push_back(where + "record page " + std::to_string(pageNo) + ": " + x.what());
        use.WalkFailed(table + " record page " + std::to_string(pageNo));
        continue;
      }
      const bool own = page->OwnerTableID() == t.TableID();
      data.Pages().PutPage(page);
      if (!own) {
        problems.push_back(where + "record page " + std::to_string(pageNo) + " belongs to another table");
        use.WalkFailed(table + " record page " + std::to_string(pageNo));
      }
    }
  } catch (const EABSException& x) {
    problems.push_back(where + "record page index: " + x.what());
    use.WalkFailed(table + " record page index");
  }
  if (counted != records.RecordCount())
    problems.push_back(where + "record page index counts " + std::to_string(counted) + " records, the table " +
                       std::to_string(records.RecordCount()));
  try {
    records.PageIndex().Tree().CheckIntegrity(s.sessionID);
    if (t.BlobSpace()) t.BlobSpace()->Index().Tree().CheckIntegrity(s.sessionID);
  } catch (const EABSException& x) {
    problems.push_back(where + "page index: " + x.what());
  }
  // Every record readable, with its BLOBs, in physical order as one read
  // operation.
  int64_t seen = 0;
  std::vector<std::pair<std::vector<char>, TABSRecordID>> all;
  try {
    TABSTableData::ReadScope read(t, s);
    t.IndexManager().ForEachRecord(s.sessionID, [&](const char* record, const TABSRecordID& id) {
      ++seen;
      ClaimRecordBlobs(t, s, record, id, table, use);
      for (int n = 0; n < t.FieldDefs().Count(); ++n) {
        if (!t.FieldDefs()[n]->IsBlob() || IsFieldNull(record, n)) continue;
        try {
          t.ReadBlobBuffer(s, record, n);
        } catch (const EABSException& x) {
          problems.push_back(where + "record " + std::to_string(id.pageNo) + ":" + std::to_string(id.rowNo) +
                             " field " + t.FieldDefs()[n]->Name() + ": " + x.what());
        }
      }
      all.emplace_back(std::vector<char>(record, record + t.FieldDefs().MemoryRecordSize()), id);
    });
  } catch (const EABSException& x) {
    problems.push_back(where + "records: " + x.what());
    use.WalkFailed(table + " records");
  }
  if (seen != records.RecordCount()) {
    problems.push_back(where + std::to_string(seen) + " records read, the table counts " +
                       std::to_string(records.RecordCount()));
    use.WalkFailed(table + " records");
  }
  // Indexes: order, entry count, every record found by its key.
  const TABSIndexDefs& defs = t.IndexManager().IndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    const std::string iw = where + "index '" + defs[i]->Name() + "': ";
    try {
      TABSIndex& index = t.IndexManager().IndexByID(defs[i]->ObjectID());
      std::vector<uint8_t> raw(data.Pages().PageSize());
      const int32_t root = defs[i]->rootPageNo;
      if (!data.Pages().ReadPage(root, raw.data()) || GetU16(raw.data() + kPgType) != ptTableIndex)
        problems.push_back(iw + "root page " + std::to_string(root) + " is not an index page");
      static_cast<TABSBTreeTableIndex&>(index).Tree().CheckIntegrity(s.sessionID);
      std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize())), prior(record.size());
      TABSGetRecordRequest q;
      q.mode = grmNext;
      q.indexID = defs[i]->ObjectID();
      q.beforeFirst = true;
      q.destination = record.data();
      int64_t entries = 0;
      bool ordered = true;
      // Each step follows the tree from the last entry (the position cache),
      // never a search from the record's key: an entry whose record holds a
      // smaller key would send such a search back round in a circle.
      TABSIndexPositionCache position;
      for (;;) {
        index.GetRecord(s.sessionID, q, &position);
        if (q.result != grrFound) break;
        if (entries > 0 && index.CompareRecordKeys(prior.data(), record.data(), -1) > 0) ordered = false;
        prior = record;
        q.beforeFirst = false;
        if (++entries > records.RecordCount() + 1) break;
      }
      if (!ordered) problems.push_back(iw + "entries out of order");
      if (entries != records.RecordCount())
        problems.push_back(iw + std::to_string(entries) + " entries, the table counts " +
                           std::to_string(records.RecordCount()));
      int64_t missing = 0;
      for (const auto& [bytes, id] : all) {
        TABSKeyPath path;
        if (!index.FindKeyPath(s.sessionID, bytes.data(), id, path)) ++missing;
      }
      if (missing) problems.push_back(iw + std::to_string(missing) + " records not found by their key");
      CheckIndexEntries(static_cast<TABSBTreeTableIndex&>(index).Tree(), s.sessionID, all, iw, problems);
    } catch (const EABSException& x) {
      problems.push_back(iw + x.what());
    }
  }
}

// The header's commit state and page figures, read straight from the file
// before the check opens it: an open refuses a header whose figures no database has with
// "Invalid database format" alone, the check names the figure
// (DiskPageManagerFile.h contract 3). A file without a readable header and
// lock area is left to the open to report.
void CheckPageFigures(const std::string& fileName, std::vector<std::string>& problems) {
  try {
    TABSDatabaseFile file;
    file.OpenFile(fileName, 0, 1);
    const int64_t start = file.FindSignature();
    uint8_t bytes[kHeaderSize];
    uint8_t lockAreaSize[kLockAreaReadSize];
    const int64_t lockArea = start + kHeaderSize + kCheckBlockSize;
    TABSDatabaseHeader header;
    if (!file.ReadBuffer(bytes, start, kHeaderSize) || !file.ReadBuffer(lockAreaSize, lockArea, kLockAreaReadSize))
      return;
    header.Decode(bytes);
    const int16_t areaSize = GetI16(lockAreaSize + kLockAreaSizeField);
    if (std::memcmp(header.Signature.data(), kSignature, kSignatureSize) != 0 || header.HeaderSize != kHeaderSize ||
        header.PageSize < kMinPageSize || areaSize < kMinLockAreaSize)
      return;
    // A header left at State 1 stands over a commit that stopped half-way:
    // some of its pages may be written, others not, so no walk below can
    // tell whether what it reads is one commit's pages. Only a rebuild
    // from what can still be read makes the file whole again.
    if (header.State == kStateCommitting)
      problems.push_back("header: State 1: a commit was interrupted; run zudadmin repair");
    else if (header.State != kStateConsistent)
      problems.push_back("header: State " + std::to_string(header.State) +
                         " is no state of a database file (2 = consistent); run zudadmin repair");
    for (const std::string& fault :
         header.PageFigureFaults(lockArea + areaSize + kNextObjectIdSize, file.GetSize(), true))
      problems.push_back("header: " + fault);
  } catch (const EABSException&) {
    // the open says what keeps the file from being read
  }
}

// The pages the check covers: the header's page count, but no more than
// the file holds, so a damaged count sizes nothing; a claim past them is
// "lies past the end of the file".
int32_t PagesToJudge(TABSDiskPageManager& pm, std::vector<std::string>& problems) {
  const int32_t counted = pm.GetPageCount();
  const int64_t bytes = pm.File().GetSize() - pm.PageAreaOffset();
  const int64_t held = bytes > 0 ? bytes / pm.PageSize() : 0;
  if (counted <= held) return counted;
  problems.push_back("database: the header counts " + std::to_string(counted) + " pages, the file holds " +
                     std::to_string(held));
  return static_cast<int32_t>(held);
}

// The check's connection: one more multi-user connection, for the check's
// life.
struct CheckConnection {
  TABSDiskDatabaseData data;
  TABSSessionInfo session;
  CheckConnection(const std::string& file, const TABSPassword& password, const TABSCheckOptions& options)
      : data("CHECK", options.fileSystem ? *options.fileSystem : tiv::os::FileSystem::Default()) {
    session.multiUser = true;
    data.Open(file, password, true, false);
    if (options.boundLockWaits) data.SetLockWaits(options.lockWaits);
    data.Connect(session);
  }
  ~CheckConnection() {
    try {
      data.Disconnect(session);
    } catch (const EABSException&) {
      // closing anyway
    }
  }
};

}  // namespace

std::vector<std::string> TABSCheckReport::Lines() const {
  std::vector<std::string> lines;
  for (const std::string& p : problems) lines.push_back("problem: " + p);
  for (const std::string& n : notes) lines.push_back("note: " + n);
  if (Ok()) lines.emplace_back("ok");
  return lines;
}

TABSCheckReport CheckDatabase(const std::string& fileName, const TABSPassword& password,
                              const TABSCheckOptions& options) {
  TABSCheckReport report;
  std::vector<std::string>& problems = report.problems;
  // A rollback journal beside the file is played back (or found stale) by
  // the check's own open, as by any open; the header is judged after it.
  tiv::os::FileSystem& fs = options.fileSystem ? *options.fileSystem : tiv::os::FileSystem::Default();
  tiv::os::FileInfo journal;
  const bool journalPending =
      fs.Stat(TABSRollbackJournal::PathFor(fileName), journal).ok() && journal.exists && journal.size > 0;
  if (!journalPending) CheckPageFigures(fileName, problems);
  try {
    CheckConnection c(fileName, password, options);
    if (journalPending) CheckPageFigures(fileName, problems);
    TABSDiskPageManager& pm = c.data.Pages();
    std::vector<TABSTableListEntry> tables;
    bool listRead = true;
    try {
      tables = c.data.Tables(c.session);
    } catch (const EABSException& x) {
      problems.push_back(std::string("table list: ") + x.what());
      listRead = false;
    }
    // Every table held still for the whole check: its read lock keeps out
    // other connections' record changes, empty, drop, rename and index
    // changes, and the database tables lock the creation of tables, so
    // what the pages say does not move under the walks. Every table is
    // opened first: opening takes the tables lock itself, and a byte lock
    // does not nest. A table that cannot be held is reported by its check.
    std::deque<HeldTable> held;
    for (const TABSTableListEntry& e : tables) {
      HeldTable& h = held.emplace_back();
      h.name = e.TableName;
      try {
        h.table = &c.data.OpenTable(c.session, e.TableName);
      } catch (const EABSException& x) {
        h.problem = std::string("metadata: ") + x.what();
        continue;
      }
      try {
        h.read.emplace(*h.table, c.session);
      } catch (const EABSException& x) {
        h.problem = x.what();
      }
    }
    std::optional<TABSDatabaseTablesLock> noNewTables;
    try {
      noNewTables.emplace(pm);
    } catch (const EABSException& x) {
      problems.push_back(std::string("database: ") + x.what());
    }
    // Every page in use: its signature, CRC and header as the page reader
    // checks them. Judged after the walks (contract 5).
    std::vector<std::pair<int32_t, std::string>> pageFaults;
    const int32_t total = PagesToJudge(pm, problems);
    std::vector<uint8_t> raw(pm.PageSize());
    for (int32_t n = 0; n < total; ++n) {
      try {
        if (!pm.FreeSpaceManager().IsPageUsed(n)) continue;
      } catch (const EABSException&) {
        break;  // a map page the map cannot read: the comparison below reports it
      }
      if (!pm.ReadPage(n, raw.data())) {
        pageFaults.emplace_back(n, "unreadable");
        continue;
      }
      if (std::memcmp(raw.data() + kPgSignature, kPageSignature, 4) != 0) {
        pageFaults.emplace_back(n, "no page signature");
        continue;
      }
      // The free-space map's own pages are read by the map itself.
      const uint16_t type = GetU16(raw.data() + kPgType);
      if (type == ptPFS || type == ptEAM) continue;
      try {
        TABSPage* page = pm.GetPage(c.session.sessionID, n, true, ptAny);
        pm.PutPage(page);
      } catch (const EABSException& x) {
        pageFaults.emplace_back(n, x.what());
      }
    }
    // The free-space map against the pages the structures reach.
    TABSPageUse use(total);
    CollectSystemPages(c.data, c.session, total, use);
    if (!listRead) use.WalkFailed("table list");
    for (HeldTable& h : held) CheckTable(c.data, h, c.session, problems, use);
    const int32_t others = c.data.OtherConnections(c.session);
    use.Compare(pm, others, report);
    std::vector<std::string> pageProblems;
    for (const auto& [n, what] : pageFaults)
      if (others == 0 || use.Claimed(n)) pageProblems.push_back("page " + std::to_string(n) + ": " + what);
    problems.insert(problems.begin(), pageProblems.begin(), pageProblems.end());
    noNewTables.reset();
    held.clear();
    // A check never writes: what its reads left in the session goes.
    c.data.Pages().RollbackSession(c.session.sessionID);
  } catch (const EABSException& x) {
    problems.push_back(std::string("database: ") + x.what());
  }
  return report;
}

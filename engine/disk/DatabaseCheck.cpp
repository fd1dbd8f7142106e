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
#include "disk/RollbackJournal.h"

using namespace tiv::disk;

namespace {

// Who reached which page, for the page-use contract of DatabaseCheck.h.
class TABSPageUse {
 public:
  explicit TABSPageUse(int32_t pageCount)
      : owner_(static_cast<size_t>(std::max(pageCount, 0))), reported_(owner_.size(), false) {}

  // Records that `owner` reaches the page, a page of type `type`; one
  // owner claiming a page again is one use (contract 3).
  void Claim(int32_t pageNo, const std::string& owner, uint16_t type);
  void Claim(const std::vector<int32_t>& pages, const std::string& owner, uint16_t type) {
    for (const int32_t p : pages) Claim(p, owner, type);
  }
  // A walk stopped at damage: the pages it would have reached are unknown
  // (contract 2). The first failed walk is the one named.
  void WalkFailed(const std::string& what) {
    if (failedWalk_.empty()) failedWalk_ = what;
  }
  bool Complete() const { return failedWalk_.empty(); }
  bool Claimed(int32_t pageNo) const {
    return pageNo >= 0 && static_cast<size_t>(pageNo) < owner_.size() &&
           !owner_[static_cast<size_t>(pageNo)].name.empty();
  }

  // Contracts 1 to 5; appends the problem lines and the notes.
  void Compare(TABSDiskPageManager& pm, int32_t otherConnections, TABSCheckReport& report) const;

 private:
  struct Owner {
    std::string name;  // empty: nobody reached the page
    uint16_t type = 0;
  };
  std::vector<Owner> owner_;  // per page
  std::vector<std::string> conflicts_;
  std::vector<bool> reported_;  // a page already in conflicts_
  std::string failedWalk_;
};

void TABSPageUse::Claim(int32_t pageNo, const std::string& owner, uint16_t type) {
  if (pageNo < 0 || static_cast<size_t>(pageNo) >= owner_.size()) {
    conflicts_.push_back("page " + std::to_string(pageNo) + " (" + owner + ") lies past the end of the file");
    return;
  }
  Owner& current = owner_[static_cast<size_t>(pageNo)];
  if (current.name.empty()) {
    current = {owner, type};
  } else if (current.name != owner && !reported_[static_cast<size_t>(pageNo)]) {
    reported_[static_cast<size_t>(pageNo)] = true;
    conflicts_.push_back("page " + std::to_string(pageNo) + " is used twice: " + current.name + " and " + owner);
  }
}

void TABSPageUse::Compare(TABSDiskPageManager& pm, int32_t otherConnections, TABSCheckReport& report) const {
  std::vector<std::string>& problems = report.problems;
  problems.insert(problems.end(), conflicts_.begin(), conflicts_.end());
  TABSDatabaseFreeSpaceManager& map = pm.FreeSpaceManager();
  int64_t unjudged = 0, unowned = 0;
  try {
    for (size_t n = 0; n < owner_.size(); ++n) {
      const int32_t pageNo = static_cast<int32_t>(n);
      const Owner& owner = owner_[n];
      const bool used = map.IsPageUsed(pageNo);
      if (owner.name.empty()) {
        if (used && !Complete())
          ++unjudged;
        else if (used && otherConnections > 0)
          ++unowned;
        else if (used)
          problems.push_back("page " + std::to_string(pageNo) + " is marked used but nothing uses it");
        continue;
      }
      const std::string page = "page " + std::to_string(pageNo) + " (" + owner.name + ")";
      if (!used) problems.push_back(page + " is in use but free in the free-space map");
      uint8_t type[2];
      pm.ReadPageBytes(type, pageNo, 2, kPgType);
      if (GetU16(type) != owner.type)
        problems.push_back(page + " has page type '" + PageTypeText(GetU16(type)) + "', expected '" +
                           PageTypeText(owner.type) + "'");
    }
  } catch (const EABSException& x) {
    problems.push_back(std::string("free-space map: ") + x.what());
    return;
  }
  if (unjudged > 0)
    problems.push_back(std::to_string(unjudged) + (unjudged == 1 ? " page" : " pages") +
                       " marked used not reached; not judged as leaks, the walk of " + failedWalk_ +
                       " stopped at damage");
  if (unowned > 0)
    report.notes.push_back(std::to_string(unowned) + (unowned == 1 ? " page" : " pages") +
                           " marked used that nothing reaches; not judged as leaks while " +
                           std::to_string(otherConnections) +
                           (otherConnections == 1 ? " other connection is" : " other connections are") + " open");
}

// Runs one walk; a walk that raises leaves the pages it would have reached
// unknown. The damage itself is reported by the checks of the structure.
template <typename Walk>
void Walking(TABSPageUse& use, const std::string& what, Walk walk) {
  try {
    walk();
  } catch (const EABSException&) {
    use.WalkFailed(what);
  }
}

void ClaimTree(TABSPageUse& use, TABSBTree& tree, int32_t sessionID, const std::string& owner) {
  std::vector<int32_t> pages;
  Walking(use, owner, [&] { tree.CollectPages(sessionID, pages); });
  use.Claim(pages, owner, ptTableIndex);  // what was reached before any damage
}

void ClaimChain(TABSPageUse& use, TABSInternalDBTransactedAccessFile& file, int32_t sessionID,
                const std::string& owner) {
  Walking(use, owner, [&] { use.Claim(file.ChainPages(sessionID), owner, file.PageType()); });
}

std::string SmallBlobPagesOwner(const std::string& table) { return table + " small BLOB pages"; }

// Owner text of a table's record pages, as the record walk claims them.
std::string RecordPagesOwner(const std::string& table) { return table + " record pages"; }

// The map pages, the system directory, the table list and the active
// sessions file.
void CollectSystemPages(TABSDiskDatabaseData& data, TABSSessionInfo& s, int32_t total, TABSPageUse& use) {
  TABSDiskPageManager& pm = data.Pages();
  TABSDatabaseFreeSpaceManager& map = pm.FreeSpaceManager();
  for (int32_t k = 0; static_cast<int64_t>(map.PfsPageNo(k)) < total; ++k)
    use.Claim(map.PfsPageNo(k), "free-space map", ptPFS);
  for (int32_t k = 0; static_cast<int64_t>(k) * map.PagesPerEam() < total; ++k)
    if (map.EamPageNo(k) < total) use.Claim(map.EamPageNo(k), "free-space map", ptEAM);
  TABSDiskDatabase& disk = data.Disk();
  ClaimChain(use, disk.SystemDirectory().File(), s.sessionID, "system directory");
  ClaimChain(use, disk.TableList().File(), s.sessionID, "table list");
  use.Claim(disk.SessionsFile().PageList(), "active sessions file", ptActiveSessionList);
}

// A table's files and trees: metadata, most-updated and locks files; the
// record page index, every index and the BLOB page index with the small
// BLOB pages it lists. `table` ("table 'NAME'") starts every owner text.
// The record pages and the records' BLOB values are claimed by the record
// walks of CheckTable (RecordPagesOwner, ClaimRecordBlobs).
void CollectTablePages(TABSDiskTableData& t, TABSSessionInfo& s, const std::string& table, TABSPageUse& use) {
  ClaimChain(use, t.MetadataFile(), s.sessionID, table + " metadata");
  ClaimChain(use, t.MostUpdatedFile(), s.sessionID, table + " most-updated file");
  use.Claim(t.LocksFile().PageList(), table + " locks file", ptTableLocks);
  ClaimTree(use, t.DiskRecords().PageIndex().Tree(), s.sessionID, table + " record page index");
  const TABSIndexDefs& defs = t.IndexManager().IndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    const std::string owner = table + " index '" + defs[i]->Name() + "'";
    Walking(use, owner, [&] {
      auto& index = static_cast<TABSBTreeTableIndex&>(t.IndexManager().IndexByID(defs[i]->ObjectID()));
      ClaimTree(use, index.Tree().Tree(), s.sessionID, owner);
    });
  }
  if (TABSBTreeBlobPageSpace* space = t.BlobSpace()) {
    ClaimTree(use, space->Index().Tree(), s.sessionID, table + " BLOB page index");
    Walking(use, table + " BLOB page index", [&] {
      TABSBTreeBlobPageIndex& index = space->Index();
      TABSBTreePath path;
      for (bool more = index.First(s.sessionID, path); more; more = index.Next(s.sessionID, path))
        use.Claim(index.KeyAt(s.sessionID, path), SmallBlobPagesOwner(table), ptTableBlob);
    });
  }
}

// The pages of the stored BLOB values of one record read by the check.
void ClaimRecordBlobs(TABSDiskTableData& t, TABSSessionInfo& s, const char* record, const TABSRecordID& id,
                      const std::string& table, TABSPageUse& use) {
  TABSDiskBlobManager* blobs = t.DiskBlobs();
  if (!blobs) return;
  const TABSFieldDefs& fields = t.FieldDefs();
  for (int n = 0; n < fields.Count(); ++n) {
    if (!fields[n]->IsBlob() || IsFieldNull(record, n)) continue;
    const TABSBlobReference ref = TABSBlobReference::Read(record + fields[n]->MemoryOffset());
    const std::string owner =
        table + " record " + std::to_string(id.pageNo) + ":" + std::to_string(id.rowNo) + " field " + fields[n]->Name();
    Walking(use, owner, [&] {
      bool small = false;
      const std::vector<int32_t> pages = blobs->ValuePages(s.sessionID, ref, small);
      // A small value's page is shared with the other small values.
      use.Claim(pages, small ? SmallBlobPagesOwner(table) : owner, ptTableBlob);
    });
  }
}

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

// The page-use walk (PageUse.h): the claims of every structure, the
// check's judgement of them, and the sweep of what dead connections left.
#include "disk/PageUse.h"

#include <algorithm>

#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDRecordLayout.h"
#include "disk/DiskBytes.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskFormat.h"
#include "disk/FreeSpaceMap.h"

using namespace tiv::disk;

TABSPageUse::TABSPageUse(int32_t pageCount)
    : owner_(static_cast<size_t>(std::max(pageCount, 0))), reported_(owner_.size(), false) {}

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

namespace {

void ClaimTree(TABSPageUse& use, TABSBTree& tree, int32_t sessionID, const std::string& owner) {
  std::vector<int32_t> pages;
  Walking(use, owner, [&] { tree.CollectPages(sessionID, pages); });
  use.Claim(pages, owner, ptTableIndex);  // what was reached before any damage
}

void ClaimChain(TABSPageUse& use, TABSInternalDBTransactedAccessFile& file, int32_t sessionID,
                const std::string& owner) {
  Walking(use, owner, [&] { use.Claim(file.ChainPages(sessionID), owner, file.PageType()); });
}

}  // namespace

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

std::vector<int32_t> TABSPageUse::Unreached(TABSDiskPageManager& pm) const {
  TABSDatabaseFreeSpaceManager& map = pm.FreeSpaceManager();
  std::vector<int32_t> pages;
  for (size_t n = 0; n < owner_.size(); ++n)
    if (owner_[n].name.empty() && map.IsPageUsed(static_cast<int32_t>(n))) pages.push_back(static_cast<int32_t>(n));
  return pages;
}

int32_t ReclaimUnreachedPages(TABSDiskDatabaseData& data, TABSSessionInfo& s) {
  TABSDiskPageManager& pm = data.Pages();
  // A dead commit's pages are put back before anything is judged: a walk
  // over half-written pages would call the wrong ones unreached.
  pm.RecoverIfCommitDied();
  const int32_t total = pm.GetPageCount();
  // A header that counts more pages than the file holds is damage: the
  // check names it, the sweep keeps off.
  if (pm.File().GetSize() - pm.PageAreaOffset() < int64_t{total} * pm.PageSize()) return -1;
  TABSPageUse use(total);
  CollectSystemPages(data, s, total, use);
  std::vector<TABSTableListEntry> tables;
  Walking(use, "table list", [&] { tables = data.Tables(s); });
  for (const TABSTableListEntry& e : tables) {
    const std::string table = "table '" + e.TableName + "'";
    Walking(use, table, [&] {
      TABSDiskTableData& t = data.OpenTable(s, e.TableName);
      // One read operation for the whole table, as the check holds it: the
      // table's state is the file's as it is now, for every walk below.
      TABSTableData::ReadScope read(t, s);
      CollectTablePages(t, s, table, use);
      for (const auto& [pageNo, count] : t.DiskRecords().IndexedPages(s.sessionID))
        use.Claim(pageNo, RecordPagesOwner(table), ptTableRecord);
      if (!t.DiskBlobs()) return;
      t.IndexManager().ForEachRecord(s.sessionID, [&](const char* record, const TABSRecordID& id) {
        ClaimRecordBlobs(t, s, record, id, table, use);
      });
    });
  }
  if (!use.Complete() || use.Conflicts()) return -1;
  const std::vector<int32_t> pages = use.Unreached(pm);
  pm.ReleaseDeadSessionPages(pages);
  return static_cast<int32_t>(pages.size());
}

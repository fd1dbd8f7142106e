// PageUse: which structure reaches which page of a database file, and the
// pages marked used in the free-space map that nothing reaches.
//
// Two callers walk the file this way: the check (DatabaseCheck.h), which
// holds the claims against the map and reports every disagreement, and the
// sweep of dead connections (ReclaimUnreachedPages below), which gives back
// the pages a connection took from the map and died before any structure
// reached them.
//
// What reaches a page. Between commits every page marked in use in a PFS
// page is reached by exactly one of these, and nothing else takes pages:
//   - the free-space map itself: PFS page k at k*P and EAM page k at k*XE
//     (k*XE + 1 when that is a PFS page), placed by arithmetic and marked
//     in use when they are made (FreeSpaceMap.h). Page 0 is PFS page 0 and
//     page 1 EAM page 0;
//   - the system directory, a chain from page 2, and the two files it
//     names: the table list (a chain) and the active sessions file (a
//     direct file);
//   - per table, from its table list entry: the metadata and most-updated
//     chains and the locks file; from the metadata: the record page index
//     tree, every index tree (root in its definition) and the BLOB page
//     index tree;
//   - the record pages, reached through the record page index;
//   - the small BLOB pages, listed by the BLOB page index and named by
//     the references of the records whose values they hold; they are
//     shared by many values, so every claim of one is the table's;
//   - a large BLOB value's data pages and page-list pages, reached through
//     the reference in its record; they belong to that record's field.
//
// Contract
//  1. A walk that raises an engine error leaves the pages it would have
//     reached unknown: the use is then not Complete, and nothing may be
//     judged unreached.
//  2. One owner claiming a page again is one use; two owners of one page
//     are a conflict, recorded once per page.
//  3. ReclaimUnreachedPages frees a page only when the walk of every
//     structure finished without damage and without conflict, and only a
//     page the map marks used that no walk claimed, never a map page nor
//     the system directory's first page. The caller must own the file
//     alone: pages another connection took for a transaction it has not
//     committed yet are marked used and reached by nothing too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/DatabaseCheck.h"

class TABSDiskDatabaseData;
class TABSDiskTableData;
class TABSDiskPageManager;
class TABSBTree;
class TABSInternalDBTransactedAccessFile;
struct TABSSessionInfo;
struct TABSRecordID;

class TABSPageUse {
 public:
  explicit TABSPageUse(int32_t pageCount);

  // Records that `owner` reaches the page, a page of type `type`.
  void Claim(int32_t pageNo, const std::string& owner, uint16_t type);
  void Claim(const std::vector<int32_t>& pages, const std::string& owner, uint16_t type) {
    for (const int32_t p : pages) Claim(p, owner, type);
  }
  // A walk stopped at damage; the first failed walk is the one named.
  void WalkFailed(const std::string& what) {
    if (failedWalk_.empty()) failedWalk_ = what;
  }
  bool Complete() const { return failedWalk_.empty(); }
  bool Conflicts() const { return !conflicts_.empty(); }
  bool Claimed(int32_t pageNo) const {
    return pageNo >= 0 && static_cast<size_t>(pageNo) < owner_.size() &&
           !owner_[static_cast<size_t>(pageNo)].name.empty();
  }

  // The check's judgement (DatabaseCheck.h contracts 1 to 5): appends the
  // problem lines and the notes.
  void Compare(TABSDiskPageManager& pm, int32_t otherConnections, TABSCheckReport& report) const;
  // The pages the map marks used that no walk claimed (contract 3 decides
  // whether they may go).
  std::vector<int32_t> Unreached(TABSDiskPageManager& pm) const;

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

// Runs one walk; a walk that raises leaves the pages it would have reached
// unknown (contract 1). The damage itself is the check's to report.
template <typename Walk>
void Walking(TABSPageUse& use, const std::string& what, Walk walk) {
  try {
    walk();
  } catch (const EABSException&) {
    use.WalkFailed(what);
  }
}

// Owner texts: `table` is "table 'NAME'".
std::string SmallBlobPagesOwner(const std::string& table);
std::string RecordPagesOwner(const std::string& table);

// The map pages, the system directory, the table list and the active
// sessions file, of a file of `total` pages.
void CollectSystemPages(TABSDiskDatabaseData& data, TABSSessionInfo& s, int32_t total, TABSPageUse& use);
// A table's files and trees: metadata, most-updated and locks files; the
// record page index, every index and the BLOB page index with the small
// BLOB pages it lists. The record pages and the records' BLOB values are
// claimed by the record walks (RecordPagesOwner, ClaimRecordBlobs).
void CollectTablePages(TABSDiskTableData& t, TABSSessionInfo& s, const std::string& table, TABSPageUse& use);
// The pages of the stored BLOB values of one record.
void ClaimRecordBlobs(TABSDiskTableData& t, TABSSessionInfo& s, const char* record, const TABSRecordID& id,
                      const std::string& table, TABSPageUse& use);

// Contract 3: walks every structure of the file through `session` (a
// connection that owns the file alone) and frees the pages nothing reaches.
// Answers how many it freed, or -1 when the walk met damage or a conflict
// and nothing was freed. Engine errors of the freeing itself are raised.
int32_t ReclaimUnreachedPages(TABSDiskDatabaseData& data, TABSSessionInfo& session);

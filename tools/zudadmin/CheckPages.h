// CheckPages: the part of `zudadmin check` that holds the free-space map
// against the pages the database's structures reach, both ways.
//
// Between commits every page marked in use in a PFS page is reached by
// exactly one of these, and nothing else takes pages:
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
//  1. A page claimed by a walk whose PFS bit is clear gives
//     "page N (OWNER) is in use but free in the free-space map".
//  2. A page marked in use that no walk claimed gives
//     "page N is marked used but nothing uses it", but only when every
//     walk finished: after a walk stopped at damage (already reported by
//     the check) the pages it would have reached are unknown, so such
//     pages are summed up in one line, "K pages marked used not reached;
//     not judged as leaks, the walk of WHAT stopped at damage", instead of
//     flooding the report with false leaks.
//  3. A page claimed by two different owners gives
//     "page N is used twice: OWNER1 and OWNER2" (once per page); a claim
//     past the end of the page area gives "page N (OWNER) lies past the
//     end of the file".
//  4. Every owner knows the page type its pages carry. A claimed page of
//     another type on disk gives "page N (OWNER) has page type 'FOUND',
//     expected 'EXPECTED'": not every claim comes from a read that asks
//     the page manager for the type (pages named by a list or a reference
//     are claimed without being read).
//  5. Pages that another connection allocated for changes it has not
//     committed yet are marked used and reached by nothing, exactly like
//     leaks. So while other connections are open (the check holds every
//     table's read lock, which keeps out changes outside a transaction but
//     not a transaction already under way) unreached pages are not judged:
//     one note says how many there are ("note: K pages marked used that
//     nothing reaches; not judged as leaks while N other connections are
//     open"), and a check with the database to itself judges them. Such a
//     page may not even have been written yet: a page the first pass found
//     unreadable or without a signature is a fault only when a walk
//     reaches it or no other connection is open.
//  6. Reading only: every walk goes through the check's session, which
//     the check rolls back; page types are read straight from the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/DiskDatabaseData.h"

class TABSPageUse {
 public:
  explicit TABSPageUse(int32_t pageCount);

  // Records that `owner` reaches the page, a page of type `type`; one
  // owner claiming a page again is one use (contract 3).
  void Claim(int32_t pageNo, const std::string& owner, uint16_t type);
  void Claim(const std::vector<int32_t>& pages, const std::string& owner, uint16_t type);
  // A walk stopped at damage: the pages it would have reached are unknown
  // (contract 2). The first failed walk is the one named.
  void WalkFailed(const std::string& what);
  bool Complete() const { return failedWalk_.empty(); }
  bool Claimed(int32_t pageNo) const {
    return pageNo >= 0 && static_cast<size_t>(pageNo) < owner_.size() &&
           !owner_[static_cast<size_t>(pageNo)].name.empty();
  }

  // Contracts 1 to 5; appends the problem lines and the notes.
  void Compare(TABSDiskPageManager& pm, int32_t otherConnections, std::vector<std::string>& problems,
               std::vector<std::string>& notes) const;

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

// The map pages, the system directory, the table list and the active
// sessions file.
void CollectSystemPages(TABSDiskDatabaseData& data, TABSSessionInfo& s, TABSPageUse& use);

// A table's files and trees: metadata, most-updated and locks files; the
// record page index, every index and the BLOB page index with the small
// BLOB pages it lists. `table` ("table 'NAME'") starts every owner text.
// The record pages and the records' BLOB values are claimed by the record
// walks of the check (RecordPagesOwner, ClaimRecordBlobs).
void CollectTablePages(TABSDiskTableData& t, TABSSessionInfo& s, const std::string& table, TABSPageUse& use);

// The pages of the stored BLOB values of one record read by the check.
void ClaimRecordBlobs(TABSDiskTableData& t, TABSSessionInfo& s, const char* record, const TABSRecordID& id,
                      const std::string& table, TABSPageUse& use);

// Owner text of a table's record pages, as the record walk claims them.
std::string RecordPagesOwner(const std::string& table);

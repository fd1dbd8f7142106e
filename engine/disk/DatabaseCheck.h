// DatabaseCheck: the engine's check of a whole database file. It answers
// the faults it finds as text instead of raising; `zudadmin check` prints
// them, and any other caller (a repair, a shell) gets the same lines.
//
// What it checks, in this order of the report:
//   - the header's commit state: "header: State 1: a commit was
//     interrupted; run zudadmin repair" (the pages may hold part of a
//     commit; the file opens with NeedRepair and refuses every commit),
//     "header: State N is no state of a database file (2 = consistent);
//     run zudadmin repair" for any other value but 2;
//   - the header's page figures, read from the file before the check opens
//     it (DiskPageManagerFile.h contract 3, DiskDatabase.h contract 2):
//     "header: LastUsedPageNo L is not below TotalPageCount T",
//     "header: LastUsedPageNo L is below 2: the system directory at page 2
//     is in use", "header: the page area of T pages ends at byte E, past
//     the end of the file (F bytes)" (and "... is negative", "... is below
//     -1"); the open then refuses the file ("database: Invalid database
//     format", below);
//   - every page the free-space map marks used: readable, with its page
//     signature, and (map pages aside, the map reads those itself) its
//     header and DataCRC as the page reader checks them:
//     "page N: unreadable", "page N: no page signature", "page N: MESSAGE"
//     (a DataCRC that fails: 20300, on plain pages too); a map page the
//     map cannot read ends this pass and is reported by the comparison
//     ("free-space map: MESSAGE");
//   - the table list ("table list: MESSAGE"), and per table ("table 'T': "
//     before each line): its metadata ("metadata: MESSAGE"); the record
//     page index against the record pages it lists ("record page N:
//     MESSAGE", "record page N belongs to another table", "record page
//     index: MESSAGE", "record page index counts C records, the table
//     R"); the page index and BLOB page index trees ("page index:
//     MESSAGE"); every record read with its BLOB values ("record P:R field
//     F: MESSAGE", "records: MESSAGE", "S records read, the table counts
//     R"); every index ("index 'I': " before each line): its root page
//     ("root page N is not an index page"), its tree, its order ("entries
//     out of order"), its entry count ("E entries, the table counts R"),
//     every record found by its key ("K records not found by their key"),
//     and the other way every entry naming a record read, under that
//     record's key, once ("K entries point at no record", "K entries hold
//     another key than their record's", "K records with more than one
//     entry": what a lost index-page write leaves), or the error that
//     stopped it ("MESSAGE");
//   - the free-space map against the pages the structures reach, both
//     ways (the page-use contract below);
//   - "database: MESSAGE" when the file cannot be opened or connected to
//     (a wrong password among them), or the database tables lock cannot
//     be had; "database: the header counts N pages, the file holds M"
//     when the file is shorter than its header says: the check then
//     covers the M pages the file holds, and nothing it allocates is sized
//     by the header's count.
//
// The pages the walks reach. Between commits every page marked in use in
// a PFS page is reached by exactly one of these, and nothing else takes
// pages:
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
//  5. Beside other connections. The check is one more multi-user
//     connection (it takes a slot of the active sessions file). It opens
//     every table first, then holds every table's read lock and the
//     database tables lock from its first page read to its last walk, and
//     lets them go before it returns: other connections' record changes,
//     empty, drop, rename, index changes and the creation of tables wait
//     meanwhile, so what the pages say does not move under the walks. A
//     table whose read lock cannot be had is reported by its check
//     ("table 'T': MESSAGE") and not walked, so the pages marked used
//     that nothing reached are summed up as contract 2 says. The read locks
//     do not keep out a transaction already under way, and pages another
//     connection allocated for changes it has not committed yet are marked
//     used and reached by nothing, exactly like leaks. So while other
//     connections are open unreached pages are not judged: one note says
//     how many there are ("K pages marked used that nothing reaches; not
//     judged as leaks while N other connections are open"), and a check
//     with the database to itself judges them. Such a page may not even
//     have been written yet: a page the first pass found unreadable or
//     without a signature is a fault only when a walk reaches it or no
//     other connection is open.
//  6. It never writes: every walk goes through the check's own session,
//     which the check rolls back before it disconnects; page types and raw
//     pages are read straight from the file. The file's bytes are the same
//     after a check, whatever it found.
//  7. Failures: an engine error (EABSException) becomes a line of the
//     report, never an exception; anything else (out of memory) is raised.
#pragma once

#include <string>
#include <vector>

#include "disk/DiskCrypto.h"
#include "disk/DiskPageManagerFile.h"
#include "os/OsFile.h"

struct TABSCheckReport {
  // One fault each, the texts above, without a prefix.
  std::vector<std::string> problems;
  // What could not be judged beside other connections (contract 5).
  std::vector<std::string> notes;

  bool Ok() const { return problems.empty(); }
  // The report as `zudadmin check` prints it: "problem: ..." per problem,
  // then "note: ..." per note, then "ok" when there is no problem.
  std::vector<std::string> Lines() const;
};

// How the check reaches its file: the file system it opens it through (the
// real one unless given), and, when set, a bound on every lock wait of its
// connection (TABSDiskDatabaseData::SetLockWaits) for a caller that owns the
// file alone, where a wait could only be on the check itself.
struct TABSCheckOptions {
  tiv::os::FileSystem* fileSystem = nullptr;
  bool boundLockWaits = false;
  TABSLockRetry lockWaits{1, 0};
};

// Checks the database file `fileName`, opened with `password` (empty for a
// plain database), as one more multi-user connection.
TABSCheckReport CheckDatabase(const std::string& fileName, const TABSPassword& password,
                              const TABSCheckOptions& options = {});

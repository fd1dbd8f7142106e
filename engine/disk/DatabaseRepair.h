// DatabaseRepair: the engine's repair of a database file. It rebuilds the
// file from whatever of it can still be read: a file left at State 1 by a
// commit that stopped half-way (and no journal to roll it back), a file
// with record pages that fail their CRC, BLOB values that cannot be read.
// `zudadmin repair` prints its report; any other caller gets the same.
//
// How a repair goes:
//   1. The damaged file is opened single-user and read-only: the repair
//      never writes a byte of it. A file another connection holds is
//      refused ("Error - database file %s is in use.", 10461), since the
//      copy would miss its changes and the swap would pull the file from
//      under it.
//   2. A new database is made beside it, `<file>.tmp` (one left by an
//      earlier repair that died is replaced), with the page size, extent,
//      MaxConnections, password and cipher of the damaged one.
//   3. Every table of the table list whose metadata and most-updated file
//      can be read is created anew with its fields, indexes and constraints;
//      its records are copied, and its autoincrement counters carried over
//      (never below what the table drew, so no value is handed out twice).
//      Records are found by the headers of the pages, not through the
//      record page index, which the damage may have hit: every page in use
//      whose header says it is a record page of the table (type 10, its
//      TableID, not released) is read, in page order; each one the record
//      page index names but that is no such page is reported lost. This is
//      what the rebuild of the record page index does
//      (TABSDiskRecordManager::RebuildPageIndex), without writing an index.
//   4. What cannot be copied is reported and skipped, never guessed:
//        - a record page that fails to read (its DataCRC, an unreadable
//          sector): its rows are lost, counted from the record page index
//          when it names the page;
//        - a BLOB value that fails to read: the row is copied with that
//          field NULL and the field is named (the rest of the row is
//          sound; a NOT NULL field then refuses the row, which is reported
//          as not copied);
//        - a row the new table's constraints refuse (a unique key twice:
//          two versions of a row from a commit that stopped half-way; a
//          NULL where none may be): not copied, named; any other failure
//          of the new file (a write, a flush) fails the repair;
//        - a table whose definitions cannot be read: not copied at all.
//   5. The new file is flushed and closed; the damaged file's bytes are
//      copied to `<file>.bak` (refused before any work when a file of that
//      name exists: "Cannot create file: '%s' Error code: %d. ErrorMessage:
//      %s", 30361, so an earlier backup is never lost), which is flushed
//      too; then `<file>.tmp` is renamed over `<file>` in one step
//      (os::FileSystem::Rename). At every moment the file's name holds
//      either the damaged file or the whole copy.
//   6. Any failure before the rename (the damaged file cannot be opened or
//      its table list read, the new file cannot be written, the backup
//      cannot be made) raises its EABSException after removing `<file>.tmp`
//      and a backup this repair began; the damaged file is then exactly as
//      it was, and the next repair starts afresh.
//
// Thread use: any thread; the files must not be opened by anything else of
// this process while the repair runs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "disk/DiskCrypto.h"
#include "os/OsFile.h"

// One table of the repair: what was copied and what was not.
struct TABSRepairTableReport {
  std::string name;
  int64_t rowsCopied = 0;
  // Rows known to be lost: those of unreadable record pages the record page
  // index counts, and rows the copy refused. Pages it does not count add
  // rows this cannot know of; `counted` says how many the table said it had.
  int64_t rowsLost = 0;
  int64_t counted = 0;
  // BLOB values that could not be read and were copied as NULL.
  int64_t valuesNulled = 0;
  // One line per thing not copied, without the table prefix.
  std::vector<std::string> problems;
};

struct TABSRepairReport {
  std::vector<TABSRepairTableReport> tables;  // the tables copied
  // Tables not copied at all: "NAME: MESSAGE".
  std::vector<std::string> tablesNotRead;
  std::string backupFile;

  // True when every table and every row was copied whole.
  bool Complete() const;
  // The report as `zudadmin repair` prints it: per table "table 'T': N rows
  // copied" (with ", K lost" and ", the table counted C" when they differ),
  // then its "table 'T': ..." problem lines; "table 'T' not copied: ..." per
  // table not read; "backup: FILE"; "repaired" or "repaired with losses".
  std::vector<std::string> Lines() const;
};

// Called with a percentage from 0 to 100 as the copy goes on; 100 once the
// repaired file has the file's name.
using TABSRepairProgress = std::function<void(int percent)>;

// Repairs the database file `fileName`, opened with `password` (empty for a
// plain database), through `fs`. Raises EABSException when it could not
// repair (contract 6 above): the file is then unchanged.
TABSRepairReport RepairDatabase(const std::string& fileName, const TABSPassword& password,
                                const TABSRepairProgress& progress = {},
                                tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());

// What a rebuild may change in the new file; every setting left empty is
// the old file's. A new password (empty: a plain file) re-encrypts every
// page, which is how a database's password changes.
struct TABSRebuildSettings {
  std::optional<TABSPassword> password;
  std::optional<int32_t> maxConnections;
  std::optional<uint16_t> pageCountInExtent;
  std::optional<uint16_t> pageSize;
};

// The repair's rebuild with new settings: the same steps and guarantees.
TABSRepairReport RebuildDatabase(const std::string& fileName, const TABSPassword& password,
                                 const TABSRebuildSettings& settings, const TABSRepairProgress& progress = {},
                                 tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());

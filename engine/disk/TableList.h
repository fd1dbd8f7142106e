// TableList: TABSTableListFile, the list of the tables of a disk database.
//
// Format: a transacted internal file of page type 6 (TableList), stored
// uncompressed: a packed array of 272-byte entries, one per table:
//   0    uint8 + char[255]  table name, length-prefixed (Windows-1252),
//                           at most 255 bytes (contract 1)
//   256  int32  table id (from GetNextObjectID; the OwnerTableID of the
//               table's record pages)
//   260  int32  start page of the table's metadata file
//   264  int32  start page of the table's most-updated file
//   268  int32  start page of the table's locks file
//
// Contract
//  1. A table name holds at most 255 bytes (one length byte). A longer
//     name is never stored and never cut: AddTable refuses it with "Create
//     table '%s.%s' error: '%s'" (30450), RenameTable with "Restructure
//     table error: '%s'" (30347), and a lookup of it finds nothing, so two
//     names that share their first 255 bytes never reach one table. Names
//     compare without regard to letter case (SameName).
//  2. Every lookup and change rereads the whole list from the file in the
//     caller's session first (through the cache, which rereads pages that
//     another process changed); a change then writes the list back whole.
//     So a process never writes back a stale list that erases another
//     process's new table. The caller holds the database tables lock
//     (TABSDatabaseTablesLock) around the reread and the change.
//  3. Adding a name that exists fails with 30395; renaming onto a name that
//     another entry has fails the same way (two entries of one name would
//     make the second unreachable). Looking up, deleting or renaming a
//     missing name fails with "Table '%s' not exists.".
//  4. Contents that are compressed or not a whole number of entries are
//     "Error reading database file page. Page No: %d, type 6" (20299) with
//     the list's start page: the page and type name the damaged list.
//  5. Deleting an entry moves the later entries down by one.
//
// Thread use: under the database lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/InternalFile.h"

class TABSDiskPageManager;

constexpr int kTableListEntrySize = 272;
constexpr int kTleName = 0;                 // uint8 length + 255 bytes
constexpr int kTleTableID = 256;            // int32
constexpr int kTleMetadataPageNo = 260;     // int32
constexpr int kTleMostUpdatedPageNo = 264;  // int32
constexpr int kTleLocksPageNo = 268;        // int32
constexpr size_t kMaxTableNameLength = 255;

struct TABSTableListEntry {
  std::string TableName;
  int32_t TableID = -1;
  int32_t MetadataPageNo = -1;
  int32_t MostUpdatedPageNo = -1;
  int32_t LocksPageNo = -1;
};

// Contract 1: whether the list can store the name.
inline bool IsStorableTableName(const std::string& name) { return name.size() <= kMaxTableNameLength; }
// Contract 1: 30450 for a name that cannot be stored, as a table of
// `databaseName` is created.
void CheckNewTableName(const std::string& databaseName, const std::string& name);
// Contract 1: 30347 for a name that cannot be stored, as a table is renamed.
void CheckRenamedTableName(const std::string& name);

// Holds the database tables lock (lock area + 3) for its lifetime: 20210
// when it is not obtained in 4500 x 20 ms. The destructor never raises: a
// release that fails (the file's handle gone) is reported on the standard
// error stream.
class TABSDatabaseTablesLock {
 public:
  explicit TABSDatabaseTablesLock(TABSDiskPageManager& pm);
  ~TABSDatabaseTablesLock();
  TABSDatabaseTablesLock(const TABSDatabaseTablesLock&) = delete;
  TABSDatabaseTablesLock& operator=(const TABSDatabaseTablesLock&) = delete;

 private:
  TABSDiskPageManager& pm_;
};

class TABSTableListFile {
 public:
  explicit TABSTableListFile(TABSDiskPageManager& pm);

  void Create(int32_t sessionID);
  void Open(int32_t startPageNo);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  int32_t StartPageNo() const { return file_.StartPageNo(); }
  TABSInternalDBTransactedAccessFile& File() { return file_; }

  void Load(int32_t sessionID);
  void Save(int32_t sessionID);

  // Contract 2: each rereads the list in the session first.
  void AddTable(int32_t sessionID, const TABSTableListEntry& entry);
  void DeleteTable(int32_t sessionID, const std::string& name);
  void RenameTable(int32_t sessionID, const std::string& oldName, const std::string& newName);
  TABSTableListEntry FindTable(int32_t sessionID, const std::string& name);
  bool TableExists(int32_t sessionID, const std::string& name);
  std::vector<std::string> TableNames(int32_t sessionID);

  // The list as last loaded or saved, without rereading.
  const std::vector<TABSTableListEntry>& Entries() const { return entries_; }
  int IndexOf(const std::string& name) const;  // -1 when absent

 private:
  TABSDiskPageManager& pm_;
  TABSInternalDBTransactedAccessFile file_;
  std::vector<TABSTableListEntry> entries_;
};

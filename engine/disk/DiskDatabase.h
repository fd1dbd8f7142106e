// DiskDatabase: TABSDiskDatabase, a disk database file as a whole: the file
// with its page manager, the system directory, the active sessions file and
// the table list. Creating writes a complete empty database; opening reads
// those structures back. The disk database data object of the engine
// (sessions, table data, table locks) is built on one of these.
//
// A new database (PageSize 4096) holds:
//   page 0  PFS page            page 3  active sessions file (MaxConnections
//   page 1  EAM page                    bytes, one connection slot each)
//   page 2  system directory    page 4  table list file (empty)
// plus one spare page; the directory has two entries, kind 2 -> the active
// sessions file, kind 1 -> the table list.
//
// Contract
//  1. CreateDatabase writes everything in the system session, commits it
//     with a flush, and closes the file again. A failure rolls the session
//     back, closes the file and removes the half-made file.
//  2. OpenDatabase opens the file, refuses a header whose LastUsedPageNo is
//     below 2 ("Invalid database format", 20237: pages 0..2 are always in
//     use), reads the system directory from page 2,
//     opens the active sessions file at the directory's kind-2 page and
//     takes MaxConnections from its size (replacing what the caller asked
//     for), and opens and loads the table list at the kind-1 page under the
//     database tables lock. A directory without one of the two kinds is
//     damaged: "Error reading database file page. Page No: 2, type 4"
//     (20299). Any failure closes everything again and passes the error on.
//  3. Opening and reading never write to the file.
//  4. The accessors for the parts are valid only while the database is open.
//
// Thread use: under the database lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "disk/DiskPageManagerFile.h"
#include "disk/InternalFile.h"
#include "disk/SystemDirectory.h"
#include "disk/TableList.h"

class TABSDiskDatabase {
 public:
  static constexpr int32_t kDefaultMaxConnections = 500;

  explicit TABSDiskDatabase(tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());
  ~TABSDiskDatabase();
  TABSDiskDatabase(const TABSDiskDatabase&) = delete;
  TABSDiskDatabase& operator=(const TABSDiskDatabase&) = delete;

  void CreateDatabase(const std::string& fileName, const TABSPassword& password,
                      int32_t maxConnections = kDefaultMaxConnections,
                      uint16_t pageCountInExtent = tiv::disk::kDefaultPageCountInExtent,
                      uint16_t pageSize = tiv::disk::kDefaultPageSize);
  void OpenDatabase(const std::string& fileName, const TABSPassword& password, bool& multiUser, bool exclusive,
                    bool& needRepair, bool& readOnly);
  void CloseDatabase();
  bool IsOpen() const { return open_; }

  int32_t MaxConnections() const { return maxConnections_; }
  TABSDiskPageManager& PageManager() { return *pm_; }
  TABSSystemDirectory& SystemDirectory() { return *directory_; }
  TABSInternalDBDirectAccessFile& SessionsFile() { return *sessions_; }
  TABSTableListFile& TableList() { return *tableList_; }

 private:
  void MakeParts();
  void DropParts();

  tiv::os::FileSystem& fs_;
  std::unique_ptr<TABSDiskPageManager> pm_;
  std::unique_ptr<TABSSystemDirectory> directory_;
  std::unique_ptr<TABSInternalDBDirectAccessFile> sessions_;
  std::unique_ptr<TABSTableListFile> tableList_;
  int32_t maxConnections_ = kDefaultMaxConnections;
  bool open_ = false;
};

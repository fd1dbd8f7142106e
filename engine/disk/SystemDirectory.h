// SystemDirectory: TABSSystemDirectory, the map from the kinds of the
// database's system internal files to their start pages.
//
// Format: a transacted internal file of page type 4 (FileSystemDirectory)
// that always starts at page 2, stored uncompressed. Its contents are a
// packed array of 5-byte entries:
//   0  uint8  kind: 1 table list file, 2 active sessions file
//   1  int32  start page of that internal file
// The contents' size is 5 x the number of entries.
//
// Contract
//  1. Create allocates the directory's first page in the system session;
//     a database whose first allocated page is not 2 is refused (30392).
//  2. Find answers the page of the first entry of a kind, -1 if none. Set
//     replaces the first entry of its kind, else appends one.
//  3. Read checks what it reads: contents that are compressed or not a
//     whole number of entries are "Error reading database file page. Page
//     No: 2, type 4" (20299): the page and type name the damaged directory.
//  4. Read and Write go through the page cache in the caller's session;
//     reading never writes.
//
// Thread use: under the database lock.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/InternalFile.h"

class TABSDiskPageManager;

enum TABSSystemFileKind : uint8_t {
  sfkTableList = 1,
  sfkActiveSessions = 2,
};

constexpr int kSystemDirectoryEntrySize = 5;

struct TABSSystemDirectoryEntry {
  uint8_t Kind = 0;
  int32_t StartPageNo = -1;
};

class TABSSystemDirectory {
 public:
  explicit TABSSystemDirectory(TABSDiskPageManager& pm);

  void Create();
  void Open();
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  void Read(int32_t sessionID);
  void Write(int32_t sessionID);

  int32_t Find(uint8_t kind) const;
  void Set(uint8_t kind, int32_t startPageNo);
  const std::vector<TABSSystemDirectoryEntry>& Entries() const { return entries_; }
  TABSInternalDBTransactedAccessFile& File() { return file_; }

 private:
  TABSDiskPageManager& pm_;
  TABSInternalDBTransactedAccessFile file_;
  std::vector<TABSSystemDirectoryEntry> entries_;
};

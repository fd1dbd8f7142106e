// TABSRollbackJournal: the file beside a database (`<database>-journal`)
// that holds what a commit is about to overwrite, so that a commit cut off
// anywhere can be undone whole.
//
// File layout (little-endian, docs/file-format.md "Rollback journal"):
//
//   header, kJournalHeaderSize (512) bytes at offset 0
//     0   8  magic "TIVJRNL1"
//     8   4  uint32  format version (1)
//     12  4  uint32  page size of the database
//     16  4  int32   record count
//     20  4  int32   the database header's CommitCounter before the commit
//     24  4  uint32  salt: random per commit, part of every record's CRC
//     28  8  int64   database start S (offset of the database in its file)
//     36  8  int64   size of the database file before the commit
//     44  76 bytes   the database header (S .. S+76) before the commit
//     120 4  uint32  CRC-32 of bytes 0..119
//   records from offset 512, each 8 + page size bytes
//     0   4  int32   page number; kAddedPagesRecord (-1): a list of pages
//                    the committing session allocated (payload: int32 n,
//                    then n int32 page numbers)
//     4   4  uint32  CRC-32 of salt, page number and payload
//     8   .  payload: the page as it stood before the commit
//
// Contract
//  1. Write order: Begin, Add..., Seal. The records' bytes are written
//     (in batches as they come, the rest by Seal) before the header with
//     the record count, which Seal writes last, so a journal
//     whose header reads back whole names only records that were written
//     before it. `durable` syncs once, after the header, and then the
//     journal's folder, so the journal's name survives a power cut as its
//     bytes do: a power cut before those syncs may keep the header without
//     all its records, or lose the file, but then the database never got
//     its State 1 (written after Seal), so the journal is never played
//     (DiskPageManagerFile.h, Recovery).
//     AddLate (a page found to need protection after Seal, with State 1
//     on the file) appends one record and rewrites the header, with a
//     sync after each when `durable`: the header never counts a record
//     the disk may not hold.
//  2. Read answers kNone when there is no journal or an empty one, kTorn
//     when the header is incomplete or fails its CRC (a journal whose Seal
//     never finished: no page of the database was overwritten under it),
//     kValid otherwise. A record that fails its CRC in a journal whose
//     header is whole is damage, not a torn write: kDamaged, and the
//     database is left as it is.
//  3. Finish removes the file; a journal that outlives its commit (a
//     failed removal, a power cut undoing it) is recognised as stale by its
//     CommitCounter, which the commit moved on.
//
// Thread use: the page manager's (one caller at a time).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/DiskFormat.h"
#include "os/OsFile.h"

inline constexpr int kJournalHeaderSize = 512;
inline constexpr int kJournalRecordHeaderSize = 8;
inline constexpr int32_t kAddedPagesRecord = -1;

struct TABSJournalStart {
  uint32_t pageSize = 0;
  int32_t commitCounter = 0;
  int64_t databaseStart = 0;
  int64_t fileSizeBefore = 0;
  std::array<uint8_t, tiv::disk::kHeaderSize> header{};
};

struct TABSJournalContents {
  enum class Kind { kNone, kTorn, kDamaged, kValid };
  Kind kind = Kind::kNone;
  TABSJournalStart start;
  // The page images: page number and where the image lies in the journal
  // (read again by PlayImages, so that no image is held in memory).
  struct Page {
    int32_t pageNo;
    int64_t offset;
  };
  std::vector<Page> pages;
  std::vector<int32_t> addedPages;
  int32_t damagedRecord = -1;  // kDamaged: the record's index
  uint32_t salt = 0;
};

class TABSRollbackJournal {
 public:
  static std::string PathFor(const std::string& databasePath) { return databasePath + "-journal"; }

  TABSRollbackJournal(tiv::os::FileSystem& fs, std::string path);
  ~TABSRollbackJournal();
  TABSRollbackJournal(const TABSRollbackJournal&) = delete;
  TABSRollbackJournal& operator=(const TABSRollbackJournal&) = delete;

  // Contract 1. Each raises 30379 / 10462-style engine errors (the journal's
  // file name in them) when the file cannot be written or synced.
  void Begin(const TABSJournalStart& start);
  void Add(int32_t pageNo, const uint8_t* image);
  void AddAddedPages(const std::vector<int32_t>& pages);
  void Seal(bool durable);
  void AddLate(int32_t pageNo, const uint8_t* image, bool durable);
  // Contract 3: closes and removes the file; failures are ignored.
  void Finish() noexcept;
  // Closes the file and keeps it (to be read back and played).
  void Close() noexcept;
  bool Active() const { return handle_ != nullptr; }

  // Contract 2.
  static TABSJournalContents Read(tiv::os::FileSystem& fs, const std::string& path);
  // Calls `write` with each page image of a kValid journal, in journal
  // order, each read again and held to its CRC; false when the file no
  // longer gives them back whole.
  static bool PlayImages(tiv::os::FileSystem& fs, const std::string& path, const TABSJournalContents& contents,
                         const std::function<void(int32_t pageNo, const uint8_t* image)>& write);
  // Removes a journal that was played back or found stale; false when it
  // could not be removed.
  static bool Remove(tiv::os::FileSystem& fs, const std::string& path);

 private:
  void AppendRecord(int32_t pageNo, const uint8_t* payload);
  void WritePending();
  void WriteAt(int64_t pos, const void* data, size_t n);
  void WriteHeader();
  void Sync();

  tiv::os::FileSystem& fs_;
  std::string path_;
  std::unique_ptr<tiv::os::FileHandle> handle_;
  TABSJournalStart start_;
  uint32_t salt_ = 0;
  int32_t records_ = 0;
  int64_t written_ = 0;           // record bytes on the file
  std::vector<uint8_t> pending_;  // records not yet written, up to a batch
};

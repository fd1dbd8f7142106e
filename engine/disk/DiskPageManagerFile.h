// DiskPageManagerFile: the file-level half of TABSDiskPageManager: creating
// and opening a database file, its fixed blocks (header, crypto check block,
// lock area, NextObjectID slot), the lock bytes that coordinate processes,
// page offsets, direct page transfers, and growing and shrinking the file.
// The page cache, the free-space map and session commits build on it.
//
// Contract
//  1. A manager is either closed or opened on one file. CreateDatabaseFile
//     and OpenDatabaseFile on an opened manager fail (10461 / 10462); a
//     failed create or open leaves it closed with the file closed, and a
//     failed create removes the half-written file.
//  2. Offsets: S (database start) is found on every open; the check block
//     is at S + HeaderSize, the lock area 280 after it, the NextObjectID
//     slot LockAreaSize after that and the page area 4 bytes later. Page n
//     starts at page area + n * PageSize; a negative n is refused (10471).
//  3. Opening never writes to the file, for reading or for writing: whether
//     the file is writable is told by whether an open for writing (with the
//     share modes asked for) is granted, never by writing a byte. Bad input
//     (a file that is not a database, a cut header, impossible sizes) raises
//     an engine error; nothing read from the file is trusted before it is
//     checked. The header must have -1 <= LastUsedPageNo < TotalPageCount,
//     and the page area of TotalPageCount pages must end inside the file (a
//     longer file is fine); otherwise "Invalid database format" (20237). Both
//     are read under the header lock.
//  4. The header lock (lock area + 4) is re-entrant within this manager: a
//     counter counts nested acquisitions, the first one locks the byte, the
//     release that brings the counter back to 0 unlocks it.
//  5. Every acquisition of a lock byte is a bounded loop of non-blocking
//     attempts, LockRetry() (4500 attempts 20 ms apart unless a test sets
//     fewer); nothing waits inside the platform.
//  6. Every write of a page image goes through WritePage, and every byte
//     this manager writes through TABSDatabaseFile::WriteBuffer over the
//     os::FileSystem it was given: the place where a commit meets the
//     platform, and where tests make it fail (os::FaultFileSystem).
//  7. Under DesignMode each operation is bracketed by BeginAccess/EndAccess
//     of the file, which is closed between operations.
//  8. A multi-user open of a file whose file system has no byte-range locks
//     (TABSDatabaseFile::LockingUnsupported after the header lock) is
//     refused with 30364 naming the reason: every lock would be granted to
//     every process. Single-user and exclusive opens go on without locks.
//  9. A password refused by DiskCrypto.h contract 1 fails the create
//     (20298, before any file exists) and the open of an encrypted file
//     (30445). An encrypted open succeeds only when the check block's CRC
//     matches and, when the file has a page 2, that page deciphers to its
//     DataCRC too (ZUDSecurity.h contract 8); else 30445.
// 10. The page count stays a valid int32 page number bound: growth past
//     2^31 - 1 pages is refused (30431) before the file changes, and page
//     arithmetic is done in 64 bits. Shrinking writes the smaller count to
//     the header before it cuts the file, so no failure or crash leaves a
//     header counting pages past the end of the file.
// 11. StateGeneration grows by one with every commit that has something
//     to write (whether it then succeeds or not), so that what the table
//     data objects of the process cache of the committed state is reread
//     by the sessions that did not make the commit.
// 12. An open that takes no table locks while other opens may commit (a
//     single-user open that is read-only beside another) calls
//     FollowOtherCommits with the header lock held at each operation: a
//     commit counter other than the one its cache was read at drops every
//     cached page (pinned ones leave at their last PutPage), so no page of
//     an older commit is served with pages of a newer one. While the header
//     lock is held no commit can start (BeginCommit takes it), so what the
//     operation reads is one commit's pages.
// 13. Page CRCs (DiskCrc.h contract 3, docs/file-format.md "Page CRC"):
//     WritePage(TABSPage*) stores the DataCRC of every page it writes, 0
//     on the direct files' pages; ReadPage(TABSPage*) checks it unless
//     SkipTypeCheck is set and answers a mismatch with 20300 naming the
//     page (enciphered pages: 30446), never with the bytes. The CRC covers
//     the data area only, and the only partial writes of pages (the
//     release mark of WritePageVersion, in the header; WritePageBytes of
//     the direct files, which carry none) keep it true. The raw
//     ReadPage(pageNo, buffer) and ReadPageBytes read bytes as stored.
//
// Multi-process lock protocol (bytes of the database file, each locked
// alone, never waited on inside the platform):
//   lock area + 3  database tables lock: held while the table list is read
//                  or changed (create, drop, rename, first open of a table).
//   lock area + 4  header lock: held for every read-modify-write of the
//                  header (open, commit, page allocation and release, page
//                  count; a writable single-user open, the file's only
//                  writer, allocates and releases without it, FreeSpaceMap.h
//                  contract 1), and by a read-only single-user open for each
//                  of its read operations (invariant 10). Re-entrant in a
//                  process (invariant 4).
//   NextObjectID   held for the read-increment-write of the counter.
// A waiter retries 4500 times 20 ms apart, then fails "Database is locked"
// (20230 at open, 20236 for the page count and a read-only single-user
// open's read, 20213 at commit), "Database tables are locked" (20210) or
// "Cannot get NextObjectID. File area is Locked." (30401).
//
// The commit path (CommitSession, DiskPageManager.cpp), as states of the
// header on disk and of the rollback journal beside the file
// (`<database>-journal`, RollbackJournal.h); "flush" steps run when the
// committing layer asks or the durable-commits option is on:
//
//   [A] State 2, counter c, old pages, no journal; the pages the session
//       added may already hold its bytes (written early when the
//       transaction outgrew memory, PageManager.h contract 8): nothing
//       committed points at them, and a recovery releases them with the rest
//    |  no changes in the session: nothing is written, not even the header
//    |  CheckCommit: a pinned page, a clean or pinned dirty page refuses
//    |  here, before any byte is written (still [A])
//    v  BeginCommit: header lock (a dead commit's journal is played back
//    |  first, see Recovery), reread; State 1 found without a journal to
//    |  undo it: refuse (20196), leave it for repair.
//    |  The journal: the header as it stands, the file's size, and the
//    |  image of every page the commit will overwrite in place (the
//    |  session's dirty pages that existed before it, its deleted pages, the
//    |  map pages their release writes), the list of pages the session
//    |  allocated; records first, the journal's header last (flush).
//    |  A page found later to need its image (a map page the release cuts
//    |  off the file, a raw write) is added before it is overwritten.
//    v  State 1 written (flush)
//   [B] State 1, counter c, hot journal; pages being written
//    |  WriteSession: dirty pages in ascending order through WritePage,
//    |  then the deleted pages' version marks and their release in the
//    |  free-space map (flush)
//    |  a failure here: AbortCommit plays the journal back (every image
//    |  restored, the file cut to its old size, the old header) and
//    |  releases the lock: the file is [A] again; the caller rolls the
//    |  session back
//    v  EndCommit: counter c + 1, State 2, header written (flush); the
//    |  journal removed; lock released
//   [C] State 2, counter c + 1, new pages; a journal left behind names
//       counter c and is stale
//
// Recovery. A journal is hot when its header is whole, the database header
// says State 1, and the header's counter is the journal's: the commit that
// wrote it stopped between State 1 and State 2 (a kill, a power cut, a
// failure whose playback failed too). Whoever takes the header lock next
// (an open, a commit, an allocation, a table operation of another process
// that finds State 1) plays it back before it reads a page: every image
// written back, the file cut to its old size, the old header written with
// State 1 (flush); the pages the dead session allocated released; then the
// header at State 2 with counter c + 1, so that a journal that outlives the
// recovery is stale, and other processes drop what they cached (flush); the
// journal removed. A kill during recovery leaves State 1 and the journal:
// the next one plays it again. A journal whose header is torn (or that is
// empty: its writer died before its first write) was never sealed, so no
// page was overwritten under it; one at State 2 or at another
// counter is stale: both are removed unread. A sealed journal with a
// damaged record is refused (20300), the file left as it is. A read-only
// open cannot play a hot journal back and fails with "Database is locked".
//
// Durability. Atomicity holds whatever kills the process: every write goes
// to the operating system in the order above. Against a power cut the
// order must reach the disk too, which the flushes give: with
// SetDurableCommits(true) every commit flushes; without, only commits the
// caller asks to flush, and a power cut may lose the last commits or, when
// the disk reorders unflushed writes, leave a state the check reports.
//
// A flush that fails fails the commit with 30379 and is never tried again
// (TABSDatabaseFile contract 4); the journal is played back, so the commit
// did not happen. A failed flush after State 2 is written is answered the
// same way: the old state is put back and the commit reported failed.
//
// Thread use: one caller at a time (the database lock of the caller).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/PageManager.h"
#include "disk/DatabaseFile.h"
#include "disk/DiskCrypto.h"
#include "disk/DiskFormat.h"
#include "disk/FreeSpaceMap.h"
#include "disk/RollbackJournal.h"
#include "disk/TablePagesCache.h"

struct TABSDatabaseHeader {
  std::array<uint8_t, tiv::disk::kSignatureSize> Signature{};
  uint16_t HeaderSize = tiv::disk::kHeaderSize;
  double Version = tiv::disk::kCurrentVersion;
  uint16_t PageSize = tiv::disk::kDefaultPageSize;
  uint16_t PageCountInExtent = tiv::disk::kDefaultPageCountInExtent;
  int32_t TotalPageCount = 0;
  int32_t LastUsedPageNo = -1;
  int32_t CommitCounter = 0;
  uint8_t State = tiv::disk::kStateConsistent;
  uint8_t Encrypted = tiv::disk::kEncryptedNo;

  TABSDatabaseHeader();
  void Encode(uint8_t* out) const;  // kHeaderSize bytes
  void Decode(const uint8_t* in);   // kHeaderSize bytes
  std::string SignatureText() const;
  // Contract 3: what is wrong with the page figures of a header whose page
  // area starts at `pageAreaOffset` of a file of `fileSize` bytes, one text
  // each, none for figures an open accepts. `database`: the file holds a
  // database, whose pages 0..2 are always in use (DiskDatabase.h).
  std::vector<std::string> PageFigureFaults(int64_t pageAreaOffset, int64_t fileSize, bool database) const;
};

struct TABSCryptoCheckBlock {
  int16_t CheckBlockSize = tiv::disk::kCheckBlockSize;
  uint8_t CryptoAlgorithm = 0;
  std::array<uint8_t, tiv::disk::kCheckDataSize> CheckData{};
  uint32_t CheckCRC = 0;

  void Encode(uint8_t* out) const;  // kCheckBlockSize bytes
  void Decode(const uint8_t* in);
};

struct TABSLockRetry {
  int Attempts = tiv::disk::kLockAttempts;
  int DelayMs = tiv::disk::kLockDelayMs;
};

class TABSDiskPageManager : public TABSPageManager {
 public:
  explicit TABSDiskPageManager(tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());
  ~TABSDiskPageManager() override;
  TABSDiskPageManager(const TABSDiskPageManager&) = delete;
  TABSDiskPageManager& operator=(const TABSDiskPageManager&) = delete;

  void SetCipher(TABSCheckBlockCipher* cipher) { cipher_ = cipher; }
  void SetLockRetry(TABSLockRetry retry) { retry_ = retry; }
  const TABSLockRetry& LockRetry() const { return retry_; }

  void CreateDatabaseFile(const std::string& fileName, const TABSPassword& password,
                          uint16_t pageCountInExtent = tiv::disk::kDefaultPageCountInExtent,
                          uint16_t pageSize = tiv::disk::kDefaultPageSize);
  void OpenDatabaseFile(const std::string& fileName, const TABSPassword& password, bool& multiUser, bool exclusive,
                        bool& needRepair, bool& readOnly);
  void CloseDatabaseFile();
  bool IsOpened() const { return opened_; }

  void ReadHeader();
  void WriteHeader(bool checkExternalChange);
  void ReadCryptoCheckBlock();
  void WriteCryptoCheckBlock();
  void ReadLockArea();   // LockAreaSize only
  void WriteLockArea();  // all 20 bytes

  int32_t GetTotalPageCount();
  // Stored value + 1, written back (read-only: + a random 0..9999, not
  // written). Never wraps: a value past INT32_MAX is 10126, a negative
  // stored value 20237.
  int32_t GetNextObjectID();
  int32_t PeekNextObjectID();  // the stored value, neither locked nor changed

  bool LockHeader();  // retried; false when not obtained
  void UnlockHeader();
  int32_t HeaderLockCount() const { return headerLockCount_; }
  // A writable single-user open: any other open of the file is read-only,
  // so no page changes but through this manager. Not under DesignMode,
  // which closes the file between operations, and not while a failed
  // commit of its own waits with its journal to be played back: until the
  // header lock's taking has played it, the map on the file is not what
  // this manager kept, and its allocations take the lock (FreeSpaceMap.h
  // contract 1).
  bool SoleWriter() const { return opened_ && !multiUser_ && !readOnly_ && !IsDesignMode() && !undoFailed_; }
  // A commit of this manager failed and could not be undone: its journal is
  // hot on the file until the next taking of the header lock plays it.
  bool UndoFailed() const { return undoFailed_; }
  void LockDatabaseTables();    // 20210 when not obtained
  void UnlockDatabaseTables();  // 20211 when refused
  bool LockNextObjectID();      // retried
  void UnlockNextObjectID();

  // Lock bytes inside pages, for the internal files; all non-blocking.
  bool LockPageRegion(int32_t pageNo, int32_t offset, int32_t count);
  bool UnlockPageRegion(int32_t pageNo, int32_t offset, int32_t count);
  bool IsPageRegionLocked(int32_t pageNo, int32_t offset, int32_t count);
  bool LockPageByte(int32_t pageNo, int32_t offset) { return LockPageRegion(pageNo, offset, 1); }
  bool UnlockPageByte(int32_t pageNo, int32_t offset) { return UnlockPageRegion(pageNo, offset, 1); }
  bool IsPageByteLocked(int32_t pageNo, int32_t offset) { return IsPageRegionLocked(pageNo, offset, 1); }

  int64_t PageOffset(int32_t pageNo) const;
  // Where a page area of `pages` pages ends in the file.
  int64_t PageAreaEnd(int64_t pages) const;
  void ReadPageBytes(void* buffer, int32_t pageNo, int32_t count, int32_t offset);
  void WritePageBytes(const void* buffer, int32_t pageNo, int32_t count, int32_t offset);
  bool ReadPage(int32_t pageNo, uint8_t* buffer);         // PageSize bytes; false when unreadable
  void WritePage(int32_t pageNo, const uint8_t* buffer);  // PageSize bytes
  int32_t ReadPageVersion(int32_t pageNo);                // 0x7FFFFFFF when unreadable
  void WritePageVersion(int32_t pageNo, int32_t version);

  void ExtendFile(int32_t pages);
  void TruncateFile(int32_t pages);
  void TruncateUnusedTail();
  void FlushFileBuffers();

  // The commit path above. BeginCommit: 20213 when the header lock is not
  // obtained; 20196 when the header is at State 1 and no journal undoes it.
  // It journals what `session` will overwrite (none: the header only; a raw
  // WritePage journals its page on the way) and writes State 1. EndCommit
  // writes State 2 and removes the journal; a failure in it plays the
  // journal back. AbortCommit plays the journal back and unlocks.
  void BeginCommit(const Session* session = nullptr, bool flush = false);
  void EndCommit(bool flush = false);
  void AbortCommit();
  // Durability: every commit flushes (see the commit path).
  void SetDurableCommits(bool durable) { durable_ = durable; }
  bool DurableCommits() const { return durable_; }
  std::string JournalPath() const { return TABSRollbackJournal::PathFor(file_.FileName()); }
  // Recovery for operations that read without the header lock (a table
  // operation of a multi-user open): when the header says State 1, takes
  // the header lock, which plays back a dead commit's journal, or waits
  // for a live commit to end. Cheap otherwise: one read of the State byte.
  void RecoverIfCommitDied();

  // Page level (DiskPageManager.cpp).
  int32_t GetPageCount() override;
  bool HoldsPages(int64_t pages) override;
  bool IsPageValidated(int32_t sessionID, TABSPage* page) override;
  TABSPage::Refresh RefreshCachedPage(TABSPage* page) override;
  void MarkPageValidated(int32_t sessionID, TABSPage* page) override;
  void AllocPageNo(TABSPage* page) override;
  void FreePageNo(int32_t pageNo) override;
  bool ReadPage(TABSPage* page) override;
  void WritePage(TABSPage* page) override;
  // A session's added pages may go to the file before its commit
  // (PageManager.h contract 8), but not while a commit or a recovery writes.
  bool CanSpill() const override { return opened_ && !readOnly_ && !journal_ && !recovering_; }
  // Refuses the map pages (30434) and numbers outside the page area (10471).
  void DeletePage(int32_t sessionID, int32_t pageNo) override;
  // Also false for the fixed pages 0..2 and the map pages; reads the page
  // header only (it is never enciphered) unless the session holds the page.
  bool IsPageOf(int32_t sessionID, int32_t pageNo, uint16_t pageType, int32_t ownerTableID) override;
  TABSPage* GetPage(int32_t sessionID, int32_t pageNo, bool checkCache = true,
                    uint16_t pageType = tiv::disk::ptAny) override;
  void CommitSession(int32_t sessionID, bool flush = false) override;

  TABSDatabaseFreeSpaceManager& FreeSpaceManager();
  TABSDiskTablePagesCacheManager& TablePagesCache() { return tablePagesCache_; }
  // Contract 9: grows with every commit that writes through this manager,
  // and with every commit of another open that FollowOtherCommits finds;
  // table data objects reread the state they cache when it moved.
  uint64_t StateGeneration() const { return stateGeneration_; }
  // Contract 10, with the header lock held: rereads the header and, when
  // its commit counter moved since this manager last saw it, drops every
  // cached page and moves StateGeneration. True when it moved.
  bool FollowOtherCommits();

  TABSDatabaseHeader& Header() { return header_; }
  const TABSCryptoCheckBlock& CheckBlock() const { return checkBlock_; }
  int16_t LockAreaSize() const { return lockAreaSize_; }
  int64_t DatabaseStart() const { return databaseStart_; }
  int64_t CheckBlockOffset() const { return checkBlockOffset_; }
  int64_t LockAreaOffset() const { return lockAreaOffset_; }
  int64_t NextObjectIdOffset() const { return nextObjectIdOffset_; }
  int64_t PageAreaOffset() const { return pageAreaOffset_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }
  TABSDatabaseFile& File() { return file_; }

 private:
  class Access;  // BeginAccess/EndAccess bracket
  bool RetryLock(int64_t position);
  void SetOffsets(int64_t start, uint16_t headerSize);
  void SetPageSize(uint16_t pageSize);
  void OpenChecked(const std::string& fileName, const TABSPassword& password, bool& needRepair);
  void OpenLocked(const TABSPassword& password, bool& needRepair);  // under the header lock
  bool ProbeReadOnly(const std::string& fileName, bool multiUser, bool& clearMultiUser);
  void ResetToDefaults();
  TABSCheckBlockCipher& Cipher();
  void RefuseUnfinishedCommit(const TABSDatabaseHeader& onDisk, bool anyCounter);
  // Recovery (see the commit path): under the header lock; true when a
  // dead commit was undone.
  bool RecoverDeadCommit();
  void JournalCommit(const Session* session, bool flush);
  // Before an in-place write of `pageNo` while a journal is written.
  void ProtectPage(int32_t pageNo);
  // Plays the active journal back after a failed commit; false when that
  // failed too (the journal stays for the next recovery).
  bool UndoCommit() noexcept;
  void RestoreImages(const TABSJournalContents& journal);
  void AfterFailedCommit(int32_t sessionID, const std::vector<int32_t>& added) noexcept;
  void DropCachedPages();
  // The pages a dead commit's session allocated, marked free again.
  void ReleaseDeadSessionPages(const std::vector<int32_t>& pages);

  TABSDatabaseFile file_;
  TABSDatabaseHeader header_;
  TABSCryptoCheckBlock checkBlock_;
  std::array<uint8_t, tiv::disk::kLockAreaSize> lockArea_{};
  int16_t lockAreaSize_ = tiv::disk::kLockAreaSize;
  TABSPassword password_;
  TABSCheckBlockCipher* cipher_ = nullptr;
  TABSLockRetry retry_;
  int64_t databaseStart_ = 0;
  int64_t checkBlockOffset_ = tiv::disk::kNewCheckBlockOffset;
  int64_t lockAreaOffset_ = tiv::disk::kNewLockAreaOffset;
  int64_t nextObjectIdOffset_ = tiv::disk::kNewNextObjectIdOffset;
  int64_t pageAreaOffset_ = tiv::disk::kNewPageAreaOffset;
  int32_t headerLockCount_ = 0;
  uint64_t stateGeneration_ = 0;
  // The commit counter of the last header this manager wrote at a commit or
  // took its cache from (at open, in FollowOtherCommits).
  int32_t seenCommitCounter_ = 0;
  bool opened_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  std::unique_ptr<TABSDatabaseFreeSpaceManager> freeSpace_;
  // The journal of the commit being written, and what it holds.
  std::unique_ptr<TABSRollbackJournal> journal_;
  std::set<int32_t> journaled_;    // pages whose image is in it
  std::set<int32_t> journalSkip_;  // the session's allocated pages: no image needed
  int32_t journalTotal_ = 0;       // TotalPageCount when it began
  bool journalDurable_ = false;
  bool durable_ = false;
  bool undoFailed_ = false;  // see UndoFailed
  bool recovering_ = false;
  TABSDiskTablePagesCacheManager tablePagesCache_;
};

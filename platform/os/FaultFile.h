// FaultFile: a FileSystem for tests that makes chosen writes, flushes or
// locks fail, can lose its files as a file system that went away, and can
// forget what was written since the last flush, as a power cut would.
//
// Contract
//  1. Every call is passed to the wrapped file system (the real one unless a
//     test gives another) except those chosen to fail.
//  2. FailWrite(n, times) makes the n-th WriteAt from now (1-based, counted
//     over every file opened through this object) and the times-1 after it
//     fail with EIO, writing nothing. FailSync(n, times) does the same for
//     Sync. A failed Sync keeps the unflushed writes unflushed.
//  3. Each handle keeps an undo log of what its writes and truncations
//     replaced since its last successful Sync. DropUnflushed() plays every
//     log back (newest first), so each file holds what it held at its last
//     flush; then it removes every file an Open created since the last
//     successful SyncDirectory of its folder, as a power cut loses a name
//     the folder never flushed. (Removals and renames are taken as
//     durable.) SyncDirectory counts as a flush: SyncCount includes it and
//     FailSync chooses among all of them. It works on handles still open and on handles closed already
//     (a close is not a flush); it writes through an open of its own that
//     shares reading and writing, so a file still open without sharing
//     (an exclusive open) is to be closed first.
//  4. Counts (WriteCount, SyncCount, LockCount) include failed calls;
//     WritePath(n) names the file of the n-th write.
//  5. FailLocks(error) makes every later Lock and Unlock of every handle
//     answer `error` without touching the lock (0 ends it), as a file system
//     without byte-range locks (ENOLCK, EOPNOTSUPP, ...) or one that refuses
//     them otherwise. Share-mode bytes are taken by the wrapped file system
//     at open and are not affected.
//  6. LoseFilesAtLock(n): from the n-th Lock call from now (1-based, counted
//     over every handle) on, that call and every later call of every handle
//     fails with EIO (HoldsLock answers false, Close closes the wrapped
//     handle and answers EIO) and every Open fails with EIO: the files are
//     gone, as when the volume under them went away.
//  7. FailRename(n, times) makes the n-th Rename from now and the times-1
//     after it fail with EIO, renaming nothing; lost files fail it too.
//
// Thread use: one test thread; the counters are not atomic.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "os/OsFile.h"

namespace tiv::os {

class FaultFileSystem final : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base = FileSystem::Default());
  ~FaultFileSystem() override;

  void FailWrite(int nth, int times = 1);
  void FailSync(int nth, int times = 1);
  void FailRename(int nth, int times = 1);
  void FailLocks(int error) { lockError_ = error; }
  void LoseFilesAtLock(int nth) { loseAtLock_ = locks_ + nth; }
  void DropUnflushed();
  int WriteCount() const { return writes_; }
  // The file the n-th WriteAt (1-based, as WriteCount counts) went to.
  const std::string& WritePath(int n) const { return writePaths_.at(static_cast<size_t>(n - 1)); }
  int SyncCount() const { return syncs_; }
  int LockCount() const { return locks_; }
  bool FilesLost() const { return lost_; }

  Status Open(const std::string& path, const OpenOptions& options, std::unique_ptr<FileHandle>& out) override;
  Status Stat(const std::string& path, FileInfo& info) override { return base_.Stat(path, info); }
  Status SetReadOnly(const std::string& path, bool readOnly) override { return base_.SetReadOnly(path, readOnly); }
  Status Remove(const std::string& path) override { return base_.Remove(path); }
  Status Rename(const std::string& from, const std::string& to) override;
  Status SyncDirectory(const std::string& path) override;

  // What one handle changed since its last Sync, oldest first.
  struct UndoEntry {
    int64_t pos;
    std::string before;  // bytes that were there (shorter when past the end)
    int64_t sizeBefore;  // file size before the change
  };
  struct UndoLog {
    std::string path;
    std::vector<UndoEntry> entries;
  };

  // Used by the handles.
  bool NextWriteFails(const std::string& path);
  bool NextSyncFails();
  // The error the next Lock answers (0: none); counts the call.
  int NextLockError();
  int LockError() const { return lockError_; }

 private:
  FileSystem& base_;
  int writes_ = 0, syncs_ = 0, locks_ = 0;
  std::vector<std::string> writePaths_;
  int lockError_ = 0;
  int loseAtLock_ = 0;  // 0 = never
  bool lost_ = false;
  int failWriteFrom_ = 0, failWriteTo_ = 0;  // 1-based, inclusive; 0 = none
  int failSyncFrom_ = 0, failSyncTo_ = 0;
  int renames_ = 0, failRenameFrom_ = 0, failRenameTo_ = 0;
  std::vector<std::shared_ptr<UndoLog>> logs_;
  // Files created whose folder was not flushed since (contract 3).
  std::vector<std::string> unnamed_;
};

}  // namespace tiv::os

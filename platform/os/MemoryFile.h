// MemoryFile: a FileSystem whose files are byte strings in memory, for fuzz
// targets and tests that must not touch the disk: a database image goes
// in, the engine opens it by name, the bytes come out again.
//
// Contract
//  1. Paths are names, nothing more (no folders); a file exists from Open
//     with create (fails with EEXIST when it exists), or from SetContents,
//     until Remove. Handles opened before a Remove keep the bytes, as an
//     unlinked file keeps its data.
//  2. Handles behave as OsFile.h says of every FileHandle: ReadAt answers
//     done < n only at the end of the file, WriteAt past the end fills the
//     gap with zeros, writes and truncations through a handle opened
//     without write access fail with EBADF, Sync does nothing, Close
//     releases the handle's locks and later calls fail with EBADF.
//  3. Locks are exclusive byte ranges of one file: a range that overlaps
//     one held through any open handle of the file, the same handle
//     included, is refused with kLockHeld, as two opens in two processes
//     refuse each other (OsFile.h contracts 3 and 4); Unlock releases only
//     a range held exactly so through the handle, else kNotLocked.
//     Nothing ever waits.
//  4. Share modes are those of OsFile.h contract 5: an open whose access
//     another live open denies, or that denies an access another live open
//     has, fails with kShareViolation.
//  5. A file never grows past MaxFileSize() bytes: a write or truncation
//     beyond it fails with EFBIG and changes nothing, so a hostile size in
//     a database image is an engine error, never an allocation without
//     bound.
//  6. A file marked read-only (SetReadOnly) refuses opens with write
//     access (EACCES); its readers take exclusive locks all the same.
//  7. Rename moves the bytes, the read-only mark, the live opens and the
//     locks to the new name, replacing a file of that name (whose open
//     handles keep its old bytes, as after Remove).
//
// Thread use: any thread; one mutex guards the files and their locks. The
// file system must outlive its handles.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "os/OsFile.h"

namespace tiv::os {

class MemoryFileSystem final : public FileSystem {
 public:
  static constexpr int64_t kDefaultMaxFileSize = int64_t{64} << 20;

  explicit MemoryFileSystem(int64_t maxFileSize = kDefaultMaxFileSize) : maxFileSize_(maxFileSize) {}
  ~MemoryFileSystem() override;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  int64_t MaxFileSize() const { return maxFileSize_; }
  // Creates or replaces the file `path` with these bytes (open handles of
  // a replaced file keep the old ones). False when they exceed the bound.
  bool SetContents(const std::string& path, std::string bytes);
  // The bytes of `path`; empty when there is no such file.
  std::string Contents(const std::string& path) const;

  Status Open(const std::string& path, const OpenOptions& options, std::unique_ptr<FileHandle>& out) override;
  Status Stat(const std::string& path, FileInfo& info) override;
  Status SetReadOnly(const std::string& path, bool readOnly) override;
  Status Remove(const std::string& path) override;
  Status Rename(const std::string& from, const std::string& to) override;
  // Memory never loses a name: nothing to flush.
  Status SyncDirectory(const std::string&) override { return {}; }

  struct File;  // the bytes, the read-only mark, the live opens and locks

 private:
  friend class MemoryFileHandle;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<File>> files_;
  const int64_t maxFileSize_;
};

}  // namespace tiv::os

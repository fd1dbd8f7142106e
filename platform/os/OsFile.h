// OsFile: files and byte-range locks, the one place that talks to the
// operating system about them.
//
// Contract
//  1. Every operation answers a Status: error 0 is success, otherwise the
//     platform error number (errno) and its text. Nothing here throws; the
//     engine turns a Status into its own error with the code of its site.
//  2. Files are opened with close-on-exec, so a program that we start never
//     inherits a descriptor or the locks held through it.
//  3. Locks are Linux open-file-description locks, non-blocking. They belong
//     to one open (one FileHandle): two handles of the same file in one
//     process exclude each other like two processes do. On top of that each
//     handle keeps a registry of the ranges it holds, so a second lock of a
//     range that overlaps one already held through the same handle is
//     refused (kLockHeld), and unlocking a range that is not held is refused
//     (kNotLocked). The kernel alone would grant the first and silently
//     merge; the lock protocol of the database expects the refusal.
//  4. A refusal because someone else holds the range is kLockHeld
//     (EAGAIN/EACCES from the kernel are reported as EAGAIN). Only a file
//     system without lock support answers one of IsLockingUnsupported()
//     (ENOLCK, EOPNOTSUPP, ENOSYS); EINVAL and every other error are
//     failures of the call, never "no locks here".
//  5. Share modes are emulated with locks on bytes at kShareLockBase and
//     above, far past any real data. An open declares its access (read,
//     write) and what it lets others do (ShareRead, ShareWrite); an open that
//     conflicts with a live open of the same file, in this or another
//     process, fails with kShareViolation.
//  6. Read-only access still takes exclusive lock bytes: the file is opened
//     for reading and writing underneath whenever the permissions allow and
//     writes through a read-only handle are refused by this layer (EBADF).
//     Only when the file cannot be opened for writing at all (no permission,
//     read-only mount) is it opened read-only; the kernel then grants shared
//     locks only, so exclusive locks are taken as shared ones
//     (SharedLocksOnly()): they still exclude every writer, and the handle
//     registry keeps excluding sessions of this process.
//  7. Rename gives the file `from` the name `to` in one step: a file
//     already named `to` is replaced, and at no moment is there no file of
//     that name (POSIX rename). ENOENT when `from` does not exist. Open
//     handles keep their file, whatever its name now is.
//  8. SyncDirectory(path) makes the entries of the folder holding `path`
//     durable: a file created, removed or renamed there survives a power
//     cut once it returns (fsync of the folder). A file's own Sync flushes
//     its bytes, never its name.
//
// Thread use: a FileHandle may be used from several threads; its lock
// registry has its own mutex. Positional reads and writes need no position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tiv::os {

struct Status {
  int error = 0;     // 0 = success, else an errno value
  std::string text;  // the platform's text for error, empty on success

  bool ok() const { return error == 0; }
  static Status Ok() { return {}; }
  static Status FromErrno(int err);
  static Status Custom(int err, std::string text) { return {err, std::move(text)}; }
};

enum Access : unsigned { kAccessRead = 1, kAccessWrite = 2 };
enum Share : unsigned { kShareNone = 0, kShareRead = 1, kShareWrite = 2 };

struct OpenOptions {
  unsigned access = kAccessRead;  // kAccessRead | kAccessWrite
  unsigned share = kShareRead | kShareWrite;
  bool create = false;  // create a new file (fails if it exists)
};

// Error numbers with a meaning of their own in this layer.
constexpr int kLockHeld = 11;        // EAGAIN: the range is locked (by anyone)
constexpr int kNotLocked = 158;      // unlock of a range this handle does not hold
constexpr int kShareViolation = 16;  // EBUSY, with its own text
// Offset of the share-mode lock bytes (4 bytes: read, write, deny-read,
// deny-write, then a gate byte that serialises open checks).
constexpr int64_t kShareLockBase = int64_t{1} << 62;

// True for the errors that mean "this file system has no byte-range locks".
bool IsLockingUnsupported(int error);

class FileHandle {
 public:
  virtual ~FileHandle() = default;

  // Reads up to n bytes at pos; done < n only at the end of the file.
  virtual Status ReadAt(int64_t pos, void* buf, size_t n, size_t& done) = 0;
  // Writes all n bytes at pos or fails.
  virtual Status WriteAt(int64_t pos, const void* buf, size_t n) = 0;
  virtual Status Size(int64_t& size) = 0;
  virtual Status Truncate(int64_t size) = 0;
  virtual Status Sync() = 0;  // fdatasync
  // Non-blocking; exclusive unless the handle has SharedLocksOnly().
  virtual Status Lock(int64_t pos, int64_t len) = 0;
  virtual Status Unlock(int64_t pos, int64_t len) = 0;
  // True when [pos, pos+len) overlaps a range held through this handle.
  virtual bool HoldsLock(int64_t pos, int64_t len) = 0;
  virtual bool SharedLocksOnly() const = 0;
  // Releases every lock and the descriptor; later calls fail with EBADF.
  virtual Status Close() = 0;
};

struct FileInfo {
  bool exists = false;
  bool readOnly = false;  // no write permission bit set
  int64_t size = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual Status Open(const std::string& path, const OpenOptions& options, std::unique_ptr<FileHandle>& out) = 0;
  virtual Status Stat(const std::string& path, FileInfo& info) = 0;
  // Sets or clears the read-only attribute (the owner's write bit).
  virtual Status SetReadOnly(const std::string& path, bool readOnly) = 0;
  virtual Status Remove(const std::string& path) = 0;
  // Contract 7.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // Contract 8.
  virtual Status SyncDirectory(const std::string& path) = 0;

  // The real POSIX file system; lives as long as the process.
  static FileSystem& Default();
};

}  // namespace tiv::os

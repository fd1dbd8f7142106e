// DatabaseFile: TABSDatabaseFile, the wrapper through which every byte of a
// database file is read and written and every lock byte taken.
//
// Contract
//  1. Every operation but CreateFile and OpenFile fails on a closed file
//     with 30376 naming the operation; CreateFile and OpenFile fail on an
//     open one with 30377. (UnlockByte under DesignMode always succeeds.)
//  2. AccessMode 0 = read, 1 = read and write; ShareMode 0 = none (an
//     exclusive open), 1 = others may read and write, 2 = others may read.
//     An open that the share modes of live opens forbid fails with 30364.
//  3. ReadBuffer and WriteBuffer move exactly Count bytes at Position or
//     answer false; LastFailure() then holds what the raising callers put in
//     the read/write failure message (which carries their own code, see
//     ReadFailureArgs/WriteFailureArgs). A short read is a failure.
//  4. A failed platform call is retried once after a successful Reconnect:
//     a handle that still answers a size query is kept; otherwise it is
//     closed and reopened with the same name and modes, up to 3 attempts
//     1000 ms apart, and the ranges it held are locked again. The flush is
//     the exception: a failed FlushFileBuffers raises 30379 at once and is
//     never retried, since the kernel may have dropped the pages it failed
//     to write and a second sync would report success over nothing.
//  5. Locks are non-blocking and belong to this open. A byte held through
//     this object counts as locked for it too: a second LockByte of it fails
//     and IsByteLocked/IsRegionLocked answer true without releasing it.
//     A refusal because another holder has the byte answers false; only a
//     file system without lock support (os::IsLockingUnsupported: not
//     EINVAL) sets LockingUnsupported, after which every lock and unlock
//     counts as successful. That is safe for one process alone only: a
//     multi-user open refuses such a file (DiskPageManagerFile.h).
//  6. Under DesignMode (process-wide) the file stays closed between
//     accesses: BeginAccess opens it with the recorded modes when OpenCount
//     is 0, EndAccess closes it when OpenCount returns to 0. Outside
//     DesignMode both do nothing.
//  7. FindSignature answers the first offset that starts a whole database
//     header with fields a database can have (HeaderSize 76, a finite
//     Version below 100, PageSize >= 512, PageCountInExtent >= 1, counts
//     not negative, Encrypted 0 or 0xFF), a CheckBlockSize of 280 after it,
//     a LockAreaSize >= 5, and, when TotalPageCount > 0, a first page that
//     is a PFS page. The 16 signature bytes alone (a program's constant, a
//     stored string) never make a start. Without a start it answers 0.
//     It only reads.
//
// Thread use: one caller at a time (the database lock of the caller).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDExcept.h"
#include "os/OsFile.h"

// The process-wide DesignMode flag (false at start).
void SetDesignMode(bool on);
bool IsDesignMode();

class TABSDatabaseFile {
 public:
  explicit TABSDatabaseFile(tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());
  ~TABSDatabaseFile();
  TABSDatabaseFile(const TABSDatabaseFile&) = delete;
  TABSDatabaseFile& operator=(const TABSDatabaseFile&) = delete;

  static constexpr uint32_t kFlagsAndAttributes = 0x10000080;  // normal file, random access

  // Deletes an existing file of that name (after clearing its read-only
  // attribute) and creates it anew, AccessMode 1 and ShareMode 0. A file
  // that another open still uses is not deleted (30361).
  void CreateFile(const std::string& fileName);
  void OpenFile(const std::string& fileName, uint8_t accessMode, uint8_t shareMode);
  void CloseFile();

  void Seek(int64_t position) { SetPosition(position); }
  void SetPosition(int64_t position);
  int64_t GetPosition();
  int64_t GetSize();
  void SetSize(int64_t size);

  bool ReadBuffer(void* buffer, int64_t position, int32_t count);
  bool WriteBuffer(const void* buffer, int64_t position, int32_t count);
  void FlushFileBuffers();

  bool LockByte(int64_t count, int64_t position);
  bool UnlockByte(int64_t count, int64_t position);
  bool IsByteLocked(int64_t position) { return IsRegionLocked(1, position); }
  bool IsRegionLocked(int64_t count, int64_t position);

  // Offset of the database start (see DiskFormat.h); the position is kept.
  int64_t FindSignature();

  void BeginAccess();
  void EndAccess();
  bool Reconnect();

  // What the last failed read or write saw.
  struct Failure {
    int64_t position = 0, count = 0, filePosition = 0, fileSize = 0;
    int error = 0;
    std::string text;
  };
  const Failure& LastFailure() const { return failure_; }
  // Arguments of "Cannot Read from file: '%s' Position = %d, Count = %d,
  // FilePosition = %d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s" (and of
  // the matching write message) for the last failure.
  std::vector<TABSErrorArg> FailureArgs() const;

  const std::string& FileName() const { return fileName_; }
  uint8_t AccessMode() const { return accessMode_; }
  uint8_t ShareMode() const { return shareMode_; }
  bool IsOpen() const { return handle_ != nullptr; }
  int32_t OpenCount() const { return openCount_; }
  bool LockingUnsupported() const { return lockingUnsupported_; }
  // What the platform answered when it first said it has no locks.
  const tiv::os::Status& UnsupportedLockStatus() const { return unsupportedLock_; }
  tiv::os::FileSystem& FileSystem() { return fs_; }

 private:
  void CheckOpen(const char* operation);
  tiv::os::Status OpenHandle();
  bool ReadOnce(void* buffer, int64_t position, int32_t count);
  bool IsDatabaseStart(int64_t at);  // contract 7
  bool LockOnce(int64_t count, int64_t position, bool& held);
  void Fail(int64_t position, int64_t count, const tiv::os::Status& s);

  tiv::os::FileSystem& fs_;
  std::unique_ptr<tiv::os::FileHandle> handle_;
  std::string fileName_;
  uint8_t accessMode_ = 0;
  uint8_t shareMode_ = 0;
  int32_t openCount_ = 0;
  bool lockingUnsupported_ = false;
  tiv::os::Status unsupportedLock_;
  int64_t position_ = 0;
  Failure failure_;
  // Ranges locked through this object, locked again after a reopen.
  std::vector<std::pair<int64_t, int64_t>> held_;
};

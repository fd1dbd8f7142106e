// StreamFile: the engine streams backed by a platform file.
//
// TABSFileStream is a stream over one file: created anew (exclusive; as a
// temporary file deleted when closed, when asked) or opened with a mode.
// TABSTemporaryStream holds temporary data (BLOB values being read or
// written, sort runs): in memory while small, in a temporary file beyond
// kMemoryLimit bytes unless temporary files are disabled for the database.
//
// Modes (numbers shown in "Cannot open file" messages): access 0 read,
// 1 write, 2 read and write, or'ed with a share mode: 0x10 exclusive,
// 0x20 deny write, 0x30 deny read, 0x40 deny none (0 counts as deny none).
// kFileModeCreate (0xFFFF) creates the file.
//
// Contract
//  1. Creating fails with "Cannot create file. FileName = %s" (10104),
//     opening with "Cannot open file. FileName = %s, Mode = %d" (10105).
//     A stream never exists without its file.
//  2. A temporary TABSFileStream has no name in any folder once created
//     (OsTempFile.h): closing it, or the process ending in any way, deletes
//     it. A created stream asked to delete on close is unlinked at once.
//  3. Read and Write report how many bytes they moved; an operating-system
//     failure shows as a short transfer (the callers raise the engine
//     error of their site). Seek clamps to 0..Size() like every stream.
//     A SetSize the file system refuses leaves Size() unchanged.
//  4. TABSTemporaryStream: writes and SetSize stay in memory while the
//     resulting size is at most kMemoryLimit; the first one past it moves
//     the contents and the position into a temporary file ("ABS" prefix),
//     frees the memory, and every later call goes to the file. With
//     temporary files disabled it stays in memory whatever the size.
//
// Thread use: one thread at a time per stream (ZUDStream.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/ZUDStream.h"
#include "os/OsFile.h"

constexpr uint32_t kFileModeCreate = 0xFFFF;
constexpr uint32_t kFileModeOpenRead = 0x0000;
constexpr uint32_t kFileModeOpenWrite = 0x0001;
constexpr uint32_t kFileModeOpenReadWrite = 0x0002;
constexpr uint32_t kFileShareExclusive = 0x0010;
constexpr uint32_t kFileShareDenyWrite = 0x0020;
constexpr uint32_t kFileShareDenyRead = 0x0030;
constexpr uint32_t kFileShareDenyNone = 0x0040;

class TABSFileStream : public TABSStream {
 public:
  // mode kFileModeCreate creates `fileName` (deleted at once and so on
  // close when deleteOnClose); any other mode opens it.
  TABSFileStream(const std::string& fileName, uint32_t mode, bool deleteOnClose = false,
                 tiv::os::FileSystem& fs = tiv::os::FileSystem::Default());
  // A new temporary file in the temporary folder (contract 2).
  static std::unique_ptr<TABSFileStream> CreateTemporary(const std::string& prefix = "ABS");
  ~TABSFileStream() override;

  int64_t Read(void* dest, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Position() const override { return position_; }
  int64_t Size() const override { return size_; }
  void SetSize(int64_t newSize) override;

  const std::string& FileName() const { return fileName_; }

 private:
  TABSFileStream(std::unique_ptr<tiv::os::FileHandle> handle, std::string name);

  std::unique_ptr<tiv::os::FileHandle> handle_;
  std::string fileName_;
  int64_t position_ = 0;
  int64_t size_ = 0;
};

class TABSTemporaryStream : public TABSStream {
 public:
  static constexpr int64_t kMemoryLimit = 1048576;

  explicit TABSTemporaryStream(bool temporaryFilesDisabled = false);
  ~TABSTemporaryStream() override;

  int64_t Read(void* dest, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Position() const override;
  int64_t Size() const override;
  void SetSize(int64_t newSize) override;

  bool InFile() const { return file_ != nullptr; }

 private:
  // Contract 4: moves to a file when `resultingSize` passes the limit.
  void SpillIfNeeded(int64_t resultingSize);
  TABSStream& Current() const;

  bool temporaryFilesDisabled_;
  std::unique_ptr<TABSMemoryStream> memory_;
  std::unique_ptr<TABSFileStream> file_;
};

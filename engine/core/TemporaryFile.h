// TemporaryFile: TABSTemporaryFile, the file a temporary table or its page
// manager spills into once it has passed its share of memory.
//
// The file is unnamed from the moment it exists (OsTempFile.h): a process
// that is killed leaves nothing behind, and dropping the object deletes it.
// It is created on the first write, never before: a table that stays within
// its share never touches the file system.
//
// Contract
//  1. Write puts all n bytes at `position` or raises "Error writing to
//     stream" (10095); a file that cannot be created raises "Cannot create
//     file. FileName = %s" (10104) with the temporary folder's name.
//  2. Read fills all n bytes from `position` or raises 10166 (a short read
//     means our own bookkeeping is wrong, or the file system failed).
//  3. Reset drops the file (and so its bytes); the next write makes a new
//     one.
//
// Thread use: the owner's (under the database data's lock).
#pragma once

#include <cstdint>
#include <memory>

namespace tiv::os {
class FileHandle;
}

// The bytes a temporary table's records, or its index pages, keep in
// memory before they spill: a tenth of the usable memory (ZUDMemory.h),
// 64 MiB when the platform cannot tell how much there is.
int64_t TemporaryMemoryShare();

class TABSTemporaryFile {
 public:
  TABSTemporaryFile();
  ~TABSTemporaryFile();
  TABSTemporaryFile(const TABSTemporaryFile&) = delete;
  TABSTemporaryFile& operator=(const TABSTemporaryFile&) = delete;

  void Write(int64_t position, const void* data, int64_t n);
  void Read(int64_t position, void* data, int64_t n);
  void Reset();
  bool Exists() const { return handle_ != nullptr; }
  int64_t Size() const { return size_; }

 private:
  std::unique_ptr<tiv::os::FileHandle> handle_;
  int64_t size_ = 0;
};

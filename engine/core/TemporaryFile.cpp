#include "core/TemporaryFile.h"

#include <algorithm>

#include "core/ZUDExcept.h"
#include "core/ZUDMemory.h"
#include "os/OsTempFile.h"

int64_t TemporaryMemoryShare() {
  constexpr uint64_t kUnknownMemoryShare = uint64_t{64} << 20;
  const uint64_t usable = MemoryManager().UsableMemory();
  const uint64_t share = usable == 0 ? kUnknownMemoryShare : usable / 10;
  return static_cast<int64_t>(std::clamp<uint64_t>(share, 1, INT64_MAX));
}

TABSTemporaryFile::TABSTemporaryFile() = default;

TABSTemporaryFile::~TABSTemporaryFile() { Reset(); }

void TABSTemporaryFile::Reset() {
  if (handle_) handle_->Close();
  handle_.reset();
  size_ = 0;
}

void TABSTemporaryFile::Write(int64_t position, const void* data, int64_t n) {
  if (!handle_) {
    std::string name;
    if (!tiv::os::CreateTemporaryFile("tvt", handle_, name).ok()) {
      handle_.reset();
      throw EABSException(10104, "Cannot create file. FileName = %s", {name});
    }
  }
  if (!handle_->WriteAt(position, data, static_cast<size_t>(n)).ok())
    throw EABSException(10095, "Error writing to stream");
  size_ = std::max(size_, position + n);
}

void TABSTemporaryFile::Read(int64_t position, void* data, int64_t n) {
  size_t done = 0;
  if (!handle_ || !handle_->ReadAt(position, data, static_cast<size_t>(n), done).ok() || done != static_cast<size_t>(n))
    throw EABSException(10166,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {position, size_, n, static_cast<int64_t>(done)});
}

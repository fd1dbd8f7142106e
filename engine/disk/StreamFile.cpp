#include "disk/StreamFile.h"

#include <algorithm>
#include <vector>

#include "core/ZUDExcept.h"
#include "os/OsTempFile.h"

namespace {

tiv::os::OpenOptions OptionsForMode(uint32_t mode) {
  tiv::os::OpenOptions o;
  switch (mode & 0x3) {
    case kFileModeOpenWrite: o.access = tiv::os::kAccessWrite; break;
    case kFileModeOpenReadWrite: o.access = tiv::os::kAccessRead | tiv::os::kAccessWrite; break;
    default: o.access = tiv::os::kAccessRead; break;
  }
  switch (mode & 0xF0) {
    case kFileShareExclusive: o.share = tiv::os::kShareNone; break;
    case kFileShareDenyWrite: o.share = tiv::os::kShareRead; break;
    case kFileShareDenyRead: o.share = tiv::os::kShareWrite; break;
    default: o.share = tiv::os::kShareRead | tiv::os::kShareWrite; break;
  }
  return o;
}

}  // namespace

TABSFileStream::TABSFileStream(const std::string& fileName, uint32_t mode, bool deleteOnClose, tiv::os::FileSystem& fs)
    : fileName_(fileName) {
  const bool create = mode == kFileModeCreate;
  tiv::os::OpenOptions options;
  if (create) {
    options.access = tiv::os::kAccessRead | tiv::os::kAccessWrite;
    options.share = tiv::os::kShareNone;
    options.create = true;
  } else {
    options = OptionsForMode(mode);
  }
  tiv::os::Status s = fs.Open(fileName, options, handle_);
  if (s.ok()) s = handle_->Size(size_);
  if (s.ok() && create && deleteOnClose) s = fs.Remove(fileName);
  if (!s.ok()) {
    if (handle_) {
      handle_->Close();
      handle_.reset();
    }
    if (create) throw EABSException(10104, "Cannot create file. FileName = %s", {fileName});
    throw EABSException(10105, "Cannot open file. FileName = %s, Mode = %d", {fileName, mode});
  }
}

TABSFileStream::TABSFileStream(std::unique_ptr<tiv::os::FileHandle> handle, std::string name)
    : handle_(std::move(handle)), fileName_(std::move(name)) {}

std::unique_ptr<TABSFileStream> TABSFileStream::CreateTemporary(const std::string& prefix) {
  std::unique_ptr<tiv::os::FileHandle> handle;
  std::string name;
  const tiv::os::Status s = tiv::os::CreateTemporaryFile(prefix, handle, name);
  if (!s.ok()) throw EABSException(10104, "Cannot create file. FileName = %s", {name});
  return std::unique_ptr<TABSFileStream>(new TABSFileStream(std::move(handle), std::move(name)));
}

TABSFileStream::~TABSFileStream() {
  if (handle_) handle_->Close();
}

int64_t TABSFileStream::Read(void* dest, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const int64_t n = std::min(count, size_ - position_);
  size_t done = 0;
  handle_->ReadAt(position_, dest, static_cast<size_t>(n), done);
  position_ += static_cast<int64_t>(done);
  return static_cast<int64_t>(done);
}

int64_t TABSFileStream::Write(const void* src, int64_t count) {
  if (count <= 0) return 0;
  if (!handle_->WriteAt(position_, src, static_cast<size_t>(count)).ok()) {
    // A failed write may have moved part of the bytes: learn the true size.
    int64_t size = 0;
    if (handle_->Size(size).ok()) size_ = size;
    return 0;
  }
  position_ += count;
  size_ = std::max(size_, position_);
  return count;
}

int64_t TABSFileStream::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, size_);
  return position_;
}

void TABSFileStream::SetSize(int64_t newSize) {
  newSize = std::max<int64_t>(newSize, 0);
  // A failed truncation leaves Size() as it was (contract 3): callers that
  // must cut compare Size() with what they asked for.
  if (!handle_->Truncate(newSize).ok()) return;
  size_ = newSize;
  position_ = std::min(position_, size_);
}

TABSTemporaryStream::TABSTemporaryStream(bool temporaryFilesDisabled)
    : temporaryFilesDisabled_(temporaryFilesDisabled), memory_(std::make_unique<TABSMemoryStream>()) {}

TABSTemporaryStream::~TABSTemporaryStream() = default;

TABSStream& TABSTemporaryStream::Current() const {
  if (file_) return *file_;
  return *memory_;
}

void TABSTemporaryStream::SpillIfNeeded(int64_t resultingSize) {
  if (file_ || temporaryFilesDisabled_ || resultingSize <= kMemoryLimit) return;
  std::unique_ptr<TABSFileStream> file = TABSFileStream::CreateTemporary("ABS");
  const int64_t position = memory_->Position();
  memory_->Seek(0);
  file->CopyFrom(*memory_, memory_->Size());
  file->Seek(position);
  file_ = std::move(file);
  memory_.reset();
}

int64_t TABSTemporaryStream::Read(void* dest, int64_t count) { return Current().Read(dest, count); }

int64_t TABSTemporaryStream::Write(const void* src, int64_t count) {
  if (count <= 0) return 0;
  SpillIfNeeded(std::max(Size(), Position() + count));
  return Current().Write(src, count);
}

int64_t TABSTemporaryStream::Seek(int64_t position) { return Current().Seek(position); }
int64_t TABSTemporaryStream::Position() const { return Current().Position(); }
int64_t TABSTemporaryStream::Size() const { return Current().Size(); }

void TABSTemporaryStream::SetSize(int64_t newSize) {
  SpillIfNeeded(newSize);
  Current().SetSize(newSize);
}

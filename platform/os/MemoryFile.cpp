#include "os/MemoryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tiv::os {

struct MemoryFileSystem::File {
  struct Open {
    const void* handle;
    unsigned access;
    unsigned share;
  };
  struct Range {
    const void* handle;
    int64_t pos;
    int64_t len;
  };
  std::string bytes;
  bool readOnly = false;
  std::vector<Open> opens;
  std::vector<Range> locks;
};

namespace {

bool Overlaps(int64_t pos, int64_t len, const MemoryFileSystem::File::Range& r) {
  return pos < r.pos + r.len && r.pos < pos + len;
}

bool ValidRange(int64_t pos, int64_t len) { return pos >= 0 && len > 0 && pos <= INT64_MAX - len; }

}  // namespace

class MemoryFileHandle final : public FileHandle {
 public:
  MemoryFileHandle(MemoryFileSystem& fs, std::shared_ptr<MemoryFileSystem::File> file, unsigned access)
      : fs_(fs), file_(std::move(file)), access_(access) {}
  ~MemoryFileHandle() override { Close(); }
  MemoryFileHandle(const MemoryFileHandle&) = delete;
  MemoryFileHandle& operator=(const MemoryFileHandle&) = delete;

  Status ReadAt(int64_t pos, void* buf, size_t n, size_t& done) override {
    done = 0;
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_) return Status::FromErrno(EBADF);
    if (pos < 0) return Status::FromErrno(EINVAL);
    const std::string& bytes = file_->bytes;
    if (static_cast<uint64_t>(pos) >= bytes.size()) return {};
    done = std::min(n, bytes.size() - static_cast<size_t>(pos));
    std::memcpy(buf, bytes.data() + pos, done);
    return {};
  }

  Status WriteAt(int64_t pos, const void* buf, size_t n) override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_ || !(access_ & kAccessWrite)) return Status::FromErrno(EBADF);
    if (pos < 0) return Status::FromErrno(EINVAL);
    if (n > static_cast<uint64_t>(fs_.maxFileSize_) || pos > fs_.maxFileSize_ - static_cast<int64_t>(n))
      return Status::FromErrno(EFBIG);
    std::string& bytes = file_->bytes;
    const size_t end = static_cast<size_t>(pos) + n;
    if (end > bytes.size()) bytes.resize(end, '\0');
    if (n > 0) std::memcpy(bytes.data() + pos, buf, n);
    return {};
  }

  Status Size(int64_t& size) override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_) return Status::FromErrno(EBADF);
    size = static_cast<int64_t>(file_->bytes.size());
    return {};
  }

  Status Truncate(int64_t size) override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_ || !(access_ & kAccessWrite)) return Status::FromErrno(EBADF);
    if (size < 0) return Status::FromErrno(EINVAL);
    if (size > fs_.maxFileSize_) return Status::FromErrno(EFBIG);
    file_->bytes.resize(static_cast<size_t>(size), '\0');
    return {};
  }

  Status Sync() override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    return file_ ? Status{} : Status::FromErrno(EBADF);
  }

  Status Lock(int64_t pos, int64_t len) override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_) return Status::FromErrno(EBADF);
    if (!ValidRange(pos, len)) return Status::FromErrno(ERANGE);
    for (const auto& r : file_->locks)
      if (Overlaps(pos, len, r)) return Status::FromErrno(kLockHeld);
    file_->locks.push_back({this, pos, len});
    return {};
  }

  Status Unlock(int64_t pos, int64_t len) override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_) return Status::FromErrno(EBADF);
    auto& locks = file_->locks;
    const auto it = std::find_if(locks.begin(), locks.end(),
                                 [&](const auto& r) { return r.handle == this && r.pos == pos && r.len == len; });
    if (it == locks.end()) return Status::Custom(kNotLocked, "The range is not locked through this file handle");
    locks.erase(it);
    return {};
  }

  bool HoldsLock(int64_t pos, int64_t len) override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_ || !ValidRange(pos, len)) return false;
    return std::any_of(file_->locks.begin(), file_->locks.end(),
                       [&](const auto& r) { return r.handle == this && Overlaps(pos, len, r); });
  }

  bool SharedLocksOnly() const override { return false; }

  Status Close() override {
    std::lock_guard<std::mutex> guard(fs_.mutex_);
    if (!file_) return {};
    auto& locks = file_->locks;
    locks.erase(std::remove_if(locks.begin(), locks.end(), [&](const auto& r) { return r.handle == this; }),
                locks.end());
    auto& opens = file_->opens;
    opens.erase(std::remove_if(opens.begin(), opens.end(), [&](const auto& o) { return o.handle == this; }),
                opens.end());
    file_.reset();
    return {};
  }

 private:
  MemoryFileSystem& fs_;
  std::shared_ptr<MemoryFileSystem::File> file_;  // null once closed
  unsigned access_;
};

MemoryFileSystem::~MemoryFileSystem() = default;

bool MemoryFileSystem::SetContents(const std::string& path, std::string bytes) {
  if (static_cast<int64_t>(bytes.size()) > maxFileSize_) return false;
  auto file = std::make_shared<File>();
  file->bytes = std::move(bytes);
  std::lock_guard<std::mutex> guard(mutex_);
  files_[path] = std::move(file);
  return true;
}

std::string MemoryFileSystem::Contents(const std::string& path) const {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = files_.find(path);
  return it == files_.end() ? std::string() : it->second->bytes;
}

Status MemoryFileSystem::Open(const std::string& path, const OpenOptions& options, std::unique_ptr<FileHandle>& out) {
  out.reset();
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = files_.find(path);
  if (options.create) {
    if (it != files_.end()) return Status::FromErrno(EEXIST);
    it = files_.emplace(path, std::make_shared<File>()).first;
  } else if (it == files_.end()) {
    return Status::FromErrno(ENOENT);
  }
  File& file = *it->second;
  if (file.readOnly && (options.access & kAccessWrite)) return Status::FromErrno(EACCES);
  for (const File::Open& o : file.opens) {
    const bool denied = ((options.access & kAccessRead) && !(o.share & kShareRead)) ||
                        ((options.access & kAccessWrite) && !(o.share & kShareWrite)) ||
                        ((o.access & kAccessRead) && !(options.share & kShareRead)) ||
                        ((o.access & kAccessWrite) && !(options.share & kShareWrite));
    if (denied)
      return Status::Custom(kShareViolation,
                            "The process cannot access the file because it is being used by another process");
  }
  auto handle = std::make_unique<MemoryFileHandle>(*this, it->second, options.access);
  file.opens.push_back({handle.get(), options.access, options.share});
  out = std::move(handle);
  return {};
}

Status MemoryFileSystem::Stat(const std::string& path, FileInfo& info) {
  info = FileInfo{};
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = files_.find(path);
  if (it == files_.end()) return {};  // as on disk: no error, exists false
  info.exists = true;
  info.readOnly = it->second->readOnly;
  info.size = static_cast<int64_t>(it->second->bytes.size());
  return {};
}

Status MemoryFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = files_.find(path);
  if (it == files_.end()) return Status::FromErrno(ENOENT);
  it->second->readOnly = readOnly;
  return {};
}

Status MemoryFileSystem::Remove(const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  return files_.erase(path) ? Status{} : Status::FromErrno(ENOENT);
}

Status MemoryFileSystem::Rename(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = files_.find(from);
  if (it == files_.end()) return Status::FromErrno(ENOENT);
  if (from == to) return {};
  std::shared_ptr<File> file = it->second;
  files_.erase(it);
  files_[to] = std::move(file);
  return {};
}

}  // namespace tiv::os

// The POSIX implementation of OsFile.h: pread/pwrite, fdatasync, and
// open-file-description locks (F_OFD_SETLK / F_OFD_GETLK).
//
// Share-mode bytes (offsets from kShareLockBase), each held as a shared lock
// by every live open it describes:
//   +0 the open can read        +2 the open denies reading to others
//   +1 the open can write       +3 the open denies writing to others
//   +4 gate: held exclusively for the few microseconds of an open's check,
//      so two opens cannot both pass the check before either marks itself.
// A new open is refused when it wants to read and someone holds +2, wants
// to write and someone holds +3, denies reading and someone holds +0, or
// denies writing and someone holds +1. F_OFD_GETLK asks without locking.
#include "os/OsFile.h"
#include "os/PosixIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tiv::os {

Status Status::FromErrno(int err) {
  if (err == 0) return {};
  char buf[256];
  const char* text = strerror_r(err, buf, sizeof buf);
  return {err, text ? std::string(text) : std::string("Unknown error")};
}

bool IsLockingUnsupported(int error) {
  // Not EINVAL: the kernel answers it for a request it cannot take (a range
  // out of bounds, or no open-file-description locks at all), and a lock
  // that was not taken must never count as held.
  return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS;
}

namespace {

constexpr int64_t kCanRead = 0, kCanWrite = 1, kDenyRead = 2, kDenyWrite = 3, kGate = 4;

int SetLock(int fd, short type, int64_t pos, int64_t len) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(pos);
  fl.l_len = static_cast<off_t>(len);
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

// Returns 0 and sets busy when another open holds a lock that would conflict
// with an exclusive lock of the byte.
int ProbeByte(int fd, int64_t pos, bool& busy) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(pos);
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return errno;
  busy = fl.l_type != F_UNLCK;
  return 0;
}

class PosixFileHandle final : public FileHandle {
 public:
  PosixFileHandle(int fd, unsigned access, bool sharedOnly) : fd_(fd), access_(access), sharedOnly_(sharedOnly) {}
  ~PosixFileHandle() override { Close(); }

  Status ReadAt(int64_t pos, void* buf, size_t n, size_t& done) override {
    return posix::ReadAt(fd_, pos, buf, n, done);
  }

  Status WriteAt(int64_t pos, const void* buf, size_t n) override {
    if (!(access_ & kAccessWrite)) return Status::FromErrno(EBADF);
    return posix::WriteAt(fd_, pos, buf, n);
  }

  Status Size(int64_t& size) override { return posix::Size(fd_, size); }

  Status Truncate(int64_t size) override {
    if (!(access_ & kAccessWrite)) return Status::FromErrno(EBADF);
    return posix::Truncate(fd_, size);
  }

  Status Sync() override { return posix::Sync(fd_); }

  Status Lock(int64_t pos, int64_t len) override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    if (pos < 0 || len <= 0 || pos > INT64_MAX - len) return Status::FromErrno(ERANGE);
    std::lock_guard<std::mutex> guard(mu_);
    if (OverlapsLocked(pos, len)) return Status::FromErrno(kLockHeld);
    int err = SetLock(fd_, sharedOnly_ ? F_RDLCK : F_WRLCK, pos, len);
    if (err == EACCES || err == EAGAIN) return Status::FromErrno(kLockHeld);
    if (err != 0) return Status::FromErrno(err);
    held_.emplace_back(pos, len);
    return {};
  }

  Status Unlock(int64_t pos, int64_t len) override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    std::lock_guard<std::mutex> guard(mu_);
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->first == pos && it->second == len) {
        int err = SetLock(fd_, F_UNLCK, pos, len);
        if (err != 0) return Status::FromErrno(err);
        held_.erase(it);
        return {};
      }
    }
    return Status::Custom(kNotLocked, "The range is not locked through this file handle");
  }

  bool HoldsLock(int64_t pos, int64_t len) override {
    if (pos < 0 || len <= 0 || pos > INT64_MAX - len) return false;
    std::lock_guard<std::mutex> guard(mu_);
    return OverlapsLocked(pos, len);
  }

  bool SharedLocksOnly() const override { return sharedOnly_; }

  Status Close() override {
    if (fd_ < 0) return {};
    int fd = std::exchange(fd_, -1);
    {
      std::lock_guard<std::mutex> guard(mu_);
      held_.clear();
    }
    if (close(fd) != 0 && errno != EINTR) return Status::FromErrno(errno);
    return {};
  }

 private:
  bool OverlapsLocked(int64_t pos, int64_t len) const {
    for (const auto& [p, l] : held_)
      if (pos < p + l && p < pos + len) return true;
    return false;
  }

  int fd_;
  unsigned access_;
  bool sharedOnly_;
  std::mutex mu_;
  std::vector<std::pair<int64_t, int64_t>> held_;
};

// Checks the share bytes and marks this open in them (see the top of file).
Status ClaimShareMode(int fd, const OpenOptions& o, bool sharedOnly) {
  const int64_t b = kShareLockBase;
  bool gated = false;
  if (!sharedOnly) {
    // The gate is held only while another open checks; 2 s is far beyond that.
    for (int attempt = 0; attempt < 2000; ++attempt) {
      int err = SetLock(fd, F_WRLCK, b + kGate, 1);
      if (err == 0) {
        gated = true;
        break;
      }
      if (err != EAGAIN && err != EACCES) {
        if (IsLockingUnsupported(err)) return {};  // no locks: no share modes
        return Status::FromErrno(err);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!gated) return Status::Custom(kShareViolation, "The file is being opened by another process");
  }
  struct Rule {
    bool applies;
    int64_t probe;
  };
  const Rule rules[] = {
      {(o.access & kAccessRead) != 0, kDenyRead},
      {(o.access & kAccessWrite) != 0, kDenyWrite},
      {(o.share & kShareRead) == 0, kCanRead},
      {(o.share & kShareWrite) == 0, kCanWrite},
  };
  Status result;
  for (const Rule& r : rules) {
    if (!r.applies) continue;
    bool busy = false;
    int err = ProbeByte(fd, b + r.probe, busy);
    if (err != 0 && !IsLockingUnsupported(err)) {
      result = Status::FromErrno(err);
      break;
    }
    if (busy) {
      result = Status::Custom(kShareViolation,
                              "The process cannot access the file because it is being used by another process");
      break;
    }
  }
  if (result.ok()) {
    const std::pair<bool, int64_t> marks[] = {
        {(o.access & kAccessRead) != 0, kCanRead},
        {(o.access & kAccessWrite) != 0, kCanWrite},
        {(o.share & kShareRead) == 0, kDenyRead},
        {(o.share & kShareWrite) == 0, kDenyWrite},
    };
    for (const auto& [applies, off] : marks) {
      if (!applies) continue;
      int err = SetLock(fd, F_RDLCK, b + off, 1);
      if (err != 0 && !IsLockingUnsupported(err)) {
        result = Status::FromErrno(err);
        break;
      }
    }
  }
  if (gated) SetLock(fd, F_UNLCK, b + kGate, 1);
  return result;
}

class PosixFileSystem final : public FileSystem {
 public:
  Status Open(const std::string& path, const OpenOptions& options, std::unique_ptr<FileHandle>& out) override {
    out.reset();
    int flags = O_RDWR | O_CLOEXEC;
    if (options.create) flags |= O_CREAT | O_EXCL;
    int fd = ::open(path.c_str(), flags, 0666);
    bool sharedOnly = false;
    if (fd < 0 && !options.create && !(options.access & kAccessWrite) &&
        (errno == EACCES || errno == EROFS || errno == EPERM)) {
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      sharedOnly = true;
    }
    if (fd < 0) return Status::FromErrno(errno);
    Status s = ClaimShareMode(fd, options, sharedOnly);
    if (!s.ok()) {
      ::close(fd);
      return s;
    }
    out = std::make_unique<PosixFileHandle>(fd, options.access, sharedOnly);
    return {};
  }

  Status Stat(const std::string& path, FileInfo& info) override {
    info = FileInfo{};
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return {};
      return Status::FromErrno(errno);
    }
    info.exists = true;
    info.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    info.size = static_cast<int64_t>(st.st_size);
    return {};
  }

  Status SetReadOnly(const std::string& path, bool readOnly) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Status::FromErrno(errno);
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    if (::chmod(path.c_str(), mode) != 0) return Status::FromErrno(errno);
    return {};
  }

  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return Status::FromErrno(errno);
    return {};
  }

  Status Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return Status::FromErrno(errno);
    return {};
  }

  Status SyncDirectory(const std::string& path) override {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    const std::string folder = parent.empty() ? "." : parent;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno);
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0) return Status::FromErrno(error);
    return {};
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace tiv::os

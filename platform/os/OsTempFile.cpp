#include "os/OsTempFile.h"
#include "os/PosixIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

namespace tiv::os {

namespace {

class TempFileHandle final : public FileHandle {
 public:
  explicit TempFileHandle(int fd) : fd_(fd) {}
  ~TempFileHandle() override { Close(); }

  Status ReadAt(int64_t pos, void* buf, size_t n, size_t& done) override {
    return posix::ReadAt(fd_, pos, buf, n, done);
  }

  Status WriteAt(int64_t pos, const void* buf, size_t n) override { return posix::WriteAt(fd_, pos, buf, n); }

  Status Size(int64_t& size) override { return posix::Size(fd_, size); }

  Status Truncate(int64_t size) override { return posix::Truncate(fd_, size); }

  Status Sync() override { return posix::Sync(fd_); }

  Status Lock(int64_t, int64_t) override { return Status::FromErrno(ENOLCK); }
  Status Unlock(int64_t, int64_t) override { return Status::FromErrno(ENOLCK); }
  bool HoldsLock(int64_t, int64_t) override { return false; }
  bool SharedLocksOnly() const override { return false; }

  Status Close() override {
    if (fd_ < 0) return {};
    const int fd = std::exchange(fd_, -1);
    if (close(fd) != 0 && errno != EINTR) return Status::FromErrno(errno);
    return {};
  }

 private:
  int fd_;
};

bool IsFolder(const char* path) {
  struct stat st;
  return path != nullptr && *path != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string TemporaryFolder() {
  const char* env = std::getenv("TMPDIR");
  return IsFolder(env) ? std::string(env) : std::string("/tmp");
}

Status CreateTemporaryFile(const std::string& prefix, std::unique_ptr<FileHandle>& out, std::string& name) {
  out.reset();
  const std::string folder = TemporaryFolder();
  name = folder + "/" + prefix;
  int fd = -1;
#ifdef O_TMPFILE
  fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    out = std::make_unique<TempFileHandle>(fd);
    return {};
  }
  // Only "this file system has no unnamed files" falls back to a name.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Status::FromErrno(errno);
#endif
  std::string pattern = folder + "/" + prefix + "XXXXXX";
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno);
  if (::unlink(path.data()) != 0) {
    const int err = errno;
    ::close(fd);
    return Status::FromErrno(err);
  }
  name = path.data();
  out = std::make_unique<TempFileHandle>(fd);
  return {};
}

}  // namespace tiv::os

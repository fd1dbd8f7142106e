#include "os/PosixIo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tiv::os::posix {

Status ReadAt(int fd, int64_t pos, void* buf, size_t n, size_t& done) {
  done = 0;
  if (fd < 0) return Status::FromErrno(EBADF);
  if (pos < 0) return Status::FromErrno(EINVAL);
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    ssize_t r = pread(fd, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno);
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return {};
}

Status WriteAt(int fd, int64_t pos, const void* buf, size_t n) {
  if (fd < 0) return Status::FromErrno(EBADF);
  if (pos < 0) return Status::FromErrno(EINVAL);
  const auto* p = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = pwrite(fd, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno);
    }
    if (r == 0) return Status::FromErrno(EIO);
    done += static_cast<size_t>(r);
  }
  return {};
}

Status Size(int fd, int64_t& size) {
  size = 0;
  if (fd < 0) return Status::FromErrno(EBADF);
  struct stat st;
  if (fstat(fd, &st) != 0) return Status::FromErrno(errno);
  size = static_cast<int64_t>(st.st_size);
  return {};
}

Status Truncate(int fd, int64_t size) {
  if (fd < 0) return Status::FromErrno(EBADF);
  if (size < 0) return Status::FromErrno(EINVAL);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) return Status::FromErrno(errno);
  return {};
}

Status Sync(int fd) {
  if (fd < 0) return Status::FromErrno(EBADF);
  if (fdatasync(fd) != 0) return Status::FromErrno(errno);
  return {};
}

}  // namespace tiv::os::posix

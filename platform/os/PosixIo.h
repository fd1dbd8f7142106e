// PosixIo: the descriptor-level calls that every POSIX file handle of this
// layer shares (database files and temporary files): whole positional reads
// and writes that retry on EINTR and short transfers, size, truncate and
// data flush. Internal to platform/os.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/OsFile.h"

namespace tiv::os::posix {

// Reads up to n bytes at pos; `done` < n only at the end of the file.
Status ReadAt(int fd, int64_t pos, void* buf, size_t n, size_t& done);
// Writes all n bytes at pos, or fails.
Status WriteAt(int fd, int64_t pos, const void* buf, size_t n);
Status Size(int fd, int64_t& size);
Status Truncate(int fd, int64_t size);
Status Sync(int fd);

}  // namespace tiv::os::posix

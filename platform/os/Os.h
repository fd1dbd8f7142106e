// Os: the operating-system layer, the only code in the tree that includes
// system headers for files, locks, time, randomness and memory figures.
// Everything above it calls these interfaces, so a test can put a failing
// one in their place.
//
//   OsFile.h      files and byte-range locks (open-file-description locks
//                 with a per-open registry; share modes emulated by locks);
//                 the FileSystem interface every file is opened through
//   FaultFile.h   a FileSystem for tests that fails the Nth write or flush
//                 and can drop what was not flushed, as a power cut would
//   MemoryFile.h  a FileSystem of byte strings in memory, bounded in size,
//                 with the locks and share modes of the real one
//   OsTempFile.h  temporary files, unnamed from the start
//   OsClock.h     tick counter, sleep
//   OsRandom.h    random numbers and version-4 GUIDs
//   OsMemory.h    available and total physical memory
//   PosixIo.h     descriptor calls shared by the POSIX handles (internal)
#pragma once

#include "os/FaultFile.h"
#include "os/MemoryFile.h"
#include "os/OsClock.h"
#include "os/OsFile.h"
#include "os/OsMemory.h"
#include "os/OsRandom.h"
#include "os/OsTempFile.h"

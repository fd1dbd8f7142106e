// OsTempFile: files for temporary data, which never outlive their process.
//
// Contract
//  1. A temporary file is created in the temporary folder: $TMPDIR when it
//     names a folder, else /tmp. It is created exclusive and has no name
//     in that folder from the moment the call returns: an unnamed file
//     (O_TMPFILE) where the file system offers one, otherwise a unique name
//     "<folder>/<prefix>XXXXXX" that is unlinked at once. So a process that
//     is killed leaves nothing behind, and closing the handle deletes it.
//  2. The handle reads, writes, sizes and truncates like any FileHandle.
//     Nobody else can open the file, so it takes no byte-range locks: Lock
//     and Unlock answer ENOLCK.
//  3. `name` receives a text that names the file for messages (the folder
//     and the prefix); it cannot be opened.
//
// Thread use: any thread.
#pragma once

#include <memory>
#include <string>

#include "os/OsFile.h"

namespace tiv::os {

// The temporary folder of contract 1.
std::string TemporaryFolder();

// Creates an empty temporary file (contract 1); prefix: a few letters.
Status CreateTemporaryFile(const std::string& prefix, std::unique_ptr<FileHandle>& out, std::string& name);

}  // namespace tiv::os

// Helpers of the disk tests: a database file made the way the tool makes
// it, and an open that reports the modes granted. The helpers every test
// folder shares (scratch folder, whole-file bytes, engine errors) come from
// tests/support.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "disk/ZUDDiskEngine.h"
#include "support/EngineError.h"
#include "support/FileBytes.h"
#include "support/ScratchDir.h"

// Creates a database file the way the tool does and closes it.
inline void CreateDatabase(const std::string& path, uint16_t pageSize = 4096, uint16_t extent = 8) {
  TABSDiskPageManager pm;
  pm.CreateDatabaseFile(path, TABSPassword{}, extent, pageSize);
  pm.CloseDatabaseFile();
}

struct OpenResult {
  bool multiUser, readOnly, needRepair;
};

inline OpenResult OpenDb(TABSDiskPageManager& pm, const std::string& path, bool multiUser = true,
                         bool exclusive = false, bool readOnly = false) {
  OpenResult r{multiUser, readOnly, false};
  pm.OpenDatabaseFile(path, TABSPassword{}, r.multiUser, exclusive, r.needRepair, r.readOnly);
  return r;
}

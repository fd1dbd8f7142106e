// Helpers of the disk tests: a database file made the way the tool makes
// it, an open that reports the modes granted, a page's DataCRC restored
// after a crafted change, and the engine's check of a whole database file.
// The helpers every test folder shares (scratch folder, whole-file bytes,
// engine errors) come from tests/support.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "disk/ZUDDiskEngine.h"
#include "support/EngineError.h"
#include "support/FileBytes.h"
#include "support/ScratchDir.h"

// Stores the DataCRC of the plain page at `pageOffset` of a file image, as
// the engine writes it (DiskCrc.h contract 3). A test that changes a page's
// data area to reach a check behind the CRC calls it: the page then reads
// as a page written with those bytes (a wrong but whole write, or a writer
// of its own), not as bytes damaged after the write.
inline void StorePlainPageCrc(Bytes& file, int64_t pageOffset, int pageSize = 4096) {
  uint8_t* page = file.data() + pageOffset;
  tiv::disk::PutU32(page + tiv::disk::kPgDataCRC,
                    tiv::disk::PlainPageCrc(page + tiv::disk::kPageHeaderSize,
                                            static_cast<size_t>(pageSize - tiv::disk::kPageHeaderSize)));
}

// StorePlainPageCrc for every page of a plain file image (a new file: the
// page area at kNewPageAreaOffset) whose DataCRC is set, so that bytes a
// test crafted read as written so. Pages without a CRC (the direct files')
// stay without one.
inline void RestorePlainPageCrcs(Bytes& file, int pageSize = 4096) {
  for (int64_t at = tiv::disk::kNewPageAreaOffset; at + pageSize <= static_cast<int64_t>(file.size());
       at += pageSize)
    if (tiv::disk::GetU32(file.data() + at + tiv::disk::kPgDataCRC) != 0) StorePlainPageCrc(file, at, pageSize);
}

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

// What the engine's check says of a database nobody changes meanwhile: "ok"
// alone, no problem and no note.
inline void ExpectCheckOk(const std::string& path, const TABSPassword& password = TABSPassword{}) {
  const TABSCheckReport report = CheckDatabase(path, password);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.Lines(), std::vector<std::string>{"ok"});
}

// Helpers shared by the disk tests: a scratch folder per test, whole-file
// reads and writes, a page's DataCRC restored after a crafted change, a
// check of the engine error a call raises, and the engine's check of a
// whole database file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "disk/ZUDDiskEngine.h"
#include "os/OsRandom.h"

using Bytes = std::vector<uint8_t>;

class ScratchDir {
 public:
  ScratchDir() {
    path_ = std::filesystem::temp_directory_path() / ("tivoran-disk-" + tiv::os::NewGuidText());
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

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

// Creates a database file the way the tool does and closes it.
inline void CreateDatabase(const std::string& path, uint16_t pageSize = 4096, uint16_t extent = 8) {
  TABSDiskPageManager pm;
  pm.CreateDatabaseFile(path, TABSPassword{}, extent, pageSize);
  pm.CloseDatabaseFile();
}

// Runs fn and checks it raises EABSException with this code and a message
// that contains `part`.
inline void ExpectEngineError(const std::function<void()>& fn, int32_t code, const std::string& part = "") {
  try {
    fn();
    ADD_FAILURE() << "no error raised, expected " << code;
  } catch (const EABSException& e) {
    EXPECT_EQ(e.NativeError(), code) << e.what();
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
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

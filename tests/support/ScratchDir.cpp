#include "support/ScratchDir.h"

#include <system_error>

#include "os/OsRandom.h"

ScratchDir::ScratchDir(const std::string& prefix)
    : path_(std::filesystem::temp_directory_path() / (prefix + "-" + tiv::os::NewGuidText())) {
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  // Tests of refused writes take the write bit off the folder; give it
  // back, or the removal stops half way.
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

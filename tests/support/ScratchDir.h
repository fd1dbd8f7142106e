// A folder of its own for one test: created empty under the system's
// temporary folder with a fresh GUID in its name, so tests running side by
// side never share files, and removed with everything in it when the
// object goes, even after a test took its write bit away.
#pragma once

#include <filesystem>
#include <string>

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "tivoran-test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of `name` inside the folder (nothing is created).
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

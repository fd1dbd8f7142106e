#include "support/CalcDatabase.h"

#include <memory>
#include <stdexcept>

#include "support/ChildProcess.h"
#include "support/ScratchDir.h"

const char* CalcProgramPath() { return CALC_PROGRAM_PATH; }

std::string CopyCalcDatabase(const std::filesystem::path& folder) {
  // Built on first use and kept for the process: mkdb is a process of its
  // own, and each test only needs a copy.
  static const std::unique_ptr<ScratchDir> built = [] {
    auto dir = std::make_unique<ScratchDir>("tivoran-calcdb");
    ChildProcess mkdb({dir->File("Tivoran.ZUD"), DIASCOT_CSV}, MKDB_PATH);
    const std::string said = mkdb.ReadLine();
    if (mkdb.Wait() != 0) throw std::runtime_error("mkdb failed: " + said);
    return dir;
  }();
  const std::filesystem::path to = folder / "Tivoran.ZUD";
  std::filesystem::copy_file(built->Path() / "Tivoran.ZUD", to, std::filesystem::copy_options::overwrite_existing);
  return to.string();
}

// libFuzzer target: any bytes as a PPMd-compressed buffer (algorithm 3).
// The decoder must answer true or false; a crash, a sanitizer report, an
// exception (the model's own invariants throw std::logic_error), a hang or
// an allocation past the model memory the header names (at most 100 MiB,
// under libFuzzer's -malloc_limit_mb) is a fault. What decodes is
// compressed again (level 1) and must decode back to the same bytes.
//
// Bounds: inputs past kMaxInput bytes are skipped; the output may not pass
// kMaxOutput bytes (the caller's bound a BLOB block gives in the engine).
//
// The seeds: when the corpus folder given on the command line is empty, the
// target writes into it text, noise and zeros compressed at levels 1, 3 and
// 9, so that mutations start from valid headers and coded data.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "disk/ZUDCompression.h"

namespace {

constexpr size_t kMaxInput = 16 * 1024;
constexpr int64_t kMaxOutput = 1 << 20;

std::string Compressed(uint8_t level, const std::string& plain) {
  TABSMemBlock out;
  int64_t outSize = 0;
  if (!CompressBuffer(acaPPM, level, plain.data(), static_cast<int64_t>(plain.size()), out, outSize)) return {};
  return std::string(out.get(), static_cast<size_t>(outSize));
}

void WriteSeeds(const std::filesystem::path& folder) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "The calculator keeps its tables in one file; row " + std::to_string(i * 37 % 11) + " of " +
            std::to_string(i) + ".\n";
  std::string noise(2000, '\0');
  uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  const std::string inputs[] = {text, noise, std::string(3000, '\0'), "a"};
  int n = 0;
  for (uint8_t level : {1, 3, 9})
    for (const std::string& in : inputs) {
      const std::string seed = Compressed(level, in);
      std::ofstream(folder / ("seed" + std::to_string(n++)), std::ios::binary)
          .write(seed.data(), static_cast<std::streamsize>(seed.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    const std::filesystem::path folder((*argv)[i]);
    std::error_code ec;
    if ((*argv)[i][0] == '-' || !std::filesystem::is_directory(folder, ec) || !std::filesystem::is_empty(folder, ec))
      continue;
    WriteSeeds(folder);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  TABSMemBlock out;
  int64_t outSize = 4096;
  if (!DecompressBuffer(acaPPM, data, static_cast<int64_t>(size), outSize, out, kMaxOutput)) return 0;
  if (outSize == 0) return 0;
  const std::string plain(out.get(), static_cast<size_t>(outSize));
  const std::string again = Compressed(1, plain);
  TABSMemBlock back;
  int64_t backSize = outSize;
  if (again.empty() || !DecompressBuffer(acaPPM, again.data(), static_cast<int64_t>(again.size()), backSize, back) ||
      std::string(back.get(), static_cast<size_t>(backSize)) != plain)
    throw std::logic_error("FuzzPpmd: decoded bytes do not survive a second round trip");
  return 0;
}

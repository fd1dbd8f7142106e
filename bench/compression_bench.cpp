// Buffer compression of 10 MB of text: PPMd (algorithm 3) at levels 1, 5
// and 9 beside zlib and bzip2 at the same levels, compressing and
// decompressing through CompressBuffer / DecompressBuffer as BLOB blocks
// and internal files do. Throughput counts uncompressed bytes; the
// "ratio" counter is compressed size / uncompressed size.
//
// The text is our own sources and documents (about 3 MB), repeated in a
// different file order until it reaches 10 MB: a model larger than the
// distance between repeats (PPMd levels 8-9) sees some of them again.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "disk/ZUDCompression.h"

namespace {

constexpr size_t kTextSize = 10'000'000;

const std::string& Text() {
  static const std::string text = [] {
    std::vector<std::string> files;
    for (const char* dir : {"engine", "platform", "tests", "app", "tools", "docs"}) {
      std::error_code ec;
      for (const auto& e :
           std::filesystem::recursive_directory_iterator(std::string(TIVORAN_SOURCE_ROOT) + "/" + dir, ec)) {
        const std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".md" && ext != ".inc")) continue;
        std::ifstream f(e.path(), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        files.push_back(ss.str());
      }
    }
    std::sort(files.begin(), files.end());
    std::mt19937 rng(1);
    std::string all;
    while (!files.empty() && all.size() < kTextSize) {
      for (const std::string& f : files) all += f;
      std::shuffle(files.begin(), files.end(), rng);
    }
    all.resize(std::min(all.size(), kTextSize));
    return all;
  }();
  return text;
}

void Compress(benchmark::State& state) {
  const auto algorithm = static_cast<uint8_t>(state.range(0));
  const auto level = static_cast<uint8_t>(state.range(1));
  const std::string& text = Text();
  int64_t outSize = 0;
  for (auto _ : state) {
    TABSMemBlock out;
    if (!CompressBuffer(algorithm, level, text.data(), static_cast<int64_t>(text.size()), out, outSize))
      state.SkipWithError("compression failed");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["ratio"] = static_cast<double>(outSize) / static_cast<double>(text.size());
  state.SetLabel(CompressionAlgorithmName(algorithm));
}

void Decompress(benchmark::State& state) {
  const auto algorithm = static_cast<uint8_t>(state.range(0));
  const auto level = static_cast<uint8_t>(state.range(1));
  const std::string& text = Text();
  TABSMemBlock packed;
  int64_t packedSize = 0;
  if (!CompressBuffer(algorithm, level, text.data(), static_cast<int64_t>(text.size()), packed, packedSize)) {
    state.SkipWithError("compression failed");
    return;
  }
  for (auto _ : state) {
    TABSMemBlock out;
    int64_t outSize = static_cast<int64_t>(text.size());
    if (!DecompressBuffer(algorithm, packed.get(), packedSize, outSize, out) ||
        outSize != static_cast<int64_t>(text.size()))
      state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.SetLabel(CompressionAlgorithmName(algorithm));
}

void Levels(benchmark::internal::Benchmark* b) {
  for (int64_t algorithm : {acaZlib, acaBZip, acaPPM})
    for (int64_t level : {1, 5, 9}) b->Args({algorithm, level});
  b->ArgNames({"alg", "level"})->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

BENCHMARK(Compress)->Apply(Levels);
BENCHMARK(Decompress)->Apply(Levels);

}  // namespace

BENCHMARK_MAIN();

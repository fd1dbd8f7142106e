// The page cache and the free-space map: pinning and releasing cached pages,
// and allocating and freeing many pages straight against the file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "disk/ZUDDiskEngine.h"
#include "os/OsRandom.h"

namespace {

struct TempDatabase {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tivoran-bench-" + tiv::os::NewGuidText() + ".zud");
  TABSDiskPageManager pm;
  TempDatabase() {
    pm.CreateDatabaseFile(path.string(), TABSPassword{});
    pm.CloseDatabaseFile();
    bool multiUser = false, needRepair = false, readOnly = false;
    pm.OpenDatabaseFile(path.string(), TABSPassword{}, multiUser, false, needRepair, readOnly);
  }
  ~TempDatabase() {
    pm.CloseDatabaseFile();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

// GetPage + PutPage of pages that are all in the shared cache.
void BM_GetPutCachedPage(benchmark::State& state) {
  TempDatabase db;
  const int pages = static_cast<int>(state.range(0));
  std::vector<int32_t> numbers;
  for (int i = 0; i < pages; ++i) {
    TABSPage* p = db.pm.AddPage(0, tiv::disk::ptTableRecord);
    numbers.push_back(p->PageNo);
    db.pm.PutPage(p);
  }
  db.pm.CommitSession(0);
  size_t i = 0;
  for (auto _ : state) {
    TABSPage* p = db.pm.GetPage(1, numbers[i], true, tiv::disk::ptTableRecord);
    benchmark::DoNotOptimize(p->DataBuffer()[0]);
    db.pm.PutPage(p);
    if (++i == numbers.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetPutCachedPage)->Arg(100)->Arg(900);

// 100,000 allocations, then 100,000 releases from the top (the file grows
// and shrinks), each under the header lock against the file.
void BM_AllocateAndFree100k(benchmark::State& state) {
  constexpr int kPages = 100000;
  for (auto _ : state) {
    TempDatabase db;
    TABSDatabaseFreeSpaceManager& fsm = db.pm.FreeSpaceManager();
    std::vector<int32_t> numbers;
    numbers.reserve(kPages);
    for (int i = 0; i < kPages; ++i) numbers.push_back(fsm.AllocatePage());
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) fsm.ReleasePage(*it);
  }
  state.SetItemsProcessed(state.iterations() * 2 * kPages);
}
BENCHMARK(BM_AllocateAndFree100k)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

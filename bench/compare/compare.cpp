// compare: the same workloads on our engine and on SQLite (the system's
// libsqlite3 and sqlite3 command, only as a yardstick) in one run, each
// figure of ours beside SQLite's and the ratio ours / SQLite (below 1 we
// are faster, or smaller), printed as a table at the end.
//
// The table (CompareTables.h): k INTEGER with a unique index, s VARCHAR(40)
// with a case-insensitive index, d DATE, x DOUBLE; 100,000 rows unless said.
// SQLite runs with journal_mode=DELETE and synchronous=OFF, our engine with
// its rollback journal and no flushes: both write and remove a journal on
// every commit and force nothing to the disk, unless a workload is about
// durability.
//   load/N/*               N rows inserted in one transaction, N = 10,000,
//                          100,000 and 1,000,000 (about 25 s for the
//                          pair); counter per_row, and file_bytes:
//                          the size of the file once the 100k load is
//                          committed and closed
//   lookups/*              100,000 lookups by k through the unique index,
//                          in random order, every one a hit
//   scan_by_k/*            every row in k order
//   ranges/*               100 scans of a range of 1 % of k
//   scan_by_s/*            every row through the s index
//   update_10pct/*         s and x of 10,000 rows, each found by k, in one
//                          transaction
//   delete_10pct/*         10,000 rows, each found by k, in one transaction
//   peak_memory/*          counter peak_rss_bytes: how far the 100k load
//                          raised the resident set of a process of its own
//   import/*               a 50,000-row CSV file through
//                          "zudadmin import FILE bench CSV" and through
//                          "sqlite3 FILE '.import --csv --skip 1 CSV bench'"
//                          into the same empty table, each a whole process
//                          timed from its start to its exit; both import
//                          the file in one transaction (zudadmin opens
//                          the database multi-user, as it always does)
//   commits/one-row/*      5,000 inserts, each its own commit
//   commits/one-transaction/*  the 100k load with flushes
// The commit workloads run in five configurations: ours/non-durable and
// sqlite/delete-off are the peers above; ours/durable
// (SetDurableCommits(true): every commit flushes) survives a power cut as
// sqlite/delete-full (journal_mode=DELETE, synchronous=FULL) does, and
// sqlite/wal-normal is the best SQLite offers for many small commits. The
// non-durable one-transaction pair is load/100000.
//
// Reads run on a table loaded with the clock stopped, then closed and
// opened again, as an application starting anew finds it; each engine keeps
// its default page cache (ours: 1,000 pages of 4 KiB; SQLite: 2,000 KiB),
// which the 100k table outgrows in both. Writes get a new database in a temporary folder
// (TMPDIR, else /tmp: keep it on the disk being measured) for every
// iteration. Every result is checked after the clock stops: row counts,
// sums of keys, key order, lookups that must hit or miss. A failed check
// fails the benchmark, so a broken engine cannot look fast.
//
// Peak memory is measured in a process of its own per engine: this program
// starts itself again (--peak-memory-child=ours|sqlite), and the child makes
// the rows, resets its high-water mark (/proc/self/clear_refs), notes
// VmRSS, loads the 100k rows, closes, and answers VmHWM minus that. A fresh
// process, not a fork: a fork would inherit the heap this process already
// grew and freed, and the load would reuse it without raising the resident
// set.
//
// Times are wall-clock (the flushes and the child processes are waits, not
// CPU). Build and run (Release):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIVORAN_BENCH=ON -DTIVORAN_TESTS=OFF
//   cmake --build build/bench --target compare
//   build/bench/bench/compare --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// The summary shows the medians of the repetitions. One workload:
// --benchmark_filter='lookups/.*'. The durable commits wait on the disk's
// flushes: on a slow or shared disk they take tens of seconds a repetition.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "CompareTables.h"
#include "SummaryReporter.h"

using compare::DatabaseFiles;
using compare::OurTable;
using compare::Row;
using compare::SqliteTable;
using compare::Walk;

namespace {

constexpr int kRows = 100000;
constexpr int kOneRowCommits = 5000;
constexpr int kImportRows = 50000;
constexpr int kRanges = 100;
constexpr int kRangeWidth = kRows / 100;

template <typename Table>
using Maker = std::function<std::unique_ptr<Table>(const std::string& path, bool create)>;

Maker<OurTable> Ours(bool durable = false) {
  return [durable](const std::string& path, bool create) { return std::make_unique<OurTable>(path, create, durable); };
}
Maker<SqliteTable> Sqlite(const char* journalMode = "DELETE", const char* synchronous = "OFF") {
  return [=](const std::string& path, bool create) {
    return std::make_unique<SqliteTable>(path, create, journalMode, synchronous);
  };
}

template <typename Table>
const char* Extension() {
  return std::is_same_v<Table, OurTable> ? ".zud" : ".sqlite";
}

template <typename Table>
void Load(Table& t, const std::vector<Row>& rows) {
  t.Begin();
  for (const Row& row : rows) t.Insert(row);
  t.Commit();
}

// A new database holding `rows`, closed.
template <typename Table>
void Build(const Maker<Table>& make, const std::string& path, const std::vector<Row>& rows) {
  std::unique_ptr<Table> t = make(path, true);
  Load(*t, rows);
}

// The body of a benchmark: an engine error is a failed benchmark, not the
// end of the run.
void Guarded(benchmark::State& state, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void Check(benchmark::State& state, bool ok, const char* what) {
  if (!ok) state.SkipWithError(what);
}

// ---- inserts and commits ------------------------------------------------------

// `rows` inserts into a new table, in one transaction or each its own
// commit; only the inserts and commits are timed.
template <typename Table>
void Inserts(benchmark::State& state, const Maker<Table>& make, int rows, bool oneTransaction) {
  const std::vector<Row> data = compare::MakeRows(rows);
  Guarded(state, [&] {
    for (auto _ : state) {
      state.PauseTiming();
      DatabaseFiles files(Extension<Table>());
      std::unique_ptr<Table> t = make(files.path, true);
      state.ResumeTiming();
      if (oneTransaction) t->Begin();
      for (const Row& row : data) t->Insert(row);
      if (oneTransaction) t->Commit();
      state.PauseTiming();
      Check(state, t->Count() == rows, "the table does not hold every row inserted");
      Check(state, !std::isnan(t->LookUp(data.back().k)), "the last row inserted is not found");
      t.reset();
      state.counters["file_bytes"] = static_cast<double>(compare::FileBytes(files.path));
      state.ResumeTiming();
    }
  });
  // Seconds per row or commit: the inverse of the rate over the wall clock.
  state.counters[oneTransaction ? "per_row" : "per_commit"] =
      benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- reads --------------------------------------------------------------------

// A table of kRows loaded and opened again with the clock stopped; `read`
// is timed, and `check` judges each of its answers with the clock stopped.
template <typename Table, typename Result>
void Reads(benchmark::State& state, const Maker<Table>& make, const std::function<Result(Table&)>& read,
           const std::function<bool(const Result&)>& check) {
  const std::vector<Row> rows = compare::MakeRows(kRows);
  DatabaseFiles files(Extension<Table>());
  Guarded(state, [&] {
    Build(make, files.path, rows);
    std::unique_ptr<Table> t = make(files.path, false);
    for (auto _ : state) {
      const Result result = read(*t);
      state.PauseTiming();
      Check(state, check(result), "the reads did not see the rows they must");
      state.ResumeTiming();
    }
  });
}

// The sum of k over 0 .. n-1.
constexpr int64_t KeySum(int64_t n) { return n * (n - 1) / 2; }

std::vector<int32_t> ShuffledKeys() {
  std::vector<int32_t> keys(kRows);
  for (int32_t k = 0; k < kRows; ++k) keys[static_cast<size_t>(k)] = k;
  std::shuffle(keys.begin(), keys.end(), std::mt19937(20261210));
  return keys;
}

template <typename Table>
void LookUps(benchmark::State& state, const Maker<Table>& make) {
  const std::vector<int32_t> keys = ShuffledKeys();
  // x = k / 3 for every row: the sum the hits must add up to, in the
  // order they are added.
  double expected = 0;
  for (int32_t k : keys) expected += k / 3.0;
  Reads<Table, double>(
      state, make,
      [&](Table& t) {
        double sum = 0;
        for (int32_t k : keys) sum += t.LookUp(k);  // a miss is NaN and spoils the sum
        return sum;
      },
      [&](const double& sum) { return sum == expected; });
  state.counters["per_lookup"] =
      benchmark::Counter(kRows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <typename Table>
void ScanByK(benchmark::State& state, const Maker<Table>& make) {
  Reads<Table, Walk>(
      state, make, [](Table& t) { return t.ScanByK(); },
      [](const Walk& w) { return w.rows == kRows && w.sumK == KeySum(kRows) && w.ordered; });
}

template <typename Table>
void ScanByS(benchmark::State& state, const Maker<Table>& make) {
  Reads<Table, Walk>(
      state, make, [](Table& t) { return t.ScanByS(); },
      [](const Walk& w) { return w.rows == kRows && w.sumK == KeySum(kRows); });
}

template <typename Table>
void Ranges(benchmark::State& state, const Maker<Table>& make) {
  std::mt19937 random(7);
  std::vector<int32_t> lows(kRanges);
  int64_t expected = 0;
  for (int32_t& low : lows) {
    low = static_cast<int32_t>(random() % (kRows - kRangeWidth + 1));
    expected += KeySum(low + kRangeWidth) - KeySum(low);
  }
  Reads<Table, Walk>(
      state, make,
      [&](Table& t) {
        Walk all;
        for (int32_t low : lows) {
          const Walk w = t.RangeByK(low, low + kRangeWidth - 1);
          all.rows += w.rows;
          all.sumK += w.sumK;
          all.ordered = all.ordered && w.ordered;
        }
        return all;
      },
      [&](const Walk& w) { return w.rows == int64_t{kRanges} * kRangeWidth && w.sumK == expected && w.ordered; });
}

// ---- updates and deletes ------------------------------------------------------

// A table of kRows loaded and opened again with the clock stopped, then
// `change` (timed) in one transaction, then `check`.
template <typename Table>
void Changes(benchmark::State& state, const Maker<Table>& make, const std::function<int64_t(Table&)>& change,
             const std::function<bool(Table&)>& check) {
  const std::vector<Row> rows = compare::MakeRows(kRows);
  Guarded(state, [&] {
    for (auto _ : state) {
      state.PauseTiming();
      DatabaseFiles files(Extension<Table>());
      Build(make, files.path, rows);
      std::unique_ptr<Table> t = make(files.path, false);
      state.ResumeTiming();
      t->Begin();
      const int64_t changed = change(*t);
      t->Commit();
      state.PauseTiming();
      Check(state, changed == kRows / 10, "a row to change was not found");
      t.reset();
      t = make(files.path, false);  // what the file holds, not what a cache kept
      Check(state, check(*t), "the table does not hold the changes");
      t.reset();
      state.ResumeTiming();
    }
  });
}

template <typename Table>
void Update(benchmark::State& state, const Maker<Table>& make) {
  std::vector<std::string> texts(kRows);
  for (int32_t k = 0; k < kRows; k += 10) texts[static_cast<size_t>(k)] = "cambiado " + std::to_string(k);
  Changes<Table>(
      state, make,
      [&](Table& t) {
        int64_t n = 0;
        for (int32_t k = 0; k < kRows; k += 10) n += t.Update(k, texts[static_cast<size_t>(k)], -k);
        return n;
      },
      [](Table& t) {
        if (t.Count() != kRows) return false;
        for (int32_t k = 0; k < kRows; ++k)
          if (t.LookUp(k) != (k % 10 == 0 ? -k : k / 3.0)) return false;
        return true;
      });
}

template <typename Table>
void Delete(benchmark::State& state, const Maker<Table>& make) {
  Changes<Table>(
      state, make,
      [](Table& t) {
        int64_t n = 0;
        for (int32_t k = 5; k < kRows; k += 10) n += t.Delete(k);
        return n;
      },
      [](Table& t) {
        if (t.Count() != kRows - kRows / 10) return false;
        for (int32_t k = 0; k < kRows; ++k)
          if (std::isnan(t.LookUp(k)) != (k % 10 == 5)) return false;
        return t.ScanByK().rows == kRows - kRows / 10;
      });
}

// ---- processes: peak memory and import ----------------------------------------

std::string SelfPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) throw std::runtime_error("cannot read /proc/self/exe");
  return std::string(path, static_cast<size_t>(n));
}

// Runs a program (searched in PATH) to its end; its standard output goes to
// `output` when given, else to /dev/null. Answers its exit code (127: it
// could not be started; -1: killed).
int RunProcess(const std::vector<std::string>& args, std::string* output = nullptr) {
  int pipeEnds[2] = {-1, -1};
  if (output && pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = output ? pipeEnds[1] : open("/dev/null", O_WRONLY);
    dup2(out, STDOUT_FILENO);
    if (output) close(pipeEnds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (output) {
    close(pipeEnds[1]);
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) output->append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when absent.
int64_t StatusBytes(const char* field) {
  std::ifstream in("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stoll(line.substr(prefix.size())) * 1024;
  return -1;
}

// The child of peak_memory: prints how far the load raised the resident set.
int PeakMemoryChild(const std::string& engine) {
  const std::vector<Row> rows = compare::MakeRows(kRows);
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";  // the high-water mark back to the resident set now
    if (!reset.flush()) {
      std::cerr << "cannot reset the peak resident set\n";
      return 1;
    }
  }
  const int64_t before = StatusBytes("VmRSS");
  DatabaseFiles files(engine == "ours" ? ".zud" : ".sqlite");
  int64_t count = -1;
  if (engine == "ours") {
    OurTable t(files.path, true);
    Load(t, rows);
    count = t.Count();
  } else {
    SqliteTable t(files.path, true);
    Load(t, rows);
    count = t.Count();
  }
  if (count != kRows) {
    std::cerr << "the table does not hold every row inserted\n";
    return 1;
  }
  std::cout << StatusBytes("VmHWM") - before << "\n";
  return 0;
}

void PeakMemory(benchmark::State& state, const std::string& engine) {
  Guarded(state, [&] {
    for (auto _ : state) {
      std::string output;
      if (RunProcess({SelfPath(), "--peak-memory-child=" + engine}, &output) != 0) {
        state.SkipWithError("the measuring process failed");
        return;
      }
      state.counters["peak_rss_bytes"] = std::stod(output);
    }
  });
}

// The CSV both tools import: a header row naming the fields, dates as
// yyyy-mm-dd, doubles with every digit.
std::string WriteCsv(const std::vector<Row>& rows) {
  const std::string path = compare::NewTempPath(".csv");
  std::ofstream out(path, std::ios::binary);
  out << "k,s,d,x\n";
  char x[32];
  for (const Row& row : rows) {
    std::snprintf(x, sizeof x, "%.17g", row.x);
    out << row.k << "," << row.s << "," << row.isoDate << "," << x << "\n";
  }
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
  return path;
}

template <typename Table>
void Import(benchmark::State& state, const Maker<Table>& make) {
  const std::vector<Row> rows = compare::MakeRows(kImportRows);
  Guarded(state, [&] {
    const std::string csv = WriteCsv(rows);
    for (auto _ : state) {
      state.PauseTiming();
      DatabaseFiles files(Extension<Table>());
      make(files.path, true).reset();  // the empty table, closed
      std::vector<std::string> command;
      if constexpr (std::is_same_v<Table, OurTable>)
        command = {TIVORAN_ZUDADMIN, "import", files.path, "bench", csv};
      else
        command = {"sqlite3",
                   "-batch",
                   "-bail",
                   "-cmd",
                   "PRAGMA synchronous=OFF",
                   files.path,
                   ".import --csv --skip 1 " + csv + " bench"};
      state.ResumeTiming();
      const int exitCode = RunProcess(command);
      state.PauseTiming();
      if (exitCode != 0) {
        state.SkipWithError(exitCode == 127 ? "the import command could not be started" : "the import command failed");
        return;
      }
      std::unique_ptr<Table> t = make(files.path, false);
      Check(state, t->Count() == kImportRows, "the import did not store every row");
      Check(state, t->LookUp(rows.back().k) == rows.back().x, "the last row imported is not found");
      t.reset();
      state.ResumeTiming();
    }
  });
}

// ---- registration -------------------------------------------------------------

// Registers `body` for both engines as name/ours and name/sqlite.
void RegisterPair(const std::string& name, const std::function<void(benchmark::State&, const Maker<OurTable>&)>& ours,
                  const std::function<void(benchmark::State&, const Maker<SqliteTable>&)>& sqlite, int iterations) {
  benchmark::RegisterBenchmark((name + "/ours").c_str(), [=](benchmark::State& s) { ours(s, Ours()); })
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark((name + "/sqlite").c_str(), [=](benchmark::State& s) { sqlite(s, Sqlite()); })
      ->Iterations(iterations)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

template <template <typename> class Workload>
void RegisterPair(const std::string& name, int iterations) {
  RegisterPair(name, Workload<OurTable>::Run, Workload<SqliteTable>::Run, iterations);
}

#define COMPARE_WORKLOAD(Name, Function)                                                                 \
  template <typename Table>                                                                              \
  struct Name {                                                                                          \
    static void Run(benchmark::State& state, const Maker<Table>& make) { Function<Table>(state, make); } \
  };
COMPARE_WORKLOAD(LookUpsOf, LookUps)
COMPARE_WORKLOAD(ScanByKOf, ScanByK)
COMPARE_WORKLOAD(RangesOf, Ranges)
COMPARE_WORKLOAD(ScanBySOf, ScanByS)
COMPARE_WORKLOAD(UpdateOf, Update)
COMPARE_WORKLOAD(DeleteOf, Delete)
COMPARE_WORKLOAD(ImportOf, Import)
#undef COMPARE_WORKLOAD

template <typename Table>
void RegisterInserts(const std::string& name, const Maker<Table>& make, int rows, bool oneTransaction) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [=](benchmark::State& s) { Inserts<Table>(s, make, rows, oneTransaction); })
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

constexpr int kLoadSizes[] = {10000, kRows, 1000000};

// The summary's lines in workload order; the time of a benchmark's iteration
// unless a counter is named.
std::vector<compare::SummaryLine> Summary() {
  std::vector<compare::SummaryLine> lines;
  auto add = [&](const std::string& work, const std::string& name, const std::string& counter = "",
                 bool bytes = false) {
    lines.push_back({work, name + "/ours", name + "/sqlite", counter, bytes});
  };
  // The commit groups pair differently named configurations.
  auto addCommits = [&](const std::string& work, const std::string& group, const std::string& ours,
                        const std::string& sqlite) {
    lines.push_back({work, "commits/" + group + "/ours/" + ours, "commits/" + group + "/sqlite/" + sqlite, "", false});
  };
  add("insert 100k rows, one transaction", "load/100000");
  add("100k random lookups by k", "lookups");
  add("full scan in k order", "scan_by_k");
  add("100 range scans of 1 % of k", "ranges");
  add("full scan through the s index", "scan_by_s");
  for (int n : kLoadSizes)
    add("one-transaction load of " + std::to_string(n) + " rows, per row", "load/" + std::to_string(n), "per_row");
  add("file size after the 100k load", "load/100000", "file_bytes", true);
  add("peak RSS growth of the 100k load", "peak_memory", "peak_rss_bytes", true);
  add("import 50k CSV rows (whole process)", "import");
  addCommits("5k one-row commits, no sync", "one-row", "non-durable", "delete-off");
  addCommits("5k one-row commits, durable / DELETE+FULL", "one-row", "durable", "delete-full");
  addCommits("5k one-row commits, durable / WAL+NORMAL", "one-row", "durable", "wal-normal");
  addCommits("100k in one transaction, durable / DELETE+FULL", "one-transaction", "durable", "delete-full");
  addCommits("100k in one transaction, durable / WAL+NORMAL", "one-transaction", "durable", "wal-normal");
  add("update 10 % of the rows, one transaction", "update_10pct");
  add("delete 10 % of the rows, one transaction", "delete_10pct");
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kChild = "--peak-memory-child=";
  if (argc == 2 && std::strncmp(argv[1], kChild, std::strlen(kChild)) == 0) {
    try {
      return PeakMemoryChild(argv[1] + std::strlen(kChild));
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  for (int n : kLoadSizes) {
    RegisterInserts<OurTable>("load/" + std::to_string(n) + "/ours", Ours(), n, true);
    RegisterInserts<SqliteTable>("load/" + std::to_string(n) + "/sqlite", Sqlite(), n, true);
  }
  RegisterPair<LookUpsOf>("lookups", 1);
  RegisterPair<ScanByKOf>("scan_by_k", 3);
  RegisterPair<RangesOf>("ranges", 3);
  RegisterPair<ScanBySOf>("scan_by_s", 3);
  RegisterPair<UpdateOf>("update_10pct", 1);
  RegisterPair<DeleteOf>("delete_10pct", 1);
  for (const char* engine : {"ours", "sqlite"})
    benchmark::RegisterBenchmark((std::string("peak_memory/") + engine).c_str(),
                                 [engine](benchmark::State& s) { PeakMemory(s, engine); })
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  RegisterPair<ImportOf>("import", 1);
  for (bool oneTransaction : {false, true}) {
    const std::string group = oneTransaction ? "commits/one-transaction/" : "commits/one-row/";
    const int rows = oneTransaction ? kRows : kOneRowCommits;
    if (!oneTransaction) {
      RegisterInserts<OurTable>(group + "ours/non-durable", Ours(false), rows, false);
      RegisterInserts<SqliteTable>(group + "sqlite/delete-off", Sqlite("DELETE", "OFF"), rows, false);
    }
    RegisterInserts<OurTable>(group + "ours/durable", Ours(true), rows, oneTransaction);
    RegisterInserts<SqliteTable>(group + "sqlite/delete-full", Sqlite("DELETE", "FULL"), rows, oneTransaction);
    RegisterInserts<SqliteTable>(group + "sqlite/wal-normal", Sqlite("WAL", "NORMAL"), rows, oneTransaction);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  compare::SummaryReporter reporter(isatty(STDOUT_FILENO) != 0);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary(std::cout, Summary());
  benchmark::Shutdown();
  return 0;
}

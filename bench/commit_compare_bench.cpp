// What a commit costs in our engine against SQLite, side by side in one
// program, on one table (k INTEGER with a unique index, s VARCHAR(40),
// d DATE, x DOUBLE):
//   BM_OneRowCommits     5,000 inserts, each its own commit (autocommit)
//   BM_OneTransaction    100,000 inserts in one transaction
// each in five configurations:
//   ours/non-durable       the rollback journal, no flushes
//   ours/durable           SetDurableCommits(true): every commit flushes
//   sqlite/delete-full     journal_mode=DELETE, synchronous=FULL
//   sqlite/wal-normal      journal_mode=WAL, synchronous=NORMAL
//   sqlite/delete-off      journal_mode=DELETE, synchronous=OFF
// "ours/non-durable" and "sqlite/delete-off" are the peers: a rollback
// journal written and removed on every commit, nothing forced to the disk.
// "ours/durable" and "sqlite/delete-full" are the peers that survive a
// power cut; WAL is there as the best SQLite offers for many small commits.
//
// Every run starts from a new, empty database in one temporary folder
// (TMPDIR, else /tmp: keep it on the disk being measured) and checks the
// row count after the clock stops. Times are wall-clock (the flushes are
// waits, not CPU); the counters per_commit and per_row are wall-clock
// seconds per commit and per row (printed with an SI prefix: 366u is
// 366 microseconds).
//
// Build and run (Release):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIVORAN_BENCH=ON -DTIVORAN_TESTS=OFF
//   cmake --build build/bench --target commit_compare_bench
//   build/bench/bench/commit_compare_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// One case: --benchmark_filter='BM_OneRowCommits/ours/.*'. The durable
// runs wait on the disk's flushes: on a slow or shared disk they take tens
// of seconds a repetition.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/ZUDTypes.h"
#include "core/ZUDVariant.h"
#include "disk/ZUDDiskEngine.h"
#include "os/OsRandom.h"

namespace {

constexpr int kOneRowCommits = 5000;
constexpr int kTransactionRows = 100000;

// The rows both engines insert, made before the clock starts so that
// neither pays for building the text. Keys are a permutation of 0 .. n-1,
// so the unique index is filled out of order as real keys would.
struct Row {
  int32_t k;
  std::string s;
  int32_t day;          // ours: a day number
  std::string isoDate;  // SQLite has no date type: the ISO text applications store
  double x;
};

std::vector<Row> MakeRows(int n) {
  std::vector<Row> rows;
  rows.reserve(static_cast<size_t>(n));
  const int32_t firstDay = EncodeDayNumber(2000, 1, 1);
  for (int i = 0; i < n; ++i) {
    Row r;
    r.k = static_cast<int32_t>(int64_t{i} * 48271 % n);
    r.s = "nombre " + std::to_string(int64_t{r.k} * 7919 % n);
    const int offset = r.k % 9000;
    r.day = firstDay + offset;
    // A calendar of 30-day months is enough for text of the right shape.
    char iso[16];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", 2000 + offset / 360, 1 + offset % 360 / 30, 1 + offset % 30);
    r.isoDate = iso;
    r.x = r.k / 3.0;
    rows.push_back(std::move(r));
  }
  return rows;
}

// One folder for every database of the run, removed at the end.
struct TempFolder {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tivoran-commit-bench-" + tiv::os::NewGuidText());
  TempFolder() { std::filesystem::create_directory(path); }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string NewFile(const std::string& extension) const {
    return (path / (tiv::os::NewGuidText() + extension)).string();
  }
};

TempFolder& Folder() {
  static TempFolder folder;
  return folder;
}

void RemoveDatabase(const std::string& file) {
  std::error_code ec;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(file + suffix, ec);
}

// Our engine: a single-user open, one session, the table with its index.
struct OurTable {
  std::string path = Folder().NewFile(".zud");
  TABSDiskDatabaseData data{"BENCH"};
  TABSSessionInfo session;
  TABSDiskTableData* table = nullptr;
  std::vector<char> record;

  explicit OurTable(bool durable) {
    TABSDiskDatabase().CreateDatabase(path, TABSPassword{});
    session.multiUser = false;
    data.Open(path, TABSPassword{}, false, false);
    data.Pages().SetDurableCommits(durable);
    data.Connect(session);
    TABSFieldDefs fields;
    TABSFieldDef* k = fields.AddNew();
    k->SetName("k");
    k->SetDataType(aftInteger);
    TABSFieldDef* s = fields.AddNew();
    s->SetName("s");
    s->SetDataType(aftString, 40);
    TABSFieldDef* d = fields.AddNew();
    d->SetName("d");
    d->SetDataType(aftDate);
    TABSFieldDef* x = fields.AddNew();
    x->SetName("x");
    x->SetDataType(aftDouble);
    TABSIndexDefs indexes;
    TABSIndexDef* byK = indexes.AddNew();
    byK->SetName("by_k");
    byK->unique = true;
    byK->FillColumns({"k"}, {"ASC"}, {"CASE"});
    table = &data.CreateTable(session, "bench", fields, indexes);
    record.resize(static_cast<size_t>(table->FieldDefs().MemoryRecordSize()));
  }
  ~OurTable() {
    try {
      data.Disconnect(session);
      data.Close();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "closing %s: %s\n", path.c_str(), e.what());
    }
    RemoveDatabase(path);
  }
  // Outside a transaction the insert is its own commit.
  void Insert(const Row& row) {
    table->InitRecordForInsert(record.data());
    TABSVariant k, s, d, x;
    k.SetAsInteger(row.k);
    WriteFieldValue(table->FieldDefs(), record.data(), 0, k);
    s.SetAsString(row.s);
    WriteFieldValue(table->FieldDefs(), record.data(), 1, s);
    d.SetAsDate(row.day);
    WriteFieldValue(table->FieldDefs(), record.data(), 2, d);
    x.SetAsDouble(row.x);
    WriteFieldValue(table->FieldDefs(), record.data(), 3, x);
    table->InsertRecord(session, record.data());
  }
  void Begin() { data.StartTransaction(session); }
  // The durable option makes the commit flush whatever is asked here.
  void Commit() { data.Commit(session, false); }
  int64_t Count() { return table->GetRecordCount(session); }
};

// SQLite in one of the journal and synchronous modes, one prepared insert.
struct SqliteTable {
  std::string path = Folder().NewFile(".sqlite");
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;

  SqliteTable(const char* journalMode, const char* synchronous) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("open");
    Exec(std::string("PRAGMA journal_mode=") + journalMode);
    Exec(std::string("PRAGMA synchronous=") + synchronous);
    Exec("CREATE TABLE bench (k INTEGER, s VARCHAR(40), d DATE, x DOUBLE)");
    Exec("CREATE UNIQUE INDEX by_k ON bench (k)");
    if (sqlite3_prepare_v2(db, "INSERT INTO bench (k, s, d, x) VALUES (?, ?, ?, ?)", -1, &insert, nullptr) != SQLITE_OK)
      Fail("prepare");
  }
  ~SqliteTable() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
    RemoveDatabase(path);
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("sqlite " + what + ": " + (db ? sqlite3_errmsg(db) : "no handle"));
  }
  // Runs a statement and steps through what it returns (a PRAGMA answers a row).
  void Exec(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sql);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) Fail(sql);
  }
  void Insert(const Row& row) {
    sqlite3_bind_int(insert, 1, row.k);
    sqlite3_bind_text(insert, 2, row.s.data(), static_cast<int>(row.s.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, row.isoDate.data(), static_cast<int>(row.isoDate.size()), SQLITE_STATIC);
    sqlite3_bind_double(insert, 4, row.x);
    if (sqlite3_step(insert) != SQLITE_DONE) Fail("insert");
    sqlite3_reset(insert);
  }
  void Begin() { Exec("BEGIN"); }
  void Commit() { Exec("COMMIT"); }
  int64_t Count() {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM bench", -1, &st, nullptr) != SQLITE_OK) Fail("count");
    int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
  }
};

// One of the five configurations: exactly one of the two makers is set.
struct Config {
  const char* name;
  std::function<std::unique_ptr<OurTable>()> ours;
  std::function<std::unique_ptr<SqliteTable>()> sqlite;
};

// The workload over either engine: the new table is made, counted and
// dropped with the clock stopped; only the inserts and commits count.
template <typename Table>
void Run(benchmark::State& state, const std::function<std::unique_ptr<Table>()>& make, int rows, bool oneTransaction) {
  const std::vector<Row> data = MakeRows(rows);
  try {
    for (auto _ : state) {
      state.PauseTiming();
      std::unique_ptr<Table> t = make();
      state.ResumeTiming();
      if (oneTransaction) t->Begin();
      for (const Row& row : data) t->Insert(row);
      if (oneTransaction) t->Commit();
      state.PauseTiming();
      if (t->Count() != rows) state.SkipWithError("the table does not hold every row inserted");
      t.reset();
      state.ResumeTiming();
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  // Seconds per commit or per row: the inverse of the rate over the wall
  // clock (UseRealTime below).
  state.counters[oneTransaction ? "per_row" : "per_commit"] =
      benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Register(const std::string& workload, int rows, bool oneTransaction, const Config& c) {
  const std::string name = workload + "/" + c.name;
  benchmark::internal::Benchmark* b =
      c.ours ? benchmark::RegisterBenchmark(name.c_str(),
                                            [c, rows, oneTransaction](benchmark::State& state) {
                                              Run<OurTable>(state, c.ours, rows, oneTransaction);
                                            })
             : benchmark::RegisterBenchmark(name.c_str(), [c, rows, oneTransaction](benchmark::State& state) {
                 Run<SqliteTable>(state, c.sqlite, rows, oneTransaction);
               });
  // Wall-clock time, for the iteration count too: the flushes are waits,
  // not CPU, and a CPU-timed durable run would be repeated for minutes.
  b->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Config> configs = {
      {"ours/non-durable", [] { return std::make_unique<OurTable>(false); }, nullptr},
      {"ours/durable", [] { return std::make_unique<OurTable>(true); }, nullptr},
      {"sqlite/delete-full", nullptr, [] { return std::make_unique<SqliteTable>("DELETE", "FULL"); }},
      {"sqlite/wal-normal", nullptr, [] { return std::make_unique<SqliteTable>("WAL", "NORMAL"); }},
      {"sqlite/delete-off", nullptr, [] { return std::make_unique<SqliteTable>("DELETE", "OFF"); }},
  };
  for (const Config& c : configs) Register("BM_OneRowCommits", kOneRowCommits, false, c);
  for (const Config& c : configs) Register("BM_OneTransaction", kTransactionRows, true, c);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

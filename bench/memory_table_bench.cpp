// Tables of the process's own databases through a cursor: 100,000 inserts
// into the bench table (two indexes, BenchTable.h) in MEMORY and in TEMP,
// each its own change, then a scan in physical order and through each
// index. Beside them, as a yardstick, the same table in an SQLite in-memory
// database (":memory:", k INTEGER UNIQUE and an index on s COLLATE NOCASE):
// the same inserts each in its own autocommit, and the scans by k and by s
// reading all four columns of every row, as our cursor's step copies them.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "BenchTable.h"
#include "local/ZUDLocalEngine.h"

namespace {

constexpr int kRecords = 100000;

TABSEngineScope& Engine() {
  static TABSEngineScope engine;
  return engine;
}

struct Table {
  TABSLocalSession session;
  TABSLocalCursor cursor{session};

  explicit Table(const char* database) {
    Engine();
    TABSConnectOptions options;
    options.databaseName = database;
    session.Connect(options);
    cursor.tableName = "bench";
  }
  void Fill() {
    TABSFieldDefs fields;
    TABSIndexDefs indexes;
    BenchTableDefs(fields, indexes);
    cursor.CloseTable();
    cursor.CreateTable(fields, indexes);
    cursor.OpenTable();
    for (int32_t n = 0; n < kRecords; ++n) {
      cursor.InitRecordBuffer();
      TABSVariant k, s, x;
      k.SetAsInteger(static_cast<int32_t>(int64_t{n} * 48271 % kRecords));
      cursor.SetFieldValue(kBenchK, k);
      s.SetAsString("nombre " + std::to_string(int64_t{n} * 7919 % kRecords));
      cursor.SetFieldValue(kBenchS, s);
      x.SetAsDouble(n / 3.0);
      cursor.SetFieldValue(kBenchX, x);
      if (cursor.Post(true) != crOK) throw std::runtime_error(cursor.LastErrorText());
    }
  }
  int64_t Scan(const char* index) {
    cursor.SetIndexName(index);
    cursor.SetToBegin();
    int64_t n = 0;
    while (cursor.GetRecord(grmNext) == grrFound) ++n;
    return n;
  }
};

void Insert(benchmark::State& state, const char* database) {
  Table t(database);
  for (auto _ : state) t.Fill();
  if (t.cursor.GetRecordCount() != kRecords) state.SkipWithError("records missing");
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void Scan(benchmark::State& state, const char* database, const char* index) {
  Table t(database);
  t.Fill();
  for (auto _ : state)
    if (t.Scan(index) != kRecords) state.SkipWithError("the scan does not see every record");
  state.SetItemsProcessed(state.iterations() * kRecords);
}

struct SqliteMemory {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;

  SqliteMemory() {
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec("CREATE TABLE bench (k INTEGER UNIQUE, s VARCHAR(40), d DATE, x DOUBLE)");
    Exec("CREATE INDEX by_s ON bench (s COLLATE NOCASE)");
    sqlite3_prepare_v2(db, "INSERT INTO bench VALUES (?, ?, NULL, ?)", -1, &insert, nullptr);
  }
  ~SqliteMemory() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  void Exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
  void Fill() {
    Exec("DELETE FROM bench");
    for (int32_t n = 0; n < kRecords; ++n) {
      const std::string s = "nombre " + std::to_string(int64_t{n} * 7919 % kRecords);
      sqlite3_bind_int(insert, 1, static_cast<int>(int64_t{n} * 48271 % kRecords));
      sqlite3_bind_text(insert, 2, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(insert, 3, n / 3.0);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(insert);
    }
  }
  int64_t Scan(const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    int64_t n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < 4; ++c) benchmark::DoNotOptimize(sqlite3_column_value(st, c));
      ++n;
    }
    sqlite3_finalize(st);
    return n;
  }
};

void SqliteInsert(benchmark::State& state) {
  SqliteMemory t;
  for (auto _ : state) t.Fill();
  if (t.Scan("SELECT * FROM bench") != kRecords) state.SkipWithError("records missing");
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void SqliteScan(benchmark::State& state, const char* sql) {
  SqliteMemory t;
  t.Fill();
  for (auto _ : state)
    if (t.Scan(sql) != kRecords) state.SkipWithError("the scan does not see every record");
  state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK_CAPTURE(Insert, memory, "MEMORY")->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Insert, temp, "TEMP")->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scan, memory_physical, "MEMORY", "")->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scan, memory_by_k, "MEMORY", "by_k")->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scan, memory_by_s, "MEMORY", "by_s")->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Scan, temp_by_k, "TEMP", "by_k")->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteInsert)->Name("Insert/sqlite_memory")->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteScan, sqlite_memory_physical, "SELECT * FROM bench")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteScan, sqlite_memory_by_k, "SELECT * FROM bench WHERE k >= 0 ORDER BY k")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteScan, sqlite_memory_by_s, "SELECT * FROM bench ORDER BY s COLLATE NOCASE")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

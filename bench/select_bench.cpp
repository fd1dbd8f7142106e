// SELECT through the SQL processor against SQLite on the same 100,000-row
// table (the bench table of BenchTable.h: k INTEGER with a unique index, s
// VARCHAR(40) with a case-insensitive index, d DATE, x DOUBLE), both on
// disk files in a temporary folder. Each statement is prepared and run
// anew per query, and every row of its result is read, all columns:
//   point        1,000 queries WHERE k = :k (the unique index)
//   range_order  WHERE k >= 40000 AND k < 41000 ORDER BY k (index range)
//   scan_filter  WHERE x > 1000 AND x < 1100 (no index: a full scan)
//   group_by     100 groups with COUNT and SUM (a table grp of its own:
//                k, g = one of 100 values, x; no index)
//   join         10,000 x 10,000 rows on an equality
// The summary prints both engines with ours / SQLite. Statements our
// engine does not execute yet show as errors in it.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "BenchTable.h"
#include "compare/SummaryReporter.h"
#include "local/ZUDLocalEngine.h"
#include "sql/ABSSQLProcessor.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kPointQueries = 1000;

int32_t KeyOf(int n) { return static_cast<int32_t>(int64_t{n} * 48271 % kRecords); }
std::string NameOf(int n) { return "nombre " + std::to_string(int64_t{n} * 7919 % kRecords); }

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("tivoran-select-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

struct Ours {
  TABSEngineScope engine;
  TABSLocalSession session;

  Ours() {
    const std::string path = (Folder() / "bench.zud").string();
    TABSLocalSession::CreateDatabase(path, TABSPassword{});
    TABSConnectOptions options;
    options.fileName = path;
    session.Connect(options);
    TABSFieldDefs fields;
    TABSIndexDefs indexes;
    BenchTableDefs(fields, indexes);
    TABSLocalCursor c(session);
    c.tableName = "bench";
    c.CreateTable(fields, indexes);
    c.OpenTable();
    session.StartTransaction();
    for (int n = 0; n < kRecords; ++n) {
      c.InitRecordBuffer();
      TABSVariant k, s, x;
      k.SetAsInteger(KeyOf(n));
      c.SetFieldValue(kBenchK, k);
      s.SetAsString(NameOf(n));
      c.SetFieldValue(kBenchS, s);
      x.SetAsDouble(n / 3.0);
      c.SetFieldValue(kBenchX, x);
      if (c.Post(true) != crOK) throw std::runtime_error(c.LastErrorText());
    }
    session.Commit();
    // The grouping table: g takes 100 values.
    TABSLocalCursor grp(session);
    grp.tableName = "grp";
    TABSFieldDefs grpFields;
    for (const char* name : {"k", "g"}) {
      TABSFieldDef* f = grpFields.AddNew();
      f->SetName(name);
      f->SetDataType(aftInteger);
    }
    TABSFieldDef* gx = grpFields.AddNew();
    gx->SetName("x");
    gx->SetDataType(aftDouble);
    grp.CreateTable(grpFields, TABSIndexDefs{});
    grp.OpenTable();
    session.StartTransaction();
    for (int n = 0; n < kRecords; ++n) {
      grp.InitRecordBuffer();
      TABSVariant k, g, x;
      k.SetAsInteger(n);
      grp.SetFieldValue(0, k);
      g.SetAsInteger(KeyOf(n) % 100);
      grp.SetFieldValue(1, g);
      x.SetAsDouble(n / 3.0);
      grp.SetFieldValue(2, x);
      if (grp.Post(true) != crOK) throw std::runtime_error(grp.LastErrorText());
    }
    session.Commit();
  }
  ~Ours() { session.Disconnect(); }

  // Rows read, all columns.
  int64_t Run(const std::string& sql, int64_t key = -1) {
    TABSSelectExecution executor(session);
    TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"bench", "bench", false, false});
    processor.SetExecutor(&executor);
    if (key >= 0) {
      TABSSQLParam* p = processor.Params().AddParam();
      p->Name = "k";
      p->SetAsLargeint(key);
    }
    processor.SetSQL(sql);
    processor.Execute();
    std::unique_ptr<TABSQueryResultCursor> result = executor.TakeResult();
    int64_t rows = 0;
    TABSVariant v;
    while (result->GetRecord(grmNext) == grrFound) {
      for (int32_t f = 0; f < result->FieldCount(); ++f) result->GetFieldValue(f, v);
      ++rows;
    }
    return rows;
  }
};

struct Sqlite {
  sqlite3* db = nullptr;

  Sqlite() {
    const std::string path = (Folder() / "bench.sqlite").string();
    std::filesystem::remove(path);
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec("CREATE TABLE bench (k INTEGER UNIQUE, s VARCHAR(40), d DATE, x DOUBLE)");
    Exec("CREATE INDEX by_s ON bench (s COLLATE NOCASE)");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO bench VALUES (?, ?, NULL, ?)", -1, &insert, nullptr);
    for (int n = 0; n < kRecords; ++n) {
      const std::string s = NameOf(n);
      sqlite3_bind_int(insert, 1, KeyOf(n));
      sqlite3_bind_text(insert, 2, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(insert, 3, n / 3.0);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("CREATE TABLE grp (k INTEGER, g INTEGER, x DOUBLE)");
    sqlite3_prepare_v2(db, "INSERT INTO grp VALUES (?, ?, ?)", -1, &insert, nullptr);
    for (int n = 0; n < kRecords; ++n) {
      sqlite3_bind_int(insert, 1, n);
      sqlite3_bind_int(insert, 2, KeyOf(n) % 100);
      sqlite3_bind_double(insert, 3, n / 3.0);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  ~Sqlite() { sqlite3_close(db); }
  void Exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
  int64_t Run(const std::string& sql, int64_t key = -1) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db));
    if (key >= 0) sqlite3_bind_int64(st, 1, key);
    int64_t rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) benchmark::DoNotOptimize(sqlite3_column_value(st, c));
      ++rows;
    }
    sqlite3_finalize(st);
    return rows;
  }
};

Ours& OurDb() {
  static Ours db;
  return db;
}
Sqlite& SqliteDb() {
  static Sqlite db;
  return db;
}

struct Work {
  const char* name;
  std::string ours, sqlite;
  int64_t rows;  // expected per run, -1 unchecked
  bool point = false;
};

template <typename Db>
void RunWork(benchmark::State& state, Db& db, const std::string& sql, int64_t rows, bool point) {
  try {
    for (auto _ : state) {
      if (point) {
        int64_t found = 0;
        for (int q = 0; q < kPointQueries; ++q) found += db.Run(sql, KeyOf(q * 97));
        if (found != kPointQueries) state.SkipWithError("a point query missed its row");
      } else if (const int64_t n = db.Run(sql); rows >= 0 && n != rows) {
        state.SkipWithError(("rows: " + std::to_string(n)).c_str());
      }
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Work works[] = {
      {"point", "SELECT * FROM bench WHERE k = :k", "SELECT * FROM bench WHERE k = ?", 1, true},
      {"range_order", "SELECT k, s FROM bench WHERE k >= 40000 AND k < 41000 ORDER BY k",
       "SELECT k, s FROM bench WHERE k >= 40000 AND k < 41000 ORDER BY k", 1000},
      {"scan_filter", "SELECT k, x FROM bench WHERE x > 1000 AND x < 1100",
       "SELECT k, x FROM bench WHERE x > 1000 AND x < 1100", 299},
      {"group_by", "SELECT g, COUNT(*), SUM(x) FROM grp GROUP BY g", "SELECT g, COUNT(*), SUM(x) FROM grp GROUP BY g",
       100},
      {"join", "SELECT a.k, b.s FROM bench a INNER JOIN bench b ON a.k = b.k WHERE a.k < 10000",
       "SELECT a.k, b.s FROM bench a INNER JOIN bench b ON a.k = b.k WHERE a.k < 10000", 10000},
  };
  std::vector<compare::SummaryLine> summary;
  for (const Work& w : works) {
    const std::string ours = std::string(w.name) + "/ours", sqlite = std::string(w.name) + "/sqlite";
    benchmark::RegisterBenchmark(ours.c_str(), [w](benchmark::State& s) {
      RunWork(s, OurDb(), w.ours, w.rows, w.point);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(sqlite.c_str(), [w](benchmark::State& s) {
      RunWork(s, SqliteDb(), w.sqlite, w.rows, w.point);
    })->Unit(benchmark::kMillisecond);
    summary.push_back({w.name, ours, sqlite, "", false});
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  compare::SummaryReporter reporter(isatty(STDOUT_FILENO) != 0);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary(std::cout, summary);
  benchmark::Shutdown();
  std::filesystem::remove_all(Folder());
  return 0;
}

// CompareTables: the one table every workload of bench/compare runs on, in
// our engine (OurTable) and in SQLite (SqliteTable), behind the same
// methods so that a workload is written once as a template over the two.
//
// The table: k INTEGER with a unique index (by_k), s VARCHAR(40) with a
// case-insensitive index (by_s), d DATE, x DOUBLE. SQLite gets
// "k INTEGER UNIQUE" (its automatic index) and an index on s COLLATE NOCASE;
// SQLite has no date type, so d holds the ISO text applications store.
//
// Reading a row costs the same on both sides: our cursor step copies the
// whole record into the cursor's buffer, so the SQLite side asks for all
// four columns of every row it steps on. Both then read k and x.
//
// Neither class owns the files: a database is created by one object, closed,
// and opened again by another, as an application starting anew would
// (DatabaseFiles removes them).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ZUDVariant.h"
#include "disk/ZUDDiskEngine.h"

namespace compare {

// A row both engines store, made before the clock starts so that neither
// pays for building the text. Keys of MakeRows(n) are a permutation of
// 0 .. n-1, so the unique index is filled out of order as real keys would.
struct Row {
  int32_t k;
  std::string s;
  int32_t day;          // ours: a day number
  std::string isoDate;  // the same day for SQLite and the CSV file
  double x;
};

std::vector<Row> MakeRows(int n);

// The folder of every database of the run (TMPDIR, else /tmp: keep it on
// the disk being measured), removed at the end.
const std::string& TempFolder();
std::string NewTempPath(const std::string& extension);

// A database's file and the side files either engine may leave, removed
// when the object goes.
struct DatabaseFiles {
  std::string path;
  explicit DatabaseFiles(const std::string& extension) : path(NewTempPath(extension)) {}
  ~DatabaseFiles();
  DatabaseFiles(const DatabaseFiles&) = delete;
  DatabaseFiles& operator=(const DatabaseFiles&) = delete;
};

int64_t FileBytes(const std::string& path);

// What a walk over rows saw: the count, the sums of k and x, and whether
// the keys came in the order asked for.
struct Walk {
  int64_t rows = 0;
  int64_t sumK = 0;
  double sumX = 0;
  bool ordered = true;
};

// Our engine, a single-user open with one session (the table locks of a
// multi-user open are measured by disk_table_bench).
class OurTable {
 public:
  // Creates the database and the table when `create`, else opens them.
  OurTable(const std::string& path, bool create, bool durable = false);
  ~OurTable();
  OurTable(const OurTable&) = delete;
  OurTable& operator=(const OurTable&) = delete;

  // Outside a transaction the insert is its own commit.
  void Insert(const Row& row);
  void Begin();
  // The durable option makes the commit flush whatever is asked here.
  void Commit();
  int64_t Count();
  // The row of key k through by_k, read into the k cursor; its x, or NaN
  // when there is no such row.
  double LookUp(int32_t k);
  Walk ScanByK();
  Walk RangeByK(int32_t low, int32_t high);
  Walk ScanByS();
  bool Update(int32_t k, const std::string& s, double x);
  bool Delete(int32_t k);

 private:
  void ReadRow(const char* record, Walk& walk, int32_t& last);
  Walk WalkIndex(TABSTableCursor& cursor);

  TABSDiskDatabaseData data_{"BENCH"};
  TABSSessionInfo session_;
  TABSDiskTableData* table_ = nullptr;
  std::vector<char> record_;
  std::vector<char> key_, highKey_;  // memory records holding search keys
  TABSTableCursor byK_, byS_;
};

// SQLite through prepared statements, in one of its journal and
// synchronous modes.
class SqliteTable {
 public:
  SqliteTable(const std::string& path, bool create, const char* journalMode = "DELETE",
              const char* synchronous = "OFF");
  ~SqliteTable();
  SqliteTable(const SqliteTable&) = delete;
  SqliteTable& operator=(const SqliteTable&) = delete;

  void Insert(const Row& row);
  void Begin() { Exec("BEGIN"); }
  void Commit() { Exec("COMMIT"); }
  int64_t Count();
  double LookUp(int32_t k);
  Walk ScanByK();
  Walk RangeByK(int32_t low, int32_t high);
  Walk ScanByS();
  bool Update(int32_t k, const std::string& s, double x);
  bool Delete(int32_t k);
  // Runs a statement and steps through what it returns (a PRAGMA answers a row).
  void Exec(const std::string& sql);

 private:
  [[noreturn]] void Fail(const std::string& what);
  sqlite3_stmt* Prepare(const char* sql);
  // Requires the query plan of `sql` to name `index`: a scan the planner
  // answered another way would measure something else.
  void RequireIndex(const char* sql, const char* index);
  Walk WalkRows(sqlite3_stmt* st);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* lookUp_ = nullptr;
  sqlite3_stmt* scanByK_ = nullptr;
  sqlite3_stmt* rangeByK_ = nullptr;
  sqlite3_stmt* scanByS_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
};

}  // namespace compare

#include "CompareTables.h"

#include "BenchTable.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "core/ZUDTypes.h"
#include "os/OsRandom.h"

namespace compare {

std::vector<Row> MakeRows(int n) {
  std::vector<Row> rows;
  rows.reserve(static_cast<size_t>(n));
  const int32_t firstDay = EncodeDayNumber(2000, 1, 1);
  for (int i = 0; i < n; ++i) {
    Row r;
    r.k = static_cast<int32_t>(int64_t{i} * 48271 % n);
    r.s = "nombre " + std::to_string(int64_t{r.k} * 7919 % n);
    r.day = firstDay + r.k % 9000;
    int year = 0, month = 0, day = 0;
    DecodeDayNumber(r.day, year, month, day);
    char iso[16];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", year, month, day);
    r.isoDate = iso;
    r.x = r.k / 3.0;
    rows.push_back(std::move(r));
  }
  return rows;
}

namespace {

struct Folder {
  std::string path = (std::filesystem::temp_directory_path() / ("tivoran-compare-" + tiv::os::NewGuidText())).string();
  Folder() { std::filesystem::create_directory(path); }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

constexpr double kNotFound = std::numeric_limits<double>::quiet_NaN();

}  // namespace

const std::string& TempFolder() {
  static Folder folder;
  return folder.path;
}

std::string NewTempPath(const std::string& extension) {
  return (std::filesystem::path(TempFolder()) / (tiv::os::NewGuidText() + extension)).string();
}

DatabaseFiles::~DatabaseFiles() {
  std::error_code ec;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
}

int64_t FileBytes(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

// ---- our engine ---------------------------------------------------------------

OurTable::OurTable(const std::string& path, bool create, bool durable) {
  if (create) TABSDiskDatabase().CreateDatabase(path, TABSPassword{});
  session_.multiUser = false;
  data_.Open(path, TABSPassword{}, false, false);
  data_.Pages().SetDurableCommits(durable);
  data_.Connect(session_);
  if (create) {
    table_ = &CreateBenchTable(data_, session_);
  } else {
    table_ = &data_.OpenTable(session_, "bench");
  }
  const TABSFieldDefs& fields = table_->FieldDefs();
  record_.resize(static_cast<size_t>(fields.MemoryRecordSize()));
  key_.resize(record_.size());
  highKey_.resize(record_.size());
  table_->InitRecordForInsert(key_.data());
  table_->InitRecordForInsert(highKey_.data());
  table_->PrepareCursor(byK_);
  table_->PrepareCursor(byS_);
  byK_.indexID = table_->IndexManager().IndexDefs().IndexByName("by_k")->ObjectID();
  byS_.indexID = table_->IndexManager().IndexDefs().IndexByName("by_s")->ObjectID();
}

OurTable::~OurTable() {
  try {
    data_.Disconnect(session_);
    data_.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "closing our table: %s\n", e.what());
  }
}

void OurTable::Insert(const Row& row) {
  const TABSFieldDefs& fields = table_->FieldDefs();
  table_->InitRecordForInsert(record_.data());
  TABSVariant k, s, d, x;
  k.SetAsInteger(row.k);
  WriteFieldValue(fields, record_.data(), 0, k);
  s.SetAsString(row.s);
  WriteFieldValue(fields, record_.data(), 1, s);
  d.SetAsDate(row.day);
  WriteFieldValue(fields, record_.data(), 2, d);
  x.SetAsDouble(row.x);
  WriteFieldValue(fields, record_.data(), 3, x);
  table_->InsertRecord(session_, record_.data());
}

void OurTable::Begin() { data_.StartTransaction(session_); }
void OurTable::Commit() { data_.Commit(session_, false); }
int64_t OurTable::Count() { return table_->GetRecordCount(session_); }

double OurTable::LookUp(int32_t k) {
  TABSVariant v;
  v.SetAsInteger(k);
  WriteFieldValue(table_->FieldDefs(), key_.data(), 0, v);
  if (!table_->SearchRange(session_, byK_, {key_.data(), 1, scEqual}, true)) return kNotFound;
  ReadFieldValue(table_->FieldDefs(), byK_.Record(), 0, v);
  if (v.AsInteger() != k) throw std::logic_error("the search by k found another key");
  ReadFieldValue(table_->FieldDefs(), byK_.Record(), 3, v);
  return v.AsDouble();
}

void OurTable::ReadRow(const char* record, Walk& walk, int32_t& last) {
  TABSVariant k, x;
  ReadFieldValue(table_->FieldDefs(), record, 0, k);
  ReadFieldValue(table_->FieldDefs(), record, 3, x);
  const int32_t key = k.AsInteger();
  if (walk.rows > 0 && key <= last) walk.ordered = false;
  last = key;
  ++walk.rows;
  walk.sumK += key;
  walk.sumX += x.AsDouble();
}

Walk OurTable::WalkIndex(TABSTableCursor& cursor) {
  Walk walk;
  int32_t last = 0;
  cursor.SetBeforeFirst();
  while (table_->FetchRecord(session_, cursor, grmNext) == grrFound) ReadRow(cursor.Record(), walk, last);
  return walk;
}

Walk OurTable::ScanByK() { return WalkIndex(byK_); }

Walk OurTable::ScanByS() {
  Walk walk = WalkIndex(byS_);
  walk.ordered = true;  // the keys follow s, not k
  return walk;
}

// A range of the cursor: the engine stops the steps at its far end.
Walk OurTable::RangeByK(int32_t low, int32_t high) {
  const TABSFieldDefs& fields = table_->FieldDefs();
  TABSVariant v;
  v.SetAsInteger(low);
  WriteFieldValue(fields, key_.data(), 0, v);
  v.SetAsInteger(high);
  WriteFieldValue(fields, highKey_.data(), 0, v);
  TABSCursorRange& range = byK_.range;
  range.active = true;
  range.startKey = key_;
  range.endKey = highKey_;
  range.startFieldCount = range.endFieldCount = 1;
  Walk walk;
  int32_t last = 0;
  if (table_->SearchRange(session_, byK_, {key_.data(), 1, scGreaterOrEqual}, true)) {
    ReadRow(byK_.Record(), walk, last);
    while (table_->FetchRecord(session_, byK_, grmNext) == grrFound) ReadRow(byK_.Record(), walk, last);
  }
  range = TABSCursorRange{};
  return walk;
}

bool OurTable::Update(int32_t k, const std::string& s, double x) {
  if (std::isnan(LookUp(k))) return false;
  TABSVariant v;
  v.SetAsString(s);
  WriteFieldValue(table_->FieldDefs(), byK_.Record(), 1, v);
  v.SetAsDouble(x);
  WriteFieldValue(table_->FieldDefs(), byK_.Record(), 3, v);
  table_->UpdateRecord(session_, byK_);
  return true;
}

bool OurTable::Delete(int32_t k) { return !std::isnan(LookUp(k)) && table_->DeleteRecord(session_, byK_); }

// ---- SQLite -------------------------------------------------------------------

SqliteTable::SqliteTable(const std::string& path, bool create, const char* journalMode, const char* synchronous) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Fail("open");
  Exec(std::string("PRAGMA journal_mode=") + journalMode);
  Exec(std::string("PRAGMA synchronous=") + synchronous);
  if (create) {
    Exec("CREATE TABLE bench (k INTEGER UNIQUE, s VARCHAR(40), d DATE, x DOUBLE)");
    Exec("CREATE INDEX by_s ON bench (s COLLATE NOCASE)");
  }
  constexpr const char* kScanByK = "SELECT k, s, d, x FROM bench ORDER BY k";
  constexpr const char* kRangeByK = "SELECT k, s, d, x FROM bench WHERE k BETWEEN ? AND ? ORDER BY k";
  constexpr const char* kScanByS = "SELECT k, s, d, x FROM bench ORDER BY s COLLATE NOCASE";
  insert_ = Prepare("INSERT INTO bench (k, s, d, x) VALUES (?, ?, ?, ?)");
  lookUp_ = Prepare("SELECT k, s, d, x FROM bench WHERE k = ?");
  scanByK_ = Prepare(kScanByK);
  rangeByK_ = Prepare(kRangeByK);
  scanByS_ = Prepare(kScanByS);
  update_ = Prepare("UPDATE bench SET s = ?, x = ? WHERE k = ?");
  delete_ = Prepare("DELETE FROM bench WHERE k = ?");
  RequireIndex(kScanByK, "sqlite_autoindex_bench_1");
  RequireIndex(kRangeByK, "sqlite_autoindex_bench_1");
  RequireIndex(kScanByS, "by_s");
}

SqliteTable::~SqliteTable() {
  for (sqlite3_stmt* st : {insert_, lookUp_, scanByK_, rangeByK_, scanByS_, update_, delete_}) sqlite3_finalize(st);
  sqlite3_close(db_);
}

void SqliteTable::Fail(const std::string& what) {
  throw std::runtime_error("sqlite " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "no handle"));
}

sqlite3_stmt* SqliteTable::Prepare(const char* sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) Fail(sql);
  return st;
}

void SqliteTable::Exec(const std::string& sql) {
  sqlite3_stmt* st = Prepare(sql.c_str());
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) Fail(sql);
}

void SqliteTable::RequireIndex(const char* sql, const char* index) {
  sqlite3_stmt* st = Prepare((std::string("EXPLAIN QUERY PLAN ") + sql).c_str());
  std::string plan;
  while (sqlite3_step(st) == SQLITE_ROW) plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
  sqlite3_finalize(st);
  if (plan.find(index) == std::string::npos || plan.find("TEMP B-TREE") != std::string::npos)
    throw std::runtime_error(std::string("sqlite plans '") + sql + "' as '" + plan + "', not through " + index);
}

void SqliteTable::Insert(const Row& row) {
  sqlite3_bind_int(insert_, 1, row.k);
  sqlite3_bind_text(insert_, 2, row.s.data(), static_cast<int>(row.s.size()), SQLITE_STATIC);
  sqlite3_bind_text(insert_, 3, row.isoDate.data(), static_cast<int>(row.isoDate.size()), SQLITE_STATIC);
  sqlite3_bind_double(insert_, 4, row.x);
  if (sqlite3_step(insert_) != SQLITE_DONE) Fail("insert");
  sqlite3_reset(insert_);
}

int64_t SqliteTable::Count() {
  sqlite3_stmt* st = Prepare("SELECT count(*) FROM bench");
  const int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  return n;
}

double SqliteTable::LookUp(int32_t k) {
  sqlite3_bind_int(lookUp_, 1, k);
  double x = kNotFound;
  if (sqlite3_step(lookUp_) == SQLITE_ROW) {
    if (sqlite3_column_int(lookUp_, 0) != k) throw std::logic_error("the search by k found another key");
    sqlite3_column_text(lookUp_, 1);
    sqlite3_column_text(lookUp_, 2);
    x = sqlite3_column_double(lookUp_, 3);
  }
  sqlite3_reset(lookUp_);
  return x;
}

Walk SqliteTable::WalkRows(sqlite3_stmt* st) {
  Walk walk;
  int32_t last = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const int32_t key = sqlite3_column_int(st, 0);
    sqlite3_column_text(st, 1);
    sqlite3_column_text(st, 2);
    const double x = sqlite3_column_double(st, 3);
    if (walk.rows > 0 && key <= last) walk.ordered = false;
    last = key;
    ++walk.rows;
    walk.sumK += key;
    walk.sumX += x;
  }
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) Fail("scan");
  return walk;
}

Walk SqliteTable::ScanByK() { return WalkRows(scanByK_); }

Walk SqliteTable::RangeByK(int32_t low, int32_t high) {
  sqlite3_bind_int(rangeByK_, 1, low);
  sqlite3_bind_int(rangeByK_, 2, high);
  return WalkRows(rangeByK_);
}

Walk SqliteTable::ScanByS() {
  Walk walk = WalkRows(scanByS_);
  walk.ordered = true;  // the keys follow s, not k
  return walk;
}

bool SqliteTable::Update(int32_t k, const std::string& s, double x) {
  sqlite3_bind_text(update_, 1, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
  sqlite3_bind_double(update_, 2, x);
  sqlite3_bind_int(update_, 3, k);
  if (sqlite3_step(update_) != SQLITE_DONE) Fail("update");
  sqlite3_reset(update_);
  return sqlite3_changes(db_) == 1;
}

bool SqliteTable::Delete(int32_t k) {
  sqlite3_bind_int(delete_, 1, k);
  if (sqlite3_step(delete_) != SQLITE_DONE) Fail("delete");
  sqlite3_reset(delete_);
  return sqlite3_changes(db_) == 1;
}

}  // namespace compare

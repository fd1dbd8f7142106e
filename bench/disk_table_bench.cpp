// A disk table with two indexes (BenchTable.h, d left empty): 100,000 inserts (each committed, as a
// record change outside a transaction is), then every record read back
// through each index in order. The multi-user runs pay for the table locks
// (a write lock around each change, a read lock around each cursor step)
// and the reread of the table's state; the transaction run commits every
// 1,000 inserts. And the cost of one insert as the table grows, with and
// without a memo column (BM_InsertAtTableSize).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchTable.h"
#include "core/ZUDVariant.h"
#include "disk/ZUDDiskEngine.h"
#include "os/OsRandom.h"

namespace {

constexpr int kRecords = 100000;

struct TempTable {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tivoran-bench-" + tiv::os::NewGuidText() + ".zud");
  TABSDiskDatabaseData data{"BENCH"};
  TABSSessionInfo session;
  TABSDiskTableData* table = nullptr;

  explicit TempTable(bool multiUser = false) {
    TABSDiskDatabase().CreateDatabase(path.string(), TABSPassword{});
    session.multiUser = multiUser;
    data.Open(path.string(), TABSPassword{}, multiUser, false);
    data.Connect(session);
    table = &CreateBenchTable(data, session);
  }
  ~TempTable() {
    data.Disconnect(session);
    data.Close();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  void Insert(int32_t key) {
    std::vector<char> r(static_cast<size_t>(table->FieldDefs().MemoryRecordSize()));
    table->InitRecordForInsert(r.data());
    TABSVariant k, s, x;
    k.SetAsInteger(key);
    WriteFieldValue(table->FieldDefs(), r.data(), kBenchK, k);
    s.SetAsString("nombre " + std::to_string(int64_t{key} * 7919 % kRecords));
    WriteFieldValue(table->FieldDefs(), r.data(), kBenchS, s);
    x.SetAsDouble(key / 3.0);
    WriteFieldValue(table->FieldDefs(), r.data(), kBenchX, x);
    table->InsertRecord(session, r.data());
  }
  // Every record in physical order, one cursor step at a time.
  int64_t ScanByCursor() {
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    int64_t n = 0;
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) ++n;
    return n;
  }
  int64_t ReadThrough(const std::string& index) {
    std::vector<char> r(static_cast<size_t>(table->FieldDefs().MemoryRecordSize()));
    TABSGetRecordRequest q;
    q.mode = grmNext;
    q.indexID = table->IndexManager().IndexDefs().IndexByName(index)->ObjectID();
    q.beforeFirst = true;
    q.destination = r.data();
    int64_t n = 0;
    for (;;) {
      table->IndexManager().GetRecord(session.sessionID, q, nullptr);
      if (q.result != grrFound) return n;
      q.beforeFirst = false;
      ++n;
    }
  }
};

// Arg: 0 single-user, 1 multi-user, 2 multi-user in transactions of 1,000.
const char* ModeLabel(int64_t mode) {
  return mode == 0 ? "single-user" : mode == 1 ? "multi-user" : "multi-user, transactions of 1000";
}

void BM_InsertWithTwoIndexes(benchmark::State& state) {
  const int64_t mode = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<TempTable>(mode != 0);
    state.ResumeTiming();
    for (int32_t k = 0; k < kRecords; ++k) {
      if (mode == 2 && k % 1000 == 0) t->data.StartTransaction(t->session);
      t->Insert(static_cast<int32_t>(int64_t{k} * 48271 % kRecords));
      if (mode == 2 && k % 1000 == 999) t->data.Commit(t->session, false);
    }
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetLabel(ModeLabel(mode));
}
BENCHMARK(BM_InsertWithTwoIndexes)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

// Arg: 0 single-user, 1 multi-user.
void BM_ScanByCursor(benchmark::State& state) {
  TempTable t(state.range(0) != 0);
  for (int32_t k = 0; k < kRecords; ++k) t.Insert(k);
  for (auto _ : state) {
    if (t.ScanByCursor() != kRecords) state.SkipWithError("the scan does not see every record");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetLabel(ModeLabel(state.range(0)));
}
BENCHMARK(BM_ScanByCursor)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ReadBackByIndex(benchmark::State& state) {
  TempTable t;
  for (int32_t k = 0; k < kRecords; ++k) t.Insert(static_cast<int32_t>(int64_t{k} * 48271 % kRecords));
  const std::string index = state.range(0) == 0 ? "by_k" : "by_s";
  for (auto _ : state) {
    const int64_t n = t.ReadThrough(index);
    if (n != kRecords) state.SkipWithError("index does not hold every record");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetLabel(index);
}
BENCHMARK(BM_ReadBackByIndex)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// A table of N rows already, then 10,000 more in transactions of 1,000 (so
// the commits do not hide the placement): the time of an insert must not
// grow with N. Column k (unique index), s, and with the memo variant a memo
// of 100 to 700 bytes, so small BLOB pages hold several values of mixed
// sizes and a page can be short of room for the next one. Single-user:
// the placement is what is measured, not the locks.
struct GrowingTable {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tivoran-bench-" + tiv::os::NewGuidText() + ".zud");
  TABSDiskDatabaseData data{"BENCH"};
  TABSSessionInfo session;
  TABSDiskTableData* table = nullptr;
  bool memo;
  int32_t next = 0;
  std::vector<char> record;

  explicit GrowingTable(bool withMemo) : memo(withMemo) {
    TABSDiskDatabase().CreateDatabase(path.string(), TABSPassword{});
    session.multiUser = false;
    data.Open(path.string(), TABSPassword{}, false, false);
    data.Connect(session);
    TABSFieldDefs fields;
    TABSFieldDef* k = fields.AddNew();
    k->SetName("k");
    k->SetDataType(aftInteger);
    TABSFieldDef* s = fields.AddNew();
    s->SetName("s");
    s->SetDataType(aftString, 40);
    if (memo) {
      TABSFieldDef* m = fields.AddNew();
      m->SetName("m");
      m->SetDataType(aftMemo);
    }
    TABSIndexDefs indexes;
    TABSIndexDef* byK = indexes.AddNew();
    byK->SetName("by_k");
    byK->unique = true;
    byK->FillColumns({"k"}, {"ASC"}, {"CASE"});
    table = &data.CreateTable(session, "growing", fields, indexes);
    record.resize(static_cast<size_t>(table->FieldDefs().MemoryRecordSize()));
  }
  ~GrowingTable() {
    data.Disconnect(session);
    data.Close();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  // `count` inserts in transactions of `batch`.
  void Insert(int64_t count, int64_t batch) {
    for (int64_t i = 0; i < count; ++i) {
      if (i % batch == 0) data.StartTransaction(session);
      const int32_t key = next++;
      table->InitRecordForInsert(record.data());
      TABSVariant k, s;
      k.SetAsInteger(key);
      WriteFieldValue(table->FieldDefs(), record.data(), 0, k);
      s.SetAsString("fila " + std::to_string(key));
      WriteFieldValue(table->FieldDefs(), record.data(), 1, s);
      if (memo) {
        const std::string text(static_cast<size_t>(100 + int64_t{key} * 7919 % 601), static_cast<char>('a' + key % 26));
        table->WriteBlobBuffer(session, record.data(), 2, text.data(), static_cast<int64_t>(text.size()));
      }
      table->InsertRecord(session, record.data());
      if (i % batch == batch - 1 || i == count - 1) data.Commit(session, false);
    }
  }
};

void BM_InsertAtTableSize(benchmark::State& state) {
  constexpr int64_t kMeasured = 10000;
  const int64_t rows = state.range(0);
  GrowingTable t(state.range(1) != 0);
  t.Insert(rows, 10000);
  for (auto _ : state) t.Insert(kMeasured, 1000);
  state.SetItemsProcessed(state.iterations() * kMeasured);
  state.SetLabel(std::to_string(rows) + " rows before" + (state.range(1) ? ", with a memo" : ""));
}
BENCHMARK(BM_InsertAtTableSize)
    ->ArgsProduct({{10000, 100000, 1000000}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// What a cursor adds over the table data and its indexes: a full scan in
// k order and 100,000 key searches on a 100,000-record disk table
// (BenchTable.h), each through a TABSLocalCursor and, beside it, straight
// through the index (the raw figures of disk_table_bench's read-back).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchTable.h"
#include "core/ZUDVariant.h"
#include "local/ZUDLocalEngine.h"
#include "os/OsRandom.h"

namespace {

constexpr int kRecords = 100000;

struct CursorTable {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tivoran-bench-" + tiv::os::NewGuidText() + ".zud");
  TABSLocalSession session;
  std::unique_ptr<TABSLocalCursor> cursor;
  TABSTableData* table = nullptr;
  int32_t byK = -1;

  CursorTable() {
    TABSLocalSession::CreateDatabase(path.string(), TABSPassword{});
    TABSConnectOptions options;
    options.fileName = path.string();
    session.Connect(options);
    CreateBenchTable(*session.DiskData(), session);
    cursor = std::make_unique<TABSLocalCursor>(session);
    cursor->tableName = "bench";
    cursor->OpenTable();
    cursor->BeginBatch();
    for (int32_t n = 0; n < kRecords; ++n) {
      cursor->InitRecordBuffer();
      TABSVariant k, s, x;
      k.SetAsInteger(static_cast<int32_t>(int64_t{n} * 48271 % kRecords));
      cursor->SetFieldValue(kBenchK, k);
      s.SetAsString("nombre " + std::to_string(int64_t{n} * 7919 % kRecords));
      cursor->SetFieldValue(kBenchS, s);
      x.SetAsDouble(n / 3.0);
      cursor->SetFieldValue(kBenchX, x);
      if (cursor->Post(true) != crOK) throw std::runtime_error(cursor->LastErrorText());
    }
    cursor->EndBatch();
    cursor->SetIndexName("by_k");
    table = &cursor->Table();
    byK = table->IndexManager().IndexDefs().IndexByName("by_k")->ObjectID();
  }
  ~CursorTable() {
    cursor.reset();
    session.Disconnect();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

CursorTable& Table() {
  static CursorTable table;
  return table;
}

void BM_ScanThroughCursor(benchmark::State& state) {
  TABSLocalCursor& c = *Table().cursor;
  for (auto _ : state) {
    c.SetToBegin();
    int64_t n = 0;
    while (c.GetRecord(grmNext) == grrFound) ++n;
    if (n != kRecords) state.SkipWithError("the cursor does not see every record");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ScanThroughCursor)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ScanThroughIndex(benchmark::State& state) {
  CursorTable& t = Table();
  std::vector<char> r(static_cast<size_t>(t.table->FieldDefs().MemoryRecordSize()) + 1);
  for (auto _ : state) {
    TABSGetRecordRequest q;
    q.mode = grmNext;
    q.indexID = t.byK;
    q.beforeFirst = true;
    q.destination = r.data();
    int64_t n = 0;
    for (;;) {
      t.table->IndexManager().GetRecord(t.session.sessionID, q, nullptr);
      if (q.result != grrFound) break;
      q.beforeFirst = false;
      ++n;
    }
    if (n != kRecords) state.SkipWithError("the index does not hold every record");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ScanThroughIndex)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_KeySearchThroughCursor(benchmark::State& state) {
  TABSLocalCursor& c = *Table().cursor;
  std::vector<char> key = c.NewKeyRecord();
  for (auto _ : state) {
    for (int32_t n = 0; n < kRecords; ++n) {
      TABSVariant k;
      k.SetAsInteger(static_cast<int32_t>(int64_t{n} * 7919 % kRecords));
      c.SetKeyField(key, "k", k);
      if (!c.GotoKey(key, 1, true)) state.SkipWithError("a key was not found");
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_KeySearchThroughCursor)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_KeySearchThroughIndex(benchmark::State& state) {
  CursorTable& t = Table();
  const TABSFieldDefs& fields = t.table->FieldDefs();
  std::vector<char> key(static_cast<size_t>(fields.MemoryRecordSize()) + 1);
  TABSTableCursor raw;
  t.table->PrepareCursor(raw);
  raw.indexID = t.byK;
  for (auto _ : state) {
    for (int32_t n = 0; n < kRecords; ++n) {
      TABSVariant k;
      k.SetAsInteger(static_cast<int32_t>(int64_t{n} * 7919 % kRecords));
      WriteFieldValue(fields, key.data(), kBenchK, k);
      TABSIndexBound bound{key.data(), 1, scEqual};
      if (!t.table->SearchRange(t.session, raw, bound, true)) state.SkipWithError("a key was not found");
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_KeySearchThroughIndex)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

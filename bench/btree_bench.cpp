// The record index with an INTEGER key over a page manager that keeps its
// pages in memory: 1,000,000 random inserts, point searches and a full
// scan, beside the same operations on std::map as a sanity baseline.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "core/ABSBTreeRecordIndex.h"
#include "core/MemoryPageManager.h"

namespace {

constexpr int kKeys = 1000000;
constexpr int32_t kSession = 0;

// The in-memory page manager with 4096-byte pages and the page header, as
// the disk's index pages have.
class MemoryPageManager : public TABSMemoryPageManager {
 public:
  MemoryPageManager() : TABSMemoryPageManager(4096, tiv::page::kPageHeaderSize) {}
};

std::vector<int32_t> RandomKeys() {
  std::mt19937 rng(42);
  std::vector<int32_t> keys(kKeys);
  for (int32_t& k : keys) k = static_cast<int32_t>(rng());
  return keys;
}

struct Table {
  TABSFieldDefs fields;
  Table() {
    TABSFieldDef* f = fields.AddNew();
    f->SetName("v");
    f->SetDataType(aftInteger);
    fields.CalculateOffsets();
  }
  std::vector<char> Record(int32_t v) const {
    std::vector<char> r(static_cast<size_t>(fields.MemoryRecordSize()));
    InitNewRecord(fields, r.data());
    TABSVariant value;
    value.SetAsInteger(v);
    WriteFieldValue(fields, r.data(), 0, value);
    return r;
  }
};

TABSIndexDef IntegerIndex() {
  TABSIndexDef def;
  def.SetName("ix");
  def.SetColumnCount(1);
  def.Column(0).fieldName.assign(1, 'v');  // GCC 12 warns falsely on a literal here
  return def;
}

// One index of every key, built once for the search and scan benchmarks.
struct Built {
  Table table;
  MemoryPageManager pm;
  std::unique_ptr<TABSBTreeRecordIndex> index;
  std::vector<int32_t> keys = RandomKeys();
  Built() {
    index = std::make_unique<TABSBTreeRecordIndex>(&pm, table.fields, nullptr);
    index->Create(kSession, IntegerIndex());
    std::vector<char> r = table.Record(0);
    for (int i = 0; i < kKeys; ++i) {
      std::memcpy(r.data() + table.fields[0]->MemoryOffset(), &keys[static_cast<size_t>(i)], 4);
      index->InsertKey(kSession, r.data(), {i, 0});
    }
  }
};
Built& SharedIndex() {
  static Built built;
  return built;
}

void BM_BTreeInsertRandom(benchmark::State& state) {
  const std::vector<int32_t> keys = RandomKeys();
  for (auto _ : state) {
    Table table;
    MemoryPageManager pm;
    TABSBTreeRecordIndex index(&pm, table.fields, nullptr);
    index.Create(kSession, IntegerIndex());
    std::vector<char> r = table.Record(0);
    for (int i = 0; i < kKeys; ++i) {
      std::memcpy(r.data() + table.fields[0]->MemoryOffset(), &keys[static_cast<size_t>(i)], 4);
      index.InsertKey(kSession, r.data(), {i, 0});
    }
    benchmark::DoNotOptimize(index.Definition().rootPageNo);
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_BTreeInsertRandom)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BTreePointSearch(benchmark::State& state) {
  Built& built = SharedIndex();
  std::mt19937 rng(7);
  std::vector<char> r = built.table.Record(0);
  TABSBTreePath path;
  for (auto _ : state) {
    const int32_t i = static_cast<int32_t>(rng() % kKeys);
    std::memcpy(r.data() + built.table.fields[0]->MemoryOffset(), &built.keys[static_cast<size_t>(i)], 4);
    benchmark::DoNotOptimize(built.index->FindKeyPath(kSession, r.data(), {i, 0}, path));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BTreePointSearch);

void BM_BTreeFullScan(benchmark::State& state) {
  Built& built = SharedIndex();
  for (auto _ : state) {
    TABSBTreePath path;
    int64_t n = 0;
    if (built.index->First(kSession, path)) {
      do ++n;
      while (built.index->Next(kSession, path));
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_BTreeFullScan)->Unit(benchmark::kMillisecond);

void BM_StdMapInsertRandom(benchmark::State& state) {
  const std::vector<int32_t> keys = RandomKeys();
  for (auto _ : state) {
    std::multimap<int32_t, int32_t> map;
    for (int i = 0; i < kKeys; ++i) map.emplace(keys[static_cast<size_t>(i)], i);
    benchmark::DoNotOptimize(map.size());
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapInsertRandom)->Unit(benchmark::kMillisecond)->Iterations(1);

struct BuiltMap {
  std::vector<int32_t> keys = RandomKeys();
  std::multimap<int32_t, int32_t> map;
  BuiltMap() {
    for (int i = 0; i < kKeys; ++i) map.emplace(keys[static_cast<size_t>(i)], i);
  }
};
BuiltMap& SharedMap() {
  static BuiltMap built;
  return built;
}

void BM_StdMapPointSearch(benchmark::State& state) {
  BuiltMap& built = SharedMap();
  std::mt19937 rng(7);
  for (auto _ : state) benchmark::DoNotOptimize(built.map.find(built.keys[rng() % kKeys]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StdMapPointSearch);

void BM_StdMapFullScan(benchmark::State& state) {
  BuiltMap& built = SharedMap();
  for (auto _ : state) {
    int64_t n = 0;
    for (const auto& entry : built.map) n += entry.second != 0;
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapFullScan)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();

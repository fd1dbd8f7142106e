// Randomized differential tests of the record and page indexes against a
// std::set / std::map model, one family of key types per case, with the
// tree's invariants checked after every batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "core/ZUDVariant.h"
#include "os/OsRandom.h"
#include "support/BTreeTestSupport.h"

using namespace btreetest;

namespace {

// The order the index must keep, computed from the records' field bytes
// with the engine's value comparison: every column compared on its indexed
// length, then (for exact order) on the whole value.
class ModelOrder {
 public:
  ModelOrder(const RecordTable& table, const TABSIndexDef& def) {
    for (int i = 0; i < def.ColumnCount(); ++i) {
      const TABSIndexColumn& col = def.Column(i);
      Column c;
      c.fieldNo = table.fields.IndexOfName(col.fieldName);
      const TABSFieldDef& f = *table.fields[c.fieldNo];
      c.offset = f.MemoryOffset();
      c.type = f.StorageType();
      c.size = f.MemoryValueSize();
      c.truncated = IsStringStorage(c.type) && col.maxIndexedSize < f.MemoryValueSize();
      c.indexedSize = c.truncated ? col.maxIndexedSize : c.size;
      c.sign = col.descending ? -1 : 1;
      c.caseInsensitive = col.caseInsensitive;
      columns_.push_back(c);
    }
  }

  int Compare(const char* a, const char* b, int32_t columns = -1) const {
    const size_t n = columns < 0 ? columns_.size() : std::min(columns_.size(), static_cast<size_t>(columns));
    // Leading-column searches compare on the indexed lengths only.
    const int passes = n < columns_.size() ? 1 : 2;
    for (int pass = 0; pass < passes; ++pass) {
      for (size_t i = 0; i < n; ++i) {
        const Column& c = columns_[i];
        if (pass == 1 && !c.truncated) continue;
        const int32_t size = pass == 0 ? c.indexedSize : c.size;
        const int code = CompareValueBuffers(a + c.offset, c.type, size, IsFieldNull(a, c.fieldNo), b + c.offset,
                                             c.type, size, IsFieldNull(b, c.fieldNo), c.caseInsensitive);
        const int r = CompareCodeToSign(code) * c.sign;
        if (r != 0) return r;
      }
    }
    return 0;
  }

 private:
  struct Column {
    int fieldNo;
    int32_t offset, size, indexedSize;
    TABSStorageType type;
    bool truncated, caseInsensitive;
    int sign;
  };
  std::vector<Column> columns_;
};

struct Entry {
  std::string record;
  int32_t slot;
};

struct Family {
  const char* name;
  std::vector<FieldShape> columns;
  std::vector<std::string> index;
  int32_t maxIndexed;
  int operations;
  std::function<void(const RecordTable&, std::string&, std::mt19937&)> fill;
};

void PrintTo(const Family& family, std::ostream* os) { *os << family.name; }

std::string RandomText(std::mt19937& rng, const std::string& alphabet, int minLen, int maxLen) {
  std::string s(static_cast<size_t>(std::uniform_int_distribution<int>(minLen, maxLen)(rng)), ' ');
  for (char& c : s) c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
  return s;
}

bool Chance(std::mt19937& rng, int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; }

std::vector<Family> Families() {
  return {
      {"integer_with_nulls",
       {{"v", aftInteger}},
       {"v"},
       20,
       100000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         if (Chance(rng, 5)) return t.SetNull(r, 0);
         t.SetInt(r, 0, std::uniform_int_distribution<int>(-5000, 5000)(rng));
       }},
      {"largeint_descending",
       {{"v", aftLargeint}},
       {"v DESC"},
       20,
       50000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         if (Chance(rng, 3)) return t.SetNull(r, 0);
         t.SetInt(r, 0,
                  std::uniform_int_distribution<int64_t>(-3, 3)(rng) * 1000000000000LL +
                      std::uniform_int_distribution<int>(0, 2000)(rng));
       }},
      {"double",
       {{"v", aftDouble}},
       {"v"},
       20,
       30000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         t.SetDouble(r, 0, std::uniform_int_distribution<int>(-2000, 2000)(rng) / 8.0);
       }},
      {"string_case_insensitive",
       {{"s", aftString, 12}},
       {"s NOCASE"},
       20,
       15000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         if (Chance(rng, 4)) return t.SetNull(r, 0);
         t.SetText(r, 0, RandomText(rng, "aAbBcCñÑ-", 1, 5));
       }},
      {"string_truncated_unique_prefixes",
       {{"s", aftString, 40}},
       {"s"},
       20,
       10000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         // Long runs of equal first 20 characters: order comes from the records.
         t.SetText(r, 0,
                   std::string(static_cast<size_t>(std::uniform_int_distribution<int>(17, 21)(rng)), 'k') +
                       RandomText(rng, "xyz", 0, 6));
       }},
      {"widestring_truncated",
       {{"w", aftWideString, 30}},
       {"w NOCASE"},
       20,
       10000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         t.SetText(r, 0,
                   std::string(static_cast<size_t>(std::uniform_int_distribution<int>(8, 11)(rng)), 'q') +
                       RandomText(rng, "aAb", 0, 4));
       }},
      {"multi_column_truncated_first",
       {{"s", aftString, 30}, {"a", aftInteger}},
       {"s", "a DESC"},
       20,
       10000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         t.SetText(r, 0, std::string(20, 'p') + RandomText(rng, "ab", 0, 2));
         t.SetInt(r, 1, std::uniform_int_distribution<int>(0, 5)(rng));
       }},
      {"multi_column_mixed",
       {{"a", aftInteger}, {"s", aftString, 8}, {"d", aftDate}},
       {"a DESC", "s NOCASE", "d"},
       20,
       30000,
       [](const RecordTable& t, std::string& r, std::mt19937& rng) {
         if (Chance(rng, 5))
           t.SetNull(r, 0);
         else
           t.SetInt(r, 0, std::uniform_int_distribution<int>(0, 30)(rng));
         t.SetText(r, 1, RandomText(rng, "aAbB", 1, 3));
         if (Chance(rng, 5))
           t.SetNull(r, 2);
         else
           t.SetInt(r, 2, 693594 + std::uniform_int_distribution<int>(0, 40)(rng));
       }},
  };
}

// Everything the tree must agree with the model on after a batch.
void CheckAgainstModel(TABSBTreeRecordIndex& index, const ModelOrder& order, const std::vector<Entry>& model,
                       std::mt19937& rng) {
  ASSERT_NO_THROW(index.CheckIntegrity(kSession));
  std::vector<int32_t> expected;
  for (const Entry& e : model) expected.push_back(e.slot);
  ASSERT_EQ(IndexOrder(index), expected);
  ASSERT_EQ(index.EntryCount(kSession), static_cast<int64_t>(model.size()));
  if (model.empty()) return;

  for (int probe = 0; probe < 30; ++probe) {
    const size_t at = std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng);
    const Entry& e = model[at];
    ASSERT_EQ(index.GetRecNo(kSession, e.record.data(), {e.slot, 0}), static_cast<int64_t>(at + 1));
    ASSERT_EQ(index.GetRecordIdAt(kSession, static_cast<int64_t>(at + 1)).pageNo, e.slot);
  }
  // Positioning by key for every condition, both directions, against the
  // model's answer; the probe keys are records of the model or new ones.
  const int columns = static_cast<int>(index.Definition().ColumnCount());
  for (int probe = 0; probe < 60; ++probe) {
    const std::string& key = model[std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng)].record;
    const int32_t useColumns = std::uniform_int_distribution<int>(1, columns)(rng);
    const auto cmp = [&](const Entry& e) { return order.Compare(e.record.data(), key.data(), useColumns); };
    for (uint8_t condition = 1; condition <= 5; ++condition) {
      for (bool forward : {true, false}) {
        // The model is sorted, and `cmp` grows along it.
        const auto below = std::partition_point(model.begin(), model.end(), [&](auto& e) { return cmp(e) < 0; });
        const auto notAbove = std::partition_point(below, model.end(), [&](auto& e) { return cmp(e) <= 0; });
        const Entry* want = nullptr;
        if (forward) {
          const auto it = condition == 3 ? notAbove : condition == 1 || condition == 5 ? below : model.begin();
          if (it != model.end()) want = &*it;
        } else {
          const auto it = condition == 2 ? below : condition == 1 || condition == 4 ? notAbove : model.end();
          if (it != model.begin()) want = &*(it - 1);
        }
        if (want) {
          const int c = cmp(*want);
          const bool ok = condition == 1   ? c == 0
                          : condition == 2 ? c < 0
                          : condition == 3 ? c > 0
                          : condition == 4 ? c <= 0
                                           : c >= 0;
          if (!ok) want = nullptr;
        }
        TABSBTreePath path;
        const bool found = index.FindNearest(kSession, key.data(), useColumns, condition, forward, path);
        ASSERT_EQ(found, want != nullptr) << "condition " << int(condition) << " forward " << forward;
        if (found) {
          ASSERT_EQ(index.RecordIdAtPath(kSession, path).pageNo, want->slot);
        }
      }
    }
  }
}

void RunFamily(const Family& family, TABSPageManager& pm, int operations, uint32_t seed) {
  RecordTable table(family.columns);
  TABSBTreeRecordIndex index(&pm, table.fields, &table);
  index.Create(kSession, MakeIndexDef(family.index, false, family.maxIndexed));
  const ModelOrder order(table, index.Definition());
  const auto less = [&](const Entry& a, const Entry& b) {
    const int c = order.Compare(a.record.data(), b.record.data());
    return c != 0 ? c < 0 : a.slot < b.slot;
  };
  std::set<Entry, decltype(less)> model(less);
  std::vector<int32_t> live;  // slots present, for picking victims
  std::mt19937 rng(seed);
  const int batches = 8;
  for (int op = 1; op <= operations; ++op) {
    const int dice = std::uniform_int_distribution<int>(0, 99)(rng);
    if (live.empty() || dice < 55) {
      std::string r = table.NewRecord();
      family.fill(table, r, rng);
      const TABSRecordID id = table.Add(r);
      index.InsertKey(kSession, r.data(), id);
      model.insert({r, id.pageNo});
      live.push_back(id.pageNo);
    } else {
      const size_t at = std::uniform_int_distribution<size_t>(0, live.size() - 1)(rng);
      const int32_t slot = live[at];
      std::string& old = table.rows[slot];
      if (dice < 85) {
        index.DeleteKey(kSession, old.data(), {slot, 0});
        model.erase({old, slot});
        table.rows.erase(slot);
        live[at] = live.back();
        live.pop_back();
      } else {
        std::string changed = table.NewRecord();
        family.fill(table, changed, rng);
        index.UpdateKey(kSession, old.data(), changed.data(), {slot, 0}, 1);
        const std::string before = old;
        old = changed;  // the record manager holds the new record now
        index.UpdateKey(kSession, before.data(), changed.data(), {slot, 0}, 0);
        model.erase({before, slot});
        model.insert({changed, slot});
      }
    }
    if (op % (operations / batches) == 0) {
      pm.CommitSession(kSession);
      std::vector<Entry> sorted(model.begin(), model.end());
      CheckAgainstModel(index, order, sorted, rng);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

class RecordIndexDifferential : public ::testing::TestWithParam<Family> {};

TEST_P(RecordIndexDifferential, AgreesWithTheModelOnAMemoryPageManager) {
  MemoryPageManager pm;
  RunFamily(GetParam(), pm, GetParam().operations, 20261210);
}

// Pages that hold three leaf entries: every shape of split, merge and
// refused merge (nodes emptied under siblings too full to take them)
// happens within a few thousand operations.
TEST_P(RecordIndexDifferential, AgreesWithTheModelOnTinyPages) {
  RecordTable table(GetParam().columns);
  const TABSIndexDef def = MakeIndexDef(GetParam().index, false, GetParam().maxIndexed);
  const int32_t keySize = TABSRecordKeyRef(table.fields, def, 60000, nullptr).KeySize();
  MemoryPageManager pm(static_cast<uint16_t>(tiv::page::kPageHeaderSize + btree::kHeaderSize + 3 * (keySize + 6) + 1));
  RunFamily(GetParam(), pm, std::min(GetParam().operations, 4000), 5);
}

INSTANTIATE_TEST_SUITE_P(KeyFamilies, RecordIndexDifferential, ::testing::ValuesIn(Families()),
                         [](const auto& info) { return std::string(info.param.name); });

// The page index: unique page-number keys with uint16 values, on pages of
// the usual test size and on pages of three node entries.
class PageIndexDifferential : public ::testing::TestWithParam<std::pair<uint16_t, int>> {};

TEST_P(PageIndexDifferential, AgreesWithAMapThroughInsertsUpdatesAndDeletes) {
  MemoryPageManager pm(GetParam().first);
  TABSBTreeRecordPageIndex index(&pm);
  index.Create(kSession);
  std::map<int32_t, uint16_t> model;
  std::mt19937 rng(99);
  const int operations = GetParam().second;
  for (int op = 1; op <= operations; ++op) {
    const int32_t key = std::uniform_int_distribution<int32_t>(-40000, 40000)(rng);
    const uint16_t value = static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 300)(rng));
    const int dice = std::uniform_int_distribution<int>(0, 99)(rng);
    const bool present = model.count(key) != 0;
    if (dice < 60) {
      if (present) {
        ExpectEngineError([&] { index.Insert(kSession, key, value); }, 20078);
      } else {
        index.Insert(kSession, key, value);
        model[key] = value;
      }
    } else if (dice < 75) {
      if (present) {
        index.Update(kSession, key, value);
        model[key] = value;
      }
    } else if (present) {
      index.Delete(kSession, key);
      model.erase(key);
    } else {
      ExpectEngineError([&] { index.Delete(kSession, key); }, 20250);
    }
    if (op % (operations / 8) == 0) {
      pm.CommitSession(kSession);
      ASSERT_NO_THROW(index.Tree().CheckIntegrity(kSession));
      std::vector<std::pair<int32_t, uint16_t>> walked;
      TABSBTreePath path;
      if (index.First(kSession, path)) {
        do walked.emplace_back(index.KeyAt(kSession, path), index.ValueAt(kSession, path));
        while (index.Next(kSession, path));
      }
      const std::vector<std::pair<int32_t, uint16_t>> expected(model.begin(), model.end());
      ASSERT_EQ(walked, expected);
      int64_t total = 0;
      for (const auto& [k, v] : model) total += v;
      EXPECT_NO_THROW(index.Verify(kSession, total));
      ExpectEngineError([&] { index.Verify(kSession, total + 1); }, 20292);
      // Record numbers through the counts, both ways, at a few pages.
      int64_t before = 0;
      int checked = 0;
      for (const auto& [k, v] : model) {
        if (v > 0 && checked++ % std::max<size_t>(1, model.size() / 16) == 0) {
          const int32_t row = static_cast<int32_t>(v - 1);
          EXPECT_EQ(index.RecNoOf(kSession, k, row), before + row);
          int32_t page = 0, r = 0;
          index.GoToRecNo(kSession, before + row, page, r);
          EXPECT_EQ(page, k);
          EXPECT_EQ(r, row);
        }
        before += v;
      }
      int32_t page = 0, r = 0;
      ExpectEngineError([&] { index.GoToRecNo(kSession, total, page, r); }, 20113);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PageSizes, PageIndexDifferential,
                         ::testing::Values(std::make_pair<uint16_t, int>(512, 100000),
                                           std::make_pair<uint16_t, int>(tiv::page::kPageHeaderSize + 43, 16000)));

}  // namespace

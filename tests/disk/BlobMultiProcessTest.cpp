// Several real processes writing BLOB values into one table: every process
// keeps exactly its rows with exactly its memos, and the file checks ok.
// The other processes are BlobTableHelper runs.
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BlobTestDb.h"
#include "support/ChildProcess.h"
#include "DiskTestUtil.h"
#include "ZudadminRun.h"

namespace {

struct Writer {
  const char* command;  // "insert" or "churn"
  int32_t rows;
  int32_t batch;  // insert: 0 row by row, else transactions of this many rows
};

struct Case {
  const char* name;
  std::vector<Writer> writers;
};

// What a writer leaves: insert keeps every row; churn deletes every third.
void AddExpected(const Writer& w, int32_t from, std::map<int32_t, std::string>& expected) {
  for (int32_t i = 0; i < w.rows; ++i)
    if (std::string(w.command) == "insert" || i % 3 != 0) expected.emplace(from + i, MemoOf(from + i));
}

class BlobMultiProcessTest : public ::testing::TestWithParam<Case> {
 protected:
  ScratchDir dir;
  std::string path = dir.File("memos.zud");
};

TEST_P(BlobMultiProcessTest, EveryProcessKeepsExactlyItsRowsAndMemos) {
  const Case& c = GetParam();
  CreateMemoTableDb(path, 8);
  std::vector<std::unique_ptr<ChildProcess>> children;
  std::map<int32_t, std::string> expected;
  for (size_t n = 0; n < c.writers.size(); ++n) {
    const Writer& w = c.writers[n];
    const int32_t from = static_cast<int32_t>(n + 1) * 100000;
    std::vector<std::string> args = {w.command, path, std::to_string(from), std::to_string(w.rows)};
    if (std::string(w.command) == "insert") args.push_back(std::to_string(w.batch));
    children.push_back(std::make_unique<ChildProcess>(args, BLOB_HELPER_PATH));
    AddExpected(w, from, expected);
  }
  for (auto& child : children) ASSERT_EQ(child->ReadLine(), "ready");
  for (auto& child : children) child->WriteLine("go");
  for (size_t n = 0; n < children.size(); ++n) {
    const std::string said = children[n]->ReadLine(240000);
    EXPECT_TRUE(said.rfind("done ", 0) == 0 || said.rfind("kept ", 0) == 0) << "writer " << n << ": " << said;
    EXPECT_EQ(children[n]->Wait(), 0) << "writer " << n;
  }

  {
    MemoTableConnection reader(path);
    const std::multimap<int32_t, std::string> rows = reader.Rows();
    EXPECT_EQ(rows.size(), expected.size());
    int wrong = 0, missing = 0, twice = 0;
    for (const auto& [id, memo] : expected) {
      const auto range = rows.equal_range(id);
      const auto found = std::distance(range.first, range.second);
      if (found == 0) ++missing;
      if (found > 1) ++twice;
      for (auto it = range.first; it != range.second; ++it)
        if (it->second != memo) ++wrong;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(wrong, 0) << "rows whose memo is not their own, of " << expected.size();
    EXPECT_EQ(reader.table->GetRecordCount(reader.session), static_cast<int64_t>(expected.size()));
  }
  ExpectCheckOk(path);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, BlobMultiProcessTest,
    ::testing::Values(Case{"TwoRowByRow", {{"insert", 400, 0}, {"insert", 400, 0}}},
                      Case{"ThreeMixed", {{"insert", 300, 0}, {"insert", 300, 10}, {"insert", 300, 0}}},
                      Case{"FourMixed",
                           {{"insert", 250, 0}, {"insert", 250, 10}, {"insert", 250, 0}, {"insert", 250, 5}}},
                      Case{"ChurnBesideInserts", {{"churn", 240, 0}, {"insert", 300, 0}, {"churn", 240, 0}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The user's way: zudadmin imports of CSV rows with memos side by side.
TEST(BlobMultiProcessImport, TwoImportsWithMemosKeepTheirRows) {
  ScratchDir dir;
  const std::string path = dir.File("import.zud");
  CreateMemoTableDb(path, 8);
  constexpr int kRows = 300;
  std::map<int32_t, std::string> expected;
  std::vector<std::unique_ptr<ChildProcess>> imports;
  for (int n = 1; n <= 2; ++n) {
    std::string csv = "id,texto\n";
    for (int32_t id = n * 100000; id < n * 100000 + kRows; ++id) {
      csv += std::to_string(id) + "," + MemoOf(id) + "\n";
      expected.emplace(id, MemoOf(id));
    }
    const std::string file = dir.File("rows" + std::to_string(n) + ".csv");
    std::ofstream(file, std::ios::binary) << csv;
    imports.push_back(
        std::make_unique<ChildProcess>(std::vector<std::string>{"import", path, kMemoTable, file}, ZUDADMIN_PATH));
  }
  for (auto& import : imports) {
    EXPECT_EQ(import->ReadLine(240000), std::to_string(kRows) + " records imported");
    EXPECT_EQ(import->Wait(), 0);
  }
  const ToolRun dump = Zudadmin({"dump", path, kMemoTable, "--csv"});
  EXPECT_EQ(dump.exitCode, 0);
  std::map<int32_t, std::string> dumped;
  int duplicates = 0;
  for (const std::string& line : dump.lines) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos || line.rfind("id,", 0) == 0) continue;
    if (!dumped.emplace(std::stoi(line.substr(0, comma)), line.substr(comma + 1)).second) ++duplicates;
  }
  EXPECT_EQ(duplicates, 0);
  int wrong = 0;
  for (const auto& [id, memo] : expected) wrong += dumped.count(id) == 0 || dumped[id] != memo;
  EXPECT_EQ(dumped.size(), expected.size());
  EXPECT_EQ(wrong, 0);
  ExpectCheckOk(path);
}

// A value written into a record buffer holds the table until the record is
// stored: another process's BLOB change is refused meanwhile (reading goes
// on), and a session that leaves without storing it gives the table back.
TEST(BlobMultiProcessLock, AValueLeftUnstoredHoldsTheTableUntilItsSessionLeaves) {
  ScratchDir dir;
  const std::string path = dir.File("leave.zud");
  CreateMemoTableDb(path, 8);
  ChildProcess other({"leave", path, "7", "0"}, BLOB_HELPER_PATH);
  ASSERT_EQ(other.ReadLine(), "ready");
  other.WriteLine("go");
  ASSERT_EQ(other.ReadLine(), "written");

  MemoTableConnection me(path);
  TABSTableLockTimes times;
  times.readAttempts = times.writeRetries = times.deleteRetries = times.transactionAttempts = 5;
  times.readDelayMs = times.writeRetryDelayMs = times.deleteRetryDelayMs = times.transactionDelayMs = 10;
  me.data.TableLocks().SetTableLockTimes(times);
  ExpectEngineError([&] { me.Insert(1); }, 20223, "Table is locked");
  EXPECT_EQ(me.table->GetRecordCount(me.session), 0);

  other.WriteLine("go");
  ASSERT_EQ(other.ReadLine(), "left");
  me.Insert(1);
  other.WriteLine("go");
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(me.Rows(), (std::multimap<int32_t, std::string>{{1, MemoOf(1)}}));
  me.data.Disconnect(me.session);
  me.data.Close();
  ExpectCheckOk(path);
}

}  // namespace

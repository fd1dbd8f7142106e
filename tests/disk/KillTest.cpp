// A writer process SIGKILLed at a random moment, round after round, on one
// file: whatever it was doing (opening, inside a transaction, inside a
// commit, between a commit and its acknowledgement), the rows found next are
// exactly those of one commit of its sequence, no older than the last one
// it acknowledged; the engine's check finds nothing but the known leak; and
// the next writer goes on from there. A reader process beside it reads every
// row inside one read bracket again and again and must only ever see the
// rows of a commit (KillWriterHelper.cpp).
//
// The known gap, held to exactly that: pages are taken from the free-space
// map while a transaction runs, before its commit, so a writer killed before
// its commit's journal is sealed leaves them marked in use and reached by
// nothing. The check reports each as "page N is marked used but nothing uses
// it", and may say more of the same page: "page N: no page signature" (never
// written) or "page N: Error reading database file page..." (a page an
// earlier commit released, taken again and never written: it still carries
// its release mark). Those lines are counted as leaks; every other line,
// and any "page N: ..." of a page something does reach, is corruption.
//
// TIVORAN_KILL_ROUNDS sets the number of rounds (default 200),
// TIVORAN_KILL_SEED the seed (default: a fresh one, printed). The last line
// printed sums the run up. TIVORAN_KILL_RUN_MS lets every writer run that
// long before its kill: it commits until the pipe of its acknowledgements
// is full (some 5,000 commits, nobody reads them before the kill) and is
// killed waiting between two commits, so a fault of the commits themselves,
// not of a kill inside one, shows in most rounds.
// TIVORAN_KILL_KEEP names a folder that receives,
// when a round fails, the file as that round started ("start.zud") and as
// the kill left it ("killed.zud", with "killed.zud-journal" when there was
// one; when the reader recovers, it may already have begun).
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#include "DiskTestUtil.h"
#include "KillTestDb.h"
#include "support/ChildProcess.h"

namespace {

constexpr int kDefaultRounds = 200;

uint64_t EnvNumber(const char* name, uint64_t otherwise) {
  const char* text = std::getenv(name);
  return text && *text ? std::stoull(text) : otherwise;
}

// The page a line of the check names, with what it says of it after
// "page N"; -1 when the line names no page.
int32_t PageOfLine(const std::string& line, std::string& rest) {
  if (line.rfind("page ", 0) != 0) return -1;
  size_t end = 5;
  while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
  if (end == 5 || end > 14) return -1;
  rest = line.substr(end);
  return std::stoi(line.substr(5, end - 5));
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Who plays a dead writer's journal back: the reader's next read bracket
// (it keeps reading after the kill), the test's own open, or the check.
enum class Recoverer { kReader, kOpen, kCheck };

struct Figures {
  int rounds = 0;
  int corruptFiles = 0;
  int64_t lostCommits = 0;
  int roundsWithLeaks = 0;
  size_t leakedPages = 0;
  int64_t acked = 0;
  int killsAfterCommitBeforeAck = 0;
  int journalsFound = 0;
  int64_t readerScans = 0;
};

class KillTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("kill.zud");
  uint64_t seed = 0;
  uint64_t runMs = EnvNumber("TIVORAN_KILL_RUN_MS", 0);
  KillRandom random{0};
  // The state the file holds, after commit `at`.
  KillState model;
  int32_t at = 0;
  std::set<int32_t> leaked;
  Figures figures;

  // Lines of the writer: the last commit acknowledged (`at` when none).
  int32_t LastAcked(ChildProcess& writer) {
    int32_t last = at;
    for (std::string line = writer.ReadLine(5000); !line.empty(); line = writer.ReadLine(5000)) {
      if (line.rfind("acked ", 0) == 0) {
        const int32_t n = std::stoi(line.substr(6));
        EXPECT_EQ(n, last + 1) << "the writer acknowledged commits out of order";
        last = n;
        ++figures.acked;
      } else if (line != "ready") {
        ADD_FAILURE() << "writer: " << line;
      }
    }
    return last;
  }

  // (a): the rows the file holds now are those of a commit K with
  // acked <= K <= acked + 1; the model moves to K. False when they are not
  // (the round's failure is reported).
  bool ExpectRowsOfACommit(int32_t acked) {
    std::vector<KillState> states{model};  // states[i]: after commit at + i
    for (int32_t n = at + 1; n <= acked + 1; ++n) {
      KillState next = states.back();
      ApplyCommit(PlanCommit(seed, n, next), next);
      states.push_back(std::move(next));
    }
    KillState found;
    std::string fault;
    {
      KillTableConnection c(path);
      const std::vector<KillRow> rows = c.ReadAll(true);
      fault = StateOfRows(rows, found, true);
      if (fault.empty() && c.table->GetRecordCount(c.session) != static_cast<int64_t>(rows.size()))
        fault = "the table counts " + std::to_string(c.table->GetRecordCount(c.session)) + " rows, " +
                std::to_string(rows.size()) + " were read";
    }
    if (!fault.empty()) {
      ADD_FAILURE() << "torn: " << fault;
      return false;
    }
    for (size_t i = states.size(); i-- > 0;) {
      if (!(states[i] == found)) continue;
      const int32_t k = at + static_cast<int32_t>(i);
      if (k < acked) {
        figures.lostCommits += acked - k;
        ADD_FAILURE() << "the rows are those of commit " << k << ", commit " << acked << " was acknowledged";
      }
      if (k == acked + 1) ++figures.killsAfterCommitBeforeAck;
      model = states[i];
      at = k;
      return true;
    }
    ADD_FAILURE() << "the " << found.Rows().size() << " rows are those of no commit from " << at << " to " << acked + 1
                  << " (acknowledged: " << acked << "; " << Difference(states[acked - at], found) << ")";
    return false;
  }

  static std::string Difference(const KillState& want, const KillState& got) {
    int missing = 0, extra = 0, otherVersion = 0;
    for (const auto& [id, version] : want.Rows()) {
      auto it = got.Rows().find(id);
      if (it == got.Rows().end())
        ++missing;
      else if (it->second != version)
        ++otherVersion;
    }
    for (const auto& [id, version] : got.Rows()) extra += want.Rows().count(id) == 0;
    return "against the acknowledged state: " + std::to_string(missing) + " rows missing, " + std::to_string(extra) +
           " extra, " + std::to_string(otherVersion) + " of another version";
  }

  // (b): the check finds nothing but leaked pages. False on corruption.
  bool ExpectOnlyLeaks() {
    const TABSCheckReport report = CheckDatabase(path, TABSPassword{});
    const size_t before = leaked.size();
    // The leak: a page marked used that nothing reaches. Whatever else the
    // check says of such a page ("no page signature" when it was never
    // written, a read error when it still carries the release mark of an
    // earlier life) is about a page no structure uses, and counts with it.
    std::set<int32_t> unreached;
    std::string rest;
    for (const std::string& line : report.problems)
      if (const int32_t page = PageOfLine(line, rest); page >= 0 && rest == " is marked used but nothing uses it")
        unreached.insert(page);
    bool corrupt = false;
    for (const std::string& line : report.problems) {
      const int32_t page = PageOfLine(line, rest);
      if (page >= 0 && unreached.count(page) != 0 &&
          (rest[0] == ':' || rest == " is marked used but nothing uses it")) {
        leaked.insert(page);
      } else {
        ADD_FAILURE() << "corrupt: " << line;
        corrupt = true;
      }
    }
    if (leaked.size() > before) ++figures.roundsWithLeaks;
    figures.leakedPages = leaked.size();
    if (corrupt) ++figures.corruptFiles;
    return !corrupt;
  }

  // Copies of the file for TIVORAN_KILL_KEEP: "start.zud", "killed.zud".
  void Snapshot(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path to = dir.Path() / name;
    fs::copy_file(path, to, fs::copy_options::overwrite_existing);
    fs::remove(to.string() + "-journal");
    // The reader may play the journal back and remove it meanwhile: a copy
    // that finds it gone keeps none.
    std::error_code gone;
    fs::copy_file(path + "-journal", to.string() + "-journal", fs::copy_options::overwrite_existing, gone);
  }

  void KeepSnapshots(const char* keep) {
    namespace fs = std::filesystem;
    fs::create_directories(keep);
    for (const char* name : {"start.zud", "killed.zud", "killed.zud-journal"})
      if (fs::exists(dir.Path() / name))
        fs::copy_file(dir.Path() / name, fs::path(keep) / name, fs::copy_options::overwrite_existing);
  }

  // One round; false when the file is no longer one the model knows.
  bool Round() {
    const Recoverer recoverer = static_cast<Recoverer>(random.Below(3));
    SCOPED_TRACE("recovered by " + std::string(recoverer == Recoverer::kReader ? "the reader"
                                               : recoverer == Recoverer::kOpen ? "an open"
                                                                               : "the check"));
    const char* keep = std::getenv("TIVORAN_KILL_KEEP");
    if (keep) Snapshot("start.zud");
    const bool passed = RoundFrom(recoverer, keep != nullptr);
    if (!passed && keep) KeepSnapshots(keep);
    return passed;
  }

  bool RoundFrom(Recoverer recoverer, bool snapshot) {
    // Both start side by side (a process start is most of a round under the
    // sanitizers); the writer commits only once told to, after the reader
    // has read the state it starts from.
    ChildProcess reader({"read", path, std::to_string(seed), std::to_string(at)}, KILL_HELPER_PATH);
    ChildProcess writer({"write", path, std::to_string(seed), std::to_string(at)}, KILL_HELPER_PATH);
    // One round in ten kills the writer wherever its start has got to
    // (opening, connecting, reading, waiting); the others let it commit a
    // while.
    if (random.Below(10) == 0) {
      SleepMs(static_cast<int>(random.Below(200)));
      EXPECT_EQ(reader.ReadLine(), "ready");
    } else {
      EXPECT_EQ(reader.ReadLine(), "ready");
      EXPECT_EQ(writer.ReadLine(), "ready");
      writer.WriteLine("go");
      SleepMs(runMs > 0 ? static_cast<int>(runMs) : 2 + static_cast<int>(random.Below(50)));
    }
    // The reader's exit is not waited for: it says what it saw and is
    // killed, which costs nothing and is one more kill of a connection.
    auto stopReader = [&] {
      reader.WriteLine("stop");
      const std::string said = reader.ReadLine();
      EXPECT_EQ(said.rfind("stopped ", 0), 0u) << "reader: " << said;
      if (said.rfind("stopped ", 0) == 0) figures.readerScans += std::stoll(said.substr(8));
      reader.Kill();
    };
    if (recoverer != Recoverer::kReader) stopReader();
    EXPECT_EQ(writer.Kill(), 128 + SIGKILL);
    if (snapshot) Snapshot("killed.zud");
    const int32_t acked = LastAcked(writer);
    if (std::filesystem::exists(path + "-journal")) ++figures.journalsFound;
    if (recoverer == Recoverer::kReader) {
      SleepMs(5 + static_cast<int>(random.Below(20)));
      stopReader();
    }
    if (::testing::Test::HasFailure()) return false;
    if (recoverer == Recoverer::kCheck && !ExpectOnlyLeaks()) return false;
    if (!ExpectRowsOfACommit(acked)) return false;
    if (recoverer != Recoverer::kCheck && !ExpectOnlyLeaks()) return false;
    EXPECT_FALSE(std::filesystem::exists(path + "-journal")) << "a journal outlived the recovery";
    return !::testing::Test::HasFailure();
  }
};

TEST_F(KillTest, AWriterKilledAnywhereLosesNoAcknowledgedCommitAndLeavesNoTornState) {
  seed = EnvNumber("TIVORAN_KILL_SEED", std::random_device{}());
  const int rounds = static_cast<int>(EnvNumber("TIVORAN_KILL_ROUNDS", kDefaultRounds));
  random = KillRandom(KillMix(seed) + 1);
  SCOPED_TRACE("TIVORAN_KILL_SEED=" + std::to_string(seed));
  CreateKillTableDb(path, 8);
  while (figures.rounds < rounds) {
    ++figures.rounds;
    if (!Round()) {
      ADD_FAILURE() << "round " << figures.rounds << " at commit " << at;
      break;
    }
  }
  std::cout << "kill rounds " << figures.rounds << " (seed " << seed << "): corrupt files " << figures.corruptFiles
            << ", lost acknowledged commits " << figures.lostCommits << ", rounds with leaked pages "
            << figures.roundsWithLeaks << ", leaked pages " << figures.leakedPages << "; commits acknowledged "
            << figures.acked << ", kills between a commit and its acknowledgement " << figures.killsAfterCommitBeforeAck
            << ", journals left by a kill " << figures.journalsFound << ", reader scans " << figures.readerScans
            << std::endl;
  // A run whose writers never got to commit, or whose reader never read,
  // tested nothing.
  EXPECT_GT(figures.acked, figures.rounds);
  EXPECT_GT(figures.readerScans, figures.rounds);
}

}  // namespace

// The processes of the kill tests (KillTest.cpp), on a file made by
// CreateKillTableDb whose rows are those of commit FROM of the sequence of
// SEED (KillTestDb.h). One command per run:
//   write FILE SEED FROM
//          connect, read the rows, print "ready", wait for a line; then
//          make commits FROM + 1, FROM + 2, ... of the sequence until killed,
//          printing "acked N" (and flushing it) after commit N returned
//   read FILE SEED FROM
//          connect, read the rows, print "ready"; then, until a line "stop"
//          comes on stdin, read every row inside one read bracket a few
//          milliseconds apart and require the rows to be those of a commit
//          of the sequence no older than the last one seen; on "stop" print
//          "stopped <scans> <last commit seen>" and wait for stdin to close
//          (or to be killed), then exit 0
// A state that no commit left prints "torn <what>" and exits 1; an error
// prints "error <native code> <message>" and exits 1.
#include <poll.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "KillTestDb.h"

namespace {

// Further than a reader can fall behind the writer between two reads by
// far: a state not found within it was left by no commit of the sequence.
constexpr int32_t kReaderSearch = 100000;

class Torn : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int Write(KillTableConnection& c, uint64_t seed, int32_t from) {
  KillState state;
  std::map<int32_t, TABSRecordID> where;
  for (const KillRow& row : c.ReadAll(false)) {
    state.Set(row.id, row.version);
    where[row.id] = row.at;
  }
  std::cout << "ready" << std::endl;
  std::string go;
  std::getline(std::cin, go);
  TABSTableCursor cursor;
  c.table->PrepareCursor(cursor);
  for (int32_t n = from + 1;; ++n) {
    const KillCommit commit = PlanCommit(seed, n, state);
    if (commit.transaction) c.data.StartTransaction(c.session);
    for (const KillOp& op : commit.ops) {
      switch (op.kind) {
        case KillOp::kInsert:
          c.table->InitRecordForInsert(c.record.data());
          c.FillRow(c.record.data(), op.id, n);
          where[op.id] = c.table->InsertRecord(c.session, c.record.data());
          break;
        case KillOp::kUpdate:
          if (!c.table->PositionOnKey(c.session, cursor, where.at(op.id)))
            throw std::runtime_error("row " + std::to_string(op.id) + " to update is gone");
          c.FillRow(cursor.Record(), op.id, n);
          c.table->UpdateRecord(c.session, where.at(op.id), cursor.Record());
          break;
        case KillOp::kDelete:
          if (!c.table->DeleteRecord(c.session, where.at(op.id)))
            throw std::runtime_error("row " + std::to_string(op.id) + " to delete is gone");
          where.erase(op.id);
          break;
      }
    }
    if (commit.transaction) c.data.Commit(c.session, false);
    std::cout << "acked " << n << std::endl;
    ApplyCommit(commit, state);
  }
}

// True when a line came on stdin within `waitMs` (the pause between reads).
bool LineWaiting(int waitMs) {
  pollfd p{0, POLLIN, 0};
  return poll(&p, 1, waitMs) > 0;
}

int Read(KillTableConnection& c, uint64_t seed, int32_t from) {
  KillState seen;
  const std::string fault = StateOfRows(c.ReadAll(true), seen, true);
  if (!fault.empty()) throw Torn(fault);
  std::cout << "ready" << std::endl;
  // The model: the state after commit `last`, stepped forward to each state
  // read. The state read first is that of commit FROM (no writer ran yet).
  KillState model = seen;
  int32_t last = from;
  KillRandom pause(KillMix(seed) ^ static_cast<uint64_t>(getpid()));
  int64_t scans = 0;
  for (;;) {
    if (LineWaiting(1 + static_cast<int>(pause.Below(6)))) {
      std::string line;
      std::getline(std::cin, line);
      if (line == "stop" || !std::cin) break;
    }
    KillState now;
    const std::string torn = StateOfRows(c.ReadAll(true), now, true);
    if (!torn.empty()) throw Torn(torn);
    ++scans;
    int32_t n = last;
    while (!(model == now) && n < last + kReaderSearch) {
      ++n;
      ApplyCommit(PlanCommit(seed, n, model), model);
    }
    if (!(model == now))
      throw Torn(std::to_string(now.Rows().size()) + " rows that no commit from " + std::to_string(last) + " on left");
    last = n;
  }
  std::cout << "stopped " << scans << " " << last << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}

int Run(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc != 5) {
    std::cout << "usage: kill_writer_helper write|read FILE SEED FROM" << std::endl;
    return 2;
  }
  const uint64_t seed = std::stoull(argv[3]);
  const int32_t from = std::stoi(argv[4]);
  KillTableConnection c(argv[2]);
  if (command == "write") return Write(c, seed, from);
  if (command == "read") return Read(c, seed, from);
  std::cout << "unknown command " << command << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Torn& e) {
    std::cout << "torn " << e.what() << std::endl;
    return 1;
  } catch (const EABSException& e) {
    std::cout << "error " << e.NativeError() << " " << e.Message() << std::endl;
    return 1;
  } catch (const std::exception& e) {
    std::cout << "error " << e.what() << std::endl;
    return 1;
  }
}

// The other processes of the session tests: table work through a
// TABSDiskDatabaseData on a file made by CreateSharedTableDb. One command
// per run; every waiting point reads a line from stdin.
//   insert FILE FROM COUNT OWNER BATCH
//                  connect, print "ready", wait; insert ids FROM ..
//                  FROM+COUNT-1 with OWNER, each alone (BATCH 0) or in
//                  transactions of BATCH rows; print "done <ms>"
//   churn FILE OWNER ROUNDS
//                  connect, print "ready", wait; each round inserts 40
//                  rows (ids OWNER*1000000 + n) and deletes every other
//                  row of the round by its record id (the deletes of odd
//                  rounds in a transaction); print "kept <count>"
//   txn FILE ID    connect, start a transaction, insert ID, print
//                  "inserted"; wait for "commit" or "rollback", do it,
//                  print "ended", wait
//   read-lock FILE connect, take the table's read lock once: print
//                  "reading" or "refused"; wait, release, print "released",
//                  wait
//   hold FILE      connect, print "slot N", wait, disconnect
//   single FILE    open single-user, print "readonly 0|1", wait; insert id
//                  -1: print "inserted" or the error; wait
// Errors print "error <native code> <message>" and exit 1.
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "SessionTestDb.h"

namespace {

void WaitForLine(std::string* line = nullptr) {
  std::string got;
  std::getline(std::cin, got);
  if (line) *line = got;
}

int Run(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc < 3) {
    std::cout << "usage: table_helper COMMAND FILE ..." << std::endl;
    return 2;
  }
  const std::string path = argv[2];
  if (command == "insert" && argc == 7) {
    const int32_t from = std::stoi(argv[3]), count = std::stoi(argv[4]), owner = std::stoi(argv[5]);
    const int32_t batch = std::stoi(argv[6]);
    SharedTableConnection c(path);
    std::cout << "ready" << std::endl;
    WaitForLine();
    const auto start = std::chrono::steady_clock::now();
    for (int32_t i = 0; i < count;) {
      if (batch > 0) {
        c.data.StartTransaction(c.session);
        for (int32_t k = 0; k < batch && i < count; ++k, ++i) c.Insert(from + i, owner);
        c.data.Commit(c.session, false);
      } else {
        c.Insert(from + i, owner);
        ++i;
      }
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::cout << "done " << ms << std::endl;
    return 0;
  }
  if (command == "churn" && argc == 5) {
    const int32_t owner = std::stoi(argv[3]), rounds = std::stoi(argv[4]);
    SharedTableConnection c(path);
    std::cout << "ready" << std::endl;
    WaitForLine();
    int32_t next = owner * 1000000, kept = 0;
    for (int32_t r = 0; r < rounds; ++r) {
      std::vector<TABSRecordID> ids;
      for (int k = 0; k < 40; ++k) ids.push_back(c.Insert(next++, owner));
      const bool inTransaction = r % 2 == 1;
      if (inTransaction) c.data.StartTransaction(c.session);
      for (size_t k = 0; k < ids.size(); k += 2)
        if (!c.table->DeleteRecord(c.session, ids[k])) throw std::runtime_error("a row of this process vanished");
      if (inTransaction) c.data.Commit(c.session, false);
      kept += 20;
    }
    std::cout << "kept " << kept << std::endl;
    return 0;
  }
  if (command == "txn" && argc == 4) {
    SharedTableConnection c(path);
    c.data.StartTransaction(c.session);
    c.Insert(std::stoi(argv[3]), 9);
    std::cout << "inserted" << std::endl;
    std::string how;
    WaitForLine(&how);
    if (how == "commit")
      c.data.Commit(c.session, true);
    else
      c.data.Rollback(c.session);
    std::cout << "ended" << std::endl;
    WaitForLine();
    return 0;
  }
  if (command == "read-lock") {
    SharedTableConnection c(path);
    const bool granted = c.table->LockTable(c.session, ltRead, 0, 1);
    std::cout << (granted ? "reading" : "refused") << std::endl;
    WaitForLine();
    if (granted) c.table->UnlockTable(c.session, ltRead);
    std::cout << "released" << std::endl;
    WaitForLine();
    return 0;
  }
  if (command == "hold") {
    SharedTableConnection c(path);
    std::cout << "slot " << c.session.sessionID << std::endl;
    WaitForLine();
    return 0;
  }
  if (command == "single") {
    SharedTableConnection c(path, false);
    std::cout << "readonly " << (c.data.ReadOnly() ? 1 : 0) << std::endl;
    WaitForLine();
    c.Insert(-1, 0);
    std::cout << "inserted" << std::endl;
    WaitForLine();
    return 0;
  }
  std::cout << "unknown command " << command << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const EABSException& e) {
    std::cout << "error " << e.NativeError() << " " << e.Message() << std::endl;
    return 1;
  } catch (const std::exception& e) {
    std::cout << "error " << e.what() << std::endl;
    return 1;
  }
}

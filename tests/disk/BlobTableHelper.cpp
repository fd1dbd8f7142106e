// The other processes of the BLOB process tests: rows with memos through a
// TABSDiskDatabaseData on a file made by CreateMemoTableDb. One command per
// run; the waiting point reads a line from stdin.
//   insert FILE FROM COUNT BATCH
//          connect, print "ready", wait; insert ids FROM .. FROM+COUNT-1,
//          each with MemoOf(id), alone (BATCH 0) or in transactions of
//          BATCH rows; print "done <ms>"
//   churn FILE FROM COUNT
//          connect, print "ready", wait; insert ids FROM .. FROM+COUNT-1,
//          then delete every third of them and rewrite the memo of the
//          others that follow one, in transactions of 7 changes, so that
//          small BLOB pages fill, empty and go back while the other
//          processes store values; print "kept <count>"
//   leave FILE ID 0
//          connect, print "ready", wait; write MemoOf(ID) into a new
//          record without inserting it, print "written", wait; disconnect,
//          print "left", wait
// Errors print "error <native code> <message>" and exit 1.
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BlobTestDb.h"

namespace {

int Run(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc != 6 && argc != 5) {
    std::cout << "usage: BlobTableHelper COMMAND FILE FROM COUNT [BATCH]" << std::endl;
    return 2;
  }
  const std::string path = argv[2];
  const int32_t from = std::stoi(argv[3]), count = std::stoi(argv[4]);
  MemoTableConnection c(path);
  std::cout << "ready" << std::endl;
  std::string go;
  std::getline(std::cin, go);
  const auto start = std::chrono::steady_clock::now();
  if (command == "insert" && argc == 6) {
    const int32_t batch = std::stoi(argv[5]);
    for (int32_t i = 0; i < count;) {
      if (batch > 0) {
        c.data.StartTransaction(c.session);
        for (int32_t k = 0; k < batch && i < count; ++k, ++i) c.Insert(from + i);
        c.data.Commit(c.session, false);
      } else {
        c.Insert(from + i);
        ++i;
      }
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::cout << "done " << ms << std::endl;
    return 0;
  }
  if (command == "churn" && argc == 5) {
    std::vector<TABSRecordID> ids;
    for (int32_t i = 0; i < count; ++i) ids.push_back(c.Insert(from + i));
    int32_t kept = 0, changes = 0;
    for (int32_t i = 0; i < count; ++i) {
      if (changes % 7 == 0) c.data.StartTransaction(c.session);
      if (i % 3 == 0) {
        if (!c.table->DeleteRecord(c.session, ids[static_cast<size_t>(i)]))
          throw std::runtime_error("a row of this process vanished");
      } else {
        ++kept;
        if (i % 3 == 1) {
          // The same memo again: the old value goes, a new one is stored.
          TABSTableCursor cursor;
          c.table->PrepareCursor(cursor);
          if (!c.table->PositionOnKey(c.session, cursor, ids[static_cast<size_t>(i)]))
            throw std::runtime_error("a row of this process vanished");
          const std::string memo = MemoOf(from + i);
          c.table->WriteBlobBuffer(c.session, cursor.Record(), 1, memo.data(), static_cast<int64_t>(memo.size()));
          c.table->UpdateRecord(c.session, ids[static_cast<size_t>(i)], cursor.Record());
        }
      }
      if (++changes % 7 == 0) c.data.Commit(c.session, false);
    }
    if (changes % 7 != 0) c.data.Commit(c.session, false);
    std::cout << "kept " << kept << std::endl;
    return 0;
  }
  if (command == "leave" && argc == 5) {
    c.table->InitRecordForInsert(c.record.data());
    const std::string memo = MemoOf(from);
    c.table->WriteBlobBuffer(c.session, c.record.data(), 1, memo.data(), static_cast<int64_t>(memo.size()));
    std::cout << "written" << std::endl;
    std::getline(std::cin, go);
    c.data.Disconnect(c.session);
    std::cout << "left" << std::endl;
    std::getline(std::cin, go);
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

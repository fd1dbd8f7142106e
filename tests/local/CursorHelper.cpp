// The other process of the cursor tests. One command per run on a file made
// by CreateItemsDb; every waiting point reads a line from stdin.
//   edit FILE K    connect multi-user, position on K, Edit: print the
//                  code ("edit 0"); wait; set s to the line read and Post:
//                  print "post <code>"; wait
//   update FILE K S
//                  connect, position on K, Edit, set s to S, Post: print
//                  "post <code>"
//   lock FILE KIND connect, take the table lock of KIND (3 in a
//                  transaction): print "locked"; wait, release, print
//                  "released"
// Errors print "error <message>" and exit 1.
#include <iostream>
#include <string>

#include "CursorTestDb.h"

namespace {

int Run(int argc, char** argv) {
  const std::string command = argc > 2 ? argv[1] : "";
  const std::string path = argc > 2 ? argv[2] : "";
  if (command == "edit" && argc == 4) {
    ItemsConnection c(path, "HELPER");
    if (!c.Goto(std::stoi(argv[3]))) throw std::runtime_error("no such record");
    std::cout << "edit " << c->Edit() << std::endl;
    std::string line;
    std::getline(std::cin, line);
    c.SetS(line);
    std::cout << "post " << c->Post(false) << std::endl;
    std::getline(std::cin, line);
    return 0;
  }
  if (command == "update" && argc == 5) {
    ItemsConnection c(path, "HELPER");
    if (!c.Goto(std::stoi(argv[3]))) throw std::runtime_error("no such record");
    const int32_t edit = c->Edit();
    if (edit != crOK) {
      std::cout << "edit " << edit << std::endl;
      return 0;
    }
    c.SetS(argv[4]);
    std::cout << "post " << c->Post(false) << std::endl;
    return 0;
  }
  if (command == "lock" && argc == 4) {
    ItemsConnection c(path, "HELPER");
    const auto kind = static_cast<TABSLockKind>(std::stoi(argv[3]));
    if (kind == ltTransactionWrite) c.session.StartTransaction();
    if (!c->LockTable(kind, 10, 100)) throw std::runtime_error("not locked");
    std::cout << "locked" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    if (kind == ltTransactionWrite)
      c.session.Rollback();
    else
      c->UnlockTable(kind);
    std::cout << "released" << std::endl;
    return 0;
  }
  std::cout << "error usage" << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& x) {
    std::cout << "error " << x.what() << std::endl;
    return 1;
  }
}

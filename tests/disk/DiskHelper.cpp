// The second process of the two-process disk tests. One command per run:
//   hold-header FILE        open multi-user, take the header lock, print
//                           "locked", wait for a line on stdin, release
//   try-header FILE         open multi-user and take the header lock, each
//                           tried 5 x 10 ms; print "locked" or "refused"
//   next-ids FILE N         open multi-user, print "ready", wait for a line,
//                           then print N ids from GetNextObjectID
//   open FILE MODE          MODE multi|single|exclusive: open, print
//                           "opened readonly=0|1" and wait for a line on stdin
//   sleep                   print "ready" and wait for a line on stdin
// Errors print "error <native code> <message>" and exit 1.
#include <cstdio>
#include <iostream>
#include <string>

#include "disk/ZUDDiskEngine.h"

namespace {

void Open(TABSDiskPageManager& pm, const std::string& file, const std::string& mode) {
  bool multiUser = mode != "single" && mode != "exclusive";
  bool needRepair = false, readOnly = false;
  pm.OpenDatabaseFile(file, TABSPassword{}, multiUser, mode == "exclusive", needRepair, readOnly);
}

void WaitForLine() {
  std::string line;
  std::getline(std::cin, line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string cmd = argv[1];
  try {
    if (cmd == "sleep") {
      std::cout << "ready" << std::endl;
      WaitForLine();
      return 0;
    }
    if (argc < 3) return 2;
    const std::string file = argv[2];
    TABSDiskPageManager pm;
    if (cmd == "hold-header") {
      Open(pm, file, "multi");
      if (!pm.LockHeader()) return 3;
      std::cout << "locked" << std::endl;
      WaitForLine();
      pm.UnlockHeader();
      std::cout << "released" << std::endl;
      WaitForLine();
    } else if (cmd == "try-header") {
      // The open takes the header lock too: its refusal counts the same.
      pm.SetLockRetry({5, 10});
      bool locked = false;
      try {
        Open(pm, file, "multi");
        locked = pm.LockHeader();
      } catch (const EABSException& e) {
        if (e.NativeError() != 20230) throw;
      }
      std::cout << (locked ? "locked" : "refused") << std::endl;
    } else if (cmd == "next-ids" && argc >= 4) {
      Open(pm, file, "multi");
      std::cout << "ready" << std::endl;
      WaitForLine();  // start together with the other processes
      int n = std::stoi(argv[3]);
      std::string out;
      for (int i = 0; i < n; ++i) out += std::to_string(pm.GetNextObjectID()) + "\n";
      std::cout << out << "done" << std::endl;
    } else if (cmd == "open" && argc >= 4) {
      Open(pm, file, argv[3]);
      std::cout << "opened readonly=" << (pm.ReadOnly() ? 1 : 0) << std::endl;
      WaitForLine();
    } else {
      return 2;
    }
  } catch (const EABSException& e) {
    std::cout << "error " << e.NativeError() << " " << e.Message() << std::endl;
    return 1;
  }
  return 0;
}

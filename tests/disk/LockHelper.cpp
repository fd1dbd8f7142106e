// The other processes of the lock tests. One command per run, on a file
// made by CreateLockTestDb; every waiting point reads a line from stdin.
//   connect FILE MAXCONN          connect, print "slot N", wait, disconnect,
//                                 print "disconnected"
//   hold FILE MAXCONN KIND        connect, take table lock KIND (0..6, 50
//                                 attempts 10 ms), print "pid P slot N
//                                 locked" or "refused", wait, release, print
//                                 "released", wait
//   open FILE MAXCONN EXCL        connect, open table 'inicial' (EXCL 1:
//                                 exclusive) as a cursor does, print
//                                 "granted", wait, release
//   count FILE MAXCONN N          connect, print "ready", wait, then N times
//                                 under a write lock add 1 to the counter
//                                 page; print "done"
//   claim FILE MAXCONN            single-user claim: print "claimed 1|0",
//                                 wait
// Errors print "error <native code> <message>" and exit 1.
#include <unistd.h>

#include <iostream>
#include <string>

#include "LockTestDb.h"
#include "os/OsClock.h"

namespace {

void WaitForLine() {
  std::string line;
  std::getline(std::cin, line);
}

int32_t ReadCounter(TABSDiskPageManager& pm) {
  uint8_t b[4];
  pm.ReadPageBytes(b, kCounterPage, 4, tiv::disk::kPageHeaderSize);
  return tiv::disk::GetI32(b);
}

void WriteCounter(TABSDiskPageManager& pm, int32_t v) {
  uint8_t b[4];
  tiv::disk::PutI32(b, v);
  pm.WritePageBytes(b, kCounterPage, 4, tiv::disk::kPageHeaderSize);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string cmd = argv[1], file = argv[2];
  const int32_t maxConnections = std::stoi(argv[3]);
  try {
    LockTestView v(file, maxConnections);
    if (cmd == "claim") {
      std::cout << "claimed " << (v.sessions->LockAllSlots() ? 1 : 0) << std::endl;
      WaitForLine();
      return 0;
    }
    const int32_t slot = v.sessions->Connect();
    auto& m = *v.manager;
    if (cmd == "connect") {
      std::cout << "slot " << slot << std::endl;
      WaitForLine();
      v.sessions->Disconnect(slot);
      std::cout << "disconnected" << std::endl;
      return 0;
    } else if (cmd == "hold" && argc >= 5) {
      const auto kind = static_cast<TABSLockKind>(std::stoi(argv[4]));
      if (!m.LockTable(slot, kind, true, false, 20, 50, v.locks.get())) {
        std::cout << "refused" << std::endl;
        return 0;
      }
      std::cout << "pid " << getpid() << " slot " << slot << " locked" << std::endl;
      WaitForLine();
      m.UnlockTable(slot, kind, false, false, v.locks.get());
      std::cout << "released" << std::endl;
      WaitForLine();
    } else if (cmd == "open" && argc >= 5) {
      const bool exclusive = std::string(argv[4]) == "1";
      m.LockTableForOpen(slot, v.locks.get(), exclusive, "inicial");
      std::cout << "granted" << std::endl;
      WaitForLine();
      m.UnlockTable(slot, exclusive ? ltExclusive : ltOpen, false, false, v.locks.get());
    } else if (cmd == "count" && argc >= 5) {
      const int n = std::stoi(argv[4]);
      std::cout << "ready" << std::endl;
      WaitForLine();
      for (int i = 0; i < n; ++i) {
        if (!m.LockTable(slot, ltWrite, true, false, 2, 20000, v.locks.get())) {
          std::cout << "refused" << std::endl;
          return 1;
        }
        // The sleep widens the window in which a second writer would lose
        // this update.
        const int32_t value = ReadCounter(v.pm);
        tiv::os::SleepMs(1);
        WriteCounter(v.pm, value + 1);
        m.UnlockTable(slot, ltWrite, false, false, v.locks.get());
      }
      std::cout << "done" << std::endl;
    } else {
      return 2;
    }
    v.sessions->Disconnect(slot);
  } catch (const EABSException& e) {
    std::cout << "error " << e.NativeError() << " " << e.Message() << std::endl;
    return 1;
  }
  return 0;
}

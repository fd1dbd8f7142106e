#include "disk/SessionsFile.h"

#include "os/OsClock.h"

bool TABSActiveSessionsFile::TakeFileLock() {
  for (int attempt = 0; attempt < retry_.Attempts; ++attempt) {
    if (attempt > 0) tiv::os::SleepMs(retry_.DelayMs);
    if (area_.LockFile()) return true;
  }
  return false;
}

int32_t TABSActiveSessionsFile::Connect() {
  const bool fileLocked = TakeFileLock();
  int32_t sessionID = -1;
  try {
    for (int32_t slot = 0; slot < area_.Size() && sessionID < 0; ++slot)
      if (area_.LockByte(slot)) sessionID = slot;
  } catch (...) {
    if (fileLocked) area_.UnlockFile();
    throw;
  }
  if (fileLocked && !area_.UnlockFile()) {
    if (sessionID >= 0) area_.UnlockByte(sessionID);
    throw EABSException(20093, "Cannot unlock sessions file");
  }
  if (sessionID < 0)
    throw EABSException(
        20094, "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
  return sessionID;
}

void TABSActiveSessionsFile::Disconnect(int32_t sessionID) {
  const bool fileLocked = TakeFileLock();
  if (!area_.UnlockByte(sessionID)) {
    if (fileLocked) area_.UnlockFile();
    throw EABSException(20095, "Cannot disconnect session");
  }
  if (fileLocked && !area_.UnlockFile()) throw EABSException(20096, "Cannot unlock sessions file");
}

bool TABSActiveSessionsFile::LockAllSlots() {
  // Without the file lock another process is connecting: the database is
  // in use, so the claim fails like it does for a held slot.
  if (!TakeFileLock()) return false;
  const int32_t count = area_.Size();
  bool claimed = count > 0 && !area_.IsRegionLocked(0, count);
  if (claimed) {
    int32_t taken = 0;
    while (taken < count && area_.LockByte(taken)) ++taken;
    if (taken < count) {
      while (taken > 0) area_.UnlockByte(--taken);
      claimed = false;
    }
  }
  if (!area_.UnlockFile()) {
    if (claimed)
      for (int32_t slot = 0; slot < count; ++slot) area_.UnlockByte(slot);
    throw EABSException(20240, "Cannot unlock sessions file");
  }
  return claimed;
}

void TABSActiveSessionsFile::UnlockAllSlots() {
  const bool fileLocked = TakeFileLock();
  for (int32_t slot = 0; slot < area_.Size(); ++slot) area_.UnlockByte(slot);
  if (fileLocked && !area_.UnlockFile()) throw EABSException(20241, "Cannot unlock sessions file");
}

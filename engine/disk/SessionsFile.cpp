#include "disk/SessionsFile.h"

#include <algorithm>

#include "os/OsClock.h"

bool TABSActiveSessionsFile::TakeFileLock() {
  for (int attempt = 0; attempt < retry_.Attempts; ++attempt) {
    if (attempt > 0) tiv::os::SleepMs(retry_.DelayMs);
    if (area_.LockFile()) return true;
  }
  return false;
}

std::vector<uint8_t> TABSActiveSessionsFile::ReadMarks() {
  std::vector<uint8_t> marks(static_cast<size_t>(std::max(area_.Size(), 0)));
  area_.DirectReadBuffer(marks.data(), static_cast<int32_t>(marks.size()), 0);
  return marks;
}

void TABSActiveSessionsFile::WriteMark(int32_t slot, uint8_t value) { area_.DirectWriteBuffer(&value, 1, slot); }

TABSActiveSessionsFile::Mark& TABSActiveSessionsFile::MarkOf(int32_t slot) {
  if (marks_.size() != static_cast<size_t>(std::max(area_.Size(), 0)))
    marks_.assign(static_cast<size_t>(std::max(area_.Size(), 0)), Mark::kClear);
  return marks_.at(static_cast<size_t>(slot));
}

void TABSActiveSessionsFile::MarkTaking(int32_t slot) {
  if (!sweep_ || slot < 0 || slot >= area_.Size() || MarkOf(slot) != Mark::kClear) return;
  WriteMark(slot, 1);
  MarkOf(slot) = Mark::kOwn;
}

bool TABSActiveSessionsFile::SweepWhenAlone(int32_t slot, bool fileLocked, const std::vector<uint8_t>& marks,
                                            bool ownMarkDead) {
  const int32_t count = area_.Size();
  bool dead = ownMarkDead;
  for (int32_t n = 0; n < count && !dead; ++n)
    dead = n != slot && marks[static_cast<size_t>(n)] != 0 && !area_.IsByteLocked(n);
  if (!dead) return true;
  // Without the file lock a connect may be under way; with another slot
  // held, that connection's uncommitted pages would look dead too.
  if (!fileLocked || area_.IsRegionLocked(0, slot) || area_.IsRegionLocked(slot + 1, count - slot - 1)) return false;
  // Every slot held: a connect that gave up waiting for the file lock
  // finds none free instead of taking pages under the sweep.
  std::vector<int32_t> taken;
  auto release = [&] {
    for (const int32_t n : taken) area_.UnlockByte(n);
  };
  for (int32_t n = 0; n < count; ++n) {
    if (n == slot) continue;
    if (!area_.LockByte(n)) {
      release();
      return false;
    }
    taken.push_back(n);
  }
  try {
    const bool swept = sweep_(slot);
    if (swept) {
      for (int32_t n = 0; n < count; ++n)
        if (marks[static_cast<size_t>(n)] != 0) WriteMark(n, 0);
      // Nothing the caller took is left unreached either: its own mark
      // goes with the others.
      MarkOf(slot) = Mark::kClear;
    }
    release();
    return swept;
  } catch (...) {
    release();
    throw;
  }
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
  if (sessionID >= 0 && sweep_) {
    try {
      const std::vector<uint8_t> marks = ReadMarks();
      const bool ownMarkDead = marks[static_cast<size_t>(sessionID)] != 0;
      MarkOf(sessionID) = ownMarkDead ? Mark::kInherited : Mark::kClear;
      SweepWhenAlone(sessionID, fileLocked, marks, ownMarkDead);
    } catch (...) {
      area_.UnlockByte(sessionID);
      if (fileLocked) area_.UnlockFile();
      throw;
    }
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
  if (sweep_ && sessionID >= 0 && sessionID < area_.Size()) {
    try {
      SweepWhenAlone(sessionID, fileLocked, ReadMarks(), MarkOf(sessionID) == Mark::kInherited);
      // The session's pages went back with its rollback; a dead mark no
      // sweep answered for stays.
      if (MarkOf(sessionID) == Mark::kOwn) WriteMark(sessionID, 0);
      MarkOf(sessionID) = Mark::kClear;
    } catch (...) {
      area_.UnlockByte(sessionID);
      if (fileLocked) area_.UnlockFile();
      throw;
    }
  }
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
  auto unlockAll = [&] {
    for (int32_t slot = 0; slot < count; ++slot) area_.UnlockByte(slot);
  };
  // The claim holds every slot: each set mark is dead (contract 6); slot 0
  // carries the claim's own.
  if (claimed && sweep_) {
    try {
      const std::vector<uint8_t> marks = ReadMarks();
      MarkOf(0) = marks[0] != 0 ? Mark::kInherited : Mark::kClear;
      if (std::any_of(marks.begin(), marks.end(), [](uint8_t m) { return m != 0; }) && sweep_(0)) {
        for (int32_t n = 0; n < count; ++n)
          if (marks[static_cast<size_t>(n)] != 0) WriteMark(n, 0);
        MarkOf(0) = Mark::kClear;
      }
    } catch (...) {
      unlockAll();
      area_.UnlockFile();
      throw;
    }
  }
  if (!area_.UnlockFile()) {
    if (claimed) unlockAll();
    throw EABSException(20240, "Cannot unlock sessions file");
  }
  return claimed;
}

void TABSActiveSessionsFile::UnlockAllSlots() {
  const bool fileLocked = TakeFileLock();
  if (sweep_ && area_.Size() > 0) {
    try {
      if (MarkOf(0) == Mark::kOwn) WriteMark(0, 0);
    } catch (const EABSException&) {
      // The claim goes whatever the mark: a set mark costs one sweep.
    }
    MarkOf(0) = Mark::kClear;
  }
  for (int32_t slot = 0; slot < area_.Size(); ++slot) area_.UnlockByte(slot);
  if (fileLocked && !area_.UnlockFile()) throw EABSException(20241, "Cannot unlock sessions file");
}

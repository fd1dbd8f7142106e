#include "disk/TablePagesCache.h"

#include "core/ZUDExcept.h"

void TABSDTPCTableInfo::ForgetStampIfUnlocked() {
  if (ReadLocks == 0 && WriteLocks == 0) {
    StampKnown = false;
    TableStamp = -1;
  }
}

TABSDTPCTableInfo& TABSDTPCSessionInfo::Table(int32_t tableId) {
  auto [it, added] = tables_.try_emplace(tableId);
  if (added) it->second.TableID = tableId;
  return it->second;
}

TABSDTPCTableInfo* TABSDTPCSessionInfo::FindTable(int32_t tableId) {
  auto it = tables_.find(tableId);
  return it == tables_.end() ? nullptr : &it->second;
}

TABSDTPCSessionInfo& TABSDiskTablePagesCacheManager::Session(int32_t sessionID) {
  if (sessionID < -2) throw EABSException(20186, "Invalid Session ID");
  const size_t index = static_cast<size_t>(sessionID + 2);
  if (sessions_.size() <= index) sessions_.resize(index + 1);
  if (!sessions_[index]) sessions_[index] = std::make_unique<TABSDTPCSessionInfo>();
  return *sessions_[index];
}

void TABSDiskTablePagesCacheManager::AddReadLock(int32_t sessionID, int32_t tableId) {
  Session(sessionID).Table(tableId).ReadLocks += 1;
}

void TABSDiskTablePagesCacheManager::RemoveReadLock(int32_t sessionID, int32_t tableId) {
  TABSDTPCTableInfo& t = Session(sessionID).Table(tableId);
  if (t.ReadLocks > 0) t.ReadLocks -= 1;
  t.ForgetStampIfUnlocked();
}

void TABSDiskTablePagesCacheManager::AddWriteLock(int32_t sessionID, int32_t tableId) {
  Session(sessionID).Table(tableId).WriteLocks += 1;
}

void TABSDiskTablePagesCacheManager::RemoveWriteLock(int32_t sessionID, int32_t tableId) {
  TABSDTPCTableInfo& t = Session(sessionID).Table(tableId);
  if (t.WriteLocks > 0) t.WriteLocks -= 1;
  t.ForgetStampIfUnlocked();
}

bool TABSDiskTablePagesCacheManager::IsStampKnown(int32_t sessionID, int32_t tableId) {
  TABSDTPCTableInfo* t = Session(sessionID).FindTable(tableId);
  return t && t->StampKnown;
}

void TABSDiskTablePagesCacheManager::SetStamp(int32_t sessionID, int32_t tableId, int32_t stamp) {
  TABSDTPCTableInfo& t = Session(sessionID).Table(tableId);
  if (t.StampKnown) return;
  t.StampKnown = true;
  t.TableStamp = stamp;
}

void TABSDiskTablePagesCacheManager::PushCurrentTable(int32_t sessionID, int32_t tableId) {
  Session(sessionID).CurrentTables.push_back(tableId);
}

void TABSDiskTablePagesCacheManager::PopCurrentTable(int32_t sessionID) {
  auto& stack = Session(sessionID).CurrentTables;
  if (!stack.empty()) stack.pop_back();
}

void TABSDiskTablePagesCacheManager::ForgetWriteLocks(int32_t sessionID, int32_t tableId) {
  if (TABSDTPCTableInfo* t = Session(sessionID).FindTable(tableId)) {
    t->WriteLocks = 0;
    t->ForgetStampIfUnlocked();
  }
}

bool TABSDiskTablePagesCacheManager::HoldsWriteLock(int32_t sessionID, int32_t tableId) {
  const TABSDTPCTableInfo* t = Session(sessionID).FindTable(tableId);
  return t && t->WriteLocks > 0;
}

bool TABSDiskTablePagesCacheManager::GetCurrentStamp(int32_t sessionID, int32_t& tableId, int32_t& stamp) {
  TABSDTPCSessionInfo& s = Session(sessionID);
  if (s.CurrentTables.empty()) return false;
  TABSDTPCTableInfo* t = s.FindTable(s.CurrentTables.back());
  if (!t || (t->ReadLocks == 0 && t->WriteLocks == 0) || !t->StampKnown) return false;
  tableId = t->TableID;
  stamp = t->TableStamp;
  return true;
}

#include "disk/LockList.h"

#include <algorithm>
#include <cstdio>

#include "core/ZUDExcept.h"

TABSTableLockList::~TABSTableLockList() {
  if (entries_.empty()) return;
  try {
    CheckEmpty();
  } catch (const EABSException& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void TABSTableLockList::CheckEmpty() const {
  if (!entries_.empty()) throw EABSException(20201, "Some table locks still exist");
}

TABSTableLockEntry* TABSTableLockList::Find(TABSLockKind kind, int32_t table) {
  for (auto& e : entries_)
    if (e.Kind == kind && e.Table == table) return &e;
  return nullptr;
}

TABSTableLockEntry* TABSTableLockList::FindCovering(TABSLockKind kind, int32_t table) {
  for (auto& e : entries_)
    if (e.Table == table && e.Kind != kind && e.OwnsByte && LockCovers(e.Kind, kind)) return &e;
  return nullptr;
}

void TABSTableLockList::Add(const TABSTableLockEntry& entry) { entries_.push_back(entry); }

bool TABSTableLockList::Remove(TABSLockKind kind, int32_t table) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const TABSTableLockEntry& e) { return e.Kind == kind && e.Table == table; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

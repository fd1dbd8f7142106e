#include "disk/TableList.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
#include "disk/DiskBytes.h"
#include "disk/DiskPageManagerFile.h"

using namespace tiv::disk;

void CheckNewTableName(const std::string& databaseName, const std::string& name) {
  if (!IsStorableTableName(name))
    throw EABSException(30450, "Create table '%s.%s' error: '%s'",
                        {databaseName, name, "a table name has at most 255 bytes"});
}

void CheckRenamedTableName(const std::string& name) {
  if (!IsStorableTableName(name))
    throw EABSException(30347, "Restructure table error: '%s'", {"a table name has at most 255 bytes: '" + name + "'"});
}

TABSDatabaseTablesLock::TABSDatabaseTablesLock(TABSDiskPageManager& pm) : pm_(pm) { pm_.LockDatabaseTables(); }

TABSDatabaseTablesLock::~TABSDatabaseTablesLock() {
  try {
    pm_.UnlockDatabaseTables();
  } catch (const std::exception& x) {
    // Reported, never raised: a file that went away released its locks with
    // it.
    std::fprintf(stderr, "tivoran: releasing the database tables lock: %s\n", x.what());
  }
}

TABSTableListFile::TABSTableListFile(TABSDiskPageManager& pm) : pm_(pm), file_(pm, ptTableList) {}

void TABSTableListFile::Create(int32_t sessionID) {
  if (file_.IsOpen()) throw EABSException(30393, "Table list file already opened.");
  file_.Create(sessionID);
  entries_.clear();
}

void TABSTableListFile::Open(int32_t startPageNo) {
  if (file_.IsOpen()) throw EABSException(30393, "Table list file already opened.");
  file_.Open(startPageNo);
  entries_.clear();
}

void TABSTableListFile::Close() {
  file_.Close();
  entries_.clear();
}

void TABSTableListFile::Load(int32_t sessionID) {
  const TABSInternalFileSize s = file_.GetSize(sessionID, true);
  if (s.CompressionAlgorithm != 0 || s.DataSize % kTableListEntrySize != 0)
    throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                        {file_.StartPageNo(), static_cast<int>(ptTableList)});
  const std::string contents = file_.ReadContents(sessionID, true);
  const std::vector<uint8_t> bytes(contents.begin(), contents.end());
  std::vector<TABSTableListEntry> entries;
  entries.reserve(bytes.size() / kTableListEntrySize);
  for (size_t at = 0; at < bytes.size(); at += kTableListEntrySize) {
    const uint8_t* e = bytes.data() + at;
    TABSTableListEntry entry;
    // The length byte can say at most 255, which the 255 name bytes hold.
    entry.TableName.assign(reinterpret_cast<const char*>(e + kTleName + 1), e[kTleName]);
    entry.TableID = GetI32(e + kTleTableID);
    entry.MetadataPageNo = GetI32(e + kTleMetadataPageNo);
    entry.MostUpdatedPageNo = GetI32(e + kTleMostUpdatedPageNo);
    entry.LocksPageNo = GetI32(e + kTleLocksPageNo);
    entries.push_back(std::move(entry));
  }
  entries_ = std::move(entries);
}

void TABSTableListFile::Save(int32_t sessionID) {
  std::vector<uint8_t> bytes(entries_.size() * kTableListEntrySize, 0);
  for (size_t i = 0; i < entries_.size(); ++i) {
    uint8_t* e = bytes.data() + i * kTableListEntrySize;
    const std::string& name = entries_[i].TableName;
    // Contract 1: AddTable and RenameTable let no longer name in.
    if (!IsStorableTableName(name))
      throw std::logic_error("table list entry with a name of " + std::to_string(name.size()) + " bytes");
    e[kTleName] = static_cast<uint8_t>(name.size());
    std::memcpy(e + kTleName + 1, name.data(), name.size());
    PutI32(e + kTleTableID, entries_[i].TableID);
    PutI32(e + kTleMetadataPageNo, entries_[i].MetadataPageNo);
    PutI32(e + kTleMostUpdatedPageNo, entries_[i].MostUpdatedPageNo);
    PutI32(e + kTleLocksPageNo, entries_[i].LocksPageNo);
  }
  file_.WriteFile(sessionID, bytes.data(), 0, 0, static_cast<int32_t>(bytes.size()));
}

int TABSTableListFile::IndexOf(const std::string& name) const {
  // A name the list cannot store is the name of no entry (contract 1).
  if (!IsStorableTableName(name)) return -1;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (SameName(entries_[i].TableName, name)) return static_cast<int>(i);
  return -1;
}

void TABSTableListFile::AddTable(int32_t sessionID, const TABSTableListEntry& entry) {
  CheckNewTableName(pm_.File().FileName(), entry.TableName);
  Load(sessionID);
  if (IndexOf(entry.TableName) >= 0)
    throw EABSException(30395, "Cannot create table. Table '%s' already exists", {entry.TableName});
  entries_.push_back(entry);
  Save(sessionID);
}

void TABSTableListFile::DeleteTable(int32_t sessionID, const std::string& name) {
  Load(sessionID);
  const int i = IndexOf(name);
  if (i < 0) throw EABSException(30397, "Table '%s' not exists.", {name});
  entries_.erase(entries_.begin() + i);
  Save(sessionID);
}

void TABSTableListFile::RenameTable(int32_t sessionID, const std::string& oldName, const std::string& newName) {
  CheckRenamedTableName(newName);
  Load(sessionID);
  const int i = IndexOf(oldName);
  if (i < 0) throw EABSException(30405, "Table '%s' not exists.", {oldName});
  const int clash = IndexOf(newName);
  if (clash >= 0 && clash != i) throw EABSException(30395, "Cannot create table. Table '%s' already exists", {newName});
  entries_[static_cast<size_t>(i)].TableName = newName;
  Save(sessionID);
}

TABSTableListEntry TABSTableListFile::FindTable(int32_t sessionID, const std::string& name) {
  Load(sessionID);
  const int i = IndexOf(name);
  if (i < 0) throw EABSException(30396, "Table '%s' not exists.", {name});
  return entries_[static_cast<size_t>(i)];
}

bool TABSTableListFile::TableExists(int32_t sessionID, const std::string& name) {
  Load(sessionID);
  return IndexOf(name) >= 0;
}

std::vector<std::string> TABSTableListFile::TableNames(int32_t sessionID) {
  Load(sessionID);
  std::vector<std::string> names;
  names.reserve(entries_.size());
  for (const auto& e : entries_) names.push_back(e.TableName);
  return names;
}

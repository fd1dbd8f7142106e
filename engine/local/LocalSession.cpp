#include "local/LocalSession.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
#include "local/Engine.h"

namespace {

std::string NormalPath(const std::string& fileName) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(fileName, ec);
  if (ec) return fileName;
  return p.lexically_normal().string();
}

// The process-wide list (contract 1 of LocalSession.h).
struct DatabaseEntry {
  std::string key;  // normal path + "|" + upper-case database name
  std::string path;
  std::string password;
  std::unique_ptr<TABSDiskDatabaseData> data;
  int sessions = 0;
};

struct DatabaseList {
  std::mutex mutex;
  std::vector<std::unique_ptr<DatabaseEntry>> entries;

  static DatabaseList& Instance() {
    static DatabaseList list;
    return list;
  }
  DatabaseEntry* FindByKey(const std::string& key) {
    for (auto& e : entries)
      if (e->key == key) return e.get();
    return nullptr;
  }
  DatabaseEntry* FindByData(const TABSDatabaseData* data) {
    for (auto& e : entries)
      if (e->data.get() == data) return e.get();
    return nullptr;
  }
  bool PathOpen(const std::string& path) {
    return std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e->path == path; });
  }
  void Remove(DatabaseEntry* entry) {
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.get() == entry; }),
                  entries.end());
  }
};

}  // namespace

TABSLocalSession::~TABSLocalSession() { Disconnect(); }

void TABSLocalSession::Connect(const TABSConnectOptions& options) {
  if (data_) return;
  const std::string upperName = UpperName(options.databaseName);
  if (upperName == "MEMORY" || upperName == "TEMP") {
    multiUser = false;
    data_ = &TABSEngine::AttachSession(upperName == "TEMP", *this);
    options_ = options;
    return;
  }
  DatabaseList& list = DatabaseList::Instance();
  std::lock_guard guard(list.mutex);
  const std::string path = NormalPath(options.fileName);
  const std::string key = path + "|" + UpperName(options.databaseName);
  DatabaseEntry* entry = list.FindByKey(key);
  if (entry) {
    if (entry->password != options.password.Password) throw EABSException(20298, "Database password is invalid.");
  } else {
    auto created = std::make_unique<DatabaseEntry>();
    created->key = key;
    created->path = path;
    created->password = options.password.Password;
    created->data = std::make_unique<TABSDiskDatabaseData>(options.databaseName);
    created->data->Open(path, options.password, options.multiUser, options.exclusive);
    list.entries.push_back(std::move(created));
    entry = list.entries.back().get();
  }
  multiUser = entry->data->MultiUser();
  try {
    entry->data->Connect(*this);
  } catch (...) {
    if (entry->sessions == 0) {
      try {
        entry->data->Close();
      } catch (const std::exception& x) {
        std::fprintf(stderr, "tivoran: closing '%s': %s\n", path.c_str(), x.what());
      }
      list.Remove(entry);
    }
    throw;
  }
  ++entry->sessions;
  options_ = options;
  data_ = entry->data.get();
}

void TABSLocalSession::Disconnect() noexcept {
  if (!data_) return;
  if (TABSMemoryDatabaseData* memory = MemoryData()) {
    memory->DetachSession(*this);
    data_ = nullptr;
    inTransaction = false;
    return;
  }
  DatabaseList& list = DatabaseList::Instance();
  std::lock_guard guard(list.mutex);
  DatabaseEntry* entry = list.FindByData(data_);
  data_ = nullptr;
  inTransaction = false;
  if (!entry) return;
  try {
    entry->data->Disconnect(*this);
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: disconnecting from '%s': %s\n", entry->path.c_str(), x.what());
  }
  if (--entry->sessions > 0) return;
  try {
    entry->data->Close();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: closing '%s': %s\n", entry->path.c_str(), x.what());
  }
  list.Remove(entry);
}

void TABSLocalSession::CreateDatabase(const std::string& fileName, const TABSPassword& password,
                                      int32_t maxConnections) {
  DatabaseList& list = DatabaseList::Instance();
  std::lock_guard guard(list.mutex);
  const std::string path = NormalPath(fileName);
  if (list.PathOpen(path)) throw EABSException(20092, "Cannot create database. Database is already open");
  TABSDiskDatabase().CreateDatabase(path, password, maxConnections);
}

TABSDatabaseData& TABSLocalSession::DatabaseData() {
  if (!data_) throw EABSException(20151, "Pointer is nil");
  return *data_;
}

TABSDiskDatabaseData* TABSLocalSession::DiskData() const { return dynamic_cast<TABSDiskDatabaseData*>(data_); }

TABSDiskDatabaseData& TABSLocalSession::Disk() {
  TABSDiskDatabaseData* disk = DiskData();
  if (!disk) throw EABSException(20151, "Pointer is nil");
  return *disk;
}

TABSMemoryDatabaseData* TABSLocalSession::MemoryData() const { return dynamic_cast<TABSMemoryDatabaseData*>(data_); }

void TABSLocalSession::StartTransaction() {
  // The in-memory and temporary databases have no page transactions for
  // their records.
  if (MemoryData()) throw EABSException(30350, "Not implemented yet");
  TABSDiskDatabaseData* disk = &Disk();
  disk->StartTransaction(*this);
}

void TABSLocalSession::Commit(bool flush) {
  TABSDiskDatabaseData* disk = &Disk();
  disk->Commit(*this, flush);
}

void TABSLocalSession::Rollback() {
  TABSDiskDatabaseData* disk = &Disk();
  disk->Rollback(*this);
}

std::vector<std::string> TABSLocalSession::TableNames() {
  if (TABSMemoryDatabaseData* memory = MemoryData()) return memory->TableNames();
  TABSDiskDatabaseData* disk = &Disk();
  std::vector<std::string> names;
  for (const TABSTableListEntry& e : disk->Tables(*this)) names.push_back(e.TableName);
  return names;
}

bool TABSLocalSession::TableExists(const std::string& tableName) {
  const std::string wanted = UpperName(tableName);
  for (const std::string& name : TableNames())
    if (UpperName(name) == wanted) return true;
  return false;
}

int TABSLocalSession::OpenDatabaseCount() {
  DatabaseList& list = DatabaseList::Instance();
  std::lock_guard guard(list.mutex);
  return static_cast<int>(list.entries.size());
}

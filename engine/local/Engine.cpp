#include "local/Engine.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "core/ZUDExcept.h"
#include "sql/ExprDefaults.h"

namespace {

struct ProcessDatabases {
  std::mutex mutex;
  int starts = 0;
  std::unique_ptr<TABSMemoryDatabaseData> memory;
  std::unique_ptr<TABSTemporaryDatabaseData> temporary;

  static ProcessDatabases& Instance() {
    static ProcessDatabases databases;
    return databases;
  }
};

}  // namespace

void TABSEngine::Start() {
  ProcessDatabases& p = ProcessDatabases::Instance();
  std::lock_guard guard(p.mutex);
  if (p.starts++ > 0) return;
  try {
    p.memory = std::make_unique<TABSMemoryDatabaseData>();
    p.temporary = std::make_unique<TABSTemporaryDatabaseData>();
    InstallExpressionDefaults();
  } catch (...) {
    p.memory.reset();
    p.temporary.reset();
    p.starts = 0;
    throw;
  }
}

void TABSEngine::Shutdown() {
  ProcessDatabases& p = ProcessDatabases::Instance();
  std::lock_guard guard(p.mutex);
  if (p.starts == 0) return;
  if (p.starts == 1 && (!p.memory->UnusedNow() || !p.temporary->UnusedNow()))
    throw std::logic_error("TABSEngine::Shutdown: a session is still connected to MEMORY or TEMP");
  if (--p.starts > 0) return;
  SetDefaultExpressionParser(nullptr);
  p.temporary.reset();
  p.memory.reset();
}

bool TABSEngine::Started() {
  ProcessDatabases& p = ProcessDatabases::Instance();
  std::lock_guard guard(p.mutex);
  return p.starts > 0;
}

TABSMemoryDatabaseData& TABSEngine::AttachSession(bool temporary, TABSSessionInfo& session) {
  ProcessDatabases& p = ProcessDatabases::Instance();
  std::lock_guard guard(p.mutex);
  if (!p.memory) throw EABSException(20007, "Database Engine is not initialized");
  TABSMemoryDatabaseData& database = temporary ? *p.temporary : *p.memory;
  database.AttachSession(session);
  return database;
}

TABSTemporaryDatabaseData& TABSEngine::TemporaryDatabase() {
  ProcessDatabases& p = ProcessDatabases::Instance();
  std::lock_guard guard(p.mutex);
  if (!p.temporary) throw EABSException(20007, "Database Engine is not initialized");
  return *p.temporary;
}

TABSEngineScope::~TABSEngineScope() {
  try {
    TABSEngine::Shutdown();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: engine shutdown: %s\n", x.what());
  }
}

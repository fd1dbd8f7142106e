#include "access/Database.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "access/AccessDialogs.h"
#include "access/DataSet.h"
#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
#include "dataset/DatabaseError.h"

using tiv::dataset::Format;
using tiv::dataset::RaiseFor;

namespace {

constexpr int32_t kPasswordNeeded = 30445;

// Contract 1 of Database.h.
struct SessionList {
  std::recursive_mutex mutex;
  TABSEngineScope engine;
  std::vector<TABSSession*> sessions;
  std::unique_ptr<TABSSession> defaultSession;

  static SessionList& Instance() {
    static SessionList list;
    return list;
  }
  TABSSession* Find(const std::string& name) {
    for (TABSSession* s : sessions)
      if (SameName(s->SessionName(), name)) return s;
    return nullptr;
  }
  ~SessionList() { defaultSession.reset(); }
};

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

// ---- sessions ------------------------------------------------------------------

TABSSession::TABSSession(std::string sessionName, std::string owner) : owner_(std::move(owner)) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (!owner_.empty())
    for (TABSSession* s : list.sessions)
      if (s->autoName_ && s->owner_ == owner_)
        RaiseFor("", Format("Cannot add a session to the form or data-module while session '%s' has "
                            "AutoSessionName enabled",
                            {s->name_}));
  if (!sessionName.empty() && list.Find(sessionName))
    RaiseFor("", Format("Duplicate session name '%s'", {sessionName}));
  name_ = std::move(sessionName);
  list.sessions.push_back(this);
}

void TABSSession::SetAutoSessionName(bool on) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (on == autoName_) return;
  if (on) {
    const auto sameOwner = std::count_if(list.sessions.begin(), list.sessions.end(),
                                         [&](const TABSSession* s) { return s->owner_ == owner_; });
    if (sameOwner > 1)
      RaiseFor("", "Cannot enable AutoSessionName property with more than one session on a form or data-module");
    std::string name;
    for (int n = 1;; ++n) {
      name = Format("%s_%d", {owner_, std::to_string(n)});
      TABSSession* other = list.Find(name);
      if (!other || other == this) break;
    }
    name_ = name;
  }
  autoName_ = on;
}

TABSSession::~TABSSession() {
  Close();
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  // Databases that outlive their session move to the default one; one
  // whose name the default session already has stays without a session
  // (its next use says so) rather than end the program here.
  for (TABSDatabase* d : std::vector<TABSDatabase*>(databases_)) {
    if (d->temporary_ || this == list.defaultSession.get()) continue;
    try {
      d->SetSessionName({});
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: database '%s' left without a session: %s\n", d->databaseName_.c_str(), x.what());
    }
  }
  temporaries_.clear();
  for (TABSDatabase* d : databases_) d->session_ = nullptr;
  list.sessions.erase(std::remove(list.sessions.begin(), list.sessions.end(), this), list.sessions.end());
}

TABSSession& TABSSession::Default() {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (!list.defaultSession) list.defaultSession = std::make_unique<TABSSession>("Default");
  return *list.defaultSession;
}

TABSSession& TABSSession::Named(const std::string& sessionName) {
  if (sessionName.empty()) return Default();
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  Default();
  TABSSession* s = list.Find(sessionName);
  if (!s) RaiseFor("", Format("Invalid session name '%s'", {sessionName}));
  return *s;
}

void TABSSession::SetSessionName(const std::string& name) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (autoName_) RaiseFor("", "Cannot modify SessionName while AutoSessionName is enabled");
  if (SameName(name, name_)) {
    name_ = name;
    return;
  }
  if (list.Find(name)) RaiseFor("", Format("Duplicate session name '%s'", {name}));
  name_ = name;
}

void TABSSession::Open() {
  if (active_) return;
  if (name_.empty()) RaiseFor("", "Session name missing");
  active_ = true;
  if (OnStartup) OnStartup(*this);
}

void TABSSession::Close() noexcept {
  if (!active_) return;
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  for (TABSDatabase* d : std::vector<TABSDatabase*>(databases_)) d->Close();
  temporaries_.clear();
  active_ = false;
}

TABSDatabase* TABSSession::FindDatabase(const std::string& databaseName) const {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  for (TABSDatabase* d : databases_)
    if (SameName(d->DatabaseName(), databaseName)) return d;
  return nullptr;
}

TABSDatabase& TABSSession::OpenDatabase(const std::string& databaseName) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  TABSDatabase* database = FindDatabase(databaseName);
  if (!database) {
    auto made = std::make_unique<TABSDatabase>();
    made->temporary_ = true;
    made->SilentMode = true;
    made->KeepConnection = KeepConnections;
    made->SetSessionName(name_ == "Default" ? std::string() : name_);
    made->SetDatabaseName(databaseName);
    database = made.get();
    temporaries_.push_back(std::move(made));
  }
  try {
    database->Open();
  } catch (...) {
    if (database->temporary_ && database->references_ == 0) {
      temporaries_.erase(
          std::remove_if(temporaries_.begin(), temporaries_.end(), [&](const auto& t) { return t.get() == database; }),
          temporaries_.end());
    }
    throw;
  }
  database->AddReference();
  return *database;
}

void TABSSession::CloseDatabase(TABSDatabase& database) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  database.ReleaseReference();
  if (database.references_ > 0 || database.KeepConnection) return;
  if (database.temporary_) {
    database.Close();
    temporaries_.erase(
        std::remove_if(temporaries_.begin(), temporaries_.end(), [&](const auto& t) { return t.get() == &database; }),
        temporaries_.end());
    return;
  }
  database.Close();
}

void TABSSession::Add(TABSDatabase& database) { databases_.push_back(&database); }

void TABSSession::Remove(TABSDatabase& database) {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), &database), databases_.end());
}

// ---- databases -----------------------------------------------------------------

TABSDatabase::TABSDatabase(std::string name) : Name(std::move(name)) {
  TABSSession& session = TABSSession::Default();
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  session_ = &session;
  session.Add(*this);
}

TABSDatabase::~TABSDatabase() {
  Close();
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (session_) session_->Remove(*this);
}

void TABSDatabase::Fail(const std::string& text) const { RaiseFor(Name, text); }

TABSSession& TABSDatabase::Session() const {
  if (!session_) Fail(Format("Invalid session name '%s'", {sessionName_}));
  return *session_;
}

bool TABSDatabase::IsMemory() const { return SameName(databaseName_, "MEMORY"); }

void TABSDatabase::SetSessionName(const std::string& name) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  TABSSession& target = TABSSession::Named(name);
  if (&target == session_) {
    sessionName_ = name;
    return;
  }
  if (Connected()) Fail("Cannot perform this operation on an open database");
  if (!databaseName_.empty()) {
    TABSDatabase* other = target.FindDatabase(databaseName_);
    if (other && other != this) Fail(Format("Duplicate database name '%s'", {databaseName_}));
  }
  if (session_) session_->Remove(*this);
  session_ = &target;
  target.Add(*this);
  sessionName_ = name;
}

void TABSDatabase::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) return;
  if (Connected()) Fail("Cannot perform this operation on an open database");
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (session_ && !name.empty()) {
    TABSDatabase* other = session_->FindDatabase(name);
    if (other && other != this) {
      if (!other->temporary_ || other->references_ > 0) Fail(Format("Duplicate database name '%s'", {name}));
      TABSSession& session = *session_;
      other->Close();
      session.temporaries_.erase(std::remove_if(session.temporaries_.begin(), session.temporaries_.end(),
                                                [&](const auto& t) { return t.get() == other; }),
                                 session.temporaries_.end());
    }
  }
  databaseName_ = name;
}

void TABSDatabase::SetDatabaseFileName(const std::string& fileName) {
  if (fileName == fileName_) return;
  Close();
  fileName_ = fileName;
}

void TABSDatabase::Open() {
  if (Connected()) return;
  try {
    Connect();
  } catch (...) {
    engine_.reset();
    throw;
  }
}

void TABSDatabase::Connect() {
  if (databaseName_.empty() && !temporary_) Fail("Database name missing");
  Session().Open();
  if (HandleShared) {
    SessionList& list = SessionList::Instance();
    Lock lock(list.mutex);
    for (TABSSession* s : list.sessions)
      for (TABSDatabase* d : s->databases_)
        if (d != this && d->HandleShared && d->Connected() && SameName(d->databaseName_, databaseName_)) {
          engine_ = d->engine_;  // shared: alive while either holds it
          ReadOnly = d->ReadOnly;
          return;
        }
  }
  if (!IsMemory()) {
    std::error_code ec;
    if (!std::filesystem::exists(fileName_, ec)) Fail(Format("Database file '%s' does not exist", {fileName_}));
  }
  for (;;) {
    try {
      ConnectEngine();
      if (!SilentMode && engine_->NeedsRepair() && Repair()) ConnectEngine();
      return;
    } catch (const EABSException& e) {
      if (e.NativeError() != kPasswordNeeded || SilentMode) throw;
      bool retry = false;
      if (OnPassword)
        OnPassword(*this, retry);
      else
        retry = AccessDialogs().AskPassword(*this);
      if (!retry) throw;
    }
  }
}

void TABSDatabase::ConnectEngine() {
  auto session = std::make_shared<TABSLocalSession>();
  TABSConnectOptions options;
  options.databaseName = IsMemory() ? "MEMORY" : databaseName_;
  options.fileName = fileName_;
  options.password.Password = Password;
  options.multiUser = MultiUser;
  options.exclusive = Exclusive;
  session->Connect(options);
  engine_ = std::move(session);
}

std::vector<std::string> TABSDatabase::Rebuild(const char* waitMessage,
                                               const std::function<void(TABSDatabase&)>& before,
                                               const std::function<void(TABSDatabase&, int)>& progress,
                                               const std::function<void(TABSDatabase&)>& after,
                                               const TABSRebuildSettings& settings) {
  std::unique_ptr<TABSWait> wait;
  if (before)
    before(*this);
  else if (!SilentMode)
    wait = AccessDialogs().BeginWait(waitMessage);
  const TABSRepairReport report = RebuildDatabase(fileName_, TABSPassword{Password}, settings, [&](int percent) {
    if (wait) wait->Progress(percent);
    if (progress) progress(*this, percent);
  });
  wait.reset();
  std::vector<std::string> lines;
  if (report.Complete()) {
    std::error_code ec;
    std::filesystem::remove(report.backupFile, ec);
  } else {
    lines = report.Lines();
  }
  if (after) after(*this);
  return lines;
}

bool TABSDatabase::Repair() {
  bool repair = false;
  if (engine_->OldFormat()) {
    // A conversion is not a choice: the file is announced and rebuilt.
    AccessDialogs().ShowInformation(
        "The database file was made by an older version of the engine and will be converted to the current "
        "format. Keep a backup copy of it before you go on.");
    repair = true;
  } else if (OnNeedRepair) {
    OnNeedRepair(*this, repair);
  } else {
    repair = AccessDialogs().Confirm("Database file was not correctly closed last time. Do you want to repair it?");
  }
  if (!repair) return false;
  // The repair opens the file alone: this connection goes first.
  engine_.reset();
  std::vector<std::string> problems;
  try {
    problems = Rebuild("Repairing Database...", BeforeRepair, OnRepairProgress, AfterRepair);
  } catch (const std::exception& e) {
    AccessDialogs().ShowWarning(*e.what() ? e.what() : "Unknown error");
    throw EABSException(20238,
                        "Cannot convert database to the new format. Please contact Tivoran support with this issue");
  }
  if (!problems.empty()) {
    std::string text;
    for (const std::string& line : problems) text += line + "\n";
    AccessDialogs().ShowWarning(text);
  }
  return true;
}

std::vector<std::string> TABSDatabase::RepairDatabase() {
  if (Connected()) Fail("Cannot perform this operation on an open database");
  return Rebuild("Repairing Database...", BeforeRepair, OnRepairProgress, AfterRepair);
}

std::vector<std::string> TABSDatabase::CompactDatabase() {
  if (Connected()) Fail("Cannot perform this operation on an open database");
  return Rebuild("Compacting Database...", BeforeCompact, OnCompactProgress, AfterCompact);
}

std::vector<std::string> TABSDatabase::ChangePassword(const std::string& newPassword) {
  if (Connected()) Fail("Cannot perform this operation on an open database");
  TABSRebuildSettings settings;
  settings.password = TABSPassword{newPassword};
  std::vector<std::string> problems =
      Rebuild("Changing Password...", BeforeChangePassword, OnChangePasswordProgress, AfterChangePassword, settings);
  Password = newPassword;
  return problems;
}

std::vector<std::string> TABSDatabase::ChangeDatabaseSettings(int32_t maxConnections, uint16_t pageCountInExtent,
                                                              uint16_t pageSize) {
  if (Connected()) Fail("Cannot perform this operation on an open database");
  TABSRebuildSettings settings;
  settings.maxConnections = maxConnections;
  settings.pageCountInExtent = pageCountInExtent;
  settings.pageSize = pageSize;
  std::vector<std::string> problems = Rebuild("Changing Database Settings...", BeforeChangeDatabaseSettings,
                                              OnChangeDatabaseSettingsProgress, AfterChangeDatabaseSettings, settings);
  MaxConnections = maxConnections;
  return problems;
}

void TABSDatabase::Close() noexcept {
  if (!engine_) return;
  for (TABSDataSet* d : std::vector<TABSDataSet*>(dataSets_)) {
    try {
      d->Close();
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: closing a dataset of '%s': %s\n", databaseName_.c_str(), x.what());
    }
  }
  engine_.reset();  // the engine session ends with its last holder
}

void TABSDatabase::Register(TABSDataSet& dataSet) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  if (std::find(dataSets_.begin(), dataSets_.end(), &dataSet) == dataSets_.end()) dataSets_.push_back(&dataSet);
}

void TABSDatabase::Unregister(TABSDataSet& dataSet) {
  SessionList& list = SessionList::Instance();
  Lock lock(list.mutex);
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), &dataSet), dataSets_.end());
}

void TABSDatabase::ReleaseReference() {
  if (references_ > 0) --references_;
}

TABSLocalSession& TABSDatabase::EngineSession() {
  if (!engine_) Fail("Database is not connected");
  return *engine_;
}

void TABSDatabase::CreateDatabase() {
  if (Connected()) Fail("Cannot perform this operation on an open database");
  TABSLocalSession::CreateDatabase(fileName_, TABSPassword{Password}, MaxConnections);
}

void TABSDatabase::DeleteDatabase() {
  if (Connected()) Fail("Cannot perform this operation on an open database");
  std::error_code ec;
  if (!std::filesystem::remove(fileName_, ec) || ec) Fail(Format("Cannot delete database file '%s'", {fileName_}));
}

bool TABSDatabase::TableExists(const std::string& tableName) {
  const bool wasConnected = Connected();
  Open();
  try {
    const bool exists = EngineSession().TableExists(tableName);
    if (!wasConnected && !KeepConnection) Close();
    return exists;
  } catch (...) {
    if (!wasConnected && !KeepConnection) Close();
    throw;
  }
}

void TABSDatabase::StartTransaction() {
  if (InTransaction()) Fail("Database is already within a transaction");
  EngineSession().StartTransaction();
}

void TABSDatabase::Commit() { EngineSession().Commit(); }
void TABSDatabase::Rollback() { EngineSession().Rollback(); }
bool TABSDatabase::InTransaction() const { return engine_ && engine_->InTransaction(); }

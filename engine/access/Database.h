// Database: TABSDatabase and TABSSession, the components that stand for
// connections. A database component gives a database a name, binds it to a
// database file (or to the process's in-memory database "MEMORY") and
// holds the engine session for it; a session component groups database
// components under a session name. Datasets find their database by name
// through their session (TABSSession::OpenDatabase).
//
// Contract
//  1. The process-wide session list is created on first use with the
//     session "Default" (and starts the engine: MEMORY and TEMP exist from
//     then on); a component whose session name is empty belongs to
//     "Default". Session names are unique ("Duplicate session name '%s'");
//     a name that no session has is refused ("Invalid session name '%s'").
//  2. Database names are unique within a session ("Duplicate database name
//     '%s'"), unless the other is a temporary database nobody uses, which
//     then goes. Names compare without regard to case.
//  3. OpenDatabase(name): the session's database of that name, or a
//     temporary one made for it (silent, KeepConnection from the session);
//     connected if it is not; its reference count raised. CloseDatabase
//     lowers it; at 0, unless KeepConnection, a temporary database is
//     destroyed and another one disconnected.
//  4. Connecting: a name is needed ("Database name missing"); with
//     HandleShared on both, a connected database of the same name in any
//     session lends its engine session, which stays alive as long as
//     either uses it; a file that does not exist is refused ("Database file
//     '%s' does not exist"), a file is never created by connecting; a
//     wrong or missing password (native 30445) is asked for through
//     OnPassword, not at all in SilentMode, else through the password
//     dialog, and the connection retried while the answer is to go on;
//     ReadOnly afterwards is what the engine granted. Every failure leaves
//     the database disconnected. "MEMORY" (any case) needs no file.
//  5. Disconnecting closes every registered dataset first (each releasing
//     its reference), then lets go of the engine session.
//  6. Changing DatabaseName on a connected database is refused ("Cannot
//     perform this operation on an open database"); changing
//     DatabaseFileName disconnects first.
//  7. Errors of the components read "<Name>: <text>" (just the text when
//     the component has no name) and are EDatabaseError; the engine's
//     EABSException passes unchanged.
//  8. A file the engine finds in need of a repair (a commit that died
//     half-way with nothing to undo it) is repaired on connect unless
//     SilentMode: OnNeedRepair decides, else a Yes/No box asks "Database
//     file was not correctly closed last time. Do you want to repair it?".
//     The repair (disk/DatabaseRepair.h) never loses the file: the rebuilt
//     copy takes the name only when it is complete and flushed, the
//     original stays as the backup "<file>.bak"; a copy that met problems
//     is reported in a warning that names the backup, which is kept, and a
//     complete one lets the backup go. A repair that cannot run (another
//     connection has the file open, the copy fails) leaves the file as it
//     was, shows the reason and raises 20238. BeforeRepair, OnRepairProgress
//     and AfterRepair are told; without BeforeRepair and SilentMode the wait
//     dialog shows "Repairing Database...". Declined, the connection goes
//     on with the file as it is. A file of an older format is announced in
//     an information box (keep a backup) and converted the same way,
//     without a choice.
//  9. RepairDatabase, CompactDatabase, ChangePassword and
//     ChangeDatabaseSettings rebuild the file of a disconnected database
//     the same way (a compact is a rebuild of a sound file: the new file
//     holds only the pages in use; a new password or new settings are the
//     new file's), with their Before, progress and After events, else the
//     wait dialog; the engine's errors pass and leave the file as it was.
//  10. AutoSessionName names a session after its owner: "<owner>_<n>"
//     with the smallest n that no session has; the name cannot then be set
//     by hand ("Cannot modify SessionName while AutoSessionName is
//     enabled"). It is refused when the owner holds more than one session
//     ("Cannot enable AutoSessionName property with more than one session
//     on a form or data-module"), and while an owner's session has it, a
//     second session of that owner is refused ("Cannot add a session to
//     the form or data-module while session '%s' has AutoSessionName
//     enabled").
//
// Thread use: the GUI thread; the session list and the registrations are
// guarded by one process-wide lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/DatabaseRepair.h"
#include "local/ZUDLocalEngine.h"

class TABSDataSet;
class TABSSession;

class TABSDatabase {
 public:
  static constexpr const char* kCurrentVersion = "6.09 ";

  explicit TABSDatabase(std::string name = {});
  ~TABSDatabase();
  TABSDatabase(const TABSDatabase&) = delete;
  TABSDatabase& operator=(const TABSDatabase&) = delete;

  std::string Name;  // the component's name, in its errors
  bool Exclusive = false;
  bool ReadOnly = false;
  bool HandleShared = false;
  bool KeepConnection = true;
  bool MultiUser = false;
  bool SilentMode = false;
  bool DisableTempFiles = false;
  int32_t MaxConnections = 500;
  std::string Password;
  // Contract 4: set `retry` to connect again with the new Password.
  std::function<void(TABSDatabase&, bool& retry)> OnPassword;
  // Contract 8.
  std::function<void(TABSDatabase&, bool& repair)> OnNeedRepair;
  std::function<void(TABSDatabase&)> BeforeRepair, AfterRepair;
  std::function<void(TABSDatabase&, int percent)> OnRepairProgress;

  bool Connected() const { return engine_ != nullptr; }
  void SetConnected(bool connected) { connected ? Open() : Close(); }
  void Open();
  void Close() noexcept;
  const std::string& DatabaseFileName() const { return fileName_; }
  void SetDatabaseFileName(const std::string& fileName);
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name);
  TABSSession& Session() const;
  bool IsTemporary() const { return temporary_; }
  bool IsMemory() const;
  int ReferenceCount() const { return references_; }

  // Contract 9: the file rebuilt table by table on a disconnected
  // database; the report's lines (empty when the copy was complete).
  std::vector<std::string> RepairDatabase();
  std::vector<std::string> CompactDatabase();
  // The file rebuilt under a new password (empty: a plain file); Password
  // becomes it.
  std::vector<std::string> ChangePassword(const std::string& newPassword);
  // The file rebuilt with new connection slots, extent or page size.
  std::vector<std::string> ChangeDatabaseSettings(int32_t maxConnections, uint16_t pageCountInExtent,
                                                  uint16_t pageSize);
  std::function<void(TABSDatabase&)> BeforeChangePassword, AfterChangePassword, BeforeChangeDatabaseSettings,
      AfterChangeDatabaseSettings;
  std::function<void(TABSDatabase&, int percent)> OnChangePasswordProgress, OnChangeDatabaseSettingsProgress;
  std::function<void(TABSDatabase&)> BeforeCompact, AfterCompact;
  std::function<void(TABSDatabase&, int percent)> OnCompactProgress;
  // A new database file ("Cannot perform this operation on an open
  // database" while connected).
  void CreateDatabase();
  void DeleteDatabase();
  // Connects when needed and asks the engine; the engine's errors pass
  // (an answer it could not give is never "no").
  bool TableExists(const std::string& tableName);
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;
  // The engine session of a connected database (contract 4).
  TABSLocalSession& EngineSession();

 private:
  friend class TABSSession;
  friend class TABSDataSet;
  [[noreturn]] void Fail(const std::string& text) const;
  void Connect();
  void ConnectEngine();
  // Contract 8; true when the file was rebuilt.
  bool Repair();
  // Contract 9's rebuild, with its events and wait dialog.
  std::vector<std::string> Rebuild(const char* waitMessage, const std::function<void(TABSDatabase&)>& before,
                                   const std::function<void(TABSDatabase&, int)>& progress,
                                   const std::function<void(TABSDatabase&)>& after,
                                   const TABSRebuildSettings& settings = {});
  void Register(TABSDataSet& dataSet);
  void Unregister(TABSDataSet& dataSet);
  void AddReference() { ++references_; }
  void ReleaseReference();

  std::string fileName_, databaseName_, sessionName_;
  std::shared_ptr<TABSLocalSession> engine_;
  std::vector<TABSDataSet*> dataSets_;
  int references_ = 0;
  bool temporary_ = false;
  TABSSession* session_ = nullptr;
};

class TABSSession {
 public:
  // `owner`: the name of the window or module the session belongs to
  // (contract 10), empty for none.
  explicit TABSSession(std::string sessionName = {}, std::string owner = {});
  ~TABSSession();
  TABSSession(const TABSSession&) = delete;
  TABSSession& operator=(const TABSSession&) = delete;

  bool KeepConnections = true;
  std::function<void(TABSSession&)> OnStartup;

  const std::string& SessionName() const { return name_; }
  void SetSessionName(const std::string& name);
  const std::string& Owner() const { return owner_; }
  // Contract 10.
  bool AutoSessionName() const { return autoName_; }
  void SetAutoSessionName(bool on);
  bool Active() const { return active_; }
  void SetActive(bool active) { active ? Open() : Close(); }
  void Open();
  // Destroys the temporary databases and disconnects the others.
  void Close() noexcept;

  TABSDatabase* FindDatabase(const std::string& databaseName) const;
  // Contract 3.
  TABSDatabase& OpenDatabase(const std::string& databaseName);
  void CloseDatabase(TABSDatabase& database);

  // Contract 1.
  static TABSSession& Default();
  static TABSSession& Named(const std::string& sessionName);

 private:
  friend class TABSDatabase;
  void Add(TABSDatabase& database);
  void Remove(TABSDatabase& database);

  std::string name_, owner_;
  bool autoName_ = false;
  bool active_ = false;
  std::vector<TABSDatabase*> databases_;
  std::vector<std::unique_ptr<TABSDatabase>> temporaries_;
};

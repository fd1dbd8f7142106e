#include "disk/DiskDatabase.h"

#include <cstdio>
#include <stdexcept>

#include "core/ZUDExcept.h"

using namespace tiv::disk;

namespace {
constexpr int32_t kSystem = TABSPageManager::kSystemSession;
}

TABSDiskDatabase::TABSDiskDatabase(tiv::os::FileSystem& fs) : fs_(fs) {}

TABSDiskDatabase::~TABSDiskDatabase() {
  try {
    CloseDatabase();
  } catch (const std::exception& x) {
    // Reported, never raised; the file's handle and its locks are gone
    // either way.
    std::fprintf(stderr, "tivoran: closing a database file: %s\n", x.what());
  }
}

void TABSDiskDatabase::MakeParts() {
  pm_ = std::make_unique<TABSDiskPageManager>(fs_);
  directory_ = std::make_unique<TABSSystemDirectory>(*pm_);
  sessions_ = std::make_unique<TABSInternalDBDirectAccessFile>(*pm_, ptActiveSessionList);
  tableList_ = std::make_unique<TABSTableListFile>(*pm_);
}

void TABSDiskDatabase::DropParts() {
  tableList_.reset();
  sessions_.reset();
  directory_.reset();
  if (pm_) {
    // Whatever a failed step left in the system session is forgotten; the
    // pages it allocated go back to the map while the file is still open.
    if (pm_->IsOpened()) {
      try {
        pm_->RollbackSession(kSystem);
      } catch (const EABSException&) {
        // A file that went away keeps nothing of the session anyway.
      }
    }
    pm_->CloseDatabaseFile();
  }
  pm_.reset();
  open_ = false;
}

void TABSDiskDatabase::CloseDatabase() { DropParts(); }

void TABSDiskDatabase::CreateDatabase(const std::string& fileName, const TABSPassword& password, int32_t maxConnections,
                                      uint16_t pageCountInExtent, uint16_t pageSize) {
  if (maxConnections < 1) throw std::invalid_argument("A database needs at least one connection slot");
  if (open_) throw EABSException(10461, "Error - database file %s is in use.", {fileName});
  MakeParts();
  try {
    pm_->CreateDatabaseFile(fileName, password, pageCountInExtent, pageSize);
  } catch (...) {
    DropParts();  // the file-level create removed its own half-made file
    throw;
  }
  try {
    directory_->Create();
    sessions_->Create(maxConnections);
    directory_->Set(sfkActiveSessions, sessions_->StartPageNo());
    tableList_->Create(kSystem);
    tableList_->Save(kSystem);
    directory_->Set(sfkTableList, tableList_->StartPageNo());
    directory_->Write(kSystem);
    pm_->CommitSession(kSystem, true);
  } catch (...) {
    DropParts();
    fs_.Remove(fileName);
    throw;
  }
  DropParts();
}

void TABSDiskDatabase::OpenDatabase(const std::string& fileName, const TABSPassword& password, bool& multiUser,
                                    bool exclusive, bool& needRepair, bool& readOnly) {
  if (open_) throw EABSException(10462, "Error - database file %s is in use.", {fileName});
  MakeParts();
  try {
    pm_->OpenDatabaseFile(fileName, password, multiUser, exclusive, needRepair, readOnly);
    // Pages 0..2 (the map and the system directory) are in use in every
    // database; a header that says otherwise would have the next growth
    // hand them out again over the map and the directory.
    if (pm_->Header().LastUsedPageNo < kSystemDirectoryPageNo) throw EABSException(20237, "Invalid database format");
    directory_->Open();
    directory_->Read(kSystem);
    const int32_t sessionsPage = directory_->Find(sfkActiveSessions);
    const int32_t listPage = directory_->Find(sfkTableList);
    if (sessionsPage == -1 || listPage == -1)
      throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                          {kSystemDirectoryPageNo, static_cast<int>(ptFileSystemDirectory)});
    sessions_->Open(sessionsPage);
    if (sessions_->Size() < 1)
      throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                          {sessionsPage, static_cast<int>(ptActiveSessionList)});
    maxConnections_ = sessions_->Size();
    tableList_->Open(listPage);
    {
      TABSDatabaseTablesLock lock(*pm_);
      tableList_->Load(kSystem);
    }
  } catch (...) {
    DropParts();
    throw;
  }
  open_ = true;
}

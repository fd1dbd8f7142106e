#include "disk/DiskPageManagerFile.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/ZUDSecurity.h"
#include "os/OsClock.h"
#include "os/OsRandom.h"

using namespace tiv::disk;
namespace os = tiv::os;

// ---------------------------------------------------------------------------
// Fixed blocks

TABSDatabaseHeader::TABSDatabaseHeader() { std::memcpy(Signature.data(), kSignature, kSignatureSize); }

void TABSDatabaseHeader::Encode(uint8_t* out) const {
  std::memset(out, 0, kHeaderSize);
  std::memcpy(out + kHdrSignature, Signature.data(), kSignatureSize);
  PutU16(out + kHdrHeaderSize, HeaderSize);
  PutF64(out + kHdrVersion, Version);
  PutU16(out + kHdrPageSize, PageSize);
  PutU16(out + kHdrPageCountInExtent, PageCountInExtent);
  PutI32(out + kHdrTotalPageCount, TotalPageCount);
  PutI32(out + kHdrLastUsedPageNo, LastUsedPageNo);
  PutI32(out + kHdrCommitCounter, CommitCounter);
  out[kHdrState] = State;
  out[kHdrEncrypted] = Encrypted;
}

void TABSDatabaseHeader::Decode(const uint8_t* in) {
  std::memcpy(Signature.data(), in + kHdrSignature, kSignatureSize);
  HeaderSize = GetU16(in + kHdrHeaderSize);
  Version = GetF64(in + kHdrVersion);
  PageSize = GetU16(in + kHdrPageSize);
  PageCountInExtent = GetU16(in + kHdrPageCountInExtent);
  TotalPageCount = GetI32(in + kHdrTotalPageCount);
  LastUsedPageNo = GetI32(in + kHdrLastUsedPageNo);
  CommitCounter = GetI32(in + kHdrCommitCounter);
  State = in[kHdrState];
  Encrypted = in[kHdrEncrypted];
}

std::string TABSDatabaseHeader::SignatureText() const {
  // Shown in messages: bytes that are not printable ASCII become '?', so a
  // binary file cannot put control characters on the user's terminal.
  std::string text;
  for (uint8_t b : Signature) text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
  return text;
}

std::vector<std::string> TABSDatabaseHeader::PageFigureFaults(int64_t pageAreaOffset, int64_t fileSize,
                                                              bool database) const {
  std::vector<std::string> faults;
  const std::string total = std::to_string(TotalPageCount), last = std::to_string(LastUsedPageNo);
  if (TotalPageCount < 0) faults.push_back("TotalPageCount " + total + " is negative");
  if (LastUsedPageNo < -1)
    faults.push_back("LastUsedPageNo " + last + " is below -1");
  else if (LastUsedPageNo >= TotalPageCount)
    faults.push_back("LastUsedPageNo " + last + " is not below TotalPageCount " + total);
  if (database && LastUsedPageNo < kSystemDirectoryPageNo)
    faults.push_back("LastUsedPageNo " + last + " is below 2: the system directory at page 2 is in use");
  const int64_t end = pageAreaOffset + int64_t{std::max(TotalPageCount, 0)} * PageSize;
  if (end > fileSize)
    faults.push_back("the page area of " + total + " pages ends at byte " + std::to_string(end) +
                     ", past the end of the file (" + std::to_string(fileSize) + " bytes)");
  return faults;
}

void TABSCryptoCheckBlock::Encode(uint8_t* out) const {
  std::memset(out, 0, kCheckBlockSize);
  PutI16(out + kChkBlockSize, CheckBlockSize);
  out[kChkCryptoAlgorithm] = CryptoAlgorithm;
  std::memcpy(out + kChkCheckData, CheckData.data(), kCheckDataSize);
  PutU32(out + kChkCheckCRC, CheckCRC);
}

void TABSCryptoCheckBlock::Decode(const uint8_t* in) {
  CheckBlockSize = GetI16(in + kChkBlockSize);
  CryptoAlgorithm = in[kChkCryptoAlgorithm];
  std::memcpy(CheckData.data(), in + kChkCheckData, kCheckDataSize);
  CheckCRC = GetU32(in + kChkCheckCRC);
}

// ---------------------------------------------------------------------------
// Life cycle

class TABSDiskPageManager::Access {
 public:
  explicit Access(TABSDiskPageManager& m) : file_(m.file_) { file_.BeginAccess(); }
  ~Access() { file_.EndAccess(); }
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;

 private:
  TABSDatabaseFile& file_;
};

TABSDiskPageManager::TABSDiskPageManager(os::FileSystem& fs) : file_(fs) {}

TABSDiskPageManager::~TABSDiskPageManager() {
  try {
    CloseDatabaseFile();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: closing a database file: %s\n", x.what());
  }
}

void TABSDiskPageManager::ResetToDefaults() {
  header_ = TABSDatabaseHeader();
  checkBlock_ = TABSCryptoCheckBlock();
  lockArea_.fill(0);
  lockAreaSize_ = kLockAreaSize;
  SetOffsets(0, kHeaderSize);
  nextObjectIdOffset_ = kNewNextObjectIdOffset;
  pageAreaOffset_ = kNewPageAreaOffset;
  headerLockCount_ = 0;
  SetPageSize(kDefaultPageSize);
}

void TABSDiskPageManager::SetOffsets(int64_t start, uint16_t headerSize) {
  databaseStart_ = start;
  checkBlockOffset_ = start + headerSize;
  lockAreaOffset_ = checkBlockOffset_ + kCheckBlockSize;
  nextObjectIdOffset_ = lockAreaOffset_ + lockAreaSize_;
  pageAreaOffset_ = nextObjectIdOffset_ + kNextObjectIdSize;
}

void TABSDiskPageManager::SetPageSize(uint16_t pageSize) { SetPageGeometry(pageSize, kPageHeaderSize); }

TABSCheckBlockCipher& TABSDiskPageManager::Cipher() {
  // The engine's ciphers unless a test installed its own; stateless, so
  // one serves every manager.
  static TABSSecurityCipher engineCipher;
  return cipher_ ? *cipher_ : engineCipher;
}

void TABSDiskPageManager::CloseDatabaseFile() {
  if (file_.IsOpen()) {
    try {
      file_.CloseFile();
    } catch (const EABSException&) {
      // A close that fails still leaves the file closed.
    }
  }
  opened_ = false;
  headerLockCount_ = 0;
  freeSpace_.reset();
  // Clean pages of this file must not be served for the next one; pinned
  // pages stay with their holders until PutPage.
  while (TABSPage* oldest = cache_.FindOldest()) cache_.Delete(oldest->PageNo);
}

void TABSDiskPageManager::CreateDatabaseFile(const std::string& fileName, const TABSPassword& password,
                                             uint16_t pageCountInExtent, uint16_t pageSize) {
  if (opened_) throw EABSException(10461, "Error - database file %s is in use.", {fileName});
  if (pageSize < kMinPageSize)
    throw EABSException(30449, "Create database error: '%s'",
                        {"page size " + std::to_string(pageSize) + " is below " + std::to_string(kMinPageSize)});
  if (pageCountInExtent == 0)
    throw EABSException(30449, "Create database error: '%s'", {"an extent must hold at least one page"});
  const bool encrypted = !password.Password.empty();
  // Typed text that lost characters to '?' would make a key that other text
  // shares (DiskCrypto.h contract 1); refused before any file exists.
  if (password.Unmappable) throw EABSException(20298, "Database password is invalid.");
  if (encrypted) Cipher();
  ResetToDefaults();
  password_ = password;
  SetPageSize(pageSize);
  file_.CreateFile(fileName);
  opened_ = true;
  multiUser_ = false;
  exclusive_ = true;
  readOnly_ = false;
  try {
    header_.PageSize = pageSize;
    header_.PageCountInExtent = pageCountInExtent;
    header_.Encrypted = encrypted ? kEncryptedYes : kEncryptedNo;
    if (encrypted) {
      checkBlock_.CryptoAlgorithm = password.CryptoAlgorithm;
      for (auto& b : checkBlock_.CheckData) b = static_cast<uint8_t>(os::RandomBelow(256));
      checkBlock_.CheckCRC = Crc32(checkBlock_.CheckData.data(), kCheckDataSize);
      Cipher().Encipher(checkBlock_.CheckData.data(), kCheckDataSize, password_, checkBlock_.CryptoAlgorithm);
    }
    WriteHeader(true);
    WriteCryptoCheckBlock();
    WriteLockArea();
    // The file was created exclusively; the lock byte keeps the protocol.
    const bool locked = LockNextObjectID();
    uint8_t zero[kNextObjectIdSize] = {};
    const bool written = file_.WriteBuffer(zero, nextObjectIdOffset_, kNextObjectIdSize);
    if (locked) UnlockNextObjectID();
    if (!written)
      throw EABSException(30406,
                          "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                          "ErrorCode:%d. ErrorMessage: %s",
                          file_.FailureArgs());
    freeSpace_ = std::make_unique<TABSDatabaseFreeSpaceManager>(*this);
  } catch (...) {
    // A half-written database is no database: take it away again.
    CloseDatabaseFile();
    file_.FileSystem().Remove(fileName);
    throw;
  }
}

bool TABSDiskPageManager::ProbeReadOnly(const std::string& fileName, bool multiUser, bool& clearMultiUser) {
  os::FileSystem& fs = file_.FileSystem();
  os::FileInfo info;
  if (fs.Stat(fileName, info).ok() && info.readOnly) {
    clearMultiUser = true;
    return true;
  }
  // Single-user: deny reading to others, so that any other open of the file
  // (which always reads) makes this one read-only.
  os::OpenOptions o;
  o.access = os::kAccessRead | os::kAccessWrite;
  o.share = multiUser ? (os::kShareRead | os::kShareWrite) : os::kShareWrite;
  // Whether the open for writing is granted is the whole answer: nothing is
  // read or written, so opening never changes a byte (and byte 0 of a
  // database that follows other data is not the database's).
  std::unique_ptr<os::FileHandle> h;
  if (!fs.Open(fileName, o, h).ok()) return true;
  h->Close();
  return false;
}

void TABSDiskPageManager::OpenDatabaseFile(const std::string& fileName, const TABSPassword& password, bool& multiUser,
                                           bool exclusive, bool& needRepair, bool& readOnly) {
  if (opened_) throw EABSException(10462, "Error - database file %s is in use.", {fileName});
  needRepair = false;
  os::FileInfo info;
  if (!readOnly && file_.FileSystem().Stat(fileName, info).ok() && info.exists) {
    bool clearMultiUser = false;
    if (ProbeReadOnly(fileName, multiUser, clearMultiUser)) {
      readOnly = true;
      if (clearMultiUser) multiUser = false;
    }
  }
  ResetToDefaults();
  password_ = password;
  multiUser_ = multiUser;
  exclusive_ = exclusive;
  readOnly_ = readOnly;
  uint8_t accessMode = 1, shareMode = 1;
  if (readOnly) {
    accessMode = 0;
  } else if (exclusive) {
    shareMode = 0;
    multiUser_ = false;
  }
  file_.OpenFile(fileName, accessMode, shareMode);
  opened_ = true;
  try {
    if (IsDesignMode()) file_.CloseFile();
    OpenChecked(fileName, password, needRepair);
  } catch (...) {
    CloseDatabaseFile();
    throw;
  }
}

void TABSDiskPageManager::OpenChecked(const std::string& fileName, const TABSPassword& password, bool& needRepair) {
  Access access(*this);
  // The database start and the header's size are fixed once written, so
  // they are found before the header lock, which lives at S + 360.
  SetOffsets(file_.FindSignature(), kHeaderSize);
  // Held from the header read to the check of the page area against the
  // file's size: another process's release writes a smaller page count and
  // only then cuts the file (TruncateFile), so the two are read as one.
  if (!LockHeader()) throw EABSException(20230, "Database is locked");
  if (multiUser_ && file_.LockingUnsupported()) {
    // Every lock would "succeed" for every process at once: two of them
    // would commit under the same header lock.
    UnlockHeader();
    const os::Status& s = file_.UnsupportedLockStatus();
    throw EABSException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                        {fileName, s.error,
                         s.text + " - byte-range locks are not supported by this file system, and a multi-user "
                                  "open needs them; open the database single-user"});
  }
  try {
    OpenLocked(password, needRepair);
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();
}

void TABSDiskPageManager::OpenLocked(const TABSPassword& password, bool& needRepair) {
  uint8_t buf[kHeaderSize] = {};
  const bool readOk = file_.ReadBuffer(buf, databaseStart_, kHeaderSize);
  header_.Decode(buf);
  if (std::memcmp(header_.Signature.data(), kSignature, kSignatureSize) != 0)
    throw EABSException(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                        {header_.SignatureText(), kSignature});
  if (!readOk)
    throw EABSException(10464,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
  seenCommitCounter_ = header_.CommitCounter;
  needRepair = header_.State != kStateConsistent || header_.Version < kOldFormatBelow;
  // Sizes that no database of ours has: refuse before anything trusts them.
  if (header_.HeaderSize != kHeaderSize || header_.PageSize < kMinPageSize || header_.PageCountInExtent == 0 ||
      header_.TotalPageCount < 0 || header_.LastUsedPageNo < -1 ||
      (header_.Encrypted != kEncryptedNo && header_.Encrypted != kEncryptedYes))
    throw EABSException(20237, "Invalid database format");
  SetPageSize(header_.PageSize);
  ReadCryptoCheckBlock();
  if (header_.Encrypted == kEncryptedYes) {
    auto plain = checkBlock_.CheckData;
    Cipher().Decipher(plain.data(), kCheckDataSize, password, checkBlock_.CryptoAlgorithm);
    if (password.Unmappable || Crc32(plain.data(), kCheckDataSize) != checkBlock_.CheckCRC)
      throw EABSException(30445, "Cannot open database - incorrect password");
  }
  if (checkBlockOffset_ + checkBlock_.CheckBlockSize != lockAreaOffset_)
    throw EABSException(20237, "Invalid database format");
  ReadLockArea();
  if (lockAreaSize_ < kMinLockAreaSize) throw EABSException(20237, "Invalid database format");
  nextObjectIdOffset_ = lockAreaOffset_ + lockAreaSize_;
  pageAreaOffset_ = nextObjectIdOffset_ + kNextObjectIdSize;
  // LastUsedPageNo inside the page area (so that every sum of it with a page
  // count stays far from overflow), and no page counted that the file does
  // not hold: growing from such a count would start past the end. A longer
  // file is a growth cut short and is fine: the next growth sets its size
  // from the count.
  if (!header_.PageFigureFaults(pageAreaOffset_, file_.GetSize(), false).empty())
    throw EABSException(20237, "Invalid database format");
  freeSpace_ = std::make_unique<TABSDatabaseFreeSpaceManager>(*this);
  try {
    // A commit that died half-way is undone before any page is read (the
    // commit path's Recovery); a stale or torn journal goes unread.
    if (RecoverDeadCommit()) {
      seenCommitCounter_ = header_.CommitCounter;
      needRepair = header_.State != kStateConsistent || header_.Version < kOldFormatBelow;
    }
    // The check block passes a wrong password with probability 2^-32: the
    // system directory's page must decipher to its DataCRC as well.
    if (header_.Encrypted == kEncryptedYes && header_.TotalPageCount > kSystemDirectoryPageNo &&
        !PageDeciphersWith(*this, Cipher(), password, kSystemDirectoryPageNo))
      throw EABSException(30445, "Cannot open database - incorrect password");
  } catch (...) {
    freeSpace_.reset();
    throw;
  }
}

// ---------------------------------------------------------------------------
// Fixed blocks on disk

void TABSDiskPageManager::ReadHeader() {
  if (!opened_) throw EABSException(10459, "Error - database file is not opened.");
  Access access(*this);
  uint8_t buf[kHeaderSize] = {};
  if (!file_.ReadBuffer(buf, databaseStart_, kHeaderSize))
    throw EABSException(10464,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
  header_.Decode(buf);
}

void TABSDiskPageManager::WriteHeader(bool checkExternalChange) {
  if (!opened_) throw EABSException(10460, "Error - database file is not opened.");
  Access access(*this);
  if (IsDesignMode()) {
    uint8_t buf[kHeaderSize] = {};
    if (!file_.ReadBuffer(buf, databaseStart_, kHeaderSize))
      throw EABSException(10464,
                          "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                          "ErrorCode:%d. ErrorMessage: %s",
                          file_.FailureArgs());
    TABSDatabaseHeader onDisk;
    onDisk.Decode(buf);
    if (checkExternalChange) RefuseUnfinishedCommit(onDisk, false);
  }
  uint8_t buf[kHeaderSize];
  header_.Encode(buf);
  if (!file_.WriteBuffer(buf, databaseStart_, kHeaderSize))
    throw EABSException(10462,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

// A header at State 1 that this manager did not write means a commit of
// someone else is, or died, half-way. Under DesignMode the write is refused
// when the counter moved; at the start of a commit (header lock held, so no
// live commit can be running) any State 1 is a dead commit.
void TABSDiskPageManager::RefuseUnfinishedCommit(const TABSDatabaseHeader& onDisk, bool anyCounter) {
  if (onDisk.State == kStateCommitting && (anyCounter || onDisk.CommitCounter != header_.CommitCounter))
    throw EABSException(20196, "Cannot write changes. Database file was modified by external application");
}

void TABSDiskPageManager::ReadCryptoCheckBlock() {
  if (!opened_) throw EABSException(30436, "Error - database file is not opened.");
  Access access(*this);
  uint8_t buf[kCheckBlockSize] = {};
  if (!file_.ReadBuffer(buf, checkBlockOffset_, kCheckBlockSize))
    throw EABSException(30439,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
  checkBlock_.Decode(buf);
}

void TABSDiskPageManager::WriteCryptoCheckBlock() {
  if (!opened_) throw EABSException(30437, "Error - database file is not opened.");
  Access access(*this);
  uint8_t buf[kCheckBlockSize];
  checkBlock_.Encode(buf);
  if (!file_.WriteBuffer(buf, checkBlockOffset_, kCheckBlockSize))
    throw EABSException(30438,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

void TABSDiskPageManager::ReadLockArea() {
  if (!opened_) throw EABSException(30441, "Error - database file is not opened.");
  Access access(*this);
  uint8_t buf[kLockAreaReadSize] = {};
  if (!file_.ReadBuffer(buf, lockAreaOffset_, kLockAreaReadSize))
    throw EABSException(30442,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
  std::memcpy(lockArea_.data(), buf, kLockAreaReadSize);
  lockAreaSize_ = GetI16(buf + kLockAreaSizeField);
}

void TABSDiskPageManager::WriteLockArea() {
  if (!opened_) throw EABSException(30443, "Error - database file is not opened.");
  Access access(*this);
  PutI16(lockArea_.data() + kLockAreaSizeField, lockAreaSize_);
  if (!file_.WriteBuffer(lockArea_.data(), lockAreaOffset_, kLockAreaSize))
    throw EABSException(30444,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

// ---------------------------------------------------------------------------
// Lock bytes

bool TABSDiskPageManager::RetryLock(int64_t position) {
  for (int attempt = 0; attempt < retry_.Attempts; ++attempt) {
    if (file_.LockByte(1, position)) return true;
    if (attempt + 1 < retry_.Attempts) os::SleepMs(retry_.DelayMs);
  }
  return false;
}

bool TABSDiskPageManager::LockHeader() {
  if (headerLockCount_ > 0) {
    ++headerLockCount_;
    return true;
  }
  Access access(*this);
  if (!RetryLock(lockAreaOffset_ + kHeaderLockByte)) return false;
  headerLockCount_ = 1;
  // Whoever takes the header lock after a commit died plays its journal
  // back before anything reads or changes a page (the commit path). A
  // header at State 2 has nothing to undo; the open does its own check.
  if (freeSpace_ && !recovering_) {
    uint8_t state = kStateConsistent;
    const bool read = file_.ReadBuffer(&state, databaseStart_ + kHdrState, 1);
    bool settled = read && state != kStateCommitting;
    if (read && state == kStateCommitting) {
      try {
        settled = RecoverDeadCommit();
      } catch (...) {
        UnlockHeader();
        throw;
      }
    }
    // Our own failed commit, if any, is played back now.
    if (settled) undoFailed_ = false;
  }
  return true;
}

void TABSDiskPageManager::UnlockHeader() {
  if (headerLockCount_ <= 0) return;
  if (--headerLockCount_ > 0) return;
  // Map pages kept under the lock may change under anyone else's.
  if (freeSpace_ && !SoleWriter()) freeSpace_->ForgetMapPages();
  if (file_.IsOpen()) file_.UnlockByte(1, lockAreaOffset_ + kHeaderLockByte);
}

void TABSDiskPageManager::LockDatabaseTables() {
  Access access(*this);
  if (!RetryLock(lockAreaOffset_ + kDatabaseTablesLockByte)) throw EABSException(20210, "Database tables are locked");
}

void TABSDiskPageManager::UnlockDatabaseTables() {
  Access access(*this);
  if (!file_.UnlockByte(1, lockAreaOffset_ + kDatabaseTablesLockByte))
    throw EABSException(20211, "Cannot unlock database tables");
}

bool TABSDiskPageManager::LockNextObjectID() {
  Access access(*this);
  return RetryLock(nextObjectIdOffset_);
}

void TABSDiskPageManager::UnlockNextObjectID() {
  Access access(*this);
  file_.UnlockByte(1, nextObjectIdOffset_);
}

bool TABSDiskPageManager::LockPageRegion(int32_t pageNo, int32_t offset, int32_t count) {
  Access access(*this);
  return file_.LockByte(count, PageOffset(pageNo) + offset);
}

bool TABSDiskPageManager::UnlockPageRegion(int32_t pageNo, int32_t offset, int32_t count) {
  Access access(*this);
  return file_.UnlockByte(count, PageOffset(pageNo) + offset);
}

bool TABSDiskPageManager::IsPageRegionLocked(int32_t pageNo, int32_t offset, int32_t count) {
  Access access(*this);
  return file_.IsRegionLocked(count, PageOffset(pageNo) + offset);
}

// ---------------------------------------------------------------------------
// Counters

int32_t TABSDiskPageManager::GetTotalPageCount() {
  Access access(*this);
  // Waits like every other header-lock taker: a commit of another process
  // holds the byte only briefly, and failing then would be a false alarm.
  if (!LockHeader()) throw EABSException(20236, "Database is locked");
  try {
    ReadHeader();
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();
  return header_.TotalPageCount;
}

int32_t TABSDiskPageManager::GetNextObjectID() {
  if (!opened_) throw EABSException(30399, "Error - database file is not opened.");
  Access access(*this);
  if (!LockNextObjectID()) throw EABSException(30401, "Cannot get NextObjectID. File area is Locked.");
  int32_t value = 0;
  try {
    uint8_t buf[kNextObjectIdSize] = {};
    if (!file_.ReadBuffer(buf, nextObjectIdOffset_, kNextObjectIdSize))
      throw EABSException(30400,
                          "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                          "ErrorCode:%d. ErrorMessage: %s",
                          file_.FailureArgs());
    // Identifiers are never reused: a counter that is used up is refused,
    // never wrapped to negative identifiers; a negative one no open of
    // ours wrote.
    const int32_t stored = GetI32(buf);
    if (stored < 0) throw EABSException(20237, "Invalid database format");
    int64_t next = int64_t{stored} + 1;
    if (file_.AccessMode() != 1) next += os::RandomBelow(10000);
    if (next > INT32_MAX) throw EABSException(10126, "Invalid record count = %d. Limit is %d", {next, INT32_MAX});
    value = static_cast<int32_t>(next);
    if (file_.AccessMode() == 1) {
      PutI32(buf, value);
      if (!file_.WriteBuffer(buf, nextObjectIdOffset_, kNextObjectIdSize))
        throw EABSException(30404,
                            "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                            "ErrorCode:%d. ErrorMessage: %s",
                            file_.FailureArgs());
    }
  } catch (...) {
    UnlockNextObjectID();
    throw;
  }
  UnlockNextObjectID();
  return value;
}

int32_t TABSDiskPageManager::PeekNextObjectID() {
  if (!opened_) throw EABSException(30399, "Error - database file is not opened.");
  Access access(*this);
  uint8_t buf[kNextObjectIdSize] = {};
  if (!file_.ReadBuffer(buf, nextObjectIdOffset_, kNextObjectIdSize))
    throw EABSException(30400,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
  return GetI32(buf);
}

// ---------------------------------------------------------------------------
// Pages

int64_t TABSDiskPageManager::PageOffset(int32_t pageNo) const {
  if (pageNo < 0) throw EABSException(10471, "Invalid PageNo = %d", {pageNo});
  return pageAreaOffset_ + static_cast<int64_t>(pageNo) * pageSize_;
}

void TABSDiskPageManager::ReadPageBytes(void* buffer, int32_t pageNo, int32_t count, int32_t offset) {
  if (offset < 0 || count < 0 || static_cast<int64_t>(offset) + count > pageSize_)
    throw EABSException(10476, "Error - invalid page offset = %d, page size = %d",
                        {static_cast<int64_t>(offset) + count, static_cast<int>(pageSize_)});
  Access access(*this);
  if (!file_.ReadBuffer(buffer, PageOffset(pageNo) + offset, count))
    throw EABSException(10474,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

void TABSDiskPageManager::WritePageBytes(const void* buffer, int32_t pageNo, int32_t count, int32_t offset) {
  if (offset < 0 || count < 0 || static_cast<int64_t>(offset) + count > pageSize_)
    throw EABSException(10477, "Error - invalid page offset = %d, page size = %d",
                        {static_cast<int64_t>(offset) + count, static_cast<int>(pageSize_)});
  Access access(*this);
  if (freeSpace_) freeSpace_->ForgetMapPage(pageNo);
  if (!file_.WriteBuffer(buffer, PageOffset(pageNo) + offset, count))
    throw EABSException(10475,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

bool TABSDiskPageManager::ReadPage(int32_t pageNo, uint8_t* buffer) {
  Access access(*this);
  return file_.ReadBuffer(buffer, PageOffset(pageNo), pageSize_);
}

void TABSDiskPageManager::WritePage(int32_t pageNo, const uint8_t* buffer) {
  Access access(*this);
  ProtectPage(pageNo);
  if (freeSpace_) freeSpace_->ForgetMapPage(pageNo);
  if (!file_.WriteBuffer(buffer, PageOffset(pageNo), pageSize_))
    throw EABSException(10469,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

int32_t TABSDiskPageManager::ReadPageVersion(int32_t pageNo) {
  try {
    Access access(*this);
    uint8_t buf[4];
    if (!file_.ReadBuffer(buf, PageOffset(pageNo) + kPgVersion, 4)) return kPageVersionReleased;
    return GetI32(buf);
  } catch (const EABSException&) {
    return kPageVersionReleased;
  }
}

void TABSDiskPageManager::WritePageVersion(int32_t pageNo, int32_t version) {
  Access access(*this);
  ProtectPage(pageNo);
  if (freeSpace_) freeSpace_->ForgetMapPage(pageNo);
  uint8_t buf[4];
  PutI32(buf, version);
  if (!file_.WriteBuffer(buf, PageOffset(pageNo) + kPgVersion, 4))
    throw EABSException(20198,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        file_.FailureArgs());
}

// ---------------------------------------------------------------------------
// Growing and shrinking

int64_t TABSDiskPageManager::PageAreaEnd(int64_t pages) const { return pageAreaOffset_ + pages * pageSize_; }

void TABSDiskPageManager::ExtendFile(int32_t pages) {
  if (pages <= 0) return;
  // Page numbers are int32: a count past 2^31 - 1 has no page to address.
  const int64_t total = int64_t{header_.TotalPageCount} + pages;
  if (total > INT32_MAX)
    throw EABSException(30431, "Page: %d cannot be addressed. TotalPageCount=%d", {total - 1, header_.TotalPageCount});
  Access access(*this);
  // The new end follows from the header's page count, not from the size of
  // the file: a file left longer by a cut-off growth still ends exactly
  // after its last page.
  if (freeSpace_) freeSpace_->ForgetMapPages();
  file_.SetSize(PageAreaEnd(total));
  header_.TotalPageCount = static_cast<int32_t>(total);
}

void TABSDiskPageManager::TruncateFile(int32_t pages) {
  if (pages <= 0 || pages > header_.TotalPageCount) return;
  Access access(*this);
  // The header first, then the file: a failure or a crash in between
  // leaves a file longer than its page area, which opens, never a header
  // that counts pages past the end of the file, which does not. The new end
  // is computed from the page area, not from the current size, so a file
  // that is longer than its pages never loses a page that stays in use.
  const int32_t before = header_.TotalPageCount;
  // The map pages cut off go back with the file when a journal is played
  // back; the data pages past the last one in use hold nothing.
  if (journal_ && freeSpace_)
    for (int32_t p = before - pages; p < before; ++p)
      if (freeSpace_->IsMapPage(p)) ProtectPage(p);
  header_.TotalPageCount = before - pages;
  try {
    WriteHeader(true);
  } catch (...) {
    header_.TotalPageCount = before;
    throw;
  }
  if (freeSpace_) freeSpace_->ForgetMapPages();
  file_.SetSize(PageAreaEnd(header_.TotalPageCount));
}

void TABSDiskPageManager::TruncateUnusedTail() {
  const int64_t unused = int64_t{header_.TotalPageCount} - 1 - header_.LastUsedPageNo;
  if (unused > 0) TruncateFile(static_cast<int32_t>(unused));
}

void TABSDiskPageManager::FlushFileBuffers() {
  Access access(*this);
  file_.FlushFileBuffers();
}

namespace {

// Marks the page manager as recovering for a scope (nested scopes keep it):
// its writes then go to the file without journaling, and taking the header
// lock does not start another recovery.
class RecoveringScope {
 public:
  explicit RecoveringScope(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
  ~RecoveringScope() { flag_ = before_; }
  RecoveringScope(const RecoveringScope&) = delete;
  RecoveringScope& operator=(const RecoveringScope&) = delete;

 private:
  bool& flag_;
  bool before_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Commit states

void TABSDiskPageManager::BeginCommit(const Session* session, bool flush) {
  Access access(*this);
  if (!LockHeader()) throw EABSException(20213, "Database is locked");
  try {
    ReadHeader();
    // A dead commit with a journal was played back as the lock was taken;
    // State 1 now has nothing to undo it. Writing State 2 over it later
    // would call the half-written pages consistent: refused, for repair.
    RefuseUnfinishedCommit(header_, true);
    JournalCommit(session, flush);
    header_.State = kStateCommitting;
    WriteHeader(true);
  } catch (...) {
    if (!UndoCommit())
      std::fprintf(stderr, "tivoran: %s\n", "a failed commit could not be undone; it is at its next open");
    UnlockHeader();
    throw;
  }
}

void TABSDiskPageManager::JournalCommit(const Session* session, bool flush) {
  TABSJournalStart start;
  start.pageSize = static_cast<uint32_t>(pageSize_);
  start.commitCounter = header_.CommitCounter;
  start.databaseStart = databaseStart_;
  start.fileSizeBefore = file_.GetSize();
  header_.Encode(start.header.data());
  journal_ = std::make_unique<TABSRollbackJournal>(file_.FileSystem(), JournalPath());
  journaled_.clear();
  journalSkip_.clear();
  journalTotal_ = header_.TotalPageCount;
  journalDurable_ = flush;
  try {
    journal_->Begin(start);
    if (session) {
      journalSkip_.insert(session->AddedPages.begin(), session->AddedPages.end());
      std::set<int32_t> pages;
      for (const TABSPage* page : session->DirtyPages.Pages()) pages.insert(page->PageNo);
      for (int32_t pageNo : session->DeletedPages) {
        pages.insert(pageNo);
        if (freeSpace_)
          for (int32_t map : freeSpace_->MapPagesOf(pageNo)) pages.insert(map);
      }
      std::vector<uint8_t> image(static_cast<size_t>(pageSize_));
      for (int32_t pageNo : pages) {
        if (pageNo < 0 || pageNo >= journalTotal_ || journalSkip_.count(pageNo)) continue;
        if (!ReadPage(pageNo, image.data())) std::fill(image.begin(), image.end(), 0);
        journal_->Add(pageNo, image.data());
        journaled_.insert(pageNo);
      }
      journal_->AddAddedPages(session->AddedPages);
    }
    journal_->Seal(flush);
  } catch (...) {
    journal_->Finish();
    journal_.reset();
    throw;
  }
}

void TABSDiskPageManager::ProtectPage(int32_t pageNo) {
  if (!journal_ || recovering_ || pageNo < 0 || pageNo >= journalTotal_) return;
  if (journaled_.count(pageNo) || journalSkip_.count(pageNo)) return;
  std::vector<uint8_t> image(static_cast<size_t>(pageSize_));
  if (!ReadPage(pageNo, image.data())) std::fill(image.begin(), image.end(), 0);
  journal_->AddLate(pageNo, image.data(), journalDurable_);
  journaled_.insert(pageNo);
}

void TABSDiskPageManager::EndCommit(bool flush) {
  Access access(*this);
  try {
    header_.CommitCounter = static_cast<int32_t>(static_cast<uint32_t>(header_.CommitCounter) + 1u);
    header_.State = kStateConsistent;
    WriteHeader(false);
    // A State 2 that may not reach the disk is not trusted: the journal
    // puts the old state back and the commit is reported failed.
    if (flush) FlushFileBuffers();
  } catch (...) {
    if (!UndoCommit())
      std::fprintf(stderr, "tivoran: %s\n", "a failed commit could not be undone; it is at its next open");
    UnlockHeader();
    throw;
  }
  // The commit is whole on the file: its journal is stale from here on
  // (the counter moved) and goes.
  if (journal_) {
    journal_->Finish();
    journal_.reset();
  }
  // Unless another open committed between this manager's last look and
  // BeginCommit, its cache is what the file holds now; if one did, the
  // next FollowOtherCommits still finds the counter moved.
  if (seenCommitCounter_ == static_cast<int32_t>(static_cast<uint32_t>(header_.CommitCounter) - 1u))
    seenCommitCounter_ = header_.CommitCounter;
  UnlockHeader();
}

void TABSDiskPageManager::AbortCommit() {
  if (!UndoCommit())
    std::fprintf(stderr, "tivoran: %s\n", "a failed commit could not be undone; it is at its next open");
  UnlockHeader();
}

bool TABSDiskPageManager::UndoCommit() noexcept {
  if (!journal_) return true;
  undoFailed_ = true;  // until the playback below or a later one ends
  std::unique_ptr<TABSRollbackJournal> journal = std::move(journal_);
  try {
    journal->Close();
    const TABSJournalContents contents = TABSRollbackJournal::Read(file_.FileSystem(), JournalPath());
    if (contents.kind == TABSJournalContents::Kind::kTorn) {
      // Never sealed: nothing of the file was overwritten under it.
      TABSRollbackJournal::Remove(file_.FileSystem(), JournalPath());
      undoFailed_ = false;
      return true;
    }
    if (contents.kind != TABSJournalContents::Kind::kValid) return false;
    RestoreImages(contents);
    header_.State = kStateConsistent;
    WriteHeader(false);
    FlushFileBuffers();
    TABSRollbackJournal::Remove(file_.FileSystem(), JournalPath());
    DropCachedPages();
    ++stateGeneration_;
    undoFailed_ = false;
    return true;
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: undoing a failed commit: %s\n", x.what());
    return false;
  }
}

void TABSDiskPageManager::RestoreImages(const TABSJournalContents& journal) {
  const RecoveringScope recovering(recovering_);
  if (!TABSRollbackJournal::PlayImages(file_.FileSystem(), JournalPath(), journal,
                                       [&](int32_t pageNo, const uint8_t* image) { WritePage(pageNo, image); }))
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {-1});
  if (freeSpace_) freeSpace_->ForgetMapPages();
  if (file_.GetSize() != journal.start.fileSizeBefore) file_.SetSize(journal.start.fileSizeBefore);
  header_.Decode(journal.start.header.data());
}

bool TABSDiskPageManager::RecoverDeadCommit() {
  if (recovering_ || journal_) return false;
  const std::string path = JournalPath();
  TABSJournalContents j = TABSRollbackJournal::Read(file_.FileSystem(), path);
  if (j.kind == TABSJournalContents::Kind::kNone) {
    // No journal, or an empty one: a process killed between creating it and
    // its first write. Nothing was overwritten under it, and under the
    // header lock no live commit owns it; it goes like a torn one.
    if (!readOnly_) TABSRollbackJournal::Remove(file_.FileSystem(), path);
    return false;
  }
  uint8_t buf[kHeaderSize] = {};
  TABSDatabaseHeader onDisk;
  if (!file_.ReadBuffer(buf, databaseStart_, kHeaderSize)) return false;
  onDisk.Decode(buf);
  const bool ours = j.kind != TABSJournalContents::Kind::kTorn && onDisk.CommitCounter == j.start.commitCounter;
  const bool hot = ours && onDisk.State == kStateCommitting;
  if (!hot) {
    // Never sealed, or its commit ended: nothing to undo. Sealed at this
    // counter but before State 1: no page was overwritten, and the pages
    // its session allocated are reached by nothing; they go back.
    if (!readOnly_) {
      if (ours && j.kind == TABSJournalContents::Kind::kValid && freeSpace_) {
        Access access(*this);
        const RecoveringScope recovering(recovering_);
        ReadHeader();
        // The counter moves first, so the journal is stale before a page
        // goes back: a kill in between leaves those pages taken (a leak the
        // check reports and the repair gives back), never a journal that frees
        // them a second time once another connection took them again.
        header_.CommitCounter = static_cast<int32_t>(static_cast<uint32_t>(header_.CommitCounter) + 1u);
        WriteHeader(false);
        FlushFileBuffers();
        ReleaseDeadSessionPages(j.addedPages);
        FlushFileBuffers();
      }
      TABSRollbackJournal::Remove(file_.FileSystem(), path);
    }
    return false;
  }
  if (j.kind == TABSJournalContents::Kind::kDamaged || j.start.pageSize != static_cast<uint32_t>(pageSize_) ||
      j.start.databaseStart != databaseStart_)
    throw EABSException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                        {j.damagedRecord});
  if (readOnly_) throw EABSException(20230, "Database is locked");
  Access access(*this);
  {
    const RecoveringScope recovering(recovering_);
    RestoreImages(j);
    // State 1 until the dead session's pages are free again: a kill in
    // between plays the journal back once more.
    header_.State = kStateCommitting;
    WriteHeader(false);
    FlushFileBuffers();
    ReleaseDeadSessionPages(j.addedPages);
    header_.CommitCounter = static_cast<int32_t>(static_cast<uint32_t>(j.start.commitCounter) + 1u);
    header_.State = kStateConsistent;
    WriteHeader(false);
    FlushFileBuffers();
  }
  TABSRollbackJournal::Remove(file_.FileSystem(), path);
  DropCachedPages();
  ++stateGeneration_;
  return true;
}

void TABSDiskPageManager::ReleaseDeadSessionPages(const std::vector<int32_t>& pages) {
  if (!freeSpace_) return;
  for (int32_t pageNo : pages) {
    if (pageNo <= kSystemDirectoryPageNo || pageNo >= header_.TotalPageCount || freeSpace_->IsMapPage(pageNo)) continue;
    if (freeSpace_->IsPageUsed(pageNo)) FreePageNo(pageNo);
  }
}

void TABSDiskPageManager::RecoverIfCommitDied() {
  if (!opened_ || readOnly_ || headerLockCount_ > 0) return;
  uint8_t state = kStateConsistent;
  {
    Access access(*this);
    if (!file_.ReadBuffer(&state, databaseStart_ + kHdrState, 1)) return;
  }
  if (state != kStateCommitting) return;
  if (!LockHeader()) throw EABSException(20236, "Database is locked");
  UnlockHeader();
}

void TABSDiskPageManager::DropCachedPages() {
  std::vector<int32_t> cached;
  cached.reserve(static_cast<size_t>(cache_.Count()));
  for (const TABSPage* page : cache_.Pages()) cached.push_back(page->PageNo);
  for (int32_t pageNo : cached) DropFromCache(pageNo);
}

bool TABSDiskPageManager::FollowOtherCommits() {
  if (headerLockCount_ <= 0) throw std::logic_error("FollowOtherCommits needs the header lock held");
  ReadHeader();
  if (header_.CommitCounter == seenCommitCounter_) return false;
  seenCommitCounter_ = header_.CommitCounter;
  DropCachedPages();
  ++stateGeneration_;
  return true;
}

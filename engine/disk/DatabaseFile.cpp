#include "disk/DatabaseFile.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "disk/DiskBytes.h"
#include "disk/DiskFormat.h"
#include "os/OsClock.h"

namespace os = tiv::os;
using namespace tiv::disk;

namespace {
std::atomic<bool> g_designMode{false};

constexpr int kReconnectAttempts = 3;
constexpr int kReconnectDelayMs = 1000;
}  // namespace

void SetDesignMode(bool on) { g_designMode = on; }
bool IsDesignMode() { return g_designMode; }

TABSDatabaseFile::TABSDatabaseFile(os::FileSystem& fs) : fs_(fs) {}

TABSDatabaseFile::~TABSDatabaseFile() {
  if (handle_) handle_->Close();
}

void TABSDatabaseFile::CheckOpen(const char* operation) {
  if (!handle_) throw EABSException(30376, "Cannot perform this operation (%s) on a closed file", {operation});
}

os::Status TABSDatabaseFile::OpenHandle() {
  os::OpenOptions o;
  o.access = accessMode_ == 1 ? (os::kAccessRead | os::kAccessWrite) : os::kAccessRead;
  o.share = shareMode_ == 1 ? (os::kShareRead | os::kShareWrite) : shareMode_ == 2 ? os::kShareRead : os::kShareNone;
  position_ = 0;
  return fs_.Open(fileName_, o, handle_);
}

void TABSDatabaseFile::CreateFile(const std::string& fileName) {
  if (handle_) throw EABSException(30377, "Cannot perform this operation (%s) on a opened file", {"CreateFile"});
  if (fileName.empty()) throw EABSException(30374, "Cannot create file with blank FileName");
  os::FileInfo info;
  os::Status s = fs_.Stat(fileName, info);
  if (s.ok() && info.exists) {
    // Deleting a file that another open still uses would leave that open
    // working on a file nobody can find again: ask for it exclusively first.
    std::unique_ptr<os::FileHandle> probe;
    os::OpenOptions o;
    o.access = os::kAccessRead;
    o.share = os::kShareNone;
    s = fs_.SetReadOnly(fileName, false);
    if (s.ok()) s = fs_.Open(fileName, o, probe);
    if (s.ok()) {
      probe->Close();
      s = fs_.Remove(fileName);
    }
  }
  if (s.ok()) {
    fileName_ = fileName;
    accessMode_ = 1;
    shareMode_ = 0;
    os::OpenOptions o;
    o.access = os::kAccessRead | os::kAccessWrite;
    o.share = os::kShareNone;
    o.create = true;
    position_ = 0;
    s = fs_.Open(fileName_, o, handle_);
  }
  if (!s.ok()) {
    handle_.reset();
    throw EABSException(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        {fileName, s.error, s.text});
  }
  lockingUnsupported_ = false;
  unsupportedLock_ = {};
  held_.clear();
  openCount_ = 0;
}

void TABSDatabaseFile::OpenFile(const std::string& fileName, uint8_t accessMode, uint8_t shareMode) {
  if (handle_) throw EABSException(30377, "Cannot perform this operation (%s) on a opened file", {"OpenFile"});
  if (accessMode > 1) throw EABSException(30366, "Unknown Access mode: '%d'", {static_cast<int>(accessMode)});
  if (shareMode > 2) throw EABSException(30367, "Unknown Share mode: '%d'", {static_cast<int>(shareMode)});
  fileName_ = fileName;
  accessMode_ = accessMode;
  shareMode_ = shareMode;
  os::Status s = OpenHandle();
  if (!s.ok()) {
    handle_.reset();
    throw EABSException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", {fileName, s.error, s.text});
  }
  lockingUnsupported_ = false;
  unsupportedLock_ = {};
  held_.clear();
  openCount_ = 0;
}

void TABSDatabaseFile::CloseFile() {
  CheckOpen("CloseFile");
  os::Status s = handle_->Close();
  handle_.reset();
  held_.clear();
  if (!s.ok())
    throw EABSException(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s", {fileName_, s.error, s.text});
}

void TABSDatabaseFile::SetPosition(int64_t position) {
  CheckOpen("SetPosition");
  if (position < 0) {
    int64_t size = 0;
    handle_->Size(size);
    throw EABSException(30372, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                        {position, fileName_, position_, size});
  }
  position_ = position;
}

int64_t TABSDatabaseFile::GetPosition() {
  CheckOpen("GetPosition");
  return position_;
}

int64_t TABSDatabaseFile::GetSize() {
  CheckOpen("GetSize");
  int64_t size = 0;
  os::Status s = handle_->Size(size);
  if (!s.ok() && Reconnect()) s = handle_->Size(size);
  if (!s.ok())
    throw EABSException(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, s.error, s.text});
  return size;
}

void TABSDatabaseFile::SetSize(int64_t size) {
  CheckOpen("SetSize");
  os::Status s = size < 0 ? os::Status::FromErrno(22) : handle_->Truncate(size);
  if (!s.ok() && size >= 0 && Reconnect()) s = handle_->Truncate(size);
  if (!s.ok())
    throw EABSException(30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, size, s.error, s.text});
  position_ = size;
}

void TABSDatabaseFile::Fail(int64_t position, int64_t count, const os::Status& s) {
  failure_.position = position;
  failure_.count = count;
  failure_.filePosition = position_;
  failure_.fileSize = 0;
  if (handle_) handle_->Size(failure_.fileSize);
  failure_.error = s.error;
  failure_.text = s.text;
}

bool TABSDatabaseFile::ReadOnce(void* buffer, int64_t position, int32_t count) {
  size_t done = 0;
  os::Status s = handle_->ReadAt(position, buffer, static_cast<size_t>(count), done);
  if (s.ok() && done == static_cast<size_t>(count)) {
    position_ = position + count;
    return true;
  }
  if (s.ok()) s = os::Status::Custom(0, "Reached the end of the file");
  Fail(position, count, s);
  return false;
}

bool TABSDatabaseFile::ReadBuffer(void* buffer, int64_t position, int32_t count) {
  CheckOpen("ReadBuffer");
  if (count < 0 || position < 0) {
    Fail(position, count, os::Status::FromErrno(22));
    return false;
  }
  if (ReadOnce(buffer, position, count)) return true;
  // A read past the end stays a failure however often it is tried.
  if (failure_.error == 0) return false;
  if (ReadOnce(buffer, position, count)) return true;
  return Reconnect() && ReadOnce(buffer, position, count);
}

bool TABSDatabaseFile::WriteBuffer(const void* buffer, int64_t position, int32_t count) {
  CheckOpen("WriteBuffer");
  if (count < 0 || position < 0) {
    Fail(position, count, os::Status::FromErrno(22));
    return false;
  }
  os::Status s = handle_->WriteAt(position, buffer, static_cast<size_t>(count));
  // EBADF on an open handle is a write through a read-only open: no retry.
  if (!s.ok() && s.error != 9 && Reconnect()) s = handle_->WriteAt(position, buffer, static_cast<size_t>(count));
  if (!s.ok()) {
    Fail(position, count, s);
    return false;
  }
  position_ = position + count;
  return true;
}

std::vector<TABSErrorArg> TABSDatabaseFile::FailureArgs() const {
  return {fileName_,         failure_.position, failure_.count, failure_.filePosition,
          failure_.fileSize, failure_.error,    failure_.text};
}

void TABSDatabaseFile::FlushFileBuffers() {
  CheckOpen("FlushFileBuffers");
  // Never retried (contract 4): a failed fsync may have dropped the pages it
  // could not write and marked them clean, and a second one would then
  // succeed over nothing.
  os::Status s = handle_->Sync();
  if (!s.ok())
    throw EABSException(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, s.error, s.text});
}

bool TABSDatabaseFile::LockOnce(int64_t count, int64_t position, bool& held) {
  held = false;
  os::Status s = handle_->Lock(position, count);
  if (s.ok()) {
    held_.emplace_back(position, count);
    return true;
  }
  if (os::IsLockingUnsupported(s.error)) {
    lockingUnsupported_ = true;
    unsupportedLock_ = s;
    return true;
  }
  held = s.error == os::kLockHeld;
  return false;
}

bool TABSDatabaseFile::LockByte(int64_t count, int64_t position) {
  CheckOpen("LockByte");
  if (lockingUnsupported_) return true;
  bool held = false;
  if (LockOnce(count, position, held)) return true;
  // Someone holding the byte is the normal refusal; anything else may be a
  // handle that went bad.
  if (held || !Reconnect()) return false;
  lockingUnsupported_ = false;
  return LockOnce(count, position, held);
}

bool TABSDatabaseFile::UnlockByte(int64_t count, int64_t position) {
  if (IsDesignMode()) {
    if (handle_) handle_->Unlock(position, count);
    held_.erase(std::remove(held_.begin(), held_.end(), std::make_pair(position, count)), held_.end());
    return true;
  }
  CheckOpen("UnlockByte");
  if (lockingUnsupported_) return true;
  os::Status s = handle_->Unlock(position, count);
  if (!s.ok() && !os::IsLockingUnsupported(s.error) && s.error != os::kNotLocked && Reconnect()) {
    lockingUnsupported_ = false;
    s = handle_->Unlock(position, count);
  }
  if (s.ok()) {
    held_.erase(std::remove(held_.begin(), held_.end(), std::make_pair(position, count)), held_.end());
    return true;
  }
  if (os::IsLockingUnsupported(s.error)) {
    lockingUnsupported_ = true;
    unsupportedLock_ = s;
    return true;
  }
  return false;
}

bool TABSDatabaseFile::IsRegionLocked(int64_t count, int64_t position) {
  CheckOpen("IsRegionLocked");
  // Our own bytes: locked, and a probe must not release them.
  if (handle_->HoldsLock(position, count)) return true;
  if (!LockByte(count, position)) return true;
  if (!lockingUnsupported_) UnlockByte(count, position);
  return false;
}

// A database start is a whole header whose fields a database of ours can
// have, followed by the check block and the lock area it names, and, when it
// counts pages, a first page that is the first PFS page. The signature and
// HeaderSize alone are 18 bytes that a program carrying the constant, or a
// record storing the text, may hold as well; none of those is a start.
bool TABSDatabaseFile::IsDatabaseStart(int64_t at) {
  constexpr int kFixed = kHeaderSize + kCheckBlockSize + kLockAreaReadSize;
  uint8_t b[kFixed];
  size_t done = 0;
  if (!handle_->ReadAt(at, b, sizeof b, done).ok() || done != sizeof b) return false;
  if (std::memcmp(b + kHdrSignature, kSignature, kSignatureSize) != 0 || GetU16(b + kHdrHeaderSize) != kHeaderSize)
    return false;
  const double version = GetF64(b + kHdrVersion);
  const int32_t total = GetI32(b + kHdrTotalPageCount);
  const uint8_t encrypted = b[kHdrEncrypted];
  if (!std::isfinite(version) || version <= 0 || version >= kMaxPlausibleVersion ||
      GetU16(b + kHdrPageSize) < kMinPageSize || GetU16(b + kHdrPageCountInExtent) == 0 || total < 0 ||
      GetI32(b + kHdrLastUsedPageNo) < -1 || (encrypted != kEncryptedNo && encrypted != kEncryptedYes))
    return false;
  if (GetI16(b + kHeaderSize + kChkBlockSize) != kCheckBlockSize) return false;
  const int16_t lockAreaSize = GetI16(b + kHeaderSize + kCheckBlockSize + kLockAreaSizeField);
  if (lockAreaSize < kMinLockAreaSize) return false;
  if (total == 0) return true;
  uint8_t page[kPgType + 2];
  const int64_t pageArea = at + kHeaderSize + kCheckBlockSize + lockAreaSize + kNextObjectIdSize;
  done = 0;
  return handle_->ReadAt(pageArea, page, sizeof page, done).ok() && done == sizeof page &&
         std::memcmp(page + kPgSignature, kPageSignature, 4) == 0 && GetU16(page + kPgType) == ptPFS;
}

int64_t TABSDatabaseFile::FindSignature() {
  CheckOpen("FindSignature");
  const int64_t saved = position_;
  auto maybeStart = [](const uint8_t* p) {
    return std::memcmp(p, kSignature, kSignatureSize) == 0 && GetU16(p + kHdrHeaderSize) == kHeaderSize;
  };
  int64_t found = -1;
  if (IsDatabaseStart(0)) {
    found = 0;
  } else {
    int64_t size = 0;
    if (handle_->Size(size).ok()) {
      // A candidate needs the 18 bytes of signature and HeaderSize; windows
      // overlap by that much so that no such run is split between two. Each
      // candidate is then read whole from the file, wherever it lies.
      constexpr int kNeed = kHdrHeaderSize + 2;
      std::vector<uint8_t> window(kScanWindow);
      for (int64_t start = 0; start < size && found < 0; start += kScanWindow - kScanOverlap) {
        size_t done = 0;
        if (!handle_->ReadAt(start, window.data(), window.size(), done).ok()) break;
        for (size_t i = 0; i + kNeed <= done; ++i) {
          const int64_t at = start + static_cast<int64_t>(i);
          if (at > 0 && maybeStart(window.data() + i) && IsDatabaseStart(at)) {
            found = at;
            break;
          }
        }
        if (static_cast<int64_t>(done) < kScanWindow) break;
      }
    }
  }
  position_ = saved;
  return found < 0 ? 0 : found;
}

bool TABSDatabaseFile::Reconnect() {
  if (!handle_) return false;
  int64_t size = 0;
  if (handle_->Size(size).ok()) return true;
  auto held = held_;
  for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
    if (attempt > 0) os::SleepMs(kReconnectDelayMs);
    if (handle_) handle_->Close();
    handle_.reset();
    if (!OpenHandle().ok()) continue;
    bool relocked = true;
    for (const auto& [pos, len] : held) relocked = relocked && handle_->Lock(pos, len).ok();
    if (relocked) return true;
  }
  // The handle is gone; the object now counts as closed.
  handle_.reset();
  held_.clear();
  return false;
}

void TABSDatabaseFile::BeginAccess() {
  if (!IsDesignMode()) return;
  if (openCount_ == 0 && !handle_) {
    os::Status s = OpenHandle();
    if (!s.ok()) {
      handle_.reset();
      throw EABSException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                          {fileName_, s.error, s.text});
    }
  }
  ++openCount_;
}

void TABSDatabaseFile::EndAccess() {
  if (!IsDesignMode()) return;
  if (openCount_ > 0 && --openCount_ == 0 && handle_) {
    handle_->Close();
    handle_.reset();
    held_.clear();
  }
}

// The rollback journal's file: its layout and write order are in
// RollbackJournal.h; what the page manager does with it is in
// DiskPageManagerFile.h ("The commit path").
#include "disk/RollbackJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "disk/DiskCrc.h"
#include "os/OsRandom.h"

namespace os = tiv::os;
using tiv::disk::Crc32;
using tiv::disk::Crc32Update;

namespace {

constexpr char kMagic[8] = {'T', 'I', 'V', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t kFormatVersion = 1;
constexpr int kHdrCrcAt = 120;
constexpr size_t kWriteBatch = 256 * 1024;

uint32_t RecordCrc(uint32_t salt, int32_t pageNo, const uint8_t* payload, size_t size) {
  uint8_t lead[8];
  zud::PutU32(lead, salt);
  zud::PutI32(lead + 4, pageNo);
  return Crc32Update(Crc32(lead, sizeof lead), payload, size);
}

}  // namespace

TABSRollbackJournal::TABSRollbackJournal(os::FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}

TABSRollbackJournal::~TABSRollbackJournal() {
  if (handle_) handle_->Close();
}

void TABSRollbackJournal::WriteAt(int64_t pos, const void* data, size_t n) {
  const os::Status s = handle_->WriteAt(pos, data, n);
  if (!s.ok())
    throw EABSException(10462,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        {path_, pos, static_cast<int64_t>(n), pos, int64_t{-1}, s.error, s.text});
}

void TABSRollbackJournal::Sync() {
  const os::Status s = handle_->Sync();
  if (!s.ok())
    throw EABSException(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {path_, s.error, s.text});
}

void TABSRollbackJournal::Begin(const TABSJournalStart& start) {
  if (handle_) throw std::logic_error("TABSRollbackJournal::Begin: a journal is already being written");
  os::OpenOptions o;
  o.access = os::kAccessRead | os::kAccessWrite;
  // Normally the file is new (the last commit removed its journal). A file
  // left behind (a stale journal whose removal failed) is cut first: an
  // older journal's bytes must not read as this one's. A new file is never
  // cut: on ext4 a file cut to size 0 is written out when it is closed,
  // which would cost every commit a trip to the disk.
  o.create = true;
  os::Status s = fs_.Open(path_, o, handle_);
  bool leftBehind = false;
  if (!s.ok() && s.error == EEXIST) {
    o.create = false;
    s = fs_.Open(path_, o, handle_);
    leftBehind = s.ok();
  }
  if (!s.ok()) {
    handle_.reset();
    throw EABSException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", {path_, s.error, s.text});
  }
  start_ = start;
  salt_ = os::RandomUInt32();
  records_ = 0;
  written_ = 0;
  pending_.clear();
  if (leftBehind) s = handle_->Truncate(0);
  if (!s.ok()) {
    Finish();
    throw EABSException(10462,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        {path_, int64_t{0}, int64_t{0}, int64_t{0}, int64_t{-1}, s.error, s.text});
  }
}

void TABSRollbackJournal::AppendRecord(int32_t pageNo, const uint8_t* payload) {
  const size_t size = start_.pageSize;
  const size_t at = pending_.size();
  pending_.resize(at + kJournalRecordHeaderSize + size);
  uint8_t* r = pending_.data() + at;
  zud::PutI32(r, pageNo);
  zud::PutU32(r + 4, RecordCrc(salt_, pageNo, payload, size));
  std::memcpy(r + kJournalRecordHeaderSize, payload, size);
  ++records_;
  // Records go to the file in batches, so a commit that rewrites many
  // pages never holds all their images in memory.
  if (pending_.size() >= kWriteBatch) WritePending();
}

void TABSRollbackJournal::WritePending() {
  if (pending_.empty()) return;
  WriteAt(kJournalHeaderSize + written_, pending_.data(), pending_.size());
  written_ += static_cast<int64_t>(pending_.size());
  pending_.clear();
}

void TABSRollbackJournal::Add(int32_t pageNo, const uint8_t* image) {
  if (!handle_) throw std::logic_error("TABSRollbackJournal::Add outside Begin/Finish");
  AppendRecord(pageNo, image);
}

void TABSRollbackJournal::AddAddedPages(const std::vector<int32_t>& pages) {
  const size_t perRecord = start_.pageSize / 4 - 1;
  std::vector<uint8_t> payload(start_.pageSize);
  for (size_t i = 0; i < pages.size(); i += perRecord) {
    const size_t n = std::min(perRecord, pages.size() - i);
    std::fill(payload.begin(), payload.end(), 0);
    zud::PutI32(payload.data(), static_cast<int32_t>(n));
    for (size_t k = 0; k < n; ++k) zud::PutI32(payload.data() + 4 + 4 * k, pages[i + k]);
    AppendRecord(kAddedPagesRecord, payload.data());
  }
}

void TABSRollbackJournal::WriteHeader() {
  uint8_t h[kJournalHeaderSize] = {};
  std::memcpy(h, kMagic, sizeof kMagic);
  zud::PutU32(h + 8, kFormatVersion);
  zud::PutU32(h + 12, start_.pageSize);
  zud::PutI32(h + 16, records_);
  zud::PutI32(h + 20, start_.commitCounter);
  zud::PutU32(h + 24, salt_);
  zud::PutU64(h + 28, static_cast<uint64_t>(start_.databaseStart));
  zud::PutU64(h + 36, static_cast<uint64_t>(start_.fileSizeBefore));
  std::memcpy(h + 44, start_.header.data(), tiv::disk::kHeaderSize);
  zud::PutU32(h + kHdrCrcAt, Crc32(h, kHdrCrcAt));
  WriteAt(0, h, sizeof h);
}

void TABSRollbackJournal::Seal(bool durable) {
  if (!handle_) throw std::logic_error("TABSRollbackJournal::Seal outside Begin/Finish");
  WritePending();
  WriteHeader();
  if (!durable) return;
  Sync();
  // The journal was created by this commit: its name must be on the disk
  // too before the database is overwritten, or a power cut could keep the
  // new pages and lose the only copy of the old ones.
  const os::Status s = fs_.SyncDirectory(path_);
  if (!s.ok())
    throw EABSException(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {path_, s.error, s.text});
}

void TABSRollbackJournal::AddLate(int32_t pageNo, const uint8_t* image, bool durable) {
  if (!handle_) throw std::logic_error("TABSRollbackJournal::AddLate outside Begin/Finish");
  AppendRecord(pageNo, image);
  WriteAt(kJournalHeaderSize + written_, pending_.data(), pending_.size());
  written_ += static_cast<int64_t>(pending_.size());
  pending_.clear();
  if (durable) Sync();
  WriteHeader();
  if (durable) Sync();
}

void TABSRollbackJournal::Finish() noexcept {
  if (!handle_) return;
  handle_->Close();
  handle_.reset();
  fs_.Remove(path_);
}

void TABSRollbackJournal::Close() noexcept {
  if (!handle_) return;
  handle_->Close();
  handle_.reset();
}

bool TABSRollbackJournal::Remove(os::FileSystem& fs, const std::string& path) {
  os::FileInfo info;
  if (!fs.Stat(path, info).ok() || !info.exists) return true;
  return fs.Remove(path).ok();
}

TABSJournalContents TABSRollbackJournal::Read(os::FileSystem& fs, const std::string& path) {
  TABSJournalContents c;
  os::FileInfo info;
  if (!fs.Stat(path, info).ok() || !info.exists || info.size == 0) return c;
  std::unique_ptr<os::FileHandle> h;
  os::OpenOptions o;
  o.access = os::kAccessRead;
  if (!fs.Open(path, o, h).ok()) return c;  // gone between the two calls
  struct Closer {
    os::FileHandle& h;
    ~Closer() { h.Close(); }
  } closer{*h};
  c.kind = TABSJournalContents::Kind::kTorn;
  uint8_t hd[kJournalHeaderSize] = {};
  size_t done = 0;
  if (!h->ReadAt(0, hd, sizeof hd, done).ok() || done < sizeof hd) return c;
  if (std::memcmp(hd, kMagic, sizeof kMagic) != 0 || zud::GetU32(hd + 8) != kFormatVersion ||
      zud::GetU32(hd + kHdrCrcAt) != Crc32(hd, kHdrCrcAt))
    return c;
  c.start.pageSize = zud::GetU32(hd + 12);
  const int32_t records = zud::GetI32(hd + 16);
  c.start.commitCounter = zud::GetI32(hd + 20);
  const uint32_t salt = zud::GetU32(hd + 24);
  c.start.databaseStart = static_cast<int64_t>(zud::GetU64(hd + 28));
  c.start.fileSizeBefore = static_cast<int64_t>(zud::GetU64(hd + 36));
  std::memcpy(c.start.header.data(), hd + 44, tiv::disk::kHeaderSize);
  // A whole header with figures no commit writes is damage as well.
  const int64_t recordSize = kJournalRecordHeaderSize + int64_t{c.start.pageSize};
  if (c.start.pageSize < tiv::disk::kMinPageSize || c.start.pageSize > 65536 || records < 0 ||
      c.start.databaseStart < 0 || c.start.fileSizeBefore < 0 ||
      kJournalHeaderSize + records * recordSize > info.size) {
    c.kind = TABSJournalContents::Kind::kDamaged;
    return c;
  }
  std::vector<uint8_t> record(static_cast<size_t>(recordSize));
  for (int32_t i = 0; i < records; ++i) {
    done = 0;
    const int64_t at = kJournalHeaderSize + i * recordSize;
    const int32_t pageNo = h->ReadAt(at, record.data(), record.size(), done).ok() && done == record.size()
                               ? zud::GetI32(record.data())
                               : INT32_MIN;
    const uint8_t* payload = record.data() + kJournalRecordHeaderSize;
    if (pageNo == INT32_MIN || (pageNo < 0 && pageNo != kAddedPagesRecord) ||
        zud::GetU32(record.data() + 4) != RecordCrc(salt, pageNo, payload, c.start.pageSize)) {
      c.kind = TABSJournalContents::Kind::kDamaged;
      c.damagedRecord = i;
      c.pages.clear();
      c.addedPages.clear();
      return c;
    }
    if (pageNo == kAddedPagesRecord) {
      const int32_t n = zud::GetI32(payload);
      if (n < 0 || n > static_cast<int32_t>(c.start.pageSize / 4 - 1)) {
        c.kind = TABSJournalContents::Kind::kDamaged;
        c.damagedRecord = i;
        return c;
      }
      for (int32_t k = 0; k < n; ++k) c.addedPages.push_back(zud::GetI32(payload + 4 + 4 * k));
    } else {
      c.pages.push_back({pageNo, at + kJournalRecordHeaderSize});
    }
  }
  c.kind = TABSJournalContents::Kind::kValid;
  c.salt = salt;
  return c;
}

bool TABSRollbackJournal::PlayImages(os::FileSystem& fs, const std::string& path, const TABSJournalContents& contents,
                                     const std::function<void(int32_t, const uint8_t*)>& write) {
  std::unique_ptr<os::FileHandle> h;
  os::OpenOptions o;
  o.access = os::kAccessRead;
  if (!fs.Open(path, o, h).ok()) return false;
  struct Closer {
    os::FileHandle& h;
    ~Closer() { h.Close(); }
  } closer{*h};
  const size_t size = contents.start.pageSize;
  std::vector<uint8_t> record(kJournalRecordHeaderSize + size);
  for (const TABSJournalContents::Page& page : contents.pages) {
    size_t done = 0;
    if (!h->ReadAt(page.offset - kJournalRecordHeaderSize, record.data(), record.size(), done).ok() ||
        done != record.size() || zud::GetI32(record.data()) != page.pageNo ||
        zud::GetU32(record.data() + 4) !=
            RecordCrc(contents.salt, page.pageNo, record.data() + kJournalRecordHeaderSize, size))
      return false;
    write(page.pageNo, record.data() + kJournalRecordHeaderSize);
  }
  return true;
}

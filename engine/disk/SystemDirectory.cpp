#include "disk/SystemDirectory.h"

#include "core/ZUDExcept.h"
#include "disk/DiskBytes.h"
#include "disk/DiskPageManagerFile.h"

using namespace tiv::disk;

TABSSystemDirectory::TABSSystemDirectory(TABSDiskPageManager& pm) : pm_(pm), file_(pm, ptFileSystemDirectory) {}

void TABSSystemDirectory::Create() {
  file_.Create(TABSPageManager::kSystemSession);
  if (file_.StartPageNo() != kSystemDirectoryPageNo)
    throw EABSException(30392, "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {kSystemDirectoryPageNo, file_.StartPageNo()});
  entries_.clear();
}

void TABSSystemDirectory::Open() {
  file_.Close();
  file_.Open(kSystemDirectoryPageNo);
  entries_.clear();
}

void TABSSystemDirectory::Close() {
  file_.Close();
  entries_.clear();
}

void TABSSystemDirectory::Read(int32_t sessionID) {
  const TABSInternalFileSize s = file_.GetSize(sessionID, true);
  if (s.CompressionAlgorithm != 0 || s.DataSize % kSystemDirectoryEntrySize != 0)
    throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                        {file_.StartPageNo(), static_cast<int>(ptFileSystemDirectory)});
  const std::string contents = file_.ReadContents(sessionID, true);
  const std::vector<uint8_t> bytes(contents.begin(), contents.end());
  std::vector<TABSSystemDirectoryEntry> entries;
  for (size_t at = 0; at < bytes.size(); at += kSystemDirectoryEntrySize)
    entries.push_back({bytes[at], GetI32(bytes.data() + at + 1)});
  entries_ = std::move(entries);
}

void TABSSystemDirectory::Write(int32_t sessionID) {
  std::vector<uint8_t> bytes(entries_.size() * kSystemDirectoryEntrySize);
  for (size_t i = 0; i < entries_.size(); ++i) {
    bytes[i * kSystemDirectoryEntrySize] = entries_[i].Kind;
    PutI32(bytes.data() + i * kSystemDirectoryEntrySize + 1, entries_[i].StartPageNo);
  }
  file_.WriteFile(sessionID, bytes.data(), 0, 0, static_cast<int32_t>(bytes.size()));
}

int32_t TABSSystemDirectory::Find(uint8_t kind) const {
  for (const auto& e : entries_)
    if (e.Kind == kind) return e.StartPageNo;
  return -1;
}

void TABSSystemDirectory::Set(uint8_t kind, int32_t startPageNo) {
  for (auto& e : entries_)
    if (e.Kind == kind) {
      e.StartPageNo = startPageNo;
      return;
    }
  entries_.push_back({kind, startPageNo});
}

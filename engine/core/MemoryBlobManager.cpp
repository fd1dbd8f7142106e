#include "core/MemoryBlobManager.h"

#include <cstring>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "core/ZUDRecordLayout.h"

namespace {

uint32_t HandleOf(const TABSFieldDef& field, const char* record) { return zud::GetU32(record + field.MemoryOffset()); }

void PutHandle(const TABSFieldDef& field, char* record, uint32_t handle) {
  std::memset(record + field.MemoryOffset(), 0, static_cast<size_t>(field.MemoryValueSize()));
  zud::PutU32(record + field.MemoryOffset(), handle);
}

}  // namespace

uint32_t TABSMemoryBlobManager::NewHandle() {
  while (next_ == 0 || blocks_.count(next_)) ++next_;
  return next_++;
}

void TABSMemoryBlobManager::StoreStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                                        TABSStream& content) {
  std::string bytes(static_cast<size_t>(content.Size()), '\0');
  content.Seek(0);
  const int64_t read = bytes.empty() ? 0 : content.Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  if (read != static_cast<int64_t>(bytes.size()))
    throw EABSException(10117,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {int64_t{0}, content.Size(), static_cast<int64_t>(bytes.size()), read});
  WriteBuffer(sessionID, field, fieldNo, record, bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TABSMemoryBlobManager::FreeFieldValue(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record) {
  (void)sessionID;
  (void)fieldNo;
  if (const uint32_t handle = HandleOf(field, record)) blocks_.erase(handle);
  PutHandle(field, record, 0);
}

std::unique_ptr<TABSStream> TABSMemoryBlobManager::OpenStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                                              const char* record) {
  return std::make_unique<TABSMemoryStream>(ReadBuffer(sessionID, field, fieldNo, record));
}

std::string TABSMemoryBlobManager::ReadBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                              const char* record) {
  (void)sessionID;
  if (IsFieldNull(record, fieldNo)) return {};
  const uint32_t handle = HandleOf(field, record);
  if (handle == 0) return {};
  auto it = blocks_.find(handle);
  if (it == blocks_.end()) throw EABSException(20171, "Cannot find blob field");
  return it->second;
}

void TABSMemoryBlobManager::WriteBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                                        const char* data, int64_t size) {
  FreeFieldValue(sessionID, field, fieldNo, record);
  if (size <= 0) {
    SetFieldNull(record, fieldNo, true);
    return;
  }
  const uint32_t handle = NewHandle();
  blocks_.emplace(handle, std::string(data, static_cast<size_t>(size)));
  PutHandle(field, record, handle);
  SetFieldNull(record, fieldNo, false);
}

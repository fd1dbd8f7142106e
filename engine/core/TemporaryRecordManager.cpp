#include "core/TemporaryRecordManager.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/ZUDExcept.h"

TABSTemporaryRecordManager::TABSTemporaryRecordManager(int32_t recordSize, int64_t memoryShare, bool inMemory,
                                                       int32_t growthStep, int32_t recordsPerBlock)
    : growthStep_(std::max(growthStep, 1)), perBlock_(std::max(recordsPerBlock, 1)) {
  if (recordSize <= 0) throw EABSException(10011, "Invalid record size = 0");
  recordSize_ = recordSize;
  memoryLimit_ = inMemory ? INT64_MAX : std::max<int64_t>(memoryShare / recordSize, 1);
  block_.resize(static_cast<size_t>(perBlock_) * static_cast<size_t>(recordSize_));
}

void TABSTemporaryRecordManager::Clear(int32_t sessionID) {
  (void)sessionID;
  std::vector<char>().swap(memory_);
  capacity_ = inMemoryCount_ = 0;
  file_.Reset();
  blockCount_ = 0;
  blocksWritten_ = 0;
  recordCount_ = 0;
  CountChange();
}

bool TABSTemporaryRecordManager::Insert(int32_t sessionID, const char* record, TABSRecordID& newID) {
  (void)sessionID;
  if (recordCount_ >= INT32_MAX)
    throw EABSException(10126, "Invalid record count = %d. Limit is %d", {recordCount_, int64_t{INT32_MAX}});
  // The array takes records until it is at its limit and nothing has gone
  // to the file yet; after that every record goes to the file, so the
  // array's records are always the first ones.
  if (recordCount_ == inMemoryCount_ && inMemoryCount_ == capacity_ && capacity_ < memoryLimit_) {
    capacity_ = std::min<int64_t>(capacity_ + growthStep_, memoryLimit_);
    memory_.resize(static_cast<size_t>(capacity_) * static_cast<size_t>(recordSize_));
  }
  if (recordCount_ == inMemoryCount_ && inMemoryCount_ < capacity_) {
    std::memcpy(memory_.data() + static_cast<size_t>(inMemoryCount_) * static_cast<size_t>(recordSize_), record,
                static_cast<size_t>(recordSize_));
    ++inMemoryCount_;
  } else {
    AppendToFile(record);
  }
  newID = {static_cast<int32_t>(recordCount_), 0};
  ++recordCount_;
  CountChange();
  return true;
}

void TABSTemporaryRecordManager::AppendToFile(const char* record) {
  std::memcpy(block_.data() + static_cast<size_t>(blockCount_) * static_cast<size_t>(recordSize_), record,
              static_cast<size_t>(recordSize_));
  if (blockCount_ + 1 < perBlock_) {
    ++blockCount_;
    return;
  }
  // A full block goes to the file; when the write fails the record stays
  // out (the count is not raised) and the block is as before.
  const int64_t blockBytes = static_cast<int64_t>(block_.size());
  file_.Write(blocksWritten_ * blockBytes, block_.data(), blockBytes);
  ++blocksWritten_;
  blockCount_ = 0;
}

void TABSTemporaryRecordManager::ReadRecord(int64_t seq, char* destination) {
  if (!destination) throw EABSException(10019, "Error retrieving record");
  if (seq < inMemoryCount_) {
    std::memcpy(destination, memory_.data() + static_cast<size_t>(seq) * static_cast<size_t>(recordSize_),
                static_cast<size_t>(recordSize_));
    return;
  }
  const int64_t k = seq - inMemoryCount_;
  const int64_t block = k / perBlock_;
  const int64_t row = k % perBlock_;
  if (block == blocksWritten_) {
    std::memcpy(destination, block_.data() + static_cast<size_t>(row) * static_cast<size_t>(recordSize_),
                static_cast<size_t>(recordSize_));
    return;
  }
  const int64_t blockBytes = static_cast<int64_t>(block_.size());
  file_.Read(block * blockBytes + row * recordSize_, destination, recordSize_);
}

bool TABSTemporaryRecordManager::Update(int32_t sessionID, const char* record, const TABSRecordID& id) {
  (void)sessionID;
  (void)record;
  (void)id;
  return false;
}

bool TABSTemporaryRecordManager::Delete(int32_t sessionID, const TABSRecordID& id) {
  (void)sessionID;
  (void)id;
  return false;
}

void TABSTemporaryRecordManager::GetRecord(int32_t sessionID, TABSGetRecordRequest& request) {
  (void)sessionID;
  const int64_t current = request.recordID.pageNo;
  int64_t seq = -1;
  switch (request.mode) {
    case grmCurrent:
      if (current < 0 || current >= recordCount_) {
        request.result = grrNotFound;
        return;
      }
      seq = current;
      break;
    case grmNext:
      seq = request.beforeFirst || current < 0 ? 0 : current + 1;
      if (recordCount_ == 0 || request.afterLast || seq >= recordCount_) {
        request.result = grrEOF;
        return;
      }
      break;
    case grmPrior:
      if (recordCount_ == 0) {
        request.result = grrEOF;
        return;
      }
      seq = request.afterLast || current >= recordCount_ ? recordCount_ - 1 : current - 1;
      if (request.beforeFirst || seq < 0) {
        request.result = grrBOF;
        return;
      }
      break;
  }
  ReadRecord(seq, request.destination);
  request.recordID = {static_cast<int32_t>(seq), 0};
  request.result = grrFound;
}

int64_t TABSTemporaryRecordManager::ApproxRecNo(int32_t sessionID, const TABSRecordID& id) {
  (void)sessionID;
  return id.pageNo >= 0 && id.pageNo < recordCount_ ? int64_t{id.pageNo} + 1 : -1;
}

#include "core/MemoryRecordManager.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/ZUDExcept.h"

TABSMemoryRecordManager::TABSMemoryRecordManager(int32_t recordSize, int32_t growthStep)
    : growthStep_(std::max(growthStep, 1)) {
  if (recordSize <= 0) throw EABSException(10011, "Invalid record size = 0");
  recordSize_ = recordSize;
}

void TABSMemoryRecordManager::Clear(int32_t sessionID) {
  (void)sessionID;
  std::vector<std::unique_ptr<char[]>>().swap(blocks_);
  live_.Resize(0);
  capacity_ = nextSlot_ = lowest_ = highest_ = 0;
  recordCount_ = 0;
  CountChange();
}

void TABSMemoryRecordManager::Grow() {
  blocks_.push_back(
      std::make_unique_for_overwrite<char[]>(static_cast<size_t>(growthStep_) * static_cast<size_t>(recordSize_)));
  capacity_ = static_cast<int32_t>(std::min<int64_t>(int64_t{capacity_} + growthStep_, INT32_MAX));
}

bool TABSMemoryRecordManager::Insert(int32_t sessionID, const char* record, TABSRecordID& newID) {
  (void)sessionID;
  if (nextSlot_ == INT32_MAX)
    throw EABSException(10126, "Invalid record count = %d. Limit is %d", {int64_t{nextSlot_}, int64_t{INT32_MAX}});
  if (nextSlot_ >= capacity_) Grow();
  const int32_t slot = nextSlot_;
  std::memcpy(Slot(slot), record, static_cast<size_t>(recordSize_));
  live_.SetGrowing(slot, true);
  ++nextSlot_;
  if (recordCount_ == 0) lowest_ = slot;
  highest_ = slot;
  ++recordCount_;
  CountChange();
  newID = {slot, 0};
  return true;
}

bool TABSMemoryRecordManager::IsLive(int64_t slot) const {
  return recordCount_ > 0 && slot >= lowest_ && slot <= highest_ && live_.Get(slot);
}

const char* TABSMemoryRecordManager::SlotBytes(int64_t slot) const {
  if (!IsLive(slot)) return nullptr;
  return Slot(static_cast<int32_t>(slot));
}

bool TABSMemoryRecordManager::Update(int32_t sessionID, const char* record, const TABSRecordID& id) {
  (void)sessionID;
  if (!IsLive(id.pageNo)) return false;
  std::memcpy(Slot(id.pageNo), record, static_cast<size_t>(recordSize_));
  CountChange();
  return true;
}

bool TABSMemoryRecordManager::Delete(int32_t sessionID, const TABSRecordID& id) {
  (void)sessionID;
  if (!IsLive(id.pageNo)) return false;
  live_.Set(id.pageNo, false);
  --recordCount_;
  if (recordCount_ == 0) {
    lowest_ = highest_ = 0;
  } else {
    if (id.pageNo == lowest_) lowest_ = static_cast<int32_t>(live_.NextSetBit(id.pageNo));
    if (id.pageNo == highest_) highest_ = static_cast<int32_t>(live_.PriorSetBit(id.pageNo));
  }
  CountChange();
  return true;
}

void TABSMemoryRecordManager::GetRecord(int32_t sessionID, TABSGetRecordRequest& request) {
  (void)sessionID;
  int64_t slot = -1;
  switch (request.mode) {
    case grmCurrent:
      if (!IsLive(request.recordID.pageNo)) {
        request.result = grrNotFound;
        return;
      }
      slot = request.recordID.pageNo;
      break;
    case grmNext:
      if (recordCount_ == 0 || request.afterLast) {
        request.result = grrEOF;
        return;
      }
      slot = request.beforeFirst || request.recordID.pageNo < lowest_ ? lowest_
                                                                      : live_.NextSetBit(request.recordID.pageNo);
      if (slot < 0 || slot > highest_) {
        request.result = grrEOF;
        return;
      }
      break;
    case grmPrior:
      if (recordCount_ == 0) {
        request.result = grrEOF;
        return;
      }
      if (request.beforeFirst) {
        request.result = grrBOF;
        return;
      }
      slot = request.afterLast || request.recordID.pageNo > highest_ ? highest_
                                                                     : live_.PriorSetBit(request.recordID.pageNo);
      if (slot < lowest_) {
        request.result = grrBOF;
        return;
      }
      break;
  }
  if (!request.destination) throw EABSException(10019, "Error retrieving record");
  std::memcpy(request.destination, Slot(static_cast<int32_t>(slot)), static_cast<size_t>(recordSize_));
  request.recordID = {static_cast<int32_t>(slot), 0};
  request.result = grrFound;
}

int64_t TABSMemoryRecordManager::RecNoOfSlot(int64_t slot) const {
  if (!IsLive(slot)) return -1;
  return live_.SetBitsBefore(slot) + 1;
}

bool TABSMemoryRecordManager::SlotOfRecNo(int64_t recNo, int32_t& slot) const {
  if (recNo < 1 || recNo > recordCount_) return false;
  slot = static_cast<int32_t>(live_.NthSetBit(recNo));
  return true;
}

int64_t TABSMemoryRecordManager::ApproxRecNo(int32_t sessionID, const TABSRecordID& id) {
  (void)sessionID;
  return RecNoOfSlot(id.pageNo);
}

// MemoryBlobManager: TABSMemoryBlobManager, the BLOB values of an in-memory
// table: blocks of bytes in a registry, named by handles.
//
// Slot layout (the BLOB field's place in a memory record): the first 4
// bytes of the 6-byte stored reference hold the block's handle
// (little-endian uint32, 0 = none), the rest of the slot is 0. A handle is
// looked up in the registry, never taken for an address: a record copy that
// outlived its block (another cursor's buffer) reads "Cannot find blob
// field" (20171), never freed memory.
//
// Contract (beside ZUDBlobManager.h)
//  1. Handles are handed out in increasing order, skip 0 and those in use,
//     and are not given again while their block lives.
//  2. An empty value written through WriteBuffer or StoreStream stores
//     NULL (the null bit set, no block).
//  3. The registry is the manager's own: destroying it frees every block.
//
// Thread use: under the database data's lock, taken by the table data.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/ZUDBlobManager.h"

class TABSMemoryBlobManager : public TABSBlobManager {
 public:
  void StoreStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                   TABSStream& content) override;
  void FreeFieldValue(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record) override;
  std::unique_ptr<TABSStream> OpenStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                         const char* record) override;
  std::string ReadBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, const char* record) override;
  void WriteBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record, const char* data,
                   int64_t size) override;

  size_t BlockCount() const { return blocks_.size(); }

 private:
  uint32_t NewHandle();

  std::unordered_map<uint32_t, std::string> blocks_;
  uint32_t next_ = 1;
};

// ZUDBlobManager: what a table's BLOB values need from their storage kind.
// The disk kind keeps BLOB values in BLOB pages, the in-memory kind in
// memory blocks; the table data reaches both through this interface.
//
// A BLOB slot of a memory record (ZUDRecordLayout.h) holds the 6-byte
// stored reference and a 4-byte handle of the value the manager has loaded
// or built for that record; a handle the manager no longer lists means
// none. NULL BLOB fields have their null bit set and no value.
//
// Contract
//  1. StoreStream and WriteBuffer replace the field's value with the given
//     bytes: afterwards the slot refers to the new value and the null bit
//     is clear. The value the slot referred to before is freed.
//  2. OpenStream and ReadBuffer give the current value of the field (empty
//     for a NULL field); they never change the record.
//  3. FreeFieldValue frees the value the slot refers to and leaves the
//     slot referring to none; freeing a slot that refers to none is a no-op.
//  4. A handle of 0, or one the manager no longer lists, means no value
//     loaded: a non-NULL field then reads as its stored value (none at all
//     for a record never stored: an empty value). Reading never reaches
//     outside the manager's own data.
//
// Thread use: under the database data's lock, taken by the table data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/ZUDFieldDefs.h"
#include "core/ZUDStream.h"

class TABSBlobManager {
 public:
  virtual ~TABSBlobManager() = default;
  virtual void StoreStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record,
                           TABSStream& content) = 0;
  virtual void FreeFieldValue(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record) = 0;
  virtual std::unique_ptr<TABSStream> OpenStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                                 const char* record) = 0;
  virtual std::string ReadBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, const char* record) = 0;
  virtual void WriteBuffer(int32_t sessionID, const TABSFieldDef& field, int fieldNo, char* record, const char* data,
                           int64_t size) = 0;
};

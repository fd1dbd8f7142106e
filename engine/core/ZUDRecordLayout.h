// ZUDRecordLayout: record buffers and record identifiers.
//
// Memory record (cursors, keys, in-memory tables) and stored record (disk
// record pages) share one shape:
//   null bitmap   ceil(n / 8) bytes; bit (i mod 8) of byte (i div 8), least
//                 significant first, set = field i is NULL
//   values        field by field in collection order, no padding
// They differ only in BLOB slots:
//   stored  6 bytes: page number int32, BLOB identifier int16 (the BLOB
//           reference of the storage layer)
//   memory 10 bytes: the same 6 bytes, then a uint32 handle (0 = none) of
//           the BLOB value that the table's BLOB manager (or the in-memory
//           table) has loaded or built for this record. An in-memory table
//           keeps its handle in the first 4 bytes instead.
// A handle is an index into a table the BLOB owner keeps: a 64-bit address
// never fits these 4 bytes and is never stored in them.
//
// A cursor record buffer is the memory record, then the 6-byte record
// identifier, then a 1-byte bookmark flag (3 = just inserted).
//
// Record identifier, 6 bytes: page number int32, row number uint16. In-memory
// and temporary tables use the page number as the slot number and row 0.
// Identifiers order by page number, then row number.
//
// Contract
//  1. A new record has every null bit set and every value byte zero.
//  2. Reading a field never reads outside its slot: strings are taken up to
//     their terminator or the end of the slot, whichever comes first.
//  3. Writing a value that does not fit its slot raises 20056 and leaves
//     the record as it was.
#pragma once

#include <cstdint>

#include "core/ZUDFieldDefs.h"
#include "core/ZUDVariant.h"

struct TABSRecordID {
  int32_t pageNo = -1;
  uint16_t rowNo = 0;

  bool operator==(const TABSRecordID&) const = default;
  // -1, 0, +1 by page number, then row number.
  int Compare(const TABSRecordID& other) const;
  void Write(void* sixBytes) const;
  static TABSRecordID Read(const void* sixBytes);
};
constexpr int32_t kRecordIDSize = 6;
constexpr uint8_t kBookmarkInserted = 3;

// Where the pieces of a cursor record buffer lie.
struct TABSCursorRecordLayout {
  int32_t firstFieldOffset = 0;  // the null bitmap size
  int32_t memoryRecordSize = 0;
  int32_t recordIDOffset = 0;
  int32_t bookmarkFlagOffset = 0;
  int32_t bufferSize = 0;
};
TABSCursorRecordLayout CursorRecordLayout(const TABSFieldDefs& fields);

bool IsFieldNull(const char* record, int fieldNo);
void SetFieldNull(char* record, int fieldNo, bool isNull);

// Contract 1, over the memory record size.
void InitNewRecord(const TABSFieldDefs& fields, char* record);
// Copies bitmap and each field's stored-size bytes between the layouts.
void MemoryToStoredRecord(const TABSFieldDefs& fields, const char* memory, char* stored);
void StoredToMemoryRecord(const TABSFieldDefs& fields, const char* stored, char* memory);

// The BLOB handle of a memory record's BLOB slot (disk layout, after the
// 6-byte reference).
uint32_t GetBlobHandle(const TABSFieldDef& field, const char* record);
void SetBlobHandle(const TABSFieldDef& field, char* record, uint32_t handle);

// Typed access to one non-BLOB field of a memory record (contracts 2, 3).
void ReadFieldValue(const TABSFieldDefs& fields, const char* record, int fieldNo, TABSVariant& value);
void WriteFieldValue(const TABSFieldDefs& fields, char* record, int fieldNo, const TABSVariant& value);

// BlobPages: BLOB values stored in BLOB pages (PageType 11) of a table, and
// the BLOB manager of a disk table, TABSDiskBlobManager.
//
// BLOB header, 22 bytes, in front of every stored value:
//   0  int16  BlobID (small BLOBs; 0 in large ones)
//   2  int32  BlockCount
//   6  int64  StoredSize: bytes of stored (compressed) data that follow
//   14 int64  UncompressedSize, written as two int32, low then high
// BLOB reference, 6 bytes in the record: PageNo int32, BlobID int16.
//   PageNo 0 or -1: no stored value. BlobID -1: a large BLOB whose first
//   page is PageNo. Any other BlobID: a small BLOB inside page PageNo.
//
// Small BLOB page (TABSSmallBlobPage): data offset 0 uint16 BlobCount, then
//   the entries back to back from offset 2, each a BLOB header and its
//   StoredSize bytes. A value is small when StoredSize + 24 is below the
//   page data size D.
// Large BLOB: the first page holds the header at data offset 0, the page
//   list locator at 22 (PageNo int32, Offset uint16, Count int32) and data
//   from 32; further data pages hold data from 0 and are not chained. After
//   the last data byte (on a new page when the data ended exactly at a
//   page's end) comes the list of all data page numbers, int32 each, Count
//   entries, the first page included; where it does not fit it goes on at
//   data offset 0 of further pages chained through NextPageNo.
//
// Contract
//  1. Every entry of a small page ends inside the data area: a page has
//     room for an entry of n bytes (header included) while
//     2 + bytes in use + n <= D. The BLOB page index records the bytes in
//     use of each small page (entries, headers included, not BlobCount).
//  2. New BlobIDs start from BlobCount and skip ids in use; they never take
//     -1 (large) or 255 (the id older files read either way), so every
//     reference this code writes has one reading.
//  3. Stored bytes are not trusted: an entry or a list that leaves its
//     page, a count that does not match the value's size, or a chain that
//     does not end raises "Cannot read BLOB field value" (20291 while
//     reading, 20162 for a large value) or "Cannot find blob field"
//     (20171), never a read out of bounds. A large value's page count is
//     at least 1 and at most the file's page count (HoldsPages) before any
//     memory is taken for its list or its data, and the list is read page
//     by page: what a damaged header claims costs no more memory than the
//     file could hold.
//  4. Deleting a value gives back every page it alone used (DeletePage) and
//     updates the BLOB page index; a small page left empty is deleted and
//     leaves the index. A large value's pages are given back only when every
//     page its list names is a BLOB page (IsPageOf); else 20162 and none is.
//  5. All page work goes through the page manager inside the session's
//     transaction: a rollback forgets stored and deleted values alike.
//  6. Cached values (record level) belong to the manager until the record
//     is written or released; Close() with cached values left raises
//     "Blob cache not released" (20150). The destructor frees them silently.
//  7. A field's BLOB stream (BlobFieldStream.h) works on a temporary copy
//     of the cached value's stored bytes; the cached value changes only
//     when a stream that was written is closed.
//  8. DeleteAllBlobs deletes the stored values every record of the table
//     refers to and empties the page index. The records keep their
//     references: the caller empties the table's records next.
//
// Thread use: under the table data's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/ZUDFieldDefs.h"
#include "core/ZUDMemory.h"
#include "core/ZUDStream.h"

class TABSBaseRecordManager;
class TABSBlobFieldStream;
class TABSPage;
class TABSPageManager;

constexpr int kBlobHeaderSize = 22;
constexpr int kBlobLocatorOffset = 22;
constexpr int kLargeBlobDataOffset = 32;
constexpr int kBlobReferenceSize = 6;

struct TABSBlobReference {
  int32_t PageNo = -1;
  int16_t BlobID = -1;

  bool IsNone() const { return PageNo == 0 || PageNo == -1; }
  bool IsLarge() const { return BlobID == -1; }
  void Write(void* sixBytes) const;
  static TABSBlobReference Read(const void* sixBytes);
};

// A BLOB value in memory: the bytes of its compressed stream.
struct TABSBlobValue {
  int32_t BlockCount = 0;
  int64_t UncompressedSize = 0;
  int64_t StoredSize = 0;
  TABSMemBlock StoredData;  // StoredSize bytes (none when 0)
  bool Modified = false;

  const char* Data() const { return StoredData.get(); }
  void SetStoredData(const void* data, int64_t size);
};

// What the BLOB manager needs of the BLOB page index (a B-tree keyed by
// page number whose value is the bytes in use of a small BLOB page).
class TABSBlobPageSpace {
 public:
  virtual ~TABSBlobPageSpace() = default;
  // A page whose bytes in use + size < page data size - 2, or -1.
  virtual int32_t FindPageWithRoom(int32_t sessionID, int32_t size) = 0;
  // The bytes in use recorded for a page, -1 when it is not indexed.
  virtual int32_t UsedSpaceOf(int32_t sessionID, int32_t pageNo) = 0;
  // Records the bytes in use of a page (indexed or not yet).
  virtual void SetUsedSpace(int32_t sessionID, int32_t pageNo, int32_t used) = 0;
  virtual void RemovePage(int32_t sessionID, int32_t pageNo) = 0;
  virtual void Clear(int32_t sessionID) = 0;
};

// One small BLOB page, pinned by the caller.
class TABSSmallBlobPage {
 public:
  explicit TABSSmallBlobPage(TABSPage& page);

  uint16_t BlobCount() const;
  // Bytes the entries take (contract 1); walks and checks every entry.
  int32_t UsedBytes() const;
  // Data offset of the entry with this id, -1 when absent.
  int32_t Find(int16_t blobID) const;
  int16_t NewBlobID() const;
  // Appends an entry; the caller checked the room.
  int16_t Add(const TABSBlobValue& value);
  void Read(int16_t blobID, TABSBlobValue& out) const;
  // Removes the entry; returns its size (header included).
  int32_t Remove(int16_t blobID);

 private:
  // Offsets of the entries; raises 20291 for an entry leaving the page.
  std::vector<int32_t> Entries() const;

  TABSPage& page_;
  uint8_t* data_;
  int32_t dataSize_;
};

class TABSDiskBlobManager {
 public:
  TABSDiskBlobManager(TABSPageManager& pages, TABSBlobPageSpace& index);
  ~TABSDiskBlobManager();
  TABSDiskBlobManager(const TABSDiskBlobManager&) = delete;
  TABSDiskBlobManager& operator=(const TABSDiskBlobManager&) = delete;

  // Contract 6.
  void Close();

  // Values by reference (raw stored bytes with BlockCount and size).
  TABSBlobReference StoreValue(int32_t sessionID, const TABSBlobValue& value);
  std::unique_ptr<TABSBlobValue> LoadValue(int32_t sessionID, TABSBlobReference ref);
  // Gives the pages back; `ref` becomes none.
  void DeleteValue(int32_t sessionID, TABSBlobReference& ref);
  bool IsSmall(int64_t storedSize) const;
  // The pages a stored value occupies, ascending, each once: the small
  // BLOB page holding it (shared with other values; `small` true), or a
  // large value's data pages and the pages of its page list. Read like
  // LoadValue reads the value, with the same errors; nothing for a
  // reference to no value.
  std::vector<int32_t> ValuePages(int32_t sessionID, TABSBlobReference ref, bool& small);

  // Record level, over memory records (ZUDRecordLayout.h: the 6-byte
  // reference and a 4-byte handle of the cached value in each BLOB slot).
  // The cached value of a field, loaded on first access (empty for a field
  // with no reference).
  TABSBlobValue& RecordValue(int32_t sessionID, const TABSFieldDef& field, char* record);
  // Before an insert or update: stores each Modified cached value (the old
  // stored value deleted first), puts its reference in the record and frees
  // the cached value.
  void WriteRecordBlobs(int32_t sessionID, const TABSFieldDefs& fields, char* record);
  // Before a delete: deletes each stored value of the record.
  void DeleteRecordBlobs(int32_t sessionID, const TABSFieldDefs& fields, char* record);
  // Frees the cached values of a record.
  void FreeRecordValues(const TABSFieldDefs& fields, char* record);
  // After every record's values were deleted: empties the page index.
  void ClearIndex(int32_t sessionID) { index_.Clear(sessionID); }
  // Contract 8: walks the records with the table's record manager.
  void DeleteAllBlobs(int32_t sessionID, TABSBaseRecordManager& records, const TABSFieldDefs& fields);
  // A stream over the field's value (contract 7); the record must outlive
  // it. Raises 20149 for a field whose BlobBlockSize is 0 and 20248 for a
  // value with a negative size.
  std::unique_ptr<TABSBlobFieldStream> OpenFieldStream(int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                                                       char* record, bool temporaryFilesDisabled = false);
  int32_t CachedValueCount() const;

 private:
  TABSBlobReference StoreSmall(int32_t sessionID, const TABSBlobValue& value);
  TABSBlobReference StoreLarge(int32_t sessionID, const TABSBlobValue& value);
  std::unique_ptr<TABSBlobValue> LoadSmall(int32_t sessionID, TABSBlobReference ref);
  std::unique_ptr<TABSBlobValue> LoadLarge(int32_t sessionID, int32_t firstPage);
  void DeleteSmall(int32_t sessionID, TABSBlobReference ref);
  void DeleteLarge(int32_t sessionID, int32_t firstPage);
  // Data pages and list pages of a large value; the value's header fields.
  struct LargeLayout {
    std::vector<int32_t> dataPages;
    std::vector<int32_t> listPages;  // pages holding the list, in order
    int32_t blockCount = 0;
    int64_t storedSize = 0, uncompressedSize = 0;
  };
  LargeLayout ReadLargeLayout(int32_t sessionID, int32_t firstPage);
  bool LooksLarge(int32_t sessionID, int32_t pageNo);
  // Which kind of stored value a reference names, as reading resolves it:
  // `large(firstPage)` or `small()`, the other one tried when the likelier
  // one raises for an old reference that does not say (BlobID 255).
  template <typename Large, typename Small>
  auto ByKind(int32_t sessionID, TABSBlobReference ref, Large large, Small small);
  TABSBlobValue* Cached(uint32_t handle) const;
  uint32_t Cache(std::unique_ptr<TABSBlobValue> value);
  void Uncache(uint32_t handle);

  TABSPageManager& pages_;
  TABSBlobPageSpace& index_;
  std::vector<std::unique_ptr<TABSBlobValue>> cache_;  // handle - 1
};

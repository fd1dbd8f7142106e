// InternalFile: the small variable-sized structures of a database stored as
// chains of pages of one page type, addressed by the number of their first
// page. Two kinds:
//   TABSInternalDBTransactedAccessFile  read and written through the page
//       cache inside a session's transaction; may be compressed; changes
//       become durable at commit.
//   TABSInternalDBDirectAccessFile      fixed size, read and written straight
//       in the database file (no cache, no transaction); its bytes are lock
//       targets shared by every process.
//
// Chain layout (both kinds). Every page carries the file's PageType and is
// linked through the page header's NextPageNo (-1 ends the chain). The data
// areas (D = PageSize - 40 bytes each), concatenated, hold a 10-byte header
// and then the file's bytes:
//   0  uint8  header size, always 10
//   1  int32  StoredSize: bytes stored after the header (compressed size)
//   5  int32  DataSize: contents before compression (0 in direct files)
//   9  uint8  CompressionAlgorithm: 0 none, 1..3 (0 in direct files)
// PagesFor(n) = ceil((n + 10) / D). Content position pos lies on chain page
// (pos + 10) div D at page offset 40 + (pos + 10) mod D.
//
// Contract
//  1. Every operation of a closed file (StartPageNo -1) fails with "Cannot
//     perform this operation (%s) on closed internal file" naming it; Create
//     on an open file fails with "Cannot create Internal file...".
//  2. Stored bytes are not trusted. A header whose first byte is not 10, a
//     negative size, an uncompressed file whose DataSize differs from its
//     StoredSize, a size that needs more pages than the database has, or a
//     link outside the page area is an engine error, never a read out of
//     bounds, an endless walk or an allocation the file cannot back.
//  3. A transacted file reads and writes only through GetPage/PutPage of the
//     page manager in the caller's session; every page it pins is released
//     on every path. Reading never marks a page dirty.
//  4. A transacted file that shrinks gives the pages past its new end back
//     (DeletePage in the same session) and ends its chain there, so no page
//     stays allocated and unreachable; a later growth links new pages.
//  5. A direct file's pages are created in the system session with
//     EncryptOnWrite false (their bytes are lock targets and are read
//     without the cache); its contents change at once for every process.
//     Position + Count must stay within Size for reads and writes.
//  6. A direct file's size is fixed at creation, so Open refuses a chain
//     that ends before the pages its StoredSize needs: "Error reading
//     database file page. Page No: %d, type %d" (20299) with the file's
//     first page and page type. It never shrinks the file to the chain.
//
// Thread use: under the caller's database lock. Users of a direct file take
// its file lock (LockFile) around every read-modify-write of its contents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TABSDiskPageManager;

// The 10-byte header as read from a transacted file's first page.
struct TABSInternalFileSize {
  int32_t StoredSize = 0;
  int32_t DataSize = 0;
  uint8_t CompressionAlgorithm = 0;
  bool Reread = false;  // the first page was just read from the file
};

constexpr int kInternalFileHeaderSize = 10;
constexpr int kIfhHeaderSize = 0;                  // uint8
constexpr int kIfhStoredSize = 1;                  // int32
constexpr int kIfhDataSize = 5;                    // int32
constexpr int kIfhAlgorithm = 9;                   // uint8
constexpr uint8_t kInternalFileMetadataLevel = 1;  // zlib level of the metadata file

// Pages a file of `storedSize` bytes occupies with `dataSize` data bytes per
// page; 64-bit so that no stored size can overflow it.
int64_t InternalFilePagesFor(int64_t storedSize, int32_t dataSize);

class TABSInternalDBTransactedAccessFile {
 public:
  TABSInternalDBTransactedAccessFile(TABSDiskPageManager& pm, uint16_t pageType);

  void Create(int32_t sessionID);
  void Open(int32_t startPageNo) { startPageNo_ = startPageNo; }
  void Close() { startPageNo_ = -1; }
  // startPageNo -1: the open file.
  void Delete(int32_t sessionID, int32_t startPageNo = -1);
  bool IsOpen() const { return startPageNo_ != -1; }
  int32_t StartPageNo() const { return startPageNo_; }
  uint16_t PageType() const { return pageType_; }

  TABSInternalFileSize GetSize(int32_t sessionID, bool checkCache);
  int32_t GetDataSize(int32_t sessionID) { return GetSize(sessionID, true).DataSize; }
  void SetSize(int32_t sessionID, int32_t storedSize, uint8_t algorithm, int32_t dataSize);
  void ReadFile(int32_t sessionID, void* buffer, bool checkCache, int32_t count);
  // The whole contents (DataSize bytes). Unlike a buffer of DataSize bytes
  // for ReadFile, what it holds grows with the pages the chain really has
  // and the bytes its stored data really decompress to, never with the
  // sizes the header claims (contract 2).
  std::string ReadContents(int32_t sessionID, bool checkCache);
  void WriteFile(int32_t sessionID, const void* buffer, uint8_t level, uint8_t algorithm, int32_t count);
  // The page reached by following `index` links from the first page.
  int32_t PageAt(int32_t sessionID, int32_t index);
  // Every page of the chain in order (as far as its links reach, bounded by
  // the page count of the database), for tools and checks.
  std::vector<int32_t> ChainPages(int32_t sessionID);

 private:
  void CheckOpen(const char* operation) const;
  void CheckLink(int32_t pageNo) const;
  // Copies between the chain and `bytes`: `count` bytes from content
  // position 0 (the byte after the header). Reading answers the bytes found.
  int64_t TransferChain(int32_t sessionID, uint8_t* bytes, int64_t count, bool checkCache, bool write);

  TABSDiskPageManager& pm_;
  uint16_t pageType_;
  int32_t startPageNo_ = -1;
};

class TABSInternalDBDirectAccessFile {
 public:
  TABSInternalDBDirectAccessFile(TABSDiskPageManager& pm, uint16_t pageType);

  void Create(int32_t size);
  void Open(int32_t startPageNo);
  void Close();
  void Delete(int32_t startPageNo = -1);
  bool IsOpen() const { return startPageNo_ != -1; }
  int32_t StartPageNo() const { return startPageNo_; }
  int32_t Size() const { return size_; }
  const std::vector<int32_t>& PageList() const { return pageList_; }

  // StoredSize as it is in the file now.
  int32_t GetSize();
  void DirectReadBuffer(void* buffer, int32_t count, int32_t position);
  void DirectWriteBuffer(const void* buffer, int32_t count, int32_t position);
  bool LockFile();
  bool UnlockFile();
  bool LockByte(int32_t position);
  bool UnlockByte(int32_t position);
  bool IsByteLocked(int32_t position);
  bool IsRegionLocked(int32_t position, int32_t count);

 private:
  void CheckOpen(const char* operation) const;
  void CheckLink(int32_t pageNo) const;
  void CheckPosition(int64_t end) const;
  // (page, offset in page) of a content position inside the chain.
  void Locate(int32_t position, int32_t& pageNo, int32_t& pageOffset) const;
  int32_t ReadNextPageNo(int32_t pageNo, uint16_t& pageType);

  TABSDiskPageManager& pm_;
  uint16_t pageType_;
  int32_t startPageNo_ = -1;
  int32_t size_ = 0;
  std::vector<int32_t> pageList_;
};

// DiskFormat: every fixed number of the database file, in one place.
//
// The file, from the database start S (the offset of the signature; 0 unless
// the database follows other data in the file):
//
//   S + 0                      database header      (HeaderSize = 76 bytes)
//   S + HeaderSize             crypto check block   (CheckBlockSize = 280)
//   check block + 280          lock area            (LockAreaSize = 20)
//   lock area + LockAreaSize   NextObjectID slot    (int32)
//   NextObjectID slot + 4      page area: page n at page area + n * PageSize
//
// A new file has the regions at 0, 76, 356, 376 and 380; an open file takes
// them from its own HeaderSize and LockAreaSize. All integers are
// little-endian. These numbers are frozen: files written with them exist.
// docs/file-format.md describes the same layout in prose.
#pragma once

#include <cstdint>

#include "core/PageFormat.h"

namespace tiv::disk {

// The page header and the page types are the generic page layer's.
using namespace tiv::page;

// Database header.
inline constexpr char kSignature[] = "ZORVANTEKSTORAGE";  // 16 bytes on disk, no terminator
inline constexpr int kSignatureSize = 16;
inline constexpr int kHeaderSize = 76;
inline constexpr int kHdrSignature = 0;           // char[16]
inline constexpr int kHdrHeaderSize = 16;         // uint16
inline constexpr int kHdrVersion = 18;            // double
inline constexpr int kHdrPageSize = 26;           // uint16
inline constexpr int kHdrPageCountInExtent = 28;  // uint16
inline constexpr int kHdrTotalPageCount = 30;     // int32
inline constexpr int kHdrLastUsedPageNo = 34;     // int32
inline constexpr int kHdrCommitCounter = 38;      // int32
inline constexpr int kHdrState = 42;              // uint8
inline constexpr int kHdrEncrypted = 43;          // uint8
inline constexpr int kHdrReserved = 44;           // 32 zero bytes

inline constexpr double kCurrentVersion = 6.09;
inline constexpr double kOldFormatBelow = 2.99;  // Version below this: old format
// No file of ours says more; a larger, negative or non-finite Version marks
// bytes that only look like a header (DatabaseFile.h, FindSignature).
inline constexpr double kMaxPlausibleVersion = 100.0;
inline constexpr uint8_t kStateCommitting = 1;
inline constexpr uint8_t kStateConsistent = 2;
inline constexpr uint8_t kEncryptedYes = 0xFF;
inline constexpr uint8_t kEncryptedNo = 0;

inline constexpr uint16_t kDefaultPageCountInExtent = 8;
// Smallest page this engine creates or opens: room for the page header and
// for the free-space bitmaps that later live in pages.
inline constexpr uint16_t kMinPageSize = 512;

// Crypto check block.
inline constexpr int kCheckBlockSize = 280;
inline constexpr int kChkBlockSize = 0;        // int16
inline constexpr int kChkCryptoAlgorithm = 2;  // uint8
inline constexpr int kChkReserved1 = 3;        // uint8
inline constexpr int kChkCheckData = 4;        // 256 bytes
inline constexpr int kCheckDataSize = 256;
inline constexpr int kChkCheckCRC = 260;   // uint32
inline constexpr int kChkReserved2 = 264;  // 16 zero bytes

// Lock area. Its contents are never read except LockAreaSize; two of its
// bytes are lock bytes (byte-range locks of one byte).
inline constexpr int kLockAreaSize = 20;
inline constexpr int kLockAreaSizeField = 0;  // int16
inline constexpr int kLockAreaReadSize = 2;   // bytes read back at open
inline constexpr int kDatabaseTablesLockByte = 3;
inline constexpr int kHeaderLockByte = 4;
// A lock area must at least hold its two lock bytes.
inline constexpr int kMinLockAreaSize = kHeaderLockByte + 1;

// NextObjectID slot (also the lock byte of the counter), then the pages.
inline constexpr int kNextObjectIdSize = 4;

// Offsets of the regions in a newly created file (S = 0).
inline constexpr int64_t kNewCheckBlockOffset = kHeaderSize;                               // 76
inline constexpr int64_t kNewLockAreaOffset = kNewCheckBlockOffset + kCheckBlockSize;      // 356
inline constexpr int64_t kNewNextObjectIdOffset = kNewLockAreaOffset + kLockAreaSize;      // 376
inline constexpr int64_t kNewPageAreaOffset = kNewNextObjectIdOffset + kNextObjectIdSize;  // 380

// Finding the database start: windows of 10000 bytes. A hit is the
// signature followed by HeaderSize 76, 18 bytes, so consecutive windows
// overlap by 18: a hit that crosses a window edge lies whole in the next.
inline constexpr int kScanWindow = 10000;
inline constexpr int kScanOverlap = kSignatureSize + 2;

// Fixed page numbers.
inline constexpr int32_t kFirstPfsPageNo = 0;
inline constexpr int32_t kFirstEamPageNo = 1;
inline constexpr int32_t kSystemDirectoryPageNo = 2;

// Retries of every lock byte: 4500 attempts 20 ms apart (about 90 s).
inline constexpr int kLockAttempts = 4500;
inline constexpr int kLockDelayMs = 20;

}  // namespace tiv::disk

// PageFormat: the page header every page of a page manager with a 40-byte
// header carries, and the page types, shared by the page layer, the B-trees
// and the disk storage. These numbers are part of the stored format and
// frozen: files written with them exist (docs/file-format.md).
//
// Page header (first 40 bytes of a page; little-endian):
//   offset  size  field
//        0     4  signature "ABSP"
//        4     4  PageVersion (int32; 0x7FFFFFFF = released or unreadable)
//        8     2  PageType (uint16, TABSPageType)
//       10     4  NextPageNo (int32, -1 = none)
//       14     4  DataCRC (uint32)
//       18     2  reserved
//       20     1  CryptoAlgorithm
//       21     1  reserved
//       22     4  OwnerTableID (int32, -1 = none)
//       26     4  reserved, -1
//       30     2  reserved
//       32     8  reserved, zero
#pragma once

#include <cstdint>

namespace tiv::page {

inline constexpr uint16_t kDefaultPageSize = 4096;

// Page header (first 40 bytes of every page).
inline constexpr int kPageHeaderSize = 40;
inline constexpr char kPageSignature[] = "ABSP";             // 4 bytes on disk
inline constexpr int kPgSignature = 0;                       // char[4]
inline constexpr int kPgVersion = 4;                         // int32
inline constexpr int kPgType = 8;                            // uint16
inline constexpr int kPgNextPageNo = 10;                     // int32
inline constexpr int kPgDataCRC = 14;                        // uint32
inline constexpr int kPgReserved18 = 18;                     // uint8 x2
inline constexpr int kPgCryptoAlgorithm = 20;                // uint8
inline constexpr int kPgReserved21 = 21;                     // uint8
inline constexpr int kPgOwnerTableID = 22;                   // int32
inline constexpr int kPgReserved26 = 26;                     // int32, -1
inline constexpr int kPgReserved30 = 30;                     // uint16
inline constexpr int kPgReserved32 = 32;                     // 8 zero bytes
inline constexpr int32_t kPageVersionReleased = 0x7FFFFFFF;  // released or unreadable page
inline constexpr int32_t kPageVersionRandomBelow = 0x3FFFFFFF;
inline constexpr int32_t kPageVersionWrapAt = 0x7FFFFFFD;

// Page types.
enum TABSPageType : uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
  ptAny = 255,  // never stored: "any type" when fetching
};
// The name of a page type as the tools print it.
const char* PageTypeText(uint16_t type);

}  // namespace tiv::page

// ZUDDiskEngine: the disk storage of the engine, one paged file per
// database shared safely between processes.
//
// Contract
//  1. This header is the door to the area: include it, not the parts.
//  2. The parts, one class family each:
//       DiskFormat.h           every fixed number and offset of the file
//       DiskBytes.h            little-endian reads and writes at offsets
//       DiskCrc.h              the CRC-32 of the format
//       DiskCrypto.h           the password and the check-block cipher hook
//       DatabaseFile.h         TABSDatabaseFile: file, positions, lock bytes
//       DiskPageManagerFile.h  TABSDiskPageManager, file level: create, open,
//                              header, check block, lock area, NextObjectID,
//                              header/tables/counter locks, page transfers,
//                              growth, commit states; and the page
//                              level (DiskPageManager.cpp): page reads and
//                              writes, the disk commit
//       FreeSpaceMap.h         TABSDatabaseFreeSpaceManager: PFS/EAM pages
//       TablePagesCache.h      multi-user table stamps of cached pages
//       InternalFile.h         transacted and direct internal files (page
//                              chains with their 10-byte header)
//       SystemDirectory.h      the system directory at page 2
//       TableList.h            the table list and the database tables lock
//       DiskDatabase.h         a database file as a whole: create and open
//       RecordPage.h           the slot layout of a record page
//       DiskRecordManager.h    records in record pages, the record page index
//       PageRoomCache.h        the pages of a page index one process
//                              remembers with room
//       DiskTableData.h        TABSDiskTableData: one table (metadata,
//                              most-updated and locks files; create, drop,
//                              rename, empty; records, indexes, BLOBs; the
//                              table locks of each operation, in
//                              DiskTableDataLocks.cpp)
//       DiskDatabaseData.h     TABSDiskDatabaseData: the open database with
//                              its connections (multi- and single-user),
//                              transactions, table locks and tables
//       BlobPages.h            BLOB values in BLOB pages, the BLOB manager
//       BlobPageIndexSpace.h   the BLOB page index over its B-tree
//       BlobFieldStream.h      a field's BLOB stream (compressed, in blocks)
//       BlobCompressedStream.h TABSCompressedBLOBStream
//       StreamFile.h           file and temporary streams
//       ZUDCompression.h       none / zlib / bzip2 / PPMd buffers and levels
//       PpmdModel.h            the PPMd variant G codec and its header word
//       ZUDCipher.h            the eight ciphers and the key hashes
//       ZUDSecurity.h          passwords and enciphered pages
//       SessionsFile.h         connection slots of the active sessions file
//       LockTablesFile.h       the lock bytes of one table
//       LockList.h             the locks one slot holds
//       LockManager.h          TABSDatabaseTableLockManager and the whole
//                              multi-process lock protocol
//       DatabaseCheck.h        CheckDatabase: every page, table, index and
//                              BLOB of a file and the free-space map
//                              against the pages in use, as a report of
//                              problem and note lines; never writes
//       DatabaseRepair.h       RepairDatabase: every table and row that can
//                              be read copied into a new file, which takes
//                              the file's name; the damaged bytes kept as
//                              <file>.bak; a report of what was lost
//  3. Calls go down only: this area builds on engine/core (EABSException,
//     the generic page layer core/PageManager.h with its cache, pins and
//     per-session page transactions, which TABSDiskPageManager implements
//     over the file; the B-trees) and platform/os, nothing above it.
//  4. Every failure is an EABSException with the code of its raise site;
//     a file that is damaged or not a database never crashes a reader.
//     CheckDatabase alone answers the engine errors it meets as lines of
//     its report instead; RepairDatabase reports what it could not copy
//     and raises only when it could not repair.
//  5. A page whose bytes changed after they were written is an engine
//     error when it is read (its DataCRC, DiskPageManagerFile.h invariant
//     8), never a changed value; pages without a DataCRC (files of other
//     writers) are read as before.
#pragma once

#include "core/PageManager.h"
#include "disk/BlobFieldStream.h"
#include "disk/BlobPageIndexSpace.h"
#include "disk/BlobPages.h"
#include "disk/DatabaseCheck.h"
#include "disk/DatabaseFile.h"
#include "disk/DatabaseRepair.h"
#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/DiskCrypto.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskFormat.h"
#include "disk/DiskPageManagerFile.h"
#include "disk/DiskRecordManager.h"
#include "disk/DiskTableData.h"
#include "disk/FreeSpaceMap.h"
#include "disk/InternalFile.h"
#include "disk/LockManager.h"
#include "disk/LockTablesFile.h"
#include "disk/PageRoomCache.h"
#include "disk/RecordPage.h"
#include "disk/SessionsFile.h"
#include "disk/StreamFile.h"
#include "disk/SystemDirectory.h"
#include "disk/TableList.h"
#include "disk/TablePagesCache.h"
#include "disk/ZUDCipher.h"
#include "disk/ZUDCompression.h"
#include "disk/ZUDSecurity.h"

// ZUDMemEngine: the main header of the process's two databases that live in
// memory: "MEMORY", whose tables are ordinary read-write tables that vanish
// with the process, and "TEMP", the SQL layer's append-only work tables
// that spill to temporary files past their share of memory. Both use the
// table data, index and cursor machinery of disk tables with storage
// classes of their own.
//
// The area, one concern a file:
//   MemoryRecordManager  TABSMemoryRecordManager: fixed-size slots in one
//                        array, a live bitmap, slot numbers never reused
//                        before the table is emptied
//   MemoryBlobManager    TABSMemoryBlobManager: BLOB blocks in a registry,
//                        named by handles
//   MemoryTableData      TABSMemoryTableData, TABSMemoryDatabaseData
//   MemoryPageManager    TABSMemoryPageManager: the index pages (also the
//                        B-tree tests' store), with a stream form
//   TemporaryRecordManager  TABSTemporaryRecordManager: appended records,
//                        in an array up to a share, then in file blocks
//   TemporaryPageManager TABSTemporaryPageManager: index pages in memory up
//                        to a share, then in a file
//   TemporaryFile        TABSTemporaryFile: the unnamed file both spill to
//   TemporaryTableData   TABSTemporaryTableData, TABSTemporaryDatabaseData
//
// The engine's start and shutdown (local/Engine.h) create both databases
// and free them.
#pragma once

#include "core/MemoryBlobManager.h"
#include "core/MemoryPageManager.h"
#include "core/MemoryRecordManager.h"
#include "core/MemoryTableData.h"
#include "core/TemporaryFile.h"
#include "core/TemporaryPageManager.h"
#include "core/TemporaryRecordManager.h"
#include "core/TemporaryTableData.h"

// ZUDMemEngine: the main header of the in-memory database "MEMORY": tables
// that live in this process's memory, with the same table data, index and
// cursor machinery as disk tables and storage classes of their own.
//
// The area, one concern a file:
//   MemoryRecordManager  TABSMemoryRecordManager: fixed-size slots in one
//                        array, a live bitmap, slot numbers never reused
//                        before the table is emptied
//   MemoryBlobManager    TABSMemoryBlobManager: BLOB blocks in a registry,
//                        named by handles
//   MemoryTableData      TABSMemoryTableData, TABSMemoryDatabaseData
//   MemoryPageManager    TABSMemoryPageManager: the index pages (also the
//                        B-tree tests' store)
//
// Not built yet: the temporary database "TEMP" and its spilling tables, and
// the engine start and shutdown that put both on the process-wide list.
#pragma once

#include "core/MemoryBlobManager.h"
#include "core/MemoryPageManager.h"
#include "core/MemoryRecordManager.h"
#include "core/MemoryTableData.h"

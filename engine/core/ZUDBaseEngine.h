// ZUDBaseEngine: the main header of the table engine core. It gathers the
// definition classes (fields, indexes, constraints), the record layouts,
// and the abstract database and table data with their managers. Include
// this rather than the pieces.
//
// The area, one concern a file:
//   values      ZUDTypes (data and storage types, the type-name table, date
//               conversions), ZUDVariant (TABSVariant: conversion,
//               comparison, arithmetic, stream form; ZUDConvert and
//               ZUDCompare hold its conversion and comparison), ZUDBytes
//               (little-endian and x87 80-bit helpers)
//   memory      ZUDMemory (TABSMemoryManager: guarded blocks, byte limit)
//   errors      ZUDExcept (EABSException), ZUDErrorCatalogue (every code and
//               message the engine raises)
//   streams     ZUDStream (TABSStream, TABSMemoryStream, exact reads/writes)
//   definitions ZUDMetaObjectDef, ZUDFieldDefs, ZUDIndexDefs,
//               ZUDConstraintDefs, ZUDGenericDefs (stored forms, validation)
//   table data  ZUDRecordLayout (record buffers, record identifiers),
//               ZUDTableData (TABSDatabaseData, TABSTableData),
//               ZUDTableManagers (field, index, constraint managers),
//               ZUDRecordManager, ZUDIndex, ZUDBlobManager,
//               ZUDBasePageManager (the abstract parts the storage kinds
//               implement), ZUDTableCursor and ZUDTableDataCursor.cpp (what
//               the table data offers cursors), ZUDBitsArray (bitmaps)
//   pages       PageFormat (the page header and page types), PageManager
//               (TABSPage, TABSSortedPageList, the abstract TABSPageManager:
//               page cache, pins, per-session page transactions),
//               MemoryPageManager (TABSMemoryPageManager: pages in memory);
//               the disk page manager is engine/disk's
//   in memory   ZUDMemEngine (main header of the in-memory database: its
//               record, BLOB and table data classes)
//   B+-trees    ABSBTree (main header of the trees), ABSBTreePage,
//               ABSBTreeRecordKey, ABSBTreeRecordIndex, ABSBTreePageIndex,
//               ABSBTreeTableIndex (the abstract index served by a B-tree)
//
// The core includes nothing from engine/disk or engine/sql: they build on
// it (the scan test in tests/core/SourceScanTest.cpp holds that).
#pragma once

#include "core/ZUDBasePageManager.h"
#include "core/ZUDBitsArray.h"
#include "core/ZUDBlobManager.h"
#include "core/ZUDConstraintDefs.h"
#include "core/ZUDFieldDefs.h"
#include "core/ZUDGenericDefs.h"
#include "core/ZUDIndex.h"
#include "core/ZUDIndexDefs.h"
#include "core/ZUDMetaObjectDef.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDRecordManager.h"
#include "core/ZUDTableCursor.h"
#include "core/ZUDTableData.h"
#include "core/ZUDTableManagers.h"

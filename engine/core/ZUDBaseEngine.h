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
//   B+-trees    ABSBTree (main header of the trees), ABSBTreePage,
//               ABSBTreeRecordKey, ABSBTreeRecordIndex, ABSBTreePageIndex,
//               ABSBTreeTableIndex (the abstract index served by a B-tree)
#pragma once

#include "ZUDConstraintDefs.h"
#include "ZUDFieldDefs.h"
#include "ZUDGenericDefs.h"
#include "ZUDIndexDefs.h"
#include "ZUDMetaObjectDef.h"
#include "ZUDRecordLayout.h"
#include "ZUDTableData.h"
#include "ZUDBasePageManager.h"
#include "ZUDBitsArray.h"
#include "ZUDBlobManager.h"
#include "ZUDIndex.h"
#include "ZUDRecordManager.h"
#include "ZUDTableCursor.h"
#include "ZUDTableManagers.h"

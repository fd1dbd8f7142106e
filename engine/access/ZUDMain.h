// ZUDMain: the main header of the data-access components, the layer the
// program uses to reach its databases: it places components, sets their
// properties, opens them and works with their records through the dataset
// framework (platform/dataset). Nothing here includes a widget toolkit: the
// dialogs the components need are asked for through AccessDialogs, which
// the Qt layer fills.
//
// The area, one concern a file:
//   Database       TABSDatabase and TABSSession: connections, the process-
//                  wide session list with "Default", references
//   DataSet        TABSDataSet: the engine side of a dataset (cursor,
//                  values, filters, result codes)
//   Table          TABSTable: one table, its records and its operations
//   Query          TABSQuery: SQL text with parameters, its result as a
//                  dataset
//   EngineError    EABSEngineError: the cursor's result codes as errors
//   AccessDialogs  how the components ask the user (password, yes/no)
//
// TableCopy.cpp holds the table's operations that copy records (copy,
// restructure, import, batch move); TableExport.cpp the export as SQL and
// the finds.
//
// Not built yet: the query component's master data source and the cached
// updates (with OnUpdateRecord).
#pragma once

#include "access/AccessDialogs.h"
#include "access/DataSet.h"
#include "access/Database.h"
#include "access/EngineError.h"
#include "access/Query.h"
#include "access/Table.h"

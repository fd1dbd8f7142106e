// ZUDLocalEngine: the main header of local sessions and cursors, the layer
// a client (the data-access components, the SQL processor, the tools) uses
// to reach the tables of a database in this process.
//
// The area, one concern a file:
//   Engine             TABSEngine: the engine's start and shutdown, which
//                      create and free the process's MEMORY and TEMP
//                      databases and install the expression defaults
//   BaseSession        TABSBaseSession: session identifier, transaction
//                      flag, the session-named values (last autoincrement
//                      values)
//   LocalSession       TABSLocalSession: connect a database by file name and
//                      name through the process-wide list of database data
//                      objects; transactions; table names
//   LocalCursor        TABSLocalCursor: one client's view of one table;
//                      LocalCursor.cpp (tables, index, navigation),
//                      LocalCursorFields.cpp (values, the data-access
//                      exchange, projection, the expressions' row source),
//                      LocalCursorSearch.cpp (ranges, key search, filters,
//                      distinct, locate), LocalCursorEdit.cpp (edit, post,
//                      cancel, delete, their locks and codes; batches; BLOB
//                      streams)
//   LocalBlobStream    TABSLocalBLOBStream: the stream of one BLOB field
//   SelectExecution    TABSSelectExecution: the processor's executor of
//                      query statements over a session's tables, and
//                      TABSQueryResultCursor, the cursor of their result
//
// It sits above engine/core, engine/disk and engine/sql: a cursor's
// filters are expressions and its locks are the disk tables' locks. Nothing
// below includes it (tests/core/SourceScanTest.cpp holds that).
#pragma once

#include "local/BaseSession.h"
#include "local/Engine.h"
#include "local/LocalBlobStream.h"
#include "local/LocalCursor.h"
#include "local/LocalSession.h"
#include "local/SelectExecution.h"

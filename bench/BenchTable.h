// The table the storage benchmarks measure, in our engine: "bench" with
// k INTEGER (unique index by_k), s VARCHAR(40) (case-insensitive index
// by_s), d DATE and x DOUBLE, in that field order. bench/compare holds the
// same table in SQLite beside it.
#pragma once

#include "disk/DiskDatabaseData.h"

enum BenchField : int { kBenchK = 0, kBenchS, kBenchD, kBenchX };

// The table's field and index definitions.
void BenchTableDefs(TABSFieldDefs& fields, TABSIndexDefs& indexes);
// Creates the table through a connected session.
TABSDiskTableData& CreateBenchTable(TABSDiskDatabaseData& data, TABSSessionInfo& session);

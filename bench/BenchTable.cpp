#include "BenchTable.h"

void BenchTableDefs(TABSFieldDefs& fields, TABSIndexDefs& indexes) {
  const auto add = [&](const char* name, TABSDataType type, int32_t size = 0) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(name);
    f->SetDataType(type, size);
  };
  add("k", aftInteger);
  add("s", aftString, 40);
  add("d", aftDate);
  add("x", aftDouble);
  TABSIndexDef* byK = indexes.AddNew();
  byK->SetName("by_k");
  byK->unique = true;
  byK->FillColumns({"k"}, {"ASC"}, {"CASE"});
  TABSIndexDef* byS = indexes.AddNew();
  byS->SetName("by_s");
  byS->FillColumns({"s"}, {"ASC"}, {"NO_CASE"});
}

TABSDiskTableData& CreateBenchTable(TABSDiskDatabaseData& data, TABSSessionInfo& session) {
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  BenchTableDefs(fields, indexes);
  return data.CreateTable(session, "bench", fields, indexes);
}

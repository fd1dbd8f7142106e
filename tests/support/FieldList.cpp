#include "support/FieldList.h"

TABSIndexDefs& AddIndexes(TABSIndexDefs& indexes, const std::vector<IndexSpec>& specs) {
  for (const IndexSpec& spec : specs) {
    TABSIndexDef* index = indexes.AddNew();
    index->SetName(spec.name);
    index->unique = spec.unique;
    const size_t n = spec.columns.size();
    index->FillColumns(spec.columns, std::vector<std::string>(n, spec.descending ? "DESC" : "ASC"),
                       std::vector<std::string>(n, spec.noCase ? "NO_CASE" : "CASE"));
  }
  return indexes;
}

TABSFieldDefs& AddFields(TABSFieldDefs& fields, const std::vector<FieldSpec>& specs) {
  for (const FieldSpec& column : specs) {
    TABSFieldDef* field = fields.AddNew();
    field->SetName(column.name);
    field->SetDataType(column.type, column.size);
  }
  fields.CalculateOffsets();
  return fields;
}

#include "support/FieldList.h"

TABSIndexDefs& AddIndexes(TABSIndexDefs& indexes, const std::vector<IndexShape>& shapes) {
  for (const IndexShape& shape : shapes) {
    TABSIndexDef* index = indexes.AddNew();
    index->SetName(shape.name);
    index->unique = shape.unique;
    const size_t n = shape.columns.size();
    index->FillColumns(shape.columns, std::vector<std::string>(n, shape.descending ? "DESC" : "ASC"),
                       std::vector<std::string>(n, shape.noCase ? "NO_CASE" : "CASE"));
  }
  return indexes;
}

TABSFieldDefs& AddFields(TABSFieldDefs& fields, const std::vector<FieldShape>& shapes) {
  for (const FieldShape& column : shapes) {
    TABSFieldDef* field = fields.AddNew();
    field->SetName(column.name);
    field->SetDataType(column.type, column.size);
  }
  fields.CalculateOffsets();
  return fields;
}

#include "support/FieldList.h"

TABSFieldDefs& AddFields(TABSFieldDefs& fields, const std::vector<FieldSpec>& specs) {
  for (const FieldSpec& column : specs) {
    TABSFieldDef* field = fields.AddNew();
    field->SetName(column.name);
    field->SetDataType(column.type, column.size);
  }
  fields.CalculateOffsets();
  return fields;
}

#include "support/FieldList.h"

TABSFieldDefs& AddFields(TABSFieldDefs& fields, const std::vector<FieldSpec>& specs) {
  for (const FieldSpec& spec : specs) {
    TABSFieldDef* field = fields.AddNew();
    field->SetName(spec.name);
    field->SetDataType(spec.type, spec.size);
  }
  fields.CalculateOffsets();
  return fields;
}

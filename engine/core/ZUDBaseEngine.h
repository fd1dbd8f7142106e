// ZUDBaseEngine: the main header of the table structure and table data
// area. It gathers the definition classes (fields, indexes, constraints)
// and, as they land, the record layouts and the abstract table data with
// its managers. Include this rather than the pieces.
#pragma once

#include "ZUDConstraintDefs.h"
#include "ZUDFieldDefs.h"
#include "ZUDGenericDefs.h"
#include "ZUDIndexDefs.h"
#include "ZUDMetaObjectDef.h"

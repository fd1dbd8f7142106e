// ZUDBaseEngine: the main header of the table structure and table data
// area. It gathers the definition classes (fields, indexes, constraints),
// the record layouts, and the abstract database and table data with their
// managers. Include this rather than the pieces.
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

// Dataset: the main header of our generic dataset framework, the record-
// at-a-time view the program and its data-aware controls share with the
// data-access components. It knows nothing of the engine (the components
// supply records) nor of the widgets (platform/qtui shows them).
//
// The area, one concern a file:
//   FieldValue     a field's value as the framework exchanges it
//   Field          a column: value, text, display properties
//   DataSet        states, current record and edit buffer, navigation,
//                  editing, bookmarks, events; the Internal* side a
//                  concrete dataset fills
//   DataSource     DataSource and DataLink: how controls follow a dataset
//   FieldDataLink  the link of a control bound to one field
//   DatabaseError  EDatabaseError and the framework's texts
#pragma once

#include "dataset/DataSet.h"
#include "dataset/DataSource.h"
#include "dataset/DatabaseError.h"
#include "dataset/Field.h"
#include "dataset/FieldDataLink.h"
#include "dataset/FieldValue.h"

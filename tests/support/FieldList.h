// Field lists for tests, written as a table of name, type and declared
// size instead of one AddNew/SetName/SetDataType triple per field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ZUDBaseEngine.h"

struct FieldShape {
  std::string name;
  TABSDataType type;
  int32_t size = 0;  // declared size: characters of a string, bytes of a byte string, else 0
};

struct IndexShape {
  std::string name;
  std::vector<std::string> columns;
  bool unique = false;
  bool descending = false;  // every column
  bool noCase = false;      // every column
};

// Appends one index per entry, in order, to `indexes`. Returns `indexes`.
TABSIndexDefs& AddIndexes(TABSIndexDefs& indexes, const std::vector<IndexShape>& shapes);

// Appends one field per entry, in order, to `fields` and lays the record
// out again (CalculateOffsets), so offsets and record sizes are ready to
// read. Returns `fields`.
TABSFieldDefs& AddFields(TABSFieldDefs& fields, const std::vector<FieldShape>& shapes);

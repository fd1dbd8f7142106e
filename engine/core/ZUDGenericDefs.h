// ZUDGenericDefs: the plain field and index definitions of the dataset
// framework (the data-access layer's FieldDefs and IndexDefs), as far as
// the engine's definitions are built from them and given back.
//
// Contract
//  1. These are plain values; the engine converts them (ZUDIndexDefs.h,
//     ZUDConstraintDefs.h) and never keeps a reference to them.
//  2. Index option bits are the framework's: ixPrimary 1, ixUnique 2,
//     ixDescending 4, ixCaseInsensitive 8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ZUDTypes.h"

enum TIndexOption : uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
};
using TIndexOptions = uint8_t;

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int32_t Size = 0;
  bool Required = false;
};

struct TIndexDef {
  std::string Name;
  std::string Fields;         // "a;b"
  std::string DescFields;     // fields that descend
  std::string CaseInsFields;  // fields compared ignoring case
  TIndexOptions Options = 0;
  // Maximum indexed size per column (engine-only attribute); an absent or
  // empty entry means the default.
  std::vector<std::string> MaxIndexedSizes;
};

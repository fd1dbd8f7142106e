// ExprRowSource: what an expression reads its column references from.
//
// Relational operators and table cursors are built above the expression
// engine, yet expressions read their rows; this small interface keeps the
// call direction: operators and cursors implement it, expressions only call
// it. TABSRecordRowSource is the implementation over a raw record buffer of
// a table (null bitmap, then the values at the field definitions' memory
// offsets).
//
// Contract
//  1. FindFields lists every column that matches a name (ASCII case
//     folded) and, when the qualifier is not empty, that qualifier; a
//     cursor-like source matches by name first and then by display name.
//     The order is the source's column order; the first match is the one
//     a reference binds to.
//  2. Column(n) describes column n of FindFields' numbering; ReadValue(n)
//     puts the value of column n of the current row into `value`.
//  3. ReadFromRecord reads column n out of a record buffer handed in by
//     the caller (SetRecordBuffer of an expression); sources without a
//     record layout return false and the reference falls back to
//     ReadValue.
//  4. A record read is bounded by the layout's record size: a field whose
//     offset and size do not fit in it raises 30196 instead of reading.
//
// Thread use: as the operator or cursor that implements it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDFieldDefs.h"
#include "core/ZUDTypes.h"
#include "core/ZUDVariant.h"

class TABSExpression;

struct TABSExprColumn {
  std::string Qualifier;  // table name or alias, may be empty
  std::string Name;
  std::string DisplayName;
  TABSDataType DataType = aftUnknown;
  TABSStorageType StorageType = bftUnknown;
  int32_t Size = 0;
};

class TABSExprRowSource {
 public:
  virtual ~TABSExprRowSource() = default;
  virtual std::vector<int32_t> FindFields(const std::string& name, const std::string& qualifier) const = 0;
  virtual TABSExprColumn Column(int32_t column) const = 0;
  virtual void ReadValue(int32_t column, TABSVariant& value) = 0;
  virtual bool ReadFromRecord(int32_t column, const char* record, TABSVariant& value) {
    (void)column, (void)record, (void)value;
    return false;
  }
};

// A relational operator as the planner services see it: a row source with
// children and a filter that conditions can be pushed into.
class TABSExprOperator : public TABSExprRowSource {
 public:
  virtual bool IsOuterJoin() const { return false; }
  virtual TABSExprOperator* LeftChild() const { return nullptr; }
  virtual TABSExprOperator* RightChild() const { return nullptr; }
  // Takes a condition that can be evaluated on this operator's rows.
  virtual void AddFilter(std::unique_ptr<TABSExpression> condition) = 0;
};

// Reads the fields of one table's memory record buffer. MEMO and WIDE
// MEMO values live outside the record and are read through `blobReader`
// (field number, record, value); without one they raise 30350.
class TABSRecordRowSource : public TABSExprRowSource {
 public:
  using BlobReader = std::function<void(int32_t field, const char* record, TABSVariant& value)>;

  TABSRecordRowSource(const TABSFieldDefs& fields, std::string tableName, BlobReader blobReader = {});

  void SetRecord(const char* record) { record_ = record; }
  const char* Record() const { return record_; }

  std::vector<int32_t> FindFields(const std::string& name, const std::string& qualifier) const override;
  TABSExprColumn Column(int32_t column) const override;
  void ReadValue(int32_t column, TABSVariant& value) override;
  bool ReadFromRecord(int32_t column, const char* record, TABSVariant& value) override;

 private:
  const TABSFieldDefs& fields_;
  std::string tableName_;
  BlobReader blobReader_;
  const char* record_ = nullptr;
};

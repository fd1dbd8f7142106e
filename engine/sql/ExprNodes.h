// ExprNodes: the node family of expression trees (TABSExprNode and its
// subclasses). ZUDExpressions.h is the header to include.
//
// Contract
//  1. A node owns its children (in order) and its value; freeing a node
//     frees its subtree. GetValue returns the node's own value by
//     reference; the next evaluation of the node overwrites it.
//  2. Depth() is 1 for a leaf and one more than the deepest child; the
//     parser keeps it at or below kMaxExprDepth, so every recursive walk
//     of a tree (evaluation, binding, planning, freeing) is bounded.
//  3. Conditions yield a LOGICAL value that may be NULL (unknown); a
//     comparison with the raw-result flag set never yields NULL.
//  4. A column reference reads nothing before it is bound (30196).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDIndexDefs.h"
#include "core/ZUDVariant.h"
#include "sql/ExprRowSource.h"

class TABSExpression;

constexpr int kMaxExprDepth = 256;

// Operator codes: the kind byte of a node.
enum TABSExprOp : uint8_t {
  opNone = 0,
  opEqual = 1,
  opNotEqual = 2,
  opGreater = 3,
  opLower = 4,
  opGreaterEqual = 5,
  opLowerEqual = 6,
  opNot = 7,
  opAnd = 8,
  opOr = 9,
  opIn = 10,
  opNotIn = 11,
  opExists = 12,
  opBetween = 13,
  opNotBetween = 14,
  opLike = 15,
  opNotLike = 16,
  opIsNull = 17,
  opIsNotNull = 18,
  opSum = 21,
  opMinus = 22,
  opMultiply = 23,
  opDivide = 24,
  opConcat = 25,
};

// The display name of an operator code, as messages show it.
std::string OperatorName(uint8_t kind);

// Condition types of index search conditions.
enum TABSScanConditionType : uint8_t {
  sctNone = 0,
  sctEqual = 1,
  sctLower = 2,
  sctGreater = 3,
  sctLowerOrEqual = 4,
  sctGreaterOrEqual = 5,
};

class TABSExprNode;

// One condition an index can answer: the cursor intersects these and
// drives its scan through the tightest range.
struct TABSScanSearchCondition {
  int32_t IndexID = -1;
  TABSScanConditionType ConditionType = sctNone;
  int32_t KeyFieldCount = 0;
  std::vector<std::unique_ptr<TABSVariant>> KeyValues;  // one per key field, NULL for IS [NOT] NULL
  bool Prefix = false;
  TABSExprNode* Node = nullptr;           // the condition node, owned by the expression
  std::vector<TABSExprNode*> ExtraNodes;  // nodes that extended the key
};

// A select item that is a plain column, as ResolvePseudonyms needs it.
struct TABSSelectPseudonym {
  std::string Pseudonym;
  std::string TableName;
  std::string FieldName;
};

class TABSExprNode {
 public:
  explicit TABSExprNode(uint8_t kind) : Kind(kind) {}
  virtual ~TABSExprNode() = default;
  TABSExprNode(const TABSExprNode&) = delete;
  TABSExprNode& operator=(const TABSExprNode&) = delete;

  uint8_t Kind;
  std::vector<std::unique_ptr<TABSExprNode>> Children;
  TABSVariant Value;
  bool CaseInsensitive = false;
  bool Prefix = false;

  void AddChild(std::unique_ptr<TABSExprNode> child);
  // A deep copy of the subtree as parsed (bindings are not copied).
  std::unique_ptr<TABSExprNode> Clone() const;
  int Depth() const { return depth_; }
  // Recomputes Depth() after children were taken out or replaced.
  void RefreshDepth();

  virtual void Prepare();
  virtual TABSVariant& GetValue() = 0;
  virtual bool HasAggregate() const;
  virtual bool IsCountAll() const { return false; }
  virtual void ResetAggregates();
  virtual void Accumulate();
  virtual void SetCount(int32_t n) { (void)n; }
  virtual void BindToOperator(TABSExprOperator* op, TABSExprOperator* outer, TABSExprRowSource* cursor);
  virtual void BindToCursor(TABSExprRowSource* cursor, TABSExprOperator* op, TABSExprRowSource* otherCursor);
  virtual void SetRecordBuffer(const char* buffer, uint8_t side);
  virtual TABSDataType GetDataType();
  virtual int32_t GetSize();
  virtual bool CanEvaluate(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side, TABSExprRowSource* cursor);
  virtual bool CanUseIndex(int position, TABSScanConditionType previous, int32_t sessionID, const TABSIndexDef& index);
  virtual void AddSearchConditions(std::vector<TABSScanSearchCondition>& conditions, const TABSIndexDef& index);
  virtual void AddKeyColumn(TABSScanSearchCondition& condition, const TABSIndexDef& index);
  virtual bool IsJoinCondition(TABSExprOperator* left, TABSExprOperator* right);
  virtual void ResolvePseudonyms(const std::vector<TABSSelectPseudonym>& items);
  virtual bool ReferencesOnly(const std::vector<std::string>& upperNames) const;

 protected:
  // A new node of the same class with the class's own data copied.
  virtual std::unique_ptr<TABSExprNode> CloneEmpty() const = 0;
  // The common type (arithmetic) of the children's types, left to right.
  TABSDataType ChildrenCommonType();

 private:
  int depth_ = 1;
};

class TABSExprNodeConst : public TABSExprNode {
 public:
  TABSExprNodeConst() : TABSExprNode(opNone) {}
  TABSVariant& GetValue() override { return Value; }
  std::unique_ptr<TABSExprNode> CloneEmpty() const override { return std::make_unique<TABSExprNodeConst>(); }
  TABSDataType GetDataType() override;
  int32_t GetSize() override;
};

class TABSExprNodeField : public TABSExprNode {
 public:
  TABSExprNodeField(std::string qualifier, std::string name);

  std::string Qualifier;
  std::string FieldName;
  std::string DisplayName;
  TABSDataType DataType = aftUnknown;
  TABSStorageType StorageType = bftUnknown;
  int32_t Size = 0;
  bool OuterReference = false;
  bool CursorReference = false;
  uint8_t Side = 0;

  bool IsBound() const { return source_ != nullptr; }
  TABSExprRowSource* Source() const { return source_; }
  // "qualifier.name" as the operator binding's message shows it.
  std::string QualifiedName() const { return Qualifier + "." + FieldName; }

  std::unique_ptr<TABSExprNode> CloneEmpty() const override;
  TABSVariant& GetValue() override;
  void BindToOperator(TABSExprOperator* op, TABSExprOperator* outer, TABSExprRowSource* cursor) override;
  void BindToCursor(TABSExprRowSource* cursor, TABSExprOperator* op, TABSExprRowSource* otherCursor) override;
  void SetRecordBuffer(const char* buffer, uint8_t side) override;
  TABSDataType GetDataType() override;
  int32_t GetSize() override;
  bool CanEvaluate(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side, TABSExprRowSource* cursor) override;
  void ResolvePseudonyms(const std::vector<TABSSelectPseudonym>& items) override;
  bool ReferencesOnly(const std::vector<std::string>& upperNames) const override;

  // Binds to column `column` of `source` and takes its description.
  void BindTo(TABSExprRowSource* source, int32_t column);

 private:
  TABSExprRowSource* source_ = nullptr;
  int32_t column_ = -1;
  const char* record_ = nullptr;
};

class TABSExprNodeArithmetic : public TABSExprNode {
 public:
  explicit TABSExprNodeArithmetic(uint8_t kind) : TABSExprNode(kind) {}
  std::unique_ptr<TABSExprNode> CloneEmpty() const override { return std::make_unique<TABSExprNodeArithmetic>(Kind); }
  TABSVariant& GetValue() override;
  TABSDataType GetDataType() override;
  int32_t GetSize() override;
};

class TABSExprNodeStringFunction : public TABSExprNode {
 public:
  explicit TABSExprNodeStringFunction(uint8_t kind) : TABSExprNode(kind) {}
  std::unique_ptr<TABSExprNode> CloneEmpty() const override {
    return std::make_unique<TABSExprNodeStringFunction>(Kind);
  }
  TABSVariant& GetValue() override;
  TABSDataType GetDataType() override;
  int32_t GetSize() override;
};

class TABSExprNodeComparison : public TABSExprNode {
 public:
  explicit TABSExprNodeComparison(uint8_t kind) : TABSExprNode(kind) {}
  bool RawResult = true;
  uint8_t Quantifier = 0;  // 0 none, 1 ALL, 2 ANY or SOME

  std::unique_ptr<TABSExprNode> CloneEmpty() const override;
  void Prepare() override;
  TABSVariant& GetValue() override;
  TABSDataType GetDataType() override { return aftLogical; }
  bool CanUseIndex(int position, TABSScanConditionType previous, int32_t sessionID, const TABSIndexDef& index) override;
  void AddSearchConditions(std::vector<TABSScanSearchCondition>& conditions, const TABSIndexDef& index) override;
  void AddKeyColumn(TABSScanSearchCondition& condition, const TABSIndexDef& index) override;
  bool IsJoinCondition(TABSExprOperator* left, TABSExprOperator* right) override;

  // The column side of an index-usable comparison, and the other side.
  TABSExprNodeField* IndexColumn(TABSExprNode** other);
};

class TABSExprNodeBoolean : public TABSExprNode {
 public:
  explicit TABSExprNodeBoolean(uint8_t kind) : TABSExprNode(kind) {}
  std::string EscapeText;  // LIKE: "" or one character
  int32_t EscapeLine = 0, EscapeColumn = 0;
  TABSVariant Scratch;

  std::unique_ptr<TABSExprNode> CloneEmpty() const override;
  TABSVariant& GetValue() override;
  TABSDataType GetDataType() override { return aftLogical; }
  bool CanUseIndex(int position, TABSScanConditionType previous, int32_t sessionID, const TABSIndexDef& index) override;
  void AddSearchConditions(std::vector<TABSScanSearchCondition>& conditions, const TABSIndexDef& index) override;
  void AddKeyColumn(TABSScanSearchCondition& condition, const TABSIndexDef& index) override;

 private:
  void EvaluateLike();
  void EvaluateIn();
  void EvaluateBetween();
};

// The column reference an index can use for `node`: the node itself, or
// the reference under UPPER or LOWER; null otherwise or for an outer
// reference.
TABSExprNodeField* IndexableField(TABSExprNode* node);

// ZUDExpressions: TABSExpression, one parsed expression tree, and the
// TABSExprNode family (ExprNodes.h). One engine serves WHERE, ON and HAVING
// conditions, select items, INSERT and UPDATE values, cursor filters and
// locate conditions, and field defaults.
//
// An expression is parsed from lexer tokens (ExprParser.h) by a
// recursive-descent parser that steps back freely, then bound to the rows
// it reads (a relational operator, a cursor or a raw record buffer, all
// through ExprRowSource.h), prepared, and evaluated any number of times.
// Besides evaluation it answers the planner (which conjuncts can be
// evaluated on which operator, which are equi-join keys) and the cursor
// (which comparisons an index can answer).
//
// Contract
//  1. The expression owns its root; a parse failure frees every node built
//     so far and leaves the expression as it was.
//  2. Parse errors carry the line and column of the offending token. The
//     parser's recursion and the tree's depth are bounded (kMaxExprDepth):
//     deeper text raises 30160 at the token where the bound was passed, and
//     a rule that failed at a token position is never tried there again,
//     so parsing time stays polynomial in the number of tokens.
//  3. Evaluation allocates only what value conversions need: every node
//     writes its result into its own value and returns it by reference.
//     An evaluation error leaves the expression usable for the next row.
//  4. The node kinds of functions, CAST, CASE, COALESCE, subqueries and
//     EXISTS have their place in the grammar; until they are built,
//     parsing one raises 30350 "Not implemented yet". The aggregates are
//     built (ExprAggregate.h).
//  5. LIKE matching takes time proportional to the product of the value's
//     and the pattern's lengths and no recursion, whatever the pattern.
//  6. Moving conjuncts (PushDown, ExtractJoinKeys, AndWith) transfers their
//     ownership; no node is ever owned twice.
//
// Files of the SQL layer:
//   ZUDLexer.h, ZUDDateFormat.h   tokens and parameters; date formats and literals
//   ZUDExpressions.h              this header: TABSExpression; ExprNodes.h the node
//                                 family, ExprParser.h the parser, ExprAggregate.h
//                                 the aggregates, ExprRowSource.h
//                                 what expressions read, ExprLike.h LIKE matching,
//                                 ExprDefaults.h field defaults
//   ABSSQLProcessor.h             the processor and the statements, with their own
//                                 file map; statements parse their select items,
//                                 conditions and values through this header
//
// Thread use: an expression belongs to one statement or cursor and is used
// by one thread at a time. Calls go from sql to core only: field defaults
// are served through the hook of ZUDFieldDefs.h (ExprDefaults.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDIndexDefs.h"
#include "sql/ExprNodes.h"
#include "sql/ExprRowSource.h"
#include "sql/ZUDLexer.h"

class TABSExpression {
 public:
  TABSExpression() = default;
  ~TABSExpression();
  TABSExpression(const TABSExpression&) = delete;
  TABSExpression& operator=(const TABSExpression&) = delete;

  // Options.
  bool CaseInsensitive = false;  // string comparisons and LIKE ignore case
  bool PartialCompare = false;   // a string constant ending with "*" compares as a prefix
  bool InMemory = false;         // tables named by the expression open in memory
  std::string DatabaseName;
  std::string SessionName;

  TABSExprNode* Root() const { return root_.get(); }
  void SetRoot(std::unique_ptr<TABSExprNode> root) { root_ = std::move(root); }
  std::unique_ptr<TABSExprNode> TakeRoot() { return std::move(root_); }
  TABSExprRowSource* Cursor() const { return cursor_; }

  // Parsing at the lexer's cursor; the lexer is left on the first token
  // after the expression.
  void ParseCondition(TABSLexer& lexer);
  void ParseValue(TABSLexer& lexer);
  void ParseSubquery(TABSLexer& lexer);
  // A cursor filter: the whole text must be one condition.
  void ParseFilter(TABSExprRowSource* cursor, const std::string& text, bool partial, bool caseInsensitive);
  static bool IsValidValueExpression(const std::string& text);

  // Locate conditions; `fieldNames` is ";"-separated.
  void BuildLocate(TABSExprRowSource* cursor, const std::string& fieldNames,
                   const std::vector<const TABSVariant*>& keyValues, bool caseInsensitive, bool partial);
  void BuildFieldCompare(TABSExprRowSource* cursor, const std::string& fieldName, const TABSVariant& value,
                         uint8_t operatorCode);

  // Evaluation.
  TABSVariant* GetValue(bool keepNull = true);
  bool IsTrue();
  void EvaluateRow() {}
  bool HasAggregate() const { return root_ && root_->HasAggregate(); }
  bool IsCountAll() const { return root_ && root_->IsCountAll(); }
  void ResetAggregates() {
    if (root_) root_->ResetAggregates();
  }
  void Accumulate() {
    if (root_) root_->Accumulate();
  }
  void SetCount(int32_t n) {
    if (root_) root_->SetCount(n);
  }
  TABSDataType GetDataType() { return root_ ? root_->GetDataType() : aftUnknown; }
  int32_t GetSize() { return root_ ? root_->GetSize() : 0; }

  // Binding; each prepares the tree afterwards.
  void Bind(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side);
  void BindCursor(TABSExprRowSource* cursor);
  void SetRecordBuffer(const char* buffer, uint8_t side);

  bool IsEmpty() const;
  bool IsField() const;
  void GetFieldName(std::string& table, std::string& name) const;
  bool HasFieldOperand() const;

  // Planner services.
  void PushDown(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side, bool descend, TABSExprRowSource* cursor);
  int ExtractJoinKeys(TABSExprOperator* left, TABSExprOperator* right, std::vector<std::string>& leftKeys,
                      std::vector<std::string>& rightKeys);
  void ResolvePseudonyms(const std::vector<TABSSelectPseudonym>& items);
  void AndWith(TABSExpression& other);
  bool ReferencesOnly(const std::string& fieldNames) const;
  void FlattenAnd();

  // Index services.
  void GetSearchConditions(const TABSIndexDefs& indexes, std::vector<TABSScanSearchCondition>& conditions,
                           int32_t sessionID);
  bool ExtendSearchCondition(TABSScanSearchCondition& condition, const TABSIndexDef& index);
  void RemoveConditionNodes(std::vector<TABSScanSearchCondition>& conditions, int i, int j);

 private:
  void Prepare();
  // Removes `node` from the tree and frees it; the root leaves the
  // expression empty.
  void RemoveNode(TABSExprNode* node);

  std::unique_ptr<TABSExprNode> root_;
  TABSExprRowSource* cursor_ = nullptr;
};

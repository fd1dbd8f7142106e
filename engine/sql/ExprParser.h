// ExprParser: the recursive-descent parser of conditions and value
// expressions. Each alternative saves the lexer position, tries, and on
// failure steps back so that the next alternative can try; errors are
// raised only where the text is committed to one construct.
//
// Contract
//  1. Condition() and Value() parse at the lexer's cursor and leave it on
//     the first token after what they took; they return null when nothing
//     parses there (the cursor is then where it started).
//  2. Recursion and tree depth stay within kMaxExprDepth (30160 beyond).
//  3. A rule that failed at a token position is remembered and not tried
//     there again during this parse, and a value expression that parsed is
//     remembered with its end (results depend only on the position). So
//     stepping back costs at most a copy of what was parsed before, never
//     a re-parse: time stays polynomial however alternatives nest.
//  4. Nodes built by a failed alternative are freed at once (unique_ptr).
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sql/ExprNodes.h"
#include "sql/ZUDLexer.h"

class TABSExpression;

class TABSExprParser {
 public:
  using NodePtr = std::unique_ptr<TABSExprNode>;

  TABSExprParser(TABSExpression& owner, TABSLexer& lexer);

  NodePtr Condition();
  NodePtr Value();
  const TToken& Current() const { return tok_; }

 private:
  enum Rule : uint8_t { kValue, kPrimary, kArithmetic, kStringExpr, kPrimaryCondition, kRuleCount };
  class Guard;

  // Token cursor.
  void Next() { lexer_.GetNextToken(tok_); }
  int32_t Pos() const { return lexer_.GetPosition(); }
  void Restore(int32_t pos) { lexer_.SetPosition(pos, tok_); }
  bool AtEnd() const { return tok_.TokenType == tktNone; }
  bool IsWord(TReservedWord w) const { return TABSLexer::IsReservedWord(tok_, w); }
  bool IsSymbol(const char* s) const { return tok_.TokenType == tktString && tok_.Text == s; }
  bool IsNameToken(const TToken& t) const;
  bool Failed(Rule rule, int32_t pos) const;
  void MarkFailed(Rule rule, int32_t pos);
  void CheckDepth(const TABSExprNode& node) const;
  [[noreturn]] void RaiseTooDeep() const;
  [[noreturn]] void RaiseNotBuilt() const;

  // Conditions.
  NodePtr Conjunction();
  NodePtr Factor();
  NodePtr Test();
  NodePtr PrimaryCondition();
  NodePtr Predicate();
  NodePtr Operand();
  NodePtr MakeComparison(NodePtr left, uint8_t op, NodePtr right);
  NodePtr MakeLike(NodePtr value, NodePtr pattern, bool negated, const TToken* escape);
  NodePtr InList(NodePtr value, bool negated);

  // Values.
  NodePtr ValueAlternatives(int32_t start);
  NodePtr Arithmetic();
  NodePtr Term();
  NodePtr ArithmeticFactor();
  NodePtr ArithmeticPrimary();
  NodePtr DateArithmetic();
  NodePtr DatePrimary();
  NodePtr StringExpression();
  NodePtr StringTerm();
  NodePtr Primary();
  // COUNT(*), or COUNT, SUM, AVG, MIN, MAX ([DISTINCT|ALL] value).
  NodePtr Aggregate();
  NodePtr LogicalConstant();
  NodePtr NullConstant();
  bool StartsSubquery() const;
  bool IsFunctionWord() const;

  TABSExpression& owner_;
  TABSLexer& lexer_;
  TToken tok_;
  int depth_ = 0;
  std::vector<uint8_t> failed_;  // per position, a bit per Rule
  // Value expressions that parsed, by start position: the end position and
  // the tree, handed out as copies when an alternative asks again.
  std::unordered_map<int32_t, std::pair<int32_t, NodePtr>> values_;
};

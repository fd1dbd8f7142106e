// SQLSelect: the statements with a result set and their parse trees.
// TABSSQLSelect is one SELECT block (SELECT ... FROM ...), and
// TABSSQLUnion a query expression: a tree of TABSQueryExprNode whose leaves
// are SELECT blocks. Every SELECT statement is a TABSSQLUnion, even
// without a set operator; DELETE and UPDATE select their rows with a
// TABSSQLSelect.
//
// Contract
//  1. Clauses are read in their fixed order: SELECT [ALL|DISTINCT]
//     [TOP count [, first]] list [INTO target] FROM refs [WHERE]
//     [GROUP BY] [HAVING] [ORDER BY]. A SELECT block stops at the
//     first token that continues none of them; whether the statement used
//     all its tokens is checked by the statement parser (ABSSQLProcessor.h).
//  2. A plain column item keeps TableName and FieldName and no expression;
//     a computed item keeps its expression. A plain column that repeats an
//     earlier plain column (same table and field, case-insensitive) is kept
//     as an expression (Repeated) and, without a pseudonym, is named
//     "<field>_<n>" with the smallest n >= 1 that no earlier item uses as a
//     field name or pseudonym.
//  3. Joins are left-deep: each join takes the reference built so far as
//     its left side. Set operators: INTERSECT binds tighter than UNION,
//     EXCEPT and MINUS; operators of one level associate to the left.
//  4. A query expression with a set operator has no INTO in any of its
//     SELECT blocks (20272), and an ORDER BY of its right-most
//     SELECT block is moved to the whole statement when the statement has
//     none. A single SELECT block keeps its ORDER BY and gives its INTO
//     to the statement.
//  5. Every node owns its children, expressions and subqueries.
//  6. Parenthesized table references, derived tables and parenthesized
//     query expressions nest at most kMaxStatementNesting deep; deeper text
//     raises 30160 at the token where the bound is passed, so no input can
//     exhaust the stack.
//
// Thread use: as SQLCommand.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sql/SQLCommand.h"
#include "sql/ZUDExpressions.h"

// One select-list entry; also an entry of GROUP BY and other field lists.
struct TABSSelectListItem {
  std::string TableName;  // qualifier, or empty
  std::string FieldName;
  std::string Pseudonym;
  bool AllFields = false;     // "*" or "t.*"
  bool IsExpression = false;  // computed, or a repeated plain column
  bool Repeated = false;
  std::unique_ptr<TABSExpression> Expression;  // computed and repeated items only
};

// One ORDER BY entry. FieldName is a name, or a 1-based column number in
// decimal.
struct TABSSortSpecification {
  std::string TableName;
  std::string FieldName;
  bool Descending = false;
};

enum TABSTableReferenceKind : uint8_t { trkTable = 0, trkJoin = 1, trkDerived = 2 };
enum TABSJoinType : uint8_t { ajtCross = 0, ajtInner = 1, ajtLeftOuter = 2, ajtRightOuter = 3, ajtFullOuter = 4 };

class TABSSQLUnion;

struct TABSTableReference {
  TABSTableReference();
  ~TABSTableReference();

  TABSTableReferenceKind Kind = trkTable;
  // A table (and the alias of any kind).
  std::string DatabaseName;  // a database file, or empty for the query's own database
  std::string TableName;
  std::string Alias;
  std::string Password;
  bool InMemory = false;
  // A join.
  bool Natural = false;
  TABSJoinType JoinType = ajtInner;
  std::unique_ptr<TABSTableReference> Left;
  std::unique_ptr<TABSTableReference> Right;
  bool HasUsing = false;
  std::vector<std::string> UsingFields;
  std::unique_ptr<TABSExpression> OnCondition;
  // A derived table.
  std::unique_ptr<TABSSQLUnion> Subquery;
};

// Statements with a result set.
class TABSSQLCursorCommand : public TABSSQLCommand {
 public:
  std::string IntoDatabase;
  std::string IntoTable;  // empty: no INTO
  bool IntoInMemory = false;
  bool IntoImmediate = false;
  std::vector<TABSSortSpecification> SortSpecifications;

 protected:
  using TABSSQLCommand::TABSSQLCommand;
  // ORDER BY sort-item {, sort-item}, with the cursor on ORDER.
  void ParseOrderBy();
  // A list of plain columns (`c` or `t.c`) separated by commas, with the
  // cursor on its first entry; stops at the first token after an entry
  // that is no comma. On failure returns false and sets `bad` to the
  // offending token and `expression` to whether an entry was an expression
  // (else a comma was followed by something that starts no entry).
  bool ReadFieldList(std::vector<TABSSelectListItem>& items, TToken& bad, bool& expression);
};

class TABSSQLSelect : public TABSSQLCursorCommand {
 public:
  // Parses a SELECT block at the lexer's cursor (on SELECT).
  TABSSQLSelect(TABSLexer& lexer, const TABSSQLQueryInfo& query);
  // Parses the rows of a DELETE with the cursor on FROM: exactly one
  // table (alias and password allowed) and an optional WHERE; the result
  // is SELECT * over them.
  struct DeleteSource {};
  TABSSQLSelect(TABSLexer& lexer, const TABSSQLQueryInfo& query, DeleteSource);

  bool Distinct = false;
  int64_t TopCount = -1;
  int64_t TopFirst = -1;
  bool SelectAll = false;  // the list is a bare "*"
  std::vector<TABSSelectListItem> SelectList;
  std::vector<std::unique_ptr<TABSTableReference>> FromTables;
  std::unique_ptr<TABSExpression> Where;
  std::vector<TABSSelectListItem> GroupBy;
  std::unique_ptr<TABSExpression> Having;

 private:
  void Parse();
  void ParseTop();
  void ParseSelectList();
  void ParseSelectItem();
  void NameRepeat(TABSSelectListItem& item);
  void ParseInto();
  void ParseFrom();
  std::unique_ptr<TABSTableReference> ParseTableReference();
  std::unique_ptr<TABSTableReference> ParseJoin(std::unique_ptr<TABSTableReference> left);
  std::unique_ptr<TABSTableReference> ParseTablePrimary(bool joined);
  std::unique_ptr<TABSTableReference> ParseTableName(bool joined);
  void ParseAlias(TABSTableReference& ref);
  void ParseGroupBy();
  // WHERE and HAVING see the pseudonyms of the select list; ON does not.
  std::unique_ptr<TABSExpression> ParseCondition(bool resolvePseudonyms = true);
  void ResolvePseudonyms(TABSExpression& condition) const;
  // Moves on; the end of the statement raises 30161.
  void Need();

  // Parse-time indexes of the select list, so that repeats are found and
  // named in time linear in the list's length (names upper-cased): the
  // plain columns as "TABLE.FIELD", every field name and pseudonym, and
  // per field name the smallest suffix that may still be free.
  std::unordered_set<std::string> plainItems_;
  std::unordered_set<std::string> usedNames_;
  std::unordered_map<std::string, int> nextSuffix_;
};

// One node of a query expression.
enum TABSSetOperation : uint8_t { asoLeaf = 0, asoUnion = 1, asoExcept = 2, asoIntersect = 3 };

struct TABSQueryExprNode {
  TABSSetOperation Operation = asoLeaf;
  std::unique_ptr<TABSQueryExprNode> Left;
  std::unique_ptr<TABSQueryExprNode> Right;
  bool All = false;
  bool Corresponding = false;
  std::vector<std::string> CorrespondingFields;  // CORRESPONDING BY (...); empty for plain CORRESPONDING
  std::unique_ptr<TABSSQLSelect> Select;         // a leaf's SELECT block
};

class TABSSQLUnion : public TABSSQLCursorCommand {
 public:
  // Parses a query expression at the lexer's cursor (on SELECT or "(").
  // A statement takes a trailing ORDER BY for the whole expression; a
  // derived table does not, since an ORDER BY after it belongs to the
  // query around it.
  TABSSQLUnion(TABSLexer& lexer, const TABSSQLQueryInfo& query, bool statement = true);

  std::unique_ptr<TABSQueryExprNode> Root;
  bool HasSetOperation() const { return Root && Root->Operation != asoLeaf; }

 private:
  std::unique_ptr<TABSQueryExprNode> Expression();
  std::unique_ptr<TABSQueryExprNode> Term();
  std::unique_ptr<TABSQueryExprNode> Primary();
  std::unique_ptr<TABSQueryExprNode> Combine(std::unique_ptr<TABSQueryExprNode> left, TABSSetOperation op);
  void Need();
};

constexpr int kMaxStatementNesting = 64;

// Counts the nesting of the current thread's statement parse (contract 6)
// for as long as it lives.
class TABSStatementNesting {
 public:
  explicit TABSStatementNesting(const TToken& at);
  ~TABSStatementNesting();
  TABSStatementNesting(const TABSStatementNesting&) = delete;
  TABSStatementNesting& operator=(const TABSStatementNesting&) = delete;
};

// True when the tokens from the cursor on open parentheses and then SELECT:
// a query where a table reference or a value could also begin.
bool StartsQuery(const TABSLexer& lexer);

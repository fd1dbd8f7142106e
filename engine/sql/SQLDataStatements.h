// SQLDataStatements: the data-changing statements INSERT, UPDATE and
// DELETE and their parse trees.
//
// Contract
//  1. INSERT INTO [MEMORY] [db .] table [PASSWORD pw] [(columns)] source,
//     where source is VALUES (row) {, (row)} or a SELECT block, bare
//     or in parentheses. With a column list, every row has exactly as many
//     values as there are columns (20259 names the first row that differs).
//  2. UPDATE [MEMORY] [db .] table [[AS] alias] [PASSWORD pw] SET
//     assignments [WHERE condition]. The rows to change are selected by a
//     SELECT block that the statement parses from a token stream of
//     its own (SELECT * FROM target [WHERE ...]); that stream lives in the
//     statement's own lexer, which holds its own copies of every parameter
//     value, so the statement outlives the lexer it was parsed from and no
//     value is freed twice. A column of SET may be qualified only by the
//     statement's table name or alias (30217 otherwise).
//  3. DELETE FROM table [[AS] alias] [PASSWORD pw] [WHERE condition]: one
//     plain table only. Joins, lists, derived tables and further clauses
//     are refused, as is any token left after the statement, so a mistyped
//     WHERE can never turn into a statement over the whole table.
//
// Thread use: as SQLCommand.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/SQLSelect.h"

// The table a data statement writes.
struct TABSSQLTarget {
  std::string DatabaseName;
  std::string TableName;
  std::string Alias;
  std::string Password;
  bool InMemory = false;
};

class TABSSQLInsert : public TABSSQLCommand {
 public:
  TABSSQLInsert(TABSLexer& lexer, const TABSSQLQueryInfo& query);

  TABSSQLTarget Target;
  std::vector<std::string> Columns;  // empty: all columns in table order
  std::vector<std::vector<std::unique_ptr<TABSExpression>>> Rows;
  std::unique_ptr<TABSSQLSelect> Source;  // the query form, instead of Rows

 private:
  void ParseColumns();
  void ParseValues();
  void ParseQuery(bool parenthesized);
};

// One SET entry: a column = value, or the row form (columns) = (query),
// whose columns take the values of the query's single row.
struct TABSSQLAssignment {
  std::vector<std::string> Columns;  // one name, or the row form's list
  std::string Qualifier;             // "t" of t.column: the statement's table name or alias
  std::unique_ptr<TABSExpression> Value;
  std::unique_ptr<TABSSQLSelect> RowQuery;
};

class TABSSQLUpdate : public TABSSQLCommand {
 public:
  TABSSQLUpdate(TABSLexer& lexer, const TABSSQLQueryInfo& query);
  ~TABSSQLUpdate() override;

  TABSSQLTarget Target;
  std::vector<TABSSQLAssignment> Assignments;
  // The lexer of the rows' query (contract 2), then the query over it.
  const TABSLexer& RowsLexer() const { return *rowsLexer_; }
  const TABSSQLSelect& Rows() const { return *rows_; }

 private:
  void ParseAssignment();
  void BuildRows(const TToken& updateToken, const TToken* database, const TToken& table, const TToken* alias,
                 const TToken* password, bool memory);

  std::unique_ptr<TABSLexer> rowsLexer_;
  std::unique_ptr<TABSSQLSelect> rows_;  // freed before rowsLexer_
};

class TABSSQLDelete : public TABSSQLCommand {
 public:
  TABSSQLDelete(TABSLexer& lexer, const TABSSQLQueryInfo& query);

  // SELECT * over the one table, with the WHERE condition: the rows to
  // delete.
  std::unique_ptr<TABSSQLSelect> Rows;
};

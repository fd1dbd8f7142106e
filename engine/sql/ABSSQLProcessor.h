// ABSSQLProcessor: the SQL processor. It runs the statement text of one
// query component: tokenizes the whole text, then for each statement in
// turn recognises it by its first words, parses it into a statement object,
// executes it, adds its affected rows to the total and frees it before the
// next statement is parsed. The last statement stays alive; when it is a
// SELECT it owns the result.
//
// Files of the statement layer:
//   ABSSQLProcessor.h       the processor and the statement parser (this file)
//   SQLCommand.h            TABSSQLCommand, the owner's settings, name-token classes
//   SQLSelect.h             SELECT blocks and expressions, their parse trees
//                           (SQLSelect.cpp, SQLSelectFrom.cpp, SQLUnion.cpp)
//   SQLResultNames.h        the names of a result's columns
//   SQLDataStatements.h     INSERT, UPDATE, DELETE (SQLInsert.cpp, SQLUpdate.cpp,
//                           SQLDelete.cpp)
//   DDLTableManipulation.h  CREATE/DROP/ALTER/RENAME TABLE, TRUNCATE, column
//                           definitions (DDLTableManipulationColumns.cpp)
//   DDLIndex.h              CREATE INDEX, DROP INDEX
//   SQLTransaction.h        START TRANSACTION, COMMIT, ROLLBACK
// Expressions are parsed by the expression layer (ZUDExpressions.h), which
// reads the same tokens.
//
// Contract
//  1. Execute makes a new lexer over the text with the current parameters,
//     so every execution sees the values current at its start. A text with
//     no statement raises 30145; a text whose statements all succeed ends
//     quietly.
//  2. A statement must use all its tokens: a token left after a table
//     statement raises 30246, after any other statement 20260, so a
//     mistyped clause is never ignored.
//  3. A failed statement stops the text; the statements before it have
//     taken effect. The processor stays usable: the next Execute starts
//     afresh.
//  4. Statements whose execution is not built yet raise 30350 "Not
//     implemented yet" after they have parsed (SQLCommand.h contract 4).
//  5. Query statements run through the executor the owner sets, since
//     they read tables through cursors of the layer above this one; the
//     executor keeps the result of the last query until its owner takes
//     it. Without an executor a query raises 30350 like any statement
//     whose execution is not built.
//
// Thread use: a processor belongs to its query component and is used by the
// thread that opens or executes the query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sql/SQLCommand.h"
#include "sql/ZUDLexer.h"

// Parses the lexer's current statement (contract 2) with the cursor on its
// first token.
std::unique_ptr<TABSSQLCommand> ParseStatement(TABSLexer& lexer, const TABSSQLQueryInfo& query);

class TABSSQLUnion;

// Runs query statements (contract 5); implemented above the SQL layer.
class TABSSQLExecutor {
 public:
  virtual ~TABSSQLExecutor() = default;
  // Executes `statement`; `resultReadOnly` receives whether its result may
  // be edited. A failure leaves no result, no lock and no open table.
  virtual void ExecuteSelect(TABSSQLUnion& statement, bool requestLive, bool& resultReadOnly) = 0;
};

class TABSSQLProcessor {
 public:
  explicit TABSSQLProcessor(TABSSQLQueryInfo query);
  virtual ~TABSSQLProcessor();
  TABSSQLProcessor(const TABSSQLProcessor&) = delete;
  TABSSQLProcessor& operator=(const TABSSQLProcessor&) = delete;

  // Filled by the owner before every execution.
  TABSSQLParams& Params() { return params_; }
  void SetSQL(std::string text) { sqlText_ = std::move(text); }
  // Contract 5; the executor outlives the processor's executions.
  void SetExecutor(TABSSQLExecutor* executor) { executor_ = executor; }
  const std::string& SQLText() const { return sqlText_; }

  // Runs every statement of the text (contracts 1 to 3). Returns the last
  // statement when it is a query (its result), else null.
  TABSSQLCommand* Execute();

  int64_t RowsAffected() const { return rowsAffected_; }
  bool ResultReadOnly() const { return resultReadOnly_; }
  // The statement kept from the last execution, or null.
  const TABSSQLCommand* LastCommand() const { return command_.get(); }

 protected:
  // Makes the statement object for the lexer's current statement.
  virtual std::unique_ptr<TABSSQLCommand> MakeStatement(TABSLexer& lexer);
  const TABSSQLQueryInfo& Query() const { return query_; }

 private:
  TABSSQLQueryInfo query_;
  TABSSQLParams params_;
  std::string sqlText_;
  // The statement refers to the lexer's tokens while it parses: freed first.
  std::unique_ptr<TABSLexer> lexer_;
  std::unique_ptr<TABSSQLCommand> command_;
  TABSSQLExecutor* executor_ = nullptr;
  int64_t rowsAffected_ = 0;
  bool resultReadOnly_ = true;
};

// The processor a query component makes.
class TABSLocalSQLProcessor : public TABSSQLProcessor {
 public:
  using TABSSQLProcessor::TABSSQLProcessor;
};

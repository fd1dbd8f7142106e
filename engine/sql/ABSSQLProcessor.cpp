#include "sql/ABSSQLProcessor.h"

#include "core/ZUDExcept.h"
#include "sql/DDLIndex.h"
#include "sql/DDLTableManipulation.h"
#include "sql/SQLDataStatements.h"
#include "sql/SQLSelect.h"
#include "sql/SQLTransaction.h"

namespace {

bool IsTableStatement(TABSSQLCommandKind kind) {
  switch (kind) {
    case sckCreateTable:
    case sckDropTable:
    case sckTruncateTable:
    case sckAlterTable:
    case sckRenameTable: return true;
    default: return false;
  }
}

std::unique_ptr<TABSSQLCommand> MakeByFirstWords(TABSLexer& lexer, const TABSSQLQueryInfo& query) {
  TToken first;
  if (!lexer.GetCurrentToken(first)) throw EABSException(30146, "Blank SQL command");
  TToken second;
  const bool hasSecond = lexer.LookAhead(second);
  auto is = [](const TToken& t, TReservedWord w) { return TABSLexer::IsReservedWord(t, w); };
  if (is(first, rwSELECT) || first.TokenType == tktLeftParenthesis) return std::make_unique<TABSSQLUnion>(lexer, query);
  if (is(first, rwINSERT)) return std::make_unique<TABSSQLInsert>(lexer, query);
  if (is(first, rwUPDATE)) return std::make_unique<TABSSQLUpdate>(lexer, query);
  if (is(first, rwDELETE)) return std::make_unique<TABSSQLDelete>(lexer, query);
  if (is(first, rwCREATE)) {
    if (!hasSecond)
      throw EABSException(30148, "Unexpected end of SQL command found at line %d, column %d",
                          {second.Line, second.Column});
    if (is(second, rwTABLE)) return std::make_unique<TABSDDLCreateTable>(lexer, query);
    if (is(second, rwUNIQUE) || is(second, rwINDEX)) return std::make_unique<TABSDDLCreateIndex>(lexer, query);
    throw EABSException(30147, "Object type keyword expected, but '%s' found at line %d, column %d",
                        {second.Text, second.Line, second.Column});
  }
  if (is(first, rwDROP)) {
    if (!hasSecond)
      throw EABSException(30150, "Unexpected end of SQL command found at line %d, column %d",
                          {second.Line, second.Column});
    if (is(second, rwTABLE)) return std::make_unique<TABSDDLDropTable>(lexer, query);
    if (is(second, rwINDEX)) return std::make_unique<TABSDDLDropIndex>(lexer, query);
    throw EABSException(30149, "Object type keyword expected, but '%s' found at line %d, column %d",
                        {second.Text, second.Line, second.Column});
  }
  if (is(first, rwALTER)) {
    if (!hasSecond)
      throw EABSException(30152, "Unexpected end of SQL command found at line %d, column %d",
                          {second.Line, second.Column});
    if (is(second, rwTABLE)) return std::make_unique<TABSDDLAlterTable>(lexer, query);
    throw EABSException(30151, "Object type keyword expected, but '%s' found at line %d, column %d",
                        {second.Text, second.Line, second.Column});
  }
  if (is(first, rwRENAME)) return std::make_unique<TABSDDLRenameTable>(lexer, query);
  if (is(first, rwTRUNCATE)) return std::make_unique<TABSDDLTruncateTable>(lexer, query);
  if (is(first, rwSTART)) return std::make_unique<TABSSQLStartTransaction>(lexer, query);
  if (is(first, rwCOMMIT)) return std::make_unique<TABSSQLCommit>(lexer, query);
  if (is(first, rwROLLBACK)) return std::make_unique<TABSSQLRollback>(lexer, query);
  if (first.TokenType == tktReservedWord)
    throw EABSException(30153, "SQL token expected, but '%s' found at line %d, column %d",
                        {first.Text, first.Line, first.Column});
  throw EABSException(30154, "SQL token expected, but '%s' found at line %d, column %d",
                      {first.Text, first.Line, first.Column});
}

}  // namespace

std::unique_ptr<TABSSQLCommand> ParseStatement(TABSLexer& lexer, const TABSSQLQueryInfo& query) {
  std::unique_ptr<TABSSQLCommand> command = MakeByFirstWords(lexer, query);
  TToken rest;
  if (lexer.GetCurrentToken(rest)) {
    if (IsTableStatement(command->Kind()))
      throw EABSException(30246, "Unexpected token '%s' found at line %d, column %d",
                          {rest.Text, rest.Line, rest.Column});
    throw EABSException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.Line, rest.Column});
  }
  return command;
}

TABSSQLProcessor::TABSSQLProcessor(TABSSQLQueryInfo query) : query_(std::move(query)) {}

TABSSQLProcessor::~TABSSQLProcessor() {
  command_.reset();
  lexer_.reset();
}

std::unique_ptr<TABSSQLCommand> TABSSQLProcessor::MakeStatement(TABSLexer& lexer) {
  return ParseStatement(lexer, query_);
}

TABSSQLCommand* TABSSQLProcessor::Execute() {
  rowsAffected_ = 0;
  resultReadOnly_ = true;
  command_.reset();
  lexer_.reset();
  lexer_ = std::make_unique<TABSLexer>(sqlText_, false, &params_);
  if (!lexer_->NextCommand()) throw EABSException(30145, "Blank SQL command");
  do {
    command_.reset();
    command_ = MakeStatement(*lexer_);
    if (executor_ && command_->Kind() == sckSelect)
      executor_->ExecuteSelect(static_cast<TABSSQLUnion&>(*command_), query_.RequestLive, resultReadOnly_);
    else
      command_->Execute(query_.RequestLive, resultReadOnly_);
    rowsAffected_ += command_->RowsAffected;
  } while (lexer_->NextCommand());
  return command_->Kind() == sckSelect ? command_.get() : nullptr;
}

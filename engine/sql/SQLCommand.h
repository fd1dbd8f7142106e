// SQLCommand: TABSSQLCommand, the base of every statement class, and what
// all statements share: the owner's settings (TABSSQLQueryInfo), the token
// cursor over the lexer's current statement and the classes of name tokens.
//
// Contract
//  1. A statement is parsed by its constructor: an object that exists holds
//     a complete parse tree. A failed parse raises EABSException with the
//     line and column of the offending token and frees what it built.
//  2. Token always holds a copy of the token under the lexer's cursor; past
//     the end it is tktNone and carries the position of the statement's
//     last token, so "Unexpected end" messages point at the last token.
//  3. A statement reads its lexer only while it parses: the lexer may be
//     freed before the statement, and nothing of the tree points into it
//     (parameter values are copied into expression constants and names).
//     TABSSQLUpdate owns a second lexer of its own for the rows it selects.
//  4. Execute of a statement whose execution is not built raises 30350
//     "Not implemented yet"; parsing is complete for every kind.
//
// Thread use: a statement belongs to the thread of its processor.
#pragma once

#include <cstdint>
#include <string>

#include "core/ZUDMetaObjectDef.h"  // UpperName, SameName: names compare as the engine compares them
#include "sql/ZUDLexer.h"

// What statements take from the query component that owns the processor:
// copied when the processor is made, so the SQL layer does not depend on
// the component.
struct TABSSQLQueryInfo {
  std::string SessionName;
  std::string DatabaseName;
  bool InMemory = false;     // tables without MEMORY still open in the in-memory database
  bool RequestLive = false;  // the owner asks for an editable result
};

enum TABSSQLCommandKind : uint8_t {
  sckSelect,  // TABSSQLUnion
  sckInsert,
  sckUpdate,
  sckDelete,
  sckCreateTable,
  sckDropTable,
  sckTruncateTable,
  sckAlterTable,
  sckRenameTable,
  sckCreateIndex,
  sckDropIndex,
  sckStartTransaction,
  sckCommit,
  sckRollback,
};

class TABSSQLCommand {
 public:
  virtual ~TABSSQLCommand() = default;
  TABSSQLCommand(const TABSSQLCommand&) = delete;
  TABSSQLCommand& operator=(const TABSSQLCommand&) = delete;

  TABSSQLCommandKind Kind() const { return kind_; }
  const TABSSQLQueryInfo& Query() const { return query_; }

  // Runs the statement (contract 4). `resultReadOnly` receives whether a
  // result may be edited.
  virtual void Execute(bool requestLive, bool& resultReadOnly);

  bool InMemory = false;  // the statement's table is in the in-memory database
  int32_t RowsAffected = 0;

 protected:
  TABSSQLCommand(TABSSQLCommandKind kind, TABSLexer& lexer, const TABSSQLQueryInfo& query);

  TABSLexer& Lexer() const { return lexer_; }
  // Moves to the next token; false at the end of the statement.
  bool Next() { return lexer_.GetNextToken(Token); }
  // Copies the token under the cursor again, after a parser that moved it.
  void Reload() { lexer_.GetCurrentToken(Token); }
  bool AtEnd() const { return Token.TokenType == tktNone; }
  bool IsWord(TReservedWord word) const { return TABSLexer::IsReservedWord(Token, word); }
  bool IsSymbol(const char* symbol) const { return Token.TokenType == tktString && Token.Text == symbol; }

  TToken Token;

 private:
  TABSSQLCommandKind kind_;
  TABSLexer& lexer_;
  TABSSQLQueryInfo query_;
};

// Name-token classes of the grammar. An operator symbol ("*", "=", ...) is
// a tktString too but never a name.
bool IsTableNameToken(const TToken& token);   // word, quoted, bracketed, reserved word, parameter
bool IsColumnNameToken(const TToken& token);  // word, quoted, bracketed, reserved word
bool IsPseudonymToken(const TToken& token);   // word, quoted, bracketed
// The name a token gives: its text, or for a parameter its value's text.
std::string NameText(const TToken& token);

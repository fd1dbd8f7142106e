#include "core/ZUDExcept.h"
#include "sql/SQLDataStatements.h"

TABSSQLDelete::TABSSQLDelete(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckDelete, lexer, query) {
  if (!Next())
    throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (!IsWord(rwFROM))
    throw EABSException(30184, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"FROM", Token.Text, Token.Line, Token.Column});
  Rows = std::make_unique<TABSSQLSelect>(lexer, query, TABSSQLSelect::DeleteSource{});
  Reload();
  if (Rows->FromTables[0]->InMemory) InMemory = true;
}

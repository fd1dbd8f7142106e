#include "sql/SQLTransaction.h"

#include "core/ZUDExcept.h"

TABSSQLStartTransaction::TABSSQLStartTransaction(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckStartTransaction, lexer, query) {
  if (AtEnd()) throw EABSException(30457, "Blank SQL command");
  if (!IsWord(rwSTART))
    throw EABSException(30458, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"START", Token.Text, Token.Line, Token.Column});
  if (!Next())
    throw EABSException(30459, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (!IsWord(rwTRANSACTION))
    throw EABSException(30460, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"TRANSACTION", Token.Text, Token.Line, Token.Column});
  Next();
}

TABSSQLCommit::TABSSQLCommit(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckCommit, lexer, query) {
  if (AtEnd()) throw EABSException(30461, "Blank SQL command");
  if (!IsWord(rwCOMMIT))
    throw EABSException(30462, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"COMMIT", Token.Text, Token.Line, Token.Column});
  while (Next()) Flush = Flush || IsWord(rwFLUSH);
}

TABSSQLRollback::TABSSQLRollback(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckRollback, lexer, query) {
  if (AtEnd()) throw EABSException(30463, "Blank SQL command");
  if (!IsWord(rwROLLBACK))
    throw EABSException(30464, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"ROLLBACK", Token.Text, Token.Line, Token.Column});
  Next();
}

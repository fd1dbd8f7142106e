// SQLTransaction: START TRANSACTION, COMMIT [words] and ROLLBACK.
// COMMIT reads and ignores the rest of its statement, except that the word
// FLUSH anywhere in it asks for a commit with flush.
//
// Thread use: as SQLCommand.h.
#pragma once

#include "sql/SQLCommand.h"

class TABSSQLStartTransaction : public TABSSQLCommand {
 public:
  TABSSQLStartTransaction(TABSLexer& lexer, const TABSSQLQueryInfo& query);
};

class TABSSQLCommit : public TABSSQLCommand {
 public:
  TABSSQLCommit(TABSLexer& lexer, const TABSSQLQueryInfo& query);
  bool Flush = false;
};

class TABSSQLRollback : public TABSSQLCommand {
 public:
  TABSSQLRollback(TABSLexer& lexer, const TABSSQLQueryInfo& query);
};

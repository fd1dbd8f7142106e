// The table statements: CREATE, DROP, TRUNCATE, ALTER and RENAME TABLE,
// their table target and their element lists. Column definitions are in
// DDLTableManipulationColumns.cpp.
#include "sql/DDLTableManipulation.h"
#include "core/ZUDExcept.h"
#include "sql/SQLSelect.h"

void TABSDDLTableManipulation::Need() {
  if (!Next())
    throw EABSException(30237, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
}

void TABSDDLTableManipulation::ParseTableTarget() {
  if (IsWord(rwMEMORY)) {
    InMemory = true;
    Need();
  }
  if (!IsTableNameToken(Token))
    throw EABSException(30230, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  TableName = NameText(Token);
  Next();
  if (Token.TokenType == tktDot) {
    Need();
    if (!IsTableNameToken(Token))
      throw EABSException(30231, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    DatabaseName = std::move(TableName);
    TableName = NameText(Token);
    Next();
  }
  if (IsWord(rwPASSWORD)) {
    Need();
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      throw EABSException(
          30238, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
          {Token.Text, Token.Line, Token.Column});
    Password = NameText(Token);
    Next();
  }
}

void TABSDDLTableManipulation::ParseElements(bool constraints) {
  if (Token.TokenType != tktLeftParenthesis) {
    if (AtEnd())
      throw EABSException(30237, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(30226, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"(", Token.Text, Token.Line, Token.Column});
  }
  for (;;) {
    Need();
    if (constraints && (IsWord(rwPRIMARY) || IsWord(rwUNIQUE) || IsWord(rwINDEX))) {
      TSQLIndexDef index;
      if (IsWord(rwPRIMARY)) {
        index.Primary = index.Unique = true;
        Need();
        if (IsWord(rwKEY)) Need();
      } else {
        if (IsWord(rwUNIQUE)) {
          index.Unique = true;
          Need();
          if (!IsWord(rwINDEX))
            throw EABSException(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d",
                                {Token.Text, Token.Line, Token.Column});
        }
        Need();
      }
      if (Token.TokenType != tktLeftParenthesis && IsColumnNameToken(Token)) {
        index.Name = Token.Text;
        Need();
      }
      if (Token.TokenType != tktLeftParenthesis)
        throw EABSException(30226, "Token '%s' expected, but '%s' found at line %d, column %d",
                            {"(", Token.Text, Token.Line, Token.Column});
      ParseIndexColumns(index);
      IndexDefs.push_back(std::move(index));
    } else {
      ParseColumn();
    }
    if (Token.TokenType == tktComma) continue;
    if (Token.TokenType == tktRightParenthesis) {
      Next();
      return;
    }
    if (AtEnd())
      throw EABSException(30237, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(30229, "')' or ',' symbol expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  }
}

void TABSDDLTableManipulation::ParseIndexColumns(TSQLIndexDef& index) {
  for (;;) {
    Need();
    if (!IsColumnNameToken(Token))
      throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    TSQLIndexColumn column;
    column.Name = Token.Text;
    for (;;) {
      Need();
      if (IsWord(rwASC))
        column.Descending = false;
      else if (IsWord(rwDESC))
        column.Descending = true;
      else if (IsWord(rwCASE))
        column.CaseInsensitive = false;
      else if (IsWord(rwNOCASE))
        column.CaseInsensitive = true;
      else
        break;
    }
    index.Columns.push_back(std::move(column));
    if (Token.TokenType == tktComma) continue;
    if (Token.TokenType != tktRightParenthesis)
      throw EABSException(30229, "')' or ',' symbol expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Need();  // an index is an element: "," or ")" follows
    return;
  }
}

// ---- CREATE TABLE ------------------------------------------------------------------

TABSDDLCreateTable::TABSDDLCreateTable(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSDDLTableManipulation(sckCreateTable, lexer, query) {
  Next();  // TABLE
  if (!Next()) throw EABSException(30249, "Blank SQL command");
  if (IsWord(rwIF)) {
    Need();
    if (!IsWord(rwNOT))
      throw EABSException(30486, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"NOT", Token.Text, Token.Line, Token.Column});
    Need();
    if (!IsWord(rwEXISTS))
      throw EABSException(30487, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"EXISTS", Token.Text, Token.Line, Token.Column});
    Need();
    IfNotExists = true;
  }
  ParseTableTarget();
  ParseElements(true);
}

// ---- DROP TABLE, TRUNCATE ----------------------------------------------------------

TABSDDLDropTable::TABSDDLDropTable(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSDDLTableManipulation(sckDropTable, lexer, query) {
  Next();  // TABLE
  if (!Next()) throw EABSException(30251, "Blank SQL command");
  if (IsWord(rwIF)) {
    Need();
    if (!IsWord(rwEXISTS))
      throw EABSException(30485, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"EXISTS", Token.Text, Token.Line, Token.Column});
    Need();
    IfExists = true;
  }
  ParseTableTarget();
}

TABSDDLTruncateTable::TABSDDLTruncateTable(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSDDLTableManipulation(sckTruncateTable, lexer, query) {
  if (!Next()) throw EABSException(30490, "Blank SQL command");
  if (IsWord(rwTABLE) && !Next()) throw EABSException(30490, "Blank SQL command");
  ParseTableTarget();
}

// ---- ALTER TABLE, RENAME TABLE -----------------------------------------------------

TABSDDLAlterTable::TABSDDLAlterTable(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSDDLTableManipulation(sckAlterTable, lexer, query) {
  Next();  // TABLE
  if (!Next()) throw EABSException(30261, "Blank SQL command");
  ParseTableTarget();
  if (IsWord(rwADD)) {
    Action = aaaAdd;
    Need();
    ParseElements(true);
  } else if (IsWord(rwDROP)) {
    Action = aaaDrop;
    ParseDrop();
  } else if (IsWord(rwMODIFY)) {
    Action = aaaModify;
    Need();
    ParseElements(false);
  } else if (IsWord(rwRENAME)) {
    ParseRename();
  } else {
    if (AtEnd())
      throw EABSException(30237, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(30252, "ADD, DROP or MODIFY keyword expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  }
}

void TABSDDLAlterTable::ParseDrop() {
  Need();
  const bool parenthesized = Token.TokenType == tktLeftParenthesis;
  if (!parenthesized && !IsWord(rwCOLUMN))
    throw EABSException(30226, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"(", Token.Text, Token.Line, Token.Column});
  for (;;) {
    Need();
    if (!IsColumnNameToken(Token))
      throw EABSException(10411, "Field name expected, but expression '%s...' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    DropColumns.push_back(Token.Text);
    Next();
    if (Token.TokenType == tktComma) continue;
    break;
  }
  if (!parenthesized) return;
  if (Token.TokenType != tktRightParenthesis) {
    if (AtEnd())
      throw EABSException(30237, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(10410, "Unexpected token '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  }
  Next();
}

void TABSDDLAlterTable::ParseRename() {
  Need();
  if (IsWord(rwTO)) {
    Action = aaaRenameTable;
    Need();
    if (!IsTableNameToken(Token))
      throw EABSException(30231, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    NewTableName = NameText(Token);
    Next();
    return;
  }
  Action = aaaRenameColumn;
  if (IsWord(rwCOLUMN)) Need();
  if (!IsColumnNameToken(Token))
    throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  OldColumnName = Token.Text;
  Need();
  if (!IsWord(rwTO))
    throw EABSException(30352, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"TO", Token.Text, Token.Line, Token.Column});
  Need();
  if (!IsColumnNameToken(Token))
    throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  NewColumnName = Token.Text;
  Next();
}

TABSDDLAlterTable::TABSDDLAlterTable(TABSLexer& lexer, const TABSSQLQueryInfo& query, Rename)
    : TABSDDLTableManipulation(sckRenameTable, lexer, query) {
  Action = aaaRenameTable;
  if (!Next())
    throw EABSException(30353, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (IsWord(rwTABLE) && !Next()) throw EABSException(30354, "Blank SQL command");
  ParseTableTarget();
  if (!IsWord(rwTO)) {
    if (AtEnd())
      throw EABSException(30353, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(30355, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"TO", Token.Text, Token.Line, Token.Column});
  }
  Need();
  if (!IsTableNameToken(Token))
    throw EABSException(30231, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  NewTableName = NameText(Token);
  Next();
}

TABSDDLRenameTable::TABSDDLRenameTable(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSDDLAlterTable(lexer, query, Rename{}) {}

#include "sql/DDLIndex.h"

#include "core/ZUDExcept.h"

TABSDDLCreateIndex::TABSDDLCreateIndex(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckCreateIndex, lexer, query) {
  if (!Next()) throw EABSException(30266, "Blank SQL command");
  if (IsWord(rwUNIQUE)) {
    Index.Unique = true;
    if (!Next()) throw EABSException(30266, "Blank SQL command");
    if (!IsWord(rwINDEX))
      throw EABSException(30267, "'INDEX' keyword expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
  }
  Need();
  if (!IsColumnNameToken(Token))
    throw EABSException(30269, "index name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  Index.Name = Token.Text;
  Need();
  if (!IsWord(rwON))
    throw EABSException(30270, "'ON' keyword expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  Need();
  if (IsWord(rwMEMORY)) {
    InMemory = true;
    Need();
  }
  if (!IsTableNameToken(Token))
    throw EABSException(30230, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  TableName = NameText(Token);
  Need();
  if (Token.TokenType == tktDot) {
    Need();
    if (!IsTableNameToken(Token))
      throw EABSException(30231, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    DatabaseName = std::move(TableName);
    TableName = NameText(Token);
    Need();
  }
  if (IsPseudonymToken(Token)) {
    Alias = Token.Text;
    Need();
  }
  if (IsWord(rwPASSWORD)) {
    Need();
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      throw EABSException(
          30275, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
          {Token.Text, Token.Line, Token.Column});
    Password = NameText(Token);
    Need();
  }
  if (Token.TokenType != tktLeftParenthesis)
    throw EABSException(30273, "'(' symbol expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  ParseEntries();
}

void TABSDDLCreateIndex::Need() {
  if (!Next())
    throw EABSException(30277, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
}

void TABSDDLCreateIndex::ParseEntries() {
  for (;;) {
    Need();
    if (IsWord(rwPASSWORD)) {
      Need();
      if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
        throw EABSException(
            30275, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
            {Token.Text, Token.Line, Token.Column});
      Password = NameText(Token);
      Need();
    } else {
      if (!IsColumnNameToken(Token))
        throw EABSException(30274, "Field name expected, but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      TSQLIndexColumn column;
      column.Name = Token.Text;
      Need();
      for (int depth = 0; depth > 0 || (Token.TokenType != tktComma && Token.TokenType != tktRightParenthesis);) {
        if (IsWord(rwASC))
          column.Descending = false;
        else if (IsWord(rwDESC))
          column.Descending = true;
        else if (IsWord(rwCASE))
          column.CaseInsensitive = false;
        else if (IsWord(rwNOCASE))
          column.CaseInsensitive = true;
        else if (Token.TokenType == tktLeftParenthesis)
          ++depth;
        else if (Token.TokenType == tktRightParenthesis)
          --depth;
        Need();
      }
      Index.Columns.push_back(std::move(column));
    }
    if (Token.TokenType == tktComma) continue;
    if (Token.TokenType != tktRightParenthesis)
      throw EABSException(30276, "')' or ',' symbol expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Next();
    return;
  }
}

TABSDDLDropIndex::TABSDDLDropIndex(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckDropIndex, lexer, query) {
  Next();  // INDEX
  Need();
  if (IsWord(rwMEMORY)) {
    InMemory = true;
    Need();
  }
  std::vector<std::string> names;
  for (;;) {
    if (!IsTableNameToken(Token))
      throw EABSException(30498, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    const TToken name = Token;
    names.push_back(NameText(Token));
    Next();
    if (Token.TokenType != tktDot || names.size() == 3) {
      if (names.size() == 1)
        throw EABSException(30498, "Table name expected, but '%s' found at line %d, column %d",
                            {name.Text, name.Line, name.Column});
      break;
    }
    Need();
  }
  if (names.size() == 3) DatabaseName = names[0];
  TableName = names[names.size() - 2];
  IndexName = names.back();
  if (IsWord(rwPASSWORD)) {
    Need();
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      throw EABSException(
          30282, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
          {Token.Text, Token.Line, Token.Column});
    Password = NameText(Token);
    Next();
  }
}

void TABSDDLDropIndex::Need() {
  if (!Next())
    throw EABSException(30281, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
}

#include "core/ZUDExcept.h"
#include "sql/ExprParser.h"
#include "sql/SQLDataStatements.h"

TABSSQLInsert::TABSSQLInsert(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckInsert, lexer, query) {
  if (AtEnd()) throw EABSException(30204, "Blank SQL command");
  if (!Next())
    throw EABSException(30205, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (!IsWord(rwINTO))
    throw EABSException(30206, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"INTO", Token.Text, Token.Line, Token.Column});
  if (!Next())
    throw EABSException(30205, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (IsWord(rwMEMORY)) {
    Target.InMemory = InMemory = true;
    if (!Next())
      throw EABSException(30205, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  if (!IsTableNameToken(Token))
    throw EABSException(30207, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  Target.TableName = NameText(Token);
  if (!Next())
    throw EABSException(30209, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (Token.TokenType == tktDot) {
    if (!Next())
      throw EABSException(30209, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (!IsTableNameToken(Token))
      throw EABSException(30208, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Target.DatabaseName = std::move(Target.TableName);
    Target.TableName = NameText(Token);
    if (!Next())
      throw EABSException(30209, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  if (IsWord(rwPASSWORD)) {
    if (!Next())
      throw EABSException(30209, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      throw EABSException(
          30210, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
          {Token.Text, Token.Line, Token.Column});
    Target.Password = NameText(Token);
    if (!Next())
      throw EABSException(30209, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  if (Token.TokenType == tktLeftParenthesis) {
    TToken after;
    if (Lexer().LookAhead(after) && TABSLexer::IsReservedWord(after, rwSELECT)) {
      ParseQuery(true);
      return;
    }
    ParseColumns();
  }
  if (IsWord(rwVALUES)) {
    ParseValues();
  } else if (IsWord(rwSELECT)) {
    ParseQuery(false);
  } else if (Token.TokenType == tktLeftParenthesis && !Columns.empty() && StartsQuery(Lexer())) {
    ParseQuery(true);
  } else if (AtEnd()) {
    throw EABSException(30213, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  } else {
    throw EABSException(30214, "'(' symbol expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  }
}

void TABSSQLInsert::ParseColumns() {
  for (;;) {
    if (!Next())
      throw EABSException(30211, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (!IsColumnNameToken(Token))
      throw EABSException(2156, "Field name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Columns.push_back(Token.Text);
    if (!Next())
      throw EABSException(30211, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (Token.TokenType == tktComma) continue;
    if (Token.TokenType != tktRightParenthesis)
      throw EABSException(30212, "')' or ',' symbol expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    if (!Next())
      throw EABSException(30211, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    return;
  }
}

void TABSSQLInsert::ParseValues() {
  if (!Next())
    throw EABSException(30213, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  for (;;) {
    if (Token.TokenType != tktLeftParenthesis)
      throw EABSException(30214, "'(' symbol expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    const TToken rowStart = Token;
    std::vector<std::unique_ptr<TABSExpression>> row;
    for (;;) {
      if (!Next())
        throw EABSException(30213, "Unexpected end of SQL command found at line %d, column %d",
                            {Token.Line, Token.Column});
      auto value = std::make_unique<TABSExpression>();
      value->InMemory = InMemory;
      value->DatabaseName = Query().DatabaseName;
      value->SessionName = Query().SessionName;
      TABSExprParser parser(*value, Lexer());
      std::unique_ptr<TABSExprNode> root = parser.Value();
      if (!root)
        throw EABSException(30357, "Error parsing parameter '%s' at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      value->SetRoot(std::move(root));
      row.push_back(std::move(value));
      Reload();
      if (Token.TokenType == tktComma) continue;
      if (Token.TokenType != tktRightParenthesis) {
        if (AtEnd())
          throw EABSException(30213, "Unexpected end of SQL command found at line %d, column %d",
                              {Token.Line, Token.Column});
        throw EABSException(30212, "')' or ',' symbol expected, but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      }
      break;
    }
    if (!Columns.empty() && row.size() != Columns.size())
      throw EABSException(20259,
                          "Number of field names does not equal the number of field values: %d <> %d. Found at line "
                          "%d, column %d",
                          {Columns.size(), row.size(), rowStart.Line, rowStart.Column});
    Rows.push_back(std::move(row));
    Next();
    if (Token.TokenType != tktComma) return;
    if (!Next())
      throw EABSException(30213, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
}

void TABSSQLInsert::ParseQuery(bool parenthesized) {
  if (parenthesized) Next();
  Source = std::make_unique<TABSSQLSelect>(Lexer(), Query());
  Reload();
  if (!parenthesized) return;
  if (Token.TokenType != tktRightParenthesis)
    throw EABSException(20256, "Missing symbol ')' at line %d, column %d", {Token.Line, Token.Column});
  Next();
}

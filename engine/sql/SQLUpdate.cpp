#include "core/ZUDExcept.h"
#include "sql/SQLDataStatements.h"

TABSSQLUpdate::TABSSQLUpdate(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCommand(sckUpdate, lexer, query) {
  if (AtEnd()) throw EABSException(30216, "Blank SQL command");
  const TToken updateToken = Token;
  if (!Next())
    throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  const bool memory = IsWord(rwMEMORY);
  if (memory) {
    Target.InMemory = InMemory = true;
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  if (!IsTableNameToken(Token))
    throw EABSException(30217, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  TToken table = Token;
  TToken database;
  bool hasDatabase = false;
  if (!Next())
    throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (Token.TokenType == tktDot) {
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (!IsTableNameToken(Token))
      throw EABSException(30230, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    database = table;
    hasDatabase = true;
    table = Token;
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  TToken alias;
  bool hasAlias = false;
  if (IsWord(rwAS)) {
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (!IsPseudonymToken(Token) && Token.TokenType != tktParameter)
      throw EABSException(30231, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    alias = Token;
    hasAlias = true;
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  } else if (IsPseudonymToken(Token)) {
    alias = Token;
    hasAlias = true;
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  TToken password;
  bool hasPassword = false;
  if (IsWord(rwPASSWORD)) {
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      throw EABSException(
          30178, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
          {Token.Text, Token.Line, Token.Column});
    password = Token;
    hasPassword = true;
    if (!Next())
      throw EABSException(30223, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  if (!IsWord(rwSET))
    throw EABSException(30220, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"SET", Token.Text, Token.Line, Token.Column});
  Target.TableName = NameText(table);
  if (hasDatabase) Target.DatabaseName = NameText(database);
  if (hasAlias) Target.Alias = NameText(alias);
  if (hasPassword) Target.Password = NameText(password);
  for (;;) {
    if (!Next())
      throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    ParseAssignment();
    if (Token.TokenType != tktComma) break;
  }
  // Only WHERE may follow the assignments: anything else is an error, so a
  // mistyped WHERE never leaves a statement over every row.
  if (!AtEnd() && !IsWord(rwWHERE))
    throw EABSException(30222, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {",", Token.Text, Token.Line, Token.Column});
  BuildRows(updateToken, hasDatabase ? &database : nullptr, table, hasAlias ? &alias : nullptr,
            hasPassword ? &password : nullptr, memory);
}

TABSSQLUpdate::~TABSSQLUpdate() { rows_.reset(); }

void TABSSQLUpdate::ParseAssignment() {
  TABSSQLAssignment a;
  if (Token.TokenType == tktLeftParenthesis) {
    for (;;) {
      if (!Next())
        throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                            {Token.Line, Token.Column});
      if (!IsColumnNameToken(Token))
        throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      a.Columns.push_back(Token.Text);
      if (!Next())
        throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                            {Token.Line, Token.Column});
      if (Token.TokenType == tktComma) continue;
      if (Token.TokenType != tktRightParenthesis)
        throw EABSException(30494, "Token '%s' expected, but '%s' found at line %d, column %d",
                            {")", Token.Text, Token.Line, Token.Column});
      break;
    }
    if (!Next())
      throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (!IsSymbol("="))
      throw EABSException(30221, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"=", Token.Text, Token.Line, Token.Column});
    if (!Next())
      throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (Token.TokenType != tktLeftParenthesis)
      throw EABSException(30495, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"(", Token.Text, Token.Line, Token.Column});
    if (!Next())
      throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    a.RowQuery = std::make_unique<TABSSQLSelect>(Lexer(), Query());
    Reload();
    if (Token.TokenType != tktRightParenthesis) {
      if (AtEnd())
        throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                            {Token.Line, Token.Column});
      throw EABSException(30494, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {")", Token.Text, Token.Line, Token.Column});
    }
    Next();
    Assignments.push_back(std::move(a));
    return;
  }
  if (!IsColumnNameToken(Token))
    throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  a.Columns.push_back(Token.Text);
  const TToken first = Token;
  if (!Next())
    throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (Token.TokenType == tktDot) {
    // Only the statement's own table may qualify a column: another name
    // would otherwise be dropped and the column of this table changed.
    if (!SameName(first.Text, Target.TableName) && !(!Target.Alias.empty() && SameName(first.Text, Target.Alias)))
      throw EABSException(30217, "Table name expected, but '%s' found at line %d, column %d",
                          {first.Text, first.Line, first.Column});
    if (!Next())
      throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (!IsColumnNameToken(Token))
      throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    a.Qualifier = std::move(a.Columns[0]);
    a.Columns[0] = Token.Text;
    if (!Next())
      throw EABSException(30224, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  if (!IsSymbol("="))
    throw EABSException(30221, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"=", Token.Text, Token.Line, Token.Column});
  Next();
  a.Value = std::make_unique<TABSExpression>();
  a.Value->InMemory = InMemory;
  a.Value->DatabaseName = Query().DatabaseName;
  a.Value->SessionName = Query().SessionName;
  a.Value->ParseValue(Lexer());
  Reload();
  Assignments.push_back(std::move(a));
}

void TABSSQLUpdate::BuildRows(const TToken& updateToken, const TToken* database, const TToken& table,
                              const TToken* alias, const TToken* password, bool memory) {
  // The made-up words carry the position of UPDATE; copied tokens keep
  // their own, so errors in the WHERE clause point into the statement.
  auto word = [&](TReservedWord w) {
    TToken t;
    t.TokenType = tktReservedWord;
    t.ReservedWord = w;
    t.Text = ReservedWordText(w);
    t.Line = updateToken.Line;
    t.Column = updateToken.Column;
    return t;
  };
  rowsLexer_ = std::make_unique<TABSLexer>(std::string(), true, nullptr);
  rowsLexer_->AddCommand();
  rowsLexer_->AddToken(word(rwSELECT));
  TToken star = word(rwNone);
  star.TokenType = tktString;
  star.Text = "*";
  rowsLexer_->AddToken(star);
  rowsLexer_->AddToken(word(rwFROM));
  if (memory) rowsLexer_->AddToken(word(rwMEMORY));
  if (database) {
    TToken quoted = *database;
    quoted.TokenType = tktQuotedString;
    quoted.ReservedWord = rwNone;
    quoted.Text = NameText(*database);
    quoted.ParamValue = nullptr;
    rowsLexer_->AddToken(quoted);
    TToken dot = word(rwNone);
    dot.TokenType = tktDot;
    dot.Text = ".";
    rowsLexer_->AddToken(dot);
  }
  rowsLexer_->AddToken(table);
  if (alias) rowsLexer_->AddToken(*alias);
  if (password) {
    rowsLexer_->AddToken(word(rwPASSWORD));
    rowsLexer_->AddToken(*password);
  }
  // The WHERE clause and everything after it. AddToken copies a
  // parameter's value into the new lexer, which owns the copy.
  const auto& tokens = Lexer().Commands()[static_cast<size_t>(Lexer().CurrentCommand())].Tokens;
  for (size_t i = static_cast<size_t>(Lexer().GetPosition()); i < tokens.size(); ++i) rowsLexer_->AddToken(tokens[i]);
  TToken end;
  Lexer().SetPosition(static_cast<int32_t>(tokens.size()), end);
  Reload();
  rowsLexer_->SetPosition(0, end);
  rows_ = std::make_unique<TABSSQLSelect>(*rowsLexer_, Query());
  TToken rest;
  if (rowsLexer_->GetCurrentToken(rest))
    throw EABSException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.Line, rest.Column});
}

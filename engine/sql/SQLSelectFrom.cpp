// TABSSQLSelect: the FROM clause. Table references, joins and derived
// tables, and the single-table source of DELETE.
#include "core/ZUDExcept.h"
#include "sql/SQLSelect.h"

TABSTableReference::TABSTableReference() = default;
TABSTableReference::~TABSTableReference() = default;

TABSSQLSelect::TABSSQLSelect(TABSLexer& lexer, const TABSSQLQueryInfo& query, DeleteSource)
    : TABSSQLCursorCommand(sckSelect, lexer, query) {
  // Only a plain table: the rows deleted are rows of that table, so joins,
  // lists and derived tables are left for the statement's end check to
  // refuse, never read as something that widens the statement.
  SelectAll = true;
  Need();
  if (Token.TokenType == tktLeftParenthesis || IsWord(rwSELECT))
    throw EABSException(30180, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  FromTables.push_back(ParseTableName(false));
  if (IsWord(rwWHERE)) Where = ParseCondition();
}

void TABSSQLSelect::ParseFrom() {
  Need();
  for (;;) {
    FromTables.push_back(ParseTableReference());
    if (Token.TokenType != tktComma) return;
    Need();
  }
}

namespace {

bool IsJoinWord(const TToken& t) {
  for (TReservedWord w : {rwCROSS, rwNATURAL, rwINNER, rwLEFT, rwRIGHT, rwFULL, rwOUTER, rwJOIN})
    if (TABSLexer::IsReservedWord(t, w)) return true;
  return false;
}

}  // namespace

std::unique_ptr<TABSTableReference> TABSSQLSelect::ParseTableReference() {
  std::unique_ptr<TABSTableReference> ref = ParseTablePrimary(false);
  while (IsJoinWord(Token)) ref = ParseJoin(std::move(ref));
  return ref;
}

std::unique_ptr<TABSTableReference> TABSSQLSelect::ParseJoin(std::unique_ptr<TABSTableReference> left) {
  auto join = std::make_unique<TABSTableReference>();
  join->Kind = trkJoin;
  join->JoinType = ajtInner;
  join->Left = std::move(left);
  // Each join word must be followed by another reserved word.
  if (IsWord(rwCROSS)) {
    join->JoinType = ajtCross;
    Need();
    if (!IsWord(rwAny))
      throw EABSException(30168, "Unexpected token '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
  } else {
    if (IsWord(rwNATURAL)) {
      join->Natural = true;
      Need();
      if (!IsWord(rwAny))
        throw EABSException(30169, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
    }
    if (IsWord(rwINNER)) {
      Need();
      if (!IsWord(rwAny))
        throw EABSException(30170, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
    } else if (IsWord(rwLEFT)) {
      join->JoinType = ajtLeftOuter;
      Need();
      if (!IsWord(rwAny))
        throw EABSException(30171, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
    } else if (IsWord(rwRIGHT)) {
      join->JoinType = ajtRightOuter;
      Need();
      if (!IsWord(rwAny))
        throw EABSException(30172, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
    } else if (IsWord(rwFULL)) {
      join->JoinType = ajtFullOuter;
      Need();
      if (!IsWord(rwAny))
        throw EABSException(30173, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
    }
    if (IsWord(rwOUTER)) {
      Need();
      if (!IsWord(rwAny))
        throw EABSException(30174, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
    }
  }
  if (!IsWord(rwJOIN))
    throw EABSException(30175, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"JOIN", Token.Text, Token.Line, Token.Column});
  Need();
  join->Right = ParseTablePrimary(true);
  if (IsWord(rwON)) {
    join->OnCondition = ParseCondition(false);
  } else if (IsWord(rwUSING)) {
    Need();
    if (Token.TokenType != tktLeftParenthesis)
      throw EABSException(30167, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"(", Token.Text, Token.Line, Token.Column});
    Need();
    std::vector<TABSSelectListItem> fields;
    TToken bad;
    bool expression = false;
    if (!ReadFieldList(fields, bad, expression)) {
      if (bad.TokenType == tktNone)
        throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d", {bad.Line, bad.Column});
      if (expression)
        throw EABSException(10408, "Field name expected, but expression '%s...' found at line %d, column %d",
                            {bad.Text, bad.Line, bad.Column});
      throw EABSException(10406, "Unexpected token '%s' found at line %d, column %d", {bad.Text, bad.Line, bad.Column});
    }
    if (Token.TokenType != tktRightParenthesis)
      throw EABSException(10406, "Unexpected token '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Next();
    join->HasUsing = true;
    for (auto& f : fields) join->UsingFields.push_back(std::move(f.FieldName));
  }
  return join;
}

std::unique_ptr<TABSTableReference> TABSSQLSelect::ParseTablePrimary(bool joined) {
  if (!IsWord(rwSELECT) && Token.TokenType != tktLeftParenthesis) return ParseTableName(joined);
  const TABSStatementNesting nesting(Token);
  std::unique_ptr<TABSTableReference> ref;
  if (IsWord(rwSELECT) || (Token.TokenType == tktLeftParenthesis && StartsQuery(Lexer()))) {
    ref = std::make_unique<TABSTableReference>();
    ref->Kind = trkDerived;
    ref->Subquery = std::make_unique<TABSSQLUnion>(Lexer(), Query(), false);
    Reload();
  } else {
    Need();
    if (Token.TokenType == tktRightParenthesis)
      throw EABSException(30179, "Field name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    ref = ParseTableReference();
    if (Token.TokenType != tktRightParenthesis) {
      if (AtEnd())
        throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d",
                            {Token.Line, Token.Column});
      throw EABSException(20256, "Missing symbol ')' at line %d, column %d", {Token.Line, Token.Column});
    }
    Next();
  }
  ParseAlias(*ref);
  return ref;
}

std::unique_ptr<TABSTableReference> TABSSQLSelect::ParseTableName(bool joined) {
  auto ref = std::make_unique<TABSTableReference>();
  if (IsWord(rwMEMORY)) {
    ref->InMemory = true;
    Need();
  }
  if (!IsTableNameToken(Token)) {
    if (joined)
      throw EABSException(30176, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    throw EABSException(30180, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  }
  ref->TableName = NameText(Token);
  Next();
  if (Token.TokenType == tktDot) {
    Need();
    if (!IsTableNameToken(Token))
      throw EABSException(30182, "Table name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    ref->DatabaseName = std::move(ref->TableName);
    ref->TableName = NameText(Token);
    Next();
  }
  ParseAlias(*ref);
  if (IsWord(rwPASSWORD)) {
    Need();
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      throw EABSException(
          30178, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d",
          {Token.Text, Token.Line, Token.Column});
    ref->Password = NameText(Token);
    Next();
  }
  return ref;
}

void TABSSQLSelect::ParseAlias(TABSTableReference& ref) {
  if (IsWord(rwAS)) {
    Need();
    if (!IsPseudonymToken(Token) && Token.TokenType != tktParameter)
      throw EABSException(30177, "Field pseudonym expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    ref.Alias = NameText(Token);
    Next();
  } else if (IsPseudonymToken(Token)) {
    ref.Alias = Token.Text;
    Next();
  }
}

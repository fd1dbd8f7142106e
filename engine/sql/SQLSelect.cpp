// TABSSQLSelect: the clauses of a SELECT block other than FROM
// (SQLSelectFrom.cpp), and the list readers shared with TABSSQLUnion.
#include <charconv>

#include "core/ZUDExcept.h"
#include "sql/ExprParser.h"
#include "sql/SQLSelect.h"

namespace {

thread_local int statementNesting = 0;

}  // namespace

TABSStatementNesting::TABSStatementNesting(const TToken& at) {
  if (statementNesting >= kMaxStatementNesting)
    throw EABSException(30160, "Expression expected, but '%s' found at line %d, column %d",
                        {at.Text, at.Line, at.Column});
  ++statementNesting;
}

TABSStatementNesting::~TABSStatementNesting() { --statementNesting; }

bool StartsQuery(const TABSLexer& lexer) {
  const int32_t c = lexer.CurrentCommand();
  if (c < 0 || c >= lexer.CommandCount()) return false;
  const auto& tokens = lexer.Commands()[static_cast<size_t>(c)].Tokens;
  for (size_t i = static_cast<size_t>(lexer.GetPosition()); i < tokens.size(); ++i) {
    if (tokens[i].TokenType == tktLeftParenthesis) continue;
    return TABSLexer::IsReservedWord(tokens[i], rwSELECT);
  }
  return false;
}

// ---- Shared readers ---------------------------------------------------------------

void TABSSQLCursorCommand::ParseOrderBy() {
  if (!Next())
    throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
  if (!IsWord(rwBY))
    throw EABSException(30188, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"BY", Token.Text, Token.Line, Token.Column});
  Next();
  SortSpecifications.clear();
  for (;;) {
    TABSSortSpecification item;
    if (Token.TokenType == tktInt) {
      item.FieldName = Token.Text;
      Next();
    } else if (IsColumnNameToken(Token) || Token.TokenType == tktParameter) {
      item.FieldName = NameText(Token);
      Next();
      if (Token.TokenType == tktDot) {
        Next();
        if (!IsColumnNameToken(Token) && Token.TokenType != tktParameter) {
          if (AtEnd())
            throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d",
                                {Token.Line, Token.Column});
          throw EABSException(30186, "Unexpected token '%s' found at line %d, column %d",
                              {Token.Text, Token.Line, Token.Column});
        }
        item.TableName = std::move(item.FieldName);
        item.FieldName = NameText(Token);
        Next();
      }
    } else {
      // Also the end right after BY: the list is empty.
      throw EABSException(30187, "Field name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    }
    if (IsWord(rwASC)) {
      Next();
    } else if (IsWord(rwDESC)) {
      item.Descending = true;
      Next();
    }
    SortSpecifications.push_back(std::move(item));
    if (Token.TokenType != tktComma) break;
    Next();
    if (AtEnd())
      throw EABSException(30190, "Sort specification expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    if (Token.TokenType != tktInt && !IsColumnNameToken(Token) && Token.TokenType != tktParameter)
      throw EABSException(30189, "Unexpected token '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
  }
}

bool TABSSQLCursorCommand::ReadFieldList(std::vector<TABSSelectListItem>& items, TToken& bad, bool& expression) {
  for (;;) {
    const TToken start = Token;
    TABSExpression parsed;
    TABSExprParser parser(parsed, Lexer());
    std::unique_ptr<TABSExprNode> root = parser.Value();
    Reload();
    const auto* field = dynamic_cast<const TABSExprNodeField*>(root.get());
    if (!field) {
      bad = start;
      expression = true;
      return false;
    }
    TABSSelectListItem item;
    item.TableName = field->Qualifier;
    item.FieldName = field->FieldName;
    items.push_back(std::move(item));
    if (Token.TokenType != tktComma) return true;
    Next();
    if (!IsColumnNameToken(Token)) {
      bad = Token;
      expression = false;
      return false;
    }
  }
}

// ---- SELECT block --------------------------------------------------------

TABSSQLSelect::TABSSQLSelect(TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : TABSSQLCursorCommand(sckSelect, lexer, query) {
  Parse();
}

void TABSSQLSelect::Need() {
  if (!Next())
    throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
}

void TABSSQLSelect::Parse() {
  if (AtEnd()) throw EABSException(30155, "Blank SQL command");
  if (!IsWord(rwSELECT))
    throw EABSException(30156, "SQL token expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  Need();
  if (IsWord(rwALL)) {
    Need();
  } else if (IsWord(rwDISTINCT)) {
    Distinct = true;
    Need();
  }
  if (IsWord(rwTOP)) ParseTop();
  ParseSelectList();
  if (IsWord(rwINTO)) ParseInto();
  if (!IsWord(rwFROM)) {
    if (AtEnd())
      throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(30184, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"FROM", Token.Text, Token.Line, Token.Column});
  }
  ParseFrom();
  if (IsWord(rwWHERE)) Where = ParseCondition();
  if (IsWord(rwGROUP)) ParseGroupBy();
  if (IsWord(rwHAVING)) Having = ParseCondition();
  if (IsWord(rwORDER)) ParseOrderBy();
}

namespace {

// A TOP count or first row: a tktInt, or a parameter taken as an integer.
bool ReadTopNumber(const TToken& t, int64_t& out) {
  if (t.TokenType == tktParameter) {
    if (!t.ParamValue || t.ParamValue->IsNull()) return false;
    out = t.ParamValue->AsLargeint();
    return true;
  }
  if (t.TokenType != tktInt) return false;
  const auto r = std::from_chars(t.Text.data(), t.Text.data() + t.Text.size(), out);
  return r.ec == std::errc() && r.ptr == t.Text.data() + t.Text.size();
}

}  // namespace

void TABSSQLSelect::ParseTop() {
  Need();
  if (!ReadTopNumber(Token, TopCount))
    throw EABSException(30158, "Integer expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  Need();
  if (Token.TokenType != tktComma) return;
  Need();
  if (!ReadTopNumber(Token, TopFirst))
    throw EABSException(30159, "Integer expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  Need();
}

void TABSSQLSelect::ParseSelectList() {
  TToken after;
  if (IsSymbol("*") && !(Lexer().LookAhead(after) && after.TokenType == tktComma)) {
    SelectAll = true;
    Next();
    return;
  }
  if (IsWord(rwFROM) || IsWord(rwINTO))
    throw EABSException(30164, "Field list expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  for (;;) {
    ParseSelectItem();
    if (Token.TokenType != tktComma) return;
    Need();
    if (IsWord(rwFROM) || IsWord(rwINTO))
      throw EABSException(30163, "Field name expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
  }
}

void TABSSQLSelect::ParseSelectItem() {
  TABSSelectListItem item;
  const auto& tokens = Lexer().Commands()[static_cast<size_t>(Lexer().CurrentCommand())].Tokens;
  const size_t at = static_cast<size_t>(Lexer().GetPosition());
  auto tokenAt = [&](size_t i) -> const TToken* { return i < tokens.size() ? &tokens[i] : nullptr; };
  const TToken* dot = tokenAt(at + 1);
  const TToken* star = tokenAt(at + 2);
  if (IsSymbol("*")) {
    item.AllFields = true;
    item.FieldName = "*";
    Next();
  } else if (IsColumnNameToken(Token) && dot && dot->TokenType == tktDot && star && star->TokenType == tktString &&
             star->Text == "*") {
    item.AllFields = true;
    item.TableName = Token.Text;
    item.FieldName = "*";
    Next();
    Next();
    Next();
  } else {
    auto expression = std::make_unique<TABSExpression>();
    expression->InMemory = Query().InMemory;
    expression->DatabaseName = Query().DatabaseName;
    expression->SessionName = Query().SessionName;
    expression->ParseValue(Lexer());
    Reload();
    if (expression->IsField()) {
      expression->GetFieldName(item.TableName, item.FieldName);
      item.Repeated = !plainItems_.insert(UpperName(item.TableName) + "." + UpperName(item.FieldName)).second;
    }
    if (!expression->IsField() || item.Repeated) {
      item.IsExpression = true;
      item.Expression = std::move(expression);
    }
  }
  if (IsWord(rwAS)) {
    Need();
    if (!IsPseudonymToken(Token))
      throw EABSException(30162, "Field pseudonym expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    item.Pseudonym = Token.Text;
    Next();
  } else if (IsPseudonymToken(Token) && !item.AllFields) {
    item.Pseudonym = Token.Text;
    Next();
  }
  if (item.Repeated && item.Pseudonym.empty()) NameRepeat(item);
  usedNames_.insert(UpperName(item.FieldName));
  if (!item.Pseudonym.empty()) usedNames_.insert(UpperName(item.Pseudonym));
  SelectList.push_back(std::move(item));
}

void TABSSQLSelect::NameRepeat(TABSSelectListItem& item) {
  // Names are only ever added, so the smallest free suffix of a field name
  // never goes down: the search resumes where the last one ended.
  const std::string upper = UpperName(item.FieldName);
  int& n = nextSuffix_.try_emplace(upper, 1).first->second;
  while (usedNames_.count(upper + "_" + std::to_string(n))) ++n;
  item.Pseudonym = item.FieldName + "_" + std::to_string(n);
}

void TABSSQLSelect::ParseInto() {
  Need();
  if (IsWord(rwMEMORY)) {
    IntoInMemory = true;
    Need();
    if (IsWord(rwIMMEDIATE)) {
      IntoImmediate = true;
      Need();
    }
  }
  if (!IsTableNameToken(Token))
    throw EABSException(30165, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  IntoTable = NameText(Token);
  Need();
  if (Token.TokenType != tktDot) return;
  Need();
  if (!IsTableNameToken(Token))
    throw EABSException(30166, "Table name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  IntoDatabase = std::move(IntoTable);
  IntoTable = NameText(Token);
  Need();
}

std::unique_ptr<TABSExpression> TABSSQLSelect::ParseCondition(bool resolvePseudonyms) {
  Next();  // past WHERE or HAVING; an end here is the expression's error
  auto condition = std::make_unique<TABSExpression>();
  condition->InMemory = Query().InMemory;
  condition->DatabaseName = Query().DatabaseName;
  condition->SessionName = Query().SessionName;
  condition->ParseCondition(Lexer());
  Reload();
  if (resolvePseudonyms && !SelectAll) ResolvePseudonyms(*condition);
  return condition;
}

void TABSSQLSelect::ResolvePseudonyms(TABSExpression& condition) const {
  std::vector<TABSSelectPseudonym> names;
  for (const auto& item : SelectList)
    if (!item.Pseudonym.empty() && !item.IsExpression)
      names.push_back({item.Pseudonym, item.TableName, item.FieldName});
  if (!names.empty()) condition.ResolvePseudonyms(names);
}

void TABSSQLSelect::ParseGroupBy() {
  Need();
  if (!IsWord(rwBY))
    throw EABSException(30185, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"BY", Token.Text, Token.Line, Token.Column});
  Need();
  TToken bad;
  bool expression = false;
  if (ReadFieldList(GroupBy, bad, expression)) return;
  if (bad.TokenType == tktNone)
    throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d", {bad.Line, bad.Column});
  if (expression)
    throw EABSException(10407, "Field name expected, but expression '%s...' found at line %d, column %d",
                        {bad.Text, bad.Line, bad.Column});
  throw EABSException(10406, "Unexpected token '%s' found at line %d, column %d", {bad.Text, bad.Line, bad.Column});
}

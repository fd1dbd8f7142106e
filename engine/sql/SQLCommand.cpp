#include "sql/SQLCommand.h"

#include <string_view>

#include "core/ZUDExcept.h"

TABSSQLCommand::TABSSQLCommand(TABSSQLCommandKind kind, TABSLexer& lexer, const TABSSQLQueryInfo& query)
    : kind_(kind), lexer_(lexer), query_(query) {
  InMemory = query.InMemory;
  lexer_.GetCurrentToken(Token);
}

void TABSSQLCommand::Execute(bool requestLive, bool& resultReadOnly) {
  (void)requestLive;
  resultReadOnly = true;
  throw EABSException(30350, "Not implemented yet");
}

namespace {

bool IsWordToken(const TToken& t) {
  return t.TokenType == tktString && !t.Text.empty() &&
         std::string_view("+-*/=<>|:?").find(t.Text[0]) == std::string_view::npos;
}

}  // namespace

bool IsTableNameToken(const TToken& t) {
  return IsWordToken(t) || t.TokenType == tktQuotedString || t.TokenType == tktBracketedString ||
         t.TokenType == tktReservedWord || t.TokenType == tktParameter;
}

bool IsColumnNameToken(const TToken& t) {
  return IsWordToken(t) || t.TokenType == tktQuotedString || t.TokenType == tktBracketedString ||
         t.TokenType == tktReservedWord;
}

bool IsPseudonymToken(const TToken& t) {
  // A backtick-quoted reserved word is a name as well (no particular word).
  return IsWordToken(t) || t.TokenType == tktQuotedString || t.TokenType == tktBracketedString ||
         (t.TokenType == tktReservedWord && t.ReservedWord == rwNone);
}

std::string NameText(const TToken& t) {
  if (t.TokenType == tktParameter) return t.ParamValue && !t.ParamValue->IsNull() ? t.ParamValue->AsString() : "";
  return t.Text;
}

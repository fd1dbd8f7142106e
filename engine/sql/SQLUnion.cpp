// TABSSQLUnion: query expressions. Set operators over SELECT
// blocks, with INTERSECT binding tighter, and the statement-wide
// ORDER BY and INTO.
#include "core/ZUDExcept.h"
#include "sql/SQLSelect.h"

namespace {

// The right-most SELECT block of a tree.
TABSSQLSelect* RightMost(TABSQueryExprNode& node) {
  TABSQueryExprNode* n = &node;
  while (n->Operation != asoLeaf) n = n->Right.get();
  return n->Select.get();
}

bool AnyInto(const TABSQueryExprNode& node) {
  if (node.Operation == asoLeaf) return !node.Select->IntoTable.empty();
  return AnyInto(*node.Left) || AnyInto(*node.Right);
}

}  // namespace

TABSSQLUnion::TABSSQLUnion(TABSLexer& lexer, const TABSSQLQueryInfo& query, bool statement)
    : TABSSQLCursorCommand(sckSelect, lexer, query) {
  if (AtEnd()) throw EABSException(30155, "Blank SQL command");
  Root = Expression();
  if (statement && IsWord(rwORDER)) {
    ParseOrderBy();
  } else if (TABSSQLSelect* last = RightMost(*Root); HasSetOperation() && !last->SortSpecifications.empty()) {
    SortSpecifications = std::move(last->SortSpecifications);
    last->SortSpecifications.clear();
  }
  if (HasSetOperation()) {
    if (AnyInto(*Root))
      throw EABSException(20272,
                          "UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM (select ... union "
                          "select ...) instead");
  } else {
    TABSSQLSelect& only = *Root->Select;
    IntoDatabase = std::move(only.IntoDatabase);
    IntoTable = std::move(only.IntoTable);
    IntoInMemory = only.IntoInMemory;
    IntoImmediate = only.IntoImmediate;
    only.IntoDatabase.clear();
    only.IntoTable.clear();
  }
}

void TABSSQLUnion::Need() {
  if (!Next())
    throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d", {Token.Line, Token.Column});
}

std::unique_ptr<TABSQueryExprNode> TABSSQLUnion::Expression() {
  std::unique_ptr<TABSQueryExprNode> left = Term();
  for (;;) {
    if (IsWord(rwUNION))
      left = Combine(std::move(left), asoUnion);
    else if (IsWord(rwEXCEPT) || IsWord(rwMINUS))
      left = Combine(std::move(left), asoExcept);
    else
      return left;
  }
}

std::unique_ptr<TABSQueryExprNode> TABSSQLUnion::Term() {
  std::unique_ptr<TABSQueryExprNode> left = Primary();
  while (IsWord(rwINTERSECT)) left = Combine(std::move(left), asoIntersect);
  return left;
}

std::unique_ptr<TABSQueryExprNode> TABSSQLUnion::Combine(std::unique_ptr<TABSQueryExprNode> left, TABSSetOperation op) {
  auto node = std::make_unique<TABSQueryExprNode>();
  node->Operation = op;
  node->Left = std::move(left);
  Need();
  if (IsWord(rwALL)) {
    node->All = true;
    Need();
  }
  if (IsWord(rwCORRESPONDING)) {
    node->Corresponding = true;
    Need();
    if (IsWord(rwBY)) {
      Need();
      if (Token.TokenType != tktLeftParenthesis)
        throw EABSException(30193, "Token '%s' expected, but '%s' found at line %d, column %d",
                            {"(", Token.Text, Token.Line, Token.Column});
      Need();
      std::vector<TABSSelectListItem> fields;
      TToken bad;
      bool expression = false;
      if (!ReadFieldList(fields, bad, expression)) {
        if (bad.TokenType == tktNone)
          throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d",
                              {bad.Line, bad.Column});
        if (expression)
          throw EABSException(10409, "Field name expected, but expression '%s...' found at line %d, column %d",
                              {bad.Text, bad.Line, bad.Column});
        throw EABSException(10410, "Unexpected token '%s' found at line %d, column %d",
                            {bad.Text, bad.Line, bad.Column});
      }
      if (Token.TokenType != tktRightParenthesis)
        throw EABSException(10410, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      Need();
      for (auto& f : fields) node->CorrespondingFields.push_back(std::move(f.FieldName));
    }
  }
  node->Right = op == asoIntersect ? Primary() : Term();
  return node;
}

std::unique_ptr<TABSQueryExprNode> TABSSQLUnion::Primary() {
  if (Token.TokenType == tktLeftParenthesis) {
    const TABSStatementNesting nesting(Token);
    Need();
    std::unique_ptr<TABSQueryExprNode> inner = Expression();
    if (Token.TokenType != tktRightParenthesis) {
      if (AtEnd())
        throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d",
                            {Token.Line, Token.Column});
      throw EABSException(20256, "Missing symbol ')' at line %d, column %d", {Token.Line, Token.Column});
    }
    Next();
    return inner;
  }
  if (!IsWord(rwSELECT)) {
    if (AtEnd())
      throw EABSException(30161, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    throw EABSException(30194, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"SELECT", Token.Text, Token.Line, Token.Column});
  }
  auto leaf = std::make_unique<TABSQueryExprNode>();
  leaf->Select = std::make_unique<TABSSQLSelect>(Lexer(), Query());
  Reload();
  return leaf;
}

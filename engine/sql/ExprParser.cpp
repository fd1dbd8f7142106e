#include "sql/ExprParser.h"

#include "sql/ExprAggregate.h"

#include <charconv>

#include "core/ZUDExcept.h"
#include "sql/ZUDDateFormat.h"
#include "sql/ZUDExpressions.h"

using NodePtr = TABSExprParser::NodePtr;

namespace {

bool IsStringOrDateType(TABSStorageType t) { return IsStringStorage(t) || IsDateTimeStorage(t); }

template <typename Node>
std::unique_ptr<Node> MakeNode(uint8_t kind) {
  return std::make_unique<Node>(kind);
}

std::unique_ptr<TABSExprNodeConst> MakeConst() { return std::make_unique<TABSExprNodeConst>(); }

TABSExprNodeConst* AsConst(const NodePtr& n) { return dynamic_cast<TABSExprNodeConst*>(n.get()); }
TABSExprNodeField* AsField(const NodePtr& n) { return dynamic_cast<TABSExprNodeField*>(n.get()); }

// The words of node kinds that are not built yet (functions, CAST, CASE,
// COALESCE, aggregates, MIMETOBIN, system functions).
bool IsUnbuiltWord(TReservedWord w) {
  switch (w) {
    case rwUPPER:
    case rwLOWER:
    case rwTRIM:
    case rwLTRIM:
    case rwRTRIM:
    case rwSUBSTRING:
    case rwTOSTRING:
    case rwPOSITION:
    case rwPOS:
    case rwEXTRACT:
    case rwLENGTH:
    case rwLASTAUTOINC:
    case rwROWNUM:
    case rwZUD:
    case rwACOS:
    case rwASIN:
    case rwATAN:
    case rwCEIL:
    case rwCOS:
    case rwEXP:
    case rwFLOOR:
    case rwLOG:
    case rwPOWER:
    case rwRAND:
    case rwROUND:
    case rwSIGN:
    case rwSIN:
    case rwSQR:
    case rwSQRT:
    case rwNOW:
    case rwSYSDATE:
    case rwCURRENT_TIMESTAMP:
    case rwCURRENT_DATE:
    case rwCURRENT_TIME:
    case rwTODATE:
    case rwCASE:
    case rwCOALESCE:
    case rwCAST:
    case rwMIMETOBIN:
    case rwEXISTS: return true;
    default: return false;
  }
}

}  // namespace

class TABSExprParser::Guard {
 public:
  explicit Guard(TABSExprParser& p) : p_(p) {
    if (p_.depth_ >= kMaxExprDepth) p_.RaiseTooDeep();
    ++p_.depth_;
  }
  ~Guard() { --p_.depth_; }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  TABSExprParser& p_;
};

TABSExprParser::TABSExprParser(TABSExpression& owner, TABSLexer& lexer) : owner_(owner), lexer_(lexer) {
  lexer_.GetCurrentToken(tok_);
  const int32_t c = lexer_.CurrentCommand();
  const size_t count =
      c >= 0 && c < lexer_.CommandCount() ? lexer_.Commands()[static_cast<size_t>(c)].Tokens.size() : 0;
  failed_.assign(count + 2, 0);
}

bool TABSExprParser::Failed(Rule rule, int32_t pos) const {
  return pos >= 0 && static_cast<size_t>(pos) < failed_.size() && (failed_[static_cast<size_t>(pos)] >> rule) & 1;
}

void TABSExprParser::MarkFailed(Rule rule, int32_t pos) {
  if (pos >= 0 && static_cast<size_t>(pos) < failed_.size())
    failed_[static_cast<size_t>(pos)] = static_cast<uint8_t>(failed_[static_cast<size_t>(pos)] | (1u << rule));
}

void TABSExprParser::RaiseTooDeep() const {
  throw EABSException(30160, "Expression expected, but '%s' found at line %d, column %d",
                      {tok_.Text, tok_.Line, tok_.Column});
}

void TABSExprParser::RaiseNotBuilt() const { throw EABSException(30350, "Not implemented yet"); }

void TABSExprParser::CheckDepth(const TABSExprNode& node) const {
  if (node.Depth() > kMaxExprDepth) RaiseTooDeep();
}

bool TABSExprParser::IsNameToken(const TToken& t) const {
  switch (t.TokenType) {
    case tktBracketedString: return true;
    case tktReservedWord: return t.ReservedWord == rwNone;  // a quoted reserved word
    case tktString: return !t.Text.empty() && std::string_view("+-*/=<>|:?").find(t.Text[0]) == std::string_view::npos;
    default: return false;
  }
}

bool TABSExprParser::IsFunctionWord() const {
  return tok_.TokenType == tktReservedWord && IsUnbuiltWord(tok_.ReservedWord);
}

bool TABSExprParser::StartsSubquery() const {
  if (tok_.TokenType != tktLeftParenthesis) return false;
  const auto& tokens = lexer_.Commands()[static_cast<size_t>(lexer_.CurrentCommand())].Tokens;
  for (size_t i = static_cast<size_t>(lexer_.GetPosition()), n = 0; i < tokens.size() && n <= kMaxExprDepth; ++i, ++n) {
    if (tokens[i].TokenType == tktLeftParenthesis) continue;
    return TABSLexer::IsReservedWord(tokens[i], rwSELECT);
  }
  return false;
}

// ---- Conditions ------------------------------------------------------------------

NodePtr TABSExprParser::Condition() {
  Guard guard(*this);
  NodePtr left = Conjunction();
  if (!left) return nullptr;
  while (IsWord(rwOR)) {
    Next();
    NodePtr right = Conjunction();
    if (!right) {
      if (AtEnd())
        throw EABSException(30118, "Unexpected end of SQL command found at line %d, column %d",
                            {tok_.Line, tok_.Column});
      throw EABSException(30070, "Boolean expression expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.Line, tok_.Column});
    }
    auto node = MakeNode<TABSExprNodeBoolean>(opOr);
    node->AddChild(std::move(left));
    node->AddChild(std::move(right));
    CheckDepth(*node);
    left = std::move(node);
  }
  return left;
}

NodePtr TABSExprParser::Conjunction() {
  NodePtr first = Factor();
  if (!first || !IsWord(rwAND)) return first;
  auto node = MakeNode<TABSExprNodeBoolean>(opAnd);
  node->AddChild(std::move(first));
  while (IsWord(rwAND)) {
    Next();
    NodePtr next = Factor();
    if (!next) {
      if (AtEnd())
        throw EABSException(30118, "Unexpected end of SQL command found at line %d, column %d",
                            {tok_.Line, tok_.Column});
      throw EABSException(30069, "Boolean expression expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.Line, tok_.Column});
    }
    node->AddChild(std::move(next));
  }
  CheckDepth(*node);
  return node;
}

NodePtr TABSExprParser::Factor() {
  if (!IsWord(rwNOT)) return Test();
  Guard guard(*this);
  Next();
  NodePtr test = Test();
  if (!test) {
    if (AtEnd())
      throw EABSException(30118, "Unexpected end of SQL command found at line %d, column %d", {tok_.Line, tok_.Column});
    throw EABSException(30066, "Boolean expression expected, but '%s' found at line %d, column %d",
                        {tok_.Text, tok_.Line, tok_.Column});
  }
  auto node = MakeNode<TABSExprNodeBoolean>(opNot);
  node->AddChild(std::move(test));
  CheckDepth(*node);
  return node;
}

NodePtr TABSExprParser::Test() {
  NodePtr primary = PrimaryCondition();
  if (!primary || !IsWord(rwIS)) return primary;
  Next();
  const bool negated = IsWord(rwNOT);
  if (negated) Next();
  uint8_t wrap = opNone;  // none: the primary itself
  if (IsWord(rwTRUE)) {
    wrap = negated ? opNot : opNone;
  } else if (IsWord(rwFALSE)) {
    wrap = negated ? opNone : opNot;
  } else if (IsWord(rwUNKNOWN)) {
    wrap = negated ? opIsNotNull : opIsNull;
  } else {
    throw EABSException(30067, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"TRUE, FALSE or UNKNOWN", tok_.Text, tok_.Line, tok_.Column});
  }
  Next();
  if (wrap == opNone) return primary;
  auto node = MakeNode<TABSExprNodeBoolean>(wrap);
  node->AddChild(std::move(primary));
  CheckDepth(*node);
  return node;
}

NodePtr TABSExprParser::PrimaryCondition() {
  const int32_t start = Pos();
  if (Failed(kPrimaryCondition, start)) return nullptr;
  if (NodePtr n = Predicate()) return n;
  Restore(start);
  if (tok_.TokenType == tktLeftParenthesis && !StartsSubquery()) {
    Next();
    NodePtr inner = Condition();
    if (inner && tok_.TokenType == tktRightParenthesis) {
      Next();
      return inner;
    }
    Restore(start);
  }
  if (NodePtr n = Operand()) return n;
  Restore(start);
  MarkFailed(kPrimaryCondition, start);
  return nullptr;
}

NodePtr TABSExprParser::Predicate() {
  if (IsWord(rwEXISTS)) RaiseNotBuilt();
  const int32_t start = Pos();
  if (NodePtr n = LogicalConstant()) return n;
  NodePtr left = Operand();
  if (!left) return nullptr;

  static const struct {
    const char* symbol;
    uint8_t op;
  } kComparisons[] = {{"=", opEqual}, {"<>", opNotEqual},     {">", opGreater},
                      {"<", opLower}, {">=", opGreaterEqual}, {"<=", opLowerEqual}};
  for (const auto& c : kComparisons) {
    if (!IsSymbol(c.symbol)) continue;
    Next();
    if (IsWord(rwALL) || IsWord(rwANY) || IsWord(rwSOME)) RaiseNotBuilt();
    NodePtr right = Operand();
    if (!right) break;
    return MakeComparison(std::move(left), c.op, std::move(right));
  }
  if (IsSymbol("=") || IsSymbol("<>") || IsSymbol(">") || IsSymbol("<") || IsSymbol(">=") || IsSymbol("<=")) {
    Restore(start);
    return nullptr;
  }

  bool negated = false;
  if (IsWord(rwNOT)) {
    negated = true;
    Next();
    if (!IsWord(rwLIKE) && !IsWord(rwBETWEEN) && !IsWord(rwIN)) {
      Restore(start);
      return nullptr;
    }
  }
  if (IsWord(rwLIKE)) {
    Next();
    NodePtr pattern = Operand();
    if (pattern) {
      if (!IsWord(rwESCAPE)) return MakeLike(std::move(left), std::move(pattern), negated, nullptr);
      Next();
      if (tok_.TokenType == tktQuotedString || tok_.TokenType == tktParameter) {
        const TToken escape = tok_;
        Next();
        return MakeLike(std::move(left), std::move(pattern), negated, &escape);
      }
    }
  } else if (IsWord(rwIS) && !negated) {
    Next();
    const bool isNot = IsWord(rwNOT);
    if (isNot) Next();
    if (IsWord(rwNULL)) {
      Next();
      auto node = MakeNode<TABSExprNodeBoolean>(isNot ? opIsNotNull : opIsNull);
      node->AddChild(std::move(left));
      CheckDepth(*node);
      return node;
    }
  } else if (IsWord(rwBETWEEN)) {
    Next();
    NodePtr low = Operand();
    if (low && IsWord(rwAND)) {
      Next();
      if (NodePtr high = Operand()) {
        auto node = MakeNode<TABSExprNodeBoolean>(negated ? opNotBetween : opBetween);
        node->AddChild(std::move(left));
        node->AddChild(std::move(low));
        node->AddChild(std::move(high));
        CheckDepth(*node);
        return node;
      }
    }
  } else if (IsWord(rwIN)) {
    Next();
    if (NodePtr n = InList(std::move(left), negated)) return n;
  }
  Restore(start);
  return nullptr;
}

NodePtr TABSExprParser::InList(NodePtr value, bool negated) {
  if (tok_.TokenType != tktLeftParenthesis) return nullptr;
  Next();
  if (IsWord(rwSELECT)) RaiseNotBuilt();
  auto node = MakeNode<TABSExprNodeBoolean>(negated ? opNotIn : opIn);
  node->AddChild(std::move(value));
  for (;;) {
    if (AtEnd()) return nullptr;
    if (tok_.TokenType == tktRightParenthesis) {
      Next();
      break;
    }
    if (tok_.TokenType == tktComma) {  // a missing comma between items is tolerated
      Next();
      continue;
    }
    NodePtr item = Value();
    if (!item) return nullptr;
    node->AddChild(std::move(item));
  }
  CheckDepth(*node);
  return node;
}

NodePtr TABSExprParser::Operand() {
  if (StartsSubquery()) RaiseNotBuilt();
  if (NodePtr n = NullConstant()) return n;
  return Value();
}

NodePtr TABSExprParser::MakeComparison(NodePtr left, uint8_t op, NodePtr right) {
  // Partial compare (cursor filters): a string constant ending in "*" is a prefix.
  bool prefix = false;
  if (owner_.PartialCompare) {
    for (TABSExprNodeConst* c : {AsConst(left), AsConst(right)}) {
      if (!c || c->Value.IsNull() || !IsStringStorage(c->Value.StorageType())) continue;
      if (IsWideStringStorage(c->Value.StorageType())) {
        std::u16string s = c->Value.AsWideString();
        if (s.empty() || s.back() != u'*') continue;
        s.pop_back();
        c->Value.SetAsWideString(s);
      } else {
        std::string s = c->Value.AsString();
        if (s.empty() || s.back() != '*') continue;
        s.pop_back();
        c->Value.SetAsString(s);
      }
      prefix = true;
    }
  }
  TABSExprNodeField* lf = AsField(left);
  TABSExprNodeField* rf = AsField(right);
  TABSExprNodeConst* lc = AsConst(left);
  TABSExprNodeConst* rc = AsConst(right);
  // The dialect's NULL rewrite: column = NULL-of-a-string-or-date-type is IS NULL.
  if (op == opEqual || op == opNotEqual) {
    const bool rightNullTyped = lf && rc && rc->Value.IsNull() && IsStringOrDateType(rc->Value.StorageType());
    const bool leftNullTyped = rf && lc && lc->Value.IsNull() && IsStringOrDateType(lc->Value.StorageType());
    if (rightNullTyped || leftNullTyped) {
      auto node = MakeNode<TABSExprNodeBoolean>(op == opEqual ? opIsNull : opIsNotNull);
      node->AddChild(rightNullTyped ? std::move(left) : std::move(right));
      return node;
    }
  }
  auto constLike = [](TABSExprNodeConst* c) {
    return c && (c->Value.IsNull() || IsStringOrDateType(c->Value.StorageType()));
  };
  auto stringConst = [](TABSExprNodeConst* c) { return c && IsStringStorage(c->Value.StorageType()); };
  auto nonNullConst = [](TABSExprNodeConst* c) { return c && !c->Value.IsNull(); };
  bool clear = (lf && constLike(rc)) || (rf && constLike(lc));
  clear = clear || (stringConst(lc) && !nonNullConst(rc)) || (stringConst(rc) && !nonNullConst(lc));

  auto node = MakeNode<TABSExprNodeComparison>(op);
  node->RawResult = !clear;
  node->Prefix = prefix;
  node->CaseInsensitive = owner_.CaseInsensitive;
  node->AddChild(std::move(left));
  node->AddChild(std::move(right));
  CheckDepth(*node);
  return node;
}

NodePtr TABSExprParser::MakeLike(NodePtr value, NodePtr pattern, bool negated, const TToken* escape) {
  std::string escapeText;
  if (escape) {
    if (escape->TokenType == tktParameter)
      escapeText = escape->ParamValue && !escape->ParamValue->IsNull() ? escape->ParamValue->AsString() : "";
    else
      escapeText = escape->Text;
    if (escapeText.size() != 1)
      throw EABSException(20294, "Invalid escape character length (should be a single character) at line %d, column %d",
                          {escape->Line, escape->Column});
  } else if (TABSExprNodeConst* c = AsConst(pattern);
             c && !c->Value.IsNull() && IsStringStorage(c->Value.StorageType())) {
    // A plain prefix followed by one "%" becomes a prefix comparison,
    // which an index range can answer.
    const bool wide = IsWideStringStorage(c->Value.StorageType());
    const std::u16string w = wide ? c->Value.AsWideString() : std::u16string();
    const std::string s = wide ? std::string() : c->Value.AsString();
    const size_t length = wide ? w.size() : s.size();
    const size_t firstPercent = wide ? w.find(u'%') : s.find('%');
    const bool underscore = wide ? w.find(u'_') != std::u16string::npos : s.find('_') != std::string::npos;
    if (length >= 2 && firstPercent == length - 1 && !underscore) {
      if (wide)
        c->Value.SetAsWideString(w.substr(0, length - 1));
      else
        c->Value.SetAsString(s.substr(0, length - 1));
      auto node = MakeNode<TABSExprNodeComparison>(negated ? opNotEqual : opEqual);
      node->RawResult = false;
      node->Prefix = true;
      node->CaseInsensitive = owner_.CaseInsensitive;
      node->AddChild(std::move(value));
      node->AddChild(std::move(pattern));
      CheckDepth(*node);
      return node;
    }
  }
  auto node = MakeNode<TABSExprNodeBoolean>(negated ? opNotLike : opLike);
  node->EscapeText = escapeText;
  if (escape) {
    node->EscapeLine = escape->Line;
    node->EscapeColumn = escape->Column;
  }
  node->CaseInsensitive = owner_.CaseInsensitive;
  node->AddChild(std::move(value));
  node->AddChild(std::move(pattern));
  CheckDepth(*node);
  return node;
}

// ---- Values ----------------------------------------------------------------------

NodePtr TABSExprParser::Value() {
  Guard guard(*this);
  const int32_t start = Pos();
  if (Failed(kValue, start)) return nullptr;
  if (auto it = values_.find(start); it != values_.end()) {
    Restore(it->second.first);
    return it->second.second->Clone();
  }
  NodePtr n = ValueAlternatives(start);
  if (!n) {
    Restore(start);
    MarkFailed(kValue, start);
    return nullptr;
  }
  values_.emplace(start, std::make_pair(Pos(), n->Clone()));
  return n;
}

NodePtr TABSExprParser::ValueAlternatives(int32_t start) {
  if (NodePtr n = Arithmetic()) {
    if (!IsSymbol("||")) return n;
    n.reset();
    Restore(start);
  }
  if (NodePtr n = DateArithmetic()) return n;
  // A lone date primary is also a string term, which goes on to "||" and
  // "+" concatenations; so the string expression is asked first.
  if (NodePtr n = StringExpression()) return n;
  if (NodePtr n = DatePrimary()) return n;
  if (NodePtr n = LogicalConstant()) return n;
  return NullConstant();
}

NodePtr TABSExprParser::Arithmetic() {
  const int32_t start = Pos();
  if (Failed(kArithmetic, start)) return nullptr;
  NodePtr first = Term();
  if (first && (IsSymbol("+") || IsSymbol("-"))) {
    auto sum = MakeNode<TABSExprNodeArithmetic>(opSum);
    sum->AddChild(std::move(first));
    while (IsSymbol("+") || IsSymbol("-")) {
      NodePtr term = Term();  // reads its own sign
      if (!term) {
        sum.reset();
        break;
      }
      sum->AddChild(std::move(term));
    }
    if (sum) {
      CheckDepth(*sum);
      return sum;
    }
  } else if (first) {
    return first;
  }
  Restore(start);
  MarkFailed(kArithmetic, start);
  return nullptr;
}

NodePtr TABSExprParser::Term() {
  NodePtr left = ArithmeticFactor();
  if (!left) return nullptr;
  while (IsSymbol("*") || IsSymbol("/")) {
    const uint8_t op = IsSymbol("*") ? opMultiply : opDivide;
    Next();
    NodePtr right = ArithmeticFactor();
    if (!right) {
      if (AtEnd())
        throw EABSException(30136, "Unexpected end of SQL command found at line %d, column %d",
                            {tok_.Line, tok_.Column});
      throw EABSException(30160, "Expression expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.Line, tok_.Column});
    }
    auto node = MakeNode<TABSExprNodeArithmetic>(op);
    node->AddChild(std::move(left));
    node->AddChild(std::move(right));
    CheckDepth(*node);
    left = std::move(node);
  }
  return left;
}

NodePtr TABSExprParser::ArithmeticFactor() {
  Guard guard(*this);
  const int32_t start = Pos();
  const bool negate = IsSymbol("-");
  if (negate || IsSymbol("+")) Next();
  NodePtr primary = ArithmeticPrimary();
  if (!primary) {
    Restore(start);
    return nullptr;
  }
  if (!negate) return primary;
  auto node = MakeNode<TABSExprNodeArithmetic>(opMinus);
  node->AddChild(std::move(primary));
  CheckDepth(*node);
  return node;
}

NodePtr TABSExprParser::ArithmeticPrimary() {
  const int32_t start = Pos();
  NodePtr primary = Primary();
  if (TABSExprNodeConst* c = AsConst(primary); c && !IsNumericStorage(c->Value.StorageType())) {
    Restore(start);
    return nullptr;
  }
  return primary;
}

NodePtr TABSExprParser::DateArithmetic() {
  const int32_t start = Pos();
  if (NodePtr date = DatePrimary(); date && (IsSymbol("+") || IsSymbol("-"))) {
    // Each sign applies to its own term, so "d - 1 + 2" is d + 1, not
    // d - 3. A right side that is no arithmetic term or date primary is
    // read as one whole value.
    auto sum = MakeNode<TABSExprNodeArithmetic>(opSum);
    sum->AddChild(std::move(date));
    while (IsSymbol("+") || IsSymbol("-")) {
      const int32_t signAt = Pos();
      const bool minus = IsSymbol("-");
      Next();
      NodePtr value = Term();
      if (!value) value = DatePrimary();
      if (!value && sum->Children.size() == 1) value = Value();
      if (!value) {
        Restore(signAt);
        break;
      }
      auto wrapped = MakeNode<TABSExprNodeArithmetic>(minus ? opMinus : opSum);
      wrapped->AddChild(std::move(value));
      sum->AddChild(std::move(wrapped));
    }
    if (sum->Children.size() > 1) {
      CheckDepth(*sum);
      return sum;
    }
  }
  Restore(start);
  if (NodePtr text = StringExpression(); text && IsSymbol("-")) {
    Next();
    if (NodePtr date = DatePrimary()) {
      auto negated = MakeNode<TABSExprNodeArithmetic>(opMinus);
      negated->AddChild(std::move(date));
      auto sum = MakeNode<TABSExprNodeArithmetic>(opSum);
      sum->AddChild(std::move(text));
      sum->AddChild(std::move(negated));
      CheckDepth(*sum);
      return sum;
    }
  }
  Restore(start);
  return nullptr;
}

NodePtr TABSExprParser::DatePrimary() {
  if (IsFunctionWord()) RaiseNotBuilt();
  if (tok_.TokenType == tktParameter && tok_.ParamValue && IsDateTimeStorage(tok_.ParamValue->StorageType())) {
    auto c = MakeConst();
    c->Value.Assign(*tok_.ParamValue);
    Next();
    return c;
  }
  // DATE, TIME and TIMESTAMP literals are values of their own type, so
  // that date arithmetic applies to them as to date parameters.
  if (IsWord(rwDATE) || IsWord(rwTIME) || IsWord(rwTIMESTAMP)) {
    const TReservedWord word = tok_.ReservedWord;
    Next();
    auto c = MakeConst();
    if (word == rwDATE)
      c->Value.SetAsDate(DateLiteralFromToken(tok_));
    else if (word == rwTIME)
      c->Value.SetAsTime(TimeLiteralFromToken(tok_));
    else
      c->Value.SetAsDateTime(TimestampLiteralFromToken(tok_));
    Next();
    return c;
  }
  return nullptr;
}

NodePtr TABSExprParser::StringExpression() {
  const int32_t start = Pos();
  if (Failed(kStringExpr, start)) return nullptr;
  NodePtr first = StringTerm();
  if (first && !(IsSymbol("||") || IsSymbol("+"))) return first;
  if (first) {
    auto concat = MakeNode<TABSExprNodeStringFunction>(opConcat);
    concat->AddChild(std::move(first));
    while (IsSymbol("||") || IsSymbol("+")) {
      Next();
      NodePtr term = StringTerm();
      if (!term) {
        concat.reset();
        break;
      }
      concat->AddChild(std::move(term));
    }
    if (concat) {
      CheckDepth(*concat);
      return concat;
    }
  }
  Restore(start);
  MarkFailed(kStringExpr, start);
  return nullptr;
}

NodePtr TABSExprParser::StringTerm() {
  if (NodePtr n = Primary()) return n;
  return DatePrimary();
}

NodePtr TABSExprParser::LogicalConstant() {
  const bool param = tok_.TokenType == tktParameter && tok_.ParamValue &&
                     tok_.ParamValue->StorageType() == bftLogical && !tok_.ParamValue->IsNull();
  if (!param && !IsWord(rwTRUE) && !IsWord(rwFALSE)) return nullptr;
  auto c = MakeConst();
  if (param)
    c->Value.Assign(*tok_.ParamValue);
  else
    c->Value.SetAsLogical(IsWord(rwTRUE));
  Next();
  return c;
}

NodePtr TABSExprParser::NullConstant() {
  const bool param = tok_.TokenType == tktParameter && tok_.ParamValue && tok_.ParamValue->IsNull();
  if (!param && !IsWord(rwNULL)) return nullptr;
  auto c = MakeConst();
  c->Value.Clear(param ? tok_.ParamValue->StorageType() : bftInteger);
  Next();
  return c;
}

NodePtr TABSExprParser::Primary() {
  const int32_t start = Pos();
  if (Failed(kPrimary, start)) return nullptr;
  if (IsWord(rwCOUNT) || IsWord(rwSUM) || IsWord(rwAVG) || IsWord(rwMIN) || IsWord(rwMAX)) return Aggregate();
  if (IsFunctionWord() || StartsSubquery()) RaiseNotBuilt();
  switch (tok_.TokenType) {
    case tktInt: {
      int64_t v = 0;
      const char* b = tok_.Text.data();
      const char* e = b + tok_.Text.size();
      const auto r = std::from_chars(b, e, v);
      auto c = MakeConst();
      if (r.ec == std::errc() && r.ptr == e) {
        if (v > -2147483647LL && v < 2147483647LL)
          c->Value.SetAsInteger(static_cast<int32_t>(v));
        else
          c->Value.SetAsLargeint(v);
        Next();
        return c;
      }
      double d = 0;  // beyond the 64-bit range: a floating-point constant
      const auto rd = std::from_chars(b, e, d);
      if (r.ec == std::errc::result_out_of_range && rd.ec == std::errc() && rd.ptr == e) {
        c->Value.SetAsDouble(d);
        Next();
        return c;
      }
      break;
    }
    case tktFloat: {
      double d = 0;
      const char* b = tok_.Text.data();
      const char* e = b + tok_.Text.size();
      const auto r = std::from_chars(b, e, d);
      if (r.ec == std::errc() && r.ptr == e) {
        auto c = MakeConst();
        c->Value.SetAsDouble(d);
        Next();
        return c;
      }
      break;
    }
    case tktParameter: {
      const TABSVariant* v = tok_.ParamValue;
      if (v && (IsNumericStorage(v->StorageType()) || IsStringStorage(v->StorageType()) ||
                IsBlobStorage(v->StorageType()))) {
        auto c = MakeConst();
        c->Value.Assign(*v);
        Next();
        return c;
      }
      break;
    }
    case tktQuotedString: {
      auto c = MakeConst();
      c->Value.Clear(bftString);
      c->Value.SetAsString(tok_.Text);  // '' stays a NULL string
      Next();
      return c;
    }
    case tktLeftParenthesis: {
      Next();
      NodePtr inner = Value();
      if (inner && tok_.TokenType == tktRightParenthesis) {
        Next();
        return inner;
      }
      break;
    }
    default:
      if (IsWord(rwDATE) || IsWord(rwTIME) || IsWord(rwTIMESTAMP)) return DatePrimary();
      if (IsNameToken(tok_)) {
        std::string qualifier, name = tok_.Text;
        Next();
        if (tok_.TokenType == tktDot) {
          Next();
          if (!IsNameToken(tok_)) break;
          qualifier = std::move(name);
          name = tok_.Text;
          Next();
        }
        if (tok_.TokenType == tktLeftParenthesis) break;  // a function this dialect does not know
        return std::make_unique<TABSExprNodeField>(std::move(qualifier), std::move(name));
      }
      break;
  }
  Restore(start);
  MarkFailed(kPrimary, start);
  return nullptr;
}

NodePtr TABSExprParser::Aggregate() {
  const TReservedWord word = tok_.ReservedWord;
  const auto expected = [this] {
    throw EABSException(30160, "Expression expected, but '%s' found at line %d, column %d",
                        {tok_.Text, tok_.Line, tok_.Column});
  };
  Next();
  if (tok_.TokenType != tktLeftParenthesis) expected();
  Next();
  bool distinct = false;
  if (IsWord(rwDISTINCT)) {
    distinct = true;
    Next();
  } else if (IsWord(rwALL)) {
    Next();
  }
  uint8_t kind = word == rwSUM   ? opAggregateSum
                 : word == rwAVG ? opAggregateAvg
                 : word == rwMIN ? opAggregateMin
                 : word == rwMAX ? opAggregateMax
                                 : opAggregateCount;
  NodePtr argument;
  if (word == rwCOUNT && !distinct && IsSymbol("*")) {
    kind = opAggregateCountAll;
    Next();
  } else {
    argument = Value();
    if (!argument) expected();
    // Contract 4 of ExprAggregate.h.
    if (argument->HasAggregate()) throw EABSException(30350, "Not implemented yet");
  }
  if (tok_.TokenType != tktRightParenthesis) expected();
  Next();
  auto node = std::make_unique<TABSExprNodeAggregate>(kind, distinct);
  if (argument) node->AddChild(std::move(argument));
  CheckDepth(*node);
  return node;
}

// TABSExpression: parsing entry points, locate conditions, evaluation and
// binding. Planner and index services are in ExprPlanner.cpp.
#include "sql/ZUDExpressions.h"

#include "core/ZUDExcept.h"
#include "sql/ExprParser.h"

namespace {

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ';') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.push_back(cur);
  for (auto& s : out) {
    const size_t b = s.find_first_not_of(" \t");
    const size_t e = s.find_last_not_of(" \t");
    s = b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  }
  return out;
}

}  // namespace

TABSExpression::~TABSExpression() = default;

void TABSExpression::ParseCondition(TABSLexer& lexer) {
  TABSExprParser parser(*this, lexer);
  std::unique_ptr<TABSExprNode> root = parser.Condition();
  if (!root) {
    const TToken& t = parser.Current();
    if (t.TokenType == tktNone)
      throw EABSException(30118, "Unexpected end of SQL command found at line %d, column %d", {t.Line, t.Column});
    throw EABSException(30066, "Boolean expression expected, but '%s' found at line %d, column %d",
                        {t.Text, t.Line, t.Column});
  }
  root_ = std::move(root);
  FlattenAnd();
  if (cursor_) Prepare();
}

void TABSExpression::ParseValue(TABSLexer& lexer) {
  TABSExprParser parser(*this, lexer);
  std::unique_ptr<TABSExprNode> root = parser.Value();
  if (!root) {
    const TToken& t = parser.Current();
    if (t.TokenType == tktNone)
      throw EABSException(30136, "Unexpected end of SQL command found at line %d, column %d", {t.Line, t.Column});
    throw EABSException(30160, "Expression expected, but '%s' found at line %d, column %d", {t.Text, t.Line, t.Column});
  }
  root_ = std::move(root);
}

void TABSExpression::ParseSubquery(TABSLexer& lexer) {
  TToken t;
  if (!lexer.GetCurrentToken(t))
    throw EABSException(30497, "Unexpected end of SQL command found at line %d, column %d", {t.Line, t.Column});
  throw EABSException(30350, "Not implemented yet");
}

void TABSExpression::ParseFilter(TABSExprRowSource* cursor, const std::string& text, bool partial,
                                 bool caseInsensitive) {
  TABSLexer lexer(text, false, nullptr);
  if (!lexer.NextCommand()) throw EABSException(30119, "Blank SQL command");
  PartialCompare = partial;
  CaseInsensitive = caseInsensitive;
  TABSExpression parsed;
  parsed.PartialCompare = partial;
  parsed.CaseInsensitive = caseInsensitive;
  parsed.ParseCondition(lexer);
  TToken rest;
  // A filter is one condition: text left after it is not silently ignored.
  if (lexer.GetCurrentToken(rest) || lexer.NextCommand()) {
    lexer.GetCurrentToken(rest);
    throw EABSException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {rest.Text, rest.Line, rest.Column});
  }
  root_ = parsed.TakeRoot();
  BindCursor(cursor);
}

bool TABSExpression::IsValidValueExpression(const std::string& text) {
  try {
    TABSLexer lexer(text, true, nullptr);
    if (lexer.CommandCount() != 1 || !lexer.NextCommand()) return false;
    TABSExpression e;
    e.ParseValue(lexer);
    const int32_t left = lexer.Commands()[0].TokenCount() - lexer.GetPosition();
    return left <= 1;
  } catch (...) {
    return false;
  }
}

void TABSExpression::BuildLocate(TABSExprRowSource* cursor, const std::string& fieldNames,
                                 const std::vector<const TABSVariant*>& keyValues, bool caseInsensitive, bool partial) {
  const std::vector<std::string> names = SplitNames(fieldNames);
  if (names.size() != keyValues.size())
    throw EABSException(30112, "Count of FieldNames (%d) not equal counts of KeyValues (%d)",
                        {names.size(), keyValues.size()});
  CaseInsensitive = caseInsensitive;
  PartialCompare = partial;
  std::unique_ptr<TABSExprNode> root;
  std::unique_ptr<TABSExprNodeBoolean> conjunction;
  if (names.size() > 1) conjunction = std::make_unique<TABSExprNodeBoolean>(opAnd);
  for (size_t i = 0; i < names.size(); ++i) {
    auto field = std::make_unique<TABSExprNodeField>("", names[i]);
    field->BindToCursor(cursor, nullptr, nullptr);
    auto constant = std::make_unique<TABSExprNodeConst>();
    const TABSVariant& key = *keyValues[i];
    constant->Value.Assign(key);
    // A number given for a date or time column is a date-time.
    if (!key.IsNull() && IsDateTimeStorage(field->StorageType) &&
        (IsIntegerStorage(key.StorageType()) || IsFloatStorage(key.StorageType())))
      constant->Value.SetAsTDateTime(key.AsDouble());
    auto cmp = std::make_unique<TABSExprNodeComparison>(opEqual);
    cmp->RawResult = false;
    cmp->CaseInsensitive = caseInsensitive;
    if (partial && !constant->Value.IsNull() && IsStringStorage(constant->Value.StorageType())) cmp->Prefix = true;
    cmp->AddChild(std::move(field));
    cmp->AddChild(std::move(constant));
    if (conjunction)
      conjunction->AddChild(std::move(cmp));
    else
      root = std::move(cmp);
  }
  if (conjunction) root = std::move(conjunction);
  root_ = std::move(root);
  cursor_ = cursor;
  Prepare();
}

void TABSExpression::BuildFieldCompare(TABSExprRowSource* cursor, const std::string& fieldName,
                                       const TABSVariant& value, uint8_t operatorCode) {
  if (operatorCode < opEqual || operatorCode > opLowerEqual)
    throw EABSException(30117, "Unknown operator: '%s'", {OperatorName(operatorCode)});
  auto field = std::make_unique<TABSExprNodeField>("", fieldName);
  field->BindToCursor(cursor, nullptr, nullptr);
  auto constant = std::make_unique<TABSExprNodeConst>();
  constant->Value.Assign(value);
  auto cmp = std::make_unique<TABSExprNodeComparison>(operatorCode);
  cmp->RawResult = false;
  cmp->CaseInsensitive = CaseInsensitive;
  cmp->AddChild(std::move(field));
  cmp->AddChild(std::move(constant));
  root_ = std::move(cmp);
  cursor_ = cursor;
  Prepare();
}

TABSVariant* TABSExpression::GetValue(bool keepNull) {
  if (!root_) return nullptr;
  TABSVariant& v = root_->GetValue();
  if (v.IsNull() && !keepNull) v.SetAsLogical(false);
  return &v;
}

bool TABSExpression::IsTrue() {
  if (!root_) throw EABSException(30110, "Value is Null");
  const TABSVariant& v = root_->GetValue();
  return !v.IsNull() && v.AsLogical();
}

void TABSExpression::Prepare() {
  if (root_) root_->Prepare();
}

void TABSExpression::Bind(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side) {
  (void)side;
  if (!root_) return;
  root_->BindToOperator(op, outer, cursor_);
  Prepare();
}

void TABSExpression::BindCursor(TABSExprRowSource* cursor) {
  cursor_ = cursor;
  if (!root_) return;
  root_->BindToCursor(cursor, nullptr, nullptr);
  Prepare();
}

void TABSExpression::SetRecordBuffer(const char* buffer, uint8_t side) {
  if (!root_) return;
  root_->SetRecordBuffer(buffer, side);
  Prepare();
}

bool TABSExpression::IsEmpty() const { return !root_ || (root_->Kind == opAnd && root_->Children.empty()); }

bool TABSExpression::IsField() const { return dynamic_cast<TABSExprNodeField*>(root_.get()) != nullptr; }

void TABSExpression::GetFieldName(std::string& table, std::string& name) const {
  const auto* f = dynamic_cast<TABSExprNodeField*>(root_.get());
  if (!f) throw EABSException(30198, "Node is not a field");
  table = f->Qualifier;
  name = f->FieldName;
}

bool TABSExpression::HasFieldOperand() const {
  if (!root_) return false;
  if (IsField()) return true;
  for (const auto& c : root_->Children)
    if (dynamic_cast<TABSExprNodeField*>(c.get())) return true;
  return false;
}

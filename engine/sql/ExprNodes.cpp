// Base node behaviour, constants, column references, arithmetic and
// concatenation.
#include <algorithm>

#include "core/ZUDExcept.h"
#include "sql/ExprNodes.h"

namespace {
std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}
}  // namespace

std::string OperatorName(uint8_t kind) {
  switch (kind) {
    case 1: return "=";
    case 2: return "<>";
    case 3: return ">";
    case 4: return "<";
    case 5: return ">=";
    case 6: return "<=";
    case 7: return "NOT";
    case 8: return "AND";
    case 9: return "OR";
    case 10: return "IN";
    case 11: return "NOT IN";
    case 12: return "EXISTS";
    case 13: return "BETWEEN";
    case 14: return "NOT BETWEEN";
    case 15: return "LIKE";
    case 16: return "NOT LIKE";
    case 17: return "IS NULL";
    case 18: return "IS NOT NULL";
    case 21: return "+";
    case 22: return "-";
    case 23: return "*";
    case 24: return "/";
    case 25: return "||";
    case 26: return "UPPER";
    case 27: return "LOWER";
    case 28: return "TRIM";
    case 29: return "LTRIM";
    case 30: return "RTRIM";
    case 31: return "LENGTH";
    case 32: return "POS";
    case 33: return "SUBSTRING";
    case 34: return "SUM";
    case 35: return "AVG";
    case 36: return "MIN";
    case 37: return "MAX";
    case 38: return "COUNT";
    case 39: return "COUNT(*)";
    default: return std::to_string(kind);
  }
}

// ---- TABSExprNode -------------------------------------------------------------

void TABSExprNode::AddChild(std::unique_ptr<TABSExprNode> child) {
  depth_ = std::max(depth_, child->Depth() + 1);
  Children.push_back(std::move(child));
}

std::unique_ptr<TABSExprNode> TABSExprNode::Clone() const {
  std::unique_ptr<TABSExprNode> copy = CloneEmpty();
  copy->Value.Assign(Value);
  copy->CaseInsensitive = CaseInsensitive;
  copy->Prefix = Prefix;
  for (const auto& c : Children) copy->AddChild(c->Clone());
  return copy;
}

std::unique_ptr<TABSExprNode> TABSExprNodeField::CloneEmpty() const {
  auto copy = std::make_unique<TABSExprNodeField>(Qualifier, FieldName);
  copy->DisplayName = DisplayName;
  return copy;
}

std::unique_ptr<TABSExprNode> TABSExprNodeComparison::CloneEmpty() const {
  auto copy = std::make_unique<TABSExprNodeComparison>(Kind);
  copy->RawResult = RawResult;
  copy->Quantifier = Quantifier;
  return copy;
}

std::unique_ptr<TABSExprNode> TABSExprNodeBoolean::CloneEmpty() const {
  auto copy = std::make_unique<TABSExprNodeBoolean>(Kind);
  copy->EscapeText = EscapeText;
  copy->EscapeLine = EscapeLine;
  copy->EscapeColumn = EscapeColumn;
  return copy;
}

void TABSExprNode::RefreshDepth() {
  depth_ = 1;
  for (auto& c : Children) depth_ = std::max(depth_, c->Depth() + 1);
}

void TABSExprNode::Prepare() {
  for (auto& c : Children) c->Prepare();
}

bool TABSExprNode::HasAggregate() const {
  return std::any_of(Children.begin(), Children.end(), [](const auto& c) { return c->HasAggregate(); });
}

void TABSExprNode::ResetAggregates() {
  for (auto& c : Children) c->ResetAggregates();
}

void TABSExprNode::Accumulate() {
  for (auto& c : Children) c->Accumulate();
}

void TABSExprNode::BindToOperator(TABSExprOperator* op, TABSExprOperator* outer, TABSExprRowSource* cursor) {
  for (auto& c : Children) c->BindToOperator(op, outer, cursor);
}

void TABSExprNode::BindToCursor(TABSExprRowSource* cursor, TABSExprOperator* op, TABSExprRowSource* otherCursor) {
  for (auto& c : Children) c->BindToCursor(cursor, op, otherCursor);
}

void TABSExprNode::SetRecordBuffer(const char* buffer, uint8_t side) {
  for (auto& c : Children) c->SetRecordBuffer(buffer, side);
}

TABSDataType TABSExprNode::ChildrenCommonType() {
  TABSDataType type = aftUnknown;
  for (size_t i = 0; i < Children.size(); ++i) {
    const TABSDataType t = Children[i]->GetDataType();
    type = i == 0 ? t : CommonDataType(type, t, kForArithmetic);
    if (type == aftUnknown) break;
  }
  if (type == aftUnknown) throw EABSException(30283, "Cannot determine expression type");
  return type;
}

TABSDataType TABSExprNode::GetDataType() { return ChildrenCommonType(); }

int32_t TABSExprNode::GetSize() { return 0; }

bool TABSExprNode::CanEvaluate(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side, TABSExprRowSource* cursor) {
  for (auto& c : Children)
    if (!c->CanEvaluate(op, outer, side, cursor)) return false;
  return true;
}

bool TABSExprNode::CanUseIndex(int, TABSScanConditionType, int32_t, const TABSIndexDef&) { return false; }
void TABSExprNode::AddSearchConditions(std::vector<TABSScanSearchCondition>&, const TABSIndexDef&) {}
void TABSExprNode::AddKeyColumn(TABSScanSearchCondition&, const TABSIndexDef&) {}
bool TABSExprNode::IsJoinCondition(TABSExprOperator*, TABSExprOperator*) { return false; }

void TABSExprNode::ResolvePseudonyms(const std::vector<TABSSelectPseudonym>& items) {
  for (auto& c : Children) c->ResolvePseudonyms(items);
}

bool TABSExprNode::ReferencesOnly(const std::vector<std::string>& upperNames) const {
  return std::all_of(Children.begin(), Children.end(), [&](const auto& c) { return c->ReferencesOnly(upperNames); });
}

// ---- Constants ---------------------------------------------------------------

TABSDataType TABSExprNodeConst::GetDataType() {
  const TABSDataType t = StorageTypeToDataType(Value.StorageType());
  if (t == aftUnknown) throw EABSException(30283, "Cannot determine expression type");
  return t;
}

int32_t TABSExprNodeConst::GetSize() {
  if (Value.IsNull() || !IsStringStorage(Value.StorageType())) return 0;
  const int32_t n = Value.StringLength();
  return IsWideStringStorage(Value.StorageType()) ? 2 * n : n;
}

// ---- Column references -------------------------------------------------------

TABSExprNodeField::TABSExprNodeField(std::string qualifier, std::string name)
    : TABSExprNode(opNone), Qualifier(std::move(qualifier)), FieldName(std::move(name)), DisplayName(FieldName) {}

void TABSExprNodeField::BindTo(TABSExprRowSource* source, int32_t column) {
  const TABSExprColumn c = source->Column(column);
  source_ = source;
  column_ = column;
  record_ = nullptr;
  if (!c.DisplayName.empty()) DisplayName = c.DisplayName;
  DataType = c.DataType;
  StorageType = c.StorageType;
  Size = c.Size;
}

TABSVariant& TABSExprNodeField::GetValue() {
  if (!source_) throw EABSException(30196, "Dataset and AO not assigned");
  if (!(record_ && source_->ReadFromRecord(column_, record_, Value))) source_->ReadValue(column_, Value);
  return Value;
}

void TABSExprNodeField::BindToOperator(TABSExprOperator* op, TABSExprOperator* outer, TABSExprRowSource* cursor) {
  source_ = nullptr;  // a binding never outlives a rebind that cannot resolve it
  if (op) {
    const auto found = op->FindFields(FieldName, Qualifier);
    if (!found.empty()) return BindTo(op, found.front());
  }
  if (outer) {
    const auto found = outer->FindFields(FieldName, Qualifier);
    if (!found.empty()) {
      OuterReference = true;
      return BindTo(outer, found.front());
    }
  }
  if (CursorReference && cursor) {
    const auto found = cursor->FindFields(FieldName, "");
    if (!found.empty()) return BindTo(cursor, found.front());
  }
  throw EABSException(30197, "Field '%s' not found", {QualifiedName()});
}

void TABSExprNodeField::BindToCursor(TABSExprRowSource* cursor, TABSExprOperator* op, TABSExprRowSource* otherCursor) {
  source_ = nullptr;
  // An ordinary reference reads the cursor, else the other cursor; a
  // cursor reference of an operator's condition reads the other cursor,
  // else the operator.
  TABSExprRowSource* order[2] = {CursorReference ? nullptr : cursor, otherCursor};
  for (TABSExprRowSource* source : order) {
    if (!source) continue;
    const auto found = source->FindFields(FieldName, "");
    if (!found.empty()) return BindTo(source, found.front());
  }
  if (CursorReference && op) {
    const auto found = op->FindFields(FieldName, Qualifier);
    if (!found.empty()) return BindTo(op, found.front());
  }
  throw EABSException(30115, "Field '%s' not found", {FieldName});
}

void TABSExprNodeField::SetRecordBuffer(const char* buffer, uint8_t side) {
  if (side == Side) record_ = buffer;
}

TABSDataType TABSExprNodeField::GetDataType() {
  if (DataType == aftUnknown) throw EABSException(30284, "Cannot determine expression type");
  return DataType;
}

int32_t TABSExprNodeField::GetSize() { return Size; }

bool TABSExprNodeField::CanEvaluate(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side,
                                    TABSExprRowSource* cursor) {
  Side = side;
  if (op && op->FindFields(FieldName, Qualifier).size() == 1) return true;
  if (outer && outer->FindFields(FieldName, Qualifier).size() == 1) {
    OuterReference = true;
    return true;
  }
  if (cursor && !cursor->FindFields(FieldName, "").empty()) {
    CursorReference = true;
    return true;
  }
  return false;
}

void TABSExprNodeField::ResolvePseudonyms(const std::vector<TABSSelectPseudonym>& items) {
  const std::string name = UpperAscii(FieldName), qualifier = UpperAscii(Qualifier);
  for (const auto& item : items) {
    if (UpperAscii(item.Pseudonym) != name) continue;
    if (!qualifier.empty() && qualifier != UpperAscii(item.TableName)) continue;
    FieldName = item.FieldName;
    Qualifier = item.TableName;
    return;
  }
}

bool TABSExprNodeField::ReferencesOnly(const std::vector<std::string>& upperNames) const {
  return std::find(upperNames.begin(), upperNames.end(), UpperAscii(FieldName)) != upperNames.end();
}

// ---- Arithmetic ----------------------------------------------------------------

TABSVariant& TABSExprNodeArithmetic::GetValue() {
  switch (Kind) {
    case opSum:
      Value.Assign(Children[0]->GetValue());
      for (size_t i = 1; i < Children.size(); ++i) Value.Add(Children[i]->GetValue());
      return Value;
    case opMinus:
      Value.Assign(Children[0]->GetValue());
      Value.Negate();
      return Value;
    case opMultiply:
      Value.Assign(Children[0]->GetValue());
      for (size_t i = 1; i < Children.size(); ++i) Value.Multiply(Children[i]->GetValue());
      return Value;
    case opDivide:
      Value.Assign(Children[0]->GetValue());
      Value.Divide(Children[1]->GetValue());
      return Value;
    default: throw EABSException(30121, "Unknown operator: '%s'", {OperatorName(Kind)});
  }
}

TABSDataType TABSExprNodeArithmetic::GetDataType() { return ChildrenCommonType(); }

int32_t TABSExprNodeArithmetic::GetSize() {
  if (Kind != opSum || !IsStringDataType(GetDataType())) return 0;
  int32_t size = 0;
  for (auto& c : Children) size += c->GetSize();
  return size;
}

// ---- Concatenation -------------------------------------------------------------

TABSVariant& TABSExprNodeStringFunction::GetValue() {
  if (Kind != opConcat) throw EABSException(30131, "Unknown operator: '%s'", {OperatorName(Kind)});
  Value.Assign(Children[0]->GetValue());
  if (!IsStringStorage(Value.StorageType())) Value.CastTo(bftString);
  for (size_t i = 1; i < Children.size(); ++i) Value.Add(Children[i]->GetValue());
  return Value;
}

TABSDataType TABSExprNodeStringFunction::GetDataType() { return ChildrenCommonType(); }

int32_t TABSExprNodeStringFunction::GetSize() {
  if (!IsStringDataType(GetDataType())) return 0;
  int32_t size = 0;
  for (auto& c : Children) size += c->GetSize();
  return size;
}

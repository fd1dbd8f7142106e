// Evaluation of conditions: comparisons, NOT, AND, OR, IS [NOT] NULL,
// [NOT] BETWEEN, [NOT] IN lists and [NOT] LIKE.
#include "core/ZUDExcept.h"
#include "sql/ExprLike.h"
#include "sql/ExprNodes.h"

namespace {

bool Is8BitStringColumn(const TABSExprNode& node) {
  const auto* f = dynamic_cast<const TABSExprNodeField*>(&node);
  if (!f) return false;
  switch (f->DataType) {
    case aftChar:
    case aftString:
    case aftGuid: return true;
    default: return false;
  }
}

void SetLogical(TABSVariant& v, bool b) { v.SetAsLogical(b); }

void SetUnknown(TABSVariant& v) { v.Clear(bftLogical); }

}  // namespace

// ---- Comparisons ---------------------------------------------------------------

void TABSExprNodeComparison::Prepare() {
  TABSExprNode::Prepare();
  // A wide constant against an 8-bit string column compares as 8-bit text.
  for (int i = 0; i < 2 && Children.size() == 2; ++i) {
    auto* c = dynamic_cast<TABSExprNodeConst*>(Children[i].get());
    if (c && IsWideStringStorage(c->Value.StorageType()) && Is8BitStringColumn(*Children[1 - i]))
      c->Value.CastTo(bftString);
  }
}

TABSVariant& TABSExprNodeComparison::GetValue() {
  if (Quantifier != 0 || Children.size() != 2) throw EABSException(30350, "Not implemented yet");
  const TABSVariant& left = Children[0]->GetValue();
  const TABSVariant& right = Children[1]->GetValue();
  const int code = left.Compare(right, RawResult, Prefix, CaseInsensitive);
  bool result = false;
  switch (Kind) {
    case opEqual: result = code == kCmpEqual; break;
    case opNotEqual: result = RawResult ? (code == kCmpLower || code == kCmpGreater) : code != kCmpEqual; break;
    case opGreater: result = code == kCmpGreater; break;
    case opLower: result = code == kCmpLower; break;
    case opGreaterEqual: result = code == kCmpEqual || code == kCmpGreater; break;
    case opLowerEqual: result = code == kCmpEqual || code == kCmpLower; break;
    default: throw EABSException(30117, "Unknown operator: '%s'", {OperatorName(Kind)});
  }
  SetLogical(Value, result);
  return Value;
}

// ---- Boolean nodes ---------------------------------------------------------------

TABSVariant& TABSExprNodeBoolean::GetValue() {
  switch (Kind) {
    case opNot: {
      const TABSVariant& v = Children[0]->GetValue();
      if (v.IsNull())
        SetUnknown(Value);
      else
        SetLogical(Value, !v.AsLogical());
      return Value;
    }
    case opAnd: {
      bool unknown = false;
      for (auto& c : Children) {
        const TABSVariant& v = c->GetValue();
        if (v.IsNull()) {
          unknown = true;
        } else if (!v.AsLogical()) {
          SetLogical(Value, false);
          return Value;
        }
      }
      if (unknown)
        SetUnknown(Value);
      else
        SetLogical(Value, true);
      return Value;
    }
    case opOr: {
      bool unknown = false;
      for (auto& c : Children) {
        const TABSVariant& v = c->GetValue();
        if (v.IsNull()) {
          unknown = true;
        } else if (v.AsLogical()) {
          SetLogical(Value, true);
          return Value;
        }
      }
      if (unknown)
        SetUnknown(Value);
      else
        SetLogical(Value, false);
      return Value;
    }
    case opIsNull:
    case opIsNotNull: SetLogical(Value, Children[0]->GetValue().IsNull() == (Kind == opIsNull)); return Value;
    case opBetween:
    case opNotBetween: EvaluateBetween(); return Value;
    case opIn:
    case opNotIn: EvaluateIn(); return Value;
    case opLike:
    case opNotLike: EvaluateLike(); return Value;
    case opExists: throw EABSException(30350, "Not implemented yet");
    default: throw EABSException(30116, "Unknown operator: '%s'", {OperatorName(Kind)});
  }
}

void TABSExprNodeBoolean::EvaluateBetween() {
  Scratch.Assign(Children[0]->GetValue());
  const TABSVariant& low = Children[1]->GetValue();
  if (Scratch.IsNull() || low.IsNull()) return SetUnknown(Value);
  const int lowCode = Scratch.Compare(low, true, false, true);
  const TABSVariant& high = Children[2]->GetValue();
  if (high.IsNull()) return SetUnknown(Value);
  const int highCode = Scratch.Compare(high, true, false, true);
  const bool inside =
      (lowCode == kCmpEqual || lowCode == kCmpGreater) && (highCode == kCmpEqual || highCode == kCmpLower);
  SetLogical(Value, Kind == opBetween ? inside : !inside);
}

void TABSExprNodeBoolean::EvaluateIn() {
  Scratch.Assign(Children[0]->GetValue());
  if (Scratch.IsNull()) return SetUnknown(Value);
  bool found = false;
  for (size_t i = 1; i < Children.size() && !found; ++i) {
    const TABSVariant& item = Children[i]->GetValue();
    if (item.IsNull()) continue;
    found = Scratch.Compare(item, true, false, true) == kCmpEqual;
  }
  SetLogical(Value, Kind == opIn ? found : !found);
}

void TABSExprNodeBoolean::EvaluateLike() {
  const TABSVariant& pattern = Children[1]->GetValue();
  if (pattern.IsNull()) return SetUnknown(Value);
  const TABSStorageType patternType = pattern.StorageType();
  Scratch.Assign(Children[0]->GetValue());
  if (Scratch.IsNull()) Scratch.Clear(patternType);  // matched as an empty string
  const TABSStorageType common = CommonStorageType(Scratch.StorageType(), patternType, kForArithmetic);
  if (!IsStringStorage(common))
    throw EABSException(30120, "Not string argument in function '%s'", {OperatorName(Kind)});
  TABSLikeEscape escape;
  if (!EscapeText.empty()) {
    escape.present = true;
    escape.character = static_cast<unsigned char>(EscapeText[0]);
    escape.line = EscapeLine;
    escape.column = EscapeColumn;
  }
  bool matched;
  if (IsWideStringStorage(common)) {
    const std::u16string v = Scratch.IsNull() ? std::u16string() : Scratch.AsWideString();
    matched = LikeMatch(v, pattern.AsWideString(), escape, CaseInsensitive);
  } else {
    const std::string v = Scratch.IsNull() ? std::string() : Scratch.AsString();
    matched = LikeMatch(v, pattern.AsString(), escape, CaseInsensitive);
  }
  SetLogical(Value, Kind == opLike ? matched : !matched);
}

#include "sql/ExprAggregate.h"

#include "core/ZUDExcept.h"

bool TABSExprNodeAggregate::IntegerSum() {
  return !Children.empty() && IsIntegerStorage(DataTypeToStorageType(Children[0]->GetDataType()));
}

void TABSExprNodeAggregate::ResetAggregates() {
  count_ = 0;
  integerSum_ = 0;
  sum_ = 0;
  hasBest_ = false;
  best_.Clear();
  seen_.clear();
}

void TABSExprNodeAggregate::SetCount(int32_t n) {
  if (Kind == opAggregateCountAll) count_ = n;
}

void TABSExprNodeAggregate::Accumulate() {
  if (Kind == opAggregateCountAll) {
    ++count_;
    return;
  }
  if (Children.empty()) throw std::logic_error("an aggregate other than COUNT(*) has one argument");
  const TABSVariant& v = Children[0]->GetValue();
  if (v.IsNull()) return;
  if (Distinct && !seen_.insert(std::to_string(v.StorageType()) + ":" + v.AsString()).second) return;
  ++count_;
  switch (Kind) {
    case opAggregateSum:
    case opAggregateAvg:
      if (IsIntegerStorage(v.StorageType()))
        integerSum_ += v.AsLargeint();
      else
        sum_ += v.AsDouble();
      break;
    case opAggregateMin:
    case opAggregateMax: {
      const int code = hasBest_ ? v.Compare(best_) : kCmpEqual;
      if (!hasBest_ || (Kind == opAggregateMin ? code == kCmpLower : code == kCmpGreater)) best_.Assign(v);
      hasBest_ = true;
      break;
    }
    default: break;
  }
}

TABSVariant& TABSExprNodeAggregate::GetValue() {
  switch (Kind) {
    case opAggregateCount:
    case opAggregateCountAll: Value.SetAsLargeint(count_); break;
    case opAggregateSum:
      if (count_ == 0)
        Value.Clear(IntegerSum() ? bftLargeint : bftDouble);
      else if (IntegerSum())
        Value.SetAsLargeint(integerSum_);
      else
        Value.SetAsDouble(sum_ + static_cast<double>(integerSum_));
      break;
    case opAggregateAvg:
      if (count_ == 0)
        Value.Clear(bftDouble);
      else
        Value.SetAsDouble((sum_ + static_cast<double>(integerSum_)) / static_cast<double>(count_));
      break;
    case opAggregateMin:
    case opAggregateMax:
      if (hasBest_)
        Value.Assign(best_);
      else
        Value.Clear(DataTypeToStorageType(GetDataType()));
      break;
    default: throw EABSException(30121, "Unknown operator: '%s'", {OperatorName(Kind)});
  }
  return Value;
}

TABSDataType TABSExprNodeAggregate::GetDataType() {
  switch (Kind) {
    case opAggregateCount:
    case opAggregateCountAll: return aftLargeint;
    case opAggregateSum: return IntegerSum() ? aftLargeint : aftDouble;
    case opAggregateAvg: return aftDouble;
    default: return Children.empty() ? aftUnknown : Children[0]->GetDataType();
  }
}

int32_t TABSExprNodeAggregate::GetSize() {
  return (Kind == opAggregateMin || Kind == opAggregateMax) && !Children.empty() ? Children[0]->GetSize() : 0;
}

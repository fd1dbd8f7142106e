// ExprAggregate: TABSExprNodeAggregate, the aggregate functions COUNT(*),
// COUNT, SUM, AVG, MIN and MAX with an optional DISTINCT, the minimum the
// grouping of a query needs. The other functions stay unbuilt (30350).
//
// Contract
//  1. The aggregate protocol: ResetAggregates empties the accumulator;
//     Accumulate evaluates the argument on the row its sources read and
//     adds it; GetValue answers the value for the rows accumulated since
//     the reset. SetCount gives COUNT(*) a row count without rows.
//  2. NULL arguments are skipped; over no value COUNT answers 0 and the
//     others NULL. DISTINCT counts each value once (by its text form).
//  3. COUNT answers a LARGEINT; SUM a LARGEINT over integers, else a
//     DOUBLE; AVG a DOUBLE; MIN and MAX the argument's type.
//  4. An aggregate reads no column itself: its argument's columns are read
//     only while accumulating, so an aggregate is never nested in another.
//
// Thread use: as the expression that owns it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "sql/ExprNodes.h"

// Operator codes of the aggregates.
enum TABSExprAggregateOp : uint8_t {
  opAggregateSum = 34,
  opAggregateAvg = 35,
  opAggregateMin = 36,
  opAggregateMax = 37,
  opAggregateCount = 38,
  opAggregateCountAll = 39,
};

class TABSExprNodeAggregate : public TABSExprNode {
 public:
  TABSExprNodeAggregate(uint8_t kind, bool distinct) : TABSExprNode(kind), Distinct(distinct) {}

  bool Distinct;

  TABSVariant& GetValue() override;
  bool HasAggregate() const override { return true; }
  bool IsCountAll() const override { return Kind == opAggregateCountAll; }
  void ResetAggregates() override;
  void Accumulate() override;
  void SetCount(int32_t n) override;
  TABSDataType GetDataType() override;
  int32_t GetSize() override;

 protected:
  std::unique_ptr<TABSExprNode> CloneEmpty() const override {
    return std::make_unique<TABSExprNodeAggregate>(Kind, Distinct);
  }

 private:
  bool IntegerSum();

  int64_t count_ = 0;
  int64_t integerSum_ = 0;
  double sum_ = 0;
  bool hasBest_ = false;
  TABSVariant best_;
  std::unordered_set<std::string> seen_;
};

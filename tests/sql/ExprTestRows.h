// A small row source for expression tests: a named table of typed columns
// with one current row, standing in for relational operators and cursors.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/ZUDExpressions.h"

class TestRows : public TABSExprOperator {
 public:
  explicit TestRows(std::string table) : table_(std::move(table)) {}

  // Adds a column; returns its number.
  int Add(const std::string& name, TABSDataType type, int32_t size = 0) {
    TABSExprColumn c;
    c.Qualifier = table_;
    c.Name = c.DisplayName = name;
    c.DataType = type;
    c.StorageType = DataTypeToStorageType(type);
    c.Size = size;
    columns_.push_back(c);
    values_.push_back(std::make_unique<TABSVariant>(c.StorageType));
    return static_cast<int>(columns_.size()) - 1;
  }
  TABSVariant& operator[](const std::string& name) {
    for (size_t i = 0; i < columns_.size(); ++i)
      if (columns_[i].Name == name) return *values_[i];
    throw std::out_of_range(name);
  }
  void SetNull(const std::string& name) { (*this)[name].Clear(DataTypeToStorageType(Col(name).DataType)); }
  const TABSExprColumn& Col(const std::string& name) const {
    for (const auto& c : columns_)
      if (c.Name == name) return c;
    throw std::out_of_range(name);
  }

  std::vector<int32_t> FindFields(const std::string& name, const std::string& qualifier) const override {
    std::vector<int32_t> out;
    for (size_t i = 0; i < columns_.size(); ++i)
      if (Same(columns_[i].Name, name) && (qualifier.empty() || Same(qualifier, table_)))
        out.push_back(static_cast<int32_t>(i));
    return out;
  }
  TABSExprColumn Column(int32_t column) const override { return columns_.at(static_cast<size_t>(column)); }
  void ReadValue(int32_t column, TABSVariant& value) override {
    ++reads;
    value.Assign(*values_.at(static_cast<size_t>(column)));
  }

  // Operator side of the planner.
  bool outerJoin = false;
  TestRows* left = nullptr;
  TestRows* right = nullptr;
  std::vector<std::unique_ptr<TABSExpression>> filters;
  int reads = 0;
  bool IsOuterJoin() const override { return outerJoin; }
  TABSExprOperator* LeftChild() const override { return left; }
  TABSExprOperator* RightChild() const override { return right; }
  void AddFilter(std::unique_ptr<TABSExpression> condition) override { filters.push_back(std::move(condition)); }

 private:
  static bool Same(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  }
  std::string table_;
  std::vector<TABSExprColumn> columns_;
  std::vector<std::unique_ptr<TABSVariant>> values_;
};

// A join of two row sources: finds columns in both, numbering the right
// one's after the left one's.
class TestJoin : public TABSExprOperator {
 public:
  TestJoin(TestRows& l, TestRows& r) : l_(l), r_(r) {}
  std::vector<int32_t> FindFields(const std::string& name, const std::string& qualifier) const override {
    auto out = l_.FindFields(name, qualifier);
    for (int32_t c : r_.FindFields(name, qualifier)) out.push_back(c + kRightBase);
    return out;
  }
  TABSExprColumn Column(int32_t c) const override { return c >= kRightBase ? r_.Column(c - kRightBase) : l_.Column(c); }
  void ReadValue(int32_t c, TABSVariant& v) override {
    if (c >= kRightBase)
      r_.ReadValue(c - kRightBase, v);
    else
      l_.ReadValue(c, v);
  }
  bool outerJoin = false;
  bool IsOuterJoin() const override { return outerJoin; }
  TABSExprOperator* LeftChild() const override { return &l_; }
  TABSExprOperator* RightChild() const override { return &r_; }
  std::vector<std::unique_ptr<TABSExpression>> filters;
  void AddFilter(std::unique_ptr<TABSExpression> condition) override { filters.push_back(std::move(condition)); }

 private:
  static constexpr int32_t kRightBase = 1000;
  TestRows& l_;
  TestRows& r_;
};

// VectorDataSet: a dataset whose records are rows in a vector, for the
// tests of the dataset framework and the data-aware controls: no engine.
// Rows keep their order of insertion; a bookmark is a row's identity,
// which stays valid until the row is deleted. Counters tell what the
// framework asked of it.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "dataset/Dataset.h"

class VectorDataSet : public tiv::dataset::DataSet {
 public:
  using FieldValue = tiv::dataset::FieldValue;
  struct Row {
    int id;
    std::vector<FieldValue> values;
  };

  VectorDataSet(std::vector<tiv::dataset::FieldDef> defs, std::string name = "Vector")
      : DataSet(std::move(name)), defs_(std::move(defs)) {}
  ~VectorDataSet() override { Close(); }

  std::vector<Row> rows;
  int posts = 0, fetches = 0;
  bool failNextPost = false;

  void AddRow(std::vector<FieldValue> values) { rows.push_back({nextId_++, std::move(values)}); }

  std::string FormatValue(const tiv::dataset::Field& field, const FieldValue& v, bool display) const override {
    (void)field;
    switch (v.kind) {
      case tiv::dataset::ValueKind::Boolean: return v.i ? (display ? "Yes" : "True") : (display ? "No" : "False");
      case tiv::dataset::ValueKind::Integer: return std::to_string(v.i);
      case tiv::dataset::ValueKind::Float: return std::to_string(v.f);
      default: return v.s;
    }
  }
  FieldValue ParseText(const tiv::dataset::Field& field, const std::string& text) const override {
    if (field.DataType() == tiv::dataset::FieldType::Integer) return FieldValue::Integer(std::stoll(text));
    if (field.DataType() == tiv::dataset::FieldType::Boolean) return FieldValue::Boolean(text == "True");
    return FieldValue::Text(text);
  }

 protected:
  void InternalOpen() override {
    SetFields(defs_);
    pos_ = -1;
  }
  void InternalClose() noexcept override {}
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = static_cast<int>(rows.size()); }
  tiv::dataset::FetchResult InternalFetch(tiv::dataset::FetchMode mode, tiv::dataset::Record& into) override {
    ++fetches;
    using tiv::dataset::FetchMode;
    using tiv::dataset::FetchResult;
    if (mode == FetchMode::Next) {
      if (pos_ + 1 >= static_cast<int>(rows.size())) {
        pos_ = static_cast<int>(rows.size());
        return FetchResult::Eof;
      }
      ++pos_;
    } else if (mode == FetchMode::Prior) {
      if (pos_ - 1 < 0) {
        pos_ = -1;
        return FetchResult::Bof;
      }
      --pos_;
    } else if (pos_ < 0 || pos_ >= static_cast<int>(rows.size())) {
      return FetchResult::Error;
    }
    Fill(into);
    return FetchResult::Ok;
  }
  void InternalInitRecord(tiv::dataset::Record& record) override { record.values.assign(defs_.size(), {}); }
  void InternalEdit() override {}
  void InternalPost(const tiv::dataset::Record& record, bool insert) override {
    if (failNextPost) {
      failNextPost = false;
      throw tiv::dataset::EDatabaseError("post refused");
    }
    ++posts;
    if (insert) {
      AddRow(record.values);
      pos_ = static_cast<int>(rows.size()) - 1;
    } else {
      rows[static_cast<size_t>(pos_)].values = record.values;
    }
  }
  void InternalCancel() noexcept override {}
  void InternalDelete() override {
    rows.erase(rows.begin() + pos_);
    if (pos_ >= static_cast<int>(rows.size())) pos_ = static_cast<int>(rows.size()) - 1;
  }
  bool InternalGotoBookmark(const std::string& bookmark) override {
    for (size_t i = 0; i < rows.size(); ++i)
      if (std::to_string(rows[i].id) == bookmark) {
        pos_ = static_cast<int>(i);
        return true;
      }
    return false;
  }
  int64_t InternalRecordCount() override { return static_cast<int64_t>(rows.size()); }

 private:
  void Fill(tiv::dataset::Record& into) {
    into.values = rows[static_cast<size_t>(pos_)].values;
    into.bookmark = std::to_string(rows[static_cast<size_t>(pos_)].id);
  }

  std::vector<tiv::dataset::FieldDef> defs_;
  int pos_ = -1;
  int nextId_ = 1;
};

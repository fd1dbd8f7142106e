// Field: one column of a dataset, the object through which the program and
// the data-aware controls read and write the value of the dataset's active
// record (DataSet.h contract 4: the current record while browsing, the
// edit buffer while inserting or editing).
//
// Contract
//  1. A field belongs to one dataset and keeps its position in it; the
//     dataset creates its fields when it opens and destroys them when it
//     closes.
//  2. Reading a field of an empty dataset gives NULL.
//  3. Writing needs the dataset in edit or insert mode (kNotEditing
//     otherwise) and a field that is not read-only; the dataset's data
//     links hear of the change (DataSource.h).
//  4. Text: DisplayText is what a grid shows, Text what an edit box edits;
//     both come from the dataset, which knows the engine's conversions.
//     AsString is Text. SetText parses through the dataset; an empty text
//     sets NULL.
//  5. AsInteger and AsFloat of a text value read it as a number in the
//     locale's form (kNotANumber when it is none); AsInteger rounds.
//  6. AsDateTime is the fractional day form: days since 30/12/1899, the
//     time of day as the fraction.
//
// Thread use: the dataset's (the GUI thread).
#pragma once

#include <cstdint>
#include <string>

#include "dataset/FieldValue.h"

namespace tiv::dataset {

class DataSet;

enum class FieldType {
  Unknown,
  String,
  WideString,
  Smallint,
  Integer,
  Largeint,
  Word,
  AutoInc,
  Boolean,
  Float,
  Currency,
  Date,
  Time,
  DateTime,
  Memo,
  Blob,
  Bytes,
  Guid
};

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Unknown;
  int32_t size = 0;  // characters of a string, bytes of a byte string
  bool required = false;
};

class Field {
 public:
  Field(DataSet& dataSet, FieldDef def, int index);
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  DataSet& Owner() const { return dataSet_; }
  const std::string& FieldName() const { return def_.name; }
  FieldType DataType() const { return def_.type; }
  int32_t Size() const { return def_.size; }
  bool Required() const { return def_.required; }
  int Index() const { return index_; }
  bool IsBlob() const { return def_.type == FieldType::Memo || def_.type == FieldType::Blob; }

  // Display properties the data-aware controls use.
  std::string DisplayLabel;  // empty: the field name
  int DisplayWidth = 0;      // characters; 0: from the size
  bool Visible = true;
  bool ReadOnly = false;
  bool Calculated = false;  // DataSet.h contract 10
  const std::string& Label() const { return DisplayLabel.empty() ? def_.name : DisplayLabel; }

  FieldValue Value() const;
  void SetValue(const FieldValue& value);
  bool IsNull() const { return Value().IsNull(); }
  void Clear() { SetValue(FieldValue::Null()); }

  std::string AsString() const { return Text(); }
  void SetAsString(const std::string& text) { SetText(text); }
  int64_t AsInteger() const;
  void SetAsInteger(int64_t v) { SetValue(FieldValue::Integer(v)); }
  double AsFloat() const;
  void SetAsFloat(double v) { SetValue(FieldValue::Float(v)); }
  bool AsBoolean() const;
  void SetAsBoolean(bool v) { SetValue(FieldValue::Boolean(v)); }
  double AsDateTime() const;
  // Contract 4.
  std::string DisplayText() const;
  std::string Text() const;
  void SetText(const std::string& text);

 private:
  double NumberOfText(const std::string& value) const;

  DataSet& dataSet_;
  FieldDef def_;
  int index_;
};

}  // namespace tiv::dataset

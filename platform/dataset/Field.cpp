#include "dataset/Field.h"

#include <cmath>

#include "dataset/DataSet.h"
#include "locale/Locale.h"

namespace tiv::dataset {

Field::Field(DataSet& dataSet, FieldDef def, int index) : dataSet_(dataSet), def_(std::move(def)), index_(index) {}

FieldValue Field::Value() const { return dataSet_.ActiveValue(index_); }

void Field::SetValue(const FieldValue& value) { dataSet_.SetActiveValue(*this, value); }

double Field::NumberOfText(const std::string& value) const {
  long double number = 0;
  if (!tiv::locale::CurrentLocale()->ParseFloat(value, number))
    RaiseFor(dataSet_.Name(), Format(text::kNotANumber, {value}));
  return static_cast<double>(number);
}

int64_t Field::AsInteger() const {
  const FieldValue v = Value();
  switch (v.kind) {
    case ValueKind::Integer:
    case ValueKind::Boolean:
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::DateTime: return v.i;
    case ValueKind::Float: return std::llround(v.f);
    case ValueKind::Null: return 0;
    default: return std::llround(NumberOfText(v.s));
  }
}

double Field::AsFloat() const {
  const FieldValue v = Value();
  switch (v.kind) {
    case ValueKind::Float: return v.f;
    case ValueKind::Integer:
    case ValueKind::Boolean: return static_cast<double>(v.i);
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::DateTime: return AsDateTime();
    case ValueKind::Null: return 0;
    default: return NumberOfText(v.s);
  }
}

bool Field::AsBoolean() const {
  const FieldValue v = Value();
  if (v.kind == ValueKind::Float) return v.f != 0;
  return AsInteger() != 0;
}

double Field::AsDateTime() const {
  const FieldValue v = Value();
  switch (v.kind) {
    case ValueKind::Date: return static_cast<double>(v.i - kDateTimeOrigin);
    case ValueKind::Time: return static_cast<double>(v.i) / kMSecsPerDay;
    case ValueKind::DateTime:
      return static_cast<double>(v.i - kDateTimeOrigin) + static_cast<double>(v.ms) / kMSecsPerDay;
    case ValueKind::Float: return v.f;
    default: return 0;
  }
}

std::string Field::DisplayText() const {
  const FieldValue v = Value();
  return v.IsNull() ? std::string() : dataSet_.FormatValue(*this, v, true);
}

std::string Field::Text() const {
  const FieldValue v = Value();
  return v.IsNull() ? std::string() : dataSet_.FormatValue(*this, v, false);
}

void Field::SetText(const std::string& text) {
  SetValue(text.empty() ? FieldValue::Null() : dataSet_.ParseText(*this, text));
}

}  // namespace tiv::dataset

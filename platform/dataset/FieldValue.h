// FieldValue: the value of one field of a dataset record, as the dataset
// framework and the data-aware controls exchange it. The framework never
// converts values to or from text itself: the dataset that owns the field
// does (DataSet::FormatValue, DataSet::ParseText), with the locale and the
// conversions of its engine.
//
// Kinds: Null; Integer (64-bit); Float (double); Boolean; Text (8-bit,
// Windows-1252); Date (a day number, 1 = 01/01/0001); Time (milliseconds
// since midnight); DateTime (a day number and milliseconds); Bytes (BLOB
// and MEMO content).
//
// Thread use: a value is a plain copyable object.
#pragma once

#include <cstdint>
#include <string>

namespace tiv::dataset {

enum class ValueKind { Null, Integer, Float, Boolean, Text, Date, Time, DateTime, Bytes };

// Day number of 30/12/1899: the origin of the framework's fractional
// date-time form (AsDateTime), where 1.5 is 31/12/1899 at noon.
constexpr int64_t kDateTimeOrigin = 693594;
constexpr int64_t kMSecsPerDay = 86400000;

struct FieldValue {
  ValueKind kind = ValueKind::Null;
  int64_t i = 0;   // Integer, Boolean (0/1), Date and DateTime (day), Time (ms)
  int64_t ms = 0;  // DateTime: milliseconds
  double f = 0;    // Float
  std::string s;   // Text, Bytes

  bool IsNull() const { return kind == ValueKind::Null; }
  bool operator==(const FieldValue&) const = default;

  static FieldValue Null() { return {}; }
  static FieldValue Integer(int64_t v) { return {ValueKind::Integer, v, 0, 0, {}}; }
  static FieldValue Float(double v) { return {ValueKind::Float, 0, 0, v, {}}; }
  static FieldValue Boolean(bool v) { return {ValueKind::Boolean, v ? 1 : 0, 0, 0, {}}; }
  static FieldValue Text(std::string v) { return {ValueKind::Text, 0, 0, 0, std::move(v)}; }
  static FieldValue Date(int64_t day) { return {ValueKind::Date, day, 0, 0, {}}; }
  static FieldValue Time(int64_t msec) { return {ValueKind::Time, msec, 0, 0, {}}; }
  static FieldValue DateTime(int64_t day, int64_t msec) { return {ValueKind::DateTime, day, msec, 0, {}}; }
  static FieldValue Bytes(std::string v) { return {ValueKind::Bytes, 0, 0, 0, std::move(v)}; }
};

}  // namespace tiv::dataset

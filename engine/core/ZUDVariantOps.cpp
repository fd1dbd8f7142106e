// TABSVariant arithmetic, negation and the OLE-variant exchange.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "core/ZUDBytes.h"
#include "core/ZUDConvert.h"
#include "core/ZUDExcept.h"
#include "core/ZUDVariant.h"

namespace {

struct Operand {
  TABSConverted owned;
  const char* p = nullptr;
  int32_t size = 0;
};

Operand InType(const TABSVariant& v, TABSStorageType type) {
  Operand o;
  if (v.StorageType() == type) {
    o.p = v.Buffer();
    o.size = v.ValueSize();
  } else {
    o.owned = ConvertValue(v.Buffer(), v.StorageType(), v.ValueSize(), type);
    o.p = o.owned.block.get();
    o.size = o.owned.size;
  }
  if (!o.p) throw EABSException(30140, "Value is Null");
  return o;
}

[[noreturn]] void NotNumeric(char op) {
  switch (op) {
    case '+': throw EABSException(30124, "Not numeric argument in numeric operator '%s'", {"+"});
    case '*': throw EABSException(30126, "Not numeric argument in numeric operator '%s'", {"*"});
    default: throw EABSException(30127, "Not numeric argument in numeric operator '%s'", {"/"});
  }
}

[[noreturn]] void DivisionError(const char* what) { throw EABSException(30128, "Division error: %s", {what}); }

// A result that does not fit its type: the wide intermediate cannot be
// cast into it.
[[noreturn]] void OutOfRange(TABSStorageType wide, TABSStorageType type) {
  throw EABSException(30051, "Cannot cast from '%s' to '%s'", {StorageTypeName(wide), StorageTypeName(type)});
}

int64_t IntegerOf(const char* p, TABSStorageType t) {
  switch (t) {
    case bftShortint: return zud::GetI8(p);
    case bftSmallint: return zud::GetI16(p);
    case bftByte: return static_cast<unsigned char>(*p);
    case bftWord: return zud::GetU16(p);
    case bftCardinal: return zud::GetU32(p);
    case bftLargeint: return zud::GetI64(p);
    default: return zud::GetI32(p);  // INTEGER, DATE, TIME
  }
}

long double FloatOf(const char* p, TABSStorageType t) {
  switch (t) {
    case bftSingle: return zud::GetF32(p);
    case bftExtended: return zud::GetF80(p);
    default: return zud::GetF64(p);  // DOUBLE, CURRENCY
  }
}

void IntegerLimits(TABSStorageType t, __int128& lo, __int128& hi) {
  switch (t) {
    case bftShortint:
      lo = INT8_MIN;
      hi = INT8_MAX;
      return;
    case bftSmallint:
      lo = INT16_MIN;
      hi = INT16_MAX;
      return;
    case bftByte:
      lo = 0;
      hi = UINT8_MAX;
      return;
    case bftWord:
      lo = 0;
      hi = UINT16_MAX;
      return;
    case bftCardinal:
      lo = 0;
      hi = UINT32_MAX;
      return;
    case bftLargeint:
      lo = INT64_MIN;
      hi = INT64_MAX;
      return;
    default:
      lo = INT32_MIN;
      hi = INT32_MAX;
      return;
  }
}

TABSConverted IntegerResult(__int128 v, TABSStorageType t, char op) {
  __int128 lo, hi;
  IntegerLimits(t, lo, hi);
  if (v < lo || v > hi) {
    if (op == '/') DivisionError("Integer overflow");
    OutOfRange(bftLargeint, t);
  }
  TABSConverted c;
  c.size = StorageTypeValueSize(t, 0);
  c.block = AllocBlock(static_cast<uint64_t>(c.size), true);
  char tmp[8];
  zud::PutU64(tmp, static_cast<uint64_t>(static_cast<int64_t>(v)));
  std::memcpy(c.block.get(), tmp, static_cast<size_t>(c.size));  // the low bytes, little-endian
  return c;
}

TABSConverted FloatResult(long double v, TABSStorageType t, char op) {
  const long double max = t == bftSingle ? FLT_MAX : t == bftExtended ? LDBL_MAX : DBL_MAX;
  if (!std::isfinite(v) || std::fabs(v) > max) {
    if (op == '/') DivisionError("Floating point overflow");
    OutOfRange(bftExtended, t);
  }
  TABSConverted c;
  c.size = StorageTypeValueSize(t, 0);
  c.block = AllocBlock(static_cast<uint64_t>(c.size), true);
  if (t == bftSingle)
    zud::PutF32(c.block.get(), static_cast<float>(v));
  else if (t == bftExtended)
    zud::PutF80(c.block.get(), v);
  else
    zud::PutF64(c.block.get(), static_cast<double>(v));
  return c;
}

TABSConverted PairResult(int64_t date, int64_t ms, char op) {
  if (date < INT32_MIN || date > INT32_MAX) {
    if (op == '/') DivisionError("Integer overflow");
    OutOfRange(bftLargeint, bftDateTime);
  }
  TABSConverted c;
  c.size = 8;
  c.block = AllocBlock(8, true);
  zud::PutU32(c.block.get(), static_cast<uint32_t>(date));
  zud::PutU32(c.block.get() + 4, static_cast<uint32_t>(ms));
  return c;
}

TABSConverted Concatenate(const Operand& l, const Operand& r, TABSStorageType t) {
  TABSConverted c;
  if (IsWideStringStorage(t)) {
    auto units = [](const Operand& o) {
      int32_t n = 0;
      while (2 * n + 1 < o.size && zud::GetU16(o.p + 2 * n) != 0) ++n;
      return n;
    };
    const int32_t ln = units(l), rn = units(r);
    c.size = (ln + rn + 1) * 2;
    c.block = AllocBlock(static_cast<uint64_t>(c.size), true);
    std::memcpy(c.block.get(), l.p, static_cast<size_t>(ln) * 2);
    std::memcpy(c.block.get() + 2 * ln, r.p, static_cast<size_t>(rn) * 2);
  } else {
    const size_t ln = strnlen(l.p, static_cast<size_t>(l.size)), rn = strnlen(r.p, static_cast<size_t>(r.size));
    c.size = static_cast<int32_t>(ln + rn + 1);
    c.block = AllocBlock(static_cast<uint64_t>(c.size), true);
    std::memcpy(c.block.get(), l.p, ln);
    std::memcpy(c.block.get() + ln, r.p, rn);
  }
  return c;
}

}  // namespace

void TABSVariant::Arithmetic(const TABSVariant& right, char op) {
  const TABSStorageType t = CommonStorageType(type_, right.type_, kForArithmetic);
  if (t == bftUnknown) NotNumeric(op);
  const bool numeric = IsNumericStorage(t) || IsDateTimeStorage(t);
  if (!(numeric || (op == '+' && IsStringStorage(t)))) NotNumeric(op);
  const Operand l = InType(*this, t);
  const Operand r = InType(right, t);
  TABSConverted result;
  if (IsStringStorage(t)) {
    result = Concatenate(l, r, t);
  } else if (IsIntegerStorage(t) || t == bftDate || t == bftTime) {
    const __int128 a = IntegerOf(l.p, t), b = IntegerOf(r.p, t);
    __int128 v = 0;
    if (op == '+')
      v = a + b;
    else if (op == '*')
      v = a * b;
    else if (b == 0)
      DivisionError("Division by zero");
    else
      v = a / b;
    result = IntegerResult(v, t, op);
  } else if (IsFloatStorage(t)) {
    const long double a = FloatOf(l.p, t), b = FloatOf(r.p, t);
    long double v = 0;
    if (op == '+')
      v = a + b;
    else if (op == '*')
      v = a * b;
    else if (b == 0)
      DivisionError(a == 0 || std::isnan(a) ? "Invalid floating point operation" : "Floating point division by zero");
    else
      v = a / b;
    if (std::isnan(v) && op != '/') OutOfRange(bftExtended, t);
    if (std::isnan(v)) DivisionError("Invalid floating point operation");
    result = FloatResult(v, t, op);
  } else {  // DATETIME
    const int64_t ld = zud::GetI32(l.p), lt = zud::GetI32(l.p + 4);
    const int64_t rd = zud::GetI32(r.p), rt = zud::GetI32(r.p + 4);
    if (op == '+') {
      int64_t date = ld + rd, ms = lt + rt;
      // Carry whole days out of the milliseconds.
      if (ms > kMSecsPerDay - 1) {
        date += ms / kMSecsPerDay;
        ms %= kMSecsPerDay;
      }
      result = PairResult(date, ms, op);
    } else {
      // As day numbers with a fraction of a day.
      const long double a = ld + static_cast<long double>(lt) / kMSecsPerDay;
      const long double b = rd + static_cast<long double>(rt) / kMSecsPerDay;
      if (op == '/' && b == 0) DivisionError("Division by zero");
      const long double v = op == '*' ? a * b : a / b;
      if (!std::isfinite(v)) OutOfRange(bftExtended, t);
      long double whole = std::floor(v);
      long double ms = std::round((v - whole) * kMSecsPerDay);
      if (ms >= kMSecsPerDay) {
        ms = 0;
        whole += 1;
      }
      if (whole < INT32_MIN || whole > INT32_MAX) OutOfRange(bftExtended, t);
      result = PairResult(static_cast<int64_t>(whole), static_cast<int64_t>(ms), op);
    }
  }
  Adopt(result.block.release(), result.size, t);
}

void TABSVariant::Add(const TABSVariant& right) {
  if (right.IsNull()) {
    if (!IsStringStorage(type_)) SetNull();
    return;
  }
  if (IsNull()) {
    if (IsStringStorage(type_)) Assign(right, true);
    return;
  }
  Arithmetic(right, '+');
}

void TABSVariant::Multiply(const TABSVariant& right) {
  if (IsNull() || right.IsNull()) {
    SetNull();
    return;
  }
  Arithmetic(right, '*');
}

void TABSVariant::Divide(const TABSVariant& right) {
  if (IsNull() || right.IsNull()) {
    SetNull();
    return;
  }
  Arithmetic(right, '/');
}

void TABSVariant::Negate() {
  if (IsNull()) return;
  TABSConverted result;
  if (IsIntegerStorage(type_) || type_ == bftDate) {
    result = IntegerResult(-static_cast<__int128>(IntegerOf(buffer_, type_)), type_, '-');
  } else if (IsFloatStorage(type_)) {
    result = FloatResult(-FloatOf(buffer_, type_), type_, '-');
  } else if (type_ == bftLogical) {
    result.size = 2;
    result.block = AllocBlock(2);
    zud::PutU16(result.block.get(), zud::GetU16(buffer_) != 0 ? 0 : 0xFFFF);
  } else {
    throw EABSException(30123, "Cannot invert value with not numeric type '%s'", {StorageTypeName(type_)});
  }
  Adopt(result.block.release(), result.size, type_);
}

// The OLE-variant exchange.
uint16_t OleVarType(const TABSOleVariant& v) {
  static const uint16_t kTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 16, 17, 18, 19, 20, 0x100, 0};
  if (const auto* other = std::get_if<ole::Other>(&v)) return other->varType;
  if (const auto* custom = std::get_if<ole::Custom>(&v)) {
    (void)custom;
    return 0x10F;
  }
  return kTypes[v.index()];
}

void TABSVariant::SetAsVariant(const TABSOleVariant& v) {
  struct Visitor {
    TABSVariant& self;
    void operator()(const ole::Empty&) { self.SetNull(); }
    void operator()(const ole::Null&) { self.SetNull(); }
    void operator()(int16_t x) { self.SetAsSmallint(x); }
    void operator()(int32_t x) { self.SetAsInteger(x); }
    void operator()(float x) { self.SetAsSingle(x); }
    void operator()(double x) { self.SetAsDouble(x); }
    void operator()(const ole::Currency& x) { self.SetAsCurrency(x.amount); }
    void operator()(const ole::Date& x) { self.SetAsTDateTime(x.value); }
    void operator()(const std::u16string& x) { self.SetAsWideString(x); }
    void operator()(bool x) { self.SetAsLogical(x); }
    void operator()(int8_t x) { self.SetAsShortint(x); }
    void operator()(uint8_t x) { self.SetAsByte(x); }
    void operator()(uint16_t x) { self.SetAsWord(x); }
    void operator()(uint32_t x) { self.SetAsCardinal(x); }
    void operator()(int64_t x) { self.SetAsLargeint(x); }
    void operator()(const std::string& x) { self.SetAsString(x); }
    void operator()(const ole::Custom& x) { self.SetAsString(x.text); }
    void operator()(const ole::Other& x) {
      throw EABSException(30113, "Unsupported Variant Type %s", {std::to_string(x.varType)});
    }
  };
  std::visit(Visitor{*this}, v);
}

TABSOleVariant TABSVariant::GetAsVariant() const {
  if (IsNull()) return ole::Null{};
  switch (type_) {
    case bftChar:
    case bftString:
    case bftMemo: return AsString();
    case bftWideChar:
    case bftWideString: return AsWideString();
    case bftShortint: return AsShortint();
    case bftSmallint: return AsSmallint();
    case bftInteger: return AsInteger();
    case bftLargeint: return AsLargeint();
    case bftByte: return AsByte();
    case bftWord: return AsWord();
    case bftCardinal: return AsCardinal();
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: return AsDouble();
    case bftDate: return ole::Date{AsTDate()};
    case bftTime: return ole::Date{AsTTime()};
    case bftDateTime: return ole::Date{AsTDateTime()};
    case bftLogical: return AsLogical();
    default: throw EABSException(30114, "Unsupported Variant Type %s", {StorageTypeName(type_)});
  }
}

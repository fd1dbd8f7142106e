#include "core/ZUDConvert.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "locale/CodePage.h"
#include "locale/Locale.h"

namespace {

using tiv::locale::CurrentLocale;

// The intermediate form of one value on its way between two types.
struct Scalar {
  enum Kind { kText, kWide, kInt, kFloat, kCurrency, kDate, kTime, kDateTime, kLogical, kBytes } kind = kInt;
  std::string text;     // kText, kBytes
  std::u16string wide;  // kWide
  int64_t i = 0;        // kInt, kDate (day number), kTime (ms)
  long double f = 0;    // kFloat, kCurrency
  TABSDateTimePair dt{0, 0};
  bool b = false;
};

[[noreturn]] void Fail(TABSStorageType from, TABSStorageType to) {
  throw EABSException(30051, "Cannot cast from '%s' to '%s'", {StorageTypeName(from), StorageTypeName(to)});
}

[[noreturn]] void NoConversion(TABSStorageType from, TABSStorageType to) {
  throw EABSException(30052, "Cannot cast from '%s' to '%s'", {StorageTypeName(from), StorageTypeName(to)});
}

int32_t FixedSize(TABSStorageType t) { return StorageTypeValueSize(t, 0); }

// Reads `type` from `p`; `size` -1 means "as large as the type needs" for
// fixed types and "up to the terminator" for strings.
Scalar Decode(const char* p, TABSStorageType type, int32_t size, TABSStorageType to) {
  Scalar s;
  if (!p) Fail(type, to);
  const bool fixed = !IsStringStorage(type) && !IsBlobStorage(type) && type != bftBytes && type != bftVarBytes;
  if (fixed && size >= 0 && size < FixedSize(type)) Fail(type, to);
  switch (type) {
    case bftChar:
    case bftString:
      s.kind = Scalar::kText;
      s.text.assign(p, size < 0 ? std::strlen(p) : strnlen(p, static_cast<size_t>(size)));
      break;
    case bftWideChar:
    case bftWideString: {
      s.kind = Scalar::kWide;
      const size_t units = size < 0 ? SIZE_MAX : static_cast<size_t>(size) / 2;
      for (size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(zud::GetU16(p + 2 * i));
        if (c == 0) break;
        s.wide.push_back(c);
      }
      break;
    }
    case bftShortint: s.i = zud::GetI8(p); break;
    case bftSmallint: s.i = zud::GetI16(p); break;
    case bftInteger: s.i = zud::GetI32(p); break;
    case bftLargeint: s.i = zud::GetI64(p); break;
    case bftByte: s.i = static_cast<unsigned char>(*p); break;
    case bftWord: s.i = zud::GetU16(p); break;
    case bftCardinal: s.i = zud::GetU32(p); break;
    case bftSingle:
      s.kind = Scalar::kFloat;
      s.f = zud::GetF32(p);
      break;
    case bftDouble:
      s.kind = Scalar::kFloat;
      s.f = zud::GetF64(p);
      break;
    case bftExtended:
      s.kind = Scalar::kFloat;
      s.f = zud::GetF80(p);
      break;
    case bftCurrency:
      s.kind = Scalar::kCurrency;
      s.f = zud::GetF64(p);
      break;
    case bftDate:
      s.kind = Scalar::kDate;
      s.i = zud::GetI32(p);
      break;
    case bftTime:
      s.kind = Scalar::kTime;
      s.i = zud::GetI32(p);
      break;
    case bftDateTime:
      s.kind = Scalar::kDateTime;
      s.dt = {zud::GetI32(p), zud::GetI32(p + 4)};
      break;
    case bftLogical:
      s.kind = Scalar::kLogical;
      s.b = zud::GetU16(p) != 0;
      break;
    case bftBlob:
    case bftMemo:
    case bftBytes:
    case bftVarBytes:
      if (size < 0) Fail(type, to);
      s.kind = (type == bftMemo || type == bftBlob) ? Scalar::kText : Scalar::kBytes;
      s.text.assign(p, static_cast<size_t>(size));
      break;
    case bftWideMemo:
      if (size < 0) Fail(type, to);
      s.kind = Scalar::kWide;
      for (int32_t i = 0; i + 1 < size; i += 2) s.wide.push_back(static_cast<char16_t>(zud::GetU16(p + i)));
      break;
    default: NoConversion(type, to);
  }
  return s;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool ParseInteger(const std::string& text, int64_t& out) {
  const std::string s = Trimmed(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size()) return false;
  unsigned __int128 mag = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    mag = mag * 10 + static_cast<unsigned>(s[i] - '0');
    if (mag > static_cast<unsigned __int128>(INT64_MAX) + 1) return false;
  }
  if (!negative && mag > static_cast<unsigned __int128>(INT64_MAX)) return false;
  out = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(mag)) : static_cast<int64_t>(mag);
  return true;
}

// Contract 3: reads `count` fields of the given digit widths.
bool ParseFixedForm(const std::string& s, const int* widths, int count, int* fields) {
  size_t pos = 0;
  for (int f = 0; f < count; ++f) {
    int v = 0;
    for (int d = 0; d < widths[f]; ++d, ++pos) {
      if (pos >= s.size() || s[pos] < '0' || s[pos] > '9') return false;
      v = v * 10 + (s[pos] - '0');
    }
    fields[f] = v;
    const bool last = f == count - 1;
    if (pos == s.size()) return last;
    if (s[pos] >= '0' && s[pos] <= '9') return false;  // a field with too many digits
    ++pos;                                             // its one separator
  }
  return pos == s.size();
}

bool ValidTime(int h, int n, int sec) { return h >= 0 && h < 24 && n >= 0 && n < 60 && sec >= 0 && sec < 60; }

bool FixedDateTime(const std::string& s, TABSDateTimePair& out) {
  static const int kWidths[] = {4, 2, 2, 2, 2, 2};
  int f[6];
  if (!ParseFixedForm(s, kWidths, 6, f) || !IsValidDate(f[0], f[1], f[2]) || !ValidTime(f[3], f[4], f[5])) return false;
  out = {EncodeDayNumber(f[0], f[1], f[2]), ((f[3] * 60 + f[4]) * 60 + f[5]) * 1000};
  return true;
}

bool FixedDate(const std::string& s, int32_t& out) {
  static const int kWidths[] = {4, 2, 2};
  int f[3];
  if (!ParseFixedForm(s, kWidths, 3, f) || !IsValidDate(f[0], f[1], f[2])) return false;
  out = EncodeDayNumber(f[0], f[1], f[2]);
  return true;
}

bool FixedTime(const std::string& s, int32_t& out) {
  static const int kWidths[] = {2, 2, 2};
  int f[3];
  if (!ParseFixedForm(s, kWidths, 3, f) || !ValidTime(f[0], f[1], f[2])) return false;
  out = ((f[0] * 60 + f[1]) * 60 + f[2]) * 1000;
  return true;
}

int32_t MSecsOf(const tiv::locale::TimeParts& t) { return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.msec; }

constexpr int32_t kMaxDayNumber = 3652059;  // 9999-12-31

bool DateParts(int64_t dayNumber, tiv::locale::DateParts& d) {
  if (dayNumber < 1 || dayNumber > kMaxDayNumber) return false;
  DecodeDayNumber(static_cast<int32_t>(dayNumber), d.year, d.month, d.day);
  return true;
}

bool TimeParts(int64_t ms, tiv::locale::TimeParts& t) {
  if (ms < 0 || ms >= kMSecsPerDay) return false;
  t.msec = static_cast<int>(ms % 1000);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.hour = static_cast<int>(ms / 3600000);
  return true;
}

std::string TextOf(const Scalar& s, TABSStorageType from, TABSStorageType to) {
  auto locale = CurrentLocale();
  switch (s.kind) {
    case Scalar::kText:
    case Scalar::kBytes: return s.text;
    case Scalar::kWide: return tiv::locale::Utf16ToWin1252(s.wide);
    case Scalar::kInt: return std::to_string(s.i);
    case Scalar::kFloat:
      if (!std::isfinite(s.f)) Fail(from, to);
      if (from == bftSingle) return locale->FormatSingle(static_cast<float>(s.f));
      if (from == bftDouble) return locale->FormatDouble(static_cast<double>(s.f));
      return locale->FormatExtended(s.f);
    case Scalar::kCurrency:
      if (!std::isfinite(s.f)) Fail(from, to);
      return locale->FormatCurrency(static_cast<double>(s.f));
    case Scalar::kDate: {
      tiv::locale::DateParts d;
      if (!DateParts(s.i, d)) Fail(from, to);
      return locale->FormatShortDate(d);
    }
    case Scalar::kTime: {
      tiv::locale::TimeParts t;
      if (!TimeParts(s.i, t)) Fail(from, to);
      return locale->FormatLongTime(t);
    }
    case Scalar::kDateTime: {
      tiv::locale::DateParts d;
      tiv::locale::TimeParts t;
      if (!DateParts(s.dt.date, d) || !TimeParts(s.dt.time, t)) Fail(from, to);
      return locale->FormatDateTime(d, t);
    }
    case Scalar::kLogical: return s.b ? "True" : "False";
  }
  Fail(from, to);
}

// The value as an exact integer (integers, logicals, dates, times) or as
// a number (floats); `isInt` tells which.
void NumberOf(const Scalar& s, TABSStorageType from, TABSStorageType to, bool& isInt, int64_t& i, long double& f) {
  isInt = true;
  switch (s.kind) {
    case Scalar::kInt:
    case Scalar::kDate:
    case Scalar::kTime: i = s.i; return;
    case Scalar::kLogical: i = s.b ? 1 : 0; return;
    case Scalar::kFloat:
    case Scalar::kCurrency:
      isInt = false;
      f = s.f;
      return;
    case Scalar::kDateTime:
      isInt = false;
      f = static_cast<long double>(s.dt.date) + static_cast<long double>(s.dt.time) / kMSecsPerDay;
      return;
    case Scalar::kText:
    case Scalar::kWide: {
      const std::string text = s.kind == Scalar::kText ? s.text : tiv::locale::Utf16ToWin1252(s.wide);
      if (IsIntegerStorage(to) || to == bftDate || to == bftTime) {
        if (!ParseInteger(text, i)) Fail(from, to);
        return;
      }
      isInt = false;
      if (to == bftCurrency) {
        double d = 0;
        if (!CurrentLocale()->ParseCurrency(text, d)) Fail(from, to);
        f = d;
      } else if (!CurrentLocale()->ParseFloat(text, f)) {
        Fail(from, to);
      }
      return;
    }
    case Scalar::kBytes: break;
  }
  NoConversion(from, to);
}

// Whole number toward zero within [lo, hi], or a conversion failure.
int64_t IntegerIn(bool isInt, int64_t i, long double f, int64_t lo, int64_t hi, TABSStorageType from,
                  TABSStorageType to) {
  if (!isInt) {
    if (!std::isfinite(f)) Fail(from, to);
    const long double t = std::trunc(f);
    if (t < static_cast<long double>(lo) || t > static_cast<long double>(hi)) Fail(from, to);
    i = static_cast<int64_t>(t);
  }
  if (i < lo || i > hi) Fail(from, to);
  return i;
}

TABSConverted Block(int32_t size) {
  TABSConverted c;
  c.block = AllocBlock(static_cast<uint64_t>(size), true);
  c.size = size;
  return c;
}

TABSConverted EncodeText(const std::string& text, TABSStorageType to) {
  if (to == bftChar || to == bftString) {
    const std::string t(text.c_str());  // a string value ends at its first zero
    TABSConverted c = Block(static_cast<int32_t>(t.size()) + 1);
    std::memcpy(c.block.get(), t.data(), t.size());
    return c;
  }
  if (to == bftWideChar || to == bftWideString) {
    std::u16string w = tiv::locale::Win1252ToUtf16(std::string(text.c_str()));
    TABSConverted c = Block((static_cast<int32_t>(w.size()) + 1) * 2);
    for (size_t i = 0; i < w.size(); ++i) zud::PutU16(c.block.get() + 2 * i, w[i]);
    return c;
  }
  if (to == bftWideMemo) {
    std::u16string w = tiv::locale::Win1252ToUtf16(text);
    if (w.empty()) return {};
    TABSConverted c = Block(static_cast<int32_t>(w.size()) * 2);
    for (size_t i = 0; i < w.size(); ++i) zud::PutU16(c.block.get() + 2 * i, w[i]);
    return c;
  }
  // BLOB, MEMO: the bytes as text, no terminator.
  return CopyValue(text.data(), static_cast<int32_t>(text.size()));
}

TABSConverted EncodeWide(const std::u16string& wide, TABSStorageType to) {
  if (to == bftWideChar || to == bftWideString || to == bftWideMemo) {
    size_t n = wide.size();
    if (to != bftWideMemo) n = std::u16string(wide.c_str()).size();
    if (to == bftWideMemo && n == 0) return {};
    TABSConverted c = Block(static_cast<int32_t>(to == bftWideMemo ? n * 2 : (n + 1) * 2));
    for (size_t i = 0; i < n; ++i) zud::PutU16(c.block.get() + 2 * i, wide[i]);
    return c;
  }
  return EncodeText(tiv::locale::Utf16ToWin1252(wide), to);
}

TABSConverted EncodeInteger(int64_t v, TABSStorageType to) {
  TABSConverted c = Block(FixedSize(to));
  char* p = c.block.get();
  switch (to) {
    case bftShortint:
    case bftByte: p[0] = static_cast<char>(v); break;
    case bftSmallint:
    case bftWord: zud::PutU16(p, static_cast<uint16_t>(v)); break;
    case bftInteger:
    case bftCardinal:
    case bftDate:
    case bftTime: zud::PutU32(p, static_cast<uint32_t>(v)); break;
    default: zud::PutU64(p, static_cast<uint64_t>(v)); break;
  }
  return c;
}

void IntegerRange(TABSStorageType t, int64_t& lo, int64_t& hi) {
  switch (t) {
    case bftShortint:
      lo = INT8_MIN;
      hi = INT8_MAX;
      return;
    case bftSmallint:
      lo = INT16_MIN;
      hi = INT16_MAX;
      return;
    case bftInteger:
    case bftDate:
    case bftTime:
      lo = INT32_MIN;
      hi = INT32_MAX;
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
    default:
      lo = INT64_MIN;
      hi = INT64_MAX;
      return;
  }
}

TABSConverted EncodeFloat(long double v, TABSStorageType from, TABSStorageType to) {
  if (!std::isfinite(v)) Fail(from, to);
  TABSConverted c = Block(FixedSize(to));
  switch (to) {
    case bftSingle:
      if (std::fabs(v) > FLT_MAX) Fail(from, to);
      zud::PutF32(c.block.get(), static_cast<float>(v));
      break;
    case bftExtended: zud::PutF80(c.block.get(), v); break;
    default:  // DOUBLE, CURRENCY
      if (std::fabs(v) > DBL_MAX) Fail(from, to);
      zud::PutF64(c.block.get(), static_cast<double>(v));
  }
  return c;
}

TABSConverted EncodeDateTime(const TABSDateTimePair& v) {
  TABSConverted c = Block(8);
  zud::PutU32(c.block.get(), static_cast<uint32_t>(v.date));
  zud::PutU32(c.block.get() + 4, static_cast<uint32_t>(v.time));
  return c;
}

// A day number with a fraction of a day, floor semantics (contract 5 of
// ZUDVariant.h).
bool PairFromDays(long double days, TABSDateTimePair& out) {
  if (!std::isfinite(days)) return false;
  long double whole = std::floor(days);
  long double ms = std::round((days - whole) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {
    ms = 0;
    whole += 1;
  }
  if (whole < INT32_MIN || whole > INT32_MAX) return false;
  out = {static_cast<int32_t>(whole), static_cast<int32_t>(ms)};
  return true;
}

TABSConverted ToDateTimeFamily(const Scalar& s, TABSStorageType from, TABSStorageType to) {
  if (s.kind == Scalar::kText || s.kind == Scalar::kWide) {
    const std::string text = s.kind == Scalar::kText ? s.text : tiv::locale::Utf16ToWin1252(s.wide);
    auto locale = CurrentLocale();
    if (to == bftTime) {
      int32_t ms = 0;
      tiv::locale::TimeParts t;
      if (FixedTime(text, ms)) return EncodeInteger(ms, to);
      if (locale->ParseTime(text, t)) return EncodeInteger(MSecsOf(t), to);
      Fail(from, to);
    }
    TABSDateTimePair dt{0, 0};
    int32_t day = 0;
    tiv::locale::DateParts d;
    tiv::locale::TimeParts t;
    if (FixedDateTime(text, dt)) {
    } else if (FixedDate(text, day)) {
      dt = {day, 0};
    } else if (to == bftDate && locale->ParseDate(text, d)) {
      dt = {EncodeDayNumber(d.year, d.month, d.day), 0};
    } else if (to == bftDateTime && locale->ParseDateTime(text, d, t)) {
      dt = {EncodeDayNumber(d.year, d.month, d.day), MSecsOf(t)};
    } else {
      Fail(from, to);
    }
    return to == bftDate ? EncodeInteger(dt.date, to) : EncodeDateTime(dt);
  }
  if (s.kind == Scalar::kBytes || s.kind == Scalar::kLogical) NoConversion(from, to);
  if (to == bftDateTime) {
    if (s.kind == Scalar::kDateTime) return EncodeDateTime(s.dt);
    if (s.kind == Scalar::kDate) return EncodeDateTime({static_cast<int32_t>(s.i), 0});
    if (s.kind == Scalar::kTime) return EncodeDateTime({0, static_cast<int32_t>(s.i)});
    TABSDateTimePair dt{0, 0};
    const long double days = s.kind == Scalar::kInt ? static_cast<long double>(s.i) : s.f;
    if (!PairFromDays(days, dt)) Fail(from, to);
    return EncodeDateTime(dt);
  }
  if (s.kind == Scalar::kDateTime) return EncodeInteger(to == bftDate ? s.dt.date : s.dt.time, to);
  if ((s.kind == Scalar::kTime && to == bftDate) || (s.kind == Scalar::kDate && to == bftTime)) NoConversion(from, to);
  int64_t i = 0;
  if (s.kind == Scalar::kFloat || s.kind == Scalar::kCurrency) {
    if (!std::isfinite(s.f)) Fail(from, to);
    const long double w = to == bftDate ? std::floor(s.f) : std::trunc(s.f);
    if (w < INT32_MIN || w > INT32_MAX) Fail(from, to);
    i = static_cast<int64_t>(w);
  } else {
    i = s.i;
  }
  if (i < INT32_MIN || i > INT32_MAX) Fail(from, to);
  return EncodeInteger(i, to);
}

}  // namespace

bool HasConversion(TABSStorageType from, TABSStorageType to) {
  auto valid = [](TABSStorageType t) { return t >= 1 && t <= kStorageTypeCount; };
  if (!valid(from) || !valid(to)) return false;
  if (from == to) return true;
  const bool fromBytes = from == bftBytes || from == bftVarBytes;
  const bool toBytes = to == bftBytes || to == bftVarBytes;
  if (fromBytes || toBytes) return fromBytes && toBytes;
  if (IsBlobStorage(from) || IsBlobStorage(to))
    return (IsBlobStorage(from) || IsStringStorage(from)) && (IsBlobStorage(to) || IsStringStorage(to));
  if (from == bftLogical && IsDateTimeStorage(to)) return false;
  if (to == bftLogical && IsDateTimeStorage(from)) return false;
  if ((from == bftDate && to == bftTime) || (from == bftTime && to == bftDate)) return false;
  return true;
}

TABSConverted CopyValue(const char* source, int32_t size) {
  if (size <= 0) return {};
  TABSConverted c;
  c.block = AllocBlock(static_cast<uint64_t>(size));
  std::memcpy(c.block.get(), source, static_cast<size_t>(size));
  c.size = size;
  return c;
}

TABSConverted ConvertValue(const char* source, TABSStorageType from, int32_t size, TABSStorageType to) {
  if (!HasConversion(from, to)) NoConversion(from, to);
  const Scalar s = Decode(source, from, size, to);
  if (IsStringStorage(to) || IsBlobStorage(to)) {
    if (s.kind == Scalar::kWide) return EncodeWide(s.wide, to);
    return EncodeText(TextOf(s, from, to), to);
  }
  if (to == bftBytes || to == bftVarBytes) return CopyValue(s.text.data(), static_cast<int32_t>(s.text.size()));
  if (IsDateTimeStorage(to)) return ToDateTimeFamily(s, from, to);
  if (to == bftLogical) {
    bool b = false;
    if (s.kind == Scalar::kText || s.kind == Scalar::kWide) {
      std::string t = s.kind == Scalar::kText ? s.text : tiv::locale::Utf16ToWin1252(s.wide);
      for (char& ch : t)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
      b = t == "1" || t == "TRUE";
    } else if (s.kind == Scalar::kLogical) {
      b = s.b;
    } else {
      bool isInt = true;
      int64_t i = 0;
      long double f = 0;
      NumberOf(s, from, to, isInt, i, f);
      b = isInt ? i != 0 : f != 0;
    }
    TABSConverted c = Block(2);
    zud::PutU16(c.block.get(), b ? 0xFFFF : 0);
    return c;
  }
  bool isInt = true;
  int64_t i = 0;
  long double f = 0;
  NumberOf(s, from, to, isInt, i, f);
  if (IsIntegerStorage(to)) {
    int64_t lo = 0, hi = 0;
    IntegerRange(to, lo, hi);
    return EncodeInteger(IntegerIn(isInt, i, f, lo, hi, from, to), to);
  }
  return EncodeFloat(isInt ? static_cast<long double>(i) : f, from, to);
}

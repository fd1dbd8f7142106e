#include "Locale.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "CodePage.h"

namespace tiv::locale {
namespace {

UCollator* OpenCollator(const std::string& name, UColAttributeValue strength) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* c = ucol_open(name.c_str(), &status);
  if (U_FAILURE(status) || !c) throw std::runtime_error("ICU has no collator for " + name);
  // String sort: symbols and punctuation take part in the comparison.
  ucol_setAttribute(c, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  ucol_setAttribute(c, UCOL_STRENGTH, strength, &status);
  if (U_FAILURE(status)) {
    ucol_close(c);
    throw std::runtime_error("ICU rejected the collator settings for " + name);
  }
  return c;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1..maxDigits digits at `pos`.
bool ReadNumber(std::string_view s, size_t& pos, size_t maxDigits, int& value, size_t* digits = nullptr) {
  size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos]) && pos - start < maxDigits) value = value * 10 + (s[pos++] - '0');
  if (pos < s.size() && IsDigit(s[pos])) return false;
  if (digits) *digits = pos - start;
  return pos > start;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ValidDate(const DateParts& d) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  return d.day <= kDays[d.month - 1] + (d.month == 2 && IsLeap(d.year) ? 1 : 0);
}

// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(const DateParts& d) {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = d.year - (d.month < 3 ? 1 : 0);
  return (y + y / 4 - y / 100 + y / 400 + t[d.month - 1] + d.day) % 7 + 1;
}

std::string Padded(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

// Shortest round-trip digits of a finite value: sign, digit string and the
// decimal exponent of the first digit.
template <typename T>
std::string ShortestText(T v, char separator) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (v == 0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  const size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  if (digits.size() > 1) digits.erase(1, 1);  // the '.'
  const int exp = std::stoi(sci.substr(e + 1));
  std::string out = negative ? "-" : "";
  if (exp >= -5 && exp < 15) {
    if (exp >= 0) {
      std::string intPart = digits.substr(0, std::min<size_t>(digits.size(), exp + 1));
      while (static_cast<int>(intPart.size()) < exp + 1) intPart.push_back('0');
      out += intPart;
      if (digits.size() > static_cast<size_t>(exp + 1)) out += separator + digits.substr(exp + 1);
    } else {
      out += std::string("0") + separator + std::string(-exp - 1, '0') + digits;
    }
  } else {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += separator + digits.substr(1);
    out += "E" + std::to_string(exp);
  }
  return out;
}

// Accepts [+-]digits[sep digits][(e|E)[+-]digits] where sep is '.' or, when
// `altSeparator` is not 0, that character.
bool ParseDecimal(std::string_view text, char separator, char altSeparator, long double& out) {
  text = Trim(text);
  std::string s;
  bool negative = false;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool sawDigit = false, sawSeparator = false, sawExp = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      sawDigit = true;
      s.push_back(c);
    } else if ((c == separator || (altSeparator && c == altSeparator)) && !sawSeparator && !sawExp) {
      sawSeparator = true;
      s.push_back('.');
    } else if ((c == 'e' || c == 'E') && sawDigit && !sawExp) {
      sawExp = true;
      s.push_back('e');
      if (i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-')) s.push_back(text[++i]);
      if (i + 1 >= text.size() || !IsDigit(text[i + 1])) return false;
    } else {
      return false;
    }
  }
  if (!sawDigit) return false;
  long double v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  out = negative ? -v : v;
  return true;
}

}  // namespace

LocaleSettings LocaleSettings::SpanishSpain() {
  LocaleSettings s;
  s.icuName = "es_ES";
  s.decimalSeparator = ',';
  s.dateSeparator = '/';
  s.timeSeparator = ':';
  s.shortDateFormat = "dd/mm/yyyy";
  s.longTimeFormat = "hh:nn:ss";
  s.longMonthNames = {"enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
                      "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};
  s.shortMonthNames = {"ene", "feb", "mar", "abr", "may", "jun", "jul", "ago", "sep", "oct", "nov", "dic"};
  s.longDayNames = {"domingo",
                    "lunes",
                    "martes",
                    "mi\xe9rcoles",
                    "jueves",
                    "viernes",
                    "s\xe1"
                    "bado"};
  s.shortDayNames = {"dom",
                     "lun",
                     "mar",
                     "mi\xe9",
                     "jue",
                     "vie",
                     "s\xe1"
                     "b"};
  return s;
}

LocaleSettings LocaleSettings::EnglishUnitedStates() {
  LocaleSettings s;
  s.icuName = "en_US";
  s.decimalSeparator = '.';
  s.dateSeparator = '/';
  s.timeSeparator = ':';
  s.shortDateFormat = "m/d/yyyy";
  s.longTimeFormat = "hh:nn:ss";
  s.longMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                      "July",    "August",   "September", "October", "November", "December"};
  s.shortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  s.longDayNames = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  s.shortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  return s;
}

Locale::Locale(LocaleSettings settings) : settings_(std::move(settings)) {
  caseSensitive_ = OpenCollator(settings_.icuName, UCOL_TERTIARY);
  try {
    ignoreCase_ = OpenCollator(settings_.icuName, UCOL_SECONDARY);
  } catch (...) {
    ucol_close(caseSensitive_);
    throw;
  }
}

Locale::~Locale() {
  ucol_close(caseSensitive_);
  ucol_close(ignoreCase_);
}

int Locale::CompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase) const {
  const UCollationResult r = ucol_strcoll(ignoreCase ? ignoreCase_ : caseSensitive_,
                                          reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                                          reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()));
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

int Locale::CompareAnsi(std::string_view a, std::string_view b, bool ignoreCase) const {
  // Index keys compare here many times per row: the UTF-16 forms go on the
  // stack when they are short, which most keys are. Equal bytes are equal
  // text whatever the collation.
  if (a == b) return 0;
  constexpr size_t kOnStack = 256;
  if (a.size() <= kOnStack && b.size() <= kOnStack) {
    char16_t wa[kOnStack], wb[kOnStack];
    Win1252ToUtf16(a, wa);
    Win1252ToUtf16(b, wb);
    return CompareWide({wa, a.size()}, {wb, b.size()}, ignoreCase);
  }
  return CompareWide(Win1252ToUtf16(a), Win1252ToUtf16(b), ignoreCase);
}

namespace {
std::u16string MapCase(std::u16string_view s, const std::string& locale, bool upper) {
  std::u16string out(s.size() + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    auto* dest = reinterpret_cast<UChar*>(out.data());
    auto* src = reinterpret_cast<const UChar*>(s.data());
    const int32_t n = upper ? u_strToUpper(dest, static_cast<int32_t>(out.size()), src, static_cast<int32_t>(s.size()),
                                           locale.c_str(), &status)
                            : u_strToLower(dest, static_cast<int32_t>(out.size()), src, static_cast<int32_t>(s.size()),
                                           locale.c_str(), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<size_t>(n) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::u16string(s);
    out.resize(static_cast<size_t>(n));
    return out;
  }
  return std::u16string(s);
}
}  // namespace

std::u16string Locale::UpperWide(std::u16string_view s) const { return MapCase(s, settings_.icuName, true); }
std::u16string Locale::LowerWide(std::u16string_view s) const { return MapCase(s, settings_.icuName, false); }
std::string Locale::UpperAnsi(std::string_view s) const { return Utf16ToWin1252(UpperWide(Win1252ToUtf16(s))); }
std::string Locale::LowerAnsi(std::string_view s) const { return Utf16ToWin1252(LowerWide(Win1252ToUtf16(s))); }

std::string Locale::FormatSingle(float v) const { return ShortestText(v, settings_.decimalSeparator); }
std::string Locale::FormatDouble(double v) const { return ShortestText(v, settings_.decimalSeparator); }
std::string Locale::FormatExtended(long double v) const { return ShortestText(v, settings_.decimalSeparator); }

bool Locale::ParseFloat(std::string_view text, long double& out) const {
  return ParseDecimal(text, '.', settings_.decimalSeparator == '.' ? 0 : settings_.decimalSeparator, out);
}

std::string Locale::FormatCurrency(double amount) const {
  const double scaled = std::round(amount * 10000.0);
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return FormatDouble(amount);
  long long units = static_cast<long long>(scaled);
  std::string out = units < 0 ? "-" : "";
  const unsigned long long mag = units < 0 ? 0ULL - static_cast<unsigned long long>(units) : units;
  out += std::to_string(mag / 10000);
  std::string frac = Padded(static_cast<int>(mag % 10000), 4);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) out += settings_.decimalSeparator + frac;
  return out;
}

bool Locale::ParseCurrency(std::string_view text, double& out) const {
  long double v = 0;
  if (!ParseDecimal(text, settings_.decimalSeparator, 0, v)) return false;
  const long double scaled = std::round(v * 10000.0L);
  const double result = std::fabs(scaled) < 9.2e18L ? static_cast<double>(scaled / 10000.0L) : static_cast<double>(v);
  if (!std::isfinite(result)) return false;
  out = result;
  return true;
}

std::string Locale::FormatPattern(const std::string& p, const DateParts& d, const TimeParts& t) const {
  std::string out;
  size_t i = 0;
  auto run = [&](char c) {
    size_t n = 0;
    while (i + n < p.size() && (p[i + n] | 0x20) == c) ++n;
    return n;
  };
  while (i < p.size()) {
    const char c = static_cast<char>(p[i] | 0x20);
    size_t n = 0;
    switch (c) {
      case 'y':
        n = run('y');
        out += n <= 2 ? Padded(d.year % 100, 2) : Padded(d.year, 4);
        break;
      case 'm':
        n = run('m');
        if (n >= 4)
          out += MonthName(d.month, true);
        else if (n == 3)
          out += MonthName(d.month, false);
        else
          out += Padded(d.month, static_cast<int>(n));
        break;
      case 'd':
        n = run('d');
        if (n >= 4)
          out += DayName(DayOfWeek(d), true);
        else if (n == 3)
          out += DayName(DayOfWeek(d), false);
        else
          out += Padded(d.day, static_cast<int>(n));
        break;
      case 'h':
        n = run('h');
        out += Padded(t.hour, n >= 2 ? 2 : 1);
        break;
      case 'n':
        n = run('n');
        out += Padded(t.minute, n >= 2 ? 2 : 1);
        break;
      case 's':
        n = run('s');
        out += Padded(t.second, n >= 2 ? 2 : 1);
        break;
      case 'z':
        n = run('z');
        out += Padded(t.msec, n >= 3 ? 3 : 1);
        break;
      case '/':
        n = 1;
        out.push_back(settings_.dateSeparator);
        break;
      case ':':
        n = 1;
        out.push_back(settings_.timeSeparator);
        break;
      default: n = 1; out.push_back(p[i]);
    }
    i += n;
  }
  return out;
}

std::string Locale::FormatShortDate(const DateParts& d) const {
  return FormatPattern(settings_.shortDateFormat, d, {});
}
std::string Locale::FormatLongTime(const TimeParts& t) const { return FormatPattern(settings_.longTimeFormat, {}, t); }
std::string Locale::FormatDateTime(const DateParts& d, const TimeParts& t) const {
  std::string out = FormatShortDate(d);
  if (t.hour || t.minute || t.second || t.msec) out += " " + FormatLongTime(t);
  return out;
}

namespace {
bool ParseDateAt(std::string_view s, size_t& pos, const LocaleSettings& settings, DateParts& d) {
  // Field order from the short date pattern: the first of d, m, y wins.
  std::string order;
  for (char c : settings.shortDateFormat) {
    const char l = static_cast<char>(c | 0x20);
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order.push_back(l);
  }
  if (order.size() != 3) order = "dmy";
  DateParts r;
  for (size_t f = 0; f < 3; ++f) {
    if (f > 0) {
      if (pos >= s.size() || s[pos] != settings.dateSeparator) return false;
      ++pos;
    }
    int v = 0;
    size_t digits = 0;
    if (!ReadNumber(s, pos, order[f] == 'y' ? 4 : 2, v, &digits)) return false;
    if (order[f] == 'y')
      r.year = digits <= 2 ? (v < 50 ? 2000 + v : 1900 + v) : v;
    else if (order[f] == 'm')
      r.month = v;
    else
      r.day = v;
  }
  if (!ValidDate(r)) return false;
  d = r;
  return true;
}

bool ParseTimeAt(std::string_view s, size_t& pos, char separator, TimeParts& t) {
  TimeParts r;
  if (!ReadNumber(s, pos, 2, r.hour)) return false;
  if (pos >= s.size() || s[pos] != separator) return false;
  ++pos;
  if (!ReadNumber(s, pos, 2, r.minute)) return false;
  if (pos < s.size() && s[pos] == separator) {
    ++pos;
    if (!ReadNumber(s, pos, 2, r.second)) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      size_t digits = 0;
      if (!ReadNumber(s, pos, 3, r.msec, &digits)) return false;
      if (digits == 1) r.msec *= 100;
      if (digits == 2) r.msec *= 10;
    }
  }
  if (r.hour > 23 || r.minute > 59 || r.second > 59) return false;
  t = r;
  return true;
}
}  // namespace

bool Locale::ParseDate(std::string_view text, DateParts& d) const {
  text = Trim(text);
  size_t pos = 0;
  DateParts r;
  if (!ParseDateAt(text, pos, settings_, r) || pos != text.size()) return false;
  d = r;
  return true;
}

bool Locale::ParseTime(std::string_view text, TimeParts& t) const {
  text = Trim(text);
  size_t pos = 0;
  TimeParts r;
  if (!ParseTimeAt(text, pos, settings_.timeSeparator, r) || pos != text.size()) return false;
  t = r;
  return true;
}

bool Locale::ParseDateTime(std::string_view text, DateParts& d, TimeParts& t) const {
  text = Trim(text);
  size_t pos = 0;
  DateParts rd;
  TimeParts rt;
  if (!ParseDateAt(text, pos, settings_, rd)) return false;
  if (pos < text.size()) {
    if (text[pos] != ' ') return false;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (!ParseTimeAt(text, pos, settings_.timeSeparator, rt) || pos != text.size()) return false;
  }
  d = rd;
  t = rt;
  return true;
}

const std::string& Locale::MonthName(int month, bool longForm) const {
  const int i = (month >= 1 && month <= 12 ? month : 1) - 1;
  return longForm ? settings_.longMonthNames[i] : settings_.shortMonthNames[i];
}

const std::string& Locale::DayName(int dayOfWeek, bool longForm) const {
  const int i = (dayOfWeek >= 1 && dayOfWeek <= 7 ? dayOfWeek : 1) - 1;
  return longForm ? settings_.longDayNames[i] : settings_.shortDayNames[i];
}

namespace {
std::mutex& CurrentMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const Locale>& CurrentSlot() {
  static std::shared_ptr<const Locale> current;
  return current;
}
// Moves on every change of the slot. Each thread keeps the locale it last
// took with the generation it took it at, so the comparisons of an index
// search (many per key) take no lock while the locale stays the same.
std::atomic<uint64_t> currentGeneration{1};
}  // namespace

std::shared_ptr<const Locale> CurrentLocale() {
  thread_local std::shared_ptr<const Locale> taken;
  thread_local uint64_t takenAt = 0;
  const uint64_t now = currentGeneration.load(std::memory_order_acquire);
  if (takenAt == now && taken) return taken;
  std::lock_guard<std::mutex> lock(CurrentMutex());
  auto& slot = CurrentSlot();
  if (!slot) slot = std::make_shared<const Locale>(LocaleSettings::SpanishSpain());
  taken = slot;
  takenAt = currentGeneration.load(std::memory_order_relaxed);
  return taken;
}

void SetCurrentLocale(const LocaleSettings& settings) {
  auto fresh = std::make_shared<const Locale>(settings);
  std::lock_guard<std::mutex> lock(CurrentMutex());
  CurrentSlot() = std::move(fresh);
  currentGeneration.fetch_add(1, std::memory_order_release);
}

ScopedLocale::ScopedLocale(const LocaleSettings& settings) : previous_(CurrentLocale()) { SetCurrentLocale(settings); }

ScopedLocale::~ScopedLocale() {
  std::lock_guard<std::mutex> lock(CurrentMutex());
  CurrentSlot() = previous_;
  currentGeneration.fetch_add(1, std::memory_order_release);
}

}  // namespace tiv::locale

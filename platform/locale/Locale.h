// The process-wide locale: what the engine and the calculator take from the
// user's regional settings. Spanish (Spain) unless a test installs another.
//
// Contract
//  1. One Locale object is current at a time; CurrentLocale() hands out a
//     shared reference, so a caller keeps a consistent locale even while a
//     test installs another one (ScopedLocale).
//  2. String comparison is ICU collation for the locale's language with
//     string-sort semantics: punctuation and symbols are never ignored.
//     Ignore-case compares at secondary strength (accents still count),
//     otherwise tertiary. 8-bit strings are Windows-1252 and are compared
//     through their UTF-16 form, so both kinds order alike. The collation
//     of a locale never changes: indexes store keys in this order.
//  3. Results of comparisons are -1, 0 or +1.
//  4. Formats: short date and long time follow the locale's patterns
//     (tokens d, dd, m, mm, yy, yyyy, h, hh, n, nn, s, ss, z, zzz); the
//     date-time form is the short date, and when the time is not midnight,
//     a blank and the long time.
//  5. Float text: the shortest digits that read back to the same value,
//     positional for decimal exponents -5..14, scientific ("1,5E20")
//     beyond; the locale's decimal separator. Parsing accepts what
//     formatting produces, "." as a separator as well, and never NaN or
//     infinity.
//
// Thread use: a Locale is immutable; all of its operations may run on any
// thread at once.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

struct UCollator;

namespace tiv::locale {

struct LocaleSettings {
  std::string icuName;  // the collation and casing language, e.g. "es_ES"
  char decimalSeparator = ',';
  char dateSeparator = '/';
  char timeSeparator = ':';
  std::string shortDateFormat;  // e.g. "dd/mm/yyyy"
  std::string longTimeFormat;   // e.g. "hh:nn:ss"
  std::array<std::string, 12> longMonthNames;
  std::array<std::string, 12> shortMonthNames;
  std::array<std::string, 7> longDayNames;   // Sunday first
  std::array<std::string, 7> shortDayNames;  // Sunday first

  static LocaleSettings SpanishSpain();
  static LocaleSettings EnglishUnitedStates();
};

struct DateParts {
  int year = 0, month = 0, day = 0;
};
struct TimeParts {
  int hour = 0, minute = 0, second = 0, msec = 0;
};

class Locale {
 public:
  explicit Locale(LocaleSettings settings);
  ~Locale();
  Locale(const Locale&) = delete;
  Locale& operator=(const Locale&) = delete;

  const LocaleSettings& Settings() const { return settings_; }
  char DecimalSeparator() const { return settings_.decimalSeparator; }

  // Contract 2 and 3.
  int CompareAnsi(std::string_view a, std::string_view b, bool ignoreCase) const;
  int CompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase) const;

  std::string UpperAnsi(std::string_view s) const;
  std::string LowerAnsi(std::string_view s) const;
  std::u16string UpperWide(std::u16string_view s) const;
  std::u16string LowerWide(std::u16string_view s) const;

  // Contract 5.
  std::string FormatSingle(float v) const;
  std::string FormatDouble(double v) const;
  std::string FormatExtended(long double v) const;
  bool ParseFloat(std::string_view text, long double& out) const;
  // Currency: the amount rounded to 1/10000, up to four decimals, the
  // locale's separator only (parsing too).
  std::string FormatCurrency(double amount) const;
  bool ParseCurrency(std::string_view text, double& out) const;

  // Contract 4. Parsing takes the locale's field order and separators; the
  // year has one to four digits (two-digit years: 00..49 are 2000s, 50..99
  // 1900s); a time may omit the seconds and carry ".zzz" milliseconds.
  // Surrounding blanks are ignored; the fields must make a real date.
  std::string FormatShortDate(const DateParts& d) const;
  std::string FormatLongTime(const TimeParts& t) const;
  std::string FormatDateTime(const DateParts& d, const TimeParts& t) const;
  bool ParseDate(std::string_view text, DateParts& d) const;
  bool ParseTime(std::string_view text, TimeParts& t) const;
  bool ParseDateTime(std::string_view text, DateParts& d, TimeParts& t) const;

  const std::string& MonthName(int month, bool longForm) const;    // 1..12
  const std::string& DayName(int dayOfWeek, bool longForm) const;  // 1 = Sunday .. 7

 private:
  std::string FormatPattern(const std::string& pattern, const DateParts& d, const TimeParts& t) const;

  LocaleSettings settings_;
  UCollator* caseSensitive_ = nullptr;
  UCollator* ignoreCase_ = nullptr;
};

std::shared_ptr<const Locale> CurrentLocale();
void SetCurrentLocale(const LocaleSettings& settings);

// Installs a locale for its lifetime and puts the previous one back.
class ScopedLocale {
 public:
  explicit ScopedLocale(const LocaleSettings& settings);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

 private:
  std::shared_ptr<const Locale> previous_;
};

}  // namespace tiv::locale

// Date formats and the date, time and timestamp literal readers.
#include "sql/ZUDDateFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "core/ZUDExcept.h"
#include "locale/Locale.h"

namespace {

struct ElementName {
  const char* name;
  TDateFormatElement element;
};

// In code order; compiling tries longer names first.
constexpr ElementName kElementNames[] = {
    {"YYYY", dfYYYY}, {"YY", dfYY},     {"YEAR", dfYEAR}, {"Q", dfQ},       {"MONTH", dfMONTH}, {"MON", dfMON},
    {"MM", dfMM},     {"M", dfM},       {"RM", dfRM},     {"DDD", dfDDD},   {"DD", dfDD},       {"DAY", dfDAY},
    {"DY", dfDY},     {"DW", dfDW},     {"D", dfD},       {"HH12", dfHH12}, {"HH24", dfHH24},   {"HH", dfHH},
    {"H12", dfH12},   {"H24", dfH24},   {"H", dfH},       {"NN", dfNN},     {"N", dfN},         {"SS", dfSS},
    {"S", dfS},       {"AMPM", dfAMPM},
};
constexpr size_t kLongestElementName = 5;

const char* const kRomanMonths[12] = {"I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII"};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDateElement(TDateFormatElement e) { return e <= dfD; }
bool IsTimeElement(TDateFormatElement e) { return e >= dfHH12 && e <= dfAMPM; }

bool MatchesAt(std::string_view format, size_t at, std::string_view name) {
  if (format.size() - at < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (UpperAscii(format[at + i]) != name[i]) return false;
  }
  return true;
}

std::string Padded(int value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.*d", digits, value);
  return buf;
}

[[noreturn]] void RaiseDateEncode() { throw EDateConvertError("Invalid argument to date encode"); }
[[noreturn]] void RaiseTimeEncode() { throw EDateConvertError("Invalid argument to time encode"); }

// The run-time integer reading: leading blanks, an optional sign, digits,
// nothing after them.
int ParseInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digitsFrom = i;
  int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) break;
  }
  if (i == digitsFrom || i != text.size()) {
    throw EDateConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return static_cast<int>(negative ? -value : value);
}

int32_t EncodeTimeOrRaise(int hour, int minute, int second) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) RaiseTimeEncode();
  return ((hour * 60 + minute) * 60 + second) * 1000;
}

int32_t EncodeDateOrRaise(int year, int month, int day) {
  if (!IsValidDate(year, month, day)) RaiseDateEncode();
  return EncodeDayNumber(year, month, day);
}

// The walk of one text by the tokens of a format.
class TextReader {
 public:
  explicit TextReader(std::string_view text) : text_(text) {}

  // Up to `n` characters, fewer at the end of the text.
  std::string_view Take(size_t n) {
    const size_t k = std::min(n, text_.size() - pos_);
    const std::string_view piece = text_.substr(pos_, k);
    pos_ += k;
    return piece;
  }
  void Skip(size_t n) { pos_ += std::min(n, text_.size() - pos_); }
  // One character, or two when the character after it is a digit.
  std::string_view TakeOneOrTwo() {
    const bool two = pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]);
    return Take(two ? 2 : 1);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// TDateFormater

TDateFormater::TDateFormater(std::string_view format) : format_(format) {
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) tokens_.push_back({dfLiteral, std::move(pending)});
    pending.clear();
  };
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c == '\'' || c == '"') {
      flush();
      const size_t end = format.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? format.size() : end;
      std::string literal(format.substr(i + 1, stop - i - 1));
      if (!literal.empty()) tokens_.push_back({dfLiteral, std::move(literal)});
      i = end == std::string_view::npos ? format.size() : end + 1;
      continue;
    }
    const ElementName* found = nullptr;
    for (size_t len = std::min(kLongestElementName, format.size() - i); len > 0 && !found; --len) {
      for (const ElementName& e : kElementNames) {
        if (std::char_traits<char>::length(e.name) == len && MatchesAt(format, i, e.name)) {
          found = &e;
          break;
        }
      }
    }
    if (found == nullptr) {
      pending.push_back(c);
      ++i;
      continue;
    }
    flush();
    const size_t len = std::char_traits<char>::length(found->name);
    tokens_.push_back({found->element, std::string(format.substr(i, len))});
    i += len;
  }
  flush();
}

TDateTime TDateFormater::StrToDateTime(std::string_view text) const {
  TextReader reader(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool haveYear = false, haveMonth = false, haveDay = false, pm = false;
  bool hasDateElement = false, monthOnlyAsName = false, dayOfYearOnly = false;

  for (const TDateFormatToken& token : tokens_) {
    if (IsDateElement(token.Element)) hasDateElement = true;
    switch (token.Element) {
      case dfYYYY:
      case dfYEAR:
        year = ParseInteger(reader.Take(4));
        haveYear = true;
        break;
      case dfYY: {
        const int v = ParseInteger(reader.Take(2));
        year = v < 30 ? 2000 + v : 1900 + v;
        haveYear = true;
        break;
      }
      case dfQ:
        month = 3 * ParseInteger(reader.Take(1)) - 2;
        haveMonth = true;
        break;
      case dfMM:
        month = ParseInteger(reader.Take(2));
        haveMonth = true;
        break;
      case dfM:
        month = ParseInteger(reader.TakeOneOrTwo());
        haveMonth = true;
        break;
      case dfDD:
        day = ParseInteger(reader.Take(2));
        haveDay = true;
        break;
      case dfD:
        day = ParseInteger(reader.TakeOneOrTwo());
        haveDay = true;
        break;
      case dfMONTH:
      case dfMON:
      case dfRM:
        monthOnlyAsName = true;
        reader.Skip(token.Text.size());
        break;
      case dfDY:
        dayOfYearOnly = true;
        reader.Skip(token.Text.size());
        break;
      case dfDDD:
      case dfDAY:
      case dfDW:
      case dfLiteral: reader.Skip(token.Text.size()); break;
      case dfHH24: hour = ParseInteger(reader.Take(2)); break;
      case dfHH12:
      case dfHH:
      case dfH12:
      case dfH24:
      case dfH: hour = ParseInteger(reader.TakeOneOrTwo()); break;
      case dfNN: minute = ParseInteger(reader.Take(2)); break;
      case dfN: minute = ParseInteger(reader.TakeOneOrTwo()); break;
      case dfSS: second = ParseInteger(reader.Take(2)); break;
      case dfS: second = ParseInteger(reader.TakeOneOrTwo()); break;
      case dfAMPM: {
        const std::string word(reader.Take(2));
        std::string upper = word;
        for (char& ch : upper) ch = UpperAscii(ch);
        if (upper == "PM") {
          pm = true;
        } else if (upper != "AM") {
          throw EABSException(30129, "AM/PM word expected, but '%s' found", {word});
        }
        break;
      }
    }
  }
  if (pm) hour += 12;

  int32_t date = kDateDelta;
  if (hasDateElement) {
    if (!haveYear) throw EDateConvertError("The date format '" + format_ + "' gives no year");
    if (!haveMonth) {
      if (monthOnlyAsName) throw EDateConvertError("The date format '" + format_ + "' gives no month number");
      month = 1;
    }
    if (!haveDay) {
      if (dayOfYearOnly) throw EDateConvertError("The date format '" + format_ + "' gives no day of the month");
      day = 1;
    }
    date = EncodeDateOrRaise(year, month, day);
  }
  return DateTimeFromPair({date, EncodeTimeOrRaise(hour, minute, second)});
}

std::string TDateFormater::DateTimeToStr(TDateTime value) const {
  static const int32_t kLastDay = EncodeDayNumber(9999, 12, 31);
  if (!std::isfinite(value)) throw EDateConvertError("Invalid date and time value");
  const TABSDateTimePair pair = DateTimePairFromDateTime(value);
  if (pair.date < 1 || pair.date > kLastDay) throw EDateConvertError("Invalid date and time value");
  int year = 0, month = 0, day = 0;
  DecodeDayNumber(pair.date, year, month, day);
  const int hour = pair.time / 3600000;
  const int minute = pair.time / 60000 % 60;
  const int second = pair.time / 1000 % 60;
  const int mondayFirst = (pair.date - 1) % 7 + 1;  // day 1, 0001-01-01, was a Monday
  const int sundayFirst = mondayFirst % 7 + 1;
  const auto locale = tiv::locale::CurrentLocale();

  std::string out;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.Element) {
      case dfYYYY:
      case dfYEAR: out += Padded(year, 4); break;
      case dfYY: out += Padded(year % 100, 2); break;
      case dfQ: out += std::to_string((month - 1) / 3 + 1); break;
      case dfMONTH: out += locale->MonthName(month, true); break;
      case dfMON: out += locale->MonthName(month, false); break;
      case dfMM: out += Padded(month, 2); break;
      case dfM: out += std::to_string(month); break;
      case dfRM: out += kRomanMonths[month - 1]; break;
      case dfDDD: out += locale->DayName(sundayFirst, false); break;
      case dfDD: out += Padded(day, 2); break;
      case dfDAY: out += locale->DayName(sundayFirst, true); break;
      case dfDY: out += std::to_string(pair.date - EncodeDayNumber(year, 1, 1) + 1); break;
      case dfDW: out += std::to_string(mondayFirst); break;
      case dfD: out += std::to_string(day); break;
      case dfHH12:
      case dfHH: out += Padded(hour % 12, 2); break;
      case dfHH24: out += Padded(hour, 2); break;
      case dfH12:
      case dfH: out += std::to_string(hour % 12); break;
      case dfH24: out += std::to_string(hour); break;
      case dfNN: out += Padded(minute, 2); break;
      case dfN: out += std::to_string(minute); break;
      case dfSS: out += Padded(second, 2); break;
      case dfS: out += std::to_string(second); break;
      case dfAMPM: out += hour > 11 ? "PM" : "AM"; break;
      case dfLiteral: out += token.Text; break;
    }
  }
  return out;
}

int32_t TDateFormater::GetMaxLength() const {
  const auto locale = tiv::locale::CurrentLocale();
  auto longest = [&](bool month, bool longForm) {
    size_t n = 0;
    for (int i = 1; i <= (month ? 12 : 7); ++i) {
      n = std::max(n, (month ? locale->MonthName(i, longForm) : locale->DayName(i, longForm)).size());
    }
    return static_cast<int32_t>(n);
  };
  int64_t total = 0;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.Element) {
      case dfYYYY:
      case dfYEAR:
      case dfRM: total += 4; break;
      case dfQ: total += 1; break;
      case dfMONTH: total += std::max(9, longest(true, true)); break;
      case dfMON: total += std::max(3, longest(true, false)); break;
      case dfDDD: total += std::max(3, longest(false, false)); break;
      case dfDAY: total += std::max(12, longest(false, true)); break;
      case dfDY: total += 3; break;  // day of the year runs to 366
      case dfLiteral: total += static_cast<int64_t>(token.Text.size()); break;
      default: total += 2; break;
    }
  }
  return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

TABSDataType TDateFormater::GetResultType() const {
  bool date = false, time = false;
  for (const TDateFormatToken& token : tokens_) {
    date = date || IsDateElement(token.Element);
    time = time || IsTimeElement(token.Element);
  }
  if (time && !date) return aftTime;
  if (date && !time) return aftDate;
  return aftDateTime;
}

// ---------------------------------------------------------------------------
// Literal readers

namespace {

// Reads digit groups of exactly `sizes` digits each (contract 6).
template <size_t N>
bool ReadGroups(std::string_view text, const int (&sizes)[N], int (&values)[N]) {
  size_t pos = 0;
  for (size_t g = 0; g < N; ++g) {
    const size_t from = pos;
    int value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
      if (pos - from < 9) value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos - from != static_cast<size_t>(sizes[g])) return false;
    values[g] = value;
    if (pos < text.size()) ++pos;  // the separator, or the one tolerated trailing character
  }
  return pos == text.size();
}

}  // namespace

bool ReadDateLiteral(std::string_view text, int32_t& date) {
  static constexpr int kSizes[3] = {4, 2, 2};
  int v[3];
  if (!ReadGroups(text, kSizes, v)) return false;
  date = EncodeDateOrRaise(v[0], v[1], v[2]);
  return true;
}

bool ReadTimeLiteral(std::string_view text, int32_t& time) {
  static constexpr int kSizes[3] = {2, 2, 2};
  int v[3];
  if (!ReadGroups(text, kSizes, v)) return false;
  time = EncodeTimeOrRaise(v[0], v[1], v[2]);
  return true;
}

bool ReadTimestampLiteral(std::string_view text, TABSDateTimePair& datetime) {
  static constexpr int kSizes[6] = {4, 2, 2, 2, 2, 2};
  int v[6];
  if (!ReadGroups(text, kSizes, v)) return false;
  datetime.date = EncodeDateOrRaise(v[0], v[1], v[2]);
  datetime.time = EncodeTimeOrRaise(v[3], v[4], v[5]);
  return true;
}

int32_t DateLiteralFromToken(const TToken& token) {
  if (token.TokenType != tktQuotedString) {
    throw EABSException(20283, "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d",
                        {token.Text, token.Line, token.Column});
  }
  int32_t date = 0;
  if (!ReadDateLiteral(token.Text, date)) {
    throw EABSException(20284, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"YYYY-MM-DD", token.Text, token.Line, token.Column});
  }
  return date;
}

int32_t TimeLiteralFromToken(const TToken& token) {
  if (token.TokenType != tktQuotedString) {
    throw EABSException(20285, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d",
                        {token.Text, token.Line, token.Column});
  }
  int32_t time = 0;
  if (!ReadTimeLiteral(token.Text, time)) {
    throw EABSException(20286, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"HH:MM:SS", token.Text, token.Line, token.Column});
  }
  return time;
}

TABSDateTimePair TimestampLiteralFromToken(const TToken& token) {
  if (token.TokenType != tktQuotedString) {
    throw EABSException(20287, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d",
                        {token.Text, token.Line, token.Column});
  }
  TABSDateTimePair datetime{};
  if (!ReadTimestampLiteral(token.Text, datetime)) {
    throw EABSException(20288, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"YYYY-MM-DD", token.Text, token.Line, token.Column});
  }
  return datetime;
}

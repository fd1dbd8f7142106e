// ZUDDateFormat: date formats (TDateFormater) for TODATE and TOSTRING, and
// the readers of the DATE, TIME and TIMESTAMP literal texts.
//
// Contract
//  1. A format string compiles into an ordered list of TDateFormatToken:
//     outside quotes the longest element name (up to 5 characters, ASCII
//     case folded) is taken at each position; text between single or
//     double quotes, and characters where no element starts, become
//     literal tokens. Compiling never fails.
//  2. Writing (DateTimeToStr) concatenates the tokens' texts; month and day
//     names come from the current locale. Hours of HH12, HH, H12 and H run
//     0..11. A value outside 0001-01-01..9999-12-31 raises
//     EDateConvertError.
//  3. Reading (StrToDateTime) walks the tokens over the text; every read
//     is bounded by the text's end. Name elements (MONTH, MON, RM, DDD,
//     DAY, DY, DW) and literals skip as many characters as their own text
//     has. A number field that is not an integer raises EDateConvertError;
//     AMPM that finds neither "AM" nor "PM" raises 30129.
//  4. The date part of a read:
//     - a format with no date element (only HH12..AMPM and literals) reads
//       a time on the zero date 1899-12-30;
//     - otherwise the text must give a year; a month it does not give is
//       January, a day it does not give is the 1st (so "MM.YYYY" and
//       "YYYY Q" read the first day of the month or quarter); but a format
//       that names the month only as a skipped name (MONTH, MON, RM) must
//       still give it as a number, and one with a skipped day of the year
//       (DY) must give the day. A missing part raises EDateConvertError;
//       a date that never silently becomes 1899-12-30.
//     - parts that make no real date or time (day 0, hour 24...) raise
//       EDateConvertError.
//     "PM" adds 12 to the hour read, wherever AMPM stands in the format.
//  5. GetMaxLength is at least the length of every text DateTimeToStr can
//     write with the current locale, so a column sized by it never cuts a
//     formatted value.
//  6. The literal readers take digit groups of exact sizes (date 4-2-2,
//     time 2-2-2, timestamp 4-2-2-2-2-2), each ended by one separator
//     character, with at most one character after the last group; they
//     return false for any other shape. Groups that make no real date or
//     time raise EDateConvertError. The token forms raise the parser's
//     errors 20283..20288 with the token's line and column.
//
// Thread use: a formatter is read-only after construction; reading the
// current locale is thread-safe.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/ZUDTypes.h"
#include "sql/ZUDLexer.h"

// The platform's conversion error: a number field that is not an integer,
// or parts that make no date or time. It has no native error code.
class EDateConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TDateFormatElement : uint8_t {
  dfYYYY = 0,
  dfYY = 1,
  dfYEAR = 2,
  dfQ = 3,
  dfMONTH = 4,
  dfMON = 5,
  dfMM = 6,
  dfM = 7,
  dfRM = 8,
  dfDDD = 9,
  dfDD = 10,
  dfDAY = 11,
  dfDY = 12,
  dfDW = 13,
  dfD = 14,
  dfHH12 = 15,
  dfHH24 = 16,
  dfHH = 17,
  dfH12 = 18,
  dfH24 = 19,
  dfH = 20,
  dfNN = 21,
  dfN = 22,
  dfSS = 23,
  dfS = 24,
  dfAMPM = 25,
  dfLiteral = 26,
};

struct TDateFormatToken {
  TDateFormatElement Element = dfLiteral;
  std::string Text;  // the element's name as written, or the literal text
};

class TDateFormater {
 public:
  explicit TDateFormater(std::string_view format);

  // Contract 3 and 4.
  TDateTime StrToDateTime(std::string_view text) const;
  // Contract 2.
  std::string DateTimeToStr(TDateTime value) const;
  // Contract 5.
  int32_t GetMaxLength() const;
  // aftTime when only time elements are present, aftDate when only date
  // elements are, else aftDateTime (both kinds, or none).
  TABSDataType GetResultType() const;

  const std::string& Format() const { return format_; }
  const std::vector<TDateFormatToken>& Tokens() const { return tokens_; }

 private:
  std::string format_;
  std::vector<TDateFormatToken> tokens_;
};

// Contract 6. `date` is a day number, `time` milliseconds since midnight.
bool ReadDateLiteral(std::string_view text, int32_t& date);
bool ReadTimeLiteral(std::string_view text, int32_t& time);
bool ReadTimestampLiteral(std::string_view text, TABSDateTimePair& datetime);

// The literal after DATE, TIME or TIMESTAMP: `token` must be a quoted
// string of the literal's shape (20283/20284, 20285/20286, 20287/20288).
int32_t DateLiteralFromToken(const TToken& token);
int32_t TimeLiteralFromToken(const TToken& token);
TABSDateTimePair TimestampLiteralFromToken(const TToken& token);

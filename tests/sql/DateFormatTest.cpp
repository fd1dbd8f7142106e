// Date formats both ways, and the DATE, TIME and TIMESTAMP literal readers.
#include <gtest/gtest.h>

#include <string>

#include "core/ZUDExcept.h"
#include "locale/Locale.h"
#include "sql/ZUDDateFormat.h"
#include "sql/ZUDLexer.h"
#include "support/EngineError.h"

namespace {

using tiv::locale::LocaleSettings;
using tiv::locale::ScopedLocale;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return DateTimeFromPair({EncodeDayNumber(y, mo, d), ((h * 60 + mi) * 60 + s) * 1000});
}

std::string Show(TDateTime v) {
  const TABSDateTimePair p = DateTimePairFromDateTime(v);
  int y = 0, m = 0, d = 0;
  DecodeDayNumber(p.date, y, m, d);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, p.time / 3600000, p.time / 60000 % 60,
                p.time / 1000 % 60);
  return buf;
}

std::string Compiled(const char* format) {
  const TDateFormater compiled(format);
  std::string out;
  for (const TDateFormatToken& t : compiled.Tokens()) {
    if (!out.empty()) out += ' ';
    out += std::to_string(t.Element) + ":" + t.Text;
  }
  return out;
}

TEST(DateFormatCompile, LongestElementsQuotedAndLooseLiterals) {
  const struct {
    const char* format;
    const char* tokens;
  } cases[] = {
      {"DD.MM.YYYY HH24:NN", "10:DD 26:. 6:MM 26:. 0:YYYY 26:  16:HH24 26:: 21:NN"},
      {"dd/mon/yy", "10:dd 26:/ 5:mon 26:/ 1:yy"},
      {"MONTHDDD", "4:MONTH 9:DDD"},
      {"'Date: 'D\"it's\"", "26:Date:  14:D 26:it's"},
      {"x-Q-RM-DW-DY-AMPM", "26:x- 3:Q 26:- 8:RM 26:- 13:DW 26:- 12:DY 26:- 25:AMPM"},
      {"HH12H12HHH24H", "15:HH12 18:H12 17:HH 19:H24 20:H"},
      {"SSS NNN", "23:SS 24:S 26:  21:NN 22:N"},
      {"'unclosed", "26:unclosed"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(Compiled(c.format), c.tokens);
  }
}

TEST(DateFormatRead, TextsGiveDatesAndTimes) {
  const struct {
    const char* format;
    const char* text;
    const char* value;
  } cases[] = {
      {"DD.MM.YYYY", "07.03.2005", "2005-03-07 00:00:00"},
      {"D/M/YYYY", "7/3/2005", "2005-03-07 00:00:00"},
      {"D/M/YYYY", "17/11/2005", "2005-11-17 00:00:00"},
      {"YYYYMMDDHH24NNSS", "20050307134501", "2005-03-07 13:45:01"},
      {"DD.MM.YY", "07.03.29", "2029-03-07 00:00:00"},
      {"DD.MM.YY", "07.03.30", "1930-03-07 00:00:00"},
      {"YEAR-Q", "2005-2", "2005-04-01 00:00:00"},  // a quarter's first day
      {"MM.YYYY", "03.2005", "2005-03-01 00:00:00"},
      {"YY", "29", "2029-01-01 00:00:00"},
      {"DDD, DD.MM.YYYY", "lun, 07.03.2005", "2005-03-07 00:00:00"},
      {"'on 'DD.MM.YYYY", "on 07.03.2005", "2005-03-07 00:00:00"},
      {"HH24:NN", "13:45", "1899-12-30 13:45:00"},  // a time on the zero date
      {"HH:NN AMPM", "03:30 pm", "1899-12-30 15:30:00"},
      {"H:N:S AMPM", "3:5:9 AM", "1899-12-30 03:05:09"},
      {"AMPM HH12", "PM 11", "1899-12-30 23:00:00"},
      {"DD.MM.YYYY H24:NN", "07.03.2005 9:05", "2005-03-07 09:05:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " / " + c.text);
    EXPECT_EQ(Show(TDateFormater(c.format).StrToDateTime(c.text)), c.value);
  }
}

TEST(DateFormatRead, BadTextsAndIncompleteFormatsFail) {
  const struct {
    const char* format;
    const char* text;
  } cases[] = {
      {"DD.MM.YYYY", "07.xx.2005"},                                      // not a number
      {"DD.MM.YYYY", "07.03"},                                           // the text ends early
      {"DD.MM.YYYY", "31.02.2005"},                                      // no such day
      {"DD.MM.YYYY", "00.00.0000"},                                      // never the zero date
      {"HH24:NN", "25:00"},         {"HH:NN AMPM", "12:00 PM"},          // hours of HH run 0..11
      {"DD.MM", "07.03"},                                                // no year
      {"MONTH", "marzo"},           {"DD MONTH YYYY", "07 MARCH 2005"},  // the month is only a skipped name
      {"YYYY DY", "2005 66"},                                            // the day is only a skipped day of the year
      {"YEAR-Q", "2005-5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " / " + c.text);
    EXPECT_THROW(TDateFormater(c.format).StrToDateTime(c.text), EDateConvertError);
  }
}

TEST(DateFormatRead, AmPmWordIsChecked) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"03 XM", "AM/PM word expected, but 'XM' found"},
      {"03 P", "AM/PM word expected, but 'P' found"},
      {"03", "AM/PM word expected, but '' found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { TDateFormater("HH AMPM").StrToDateTime(c.text); }, &message), 30129);
    EXPECT_EQ(message, c.message);
  }
}

TEST(DateFormatWrite, EveryElementWrites) {
  const TDateTime monday = At(2005, 3, 7, 13, 45, 1);
  const struct {
    const char* format;
    const char* spanish;
    const char* english;
  } cases[] = {
      {"DD.MM.YYYY HH24:NN:SS", "07.03.2005 13:45:01", "07.03.2005 13:45:01"},
      {"D/M/YY YEAR", "7/3/05 2005", "7/3/05 2005"},
      {"Q RM DY DW", "1 III 66 1", "1 III 66 1"},
      {"HH12 HH H12 H AMPM", "01 01 1 1 PM", "01 01 1 1 PM"},
      {"HH24 H24 NN N SS S", "13 13 45 45 01 1", "13 13 45 45 01 1"},
      {"MONTH MON DAY DDD", "marzo mar lunes lun", "March Mar Monday Mon"},
      {"'YYYY='YYYY", "YYYY=2005", "YYYY=2005"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(TDateFormater(c.format).DateTimeToStr(monday), c.spanish);
    ScopedLocale english(LocaleSettings::EnglishUnitedStates());
    EXPECT_EQ(TDateFormater(c.format).DateTimeToStr(monday), c.english);
  }
  EXPECT_EQ(TDateFormater("DD HH AMPM DW DDD").DateTimeToStr(At(2005, 3, 13, 0, 0, 0)), "13 00 AM 7 dom");
  EXPECT_EQ(TDateFormater("YYYY-MM-DD DY").DateTimeToStr(At(1, 1, 1)), "0001-01-01 1");
  EXPECT_EQ(TDateFormater("YYYY-MM-DD RM").DateTimeToStr(At(1850, 12, 31)), "1850-12-31 XII");
  EXPECT_THROW(TDateFormater("YYYY").DateTimeToStr(At(9999, 12, 31) + 1), EDateConvertError);
  EXPECT_THROW(TDateFormater("YYYY").DateTimeToStr(-700000.0), EDateConvertError);
}

TEST(DateFormatWrite, WrittenTextsReadBack) {
  const char* formats[] = {"DD.MM.YYYY HH24:NN:SS", "YYYYMMDD HH:NN:SS AMPM", "D/M/YYYY H24:N:S",
                           "DDD DD MM YYYY HH12 N S AMPM"};
  const TDateTime values[] = {At(2005, 3, 7, 13, 45, 1), At(1899, 12, 30, 0, 0, 0), At(1850, 1, 31, 23, 59, 59),
                              At(2024, 2, 29, 12, 0, 0), At(9999, 12, 31, 11, 59, 59)};
  for (const char* format : formats) {
    const TDateFormater f(format);
    for (TDateTime v : values) {
      SCOPED_TRACE(std::string(format) + " " + Show(v));
      EXPECT_EQ(Show(f.StrToDateTime(f.DateTimeToStr(v))), Show(v));
    }
  }
}

// A column sized by GetMaxLength must hold every text the format writes.
TEST(DateFormatWrite, MaxLengthHoldsEveryWrittenText) {
  const char* formats[] = {"DD.MM.YYYY", "MONTH", "DAY", "MON DDD", "DY", "RM", "Q-DW 'week'", "HH12:NN AMPM"};
  for (const LocaleSettings& settings : {LocaleSettings::SpanishSpain(), LocaleSettings::EnglishUnitedStates()}) {
    ScopedLocale locale(settings);
    for (const char* format : formats) {
      const TDateFormater f(format);
      const int32_t first = EncodeDayNumber(2024, 1, 1);
      for (int32_t day = first; day < first + 366; ++day) {
        const std::string text = f.DateTimeToStr(DateTimeFromPair({day, 13 * 3600000}));
        ASSERT_LE(static_cast<int32_t>(text.size()), f.GetMaxLength()) << format << " wrote " << text;
      }
    }
  }
  EXPECT_EQ(TDateFormater("DD.MM.YYYY HH24:NN").GetMaxLength(), 16);
  EXPECT_EQ(TDateFormater("YEAR Q RM").GetMaxLength(), 11);
}

TEST(DateFormatType, ResultTypeFollowsTheElements) {
  EXPECT_EQ(TDateFormater("DD.MM.YYYY").GetResultType(), aftDate);
  EXPECT_EQ(TDateFormater("MONTH").GetResultType(), aftDate);
  EXPECT_EQ(TDateFormater("HH24:NN AMPM").GetResultType(), aftTime);
  EXPECT_EQ(TDateFormater("DD HH24").GetResultType(), aftDateTime);
  EXPECT_EQ(TDateFormater("'text only'").GetResultType(), aftDateTime);
}

// ---------------------------------------------------------------------------
// Literal readers

TEST(DateLiterals, ShapesAreChecked) {
  int32_t date = 0, time = 0;
  TABSDateTimePair stamp{};
  EXPECT_TRUE(ReadDateLiteral("2005-03-07", date));
  EXPECT_EQ(date, EncodeDayNumber(2005, 3, 7));
  EXPECT_TRUE(ReadDateLiteral("2005/03/07x", date));  // one trailing character is tolerated
  EXPECT_EQ(date, EncodeDayNumber(2005, 3, 7));
  for (const char* bad : {"2005-3-7", "20050307", "2005-03-07xy", "2005-03", "", "02005-03-07", "2005-03-07 10"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ReadDateLiteral(bad, date));
  }
  EXPECT_TRUE(ReadTimeLiteral("13:45:01", time));
  EXPECT_EQ(time, (13 * 3600 + 45 * 60 + 1) * 1000);
  for (const char* bad : {"13:45", "1:45:01", "13:45:01.5"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ReadTimeLiteral(bad, time));
  }
  EXPECT_TRUE(ReadTimestampLiteral("2005-03-07 13:45:01", stamp));
  EXPECT_EQ(stamp.date, EncodeDayNumber(2005, 3, 7));
  EXPECT_EQ(stamp.time, time);
  EXPECT_FALSE(ReadTimestampLiteral("2005-03-07", stamp));

  EXPECT_THROW(ReadDateLiteral("2005-02-30", date), EDateConvertError);
  EXPECT_THROW(ReadTimeLiteral("24:00:00", time), EDateConvertError);
  EXPECT_THROW(ReadTimestampLiteral("2005-03-07 10:60:00", stamp), EDateConvertError);
}

TEST(DateLiterals, TokenFormsRaiseTheParserErrors) {
  const struct {
    const char* sql;  // the literal is the second token
    int kind;         // 0 date, 1 time, 2 timestamp
    int32_t code;
    const char* message;
  } cases[] = {
      {"DATE 20050307", 0, 20283, "Date string expected \"YYYY-MM-DD\", but found \"20050307\" at line 1, column 6"},
      {"DATE\n '2005-3-7'", 0, 20284, "Token 'YYYY-MM-DD' expected, but '2005-3-7' found at line 2, column 2"},
      {"TIME x", 1, 20285, "Time string expected \"HH:MM:SS\", but found \"x\" at line 1, column 6"},
      {"TIME '1:2:3'", 1, 20286, "Token 'HH:MM:SS' expected, but '1:2:3' found at line 1, column 6"},
      {"TIMESTAMP [x]", 2, 20287, "Time string expected \"HH:MM:SS\", but found \"x\" at line 1, column 11"},
      {"TIMESTAMP '2005-03-07'", 2, 20288, "Token 'YYYY-MM-DD' expected, but '2005-03-07' found at line 1, column 11"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    TABSLexer lexer(c.sql, false, nullptr);
    const TToken& token = lexer.Commands().at(0).Tokens.at(1);
    std::string message;
    EXPECT_EQ(NativeCodeOf(
                  [&] {
                    if (c.kind == 0) DateLiteralFromToken(token);
                    if (c.kind == 1) TimeLiteralFromToken(token);
                    if (c.kind == 2) TimestampLiteralFromToken(token);
                  },
                  &message),
              c.code);
    EXPECT_EQ(message, c.message);
  }
  TABSLexer ok("DATE '2005-03-07' TIME \"13:45:01\" TIMESTAMP '2005-03-07 13:45:01'", false, nullptr);
  const auto& tokens = ok.Commands().at(0).Tokens;
  EXPECT_EQ(DateLiteralFromToken(tokens.at(1)), EncodeDayNumber(2005, 3, 7));
  EXPECT_EQ(TimeLiteralFromToken(tokens.at(3)), (13 * 3600 + 45 * 60 + 1) * 1000);
  EXPECT_EQ(TimestampLiteralFromToken(tokens.at(5)).date, EncodeDayNumber(2005, 3, 7));
}

}  // namespace

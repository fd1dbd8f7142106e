#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "locale/Locale.h"

using namespace tiv::locale;

TEST(Locale, SpanishIsTheDefault) {
  auto l = CurrentLocale();
  EXPECT_EQ(l->DecimalSeparator(), ',');
  EXPECT_EQ(l->FormatShortDate({2024, 1, 5}), "05/01/2024");
  EXPECT_EQ(l->FormatLongTime({9, 5, 3, 0}), "09:05:03");
  EXPECT_EQ(l->MonthName(9, true), "septiembre");
  EXPECT_EQ(l->DayName(4, true), "mi\xe9rcoles");
  EXPECT_EQ(l->DayName(1, false), "dom");
}

TEST(Locale, ScopedLocaleRestoresThePrevious) {
  {
    ScopedLocale english(LocaleSettings::EnglishUnitedStates());
    EXPECT_EQ(CurrentLocale()->DecimalSeparator(), '.');
    EXPECT_EQ(CurrentLocale()->FormatShortDate({2024, 1, 5}), "1/5/2024");
  }
  EXPECT_EQ(CurrentLocale()->DecimalSeparator(), ',');
}

TEST(Locale, SpanishCollationOrdersWordsAsAReaderExpects) {
  auto l = CurrentLocale();
  std::vector<std::string> words = {"zorro", "\xd1u", "nube", "\xe1rbol", "Arbol",
                                    "a-b",   "ab",    "1x",   "caf\xe9",  "cafe"};
  std::sort(words.begin(), words.end(),
            [&](const std::string& a, const std::string& b) { return l->CompareAnsi(a, b, false) < 0; });
  const std::vector<std::string> want = {"1x",   "a-b",     "ab",   "Arbol", "\xe1rbol",
                                         "cafe", "caf\xe9", "nube", "\xd1u", "zorro"};
  EXPECT_EQ(words, want);
  EXPECT_EQ(l->CompareAnsi("ABC", "abc", true), 0);
  EXPECT_EQ(l->CompareAnsi("abc",
                           "\xe1"
                           "bc",
                           true),
            -1);
  EXPECT_EQ(l->CompareAnsi("abc", "ABC", false), -1);
  EXPECT_EQ(l->CompareWide(u"\u00f1", u"\u00d1", true), 0);
  EXPECT_EQ(l->CompareWide(u"n", u"\u00f1", false), -1);
  EXPECT_EQ(l->CompareAnsi("", "", false), 0);
  EXPECT_EQ(l->CompareAnsi("", "a", false), -1);
}

TEST(Locale, Casing) {
  auto l = CurrentLocale();
  EXPECT_EQ(l->UpperAnsi("ca\xf1\xf3n \xff"), "CA\xd1\xd3N \x9f");
  EXPECT_EQ(l->LowerAnsi("\xc1RBOL"), "\xe1rbol");
  EXPECT_EQ(l->UpperWide(u"stra\u00dfe"), u"STRASSE");
  EXPECT_EQ(l->LowerWide(u"\u00c9T\u00c9"), u"\u00e9t\u00e9");
}

TEST(Locale, ShortestFloatTextReadsBack) {
  auto l = CurrentLocale();
  struct Case {
    double v;
    const char* text;
  };
  const Case cases[] = {{1.5, "1,5"},           {-0.25, "-0,25"}, {100, "100"},   {0.1, "0,1"},
                        {1e-5, "0,00001"},      {1e-6, "1E-6"},   {1e15, "1E15"}, {123456789012345, "123456789012345"},
                        {2.5e-300, "2,5E-300"}, {0, "0"}};
  for (const Case& c : cases) {
    EXPECT_EQ(l->FormatDouble(c.v), c.text);
    long double back = 0;
    ASSERT_TRUE(l->ParseFloat(c.text, back)) << c.text;
    EXPECT_EQ(static_cast<double>(back), c.v);
  }
  EXPECT_EQ(l->FormatSingle(0.1f), "0,1");
  EXPECT_EQ(l->FormatExtended(0.1L), "0,1");
  for (double v : {DBL_MAX, DBL_MIN, 1.0 / 3.0, -2.0 / 7.0e200}) {
    long double back = 0;
    ASSERT_TRUE(l->ParseFloat(l->FormatDouble(v), back));
    EXPECT_EQ(static_cast<double>(back), v);
  }
  long double out = 0;
  for (const char* bad : {"", "-", "1,2,3", "1.2,3", "e5", "1e", "NAN", "inf", "1 2", "0x10", "1e99999"})
    EXPECT_FALSE(l->ParseFloat(bad, out)) << bad;
  EXPECT_TRUE(l->ParseFloat(" +1.25e2 ", out));
  EXPECT_EQ(out, 125.0L);
}

TEST(Locale, Currency) {
  auto l = CurrentLocale();
  EXPECT_EQ(l->FormatCurrency(1234.56789), "1234,5679");
  EXPECT_EQ(l->FormatCurrency(-0.5), "-0,5");
  EXPECT_EQ(l->FormatCurrency(3), "3");
  double v = 0;
  EXPECT_TRUE(l->ParseCurrency("12,34567", v));
  EXPECT_DOUBLE_EQ(v, 12.3457);
  EXPECT_FALSE(l->ParseCurrency("12.5", v));
}

TEST(Locale, DatesAndTimes) {
  auto l = CurrentLocale();
  struct DateCase {
    const char* text;
    bool ok;
    DateParts want;
  };
  const DateCase dates[] = {{"05/01/2024", true, {2024, 1, 5}},  {" 5/1/2024 ", true, {2024, 1, 5}},
                            {"29/02/2024", true, {2024, 2, 29}}, {"29/02/2023", false, {}},
                            {"5/1/24", true, {2024, 1, 5}},      {"5/1/75", true, {1975, 1, 5}},
                            {"05-01-2024", false, {}},           {"05/01", false, {}},
                            {"32/01/2024", false, {}},           {"05/01/2024x", false, {}}};
  for (const DateCase& c : dates) {
    DateParts d;
    EXPECT_EQ(l->ParseDate(c.text, d), c.ok) << c.text;
    if (c.ok) {
      EXPECT_TRUE(d.year == c.want.year && d.month == c.want.month && d.day == c.want.day) << c.text;
    }
  }
  TimeParts t;
  EXPECT_TRUE(l->ParseTime("23:59:59.999", t));
  EXPECT_EQ(t.msec, 999);
  EXPECT_TRUE(l->ParseTime("7:05", t));
  EXPECT_EQ(t.hour * 60 + t.minute, 425);
  EXPECT_FALSE(l->ParseTime("24:00", t));
  EXPECT_FALSE(l->ParseTime("12", t));
  DateParts d;
  EXPECT_TRUE(l->ParseDateTime("05/01/2024 10:20:30", d, t));
  EXPECT_EQ(t.second, 30);
  EXPECT_EQ(l->FormatDateTime({2024, 1, 5}, {10, 20, 30, 0}), "05/01/2024 10:20:30");
  EXPECT_EQ(l->FormatDateTime({2024, 1, 5}, {}), "05/01/2024");
  // Whatever is formatted parses back.
  EXPECT_TRUE(l->ParseDateTime(l->FormatDateTime({1, 1, 1}, {0, 0, 1, 0}), d, t));
  EXPECT_EQ(d.year, 1);
}

TEST(Locale, SharedAcrossThreads) {
  auto l = CurrentLocale();
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      for (int n = 0; n < 500; ++n)
        if (l->CompareAnsi("\xe1rbol", "bote", true) != -1 || l->UpperAnsi("a") != "A") ++bad[i];
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

#include <cfloat>
#include <cmath>

#include "VariantTestUtil.h"

using tiv::locale::LocaleSettings;
using tiv::locale::ScopedLocale;

TEST_F(VariantTest, NullAndEmptyString) {
  TABSVariant v(bftString);
  EXPECT_TRUE(v.IsNull());
  v.SetAsString("");
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.StringLength(), -1);
  EXPECT_EQ(v.AsString(), "");  // a string from NULL is empty, no error
  EXPECT_EQ(v.AsWideString(), u"");
  EXPECT_EQ(NativeCodeOf([&] { v.AsInteger(); }), 30016);
  std::string message;
  NativeCodeOf([&] { v.AsDouble(); }, &message);
  EXPECT_EQ(message, "Value is Null");

  v.SetAsString("abc");
  EXPECT_EQ(v.StringLength(), 3);
  EXPECT_EQ(v.ValueSize(), 4);
  v.SetNull();  // keeps buffer and type
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.StorageType(), bftString);
  v.Clear(bftInteger);
  EXPECT_EQ(v.StorageType(), bftInteger);
  EXPECT_EQ(v.Buffer(), nullptr);

  TABSVariant w(bftWideString);
  w.SetAsWideString(u"\u00f1and\u00fa");
  EXPECT_EQ(w.StringLength(), 5);
  EXPECT_EQ(w.ValueSize(), 12);
  EXPECT_EQ(w.AsString(),
            "\xf1"
            "and\xfa");  // Windows-1252
}

TEST_F(VariantTest, UntypedValueTakesTheSourceType) {
  TABSVariant v;
  v.SetAsDouble(2.5);
  EXPECT_EQ(v.StorageType(), bftDouble);
  v.SetAsInteger(7);  // now typed: converted into DOUBLE
  EXPECT_EQ(v.StorageType(), bftDouble);
  EXPECT_EQ(v.AsDouble(), 7.0);
}

// One value set through one type, read back through another.
struct ConvertCase {
  const char* name;
  std::function<void(TABSVariant&)> set;
  TABSStorageType own;  // the value's type
  std::function<std::string(const TABSVariant&)> get;
  std::string want;  // the read text, or empty when an error is wanted
  int32_t error = 0;
};

TEST_F(VariantTest, ConversionsAcrossFamilies) {
  auto asStr = [](const TABSVariant& v) { return v.AsString(); };
  auto asInt = [](const TABSVariant& v) { return std::to_string(v.AsLargeint()); };
  auto asDbl = [](const TABSVariant& v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.17g", v.AsDouble());
    return std::string(b);
  };
  auto asCard = [](const TABSVariant& v) { return std::to_string(v.AsCardinal()); };
  auto asByte = [](const TABSVariant& v) { return std::to_string(v.AsByte()); };
  auto asBool = [](const TABSVariant& v) { return std::string(v.AsLogical() ? "T" : "F"); };
  auto asDate = [](const TABSVariant& v) { return std::to_string(v.AsDate()); };
  auto asTime = [](const TABSVariant& v) { return std::to_string(v.AsTime()); };
  auto asDT = [](const TABSVariant& v) {
    auto p = v.AsDateTime();
    return std::to_string(p.date) + "+" + std::to_string(p.time);
  };
  auto s = [](const char* t) { return [t](TABSVariant& v) { v.SetAsString(t); }; };
  const int32_t jan5 = EncodeDayNumber(2024, 1, 5);
  const std::string jan5s = std::to_string(jan5);

  const ConvertCase cases[] = {
      // text into numbers
      {"int", s(" -42 "), bftString, asInt, "-42"},
      {"int junk", s("4x"), bftString, asInt, "", 30051},
      {"cardinal full range", s("4294967295"), bftString, asCard, "4294967295"},
      {"cardinal negative", s("-1"), bftString, asCard, "", 30051},
      {"byte out of range", s("300"), bftString, asByte, "", 30051},
      {"largeint max", s("9223372036854775807"), bftString, asInt, "9223372036854775807"},
      {"largeint overflow", s("9223372036854775808"), bftString, asInt, "", 30051},
      {"double with point", s("1.5"), bftString, asDbl, "1.5"},
      {"double with comma", s("1,5"), bftString, asDbl, "1.5"},
      {"double exponent", s("2.5E3"), bftString, asDbl, "2500"},
      {"double nan", s("NAN"), bftString, asDbl, "", 30051},
      {"double inf", s("INF"), bftString, asDbl, "", 30051},
      {"double overflow", s("1e999"), bftString, asDbl, "", 30051},
      {"currency locale", [](TABSVariant& v) { v.SetAsString("2,125"); }, bftString,
       [](const TABSVariant& v) { return std::to_string(v.AsCurrency()); }, "2.125000"},
      {"currency with point", s("1.5"), bftString, [](const TABSVariant& v) { return std::to_string(v.AsCurrency()); },
       "", 30051},
      {"logical true", s("true"), bftString, asBool, "T"},
      {"logical 1", s("1"), bftString, asBool, "T"},
      {"logical other", s("yes"), bftString, asBool, "F"},
      // text into dates and times
      {"date fixed", s("2024-01-05"), bftString, asDate, jan5s},
      {"date fixed trailing char", s("2024-01-05x"), bftString, asDate, jan5s},
      {"date fixed two trailing", s("2024-01-05xy"), bftString, asDate, "", 30051},
      {"date one-digit month", s("2024-1-05"), bftString, asDate, "", 30051},
      {"date fixed date-time", s("2024/01/05 10:20:30"), bftString, asDate, jan5s},
      {"date locale", s("05/01/2024"), bftString, asDate, jan5s},
      {"date invalid", s("2023-02-29"), bftString, asDate, "", 30051},
      {"datetime fixed", s("2024-01-05T10:20:30"), bftString, asDT, jan5s + "+37230000"},
      {"datetime locale", s("05/01/2024 10:20"), bftString, asDT, jan5s + "+37200000"},
      {"time fixed", s("10:20:30"), bftString, asTime, "37230000"},
      {"time fixed any separator", s("10.20.30"), bftString, asTime, "37230000"},
      {"time locale ms", s("1:02:03.5"), bftString, asTime, "3723500"},
      {"time invalid", s("24:00:00"), bftString, asTime, "", 30051},
      // numbers into text and other numbers
      {"int to text", [](TABSVariant& v) { v.SetAsInteger(-7); }, bftInteger, asStr, "-7"},
      {"double to text", [](TABSVariant& v) { v.SetAsDouble(1.5); }, bftDouble, asStr, "1,5"},
      {"double to text big", [](TABSVariant& v) { v.SetAsDouble(1.5e20); }, bftDouble, asStr, "1,5E20"},
      {"single to text", [](TABSVariant& v) { v.SetAsSingle(0.1f); }, bftSingle, asStr, "0,1"},
      {"extended to text", [](TABSVariant& v) { v.SetAsExtended(0.1L); }, bftExtended, asStr, "0,1"},
      {"currency to text", [](TABSVariant& v) { v.SetAsCurrency(2.50004999); }, bftCurrency, asStr, "2,5"},
      {"double truncates", [](TABSVariant& v) { v.SetAsDouble(-2.9); }, bftDouble, asInt, "-2"},
      {"double too big for int", [](TABSVariant& v) { v.SetAsDouble(1e10); }, bftDouble,
       [](const TABSVariant& v) { return std::to_string(v.AsInteger()); }, "", 30051},
      {"double nan to int", [](TABSVariant& v) { v.SetAsDouble(NAN); }, bftDouble, asInt, "", 30051},
      {"double too big for single", [](TABSVariant& v) { v.SetAsDouble(1e300); }, bftDouble,
       [](const TABSVariant& v) { return std::to_string(v.AsSingle()); }, "", 30051},
      {"negative int to word", [](TABSVariant& v) { v.SetAsInteger(-1); }, bftInteger,
       [](const TABSVariant& v) { return std::to_string(v.AsWord()); }, "", 30051},
      {"number to logical", [](TABSVariant& v) { v.SetAsDouble(0.0); }, bftDouble, asBool, "F"},
      {"logical to text", [](TABSVariant& v) { v.SetAsLogical(true); }, bftLogical, asStr, "True"},
      {"logical to int", [](TABSVariant& v) { v.SetAsLogical(true); }, bftLogical, asInt, "1"},
      // dates into text and numbers
      {"date to text", [&](TABSVariant& v) { v.SetAsDate(jan5); }, bftDate, asStr, "05/01/2024"},
      {"time to text", [](TABSVariant& v) { v.SetAsTime(37230000); }, bftTime, asStr, "10:20:30"},
      {"datetime to text",
       [&](TABSVariant& v) {
         v.SetAsDateTime({jan5, 37230000});
       },
       bftDateTime, asStr, "05/01/2024 10:20:30"},
      {"datetime midnight to text",
       [&](TABSVariant& v) {
         v.SetAsDateTime({jan5, 0});
       },
       bftDateTime, asStr, "05/01/2024"},
      {"date out of calendar to text", [](TABSVariant& v) { v.SetAsDate(0); }, bftDate, asStr, "", 30051},
      {"datetime to double",
       [&](TABSVariant& v) {
         v.SetAsDateTime({jan5, 43200000});
       },
       bftDateTime, asDbl, jan5s + ".5"},
      {"date to logical", [&](TABSVariant& v) { v.SetAsDate(jan5); }, bftDate, asBool, "", 30052},
      {"date to time", [&](TABSVariant& v) { v.SetAsDate(jan5); }, bftDate, asTime, "", 30052},
      {"bytes to int", [](TABSVariant& v) { v.SetBuffer("ab", 2, true, bftBytes); }, bftBytes, asInt, "", 30052},
      // MEMO holds text without terminator
      {"memo to text", [](TABSVariant& v) { v.SetBuffer("memo", 4, true, bftMemo); }, bftMemo, asStr, "memo"},
  };
  for (const ConvertCase& c : cases) {
    TABSVariant v(c.own);
    c.set(v);
    std::string got;
    const int32_t code = NativeCodeOf([&] { got = c.get(v); });
    EXPECT_EQ(code, c.error) << c.name;
    if (c.error == 0) {
      EXPECT_EQ(got, c.want) << c.name;
    }
    EXPECT_EQ(v.StorageType(), c.own) << c.name << ": reading must not change the value";
  }
}

TEST_F(VariantTest, DecimalSeparatorFollowsTheLocale) {
  {
    ScopedLocale english(LocaleSettings::EnglishUnitedStates());
    EXPECT_EQ(Dbl(1.5).AsString(), "1.5");
    EXPECT_EQ(Str("1.5").AsDouble(), 1.5);
    EXPECT_EQ(NativeCodeOf([] { Str("1,5").AsDouble(); }), 30051);
    EXPECT_EQ(Str("1/5/2024").AsDate(), EncodeDayNumber(2024, 1, 5));
  }
  EXPECT_EQ(Str("1.5").AsDouble(), 1.5);  // a point always reads
  EXPECT_EQ(Str("1,5").AsDouble(), 1.5);
  // What formatting produces reads back to the same value.
  for (double d : {0.1, -123456.789, 1e-7, 6.02214076e23, DBL_MAX, DBL_MIN}) {
    EXPECT_EQ(Str(Dbl(d).AsString()).AsDouble(), d) << d;
  }
}

TEST_F(VariantTest, DateTimeNumberAccessorsAndCarry) {
  TABSVariant d(bftDate);
  d.SetAsTDate(0.0);
  EXPECT_EQ(d.AsDate(), 693594);
  d.SetAsDate(1);
  EXPECT_EQ(d.AsTDate(), -693593.0);

  TABSVariant dt(bftDateTime);
  dt.SetAsTDateTime(45296.0 + 86399999.6 / 86400000.0);  // 2024-01-05 23:59:59.9996
  EXPECT_EQ(dt.AsDateTime().date, EncodeDayNumber(2024, 1, 6));
  EXPECT_EQ(dt.AsDateTime().time, 0);
  EXPECT_EQ(dt.AsTDateTime(), 45297.0);

  TABSVariant t(bftTime);
  t.SetAsTTime(0.75);
  EXPECT_EQ(t.AsTime(), 64800000);
  EXPECT_EQ(t.AsTTime(), 0.75);
}

TEST_F(VariantTest, AssignSetBufferGetBuffer) {
  TABSVariant src = Str("hello");
  TABSVariant copy, shared;
  copy.Assign(src, true);
  shared.Assign(src, false);
  EXPECT_FALSE(copy.IsBorrowed());
  EXPECT_TRUE(shared.IsBorrowed());
  EXPECT_NE(copy.Buffer(), src.Buffer());
  EXPECT_EQ(shared.Buffer(), src.Buffer());
  EXPECT_EQ(shared.AsString(), "hello");

  // Setting a borrowed value never writes into or frees the lender's bytes.
  shared.SetAsString("other");
  EXPECT_EQ(src.AsString(), "hello");
  EXPECT_FALSE(shared.IsBorrowed());

  char raw[4] = {1, 0, 0, 0};
  TABSVariant b;
  b.SetBuffer(raw, 4, false, bftInteger);
  EXPECT_EQ(b.AsInteger(), 1);
  raw[0] = 2;  // borrowed: sees the lender's bytes
  EXPECT_EQ(b.AsInteger(), 2);
  b.SetBuffer(raw, 4, true, bftInteger);
  raw[0] = 3;
  EXPECT_EQ(b.AsInteger(), 2);

  char out[6];
  EXPECT_TRUE(src.GetBuffer(out, 6));
  EXPECT_STREQ(out, "hello");
  EXPECT_EQ(NativeCodeOf([&] { src.GetBuffer(out, 5); }), 20056);
  EXPECT_FALSE(TABSVariant(bftString).GetBuffer(out, 6));
  EXPECT_EQ(NativeCodeOf([&] { src.GetData(out, bftString, 3); }), 20056);
  EXPECT_EQ(src.GetData(out, bftString, 6), 6);
}

TEST_F(VariantTest, CastTo) {
  TABSVariant memo;
  memo.SetBuffer("abc", 3, true, bftMemo);
  memo.CastTo(bftString);
  EXPECT_EQ(memo.StorageType(), bftString);
  EXPECT_EQ(memo.ValueSize(), 4);
  EXPECT_EQ(memo.AsString(), "abc");

  TABSVariant n(bftInteger);
  n.CastTo(bftDouble);  // NULL only changes type
  EXPECT_EQ(n.StorageType(), bftDouble);
  EXPECT_TRUE(n.IsNull());

  TABSVariant bad = Str("x1");
  EXPECT_EQ(NativeCodeOf([&] { bad.CastTo(bftInteger); }), 30051);
  EXPECT_EQ(bad.StorageType(), bftString);  // unchanged on failure
  EXPECT_EQ(bad.AsString(), "x1");

  TABSVariant wide =
      Str("ca\xf1"
          "a");
  wide.CastTo(bftWideString);
  EXPECT_EQ(wide.AsWideString(), u"ca\u00f1a");
}

TEST_F(VariantTest, OleVariantExchange) {
  struct Case {
    TABSOleVariant in;
    TABSStorageType type;
  };
  const Case cases[] = {{int16_t(-3), bftSmallint},
                        {int32_t(7), bftInteger},
                        {1.5f, bftSingle},
                        {2.5, bftDouble},
                        {ole::Currency{1.25}, bftCurrency},
                        {ole::Date{45296.5}, bftDateTime},
                        {std::u16string(u"w"), bftWideString},
                        {true, bftLogical},
                        {int8_t(-1), bftShortint},
                        {uint8_t(200), bftByte},
                        {uint16_t(60000), bftWord},
                        {uint32_t(4000000000u), bftCardinal},
                        {int64_t(-5), bftLargeint},
                        {std::string("s"), bftString}};
  for (const Case& c : cases) {
    TABSVariant v;
    v.SetAsVariant(c.in);
    EXPECT_EQ(v.StorageType(), c.type) << c.in.index();
    const TABSOleVariant back = v.GetAsVariant();
    if (c.type == bftSingle || c.type == bftCurrency) {
      EXPECT_TRUE(std::holds_alternative<double>(back));
    } else {
      EXPECT_EQ(back, c.in) << c.in.index();
    }
  }
  TABSVariant v = Int(3);
  v.SetAsVariant(ole::Null{});
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.StorageType(), bftInteger);
  EXPECT_TRUE(std::holds_alternative<ole::Null>(v.GetAsVariant()));
  v.SetAsVariant(ole::Custom{"12"});
  EXPECT_EQ(v.AsInteger(), 12);

  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { v.SetAsVariant(ole::Other{9}); }, &message), 30113);
  EXPECT_EQ(message, "Unsupported Variant Type 9");
  TABSVariant blob;
  blob.SetBuffer("x", 1, true, bftBlob);
  EXPECT_EQ(NativeCodeOf([&] { blob.GetAsVariant(); }, &message), 30114);
  EXPECT_EQ(message, "Unsupported Variant Type BLOB");
  EXPECT_TRUE(std::holds_alternative<ole::Date>(Date(2024, 1, 5).GetAsVariant()));
}

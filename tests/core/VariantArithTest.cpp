#include <cmath>

#include "VariantTestUtil.h"

TEST_F(VariantTest, AddNullRules) {
  TABSVariant s = Str("ab");
  s.Add(TABSVariant(bftInteger));  // string left, NULL right: unchanged
  EXPECT_EQ(s.AsString(), "ab");
  TABSVariant n = Int(1);
  n.Add(TABSVariant(bftInteger));
  EXPECT_TRUE(n.IsNull());
  TABSVariant nullString(bftString);
  nullString.Add(Int(5));  // NULL string left takes a copy of the right value
  EXPECT_FALSE(nullString.IsNull());
  EXPECT_EQ(nullString.AsInteger(), 5);
  TABSVariant nullInt(bftInteger);
  nullInt.Add(Int(5));
  EXPECT_TRUE(nullInt.IsNull());
  TABSVariant m = Int(2);
  m.Multiply(TABSVariant(bftInteger));
  EXPECT_TRUE(m.IsNull());
  TABSVariant d(bftDouble);
  d.Divide(Int(2));
  EXPECT_TRUE(d.IsNull());
}

TEST_F(VariantTest, ArithmeticInTheCommonType) {
  TABSVariant a = Int(7);
  a.Add(Dbl(0.5));
  EXPECT_EQ(a.StorageType(), bftDouble);
  EXPECT_EQ(a.AsDouble(), 7.5);

  TABSVariant w(bftWord);
  w.SetAsWord(3);
  TABSVariant sh(bftShortint);
  sh.SetAsShortint(-5);
  w.Add(sh);  // WORD + SHORTINT works in INTEGER
  EXPECT_EQ(w.StorageType(), bftInteger);
  EXPECT_EQ(w.AsInteger(), -2);

  TABSVariant q = Int(-7);
  q.Divide(Int(2));
  EXPECT_EQ(q.AsInteger(), -3);  // integer division truncates

  TABSVariant cat = Str("ab");
  cat.Add(Int(12));
  EXPECT_EQ(cat.AsString(), "ab12");

  TABSVariant strDate = Str("Fecha: ");
  strDate.Add(Date(2024, 1, 5));  // the date becomes text
  EXPECT_EQ(strDate.AsString(), "Fecha: 05/01/2024");

  TABSVariant dateStr = Date(2024, 1, 5);
  dateStr.Add(Str("!"));
  EXPECT_EQ(dateStr.StorageType(), bftString);
  EXPECT_EQ(dateStr.AsString(), "05/01/2024!");

  TABSVariant next = Date(2024, 2, 28);
  next.Add(Int(2));
  EXPECT_EQ(next.AsDate(), EncodeDayNumber(2024, 3, 1));

  TABSVariant wide(bftWideString);
  wide.SetAsWideString(u"\u00e9");
  wide.Add(Str("x"));
  EXPECT_EQ(wide.AsWideString(), u"\u00e9x");
}

TEST_F(VariantTest, DateTimeAdditionCarriesWholeDays) {
  const int32_t jan5 = EncodeDayNumber(2024, 1, 5);
  TABSVariant dt(bftDateTime);
  dt.SetAsDateTime({jan5, 86399000});
  TABSVariant plus(bftDateTime);
  plus.SetAsDateTime({0, 2000});
  dt.Add(plus);
  EXPECT_EQ(dt.AsDateTime().date, jan5 + 1);
  EXPECT_EQ(dt.AsDateTime().time, 1000);

  TABSVariant date = Date(2024, 1, 5);
  TABSVariant time(bftTime);
  time.SetAsTime(3600000);
  date.Add(time);  // DATE + TIME is a DATETIME
  EXPECT_EQ(date.StorageType(), bftDateTime);
  EXPECT_EQ(date.AsDateTime().date, jan5);
  EXPECT_EQ(date.AsDateTime().time, 3600000);

  TABSVariant back(bftDateTime);
  back.SetAsDateTime({jan5, 3600000});
  back.Add(Dbl(-0.25));  // minus six hours borrows a day
  EXPECT_EQ(back.AsDateTime().date, jan5 - 1);
  EXPECT_EQ(back.AsDateTime().time, 3600000 + 64800000);
}

TEST_F(VariantTest, ArithmeticFailuresLeaveTheValue) {
  struct Case {
    const char* name;
    TABSVariant left;
    TABSVariant right;
    char op;
    int32_t code;
    std::string message;
  };
  TABSVariant logical(bftLogical), logical2(bftLogical);
  logical.SetAsLogical(true);
  logical2.SetAsLogical(true);
  TABSVariant maxInt = Int(2147483647);
  TABSVariant blob;
  blob.SetBuffer("b", 1, true, bftBlob);
  Case cases[] = {
      {"int by zero", Int(1), Int(0), '/', 30128, "Division error: Division by zero"},
      {"double by zero", Dbl(1), Dbl(0), '/', 30128, "Division error: Floating point division by zero"},
      {"zero by zero", Dbl(0), Dbl(0), '/', 30128, "Division error: Invalid floating point operation"},
      {"double overflow in division", Dbl(1e308), Dbl(1e-10), '/', 30128, "Division error: Floating point overflow"},
      {"int overflow", std::move(maxInt), Int(1), '+', 30051, "Cannot cast from 'LARGEINT' to 'INTEGER'"},
      {"double overflow", Dbl(1e308), Dbl(1e308), '*', 30051, "Cannot cast from 'EXTENDED' to 'FLOAT'"},
      {"string times", Str("a"), Int(2), '*', 30126, "Not numeric argument in numeric operator '*'"},
      {"string divided", Str("a"), Int(2), '/', 30127, "Not numeric argument in numeric operator '/'"},
      {"logical plus", std::move(logical), std::move(logical2), '+', 30124,
       "Not numeric argument in numeric operator '+'"},
      {"blob plus", std::move(blob), Int(1), '+', 30124, "Not numeric argument in numeric operator '+'"},
  };
  for (Case& c : cases) {
    const TABSStorageType type = c.left.StorageType();
    const std::string before = c.left.AsString();
    std::string message;
    const int32_t code = NativeCodeOf(
        [&] {
          if (c.op == '+')
            c.left.Add(c.right);
          else if (c.op == '*')
            c.left.Multiply(c.right);
          else
            c.left.Divide(c.right);
        },
        &message);
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(c.left.StorageType(), type) << c.name;
    EXPECT_EQ(c.left.AsString(), before) << c.name;
  }
  TABSVariant minInt(bftLargeint);
  minInt.SetAsLargeint(INT64_MIN);
  std::string message;
  EXPECT_EQ(NativeCodeOf(
                [&] {
                  TABSVariant m1(bftLargeint);
                  m1.SetAsLargeint(-1);
                  minInt.Divide(m1);
                },
                &message),
            30128);
  EXPECT_EQ(message, "Division error: Integer overflow");
}

TEST_F(VariantTest, Negate) {
  TABSVariant i = Int(5);
  i.Negate();
  EXPECT_EQ(i.AsInteger(), -5);
  TABSVariant d = Dbl(1.5);
  d.Negate();
  EXPECT_EQ(d.AsDouble(), -1.5);
  TABSVariant l(bftLogical);
  l.SetAsLogical(true);
  l.Negate();
  EXPECT_FALSE(l.AsLogical());
  TABSVariant date = Date(2024, 1, 5);
  date.Negate();
  EXPECT_EQ(date.AsDate(), -EncodeDayNumber(2024, 1, 5));
  TABSVariant n(bftInteger);
  n.Negate();
  EXPECT_TRUE(n.IsNull());

  std::string message;
  TABSVariant t(bftTime);
  t.SetAsTime(1);
  EXPECT_EQ(NativeCodeOf([&] { t.Negate(); }, &message), 30123);
  EXPECT_EQ(message, "Cannot invert value with not numeric type 'TIME'");
  EXPECT_EQ(NativeCodeOf([&] { Str("a").Negate(); }), 30123);
  TABSVariant b(bftByte);
  b.SetAsByte(5);
  EXPECT_EQ(NativeCodeOf([&] { b.Negate(); }), 30051);  // no negative BYTE
  EXPECT_EQ(b.AsByte(), 5);
  TABSVariant s(bftShortint);
  s.SetAsShortint(-128);
  EXPECT_EQ(NativeCodeOf([&] { s.Negate(); }), 30051);
}

TEST_F(VariantTest, LogicalJoinsArithmeticAsAnInteger) {
  TABSVariant logical(bftLogical);
  logical.SetAsLogical(true);
  logical.Add(Int(1));  // LOGICAL with INTEGER works in INTEGER
  EXPECT_EQ(logical.StorageType(), bftInteger);
  EXPECT_EQ(logical.AsInteger(), 2);
}

#include "VariantTestUtil.h"

TEST_F(VariantTest, NullCodesRawAndFolded) {
  TABSVariant a(bftInteger), b(bftString);
  TABSVariant one = Int(1);
  EXPECT_EQ(a.Compare(b, true), kCmpBothNull);
  EXPECT_EQ(a.Compare(b), kCmpEqual);
  EXPECT_EQ(a.Compare(one, true), kCmpLeftNull);
  EXPECT_EQ(a.Compare(one), kCmpLower);
  EXPECT_EQ(one.Compare(a, true), kCmpRightNull);
  EXPECT_EQ(one.Compare(a), kCmpGreater);
  // NULL sides are settled before the types are looked at.
  TABSVariant blob(bftBlob);
  EXPECT_EQ(blob.Compare(one, true), kCmpLeftNull);
  const int signs[] = {0, -1, 1, -1, 1, 0};
  for (int code = 0; code <= 5; ++code) EXPECT_EQ(CompareCodeToSign(code), signs[code]);
}

TEST_F(VariantTest, CompareAcrossTypes) {
  struct Case {
    const char* name;
    TABSVariant l, r;
    int want;
  };
  TABSVariant word(bftWord);
  word.SetAsWord(5);
  TABSVariant shortMinus(bftShortint);
  shortMinus.SetAsShortint(-1);
  TABSVariant cardMax(bftCardinal);
  cardMax.SetAsCardinal(4294967295u);
  TABSVariant big(bftLargeint);
  big.SetAsLargeint(-1);
  TABSVariant t(bftLogical), f(bftLogical);
  t.SetAsLogical(true);
  f.SetAsLogical(false);
  TABSVariant dtNoon(bftDateTime), dtMorning(bftDateTime);
  dtNoon.SetAsDateTime({EncodeDayNumber(2024, 1, 5), 43200000});
  dtMorning.SetAsDateTime({EncodeDayNumber(2024, 1, 5), 1000});
  Case cases[] = {
      {"signed below unsigned", std::move(shortMinus), std::move(word), kCmpLower},
      {"cardinal max above -1 largeint", std::move(cardMax), std::move(big), kCmpGreater},
      {"int vs double", Int(2), Dbl(2.5), kCmpLower},
      {"string vs date compares dates", Str("2024-01-05"), Date(2024, 1, 5), kCmpEqual},
      {"date vs later string", Date(2024, 1, 5), Str("06/01/2024"), kCmpLower},
      {"number vs string compares text", Int(10), Str("9"), kCmpLower},
      {"collation puts accents with their letter", Str("\xe1rbol"), Str("bote"), kCmpLower},
      {"\xf1 after n",
       Str("\xf1"
           "a"),
       Str("nz"), kCmpGreater},
      {"case counts", Str("abc"), Str("ABC"), kCmpLower},
      {"logical false lower", std::move(f), std::move(t), kCmpLower},
      {"datetime by time within a day", std::move(dtNoon), std::move(dtMorning), kCmpGreater},
  };
  for (Case& c : cases) EXPECT_EQ(c.l.Compare(c.r), c.want) << c.name;
}

TEST_F(VariantTest, CompareOptionsAndErrors) {
  EXPECT_EQ(Str("abc").Compare(Str("ABC"), false, false, true), kCmpEqual);
  EXPECT_NE(Str("abc").Compare(Str("\xe1"
                                   "bc"),
                               false, false, true),
            kCmpEqual);                                                  // accents still count
  EXPECT_EQ(Str("Madrid").Compare(Str("Mad"), false, true), kCmpEqual);  // prefix of the right's length
  EXPECT_EQ(Str("Ma").Compare(Str("Mad"), false, true), kCmpLower);
  EXPECT_EQ(Str("MADRID").Compare(Str("mad"), false, true, true), kCmpEqual);
  EXPECT_EQ(Str("a-b").Compare(Str("ab"), false), kCmpLower);  // punctuation is not ignored

  TABSVariant w1(bftWideString), w2(bftWideString);
  w1.SetAsWideString(u"\u00e9t\u00e9");
  w2.SetAsWideString(u"\u00c9T\u00c9");
  EXPECT_EQ(w1.Compare(w2, false, false, true), kCmpEqual);
  EXPECT_EQ(w1.Compare(w2), kCmpLower);
  EXPECT_EQ(w1.Compare(Str("\xe9t\xe9")), kCmpEqual);  // wide against 8-bit text

  TABSVariant b1, b2;
  b1.SetBuffer("x", 1, true, bftBlob);
  b2.SetBuffer("x", 1, true, bftBlob);
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { b1.Compare(b2); }, &message), 30047);
  EXPECT_EQ(message, "Unknown DataType: 'BLOB'");

  TABSVariant bytes1, bytes2;
  bytes1.SetBuffer("ab", 2, true, bftBytes);
  bytes2.SetBuffer("ac", 2, true, bftBytes);
  EXPECT_EQ(bytes1.Compare(bytes2), kCmpLower);

  TABSVariant logical(bftLogical);
  logical.SetAsLogical(true);
  EXPECT_EQ(NativeCodeOf([&] { logical.Compare(Date(2024, 1, 5)); }, &message), 30044);
  EXPECT_EQ(message, "Cannot compare Incompatible DataTypes: 'LOGICAL' and 'DATE'");
  EXPECT_EQ(NativeCodeOf([&] { Str("not a date").Compare(Date(2024, 1, 5)); }), 30051);

  TABSVariant m1, m2;
  m1.SetBuffer("memo b", 6, true, bftMemo);
  m2.SetBuffer("memo a", 6, true, bftMemo);
  EXPECT_EQ(m1.Compare(m2), kCmpGreater);  // memos compare as text
}

TEST_F(VariantTest, CompareRawKeyBuffersBoundsChecked) {
  const char four[4] = {5, 0, 0, 0};
  EXPECT_EQ(CompareValueBuffers(four, bftInteger, 4, false, four, bftInteger, 4, false, false), kCmpEqual);
  EXPECT_EQ(NativeCodeOf([&] { CompareValueBuffers(four, bftLargeint, 4, false, four, bftLargeint, 4, false, false); }),
            30051);
  // Strings stop at their declared size even without a terminator.
  EXPECT_EQ(CompareValueBuffers("abcX", bftString, 3, false, "abcY", bftString, 3, false, false), kCmpEqual);
}

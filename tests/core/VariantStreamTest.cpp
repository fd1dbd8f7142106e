#include <cmath>

#include "VariantTestUtil.h"

namespace {
TABSVariant RoundTrip(const TABSVariant& v) {
  TABSMemoryStream stream;
  v.SaveToStream(stream, 10343);
  stream.Seek(0);
  TABSVariant back(bftInteger);
  back.LoadFromStream(stream, 10349);
  EXPECT_EQ(stream.Position(), stream.Size());
  return back;
}
}  // namespace

TEST_F(VariantTest, StreamRoundTrips) {
  TABSVariant ext(bftExtended);
  ext.SetAsExtended(-1.0L / 3.0L);
  TABSVariant wide(bftWideString);
  wide.SetAsWideString(u"\u20ac uno");
  TABSVariant dt(bftDateTime);
  dt.SetAsDateTime({EncodeDayNumber(2024, 1, 5), 12345});
  TABSVariant nullDate(bftDate);
  TABSVariant memo;
  memo.SetBuffer("m\0m", 3, true, bftMemo);
  const TABSVariant* values[] = {&ext, &wide, &dt, &nullDate, &memo};
  for (const TABSVariant* v : values) {
    const TABSVariant back = RoundTrip(*v);
    EXPECT_EQ(back.StorageType(), v->StorageType());
    EXPECT_EQ(back.IsNull(), v->IsNull());
    EXPECT_EQ(back.ValueSize(), v->ValueSize());
    if (!v->IsNull()) {
      EXPECT_EQ(std::string(back.Buffer(), back.ValueSize()), std::string(v->Buffer(), v->ValueSize()));
    }
  }
  EXPECT_EQ(RoundTrip(ext).AsExtended(), -1.0L / 3.0L);

  TABSMemoryStream s;
  Int(258).SaveToStream(s, 10343);
  EXPECT_EQ(s.Bytes(), std::string("\x07\x00\x04\x00\x00\x00\x02\x01\x00\x00", 10));
  nullDate.SaveToStream(s, 10343);
  EXPECT_EQ(s.Bytes().substr(10), std::string("\x0f\xff", 2));
}

TEST_F(VariantTest, DamagedStreamsRaiseTheCallersCode) {
  struct Case {
    const char* name;
    std::string bytes;
    int32_t code;
  };
  const Case cases[] = {
      {"empty", "", 10349},
      {"no size", std::string("\x07\x00", 2), 10349},
      {"short value", std::string("\x07\x00\x04\x00\x00\x00\x01", 7), 10349},
      {"huge size", std::string("\x07\x00\xff\xff\xff\x7f\x01", 7), 10349},
      {"negative size", std::string("\x07\x00\xff\xff\xff\xff\x01", 7), 10349},
      {"zero size", std::string("\x07\x00\x00\x00\x00\x00", 6), 10349},
      {"string without terminator", std::string("\x03\x00\x02\x00\x00\x00" "ab", 8), 10349},
      {"odd wide size", std::string("\x04\x00\x03\x00\x00\x00\x00\x00\x00", 9), 10349},
      {"unknown type", std::string("\x63\x00", 2), 30050},
  };
  for (const Case& c : cases) {
    TABSMemoryStream stream(c.bytes);
    TABSVariant v = Int(1);
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { v.LoadFromStream(stream, 10349); }, &message), c.code) << c.name;
    if (c.code == 10349) {
      EXPECT_EQ(message.rfind("Cannot read from stream. Position = ", 0), 0u) << message;
    }
  }
  // A non-zero NULL byte other than 255 still means NULL.
  TABSMemoryStream odd(std::string("\x07\x01", 2));
  TABSVariant v = Int(1);
  v.LoadFromStream(odd, 10349);
  EXPECT_TRUE(v.IsNull());
}

#include <cmath>

#include "VariantTestUtil.h"
#include "core/ZUDConvert.h"

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
      {"string without terminator",
       std::string("\x03\x00\x02\x00\x00\x00"
                   "ab",
                   8),
       10349},
      {"odd wide size", std::string("\x04\x00\x03\x00\x00\x00\x00\x00\x00", 9), 10349},
      {"unknown type", std::string("\x63\x00", 2), 30050},
      // A fixed-size value shorter than its type: arithmetic would read past it.
      {"extended cut short", std::string("\x0e\x00\x01\x00\x00\x00\x01", 7), 10349},
      {"datetime cut short", std::string("\x11\x00\x04\x00\x00\x00\x01\x02\x03\x04", 10), 10349},
  };
  for (const Case& c : cases) {
    TABSMemoryStream stream(c.bytes);
    TABSVariant v = Int(1);
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { v.LoadFromStream(stream, 10349); }, &message), c.code) << c.name;
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

// Stored bytes written by hand load as the value they spell: the type
// byte, a zero NULL byte, the size (4 bytes, little-endian) and the value,
// little-endian, strings with their terminator. Arbitrary bytes, and
// conversions and comparisons of arbitrary buffers between any two types,
// are the fuzz_variant target's.
TEST_F(VariantTest, HandWrittenStoredValuesLoad) {
  const struct {
    const char* name;
    std::string bytes;
    TABSStorageType type;
    const char* shown;
  } cases[] = {
      {"integer 258", std::string("\x07\x00\x04\x00\x00\x00\x02\x01\x00\x00", 10), bftInteger, "258"},
      {"shortint -128", std::string("\x05\x00\x01\x00\x00\x00\x80", 7), bftShortint, "-128"},
      {"smallint -1", std::string("\x06\x00\x02\x00\x00\x00\xff\xff", 8), bftSmallint, "-1"},
      {"word 4660", std::string("\x0a\x00\x02\x00\x00\x00\x34\x12", 8), bftWord, "4660"},
      {"cardinal 2^32-1", std::string("\x0b\x00\x04\x00\x00\x00\xff\xff\xff\xff", 10), bftCardinal, "4294967295"},
      {"largeint 2^40", std::string("\x08\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00", 14), bftLargeint,
       "1099511627776"},
      {"byte 255", std::string("\x09\x00\x01\x00\x00\x00\xff", 7), bftByte, "255"},
      {"string ab",
       std::string("\x03\x00\x03\x00\x00\x00"
                   "ab\x00",
                   9),
       bftString, "ab"},
      {"empty string", std::string("\x03\x00\x01\x00\x00\x00\x00", 7), bftString, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TABSMemoryStream stream(c.bytes);
    TABSVariant v = Int(1);
    ASSERT_EQ(NativeCodeOf([&] { v.LoadFromStream(stream, 10349); }), 0);
    EXPECT_EQ(stream.Position(), stream.Size());
    EXPECT_FALSE(v.IsNull());
    EXPECT_EQ(v.StorageType(), c.type);
    EXPECT_EQ(v.AsString(), c.shown);
  }
}

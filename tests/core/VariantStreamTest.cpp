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

// Stored bytes of any shape either load or raise an engine error.
TEST_F(VariantTest, ArbitraryBytesNeverCrashLoadConvertOrCompare) {
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(next() % 12, '\0');
    for (char& c : bytes) c = static_cast<char>(next());
    if (!bytes.empty()) bytes[0] = static_cast<char>(next() % 26);
    if (bytes.size() > 1) bytes[1] = 0;
    if (bytes.size() > 5) bytes.replace(2, 4, std::string{static_cast<char>(next() % 8), 0, 0, 0});
    TABSMemoryStream stream(bytes);
    TABSVariant v;
    try {
      v.LoadFromStream(stream, 10349);
      ++loaded;
      (void)v.AsString();
    } catch (const EABSException&) {
    }
  }
  EXPECT_GT(loaded, 0);

  for (int from = 0; from <= 25; ++from) {
    for (int to = 0; to <= 25; ++to) {
      for (int size = 0; size <= 12; size += 3) {
        char buf[12];
        for (char& c : buf) c = static_cast<char>(next());
        try {
          TABSConverted c =
              ConvertValue(buf, static_cast<TABSStorageType>(from), size, static_cast<TABSStorageType>(to));
        } catch (const EABSException&) {
        }
        try {
          CompareValueBuffers(buf, static_cast<TABSStorageType>(from), size, false, buf,
                              static_cast<TABSStorageType>(to), size, false, false);
        } catch (const EABSException&) {
        }
      }
    }
  }
}

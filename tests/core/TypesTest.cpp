#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/ZUDExcept.h"
#include "core/ZUDTypes.h"
#include "support/EngineError.h"

TEST(Types, NameTableLookupsTakeTheFirstMatchingRow) {
  EXPECT_EQ(DataTypeFromName("varchar2"), aftString);
  EXPECT_EQ(DataTypeFromName("Float"), aftDouble);
  EXPECT_EQ(DataTypeFromName("WIDECLOB"), aftWideMemo);
  EXPECT_EQ(DataTypeFromName("NUMERIC"), aftUnknown);

  // Storage to data type, and storage names for messages.
  const char* storageNames[] = {"CHAR",    "WIDECHAR", "STRING",  "WIDESTRING", "SHORTINT", "SMALLINT",
                                "INTEGER", "LARGEINT", "BYTE",    "WORD",       "CARDINAL", "SINGLE",
                                "FLOAT",   "EXTENDED", "DATE",    "TIME",       "DATETIME", "BLOB",
                                "MEMO",    "WIDEMEMO", "LOGICAL", "CURRENCY",   "BYTES",    "VARBYTES"};
  for (int s = 1; s <= kStorageTypeCount; ++s)
    EXPECT_EQ(StorageTypeName(static_cast<TABSStorageType>(s)), storageNames[s - 1]) << s;
  EXPECT_EQ(StorageTypeName(bftUnknown), "Unknown");
  EXPECT_EQ(StorageTypeName(static_cast<TABSStorageType>(25)), "Unknown");
  EXPECT_EQ(StorageTypeToDataType(bftInteger), aftInteger);
  EXPECT_EQ(StorageTypeToDataType(bftDouble), aftDouble);
  EXPECT_EQ(StorageTypeToDataType(bftChar), aftChar);  // not GUID

  EXPECT_EQ(DataTypeToStorageType(aftGuid), bftChar);
  EXPECT_EQ(DataTypeToStorageType(aftAutoIncLargeint), bftLargeint);
  EXPECT_EQ(DataTypeToStorageType(static_cast<TABSDataType>(37)), bftUnknown);
  EXPECT_EQ(DataTypeToFieldType(aftDouble), ftFloat);
  EXPECT_EQ(DataTypeToFieldType(aftCardinal), ftLargeint);
  EXPECT_EQ(DataTypeToFieldType(aftWideMemo), ftBlob);
  EXPECT_EQ(DataTypeName(aftDouble), "FLOAT");  // the first row of data type 21
  EXPECT_EQ(DataTypeName(aftWideMemo), "WIDEMEMO");
  EXPECT_EQ(DataTypeName(aftUnknown), "Unknown");
}

TEST(Types, FieldTypeToDataType) {
  struct Case {
    TFieldType ft;
    TABSDataType want;
  };
  const Case cases[] = {{ftFloat, aftDouble},        {ftBCD, aftDouble},        {ftWideString, aftWideChar},
                        {ftAutoInc, aftAutoInc},     {ftSmallint, aftSmallint}, {ftWord, aftWord},
                        {ftLargeint, aftLargeint},   {ftBlob, aftBlob},         {ftOraClob, aftBlob},
                        {ftTimeStamp, aftTimeStamp}, {ftGuid, aftGuid},         {ftDate, aftDate}};
  for (const Case& c : cases) EXPECT_EQ(DataTypeFromFieldType(c.ft), c.want) << int(c.ft);
  for (TFieldType ft :
       {ftUnknown, ftCursor, ftADT, ftArray, ftReference, ftDataSet, ftVariant, ftInterface, ftIDispatch, ftFMTBcd}) {
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { DataTypeFromFieldType(ft); }, &message), 30289) << int(ft);
    EXPECT_EQ(message, "Unknown DataType: '" + std::to_string(int(ft)) + "'");
  }
  // The application's own field kinds.
  EXPECT_EQ(DataTypeToStorageType(DataTypeFromFieldType(ftAutoInc)), bftInteger);
  EXPECT_EQ(DataTypeToStorageType(DataTypeFromFieldType(ftFloat)), bftDouble);
}

TEST(Types, ValueSizes) {
  struct Case {
    TABSStorageType t;
    int32_t declared, size;
  };
  const Case cases[] = {{bftChar, 10, 11},   {bftWideChar, 10, 22}, {bftString, 0, 1},   {bftWideString, 3, 8},
                        {bftShortint, 0, 1}, {bftSmallint, 0, 2},   {bftInteger, 0, 4},  {bftLargeint, 0, 8},
                        {bftByte, 0, 1},     {bftWord, 0, 2},       {bftCardinal, 0, 4}, {bftSingle, 0, 4},
                        {bftDouble, 0, 8},   {bftExtended, 0, 10},  {bftDate, 0, 4},     {bftTime, 0, 4},
                        {bftDateTime, 0, 8}, {bftBlob, 0, 10},      {bftMemo, 0, 10},    {bftWideMemo, 0, 10},
                        {bftLogical, 0, 2},  {bftCurrency, 0, 8},   {bftBytes, 16, 17},  {bftVarBytes, 16, 17}};
  for (const Case& c : cases) EXPECT_EQ(StorageTypeValueSize(c.t, c.declared), c.size) << int(c.t);
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { StorageTypeValueSize(bftUnknown, 0); }, &message), 30050);
  EXPECT_EQ(message, "Unknown DataType: 'Unknown'");
}

TEST(Types, CommonTypeIsAsymmetricAndDependsOnUse) {
  struct Case {
    TABSStorageType l, r;
    TABSCommonTypeUse use;
    TABSStorageType want;
  };
  const Case cases[] = {
      {bftShortint, bftWord, kForArithmetic, bftWord},
      {bftWord, bftShortint, kForArithmetic, bftInteger},
      {bftString, bftDate, kForArithmetic, bftString},
      {bftString, bftDate, kForComparison, bftDate},
      {bftDate, bftString, kForComparison, bftDate},
      {bftDate, bftTime, kForArithmetic, bftDateTime},
      {bftCurrency, bftSingle, kForArithmetic, bftSingle},
      {bftSingle, bftCurrency, kForArithmetic, bftCurrency},
      {bftString, bftWideMemo, kForArithmetic, bftWideString},
      {bftWideMemo, bftString, kForArithmetic, bftWideString},
      {bftMemo, bftMemo, kForComparison, bftChar},
      {bftBlob, bftBlob, kForComparison, bftUnknown},
      {bftLogical, bftDate, kForComparison, bftUnknown},
      {bftBytes, bftString, kForComparison, bftUnknown},
      {bftUnknown, bftString, kForComparison, bftUnknown},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CommonStorageType(c.l, c.r, c.use), c.want) << int(c.l) << "," << int(c.r) << " use " << int(c.use);

  EXPECT_EQ(CommonDataType(aftAutoInc, aftSmallint, kForArithmetic), aftAutoInc);  // left's storage is the result
  EXPECT_EQ(CommonDataType(aftSmallint, aftAutoInc, kForArithmetic), aftAutoInc);  // right's storage is
  EXPECT_EQ(CommonDataType(aftWord, aftShortint, kForArithmetic), aftInteger);     // neither: the result's row
}

TEST(Types, Families) {
  for (int s = 0; s <= 25; ++s) {
    auto t = static_cast<TABSStorageType>(s);
    EXPECT_EQ(IsStringStorage(t), s >= 1 && s <= 4) << s;
    EXPECT_EQ(IsNumericStorage(t), (s >= 5 && s <= 14) || s == 22) << s;
    EXPECT_EQ(IsBlobStorage(t), s >= 18 && s <= 20) << s;
    EXPECT_EQ(IsDateTimeStorage(t), s >= 15 && s <= 17) << s;
  }
  EXPECT_TRUE(IsStringDataType(aftGuid));
  EXPECT_FALSE(IsStringDataType(aftMemo));
  EXPECT_TRUE(IsAutoincDataType(aftAutoIncCardinal));
  EXPECT_FALSE(IsAutoincDataType(aftSingle));
}

TEST(Types, DayNumbersAndDateTimes) {
  EXPECT_EQ(EncodeDayNumber(1899, 12, 30), 693594);
  EXPECT_EQ(EncodeDayNumber(1, 1, 1), 1);
  EXPECT_EQ(EncodeDayNumber(2024, 1, 5), 693594 + 45296);
  for (int32_t n : {1, 59, 60, 61, 693594, 730179, 3652059}) {
    int y, m, d;
    DecodeDayNumber(n, y, m, d);
    EXPECT_TRUE(IsValidDate(y, m, d)) << n;
    EXPECT_EQ(EncodeDayNumber(y, m, d), n);
  }
  EXPECT_FALSE(IsValidDate(2023, 2, 29));
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));

  EXPECT_EQ(DayNumberFromDateTime(0.0), 693594);
  EXPECT_EQ(DayNumberFromDateTime(-693593.0), 1);
  EXPECT_EQ(DateTimeFromDayNumber(693595), 1.0);
  EXPECT_EQ(MSecsFromDateTime(0.5), 43200000);
  EXPECT_EQ(MSecsFromDateTime(-1.25), 21600000);  // the time of day is the fraction's magnitude
  EXPECT_DOUBLE_EQ(DateTimeFromMSecs(21600000), 0.25);

  // 23:59:59.9996 rounds to a whole day: the pair moves to the next day.
  const TDateTime lateNight = 45296.0 + (86399999.6 / 86400000.0);
  EXPECT_EQ(MSecsFromDateTime(lateNight), 0);
  const TABSDateTimePair p = DateTimePairFromDateTime(lateNight);
  EXPECT_EQ(p.date, 693594 + 45297);
  EXPECT_EQ(p.time, 0);
  const TABSDateTimePair back = DateTimePairFromDateTime(DateTimeFromPair({693594 + 45296, 3723004}));
  EXPECT_EQ(back.date, 693594 + 45296);
  EXPECT_EQ(back.time, 3723004);
  // Before 1899-12-30 the fraction still counts forward within its day.
  const TABSDateTimePair old = DateTimePairFromDateTime(DateTimeFromPair({693592, 3600000}));
  EXPECT_EQ(old.date, 693592);
  EXPECT_EQ(old.time, 3600000);
  // Out-of-range numbers saturate instead of overflowing.
  EXPECT_EQ(DayNumberFromDateTime(1e300), INT32_MAX);
  EXPECT_EQ(DayNumberFromDateTime(NAN), INT32_MIN);
}

#include "core/ZUDTypes.h"

#include <cctype>
#include <climits>
#include <cmath>

#include "core/ZUDExcept.h"

// Row order is part of the lookups' meaning (first match wins): FLOAT comes
// twice, BLOB six times, and storage 13 is named by the FLOAT row.
const TSQLFieldType kSQLFieldTypes[kSQLFieldTypeCount] = {
    {"CHAR", aftChar, bftChar, ftFixedChar},
    {"FIXEDCHAR", aftChar, bftChar, ftFixedChar},
    {"STRING", aftString, bftString, ftString},
    {"VARCHAR", aftString, bftString, ftString},
    {"VARCHAR2", aftString, bftString, ftString},
    {"WIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"FIXEDWIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"WIDESTRING", aftWideString, bftWideString, ftWideString},
    {"WIDEVARCHAR", aftWideString, bftWideString, ftWideString},
    {"SMALLINT", aftSmallint, bftSmallint, ftSmallint},
    {"SIGNEDINT16", aftSmallint, bftSmallint, ftSmallint},
    {"SHORTINT", aftShortint, bftShortint, ftSmallint},
    {"SIGNEDINT8", aftShortint, bftShortint, ftSmallint},
    {"INTEGER", aftInteger, bftInteger, ftInteger},
    {"SIGNEDINT32", aftInteger, bftInteger, ftInteger},
    {"LARGEINT", aftLargeint, bftLargeint, ftLargeint},
    {"INT64", aftLargeint, bftLargeint, ftLargeint},
    {"SIGNEDINT64", aftLargeint, bftLargeint, ftLargeint},
    {"WORD", aftWord, bftWord, ftWord},
    {"UNSIGNEDINT16", aftWord, bftWord, ftWord},
    {"BYTE", aftByte, bftByte, ftWord},
    {"UNSIGNEDINT8", aftByte, bftByte, ftWord},
    {"CARDINAL", aftCardinal, bftCardinal, ftLargeint},
    {"UNSIGNEDINT32", aftCardinal, bftCardinal, ftLargeint},
    {"AUTOINC", aftAutoInc, bftInteger, ftAutoInc},
    {"AUTOINCSHORTINT", aftAutoIncShortint, bftShortint, ftAutoInc},
    {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSmallint, ftAutoInc},
    {"AUTOINCINTEGER", aftAutoIncInteger, bftInteger, ftAutoInc},
    {"AUTOINCLARGEINT", aftAutoIncLargeint, bftLargeint, ftLargeint},
    {"AUTOINCBYTE", aftAutoIncByte, bftByte, ftAutoInc},
    {"AUTOINCWORD", aftAutoIncWord, bftWord, ftAutoInc},
    {"AUTOINCCARDINAL", aftAutoIncCardinal, bftCardinal, ftAutoInc},
    {"FLOAT", aftDouble, bftDouble, ftFloat},
    {"FLOAT", aftDouble, bftDouble, ftBCD},
    {"SINGLE", aftSingle, bftSingle, ftFloat},
    {"DOUBLE", aftDouble, bftDouble, ftFloat},
    {"EXTENDED", aftExtended, bftExtended, ftFloat},
    {"LOGICAL", aftLogical, bftLogical, ftBoolean},
    {"BOOLEAN", aftLogical, bftLogical, ftBoolean},
    {"BOOL", aftLogical, bftLogical, ftBoolean},
    {"BIT", aftLogical, bftLogical, ftBoolean},
    {"CURRENCY", aftCurrency, bftCurrency, ftCurrency},
    {"MONEY", aftCurrency, bftCurrency, ftCurrency},
    {"DATE", aftDate, bftDate, ftDate},
    {"TIME", aftTime, bftTime, ftTime},
    {"DATETIME", aftDateTime, bftDateTime, ftDateTime},
    {"TIMESTAMP", aftTimeStamp, bftDateTime, ftTimeStamp},
    {"BYTES", aftBytes, bftBytes, ftBytes},
    {"VARBYTES", aftVarBytes, bftVarBytes, ftVarBytes},
    {"BLOB", aftBlob, bftBlob, ftBlob},
    {"BLOB", aftBlob, bftBlob, ftParadoxOle},
    {"BLOB", aftBlob, bftBlob, ftTypedBinary},
    {"BLOB", aftBlob, bftBlob, ftDBaseOle},
    {"BLOB", aftBlob, bftBlob, ftOraBlob},
    {"BLOB", aftBlob, bftBlob, ftOraClob},
    {"GRAPHIC", aftGraphic, bftBlob, ftGraphic},
    {"MEMO", aftMemo, bftMemo, ftMemo},
    {"CLOB", aftMemo, bftMemo, ftMemo},
    {"FORMATTEDMEMO", aftFormattedMemo, bftMemo, ftFmtMemo},
    {"WIDEMEMO", aftWideMemo, bftWideMemo, ftBlob},
    {"WIDECLOB", aftWideMemo, bftWideMemo, ftBlob},
    {"GUID", aftGuid, bftChar, ftGuid},
};

namespace {

// Rows: left storage type; columns: right storage type; 0 = incompatible.
const uint8_t kCommonArith[25][25] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 2, 1, 1, 0, 0},
    {0, 2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 2, 2, 2, 2, 0, 0},
    {0, 3, 2, 3, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 3, 4, 3, 3, 0, 0},
    {0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 4, 4, 4, 4, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 5, 22, 0, 0},
    {0, 1, 2, 3, 4, 6, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 6, 22, 0, 0},
    {0, 1, 2, 3, 4, 7, 7, 7, 8, 7, 7, 8, 12, 13, 14, 15, 16, 17, 0, 0, 0, 7, 22, 0, 0},
    {0, 1, 2, 3, 4, 8, 8, 8, 8, 8, 8, 8, 12, 13, 14, 15, 16, 17, 0, 0, 0, 8, 22, 0, 0},
    {0, 1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 9, 22, 0, 0},
    {0, 1, 2, 3, 4, 7, 7, 7, 8, 10, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 10, 22, 0, 0},
    {0, 1, 2, 3, 4, 8, 8, 8, 8, 11, 11, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 11, 22, 0, 0},
    {0, 1, 2, 3, 4, 12, 12, 12, 12, 12, 12, 12, 12, 13, 14, 15, 16, 17, 0, 0, 0, 12, 22, 0, 0},
    {0, 1, 2, 3, 4, 13, 13, 13, 13, 13, 13, 13, 13, 13, 14, 15, 16, 17, 0, 0, 0, 13, 22, 0, 0},
    {0, 1, 2, 3, 4, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 15, 16, 17, 0, 0, 0, 14, 22, 0, 0},
    {0, 1, 2, 3, 4, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 17, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0},
    {0, 2, 2, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 0, 0, 0, 0, 0, 21, 0, 0, 0},
    {0, 1, 2, 3, 4, 22, 22, 22, 22, 22, 22, 22, 12, 13, 14, 0, 0, 0, 0, 0, 0, 0, 22, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};
const uint8_t kCommonCompare[25][25] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 15, 16, 17, 0, 1, 2, 1, 1, 0, 0},
    {0, 2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 15, 16, 17, 0, 2, 2, 2, 2, 0, 0},
    {0, 3, 2, 3, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 15, 16, 17, 0, 3, 4, 3, 3, 0, 0},
    {0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 15, 16, 17, 0, 4, 4, 4, 4, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 5, 22, 0, 0},
    {0, 1, 2, 3, 4, 6, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 6, 22, 0, 0},
    {0, 1, 2, 3, 4, 7, 7, 7, 8, 7, 7, 8, 12, 13, 14, 15, 16, 17, 0, 0, 0, 7, 22, 0, 0},
    {0, 1, 2, 3, 4, 8, 8, 8, 8, 8, 8, 8, 12, 13, 14, 15, 16, 17, 0, 0, 0, 8, 22, 0, 0},
    {0, 1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 9, 22, 0, 0},
    {0, 1, 2, 3, 4, 7, 7, 7, 8, 10, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 10, 22, 0, 0},
    {0, 1, 2, 3, 4, 8, 8, 8, 8, 11, 11, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0, 11, 22, 0, 0},
    {0, 1, 2, 3, 4, 12, 12, 12, 12, 12, 12, 12, 12, 13, 14, 15, 16, 17, 0, 0, 0, 12, 22, 0, 0},
    {0, 1, 2, 3, 4, 13, 13, 13, 13, 13, 13, 13, 13, 13, 14, 15, 16, 17, 0, 0, 0, 13, 22, 0, 0},
    {0, 1, 2, 3, 4, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 15, 16, 17, 0, 0, 0, 14, 22, 0, 0},
    {0, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 17, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0},
    {0, 2, 2, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 0, 0, 0, 0, 0, 21, 0, 0, 0},
    {0, 1, 2, 3, 4, 22, 22, 22, 22, 22, 22, 22, 12, 13, 14, 0, 0, 0, 0, 0, 0, 0, 22, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

const TSQLFieldType* FindRow(bool (*match)(const TSQLFieldType&, int), int key) {
  for (const TSQLFieldType& row : kSQLFieldTypes)
    if (match(row, key)) return &row;
  return nullptr;
}

}  // namespace

int32_t StorageTypeValueSize(TABSStorageType type, int32_t size) {
  switch (type) {
    case bftChar:
    case bftString:
    case bftBytes:
    case bftVarBytes: return size + 1;
    case bftWideChar:
    case bftWideString: return (size + 1) * 2;
    case bftShortint:
    case bftByte: return 1;
    case bftSmallint:
    case bftWord:
    case bftLogical: return 2;
    case bftInteger:
    case bftCardinal:
    case bftSingle:
    case bftDate:
    case bftTime: return 4;
    case bftLargeint:
    case bftDouble:
    case bftDateTime:
    case bftCurrency: return 8;
    case bftExtended:
    case bftBlob:
    case bftMemo:
    case bftWideMemo: return 10;
    default: throw EABSException(30050, "Unknown DataType: '%s'", {StorageTypeName(type)});
  }
}

TABSStorageType DataTypeToStorageType(TABSDataType type) {
  const TSQLFieldType* row = FindRow([](const TSQLFieldType& r, int k) { return r.dataType == k; }, type);
  return row ? row->storageType : bftUnknown;
}

TABSDataType StorageTypeToDataType(TABSStorageType type) {
  const TSQLFieldType* row = FindRow([](const TSQLFieldType& r, int k) { return r.storageType == k; }, type);
  return row ? row->dataType : aftUnknown;
}

TFieldType DataTypeToFieldType(TABSDataType type) {
  const TSQLFieldType* row = FindRow([](const TSQLFieldType& r, int k) { return r.dataType == k; }, type);
  return row ? row->fieldType : ftUnknown;
}

TABSDataType DataTypeFromFieldType(TFieldType type) {
  const TSQLFieldType* row = FindRow([](const TSQLFieldType& r, int k) { return r.fieldType == k; }, type);
  if (!row) throw EABSException(30289, "Unknown DataType: '%s'", {std::to_string(static_cast<int>(type))});
  return row->dataType;
}

TABSDataType DataTypeFromName(const std::string& name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const TSQLFieldType& row : kSQLFieldTypes)
    if (upper == row.name) return row.dataType;
  return aftUnknown;
}

std::string DataTypeName(TABSDataType type) {
  const TSQLFieldType* row = FindRow([](const TSQLFieldType& r, int k) { return r.dataType == k; }, type);
  return row ? row->name : "Unknown";
}

std::string StorageTypeName(TABSStorageType type) {
  const TSQLFieldType* row = FindRow([](const TSQLFieldType& r, int k) { return r.storageType == k; }, type);
  return row ? row->name : "Unknown";
}

bool IsStringStorage(TABSStorageType s) { return s >= 1 && s <= 4; }
bool IsWideStringStorage(TABSStorageType s) { return s == 2 || s == 4; }
bool IsBlobStorage(TABSStorageType s) { return s >= 18 && s <= 20; }
bool IsNumericStorage(TABSStorageType s) { return (s >= 5 && s <= 14) || s == 22; }
bool IsDateTimeStorage(TABSStorageType s) { return s >= 15 && s <= 17; }
bool IsIntegerStorage(TABSStorageType s) { return s >= 5 && s <= 11; }
bool IsFloatStorage(TABSStorageType s) { return (s >= 12 && s <= 14) || s == 22; }
bool IsStringDataType(TABSDataType d) { return (d >= 1 && d <= 4) || d == 36; }
bool IsWideStringDataType(TABSDataType d) { return d == 3 || d == 4; }
bool IsByteStringDataType(TABSDataType d) { return d == 29 || d == 30; }
bool IsAutoincDataType(TABSDataType d) { return d >= 12 && d <= 19; }
bool IsBlobDataType(TABSDataType d) { return d >= 31 && d <= 35; }

TABSStorageType CommonStorageType(TABSStorageType left, TABSStorageType right, TABSCommonTypeUse use) {
  if (left < 1 || left > kStorageTypeCount || right < 1 || right > kStorageTypeCount) return bftUnknown;
  const uint8_t r = use == kForArithmetic ? kCommonArith[left][right] : kCommonCompare[left][right];
  return static_cast<TABSStorageType>(r);
}

TABSDataType CommonDataType(TABSDataType left, TABSDataType right, TABSCommonTypeUse use) {
  const TABSStorageType ls = DataTypeToStorageType(left);
  const TABSStorageType rs = DataTypeToStorageType(right);
  const TABSStorageType common = CommonStorageType(ls, rs, use);
  if (common == bftUnknown) return aftUnknown;
  if (ls == common) return left;
  if (rs == common) return right;
  return StorageTypeToDataType(common);
}

// Out-of-range inputs saturate instead of overflowing; callers that take
// user values check the range and raise their own error first.
int32_t DayNumberFromDateTime(TDateTime x) {
  const double days = std::trunc(x) + kDateDelta;
  if (!(days > INT32_MIN)) return INT32_MIN;
  if (!(days < INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(days);
}

TDateTime DateTimeFromDayNumber(int32_t dayNumber) { return static_cast<TDateTime>(dayNumber) - kDateDelta; }

namespace {
// Milliseconds of the time of day, before any wrap: 0..86400000.
int32_t RoundedMSecs(TDateTime x) {
  double whole;
  const double frac = std::fabs(std::modf(x, &whole));
  if (!(frac >= 0 && frac < 1)) return 0;
  return static_cast<int32_t>(std::llround(frac * kMSecsPerDay));
}
}  // namespace

int32_t MSecsFromDateTime(TDateTime x) {
  const int32_t ms = RoundedMSecs(x);
  return ms >= kMSecsPerDay ? 0 : ms;
}

TDateTime DateTimeFromMSecs(int32_t msecs) {
  double whole;
  return std::modf(static_cast<double>(msecs) / kMSecsPerDay, &whole);
}

TABSDateTimePair DateTimePairFromDateTime(TDateTime x) {
  TABSDateTimePair pair{DayNumberFromDateTime(x), RoundedMSecs(x)};
  if (pair.time >= kMSecsPerDay) {
    pair.time = 0;
    pair.date += 1;
  }
  return pair;
}

TDateTime DateTimeFromPair(const TABSDateTimePair& pair) {
  const double days = DateTimeFromDayNumber(pair.date);
  const double frac = static_cast<double>(pair.time) / kMSecsPerDay;
  return days >= 0 ? days + frac : days - frac;
}

namespace {
// Day number of 1970-01-01; the civil-day arithmetic below counts from it.
constexpr int64_t kUnixEpochDayNumber = 719163;

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
}  // namespace

bool IsValidDate(int year, int month, int day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int32_t EncodeDayNumber(int year, int month, int day) {
  return static_cast<int32_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                              kUnixEpochDayNumber);
}

void DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
  int64_t z = static_cast<int64_t>(dayNumber) - kUnixEpochDayNumber + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

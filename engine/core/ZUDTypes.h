// ZUDTypes: the data types and storage types of the engine, the name table
// behind them, their value sizes and families, the common type of two
// storage types, and the date and time conversions.
//
// Contract
//  1. A column is declared with a data type (TABSDataType, codes 1..36) and
//     stored as a storage type (TABSStorageType, codes 1..24). Both are
//     one-byte codes frozen on disk; 0 means unknown or none in both.
//  2. Every lookup scans kSQLFieldTypes in its fixed order and takes the
//     first matching row; a lookup that finds no row gives 0 (or "Unknown"
//     for a name), except DataTypeFromFieldType, which raises 30289.
//  3. Value sizes: strings Size + 1 (wide: (Size + 1) * 2), BLOB
//     references 10 bytes in a memory record buffer, fixed sizes for the
//     rest. Any other storage code raises 30050.
//  4. The common-type table is not symmetric: the left operand's type is
//     always the row. Flag kForArithmetic (0) gives the result type of
//     arithmetic, kForComparison (1) the type two values are compared in.
//  5. A DATE is a signed 32-bit day number: whole days since 1899-12-30
//     plus 693594, so 0001-01-01 is 1. A TIME is signed 32-bit
//     milliseconds since midnight, always in 0..86399999. A DATETIME is a
//     date followed by a time. A date-time number (TDateTime) counts days
//     since 1899-12-30 in its integer part and the time of day in the
//     absolute value of its fraction.
//  6. A time of day that rounds up to 86400000 ms carries into the next
//     day in a DATETIME; a TIME alone wraps to midnight.
//
// Thread use: pure functions and constant tables, callable from any thread.
#pragma once

#include <cstdint>
#include <string>

// Data types: what SQL and the field definitions name.
enum TABSDataType : uint8_t {
  aftUnknown = 0,
  aftChar = 1,
  aftString = 2,
  aftWideChar = 3,
  aftWideString = 4,
  aftShortint = 5,
  aftSmallint = 6,
  aftInteger = 7,
  aftLargeint = 8,
  aftByte = 9,
  aftWord = 10,
  aftCardinal = 11,
  aftAutoInc = 12,
  aftAutoIncShortint = 13,
  aftAutoIncSmallint = 14,
  aftAutoIncInteger = 15,
  aftAutoIncLargeint = 16,
  aftAutoIncByte = 17,
  aftAutoIncWord = 18,
  aftAutoIncCardinal = 19,
  aftSingle = 20,
  aftDouble = 21,
  aftExtended = 22,
  aftLogical = 23,
  aftCurrency = 24,
  aftDate = 25,
  aftTime = 26,
  aftDateTime = 27,
  aftTimeStamp = 28,
  aftBytes = 29,
  aftVarBytes = 30,
  aftBlob = 31,
  aftGraphic = 32,
  aftMemo = 33,
  aftFormattedMemo = 34,
  aftWideMemo = 35,
  aftGuid = 36,
};

// Storage types: what record buffers, keys and TABSVariant hold.
enum TABSStorageType : uint8_t {
  bftUnknown = 0,
  bftChar = 1,        // fixed 8-bit string, zero-terminated, Size + 1 bytes
  bftWideChar = 2,    // fixed UTF-16 string, zero-terminated, (Size + 1) * 2 bytes
  bftString = 3,      // 8-bit string
  bftWideString = 4,  // UTF-16 string
  bftShortint = 5,    // signed 8-bit
  bftSmallint = 6,    // signed 16-bit little-endian
  bftInteger = 7,     // signed 32-bit
  bftLargeint = 8,    // signed 64-bit
  bftByte = 9,        // unsigned 8-bit
  bftWord = 10,       // unsigned 16-bit
  bftCardinal = 11,   // unsigned 32-bit
  bftSingle = 12,     // IEEE-754 binary32
  bftDouble = 13,     // IEEE-754 binary64
  bftExtended = 14,   // x87 80-bit extended, 10 bytes
  bftDate = 15,       // signed 32-bit day number
  bftTime = 16,       // signed 32-bit milliseconds since midnight
  bftDateTime = 17,   // date (4 bytes) then time (4 bytes)
  bftBlob = 18,       // BLOB reference
  bftMemo = 19,
  bftWideMemo = 20,
  bftLogical = 21,   // 16-bit: 0 false, other true; true written as -1
  bftCurrency = 22,  // binary64 amount in currency units
  bftBytes = 23,     // raw bytes, Size + 1
  bftVarBytes = 24,  // raw bytes, Size + 1
};
constexpr int kStorageTypeCount = 24;

// The dataset field types of the data-access layer, numbered as its
// framework numbers them.
enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
};

// One row of the name table.
struct TSQLFieldType {
  const char* name;
  TABSDataType dataType;
  TABSStorageType storageType;
  TFieldType fieldType;
};
constexpr int kSQLFieldTypeCount = 62;
extern const TSQLFieldType kSQLFieldTypes[kSQLFieldTypeCount];

// Value size of a storage type; `size` is the declared length of a string
// or byte column (ignored for the others). Raises 30050 for other codes.
int32_t StorageTypeValueSize(TABSStorageType type, int32_t size = 0);

TABSStorageType DataTypeToStorageType(TABSDataType type);
TABSDataType StorageTypeToDataType(TABSStorageType type);
TFieldType DataTypeToFieldType(TABSDataType type);
TABSDataType DataTypeFromFieldType(TFieldType type);  // raises 30289 for types no row names
TABSDataType DataTypeFromName(const std::string& name);
std::string DataTypeName(TABSDataType type);
std::string StorageTypeName(TABSStorageType type);

// Type families.
bool IsStringStorage(TABSStorageType s);      // 1..4
bool IsWideStringStorage(TABSStorageType s);  // 2, 4
bool IsBlobStorage(TABSStorageType s);        // 18..20
bool IsNumericStorage(TABSStorageType s);     // 5..14, 22
bool IsDateTimeStorage(TABSStorageType s);    // 15..17
bool IsIntegerStorage(TABSStorageType s);     // 5..11
bool IsFloatStorage(TABSStorageType s);       // 12..14, 22
bool IsStringDataType(TABSDataType d);        // 1..4, 36
bool IsWideStringDataType(TABSDataType d);    // 3, 4
bool IsByteStringDataType(TABSDataType d);    // 29, 30
bool IsAutoincDataType(TABSDataType d);       // 12..19
bool IsBlobDataType(TABSDataType d);          // 31..35

enum TABSCommonTypeUse : uint8_t { kForArithmetic = 0, kForComparison = 1 };

// The common storage type of left and right (contract 4); bftUnknown when
// the pair is incompatible.
TABSStorageType CommonStorageType(TABSStorageType left, TABSStorageType right, TABSCommonTypeUse use);
// The same for data types: the left data type if its storage type is the
// result, else the right one if its storage type is, else the data type of
// the result's first row.
TABSDataType CommonDataType(TABSDataType left, TABSDataType right, TABSCommonTypeUse use);

// Date and time (contract 5).
using TDateTime = double;
constexpr int32_t kDateDelta = 693594;  // day number of 1899-12-30
constexpr int32_t kMSecsPerDay = 86400000;

struct TABSDateTimePair {
  int32_t date;  // day number
  int32_t time;  // milliseconds, 0..86399999
};

int32_t DayNumberFromDateTime(TDateTime x);              // trunc(x) + 693594
TDateTime DateTimeFromDayNumber(int32_t dayNumber);      // dayNumber - 693594
int32_t MSecsFromDateTime(TDateTime x);                  // round(|frac(x)| * 86400000), wraps 86400000 to 0
TDateTime DateTimeFromMSecs(int32_t msecs);              // frac(msecs / 86400000)
TABSDateTimePair DateTimePairFromDateTime(TDateTime x);  // carries a rounded-up day (contract 6)
TDateTime DateTimeFromPair(const TABSDateTimePair& pair);

// Proleptic Gregorian calendar on day numbers (0001-01-01 is 1).
bool IsValidDate(int year, int month, int day);
int32_t EncodeDayNumber(int year, int month, int day);  // the date must be valid
void DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day);

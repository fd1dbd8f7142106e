// ZUDVariant: TABSVariant, one typed value of one storage type, possibly
// NULL, with conversion, NULL-aware comparison, arithmetic and a stream
// form; and the comparison of raw value buffers that keys share with it.
//
// Contract
//  1. A value has a storage type (bftUnknown until first typed), a buffer
//     from the engine memory manager, its size, a borrowed flag and a NULL
//     flag. It counts as NULL whenever its buffer is empty.
//  2. A non-NULL value of string storage (1..4) always holds a
//     zero-terminated buffer: value size = characters + 1 (wide: units + 1,
//     times 2). Assigning an empty string leaves the value NULL.
//  3. A borrowed buffer belongs to someone else and is never freed or
//     reallocated by the value; it must outlive the value's use of it.
//  4. Values of BLOB storage (18..20) hold their data bytes without a
//     terminator (WIDEMEMO: UTF-16 code units).
//  5. Conversions between types: integers are exact (a value outside the
//     target's range raises 30051, never wraps); floats truncate toward
//     zero into integers; numbers convert to DATE and TIME as their raw
//     day number and milliseconds, and to DATETIME as a day number with a
//     fraction of a day (floor semantics, so negative fractions borrow a
//     day); text is read as described in ZUDConvert.h. A failure inside a
//     conversion raises 30051, a pair without conversion 30052.
//  6. A failing operation leaves the value as it was.
//  7. Comparison codes: 0 equal, 1 left lower, 2 left greater, 3 only left
//     NULL, 4 only right NULL, 5 both NULL. Folded: 3 -> 1, 4 -> 2, 5 -> 0,
//     so NULL sorts below every value. Two integers of any signedness
//     compare by their true values.
//  8. Arithmetic results keep the common type of the operands (the
//     arithmetic column of the common-type table); a result outside that
//     type's range raises 30051 (Add, Multiply, Negate) or 30128 (Divide).
//
// Thread use: a value belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "core/ZUDStream.h"
#include "core/ZUDTypes.h"

// The OLE-variant exchange: a small variant of our own. The variant type
// numbers of the alternatives follow the OLE numbering (varEmpty 0 ...).
namespace ole {
struct Empty {  // 0
  bool operator==(const Empty&) const = default;
};
struct Null {  // 1
  bool operator==(const Null&) const = default;
};
struct Currency {  // 6
  double amount;
  bool operator==(const Currency&) const = default;
};
struct Date {  // 7
  TDateTime value;
  bool operator==(const Date&) const = default;
};
struct Custom {  // a custom variant type, taken by its text
  std::string text;
  bool operator==(const Custom&) const = default;
};
struct Other {  // any other type: dispatch, error, arrays...
  uint16_t varType;
  bool operator==(const Other&) const = default;
};
}  // namespace ole

using TABSOleVariant = std::variant<ole::Empty, ole::Null, int16_t, int32_t, float, double, ole::Currency, ole::Date,
                                    std::u16string /* OLE string */, bool, int8_t, uint8_t, uint16_t, uint32_t, int64_t,
                                    std::string /* 8-bit string */, ole::Custom, ole::Other>;
// The OLE variant type number of a value (varString 0x100 for 8-bit text).
uint16_t OleVarType(const TABSOleVariant& v);

enum TABSCompareCode : int {
  kCmpEqual = 0,
  kCmpLower = 1,
  kCmpGreater = 2,
  kCmpLeftNull = 3,
  kCmpRightNull = 4,
  kCmpBothNull = 5,
};

// Compares two raw value buffers (contract 7). Sizes may be -1 for
// zero-terminated strings; `charLimit` -1 compares whole strings. Always
// the current locale. Returns the raw code.
int CompareValueBuffers(const char* left, TABSStorageType leftType, int32_t leftSize, bool leftNull, const char* right,
                        TABSStorageType rightType, int32_t rightSize, bool rightNull, bool ignoreCase,
                        int32_t charLimit = -1);
// Folds a raw code to -1, 0 or +1.
int CompareCodeToSign(int code);

class TABSVariant {
 public:
  explicit TABSVariant(TABSStorageType type = bftUnknown);
  ~TABSVariant();
  TABSVariant(const TABSVariant&) = delete;
  TABSVariant& operator=(const TABSVariant&) = delete;
  TABSVariant(TABSVariant&& other) noexcept;
  TABSVariant& operator=(TABSVariant&& other) noexcept;

  // Frees an owned buffer, takes the type, size 0, not borrowed, NULL.
  void Clear(TABSStorageType type = bftUnknown);
  // Marks NULL; keeps buffer and type.
  void SetNull();

  bool IsNull() const { return nullFlag_ != 0 || buffer_ == nullptr; }
  TABSStorageType StorageType() const { return type_; }
  int32_t ValueSize() const { return size_; }
  const char* Buffer() const { return buffer_; }
  bool IsBorrowed() const { return borrowed_ != 0; }
  // Characters of a non-NULL string value, else -1.
  int32_t StringLength() const;

  // Takes type, size and NULL flag; copies the buffer with `copy`, else
  // shares it as borrowed.
  void Assign(const TABSVariant& source, bool copy = true);
  // Adopts raw bytes (borrowed unless copied); not NULL afterwards. String
  // bytes are expected to carry their terminator; every read of a string
  // value is bounded by its size all the same.
  void SetBuffer(const void* address, int32_t size, bool copy, TABSStorageType type);
  // Copies the value bytes; false for NULL and for an empty string.
  // Capacity -1 is unchecked; a smaller capacity raises 20056.
  bool GetBuffer(void* destination, int32_t capacity) const;

  // The core setter: converts the source into the value's own type (or
  // takes the source type when untyped). `sourceSize` -1 computes it from
  // the terminator of a string.
  void SetData(const void* source, TABSStorageType sourceType, int32_t sourceSize = -1);
  // The core getter: copies the value, converted to `wanted`, into
  // `destination` of `capacity` bytes (-1 unchecked; too small raises
  // 20056). NULL raises 30016 except that a wanted string type yields the
  // empty string. Returns the bytes written.
  int32_t GetData(void* destination, TABSStorageType wanted, int32_t capacity = -1) const;

  // Converts in place; a NULL value only changes type.
  void CastTo(TABSStorageType type);

  // Typed accessors.
  void SetAsShortint(int8_t v);
  void SetAsSmallint(int16_t v);
  void SetAsInteger(int32_t v);
  void SetAsLargeint(int64_t v);
  void SetAsByte(uint8_t v);
  void SetAsWord(uint16_t v);
  void SetAsCardinal(uint32_t v);
  void SetAsSingle(float v);
  void SetAsDouble(double v);
  void SetAsExtended(long double v);
  void SetAsLogical(bool v);
  void SetAsCurrency(double v);
  void SetAsString(const std::string& v);
  void SetAsWideString(const std::u16string& v);
  void SetAsDate(int32_t dayNumber);
  void SetAsTime(int32_t msecs);
  void SetAsDateTime(const TABSDateTimePair& v);
  void SetAsTDate(TDateTime v);
  void SetAsTTime(TDateTime v);
  void SetAsTDateTime(TDateTime v);

  int8_t AsShortint() const;
  int16_t AsSmallint() const;
  int32_t AsInteger() const;
  int64_t AsLargeint() const;
  uint8_t AsByte() const;
  uint16_t AsWord() const;
  uint32_t AsCardinal() const;
  float AsSingle() const;
  double AsDouble() const;
  long double AsExtended() const;
  bool AsLogical() const;
  double AsCurrency() const;
  std::string AsString() const;
  std::u16string AsWideString() const;
  int32_t AsDate() const;
  int32_t AsTime() const;
  TABSDateTimePair AsDateTime() const;
  TDateTime AsTDate() const;
  TDateTime AsTTime() const;
  TDateTime AsTDateTime() const;

  void SetAsVariant(const TABSOleVariant& v);
  TABSOleVariant GetAsVariant() const;

  // Contract 7; `prefix` limits the comparison to the right value's
  // length, so a left string matching the right one's start is equal.
  int Compare(const TABSVariant& other, bool rawResult = false, bool prefix = false, bool ignoreCase = false) const;

  void Negate();
  void Add(const TABSVariant& right);
  void Multiply(const TABSVariant& right);
  void Divide(const TABSVariant& right);

  // Stream form: type (1 byte), NULL flag (1 byte, 255 NULL / 0 value; any
  // non-zero byte read means NULL), then when not NULL the value size (4
  // bytes, little-endian) and the value bytes. Short transfers raise under
  // the caller's code.
  void SaveToStream(TABSStream& stream, int32_t writeErrorCode) const;
  void LoadFromStream(TABSStream& stream, int32_t readErrorCode);

 private:
  void FreeOwned() noexcept;
  // Add, Multiply or Divide ('+', '*', '/') of two non-NULL values.
  void Arithmetic(const TABSVariant& right, char op);
  // Takes ownership of a fresh manager block as the value (not NULL).
  void Adopt(char* block, int32_t size, TABSStorageType type) noexcept;

  TABSStorageType type_ = bftUnknown;
  int32_t size_ = 0;
  char* buffer_ = nullptr;
  uint8_t borrowed_ = 0;
  uint8_t nullFlag_ = 255;
};

// Comparison of raw value buffers: the one routine behind
// TABSVariant::Compare and the comparison of index keys.
#include <cmath>
#include <cstring>
#include <string>

#include "core/ZUDBytes.h"
#include "core/ZUDConvert.h"
#include "core/ZUDExcept.h"
#include "core/ZUDVariant.h"
#include "locale/Locale.h"

namespace {

int FromSign(int sign) {
  if (sign < 0) return kCmpLower;
  if (sign > 0) return kCmpGreater;
  if (sign == 0) return kCmpEqual;
  throw EABSException(30045, "Unknown return code: %d", {sign});
}

template <typename T>
int Ordered(T a, T b) {
  if (a < b) return kCmpLower;
  if (a > b) return kCmpGreater;
  return kCmpEqual;  // also NaN: neither lower nor greater
}

// The true value of an integer storage buffer.
int64_t IntegerValue(const char* p, TABSStorageType t) {
  switch (t) {
    case bftShortint: return zud::GetI8(p);
    case bftSmallint: return zud::GetI16(p);
    case bftInteger: return zud::GetI32(p);
    case bftLargeint: return zud::GetI64(p);
    case bftByte: return static_cast<unsigned char>(*p);
    case bftWord: return zud::GetU16(p);
    default: return zud::GetU32(p);  // bftCardinal
  }
}

size_t TextLength(const char* p, int32_t size) {
  return size < 0 ? std::strlen(p) : strnlen(p, static_cast<size_t>(size));
}

std::u16string WideText(const char* p, int32_t size) {
  std::u16string w;
  const size_t units = size < 0 ? SIZE_MAX : static_cast<size_t>(size) / 2;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(zud::GetU16(p + 2 * i));
    if (c == 0) break;
    w.push_back(c);
  }
  return w;
}

// Fixed-size types must have their whole value inside the given size.
bool HasRoom(TABSStorageType t, int32_t size) {
  const bool fixedSize = IsNumericStorage(t) || IsDateTimeStorage(t) || t == bftLogical;
  if (size < 0 || !fixedSize) return true;
  return size >= StorageTypeValueSize(t, 0);
}

// Both buffers are of type `t`.
int CompareSameType(const char* l, int32_t ls, const char* r, int32_t rs, TABSStorageType t, bool ignoreCase,
                    int32_t limit) {
  if (!l || !r) throw EABSException(30140, "Value is Null");
  if (!HasRoom(t, ls) || !HasRoom(t, rs))
    throw EABSException(30051, "Cannot cast from '%s' to '%s'", {StorageTypeName(t), StorageTypeName(t)});
  // The locale is fetched by the text cases alone: fetching it takes a lock,
  // and numbers, the most compared keys, need none.
  switch (t) {
    case bftChar:
    case bftString:
    case bftBytes: {
      size_t ln = t == bftBytes ? static_cast<size_t>(ls < 0 ? 0 : ls) : TextLength(l, ls);
      size_t rn = t == bftBytes ? static_cast<size_t>(rs < 0 ? 0 : rs) : TextLength(r, rs);
      if (limit >= 0) {
        ln = std::min(ln, static_cast<size_t>(limit));
        rn = std::min(rn, static_cast<size_t>(limit));
      }
      return FromSign(
          tiv::locale::CurrentLocale()->CompareAnsi(std::string_view(l, ln), std::string_view(r, rn), ignoreCase));
    }
    case bftWideChar:
    case bftWideString: {
      std::u16string a = WideText(l, ls), b = WideText(r, rs);
      if (limit >= 0) {
        a = a.substr(0, static_cast<size_t>(limit));
        b = b.substr(0, static_cast<size_t>(limit));
      }
      return FromSign(tiv::locale::CurrentLocale()->CompareWide(a, b, ignoreCase));
    }
    case bftShortint:
    case bftSmallint:
    case bftInteger:
    case bftLargeint:
    case bftByte:
    case bftWord:
    case bftCardinal: return Ordered(IntegerValue(l, t), IntegerValue(r, t));
    case bftDate:
    case bftTime: return Ordered(zud::GetI32(l), zud::GetI32(r));
    case bftDateTime: {
      const int byDate = Ordered(zud::GetI32(l), zud::GetI32(r));
      return byDate != kCmpEqual ? byDate : Ordered(zud::GetI32(l + 4), zud::GetI32(r + 4));
    }
    case bftSingle: return Ordered(zud::GetF32(l), zud::GetF32(r));
    case bftDouble:
    case bftCurrency: return Ordered(zud::GetF64(l), zud::GetF64(r));
    case bftExtended: return Ordered(zud::GetF80(l), zud::GetF80(r));
    case bftLogical: {
      const bool a = zud::GetU16(l) != 0, b = zud::GetU16(r) != 0;
      return a == b ? kCmpEqual : (a ? kCmpGreater : kCmpLower);
    }
    default: throw EABSException(30047, "Unknown DataType: '%s'", {StorageTypeName(t)});
  }
}

}  // namespace

int CompareValueBuffers(const char* left, TABSStorageType leftType, int32_t leftSize, bool leftNull, const char* right,
                        TABSStorageType rightType, int32_t rightSize, bool rightNull, bool ignoreCase,
                        int32_t charLimit) {
  leftNull = leftNull || !left;
  rightNull = rightNull || !right;
  if (leftNull && rightNull) return kCmpBothNull;
  if (leftNull) return kCmpLeftNull;
  if (rightNull) return kCmpRightNull;

  if (leftType == rightType && leftType != bftMemo && leftType != bftWideMemo)
    return CompareSameType(left, leftSize, right, rightSize, leftType, ignoreCase, charLimit);

  // Two integers compare by their true values whatever their signedness;
  // the common type would turn -1 into a large WORD.
  if (IsIntegerStorage(leftType) && IsIntegerStorage(rightType)) {
    if (!HasRoom(leftType, leftSize) || !HasRoom(rightType, rightSize))
      throw EABSException(30051, "Cannot cast from '%s' to '%s'",
                          {StorageTypeName(leftType), StorageTypeName(rightType)});
    return Ordered(IntegerValue(left, leftType), IntegerValue(right, rightType));
  }

  const TABSStorageType common = CommonStorageType(leftType, rightType, kForComparison);
  if (common == bftUnknown)
    throw EABSException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                        {StorageTypeName(leftType), StorageTypeName(rightType)});
  TABSConverted l, r;
  const char* lp = left;
  const char* rp = right;
  int32_t lsize = leftSize, rsize = rightSize;
  if (leftType != common) {
    l = ConvertValue(left, leftType, leftSize, common);
    lp = l.block.get();
    lsize = l.size;
  }
  if (rightType != common) {
    r = ConvertValue(right, rightType, rightSize, common);
    rp = r.block.get();
    rsize = r.size;
  }
  return CompareSameType(lp, lsize, rp, rsize, common, ignoreCase, charLimit);
}

int CompareCodeToSign(int code) {
  switch (code) {
    case kCmpLower:
    case kCmpLeftNull: return -1;
    case kCmpGreater:
    case kCmpRightNull: return 1;
    default: return 0;
  }
}

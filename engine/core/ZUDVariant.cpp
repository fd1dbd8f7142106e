#include "core/ZUDVariant.h"

#include <cstring>
#include <utility>

#include "core/ZUDBytes.h"
#include "core/ZUDConvert.h"
#include "core/ZUDExcept.h"
#include "locale/CodePage.h"

TABSVariant::TABSVariant(TABSStorageType type) : type_(type) {}

TABSVariant::~TABSVariant() { FreeOwned(); }

TABSVariant::TABSVariant(TABSVariant&& other) noexcept
    : type_(other.type_),
      size_(other.size_),
      buffer_(other.buffer_),
      borrowed_(other.borrowed_),
      nullFlag_(other.nullFlag_) {
  other.buffer_ = nullptr;
  other.size_ = 0;
  other.borrowed_ = 0;
  other.nullFlag_ = 255;
}

TABSVariant& TABSVariant::operator=(TABSVariant&& other) noexcept {
  if (this != &other) {
    FreeOwned();
    type_ = other.type_;
    size_ = other.size_;
    buffer_ = std::exchange(other.buffer_, nullptr);
    borrowed_ = std::exchange(other.borrowed_, 0);
    nullFlag_ = std::exchange(other.nullFlag_, 255);
    other.size_ = 0;
  }
  return *this;
}

void TABSVariant::FreeOwned() noexcept {
  if (buffer_ && !borrowed_) MemoryManager().FreeNoThrow(buffer_);
  buffer_ = nullptr;
  borrowed_ = 0;
}

void TABSVariant::Adopt(char* block, int32_t size, TABSStorageType type) noexcept {
  FreeOwned();
  buffer_ = block;
  size_ = block ? size : 0;
  type_ = type;
  borrowed_ = 0;
  nullFlag_ = block ? 0 : 255;
}

void TABSVariant::Clear(TABSStorageType type) {
  FreeOwned();
  type_ = type;
  size_ = 0;
  nullFlag_ = 255;
}

void TABSVariant::SetNull() { nullFlag_ = 255; }

int32_t TABSVariant::StringLength() const {
  if (IsNull() || !IsStringStorage(type_)) return -1;
  if (IsWideStringStorage(type_)) {
    int32_t n = 0;
    while (2 * n + 1 < size_ && zud::GetU16(buffer_ + 2 * n) != 0) ++n;
    return n;
  }
  return static_cast<int32_t>(strnlen(buffer_, static_cast<size_t>(size_)));
}

void TABSVariant::Assign(const TABSVariant& source, bool copy) {
  if (&source == this) return;
  if (source.IsNull()) {
    Clear(source.type_);
    return;
  }
  if (copy) {
    TABSConverted c = CopyValue(source.buffer_, source.size_);
    Adopt(c.block.release(), c.size, source.type_);
  } else {
    FreeOwned();
    buffer_ = source.buffer_;
    size_ = source.size_;
    type_ = source.type_;
    borrowed_ = 1;
    nullFlag_ = 0;
  }
}

void TABSVariant::SetBuffer(const void* address, int32_t size, bool copy, TABSStorageType type) {
  if (!address || size <= 0) {
    Clear(type);
    return;
  }
  if (!copy) {
    FreeOwned();
    buffer_ = static_cast<char*>(const_cast<void*>(address));
    size_ = size;
    type_ = type;
    borrowed_ = 1;
    nullFlag_ = 0;
    return;
  }
  if (buffer_ && !borrowed_ && size_ == size) {
    std::memmove(buffer_, address, static_cast<size_t>(size));
    type_ = type;
    nullFlag_ = 0;
    return;
  }
  TABSConverted c = CopyValue(static_cast<const char*>(address), size);
  Adopt(c.block.release(), c.size, type);
}

bool TABSVariant::GetBuffer(void* destination, int32_t capacity) const {
  if (IsNull() || (IsStringStorage(type_) && StringLength() <= 0)) return false;
  if (capacity != -1 && capacity < size_) throw EABSException(20056, "Buffer size exceeded");
  std::memcpy(destination, buffer_, static_cast<size_t>(size_));
  return true;
}

namespace {

// The size of a source buffer of a given type; strings up to their
// terminator.
int32_t SourceSize(const void* source, TABSStorageType type, int32_t given) {
  if (given >= 0) return given;
  if (type == bftChar || type == bftString)
    return static_cast<int32_t>(std::strlen(static_cast<const char*>(source))) + 1;
  if (type == bftWideChar || type == bftWideString) {
    const char* p = static_cast<const char*>(source);
    int32_t n = 0;
    while (zud::GetU16(p + 2 * n) != 0) ++n;
    return (n + 1) * 2;
  }
  return StorageTypeValueSize(type, 0);
}

bool IsEmptyString(const char* p, int32_t size, TABSStorageType type) {
  if (!IsStringStorage(type)) return false;
  if (IsWideStringStorage(type)) return size < 2 || zud::GetU16(p) == 0;
  return size < 1 || p[0] == 0;
}

}  // namespace

void TABSVariant::SetData(const void* source, TABSStorageType sourceType, int32_t sourceSize) {
  if (!source) {
    SetNull();
    return;
  }
  const TABSStorageType target = type_ == bftUnknown ? sourceType : type_;
  const int32_t size = SourceSize(source, sourceType, sourceSize);
  if (target == sourceType && !IsStringStorage(target) && buffer_ && !borrowed_ && size_ == size) {
    std::memcpy(buffer_, source, static_cast<size_t>(size));
    nullFlag_ = 0;
    return;
  }
  TABSConverted c = target == sourceType ? CopyValue(static_cast<const char*>(source), size)
                                         : ConvertValue(static_cast<const char*>(source), sourceType, size, target);
  if (!c.block || IsEmptyString(c.block.get(), c.size, target)) {
    Clear(target);
    return;
  }
  if (IsStringStorage(target)) {  // keep the terminator invariant for copied source bytes
    const int32_t unit = IsWideStringStorage(target) ? 2 : 1;
    if (c.size < unit || (unit == 1 ? c.block.get()[c.size - 1] != 0 : zud::GetU16(c.block.get() + c.size - 2) != 0)) {
      TABSConverted t = ConvertValue(c.block.get(), target, c.size, target == bftChar ? bftString : target);
      c = std::move(t);
    }
  }
  Adopt(c.block.release(), c.size, target);
}

int32_t TABSVariant::GetData(void* destination, TABSStorageType wanted, int32_t capacity) const {
  if (IsNull()) {
    if (IsStringStorage(wanted)) {
      const int32_t n = IsWideStringStorage(wanted) ? 2 : 1;
      if (capacity != -1 && capacity < n) throw EABSException(20056, "Buffer size exceeded");
      std::memset(destination, 0, static_cast<size_t>(n));
      return n;
    }
    throw EABSException(30016, "Value is Null");
  }
  TABSConverted converted;
  const char* bytes = buffer_;
  int32_t size = size_;
  if (wanted != type_) {
    converted = ConvertValue(buffer_, type_, size_, wanted);
    bytes = converted.block.get();
    size = converted.size;
  }
  if (capacity != -1 && capacity < size) throw EABSException(20056, "Buffer size exceeded");
  if (size > 0) std::memcpy(destination, bytes, static_cast<size_t>(size));
  return size;
}

void TABSVariant::CastTo(TABSStorageType type) {
  if (type == type_) return;
  if (IsNull()) {
    type_ = type;
    return;
  }
  if (type_ == bftMemo && (type == bftString || type == bftChar)) {
    // The memo's bytes plus one zero: a string ends at its first zero.
    TABSConverted c;
    c.block = AllocBlock(static_cast<uint64_t>(size_) + 1, true);
    std::memcpy(c.block.get(), buffer_, static_cast<size_t>(size_));
    c.size = size_ + 1;
    if (c.block.get()[0] == 0) {
      Clear(type);
      return;
    }
    Adopt(c.block.release(), c.size, type);
    return;
  }
  TABSConverted c = ConvertValue(buffer_, type_, size_, type);
  if (!c.block || IsEmptyString(c.block.get(), c.size, type)) {
    Clear(type);
    return;
  }
  Adopt(c.block.release(), c.size, type);
}

// Typed accessors.
namespace {
template <typename T>
T ReadAs(const TABSVariant& v, TABSStorageType type) {
  char buf[16] = {};
  v.GetData(buf, type, sizeof buf);
  if constexpr (sizeof(T) == 1)
    return static_cast<T>(buf[0]);
  else if constexpr (sizeof(T) == 2)
    return static_cast<T>(zud::GetU16(buf));
  else if constexpr (sizeof(T) == 4)
    return static_cast<T>(zud::GetU32(buf));
  else
    return static_cast<T>(zud::GetU64(buf));
}
}  // namespace

void TABSVariant::SetAsShortint(int8_t v) {
  char b = static_cast<char>(v);
  SetData(&b, bftShortint, 1);
}
void TABSVariant::SetAsSmallint(int16_t v) {
  char b[2];
  zud::PutU16(b, static_cast<uint16_t>(v));
  SetData(b, bftSmallint, 2);
}
void TABSVariant::SetAsInteger(int32_t v) {
  char b[4];
  zud::PutU32(b, static_cast<uint32_t>(v));
  SetData(b, bftInteger, 4);
}
void TABSVariant::SetAsLargeint(int64_t v) {
  char b[8];
  zud::PutU64(b, static_cast<uint64_t>(v));
  SetData(b, bftLargeint, 8);
}
void TABSVariant::SetAsByte(uint8_t v) {
  char b = static_cast<char>(v);
  SetData(&b, bftByte, 1);
}
void TABSVariant::SetAsWord(uint16_t v) {
  char b[2];
  zud::PutU16(b, v);
  SetData(b, bftWord, 2);
}
void TABSVariant::SetAsCardinal(uint32_t v) {
  char b[4];
  zud::PutU32(b, v);
  SetData(b, bftCardinal, 4);
}
void TABSVariant::SetAsSingle(float v) {
  char b[4];
  zud::PutF32(b, v);
  SetData(b, bftSingle, 4);
}
void TABSVariant::SetAsDouble(double v) {
  char b[8];
  zud::PutF64(b, v);
  SetData(b, bftDouble, 8);
}
void TABSVariant::SetAsExtended(long double v) {
  char b[10];
  zud::PutF80(b, v);
  SetData(b, bftExtended, 10);
}
void TABSVariant::SetAsLogical(bool v) {
  char b[2];
  zud::PutU16(b, v ? 0xFFFF : 0);
  SetData(b, bftLogical, 2);
}
void TABSVariant::SetAsCurrency(double v) {
  char b[8];
  zud::PutF64(b, v);
  SetData(b, bftCurrency, 8);
}
void TABSVariant::SetAsString(const std::string& v) {
  const std::string s(v.c_str());
  SetData(s.c_str(), bftString, static_cast<int32_t>(s.size()) + 1);
}
void TABSVariant::SetAsWideString(const std::u16string& v) {
  const std::u16string s(v.c_str());
  std::string bytes((s.size() + 1) * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) zud::PutU16(bytes.data() + 2 * i, s[i]);
  SetData(bytes.data(), bftWideString, static_cast<int32_t>(bytes.size()));
}
void TABSVariant::SetAsDate(int32_t dayNumber) {
  char b[4];
  zud::PutU32(b, static_cast<uint32_t>(dayNumber));
  SetData(b, bftDate, 4);
}
void TABSVariant::SetAsTime(int32_t msecs) {
  char b[4];
  zud::PutU32(b, static_cast<uint32_t>(msecs));
  SetData(b, bftTime, 4);
}
void TABSVariant::SetAsDateTime(const TABSDateTimePair& v) {
  char b[8];
  zud::PutU32(b, static_cast<uint32_t>(v.date));
  zud::PutU32(b + 4, static_cast<uint32_t>(v.time));
  SetData(b, bftDateTime, 8);
}
void TABSVariant::SetAsTDate(TDateTime v) { SetAsDate(DayNumberFromDateTime(v)); }
void TABSVariant::SetAsTTime(TDateTime v) { SetAsTime(MSecsFromDateTime(v)); }
void TABSVariant::SetAsTDateTime(TDateTime v) { SetAsDateTime(DateTimePairFromDateTime(v)); }

int8_t TABSVariant::AsShortint() const { return ReadAs<int8_t>(*this, bftShortint); }
int16_t TABSVariant::AsSmallint() const { return ReadAs<int16_t>(*this, bftSmallint); }
int32_t TABSVariant::AsInteger() const { return ReadAs<int32_t>(*this, bftInteger); }
int64_t TABSVariant::AsLargeint() const { return ReadAs<int64_t>(*this, bftLargeint); }
uint8_t TABSVariant::AsByte() const { return ReadAs<uint8_t>(*this, bftByte); }
uint16_t TABSVariant::AsWord() const { return ReadAs<uint16_t>(*this, bftWord); }
uint32_t TABSVariant::AsCardinal() const { return ReadAs<uint32_t>(*this, bftCardinal); }
float TABSVariant::AsSingle() const { return std::bit_cast<float>(ReadAs<uint32_t>(*this, bftSingle)); }
double TABSVariant::AsDouble() const { return std::bit_cast<double>(ReadAs<uint64_t>(*this, bftDouble)); }
long double TABSVariant::AsExtended() const {
  char buf[16] = {};
  GetData(buf, bftExtended, sizeof buf);
  return zud::GetF80(buf);
}
bool TABSVariant::AsLogical() const { return ReadAs<uint16_t>(*this, bftLogical) != 0; }
double TABSVariant::AsCurrency() const { return std::bit_cast<double>(ReadAs<uint64_t>(*this, bftCurrency)); }
int32_t TABSVariant::AsDate() const { return ReadAs<int32_t>(*this, bftDate); }
int32_t TABSVariant::AsTime() const { return ReadAs<int32_t>(*this, bftTime); }
TABSDateTimePair TABSVariant::AsDateTime() const {
  char buf[8] = {};
  GetData(buf, bftDateTime, sizeof buf);
  return {zud::GetI32(buf), zud::GetI32(buf + 4)};
}
TDateTime TABSVariant::AsTDate() const { return DateTimeFromDayNumber(AsDate()); }
TDateTime TABSVariant::AsTTime() const { return DateTimeFromMSecs(AsTime()); }
TDateTime TABSVariant::AsTDateTime() const { return DateTimeFromPair(AsDateTime()); }

std::string TABSVariant::AsString() const {
  if (IsNull()) return std::string();
  if (type_ == bftString || type_ == bftChar) return std::string(buffer_, strnlen(buffer_, static_cast<size_t>(size_)));
  TABSConverted c = ConvertValue(buffer_, type_, size_, bftString);
  return c.block ? std::string(c.block.get()) : std::string();
}

std::u16string TABSVariant::AsWideString() const {
  if (IsNull()) return std::u16string();
  const char* p = buffer_;
  int32_t size = size_;
  TABSConverted c;
  if (type_ != bftWideString && type_ != bftWideChar) {
    c = ConvertValue(buffer_, type_, size_, bftWideString);
    p = c.block.get();
    size = c.size;
  }
  std::u16string out;
  for (int32_t i = 0; i + 1 < size; i += 2) {
    const char16_t ch = static_cast<char16_t>(zud::GetU16(p + i));
    if (ch == 0) break;
    out.push_back(ch);
  }
  return out;
}

int TABSVariant::Compare(const TABSVariant& other, bool rawResult, bool prefix, bool ignoreCase) const {
  const int32_t limit = prefix ? other.StringLength() : -1;
  const int code = CompareValueBuffers(buffer_, type_, size_, IsNull(), other.buffer_, other.type_, other.size_,
                                       other.IsNull(), ignoreCase, limit);
  if (rawResult) return code;
  switch (code) {
    case kCmpLeftNull: return kCmpLower;
    case kCmpRightNull: return kCmpGreater;
    case kCmpBothNull: return kCmpEqual;
    default: return code;
  }
}

void TABSVariant::SaveToStream(TABSStream& stream, int32_t writeErrorCode) const {
  unsigned char head[2] = {type_, static_cast<unsigned char>(IsNull() ? 255 : 0)};
  WriteStreamExact(stream, head, 2, writeErrorCode);
  if (IsNull()) return;
  char size[4];
  zud::PutU32(size, static_cast<uint32_t>(size_));
  WriteStreamExact(stream, size, 4, writeErrorCode);
  WriteStreamExact(stream, buffer_, size_, writeErrorCode);
}

void TABSVariant::LoadFromStream(TABSStream& stream, int32_t readErrorCode) {
  unsigned char head[2];
  ReadStreamExact(stream, head, 2, readErrorCode);
  const auto type = static_cast<TABSStorageType>(head[0]);
  if (type > kStorageTypeCount) throw EABSException(30050, "Unknown DataType: '%s'", {StorageTypeName(type)});
  if (head[1] != 0) {
    Clear(type);
    return;
  }
  char sizeBytes[4];
  ReadStreamExact(stream, sizeBytes, 4, readErrorCode);
  const int32_t size = zud::GetI32(sizeBytes);
  const int64_t left = stream.Size() - stream.Position();
  // A size the stream cannot hold is a short read, whatever it claims.
  if (size <= 0 || size > left) RaiseShortRead(stream, size, size <= 0 ? 0 : left, readErrorCode);
  // A fixed-size value must hold its whole type: arithmetic, negation and
  // the typed accessors read the type's full width from the buffer.
  const bool fixedSize = IsNumericStorage(type) || IsDateTimeStorage(type) || type == bftLogical;
  if (fixedSize && size < StorageTypeValueSize(type, 0))
    RaiseShortRead(stream, StorageTypeValueSize(type, 0), size, readErrorCode);
  TABSMemBlock block = AllocBlock(static_cast<uint64_t>(size));
  ReadStreamExact(stream, block.get(), size, readErrorCode);
  if (IsStringStorage(type)) {
    // The terminator invariant holds for stored strings too.
    const bool wide = IsWideStringStorage(type);
    const bool terminated =
        wide ? size >= 2 && size % 2 == 0 && zud::GetU16(block.get() + size - 2) == 0 : block.get()[size - 1] == 0;
    if (!terminated) RaiseShortRead(stream, size + (wide ? 2 : 1), size, readErrorCode);
  }
  Adopt(block.release(), size, type);
}

#include "core/ZUDFieldDefs.h"

#include "core/ZUDExcept.h"

using namespace zud::defio;

namespace {
// Native error codes of the stream sites of a field definition.
constexpr int32_t kWriteStorage = 10354, kWriteDataType = 10355, kWriteSize = 10356, kWriteAlgorithm = 10357,
                  kWriteMode = 10362, kWriteBlockSize = 10363, kWriteIncrement = 10364, kWriteInitial = 10365,
                  kWriteMin = 10366, kWriteMax = 10367, kWriteCycled = 10368, kWriteDefault = 10398;
constexpr int32_t kReadStorage = 10358, kReadDataType = 10359, kReadSize = 10360, kReadAlgorithm = 10361,
                  kReadMode = 10369, kReadBlockSize = 10370, kReadIncrement = 10371, kReadInitial = 10372,
                  kReadMin = 10373, kReadMax = 10374, kReadCycled = 10375, kReadDefault = 10401;

TABSDefaultExpressionParser& Parser() {
  static TABSDefaultExpressionParser parser;
  return parser;
}

bool HasDeclaredSize(TABSDataType type) { return IsStringDataType(type) || IsByteStringDataType(type); }

std::string TypeText(TABSDataType type, int32_t size) {
  const std::string name = DataTypeName(type);
  if (name == "Unknown") return std::to_string(static_cast<int>(type));
  return HasDeclaredSize(type) || size != 0 ? name + "(" + std::to_string(size) + ")" : name;
}
}  // namespace

void SetDefaultExpressionParser(TABSDefaultExpressionParser parser) { Parser() = std::move(parser); }

// ---- TABSFieldDef -----------------------------------------------------------

void TABSFieldDef::RaiseNameTooLong(const std::string& name) const {
  throw EABSException(30453, "Cannot create table '%s' with field: %s %s(%d)",
                      {"", name, DataTypeName(dataType_), size_});
}

void TABSFieldDef::Validate(TABSDataType type, int32_t size) {
  if (DataTypeToStorageType(type) == bftUnknown)
    throw EABSException(30007, "Unsupported data type '%s'", {TypeText(type, size)});
  const bool sized = HasDeclaredSize(type);
  if (size < 0 || size > kMaxDeclaredSize || (!sized && size != 0))
    throw EABSException(30007, "Unsupported data type '%s'", {TypeText(type, size)});
}

void TABSFieldDef::SetDataType(TABSDataType type, int32_t size) {
  Validate(type, size);
  dataType_ = type;
  size_ = size;
  storageType_ = DataTypeToStorageType(type);
  // GUID columns hold the 38-character text form.
  const int32_t valueSize = StorageTypeValueSize(storageType_, type == aftGuid && size == 0 ? 38 : size);
  memorySize_ = valueSize;
  storedSize_ = IsBlobStorage(storageType_) ? kBlobStoredSize : valueSize;
}

void TABSFieldDef::SetDefaultValue(const TABSVariant& value) {
  defaultValue_.Assign(value, true);
  RebuildDefaultExpression();
}

std::unique_ptr<TABSDefaultExpression> TABSFieldDef::ExpressionFor(const TABSVariant& value) {
  if (value.IsNull() || !IsStringStorage(value.StorageType()) || !Parser()) return nullptr;
  return Parser()(value);
}

void TABSFieldDef::RebuildDefaultExpression() {
  defaultExpression_.reset();
  defaultExpression_ = ExpressionFor(defaultValue_);
}

void TABSFieldDef::SetBlobSettings(int algorithm, uint8_t mode, int32_t blockSize) {
  compressionAlgorithm_ = algorithm >= 1 && algorithm <= 3 ? static_cast<uint8_t>(algorithm) : 0;
  compressionMode_ = mode;
  blobBlockSize_ = blockSize <= 0 ? kDefaultBlobBlockSize : blockSize;
}

void TABSFieldDef::SetAutoincSettings(int64_t increment, int64_t initial, int64_t minValue, int64_t maxValue,
                                      bool cycled) {
  increment_ = increment;
  initialValue_ = initial;
  minValue_ = minValue;
  maxValue_ = maxValue;
  cycled_ = cycled ? 1 : 0;
}

void TABSFieldDef::Assign(const TABSMetaObjectDef& source) {
  const auto& f = dynamic_cast<const TABSFieldDef&>(source);
  // ZUDMetaObjectDef.h contract 6: the default and its expression are built
  // aside first (the parser may refuse it); what follows cannot fail.
  TABSVariant value;
  value.Assign(f.defaultValue_, true);
  std::unique_ptr<TABSDefaultExpression> expression = ExpressionFor(value);
  TABSMetaObjectDef::Assign(f);
  storageType_ = f.storageType_;
  dataType_ = f.dataType_;
  size_ = f.size_;
  storedSize_ = f.storedSize_;
  memorySize_ = f.memorySize_;
  storedOffset_ = f.storedOffset_;
  memoryOffset_ = f.memoryOffset_;
  counter_ = f.counter_;
  compressionAlgorithm_ = f.compressionAlgorithm_;
  compressionMode_ = f.compressionMode_;
  blobBlockSize_ = f.blobBlockSize_;
  increment_ = f.increment_;
  initialValue_ = f.initialValue_;
  minValue_ = f.minValue_;
  maxValue_ = f.maxValue_;
  cycled_ = f.cycled_;
  defaultValue_ = std::move(value);
  defaultExpression_ = std::move(expression);
}

void TABSFieldDef::SaveToStream(TABSStream& stream) const {
  TABSMetaObjectDef::SaveToStream(stream);
  WriteU8(stream, storageType_, kWriteStorage);
  WriteU8(stream, dataType_, kWriteDataType);
  WriteI32(stream, size_, kWriteSize);
  if (IsBlobStorage(storageType_)) {
    WriteU8(stream, compressionAlgorithm_, kWriteAlgorithm);
    WriteU8(stream, compressionMode_, kWriteMode);
    WriteI32(stream, blobBlockSize_, kWriteBlockSize);
  }
  WriteI64(stream, increment_, kWriteIncrement);
  WriteI64(stream, initialValue_, kWriteInitial);
  WriteI64(stream, minValue_, kWriteMin);
  WriteI64(stream, maxValue_, kWriteMax);
  WriteU8(stream, cycled_, kWriteCycled);
  defaultValue_.SaveToStream(stream, kWriteDefault);
}

void TABSFieldDef::LoadFromStream(TABSStream& stream) {
  TABSMetaObjectDef::LoadFromStream(stream);
  const auto storage = static_cast<TABSStorageType>(ReadU8(stream, kReadStorage));
  const auto type = static_cast<TABSDataType>(ReadU8(stream, kReadDataType));
  const int32_t size = ReadI32(stream, kReadSize);
  // Contract 3: the stored storage type must be the one the type implies.
  Validate(type, size);
  if (DataTypeToStorageType(type) != storage)
    throw EABSException(30007, "Unsupported data type '%s'", {TypeText(type, size)});
  SetDataType(type, size);
  if (IsBlobStorage(storageType_)) {
    compressionAlgorithm_ = ReadU8(stream, kReadAlgorithm);
    compressionMode_ = ReadU8(stream, kReadMode);
    blobBlockSize_ = ReadI32(stream, kReadBlockSize);
    if (blobBlockSize_ <= 0) throw EABSException(10421, "BLOB block size should be > 0 for field %s", {Name()});
  }
  increment_ = ReadI64(stream, kReadIncrement);
  initialValue_ = ReadI64(stream, kReadInitial);
  minValue_ = ReadI64(stream, kReadMin);
  maxValue_ = ReadI64(stream, kReadMax);
  cycled_ = ReadU8(stream, kReadCycled) != 0 ? 1 : 0;
  defaultValue_.LoadFromStream(stream, kReadDefault);
  RebuildDefaultExpression();
}

// ---- TABSFieldDefs ----------------------------------------------------------

void TABSFieldDefs::CalculateOffsets() {
  const int64_t bitmap = NullBitmapSize();
  int64_t memory = bitmap, stored = bitmap;
  for (int i = 0; i < Count(); ++i) {
    TABSFieldDef* f = (*this)[i];
    if (memory + f->MemoryValueSize() > INT32_MAX || stored + f->StoredValueSize() > INT32_MAX)
      throw EABSException(20174,
                          "Cannot create table. Record is too large to fit in current database page. Please "
                          "increase page size of database file or decrease record size");
    f->SetOffsets(static_cast<int32_t>(stored), static_cast<int32_t>(memory));
    memory += f->MemoryValueSize();
    stored += f->StoredValueSize();
  }
  memoryRecordSize_ = static_cast<int32_t>(memory);
  storedRecordSize_ = static_cast<int32_t>(stored);
}

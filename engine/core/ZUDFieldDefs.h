// ZUDFieldDefs: the column definitions of a table and the record layout
// they determine.
//
// Stored form of one field definition (little-endian), after the base part
// of ZUDMetaObjectDef.h:
//   storage type  uint8
//   data type     uint8
//   Size          int32    declared length of string and byte types, else 0
//   -- BLOB storage (18..20) only:
//   compression algorithm uint8, compression mode uint8, block size int32
//   --
//   increment, initial value, minimum value, maximum value   int64 each
//   cycled        uint8
//   default value typed-value stream form (ZUDVariant.h)
//
// Contract
//  1. Setting the data type with Size derives the storage type from the
//     type table and recomputes both value sizes; a data type without a
//     storage type raises 30007. The memory value size is the value size of
//     the storage type (10 for BLOBs); the stored value size is 6 for BLOBs
//     and the memory size otherwise.
//  2. A declared Size is 0..kMaxDeclaredSize for string and byte types and
//     0 for every other type; anything else is refused (30007), so a record
//     layout can always be computed in 32 bits.
//  3. A definition read from a stream is validated before use: its data
//     type must exist and its storage type must be the one the type table
//     gives it, its Size must obey contract 2, a BLOB block size must be
//     positive (10421). Both value sizes are rebuilt from the type.
//  4. Layout: ceil(n / 8) bytes of null bitmap (bit i mod 8 of byte i div 8
//     set = field i NULL), then the values in field order without padding.
//     Offsets are recomputed whenever the list changes and after loading;
//     a record larger than 2^31 - 1 bytes is refused (20174).
//  5. The default expression is rebuilt whenever the default value
//     changes. Until an expression parser is installed every default is a
//     literal.
//
// Thread use: as ZUDMetaObjectDef.h.
#pragma once

#include <functional>

#include "core/ZUDMetaObjectDef.h"
#include "core/ZUDTypes.h"
#include "core/ZUDVariant.h"

constexpr int32_t kMaxDeclaredSize = 1048576;
constexpr int32_t kDefaultBlobBlockSize = 102400;
constexpr int32_t kBlobStoredSize = 6;

// A default value that is an expression (evaluated for every new record).
class TABSDefaultExpression {
 public:
  virtual ~TABSDefaultExpression() = default;
  virtual void Evaluate(TABSVariant& result) const = 0;
};

// Parses a default text; returns null when the text is not an expression
// default (see the expression layer for the rule). Installed by the
// expression layer; none installed means every default is a literal.
using TABSDefaultExpressionParser = std::function<std::unique_ptr<TABSDefaultExpression>(const TABSVariant&)>;
void SetDefaultExpressionParser(TABSDefaultExpressionParser parser);

class TABSFieldDef : public TABSMetaObjectDef {
 public:
  TABSFieldDef() = default;

  TABSStorageType StorageType() const { return storageType_; }
  TABSDataType DataType() const { return dataType_; }
  int32_t Size() const { return size_; }
  // Sets data type and Size together (contracts 1, 2).
  void SetDataType(TABSDataType type, int32_t size = 0);
  // The Size reported to the data-access layer (0 for GUID columns).
  int32_t DataAccessSize() const { return dataType_ == aftGuid ? 0 : size_; }
  int32_t StoredValueSize() const { return storedSize_; }
  int32_t MemoryValueSize() const { return memorySize_; }
  int32_t StoredOffset() const { return storedOffset_; }
  int32_t MemoryOffset() const { return memoryOffset_; }
  void SetOffsets(int32_t stored, int32_t memory) {
    storedOffset_ = stored;
    memoryOffset_ = memory;
  }
  int32_t Counter() const { return counter_; }
  void SetCounter(int32_t v) { counter_ = v; }

  const TABSVariant& DefaultValue() const { return defaultValue_; }
  void SetDefaultValue(const TABSVariant& value);
  const TABSDefaultExpression* DefaultExpression() const { return defaultExpression_.get(); }

  uint8_t BlobCompressionAlgorithm() const { return compressionAlgorithm_; }
  uint8_t BlobCompressionMode() const { return compressionMode_; }
  int32_t BlobBlockSize() const { return blobBlockSize_; }
  // Settings as the data-access layer hands them: an algorithm other than
  // 1, 2 or 3 becomes 0 (none); a block size <= 0 becomes 102400.
  void SetBlobSettings(int algorithm, uint8_t mode, int32_t blockSize);

  int64_t Increment() const { return increment_; }
  int64_t InitialValue() const { return initialValue_; }
  int64_t MinValue() const { return minValue_; }
  int64_t MaxValue() const { return maxValue_; }
  bool Cycled() const { return cycled_ != 0; }
  void SetAutoincSettings(int64_t increment, int64_t initial, int64_t minValue, int64_t maxValue, bool cycled);

  bool IsBlob() const { return IsBlobStorage(storageType_); }
  bool IsAutoinc() const { return IsAutoincDataType(dataType_); }

  void Assign(const TABSMetaObjectDef& source) override;
  void LoadFromStream(TABSStream& stream) override;
  void SaveToStream(TABSStream& stream) const override;

 protected:
  [[noreturn]] void RaiseNameTooLong(const std::string& name) const override;

 private:
  void RebuildDefaultExpression();
  // The expression of a default value, null for a literal (contract 5).
  static std::unique_ptr<TABSDefaultExpression> ExpressionFor(const TABSVariant& value);
  static void Validate(TABSDataType type, int32_t size);

  TABSStorageType storageType_ = bftUnknown;
  TABSDataType dataType_ = aftUnknown;
  int32_t size_ = 0;
  int32_t storedSize_ = 0;
  int32_t memorySize_ = 0;
  int32_t storedOffset_ = 0;
  int32_t memoryOffset_ = 0;
  int32_t counter_ = 0;
  TABSVariant defaultValue_;
  std::unique_ptr<TABSDefaultExpression> defaultExpression_;
  uint8_t compressionAlgorithm_ = 0;
  uint8_t compressionMode_ = 0;
  int32_t blobBlockSize_ = kDefaultBlobBlockSize;
  int64_t increment_ = 1;
  int64_t initialValue_ = 0;
  int64_t minValue_ = 0;
  int64_t maxValue_ = INT64_MAX;
  uint8_t cycled_ = 0;
};

class TABSFieldDefs : public TABSMetaObjectDefs {
 public:
  TABSFieldDef* operator[](int index) const { return static_cast<TABSFieldDef*>(Get(index)); }
  TABSFieldDef* AddNew() { return static_cast<TABSFieldDef*>(AddCreated()); }
  TABSFieldDef* FieldByName(const std::string& name) const { return static_cast<TABSFieldDef*>(FindByName(name)); }
  TABSFieldDef* FieldByID(int32_t id) const { return static_cast<TABSFieldDef*>(FindByObjectID(id)); }

  // Contract 4.
  void CalculateOffsets();
  int32_t NullBitmapSize() const { return (Count() + 7) / 8; }
  int32_t MemoryRecordSize() const { return memoryRecordSize_; }
  int32_t StoredRecordSize() const { return storedRecordSize_; }

 protected:
  std::unique_ptr<TABSMetaObjectDef> CreateItem() const override { return std::make_unique<TABSFieldDef>(); }
  int64_t MinStoredItemSize() const override { return 5 + 6 + 33 + 2; }
  void ListChanged() override { CalculateOffsets(); }

 private:
  int32_t memoryRecordSize_ = 0;
  int32_t storedRecordSize_ = 0;
};

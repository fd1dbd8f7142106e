// ZUDConstraintDefs: the constraint definitions of a table (primary key,
// unique, not null, value range), their stored form, their automatic names
// and their resolution against the table's fields and indexes.
//
// Stored form (little-endian), after the base part of ZUDMetaObjectDef.h;
// in a collection every item is preceded by its kind byte:
//   slot identifiers     int32 x 3 (slots 1, 2, 3)
//   not null, check:     per slot: uint8 N = L + 1, then N bytes: the short
//                        string (length byte L, L bytes of text)
//   check:               minimum, maximum (typed-value stream form)
//   unique, primary key: per slot: int32 N = L + 1, then N bytes as above;
//                        column count int32; per column: field identifier
//                        int32, int32 N = L + 1, then the short string
//
// Contract
//  1. Kinds: 0 primary key, 2 unique, 3 not null, 4 check. Kind 1 does not
//     exist; any other kind read raises 30316.
//  2. Slot 2 holds the owning table's name; slot 3 names what the
//     constraint is about (the field of a not-null or check constraint, the
//     supporting index of a unique or primary-key one). Slot 1 is carried
//     and stored but never filled.
//  3. The name-slot codes of not-null and check constraints are computed:
//     slot i uses base + 2i for its count and base + 2i + 1 for its text
//     (ZUDErrorCatalogue.h).
//  4. A slot name read back must be consistent: its count N is 1..256 and
//     the inner length byte is N - 1. A column count is bounded by the
//     bytes left.
//  5. Unnamed not-null and check constraints are named "$C_NotNull$" (or
//     "$C_Check$") + table + "$" + field, cut so that it fits in 255 bytes;
//     a taken name gets a random number 0..65534 appended until it is free.
//  6. The slot names of not-null and check constraints have a one-byte
//     count of length + 1, so they hold at most 254 bytes: Resolve refuses
//     a longer one (the table's name or the field's) with "Cannot create
//     table '%s' with field: %s %s(%d)" (30453), before anything is stored;
//     writing one is a std::logic_error, never a count that wraps to 0.
//
// Thread use: as ZUDMetaObjectDef.h.
#pragma once

#include <array>
#include <functional>

#include "core/ZUDFieldDefs.h"
#include "core/ZUDIndexDefs.h"
#include "core/ZUDMetaObjectDef.h"
#include "core/ZUDVariant.h"

enum TABSConstraintType : uint8_t {
  actPrimaryKey = 0,
  actUnique = 2,
  actNotNull = 3,
  actCheck = 4,
};

// Contract 6: the longest slot name a one-byte count of length + 1 holds.
constexpr size_t kMaxByteSlotNameLength = 254;

struct TABSConstraintSlot {
  std::string name;
  int32_t id = -1;
};

struct TABSConstraintColumn {
  std::string name;
  int32_t id = -1;
};

class TABSConstraintDef : public TABSMetaObjectDef {
 public:
  explicit TABSConstraintDef(TABSConstraintType kind) : kind_(kind) {}
  TABSConstraintType Kind() const { return kind_; }
  // Slots 0..2 (stored as slots 1, 2, 3).
  std::array<TABSConstraintSlot, 3> slots;
  TABSConstraintSlot& TableSlot() { return slots[1]; }
  TABSConstraintSlot& SubjectSlot() { return slots[2]; }
  const TABSConstraintSlot& SubjectSlot() const { return slots[2]; }

  void Assign(const TABSMetaObjectDef& source) override;

 protected:
  [[noreturn]] void RaiseNameTooLong(const std::string& name) const override;

 private:
  TABSConstraintType kind_;
};

class TABSConstraintDefNotNull : public TABSConstraintDef {
 public:
  TABSConstraintDefNotNull() : TABSConstraintDef(actNotNull) {}
  void LoadFromStream(TABSStream& stream) override;
  void SaveToStream(TABSStream& stream) const override;
};

class TABSConstraintDefCheck : public TABSConstraintDef {
 public:
  TABSConstraintDefCheck() : TABSConstraintDef(actCheck) {}
  TABSVariant minValue;  // NULL = no lower bound
  TABSVariant maxValue;  // NULL = no upper bound
  void Assign(const TABSMetaObjectDef& source) override;
  void LoadFromStream(TABSStream& stream) override;
  void SaveToStream(TABSStream& stream) const override;
};

class TABSConstraintDefUnique : public TABSConstraintDef {
 public:
  TABSConstraintDefUnique() : TABSConstraintDef(actUnique) {}
  std::vector<TABSConstraintColumn> columns;
  void Assign(const TABSMetaObjectDef& source) override;
  void LoadFromStream(TABSStream& stream) override;
  void SaveToStream(TABSStream& stream) const override;

 protected:
  explicit TABSConstraintDefUnique(TABSConstraintType kind) : TABSConstraintDef(kind) {}
};

class TABSConstraintDefPrimary : public TABSConstraintDefUnique {
 public:
  TABSConstraintDefPrimary() : TABSConstraintDefUnique(actPrimaryKey) {}
};

// Creates an empty constraint of `kind`; null for a kind that does not exist.
std::unique_ptr<TABSConstraintDef> CreateConstraintDef(uint8_t kind);

class TABSConstraintDefs : public TABSMetaObjectDefs {
 public:
  TABSConstraintDef* operator[](int index) const { return static_cast<TABSConstraintDef*>(Get(index)); }
  TABSConstraintDefNotNull* AddNewNotNull();
  TABSConstraintDefCheck* AddNewCheck();
  TABSConstraintDefPrimary* AddNewPrimary();
  TABSConstraintDefUnique* AddNewUnique();

  // Creates the matching subclass per kind (30035 for another kind).
  void Assign(const TABSMetaObjectDefs& source) override;

  // Contract 5, for every unnamed not-null and check constraint.
  void NameConstraints();
  // Refreshes identifiers from the table's definitions (30325, 30326,
  // 30331, 30332, 30027; 30037 for another kind) and refuses slot names
  // that do not fit (contract 6, 30453).
  void Resolve(const TABSFieldDefs& fields, const TABSIndexDefs& indexes);

 protected:
  std::unique_ptr<TABSMetaObjectDef> CreateItem() const override;
  int64_t MinStoredItemSize() const override { return 1 + 5 + 12 + 3; }
  std::unique_ptr<TABSMetaObjectDef> LoadItem(TABSStream& stream) override;
  void SaveItem(TABSStream& stream, const TABSMetaObjectDef& item) const override;
};

// The unique or primary-key constraint an index implies ("C_PK" or
// "C_Unique", then "$" + field name per column), or null for an index that
// is neither unique nor primary. Column identifiers come from `fields`;
// slot 3 holds the index's name and identifier.
std::unique_ptr<TABSConstraintDef> DerivedIndexConstraint(const TABSIndexDef& index, const TABSFieldDefs& fields);

// Adds the constraints the data-access layer's definitions imply: a
// not-null constraint for a required field, a check constraint for a field
// with a minimum or maximum, and the derived constraint of every unique or
// primary index. Each new constraint takes its identifier from `nextID`.
struct TABSFieldRule {
  std::string fieldName;
  bool required = false;
  const TABSVariant* minValue = nullptr;  // null or NULL = none
  const TABSVariant* maxValue = nullptr;
};
void AddDerivedConstraints(const std::vector<TABSFieldRule>& rules, const TABSFieldDefs& fields,
                           const TABSIndexDefs& indexes, TABSConstraintDefs& constraints,
                           const std::function<int32_t()>& nextID);
